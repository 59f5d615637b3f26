/* Capacity figures of a filer, its pools (aggregates) and extents: raw, spare,
 * RAID parity, snapshot reserve, LUN, file and free bytes and the four
 * drilldown figures, computed from the controller library's cached records and
 * the live reserve query; and the CIM status values of extents and volumes.
 *
 * Every figure is an unsigned 64-bit byte count; sums and products wrap modulo
 * 2^64 and quotients truncate.  A function that "sets" overwrites its output, one
 * that "adds" adds to what the caller put there (start it at 0).  Failures are
 * raised into status (rc 1); outputs then hold what was summed so far.  server is
 * a connection to the filer for the reserve query (wsiapi.h), used unchanged. */
#ifndef PROVKIT_CAPACITY_H
#define PROVKIT_CAPACITY_H

#include <cmpidt.h>
#include <cmpift.h>
#include <stdint.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>
#include <wbemkelvai/wsistorage.h>

#include "pk_export.h"

PK_BEGIN_DECLS

/* Disk-state filter lists for getDiskInfo: state texts ended by an empty entry "". */
PK_EXPORT extern const char *const presentDiskStates[];        /* "present" */
PK_EXPORT extern const char *const spareDiskStates[];          /* "spare" */
PK_EXPORT extern const char *const presentOrSpareDiskStates[]; /* "present", "spare" */
PK_EXPORT extern const char
    *const busyDiskStates[]; /* "zeroing", "copy", "reconstructing", "pending" */
PK_EXPORT extern const char *const spareLikeDiskStates[]; /* "spare", "pending", "reconstructing" */

/* Reserve query of an aggregate (kind 1) or a traditional volume (kind 2): snapshot reserve
 * percent and size in 512-byte blocks; non-zero on success, else 0 with the reason in
 * errorText (cut to errorTextSize, terminated). */
PK_EXPORT int perfObjectGetAggrInfo(struct WSIServerInfo *server, int kind, const char *name,
                                    uint64_t *percent, uint64_t *blocks, char *errorText,
                                    uint16_t errorTextSize);

/* Sets *out to the pool's snapshot reserve: size x percent / 100 for an aggregate, 0 for a
 * traditional volume.  filer is not read. */
PK_EXPORT void getSnapshotAreaBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status,
                                                   const Filer *filer, struct WSIServerInfo *server,
                                                   const KELVAAggregate *aggr, uint64_t *out);
/* Sets *out to the snapshot areas of the aggregate's volumes (the sum stops at the first volume
 * whose reserve query fails, without an error). */
PK_EXPORT void getSnapshotAreaBytesForStorageExtent(const CMPIBroker *broker, CMPIStatus *status,
                                                    const Filer *filer,
                                                    struct WSIServerInfo *server,
                                                    const KELVAAggregate *aggr, uint64_t *out);
/* Adds the aggregates' snapshot reserves and the volumes' snapshot areas of the filer. */
PK_EXPORT void getSnapshotAreaBytesForSystem(const CMPIBroker *broker, CMPIStatus *status,
                                             const Filer *filer, struct WSIServerInfo *server,
                                             uint64_t *out);

/* Adds the aggregate's parity disks and the disks of its RAID groups. */
PK_EXPORT void getRAIDOverheadBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status,
                                                   const Filer *filer, const KELVAAggregate *aggr,
                                                   uint64_t *out);
/* Sets *out to all disks less spare-like disks less the aggregates' sizes; unused is not read. */
PK_EXPORT void getRAIDOverheadBytesForSystem(const CMPIBroker *broker, CMPIStatus *status,
                                             const void *unused, const Filer *filer, uint64_t *out);

/* Sets *size and *second to the sums of the two size figures of the LUNs at lunPath. */
PK_EXPORT void getLUNBytes(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                           const char *lunPath, uint64_t *size, uint64_t *second);
/* Sets *size and *second to the sums of the two size figures of the LUNs in the aggregate's
 * volumes. */
PK_EXPORT void getLUNBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                                  const Filer *filer, const KELVAAggregate *aggr,
                                                  uint64_t *size, uint64_t *second);

/* Sets *out to the aggregate's volumes' used bytes less its LUN bytes (left untouched on a
 * failure); unused is not read. */
