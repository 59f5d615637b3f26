// File exports and shares: export settings, share identifiers, listing with its
// filters and volume rules, and CIFS shares and NFS export rules created,
// changed and removed on a simulated filer, exactly as the requests describe.
#include <gmock/gmock.h>
#include <provkit/femanip.h>

#include <string>
#include <utility>
#include <vector>

#include "fileservices_support.h"

namespace {

using fstest::Record;
using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

constexpr const char *kVolA = "0f2e6a40-2222-11dd-9a1b-00a09800aaaa";
constexpr const char *kVol0 = "0f2e6a40-1111-11dd-9a1b-00a09800aaaa";
constexpr const char *kVolB = "0f2e6a40-3333-11dd-9a1b-00a09800aaaa";

// A list of texts, freed with its texts.
struct Texts {
  explicit Texts(std::initializer_list<const char *> items) : list(WSIList_new()) {
    for (const char *item : items) WSIList_append(list, wsistrdup(item));
  }
  ~Texts() { WSIList_free(list, wsifree); }
  Texts(const Texts &) = delete;
  Texts &operator=(const Texts &) = delete;
  WSIList *list;
};

class FileSharesTest : public fstest::FileServicesTest {
 protected:
  // "C mount name" or "N path path" of each listed share, in order; the list is freed.
  static std::vector<std::string> described(WSIList *shares) {
    std::vector<std::string> out;
    for (WSIListPos *at = WSIList_getFirst(shares); at != nullptr; at = WSIList_getNext(at)) {
      auto *share = static_cast<Share *>(WSIList_getElement(at));
      out.push_back(std::string(share->type == PK_SHARE_TYPE_CIFS ? "C " : "N ") + share->mount +
                    " " + share->name);
    }
    freeShares(shares);
    return out;
  }
  std::vector<std::string> list(int which, const char *mount = nullptr, const char *name = nullptr,
                                const char *fileSystem = nullptr, const Filer *filer = nullptr) {
    Record record;
    WSIList *shares =
        getAllShares(filer != nullptr ? filer : &a, which, mount, name, fileSystem, record.get());
    EXPECT_NE(shares, nullptr) << record.text();
    EXPECT_FALSE(record.failed()) << record.text();
    return described(shares);
  }
  static ExportedShare cifsShare(const char *name, const char *relative = nullptr) {
    ExportedShare share{};
    share.type = PK_SHARE_TYPE_CIFS;
    share.fileSystem = kVolA;
    share.relativePath = relative;
    share.name = name;
    return share;
  }
  static ExportedShare nfsShare(const char *relative) {
    ExportedShare share{};
    share.type = PK_SHARE_TYPE_NFS;
    share.fileSystem = kVolA;
    share.relativePath = relative;
    return share;
  }
  json cifsShareNamed(const std::string &name) {
    const json model = files();
    for (const json &share : model["cifs"]["shares"]) {
      if (share["name"] == name) return share;
    }
    return json();
  }
  json ruleFor(const std::string &path) {
    const json model = files();
    for (const json &rule : model["nfs"]["rules"]) {
      if (rule.value("pathname", "/") == path) return rule;
    }
    return json();
  }
  const FileExportSetting *chooseProtocol(CMPIUint16 protocol) {
    CMPIInstance *inst = instance("KELVA_FSSetting");
    setUint16(inst, "FileSharingProtocol", protocol);
    return chooseBestFileExportSetting(broker, &a, inst, "KELVA_FileShare", &status);
  }
};

std::vector<std::string> settingNames(WSIList *settings) {
  std::vector<std::string> out;
  for (WSIListPos *at = WSIList_getFirst(settings); at != nullptr; at = WSIList_getNext(at))
    out.emplace_back(static_cast<FileExportSetting *>(WSIList_getElement(at))->name);
  freeFileExportSettings(settings);
  return out;
}

TEST_P(FileSharesTest, ExportSettingsAreListedFoundAndChosenByProtocol) {
  Record record;
  EXPECT_THAT(settingNames(getFileExportSettings(&a, PK_SHARES_ALL, record.get())),
              ElementsAre("nfs", "cifs"));
  EXPECT_THAT(settingNames(getFileExportSettings(&a, PK_SHARES_CIFS, record.get())),
              ElementsAre("cifs"));
  EXPECT_THAT(settingNames(getFileExportSettings(&a, PK_SHARES_NFS, record.get())),
              ElementsAre("nfs"));
  EXPECT_THAT(settingNames(getFileExportSettings(&a, 7, record.get())), IsEmpty());
  {
    pktest::FailingAllocation fail(1);
    EXPECT_EQ(getFileExportSettings(&a, PK_SHARES_ALL, record.get()), nullptr);
    EXPECT_EQ(record.text(), "Insufficient memory");
    clearKELVAStatus(record.get());
  }

  const FileExportSetting *nfs = getFileExportSettingByName(&a, "nfs", record.get());
  ASSERT_NE(nfs, nullptr);
  EXPECT_EQ(nfs->shareType, PK_SHARE_TYPE_NFS);
  EXPECT_EQ(nfs->fileSharingProtocol, 2);
  const FileExportSetting *cifs = getFileExportSettingByName(&a, "cifs", record.get());
  ASSERT_NE(cifs, nullptr);
  EXPECT_EQ(cifs->shareType, PK_SHARE_TYPE_CIFS);
  EXPECT_EQ(cifs->fileSharingProtocol, 3);
  EXPECT_EQ(getFileExportSettingByName(&a, "NFS", record.get()), nullptr);
  EXPECT_FALSE(record.failed());
  EXPECT_EQ(getDefaultFileExportSetting(&a, record.get()), nfs);

  EXPECT_EQ(chooseProtocol(2), nfs);
  EXPECT_EQ(chooseProtocol(3), cifs);
  EXPECT_EQ(chooseProtocol(4), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  // The protocol is required.
  EXPECT_EQ(chooseBestFileExportSetting(broker, &a, instance("KELVA_FSSetting"), "KELVA_FileShare",
                                        &status),
            nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_THAT(message(), HasSubstr("FileSharingProtocol"));
  // The settings list failing is raised into the CMPI status.
  {
    pktest::FailingAllocation fail(1);
    EXPECT_EQ(chooseProtocol(2), nullptr);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
    EXPECT_EQ(message(), "Insufficient memory");
  }
}

TEST_P(FileSharesTest, ShareTypesComeFromTheProtocolsFirstLetter) {
  EXPECT_EQ(getShareTypeFromProtocol("Cifs"), PK_SHARE_TYPE_CIFS);
  EXPECT_EQ(getShareTypeFromProtocol("cifs"), PK_SHARE_TYPE_CIFS);
  EXPECT_EQ(getShareTypeFromProtocol("nfs"), PK_SHARE_TYPE_NFS);
  EXPECT_EQ(getShareTypeFromProtocol("NFS"), PK_SHARE_TYPE_NFS);
  EXPECT_EQ(getShareTypeFromProtocol("smb"), PK_SHARE_TYPE_NONE);
  EXPECT_EQ(getShareTypeFromProtocol(""), PK_SHARE_TYPE_NONE);
  EXPECT_EQ(getShareTypeFromProtocol(nullptr), PK_SHARE_TYPE_NONE);
}

TEST_P(FileSharesTest, ShareIdsRoundTripAndMalformedOnesAreRefused) {
  Share cifs{PK_SHARE_TYPE_CIFS, const_cast<char *>("/vol/vol1/users"),
             const_cast<char *>("users")};
  Share nfs{PK_SHARE_TYPE_NFS, const_cast<char *>("/vol/vol1/exp"),
            const_cast<char *>("/vol/vol1/exp")};
  struct Case {
    const Share *share;
    const char *id;
  };
  for (const Case &c : {Case{&cifs, "KELVA:0118054321:cifs:/vol/vol1/users:(users)"},
                        Case{&nfs, "KELVA:0118054321:nfs:/vol/vol1/exp:(/vol/vol1/exp)"}}) {
    char *id = encodeFileShareID("0118054321", c.share);
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id, c.id);
    char *system1 = nullptr, *system2 = nullptr, *mount = nullptr, *name = nullptr;
    int32_t type = 0;
    Record record;
    ASSERT_EQ(decodeFileShareID(id, &system1, &system2, &type, &mount, &name, record.get()), 1)
        << record.text();
    EXPECT_STREQ(system1, "0118054321");
    EXPECT_EQ(type, c.share->type);
    EXPECT_STREQ(mount, c.share->mount);
    EXPECT_STREQ(name, c.share->name);
    wsifree(id);
  }

  struct Bad {
    const char *id;
    const char *text;
  };
  for (const Bad &c :
       {Bad{"KELVA:1:ftp:/vol/x:(y)", "Unknown share type in 'InstanceID' key"},
        Bad{"KELVA:1::/vol/x:(y)", "Unable to isolate share protocol in 'InstanceID'"},
        Bad{"KELVA:1:cifs", "Unable to isolate share protocol in 'InstanceID'"},
        Bad{"KELVA:1:cifs:/vol/x", "Unable to isolate mount name in 'InstanceID'"},
        Bad{"KELVA:1:cifs:/vol/x:y)", "Unable to isolate share name in 'InstanceID'"},
        Bad{"KELVA:1:cifs:/vol/x:(y", "Unable to isolate share name in 'InstanceID'"}}) {
    std::string id = c.id;
    char *untouched = reinterpret_cast<char *>(0x1);
    int32_t type = -1;
    Record record;
    EXPECT_EQ(decodeFileShareID(id.data(), &untouched, &untouched, &type, &untouched, &untouched,
                                record.get()),
              0);
    EXPECT_EQ(record.text(), c.text) << c.id;
    EXPECT_EQ(type, -1);
    EXPECT_EQ(untouched, reinterpret_cast<char *>(0x1));
  }
  Record record;
  std::string notAnId = "nothing";
  EXPECT_EQ(
      decodeFileShareID(notAnId.data(), nullptr, nullptr, nullptr, nullptr, nullptr, record.get()),
      0);
  EXPECT_TRUE(record.failed());
}

TEST_P(FileSharesTest, AMountNamesItsVolumeOrTheRootVolume) {
  Record record;
  std::string mount = "/vol/volA/users/x";
  char *name = getVolumeNameFromMount(&a, mount.data(), record.get());
  ASSERT_NE(name, nullptr) << record.text();
  EXPECT_STREQ(name, "volA");
  EXPECT_STREQ(mount.c_str(), "/vol/volA");  // cut in place
  wsifree(name);
  std::string other = "/";
  name = getVolumeNameFromMount(&a, other.data(), record.get());
  ASSERT_NE(name, nullptr) << record.text();
  EXPECT_STREQ(name, "vol0");
  wsifree(name);
  std::string empty = "/vol/";
  EXPECT_EQ(getVolumeNameFromMount(&a, empty.data(), record.get()), nullptr);
  EXPECT_EQ(record.text(), "Invalid mount format");
}

TEST_P(FileSharesTest, ListingHonoursFiltersAndTheVolumeRules) {
  EXPECT_THAT(
      list(PK_SHARES_ALL),
      ElementsAre("C /vol/volA/users users", "C /vol/vol0/home home", "C /vol/volB/archive archive",
                  "N /vol/volA/exp /vol/volA/exp", "N /vol/vol0 /vol/vol0", "N / /"));
  EXPECT_THAT(list(PK_SHARES_CIFS, "/vol/volA/*"), ElementsAre("C /vol/volA/users users"));
  EXPECT_THAT(list(PK_SHARES_NFS, "/vol/volA/*"), ElementsAre("N /vol/volA/exp /vol/volA/exp"));
  // The name filter goes to the filer with the CIFS listing and spares NFS rules.
  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, "home"),
              ElementsAre("C /vol/vol0/home home", "N /vol/volA/exp /vol/volA/exp",
                          "N /vol/vol0 /vol/vol0", "N / /"));
  EXPECT_EQ(lastRequest("cifs-share-list-iter-start"),
            "<cifs-share-list-iter-start><share-name>home</share-name>"
            "</cifs-share-list-iter-start>");
  EXPECT_THAT(list(PK_SHARES_CIFS, nullptr, "*r*"),
              ElementsAre("C /vol/volA/users users", "C /vol/volB/archive archive"));

  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, nullptr, kVolA),
              ElementsAre("C /vol/volA/users users", "N /vol/volA/exp /vol/volA/exp"));
  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, nullptr, "volB"),
              ElementsAre("C /vol/volB/archive archive"));
  // A rule without a path lies in the root volume only.
  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, nullptr, kVol0),
              ElementsAre("C /vol/vol0/home home", "N /vol/vol0 /vol/vol0", "N / /"));
  // A file system that does not exist has no shares.
  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, nullptr, "nosuch"), IsEmpty());
  // The volume match is a plain prefix over the volume's name.
  sim->mutate("kelva-a", [](json &filer) {
    filer["files"]["cifs"]["shares"].push_back({{"name", "x"}, {"mount", "/vol/volAB/x"}});
  });
  EXPECT_THAT(list(PK_SHARES_CIFS, nullptr, nullptr, kVolA),
              ElementsAre("C /vol/volA/users users", "C /vol/volAB/x x"));
  EXPECT_EQ(openListings(), 0u);
  EXPECT_THAT(
      lastRequest("cifs-share-list-iter-next"),
      MatchesRegex("<cifs-share-list-iter-next><tag>cifs-share-.+</tag><maximum>100</maximum>"
                   "</cifs-share-list-iter-next>"));
}

