// The broker's four tables: up-calls, encapsulation, extensions (threads,
// mutexes, conditions) and memory.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "internal.h"
#include "platform/platform.h"
#include "wbemkelvai/clock.h"

// Where a mark() was set: everything this thread got after it goes on release().
struct _CMPIGcStat {
  uint64_t seq;
  std::thread::id thread;
};

namespace cimom::detail {

namespace {

CMPIStatus okStatus() { return CMPIStatus{CMPI_RC_OK, nullptr}; }

// ---- up-calls ------------------------------------------------------------------------
#define CIMOM_BROKER(mb, fn, failReturn)                            \
  Manager *om = managerOf(mb);                                      \
  if (om == nullptr) {                                              \
    if (rc != nullptr) *rc = {CMPI_RC_ERR_INVALID_HANDLE, nullptr}; \
    return failReturn;                                              \
  }                                                                 \
  Gate g(om, fn);                                                   \
  if (g.shortCircuit(rc)) return failReturn

#define CIMOM_BROKER_STATUS(mb, fn)                                          \
  Manager *om = managerOf(mb);                                               \
  if (om == nullptr) return CMPIStatus{CMPI_RC_ERR_INVALID_HANDLE, nullptr}; \
  Gate g(om, fn);                                                            \
  if (g.failed()) return g.faultStatus()

CMPIContext *bPrepareAttachThread(const CMPIBroker *mb, const CMPIContext *ctx) {
  CMPIStatus *rc = nullptr;
  CIMOM_BROKER(mb, Fn::Broker_prepareAttachThread, nullptr);
  Obj *source = objOf(ctx);
  if (source == nullptr) return nullptr;
  // The prepared context belongs to the new thread, which gives it back by
  // detaching; until then it counts as live.
  return static_cast<CMPIContext *>(cloneAs(source, Kind::Tracked)->face());
}
CMPIStatus bAttachThread(const CMPIBroker *mb, const CMPIContext *ctx) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_attachThread);
  return om->attach(ctx);
}
CMPIStatus bDetachThread(const CMPIBroker *mb, const CMPIContext *ctx) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_detachThread);
  return om->detach(ctx);
}
CMPIStatus bDeliverIndication(const CMPIBroker *mb, const CMPIContext *, const char *ns,
                              const CMPIInstance *ind) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_deliverIndication);
  Obj *obj = objOf(ind);
  if (obj == nullptr) return om->status(CMPI_RC_ERR_INVALID_PARAMETER, "indication is not valid");
  std::string instNs, cls;
  instanceParts(ind, &instNs, &cls);
  om->recordIndication({ns != nullptr ? ns : "", cls, obj->text()});
  om->sinkIndication(ns != nullptr ? ns : "", ind);
  return okStatus();
}
CMPIEnumeration *bEnumerateInstanceNames(const CMPIBroker *mb, const CMPIContext *ctx,
                                         const CMPIObjectPath *op, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_enumerateInstanceNames, nullptr);
  return upEnumerate(om, ctx, op, nullptr, true, rc);
}
CMPIInstance *bGetInstance(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                           const char **properties, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_getInstance, nullptr);
  return upGetInstance(om, ctx, op, properties, rc);
}
CMPIObjectPath *bCreateInstance(const CMPIBroker *mb, const CMPIContext *ctx,
                                const CMPIObjectPath *op, const CMPIInstance *inst,
                                CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_createInstance, nullptr);
  return upCreateInstance(om, ctx, op, inst, rc);
}
CMPIStatus bModifyInstance(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                           const CMPIInstance *inst, const char **properties) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_modifyInstance);
  return upModifyInstance(om, ctx, op, inst, properties);
}
CMPIStatus bDeleteInstance(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_deleteInstance);
  return upDeleteInstance(om, ctx, op);
}
CMPIEnumeration *bExecQuery(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                            const char *query, const char *lang, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_execQuery, nullptr);
  return upExecQuery(om, ctx, op, query, lang, rc);
}
CMPIEnumeration *bEnumerateInstances(const CMPIBroker *mb, const CMPIContext *ctx,
                                     const CMPIObjectPath *op, const char **properties,
                                     CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_enumerateInstances, nullptr);
  return upEnumerate(om, ctx, op, properties, false, rc);
}
CMPIEnumeration *bAssociators(const CMPIBroker *mb, const CMPIContext *ctx,
                              const CMPIObjectPath *op, const char *assocClass,
                              const char *resultClass, const char *role, const char *resultRole,
                              const char **properties, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_associators, nullptr);
  return upAssociations(om, 0, ctx, op, assocClass, resultClass, role, resultRole, properties, rc);
}
CMPIEnumeration *bAssociatorNames(const CMPIBroker *mb, const CMPIContext *ctx,
                                  const CMPIObjectPath *op, const char *assocClass,
                                  const char *resultClass, const char *role, const char *resultRole,
                                  CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_associatorNames, nullptr);
  return upAssociations(om, 1, ctx, op, assocClass, resultClass, role, resultRole, nullptr, rc);
}
CMPIEnumeration *bReferences(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                             const char *resultClass, const char *role, const char **properties,
                             CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_references, nullptr);
  return upAssociations(om, 2, ctx, op, resultClass, nullptr, role, nullptr, properties, rc);
}
CMPIEnumeration *bReferenceNames(const CMPIBroker *mb, const CMPIContext *ctx,
                                 const CMPIObjectPath *op, const char *resultClass,
                                 const char *role, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_referenceNames, nullptr);
  return upAssociations(om, 3, ctx, op, resultClass, nullptr, role, nullptr, nullptr, rc);
}
CMPIData bInvokeMethod(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                       const char *method, const CMPIArgs *in, CMPIArgs *out, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_invokeMethod, nullData());
  return upInvokeMethod(om, ctx, op, method, in, out, rc);
}
CMPIStatus bSetProperty(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                        const char *name, const CMPIValue *value, CMPIType type) {
  CIMOM_BROKER_STATUS(mb, Fn::Broker_setProperty);
  return upSetProperty(om, ctx, op, name, value, type);
}
CMPIData bGetProperty(const CMPIBroker *mb, const CMPIContext *ctx, const CMPIObjectPath *op,
                      const char *name, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::Broker_getProperty, nullData());
  return upGetProperty(om, ctx, op, name, rc);
}

