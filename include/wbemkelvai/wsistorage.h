/* Controller library storage records: aggregates, volumes, disks, LUNs and
 * initiator groups of a filer, read through the filer cache (docs/cache.md),
 * and the few live storage queries (reserve figures, iSCSI portals, SNMP).
 *
 * Conventions:
 * - Functions that fill a list append new records to the caller's list; the
 *   caller frees the list with the records (freeAggregateInfo, freeVolumeInfo ...).
 *   They return non-zero on success and 0 with the status set on failure; on a
 *   failure nothing is appended.
 * - Text filters are wildcard patterns as passesStringFilter takes them; a NULL or
 *   empty filter passes everything.  Name selectors match whole names, ASCII case
 *   ignored (strCompare).
 * - Records handed out are copies: the caller may keep, change and free them. */
#ifndef WBEMKELVAI_WSISTORAGE_H
#define WBEMKELVAI_WSISTORAGE_H

#include <stdint.h>

#include "wsi_export.h"
#include "wsifiler.h"
#include "wsiruntime.h"

WSI_BEGIN_DECLS

/* A connection (wsiapi.h); named by its tag so that this header does not bring in
 * the request macros. */
struct WSIServerInfo;

/* ---- Selectors ------------------------------------------------------------- */

/* Kinds selector of getAggregateInfo (bits): aggregates holding flexible volumes,
 * and traditional volumes, which are aggregates of their own. */
#define WSI_AGGR_KIND_AGGREGATE 1
#define WSI_AGGR_KIND_TRADITIONAL 2
#define WSI_AGGR_KINDS_ALL 3
/* Kinds selector of getVolumeInfo (bits). */
#define WSI_VOLUME_KIND_FLEXIBLE 1
#define WSI_VOLUME_KIND_TRADITIONAL 2
#define WSI_VOLUME_KINDS_ALL 3

/* ---- Aggregates ------------------------------------------------------------- */

/* An aggregate, or a traditional volume standing as its own aggregate. */
typedef struct KELVAAggregate {
  char *name;            /* the aggregate's name */
  char *uuid;            /* its unique id */
  int32_t kind;          /* 1 aggregate, 2 traditional volume */
  char *state;           /* "online", "offline", "restricted", "creating", "failed" ... */
  uint64_t size;         /* usable bytes */
  uint64_t managedSpace; /* bytes the pool manages, its snapshot reserve included (0 when brief) */
  uint64_t usedSpace;    /* bytes taken by its volumes (0 when brief) */
  uint64_t availableSpace; /* bytes still free (0 when brief) */
  uint8_t hasRaid4;        /* it has single-parity RAID groups */
  uint8_t hasRaid0;        /* it has RAID groups without parity (array LUNs) */
  uint8_t hasRaidTW;       /* it has double-parity RAID groups */
  uint8_t mixedRaid;       /* its RAID groups are of more than one type */
  char *mirrorStatus;      /* "unmirrored", "mirrored", "mirror degraded", "resyncing" ... */
  char *raidStatus;        /* "normal", "growing", "initializing", "reconstruct", "verifying" ... */
  int32_t plexCount;
  int32_t raidGroupCount;
  int32_t diskCount;
  int32_t volumeCount;
  int32_t snapshotReservePercent;
} KELVAAggregate;

/* Appends the filer's aggregates: those named name (NULL or "": all) whose uuid is
 * uuidSelector (NULL or "": any) and whose kind is among kinds (WSI_AGGR_KIND_... bits).
 * With brief non-zero the space figures (managedSpace, usedSpace, availableSpace)
 * are left 0.  Free the records with freeAggregateInfo (list) or freeAggregate. */
WSI_EXPORT int getAggregateInfo(KELVAStatus *status, const Filer *filer, const char *name,
                                const char *uuidSelector, int kinds, int brief, WSIList *list);
/* Frees one aggregate record; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeAggregate(void *aggregate);
/* Frees a list of aggregate records with the records; NULL is ignored. */
WSI_EXPORT void freeAggregateInfo(WSIList *list);

