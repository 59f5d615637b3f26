// HTTP(S) transport through the system's HTTP client (Windows): one client
// session per connection, so that its connection stays alive across requests.
#include <string>

#include "platform/netxml.h"
#include "platform/platform.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"

namespace wsi::transport {

namespace {

// The same variables as the other transport: a PEM file of trusted certificates
// (then the only trust), and the proxy for filer requests.
constexpr const char *kCaBundleEnv = "KELVA_CA_BUNDLE";
constexpr const char *kProxyEnv = "KELVA_HTTP_PROXY";

Outcome outcomeOf(pk::platform::HttpFailure failure) {
  using pk::platform::HttpFailure;
  switch (failure) {
    case HttpFailure::Unreachable:
      return Outcome::Unreachable;
    case HttpFailure::Timeout:
      return Outcome::Timeout;
    case HttpFailure::Untrusted:
      return Outcome::Untrusted;
    case HttpFailure::TooLarge:
      return Outcome::TooLarge;
    default:
      return Outcome::Dropped;
  }
}

}  // namespace

Result postHttp(WSIServerInfo &server, const std::string &body, std::string &answer) {
  pk::platform::HttpPost post;
  post.https = server.transport != WSI_TRANSPORT_HTTP;
  post.host = server.host;
  post.port = server.port;
  post.path = "/kelva/api";
  post.contentType = "text/xml; charset=utf-8";
  post.userName = server.userName;
  post.password = server.password;
  post.timeoutSeconds = server.timeoutSeconds;
  post.verify = server.transport == WSI_TRANSPORT_HTTPS;
  post.caBundle = post.verify ? pk::platform::getEnv(kCaBundleEnv) : std::string();
  post.proxy = pk::platform::getEnv(kProxyEnv);
  post.maxAnswerBytes = WSI_MAX_ANSWER_BYTES;
  auto **session = reinterpret_cast<pk::platform::HttpSession **>(&server.httpSession);
  pk::platform::HttpAnswer got = pk::platform::httpPost(session, post, body);
  post.password.assign(post.password.size(), '\0');
  if (got.failure != pk::platform::HttpFailure::None) return {outcomeOf(got.failure), got.detail};
  if (got.status == 401) return {Outcome::Unauthorized, "401 Unauthorized"};
  if (got.status != 200) return {Outcome::HttpError, "HTTP status " + std::to_string(got.status)};
  answer = std::move(got.body);
  return {};
}

void closeHttp(WSIServerInfo &server) {
  pk::platform::httpClose(static_cast<pk::platform::HttpSession *>(server.httpSession));
  server.httpSession = nullptr;
}

}  // namespace wsi::transport
