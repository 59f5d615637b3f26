// The indication machine: subscriptions counted per indication type under the
// machine lock, and one polling thread per machine that snapshots every
// registered filer's elements and turns the differences between two
// snapshots into life-cycle indications.
//
// Lock order: the polling thread takes the registry lock (inside getFilers)
// only while it does not hold the machine lock, and it never holds the machine
// lock while it polls, sleeps or delivers.
#include "provkit/indications.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "guards.h"
#include "indications_hooks.h"
#include "provkit/frame.h"
#include "provkit/objectpath.h"
#include "provkit/registry.h"

namespace {

using pk::CmpiObject;
using pk::failed;

constexpr const char *kService = "KELVA SMI-S Agent Indications Service:";
constexpr const char *kMessageId = "Common indications";
// The thread sleeps in steps of this many seconds between its checks.
constexpr unsigned kCycleSeconds = 60;
// The thread's start and end are traced at the lowest level, below CMPI_LEV_INFO.
constexpr CMPILevel kLevelStartStop = static_cast<CMPILevel>(0);

struct IndicationType {
  uint8_t mask;
  const char *className;
};
// The class check reads the first four rows only: a filter on the common
// superclass would ask for every type at once.
constexpr IndicationType kTypes[] = {
    {PK_IND_CREATE, "CIM_InstCreation"},
    {PK_IND_DELETE, "CIM_InstDeletion"},
    {PK_IND_MODIFY, "CIM_InstModification"},
    {PK_IND_READ, "CIM_InstRead"},
    {PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY | PK_IND_READ, "CIM_InstIndication"}};

// The machine lock for a scope; a machine without its lock is logged and the
// caller goes on unlocked.
class MachineLock {
 public:
  MachineLock(const CMPIBroker *broker, IndMachine *machine) : broker_(broker), machine_(machine) {
    lock();
  }
  ~MachineLock() {
    if (held_) unlock();
  }
  MachineLock(const MachineLock &) = delete;
  MachineLock &operator=(const MachineLock &) = delete;

  void lock() {
    if (missing()) {
      logErrorStatus(broker_, kMessageId, "Indication machine is not set!");
    } else {
      broker_->xft->lockMutex(machine_->mutex);
    }
    held_ = true;
  }
  void unlock() {
    if (missing()) {
      logErrorStatus(broker_, kMessageId, "Indication machine is not set!");
    } else {
      broker_->xft->unlockMutex(machine_->mutex);
    }
    held_ = false;
  }

 private:
  bool missing() const {
    return broker_ == nullptr || machine_ == nullptr || machine_->mutex == nullptr;
  }
  const CMPIBroker *broker_;
  IndMachine *machine_;
  bool held_ = false;
};

// Traces text, with the status's message when it has one, at level 1.
void traceFailure(const CMPIBroker *broker, const char *component, const char *text,
                  const CMPIStatus *status) {
  std::string line = text;
  if (status != nullptr && status->msg != nullptr) {
    const char *message = CMGetCharsPtr(status->msg, nullptr);
    if (message != nullptr) line.append(" ").append(message);
  }
  CMTraceMessage(broker, CMPI_LEV_INFO, component, line.c_str(), nullptr);
}

void countSubscriptions(IndMachine *machine, uint8_t mask, int delta) {
  auto step = [delta](uint16_t &counter) {
    if (delta > 0 && counter < std::numeric_limits<uint16_t>::max()) ++counter;
    if (delta < 0 && counter > 0) --counter;
  };
  if ((mask & PK_IND_CREATE) != 0) step(machine->createCount);
  if ((mask & PK_IND_DELETE) != 0) step(machine->deleteCount);
  if ((mask & PK_IND_MODIFY) != 0) step(machine->modifyCount);
  if ((mask & PK_IND_READ) != 0) step(machine->readCount);
}

bool anySubscription(const IndMachine *machine) {
  return machine->createCount != 0 || machine->deleteCount != 0 || machine->modifyCount != 0 ||
         machine->readCount != 0;
}

// ---- Checks -------------------------------------------------------------------

void checkNamespace(const CMPIBroker *broker, const CMPIObjectPath *classPath, IndMachine *machine,
                    CMPIStatus *status) {
  MachineLock hold(broker, machine);
  if (machine == nullptr || machine->classPath == nullptr) return;
  pk::WsiText running(getNamespaceAsChar(broker, machine->classPath, status));
  if (failed(status)) return;
  pk::WsiText wanted(getNamespaceAsChar(broker, classPath, status));
  if (failed(status)) return;
  if (running == nullptr || wanted == nullptr || strCompare(running.get(), wanted.get()) != 0) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_SUPPORTED,
                   "Indications can only be enabled in one namespace at a time");
  }
}

