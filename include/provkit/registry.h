/* The filer registry: the process-wide list of managed filers, kept in memory and
 * persisted in filers.dat (replaced through filers.dat.tmp, the previous version kept
 * as filers.dat.back).  Subscribers hear of every addition and removal.
 *
 * Records handed to callers are copies (copyFiler): the caller frees a record with
 * freeFiler and a list with freeFilers.  Failures are raised into the caller's status
 * with rc 1 unless a function says otherwise; the status owns its message string. */
#ifndef PROVKIT_REGISTRY_H
#define PROVKIT_REGISTRY_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Event codes given to a FilerChangeCallback. */
#define FILER_CHANGE_ADDED 0   /* a filer was added */
#define FILER_CHANGE_REMOVED 1 /* a filer was removed */

/* Told of a registry change: the event code and the filer (borrowed for the call). Runs
 * under the subscriber lock, so it must not subscribe or unsubscribe. */
typedef void (*FilerChangeCallback)(int32_t eventCode, const Filer *filer);

/* Adds the filer to filers.dat, then to the list, and notifies; a record whose fields
 * would not read back from the file the same (':' in systemId or userName, a host with
 * ':' outside brackets, a line end anywhere) is refused.  The registry owns the record
 * once it is listed (on success, and when only the cloning node failed), else the caller
 * keeps it.  The caller releases the returned status's message string. */
PK_EXPORT CMPIStatus addFilerToList(const CMPIBroker *broker, Filer *filer);

/* Removes the registered record with the filer's systemId (freed by the registry),
 * rewrites filers.dat and notifies; the caller keeps its own record. */
PK_EXPORT void removeFilerFromList(const CMPIBroker *broker, CMPIStatus *status,
                                   const Filer *filer);

/* Removes oldFiler then adds newFiler; status takes the add's result, and newFiler's
 * ownership follows addFilerToList.  The caller keeps oldFiler. */
PK_EXPORT void modifyFiler(const CMPIBroker *broker, CMPIStatus *status, const Filer *oldFiler,
                           Filer *newFiler);

/* New list of copies of every registered filer, in registry order, or null on failure;
 * the caller frees it with freeFilers. */
PK_EXPORT WSIList *getFilerList(const CMPIBroker *broker, CMPIStatus *status);

/* getFilerList for providers (context and path unused); a null list always comes with an
 * error.  The caller frees the list with freeFilers. */
PK_EXPORT WSIList *getFilers(CMPIStatus *status, const CMPIBroker *broker,
                             const CMPIContext *context, const CMPIObjectPath *path);

/* New copy of the first filer whose systemId equals systemId, or null (not an error when
 * none matches); the caller frees it with freeFiler. */
PK_EXPORT Filer *filerExists(const CMPIBroker *broker, CMPIStatus *status, const char *systemId);

/* filerExists for providers (context and path unused); none raises CMPI_RC_ERR_NOT_FOUND.
 * The caller frees the copy with freeFiler. */
PK_EXPORT Filer *getFilerByName(CMPIStatus *status, const CMPIBroker *broker,
                                const CMPIContext *context, const CMPIObjectPath *path,
                                const char *systemId);

/* New copy of the first filer with this host and connParam2, or null; the caller frees it
 * with freeFiler. */
PK_EXPORT Filer *filerExistsFromKeys(const CMPIBroker *broker, CMPIStatus *status, const char *host,
                                     int connParam2);

/* New copy of the first filer (asking each filer for its IPv4 addresses) that has the
 * address, or null; the caller frees it with freeFiler. */
PK_EXPORT Filer *findFilerByIPAddress(const CMPIBroker *broker, const char *address,
                                      CMPIStatus *status);

/* Appends callback to the subscribers; reserved is not read. */
PK_EXPORT void subscribeToFilerChange(const CMPIBroker *broker, void *reserved,
                                      FilerChangeCallback callback);

/* Removes callback from the subscribers; reserved is not read. */
PK_EXPORT void unsubscribeToFilerChange(const CMPIBroker *broker, void *reserved,
                                        FilerChangeCallback callback);

/* Stores filer in *place when place is not null and status holds no error; otherwise
 * frees it with freeFiler.  A null status counts as good. */
PK_EXPORT void returnOrFreeFiler(Filer *filer, Filer **place, const CMPIStatus *status);

PK_END_DECLS

#endif
