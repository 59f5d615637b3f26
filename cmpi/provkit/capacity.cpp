// Capacity arithmetic of a filer, its pools and extents.  Every figure is a
// uint64_t; sums and products wrap modulo 2^64 exactly as the providers'
// clients have always seen them, also on the 32-bit build, so no figure is
// ever held in a narrower or signed type.  The failure texts (with their
// leading blanks and misspellings) are the ones clients match on.
#include "provkit/capacity.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/commonimpl.h"
#include "provkit/frame.h"

extern "C" {
const char *const presentDiskStates[] = {"present", ""};
const char *const spareDiskStates[] = {"spare", ""};
const char *const presentOrSpareDiskStates[] = {"present", "spare", ""};
const char *const busyDiskStates[] = {"zeroing", "copy", "reconstructing", "pending", ""};
const char *const spareLikeDiskStates[] = {"spare", "pending", "reconstructing", ""};
}

namespace {

using pk::fail;
using pk::failed;
using pk::StatusRecord;

// Size of the reserve query's error text buffer.
constexpr int kReasonSize = 256;
constexpr const char *kBrokenOnly[] = {"broken", ""};

// A controller list freed with its records.
template <void (*FreeList)(WSIList *)>
struct ListFree {
  void operator()(WSIList *list) const { FreeList(list); }
};
void freeTexts(WSIList *list) { WSIList_free(list, wsifree); }
using AggrList = std::unique_ptr<WSIList, ListFree<freeAggregateInfo>>;
using VolumeList = std::unique_ptr<WSIList, ListFree<freeVolumeInfo>>;
using DiskList = std::unique_ptr<WSIList, ListFree<freeDiskInfo>>;
using LunList = std::unique_ptr<WSIList, ListFree<freeLunInfo>>;
using TextList = std::unique_ptr<WSIList, ListFree<freeTexts>>;

// Calls f with each element of the list as a T, in list order, while f returns true.
template <typename T, typename F>
void each(WSIList *list, F f) {
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
    if (!f(static_cast<const T *>(WSIList_getElement(at)))) return;
  }
}

bool equals(const char *a, const char *b) { return a != nullptr && strCompare(a, b) == 0; }
// Whether the state text occurs within word (plain substring search; an empty state does).
bool occursWithin(const char *state, const char *word) {
  return state != nullptr && std::strstr(word, state) != nullptr;
}

// A new list, or null with noMemory raised.
template <typename List>
List newList(const CMPIBroker *broker, CMPIStatus *status, const char *noMemory) {
  List list(WSIList_new());
  if (!list) fail(broker, status, noMemory);
  return list;
}

// Raises the controller library's failure; true when the call succeeded.
bool succeeded(const CMPIBroker *broker, CMPIStatus *status, int result, StatusRecord &record) {
  if (result != 0 && !record.failed()) return true;
  if (!record.failed()) setKELVAStatus(record.get(), 0, "Controller library call failed");
  raiseCMPIErrorKELVA(broker, status, record.get());
  return false;
}

// The nine reserve figures (index 1 to 9) of an aggregate or volume; false with reason.
bool reserve(WSIServerInfo *server, const char *kind, const char *name, uint64_t (&f)[10],
             char (&reason)[kReasonSize]) {
  reason[0] = '\0';
  return GetVolumeReserveInfo(server, kind, name, &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7],
                              &f[8], &f[9], reason, kReasonSize) != 0;
}

// A volume's snapshot area: the larger of its snapshot reserve and the space its
// snapshots use, plus its overwrite reserve.
uint64_t snapshotArea(const uint64_t (&f)[10]) { return std::max(f[4], f[5]) + f[2]; }

// The aggregate's volumes (aggr checked by the caller), or null with the failure raised.
VolumeList volumesOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                     const char *aggrName, const char *noMemory) {
  auto list = newList<VolumeList>(broker, status, noMemory);
  if (!list) return list;
  StatusRecord record;
  if (!succeeded(broker, status,
                 getVolumeInfo(record.get(), filer, nullptr, nullptr, aggrName, 3, 0, list.get()),
                 record)) {
    list.reset();
  }
  return list;
}