void checkQuery(const CMPIBroker *broker, const CMPISelectExp *filter, const IndMachine *machine,
                CMPIStatus *status) {
  if (machine == nullptr || machine->supportedQueries == nullptr) return;
  CMPIStatus local{CMPI_RC_OK, nullptr};
  const char *query = nullptr;
  if (filter != nullptr) {
    // The expression's text belongs to the expression.
    CMPIString *text = CMGetSelExpString(filter, &local);
    if (!failed(&local) && text != nullptr) query = CMGetCharsPtr(text, nullptr);
  }
  pk::adoptStatus(nullptr, local);
  if (query != nullptr) {
    for (const char **entry = machine->supportedQueries; *entry != nullptr; ++entry) {
      if (strCompare(query, *entry) == 0) return;
    }
  }
  raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_SUPPORTED, "Query not supported");
}

// The indication type mask of the class, with an error for each type that the
// provider does not offer; 0 for a class that is none of the four.
uint8_t checkClass(const CMPIBroker *broker, const char *className, IndMachine *machine,
                   CMPIStatus *status) {
  uint8_t mask = 0;
  for (size_t row = 0; row < 4; ++row) {
    if (className != nullptr && strCompare(className, kTypes[row].className) == 0) {
      mask = kTypes[row].mask;
      break;
    }
  }
  if (mask == 0) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_SUPPORTED, "Indication class not supported");
    return 0;
  }
  static constexpr struct {
    uint8_t bit;
    const char *refusal;
  } kRefusals[] = {{PK_IND_CREATE, "Create instance Indications not supported"},
                   {PK_IND_DELETE, "Delete instance indications not supported"},
                   {PK_IND_MODIFY, "Modify instance Indications not supported"},
                   {PK_IND_READ, "Read Indications not supported"}};
  MachineLock hold(broker, machine);
  uint8_t offered = machine != nullptr ? machine->supportedTypes : 0;
  for (const auto &refusal : kRefusals) {
    if ((mask & refusal.bit) != 0 && (offered & refusal.bit) == 0)
      raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_SUPPORTED, refusal.refusal);
  }
  return mask;
}

// ---- Snapshots ----------------------------------------------------------------

using Entry = pk::testing::IndSnapshotEntry;

void freeSnapshot(WSIList *snapshot, const WSIIndImpl &impl) {
  if (snapshot == nullptr) return;
  for (WSIListPos *pos = WSIList_getFirst(snapshot); pos != nullptr; pos = WSIList_getNext(pos)) {
    auto *entry = static_cast<Entry *>(WSIList_getElement(pos));
    if (entry == nullptr) continue;
    freeFiler(entry->filer);
    if (entry->elements != nullptr) impl.freeIndElements(entry->elements);
    wsifree(entry);
  }
  WSIList_free(snapshot, nullptr);
}

// What the polling thread works with, read from the machine under its lock.
struct Poller {
  IndMachine *machine;
  const CMPIBroker *broker;
  const char *component;
  CMPIContext *context;
  CMPIObjectPath *classPath;
  WSIIndImpl impl;
};

