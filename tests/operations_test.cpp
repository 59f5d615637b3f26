// Generic provider operations through the embedded object manager, with the
// fixture library of implibs/opsfixture.c and filers registered by host: a
// host starting with "down" or "mute" fails, "empty" answers no array.
#include <provkit/arrays.h>
#include <provkit/objectpath.h>
#include <provkit/operations.h>
#include <wbemkelvai/wsistorage.h>
#include <wbemkelvai/wsitesting.h>

#include <string>
#include <vector>

#include "ops_support.h"

namespace {

using opstest::fixtureLib;

constexpr const char *volumeClass = "KELVA_StorageVolume";

class OperationsTest : public opstest::OpsTest {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    result = om->newResult();
  }
  void TearDown() override {
    result.reset();
    OpsTest::TearDown();
  }
  CMPIStatus enumerate(int instances, const char *library = fixtureLib) {
    return enumerateInstances(broker, ctx, result->cmpi(), path(volumeClass, ""), instances,
                              nullptr, library);
  }
  std::unique_ptr<cimom::Result> result;
};

TEST_P(OperationsTest, AFailingFilerIsLoggedAndSkipped) {
  addFiler("f1", "down.test");
  addFiler("f2", "up.test");
  CMPIStatus status = enumerate(1);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_EQ(result->instances(),
            (std::vector<std::string>{R"(instance of KELVA_StorageVolume { ID = "up.test/0"; })",
                                      R"(instance of KELVA_StorageVolume { ID = "up.test/1"; })"}));
  EXPECT_EQ(result->doneCount(), 1);
  EXPECT_EQ(logTexts(1), (std::vector<std::string>{
                             "Unable to get Storage System data: down.test, reason: filer down"}));

  // A filer failing without a message, and one answering no array.
  om->clearRecords();
  result = om->newResult();
  addFiler("f3", "mute.test");
  addFiler("f4", "empty.test");
  status = enumerate(0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_StorageVolume.ID="up.test/0")",
                                      R"(root/kelva:KELVA_StorageVolume.ID="up.test/1")"}));
  EXPECT_EQ(logTexts(1), (std::vector<std::string>{
                             "Unable to get Storage System data: down.test, reason: filer down",
                             "Unable to get Storage System data: mute.test, reason: Unknown"}));
  bool traced = false;
  for (const auto &trace : om->traces())
    traced = traced || (trace.level == 1 && trace.text == "Null array returned");
  EXPECT_TRUE(traced);
}

TEST_P(OperationsTest, EnumerationFailuresStillFinishTheResult) {
  // The registry cannot make its lock on first use: no filer list.
  om->inject({"BrokerExt.newMutex"});
  CMPIStatus status = enumerate(1);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_EQ(result->doneCount(), 1);
  om->clearFaults();

  result = om->newResult();
  status = enumerate(1);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_TRUE(result->instances().empty());
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  status = enumerate(1, "libimplnoexists.so");
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message(status).find("existsImpl"), std::string::npos);
  EXPECT_EQ(result->doneCount(), 1);

  // A result that refuses an element ends the walk with its error.
  addFiler("f1", "one.test");
  addFiler("f2", "two.test");
  for (const char *fault : {"Result.returnInstance", "Array.getElementAt"}) {
    result = om->newResult();
    om->inject({fault, 2});
    status = enumerate(1);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED) << fault;
    message(status);
    EXPECT_EQ(result->instances().size(), 1u) << fault;
    EXPECT_EQ(result->doneCount(), 1);
    om->clearFaults();
  }
}

TEST_P(OperationsTest, GetReturnsTheImplementationsInstance) {
  CMPIStatus status = getProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "v1"),
                                          nullptr, fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->instances(),
            (std::vector<std::string>{R"(instance of KELVA_StorageVolume { ID = "v1"; })"}));
  EXPECT_EQ(result->doneCount(), 1);

  // An implementation that returns nothing and leaves the status alone has failed.
  result = om->newResult();
  status = getProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "null"), nullptr,
                               fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_TRUE(result->instances().empty());
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  status = getProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "fail"), nullptr,
                               fixtureLib);
  EXPECT_EQ(message(status), "no such element");
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  om->inject({"Result.returnInstance"});
  status = getProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "v1"), nullptr,
                               fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  status = getProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "v1"), nullptr,
                               "libnosuchimpl.so");
  EXPECT_NE(message(status).find("libnosuchimpl.so"), std::string::npos);
  EXPECT_EQ(result->doneCount(), 1);
}

