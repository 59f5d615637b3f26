/* Keys, properties and method parameters read with their types and states tested, and the
 * checks that providers make against a filer (empty values, object existence).  A copy is a new
 * text freed by the caller with wsifree; a borrowed text or object belongs to the CMPI object it
 * was read from and lives as long as it.  The label argument names the caller (class or method)
 * at the start of the messages. */
#ifndef PROVKIT_PROPERTIES_H
#define PROVKIT_PROPERTIES_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Reads a property value for retrieveDataFromInstanceProperty: gets the caller's value, the
 * status, the property's value and 0, and returns what the caller wants back. */
typedef void *(*PKPropertyReader)(void *callerValue, CMPIStatus *status, const CMPIValue *value,
                                  int flag);

/* The first 32 bits of the key's value, types not checked; 0 with the reason in status. */
PK_EXPORT int getKeyAsInt(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName);

/* New copy of a string key, freed by the caller with wsifree; null with the reason in status. */
PK_EXPORT char *getKeyAsChar(CMPIStatus *status, const CMPIObjectPath *path, const char *keyName);

/* The text of a string key, borrowed from the path; null with the reason in status. */
PK_EXPORT const char *getKeyAsConstChar(CMPIStatus *status, const CMPIObjectPath *path,
                                        const char *keyName);

/* The key's data (owned by the path), with a missing value or a type other than expected raised
 * into status. */
PK_EXPORT CMPIData getObjectPathKey(const CMPIBroker *broker, CMPIStatus *status,
                                    const CMPIObjectPath *path, const char *keyName,
                                    CMPIType expected);

/* New copy of a string property, freed by the caller with wsifree; null for a null string or
 * with the reason in status. */
PK_EXPORT char *getPropertyAsChar(const CMPIBroker *broker, CMPIStatus *status,
                                  const CMPIInstance *instance, const char *name);

/* The property's data (owned by the instance) when present, of the expected type and good; an
 * absent optional property gives the expected type with CMPI_nullValue; otherwise type 0 with
 * CMPI_badValue and the reason in status. */
PK_EXPORT CMPIData getEmbPropertyFromInst(const CMPIBroker *broker, const char *name,
                                          const char *label, CMPIType expected,
                                          const CMPIInstance *instance, int required,
                                          CMPIStatus *status);

/* What reader returns for the property's non-null value (borrowed by reader and released
 * afterwards), or null when it cannot be read. */
PK_EXPORT void *retrieveDataFromInstanceProperty(void *callerValue, const CMPIInstance *instance,
                                                 const char *name, PKPropertyReader reader,
                                                 CMPIStatus *status);

/* 1 with the argument's data (owned by args) in *dataOut when the parameter is present and good;
 * else 0, with a malformed value raised into status. */
PK_EXPORT int isParamPresent(const char *label, const CMPIBroker *broker, const CMPIArgs *args,
                             const char *name, CMPIData *dataOut, CMPIStatus *status);

/* The array (owned by args) of an embedded-instance array parameter; null when it is absent or
 * null, or with the reason in status. */
PK_EXPORT CMPIArray *getEmbeddedArrParam(const CMPIBroker *broker, const CMPIArgs *args,
                                         const char *name, const char *label, CMPIStatus *status);

/* The data's text (borrowed) when it is a good, non-null CMPI_string, else null. */
PK_EXPORT const char *getStringFromCMPIData(CMPIData data);

/* The data's array (borrowed) when it is a good array value, else null. */
PK_EXPORT CMPIArray *getArrayFromCMPIData(CMPIData data);

/* 1 when a filer request that failed with errorNumber stands for an empty value on this filer's
 * OS version, else 0; a failure to read the version is raised into status. */
PK_EXPORT int checkForNull(const CMPIBroker *broker, int errorNumber, CMPIStatus *status,
                           const Filer *filer);

/* Whether the object exists, as the implementation library's existsImpl says; it may store a copy
 * of the object's filer record in *filerOut, freed by the caller with freeFiler. */
PK_EXPORT int verifyObject(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, const char *libraryName, Filer **filerOut,
                           CMPIStatus *status);

PK_END_DECLS

#endif
