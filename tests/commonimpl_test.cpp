// Key-value formats of storage objects through the embedded object manager at
// both CMPI levels: byte-exact texts, the failure messages, round trips over
// generated inputs (encode, then decode a writable copy, gives the input back,
// separators inside the last field included), and
// the LUN look-ups against a simulated filer.  The fuzz target of fuzz/
// covers the decoders' bounds.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <provkit/commonimpl.h>
#include <provkit/frame.h>
#include <wbemkelvai/wsiapi.h>

#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace {

// Texts made of the characters that matter to the formats.
std::string randomText(std::mt19937 &rng, const std::string &alphabet, size_t minLen,
                       size_t maxLen) {
  std::uniform_int_distribution<size_t> len(minLen, maxLen);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string out(len(rng), ' ');
  for (char &c : out) c = alphabet[pick(rng)];
  return out;
}

// The decoders with their outputs dropped, for tables of malformed texts.
void lunVolume(const CMPIBroker *b, CMPIStatus *s, char *t) {
  char *v = nullptr;
  decodeVolumeFromLUNPath(b, s, t, &v);
}
void backingLun(const CMPIBroker *b, CMPIStatus *s, char *t) {
  char *v = nullptr, *l = nullptr;
  getLunNameFromBackingSnapshot(b, s, t, &v, &l);
}
void snapshotName(const CMPIBroker *b, CMPIStatus *s, char *t) {
  char *v = nullptr, *n = nullptr;
  decodeSnapshotDeviceID(b, s, t, &v, &n);
}
void qtreeNumber(const CMPIBroker *b, CMPIStatus *s, char *t) {
  char *v = nullptr;
  unsigned long q = 0;
  decodeQTreeID(b, s, t, &v, &q);
}

class CodecsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    for (CMPIObjectPath *op : made) CMRelease(op);
    ObjectManagerTest::TearDown();
  }
  // The status's message ("" when none), the status made good again.
  std::string message() {
    std::string text = takeMessage(status);
    status.rc = CMPI_RC_OK;
    return text;
  }
  static Filer named(const char *systemId) {
    Filer f{};
    f.systemId = const_cast<char *>(systemId);
    return f;
  }
  // A path of the class with one string key, released at the end of the test.
  CMPIObjectPath *pathWith(const char *key, const char *value) {
    CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
    CMAddKey(op, key, value, CMPI_chars);
    made.push_back(op);
    return op;
  }
  void forget(const Filer &filer) {
    KELVAStatus record = KELVA_STATUS_INIT;
    FilerCache_deleteEntry(&filer, &record);  // the cache is process-wide
    clearKELVAStatus(&record);
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
  std::vector<CMPIObjectPath *> made;
};

TEST_P(CodecsTest, SystemNames) {
  Filer f1 = named("f1");
  char *name = encodeSystemName(broker, &status, &f1);
  ASSERT_STREQ(name, "KELVA:f1");
  char *system = nullptr;
  decodeSystemName(broker, &status, name, &system);
  EXPECT_STREQ(system, "f1");
  wsifree(name);
  char other[] = "abc:x:y";  // the prefix is never compared
  decodeSystemName(broker, &status, other, &system);
  EXPECT_STREQ(system, "x:y");
  char bare[] = "KELVA:", empty[] = "";
  decodeSystemName(broker, &status, bare, &system);
  EXPECT_EQ(message(), "Failed extract system name in Name");
  decodeSystemName(broker, &status, empty, &system);
  EXPECT_EQ(message(), "Failed to extract the prefix in Name");

  CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
  setSystemName(broker, &status, &f1, "SystemName", op);
  EXPECT_EQ(cimom::objectPathText(op), "root/kelva:KELVA_StorageVolume.SystemName=\"KELVA:f1\"");
  om->inject({"ObjectPath.addKey", 1, CMPI_RC_ERR_INVALID_PARAMETER});
  setSystemName(broker, &status, &f1, "CreationClassName", op);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  CMRelease(op);
}

