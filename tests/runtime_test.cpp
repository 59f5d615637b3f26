// The controller library's runtime: lists, strings, filters, status records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "wbemkelvai/wsiruntime.h"
#include "wbemkelvai/wsitesting.h"

namespace {

std::vector<std::string> texts(WSIList *list) {
  std::vector<std::string> out;
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    out.emplace_back(static_cast<const char *>(WSIList_getElement(p)));
  }
  return out;
}

WSIList *listOf(std::initializer_list<const char *> items) {
  WSIList *list = WSIList_new();
  for (const char *item : items) EXPECT_NE(WSIList_append(list, wsistrdup(item)), 0);
  return list;
}

void freeText(void *p) { wsifree(p); }
void *copyText(void *p) { return wsistrdup(static_cast<const char *>(p)); }

int freedCount = 0;
void countingFree(void *p) {
  ++freedCount;
  wsifree(p);
}

int copiesLeft = 0;
void *failingCopy(void *p) {
  if (copiesLeft-- <= 0) return nullptr;
  return wsistrdup(static_cast<const char *>(p));
}

TEST(WSIList, RemovingWhileIteratingVisitsEveryOtherElementOnce) {
  WSIList *list = listOf({"a", "b", "c", "d", "e"});
  std::vector<std::string> seen;
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    auto *text = static_cast<char *>(WSIList_getElement(p));
    seen.emplace_back(text);
    if (text[0] == 'a' || text[0] == 'c' || text[0] == 'e') wsifree(WSIList_removeIter(&p));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(texts(list), (std::vector<std::string>{"b", "d"}));
  EXPECT_EQ(WSIList_getLength(list), 2U);
  WSIList_free(list, freeText);
}

TEST(WSIList, RemovingEveryElementThroughTheIteratorEmptiesTheList) {
  WSIList *list = listOf({"a", "b", "c"});
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    wsifree(WSIList_removeIter(&p));
  }
  EXPECT_TRUE(WSIList_isEmpty(list));
  EXPECT_EQ(WSIList_getFirst(list), nullptr);
  // The list still works after being emptied.
  ASSERT_NE(WSIList_append(list, wsistrdup("z")), 0);
  EXPECT_EQ(texts(list), (std::vector<std::string>{"z"}));
  WSIList_free(list, freeText);
}

TEST(WSIList, RemoveByIdentityReturnsTheElementAndIgnoresEqualCopies) {
  char a[] = "same", b[] = "same";
  WSIList *list = WSIList_new();
  WSIList_append(list, a);
  WSIList_append(list, b);
  EXPECT_EQ(WSIList_remove(list, b), b);
  EXPECT_EQ(WSIList_getFirstElement(list, nullptr, nullptr), a);
  EXPECT_EQ(WSIList_remove(list, b), nullptr);
  EXPECT_EQ(WSIList_getLength(list), 1U);
  WSIList_free(list, nullptr);  // elements are not the list's: nothing else freed
}

TEST(WSIList, FirstElementWithAMatchFunction) {
  WSIList *list = listOf({"alpha", "beta", "gamma"});
  auto startsWith = [](const void *e, const void *key) {
    return std::strncmp(static_cast<const char *>(e), static_cast<const char *>(key), 1) == 0 ? 1
                                                                                              : 0;
  };
  EXPECT_STREQ(static_cast<char *>(WSIList_getFirstElement(list, startsWith, "g")), "gamma");
  EXPECT_EQ(WSIList_getFirstElement(list, startsWith, "x"), nullptr);
  EXPECT_EQ(WSIList_getFirstElement(nullptr, nullptr, nullptr), nullptr);
  WSIList_free(list, freeText);
}

TEST(WSIList, CopyKeepsOrderAndAFailingCopierLeavesNothingBehind) {
  WSIList *list = listOf({"a", "b", "c"});
  WSIList *copy = WSIList_copy(list, copyText, freeText);
  EXPECT_EQ(texts(copy), texts(list));
  EXPECT_NE(WSIList_getElement(WSIList_getFirst(copy)), WSIList_getElement(WSIList_getFirst(list)));
  WSIList_free(copy, freeText);

  freedCount = 0;
  copiesLeft = 2;  // the third copy fails: the two made are freed
  EXPECT_EQ(WSIList_copy(list, failingCopy, countingFree), nullptr);
  EXPECT_EQ(freedCount, 2);
  EXPECT_EQ(WSIList_getLength(list), 3U);

  freedCount = 0;
  WSIList_free(list, countingFree);
  EXPECT_EQ(freedCount, 3);
}

