/* Controller library filer records, their file (filers.dat), identifiers, the
 * per-filer cloning lock, and what the library caches and reads about a filer.
 *
 * Functions that can fail take a controller status record: they set it with
 * the reason on failure and leave it alone on success. */
#ifndef WBEMKELVAI_WSIFILER_H
#define WBEMKELVAI_WSIFILER_H

#include <stdint.h>
#include <stdio.h>

#include "wsi_export.h"
#include "wsiruntime.h"

WSI_BEGIN_DECLS

/* ---- Filer records ------------------------------------------------------ */

/* A managed filer: how to reach it and as whom.  connParam1 is the transport,
 * connParam2 the TCP port and connParam3 the time-out in seconds (see wsiapi.h). */
typedef struct Filer {
  char *systemId;
  char *host;
  char *userName;
  char *password;
  int32_t connParam1;
  int32_t connParam2;
  int32_t connParam3;
} Filer;

/* New deep copy of the record (NULL texts stay NULL); NULL for NULL or when out of
 * memory.  Free with freeFiler.  Takes void* so that it serves as a WSIList copy function. */
WSI_EXPORT void *copyFiler(void *filer);
/* Frees the record and its texts; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeFiler(void *filer);
/* Frees a list of filer records with the records; NULL is ignored. */
WSI_EXPORT void freeFilers(WSIList *filers);
/* Non-zero when both records name the same filer: equal systemId and host (ASCII
 * case ignored) and equal connParam2.  Two NULL records are the same. */
WSI_EXPORT int areFilersSame(const Filer *a, const Filer *b);

/* ---- Data directory and filers.dat -------------------------------------- */

/* Name of the environment variable that sets the data directory. */
#define WSI_DATA_DIR_ENV "KELVA_DATA_DIR"

/* New text: the data directory ($KELVA_DATA_DIR, else a directory under the user's
 * home or profile, never a shared folder; see docs/data-dir.md), created when missing;
 * NULL with the status set on failure.  Free with wsifree. */
WSI_EXPORT char *buildDatFilePath(KELVAStatus *status);
/* New text: path of filers.dat in the data directory; NULL with the status set on failure. */
WSI_EXPORT char *buildFilerDatPath(KELVAStatus *status);
/* New text: path of filers.dat.tmp in the data directory; NULL with the status set on failure. */
WSI_EXPORT char *buildFilerTmpPath(KELVAStatus *status);
/* New text: path of filers.dat.back in the data directory; NULL with the status set on failure. */
WSI_EXPORT char *buildFilerBackPath(KELVAStatus *status);

/* Obfuscates a filers.dat line in place, keeping its length: printable characters are
 * turned into other printable characters, so no field (the password included) stays
 * readable and no line end appears.  Returns line (NULL for NULL). */
WSI_EXPORT char *basicEncode(char *line);
/* Writes an encoded line and its line end to the open file and restricts the file to
 * its owner; non-zero on success. */
WSI_EXPORT int writeFilerToDisk(KELVAStatus *status, FILE *file, const char *encodedLine);
/* Appends a new record to filers for each line of filers.dat, decoding it; a missing
 * file appends nothing and succeeds.  Malformed lines are logged and skipped, and the
 * file as read is then kept as filers.dat.rejected.  Non-zero on success, 0 with the
 * status set when the file cannot be read or is not a regular file of at most 4 MiB. */
WSI_EXPORT int getFilersFromDiskFile(KELVAStatus *status, WSIList *filers);
/* Copies the regular file from (at most 4 MiB, not through a link) to a new file to,
 * owner-only, replacing whatever is at to without following a link.  When from does
 * not exist, to is made empty and the copy succeeds.  Non-zero on success. */
WSI_EXPORT int copyFilerDat(KELVAStatus *status, const char *from, const char *to);

/* ---- Identifiers and property lists -------------------------------------- */

/* New InstanceID "KELVA:<systemId>:<localPart>" for the system (a systemId, or a system
 * name "KELVA:<systemId>") and the local part; NULL when out of memory or an argument
 * is NULL.  Free with wsifree. */
WSI_EXPORT char *encodeInstanceID(const char *system, const char *localPart);
/* Splits a writable InstanceID in place: *systemIdOut gets the systemId, *prefixOut the
 * system name prefix ("KELVA"), *nameOut the local part (which may itself hold ':');
 * all point into instanceID; any output may be NULL.  Non-zero on success, 0 with the
 * status set when the text is not an InstanceID. */
WSI_EXPORT int getFilerAndNameFromInstanceId(KELVAStatus *status, char *instanceID,
                                             char **systemIdOut, char **prefixOut, char **nameOut);
/* Non-zero when name is in the NULL-terminated property list (ASCII case ignored);
 * a NULL list selects every property, a NULL name none. */
WSI_EXPORT int isPropertyPresent(const char **propertyList, const char *name);

/* ---- Cloning locks ------------------------------------------------------- */

/* Clone operations on one filer run one at a time: each filer (by systemId) has a
 * cloning lock node while it is registered.  Adding a node for a filer that has one
 * counts a reference.  Non-zero on success. */
