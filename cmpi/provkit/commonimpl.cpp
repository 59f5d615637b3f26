// Key-value formats of the agent's storage objects, with their encoders and
// decoders.  Clients store object paths built from these texts, so encoders
// must stay byte-identical and decoders must take exactly what the encoders
// make.  Decoders split the caller's writable copy in place and hand back
// pointers into it.
#include "provkit/commonimpl.h"

#include <cmpimacs.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "guards.h"
#include "provkit/frame.h"
#include "provkit/properties.h"
#include "tokenizer.h"

namespace {

constexpr const char *kSystemPrefix = "KELVA";

constexpr const char *kVolumeNamePrefix = "TARVEN   LUN ";
// The serial number starts after the 13 characters of the prefix; names of
// 14 characters or fewer are refused as too short to hold one.
constexpr size_t kSerialOffset = 13;
constexpr size_t kShortestVolumeName = 14;
constexpr size_t kParentPathSize = 256;

using pk::fail;

struct LunListFree {
  void operator()(WSIList *list) const { freeLunInfo(list); }
};
using pk::WsiText;
using LunList = std::unique_ptr<WSIList, LunListFree>;

// Reads a key of op as a new text: false with the reason in status.
bool readKey(CMPIStatus *status, const CMPIObjectPath *op, const char *keyName, WsiText *out) {
  out->reset(getKeyAsChar(status, op, keyName));
  return !pk::failed(status);
}

// The path of the parent LUN of a clone, "/vol/<volume>/<lun>" from its
// backing-snapshot path, cut to the buffer; false when the backing path does
// not name both (a raised error stays in status).
bool parentPathOf(const CMPIBroker *broker, CMPIStatus *status, const char *backingPath,
                  char (&parent)[kParentPathSize]) {
  WsiText copy(wsistrdup(backingPath));
  if (!copy) {
    fail(broker, status, "Insufficient memory.");
    return false;
  }
  char *volume = nullptr;
  char *lunName = nullptr;
  getLunNameFromBackingSnapshot(broker, status, copy.get(), &volume, &lunName);
  if (pk::failed(status) || volume == nullptr || lunName == nullptr) return false;
  std::snprintf(parent, sizeof parent, "/vol/%s/%s", volume, lunName);
  return true;
}

// A new text of the local part of a controller-API InstanceID in key, or null
// with the controller's reason raised into status.
char *localPartOf(const CMPIBroker *broker, CMPIStatus *status, char *key) {
  pk::StatusRecord record;
  char *local = nullptr;
  if (!getFilerAndNameFromInstanceId(record.get(), key, nullptr, nullptr, &local) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  return local;
}

}  // namespace

extern "C" {

char *encodeSystemName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  const char *name = (filer != nullptr && filer->systemId != nullptr) ? filer->systemId : "";
  size_t size = std::strlen(name) + 7;  // "KELVA" ':' terminator
  auto *out = static_cast<char *>(wsicalloc(size, 1));
  if (out == nullptr) {
    fail(broker, status, "Insufficient memory");
    return nullptr;
  }
  std::snprintf(out, size, "%s:%s", kSystemPrefix, name);
  return out;
}

void decodeSystemName(const CMPIBroker *broker, CMPIStatus *status, char *name, char **systemOut) {
  pk::Tokenizer tokens(name);
  if (tokens.next(":") == nullptr) {
    fail(broker, status, "Failed to extract the prefix in Name");
    return;
  }
  char *system = tokens.rest();
  if (system == nullptr) {
    fail(broker, status, "Failed extract system name in Name");
    return;
  }
  *systemOut = system;
}

void setSystemName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                   const char *keyName, CMPIObjectPath *op) {
  pk::StatusSlot st(status);
  WsiText systemName(encodeSystemName(broker, st.get(), filer));
  if (st.ok() && systemName && op != nullptr)
    pk::adoptStatus(st.get(), CMAddKey(op, keyName, systemName.get(), CMPI_chars));
}

char *getStorageVolumeEncodedDeviceID(const CMPIBroker *broker, CMPIStatus *status,
                                      const char *serialNumber) {
  char *copy = wsistrdup(serialNumber);
  if (copy == nullptr)
    fail(broker, status, "KELVA_StorageVolume Unable to allocate deviceID memory");
  return copy;
}

void decodeStorageVolumeDeviceID(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                                 char *deviceID, char **lunPathOut, char **serialOut) {
  // The DeviceID is the serial number itself.
  if (serialOut != nullptr) *serialOut = deviceID;
  if (deviceID == nullptr) {
    fail(broker, status, "could not get LUN serial number");
    return;
  }
  pk::StatusRecord record;
  char *lunPath = getLunPathBySerialNumber(record.get(), filer, deviceID);
  if (record.failed()) {
    wsifree(lunPath);
    raiseCMPIErrorKELVA(broker, status, record.get());
    return;
  }
  if (lunPath == nullptr) {
    fail(broker, status, "could not get lunpath");
    return;
  }
  if (lunPathOut != nullptr)
    *lunPathOut = lunPath;
  else
    wsifree(lunPath);
}

