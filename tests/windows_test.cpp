// The Windows side of the platform seam and of the controller library's
// transport: the data directory in the roaming profile, owner-only access
// lists, the system's library loader and its error texts, and filers reached
// through the system's HTTP client and XML reader.  The answer-reading group
// runs on every build, so that both XML readers are held to the same answers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#if defined(_WIN32)
#include "platform/testhooks.h"
#include "wbemkelvai/filerline.h"
#include "win32/wine.h"
#endif
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsiruntime.h"

namespace fs = std::filesystem;
namespace platform = pk::platform;

namespace {

// ---- Answers read back through the XML reader of the build ---------------------------

constexpr const char *kTextHost = "text-answers.filer";

struct TextFiler {
  std::string answer;
  std::string request;  // the last request's text, as the library wrote it
};

int serveText(void *context, const char *, const char *, const char *request, size_t length, long,
              WSIAnswerWriter write, void *answer) {
  auto *filer = static_cast<TextFiler *>(context);
  filer->request.assign(request, length);
  write(answer, filer->answer.data(), filer->answer.size());
  return WSI_INPROC_OK;
}

class TextAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(wsiRegisterInProcessFiler(kTextHost, serveText, &filer_), 1);
    server_ = createServerInfo(kTextHost, "root", "secret", 5, WSI_TRANSPORT_HTTP, 0);
    ASSERT_NE(server_, nullptr);
  }
  void TearDown() override {
    destroyServerInfo(server_);
    wsiUnregisterInProcessFiler(kTextHost);
  }
  // Sends a request with one text child and returns the answer (caller frees).
  WSIElement *ask(const std::string &answerText, const char *text = "vol0") {
    filer_.answer = answerText;
    WSIElement *request = createElement("volume-list-info");
    addStringElement(request, "volume", text);
    WSIElement *answer = invokeServerElement(server_, request);
    freeElement(request);
    return answer;
  }
  static std::string passed(const std::string &inner) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><kelva version=\"1.0\">"
           "<results status=\"passed\">" +
           inner + "</results></kelva>";
  }
  TextFiler filer_;
  WSIServerInfo *server_ = nullptr;
};

TEST_F(TextAnswers, RequestsAreWrittenEscapedAndAnswersReadBackTheirTexts) {
  WSIElement *answer =
      ask(passed("<volumes><volume-info><name>a&amp;b &lt;c&gt;</name><size>42</size>"
                 "<flag/><note><![CDATA[x<y]]></note></volume-info></volumes>"),
          "a&b<c>");
  ASSERT_NE(answer, nullptr);
  EXPECT_NE(filer_.request.find("<volume>a&amp;b&lt;c&gt;</volume>"), std::string::npos)
      << filer_.request;
  EXPECT_NE(filer_.request.find("<kelva version=\"1.0\"><volume-list-info>"), std::string::npos)
      << filer_.request;
  ASSERT_EQ(checkResultStatus(answer), 1) << getResultErrorString(answer);
  WSIElement *info = getChildElement(getChildElement(answer, "volumes"), "volume-info");
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(getStringElement(info, "name"), "a&b <c>");
  EXPECT_EQ(getIntElement(info, "size", -1), 42);
  EXPECT_STREQ(getStringElement(info, "flag"), "");
  EXPECT_STREQ(getStringElement(info, "note"), "x<y");
  freeElement(answer);
}

