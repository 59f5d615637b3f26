/* Key-value formats of the iSCSI and network side of a filer (sessions,
 * connections, portal groups, settings, login statistics, protocol endpoints,
 * world wide names), the reads that complete them from the filer, and the
 * storage system's identifying information.  Encoders return new texts freed
 * with wsifree; decoders split the caller's writable copy in place and return
 * pointers into it.  Failures are raised into status with rc 1. */
#ifndef PROVKIT_ENDPOINTS_H
#define PROVKIT_ENDPOINTS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Protocol types of the record given to getNodeName: its first field, an int32_t. */
#define PK_PROTOCOL_ISCSI 1
#define PK_PROTOCOL_FC 2

/* ---- Sessions and connections ------------------------------------------------ */

/* New InstanceID of the system with local part "<tsih>+<isid>+<sessionId>", freed with wsifree;
 * null when out of memory or an argument is null. */
PK_EXPORT char *encodeISCSISessionID(const char *system, const char *tsih, const char *isid,
                                     uint32_t sessionId);
/* Splits a session local part "<tsih>+<isid>+<id>" in place; the id must be a decimal number. */
PK_EXPORT void decodeSessionID(const CMPIBroker *broker, CMPIStatus *status, char *localPart,
                               char **tsihOut, char **isidOut, uint32_t *sessionIdOut);
/* Splits "<cid>:<tsih>:<sessionIndex>:<connectionIndex>" in place; both indexes are decimal. */
PK_EXPORT void decodeConnectionName(const CMPIBroker *broker, CMPIStatus *status, char *text,
                                    char **cidOut, char **tsihOut, uint32_t *sessionIndexOut,
                                    uint32_t *connectionIndexOut);

/* ---- Portal groups and settings (InstanceIDs split in place) --------------------- */

/* Splits a portal group InstanceID: system parts, then "<tag>+<second>+<third>". */
PK_EXPORT void decodePortalGroupID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                                   char **systemOut1, char **systemOut2, char **firstOut,
                                   char **secondOut, char **thirdOut);
/* Splits a session settings InstanceID: system parts, then "<node>+<second>+<third>". */
PK_EXPORT void decodeISCSISessionSettingID(const CMPIBroker *broker, CMPIStatus *status,
                                           char *instanceID, char **systemOut1, char **systemOut2,
                                           char **firstOut, char **secondOut, char **thirdOut);
/* Splits a connection settings InstanceID: system parts, then "<address>+<second>+<index>". */
PK_EXPORT void decodeISCSIConnectionSettingsID(const CMPIBroker *broker, CMPIStatus *status,
                                               char *instanceID, char **systemOut1,
                                               char **systemOut2, char **firstOut, char **secondOut,
                                               char **thirdOut);
/* New copy (wsifree) of the portal group tag in op's InstanceID; null with the reason in status. */
PK_EXPORT char *getPortalTagFromPortalGroup(const CMPIBroker *broker, const CMPIObjectPath *op,
                                            CMPIStatus *status);
/* New copy (wsifree) of the node name in op's session settings InstanceID; null on failure. */
PK_EXPORT char *getNodeFromSettingData(const CMPIBroker *broker, const CMPIObjectPath *op,
                                       CMPIStatus *status);
/* The portal group tag of the portal that op's connection settings InstanceID names, asked of
 * the filer; 0 with the reason in status. */
PK_EXPORT uint32_t getTargetPortalTagFromConnectionSetting(const CMPIBroker *broker,
                                                           const CMPIObjectPath *op,
                                                           const Filer *filer, CMPIStatus *status);

/* ---- Login statistics and nodes ---------------------------------------------- */

/* Splits a login statistics local part "<node>+<i>+<n>+<stats>" in place. */
PK_EXPORT void decodeISCSILoginStatsNodeName(const CMPIBroker *broker, CMPIStatus *status,
                                             char *localPart, char **nodeOut, char **iOut,
                                             char **nOut, char **loginStatsOut);
/* New copy (wsifree) of the node name in op's login statistics InstanceID; null on failure. */
PK_EXPORT char *getNodeNameFromStats(const CMPIBroker *broker, const CMPIObjectPath *op,
                                     CMPIStatus *status);
/* New copy (wsifree) of the filer's cached iSCSI node name; null (a warning logged) when iSCSI
 * is off, null without a raised error when the cache entry cannot be had. */
PK_EXPORT char *getISCSINodeName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer);
/* The filer's cached iSCSI node state (1 running); 0 with the reason in status. */
PK_EXPORT int32_t getISCSINodeState(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer);
/* New "<node name><delimiter><suffix>" (wsifree); null when the filer has no node name. */
PK_EXPORT char *getISCSINodeNameEncoded(const CMPIBroker *broker, CMPIStatus *status,
                                        const Filer *filer, const char *delimiter,
                                        const char *suffix);
/* New node name (wsifree, normalised as by encodeWWN) asked on the caller's connection for the
 * protocol of the record (whose first field is its int32_t PK_PROTOCOL_... type); null with a
 * warning logged when the filer refuses, null with the reason in status on other failures. */
PK_EXPORT char *getNodeName(const CMPIBroker *broker, CMPIStatus *status, WSIServerInfo *connection,
                            const void *protocolController);

/* ---- Endpoints -------------------------------------------------------------------- */

/* Splits "<node>,t<hex tag>" in place: *tagOut is the tag rewritten in decimal after the comma. */
PK_EXPORT void decodeISCSIProtocolEndPointName(const CMPIBroker *broker, CMPIStatus *status,
                                               char *name, char **nodeOut, char **tagOut);
