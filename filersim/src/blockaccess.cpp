// Block access on the simulated filer: the filer's own registry of small
// key-value settings (where the agent keeps igroup element names), its Fibre
// Channel adapters as "fcp-adapter-list-info" lists them, and the adapter
// sections that "sysconfig -v" prints on the command line.
#include <map>
#include <string>

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

}  // namespace

const std::map<std::string, Handler> &blockAccessApis() {
  static const std::map<std::string, Handler> table = {
      {"registry-set", registrySet},
      {"registry-delete", registryDelete},
      {"registry-get", registryGet},
  };
  return table;
}

}  // namespace filersim::detail
