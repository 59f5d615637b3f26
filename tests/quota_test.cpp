// Quota configuration: keys and tree paths, configuration-entry InstanceIDs, rules
// added, read, listed with every filter, changed and deleted on a simulated filer
// (and what the filer sent back when it fails), and clients' configuration-entry
// instances checked rule by rule.
#include <gmock/gmock.h>
#include <provkit/quota.h>
#include <wbemkelvai/wsitesting.h>

#include <string>

#include "fileservices_support.h"
#include "quota_support.h"

namespace {

using qtest::Client;
using qtest::Entry;
using qtest::Keys;
using qtest::List;
using qtest::Record;
using qtest::Text;
using ::testing::HasSubstr;

constexpr uint64_t kNone = PK_QUOTA_NO_LIMIT;

nlohmann::json rules() {
  return {{"rules",
           {{{"type", "user"},
             {"target", "alice"},
             {"volume", "volA"},
             {"disk-limit", "2048"},
             {"file-limit", "100"},
             {"threshold", "1900"}},
            {{"type", "user"},
             {"target", "bob,carol"},
             {"volume", "volA"},
             {"qtree", "q1"},
             {"error", "invalid user name carol"}},
            {{"type", "group"}, {"target", "staff"}, {"volume", "volB"}},
            {{"type", "tree"}, {"target", "/vol/volA/q2"}, {"volume", "volA"}},
            {{"type", "tree"}, {"target", "*"}, {"volume", "volB"}},
            {{"type", "user"}, {"target", "*"}, {"volume", "volA"}}}}};
}

class QuotaEntriesTest : public ::testing::Test {
 protected:
  qtest::QuotaFiler f{rules()};
  Filer *a = &f.a;

  Client client(const char *target, const char *type, const char *volume, const char *qtree,
                uint64_t disk = kNone, uint64_t files = kNone, uint64_t softDisk = kNone,
                uint64_t softFiles = kNone) {
    Record record;
    Client made(createClientQuotaEntry(a, target, type, volume, qtree, disk, files, softDisk,
                                       softFiles, record.get()));
    EXPECT_FALSE(record.failed()) << record.text();
    return made;
  }
  // The targets of the entries that pass the filters, in the filer's order.
  std::vector<std::string> found(const int *type, const char *target, const char *part,
                                 const char *volume, const char *relative, const char *absolute) {
    List list(freeFilerQuotaEntry);
    Record record;
    int count = findFilerQuotaEntries(a, type, target, part, volume, relative, absolute, 0,
                                      list.get(), record.get());
    EXPECT_FALSE(record.failed()) << record.text();
    std::vector<std::string> out;
    for (const FilerQuotaEntry *e : list.items<FilerQuotaEntry>()) {
      out.push_back(std::string(e->keys.typeText) + " " + e->keys.target);
      EXPECT_EQ(getFilerQuotaEntryLimits(e)->diskLimit, kNone);
    }
    EXPECT_EQ(count, static_cast<int>(out.size()));
    return out;
  }
};

TEST_F(QuotaEntriesTest, KeysCarryTheTypeCodeAndTheTreePaths) {
  EXPECT_EQ(getQuotaTypeFromString("user"), 0);
  EXPECT_EQ(getQuotaTypeFromString("GROUP"), 1);
  EXPECT_EQ(getQuotaTypeFromString("tree"), 2);
  EXPECT_EQ(getQuotaTypeFromString("trees"), -1);
  EXPECT_EQ(getQuotaTypeFromString(nullptr), -1);

  Client tree = client("qt1", "tree", "vol1", nullptr);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->keys.type, PK_QUOTA_TYPE_TREE);
  EXPECT_STREQ(tree->keys.absoluteTree, "/vol/vol1/qt1");
  EXPECT_STREQ(tree->keys.relativeTree, "vol1/qt1");
  EXPECT_STREQ(tree->keys.qtree, "");
  EXPECT_STREQ(client("*", "tree", "vol1", nullptr)->keys.absoluteTree, "/vol/vol1");
  EXPECT_STREQ(client("/vol/vol2/x", "tree", "vol1", nullptr)->keys.absoluteTree, "/vol/vol2/x");
  EXPECT_STREQ(client("/qt1", "tree", "vol1", nullptr)->keys.absoluteTree, "/vol/vol1/qt1");

