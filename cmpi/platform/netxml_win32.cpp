// Win32 side of the system HTTP client (WinHTTP) and XML reader (XmlLite).
#if defined(_WIN32)

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>
#include <shlwapi.h>
#include <xmllite.h>
// clang-format on

#include <cstring>
#include <cwchar>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>

#include "netxml.h"

namespace pk::platform {

namespace {

std::wstring wide(const std::string &text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

std::string narrow(const wchar_t *text, size_t length) {
  if (length == 0) return std::string();
  int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

std::string winhttpMessage(DWORD code) {
  char *text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                               FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleA("winhttp.dll"), code, 0, reinterpret_cast<LPSTR>(&text),
                           0, nullptr);
  std::string out = (n != 0 && text != nullptr) ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(code);
  return out;
}

HttpFailure failureOf(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_INVALID_URL:
      return HttpFailure::Unreachable;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // some WinHTTP builds pass the socket's own code on
      return HttpFailure::Timeout;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return HttpFailure::Untrusted;
    default:
      return HttpFailure::Dropped;
  }
}

HttpAnswer failed(HttpFailure failure, std::string detail) {
  HttpAnswer answer;
  answer.failure = failure;
  answer.detail = std::move(detail);
  return answer;
}

HttpAnswer lastFailure() {
  DWORD code = GetLastError();
  return failed(failureOf(code), winhttpMessage(code));
}

struct Handle {
  HINTERNET h = nullptr;
  Handle() = default;
  explicit Handle(HINTERNET handle) : h(handle) {}
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() {
    if (h != nullptr) WinHttpCloseHandle(h);
  }
};

struct CertOwner {
  PCCERT_CONTEXT c = nullptr;
  explicit CertOwner(PCCERT_CONTEXT cert) : c(cert) {}
  CertOwner(const CertOwner &) = delete;
  CertOwner &operator=(const CertOwner &) = delete;
  CertOwner(CertOwner &&other) noexcept : c(other.c) { other.c = nullptr; }
  ~CertOwner() {
    if (c != nullptr) CertFreeCertificateContext(c);
  }
};

// The certificates of a PEM file; empty when it cannot be read or holds none.
std::vector<CertOwner> readBundle(const std::string &path, std::string &why) {
  std::vector<CertOwner> certs;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "the trusted certificates (" + path + ") could not be read";
    return certs;
  }
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    size_t stop = text.find(end, at);
    if (stop == std::string::npos) break;
    std::string block = text.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      continue;
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), size);
    if (cert != nullptr) certs.emplace_back(cert);
  }
  if (certs.empty()) why = "the trusted certificates (" + path + ") hold no certificate";
  return certs;
}

// True when the filer's certificate is one of the bundle's or signed by one
// of them, and is within its validity.  Names are checked apart.
bool trustedByBundle(HINTERNET request, const std::vector<CertOwner> &bundle) {
  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof raw;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) ||
      raw == nullptr)
    return false;
  CertOwner server(raw);
  if (CertVerifyTimeValidity(nullptr, server.c->pCertInfo) != 0) return false;
  for (const CertOwner &ca : bundle) {
    if (CertCompareCertificate(X509_ASN_ENCODING, server.c->pCertInfo, ca.c->pCertInfo))
      return true;
    if (!CertCompareCertificateName(X509_ASN_ENCODING, &server.c->pCertInfo->Issuer,
                                    &ca.c->pCertInfo->Subject))
      continue;
    if (CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                          const_cast<void *>(static_cast<const void *>(server.c)),
                                          CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                          const_cast<void *>(static_cast<const void *>(ca.c)), 0,
                                          nullptr))
      return true;
  }
  return false;
}

// The address bytes of a host given as an IPv4 or IPv6 address; empty for a name.
std::string addressBytes(const std::string &host) {
  unsigned char bytes[16];
  if (InetPtonA(AF_INET, host.c_str(), bytes) == 1) return std::string(bytes, bytes + 4);
  if (InetPtonA(AF_INET6, host.c_str(), bytes) == 1) return std::string(bytes, bytes + 16);
  return std::string();
}

// True when the filer's certificate names the address among its alternative
// names.  WinHTTP's own name check is for host names; addresses are checked here.
bool namesAddress(HINTERNET request, const std::string &address) {
  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof raw;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) ||
      raw == nullptr)
    return false;
  CertOwner server(raw);
  PCERT_EXTENSION extension = CertFindExtension(
      szOID_SUBJECT_ALT_NAME2, server.c->pCertInfo->cExtension, server.c->pCertInfo->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO *names = nullptr;
  DWORD namesSize = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &namesSize))
    return false;
  bool found = false;
  for (DWORD i = 0; !found && i < names->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY &entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  LocalFree(names);
  return found;
}

// Empty when the certificate passes the checks that are ours (the bundle's
// trust, an address's name); else why not.
std::string ownChecks(HINTERNET request, const HttpPost &post, const std::vector<CertOwner> &bundle,
                      const std::string &address) {
  if (!bundle.empty() && !trustedByBundle(request, bundle))
    return "the filer's certificate is not trusted by " + post.caBundle;
  if (!address.empty() && !namesAddress(request, address))
    return "the filer's certificate does not name " + post.host;
  return std::string();
}

