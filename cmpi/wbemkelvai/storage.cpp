// Storage records of a filer (aggregates, volumes, disks, LUNs, igroups) served
// from the filer cache, and the live storage queries (reserve figures, iSCSI
// portals, SNMP).  What is cached and for how long: docs/cache.md.
//
// Each piece is read whole with one listing request and kept as plain C++ values;
// callers get fresh C records copied from it, so nothing they do touches the cache.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "cache.h"
#include "diag.h"
#include "element.h"
#include "kit.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsistorage.h"

namespace wsi {

namespace {

struct RaidGroup {
  std::string name;
  std::string raidType;
  std::vector<std::string> disks;
};
struct Plex {
  std::string name;
  std::vector<RaidGroup> groups;
};
// Each kind of cached record names its piece, the request that lists it and the
// list in the answer.
struct Aggr {
  static constexpr Piece kPiece = kAggregates;
  static constexpr const char *kApi = "aggr-list-info";
  static constexpr const char *kList = "aggregates";
  std::string name, uuid, state, mirrorStatus, raidStatus;
  int kind = 1;
  uint64_t size = 0, managed = 0, used = 0, available = 0;
  int volumeCount = 0, snapshotReservePercent = 0;
  std::vector<Plex> plexes;
};
struct Vol {
  static constexpr Piece kPiece = kVolumes;
  static constexpr const char *kApi = "volume-list-info";
  static constexpr const char *kList = "volumes";
  std::string uuid, name, aggregate, state, raidType;
  int kind = 1;
  uint64_t size = 0, used = 0, available = 0, snapshotReserve = 0;
  int snapshotReservePercent = 0, snapshotCount = 0, qtreeCount = 0;
  bool sealmode = false, root = false;
};
struct Disk {
  static constexpr Piece kPiece = kDisks;
  static constexpr const char *kApi = "disk-list-info";
  static constexpr const char *kList = "disks";
  std::string name, state, aggregate, plex, raidGroup, type, serial;
  uint64_t size = 0, used = 0;
};
struct Lun {
  static constexpr Piece kPiece = kLuns;
  static constexpr const char *kApi = "lun-list-info";
  static constexpr const char *kList = "luns";
  std::string path, serial, backing, volume, osType, uuid, comment;
  uint64_t size = 0, used = 0;
  bool online = true, mapped = false, reserved = true;
};
struct LunMap {
  std::string path;
  int lunId = 0;
};
struct IGroup {
  static constexpr Piece kPiece = kIGroups;
  static constexpr const char *kApi = "igroup-list-info";
  static constexpr const char *kList = "initiator-groups";
  std::string name, type, osType, portSet;
  std::vector<std::string> initiators;
  std::vector<LunMap> maps;
};

template <class T>
struct Cached {
  bool loaded = false;
  uint64_t generation = 0;
  std::chrono::steady_clock::time_point at;
  std::vector<T> items;
};

}  // namespace

struct StoragePieces {
  std::tuple<Cached<Aggr>, Cached<Vol>, Cached<Disk>, Cached<Lun>, Cached<IGroup>> cached;
};

void StoragePiecesDeleter::operator()(StoragePieces *pieces) const { delete pieces; }

// What each request changes of the cached storage data, by its exact name.  Every
// request that the library or its callers send belongs here; one that is missing
// is taken to change everything, which is safe but costs the next reads.
struct RequestEffect {
  const char *api;
  unsigned pieces;
};
constexpr unsigned kStructure = pieceBit(kAggregates) | pieceBit(kVolumes) | pieceBit(kDisks);
constexpr RequestEffect kRequestEffects[] = {
    // Reads.
    {"aggr-list-info", 0},
    {"cf-status", 0},
    {"cifs-session-list-iter-end", 0},
    {"cifs-session-list-iter-next", 0},
    {"cifs-session-list-iter-start", 0},
    {"cifs-share-list-iter-end", 0},
    {"cifs-share-list-iter-next", 0},
    {"cifs-share-list-iter-start", 0},
    {"diagnosis-status-get", 0},
    {"disk-list-info", 0},
    {"fcp-adapter-list-info", 0},
    {"fcp-config-adapters", 0},
    {"fcp-node-get-name", 0},
    {"file-list-directory-iter-start", 0},
    {"igroup-list-info", 0},
    {"iscsi-node-get-name", 0},
    {"iscsi-portal-list-info", 0},
    {"iscsi-service-status", 0},
    {"lun-list-info", 0},
    {"net-ifconfig-get", 0},
    {"nfs-exportfs-list-rules", 0},
    {"nfs-get-supported-sec-flavors", 0},
    {"qtree-list", 0},
    {"quota-get-entry", 0},
    {"quota-list-entries", 0},
    {"quota-report-iter-end", 0},
    {"quota-report-iter-next", 0},
    {"quota-report-iter-start", 0},
    {"quota-status", 0},
    {"snapshot-list-info", 0},
    {"snmp-get", 0},
    {"snmp-get-next", 0},
    {"space-reserve-info", 0},
    {"system-get-info", 0},
    {"system-get-version", 0},
    {"volume-list-info", 0},
    // Changes outside the cached storage data.
    {"cifs-share-add", 0},
    {"cifs-share-change", 0},
    {"cifs-share-delete", 0},
    {"iscsi-node-set-name", 0},
    {"nfs-exportfs-append-rules", 0},
    {"nfs-exportfs-delete-rules", 0},
    {"nfs-exportfs-modify-rule", 0},
    {"quota-add-entry", 0},
    {"quota-delete-entry", 0},
    {"quota-modify-entry", 0},
    {"quota-off", 0},
    {"quota-on", 0},
    {"quota-resize", 0},
    {"registry-delete", 0},
    {"registry-set", 0},
    // Changes of the cached storage data.
    {"igroup-add", pieceBit(kIGroups)},
    {"igroup-destroy", pieceBit(kIGroups) | pieceBit(kLuns)},  // the LUNs' mapped flag
    {"igroup-remove", pieceBit(kIGroups)},
    {"igroup-rename", pieceBit(kIGroups)},
    {"lun-create", pieceBit(kLuns) | pieceBit(kVolumes) | pieceBit(kAggregates)},  // its space
    {"lun-destroy", pieceBit(kLuns) | pieceBit(kIGroups) | pieceBit(kVolumes) |
                        pieceBit(kAggregates)},  // its maps go with it
    {"lun-map", pieceBit(kLuns) | pieceBit(kIGroups)},
    {"lun-offline", pieceBit(kLuns)},
    {"lun-online", pieceBit(kLuns)},
    {"lun-resize", pieceBit(kLuns) | pieceBit(kVolumes) | pieceBit(kAggregates)},
    {"lun-set-comment", pieceBit(kLuns)},
    {"lun-unmap", pieceBit(kLuns) | pieceBit(kIGroups)},
    {"volume-destroy", kAllPieces},  // its LUNs and maps go; the aggregate's space and disks follow
    {"volume-offline", kStructure | pieceBit(kLuns)},
    {"volume-online", kStructure | pieceBit(kLuns)},
    {"system-cli", kAllPieces},  // any command at all
};

unsigned piecesChangedBy(const std::string &api) {
  for (const RequestEffect &effect : kRequestEffects) {
    if (api == effect.api) return effect.pieces;
  }
  return kAllPieces;
}

}  // namespace wsi

