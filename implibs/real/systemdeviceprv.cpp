// KELVA_SystemDevice between a storage system and its volumes: from a system,
// the paths (or instances) of its volumes; from a volume, its system's.  The
// source's class decides the direction; a source whose system is not the given
// filer's has nothing at the other end.
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>

#include "storageobjects.h"

using namespace implib;

namespace {

enum class End { System, Volume, Neither };

End endOf(const CMPIBroker *broker, const CMPIObjectPath *source, const Filer *filer) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  End end = End::Neither;
  if (classIsA(&status, broker, source, kSystemClass) == 1) {
    end = keyNamesFiler(broker, source, "Name", filer) ? End::System : End::Neither;
  } else if (classIsA(&status, broker, source, kVolumeClass) == 1) {
    end = keyNamesFiler(broker, source, "SystemName", filer) ? End::Volume : End::Neither;
  }
  clearCMPIError(broker, &status);
  return end;
}

// The filer given, or the one the source names when none was given.
const Filer *filerFor(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                      const CMPIObjectPath *source, const Filer *given, FilerCopy &found) {
  if (given != nullptr) return given;
  CMPIStatus probe{CMPI_RC_OK, nullptr};
  bool isSystem = classIsA(&probe, broker, source, kSystemClass) == 1;
  clearCMPIError(broker, &probe);
  found = filerOfKey(broker, context, status, source, isSystem ? "Name" : "SystemName");
  return found.get();
}

// From a system, what makeVolume makes of each of its LUNs; from a volume, what
// makeSystem makes of its filer.
template <typename T, typename MakeSystem, typename MakeVolume>
CMPIArray *otherEnd(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                    const CMPIObjectPath *source, const Filer *filer, MakeSystem makeSystem,
                    MakeVolume makeVolume) {
  FilerCopy found;
  const Filer *owner = filerFor(broker, context, status, source, filer, found);
  if (owner == nullptr) return nullptr;
  std::vector<CmpiObject<T>> items;
  switch (endOf(broker, source, owner)) {
    case End::System:
      return arrayOfEach<T>(broker, status, lunsOf(broker, status, owner),
                            [&](const LunRecord &lun) { return makeVolume(owner, lun.get()); });
    case End::Volume:
      items.emplace_back(makeSystem(owner));
      break;
    case End::Neither:
      break;
  }
  return arrayOf(broker, status, items);
}

CMPIArray *paths(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                 const CMPIObjectPath *source, const Filer *filer) {
  return otherEnd<CMPIObjectPath>(
      broker, context, status, source, filer,
      [&](const Filer *owner) { return systemPath(broker, status, source, owner); },
      [&](const Filer *owner, const KELVALun *lun) {
        return volumePath(broker, status, source, owner, lun);
      });
}

CMPIArray *instances(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *source, const Filer *filer, const char **propertyList) {
  return otherEnd<CMPIInstance>(
      broker, context, status, source, filer,
      [&](const Filer *owner) {
        return systemInstance(broker, status, source, owner, propertyList);
      },
      [&](const Filer *owner, const KELVALun *lun) {
        return volumeInstance(broker, status, source, owner, lun, propertyList);
      });
}

}  // namespace

ASSOCIATOR_LIBRARY(paths, instances)
