// The host: the embedded object manager with the registered providers, the filer
// registry in its data directory and, unless told otherwise, the simulated filers of
// the default scenario answering in process.
#include <cmpimacs.h>
#include <filersim/filersim.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "agent.h"
#include "platform/platform.h"
#include "provkit/frame.h"
#include "provkit/registry.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace agent {

namespace {

std::string trim(const std::string &text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> words(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// The text of a provkit status's message, releasing it.
std::string take(CMPIStatus &status) {
  std::string text =
      status.msg != nullptr && CMGetCharPtr(status.msg) != nullptr ? CMGetCharPtr(status.msg) : "";
  if (status.msg != nullptr) CMRelease(status.msg);
  status.msg = nullptr;
  return text;
}

// Owns a filer record until the registry takes it.
struct FilerRecord {
  Filer *record = nullptr;
  ~FilerRecord() { freeFiler(record); }
};

Filer *newRecord(const std::string &systemId, const std::string &host, const std::string &user,
                 const std::string &password, int transport, int port, int timeout) {
  Filer wanted{const_cast<char *>(systemId.c_str()),
               const_cast<char *>(host.c_str()),
               const_cast<char *>(user.c_str()),
               const_cast<char *>(password.c_str()),
               transport,
               port,
               timeout};
  return static_cast<Filer *>(copyFiler(&wanted));
}

// Adds the record unless a filer of its system id is registered already.
void addOnce(const CMPIBroker *broker, Filer *made) {
  FilerRecord record{made};
  if (record.record == nullptr) throw StartError("out of memory for a filer record");
  CMPIStatus status{CMPI_RC_OK, nullptr};
  Filer *known = filerExists(broker, &status, record.record->systemId);
  std::string why = take(status);
  if (known != nullptr) {
    freeFiler(known);
    return;
  }
  status = addFilerToList(broker, record.record);
  why = take(status);
  if (status.rc != CMPI_RC_OK) {
    throw StartError("cannot register filer " + std::string(record.record->systemId) + ": " + why);
  }
  record.record = nullptr;  // the registry's now
}

}  // namespace

std::string statusName(int code) {
  static const char *const names[] = {"CIM_ERR_OK",
                                      "CIM_ERR_FAILED",
                                      "CIM_ERR_ACCESS_DENIED",
                                      "CIM_ERR_INVALID_NAMESPACE",
                                      "CIM_ERR_INVALID_PARAMETER",
                                      "CIM_ERR_INVALID_CLASS",
                                      "CIM_ERR_NOT_FOUND",
                                      "CIM_ERR_NOT_SUPPORTED",
                                      "CIM_ERR_CLASS_HAS_CHILDREN",
                                      "CIM_ERR_CLASS_HAS_INSTANCES",
                                      "CIM_ERR_INVALID_SUPERCLASS",
                                      "CIM_ERR_ALREADY_EXISTS",
                                      "CIM_ERR_NO_SUCH_PROPERTY",
                                      "CIM_ERR_TYPE_MISMATCH",
                                      "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED",
                                      "CIM_ERR_INVALID_QUERY",
                                      "CIM_ERR_METHOD_NOT_AVAILABLE",
                                      "CIM_ERR_METHOD_NOT_FOUND"};
  if (code >= 0 && code < static_cast<int>(sizeof names / sizeof names[0])) return names[code];
  return "CIM_ERR_" + std::to_string(code);
}

bool Registration::serves(const std::string &type) const {
  return std::any_of(types.begin(), types.end(),
                     [&](const std::string &t) { return lowered(t) == lowered(type); });
}

std::vector<Registration> readRegistrations(const std::string &file) {
  std::ifstream in(file);
  if (!in) throw StartError("cannot read the provider registrations " + file);
  std::vector<Registration> out;
  int lineNumber = 0;
  auto fail = [&](const std::string &why) {
    throw StartError(file + ":" + std::to_string(lineNumber) + ": " + why);
  };
  auto complete = [&]() {
    if (out.empty()) return;
    const Registration &r = out.back();
    if (r.provider.empty() || r.location.empty() || r.types.empty() || r.namespaces.empty())
      fail("[" + r.className + "] needs provider, location, type and namespace");
  };
  for (std::string line; std::getline(in, line);) {
    ++lineNumber;
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) fail("a section is [ClassName]");
      complete();
      out.push_back({});
      out.back().className = trim(line.substr(1, line.size() - 2));
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos) fail("expected 'name: value'");
    if (out.empty()) fail("an entry before the first [ClassName]");
    std::string name = lowered(trim(line.substr(0, colon)));
    std::string value = trim(line.substr(colon + 1));
    Registration &r = out.back();
    if (name == "provider") {
      r.provider = value;
    } else if (name == "location") {
      r.location = value;
    } else if (name == "type") {
      r.types = words(value);
    } else if (name == "namespace") {
      r.namespaces = words(value);
    }  // other entries (group, unload ...) concern other object managers
  }
  complete();
  return out;
}

RemoteFiler parseFilerAddress(const std::string &text) {
  RemoteFiler filer;
  std::string rest = text;
  if (!rest.empty() && rest.front() == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER, "bad filer address " + text);
    filer.host = rest.substr(0, close + 1);
    rest = rest.substr(close + 1);
  } else {
    size_t colon = rest.find(':');
    filer.host = rest.substr(0, colon);
    rest = colon == std::string::npos ? "" : rest.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || rest.size() == 1 ||
        rest.find_first_not_of("0123456789", 1) != std::string::npos || rest.size() > 6)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER, "bad filer address " + text);
    filer.port = std::stoi(rest.substr(1));
    if (filer.port < 1 || filer.port > 65535)
      throw CimError(CMPI_RC_ERR_INVALID_PARAMETER, "bad port in filer address " + text);
  }
  if (filer.host.empty() || filer.host == "[]")
    throw CimError(CMPI_RC_ERR_INVALID_PARAMETER, "bad filer address " + text);
  return filer;
}

