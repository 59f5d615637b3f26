// The simulated filer's quotas: rules of three types (user, group, tree) with
// limits in kilobytes, per-target usage, a report paged from the rules, the usage
// and generated runs of lines (so that a scenario can ask for a long report without
// listing it), and each volume's quota state.  Everything lives under the filer's
// "quotas" key, open reports too ("open").
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "internal.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

constexpr int kNoSuchEntry = 13053;   // no quota rule with those keys
constexpr int kEntryExists = 13054;   // a rule with those keys exists already
constexpr int kNoSuchReport = 13055;  // no open report with that tag
constexpr int kQuotaBusy = 13056;     // the volume's quotas are changing state
constexpr int kQuotaNotOn = 13057;    // the request needs quotas on
constexpr int kReportMaximum = 100;   // lines per batch at most

constexpr const char *kLimits[] = {"disk-limit", "file-limit", "soft-disk-limit", "soft-file-limit",
                                   "threshold"};

json &quotas(json &filer) { return filer["quotas"]; }

bool volumeExists(json &filer, const std::string &name) {
  for (const json &volume : filer["storage"]["volumes"]) {
    if (text(volume, "name") == name) return true;
  }
  return false;
}

// The volume a rule names, or the root volume when it names none.
std::string ruleVolume(json &filer, const std::string &volume) {
  if (!volume.empty()) return volume;
  for (const json &v : filer["storage"]["volumes"]) {
    if (v.value("root", false)) return text(v, "name");
  }
  return volume;
}

struct Keys {
  std::string type, target, volume, qtree;
};

Keys keysOf(json &filer, pugi::xml_node request) {
  Keys keys{param(request, "quota-type"), param(request, "quota-target"),
            ruleVolume(filer, param(request, "volume", false)), param(request, "qtree", false)};
  if (keys.type != "user" && keys.type != "group" && keys.type != "tree")
    throw ApiError{kInvalidInput, "Invalid input: quota-type " + keys.type};
  if (keys.target.empty()) throw ApiError{kInvalidInput, "Invalid input: quota-target is empty"};
  if (!volumeExists(filer, keys.volume))
    throw ApiError{kNoSuchVolume, "No volume named " + keys.volume};
  return keys;
}

bool same(const json &rule, const Keys &keys) {
  return text(rule, "type") == keys.type && text(rule, "target") == keys.target &&
         text(rule, "volume") == keys.volume && text(rule, "qtree") == keys.qtree;
}

json *ruleOf(json &filer, const Keys &keys) {
  for (json &rule : quotas(filer)["rules"]) {
    if (same(rule, keys)) return &rule;
  }
  return nullptr;
}

// A limit as the filer takes it: kilobytes or files as digits, or "-".
std::string limitParam(pugi::xml_node request, const char *name) {
  std::string value = param(request, name, false);
  if (value.empty()) return "-";
  if (value[0] == '-') return "-";
  if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw ApiError{kInvalidInput, std::string("Invalid input: ") + name + " " + value};
  return value;
}

void setLimits(json &rule, pugi::xml_node request) {
  for (const char *name : {"disk-limit", "file-limit", "soft-disk-limit", "soft-file-limit"})
    rule[name] = limitParam(request, name);
}

void addKeys(pugi::xml_node node, const json &line) {
  add(node, "quota-type", text(line, "type"));
  add(node, "quota-target", text(line, "target"));
  add(node, "volume", text(line, "volume"));
  add(node, "qtree", text(line, "qtree"));
}

// ---- Rules ------------------------------------------------------------------------------

void quotaListEntries(json &filer, pugi::xml_node /*request*/, pugi::xml_node results) {
  pugi::xml_node list = results.append_child("quota-entries");
  for (const json &rule : quotas(filer)["rules"]) {
    pugi::xml_node entry = list.append_child("quota-entry");
    addKeys(entry, rule);
    std::string error = text(rule, "error");
    if (!error.empty()) add(entry.append_child("quota-error"), "reason", error);
  }
}

void quotaGetEntry(json &filer, pugi::xml_node request, pugi::xml_node results) {
  Keys keys = keysOf(filer, request);
  json *rule = ruleOf(filer, keys);
  if (rule == nullptr) throw ApiError{kNoSuchEntry, "No quota entry for " + keys.target};
  for (const char *name : kLimits) add(results, name, text(*rule, name, "-"));
  std::string error = text(*rule, "error");
  if (!error.empty()) add(results.append_child("quota-error"), "quota-error", error);
}

