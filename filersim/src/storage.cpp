// The simulated filer's storage model: aggregates with plexes, RAID groups and
// disks, flexible and traditional volumes with snapshots and qtrees, LUNs, igroups,
// iSCSI portals and sessions, and the SNMP tables derived from them.  The model is
// the scenario's JSON; figures that follow from others (an aggregate's used space,
// a LUN's mapped flag, a disk's place) are computed on every answer, so changes
// keep it consistent without bookkeeping.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "internal.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

uint64_t bytes(const json &j, const char *key, uint64_t fallback = 0) {
  auto it = j.find(key);
  return it != j.end() && it->is_number_unsigned() ? it->get<uint64_t>()
         : it != j.end() && it->is_number_integer() && it->get<int64_t>() >= 0
             ? static_cast<uint64_t>(it->get<int64_t>())
             : fallback;
}

std::string num(uint64_t value) { return std::to_string(value); }
const char *boolText(bool value) { return value ? "true" : "false"; }

json &section(json &filer, const char *name) { return filer["storage"][name]; }

json *findNamed(json &array, const std::string &name, const char *key = "name") {
  for (json &item : array) {
    if (text(item, key) == name) return &item;
  }
  return nullptr;
}

// "/vol/<volume>/..." -> volume; empty when the path has no volume.
std::string volumeOfPath(const std::string &path) {
  if (path.rfind("/vol/", 0) != 0) return std::string();
  size_t end = path.find('/', 5);
  return path.substr(5, end == std::string::npos ? std::string::npos : end - 5);
}

// A storage section whose entries are known by one of their keys, and the failed
// answer for a name that none has.
struct Kind {
  const char *section;
  const char *key;
  int missing;
  const char *noSuch;
};
constexpr Kind kAggregate{"aggregates", "name", kNoSuchAggregate, "No aggregate named "};
constexpr Kind kVolume{"volumes", "name", kNoSuchVolume, "No volume named "};
constexpr Kind kIGroup{"igroups", "name", kNoSuchIGroup, "No initiator group named "};
constexpr Kind kLun{"luns", "path", kNoSuchLun, "No LUN at "};

json &existing(json &filer, const Kind &kind, const std::string &name) {
  json *item = findNamed(section(filer, kind.section), name, kind.key);
  if (item == nullptr) throw ApiError{kind.missing, kind.noSuch + name};
  return *item;
}

json &volumeNamed(json &filer, const std::string &name) { return existing(filer, kVolume, name); }
json &igroupNamed(json &filer, const std::string &name) { return existing(filer, kIGroup, name); }
json &lunAt(json &filer, const std::string &path) { return existing(filer, kLun, path); }

// The entries a listing API answers with: all of the kind, or with the optional
// parameter only those it names (a failed answer when it names none).
std::vector<std::reference_wrapper<const json>> selected(json &filer, const Kind &kind,
                                                         pugi::xml_node request,
                                                         const char *parameter) {
  std::string only = param(request, parameter, false);
  if (!only.empty()) existing(filer, kind, only);
  std::vector<std::reference_wrapper<const json>> items;
  for (const json &item : section(filer, kind.section)) {
    if (only.empty() || text(item, kind.key) == only) items.emplace_back(item);
  }
  return items;
}

std::string plexPath(const json &aggr, const json &plex) {
  return "/" + text(aggr, "name") + "/" + text(plex, "name");
}

