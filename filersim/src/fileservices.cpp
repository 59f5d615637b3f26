// The simulated filer's file services: CIFS shares listed in pages, NFS export
// rules with root hosts and security flavours, CIFS sessions and the volumes they
// use, directories, and volumes taken off line or destroyed with what they share.
// Everything lives under the filer's "files" key; open listings are kept there
// too ("open"), so that a test can see which listings a client left open.
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "internal.h"
#include "wbemkelvai/wsiruntime.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

// Failed answers of the file services.
constexpr int kCifsNotLicensed = 13008;  // CIFS is not licensed
constexpr int kCifsNotSetUp = 13200;     // CIFS has not been set up
constexpr int kCifsNotRunning = 13201;   // CIFS is set up but not running
constexpr int kAlreadyOffline = 13114;   // volume-offline of a volume that is off line
constexpr int kNoSuchShare = 13130;      // no CIFS share of that name
constexpr int kShareExists = 13131;      // a CIFS share of that name exists already
constexpr int kNoSuchRule = 13132;       // no export rule for that path
constexpr int kNoSuchPath = 13133;       // no directory at that path
constexpr int kNoSuchTag = 13134;        // no open listing with that tag

const char *boolText(bool value) { return value ? "true" : "false"; }

json &files(json &filer) { return filer["files"]; }

json *named(json &array, const std::string &name, const char *key) {
  for (json &item : array) {
    if (text(item, key) == name) return &item;
  }
  return nullptr;
}

// "/vol/<volume>/..." -> volume; empty for any other path.
std::string volumeOf(const std::string &path) {
  if (path.rfind("/vol/", 0) != 0) return std::string();
  size_t end = path.find('/', 5);
  return path.substr(5, end == std::string::npos ? std::string::npos : end - 5);
}

json *volumeNamed(json &filer, const std::string &name) {
  return named(filer["storage"]["volumes"], name, "name");
}

// A path a share or a rule may name: a directory of the scenario, or the top of
// an on-line volume.
void requireDirectory(json &filer, const std::string &path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string volume = volumeOf(trimmed);
  json *record = volume.empty() ? nullptr : volumeNamed(filer, volume);
  if (record != nullptr && text(*record, "state", "online") != "online")
    throw ApiError{kVolumeOffline, "Volume " + volume + " is not online"};
  if (record != nullptr && trimmed == "/vol/" + volume) return;
  for (const json &dir : files(filer)["directories"]) {
    std::string known = dir.get<std::string>();
    while (known.size() > 1 && known.back() == '/') known.pop_back();
    if (known == trimmed && (volume.empty() || record != nullptr)) return;
  }
  throw ApiError{kNoSuchPath, "No such file or directory: " + path};
}

// ---- Open listings ------------------------------------------------------------------

std::string openListing(json &filer, const std::string &kind, json items) {
  json &model = files(filer);
  int number = model.value("nextTag", 1);
  model["nextTag"] = number + 1;
  std::string tag = kind + "-" + std::to_string(number);
  model["open"][tag] = {{"kind", kind}, {"items", std::move(items)}, {"next", 0}};
  return tag;
}

json &listingOf(json &filer, const std::string &tag, const std::string &kind) {
  json &open = files(filer)["open"];
  auto it = open.find(tag);
  if (it == open.end() || text(*it, "kind") != kind)
    throw ApiError{kNoSuchTag, "No open listing with tag " + tag};
  return *it;
}

// Up to maximum items of the listing, the listing moved past them.
std::vector<json> nextItems(json &listing, pugi::xml_node request) {
  std::string maximum = param(request, "maximum");
  int count = 0;
  try {
    count = std::stoi(maximum);
  } catch (const std::exception &) {
    count = 0;
  }
  if (count <= 0) throw ApiError{kInvalidInput, "Invalid input: maximum " + maximum};
  std::vector<json> out;
  size_t next = listing.value("next", 0u);
  const json &items = listing["items"];
  while (next < items.size() && static_cast<int>(out.size()) < count) out.push_back(items[next++]);
  listing["next"] = next;
  return out;
}

