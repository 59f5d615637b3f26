/* What every provider shell of the agent shares: the platform file name of an implementation
 * library and the answer to the operations a class does not offer.  The shells only adapt the
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
#define SHELL_INSTANCE_CLEANUP(PFX)                                          \
  static CMPIStatus PFX##Cleanup(CMPIInstanceMI *mi, const CMPIContext *ctx, \
                                 CMPIBoolean terminating) {                  \
    (void)mi;                                                                \
    (void)ctx;                                                               \
    (void)terminating;                                                       \
    return shellOk();                                                        \
  }

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

#endif
