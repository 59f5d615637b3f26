// provkit-agent: the KELVA agent's providers in the embedded object manager, serving
// the filers of the registry (by default the simulated filers of the default scenario,
// in process), and CIM operations on them from the command line.
#include <CLI/CLI.hpp>
#include <cmpimacs.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "agent.h"
#include "serve.h"
#include "platform/platform.h"
#include "provkit/registry.h"
#include "wbemkelvai/wsiruntime.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsitesting.h"

namespace {

using agent::CimError;
using agent::Held;
using nlohmann::json;

// Exit codes: 0 done, 1 the agent could not start, 2 a usage error, and for a CIM
// operation that failed 10 + its CIM status code (16 not found, 15 invalid class ...).
constexpr int kExitStart = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCimBase = 10;

std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted = true; }

struct Settings {
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::string nameSpace = "root/kelva";
  agent::HostOptions host;
  std::vector<std::string> filerTexts;
  std::vector<std::string> moreRegistrations;
  std::vector<std::string> moreDirs;
  bool https = false;
  bool insecure = false;
  std::string systemId;
};

// Shows that an operation is still under way once it has taken more than a moment.
class Progress {
 public:
  Progress(std::string label, bool enabled) : label_(std::move(label)) {
    if (enabled) thread_ = std::thread([this] { run(); });
  }
  ~Progress() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    auto start = std::chrono::steady_clock::now();
    bool shown = false;
    while (!wake_.wait_for(lock, std::chrono::milliseconds(shown ? 500 : 1000),
                           [this] { return done_; })) {
      auto seconds =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
              .count();
      std::fprintf(stderr, "\r%s ... %llds", label_.c_str(), static_cast<long long>(seconds));
      std::fflush(stderr);
      shown = true;
    }
    if (shown) std::fprintf(stderr, "\r%s ... done\n", label_.c_str());
  }
  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// The message of a status from the object manager (which keeps it).
std::string messageOf(const CMPIStatus &status) {
  const char *text = status.msg != nullptr ? CMGetCharPtr(status.msg) : nullptr;
  return text != nullptr && *text != '\0' ? text : agent::statusName(status.rc);
}

void check(const CMPIStatus &status) {
  if (status.rc != CMPI_RC_OK) throw CimError(status.rc, messageOf(status));
}

// A null-terminated property list from the option's names (none: every property).
struct PropertyList {
  explicit PropertyList(const std::vector<std::string> &names) : names_(names) {
    for (const auto &n : names_) pointers_.push_back(n.c_str());
    pointers_.push_back(nullptr);
  }
  const char **get() { return names_.empty() ? nullptr : pointers_.data(); }

 private:
  std::vector<std::string> names_;
  std::vector<const char *> pointers_;
};

// Everything an enumeration gave, in order.
std::vector<CMPIData> drain(CMPIEnumeration *enumeration) {
  std::vector<CMPIData> out;
  while (enumeration != nullptr && CMHasNext(enumeration, nullptr)) {
    out.push_back(CMGetNext(enumeration, nullptr));
  }
  return out;
}

// The named properties of each instance, as table rows.
std::vector<std::vector<std::string>> rowsOf(const std::vector<CMPIData> &items,
                                             const std::vector<std::string> &columns) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(items.size());
  for (const auto &d : items) {
    std::vector<std::string> row;
    row.reserve(columns.size());
    for (const auto &c : columns) row.push_back(agent::propertyText(d.value.inst, c.c_str()));
    rows.push_back(std::move(row));
  }
  return rows;
}

// What the providers logged and traced since the last call, on the error stream.
class Diagnostics {
 public:
  explicit Diagnostics(cimom::ObjectManager &om) : om_(om) {}
  void show() {
    auto logs = om_.logs();
    for (; logs_ < logs.size(); ++logs_) {
      const auto &l = logs[logs_];
      std::fprintf(stderr, "log %d %s: %s%s\n", l.severity, l.id.c_str(), l.text.c_str(),
                   l.cmpiText.c_str());
    }
    auto traces = om_.traces();
    for (; traces_ < traces.size(); ++traces_) {
      const auto &t = traces[traces_];
      std::fprintf(stderr, "trace %d %s: %s%s\n", t.level, t.component.c_str(), t.text.c_str(),
                   t.cmpiText.c_str());
    }
  }

 private:
  cimom::ObjectManager &om_;
  size_t logs_ = 0;
  size_t traces_ = 0;
};

