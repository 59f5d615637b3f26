// The filer registry over real files: the life of filers.dat and its
// companions, lookups, subscribers, and many threads at once.
#include <cimom/testing.h>
#include <fcntl.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wbemkelvai/wsitesting.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "registry_support.h"
#if defined(_WIN32)
#include "win32/wine.h"
#endif
#include "wbemkelvai/filerline.h"

namespace {

using namespace regtest;

std::mutex eventsLock;
std::vector<std::pair<int, std::string>> events;
void recordEvent(int32_t code, const Filer *filer) {
  std::lock_guard<std::mutex> guard(eventsLock);
  events.emplace_back(code, filer->systemId != nullptr ? filer->systemId : "");
}

std::atomic<int> added{0}, removed{0};
void countEvent(int32_t code, const Filer *) { (code == 0 ? added : removed)++; }

class RegistryTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    currentBroker() = broker;
    dir = useNewDataDir();
    subscribeToFilerChange(broker, nullptr, recordEvent);
    events.clear();
  }
  void TearDown() override {
    unsubscribeToFilerChange(broker, nullptr, recordEvent);
    // The registry outlives a test, its object manager does not.
    pk::testing::resetFilerRegistry(broker);
    currentBroker() = nullptr;
    fs::remove_all(dir);
    ObjectManagerTest::TearDown();
  }
  fs::path dat() const { return dir / "filers.dat"; }
  fs::path tmp() const { return dir / "filers.dat.tmp"; }
  fs::path back() const { return dir / "filers.dat.back"; }
  // The next registry operation loads the files as a new process would.
  void restart() { pk::testing::resetFilerRegistry(broker); }

  fs::path dir;
};

TEST_P(RegistryTest, AddsAndRemovesThroughTheFileAndItsBackup) {
  // The first add finds no file: the backup is made from the new file.
  ASSERT_EQ(add(newFiler("A", "a.test", 443, "pa:ss")), CMPI_RC_OK);
  const std::string lineA = encodedLine("A:a.test:root:1:443:30:pa:ss");
  EXPECT_EQ(lines(dat()), std::vector<std::string>{lineA});
  EXPECT_EQ(lines(back()), std::vector<std::string>{lineA});
  EXPECT_FALSE(fs::exists(tmp()));

  // The same systemId twice is stored twice; lookups return the first.
  ASSERT_EQ(add(newFiler("B")), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("A", "second.test")), CMPI_RC_OK);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(lines(dat()).size(), 3u);
  EXPECT_EQ(lines(back()).size(), 2u);
  Status status;
  Filer *found = filerExists(broker, &status, "a");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->host, "a.test");

  // Removal takes the first match out and rewrites the file from the list.
  removeFilerFromList(broker, &status, found);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(lines(dat()).size(), 2u);
  EXPECT_EQ(lines(back()).size(), 3u);
  EXPECT_FALSE(fs::exists(tmp()));
  freeFiler(found);

  // A filer that is not registered is still "removed": rewrite and notification.
  Filer *ghost = newFiler("ghost");
  removeFilerFromList(broker, &status, ghost);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(lines(back()).size(), 2u);

  // Modify: out with the old, in with the new, each told to subscribers.
  Filer *old = newFiler("B");
  modifyFiler(broker, &status, old, newFiler("C"));
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "C"}));
  using E = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(events, (E{{0, "A"}, {0, "B"}, {0, "A"}, {1, "A"}, {1, "ghost"}, {1, "B"}, {0, "C"}}));
  freeFiler(old);
  freeFiler(ghost);

  // Records that cannot be stored are refused before anything is written.
  Status none(addFilerToList(broker, nullptr));
  EXPECT_EQ(none.message(), "No filer passed in.");
  Filer *anonymous = newFiler("");
  Status noId(addFilerToList(broker, anonymous));
  EXPECT_EQ(noId.message(), "No System ID specified.");
  freeFiler(anonymous);
  EXPECT_EQ(lines(dat()).size(), 2u);
}