// The RAID types of an aggregate's groups, in first-seen order.
std::vector<std::string> raidTypes(const json &aggr) {
  std::vector<std::string> types;
  for (const json &plex : aggr["plexes"]) {
    for (const json &group : plex["raidGroups"]) {
      std::string type = text(group, "raidType", "raid4");
      if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
  }
  return types;
}

uint64_t snapshotReserve(const json &volume) {
  return bytes(volume, "sizeBytes") * bytes(volume, "snapshotReservePercent") / 100;
}

bool traditional(const json &item) { return text(item, "kind") == "traditional"; }

// Space an aggregate gives away: the sizes of its flexible volumes, or what a
// traditional volume holds (its data and its snapshot reserve).
uint64_t aggregateUsed(json &filer, const json &aggr) {
  uint64_t used = 0;
  for (const json &volume : section(filer, "volumes")) {
    if (text(volume, "aggregate") != text(aggr, "name")) continue;
    used += traditional(volume) ? bytes(volume, "usedBytes") + snapshotReserve(volume)
                                : bytes(volume, "sizeBytes");
  }
  return used;
}

// ---- Listing APIs ---------------------------------------------------------------

void aggrListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  auto aggrs = selected(filer, kAggregate, request, "aggregate");
  pugi::xml_node list = results.append_child("aggregates");
  for (const json &aggr : aggrs) {
    pugi::xml_node info = list.append_child("aggr-info");
    uint64_t size = bytes(aggr, "sizeBytes");
    uint64_t used = aggregateUsed(filer, aggr);
    add(info, "name", text(aggr, "name"));
    add(info, "uuid", text(aggr, "uuid"));
    add(info, "type", traditional(aggr) ? "traditional" : "aggregate");
    add(info, "state", text(aggr, "state", "online"));
    add(info, "size-total", num(size));
    add(info, "size-managed", num(bytes(aggr, "managedBytes", size)));
    add(info, "size-used", num(used));
    add(info, "size-available", num(size > used ? size - used : 0));
    add(info, "mirror-status", text(aggr, "mirrorStatus", "unmirrored"));
    add(info, "raid-status", text(aggr, "raidStatus", "normal"));
    add(info, "snapshot-reserve-percent", num(bytes(aggr, "snapshotReservePercent")));
    int volumes = 0;
    for (const json &volume : section(filer, "volumes")) {
      if (text(volume, "aggregate") == text(aggr, "name")) ++volumes;
    }
    add(info, "volume-count", std::to_string(volumes));
    pugi::xml_node plexes = info.append_child("plexes");
    for (const json &plex : aggr["plexes"]) {
      pugi::xml_node p = plexes.append_child("plex-info");
      add(p, "name", plexPath(aggr, plex));
      add(p, "is-online", boolText(plex.value("online", true)));
      pugi::xml_node groups = p.append_child("raid-groups");
      for (const json &group : plex["raidGroups"]) {
        pugi::xml_node g = groups.append_child("raid-group-info");
        add(g, "name", plexPath(aggr, plex) + "/" + text(group, "name"));
        add(g, "raid-type", text(group, "raidType", "raid4"));
        pugi::xml_node disks = g.append_child("disks");
        for (const json &disk : group["disks"]) add(disks, "disk-name", disk.get<std::string>());
      }
    }
  }
}

void volumeListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  auto volumes = selected(filer, kVolume, request, "volume");
  pugi::xml_node list = results.append_child("volumes");
  for (const json &volume : volumes) {
    json *aggr = findNamed(section(filer, "aggregates"), text(volume, "aggregate"));
    std::vector<std::string> types =
        aggr != nullptr ? raidTypes(*aggr) : std::vector<std::string>();
    uint64_t size = bytes(volume, "sizeBytes"), used = bytes(volume, "usedBytes");
    uint64_t reserve = snapshotReserve(volume);
    pugi::xml_node info = list.append_child("volume-info");
    add(info, "name", text(volume, "name"));
    add(info, "uuid", text(volume, "uuid"));
    add(info, "type", traditional(volume) ? "traditional" : "flexible");
    add(info, "containing-aggregate", text(volume, "aggregate"));
    add(info, "state", text(volume, "state", "online"));
    add(info, "raid-type", types.empty() ? "" : types.front());
    add(info, "size-total", num(size));
    add(info, "size-used", num(used));
    add(info, "size-available", num(size > reserve + used ? size - reserve - used : 0));
    add(info, "snapshot-reserve", num(reserve));
    add(info, "snapshot-reserve-percent", num(bytes(volume, "snapshotReservePercent")));
    add(info, "snapshot-count", std::to_string(volume["snapshots"].size()));
    add(info, "qtree-count", std::to_string(volume["qtrees"].size()));
    add(info, "is-sealmode", boolText(volume.value("sealmode", false)));
    add(info, "is-root", boolText(volume.value("root", false)));
  }
}