/* Appends new texts: the names of the filer's disks in the aggregate (NULL: every
 * disk of the filer, spares included), only those of the plex and of the RAID group
 * when they are given.  Free with WSIList_free(list, wsifree). */
WSI_EXPORT int getAllDiskNames(KELVAStatus *status, const Filer *filer, const char *aggregate,
                               const char *plex, const char *raidGroup, WSIList *list);
/* Appends new texts: the plex names ("/aggr/plex0") of the aggregate. */
WSI_EXPORT int getAllPlexNamesInAggregate(KELVAStatus *status, const Filer *filer,
                                          const char *aggregate, WSIList *list);
/* Appends new texts: the RAID group names ("/aggr/plex0/rg0") of the plex. */
WSI_EXPORT int getAllRAIDNamesInPlex(KELVAStatus *status, const Filer *filer, const char *plex,
                                     WSIList *list);
/* Appends new texts: the disk names of the RAID group, in group order. */
WSI_EXPORT int getAllDiskNamesInRAID(KELVAStatus *status, const Filer *filer, const char *raidGroup,
                                     WSIList *list);

/* ---- Volumes ---------------------------------------------------------------- */

/* A flexible or traditional volume.  uuid, name and systemId identify it to
 * GetVariVolumeReserveInfo. */
typedef struct KELVAVolume {
  char *uuid;               /* the volume's unique id (its file-system identifier) */
  char *name;               /* the volume's name */
  char *systemId;           /* systemId of the filer that holds it */
  char *aggregateName;      /* its aggregate (a traditional volume's is its own name) */
  int32_t kind;             /* 1 flexible, 2 traditional */
  char *state;              /* "online", "offline", "restricted", "creating", "failed" */
  char *raidType;           /* "raid4", "raid_tw" or "raid0" of its aggregate's groups */
  uint64_t size;            /* bytes, snapshot reserve included */
  uint64_t used;            /* used space in 8-byte units (x 8 gives bytes) */
  uint64_t free;            /* free space in 8-byte units (x 8 gives bytes) */
  uint64_t snapshotReserve; /* bytes held for snapshots */
  int32_t snapshotReservePercent;
  int32_t snapshotCount;
  int32_t qtreeCount;
  uint8_t sealmode; /* a write-once volume */
  uint8_t isRoot;   /* the filer's root volume */
} KELVAVolume;

/* Appends the filer's volumes: the one whose uuid, or else name, is identifier (NULL:
 * all), named name (NULL: any), in the aggregate (NULL: any), of the kinds
 * (WSI_VOLUME_KIND_... bits).  With fresh non-zero the volumes are read from the
 * filer now instead of from the cache.  Free with freeVolumeInfo or freeVolume. */
WSI_EXPORT int getVolumeInfo(KELVAStatus *status, const Filer *filer, const char *identifier,
                             const char *name, const char *aggregate, int kinds, int fresh,
                             WSIList *list);
/* Frees one volume record; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeVolume(void *volume);
/* Frees a list of volume records with the records; NULL is ignored. */
WSI_EXPORT void freeVolumeInfo(WSIList *list);
/* New text: the name of the filer's root volume; NULL with the status set when it
 * cannot be read or the filer has none.  Free with wsifree. */
WSI_EXPORT char *getRootVolumeName(KELVAStatus *status, const Filer *filer);
/* Drops the named volume, its LUNs and the LUN maps to them from the filer's cached
 * data (after the volume was destroyed); non-zero on success, 0 with the status set
 * when the filer has no cache entry. */
WSI_EXPORT int FilerCache_deleteVolume(const Filer *filer, const char *volumeName,
                                       KELVAStatus *status);

/* Reserve figures of an aggregate or a volume, read live (docs/cache.md), bytes:
 * 1 size, 2 overwrite reserve, 3 overwrite reserve used, 4 snapshot reserve,
 * 5 snapshot space used, 6 space consumed in the container, 7 available,
 * 8 size in 512-byte blocks, 9 snapshot reserve percent.  kind is "aggregate" or
 * "volume".  Any output may be NULL.  Non-zero on success; on failure 0 with the
 * reason in errorText (cut to errorTextSize, always terminated). */
