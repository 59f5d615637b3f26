/* Conversions between the controller library's lists and CMPI arrays, merging, freeing and
 * returning CMPI arrays, and small array and list builders.  An object manager may keep the very
 * object set into an array element, so an object set into an array is released with the array,
 * by freeCMPIArray, not before; arrays of plain values may go with CMRelease.  Failures are
 * raised into status. */
#ifndef PROVKIT_ARRAYS_H
#define PROVKIT_ARRAYS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Stores in *arrayOut a new array of type with as many elements as source has (0 for none) and
 * that count in *sizeOut; context is not read.  The caller releases the array. */
PK_EXPORT void createSimilarArray(const CMPIBroker *broker, const CMPIContext *context,
                                  const CMPIArray *source, CMPIType type, CMPIArray **arrayOut,
                                  CMPICount *sizeOut, CMPIStatus *status);

/* Hands every instance (CMPI_instanceA) or object path (CMPI_refA) of the array to the result;
 * another array type sets rc 13.  The array stays the caller's; CMReturnDone is left to it. */
PK_EXPORT void returnArray(const CMPIArray *array, const CMPIResult *result, CMPIType arrayType,
                           CMPIStatus *status);

/* Sets element index of the array to value as CMPI_uint16; a null array does nothing. */
PK_EXPORT void addUINT16ToArray(CMPIStatus *status, CMPIUint16 value, CMPIArray *array,
                                CMPICount index);

/* Sets element index of the array to string, which the array may keep as it is: on success the
 * string goes with the array (freeCMPIArray); on failure it stays the caller's. */
PK_EXPORT void addSTRINGToArray(const CMPIBroker *broker, CMPIStatus *status, CMPIString *string,
                                CMPIArray *array, CMPICount index);

/* Adds to args, under name, a one-element CMPI_uint64A array holding *size. */
PK_EXPORT void setSizesArgument(const CMPIBroker *broker, CMPIStatus *status, const char *name,
                                const CMPIUint64 *size, CMPIArgs *args);

/* Releases each element of the list when type is CMPI_instance or CMPI_ref, then frees the list;
 * any other type frees the list alone. */
PK_EXPORT void freeCMPIObjectList(const CMPIBroker *broker, WSIList *list, CMPIType type);

/* New list of the instances or object paths of the array, borrowed from it (free the list with
 * freeCMPIObjectList and type 0 before releasing the array); null for no array or on failure. */
PK_EXPORT WSIList *mapCMPIArrayToList(const CMPIBroker *broker, CMPIStatus *status,
                                      const CMPIArray *array);

/* Joins second onto the array in *place; on success *place holds the result (a new array of
 * clones of both, or the one non-empty input) and the inputs it does not reuse are freed with
 * freeCMPIArray; on failure both stay the caller's. */
PK_EXPORT void mergeCMPIArray(const CMPIBroker *broker, CMPIArray **place, CMPIArray *second,
                              CMPIStatus *status);

/* Releases each string, instance, date-time and path read from the array, then the array. */
PK_EXPORT void freeCMPIArray(CMPIArray *array);

/* New array of arrayType holding the values the list's elements point to (instances and object
 * paths themselves, which stay their owner's: release that array with CMRelease); null for an
 * empty list or with the reason in status.  The list stays the caller's. */
PK_EXPORT CMPIArray *convertListToArray(const CMPIBroker *broker, CMPIStatus *status, WSIList *list,
                                        CMPIType arrayType);

/* Appends a new two-byte block holding value to the list (freed with WSIList_free and wsifree);
 * does nothing when status is not good. */
PK_EXPORT void addUINT16ToList(const CMPIBroker *broker, CMPIStatus *status, CMPIUint16 value,
                               WSIList *list);

/* New CMPI_uint16A array of the list's values in list order, released by the caller. */
PK_EXPORT CMPIArray *createArrayFromUINT16List(const CMPIBroker *broker, CMPIStatus *status,
                                               WSIList *list);

/* New CMPI_stringA array of new strings of the list's texts in list order, freed by the caller
 * with freeCMPIArray; null on failure. */
PK_EXPORT CMPIArray *createArrayFromCHARList(const CMPIBroker *broker, CMPIStatus *status,
                                             WSIList *list);

/* 1 when text equals (case ignored) an entry of the null-terminated table, else 0. */
PK_EXPORT int containsString(const char *text, const char **table);

/* Does nothing; kept for providers that call it. */
PK_EXPORT void addEmptyPropertyArray(void);

PK_END_DECLS

#endif
