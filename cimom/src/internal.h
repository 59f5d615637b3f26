// Internals of the embedded object manager: the object base, the table
// members' identities (for counting and failing them), data ownership and
// the manager itself.
#pragma once

#include <cimom/cimom.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace cimom::detail {

// Every member of every table, as (Table, member).  The order is the order
// of the counters; names are "<Table>.<member>".
#define CIMOM_FUNCTIONS(X)                         \
  X(Broker, prepareAttachThread)                   \
  X(Broker, attachThread)                          \
  X(Broker, detachThread)                          \
  X(Broker, deliverIndication)                     \
  X(Broker, enumerateInstanceNames)                \
  X(Broker, getInstance)                           \
  X(Broker, createInstance)                        \
  X(Broker, modifyInstance)                        \
  X(Broker, deleteInstance)                        \
  X(Broker, execQuery)                             \
  X(Broker, enumerateInstances)                    \
  X(Broker, associators)                           \
  X(Broker, associatorNames)                       \
  X(Broker, references)                            \
  X(Broker, referenceNames)                        \
  X(Broker, invokeMethod)                          \
  X(Broker, setProperty)                           \
  X(Broker, getProperty)                           \
  X(BrokerEnc, newInstance)                        \
  X(BrokerEnc, newObjectPath)                      \
  X(BrokerEnc, newArgs)                            \
  X(BrokerEnc, newString)                          \
  X(BrokerEnc, newArray)                           \
  X(BrokerEnc, newDateTime)                        \
  X(BrokerEnc, newDateTimeFromBinary)              \
  X(BrokerEnc, newDateTimeFromChars)               \
  X(BrokerEnc, newSelectExp)                       \
  X(BrokerEnc, classPathIsA)                       \
  X(BrokerEnc, toString)                           \
  X(BrokerEnc, isOfType)                           \
  X(BrokerEnc, getType)                            \
  X(BrokerEnc, getMessage)                         \
  X(BrokerEnc, logMessage)                         \
  X(BrokerEnc, trace)                              \
  X(BrokerEnc, newCMPIError)                       \
  X(BrokerEnc, openMessageFile)                    \
  X(BrokerEnc, closeMessageFile)                   \
  X(BrokerEnc, getMessage2)                        \
  X(BrokerExt, resolveFileName)                    \
  X(BrokerExt, newThread)                          \
  X(BrokerExt, joinThread)                         \
  X(BrokerExt, exitThread)                         \
  X(BrokerExt, cancelThread)                       \
  X(BrokerExt, threadSleep)                        \
  X(BrokerExt, threadOnce)                         \
  X(BrokerExt, createThreadKey)                    \
  X(BrokerExt, destroyThreadKey)                   \
  X(BrokerExt, getThreadSpecific)                  \
  X(BrokerExt, setThreadSpecific)                  \
  X(BrokerExt, newMutex)                           \
  X(BrokerExt, destroyMutex)                       \
  X(BrokerExt, lockMutex)                          \
  X(BrokerExt, unlockMutex)                        \
  X(BrokerExt, newCondition)                       \
  X(BrokerExt, destroyCondition)                   \
  X(BrokerExt, condWait)                           \
  X(BrokerExt, timedCondWait)                      \
  X(BrokerExt, signalCondition)                    \
  X(BrokerMem, mark)                               \
  X(BrokerMem, release)                            \
  X(BrokerMem, cmpiMalloc)                         \
  X(BrokerMem, cmpiCalloc)                         \
  X(BrokerMem, cmpiRealloc)                        \
  X(BrokerMem, cmpiStrDup)                         \
  X(BrokerMem, cmpiFree)                           \
  X(BrokerMem, freeInstance)                       \
  X(BrokerMem, freeObjectPath)                     \
  X(BrokerMem, freeArgs)                           \
  X(BrokerMem, freeString)                         \
  X(BrokerMem, freeArray)                          \
  X(BrokerMem, freeDateTime)                       \
  X(BrokerMem, freeSelectExp)                      \
  X(Context, release)                              \
  X(Context, clone)                                \
  X(Context, getEntry)                             \
  X(Context, getEntryAt)                           \
  X(Context, getEntryCount)                        \
  X(Context, addEntry)                             \
  X(Result, release)                               \
  X(Result, clone)                                 \
  X(Result, returnData)                            \
  X(Result, returnInstance)                        \
  X(Result, returnObjectPath)                      \
  X(Result, returnDone)                            \
  X(Result, returnError)                           \
  X(Instance, release)                             \
  X(Instance, clone)                               \
  X(Instance, getProperty)                         \
  X(Instance, getPropertyAt)                       \
  X(Instance, getPropertyCount)                    \
  X(Instance, setProperty)                         \
  X(Instance, getObjectPath)                       \
  X(Instance, setPropertyFilter)                   \
  X(Instance, setObjectPath)                       \
  X(Instance, setPropertyWithOrigin)               \
  X(ObjectPath, release)                           \
  X(ObjectPath, clone)                             \
  X(ObjectPath, setNameSpace)                      \
  X(ObjectPath, getNameSpace)                      \
  X(ObjectPath, setHostname)                       \
  X(ObjectPath, getHostname)                       \
  X(ObjectPath, setClassName)                      \
  X(ObjectPath, getClassName)                      \
  X(ObjectPath, addKey)                            \
  X(ObjectPath, getKey)                            \
  X(ObjectPath, getKeyAt)                          \
  X(ObjectPath, getKeyCount)                       \
  X(ObjectPath, setNameSpaceFromObjectPath)        \
  X(ObjectPath, setHostAndNameSpaceFromObjectPath) \
  X(ObjectPath, getClassQualifier)                 \
  X(ObjectPath, getPropertyQualifier)              \
  X(ObjectPath, getMethodQualifier)                \
  X(ObjectPath, getParameterQualifier)             \
  X(ObjectPath, toString)                          \
  X(Args, release)                                 \
  X(Args, clone)                                   \
  X(Args, addArg)                                  \
  X(Args, getArg)                                  \
  X(Args, getArgAt)                                \
  X(Args, getArgCount)                             \
  X(String, release)                               \
  X(String, clone)                                 \
  X(String, getCharPtr)                            \
  X(Array, release)                                \
  X(Array, clone)                                  \
  X(Array, getSize)                                \
  X(Array, getSimpleType)                          \
  X(Array, getElementAt)                           \
  X(Array, setElementAt)                           \
  X(DateTime, release)                             \
  X(DateTime, clone)                               \
  X(DateTime, getBinaryFormat)                     \
  X(DateTime, getStringFormat)                     \
  X(DateTime, isInterval)                          \
  X(Enumeration, release)                          \
  X(Enumeration, clone)                            \
  X(Enumeration, getNext)                          \
  X(Enumeration, hasNext)                          \
  X(Enumeration, toArray)                          \
  X(SelectExp, release)                            \
  X(SelectExp, clone)                              \
  X(SelectExp, evaluate)                           \
  X(SelectExp, getString)                          \
  X(SelectExp, getDOC)                             \
  X(SelectExp, getCOD)                             \
  X(SelectExp, evaluateUsingAccessor)              \
  X(Error, release)                                \
  X(Error, clone)                                  \
  X(Error, getErrorType)                           \
  X(Error, getOtherErrorType)                      \
  X(Error, getOwningEntity)                        \
  X(Error, getMessageID)                           \
  X(Error, getMessage)                             \
  X(Error, getPerceivedSeverity)                   \
  X(Error, getProbableCause)                       \
  X(Error, getProbableCauseDescription)            \
  X(Error, getRecommendedActions)                  \
  X(Error, getErrorSource)                         \
  X(Error, getErrorSourceFormat)                   \
  X(Error, getOtherErrorSourceFormat)              \
  X(Error, getCIMStatusCode)                       \
  X(Error, getCIMStatusCodeDescription)            \
  X(Error, getMessageArguments)                    \
  X(Error, setErrorType)                           \
  X(Error, setOtherErrorType)                      \
  X(Error, setProbableCauseDescription)            \
  X(Error, setRecommendedActions)                  \
  X(Error, setErrorSource)                         \
  X(Error, setErrorSourceFormat)                   \
  X(Error, setOtherErrorSourceFormat)              \
  X(Error, setCIMStatusCodeDescription)            \
  X(Error, setMessageArguments)

