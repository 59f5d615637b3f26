// What the storage system, storage volume and system-device libraries share:
// owners of what the controller library and CMPI hand out, the C edge, and the
// object paths and instances of KELVA_StorageSystem and KELVA_StorageVolume.
//
// Every function that takes a CMPI status raises its failures into it and
// returns null (or nothing) then; objects returned are new and owned by the
// caller (CmpiObject releases them).
#pragma once

#include <cmpidt.h>
#include <cmpift.h>
#include <provkit/frame.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "common/edge.h"
#include "common/owners.h"

#include <utility>
#include <memory>
#include <string>
#include <vector>

// The implementation libraries export plain C names, the ones the loader binds.
#define IMPL_EXPORT extern "C" __attribute__((visibility("default")))

// The four instance functions of a library whose class cls is served by
// instances(cls, broker, status, source, filer, propertyList),
// paths(cls, broker, status, source, filer),
// instance(cls, broker, context, status, path, propertyList) and
// exists(cls, broker, context, path, filerOut).
#define INSTANCE_LIBRARY(cls, instances, paths, instance, exists)                                 \
  IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *,         \
                                           CMPIStatus *status, const CMPIObjectPath *path,        \
                                           const Filer *filer, const char **propertyList) {       \
    return instances(cls, broker, status, path, filer, propertyList);                             \
  }                                                                                               \
  IMPL_EXPORT CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *,         \
                                           CMPIStatus *status, const CMPIObjectPath *path,        \
                                           const Filer *filer) {                                  \
    return paths(cls, broker, status, path, filer);                                               \
  }                                                                                               \
  IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context, \
                                            CMPIStatus *status, const CMPIObjectPath *path,       \
                                            const char **propertyList) {                          \
    return instance(cls, broker, context, status, path, propertyList);                            \
  }                                                                                               \
  IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,                \
                             const CMPIObjectPath *path, Filer **filerOut) {                      \
    return exists(cls, broker, context, path, filerOut);                                          \
  }

// enumInstNamesImpl of a library with one instance per record of a filer:
// records(broker, status, filer) lists them (a vector of owners) and
// pathOf(broker, status, source, filer, record) makes the path of each.
#define RECORD_PATHS(records, pathOf)                                                             \
  IMPL_EXPORT CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *,         \
                                           CMPIStatus *status, const CMPIObjectPath *path,        \
                                           const Filer *filer) {                                  \
    return implib::cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {             \
      return implib::arrayOfEach<CMPIObjectPath>(                                                 \
          broker, status, records(broker, status, filer),                                         \
          [&](const auto &record) { return pathOf(broker, status, path, filer, record.get()); }); \
    });                                                                                           \
  }

// enumInstancesImpl of such a library, with
// instanceOf(broker, status, source, filer, record, propertyList).
#define RECORD_INSTANCES(records, instanceOf)                                               \
  IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *,   \
                                           CMPIStatus *status, const CMPIObjectPath *path,  \
                                           const Filer *filer, const char **propertyList) { \
    return implib::cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {       \
      return implib::arrayOfEach<CMPIInstance>(                                             \
          broker, status, records(broker, status, filer), [&](const auto &record) {         \
            return instanceOf(broker, status, path, filer, record.get(), propertyList);     \
          });                                                                               \
    });                                                                                     \
  }

// The two exported functions of an association library over the library's own
// paths(broker, context, status, source, filer) and instances(..., propertyList),
// which answer the other end of source as a new array.  The endpoint records
// first and second are not used by these libraries.
#define ASSOCIATOR_LIBRARY(paths, instances)                                          \
  IMPL_EXPORT CMPIArray *getAssociatorPathImpl(                                       \
      const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,       \
      const CMPIObjectPath *source, const Filer *filer, const void *, const void *) { \
    return implib::cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * { \
      return paths(broker, context, status, source, filer);                           \
    });                                                                               \
  }                                                                                   \
  IMPL_EXPORT CMPIArray *getAssociatorInstanceImpl(                                   \
      const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,       \
      const CMPIObjectPath *source, const Filer *filer, const void *, const void *,   \
      const char **propertyList) {                                                    \
    return implib::cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * { \
      return instances(broker, context, status, source, filer, propertyList);         \
    });                                                                               \
  }