// Checks the aggregate record and its name for the disk and volume collections.
bool aggregateGiven(const CMPIBroker *broker, CMPIStatus *status, const KELVAAggregate *aggr,
                    const char *noName) {
  if (aggr == nullptr) {
    fail(broker, status, " Aggregate is null");
    return false;
  }
  if (aggr->name == nullptr) {
    fail(broker, status, noName);
    return false;
  }
  return true;
}

// The aggregate's disks, by the names of its disks; stops at the first disk that
// cannot be read (raised).  Null when the collection could not start.
DiskList disksOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                 const KELVAAggregate *aggr) {
  if (!aggregateGiven(broker, status, aggr, " Aggregate name is null")) return DiskList();
  auto names = newList<TextList>(broker, status, " Insufficient memory");
  if (!names) return DiskList();
  auto disks = newList<DiskList>(broker, status, " Insufficient memory");
  if (!disks) return disks;
  StatusRecord record;
  if (!succeeded(broker, status,
                 getAllDiskNames(record.get(), filer, aggr->name, nullptr, nullptr, names.get()),
                 record)) {
    return DiskList();
  }
  each<char>(names.get(), [&](const char *name) {
    StatusRecord one;
    return succeeded(broker, status,
                     getDiskInfo(one.get(), filer, name, nullptr, nullptr, disks.get()), one);
  });
  return disks;
}

// Every disk of the filer that passes the filters, or null with the failure raised.
DiskList filerDisks(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                    const char *const *include, const char *const *exclude, const char *noMemory) {
  auto disks = newList<DiskList>(broker, status, noMemory);
  if (!disks) return disks;
  StatusRecord record;
  if (!succeeded(broker, status,
                 getDiskInfo(record.get(), filer, nullptr, include, exclude, disks.get()),
                 record)) {
    disks.reset();
  }
  return disks;
}

// Every aggregate of the filer (brief records), or null with the failure raised.
AggrList filerAggregates(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                         const char *noMemory) {
  auto aggrs = newList<AggrList>(broker, status, noMemory);
  if (!aggrs) return aggrs;
  StatusRecord record;
  if (!succeeded(broker, status,
                 getAggregateInfo(record.get(), filer, nullptr, nullptr, 3, 1, aggrs.get()),
                 record)) {
    aggrs.reset();
  }
  return aggrs;
}

// The reserve query's kind text of an aggregate record, or null for an invalid kind.
const char *reserveKind(int32_t kind) {
  return kind == 1 ? "aggregate" : kind == 2 ? "volume" : nullptr;
}

void lunBytesOfAggregate(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                         const KELVAAggregate *aggr, uint64_t *size, uint64_t *second) {
  *size = 0;
  *second = 0;
  if (aggr == nullptr) {
    fail(broker, status, " Aggregate is null");
    return;
  }
  if (aggr->name == nullptr) {
    fail(broker, status, " aggregate has NULL name");
    return;
  }
  VolumeList volumes = volumesOf(broker, status, filer, aggr->name, " Insufficient memory.");
  if (!volumes) return;
  auto luns = newList<LunList>(broker, status, " Insuficcient memory");
  if (!luns) return;
  StatusRecord record;
  if (!succeeded(broker, status,
                 getLunInfo(record.get(), filer, nullptr, nullptr, nullptr, 0, nullptr, luns.get()),
                 record)) {
    return;
  }
  each<KELVALun>(luns.get(), [&](const KELVALun *lun) {
    if (lun->path == nullptr) {
      fail(broker, status, " Lun path is null.");
      return false;
    }
    pk::WsiText path(wsistrdup(lun->path));
    if (!path) {
      fail(broker, status, " Can not copy lunpath.");
      return false;
    }
    char *volume = nullptr;
    decodeVolumeFromLUNPath(broker, status, path.get(), &volume);
    if (failed(status)) return false;
    each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
      if (equals(v->name, volume)) {
        *size += lun->size;
        *second += lun->sizeUsed;
      }
      return true;
    });
    return true;
  });
}