enum class Fn : unsigned {
#define CIMOM_FN_ENUM(table, member) table##_##member,
  CIMOM_FUNCTIONS(CIMOM_FN_ENUM)
#undef CIMOM_FN_ENUM
      Count
};
constexpr size_t kFnCount = static_cast<size_t>(Fn::Count);
const char *fnName(Fn fn);
// False when the name is no table member.
bool fnByName(const std::string &name, Fn *fn);

class Manager;
struct Obj;

// How an object is owned, which decides what its release does.
enum class Kind {
  Tracked,   // handed out (factory, clone, up-call result): the holder releases it
  Child,     // made by a getter of another object; freed with that object
  Embedded,  // a value inside another object's data; never released by itself
  Arena,     // owned by the object manager (status texts, broker toString ...)
  Internal,  // made by the object manager for a provider call and freed by it
};

// The CMPI face of an object: the CMPI struct first, so a CMPI pointer can be
// turned back into the shell, then our back pointer and a magic number that
// lets the broker tell its own objects from anything else.
constexpr unsigned kMagic = 0xC1D0B1EC;
// What the magic number becomes when the object is freed, so that a second
// release of it can be told from a foreign pointer (ASan reports it anyway).
constexpr unsigned kReleasedMagic = 0xDEADB1EC;
// What the magic number becomes when a strict object manager releases the
// object: its memory is kept until the object manager goes, so every later
// use or release of it is seen and counted instead of reading freed memory.
constexpr unsigned kPoisonedMagic = 0xBADB1EC5;
template <class C>
struct Shell {
  C c;
  Obj *obj;
  unsigned magic;
};

