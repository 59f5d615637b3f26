/* KELVA_StorageSystem: one instance per registered filer, from the storage system library. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("arraysysprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_StorageSystemProvider)
SHELL_INSTANCE_READS(KELVA_StorageSystemProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_StorageSystemProvider,
                    "KELVA_StorageSystem: add a filer to the registry instead")

SHELL_REFUSE_MODIFY(KELVA_StorageSystemProvider, "KELVA_StorageSystem cannot be modified")

SHELL_REFUSE_DELETE(KELVA_StorageSystemProvider,
                    "KELVA_StorageSystem: remove the filer from the registry instead")

SHELL_REFUSE_QUERY(KELVA_StorageSystemProvider, "KELVA_StorageSystem does not answer queries")

CMInstanceMIStub(KELVA_StorageSystemProvider, KELVA_StorageSystemProvider, broker,
                 initProvkit(broker))
