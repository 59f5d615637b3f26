// Requests and answers of the controller library: element trees, connections,
// sending a request and reading its answer.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "diag.h"
#include "element.h"
#include "kit.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"

WSIServerInfo::~WSIServerInfo() {
  // A volatile walk, so that the compiler cannot drop stores to memory about to be freed.
  volatile char *secret = password.data();
  for (size_t i = 0; i < password.size(); ++i) secret[i] = '\0';
}

struct WSIIterator {
  const WSIElement *parent;
  size_t next;
};

namespace wsi {

bool validElementName(const char *name) {
  if (name == nullptr || *name == '\0') return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (const char *p = name + 1; *p != '\0'; ++p) {
    if (!letter(*p) && !(*p >= '0' && *p <= '9') && *p != '-' && *p != '.') return false;
  }
  // "xml..." names are reserved by XML itself.
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return !(lower(name[0]) == 'x' && lower(name[1]) == 'm' && lower(name[2]) == 'l');
}

std::string checkAnswerSize(const WSIElement &answer) {
  struct Item {
    const WSIElement *element;
    int depth;
  };
  std::vector<Item> todo{{&answer, 1}};  // results itself is level 1, as in the XML reader
  size_t count = 0;
  while (!todo.empty()) {
    Item item = todo.back();
    todo.pop_back();
    if (item.depth > WSI_MAX_ANSWER_DEPTH) {
      return "Answer nests elements deeper than " + std::to_string(WSI_MAX_ANSWER_DEPTH) +
             " levels";
    }
    for (const auto &child : item.element->children) {
      if (++count > WSI_MAX_ANSWER_ELEMENTS) {
        return "Answer has more than " + std::to_string(WSI_MAX_ANSWER_ELEMENTS) + " elements";
      }
      todo.push_back({child.get(), item.depth + 1});
    }
  }
  return std::string();
}

std::atomic<SentObserver> &sentObserver() {
  static std::atomic<SentObserver> observer{nullptr};
  return observer;
}

void setSentObserver(SentObserver observer) { sentObserver().store(observer); }

std::unique_ptr<WSIElement> failedAnswer(int errorNumber, const std::string &reason) {
  auto answer = std::make_unique<WSIElement>();
  answer->name = "results";
  answer->isAnswer = true;
  answer->passed = false;
  answer->errorNumber = errorNumber;
  answer->reason = reason;
  return answer;
}

}  // namespace wsi