namespace {

using namespace wsi;
using Clock = std::chrono::steady_clock;
std::string str(const WSIElement *element, const char *name) {
  const char *text = getStringElement(element, name);
  return text != nullptr ? text : std::string();
}
// Byte figures use the whole unsigned 64-bit range, so they are read as unsigned
// texts: a signed read would lose every figure at or above 2^63.  Anything but a
// plain decimal number reads as 0.
uint64_t u64(const WSIElement *element, const char *name) {
  const char *text = getStringElement(element, name);
  if (text == nullptr) return 0;
  const char *end = text + std::strlen(text);
  uint64_t value = 0;
  auto [at, error] = std::from_chars(text, end, value);
  return error == std::errc() && at == end ? value : 0;
}
int i32(const WSIElement *element, const char *name) {
  return static_cast<int>(getIntElement(element, name, 0));
}
// Children of the child named list (none when it is missing).
const std::vector<std::unique_ptr<WSIElement>> &itemsOf(const WSIElement *element,
                                                        const char *list) {
  static const std::vector<std::unique_ptr<WSIElement>> none;
  const WSIElement *child = getChildElement(element, list);
  return child != nullptr ? child->children : none;
}

bool same(const std::string &a, const char *b) { return strCompare(a.c_str(), b) == 0; }
bool passes(const char *filter, const std::string &value) {
  return passesStringFilter(filter, value.c_str()) != 0;
}

// ---- Parsing the listing answers ----------------------------------------------------

// Reads one T (with read) from each child of the answer's child named list.
template <class T, class Read>
void readList(const WSIElement *answer, const char *list, std::vector<T> &out, Read read) {
  for (const auto &item : itemsOf(answer, list)) {
    T value{};
    read(item.get(), value);
    out.push_back(std::move(value));
  }
}

void readRecord(const WSIElement *e, Aggr &a) {
  a.name = str(e, "name");
  a.uuid = str(e, "uuid");
  a.kind = str(e, "type") == "traditional" ? 2 : 1;
  a.state = str(e, "state");
  a.size = u64(e, "size-total");
  a.managed = u64(e, "size-managed");
  a.used = u64(e, "size-used");
  a.available = u64(e, "size-available");
  a.mirrorStatus = str(e, "mirror-status");
  a.raidStatus = str(e, "raid-status");
  a.volumeCount = i32(e, "volume-count");
  a.snapshotReservePercent = i32(e, "snapshot-reserve-percent");
  readList(e, "plexes", a.plexes, [](const WSIElement *p, Plex &plex) {
    plex.name = str(p, "name");
    readList(p, "raid-groups", plex.groups, [](const WSIElement *g, RaidGroup &group) {
      group.name = str(g, "name");
      group.raidType = str(g, "raid-type");
      readList(g, "disks", group.disks,
               [](const WSIElement *d, std::string &disk) { disk = d->text; });
    });
  });
}

void readRecord(const WSIElement *e, Vol &v) {
  v.uuid = str(e, "uuid");
  v.name = str(e, "name");
  v.aggregate = str(e, "containing-aggregate");
  v.kind = str(e, "type") == "traditional" ? 2 : 1;
  v.state = str(e, "state");
  v.raidType = str(e, "raid-type");
  v.size = u64(e, "size-total");
  v.used = u64(e, "size-used");
  v.available = u64(e, "size-available");
  v.snapshotReserve = u64(e, "snapshot-reserve");
  v.snapshotReservePercent = i32(e, "snapshot-reserve-percent");
  v.snapshotCount = i32(e, "snapshot-count");
  v.qtreeCount = i32(e, "qtree-count");
  v.sealmode = getBoolElement(e, "is-sealmode", 0) != 0;
  v.root = getBoolElement(e, "is-root", 0) != 0;
}

void readRecord(const WSIElement *e, Disk &d) {
  d.name = str(e, "name");
  d.state = str(e, "raid-state");
  d.size = u64(e, "size-bytes");
  d.used = u64(e, "used-bytes");
  d.aggregate = str(e, "aggregate");
  d.plex = str(e, "plex");
  d.raidGroup = str(e, "raid-group");
  d.type = str(e, "disk-type");
  d.serial = str(e, "serial-number");
}

void readRecord(const WSIElement *e, Lun &l) {
  l.path = str(e, "path");
  l.serial = str(e, "serial-number");
  l.backing = str(e, "backing-snapshot");
  l.size = u64(e, "size");
  l.used = u64(e, "size-used");
  l.online = getBoolElement(e, "online", 1) != 0;
  l.mapped = getBoolElement(e, "mapped", 0) != 0;
  l.reserved = getBoolElement(e, "is-space-reservation-enabled", 1) != 0;
  l.osType = str(e, "multiprotocol-type");
  l.uuid = str(e, "uuid");
  l.comment = str(e, "comment");
  if (l.path.rfind("/vol/", 0) == 0) l.volume = l.path.substr(5, l.path.find('/', 5) - 5);
}

void readRecord(const WSIElement *e, IGroup &g) {
  g.name = str(e, "initiator-group-name");
  g.type = str(e, "initiator-group-type");
  g.osType = str(e, "initiator-group-os-type");
  g.portSet = str(e, "initiator-group-portset-name");
  readList(e, "initiators", g.initiators,
           [](const WSIElement *i, std::string &name) { name = str(i, "initiator-name"); });
  readList(e, "lun-maps", g.maps, [](const WSIElement *m, LunMap &map) {
    map = {str(m, "path"), i32(m, "lun-id")};
  });
}

// ---- Keeping a piece fresh ---------------------------------------------------------

template <class T>
Cached<T> &cachedOf(StoragePieces &pieces) {
  return std::get<Cached<T>>(pieces.cached);
}

// Makes the piece of the records T usable: cached and unchanged within the
// time-to-live (unless fresh is asked for), else read again.  A filer that is away
// (or resting after a time-out) leaves the old data in use; any other failure is
// reported.  The records, or NULL with the status set.
template <class T>
const std::vector<T> *ensure(StorageAccess &access, bool fresh, KELVAStatus *status) {
  if (access.pieces == nullptr) access.pieces.reset(new StoragePieces);
  Cached<T> &cached = cachedOf<T>(*access.pieces);
  uint64_t generation = access.generations[T::kPiece].load();
  if (!fresh && cached.loaded && cached.generation == generation &&
      Clock::now() - cached.at < std::chrono::seconds(WSI_FILER_CACHE_TTL_SECONDS)) {
    return &cached.items;
  }
  auto keepOld = [&](const std::string &why) {
    WSI_LOG(std::string("Keeping cached ") + T::kApi + " data of " + access.filer->systemId + ": " +
            why);
    return &cached.items;
  };
  std::string resting = access.quiet.why(access.filer->host);
  if (!resting.empty()) {
    if (cached.loaded) return keepOld(resting);
    fail(status, resting);
    return nullptr;
  }
  Session session(access.filer, status);
  if (!session.ok()) return nullptr;
  Element answer = session.send(T::kApi, status);
  if (answer == nullptr) return nullptr;
  access.quiet.note(answer.get());
  if (checkResultStatus(answer.get()) == 0) {
    if (cached.loaded && filerAway(answer.get())) {
      return keepOld(getResultErrorString(answer.get()));
    }
    session.reportFailure(answer.get(), status);
    return nullptr;
  }
  std::vector<T> items;
  readList(answer.get(), T::kList, items,
           [](const WSIElement *e, T &item) { readRecord(e, item); });
  cached.items = std::move(items);
  cached.loaded = true;
  cached.generation = generation;
  cached.at = Clock::now();
  return &cached.items;
}

// ---- Making C records ------------------------------------------------------------------

// Copies texts for one record, remembering whether any copy failed.
struct Copier {
  bool ok = true;
  char *text(const std::string &value) {
    char *copy = newText(value);
    if (copy == nullptr) ok = false;
    return copy;
  }
  char *optional(const std::string &value) { return value.empty() ? nullptr : text(value); }
};

template <class R>
R *newRecord() {
  return static_cast<R *>(wsicalloc(1, sizeof(R)));
}

// The finished record, or NULL (the record freed) when one of its copies failed.
template <class R>
R *finished(R *r, bool ok, void (*freeRecord)(void *)) {
  if (ok) return r;
  freeRecord(r);
  return nullptr;
}

KELVAAggregate *record(const Aggr &a, bool brief) {
  auto *r = newRecord<KELVAAggregate>();
  if (r == nullptr) return nullptr;
  Copier c;
  r->name = c.text(a.name);
  r->uuid = c.text(a.uuid);
  r->kind = a.kind;
  r->state = c.text(a.state);
  r->size = a.size;
  if (!brief) {
    r->managedSpace = a.managed;
    r->usedSpace = a.used;
    r->availableSpace = a.available;
  }
  std::vector<std::string> types;
  for (const Plex &plex : a.plexes) {
    ++r->plexCount;
    for (const RaidGroup &group : plex.groups) {
      ++r->raidGroupCount;
      r->diskCount += static_cast<int32_t>(group.disks.size());
      if (group.raidType == "raid4") r->hasRaid4 = 1;
      if (group.raidType == "raid0") r->hasRaid0 = 1;
      if (group.raidType == "raid_tw") r->hasRaidTW = 1;
    }
  }
  r->mixedRaid = r->hasRaid4 + r->hasRaid0 + r->hasRaidTW > 1 ? 1 : 0;
  r->mirrorStatus = c.text(a.mirrorStatus);
  r->raidStatus = c.text(a.raidStatus);
  r->volumeCount = a.volumeCount;
  r->snapshotReservePercent = a.snapshotReservePercent;
  return finished(r, c.ok, freeAggregate);
}

KELVAVolume *record(const Vol &v, const char *systemId) {
  auto *r = newRecord<KELVAVolume>();
  if (r == nullptr) return nullptr;
  Copier c;
  r->uuid = c.text(v.uuid);
  r->name = c.text(v.name);
  r->systemId = c.text(systemId);
  r->aggregateName = c.text(v.aggregate);
  r->kind = v.kind;
  r->state = c.text(v.state);
  r->raidType = c.text(v.raidType);
  r->size = v.size;
  r->used = v.used / 8;
  r->free = v.available / 8;
  r->snapshotReserve = v.snapshotReserve;
  r->snapshotReservePercent = v.snapshotReservePercent;
  r->snapshotCount = v.snapshotCount;
  r->qtreeCount = v.qtreeCount;
  r->sealmode = v.sealmode ? 1 : 0;
  r->isRoot = v.root ? 1 : 0;
  return finished(r, c.ok, freeVolume);
}

KELVADisk *record(const Disk &d) {
  auto *r = newRecord<KELVADisk>();
  if (r == nullptr) return nullptr;
  Copier c;
  r->name = c.text(d.name);
  r->state = c.text(d.state);
  r->size = d.size;
  r->usedSize = d.used;
  r->aggregateName = c.optional(d.aggregate);
  r->plexName = c.optional(d.plex);
  r->raidGroupName = c.optional(d.raidGroup);
  r->diskType = c.text(d.type);
  r->serialNumber = c.text(d.serial);
  return finished(r, c.ok, freeDisk);
}

KELVALun *record(const Lun &l) {
  auto *r = newRecord<KELVALun>();
  if (r == nullptr) return nullptr;
  Copier c;
  r->path = c.text(l.path);
  r->serialNumber = c.text(l.serial);
  r->backingSnapshot = c.optional(l.backing);
  r->size = l.size;
  r->sizeUsed = l.used;
  r->volumeName = c.text(l.volume);
  r->osType = c.text(l.osType);
  r->uuid = c.text(l.uuid);
  r->comment = c.text(l.comment);
  r->online = l.online ? 1 : 0;
  r->mapped = l.mapped ? 1 : 0;
  r->spaceReserved = l.reserved ? 1 : 0;
  return finished(r, c.ok, freeLun);
}

KELVAIGroup *record(const IGroup &g) {
  auto *r = newRecord<KELVAIGroup>();
  if (r == nullptr) return nullptr;
  Copier c;
  r->name = c.text(g.name);
  r->type = c.text(g.type);
  r->osType = c.text(g.osType);
  r->portSet = c.optional(g.portSet);
  r->initiators = WSIList_new();
  r->lunMaps = WSIList_new();
  bool ok = c.ok && r->initiators != nullptr && r->lunMaps != nullptr;
  for (size_t i = 0; ok && i < g.initiators.size(); ++i) {
    char *name = newText(g.initiators[i]);
    if (name == nullptr || WSIList_append(r->initiators, name) == 0) {
      wsifree(name);
      ok = false;
    }
  }
  for (size_t i = 0; ok && i < g.maps.size(); ++i) {
    auto *map = newRecord<KELVALunMap>();
    if (map != nullptr) {
      map->path = newText(g.maps[i].path);
      map->lunId = g.maps[i].lunId;
    }
    if (map == nullptr || map->path == nullptr || WSIList_append(r->lunMaps, map) == 0) {
      if (map != nullptr) wsifree(map->path);
      wsifree(map);
      ok = false;
    }
  }
  return finished(r, ok, freeIGroup);
}

// Appends every record or none: a failure frees them all and sets the status.
bool appendAll(WSIList *list, std::vector<void *> &records, void (*freeRecord)(void *),
               KELVAStatus *status) {
  size_t appended = 0;
  bool ok = list != nullptr;
  for (void *r : records) {
    if (r == nullptr || !ok || WSIList_append(list, r) == 0) {
      ok = false;
      continue;
    }
    ++appended;
  }
  if (ok) return true;
  for (size_t i = 0; i < appended; ++i) WSIList_remove(list, records[i]);
  for (void *r : records) freeRecord(r);
  setKELVAStatus(status, 0, list == nullptr ? "No list given" : kNoMemory);
  return false;
}

bool appendTexts(WSIList *list, const std::vector<std::string> &texts, KELVAStatus *status) {
  std::vector<void *> copies;
  copies.reserve(texts.size());
  for (const std::string &t : texts) copies.push_back(newText(t));
  return appendAll(list, copies, wsifree, status);
}

// Appends a record (made by make) of every item that keep accepts, all or none.
template <class T, class Keep, class Make>
bool appendRecords(WSIList *list, const std::vector<T> &items, Keep keep, Make make,
                   void (*freeRecord)(void *), KELVAStatus *status) {
  std::vector<void *> records;
  for (const T &item : items) {
    if (keep(item)) records.push_back(make(item));
  }
  return appendAll(list, records, freeRecord, status);
}

// Sets result to a record (made by make) of the first item that keep accepts;
// result stays NULL when there is none.  False with the status set when the record
// cannot be made.
template <class T, class R, class Keep, class Make>
bool copyFirst(const std::vector<T> &items, R *&result, Keep keep, Make make, KELVAStatus *status) {
  for (const T &item : items) {
    if (!keep(item)) continue;
    result = make(item);
    if (result == nullptr) setKELVAStatus(status, 0, kNoMemory);
    return result != nullptr;
  }
  return true;
}

// The C edge of a reader: runs body with the filer's storage entry and a non-null
// status; an exception becomes a failure with the reason in the status.
template <class Body>
bool run(const Filer *filer, KELVAStatus *callerStatus, Body body) {
  return cEdge(callerStatus, false, [&](KELVAStatus *status) {
    return withStorage(filer, status, [&](StorageAccess &a) { return body(a, status); });
  });
}

bool inStates(const char *const *states, const std::string &state) {
  for (const char *const *s = states; *s != nullptr && **s != '\0'; ++s) {
    if (same(state, *s)) return true;
  }
  return false;
}

void copyError(const std::string &text, char *buffer, int size) {
  if (buffer != nullptr && size > 0) strlcpy_safe(buffer, text.c_str(), static_cast<size_t>(size));
}

void put(uint64_t *out, uint64_t value) {
  if (out != nullptr) *out = value;
}

// Asks for the nine reserve figures; empty reason on success.
std::string reserveFigures(WSIServerInfo *server, const char *kind, const char *name,
                           uint64_t f[10], std::string *uuid, std::string *volumeType) {
  if (server == nullptr || kind == nullptr || name == nullptr)
    return "No connection, kind or name given";
  StatusRecord status;
  Element answer = Session(server).call(
      Request("space-reserve-info").add("kind", kind).add("name", name), status.get());
  if (answer == nullptr) return status.message() != nullptr ? status.message() : kNoMemory;
  for (int i = 1; i <= 9; ++i) f[i] = u64(answer.get(), ("figure-" + std::to_string(i)).c_str());
  if (uuid != nullptr) *uuid = str(answer.get(), "uuid");
  if (volumeType != nullptr) *volumeType = str(answer.get(), "volume-type");
  return std::string();
}

// The value of one SNMP object, or false.
bool snmpValue(WSIServerInfo *server, const std::string &oid, char **valueOut) {
  if (server == nullptr) return false;
  StatusRecord status;
  Element answer = Session(server).call(Request("snmp-get").add("object-id", oid), status.get());
  if (answer == nullptr) return false;
  if (valueOut != nullptr) {
    *valueOut = newText(str(answer.get(), "value"));
    if (*valueOut == nullptr) return false;
  }
  return true;
}

// Portals of the connection's filer as (index, port, tag), or false.
struct Portal {
  unsigned long index;
  uint64_t port;
  uint32_t tag;
};
bool portals(WSIServerInfo *server, std::vector<Portal> &out) {
  if (server == nullptr) return false;
  StatusRecord status;
  Element answer = Session(server).call("iscsi-portal-list-info", status.get());
  if (answer == nullptr) return false;
  readList(answer.get(), "iscsi-portal-list-entries", out, [](const WSIElement *e, Portal &p) {
    p = {static_cast<unsigned long>(u64(e, "portal-index")), u64(e, "ip-port"),
         static_cast<uint32_t>(u64(e, "tpgroup-tag"))};
  });
  return true;
}

bool igroupPasses(const IGroup &g, const char *typeFilter, const char *initiatorFilter,
                  const char *lunPathFilter, const char *osFilter) {
  if (!passes(typeFilter, g.type) || !passes(osFilter, g.osType)) return false;
  auto any = [](const char *filter, auto &items, auto value) {
    if (filter == nullptr || *filter == '\0') return true;
    for (const auto &item : items) {
      if (passesStringFilter(filter, value(item).c_str()) != 0) return true;
    }
    return false;
  };
  return any(initiatorFilter, g.initiators,
             [](const std::string &s) -> const std::string & { return s; }) &&
         any(lunPathFilter, g.maps, [](const LunMap &m) -> const std::string & { return m.path; });
}

// Drops a volume known to be gone, its LUNs and the LUN maps to them.
void dropVolume(StoragePieces &pieces, const char *volumeName) {
  auto &vols = cachedOf<Vol>(pieces).items;
  std::erase_if(vols, [&](const Vol &v) { return same(v.name, volumeName); });
  auto &luns = cachedOf<Lun>(pieces).items;
  std::vector<std::string> gone;
  for (const Lun &l : luns) {
    if (same(l.volume, volumeName)) gone.push_back(l.path);
  }
  std::erase_if(luns, [&](const Lun &l) { return same(l.volume, volumeName); });
  for (IGroup &g : cachedOf<IGroup>(pieces).items) {
    std::erase_if(g.maps, [&](const LunMap &m) {
      for (const std::string &path : gone) {
        if (path == m.path) return true;
      }
      return false;
    });
  }
}

}  // namespace

