// KELVA_ConcretePoolStorageCapabilities of a concrete pool, and the storage
// settings its CreateSetting makes.  A pool's capabilities carry the redundancy
// of the setting row that describes its aggregate; a setting made from them is
// named by that row, so it can be read back (by the instance provider below)
// without the library keeping anything between calls.
//
// InstanceIDs: a pool and its capabilities "KELVA:<systemId>:<pool>", a setting
// "KELVA:<systemId>:<pool>:<setting row name>" (row names hold ':' themselves).
#include <cmpimacs.h>
#include <provkit/commoncaps.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <provkit/registry.h>

#include <cstring>
#include <string>

#include "storageobjects.h"

using namespace implib;

namespace {

constexpr const char *kPoolClass = "KELVA_ConcretePool";
constexpr const char *kCapsClass = "KELVA_ConcretePoolStorageCapabilities";
constexpr const char *kSettingClass = "KELVA_StorageSetting";
constexpr CMPIUint16 kSettingDefault = 2;
constexpr CMPIUint16 kSettingGoal = 3;

struct AggrListFree {
  void operator()(WSIList *list) const { freeAggregateInfo(list); }
};
using AggrList = std::unique_ptr<WSIList, AggrListFree>;

// The system and local part of the path's InstanceID.
struct Id {
  std::string systemId, local;
};
bool splitId(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path, Id *out) {
  WsiText id(getKeyAsChar(status, path, "InstanceID"));
  if (failed(status)) return false;
  Record record;
  char *systemId = nullptr;
  char *local = nullptr;
  if (id == nullptr ||
      getFilerAndNameFromInstanceId(record.get(), id.get(), &systemId, nullptr, &local) == 0) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, "Malformed InstanceID");
    return false;
  }
  *out = {systemId, local};
  return true;
}

// The setting row of the pool's aggregate; null (raised) when there is no such pool.
const ConcretePoolSetting *rowOfPool(const CMPIBroker *broker, const CMPIContext *context,
                                     CMPIStatus *status, const CMPIObjectPath *path,
                                     const Filer *given, Id *id) {
  if (!splitId(broker, status, path, id)) return nullptr;
  FilerCopy found;
  const Filer *filer = given;
  if (filer == nullptr) {
    found.reset(getFilerByName(status, broker, context, path, id->systemId.c_str()));
    if (failed(status)) return nullptr;
    filer = found.get();
  }
  if (filer == nullptr || filer->systemId == nullptr ||
      strCompare(filer->systemId, id->systemId.c_str()) != 0) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND, "No concrete pool " + id->local);
    return nullptr;
  }
  AggrList aggrs(WSIList_new());
  Record record;
  if (!aggrs ||
      getAggregateInfo(record.get(), filer, id->local.c_str(), nullptr, 3, 1, aggrs.get()) == 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  const auto *aggr =
      static_cast<const KELVAAggregate *>(WSIList_getFirstElement(aggrs.get(), nullptr, nullptr));
  if (aggr == nullptr) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND, "No concrete pool " + id->local);
    return nullptr;
  }
  return getConcretePoolSettingFromAggregate(aggr);
}

// Whether the source is a concrete pool (else it has no capabilities).
bool isPool(const CMPIBroker *broker, const CMPIObjectPath *path) {
  CMPIStatus probe{CMPI_RC_OK, nullptr};
  bool pool = classIsA(&probe, broker, path, kPoolClass) == 1;
  clearCMPIError(broker, &probe);
  return pool;
}

CMPIObjectPath *newPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *like,
                        const char *className, const std::string &systemId,
                        const std::string &local) {
  CMPIStatus made{CMPI_RC_OK, nullptr};
  WsiText ns(getNamespaceAsChar(broker, like, status));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(CMNewObjectPath(broker, ns.get(), className, &made));
  WsiText id(encodeInstanceID(systemId.c_str(), local.c_str()));
  if (made.rc != CMPI_RC_OK || !path || id == nullptr) {
    raise(broker, status, CMPI_RC_ERR_FAILED, "Insufficient memory");
    return nullptr;
  }
  made = CMAddKey(path.get(), "InstanceID", id.get(), CMPI_chars);
  if (made.rc != CMPI_RC_OK) {
    raise(broker, status, made.rc, "Unable to set InstanceID");
    return nullptr;
  }
  return path.release();
}

