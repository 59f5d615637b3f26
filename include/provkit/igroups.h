/* Protocol controllers and initiator groups: the CIM keys of KELVA_ProtocolController
 * ("SPC:" + igroup name), KELVA_AuthorizedPrivilege (igroup|initiator) and
 * KELVA_StorageHardwareID mapped to the filer's igroup, initiator and LUN records, and
 * the igroup changes made on a filer: forced destruction, renaming and the element name
 * kept in the filer's registry ("state.igroup.elementname." + igroup name).
 *
 * filerOut, where taken, receives the filer found for the object path when the call
 * succeeds (the caller frees it with freeFiler); otherwise the copy is freed. */
#ifndef PROVKIT_IGROUPS_H
#define PROVKIT_IGROUPS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "initiators.h"
#include "pk_export.h"

PK_BEGIN_DECLS

struct WSIServerInfo;

/* An igroup and one of its initiators; both texts are owned by the record. */
typedef struct KVAuthorizedPath {
  char *igroupName;
  char *initiatorName;
} KVAuthorizedPath;

/* New "SPC:" + igroupName (free with wsifree); NULL without a name, or with the failure
 * recorded when memory runs out. */
PK_EXPORT char *encodeProtocolControllerDeviceID(const char *igroupName, KELVAStatus *status);
/* Stores in *nameOut a new copy (free with wsifree) of what follows the DeviceID's first
 * ':' (nothing when nothing does); an empty DeviceID or one of colons only is malformed. */
PK_EXPORT void decodeProtocolControllerDeviceID(const char *deviceID, char **nameOut,
                                                KELVAStatus *status);
/* Splits a writable authorized-privilege InstanceID in place: systemId, system name
 * prefix, igroup and initiator names, all pointing into instanceID. */
PK_EXPORT void decodeAuthorizedPrivilegeInstanceID(char *instanceID, char **systemOut1,
                                                   char **systemOut2, char **igroupOut,
                                                   char **initiatorOut, KELVAStatus *status);
/* New KELVA_ProtocolController path in referencePath's namespace with its four keys;
 * returned in every case (release with CMRelease), a failed key recorded in status. */
PK_EXPORT CMPIObjectPath *newProtocolControllerObjectPath(const CMPIBroker *broker,
                                                          const CMPIObjectPath *referencePath,
                                                          const char *igroupName,
                                                          const char *systemName,
                                                          CMPIStatus *status);
/* Appends a new KVAuthorizedPath for every initiator (passing initiatorFilter) of every
 * igroup passing the filters to resultList (free the records with freeKVAuthorizedPath). */
PK_EXPORT void getKVAuthorizedPaths(const Filer *filer, const char *selector,
                                    const char *igroupFilter, const char *initiatorFilter,
                                    WSIList *resultList, KELVAStatus *status);
/* Frees both texts and the record; NULL is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeKVAuthorizedPath(void *path);
/* New list of the matching KVAuthorizedPath records; NULL on failure.  Free with
 * WSIList_free(list, freeKVAuthorizedPath). */
PK_EXPORT WSIList *getAuthorizedPaths(const Filer *filer, const char *igroupFilter,
                                      const char *initiatorFilter, KELVAStatus *status);
/* The first authorized path for the two filters (free with freeKVAuthorizedPath); NULL when
 * there is none or on failure (raised into status). */
PK_EXPORT KVAuthorizedPath *getControllerByInstanceID(const CMPIBroker *broker, const Filer *filer,
                                                      const char *igroupName,
                                                      const char *initiatorName,
                                                      CMPIStatus *status);
/* The authorized path named by op's InstanceID key (free with freeKVAuthorizedPath). */
PK_EXPORT KVAuthorizedPath *mapAuthorizedPrivilegeToAuthorizedPath(const CMPIBroker *broker,
                                                                   CMPIStatus *status,
                                                                   const CMPIObjectPath *op,
                                                                   Filer **filerOut);
/* The initiator named by op's InstanceID key (free with freeKELVAInitiator). */
PK_EXPORT KELVAInitiator *mapStorageHardwareIDtoInitiator(const CMPIBroker *broker,
                                                          CMPIStatus *status,
                                                          const CMPIObjectPath *op,
                                                          Filer **filerOut);
/* The igroup named by op's SystemName and DeviceID keys (free with freeIGroup); NULL when
 * there is none or on failure. */
PK_EXPORT KELVAIGroup *mapProtocolControllerToIGroupInfo(const CMPIBroker *broker,
                                                         CMPIStatus *status,
                                                         const CMPIObjectPath *op,
                                                         Filer **filerOut);
/* Appends LUN records to resultList: the filer's LUNs passing the filters, or (with
 * igroupName) those mapped to the igroup, in LUN map order.  Free with freeLun. */
PK_EXPORT void getStorageVolumes(const CMPIBroker *broker, const Filer *filer,
                                 const char *igroupName, const char *lunPath,
                                 const char *lunFilter2, const char *lunFilter3,
                                 WSIList *resultList, CMPIStatus *status);
/* The LUN named by op's SystemName and DeviceID keys (free with freeLun). */
PK_EXPORT KELVALun *mapStorageVolumeToLunInfo(const CMPIBroker *broker, CMPIStatus *status,
                                              const CMPIObjectPath *op, Filer **filerOut);
/* Destroys the igroup on the caller's connection even with LUNs mapped, then drops its
 * element name; a filer without the igroup (error 9003) raises CMPI_RC_ERR_NOT_FOUND. */
PK_EXPORT void deleteIGroupForcibly(const CMPIBroker *broker, struct WSIServerInfo *connection,
                                    const char *igroupName, CMPIStatus *status,
                                    const char *traceComponent);
/* Renames the igroup on the filer; 1 on success, 0 with the failure raised. */
PK_EXPORT int renameIGroup(const CMPIBroker *broker, const Filer *filer, const char *currentName,
                           const char *newName, CMPIStatus *status);
/* Stores the igroup's element name in the filer's registry; 1 on success, 0 with the
 * failure raised. */
PK_EXPORT int setIGroupElementName(const CMPIBroker *broker, const Filer *filer,
                                   const char *igroupName, const char *elementName,
                                   CMPIStatus *status);

PK_END_DECLS

#endif
