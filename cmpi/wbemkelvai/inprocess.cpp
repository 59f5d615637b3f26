// Filers living in this process (the simulator, for tests and the demo), keyed
// by host.  A tree filer receives the request as its element tree and may answer
// with a tree, so that neither side needs the XML codec; a text filer receives the
// same XML text that HTTP would carry.
#include <map>
#include <shared_mutex>
#include <string>

#include "diag.h"
#include "kit.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"

namespace {

struct Registration {
  WSIInProcessHandler textHandler;
  WSIInProcessTreeHandler treeHandler;
  void *context;
};

// Requests hold the lock shared for their whole run, so that unregistering waits
// for those in flight before the handler's context may go away.
std::shared_mutex &registryLock() {
  static std::shared_mutex lock;
  return lock;
}
std::map<std::string, Registration> &registry() {
  static std::map<std::string, Registration> filers;
  return filers;
}

struct Sink {
  std::string *answer;
  bool tooLarge;
  bool noMemory;
};

// Called by the handler, possibly C code: nothing may be thrown through it.
void writeAnswer(void *context, const char *bytes, size_t length) {
  auto *sink = static_cast<Sink *>(context);
  if (sink->tooLarge || sink->noMemory || bytes == nullptr) return;
  if (sink->answer->size() + length > WSI_MAX_ANSWER_BYTES) {
    sink->tooLarge = true;
    return;
  }
  sink->noMemory = wsi::cEdge(true, [&] {
    sink->answer->append(bytes, length);
    return false;
  });
}

using wsi::transport::Outcome;
using wsi::transport::Result;

Result resultOf(int outcome, const Sink &sink) {
  size_t written = sink.answer->size();
  if (sink.noMemory) return {Outcome::Dropped, "insufficient memory for the answer"};
  switch (outcome) {
    case WSI_INPROC_OK:
      return sink.tooLarge ? Result{Outcome::TooLarge, "answer too large"} : Result{};
    case WSI_INPROC_UNREACHABLE:
      return {Outcome::Unreachable, "the in-process filer is off-line"};
    case WSI_INPROC_DROPPED:
      return {Outcome::Dropped, "connection dropped after " + std::to_string(written) + " bytes"};
    case WSI_INPROC_TIMEOUT:
      return {Outcome::Timeout, "the in-process filer did not answer in time"};
    case WSI_INPROC_UNAUTHORIZED:
      return {Outcome::Unauthorized, "401 Unauthorized"};
    default:
      return {Outcome::Dropped, "in-process handler gave outcome " + std::to_string(outcome)};
  }
}

// A tree answer must be an answer, and as bounded as one read from text.
std::unique_ptr<WSIElement> checkedTree(WSIElement *tree) {
  std::unique_ptr<WSIElement> answer(tree);
  if (!answer->isAnswer) {
    return wsi::failedAnswer(WSI_ERR_BAD_ANSWER,
                             "In-process filer answered with an element that is no answer");
  }
  std::string why = wsi::checkAnswerSize(*answer);
  if (!why.empty()) return wsi::failedAnswer(WSI_ERR_BAD_ANSWER, why);
  return answer;
}

}  // namespace

namespace wsi::transport {

bool postInProcess(WSIServerInfo &server, const WSIElement &request, Exchange &exchange) {
  std::shared_lock<std::shared_mutex> guard(registryLock());
  auto found = registry().find(lowerAscii(server.host));
  if (found == registry().end()) return false;
  const Registration &filer = found->second;
  long timeoutMillis = static_cast<long>(server.timeoutSeconds) * 1000L;
  Sink sink{&exchange.text, false, false};
  int outcome = 0;
  if (filer.treeHandler != nullptr) {
    WSIElement *tree = nullptr;
    outcome = filer.treeHandler(filer.context, server.userName.c_str(), server.password.c_str(),
                                &request, timeoutMillis, &tree, writeAnswer, &sink);
    if (tree != nullptr) {
      // Owned from here on, whatever the outcome says.
      std::unique_ptr<WSIElement> owned(tree);
      if (outcome == WSI_INPROC_OK) exchange.tree = checkedTree(owned.release());
    }
  } else {
    std::string body;
    std::string why;
    if (!wire::writeRequest(request, body, why)) {
      exchange.result = {wire::kAvailable ? Outcome::BadRequest : Outcome::Unsupported, why};
      return true;
    }
    outcome = filer.textHandler(filer.context, server.userName.c_str(), server.password.c_str(),
                                body.data(), body.size(), timeoutMillis, writeAnswer, &sink);
  }
  exchange.result = resultOf(outcome, sink);
  if (exchange.result.outcome != Outcome::Ok) exchange.tree.reset();
  return true;
}

}  // namespace wsi::transport

namespace {

int registerFiler(const char *host, const Registration &registration) {
  if (host == nullptr || *host == '\0') return 0;
  return wsi::cEdge(0, [&] {
    std::unique_lock<std::shared_mutex> guard(registryLock());
    registry()[wsi::lowerAscii(host)] = registration;
    WSI_TRACE(std::string("In-process filer registered for host ") + host);
    return 1;
  });
}

}  // namespace

extern "C" {

WSI_EXPORT int wsiRegisterInProcessFiler(const char *host, WSIInProcessHandler handler,
                                         void *handlerContext) {
  if (handler == nullptr) return 0;
  return registerFiler(host, Registration{handler, nullptr, handlerContext});
}

WSI_EXPORT int wsiRegisterInProcessTreeFiler(const char *host, WSIInProcessTreeHandler handler,
                                             void *handlerContext) {
  if (handler == nullptr) return 0;
  return registerFiler(host, Registration{nullptr, handler, handlerContext});
}

WSI_EXPORT void wsiUnregisterInProcessFiler(const char *host) {
  if (host == nullptr) return;
  wsi::cEdge(0, [&] {
    std::unique_lock<std::shared_mutex> guard(registryLock());
    registry().erase(wsi::lowerAscii(host));
    return 0;
  });
}

}  // extern "C"
