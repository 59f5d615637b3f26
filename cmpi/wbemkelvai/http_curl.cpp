// HTTP(S) transport: one libcurl easy handle per connection, so that the
// connection's session (and its TCP/TLS connection) stays alive across requests.
#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

#include "diag.h"
#include "platform/platform.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"

namespace wsi::transport {

namespace {

struct Body {
  std::string *text;
  bool tooLarge;
};

size_t collect(char *data, size_t size, size_t count, void *context) {
  auto *body = static_cast<Body *>(context);
  size_t bytes = size * count;
  if (body->text->size() + bytes > WSI_MAX_ANSWER_BYTES) {
    body->tooLarge = true;
    return 0;  // makes libcurl stop with a write error
  }
  body->text->append(data, bytes);
  return bytes;
}

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string url(const WSIServerInfo &server) {
  bool ipv6 = server.host.find(':') != std::string::npos;
  std::string host = ipv6 ? "[" + server.host + "]" : server.host;
  return std::string(server.transport == WSI_TRANSPORT_HTTP ? "http" : "https") + "://" + host +
         ":" + std::to_string(server.port) + "/kelva/api";
}

// Trusted certificates for verified HTTPS: a PEM file named by this variable, so that
// filers with certificates of a private authority can be verified; then it is the
// only trust.  Otherwise the system's store.
constexpr const char *kCaBundleEnv = "KELVA_CA_BUNDLE";
// The proxy for filer requests.  The usual proxy variables of the environment are
// ignored: they are set for web browsing, and filers sit on the storage network.
constexpr const char *kProxyEnv = "KELVA_HTTP_PROXY";

Outcome outcomeOf(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return Outcome::Untrusted;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Outcome::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
      return Outcome::Timeout;
    default:
      return Outcome::Dropped;
  }
}

}  // namespace

Result postHttp(WSIServerInfo &server, const std::string &body, std::string &answer) {
  globalInit();
  auto *easy = static_cast<CURL *>(server.httpSession);
  if (easy == nullptr) {
    easy = curl_easy_init();
    if (easy == nullptr) return {Outcome::Unreachable, "unable to start an HTTP session"};
    server.httpSession = easy;
  } else {
    curl_easy_reset(easy);  // keeps the live connection, forgets the last request's options
  }
  Body sink{&answer, false};
  char error[CURL_ERROR_SIZE] = {0};
  std::string target = url(server);
  std::unique_ptr<curl_slist, void (*)(curl_slist *)> headerList(
      curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8"), curl_slist_free_all);
  curl_slist *headers = headerList.get();
  // Appending keeps the head; a failed append leaves the list as it was.
  if (headers != nullptr) (void)curl_slist_append(headers, "Expect:");
  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
  curl_easy_setopt(easy, CURLOPT_USERNAME, server.userName.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, server.password.c_str());
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(server.timeoutSeconds) * 1000L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(server.timeoutSeconds) * 1000L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(WSI_MAX_ANSWER_BYTES));
  bool verify = server.transport == WSI_TRANSPORT_HTTPS;
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
  std::string caBundle = verify ? pk::platform::getEnv(kCaBundleEnv) : std::string();
  if (!caBundle.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, caBundle.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);  // the bundle replaces the system's store
  }
  std::string proxy = pk::platform::getEnv(kProxyEnv);
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());  // "" means no proxy at all
  if (proxy.empty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");

  CURLcode code = curl_easy_perform(easy);
  if (code != CURLE_OK) {
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
      return {Outcome::TooLarge, "answer too large"};
    std::string why = error[0] != '\0' ? error : curl_easy_strerror(code);
    if (code == CURLE_SSL_CACERT_BADFILE) {
      why =
          "the trusted certificates (" + std::string(kCaBundleEnv) + ") could not be read: " + why;
    }
    return {outcomeOf(code), why};
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status == 401) return {Outcome::Unauthorized, "401 Unauthorized"};
  if (status != 200) return {Outcome::HttpError, "HTTP status " + std::to_string(status)};
  return {};
}

void closeHttp(WSIServerInfo &server) {
  if (server.httpSession != nullptr) {
    curl_easy_cleanup(static_cast<CURL *>(server.httpSession));
    server.httpSession = nullptr;
  }
}

}  // namespace wsi::transport
