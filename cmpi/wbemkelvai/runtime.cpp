// Lists, memory, strings, status records, diagnostics and time of the
// controller library.
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "clock.h"
#include "diag.h"
#include "edge.h"
#include "platform/platform.h"
#include "wbemkelvai/wsiruntime.h"
#include "wbemkelvai/wsitesting.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define WSI_FOLD_SSE2 1
#endif

// A circular doubly linked list around a sentinel.  A position is a node; the
// sentinel is a position too, which is what lets WSIList_removeIter step back
// before the first element and still have WSIList_getNext yield the next one.
struct WSIListPos {
  WSIListPos *prev;
  WSIListPos *next;
  WSIList *owner;
  void *element;
  bool sentinel;
};

struct WSIList {
  WSIListPos head;
  unsigned int length;
};

namespace {

void unlink(WSIListPos *node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
}

std::atomic<WSIMessageFunc> traceSink{nullptr};
std::atomic<WSIMessageFunc> logSink{nullptr};

void emit(const std::atomic<WSIMessageFunc> &sink, const char *file, int line,
          const std::string &text) {
  WSIMessageFunc fn = sink.load(std::memory_order_acquire);
  if (fn == nullptr) return;
  // A diagnostic that cannot be made (out of memory) is dropped: it must never turn
  // the operation it describes into a failure.
  wsi::cEdge(0, [&] {
    std::string where = std::string(file != nullptr ? file : "?") + ":" + std::to_string(line);
    fn(where.c_str(), text.c_str());
    return 0;
  });
}

int lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

#if defined(WSI_FOLD_SSE2)
#if defined(__clang__) || defined(__GNUC__)
#define WSI_READS_PAST_END __attribute__((no_sanitize("address", "thread")))
#elif defined(_MSC_VER)
#define WSI_READS_PAST_END __declspec(no_sanitize_address)
#else
#define WSI_READS_PAST_END
#endif

// Whether 16 bytes from p lie in p's page: such a load cannot fault, even when
// the text ends before them.
bool wholeBlockInPage(const char *p) {
  return (reinterpret_cast<std::uintptr_t>(p) & 4095u) <= 4096u - 16u;
}

// The block's ASCII capitals made small, everything else as it is.
__m128i foldBlock(__m128i bytes) {
  __m128i capital = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('A' - 1)),
                                  _mm_cmpgt_epi8(_mm_set1_epi8('Z' + 1), bytes));
  return _mm_add_epi8(bytes, _mm_and_si128(capital, _mm_set1_epi8('a' - 'A')));
}

