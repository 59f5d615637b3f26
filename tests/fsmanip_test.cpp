// File systems: the two settings, the choice of a setting from a client's
// setting-data instance (every rule and its message), and volumes taken off
// line, destroyed and looked for among CIFS sessions on a simulated filer.
#include <gmock/gmock.h>
#include <provkit/fsmanip.h>

#include <string>

#include "fileservices_support.h"

namespace {

using fstest::Record;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class FileSystemsTest : public fstest::FileServicesTest {
 protected:
  // The volume record of kelva-a of that name, freed by the caller.
  KELVAVolume *volume(const char *name) {
    Record record;
    KELVAVolume *found = getFileSystemFromUUID(&a, name, record.get());
    EXPECT_FALSE(record.failed()) << record.text();
    return found;
  }
  // A setting-data instance asking for a file system of type 14 with that CopyTarget.
  CMPIInstance *asking(CMPIUint16 copyTarget) {
    CMPIInstance *inst = instance("KELVA_FSSetting");
    setUint16(inst, "ActualFileSystemType", 14);
    setUint16(inst, "CopyTarget", copyTarget);
    return inst;
  }
  const FSSetting *choose(CMPIInstance *inst) {
    return chooseBestFileSystemSetting(broker, &a, inst, "KELVA_FSConfigurationService", &status);
  }
  // The refusal of the instance: rc 4 and the message.
  void expectRefused(CMPIInstance *inst, const std::string &text) {
    EXPECT_EQ(choose(inst), nullptr);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(message(), "KELVA_FSConfigurationService : " + text);
  }
};

struct VolumeFree {
  void operator()(KELVAVolume *v) const { freeVolume(v); }
};
using Volume = std::unique_ptr<KELVAVolume, VolumeFree>;

TEST_P(FileSystemsTest, SettingsAreTwoFixedRecordsFoundByIndexIdOrName) {
  EXPECT_EQ(getNumFSSettings(), 2);
  const FSSetting *seal = getFSSettingAt(nullptr, 0);
  const FSSetting *plain = getFSSettingAt(nullptr, 1);
  ASSERT_NE(seal, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_STREQ(seal->name, "LYRE-Sealmode");
  EXPECT_EQ(seal->id, 2u);
  EXPECT_EQ(seal->fileSystemType, 14);
  EXPECT_EQ(seal->sealmode, 1);
  EXPECT_EQ(seal->notSealmode, 0);
  EXPECT_STREQ(plain->name, "LYRE-NoSealmode");
  EXPECT_EQ(plain->id, 3u);
  EXPECT_EQ(getFSSettingAt(nullptr, 2), nullptr);
  EXPECT_EQ(getFSSettingAt(nullptr, -1), nullptr);

  EXPECT_EQ(getFSSettingByID(nullptr, "2"), seal);
  EXPECT_EQ(getFSSettingByID(nullptr, "1"), plain);
  EXPECT_EQ(getFSSettingByID(nullptr, "3"), plain);
  EXPECT_EQ(getFSSettingByID(nullptr, "LYRE-Sealmode"), seal);
  EXPECT_EQ(getFSSettingByID(nullptr, "LYRE-NoSealmode"), plain);
  EXPECT_EQ(getFSSettingByID(nullptr, "lyre-sealmode"), nullptr);
  EXPECT_EQ(getFSSettingByID(nullptr, "default"), nullptr);
  EXPECT_EQ(getFSSettingByID(nullptr, nullptr), nullptr);

  EXPECT_TRUE(areFSSettingsSame(getFSSettingByID(nullptr, "1"), getFSSettingByID(nullptr, "3")));
  EXPECT_FALSE(areFSSettingsSame(seal, plain));
  // Equal contents are not the same setting: only the records themselves are.
  FSSetting copy = *seal;
  EXPECT_FALSE(areFSSettingsSame(&copy, seal));
}

TEST_P(FileSystemsTest, AVolumeHasTheSettingOfItsWriteOnceFlag) {
  Volume worm(volume("volB"));
  Volume plainVolume(volume("volA"));
  ASSERT_TRUE(worm && plainVolume);
  const FSSetting *seal = getFSSettingAt(nullptr, 0);
  const FSSetting *plain = getFSSettingAt(nullptr, 1);
  EXPECT_TRUE(passesFSSettingFilter(nullptr, worm.get()));
  EXPECT_TRUE(passesFSSettingFilter(seal, worm.get()));
  EXPECT_FALSE(passesFSSettingFilter(plain, worm.get()));
  EXPECT_TRUE(passesFSSettingFilter(plain, plainVolume.get()));
  EXPECT_FALSE(passesFSSettingFilter(seal, plainVolume.get()));

  Record record;
  EXPECT_EQ(getFSSettingFromVolume(&a, "volB", record.get()), seal);
  EXPECT_EQ(getFSSettingFromVolume(&a, "volA", record.get()), plain);
  EXPECT_EQ(getFSSettingFromVolume(&a, "nosuch", record.get()), nullptr);
  EXPECT_FALSE(record.failed()) << record.text();

  // By uuid as well as by name; none for an unknown identifier.
  Volume byUuid(getFileSystemFromUUID(&a, "0f2e6a40-2222-11dd-9a1b-00a09800aaaa", record.get()));
  ASSERT_TRUE(byUuid);
  EXPECT_STREQ(byUuid->name, "volA");
  EXPECT_EQ(getFileSystemFromUUID(&a, "nosuch", record.get()), nullptr);
  EXPECT_FALSE(record.failed());
}

TEST_P(FileSystemsTest, VolumeLookupsReportTheirFailures) {
  {
    Record record;
    pktest::FailingAllocation fail(1);
    EXPECT_EQ(getFSSettingFromVolume(&a, "volA", record.get()), nullptr);
    EXPECT_EQ(record.text(), "KELVA_FSSetting Insufficient memory");
  }
  // The setting is read fresh from the filer, so a failing filer shows.
  sim->setFault("kelva-a", "volume-list-info", filersim::Fault::fail(13001, "broken"));
  Record record;
  EXPECT_EQ(getFSSettingFromVolume(&a, "volA", record.get()), nullptr);
  EXPECT_TRUE(record.failed());
}

TEST_P(FileSystemsTest, ASettingIsChosenByTypeAndCopyTarget) {
  const FSSetting *seal = getFSSettingAt(nullptr, 0);
  const FSSetting *plain = getFSSettingAt(nullptr, 1);
  EXPECT_EQ(choose(asking(2)), seal);
  EXPECT_EQ(choose(asking(0)), plain);
  EXPECT_EQ(choose(asking(1)), plain);
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  CMPIInstance *every = asking(2);
  setUint16(every, "DataExtentsSharing", 1);
  setUint16(every, "FilenameCaseAttributes", 1);
  setNull(every, "NumberOfObjects", CMPI_uint64);
  CMPIValue zero;
  zero.uint64 = 0;
  CMSetProperty(every, "ObjectSize", &zero, CMPI_uint64);
  setArray(every, "ObjectSizeMax", CMPI_uint64, {0});
  setArray(every, "ObjectSizeMin", CMPI_uint64, {-1});
  setArray(every, "FilenameFormats", CMPI_uint16, {-1, 2});
  setArray(every, "FilenameStreamFormats", CMPI_uint16, {1, 2, 3});
  EXPECT_EQ(choose(every), seal);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
}

TEST_P(FileSystemsTest, EveryRuleRefusesWithItsOwnMessage) {
  CMPIInstance *type = asking(2);
  setUint16(type, "ActualFileSystemType", 13);
  expectRefused(type, "ActualFileSystemType property invalid file system type");

  expectRefused(asking(5), "CopyTarget property must be 0,1,5, or unspecified");
  expectRefused(asking(3), "CopyTarget property must be 0,1,5, or unspecified");

  CMPIInstance *sharing = asking(0);
  setUint16(sharing, "DataExtentsSharing", 2);
  expectRefused(sharing, "DataExtentsSharing property must be 1, or unspecified");

  CMPIInstance *caseAttributes = asking(0);
  setUint16(caseAttributes, "FilenameCaseAttributes", 2);
  expectRefused(caseAttributes, "FilenameCaseAttributes property must be 0,1, or unspecified");

  for (const char *name : {"NumberOfObjects", "NumberOfObjectsMax", "NumberOfObjectsMin",
                           "ObjectSize", "ObjectSizeMax", "ObjectSizeMin"}) {
    CMPIInstance *scalar = asking(0);
    CMPIValue v;
    v.uint64 = 1000;
    CMSetProperty(scalar, name, &v, CMPI_uint64);
    expectRefused(scalar, std::string(name) + " property element [0]  - expected value 0");
    CMPIInstance *element = asking(0);
    setArray(element, name, CMPI_uint64, {7});
    expectRefused(element, std::string(name) + " property element [0]  - expected value 0");
    CMPIInstance *many = asking(0);
    setArray(many, name, CMPI_uint64, {0, 0});
    expectRefused(many, std::string(name) + " property has too many elements");
  }

  CMPIInstance *vms = asking(0);
  setArray(vms, "FilenameFormats", CMPI_uint16, {1, 3});
  expectRefused(vms, "FilenameFormats cannot specify VMS support");

  CMPIInstance *ucs = asking(0);
  setArray(ucs, "FilenameStreamFormats", CMPI_uint16, {-1, 6});
  expectRefused(ucs, "FilenameStreamFormats cannot specify UCS-32 support");
}

TEST_P(FileSystemsTest, MissingOrMistypedPropertiesStopTheChoice) {
  CMPIInstance *none = instance("KELVA_FSSetting");
  EXPECT_EQ(choose(none), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_THAT(message(), HasSubstr("ActualFileSystemType"));

  CMPIInstance *noCopy = instance("KELVA_FSSetting");
  setUint16(noCopy, "ActualFileSystemType", 14);
  EXPECT_EQ(choose(noCopy), nullptr);
  EXPECT_THAT(message(), HasSubstr("CopyTarget"));

  CMPIInstance *mistyped = asking(0);
  CMPIValue v;
  v.uint32 = 1;
  CMSetProperty(mistyped, "DataExtentsSharing", &v, CMPI_uint32);
  EXPECT_EQ(choose(mistyped), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_TYPE_MISMATCH);
  message();

  // The object manager failing to read a property stops the choice as well.
  om->inject({"Instance.getProperty", 1});
  EXPECT_EQ(choose(asking(0)), nullptr);
  EXPECT_NE(status.rc, CMPI_RC_OK);
  message();
  om->clearFaults();
}

TEST_P(FileSystemsTest, AbsolutePathsJoinVolumeAndRelativePath) {
  struct Case {
    const char *volume;
    const char *relative;
    const char *path;
  };
  for (const Case &c : {Case{"vol1", "/qt1", "/vol/vol1/qt1"}, Case{"vol1", "qt1", "/vol/vol1/qt1"},
                        Case{"vol1", nullptr, "/vol/vol1"}, Case{"vol1", "", "/vol/vol1/"},
                        Case{"vol1", "//a/b", "/vol/vol1//a/b"}}) {
    char *made = makeAbsolutePath(c.volume, c.relative);
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made, c.path) << (c.relative != nullptr ? c.relative : "(none)");
    wsifree(made);
  }
  pktest::FailingAllocation fail(1);
  EXPECT_EQ(makeAbsolutePath("vol1", "x"), nullptr);
}

TEST_P(FileSystemsTest, TakingOfflineIgnoresAVolumeAlreadyOffline) {
  Volume volA(volume("volA"));
  ASSERT_TRUE(volA);
  Record record;
  takeFileSystemOfflineNoCache(&a, volA.get(), 5, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("volume-offline"),
            "<volume-offline><name>volA</name><cifs-delay>5</cifs-delay></volume-offline>");
  nlohmann::json vols = sim->state("kelva-a")["storage"]["volumes"];
  EXPECT_EQ(vols[1]["state"], "offline");
  EXPECT_EQ(vols[1]["cifsDelay"], 5);
  // Again: the filer refuses with 13114, which is no failure here.
  takeFileSystemOfflineNoCache(&a, volA.get(), 0, record.get());
  EXPECT_FALSE(record.failed()) << record.text();

  // Other refusals carry the filer's own text.
  Volume root(volume("vol0"));
  takeFileSystemOfflineNoCache(&a, root.get(), 0, record.get());
  EXPECT_EQ(record.text(), "The root volume cannot be taken offline");
  clearKELVAStatus(record.get());

  KELVAVolume ghost{};
  ghost.name = const_cast<char *>("ghost");
  takeFileSystemOfflineNoCache(&a, &ghost, 0, record.get());
  EXPECT_EQ(record.text(), "No volume named ghost");
  clearKELVAStatus(record.get());

  Filer nowhere = a;
  nowhere.host = nullptr;
  takeFileSystemOfflineNoCache(&nowhere, volA.get(), 0, record.get());
  EXPECT_EQ(record.text(), "KELVA_FSConfigurationService Failed to create Server connection");
}

TEST_P(FileSystemsTest, DestroyingAVolumeDropsItFromFilerAndCache) {
  Volume volA(volume("volA"));
  ASSERT_TRUE(volA);
  Record record;
  // A volume on line is refused by the filer and stays.
  destroyFileSystem(&a, volA.get(), record.get());
  EXPECT_EQ(record.text(), "Volume volA is online; take it offline first");
  clearKELVAStatus(record.get());

  takeFileSystemOfflineNoCache(&a, volA.get(), 0, record.get());
  destroyFileSystem(&a, volA.get(), record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(lastRequest("volume-destroy"), "<volume-destroy><name>volA</name></volume-destroy>");
  // Gone from the cached records without waiting for them to be read again.
  EXPECT_EQ(volume("volA"), nullptr);
  // What it shared went with it.
  const nlohmann::json model = files();
  ASSERT_EQ(model["cifs"]["shares"].size(), 2u);
  for (const auto &share : model["cifs"]["shares"]) EXPECT_NE(share["name"], "users");
  ASSERT_EQ(model["nfs"]["rules"].size(), 2u);
  for (const auto &rule : model["nfs"]["rules"])
    EXPECT_NE(rule.value("pathname", ""), "/vol/volA/exp");

  Filer nowhere = a;
  nowhere.host = nullptr;
  destroyFileSystem(&nowhere, volA.get(), record.get());
  EXPECT_EQ(record.text(), " Failed to create Server connection");
}

TEST_P(FileSystemsTest, AVolumeIsInUseWhileACifsSessionListsIt) {
  Record record;
  for (const char *name : {"volA", "vol0", "volB"}) {
    Volume v(volume(name));
    EXPECT_EQ(isFileSystemInUse(&a, v.get(), record.get()), 1) << name;
  }
  Volume trad(volume("tradvol1"));
  EXPECT_EQ(isFileSystemInUse(&a, trad.get(), record.get()), 0);
  EXPECT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(openListings(), 0u);
  EXPECT_THAT(
      lastRequest("cifs-session-list-iter-next"),
      MatchesRegex("<cifs-session-list-iter-next><tag>cifs-session-.+</tag><maximum>20</maximum>"
                   "</cifs-session-list-iter-next>"));

  // Taking a volume off line ends its CIFS users' access; then it is free to destroy.
  Volume volB(volume("volB"));
  takeFileSystemOfflineNoCache(&a, volB.get(), 2, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(isFileSystemInUse(&a, volB.get(), record.get()), 0);
  Volume vol0(volume("vol0"));
  EXPECT_EQ(isFileSystemInUse(&a, vol0.get(), record.get()), 1);

  // Comparison is exact: a volume whose name another begins with is not in use.
  KELVAVolume prefix{};
  prefix.name = const_cast<char *>("vol");
  EXPECT_EQ(isFileSystemInUse(&a, &prefix, record.get()), 0);
}

TEST_P(FileSystemsTest, SessionsAreReadInBatchesUntilTheFilerHasNoMore) {
  // 45 sessions: three batches, the user of tradvol1 in the last one.
  sim->mutate("kelva-a", [](nlohmann::json &filer) {
    nlohmann::json &sessions = filer["files"]["sessions"];
    sessions = nlohmann::json::array();
    for (int i = 0; i < 44; ++i)
      sessions.push_back({{"host", "192.0.2." + std::to_string(i)}, {"volumes", {"volA"}}});
    sessions.push_back({{"host", "192.0.2.99"}, {"volumes", {"volB", "tradvol1"}}});
  });
  Volume trad(volume("tradvol1"));
  Volume root(volume("vol0"));
  Record record;
  int before = sim->requestCount("kelva-a");
  EXPECT_EQ(isFileSystemInUse(&a, trad.get(), record.get()), 1);
  EXPECT_EQ(sim->requestCount("kelva-a") - before, 5);  // start, three batches, end
  // A volume nobody uses drains the listing; its empty last batch ends the walk.
  before = sim->requestCount("kelva-a");
  EXPECT_EQ(isFileSystemInUse(&a, root.get(), record.get()), 0);
  EXPECT_EQ(sim->requestCount("kelva-a") - before, 6);
  EXPECT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(openListings(), 0u);
}

TEST_P(FileSystemsTest, SessionWalkFailuresEndTheListingAndReport) {
  Volume volA(volume("volA"));
  {
    sim->setFault("kelva-a", "cifs-session-list-iter-next", filersim::Fault::fail(13001, "busy"));
    Record record;
    EXPECT_EQ(isFileSystemInUse(&a, volA.get(), record.get()), 0);
    EXPECT_EQ(record.text(), "busy");
    // The listing was ended all the same.
    EXPECT_EQ(openListings(), 0u);
    sim->clearFaults();
  }
  {
    sim->setFault("kelva-a", "cifs-session-list-iter-start", filersim::Fault::fail(13201, "down"));
    Record record;
    EXPECT_EQ(isFileSystemInUse(&a, volA.get(), record.get()), 0);
    EXPECT_EQ(record.text(), "down");
    sim->clearFaults();
  }
  {
    sim->setFault("kelva-a", "cifs-session-list-iter-start",
                  filersim::Fault::answer(
                      "<kelva version=\"1.0\"><results status=\"passed\"></results></kelva>"));
    Record record;
    EXPECT_EQ(isFileSystemInUse(&a, volA.get(), record.get()), 0);
    EXPECT_EQ(record.text(), "failed to find cifs-session iteration tag");
    sim->clearFaults();
  }
  struct Case {
    const char *sessions;
    const char *text;
  };
  for (const Case &c : {Case{"<cifs-session-info><host-ip>h</host-ip></cifs-session-info>",
                             "Failed to locate cifs-session 'volumes-list'"},
                        Case{"<cifs-session-info><volumes-list><x><y>volA</y></x></volumes-list>"
                             "</cifs-session-info>",
                             "Failed to isolate volume name from cifs-session"}}) {
    sim->setFault("kelva-a", "cifs-session-list-iter-next",
                  filersim::Fault::answer(std::string("<kelva version=\"1.0\"><results "
                                                      "status=\"passed\"><cifs-sessions>") +
                                          c.sessions + "</cifs-sessions></results></kelva>"));
    Record record;
    EXPECT_EQ(isFileSystemInUse(&a, volA.get(), record.get()), 0);
    EXPECT_EQ(record.text(), c.text);
    EXPECT_EQ(openListings(), 0u);
    sim->clearFaults();
  }
  Filer nowhere = a;
  nowhere.host = nullptr;
  Record record;
  EXPECT_EQ(isFileSystemInUse(&nowhere, volA.get(), record.get()), 0);
  EXPECT_EQ(record.text(), "KELVA_FSConfigurationServiceFailed to allocate server connection");
}

TEST_P(FileSystemsTest, ADirectoryExistsWhenTheFilerCanListIt) {
  Record record;
  doesDirectoryExist(&a, "/vol/volA/users", record.get());
  EXPECT_FALSE(record.failed()) << record.text();
  doesDirectoryExist(&a, "/vol/volA", record.get());
  EXPECT_FALSE(record.failed()) << record.text();
  // The check leaves no listing open on the filer.
  EXPECT_EQ(openListings(), 0u);

  doesDirectoryExist(&a, "/vol/volA/nope", record.get());
  EXPECT_EQ(record.text(), "No such file or directory: /vol/volA/nope");
  clearKELVAStatus(record.get());
  doesDirectoryExist(&a, "/vol/volOld", record.get());
  EXPECT_EQ(record.text(), "Volume volOld is not online");
  clearKELVAStatus(record.get());

  Filer nowhere = a;
  nowhere.host = nullptr;
  doesDirectoryExist(&nowhere, "/vol/volA", record.get());
  EXPECT_EQ(record.text(), "Failed to create Server connection");
}

CIMOM_INSTANTIATE(FileSystemsTest);

}  // namespace