// Every registered filer's elements, or null when one of them could not be
// polled: a partial snapshot would turn the filer's elements into deletions.
WSIList *takeSnapshot(const Poller &poller, CMPIStatus *status) {
  const CMPIBroker *broker = poller.broker;
  WSIList *snapshot = WSIList_new();
  if (snapshot == nullptr) {
    pk::fail(broker, status, "Insufficient Memory");
    return nullptr;
  }
  pk::FilerList filers(getFilers(status, broker, poller.context, poller.classPath));
  if (failed(status) || filers == nullptr) {
    freeSnapshot(snapshot, poller.impl);
    return nullptr;
  }
  for (WSIListPos *pos = WSIList_getFirst(filers.get()); pos != nullptr && !failed(status);
       pos = WSIList_getNext(pos)) {
    auto *copy = static_cast<Filer *>(copyFiler(WSIList_getElement(pos)));
    auto *entry = copy != nullptr ? static_cast<Entry *>(wsicalloc(1, sizeof(Entry))) : nullptr;
    if (entry == nullptr) {
      freeFiler(copy);
      pk::fail(broker, status, "Insufficient Memory");
      break;
    }
    entry->filer = copy;
    entry->elements = poller.impl.enumIndElements(broker, poller.context, copy, nullptr, status);
    if (failed(status)) {
      if (entry->elements != nullptr) poller.impl.freeIndElements(entry->elements);
      freeFiler(copy);
      wsifree(entry);
      traceFailure(broker, poller.component,
                   "KELVA SMI-S Agent Indications Service: failed to poll instances", status);
      break;
    }
    if (WSIList_append(snapshot, entry) == 0) {
      if (entry->elements != nullptr) poller.impl.freeIndElements(entry->elements);
      freeFiler(copy);
      wsifree(entry);
      pk::fail(broker, status, "Insufficient Memory");
    }
  }
  if (failed(status)) {
    freeSnapshot(snapshot, poller.impl);
    return nullptr;
  }
  return snapshot;
}

// ---- Delivery -----------------------------------------------------------------