// Encoders that run out of memory say so and give nothing.
TEST_P(CodecsTest, EncodersWithoutMemoryAreErrors) {
  const Filer filer = named("f1");
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(encodeSystemName(broker, &status, &filer), nullptr);
  }
  EXPECT_EQ(message(), "Insufficient memory");
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getStorageVolumeEncodedDeviceID(broker, &status, "P3OoG]YOgA1X"), nullptr);
  }
  EXPECT_EQ(message(), "KELVA_StorageVolume Unable to allocate deviceID memory");
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getQTreeEncodedID(broker, &status, "vol0", 3), nullptr);
  }
  EXPECT_EQ(message(), "QTreeInfo: Unable to allocate deviceID memory");
}

TEST_P(CodecsTest, PathsSnapshotsQtreesAndFilters) {
  char *volume = nullptr, *lun = nullptr;
  char path[] = "/vol/volA/lun1";
  decodeVolumeFromLUNPath(broker, &status, path, &volume);
  EXPECT_STREQ(volume, "volA");
  char backing[] = "/vol/volA/.snapshot/s1/lun1";
  getLunNameFromBackingSnapshot(broker, &status, backing, &volume, &lun);
  EXPECT_STREQ(volume, "volA");
  EXPECT_STREQ(lun, "lun1");
  char twoParts[] = "/vol/volA", relative[] = "vol/volA/.snapshot/s1/lun1";
  lun = volume = nullptr;
  getLunNameFromBackingSnapshot(broker, &status, twoParts, &volume, &lun);
  EXPECT_STREQ(volume, "volA");
  EXPECT_EQ(lun, nullptr);
  volume = nullptr;
  getLunNameFromBackingSnapshot(broker, &status, relative, &volume, &lun);
  EXPECT_EQ(volume, nullptr);
  unsigned long qtree = 99;
  char partly[] = "vol0:7x";
  decodeQTreeID(broker, &status, partly, &volume, &qtree);
  EXPECT_EQ(qtree, 7UL);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  char *encoded = getQTreeEncodedID(broker, &status, "vol0", 0);
  EXPECT_STREQ(encoded, "vol0:0");
  wsifree(encoded);
  Filer f1 = named("f1");
  char *filter = getFilterFromStatsPath(broker, nullptr, &f1, &status);
  EXPECT_STREQ(filter, "KELVA:f1:f1");
  wsifree(filter);

  // Each malformed text and the message it raises.
  struct Case {
    void (*decode)(const CMPIBroker *, CMPIStatus *, char *);
    std::string text;
    const char *message;
  } cases[] = {
      {lunVolume, "vol/volA/lun1", "KELVA_StorageVolumeFailed to extract leading '/'"},
      {lunVolume, "/", "KELVA_StorageVolumeFailed to extract volume prefix"},
      {lunVolume, "/vol", "KELVA_StorageVolumeFailed to extract volume name"},
      {backingLun, "/vol/volA/x", "Failed to extract snapshot name."},
      {backingLun, "/vol/volA/x/s1", "Lun name is NULL."},
      {backingLun, "//", "Failed to extract volume prefix."},
      {snapshotName, "volA:", "could not get snapshot name"},
      {snapshotName, "::", "could not get volume name"},
      {qtreeNumber, "vol0:", "QTreeInfo: could not get QTREE ID"},
      {qtreeNumber, "vol0:x", "QTreeInfo: could not get QTREE ID"},
      {qtreeNumber, "", "QTreeInfo: could not get volume name"},
  };
  for (Case &c : cases) {
    c.decode(broker, &status, c.text.data());
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED) << c.text;
    EXPECT_EQ(message(), c.message) << c.text;
  }
  EXPECT_EQ(getQTreeEncodedID(broker, &status, nullptr, 1), nullptr);
  EXPECT_EQ(message(), "QTreeInfo: Volume name is NULL");
}

