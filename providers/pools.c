/* KELVA_ConcretePool: one instance per aggregate (or traditional volume) of every registered filer,
 * with the space it manages and the space left, from the concrete pool library. */
#include <provkit/frame.h>
#include <provkit/operations.h>

#include "shell.h"

#define IMPLIB PK_IMPLIB("concretepoolprv")

static const CMPIBroker *broker;

SHELL_INSTANCE_CLEANUP(KELVA_ConcretePoolProvider)
SHELL_INSTANCE_READS(KELVA_ConcretePoolProvider, IMPLIB)

SHELL_REFUSE_CREATE(KELVA_ConcretePoolProvider,
                    "KELVA_ConcretePool: aggregates are created on the filer")

SHELL_REFUSE_MODIFY(KELVA_ConcretePoolProvider, "KELVA_ConcretePool cannot be modified")

SHELL_REFUSE_DELETE(KELVA_ConcretePoolProvider,
                    "KELVA_ConcretePool: aggregates are destroyed on the filer")

SHELL_REFUSE_QUERY(KELVA_ConcretePoolProvider, "KELVA_ConcretePool does not answer queries")

CMInstanceMIStub(KELVA_ConcretePoolProvider, KELVA_ConcretePoolProvider, broker,
                 initProvkit(broker))