/* New copy (wsifree) of the node name of op's iSCSI protocol endpoint Name; null on failure. */
PK_EXPORT char *getNodeFromEndpoint(const CMPIBroker *broker, const CMPIObjectPath *op,
                                    CMPIStatus *status);
/* New copy (wsifree) of the decimal portal group tag of op's endpoint Name; null on failure. */
PK_EXPORT char *getPortalTagFromEndpoint(const CMPIBroker *broker, const CMPIObjectPath *op,
                                         CMPIStatus *status);
/* New "<nodeName>t<tag>" (wsifree) of the session's portal, "<nodeName>tNot Available" when no
 * portal matches; opens its own connection when connection is null (null when that fails). */
PK_EXPORT char *getSessionEndpoint(WSIServerInfo *connection, const Filer *filer,
                                   uint32_t sessionIndex, const char *nodeName);
/* New "<prefix>:<port>" (wsifree); null with the reason in status. */
PK_EXPORT char *encodeTCPEndpointName(const CMPIBroker *broker, CMPIStatus *status,
                                      const char *prefix, const char *port);
/* Splits "<prefix>:<port>" in place; the port keeps any further ':'. */
PK_EXPORT void decodeTCPEndpointName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                                     char **prefixOut, char **portOut);
/* New copy (wsifree) of the port of op's TCP endpoint Name; null on failure. */
PK_EXPORT char *getPortFromTCPProtocolEndpointPath(const CMPIBroker *broker,
                                                   const CMPIObjectPath *op, CMPIStatus *status);
/* The portal group tag of the portal on op's TCP endpoint port, asked of the filer; -1 when
 * there is none, with the reason in status on failure. */
PK_EXPORT int32_t getPortalTagFromTCPEnd(const CMPIBroker *broker, const CMPIObjectPath *op,
                                         const Filer *filer, CMPIStatus *status);
/* Splits "<ip>:<interface>:<address>" in place; the first field is skipped. */
PK_EXPORT void decodeIPProtName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                                char **interfaceOut, char **addressOut);
/* The same split as decodeIPProtName, for LAN endpoint Names. */
PK_EXPORT void decodeLANEndpointName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                                     char **interfaceOut, char **addressOut);
/* New copy (wsifree) of the interface name of op's LAN endpoint Name; null on failure. */
PK_EXPORT char *getDeviceIDFromLANEndpointPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                                               CMPIStatus *status);
/* New copy (wsifree) of the local part of the InstanceID after "<device>:" in op's InstanceID. */
PK_EXPORT char *getUUIDFromCapUtilPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                                       CMPIStatus *status);

/* ---- World wide names and addresses ------------------------------------------------- */

/* New text (wsifree): text up to its first newline without ':' and blanks, letters upper case. */
PK_EXPORT char *encodeWWN(const CMPIBroker *broker, CMPIStatus *status, const char *text);
/* New text (wsifree): text up to its first newline in lower case, pairs joined by ':'. */
PK_EXPORT char *decodeWWN(const CMPIBroker *broker, CMPIStatus *status, const char *text);
/* New IPv4-compatible IPv6 text of "a.b.c.d" (wsifree); null when text holds no four numbers. */
PK_EXPORT char *createIPV6FromIPV4(const char *text);

/* ---- iSCSI session parameters, read by SNMP on the caller's connection ------------ */

/* The filer's maximum connections per session; 0 (traced) when it cannot be read. */
PK_EXPORT uint32_t getMaxConnectionsPerSession(const CMPIBroker *broker, CMPIStatus *ignored,
                                               WSIServerInfo *connection, uint32_t index,
                                               uint32_t option);
/* The filer's default time to wait; 0 (traced) when it cannot be read. */
PK_EXPORT uint32_t getDefaultTimeToWaitPreference(const CMPIBroker *broker, CMPIStatus *ignored,
                                                  WSIServerInfo *connection, uint32_t index,
                                                  uint32_t option);
/* The filer's default time to retain; 0 (traced) when it cannot be read. */
PK_EXPORT uint32_t getDefaultTimeToRetainPreference(const CMPIBroker *broker, CMPIStatus *ignored,
                                                    WSIServerInfo *connection, uint32_t index,
                                                    uint32_t option);

/* ---- The storage system's identifying information ---------------------------------- */

/* New list (WSIList_free(list, wsifree)) of the filer's IPv4 addresses, domain name and node
 * WWN; empty when the filer cannot be asked; null only when no list can be made. */
PK_EXPORT WSIList *getOtherIdentifyingInfo(const CMPIBroker *broker, const Filer *filer,
                                           CMPIStatus *status);
/* New Fibre Channel node name of the filer (wsifree), "Unknown" when it has none; null with
 * the reason in status when no connection can be made. */
PK_EXPORT char *getNodeWWN(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status);
/* Sets OtherIdentifyingInfo and IdentifyingDescriptions of the filer's storage system instance. */
PK_EXPORT void setOtherIdentifyingInfo(const CMPIBroker *broker, const Filer *filer,
                                       CMPIInstance *instance, CMPIStatus *status);
/* Sets Dedicated of the storage system instance to 3, 15, 16, 21, 25. */
PK_EXPORT void setDedicated(const CMPIBroker *broker, CMPIInstance *instance, CMPIStatus *status);

PK_END_DECLS

#endif
