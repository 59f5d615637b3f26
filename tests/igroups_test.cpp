// Protocol controllers and igroups: their keys, authorized paths and mapped
// volumes read from a simulated filer, and the igroup changes that reach it.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blockaccess_filer.h"
#include "blockaccess_support.h"
#include "provkit/frame.h"
#include "provkit/igroups.h"
#include "provkit/registry.h"
#include "registry_support.h"

namespace {

using blocktest::DataDir;
using blocktest::SimFiler;
using blocktest::Status;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

nlohmann::json scenario() {
  return nlohmann::json::parse(R"({"filers": [{
    "name": "blk", "host": "blk.sim",
    "credentials": {"user": "root", "password": "pw"},
    "identity": {"systemId": "0101"},
    "storage": {
      "aggregates": [{"name": "aggr1"}],
      "volumes": [{"name": "vol1", "aggregate": "aggr1"}],
      "luns": [{"path": "/vol/vol1/l1", "serial": "S1"}, {"path": "/vol/vol1/l2", "serial": "S2"},
               {"path": "/vol/vol1/l3", "serial": "S3"}],
      "igroups": [
        {"name": "ig1", "type": "iscsi", "osType": "linux", "initiators": ["iqn.a", "iqn.b"],
         "maps": [{"path": "/vol/vol1/l3", "lunId": 0}, {"path": "/vol/vol1/l1", "lunId": 2}]},
        {"name": "ig2", "type": "fcp", "osType": "windows", "initiators": ["iqn.a"]},
        {"name": "ig3", "type": "iscsi", "osType": "linux", "initiators": []}
      ]}}]})");
}

// ---- Keys without a filer --------------------------------------------------------

TEST(ProtocolControllerKeys, DeviceIDsEncodeAndDecode) {
  Status status;
  char *id = encodeProtocolControllerDeviceID("ig1", &status);
  ASSERT_NE(id, nullptr);
  EXPECT_STREQ(id, "SPC:ig1");
  wsifree(id);
  EXPECT_EQ(encodeProtocolControllerDeviceID(nullptr, &status), nullptr);
  EXPECT_FALSE(status.failed());

  struct Case {
    const char *deviceID, *name;
  };
  for (Case c : {Case{"SPC:ig1", "ig1"}, Case{"XYZ:ig1", "ig1"}, Case{"ig1", nullptr},
                 Case{"SPC:", nullptr}, Case{"SPC:a:b", "a:b"}}) {
    char *name = reinterpret_cast<char *>(1);
    decodeProtocolControllerDeviceID(c.deviceID, &name, &status);
    EXPECT_FALSE(status.failed()) << c.deviceID;
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr) << c.deviceID;
    } else {
      EXPECT_STREQ(name, c.name) << c.deviceID;
    }
    wsifree(name);
  }
  for (const char *bad : {"", ":::"}) {
    Status malformed;
    char *name = nullptr;
    decodeProtocolControllerDeviceID(bad, &name, &malformed);
    EXPECT_EQ(malformed.text(), "Malformed input SPCName does not follow the format SPC:SPCName");
    EXPECT_EQ(name, nullptr);
  }
}

TEST(ProtocolControllerKeys, AuthorizedPrivilegeInstanceIDsSplitOnTheBar) {
  std::string id = "KELVA:0101:ig1|iqn.a";
  char *system = nullptr, *prefix = nullptr, *igroup = nullptr, *initiator = nullptr;
  Status status;
  decodeAuthorizedPrivilegeInstanceID(id.data(), &system, &prefix, &igroup, &initiator, &status);
  ASSERT_FALSE(status.failed()) << status.text();
  EXPECT_STREQ(system, "0101");
  EXPECT_STREQ(prefix, "KELVA");
  EXPECT_STREQ(igroup, "ig1");
  EXPECT_STREQ(initiator, "iqn.a");

  std::string noBar = "KELVA:0101:ig1";
  Status missing;
  decodeAuthorizedPrivilegeInstanceID(noBar.data(), &system, &prefix, &igroup, &initiator,
                                      &missing);
  EXPECT_EQ(missing.text(),
            "Failed to parse initiator portion of KELVA_AuthorizedPrivilege.InstanceID");
  std::string empty = "KELVA:0101:|";
  Status noIGroup;
  decodeAuthorizedPrivilegeInstanceID(empty.data(), &system, &prefix, &igroup, &initiator,
                                      &noIGroup);
  EXPECT_EQ(noIGroup.text(),
            "Failed to parse igroup portion of KELVA_AuthorizedPrivilege.InstanceID");
}