// ---- encapsulation --------------------------------------------------------------------------
CMPIInstance *eNewInstance(const CMPIBroker *mb, const CMPIObjectPath *op, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newInstance, nullptr);
  if (objOf(op) == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_PARAMETER, "object path is not valid");
    return nullptr;
  }
  g.finish(rc);
  return makeInstance(om, op, Kind::Tracked);
}
CMPIObjectPath *eNewObjectPath(const CMPIBroker *mb, const char *ns, const char *cn,
                               CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newObjectPath, nullptr);
  g.finish(rc);
  return makeObjectPath(om, ns != nullptr ? ns : "", cn != nullptr ? cn : "", Kind::Tracked);
}
CMPIArgs *eNewArgs(const CMPIBroker *mb, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newArgs, nullptr);
  g.finish(rc);
  return makeArgs(om, Kind::Tracked);
}
CMPIString *eNewString(const CMPIBroker *mb, const char *data, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newString, nullptr);
  if (data == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_PARAMETER, "string data is NULL");
    return nullptr;
  }
  g.finish(rc);
  return makeString(om, data, Kind::Tracked);
}
CMPIArray *eNewArray(const CMPIBroker *mb, CMPICount size, CMPIType type, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newArray, nullptr);
  g.finish(rc);
  return makeArray(om, size, type, Kind::Tracked);
}
CMPIDateTime *eNewDateTime(const CMPIBroker *mb, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newDateTime, nullptr);
  pk::platform::WallTime now = pk::platform::wallClock();
  g.finish(rc);
  return makeDateTime(
      om, static_cast<uint64_t>(now.seconds) * 1000000ULL + static_cast<uint64_t>(now.micros),
      false, 0, Kind::Tracked);
}
CMPIDateTime *eNewDateTimeFromBinary(const CMPIBroker *mb, CMPIUint64 binTime, CMPIBoolean interval,
                                     CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newDateTimeFromBinary, nullptr);
  g.finish(rc);
  return makeDateTime(om, binTime, interval != 0, 0, Kind::Tracked);
}
CMPIDateTime *eNewDateTimeFromChars(const CMPIBroker *mb, const char *text, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newDateTimeFromChars, nullptr);
  CMPIDateTime *dt = parseDateTime(om, text, Kind::Tracked);
  if (dt == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_PARAMETER,
             std::string("not a date-time text: ") + (text != nullptr ? text : "NULL"));
    return nullptr;
  }
  g.finish(rc);
  return dt;
}
CMPISelectExp *eNewSelectExp(const CMPIBroker *mb, const char *query, const char *lang,
                             CMPIArray **projection, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newSelectExp, nullptr);
  if (projection != nullptr) *projection = nullptr;
  if (query == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_QUERY, "query is NULL");
    return nullptr;
  }
  g.finish(rc);
  return makeSelectExp(om, query, lang != nullptr ? lang : "", Kind::Tracked);
}
CMPIBoolean eClassPathIsA(const CMPIBroker *mb, const CMPIObjectPath *op, const char *type,
                          CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_classPathIsA, 0);
  Obj *path = objOf(op);
  if (path == nullptr || type == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_PARAMETER);
    return 0;
  }
  std::string ns, cls;
  pathParts(op, &ns, &cls);
  bool result = om->isA(cls, type);
  g.finish(rc);
  return result ? 1 : 0;
}
// Any of our objects, seen through the common shell layout.
Obj *anyObject(const void *object) { return objOf(static_cast<const CMPIString *>(object)); }
// A text of one of our objects, as a string that the object manager owns.
CMPIString *objectString(const CMPIBroker *mb, Fn fn, const void *object, CMPIStatus *rc,
                         std::string (*describe)(Obj *)) {
  CIMOM_BROKER(mb, fn, nullptr);
  Obj *obj = anyObject(object);
  if (obj == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_HANDLE);
    return nullptr;
  }
  g.finish(rc);
  return om->arenaString(describe(obj));
}
CMPIString *eToString(const CMPIBroker *mb, const void *object, CMPIStatus *rc) {
  return objectString(mb, Fn::BrokerEnc_toString, object, rc,
                      [](Obj *obj) { return std::string(obj->text()); });
}
CMPIBoolean eIsOfType(const CMPIBroker *mb, const void *object, const char *type, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_isOfType, 0);
  Obj *obj = anyObject(object);
  if (obj == nullptr || type == nullptr) {
    g.finish(rc, CMPI_RC_ERR_INVALID_HANDLE);
    return 0;
  }
  g.finish(rc);
  return std::strcmp(obj->typeName(), type) == 0 ? 1 : 0;
}
CMPIString *eGetType(const CMPIBroker *mb, const void *object, CMPIStatus *rc) {
  return objectString(mb, Fn::BrokerEnc_getType, object, rc,
                      [](Obj *obj) { return std::string(obj->typeName()); });
}

