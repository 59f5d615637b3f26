// The embedded CIM object manager: a real CMPI broker and real encapsulated
// objects, in process.  It hosts providers for the tests and for the
// command-line host, and lets a test see and steer everything a provider
// does through CMPI: log messages and traces, returned results, delivered
// indications, injected failures and objects left unreleased.
#pragma once

#include <cmpidt.h>
#include <cmpift.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The object manager is a shared library of its own so that a test and the
// provider libraries it loads see one instance.
#include "cimom/mof.h"

namespace cimom {

struct Options {
  // 200 presents the full CMPI 2.0 tables.  100 presents an object manager
  // of the 1.0 level that fills the 2.0 tables only partly: every member that
  // 2.0 added (newCMPIError, getMessage2, openMessageFile, closeMessageFile,
  // returnError, setPropertyWithOrigin, ...) is null and every ftVersion and
  // brokerVersion reads below 200.
  int cmpiVersion = 200;
  // MOF file of the classes (cimom/mof.h), with the files it includes.  Empty:
  // the agent's own, mof/kelva.mof (KELVA_... classes and their CIM_... parents).
  std::string classFile;
  // Directories searched by the broker's resolveFileName and provider loading, in
  // order; a bare name is turned into a platform file name first.
  std::vector<std::string> libraryPath;
  // Where the CMPI standard leaves the object manager a choice, take the one
  // that forgives a provider least (the test fixture turns this on):
  //  - an array element set to an encapsulated object (string, instance,
  //    object path, date-time ...) holds the very object given, not a copy;
  //    the array's release leaves it alone and a read of the element gives
  //    that object back, so its owner releases it once, after the array is
  //    done with it;
  //  - a released object is poisoned, not freed: its memory stays until the
  //    object manager goes, and any later call through its function table,
  //    storing it, or a second release of it is counted in misuses().
  bool strict = false;
};

// One CMLogMessage call.
struct LogRecord {
  int severity;          // 1 error, 2 information, 3 warning, 4 debug
  std::string id;        // message identifier ("" when NULL)
  std::string text;      // the char* text ("" when NULL)
  std::string cmpiText;  // the CMPIString argument ("" when NULL)
  bool hasText;          // the char* text was not NULL
  bool hasCmpiText;      // the CMPIString argument was not NULL
};

// One CMTraceMessage call.
struct TraceRecord {
  int level;
  std::string component;
  std::string text;
  std::string cmpiText;
  bool hasText;
  bool hasCmpiText;
};

// One deliverIndication call.
struct IndicationRecord {
  std::string nameSpace;
  std::string className;
  // The indication instance as canonical text (see instanceText()).
  std::string text;
};

// A failure to inject: the `nth` call (1-based, counted from when the fault
// is set) of the named function fails.  Function names are "<Table>.<member>"
// with the table names Broker, BrokerEnc, BrokerExt, BrokerMem, Context,
// Result, Instance, ObjectPath, Args, String, Array, DateTime, Enumeration,
// SelectExp, Error; for instance "BrokerEnc.newString", "BrokerExt.newMutex",
// "ObjectPath.addKey", "Instance.setProperty", "BrokerEnc.classPathIsA".
struct Fault {
  std::string function;
  unsigned nth = 1;
  // Code put in the CMPIStatus (when the caller passed one); CMPI_RC_OK with
  // nullResult makes the call return null/0 with a good status, as some
  // object managers do.
  CMPIrc rc = CMPI_RC_ERR_FAILED;
  // Pointer results (objects, strings, mutexes) come back null.
  bool nullResult = true;
  // Keep failing every call from the nth on (false: only the nth fails).
  bool sticky = false;
};

// A result that collects what a provider returns.
class CIMOM_EXPORT Result {
 public:
  virtual ~Result() = default;
  virtual CMPIResult *cmpi() = 0;
  // Returned instances and object paths as canonical texts, in order.
  virtual std::vector<std::string> instances() const = 0;
  virtual std::vector<std::string> objectPaths() const = 0;
  // Clones of what was returned (owned by the result; released with it).
  virtual std::vector<const CMPIInstance *> instanceObjects() const = 0;
  virtual std::vector<const CMPIObjectPath *> objectPathObjects() const = 0;
  virtual std::vector<CMPIData> data() const = 0;
  // Number of returnDone calls.
  virtual int doneCount() const = 0;
  // returnError calls (2.0), as "<CIM status code>: <message>".
  virtual std::vector<std::string> errors() const = 0;
};

// Ownership as this object manager keeps it:
//  - objects from the broker's factories, clones and the results of up-calls
//    (enumerations, instances, object paths) belong to the caller, who
//    releases them; until then they count in liveObjects();
//  - objects returned by an object's getter (getClassName, getObjectPath,
//    toArray ...) and data read from an object (getProperty, getKey,
//    getElementAt ...) belong to that object and go with it; releasing a
//    getter's result early is allowed, releasing data is a misuse;
//  - status messages made by the object manager, broker toString/getType
//    and getMessage results belong to the object manager;
//  - a CMPIString that a provider puts into a status it returns to the
//    object manager is taken over (released) by it; a status a test receives
//    from a library call directly is the test's to release.
class CIMOM_EXPORT ObjectManager {
 public:
  virtual ~ObjectManager() = default;