TEST_P(RegistryTest, FailedUpdatesLeaveTheFileAsItWas) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  const auto before = lines(dat());

  // A directory where the temporary file belongs cannot be opened, even by root.
  fs::create_directory(tmp());
  Filer *a = newFiler("A");
  Status status;
  removeFilerFromList(broker, &status, a);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_FAILED);
#if defined(_WIN32)
  const int isDirectory = EACCES;  // what Windows says of a directory opened as a file
#else
  const int isDirectory = EISDIR;
#endif
  EXPECT_EQ(status.message(),
            "Unable to open " + tmp().string() + ", errno: " + std::to_string(isDirectory));
  EXPECT_EQ(add(newFiler("B")), CMPI_RC_ERR_FAILED);
  EXPECT_EQ(lines(dat()), before);
  fs::remove(tmp());

  // filers.dat and filers.dat.back as non-empty directories: both renames of a
  // rewrite fail, the new list stays in the temporary file, nobody is notified.
  ASSERT_EQ(add(newFiler("C")), CMPI_RC_OK);
  events.clear();
  fs::remove(dat());
  fs::remove(back());
  fs::create_directories(dat() / "x");
  fs::create_directories(back() / "x");
  Filer *c = newFiler("C");
  status.reset();
  removeFilerFromList(broker, &status, c);
  EXPECT_EQ(status.message(), "Failed to rename filers.dat.tmp to filers.dat");
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(listedIds(), std::vector<std::string>{});
  EXPECT_TRUE(lines(tmp()).empty());
  freeFiler(a);
  freeFiler(c);
}

TEST_P(RegistryTest, LooksFilersUp) {
  ASSERT_EQ(add(newFiler("A", "a.test", 443)), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("B", "b.test", 80)), CMPI_RC_OK);
  Status status;
  Filer *byKeys = filerExistsFromKeys(broker, &status, "B.TEST", 80);
  ASSERT_NE(byKeys, nullptr);
  EXPECT_STREQ(byKeys->systemId, "B");
  EXPECT_EQ(filerExistsFromKeys(broker, &status, "b.test", 443), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);

  EXPECT_EQ(filerExists(broker, &status, "nobody"), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(getFilerByName(&status, broker, nullptr, nullptr, "nobody"), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(status.message(), "KELVA_FilerData Instance not found");

  WSIList *list = getFilers(&status, broker, nullptr, nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(WSIList_getLength(list), 2u);
  freeFilers(list);
  bool logged = false;
  for (const auto &log : om->logs())
    logged |= log.severity == 3 && log.text == "Got List of Filers.";
  EXPECT_TRUE(logged);

  // With no place, a record is freed even under a good status.
  returnOrFreeFiler(byKeys, nullptr, &status);
}

// Names are looked up through an index of the list: it must give the first
// record of a name in list order however the list got that way.
TEST_P(RegistryTest, NameLookupsFindTheFirstOfSeveralRecordsThroughEveryChange) {
  auto hostOf = [&](const char *name) {
    Status status;
    Filer *found = filerExists(broker, &status, name);
    std::string host = found != nullptr ? found->host : "none";
    freeFiler(found);
    return host;
  };
  auto removeNamed = [&](const char *name) {
    Filer *key = newFiler(name);
    Status status;
    removeFilerFromList(broker, &status, key);
    freeFiler(key);
    return status.s.rc;
  };
  ASSERT_EQ(add(newFiler("Dup", "d1.test")), CMPI_RC_OK);
  EXPECT_EQ(hostOf("dUP"), "d1.test");  // looked up before the next adds
  ASSERT_EQ(add(newFiler("other", "o.test")), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("dup", "d2.test")), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("DUP", "d3.test")), CMPI_RC_OK);
  EXPECT_EQ(hostOf("dup"), "d1.test");
  EXPECT_EQ(hostOf(nullptr), "none");

  ASSERT_EQ(removeNamed("DuP"), CMPI_RC_OK);  // takes the first one out
  EXPECT_EQ(hostOf("DUP"), "d2.test");
  restart();  // the file keeps the order
  EXPECT_EQ(hostOf("Dup"), "d2.test");
  ASSERT_EQ(removeNamed("dup"), CMPI_RC_OK);
  EXPECT_EQ(hostOf("dup"), "d3.test");
  ASSERT_EQ(removeNamed("dup"), CMPI_RC_OK);
  EXPECT_EQ(hostOf("dup"), "none");
  EXPECT_EQ(hostOf("OTHER"), "o.test");
  ASSERT_EQ(add(newFiler("dup", "d4.test")), CMPI_RC_OK);
  EXPECT_EQ(hostOf("dup"), "d4.test");
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"other", "dup"}));
}