// The default message with $0..$9 replaced by the insertion values read from
// the caller's started argument list (which the analyzer cannot follow into
// this function).
// NOLINTBEGIN(clang-analyzer-valist.Uninitialized)
std::string formatMessage(const char *defMsg, CMPICount count, va_list *args) {
  std::vector<std::string> values;
  for (CMPICount i = 0; i < count && i < 10; ++i) {
    int type = va_arg(*args, int);
    switch (type) {
      case CMPI_sint32:
        values.push_back(std::to_string(va_arg(*args, long int)));
        break;
      case CMPI_uint32:
        values.push_back(std::to_string(va_arg(*args, unsigned long int)));
        break;
      case CMPI_sint64:
        values.push_back(std::to_string(va_arg(*args, long long int)));
        break;
      case CMPI_uint64:
        values.push_back(std::to_string(va_arg(*args, unsigned long long int)));
        break;
      case CMPI_real64: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", va_arg(*args, double));
        values.emplace_back(buf);
        break;
      }
      case CMPI_boolean:
        values.emplace_back(va_arg(*args, int) ? "true" : "false");
        break;
      case CMPI_chars: {
        const char *text = va_arg(*args, const char *);
        values.emplace_back(text != nullptr ? text : "");
        break;
      }
      case CMPI_string: {
        const CMPIString *s = va_arg(*args, const CMPIString *);
        values.emplace_back(s != nullptr && s->hdl != nullptr ? static_cast<const char *>(s->hdl)
                                                              : "");
        break;
      }
      default:
        // Unknown size: nothing after it can be read safely.
        i = count;
        break;
    }
  }
  std::string out;
  for (const char *p = defMsg != nullptr ? defMsg : ""; *p != '\0'; ++p) {
    if (p[0] == '$' && p[1] >= '0' && p[1] <= '9') {
      size_t index = static_cast<size_t>(p[1] - '0');
      if (index < values.size()) {
        out += values[index];
        ++p;
        continue;
      }
    }
    out += *p;
  }
  return out;
}
// NOLINTEND(clang-analyzer-valist.Uninitialized)
CMPIString *eGetMessage(const CMPIBroker *mb, const char *, const char *defMsg, CMPIStatus *rc,
                        CMPICount count, ...) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_getMessage, nullptr);
  va_list args;
  va_start(args, count);
  std::string text = formatMessage(defMsg, count, &args);
  va_end(args);
  g.finish(rc);
  return om->arenaString(text);
}
CMPIString *eGetMessage2(const CMPIBroker *mb, const char *, const CMPIMsgFileHandle,
                         const char *defMsg, CMPIStatus *rc, CMPICount count, ...) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_getMessage2, nullptr);
  va_list args;
  va_start(args, count);
  std::string text = formatMessage(defMsg, count, &args);
  va_end(args);
  g.finish(rc);
  return om->arenaString(text);
}
std::string textOf(const CMPIString *s) {
  return s != nullptr && s->hdl != nullptr ? static_cast<const char *>(s->hdl) : "";
}
CMPIStatus eLogMessage(const CMPIBroker *mb, int severity, const char *id, const char *text,
                       const CMPIString *string) {
  CIMOM_BROKER_STATUS(mb, Fn::BrokerEnc_logMessage);
  om->recordLog({severity, id != nullptr ? id : "", text != nullptr ? text : "", textOf(string),
                 text != nullptr, string != nullptr});
  return okStatus();
}
CMPIStatus eTrace(const CMPIBroker *mb, int level, const char *component, const char *text,
                  const CMPIString *string) {
  CIMOM_BROKER_STATUS(mb, Fn::BrokerEnc_trace);
  om->recordTrace({level, component != nullptr ? component : "", text != nullptr ? text : "",
                   textOf(string), text != nullptr, string != nullptr});
  return okStatus();
}
CMPIError *eNewCMPIError(const CMPIBroker *mb, const char *owner, const char *msgID,
                         const char *msg, const CMPIErrorSeverity sev,
                         const CMPIErrorProbableCause pc, const CMPIrc cimStatusCode,
                         CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerEnc_newCMPIError, nullptr);
  g.finish(rc);
  return makeError(om, owner, msgID, msg, sev, pc, cimStatusCode, Kind::Tracked);
}
// Messages always come from the default text, so a message file is only a
// handle to give back.
struct MessageFile {
  std::string name;
};
CMPIStatus eOpenMessageFile(const CMPIBroker *mb, const char *msgFile, CMPIMsgFileHandle *handle) {
  CIMOM_BROKER_STATUS(mb, Fn::BrokerEnc_openMessageFile);
  if (handle == nullptr) return om->status(CMPI_RC_ERR_INVALID_PARAMETER, "handle is NULL");
  *handle = new MessageFile{msgFile != nullptr ? msgFile : ""};
  return okStatus();
}
CMPIStatus eCloseMessageFile(const CMPIBroker *mb, const CMPIMsgFileHandle handle) {
  CIMOM_BROKER_STATUS(mb, Fn::BrokerEnc_closeMessageFile);
  delete static_cast<MessageFile *>(handle);
  return okStatus();
}

