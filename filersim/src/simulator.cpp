// The simulated filers' state and how they answer requests.
#include <chrono>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <thread>

#include "filersim/filersim.h"
#include "internal.h"
#include "wbemkelvai/wsiapi.h"

namespace filersim {

using nlohmann::json;

namespace detail {

std::string param(pugi::xml_node request, const char *name, bool required) {
  pugi::xml_node node = request.child(name);
  if (!node) {
    if (required) throw ApiError{kMissingInput, std::string("Missing input: ") + name};
    return std::string();
  }
  return node.text().get();
}

void add(pugi::xml_node parent, const char *name, const std::string &value) {
  parent.append_child(name).text().set(value.c_str());
}

std::string text(const json &j, const char *key, const char *fallback) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : fallback;
}

}  // namespace detail

namespace {

using detail::add;
using detail::ApiError;
using detail::Handler;
using detail::param;
using detail::text;

// ---- API handlers: (filer state, request element, results element) ----------------

void systemGetInfo(json &filer, pugi::xml_node, pugi::xml_node results) {
  const json &id = filer["identity"];
  pugi::xml_node info = results.append_child("system-info");
  add(info, "system-id", text(id, "systemId"));
  add(info, "system-name", text(id, "systemName", text(filer, "name").c_str()));
  add(info, "system-serial-number", text(id, "serial"));
  add(info, "system-model", text(id, "model"));
  add(info, "vendor-id", text(id, "vendor", "KELVA"));
}

void systemGetVersion(json &filer, pugi::xml_node, pugi::xml_node results) {
  add(results, "version", text(filer, "version"));
}

void cfStatus(json &filer, pugi::xml_node, pugi::xml_node results) {
  const json &cf = filer["takeover"];
  add(results, "is-enabled", cf.value("enabled", false) ? "true" : "false");
  add(results, "state", text(cf, "state", "NOT CONFIGURED"));
  add(results, "partner-name", text(cf, "partner"));
  add(results, "state-reason", text(cf, "reason"));
}

void netIfconfigGet(json &filer, pugi::xml_node, pugi::xml_node results) {
  pugi::xml_node list = results.append_child("interfaces");
  for (const json &nic : filer["interfaces"]) {
    pugi::xml_node info = list.append_child("interface-info");
    add(info, "interface-name", text(nic, "name"));
    add(info, "is-up", nic.value("up", true) ? "true" : "false");
    add(info, "mtu", std::to_string(nic.value("mtu", 1500)));
    for (const char *family : {"ipv4", "ipv6"}) {
      pugi::xml_node addresses = info.append_child((std::string(family) + "-addresses").c_str());
      for (const json &address : nic.value(family, json::array())) {
        add(addresses.append_child("ip-address-info"), "address", address.get<std::string>());
      }
    }
  }
}

void diagnosisStatusGet(json &filer, pugi::xml_node, pugi::xml_node results) {
  add(results, "status", text(filer, "health", "ok"));
}

json &iscsi(json &filer) {
  json &section = filer["iscsi"];
  if (!section.value("enabled", false)) throw ApiError{kNotEnabled, "iSCSI is not enabled"};
  return section;
}

void iscsiNodeGetName(json &filer, pugi::xml_node, pugi::xml_node results) {
  add(results, "node-name", text(iscsi(filer), "nodeName"));
}

void iscsiNodeSetName(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string name = param(request, "node-name");
  if (name.empty()) throw ApiError{kInvalidInput, "Invalid input: node-name is empty"};
  iscsi(filer)["nodeName"] = name;
}

void iscsiServiceStatus(json &filer, pugi::xml_node, pugi::xml_node results) {
  add(results, "is-available", iscsi(filer).value("running", true) ? "true" : "false");
}

void fcpNodeGetName(json &filer, pugi::xml_node, pugi::xml_node results) {
  json &fcp = filer["fcp"];
  if (!fcp.value("enabled", false)) throw ApiError{kNotEnabled, "FCP is not enabled"};
  add(results, "node-name", text(fcp, "nodeName"));
}

void snmpGet(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string oid = param(request, "object-id");
  std::map<std::string, std::string> values = detail::snmpObjects(filer);
  auto it = values.find(oid);
  if (it == values.end()) throw ApiError{kNoSuchObject, "No such object identifier: " + oid};
  add(results, "value", it->second);
}

// Numeric order of object identifiers, as an SNMP walk sees them.
bool oidLess(const std::string &a, const std::string &b) {
  std::istringstream sa(a), sb(b);
  std::string pa, pb;
  while (true) {
    bool ha = static_cast<bool>(std::getline(sa, pa, '.'));
    bool hb = static_cast<bool>(std::getline(sb, pb, '.'));
    if (!ha || !hb) return !ha && hb;
    if (pa != pb) {
      if (pa.size() != pb.size()) return pa.size() < pb.size();
      return pa < pb;
    }
  }
}

void snmpGetNext(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string oid = param(request, "object-id");
  std::map<std::string, std::string> values = detail::snmpObjects(filer);
  const std::string *best = nullptr;
  for (const auto &[key, value] : values) {
    if (oidLess(oid, key) && (best == nullptr || oidLess(key, *best))) best = &key;
  }
  if (best == nullptr) throw ApiError{kNoSuchObject, "No object identifier after " + oid};
  add(results, "next-object-id", *best);
  add(results, "value", values[*best]);
}

const std::map<std::string, Handler> &apis() {
  static const std::map<std::string, Handler> table = [] {
    std::map<std::string, Handler> all = {
        {"system-get-info", systemGetInfo},
        {"system-get-version", systemGetVersion},
        {"cf-status", cfStatus},
        {"net-ifconfig-get", netIfconfigGet},
        {"diagnosis-status-get", diagnosisStatusGet},
        {"iscsi-node-get-name", iscsiNodeGetName},
        {"iscsi-node-set-name", iscsiNodeSetName},
        {"iscsi-service-status", iscsiServiceStatus},
        {"fcp-node-get-name", fcpNodeGetName},
        {"snmp-get", snmpGet},
        {"snmp-get-next", snmpGetNext},
    };
    all.insert(detail::storageApis().begin(), detail::storageApis().end());
    all.insert(detail::cliApis().begin(), detail::cliApis().end());
    for (const auto &api : detail::fileServiceApis()) all.insert_or_assign(api.first, api.second);
    all.insert(detail::lunOpsApis().begin(), detail::lunOpsApis().end());
    all.insert(detail::blockAccessApis().begin(), detail::blockAccessApis().end());
    return all;
  }();
  return table;
}

std::string document(pugi::xml_document &doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

pugi::xml_node newResults(pugi::xml_document &doc) {
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("kelva");
  root.append_attribute("version") = "1.0";
  return root.append_child("results");
}

std::string failedDocument(const ApiError &error) {
  pugi::xml_document doc;
  pugi::xml_node results = newResults(doc);
  results.append_attribute("status") = "failed";
  results.append_attribute("errno") = error.number;
  results.append_attribute("reason") = error.reason.c_str();
  return document(doc);
}

void requireString(const json &j, const char *key, const std::string &where) {
  if (!j.contains(key) || !j[key].is_string() || j[key].get<std::string>().empty()) {
    throw ScenarioError(where + ": \"" + key + "\" must be a non-empty string");
  }
}

// Fills in what a scenario may leave out, and refuses what it must not.
json normalise(json filer, size_t index) {
  std::string where = "filers[" + std::to_string(index) + "]";
  if (!filer.is_object()) throw ScenarioError(where + " is not an object");
  requireString(filer, "name", where);
  requireString(filer, "host", where);
  if (!filer.contains("credentials")) throw ScenarioError(where + ": \"credentials\" missing");
  requireString(filer["credentials"], "user", where + ".credentials");
  if (!filer["credentials"].contains("password")) filer["credentials"]["password"] = "";
  if (!filer.contains("identity")) throw ScenarioError(where + ": \"identity\" missing");
  requireString(filer["identity"], "systemId", where + ".identity");
  for (const char *section : {"takeover", "iscsi", "fcp", "snmp", "storage"}) {
    if (!filer.contains(section)) filer[section] = json::object();
    if (!filer[section].is_object())
      throw ScenarioError(where + ": \"" + section + "\" is not an object");
  }
  if (!filer.contains("interfaces")) filer["interfaces"] = json::array();
  if (!filer["interfaces"].is_array())
    throw ScenarioError(where + ": \"interfaces\" is not an array");
  if (!filer.contains("version")) filer["version"] = "KELVA Release 8.0.0";
  if (!filer.contains("health")) filer["health"] = "ok";
  if (!filer.contains("online")) filer["online"] = true;
  detail::normaliseStorage(filer, where);
  detail::normaliseFiles(filer, where);
  return filer;
}

}  // namespace

struct Simulator::FilerState {
  json model;
  std::map<std::string, Fault> faults;
  int requests = 0;
  std::string name;
  std::pair<Simulator *, std::string> binding;  // the in-process handler's context
};

Simulator::Simulator(const json &scenario) {
  if (!scenario.is_object() || !scenario.contains("filers") || !scenario["filers"].is_array()) {
    throw ScenarioError("scenario: \"filers\" must be an array");
  }
  size_t index = 0;
  for (const json &filer : scenario["filers"]) {
    auto state = std::make_unique<FilerState>();
    state->model = normalise(filer, index++);
    state->name = state->model["name"].get<std::string>();
    for (const auto &other : filers_) {
      if (other->name == state->name)
        throw ScenarioError("scenario: filer name repeated: " + state->name);
    }
    filers_.push_back(std::move(state));
  }
}

std::unique_ptr<Simulator> Simulator::fromFile(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw ScenarioError("cannot open scenario " + path);
  json scenario = json::parse(in, nullptr, false);
  if (scenario.is_discarded()) throw ScenarioError("scenario " + path + " is not valid JSON");
  return std::make_unique<Simulator>(scenario);
}

Simulator::~Simulator() { unregisterInProcess(); }

Simulator::FilerState &Simulator::find(const std::string &filer) {
  for (auto &state : filers_) {
    if (state->name == filer) return *state;
  }
  throw std::out_of_range("no simulated filer named " + filer);
}
const Simulator::FilerState &Simulator::find(const std::string &filer) const {
  return const_cast<Simulator *>(this)->find(filer);
}

std::vector<std::string> Simulator::filerNames() const {
  std::vector<std::string> names;
  for (const auto &state : filers_) names.push_back(state->name);
  return names;
}

std::string Simulator::host(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).model["host"].get<std::string>();
}
std::string Simulator::userName(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).model["credentials"]["user"].get<std::string>();
}
std::string Simulator::password(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).model["credentials"]["password"].get<std::string>();
}
std::string Simulator::systemId(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).model["identity"]["systemId"].get<std::string>();
}

