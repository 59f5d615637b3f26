/* KELVA_StorageSystem: one instance per registered filer, from the storage system library, with
 * provkit's state and health of the filer. */
#include <provkit/frame.h>
#include <provkit/operations.h>
#include <provkit/storagesystem.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("arraysysprv")

static const CMPIBroker *broker;

/* The systems' health follows the filers' traps once a system was asked for; the
 * subscription ends with the provider, before the trap listener could call into a
 * library that goes. */
static CMPIStatus KELVA_StorageSystemProviderCleanup(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                     CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  unloadKELVAStorageSystemTraps(broker);
  return shellOk();
}

SHELL_INSTANCE_READS(KELVA_StorageSystemProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_StorageSystemProvider,
                    "KELVA_StorageSystem: add a filer to the registry instead")

SHELL_REFUSE_MODIFY(KELVA_StorageSystemProvider, "KELVA_StorageSystem cannot be modified")

SHELL_REFUSE_DELETE(KELVA_StorageSystemProvider,
                    "KELVA_StorageSystem: remove the filer from the registry instead")

SHELL_REFUSE_QUERY(KELVA_StorageSystemProvider, "KELVA_StorageSystem does not answer queries")

CMInstanceMIStub(KELVA_StorageSystemProvider, KELVA_StorageSystemProvider, broker,
                 initProvkit(broker))
