/* Quotas: the filer's quota rules as configuration entries (their keys, limits and
 * InstanceIDs, read, listed, added, changed and deleted on the filer), the paged quota
 * report with its usage figures, and a volume's quota status.  Failures go into the
 * caller's controller status record, except in newClientQuotaEntryFromInst, which raises
 * them into a CMPI status.  Byte limits are bytes; a limit of all ones means no limit. */
#ifndef PROVKIT_QUOTA_H
#define PROVKIT_QUOTA_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Quota type codes; any other type text has code PK_QUOTA_TYPE_OTHER. */
#define PK_QUOTA_TYPE_USER 0
#define PK_QUOTA_TYPE_GROUP 1
#define PK_QUOTA_TYPE_TREE 2
#define PK_QUOTA_TYPE_OTHER (-1)

/* A limit that does not limit. */
#define PK_QUOTA_NO_LIMIT UINT64_C(0xFFFFFFFFFFFFFFFF)

/* The identity of one quota rule.  Every text is owned (wsistrdup); relativeTree points
 * into absoluteTree, after "/vol/". */
typedef struct QuotaKeys {
  char *typeText;     /* "user", "group", "tree" or other; never null */
  char *volume;       /* volume name; never null, may be empty */
  char *qtree;        /* qtree name; never null, may be empty */
  char *target;       /* user or group names (comma-separated), a tree path, or "*" */
  int32_t type;       /* code of typeText */
  char *absoluteTree; /* "/vol/..." path the rule applies to, or null */
  char *relativeTree; /* absoluteTree + 5, or null */
} QuotaKeys;

/* The four limits of a rule: disk limits in bytes, file limits in files. */
typedef struct QuotaLimits {
  uint64_t diskLimit;
  uint64_t fileLimit;
  uint64_t softDiskLimit;
  uint64_t softFileLimit;
} QuotaLimits;

/* A rule as a client asks for it. */
typedef struct ClientQuotaEntry {
  QuotaKeys keys;
  QuotaLimits limits;
} ClientQuotaEntry;

/* A rule as the filer holds it, with the filer's error reason (owned) or null. */
typedef struct FilerQuotaEntry {
  QuotaKeys keys;
  QuotaLimits limits;
  char *errorReason;
} FilerQuotaEntry;

/* Scratch record of a client's configuration-entry properties (texts borrowed). */
typedef struct FSQCEInst {
  int32_t typeCode;
  const char *treeName;
  const char *principal;
  const char *managedElement;
  int32_t isDefault;
  uint64_t hardDiskLimit;
  uint64_t hardFileLimit;
  uint64_t softDiskLimit;
  uint64_t softFileLimit;
} FSQCEInst;

/* One quota report line: the line's keys, limits and usage. */
typedef struct QuotaReport {
  QuotaKeys keys;
  QuotaLimits limits;
  uint64_t diskUsed;  /* bytes */
  uint64_t filesUsed; /* files */
} QuotaReport;

/* Quota states of a volume. */
#define PK_QUOTA_STATE_ON 1
#define PK_QUOTA_STATE_OFF 2
#define PK_QUOTA_STATE_RESIZING 3
#define PK_QUOTA_STATE_INITIALIZING 4
#define PK_QUOTA_STATE_SHUTTING_DOWN 5

/* A volume's quota status; errors is owned, or null. */
typedef struct QuotaStatus {
  int32_t state;
  int32_t hasErrors;
  int32_t percentComplete;
  char *errors;
} QuotaStatus;

/* ---- Records ------------------------------------------------------------------------- */

/* The code of a type text ("user" 0, "group" 1, "tree" 2, ASCII case ignored), else -1. */
PK_EXPORT int getQuotaTypeFromString(const char *typeText);

/* Frees the texts of the keys and the keys record itself; null is ignored. */
PK_EXPORT void freeQuotaQORBKeys(QuotaKeys *keys);

/* New client entry (free with freeClientQuotaEntry); an absent volume becomes the filer's
 * root volume.  Null with the record set on failure. */
PK_EXPORT ClientQuotaEntry *createClientQuotaEntry(const Filer *filer, const char *target,
                                                   const char *typeText, const char *volume,
                                                   const char *qtree, uint64_t diskLimit,
                                                   uint64_t fileLimit, uint64_t softDiskLimit,
                                                   uint64_t softFileLimit, KELVAStatus *status);
