// Association traversal through the embedded object manager: a volume-to-pool
// association whose endpoints are both served by the fixture library, with
// the array functions written as an association provider writes them.
#include <provkit/arrays.h>
#include <provkit/associations.h>
#include <provkit/objectpath.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ops_support.h"

namespace {

using opstest::fixtureLib;

constexpr const char *assocClass = "KELVA_VolumeAllocatedFromPool";
constexpr const char *volumeClass = "KELVA_StorageVolume";
constexpr const char *poolClass = "KELVA_ConcretePool";
constexpr const char *volumeRole = "Dependent";
constexpr const char *poolRole = "Antecedent";

// A volume's other ends alternate between a concrete pool and a plain storage
// pool, so that a result class can keep some of them.
const char *const poolClasses[2] = {poolClass, "CIM_StoragePool"};
const char *const volumeClasses[2] = {volumeClass, volumeClass};

CMPIArray *volumeNames(const CMPIBroker *broker, const CMPIContext *context,
                       const CMPIObjectPath *path, const Filer *filer, int mode,
                       CMPIStatus *status) {
  return getPathsFromGivenPath(broker, context, path, filer, poolClasses[0], poolClasses[1], mode,
                               fixtureLib, assocClass, volumeRole, poolRole, status);
}
CMPIArray *poolNames(const CMPIBroker *broker, const CMPIContext *context,
                     const CMPIObjectPath *path, const Filer *filer, int mode, CMPIStatus *status) {
  return getPathsFromGivenPath(broker, context, path, filer, volumeClasses[0], volumeClasses[1],
                               mode, fixtureLib, assocClass, poolRole, volumeRole, status);
}
CMPIArray *volumeInstances(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, const Filer *filer, int mode,
                           const char **propertyList, CMPIStatus *status) {
  return getInstancesFromGivenPath(broker, context, path, filer, poolClasses[0], poolClasses[1],
                                   mode, propertyList, fixtureLib, assocClass, volumeRole, poolRole,
                                   status);
}
CMPIArray *poolInstances(const CMPIBroker *broker, const CMPIContext *context,
                         const CMPIObjectPath *path, const Filer *filer, int mode,
                         const char **propertyList, CMPIStatus *status) {
  return getInstancesFromGivenPath(broker, context, path, filer, volumeClasses[0], volumeClasses[1],
                                   mode, propertyList, fixtureLib, assocClass, poolRole, volumeRole,
                                   status);
}

// Extensions: mark the instance or path with the filer they were given, or fail.
void markInstance(const CMPIBroker *, const CMPIContext *, CMPIStatus *status, const Filer *filer,
                  const char **, CMPIInstance *instance) {
  *status =
      CMSetProperty(instance, "Owner", filer != nullptr ? filer->systemId : "none", CMPI_chars);
}
void failInstance(const CMPIBroker *broker, const CMPIContext *, CMPIStatus *status, const Filer *,
                  const char **, CMPIInstance *) {
  CMSetStatusWithChars(broker, status, CMPI_RC_ERR_FAILED, "extension refused");
}
void markPath(const CMPIBroker *, const CMPIContext *, CMPIStatus *status, const Filer *,
              CMPIObjectPath *path) {
  *status = CMAddKey(path, "Marked", "yes", CMPI_chars);
}

// Whether each text contains the piece.
bool allContain(const std::vector<std::string> &texts, const std::string &piece) {
  return std::all_of(texts.begin(), texts.end(), [&](const std::string &text) {
    return text.find(piece) != std::string::npos;
  });
}

class AssociationsTest : public opstest::OpsTest {
 protected:
  CMPIStatus references(const CMPIObjectPath *from, const char *role, int instances) {
    return associationReferences(broker, ctx, result->cmpi(), from, nullptr, role, instances,
                                 nullptr, volumeClass, poolClass, fixtureLib, fixtureLib,
                                 volumeRole, poolRole, volumeInstances, poolInstances, volumeNames,
                                 poolNames);
  }
  CMPIStatus associatorNames(const CMPIObjectPath *from, const char *resultClass, const char *role,
                             const char *resultRole) {
    return associationAssociatorNames(broker, ctx, result->cmpi(), from, resultClass, role,
                                      resultRole, volumeClass, poolClass, fixtureLib, fixtureLib,
                                      volumeRole, poolRole, volumeNames, poolNames);
  }
  CMPIStatus associators(const CMPIObjectPath *from, const char *resultClass) {
    return associationAssociators(broker, ctx, result->cmpi(), from, resultClass, nullptr, nullptr,
                                  nullptr, volumeClass, poolClass, fixtureLib, fixtureLib,
                                  volumeRole, poolRole, volumeInstances, poolInstances);
  }
  // The association path from volume to pool, as a client names it.
  CMPIObjectPath *associationPath(const std::string &volume, const std::string &pool) {
    CMPIObjectPath *assoc = path(assocClass, "");
    CMPIValue value;
    value.ref = path(volumeClass, volume);
    CMAddKey(assoc, volumeRole, &value, CMPI_ref);
    value.ref = path(poolClass, pool);
    CMAddKey(assoc, poolRole, &value, CMPI_ref);
    return assoc;
  }
  void TearDown() override {
    result.reset();
    OpsTest::TearDown();
  }

