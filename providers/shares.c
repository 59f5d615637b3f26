/* KELVA_CIFSShare: one instance per CIFS share of every registered filer, from the CIFS share
 * library.  Shares are made, changed and removed on the filer, not through this provider. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("cifsshareprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_CIFSShareProvider)
SHELL_INSTANCE_READS(KELVA_CIFSShareProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_CIFSShareProvider, "KELVA_CIFSShare: shares are created on the filer")
SHELL_REFUSE_MODIFY(KELVA_CIFSShareProvider, "KELVA_CIFSShare: shares are changed on the filer")
SHELL_REFUSE_DELETE(KELVA_CIFSShareProvider, "KELVA_CIFSShare: shares are removed on the filer")
SHELL_REFUSE_QUERY(KELVA_CIFSShareProvider, "KELVA_CIFSShare does not answer queries")

CMInstanceMIStub(KELVA_CIFSShareProvider, KELVA_CIFSShareProvider, broker, initProvkit(broker))
