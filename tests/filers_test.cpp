// Filer records, the data directory and filers.dat, InstanceIDs, property lists
// and cloning locks.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/testhooks.h"
#if defined(_WIN32)
#include "win32/wine.h"
#endif
#include "wbemkelvai/filerline.h"
#include "wbemkelvai/wsifiler.h"

namespace {

// Only the owner may read or write: mode 0600 on POSIX, an access list that
// grants the current user alone on Windows.
void expectOwnerOnly(const std::filesystem::path &path) {
#if defined(_WIN32)
  bool only = false;
  EXPECT_EQ(pk::platform::fileIsOwnerOnly(path.string().c_str(), &only), 0) << path;
  if (!pktest::underWine()) {
    EXPECT_TRUE(only) << path;
  }
#else
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

namespace fs = std::filesystem;

std::vector<std::string> logged;
void captureLog(const char *, const char *text) { logged.emplace_back(text); }

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string owned(char *text) {
  std::string s = text != nullptr ? text : "(null)";
  wsifree(text);
  return s;
}

class FilersFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("filers_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    setenv(WSI_DATA_DIR_ENV, (dir_ / "data").string().c_str(), 1);
    logged.clear();
    setMessageFuncs(nullptr, captureLog);
  }
  void TearDown() override {
    setMessageFuncs(nullptr, nullptr);
    unsetenv(WSI_DATA_DIR_ENV);
    fs::remove_all(dir_);
  }
  // The registry's way of writing a record: format, encode in place, append.
  void append(const Filer &f) {
    char line[512];
    std::snprintf(line, sizeof line, filerline::kFormat, f.systemId, f.host, f.userName,
                  f.connParam1, f.connParam2, f.connParam3, f.password);
    size_t length = std::strlen(line);
    basicEncode(line);
    ASSERT_EQ(std::strlen(line), length);
    KELVAStatus status = KELVA_STATUS_INIT;
    char *path = buildFilerDatPath(&status);
    FILE *file = std::fopen(path, "ab");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(writeFilerToDisk(&status, file, line), 1);
    std::fclose(file);
    wsifree(path);
  }
  fs::path dir_;
};

TEST_F(FilersFile, PathsFollowTheEnvironmentAndTheDirectoryIsMade) {
  KELVAStatus status = KELVA_STATUS_INIT;
  EXPECT_EQ(owned(buildDatFilePath(&status)), (dir_ / "data").string());
  EXPECT_TRUE(fs::is_directory(dir_ / "data"));
  EXPECT_EQ(owned(buildFilerDatPath(&status)), (dir_ / "data" / "filers.dat").string());
  EXPECT_EQ(owned(buildFilerTmpPath(&status)), (dir_ / "data" / "filers.dat.tmp").string());
  EXPECT_EQ(owned(buildFilerBackPath(&status)), (dir_ / "data" / "filers.dat.back").string());
  EXPECT_EQ(checkStatus(&status), 0);

  std::ofstream(dir_ / "blocker") << "a file, not a directory";
  setenv(WSI_DATA_DIR_ENV, (dir_ / "blocker" / "sub").string().c_str(), 1);
  EXPECT_EQ(buildFilerDatPath(&status), nullptr);
  EXPECT_NE(checkStatus(&status), 0);
  clearKELVAStatus(&status);
}

TEST_F(FilersFile, RecordsRoundTripWithoutClearPasswords) {
  Filer a{(char *)"0118054321",
          (char *)"kelva-a.sim",
          (char *)"root",
          (char *)"p:a:ss w\xc3\xb6rd",
          0,
          80,
          30};
  Filer b{(char *)"0118054322", (char *)"192.0.2.22", (char *)"admin", (char *)"", -1, 443, 0};
  append(a);
  append(b);
  fs::path dat = dir_ / "data" / "filers.dat";
  std::string content = readFile(dat);
  EXPECT_EQ(content.find("p:a:ss"), std::string::npos);
  EXPECT_EQ(content.find("0118054321"), std::string::npos);
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 2);
  expectOwnerOnly(dat);

  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *filers = WSIList_new();
  ASSERT_EQ(getFilersFromDiskFile(&status, filers), 1);
  ASSERT_EQ(WSIList_getLength(filers), 2u);
  auto *first = static_cast<Filer *>(WSIList_getElement(WSIList_getFirst(filers)));
  auto *second =
      static_cast<Filer *>(WSIList_getElement(WSIList_getNext(WSIList_getFirst(filers))));
  EXPECT_STREQ(first->password, a.password);
  EXPECT_STREQ(first->host, a.host);
  EXPECT_EQ(first->connParam3, 30);
  EXPECT_STREQ(second->password, "");
  EXPECT_EQ(second->connParam1, -1);
  EXPECT_TRUE(areFilersSame(first, &a));
  EXPECT_FALSE(areFilersSame(first, second));
  freeFilers(filers);
  EXPECT_TRUE(logged.empty());
}