TEST_P(CodecsTest, EncodersAndDecodersRoundTrip) {
  std::mt19937 rng(GetParam());
  std::uniform_int_distribution<int> ids(0, 2147483647);
  for (int i = 0; i < 300; ++i) {
    // Separators may stand anywhere in the last field, never at the start of
    // the first field's value or of the last one (strtok would drop them).
    std::string first = randomText(rng, "vo0_.-", 1, 10);
    std::string last = randomText(rng, "s1._", 1, 1) + randomText(rng, "s1:._/", 0, 12);
    Filer f = named(first.c_str());
    char *name = encodeSystemName(broker, &status, &f);
    char *system = nullptr;
    decodeSystemName(broker, &status, name, &system);
    EXPECT_EQ(std::string(system), first);
    wsifree(name);

    std::string snapshotId = std::string(first).append(":").append(last);
    char *volume = nullptr, *snapshot = nullptr;
    decodeSnapshotDeviceID(broker, &status, snapshotId.data(), &volume, &snapshot);
    EXPECT_EQ(std::string(volume).append("|").append(snapshot),
              std::string(first).append("|").append(last));

    int qtreeId = i < 2 ? i * 2147483647 : ids(rng);
    char *qtreeText = getQTreeEncodedID(broker, &status, first.c_str(), qtreeId);
    unsigned long qtree = 0;
    decodeQTreeID(broker, &status, qtreeText, &volume, &qtree);
    EXPECT_EQ(std::string(volume), first);
    EXPECT_EQ(qtree, static_cast<unsigned long>(qtreeId));
    wsifree(qtreeText);

    char *statsId = encodeStatsID(broker, &status, "0118054321", last.c_str(), first.c_str());
    char *systemId = nullptr, *prefix = nullptr, *device = nullptr, *type = nullptr;
    decodeStatsID(broker, &status, statsId, &systemId, &prefix, &device, &type);
    ASSERT_EQ(status.rc, CMPI_RC_OK) << statsId;
    EXPECT_STREQ(systemId, "0118054321");
    EXPECT_EQ(std::string(type).append("|").append(device),
              std::string(first).append("|").append(last));
    wsifree(statsId);
  }
}