PK_EXPORT void getFilesBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                                    const Filer *filer, const void *unused,
                                                    const KELVAAggregate *aggr, uint64_t *out);
/* Sets *out to the sum of the aggregates' file bytes. */
PK_EXPORT void getFilesBytesForSystem(const CMPIBroker *broker, CMPIStatus *status,
                                      const Filer *filer, const void *unused, uint64_t *out);

/* Adds the free bytes of the aggregate's volumes. */
PK_EXPORT void getFreeBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                                   const Filer *filer, const void *unused,
                                                   const KELVAAggregate *aggr, uint64_t *out);
/* Adds the free bytes of every aggregate's volumes. */
PK_EXPORT void getFreeBytesForSystem(const CMPIBroker *broker, CMPIStatus *status,
                                     const Filer *filer, const void *unused, uint64_t *out);

/* Adds the sizes of the aggregate's disks that are not broken. */
PK_EXPORT void getRawBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status,
                                          const Filer *filer, const KELVAAggregate *aggr,
                                          uint64_t *out);
/* Adds the sizes of the filer's disks that are not broken. */
PK_EXPORT void getRawBytesForSystem(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, uint64_t *out);

/* The sizes of the filer's spare, pending and reconstructing disks. */
PK_EXPORT uint64_t getSystemSpareBytes(const CMPIBroker *broker, const Filer *filer,
                                       CMPIStatus *status);
/* The number of the filer's spare disks. */
PK_EXPORT uint16_t getSystemSpareDisksCount(const CMPIBroker *broker, const Filer *filer,
                                            CMPIStatus *status);

/* Sets the four drilldown figures of the aggregate from its reserve query: snapshot reserve (or
 * the space its snapshots use when larger), overwrite reserve, snapshot space used, space
 * consumed.  filer is not read. */
PK_EXPORT void getUtilDrilldownDataByAggregate(const CMPIBroker *broker, CMPIStatus *status,
                                               const Filer *filer, struct WSIServerInfo *server,
                                               const KELVAAggregate *aggr, uint64_t *out1,
                                               uint64_t *out2, uint64_t *out3, uint64_t *out4);
/* Adds the four drilldown figures of each of the aggregate's volumes. */
PK_EXPORT void getUtilDrilldownDataByAggregateVolumes(
    const CMPIBroker *broker, CMPIStatus *status, const Filer *filer, struct WSIServerInfo *server,
    const KELVAAggregate *aggr, uint64_t *out1, uint64_t *out2, uint64_t *out3, uint64_t *out4);
/* Sets the four drilldown figures to their sums over the filer's aggregates. */
PK_EXPORT void getDrilldownDataBySystem(const CMPIBroker *broker, CMPIStatus *status,
                                        const Filer *filer, struct WSIServerInfo *server,
                                        uint64_t *out1, uint64_t *out2, uint64_t *out3,
                                        uint64_t *out4);

/* Sets *out to how far the aggregate's unbroken disks' unused parts exceed their sizes (0 with
 * ordinary figures). */
PK_EXPORT void getRightSizeBytesFromAggregate(const CMPIBroker *broker, CMPIStatus *status,
                                              const Filer *filer, const KELVAAggregate *aggr,
                                              uint64_t *out);
/* The same over all the filer's unbroken disks. */
PK_EXPORT void getRightSizeBytesFromSystem(const CMPIBroker *broker, CMPIStatus *status,
                                           const Filer *filer, uint64_t *out);

/* Appends to the list (wsifree'd two-byte blocks) the ExtentStatus values of an extent in
 * state with RAID status raidStatus; does nothing once status holds an error. */
PK_EXPORT void addExtentStatusStates(const CMPIBroker *broker, CMPIStatus *status,
                                     const char *state, const char *raidStatus, WSIList *list);
/* Appends the OperationalStatus values of a volume; RAID type "raid0" counts as OK only when
 * raid0Accepted is non-zero. */
PK_EXPORT void addVolumeOperationalStatusStates(const CMPIBroker *broker, CMPIStatus *status,
                                                const char *state, const char *raidStatus,
                                                int raid0Accepted, WSIList *list);

PK_END_DECLS

#endif
