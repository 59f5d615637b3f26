// Platform-neutral helpers of the seam.
#include "platform.h"

namespace pk::platform {

std::string joinPath(const std::string &dir, const std::string &name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '/' || last == pathSeparator()) return dir + name;
  return dir + pathSeparator() + name;
}

}  // namespace pk::platform