TEST_P(OperationsTest, SetAndDeleteNeedALibraryThatServesThem) {
  // viewctlprv (the fixture under that name) is bound for both.
  CMPIObjectPath *target = path(volumeClass, "v1");
  CMPIInstance *instance = CMNewInstance(broker, target, nullptr);
  CMSetProperty(instance, "ElementName", "renamed", CMPI_chars);
  CMPIStatus status = setProviderInstance(broker, ctx, result->cmpi(), target, instance, nullptr,
                                          "libviewctlprv.so");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->instances(),
            (std::vector<std::string>{
                R"(instance of KELVA_StorageVolume { ElementName = "renamed"; ID = "v1"; })"}));
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  status = setProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "fail"), instance,
                               nullptr, "libviewctlprv.so");
  EXPECT_EQ(message(status), "cannot modify");
  EXPECT_TRUE(result->instances().empty());

  result = om->newResult();
  status = setProviderInstance(broker, ctx, result->cmpi(), target, instance, nullptr, fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  message(status);
  EXPECT_EQ(result->doneCount(), 1);
  CMRelease(instance);

  result = om->newResult();
  status = deleteProviderInstance(broker, ctx, result->cmpi(), target, "libviewctlprv.so");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->doneCount(), 1);
  status = deleteProviderInstance(broker, ctx, result->cmpi(), path(volumeClass, "fail"),
                                  "libviewctlprv.so");
  EXPECT_EQ(message(status), "cannot delete");
  status = deleteProviderInstance(broker, ctx, result->cmpi(), target, fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  message(status);
  EXPECT_EQ(result->doneCount(), 3);
}

TEST_P(OperationsTest, InvokeReturnsTheMethodsValue) {
  CMPIArgs *in = CMNewArgs(broker, nullptr);
  CMPIArgs *out = CMNewArgs(broker, nullptr);
  CMPIStatus status = invokeProviderMethod(broker, ctx, result->cmpi(), path(volumeClass, "v1"),
                                           "Rename", in, out, fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto data = result->data();
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].type, CMPI_uint32);
  EXPECT_EQ(data[0].value.uint32, 7u);
  EXPECT_EQ(CMGetArgCount(out, nullptr), 1u);
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  status = invokeProviderMethod(broker, ctx, result->cmpi(), path(volumeClass, "v1"), "Fail", in,
                                out, fixtureLib);
  EXPECT_EQ(message(status), "method failed");
  EXPECT_TRUE(result->data().empty());
  EXPECT_EQ(result->doneCount(), 1);

  for (const char *library : {"libimplinstonly.so", "libnosuchimpl.so"}) {
    result = om->newResult();
    status = invokeProviderMethod(broker, ctx, result->cmpi(), path(volumeClass, "v1"), "Rename",
                                  in, out, library);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
    message(status);
    EXPECT_EQ(result->doneCount(), 1);
  }

  result = om->newResult();
  om->inject({"Result.returnData"});
  status = invokeProviderMethod(broker, ctx, result->cmpi(), path(volumeClass, "v1"), "Rename", in,
                                out, fixtureLib);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  CMRelease(in);
  CMRelease(out);
}

int releases = 0;
void countRelease(void *value) {
  ++releases;
  wsifree(value);
}

TEST_P(OperationsTest, VariableRecordsReleaseAndCopy) {
  releases = 0;
  free_varListData(nullptr);
  auto *record = static_cast<varListData *>(wsicalloc(1, sizeof(varListData)));
  record->name = wsistrdup("Size");
  record->value = wsistrdup("42");
  record->type = CMPI_charsptr;
  record->release = countRelease;

  varListData *copy = copy_varListData(record);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(static_cast<const char *>(copy->value), "42");
  EXPECT_STREQ(copy->name, "Size");
  EXPECT_NE(copy->name, record->name);
  EXPECT_EQ(copy->type, static_cast<uint32_t>(CMPI_charsptr));
  EXPECT_EQ(copy->release, &countRelease);

  free_varListData(record);
  EXPECT_EQ(releases, 1);
  wsifree(record);

  // Without a release function only the name goes; the value stays the owner's.
  copy->release = nullptr;
  void *value = copy->value;
  free_varListData(copy);
  EXPECT_EQ(releases, 1);
  wsifree(value);
  wsifree(copy);

  // Another type's value is never released here.
  varListData plain{const_cast<char *>("text"), CMPI_string, wsistrdup("Plain"), countRelease};
  free_varListData(&plain);
  EXPECT_EQ(releases, 1);

  varListData source{const_cast<char *>("1"), CMPI_string, const_cast<char *>("One"), nullptr};
  for (unsigned long long nth : {1, 2, 3}) {
    wsiTestFailAllocation(nth);
    EXPECT_EQ(copy_varListData(&source), nullptr) << nth;
  }
  wsiTestFailAllocation(0);
}

