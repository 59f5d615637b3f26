// What the registry and operations benchmarks share: filer records that never
// need a filer, and releasing a status they do not read.
#pragma once

#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include <string>

namespace bench {

// A new filer record (free it with freeFiler, or hand it to the registry).
inline Filer *newFiler(const std::string &id, const std::string &host) {
  auto *filer = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
  filer->systemId = wsistrdup(id.c_str());
  filer->host = wsistrdup(host.c_str());
  filer->userName = wsistrdup("root");
  filer->password = wsistrdup("secret");
  filer->connParam1 = 1;
  filer->connParam2 = 443;
  filer->connParam3 = 30;
  return filer;
}

inline void release(CMPIStatus status) {
  if (status.msg != nullptr) CMRelease(status.msg);
}

}  // namespace bench
