// The hardware ID cache on disk: its format, its entries, what every load and
// save leaves in the data directory (failures injected through the file seam),
// and loads and saves racing on several threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "blockaccess_support.h"
#include "platform/testhooks.h"
#include "provkit/hwidcache.h"
#include "wbemkelvai/wsitesting.h"

namespace {

using blocktest::content;
using blocktest::DataDir;
using blocktest::Loaded;
using blocktest::Status;
using blocktest::write;
using pk::testing::FaultFileSystem;
using pk::testing::FileOp;
using pk::testing::FileSystemInUse;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the four files hold; nullopt for a missing file.
struct Files {
  std::optional<std::string> dat, back, tmp, err;
  bool operator==(const Files &) const = default;
};
Files filesOf(const DataDir &dir) {
  return {content(dir.dat()), content(dir.back()), content(dir.tmp()), content(dir.err())};
}
void PrintTo(const Files &f, std::ostream *os) {
  auto show = [](const std::optional<std::string> &s) { return s ? "\"" + *s + "\"" : "(none)"; };
  *os << "dat " << show(f.dat) << ", back " << show(f.back) << ", tmp " << show(f.tmp) << ", err "
      << show(f.err);
}

// Saves the cache with the entries "f1|<name>|linux|iscsi".
void saveNames(const std::vector<std::string> &names, KELVAStatus *status) {
  Loaded loaded;
  ASSERT_FALSE(loaded.status.failed()) << loaded.status.text();
  while (WSIList_getLength(loaded.cache) != 0) {
    auto *first = static_cast<HardwareIDCacheEntry *>(
        WSIList_getFirstElement(loaded.cache, nullptr, nullptr));
    HardwareIDCache_remove(status, first->filerId, first->name, 1, loaded.cache);
  }
  for (const std::string &name : names)
    HardwareIDCache_add(status, "f1", name.c_str(), "linux", "iscsi", loaded.cache);
  HardwareIDCache_save(status, loaded.cache);
}

class HwidCacheTest : public ::testing::Test {
 protected:
  DataDir dir_;
};

// ---- Format ---------------------------------------------------------------------

TEST_F(HwidCacheTest, OneLineLoadsAndSavesBackByteForByte) {
  write(dir_.dat(), "f1|iqn.x|linux|iscsi\n");
  Loaded loaded;
  ASSERT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|iqn.x|linux|iscsi"));
  Status status;
  HardwareIDCache_save(&status, loaded.cache);
  ASSERT_FALSE(status.failed()) << status.text();
  EXPECT_EQ(content(dir_.dat()), "f1|iqn.x|linux|iscsi\n");
  EXPECT_EQ(content(dir_.back()), "f1|iqn.x|linux|iscsi\n");
}

TEST_F(HwidCacheTest, WordsSplitOnWhiteSpaceAndTheTypeTakesTheRest) {
  // Any white space ends an entry; empty fields are skipped over; the fourth
  // field keeps its separators.
  write(dir_.dat(), "  f1|a|linux|iscsi\tf2||b|win|fcp|x\r\n\nf3|c|os|t|u|v");
  Loaded loaded;
  ASSERT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|a|linux|iscsi", "f2|b|win|fcp|x", "f3|c|os|t|u|v"));
}

TEST_F(HwidCacheTest, EmptyOrMissingFileIsAnEmptyCache) {
  write(dir_.dat(), "");
  {
    Loaded loaded;
    EXPECT_FALSE(loaded.status.failed());
    EXPECT_THAT(loaded.lines(), IsEmpty());
  }
  std::filesystem::remove(dir_.dat());
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed());
  EXPECT_EQ(filesOf(dir_), (Files{"", std::nullopt, std::nullopt, std::nullopt}));
}

TEST_F(HwidCacheTest, EntryLengthLimitIs1020CharactersOfFields) {
  Loaded loaded;
  Status status;
  // Fields total 2 + 1008 + 5 + 5 = 1020: written.
  std::string fits(1008, 'n');
  HardwareIDCache_add(&status, "f1", fits.c_str(), "linux", "iscsi", loaded.cache);
  HardwareIDCache_save(&status, loaded.cache);
  ASSERT_FALSE(status.failed()) << status.text();
  std::string saved = "f1|" + fits + "|linux|iscsi\n";
  EXPECT_EQ(content(dir_.dat()), saved);
  {
    Loaded again;
    EXPECT_THAT(again.lines(), ElementsAre(saved.substr(0, saved.size() - 1)));
  }
  // One more character: refused, and nothing on disk changes.
  std::string tooLong(1009, 'm');
  HardwareIDCache_add(&status, "f1", tooLong.c_str(), "linux", "iscsi", loaded.cache);
  Files before = filesOf(dir_);
  HardwareIDCache_save(&status, loaded.cache);
  EXPECT_EQ(status.text(), "HardwareIDCacher: HardwareID entry too long to cache");
  EXPECT_EQ(filesOf(dir_), before);
}

