// A process killed at any step of a save leaves a cache that loads and holds
// everything the last completed save held.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "blockaccess_support.h"
#include "provkit/hwidcache.h"

namespace {

using blocktest::DataDir;
using blocktest::Loaded;
using blocktest::Status;
using ::testing::Contains;

// Runs the crasher on the directory; its exit code.
int crash(const DataDir &dir, const char *when, int nth) {
  std::string where = dir.dir().string();
  std::string step = std::to_string(nth);
  std::vector<char *> argv = {const_cast<char *>(HWIDCACHE_CRASHER), where.data(),
                              const_cast<char *>(when), step.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, HWIDCACHE_CRASHER, nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) return -1;
  return WEXITSTATUS(wstatus);
}

void saveTwice() {
  for (const char *name : {"a", "b"}) {
    Loaded loaded;
    ASSERT_FALSE(loaded.status.failed()) << loaded.status.text();
    Status status;
    HardwareIDCache_add(&status, "f1", name, "linux", "iscsi", loaded.cache);
    HardwareIDCache_save(&status, loaded.cache);
    ASSERT_FALSE(status.failed()) << status.text();
  }
}

TEST(HwidCacheCrash, KilledAtEveryStepOfASaveLosesNothingSaved) {
  for (const char *when : {"before", "after"}) {
    bool finished = false;
    for (int nth = 1; nth < 100 && !finished; ++nth) {
      DataDir dir;
      saveTwice();
      int code = crash(dir, when, nth);
      ASSERT_TRUE(code == 0 || code == 3) << when << " " << nth << ": exit " << code;
      finished = code == 0;
      Loaded loaded;
      ASSERT_FALSE(loaded.status.failed()) << when << " " << nth << ": " << loaded.status.text();
      std::vector<std::string> lines = loaded.lines();
      EXPECT_THAT(lines, Contains("f1|a|linux|iscsi")) << when << " " << nth;
      EXPECT_THAT(lines, Contains("f1|b|linux|iscsi")) << when << " " << nth;
      if (finished) {
        EXPECT_THAT(lines, Contains("f1|new|linux|iscsi")) << when << " " << nth;
      }
      EXPECT_FALSE(std::filesystem::exists(dir.err())) << when << " " << nth;
    }
    EXPECT_TRUE(finished) << when;
  }
}

}  // namespace