TEST_P(RegistryTest, FindsFilersByTheirAddresses) {
  filersim::Simulator sim(nlohmann::json::parse(std::ifstream(FILERSIM_DEFAULT_SCENARIO)));
  sim.registerInProcess();
  for (const auto &name : sim.filerNames()) {
    Filer *f = newFiler(sim.systemId(name), "unused");
    wsifree(f->host);
    f->host = wsistrdup(sim.host(name).c_str());
    wsifree(f->userName);
    f->userName = wsistrdup(sim.userName(name).c_str());
    wsifree(f->password);
    f->password = wsistrdup(sim.password(name).c_str());
    ASSERT_EQ(add(f), CMPI_RC_OK);
  }
  Status status;
  Filer *b = findFilerByIPAddress(broker, "192.0.2.22", &status);
  ASSERT_NE(b, nullptr) << status.message();
  EXPECT_EQ(b->systemId, sim.systemId("kelva-b"));
  Filer *a = findFilerByIPAddress(broker, "198.51.100.121", &status);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->systemId, sim.systemId("kelva-a"));
  EXPECT_EQ(findFilerByIPAddress(broker, "203.0.113.9", &status), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);

  // A filer that cannot tell its addresses ends the search with its error.
  sim.setOnline("kelva-a", false);
  EXPECT_EQ(findFilerByIPAddress(broker, "192.0.2.22", &status), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_FAILED);
  freeFiler(a);
  freeFiler(b);
  status.reset();
  for (const auto &id : listedIds()) {  // before the simulator goes away
    Filer *f = newFiler(id);
    removeFilerFromList(broker, &status, f);
    freeFiler(f);
  }
}

TEST_P(RegistryTest, ManyThreadsKeepListAndFileInStep) {
  added = 0;
  removed = 0;
  subscribeToFilerChange(broker, nullptr, countEvent);
  constexpr int kThreads = 4, kRounds = 25;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kRounds; ++i) {
        std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
        Filer *f = newFiler(id);
        Filer *mine = static_cast<Filer *>(copyFiler(f));
        EXPECT_EQ(add(f), CMPI_RC_OK);
        Status status;
        Filer *found = filerExists(broker, &status, id.c_str());
        EXPECT_NE(found, nullptr) << id;
        freeFiler(found);
        freeFilers(getFilerList(broker, &status));
        if (i % 2 == 0) removeFilerFromList(broker, &status, mine);
        EXPECT_EQ(status.s.rc, CMPI_RC_OK) << status.message();
        freeFiler(mine);
      }
    });
  }
  for (auto &thread : threads) thread.join();
  unsubscribeToFilerChange(broker, nullptr, countEvent);

  EXPECT_EQ(added, kThreads * kRounds);
  EXPECT_EQ(removed, kThreads * ((kRounds + 1) / 2));
  EXPECT_EQ(listedIds().size(), static_cast<size_t>(kThreads * (kRounds / 2)));
  EXPECT_EQ(lines(dat()).size(), listedIds().size());
  EXPECT_FALSE(fs::exists(tmp()));
}

// ---- What is stored reads back ------------------------------------------------

