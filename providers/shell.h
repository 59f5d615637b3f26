/* What every provider shell of the agent shares: the platform file name of an implementation
 * library, the answer to the operations a class does not offer, and the operations of the
 * instance and association shells that are written alike.  The shells only adapt the
 * object manager's calls; provkit and the class's implementation library do the work. */
#ifndef PROVKIT_PROVIDER_SHELL_H
#define PROVKIT_PROVIDER_SHELL_H

#include <cmpidt.h>
#include <cmpift.h>
#include <cmpimacs.h>

/* The build gives the platform's prefix and suffix of a shared library ("lib" and ".so"),
 * so that the shells hand provkit's loader the file name it opens as it is. */
#define PK_IMPLIB(name) PK_IMPLIB_PREFIX name PK_IMPLIB_SUFFIX

/* CMPI_RC_ERR_NOT_SUPPORTED with a message naming what the class does not offer; the object
 * manager takes over the message. */
static inline CMPIStatus shellNotSupported(const CMPIBroker *broker, const char *what) {
  CMPIStatus status = {CMPI_RC_ERR_NOT_SUPPORTED, NULL};
  if (broker != NULL) status.msg = CMNewString(broker, what, NULL);
  return status;
}

/* A good status without a message. */
static inline CMPIStatus shellOk(void) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  return status;
}

/* The instance operations every shell writes alike.  PFX is the provider's name as given to
 * CMInstanceMIStub; the including file defines its `broker` first.  A refused operation answers
 * CMPI_RC_ERR_NOT_SUPPORTED with WHY. */
/* A cleanup NAME of an MI of type MI (CMPIInstanceMI, CMPIMethodMI, ...) with nothing to
 * release. */
#define SHELL_CLEANUP(NAME, MI)                                                     \
  static CMPIStatus NAME(MI *mi, const CMPIContext *ctx, CMPIBoolean terminating) { \
    (void)mi;                                                                       \
    (void)ctx;                                                                      \
    (void)terminating;                                                              \
    return shellOk();                                                               \
  }

#define SHELL_INSTANCE_CLEANUP(PFX) SHELL_CLEANUP(PFX##Cleanup, CMPIInstanceMI)

/* Enumeration and get through provkit's generic operations over the implementation library. */
#define SHELL_INSTANCE_READS(PFX, IMPL)                                                         \
  static CMPIStatus PFX##EnumInstanceNames(CMPIInstanceMI *mi, const CMPIContext *ctx,          \
                                           const CMPIResult *rslt, const CMPIObjectPath *ref) { \
    (void)mi;                                                                                   \
    return enumerateInstances(broker, ctx, rslt, ref, 0, NULL, IMPL);                           \
  }                                                                                             \
  static CMPIStatus PFX##EnumInstances(CMPIInstanceMI *mi, const CMPIContext *ctx,              \
                                       const CMPIResult *rslt, const CMPIObjectPath *ref,       \
                                       const char **properties) {                               \
    (void)mi;                                                                                   \
    return enumerateInstances(broker, ctx, rslt, ref, 1, properties, IMPL);                     \
  }                                                                                             \
  static CMPIStatus PFX##GetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,                \
                                     const CMPIResult *rslt, const CMPIObjectPath *cop,         \
                                     const char **properties) {                                 \
    (void)mi;                                                                                   \
    return getProviderInstance(broker, ctx, rslt, cop, properties, IMPL);                       \
  }

#define SHELL_REFUSE_CREATE(PFX, WHY)                                                      \
  static CMPIStatus PFX##CreateInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,        \
                                        const CMPIResult *rslt, const CMPIObjectPath *cop, \
                                        const CMPIInstance *ci) {                          \
    (void)mi;                                                                              \
    (void)ctx;                                                                             \
    (void)rslt;                                                                            \
    (void)cop;                                                                             \
    (void)ci;                                                                              \
    return shellNotSupported(broker, WHY);                                                 \
  }

