/* Generic provider operations: a provider's instance and method entry points hand each request
 * here with the file name of its class's implementation library, which is loaded for the call,
 * run (once, or once per registered filer) and unloaded again.  Each operation returns a CMPI
 * status whose message the caller releases, and calls CMReturnDone on the result whatever
 * happened.  Also the small pieces that implementation libraries and the indication machine
 * share: a name-value variable record, the initiator group comparison, and the enumeration and
 * comparison of association elements. */
#ifndef PROVKIT_OPERATIONS_H
#define PROVKIT_OPERATIONS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsiruntime.h>

#include "associations.h"
#include "pk_export.h"
#include "properties.h"

PK_BEGIN_DECLS

/* A named variable.  The record is made with wsicalloc; value is a string for a plain variable,
 * and a value of type CMPI_charsptr is released with release. */
typedef struct varListData {
  void *value;
  uint32_t type; /* CMPI type code of value */
  char *name;
  void (*release)(void *value);
} varListData;

/* Releases an association element's data that an extractor returned. */
typedef void (*PKElementRelease)(void *element);

/* Returns to the result every instance (instancesWanted non-zero) or object path that the
 * library's enumInstancesImpl or enumInstNamesImpl gives for each registered filer; a filer
 * that fails is logged and skipped. */
PK_EXPORT CMPIStatus enumerateInstances(const CMPIBroker *broker, const CMPIContext *context,
                                        const CMPIResult *result, const CMPIObjectPath *path,
                                        int instancesWanted, const char **propertyList,
                                        const char *libraryName);

/* Returns the instance that the library's getInstanceImpl makes; rc 1 without a message when
 * the implementation left the status as it found it. */
PK_EXPORT CMPIStatus getProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                                         const CMPIResult *result, const CMPIObjectPath *path,
                                         const char **propertyList, const char *libraryName);

/* Runs the library's setInstanceImpl and returns the caller's instance when it succeeded;
 * rc 7 when the library has no setInstanceImpl. */
PK_EXPORT CMPIStatus setProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                                         const CMPIResult *result, const CMPIObjectPath *path,
                                         const CMPIInstance *instance, const char **propertyList,
                                         const char *libraryName);

/* Runs the library's deleteInstanceImpl; rc 7 when the library has none. */
PK_EXPORT CMPIStatus deleteProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                                            const CMPIResult *result, const CMPIObjectPath *path,
                                            const char *libraryName);

/* Runs the library's invokeMethodImpl and returns its value to the result when it succeeded;
 * out receives the method's output arguments. */
PK_EXPORT CMPIStatus invokeProviderMethod(const CMPIBroker *broker, const CMPIContext *context,
                                          const CMPIResult *result, const CMPIObjectPath *path,
                                          const char *methodName, const CMPIArgs *in, CMPIArgs *out,
                                          const char *libraryName);

/* Releases a CMPI_charsptr value through its release function and frees the name (wsifree);
 * the record itself and other values stay the caller's.  A null record is ignored. */
PK_EXPORT void free_varListData(varListData *record);

/* New record (wsicalloc) with wsistrdup copies of the value (a string) and the name, the same
 * type and release function; the caller frees it with free_varListData, then the value when that
 * did not release it, and the record with wsifree.  Null when any allocation fails. */
PK_EXPORT varListData *copy_varListData(const varListData *record);

/* 1 when the two initiator group records (KELVAIGroup) are the same, by name alone when
 * keysOnly is non-zero, else by every field; 0 when they differ.  Both null are the same. */
PK_EXPORT int compareIGroupElements(const void *first, const void *second, int keysOnly);

/* New list of the association instances of every element the library enumerates (made by
 * instancesFunc), freed by the caller with freeCMPIObjectList and CMPI_instance; null with the
 * reason in status. */
PK_EXPORT WSIList *enumAssoIndElements(const CMPIBroker *broker, const CMPIContext *context,
                                       CMPIStatus *status, const CMPIObjectPath *path,
                                       const char *libraryName, PKAssocInstancesFunc instancesFunc);

/* 1 when both references of the two association instances designate the same elements, as the
 * two libraries' compareIndElements tell by keys, else 0.  The extractors read a reference
 * property (given the broker as caller value) and their results are released with the matching
 * release function.  Problems are logged and never left in a status; reserved is not read. */
PK_EXPORT int compareAssoIndElements(const CMPIBroker *broker, const CMPIInstance *first,
                                     const CMPIInstance *second, int reserved,
                                     const char *firstProperty, const char *secondProperty,
                                     const char *firstLibrary, const char *secondLibrary,
                                     PKPropertyReader firstExtractor,
                                     PKPropertyReader secondExtractor,
                                     PKElementRelease firstRelease, PKElementRelease secondRelease);

PK_END_DECLS

#endif