TEST_P(OperationsTest, InitiatorGroupsCompareByNameOrByEveryField) {
  KELVALunMap map{const_cast<char *>("/vol/v1/lun0"), 0};
  WSIList *firstMaps = WSIList_new();
  WSIList *secondMaps = WSIList_new();
  WSIList_append(firstMaps, &map);
  WSIList_append(secondMaps, &map);
  KELVAIGroup first{const_cast<char *>("hosts"),
                    const_cast<char *>("iscsi"),
                    const_cast<char *>("linux"),
                    nullptr,
                    firstMaps,
                    nullptr};
  KELVAIGroup second = first;
  second.name = const_cast<char *>("HOSTS");
  second.lunMaps = secondMaps;
  EXPECT_EQ(compareIGroupElements(&first, &second, 0), 1);
  EXPECT_EQ(compareIGroupElements(nullptr, nullptr, 0), 1);
  EXPECT_EQ(compareIGroupElements(&first, nullptr, 1), 0);

  second.osType = const_cast<char *>("windows");
  EXPECT_EQ(compareIGroupElements(&first, &second, 1), 1);
  EXPECT_EQ(compareIGroupElements(&first, &second, 0), 0);
  second.osType = first.osType;

  KELVALunMap moved{const_cast<char *>("/vol/v1/lun0"), 3};
  WSIList_append(secondMaps, &moved);
  EXPECT_EQ(compareIGroupElements(&first, &second, 0), 0);
  WSIList_remove(secondMaps, &map);
  EXPECT_EQ(compareIGroupElements(&first, &second, 0), 0);
  EXPECT_EQ(compareIGroupElements(&first, &second, 1), 1);

  second.name = const_cast<char *>("others");
  EXPECT_EQ(compareIGroupElements(&first, &second, 1), 0);
  WSIList_free(firstMaps, nullptr);
  WSIList_free(secondMaps, nullptr);
}

// The association elements of the fixture: volume to pool, both served by it.
CMPIArray *volumeAssociations(const CMPIBroker *broker, const CMPIContext *context,
                              const CMPIObjectPath *path, const Filer *filer, int mode,
                              const char **propertyList, CMPIStatus *status) {
  return getInstancesFromGivenPath(broker, context, path, filer, nullptr, nullptr, mode,
                                   propertyList, fixtureLib, "KELVA_VolumeAllocatedFromPool",
                                   "Dependent", "Antecedent", status);
}

// Reads a reference property as a new text of its ID key.
void *referenceId(void *, CMPIStatus *status, const CMPIValue *value, int) {
  CMPIData key = CMGetKey(value->ref, "ID", status);
  if (status->rc != CMPI_RC_OK || key.value.string == nullptr) return nullptr;
  return wsistrdup(CMGetCharsPtr(key.value.string, nullptr));
}

TEST_P(OperationsTest, AssociationElementsAreListedAndCompared) {
  addFiler("f1", "one.test");
  CMPIStatus status{CMPI_RC_OK, nullptr};
  WSIList *elements = enumAssoIndElements(broker, ctx, &status, path(volumeClass, ""), fixtureLib,
                                          volumeAssociations);
  ASSERT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_EQ(WSIList_getLength(elements), 4u);
  auto at = [&](unsigned n) {
    WSIListPos *pos = WSIList_getFirst(elements);
    while (n-- > 0) pos = WSIList_getNext(pos);
    return static_cast<const CMPIInstance *>(WSIList_getElement(pos));
  };
  auto compare = [&](const CMPIInstance *a, const CMPIInstance *b, const char *secondLibrary) {
    return compareAssoIndElements(broker, a, b, 0, "Dependent", "Antecedent", fixtureLib,
                                  secondLibrary, referenceId, referenceId, wsifree, wsifree);
  };
  EXPECT_EQ(compare(at(0), at(0), fixtureLib), 1);
  EXPECT_EQ(compare(at(0), at(1), fixtureLib), 0);  // same volume, other pool
  EXPECT_EQ(compare(at(0), at(2), fixtureLib), 0);  // other volume
  // A library without compareIndElements: 0, logged, and no error left anywhere.
  om->clearRecords();
  EXPECT_EQ(compare(at(0), at(0), "libimplinstonly.so"), 0);
  EXPECT_FALSE(logTexts(1).empty());
  freeCMPIObjectList(broker, elements, CMPI_instance);

  // The list holds clones of its own, and a clone that fails fails the listing.
  om->inject({"Instance.clone", 1, CMPI_RC_ERR_FAILED, true, true});
  elements = enumAssoIndElements(broker, ctx, &status, path(volumeClass, ""), fixtureLib,
                                 volumeAssociations);
  EXPECT_EQ(elements, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  om->clearFaults();

  // A failing filer fails the listing.
  addFiler("f2", "down.test");
  elements = enumAssoIndElements(broker, ctx, &status, path(volumeClass, ""), fixtureLib,
                                 volumeAssociations);
  EXPECT_EQ(elements, nullptr);
  EXPECT_EQ(message(status), "filer down");
}

CIMOM_INSTANTIATE(OperationsTest);

}  // namespace
