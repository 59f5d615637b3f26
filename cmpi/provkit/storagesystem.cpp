// The storage system's snapshot and the process-wide health cache that the
// filers' SNMP traps feed.  The cache, the trap library record and the
// subscribed flag are guarded by the health mutex made when the library is
// loaded; nothing sleeps or calls the trap library while holding it, since
// the trap library may wait for a callback that waits for the mutex.
#include "provkit/storagesystem.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>

#include <array>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "filerconn.h"
#include "guards.h"
#include "internal.h"
#include "provkit/frame.h"
#include "provkit/loader.h"
#include "systemhooks.h"

namespace {

using pk::platform::OsMutex;

constexpr const char *kClassName = "KELVA_StorageSystem";
constexpr const char *kMessageId = "getKELVAStorageSystem";

// What each trap says about the filer's health, in subscription order.
struct TrapHealth {
  int trap;
  uint16_t health;
};
constexpr std::array<TrapHealth, 4> kTraps{{{111, 30}, {113, 25}, {115, 15}, {116, 5}}};

constexpr uint16_t kHealthOk = 5;
constexpr int64_t kOnlineWaitSeconds = 180;
constexpr unsigned kOnlineStepSeconds = 10;

// One source's last reported health.
struct HealthEntry {
  char *source;
  uint16_t health;
};

void freeHealthEntry(void *element) {
  auto *entry = static_cast<HealthEntry *>(element);
  if (entry == nullptr) return;
  wsifree(entry->source);
  wsifree(entry);
}

// Guarded by the health mutex.
WSIList *healthList = nullptr;
WSISNMPImpl trapLibrary{};
bool trapsLoaded = false;
bool subscribed = false;

// Holds the health mutex when there is one (a refused load leaves none).
class HealthLock {
 public:
  HealthLock() : mutex_(pk::healthMutex()) {
    if (mutex_ != nullptr) pk::platform::mutexLock(mutex_);
  }
  ~HealthLock() {
    if (mutex_ != nullptr) pk::platform::mutexUnlock(mutex_);
  }
  HealthLock(const HealthLock &) = delete;
  HealthLock &operator=(const HealthLock &) = delete;
  bool held() const { return mutex_ != nullptr; }

