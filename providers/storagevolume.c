/* KELVA_StorageVolume: one instance per LUN of every registered filer, from the storage volume
 * library; a modification changes the LUN's comment (Description). */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("blockvolprv")

static const CMPIBroker *broker;

static CMPIStatus KELVA_StorageVolumeProviderCleanup(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                     CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  return shellOk();
}

static CMPIStatus KELVA_StorageVolumeProviderEnumInstanceNames(CMPIInstanceMI *mi,
                                                               const CMPIContext *ctx,
                                                               const CMPIResult *rslt,
                                                               const CMPIObjectPath *ref) {
  (void)mi;
  return enumerateInstances(broker, ctx, rslt, ref, 0, NULL, IMPLIB);
}

static CMPIStatus KELVA_StorageVolumeProviderEnumInstances(CMPIInstanceMI *mi,
                                                           const CMPIContext *ctx,
                                                           const CMPIResult *rslt,
                                                           const CMPIObjectPath *ref,
                                                           const char **properties) {
  (void)mi;
  return enumerateInstances(broker, ctx, rslt, ref, 1, properties, IMPLIB);
}

static CMPIStatus KELVA_StorageVolumeProviderGetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                         const CMPIResult *rslt,
                                                         const CMPIObjectPath *cop,
                                                         const char **properties) {
  (void)mi;
  return getProviderInstance(broker, ctx, rslt, cop, properties, IMPLIB);
}

static CMPIStatus KELVA_StorageVolumeProviderCreateInstance(CMPIInstanceMI *mi,
                                                            const CMPIContext *ctx,
                                                            const CMPIResult *rslt,
                                                            const CMPIObjectPath *cop,
                                                            const CMPIInstance *ci) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)cop;
  (void)ci;
  return shellNotSupported(broker, "KELVA_StorageVolume: LUNs are created on the filer");
}

static CMPIStatus KELVA_StorageVolumeProviderModifyInstance(
    CMPIInstanceMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *cop,
    const CMPIInstance *ci, const char **properties) {
  (void)mi;
  return setProviderInstance(broker, ctx, rslt, cop, ci, properties, IMPLIB);
}

static CMPIStatus KELVA_StorageVolumeProviderDeleteInstance(CMPIInstanceMI *mi,
                                                            const CMPIContext *ctx,
                                                            const CMPIResult *rslt,
                                                            const CMPIObjectPath *cop) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)cop;
  return shellNotSupported(broker, "KELVA_StorageVolume: LUNs are destroyed on the filer");
}

static CMPIStatus KELVA_StorageVolumeProviderExecQuery(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                       const CMPIResult *rslt,
                                                       const CMPIObjectPath *ref, const char *lang,
                                                       const char *query) {
  (void)mi;
  (void)ctx;
  (void)rslt;
  (void)ref;
  (void)lang;
  (void)query;
  return shellNotSupported(broker, "KELVA_StorageVolume does not answer queries");
}

CMInstanceMIStub(KELVA_StorageVolumeProvider, KELVA_StorageVolumeProvider, broker,
                 initProvkit(broker))
