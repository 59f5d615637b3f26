/* Object paths in the namespace of a request. */
#ifndef PROVKIT_OBJECTPATH_H
#define PROVKIT_OBJECTPATH_H

#include <cmpidt.h>
#include <cmpift.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* New object path of className in the namespace and host of source, released by the caller with
 * CMRelease; null with the reason in status when a step fails or status was not good. */
PK_EXPORT CMPIObjectPath *createCMPIObjectPath(const CMPIBroker *broker, CMPIStatus *status,
                                               const CMPIObjectPath *source, const char *className);

/* New copy of the path's namespace, freed by the caller with wsifree; null with the reason in
 * status. */
PK_EXPORT char *getNamespaceAsChar(const CMPIBroker *broker, const CMPIObjectPath *path,
                                   CMPIStatus *status);

PK_END_DECLS

#endif