// The aggregate's file bytes into *out; untouched on a failure.
void filesBytesOfAggregate(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                           const KELVAAggregate *aggr, uint64_t *out) {
  if (!aggregateGiven(broker, status, aggr, " Aggregate name is null")) return;
  VolumeList volumes = volumesOf(broker, status, filer, aggr->name, " Insufficient memory.");
  if (!volumes) return;
  uint64_t used = 0;
  each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
    used += v->used * 8;
    return true;
  });
  uint64_t lunBytes = 0;
  uint64_t second = 0;
  lunBytesOfAggregate(broker, status, filer, aggr, &lunBytes, &second);
  if (!failed(status)) *out = used - lunBytes;
}

void freeBytesOfAggregate(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                          const KELVAAggregate *aggr, uint64_t *out) {
  if (!aggregateGiven(broker, status, aggr, " Aggregate name is null")) return;
  VolumeList volumes = volumesOf(broker, status, filer, aggr->name, " Insufficient memory.");
  if (!volumes) return;
  each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
    *out += v->free * 8;
    return true;
  });
}

// Adds the sizes of the disks whose state does not occur within "broken".
void addUnbroken(WSIList *disks, const CMPIStatus *status, uint64_t *out) {
  each<KELVADisk>(disks, [&](const KELVADisk *d) {
    if (failed(status)) return false;
    if (!occursWithin(d->state, "broken")) *out += d->size;
    return true;
  });
}

// The four drilldown figures of one reserve query.
struct Drilldown {
  uint64_t snapshot = 0, overwrite = 0, snapshotUsed = 0, consumed = 0;
  void add(const Drilldown &d) {
    snapshot += d.snapshot;
    overwrite += d.overwrite;
    snapshotUsed += d.snapshotUsed;
    consumed += d.consumed;
  }
};

bool drilldownOf(const CMPIBroker *broker, CMPIStatus *status, WSIServerInfo *server,
                 const char *kind, const char *name, Drilldown *out) {
  uint64_t f[10] = {};
  char reason[kReasonSize];
  if (!reserve(server, kind, name, f, reason)) {
    fail(broker, status, reason);
    return false;
  }
  *out = Drilldown{std::max(f[4], f[5]), f[2], f[5], f[6]};
  return true;
}

bool aggregateDrilldown(const CMPIBroker *broker, CMPIStatus *status, WSIServerInfo *server,
                        const KELVAAggregate *aggr, Drilldown *out) {
  if (aggr == nullptr) {
    fail(broker, status, " Aggregate is null");
    return false;
  }
  if (aggr->name == nullptr) {
    fail(broker, status, " aggregate has NULL name");
    return false;
  }
  const char *kind = reserveKind(aggr->kind);
  if (kind == nullptr) {
    fail(broker, status, "Invalid Aggregate type encountered");
    return false;
  }
  return drilldownOf(broker, status, server, kind, aggr->name, out);
}

// Right size over the disks: how far the unused parts exceed the sizes, else 0.
void rightSize(WSIList *disks, const CMPIStatus *status, uint64_t *out) {
  uint64_t sizes = 0;
  uint64_t unused = 0;
  *out = 0;
  each<KELVADisk>(disks, [&](const KELVADisk *d) {
    if (failed(status)) return false;
    if (equals(d->state, "broken")) return true;
    sizes += d->size;
    unused += d->size - d->usedSize;
    *out = unused > sizes ? unused - sizes : 0;
    return true;
  });
}

void putOne(const CMPIBroker *broker, CMPIStatus *status, CMPIUint16 value, WSIList *list) {
  addUINT16ToList(broker, status, value, list);
}