  virtual const CMPIBroker *broker() = 0;
  // A context for a provider call (initial namespace "root/kelva").
  virtual const CMPIContext *context() = 0;
  virtual std::unique_ptr<Result> newResult() = 0;

  // ---- what providers did --------------------------------------------------
  virtual std::vector<LogRecord> logs() const = 0;
  virtual std::vector<TraceRecord> traces() const = 0;
  virtual std::vector<IndicationRecord> indications() const = 0;
  // Called with every delivered indication after it is recorded, in the thread that
  // delivers it; the instance is the provider's and valid during the call only.  An
  // empty function removes the sink; setting one waits for the calls under way.
  using IndicationSink =
      std::function<void(const std::string &nameSpace, const CMPIInstance *indication)>;
  virtual void setIndicationSink(IndicationSink sink) = 0;
  // Misuses seen: releasing data owned by another object, or an object the
  // object manager made for a provider call, or a detach without attach.
  virtual std::vector<std::string> misuses() const = 0;
  virtual void clearRecords() = 0;

  // ---- fault injection ---------------------------------------------------------
  virtual void inject(const Fault &fault) = 0;
  virtual void clearFaults() = 0;
  // How often the named function has been called since construction.
  virtual unsigned callCount(const std::string &function) const = 0;

  // ---- leak accounting -------------------------------------------------------
  // Encapsulated objects handed out and not yet released (objects made
  // internally for a provider call and released by the object manager do not
  // count).
  virtual size_t liveObjects() const = 0;
  // One line per live object: its type and canonical text.
  virtual std::vector<std::string> describeLiveObjects() const = 0;

  // ---- providers -----------------------------------------------------------------
  // Loads a provider library (bare name or path) and creates its MIs through
  // <providerName>_Create_<Kind>MI for every kind it exports; up-calls for
  // the class in the namespace are routed to it.  False when the library or
  // no factory could be loaded.
  virtual bool registerProvider(const std::string &nameSpace, const std::string &className,
                                const std::string &library, const std::string &providerName) = 0;

  // ---- classes -------------------------------------------------------------------
  // True when `className` is `parent` or a subclass of it (case-insensitive).
  virtual bool isA(const std::string &className, const std::string &parent) const = 0;
  // The classes as the class file declares them (properties, keys, references ...).
  virtual const mof::Repository &classRepository() const = 0;

  // The CMPI level presented (Options::cmpiVersion).
  virtual int cmpiVersion() const = 0;
};

// A new object manager.  Several may live in one process at once.  Throws
// mof::Error when the class file cannot be read or parsed.
CIMOM_EXPORT std::unique_ptr<ObjectManager> create(const Options &options = {});

// Canonical texts used by Result and the records above:
//   object path: "<namespace>:<Class>.<Key>=\"<value>\",..." keys sorted by
//                name (case-insensitive), host left out;
//   instance:    "instance of <Class> { Prop = value; ... }" properties sorted.
//   values:      strings and date-times quoted ("\"" and "\\" escaped), numbers
//                plain, booleans true/false, references as quoted path texts,
//                embedded instances nested, arrays "{a, b}", null NULL.
CIMOM_EXPORT std::string objectPathText(const CMPIObjectPath *path);
CIMOM_EXPORT std::string instanceText(const CMPIInstance *instance);

// The decimal text of an integer value (uint8 ... sint64); "" for any other type.
CIMOM_EXPORT std::string integerText(const CMPIData &data);

}  // namespace cimom