// ---- extensions -------------------------------------------------------------------------------
// These members get no broker, so they count and fail on the current object
// manager (the newest one alive), if any.
struct ExtGate {
  explicit ExtGate(Fn fn) : om(currentManager()) {
    if (om != nullptr) {
      Fault hit;
      if (om->enter(fn, &hit)) {
        failed = true;
        rc = hit.rc;
        nullResult = hit.nullResult;
      }
    }
  }
  Manager *om;
  bool failed = false;
  bool nullResult = true;
  CMPIrc rc = CMPI_RC_OK;
};

char *xResolveFileName(const char *filename) {
  ExtGate g(Fn::BrokerExt_resolveFileName);
  if ((g.failed && g.nullResult) || filename == nullptr) return nullptr;
  std::string name = filename;
  bool plain = name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
               name.find('.') == std::string::npos;
  std::string file = plain ? pk::platform::libraryFileName(name) : name;
  if (plain && g.om != nullptr) {
    for (const auto &dir : g.om->options().libraryPath) {
      std::string candidate = pk::platform::joinPath(dir, file);
      if (pk::platform::fileExists(candidate.c_str())) {
        file = candidate;
        break;
      }
    }
  }
  // The caller frees the name with free().
  char *out = static_cast<char *>(std::malloc(file.size() + 1));
  if (out != nullptr) std::memcpy(out, file.c_str(), file.size() + 1);
  return out;
}

