/* File exports and shares: the filer's CIFS shares and NFS export rules as file shares
 * with export settings.  Lists a filer's shares, encodes and decodes a share's
 * InstanceID, picks the export setting a client asks for, and creates, changes and
 * removes shares and export rules on the filer.  Failures go into the caller's
 * controller status record unless said otherwise.  Export settings are fixed records:
 * lists hold pointers to them and freeing a list never frees them. */
#ifndef PROVKIT_FEMANIP_H
#define PROVKIT_FEMANIP_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Share types. */
#define PK_SHARE_TYPE_NONE 0
#define PK_SHARE_TYPE_CIFS 1
#define PK_SHARE_TYPE_NFS 2

/* Which shares or settings a call is about. */
#define PK_SHARES_CIFS 1
#define PK_SHARES_NFS 2
#define PK_SHARES_ALL 3

/* An export setting: "nfs" (share type 2, protocol 2) or "cifs" (share type 1, protocol 3). */
typedef struct FileExportSetting {
  const char *name;
  int32_t shareType;
  uint16_t fileSharingProtocol;
} FileExportSetting;

/* One listed share, owned by the list getAllShares returns. */
typedef struct Share {
  int32_t type; /* PK_SHARE_TYPE_CIFS or PK_SHARE_TYPE_NFS */
  char *mount;  /* CIFS: the share's mount point; NFS: the rule's path name */
  char *name;   /* CIFS: the share name; NFS: the rule's path name again */
} Share;

/* The caller's description of a share to create, change or remove (owned by the caller). */
typedef struct ExportedShare {
  int32_t type;             /* PK_SHARE_TYPE_CIFS or PK_SHARE_TYPE_NFS */
  const char *fileSystem;   /* uuid (or name) of the volume that holds the share */
  const char *relativePath; /* the directory inside that volume */
  const char *comment;      /* CIFS comment, or null */
  const char *name;         /* CIFS: share name; NFS: path name of an existing export rule */
  const char *anon;         /* NFS: value for "anon", or null */
  WSIList *rootHosts;       /* NFS: texts of the hosts given root access, or null; an empty text
                               makes the hosts after it negated entries */
} ExportedShare;

/* New list of setting pointers: which 1 CIFS, 2 NFS, 3 both (NFS first), else empty; null with
 * the record set when memory runs out.  Free with freeFileExportSettings. */
PK_EXPORT WSIList *getFileExportSettings(const Filer *filer, int which, KELVAStatus *status);

/* Frees a list of getFileExportSettings (the list only); null is ignored. */
PK_EXPORT void freeFileExportSettings(WSIList *settings);

/* The setting whose name equals name exactly, or null (no failure when none matches). */
PK_EXPORT const FileExportSetting *getFileExportSettingByName(const Filer *filer, const char *name,
                                                              KELVAStatus *status);

/* The "nfs" setting, else (the record cleared) the "cifs" setting. */
PK_EXPORT const FileExportSetting *getDefaultFileExportSetting(const Filer *filer,
                                                               KELVAStatus *status);

/* 1 (CIFS) for a text beginning with C or c, 2 (NFS) for N or n, else 0 (null too). */
PK_EXPORT int getShareTypeFromProtocol(const char *protocol);

/* The setting whose FileSharingProtocol the instance's property names, or null; a missing or
 * bad property and other failures are raised into status (label starts the messages). */
PK_EXPORT const FileExportSetting *chooseBestFileExportSetting(const CMPIBroker *broker,
                                                               const Filer *filer,
                                                               const CMPIInstance *instance,
                                                               const char *label,
                                                               CMPIStatus *status);

/* New list of the filer's shares (which as for getFileExportSettings) passing the mount and
 * name filters (null: all; the name filter applies to CIFS shares only) inside the volume of
 * fileSystemId (null: any); a volume that does not exist holds no shares.  Null with the
 * record set on failure.  Free with freeShares. */
PK_EXPORT WSIList *getAllShares(const Filer *filer, int which, const char *mountFilter,
                                const char *nameFilter, const char *fileSystemId,
                                KELVAStatus *status);

/* Frees a list of shares with the shares; null is ignored. */
PK_EXPORT void freeShares(WSIList *shares);

/* Frees one share with its texts; null is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeShare(void *share);

/* New InstanceID of the share on the system ("<protocol>:<mount>:(<name>)" as its local part),
 * freed by the caller with wsifree; null when memory runs out. */
PK_EXPORT char *encodeFileShareID(const char *system, const Share *share);

/* Splits the caller's writable InstanceID in place into the system parts (as
 * getFilerAndNameFromInstanceId does), the share type, mount and name; the texts point into
 * instanceID, nothing is allocated.  Outputs are written only on success (non-zero); 0 with
 * the record set otherwise. */
PK_EXPORT int decodeFileShareID(char *instanceID, char **systemOut1, char **systemOut2,
                                int32_t *typeOut, char **mountOut, char **nameOut,
                                KELVAStatus *status);

/* New text: the volume name of a "/vol/<volume>/..." mount (the mount is cut in place after
 * the volume name), or the root volume's name for any other mount; null with the record set
 * on failure.  Free with wsifree. */
PK_EXPORT char *getVolumeNameFromMount(const Filer *filer, char *mount, KELVAStatus *status);

/* Creates the CIFS share or appends the NFS export rule; on success *pathOut gets the new
 * absolute path of the shared directory, freed by the caller with wsifree. */
PK_EXPORT void createExportedShare(const Filer *filer, const ExportedShare *share, char **pathOut,
                                   KELVAStatus *status);

/* Changes the CIFS share or modifies the NFS export rule of share->name. */
PK_EXPORT void modifyExportedShare(const Filer *filer, const ExportedShare *share,
                                   KELVAStatus *status);

/* Deletes the CIFS share or the NFS export rules of the path share->name. */
PK_EXPORT void releaseExportedShare(const Filer *filer, const ExportedShare *share,
                                    KELVAStatus *status);

PK_END_DECLS

#endif
