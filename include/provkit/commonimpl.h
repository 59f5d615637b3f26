/* Key-value formats of the agent's storage objects.  Encoders return new
 * texts freed with wsifree; decoders split the caller's writable copy in
 * place and return pointers into it, valid while that copy lives.  Failures
 * are raised into status with rc 1. */
#ifndef PROVKIT_COMMONIMPL_H
#define PROVKIT_COMMONIMPL_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* New "KELVA:<systemId>" of the filer, freed with wsifree; null with the reason in status. */
PK_EXPORT char *encodeSystemName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer);
/* Drops the prefix before the first ':' of name (split in place) and points *systemOut at the rest.
 */
PK_EXPORT void decodeSystemName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                                char **systemOut);
/* Adds the filer's system name to op as key keyName (chars); status takes addKey's result. */
PK_EXPORT void setSystemName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                             const char *keyName, CMPIObjectPath *op);
/* New copy of a LUN serial number as a KELVA_StorageVolume DeviceID, freed with wsifree. */
PK_EXPORT char *getStorageVolumeEncodedDeviceID(const CMPIBroker *broker, CMPIStatus *status,
                                                const char *serialNumber);
/* Decodes a KELVA_StorageVolume DeviceID: *serialOut is deviceID itself and *lunPathOut a new
 * text (freed with wsifree) of the path of the filer's LUN with that serial number. */
PK_EXPORT void decodeStorageVolumeDeviceID(const CMPIBroker *broker, const Filer *filer,
                                           CMPIStatus *status, char *deviceID, char **lunPathOut,
                                           char **serialOut);
/* New text (freed with wsifree) of the path of the LUN named by op's DeviceID key; null with the
 * reason in status. */
PK_EXPORT char *getLunPath(const CMPIBroker *broker, const Filer *filer, const CMPIObjectPath *op,
                           CMPIStatus *status);
/* Points *volumeOut at the volume of a "/vol/<volume>/<lun>" path, split in place. */
PK_EXPORT void decodeVolumeFromLUNPath(const CMPIBroker *broker, CMPIStatus *status, char *lunPath,
                                       char **volumeOut);
/* New KELVA_StorageVolume Name of the LUN, freed with wsifree; null for no LUN. */
PK_EXPORT char *getStorgeVolumeName(const CMPIBroker *broker, const KELVALun *lun,
                                    CMPIStatus *status);
/* New text (freed with wsifree) of the path of the filer's LUN whose serial number the
 * KELVA_StorageVolume Name holds; null when there is none or with the reason in status. */
PK_EXPORT char *getLUNPathByStorageVolumeName(const CMPIBroker *broker, const Filer *filer,
                                              const char *name, CMPIStatus *status);
/* New copy (freed with wsifree) of the path of the filer's first LUN whose serial number equals
 * serialNumber (case ignored); null when there is none or with the reason in status. */
PK_EXPORT char *getLUNPathFromSerialNumber(const CMPIBroker *broker, const Filer *filer,
                                           const char *serialNumber, CMPIStatus *status);
/* Splits "<volume>:<snapshot>" in place; the snapshot keeps any further ':'. */
PK_EXPORT void decodeSnapshotDeviceID(const CMPIBroker *broker, CMPIStatus *status, char *deviceID,
                                      char **volumeOut, char **snapshotOut);
/* Takes volume and LUN name from "/vol/<volume>/<x>/<snapshot>/<lun>", split in place; a path
 * not starting with '/' is left alone, one of two components yields the volume only. */
PK_EXPORT void getLunNameFromBackingSnapshot(const CMPIBroker *broker, CMPIStatus *status,
                                             char *backingPath, char **volumeOut,
                                             char **lunNameOut);
/* 1 when the parent LUN path of the clone lun (from its backing snapshot) equals parentPath, else
 * 0; lun stays unchanged. */
PK_EXPORT int isParentLun(const CMPIBroker *broker, CMPIStatus *status, const char *parentPath,
                          const KELVALun *lun);
/* Appends to resultList the LUN record (freed with the list by freeLunInfo) of the parent of the
 * cloned LUN at lunPath; appends nothing when it has no backing snapshot. */
PK_EXPORT void getParentStorageVolume(const CMPIBroker *broker, const Filer *filer,
                                      const char *lunPath, WSIList *resultList, CMPIStatus *status);
/* Appends to resultList the LUN records (freed with the list by freeLunInfo) of the filer's clones
 * of the LUN at parentPath, or of every LUN when parentPath is null. */
PK_EXPORT void getAllClonedStorageVolumes(const CMPIBroker *broker, const Filer *filer,
                                          const char *parentPath, WSIList *resultList,
                                          CMPIStatus *status);
/* New "<volume>:<qtreeId>", freed with wsifree. */
PK_EXPORT char *getQTreeEncodedID(const CMPIBroker *broker, CMPIStatus *status, const char *volume,
                                  int qtreeId);
/* Splits "<volume>:<number>" in place; the number is read as far as it parses. */
PK_EXPORT void decodeQTreeID(const CMPIBroker *broker, CMPIStatus *status, char *id,
                             char **volumeOut, unsigned long *qtreeIdOut);
/* New statistics InstanceID of system whose local part is "<type>:<deviceId>", freed with
 * wsifree; null with the reason in status. */
PK_EXPORT char *encodeStatsID(const CMPIBroker *broker, CMPIStatus *status, const char *system,
                              const char *deviceId, const char *type);
/* Splits a statistics InstanceID in place: the two system outputs as getFilerAndNameFromInstanceId
 * gives them, then device id and type; every output points into instanceID. */
PK_EXPORT void decodeStatsID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                             char **systemOut1, char **systemOut2, char **deviceIdOut,
                             char **typeOut);
/* New copy (freed with wsifree) of the device id of op's statistics InstanceID key; null when
 * the key is absent or with the reason in status. */
PK_EXPORT char *getDevIDFromPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                                 CMPIStatus *status);
/* New copy (freed with wsifree) of the local part of op's DeviceID key; null with the reason in
 * status. */
PK_EXPORT char *getNameFromPathDeviceID(const CMPIBroker *broker, const CMPIObjectPath *op,
                                        CMPIStatus *status);
/* New copy (freed with wsifree) of the local part of op's InstanceID key; null with the reason
 * in status. */
PK_EXPORT char *getNameFromPathInstanceID(const CMPIBroker *broker, const CMPIObjectPath *op,
                                          CMPIStatus *status);
/* The disk state named by op's InstanceID: 2 present, 1 spare, 3 other; 0 with the reason in
 * status. */
PK_EXPORT int getDiskTypeFromPath(const CMPIObjectPath *op, const CMPIBroker *broker,
                                  CMPIStatus *status);
/* New "KELVA:<systemId>:<systemId>" statistics filter, freed with wsifree; ignored is not read. */
PK_EXPORT char *getFilterFromStatsPath(const CMPIBroker *broker, const void *ignored,
                                       const Filer *filer, CMPIStatus *status);

PK_END_DECLS

#endif