void deliver(const Poller &poller, const char *className, const char *nameSpace, const Filer *filer,
             const void *element, const void *previous) {
  const CMPIBroker *broker = poller.broker;
  CMPIStatus status{CMPI_RC_OK, nullptr};
  auto trouble = [&](const char *text) { traceFailure(broker, poller.component, text, &status); };
  CmpiObject<CMPIObjectPath> path(CMNewObjectPath(broker, nameSpace, className, &status));
  CmpiObject<CMPIInstance> indication;
  if (!failed(&status)) indication.reset(newCMPIInstance(broker, path.get(), &status, nullptr));
  CmpiObject<CMPIDateTime> now;
  CmpiObject<CMPIInstance> source;
  CmpiObject<CMPIInstance> before;
  pk::WsiText modelPath;
  // Each step runs while the ones before it succeeded; the first failure is traced.
  auto step = [&](bool done, const char *text) {
    if (failed(&status) || !done) {
      trouble(text);
      return false;
    }
    return true;
  };
  do {
    if (failed(&status) || !indication) {
      trouble("KELVA SMI-S Agent Indications Service: failed to create indication instance");
      break;
    }
    now.reset(CMNewDateTime(broker, &status));
    if (!step(static_cast<bool>(now),
              "KELVA SMI-S Agent Indications Service: failed to get indication time"))
      break;
    CMPIValue value;
    value.dateTime = now.get();
    pk::adoptStatus(&status,
                    CMSetProperty(indication.get(), "IndicationTime", &value, CMPI_dateTime));
    if (!step(true,
              "KELVA SMI-S Agent Indications Service: failed to set indication time "
              "property"))
      break;
    source.reset(poller.impl.newInstanceFromIndElement(broker, poller.context, poller.classPath,
                                                       filer, element, &status));
    if (!step(static_cast<bool>(source),
              "KELVA SMI-S Agent Indications Service: failed to create source instance"))
      break;
    modelPath.reset(getSourceInstanceModelPath(broker, source.get(), &status));
    if (!step(modelPath != nullptr,
              "KELVA SMI-S Agent Indications Service: failed to create "
              "source instance model path"))
      break;
    pk::adoptStatus(&status, CMSetProperty(indication.get(), "SourceInstanceModelPath",
                                           modelPath.get(), CMPI_chars));
    if (!step(true,
              "KELVA SMI-S Agent Indications Service: failed to set source instance "
              "model property"))
      break;
    value.inst = source.get();
    pk::adoptStatus(&status,
                    CMSetProperty(indication.get(), "SourceInstance", &value, CMPI_instance));
    if (!step(true, "KELVA SMI-S Agent Indications Service: failed to set SourceInstance property"))
      break;
    if (previous != nullptr) {
      before.reset(poller.impl.newInstanceFromIndElement(broker, poller.context, poller.classPath,
                                                         filer, previous, &status));
      if (!step(static_cast<bool>(before),
                "KELVA SMI-S Agent Indications Service: failed to create previous instance"))
        break;
      value.inst = before.get();
      pk::adoptStatus(&status,
                      CMSetProperty(indication.get(), "PreviousInstance", &value, CMPI_instance));
      if (!step(true,
                "KELVA SMI-S Agent Indications Service: failed to set PreviousInstance "
                "property"))
        break;
    }
    pk::adoptStatus(&status,
                    CBDeliverIndication(broker, poller.context, nameSpace, indication.get()));
    if (failed(&status)) trouble("KELVA SMI-S Agent Indications Service: failed to deliver");
  } while (false);
  // A failed indication ends here: the next change is handled as usual.
  clearCMPIError(broker, &status);
}

// ---- Comparison ---------------------------------------------------------------

// A snapshot entry's elements, indexed, with a cursor where the last match was
// found.  Two polls list a filer's elements in nearly the same order, so
// searching from just after the last match finds a partner in a step or two and
// a poll's comparison stays linear instead of quadratic.  Element keys are
// unique within one filer, so the first match from the cursor is the only one.
struct Side {
  const Entry *entry;
  std::vector<const void *> elements;
  size_t cursor = 0;
};

std::vector<Side> sidesOf(WSIList *snapshot) {
  std::vector<Side> sides;
  for (WSIListPos *pos = WSIList_getFirst(snapshot); pos != nullptr; pos = WSIList_getNext(pos)) {
    Side side{static_cast<const Entry *>(WSIList_getElement(pos)), {}, 0};
    for (WSIListPos *at = WSIList_getFirst(side.entry->elements); at != nullptr;
         at = WSIList_getNext(at)) {
      side.elements.push_back(WSIList_getElement(at));
    }
    sides.push_back(std::move(side));
  }
  return sides;
}

// For each side of one snapshot, the sides of the other whose filer is the same.
std::vector<std::vector<Side *>> partnersOf(std::vector<Side> &from, std::vector<Side> &in) {
  std::vector<std::vector<Side *>> partners(from.size());
  for (size_t i = 0; i < from.size(); ++i) {
    for (Side &other : in) {
      if (areFilersSame(from[i].entry->filer, other.entry->filer) != 0)
        partners[i].push_back(&other);
    }
  }
  return partners;
}

// The element of the partner sides with the same keys as element, or null.
const void *findPolledElement(const WSIIndImpl &impl, const std::vector<Side *> &partners,
                              const void *element) {
  for (Side *side : partners) {
    const size_t count = side->elements.size();
    for (size_t step = 0; step < count; ++step) {
      size_t at = (side->cursor + step) % count;
      if (impl.compareIndElements(element, side->elements[at], 1) != 0) {
        side->cursor = at + 1 == count ? 0 : at + 1;
        return side->elements[at];
      }
    }
  }
  return nullptr;
}

}  // namespace

