// The controller library's internal kit: what every area uses, so that no area
// writes its own.
//
//   Status     The caller's controller status record is wrapped once at the C
//              edge by `StatusSlot` (the caller's, or a local one when the caller
//              passed none); internal helpers take a non-null `KELVAStatus *status`
//              and report with `setKELVAStatus` or `fail`.  `StatusRecord` is a
//              local record.  (edge.h)
//   C edge     `cEdge` / `cEdgeVoid` run an exported function's body and turn an
//              escaping C++ exception (out of memory, a system error from a mutex,
//              anything) into the function's failure result, with the reason in
//              the status where the function has one: no exception crosses the C
//              boundary.  (edge.h)
//   Hosts      `lowerAscii`, `portFor` (the default port of a transport) and
//              `hostKey` ("host:port", host lower-cased): how a filer's address is
//              compared everywhere.
//   Texts      `newText`, `newTextOrNull`: copies into the library's memory
//              (wsistrdup), freed with wsifree.
//   Requests   `Request` builds a request with parameters; `Session` opens a
//              connection from a filer record (or borrows a caller's), sends
//              requests, reads their answers and frees everything.
//   Answers    `filerAway`, `libraryFailure`: what a failed answer means;
//              `freeWithTexts` frees a record with its texts.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "edge.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace wsi {

// ---- Hosts and texts ------------------------------------------------------------------

// The text with ASCII capitals made small.
std::string lowerAscii(std::string_view text);
// The TCP port a connection uses: port, or the transport's default when port is 0.
int portFor(int transport, int port);
// "host:port" with the host lower-cased and the port as portFor picks it: how
// connections, cache entries and remembered failures name a filer's address.
std::string hostKey(std::string_view host, int transport, int port);

// A copy of the text in the library's memory (free with wsifree); NULL when out of memory.
char *newText(const std::string &text);
// The same for a C text; NULL for NULL.
char *newTextOrNull(const char *text);

// ---- Requests -------------------------------------------------------------------------

struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
struct ServerFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
using Element = std::unique_ptr<WSIElement, ElementFree>;
using Server = std::unique_ptr<WSIServerInfo, ServerFree>;

// A request being built: the API name and its parameters in order.  A parameter
// that cannot be added (no memory, a bad name) spoils the request; sending a
// spoilt request fails with the reason.
class Request {
 public:
  explicit Request(const char *api, const char *file = __builtin_FILE(),
                   int line = __builtin_LINE());
  Request &add(const char *name, const std::string &value);
  Request &add(const char *name, const char *value);
  Request &add(const char *name, long long value);
  Request &add(const char *name, int value) { return add(name, static_cast<long long>(value)); }
  Request &addBool(const char *name, bool value);
  // Appends a child request element (built with its own Request), taking it over.
  Request &add(Request &&child);

  const char *api() const { return api_; }
  // The element, or NULL when building it failed (why() says why).
  WSIElement *element() const { return ok_ ? element_.get() : nullptr; }
  const std::string &why() const { return why_; }
  const char *file() const { return file_; }
  int line() const { return line_; }

 private:
  void spoil(const std::string &reason);
  const char *api_;
  const char *file_;
  int line_;
  Element element_;
  bool ok_;
  std::string why_;
};

// The file and line defaults of Request and Session are their callers' places,
// which the library's diagnostics name.

// Requests to one filer over one connection: made from a filer record (and
// destroyed with the session) or borrowed from a caller.
class Session {
 public:
  // Opens a connection from the record; test with ok() (the status says why not).
  Session(const Filer *filer, KELVAStatus *status, const char *file = __builtin_FILE(),
          int line = __builtin_LINE());
  // Uses the caller's connection, which stays the caller's.
  explicit Session(WSIServerInfo *borrowed) : server_(borrowed) {}
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  Session(Session &&) = delete;
  Session &operator=(Session &&) = delete;
  ~Session() = default;

  bool ok() const { return server_ != nullptr; }
  WSIServerInfo *server() const { return server_; }

  // Sends the request; the answer, passed or failed.  NULL only when the request
  // could not be built or memory ran out, with the status set.
  Element send(const Request &request, KELVAStatus *status) const;
  // Sends the request; the passed answer, or NULL with the status set to the
  // filer's failure text (naming the filer) or the reason it was not sent.
  Element call(const Request &request, KELVAStatus *status) const;
  // The same for a request without parameters.
  Element send(const char *api, KELVAStatus *status, const char *file = __builtin_FILE(),
               int line = __builtin_LINE()) const {
    return send(Request(api, file, line), status);
  }
  Element call(const char *api, KELVAStatus *status, const char *file = __builtin_FILE(),
               int line = __builtin_LINE()) const {
    return call(Request(api, file, line), status);
  }
  // Sets the status to the failure text of a failed answer, naming the filer.
  void reportFailure(const WSIElement *answer, KELVAStatus *status) const;

 private:
  Server owned_;
  WSIServerInfo *server_ = nullptr;
};

// True when a failed answer says the filer could not be reached or did not
// answer, as opposed to refusing the request or answering nonsense.
bool filerAway(const WSIElement *answer);
// True when a failed answer was made by the library itself (a WSI_ERR_... number:
// the filer away, refused credentials, an untrusted certificate, a bad answer),
// not by the filer refusing the request.
bool libraryFailure(const WSIElement *answer);

// Frees the texts a record owns, then the record.
inline void freeWithTexts(void *record, std::initializer_list<char *> texts) {
  for (char *text : texts) wsifree(text);
  wsifree(record);
}

}  // namespace wsi