struct ThreadExit {
  void *value;
};
struct ThreadObj {
  CMPI_THREAD_RETURN(CMPI_THREAD_CDECL *start)(void *) = nullptr;
  void *parm = nullptr;
  void *result = nullptr;
  std::atomic<bool> cancelled{false};
  bool detached = false;
  std::thread thread;
};
thread_local ThreadObj *tlsThread = nullptr;

// Thread keys: slots shared by the process, values per thread; a thread's
// values go through their key's cleanup when it ends.
struct KeySlot {
  bool used = false;
  void (*cleanup)(void *) = nullptr;
};
std::mutex keyMutex;
std::vector<KeySlot> keySlots;
struct ThreadValues {
  std::unordered_map<CMPI_THREAD_KEY_TYPE, void *> values;
  ~ThreadValues() {
    for (int round = 0; round < 4 && !values.empty(); ++round) {
      auto pending = std::move(values);
      values.clear();
      for (auto &[key, value] : pending) {
        void (*cleanup)(void *) = nullptr;
        {
          std::lock_guard<std::mutex> lock(keyMutex);
          if (key >= 1 && key <= keySlots.size() && keySlots[key - 1].used)
            cleanup = keySlots[key - 1].cleanup;
        }
        if (value != nullptr && cleanup != nullptr) cleanup(value);
      }
    }
  }
};
thread_local ThreadValues tlsValues;

// threadSleep is where a cancelled thread ends: between sleeps no lock of
// the provider's is held, so ending there leaves nothing locked.
void cancellationPoint() {
  if (tlsThread != nullptr && tlsThread->cancelled.load()) throw ThreadExit{nullptr};
}

