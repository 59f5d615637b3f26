/* KELVA_VolumeAllocatedFromPool: a concrete pool and each LUN allocated from it, with the
 * space the LUN takes of the pool.  The association's library leads from either end to the
 * other; the two endpoint classes' libraries list and check the ends.  Served as instances (the
 * association objects) and as an association. */
#include <provkit/associations.h>
#include <provkit/frame.h>
#include <provkit/igroups.h>

#include "shell.h"

#define ASSOC_CLASS "KELVA_VolumeAllocatedFromPool"
#define POOL_CLASS "KELVA_ConcretePool"
#define VOLUME_CLASS "KELVA_StorageVolume"
#define ASSOC_LIB PK_IMPLIB("poolvolumeprv")
#define POOL_LIB PK_IMPLIB("concretepoolprv")
#define VOLUME_LIB PK_IMPLIB("blockvolprv")
#define POOL_ROLE "Antecedent"
#define VOLUME_ROLE "Dependent"

static const CMPIBroker *broker;

/* SpaceConsumed of an association: the size of its LUN.  A LUN that cannot be read leaves
 * the property unset rather than failing the association. */
static void spaceConsumed(const CMPIBroker *b, const CMPIContext *ctx, CMPIStatus *status,
                          const Filer *filer, const char **properties, CMPIInstance *instance) {
  CMPIStatus read = {CMPI_RC_OK, NULL};
  CMPIData dependent;
  KELVALun *lun;
  CMPIUint64 size;
  (void)ctx;
  (void)filer;
  (void)status;
  if (!isPropertyPresent(properties, "SpaceConsumed")) return;
  dependent = CMGetProperty(instance, VOLUME_ROLE, &read);
  if (read.rc != CMPI_RC_OK || dependent.type != CMPI_ref) return;
  lun = mapStorageVolumeToLunInfo(b, &read, dependent.value.ref, NULL);
  if (lun != NULL) {
    size = lun->size;
    CMSetProperty(instance, "SpaceConsumed", &size, CMPI_uint64);
    freeLun(lun);
  }
  if (read.msg != NULL) CMRelease(read.msg);
}

SHELL_ASSOCIATION_ENDS(KELVA_VolumeAllocatedFromPoolProvider, ASSOC_CLASS, ASSOC_LIB, POOL_ROLE,
                       VOLUME_ROLE, spaceConsumed)

/* ---- Instances of the association ----------------------------------------------------- */

SHELL_INSTANCE_CLEANUP(KELVA_VolumeAllocatedFromPoolProvider)

SHELL_ASSOCIATION_READS(KELVA_VolumeAllocatedFromPoolProvider, ASSOC_CLASS, POOL_LIB, POOL_ROLE,
                        VOLUME_LIB, VOLUME_ROLE, spaceConsumed)

SHELL_REFUSE_CREATE(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool: a LUN is allocated from its pool on the filer")

SHELL_REFUSE_MODIFY(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool cannot be modified")

SHELL_REFUSE_DELETE(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool: a LUN is allocated from its pool on the filer")

SHELL_REFUSE_QUERY(KELVA_VolumeAllocatedFromPoolProvider,
                   "KELVA_VolumeAllocatedFromPool does not answer queries")

/* ---- The association ------------------------------------------------------------------- */

SHELL_ASSOCIATION_MI(KELVA_VolumeAllocatedFromPoolProvider, ASSOC_CLASS, POOL_CLASS, POOL_LIB,
                     POOL_ROLE, VOLUME_CLASS, VOLUME_LIB, VOLUME_ROLE)

CMInstanceMIStub(KELVA_VolumeAllocatedFromPoolProvider, KELVA_VolumeAllocatedFromPoolProvider,
                 broker, initProvkit(broker))
    CMAssociationMIStub(KELVA_VolumeAllocatedFromPoolProvider,
                        KELVA_VolumeAllocatedFromPoolProvider, broker, initProvkit(broker))