struct Obj {
  explicit Obj(Manager *manager);
  virtual ~Obj();
  Obj(const Obj &) = delete;
  Obj &operator=(const Obj &) = delete;

  // "CMPIInstance", "CMPIObjectPath", ...
  virtual const char *typeName() const = 0;
  // The canonical text, as objectPathText/instanceText give it.
  virtual std::string text() const = 0;
  // An independent copy with no owner yet.
  virtual Obj *copy() const = 0;
  // The CMPI struct of this object.
  virtual void *face() = 0;

  // The objects this one owns inside its data (key, property, argument,
  // element and entry values), not its children and not borrowed elements.
  virtual void ownedValues(std::vector<Obj *> & /*out*/) const {}

  // Makes `child` a child of this object (freed with it).
  void adopt(Obj *child);
  // Unlinks this child from its parent (an early release).
  void leaveParent();

  Manager *om;
  Kind kind = Kind::Internal;
  Obj *parent = nullptr;
  std::vector<Obj *> children;
  uint64_t seq = 0;
  std::thread::id creator;
  unsigned *magicSlot = nullptr;  // the shell's magic number, marked when freed
};

// The object behind a CMPI pointer of ours, or nullptr.
template <class C>
Obj *objOf(const C *c) {
  if (c == nullptr) return nullptr;
  auto *shell = reinterpret_cast<const Shell<C> *>(c);
  return shell->magic == kMagic ? shell->obj : nullptr;
}

// The released object behind a CMPI pointer that a strict object manager
// poisoned, or nullptr.
template <class C>
Obj *poisonedObj(const C *c) {
  if (c == nullptr) return nullptr;
  auto *shell = reinterpret_cast<const Shell<C> *>(c);
  return shell->magic == kPoisonedMagic ? shell->obj : nullptr;
}

// True when the pointer is a CMPI object of ours that has been freed.
template <class C>
bool released(const C *c) {
  return c != nullptr && reinterpret_cast<const Shell<C> *>(c)->magic == kReleasedMagic;
}

// ---- names and data -------------------------------------------------------
bool sameName(const std::string &a, const char *b);
bool sameName(const std::string &a, const std::string &b);
std::string lowered(const std::string &text);
bool lessName(const std::string &a, const std::string &b);

