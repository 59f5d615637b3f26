// The storage system, storage volume and system-device implementation libraries,
// loaded through provkit's loader (found through LD_LIBRARY_PATH) and run
// against the default scenario's simulated filers, registered in the filer
// registry, under the embedded object manager at both CMPI levels.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <provkit/arrays.h>
#include <provkit/associations.h>
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/operations.h>
#include <provkit/registry.h>
#include <wbemkelvai/wsistorage.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "registry_support.h"
#include "simfilers_support.h"
#include "support.h"

namespace {

using pktest::text;
using regtest::currentBroker;
using regtest::Status;
using ::testing::ElementsAre;

constexpr const char *kSystemA = "KELVA:0118054321";
constexpr const char *kSystemB = "KELVA:0118054322";
const std::vector<std::string> kSerialsA = {"C4i/2JZpEk9r", "C4i/2JZpEk9s", "C4i/2JZpEk9t",
                                            "C4i/2JZpEk9u", "C4i/2JZpEk9v"};

// A loaded library record, unloaded on scope exit.
template <typename R, void (*Unload)(R, KELVAStatus *)>
struct Loaded {
  R record{};
  KELVAStatus status = KELVA_STATUS_INIT;
  explicit Loaded(R loaded) : record(loaded) {}
  ~Loaded() {
    Unload(record, &status);
    clearKELVAStatus(&status);
  }
  const R *operator->() const { return &record; }
};

WSIInstanceImpl loadInstance(const char *file) {
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIInstanceImpl impl = WSILoadInstanceImpl(file, &status);
  EXPECT_NE(impl.handle, nullptr) << (status.message != nullptr ? status.message : "");
  clearKELVAStatus(&status);
  return impl;
}
WSIAssocImpl loadAssoc(const char *file) {
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIAssocImpl impl = WSILoadAssocImpl(file, &status);
  EXPECT_NE(impl.handle, nullptr) << (status.message != nullptr ? status.message : "");
  clearKELVAStatus(&status);
  return impl;
}
using Instances = Loaded<WSIInstanceImpl, WSIUnloadInstanceImpl>;
using Assoc = Loaded<WSIAssocImpl, WSIUnloadAssocImpl>;

// Releases what a test holds of CMPI objects.
template <typename T>
struct Held {
  T *object = nullptr;
  explicit Held(T *o = nullptr) : object(o) {}
  ~Held() {
    if (object != nullptr) CMRelease(object);
  }
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  T *get() const { return object; }
};

// An array of instances or paths, freed with what it holds.
struct HeldArray {
  CMPIArray *object = nullptr;
  explicit HeldArray(CMPIArray *o = nullptr) : object(o) {}
  ~HeldArray() { freeCMPIArray(object); }
  HeldArray(const HeldArray &) = delete;
  HeldArray &operator=(const HeldArray &) = delete;
  CMPIArray *get() const { return object; }
};

std::string stringOf(CMPIData data) {
  // A key's state carries CMPI_keyValue beside the good value.
  if ((data.state & (CMPI_nullValue | CMPI_badValue)) != 0 || data.type != CMPI_string)
    return "<none>";
  return text(data.value.string);
}

std::string property(const CMPIInstance *instance, const char *name) {
  return stringOf(CMGetProperty(instance, name, nullptr));
}

std::vector<CMPIUint16> uint16s(const CMPIInstance *instance, const char *name) {
  CMPIData data = CMGetProperty(instance, name, nullptr);
  std::vector<CMPIUint16> values;
  if (data.state != CMPI_goodValue || data.type != CMPI_uint16A) return values;
  for (CMPICount i = 0; i < CMGetArrayCount(data.value.array, nullptr); ++i)
    values.push_back(CMGetArrayElementAt(data.value.array, i, nullptr).value.uint16);
  return values;
}

// The keys of every path (or every instance's path) in the array, as "Key=value,...".
std::vector<std::map<std::string, std::string>> keysOf(CMPIArray *array) {
  std::vector<std::map<std::string, std::string>> out;
  if (array == nullptr) return out;
  for (CMPICount i = 0; i < CMGetArrayCount(array, nullptr); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, nullptr);
    Held<CMPIObjectPath> own;
    const CMPIObjectPath *path = element.value.ref;
    if (element.type == CMPI_instance) {
      own.object = CMGetObjectPath(element.value.inst, nullptr);
      path = own.get();
    }
    std::map<std::string, std::string> keys;
    keys["class"] = text(CMGetClassName(path, nullptr));
    for (CMPICount k = 0; k < CMGetKeyCount(path, nullptr); ++k) {
      CMPIString *name = nullptr;
      CMPIData value = CMGetKeyAt(path, k, &name, nullptr);
      keys[text(name)] = stringOf(value);
    }
    out.push_back(keys);
  }
  return out;
}

class ImplibsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    currentBroker() = broker;
    dir = regtest::useNewDataDir();
    sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    sim->registerInProcess();
    ASSERT_EQ(regtest::addSimulatedFilers(*sim), CMPI_RC_OK);
  }
  void TearDown() override {
    for (Filer *filer : filers()) {
      KELVAStatus record = KELVA_STATUS_INIT;
      FilerCache_deleteEntry(filer, &record);  // the cache is process-wide
      clearKELVAStatus(&record);
      Status removed;
      removeFilerFromList(broker, &removed, filer);
      freeFiler(filer);
    }
    pk::testing::resetFilerRegistry(broker);
    sim.reset();
    currentBroker() = nullptr;
    regtest::fs::remove_all(dir);
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }

  // Copies of the registered filers, in registry order; the caller frees them.
  std::vector<Filer *> filers() {
    Status listed;
    WSIList *list = getFilerList(broker, &listed);
    std::vector<Filer *> out;
    while (list != nullptr && !WSIList_isEmpty(list))
      out.push_back(static_cast<Filer *>(
          WSIList_remove(list, WSIList_getFirstElement(list, nullptr, nullptr))));
    freeFilers(list);
    return out;
  }
  std::unique_ptr<Filer, void (*)(void *)> filer(const char *name) {
    std::unique_ptr<Filer, void (*)(void *)> found(nullptr, freeFiler);
    for (Filer *f : filers()) {
      if (found == nullptr && sim->systemId(name) == f->systemId) {
        found.reset(f);
      } else {
        freeFiler(f);
      }
    }
    return found;
  }

  CMPIObjectPath *classPath(const char *className) {
    return CMNewObjectPath(broker, "root/kelva", className, nullptr);
  }
  CMPIObjectPath *systemPath(const char *name) {
    CMPIObjectPath *path = classPath("KELVA_StorageSystem");
    CMAddKey(path, "CreationClassName", "KELVA_StorageSystem", CMPI_chars);
    CMAddKey(path, "Name", name, CMPI_chars);
    return path;
  }
  CMPIObjectPath *volumePath(const char *system, const std::string &deviceId) {
    CMPIObjectPath *path = classPath("KELVA_StorageVolume");
    CMAddKey(path, "SystemCreationClassName", "KELVA_StorageSystem", CMPI_chars);
    CMAddKey(path, "SystemName", system, CMPI_chars);
    CMAddKey(path, "CreationClassName", "KELVA_StorageVolume", CMPI_chars);
    CMAddKey(path, "DeviceID", deviceId.c_str(), CMPI_chars);
    return path;
  }

  std::string message() { return text(status.msg); }

  regtest::fs::path dir;
  std::unique_ptr<filersim::Simulator> sim;
  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_P(ImplibsTest, OneSystemPerRegisteredFilerWithWhatTheFilerSays) {
  Instances impl(loadInstance("libarraysysprv.so"));
  ASSERT_NE(impl->existsImpl, nullptr);
  EXPECT_EQ(impl->setInstanceImpl, nullptr);
  Held<CMPIObjectPath> cls(classPath("KELVA_StorageSystem"));
  std::vector<std::string> names;
  for (Filer *f : filers()) {
    HeldArray paths(impl->enumInstNamesImpl(broker, ctx, &status, cls.get(), f));
    ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
    auto keys = keysOf(paths.get());
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0]["class"], "KELVA_StorageSystem");
    EXPECT_EQ(keys[0]["CreationClassName"], "KELVA_StorageSystem");
    names.push_back(keys[0]["Name"]);

    HeldArray instances(impl->enumInstancesImpl(broker, ctx, &status, cls.get(), f, nullptr));
    ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
    ASSERT_EQ(CMGetArrayCount(instances.get(), nullptr), 1u);
    CMPIInstance *inst = CMGetArrayElementAt(instances.get(), 0, nullptr).value.inst;
    EXPECT_EQ(property(inst, "Name"), keys[0]["Name"]);
    EXPECT_EQ(property(inst, "Vendor"), "KELVA");
    EXPECT_EQ(property(inst, "Model"), "KV-3040");
    // kelva-b has taken over its partner: degraded.
    EXPECT_THAT(uint16s(inst, "OperationalStatus"),
                ElementsAre(keys[0]["Name"] == kSystemA ? 2 : 3));
    EXPECT_THAT(uint16s(inst, "Dedicated"), ElementsAre(3, 15, 16, 21, 25));
    freeFiler(f);
  }
  EXPECT_THAT(names, ElementsAre(kSystemA, kSystemB));

  // Get and exists by the keys; a filer that is not registered is not found.
  Held<CMPIObjectPath> a(systemPath(kSystemA));
  const char *only[] = {"ElementName", "SerialNumber", nullptr};
  Held<CMPIInstance> got(impl->getInstanceImpl(broker, ctx, &status, a.get(), only));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(property(got.get(), "ElementName"), "kelva-a");
  EXPECT_EQ(property(got.get(), "SerialNumber"), "700000123456");
  EXPECT_EQ(property(got.get(), "Vendor"), "<none>");  // not asked for
  Filer *owner = nullptr;
  EXPECT_EQ(impl->existsImpl(broker, ctx, a.get(), &owner), 1);
  ASSERT_NE(owner, nullptr);
  EXPECT_STREQ(owner->systemId, "0118054321");
  freeFiler(owner);

  Held<CMPIObjectPath> stranger(systemPath("KELVA:9999"));
  EXPECT_EQ(impl->getInstanceImpl(broker, ctx, &status, stranger.get(), nullptr), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
  owner = nullptr;
  EXPECT_EQ(impl->existsImpl(broker, ctx, stranger.get(), &owner), 0);
  EXPECT_EQ(owner, nullptr);
}