 private:
  OsMutex *mutex_;
};

uint16_t healthOfTrap(int trap) {
  for (const TrapHealth &t : kTraps)
    if (t.trap == trap) return t.health;
  return 0;
}

HealthEntry *findEntry(const char *source) {
  for (WSIListPos *p = WSIList_getFirst(healthList); p != nullptr; p = WSIList_getNext(p)) {
    auto *entry = static_cast<HealthEntry *>(WSIList_getElement(p));
    if (strCompare(entry->source, source) == 0) return entry;
  }
  return nullptr;
}

// Runs on the trap library's threads.
void onHealthTrap(int trapNumber, const char *source, void *) {
  if (source == nullptr) return;
  uint16_t health = healthOfTrap(trapNumber);
  HealthLock lock;
  if (!lock.held() || healthList == nullptr) return;
  if (HealthEntry *entry = findEntry(source)) {
    entry->health = health;
    return;
  }
  auto *entry = static_cast<HealthEntry *>(wsicalloc(1, sizeof(HealthEntry)));
  if (entry == nullptr) return;
  entry->source = wsistrdup(source);
  entry->health = health;
  if (entry->source == nullptr || WSIList_append(healthList, entry) == 0) freeHealthEntry(entry);
}

// Unsubscribes every trap while the status stays good and unloads the library.
void dropTraps(const CMPIBroker *broker, WSISNMPImpl library, CMPIStatus *status) {
  for (const TrapHealth &t : kTraps) {
    if (pk::failed(status)) break;
    library.SNMPTrapUnSubscribe(broker, kClassName, t.trap, status);
  }
  pk::StatusSlot unload(nullptr);
  WSI_CMPIUnloadSNMPImpl(broker, unload.get(), library);
}

// Loads the trap library and subscribes to every trap; false (nothing kept)
// when one step fails.  Runs without the health mutex: the trap library may
// wait for a callback in flight, which waits for that mutex.
bool subscribeTraps(const CMPIBroker *broker, WSISNMPImpl *loaded) {
  pk::StatusSlot load(nullptr);
  WSISNMPImpl library = WSI_CMPILoadSNMPImpl(broker, load.get());
  if (load.failed()) return false;
  pk::StatusSlot status(nullptr);
  size_t done = 0;
  for (; done < kTraps.size(); ++done) {
    library.SNMPTrapSubscribe(broker, kClassName, kTraps[done].trap, onHealthTrap, nullptr,
                              status.get());
    if (status.failed()) break;
  }
  if (status.failed()) {
    char text[128];
    std::snprintf(text, sizeof text, "Failed to subscribe to trap #%d!", kTraps[done].trap);
    pk::logAt(broker, 1, kMessageId, text);
    // Those already made go first, so that no callback outlives the library.
    pk::StatusSlot drop(nullptr);
    for (size_t i = 0; i < done && drop.ok(); ++i)
      library.SNMPTrapUnSubscribe(broker, kClassName, kTraps[i].trap, drop.get());
    pk::StatusSlot unload(nullptr);
    WSI_CMPIUnloadSNMPImpl(broker, unload.get(), library);
    return false;
  }
  *loaded = library;
  return true;
}

// Makes the health cache and the subscription once.  setupLock keeps two
// first requests from subscribing twice; the health mutex is taken only for
// the shared state, never around the trap library's calls.
std::mutex setupLock;

void setUpHealthCache(const CMPIBroker *broker) {
  std::lock_guard<std::mutex> setup(setupLock);
  {
    HealthLock lock;
    if (!lock.held() || subscribed) return;
    if (healthList == nullptr) healthList = WSIList_new();
    if (healthList == nullptr) {
      pk::logAt(broker, 1, kMessageId, "Unable to allocate Health status list!!");
      return;
    }
  }
  WSISNMPImpl library{};
  if (!subscribeTraps(broker, &library)) return;
  HealthLock lock;
  trapLibrary = library;
  trapsLoaded = true;
  subscribed = true;
}

// The first entry whose source is one of names; null when none.
const HealthEntry *entryNaming(const std::vector<std::string> &names) {
  for (WSIListPos *p = WSIList_getFirst(healthList); p != nullptr; p = WSIList_getNext(p)) {
    auto *entry = static_cast<HealthEntry *>(WSIList_getElement(p));
    for (const std::string &name : names)
      if (strCompare(entry->source, name.c_str()) == 0) return entry;
  }
  return nullptr;
}

// The health the cache holds for the filer: the first entry naming it (by its
// host as written, else by one of the host's addresses), else OK.  The host
// is resolved only when some trap came and none names it as written, so that
// a filer without traps costs no name lookup.
uint16_t cachedHealth(const Filer *filer) {
  if (filer->host == nullptr) return kHealthOk;
  {
    HealthLock lock;
    if (!lock.held() || WSIList_isEmpty(healthList)) return kHealthOk;
    if (const HealthEntry *entry = entryNaming({filer->host})) return entry->health;
  }
  std::vector<std::string> addresses = pk::platform::hostAddresses(filer->host);
  if (addresses.empty()) return kHealthOk;
  HealthLock lock;
  if (!lock.held()) return kHealthOk;
  const HealthEntry *entry = entryNaming(addresses);
  return entry != nullptr ? entry->health : kHealthOk;
}

// The health of the filer's cache entry; 0 with the reason in status.
uint16_t filerCacheHealth(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  pk::StatusRecord record;
  FilerCacheEntry *entry = FilerCache_lockEntry(filer, record.get());
  if (entry == nullptr) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return 0;
  }
  const FilerSpecificData *data = FilerCache_getFilerSpecificData(entry);
  uint16_t health = data != nullptr ? data->healthState : 0;
  FilerCache_releaseEntry(filer);
  return health;
}

struct SysInfoFree {
  void operator()(KELVASysInfo *info) const { freeKELVASysInfo(info); }
};
using SysInfo = std::unique_ptr<KELVASysInfo, SysInfoFree>;

bool offline(const KELVASysInfo *info) { return info == nullptr || info->online == 0; }

// New system information; empty with the controller's reason raised.
SysInfo readSysInfo(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  pk::StatusRecord record;
  SysInfo info(getKELVASysInfo(record.get(), filer));
  if (!info || record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return SysInfo();
  }
  return info;
}

// The operational status with a private status: false (its message logged)
// when the takeover state cannot be read.
bool operationalStatusOf(const CMPIBroker *broker, const Filer *filer, const KELVASysInfo *info,
                         uint16_t *out) {
  pk::StatusSlot own(nullptr);
  *out = getCFOperationalStatus(broker, own.get(), filer, info);
  if (own.ok()) return true;
  const char *text = own.get()->msg != nullptr ? CMGetCharsPtr(own.get()->msg, nullptr) : nullptr;
  pk::logAt(broker, 1, kMessageId, text != nullptr ? text : "Unknown error");
  return false;
}

int64_t now() {
  wsi_timeval t{};
  wsi_gettimeofday(&t, nullptr);
  return static_cast<int64_t>(t.tv_sec);
}

// Lets the trap library go when provkit leaves the process without
// unloadKELVAStorageSystemTraps: unloading it stops its listener, so that no
// callback reaches code that is gone.  Its subscribe functions are not called
// here: at process exit its own state may already be torn down.
struct TrapsAtUnload {
  TrapsAtUnload() = default;
  TrapsAtUnload(const TrapsAtUnload &) = delete;
  TrapsAtUnload &operator=(const TrapsAtUnload &) = delete;
  ~TrapsAtUnload() {
    if (!trapsLoaded) return;
    pk::StatusRecord record;
    WSIUnloadLib(trapLibrary.handle, record.get());
    trapsLoaded = false;
    WSIList_free(healthList, freeHealthEntry);
    healthList = nullptr;
  }
} trapsAtUnload;

