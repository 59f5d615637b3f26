// How a request reaches a filer and its answer comes back: in-process filers
// registered by host (as an element tree, or as text), or HTTP(S) (as text).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "element.h"

struct WSIServerInfo {
  WSIServerInfo() = default;
  WSIServerInfo(const WSIServerInfo &) = delete;
  WSIServerInfo &operator=(const WSIServerInfo &) = delete;
  WSIServerInfo(WSIServerInfo &&) = delete;
  WSIServerInfo &operator=(WSIServerInfo &&) = delete;
  // The password is overwritten before its memory goes back to the heap.
  ~WSIServerInfo();

  std::string host;
  std::string key;  // hostKey of host and port
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

namespace wsi {

// Called after every request sent through _invokeServerElement, with the hostKey of
// the connection and the request's API name, whatever the answer.  Lets a layer
// above the transport (the filer cache) follow what is sent without the transport
// knowing it.  One observer; NULL removes it.
using SentObserver = void (*)(const std::string &hostKey, const std::string &api);
void setSentObserver(SentObserver observer);

}  // namespace wsi

namespace wsi::transport {

enum class Outcome {
  Ok,
  Unreachable,
  Timeout,
  Dropped,
  Unauthorized,
  Untrusted,
  HttpError,
  TooLarge,
  BadRequest,
  Unsupported
};

struct Result {
  Outcome outcome = Outcome::Ok;
  std::string detail;  // human-readable reason when not Ok
};

// What came back: an answer tree (in-process tree filers) or the answer's text.
struct Exchange {
  Result result;
  std::string text;
  std::unique_ptr<WSIElement> tree;
};

// Hands the request to the in-process filer of the connection's host, if one is
// registered; returns false when none is (the caller then uses HTTP).
bool postInProcess(WSIServerInfo &server, const WSIElement &request, Exchange &exchange);

// Sends body over HTTP(S) with the connection's session, filling answer.
Result postHttp(WSIServerInfo &server, const std::string &body, std::string &answer);
// Releases the connection's HTTP session, if any.
void closeHttp(WSIServerInfo &server);

}  // namespace wsi::transport