void setUint16(CMPIStatus *status, CMPIInstance *instance, const char **properties,
               const char *name, CMPIUint16 value) {
  if (failed(status) || isPropertyPresent(properties, name) == 0) return;
  CMPIValue v;
  v.uint16 = value;
  CMPIStatus set = CMSetProperty(instance, name, &v, CMPI_uint16);
  if (set.rc != CMPI_RC_OK) *status = set;
}

// A new instance of the path with the row's redundancy under the two names.
CMPIInstance *newInstance(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path,
                          const ConcretePoolSetting *row, const char *elementName,
                          const char *packageName, const char *dataName, const char **properties) {
  CMPIStatus made{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIInstance> instance(CMNewInstance(broker, path, &made));
  if (made.rc != CMPI_RC_OK || !instance) {
    raise(broker, status, CMPI_RC_ERR_FAILED, "Insufficient memory");
    return nullptr;
  }
  CMPIData id = CMGetKey(path, "InstanceID", nullptr);
  CMPIStatus set = CMSetProperty(instance.get(), "InstanceID", &id.value, CMPI_string);
  if (set.rc == CMPI_RC_OK && isPropertyPresent(properties, "ElementName") != 0)
    set = CMSetProperty(instance.get(), "ElementName", elementName, CMPI_chars);
  if (set.rc != CMPI_RC_OK) {
    raise(broker, status, set.rc, "Unable to set a property");
    return nullptr;
  }
  setUint16(status, instance.get(), properties, packageName, row->packageRedundancy);
  setUint16(status, instance.get(), properties, dataName, row->dataRedundancy);
  return failed(status) ? nullptr : instance.release();
}

// ---- The instance provider of the settings ------------------------------------

const CMPIBroker *settingBroker = nullptr;

CMPIStatus ok() { return CMPIStatus{CMPI_RC_OK, nullptr}; }
CMPIStatus notSupported() { return CMPIStatus{CMPI_RC_ERR_NOT_SUPPORTED, nullptr}; }

CMPIStatus settingCleanup(CMPIInstanceMI *, const CMPIContext *, CMPIBoolean) { return ok(); }
// Settings exist only as the answers of CreateSetting: there is nothing to list.
CMPIStatus settingEnumNames(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *result,
                            const CMPIObjectPath *) {
  CMReturnDone(result);
  return ok();
}
CMPIStatus settingEnum(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *result,
                       const CMPIObjectPath *, const char **) {
  CMReturnDone(result);
  return ok();
}
CMPIStatus settingGet(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *result,
                      const CMPIObjectPath *path, const char **properties) {
  const CMPIBroker *broker = settingBroker;
  CMPIStatus status{CMPI_RC_OK, nullptr};
  cEdge(broker, &status, 0, [&] {
    Id id;
    if (!splitId(broker, &status, path, &id)) return 0;
    // The row name follows the pool name's ':'; row names hold a ':' of their own.
    const ConcretePoolSetting *row = nullptr;
    for (size_t at = id.local.find(':'); at != std::string::npos && row == nullptr;
         at = id.local.find(':', at + 1)) {
      row = getConcretePoolSettingByName(id.local.c_str() + at + 1);
    }
    if (row == nullptr) {
      raise(broker, &status, CMPI_RC_ERR_NOT_FOUND, "No such setting");
      return 0;
    }
    CmpiObject<CMPIInstance> instance(newInstance(broker, &status, path, row, row->name,
                                                  "PackageRedundancyGoal", "DataRedundancyGoal",
                                                  properties));
    if (!instance) return 0;
    CMPIStatus returned = CMReturnInstance(result, instance.get());
    if (returned.rc != CMPI_RC_OK) status = returned;
    CMReturnDone(result);
    return 0;
  });
  return status;
}
CMPIStatus settingCreate(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *,
                         const CMPIObjectPath *, const CMPIInstance *) {
  return notSupported();
}
CMPIStatus settingModify(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *,
                         const CMPIObjectPath *, const CMPIInstance *, const char **) {
  return notSupported();
}
CMPIStatus settingDelete(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *,
                         const CMPIObjectPath *) {
  return notSupported();
}
CMPIStatus settingQuery(CMPIInstanceMI *, const CMPIContext *, const CMPIResult *,
                        const CMPIObjectPath *, const char *, const char *) {
  return notSupported();
}

CMPIInstanceMIFT settingFT = {CMPICurrentVersion, CMPICurrentVersion, "poolcapsprv", settingCleanup,
                              settingEnumNames,   settingEnum,        settingGet,    settingCreate,
                              settingModify,      settingDelete,      settingQuery};
CMPIInstanceMI settingMI = {nullptr, &settingFT};

// From a concrete pool, the path of its capabilities (none from anything else).
CMPIArray *capsPaths(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *source, const Filer *filer) {
  std::vector<CmpiObject<CMPIObjectPath>> items;
  if (isPool(broker, source)) {
    Id id;
    if (rowOfPool(broker, context, status, source, filer, &id) == nullptr) return nullptr;
    items.emplace_back(newPath(broker, status, source, kCapsClass, id.systemId, id.local));
    if (failed(status)) return nullptr;
  }
  return arrayOf(broker, status, items);
}

// From a concrete pool, its capabilities instance with the redundancy defaults.
CMPIArray *capsInstances(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                         const CMPIObjectPath *source, const Filer *filer,
                         const char **propertyList) {
  std::vector<CmpiObject<CMPIInstance>> items;
  if (isPool(broker, source)) {
    Id id;
    const ConcretePoolSetting *row = rowOfPool(broker, context, status, source, filer, &id);
    if (row == nullptr) return nullptr;
    CmpiObject<CMPIObjectPath> path(
        newPath(broker, status, source, kCapsClass, id.systemId, id.local));
    if (!path) return nullptr;
    items.emplace_back(newInstance(broker, status, path.get(), row, id.local.c_str(),
                                   "PackageRedundancyDefault", "DataRedundancyDefault",
                                   propertyList));
    if (failed(status)) return nullptr;
  }
  return arrayOf(broker, status, items);
}

}  // namespace

