// KELVA_ConcretePool: one instance per aggregate (or traditional volume) of a
// filer, InstanceID "KELVA:<systemId>:<aggregate>", with the space it manages
// and the space its volumes (or a traditional volume's LUNs) leave free.
#include <cmpimacs.h>
#include <provkit/capacity.h>
#include <provkit/commoncaps.h>
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>

#include "blockelements.h"

using namespace implib;

namespace {

constexpr const char *kPoolClass = "KELVA_ConcretePool";

struct AggregateFree {
  void operator()(KELVAAggregate *aggr) const { freeAggregate(aggr); }
};
using Aggregate = std::unique_ptr<KELVAAggregate, AggregateFree>;

// The filer's aggregates and traditional volumes with their space figures; only
// the one named name when given.
std::vector<Aggregate> aggregatesOf(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, const char *name) {
  std::vector<Aggregate> aggrs;
  if (failed(status)) return aggrs;
  List list = newList(freeAggregate);
  Record record;
  if (getAggregateInfo(record.get(), filer, name, nullptr, 3, 0, list.get()) == 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return aggrs;
  }
  while (!WSIList_isEmpty(list.get())) {
    aggrs.emplace_back(static_cast<KELVAAggregate *>(
        WSIList_remove(list.get(), WSIList_getFirstElement(list.get(), nullptr, nullptr))));
  }
  return aggrs;
}

// What the pool's flexible volumes take of it, or a traditional volume's LUNs.  A
// volume that is off line cannot say what it takes; its size, approximated from
// the filer's command line, stands in (with a warning), so that one volume taken
// off line does not hide its pool.
CMPIUint64 consumedOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                      const KELVAAggregate *aggr) {
  Record record;
  CMPIUint64 bytes = 0;
  if (aggr->kind == 2) {
    bytes = getLUNTotalSpaceConsumed(filer, aggr->name, nullptr, record.get());
  } else {
    List volumes = newList(freeVolume);
    if (getVolumeInfo(record.get(), filer, nullptr, nullptr, aggr->name, WSI_VOLUME_KINDS_ALL, 0,
                      volumes.get()) != 0) {
      for (WSIListPos *at = WSIList_getFirst(volumes.get()); at != nullptr;
           at = WSIList_getNext(at)) {
        const auto *volume = static_cast<const KELVAVolume *>(WSIList_getElement(at));
        Record approximated;
        bytes += getVolumeTotalSpaceConsumed(broker, filer, volume, approximated.get());
        if (approximated.failed()) {
          std::string why = std::string(kPoolClass) + " " + aggr->name + ": volume " +
                            (volume->name != nullptr ? volume->name : "") +
                            " counted with its approximate size: " +
                            (approximated.message() != nullptr ? approximated.message() : "");
          CMLogMessage(broker, 3, "concretepoolprv", why.c_str(), nullptr);
        }
      }
    }
  }
  if (record.failed()) raiseCMPIErrorKELVA(broker, status, record.get());
  return bytes;
}

CMPIObjectPath *poolPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *source,
                         const Filer *filer, const KELVAAggregate *aggr) {
  return instanceIdPath(broker, status, source, kPoolClass, filer, aggr->name);
}

CMPIInstance *poolInstance(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer,
                           const KELVAAggregate *aggr, const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(poolPath(broker, status, source, filer, aggr));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  CMPIUint64 total = aggr->managedSpace;
  CMPIUint64 consumed = consumedOf(broker, status, filer, aggr);
  if (failed(status)) return nullptr;
  // The pool's RAID type as the volume status rule reads it.
  const char *raidType = aggr->hasRaidTW != 0  ? "raid_tw"
                         : aggr->hasRaid4 != 0 ? "raid4"
                         : aggr->hasRaid0 != 0 ? "raid0"
                                               : nullptr;
  List states = newList(wsifree);
  addVolumeOperationalStatusStates(broker, status, aggr->state, raidType, 1, states.get());
  CMPIData id = CMGetKey(path.get(), "InstanceID", nullptr);
  Properties(broker, status, instance.get())
      .text("InstanceID", id.value.string != nullptr ? CMGetCharPtr(id.value.string) : nullptr)
      .text("PoolID", aggr->name)
      .text("ElementName", aggr->name)
      .text("Name", aggr->uuid)
      .boolean("Primordial", false)
      .uint64("TotalManagedSpace", total)
      .uint64("RemainingManagedSpace", consumed < total ? total - consumed : 0)
      .uint16s("OperationalStatus", states.get());
  return failed(status) ? nullptr : instance.release();
}

// The pool the path names, with its filer; none is CMPI_RC_ERR_NOT_FOUND.
Aggregate poolOfPath(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *path, FilerCopy *filer) {
  std::string name;
  *filer = filerOfInstanceId(broker, context, status, path, &name);
  if (*filer == nullptr) return nullptr;
  std::vector<Aggregate> found = aggregatesOf(broker, status, filer->get(), name.c_str());
  if (failed(status)) return nullptr;
  if (found.empty()) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND, std::string(kPoolClass) + " not found: " + name);
    return nullptr;
  }
  return std::move(found.front());
}

}  // namespace

IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer, const char **propertyList) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIInstance>> items;
    for (const Aggregate &aggr : aggregatesOf(broker, status, filer, nullptr)) {
      items.emplace_back(poolInstance(broker, status, path, filer, aggr.get(), propertyList));
      if (failed(status)) return nullptr;
    }
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIObjectPath>> items;
    for (const Aggregate &aggr : aggregatesOf(broker, status, filer, nullptr)) {
      items.emplace_back(poolPath(broker, status, path, filer, aggr.get()));
      if (failed(status)) return nullptr;
    }
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer;
    Aggregate aggr = poolOfPath(broker, context, status, path, &filer);
    if (aggr == nullptr) return nullptr;
    return poolInstance(broker, status, path, filer.get(), aggr.get(), propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  int exists = cEdge<int>(broker, &status, 0, [&]() {
    FilerCopy filer;
    if (poolOfPath(broker, context, &status, path, &filer) == nullptr) return 0;
    if (filerOut != nullptr) *filerOut = filer.release();
    return 1;
  });
  clearCMPIError(broker, &status);
  return exists;
}