void endListing(json &filer, pugi::xml_node request, const std::string &kind) {
  std::string tag = param(request, "tag");
  listingOf(filer, tag, kind);
  files(filer)["open"].erase(tag);
}

// ---- CIFS shares ------------------------------------------------------------------

json &cifs(json &filer) {
  json &section = files(filer)["cifs"];
  int error = section.value("error", 0);
  if (error == kCifsNotLicensed) throw ApiError{error, "CIFS is not licensed"};
  if (error == kCifsNotSetUp) throw ApiError{error, "CIFS is not configured"};
  if (error == kCifsNotRunning) throw ApiError{error, "CIFS is not running"};
  if (error != 0) throw ApiError{error, "CIFS failed"};
  return section;
}

void cifsShareListIterStart(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string only = param(request, "share-name", false);
  json items = json::array();
  for (const json &share : cifs(filer)["shares"]) {
    if (passesStringFilter(only.c_str(), text(share, "name").c_str()) != 0) items.push_back(share);
  }
  size_t count = items.size();
  add(results, "tag", openListing(filer, "cifs-share", std::move(items)));
  add(results, "records", std::to_string(count));
}

void cifsShareListIterNext(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &listing = listingOf(filer, param(request, "tag"), "cifs-share");
  std::vector<json> batch = nextItems(listing, request);
  pugi::xml_node list = results.append_child("cifs-shares");
  for (const json &share : batch) {
    pugi::xml_node info = list.append_child("cifs-share-info");
    add(info, "share-name", text(share, "name"));
    add(info, "mount-point", text(share, "mount"));
    add(info, "description", text(share, "comment"));
  }
  add(results, "records", std::to_string(batch.size()));
}

void cifsShareListIterEnd(json &filer, pugi::xml_node request, pugi::xml_node) {
  endListing(filer, request, "cifs-share");
}

// The optional settings of an add or a change, kept as the filer was told them.
void takeShareSettings(json &share, pugi::xml_node request) {
  if (request.child("comment")) share["comment"] = param(request, "comment");
  if (request.child("is-symlink-strict-security"))
    share["symlinkStrictSecurity"] = param(request, "is-symlink-strict-security") == "true";
  if (request.child("umask")) share["umask"] = std::stoi(param(request, "umask"));
}

void cifsShareAdd(json &filer, pugi::xml_node request, pugi::xml_node) {
  json &shares = cifs(filer)["shares"];
  std::string name = param(request, "share-name");
  if (name.empty()) throw ApiError{kInvalidInput, "Invalid input: share-name is empty"};
  if (named(shares, name, "name") != nullptr)
    throw ApiError{kShareExists, "Share " + name + " already exists"};
  std::string path = param(request, "path");
  requireDirectory(filer, path);
  json share = {{"name", name}, {"mount", path}};
  takeShareSettings(share, request);
  shares.push_back(std::move(share));
}

void cifsShareChange(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string name = param(request, "share-name");
  json *share = named(cifs(filer)["shares"], name, "name");
  if (share == nullptr) throw ApiError{kNoSuchShare, "No share named " + name};
  takeShareSettings(*share, request);
}

void cifsShareDelete(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string name = param(request, "share-name");
  json &shares = cifs(filer)["shares"];
  json *share = named(shares, name, "name");
  if (share == nullptr) throw ApiError{kNoSuchShare, "No share named " + name};
  shares.erase(shares.begin() + (share - &shares[0]));
}

// ---- NFS export rules ---------------------------------------------------------------

json &nfs(json &filer) { return files(filer)["nfs"]; }

void appendRule(pugi::xml_node list, const json &rule) {
  pugi::xml_node info = list.append_child("exports-rule-info");
  // A rule stored without a path (the root export) is answered without one.
  if (rule.contains("pathname")) add(info, "pathname", text(rule, "pathname"));
  if (rule.contains("anon")) add(info, "anon", text(rule, "anon"));
  if (rule.contains("root")) {
    pugi::xml_node root = info.append_child("root");
    for (const json &host : rule["root"]) {
      pugi::xml_node entry = root.append_child("exports-hostname-info");
      add(entry, "name", text(host, "name"));
      add(entry, "negate", boolText(host.value("negate", false)));
    }
  }
  pugi::xml_node flavors = info.append_child("sec-flavor");
  for (const json &flavor : rule.value("flavors", json::array())) {
    add(flavors.append_child("sec-flavor-info"), "flavor", flavor.get<std::string>());
  }
}

