// What the concrete pool, protocol controller and hardware ID libraries share:
// owners of the controller library's lists, paths keyed by a controller-API
// InstanceID, and the setting of an instance's properties.
//
// As in storageobjects.h, a function that takes a CMPI status raises its
// failures into it; objects returned are new and the caller's.
#pragma once

#include <provkit/arrays.h>
#include <provkit/properties.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "storageobjects.h"

namespace implib {

// A WSIList with the function that frees its elements.
struct ListFree {
  WSIListFreeFunc element;
  void operator()(WSIList *list) const { WSIList_free(list, element); }
};
using List = std::unique_ptr<WSIList, ListFree>;
// A new empty list whose elements go with freeElement; throws std::bad_alloc.
List newList(WSIListFreeFunc freeElement);

// The filer's system name "KELVA:<systemId>".
std::string systemNameOf(const Filer *filer);

// A path of className in source's namespace with the key InstanceID
// "KELVA:<systemId>:<local>".
CMPIObjectPath *instanceIdPath(const CMPIBroker *broker, CMPIStatus *status,
                               const CMPIObjectPath *source, const char *className,
                               const Filer *filer, const char *local);

// The registered filer and the local part of the path's InstanceID; a malformed
// InstanceID is CMPI_RC_ERR_INVALID_PARAMETER, an unregistered filer
// CMPI_RC_ERR_NOT_FOUND.
FilerCopy filerOfInstanceId(const CMPIBroker *broker, const CMPIContext *context,
                            CMPIStatus *status, const CMPIObjectPath *path, std::string *local);

// The record map(broker, status, path, &filer) finds for the path, with the
// filer it is on; a record or filer that is not there is CMPI_RC_ERR_NOT_FOUND
// "<className> not found: <the path's key keyName>".
template <typename Owner, typename Map>
Owner recordOfPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path,
                   FilerCopy *filer, const char *className, const char *keyName, Map map) {
  Filer *found = nullptr;
  Owner record(map(broker, status, path, &found));
  filer->reset(found);
  if (failed(status)) return nullptr;
  if (record == nullptr || *filer == nullptr) {
    const char *key = getKeyAsConstChar(status, path, keyName);
    clearCMPIError(broker, status);
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
          std::string(className) + " not found: " + (key != nullptr ? key : ""));
    return nullptr;
  }
  return record;
}

// Sets properties of one instance (those outside its property list are dropped by
// the instance); after the first failure, raised into status, the rest are skipped.
class Properties {
 public:
  Properties(const CMPIBroker *broker, CMPIStatus *status, CMPIInstance *instance)
      : broker_(broker), status_(status), instance_(instance) {}
  // A null text leaves the property unset.
  Properties &text(const char *name, const char *value);
  Properties &text(const char *name, const std::string &value) { return text(name, value.c_str()); }
  Properties &uint16(const char *name, CMPIUint16 value);
  Properties &uint64(const char *name, CMPIUint64 value);
  Properties &boolean(const char *name, bool value);
  Properties &uint16s(const char *name, std::initializer_list<CMPIUint16> values);
  // The list's two-byte blocks (addUINT16ToList), in list order.
  Properties &uint16s(const char *name, WSIList *values);

 private:
  void set(const char *name, const CMPIValue *value, CMPIType type);
  const CMPIBroker *broker_;
  CMPIStatus *status_;
  CMPIInstance *instance_;
};

// ---- Concrete pools ----------------------------------------------------------------
// A filer's aggregates and traditional volumes, InstanceID
// "KELVA:<systemId>:<aggregate>", with the space each manages and the space its
// volumes (or a traditional volume's LUNs) leave.

inline constexpr const char *kPoolClass = "KELVA_ConcretePool";

struct AggregateFree {
  void operator()(KELVAAggregate *aggr) const { freeAggregate(aggr); }
};
using Aggregate = std::unique_ptr<KELVAAggregate, AggregateFree>;

// The filer's aggregates and traditional volumes with their space figures; only
// the one named name when given.
std::vector<Aggregate> aggregatesOf(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, const char *name);
CMPIObjectPath *poolPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *source,
                         const Filer *filer, const KELVAAggregate *aggr);
CMPIInstance *poolInstance(const CMPIBroker *broker, CMPIStatus *status,
                           const CMPIObjectPath *source, const Filer *filer,
                           const KELVAAggregate *aggr, const char **propertyList);
// The pool the path's InstanceID names, with its registered filer; none is
// CMPI_RC_ERR_NOT_FOUND.
Aggregate poolOfPath(const CMPIBroker *broker, const CMPIContext *context, CMPIStatus *status,
                     const CMPIObjectPath *path, FilerCopy *filer);

}  // namespace implib
