/* KELVA_StorageVolume: one instance per LUN of every registered filer, from the storage volume
 * library; a modification changes the LUN's comment (Description). */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("blockvolprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_StorageVolumeProvider)
SHELL_INSTANCE_READS(KELVA_StorageVolumeProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_StorageVolumeProvider,
                    "KELVA_StorageVolume: LUNs are created on the filer")

static CMPIStatus KELVA_StorageVolumeProviderModifyInstance(
    CMPIInstanceMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *cop,
    const CMPIInstance *ci, const char **properties) {
  (void)mi;
  return setProviderInstance(broker, ctx, rslt, cop, ci, properties, IMPLIB);
}

SHELL_REFUSE_DELETE(KELVA_StorageVolumeProvider,
                    "KELVA_StorageVolume: LUNs are destroyed on the filer")

SHELL_REFUSE_QUERY(KELVA_StorageVolumeProvider, "KELVA_StorageVolume does not answer queries")

CMInstanceMIStub(KELVA_StorageVolumeProvider, KELVA_StorageVolumeProvider, broker,
                 initProvkit(broker))