json Simulator::state(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).model;
}

void Simulator::mutate(const std::string &filer, const std::function<void(json &)> &change) {
  std::lock_guard<std::mutex> guard(lock_);
  change(find(filer).model);
}

void Simulator::setFault(const std::string &filer, const std::string &api, const Fault &fault) {
  std::lock_guard<std::mutex> guard(lock_);
  find(filer).faults[api] = fault;
}

void Simulator::clearFaults() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto &state : filers_) state->faults.clear();
}

void Simulator::setOnline(const std::string &filer, bool online) {
  std::lock_guard<std::mutex> guard(lock_);
  find(filer).model["online"] = online;
}

int Simulator::requestCount(const std::string &filer) const {
  std::lock_guard<std::mutex> guard(lock_);
  return find(filer).requests;
}

Reply Simulator::handle(const std::string &filer, const std::string &user,
                        const std::string &password, const std::string &request) {
  std::lock_guard<std::mutex> guard(lock_);
  FilerState &state = find(filer);
  ++state.requests;
  if (!state.model.value("online", true)) return {Reply::Kind::Offline, {}, 0};
  const json &credentials = state.model["credentials"];
  if (user != credentials["user"].get<std::string>() ||
      password != credentials["password"].get<std::string>()) {
    return {Reply::Kind::Unauthorized, {}, 0};
  }

  pugi::xml_document in;
  std::string api;
  pugi::xml_node call;
  std::string body;
  if (request.find("<!DOCTYPE") != std::string::npos ||
      !in.load_buffer(request.data(), request.size()) ||
      std::string(in.document_element().name()) != "kelva" ||
      !(call = in.document_element().first_child()) || call.type() != pugi::node_element) {
    body = failedDocument({kMalformedRequest, "Malformed request"});
  } else {
    api = call.name();
  }

  Fault fault;
  bool faulty = false;
  for (const std::string &key : {api, std::string("*")}) {
    auto it = state.faults.find(key);
    if (it != state.faults.end() && it->second.times != 0) {
      fault = it->second;
      faulty = true;
      if (it->second.times > 0) --it->second.times;
      break;
    }
  }
  if (faulty && fault.kind == Fault::Kind::Fail) {
    return {Reply::Kind::Answer, failedDocument({fault.errorNumber, fault.reason}), 0};
  }
  if (faulty && fault.kind == Fault::Kind::Drop) return {Reply::Kind::Drop, {}, 0};
  if (faulty && fault.kind == Fault::Kind::Malformed) {
    return {Reply::Kind::Answer, "<kelva version=\"1.0\"><results status=\"passed\"><oops></kelva>",
            0, true};
  }
  if (faulty && fault.kind == Fault::Kind::Body) return {Reply::Kind::Answer, fault.body, 0, true};

  if (body.empty()) {
    auto handler = apis().find(api);
    if (handler == apis().end()) {
      body = failedDocument({kApiNotFound, "Unable to find API: " + api});
    } else {
      pugi::xml_document out;
      pugi::xml_node results = newResults(out);
      pugi::xml_attribute status = results.append_attribute("status");
      try {
        handler->second(state.model, call, results);
        status = "passed";
        body = document(out);
      } catch (const ApiError &error) {
        body = failedDocument(error);
      }
    }
  }
  if (faulty && fault.kind == Fault::Kind::Delay)
    return {Reply::Kind::Answer, body, fault.delayMillis};
  if (faulty && fault.kind == Fault::Kind::Truncated) {
    return {Reply::Kind::Answer, body.substr(0, body.size() / 2), 0, true};
  }
  if (faulty && fault.kind == Fault::Kind::StopMidway) {
    return {Reply::Kind::Drop, body.substr(0, body.size() / 2), 0, true};
  }
  return {Reply::Kind::Answer, body, 0};
}

