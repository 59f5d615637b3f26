// What the library reads from a filer (identity, takeover state, addresses,
// version) and the cache of per-filer data, one entry with its own lock per filer.
// The cache is the one place that owns per-filer cached state: new kinds of cached
// data become new members of CacheEntry, filled by its loader.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <regex>
#include <string>
#include <vector>

#include "cache.h"
#include "diag.h"
#include "kit.h"
#include "transport.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace {

using wsi::Element;
using wsi::Session;

// "d.c.b.a.in-addr.arpa" for "a.b.c.d"; empty when the text is not an IPv4 address.
std::string reverseName(const char *address) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char rest = 0;
  if (address == nullptr || std::sscanf(address, "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4 ||
      a > 255 || b > 255 || c > 255 || d > 255) {
    return std::string();
  }
  return std::to_string(d) + "." + std::to_string(c) + "." + std::to_string(b) + "." +
         std::to_string(a) + ".in-addr.arpa";
}

// Appends the IPv4 addresses of a net-ifconfig-get answer, in order.
bool collectIPv4(const WSIElement *answer, std::vector<std::string> &out) {
  WSIIterator *interfaces =
      _createIterator(getChildElement(answer, "interfaces"), __FILE__, __LINE__);
  if (interfaces == nullptr) return false;
  while (WSIElement *info = getNextElement(interfaces)) {
    WSIIterator *addresses =
        _createIterator(getChildElement(info, "ipv4-addresses"), __FILE__, __LINE__);
    if (addresses == nullptr) {
      releaseIterator(interfaces);
      return false;
    }
    while (WSIElement *address = getNextElement(addresses)) {
      const char *text = getStringElement(address, "address");
      if (text != nullptr && *text != '\0') out.emplace_back(text);
    }
    releaseIterator(addresses);
  }
  releaseIterator(interfaces);
  return true;
}

uint16_t healthFromText(const char *text) {
  if (text == nullptr) return 0;
  if (strCompare(text, "ok") == 0) return 5;
  if (strCompare(text, "degraded") == 0) return 15;
  if (strCompare(text, "critical") == 0) return 25;
  if (strCompare(text, "non-recoverable") == 0) return 30;
  return 0;
}

// ---- The cache ---------------------------------------------------------------------

struct CacheEntry {
  std::mutex lock;
  std::unique_ptr<Filer, void (*)(void *)> filer{nullptr, freeFiler};
  bool loaded = false;
  std::chrono::steady_clock::time_point loadedAt;
  FilerSpecificData data{};
  // Where the filer is reached (hostKey), so that a change sent over any connection
  // finds the entries it makes stale; guarded by cacheLock.
  std::string key;
  // A filer that did not answer in time, shared by both sides.
  wsi::QuietTime quiet;
  // The storage side (cache.h), under its own lock.
  std::mutex storageLock;
  std::unique_ptr<Filer, void (*)(void *)> storageFiler{nullptr, freeFiler};
  std::unique_ptr<wsi::StoragePieces, wsi::StoragePiecesDeleter> pieces;
  std::atomic<uint64_t> generations[wsi::kPieceCount] = {};
  ~CacheEntry() { wsifree(data.iscsiNodeName); }
};

std::mutex cacheLock;
std::map<std::string, std::shared_ptr<CacheEntry>> &cache() {
  static std::map<std::string, std::shared_ptr<CacheEntry>> entries;
  return entries;
}

std::string keyOf(const Filer *filer) { return wsi::lowerAscii(filer->systemId); }