char *getLunPath(const CMPIBroker *broker, const Filer *filer, const CMPIObjectPath *op,
                 CMPIStatus *status) {
  pk::StatusSlot st(status);
  WsiText deviceID;
  if (!readKey(st.get(), op, "DeviceID", &deviceID)) return nullptr;
  char *lunPath = nullptr;
  char *serial = nullptr;
  decodeStorageVolumeDeviceID(broker, filer, st.get(), deviceID.get(), &lunPath, &serial);
  if (!st.ok()) {
    wsifree(lunPath);
    return nullptr;
  }
  return lunPath;
}

char *getStorgeVolumeName(const CMPIBroker *broker, const KELVALun *lun, CMPIStatus *status) {
  if (lun == nullptr) return nullptr;
  char *name = newDelimitedStringCat(kVolumeNamePrefix, lun->serialNumber, nullptr);
  if (name == nullptr) fail(broker, status, "Insufficient memory");
  return name;
}

char *getLUNPathByStorageVolumeName(const CMPIBroker *broker, const Filer *filer, const char *name,
                                    CMPIStatus *status) {
  if (name == nullptr) return nullptr;
  if (std::strlen(name) <= kShortestVolumeName) {
    fail(broker, status, "KELVA_StorageVolume.Name is too short");
    return nullptr;
  }
  pk::StatusRecord record;
  char *lunPath = getLunPathBySerialNumber(record.get(), filer, name + kSerialOffset);
  if (record.failed()) {
    wsifree(lunPath);
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  return lunPath;
}

char *getLUNPathFromSerialNumber(const CMPIBroker *broker, const Filer *filer,
                                 const char *serialNumber, CMPIStatus *status) {
  pk::StatusSlot st(status);
  LunList luns(WSIList_new());
  if (!luns) {
    fail(broker, st.get(), "Insufficient memory.");
    return nullptr;
  }
  pk::StatusRecord record;
  if (!getLunInfo(record.get(), filer, nullptr, nullptr, nullptr, 0, nullptr, luns.get()) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, st.get(), record.get());
    return nullptr;
  }
  for (WSIListPos *at = WSIList_getFirst(luns.get()); at != nullptr && st.ok();
       at = WSIList_getNext(at)) {
    const auto *lun = static_cast<const KELVALun *>(WSIList_getElement(at));
    if (lun == nullptr || strCompare(lun->serialNumber, serialNumber) != 0) continue;
    char *path = wsistrdup(lun->path);
    if (path == nullptr) fail(broker, st.get(), "Insufficient memory.");
    return path;
  }
  return nullptr;
}

void decodeVolumeFromLUNPath(const CMPIBroker *broker, CMPIStatus *status, char *lunPath,
                             char **volumeOut) {
  if (lunPath == nullptr || lunPath[0] != '/') {
    fail(broker, status, "KELVA_StorageVolumeFailed to extract leading '/'");
    return;
  }
  pk::Tokenizer tokens(lunPath + 1);
  if (tokens.next("/") == nullptr) {
    fail(broker, status, "KELVA_StorageVolumeFailed to extract volume prefix");
    return;
  }
  char *volume = tokens.next("/");
  if (volume == nullptr) {
    fail(broker, status, "KELVA_StorageVolumeFailed to extract volume name");
    return;
  }
  *volumeOut = volume;
}

void decodeSnapshotDeviceID(const CMPIBroker *broker, CMPIStatus *status, char *deviceID,
                            char **volumeOut, char **snapshotOut) {
  pk::Tokenizer tokens(deviceID);
  char *volume = deviceID != nullptr ? tokens.next(":") : nullptr;
  if (volume == nullptr) {
    fail(broker, status, "could not get volume name");
    return;
  }
  *volumeOut = volume;
  char *snapshot = tokens.rest();
  if (snapshot == nullptr) {
    fail(broker, status, "could not get snapshot name");
    return;
  }
  *snapshotOut = snapshot;
}

