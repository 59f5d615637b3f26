// How a serialised request reaches a filer and its answer comes back: in-process
// filers registered by host, or HTTP(S).
#pragma once

#include <mutex>
#include <string>

struct WSIServerInfo {
  std::string host;
  std::string userName;
  std::string password;
  int transport = 0;
  int port = 0;
  int timeoutSeconds = 60;
  std::string file;  // where the connection was made, for diagnostics
  int line = 0;
  std::mutex lock;              // one request at a time per connection
  void *httpSession = nullptr;  // owned by the HTTP transport
};

namespace wsi::transport {

enum class Outcome {
  Ok,
  Unreachable,
  Timeout,
  Dropped,
  Unauthorized,
  HttpError,
  TooLarge,
  Unsupported
};

struct Result {
  Outcome outcome = Outcome::Ok;
  std::string detail;  // human-readable reason when not Ok
};

// Sends body to the in-process filer of the connection's host, if one is registered;
// returns false when none is (the caller then uses HTTP).
bool postInProcess(WSIServerInfo &server, const std::string &body, std::string &answer,
                   Result &result);

// Sends body over HTTP(S) with the connection's session, filling answer.
Result postHttp(WSIServerInfo &server, const std::string &body, std::string &answer);
// Releases the connection's HTTP session, if any.
void closeHttp(WSIServerInfo &server);

}  // namespace wsi::transport