// strcasecmp over ASCII, sixteen bytes at a time while both texts have them
// in their pages.  Those loads may read past a text's terminator, never past
// its page, which the sanitizers would otherwise report.
WSI_READS_PAST_END int foldedCompare(const char *a, const char *b) {
  const __m128i zero = _mm_setzero_si128();
  for (;;) {
    if (wholeBlockInPage(a) && wholeBlockInPage(b)) {
      __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a));
      __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
      __m128i same = _mm_cmpeq_epi8(foldBlock(va), foldBlock(vb));
      // Bit i: byte i differs, or a's text ends there.
      auto stop = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(va, zero))) |
                  (~static_cast<unsigned>(_mm_movemask_epi8(same)) & 0xffffu);
      if (stop == 0) {
        a += 16;
        b += 16;
        continue;
      }
      int at = std::countr_zero(stop);
      return lowerAscii(static_cast<unsigned char>(a[at])) -
             lowerAscii(static_cast<unsigned char>(b[at]));
    }
    int ca = lowerAscii(static_cast<unsigned char>(*a));
    int cb = lowerAscii(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
    ++a;
    ++b;
  }
}
#else
int foldedCompare(const char *a, const char *b) {
  for (;; ++a, ++b) {
    int ca = lowerAscii(static_cast<unsigned char>(*a));
    int cb = lowerAscii(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}
#endif

// Shell-style match of the whole value; iterative with one backtrack point,
// which is enough for '*' because a later '*' supersedes an earlier one.
bool wildcardMatch(const char *pattern, const char *value) {
  const char *starPattern = nullptr;
  const char *starValue = nullptr;
  while (*value != '\0') {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starValue = value;
      continue;
    }
    const char *p = pattern;
    bool literal = false;
    if (*p == '\\' && p[1] != '\0') {
      ++p;
      literal = true;
    }
    if (*p != '\0' &&
        ((!literal && *p == '?') || lowerAscii(static_cast<unsigned char>(*p)) ==
                                        lowerAscii(static_cast<unsigned char>(*value)))) {
      pattern = p + 1;
      ++value;
      continue;
    }
    if (starPattern == nullptr) return false;
    pattern = starPattern;
    value = ++starValue;
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// The failing allocator of the tests: the call numbered `failingAllocation`
// (counted from the last wsiTestFailAllocation) fails, once; 0 is off.
std::atomic<unsigned long long> failingAllocation{0};
std::atomic<unsigned long long> allocationCount{0};

bool failThisAllocation() {
  unsigned long long n = allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
  unsigned long long nth = failingAllocation.load(std::memory_order_relaxed);
  if (nth == 0 || n != nth) return false;
  // Once: a retry after the failure succeeds, as memory freed elsewhere would.
  failingAllocation.compare_exchange_strong(nth, 0, std::memory_order_relaxed);
  return true;
}

}  // namespace

namespace wsi {
void trace(const char *file, int line, const std::string &text) {
  emit(traceSink, file, line, text);
}
void log(const char *file, int line, const std::string &text) { emit(logSink, file, line, text); }
}  // namespace wsi

extern "C" {

WSIList *WSIList_new(void) {
  auto *list = static_cast<WSIList *>(wsicalloc(1, sizeof(WSIList)));
  if (list == nullptr) return nullptr;
  list->head.prev = list->head.next = &list->head;
  list->head.sentinel = true;
  list->head.owner = list;
  return list;
}

int WSIList_append(WSIList *list, void *element) {
  if (list == nullptr) return 0;
  auto *node = static_cast<WSIListPos *>(wsicalloc(1, sizeof(WSIListPos)));
  if (node == nullptr) return 0;
  node->element = element;
  node->owner = list;
  node->prev = list->head.prev;
  node->next = &list->head;
  list->head.prev->next = node;
  list->head.prev = node;
  ++list->length;
  return 1;
}

WSIListPos *WSIList_getFirst(WSIList *list) {
  if (list == nullptr || list->head.next == &list->head) return nullptr;
  return list->head.next;
}

WSIListPos *WSIList_getNext(WSIListPos *position) {
  if (position == nullptr || position->next->sentinel) return nullptr;
  return position->next;
}

void *WSIList_getElement(WSIListPos *position) {
  return position == nullptr ? nullptr : position->element;
}

void *WSIList_getFirstElement(WSIList *list, WSIListMatchFunc match, const void *key) {
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    if (match == nullptr || match(p->element, key) != 0) return p->element;
  }
  return nullptr;
}

unsigned int WSIList_getLength(WSIList *list) { return list == nullptr ? 0 : list->length; }

int WSIList_isEmpty(WSIList *list) { return WSIList_getLength(list) == 0 ? 1 : 0; }

void *WSIList_remove(WSIList *list, void *element) {
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    if (p->element == element) {
      unlink(p);
      --list->length;
      wsifree(p);
      return element;
    }
  }
  return nullptr;
}

void *WSIList_removeIter(WSIListPos **position) {
  if (position == nullptr || *position == nullptr || (*position)->sentinel) return nullptr;
  WSIListPos *node = *position;
  WSIList *list = node->owner;
  void *element = node->element;
  *position = node->prev;
  unlink(node);
  --list->length;
  wsifree(node);
  return element;
}

WSIList *WSIList_copy(WSIList *list, WSIListCopyFunc copy, WSIListFreeFunc freeElement) {
  if (list == nullptr || copy == nullptr) return nullptr;
  WSIList *out = WSIList_new();
  if (out == nullptr) return nullptr;
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    void *c = copy(p->element);
    if (c == nullptr && p->element != nullptr) {
      WSIList_free(out, freeElement);
      return nullptr;
    }
    if (WSIList_append(out, c) == 0) {
      if (freeElement != nullptr && c != nullptr) freeElement(c);
      WSIList_free(out, freeElement);
      return nullptr;
    }
  }
  return out;
}