#define SHELL_REFUSE_MODIFY(PFX, WHY)                                                      \
  static CMPIStatus PFX##ModifyInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,        \
                                        const CMPIResult *rslt, const CMPIObjectPath *cop, \
                                        const CMPIInstance *ci, const char **properties) { \
    (void)mi;                                                                              \
    (void)ctx;                                                                             \
    (void)rslt;                                                                            \
    (void)cop;                                                                             \
    (void)ci;                                                                              \
    (void)properties;                                                                      \
    return shellNotSupported(broker, WHY);                                                 \
  }

#define SHELL_REFUSE_DELETE(PFX, WHY)                                                        \
  static CMPIStatus PFX##DeleteInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,          \
                                        const CMPIResult *rslt, const CMPIObjectPath *cop) { \
    (void)mi;                                                                                \
    (void)ctx;                                                                               \
    (void)rslt;                                                                              \
    (void)cop;                                                                               \
    return shellNotSupported(broker, WHY);                                                   \
  }

#define SHELL_REFUSE_QUERY(PFX, WHY)                                                  \
  static CMPIStatus PFX##ExecQuery(CMPIInstanceMI *mi, const CMPIContext *ctx,        \
                                   const CMPIResult *rslt, const CMPIObjectPath *ref, \
                                   const char *lang, const char *query) {             \
    (void)mi;                                                                         \
    (void)ctx;                                                                        \
    (void)rslt;                                                                       \
    (void)ref;                                                                        \
    (void)lang;                                                                       \
    (void)query;                                                                      \
    return shellNotSupported(broker, WHY);                                            \
  }

/* ---- Association shells ---------------------------------------------------------------------
 * An association between two endpoint classes, served as instances (the association objects)
 * and as an association.  Its library leads from either end to the other; the endpoint
 * classes' libraries list and check the ends. */

/* An association call names a class filter that the association ownClass must pass: the
 * association class itself or one of its superclasses.  No filter passes.  1 passes, 0 does not,
 * -1 when the check could not be made (CMPI_RC_ERR_FAILED with failure in status). */
static inline int shellPassesAssocClass(const CMPIBroker *broker, const CMPIObjectPath *source,
                                        const char *ownClass, const char *filter,
                                        const char *failure, CMPIStatus *status) {
  CMPIObjectPath *own;
  CMPIString *ns;
  CMPIBoolean passes;
  if (filter == NULL || *filter == '\0') return 1;
  ns = CMGetNameSpace(source, NULL);
  own = CMNewObjectPath(broker, ns != NULL ? CMGetCharPtr(ns) : NULL, ownClass, status);
  if (own == NULL || status->rc != CMPI_RC_OK) {
    if (own != NULL) CMRelease(own);
    status->rc = CMPI_RC_ERR_FAILED;
    status->msg = CMNewString(broker, failure, NULL);
    return -1;
  }
  passes = CMClassPathIsA(broker, own, filter, status);
  CMRelease(own);
  if (status->rc != CMPI_RC_OK) {
    status->rc = CMPI_RC_ERR_FAILED;
    status->msg = CMNewString(broker, failure, NULL);
    return -1;
  }
  return passes != 0;
}

/* The answer to a call whose filter the association does not pass: done, with nothing. */
static inline CMPIStatus shellDoneWithNothing(const CMPIResult *rslt) {
  CMPIStatus status = {CMPI_RC_OK, NULL};
  CMReturnDone(rslt);
  return status;
}

/* The walks from either end, through the association's library ALIB.  EXTEND adds what the
 * association's instances carry beyond their two references (NULL for nothing). */
