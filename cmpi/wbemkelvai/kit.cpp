// The internal kit (kit.h): addresses, texts, request building and sessions.
#include "kit.h"

#include <string>

namespace wsi {

std::string lowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char &c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

int portFor(int transport, int port) {
  if (port != 0) return port;
  return transport == WSI_TRANSPORT_HTTP ? 80 : 443;
}

std::string hostKey(std::string_view host, int transport, int port) {
  return lowerAscii(host) + ":" + std::to_string(portFor(transport, port));
}

char *newText(const std::string &text) { return wsistrdup(text.c_str()); }

char *newTextOrNull(const char *text) { return text != nullptr ? wsistrdup(text) : nullptr; }

bool filerAway(const WSIElement *answer) {
  int number = getResultErrorNum(answer);
  return number == WSI_ERR_UNREACHABLE || number == WSI_ERR_TIMEOUT || number == WSI_ERR_DROPPED;
}

bool libraryFailure(const WSIElement *answer) {
  int number = getResultErrorNum(answer);
  return number >= WSI_ERR_UNREACHABLE && number <= WSI_ERR_UNREACHABLE + 99;
}

// ---- Request ----------------------------------------------------------------------------

Request::Request(const char *api, const char *file, int line)
    : api_(api != nullptr ? api : ""),
      file_(file),
      line_(line),
      element_(_createElement(api, file, line)),
      ok_(element_ != nullptr) {
  if (!ok_) why_ = "the request element could not be made";
}

void Request::spoil(const std::string &reason) {
  if (!ok_) return;
  ok_ = false;
  why_ = reason;
}

Request &Request::add(const char *name, const std::string &value) {
  if (ok_ && addStringElement(element_.get(), name, value.c_str()) == 0) {
    spoil(std::string("parameter '") + (name != nullptr ? name : "") + "' could not be added");
  }
  return *this;
}

Request &Request::add(const char *name, const char *value) {
  return add(name, std::string(value != nullptr ? value : ""));
}

Request &Request::add(const char *name, long long value) {
  if (ok_ && addIntElement(element_.get(), name, value) == 0) {
    spoil(std::string("parameter '") + (name != nullptr ? name : "") + "' could not be added");
  }
  return *this;
}

Request &Request::addBool(const char *name, bool value) {
  if (ok_ && addBoolElement(element_.get(), name, value ? 1 : 0) == 0) {
    spoil(std::string("parameter '") + (name != nullptr ? name : "") + "' could not be added");
  }
  return *this;
}

Request &Request::add(Request &&child) {
  if (!child.ok_) {
    spoil(child.why_);
    return *this;
  }
  if (ok_ && addChildElement(element_.get(), child.element_.get()) != 0) {
    (void)child.element_.release();  // the parent owns it now
    child.ok_ = false;
    return *this;
  }
  spoil(std::string("element '") + child.api_ + "' could not be added");
  return *this;
}

// ---- Session ----------------------------------------------------------------------------

Session::Session(const Filer *filer, KELVAStatus *status, const char *file, int line) {
  if (filer == nullptr || filer->host == nullptr) {
    fail(status, "No filer given");
    return;
  }
  owned_.reset(_createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                                 filer->connParam1, filer->connParam2, file, line));
  if (owned_ == nullptr) {
    fail(status, std::string("Unable to create a connection to ") + filer->host);
    return;
  }
  server_ = owned_.get();
}

Element Session::send(const Request &request, KELVAStatus *status) const {
  if (request.element() == nullptr) {
    fail(status, std::string("Request ") + request.api() + " not sent: " + request.why());
    return nullptr;
  }
  Element answer(_invokeServerElement(server_, request.element(), request.file(), request.line()));
  if (answer == nullptr)
    fail(status, std::string(kNoMemory) + " for the answer to " + request.api());
  return answer;
}

Element Session::call(const Request &request, KELVAStatus *status) const {
  Element answer = send(request, status);
  if (answer == nullptr) return nullptr;
  if (checkResultStatus(answer.get()) == 0) {
    reportFailure(answer.get(), status);
    return nullptr;
  }
  return answer;
}

void Session::reportFailure(const WSIElement *answer, KELVAStatus *status) const {
  char *text = getErrorWithIP(answer, server_);
  setKELVAStatus(status, 0, text != nullptr ? text : "Filer request failed");
  wsifree(text);
}

}  // namespace wsi