TEST_P(FileSharesTest, AFilerWithoutCifsListsItsNfsRulesAlone) {
  EXPECT_THAT(list(PK_SHARES_ALL, nullptr, nullptr, nullptr, &b),
              ElementsAre("N /vol/vol0 /vol/vol0"));
  for (int quiet : {13200, 13201}) {
    sim->mutate("kelva-a", [&](json &filer) { filer["files"]["cifs"]["error"] = quiet; });
    EXPECT_THAT(list(PK_SHARES_CIFS), IsEmpty());
  }
  // Any other refusal is a failure naming the filer, and nothing is listed.
  sim->setFault("kelva-a", "cifs-share-list-iter-start", filersim::Fault::fail(13001, "bad"));
  Record record;
  EXPECT_EQ(getAllShares(&a, PK_SHARES_ALL, nullptr, nullptr, nullptr, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("bad"));
  EXPECT_THAT(record.text(), HasSubstr("kelva-a.sim"));
}

TEST_P(FileSharesTest, OneBatchOfAHundredCifsSharesIsListed) {
  sim->mutate("kelva-a", [](json &filer) {
    json &shares = filer["files"]["cifs"]["shares"];
    shares = json::array();
    for (int i = 0; i < 150; ++i) {
      std::string name = "s" + std::to_string(i);
      shares.push_back({{"name", name}, {"mount", "/vol/volA/" + name}});
    }
  });
  std::vector<std::string> listed = list(PK_SHARES_CIFS);
  ASSERT_EQ(listed.size(), 100u);
  EXPECT_EQ(listed.front(), "C /vol/volA/s0 s0");
  EXPECT_EQ(listed.back(), "C /vol/volA/s99 s99");
  EXPECT_EQ(openListings(), 0u);
}

TEST_P(FileSharesTest, ListingFailuresLeaveNoListAndNoListingOpen) {
  sim->setFault("kelva-a", "cifs-share-list-iter-next", filersim::Fault::fail(13001, "late"));
  Record record;
  EXPECT_EQ(getAllShares(&a, PK_SHARES_ALL, nullptr, nullptr, nullptr, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("late"));
  EXPECT_EQ(openListings(), 0u);
  sim->clearFaults();
  clearKELVAStatus(record.get());

  sim->setFault("kelva-a", "nfs-exportfs-list-rules", filersim::Fault::fail(13001, "nfs down"));
  EXPECT_EQ(getAllShares(&a, PK_SHARES_ALL, nullptr, nullptr, nullptr, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("nfs down"));
  sim->clearFaults();
  clearKELVAStatus(record.get());

  Filer nowhere = a;
  nowhere.host = nullptr;
  EXPECT_EQ(getAllShares(&nowhere, PK_SHARES_ALL, nullptr, nullptr, nullptr, record.get()),
            nullptr);
  EXPECT_EQ(record.text(), "Unable to create filer connection");
  clearKELVAStatus(record.get());

  // Running out of memory anywhere in a listing fails it whole, without leaks.
  unsigned long long total = 0;
  {
    pktest::FailingAllocation count(0);
    freeShares(getAllShares(&a, PK_SHARES_ALL, nullptr, nullptr, kVolA, record.get()));
    total = wsiTestAllocationCount();
  }
  ASSERT_GT(total, 0u);
  for (unsigned long long nth = 1; nth <= total; ++nth) {
    Record failing;
    WSIList *shares = nullptr;
    {
      pktest::FailingAllocation fail(nth);
      shares = getAllShares(&a, PK_SHARES_ALL, nullptr, nullptr, kVolA, failing.get());
    }
    if (shares != nullptr) {
      // An allocation the library could do without (a diagnostic text).
      EXPECT_FALSE(failing.failed()) << nth;
      freeShares(shares);
    } else {
      EXPECT_TRUE(failing.failed()) << nth;
    }
  }
}

TEST_P(FileSharesTest, CifsSharesAreAddedChangedAndDeletedAsRequested) {
  ExportedShare share = cifsShare("projects", "/projects");
  share.comment = "team work";
  Record record;
  char *path = nullptr;
  createExportedShare(&a, &share, &path, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  ASSERT_NE(path, nullptr);
  EXPECT_STREQ(path, "/vol/volA/projects");
  wsifree(path);
  EXPECT_EQ(lastRequest("cifs-share-add"),
            "<cifs-share-add><share-name>projects</share-name><path>/vol/volA/projects</path>"
            "<comment>team work</comment>"
            "<is-symlink-strict-security>true</is-symlink-strict-security>"
            "<umask>420</umask></cifs-share-add>");
  json made = cifsShareNamed("projects");
  EXPECT_EQ(made["mount"], "/vol/volA/projects");
  EXPECT_EQ(made["comment"], "team work");
  EXPECT_EQ(made["umask"], 420);
  EXPECT_EQ(made["symlinkStrictSecurity"], true);
  EXPECT_THAT(list(PK_SHARES_CIFS, nullptr, "projects"),
              ElementsAre("C /vol/volA/projects projects"));

  share.comment = nullptr;
  modifyExportedShare(&a, &share, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("cifs-share-change"),
            "<cifs-share-change><share-name>projects</share-name>"
            "<is-symlink-strict-security>true</is-symlink-strict-security>"
            "<umask>420</umask></cifs-share-change>");

  releaseExportedShare(&a, &share, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("cifs-share-delete"),
            "<cifs-share-delete><share-name>projects</share-name></cifs-share-delete>");
  EXPECT_TRUE(cifsShareNamed("projects").is_null());
  // Once gone, a second delete is the filer's refusal.
  releaseExportedShare(&a, &share, record.get());
  EXPECT_THAT(record.text(), HasSubstr("No share named projects"));
}

TEST_P(FileSharesTest, CreationIsRefusedBeforeAnyRequestWhenItCannotBeMade) {
  int before = sim->requestCount("kelva-a");
  ExportedShare share = cifsShare("x", "projects");
  share.type = PK_SHARE_TYPE_NONE;
  Record record;
  char *path = nullptr;
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_EQ(record.text(), "Exported Share Type unspecified");
  clearKELVAStatus(record.get());
  modifyExportedShare(&a, &share, record.get());
  EXPECT_EQ(record.text(), "Exported Share Type unspecified");
  clearKELVAStatus(record.get());
  releaseExportedShare(&a, &share, record.get());
  EXPECT_EQ(record.text(), "Exported Share Type unspecified");
  clearKELVAStatus(record.get());
  EXPECT_EQ(sim->requestCount("kelva-a"), before);

  share = cifsShare("x", "projects");
  share.fileSystem = "nosuch";
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_EQ(record.text(), "Volume Filesystem with UUID specified does not exist");
  EXPECT_EQ(path, nullptr);
  clearKELVAStatus(record.get());

  // A name in use is the filer's refusal, naming the filer; no path is handed out.
  share = cifsShare("users", "projects");
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_THAT(record.text(), HasSubstr("Share users already exists"));
  EXPECT_EQ(path, nullptr);
}

TEST_P(FileSharesTest, NfsRulesCarryRootHostsNegationAndEverySupportedFlavour) {
  Texts hosts{"a", "", "b", "", "c"};
  ExportedShare share = nfsShare("projects");
  share.anon = "65534";
  share.rootHosts = hosts.list;
  Record record;
  char *path = nullptr;
  createExportedShare(&a, &share, &path, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  ASSERT_NE(path, nullptr);
  EXPECT_STREQ(path, "/vol/volA/projects");
  wsifree(path);
  EXPECT_EQ(lastRequest("nfs-exportfs-append-rules"),
            "<nfs-exportfs-append-rules><rules><exports-rule-info>"
            "<pathname>/vol/volA/projects</pathname><anon>65534</anon><root>"
            "<exports-hostname-info><name>a</name><negate>false</negate></exports-hostname-info>"
            "<exports-hostname-info><name>b</name><negate>true</negate></exports-hostname-info>"
            "<exports-hostname-info><name>c</name><negate>true</negate></exports-hostname-info>"
            "</root><sec-flavor>"
            "<sec-flavor-info><flavor>sys</flavor></sec-flavor-info>"
            "<sec-flavor-info><flavor>krb5</flavor></sec-flavor-info>"
            "<sec-flavor-info><flavor>krb5i</flavor></sec-flavor-info>"
            "<sec-flavor-info><flavor>krb5p</flavor></sec-flavor-info>"
            "</sec-flavor></exports-rule-info></rules><persistent>true</persistent>"
            "</nfs-exportfs-append-rules>");
  json rule = ruleFor("/vol/volA/projects");
  ASSERT_FALSE(rule.is_null());
  EXPECT_EQ(rule["persistent"], true);
  EXPECT_EQ(rule["anon"], "65534");
  EXPECT_EQ(rule["root"], json::parse(R"([{"name":"a","negate":false},{"name":"b","negate":true},
                                          {"name":"c","negate":true}])"));
  EXPECT_EQ(rule["flavors"], json::parse(R"(["sys","krb5","krb5i","krb5p"])"));
  EXPECT_THAT(
      list(PK_SHARES_NFS, "/vol/volA/*"),
      ElementsAre("N /vol/volA/exp /vol/volA/exp", "N /vol/volA/projects /vol/volA/projects"));

  // A filer that supports fewer flavours gets only those.
  sim->mutate("kelva-a", [](json &filer) { filer["files"]["nfs"]["flavors"] = {"sys", "none"}; });
  ExportedShare change{};
  change.type = PK_SHARE_TYPE_NFS;
  change.name = "/vol/volA/exp";
  modifyExportedShare(&a, &change, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("nfs-exportfs-modify-rule"),
            "<nfs-exportfs-modify-rule><rule><exports-rule-info>"
            "<pathname>/vol/volA/exp</pathname><sec-flavor>"
            "<sec-flavor-info><flavor>sys</flavor></sec-flavor-info>"
            "<sec-flavor-info><flavor>none</flavor></sec-flavor-info>"
            "</sec-flavor></exports-rule-info></rule><persistent>true</persistent>"
            "</nfs-exportfs-modify-rule>");
  rule = ruleFor("/vol/volA/exp");
  EXPECT_FALSE(rule.contains("root"));
  EXPECT_FALSE(rule.contains("anon"));
  EXPECT_EQ(rule["flavors"], json::parse(R"(["sys","none"])"));

  releaseExportedShare(&a, &change, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("nfs-exportfs-delete-rules"),
            "<nfs-exportfs-delete-rules><pathnames><pathname-info><name>/vol/volA/exp</name>"
            "</pathname-info></pathnames><persistent>true</persistent>"
            "</nfs-exportfs-delete-rules>");
  EXPECT_TRUE(ruleFor("/vol/volA/exp").is_null());
  modifyExportedShare(&a, &change, record.get());
  EXPECT_THAT(record.text(), HasSubstr("No export rule for /vol/volA/exp"));
}

TEST_P(FileSharesTest, AnNfsRuleNeedsAnExistingDirectoryAndTheFlavourAnswer) {
  int rules = static_cast<int>(files()["nfs"]["rules"].size());
  Record record;
  char *path = nullptr;
  ExportedShare share = nfsShare("nope");
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_EQ(record.text(), "No such file or directory: /vol/volA/nope");
  EXPECT_EQ(path, nullptr);
  EXPECT_TRUE(lastRequest("nfs-exportfs-append-rules").empty());
  clearKELVAStatus(record.get());

  share = nfsShare("projects");
  sim->setFault("kelva-a", "nfs-get-supported-sec-flavors", filersim::Fault::fail(13001, "nope"));
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_THAT(record.text(), HasSubstr("nope"));
  clearKELVAStatus(record.get());
  sim->setFault("kelva-a", "nfs-get-supported-sec-flavors",
                filersim::Fault::answer(
                    "<kelva version=\"1.0\"><results status=\"passed\"></results></kelva>"));
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_EQ(record.text(), "File Export Subsystem: Failed to isolate existing flavors");
  clearKELVAStatus(record.get());
  sim->setFault("kelva-a", "nfs-get-supported-sec-flavors",
                filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\">"
                                        "<sec-flavor><sec-flavor-info><x>sys</x></sec-flavor-info>"
                                        "</sec-flavor></results></kelva>"));
  createExportedShare(&a, &share, &path, record.get());
  EXPECT_EQ(record.text(), "File Export Subsystem: Failed to find 'flavor' string");
  sim->clearFaults();
  EXPECT_EQ(static_cast<int>(files()["nfs"]["rules"].size()), rules);
  EXPECT_EQ(path, nullptr);
}

TEST_P(FileSharesTest, RunningOutOfMemoryWhileChangingFailsCleanly) {
  // Every allocation of a create, in turn: either the call fails with the
  // record set and no path, or it succeeds; nothing leaks (the sanitizer build).
  Texts hosts{"a", "", "b"};
  ExportedShare share = nfsShare("projects");
  share.rootHosts = hosts.list;
  share.name = "/vol/volA/projects";  // what the release names
  unsigned long long total = 0;
  {
    pktest::FailingAllocation count(0);
    Record record;
    char *path = nullptr;
    createExportedShare(&a, &share, &path, record.get());
    ASSERT_FALSE(record.failed()) << record.text();
    wsifree(path);
    total = wsiTestAllocationCount();
    releaseExportedShare(&a, &share, record.get());
  }
  for (unsigned long long nth = 1; nth <= total; ++nth) {
    Record record;
    char *path = nullptr;
    {
      pktest::FailingAllocation fail(nth);
      createExportedShare(&a, &share, &path, record.get());
    }
    if (path != nullptr) {
      wsifree(path);
      Record cleanup;
      releaseExportedShare(&a, &share, cleanup.get());
    } else {
      EXPECT_TRUE(record.failed()) << nth;
    }
  }
}

CIMOM_INSTANTIATE(FileSharesTest);

}  // namespace
