/* KELVA_StorageHardwareID: one instance per initiator of every registered filer (the members of its
 * igroups and the ones waiting in the hardware ID cache), from the hardware ID library. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("hardwareidprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_StorageHardwareIDProvider)
SHELL_INSTANCE_READS(KELVA_StorageHardwareIDProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_StorageHardwareIDProvider,
                    "KELVA_StorageHardwareID: initiators are added to an igroup on the filer")

SHELL_REFUSE_MODIFY(KELVA_StorageHardwareIDProvider, "KELVA_StorageHardwareID cannot be modified")

SHELL_REFUSE_DELETE(
    KELVA_StorageHardwareIDProvider,
    "KELVA_StorageHardwareID: initiators are removed from their igroups on the filer")

SHELL_REFUSE_QUERY(KELVA_StorageHardwareIDProvider,
                   "KELVA_StorageHardwareID does not answer queries")

CMInstanceMIStub(KELVA_StorageHardwareIDProvider, KELVA_StorageHardwareIDProvider, broker,
                 initProvkit(broker))
