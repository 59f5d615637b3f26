// The system's own HTTP client and XML reader, for builds that use them
// instead of libraries of their own (Windows: WinHTTP and XmlLite).  Only the
// Win32 side implements these (netxml_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pk::platform {

// ---- HTTP -----------------------------------------------------------------------

enum class HttpFailure { None, Unreachable, Timeout, Dropped, Untrusted, TooLarge };

struct HttpPost {
  bool https = false;
  std::string host;  // name or address, IPv6 without brackets
  int port = 0;
  std::string path;
  std::string contentType;
  std::string userName;  // Basic authentication
  std::string password;
  int timeoutSeconds = 60;
  // HTTPS: the certificate is checked (name and trust) when verify is set.
  // caBundle, when not empty, names a PEM file whose certificates are then the
  // only trust.
  bool verify = true;
  std::string caBundle;
  std::string proxy;  // empty: no proxy at all
  size_t maxAnswerBytes = 0;
};

struct HttpAnswer {
  HttpFailure failure = HttpFailure::None;
  std::string detail;  // why, when failure is not None
  int status = 0;      // the HTTP status when failure is None
  std::string body;
};

// A client session, kept across requests so that its connection stays open.
struct HttpSession;

// Sends a POST of `body`; *session is made on first use and kept.
HttpAnswer httpPost(HttpSession **session, const HttpPost &post, const std::string &body);
// Releases a session; nullptr is ignored.
void httpClose(HttpSession *session);

// ---- XML ------------------------------------------------------------------------

// What a pull parse reports, in document order.  Texts are UTF-8.  An empty
// element reports its start and its end.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // false stops the parse (the handler keeps its reason).
  virtual bool start(const std::string &name,
                     const std::vector<std::pair<std::string, std::string>> &attributes) = 0;
  virtual bool end() = 0;
  virtual bool text(const std::string &text) = 0;
};

enum class XmlResult { Ok, Stopped, Malformed, Unavailable };

// Parses a UTF-8 document, refusing document type declarations.  Malformed:
// `why` tells what and where; Unavailable: the system has no XML reader.
XmlResult xmlParse(const std::string &document, XmlHandler &handler, std::string &why);

}  // namespace pk::platform