std::string basicCredentials(const std::string &user, const std::string &password) {
  std::string plain = user + ":" + password;
  DWORD size = 0;
  const auto *bytes = reinterpret_cast<const BYTE *>(plain.data());
  DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(plain.size()), flags, nullptr, &size))
    return std::string();
  std::string out(size, '\0');
  if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(plain.size()), flags, out.data(), &size))
    return std::string();
  out.resize(size);
  SecureZeroMemory(plain.data(), plain.size());
  return out;
}

}  // namespace

struct HttpSession {
  Handle session;
  Handle connect;
  std::string host;
  int port = 0;
  std::string proxy;
  bool checked = false;  // the filer's certificate passed our checks before any credential went
};

namespace {

// Opens a request of the session; null with the failure when it cannot.
HINTERNET openRequest(HttpSession &s, const HttpPost &post, bool ownNameCheck, const wchar_t *verb,
                      HttpAnswer &failure) {
  DWORD flags = post.https ? WINHTTP_FLAG_SECURE : 0;
  std::wstring path = wide(post.path);
  HINTERNET request = WinHttpOpenRequest(s.connect.h, verb, path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  if (request == nullptr) {
    failure = lastFailure();
    return nullptr;
  }
  int ms = post.timeoutSeconds > 0 ? post.timeoutSeconds * 1000 : 60000;
  WinHttpSetTimeouts(request, ms, ms, ms, ms);
  // The wait for the answer's headers has a time-out of its own (90 s unless
  // set): a filer that is slow to start answering must time out like one that
  // is slow to finish.
  DWORD headersMs = static_cast<DWORD>(ms);
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersMs, sizeof headersMs);
  DWORD security = 0;
  if (post.https && !post.verify) {
    security = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
               SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  } else if (post.https) {
    // The bundle, not the system's store, decides: the chain check is ours;
    // so is the check of an address among the certificate's names.
    if (!post.caBundle.empty()) security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    if (ownNameCheck) security |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
  }
  if (security != 0) {
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security);
  }
  return request;
}

}  // namespace

HttpAnswer httpPost(HttpSession **session, const HttpPost &post, const std::string &body) {
  HttpSession *s = *session;
  if (s != nullptr && (s->host != post.host || s->port != post.port || s->proxy != post.proxy)) {
    httpClose(s);
    s = *session = nullptr;
  }
  if (s == nullptr) {
    s = new (std::nothrow) HttpSession;
    if (s == nullptr) return failed(HttpFailure::Unreachable, "unable to start an HTTP session");
    std::wstring proxy = wide(post.proxy);
    s->session.h = WinHttpOpen(
        L"kelva",
        post.proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
        post.proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
    if (s->session.h == nullptr) {
      HttpAnswer why = lastFailure();
      delete s;
      return why;
    }
    std::wstring host = wide(post.host);
    s->connect.h =
        WinHttpConnect(s->session.h, host.c_str(), static_cast<INTERNET_PORT>(post.port), 0);
    if (s->connect.h == nullptr) {
      HttpAnswer why = lastFailure();
      delete s;
      return why;
    }
    s->host = post.host;
    s->port = post.port;
    s->proxy = post.proxy;
    *session = s;
  }

  std::vector<CertOwner> bundle;
  if (post.https && post.verify && !post.caBundle.empty()) {
    std::string why;
    bundle = readBundle(post.caBundle, why);
    if (bundle.empty()) return failed(HttpFailure::Untrusted, why);
  }
  std::string address = post.https && post.verify ? addressBytes(post.host) : std::string();
  bool own = !bundle.empty() || !address.empty();
  HttpAnswer answer;
  if (own && !s->checked) {
    // A request without credentials first, so that no password goes to a filer
    // whose certificate does not pass.
    Handle probe(openRequest(*s, post, !address.empty(), L"HEAD", answer));
    if (probe.h == nullptr) return answer;
    if (!WinHttpSendRequest(probe.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0))
      return lastFailure();
    std::string why = ownChecks(probe.h, post, bundle, address);
    if (!why.empty()) return failed(HttpFailure::Untrusted, why);
    WinHttpReceiveResponse(probe.h, nullptr);
    s->checked = true;
  }

  Handle request(openRequest(*s, post, !address.empty(), L"POST", answer));
  if (request.h == nullptr) return answer;
  std::wstring headers = wide("Content-Type: " + post.contentType + "\r\n");
  if (!post.userName.empty() || !post.password.empty()) {
    std::string credentials = basicCredentials(post.userName, post.password);
    headers += wide("Authorization: Basic " + credentials + "\r\n");
    SecureZeroMemory(credentials.data(), credentials.size());
  }
  BOOL sent = WinHttpSendRequest(request.h, headers.c_str(), static_cast<DWORD>(headers.size()),
                                 const_cast<char *>(body.data()), static_cast<DWORD>(body.size()),
                                 static_cast<DWORD>(body.size()), 0);
  SecureZeroMemory(headers.data(), headers.size() * sizeof(wchar_t));
  if (!sent) return lastFailure();
  if (own) {
    std::string why = ownChecks(request.h, post, bundle, address);
    if (!why.empty()) {
      s->checked = false;
      return failed(HttpFailure::Untrusted, why);
    }
  }
  if (!WinHttpReceiveResponse(request.h, nullptr)) return lastFailure();
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return lastFailure();
  answer.status = static_cast<int>(status);
  char buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!WinHttpReadData(request.h, buffer, sizeof buffer, &n)) return lastFailure();
    if (n == 0) break;
    if (post.maxAnswerBytes != 0 && answer.body.size() + n > post.maxAnswerBytes) {
      return failed(HttpFailure::TooLarge, "answer too large");
    }
    answer.body.append(buffer, n);
  }
  // A connection that closes early can end the read without an error; the
  // announced length tells a cut answer from a whole one.
  wchar_t length[32];
  DWORD lengthSize = sizeof length;
  if (WinHttpQueryHeaders(request.h, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                          length, &lengthSize, WINHTTP_NO_HEADER_INDEX)) {
    unsigned long long announced = std::wcstoull(length, nullptr, 10);
    if (answer.body.size() < announced) {
      return failed(HttpFailure::Dropped, "connection closed after " +
                                              std::to_string(answer.body.size()) + " of " +
                                              std::to_string(announced) + " bytes");
    }
  }
  return answer;
}