namespace {

// The request tree as the XML text that HTTP would carry, so that both entries share
// Simulator::handle.
void appendRequest(pugi::xml_node parent, const WSIElement *element) {
  pugi::xml_node node = parent.append_child(getElementName(element));
  WSIIterator *children = _createIterator(element, __FILE__, __LINE__);
  bool any = false;
  while (WSIElement *child = getNextElement(children)) {
    appendRequest(node, child);
    any = true;
  }
  releaseIterator(children);
  if (!any && *getElementContent(element) != '\0') node.text().set(getElementContent(element));
}

std::string requestText(const WSIElement *request) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("kelva");
  root.append_attribute("version") = "1.0";
  appendRequest(root, request);
  return document(doc);
}

// Copies the element children of from under to; false when the library ran out of memory.
bool copyTree(pugi::xml_node from, WSIElement *to) {
  for (pugi::xml_node child : from.children()) {
    if (child.type() != pugi::node_element) continue;
    if (!child.first_child() || child.first_child().type() != pugi::node_element) {
      if (addStringElement(to, child.name(), child.text().get()) == 0) return false;
      continue;
    }
    WSIElement *element = _createElement(child.name(), __FILE__, __LINE__);
    if (element == nullptr || !copyTree(child, element) || addChildElement(to, element) == 0) {
      freeElement(element);
      return false;
    }
  }
  return true;
}