WSI_EXPORT int GetVolumeReserveInfo(struct WSIServerInfo *server, const char *kind,
                                    const char *name, uint64_t *f1, uint64_t *f2, uint64_t *f3,
                                    uint64_t *f4, uint64_t *f5, uint64_t *f6, uint64_t *f7,
                                    uint64_t *f8, uint64_t *f9, char *errorText, int errorTextSize);
/* The same nine figures of a flexible volume identified by the three identifying
 * fields of its record, figures 1 to 8 in 512-byte blocks (rounded down) and figure 9
 * a percent.  The filer is the cached one of systemId.  Fails (status set) when the
 * volume is traditional, off-line, gone or no longer has that uuid. */
WSI_EXPORT void GetVariVolumeReserveInfo(const char *uuid, const char *name, const char *systemId,
                                         uint64_t *f1, uint64_t *f2, uint64_t *f3, uint64_t *f4,
                                         uint64_t *f5, uint64_t *f6, uint64_t *f7, uint64_t *f8,
                                         uint64_t *f9, KELVAStatus *status);

/* ---- Disks ------------------------------------------------------------------- */

/* A disk. */
typedef struct KELVADisk {
  char *name;          /* "0a.16" */
  char *state;         /* RAID state: "present", "parity", "dparity", "spare", "broken",
                          "zeroing", "copy", "reconstructing", "pending", "partner" ... */
  uint64_t size;       /* usable (right-sized) bytes */
  uint64_t usedSize;   /* bytes of it in use by its RAID group (0 for a spare) */
  char *aggregateName; /* NULL when it belongs to no aggregate */
  char *plexName;      /* NULL when it belongs to no plex */
  char *raidGroupName; /* NULL when it belongs to no RAID group */
  char *diskType;      /* "FCAL", "SATA", "SAS", "LUN" */
  char *serialNumber;
} KELVADisk;

/* Appends the filer's disks: the one named name (NULL: all) whose state is in the
 * include list (NULL: any) and not in the exclude list (NULL: none).  The state lists
 * are arrays of texts ended by an empty text ""; states compare with ASCII case
 * ignored.  Free with freeDiskInfo. */
WSI_EXPORT int getDiskInfo(KELVAStatus *status, const Filer *filer, const char *name,
                           const char *const *includeStates, const char *const *excludeStates,
                           WSIList *list);
/* Frees one disk record; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeDisk(void *disk);
/* Frees a list of disk records with the records; NULL is ignored. */
WSI_EXPORT void freeDiskInfo(WSIList *list);

/* ---- LUNs -------------------------------------------------------------------- */

/* A LUN. */
typedef struct KELVALun {
  char *path; /* "/vol/<volume>/<name>" or "/vol/<volume>/<qtree>/<name>" */
  char *serialNumber;
  char *backingSnapshot; /* "/vol/<volume>/.snapshot/<snapshot>/<lun>" of a clone backed
                            by a snapshot; NULL otherwise */
  uint64_t size;         /* bytes */
  uint64_t sizeUsed;     /* bytes written */
  char *volumeName;
  char *osType; /* "windows", "linux", "solaris", "vmware" ... */
  char *uuid;
  uint8_t online;
  uint8_t mapped; /* mapped to at least one igroup */
  uint8_t spaceReserved;
  char *comment; /* the administrator's note on the LUN; "" when it has none */
} KELVALun;

/* Appends the filer's LUNs: the one at path (NULL: all) in volume (NULL: any), whose
 * serial number passes serialFilter and OS type passes osTypeFilter.  With fresh
 * non-zero the LUNs are read from the filer now instead of from the cache.
 * Free with freeLunInfo or freeLun. */
WSI_EXPORT int getLunInfo(KELVAStatus *status, const Filer *filer, const char *path,
                          const char *volume, const char *serialFilter, int fresh,
                          const char *osTypeFilter, WSIList *list);
/* Frees one LUN record; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeLun(void *lun);
/* Frees a list of LUN records with the records; NULL is ignored. */
WSI_EXPORT void freeLunInfo(WSIList *list);
/* New text: the path of the filer's LUN with that serial number (exact comparison);
 * NULL with a clean status when there is none, NULL with the status set on failure.
 * Free with wsifree. */