void getLunNameFromBackingSnapshot(const CMPIBroker *broker, CMPIStatus *status, char *backingPath,
                                   char **volumeOut, char **lunNameOut) {
  if (backingPath == nullptr || backingPath[0] != '/') return;
  pk::Tokenizer tokens(backingPath + 1);
  if (tokens.next("/") == nullptr) {
    fail(broker, status, "Failed to extract volume prefix.");
    return;
  }
  char *volume = tokens.next("/");
  if (volume == nullptr) {
    fail(broker, status, "Failed to extract volume name.");
    return;
  }
  *volumeOut = volume;
  if (tokens.next("/") == nullptr) return;  // no snapshot part: a plain LUN path
  if (tokens.next("/") == nullptr) {
    fail(broker, status, "Failed to extract snapshot name.");
    return;
  }
  char *lunName = tokens.next("/");
  if (lunName == nullptr) {
    fail(broker, status, "Lun name is NULL.");
    return;
  }
  *lunNameOut = lunName;
}

int isParentLun(const CMPIBroker *broker, CMPIStatus *status, const char *parentPath,
                const KELVALun *lun) {
  if (lun == nullptr || lun->backingSnapshot == nullptr) return 0;
  pk::StatusSlot st(status);
  char parent[kParentPathSize];
  if (!parentPathOf(broker, st.get(), lun->backingSnapshot, parent)) return 0;
  return strCompare(parent, parentPath) == 0 ? 1 : 0;
}

void getParentStorageVolume(const CMPIBroker *broker, const Filer *filer, const char *lunPath,
                            WSIList *resultList, CMPIStatus *status) {
  if (lunPath == nullptr) return;
  pk::StatusSlot st(status);
  LunList luns(WSIList_new());
  if (!luns) {
    fail(broker, st.get(), "Insufficient memory");
    return;
  }
  pk::StatusRecord record;
  if (!getLunInfo(record.get(), filer, lunPath, nullptr, nullptr, 0, nullptr, luns.get()) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, st.get(), record.get());
    return;
  }
  const auto *clone =
      static_cast<const KELVALun *>(WSIList_getFirstElement(luns.get(), nullptr, nullptr));
  if (clone == nullptr || clone->backingSnapshot == nullptr) return;
  char parent[kParentPathSize];
  if (!parentPathOf(broker, st.get(), clone->backingSnapshot, parent)) return;

  luns.reset(WSIList_new());
  if (!luns) {
    fail(broker, st.get(), "Insufficient memory");
    return;
  }
  if (!getLunInfo(record.get(), filer, parent, nullptr, nullptr, 0, nullptr, luns.get()) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, st.get(), record.get());
    return;
  }
  WSIListPos *first = WSIList_getFirst(luns.get());
  if (first == nullptr) return;
  void *parentLun = WSIList_removeIter(&first);
  if (resultList == nullptr || !WSIList_append(resultList, parentLun)) {
    freeLun(parentLun);
    fail(broker, st.get(), "Insufficient memory");
  }
}

void getAllClonedStorageVolumes(const CMPIBroker *broker, const Filer *filer,
                                const char *parentPath, WSIList *resultList, CMPIStatus *status) {
  pk::StatusSlot st(status);
  LunList luns(WSIList_new());
  if (!luns) {
    fail(broker, st.get(), "Insufficient memory.");
    return;
  }
  pk::StatusRecord record;
  // Clones are found among fresh records: a clone made a moment ago must show.
  if (!getLunInfo(record.get(), filer, nullptr, nullptr, nullptr, 1, nullptr, luns.get()) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, st.get(), record.get());
    return;
  }
  for (WSIListPos *at = WSIList_getFirst(luns.get()); at != nullptr && st.ok();
       at = WSIList_getNext(at)) {
    const auto *lun = static_cast<const KELVALun *>(WSIList_getElement(at));
    bool taken = parentPath == nullptr || (lun != nullptr && lun->backingSnapshot != nullptr &&
                                           isParentLun(broker, st.get(), parentPath, lun));
    if (!taken) continue;
    void *moved = WSIList_removeIter(&at);
    if (resultList == nullptr || !WSIList_append(resultList, moved)) {
      freeLun(moved);
      fail(broker, st.get(), "Insufficient memory.");
    }
  }
}

char *getQTreeEncodedID(const CMPIBroker *broker, CMPIStatus *status, const char *volume,
                        int qtreeId) {
  if (volume == nullptr) {
    fail(broker, status, "QTreeInfo: Volume name is NULL");
    return nullptr;
  }
  size_t size = std::strlen(volume) + 12;  // ':' , up to 10 digits and a sign
  auto *out = static_cast<char *>(wsicalloc(size, 1));
  if (out == nullptr) {
    fail(broker, status, "QTreeInfo: Unable to allocate deviceID memory");
    return nullptr;
  }
  std::snprintf(out, size, "%s:%d", volume, qtreeId);
  return out;
}