bool inTexts(const char *text, std::initializer_list<const char *> texts) {
  for (const char *t : texts) {
    if (equals(text, t)) return true;
  }
  return false;
}

// The texts the status values test for membership (containsString tables).
const char *kOtherExtentStates[] = {"copying",         "degraded",    "foreign",
                                    "mirror degraded", "out-of-date", nullptr};
const char *kRecalculating[] = {"ironing", "resynching", nullptr};
const char *kParityRaid[] = {"raid4", "raid_tw", nullptr};

// Membership for the status values: a missing text is in no table.
bool member(const char *text, const char **table) {
  return text != nullptr && containsString(text, table) != 0;
}

}  // namespace

extern "C" {

int perfObjectGetAggrInfo(WSIServerInfo *server, int kind, const char *name, uint64_t *percent,
                          uint64_t *blocks, char *errorText, uint16_t errorTextSize) {
  const char *kindText = reserveKind(kind);
  if (kindText == nullptr) {
    if (errorText != nullptr && errorTextSize > 0)
      strlcpy_safe(errorText, "Invalid Aggregate Type", errorTextSize);
    return 0;
  }
  return GetVolumeReserveInfo(server, kindText, name, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, blocks, percent, errorText, errorTextSize);
}

void getSnapshotAreaBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status,
                                         const Filer *filer, WSIServerInfo *server,
                                         const KELVAAggregate *aggr, uint64_t *out) {
  (void)filer;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    if (aggr == nullptr) return fail(broker, st.get(), " aggregate is NULL");
    if (aggr->kind != 1) {
      *out = 0;
      return;
    }
    if (aggr->name == nullptr) return fail(broker, st.get(), " aggregate has NULL name");
    uint64_t f[10] = {};
    char reason[kReasonSize];
    if (!reserve(server, "aggregate", aggr->name, f, reason)) return fail(broker, st.get(), reason);
    *out = aggr->size * f[9] / 100;
  });
}

void getSnapshotAreaBytesForStorageExtent(const CMPIBroker *broker, CMPIStatus *status,
                                          const Filer *filer, WSIServerInfo *server,
                                          const KELVAAggregate *aggr, uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    if (aggr == nullptr) return fail(broker, st.get(), " aggregate is NULL");
    if (aggr->name == nullptr) return fail(broker, st.get(), " aggregate has NULL name");
    *out = 0;
    VolumeList volumes = volumesOf(broker, st.get(), filer, aggr->name, " Insufficient memory");
    if (!volumes) return;
    each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
      uint64_t f[10] = {};
      char reason[kReasonSize];
      if (!reserve(server, "volume", v->name, f, reason)) return false;
      *out += snapshotArea(f);
      return true;
    });
  });
}

void getSnapshotAreaBytesForSystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                   WSIServerInfo *server, uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    auto aggrs = newList<AggrList>(broker, st.get(), " Insufficient Memory");
    if (!aggrs) return;
    StatusRecord record;
    if (getAggregateInfo(record.get(), filer, nullptr, nullptr, 3, 1, aggrs.get()) == 0 ||
        record.failed()) {
      return fail(broker, st.get(), " Insufficient Memory");
    }
    each<KELVAAggregate>(aggrs.get(), [&](const KELVAAggregate *a) {
      if (a->kind != 1) return true;
      uint64_t percent = 0;
      uint64_t blocks = 0;
      char reason[kReasonSize] = "";
      if (perfObjectGetAggrInfo(server, 1, a->name, &percent, &blocks, reason, kReasonSize) == 0) {
        fail(broker, st.get(), reason);
        return false;
      }
      // Multiply first, divide last: the blocks' bytes before the percentage.
      *out += percent * blocks * 512 / 100;
      return true;
    });
    if (st.failed()) return;
    VolumeList volumes = volumesOf(broker, st.get(), filer, nullptr, " Insufficient Memory");
    if (!volumes) return;
    each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
      uint64_t f[10] = {};
      char reason[kReasonSize];
      if (!reserve(server, "volume", v->name, f, reason)) return false;
      *out += snapshotArea(f);
      return true;
    });
  });
}

void getRAIDOverheadBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status,
                                         const Filer *filer, const KELVAAggregate *aggr,
                                         uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks = disksOf(broker, st.get(), filer, aggr);
    if (!disks || st.failed()) return;
    each<KELVADisk>(disks.get(), [&](const KELVADisk *d) {
      if (occursWithin(d->state, "parity")) *out += d->size;
      return true;
    });
    // Then every disk of every RAID group of every plex, whatever its state.
    auto plexes = newList<TextList>(broker, st.get(), " Insufficient memory");
    if (!plexes) return;
    StatusRecord record;
    if (!succeeded(broker, st.get(),
                   getAllPlexNamesInAggregate(record.get(), filer, aggr->name, plexes.get()),
                   record)) {
      return;
    }
    each<char>(plexes.get(), [&](const char *plex) {
      auto groups = newList<TextList>(broker, st.get(), " Insufficient memory");
      StatusRecord one;
      if (!groups || !succeeded(broker, st.get(),
                                getAllRAIDNamesInPlex(one.get(), filer, plex, groups.get()), one)) {
        return false;
      }
      each<char>(groups.get(), [&](const char *group) {
        auto names = newList<TextList>(broker, st.get(), " Insufficient memory");
        StatusRecord inGroup;
        if (!names ||
            !succeeded(broker, st.get(),
                       getAllDiskNamesInRAID(inGroup.get(), filer, group, names.get()), inGroup)) {
          return false;
        }
        each<char>(names.get(), [&](const char *name) {
          auto found = newList<DiskList>(broker, st.get(), " Insufficient memory");
          StatusRecord disk;
          if (!found ||
              !succeeded(broker, st.get(),
                         getDiskInfo(disk.get(), filer, name, nullptr, nullptr, found.get()),
                         disk)) {
            return false;
          }
          each<KELVADisk>(found.get(), [&](const KELVADisk *d) {
            *out += d->size;
            return true;
          });
          return true;
        });
        return st.ok();
      });
      return st.ok();
    });
  });
}

void getRAIDOverheadBytesForSystem(const CMPIBroker *broker, CMPIStatus *status, const void *unused,
                                   const Filer *filer, uint64_t *out) {
  (void)unused;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks = filerDisks(broker, st.get(), filer, nullptr, nullptr, " Insufficient Memory");
    if (!disks) return;
    AggrList aggrs = filerAggregates(broker, st.get(), filer, " Insufficient Memory");
    if (!aggrs) return;
    uint64_t total = 0;
    uint64_t spare = 0;
    uint64_t aggregates = 0;
    each<KELVADisk>(disks.get(), [&](const KELVADisk *d) {
      total += d->size;
      if (inTexts(d->state, {"spare", "pending", "reconstructing"})) spare += d->size;
      return true;
    });
    each<KELVAAggregate>(aggrs.get(), [&](const KELVAAggregate *a) {
      aggregates += a->size;
      return true;
    });
    *out = total - spare - aggregates;
  });
}

void getLUNBytes(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                 const char *lunPath, uint64_t *size, uint64_t *second) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    *size = 0;
    *second = 0;
    auto luns = newList<LunList>(broker, st.get(), " Insuficcient memory");
    if (!luns) return;
    StatusRecord record;
    if (!succeeded(
            broker, st.get(),
            getLunInfo(record.get(), filer, lunPath, nullptr, nullptr, 0, nullptr, luns.get()),
            record)) {
      return;
    }
    each<KELVALun>(luns.get(), [&](const KELVALun *lun) {
      *size += lun->size;
      *second += lun->sizeUsed;
      return true;
    });
  });
}

void getLUNBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                        const Filer *filer, const KELVAAggregate *aggr,
                                        uint64_t *size, uint64_t *second) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(),
                [&] { lunBytesOfAggregate(broker, st.get(), filer, aggr, size, second); });
}

void getFilesBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                          const Filer *filer, const void *unused,
                                          const KELVAAggregate *aggr, uint64_t *out) {
  (void)unused;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(),
                [&] { filesBytesOfAggregate(broker, st.get(), filer, aggr, out); });
}

void getFilesBytesForSystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                            const void *unused, uint64_t *out) {
  (void)unused;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    AggrList aggrs = filerAggregates(broker, st.get(), filer, " Insufficient memory.");
    if (!aggrs) return;
    *out = 0;
    each<KELVAAggregate>(aggrs.get(), [&](const KELVAAggregate *a) {
      uint64_t files = 0;
      filesBytesOfAggregate(broker, st.get(), filer, a, &files);
      if (st.failed()) return false;
      *out += files;
      return true;
    });
  });
}

void getFreeBytesForConcretePoolOrExtent(const CMPIBroker *broker, CMPIStatus *status,
                                         const Filer *filer, const void *unused,
                                         const KELVAAggregate *aggr, uint64_t *out) {
  (void)unused;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(),
                [&] { freeBytesOfAggregate(broker, st.get(), filer, aggr, out); });
}

void getFreeBytesForSystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                           const void *unused, uint64_t *out) {
  (void)unused;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    AggrList aggrs = filerAggregates(broker, st.get(), filer, " Insufficient memory.");
    if (!aggrs) return;
    each<KELVAAggregate>(aggrs.get(), [&](const KELVAAggregate *a) {
      freeBytesOfAggregate(broker, st.get(), filer, a, out);
      return st.ok();
    });
  });
}

void getRawBytesForConcretePool(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                const KELVAAggregate *aggr, uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks = disksOf(broker, st.get(), filer, aggr);
    if (disks) addUnbroken(disks.get(), st.get(), out);
  });
}

void getRawBytesForSystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                          uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks = filerDisks(broker, st.get(), filer, nullptr, nullptr, " Insufficient memory.");
    if (disks) addUnbroken(disks.get(), st.get(), out);
  });
}

uint64_t getSystemSpareBytes(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), uint64_t{0}, [&] {
    uint64_t bytes = 0;
    DiskList disks =
        filerDisks(broker, st.get(), filer, spareLikeDiskStates, nullptr, " Insufficient Memory");
    if (!disks) return bytes;
    each<KELVADisk>(disks.get(), [&](const KELVADisk *d) {
      bytes += d->size;
      return true;
    });
    return bytes;
  });
}

uint16_t getSystemSpareDisksCount(const CMPIBroker *broker, const Filer *filer,
                                  CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), uint16_t{0}, [&] {
    DiskList disks =
        filerDisks(broker, st.get(), filer, spareDiskStates, nullptr, " Insufficient Memory");
    return disks ? static_cast<uint16_t>(WSIList_getLength(disks.get())) : uint16_t{0};
  });
}

void getUtilDrilldownDataByAggregate(const CMPIBroker *broker, CMPIStatus *status,
                                     const Filer *filer, WSIServerInfo *server,
                                     const KELVAAggregate *aggr, uint64_t *out1, uint64_t *out2,
                                     uint64_t *out3, uint64_t *out4) {
  (void)filer;
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    Drilldown d;
    if (!aggregateDrilldown(broker, st.get(), server, aggr, &d)) return;
    *out1 = d.snapshot;
    *out2 = d.overwrite;
    *out3 = d.snapshotUsed;
    *out4 = d.consumed;
  });
}