TEST_F(FilersFile, MalformedLinesAreSkippedAndReported) {
  Filer good{(char *)"sys1", (char *)"h", (char *)"u", (char *)"pw", 0, 0, 0};
  append(good);
  std::vector<std::string> bad = {"only:three:fields", "sys:h:u:x:0:0:pw", ":h:u:0:0:0:pw",
                                  "sys:h:u:0:0:99999999999:pw"};
  {
    std::ofstream out(dir_ / "data" / "filers.dat", std::ios::app | std::ios::binary);
    for (std::string line : bad) out << basicEncode(line.data()) << "\n";
    out << "\n";  // a blank line is no record and no complaint
  }
  append(good);
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *filers = WSIList_new();
  std::string asRead = readFile(dir_ / "data" / "filers.dat");
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 1);
  EXPECT_EQ(WSIList_getLength(filers), 2u);
  // Each skipped line is named, and the file as read is kept beside it.
  ASSERT_EQ(logged.size(), bad.size() + 1);
  EXPECT_NE(logged[0].find("filers.dat line 2 is malformed; skipped"), std::string::npos);
  EXPECT_NE(logged.back().find("4 malformed line(s) skipped; the file as read is kept in"),
            std::string::npos);
  EXPECT_EQ(readFile(dir_ / "data" / "filers.dat.rejected"), asRead);
  freeFilers(filers);
}

TEST_F(FilersFile, MissingFileReadsAsEmptyAndCopiesAsEmpty) {
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *filers = WSIList_new();
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 1);
  EXPECT_TRUE(WSIList_isEmpty(filers));
  WSIList_free(filers, nullptr);

  fs::path data = dir_ / "data";
  std::ofstream(data / "stale") << "left over";
  EXPECT_EQ(
      copyFilerDat(&status, (data / "missing").string().c_str(), (data / "stale").string().c_str()),
      1);
  EXPECT_EQ(readFile(data / "stale"), "");

  std::ofstream(data / "from", std::ios::binary) << "line one\nline two\n";
  EXPECT_EQ(copyFilerDat(&status, (data / "from").string().c_str(), (data / "to").string().c_str()),
            1);
  EXPECT_EQ(readFile(data / "to"), "line one\nline two\n");
  expectOwnerOnly(data / "to");
  EXPECT_EQ(copyFilerDat(&status, (data / "from").string().c_str(),
                         (dir_ / "no" / "dir").string().c_str()),
            0);
  EXPECT_NE(checkStatus(&status), 0);
  clearKELVAStatus(&status);
}

TEST_F(FilersFile, AFileThatCannotBeReadIsAnErrorNotAShortList) {
  KELVAStatus status = KELVA_STATUS_INIT;
  char *path = buildFilerDatPath(&status);
  ASSERT_NE(path, nullptr);
  fs::create_directories(path);  // filers.dat is a directory: opens, but reads fail
  WSIList *filers = WSIList_new();
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 0);
  EXPECT_EQ(std::string(status.message),
            std::string("Unable to read ") + path + ": not a regular file");
  EXPECT_TRUE(WSIList_isEmpty(filers));
  WSIList_free(filers, nullptr);
  clearKELVAStatus(&status);
  wsifree(path);
}