  Client user = client("alice", "user", "vol1", "q1");
  EXPECT_STREQ(user->keys.absoluteTree, "/vol/vol1/q1");
  EXPECT_EQ(client("alice", "group", "vol1", "")->keys.absoluteTree, nullptr);
  Client other = client("x", "project", "vol1", "q1");
  EXPECT_EQ(other->keys.type, -1);
  EXPECT_EQ(other->keys.absoluteTree, nullptr);
  EXPECT_TRUE(isQuotaEntryTargetDefault(&client("*", "user", "vol1", nullptr)->keys));
  EXPECT_FALSE(isQuotaEntryTargetDefault(&user->keys));

  // Without a volume the rule stands on the filer's root volume.
  Client root = client("alice", "user", nullptr, nullptr, 1);
  EXPECT_STREQ(root->keys.volume, "vol0");
  EXPECT_EQ(root->limits.diskLimit, 1u);
  EXPECT_EQ(root->limits.softFileLimit, kNone);

  FSQCEInst scratch;
  std::memset(&scratch, 0x5a, sizeof scratch);
  clearFSQCEInst(&scratch);
  EXPECT_EQ(scratch.typeCode, -1);
  EXPECT_EQ(scratch.treeName, nullptr);
  EXPECT_EQ(scratch.isDefault, 0);
  EXPECT_EQ(scratch.hardDiskLimit, kNone);
  EXPECT_EQ(scratch.softFileLimit, kNone);
}

TEST_F(QuotaEntriesTest, ConfigurationIdsRoundTripAndRefuseWhatCannotBeSplit) {
  Client rule = client("*", "user", "vol1", nullptr);
  Record record;
  Text id(encodeFSQConfigEntryID(a->systemId, &rule->keys, record.get()));
  ASSERT_NE(id, nullptr) << record.text();
  EXPECT_EQ(std::string(id.get()), std::string("KELVA:") + a->systemId + ":user:*:vol1:-");

  char *system1 = nullptr;
  char *system2 = nullptr;
  QuotaKeys *decoded = nullptr;
  ASSERT_EQ(decodeFSQConfigEntryID(id.get(), &system1, &system2, &decoded, record.get()), 1)
      << record.text();
  Keys keys(decoded);
  EXPECT_STREQ(keys->typeText, "user");
  EXPECT_STREQ(keys->target, "*");
  EXPECT_STREQ(keys->volume, "vol1");
  EXPECT_STREQ(keys->qtree, "");
  EXPECT_EQ(keys->type, 0);
  EXPECT_STREQ(system1, a->systemId);

  Client tree = client("q2", "tree", "volA", nullptr);
  Text treeId(encodeFSQConfigEntryID(a->systemId, &tree->keys, record.get()));
  ASSERT_EQ(decodeFSQConfigEntryID(treeId.get(), &system1, &system2, &decoded, record.get()), 1);
  Keys treeKeys(decoded);
  EXPECT_STREQ(treeKeys->absoluteTree, "/vol/volA/q2");

  struct Case {
    std::string local;
    std::string message;
  };
  for (const Case &c :
       {Case{"", "Quota subsystem:Failed to parse Type portion of InstanceID"},
        Case{"user", "Quota subsystem:Failed to parse Target portion of InstanceID"},
        Case{"user:alice", "Quota subsystem:Failed to parse Volume portion of InstanceID"}}) {
    std::string text = std::string("KELVA:") + a->systemId + ":" + c.local;
    Record failed;
    decoded = reinterpret_cast<QuotaKeys *>(&failed);  // must be reset
    EXPECT_EQ(decodeFSQConfigEntryID(text.data(), &system1, &system2, &decoded, failed.get()), 0);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(failed.text(), c.message) << c.local;
  }
  // Doubled separators count as one; a missing qtree part is an empty qtree.
  std::string loose = std::string("KELVA:") + a->systemId + ":group::staff:volB";
  Record good;
  ASSERT_EQ(decodeFSQConfigEntryID(loose.data(), &system1, &system2, &decoded, good.get()), 1);
  Keys looseKeys(decoded);
  EXPECT_STREQ(looseKeys->target, "staff");
  EXPECT_STREQ(looseKeys->volume, "volB");
  EXPECT_STREQ(looseKeys->qtree, "");
}

