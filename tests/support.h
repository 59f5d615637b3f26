// Small helpers shared by the tests.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>

#include <fstream>
#include <string>

namespace pktest {

// The text of a CMPI string, "" for none.
inline std::string text(const CMPIString *s) {
  if (s == nullptr) return "";
  const char *chars = s->ft->getCharPtr(s, nullptr);
  return chars != nullptr ? chars : "";
}

// Whether a library of that file name is mapped into this process.
inline bool isMapped(const std::string &fileName) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.size() > fileName.size() && line.ends_with("/" + fileName)) return true;
  }
  return false;
}

}  // namespace pktest