Filer *filerWith(const std::string &id, const std::string &host, const std::string &user,
                 const std::string &password) {
  Filer *f = newFiler(id, host, 443, password);
  wsifree(f->userName);
  f->userName = wsistrdup(user.c_str());
  return f;
}

std::string addMessage(Filer *filer) {
  Status status(addFilerToList(broker(), filer));
  if (status.s.rc != CMPI_RC_OK) freeFiler(filer);
  return status.s.rc == CMPI_RC_OK ? "OK" : status.message();
}

void freeAll(std::vector<Filer *> &filers) {
  for (Filer *f : filers) freeFiler(f);
  filers.clear();
}

TEST_P(RegistryTest, WhatIsStoredReadsBackAndWhatCannotIsRefused) {
  // An IPv6 literal in brackets and a password with ':' come back whole.
  ASSERT_EQ(addMessage(filerWith("V6", "[2001:db8::21]", "root", "pa:ss:")), "OK");
  std::vector<Filer *> read = readBack();
  ASSERT_EQ(read.size(), 1u);
  EXPECT_STREQ(read[0]->host, "[2001:db8::21]");
  EXPECT_STREQ(read[0]->userName, "root");
  EXPECT_STREQ(read[0]->password, "pa:ss:");
  EXPECT_EQ(read[0]->connParam2, 443);
  freeAll(read);

  // Fields that would be cut or lost at the next load are refused, and
  // nothing is written.
  const auto before = lines(dat());
  EXPECT_EQ(addMessage(filerWith("X", "2001:db8::21", "root", "pw")),
            "Host holds ':' and cannot be stored in filers.dat; write an IPv6 address in "
            "brackets, such as [2001:db8::21].");
  EXPECT_EQ(addMessage(filerWith("X", "[2001:db8::21]:443", "root", "pw")),
            "Host in brackets must be one IPv6 address, such as [2001:db8::21].");
  EXPECT_EQ(addMessage(filerWith("X", "h", "DOMAIN:user", "pw")),
            "User name holds ':' and cannot be stored in filers.dat.");
  EXPECT_EQ(addMessage(filerWith("X:1", "h", "root", "pw")),
            "System ID holds ':' and cannot be stored in filers.dat.");
  EXPECT_EQ(addMessage(filerWith("X", "h", "root", "pw\nB:h:root:1:2:3:pw")),
            "Password holds a line end and cannot be stored in filers.dat.");
  EXPECT_EQ(addMessage(filerWith("X", "h\r", "root", "pw")),
            "Host holds a line end and cannot be stored in filers.dat.");
  EXPECT_EQ(addMessage(filerWith("X", "h", "ro\not", "pw")),
            "User name holds a line end and cannot be stored in filers.dat.");
  EXPECT_EQ(lines(dat()), before);
  EXPECT_EQ(listedIds(), std::vector<std::string>{"V6"});
}

TEST_P(RegistryTest, AnAddEndsALastLineThatHasNoLineEnd) {
  ASSERT_EQ(add(newFiler("A", "a.test", 443, "secretA")), CMPI_RC_OK);
  fs::resize_file(dat(), fs::file_size(dat()) - 1);  // edited by hand, no final line end
  ASSERT_EQ(add(newFiler("B", "b.test", 443, "secretB")), CMPI_RC_OK);
  std::vector<Filer *> read = readBack();
  ASSERT_EQ(read.size(), 2u);
  EXPECT_STREQ(read[0]->password, "secretA");
  EXPECT_STREQ(read[1]->systemId, "B");
  freeAll(read);
}