bool sameText(const char *a, const char *b) {
  return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// True when both records reach the filer the same way, with the same credentials.
bool sameReach(const Filer *a, const Filer *b) {
  return sameText(a->host, b->host) && sameText(a->userName, b->userName) &&
         sameText(a->password, b->password) && a->connParam1 == b->connParam1 &&
         a->connParam2 == b->connParam2 && a->connParam3 == b->connParam3;
}

// Marks the pieces that a request sent to the filer at key may change, in every
// entry reached there.
void markChanged(const std::string &key, const std::string &api) {
  unsigned pieces = wsi::piecesChangedBy(api);
  if (pieces == 0) return;
  std::lock_guard<std::mutex> guard(cacheLock);
  for (auto &item : cache()) {
    CacheEntry &entry = *item.second;
    if (entry.key != key) continue;
    for (unsigned piece = 0; piece < wsi::kPieceCount; ++piece) {
      if ((pieces & (1u << piece)) != 0) entry.generations[piece].fetch_add(1);
    }
  }
}

bool validFiler(const Filer *filer, KELVAStatus *status) {
  if (filer == nullptr || filer->systemId == nullptr || filer->host == nullptr) {
    setKELVAStatus(status, 0, "No filer, or a filer without system id or host");
    return false;
  }
  return true;
}

std::shared_ptr<CacheEntry> findEntry(const Filer *filer) {
  std::lock_guard<std::mutex> guard(cacheLock);
  auto found = cache().find(keyOf(filer));
  return found != cache().end() ? found->second : nullptr;
}

// Throws when memory runs out.
std::shared_ptr<CacheEntry> findOrAddEntry(const Filer *filer) {
  // Entries follow every request sent from now on; before the first there is nothing
  // a request could make stale.
  static std::once_flag observing;
  std::call_once(observing, [] { wsi::setSentObserver(markChanged); });
  std::string key = wsi::hostKey(filer->host, filer->connParam1, filer->connParam2);
  std::lock_guard<std::mutex> guard(cacheLock);
  auto &entry = cache()[keyOf(filer)];
  if (entry == nullptr) entry = std::make_shared<CacheEntry>();
  entry->key = std::move(key);
  return entry;
}

// Reads the entry's data from the filer; the entry is locked by the caller.  The
// status is set on failure; away tells whether the filer was away (or resting) rather
// than refusing or failing the request.
bool loadEntry(CacheEntry &entry, const Filer *filer, KELVAStatus *status, bool &away) {
  away = false;
  Filer *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer)));
  if (copy == nullptr) {
    wsi::fail(status, "Insufficient memory for a filer cache entry");
    return false;
  }
  entry.filer.reset(copy);
  std::string resting = entry.quiet.why(filer->host);
  if (!resting.empty()) {
    away = true;
    wsi::fail(status, resting);
    return false;
  }
  Session session(filer, status);
  if (!session.ok()) return false;
  // Without iSCSI (not licensed or switched off) the filer refuses the last two; that
  // is an answer about the filer, not a failure.
  Element answers[3];
  const char *apis[3] = {"diagnosis-status-get", "iscsi-node-get-name", "iscsi-service-status"};
  for (int i = 0; i < 3; ++i) {
    answers[i] = session.send(apis[i], status);
    if (answers[i] == nullptr) return false;
    entry.quiet.note(answers[i].get());
    bool failed = checkResultStatus(answers[i].get()) == 0;
    if (failed && (i == 0 || wsi::libraryFailure(answers[i].get()))) {
      away = wsi::filerAway(answers[i].get());
      session.reportFailure(answers[i].get(), status);
      return false;
    }
  }
  const WSIElement *health = answers[0].get();
  const WSIElement *node = answers[1].get();
  const WSIElement *service = answers[2].get();
  char *nodeName = nullptr;
  if (checkResultStatus(node) != 0) {
    nodeName = wsi::newTextOrNull(getStringElement(node, "node-name"));
    if (nodeName == nullptr && getStringElement(node, "node-name") != nullptr) {
      wsi::fail(status, "Insufficient memory for a filer cache entry");
      return false;
    }
  }
  wsifree(entry.data.iscsiNodeName);
  entry.data.healthState = healthFromText(getStringElement(health, "status"));
  entry.data.iscsiNodeName = nodeName;
  entry.data.iscsiNodeState =
      checkResultStatus(service) != 0 && getBoolElement(service, "is-available", 0) != 0 ? 1 : 0;
  entry.loaded = true;
  entry.loadedAt = std::chrono::steady_clock::now();
  return true;
}

int64_t nowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool stale(const CacheEntry &entry) {
  return !entry.loaded || std::chrono::steady_clock::now() - entry.loadedAt >
                              std::chrono::seconds(WSI_FILER_CACHE_TTL_SECONDS);
}

}  // namespace

