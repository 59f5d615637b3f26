// LUN life-cycle requests of the simulated filer: create, resize, destroy, and
// taking a LUN off line and back.  They act on the storage model's "luns"
// section, so the next lun-list-info answer (and the controller library's
// cache, which these request names mark changed) shows what they did.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "filersim/filersim.h"
#include "internal.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

json &luns(json &filer) { return filer["storage"]["luns"]; }

json *lunAt(json &filer, const std::string &path) {
  for (json &lun : luns(filer)) {
    if (text(lun, "path") == path) return &lun;
  }
  return nullptr;
}

json &existingLun(json &filer, const std::string &path) {
  json *lun = lunAt(filer, path);
  if (lun == nullptr) throw ApiError{kNoSuchLun, "No LUN at " + path};
  return *lun;
}

uint64_t figure(const json &j, const char *key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number()) return 0;
  return it->is_number_unsigned() ? it->get<uint64_t>()
         : it->get<int64_t>() > 0 ? static_cast<uint64_t>(it->get<int64_t>())
                                  : 0;
}

// "/vol/<volume>/<name>" or "/vol/<volume>/<qtree>/<name>" -> volume; empty
// for any other form.
std::string volumeOfPath(const std::string &path) {
  if (path.rfind("/vol/", 0) != 0) return std::string();
  size_t end = path.find('/', 5);
  if (end == std::string::npos || end == 5 || end + 1 >= path.size()) return std::string();
  return path.substr(5, end - 5);
}

// The on-line volume that will hold a LUN at path.
json &holdingVolume(json &filer, const std::string &path) {
  std::string name = volumeOfPath(path);
  if (name.empty()) throw ApiError{kInvalidInput, "Invalid input: path"};
  for (json &volume : filer["storage"]["volumes"]) {
    if (text(volume, "name") != name) continue;
    if (text(volume, "state", "online") != "online")
      throw ApiError{kVolumeOffline, "Volume " + name + " is not online"};
    return volume;
  }
  throw ApiError{kNoSuchVolume, "No volume named " + name};
}

// A size in bytes: decimal digits, more than zero.
uint64_t sizeParam(pugi::xml_node request) {
  std::string value = param(request, "size");
  if (value.empty() || value.size() > 19 ||
      !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw ApiError{kInvalidInput, "Invalid input: size"};
  uint64_t size = std::stoull(value);
  if (size == 0) throw ApiError{kInvalidInput, "Invalid input: size"};
  return size;
}

// LUNs of a volume take its space whole; the new size of the LUN at path must fit
// beside the others.
void requireSpace(json &filer, const json &volume, const std::string &path, uint64_t size) {
  uint64_t taken = 0;
  for (const json &lun : luns(filer)) {
    if (volumeOfPath(text(lun, "path")) == text(volume, "name") && text(lun, "path") != path)
      taken += figure(lun, "sizeBytes");
  }
  uint64_t total = figure(volume, "sizeBytes");
  if (taken > total || size > total - taken)
    throw ApiError{kNoSpace, "Not enough space in volume " + text(volume, "name")};
}

bool serialTaken(json &filer, const std::string &serial) {
  for (const json &lun : luns(filer)) {
    if (text(lun, "serial") == serial) return true;
  }
  return false;
}

// A serial number of 12 characters that no LUN of the filer has, counted in the
// filer's own "lunops" section so that a scenario can start it anywhere; next
// is the count to store once the LUN is made (a refused request changes nothing).
std::string newSerial(json &filer, uint64_t *next) {
  *next = figure(filer["lunops"], "nextSerial");
  for (;;) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%09llu",
                  static_cast<unsigned long long>(*next % 1000000000ULL));
    ++*next;
    if (!serialTaken(filer, serial)) return serial;
  }
}

void lunCreate(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string path = param(request, "path");
  uint64_t size = sizeParam(request);
  json &volume = holdingVolume(filer, path);
  if (lunAt(filer, path) != nullptr) throw ApiError{kLunExists, "A LUN exists at " + path};
  std::string serial = param(request, "serial-number", false);
  uint64_t nextSerial = 0;
  if (serial.empty()) {
    serial = newSerial(filer, &nextSerial);
  } else if (serialTaken(filer, serial)) {
    throw ApiError{kInvalidInput, "Invalid input: serial-number"};
  }
  requireSpace(filer, volume, path, size);
  std::string osType = param(request, "ostype", false);
  std::string reserve = param(request, "space-reservation-enabled", false);
  if (!reserve.empty() && reserve != "true" && reserve != "false")
    throw ApiError{kInvalidInput, "Invalid input: space-reservation-enabled"};
  json lun = {{"path", path},
              {"serial", serial},
              {"sizeBytes", size},
              {"usedBytes", 0},
              {"osType", osType.empty() ? "windows" : osType},
              {"uuid", "sim-" + serial},
              {"online", true},
              {"spaceReserved", reserve != "false"},
              {"comment", ""}};
  luns(filer).push_back(std::move(lun));
  if (nextSerial != 0) filer["lunops"]["nextSerial"] = nextSerial;
  add(results, "serial-number", serial);
}

void lunResize(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string path = param(request, "path");
  json &lun = existingLun(filer, path);
  uint64_t size = sizeParam(request);
  requireSpace(filer, holdingVolume(filer, path), path, size);
  lun["sizeBytes"] = size;
  // Blocks past the new end are gone.
  if (figure(lun, "usedBytes") > size) lun["usedBytes"] = size;
  add(results, "actual-size", std::to_string(size));
}

void lunDestroy(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string path = param(request, "path");
  existingLun(filer, path);
  bool force = param(request, "force", false) == "true";
  json &igroups = filer["storage"]["igroups"];
  for (json &igroup : igroups) {
    json &maps = igroup["maps"];
    auto mapped = std::find_if(maps.begin(), maps.end(),
                               [&](const json &map) { return text(map, "path") == path; });
    if (mapped == maps.end()) continue;
    if (!force) throw ApiError{kLunMapped, "LUN " + path + " is mapped; unmap it first"};
    maps.erase(mapped);
  }
  json &all = luns(filer);
  all.erase(std::remove_if(all.begin(), all.end(),
                           [&](const json &lun) { return text(lun, "path") == path; }),
            all.end());
}

void lunOffline(json &filer, pugi::xml_node request, pugi::xml_node) {
  existingLun(filer, param(request, "path"))["online"] = false;
}

void lunOnline(json &filer, pugi::xml_node request, pugi::xml_node) {
  existingLun(filer, param(request, "path"))["online"] = true;
}

}  // namespace

const std::map<std::string, Handler> &lunOpsApis() {
  static const std::map<std::string, Handler> table = {
      {"lun-create", lunCreate},   {"lun-resize", lunResize}, {"lun-destroy", lunDestroy},
      {"lun-offline", lunOffline}, {"lun-online", lunOnline},
  };
  return table;
}

}  // namespace filersim::detail