CMPIData nullData(CMPIType type = CMPI_null, CMPIValueState state = CMPI_nullValue);
// Makes an owned copy of a value given as CMPI passes it (for CMPI_chars the
// value pointer is the text itself): strings are copied, objects cloned, all
// of them Embedded.  False on a type that cannot be stored.
bool ownValue(Manager *om, const CMPIValue *value, CMPIType type, CMPIData *out);
// Deep copy of stored data (objects cloned as Embedded).
CMPIData copyData(Manager *om, const CMPIData &data);
// What a getter hands out for stored data: the same value, with the object
// inside (if any) replaced by a fresh copy that `owner` keeps as a child.  The
// caller may release that copy once; otherwise it goes with the owner.  The
// owner's stored value is never touched.
CMPIData handOut(Obj *owner, const CMPIData &stored);
// Frees the objects inside stored data.
void dropData(CMPIData &data);
// The poisoned (released) object inside a value, or nullptr.
Obj *poisonedIn(const CMPIValue &value, CMPIType type);
// True for the types whose values are encapsulated objects.
bool isObjectType(CMPIType type);
// The value as canonical text: strings quoted, numbers plain, objects nested.
std::string dataText(const CMPIData &data);
const char *typeText(CMPIType type);

// ---- object makers used across files ---------------------------------------
CMPIString *makeString(Manager *om, const std::string &text, Kind kind, Obj *parent = nullptr);
CMPIObjectPath *makeObjectPath(Manager *om, const std::string &ns, const std::string &cls,
                               Kind kind);
CMPIInstance *makeInstance(Manager *om, const CMPIObjectPath *path, Kind kind);
CMPIArgs *makeArgs(Manager *om, Kind kind);
CMPIArray *makeArray(Manager *om, CMPICount size, CMPIType type, Kind kind);
CMPIDateTime *makeDateTime(Manager *om, uint64_t micros, bool interval, int offsetMinutes,
                           Kind kind);
// Parses the 25-character text; nullptr when it is no date-time text.
CMPIDateTime *parseDateTime(Manager *om, const char *text, Kind kind);
CMPIEnumeration *makeEnumeration(Manager *om, std::vector<CMPIData> items, Kind kind);
CMPIContext *makeContext(Manager *om, Kind kind);
CMPISelectExp *makeSelectExp(Manager *om, const std::string &query, const std::string &lang,
                             Kind kind);
CMPIError *makeError(Manager *om, const char *owner, const char *msgId, const char *msg,
                     CMPIErrorSeverity sev, CMPIErrorProbableCause pc, CMPIrc code, Kind kind);
// Clone of any of our objects with the given ownership; nullptr for foreign ones.
Obj *cloneAs(const Obj *source, Kind kind);

// Namespace and class of a path of ours; false for a foreign path.
bool pathParts(const CMPIObjectPath *op, std::string *ns, std::string *cls);
// Namespace and class of an instance of ours; false for a foreign one.
bool instanceParts(const CMPIInstance *inst, std::string *ns, std::string *cls);
// A property of an instance of ours (owned by the instance); false when unset.
bool instanceProperty(const CMPIInstance *inst, const char *name, CMPIData *out);
// A copy of the path naming another class.
CMPIObjectPath *pathWithClass(Manager *om, const CMPIObjectPath *op, const std::string &cls,
                              Kind kind);
// The object inside stored data, or nullptr.
Obj *dataObject(const CMPIData &data);

// Result objects (CMPIResult) that collect what is returned.
struct ResultData {
  std::vector<CMPIData> instances;  // CMPI_instance, Embedded clones
  std::vector<CMPIData> paths;      // CMPI_ref, Embedded clones
  std::vector<CMPIData> data;       // returnData values
  std::vector<std::string> errors;  // returnError: CIM status code and message
  int done = 0;
};
CMPIResult *makeResult(Manager *om, Kind kind);
ResultData *resultData(const CMPIResult *result);

// Context entries of a context object.
std::vector<std::pair<std::string, CMPIData>> *contextEntries(const CMPIContext *ctx);