TEST_F(HwidCacheTest, OverlongWordIsDamageNotAnOverrun) {
  write(dir_.back(), "f1|good|linux|iscsi\n");
  write(dir_.dat(), "f1|" + std::string(5000, 'x') + "|linux|iscsi\n");
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|good|linux|iscsi"));
}

// ---- Entries -------------------------------------------------------------------

TEST_F(HwidCacheTest, AddRemoveAndMarkWorkOnTheCallersList) {
  Loaded loaded;
  Status status;
  HardwareIDCache_add(&status, "f1", "iqn.a", "linux", "iscsi", loaded.cache);
  HardwareIDCache_add(&status, "f2", "iqn.a", "win", "iscsi", loaded.cache);
  ASSERT_FALSE(status.failed()) << status.text();
  HardwareIDCache_add(&status, "F1", "IQN.A", "linux", "iscsi", loaded.cache);
  EXPECT_EQ(status.text(), "HardwareIDCacher: HardwareID already exists - 'IQN.A'");
  EXPECT_EQ(WSIList_getLength(loaded.cache), 2u);

  Status missing;
  HardwareIDCache_remove(&missing, "f1", "iqn.none", 0, loaded.cache);
  EXPECT_FALSE(missing.failed());
  HardwareIDCache_remove(&missing, "f1", "iqn.none", 1, loaded.cache);
  EXPECT_EQ(missing.text(), "HardwareIDCacher: HarwareID not found - 'iqn.none'");

  // A marked entry stays in the list but not in the file.
  HardwareIDCache_markForDelete(
      static_cast<HardwareIDCacheEntry *>(WSIList_getFirstElement(loaded.cache, nullptr, nullptr)));
  Status saved;
  HardwareIDCache_save(&saved, loaded.cache);
  ASSERT_FALSE(saved.failed()) << saved.text();
  EXPECT_EQ(WSIList_getLength(loaded.cache), 2u);
  EXPECT_EQ(content(dir_.dat()), "f2|iqn.a|win|iscsi\n");

  Status removed;
  HardwareIDCache_remove(&removed, "f2", "iqn.a", 1, loaded.cache);
  EXPECT_FALSE(removed.failed());
  EXPECT_EQ(WSIList_getLength(loaded.cache), 1u);
}

TEST_F(HwidCacheTest, AddOutOfMemoryLeavesTheListAsItWas) {
  Loaded loaded;
  for (unsigned long long nth = 1; nth <= 5; ++nth) {
    Status status;
    wsiTestFailAllocation(nth);
    HardwareIDCache_add(&status, "f1", "iqn.a", "linux", "iscsi", loaded.cache);
    wsiTestFailAllocation(0);
    if (!status.failed()) {
      EXPECT_GE(nth, 5u);  // entry, four copies: the fifth allocation is the last
      break;
    }
    EXPECT_EQ(status.text(), "HardwareIDCacher: Insufficient memory");
    EXPECT_EQ(WSIList_getLength(loaded.cache), 0u);
  }
}

// ---- What a load leaves on disk ------------------------------------------------

TEST_F(HwidCacheTest, LoadOfAGoodFileChangesNothing) {
  write(dir_.dat(), "f1|a|linux|iscsi\n");
  write(dir_.back(), "f1|old|linux|iscsi\n");
  write(dir_.err(), "junk");
  Files before = filesOf(dir_);
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed());
  EXPECT_EQ(filesOf(dir_), before);
}

TEST_F(HwidCacheTest, DamagedFileIsSetAsideAndTheBackupTaken) {
  write(dir_.dat(), "f1|a|linux|iscsi\nf1|b|linux\n");
  write(dir_.back(), "f1|a|linux|iscsi\n");
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|a|linux|iscsi"));
  EXPECT_EQ(filesOf(dir_), (Files{"f1|a|linux|iscsi\n", std::nullopt, std::nullopt,
                                  "f1|a|linux|iscsi\nf1|b|linux\n"}));
}