TEST_P(RegistryTest, MalformedLinesAreKeptBeforeTheFirstRewrite) {
  std::string garbage = encodedLine("no record here");
  {
    std::ofstream out(dat(), std::ios::binary);
    out << encodedLine("A:a.test:root:1:443:30:pw") << "\n" << garbage << "\n";
  }
  const std::string asWritten = encodedLine("A:a.test:root:1:443:30:pw") + "\n" + garbage + "\n";
  restart();
  EXPECT_EQ(listedIds(), std::vector<std::string>{"A"});
  fs::path rejected = dir / "filers.dat.rejected";
  ASSERT_TRUE(fs::exists(rejected));
  EXPECT_EQ(lines(rejected), (std::vector<std::string>{lines(dat())[0], garbage}));
  EXPECT_EQ(fs::file_size(rejected), asWritten.size());
#if !defined(_WIN32)  // Windows' access lists are checked by windows_test
  EXPECT_EQ(fs::status(rejected).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif

  // The rewrite drops the line it cannot read; the kept copy still has it.
  Filer *a = newFiler("A");
  Status status;
  removeFilerFromList(broker, &status, a);
  freeFiler(a);
  EXPECT_TRUE(lines(dat()).empty());
  EXPECT_EQ(lines(rejected).back(), garbage);
}

// ---- Only the registry's own regular files, never through a link ----------

TEST_P(RegistryTest, OnlyRegularFilesAreReadAndNoLinkIsFollowed) {
#if defined(_WIN32)
  GTEST_SKIP() << "FIFOs, /dev/zero and symbolic links made by a test need POSIX; the Windows "
                  "side refuses reparse points and devices by attribute";
#endif
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  const auto listed = lines(dat());

  // A FIFO, a link to a device and a file beyond the bound are refused at
  // once instead of blocking or filling memory and disk.
  fs::rename(dat(), dir / "saved");
  ASSERT_EQ(mkfifo(dat().string().c_str(), 0600), 0);
  EXPECT_EQ(addMessage(newFiler("B")), "Unable to read " + dat().string() + ": not a regular file");
  fs::remove(dat());
  fs::create_symlink("/dev/zero", dat());
  EXPECT_EQ(addMessage(newFiler("B")), "Unable to read " + dat().string() + ": not a regular file");
  fs::remove(dat());
  std::ofstream(dat()).put('x');
  fs::resize_file(dat(), filerline::kMaxFileBytes + 1);
  EXPECT_EQ(addMessage(newFiler("B")), "Unable to read " + dat().string() + ": larger than " +
                                           std::to_string(filerline::kMaxFileBytes) + " bytes");
  fs::remove(dat());
  fs::rename(dir / "saved", dat());

  // Links planted at the temporary and back names are replaced, and what
  // they point at is never written.
  std::ofstream(dir / "victim") << "untouched\n";
  fs::create_symlink(dir / "victim", tmp());
  fs::remove(back());
  fs::create_symlink(dir / "victim", back());
  ASSERT_EQ(add(newFiler("B")), CMPI_RC_OK);
  EXPECT_EQ(lines(dir / "victim"), std::vector<std::string>{"untouched"});
  EXPECT_EQ(lines(back()), listed);
  EXPECT_FALSE(fs::is_symlink(back()));
  EXPECT_EQ(lines(dat()).size(), 2u);

  // Every file the registry writes is its owner's alone, an empty list too.
  for (const char *id : {"A", "B"}) {
    Filer *f = newFiler(id);
    Status status;
    removeFilerFromList(broker, &status, f);
    EXPECT_EQ(status.s.rc, CMPI_RC_OK) << status.message();
    freeFiler(f);
  }
  EXPECT_EQ(fs::file_size(dat()), 0u);
  for (const fs::path &p : {dat(), back(), dir / "datadir.lock"})
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << p;
}

// ---- Every failing step of an update ----------------------------------------

using pk::testing::FaultFileSystem;
using pk::testing::FileOp;

TEST_P(RegistryTest, AnUpdateWritesSyncsAndRenamesInCrashSafeOrder) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  FaultFileSystem faults;
  pk::testing::FileSystemInUse inUse(faults);
  ASSERT_EQ(add(newFiler("B")), CMPI_RC_OK);
  EXPECT_EQ(
      faults.calls(),
      (std::vector<std::string>{
          "lock datadir.lock", "inspect filers.dat", "read filers.dat", "remove filers.dat.tmp",
          "create filers.dat.tmp", "write filers.dat.tmp", "sync filers.dat.tmp",
          "mark filers.dat.tmp", "sync filers.dat.tmp", "close filers.dat.tmp",
          "rename filers.dat filers.dat.back", "rename filers.dat.tmp filers.dat",
          "syncdir " + dir.filename().string(), "close datadir.lock"}));
}

