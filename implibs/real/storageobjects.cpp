// Object paths and instances of the storage system and its volumes, made from
// the registered filer and the LUN records of the controller library's cache.
#include "storageobjects.h"

#include <cmpimacs.h>
#include <provkit/arrays.h>
#include <provkit/commonimpl.h>
#include <provkit/endpoints.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <provkit/registry.h>
#include <provkit/storagesystem.h>

#include <cstdint>
#include <new>

namespace implib {

namespace {

// Values of CIM_ManagedSystemElement.OperationalStatus.
constexpr CMPIUint16 kStatusOK = 2;
constexpr CMPIUint16 kStatusStopped = 10;
// CIM_EnabledLogicalElement.EnabledState.
constexpr CMPIUint16 kEnabled = 2;
constexpr CMPIUint16 kDisabled = 3;
// Volumes are presented in blocks of this many bytes.
constexpr CMPIUint64 kBlockSize = 512;

struct StorageSystemFree {
  void operator()(KELVAStorageSystem *system) const { freeKELVAStorageSystem(system); }
};

void adopt(const CMPIBroker *broker, CMPIStatus *status, CMPIStatus result, const char *what) {
  if (result.rc == CMPI_RC_OK) return;
  std::string message = what;
  if (result.msg != nullptr) {
    const char *text = CMGetCharsPtr(result.msg, nullptr);
    if (text != nullptr) message.append(": ").append(text);
  }
  raise(broker, status, result.rc, message);
}

void setText(const CMPIBroker *broker, CMPIStatus *status, CMPIInstance *instance, const char *name,
             const char *value) {
  if (failed(status) || value == nullptr) return;
  adopt(broker, status, CMSetProperty(instance, name, value, CMPI_chars), name);
}

void setKey(const CMPIBroker *broker, CMPIStatus *status, CMPIObjectPath *path, const char *name,
            const char *value) {
  if (failed(status)) return;
  adopt(broker, status, CMAddKey(path, name, value, CMPI_chars), name);
}

template <typename T>
void setNumber(const CMPIBroker *broker, CMPIStatus *status, CMPIInstance *instance,
               const char *name, T value, CMPIType type) {
  if (failed(status)) return;
  adopt(broker, status, CMSetProperty(instance, name, &value, type), name);
}

void setUint16Array(const CMPIBroker *broker, CMPIStatus *status, CMPIInstance *instance,
                    const char *name, std::initializer_list<CMPIUint16> values) {
  if (failed(status)) return;
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIArray> array(
      CMNewArray(broker, static_cast<CMPICount>(values.size()), CMPI_uint16, &rc));
  if (!array) {
    adopt(broker, status, rc.rc != CMPI_RC_OK ? rc : CMPIStatus{CMPI_RC_ERR_FAILED, nullptr}, name);
    return;
  }
  CMPICount index = 0;
  for (CMPIUint16 value : values) {
    adopt(broker, status, CMSetArrayElementAt(array.get(), index++, &value, CMPI_uint16), name);
    if (failed(status)) return;
  }
  CMPIArray *held = array.get();
  adopt(broker, status, CMSetProperty(instance, name, &held, CMPI_uint16A), name);
}

template <typename T>
CMPIArray *arrayOfObjects(const CMPIBroker *broker, CMPIStatus *status,
                          std::vector<CmpiObject<T>> &items, CMPIType type) {
  if (failed(status)) return nullptr;
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIArray> array(CMNewArray(broker, static_cast<CMPICount>(items.size()), type, &rc));
  if (!array) {
    adopt(broker, status, rc.rc != CMPI_RC_OK ? rc : CMPIStatus{CMPI_RC_ERR_FAILED, nullptr},
          "Unable to create an array");
    return nullptr;
  }
  // An object manager may keep the very object set into an element: then it goes
  // with the array from then on and is released by whoever frees it
  // (freeCMPIArray).  One that stores a copy leaves ours to us, released here.
  CMPICount index = 0;
  for (auto &item : items) {
    T *object = item.get();
    CMPICount at = index++;
    adopt(broker, status, CMSetArrayElementAt(array.get(), at, &object, type),
          "Unable to fill an array");
    if (failed(status)) {
      freeCMPIArray(array.release());
      return nullptr;
    }
    CMPIData stored = CMGetArrayElementAt(array.get(), at, nullptr);
    if (stored.value.inst == static_cast<void *>(object)) item.release();
  }
  return array.release();
}

}  // namespace

void raise(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc, const std::string &message) {
  raiseCMPIError(broker, status, rc, message.c_str());
}

CMPIArray *arrayOf(const CMPIBroker *broker, CMPIStatus *status,
                   std::vector<CmpiObject<CMPIInstance>> &items) {
  return arrayOfObjects(broker, status, items, CMPI_instance);
}
CMPIArray *arrayOf(const CMPIBroker *broker, CMPIStatus *status,
                   std::vector<CmpiObject<CMPIObjectPath>> &items) {
  return arrayOfObjects(broker, status, items, CMPI_ref);
}

// ---- Filers ------------------------------------------------------------------------

FilerCopy filerOfKey(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *path, const char *keyName) {
  WsiText name(getKeyAsChar(status, path, keyName));
  if (failed(status)) return nullptr;
  if (name == nullptr) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, std::string("Missing key ") + keyName);
    return nullptr;
  }
  char *systemId = nullptr;
  decodeSystemName(broker, status, name.get(), &systemId);
  if (failed(status)) return nullptr;
  return FilerCopy(getFilerByName(status, broker, context, path, systemId));
}

