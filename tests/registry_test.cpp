// The filer registry over real files: the life of filers.dat and its
// companions, lookups, subscribers, and many threads at once.
#include <fcntl.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "registry_support.h"

namespace {

using namespace regtest;

std::mutex eventsLock;
std::vector<std::pair<int, std::string>> events;
void recordEvent(int32_t code, const Filer *filer) {
  std::lock_guard<std::mutex> guard(eventsLock);
  events.emplace_back(code, filer->systemId != nullptr ? filer->systemId : "");
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The registry lives as long as the process: empty it, then start on a clean directory.
    dir = useNewDataDir();
    for (const auto &id : listedIds()) {
      Filer *f = newFiler(id);
      Status status;
      removeFilerFromList(broker(), &status, f);
      freeFiler(f);
    }
    fs::remove_all(dir);
    fs::create_directory(dir);
    subscribeToFilerChange(broker(), nullptr, recordEvent);
    events.clear();
    om().clearRecords();
  }
  void TearDown() override {
    unsubscribeToFilerChange(broker(), nullptr, recordEvent);
    fs::remove_all(dir);
  }
  fs::path dat() const { return dir / "filers.dat"; }
  fs::path tmp() const { return dir / "filers.dat.tmp"; }
  fs::path back() const { return dir / "filers.dat.back"; }

  fs::path dir;
};

TEST_F(RegistryTest, AddsAndRemovesThroughTheFileAndItsBackup) {
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
  Filer *found = filerExists(broker(), &status, "a");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->host, "a.test");

  // Removal takes the first match out and rewrites the file from the list.
  removeFilerFromList(broker(), &status, found);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(lines(dat()).size(), 2u);
  EXPECT_EQ(lines(back()).size(), 3u);
  EXPECT_FALSE(fs::exists(tmp()));
  freeFiler(found);

  // A filer that is not registered is still "removed": rewrite and notification.
  Filer *ghost = newFiler("ghost");
  removeFilerFromList(broker(), &status, ghost);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(lines(back()).size(), 2u);

  // Modify: out with the old, in with the new, each told to subscribers.
  Filer *old = newFiler("B");
  modifyFiler(broker(), &status, old, newFiler("C"));
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "C"}));
  using E = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(events, (E{{0, "A"}, {0, "B"}, {0, "A"}, {1, "A"}, {1, "ghost"}, {1, "B"}, {0, "C"}}));
  freeFiler(old);
  freeFiler(ghost);

  // Records that cannot be stored are refused before anything is written.
  Status none(addFilerToList(broker(), nullptr));
  EXPECT_EQ(none.message(), "No filer passed in.");
  Filer *anonymous = newFiler("");
  Status noId(addFilerToList(broker(), anonymous));
  EXPECT_EQ(noId.message(), "No System ID specified.");
  freeFiler(anonymous);
  EXPECT_EQ(lines(dat()).size(), 2u);
}

TEST_F(RegistryTest, FailedUpdatesLeaveTheFileAsItWas) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  const auto before = lines(dat());

  // A directory where the temporary file belongs cannot be opened, even by root.
  fs::create_directory(tmp());
  Filer *a = newFiler("A");
  Status status;
  removeFilerFromList(broker(), &status, a);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(status.message(), "Unable to open " + tmp().string() + ", errno: 21");
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
  removeFilerFromList(broker(), &status, c);
  EXPECT_EQ(status.message(), "Failed to rename filers.dat.tmp to filers.dat");
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(listedIds(), std::vector<std::string>{});
  EXPECT_TRUE(lines(tmp()).empty());
  freeFiler(a);
  freeFiler(c);
}

TEST_F(RegistryTest, FailedFinalRenameOfAnAddStoresNothing) {
  ASSERT_EQ(add(newFiler("A")), CMPI_RC_OK);
  // An immutable directory stops even root from removing or renaming entries,
  // while the files already in it can still be written.
  std::ofstream(tmp()).put('\n');
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 ||
      (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)) {
    if (fd >= 0) close(fd);
    GTEST_SKIP() << "cannot make the data directory immutable here";
  }
  events.clear();
  CMPIrc rc = add(newFiler("B"));
  flags &= ~FS_IMMUTABLE_FL;
  ioctl(fd, FS_IOC_SETFLAGS, &flags);
  close(fd);
  EXPECT_EQ(rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(listedIds(), std::vector<std::string>{"A"});
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(lines(tmp()).size(), 2u);  // the new list waits in the temporary file
  EXPECT_EQ(lines(dat()).size(), 1u);
}