TEST_F(TextAnswers, FailedAnswersCarryTheFilersNumberAndReason) {
  WSIElement *answer =
      ask("<?xml version=\"1.0\"?><kelva><results status=\"failed\" errno=\"13040\" "
          "reason=\"No volume named &quot;x&quot;\"/></kelva>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(checkResultStatus(answer), 0);
  EXPECT_EQ(getResultErrorNum(answer), 13040);
  EXPECT_STREQ(getResultErrorString(answer), "No volume named \"x\"");
  freeElement(answer);
}

TEST_F(TextAnswers, MalformedHostileAndStrangeAnswersBecomeFailures) {
  struct Case {
    std::string text;
    std::string reason;
  } cases[] = {
      {"<kelva><results status=\"passed\"><a></b></results></kelva>", "Malformed answer"},
      {"<?xml version=\"1.0\"?><!DOCTYPE kelva [<!ENTITY x \"y\">]><kelva/>",
       "document type declaration"},
      {"<other><results status=\"passed\"/></other>", "root element is 'other'"},
      {"<kelva><nothing/></kelva>", "no results element"},
      {"<kelva><results status=\"maybe\"/></kelva>", "neither passed nor failed"},
      {"", "empty"},
  };
  for (const Case &c : cases) {
    WSIElement *answer = ask(c.text);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(checkResultStatus(answer), 0) << c.text;
    EXPECT_EQ(getResultErrorNum(answer), WSI_ERR_BAD_ANSWER) << c.text;
    const char *reason = getResultErrorString(answer);
    EXPECT_NE(std::string(reason != nullptr ? reason : "").find(c.reason), std::string::npos)
        << c.text << " -> " << (reason != nullptr ? reason : "(none)");
    freeElement(answer);
  }
}

TEST_F(TextAnswers, NestingIsLimited) {
  std::string deep;
  for (int i = 0; i < WSI_MAX_ANSWER_DEPTH; ++i) deep += "<d>";
  for (int i = 0; i < WSI_MAX_ANSWER_DEPTH; ++i) deep += "</d>";
  WSIElement *answer = ask(passed(deep));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(checkResultStatus(answer), 0);
  EXPECT_NE(std::string(getResultErrorString(answer)).find("deeper"), std::string::npos);
  freeElement(answer);

  std::string fits;
  for (int i = 0; i < WSI_MAX_ANSWER_DEPTH - 1; ++i) fits += "<d>";
  for (int i = 0; i < WSI_MAX_ANSWER_DEPTH - 1; ++i) fits += "</d>";
  answer = ask(passed(fits));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(checkResultStatus(answer), 1) << getResultErrorString(answer);
  freeElement(answer);
}

}  // namespace

#if defined(_WIN32)

