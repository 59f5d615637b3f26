// Quota principals and managed elements: the users and groups of the filer's rules,
// their domain-identity InstanceIDs, managed elements mapped to their volumes through
// the class table (the real implementation libraries saying whether each exists,
// the filers registered in the registry), and the per-volume quota requests, under
// the embedded object manager at both CMPI levels.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/quota.h>
#include <provkit/registry.h>
#include <wbemkelvai/wsistorage.h>

#include <string>
#include <vector>

#include "quota_support.h"
#include "registry_support.h"
#include "support.h"

namespace {

using qtest::Entry;
using qtest::List;
using qtest::Record;
using qtest::Text;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

nlohmann::json rules() {
  return {{"rules",
           {{{"type", "user"}, {"target", "alice,EXAMPLE\\bob,*"}, {"volume", "volA"}},
            {{"type", "tree"}, {"target", "/vol/volA/q2"}, {"volume", "volA"}},
            {{"type", "group"}, {"target", "staff"}, {"volume", "volA"}},
            {{"type", "user"}, {"target", "alice"}, {"volume", "volB"}},
            {{"type", "group"}, {"target", "alice"}, {"volume", "volB"}}}}};
}

// "<type>:<kind>:<name>" of each principal in the list.
std::vector<std::string> described(WSIList *list) {
  std::vector<std::string> out;
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
    const auto *p = static_cast<const QuotaPrincipal *>(WSIList_getElement(at));
    out.push_back(std::to_string(p->type) + ":" + std::to_string(p->nameKind) + ":" + p->name);
  }
  return out;
}

struct PrincipalsFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeQuotaPrincipal); }
};
using Principals = std::unique_ptr<WSIList, PrincipalsFree>;

class QuotaPrincipalsTest : public ::testing::Test {
 protected:
  qtest::QuotaFiler f{rules()};
  Filer *a = &f.a;

  std::vector<std::string> principals(const char *nameFilter, const int *typeFilter) {
    Record record;
    Principals list(findFilerQuotaPrincipals(a, nameFilter, typeFilter, record.get()));
    EXPECT_FALSE(record.failed()) << record.text();
    return described(list.get());
  }
};

TEST_F(QuotaPrincipalsTest, RulesNameEachPrincipalOnce) {
  EXPECT_THAT(principals(nullptr, nullptr),
              ElementsAre("0:2:alice", "0:3:EXAMPLE\\bob", "0:1:*", "1:2:staff", "1:2:alice"));
  int group = PK_QUOTA_TYPE_GROUP;
  EXPECT_THAT(principals(nullptr, &group), ElementsAre("1:2:staff", "1:2:alice"));
  // A name filter ends the walk at the first rule that has a passing name.
  EXPECT_THAT(principals("alice", nullptr), ElementsAre("0:2:alice"));
  EXPECT_THAT(principals("alice", &group), ElementsAre("1:2:alice"));
  EXPECT_THAT(principals("nobody", nullptr), ElementsAre());

  // Each rule on its own gives every principal it names, repeats included.
  List entries(freeFilerQuotaEntry);
  Record record;
  int user = PK_QUOTA_TYPE_USER;
  ASSERT_EQ(findFilerQuotaEntries(a, &user, nullptr, "alice", nullptr, nullptr, nullptr, 0,
                                  entries.get(), record.get()),
            2);
  std::vector<std::string> all;
  for (const FilerQuotaEntry *entry : entries.items<FilerQuotaEntry>()) {
    Principals list(findFilerQuotaPrincipalsFromEntry(entry, record.get()));
    ASSERT_NE(list, nullptr) << record.text();
    for (const std::string &p : described(list.get())) all.push_back(p);
  }
  EXPECT_THAT(all, ElementsAre("0:2:alice", "0:3:EXAMPLE\\bob", "0:1:*", "0:2:alice"));

  // A tree rule names nobody.
  int tree = PK_QUOTA_TYPE_TREE;
  List trees(freeFilerQuotaEntry);
  findFilerQuotaEntries(a, &tree, nullptr, nullptr, nullptr, nullptr, nullptr, 0, trees.get(),
                        record.get());
  Principals none(
      findFilerQuotaPrincipalsFromEntry(trees.items<FilerQuotaEntry>()[0], record.get()));
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(WSIList_isEmpty(none.get()));
}

