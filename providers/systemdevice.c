/* KELVA_SystemDevice: a filer's storage system and each of its volumes.  The association's
 * library leads from either end to the other; the two endpoint classes' libraries list and
 * check the ends.  Served as instances (the association objects) and as an association. */
#include <provkit/associations.h>
#include <provkit/frame.h>

#include "shell.h"

#define ASSOC_CLASS "KELVA_SystemDevice"
#define SYSTEM_CLASS "KELVA_StorageSystem"
#define VOLUME_CLASS "KELVA_StorageVolume"
#define ASSOC_LIB PK_IMPLIB("systemdeviceprv")
#define SYSTEM_LIB PK_IMPLIB("arraysysprv")
#define VOLUME_LIB PK_IMPLIB("blockvolprv")
#define SYSTEM_ROLE "GroupComponent"
#define VOLUME_ROLE "PartComponent"

static const CMPIBroker *broker;

SHELL_ASSOCIATION_ENDS(KELVA_SystemDeviceProvider, ASSOC_CLASS, ASSOC_LIB, SYSTEM_ROLE, VOLUME_ROLE,
                       NULL)

/* ---- Instances of the association ----------------------------------------------------- */

SHELL_INSTANCE_CLEANUP(KELVA_SystemDeviceProvider)

SHELL_ASSOCIATION_READS(KELVA_SystemDeviceProvider, ASSOC_CLASS, SYSTEM_LIB, SYSTEM_ROLE,
                        VOLUME_LIB, VOLUME_ROLE, NULL)

SHELL_REFUSE_CREATE(KELVA_SystemDeviceProvider, "KELVA_SystemDevice: a volume belongs to its filer")

SHELL_REFUSE_MODIFY(KELVA_SystemDeviceProvider, "KELVA_SystemDevice cannot be modified")

SHELL_REFUSE_DELETE(KELVA_SystemDeviceProvider, "KELVA_SystemDevice: a volume belongs to its filer")

SHELL_REFUSE_QUERY(KELVA_SystemDeviceProvider, "KELVA_SystemDevice does not answer queries")

/* ---- The association ------------------------------------------------------------------- */

SHELL_ASSOCIATION_MI(KELVA_SystemDeviceProvider, ASSOC_CLASS, SYSTEM_CLASS, SYSTEM_LIB, SYSTEM_ROLE,
                     VOLUME_CLASS, VOLUME_LIB, VOLUME_ROLE)

CMInstanceMIStub(KELVA_SystemDeviceProvider, KELVA_SystemDeviceProvider, broker,
                 initProvkit(broker))
    CMAssociationMIStub(KELVA_SystemDeviceProvider, KELVA_SystemDeviceProvider, broker,
                        initProvkit(broker))