class Commands {
 public:
  Commands(agent::Host &host, const Settings &settings)
      : host_(host), settings_(settings), broker_(host.broker()), ctx_(host.context()) {}

  // A namespace that no provider serves is none the agent knows.
  void checkNamespace(const std::string &nameSpace) {
    for (const agent::Registration &r : host_.registrations())
      for (const std::string &ns : r.namespaces)
        if (strCompare(ns.c_str(), nameSpace.c_str()) == 0) return;
    throw CimError(CMPI_RC_ERR_INVALID_NAMESPACE, "no namespace " + nameSpace);
  }

  CMPIObjectPath *classPath(const std::string &className) {
    checkNamespace(settings_.nameSpace);
    std::string name = agent::checkedClass(host_.classes(), className);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    CMPIObjectPath *path =
        CMNewObjectPath(broker_, settings_.nameSpace.c_str(), name.c_str(), &status);
    check(status);
    return path;
  }
  CMPIObjectPath *instancePath(const std::string &text) {
    Held<CMPIObjectPath> path(
        agent::parsePath(broker_, host_.classes(), text, settings_.nameSpace, true));
    CMPIString *ns = CMGetNameSpace(path.get(), nullptr);
    checkNamespace(ns != nullptr && CMGetCharPtr(ns) != nullptr ? CMGetCharPtr(ns) : "");
    CMPIObjectPath *out = path.object;
    path.object = nullptr;
    return out;
  }