void quotaAddEntry(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  Keys keys = keysOf(filer, request);
  if (ruleOf(filer, keys) != nullptr)
    throw ApiError{kEntryExists, "Quota entry exists already for " + keys.target};
  json rule = {{"type", keys.type},
               {"target", keys.target},
               {"volume", keys.volume},
               {"qtree", keys.qtree},
               {"threshold", "-"}};
  setLimits(rule, request);
  quotas(filer)["rules"].push_back(std::move(rule));
}

void quotaModifyEntry(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  Keys keys = keysOf(filer, request);
  json *rule = ruleOf(filer, keys);
  if (rule == nullptr) throw ApiError{kNoSuchEntry, "No quota entry for " + keys.target};
  setLimits(*rule, request);
}

void quotaDeleteEntry(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  Keys keys = keysOf(filer, request);
  json &rules = quotas(filer)["rules"];
  auto it = std::find_if(rules.begin(), rules.end(), [&](const json &r) { return same(r, keys); });
  if (it == rules.end()) throw ApiError{kNoSuchEntry, "No quota entry for " + keys.target};
  rules.erase(it);
}

// ---- Reports ----------------------------------------------------------------------------

// "/vol/<volume>[/<qtree>]" of a report line.
std::string pathOf(const json &line) {
  std::string path = "/vol/" + text(line, "volume");
  std::string qtree = text(line, "qtree");
  if (!qtree.empty()) path += "/" + qtree;
  return path;
}

bool inScope(const json &line, const std::string &volume, const std::string &path) {
  if (!volume.empty() && text(line, "volume") != volume) return false;
  if (path.empty()) return true;
  std::string own = pathOf(line);
  return own == path || own.rfind(path + "/", 0) == 0;
}

json usageOf(const json &model, const std::string &type, const std::string &target,
             const std::string &volume, const std::string &qtree) {
  for (const json &u : model["usage"]) {
    if (text(u, "type") == type && text(u, "target") == target && text(u, "volume") == volume &&
        text(u, "qtree") == qtree)
      return u;
  }
  return json::object();
}

json lineOf(const json &rule, const std::string &target, const json &usage) {
  json line = {{"type", text(rule, "type")},
               {"target", target},
               {"volume", text(rule, "volume")},
               {"qtree", text(rule, "qtree")},
               {"disk-used", usage.value("disk-used", 0ULL)},
               {"files-used", usage.value("files-used", 0ULL)}};
  for (const char *name : kLimits) line[name] = text(rule, name, "-");
  return line;
}

// The lines the rules and the usage give: one per explicit rule; a default rule
// ("*") stands for each target with usage but without a rule of its own.
std::vector<json> ruleLines(const json &model) {
  std::vector<json> lines;
  for (const json &rule : model["rules"]) {
    std::string type = text(rule, "type");
    std::string target = text(rule, "target");
    std::string volume = text(rule, "volume");
    std::string qtree = text(rule, "qtree");
    if (target != "*") {
      lines.push_back(lineOf(rule, target, usageOf(model, type, target, volume, qtree)));
      continue;
    }
    for (const json &u : model["usage"]) {
      if (text(u, "type") != type || text(u, "volume") != volume || text(u, "qtree") != qtree)
        continue;
      std::string user = text(u, "target");
      bool own = std::any_of(model["rules"].begin(), model["rules"].end(), [&](const json &r) {
        return text(r, "type") == type && text(r, "target") == user &&
               text(r, "volume") == volume && text(r, "qtree") == qtree;
      });
      if (!own) lines.push_back(lineOf(rule, user, u));
    }
  }
  return lines;
}

void quotaReportIterStart(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &model = quotas(filer);
  std::string volume = param(request, "volume", false);
  std::string path = param(request, "path", false);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!volume.empty() && !volumeExists(filer, volume))
    throw ApiError{kNoSuchVolume, "No volume named " + volume};
  json lines = json::array();
  for (json &line : ruleLines(model)) {
    if (inScope(line, volume, path)) lines.push_back(std::move(line));
  }
  json runs = json::array();
  unsigned long long total = lines.size();
  const json &generated = model["generated"];
  for (size_t i = 0; i < generated.size(); ++i) {
    if (!inScope(generated[i], volume, path)) continue;
    runs.push_back(i);
    total += generated[i].value("lines", 0ULL);
  }
  int number = model.value("nextTag", 1);
  model["nextTag"] = number + 1;
  std::string tag = "quota-report-" + std::to_string(number);
  model["open"][tag] = {{"lines", std::move(lines)}, {"runs", std::move(runs)}, {"next", 0}};
  add(results, "tag", tag);
  add(results, "records", std::to_string(total));
}