WSI_EXPORT int addCloningMutexNode(const Filer *filer, KELVAStatus *status);
/* Drops a reference of the filer's node, removing it at the last (after its holder, if
 * any, unlocked it).  Non-zero on success, 0 with the status set when there is none. */
WSI_EXPORT int deleteCloningMutexNode(const Filer *filer, KELVAStatus *status);
/* Waits for and takes the filer's cloning lock.  Non-zero on success, 0 with the status
 * set when the filer has no node.  Release with unlockCloningMutex from the same thread. */
WSI_EXPORT int lockCloningMutex(const Filer *filer, KELVAStatus *status);
/* Releases the filer's cloning lock taken with lockCloningMutex; non-zero on success. */
WSI_EXPORT int unlockCloningMutex(const Filer *filer);

/* ---- What the library reads from a filer --------------------------------- */

/* The filer's identity and state.  Free with freeKELVASysInfo. */
typedef struct KELVASysInfo {
  int32_t online;   /* 1 when the filer answered, 0 while it is off-line */
  char *systemId;   /* the filer's system id */
  char *systemName; /* its host name */
  char *serialNumber;
  char *reverseLookupName; /* "d.c.b.a.in-addr.arpa" of its first address, for a DNS
                              PTR query; NULL when off-line or without an address */
  char *model;
  char *vendor;
  char *osVersion; /* the full version text */
} KELVASysInfo;

/* New system information of the filer.  A filer that cannot be reached gives a record
 * with online 0 and success; a failed answer or a bad record gives NULL with the status
 * set.  Free with freeKELVASysInfo. */
WSI_EXPORT KELVASysInfo *getKELVASysInfo(KELVAStatus *status, const Filer *filer);
/* Frees the record; NULL is ignored. */
WSI_EXPORT void freeKELVASysInfo(KELVASysInfo *info);

/* The filer's cluster failover (takeover) state.  Free with freeCFStatus. */
typedef struct KELVACFStatus {
  int32_t enabled; /* 1 when failover is enabled */
  char *state;     /* "CONNECTED", "TAKEOVER", "GIVEBACK STARTED", "ERROR" ...; may be NULL */
  char *partner;   /* partner's name; may be NULL */
  char *reason;    /* why the state is what it is; may be NULL */
} KELVACFStatus;

/* New takeover record of the filer; NULL with the status set on failure.  Free with
 * freeCFStatus. */
WSI_EXPORT KELVACFStatus *getCFStatus(const Filer *filer, KELVAStatus *status);
/* Frees the record; NULL is ignored. */
WSI_EXPORT void freeCFStatus(KELVACFStatus *cfStatus);

/* New list of the filer's IPv4 address texts, interface by interface in the filer's
 * order; NULL with the status set on failure.  Free with WSIList_free(list, wsifree). */
WSI_EXPORT WSIList *getAllIPV4IPs(const Filer *filer, KELVAStatus *status);
/* Reads the filer's OS release numbers (any output may be NULL); non-zero on success,
 * 0 with the status set on failure. */
WSI_EXPORT int getSystemVersion(KELVAStatus *status, const Filer *filer, int32_t *major,
                                int32_t *minor, int32_t *micro);

/* ---- Filer cache ---------------------------------------------------------- */

/* One cached filer (by systemId): its lock and what is cached about it. */
typedef struct FilerCacheEntry FilerCacheEntry;

/* Data read from the filer and kept in its cache entry. */
typedef struct FilerSpecificData {
  uint16_t
      healthState; /* CIM HealthState: 5 OK, 15 minor, 25 critical, 30 non-recoverable, 0 unknown */
  char *iscsiNodeName;    /* NULL when iSCSI is not enabled on the filer */
  int32_t iscsiNodeState; /* 1 when the iSCSI service runs, 0 when it does not */
} FilerSpecificData;

/* Seconds after which a locked entry reads its data from the filer again. */
#define WSI_FILER_CACHE_TTL_SECONDS 60

/* Adds (or refreshes) the entry of the filer.  With flag non-zero its data is read from
 * the filer now and a failure leaves no entry; with flag 0 the entry is added without
 * contacting the filer and its data is read on the first lock.  Non-zero on success. */
WSI_EXPORT int FilerCache_addEntry(const Filer *filer, int flag, KELVAStatus *status);
/* Removes the filer's entry, waiting for its holder to release it; non-zero on success,
 * 0 with the status set when there was none. */
WSI_EXPORT int FilerCache_deleteEntry(const Filer *filer, KELVAStatus *status);
/* Takes the filer's entry (adding one when missing) and makes sure its data is read
 * and fresh; NULL with the status set (and nothing held) when that fails.  Release with
 * FilerCache_releaseEntry from the same thread. */
WSI_EXPORT FilerCacheEntry *FilerCache_lockEntry(const Filer *filer, KELVAStatus *status);
/* Releases the entry taken with FilerCache_lockEntry; NULL is ignored. */
WSI_EXPORT void FilerCache_releaseEntry(const Filer *filer);
/* The data of a locked entry, owned by the entry and valid while it is held; NULL for NULL. */
WSI_EXPORT FilerSpecificData *FilerCache_getFilerSpecificData(FilerCacheEntry *entry);

WSI_END_DECLS

#endif