  void printInstances(const std::vector<CMPIData> &items, const std::vector<std::string> &columns) {
    if (settings_.json) {
      json out = json::array();
      for (const auto &d : items) out.push_back(agent::instanceJson(d.value.inst));
      std::cout << out.dump(2) << "\n";
      return;
    }
    if (!columns.empty()) {
      std::cout << agent::table(columns, rowsOf(items, columns));
      return;
    }
    bool first = true;
    for (const auto &d : items) {
      std::cout << (first ? "" : "\n") << agent::instanceBlock(d.value.inst);
      first = false;
    }
  }
  // One broker call under a progress line, its answer into `into`; a failure it
  // reports is thrown (`into` releases what came back).
  template <typename T, typename Call>
  void ask(Held<T> &into, const std::string &what, Call &&call) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    {
      Progress progress(what, !settings_.quiet);
      into.object = call(&status);
    }
    check(status);
  }

  // An association walk's answer: paths when only names were asked for.
  void printFound(const std::vector<CMPIData> &items, bool names) {
    if (names) {
      printPaths(items);
    } else {
      printInstances(items, {});
    }
  }

  void printPaths(const std::vector<CMPIData> &items) {
    if (settings_.json) {
      json out = json::array();
      for (const auto &d : items) out.push_back(agent::pathJson(d.value.ref));
      std::cout << out.dump(2) << "\n";
      return;
    }
    for (const auto &d : items) std::cout << agent::pathText(d.value.ref) << "\n";
  }

  void enumerate(const std::string &className, const std::vector<std::string> &properties,
                 const std::vector<std::string> &columns) {
    Held<CMPIObjectPath> path(classPath(className));
    PropertyList list(properties);
    Held<CMPIEnumeration> found;
    ask(found, "enumerating " + className, [&](CMPIStatus *status) {
      return CBEnumInstances(broker_, ctx_, path.get(), list.get(), status);
    });
    printInstances(drain(found.get()), columns);
  }

  void names(const std::string &className) {
    Held<CMPIObjectPath> path(classPath(className));
    Held<CMPIEnumeration> found;
    ask(found, "enumerating names of " + className,
        [&](CMPIStatus *status) { return CBEnumInstanceNames(broker_, ctx_, path.get(), status); });
    printPaths(drain(found.get()));
  }

  void get(const std::string &text, const std::vector<std::string> &properties) {
    Held<CMPIObjectPath> path(instancePath(text));
    PropertyList list(properties);
    Held<CMPIInstance> found;
    ask(found, "getting " + text, [&](CMPIStatus *status) {
      return CBGetInstance(broker_, ctx_, path.get(), list.get(), status);
    });
    if (settings_.json) {
      std::cout << agent::instanceJson(found.get()).dump(2) << "\n";
    } else {
      std::cout << agent::instanceBlock(found.get());
    }
  }

  struct AssocFilters {
    std::string assocClass, resultClass, role, resultRole;
    bool names = false;
    std::vector<std::string> properties;
  };
  static const char *orNull(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }
  void checkFilterClass(const std::string &name) {
    if (!name.empty()) agent::checkedClass(host_.classes(), name);
  }

  void associators(const std::string &text, const AssocFilters &f) {
    Held<CMPIObjectPath> path(instancePath(text));
    checkFilterClass(f.assocClass);
    checkFilterClass(f.resultClass);
    PropertyList list(f.properties);
    Held<CMPIEnumeration> found;
    ask(found, "following associations of " + text, [&](CMPIStatus *status) {
      return f.names ? CBAssociatorNames(broker_, ctx_, path.get(), orNull(f.assocClass),
                                         orNull(f.resultClass), orNull(f.role),
                                         orNull(f.resultRole), status)
                     : CBAssociators(broker_, ctx_, path.get(), orNull(f.assocClass),
                                     orNull(f.resultClass), orNull(f.role), orNull(f.resultRole),
                                     list.get(), status);
    });
    printFound(drain(found.get()), f.names);
  }

  void references(const std::string &text, const AssocFilters &f) {
    Held<CMPIObjectPath> path(instancePath(text));
    checkFilterClass(f.resultClass);
    PropertyList list(f.properties);
    Held<CMPIEnumeration> found;
    ask(found, "following references of " + text, [&](CMPIStatus *status) {
      return f.names ? CBReferenceNames(broker_, ctx_, path.get(), orNull(f.resultClass),
                                        orNull(f.role), status)
                     : CBReferences(broker_, ctx_, path.get(), orNull(f.resultClass),
                                    orNull(f.role), list.get(), status);
    });
    printFound(drain(found.get()), f.names);
  }

  void invoke(const std::string &text, const std::string &method,
              const std::vector<std::string> &arguments) {
    Held<CMPIObjectPath> path(instancePath(text));
    std::string className =
        agent::checkedClass(host_.classes(), CMGetCharPtr(CMGetClassName(path.get(), nullptr)));
    Held<CMPIArgs> in(
        agent::parseArguments(broker_, host_.classes(), className, method, arguments));
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Held<CMPIArgs> out(CMNewArgs(broker_, &status));
    check(status);
    CMPIData returned;
    {
      Progress progress("invoking " + method, !settings_.quiet);
      returned =
          CBInvokeMethod(broker_, ctx_, path.get(), method.c_str(), in.get(), out.get(), &status);
    }
    check(status);
    json outJson = json::object();
    std::vector<std::pair<std::string, std::string>> outText;
    CMPICount count = CMGetArgCount(out.get(), nullptr);
    for (CMPICount i = 0; i < count; ++i) {
      CMPIString *name = nullptr;
      CMPIData data = CMGetArgAt(out.get(), i, &name, nullptr);
      std::string n = name != nullptr && CMGetCharPtr(name) != nullptr ? CMGetCharPtr(name) : "";
      outJson[n] = agent::valueJson(data);
      outText.emplace_back(n, agent::valueText(data));
    }
    if (settings_.json) {
      std::cout << json{{"returnValue", agent::valueJson(returned)}, {"out", outJson}}.dump(2)
                << "\n";
      return;
    }
    std::cout << method << " returned " << agent::valueText(returned) << "\n";
    for (const auto &[n, v] : outText) std::cout << "    " << n << " = " << v << ";\n";
  }

  // Indications of the class (or a subclass) as the object manager delivers them, until
  // interrupted, `count` have come, or `seconds` have passed (0: no limit).
  int watch(const std::string &className, int count, int seconds) {
    std::string name = agent::checkedClass(host_.classes(), className);
    struct Active {
      CMPIIndicationMI *mi;
      CMPISelectExp *filter;
      CMPIObjectPath *path;
      std::string filterClass;
    };
    std::vector<Active> active;
    std::vector<void *> libraries;
    auto stopAll = [&] {
      for (Active &a : active) {
        CMPIStatus st =
            a.mi->ft->deActivateFilter(a.mi, ctx_, a.filter, a.filterClass.c_str(), a.path, 1);
        (void)st;
        if (a.mi->ft->disableIndications != nullptr) a.mi->ft->disableIndications(a.mi, ctx_);
        CMRelease(a.filter);
        CMRelease(a.path);
      }
      active.clear();
      for (void *library : libraries) pk::platform::libraryClose(library);
      libraries.clear();
    };
    for (const agent::Registration &r : host_.registrations()) {
      if (!r.serves("indication")) continue;
      const auto &classes = host_.classes();
      if (!classes.isA(r.className, name) && !classes.isA(name, r.className)) continue;
      // Each provider is asked for what it serves: the class it is registered for when that
      // is narrower than the one watched.
      std::string filterClass = classes.isA(r.className, name) ? r.className : name;
      std::string query = "SELECT * FROM " + filterClass;
      // The object manager made the MI when it loaded the provider; its factory gives
      // the same MI again.
      void *library = pk::platform::libraryOpen(host_.libraryFile(r).c_str());
      if (library != nullptr) libraries.push_back(library);
      void *factory =
          library != nullptr
              ? pk::platform::librarySymbol(library, (r.provider + "_Create_IndicationMI").c_str())
              : nullptr;
      if (factory == nullptr) continue;
      using Factory = CMPIIndicationMI *(*)(const CMPIBroker *, const CMPIContext *, CMPIStatus *);
      CMPIStatus status{CMPI_RC_OK, nullptr};
      CMPIIndicationMI *mi = reinterpret_cast<Factory>(factory)(broker_, ctx_, &status);
      if (mi == nullptr) continue;
      CMPISelectExp *filter = CMNewSelectExp(broker_, query.c_str(), "WQL", nullptr, &status);
      CMPIObjectPath *path =
          CMNewObjectPath(broker_, settings_.nameSpace.c_str(), filterClass.c_str(), &status);
      if (filter == nullptr || path == nullptr) {
        if (filter != nullptr) CMRelease(filter);
        if (path != nullptr) CMRelease(path);
        stopAll();
        throw CimError(CMPI_RC_ERR_FAILED, "cannot make the indication filter");
      }
      active.push_back({mi, filter, path, filterClass});
      status = mi->ft->activateFilter(mi, ctx_, filter, filterClass.c_str(), path, 1);
      if (status.rc != CMPI_RC_OK) {
        CimError failed(status.rc, messageOf(status));
        stopAll();
        throw failed;
      }
      if (mi->ft->enableIndications != nullptr) mi->ft->enableIndications(mi, ctx_);
    }
    if (active.empty())
      throw CimError(CMPI_RC_ERR_NOT_SUPPORTED, "no indication provider serves " + name);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    if (!settings_.json && !settings_.quiet)
      std::fprintf(stderr, "watching %s (interrupt to stop)\n", name.c_str());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    size_t seen = 0;
    int shown = 0;
    auto &om = host_.objectManager();
    Diagnostics diagnostics(om);
    while (!interrupted && (count <= 0 || shown < count) &&
           (seconds <= 0 || std::chrono::steady_clock::now() < deadline)) {
      auto records = om.indications();
      for (; seen < records.size() && (count <= 0 || shown < count); ++seen) {
        const auto &r = records[seen];
        if (!host_.classes().isA(r.className, name)) continue;
        if (settings_.json) {
          std::cout << json{{"namespace", r.nameSpace},
                            {"class", r.className},
                            {"indication", r.text}}
                           .dump()
                    << std::endl;
        } else {
          std::cout << r.className << " in " << r.nameSpace << ": " << r.text << std::endl;
        }
        ++shown;
      }
      if (count > 0 && shown >= count) break;
      if (settings_.verbose) diagnostics.show();
      pk::platform::sleepMillis(100);
    }
    stopAll();
    if (count > 0 && shown < count && !interrupted)
      throw CimError(CMPI_RC_ERR_FAILED, std::to_string(shown) + " of " + std::to_string(count) +
                                             " indications came within " + std::to_string(seconds) +
                                             " s");
    return 0;
  }

  // The agent's view of its filers: a table per kind of element that a provider serves.
  void overview() {
    struct View {
      const char *className;
      const char *title;
      std::vector<std::string> columns;
    };
    // Later providers add their class here.
    const std::vector<View> views = {
        {"KELVA_StorageSystem",
         "Storage systems",
         {"Name", "ElementName", "Model", "SerialNumber", "OperationalStatus"}},
        {"KELVA_ConcretePool",
         "Pools",
         {"InstanceID", "ElementName", "TotalManagedSpace", "RemainingManagedSpace"}},
        {"KELVA_StorageVolume",
         "Volumes",
         {"SystemName", "DeviceID", "ElementName", "BlockSize", "NumberOfBlocks", "EnabledState"}},
        {"KELVA_ProtocolController",
         "Protocol controllers",
         {"SystemName", "DeviceID", "ElementName"}},
        {"KELVA_StorageHardwareID", "Initiators", {"InstanceID", "StorageID", "IDType", "OSType"}},
        {"KELVA_CIFSShare", "Shares", {"SystemName", "ElementName", "Path"}},
        {"KELVA_NFSShare",
         "Exports",
         {"SystemName", "Path", "Anon", "RootAccessHosts", "SecurityFlavors"}},
        {"KELVA_FSQuotaConfigEntry",
         "Quota entries",
         {"InstanceID", "ElementName", "HardLimit", "DiskUsed"}},
    };
    json out = json::object();
    std::vector<std::string> unserved;
    bool first = true;
    for (const View &v : views) {
      const auto &classes = host_.classes();
      bool served =
          classes.find(v.className) != nullptr &&
          std::any_of(host_.registrations().begin(), host_.registrations().end(),
                      [&](const agent::Registration &r) {
                        return r.serves("instance") && classes.isA(r.className, v.className);
                      });
      if (!served) {
        unserved.emplace_back(v.title);
        continue;
      }
      Held<CMPIObjectPath> path(classPath(v.className));
      Held<CMPIEnumeration> found;
      ask(found, std::string("reading ") + v.title, [&](CMPIStatus *status) {
        return CBEnumInstances(broker_, ctx_, path.get(), nullptr, status);
      });
      auto items = drain(found.get());
      if (settings_.json) {
        json list = json::array();
        for (const auto &d : items) list.push_back(agent::instanceJson(d.value.inst));
        out[v.className] = list;
        continue;
      }
      std::cout << (first ? "" : "\n") << v.title << " (" << items.size() << ")\n";
      first = false;
      std::cout << agent::table(v.columns, rowsOf(items, v.columns));
    }
    if (settings_.json) {
      std::cout << out.dump(2) << "\n";
    } else if (!unserved.empty()) {
      std::string list;
      for (const auto &u : unserved) list += (list.empty() ? "" : ", ") + u;
      std::cout << "\nNo provider yet for: " << list << "\n";
    }
  }

  // ---- the registry --------------------------------------------------------------
  void listFilers() {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    WSIList *filers = getFilerList(broker_, &status);
    std::string why = status.msg != nullptr ? CMGetCharPtr(status.msg) : "";
    if (status.msg != nullptr) CMRelease(status.msg);
    if (filers == nullptr) throw CimError(status.rc, why);
    json out = json::array();
    std::vector<std::vector<std::string>> rows;
    for (WSIListPos *p = WSIList_getFirst(filers); p != nullptr; p = WSIList_getNext(p)) {
      const Filer *f = static_cast<const Filer *>(WSIList_getElement(p));
      auto text = [](const char *s) { return std::string(s != nullptr ? s : ""); };
      std::string transport = f->connParam1 == WSI_TRANSPORT_HTTPS            ? "https"
                              : f->connParam1 == WSI_TRANSPORT_HTTPS_NOVERIFY ? "https-noverify"
                                                                              : "http";
      out.push_back({{"systemId", text(f->systemId)},
                     {"host", text(f->host)},
                     {"port", f->connParam2},
                     {"transport", transport},
                     {"user", text(f->userName)}});
      rows.push_back({text(f->systemId), text(f->host),
                      f->connParam2 != 0 ? std::to_string(f->connParam2) : "-", transport,
                      text(f->userName)});
    }
    freeFilers(filers);
    if (settings_.json) {
      std::cout << out.dump(2) << "\n";
    } else {
      std::cout << agent::table({"SYSTEM ID", "HOST", "PORT", "TRANSPORT", "USER"}, rows);
    }
  }

  void removeFiler(const std::string &systemId) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Filer *known = filerExists(broker_, &status, systemId.c_str());
    if (status.msg != nullptr) CMRelease(status.msg);
    status = {CMPI_RC_OK, nullptr};
    if (known == nullptr)
      throw CimError(CMPI_RC_ERR_NOT_FOUND, "no filer " + systemId + " in the registry");
    removeFilerFromList(broker_, &status, known);
    freeFiler(known);
    std::string why = status.msg != nullptr ? CMGetCharPtr(status.msg) : "";
    if (status.msg != nullptr) CMRelease(status.msg);
    if (status.rc != CMPI_RC_OK) throw CimError(status.rc, why);
    if (settings_.json) {
      std::cout << json{{"removed", systemId}}.dump(2) << "\n";
    } else {
      std::cout << "removed " << systemId << "\n";
    }
  }

 private:
  agent::Host &host_;
  const Settings &settings_;
  const CMPIBroker *broker_;
  const CMPIContext *ctx_;
};