void nfsExportfsListRules(json &filer, pugi::xml_node, pugi::xml_node results) {
  pugi::xml_node list = results.append_child("rules");
  for (const json &rule : nfs(filer)["rules"]) appendRule(list, rule);
}

void nfsGetSupportedSecFlavors(json &filer, pugi::xml_node, pugi::xml_node results) {
  pugi::xml_node list = results.append_child("sec-flavor");
  for (const json &flavor : nfs(filer)["flavors"]) {
    add(list.append_child("sec-flavor-info"), "flavor", flavor.get<std::string>());
  }
}

// A rule as the request describes it; unsupported flavours are refused.
json ruleFrom(json &filer, pugi::xml_node info) {
  if (!info) throw ApiError{kMissingInput, "Missing input: exports-rule-info"};
  json rule = json::object();
  std::string path = param(info, "pathname");
  rule["pathname"] = path;
  if (info.child("anon")) rule["anon"] = param(info, "anon");
  if (pugi::xml_node root = info.child("root")) {
    rule["root"] = json::array();
    for (pugi::xml_node host : root.children("exports-hostname-info")) {
      rule["root"].push_back(
          {{"name", param(host, "name")}, {"negate", param(host, "negate", false) == "true"}});
    }
  }
  rule["flavors"] = json::array();
  const json &supported = nfs(filer)["flavors"];
  for (pugi::xml_node flavor : info.child("sec-flavor").children("sec-flavor-info")) {
    std::string name = param(flavor, "flavor");
    if (std::find(supported.begin(), supported.end(), json(name)) == supported.end())
      throw ApiError{kInvalidInput, "Invalid input: unsupported security flavor " + name};
    rule["flavors"].push_back(name);
  }
  return rule;
}

bool persistent(pugi::xml_node request) { return param(request, "persistent", false) == "true"; }

json *ruleFor(json &filer, const std::string &path) {
  for (json &rule : nfs(filer)["rules"]) {
    if (text(rule, "pathname", "/") == path) return &rule;
  }
  return nullptr;
}

void nfsExportfsAppendRules(json &filer, pugi::xml_node request, pugi::xml_node) {
  pugi::xml_node rules = request.child("rules");
  if (!rules) throw ApiError{kMissingInput, "Missing input: rules"};
  std::vector<json> made;
  for (pugi::xml_node info : rules.children("exports-rule-info")) {
    json rule = ruleFrom(filer, info);
    requireDirectory(filer, text(rule, "pathname"));
    rule["persistent"] = persistent(request);
    made.push_back(std::move(rule));
  }
  // The filer keeps one rule per path: appending for a path replaces its rule.
  for (json &rule : made) {
    if (json *old = ruleFor(filer, text(rule, "pathname"))) {
      *old = std::move(rule);
    } else {
      nfs(filer)["rules"].push_back(std::move(rule));
    }
  }
}

void nfsExportfsModifyRule(json &filer, pugi::xml_node request, pugi::xml_node) {
  pugi::xml_node holder = request.child("rule");
  if (!holder) throw ApiError{kMissingInput, "Missing input: rule"};
  json rule = ruleFrom(filer, holder.child("exports-rule-info"));
  json *old = ruleFor(filer, text(rule, "pathname"));
  if (old == nullptr) throw ApiError{kNoSuchRule, "No export rule for " + text(rule, "pathname")};
  rule["persistent"] = persistent(request);
  *old = std::move(rule);
}

