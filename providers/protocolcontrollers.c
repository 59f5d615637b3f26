/* KELVA_ProtocolController: one instance per initiator group of every registered filer, from the
 * protocol controller library. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("protocolcontrollerprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_ProtocolControllerProvider)
SHELL_INSTANCE_READS(KELVA_ProtocolControllerProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_ProtocolControllerProvider,
                    "KELVA_ProtocolController: initiator groups are created on the filer")

SHELL_REFUSE_MODIFY(KELVA_ProtocolControllerProvider, "KELVA_ProtocolController cannot be modified")

SHELL_REFUSE_DELETE(KELVA_ProtocolControllerProvider,
                    "KELVA_ProtocolController: initiator groups are destroyed on the filer")

SHELL_REFUSE_QUERY(KELVA_ProtocolControllerProvider,
                   "KELVA_ProtocolController does not answer queries")

CMInstanceMIStub(KELVA_ProtocolControllerProvider, KELVA_ProtocolControllerProvider, broker,
                 initProvkit(broker))