void printError(const Settings &settings, int code, const std::string &message) {
  std::fprintf(stderr, "provkit-agent: %s (%d): %s\n", agent::statusName(code).c_str(), code,
               message.c_str());
  if (settings.json) {
    std::cout << json{{"error",
                       {{"code", code}, {"name", agent::statusName(code)}, {"message", message}}}}
                     .dump(2)
              << "\n";
  }
}

int run(int argc, char **argv) {
  Settings settings;
  settings.host.scenario = PROVKIT_AGENT_SCENARIO;
  settings.host.registrations = {PROVKIT_AGENT_REGISTRATIONS};
  settings.host.libraryDirs = {PROVKIT_AGENT_PROVIDER_DIR, PROVKIT_AGENT_IMPLIB_DIR};
  // The implementation libraries that the providers load, as the build lists them.
  std::string implementations = PROVKIT_AGENT_IMPLIBS;
  for (size_t start = 0; start < implementations.size();) {
    size_t end = implementations.find(',', start);
    if (end == std::string::npos) end = implementations.size();
    if (end > start)
      settings.host.implementations.push_back(implementations.substr(start, end - start));
    start = end + 1;
  }

  CLI::App app{
      "The KELVA agent's providers in an embedded object manager, and CIM operations "
      "on the filers they serve.\nBy default the filers are the simulated filers of the "
      "default scenario, in process.",
      "provkit-agent"};
  app.footer(
      "Exit codes: 0 done, 1 the agent could not start, 2 usage error, 10 + the CIM status "
      "code of a failed operation (15 invalid class, 16 not found, 14 invalid parameter).");
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--json", settings.json, "write JSON for scripts");
  app.add_flag("-q,--quiet", settings.quiet, "no progress lines on the error stream");
  app.add_flag("-v,--verbose", settings.verbose,
               "also show what the providers log and trace, on the error stream");
  app.add_option("-n,--namespace", settings.nameSpace, "namespace of class names and paths")
      ->capture_default_str();
  app.add_option("--data-dir", settings.host.dataDir,
                 "the filer registry's directory (default: a temporary one for this command, "
                 "holding the embedded filers)");
  app.add_option("--scenario", settings.host.scenario, "scenario of the embedded simulated filers")
      ->check(CLI::ExistingFile)
      ->capture_default_str();
  app.add_option("--filer", settings.filerTexts,
                 "talk to this filer over HTTP(S) (host[:port]; repeatable) instead of the "
                 "embedded ones");
  app.add_option("--user", settings.host.user, "user name for --filer and filers add")
      ->capture_default_str();
  app.add_option("--password", settings.host.password, "password for --filer and filers add");
  app.add_option("--system-id", settings.systemId,
                 "system id of the filer given (default: asked from the filer)");
  app.add_flag("--https", settings.https, "reach --filer over HTTPS, verifying its certificate");
  app.add_flag("--insecure", settings.insecure, "reach --filer over HTTPS without verification");
  bool noEmbedded = false;
  app.add_flag("--no-embedded", noEmbedded, "do not bring up the embedded simulated filers");
  app.add_option("--registrations", settings.moreRegistrations,
                 "more provider registration files (sfcb-style .reg) besides the agent's")
      ->check(CLI::ExistingFile);
  app.add_option("--provider-dir", settings.moreDirs,
                 "more directories where provider and implementation libraries are found");
  app.add_option("--classes", settings.host.classFile, "class MOF (default: the agent's)")
      ->check(CLI::ExistingFile);
  app.add_option("--cmpi-level", settings.host.cmpiLevel,
                 "CMPI level the object manager presents (200 or 100)")
      ->check(CLI::IsMember({100, 200}))
      ->capture_default_str();

  std::string className, path, method, systemId, address;
  std::vector<std::string> properties, columns, arguments;
  Commands::AssocFilters filters;
  int count = 0, seconds = 0;

  auto *enumerate = app.add_subcommand("enumerate", "instances of a class (and its subclasses)");
  enumerate->add_option("CLASS", className, "class name")->required();
  enumerate->add_option("-p,--properties", properties, "only these properties")->delimiter(',');
  enumerate->add_option("--table", columns, "a table of these properties instead of blocks")
      ->delimiter(',');
  auto *names = app.add_subcommand("names", "object paths of the instances of a class");
  names->add_option("CLASS", className, "class name")->required();
  auto *get = app.add_subcommand("get", "one instance");
  get->add_option("PATH", path,
                  "object path, e.g. KELVA_StorageSystem.CreationClassName="
                  "\"KELVA_StorageSystem\",Name=\"KELVA:0118054321\"")
      ->required();
  get->add_option("-p,--properties", properties, "only these properties")->delimiter(',');
  auto *associators = app.add_subcommand("associators", "instances associated with an instance");
  associators->add_option("PATH", path, "object path of the source instance")->required();
  associators->add_option("--assoc-class", filters.assocClass, "only through this association");
  associators->add_option("--result-class", filters.resultClass, "only results of this class");
  associators->add_option("--role", filters.role, "the source's role in the association");
  associators->add_option("--result-role", filters.resultRole, "the result's role");
  associators->add_flag("--names", filters.names, "object paths instead of instances");
  associators->add_option("-p,--properties", filters.properties, "only these properties")
      ->delimiter(',');
  auto *references = app.add_subcommand("references", "association instances naming an instance");
  references->add_option("PATH", path, "object path of the source instance")->required();
  references->add_option("--result-class", filters.resultClass, "only this association class");
  references->add_option("--role", filters.role, "the source's role in the association");
  references->add_flag("--names", filters.names, "object paths instead of instances");
  references->add_option("-p,--properties", filters.properties, "only these properties")
      ->delimiter(',');
  auto *invoke = app.add_subcommand("invoke", "invoke a method of an instance");
  invoke->add_option("PATH", path, "object path of the instance")->required();
  invoke->add_option("METHOD", method, "method name")->required();
  invoke->add_option("ARGS", arguments, "input arguments as name=value");
  auto *watch =
      app.add_subcommand("watch", "indications of a class as they come, until interrupted");
  watch->add_option("CLASS", className, "indication class, e.g. CIM_InstModification")->required();
  watch->add_option("--count", count, "stop after this many indications");
  watch->add_option("--timeout", seconds, "stop after this many seconds");
  auto *overview = app.add_subcommand("overview", "the agent's view: a table per kind of element");
  auto *filers = app.add_subcommand("filers", "the filer registry");
  filers->require_subcommand(1);
  auto *filersAdd = filers->add_subcommand("add", "register a filer reached over HTTP(S)");
  filersAdd->add_option("HOST", address, "host[:port]")->required();
  auto *filersRemove = filers->add_subcommand("remove", "unregister a filer");
  filersRemove->add_option("SYSTEMID", systemId, "its system id")->required();
  auto *filersList = filers->add_subcommand("list", "the registered filers");
  agent::ServeOptions serveOptions;
  auto *serve =
      app.add_subcommand("serve", "answer CIM-XML clients over HTTP(S) until interrupted");
  serve->add_option("--port", serveOptions.port, "port to listen on (0: any free one)")
      ->capture_default_str();
  serve->add_option("--address", serveOptions.address, "address to listen on")
      ->capture_default_str();
  serve->add_option("--cert", serveOptions.certFile, "serve HTTPS with this certificate (PEM)")
      ->check(CLI::ExistingFile);
  serve->add_option("--key", serveOptions.keyFile, "the certificate's private key (PEM)")
      ->check(CLI::ExistingFile);
  serve->add_option("--auth-user", serveOptions.user, "the user that clients log in as");
  serve->add_option("--auth-password", serveOptions.password, "that user's password");
  serve
      ->add_option("--auth-password-file", serveOptions.passwordFile,
                   "a file whose first line is that user's password")
      ->check(CLI::ExistingFile);
  serve->add_flag("--allow-anonymous", serveOptions.allowAnonymous,
                  "let clients in without logging in");
  serve
      ->add_option("--max-request-bytes", serveOptions.maxRequestBytes,
                   "larger requests get an error")
      ->capture_default_str();
  serve
      ->add_option("--max-concurrent", serveOptions.maxConcurrent,
                   "requests worked on at once; more wait their turn")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  // Given directories are searched first; given registrations load after the agent's.
  settings.host.libraryDirs.insert(settings.host.libraryDirs.begin(), settings.moreDirs.begin(),
                                   settings.moreDirs.end());
  settings.host.registrations.insert(settings.host.registrations.end(),
                                     settings.moreRegistrations.begin(),
                                     settings.moreRegistrations.end());
  try {
    settings.host.transport = settings.insecure ? WSI_TRANSPORT_HTTPS_NOVERIFY
                              : settings.https  ? WSI_TRANSPORT_HTTPS
                                                : WSI_TRANSPORT_HTTP;
    for (const std::string &text : settings.filerTexts) {
      agent::RemoteFiler filer = agent::parseFilerAddress(text);
      filer.systemId = settings.filerTexts.size() == 1 ? settings.systemId : "";
      settings.host.filers.push_back(filer);
    }
    settings.host.embedded = !noEmbedded && settings.host.filers.empty();
    if (filersAdd->parsed()) {
      agent::RemoteFiler filer = agent::parseFilerAddress(address);
      filer.systemId = settings.systemId;
      settings.host.filers.push_back(filer);
    }
  } catch (const CimError &e) {
    printError(settings, e.code, e.what());
    return kExitUsage;
  }

  // Never destroyed: provkit keeps the object manager's broker for the life of the process.
  static std::unique_ptr<agent::Host> host;
  try {
    // Registering filers reaches them, which may take a while.
    Progress progress("loading the providers and reaching the filers", !settings.quiet);
    host = std::make_unique<agent::Host>(settings.host);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "provkit-agent: %s\n", e.what());
    if (settings.json) std::cout << json{{"error", {{"message", e.what()}}}}.dump(2) << "\n";
    return kExitStart;
  }

  int code = 0;
  try {
    Commands commands(*host, settings);
    if (enumerate->parsed()) {
      commands.enumerate(className, properties, columns);
    } else if (names->parsed()) {
      commands.names(className);
    } else if (get->parsed()) {
      commands.get(path, properties);
    } else if (associators->parsed()) {
      commands.associators(path, filters);
    } else if (references->parsed()) {
      commands.references(path, filters);
    } else if (invoke->parsed()) {
      commands.invoke(path, method, arguments);
    } else if (watch->parsed()) {
      code = commands.watch(className, count, seconds);
    } else if (overview->parsed()) {
      commands.overview();
    } else if (serve->parsed()) {
      code = agent::serve(*host, serveOptions);
    } else if (filersList->parsed()) {
      commands.listFilers();
    } else if (filersRemove->parsed()) {
      commands.removeFiler(systemId);
    } else if (filersAdd->parsed()) {
      // The filer was registered while the host came up.
      if (settings.json) {
        std::cout << json{{"added", address}}.dump(2) << "\n";
      } else {
        std::cout << "registered " << address << "\n";
      }
    }
    if ((filersAdd->parsed() || filersRemove->parsed()) && settings.host.dataDir.empty() &&
        !settings.json)
      std::fprintf(stderr, "note: without --data-dir the registry lasts for this command only\n");
  } catch (const CimError &e) {
    printError(settings, e.code, e.what());
    code = kExitCimBase + e.code;
  }
  if (settings.verbose) Diagnostics(host->objectManager()).show();
  std::cout.flush();
  host->finish();
  return code;
}

}  // namespace

namespace {

// With PROVKIT_AGENT_FAST_CLOCK set (tests only), the controller library's clock is a manual one
// that jumps to the next waiter's time as soon as every sleeper waits on it: polls a minute apart
// then follow each other at once, while everything else runs as in the field.
void startFastClockIfAsked() {
  if (pk::platform::getEnv("PROVKIT_AGENT_FAST_CLOCK").empty()) return;
  wsiTestClockSet(static_cast<int64_t>(std::time(nullptr)));
  std::thread([] {
    for (;;) {
      pk::platform::sleepMillis(20);
      if (wsiTestClockWaiters() > 0) wsiTestClockAdvance(1);
    }
  }).detach();
}

}  // namespace

int main(int argc, char **argv) {
  int code = 0;
  startFastClockIfAsked();
  try {
    code = run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "provkit-agent: %s\n", e.what());
    code = kExitStart;
  }
  // provkit keeps the broker it was given for the life of the process, so the object
  // manager is never torn down under it: the process ends here.
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}