// ---- Against a simulated filer and an object manager ----------------------------------

class IGroupsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    regtest::currentBroker() = broker;
  }
  void TearDown() override {
    clearCMPIError(broker, &status_);
    for (CMPIObjectPath *op : made_) CMRelease(op);
    pk::testing::resetFilerRegistry(broker);
    regtest::currentBroker() = nullptr;
    ObjectManagerTest::TearDown();
  }
  std::string message() {
    std::string text = takeMessage(status_);
    status_.rc = CMPI_RC_OK;
    return text;
  }
  CMPIObjectPath *path(const char *className,
                       const std::vector<std::pair<const char *, std::string>> &keys) {
    CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", className, nullptr);
    for (const auto &[key, value] : keys) CMAddKey(op, key, value.c_str(), CMPI_chars);
    made_.push_back(op);
    return op;
  }
  void registerFiler() {
    ASSERT_EQ(regtest::add(static_cast<Filer *>(copyFiler(const_cast<Filer *>(blk_.filer())))),
              CMPI_RC_OK);
  }
  std::vector<std::string> igroupNames() {
    std::vector<std::string> out;
    nlohmann::json state = blk_.state();
    for (const auto &g : state["storage"]["igroups"]) out.push_back(g["name"]);
    return out;
  }
  nlohmann::json registry() { return blk_.state().value("registry", nlohmann::json::object()); }

  DataDir dir_;
  SimFiler blk_{scenario(), "blk"};
  CMPIStatus status_{CMPI_RC_OK, nullptr};
  std::vector<CMPIObjectPath *> made_;
};

