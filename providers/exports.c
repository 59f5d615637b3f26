/* KELVA_NFSShare: one instance per NFS export rule of every registered filer, with its root
 * hosts and security flavours, from the export rule library.  Rules are made, changed and
 * removed on the filer, not through this provider. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("nfsexportprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_NFSShareProvider)
SHELL_INSTANCE_READS(KELVA_NFSShareProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_NFSShareProvider, "KELVA_NFSShare: export rules are created on the filer")
SHELL_REFUSE_MODIFY(KELVA_NFSShareProvider, "KELVA_NFSShare: export rules are changed on the filer")
SHELL_REFUSE_DELETE(KELVA_NFSShareProvider, "KELVA_NFSShare: export rules are removed on the filer")
SHELL_REFUSE_QUERY(KELVA_NFSShareProvider, "KELVA_NFSShare does not answer queries")

CMInstanceMIStub(KELVA_NFSShareProvider, KELVA_NFSShareProvider, broker, initProvkit(broker))