/* Frees a client entry; null is ignored. */
PK_EXPORT void freeClientQuotaEntry(ClientQuotaEntry *entry);
/* The keys of a client entry (borrowed). */
PK_EXPORT const QuotaKeys *getClientQuotaEntryKeys(const ClientQuotaEntry *entry);

/* Frees a FilerQuotaEntry; null is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeFilerQuotaEntry(void *entry);
/* Accessors of a filer entry; texts are borrowed from it. */
PK_EXPORT const char *getFilerQuotaError(const FilerQuotaEntry *entry);
PK_EXPORT const QuotaLimits *getFilerQuotaEntryLimits(const FilerQuotaEntry *entry);
PK_EXPORT const QuotaKeys *getFilerQuotaEntryKeys(const FilerQuotaEntry *entry);
PK_EXPORT int getFilerQuotaEntryType(const FilerQuotaEntry *entry);
PK_EXPORT const char *getFilerQuotaEntryRelativeTree(const FilerQuotaEntry *entry);
PK_EXPORT const char *getFilerQuotaEntryAbsoluteTree(const FilerQuotaEntry *entry);
PK_EXPORT const char *getFilerQuotaEntryTarget(const FilerQuotaEntry *entry);
PK_EXPORT const char *getFilerQuotaEntryVolume(const FilerQuotaEntry *entry);
/* 1 when the keys' target is "*" (the default rule), else 0. */
PK_EXPORT int isQuotaEntryTargetDefault(const QuotaKeys *keys);
/* Resets the scratch record: type -1, limits to no limit, everything else 0. */
PK_EXPORT void clearFSQCEInst(FSQCEInst *record);

/* ---- Client instances ------------------------------------------------------------------ */

/* New client entry from a KELVA_FSQuotaConfigEntry instance (free with
 * freeClientQuotaEntry); null with the reason raised into status (rc 4 for a property that
 * breaks a rule). */
PK_EXPORT ClientQuotaEntry *newClientQuotaEntryFromInst(const CMPIBroker *broker,
                                                        const Filer *filer,
                                                        const CMPIInstance *instance,
                                                        CMPIStatus *status);

/* ---- Filer entries --------------------------------------------------------------------- */

/* Marker of a tree filter that passes every entry with that tree path. */
#define PK_QUOTA_TREE_ANY ((const char *)(intptr_t)-1)

/* New filer entry (free with freeFilerQuotaEntry) for the keys, with its limits when
 * withLimits is non-zero; null with a good record when the filer has no such rule, null
 * with the record set on failure. */
PK_EXPORT FilerQuotaEntry *getFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys,
                                              int withLimits, KELVAStatus *status);
/* Appends the filer's entries that pass every given filter to the caller's list (they are
 * the list's, freed with freeFilerQuotaEntry) and returns how many were appended. */
PK_EXPORT int findFilerQuotaEntries(const Filer *filer, const int *typeFilter,
                                    const char *targetFilter, const char *targetPart,
                                    const char *volumeFilter, const char *relativeTreeFilter,
                                    const char *absoluteTreeFilter, int withLimits, WSIList *list,
                                    KELVAStatus *status);
/* Adds the client's rule to the filer; failures go into the record. */
PK_EXPORT void addFilerQuotaEntry(const Filer *filer, const ClientQuotaEntry *entry,
                                  KELVAStatus *status);
/* Sets the limits of the rule with the keys to those of entry; failures go into the record. */
PK_EXPORT void modifyFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys,
                                     const ClientQuotaEntry *entry, KELVAStatus *status);
/* Deletes the rule with the keys; failures go into the record. */
PK_EXPORT void deleteFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys,
                                     KELVAStatus *status);

/* ---- Identifiers ----------------------------------------------------------------------- */

/* New configuration-entry InstanceID of the keys on the system (free with wsifree); null
 * with the record set on failure. */
PK_EXPORT char *encodeFSQConfigEntryID(const char *system, const QuotaKeys *keys,
                                       KELVAStatus *status);