// A sound answer document as an answer tree; NULL when it cannot be made.
WSIElement *answerTree(const std::string &body) {
  pugi::xml_document doc;
  if (!doc.load_buffer(body.data(), body.size())) return nullptr;
  pugi::xml_node results = doc.document_element().child("results");
  if (!results) return nullptr;
  bool passed = std::string(results.attribute("status").value()) == "passed";
  WSIElement *answer = wsiCreateAnswer(passed ? 1 : 0, results.attribute("errno").as_int(0),
                                       results.attribute("reason").value());
  if (answer == nullptr || !copyTree(results, answer)) {
    freeElement(answer);
    return nullptr;
  }
  return answer;
}

int serveInProcess(std::pair<Simulator *, std::string> &filer, const char *user,
                   const char *password, const WSIElement *request, long timeoutMillis,
                   WSIElement **tree, WSIAnswerWriter write, void *answer) {
  Reply reply = filer.first->handle(filer.second, user, password, requestText(request));
  if (reply.delayMillis > 0) {
    long wait = reply.delayMillis > timeoutMillis ? timeoutMillis : reply.delayMillis;
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    if (reply.delayMillis > timeoutMillis) return WSI_INPROC_TIMEOUT;
  }
  switch (reply.kind) {
    case Reply::Kind::Offline:
      return WSI_INPROC_UNREACHABLE;
    case Reply::Kind::Unauthorized:
      return WSI_INPROC_UNAUTHORIZED;
    case Reply::Kind::Drop:
      write(answer, reply.body.data(), reply.body.size());
      return WSI_INPROC_DROPPED;
    case Reply::Kind::Answer:
      break;
  }
  // Sound answers travel as trees; a fault's text goes as written, for the library's
  // reader to judge.
  if (!reply.verbatim) *tree = answerTree(reply.body);
  if (*tree == nullptr) write(answer, reply.body.data(), reply.body.size());
  return WSI_INPROC_OK;
}