void diskListInfo(json &filer, pugi::xml_node, pugi::xml_node results) {
  // Where each disk sits, from the aggregates' RAID groups.
  std::map<std::string, std::array<std::string, 3>> place;
  for (const json &aggr : section(filer, "aggregates")) {
    for (const json &plex : aggr["plexes"]) {
      for (const json &group : plex["raidGroups"]) {
        for (const json &disk : group["disks"]) {
          place[disk.get<std::string>()] = {text(aggr, "name"), plexPath(aggr, plex),
                                            plexPath(aggr, plex) + "/" + text(group, "name")};
        }
      }
    }
  }
  pugi::xml_node list = results.append_child("disks");
  for (const json &disk : section(filer, "disks")) {
    pugi::xml_node info = list.append_child("disk-detail-info");
    auto where = place.find(text(disk, "name"));
    add(info, "name", text(disk, "name"));
    add(info, "raid-state", text(disk, "state", where != place.end() ? "present" : "spare"));
    add(info, "size-bytes", num(bytes(disk, "sizeBytes")));
    add(info, "used-bytes",
        num(where != place.end() ? bytes(disk, "usedBytes", bytes(disk, "sizeBytes")) : 0));
    if (where != place.end()) {
      add(info, "aggregate", where->second[0]);
      add(info, "plex", where->second[1]);
      add(info, "raid-group", where->second[2]);
    }
    add(info, "disk-type", text(disk, "type", "FCAL"));
    add(info, "serial-number", text(disk, "serial"));
  }
}

bool lunMapped(json &filer, const std::string &path) {
  for (const json &igroup : section(filer, "igroups")) {
    for (const json &map : igroup["maps"]) {
      if (text(map, "path") == path) return true;
    }
  }
  return false;
}

void lunListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  auto luns = selected(filer, kLun, request, "path");
  pugi::xml_node list = results.append_child("luns");
  for (const json &lun : luns) {
    std::string path = text(lun, "path");
    pugi::xml_node info = list.append_child("lun-info");
    add(info, "path", path);
    add(info, "serial-number", text(lun, "serial"));
    add(info, "size", num(bytes(lun, "sizeBytes")));
    add(info, "size-used", num(bytes(lun, "usedBytes")));
    add(info, "online", boolText(lun.value("online", true)));
    add(info, "mapped", boolText(lunMapped(filer, path)));
    add(info, "is-space-reservation-enabled", boolText(lun.value("spaceReserved", true)));
    add(info, "multiprotocol-type", text(lun, "osType", "windows"));
    add(info, "uuid", text(lun, "uuid"));
    if (!text(lun, "backingSnapshot").empty()) {
      add(info, "backing-snapshot", text(lun, "backingSnapshot"));
    }
  }
}

void igroupListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  auto igroups = selected(filer, kIGroup, request, "initiator-group-name");
  pugi::xml_node list = results.append_child("initiator-groups");
  for (const json &igroup : igroups) {
    pugi::xml_node info = list.append_child("initiator-group-info");
    add(info, "initiator-group-name", text(igroup, "name"));
    add(info, "initiator-group-type", text(igroup, "type", "iscsi"));
    add(info, "initiator-group-os-type", text(igroup, "osType", "default"));
    if (!text(igroup, "portSet").empty())
      add(info, "initiator-group-portset-name", text(igroup, "portSet"));
    pugi::xml_node initiators = info.append_child("initiators");
    for (const json &name : igroup["initiators"]) {
      add(initiators.append_child("initiator-info"), "initiator-name", name.get<std::string>());
    }
    pugi::xml_node maps = info.append_child("lun-maps");
    for (const json &map : igroup["maps"]) {
      pugi::xml_node m = maps.append_child("lun-map-info");
      add(m, "path", text(map, "path"));
      add(m, "lun-id", num(bytes(map, "lunId")));
    }
  }
}

void snapshotListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &volume = volumeNamed(filer, param(request, "volume"));
  pugi::xml_node list = results.append_child("snapshots");
  for (const json &snapshot : volume["snapshots"]) {
    pugi::xml_node info = list.append_child("snapshot-info");
    add(info, "name", text(snapshot, "name"));
    add(info, "access-time", num(bytes(snapshot, "accessTime")));
    add(info, "used-bytes", num(bytes(snapshot, "usedBytes")));
  }
}