void unloadTraps(const CMPIBroker *broker) {
  WSISNMPImpl library{};
  bool loaded = false;
  {
    HealthLock lock;
    WSIList_free(healthList, freeHealthEntry);
    healthList = nullptr;
    loaded = trapsLoaded;
    library = trapLibrary;
    trapsLoaded = false;
    trapLibrary = WSISNMPImpl{};
  }
  if (!loaded) return;
  pk::StatusSlot status(nullptr);
  dropTraps(broker, library, status.get());
}

}  // namespace

extern "C" {

uint16_t getCFOperationalStatus(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                const KELVASysInfo *info) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), uint16_t{0}, [&]() -> uint16_t {
    if (info != nullptr && info->online == 0) return 12;
    pk::StatusRecord record;
    KELVACFStatus *cf = getCFStatus(filer, record.get());
    if (record.failed()) {
      freeCFStatus(cf);
      raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      return 0;
    }
    uint16_t result = 2;  // also without a takeover record or state
    if (cf != nullptr && cf->state != nullptr) {
      for (const char *degraded :
           {"TAKEOVER SCHEDULED", "TAKEOVER STARTED", "TAKEOVER", "GIVEBACK STARTED"}) {
        if (strCompare(cf->state, degraded) == 0) result = 3;
      }
      if (strCompare(cf->state, "ERROR") == 0) result = 6;
    }
    freeCFStatus(cf);
    return result;
  });
}

KELVAStorageSystem *getKELVAStorageSystem(const CMPIBroker *broker, CMPIStatus *status,
                                          const Filer *filer, int skipEarlyCheck, int waitForOnline,
                                          int requireOnline) {
  pk::StatusSlot slot(status);
  return pk::cEdge(
      broker, slot.get(), static_cast<KELVAStorageSystem *>(nullptr),
      [&]() -> KELVAStorageSystem * {
        if (filer == nullptr) {
          pk::fail(broker, slot.get(), "Unable to allocate KELVAStorageSystem.");
          return nullptr;
        }
        setUpHealthCache(broker);
        const int64_t start = now();
        SysInfo info = readSysInfo(broker, slot.get(), filer);
        if (!info) return nullptr;

        bool lookedUp = false;
        uint16_t health = kHealthOk;
        uint16_t operational = 0;
        if (skipEarlyCheck == 0) {
          health = cachedHealth(filer);
          lookedUp = true;
          if (!operationalStatusOf(broker, filer, info.get(), &operational)) return nullptr;
        }
        if (waitForOnline != 0) {
          while (now() - start <= kOnlineWaitSeconds && offline(info.get())) {
            waitSeconds(kOnlineStepSeconds);
            info.reset();
            info = readSysInfo(broker, slot.get(), filer);
            if (!info) return nullptr;
            health = cachedHealth(filer);
            lookedUp = true;
          }
        }
        if (requireOnline != 0 && offline(info.get())) {
          char text[128];
          std::snprintf(text, sizeof text, "Storage System %s is off-line.",
                        filer->host != nullptr ? filer->host : "");
          pk::traceAt(broker, 1, kMessageId, text);
          return nullptr;
        }
        if (!operationalStatusOf(broker, filer, info.get(), &operational)) return nullptr;

        auto *system = static_cast<KELVAStorageSystem *>(wsicalloc(1, sizeof(KELVAStorageSystem)));
        if (system == nullptr) {
          pk::fail(broker, slot.get(), "Unable to allocate KELVAStorageSystem.");
          return nullptr;
        }
        system->sysInfo = info.release();
        system->operationalStatus = operational;
        system->healthState = (!lookedUp || health == kHealthOk)
                                  ? filerCacheHealth(broker, slot.get(), filer)
                                  : health;
        return system;
      });
}

void freeKELVAStorageSystem(KELVAStorageSystem *system) {
  if (system == nullptr) return;
  freeKELVASysInfo(system->sysInfo);
  wsifree(system);
}

void unloadKELVAStorageSystemTraps(const CMPIBroker *broker) {
  pk::quietEdge(0, [&] {
    unloadTraps(broker);
    return 0;
  });
}

}  // extern "C"

namespace pk::testing {

PK_TEST_HOOK void resetStorageSystemHealth(const CMPIBroker *broker) {
  std::lock_guard<std::mutex> setup(setupLock);
  unloadTraps(broker);
  HealthLock lock;
  subscribed = false;
}

PK_TEST_HOOK void useDnsServer(const char *address, uint16_t port) {
  platform::setDnsServer(address != nullptr ? address : "", port);
}

}  // namespace pk::testing