Host::Host(const HostOptions &options) : libraryDirs_(options.libraryDirs) {
  try {
    start(options);
  } catch (...) {
    finish();
    throw;
  }
}

void Host::start(const HostOptions &options) {
  namespace fs = std::filesystem;
  // The registry reads its directory on first use, so it is set before anything runs.
  dataDir_ = options.dataDir;
  if (dataDir_.empty()) {
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 16 && dataDir_.empty(); ++attempt) {
      fs::path candidate =
          fs::temp_directory_path(error) / ("provkit-agent-" + std::to_string(random()));
      if (!error && fs::create_directory(candidate, error) && !error) dataDir_ = candidate.string();
    }
    if (dataDir_.empty()) throw StartError("cannot make a temporary data directory");
    ownDataDir_ = true;
  } else if (!pk::platform::makeDirectories(dataDir_.c_str()) &&
             !pk::platform::isDirectory(dataDir_.c_str())) {
    throw StartError("cannot make the data directory " + dataDir_);
  }
  bool freshRegistry =
      !pk::platform::fileExists(pk::platform::joinPath(dataDir_, "filers.dat").c_str());
  pk::platform::setEnv(WSI_DATA_DIR_ENV, dataDir_.c_str());

  if (options.embedded && !options.scenario.empty()) {
    try {
      simulator_ = filersim::Simulator::fromFile(options.scenario);
    } catch (const std::exception &e) {
      throw StartError(e.what());
    }
    simulator_->registerInProcess();
  }

  cimom::Options omOptions;
  omOptions.cmpiVersion = options.cmpiLevel;
  omOptions.classFile = options.classFile;
  omOptions.libraryPath = options.libraryDirs;
  try {
    om_ = cimom::create(omOptions);
  } catch (const std::exception &e) {
    throw StartError(e.what());
  }
  initProvkit(om_->broker());

  // provkit's loader opens implementation libraries by file name alone; the ones the
  // providers use are opened here first, from the library directories, so that the
  // loader finds them loaded.
  for (const std::string &name : options.implementations) {
    std::string file = pk::platform::libraryFileName(name);
    for (const std::string &dir : libraryDirs_) {
      std::string candidate = pk::platform::joinPath(dir, file);
      if (!pk::platform::fileExists(candidate.c_str())) continue;
      if (void *handle = pk::platform::libraryOpen(candidate.c_str())) {
        implementations_.push_back(handle);
        break;
      }
    }
  }

  for (const std::string &file : options.registrations) {
    for (Registration &r : readRegistrations(file)) {
      for (const std::string &ns : r.namespaces) {
        if (!om_->registerProvider(ns, r.className, r.location, r.provider)) {
          throw StartError("cannot load provider " + r.provider + " (" + r.location + ") for " +
                           r.className + ": " + pk::platform::lastLibraryError());
        }
      }
      registrations_.push_back(std::move(r));
    }
  }

  if (freshRegistry || !options.filers.empty()) registerFilers(options);
}

void Host::registerFilers(const HostOptions &options) {
  const CMPIBroker *b = om_->broker();
  if (options.filers.empty() && simulator_ != nullptr) {
    for (const std::string &name : simulator_->filerNames()) {
      addOnce(b, newRecord(simulator_->systemId(name), simulator_->host(name),
                           simulator_->userName(name), simulator_->password(name),
                           WSI_TRANSPORT_HTTP, 0, options.timeoutSeconds));
    }
  }
  for (const RemoteFiler &remote : options.filers) {
    std::string systemId = remote.systemId;
    if (systemId.empty()) {
      // Ask the filer who it is.
      FilerRecord probe{newRecord("probe", remote.host, options.user, options.password,
                                  options.transport, remote.port, options.timeoutSeconds)};
      KELVAStatus status = KELVA_STATUS_INIT;
      KELVASysInfo *info = getKELVASysInfo(&status, probe.record);
      std::string why = status.message != nullptr ? status.message : "";
      if (info != nullptr && info->online != 0 && info->systemId != nullptr)
        systemId = info->systemId;
      freeKELVASysInfo(info);
      clearKELVAStatus(&status);
      if (systemId.empty()) {
        throw StartError("filer " + remote.host + " does not answer" +
                         (why.empty() ? std::string() : ": " + why));
      }
    }
    addOnce(b, newRecord(systemId, remote.host, options.user, options.password, options.transport,
                         remote.port, options.timeoutSeconds));
  }
}

std::string Host::libraryFile(const Registration &registration) const {
  std::string file = pk::platform::libraryFileName(registration.location);
  for (const std::string &dir : libraryDirs_) {
    std::string candidate = pk::platform::joinPath(dir, file);
    if (pk::platform::fileExists(candidate.c_str())) return candidate;
  }
  return file;
}

void Host::finish() {
  if (ownDataDir_) {
    std::error_code ignored;
    std::filesystem::remove_all(dataDir_, ignored);
    ownDataDir_ = false;
  }
}

Host::~Host() { finish(); }

}  // namespace agent