TEST_P(IGroupsTest, ProtocolControllerPathHasItsFourKeysInOrder) {
  CMPIObjectPath *ref = path("KELVA_StorageSystem", {});
  CMPIObjectPath *op = newProtocolControllerObjectPath(broker, ref, "ig1", "KELVA:0101", &status_);
  ASSERT_NE(op, nullptr);
  made_.push_back(op);
  EXPECT_EQ(status_.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(CMGetKeyCount(op, nullptr), 4u);
  const char *names[] = {"DeviceID", "CreationClassName", "SystemCreationClassName", "SystemName"};
  const char *values[] = {"SPC:ig1", "KELVA_ProtocolController", "KELVA_StorageSystem",
                          "KELVA:0101"};
  for (unsigned i = 0; i < 4; ++i) {
    CMPIString *name = nullptr;
    CMPIData data = CMGetKeyAt(op, i, &name, nullptr);
    EXPECT_STREQ(CMGetCharsPtr(name, nullptr), names[i]);
    EXPECT_STREQ(CMGetCharsPtr(data.value.string, nullptr), values[i]);
  }
  EXPECT_STREQ(CMGetCharsPtr(CMGetClassName(op, nullptr), nullptr), "KELVA_ProtocolController");
}

TEST_P(IGroupsTest, AuthorizedPathsPairEveryIGroupWithItsInitiators) {
  Status status;
  WSIList *all = getAuthorizedPaths(blk_.filer(), nullptr, nullptr, &status);
  ASSERT_NE(all, nullptr) << status.text();
  std::vector<std::string> pairs;
  for (WSIListPos *at = WSIList_getFirst(all); at != nullptr; at = WSIList_getNext(at)) {
    auto *p = static_cast<KVAuthorizedPath *>(WSIList_getElement(at));
    pairs.push_back(std::string(p->igroupName) + "|" + p->initiatorName);
  }
  WSIList_free(all, freeKVAuthorizedPath);
  EXPECT_THAT(pairs, ElementsAre("ig1|iqn.a", "ig1|iqn.b", "ig2|iqn.a"));

  KVAuthorizedPath *one = getControllerByInstanceID(broker, blk_.filer(), "ig2", "iqn.a", &status_);
  ASSERT_NE(one, nullptr) << message();
  EXPECT_STREQ(one->igroupName, "ig2");
  freeKVAuthorizedPath(one);
  EXPECT_EQ(getControllerByInstanceID(broker, blk_.filer(), "ig3", nullptr, &status_), nullptr);
  EXPECT_EQ(status_.rc, CMPI_RC_OK);
}

TEST_P(IGroupsTest, MappedVolumesFollowTheIGroupsMapOrder) {
  WSIList *luns = WSIList_new();
  getStorageVolumes(broker, blk_.filer(), "ig1", nullptr, nullptr, nullptr, luns, &status_);
  EXPECT_EQ(status_.rc, CMPI_RC_OK) << message();
  std::vector<std::string> paths;
  for (WSIListPos *at = WSIList_getFirst(luns); at != nullptr; at = WSIList_getNext(at))
    paths.emplace_back(static_cast<KELVALun *>(WSIList_getElement(at))->path);
  EXPECT_THAT(paths, ElementsAre("/vol/vol1/l3", "/vol/vol1/l1"));
  freeLunInfo(luns);

  // A map whose LUN is not among the candidates (here: filtered out) is skipped.
  luns = WSIList_new();
  getStorageVolumes(broker, blk_.filer(), "ig1", nullptr, nullptr, "S1", luns, &status_);
  EXPECT_EQ(status_.rc, CMPI_RC_OK) << message();
  ASSERT_EQ(WSIList_getLength(luns), 1u);
  EXPECT_STREQ(static_cast<KELVALun *>(WSIList_getFirstElement(luns, nullptr, nullptr))->path,
               "/vol/vol1/l1");
  freeLunInfo(luns);

  luns = WSIList_new();
  getStorageVolumes(broker, blk_.filer(), "ig3", nullptr, nullptr, nullptr, luns, &status_);
  EXPECT_EQ(status_.rc, CMPI_RC_OK);
  EXPECT_EQ(WSIList_getLength(luns), 0u);
  getStorageVolumes(broker, blk_.filer(), nullptr, "/vol/vol1/l2", nullptr, nullptr, luns,
                    &status_);
  EXPECT_EQ(WSIList_getLength(luns), 1u);
  freeLunInfo(luns);
}

TEST_P(IGroupsTest, PathsMapToTheFilersRecords) {
  registerFiler();
  Filer *filer = nullptr;
  KELVAIGroup *igroup = mapProtocolControllerToIGroupInfo(
      broker, &status_,
      path("KELVA_ProtocolController", {{"SystemName", "KELVA:0101"}, {"DeviceID", "SPC:ig2"}}),
      &filer);
  ASSERT_NE(igroup, nullptr) << message();
  EXPECT_STREQ(igroup->name, "ig2");
  ASSERT_NE(filer, nullptr);
  EXPECT_STREQ(filer->systemId, "0101");
  freeIGroup(igroup);
  freeFiler(filer);

  KVAuthorizedPath *privilege = mapAuthorizedPrivilegeToAuthorizedPath(
      broker, &status_, path("KELVA_AuthorizedPrivilege", {{"InstanceID", "KELVA:0101:ig1|iqn.b"}}),
      nullptr);
  ASSERT_NE(privilege, nullptr) << message();
  EXPECT_STREQ(privilege->initiatorName, "iqn.b");
  freeKVAuthorizedPath(privilege);

  KELVAInitiator *initiator = mapStorageHardwareIDtoInitiator(
      broker, &status_, path("KELVA_StorageHardwareID", {{"InstanceID", "KELVA:0101:iqn.a"}}),
      nullptr);
  ASSERT_NE(initiator, nullptr) << message();
  EXPECT_STREQ(initiator->igroupName, "ig1");
  freeKELVAInitiator(initiator);

  EXPECT_EQ(
      mapProtocolControllerToIGroupInfo(
          broker, &status_,
          path("KELVA_ProtocolController", {{"SystemName", "KELVA:9999"}, {"DeviceID", "SPC:ig2"}}),
          nullptr),
      nullptr);
  EXPECT_EQ(status_.rc, CMPI_RC_ERR_NOT_FOUND);
  message();
}

TEST_P(IGroupsTest, RenameAndElementNameReachTheFilerInOrder) {
  ASSERT_EQ(setIGroupElementName(broker, blk_.filer(), "ig1", "Hosts of A", &status_), 1)
      << message();
  EXPECT_EQ(registry()["state.igroup.elementname.ig1"], "Hosts of A");
  ASSERT_EQ(renameIGroup(broker, blk_.filer(), "ig1", "igA", &status_), 1) << message();
  EXPECT_THAT(igroupNames(), ElementsAre("igA", "ig2", "ig3"));
  auto renames = blk_.sent("igroup-rename");
  ASSERT_EQ(renames.size(), 1u);
  EXPECT_THAT(renames[0].params,
              ElementsAre("initiator-group-new-name=igA", "initiator-group-name=ig1"));
  auto sets = blk_.sent("registry-set");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_THAT(sets[0].params, ElementsAre("registry-key=state.igroup.elementname.ig1",
                                          "registry-value=Hosts of A"));
  // The controller library's cached igroups see the new name.
  Status status;
  WSIList *paths = getAuthorizedPaths(blk_.filer(), "igA", nullptr, &status);
  EXPECT_EQ(WSIList_getLength(paths), 2u);
  WSIList_free(paths, freeKVAuthorizedPath);

  EXPECT_EQ(renameIGroup(broker, blk_.filer(), "igA", "ig2", &status_), 0);
  EXPECT_EQ(status_.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(message(), ::testing::HasSubstr("exists already"));
}

TEST_P(IGroupsTest, ForcedDestructionDropsTheIGroupAndItsElementName) {
  setIGroupElementName(broker, blk_.filer(), "ig1", "Hosts", &status_);
  const Filer *f = blk_.filer();
  WSIServerInfo *server = createServerInfo(f->host, f->userName, f->password, f->connParam3,
                                           f->connParam1, f->connParam2);
  blk_.forget();
  deleteIGroupForcibly(broker, server, "ig1", &status_, "KELVA_ProtocolController");
  EXPECT_EQ(status_.rc, CMPI_RC_OK) << message();
  EXPECT_THAT(igroupNames(), ElementsAre("ig2", "ig3"));
  EXPECT_THAT(registry(), IsEmpty());
  auto sent = blk_.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].api, "igroup-destroy");
  EXPECT_THAT(sent[0].params, ElementsAre("initiator-group-name=ig1", "force=true"));
  EXPECT_EQ(sent[1].api, "registry-delete");
  EXPECT_THAT(sent[1].params, ElementsAre("registry-key=state.igroup.elementname.ig1"));

  // A missing igroup (9003) is not found, and its registry entry is left alone.
  blk_.forget();
  deleteIGroupForcibly(broker, server, "ig1", &status_, "KELVA_ProtocolController");
  EXPECT_EQ(status_.rc, CMPI_RC_ERR_NOT_FOUND);
  message();
  EXPECT_THAT(blk_.sent("registry-delete"), IsEmpty());

  // Any other refusal is a plain failure; a failing registry removal too.
  blk_.sim().setFault("blk", "igroup-destroy", filersim::Fault::fail(13001, "busy", 1));
  deleteIGroupForcibly(broker, server, "ig2", &status_, "KELVA_ProtocolController");
  EXPECT_EQ(status_.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(message(), ::testing::HasSubstr("busy"));
  blk_.sim().setFault("blk", "registry-delete", filersim::Fault::fail(13001, "registry down", 1));
  deleteIGroupForcibly(broker, server, "ig2", &status_, "KELVA_ProtocolController");
  EXPECT_EQ(status_.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(message(), ::testing::HasSubstr("registry down"));
  EXPECT_THAT(igroupNames(), ElementsAre("ig3"));
  destroyServerInfo(server);
}

CIMOM_INSTANTIATE(IGroupsTest);

}  // namespace