namespace wsi {

std::string QuietTime::why(const char *host) const {
  int64_t until = untilMillis_.load();
  int64_t now = nowMillis();
  if (until == 0 || now >= until) return std::string();
  return std::string("Filer ") + (host != nullptr ? host : "") +
         " did not answer in time; it is not asked again for " +
         std::to_string((until - now + 999) / 1000) + " s";
}

void QuietTime::note(const WSIElement *answer) {
  if (getResultErrorNum(answer) == WSI_ERR_TIMEOUT) {
    untilMillis_.store(nowMillis() + static_cast<int64_t>(kQuietSeconds) * 1000);
  } else if (answer != nullptr) {
    untilMillis_.store(0);
  }
}

bool withStorage(const Filer *filer, KELVAStatus *status,
                 const std::function<bool(StorageAccess &)> &use) {
  if (!validFiler(filer, status)) return false;
  std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer);
  std::lock_guard<std::mutex> guard(entry->storageLock);
  // The caller's record is the current one (a changed password, say).
  Filer *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer)));
  if (copy == nullptr) {
    fail(status, "Insufficient memory for a filer cache entry");
    return false;
  }
  entry->storageFiler.reset(copy);
  StorageAccess access{copy, entry->pieces, entry->generations, entry->quiet};
  return use(access);
}

bool withStorageOf(const std::string &systemId, KELVAStatus *status,
                   const std::function<bool(StorageAccess &)> &use) {
  std::shared_ptr<CacheEntry> entry;
  {
    std::lock_guard<std::mutex> guard(cacheLock);
    auto found = cache().find(lowerAscii(systemId));
    if (found != cache().end()) entry = found->second;
  }
  if (entry == nullptr) {
    fail(status, "No cached filer with system id " + systemId);
    return false;
  }
  std::lock_guard<std::mutex> guard(entry->storageLock);
  StorageAccess access{entry->storageFiler.get(), entry->pieces, entry->generations, entry->quiet};
  return use(access);
}

}  // namespace wsi

namespace {

KELVASysInfo *sysInfo(const Filer *filer, KELVAStatus *status) {
  Session session(filer, status);
  if (!session.ok()) return nullptr;
  std::unique_ptr<KELVASysInfo, void (*)(KELVASysInfo *)> info(
      static_cast<KELVASysInfo *>(wsicalloc(1, sizeof(KELVASysInfo))), freeKELVASysInfo);
  if (info == nullptr) {
    wsi::fail(status, "Insufficient memory for system information");
    return nullptr;
  }
  Element answer = session.send("system-get-info", status);
  if (answer == nullptr) return nullptr;
  // A filer that does not answer is reported off line; one that answers wrongly, or
  // that cannot be trusted or logged in to, is a failure.
  if (wsi::filerAway(answer.get())) {
    info->online = 0;
    info->systemId = wsi::newTextOrNull(filer->systemId);
    if (info->systemId == nullptr && filer->systemId != nullptr) {
      wsi::fail(status, "Insufficient memory for system information");
      return nullptr;
    }
    return info.release();
  }
  if (checkResultStatus(answer.get()) == 0) {
    session.reportFailure(answer.get(), status);
    return nullptr;
  }
  Element version = session.call("system-get-version", status);
  if (version == nullptr) return nullptr;
  Element interfaces = session.call("net-ifconfig-get", status);
  if (interfaces == nullptr) return nullptr;
  const WSIElement *details = getChildElement(answer.get(), "system-info");
  std::vector<std::string> addresses;
  if (!collectIPv4(interfaces.get(), addresses)) {
    wsi::fail(status, "Insufficient memory for system information");
    return nullptr;
  }
  std::string reverse;
  for (const std::string &address : addresses) {
    if (address.rfind("127.", 0) == 0) continue;
    reverse = reverseName(address.c_str());
    if (!reverse.empty()) break;
  }
  info->online = 1;
  bool ok = true;
  auto copy = [&ok](const char *text) {
    char *result = wsi::newTextOrNull(text);
    if (result == nullptr && text != nullptr) ok = false;
    return result;
  };
  info->systemId = copy(getStringElement(details, "system-id"));
  info->systemName = copy(getStringElement(details, "system-name"));
  info->serialNumber = copy(getStringElement(details, "system-serial-number"));
  info->reverseLookupName = reverse.empty() ? nullptr : copy(reverse.c_str());
  info->model = copy(getStringElement(details, "system-model"));
  info->vendor = copy(getStringElement(details, "vendor-id"));
  info->osVersion = copy(getStringElement(version.get(), "version"));
  if (!ok) {
    wsi::fail(status, "Insufficient memory for system information");
    return nullptr;
  }
  return info.release();
}

// Drops the entry from the table unless another has replaced it.
void forget(const Filer *filer, const std::shared_ptr<CacheEntry> &entry) {
  std::lock_guard<std::mutex> guard(cacheLock);
  auto found = cache().find(keyOf(filer));
  if (found != cache().end() && found->second == entry) cache().erase(found);
}

FilerCacheEntry *lockEntry(const Filer *filer, KELVAStatus *status) {
  while (true) {
    std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer);
    std::unique_lock<std::mutex> hold(entry->lock);
    if (findEntry(filer) != entry) continue;  // deleted while we waited: start over
    // Data read with other credentials or at another address is not this record's.
    bool changed = entry->filer != nullptr && !sameReach(entry->filer.get(), filer);
    if (stale(*entry) || changed) {
      wsi::StatusRecord local;
      bool away = false;
      if (!loadEntry(*entry, filer, local.get(), away)) {
        if (!entry->loaded || !away) {
          // Nothing to offer, or a failure that old data must not hide (refused
          // credentials, an untrusted certificate, a wrong answer).
          wsi::fail(status, local.message() != nullptr ? local.message() : "Filer refresh failed");
          return nullptr;
        }
        // What was read before is better than nothing while the filer is away.
        WSI_LOG(std::string("Keeping cached data of ") + filer->systemId + ": " +
                (local.message() != nullptr ? local.message() : "refresh failed"));
      }
    }
    (void)hold.release();  // held until FilerCache_releaseEntry
    return reinterpret_cast<FilerCacheEntry *>(entry.get());
  }
}

}  // namespace