struct StepFault {
  FileOp op;
  int nth;
  int error;
  const char *pathPart;
  bool sticky;
};

TEST_P(RegistryTest, EveryFailingStepLeavesAWholeListOnDisk) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("B")), CMPI_RC_OK);
  const std::vector<std::string> ab{"A", "B"}, abc{"A", "B", "C"}, b{"B"};
  const std::string t = tmp().string(), d = dat().string();
  struct Case {
    StepFault fault;
    std::string addMessage;     // "OK" or the add's message
    std::string removeMessage;  // of removing A
  };
  const std::vector<Case> cases = {
      {{FileOp::Lock, 1, EACCES, "", true},
       "Unable to lock the data directory with " + (dir / "datadir.lock").string() + ", errno: 13",
       "Unable to lock the data directory with " + (dir / "datadir.lock").string() + ", errno: 13"},
      {{FileOp::Read, 1, EIO, "", true}, "Unable to read " + d + ", errno: 5", "OK"},
      {{FileOp::Create, 1, EACCES, "", true},
       "Unable to open " + t + ", errno: 13",
       "Unable to open " + t + ", errno: 13"},
      // A stale temporary file that cannot be removed is not written through.
      {{FileOp::Remove, 1, EACCES, "filers.dat.tmp", true},
       "Unable to open " + t + ", errno: 13",
       "Unable to open " + t + ", errno: 13"},
      // Without a look at filers.dat there is nothing to finish; the update goes on.
      {{FileOp::Inspect, 1, EIO, "", true}, "OK", "OK"},
      {{FileOp::Write, 1, ENOSPC, "", true},
       "Unable to write " + t + ", errno: 28",
       "Unable to write " + t + ", errno: 28"},
      {{FileOp::Sync, 1, EIO, "", true},
       "Unable to write " + t + ", errno: 5",
       "Unable to write " + t + ", errno: 5"},
      {{FileOp::MarkComplete, 1, EPERM, "", true},
       "Unable to write " + t + ", errno: 1",
       "Unable to write " + t + ", errno: 1"},
      {{FileOp::Sync, 2, EIO, "", true},
       "Unable to write " + t + ", errno: 5",
       "Unable to write " + t + ", errno: 5"},
      {{FileOp::Close, 1, EIO, "filers.dat.tmp", true},
       "Unable to write " + t + ", errno: 5",
       "Unable to write " + t + ", errno: 5"},
      // filers.dat cannot become the back file: an add carries on, a rewrite
      // reports it; the new list is in place either way.
      {{FileOp::Rename, 1, EACCES, "filers.dat", false},
       "OK",
       "Failed to rename filers.dat to filers.dat.back"},
      // The last rename fails after filers.dat became the back file.
      {{FileOp::Rename, 1, EACCES, "filers.dat.tmp", false},
       "Failed to rename filers.dat.tmp to filers.dat",
       "Failed to rename filers.dat.tmp to filers.dat"},
      // Both renames fail: filers.dat stays, nothing removes it.
      {{FileOp::Rename, 1, EACCES, "", true},
       "Failed to rename filers.dat.tmp to filers.dat",
       "Failed to rename filers.dat.tmp to filers.dat"},
      {{FileOp::SyncDir, 1, EIO, "", true}, "OK", "OK"},
  };
  const auto abLines = lines(dat());
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(pk::testing::opName(c.fault.op)) + " #" + std::to_string(c.fault.nth) +
                 " " + c.fault.pathPart);
    for (bool isAdd : {true, false}) {
      // Start each round from A and B on disk and in memory, nothing else.
      for (const fs::path &p : {dat(), tmp(), back()}) fs::remove(p);
      {
        std::ofstream out(dat(), std::ios::binary);
        for (const auto &line : abLines) out << line << "\n";
      }
      restart();
      ASSERT_EQ(listedIds(), ab);
      FaultFileSystem faults;
      pk::testing::FileSystemInUse inUse(faults);
      faults.fail({c.fault.op, c.fault.nth, c.fault.error, c.fault.pathPart, c.fault.sticky});
      std::string message;
      if (isAdd) {
        message = addMessage(newFiler("C"));
      } else {
        Filer *a = newFiler("A");
        Status status;
        removeFilerFromList(broker, &status, a);
        freeFiler(a);
        message = status.s.rc == CMPI_RC_OK ? "OK" : status.message();
      }
      EXPECT_EQ(message, isAdd ? c.addMessage : c.removeMessage) << (isAdd ? "add" : "remove");
      faults.clear();
      // Whatever failed, filers.dat (or, when it is missing, the complete
      // temporary file) holds a whole list, and the next process reads it.
      restart();
      std::vector<std::string> after = listedIds();
      const auto &newer = isAdd ? abc : b;
      EXPECT_TRUE(after == ab || after == newer) << (isAdd ? "add" : "remove");
      if (message == "OK" || message == "Failed to rename filers.dat to filers.dat.back") {
        EXPECT_EQ(after, newer);
      }
      EXPECT_TRUE(fs::exists(dat()));
    }
  }
}

