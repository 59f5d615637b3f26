// KELVA_VolumeAllocatedFromPool between a concrete pool and the LUNs allocated
// from it: from a pool, the LUNs of its volumes (a traditional volume's own
// LUNs); from a LUN, the pool of its volume.  The source's class decides the
// direction; a source of another filer than the one given has nothing at the
// other end.
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>

#include <set>

#include "blockelements.h"

using namespace implib;

namespace {

enum class End { Pool, Volume, Neither };

bool isA(const CMPIBroker *broker, const CMPIObjectPath *source, const char *className) {
  CMPIStatus probe{CMPI_RC_OK, nullptr};
  bool is = classIsA(&probe, broker, source, className) == 1;
  clearCMPIError(broker, &probe);
  return is;
}

// The source's filer: the one given (when the source names it), or the registered
// one the source names when none was given; null when the source has nothing on it.
const Filer *filerOf(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *source, const Filer *given, End end, FilerCopy &found) {
  if (end == End::Volume) {
    if (given != nullptr)
      return keyNamesFiler(broker, source, "SystemName", given) ? given : nullptr;
    found = filerOfKey(broker, context, status, source, "SystemName");
    return found.get();
  }
  std::string pool;
  found = filerOfInstanceId(broker, context, status, source, &pool);
  if (found == nullptr || given == nullptr) return found.get();
  return strCompare(found->systemId, given->systemId) == 0 ? given : nullptr;
}

// The names of the volumes in the pool (a traditional volume is its own).
std::set<std::string> volumesOfPool(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, const char *pool) {
  std::set<std::string> names;
  List volumes = newList(freeVolume);
  Record record;
  if (getVolumeInfo(record.get(), filer, nullptr, nullptr, pool, WSI_VOLUME_KINDS_ALL, 0,
                    volumes.get()) == 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return names;
  }
  for (WSIListPos *at = WSIList_getFirst(volumes.get()); at != nullptr; at = WSIList_getNext(at)) {
    const auto *volume = static_cast<const KELVAVolume *>(WSIList_getElement(at));
    if (volume->name != nullptr) names.insert(volume->name);
  }
  return names;
}

// The LUNs allocated from the pool the source names.
std::vector<LunRecord> lunsOfPool(const CMPIBroker *broker, const CMPIContext *context,
                                  CMPIStatus *status, const CMPIObjectPath *source,
                                  const Filer *filer) {
  std::vector<LunRecord> luns;
  FilerCopy registered;
  Aggregate pool = poolOfPath(broker, context, status, source, &registered);
  if (pool == nullptr) return luns;
  std::set<std::string> volumes = volumesOfPool(broker, status, filer, pool->name);
  for (LunRecord &lun : lunsOf(broker, status, filer)) {
    if (lun->volumeName != nullptr && volumes.count(lun->volumeName) != 0)
      luns.push_back(std::move(lun));
  }
  return luns;
}

// The pool the LUN the source names is allocated from.
Aggregate poolOfVolume(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *source,
                       const Filer *filer) {
  LunRecord lun = lunOfPath(broker, status, filer, source);
  if (lun == nullptr) return nullptr;
  List volumes = newList(freeVolume);
  Record record;
  if (getVolumeInfo(record.get(), filer, nullptr, lun->volumeName, nullptr, WSI_VOLUME_KINDS_ALL, 0,
                    volumes.get()) == 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  const auto *volume =
      static_cast<const KELVAVolume *>(WSIList_getFirstElement(volumes.get(), nullptr, nullptr));
  if (volume == nullptr || volume->aggregateName == nullptr) return nullptr;
  std::vector<Aggregate> pools = aggregatesOf(broker, status, filer, volume->aggregateName);
  if (pools.empty()) return nullptr;
  return std::move(pools.front());
}

template <typename T, typename MakePool, typename MakeVolume>
CMPIArray *otherEnd(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                    const CMPIObjectPath *source, const Filer *given, MakePool makePool,
                    MakeVolume makeVolume) {
  End end = isA(broker, source, kPoolClass)     ? End::Pool
            : isA(broker, source, kVolumeClass) ? End::Volume
                                                : End::Neither;
  std::vector<CmpiObject<T>> items;
  FilerCopy found;
  const Filer *filer =
      end == End::Neither ? nullptr : filerOf(broker, context, status, source, given, end, found);
  if (failed(status)) return nullptr;
  if (filer != nullptr && end == End::Pool) {
    return arrayOfEach<T>(broker, status, lunsOfPool(broker, context, status, source, filer),
                          [&](const LunRecord &lun) { return makeVolume(filer, lun.get()); });
  }
  if (filer != nullptr && end == End::Volume) {
    Aggregate pool = poolOfVolume(broker, status, source, filer);
    if (pool != nullptr) items.emplace_back(makePool(filer, pool.get()));
  }
  if (failed(status)) return nullptr;
  return arrayOf(broker, status, items);
}

CMPIArray *paths(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                 const CMPIObjectPath *source, const Filer *filer) {
  return otherEnd<CMPIObjectPath>(
      broker, context, status, source, filer,
      [&](const Filer *f, const KELVAAggregate *aggr) {
        return poolPath(broker, status, source, f, aggr);
      },
      [&](const Filer *f, const KELVALun *lun) {
        return volumePath(broker, status, source, f, lun);
      });
}

CMPIArray *instances(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *source, const Filer *filer, const char **propertyList) {
  return otherEnd<CMPIInstance>(
      broker, context, status, source, filer,
      [&](const Filer *f, const KELVAAggregate *aggr) {
        return poolInstance(broker, status, source, f, aggr, propertyList);
      },
      [&](const Filer *f, const KELVALun *lun) {
        return volumeInstance(broker, status, source, f, lun, propertyList);
      });
}

}  // namespace

ASSOCIATOR_LIBRARY(paths, instances)