WSI_EXPORT char *getLunPathBySerialNumber(KELVAStatus *status, const Filer *filer,
                                          const char *serialNumber);

/* ---- Initiator groups ------------------------------------------------------------ */

/* A LUN mapped to an igroup. */
typedef struct KELVALunMap {
  char *path;    /* the LUN's path */
  int32_t lunId; /* the LUN number the igroup's initiators see */
} KELVALunMap;

/* An initiator group. */
typedef struct KELVAIGroup {
  char *name;
  char *type;          /* initiator type: "iscsi" or "fcp" */
  char *osType;        /* "windows", "linux", "solaris", "vmware", "default" ... */
  WSIList *initiators; /* texts: initiator names (iSCSI node names or WWPNs), in order */
  WSIList *lunMaps;    /* KELVALunMap records, in LUN id order */
  char *portSet;       /* NULL when the igroup is bound to no port set */
} KELVAIGroup;

/* New list of the filer's igroups whose initiator type passes typeFilter, name passes
 * nameFilter, which hold an initiator passing initiatorFilter (NULL: any, even none),
 * map a LUN whose path passes lunPathFilter, and whose OS type passes osFilter.
 * NULL with the status set on failure.  Free with freeIGroupInfo. */
WSI_EXPORT WSIList *getIGroupInfo(const Filer *filer, const char *typeFilter,
                                  const char *nameFilter, const char *initiatorFilter,
                                  const char *lunPathFilter, const char *osFilter,
                                  KELVAStatus *status);
/* New record of the first igroup that getIGroupInfo would list for these arguments
 * (name exact, ASCII case ignored, rather than a pattern); NULL when there is none
 * (status clean) or on failure (status set).  Free with freeIGroup. */
WSI_EXPORT KELVAIGroup *findIGroupInfo(const Filer *filer, const char *typeFilter, const char *name,
                                       const char *initiatorFilter, const char *lunPathFilter,
                                       const char *osFilter, KELVAStatus *status);
/* Frees one igroup record with its lists; NULL is ignored.  Serves as a WSIList free function. */
WSI_EXPORT void freeIGroup(void *igroup);
/* Frees a list of igroup records with the records; NULL is ignored. */
WSI_EXPORT void freeIGroupInfo(WSIList *list);

/* ---- iSCSI portals and SNMP (live, on the caller's connection) -------------------- */

/* Reads the portal group tag of the iSCSI portal with that index into *tagOut;
 * 1 when found, 0 when there is no such portal or the filer cannot say. */
WSI_EXPORT int getTargetPortalTagFromPortalIndex(struct WSIServerInfo *server,
                                                 unsigned long portalIndex, uint32_t *tagOut);
/* The portal group tag of the first iSCSI portal listening on the TCP port (decimal
 * text); -1 when there is none or the filer cannot say. */
WSI_EXPORT int32_t getTargetPortalTagFromTargetPort(struct WSIServerInfo *server, const char *port);
/* Reads the SNMP value of baseObjectId.index into *valueOut (new text, free with
 * wsifree); 1 on success, 0 when the object has no value or the filer fails. */
WSI_EXPORT int getObjectID1(struct WSIServerInfo *server, const char *baseObjectId,
                            unsigned long index, char **valueOut);
/* Reads the SNMP value of a row with a two-part index, baseObjectId.index.option, into
 * *valueOut (new text, free with wsifree); 1 on success, 0 otherwise. */
WSI_EXPORT int getObjectID2(struct WSIServerInfo *server, const char *baseObjectId,
                            unsigned long index, unsigned long option, char **valueOut);
/* Walks the SNMP subtree under objectId in object identifier order and appends each
 * value as a new text; an empty subtree appends nothing.  Non-zero on success, 0 with
 * the status set when the filer fails.  Free with WSIList_free(list, wsifree). */
WSI_EXPORT int getNextObjectIDValues(KELVAStatus *status, struct WSIServerInfo *server,
                                     const char *objectId, WSIList *list);

WSI_END_DECLS

#endif
