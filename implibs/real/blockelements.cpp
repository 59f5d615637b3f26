// Paths, lists and properties of the block elements' libraries, and the concrete
// pools that two of them serve.
#include "blockelements.h"

#include <cmpimacs.h>
#include <provkit/capacity.h>
#include <provkit/commoncaps.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <provkit/registry.h>
#include <wbemkelvai/wsifiler.h>

#include <new>

namespace implib {

namespace {

// What the pool's flexible volumes take of it, or a traditional volume's LUNs.  A
// volume that is off line cannot say what it takes; its size, approximated from
// the filer's command line, stands in (with a warning), so that one volume taken
// off line does not hide its pool.
CMPIUint64 consumedOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                      const KELVAAggregate *aggr) {
  Record record;
  CMPIUint64 bytes = 0;
  if (aggr->kind == WSI_AGGR_KIND_TRADITIONAL) {
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

}  // namespace

List newList(WSIListFreeFunc freeElement) {
  List list(WSIList_new(), ListFree{freeElement});
  if (!list) throw std::bad_alloc();
  return list;
}

std::string systemNameOf(const Filer *filer) {
  return std::string("KELVA:") + (filer->systemId != nullptr ? filer->systemId : "");
}

CMPIObjectPath *instanceIdPath(const CMPIBroker *broker, CMPIStatus *status,
                               const CMPIObjectPath *source, const char *className,
                               const Filer *filer, const char *local) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, className));
  if (failed(status)) return nullptr;
  WsiText id(encodeInstanceID(filer->systemId, local));
  if (id == nullptr) throw std::bad_alloc();
  CMPIStatus added = CMAddKey(path.get(), "InstanceID", id.get(), CMPI_chars);
  if (added.rc != CMPI_RC_OK) {
    raise(broker, status, added.rc, std::string(className) + " unable to set InstanceID");
    return nullptr;
  }
  return path.release();
}

FilerCopy filerOfInstanceId(const CMPIBroker *broker, const CMPIContext *context,
                            CMPIStatus *status, const CMPIObjectPath *path, std::string *local) {
  WsiText id(getKeyAsChar(status, path, "InstanceID"));
  if (failed(status)) return nullptr;
  Record record;
  char *systemId = nullptr;
  char *name = nullptr;
  if (id == nullptr ||
      getFilerAndNameFromInstanceId(record.get(), id.get(), &systemId, nullptr, &name) == 0 ||
      systemId == nullptr || name == nullptr) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER,
          std::string("Malformed InstanceID ") + (id != nullptr ? id.get() : ""));
    return nullptr;
  }
  *local = name;
  return FilerCopy(getFilerByName(status, broker, context, path, systemId));
}

void Properties::set(const char *name, const CMPIValue *value, CMPIType type) {
  if (failed(status_)) return;
  CMPIStatus set = CMSetProperty(instance_, name, value, type);
  if (set.rc != CMPI_RC_OK) raise(broker_, status_, set.rc, std::string("Unable to set ") + name);
}

Properties &Properties::text(const char *name, const char *value) {
  if (value != nullptr) set(name, reinterpret_cast<const CMPIValue *>(value), CMPI_chars);
  return *this;
}

Properties &Properties::uint16(const char *name, CMPIUint16 value) {
  CMPIValue v;
  v.uint16 = value;
  set(name, &v, CMPI_uint16);
  return *this;
}

Properties &Properties::uint64(const char *name, CMPIUint64 value) {
  CMPIValue v;
  v.uint64 = value;
  set(name, &v, CMPI_uint64);
  return *this;
}

Properties &Properties::boolean(const char *name, bool value) {
  CMPIValue v;
  v.boolean = value ? 1 : 0;
  set(name, &v, CMPI_boolean);
  return *this;
}

Properties &Properties::uint16s(const char *name, std::initializer_list<CMPIUint16> values) {
  List list = newList(wsifree);
  for (CMPIUint16 value : values) addUINT16ToList(broker_, status_, value, list.get());
  return uint16s(name, list.get());
}

Properties &Properties::uint16s(const char *name, WSIList *values) {
  if (failed(status_)) return *this;
  CmpiObject<CMPIArray> array(createArrayFromUINT16List(broker_, status_, values));
  if (failed(status_)) return *this;
  CMPIValue v;
  v.array = array.get();
  set(name, &v, CMPI_uint16A);
  return *this;
}

// ---- Concrete pools ----------------------------------------------------------------

std::vector<Aggregate> aggregatesOf(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, const char *name) {
  std::vector<Aggregate> aggrs;
  if (failed(status)) return aggrs;
  List list = newList(freeAggregate);
  Record record;
  if (getAggregateInfo(record.get(), filer, name, nullptr, WSI_AGGR_KINDS_ALL, 0, list.get()) ==
      0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return aggrs;
  }
  return takeAll<Aggregate>(list.get());
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
  // What the volumes take is asked of each of them, so only when it is wanted.
  bool remainingWanted = isPropertyPresent(propertyList, "RemainingManagedSpace") != 0;
  CMPIUint64 consumed = remainingWanted ? consumedOf(broker, status, filer, aggr) : 0;
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
      .uint16s("OperationalStatus", states.get());
  if (remainingWanted) {
    Properties(broker, status, instance.get())
        .uint64("RemainingManagedSpace", consumed < total ? total - consumed : 0);
  }
  return failed(status) ? nullptr : instance.release();
}

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

}  // namespace implib