TEST(WSIList, NullListsAreEmpty) {
  EXPECT_EQ(WSIList_getLength(nullptr), 0U);
  EXPECT_NE(WSIList_isEmpty(nullptr), 0);
  EXPECT_EQ(WSIList_append(nullptr, nullptr), 0);
  EXPECT_EQ(WSIList_getNext(nullptr), nullptr);
  EXPECT_EQ(WSIList_removeIter(nullptr), nullptr);
  WSIList_free(nullptr, freeText);
}

TEST(BoundedStrings, CopyCutsAtTheLimitAndReportsTheFullLength) {
  char buf[4];
  EXPECT_EQ(strlcpy_safe(buf, "abc", sizeof buf), 3U);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(strlcpy_safe(buf, "abcd", sizeof buf), 4U);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(strlcpy_safe(buf, "", sizeof buf), 0U);
  EXPECT_STREQ(buf, "");
  buf[0] = 'x';
  EXPECT_EQ(strlcpy_safe(buf, "abc", 0), 3U);  // no room at all: untouched
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(strlcpy_safe(buf, "abc", 1), 3U);
  EXPECT_STREQ(buf, "");
}

TEST(BoundedStrings, CatFillsToTheLimitAndStaysTerminated) {
  char buf[6] = "ab";
  EXPECT_EQ(strlcat_safe(buf, "cd", sizeof buf), 4U);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(strlcat_safe(buf, "efg", sizeof buf), 7U);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(strlcat_safe(buf, "x", sizeof buf), 6U);
  EXPECT_STREQ(buf, "abcde");
  char unterminated[3] = {'a', 'b', 'c'};
  EXPECT_EQ(strlcat_safe(unterminated, "d", sizeof unterminated), 4U);
  EXPECT_EQ(std::memcmp(unterminated, "abc", 3), 0);
}

TEST(Strings, CompareIgnoresCaseAndOrdersNullFirst) {
  EXPECT_EQ(strCompare("KELVA_StorageVolume", "kelva_storagevolume"), 0);
  EXPECT_LT(strCompare("abc", "abd"), 0);
  EXPECT_GT(strCompare("abcd", "ABC"), 0);
  EXPECT_EQ(strCompare(nullptr, nullptr), 0);
  EXPECT_LT(strCompare(nullptr, ""), 0);
  EXPECT_GT(strCompare("", nullptr), 0);
}

// The comparison reads blocks of a text at a time: every length, every
// position of the first difference and texts that end right at a page end
// must give the sign of a byte-by-byte ASCII-folding comparison.
TEST(Strings, CompareAgreesWithBytewiseFoldingAtEveryLengthAndPlace) {
  auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : int{c}; };
  auto reference = [&](const char *a, const char *b) {
    for (;; ++a, ++b) {
      int ca = fold(static_cast<unsigned char>(*a)), cb = fold(static_cast<unsigned char>(*b));
      if (ca != cb || ca == 0) return (ca > cb) - (ca < cb);
    }
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  // Whole pages, so that a text can end on the last byte of one.
  std::vector<char> pages(4 * 4096);
  char *page = pages.data() + (4096 - reinterpret_cast<std::uintptr_t>(pages.data()) % 4096);
  const unsigned char pairs[][2] = {{'A', 'a'}, {'Z', 'z'},   {'@', '`'},  {'[', '{'},
                                    {'a', 'b'}, {0xC0, 0xE0}, {0x80, 'x'}, {'m', 0}};
  for (size_t length = 0; length <= 40; ++length) {
    for (size_t diff = 0; diff <= length; ++diff) {
      for (const auto &pair : pairs) {
        for (size_t end : {size_t{4096}, size_t{4096 - 7}, size_t{2 * 4096 - 1}}) {
          // a ends right before `end` (its terminator at end - 1); b is elsewhere.
          char *a = page + end - 1 - length;
          char *b = page + 2 * 4096 + 100;
          for (size_t i = 0; i < length; ++i) a[i] = b[i] = static_cast<char>('a' + i % 26);
          a[length] = b[length] = '\0';
          if (diff < length) {
            a[diff] = static_cast<char>(pair[0]);
            b[diff] = static_cast<char>(pair[1]);
          }
          ASSERT_EQ(sign(strCompare(a, b)), reference(a, b)) << length << " " << diff;
          ASSERT_EQ(sign(strCompare(b, a)), reference(b, a)) << length << " " << diff;
        }
      }
    }
  }
}

