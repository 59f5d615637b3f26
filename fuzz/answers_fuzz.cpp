// Fuzzes the reader of a filer's answer: the input is the whole text an
// in-process filer sends back, verbatim, so it takes the path of an HTTP
// answer (the XML reader and its bounds) without a socket.  Whatever the
// bytes, the request must come back as an answer that says passed or failed,
// every element of it must be readable through the public walk, and nothing
// may leak.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wbemkelvai/wsiapi.h"

namespace {

constexpr const char *kHost = "fuzz-answers.filer";

struct Input {
  const uint8_t *data;
  size_t size;
};
thread_local Input current{nullptr, 0};

int verbatimFiler(void *, const char *, const char *, const char *, size_t, long,
                  WSIAnswerWriter write, void *answer) {
  write(answer, reinterpret_cast<const char *>(current.data), current.size);
  return WSI_INPROC_OK;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads every element below `element` as a provider would, and returns how many.
size_t walk(const WSIElement *element, int depth) {
  check(depth <= 1000);
  size_t count = 0;
  WSIIterator *children = createIterator(element);
  check(children != nullptr);
  for (WSIElement *child = getNextElement(children); child != nullptr;
       child = getNextElement(children)) {
    const char *name = getElementName(child);
    check(name != nullptr && getElementContent(child) != nullptr);
    // The lookups by name find this child or an earlier one of that name.
    check(getChildElement(element, name) != nullptr);
    check(getStringElement(element, name) != nullptr);
    getIntElement(element, name, -1);
    getBoolElement(element, name, -1);
    count += 1 + walk(child, depth + 1);
  }
  releaseIterator(children);
  return count;
}

WSIServerInfo *server() {
  static WSIServerInfo *info = [] {
    check(wsiRegisterInProcessFiler(kHost, verbatimFiler, nullptr) == 1);
    return createServerInfo(kHost, "root", "secret", 5, WSI_TRANSPORT_HTTP, 0);
  }();
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  current = {data, size};
  WSIElement *request = createElement("volume-list-info");
  check(request != nullptr);
  WSIElement *answer = invokeServerElement(server(), request);
  check(answer != nullptr);
  if (checkResultStatus(answer) == 1) {
    check(getResultErrorString(answer) == nullptr && getResultErrorNum(answer) == 0);
    check(walk(answer, 0) <= WSI_MAX_ANSWER_ELEMENTS);
  } else {
    // A failure always says why and names the filer when asked.
    const char *reason = getResultErrorString(answer);
    check(reason != nullptr && *reason != '\0');
    char *withIp = getErrorWithIP(answer, server());
    check(withIp != nullptr);
    wsifree(withIp);
  }
  freeElement(answer);
  freeElement(request);
  current = {nullptr, 0};
  return 0;
}