namespace {

bool sameName(const std::string &a, const char *b) { return strCompare(a.c_str(), b) == 0; }

// The helpers below throw when memory runs out; the exported functions catch it.
std::unique_ptr<WSIElement> newLeaf(const char *name, std::string text) {
  if (!wsi::validElementName(name)) return nullptr;
  auto leaf = std::make_unique<WSIElement>();
  leaf->name = name;
  leaf->text = std::move(text);
  return leaf;
}

// On failure (a throw included) the child stays the caller's.
int appendChild(WSIElement *parent, WSIElement *child) {
  if (parent == nullptr || child == nullptr || parent == child) return 0;
  parent->children.emplace_back(child);
  return 1;
}

int addLeaf(WSIElement *element, const char *name, std::string text) {
  if (element == nullptr) return 0;
  std::unique_ptr<WSIElement> leaf = newLeaf(name, std::move(text));
  if (leaf == nullptr) return 0;
  element->children.push_back(std::move(leaf));
  return 1;
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

const char *transportName(int transport) {
  return transport == WSI_TRANSPORT_HTTP ? "http" : "https";
}

std::unique_ptr<WSIElement> answerFromTransport(const wsi::transport::Result &result,
                                                const WSIServerInfo &server) {
  using wsi::transport::Outcome;
  const std::string &d = result.detail;
  switch (result.outcome) {
    case Outcome::Ok:
      break;
    case Outcome::Unreachable:
      return wsi::failedAnswer(WSI_ERR_UNREACHABLE,
                               "Unable to reach filer " + server.host + ": " + d);
    case Outcome::Timeout:
      return wsi::failedAnswer(WSI_ERR_TIMEOUT, "No answer from filer " + server.host + " within " +
                                                    std::to_string(server.timeoutSeconds) +
                                                    " s: " + d);
    case Outcome::Dropped:
      return wsi::failedAnswer(
          WSI_ERR_DROPPED,
          "Filer " + server.host + " closed the connection before the answer was complete: " + d);
    case Outcome::Unauthorized:
      return wsi::failedAnswer(
          WSI_ERR_AUTH, "Filer " + server.host + " refused user '" + server.userName + "': " + d);
    case Outcome::Untrusted:
      return wsi::failedAnswer(
          WSI_ERR_TLS, "The certificate of filer " + server.host + " could not be verified: " + d);
    case Outcome::HttpError:
      return wsi::failedAnswer(WSI_ERR_HTTP, "Filer " + server.host + " answered " + d);
    case Outcome::TooLarge:
      return wsi::failedAnswer(WSI_ERR_BAD_ANSWER,
                               "Answer of filer " + server.host + " is larger than " +
                                   std::to_string(WSI_MAX_ANSWER_BYTES) + " bytes");
    case Outcome::BadRequest:
      return wsi::failedAnswer(WSI_ERR_BAD_REQUEST, d);
    case Outcome::Unsupported:
      return wsi::failedAnswer(WSI_ERR_NO_TRANSPORT, d);
  }
  return nullptr;
}

// Writes the request as wire text for the filers that take text.
wsi::transport::Result serialise(const WSIElement &request, std::string &body) {
  std::string why;
  if (wsi::wire::writeRequest(request, body, why)) return {};
  return {wsi::wire::kAvailable ? wsi::transport::Outcome::BadRequest
                                : wsi::transport::Outcome::Unsupported,
          why};
}

std::unique_ptr<WSIElement> invoke(WSIServerInfo &server, const WSIElement &request,
                                   const char *file, int line) {
  std::lock_guard<std::mutex> guard(server.lock);
  wsi::trace(file, line, "Sending " + request.name + " to " + server.host);
  wsi::transport::Exchange exchange;
  if (!wsi::transport::postInProcess(server, request, exchange)) {
    std::string body;
    exchange.result = serialise(request, body);
    if (exchange.result.outcome == wsi::transport::Outcome::Ok) {
      exchange.result = wsi::transport::postHttp(server, body, exchange.text);
    }
  }
  std::unique_ptr<WSIElement> answer = answerFromTransport(exchange.result, server);
  if (answer == nullptr) {
    answer =
        exchange.tree != nullptr ? std::move(exchange.tree) : wsi::wire::readAnswer(exchange.text);
  }
  if (!answer->passed) {
    wsi::log(file, line,
             request.name + " on " + server.host + " failed (" +
                 std::to_string(answer->errorNumber) + "): " + answer->reason);
  }
  return answer;
}

}  // namespace

extern "C" {

WSI_EXPORT WSIElement *_createElement(const char *name, const char *file, int line) {
  return wsi::cEdge(static_cast<WSIElement *>(nullptr), [&] {
    WSIElement *element = newLeaf(name, {}).release();
    if (element == nullptr) {
      wsi::log(file, line, std::string("Unable to create element '") + orEmpty(name) + "'");
    }
    return element;
  });
}

WSI_EXPORT int addStringElement(WSIElement *element, const char *name, const char *value) {
  return wsi::cEdge(0, [&] { return addLeaf(element, name, orEmpty(value)); });
}

WSI_EXPORT int addIntElement(WSIElement *element, const char *name, long long value) {
  return wsi::cEdge(0, [&] { return addLeaf(element, name, std::to_string(value)); });
}

WSI_EXPORT int addBoolElement(WSIElement *element, const char *name, int value) {
  return wsi::cEdge(0, [&] { return addLeaf(element, name, value != 0 ? "true" : "false"); });
}

WSI_EXPORT int addChildElement(WSIElement *parent, WSIElement *child) {
  return wsi::cEdge(0, [&] { return appendChild(parent, child); });
}

WSI_EXPORT void freeElement(WSIElement *element) { delete element; }

WSI_EXPORT WSIServerInfo *_createServerInfo(const char *host, const char *userName,
                                            const char *password, int32_t connParam3,
                                            int32_t connParam1, int32_t connParam2,
                                            const char *file, int line) {
  return wsi::cEdge(static_cast<WSIServerInfo *>(nullptr), [&]() -> WSIServerInfo * {
    if (host == nullptr || *host == '\0') {
      wsi::log(file, line, "No filer host given for a connection");
      return nullptr;
    }
    if (connParam1 < WSI_TRANSPORT_HTTP || connParam1 > WSI_TRANSPORT_HTTPS_NOVERIFY ||
        connParam2 < 0 || connParam2 > 65535) {
      wsi::log(file, line, std::string("Invalid transport or port for filer ") + host);
      return nullptr;
    }
    auto server = std::make_unique<WSIServerInfo>();
    server->host = host;
    server->userName = orEmpty(userName);
    server->password = orEmpty(password);
    server->transport = connParam1;
    server->port = wsi::portFor(connParam1, connParam2);
    server->key = wsi::hostKey(server->host, connParam1, connParam2);
    server->timeoutSeconds = connParam3 > 0 ? connParam3 : 60;
    server->file = orEmpty(file);
    server->line = line;
    wsi::trace(file, line,
               std::string("Connection to ") + host + " over " + transportName(connParam1) +
                   " port " + std::to_string(server->port));
    return server.release();
  });
}

WSI_EXPORT void destroyServerInfo(WSIServerInfo *server) {
  if (server == nullptr) return;
  wsi::transport::closeHttp(*server);
  delete server;
}

WSI_EXPORT WSIElement *_invokeServerElement(WSIServerInfo *server, WSIElement *request,
                                            const char *file, int line) {
  return wsi::cEdge(static_cast<WSIElement *>(nullptr), [&] {
    if (server == nullptr || request == nullptr) {
      return wsi::failedAnswer(WSI_ERR_BAD_REQUEST, "No connection or no request given").release();
    }
    std::unique_ptr<WSIElement> answer = invoke(*server, *request, file, line);
    // Whatever the answer says, the filer may have changed something.
    if (wsi::SentObserver observer = wsi::sentObserver().load())
      observer(server->key, request->name);
    return answer.release();
  });
}

WSI_EXPORT WSIElement *wsiCreateAnswer(int passed, int errorNumber, const char *reason) {
  return wsi::cEdge(static_cast<WSIElement *>(nullptr), [&] {
    auto answer = std::make_unique<WSIElement>();
    answer->name = "results";
    answer->isAnswer = true;
    answer->passed = passed != 0;
    if (!answer->passed) {
      answer->errorNumber = errorNumber;
      answer->reason = reason != nullptr && *reason != '\0' ? reason : "Filer gave no reason";
    }
    return answer.release();
  });
}

WSI_EXPORT int checkResultStatus(const WSIElement *answer) {
  return answer != nullptr && answer->isAnswer && answer->passed ? 1 : 0;
}

WSI_EXPORT char *getErrorWithIP(const WSIElement *answer, const WSIServerInfo *server) {
  return wsi::cEdge(static_cast<char *>(nullptr), [&] {
    std::string text = server != nullptr ? server->host : std::string("unknown filer");
    text += ": ";
    if (answer == nullptr) {
      text += "no answer";
    } else if (answer->passed) {
      text += "no error";
    } else {
      text += answer->reason.empty() ? std::string("unknown error") : answer->reason;
      text += " (error " + std::to_string(answer->errorNumber) + ")";
    }
    return wsi::newText(text);
  });
}

WSI_EXPORT int getResultErrorNum(const WSIElement *answer) {
  return answer != nullptr && answer->isAnswer && !answer->passed ? answer->errorNumber : 0;
}

WSI_EXPORT const char *getResultErrorString(const WSIElement *answer) {
  return answer != nullptr && answer->isAnswer && !answer->passed ? answer->reason.c_str()
                                                                  : nullptr;
}

WSI_EXPORT WSIElement *getChildElement(const WSIElement *element, const char *name) {
  if (element == nullptr || name == nullptr) return nullptr;
  for (const auto &child : element->children) {
    if (sameName(child->name, name)) return child.get();
  }
  return nullptr;
}

WSI_EXPORT const char *getStringElement(const WSIElement *element, const char *name) {
  const WSIElement *child = getChildElement(element, name);
  return child != nullptr ? child->text.c_str() : nullptr;
}

WSI_EXPORT long long getIntElement(const WSIElement *element, const char *name,
                                   long long defaultValue) {
  const char *text = getStringElement(element, name);
  if (text == nullptr || *text == '\0') return defaultValue;
  char *end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text) return defaultValue;
  while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
  return *end == '\0' ? value : defaultValue;
}

WSI_EXPORT int getBoolElement(const WSIElement *element, const char *name, int defaultValue) {
  const char *text = getStringElement(element, name);
  if (text == nullptr) return defaultValue;
  if (strCompare(text, "true") == 0) return 1;
  if (strCompare(text, "false") == 0) return 0;
  long long number = getIntElement(element, name, -1);
  if (number == 0) return 0;
  return number > 0 ? 1 : defaultValue;
}

WSI_EXPORT const char *getElementName(const WSIElement *element) {
  return element != nullptr ? element->name.c_str() : nullptr;
}

WSI_EXPORT const char *getElementContent(const WSIElement *element) {
  return element != nullptr ? element->text.c_str() : nullptr;
}

WSI_EXPORT WSIIterator *_createIterator(const WSIElement *element, const char *file, int line) {
  auto *iterator = new (std::nothrow) WSIIterator{element, 0};
  if (iterator == nullptr) {
    wsi::cEdge(0, [&] {
      wsi::log(file, line, "Unable to create an element iterator");
      return 0;
    });
  }
  return iterator;
}

WSI_EXPORT WSIElement *getNextElement(WSIIterator *iterator) {
  if (iterator == nullptr || iterator->parent == nullptr ||
      iterator->next >= iterator->parent->children.size()) {
    return nullptr;
  }
  return iterator->parent->children[iterator->next++].get();
}

WSI_EXPORT void releaseIterator(WSIIterator *iterator) { delete iterator; }

}  // extern "C"
