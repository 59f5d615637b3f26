// Storage records of a filer (aggregates, volumes, disks, LUNs, igroups) served
// from the filer cache, and the live storage queries (reserve figures, iSCSI
// portals, SNMP).  What is cached and for how long: docs/cache.md.
//
// Each piece is read whole with one listing request and kept as plain C++ values;
// callers get fresh C records copied from it, so nothing they do touches the cache.
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
#include "filerio.h"
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
  std::string path, serial, backing, volume, osType, uuid;
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

// Reads change nothing; changes are known by their family.  An API of an unknown
// family may change anything.
unsigned piecesChangedBy(const std::string &api) {
  auto has = [&](const char *part) { return api.find(part) != std::string::npos; };
  auto starts = [&](const char *prefix) { return api.rfind(prefix, 0) == 0; };
  if (has("-list") || has("-get") || has("-status") || has("-info") || starts("snmp-")) return 0;
  for (const char *quiet : {"iscsi-", "fcp-", "cifs-", "nfs-", "quota-", "registry-", "net-", "cf-",
                            "perf-", "ems-", "diagnosis-", "options-"}) {
    if (starts(quiet)) return 0;
  }
  if (starts("aggr-") || starts("disk-"))
    return pieceBit(kAggregates) | pieceBit(kVolumes) | pieceBit(kDisks);
  if (starts("igroup-")) return pieceBit(kIGroups) | pieceBit(kLuns);
  if (starts("lun-") || starts("clone-") || starts("snapshot-") || starts("qtree-")) {
    return pieceBit(kLuns) | pieceBit(kIGroups) | pieceBit(kVolumes) | pieceBit(kAggregates);
  }
  return kAllPieces;  // volume-..., system-cli and whatever else
}

}  // namespace wsi