namespace implib {

inline constexpr const char *kSystemClass = "KELVA_StorageSystem";
inline constexpr const char *kVolumeClass = "KELVA_StorageVolume";
inline constexpr const char *kSystemDeviceClass = "KELVA_SystemDevice";

// The shared owners and C edge of the project's kits.
using Record = kitcommon::StatusRecord;
using kitcommon::CmpiObject;
using kitcommon::WsiFree;
using kitcommon::WsiText;
using FilerCopy = kitcommon::FilerRecord;
struct LunFree {
  void operator()(KELVALun *lun) const { freeLun(lun); }
};
using LunRecord = std::unique_ptr<KELVALun, LunFree>;
// A request or an answer of the controller library.
struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
using Element = std::unique_ptr<WSIElement, ElementFree>;
// A connection to a filer.
struct ServerFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
using Server = std::unique_ptr<WSIServerInfo, ServerFree>;

inline bool failed(const CMPIStatus *status) { return status->rc != CMPI_RC_OK; }

// Raises rc with the message (logged by provkit's frame).
void raise(const CMPIBroker *broker, CMPIStatus *status, CMPIrc rc, const std::string &message);

// Runs an exported body: an exception that escapes it (out of memory) becomes a
// failure in status and the fallback result, so nothing is thrown through C.
template <typename R, typename F>
R cEdge(const CMPIBroker *broker, CMPIStatus *status, R fallback, F &&body) noexcept {
  return kitcommon::cEdge(fallback, std::forward<F>(body), [&](const char *why) noexcept {
    if (status != nullptr) raise(broker, status, CMPI_RC_ERR_FAILED, why);
  });
}

// Takes every element out of the list, in its order, each into an owner of its
// own (a unique_ptr whose deleter frees the element); the list is left empty.
template <typename Owner>
std::vector<Owner> takeAll(WSIList *list) {
  std::vector<Owner> owners;
  while (!WSIList_isEmpty(list)) {
    Owner owner(static_cast<typename Owner::pointer>(
        WSIList_remove(list, WSIList_getFirstElement(list, nullptr, nullptr))));
    owners.push_back(std::move(owner));
  }
  return owners;
}

// ---- Filers ------------------------------------------------------------------

// The registered filer named by the system name ("KELVA:<systemId>") held in the
// path's key keyName; none is CMPI_RC_ERR_NOT_FOUND.
FilerCopy filerOfKey(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *path, const char *keyName);
// Whether the path's key keyName holds the system name of the filer.
bool keyNamesFiler(const CMPIBroker *broker, const CMPIObjectPath *path, const char *keyName,
                   const Filer *filer);

// ---- LUNs ------------------------------------------------------------------------

// Every LUN of the filer, in the filer's order.
std::vector<LunRecord> lunsOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer);
// The filer's LUN whose serial number is the path's DeviceID key; none is
// CMPI_RC_ERR_NOT_FOUND.
LunRecord lunOfPath(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                    const CMPIObjectPath *path);

// ---- Paths and instances -------------------------------------------------------

// KELVA_StorageSystem: CreationClassName, Name.
CMPIObjectPath *systemPath(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer);
// The filer's instance; a filer that does not answer is an instance that says so.
CMPIInstance *systemInstance(const CMPIBroker *broker, CMPIStatus *status,
                             const CMPIObjectPath *source, const Filer *filer,
                             const char **propertyList);
// KELVA_StorageVolume: SystemCreationClassName, SystemName, CreationClassName, DeviceID.
CMPIObjectPath *volumePath(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer, const KELVALun *lun);
CMPIInstance *volumeInstance(const CMPIBroker *broker, CMPIStatus *status,
                             const CMPIObjectPath *source, const Filer *filer, const KELVALun *lun,
                             const char **propertyList);

// New array of the instances (or paths), freed with freeCMPIArray: the items
// go with it (each CmpiObject is emptied); on failure nothing is returned.
CMPIArray *arrayOf(const CMPIBroker *broker, CMPIStatus *status,
                   std::vector<CmpiObject<CMPIInstance>> &items);
CMPIArray *arrayOf(const CMPIBroker *broker, CMPIStatus *status,
                   std::vector<CmpiObject<CMPIObjectPath>> &items);

// Appends what make gives for each record to items, in order; false at the first
// failure (make raises it into status).
template <typename T, typename Records, typename Make>
bool appendEach(std::vector<CmpiObject<T>> &items, const CMPIStatus *status, const Records &records,
                Make &&make) {
  for (const auto &record : records) {
    items.emplace_back(make(record));
    if (failed(status)) return false;
  }
  return true;
}

// New array (see arrayOf) of what make gives for each record, in order; the
// first failure ends it and nothing is returned.  A status that failed before
// (reading the records) returns nothing as well.
template <typename T, typename Records, typename Make>
CMPIArray *arrayOfEach(const CMPIBroker *broker, CMPIStatus *status, const Records &records,
                       Make &&make) {
  std::vector<CmpiObject<T>> items;
  if (!appendEach(items, status, records, std::forward<Make>(make))) return nullptr;
  return arrayOf(broker, status, items);
}

// What every existsImpl answers: 1 when find(status, filer) finds the object
// (true), with the filer record find kept handed to *filerOut (freeFiler); 0
// otherwise, the failure cleared.
template <typename Find>
int existsBy(const CMPIBroker *broker, Filer **filerOut, Find &&find) noexcept {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  int exists = cEdge<int>(broker, &status, 0, [&]() {
    FilerCopy filer;
    if (!find(&status, filer)) return 0;
    if (filerOut != nullptr) *filerOut = filer.release();
    return 1;
  });
  clearCMPIError(broker, &status);
  return exists;
}

}  // namespace implib