TEST(Strings, DelimitedCatTreatsNullPartsAsEmpty) {
  char *s = newDelimitedStringCat(nullptr, "/", nullptr);
  EXPECT_STREQ(s, "/");
  wsifree(s);
  s = newDelimitedStringCat("vol0", nullptr, "lun1");
  EXPECT_STREQ(s, "vol0lun1");
  wsifree(s);
  EXPECT_EQ(wsistrdup(nullptr), nullptr);
}

TEST(Filters, MissingOrEmptyFilterPassesEverything) {
  EXPECT_TRUE(passesStringFilter(nullptr, "Antecedent"));
  EXPECT_TRUE(passesStringFilter("", "Antecedent"));
  EXPECT_TRUE(passesStringFilter(nullptr, nullptr));
}

TEST(Filters, PlainTextMatchesTheWholeValueIgnoringCase) {
  EXPECT_TRUE(passesStringFilter("Antecedent", "antecedent"));
  EXPECT_FALSE(passesStringFilter("Antecedent", "Antecedents"));
  EXPECT_FALSE(passesStringFilter("Ante", "Antecedent"));
  EXPECT_FALSE(passesStringFilter("x", nullptr));
}

TEST(Filters, Wildcards) {
  EXPECT_TRUE(passesStringFilter("KELVA_*", "KELVA_StorageVolume"));
  EXPECT_TRUE(passesStringFilter("*Volume", "KELVA_StorageVolume"));
  EXPECT_TRUE(passesStringFilter("*a*b*c*", "xxaxxbxxcxx"));
  EXPECT_FALSE(passesStringFilter("*a*b*c*", "xxaxxcxxbxx"));
  EXPECT_TRUE(passesStringFilter("vol?", "vol0"));
  EXPECT_FALSE(passesStringFilter("vol?", "vol"));
  EXPECT_TRUE(passesStringFilter("*", nullptr));
  EXPECT_TRUE(passesStringFilter("a**", "a"));
  // A backslash takes the next character literally.
  EXPECT_TRUE(passesStringFilter("what\\?", "what?"));
  EXPECT_FALSE(passesStringFilter("what\\?", "whatx"));
  EXPECT_TRUE(passesStringFilter("100\\*", "100*"));
  EXPECT_FALSE(passesStringFilter("100\\*", "1000"));
}

TEST(StatusRecord, LifeOfARecord) {
  KELVAStatus status = KELVA_STATUS_INIT;
  EXPECT_EQ(checkStatus(&status), 0);
  setKELVAStatus(&status, 0, "Filer 10.0.0.1: volume not found");
  EXPECT_NE(checkStatus(&status), 0);
  EXPECT_STREQ(status.message, "Filer 10.0.0.1: volume not found");
  // Setting from its own message must not read freed memory.
  setKELVAStatus(&status, 0, status.message);
  EXPECT_STREQ(status.message, "Filer 10.0.0.1: volume not found");
  setKELVAStatus(&status, 7, nullptr);
  EXPECT_EQ(status.success, 1);
  EXPECT_EQ(status.message, nullptr);
  setKELVAStatus(&status, 0, "again");
  clearKELVAStatus(&status);
  EXPECT_EQ(checkStatus(&status), 0);
  EXPECT_EQ(status.message, nullptr);
  clearKELVAStatus(nullptr);
  EXPECT_EQ(checkStatus(nullptr), 0);
}

TEST(Time, ClockAndWait) {
  wsi_timeval before{}, after{};
  ASSERT_EQ(wsi_gettimeofday(&before, nullptr), 0);
  EXPECT_GT(before.tv_sec, 1700000000);  // after 2023: a real wall clock
  EXPECT_GE(before.tv_usec, 0);
  EXPECT_LT(before.tv_usec, 1000000);
  waitSeconds(1);
  ASSERT_EQ(wsi_gettimeofday(&after, nullptr), 0);
  EXPECT_GE(after.tv_sec - before.tv_sec, 1);
  EXPECT_EQ(wsi_gettimeofday(nullptr, nullptr), -1);
}

}  // namespace

// The failing allocator fails exactly the call it is told to, once, and
// counts every call so a test can walk a function's allocations in turn.
TEST(FailingAllocator, FailsTheNthCallOnceAndCountsTheRest) {
  wsiTestFailAllocation(2);
  char *first = wsistrdup("a");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(wsicalloc(1, 8), nullptr);
  void *third = wsicalloc(1, 8);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(wsiTestAllocationCount(), 3u);
  EXPECT_EQ(wsistrdup(nullptr), nullptr);  // no allocation, not counted
  EXPECT_EQ(wsiTestAllocationCount(), 3u);
  wsifree(first);
  wsifree(third);
  wsiTestFailAllocation(0);
}