TEST_F(RegistryTest, LooksFilersUp) {
  ASSERT_EQ(add(newFiler("A", "a.test", 443)), CMPI_RC_OK);
  ASSERT_EQ(add(newFiler("B", "b.test", 80)), CMPI_RC_OK);
  Status status;
  Filer *byKeys = filerExistsFromKeys(broker(), &status, "B.TEST", 80);
  ASSERT_NE(byKeys, nullptr);
  EXPECT_STREQ(byKeys->systemId, "B");
  EXPECT_EQ(filerExistsFromKeys(broker(), &status, "b.test", 443), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);

  EXPECT_EQ(filerExists(broker(), &status, "nobody"), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(getFilerByName(&status, broker(), nullptr, nullptr, "nobody"), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(status.message(), "KELVA_FilerData Instance not found");

  WSIList *list = getFilers(&status, broker(), nullptr, nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);
  EXPECT_EQ(WSIList_getLength(list), 2u);
  freeFilers(list);
  bool logged = false;
  for (const auto &log : om().logs())
    logged |= log.severity == 3 && log.text == "Got List of Filers.";
  EXPECT_TRUE(logged);

  // With no place, a record is freed even under a good status.
  returnOrFreeFiler(byKeys, nullptr, &status);
}

TEST_F(RegistryTest, FindsFilersByTheirAddresses) {
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
  Filer *b = findFilerByIPAddress(broker(), "192.0.2.22", &status);
  ASSERT_NE(b, nullptr) << status.message();
  EXPECT_EQ(b->systemId, sim.systemId("kelva-b"));
  Filer *a = findFilerByIPAddress(broker(), "198.51.100.121", &status);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->systemId, sim.systemId("kelva-a"));
  EXPECT_EQ(findFilerByIPAddress(broker(), "203.0.113.9", &status), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_OK);

  // A filer that cannot tell its addresses ends the search with its error.
  sim.setOnline("kelva-a", false);
  EXPECT_EQ(findFilerByIPAddress(broker(), "192.0.2.22", &status), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_FAILED);
  freeFiler(a);
  freeFiler(b);
  status.reset();
  for (const auto &id : listedIds()) {  // before the simulator goes away
    Filer *f = newFiler(id);
    removeFilerFromList(broker(), &status, f);
    freeFiler(f);
  }
}

std::atomic<int> added{0}, removed{0};
void countEvent(int32_t code, const Filer *) { (code == 0 ? added : removed)++; }

TEST_F(RegistryTest, ManyThreadsKeepListAndFileInStep) {
  subscribeToFilerChange(broker(), nullptr, countEvent);
  constexpr int kThreads = 4, kRounds = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRounds; ++i) {
        std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
        Filer *f = newFiler(id);
        Filer *mine = static_cast<Filer *>(copyFiler(f));
        EXPECT_EQ(add(f), CMPI_RC_OK);
        Status status;
        Filer *found = filerExists(broker(), &status, id.c_str());
        EXPECT_NE(found, nullptr) << id;
        freeFiler(found);
        freeFilers(getFilerList(broker(), &status));
        if (i % 2 == 0) removeFilerFromList(broker(), &status, mine);
        EXPECT_EQ(status.s.rc, CMPI_RC_OK) << status.message();
        freeFiler(mine);
      }
    });
  }
  for (auto &thread : threads) thread.join();
  unsubscribeToFilerChange(broker(), nullptr, countEvent);

  EXPECT_EQ(added, kThreads * kRounds);
  EXPECT_EQ(removed, kThreads * ((kRounds + 1) / 2));
  EXPECT_EQ(listedIds().size(), static_cast<size_t>(kThreads * (kRounds / 2)));
  EXPECT_EQ(lines(dat()).size(), listedIds().size());
  EXPECT_FALSE(fs::exists(tmp()));
}

}  // namespace