TEST_P(CodecsTest, StatisticsAndDiskPaths) {
  char *statsId = encodeStatsID(broker, &status, "KELVA:0118054321", "0a.16", "disk");
  ASSERT_STREQ(statsId, "KELVA:0118054321:disk:0a.16");
  CMPIObjectPath *stats = pathWith("InstanceID", statsId);
  char *device = getDevIDFromPath(broker, stats, &status);
  EXPECT_STREQ(device, "0a.16");
  wsifree(device);
  char *local = getNameFromPathInstanceID(broker, stats, &status);
  EXPECT_STREQ(local, "disk:0a.16");
  wsifree(local);
  EXPECT_EQ(getDevIDFromPath(broker, pathWith("DeviceID", "x"), &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  CMPIObjectPath *noStats = pathWith("InstanceID", "KELVA:0118054321:disk");
  EXPECT_EQ(getDevIDFromPath(broker, noStats, &status), nullptr);
  EXPECT_EQ(message(), "Failed to locate Stats Device ID");
  EXPECT_EQ(getNameFromPathDeviceID(broker, pathWith("DeviceID", "junk"), &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message();
  wsifree(statsId);

  struct Disk {
    const char *id;
    int type;
  } disks[] = {{"KELVA:1:0a.16:Spare:Present", 2},
               {"KELVA:1:0a.17:Spare", 1},
               {"KELVA:1:0a.18:Other", 3},
               {"KELVA:1:0a.19:Broken", 0}};
  for (const Disk &d : disks) {
    CMPIObjectPath *op = pathWith("InstanceID", d.id);
    EXPECT_EQ(getDiskTypeFromPath(op, broker, &status), d.type) << d.id;
    EXPECT_EQ(message(), d.type == 0 ? "Invalid Disk State" : "") << d.id;
  }
  EXPECT_EQ(getDiskTypeFromPath(pathWith("InstanceID", "nothing"), broker, &status), 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
}

class LunsTest : public CodecsTest {
 protected:
  void SetUp() override {
    CodecsTest::SetUp();
    sim = filersim::Simulator::fromFile(pktest::testData("toolkit/luns.json"));
    sim->registerInProcess();
    texts = {sim->systemId("old"), sim->host("old"), sim->userName("old"), sim->password("old")};
    filer = Filer{texts[0].data(),
                  texts[1].data(),
                  texts[2].data(),
                  texts[3].data(),
                  WSI_TRANSPORT_HTTP,
                  0,
                  5};
  }
  void TearDown() override {
    forget(filer);
    sim.reset();
    CodecsTest::TearDown();
  }
  // The paths of a list of LUN records, which the list takes with it.
  static std::vector<std::string> paths(WSIList *luns) {
    std::vector<std::string> out;
    for (WSIListPos *at = WSIList_getFirst(luns); at != nullptr; at = WSIList_getNext(at))
      out.push_back(static_cast<KELVALun *>(WSIList_getElement(at))->path);
    freeLunInfo(luns);
    return out;
  }

  std::unique_ptr<filersim::Simulator> sim;
  std::array<std::string, 4> texts;
  Filer filer{};
};

TEST_P(LunsTest, StorageVolumeKeysFindTheirLun) {
  KELVALun lun{};
  lun.serialNumber = const_cast<char *>("P3OoG]YOgA1X");
  char *name = getStorgeVolumeName(broker, &lun, &status);
  ASSERT_STREQ(name, "TARVEN   LUN P3OoG]YOgA1X");
  EXPECT_EQ(std::string(name).size(), 25u);
  EXPECT_EQ(getStorgeVolumeName(broker, nullptr, &status), nullptr);
  char *path = getLUNPathByStorageVolumeName(broker, &filer, name, &status);
  EXPECT_STREQ(path, "/vol/volA/lun1");
  wsifree(path);
  wsifree(name);
  EXPECT_EQ(getLUNPathByStorageVolumeName(broker, &filer, "TARVEN   LUN h", &status), nullptr);
  EXPECT_EQ(message(), "KELVA_StorageVolume.Name is too short");
  EXPECT_EQ(getLUNPathByStorageVolumeName(broker, &filer, "TARVEN   LUN hW", &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  char *deviceId = getStorageVolumeEncodedDeviceID(broker, &status, "hW:k/2");
  CMPIObjectPath *op = pathWith("DeviceID", deviceId);
  path = getLunPath(broker, &filer, op, &status);
  EXPECT_STREQ(path, "/vol/volB/lun2");
  wsifree(path);
  char *serial = nullptr;
  path = nullptr;
  char unknown[] = "no-such-serial";
  decodeStorageVolumeDeviceID(broker, &filer, &status, unknown, &path, &serial);
  EXPECT_EQ(serial, unknown);
  EXPECT_EQ(message(), "could not get lunpath");
  decodeStorageVolumeDeviceID(broker, &filer, &status, nullptr, &path, &serial);
  EXPECT_EQ(message(), "could not get LUN serial number");

  path = getLUNPathFromSerialNumber(broker, &filer, "p3oog]yoga1z", &status);
  EXPECT_STREQ(path, "/vol/volA/clone3");
  wsifree(path);
  EXPECT_EQ(getLUNPathFromSerialNumber(broker, &filer, "none", &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  // A filer that does not answer: its reason reaches the caller.
  sim->setOnline("old", false);
  forget(filer);
  EXPECT_EQ(getLunPath(broker, &filer, op, &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_FALSE(message().empty());
  EXPECT_EQ(getLUNPathFromSerialNumber(broker, &filer, "hW:k/2", &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  wsifree(deviceId);
}

TEST_P(LunsTest, ClonesAndTheirParents) {
  WSIList *parents = WSIList_new();
  getParentStorageVolume(broker, &filer, "/vol/volB/clone2", parents, &status);
  getParentStorageVolume(broker, &filer, "/vol/volA/lun1", parents, &status);    // no clone
  getParentStorageVolume(broker, &filer, "/vol/volB/orphan", parents, &status);  // parent gone
  getParentStorageVolume(broker, &filer, nullptr, parents, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(paths(parents), (std::vector<std::string>{"/vol/volB/lun2"}));

  WSIList *clones = WSIList_new();
  getAllClonedStorageVolumes(broker, &filer, "/vol/volA/lun1", clones, &status);
  EXPECT_EQ(paths(clones), (std::vector<std::string>{"/vol/volA/clone1", "/vol/volA/clone3"}));
  WSIList *all = WSIList_new();
  getAllClonedStorageVolumes(broker, &filer, nullptr, all, &status);
  EXPECT_EQ(paths(all).size(), 6u);

  KELVALun clone{};
  clone.backingSnapshot = const_cast<char *>("/vol/volA/.snapshot/s1/lun1");
  EXPECT_EQ(isParentLun(broker, &status, "/VOL/volA/lun1", &clone), 1);
  EXPECT_EQ(isParentLun(broker, &status, "/vol/volA/lun2", &clone), 0);
  EXPECT_STREQ(clone.backingSnapshot, "/vol/volA/.snapshot/s1/lun1");

  sim->setOnline("old", false);
  forget(filer);
  WSIList *none = WSIList_new();
  getAllClonedStorageVolumes(broker, &filer, nullptr, none, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_FALSE(message().empty());
  getParentStorageVolume(broker, &filer, "/vol/volB/clone2", none, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_TRUE(paths(none).empty());
}

// The LUN look-ups that run out of memory say so: for the list they start
// with, and for the copy they end with.
TEST_P(LunsTest, LookUpsWithoutMemoryAreErrors) {
  KELVALun lun{};
  lun.serialNumber = const_cast<char *>("P3OoG]YOgA1X");
  lun.backingSnapshot = const_cast<char *>("/vol/volA/.snapshot/s1/lun1");
  WSIList *found = WSIList_new();
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getStorgeVolumeName(broker, &lun, &status), nullptr);
    EXPECT_EQ(message(), "Insufficient memory");
  }
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(isParentLun(broker, &status, "/vol/volA/lun1", &lun), 0);
    EXPECT_EQ(message(), "Insufficient memory.");
  }
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getLUNPathFromSerialNumber(broker, &filer, "p3oog]yoga1z", &status), nullptr);
    EXPECT_EQ(message(), "Insufficient memory.");
  }
  {
    pktest::FailingAllocation oom(1);
    getParentStorageVolume(broker, &filer, "/vol/volB/clone2", found, &status);
    EXPECT_EQ(message(), "Insufficient memory");
  }
  {
    pktest::FailingAllocation oom(1);
    getAllClonedStorageVolumes(broker, &filer, "/vol/volA/lun1", found, &status);
    EXPECT_EQ(message(), "Insufficient memory.");
  }
  // The copy of the path found is the look-up's last allocation.
  wsiTestFailAllocation(0);
  wsifree(getLUNPathFromSerialNumber(broker, &filer, "p3oog]yoga1z", &status));
  const unsigned long long allocations = wsiTestAllocationCount();
  {
    pktest::FailingAllocation oom(allocations);
    EXPECT_EQ(getLUNPathFromSerialNumber(broker, &filer, "p3oog]yoga1z", &status), nullptr);
    EXPECT_EQ(message(), "Insufficient memory.");
  }
  EXPECT_TRUE(paths(found).empty());
}

CIMOM_INSTANTIATE(CodecsTest);
CIMOM_INSTANTIATE(LunsTest);

}  // namespace
