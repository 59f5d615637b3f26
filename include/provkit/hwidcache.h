/* The hardware ID cache: initiators that clients created through the agent and
 * that belong to no initiator group yet, persisted in hwidcache.dat in the data
 * directory (docs/data-dir.md).  Nothing is kept in memory between calls: a
 * caller loads the cache into a list, changes it, saves it and releases it.
 *
 * Every failure is recorded in the caller's controller status record as a
 * failure whose text starts with "HardwareIDCacher: ", at most 79 characters. */
#ifndef PROVKIT_HWIDCACHE_H
#define PROVKIT_HWIDCACHE_H

#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* One cached hardware ID; the four texts are owned by the entry. */
typedef struct HardwareIDCacheEntry {
  char *filerId;  /* systemId of the filer the hardware ID belongs to */
  char *name;     /* the initiator's name as the client gave it */
  char *os;       /* its operating-system type word */
  char *type;     /* its initiator type word */
  int deleteMark; /* 1 after HardwareIDCache_markForDelete: left out of the next save */
} HardwareIDCacheEntry;

/* New list of HardwareIDCacheEntry records read from hwidcache.dat (a missing file is
 * created empty; a damaged one is set aside as hwidcache.dat.err and the backup taken);
 * NULL with the status set on failure.  Free with HardwareIDCache_release. */
PK_EXPORT WSIList *HardwareIDCache_load(KELVAStatus *status);
/* Appends an entry with copies of the four texts; "HardwareID already exists" when the
 * filer already has one of that name.  Nothing to free. */
PK_EXPORT void HardwareIDCache_add(KELVAStatus *status, const char *filerId, const char *name,
                                   const char *os, const char *type, WSIList *cache);
/* Removes and frees the filer's entry of that name; a missing one records "HarwareID not
 * found" only when reportMissing is non-zero. */
PK_EXPORT void HardwareIDCache_remove(KELVAStatus *status, const char *filerId, const char *name,
                                      int reportMissing, WSIList *cache);
/* Marks an entry of a loaded list so that the next save leaves it out; it stays in the list. */
PK_EXPORT void HardwareIDCache_markForDelete(HardwareIDCacheEntry *entry);
/* Writes every unmarked entry to hwidcache.dat through hwidcache.tmp, keeping the previous
 * file as hwidcache.dat.back; durable once it returns without failure.  The list stays the
 * caller's. */
PK_EXPORT void HardwareIDCache_save(KELVAStatus *status, WSIList *cache);
/* Frees the list and its entries; NULL is ignored. */
PK_EXPORT void HardwareIDCache_release(WSIList *cache);

PK_END_DECLS

#endif