  std::unique_ptr<cimom::Result> result = nullptr;
  void SetUp() override {
    OpsTest::SetUp();
    result = om->newResult();
  }
};

TEST_P(AssociationsTest, ReferencesInBothDirectionsFollowTheRoleFilter) {
  CMPIStatus status = references(path(volumeClass, "v1"), nullptr, 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto found = result->objectPaths();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(allContain(found, "root/kelva:KELVA_VolumeAllocatedFromPool."));
  EXPECT_TRUE(allContain(found, R"(Dependent="root/kelva:KELVA_StorageVolume.ID=\"v1\"")"));
  EXPECT_NE(found[0].find(R"(Antecedent="root/kelva:KELVA_ConcretePool.ID=\"v1/0\"")"),
            std::string::npos);
  EXPECT_NE(found[1].find(R"(Antecedent="root/kelva:CIM_StoragePool.ID=\"v1/1\"")"),
            std::string::npos);
  // References leave CMReturnDone to the provider.
  EXPECT_EQ(result->doneCount(), 0);

  result = om->newResult();
  status = references(path(poolClass, "p1"), "Ante*", 1);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto instances = result->instances();
  ASSERT_EQ(instances.size(), 2u);
  EXPECT_TRUE(allContain(instances, "instance of KELVA_VolumeAllocatedFromPool"));
  EXPECT_TRUE(allContain(instances, R"(Antecedent = "root/kelva:KELVA_ConcretePool.ID=\"p1\"")"));

  // A role filter naming the other endpoint's role gives nothing.
  result = om->newResult();
  EXPECT_EQ(references(path(poolClass, "p1"), volumeRole, 0).rc, CMPI_RC_OK);
  EXPECT_TRUE(result->objectPaths().empty());
}

TEST_P(AssociationsTest, PathsOfNeitherEndpointOrOfMissingObjectsGiveNothing) {
  // Exact class names: a subclass of neither endpoint class is no endpoint.
  EXPECT_EQ(references(path("KELVA_StorageSystem", "s1"), nullptr, 0).rc, CMPI_RC_OK);
  EXPECT_EQ(references(path("CIM_StorageVolume", "v1"), nullptr, 1).rc, CMPI_RC_OK);
  EXPECT_EQ(references(path(volumeClass, "missing1"), nullptr, 0).rc, CMPI_RC_OK);
  EXPECT_EQ(associatorNames(path("KELVA_StorageSystem", "s1"), nullptr, nullptr, nullptr).rc,
            CMPI_RC_OK);
  EXPECT_TRUE(result->objectPaths().empty());
  EXPECT_TRUE(result->instances().empty());
  EXPECT_EQ(result->doneCount(), 1);
}

TEST_P(AssociationsTest, AssociatorNamesFollowRoleResultRoleAndResultClass) {
  EXPECT_EQ(associatorNames(path(volumeClass, "v1"), nullptr, nullptr, nullptr).rc, CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_ConcretePool.ID="v1/0")",
                                      R"(root/kelva:CIM_StoragePool.ID="v1/1")"}));
  EXPECT_EQ(result->doneCount(), 1);

  // Subclasses count for the result class.
  result = om->newResult();
  EXPECT_EQ(associatorNames(path(volumeClass, "v1"), "KELVA_ConcretePool", volumeRole, poolRole).rc,
            CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_ConcretePool.ID="v1/0")"}));
  result = om->newResult();
  EXPECT_EQ(associatorNames(path(volumeClass, "v1"), "CIM_StoragePool", nullptr, nullptr).rc,
            CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths().size(), 2u);

  // From the other end, with the roles the other way round.
  result = om->newResult();
  EXPECT_EQ(associatorNames(path(poolClass, "p1"), nullptr, poolRole, volumeRole).rc, CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_StorageVolume.ID="p1/0")",
                                      R"(root/kelva:KELVA_StorageVolume.ID="p1/1")"}));

  // Wrong role, wrong result role, or a result class no element has: done, nothing.
  struct Case {
    const char *from, *role, *resultRole, *resultClass;
  };
  for (Case c : {Case{volumeClass, poolRole, nullptr, nullptr},
                 Case{volumeClass, nullptr, volumeRole, nullptr},
                 Case{poolClass, volumeRole, nullptr, nullptr},
                 Case{volumeClass, nullptr, nullptr, "CIM_StorageVolume"}}) {
    result = om->newResult();
    EXPECT_EQ(associatorNames(path(c.from, "x"), c.resultClass, c.role, c.resultRole).rc,
              CMPI_RC_OK);
    EXPECT_TRUE(result->objectPaths().empty());
    EXPECT_EQ(result->doneCount(), 1);
  }
}