namespace {

using namespace wsi;
using Clock = std::chrono::steady_clock;
using ElementPtr = std::unique_ptr<WSIElement, void (*)(WSIElement *)>;
using ServerPtr = std::unique_ptr<WSIServerInfo, void (*)(WSIServerInfo *)>;

constexpr const char *kNoMemory = "Insufficient memory";

std::string str(const WSIElement *element, const char *name) {
  const char *text = getStringElement(element, name);
  return text != nullptr ? text : std::string();
}
uint64_t u64(const WSIElement *element, const char *name) {
  long long value = getIntElement(element, name, 0);
  return value > 0 ? static_cast<uint64_t>(value) : 0;
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

ServerPtr connect(const Filer &filer, KELVAStatus *status) {
  ServerPtr server(_createServerInfo(filer.host, filer.userName, filer.password, filer.connParam3,
                                     filer.connParam1, filer.connParam2, __FILE__, __LINE__),
                   destroyServerInfo);
  if (server == nullptr) {
    setKELVAStatus(status, 0,
                   (std::string("Unable to create a connection to ") + filer.host).c_str());
  }
  return server;
}

// Sends a request with the string parameters (name, value, name, value ...).
ElementPtr ask(WSIServerInfo *server, const char *api, std::initializer_list<std::string> params) {
  ElementPtr request(_createElement(api, __FILE__, __LINE__), freeElement);
  if (request == nullptr) return ElementPtr(nullptr, freeElement);
  for (auto it = params.begin(); it != params.end() && it + 1 != params.end(); it += 2) {
    if (addStringElement(request.get(), it->c_str(), (it + 1)->c_str()) == 0) {
      return ElementPtr(nullptr, freeElement);
    }
  }
  return ElementPtr(_invokeServerElement(server, request.get(), __FILE__, __LINE__), freeElement);
}

void fail(KELVAStatus *status, const WSIElement *answer, WSIServerInfo *server) {
  if (answer == nullptr) {
    setKELVAStatus(status, 0, kNoMemory);
    return;
  }
  setAnswerError(status, answer, server);
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
// leaves the old data in use.  The records, or NULL with the status set.
template <class T>
const std::vector<T> *ensure(StorageAccess &access, bool fresh, KELVAStatus *status) {
  if (access.pieces == nullptr) access.pieces.reset(new StoragePieces);
  Cached<T> &cached = cachedOf<T>(*access.pieces);
  uint64_t generation = access.generations[T::kPiece].load();
  if (!fresh && cached.loaded && cached.generation == generation &&
      Clock::now() - cached.at < std::chrono::seconds(WSI_FILER_CACHE_TTL_SECONDS)) {
    return &cached.items;
  }
  ServerPtr server = connect(*access.filer, status);
  if (server == nullptr) return nullptr;
  ElementPtr answer = ask(server.get(), T::kApi, {});
  if (answer == nullptr || checkResultStatus(answer.get()) == 0) {
    if (answer != nullptr && cached.loaded && filerAway(answer.get())) {
      WSI_LOG(std::string("Keeping cached ") + T::kApi + " data of " + access.filer->systemId +
              ": the filer is away");
      return &cached.items;
    }
    fail(status, answer.get(), server.get());
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
    char *copy = wsistrdup(value.c_str());
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
    char *name = wsistrdup(g.initiators[i].c_str());
    if (name == nullptr || WSIList_append(r->initiators, name) == 0) {
      wsifree(name);
      ok = false;
    }
  }
  for (size_t i = 0; ok && i < g.maps.size(); ++i) {
    auto *map = newRecord<KELVALunMap>();
    if (map != nullptr) {
      map->path = wsistrdup(g.maps[i].path.c_str());
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
  for (const std::string &t : texts) copies.push_back(wsistrdup(t.c_str()));
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

// Runs body with the filer's storage entry, turning exceptions into a status.
bool run(const Filer *filer, KELVAStatus *status,
         const std::function<bool(StorageAccess &)> &body) {
  try {
    return withStorage(filer, status, body);
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, kNoMemory);
    return false;
  }
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
  ElementPtr answer = ask(server, "space-reserve-info", {"kind", kind, "name", name});
  if (answer == nullptr) return kNoMemory;
  if (checkResultStatus(answer.get()) == 0) {
    char *text = getErrorWithIP(answer.get(), server);
    std::string reason = text != nullptr ? text : "Filer request failed";
    wsifree(text);
    return reason;
  }
  for (int i = 1; i <= 9; ++i) f[i] = u64(answer.get(), ("figure-" + std::to_string(i)).c_str());
  if (uuid != nullptr) *uuid = str(answer.get(), "uuid");
  if (volumeType != nullptr) *volumeType = str(answer.get(), "volume-type");
  return std::string();
}

// The value of one SNMP object, or false.
bool snmpValue(WSIServerInfo *server, const std::string &oid, char **valueOut) {
  if (server == nullptr) return false;
  ElementPtr answer = ask(server, "snmp-get", {"object-id", oid});
  if (answer == nullptr || checkResultStatus(answer.get()) == 0) return false;
  if (valueOut != nullptr) {
    *valueOut = wsistrdup(str(answer.get(), "value").c_str());
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
  ElementPtr answer = ask(server, "iscsi-portal-list-info", {});
  if (answer == nullptr || checkResultStatus(answer.get()) == 0) return false;
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

}  // namespace

extern "C" {

// ---- Aggregates ----------------------------------------------------------------------

WSI_EXPORT int getAggregateInfo(KELVAStatus *status, const Filer *filer, const char *name,
                                const char *uuidSelector, int kinds, int brief, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, status);
               if (aggrs == nullptr) return false;
               auto keep = [&](const Aggr &aggr) {
                 if (name != nullptr && !same(aggr.name, name)) return false;
                 if (uuidSelector != nullptr && !same(aggr.uuid, uuidSelector)) return false;
                 return (kinds & (aggr.kind == 2 ? WSI_AGGR_KIND_TRADITIONAL
                                                 : WSI_AGGR_KIND_AGGREGATE)) != 0;
               };
               auto make = [&](const Aggr &aggr) { return record(aggr, brief != 0); };
               return appendRecords(list, *aggrs, keep, make, freeAggregate, status);
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
             [&](StorageAccess &a) {
               std::vector<std::string> names;
               if (aggregate == nullptr && plex == nullptr && raidGroup == nullptr) {
                 const std::vector<Disk> *disks = ensure<Disk>(a, false, status);
                 if (disks == nullptr) return false;
                 for (const Disk &d : *disks) names.push_back(d.name);
                 return appendTexts(list, names, status);
               }
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, status);
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
               return appendTexts(list, names, status);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllPlexNamesInAggregate(KELVAStatus *status, const Filer *filer,
                                          const char *aggregate, WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, status);
               if (aggrs == nullptr) return false;
               std::vector<std::string> names;
               for (const Aggr &aggr : *aggrs) {
                 if (aggregate == nullptr || !same(aggr.name, aggregate)) continue;
                 for (const Plex &p : aggr.plexes) names.push_back(p.name);
               }
               return appendTexts(list, names, status);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllRAIDNamesInPlex(KELVAStatus *status, const Filer *filer, const char *plex,
                                     WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a) {
               const std::vector<Aggr> *aggrs = ensure<Aggr>(a, false, status);
               if (aggrs == nullptr) return false;
               std::vector<std::string> names;
               for (const Aggr &aggr : *aggrs) {
                 for (const Plex &p : aggr.plexes) {
                   if (plex == nullptr || !same(p.name, plex)) continue;
                   for (const RaidGroup &g : p.groups) names.push_back(g.name);
                 }
               }
               return appendTexts(list, names, status);
             })
             ? 1
             : 0;
}

WSI_EXPORT int getAllDiskNamesInRAID(KELVAStatus *status, const Filer *filer, const char *raidGroup,
                                     WSIList *list) {
  if (raidGroup == nullptr) {
    setKELVAStatus(status, 0, "No RAID group given");
    return 0;
  }
  return getAllDiskNames(status, filer, nullptr, nullptr, raidGroup, list);
}

// ---- Volumes ----------------------------------------------------------------------------

WSI_EXPORT int getVolumeInfo(KELVAStatus *status, const Filer *filer, const char *identifier,
                             const char *name, const char *aggregate, int kinds, int fresh,
                             WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a) {
               const std::vector<Vol> *vols = ensure<Vol>(a, fresh != 0, status);
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
               return appendRecords(list, *vols, keep, make, freeVolume, status);
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
  run(filer, status, [&](StorageAccess &a) {
    const std::vector<Vol> *vols = ensure<Vol>(a, false, status);
    auto keep = [](const Vol &v) { return v.root; };
    auto make = [](const Vol &v) { return wsistrdup(v.name.c_str()); };
    if (vols == nullptr || !copyFirst(*vols, result, keep, make, status)) return false;
    if (result != nullptr) return true;
    setKELVAStatus(status, 0,
                   (std::string("Filer ") + a.filer->systemId + " has no root volume").c_str());
    return false;
  });
  return result;
}

WSI_EXPORT int FilerCache_deleteVolume(const Filer *filer, const char *volumeName,
                                       KELVAStatus *status) {
  if (filer == nullptr || filer->systemId == nullptr || volumeName == nullptr) {
    setKELVAStatus(status, 0, "No filer or volume name given");
    return 0;
  }
  try {
    return withStorageOf(
               filer->systemId, status,
               [&](StorageAccess &a) {
                 if (a.pieces == nullptr) return true;  // nothing read, nothing to drop
                 auto &vols = cachedOf<Vol>(*a.pieces).items;
                 std::erase_if(vols, [&](const Vol &v) { return same(v.name, volumeName); });
                 auto &luns = cachedOf<Lun>(*a.pieces).items;
                 std::vector<std::string> gone;
                 for (const Lun &l : luns) {
                   if (same(l.volume, volumeName)) gone.push_back(l.path);
                 }
                 std::erase_if(luns, [&](const Lun &l) { return same(l.volume, volumeName); });
                 for (IGroup &g : cachedOf<IGroup>(*a.pieces).items) {
                   std::erase_if(g.maps, [&](const LunMap &m) {
                     for (const std::string &path : gone) {
                       if (path == m.path) return true;
                     }
                     return false;
                   });
                 }
                 // The aggregates' space and a traditional volume's disks change with it.
                 a.generations[kAggregates].fetch_add(1);
                 a.generations[kDisks].fetch_add(1);
                 return true;
               })
               ? 1
               : 0;
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, kNoMemory);
    return 0;
  }
}

WSI_EXPORT int GetVolumeReserveInfo(WSIServerInfo *server, const char *kind, const char *name,
                                    uint64_t *f1, uint64_t *f2, uint64_t *f3, uint64_t *f4,
                                    uint64_t *f5, uint64_t *f6, uint64_t *f7, uint64_t *f8,
                                    uint64_t *f9, char *errorText, int errorTextSize) {
  try {
    uint64_t f[10] = {};
    std::string reason = reserveFigures(server, kind, name, f, nullptr, nullptr);
    if (!reason.empty()) {
      copyError(reason, errorText, errorTextSize);
      return 0;
    }
    uint64_t *outs[10] = {nullptr, f1, f2, f3, f4, f5, f6, f7, f8, f9};
    for (int i = 1; i <= 9; ++i) put(outs[i], f[i]);
    return 1;
  } catch (const std::bad_alloc &) {
    copyError(kNoMemory, errorText, errorTextSize);
    return 0;
  }
}

WSI_EXPORT void GetVariVolumeReserveInfo(const char *uuid, const char *name, const char *systemId,
                                         uint64_t *f1, uint64_t *f2, uint64_t *f3, uint64_t *f4,
                                         uint64_t *f5, uint64_t *f6, uint64_t *f7, uint64_t *f8,
                                         uint64_t *f9, KELVAStatus *status) {
  try {
    if (name == nullptr || systemId == nullptr) {
      setKELVAStatus(status, 0, "No volume name or system id given");
      return;
    }
    std::unique_ptr<Filer, void (*)(void *)> filer(nullptr, freeFiler);
    if (!withStorageOf(systemId, status, [&](StorageAccess &a) {
          if (a.filer == nullptr) {
            setKELVAStatus(status, 0,
                           (std::string("No storage data read from filer ") + systemId).c_str());
            return false;
          }
          filer.reset(static_cast<Filer *>(copyFiler(const_cast<Filer *>(a.filer))));
          if (filer == nullptr) setKELVAStatus(status, 0, kNoMemory);
          return filer != nullptr;
        })) {
      return;
    }
    ServerPtr server = connect(*filer, status);
    if (server == nullptr) return;
    uint64_t f[10] = {};
    std::string answerUuid, type;
    std::string reason = reserveFigures(server.get(), "volume", name, f, &answerUuid, &type);
    if (reason.empty() && type != "flexible")
      reason = std::string("Volume ") + name + " is not a flexible volume";
    if (reason.empty() && uuid != nullptr && *uuid != '\0' && !same(answerUuid, uuid)) {
      reason = std::string("Volume ") + name + " no longer has the id " + uuid;
    }
    if (!reason.empty()) {
      setKELVAStatus(status, 0, reason.c_str());
      return;
    }
    uint64_t *outs[10] = {nullptr, f1, f2, f3, f4, f5, f6, f7, f8, f9};
    for (int i = 1; i <= 8; ++i) put(outs[i], f[i] / 512);
    put(f9, f[9]);
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, kNoMemory);
  }
}

// ---- Disks ---------------------------------------------------------------------------------

WSI_EXPORT int getDiskInfo(KELVAStatus *status, const Filer *filer, const char *name,
                           const char *const *includeStates, const char *const *excludeStates,
                           WSIList *list) {
  return run(filer, status,
             [&](StorageAccess &a) {
               const std::vector<Disk> *disks = ensure<Disk>(a, false, status);
               if (disks == nullptr) return false;
               auto keep = [&](const Disk &d) {
                 if (name != nullptr && !same(d.name, name)) return false;
                 if (includeStates != nullptr && !inStates(includeStates, d.state)) return false;
                 return excludeStates == nullptr || !inStates(excludeStates, d.state);
               };
               auto make = [](const Disk &d) { return record(d); };
               return appendRecords(list, *disks, keep, make, freeDisk, status);
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
             [&](StorageAccess &a) {
               const std::vector<Lun> *luns = ensure<Lun>(a, fresh != 0, status);
               if (luns == nullptr) return false;
               auto keep = [&](const Lun &l) {
                 // A LUN path is the filer's own name: compared exactly.
                 if (path != nullptr && l.path != path) return false;
                 if (volume != nullptr && !same(l.volume, volume)) return false;
                 return passes(serialFilter, l.serial) && passes(osTypeFilter, l.osType);
               };
               auto make = [](const Lun &l) { return record(l); };
               return appendRecords(list, *luns, keep, make, freeLun, status);
             })
             ? 1
             : 0;
}

WSI_EXPORT void freeLun(void *lun) {
  auto *r = static_cast<KELVALun *>(lun);
  if (r == nullptr) return;
  freeWithTexts(r,
                {r->path, r->serialNumber, r->backingSnapshot, r->volumeName, r->osType, r->uuid});
}

WSI_EXPORT void freeLunInfo(WSIList *list) { WSIList_free(list, freeLun); }

WSI_EXPORT char *getLunPathBySerialNumber(KELVAStatus *status, const Filer *filer,
                                          const char *serialNumber) {
  char *result = nullptr;
  if (serialNumber == nullptr) {
    setKELVAStatus(status, 0, "No serial number given");
    return nullptr;
  }
  run(filer, status, [&](StorageAccess &a) {
    const std::vector<Lun> *luns = ensure<Lun>(a, false, status);
    auto keep = [&](const Lun &l) { return l.serial == serialNumber; };
    auto make = [](const Lun &l) { return wsistrdup(l.path.c_str()); };
    return luns != nullptr && copyFirst(*luns, result, keep, make, status);
  });
  return result;
}

// ---- Initiator groups ---------------------------------------------------------------------------

WSI_EXPORT WSIList *getIGroupInfo(const Filer *filer, const char *typeFilter,
                                  const char *nameFilter, const char *initiatorFilter,
                                  const char *lunPathFilter, const char *osFilter,
                                  KELVAStatus *status) {
  WSIList *list = WSIList_new();
  if (list == nullptr) {
    setKELVAStatus(status, 0, kNoMemory);
    return nullptr;
  }
  bool ok = run(filer, status, [&](StorageAccess &a) {
    const std::vector<IGroup> *igroups = ensure<IGroup>(a, false, status);
    if (igroups == nullptr) return false;
    auto keep = [&](const IGroup &g) {
      return passes(nameFilter, g.name) &&
             igroupPasses(g, typeFilter, initiatorFilter, lunPathFilter, osFilter);
    };
    auto make = [](const IGroup &g) { return record(g); };
    return appendRecords(list, *igroups, keep, make, freeIGroup, status);
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
  run(filer, status, [&](StorageAccess &a) {
    const std::vector<IGroup> *igroups = ensure<IGroup>(a, false, status);
    auto keep = [&](const IGroup &g) {
      return (name == nullptr || same(g.name, name)) &&
             igroupPasses(g, typeFilter, initiatorFilter, lunPathFilter, osFilter);
    };
    auto make = [](const IGroup &g) { return record(g); };
    return igroups != nullptr && copyFirst(*igroups, result, keep, make, status);
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
  try {
    std::vector<Portal> all;
    if (!portals(server, all)) return 0;
    for (const Portal &p : all) {
      if (p.index != portalIndex) continue;
      if (tagOut != nullptr) *tagOut = p.tag;
      return 1;
    }
    return 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }
}

WSI_EXPORT int32_t getTargetPortalTagFromTargetPort(WSIServerInfo *server, const char *port) {
  if (port == nullptr) return -1;
  char *end = nullptr;
  unsigned long wanted = std::strtoul(port, &end, 10);
  if (end == port || *end != '\0') return -1;
  try {
    std::vector<Portal> all;
    if (!portals(server, all)) return -1;
    for (const Portal &p : all) {
      if (p.port == wanted) return static_cast<int32_t>(p.tag);
    }
    return -1;
  } catch (const std::bad_alloc &) {
    return -1;
  }
}

WSI_EXPORT int getObjectID1(WSIServerInfo *server, const char *baseObjectId, unsigned long index,
                            char **valueOut) {
  if (baseObjectId == nullptr) return 0;
  try {
    return snmpValue(server, std::string(baseObjectId) + "." + std::to_string(index), valueOut) ? 1
                                                                                                : 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }
}

WSI_EXPORT int getObjectID2(WSIServerInfo *server, const char *baseObjectId, unsigned long index,
                            unsigned long option, char **valueOut) {
  if (baseObjectId == nullptr) return 0;
  try {
    std::string oid =
        std::string(baseObjectId) + "." + std::to_string(index) + "." + std::to_string(option);
    return snmpValue(server, oid, valueOut) ? 1 : 0;
  } catch (const std::bad_alloc &) {
    return 0;
  }
}

WSI_EXPORT int getNextObjectIDValues(KELVAStatus *status, WSIServerInfo *server,
                                     const char *objectId, WSIList *list) {
  if (server == nullptr || objectId == nullptr || list == nullptr) {
    setKELVAStatus(status, 0, "No connection, object identifier or list given");
    return 0;
  }
  try {
    const std::string prefix = std::string(objectId) + ".";
    // A walk ends at the end of the subtree; a filer that does not move forward (or
    // an absurdly large table) is refused rather than walked for ever.
    constexpr size_t kMaxValues = 65536;
    std::vector<std::string> values;
    std::string current = objectId;
    while (true) {
      ElementPtr answer = ask(server, "snmp-get-next", {"object-id", current});
      if (answer == nullptr) {
        setKELVAStatus(status, 0, kNoMemory);
        return 0;
      }
      if (checkResultStatus(answer.get()) == 0) {
        if (getResultErrorNum(answer.get()) == 22) break;  // nothing after: end of the walk
        fail(status, answer.get(), server);
        return 0;
      }
      std::string next = str(answer.get(), "next-object-id");
      if (next.rfind(prefix, 0) != 0) break;
      if (next == current || values.size() >= kMaxValues) {
        setKELVAStatus(status, 0,
                       ("SNMP walk of " + std::string(objectId) + " does not end").c_str());
        return 0;
      }
      values.push_back(str(answer.get(), "value"));
      current = next;
    }
    return appendTexts(list, values, status) ? 1 : 0;
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, kNoMemory);
    return 0;
  }
}

}  // extern "C"