/* Splits the writable instanceID in place (system outputs point into it, as
 * getFilerAndNameFromInstanceId gives them) and puts new keys into *keysOut (free with
 * freeQuotaQORBKeys); 1 on success, 0 with the record set and *keysOut null on failure.
 * A local part without its qtree part decodes with an empty qtree. */
PK_EXPORT int decodeFSQConfigEntryID(char *instanceID, char **systemOut1, char **systemOut2,
                                     QuotaKeys **keysOut, KELVAStatus *status);

/* ---- Reports and status ---------------------------------------------------------------- */

/* Starts a report over the volume and/or path (both null: the whole filer); new tag text
 * (free with wsifree), null with the record set on failure. */
PK_EXPORT char *startQuotaReport(const Filer *filer, const char *volume, const char *path,
                                 KELVAStatus *status);
/* Appends up to about wanted lines (PK_QUOTA_NO_LIMIT: all) that pass the user or group
 * filter to the caller's list (freed with freeQuotaReport), writes the count appended into
 * *countOut, and returns 1 when the filer may hold further lines, else 0. */
PK_EXPORT int nextQuotaReport(const Filer *filer, uint64_t wanted, const char *tag,
                              const char *userFilter, const char *groupFilter, uint64_t *countOut,
                              WSIList *list, KELVAStatus *status);
/* Ends the report; nothing is reported. */
PK_EXPORT void endQuotaReport(const Filer *filer, const char *tag);
/* Frees a report line; null is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeQuotaReport(void *report);
/* Accessors of a report line; texts are borrowed from it. */
PK_EXPORT int getQuotaReportType(const QuotaReport *report);
PK_EXPORT const char *getQuotaReportAbsoluteTree(const QuotaReport *report);
PK_EXPORT const char *getQuotaReportVolume(const QuotaReport *report);
PK_EXPORT const char *getQuotaReportTarget(const QuotaReport *report);

/* New quota status of the volume (free with freeQuotaStatus); null with the record set on
 * failure. */
PK_EXPORT QuotaStatus *getQuotaStatus(const Filer *filer, const char *volume, KELVAStatus *status);
/* Frees the status's error text and the record; null is ignored. */
PK_EXPORT void freeQuotaStatus(QuotaStatus *quotaStatus);

/* ---- Principals ------------------------------------------------------------------------ */

/* Name kinds of a principal. */
#define PK_PRINCIPAL_DEFAULT 1 /* the default name "*" */
#define PK_PRINCIPAL_PLAIN 2   /* a plain name */
#define PK_PRINCIPAL_DOMAIN 3  /* a name with a backslash (a domain user or group) */

/* A user or group named in a quota rule; name owned. */
typedef struct QuotaPrincipal {
  int32_t type;     /* PK_QUOTA_TYPE_USER or PK_QUOTA_TYPE_GROUP */
  int32_t nameKind; /* PK_PRINCIPAL_... */
  char *name;
} QuotaPrincipal;

/* Frees a principal (name, then record); null is ignored.  Serves as a WSIList free
 * function. */
PK_EXPORT void freeQuotaPrincipal(void *principal);

/* New list of the principals of the filer's rules (free with WSIList_free and
 * freeQuotaPrincipal), each name and type once; with a name filter, only the principals of
 * the first rule that has one passing it.  Null with the record set on failure. */
PK_EXPORT WSIList *findFilerQuotaPrincipals(const Filer *filer, const char *nameFilter,
                                            const int *typeFilter, KELVAStatus *status);

/* New list of every principal of one rule (free as above); empty for a tree rule.  Null
 * with the record set on failure. */
PK_EXPORT WSIList *findFilerQuotaPrincipalsFromEntry(const FilerQuotaEntry *entry,
                                                     KELVAStatus *status);

/* New domain-identity InstanceID of the principal on the system ("U:<name>" or
 * "G:<name>"; free with wsifree); null with the record set on failure. */
PK_EXPORT char *encodePrincipalID(const char *system, const QuotaPrincipal *principal,
                                  KELVAStatus *status);

/* Splits the writable instanceID in place: the system outputs as
 * getFilerAndNameFromInstanceId gives them, *nameOut the principal's name (up to the next
 * ':') and *typeOut its type; all point into instanceID, so nothing is to be freed.  1 on
 * success, 0 with the record set on failure. */
PK_EXPORT int decodePrincipalEntryID(char *instanceID, char **systemOut1, char **systemOut2,
                                     char **nameOut, int *typeOut, KELVAStatus *status);