namespace pk::testing {

size_t comparePolls(const WSIIndImpl &impl, WSIList *previous, WSIList *current, uint8_t wanted,
                    const PolledChange &change) {
  size_t found = 0;
  std::vector<Side> before = sidesOf(previous);
  std::vector<Side> after = sidesOf(current);
  if ((wanted & (PK_IND_CREATE | PK_IND_MODIFY)) != 0) {
    std::vector<std::vector<Side *>> partners = partnersOf(after, before);
    for (size_t i = 0; i < after.size(); ++i) {
      for (const void *element : after[i].elements) {
        const void *old = findPolledElement(impl, partners[i], element);
        if (old != nullptr) {
          if ((wanted & PK_IND_MODIFY) != 0 && impl.compareIndElements(element, old, 0) == 0) {
            ++found;
            if (change) change("CIM_InstModification", after[i].entry->filer, element, old);
          }
        } else if ((wanted & PK_IND_CREATE) != 0) {
          ++found;
          if (change) change("CIM_InstCreation", after[i].entry->filer, element, nullptr);
        }
      }
    }
  }
  if ((wanted & PK_IND_DELETE) != 0) {
    std::vector<std::vector<Side *>> partners = partnersOf(before, after);
    for (size_t i = 0; i < before.size(); ++i) {
      for (const void *element : before[i].elements) {
        if (findPolledElement(impl, partners[i], element) == nullptr) {
          ++found;
          if (change) change("CIM_InstDeletion", before[i].entry->filer, element, nullptr);
        }
      }
    }
  }
  return found;
}

}  // namespace pk::testing