extern "C" {

// ---- Aggregates ----------------------------------------------------------------------

WSI_EXPORT int getAggregateInfo(KELVAStatus *status, const Filer *filer, const char *name,
                                const char *uuidSelector, int kinds, int brief, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, st);
               if (aggrs == nullptr) return false;
               // An empty selector selects any, as an absent one does.
               auto keep = [&](const Aggr &aggr) {
                 if (name != nullptr && *name != '\0' && !same(aggr.name, name)) return false;
                 if (uuidSelector != nullptr && *uuidSelector != '\0' &&
                     !same(aggr.uuid, uuidSelector))
                   return false;
                 return (kinds & (aggr.kind == 2 ? WSI_AGGR_KIND_TRADITIONAL
                                                 : WSI_AGGR_KIND_AGGREGATE)) != 0;
               };
               auto make = [&](const Aggr &aggr) { return record(aggr, brief != 0); };
               return appendRecords(list, *aggrs, keep, make, freeAggregate, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT void freeAggregate(void *aggregate) {
  auto *r = static_cast<KELVAAggregate *>(aggregate);
  if (r == nullptr) return;
  freeWithTexts(r, {r->name, r->uuid, r->state, r->mirrorStatus, r->raidStatus});
}

WSI_EXPORT void freeAggregateInfo(WSIList *list) { WSIList_free(list, freeAggregate); }

WSI_EXPORT int getAllDiskNames(KELVAStatus *status, const Filer *filer, const char *aggregate,
                               const char *plex, const char *raidGroup, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               std::vector<std::string> names;
               if (aggregate == nullptr && plex == nullptr && raidGroup == nullptr) {
                 const std::vector<Disk> *disks = ensure<Disk>(a, false, st);
                 if (disks == nullptr) return false;
                 for (const Disk &d : *disks) names.push_back(d.name);
                 return appendTexts(list, names, st);
               }
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, st);
               if (aggrs == nullptr) return false;
               for (const Aggr &aggr : *aggrs) {
                 if (aggregate != nullptr && !same(aggr.name, aggregate)) continue;
                 for (const Plex &p : aggr.plexes) {
                   if (plex != nullptr && !same(p.name, plex)) continue;
                   for (const RaidGroup &g : p.groups) {
                     if (raidGroup != nullptr && !same(g.name, raidGroup)) continue;
                     names.insert(names.end(), g.disks.begin(), g.disks.end());
                   }
                 }
               }
               return appendTexts(list, names, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllPlexNamesInAggregate(KELVAStatus *status, const Filer *filer,
                                          const char *aggregate, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, st);
               if (aggrs == nullptr) return false;
               std::vector<std::string> names;
               for (const Aggr &aggr : *aggrs) {
                 if (aggregate == nullptr || !same(aggr.name, aggregate)) continue;
                 for (const Plex &p : aggr.plexes) names.push_back(p.name);
               }
               return appendTexts(list, names, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllRAIDNamesInPlex(KELVAStatus *status, const Filer *filer, const char *plex,
                                     WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, st);
               if (aggrs == nullptr) return false;
               std::vector<std::string> names;
               for (const Aggr &aggr : *aggrs) {
                 for (const Plex &p : aggr.plexes) {
                   if (plex == nullptr || !same(p.name, plex)) continue;
                   for (const RaidGroup &g : p.groups) names.push_back(g.name);
                 }
               }
               return appendTexts(list, names, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllDiskNamesInRAID(KELVAStatus *status, const Filer *filer, const char *raidGroup,
                                     WSIList *list) {
  if (raidGroup == nullptr) {
    return cEdge(status, 0, [](KELVAStatus *st) {
      fail(st, "No RAID group given");
      return 0;
    });
  }
  return getAllDiskNames(status, filer, nullptr, nullptr, raidGroup, list);
}

// ---- Volumes ----------------------------------------------------------------------------

WSI_EXPORT int getVolumeInfo(KELVAStatus *status, const Filer *filer, const char *identifier,
                             const char *name, const char *aggregate, int kinds, int fresh,
                             WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Vol> *vols = ensure<Vol>(a, fresh != 0, st);
               if (vols == nullptr) return false;
               // An identifier is a uuid, or a name when no volume has that uuid.
               bool byUuid = false;
               for (const Vol &v : *vols)
                 byUuid = byUuid || (identifier != nullptr && same(v.uuid, identifier));
               auto keep = [&](const Vol &v) {
                 if (identifier != nullptr && !same(byUuid ? v.uuid : v.name, identifier))
                   return false;
                 if (name != nullptr && !same(v.name, name)) return false;
                 if (aggregate != nullptr && !same(v.aggregate, aggregate)) return false;
                 return (kinds & (v.kind == 2 ? WSI_VOLUME_KIND_TRADITIONAL
                                              : WSI_VOLUME_KIND_FLEXIBLE)) != 0;
               };
               auto make = [&](const Vol &v) { return record(v, a.filer->systemId); };
               return appendRecords(list, *vols, keep, make, freeVolume, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT void freeVolume(void *volume) {
  auto *r = static_cast<KELVAVolume *>(volume);
  if (r == nullptr) return;
  freeWithTexts(r, {r->uuid, r->name, r->systemId, r->aggregateName, r->state, r->raidType});
}

WSI_EXPORT void freeVolumeInfo(WSIList *list) { WSIList_free(list, freeVolume); }

WSI_EXPORT char *getRootVolumeName(KELVAStatus *status, const Filer *filer) {
  char *result = nullptr;
  run(filer, status, [&](StorageAccess &a, KELVAStatus *st) {
    const std::vector<Vol> *vols = ensure<Vol>(a, false, st);
    auto keep = [](const Vol &v) { return v.root; };
    auto make = [](const Vol &v) { return newText(v.name); };
    if (vols == nullptr || !copyFirst(*vols, result, keep, make, st)) return false;
    if (result != nullptr) return true;
    setKELVAStatus(st, 0,
                   (std::string("Filer ") + a.filer->systemId + " has no root volume").c_str());
    return false;
  });
  return result;
}

WSI_EXPORT int FilerCache_deleteVolume(const Filer *filer, const char *volumeName,
                                       KELVAStatus *status) {
  return cEdge(status, 0, [&](KELVAStatus *st) {
    if (filer == nullptr || filer->systemId == nullptr || volumeName == nullptr) {
      fail(st, "No filer or volume name given");
      return 0;
    }
    return withStorageOf(filer->systemId, st,
                         [&](StorageAccess &a) {
                           if (a.pieces == nullptr) return true;  // nothing read, nothing to drop
                           dropVolume(*a.pieces, volumeName);
                           // The aggregates' space and a traditional volume's disks change
                           // with it.
                           a.generations[kAggregates].fetch_add(1);
                           a.generations[kDisks].fetch_add(1);
                           return true;
                         })
               ? 1
               : 0;
  });
}

WSI_EXPORT int GetVolumeReserveInfo(WSIServerInfo *server, const char *kind, const char *name,
                                    uint64_t *f1, uint64_t *f2, uint64_t *f3, uint64_t *f4,
                                    uint64_t *f5, uint64_t *f6, uint64_t *f7, uint64_t *f8,
                                    uint64_t *f9, char *errorText, int errorTextSize) {
  return cEdge(
      0,
      [&] {
        uint64_t f[10] = {};
        std::string reason = reserveFigures(server, kind, name, f, nullptr, nullptr);
        if (!reason.empty()) {
          copyError(reason, errorText, errorTextSize);
          return 0;
        }
        uint64_t *outs[10] = {nullptr, f1, f2, f3, f4, f5, f6, f7, f8, f9};
        for (int i = 1; i <= 9; ++i) put(outs[i], f[i]);
        return 1;
      },
      [&](const char *why) noexcept { copyError(why, errorText, errorTextSize); });
}

WSI_EXPORT void GetVariVolumeReserveInfo(const char *uuid, const char *name, const char *systemId,
                                         uint64_t *f1, uint64_t *f2, uint64_t *f3, uint64_t *f4,
                                         uint64_t *f5, uint64_t *f6, uint64_t *f7, uint64_t *f8,
                                         uint64_t *f9, KELVAStatus *status) {
  cEdgeVoid(status, [&](KELVAStatus *st) {
    if (name == nullptr || systemId == nullptr) {
      fail(st, "No volume name or system id given");
      return;
    }
    std::unique_ptr<Filer, void (*)(void *)> filer(nullptr, freeFiler);
    if (!withStorageOf(systemId, st, [&](StorageAccess &a) {
          if (a.filer == nullptr) {
            fail(st, std::string("No storage data read from filer ") + systemId);
            return false;
          }
          filer.reset(static_cast<Filer *>(copyFiler(const_cast<Filer *>(a.filer))));
          if (filer == nullptr) fail(st, kNoMemory);
          return filer != nullptr;
        })) {
      return;
    }
    Session session(filer.get(), st);
    if (!session.ok()) return;
    uint64_t f[10] = {};
    std::string answerUuid, type;
    std::string reason = reserveFigures(session.server(), "volume", name, f, &answerUuid, &type);
    if (reason.empty() && type != "flexible")
      reason = std::string("Volume ") + name + " is not a flexible volume";
    if (reason.empty() && uuid != nullptr && *uuid != '\0' && !same(answerUuid, uuid)) {
      reason = std::string("Volume ") + name + " no longer has the id " + uuid;
    }
    if (!reason.empty()) {
      fail(st, reason);
      return;
    }
    uint64_t *outs[10] = {nullptr, f1, f2, f3, f4, f5, f6, f7, f8, f9};
    for (int i = 1; i <= 8; ++i) put(outs[i], f[i] / 512);
    put(f9, f[9]);
  });
}

// ---- Disks ---------------------------------------------------------------------------------

WSI_EXPORT int getDiskInfo(KELVAStatus *status, const Filer *filer, const char *name,
                           const char *const *includeStates, const char *const *excludeStates,
                           WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Disk> *disks = ensure<Disk>(a, false, st);
               if (disks == nullptr) return false;
               auto keep = [&](const Disk &d) {
                 if (name != nullptr && !same(d.name, name)) return false;
                 if (includeStates != nullptr && !inStates(includeStates, d.state)) return false;
                 return excludeStates == nullptr || !inStates(excludeStates, d.state);
               };
               auto make = [](const Disk &d) { return record(d); };
               return appendRecords(list, *disks, keep, make, freeDisk, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT void freeDisk(void *disk) {
  auto *r = static_cast<KELVADisk *>(disk);
  if (r == nullptr) return;
  freeWithTexts(r, {r->name, r->state, r->aggregateName, r->plexName, r->raidGroupName, r->diskType,
                    r->serialNumber});
}

WSI_EXPORT void freeDiskInfo(WSIList *list) { WSIList_free(list, freeDisk); }

// ---- LUNs -------------------------------------------------------------------------------------

WSI_EXPORT int getLunInfo(KELVAStatus *status, const Filer *filer, const char *path,
                          const char *volume, const char *serialFilter, int fresh,
                          const char *osTypeFilter, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a, KELVAStatus *st) {
               const std::vector<Lun> *luns = ensure<Lun>(a, fresh != 0, st);
               if (luns == nullptr) return false;
               auto keep = [&](const Lun &l) {
                 // A LUN path is the filer's own name: compared exactly.
                 if (path != nullptr && l.path != path) return false;
                 if (volume != nullptr && !same(l.volume, volume)) return false;
                 return passes(serialFilter, l.serial) && passes(osTypeFilter, l.osType);
               };
               auto make = [](const Lun &l) { return record(l); };
               return appendRecords(list, *luns, keep, make, freeLun, st);
             })
             ? 1
             : 0;
}

WSI_EXPORT void freeLun(void *lun) {
  auto *r = static_cast<KELVALun *>(lun);
  if (r == nullptr) return;
  freeWithTexts(r, {r->path, r->serialNumber, r->backingSnapshot, r->volumeName, r->osType, r->uuid,
                    r->comment});
}

WSI_EXPORT void freeLunInfo(WSIList *list) { WSIList_free(list, freeLun); }

WSI_EXPORT char *getLunPathBySerialNumber(KELVAStatus *status, const Filer *filer,
                                          const char *serialNumber) {
  char *result = nullptr;
  run(filer, status, [&](StorageAccess &a, KELVAStatus *st) {
    if (serialNumber == nullptr) {
      fail(st, "No serial number given");
      return false;
    }
    const std::vector<Lun> *luns = ensure<Lun>(a, false, st);
    auto keep = [&](const Lun &l) { return l.serial == serialNumber; };
    auto make = [](const Lun &l) { return newText(l.path); };
    return luns != nullptr && copyFirst(*luns, result, keep, make, st);
  });
  return result;
}

// ---- Initiator groups ---------------------------------------------------------------------------

WSI_EXPORT WSIList *getIGroupInfo(const Filer *filer, const char *typeFilter,
                                  const char *nameFilter, const char *initiatorFilter,
                                  const char *lunPathFilter, const char *osFilter,
                                  KELVAStatus *status) {
  WSIList *list = nullptr;
  bool ok = run(filer, status, [&](StorageAccess &a, KELVAStatus *st) {
    list = WSIList_new();
    if (list == nullptr) {
      fail(st, kNoMemory);
      return false;
    }
    const std::vector<IGroup> *igroups = ensure<IGroup>(a, false, st);
    if (igroups == nullptr) return false;
    auto keep = [&](const IGroup &g) {
      return passes(nameFilter, g.name) &&
             igroupPasses(g, typeFilter, initiatorFilter, lunPathFilter, osFilter);
    };
    auto make = [](const IGroup &g) { return record(g); };
    return appendRecords(list, *igroups, keep, make, freeIGroup, st);
  });
  if (!ok) {
    WSIList_free(list, freeIGroup);
    return nullptr;
  }
  return list;
}

WSI_EXPORT KELVAIGroup *findIGroupInfo(const Filer *filer, const char *typeFilter, const char *name,
                                       const char *initiatorFilter, const char *lunPathFilter,
                                       const char *osFilter, KELVAStatus *status) {
  KELVAIGroup *result = nullptr;
  run(filer, status, [&](StorageAccess &a, KELVAStatus *st) {
    const std::vector<IGroup> *igroups = ensure<IGroup>(a, false, st);
    auto keep = [&](const IGroup &g) {
      return (name == nullptr || same(g.name, name)) &&
             igroupPasses(g, typeFilter, initiatorFilter, lunPathFilter, osFilter);
    };
    auto make = [](const IGroup &g) { return record(g); };
    return igroups != nullptr && copyFirst(*igroups, result, keep, make, st);
  });
  return result;
}

WSI_EXPORT void freeIGroup(void *igroup) {
  auto *r = static_cast<KELVAIGroup *>(igroup);
  if (r == nullptr) return;
  WSIList_free(r->initiators, wsifree);
  WSIList_free(r->lunMaps, [](void *m) {
    auto *map = static_cast<KELVALunMap *>(m);
    if (map != nullptr) wsifree(map->path);
    wsifree(map);
  });
  freeWithTexts(r, {r->name, r->type, r->osType, r->portSet});
}

WSI_EXPORT void freeIGroupInfo(WSIList *list) { WSIList_free(list, freeIGroup); }

// ---- iSCSI portals and SNMP
// ----------------------------------------------------------------------

WSI_EXPORT int getTargetPortalTagFromPortalIndex(WSIServerInfo *server, unsigned long portalIndex,
                                                 uint32_t *tagOut) {
  return cEdge(0, [&] {
    std::vector<Portal> all;
    if (!portals(server, all)) return 0;
    for (const Portal &p : all) {
      if (p.index != portalIndex) continue;
      if (tagOut != nullptr) *tagOut = p.tag;
      return 1;
    }
    return 0;
  });
}

WSI_EXPORT int32_t getTargetPortalTagFromTargetPort(WSIServerInfo *server, const char *port) {
  if (port == nullptr) return -1;
  char *end = nullptr;
  unsigned long wanted = std::strtoul(port, &end, 10);
  if (end == port || *end != '\0') return -1;
  return cEdge(static_cast<int32_t>(-1), [&] {
    std::vector<Portal> all;
    if (!portals(server, all)) return static_cast<int32_t>(-1);
    for (const Portal &p : all) {
      if (p.port == wanted) return static_cast<int32_t>(p.tag);
    }
    return static_cast<int32_t>(-1);
  });
}

WSI_EXPORT int getObjectID1(WSIServerInfo *server, const char *baseObjectId, unsigned long index,
                            char **valueOut) {
  if (baseObjectId == nullptr) return 0;
  return cEdge(0, [&] {
    return snmpValue(server, std::string(baseObjectId) + "." + std::to_string(index), valueOut) ? 1
                                                                                                : 0;
  });
}

WSI_EXPORT int getObjectID2(WSIServerInfo *server, const char *baseObjectId, unsigned long index,
                            unsigned long option, char **valueOut) {
  if (baseObjectId == nullptr) return 0;
  return cEdge(0, [&] {
    std::string oid =
        std::string(baseObjectId) + "." + std::to_string(index) + "." + std::to_string(option);
    return snmpValue(server, oid, valueOut) ? 1 : 0;
  });
}

WSI_EXPORT int getNextObjectIDValues(KELVAStatus *status, WSIServerInfo *server,
                                     const char *objectId, WSIList *list) {
  return cEdge(status, 0, [&](KELVAStatus *st) {
    if (server == nullptr || objectId == nullptr || list == nullptr) {
      fail(st, "No connection, object identifier or list given");
      return 0;
    }
    const std::string prefix = std::string(objectId) + ".";
    // A walk ends at the end of the subtree; a filer that does not move forward (or
    // an absurdly large table) is refused rather than walked for ever.
    constexpr size_t kMaxValues = 65536;
    Session session(server);
    std::vector<std::string> values;
    std::string current = objectId;
    while (true) {
      Element answer = session.send(Request("snmp-get-next").add("object-id", current), st);
      if (answer == nullptr) return 0;
      if (checkResultStatus(answer.get()) == 0) {
        if (getResultErrorNum(answer.get()) == 22) break;  // nothing after: end of the walk
        session.reportFailure(answer.get(), st);
        return 0;
      }
      std::string next = str(answer.get(), "next-object-id");
      if (next.rfind(prefix, 0) != 0) break;
      if (next == current || values.size() >= kMaxValues) {
        fail(st, "SNMP walk of " + std::string(objectId) + " does not end");
        return 0;
      }
      values.push_back(str(answer.get(), "value"));
      current = next;
    }
    return appendTexts(list, values, st) ? 1 : 0;
  });
}

}  // extern "C"
