// provkit-agent's pieces: the host (the embedded object manager with the providers
// loaded and the filers registered), the reading of object paths, values and provider
// registrations, and the writing of what comes back.  The command line is in main.cpp.
#pragma once

#include <cimom/cimom.h>
#include <cmpidt.h>
#include <cmpift.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace filersim {
class Simulator;
}

namespace agent {

// A failed CIM operation, or a request that cannot become one: the CIM status code
// (CMPI_RC_...) and the message the user sees.
struct CimError : std::runtime_error {
  CimError(int status, const std::string &message) : std::runtime_error(message), code(status) {}
  int code;
};

// The agent cannot start: a scenario, registry, registration or provider it cannot use.
struct StartError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "CIM_ERR_NOT_FOUND" for 6, and so on ("CIM_ERR_<n>" for codes without a name).
std::string statusName(int code);

// Whether two CIM names (of classes, properties, methods, keywords) are the same, case aside.
bool sameName(const std::string &a, const std::string &b);

// The text of a CMPI string; "" for none.
std::string chars(const CMPIString *s);

// Owns a CMPI object the agent made or received: releases it when it goes.
template <typename T>
struct Held {
  T *object = nullptr;
  explicit Held(T *o = nullptr) : object(o) {}
  ~Held() {
    if (object != nullptr) object->ft->release(object);
  }
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  T *get() const { return object; }
};

// ---- Provider registrations --------------------------------------------------------

// One class of an sfcb-style registration file.
struct Registration {
  std::string className;
  std::string provider;
  std::string location;            // the library's name without prefix and suffix
  std::vector<std::string> types;  // instance, association, method, indication ...
  std::vector<std::string> namespaces;
  bool serves(const std::string &type) const;
};

// Reads a registration file; throws StartError naming the file and line of what is wrong.
std::vector<Registration> readRegistrations(const std::string &file);

// ---- The host --------------------------------------------------------------------------

// A filer given on the command line, reached over HTTP(S).
struct RemoteFiler {
  std::string host;      // name or address; [v6] in brackets
  int port = 0;          // 0: the transport's own
  std::string systemId;  // empty: asked from the filer
};

struct HostOptions {
  int cmpiLevel = 200;
  std::string classFile;                     // empty: the agent's class MOF
  std::vector<std::string> registrations;    // registration files
  std::vector<std::string> libraryDirs;      // where providers and their libraries are
  std::vector<std::string> implementations;  // implementation libraries kept at hand
  std::string dataDir;                       // empty: a fresh one, removed at exit
  bool embedded = true;                      // serve the embedded simulated filers
  std::string scenario;                      // their scenario
  std::vector<RemoteFiler> filers;           // --filer
  std::string user = "root";
  std::string password;
  int transport = 0;  // WSI_TRANSPORT_...
  int timeoutSeconds = 30;
};

// Parses "host[:port]" ("[v6]:port" for IPv6); throws CimError(4) when malformed.
RemoteFiler parseFilerAddress(const std::string &text);

class Host {
 public:
  // Brings up everything; throws StartError.
  explicit Host(const HostOptions &options);
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  cimom::ObjectManager &objectManager() { return *om_; }
  const CMPIBroker *broker() { return om_->broker(); }
  const CMPIContext *context() { return om_->context(); }
  const cimom::mof::Repository &classes() const { return om_->classRepository(); }
  const std::vector<Registration> &registrations() const { return registrations_; }
  const std::string &dataDir() const { return dataDir_; }
  filersim::Simulator *simulator() { return simulator_.get(); }
  // The provider library file of a registration, as it was loaded.
  std::string libraryFile(const Registration &registration) const;

  // Releases what the process must not leave behind (a temporary data directory);
  // the rest goes with the process.
  void finish();

 private:
  void start(const HostOptions &options);
  void registerFilers(const HostOptions &options);

  std::string dataDir_;
  bool ownDataDir_ = false;
  std::vector<std::string> libraryDirs_;
  std::unique_ptr<filersim::Simulator> simulator_;
  std::unique_ptr<cimom::ObjectManager> om_;
  std::vector<Registration> registrations_;
  std::vector<void *> implementations_;
};

// ---- Reading what the user types ------------------------------------------------------

// The object manager's and the agent's name for a class, checked against the classes;
// throws CimError(5) for an unknown class.
std::string checkedClass(const cimom::mof::Repository &classes, const std::string &name);

// Reads an object path in the usual text form, [//host/][namespace:]Class[.Key=value,...]:
// string values quoted ("\"" and "\\" escaped; a value without quotes is taken as written),
// numbers and booleans plain, references as quoted paths.  Key names and types come from
// the class.  With wholeKeys every key of the class must be given.  A new path released
// by the caller with CMRelease; throws CimError (4 bad path, 5 unknown class).
CMPIObjectPath *parsePath(const CMPIBroker *broker, const cimom::mof::Repository &classes,
                          const std::string &text, const std::string &defaultNamespace,
                          bool wholeKeys);

// New arguments for a method from "name=value" texts, typed from the method's parameters
// in the class; released by the caller with CMRelease; throws CimError (4 for an unknown
// parameter or a bad value, 17 for a method the class does not have).
CMPIArgs *parseArguments(const CMPIBroker *broker, const cimom::mof::Repository &classes,
                         const std::string &className, const std::string &method,
                         const std::vector<std::string> &assignments);

// ---- Writing what comes back ------------------------------------------------------------

std::string pathText(const CMPIObjectPath *path);
nlohmann::json valueJson(const CMPIData &data);
std::string valueText(const CMPIData &data);
nlohmann::json instanceJson(const CMPIInstance *instance);
nlohmann::json pathJson(const CMPIObjectPath *path);
// An instance as a MOF-like block, with its path as a comment line.
std::string instanceBlock(const CMPIInstance *instance);
// A table with a header line and columns as wide as their widest cell.
std::string table(const std::vector<std::string> &header,
                  const std::vector<std::vector<std::string>> &rows);
// The value of a property of the instance as text, "" when null or absent.
std::string propertyText(const CMPIInstance *instance, const char *name);

}  // namespace agent
