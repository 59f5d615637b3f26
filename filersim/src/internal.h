// What the simulator's request handlers share: failed answers, parameters and
// answer building, and the storage model's handlers (storage.cpp).
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace filersim::detail {

// A failed answer raised by an API handler.
struct ApiError {
  int number;
  std::string reason;
};

// Reads a parameter; a missing required one is a failed answer.
std::string param(pugi::xml_node request, const char *name, bool required = true);
// Appends a child element holding the text.
void add(pugi::xml_node parent, const char *name, const std::string &value);
// The string at key, or fallback when there is none.
std::string text(const nlohmann::json &j, const char *key, const char *fallback = "");

// A request handler: (filer state, request element, results element).
using Handler = void (*)(nlohmann::json &, pugi::xml_node, pugi::xml_node);

// The storage model's APIs.
const std::map<std::string, Handler> &storageApis();
// The command line ("system-cli"), cli.cpp.
const std::map<std::string, Handler> &cliApis();
// The LUN life-cycle APIs (lunops.cpp).
const std::map<std::string, Handler> &lunOpsApis();
// Block access: the filer's registry, its FC adapters (blockaccess.cpp).
const std::map<std::string, Handler> &blockAccessApis();
// The "sysconfig" console command: what it prints (blockaccess.cpp).
std::string sysconfigCommand(nlohmann::json &filer, const std::vector<std::string> &words);

// Checks the storage section (and the iSCSI portals and sessions) of a filer and
// fills in defaults; throws ScenarioError naming where.
void normaliseStorage(nlohmann::json &filer, const std::string &where);
// The filer's SNMP objects: those derived from its model (IP address table, iSCSI
// tables) overlaid with the scenario's own "snmp" values.
std::map<std::string, std::string> snmpObjects(const nlohmann::json &filer);

// The file-service model's APIs (fileservices.cpp); they take the place of the
// storage model's volume-offline and volume-destroy, which they wrap.
const std::map<std::string, Handler> &fileServiceApis();
// Checks the "files" section of a filer and fills in defaults; throws ScenarioError.
void normaliseFiles(nlohmann::json &filer, const std::string &where);

}  // namespace filersim::detail