void WSIList_free(WSIList *list, WSIListFreeFunc freeElement) {
  if (list == nullptr) return;
  WSIListPos *const end = &list->head;
  WSIListPos *p = list->head.next;
  while (p != end) {
    WSIListPos *next = p->next;
    if (freeElement != nullptr && p->element != nullptr) freeElement(p->element);
    wsifree(p);
    p = next;
  }
  wsifree(list);
}

void *wsicalloc(size_t count, size_t size) {
  if (failThisAllocation()) return nullptr;
  if (count == 0 || size == 0) return std::calloc(1, 1);
  return std::calloc(count, size);  // calloc refuses count * size overflow
}

char *wsistrdup(const char *text) {
  if (text == nullptr) return nullptr;
  if (failThisAllocation()) return nullptr;
  size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void wsifree(void *block) { std::free(block); }

void wsiTestFailAllocation(unsigned long long nth) {
  allocationCount.store(0, std::memory_order_relaxed);
  failingAllocation.store(nth, std::memory_order_relaxed);
}

unsigned long long wsiTestAllocationCount(void) {
  return allocationCount.load(std::memory_order_relaxed);
}

size_t strlcpy_safe(char *destination, const char *source, size_t size) {
  size_t n = source == nullptr ? 0 : std::strlen(source);
  if (destination == nullptr || size == 0) return n;
  size_t copy = n < size - 1 ? n : size - 1;
  if (copy > 0) std::memmove(destination, source, copy);
  destination[copy] = '\0';
  return n;
}

size_t strlcat_safe(char *destination, const char *source, size_t size) {
  size_t n = source == nullptr ? 0 : std::strlen(source);
  if (destination == nullptr) return n;
  size_t used = 0;
  while (used < size && destination[used] != '\0') ++used;
  if (used == size) return size + n;  // not terminated within size: nothing fits
  size_t room = size - used - 1;
  size_t copy = n < room ? n : room;
  if (copy > 0) std::memmove(destination + used, source, copy);
  destination[used + copy] = '\0';
  return used + n;
}

int strCompare(const char *a, const char *b) {
  if (a == b) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  return foldedCompare(a, b);
}

char *newDelimitedStringCat(const char *first, const char *second, const char *third) {
  const char *parts[3] = {first != nullptr ? first : "", second != nullptr ? second : "",
                          third != nullptr ? third : ""};
  size_t lengths[3];
  size_t total = 1;
  for (int i = 0; i < 3; ++i) total += lengths[i] = std::strlen(parts[i]);
  auto *out = static_cast<char *>(wsicalloc(total, 1));
  if (out == nullptr) return nullptr;
  char *w = out;
  for (int i = 0; i < 3; ++i) {
    std::memcpy(w, parts[i], lengths[i]);
    w += lengths[i];
  }
  return out;
}

int passesStringFilter(const char *filter, const char *value) {
  if (filter == nullptr || *filter == '\0') return 1;
  return wildcardMatch(filter, value != nullptr ? value : "") ? 1 : 0;
}

void setKELVAStatus(KELVAStatus *status, int success, const char *text) {
  if (status == nullptr) return;
  char *copy = wsistrdup(text);  // before freeing: text may be the old message
  wsifree(status->message);
  status->message = copy;
  status->success = success != 0 ? 1 : 0;
}

void clearKELVAStatus(KELVAStatus *status) {
  if (status == nullptr) return;
  wsifree(status->message);
  status->message = nullptr;
  status->success = 1;
}

int checkStatus(const KELVAStatus *status) {
  return (status != nullptr && status->success == 0) ? 1 : 0;
}

void setMessageFuncs(WSIMessageFunc traceFunc, WSIMessageFunc logFunc) {
  traceSink.store(traceFunc, std::memory_order_release);
  logSink.store(logFunc, std::memory_order_release);
}

void waitSeconds(unsigned int seconds) {
  wsi::clock::sleepMillis(static_cast<uint64_t>(seconds) * 1000U);
}

int wsi_gettimeofday(wsi_timeval *now, void *zone) {
  if (now == nullptr || zone != nullptr) return -1;
  pk::platform::WallTime t = wsi::clock::now();
  now->tv_sec = t.seconds;
  now->tv_usec = t.micros;
  return 0;
}

}  // extern "C"
