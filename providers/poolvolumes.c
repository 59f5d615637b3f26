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

/* From a pool: its LUNs (or the associations to them, by mode). */
static CMPIArray *pathsFromPool(const CMPIBroker *b, const CMPIContext *ctx,
                                const CMPIObjectPath *path, const Filer *filer, int mode,
                                CMPIStatus *status) {
  return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ASSOC_LIB, ASSOC_CLASS,
                               POOL_ROLE, VOLUME_ROLE, status);
}
static CMPIArray *pathsFromVolume(const CMPIBroker *b, const CMPIContext *ctx,
                                  const CMPIObjectPath *path, const Filer *filer, int mode,
                                  CMPIStatus *status) {
  return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ASSOC_LIB, ASSOC_CLASS,
                               VOLUME_ROLE, POOL_ROLE, status);
}
static CMPIArray *instancesFromPool(const CMPIBroker *b, const CMPIContext *ctx,
                                    const CMPIObjectPath *path, const Filer *filer, int mode,
                                    const char **properties, CMPIStatus *status) {
  return getExtendedInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties,
                                           ASSOC_LIB, ASSOC_CLASS, POOL_ROLE, VOLUME_ROLE,
                                           spaceConsumed, status);
}
static CMPIArray *instancesFromVolume(const CMPIBroker *b, const CMPIContext *ctx,
                                      const CMPIObjectPath *path, const Filer *filer, int mode,
                                      const char **properties, CMPIStatus *status) {
  return getExtendedInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties,
                                           ASSOC_LIB, ASSOC_CLASS, VOLUME_ROLE, POOL_ROLE,
                                           spaceConsumed, status);
}

/* An association call names a class filter that this association must pass: the association
 * class itself or one of its superclasses.  No filter passes.  1 passes, 0 does not, -1 when the
 * check could not be made (the reason in status). */
static int passesAssocClass(const CMPIObjectPath *source, const char *assocClass,
                            CMPIStatus *status) {
  CMPIObjectPath *own;
  CMPIString *ns;
  CMPIBoolean passes;
  if (assocClass == NULL || *assocClass == '\0') return 1;
  ns = CMGetNameSpace(source, NULL);
  own = CMNewObjectPath(broker, ns != NULL ? CMGetCharPtr(ns) : NULL, ASSOC_CLASS, status);
  if (own == NULL || status->rc != CMPI_RC_OK) {
    if (own != NULL) CMRelease(own);
    status->rc = CMPI_RC_ERR_FAILED;
    status->msg = CMNewString(broker, ASSOC_CLASS ": cannot check the association class", NULL);
    return -1;
  }
  passes = CMClassPathIsA(broker, own, assocClass, status);
  CMRelease(own);
  if (status->rc != CMPI_RC_OK) {
    status->rc = CMPI_RC_ERR_FAILED;
    status->msg = CMNewString(broker, ASSOC_CLASS ": cannot check the association class", NULL);
    return -1;
  }
  return passes != 0;
}

static CMPIStatus doneWithNothing(const CMPIResult *rslt) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  CMReturnDone(rslt);
  return status;
}

/* ---- Instances of the association ----------------------------------------------------- */

SHELL_INSTANCE_CLEANUP(KELVA_VolumeAllocatedFromPoolProvider)

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderEnumInstanceNames(
    CMPIInstanceMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *ref) {
  (void)mi;
  return enumerateAssociations(broker, ctx, rslt, ref, 0, NULL, POOL_LIB, pathsFromPool,
                               instancesFromPool);
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderEnumInstances(CMPIInstanceMI *mi,
                                                                     const CMPIContext *ctx,
                                                                     const CMPIResult *rslt,
                                                                     const CMPIObjectPath *ref,
                                                                     const char **properties) {
  (void)mi;
  return enumerateAssociations(broker, ctx, rslt, ref, 1, properties, POOL_LIB, pathsFromPool,
                               instancesFromPool);
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderGetInstance(CMPIInstanceMI *mi,
                                                                   const CMPIContext *ctx,
                                                                   const CMPIResult *rslt,
                                                                   const CMPIObjectPath *cop,
                                                                   const char **properties) {
  (void)mi;
  return getExtendedAssociationInstance(broker, ctx, rslt, cop, properties, ASSOC_CLASS, POOL_LIB,
                                        VOLUME_LIB, POOL_ROLE, VOLUME_ROLE, spaceConsumed);
}

SHELL_REFUSE_CREATE(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool: a LUN is allocated from its pool on the filer")

SHELL_REFUSE_MODIFY(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool cannot be modified")

SHELL_REFUSE_DELETE(KELVA_VolumeAllocatedFromPoolProvider,
                    "KELVA_VolumeAllocatedFromPool: a LUN is allocated from its pool on the filer")

SHELL_REFUSE_QUERY(KELVA_VolumeAllocatedFromPoolProvider,
                   "KELVA_VolumeAllocatedFromPool does not answer queries")

/* ---- The association ------------------------------------------------------------------- */

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderAssociationCleanup(CMPIAssociationMI *mi,
                                                                          const CMPIContext *ctx,
                                                                          CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  return shellOk();
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderAssociators(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *assocClass, const char *resultClass, const char *role, const char *resultRole,
    const char **properties) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, assocClass, &status);
  (void)mi;
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  return associationAssociators(broker, ctx, rslt, op, resultClass, role, resultRole, properties,
                                POOL_CLASS, VOLUME_CLASS, POOL_LIB, VOLUME_LIB, POOL_ROLE,
                                VOLUME_ROLE, instancesFromPool, instancesFromVolume);
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderAssociatorNames(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *assocClass, const char *resultClass, const char *role, const char *resultRole) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, assocClass, &status);
  (void)mi;
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  return associationAssociatorNames(broker, ctx, rslt, op, resultClass, role, resultRole,
                                    POOL_CLASS, VOLUME_CLASS, POOL_LIB, VOLUME_LIB, POOL_ROLE,
                                    VOLUME_ROLE, pathsFromPool, pathsFromVolume);
}

/* References leave CMReturnDone to the caller, and only a good status ends in it. */
static CMPIStatus references(const CMPIContext *ctx, const CMPIResult *rslt,
                             const CMPIObjectPath *op, const char *resultClass, const char *role,
                             int instancesWanted, const char **properties) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, resultClass, &status);
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  status =
      associationReferences(broker, ctx, rslt, op, resultClass, role, instancesWanted, properties,
                            POOL_CLASS, VOLUME_CLASS, POOL_LIB, VOLUME_LIB, POOL_ROLE, VOLUME_ROLE,
                            instancesFromPool, instancesFromVolume, pathsFromPool, pathsFromVolume);
  if (status.rc == CMPI_RC_OK) CMReturnDone(rslt);
  return status;
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderReferences(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *resultClass, const char *role, const char **properties) {
  (void)mi;
  return references(ctx, rslt, op, resultClass, role, 1, properties);
}

static CMPIStatus KELVA_VolumeAllocatedFromPoolProviderReferenceNames(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *resultClass, const char *role) {
  (void)mi;
  return references(ctx, rslt, op, resultClass, role, 0, NULL);
}

CMInstanceMIStub(KELVA_VolumeAllocatedFromPoolProvider, KELVA_VolumeAllocatedFromPoolProvider,
                 broker, initProvkit(broker))
    CMAssociationMIStub(KELVA_VolumeAllocatedFromPoolProvider,
                        KELVA_VolumeAllocatedFromPoolProvider, broker, initProvkit(broker))