// ---- the gate every table member passes ------------------------------------
// Counts the call and tells whether an injected fault hits it.
class Gate {
 public:
  Gate(Manager *om, Fn fn);
  bool failed() const { return fail_; }
  bool nullResult() const { return nullResult_; }
  CMPIrc rc() const { return rc_; }
  // For members that return a value and report through a status pointer:
  // on a fault, fills the status and returns true when the result is to be
  // null/zero.
  bool shortCircuit(CMPIStatus *status);
  // On success paths: sets the status to `code` unless a fault already did.
  void finish(CMPIStatus *status, CMPIrc code = CMPI_RC_OK, const std::string &msg = "");
  // The status of a failed status-returning member.
  CMPIStatus faultStatus();

 private:
  Manager *om_;
  Fn fn_;
  bool fail_ = false;
  bool nullResult_ = false;
  CMPIrc rc_ = CMPI_RC_OK;
};

// ---- the manager ------------------------------------------------------------------
struct Tables;

class Manager final : public ObjectManager {
 public:
  explicit Manager(const Options &options);
  ~Manager() override;

  const CMPIBroker *broker() override { return &broker_; }
  const CMPIContext *context() override { return context_; }
  std::unique_ptr<Result> newResult() override;
  std::vector<LogRecord> logs() const override;
  std::vector<TraceRecord> traces() const override;
  std::vector<IndicationRecord> indications() const override;
  void setIndicationSink(IndicationSink sink) override;
  // Hands a delivered indication to the sink, when there is one.
  void sinkIndication(const std::string &nameSpace, const CMPIInstance *indication);
  std::vector<std::string> misuses() const override;
  void clearRecords() override;
  void inject(const Fault &fault) override;
  void clearFaults() override;
  unsigned callCount(const std::string &function) const override;
  size_t liveObjects() const override;
  std::vector<std::string> describeLiveObjects() const override;
  bool registerProvider(const std::string &nameSpace, const std::string &className,
                        const std::string &library, const std::string &providerName) override;
  bool isA(const std::string &className, const std::string &parent) const override;
  const mof::Repository &classRepository() const override;
  int cmpiVersion() const override { return version_; }

  // ---- used by the tables ----
  int version() const { return version_; }
  const Tables &tables() const { return *tables_; }
  const Options &options() const { return options_; }

  // Counts a call; true (and the fault) when a fault hits it.
  bool enter(Fn fn, Fault *hit);

  // Ownership.
  void place(Obj *obj, Kind kind, Obj *parent = nullptr);
  CMPIStatus release(Obj *obj);
  void misuse(const std::string &what);
  // Counts a use (call through its table, storing it) of a released object.
  void usedAfterRelease(const Obj *obj);
  bool strict() const { return options_.strict; }
  CMPIString *arenaString(const std::string &text);
  CMPIStatus status(CMPIrc rc, const std::string &msg = "");
  // Releases tracked objects and memory blocks this thread made after `seq`.
  void releaseSince(uint64_t seq, std::thread::id thread);
  uint64_t currentSeq() const { return seq_.load(); }

  // Memory blocks.
  void *memAlloc(size_t size, bool zero);
  void *memRealloc(void *ptr, size_t size);
  void memFree(void *ptr);

  // Records.
  void recordLog(LogRecord record);
  void recordTrace(TraceRecord record);
  void recordIndication(IndicationRecord record);

  // Attach bookkeeping of prepared contexts.
  CMPIStatus attach(const CMPIContext *ctx);
  CMPIStatus detach(const CMPIContext *ctx);

  // Providers (see providers.cpp).
  struct Provider {
    std::string nameSpace;
    std::string className;
    std::string name;
    void *library = nullptr;
    CMPIInstanceMI *instance = nullptr;
    CMPIAssociationMI *association = nullptr;
    CMPIMethodMI *method = nullptr;
    CMPIPropertyMI *property = nullptr;
    CMPIIndicationMI *indication = nullptr;
  };
  // Providers serving `className` in `ns`: exact class first, else the
  // nearest registered superclass; with `subclasses` also every provider
  // of a subclass (enumerations).
  std::vector<Provider *> providersFor(const std::string &ns, const std::string &className,
                                       bool subclasses) const;
  std::vector<Provider *> associationProviders(const std::string &ns, const char *assocClass) const;

  // Class registry.
  void loadClasses(const std::string &file);

 private:
  Options options_;
  int version_;
  const Tables *tables_;
  CMPIBroker broker_{};
  CMPIContext *context_ = nullptr;

