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

}  // namespace implib