TEST_F(FilersFile, OnlyBoundedRegularFilesAreReadAndNoLinkIsFollowed) {
#if defined(_WIN32)
  GTEST_SKIP() << "FIFOs, /dev/zero and symbolic links made by a test need POSIX; the Windows side "
                  "refuses reparse points and devices by attribute";
#endif
  KELVAStatus status = KELVA_STATUS_INIT;
  char *path = buildFilerDatPath(&status);
  ASSERT_NE(path, nullptr);
  fs::path data = dir_ / "data";
  auto readMessage = [&]() {
    WSIList *filers = WSIList_new();
    int ok = getFilersFromDiskFile(&status, filers);
    std::string message = ok != 0 ? "OK" : status.message;
    clearKELVAStatus(&status);
    freeFilers(filers);
    return message;
  };
  // A FIFO would block the read forever, a device would never end.
  ASSERT_EQ(mkfifo(path, 0600), 0);
  EXPECT_EQ(readMessage(), std::string("Unable to read ") + path + ": not a regular file");
  EXPECT_EQ(copyFilerDat(&status, path, (data / "copy").string().c_str()), 0);
  clearKELVAStatus(&status);
  fs::remove(path);
  fs::create_symlink("/dev/zero", path);
  EXPECT_EQ(readMessage(), std::string("Unable to read ") + path + ": not a regular file");
  fs::remove(path);
  std::ofstream(path).put('x');
  fs::resize_file(path, filerline::kMaxFileBytes + 1);
  EXPECT_EQ(readMessage(), std::string("Unable to read ") + path + ": larger than " +
                               std::to_string(filerline::kMaxFileBytes) + " bytes");
  fs::remove(path);

  // The copy replaces a link at its destination instead of writing through it.
  std::ofstream(data / "from") << "line\n";
  std::ofstream(data / "victim") << "untouched\n";
  fs::create_symlink(data / "victim", data / "to");
  EXPECT_EQ(copyFilerDat(&status, (data / "from").string().c_str(), (data / "to").string().c_str()),
            1);
  EXPECT_EQ(readFile(data / "victim"), "untouched\n");
  EXPECT_FALSE(fs::is_symlink(data / "to"));
  EXPECT_EQ(readFile(data / "to"), "line\n");
  expectOwnerOnly(data / "to");
  wsifree(path);
}

TEST_F(FilersFile, WithoutHomeTheDataDirectoryIsTheAccountsOwn) {
#if defined(_WIN32)
  GTEST_SKIP() << "no HOME or account home on Windows: the data directory is %APPDATA%\\kelva "
                  "there (windows_test)";
#endif
  const char *homeSet = std::getenv("HOME");
  std::string home = homeSet != nullptr ? homeSet : "";
  unsetenv(WSI_DATA_DIR_ENV);
  unsetenv("HOME");
  const passwd *account = getpwuid(getuid());
  ASSERT_NE(account, nullptr);
  fs::path expected = fs::path(account->pw_dir) / "kelva";
  bool existed = fs::exists(expected);
  KELVAStatus status = KELVA_STATUS_INIT;
  char *dir = buildDatFilePath(&status);
  if (!home.empty()) setenv("HOME", home.c_str(), 1);
  ASSERT_NE(dir, nullptr) << status.message;
  EXPECT_EQ(std::string(dir), expected.string());  // not a folder under /tmp that others share
  wsifree(dir);
  if (!existed) fs::remove(expected);
}

TEST_F(FilersFile, FailingFileStepsAreReported) {
  pk::testing::FaultFileSystem faults;
  pk::platform::FileSystem *was = pk::testing::useControllerFileSystem(&faults);
  KELVAStatus status = KELVA_STATUS_INIT;
  char *path = buildFilerDatPath(&status);
  ASSERT_NE(path, nullptr);
  fs::path data = dir_ / "data";
  std::ofstream(data / "from") << "line\n";
  using pk::testing::FileOp;

  faults.fail({FileOp::Write, 1, ENOSPC});
  EXPECT_EQ(copyFilerDat(&status, (data / "from").string().c_str(), (data / "to").string().c_str()),
            0);
  EXPECT_EQ(std::string(status.message), "Unable to copy " + (data / "from").string() + " to " +
                                             (data / "to").string() + ", errno: 28");
  clearKELVAStatus(&status);

  Filer good{(char *)"sys1", (char *)"h", (char *)"u", (char *)"pw", 0, 0, 0};
  append(good);
  {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    std::string bad = "not a record";
    out << basicEncode(bad.data()) << "\n";
  }
  faults.fail({FileOp::Read, 1, EIO});
  WSIList *filers = WSIList_new();
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 0);
  EXPECT_EQ(std::string(status.message), std::string("Unable to read ") + path + ", errno: 5");
  clearKELVAStatus(&status);

  // The list is read even when the unreadable lines cannot be kept; the log says so.
  faults.fail({FileOp::Create, 1, EACCES, "rejected"});
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 1);
  EXPECT_EQ(WSIList_getLength(filers), 1u);
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(
      logged.back().find("could not be kept in " + std::string(path) + ".rejected, errno: 13"),
      std::string::npos)
      << logged.back();
  EXPECT_FALSE(fs::exists(std::string(path) + ".rejected"));
  freeFilers(filers);
  pk::testing::useControllerFileSystem(was);
  wsifree(path);
}