#define SHELL_ASSOCIATION_ENDS(PFX, ACLASS, ALIB, ROLE1, ROLE2, EXTEND)                           \
  static CMPIArray *PFX##PathsFrom1(const CMPIBroker *b, const CMPIContext *ctx,                  \
                                    const CMPIObjectPath *path, const Filer *filer, int mode,     \
                                    CMPIStatus *status) {                                         \
    return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ALIB, ACLASS, ROLE1,      \
                                 ROLE2, status);                                                  \
  }                                                                                               \
  static CMPIArray *PFX##PathsFrom2(const CMPIBroker *b, const CMPIContext *ctx,                  \
                                    const CMPIObjectPath *path, const Filer *filer, int mode,     \
                                    CMPIStatus *status) {                                         \
    return getPathsFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, ALIB, ACLASS, ROLE2,      \
                                 ROLE1, status);                                                  \
  }                                                                                               \
  static CMPIArray *PFX##InstancesFrom1(const CMPIBroker *b, const CMPIContext *ctx,              \
                                        const CMPIObjectPath *path, const Filer *filer, int mode, \
                                        const char **properties, CMPIStatus *status) {            \
    return getExtendedInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties,   \
                                             ALIB, ACLASS, ROLE1, ROLE2, EXTEND, status);         \
  }                                                                                               \
  static CMPIArray *PFX##InstancesFrom2(const CMPIBroker *b, const CMPIContext *ctx,              \
                                        const CMPIObjectPath *path, const Filer *filer, int mode, \
                                        const char **properties, CMPIStatus *status) {            \
    return getExtendedInstancesFromGivenPath(b, ctx, path, filer, NULL, NULL, mode, properties,   \
                                             ALIB, ACLASS, ROLE2, ROLE1, EXTEND, status);         \
  }

/* Enumeration (from the first end, CLASS1 of library LIB1 in role ROLE1) and get of the
 * association's instances; SHELL_ASSOCIATION_ENDS(PFX, ...) comes first. */
#define SHELL_ASSOCIATION_READS(PFX, ACLASS, LIB1, ROLE1, LIB2, ROLE2, EXTEND)                    \
  static CMPIStatus PFX##EnumInstanceNames(CMPIInstanceMI *mi, const CMPIContext *ctx,            \
                                           const CMPIResult *rslt, const CMPIObjectPath *ref) {   \
    (void)mi;                                                                                     \
    return enumerateAssociations(broker, ctx, rslt, ref, 0, NULL, LIB1, PFX##PathsFrom1,          \
                                 PFX##InstancesFrom1);                                            \
  }                                                                                               \
  static CMPIStatus PFX##EnumInstances(CMPIInstanceMI *mi, const CMPIContext *ctx,                \
                                       const CMPIResult *rslt, const CMPIObjectPath *ref,         \
                                       const char **properties) {                                 \
    (void)mi;                                                                                     \
    return enumerateAssociations(broker, ctx, rslt, ref, 1, properties, LIB1, PFX##PathsFrom1,    \
                                 PFX##InstancesFrom1);                                            \
  }                                                                                               \
  static CMPIStatus PFX##GetInstance(CMPIInstanceMI *mi, const CMPIContext *ctx,                  \
                                     const CMPIResult *rslt, const CMPIObjectPath *cop,           \
                                     const char **properties) {                                   \
    (void)mi;                                                                                     \
    return getExtendedAssociationInstance(broker, ctx, rslt, cop, properties, ACLASS, LIB1, LIB2, \
                                          ROLE1, ROLE2, EXTEND);                                  \
  }

/* The association operations between CLASS1 (library LIB1, role ROLE1) and CLASS2; a call whose
 * class filter the association ACLASS does not pass has nothing.  References leave CMReturnDone
 * to their caller, and only a good status ends in it.  SHELL_ASSOCIATION_ENDS(PFX, ...) comes
 * first. */