extern "C" {

WSI_EXPORT KELVASysInfo *getKELVASysInfo(KELVAStatus *status, const Filer *filer) {
  return wsi::cEdge(status, static_cast<KELVASysInfo *>(nullptr),
                    [&](KELVAStatus *st) { return sysInfo(filer, st); });
}

WSI_EXPORT void freeKELVASysInfo(KELVASysInfo *info) {
  if (info == nullptr) return;
  wsi::freeWithTexts(info, {info->systemId, info->systemName, info->serialNumber,
                            info->reverseLookupName, info->model, info->vendor, info->osVersion});
}

WSI_EXPORT KELVACFStatus *getCFStatus(const Filer *filer, KELVAStatus *status) {
  return wsi::cEdge(status, static_cast<KELVACFStatus *>(nullptr), [&](KELVAStatus *st) {
    Session session(filer, st);
    if (!session.ok()) return static_cast<KELVACFStatus *>(nullptr);
    Element answer = session.call("cf-status", st);
    if (answer == nullptr) return static_cast<KELVACFStatus *>(nullptr);
    auto *cf = static_cast<KELVACFStatus *>(wsicalloc(1, sizeof(KELVACFStatus)));
    if (cf == nullptr) {
      wsi::fail(st, "Insufficient memory for the takeover state");
      return cf;
    }
    cf->enabled = getBoolElement(answer.get(), "is-enabled", 0);
    const char *texts[3] = {getStringElement(answer.get(), "state"),
                            getStringElement(answer.get(), "partner-name"),
                            getStringElement(answer.get(), "state-reason")};
    char **fields[3] = {&cf->state, &cf->partner, &cf->reason};
    for (int i = 0; i < 3; ++i) {
      *fields[i] = wsi::newTextOrNull(texts[i]);
      if (*fields[i] == nullptr && texts[i] != nullptr) {
        freeCFStatus(cf);
        wsi::fail(st, "Insufficient memory for the takeover state");
        return static_cast<KELVACFStatus *>(nullptr);
      }
    }
    return cf;
  });
}

WSI_EXPORT void freeCFStatus(KELVACFStatus *cfStatus) {
  if (cfStatus == nullptr) return;
  wsi::freeWithTexts(cfStatus, {cfStatus->state, cfStatus->partner, cfStatus->reason});
}

WSI_EXPORT WSIList *getAllIPV4IPs(const Filer *filer, KELVAStatus *status) {
  return wsi::cEdge(status, static_cast<WSIList *>(nullptr), [&](KELVAStatus *st) {
    Session session(filer, st);
    if (!session.ok()) return static_cast<WSIList *>(nullptr);
    Element answer = session.call("net-ifconfig-get", st);
    if (answer == nullptr) return static_cast<WSIList *>(nullptr);
    std::vector<std::string> addresses;
    WSIList *list = WSIList_new();
    if (list == nullptr || !collectIPv4(answer.get(), addresses)) {
      WSIList_free(list, nullptr);
      wsi::fail(st, "Insufficient memory for the address list");
      return static_cast<WSIList *>(nullptr);
    }
    for (const std::string &address : addresses) {
      char *copy = wsi::newText(address);
      if (copy == nullptr || WSIList_append(list, copy) == 0) {
        wsifree(copy);
        WSIList_free(list, wsifree);
        wsi::fail(st, "Insufficient memory for the address list");
        return static_cast<WSIList *>(nullptr);
      }
    }
    return list;
  });
}

WSI_EXPORT int getSystemVersion(KELVAStatus *status, const Filer *filer, int32_t *major,
                                int32_t *minor, int32_t *micro) {
  return wsi::cEdge(status, 0, [&](KELVAStatus *st) {
    Session session(filer, st);
    if (!session.ok()) return 0;
    Element answer = session.call("system-get-version", st);
    if (answer == nullptr) return 0;
    const char *text = getStringElement(answer.get(), "version");
    static const std::regex release(R"((\d+)\.(\d+)(?:\.(\d+))?)");
    std::cmatch m;
    if (text == nullptr || !std::regex_search(text, m, release)) {
      wsi::fail(
          st, std::string("Unable to read the release of '") + (text != nullptr ? text : "") + "'");
      return 0;
    }
    if (major != nullptr) *major = std::stoi(m[1].str());
    if (minor != nullptr) *minor = std::stoi(m[2].str());
    if (micro != nullptr) *micro = m[3].matched ? std::stoi(m[3].str()) : 0;
    return 1;
  });
}

WSI_EXPORT int FilerCache_addEntry(const Filer *filer, int flag, KELVAStatus *status) {
  return wsi::cEdge(status, 0, [&](KELVAStatus *st) {
    if (!validFiler(filer, st)) return 0;
    std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer);
    std::lock_guard<std::mutex> guard(entry->lock);
    if (flag == 0) {
      if (entry->filer == nullptr) {
        entry->filer.reset(static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer))));
        if (entry->filer == nullptr) {
          wsi::fail(st, "Insufficient memory for a filer cache entry");
          return 0;
        }
      }
      return 1;
    }
    bool away = false;
    if (loadEntry(*entry, filer, st, away)) return 1;
    if (!entry->loaded) forget(filer, entry);  // an eager add that failed leaves no entry
    return 0;
  });
}