TEST_F(HwidCacheTest, DamagedFileAndDamagedBackupKeepWhatReadBeforeTheBadWord) {
  write(dir_.dat(), "f1|first|damaged\n");
  write(dir_.back(), "f1|a|linux|iscsi\nf1|b|linux|iscsi\nonlyone\nf1|c|linux|iscsi\n");
  write(dir_.err(), "older");
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|a|linux|iscsi", "f1|b|linux|iscsi"));
  EXPECT_EQ(filesOf(dir_), (Files{"", std::nullopt, std::nullopt, "f1|first|damaged\n"}));
}

TEST_F(HwidCacheTest, DamagedFileWithoutBackupFailsOnTheBackupsRename) {
  write(dir_.dat(), "f1|a|linux\n");
  Loaded loaded;
  EXPECT_EQ(loaded.cache, nullptr);
  std::string expected =
      "HardwareIDCacher: Failed to rename file - '" + dir_.back().string() + "' (errno = 2)";
  EXPECT_EQ(loaded.status.text(), expected.substr(0, 79));
  EXPECT_LE(loaded.status.text().size(), 79u);
  EXPECT_EQ(filesOf(dir_), (Files{"", std::nullopt, std::nullopt, "f1|a|linux\n"}));
}

TEST_F(HwidCacheTest, AWordShortOfAnyFieldIsDamage) {
  for (const char *word : {"||||", "f1", "f1||a|", "f1|a|b|", "f1|a|b"}) {
    write(dir_.back(), "f1|good|linux|iscsi\n");
    write(dir_.dat(), std::string(word) + "\n");
    Loaded loaded;
    EXPECT_FALSE(loaded.status.failed()) << word << ": " << loaded.status.text();
    EXPECT_THAT(loaded.lines(), ElementsAre("f1|good|linux|iscsi")) << word;
    EXPECT_EQ(content(dir_.err()), std::string(word) + "\n");
  }
}

TEST_F(HwidCacheTest, CannotCreateTheEmptyFile) {
  FaultFileSystem faults;
  faults.fail({FileOp::Create, 1, EACCES, "hwidcache.dat"});
  FileSystemInUse inUse(faults);
  Loaded loaded;
  EXPECT_EQ(loaded.cache, nullptr);
  std::string expected = "HardwareIDCacher: Failed to create empty cache file - '" +
                         dir_.dat().string() + "' (errno = 13)";
  EXPECT_EQ(loaded.status.text(), expected.substr(0, 79));
}

// ---- What a save leaves on disk ---------------------------------------------------

class HwidSaveTest : public HwidCacheTest {
 protected:
  void SetUp() override {
    Status status;
    saveNames({"old"}, &status);
    saveNames({"prev"}, &status);
    ASSERT_FALSE(status.failed()) << status.text();
    ASSERT_EQ(content(dir_.dat()), kPrevious);
    ASSERT_EQ(content(dir_.back()), "f1|old|linux|iscsi\n");
  }
  static constexpr const char *kPrevious = "f1|prev|linux|iscsi\n";
  static constexpr const char *kNew = "f1|new|linux|iscsi\n";

  // Saves {new} with the fault in place; the status text.
  std::string saveWith(FaultFileSystem::Fault fault) {
    Loaded loaded;
    EXPECT_FALSE(loaded.status.failed()) << loaded.status.text();
    Status status;
    HardwareIDCache_remove(&status, "f1", "prev", 1, loaded.cache);
    HardwareIDCache_add(&status, "f1", "new", "linux", "iscsi", loaded.cache);
    FaultFileSystem faults;
    faults.fail(std::move(fault));
    FileSystemInUse inUse(faults);
    HardwareIDCache_save(&status, loaded.cache);
    return status.text();
  }
  std::string expected(const char *message, const std::filesystem::path &path, int error) {
    return ("HardwareIDCacher: " + std::string(message) + " - '" + path.string() +
            "' (errno = " + std::to_string(error) + ")")
        .substr(0, 79);
  }
};

TEST_F(HwidSaveTest, SuccessfulSave) {
  EXPECT_EQ(saveWith({FileOp::Lock, 99}), "");
  EXPECT_EQ(filesOf(dir_), (Files{kNew, kPrevious, std::nullopt, std::nullopt}));
}

