// KELVA_StorageHardwareID: one instance per initiator of a filer, named once
// however many igroups hold it, with the ones clients created that wait in the
// hardware ID cache for a group.  InstanceID "KELVA:<systemId>:<initiator>".
#include <cmpimacs.h>
#include <provkit/frame.h>
#include <provkit/igroups.h>
#include <provkit/initiators.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>

#include "blockelements.h"

using namespace implib;

namespace {

constexpr const char *kHardwareIdClass = "KELVA_StorageHardwareID";
// CIM_StorageHardwareID.IDType.
constexpr CMPIUint16 kIdOther = 1;
constexpr CMPIUint16 kIdPortWWN = 2;
constexpr CMPIUint16 kIdISCSIName = 5;

struct InitiatorFree {
  void operator()(KELVAInitiator *initiator) const { freeKELVAInitiator(initiator); }
};
using Initiator = std::unique_ptr<KELVAInitiator, InitiatorFree>;

std::vector<Initiator> initiatorsOf(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer) {
  std::vector<Initiator> initiators;
  if (failed(status)) return initiators;
  List list = newList(freeKELVAInitiator);
  Record record;
  getAllInitiators(filer, nullptr, nullptr, nullptr, 1, list.get(), record.get());
  if (record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return initiators;
  }
  return takeAll<Initiator>(list.get());
}

CMPIUint16 idTypeOf(const KELVAInitiator *initiator) {
  if (initiator->type != nullptr && strCompare(initiator->type, "iscsi") == 0) return kIdISCSIName;
  if (initiator->type != nullptr && strCompare(initiator->type, "fcp") == 0) return kIdPortWWN;
  return kIdOther;
}

CMPIObjectPath *hardwareIdPath(const CMPIBroker *broker, CMPIStatus *status,
                               const CMPIObjectPath *source, const Filer *filer,
                               const KELVAInitiator *initiator) {
  return instanceIdPath(broker, status, source, kHardwareIdClass, filer, initiator->name);
}

CMPIInstance *hardwareIdInstance(const CMPIBroker *broker, CMPIStatus *status,
                                 const CMPIObjectPath *source, const Filer *filer,
                                 const KELVAInitiator *initiator, const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(hardwareIdPath(broker, status, source, filer, initiator));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  CMPIData id = CMGetKey(path.get(), "InstanceID", nullptr);
  Properties(broker, status, instance.get())
      .text("InstanceID", id.value.string != nullptr ? CMGetCharPtr(id.value.string) : nullptr)
      .text("StorageID", initiator->name)
      .text("ElementName", initiator->name)
      .uint16("IDType", idTypeOf(initiator))
      .text("OSType", initiator->osType);
  return failed(status) ? nullptr : instance.release();
}

Initiator initiatorOfPath(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *path,
                          FilerCopy *filer) {
  return recordOfPath<Initiator>(broker, status, path, filer, kHardwareIdClass, "InstanceID",
                                 mapStorageHardwareIDtoInitiator);
}

}  // namespace

RECORD_INSTANCES(initiatorsOf, hardwareIdInstance)

RECORD_PATHS(initiatorsOf, hardwareIdPath)

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  (void)context;
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer;
    Initiator initiator = initiatorOfPath(broker, status, path, &filer);
    if (initiator == nullptr) return nullptr;
    return hardwareIdInstance(broker, status, path, filer.get(), initiator.get(), propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  (void)context;
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    return initiatorOfPath(broker, status, path, &filer) != nullptr;
  });
}