void qtreeList(json &filer, pugi::xml_node request, pugi::xml_node results) {
  auto volumes = selected(filer, kVolume, request, "volume");
  pugi::xml_node list = results.append_child("qtrees");
  for (const json &volume : volumes) {
    for (const json &qtree : volume["qtrees"]) {
      pugi::xml_node info = list.append_child("qtree-info");
      add(info, "volume", text(volume, "name"));
      add(info, "qtree", text(qtree, "name"));
      add(info, "id", num(bytes(qtree, "id")));
      add(info, "security-style", text(qtree, "securityStyle", "unix"));
      add(info, "oplocks", text(qtree, "oplocks", "enabled"));
      add(info, "status", "normal");
    }
  }
}

// Nine reserve figures (bytes, blocks, percent) of an aggregate or a volume.
void spaceReserveInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string kind = param(request, "kind");
  std::string name = param(request, "name");
  uint64_t f[10] = {};
  std::string uuid;
  if (kind == "aggregate") {
    json &aggr = existing(filer, kAggregate, name);
    uint64_t size = bytes(aggr, "sizeBytes");
    uint64_t percent = bytes(aggr, "snapshotReservePercent");
    uint64_t used = aggregateUsed(filer, aggr);
    f[1] = size;
    f[4] = size * percent / 100;
    f[5] = bytes(aggr, "snapshotUsedBytes");
    f[6] = used;
    f[7] = size > used ? size - used : 0;
    f[8] = size / 512;
    f[9] = percent;
    uuid = text(aggr, "uuid");
  } else if (kind == "volume") {
    json &volume = volumeNamed(filer, name);
    if (text(volume, "state", "online") != "online") {
      throw ApiError{kVolumeOffline, "Volume " + name + " is not online"};
    }
    uint64_t size = bytes(volume, "sizeBytes"), used = bytes(volume, "usedBytes");
    uint64_t reserve = snapshotReserve(volume);
    f[1] = size;
    f[2] = bytes(volume, "overwriteReserveBytes");
    f[3] = bytes(volume, "overwriteReserveUsedBytes");
    f[4] = reserve;
    f[5] = bytes(volume, "snapshotUsedBytes");
    f[6] = traditional(volume) ? used + reserve : size;
    f[7] = size > reserve + used ? size - reserve - used : 0;
    f[8] = size / 512;
    f[9] = bytes(volume, "snapshotReservePercent");
    uuid = text(volume, "uuid");
    add(results, "volume-type", traditional(volume) ? "traditional" : "flexible");
  } else {
    throw ApiError{kInvalidInput, "Invalid input: kind must be aggregate or volume"};
  }
  add(results, "uuid", uuid);
  for (int i = 1; i <= 9; ++i) add(results, ("figure-" + std::to_string(i)).c_str(), num(f[i]));
}

json &iscsiSection(json &filer) {
  json &section = filer["iscsi"];
  if (!section.value("enabled", false)) throw ApiError{kNotEnabled, "iSCSI is not enabled"};
  return section;
}

void iscsiPortalListInfo(json &filer, pugi::xml_node, pugi::xml_node results) {
  pugi::xml_node list = results.append_child("iscsi-portal-list-entries");
  for (const json &portal : iscsiSection(filer)["portals"]) {
    pugi::xml_node info = list.append_child("iscsi-portal-list-entry-info");
    add(info, "portal-index", num(bytes(portal, "index")));
    add(info, "ip-address", text(portal, "address"));
    add(info, "ip-port", num(bytes(portal, "port", 3260)));
    add(info, "tpgroup-tag", num(bytes(portal, "tag")));
    add(info, "interface-name", text(portal, "interface"));
  }
}

// ---- Changing APIs ----------------------------------------------------------------

void volumeOffline(json &filer, pugi::xml_node request, pugi::xml_node) {
  json &volume = volumeNamed(filer, param(request, "name"));
  if (volume.value("root", false))
    throw ApiError{kRootVolume, "The root volume cannot be taken offline"};
  volume["state"] = "offline";
}