bool keyNamesFiler(const CMPIBroker *broker, const CMPIObjectPath *path, const char *keyName,
                   const Filer *filer) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  WsiText name(getKeyAsChar(&status, path, keyName));
  clearCMPIError(broker, &status);
  if (name == nullptr) return false;
  char *systemId = nullptr;
  decodeSystemName(broker, &status, name.get(), &systemId);
  bool same = !failed(&status) && systemId != nullptr && filer->systemId != nullptr &&
              strCompare(systemId, filer->systemId) == 0;
  clearCMPIError(broker, &status);
  return same;
}

// ---- LUNs ----------------------------------------------------------------------------

std::vector<LunRecord> lunsOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  std::vector<LunRecord> luns;
  if (failed(status)) return luns;
  Record record;
  WSIList *list = WSIList_new();
  if (list == nullptr) throw std::bad_alloc();
  if (getLunInfo(record.get(), filer, nullptr, nullptr, nullptr, 0, nullptr, list) == 0) {
    freeLunInfo(list);
    raiseCMPIErrorKELVA(broker, status, record.get());
    return luns;
  }
  luns = takeAll<LunRecord>(list);
  freeLunInfo(list);
  return luns;
}

LunRecord lunOfPath(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                    const CMPIObjectPath *path) {
  WsiText serial(getKeyAsChar(status, path, "DeviceID"));
  if (failed(status)) return nullptr;
  Record record;
  WsiText lunPath(serial != nullptr ? getLunPathBySerialNumber(record.get(), filer, serial.get())
                                    : nullptr);
  if (record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  LunRecord lun;
  if (lunPath != nullptr) {
    WSIList *list = WSIList_new();
    if (list == nullptr) throw std::bad_alloc();
    if (getLunInfo(record.get(), filer, lunPath.get(), nullptr, nullptr, 0, nullptr, list) == 0) {
      freeLunInfo(list);
      raiseCMPIErrorKELVA(broker, status, record.get());
      return nullptr;
    }
    if (!WSIList_isEmpty(list)) {
      lun.reset(static_cast<KELVALun *>(
          WSIList_remove(list, WSIList_getFirstElement(list, nullptr, nullptr))));
    }
    freeLunInfo(list);
  }
  if (lun == nullptr) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
          std::string(kVolumeClass) + " not found: no LUN with serial number " +
              (serial != nullptr ? serial.get() : ""));
  }
  return lun;
}

// ---- Paths and instances ---------------------------------------------------------

CMPIObjectPath *systemPath(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, kSystemClass));
  setKey(broker, status, path.get(), "CreationClassName", kSystemClass);
  setSystemName(broker, status, filer, "Name", path.get());
  return failed(status) ? nullptr : path.release();
}