TEST_P(RegistryTest, FirstLoadRecoversOnlyWhatAnInterruptedUpdateProves) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  {
    // Cut off between the renames: filers.dat is now filers.dat.back, and the
    // new list waits, complete, in filers.dat.tmp.
    FaultFileSystem faults;
    pk::testing::FileSystemInUse inUse(faults);
    faults.fail({FileOp::Rename, 1, EIO, "filers.dat.tmp"});
    EXPECT_EQ(addMessage(newFiler("B")), "Failed to rename filers.dat.tmp to filers.dat");
  }
  EXPECT_FALSE(fs::exists(dat()));
  restart();
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(lines(dat()).size(), 2u);
  EXPECT_FALSE(fs::exists(tmp()));
  bool logged = false;
  for (const auto &log : om->logs())
    logged |= log.text == "filers.dat restored from filers.dat.tmp after an interrupted update";
  EXPECT_TRUE(logged);

  // The next update of a running process builds on that list too, instead of
  // taking the temporary file for a stale one.
  {
    FaultFileSystem faults;
    pk::testing::FileSystemInUse inUse(faults);
    faults.fail({FileOp::Rename, 1, EIO, "filers.dat.tmp"});
    EXPECT_EQ(addMessage(newFiler("C")), "Failed to rename filers.dat.tmp to filers.dat");
  }
  ASSERT_EQ(add(newFiler("D")), CMPI_RC_OK);
  std::vector<Filer *> read = readBack();
  ASSERT_EQ(read.size(), 4u);
  EXPECT_STREQ(read[2]->systemId, "C");
  EXPECT_STREQ(read[3]->systemId, "D");
  EXPECT_EQ(lines(back()).size(), 3u);
  freeAll(read);

  // An administrator who removed filers.dat starts over: the back file is not
  // brought back.
  fs::remove(dat());
  restart();
  EXPECT_EQ(listedIds(), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(back()));

  // A temporary file cut off while it was written carries no completeness
  // mark and is not taken either.
#if defined(_WIN32)
  if (pktest::underWine()) {
    GTEST_SKIP() << "Wine keeps no temporary attribute on files, the Windows mark of a file "
                    "not yet complete";
  }
#endif
  {
    pk::platform::FileSystem &files = pk::platform::systemFileSystem();
    pk::platform::FileHandle *cut = nullptr;
    ASSERT_EQ(files.createNew(tmp().string().c_str(), &cut), 0);
    const std::string line = encodedLine("C:c.test:root:1:443:30:pw") + "\n";
    EXPECT_EQ(files.write(cut, line.data(), line.size()), 0);
    files.close(cut);
  }
  restart();
  EXPECT_EQ(listedIds(), std::vector<std::string>{});
}