void volumeOnline(json &filer, pugi::xml_node request, pugi::xml_node) {
  volumeNamed(filer, param(request, "name"))["state"] = "online";
}

// Destroys an off-line volume with its LUNs and their maps; a traditional volume
// takes its aggregate along and its disks become spares.
void volumeDestroy(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string name = param(request, "name");
  json &volume = volumeNamed(filer, name);
  if (volume.value("root", false))
    throw ApiError{kRootVolume, "The root volume cannot be destroyed"};
  if (text(volume, "state", "online") == "online") {
    throw ApiError{kVolumeOnline, "Volume " + name + " is online; take it offline first"};
  }
  json &luns = section(filer, "luns");
  std::set<std::string> gone;
  for (const json &lun : luns) {
    if (volumeOfPath(text(lun, "path")) == name) gone.insert(text(lun, "path"));
  }
  luns.erase(std::remove_if(luns.begin(), luns.end(),
                            [&](const json &lun) { return gone.count(text(lun, "path")) != 0; }),
             luns.end());
  for (json &igroup : section(filer, "igroups")) {
    json &maps = igroup["maps"];
    maps.erase(std::remove_if(maps.begin(), maps.end(),
                              [&](const json &map) { return gone.count(text(map, "path")) != 0; }),
               maps.end());
  }
  if (traditional(volume)) {
    json &aggrs = section(filer, "aggregates");
    for (auto it = aggrs.begin(); it != aggrs.end(); ++it) {
      if (text(*it, "name") != name) continue;
      for (const json &plex : (*it)["plexes"]) {
        for (const json &group : plex["raidGroups"]) {
          for (const json &disk : group["disks"]) {
            json *d = findNamed(section(filer, "disks"), disk.get<std::string>());
            if (d != nullptr) (*d)["state"] = "spare";
          }
        }
      }
      aggrs.erase(it);
      break;
    }
  }
  json &volumes = section(filer, "volumes");
  volumes.erase(std::remove_if(volumes.begin(), volumes.end(),
                               [&](const json &v) { return text(v, "name") == name; }),
                volumes.end());
}

void igroupRename(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string newName = param(request, "initiator-group-new-name");
  json &igroup = igroupNamed(filer, param(request, "initiator-group-name"));
  if (newName.empty()) throw ApiError{kInvalidInput, "Invalid input: the new name is empty"};
  if (findNamed(section(filer, "igroups"), newName) != nullptr) {
    throw ApiError{kIGroupExists, "Initiator group " + newName + " exists already"};
  }
  igroup["name"] = newName;
}

void igroupDestroy(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string name = param(request, "initiator-group-name");
  json &igroup = igroupNamed(filer, name);
  if (!igroup["maps"].empty() && param(request, "force", false) != "true") {
    throw ApiError{kLunMapped, "Initiator group " + name + " has LUN maps"};
  }
  json &igroups = section(filer, "igroups");
  igroups.erase(std::remove_if(igroups.begin(), igroups.end(),
                               [&](const json &g) { return text(g, "name") == name; }),
                igroups.end());
}

void igroupAdd(json &filer, pugi::xml_node request, pugi::xml_node) {
  json &igroup = igroupNamed(filer, param(request, "initiator-group-name"));
  std::string initiator = param(request, "initiator");
  for (const json &name : igroup["initiators"]) {
    if (name.get<std::string>() == initiator)
      throw ApiError{kInitiatorExists, "Initiator " + initiator + " exists already"};
  }
  igroup["initiators"].push_back(initiator);
}

void igroupRemove(json &filer, pugi::xml_node request, pugi::xml_node) {
  json &igroup = igroupNamed(filer, param(request, "initiator-group-name"));
  std::string initiator = param(request, "initiator");
  json &names = igroup["initiators"];
  auto it = std::find(names.begin(), names.end(), json(initiator));
  if (it == names.end())
    throw ApiError{kNoSuchInitiator, "Initiator " + initiator + " is not in the group"};
  names.erase(it);
}

