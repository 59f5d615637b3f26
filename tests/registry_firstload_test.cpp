// What happens at the registry's first use in a real process: loading
// filers.dat, and finishing an update that a process left behind.  Each case
// needs a process of its own; ctest runs them one per process, and a case
// that finds the registry already used skips.
#include <gtest/gtest.h>

#include <cstdio>

#include "registry_support.h"

namespace {

using namespace regtest;

// The registry keeps the broker's mutex for the life of the process, so the
// object manager that made it is never destroyed.
cimom::ObjectManager &om() {
  static cimom::ObjectManager *manager = [] {
    cimom::ObjectManager *made = cimom::create().release();
    currentBroker() = made->broker();
    return made;
  }();
  return *manager;
}

bool firstInProcess() {
  om();
  static bool first = true;
  bool was = first;
  first = false;
  return was;
}

#define REQUIRE_FRESH_PROCESS() \
  if (!firstInProcess()) GTEST_SKIP() << "needs a process whose registry is unused"

// Writes records to filers.dat the way the controller library reads them.
void writeFile(const fs::path &path, const std::vector<std::string> &plainLines) {
  std::FILE *file = std::fopen(path.string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  for (std::string line : plainLines) {
    KELVAStatus record = KELVA_STATUS_INIT;
    EXPECT_NE(writeFilerToDisk(&record, file, basicEncode(line.data())), 0);
    clearKELVAStatus(&record);
  }
  std::fclose(file);
}

TEST(RegistryFirstLoad, LoadsTheFileOnce) {
  REQUIRE_FRESH_PROCESS();
  fs::path dir = useNewDataDir();
  // The password comes last, so a ':' in it survives the round trip.
  writeFile(dir / "filers.dat", {"A:a.test:root:1:443:30:pa:ss", "B:b.test:admin:0:80:10:pw"});
  Status status;
  Filer *a = filerExists(broker(), &status, "A");
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->password, "pa:ss");
  EXPECT_EQ(a->connParam2, 443);
  freeFiler(a);
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "B"}));

  // From now on the list in memory is the authority: the file is not read again.
  fs::remove(dir / "filers.dat");
  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "B"}));
  fs::remove_all(dir);
}

TEST(RegistryFirstLoad, UnreadableFileLeavesAnEmptyWorkingRegistry) {
  REQUIRE_FRESH_PROCESS();
  // A data directory below a regular file cannot exist, whoever asks.
  fs::path dir = useNewDataDir();
  std::ofstream(dir / "plain").put('x');
  setenv(WSI_DATA_DIR_ENV, (dir / "plain" / "data").string().c_str(), 1);
  Status status;
  EXPECT_EQ(getFilerList(broker(), &status), nullptr);
  EXPECT_EQ(status.s.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(status.message().find("Unable to create the data directory"), std::string::npos);

  // The load is not repeated; the registry runs with what it read: nothing.
  setenv(WSI_DATA_DIR_ENV, dir.string().c_str(), 1);
  EXPECT_EQ(listedIds(), std::vector<std::string>{});
  EXPECT_EQ(add(newFiler("A")), CMPI_RC_OK);
  EXPECT_EQ(listedIds(), std::vector<std::string>{"A"});
  fs::remove_all(dir);
}

TEST(RegistryFirstLoad, UpdateCutOffBetweenItsRenamesIsFinished) {
  REQUIRE_FRESH_PROCESS();
  // A process killed after filers.dat became filers.dat.back and before the
  // complete new file took its place: the new file is the newest list.  It is
  // written here by the same writer the registry uses.
  fs::path dir = useNewDataDir();
  writeFile(dir / "filers.dat.back", {"A:a.test:root:1:443:30:pw"});
  std::string content;
  for (std::string line : {"A:a.test:root:1:443:30:pw", "B:b.test:root:1:443:30:pw"})
    content += encodedLine(line) + "\n";
  pk::testing::FaultFileSystem cut;
  cut.fail({pk::testing::FileOp::Rename, 1, EIO});  // the last rename
  pk::platform::exchangeFileSystem(&cut);
  pk::platform::WriteOutcome outcome = pk::platform::replaceFile(
      {(dir / "filers.dat").string(), (dir / "filers.dat.tmp").string(), ""}, content);
  pk::platform::exchangeFileSystem(nullptr);
  ASSERT_EQ(outcome.failedStep, pk::platform::WriteStep::Replace);
  ASSERT_FALSE(fs::exists(dir / "filers.dat"));

  EXPECT_EQ(listedIds(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(lines(dir / "filers.dat").size(), 2u);
  EXPECT_EQ(lines(dir / "filers.dat.back").size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "filers.dat.tmp"));
  fs::remove_all(dir);
}

}  // namespace