/* ---- Managed elements ------------------------------------------------------------------ */

/* The marker of the whole storage system where a volume record is expected. */
#define PK_QUOTA_WHOLE_SYSTEM ((KELVAVolume *)(intptr_t)-1)

/* Row indexes of the managed-element class table. */
#define PK_QUOTA_ME_VOLUME_EXTENT 0  /* KELVA_VariVolExtent, "volextprv.dll" */
#define PK_QUOTA_ME_LOGICAL_DISK 1   /* KELVA_LogicalDisk, "diskunitprv.dll" */
#define PK_QUOTA_ME_LOCAL_FS 2       /* KELVA_LocalFS, "nasdirprv.dll" */
#define PK_QUOTA_ME_STORAGE_VOLUME 3 /* KELVA_StorageVolume, "blockvolprv.dll" */
#define PK_QUOTA_ME_STORAGE_SYSTEM 4 /* KELVA_StorageSystem, "arraysysprv.dll" */

/* New volume name (wsifree) of the element the path names, or null with the reason raised
 * into status. */
typedef char *(*QuotaMEVolumeNameFunc)(const CMPIBroker *broker, const CMPIObjectPath *path,
                                       const Filer *filer, CMPIStatus *status);
/* The named volume's record (freeVolume), PK_QUOTA_WHOLE_SYSTEM, or null (the record set on
 * failure). */
typedef KELVAVolume *(*QuotaMEVolumeRecordFunc)(const Filer *filer, const char *volumeName,
                                                KELVAStatus *status);

/* A row of the fixed managed-element class table. */
typedef struct QuotaMEClass {
  const char *className;
  int32_t index;
  const char *library;
  QuotaMEVolumeNameFunc volumeName;
  QuotaMEVolumeRecordFunc volumeRecord;
} QuotaMEClass;

/* A managed element: its row, its filer (owned) and its volume name (owned). */
typedef struct QuotaMEInstance {
  const QuotaMEClass *row;
  Filer *filer;
  char *volume;
} QuotaMEInstance;

/* The first row among the count row indexes whose class is the path's class, or null (a
 * failure to read the class is raised into status).  Rows are fixed; never freed. */
PK_EXPORT const QuotaMEClass *getQuotaMEClassFromPath(const CMPIBroker *broker,
                                                      const CMPIObjectPath *path,
                                                      const int *rowIndexes, int count,
                                                      CMPIStatus *status);
/* New managed element of the path (free with freeMEInstance) after the row's library says
 * that it exists; null with the reason raised (rc 6 when it does not exist). */
PK_EXPORT QuotaMEInstance *convertObjectPathToQuotaMEInstance(const CMPIBroker *broker,
                                                              const CMPIContext *context,
                                                              const CMPIObjectPath *path,
                                                              const QuotaMEClass *row,
                                                              CMPIStatus *status);
/* Frees the volume name, the filer record and the element; null is ignored. */
PK_EXPORT void freeMEInstance(QuotaMEInstance *instance);
/* The element's volume record (free with freeVolume), PK_QUOTA_WHOLE_SYSTEM for the storage
 * system, or null (a failure raised into status). */
PK_EXPORT KELVAVolume *getMEInstanceVolume(const CMPIBroker *broker,
                                           const QuotaMEInstance *instance, CMPIStatus *status);
/* The element's filer record (borrowed). */
PK_EXPORT const Filer *getMEInstanceFiler(const QuotaMEInstance *instance);

/* ---- Volumes and qtrees ---------------------------------------------------------------- */

/* Switches the volume's quotas on (non-zero) or off; failures go into the record. */
PK_EXPORT void setVolumeQuotas(const Filer *filer, const char *volume, int on, KELVAStatus *status);
/* Resizes the volume's quotas; failures go into the record. */
PK_EXPORT void resizeVolumeQuotas(const Filer *filer, const char *volume, KELVAStatus *status);
/* New name (wsifree) of the volume's qtree with the id; null when none has it, null with
 * the record set on failure. */
PK_EXPORT char *getQtreeNameFromID(const Filer *filer, const char *volume, int32_t qtreeId,
                                   KELVAStatus *status);

PK_END_DECLS

#endif
