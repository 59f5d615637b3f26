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

}  // namespace

IMPL_EXPORT CMPIArray *getAssociatorPathImpl(const CMPIBroker *broker, const CMPIContext *context,
                                             CMPIStatus *status, const CMPIObjectPath *source,
                                             const Filer *filer, const void *first,
                                             const void *second) {
  (void)first, (void)second;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    FilerCopy found;
    const Filer *owner = filerFor(broker, context, status, source, filer, found);
    if (owner == nullptr) return nullptr;
    std::vector<CmpiObject<CMPIObjectPath>> items;
    switch (endOf(broker, source, owner)) {
      case End::System:
        for (const LunRecord &lun : lunsOf(broker, status, owner)) {
          items.emplace_back(volumePath(broker, status, source, owner, lun.get()));
          if (failed(status)) return nullptr;
        }
        break;
      case End::Volume:
        items.emplace_back(systemPath(broker, status, source, owner));
        break;
      case End::Neither:
        break;
    }
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIArray *getAssociatorInstanceImpl(const CMPIBroker *broker,
                                                 const CMPIContext *context, CMPIStatus *status,
                                                 const CMPIObjectPath *source, const Filer *filer,
                                                 const void *first, const void *second,
                                                 const char **propertyList) {
  (void)first, (void)second;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    FilerCopy found;
    const Filer *owner = filerFor(broker, context, status, source, filer, found);
    if (owner == nullptr) return nullptr;
    std::vector<CmpiObject<CMPIInstance>> items;
    switch (endOf(broker, source, owner)) {
      case End::System:
        for (const LunRecord &lun : lunsOf(broker, status, owner)) {
          items.emplace_back(
              volumeInstance(broker, status, source, owner, lun.get(), propertyList));
          if (failed(status)) return nullptr;
        }
        break;
      case End::Volume:
        items.emplace_back(systemInstance(broker, status, source, owner, propertyList));
        break;
      case End::Neither:
        break;
    }
    return arrayOf(broker, status, items);
  });
}
