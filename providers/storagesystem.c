/* KELVA_StorageSystem: one instance per registered filer, from the storage system library. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("arraysysprv")

static const CMPIBroker *broker;

static CMPIStatus KELVA_StorageSystemProviderCleanup(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                     CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  return shellOk();
}

static CMPIStatus KELVA_StorageSystemProviderEnumInstanceNames(CMPIInstanceMI *mi,
                                                               const CMPIContext *ctx,
                                                               const CMPIResult *rslt,
                                                               const CMPIObjectPath *ref) {
  (void)mi;
  return enumerateInstances(broker, ctx, rslt, ref, 0, NULL, IMPLIB);
}

static CMPIStatus KELVA_StorageSystemProviderEnumInstances(CMPIInstanceMI *mi,
                                                           const CMPIContext *ctx,
                                                           const CMPIResult *rslt,
                                                           const CMPIObjectPath *ref,
                                                           const char **properties) {
  (void)mi;
  return enumerateInstances(broker, ctx, rslt, ref, 1, properties, IMPLIB);
}

static CMPIStatus KELVA_StorageSystemProviderGetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                         const CMPIResult *rslt,
                                                         const CMPIObjectPath *cop,
                                                         const char **properties) {
  (void)mi;
  return getProviderInstance(broker, ctx, rslt, cop, properties, IMPLIB);
}

static CMPIStatus KELVA_StorageSystemProviderCreateInstance(CMPIInstanceMI *mi,
                                                            const CMPIContext *ctx,
                                                            const CMPIResult *rslt,
                                                            const CMPIObjectPath *cop,
                                                            const CMPIInstance *ci) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)cop;
  (void)ci;
  return shellNotSupported(broker, "KELVA_StorageSystem: add a filer to the registry instead");
}

static CMPIStatus KELVA_StorageSystemProviderModifyInstance(
    CMPIInstanceMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *cop,
    const CMPIInstance *ci, const char **properties) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)cop;
  (void)ci;
  (void)properties;
  return shellNotSupported(broker, "KELVA_StorageSystem cannot be modified");
}

static CMPIStatus KELVA_StorageSystemProviderDeleteInstance(CMPIInstanceMI *mi,
                                                            const CMPIContext *ctx,
                                                            const CMPIResult *rslt,
                                                            const CMPIObjectPath *cop) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)cop;
  return shellNotSupported(broker,
                           "KELVA_StorageSystem: remove the filer from the registry instead");
}

static CMPIStatus KELVA_StorageSystemProviderExecQuery(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                       const CMPIResult *rslt,
                                                       const CMPIObjectPath *ref, const char *lang,
                                                       const char *query) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)ref;
  (void)lang;
  (void)query;
  return shellNotSupported(broker, "KELVA_StorageSystem does not answer queries");
}

CMInstanceMIStub(KELVA_StorageSystemProvider, KELVA_StorageSystemProvider, broker,
                 initProvkit(broker))
