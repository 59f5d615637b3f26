// Block access on the simulated filer: the filer's own registry of small
// key-value settings (where the agent keeps igroup element names), its Fibre
// Channel adapters as "fcp-adapter-list-info" lists them, and the adapter
// sections that "sysconfig -v" prints on the command line.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "internal.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

// The registry lives under the filer's own "registry" object: key -> value.
json &registryOf(json &filer) {
  json &registry = filer["registry"];
  if (!registry.is_object()) registry = json::object();
  return registry;
}

void registrySet(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string key = param(request, "registry-key");
  std::string value = param(request, "registry-value", false);
  if (key.empty()) throw ApiError{kInvalidInput, "Invalid input: registry-key"};
  registryOf(filer)[key] = value;
}

// Deleting a key that is not there succeeds: the setting is gone either way.
void registryDelete(json &filer, pugi::xml_node request, pugi::xml_node) {
  std::string key = param(request, "registry-key");
  if (key.empty()) throw ApiError{kInvalidInput, "Invalid input: registry-key"};
  registryOf(filer).erase(key);
}

void registryGet(json &filer, pugi::xml_node request, pugi::xml_node results) {
  std::string key = param(request, "registry-key");
  json &registry = registryOf(filer);
  auto it = registry.find(key);
  if (it == registry.end()) throw ApiError{kNoSuchObject, "No registry key " + key};
  add(results, "registry-value", it->get<std::string>());
}

// The filer's FC adapters: "blockaccess": {"fcAdapters": [...]}, each with a
// name ("0a"), a slot, a model, a mode ("initiator" or "target"), a port
// kind ("N", "NL", "F/NL" ...), its state ("UP", "DOWN" ...), node and port
// names, a link speed in Gbit/s, and for target adapters the port address,
// id, packet size and data link rate.
const json &fcAdapters(json &filer) {
  static const json none = json::array();
  auto section = filer.find("blockaccess");
  if (section == filer.end() || !section->is_object()) return none;
  auto adapters = section->find("fcAdapters");
  return adapters != section->end() && adapters->is_array() ? *adapters : none;
}

int64_t number(const json &j, const char *key, int64_t fallback) {
  auto it = j.find(key);
  return it != j.end() && it->is_number_integer() ? it->get<int64_t>() : fallback;
}

void fcpAdapterListInfo(json &filer, pugi::xml_node request, pugi::xml_node results) {
  if (!filer["fcp"].value("enabled", false)) throw ApiError{kNotEnabled, "FCP is not enabled"};
  std::string only = param(request, "fcp-adapter", false);
  pugi::xml_node list = results.append_child("fcp-config-adapters");
  for (const json &adapter : fcAdapters(filer)) {
    if (text(adapter, "mode", "target") != "target") continue;
    if (!only.empty() && text(adapter, "name") != only) continue;
    pugi::xml_node info = list.append_child("fcp-config-adapter-info");
    add(info, "adapter", text(adapter, "name"));
    add(info, "node-name", text(adapter, "nodeName"));
    if (!text(adapter, "portName").empty()) add(info, "port-name", text(adapter, "portName"));
    add(info, "port-address", std::to_string(number(adapter, "portAddress", 0)));
    add(info, "port-id", std::to_string(number(adapter, "portId", 0)));
    add(info, "packet-size", std::to_string(number(adapter, "packetSize", 2048)));
    add(info, "data-link-rate", std::to_string(number(adapter, "dataLinkRate", 2)));
    add(info, "state", text(adapter, "state", "ONLINE"));
  }
}

}  // namespace

// "sysconfig -v": a heading per slot, then the slot's details; FC adapters in
// initiator mode print their node and port names.
std::string sysconfigCommand(json &filer, const std::vector<std::string> &words) {
  std::string out = "        KELVA Release " + text(filer["identity"], "model", "KV") + "\n";
  out += "        System ID: " + text(filer["identity"], "systemId") + "\n";
  out += "        slot 0: System Board\n                Processors:         2\n";
  bool verbose = words.size() > 1 && words[1] == "-v";
  for (const json &adapter : fcAdapters(filer)) {
    std::string mode = text(adapter, "mode", "target");
    out += "        slot " + std::to_string(number(adapter, "slot", 0)) + ": FC Host Adapter " +
           text(adapter, "name") + " (" + text(adapter, "model", "Dual-channel KV-FC") + ", " +
           text(adapter, "portType", "N") + "-port, <" + text(adapter, "state", "UP") + ">)\n";
    if (!verbose) continue;
    out += "                Firmware rev:     3.3.10\n";
    out += "                Host Port Id:     0x" + std::to_string(number(adapter, "portId", 0)) +
           "\n";
    out += "                Mode:             " + mode + "\n";
    out += "                Link speed:       " + std::to_string(number(adapter, "speedGbit", 2)) +
           " Gbit\n";
    out += "                FC Node Name:     " + text(adapter, "nodeName") + "\n";
    out += "                FC Port Name:     " + text(adapter, "portName") + "\n";
  }
  return out;
}

const std::map<std::string, Handler> &blockAccessApis() {
  static const std::map<std::string, Handler> table = {
      {"registry-set", registrySet},
      {"registry-delete", registryDelete},
      {"registry-get", registryGet},
      {"fcp-adapter-list-info", fcpAdapterListInfo},
  };
  return table;
}

}  // namespace filersim::detail