TEST_F(HwidSaveTest, FailedWhileWritingLeavesEverythingButTheTemporaryFile) {
  for (FileOp op : {FileOp::Write, FileOp::Sync, FileOp::MarkComplete, FileOp::Close}) {
    EXPECT_EQ(saveWith({op, 1, EIO, "hwidcache.tmp"}),
              ("HardwareIDCacher: Failed to write HardwareID - 'new' (errno = 5)"))
        << pk::testing::opName(op);
    EXPECT_EQ(filesOf(dir_), (Files{kPrevious, "f1|old|linux|iscsi\n", std::nullopt, std::nullopt}))
        << pk::testing::opName(op);
  }
}

TEST_F(HwidSaveTest, CannotOpenTheTemporaryFile) {
  EXPECT_EQ(saveWith({FileOp::Create, 1, EACCES, "hwidcache.tmp"}),
            expected("Failed to open cache file", dir_.tmp(), EACCES));
  EXPECT_EQ(filesOf(dir_), (Files{kPrevious, "f1|old|linux|iscsi\n", std::nullopt, std::nullopt}));
}

TEST_F(HwidSaveTest, FinalRenameFailedAndTheNextLoadFinishesIt) {
  EXPECT_EQ(saveWith({FileOp::Rename, 1, EIO, "hwidcache.tmp"}),
            expected("Failed to rename file", dir_.tmp(), EIO));
  EXPECT_EQ(filesOf(dir_), (Files{std::nullopt, kPrevious, kNew, std::nullopt}));
  // Nothing the save wrote is lost: the complete temporary file is the cache.
  Loaded loaded;
  EXPECT_FALSE(loaded.status.failed()) << loaded.status.text();
  EXPECT_THAT(loaded.lines(), ElementsAre("f1|new|linux|iscsi"));
  EXPECT_EQ(filesOf(dir_), (Files{kNew, kPrevious, std::nullopt, std::nullopt}));
}

TEST_F(HwidSaveTest, BackupRenameFailedSoTheOldFileIsRemoved) {
  EXPECT_EQ(saveWith({FileOp::Rename, 1, EIO, "hwidcache.dat"}), "");
  EXPECT_EQ(filesOf(dir_), (Files{kNew, "f1|old|linux|iscsi\n", std::nullopt, std::nullopt}));
}

TEST_F(HwidSaveTest, SaveWithoutACacheFileKeepsTheNewOneAside) {
  std::filesystem::remove(dir_.dat());
  Loaded loaded;  // creates an empty hwidcache.dat
  std::filesystem::remove(dir_.dat());
  Status status;
  HardwareIDCache_add(&status, "f1", "new", "linux", "iscsi", loaded.cache);
  HardwareIDCache_save(&status, loaded.cache);
  EXPECT_EQ(status.text(), expected("Failed to remove file", dir_.dat(), ENOENT));
  EXPECT_EQ(filesOf(dir_), (Files{std::nullopt, "f1|old|linux|iscsi\n", kNew, std::nullopt}));
}

#if !defined(_WIN32)
// Completeness is the owner's read permission on POSIX.
TEST_F(HwidSaveTest, IncompleteTemporaryFileIsNotTakenForTheCache) {
  // A save cut off while writing leaves an incomplete temporary file: a load
  // that finds no cache file starts an empty one and leaves it alone.
  std::filesystem::remove(dir_.dat());
  write(dir_.tmp(), "f1|half");
  std::filesystem::permissions(dir_.tmp(), std::filesystem::perms::owner_write);
  Loaded loaded;
  EXPECT_THAT(loaded.lines(), IsEmpty());
  EXPECT_EQ(content(dir_.dat()), "");
  std::filesystem::permissions(dir_.tmp(), std::filesystem::perms::owner_all);
  EXPECT_EQ(content(dir_.tmp()), "f1|half");
}
#endif

// ---- Threads ---------------------------------------------------------------------

TEST_F(HwidCacheTest, LoadsNeverSeeAHalfWrittenCacheWhileOthersSave) {
  Status status;
  saveNames({"a", "b", "c"}, &status);
  ASSERT_FALSE(status.failed());
  std::atomic<int> problems{0};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        Loaded loaded;
        if (loaded.status.failed() || loaded.lines().size() != 3) ++problems;
        if (t % 2 == 0) {
          Status saved;
          HardwareIDCache_save(&saved, loaded.cache);
          if (saved.failed()) ++problems;
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(problems.load(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.err()));
}

}  // namespace
