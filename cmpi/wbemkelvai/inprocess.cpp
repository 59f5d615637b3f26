// Filers living in this process (the simulator, for tests and the demo), keyed
// by host.  A request to such a host goes through the same serialisation as over
// HTTP, only without sockets.
#include <map>
#include <shared_mutex>
#include <string>

#include "diag.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"

namespace {

struct Registration {
  WSIInProcessHandler handler;
  void *context;
};

std::string key(const char *host) {
  std::string k(host);
  for (char &c : k) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return k;
}

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
};

void writeAnswer(void *context, const char *bytes, size_t length) {
  auto *sink = static_cast<Sink *>(context);
  if (sink->tooLarge || bytes == nullptr) return;
  if (sink->answer->size() + length > WSI_MAX_ANSWER_BYTES) {
    sink->tooLarge = true;
    return;
  }
  sink->answer->append(bytes, length);
}

}  // namespace

namespace wsi::transport {

bool postInProcess(WSIServerInfo &server, const std::string &body, std::string &answer,
                   Result &result) {
  std::shared_lock<std::shared_mutex> guard(registryLock());
  auto found = registry().find(key(server.host.c_str()));
  if (found == registry().end()) return false;
  Sink sink{&answer, false};
  int outcome = found->second.handler(
      found->second.context, server.userName.c_str(), server.password.c_str(), body.data(),
      body.size(), static_cast<long>(server.timeoutSeconds) * 1000L, writeAnswer, &sink);
  switch (outcome) {
    case WSI_INPROC_OK:
      result = sink.tooLarge ? Result{Outcome::TooLarge, "answer too large"} : Result{};
      break;
    case WSI_INPROC_UNREACHABLE:
      result = {Outcome::Unreachable, "the in-process filer is off-line"};
      break;
    case WSI_INPROC_DROPPED:
      result = {Outcome::Dropped,
                "connection dropped after " + std::to_string(answer.size()) + " bytes"};
      break;
    case WSI_INPROC_TIMEOUT:
      result = {Outcome::Timeout, "the in-process filer did not answer in time"};
      break;
    case WSI_INPROC_UNAUTHORIZED:
      result = {Outcome::Unauthorized, "401 Unauthorized"};
      break;
    default:
      result = {Outcome::Dropped, "in-process handler gave outcome " + std::to_string(outcome)};
      break;
  }
  return true;
}

}  // namespace wsi::transport

extern "C" {

WSI_EXPORT int wsiRegisterInProcessFiler(const char *host, WSIInProcessHandler handler,
                                         void *handlerContext) {
  if (host == nullptr || *host == '\0' || handler == nullptr) return 0;
  try {
    std::unique_lock<std::shared_mutex> guard(registryLock());
    registry()[key(host)] = Registration{handler, handlerContext};
  } catch (const std::exception &) {
    return 0;
  }
  WSI_TRACE(std::string("In-process filer registered for host ") + host);
  return 1;
}

WSI_EXPORT void wsiUnregisterInProcessFiler(const char *host) {
  if (host == nullptr) return;
  try {
    std::unique_lock<std::shared_mutex> guard(registryLock());
    registry().erase(key(host));
  } catch (const std::exception &) {
  }
}

}  // extern "C"