namespace {

// A folder of its own under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    path_ = fs::temp_directory_path() / ("provkit-win-" + std::to_string(std::rand()) + "-" +
                                         std::to_string(platform::monotonicNanos()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path &path() const { return path_; }
  std::string str(const char *name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Sets an environment variable for the scope, and puts back what was there.
class EnvSetting {
 public:
  EnvSetting(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvSetting() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

bool ownerOnly(const std::string &path) {
  bool only = false;
  EXPECT_EQ(platform::fileIsOwnerOnly(path.c_str(), &only), 0) << path;
  return only;
}

TEST(WindowsSeam, PathsLibrariesAndTheirSystemErrorTexts) {
  EXPECT_EQ(platform::pathSeparator(), '\\');
  EXPECT_EQ(platform::joinPath("C:\\data", "filers.dat"), "C:\\data\\filers.dat");
  EXPECT_EQ(platform::joinPath("C:\\data\\", "filers.dat"), "C:\\data\\filers.dat");
  EXPECT_EQ(platform::libraryFileName("implall"), "implall.dll");

  EXPECT_EQ(platform::libraryOpen("no-such-library-anywhere.dll"), nullptr);
  std::string text = platform::lastLibraryError();
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');  // the system's text, without its line end
  EXPECT_NE(text.back(), '\r');

  void *kernel = platform::libraryOpen("kernel32.dll");
  ASSERT_NE(kernel, nullptr) << platform::lastLibraryError();
  EXPECT_NE(platform::librarySymbol(kernel, "GetTickCount"), nullptr);
  EXPECT_EQ(platform::librarySymbol(kernel, "NoSuchFunctionAnywhere"), nullptr);
  EXPECT_FALSE(platform::lastLibraryError().empty());
  platform::libraryClose(kernel);
}

TEST(WindowsSeam, UnnamedMutexesExcludeAndTheClockIsSixtyFourBit) {
  platform::OsMutex *m = platform::mutexCreate();
  ASSERT_NE(m, nullptr);
  platform::mutexLock(m);
  platform::mutexUnlock(m);
  platform::mutexClose(m);
  platform::WallTime now = platform::wallClock();
  EXPECT_GT(now.seconds, int64_t{1700000000});
  EXPECT_GE(now.micros, 0);
  EXPECT_LT(now.micros, 1000000);
}

TEST(WindowsDataDirectory, IsKelvaInTheRoamingProfileNeverADriveRoot) {
  ScratchDir scratch;
  EnvSetting noOverride(WSI_DATA_DIR_ENV, nullptr);
  {
    EnvSetting appdata("APPDATA", scratch.path().string().c_str());
    KELVAStatus status = KELVA_STATUS_INIT;
    char *dir = buildDatFilePath(&status);
    ASSERT_NE(dir, nullptr) << status.message;
    EXPECT_EQ(std::string(dir), scratch.str("kelva"));
    EXPECT_TRUE(fs::is_directory(scratch.path() / "kelva"));
    wsifree(dir);
  }
  {
    // A profile variable that names a drive root is not believed: the shell's
    // own roaming folder is used instead.
    EnvSetting appdata("APPDATA", "C:\\");
    std::string root = platform::userDataRoot();
    EXPECT_FALSE(root.empty());
    EXPECT_GT(root.size(), 3u) << root;
    KELVAStatus status = KELVA_STATUS_INIT;
    char *dir = buildDatFilePath(&status);
    ASSERT_NE(dir, nullptr) << status.message;
    EXPECT_NE(std::string(dir), "C:\\kelva");
    EXPECT_EQ(std::string(dir), platform::joinPath(root, "kelva"));
    wsifree(dir);
  }
}

TEST(WindowsOwnerOnly, ReplacedFilesAndWrittenFilerFilesGrantOnlyTheUser) {
  if (pktest::underWine()) {
    GTEST_SKIP() << "Wine keeps no access lists on files: it reports one made from the Unix "
                    "mode, whatever was set";
  }
  ScratchDir scratch;
  platform::ReplacedFile names{scratch.str("filers.dat"), scratch.str("filers.dat.tmp"),
                               scratch.str("filers.dat.back")};
  ASSERT_TRUE(platform::replaceFile(names, "first\n").ok());
  ASSERT_TRUE(platform::replaceFile(names, "second\n").ok());
  EXPECT_TRUE(ownerOnly(names.target));
  EXPECT_TRUE(ownerOnly(names.previous));

  // A file made by the caller with the C runtime inherits the folder's list
  // until the controller library writes a filer line into it.
  std::string path = scratch.str("written.dat");
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(ownerOnly(path));
  KELVAStatus status = KELVA_STATUS_INIT;
  EXPECT_EQ(writeFilerToDisk(&status, file, "line"), 1) << status.message;
  std::fclose(file);
  EXPECT_TRUE(ownerOnly(path));

  std::string other = scratch.str("other.dat");
  std::ofstream(other) << "x";
  EXPECT_EQ(platform::restrictToOwner(other.c_str()), 0);
  EXPECT_TRUE(ownerOnly(other));
}

TEST(WindowsOwnerOnly, RestrictingSucceedsOnFilesAndFailsOnMissingOnes) {
  ScratchDir scratch;
  std::string path = scratch.str("written.dat");
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(platform::restrictOpenFileToOwner(file), 0);
  std::fclose(file);
  EXPECT_EQ(platform::restrictToOwner(path.c_str()), 0);
  EXPECT_EQ(platform::restrictToOwner(scratch.str("missing").c_str()), ENOENT);
  EXPECT_EQ(platform::restrictOpenFileToOwner(nullptr), EINVAL);
  bool only = true;
  EXPECT_EQ(platform::fileIsOwnerOnly(scratch.str("missing").c_str(), &only), ENOENT);
  EXPECT_FALSE(only);
}

// An encoded filers.dat line of a record.
std::string filerLine(const char *systemId) {
  char line[256];
  std::snprintf(line, sizeof line, filerline::kFormat, systemId, "h.test", "root", 0, 0, 0, "pw");
  return std::string(basicEncode(line)) + "\n";
}

// The system ids that the controller library reads from filers.dat.
std::vector<std::string> readIds() {
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *filers = WSIList_new();
  std::vector<std::string> ids;
  EXPECT_EQ(getFilersFromDiskFile(&status, filers), 1) << status.message;
  for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at))
    ids.push_back(static_cast<Filer *>(WSIList_getElement(at))->systemId);
  freeFilers(filers);
  clearKELVAStatus(&status);
  return ids;
}

// Every step of a replacement fails once, through the seam over the Windows file
// system: the list on disk stays whole, the old one or, once the old one has
// become the previous version, the new one complete beside it.  A failure to
// keep the previous version does not stop the replacement.
TEST(WindowsReplacement, AFailingStepLeavesAWholeList) {
  using pk::testing::FileOp;
  ScratchDir scratch;
  EnvSetting data(WSI_DATA_DIR_ENV, scratch.path().string().c_str());
  platform::ReplacedFile names{scratch.str("filers.dat"), scratch.str("filers.dat.tmp"),
                               scratch.str("filers.dat.back")};
  const std::string oldList = filerLine("old1");
  const std::string newList = filerLine("new1") + filerLine("new2");
  struct Step {
    FileOp op;
    int nth;
    platform::WriteStep failed;
  } steps[] = {{FileOp::Create, 1, platform::WriteStep::Create},
               {FileOp::Write, 1, platform::WriteStep::Write},
               {FileOp::Sync, 1, platform::WriteStep::Sync},
               {FileOp::Close, 1, platform::WriteStep::Close},
               {FileOp::Rename, 1, platform::WriteStep::None},  // no previous version kept
               {FileOp::Rename, 2, platform::WriteStep::Replace}};
  for (const Step &step : steps) {
    SCOPED_TRACE(std::string(pk::testing::opName(step.op)) + " #" + std::to_string(step.nth));
    std::error_code ignored;
    for (const std::string &name : {names.target, names.temporary, names.previous})
      fs::remove(name, ignored);
    ASSERT_TRUE(platform::replaceFile(names, oldList).ok());

    pk::testing::FaultFileSystem faults;
    faults.fail({step.op, step.nth, ENOSPC});
    platform::FileSystem *was = platform::exchangeFileSystem(&faults);
    platform::WriteOutcome outcome = platform::replaceFile(names, newList);
    platform::exchangeFileSystem(was);
    EXPECT_EQ(outcome.failedStep, step.failed);
    EXPECT_EQ(outcome.ok() ? outcome.previousError : outcome.error, ENOSPC);

    if (outcome.ok()) {
      EXPECT_EQ(readIds(), (std::vector<std::string>{"new1", "new2"}));
    } else if (fs::exists(names.target)) {
      EXPECT_EQ(readIds(), std::vector<std::string>{"old1"});
      EXPECT_FALSE(fs::exists(names.temporary));
    } else {
      // Cut off between the renames: the old list is the previous version and
      // the new one is complete under the temporary name.
      ASSERT_EQ(step.nth, 2);
      EXPECT_EQ(readIds(), std::vector<std::string>{});
      std::ifstream previous(names.previous, std::ios::binary),
          temporary(names.temporary, std::ios::binary);
      std::stringstream p, t;
      p << previous.rdbuf();
      t << temporary.rdbuf();
      EXPECT_EQ(p.str(), oldList);
      EXPECT_EQ(t.str(), newList);
    }
    // The next replacement mends it.
    ASSERT_TRUE(platform::replaceFile(names, newList).ok());
    EXPECT_EQ(readIds(), (std::vector<std::string>{"new1", "new2"}));
  }
}

// ---- Filers on this machine's simulated filer, over WinHTTP ----------------------------

// The ports and certificates of the filersim-server that the test fixture
// started (scripts/filersim-fixture.sh).
class WindowsHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *dir = std::getenv("PK_FILERSIM_FIXTURE");
    if (dir == nullptr) GTEST_SKIP() << "no filersim-server fixture (PK_FILERSIM_FIXTURE)";
    dir_ = dir;
    std::ifstream(dir_ + "/http.port") >> httpPort_;
    std::ifstream(dir_ + "/https.port") >> httpsPort_;
    ASSERT_GT(httpPort_, 0);
    ASSERT_GT(httpsPort_, 0);
  }
  // Asks kelva-a for its version; returns the answer's version, or "failed: why".
  std::string version(int transport, int port, const char *password = "kelva:a-secret",
                      const char *host = "127.0.0.1") {
    WSIServerInfo *server = createServerInfo(host, "root", password, 10, transport, port);
    if (server == nullptr) return "failed: no connection";
    WSIElement *request = createElement("system-get-version");
    WSIElement *answer = invokeServerElement(server, request);
    std::string out;
    if (answer == nullptr) {
      out = "failed: no answer";
    } else if (checkResultStatus(answer) == 1) {
      const char *v = getStringElement(answer, "version");
      out = v != nullptr ? v : "(no version)";
    } else {
      const char *reason = getResultErrorString(answer);
      out = std::string("failed: ") + (reason != nullptr ? reason : "");
    }
    freeElement(answer);
    freeElement(request);
    destroyServerInfo(server);
    return out;
  }
  std::string dir_;
  int httpPort_ = 0, httpsPort_ = 0;
};

TEST_F(WindowsHttp, PlainHttpReachesTheFilerAndChecksItsPassword) {
  std::string v = version(WSI_TRANSPORT_HTTP, httpPort_);
  EXPECT_EQ(v.rfind("failed", 0), std::string::npos) << v;
  EXPECT_FALSE(v.empty());
  std::string refused = version(WSI_TRANSPORT_HTTP, httpPort_, "wrong");
  EXPECT_EQ(refused.rfind("failed", 0), 0u) << refused;

  // Nobody listens on the HTTPS server's port over plain HTTP; the failure is
  // reported, not hung on.
  std::string closed = version(WSI_TRANSPORT_HTTP, 1);
  EXPECT_EQ(closed.rfind("failed", 0), 0u) << closed;
}

// The filer is asked by name and by address: WinHTTP checks a host name
// against the certificate, the library checks an address.
TEST_F(WindowsHttp, HttpsTrustsTheBundleOnlyAndNoVerifySkipsTheCheck) {
  const char *password = "kelva:a-secret";
  std::string plain = version(WSI_TRANSPORT_HTTP, httpPort_);
  for (const char *host : {"localhost", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    {
      EnvSetting bundle("KELVA_CA_BUNDLE", (dir_ + "/filer.pem").c_str());
      EXPECT_EQ(version(WSI_TRANSPORT_HTTPS, httpsPort_, password, host), plain);
      std::string refused = version(WSI_TRANSPORT_HTTPS, httpsPort_, "wrong", host);
      EXPECT_EQ(refused.rfind("failed", 0), 0u) << refused;
    }
    {
      // Another authority's certificate: the filer's is neither it nor signed by it.
      EnvSetting bundle("KELVA_CA_BUNDLE", (dir_ + "/other.pem").c_str());
      std::string v = version(WSI_TRANSPORT_HTTPS, httpsPort_, password, host);
      EXPECT_NE(v.find("not trusted"), std::string::npos) << v;
    }
    {
      EnvSetting bundle("KELVA_CA_BUNDLE", (dir_ + "/missing.pem").c_str());
      std::string v = version(WSI_TRANSPORT_HTTPS, httpsPort_, password, host);
      EXPECT_NE(v.find("could not be read"), std::string::npos) << v;
    }
    EnvSetting noBundle("KELVA_CA_BUNDLE", nullptr);
    // A self-signed certificate is in no system store.
    std::string selfSigned = version(WSI_TRANSPORT_HTTPS, httpsPort_, password, host);
    EXPECT_EQ(selfSigned.rfind("failed", 0), 0u) << selfSigned;
    EXPECT_EQ(version(WSI_TRANSPORT_HTTPS_NOVERIFY, httpsPort_, password, host), plain);
  }
  // A certificate that names the host but not the address it is asked by.
  int namedPort = 0;
  std::ifstream(dir_ + "/named.port") >> namedPort;
  ASSERT_GT(namedPort, 0);
  EnvSetting bundle("KELVA_CA_BUNDLE", (dir_ + "/named.pem").c_str());
  EXPECT_EQ(version(WSI_TRANSPORT_HTTPS, namedPort, password, "localhost"), plain);
  std::string byAddress = version(WSI_TRANSPORT_HTTPS, namedPort, password, "127.0.0.1");
  EXPECT_NE(byAddress.find("does not name 127.0.0.1"), std::string::npos) << byAddress;
}

}  // namespace

#endif