void nfsExportfsDeleteRules(json &filer, pugi::xml_node request, pugi::xml_node) {
  pugi::xml_node paths = request.child("pathnames");
  if (!paths) throw ApiError{kMissingInput, "Missing input: pathnames"};
  std::vector<std::string> gone;
  for (pugi::xml_node info : paths.children("pathname-info")) {
    std::string path = param(info, "name");
    if (ruleFor(filer, path) == nullptr) throw ApiError{kNoSuchRule, "No export rule for " + path};
    gone.push_back(path);
  }
  json &rules = nfs(filer)["rules"];
  rules.erase(std::remove_if(rules.begin(), rules.end(),
                             [&](const json &rule) {
                               return std::find(gone.begin(), gone.end(),
                                                text(rule, "pathname", "/")) != gone.end();
                             }),
              rules.end());
}

// ---- CIFS sessions ------------------------------------------------------------------

void cifsSessionListIterStart(json &filer, pugi::xml_node, pugi::xml_node results) {
  cifs(filer);
  json sessions = files(filer)["sessions"];
  size_t count = sessions.size();
  add(results, "tag", openListing(filer, "cifs-session", std::move(sessions)));
  add(results, "records", std::to_string(count));
}

// A drained listing answers with an empty "cifs-sessions", as the filers do.
void cifsSessionListIterNext(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &listing = listingOf(filer, param(request, "tag"), "cifs-session");
  std::vector<json> batch = nextItems(listing, request);
  pugi::xml_node list = results.append_child("cifs-sessions");
  for (const json &session : batch) {
    pugi::xml_node info = list.append_child("cifs-session-info");
    add(info, "host-ip", text(session, "host"));
    add(info, "windows-user", text(session, "user"));
    pugi::xml_node volumes = info.append_child("volumes-list");
    for (const json &volume : session.value("volumes", json::array())) {
      add(volumes.append_child("cifs-session-volume-info"), "volume", volume.get<std::string>());
    }
  }
  add(results, "records", std::to_string(batch.size()));
}

void cifsSessionListIterEnd(json &filer, pugi::xml_node request, pugi::xml_node) {
  endListing(filer, request, "cifs-session");
}

// ---- Directories ------------------------------------------------------------------

void fileListDirectoryIterStart(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string path = param(request, "path");
  requireDirectory(filer, path);
  add(results, "tag", openListing(filer, "directory", json::array()));
  add(results, "records", "0");
}

void fileListDirectoryIterEnd(json &filer, pugi::xml_node request, pugi::xml_node) {
  endListing(filer, request, "directory");
}

// ---- Volumes ----------------------------------------------------------------------

void volumeOffline(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string name = param(request, "name");
  json *volume = volumeNamed(filer, name);
  if (volume != nullptr && text(*volume, "state", "online") == "offline")
    throw ApiError{kAlreadyOffline, "Volume " + name + " is already offline"};
  storageApis().at("volume-offline")(filer, request, results);
  if (request.child("cifs-delay"))
    (*volumeNamed(filer, name))["cifsDelay"] = std::stoi(param(request, "cifs-delay"));
  // CIFS clients lose the volume (after the delay, which the simulator does not wait).
  for (json &session : files(filer)["sessions"]) {
    json &volumes = session["volumes"];
    volumes.erase(std::remove(volumes.begin(), volumes.end(), json(name)), volumes.end());
  }
}

// What was shared from a destroyed volume goes with it.
void volumeDestroy(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string name = param(request, "name");
  storageApis().at("volume-destroy")(filer, request, results);
  auto inVolume = [&](const json &item, const char *key) {
    return volumeOf(text(item, key)) == name;
  };
  json &shares = files(filer)["cifs"]["shares"];
  shares.erase(std::remove_if(shares.begin(), shares.end(),
                              [&](const json &s) { return inVolume(s, "mount"); }),
               shares.end());
  json &rules = nfs(filer)["rules"];
  rules.erase(std::remove_if(rules.begin(), rules.end(),
                             [&](const json &r) { return inVolume(r, "pathname"); }),
              rules.end());
  json &dirs = files(filer)["directories"];
  dirs.erase(std::remove_if(dirs.begin(), dirs.end(),
                            [&](const json &d) { return volumeOf(d.get<std::string>()) == name; }),
             dirs.end());
}