ASSOCIATOR_LIBRARY(capsPaths, capsInstances)

// CreateSetting(SettingType 2 default or 3 goal) on a pool's capabilities: NewSetting is the
// path of the setting of the pool's row.  Returns 0 on success.
IMPL_EXPORT CMPIData invokeMethodImpl(const CMPIBroker *broker, const CMPIContext *context,
                                      CMPIStatus *status, const CMPIObjectPath *path,
                                      const char *methodName, const CMPIArgs *in, CMPIArgs *out) {
  CMPIData rv{};
  rv.type = CMPI_uint32;
  rv.state = CMPI_goodValue;
  rv.value.uint32 = 0;
  cEdge(broker, status, 0, [&] {
    if (methodName == nullptr || strCompare(methodName, "CreateSetting") != 0) {
      raise(broker, status, CMPI_RC_ERR_METHOD_NOT_FOUND,
            std::string("No method ") + (methodName != nullptr ? methodName : ""));
      return 0;
    }
    CMPIData type = CMGetArg(in, "SettingType", nullptr);
    if (type.type != CMPI_uint16 || (type.state & CMPI_nullValue) != 0 ||
        (type.value.uint16 != kSettingDefault && type.value.uint16 != kSettingGoal)) {
      raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, "SettingType must be 2 or 3");
      return 0;
    }
    Id id;
    if (!splitId(broker, status, path, &id)) return 0;
    CmpiObject<CMPIObjectPath> pool(
        newPath(broker, status, path, kPoolClass, id.systemId, id.local));
    if (!pool) return 0;
    const ConcretePoolSetting *row = rowOfPool(broker, context, status, pool.get(), nullptr, &id);
    if (row == nullptr) return 0;
    CmpiObject<CMPIObjectPath> setting(
        newPath(broker, status, path, kSettingClass, id.systemId, id.local + ":" + row->name));
    if (!setting) return 0;
    CMPIValue value;
    value.ref = setting.get();
    CMPIStatus added = CMAddArg(out, "NewSetting", &value, CMPI_ref);
    if (added.rc != CMPI_RC_OK) raise(broker, status, added.rc, "Unable to return NewSetting");
    return 0;
  });
  if (failed(status)) rv.value.uint32 = 4;  // Failed
  return rv;
}

// The instance provider of KELVA_StorageSetting, so that a setting's path reads back.
extern "C" __attribute__((visibility("default"))) CMPIInstanceMI *poolcapsprv_Create_InstanceMI(
    const CMPIBroker *broker, const CMPIContext *, CMPIStatus *rc) {
  settingBroker = broker;
  if (rc != nullptr) *rc = ok();
  return &settingMI;
}
