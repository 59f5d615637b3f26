/* Fibre Channel ports of a filer: initiator ports parsed from the adapter sections
 * that the filer's "sysconfig -v" prints, target port records from its
 * "fcp-adapter-list-info" answer, and single SNMP reads.  Requests go on the
 * caller's connection (wsiapi.h), which stays the caller's. */
#ifndef PROVKIT_FCPORTS_H
#define PROVKIT_FCPORTS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include "pk_export.h"

PK_BEGIN_DECLS

struct WSIServerInfo;

/* An FC initiator port; texts and lists are owned by the record.  A keys-only record
 * has only systemName and deviceID. */
typedef struct KELVAFCInitiatorPort {
  char *systemName;           /* "KELVA:<systemId>" */
  char *deviceID;             /* the adapter's node name, upper-case hex without separators */
  char *elementName;          /* the adapter's name ("0a") */
  uint16_t fixedNumber1;      /* 3 */
  uint16_t portType;          /* 1 unknown, 10 N, 11 NL or F/NL, 14 E, 15 F, 16 FL, 17 B, 0 other */
  uint16_t fixedNumber2;      /* 4 */
  uint64_t speed;             /* 1062500000 */
  uint64_t maxSpeed;          /* 1062500000 */
  uint64_t frameSize;         /* 2112 */
  WSIList *operationalStatus; /* one uint16_t: 2 up, 6 down, 0 unknown */
  WSIList *supportedFC4Types; /* one uint16_t: 8 */
  WSIList *activeFC4Types;    /* the same list as supportedFC4Types */
} KELVAFCInitiatorPort;

/* An FC target port; texts are owned by the record. */
typedef struct KELVAFCTPInfo {
  char *adapter;
  char *nodeName; /* as the filer wrote it */
  int32_t portAddress;
  int32_t portId;
  int64_t packetSize;
  int64_t dataLinkRate;
  char *portName; /* upper-case hex without separators; "" when the filer gave none */
  char *state;
  char *systemName;
} KELVAFCTPInfo;

/* New list of the filer's FC initiator ports (keys only when keysOnly is non-zero; only
 * the one whose device ID is wwnFilter when given); NULL with the failure raised.  Free
 * with WSIList_free(list, freeFCInitiatorPort). */
PK_EXPORT WSIList *doSysConfig(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                               struct WSIServerInfo *connection, uint8_t keysOnly,
                               const char *wwnFilter);
/* Frees one initiator port record; NULL is ignored. */
PK_EXPORT void freeFCInitiatorPort(void *port);
/* New list of the filer's FC target ports (only adapterFilter's when given); NULL when the
 * answer lists none or on a raised failure; a filer refusal is logged and gives an empty
 * list.  Free with WSIList_free(list, freeFCTPInfo). */
PK_EXPORT WSIList *getFCTPList(const CMPIBroker *broker, const Filer *filer,
                               struct WSIServerInfo *connection, const char *adapterFilter,
                               CMPIStatus *status);
/* Frees one target port record; NULL is ignored. */
PK_EXPORT void freeFCTPInfo(void *info);
/* Reads one SNMP object; *valueOut (when given) gets a new text, freed with wsifree.  1 on
 * success or when the filer's failure stands for an empty value, else 0. */
PK_EXPORT int getObjectID_732(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                              struct WSIServerInfo *connection, const char *objectId,
                              char **valueOut);
/* The same for baseObjectId + "." + index. */
PK_EXPORT int getObjectID1_732(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                               struct WSIServerInfo *connection, const char *baseObjectId,
                               unsigned long index, char **valueOut);

PK_END_DECLS

#endif