void lunMap(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string path = param(request, "path");
  lunAt(filer, path);
  json &igroup = igroupNamed(filer, param(request, "initiator-group"));
  std::string idText = param(request, "lun-id", false);
  uint64_t id = 0;
  std::set<uint64_t> used;
  for (const json &map : igroup["maps"]) {
    if (text(map, "path") == path) throw ApiError{kLunMapped, "LUN " + path + " is mapped already"};
    used.insert(bytes(map, "lunId"));
  }
  if (!idText.empty()) {
    try {
      id = std::stoull(idText);
    } catch (const std::exception &) {
      throw ApiError{kInvalidInput, "Invalid input: lun-id"};
    }
    if (used.count(id) != 0) throw ApiError{kLunMapped, "LUN id " + idText + " is taken"};
  } else {
    while (used.count(id) != 0) ++id;
  }
  igroup["maps"].push_back({{"path", path}, {"lunId", id}});
  add(results, "lun-id-assigned", num(id));
}

void lunUnmap(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string path = param(request, "path");
  json &maps = igroupNamed(filer, param(request, "initiator-group"))["maps"];
  auto it = std::find_if(maps.begin(), maps.end(),
                         [&](const json &m) { return text(m, "path") == path; });
  if (it == maps.end()) throw ApiError{kNoSuchLun, "LUN " + path + " is not mapped to the group"};
  maps.erase(it);
}

// ---- Scenario checks --------------------------------------------------------------

void requireArrayOfObjects(json &parent, const char *key, const std::string &where) {
  if (!parent.contains(key)) parent[key] = json::array();
  if (!parent[key].is_array()) throw ScenarioError(where + ": \"" + key + "\" is not an array");
  for (const json &item : parent[key]) {
    if (!item.is_object())
      throw ScenarioError(where + ": an entry of \"" + key + "\" is not an object");
  }
}

void requireName(const json &item, const char *key, const std::string &where) {
  if (!item.contains(key) || !item[key].is_string() || item[key].get<std::string>().empty()) {
    throw ScenarioError(where + ": every entry needs a \"" + key + "\"");
  }
}

}  // namespace

const std::map<std::string, Handler> &storageApis() {
  static const std::map<std::string, Handler> table = {
      {"aggr-list-info", aggrListInfo},
      {"volume-list-info", volumeListInfo},
      {"disk-list-info", diskListInfo},
      {"lun-list-info", lunListInfo},
      {"igroup-list-info", igroupListInfo},
      {"snapshot-list-info", snapshotListInfo},
      {"qtree-list", qtreeList},
      {"space-reserve-info", spaceReserveInfo},
      {"iscsi-portal-list-info", iscsiPortalListInfo},
      {"volume-offline", volumeOffline},
      {"volume-online", volumeOnline},
      {"volume-destroy", volumeDestroy},
      {"igroup-rename", igroupRename},
      {"igroup-destroy", igroupDestroy},
      {"igroup-add", igroupAdd},
      {"igroup-remove", igroupRemove},
      {"lun-map", lunMap},
      {"lun-unmap", lunUnmap},
  };
  return table;
}

