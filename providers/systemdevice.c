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

/* From a system: its volumes (or the associations to them, by mode). */
static CMPIArray *pathsFromSystem(const CMPIBroker *b, const CMPIContext *ctx,
                                  const CMPIObjectPath *path, const Filer *filer, int mode,
                                  CMPIStatus *status) {
  return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ASSOC_LIB, ASSOC_CLASS,
                               SYSTEM_ROLE, VOLUME_ROLE, status);
}
static CMPIArray *pathsFromVolume(const CMPIBroker *b, const CMPIContext *ctx,
                                  const CMPIObjectPath *path, const Filer *filer, int mode,
                                  CMPIStatus *status) {
  return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ASSOC_LIB, ASSOC_CLASS,
                               VOLUME_ROLE, SYSTEM_ROLE, status);
}
static CMPIArray *instancesFromSystem(const CMPIBroker *b, const CMPIContext *ctx,
                                      const CMPIObjectPath *path, const Filer *filer, int mode,
                                      const char **properties, CMPIStatus *status) {
  return getInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties, ASSOC_LIB,
                                   ASSOC_CLASS, SYSTEM_ROLE, VOLUME_ROLE, status);
}
static CMPIArray *instancesFromVolume(const CMPIBroker *b, const CMPIContext *ctx,
                                      const CMPIObjectPath *path, const Filer *filer, int mode,
                                      const char **properties, CMPIStatus *status) {
  return getInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties, ASSOC_LIB,
                                   ASSOC_CLASS, VOLUME_ROLE, SYSTEM_ROLE, status);
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

SHELL_INSTANCE_CLEANUP(KELVA_SystemDeviceProvider)

static CMPIStatus KELVA_SystemDeviceProviderEnumInstanceNames(CMPIInstanceMI *mi,
                                                              const CMPIContext *ctx,
                                                              const CMPIResult *rslt,
                                                              const CMPIObjectPath *ref) {
  (void)mi;
  return enumerateAssociations(broker, ctx, rslt, ref, 0, NULL, SYSTEM_LIB, pathsFromSystem,
                               instancesFromSystem);
}

static CMPIStatus KELVA_SystemDeviceProviderEnumInstances(CMPIInstanceMI *mi,
                                                          const CMPIContext *ctx,
                                                          const CMPIResult *rslt,
                                                          const CMPIObjectPath *ref,
                                                          const char **properties) {
  (void)mi;
  return enumerateAssociations(broker, ctx, rslt, ref, 1, properties, SYSTEM_LIB, pathsFromSystem,
                               instancesFromSystem);
}

static CMPIStatus KELVA_SystemDeviceProviderGetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,
                                                        const CMPIResult *rslt,
                                                        const CMPIObjectPath *cop,
                                                        const char **properties) {
  (void)mi;
  return getAssociationInstance(broker, ctx, rslt, cop, properties, ASSOC_CLASS, SYSTEM_LIB,
                                VOLUME_LIB, SYSTEM_ROLE, VOLUME_ROLE);
}

SHELL_REFUSE_CREATE(KELVA_SystemDeviceProvider, "KELVA_SystemDevice: a volume belongs to its filer")

SHELL_REFUSE_MODIFY(KELVA_SystemDeviceProvider, "KELVA_SystemDevice cannot be modified")

SHELL_REFUSE_DELETE(KELVA_SystemDeviceProvider, "KELVA_SystemDevice: a volume belongs to its filer")

SHELL_REFUSE_QUERY(KELVA_SystemDeviceProvider, "KELVA_SystemDevice does not answer queries")

/* ---- The association ------------------------------------------------------------------- */

static CMPIStatus KELVA_SystemDeviceProviderAssociationCleanup(CMPIAssociationMI *mi,
                                                               const CMPIContext *ctx,
                                                               CMPIBoolean terminating) {
  (void)mi;
  (void)ctx;
  (void)terminating;
  return shellOk();
}

static CMPIStatus KELVA_SystemDeviceProviderAssociators(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *assocClass, const char *resultClass, const char *role, const char *resultRole,
    const char **properties) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, assocClass, &status);
  (void)mi;
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  return associationAssociators(broker, ctx, rslt, op, resultClass, role, resultRole, properties,
                                SYSTEM_CLASS, VOLUME_CLASS, SYSTEM_LIB, VOLUME_LIB, SYSTEM_ROLE,
                                VOLUME_ROLE, instancesFromSystem, instancesFromVolume);
}

static CMPIStatus KELVA_SystemDeviceProviderAssociatorNames(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *assocClass, const char *resultClass, const char *role, const char *resultRole) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, assocClass, &status);
  (void)mi;
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  return associationAssociatorNames(broker, ctx, rslt, op, resultClass, role, resultRole,
                                    SYSTEM_CLASS, VOLUME_CLASS, SYSTEM_LIB, VOLUME_LIB, SYSTEM_ROLE,
                                    VOLUME_ROLE, pathsFromSystem, pathsFromVolume);
}

/* References leave CMReturnDone to the caller, and only a good status ends in it. */
static CMPIStatus references(const CMPIContext *ctx, const CMPIResult *rslt,
                             const CMPIObjectPath *op, const char *resultClass, const char *role,
                             int instancesWanted, const char **properties) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  int passes = passesAssocClass(op, resultClass, &status);
  if (passes <= 0) return passes < 0 ? status : doneWithNothing(rslt);
  status = associationReferences(broker, ctx, rslt, op, resultClass, role, instancesWanted,
                                 properties, SYSTEM_CLASS, VOLUME_CLASS, SYSTEM_LIB, VOLUME_LIB,
                                 SYSTEM_ROLE, VOLUME_ROLE, instancesFromSystem, instancesFromVolume,
                                 pathsFromSystem, pathsFromVolume);
  if (status.rc == CMPI_RC_OK) CMReturnDone(rslt);
  return status;
}

static CMPIStatus KELVA_SystemDeviceProviderReferences(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *resultClass, const char *role, const char **properties) {
  (void)mi;
  return references(ctx, rslt, op, resultClass, role, 1, properties);
}

static CMPIStatus KELVA_SystemDeviceProviderReferenceNames(
    CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,
    const char *resultClass, const char *role) {
  (void)mi;
  return references(ctx, rslt, op, resultClass, role, 0, NULL);
}

CMInstanceMIStub(KELVA_SystemDeviceProvider, KELVA_SystemDeviceProvider, broker,
                 initProvkit(broker))
    CMAssociationMIStub(KELVA_SystemDeviceProvider, KELVA_SystemDeviceProvider, broker,
                        initProvkit(broker))