// ---- Two processes ----------------------------------------------------------------

TEST_P(RegistryTest, AddsOfTwoProcessesSharingTheDataDirectoryAllStay) {
  constexpr int kEach = 40;
  std::vector<pid_t> peers;
  for (const char *prefix : {"P", "Q"}) {
    std::string count = std::to_string(kEach);
    std::string where = dir.string();
    std::vector<char *> argv = {const_cast<char *>(REGISTRY_PEER), where.data(),
                                const_cast<char *>(prefix), count.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, REGISTRY_PEER, nullptr, nullptr, argv.data(), environ), 0);
    peers.push_back(pid);
  }
  for (pid_t pid : peers) {
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  }
  std::vector<Filer *> read = readBack();
  std::set<std::string> ids;
  for (Filer *f : read) ids.insert(f->systemId);
  EXPECT_EQ(read.size(), 2u * kEach);
  EXPECT_EQ(ids.size(), 2u * kEach);
  freeAll(read);
}

// ---- Locks and memory -----------------------------------------------------------

TEST_P(RegistryTest, LockCreationFailuresAreReportedAndRetried) {
  restart();  // no registry lock, no subscriber lock

  // Without its lock the subscriber list is not made: the subscription is
  // dropped, and the next one makes the list.
  om->inject({"BrokerExt.newMutex"});
  subscribeToFilerChange(broker, nullptr, countEvent);
  subscribeToFilerChange(broker, nullptr, recordEvent);
  added = 0;

  om->inject({"BrokerExt.newMutex"});
  Status status;
  EXPECT_EQ(getFilerList(broker, &status), nullptr);
  EXPECT_EQ(status.message(), "Unable to allocate Mutex");
  bool logged = false;
  for (const auto &log : om->logs())
    logged |= log.severity == 1 && log.text == "Unable to allocate Mutex!";
  EXPECT_TRUE(logged);
  status.reset();
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);  // the next operation makes it
  EXPECT_EQ(added, 0);
  EXPECT_EQ(events, (std::vector<std::pair<int, std::string>>{{0, "A"}}));
}

TEST_P(RegistryTest, OutOfMemoryIsReported) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  Filer *b = newFiler("B");
  wsiTestFailAllocation(1);
  EXPECT_EQ(addMessage(b), "Unable to allocate string");
  Status status;
  wsiTestFailAllocation(1);
  EXPECT_EQ(filerExists(broker, &status, "A"), nullptr);
  EXPECT_EQ(status.message(), "Insufficient memory");
  status.reset();
  wsiTestFailAllocation(1);
  EXPECT_EQ(getFilerList(broker, &status), nullptr);
  EXPECT_EQ(status.message(), "Insufficient memory");
  status.reset();

  restart();
  wsiTestFailAllocation(1);
  EXPECT_EQ(getFilerList(broker, &status), nullptr);
  EXPECT_EQ(status.message(), "Unable to allocate filer list");
  status.reset();

  // Some allocation of an add is the list node: the add still succeeds and
  // says so in the trace.  Fail each allocation of an add in turn until then.
  bool traced = false;
  for (unsigned long long nth = 1; nth < 200 && !traced; ++nth) {
    Filer *c = newFiler("C");
    wsiTestFailAllocation(nth);
    Status result(addFilerToList(broker, c));
    wsiTestFailAllocation(0);
    for (const auto &trace : om->traces())
      traced |= trace.text == "Insufficient memory appending filer to list";
    if (traced) {
      EXPECT_EQ(result.s.rc, CMPI_RC_OK);
    }
    if (result.s.rc != CMPI_RC_OK) freeFiler(c);
  }
  EXPECT_TRUE(traced);
  wsiTestFailAllocation(0);
}

CIMOM_INSTANTIATE(RegistryTest);

}  // namespace