// The library calls this through a C function pointer: nothing is thrown back.
int inProcessHandler(void *context, const char *user, const char *password,
                     const WSIElement *request, long timeoutMillis, WSIElement **tree,
                     WSIAnswerWriter write, void *answer) {
  try {
    return serveInProcess(*static_cast<std::pair<Simulator *, std::string> *>(context), user,
                          password, request, timeoutMillis, tree, write, answer);
  } catch (...) {
    freeElement(*tree);
    *tree = nullptr;
    return WSI_INPROC_DROPPED;
  }
}

}  // namespace

void Simulator::registerInProcess() {
  for (auto &state : filers_) {
    state->binding = {this, state->name};
    wsiRegisterInProcessTreeFiler(host(state->name).c_str(), inProcessHandler, &state->binding);
  }
  registered_ = true;
}

// Unregistering waits for the requests in flight, so the bindings may go after it.
void Simulator::unregisterInProcess() {
  if (!registered_) return;
  for (const std::string &name : filerNames()) wsiUnregisterInProcessFiler(host(name).c_str());
  registered_ = false;
}

Fault faultFromJson(const json &description) {
  static const std::map<std::string, Fault::Kind> kinds = {{"fail", Fault::Kind::Fail},
                                                           {"delay", Fault::Kind::Delay},
                                                           {"drop", Fault::Kind::Drop},
                                                           {"stop-midway", Fault::Kind::StopMidway},
                                                           {"malformed", Fault::Kind::Malformed},
                                                           {"truncated", Fault::Kind::Truncated},
                                                           {"body", Fault::Kind::Body}};
  auto kind = kinds.find(description.value("kind", std::string()));
  if (kind == kinds.end()) throw ScenarioError("unknown fault kind");
  Fault fault;
  fault.kind = kind->second;
  fault.errorNumber = description.value("errno", 0);
  fault.reason = description.value("reason", std::string());
  fault.delayMillis = description.value("delayMillis", 0);
  fault.body = description.value("body", std::string());
  fault.times = description.value("times", -1);
  return fault;
}

}  // namespace filersim