void httpClose(HttpSession *session) { delete session; }

// ---- XML ------------------------------------------------------------------------

namespace {

using CreateReader = HRESULT(WINAPI *)(REFIID, void **, IMalloc *);

// xmllite.dll, bound once: the import library is not everywhere.
CreateReader readerFactory() {
  static CreateReader factory = [] {
    HMODULE module = LoadLibraryA("xmllite.dll");
    if (module == nullptr) return static_cast<CreateReader>(nullptr);
    return reinterpret_cast<CreateReader>(
        reinterpret_cast<void *>(GetProcAddress(module, "CreateXmlReader")));
  }();
  return factory;
}

template <class T>
struct Com {
  T *p = nullptr;
  Com() = default;
  Com(const Com &) = delete;
  Com &operator=(const Com &) = delete;
  ~Com() {
    if (p != nullptr) p->Release();
  }
};

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

XmlResult xmlParse(const std::string &document, XmlHandler &handler, std::string &why) {
  CreateReader create = readerFactory();
  if (create == nullptr) {
    why = "the system's XML reader (xmllite.dll) is not available";
    return XmlResult::Unavailable;
  }
  Com<IStream> stream;
  stream.p = SHCreateMemStream(reinterpret_cast<const BYTE *>(document.data()),
                               static_cast<UINT>(document.size()));
  Com<IXmlReader> reader;
  if (stream.p == nullptr ||
      FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void **>(&reader.p), nullptr))) {
    why = "the system's XML reader could not be started";
    return XmlResult::Unavailable;
  }
  reader.p->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
  if (FAILED(reader.p->SetInput(stream.p))) {
    why = "the system's XML reader refused its input";
    return XmlResult::Unavailable;
  }
  XmlNodeType type = XmlNodeType_None;
  HRESULT hr = S_OK;
  std::vector<std::pair<std::string, std::string>> attributes;
  while ((hr = reader.p->Read(&type)) == S_OK) {
    const WCHAR *text = nullptr;
    UINT length = 0;
    bool go = true;
    switch (type) {
      case XmlNodeType_Element: {
        if (FAILED(reader.p->GetQualifiedName(&text, &length))) break;
        std::string name = narrow(text, length);
        bool empty = reader.p->IsEmptyElement() != FALSE;
        attributes.clear();
        for (HRESULT at = reader.p->MoveToFirstAttribute(); at == S_OK;
             at = reader.p->MoveToNextAttribute()) {
          const WCHAR *value = nullptr;
          UINT valueLength = 0;
          if (FAILED(reader.p->GetQualifiedName(&text, &length)) ||
              FAILED(reader.p->GetValue(&value, &valueLength)))
            break;
          attributes.emplace_back(narrow(text, length), narrow(value, valueLength));
        }
        go = handler.start(name, attributes) && (!empty || handler.end());
        break;
      }
      case XmlNodeType_EndElement:
        go = handler.end();
        break;
      case XmlNodeType_Text:
      case XmlNodeType_CDATA:
        if (SUCCEEDED(reader.p->GetValue(&text, &length))) go = handler.text(narrow(text, length));
        break;
      default:
        break;  // declarations, comments, processing instructions, whitespace
    }
    if (!go) return XmlResult::Stopped;
  }
  if (FAILED(hr)) {
    UINT line = 0, column = 0;
    reader.p->GetLineNumber(&line);
    reader.p->GetLinePosition(&column);
    why = "error " + hex(hr) + " at line " + std::to_string(line) + ", column " +
          std::to_string(column);
    return XmlResult::Malformed;
  }
  return XmlResult::Ok;
}

}  // namespace pk::platform

#endif
