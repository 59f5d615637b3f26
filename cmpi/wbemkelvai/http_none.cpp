// Builds without an HTTP client (the Windows stand-in): only in-process filers
// can be reached.
#include "transport.h"

namespace wsi::transport {

Result postHttp(WSIServerInfo &server, const std::string &, std::string &) {
  return {Outcome::Unsupported,
          "This build of the controller library has no HTTP transport; filer " + server.host +
              " cannot be reached"};
}

void closeHttp(WSIServerInfo &) {}

}  // namespace wsi::transport