void getUtilDrilldownDataByAggregateVolumes(const CMPIBroker *broker, CMPIStatus *status,
                                            const Filer *filer, WSIServerInfo *server,
                                            const KELVAAggregate *aggr, uint64_t *out1,
                                            uint64_t *out2, uint64_t *out3, uint64_t *out4) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    if (aggr == nullptr) return fail(broker, st.get(), " Aggregate is null");
    if (aggr->name == nullptr) return fail(broker, st.get(), " aggregate has NULL name");
    VolumeList volumes = volumesOf(broker, st.get(), filer, aggr->name, " Insufficient memory");
    if (!volumes) return;
    each<KELVAVolume>(volumes.get(), [&](const KELVAVolume *v) {
      Drilldown d;
      if (!drilldownOf(broker, st.get(), server, "volume", v->name, &d)) return false;
      *out1 += d.snapshot;
      *out2 += d.overwrite;
      *out3 += d.snapshotUsed;
      *out4 += d.consumed;
      return true;
    });
  });
}

void getDrilldownDataBySystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                              WSIServerInfo *server, uint64_t *out1, uint64_t *out2, uint64_t *out3,
                              uint64_t *out4) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    AggrList aggrs = filerAggregates(broker, st.get(), filer, "Insufficient memory");
    if (!aggrs) return;
    Drilldown sum;
    *out1 = *out2 = *out3 = *out4 = 0;
    each<KELVAAggregate>(aggrs.get(), [&](const KELVAAggregate *a) {
      Drilldown d;
      if (!aggregateDrilldown(broker, st.get(), server, a, &d)) return false;
      sum.add(d);
      *out1 = sum.snapshot;
      *out2 = sum.overwrite;
      *out3 = sum.snapshotUsed;
      *out4 = sum.consumed;
      return true;
    });
  });
}

void getRightSizeBytesFromAggregate(const CMPIBroker *broker, CMPIStatus *status,
                                    const Filer *filer, const KELVAAggregate *aggr, uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks = disksOf(broker, st.get(), filer, aggr);
    if (disks && st.ok()) rightSize(disks.get(), st.get(), out);
  });
}

void getRightSizeBytesFromSystem(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                 uint64_t *out) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    DiskList disks =
        filerDisks(broker, st.get(), filer, nullptr, kBrokenOnly, " Insufficient memory");
    if (disks) rightSize(disks.get(), st.get(), out);
  });
}

void addExtentStatusStates(const CMPIBroker *broker, CMPIStatus *status, const char *state,
                           const char *raidStatus, WSIList *list) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    CMPIStatus *s = st.get();
    if (member(state, kOtherExtentStates)) putOne(broker, s, 0, list);    // Other
    if (equals(state, "online")) putOne(broker, s, 2, list);              // None/Not Applicable
    if (equals(state, "failed")) putOne(broker, s, 3, list);              // Broken
    if (equals(raidStatus, "growing")) putOne(broker, s, 5, list);        // Dynamic Reconfig
    if (equals(raidStatus, "initializing")) putOne(broker, s, 10, list);  // Readying
    if (equals(raidStatus, "reconstruct")) putOne(broker, s, 11, list);   // Rebuild
    if (member(raidStatus, kRecalculating)) putOne(broker, s, 12, list);  // Recalculate
    if (equals(raidStatus, "verifying")) putOne(broker, s, 14, list);     // Verify In Progress
  });
}

void addVolumeOperationalStatusStates(const CMPIBroker *broker, CMPIStatus *status,
                                      const char *state, const char *raidStatus, int raid0Accepted,
                                      WSIList *list) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    CMPIStatus *s = st.get();
    bool appended = false;
    auto put = [&](CMPIUint16 value) {
      putOne(broker, s, value, list);
      appended = true;
    };
    if (equals(state, "online") &&
        (member(raidStatus, kParityRaid) || (raid0Accepted != 0 && equals(raidStatus, "raid0")))) {
      put(2);  // OK
    }
    if (equals(state, "failed") || equals(raidStatus, "unrecoverable")) put(6);  // Error
    if (equals(state, "creating")) put(8);                                       // Starting
    if (equals(state, "offline")) {
      putOne(broker, s, 15, list);  // Dormant
      return;
    }
    if (!appended) putOne(broker, s, 3, list);  // Degraded
  });
}

}  // extern "C"