CMPI_THREAD_TYPE xNewThread(CMPI_THREAD_RETURN(CMPI_THREAD_CDECL *start)(void *), void *parm,
                            int detached) {
  ExtGate g(Fn::BrokerExt_newThread);
  if (g.failed || start == nullptr) return nullptr;
  auto *t = new ThreadObj;
  t->start = start;
  t->parm = parm;
  t->detached = detached != 0;
  std::thread th([t] {
    tlsThread = t;
    try {
      t->result = t->start(t->parm);
    } catch (const ThreadExit &e) {
      t->result = e.value;
    } catch (...) {
      t->result = nullptr;
    }
    tlsThread = nullptr;
    if (t->detached) delete t;
  });
  if (detached != 0) {
    th.detach();
  } else {
    t->thread = std::move(th);
  }
  return t;
}
int xJoinThread(CMPI_THREAD_TYPE thread, CMPI_THREAD_RETURN *retval) {
  ExtGate g(Fn::BrokerExt_joinThread);
  if (g.failed) return g.rc != CMPI_RC_OK ? static_cast<int>(g.rc) : 0;
  auto *t = static_cast<ThreadObj *>(thread);
  if (t == nullptr || t->detached || !t->thread.joinable()) return EINVAL;
  t->thread.join();
  if (retval != nullptr) *retval = t->result;
  delete t;
  return 0;
}
int xExitThread(CMPI_THREAD_RETURN code) {
  ExtGate g(Fn::BrokerExt_exitThread);
  if (g.failed) return static_cast<int>(g.rc);
  // Only threads started by newThread can be ended this way.
  if (tlsThread == nullptr) return EINVAL;
  throw ThreadExit{code};
}
int xCancelThread(CMPI_THREAD_TYPE thread) {
  ExtGate g(Fn::BrokerExt_cancelThread);
  if (g.failed) return static_cast<int>(g.rc);
  auto *t = static_cast<ThreadObj *>(thread);
  if (t == nullptr) return EINVAL;
  t->cancelled.store(true);
  return 0;
}
int xThreadSleep(CMPIUint32 msec) {
  ExtGate g(Fn::BrokerExt_threadSleep);
  if (g.failed) return static_cast<int>(g.rc);
  cancellationPoint();
  // A test's manual clock paces this sleep as it paces the controller library's.
  if (wsi::clock::manualSet()) {
    wsi::clock::sleepMillis(msec);
    cancellationPoint();
    return 0;
  }
  uint64_t end = pk::platform::monotonicNanos() + static_cast<uint64_t>(msec) * 1000000ULL;
  for (;;) {
    uint64_t now = pk::platform::monotonicNanos();
    if (now >= end) break;
    uint64_t left = (end - now) / 1000000ULL;
    pk::platform::sleepMillis(left > 10 ? 10 : (left == 0 ? 1 : left));
    cancellationPoint();
  }
  return 0;
}
std::mutex onceMutex;
int xThreadOnce(int *once, void (*init)(void)) {
  ExtGate g(Fn::BrokerExt_threadOnce);
  if (g.failed) return static_cast<int>(g.rc);
  if (once == nullptr || init == nullptr) return EINVAL;
  std::atomic_ref<int> flag(*once);
  if (flag.load(std::memory_order_acquire) != 0) return 0;
  std::lock_guard<std::mutex> lock(onceMutex);
  if (flag.load(std::memory_order_relaxed) == 0) {
    init();
    flag.store(1, std::memory_order_release);
  }
  return 0;
}
int xCreateThreadKey(CMPI_THREAD_KEY_TYPE *key, void (*cleanup)(void *)) {
  ExtGate g(Fn::BrokerExt_createThreadKey);
  if (g.failed) return static_cast<int>(g.rc);
  if (key == nullptr) return EINVAL;
  std::lock_guard<std::mutex> lock(keyMutex);
  size_t i = 0;
  while (i < keySlots.size() && keySlots[i].used) ++i;
  if (i == keySlots.size()) keySlots.emplace_back();
  keySlots[i] = {true, cleanup};
  *key = static_cast<CMPI_THREAD_KEY_TYPE>(i + 1);
  return 0;
}
int xDestroyThreadKey(CMPI_THREAD_KEY_TYPE key) {
  ExtGate g(Fn::BrokerExt_destroyThreadKey);
  if (g.failed) return static_cast<int>(g.rc);
  std::lock_guard<std::mutex> lock(keyMutex);
  if (key < 1 || key > keySlots.size() || !keySlots[key - 1].used) return EINVAL;
  keySlots[key - 1] = {};
  return 0;
}
void *xGetThreadSpecific(CMPI_THREAD_KEY_TYPE key) {
  ExtGate g(Fn::BrokerExt_getThreadSpecific);
  if (g.failed) return nullptr;
  auto it = tlsValues.values.find(key);
  return it != tlsValues.values.end() ? it->second : nullptr;
}
int xSetThreadSpecific(CMPI_THREAD_KEY_TYPE key, void *value) {
  ExtGate g(Fn::BrokerExt_setThreadSpecific);
  if (g.failed) return static_cast<int>(g.rc);
  {
    std::lock_guard<std::mutex> lock(keyMutex);
    if (key < 1 || key > keySlots.size() || !keySlots[key - 1].used) return EINVAL;
  }
  tlsValues.values[key] = value;
  return 0;
}

