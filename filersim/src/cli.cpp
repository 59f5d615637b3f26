// The filer's command line as the "system-cli" request offers it: the words of
// a command come as "arg" children of "args", and the answer carries what the
// command printed as "cli-output".  A command the filer does not know is no
// failed request: like a console, it prints a complaint.  Commands are found by
// their first word in a table, so more of them can be added beside "vol".
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "internal.h"

namespace filersim::detail {

using nlohmann::json;

namespace {

using Words = std::vector<std::string>;
// A command: (filer state, its words, the first being its name) -> what it prints.
using Command = std::string (*)(json &, const Words &);

uint64_t sizeOf(const json &volume) {
  auto it = volume.find("sizeBytes");
  if (it == volume.end()) return 0;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  if (it->is_number_integer() && it->get<int64_t>() > 0)
    return static_cast<uint64_t>(it->get<int64_t>());
  return 0;
}

// A size as the console prints it: whole gigabytes, else whole megabytes, else
// kilobytes (rounded down).
std::string consoleSize(uint64_t bytes) {
  constexpr uint64_t k = 1024, m = k * 1024, g = m * 1024;
  if (bytes != 0 && bytes % g == 0) return std::to_string(bytes / g) + "g";
  if (bytes != 0 && bytes % m == 0) return std::to_string(bytes / m) + "m";
  return std::to_string(bytes / k) + "k";
}

std::string volSize(json &filer, const Words &words) {
  if (words.size() < 3) return "vol size: usage: vol size <vol-name> [[+|-]<size>[k|m|g]]\n";
  const std::string &name = words[2];
  for (const json &volume : filer["storage"]["volumes"]) {
    if (text(volume, "name") != name) continue;
    const char *kind = text(volume, "kind") == "traditional" ? "Traditional" : "Vari";
    return std::string("vol size: ") + kind + " volume '" + name + "' has size " +
           consoleSize(sizeOf(volume)) + ".\n";
  }
  return "vol size: No volume named '" + name + "' exists.\n";
}

std::string vol(json &filer, const Words &words) {
  static const std::map<std::string, Command> subcommands = {{"size", volSize}};
  if (words.size() < 2) return "vol: no subcommand given\n";
  auto found = subcommands.find(words[1]);
  if (found == subcommands.end()) return "vol: unknown subcommand '" + words[1] + "'\n";
  return found->second(filer, words);
}

const std::map<std::string, Command> &commands() {
  static const std::map<std::string, Command> table = {{"vol", vol},
                                                       {"sysconfig", sysconfigCommand}};
  return table;
}

void systemCli(json &filer, pugi::xml_node request, pugi::xml_node results) {
  pugi::xml_node args = request.child("args");
  if (!args) throw ApiError{kMissingInput, "Missing input: args"};
  Words words;
  for (pugi::xml_node arg : args.children("arg")) words.emplace_back(arg.text().get());
  if (words.empty()) throw ApiError{kInvalidInput, "Invalid input: no command given"};
  auto found = commands().find(words[0]);
  std::string output =
      found != commands().end() ? found->second(filer, words) : words[0] + ": not found\n";
  add(results, "cli-output", output);
  add(results, "cli-result-value", "0");
}

}  // namespace

const std::map<std::string, Handler> &cliApis() {
  static const std::map<std::string, Handler> table = {{"system-cli", systemCli}};
  return table;
}

}  // namespace filersim::detail