namespace {

void compareAndDeliver(const Poller &poller, WSIList *previous, WSIList *current) {
  const CMPIBroker *broker = poller.broker;
  CMPIStatus status{CMPI_RC_OK, nullptr};
  pk::WsiText nameSpace(getNamespaceAsChar(broker, poller.classPath, &status));
  if (failed(&status) || nameSpace == nullptr) {
    clearCMPIError(broker, &status);
    return;
  }
  uint8_t wanted = 0;
  {
    MachineLock hold(broker, poller.machine);
    if (poller.machine->enabled != 0) {
      if (poller.machine->createCount != 0) wanted |= PK_IND_CREATE;
      if (poller.machine->deleteCount != 0) wanted |= PK_IND_DELETE;
      if (poller.machine->modifyCount != 0) wanted |= PK_IND_MODIFY;
    }
  }
  pk::testing::comparePolls(
      poller.impl, previous, current, wanted,
      [&](const char *className, const Filer *filer, const void *element, const void *old) {
        deliver(poller, className, nameSpace.get(), filer, element, old);
      });
}

// ---- The polling thread -------------------------------------------------------

// Ends the thread under the machine lock (held by the caller's scope): the
// library goes, and the machine is idle again.
void endThread(IndMachine *machine) {
  pk::StatusRecord record;
  WSIUnloadIndImpl(machine->indImpl, record.get());
  machine->indImpl = WSIIndImpl{};
  machine->thread = nullptr;
}

void pollUntilUnsubscribed(Poller &poller) {
  IndMachine *machine = poller.machine;
  const CMPIBroker *broker = poller.broker;
  WSIList *previous = nullptr;
  // The largest value, so that the first cycle polls.
  uint32_t elapsed = std::numeric_limits<uint32_t>::max();
  MachineLock hold(broker, machine);
  while (anySubscription(machine)) {
    const uint32_t interval = machine->pollInterval;
    hold.unlock();
    if (elapsed < interval) {
      elapsed += kCycleSeconds;
    } else {
      CMPIStatus status{CMPI_RC_OK, nullptr};
      WSIList *snapshot = takeSnapshot(poller, &status);
      if (snapshot != nullptr) {
        // The first snapshot only sets the base of the next comparison.
        if (previous != nullptr) {
          compareAndDeliver(poller, previous, snapshot);
          freeSnapshot(previous, poller.impl);
        }
        previous = snapshot;
      }
      clearCMPIError(broker, &status);
      elapsed = 0;
    }
    waitSeconds(kCycleSeconds);
    hold.lock();
  }
  // Still under the lock: the stopper sees the thread gone only once all is clean.
  CMTraceMessage(broker, kLevelStartStop, poller.component, "Stopping Polling Thread", nullptr);
  freeSnapshot(previous, poller.impl);
  if (machine->classPath != nullptr) {
    CMRelease(machine->classPath);
    machine->classPath = nullptr;
  }
  CBDetachThread(broker, poller.context);
  machine->threadContext = nullptr;
  endThread(machine);
}

CMPI_THREAD_RETURN CMPI_THREAD_CDECL pollingThread(void *parameter) {
  auto *machine = static_cast<IndMachine *>(parameter);
  const CMPIBroker *broker = machine->broker;
  waitSeconds(kCycleSeconds);
  const char *component = machine->implLibrary;
  CMTraceMessage(broker, kLevelStartStop, component, "Starting polling thread", nullptr);
  Poller poller{machine, broker, component, nullptr, nullptr, {}};
  {
    MachineLock hold(broker, machine);
    poller.context = machine->threadContext;
    poller.classPath = machine->classPath;
    poller.impl = machine->indImpl;
    CMPIStatus attached = CBAttachThread(broker, poller.context);
    pk::adoptStatus(nullptr, attached);
    if (attached.rc != CMPI_RC_OK) {
      logErrorStatus(broker, kMessageId, "Attach thread failed");
      // Never attached, so nothing will detach it: the prepared context goes here.
      if (poller.context != nullptr) CMRelease(poller.context);
      machine->threadContext = nullptr;
      endThread(machine);
      return nullptr;
    }
  }
  pollUntilUnsubscribed(poller);
  return nullptr;
}

void startPolling(const CMPIBroker *broker, const CMPIContext *context,
                  const CMPIObjectPath *classPath, uint8_t mask, IndMachine *machine,
                  CMPIStatus *status) {
  MachineLock hold(broker, machine);
  if (machine->thread != nullptr) {
    countSubscriptions(machine, mask, 1);
    return;
  }
  CMPIStatus cloned{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIObjectPath> clone(CMClone(classPath, &cloned));
  if (failed(&cloned) || !clone) {
    if (!failed(&cloned)) pk::fail(broker, &cloned, "Failed to clone the filter's class path");
    pk::adoptStatus(status, cloned);
    return;
  }
  pk::StatusRecord record;
  WSIIndImpl impl = WSILoadIndImpl(machine->implLibrary, record.get());
  if (checkStatus(record.get()) != 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return;
  }
  auto unload = [&] {
    pk::StatusRecord unloaded;
    WSIUnloadIndImpl(impl, unloaded.get());
  };
  CMPIContext *threadContext = CBPrepareAttachThread(broker, context);
  if (threadContext == nullptr) {
    unload();
    pk::fail(broker, status, "Failed to prepare polling thread");
    return;
  }
  // The thread reads the machine under the lock that this scope holds, so it
  // sees everything stored below.
  CMPI_THREAD_TYPE thread = broker->xft->newThread(pollingThread, machine, 1);
  if (thread == nullptr) {
    CMRelease(threadContext);
    unload();
    pk::fail(broker, status, "Failed to create Polling thread");
    return;
  }
  machine->indImpl = impl;
  machine->threadContext = threadContext;
  machine->thread = thread;
  // A thread that could not attach left its path behind; the new one replaces it.
  if (machine->classPath != nullptr) CMRelease(machine->classPath);
  machine->classPath = clone.release();
  countSubscriptions(machine, mask, 1);
}

}  // namespace

extern "C" {

CMPIStatus startIndMachine(const CMPIBroker *broker, IndMachine *machine) {
  return pk::statusEdge(broker, [&] {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    if (machine == nullptr || broker == nullptr || broker->xft == nullptr) {
      pk::fail(broker, &status, "Failed to create provider indication mutex");
      return status;
    }
    machine->mutex = broker->xft->newMutex(0);
    if (machine->mutex == nullptr) {
      pk::fail(broker, &status, "Failed to create provider indication mutex");
      return status;
    }
    machine->classPath = nullptr;
    machine->broker = broker;
    return status;
  });
}

CMPIStatus stopIndMachine(const CMPIBroker *broker, IndMachine *machine) {
  return pk::statusEdge(broker, [&] {
    CMPIStatus ok{CMPI_RC_OK, nullptr};
    if (machine == nullptr) return ok;
    bool running = false;
    {
      MachineLock hold(broker, machine);
      running = machine->thread != nullptr;
      if (running) {
        machine->createCount = 0;
        machine->deleteCount = 0;
        machine->modifyCount = 0;
        machine->readCount = 0;
      }
    }
    // The thread notices at its next check, after its current wait.
    while (running) {
      waitSecondsCMPIThread(broker, 1);
      MachineLock hold(broker, machine);
      running = machine->thread != nullptr;
    }
    if (machine->classPath != nullptr) {
      CMRelease(machine->classPath);
      machine->classPath = nullptr;
    }
    if (machine->mutex != nullptr && broker != nullptr) broker->xft->destroyMutex(machine->mutex);
    machine->mutex = nullptr;
    return ok;
  });
}

void wsiauthorize(const CMPIBroker *broker, const CMPIContext *context, const CMPISelectExp *filter,
                  const char *className, const CMPIObjectPath *classPath, IndMachine *machine,
                  CMPIStatus *status) {
  (void)context;
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    checkNamespace(broker, classPath, machine, slot.get());
    if (slot.ok()) checkQuery(broker, filter, machine, slot.get());
    if (slot.ok()) (void)checkClass(broker, className, machine, slot.get());
  });
}

