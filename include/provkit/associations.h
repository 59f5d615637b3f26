/* Association traversal for association providers: enumeration of an association, association
 * GetInstance, References and ReferenceNames, Associators and AssociatorNames, with the role,
 * result-role and result-class filters of the request.  An association joins a first and a second
 * endpoint class, each served by its own implementation library; the caller names both, the
 * association class and the two reference properties (roles).  Nothing is kept between calls.
 *
 * Arrays returned are released by the caller with freeCMPIArray; filer records are the caller's.
 * Failures are raised into the status in use; functions that return a CMPIStatus use a local one
 * whose message the caller releases. */
#ifndef PROVKIT_ASSOCIATIONS_H
#define PROVKIT_ASSOCIATIONS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Modes of the array functions: the association objects that refer to the path, or the objects
 * at the other end of those associations. */
#define PK_ASSOC_MODE_REFERENCES 1
#define PK_ASSOC_MODE_ASSOCIATORS 2

/* A new array of object paths for the path on that filer (mode as above), or null. */
typedef CMPIArray *(*PKAssocNamesFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                       const CMPIObjectPath *path, const Filer *filer, int mode,
                                       CMPIStatus *status);
/* A new array of instances for the path on that filer (mode as above), or null. */
typedef CMPIArray *(*PKAssocInstancesFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                           const CMPIObjectPath *path, const Filer *filer, int mode,
                                           const char **propertyList, CMPIStatus *status);
/* Completes an association instance; an error left in status fails the whole operation. */
typedef void (*PKAssocInstanceExtFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                       CMPIStatus *status, const Filer *filer,
                                       const char **propertyList, CMPIInstance *instance);
/* Completes an association object path; an error left in status fails the whole operation. */
typedef void (*PKAssocPathExtFunc)(const CMPIBroker *broker, const CMPIContext *context,
                                   CMPIStatus *status, const Filer *filer, CMPIObjectPath *path);

/* 1 when there is no index text or its leading unsigned decimal number equals index, else 0;
 * a text that does not start with a number raises rc 1 "Failed to convert index filter". */
PK_EXPORT int passesIndexFilter(const CMPIBroker *broker, CMPIStatus *status, const char *indexText,
                                unsigned long index);

/* 1 when the role name passes the role filter (a shell-style pattern; null passes), else 0. */
PK_EXPORT int passesRoleFilter(const char *roleName, const char *roleFilter);

/* New array of the object paths that the library's enumInstNamesImpl gives for className (in the
 * source path's namespace) on the filer, or null; released by the caller with freeCMPIArray. */
PK_EXPORT CMPIArray *getBaseImplInstNames(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *source,
                                          const Filer *filer, const char *className,
                                          const char *libraryName);

/* Returns to the result the associations (instances when instancesWanted is non-zero, else
 * paths) of every element that the library enumerates on every registered filer, then calls
 * CMReturnDone; the array functions make the associations of one element (mode 1). */
PK_EXPORT CMPIStatus enumerateAssociations(const CMPIBroker *broker, const CMPIContext *context,
                                           const CMPIResult *result, const CMPIObjectPath *path,
                                           int instancesWanted, const char **propertyList,
                                           const char *libraryName, PKAssocNamesFunc namesFunc,
                                           PKAssocInstancesFunc instancesFunc);

/* enumerateAssociations collecting into *place (an array or null, released by the caller with
 * freeCMPIArray) instead of a result; on failure *place is freed and set to null. */
PK_EXPORT CMPIStatus enumerateAssociationsWithArray(
    const CMPIBroker *broker, const CMPIContext *context, CMPIArray **place,
    const CMPIObjectPath *path, int instancesWanted, const char **propertyList,
    const char *libraryName, PKAssocNamesFunc namesFunc, PKAssocInstancesFunc instancesFunc);

/* New CMPI_instanceA array of the associations of source on the filer: in mode 1 built from the
 * library's getAssociatorPathImpl (first role refers to source, second to each path) and
 * completed by ext when not null, in other modes getAssociatorInstanceImpl's array; first and
 * second go to the library unread.  Null on failure; released by the caller with freeCMPIArray. */
PK_EXPORT CMPIArray *getExtendedInstancesFromGivenPath(
    const CMPIBroker *broker, const CMPIContext *context, const CMPIObjectPath *source,
    const Filer *filer, const void *first, const void *second, int mode, const char **propertyList,
    const char *libraryName, const char *assocClass, const char *firstRole, const char *secondRole,
    PKAssocInstanceExtFunc ext, CMPIStatus *status);

/* getExtendedInstancesFromGivenPath without an extension function. */
PK_EXPORT CMPIArray *getInstancesFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                               const CMPIObjectPath *source, const Filer *filer,
                                               const void *first, const void *second, int mode,
                                               const char **propertyList, const char *libraryName,
                                               const char *assocClass, const char *firstRole,
                                               const char *secondRole, CMPIStatus *status);

