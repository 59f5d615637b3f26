/* File systems: the two file-system settings a volume can have, the choice of a
 * setting from a client's setting-data instance, and the changes the file-system
 * configuration service makes (a volume taken off line or destroyed).  Failures go
 * into the caller's controller status record, except in chooseBestFileSystemSetting,
 * which raises them into a CMPI status.  Settings are fixed records: callers hold
 * pointers to them and never free them. */
#ifndef PROVKIT_FSMANIP_H
#define PROVKIT_FSMANIP_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsistorage.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* A file-system setting; two settings are the same when they are the same record. */
typedef struct FSSetting {
  const char *name;        /* "LYRE-Sealmode" or "LYRE-NoSealmode" */
  uint16_t fileSystemType; /* ActualFileSystemType: 14 */
  uint8_t sealmode;        /* volumes of this setting are write-once */
  uint8_t notSealmode;     /* the opposite flag */
  uint32_t id;             /* 2 for the write-once setting, 3 for the other */
} FSSetting;

/* The number of file-system settings: 2. */
PK_EXPORT int getNumFSSettings(void);

/* The setting at index 0 or 1 (a fixed record), else null; the filer is not read. */
PK_EXPORT const FSSetting *getFSSettingAt(const Filer *filer, int index);

/* The setting of id "2" (write-once), "1" or "3" (the other), or else whose name equals id;
 * null when none.  The filer is not read. */
PK_EXPORT const FSSetting *getFSSettingByID(const Filer *filer, const char *id);

/* Non-zero when a and b are the same setting record. */
PK_EXPORT int areFSSettingsSame(const FSSetting *a, const FSSetting *b);

/* Non-zero when no setting is given or the setting's and the volume's write-once flags agree. */
PK_EXPORT int passesFSSettingFilter(const FSSetting *setting, const KELVAVolume *volume);

/* The setting of the named volume (read fresh from the filer); null when there is no such
 * volume, null with the record set on failure. */
PK_EXPORT const FSSetting *getFSSettingFromVolume(const Filer *filer, const char *volumeName,
                                                  KELVAStatus *status);

/* New record of the volume whose uuid (or name) is identifier, freed by the caller with
 * freeVolume; null when there is none, null with the record set on failure. */
PK_EXPORT KELVAVolume *getFileSystemFromUUID(const Filer *filer, const char *identifier,
                                             KELVAStatus *status);

/* The setting that the setting-data instance asks for, or null; a property that breaks a
 * rule is raised into status (rc 4, label at the start of the message).  Filer not read. */
PK_EXPORT const FSSetting *chooseBestFileSystemSetting(const CMPIBroker *broker, const Filer *filer,
                                                       const CMPIInstance *instance,
                                                       const char *label, CMPIStatus *status);

/* Takes the volume off line, giving CIFS clients cifsDelay minutes; a volume already off line
 * is no failure.  The filer cache is not touched; failures go into the record. */
PK_EXPORT void takeFileSystemOfflineNoCache(const Filer *filer, const KELVAVolume *volume,
                                            int32_t cifsDelay, KELVAStatus *status);

/* Destroys the (off-line) volume on the filer and drops it from the filer cache; failures go
 * into the record. */
PK_EXPORT void destroyFileSystem(const Filer *filer, const KELVAVolume *volume,
                                 KELVAStatus *status);

/* 1 when some CIFS session of the filer uses the volume, else 0 (also on failure, with the
 * record set). */
PK_EXPORT int isFileSystemInUse(const Filer *filer, const KELVAVolume *volume, KELVAStatus *status);

/* New text "/vol/<volume>[/<relative path without one leading '/'>]", freed by the caller with
 * wsifree; null when memory runs out. */
PK_EXPORT char *makeAbsolutePath(const char *volumeName, const char *relativePath);

/* Leaves the record good when the filer can list the directory at path, else sets it. */
PK_EXPORT void doesDirectoryExist(const Filer *filer, const char *path, KELVAStatus *status);

PK_END_DECLS

#endif
