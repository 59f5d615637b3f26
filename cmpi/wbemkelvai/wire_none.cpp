// Builds without an XML library (the Windows stand-in) cannot serialise
// requests; every request becomes a failed answer saying so.
#include "element.h"
#include "wbemkelvai/wsiapi.h"

namespace wsi::wire {

const bool kAvailable = false;

bool writeRequest(const WSIElement &, std::string &, std::string &why) {
  why = "This build of the controller library has no filer transport (no XML codec)";
  return false;
}

std::unique_ptr<WSIElement> readAnswer(const std::string &) {
  return failedAnswer(WSI_ERR_NO_TRANSPORT,
                      "This build of the controller library cannot read answers");
}

}  // namespace wsi::wire