  std::atomic<unsigned> counts_[kFnCount] = {};
  std::atomic<bool> anyFault_{false};
  struct ArmedFault {
    Fault fault;
    Fn fn;
    unsigned base;
  };
  mutable std::mutex faultMutex_;
  std::vector<ArmedFault> faults_;

  mutable std::mutex objMutex_;
  std::unordered_set<Obj *> live_;
  std::unordered_set<Obj *> arena_;
  // Objects a strict object manager released: poisoned, freed with it.
  std::vector<Obj *> graveyard_;
  std::atomic<uint64_t> seq_{0};
  struct Block {
    uint64_t seq;
    std::thread::id thread;
  };
  std::unordered_map<void *, Block> blocks_;

  mutable std::mutex recordMutex_;
  std::vector<LogRecord> logs_;
  std::vector<TraceRecord> traces_;
  std::vector<IndicationRecord> indications_;
  // Held shared while the sink runs, so that replacing it waits for calls under way.
  std::shared_mutex sinkMutex_;
  IndicationSink sink_;
  std::vector<std::string> misuses_;
  std::unordered_map<const CMPIContext *, std::thread::id> attached_;

  mof::Repository repository_;                  // the classes as declared
  std::map<std::string, std::string> classes_;  // lowered name -> lowered parent

  mutable std::mutex providerMutex_;
  std::vector<std::unique_ptr<Provider>> providers_;
  friend void unloadProviders(Manager *om);
};

Manager *managerOf(const CMPIBroker *broker);
// The object manager that the broker-less extension members work for: the
// most recently created one that is still alive.
Manager *currentManager();
void unloadProviders(Manager *om);

// Function tables by CMPI level.
struct Tables {
  const CMPIBrokerFT *broker;
  const CMPIBrokerEncFT *enc;
  const CMPIBrokerExtFT *ext;
  const CMPIBrokerMemFT *mem;
  const CMPIContextFT *context;
  const CMPIResultFT *result;
  const CMPIInstanceFT *instance;
  const CMPIObjectPathFT *objectPath;
  const CMPIArgsFT *args;
  const CMPIStringFT *string;
  const CMPIArrayFT *array;
  const CMPIDateTimeFT *dateTime;
  const CMPIEnumerationFT *enumeration;
  const CMPISelectExpFT *selectExp;
  const CMPIErrorFT *error;
};
const Tables &tables200();
const Tables &tables100();
// Broker tables (broker.cpp).
const CMPIBrokerFT *brokerFT(int version);
const CMPIBrokerEncFT *brokerEncFT(int version);
const CMPIBrokerExtFT *brokerExtFT(int version);
const CMPIBrokerMemFT *brokerMemFT(int version);

// Provider up-calls (providers.cpp), behind the broker's up-call members.
CMPIEnumeration *upEnumerate(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                             const char **properties, bool names, CMPIStatus *rc);
CMPIInstance *upGetInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                            const char **properties, CMPIStatus *rc);
CMPIObjectPath *upCreateInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                                 const CMPIInstance *inst, CMPIStatus *rc);
CMPIStatus upModifyInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                            const CMPIInstance *inst, const char **properties);
CMPIStatus upDeleteInstance(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op);
CMPIEnumeration *upExecQuery(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                             const char *query, const char *lang, CMPIStatus *rc);
// kind: 0 associators, 1 associatorNames, 2 references, 3 referenceNames.
CMPIEnumeration *upAssociations(Manager *om, int kind, const CMPIContext *ctx,
                                const CMPIObjectPath *op, const char *assocClass,
                                const char *resultClass, const char *role, const char *resultRole,
                                const char **properties, CMPIStatus *rc);
CMPIData upInvokeMethod(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                        const char *method, const CMPIArgs *in, CMPIArgs *out, CMPIStatus *rc);
CMPIStatus upSetProperty(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                         const char *name, const CMPIValue *value, CMPIType type);
CMPIData upGetProperty(Manager *om, const CMPIContext *ctx, const CMPIObjectPath *op,
                       const char *name, CMPIStatus *rc);

}  // namespace cimom::detail
