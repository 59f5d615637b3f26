// Whether the Windows test program runs under Wine, which keeps no access
// lists on files: it reports one made from the Unix mode, whatever was set.
#pragma once

#include "platform/platform.h"

namespace pktest {

inline bool underWine() {
  static const bool wine = [] {
    void *ntdll = pk::platform::libraryOpen("ntdll.dll");
    bool found = ntdll != nullptr && pk::platform::librarySymbol(ntdll, "wine_get_version");
    if (ntdll != nullptr) pk::platform::libraryClose(ntdll);
    return found;
  }();
  return wine;
}

}  // namespace pktest
