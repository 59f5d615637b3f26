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

#endif