json &reportOf(json &filer, const std::string &tag) {
  json &open = quotas(filer)["open"];
  auto it = open.find(tag);
  if (it == open.end()) throw ApiError{kNoSuchReport, "No open quota report with tag " + tag};
  return *it;
}

// Where a report stands: a materialised line, or a line of a generated run.
class Cursor {
 public:
  Cursor(const json &model, const json &report, unsigned long long position)
      : model_(model), report_(report), lines_(report["lines"]), position_(position) {
    if (position_ < lines_.size()) return;
    unsigned long long rest = position_ - lines_.size();
    for (run_ = 0; run_ < report_["runs"].size(); ++run_) {
      unsigned long long count = runAt(run_).value("lines", 0ULL);
      if (rest < count) break;
      rest -= count;
    }
    offset_ = rest;
  }

  // The current line's source and target, or null past the report's end.
  const json *line(std::string *target) const {
    if (position_ < lines_.size()) {
      *target = text(lines_[position_], "target");
      return &lines_[position_];
    }
    if (run_ >= report_["runs"].size()) return nullptr;
    const json &run = runAt(run_);
    *target = text(run, "target", "user%d");
    size_t at = target->find("%d");
    if (at != std::string::npos) target->replace(at, 2, std::to_string(offset_));
    return &run;
  }

  void advance() {
    ++position_;
    if (position_ < lines_.size()) return;
    if (position_ > lines_.size()) {
      if (++offset_ < runAt(run_).value("lines", 0ULL)) return;
      offset_ = 0;
      ++run_;
    }
    // Runs of no lines are passed over.
    while (run_ < report_["runs"].size() && runAt(run_).value("lines", 0ULL) == 0) ++run_;
  }

  unsigned long long position() const { return position_; }

 private:
  const json &runAt(size_t index) const {
    return model_["generated"][report_["runs"][index].get<size_t>()];
  }

  const json &model_;
  const json &report_;
  const json &lines_;
  unsigned long long position_;
  size_t run_ = 0;
  unsigned long long offset_ = 0;
};

void quotaReportIterNext(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &report = reportOf(filer, param(request, "tag"));
  std::string maximumText = param(request, "maximum");
  int maximum = 0;
  try {
    maximum = std::stoi(maximumText);
  } catch (const std::exception &) {
    maximum = 0;
  }
  if (maximum <= 0) throw ApiError{kInvalidInput, "Invalid input: maximum " + maximumText};
  maximum = std::min(maximum, kReportMaximum);
  pugi::xml_node list = results.append_child("quotas");
  int records = 0;
  Cursor cursor(quotas(filer), report, report.value("next", 0ULL));
  std::string target;
  for (; records < maximum; ++records, cursor.advance()) {
    const json *line = cursor.line(&target);
    if (line == nullptr) break;
    pugi::xml_node node = list.append_child("quota");
    add(node, "quota-type", text(*line, "type", "user"));
    add(node, "quota-target", target);
    add(node, "volume", text(*line, "volume"));
    add(node, "qtree", text(*line, "qtree"));
    for (const char *name : kLimits) add(node, name, text(*line, name, "-"));
    add(node, "disk-used", std::to_string(line->value("disk-used", 0ULL)));
    add(node, "files-used", std::to_string(line->value("files-used", 0ULL)));
  }
  report["next"] = cursor.position();
  add(results, "records", std::to_string(records));
}

void quotaReportIterEnd(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  std::string tag = param(request, "tag");
  reportOf(filer, tag);
  quotas(filer)["open"].erase(tag);
}

// ---- Volume states ----------------------------------------------------------------------

json &volumeState(json &filer, pugi::xml_node request) {
  std::string volume = param(request, "volume");
  if (!volumeExists(filer, volume)) throw ApiError{kNoSuchVolume, "No volume named " + volume};
  json &states = quotas(filer)["volumes"];
  if (!states.contains(volume)) states[volume] = {{"status", "off"}};
  return states[volume];
}

