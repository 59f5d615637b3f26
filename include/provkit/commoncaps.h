/* Pool settings and capabilities, and concrete pools: the fixed table of concrete pool
 * settings (RAID type and mirroring), the setting that describes an aggregate, storage-setting
 * goals read from a method's arguments or made by the capabilities library, the redundancy
 * defaults of a pool's capabilities, the space that volumes and LUNs consume, and the list of a
 * filer's concrete pools. */
#ifndef PROVKIT_COMMONCAPS_H
#define PROVKIT_COMMONCAPS_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* One row of the concrete pool setting table; rows are the library's, never copied or freed. */
typedef struct ConcretePoolSetting {
  const char *name;     /* "RAID_4:Mirrored" ... */
  const char *raidType; /* "raid0", "raid4" or "raid_tw", as the filer reports it */
  int32_t mirrored;     /* 1 mirrored, 0 not */
  uint16_t packageRedundancy;
  uint16_t dataRedundancy;
} ConcretePoolSetting;

/* A filer's aggregate (or traditional volume) as a KELVA_ConcretePool; allocated with wsicalloc,
 * freed with freeConcretePool. */
typedef struct ConcretePool {
  char *aggrText1;            /* the aggregate's uuid */
  char *poolName;             /* the aggregate's name */
  int32_t poolKind;           /* 1 aggregate, 2 traditional volume */
  uint64_t totalManagedSpace; /* bytes the pool manages (0 when brief) */
  uint64_t spaceConsumed;     /* bytes its volumes or LUNs consume, with the managed space */
  char *aggrText2;            /* the aggregate's state; null when brief */
} ConcretePool;

/* Points *table at the setting table (owned by the library) and sets *count to its 7 rows. */
PK_EXPORT void getAllConcretePoolSettings(const ConcretePoolSetting **table, int *count);
/* The first row whose name equals name (ASCII case ignored), or null. */
PK_EXPORT const ConcretePoolSetting *getConcretePoolSettingByName(const char *name);
/* The row that describes the aggregate's RAID groups and mirror status; null for no aggregate. */
PK_EXPORT const ConcretePoolSetting *getConcretePoolSettingFromAggregate(
    const KELVAAggregate *aggr);
/* The number of setting rows, 7. */
PK_EXPORT int getFilerMaxRAIDSize(void);
/* Mirrored 1 when dataRedundancy > 1; parity 2 when packageRedundancy > 1, else 1; returns 1. */
PK_EXPORT int getParityAndMirrorFromSettings(uint16_t dataRedundancy, uint16_t packageRedundancy,
                                             int32_t *mirrored, uint16_t *parity);

/* Reads the goal's DataRedundancyGoal and PackageRedundancyGoal: the goal is the method
 * argument "Goal" (a reference to an instance of goalClass), or, without one, the setting the
 * capabilities library capsLibrary makes for the source's capabilities.  label names the
 * caller in traces and messages.  Failures are raised into status. */
PK_EXPORT void getSettingsGoalParamOrDefault(const char *label, const CMPIBroker *broker,
                                             const CMPIContext *context,
                                             const CMPIObjectPath *source, const Filer *filer,
                                             const CMPIArgs *args, const char *goalClass,
                                             const char *capsLibrary, uint16_t *dataRedundancy,
                                             uint16_t *packageRedundancy, CMPIStatus *status);
/* Reads DataRedundancyDefault and PackageRedundancyDefault of the pool's capabilities from the
 * capabilities library; passThrough goes to it unread.  Failures are raised into status. */
PK_EXPORT void getExistingConcretePoolCaps(const CMPIBroker *broker, const CMPIContext *context,
                                           const CMPIObjectPath *poolPath, const Filer *filer,
                                           const void *passThrough, uint16_t *dataRedundancy,
                                           uint16_t *packageRedundancy, CMPIStatus *status);

/* Bytes the flexible volume consumes in its aggregate; when the filer cannot say (off line),
 * an approximation of its size from the command line, with the failure left in status. */
PK_EXPORT uint64_t getVolumeTotalSpaceConsumed(const CMPIBroker *broker, const Filer *filer,
                                               const KELVAVolume *volume, KELVAStatus *status);
/* Sum of the sizes of the LUNs at lunPath (null: any) in the volume (null: any); 0 with the
 * status set on failure. */
PK_EXPORT uint64_t getLUNTotalSpaceConsumed(const Filer *filer, const char *volumeName,
                                            const char *lunPath, KELVAStatus *status);
/* Sets *consumed to the aggregate's managed space plus what its volumes (or a traditional
 * volume's LUNs) consume and *managed to its managed space; both untouched on failure (status
 * set). */
PK_EXPORT void getConcretePoolManagedSpaces(const CMPIBroker *broker, const Filer *filer,
                                            const KELVAAggregate *aggr, uint64_t *consumed,
                                            uint64_t *managed, KELVAStatus *status);
/* The kind of the pool that the path's InstanceID names: 1 aggregate, 2 traditional volume;
 * 0 with the failure raised into status. */
PK_EXPORT int getPoolType(const CMPIBroker *broker, const CMPIObjectPath *poolPath,
                          const Filer *filer, CMPIStatus *status);

/* Appends a ConcretePool per aggregate of the filer (named name, of uuid uuidSelector; null or
 * "" selects any) to pools; returns the number of aggregates read, 0 with the failure in
 * status.  Pools appended before a failure stay in the list. */
PK_EXPORT int getConcretePoolsInFiler(const CMPIBroker *broker, CMPIStatus *status,
                                      const Filer *filer, const char *name,
                                      const char *uuidSelector, int brief, WSIList *pools);
/* Appends a ConcretePool per aggregate record of aggregates to pools; stops at the first
 * failure, which goes to the status record. */
PK_EXPORT void getConcretePoolsFromAggregateInfo(const CMPIBroker *broker, const Filer *filer,
                                                 KELVAStatus *status, int brief,
                                                 WSIList *aggregates, WSIList *pools);
/* New ConcretePool of the aggregate (space figures and aggrText2 only when brief is 0), freed
 * with freeConcretePool; null with the status set on failure. */
PK_EXPORT ConcretePool *makeConcretePool(const KELVAAggregate *aggr, const CMPIBroker *broker,
                                         KELVAStatus *status, const Filer *filer, int brief);
/* Frees a ConcretePool with its texts; null is ignored.  Serves as a WSIList free function. */
PK_EXPORT void freeConcretePool(void *pool);

PK_END_DECLS

#endif