TEST_F(QuotaEntriesTest, RulesRoundTripThroughAddGetModifyAndDelete) {
  Client rule = client("dave", "user", "volA", "q1", 1048576, 50, 524288, kNone);
  Record record;
  addFilerQuotaEntry(a, rule.get(), record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  // Keys in the filer's order, disk limits in kilobytes, no element for no limit.
  EXPECT_EQ(f.lastRequest("quota-add-entry"),
            "<quota-add-entry><qtree>q1</qtree><quota-target>dave</quota-target>"
            "<quota-type>user</quota-type><volume>volA</volume><disk-limit>1024</disk-limit>"
            "<file-limit>50</file-limit><soft-disk-limit>512</soft-disk-limit>"
            "</quota-add-entry>");

  Entry got(getFilerQuotaEntry(a, &rule->keys, 1, record.get()));
  ASSERT_NE(got, nullptr) << record.text();
  EXPECT_EQ(got->limits.diskLimit, 1048576u);
  EXPECT_EQ(got->limits.fileLimit, 50u);
  EXPECT_EQ(got->limits.softDiskLimit, 524288u);
  EXPECT_EQ(got->limits.softFileLimit, kNone);
  EXPECT_STREQ(getFilerQuotaEntryAbsoluteTree(got.get()), "/vol/volA/q1");
  EXPECT_STREQ(getFilerQuotaEntryRelativeTree(got.get()), "volA/q1");
  EXPECT_EQ(getFilerQuotaError(got.get()), nullptr);

  // Adding it again is the filer's refusal, with the filer named.
  addFilerQuotaEntry(a, rule.get(), record.get());
  EXPECT_TRUE(record.failed());
  EXPECT_THAT(record.text(), HasSubstr("exists already"));
  clearKELVAStatus(record.get());

  Client changed = client("dave", "user", "volA", "q1", 4096, kNone, kNone, 7);
  modifyFilerQuotaEntry(a, &rule->keys, changed.get(), record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  Entry after(getFilerQuotaEntry(a, &rule->keys, 1, record.get()));
  ASSERT_NE(after, nullptr) << record.text();
  EXPECT_EQ(after->limits.diskLimit, 4096u);
  EXPECT_EQ(after->limits.fileLimit, kNone);
  EXPECT_EQ(after->limits.softFileLimit, 7u);
  Entry bare(getFilerQuotaEntry(a, &rule->keys, 0, record.get()));
  EXPECT_EQ(bare->limits.diskLimit, kNone);

  deleteFilerQuotaEntry(a, &rule->keys, record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(f.lastRequest("quota-delete-entry"),
            "<quota-delete-entry><qtree>q1</qtree><quota-target>dave</quota-target>"
            "<quota-type>user</quota-type><volume>volA</volume></quota-delete-entry>");
  // A rule the filer does not have is no failure.
  EXPECT_EQ(getFilerQuotaEntry(a, &rule->keys, 1, record.get()), nullptr);
  EXPECT_FALSE(record.failed()) << record.text();
  deleteFilerQuotaEntry(a, &rule->keys, record.get());
  EXPECT_THAT(record.text(), HasSubstr("No quota entry for dave"));
}

TEST_F(QuotaEntriesTest, ListingPassesEveryFilter) {
  EXPECT_EQ(found(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            (std::vector<std::string>{"user alice", "user bob,carol", "group staff",
                                      "tree /vol/volA/q2", "tree *", "user *"}));
  int user = PK_QUOTA_TYPE_USER;
  int tree = PK_QUOTA_TYPE_TREE;
  EXPECT_EQ(found(&user, nullptr, nullptr, nullptr, nullptr, nullptr),
            (std::vector<std::string>{"user alice", "user bob,carol", "user *"}));
  EXPECT_EQ(found(nullptr, "AL*", nullptr, nullptr, nullptr, nullptr),
            (std::vector<std::string>{"user alice"}));
  EXPECT_EQ(found(nullptr, nullptr, "carol", nullptr, nullptr, nullptr),
            (std::vector<std::string>{"user bob,carol"}));
  EXPECT_EQ(found(&tree, nullptr, nullptr, "volB", nullptr, nullptr),
            (std::vector<std::string>{"tree *"}));
  EXPECT_EQ(found(nullptr, nullptr, nullptr, nullptr, PK_QUOTA_TREE_ANY, nullptr),
            (std::vector<std::string>{"user bob,carol", "tree /vol/volA/q2", "tree *"}));
  EXPECT_EQ(found(nullptr, nullptr, nullptr, nullptr, "volA/q1", nullptr),
            (std::vector<std::string>{"user bob,carol"}));
  EXPECT_EQ(found(nullptr, nullptr, nullptr, nullptr, nullptr, "/vol/volB"),
            (std::vector<std::string>{"tree *"}));
  EXPECT_EQ(found(&user, nullptr, nullptr, "volA", nullptr, PK_QUOTA_TREE_ANY),
            (std::vector<std::string>{"user bob,carol"}));

  // With limits every passing entry is completed from the filer; reasons come along.
  List list(freeFilerQuotaEntry);
  Record record;
  EXPECT_EQ(findFilerQuotaEntries(a, &user, nullptr, nullptr, "volA", nullptr, nullptr, 1,
                                  list.get(), record.get()),
            3);
  ASSERT_FALSE(record.failed()) << record.text();
  auto items = list.items<FilerQuotaEntry>();
  EXPECT_EQ(items[0]->limits.diskLimit, 2048u * 1024);
  EXPECT_EQ(items[0]->limits.fileLimit, 100u);
  EXPECT_STREQ(getFilerQuotaError(items[1]), "invalid user name carol");
  EXPECT_EQ(items[2]->limits.diskLimit, kNone);
}

TEST_F(QuotaEntriesTest, FilerFailuresAndBadAnswersReachTheRecord) {
  Client alice = client("alice", "user", "volA", nullptr);
  Record record;
  f.sim->setFault("kelva-a", "quota-list-entries",
                  filersim::Fault::fail(13001, "quota list refused", 1));
  List list(freeFilerQuotaEntry);
  EXPECT_EQ(findFilerQuotaEntries(a, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                  list.get(), record.get()),
            0);
  EXPECT_THAT(record.text(), HasSubstr("quota list refused"));
  clearKELVAStatus(record.get());

  f.sim->setFault(
      "kelva-a", "quota-list-entries",
      filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\"/></kelva>", 1));
  findFilerQuotaEntries(a, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, list.get(),
                        record.get());
  EXPECT_EQ(record.text(), "Quota subsystem:Missing 'quota-entries' tag");
  clearKELVAStatus(record.get());

  // An entry whose limits cannot be read fails the listing, and what was found stays.
  f.sim->setFault("kelva-a", "quota-get-entry", filersim::Fault::fail(13115, "get refused", 1));
  int user = PK_QUOTA_TYPE_USER;
  EXPECT_EQ(findFilerQuotaEntries(a, &user, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                                  list.get(), record.get()),
            0);
  EXPECT_THAT(record.text(), HasSubstr("get refused"));
  EXPECT_TRUE(WSIList_isEmpty(list.get()));
  clearKELVAStatus(record.get());

  const std::string head = "<kelva version=\"1.0\"><results status=\"passed\">";
  const std::string limits =
      "<disk-limit>1</disk-limit><file-limit>2</file-limit><soft-disk-limit>-</soft-disk-limit>"
      "<soft-file-limit>4</soft-file-limit>";
  f.sim->setFault("kelva-a", "quota-get-entry",
                  filersim::Fault::answer(head + limits + "</results></kelva>", 1));
  EXPECT_EQ(getFilerQuotaEntry(a, &alice->keys, 1, record.get()), nullptr);
  EXPECT_EQ(record.text(),
            "Quota subsystem:Failed to find threshold element in 'quota-get-entry result'");
  clearKELVAStatus(record.get());
  f.sim->setFault(
      "kelva-a", "quota-get-entry",
      filersim::Fault::answer(head + limits + "<threshold>12x</threshold></results></kelva>", 1));
  EXPECT_EQ(getFilerQuotaEntry(a, &alice->keys, 1, record.get()), nullptr);
  EXPECT_EQ(record.text(), "Quota subsystem:Failed to format quota entry threshhold");
  clearKELVAStatus(record.get());
  f.sim->setFault("kelva-a", "quota-get-entry",
                  filersim::Fault::answer(head + limits +
                                              "<threshold>-</threshold><quota-error><quota-error>"
                                              "rule not applied</quota-error></quota-error>"
                                              "</results></kelva>",
                                          1));
  Entry read(getFilerQuotaEntry(a, &alice->keys, 1, record.get()));
  ASSERT_NE(read, nullptr) << record.text();
  EXPECT_EQ(read->limits.diskLimit, 1024u);
  EXPECT_EQ(read->limits.softDiskLimit, kNone);
  EXPECT_STREQ(getFilerQuotaError(read.get()), "rule not applied");

  // A filer failure other than "no such rule" is a failure.
  f.sim->setFault("kelva-a", "quota-get-entry", filersim::Fault::fail(13115, "bad keys", 1));
  EXPECT_EQ(getFilerQuotaEntry(a, &alice->keys, 0, record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("bad keys"));
}

// Every allocation the keys need, failed in turn, ends in the memory message with
// nothing leaked (the sanitizer build watches the leaks).
TEST_F(QuotaEntriesTest, RunningOutOfMemoryIsReportedAtEveryStep) {
  wsiTestFailAllocation(0);
  Client probe = client("q1", "tree", "volA", nullptr);
  unsigned long long count = wsiTestAllocationCount();
  ASSERT_GT(count, 4u);
  for (unsigned long long nth = 1; nth <= count; ++nth) {
    Record record;
    wsiTestFailAllocation(nth);
    Client made(createClientQuotaEntry(a, "q1", "tree", "volA", nullptr, 1, 1, 1, 1, record.get()));
    wsiTestFailAllocation(0);
    EXPECT_EQ(made, nullptr) << nth;
    EXPECT_EQ(record.text(), "Quota subsystem:Insufficient memory") << nth;
  }
  Record record;
  wsiTestFailAllocation(0);
  Text id(encodeFSQConfigEntryID(a->systemId, &probe->keys, record.get()));
  unsigned long long encodeCount = wsiTestAllocationCount();
  for (unsigned long long nth = 1; nth <= encodeCount; ++nth) {
    Record failing;
    wsiTestFailAllocation(nth);
    Text none(encodeFSQConfigEntryID(a->systemId, &probe->keys, failing.get()));
    wsiTestFailAllocation(0);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(failing.text(), "Quota subsystem:Insufficient memory");
  }
}

// ---- Clients' configuration-entry instances -------------------------------------------

class ConfigEntryInstanceTest : public fstest::FileServicesTest {
 protected:
  // A user rule on volA for alice with a disk limit.
  CMPIInstance *asking(CMPIUint16 type) {
    CMPIInstance *inst = instance("KELVA_FSQuotaConfigEntry");
    setUint16(inst, "QuotaType", type);
    setString(inst, "ManagedElement", "volA");
    setArray(inst, "ResourceType", CMPI_uint16, {2});
    setArray(inst, "HardLimit", CMPI_uint16, {10240});
    setArray(inst, "SoftLimit", CMPI_uint16, {-1});
    setString(inst, "PrincipalID", "alice");
    return inst;
  }
  void setString(CMPIInstance *inst, const char *name, const char *text) {
    CMSetProperty(inst, name, text, CMPI_chars);
  }
  Client made(CMPIInstance *inst) {
    return Client(newClientQuotaEntryFromInst(broker, &a, inst, &status));
  }
  void expectRefused(CMPIInstance *inst, const std::string &text) {
    EXPECT_EQ(made(inst), nullptr);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(message(), "KELVA_FSQuotaConfigEntry: " + text);
  }
};

TEST_P(ConfigEntryInstanceTest, TypesTargetsAndTreesFollowTheInstance) {
  Client user = made(asking(2));
  ASSERT_NE(user, nullptr) << message();
  EXPECT_STREQ(user->keys.typeText, "user");
  EXPECT_STREQ(user->keys.target, "alice");
  EXPECT_STREQ(user->keys.volume, "volA");
  EXPECT_STREQ(user->keys.qtree, "");
  EXPECT_EQ(user->limits.diskLimit, 10240u);
  EXPECT_EQ(user->limits.softDiskLimit, kNone);
  EXPECT_EQ(user->limits.fileLimit, kNone);

  CMPIInstance *group = asking(6);
  setString(group, "TreeName", "q1");
  Client inTree = made(group);
  ASSERT_NE(inTree, nullptr) << message();
  EXPECT_STREQ(inTree->keys.typeText, "group");
  EXPECT_STREQ(inTree->keys.qtree, "q1");
  EXPECT_STREQ(inTree->keys.absoluteTree, "/vol/volA/q1");

  CMPIInstance *tree = asking(4);
  setString(tree, "TreeName", "q2");
  Client treeRule = made(tree);
  ASSERT_NE(treeRule, nullptr) << message();
  EXPECT_STREQ(treeRule->keys.typeText, "tree");
  EXPECT_STREQ(treeRule->keys.target, "q2");
  EXPECT_STREQ(treeRule->keys.qtree, "");

  // The default rule needs no principal; its target is "*".
  CMPIInstance *fallback = asking(2);
  setNull(fallback, "PrincipalID", CMPI_string);
  CMPIBoolean yes = 1;
  CMSetProperty(fallback, "Default", &yes, CMPI_boolean);
  Client defaultRule = made(fallback);
  ASSERT_NE(defaultRule, nullptr) << message();
  EXPECT_STREQ(defaultRule->keys.target, "*");
  CMPIInstance *asText = asking(3);
  setNull(asText, "PrincipalID", CMPI_string);
  setString(asText, "Default", "true");
  Client textDefault = made(asText);
  ASSERT_NE(textDefault, nullptr) << message();
  EXPECT_STREQ(textDefault->keys.target, "*");
  EXPECT_STREQ(textDefault->keys.typeText, "group");
}

TEST_P(ConfigEntryInstanceTest, LimitsFollowTheResourceTypes) {
  CMPIInstance *both = asking(2);
  setArray(both, "ResourceType", CMPI_uint16, {2, 5});
  setArray(both, "HardLimit", CMPI_uint16, {10240, 100});
  setArray(both, "SoftLimit", CMPI_uint16, {-1, 80});
  Client entry = made(both);
  ASSERT_NE(entry, nullptr) << message();
  EXPECT_EQ(entry->limits.diskLimit, 10240u);
  EXPECT_EQ(entry->limits.fileLimit, 100u);
  EXPECT_EQ(entry->limits.softDiskLimit, kNone);
  EXPECT_EQ(entry->limits.softFileLimit, 80u);

  // Limits beyond 16 bits come as 64-bit elements; all ones is no limit.
  CMPIInstance *wide = asking(2);
  setArray(wide, "ResourceType", CMPI_uint16, {5, 2});
  setArray(wide, "HardLimit", CMPI_uint64, {5000000, 10737418240LL});
  CMPIArray *soft = CMNewArray(broker, 2, CMPI_uint64, nullptr);
  CMPIValue v;
  v.uint64 = kNone;
  CMSetArrayElementAt(soft, 0, &v, CMPI_uint64);
  v.uint64 = 1024;
  CMSetArrayElementAt(soft, 1, &v, CMPI_uint64);
  v.array = soft;
  CMSetProperty(wide, "SoftLimit", &v, CMPI_uint64A);
  CMRelease(soft);
  Client wideEntry = made(wide);
  ASSERT_NE(wideEntry, nullptr) << message();
  EXPECT_EQ(wideEntry->limits.fileLimit, 5000000u);
  EXPECT_EQ(wideEntry->limits.diskLimit, 10737418240u);
  EXPECT_EQ(wideEntry->limits.softFileLimit, kNone);
  EXPECT_EQ(wideEntry->limits.softDiskLimit, 1024u);
}

TEST_P(ConfigEntryInstanceTest, EveryRuleIsRefusedWithItsMessage) {
  expectRefused(asking(7), "QuotaTypemust be 2,3,4,5, or 6");
  expectRefused(asking(1), "QuotaTypemust be 2,3,4,5, or 6");

  CMPIInstance *nullKind = asking(2);
  setArray(nullKind, "ResourceType", CMPI_uint16, {2, -1});
  setArray(nullKind, "HardLimit", CMPI_uint16, {1, 2});
  expectRefused(nullKind, "ResourceTypeelements cannot be NULL");

  CMPIInstance *badKind = asking(2);
  setArray(badKind, "ResourceType", CMPI_uint16, {3});
  expectRefused(badKind, "ResourceTypeelements must be 2 or 5");

  CMPIInstance *noPrincipal = asking(3);
  setNull(noPrincipal, "PrincipalID", CMPI_string);
  expectRefused(noPrincipal, "PrincipalID must be present for user or group quotas");

  // Required properties are refused by the property reader, which names them.
  for (const char *name : {"QuotaType", "ManagedElement", "ResourceType", "HardLimit"}) {
    CMPIInstance *missing = asking(2);
    setNull(missing, name, CMPI_uint16);
    EXPECT_EQ(made(missing), nullptr) << name;
    EXPECT_NE(status.rc, CMPI_RC_OK) << name;
    EXPECT_THAT(message(), HasSubstr(name));
  }
  // A tree rule, or a rule inside a tree, needs the tree's name.
  for (CMPIUint16 type : {4, 5, 6}) {
    EXPECT_EQ(made(asking(type)), nullptr) << type;
    EXPECT_NE(status.rc, CMPI_RC_OK);
    EXPECT_THAT(message(), HasSubstr("TreeName"));
  }
  // A managed element of the wrong type is refused before anything else is read.
  CMPIInstance *wrongType = asking(2);
  setUint16(wrongType, "ManagedElement", 3);
  EXPECT_EQ(made(wrongType), nullptr);
  EXPECT_NE(status.rc, CMPI_RC_OK);
  (void)message();
}

CIMOM_INSTANTIATE(ConfigEntryInstanceTest);

}  // namespace
