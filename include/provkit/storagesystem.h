/* The storage system's snapshot: its system information, an operational
 * status from its takeover state and a health state from the filers' SNMP
 * traps or, when no trap told, from the controller library's filer cache. */
#ifndef PROVKIT_STORAGESYSTEM_H
#define PROVKIT_STORAGESYSTEM_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* A filer as a KELVA_StorageSystem sees it. */
typedef struct KELVAStorageSystem {
  KELVASysInfo *sysInfo;      /* owned; its online field is 0 while the filer is off-line */
  uint16_t operationalStatus; /* 2 OK, 3 Degraded, 6 Error, 12 No Contact */
  uint16_t healthState;       /* 0 Unknown, 5 OK, 15 Minor, 25 Critical, 30 Non-recoverable */
} KELVAStorageSystem;

/* New snapshot of the filer, freed with freeKELVAStorageSystem; null with the reason in status,
 * or null with a good status when requireOnline is set and the filer stayed off-line (after up
 * to 180 seconds of waiting when waitForOnline is set). */
PK_EXPORT KELVAStorageSystem *getKELVAStorageSystem(const CMPIBroker *broker, CMPIStatus *status,
                                                    const Filer *filer, int skipEarlyCheck,
                                                    int waitForOnline, int requireOnline);
/* Frees the snapshot with its system information; null is ignored. */
PK_EXPORT void freeKELVAStorageSystem(KELVAStorageSystem *system);
/* Empties the health cache and ends the trap subscription for the rest of the process. */
PK_EXPORT void unloadKELVAStorageSystemTraps(const CMPIBroker *broker);
/* The operational status of the filer from its takeover state (12 when info says off-line); 0
 * with the reason in status when the takeover state cannot be read. */
PK_EXPORT uint16_t getCFOperationalStatus(const CMPIBroker *broker, CMPIStatus *status,
                                          const Filer *filer, const KELVASysInfo *info);

PK_END_DECLS

#endif