WSI_EXPORT int FilerCache_deleteEntry(const Filer *filer, KELVAStatus *status) {
  return wsi::cEdge(status, 0, [&](KELVAStatus *st) {
    if (!validFiler(filer, st)) return 0;
    std::shared_ptr<CacheEntry> entry = findEntry(filer);
    if (entry == nullptr) {
      wsi::fail(st, std::string("No cache entry for filer ") + filer->systemId);
      return 0;
    }
    std::lock_guard<std::mutex> holder(entry->lock);  // waits for whoever holds it
    forget(filer, entry);
    return 1;
  });
}

WSI_EXPORT FilerCacheEntry *FilerCache_lockEntry(const Filer *filer, KELVAStatus *status) {
  return wsi::cEdge(status, static_cast<FilerCacheEntry *>(nullptr), [&](KELVAStatus *st) {
    return validFiler(filer, st) ? lockEntry(filer, st) : nullptr;
  });
}

WSI_EXPORT void FilerCache_releaseEntry(const Filer *filer) {
  if (filer == nullptr || filer->systemId == nullptr) return;
  wsi::cEdge(0, [&] {
    std::shared_ptr<CacheEntry> entry = findEntry(filer);
    if (entry != nullptr) entry->lock.unlock();
    return 0;
  });
}

WSI_EXPORT FilerSpecificData *FilerCache_getFilerSpecificData(FilerCacheEntry *entry) {
  return entry != nullptr ? &reinterpret_cast<CacheEntry *>(entry)->data : nullptr;
}

}  // extern "C"