void wsiactivate(const CMPIBroker *broker, const CMPIContext *context, const CMPISelectExp *filter,
                 const char *className, const CMPIObjectPath *classPath,
                 CMPIBoolean firstActivation, IndMachine *machine, CMPIStatus *status) {
  (void)filter;
  (void)firstActivation;
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    checkNamespace(broker, classPath, machine, slot.get());
    if (!slot.ok()) return;
    uint8_t mask = checkClass(broker, className, machine, slot.get());
    if (slot.ok() && machine != nullptr)
      startPolling(broker, context, classPath, mask, machine, slot.get());
  });
}

void wsideactivate(const CMPIBroker *broker, const CMPIContext *context,
                   const CMPISelectExp *filter, const char *className,
                   const CMPIObjectPath *classPath, CMPIBoolean lastActivation, IndMachine *machine,
                   CMPIStatus *status) {
  (void)context;
  (void)filter;
  (void)lastActivation;
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    checkNamespace(broker, classPath, machine, slot.get());
    if (!slot.ok()) return;
    uint8_t mask = checkClass(broker, className, machine, slot.get());
    if (!slot.ok() || machine == nullptr) return;
    MachineLock hold(broker, machine);
    countSubscriptions(machine, mask, -1);
  });
}

void wsienable(const CMPIBroker *broker, IndMachine *machine) {
  MachineLock hold(broker, machine);
  if (machine != nullptr) machine->enabled = 1;
}

void wsidisable(const CMPIBroker *broker, IndMachine *machine) {
  MachineLock hold(broker, machine);
  if (machine != nullptr) machine->enabled = 0;
}