TEST_P(AssociationsTest, AssociatorsTestEachInstancesOwnPathForTheResultClass) {
  EXPECT_EQ(associators(path(volumeClass, "v1"), "KELVA_ConcretePool").rc, CMPI_RC_OK);
  auto instances = result->instances();
  ASSERT_EQ(instances.size(), 1u);
  EXPECT_EQ(instances[0], R"(instance of KELVA_ConcretePool { ID = "v1/0"; })");
  EXPECT_EQ(result->doneCount(), 1);

  result = om->newResult();
  EXPECT_EQ(associators(path(volumeClass, "v1"), nullptr).rc, CMPI_RC_OK);
  EXPECT_EQ(result->instances().size(), 2u);
}

TEST_P(AssociationsTest, AssociatorFailuresReturnTheStatusWithoutDone) {
  CMPIStatus status = associatorNames(path(volumeClass, "fail"), nullptr, nullptr, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(message(status), "no associated elements");
  EXPECT_EQ(result->doneCount(), 0);

  // A result-class test that fails stops the walk; applyResultClass still finishes.
  result = om->newResult();
  om->inject({"BrokerEnc.classPathIsA"});
  status = associatorNames(path(volumeClass, "v1"), poolClass, nullptr, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_TRUE(result->objectPaths().empty());
  EXPECT_EQ(result->doneCount(), 1);

  // An instance's own path cannot be read for the result-class test.
  result = om->newResult();
  om->inject({"Instance.getObjectPath"});
  status = associators(path(volumeClass, "v1"), poolClass);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_TRUE(result->instances().empty());
  EXPECT_EQ(result->doneCount(), 1);

  // The filtered array cannot be made.
  result = om->newResult();
  om->inject({"BrokerEnc.newArray", 2});
  status = associatorNames(path(volumeClass, "v1"), poolClass, nullptr, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_TRUE(result->objectPaths().empty());
}

TEST_P(AssociationsTest, ReferencesReportBrokerFailures) {
  om->inject({"Result.returnObjectPath"});
  CMPIStatus status = references(path(volumeClass, "v1"), nullptr, 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_TRUE(result->objectPaths().empty());

  // The association of the second element cannot be built: nothing is returned.
  result = om->newResult();
  om->inject({"BrokerEnc.newObjectPath", 4});
  status = references(path(volumeClass, "v1"), nullptr, 0);
  EXPECT_NE(status.rc, CMPI_RC_OK);
  message(status);
  EXPECT_TRUE(result->objectPaths().empty());
}

TEST_P(AssociationsTest, AssociationGetInstanceVerifiesBothEnds) {
  CMPIStatus status =
      getAssociationInstance(broker, ctx, result->cmpi(), associationPath("v1", "p1"), nullptr,
                             assocClass, fixtureLib, fixtureLib, volumeRole, poolRole);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_EQ(result->instances().size(), 1u);
  EXPECT_EQ(result->doneCount(), 1);

  struct Case {
    const char *volume, *pool, *text;
  };
  for (Case c : {Case{"missing", "p1", "First instance of association not found"},
                 Case{"v1", "missing", "Second instance of association not found"}}) {
    result = om->newResult();
    status =
        getAssociationInstance(broker, ctx, result->cmpi(), associationPath(c.volume, c.pool),
                               nullptr, assocClass, fixtureLib, fixtureLib, volumeRole, poolRole);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_EQ(message(status), c.text);
    EXPECT_TRUE(result->instances().empty());
    EXPECT_EQ(result->doneCount(), 1);
  }
}

TEST_P(AssociationsTest, AssociationGetInstanceExtensionSeesTheSecondEndsFiler) {
  CMPIStatus status = getExtendedAssociationInstance(
      broker, ctx, result->cmpi(), associationPath("v1", "p7"), nullptr, assocClass, fixtureLib,
      fixtureLib, volumeRole, poolRole, markInstance);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_EQ(result->instances().size(), 1u);
  // The fixture's existsImpl names the filer after the element.
  EXPECT_NE(result->instances()[0].find(R"(Owner = "p7")"), std::string::npos);

  result = om->newResult();
  status = getExtendedAssociationInstance(broker, ctx, result->cmpi(), associationPath("v1", "p7"),
                                          nullptr, assocClass, fixtureLib, fixtureLib, volumeRole,
                                          poolRole, failInstance);
  EXPECT_EQ(message(status), "extension refused");
  EXPECT_TRUE(result->instances().empty());
  EXPECT_EQ(result->doneCount(), 1);
}

TEST_P(AssociationsTest, AssociationGetInstanceFailuresStillFinishTheResult) {
  // No second reference key.
  CMPIObjectPath *partial = path(assocClass, "");
  CMPIValue value;
  value.ref = path(volumeClass, "v1");
  CMAddKey(partial, volumeRole, &value, CMPI_ref);
  CMPIStatus status =
      getAssociationInstance(broker, ctx, result->cmpi(), partial, nullptr, assocClass, fixtureLib,
                             fixtureLib, volumeRole, poolRole);
  EXPECT_NE(status.rc, CMPI_RC_OK);
  message(status);
  EXPECT_EQ(result->doneCount(), 1);

  // A library that cannot be loaded for the first end.
  result = om->newResult();
  status = getAssociationInstance(broker, ctx, result->cmpi(), associationPath("v1", "p1"), nullptr,
                                  assocClass, "libnosuchimpl.so", fixtureLib, volumeRole, poolRole);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message(status).find("libnosuchimpl.so"), std::string::npos);
  EXPECT_EQ(result->doneCount(), 1);

  for (const char *fault : {"ObjectPath.getKey", "Result.returnInstance", "Instance.setProperty"}) {
    result = om->newResult();
    om->inject({fault});
    status =
        getAssociationInstance(broker, ctx, result->cmpi(), associationPath("v1", "p1"), nullptr,
                               assocClass, fixtureLib, fixtureLib, volumeRole, poolRole);
    EXPECT_NE(status.rc, CMPI_RC_OK) << fault;
    message(status);
    EXPECT_EQ(result->doneCount(), 1) << fault;
    om->clearFaults();
  }
}

TEST_P(AssociationsTest, FromGivenPathBuildsAssociationsOrPassesTheLibrarysArray) {
  CMPIObjectPath *volume = path(volumeClass, "v1");
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIArray *made = getExtendedPathsFromGivenPath(broker, ctx, volume, nullptr, poolClass,
                                                  poolClass, 1, fixtureLib, assocClass, volumeRole,
                                                  poolRole, markPath, &status);
  ASSERT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(CMGetArrayType(made, nullptr), CMPI_ref);
  returnArray(made, result->cmpi(), CMPI_refA, &status);
  freeCMPIArray(made);
  EXPECT_TRUE(allContain(result->objectPaths(), R"(Marked="yes")"));

  // Modes other than 1 give the library's own array.
  made = getInstancesFromGivenPath(broker, ctx, volume, nullptr, nullptr, nullptr, 2, nullptr,
                                   fixtureLib, assocClass, volumeRole, poolRole, &status);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(CMGetArrayCount(made, nullptr), 2u);
  freeCMPIArray(made);

  made = getExtendedInstancesFromGivenPath(broker, ctx, volume, nullptr, nullptr, nullptr, 1,
                                           nullptr, fixtureLib, assocClass, volumeRole, poolRole,
                                           failInstance, &status);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(message(status), "extension refused");

  // A library without the associator functions.
  made = getPathsFromGivenPath(broker, ctx, volume, nullptr, nullptr, nullptr, 1,
                               "libimplinstonly.so", assocClass, volumeRole, poolRole, &status);
  EXPECT_EQ(made, nullptr);
  EXPECT_NE(message(status).find("getAssociatorPathImpl"), std::string::npos);

  // The result array cannot be made (the fixture's own array is the first).
  om->inject({"BrokerEnc.newArray", 2});
  made = getInstancesFromGivenPath(broker, ctx, volume, nullptr, nullptr, nullptr, 1, nullptr,
                                   fixtureLib, assocClass, volumeRole, poolRole, &status);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);

  om->inject({"Array.setElementAt", 3});
  made = getInstancesFromGivenPath(broker, ctx, volume, nullptr, nullptr, nullptr, 1, nullptr,
                                   fixtureLib, assocClass, volumeRole, poolRole, &status);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
}

TEST_P(AssociationsTest, EnumerationWalksEveryFilersElements) {
  addFiler("f1", "one.test");
  addFiler("f2", "two.test");
  CMPIStatus status = enumerateAssociations(broker, ctx, result->cmpi(), path(volumeClass, ""), 0,
                                            nullptr, fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto found = result->objectPaths();
  ASSERT_EQ(found.size(), 8u);
  EXPECT_NE(found[0].find(R"(KELVA_StorageVolume.ID=\"one.test/0\")"), std::string::npos);
  EXPECT_NE(found[7].find(R"(KELVA_StorageVolume.ID=\"two.test/1\")"), std::string::npos);
  EXPECT_EQ(result->doneCount(), 1);

  CMPIArray *collected = nullptr;
  status = enumerateAssociationsWithArray(broker, ctx, &collected, path(volumeClass, ""), 1,
                                          nullptr, fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_NE(collected, nullptr);
  EXPECT_EQ(CMGetArrayCount(collected, nullptr), 8u);
  EXPECT_EQ(CMGetArrayType(collected, nullptr), CMPI_instance);
  freeCMPIArray(collected);

  // Without a place nothing is kept (and nothing is left unreleased).
  status = enumerateAssociationsWithArray(broker, ctx, nullptr, path(volumeClass, ""), 0, nullptr,
                                          fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  // Nor without a result: the arrays the walk made go back to the object manager.
  status = enumerateAssociations(broker, ctx, nullptr, path(volumeClass, ""), 1, nullptr,
                                 fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
}

TEST_P(AssociationsTest, EnumerationStopsAtAFailingFiler) {
  addFiler("f1", "one.test");
  addFiler("f2", "down.test");
  addFiler("f3", "three.test");
  CMPIArray *collected = nullptr;
  CMPIStatus status =
      enumerateAssociationsWithArray(broker, ctx, &collected, path(volumeClass, ""), 0, nullptr,
                                     fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(message(status), "filer down");
  EXPECT_EQ(collected, nullptr);

  status = enumerateAssociations(broker, ctx, result->cmpi(), path(volumeClass, ""), 0, nullptr,
                                 "libimplnoexists.so", volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message(status).find("existsImpl"), std::string::npos);
  EXPECT_EQ(result->doneCount(), 1);

  // A merge that fails leaves the walk with the error and nothing collected.
  om->inject({"BrokerEnc.newArray", 4});
  status = enumerateAssociationsWithArray(broker, ctx, &collected, path(volumeClass, ""), 0,
                                          nullptr, fixtureLib, volumeNames, volumeInstances);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message(status);
  EXPECT_EQ(collected, nullptr);
}

TEST_P(AssociationsTest, BaseImplInstNamesAsksTheLibraryForTheClass) {
  Filer *filer = regtest::newFiler("f1", "one.test");
  CMPIStatus status{CMPI_RC_OK, nullptr};
  CMPIArray *names = getBaseImplInstNames(broker, ctx, &status, path(volumeClass, "v1"), filer,
                                          poolClass, fixtureLib);
  ASSERT_NE(names, nullptr);
  returnArray(names, result->cmpi(), CMPI_refA, &status);
  freeCMPIArray(names);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_ConcretePool.ID="one.test/0")",
                                      R"(root/kelva:KELVA_ConcretePool.ID="one.test/1")"}));

  EXPECT_EQ(getBaseImplInstNames(broker, ctx, &status, path(volumeClass, "v1"), filer, poolClass,
                                 "libnosuchimpl.so"),
            nullptr);
  EXPECT_NE(message(status).find("libnosuchimpl.so"), std::string::npos);

  CMPIObjectPath *source = path(volumeClass, "v1");
  om->inject({"BrokerEnc.newObjectPath"});
  EXPECT_EQ(getBaseImplInstNames(broker, ctx, &status, source, filer, poolClass, fixtureLib),
            nullptr);
  EXPECT_NE(status.rc, CMPI_RC_OK);
  message(status);
  freeFiler(filer);
}

TEST_P(AssociationsTest, ApplyResultClassDropsNullsAndAlwaysFinishes) {
  CMPIStatus status = applyResultClass(broker, ctx, result->cmpi(), nullptr, CMPI_refA, poolClass);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->doneCount(), 1);

  CMPIArray *array = CMNewArray(broker, 3, CMPI_ref, nullptr);
  CMPIValue value;
  value.ref = path(poolClass, "p1");
  CMSetArrayElementAt(array, 0, &value, CMPI_ref);
  value.ref = path(volumeClass, "v1");
  CMSetArrayElementAt(array, 2, &value, CMPI_ref);
  result = om->newResult();
  status = applyResultClass(broker, ctx, result->cmpi(), array, CMPI_refA, "CIM_ManagedElement");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths().size(), 2u);

  // The status form leaves CMReturnDone to the caller.
  result = om->newResult();
  applyResultClassStatus(broker, ctx, result->cmpi(), array, CMPI_refA, volumeClass, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(result->objectPaths(),
            (std::vector<std::string>{R"(root/kelva:KELVA_StorageVolume.ID="v1")"}));
  EXPECT_EQ(result->doneCount(), 0);
  CMRelease(array);

  // Only instances and paths can be tested for a class: anything else is a
  // type mismatch, and the result is still finished.
  CMPIArray *texts = CMNewArray(broker, 1, CMPI_string, nullptr);
  result = om->newResult();
  status = applyResultClass(broker, ctx, result->cmpi(), texts, CMPI_stringA, volumeClass);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_TYPE_MISMATCH);
  EXPECT_TRUE(result->objectPaths().empty());
  EXPECT_EQ(result->doneCount(), 1);
  CMRelease(texts);
}

TEST_P(AssociationsTest, IndexAndRoleFilters) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  EXPECT_EQ(passesIndexFilter(broker, &status, nullptr, 3), 1);
  EXPECT_EQ(passesIndexFilter(broker, &status, "007", 7), 1);
  EXPECT_EQ(passesIndexFilter(broker, &status, "12x", 12), 1);
  EXPECT_EQ(passesIndexFilter(broker, &status, "12", 13), 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(passesIndexFilter(broker, &status, "x12", 12), 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(message(status), "Failed to convert index filter");
  EXPECT_EQ(passesIndexFilter(broker, nullptr, "", 0), 0);

  EXPECT_EQ(passesRoleFilter("Dependent", nullptr), 1);
  EXPECT_EQ(passesRoleFilter("Dependent", "dependent"), 1);
  EXPECT_EQ(passesRoleFilter("Dependent", "Antecedent"), 0);
}

CIMOM_INSTANTIATE(AssociationsTest);

}  // namespace