TEST(FilerRecords, CopyAndCompare) {
  Filer f{(char *)"Sys", (char *)"Host", nullptr, (char *)"pw", 1, 2, 3};
  auto *copy = static_cast<Filer *>(copyFiler(&f));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->systemId, f.systemId);
  EXPECT_EQ(copy->userName, nullptr);
  EXPECT_EQ(copy->connParam3, 3);
  copy->systemId[0] = 's';
  EXPECT_TRUE(areFilersSame(copy, &f));  // case is not significant
  copy->connParam2 = 9;
  EXPECT_FALSE(areFilersSame(copy, &f));
  EXPECT_FALSE(areFilersSame(copy, nullptr));
  freeFiler(copy);
  EXPECT_EQ(copyFiler(nullptr), nullptr);
}

TEST(InstanceIDs, EncodeAndSplitInPlace) {
  char *id = encodeInstanceID("KELVA:0118054321", "cifs:/vol/vol1/users:(users)");
  ASSERT_STREQ(id, "KELVA:0118054321:cifs:/vol/vol1/users:(users)");
  char *again = encodeInstanceID("0118054321", "cifs:/vol/vol1/users:(users)");
  EXPECT_STREQ(again, id);
  wsifree(again);
  KELVAStatus status = KELVA_STATUS_INIT;
  char *systemId = nullptr, *prefix = nullptr, *name = nullptr;
  ASSERT_EQ(getFilerAndNameFromInstanceId(&status, id, &systemId, &prefix, &name), 1);
  EXPECT_STREQ(systemId, "0118054321");
  EXPECT_STREQ(prefix, "KELVA");
  EXPECT_STREQ(name, "cifs:/vol/vol1/users:(users)");
  wsifree(id);
  for (const char *bad : {"nocolon", "KELVA:only", ":x:y", "KELVA::y"}) {
    std::string copy = bad;
    EXPECT_EQ(getFilerAndNameFromInstanceId(&status, copy.data(), nullptr, nullptr, &name), 0)
        << bad;
    EXPECT_NE(checkStatus(&status), 0);
    clearKELVAStatus(&status);
  }
}

TEST(PropertyLists, NullSelectsAllAndCaseIsIgnored) {
  const char *list[] = {"Name", "ElementName", nullptr};
  EXPECT_TRUE(isPropertyPresent(nullptr, "Anything"));
  EXPECT_TRUE(isPropertyPresent(list, "elementname"));
  EXPECT_FALSE(isPropertyPresent(list, "Caption"));
  EXPECT_FALSE(isPropertyPresent(list, nullptr));
  const char *empty[] = {nullptr};
  EXPECT_FALSE(isPropertyPresent(empty, "Name"));
}

TEST(CloningLocks, SerialiseClonesPerFilerAndGoWithTheLastReference) {
  Filer f{(char *)"clonesys", (char *)"h", nullptr, nullptr, 0, 0, 0};
  KELVAStatus status = KELVA_STATUS_INIT;
  EXPECT_EQ(lockCloningMutex(&f, &status), 0);  // no node yet
  clearKELVAStatus(&status);
  ASSERT_EQ(addCloningMutexNode(&f, &status), 1);
  ASSERT_EQ(addCloningMutexNode(&f, &status), 1);

  ASSERT_EQ(lockCloningMutex(&f, &status), 1);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    KELVAStatus s = KELVA_STATUS_INIT;
    if (lockCloningMutex(&f, &s) != 0) {
      entered = true;
      unlockCloningMutex(&f);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  EXPECT_EQ(unlockCloningMutex(&f), 1);
  other.join();
  EXPECT_TRUE(entered.load());

  EXPECT_EQ(deleteCloningMutexNode(&f, &status), 1);
  EXPECT_EQ(lockCloningMutex(&f, &status), 1);  // one reference left
  unlockCloningMutex(&f);
  EXPECT_EQ(deleteCloningMutexNode(&f, &status), 1);
  EXPECT_EQ(lockCloningMutex(&f, &status), 0);
  EXPECT_EQ(deleteCloningMutexNode(&f, &status), 0);
  clearKELVAStatus(&status);
}

}  // namespace
