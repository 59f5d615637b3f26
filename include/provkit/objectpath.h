/* Object paths and association instances in the namespace of a request, class tests and the
 * agent's two namespace names.  A copy is a new text freed by the caller with wsifree; a
 * borrowed text belongs to the broker's object and lives as long as it. */
#ifndef PROVKIT_OBJECTPATH_H
#define PROVKIT_OBJECTPATH_H

#include <cmpidt.h>
#include <cmpift.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* The namespace of the agent's classes, "root/kelva" (a constant, not to be freed). */
PK_EXPORT const char *getKELVANamespace(void);

/* The namespace of the interoperability classes, "interop" (a constant, not to be freed). */
PK_EXPORT const char *getINTEROPNamespace(void);

/* New object path of className with the host and namespace of source (context is not read),
 * released by the caller with CMRelease; null with the reason in status. */
PK_EXPORT CMPIObjectPath *getClassObjectPath(const CMPIBroker *broker, const CMPIContext *context,
                                             const CMPIObjectPath *source, const char *className,
                                             CMPIStatus *status);

/* New object path of className in the namespace and host of source, released by the caller with
 * CMRelease; null with the reason in status when a step fails or status was not good. */
PK_EXPORT CMPIObjectPath *createCMPIObjectPath(const CMPIBroker *broker, CMPIStatus *status,
                                               const CMPIObjectPath *source, const char *className);

/* New path of the association class in source's namespace with the two roles as reference keys,
 * released by the caller with CMRelease; null with the reason in status. */
PK_EXPORT CMPIObjectPath *newAssociationPathFromKeys(CMPIStatus *status, const CMPIBroker *broker,
                                                     const CMPIObjectPath *source,
                                                     const char *assocClass, const char *firstRole,
                                                     const CMPIObjectPath *firstRef,
                                                     const char *secondRole,
                                                     const CMPIObjectPath *secondRef);

/* New association instance whose roles selected by propertyList are set as references, released
 * by the caller with CMRelease; null with the reason in status. */
PK_EXPORT CMPIInstance *newAssociationInstFromKeys(
    CMPIStatus *status, const CMPIBroker *broker, const CMPIObjectPath *source,
    const char *assocClass, const char *firstRole, const CMPIObjectPath *firstRef,
    const char *secondRole, const CMPIObjectPath *secondRef, const char **propertyList);

/* New ManagedElement/SettingData association instance with IsDefault and IsCurrent when selected
 * (context is not read), released by the caller with CMRelease; null with the reason in status. */
PK_EXPORT CMPIInstance *settingDataInstFromKeys(const CMPIBroker *broker, CMPIStatus *status,
                                                const CMPIContext *context,
                                                const CMPIObjectPath *source,
                                                const CMPIObjectPath *managedElement,
                                                const CMPIObjectPath *settingData,
                                                const char **propertyList, const char *assocClass,
                                                CMPIUint16 isCurrent, CMPIUint16 isDefault);

/* New instance for path filtered by propertyList, released by the caller with CMRelease; null
 * when status is not good afterwards. */
PK_EXPORT CMPIInstance *newCMPIInstance(const CMPIBroker *broker, const CMPIObjectPath *path,
                                        CMPIStatus *status, const char **propertyList);

/* New copy of the path's namespace, freed by the caller with wsifree; null with the reason in
 * status. */
PK_EXPORT char *getNamespaceAsChar(const CMPIBroker *broker, const CMPIObjectPath *path,
                                   CMPIStatus *status);

/* New copy of the path's class name, freed by the caller with wsifree; null with the reason in
 * status. */
PK_EXPORT char *getObjectPathClass(const CMPIBroker *broker, const CMPIObjectPath *path,
                                   CMPIStatus *status);

/* The path's class name, borrowed from the path; null with the reason in status. */
PK_EXPORT const char *getClassNameAsConstChar(CMPIStatus *status, const CMPIObjectPath *path);

/* 1 when the path's class is className or a subclass of it, else 0. */
PK_EXPORT int classIsA(CMPIStatus *status, const CMPIBroker *broker, const CMPIObjectPath *path,
                       const char *className);

/* 1 when the path's class name equals className (case ignored), else 0; a null name gives 0. */
PK_EXPORT int classIsExact(CMPIStatus *status, const char *className, const CMPIObjectPath *path);

PK_END_DECLS

#endif