struct MutexObj {
  std::mutex m;
};
struct CondObj {
  std::condition_variable cv;
};
CMPI_MUTEX_TYPE xNewMutex(int) {
  ExtGate g(Fn::BrokerExt_newMutex);
  if (g.failed) return nullptr;
  return new MutexObj;
}
// Members without a result cannot report a fault; they are counted only.
void xDestroyMutex(CMPI_MUTEX_TYPE mutex) {
  ExtGate g(Fn::BrokerExt_destroyMutex);
  delete static_cast<MutexObj *>(mutex);
}
void xLockMutex(CMPI_MUTEX_TYPE mutex) {
  ExtGate g(Fn::BrokerExt_lockMutex);
  if (mutex != nullptr) static_cast<MutexObj *>(mutex)->m.lock();
}
void xUnlockMutex(CMPI_MUTEX_TYPE mutex) {
  ExtGate g(Fn::BrokerExt_unlockMutex);
  if (mutex != nullptr) static_cast<MutexObj *>(mutex)->m.unlock();
}
CMPI_COND_TYPE xNewCondition(int) {
  ExtGate g(Fn::BrokerExt_newCondition);
  if (g.failed) return nullptr;
  return new CondObj;
}
void xDestroyCondition(CMPI_COND_TYPE cond) {
  ExtGate g(Fn::BrokerExt_destroyCondition);
  delete static_cast<CondObj *>(cond);
}
int xCondWait(CMPI_COND_TYPE cond, CMPI_MUTEX_TYPE mutex) {
  ExtGate g(Fn::BrokerExt_condWait);
  if (g.failed) return static_cast<int>(g.rc);
  if (cond == nullptr || mutex == nullptr) return EINVAL;
  std::unique_lock<std::mutex> lock(static_cast<MutexObj *>(mutex)->m, std::adopt_lock);
  static_cast<CondObj *>(cond)->cv.wait(lock);
  lock.release();
  return 0;
}
// As pthread_cond_timedwait: an absolute wall-clock deadline, 0 when
// signalled (or woken spuriously), ETIMEDOUT once the deadline has passed.
int xTimedCondWait(CMPI_COND_TYPE cond, CMPI_MUTEX_TYPE mutex, struct timespec *wait) {
  ExtGate g(Fn::BrokerExt_timedCondWait);
  if (g.failed) return static_cast<int>(g.rc);
  if (cond == nullptr || mutex == nullptr) return EINVAL;
  std::unique_lock<std::mutex> lock(static_cast<MutexObj *>(mutex)->m, std::adopt_lock);
  int result = 0;
  std::optional<wsi::clock::ManualWait> manual;
  if (wait != nullptr) manual.emplace(wait->tv_sec, wait->tv_nsec);
  if (wait == nullptr) {
    static_cast<CondObj *>(cond)->cv.wait(lock);
  } else if (manual->active()) {
    // The deadline is on a test's manual clock: look at it between short real waits.
    for (;;) {
      if (manual->expired()) {
        result = ETIMEDOUT;
        break;
      }
      if (static_cast<CondObj *>(cond)->cv.wait_for(lock, std::chrono::milliseconds(2)) ==
          std::cv_status::no_timeout)
        break;
    }
  } else {
    auto deadline = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(wait->tv_sec) + std::chrono::nanoseconds(wait->tv_nsec)));
    if (static_cast<CondObj *>(cond)->cv.wait_until(lock, deadline) == std::cv_status::timeout)
      result = ETIMEDOUT;
  }
  lock.release();
  return result;
}
int xSignalCondition(CMPI_COND_TYPE cond) {
  ExtGate g(Fn::BrokerExt_signalCondition);
  if (g.failed) return static_cast<int>(g.rc);
  if (cond == nullptr) return EINVAL;
  static_cast<CondObj *>(cond)->cv.notify_one();
  return 0;
}

// ---- memory
// ---------------------------------------------------------------------------------------
CMPIGcStat *mMark(const CMPIBroker *mb, CMPIStatus *rc) {
  CIMOM_BROKER(mb, Fn::BrokerMem_mark, nullptr);
  g.finish(rc);
  return new CMPIGcStat{om->currentSeq(), std::this_thread::get_id()};
}
CMPIStatus mRelease(const CMPIBroker *mb, const CMPIGcStat *gc) {
  CIMOM_BROKER_STATUS(mb, Fn::BrokerMem_release);
  if (gc == nullptr) return om->status(CMPI_RC_ERR_INVALID_PARAMETER, "no mark");
  om->releaseSince(gc->seq, gc->thread);
  delete gc;
  return okStatus();
}
#define CIMOM_MEM(mb, fn)            \
  Manager *om = managerOf(mb);       \
  if (om == nullptr) return nullptr; \
  Gate g(om, fn);                    \
  if (g.failed()) return nullptr

void *mMalloc(const CMPIBroker *mb, size_t size) {
  CIMOM_MEM(mb, Fn::BrokerMem_cmpiMalloc);
  return om->memAlloc(size, false);
}
void *mCalloc(const CMPIBroker *mb, size_t count, size_t size) {
  CIMOM_MEM(mb, Fn::BrokerMem_cmpiCalloc);
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  return om->memAlloc(count * size, true);
}
void *mRealloc(const CMPIBroker *mb, void *ptr, size_t size) {
  CIMOM_MEM(mb, Fn::BrokerMem_cmpiRealloc);
  return om->memRealloc(ptr, size);
}
char *mStrDup(const CMPIBroker *mb, const char *text) {
  CIMOM_MEM(mb, Fn::BrokerMem_cmpiStrDup);
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char *out = static_cast<char *>(om->memAlloc(n, false));
  if (out != nullptr) std::memcpy(out, text, n);
  return out;
}
void mFree(const CMPIBroker *mb, void *ptr) {
  Manager *om = managerOf(mb);
  if (om == nullptr) return;
  Gate g(om, Fn::BrokerMem_cmpiFree);
  om->memFree(ptr);
}
template <class C, Fn FN>
void mFreeObject(const CMPIBroker *mb, C *object) {
  Manager *om = managerOf(mb);
  if (om == nullptr) return;
  Gate g(om, FN);
  if (g.failed()) return;
  if (Obj *obj = objOf(object)) om->release(obj);
}

