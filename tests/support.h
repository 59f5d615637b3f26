// Small helpers shared by the tests.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsitesting.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace pktest {

// A controller status record released at the end of its scope.
struct Record {
  KELVAStatus s = KELVA_STATUS_INIT;
  Record() = default;
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;
  ~Record() { clearKELVAStatus(&s); }
  KELVAStatus *get() { return &s; }
  bool failed() const { return checkStatus(&s) != 0; }
  std::string text() const { return s.message != nullptr ? s.message : ""; }
};

// The text of a CMPI string, "" for none.
inline std::string text(const CMPIString *s) {
  if (s == nullptr) return "";
  const char *chars = s->ft->getCharPtr(s, nullptr);
  return chars != nullptr ? chars : "";
}

// Makes the nth controller-library allocation from now on fail, for the
// scope; the allocator works again afterwards.
class FailingAllocation {
 public:
  explicit FailingAllocation(unsigned long long nth) { wsiTestFailAllocation(nth); }
  ~FailingAllocation() { wsiTestFailAllocation(0); }
  FailingAllocation(const FailingAllocation &) = delete;
  FailingAllocation &operator=(const FailingAllocation &) = delete;
};

// A file of the tests' data folder (PROVKIT_TEST_DATA, set by ctest).
inline std::string testData(const std::string &name) {
  const char *dir = std::getenv("PROVKIT_TEST_DATA");
  return std::string(dir != nullptr ? dir : "tests/data") + "/" + name;
}

// Whether a library of that file name is mapped into this process.
inline bool isMapped(const std::string &fileName) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.size() > fileName.size() && line.ends_with("/" + fileName)) return true;
  }
  return false;
}

}  // namespace pktest
