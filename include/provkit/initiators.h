/* Initiators of a filer: the members of its initiator groups, listed live, and
 * the hardware IDs that clients created and that wait in the hardware ID cache
 * (hwidcache.h) until they join a group.  Failures are recorded in the caller's
 * controller status record. */
#ifndef PROVKIT_INITIATORS_H
#define PROVKIT_INITIATORS_H

#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* The igroup name of an initiator that comes from the hardware ID cache. */
#define KELVA_CACHED_INITIATOR_IGROUP "@@CACHED@@"

/* One initiator; the four texts are owned by the record. */
typedef struct KELVAInitiator {
  char *name;       /* iSCSI node name or FC port name */
  char *type;       /* initiator type ("iscsi", "fcp") */
  char *osType;     /* operating-system type */
  char *igroupName; /* the igroup holding it, or "@@CACHED@@" */
} KELVAInitiator;

/* New record with copies of the four texts (note the order: igroup before OS type);
 * NULL when memory runs out.  Free with freeKELVAInitiator. */
PK_EXPORT KELVAInitiator *newKELVAInitiator(const char *name, const char *type,
                                            const char *igroupName, const char *osType);
/* Frees the record and its texts; NULL is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeKELVAInitiator(void *initiator);
/* Appends the members of the filer's igroups passing the filters (one record per igroup
 * membership, or per name when unique is non-zero) to resultList and returns how many.
 * Records appended before a failure stay the caller's. */
PK_EXPORT int getFilerInitiators(const Filer *filer, const char *igroupFilter,
                                 const char *initiatorFilter, const char *osFilter, int unique,
                                 WSIList *resultList, KELVAStatus *status);
/* As getFilerInitiators, then (without an igroup filter) the filer's cached initiators that
 * joined no igroup yet; cached ones that did are dropped from the cache.  Returns the count. */
PK_EXPORT int getAllInitiators(const Filer *filer, const char *igroupFilter,
                               const char *initiatorFilter, const char *osFilter, int unique,
                               WSIList *resultList, KELVAStatus *status);
/* Caches a new initiator of the filer ("HardwareID already exists" when it is cached). */
PK_EXPORT void addInitiator(const Filer *filer, const char *name, const char *type,
                            const char *osType, KELVAStatus *status);
/* 1 when the record came from the hardware ID cache, else 0. */
PK_EXPORT int isCachedInitator(const KELVAInitiator *initiator);
/* Drops the filer's cached initiator of that name, if it is cached. */
PK_EXPORT void deleteCachedInitiator(const Filer *filer, const char *name, KELVAStatus *status);
/* Drops the initiator from the cache and removes it from every igroup of the filer. */
PK_EXPORT void deleteInitiator(const Filer *filer, const char *name, KELVAStatus *status);
/* The default OS setting "default": a shared constant, neither changed nor freed. */
PK_EXPORT const char *getDefaultSettingOS(void);

PK_END_DECLS

#endif