/* New CMPI_refA array of association paths of source on the filer (mode 1, completed by ext when
 * not null), or getAssociatorPathImpl's array in other modes; null on failure.  Released by the
 * caller with freeCMPIArray. */
PK_EXPORT CMPIArray *getExtendedPathsFromGivenPath(const CMPIBroker *broker,
                                                   const CMPIContext *context,
                                                   const CMPIObjectPath *source, const Filer *filer,
                                                   const void *first, const void *second, int mode,
                                                   const char *libraryName, const char *assocClass,
                                                   const char *firstRole, const char *secondRole,
                                                   PKAssocPathExtFunc ext, CMPIStatus *status);

/* getExtendedPathsFromGivenPath without an extension function. */
PK_EXPORT CMPIArray *getPathsFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                           const CMPIObjectPath *source, const Filer *filer,
                                           const void *first, const void *second, int mode,
                                           const char *libraryName, const char *assocClass,
                                           const char *firstRole, const char *secondRole,
                                           CMPIStatus *status);

/* Association GetInstance: returns the association instance of path when both of its references
 * exist (rc 6 "First/Second instance of association not found" otherwise), completed by ext when
 * not null; CMReturnDone is called on every path. */
PK_EXPORT CMPIStatus getExtendedAssociationInstance(
    const CMPIBroker *broker, const CMPIContext *context, const CMPIResult *result,
    const CMPIObjectPath *path, const char **propertyList, const char *assocClass,
    const char *firstLibrary, const char *secondLibrary, const char *firstRole,
    const char *secondRole, PKAssocInstanceExtFunc ext);

/* getExtendedAssociationInstance without an extension function. */
PK_EXPORT CMPIStatus getAssociationInstance(const CMPIBroker *broker, const CMPIContext *context,
                                            const CMPIResult *result, const CMPIObjectPath *path,
                                            const char **propertyList, const char *assocClass,
                                            const char *firstLibrary, const char *secondLibrary,
                                            const char *firstRole, const char *secondRole);

/* References and ReferenceNames of path (resultClass is not read): returns the associations
 * that refer to it when its role passes the role filter; CMReturnDone is left to the caller. */
PK_EXPORT CMPIStatus
associationReferences(const CMPIBroker *broker, const CMPIContext *context,
                      const CMPIResult *result, const CMPIObjectPath *path, const char *resultClass,
                      const char *role, int instancesWanted, const char **propertyList,
                      const char *firstClass, const char *secondClass, const char *firstLibrary,
                      const char *secondLibrary, const char *firstRole, const char *secondRole,
                      PKAssocInstancesFunc firstInstances, PKAssocInstancesFunc secondInstances,
                      PKAssocNamesFunc firstNames, PKAssocNamesFunc secondNames);

/* AssociatorNames of path: returns the paths at the other end that pass the role, result-role
 * and result-class filters, then CMReturnDone (not called when the status holds an error). */
PK_EXPORT CMPIStatus associationAssociatorNames(
    const CMPIBroker *broker, const CMPIContext *context, const CMPIResult *result,
    const CMPIObjectPath *path, const char *resultClass, const char *role, const char *resultRole,
    const char *firstClass, const char *secondClass, const char *firstLibrary,
    const char *secondLibrary, const char *firstRole, const char *secondRole,
    PKAssocNamesFunc firstNames, PKAssocNamesFunc secondNames);

/* Associators of path: associationAssociatorNames with instances filtered by propertyList. */
PK_EXPORT CMPIStatus associationAssociators(const CMPIBroker *broker, const CMPIContext *context,
                                            const CMPIResult *result, const CMPIObjectPath *path,
                                            const char *resultClass, const char *role,
                                            const char *resultRole, const char **propertyList,
                                            const char *firstClass, const char *secondClass,
                                            const char *firstLibrary, const char *secondLibrary,
                                            const char *firstRole, const char *secondRole,
                                            PKAssocInstancesFunc firstInstances,
                                            PKAssocInstancesFunc secondInstances);

/* Returns the array's elements (CMPI_refA or CMPI_instanceA) of resultClass or a subclass (all
 * when resultClass is null) to the result and calls CMReturnDone; the array stays the caller's. */
PK_EXPORT CMPIStatus applyResultClass(const CMPIBroker *broker, const CMPIContext *context,
                                      const CMPIResult *result, const CMPIArray *array,
                                      CMPIType arrayType, const char *resultClass);

/* applyResultClass into the caller's status, without CMReturnDone. */
PK_EXPORT void applyResultClassStatus(const CMPIBroker *broker, const CMPIContext *context,
                                      const CMPIResult *result, const CMPIArray *array,
                                      CMPIType arrayType, const char *resultClass,
                                      CMPIStatus *status);

PK_END_DECLS

#endif