void cloneNamespace(const CMPIBroker *broker, const CMPIObjectPath *path, CMPIObjectPath **place,
                    IndMachine *machine, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    MachineLock hold(broker, machine);
    if (path == nullptr || place == nullptr || *place != nullptr) return;
    CMPIStatus cloned{CMPI_RC_OK, nullptr};
    CMPIObjectPath *clone = CMClone(path, &cloned);
    if (failed(&cloned)) {
      if (clone != nullptr) CMRelease(clone);
      pk::adoptStatus(slot.get(), cloned);
      return;
    }
    *place = clone;
  });
}

char *getSourceInstanceModelPath(const CMPIBroker *broker, const CMPIInstance *instance,
                                 CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge<char *>(broker, slot.get(), nullptr, [&]() -> char * {
    if (instance == nullptr) {
      pk::fail(broker, slot.get(),
               "KELVA SMI-S Agent Indications Service: Source Instance is NULL");
      return nullptr;
    }
    CMPIStatus local{CMPI_RC_OK, nullptr};
    // Both the path and its text belong to the instance.
    CMPIObjectPath *path = CMGetObjectPath(instance, &local);
    CMPIString *text = nullptr;
    if (!failed(&local) && path != nullptr) text = CMObjectPathToString(path, &local);
    const char *chars = !failed(&local) && text != nullptr ? CMGetCharsPtr(text, nullptr) : nullptr;
    if (chars == nullptr) {
      traceFailure(broker, kMessageId, kService, &local);
      pk::adoptStatus(nullptr, local);
      clearCMPIError(broker, slot.get());
      return nullptr;
    }
    char *escaped = escapeAssociationPath(chars);
    char *result = escaped != nullptr ? escaped : wsistrdup(chars);
    if (text != nullptr) CMRelease(text);
    if (path != nullptr) CMRelease(path);
    return result;
  });
}

char *escapeAssociationPath(const char *text) {
  if (text == nullptr) return nullptr;
  const char *antecedent = std::strstr(text, "Antecedent");
  // The search for Dependent starts after "Antecedent=", which must be there.
  if (antecedent == nullptr || std::strlen(antecedent) < 11) return nullptr;
  const char *dependent = std::strstr(antecedent + 11, "Dependent");
  if (dependent == nullptr) return nullptr;
  // Each escape adds one character; the output stays within this size and
  // every append below is cut to it.
  const size_t size = std::strlen(text) + 128;
  auto *out = static_cast<char *>(wsicalloc(size, 1));
  if (out == nullptr) return nullptr;
  size_t used = 0;
  auto append = [&](const char *from, size_t length) {
    size_t room = size - 1 - used;
    if (length > room) length = room;
    std::memcpy(out + used, from, length);
    used += length;
  };
  auto appendText = [&](const char *from) { append(from, std::strlen(from)); };
  // The reference value's pieces between its double quotes, each followed by
  // an escaped quote; empty pieces (the value's own outer quotes) are skipped.
  auto appendEscaped = [&](const char *from, const char *end) {
    while (from < end) {
      const char *quote = static_cast<const char *>(std::memchr(from, '"', end - from));
      const char *stop = quote != nullptr ? quote : end;
      if (stop > from) {
        append(from, stop - from);
        appendText("\\\"");
      }
      from = stop + 1;
    }
  };
  append(text, antecedent + 10 - text);
  appendText("=\"");
  // The Antecedent value ends at the comma before Dependent.
  const char *valueStart = antecedent + 11;
  const char *valueEnd = dependent - 1;
  if (valueEnd < valueStart) valueEnd = valueStart;
  appendEscaped(valueStart, valueEnd);
  appendText("\",Dependent=\"");
  const char *dependentValue = dependent + 10;
  const char *textEnd = text + std::strlen(text);
  if (dependentValue > textEnd) dependentValue = textEnd;
  appendEscaped(dependentValue, textEnd);
  appendText("\"");
  return out;
}

}  // extern "C"