TEST_F(QuotaPrincipalsTest, AnEmptyTargetOrAFailedListingIsAFailure) {
  f.sim->setFault("kelva-a", "quota-list-entries",
                  filersim::Fault::answer(
                      "<kelva version=\"1.0\"><results status=\"passed\"><quota-entries>"
                      "<quota-entry><quota-type>user</quota-type><quota-target/>"
                      "<volume>volA</volume><qtree/></quota-entry></quota-entries></results>"
                      "</kelva>",
                      1));
  Record record;
  EXPECT_EQ(findFilerQuotaPrincipals(a, nullptr, nullptr, record.get()), nullptr);
  EXPECT_EQ(record.text(), "Quota subsystem:Failed to parse quota targets string");
  clearKELVAStatus(record.get());
  f.sim->setFault("kelva-a", "quota-list-entries", filersim::Fault::fail(13001, "no list", 1));
  EXPECT_EQ(findFilerQuotaPrincipals(a, nullptr, nullptr, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("no list"));
}

TEST_F(QuotaPrincipalsTest, PrincipalIdsRoundTripAndRefuseBadMarkers) {
  char staffName[] = "staff";
  QuotaPrincipal staff{PK_QUOTA_TYPE_GROUP, PK_PRINCIPAL_PLAIN, staffName};
  Record record;
  Text id(encodePrincipalID(a->systemId, &staff, record.get()));
  ASSERT_NE(id, nullptr) << record.text();
  EXPECT_EQ(std::string(id.get()), std::string("KELVA:") + a->systemId + ":G:staff");
  char *system1 = nullptr;
  char *system2 = nullptr;
  char *name = nullptr;
  int type = -1;
  ASSERT_EQ(decodePrincipalEntryID(id.get(), &system1, &system2, &name, &type, record.get()), 1)
      << record.text();
  EXPECT_EQ(type, PK_QUOTA_TYPE_GROUP);
  EXPECT_STREQ(name, "staff");
  EXPECT_STREQ(system1, a->systemId);

  QuotaPrincipal tree{PK_QUOTA_TYPE_TREE, PK_PRINCIPAL_PLAIN, staffName};
  EXPECT_EQ(encodePrincipalID(a->systemId, &tree, record.get()), nullptr);
  EXPECT_EQ(record.text(), "KELVA_FSDomainIdentity: Invalid Principal type");

  struct Case {
    std::string local;
    int ok;
    std::string result;  // the name, or the message
  };
  for (const Case &c :
       {Case{"U:EXAMPLE\\bob", 1, "EXAMPLE\\bob"}, Case{"U:odd:name", 1, "odd"},
        Case{"X:alice", 0, "KELVA_FSDomainIdentity: Invalid principal type marker from InstanceID"},
        Case{"alice", 0,
             "KELVA_FSDomainIdentity: Failed to isolate principal type marker from InstanceID"},
        Case{"G:", 0,
             "KELVA_FSDomainIdentity: Failed to isolate principal name from InstanceID"}}) {
    std::string text = std::string("KELVA:") + a->systemId + ":" + c.local;
    Record one;
    name = nullptr;
    EXPECT_EQ(decodePrincipalEntryID(text.data(), &system1, &system2, &name, &type, one.get()),
              c.ok)
        << c.local;
    EXPECT_EQ(c.ok != 0 ? std::string(name != nullptr ? name : "") : one.text(), c.result)
        << c.local;
  }
}

TEST_F(QuotaPrincipalsTest, VolumeQuotasSwitchResizeAndNameQtrees) {
  auto state = [&] {
    Record record;
    QuotaStatus *read = getQuotaStatus(a, "volA", record.get());
    int value = read != nullptr ? read->state : 0;
    freeQuotaStatus(read);
    return value;
  };
  Record record;
  resizeVolumeQuotas(a, "volA", record.get());
  EXPECT_THAT(record.text(), HasSubstr("Quotas are not on"));
  clearKELVAStatus(record.get());
  setVolumeQuotas(a, "volA", 1, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(state(), PK_QUOTA_STATE_ON);
  EXPECT_EQ(f.lastRequest("quota-on"), "<quota-on><volume>volA</volume></quota-on>");
  resizeVolumeQuotas(a, "volA", record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(f.quotas()["volumes"]["volA"]["resizes"], 1);
  setVolumeQuotas(a, "volA", 0, record.get());
  EXPECT_EQ(state(), PK_QUOTA_STATE_OFF);
  setVolumeQuotas(a, "nosuch", 0, record.get());
  EXPECT_THAT(record.text(), HasSubstr("No volume named nosuch"));
  clearKELVAStatus(record.get());

  Text q2(getQtreeNameFromID(a, "volA", 2, record.get()));
  ASSERT_NE(q2, nullptr) << record.text();
  EXPECT_STREQ(q2.get(), "q2");
  EXPECT_EQ(getQtreeNameFromID(a, "volA", 9, record.get()), nullptr);
  EXPECT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(getQtreeNameFromID(a, "volB", 1, record.get()), nullptr);
  EXPECT_FALSE(record.failed()) << record.text();
  f.sim->setFault("kelva-a", "qtree-list", filersim::Fault::fail(13040, "volume gone", 1));
  EXPECT_EQ(getQtreeNameFromID(a, "volA", 1, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("volume gone"));
}

// ---- Managed elements ---------------------------------------------------------------

class ManagedElementTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    regtest::currentBroker() = broker;
    dir = regtest::useNewDataDir();
    filer = std::make_unique<qtest::QuotaFiler>(rules());
    auto *copy = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
    copy->systemId = wsistrdup(filer->a.systemId);
    copy->host = wsistrdup(filer->a.host);
    copy->userName = wsistrdup(filer->a.userName);
    copy->password = wsistrdup(filer->a.password);
    copy->connParam3 = 5;
    ASSERT_EQ(regtest::add(copy), CMPI_RC_OK);
    system = std::string("KELVA:") + filer->a.systemId;
  }
  void TearDown() override {
    regtest::Status removed;
    removeFilerFromList(broker, &removed, &filer->a);
    pk::testing::resetFilerRegistry(broker);
    filer.reset();
    regtest::currentBroker() = nullptr;
    regtest::fs::remove_all(dir);
    clearCMPIError(broker, &status);
    for (CMPIObjectPath *path : paths) CMRelease(path);
    ObjectManagerTest::TearDown();
  }

  // A path of the class with the system key and the name key.
  CMPIObjectPath *path(const char *className, const char *systemKey, const char *nameKey,
                       const char *name, const char *systemName = nullptr) {
    CMPIObjectPath *made = CMNewObjectPath(broker, "root/kelva", className, nullptr);
    paths.push_back(made);
    if (systemKey != nullptr)
      CMAddKey(made, systemKey, systemName != nullptr ? systemName : system.c_str(), CMPI_chars);
    CMAddKey(made, "CreationClassName", className, CMPI_chars);
    CMAddKey(made, nameKey, name, CMPI_chars);
    return made;
  }
  // The volume the path's element stands on ("<system>" for the whole system), or the
  // failure's return code and message.
  std::string volumeOf(const CMPIObjectPath *p) {
    static const int kAllRows[] = {0, 1, 2, 3, 4};
    const QuotaMEClass *row = getQuotaMEClassFromPath(broker, p, kAllRows, 5, &status);
    if (row == nullptr) return "no row";
    QuotaMEInstance *element = convertObjectPathToQuotaMEInstance(broker, ctx, p, row, &status);
    if (element == nullptr) return "rc " + std::to_string(status.rc) + " " + takeMessage(status);
    EXPECT_STREQ(getMEInstanceFiler(element)->systemId, filer->a.systemId);
    KELVAVolume *volume = getMEInstanceVolume(broker, element, &status);
    std::string out;
    if (volume == PK_QUOTA_WHOLE_SYSTEM) {
      out = "<system>";
    } else if (volume != nullptr) {
      out = std::string(volume->name) + " (" + element->volume + ")";
      freeVolume(volume);
    } else {
      out = "no volume " + takeMessage(status);
    }
    freeMEInstance(element);
    return out;
  }

  regtest::fs::path dir;
  std::unique_ptr<qtest::QuotaFiler> filer;
  std::string system;
  CMPIStatus status{CMPI_RC_OK, nullptr};
  std::vector<CMPIObjectPath *> paths;
};

TEST_P(ManagedElementTest, ElementsMapToTheirVolumesThroughTheClassTable) {
  EXPECT_EQ(volumeOf(path("KELVA_VariVolExtent", "SystemName", "DeviceID", "volA")), "volA (volA)");
  EXPECT_EQ(volumeOf(path("KELVA_LogicalDisk", "SystemName", "DeviceID", "volB")), "volB (volB)");
  EXPECT_EQ(volumeOf(path("KELVA_LocalFS", "CSName", "Name", "vol0")), "vol0 (vol0)");
  EXPECT_EQ(volumeOf(path("KELVA_StorageVolume", "SystemName", "DeviceID", "C4i/2JZpEk9r")),
            "volA (volA)");
  EXPECT_EQ(volumeOf(path("KELVA_StorageSystem", nullptr, "Name", system.c_str())), "<system>");
}

TEST_P(ManagedElementTest, MissingElementsAndForeignClassesAreRefused) {
  EXPECT_EQ(volumeOf(path("KELVA_LocalFS", "CSName", "Name", "volZ")),
            "rc 6 Quota subsystem:Managed Element was not found");
  EXPECT_EQ(
      volumeOf(path("KELVA_VariVolExtent", "SystemName", "DeviceID", "volA", "KELVA:9999999999")),
      "rc 6 Quota subsystem:Managed Element was not found");
  EXPECT_EQ(volumeOf(path("KELVA_StorageVolume", "SystemName", "DeviceID", "nosuchserial")),
            "rc 6 Quota subsystem:Managed Element was not found");
  EXPECT_EQ(volumeOf(path("KELVA_Disk", "SystemName", "DeviceID", "volA")), "no row");
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  // Only the rows listed are considered, in their order.
  const int onlyDisks[] = {1};
  const int reordered[] = {4, 2};
  CMPIObjectPath *fs = path("KELVA_LocalFS", "CSName", "Name", "volA");
  EXPECT_EQ(getQuotaMEClassFromPath(broker, fs, onlyDisks, 1, &status), nullptr);
  const QuotaMEClass *row = getQuotaMEClassFromPath(broker, fs, reordered, 2, &status);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->index, PK_QUOTA_ME_LOCAL_FS);
  EXPECT_STREQ(row->library, "nasdirprv.dll");

  // A volume that goes away between mapping and reading is no volume, and no failure.
  QuotaMEInstance *element = convertObjectPathToQuotaMEInstance(broker, ctx, fs, row, &status);
  ASSERT_NE(element, nullptr) << takeMessage(status);
  wsifree(element->volume);
  element->volume = wsistrdup("volGone");
  EXPECT_EQ(getMEInstanceVolume(broker, element, &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  freeMEInstance(element);
}

CIMOM_INSTANTIATE(ManagedElementTest);

}  // namespace