void normaliseStorage(json &filer, const std::string &where) {
  json &storage = filer["storage"];
  std::string at = where + ".storage";
  for (const char *key : {"aggregates", "disks", "volumes", "luns", "igroups"}) {
    requireArrayOfObjects(storage, key, at);
  }
  std::set<std::string> disks;
  for (const json &disk : storage["disks"]) {
    requireName(disk, "name", at + ".disks");
    disks.insert(disk["name"].get<std::string>());
  }
  for (json &aggr : storage["aggregates"]) {
    requireName(aggr, "name", at + ".aggregates");
    std::string here = at + ".aggregates[" + aggr["name"].get<std::string>() + "]";
    requireArrayOfObjects(aggr, "plexes", here);
    for (json &plex : aggr["plexes"]) {
      requireName(plex, "name", here + ".plexes");
      requireArrayOfObjects(plex, "raidGroups", here);
      for (json &group : plex["raidGroups"]) {
        requireName(group, "name", here + ".raidGroups");
        if (!group.contains("disks")) group["disks"] = json::array();
        for (const json &disk : group["disks"]) {
          if (!disk.is_string() || disks.count(disk.get<std::string>()) == 0) {
            throw ScenarioError(here + ": RAID group " + group["name"].get<std::string>() +
                                " names a disk that is not in \"disks\"");
          }
        }
      }
    }
  }
  std::set<std::string> volumes;
  for (json &volume : storage["volumes"]) {
    requireName(volume, "name", at + ".volumes");
    std::string name = volume["name"].get<std::string>();
    std::string place = at;
    place.append(".volumes[").append(name).append("]");
    requireArrayOfObjects(volume, "snapshots", place);
    requireArrayOfObjects(volume, "qtrees", place);
    const char *kind = nullptr;
    const char *problem = nullptr;
    if (findNamed(storage["aggregates"], text(volume, "aggregate")) == nullptr) {
      kind = "volume ";
      problem = " names an unknown aggregate";
    } else if (traditional(volume) && text(volume, "aggregate") != name) {
      kind = "traditional volume ";
      problem = " must be its own aggregate";
    }
    if (problem != nullptr) {
      std::string message = at;
      message.append(": ").append(kind).append(name).append(problem);
      throw ScenarioError(message);
    }
    volumes.insert(name);
  }
  std::set<std::string> luns;
  for (const json &lun : storage["luns"]) {
    requireName(lun, "path", at + ".luns");
    std::string path = lun["path"].get<std::string>();
    if (volumes.count(volumeOfPath(path)) == 0) {
      std::string message = at;
      message.append(": LUN ").append(path).append(" is not in a known volume");
      throw ScenarioError(message);
    }
    luns.insert(path);
  }
  for (json &igroup : storage["igroups"]) {
    requireName(igroup, "name", at + ".igroups");
    if (!igroup.contains("initiators")) igroup["initiators"] = json::array();
    requireArrayOfObjects(igroup, "maps", at + ".igroups");
    for (const json &map : igroup["maps"]) {
      if (luns.count(text(map, "path")) == 0) {
        throw ScenarioError(at + ": igroup " + igroup["name"].get<std::string>() +
                            " maps an unknown LUN " + text(map, "path"));
      }
    }
  }
  json &iscsi = filer["iscsi"];
  requireArrayOfObjects(iscsi, "portals", where + ".iscsi");
  requireArrayOfObjects(iscsi, "sessions", where + ".iscsi");
}

std::map<std::string, std::string> snmpObjects(const json &model) {
  const json &filer = model;  // normalised: every section read here exists
  std::map<std::string, std::string> objects;
  // IP-MIB ipAdEntAddr, one row per IPv4 address.
  for (const json &nic : filer["interfaces"]) {
    for (const json &address : nic.value("ipv4", json::array())) {
      std::string text = address.get<std::string>();
      objects[".1.3.6.1.2.1.4.20.1.1." + text] = text;
    }
  }
  // The iSCSI tables of the experimental branch, for instance 1 and node 1.
  const json &iscsi = filer["iscsi"];
  if (iscsi.value("enabled", false)) {
    const std::string base = ".1.3.6.1.3.9999.1.";
    const json &portals = iscsi["portals"];
    objects[base + "2.1.1.7.1"] = std::to_string(portals.size());
    std::map<uint64_t, std::string> addressOf;
    for (const json &portal : portals) {
      std::string n = num(bytes(portal, "index"));
      addressOf[bytes(portal, "index")] = text(portal, "address");
      objects[base + "3.1.1.5.1.1." += n] = text(portal, "address");
      objects[base + "4.1.1.2.1.1." += n] = num(bytes(portal, "tag"));
    }
    for (const json &session : iscsi["sessions"]) {
      objects[base + "12.1.1.5.1.1." + num(bytes(session, "index")) + ".1"] =
          addressOf[bytes(session, "portal")];
    }
    objects[base + "6.1.1.11.1.1"] = num(bytes(iscsi, "maxConnections", 1));
    objects[base + "6.1.1.14.1.1"] = num(bytes(iscsi, "defaultTimeToWait", 2));
    objects[base + "6.1.1.15.1.1"] = num(bytes(iscsi, "defaultTimeToRetain", 20));
  }
  for (auto it = filer["snmp"].begin(); it != filer["snmp"].end(); ++it) {
    objects[it.key()] = it->is_string() ? it->get<std::string>() : it->dump();
  }
  return objects;
}

}  // namespace filersim::detail