TEST_P(ImplibsTest, AFilerThatDoesNotAnswerIsASystemOutOfContact) {
  Instances impl(loadInstance("libarraysysprv.so"));
  sim->setOnline("kelva-b", false);
  Held<CMPIObjectPath> b(systemPath(kSystemB));
  Held<CMPIInstance> got(impl->getInstanceImpl(broker, ctx, &status, b.get(), nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_THAT(uint16s(got.get(), "OperationalStatus"), ElementsAre(12));
  EXPECT_EQ(property(got.get(), "ElementName"), "0118054322");
  EXPECT_EQ(property(got.get(), "Model"), "<none>");
}

TEST_P(ImplibsTest, OneVolumePerLunKeyedAsTheIdentifiersSay) {
  Instances impl(loadInstance("libblockvolprv.so"));
  ASSERT_NE(impl->setInstanceImpl, nullptr);
  Held<CMPIObjectPath> cls(classPath("KELVA_StorageVolume"));
  auto a = filer("kelva-a");
  auto b = filer("kelva-b");

  // A filer whose LUNs were never read and cannot be read fails with the filer's reason.
  filersim::Fault busy;
  busy.errorNumber = 13001;
  busy.reason = "busy";
  busy.times = 1;
  sim->setFault("kelva-a", "lun-list-info", busy);
  HeldArray refused(impl->enumInstNamesImpl(broker, ctx, &status, cls.get(), a.get()));
  EXPECT_EQ(refused.get(), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(message(), ::testing::HasSubstr("busy"));
  clearCMPIError(broker, &status);

  HeldArray paths(impl->enumInstNamesImpl(broker, ctx, &status, cls.get(), a.get()));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  std::vector<std::string> serials;
  for (auto &keys : keysOf(paths.get())) {
    EXPECT_EQ(keys["class"], "KELVA_StorageVolume");
    EXPECT_EQ(keys["SystemCreationClassName"], "KELVA_StorageSystem");
    EXPECT_EQ(keys["SystemName"], kSystemA);
    EXPECT_EQ(keys["CreationClassName"], "KELVA_StorageVolume");
    EXPECT_EQ(keys.size(), 5u);  // the class and four keys
    serials.push_back(keys["DeviceID"]);
  }
  EXPECT_EQ(serials, kSerialsA);

  HeldArray instances(impl->enumInstancesImpl(broker, ctx, &status, cls.get(), a.get(), nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  ASSERT_EQ(CMGetArrayCount(instances.get(), nullptr), 5u);
  CMPIInstance *lun1 = CMGetArrayElementAt(instances.get(), 0, nullptr).value.inst;
  EXPECT_EQ(property(lun1, "Name"), "TARVEN   LUN C4i/2JZpEk9r");
  EXPECT_EQ(property(lun1, "ElementName"), "/vol/volA/lun1");
  EXPECT_EQ(property(lun1, "Description"), "");
  EXPECT_EQ(CMGetProperty(lun1, "NumberOfBlocks", nullptr).value.uint64, 42949672960ull / 512);
  EXPECT_THAT(uint16s(lun1, "OperationalStatus"), ElementsAre(2));
  CMPIInstance *old = CMGetArrayElementAt(instances.get(), 4, nullptr).value.inst;
  EXPECT_THAT(uint16s(old, "OperationalStatus"), ElementsAre(10));  // the off-line LUN
  EXPECT_EQ(CMGetProperty(old, "EnabledState", nullptr).value.uint16, 3);

  // A filer without LUNs has an empty array, not an error.
  HeldArray none(impl->enumInstNamesImpl(broker, ctx, &status, cls.get(), b.get()));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(CMGetArrayCount(none.get(), nullptr), 0u);
}

TEST_P(ImplibsTest, VolumesAreFoundByTheirKeys) {
  Instances impl(loadInstance("libblockvolprv.so"));
  Held<CMPIObjectPath> clone(volumePath(kSystemA, kSerialsA[1]));
  Held<CMPIInstance> got(impl->getInstanceImpl(broker, ctx, &status, clone.get(), nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(property(got.get(), "ElementName"), "/vol/volA/lun1clone");
  EXPECT_EQ(property(got.get(), "DeviceID"), kSerialsA[1]);
  Filer *owner = nullptr;
  EXPECT_EQ(impl->existsImpl(broker, ctx, clone.get(), &owner), 1);
  ASSERT_NE(owner, nullptr);
  EXPECT_STREQ(owner->systemId, "0118054321");
  freeFiler(owner);

  // The serial number on another filer, an unknown one, another system.
  using Keys = std::pair<std::string, std::string>;
  for (const auto &[system, serial] :
       {Keys{kSystemB, kSerialsA[1]}, Keys{kSystemA, "nope"}, Keys{"KELVA:9999", kSerialsA[1]}}) {
    Held<CMPIObjectPath> missing(volumePath(system.c_str(), serial));
    EXPECT_EQ(impl->getInstanceImpl(broker, ctx, &status, missing.get(), nullptr), nullptr);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND) << system << " " << serial;
    clearCMPIError(broker, &status);
    EXPECT_EQ(impl->existsImpl(broker, ctx, missing.get(), nullptr), 0);
  }
}

TEST_P(ImplibsTest, SettingTheDescriptionChangesTheLunCommentOnTheFiler) {
  Instances impl(loadInstance("libblockvolprv.so"));
  Held<CMPIObjectPath> lun1(volumePath(kSystemA, kSerialsA[0]));
  Held<CMPIInstance> before(impl->getInstanceImpl(broker, ctx, &status, lun1.get(), nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  CMSetProperty(before.get(), "Description", "mail store", CMPI_chars);
  CMSetProperty(before.get(), "ElementName", "/vol/volA/renamed", CMPI_chars);  // not changeable
  status.rc = CMPI_RC_ERR_FAILED;  // the caller's status says failure until the library succeeds
  impl->setInstanceImpl(broker, ctx, &status, lun1.get(), before.get(), nullptr);
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(sim->state("kelva-a")["storage"]["luns"][0].value("comment", ""), "mail store");

  Held<CMPIObjectPath> cls(classPath("KELVA_StorageVolume"));
  auto a = filer("kelva-a");
  HeldArray after(impl->enumInstancesImpl(broker, ctx, &status, cls.get(), a.get(), nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  CMPIInstance *first = CMGetArrayElementAt(after.get(), 0, nullptr).value.inst;
  EXPECT_EQ(property(first, "Description"), "mail store");
  EXPECT_EQ(property(first, "ElementName"), "/vol/volA/lun1");

  // A property list without Description changes nothing.
  CMSetProperty(before.get(), "Description", "other", CMPI_chars);
  const char *elementOnly[] = {"ElementName", nullptr};
  impl->setInstanceImpl(broker, ctx, &status, lun1.get(), before.get(), elementOnly);
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(sim->state("kelva-a")["storage"]["luns"][0].value("comment", ""), "mail store");

  // The filer's refusal comes back with its reason; a volume that is gone is not found.
  CMSetProperty(before.get(), "Description", std::string(300, 'x').c_str(), CMPI_chars);
  impl->setInstanceImpl(broker, ctx, &status, lun1.get(), before.get(), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(message(), ::testing::HasSubstr("Invalid input: comment"));
  clearCMPIError(broker, &status);
  Held<CMPIObjectPath> gone(volumePath(kSystemA, "nope"));
  impl->setInstanceImpl(broker, ctx, &status, gone.get(), before.get(), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
}

TEST_P(ImplibsTest, SystemDeviceLeadsFromASystemToItsVolumesAndBack) {
  Assoc impl(loadAssoc("libsystemdeviceprv.so"));
  auto a = filer("kelva-a");
  auto b = filer("kelva-b");
  Held<CMPIObjectPath> system(systemPath(kSystemA));

  HeldArray volumes(
      impl->getAssociatorPathImpl(broker, ctx, &status, system.get(), a.get(), nullptr, nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  std::vector<std::string> serials;
  for (auto &keys : keysOf(volumes.get())) {
    EXPECT_EQ(keys["SystemName"], kSystemA);
    serials.push_back(keys["DeviceID"]);
  }
  EXPECT_EQ(serials, kSerialsA);
  const char *only[] = {"ElementName", nullptr};
  HeldArray volumeInstances(impl->getAssociatorInstanceImpl(broker, ctx, &status, system.get(),
                                                            a.get(), nullptr, nullptr, only));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  ASSERT_EQ(CMGetArrayCount(volumeInstances.get(), nullptr), 5u);
  CMPIInstance *third = CMGetArrayElementAt(volumeInstances.get(), 2, nullptr).value.inst;
  EXPECT_EQ(property(third, "ElementName"), "/vol/volA/q1/lun3");

  // From a volume: its system, with or without the filer given.
  Held<CMPIObjectPath> volume(volumePath(kSystemA, kSerialsA[3]));
  for (const Filer *given :
       {static_cast<const Filer *>(a.get()), static_cast<const Filer *>(nullptr)}) {
    HeldArray systems(
        impl->getAssociatorPathImpl(broker, ctx, &status, volume.get(), given, nullptr, nullptr));
    ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
    auto keys = keysOf(systems.get());
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0]["class"], "KELVA_StorageSystem");
    EXPECT_EQ(keys[0]["Name"], kSystemA);
  }
  HeldArray systemInstances(impl->getAssociatorInstanceImpl(broker, ctx, &status, volume.get(),
                                                            a.get(), nullptr, nullptr, nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  ASSERT_EQ(CMGetArrayCount(systemInstances.get(), nullptr), 1u);
  EXPECT_EQ(
      property(CMGetArrayElementAt(systemInstances.get(), 0, nullptr).value.inst, "ElementName"),
      "kelva-a");

  // Nothing at the other end: a system without LUNs, a source of another filer than
  // the one given, a source of neither class.
  Held<CMPIObjectPath> systemB(systemPath(kSystemB));
  HeldArray empty(
      impl->getAssociatorPathImpl(broker, ctx, &status, systemB.get(), b.get(), nullptr, nullptr));
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(CMGetArrayCount(empty.get(), nullptr), 0u);
  HeldArray mismatched(
      impl->getAssociatorPathImpl(broker, ctx, &status, volume.get(), b.get(), nullptr, nullptr));
  EXPECT_EQ(CMGetArrayCount(mismatched.get(), nullptr), 0u);
  Held<CMPIObjectPath> other(classPath("KELVA_LogicalDisk"));
  HeldArray neither(
      impl->getAssociatorPathImpl(broker, ctx, &status, other.get(), a.get(), nullptr, nullptr));
  EXPECT_EQ(CMGetArrayCount(neither.get(), nullptr), 0u);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
}

// ---- Through the provider operations, as a provider's shell calls them --------------

// The array functions a KELVA_SystemDevice provider gives the traversal, one per endpoint.
CMPIArray *fromSystem(const CMPIBroker *broker, const CMPIContext *context,
                      const CMPIObjectPath *path, const Filer *filer, int mode,
                      CMPIStatus *status) {
  return getPathsFromGivenPath(broker, context, path, filer, nullptr, nullptr, mode,
                               "libsystemdeviceprv.so", "KELVA_SystemDevice", "GroupComponent",
                               "PartComponent", status);
}
CMPIArray *fromVolume(const CMPIBroker *broker, const CMPIContext *context,
                      const CMPIObjectPath *path, const Filer *filer, int mode,
                      CMPIStatus *status) {
  return getPathsFromGivenPath(broker, context, path, filer, nullptr, nullptr, mode,
                               "libsystemdeviceprv.so", "KELVA_SystemDevice", "PartComponent",
                               "GroupComponent", status);
}

TEST_P(ImplibsTest, ProviderOperationsServeTheLibrariesOverEveryFiler) {
  Held<CMPIObjectPath> systems(classPath("KELVA_StorageSystem"));
  auto result = om->newResult();
  CMPIStatus got = enumerateInstances(broker, ctx, result->cmpi(), systems.get(), 0, nullptr,
                                      "libarraysysprv.so");
  ASSERT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
  EXPECT_THAT(
      result->objectPaths(),
      ElementsAre(
          R"(root/kelva:KELVA_StorageSystem.CreationClassName="KELVA_StorageSystem",Name="KELVA:0118054321")",
          R"(root/kelva:KELVA_StorageSystem.CreationClassName="KELVA_StorageSystem",Name="KELVA:0118054322")"));

  // kelva-a's five volumes; kelva-b has none.
  Held<CMPIObjectPath> volumes(classPath("KELVA_StorageVolume"));
  result = om->newResult();
  got = enumerateInstances(broker, ctx, result->cmpi(), volumes.get(), 1, nullptr,
                           "libblockvolprv.so");
  ASSERT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
  EXPECT_EQ(result->instances().size(), 5u);

  // Set the comment through the provider operation; the next enumeration shows it.
  Held<CMPIObjectPath> lun4(volumePath(kSystemA, kSerialsA[3]));
  Held<CMPIInstance> changed(CMNewInstance(broker, lun4.get(), nullptr));
  CMSetProperty(changed.get(), "Description", "archive", CMPI_chars);
  result = om->newResult();
  got = setProviderInstance(broker, ctx, result->cmpi(), lun4.get(), changed.get(), nullptr,
                            "libblockvolprv.so");
  ASSERT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
  EXPECT_EQ(result->doneCount(), 1);
  const char *description[] = {"Description", nullptr};
  result = om->newResult();
  got = getProviderInstance(broker, ctx, result->cmpi(), lun4.get(), description,
                            "libblockvolprv.so");
  ASSERT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
  ASSERT_EQ(result->instanceObjects().size(), 1u);
  EXPECT_EQ(property(result->instanceObjects()[0], "Description"), "archive");
  result = om->newResult();
  got = enumerateInstances(broker, ctx, result->cmpi(), volumes.get(), 1, description,
                           "libblockvolprv.so");
  ASSERT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
  ASSERT_EQ(result->instanceObjects().size(), 5u);
  EXPECT_EQ(property(result->instanceObjects()[3], "Description"), "archive");
  EXPECT_EQ(property(result->instanceObjects()[2], "Description"), "");
  // The storage system library has no setInstanceImpl.
  result = om->newResult();
  got = setProviderInstance(broker, ctx, result->cmpi(), lun4.get(), changed.get(), nullptr,
                            "libarraysysprv.so");
  EXPECT_EQ(got.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  clearCMPIError(broker, &got);
}

TEST_P(ImplibsTest, AssociatorNamesOfSystemDeviceFollowTheClassHierarchy) {
  auto associators = [&](const CMPIObjectPath *path, const char *resultClass) {
    auto result = om->newResult();
    CMPIStatus got = associationAssociatorNames(
        broker, ctx, result->cmpi(), path, resultClass, nullptr, nullptr, "KELVA_StorageSystem",
        "KELVA_StorageVolume", "libarraysysprv.so", "libblockvolprv.so", "GroupComponent",
        "PartComponent", fromSystem, fromVolume);
    EXPECT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
    clearCMPIError(broker, &got);
    return result->objectPaths();
  };
  Held<CMPIObjectPath> system(systemPath(kSystemA));
  EXPECT_EQ(associators(system.get(), nullptr).size(), 5u);
  // Result classes are tested against the MOF's hierarchy.
  EXPECT_EQ(associators(system.get(), "CIM_StorageExtent").size(), 5u);
  EXPECT_EQ(associators(system.get(), "CIM_System").size(), 0u);

  Held<CMPIObjectPath> volume(volumePath(kSystemA, kSerialsA[0]));
  EXPECT_THAT(
      associators(volume.get(), "CIM_ComputerSystem"),
      ElementsAre(
          R"(root/kelva:KELVA_StorageSystem.CreationClassName="KELVA_StorageSystem",Name="KELVA:0118054321")"));
  // A volume that does not exist has no associators.
  Held<CMPIObjectPath> gone(volumePath(kSystemA, "nope"));
  EXPECT_TRUE(associators(gone.get(), nullptr).empty());
}

CIMOM_INSTANTIATE(ImplibsTest);

}  // namespace