CMPIInstance *systemInstance(const CMPIBroker *broker, CMPIStatus *status,
                             const CMPIObjectPath *source, const Filer *filer,
                             const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(systemPath(broker, status, source, filer));
  if (failed(status)) return nullptr;
  // provkit's snapshot: the operational status from the takeover state (12 while the
  // filer does not answer), the health from its traps or its cache.  The early check
  // would ask the takeover state a second time, and a filer that is off line is
  // reported as it is rather than waited for.
  std::unique_ptr<KELVAStorageSystem, StorageSystemFree> system(
      getKELVAStorageSystem(broker, status, filer, 1, 0, 0));
  if (system != nullptr && failed(status)) {
    // The snapshot was made but the filer's cache could not give its health (left 0,
    // unknown), as when the filer has not answered since the process started: it is
    // still the system, out of contact.
    std::string why =
        std::string(kSystemClass) + " " + (filer->systemId ? filer->systemId : "") +
        ": health unknown: " + (status->msg != nullptr ? CMGetCharPtr(status->msg) : "");
    CMLogMessage(broker, 3, "arraysysprv", why.c_str(), nullptr);
    clearCMPIError(broker, status);
  }
  if (failed(status)) return nullptr;
  if (system == nullptr || system->sysInfo == nullptr) {
    raise(broker, status, CMPI_RC_ERR_FAILED,
          std::string(kSystemClass) + " has no state of " + (filer->host ? filer->host : ""));
    return nullptr;
  }
  const KELVASysInfo *info = system->sysInfo;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  CMPIInstance *inst = instance.get();
  WsiText name(encodeSystemName(broker, status, filer));
  setText(broker, status, inst, "CreationClassName", kSystemClass);
  setText(broker, status, inst, "Name", name.get());
  setText(broker, status, inst, "NameFormat", "Other");
  bool online = info->online != 0;
  const char *elementName =
      online && info->systemName != nullptr ? info->systemName : filer->systemId;
  setText(broker, status, inst, "ElementName", elementName);
  setText(broker, status, inst, "Caption", elementName);
  setText(broker, status, inst, "Description", "KELVA storage system");
  setUint16Array(broker, status, inst, "OperationalStatus", {system->operationalStatus});
  setNumber(broker, status, inst, "HealthState", system->healthState, CMPI_uint16);
  if (!failed(status)) setDedicated(broker, inst, status);
  if (online) {
    setText(broker, status, inst, "Vendor", info->vendor);
    setText(broker, status, inst, "Model", info->model);
    setText(broker, status, inst, "SerialNumber", info->serialNumber);
    setText(broker, status, inst, "VersionString", info->osVersion);
  }
  // The identifying information asks the filer (SNMP), DNS and the filer again, so
  // only when it is wanted.  Without it the system is still the system: what could
  // not be gathered is logged and left out.
  if (!failed(status) && isPropertyPresent(propertyList, "OtherIdentifyingInfo") != 0) {
    CMPIStatus identified{CMPI_RC_OK, nullptr};
    setOtherIdentifyingInfo(broker, filer, inst, &identified);
    if (failed(&identified)) {
      std::string why = std::string(kSystemClass) + " " + (filer->systemId ? filer->systemId : "") +
                        ": no identifying information: " +
                        (identified.msg != nullptr ? CMGetCharPtr(identified.msg) : "");
      CMLogMessage(broker, 3, "arraysysprv", why.c_str(), nullptr);
      clearCMPIError(broker, &identified);
    }
  }
  return failed(status) ? nullptr : instance.release();
}

CMPIObjectPath *volumePath(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer, const KELVALun *lun) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, kVolumeClass));
  setKey(broker, status, path.get(), "SystemCreationClassName", kSystemClass);
  setSystemName(broker, status, filer, "SystemName", path.get());
  setKey(broker, status, path.get(), "CreationClassName", kVolumeClass);
  WsiText deviceId(getStorageVolumeEncodedDeviceID(broker, status, lun->serialNumber));
  setKey(broker, status, path.get(), "DeviceID", deviceId.get());
  return failed(status) ? nullptr : path.release();
}

CMPIInstance *volumeInstance(const CMPIBroker *broker, CMPIStatus *status,
                             const CMPIObjectPath *source, const Filer *filer, const KELVALun *lun,
                             const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(volumePath(broker, status, source, filer, lun));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  CMPIInstance *inst = instance.get();
  WsiText systemName(encodeSystemName(broker, status, filer));
  WsiText deviceId(getStorageVolumeEncodedDeviceID(broker, status, lun->serialNumber));
  WsiText name(getStorgeVolumeName(broker, lun, status));
  setText(broker, status, inst, "SystemCreationClassName", kSystemClass);
  setText(broker, status, inst, "SystemName", systemName.get());
  setText(broker, status, inst, "CreationClassName", kVolumeClass);
  setText(broker, status, inst, "DeviceID", deviceId.get());
  setText(broker, status, inst, "Name", name.get());
  setText(broker, status, inst, "ElementName", lun->path);
  setText(broker, status, inst, "Description", lun->comment != nullptr ? lun->comment : "");
  setNumber(broker, status, inst, "BlockSize", kBlockSize, CMPI_uint64);
  CMPIUint64 blocks = lun->size / kBlockSize;
  setNumber(broker, status, inst, "NumberOfBlocks", blocks, CMPI_uint64);
  setNumber(broker, status, inst, "ConsumableBlocks", blocks, CMPI_uint64);
  bool online = lun->online != 0;
  setUint16Array(broker, status, inst, "OperationalStatus", {online ? kStatusOK : kStatusStopped});
  setNumber(broker, status, inst, "EnabledState", online ? kEnabled : kDisabled, CMPI_uint16);
  setText(broker, status, inst, "OSType", lun->osType);
  CMPIBoolean mapped = lun->mapped != 0 ? 1 : 0;
  setNumber(broker, status, inst, "IsMapped", mapped, CMPI_boolean);
  return failed(status) ? nullptr : instance.release();
}

}  // namespace implib