// ---- the tables
// ------------------------------------------------------------------------------------
CMPIBrokerFT makeBrokerFT(int version) {
  return CMPIBrokerFT{static_cast<unsigned>(CMPI_MB_Class_0 | CMPI_MB_Supports_Extended_Error |
                                            CMPI_MB_Supports_MemEnhancements),
                      static_cast<unsigned>(version),
                      "cimom",
                      bPrepareAttachThread,
                      bAttachThread,
                      bDetachThread,
                      bDeliverIndication,
                      bEnumerateInstanceNames,
                      bGetInstance,
                      bCreateInstance,
                      bModifyInstance,
                      bDeleteInstance,
                      bExecQuery,
                      bEnumerateInstances,
                      bAssociators,
                      bAssociatorNames,
                      bReferences,
                      bReferenceNames,
                      bInvokeMethod,
                      bSetProperty,
                      bGetProperty};
}
CMPIBrokerEncFT makeEncFT(int version) {
  CMPIBrokerEncFT t{version,
                    eNewInstance,
                    eNewObjectPath,
                    eNewArgs,
                    eNewString,
                    eNewArray,
                    eNewDateTime,
                    eNewDateTimeFromBinary,
                    eNewDateTimeFromChars,
                    eNewSelectExp,
                    eClassPathIsA,
                    eToString,
                    eIsOfType,
                    eGetType,
                    eGetMessage,
                    eLogMessage,
                    eTrace,
                    eNewCMPIError,
                    eOpenMessageFile,
                    eCloseMessageFile,
                    eGetMessage2};
  if (version < 200) {
    t.newCMPIError = nullptr;
    t.openMessageFile = nullptr;
    t.closeMessageFile = nullptr;
    t.getMessage2 = nullptr;
  }
  return t;
}
CMPIBrokerExtFT makeExtFT(int version) {
  return CMPIBrokerExtFT{version,           xResolveFileName,   xNewThread,
                         xJoinThread,       xExitThread,        xCancelThread,
                         xThreadSleep,      xThreadOnce,        xCreateThreadKey,
                         xDestroyThreadKey, xGetThreadSpecific, xSetThreadSpecific,
                         xNewMutex,         xDestroyMutex,      xLockMutex,
                         xUnlockMutex,      xNewCondition,      xDestroyCondition,
                         xCondWait,         xTimedCondWait,     xSignalCondition};
}
const CMPIBrokerMemFT memFT{200,
                            mMark,
                            mRelease,
                            mMalloc,
                            mCalloc,
                            mRealloc,
                            mStrDup,
                            mFree,
                            mFreeObject<CMPIInstance, Fn::BrokerMem_freeInstance>,
                            mFreeObject<CMPIObjectPath, Fn::BrokerMem_freeObjectPath>,
                            mFreeObject<CMPIArgs, Fn::BrokerMem_freeArgs>,
                            mFreeObject<CMPIString, Fn::BrokerMem_freeString>,
                            mFreeObject<CMPIArray, Fn::BrokerMem_freeArray>,
                            mFreeObject<CMPIDateTime, Fn::BrokerMem_freeDateTime>,
                            mFreeObject<CMPISelectExp, Fn::BrokerMem_freeSelectExp>};

const CMPIBrokerFT broker200 = makeBrokerFT(200), broker100 = makeBrokerFT(100);
const CMPIBrokerEncFT enc200 = makeEncFT(200), enc100 = makeEncFT(100);
const CMPIBrokerExtFT ext200 = makeExtFT(200), ext100 = makeExtFT(100);

}  // namespace

const CMPIBrokerFT *brokerFT(int version) { return version >= 200 ? &broker200 : &broker100; }
const CMPIBrokerEncFT *brokerEncFT(int version) { return version >= 200 ? &enc200 : &enc100; }
const CMPIBrokerExtFT *brokerExtFT(int version) { return version >= 200 ? &ext200 : &ext100; }
// The memory table came with 2.0; a 1.0 broker has none.
const CMPIBrokerMemFT *brokerMemFT(int version) { return version >= 200 ? &memFT : nullptr; }

}  // namespace cimom::detail