void requireArray(json &parent, const char *key, const std::string &where) {
  if (!parent.contains(key)) parent[key] = json::array();
  if (!parent[key].is_array()) throw ScenarioError(where + ": \"" + key + "\" is not an array");
}

void requireStrings(const json &array, const std::string &where) {
  for (const json &item : array) {
    if (!item.is_string()) throw ScenarioError(where + " must hold strings");
  }
}

// Keeps the request as it arrived (the XML of its element, children in order)
// under "lastRequest", so that a test can see exactly what a client sent.
template <Handler handler>
void recorded(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::ostringstream text;
  request.print(text, "", pugi::format_raw);
  files(filer)["lastRequest"][request.name()] = text.str();
  handler(filer, request, results);
}

}  // namespace

const std::map<std::string, Handler> &fileServiceApis() {
  static const std::map<std::string, Handler> table = {
      {"cifs-share-list-iter-start", recorded<cifsShareListIterStart>},
      {"cifs-share-list-iter-next", recorded<cifsShareListIterNext>},
      {"cifs-share-list-iter-end", recorded<cifsShareListIterEnd>},
      {"cifs-share-add", recorded<cifsShareAdd>},
      {"cifs-share-change", recorded<cifsShareChange>},
      {"cifs-share-delete", recorded<cifsShareDelete>},
      {"nfs-exportfs-list-rules", recorded<nfsExportfsListRules>},
      {"nfs-get-supported-sec-flavors", recorded<nfsGetSupportedSecFlavors>},
      {"nfs-exportfs-append-rules", recorded<nfsExportfsAppendRules>},
      {"nfs-exportfs-modify-rule", recorded<nfsExportfsModifyRule>},
      {"nfs-exportfs-delete-rules", recorded<nfsExportfsDeleteRules>},
      {"cifs-session-list-iter-start", recorded<cifsSessionListIterStart>},
      {"cifs-session-list-iter-next", recorded<cifsSessionListIterNext>},
      {"cifs-session-list-iter-end", recorded<cifsSessionListIterEnd>},
      {"file-list-directory-iter-start", recorded<fileListDirectoryIterStart>},
      {"file-list-directory-iter-end", recorded<fileListDirectoryIterEnd>},
      {"volume-offline", recorded<volumeOffline>},
      {"volume-destroy", recorded<volumeDestroy>},
  };
  return table;
}

void normaliseFiles(json &filer, const std::string &where) {
  std::string at = where + ".files";
  if (!filer.contains("files")) filer["files"] = json::object();
  json &model = filer["files"];
  if (!model.is_object()) throw ScenarioError(at + " is not an object");
  for (const char *key : {"cifs", "nfs", "open"}) {
    if (!model.contains(key)) model[key] = json::object();
    if (!model[key].is_object()) throw ScenarioError(at + ": \"" + key + "\" is not an object");
  }
  requireArray(model["cifs"], "shares", at + ".cifs");
  for (const json &share : model["cifs"]["shares"]) {
    if (!share.is_object() || text(share, "name").empty() || text(share, "mount").empty())
      throw ScenarioError(at + ".cifs.shares: each share needs \"name\" and \"mount\"");
  }
  json &exports = model["nfs"];
  if (!exports.contains("flavors")) exports["flavors"] = {"sys", "krb5", "krb5i", "krb5p"};
  requireArray(exports, "flavors", at + ".nfs");
  requireStrings(exports["flavors"], at + ".nfs.flavors");
  requireArray(exports, "rules", at + ".nfs");
  for (const json &rule : exports["rules"]) {
    if (!rule.is_object()) throw ScenarioError(at + ".nfs.rules: each rule is an object");
  }
  requireArray(model, "sessions", at);
  for (json &session : model["sessions"]) {
    if (!session.is_object()) throw ScenarioError(at + ".sessions: each session is an object");
    requireArray(session, "volumes", at + ".sessions");
    requireStrings(session["volumes"], at + ".sessions.volumes");
  }
  requireArray(model, "directories", at);
  requireStrings(model["directories"], at + ".directories");
}

}  // namespace filersim::detail