#define SHELL_ASSOCIATION_MI(PFX, ACLASS, CLASS1, LIB1, ROLE1, CLASS2, LIB2, ROLE2)                \
  SHELL_CLEANUP(PFX##AssociationCleanup, CMPIAssociationMI)                                        \
  static CMPIStatus PFX##Associators(                                                              \
      CMPIAssociationMI *mi, const CMPIContext *ctx, const CMPIResult *rslt,                       \
      const CMPIObjectPath *op, const char *assocClass, const char *resultClass, const char *role, \
      const char *resultRole, const char **properties) {                                           \
    CMPIStatus status = {CMPI_RC_OK, NULL};                                                        \
    int passes = shellPassesAssocClass(broker, op, ACLASS, assocClass,                             \
                                       ACLASS ": cannot check the association class", &status);    \
    (void)mi;                                                                                      \
    if (passes <= 0) return passes < 0 ? status : shellDoneWithNothing(rslt);                      \
    return associationAssociators(broker, ctx, rslt, op, resultClass, role, resultRole,            \
                                  properties, CLASS1, CLASS2, LIB1, LIB2, ROLE1, ROLE2,            \
                                  PFX##InstancesFrom1, PFX##InstancesFrom2);                       \
  }                                                                                                \
  static CMPIStatus PFX##AssociatorNames(CMPIAssociationMI *mi, const CMPIContext *ctx,            \
                                         const CMPIResult *rslt, const CMPIObjectPath *op,         \
                                         const char *assocClass, const char *resultClass,          \
                                         const char *role, const char *resultRole) {               \
    CMPIStatus status = {CMPI_RC_OK, NULL};                                                        \
    int passes = shellPassesAssocClass(broker, op, ACLASS, assocClass,                             \
                                       ACLASS ": cannot check the association class", &status);    \
    (void)mi;                                                                                      \
    if (passes <= 0) return passes < 0 ? status : shellDoneWithNothing(rslt);                      \
    return associationAssociatorNames(broker, ctx, rslt, op, resultClass, role, resultRole,        \
                                      CLASS1, CLASS2, LIB1, LIB2, ROLE1, ROLE2, PFX##PathsFrom1,   \
                                      PFX##PathsFrom2);                                            \
  }                                                                                                \
  static CMPIStatus PFX##AllReferences(                                                            \
      const CMPIContext *ctx, const CMPIResult *rslt, const CMPIObjectPath *op,                    \
      const char *resultClass, const char *role, int instancesWanted, const char **properties) {   \
    CMPIStatus status = {CMPI_RC_OK, NULL};                                                        \
    int passes = shellPassesAssocClass(broker, op, ACLASS, resultClass,                            \
                                       ACLASS ": cannot check the association class", &status);    \
    if (passes <= 0) return passes < 0 ? status : shellDoneWithNothing(rslt);                      \
    status = associationReferences(broker, ctx, rslt, op, resultClass, role, instancesWanted,      \
                                   properties, CLASS1, CLASS2, LIB1, LIB2, ROLE1, ROLE2,           \
                                   PFX##InstancesFrom1, PFX##InstancesFrom2, PFX##PathsFrom1,      \
                                   PFX##PathsFrom2);                                               \
    if (status.rc == CMPI_RC_OK) CMReturnDone(rslt);                                               \
    return status;                                                                                 \
  }                                                                                                \
  static CMPIStatus PFX##References(CMPIAssociationMI *mi, const CMPIContext *ctx,                 \
                                    const CMPIResult *rslt, const CMPIObjectPath *op,              \
                                    const char *resultClass, const char *role,                     \
                                    const char **properties) {                                     \
    (void)mi;                                                                                      \
    return PFX##AllReferences(ctx, rslt, op, resultClass, role, 1, properties);                    \
  }                                                                                                \
  static CMPIStatus PFX##ReferenceNames(CMPIAssociationMI *mi, const CMPIContext *ctx,             \
                                        const CMPIResult *rslt, const CMPIObjectPath *op,          \
                                        const char *resultClass, const char *role) {               \
    (void)mi;                                                                                      \
    return PFX##AllReferences(ctx, rslt, op, resultClass, role, 0, NULL);                          \
  }

#endif