void decodeQTreeID(const CMPIBroker *broker, CMPIStatus *status, char *id, char **volumeOut,
                   unsigned long *qtreeIdOut) {
  pk::Tokenizer tokens(id);
  char *volume = id != nullptr ? tokens.next(":") : nullptr;
  if (volume == nullptr) {
    fail(broker, status, "QTreeInfo: could not get volume name");
    return;
  }
  *volumeOut = volume;
  char *number = tokens.rest();
  unsigned long value = 0;
  if (number == nullptr || std::sscanf(number, "%lu", &value) != 1) {
    fail(broker, status, "QTreeInfo: could not get QTREE ID");
    return;
  }
  *qtreeIdOut = value;
}

char *encodeStatsID(const CMPIBroker *broker, CMPIStatus *status, const char *system,
                    const char *deviceId, const char *type) {
  WsiText local(newDelimitedStringCat(type, ":", deviceId));
  char *id = local ? encodeInstanceID(system, local.get()) : nullptr;
  if (id == nullptr) fail(broker, status, "encodeStatsID - insufficient memory");
  return id;
}

void decodeStatsID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                   char **systemOut1, char **systemOut2, char **deviceIdOut, char **typeOut) {
  char *local = nullptr;
  {
    pk::StatusRecord record;
    if (!getFilerAndNameFromInstanceId(record.get(), instanceID, systemOut1, systemOut2, &local) ||
        record.failed()) {
      raiseCMPIErrorKELVA(broker, status, record.get());
      return;
    }
  }
  pk::Tokenizer tokens(local);
  char *type = tokens.next(":");
  if (type == nullptr) {
    fail(broker, status, "Failed to locate Stats Device Type");
    return;
  }
  if (typeOut != nullptr) *typeOut = type;
  char *deviceId = tokens.rest();
  if (deviceId == nullptr) {
    fail(broker, status, "Failed to locate Stats Device ID");
    return;
  }
  if (deviceIdOut != nullptr) *deviceIdOut = deviceId;
}

char *getDevIDFromPath(const CMPIBroker *broker, const CMPIObjectPath *op, CMPIStatus *status) {
  pk::StatusSlot st(status);
  CMPIStatus keyStatus{CMPI_RC_OK, nullptr};
  WsiText key(getKeyAsChar(&keyStatus, op, "InstanceID"));
  if (keyStatus.rc == CMPI_RC_ERR_NO_SUCH_PROPERTY) {
    // A path without the key names no statistics object; that is no error.
    pk::adoptStatus(nullptr, keyStatus);
    return nullptr;
  }
  pk::adoptStatus(st.get(), keyStatus);
  if (!st.ok() || !key) return nullptr;
  char *deviceId = nullptr;
  decodeStatsID(broker, st.get(), key.get(), nullptr, nullptr, &deviceId, nullptr);
  return st.ok() && deviceId != nullptr ? wsistrdup(deviceId) : nullptr;
}

char *getNameFromPathDeviceID(const CMPIBroker *broker, const CMPIObjectPath *op,
                              CMPIStatus *status) {
  pk::StatusSlot st(status);
  WsiText key;
  if (!readKey(st.get(), op, "DeviceID", &key)) return nullptr;
  char *local = localPartOf(broker, st.get(), key.get());
  return local != nullptr ? wsistrdup(local) : nullptr;
}

char *getNameFromPathInstanceID(const CMPIBroker *broker, const CMPIObjectPath *op,
                                CMPIStatus *status) {
  pk::StatusSlot st(status);
  WsiText key;
  if (!readKey(st.get(), op, "InstanceID", &key)) return nullptr;
  char *local = localPartOf(broker, st.get(), key.get());
  return local != nullptr ? wsistrdup(local) : nullptr;
}

int getDiskTypeFromPath(const CMPIObjectPath *op, const CMPIBroker *broker, CMPIStatus *status) {
  pk::StatusSlot st(status);
  WsiText key;
  if (!readKey(st.get(), op, "InstanceID", &key)) return 0;
  const char *local = localPartOf(broker, st.get(), key.get());
  if (local == nullptr) return 0;
  // The tests run in this order: a state text may name more than one word.
  if (std::strstr(local, "Present") != nullptr) return 2;
  if (std::strstr(local, "Spare") != nullptr) return 1;
  if (std::strstr(local, "Other") != nullptr) return 3;
  fail(broker, st.get(), "Invalid Disk State");
  return 0;
}

char *getFilterFromStatsPath(const CMPIBroker *broker, const void * /*ignored*/, const Filer *filer,
                             CMPIStatus *status) {
  const char *name = (filer != nullptr && filer->systemId != nullptr) ? filer->systemId : "";
  size_t size = 2 * std::strlen(name) + 8;  // "KELVA:" ':' terminator
  auto *out = static_cast<char *>(wsicalloc(size, 1));
  if (out == nullptr) {
    fail(broker, status, "getFilter: Unable to create filter");
    return nullptr;
  }
  std::snprintf(out, size, "KELVA:%s:%s", name, name);
  return out;
}

}  // extern "C"