bool changing(const json &state) {
  std::string status = text(state, "status");
  return status != "on" && status != "off";
}

void quotaStatus(json &filer, pugi::xml_node request, pugi::xml_node results) {
  json &state = volumeState(filer, request);
  add(results, "status", text(state, "status", "off"));
  if (state.contains("percent-complete"))
    add(results, "percent-complete", std::to_string(state.value("percent-complete", 0)));
  std::string errors = text(state, "quota-errors");
  if (!errors.empty()) add(results, "quota-errors", errors);
}

void quotaOn(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  json &state = volumeState(filer, request);
  if (changing(state)) throw ApiError{kQuotaBusy, "Quota state is " + text(state, "status")};
  state["status"] = "on";
}

void quotaOff(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  json &state = volumeState(filer, request);
  if (changing(state)) throw ApiError{kQuotaBusy, "Quota state is " + text(state, "status")};
  state["status"] = "off";
}

void quotaResize(json &filer, pugi::xml_node request, pugi::xml_node /*results*/) {
  json &state = volumeState(filer, request);
  if (text(state, "status") != "on") throw ApiError{kQuotaNotOn, "Quotas are not on"};
  // A resize finishes at once here; the count lets a test see that it ran.
  state["resizes"] = state.value("resizes", 0) + 1;
}

// Keeps the request as it arrived under "lastRequest", so that a test can see
// exactly what a client sent.
template <Handler handler>
void recorded(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::ostringstream out;
  request.print(out, "", pugi::format_raw);
  quotas(filer)["lastRequest"][request.name()] = out.str();
  handler(filer, request, results);
}

void requireArrayOf(json &model, const char *key, const std::string &at) {
  if (!model.contains(key)) model[key] = json::array();
  if (!model[key].is_array()) throw ScenarioError(at + ": \"" + key + "\" is not an array");
  for (const json &item : model[key]) {
    if (!item.is_object()) throw ScenarioError(at + "." + key + ": each item is an object");
  }
}

}  // namespace

const std::map<std::string, Handler> &quotaApis() {
  static const std::map<std::string, Handler> table = {
      {"quota-list-entries", recorded<quotaListEntries>},
      {"quota-get-entry", recorded<quotaGetEntry>},
      {"quota-add-entry", recorded<quotaAddEntry>},
      {"quota-modify-entry", recorded<quotaModifyEntry>},
      {"quota-delete-entry", recorded<quotaDeleteEntry>},
      {"quota-report-iter-start", recorded<quotaReportIterStart>},
      // Batches are not recorded: a long report would spend its time copying them.
      {"quota-report-iter-next", quotaReportIterNext},
      {"quota-report-iter-end", recorded<quotaReportIterEnd>},
      {"quota-status", recorded<quotaStatus>},
      {"quota-on", recorded<quotaOn>},
      {"quota-off", recorded<quotaOff>},
      {"quota-resize", recorded<quotaResize>},
  };
  return table;
}

void normaliseQuotas(json &filer, const std::string &where) {
  std::string at = where + ".quotas";
  if (!filer.contains("quotas")) filer["quotas"] = json::object();
  json &model = filer["quotas"];
  if (!model.is_object()) throw ScenarioError(at + " is not an object");
  for (const char *key : {"rules", "usage", "generated"}) requireArrayOf(model, key, at);
  for (json &rule : model["rules"]) {
    std::string type = text(rule, "type");
    if ((type != "user" && type != "group" && type != "tree") || text(rule, "target").empty())
      throw ScenarioError(at +
                          ".rules: each rule needs \"type\" (user, group, tree) and \"target\"");
    rule["volume"] = ruleVolume(filer, text(rule, "volume"));
    if (!rule.contains("qtree")) rule["qtree"] = "";
    for (const char *name : kLimits) {
      if (!rule.contains(name)) rule[name] = "-";
      if (!rule[name].is_string()) throw ScenarioError(at + ".rules: limits are texts");
    }
  }
  for (const char *key : {"volumes", "open"}) {
    if (!model.contains(key)) model[key] = json::object();
    if (!model[key].is_object()) throw ScenarioError(at + ": \"" + key + "\" is not an object");
  }
}

}  // namespace filersim::detail
