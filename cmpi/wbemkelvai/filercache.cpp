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
#include "filerio.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace {

using ElementPtr = std::unique_ptr<WSIElement, void (*)(WSIElement *)>;
using ServerPtr = std::unique_ptr<WSIServerInfo, void (*)(WSIServerInfo *)>;

ElementPtr noElement() { return ElementPtr(nullptr, freeElement); }

ServerPtr connect(const Filer *filer, KELVAStatus *status) {
  if (filer == nullptr || filer->host == nullptr) {
    setKELVAStatus(status, 0, "No filer given");
    return ServerPtr(nullptr, destroyServerInfo);
  }
  ServerPtr server(
      _createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                        filer->connParam1, filer->connParam2, __FILE__, __LINE__),
      destroyServerInfo);
  if (server == nullptr) {
    setKELVAStatus(status, 0,
                   (std::string("Unable to create a connection to ") + filer->host).c_str());
  }
  return server;
}

// Sends a request without parameters.  On a failed answer the status is set with
// the filer's text unless tolerate says the failure is expected; the answer (passed
// or failed) is returned either way, NULL only when out of memory.
ElementPtr call(WSIServerInfo *server, const char *api, KELVAStatus *status,
                bool (*tolerate)(const WSIElement *) = nullptr) {
  ElementPtr request(_createElement(api, __FILE__, __LINE__), freeElement);
  if (request == nullptr) {
    setKELVAStatus(status, 0, "Insufficient memory for a request");
    return noElement();
  }
  ElementPtr answer(_invokeServerElement(server, request.get(), __FILE__, __LINE__), freeElement);
  if (answer == nullptr) {
    setKELVAStatus(status, 0, "Insufficient memory for an answer");
    return noElement();
  }
  if (checkResultStatus(answer.get()) == 0 && (tolerate == nullptr || !tolerate(answer.get()))) {
    wsi::setAnswerError(status, answer.get(), server);
  }
  return answer;
}

char *dup(const char *text) { return text != nullptr ? wsistrdup(text) : nullptr; }

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

bool anyFailure(const WSIElement *) { return true; }

// ---- The cache ---------------------------------------------------------------------

struct CacheEntry {
  std::mutex lock;
  std::unique_ptr<Filer, void (*)(void *)> filer{nullptr, freeFiler};
  bool loaded = false;
  std::chrono::steady_clock::time_point loadedAt;
  FilerSpecificData data{};
  // Where the filer is reached, so that a change sent over any connection finds the
  // entries it makes stale; guarded by cacheLock.
  std::string host;
  int port = 0;
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

std::string lowered(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The port a connection made from the record uses (as _createServerInfo picks it).
int portOf(const Filer *filer) {
  if (filer->connParam2 != 0) return filer->connParam2;
  return filer->connParam1 == WSI_TRANSPORT_HTTP ? 80 : 443;
}

std::string keyOf(const Filer *filer) { return lowered(filer->systemId); }

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

std::shared_ptr<CacheEntry> findOrAddEntry(const Filer *filer, KELVAStatus *status) {
  try {
    std::lock_guard<std::mutex> guard(cacheLock);
    auto &entry = cache()[keyOf(filer)];
    if (entry == nullptr) entry = std::make_shared<CacheEntry>();
    entry->host = lowered(filer->host);
    entry->port = portOf(filer);
    return entry;
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, "Insufficient memory for a filer cache entry");
    return nullptr;
  }
}

// Reads the entry's data from the filer; the entry is locked by the caller.
bool loadEntry(CacheEntry &entry, const Filer *filer, KELVAStatus *status) {
  Filer *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer)));
  if (copy == nullptr) {
    setKELVAStatus(status, 0, "Insufficient memory for a filer cache entry");
    return false;
  }
  entry.filer.reset(copy);
  ServerPtr server = connect(filer, status);
  if (server == nullptr) return false;
  ElementPtr health = call(server.get(), "diagnosis-status-get", status);
  if (health == nullptr || checkResultStatus(health.get()) == 0) return false;
  // Without iSCSI (not licensed or switched off) the filer refuses these two; that is
  // an answer about the filer, not a failure.
  ElementPtr node = call(server.get(), "iscsi-node-get-name", status, anyFailure);
  ElementPtr service = call(server.get(), "iscsi-service-status", status, anyFailure);
  if (node == nullptr || service == nullptr) return false;
  if (wsi::filerAway(node.get()) || wsi::filerAway(service.get())) {
    wsi::setAnswerError(status, wsi::filerAway(node.get()) ? node.get() : service.get(),
                        server.get(), "Filer unreachable");
    return false;
  }
  char *nodeName =
      checkResultStatus(node.get()) != 0 ? dup(getStringElement(node.get(), "node-name")) : nullptr;
  wsifree(entry.data.iscsiNodeName);
  entry.data.healthState = healthFromText(getStringElement(health.get(), "status"));
  entry.data.iscsiNodeName = nodeName;
  entry.data.iscsiNodeState =
      checkResultStatus(service.get()) != 0 && getBoolElement(service.get(), "is-available", 0) != 0
          ? 1
          : 0;
  entry.loaded = true;
  entry.loadedAt = std::chrono::steady_clock::now();
  return true;
}

bool stale(const CacheEntry &entry) {
  return !entry.loaded || std::chrono::steady_clock::now() - entry.loadedAt >
                              std::chrono::seconds(WSI_FILER_CACHE_TTL_SECONDS);
}

}  // namespace

namespace wsi {

bool filerAway(const WSIElement *answer) {
  int number = getResultErrorNum(answer);
  return number == WSI_ERR_UNREACHABLE || number == WSI_ERR_TIMEOUT || number == WSI_ERR_DROPPED;
}

void setAnswerError(KELVAStatus *status, const WSIElement *answer, const WSIServerInfo *server,
                    const char *fallback) {
  char *text = getErrorWithIP(answer, server);
  setKELVAStatus(status, 0, text != nullptr ? text : fallback);
  wsifree(text);
}

bool withStorage(const Filer *filer, KELVAStatus *status,
                 const std::function<bool(StorageAccess &)> &use) {
  if (!validFiler(filer, status)) return false;
  std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer, status);
  if (entry == nullptr) return false;
  std::lock_guard<std::mutex> guard(entry->storageLock);
  // The caller's record is the current one (a changed password, say).
  Filer *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer)));
  if (copy == nullptr) {
    setKELVAStatus(status, 0, "Insufficient memory for a filer cache entry");
    return false;
  }
  entry->storageFiler.reset(copy);
  StorageAccess access{copy, entry->pieces, entry->generations};
  return use(access);
}

bool withStorageOf(const std::string &systemId, KELVAStatus *status,
                   const std::function<bool(StorageAccess &)> &use) {
  std::shared_ptr<CacheEntry> entry;
  {
    std::lock_guard<std::mutex> guard(cacheLock);
    auto found = cache().find(lowered(systemId));
    if (found != cache().end()) entry = found->second;
  }
  if (entry == nullptr) {
    setKELVAStatus(status, 0, ("No cached filer with system id " + systemId).c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(entry->storageLock);
  StorageAccess access{entry->storageFiler.get(), entry->pieces, entry->generations};
  return use(access);
}

void markChanged(const std::string &host, int port, unsigned pieces) {
  if (pieces == 0) return;
  std::string key = lowered(host);
  std::lock_guard<std::mutex> guard(cacheLock);
  for (auto &item : cache()) {
    CacheEntry &entry = *item.second;
    if (entry.host != key || entry.port != port) continue;
    for (unsigned piece = 0; piece < kPieceCount; ++piece) {
      if ((pieces & (1u << piece)) != 0) entry.generations[piece].fetch_add(1);
    }
  }
}

}  // namespace wsi

extern "C" {

WSI_EXPORT KELVASysInfo *getKELVASysInfo(KELVAStatus *status, const Filer *filer) {
  try {
    ServerPtr server = connect(filer, status);
    if (server == nullptr) return nullptr;
    auto *info = static_cast<KELVASysInfo *>(wsicalloc(1, sizeof(KELVASysInfo)));
    if (info == nullptr) {
      setKELVAStatus(status, 0, "Insufficient memory for system information");
      return nullptr;
    }
    KELVAStatus local = KELVA_STATUS_INIT;
    ElementPtr answer = call(server.get(), "system-get-info", &local);
    if (answer != nullptr && wsi::filerAway(answer.get())) {
      clearKELVAStatus(&local);
      info->online = 0;
      info->systemId = dup(filer->systemId);
      return info;
    }
    ElementPtr version = answer != nullptr && checkStatus(&local) == 0
                             ? call(server.get(), "system-get-version", &local)
                             : noElement();
    ElementPtr interfaces = version != nullptr && checkStatus(&local) == 0
                                ? call(server.get(), "net-ifconfig-get", &local)
                                : noElement();
    if (interfaces == nullptr || checkStatus(&local) != 0) {
      setKELVAStatus(status, 0, local.message != nullptr ? local.message : "Insufficient memory");
      clearKELVAStatus(&local);
      freeKELVASysInfo(info);
      return nullptr;
    }
    const WSIElement *details = getChildElement(answer.get(), "system-info");
    std::vector<std::string> addresses;
    collectIPv4(interfaces.get(), addresses);
    std::string reverse;
    for (const std::string &address : addresses) {
      if (address.rfind("127.", 0) == 0) continue;
      reverse = reverseName(address.c_str());
      if (!reverse.empty()) break;
    }
    info->online = 1;
    info->systemId = dup(getStringElement(details, "system-id"));
    info->systemName = dup(getStringElement(details, "system-name"));
    info->serialNumber = dup(getStringElement(details, "system-serial-number"));
    info->reverseLookupName = reverse.empty() ? nullptr : wsistrdup(reverse.c_str());
    info->model = dup(getStringElement(details, "system-model"));
    info->vendor = dup(getStringElement(details, "vendor-id"));
    info->osVersion = dup(getStringElement(version.get(), "version"));
    return info;
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, "Insufficient memory for system information");
    return nullptr;
  }
}

WSI_EXPORT void freeKELVASysInfo(KELVASysInfo *info) {
  if (info == nullptr) return;
  wsi::freeWithTexts(info, {info->systemId, info->systemName, info->serialNumber,
                            info->reverseLookupName, info->model, info->vendor, info->osVersion});
}

WSI_EXPORT KELVACFStatus *getCFStatus(const Filer *filer, KELVAStatus *status) {
  ServerPtr server = connect(filer, status);
  if (server == nullptr) return nullptr;
  ElementPtr answer = call(server.get(), "cf-status", status);
  if (answer == nullptr || checkResultStatus(answer.get()) == 0) return nullptr;
  auto *cf = static_cast<KELVACFStatus *>(wsicalloc(1, sizeof(KELVACFStatus)));
  if (cf == nullptr) {
    setKELVAStatus(status, 0, "Insufficient memory for the takeover state");
    return nullptr;
  }
  cf->enabled = getBoolElement(answer.get(), "is-enabled", 0);
  cf->state = dup(getStringElement(answer.get(), "state"));
  cf->partner = dup(getStringElement(answer.get(), "partner-name"));
  cf->reason = dup(getStringElement(answer.get(), "state-reason"));
  return cf;
}

WSI_EXPORT void freeCFStatus(KELVACFStatus *cfStatus) {
  if (cfStatus == nullptr) return;
  wsi::freeWithTexts(cfStatus, {cfStatus->state, cfStatus->partner, cfStatus->reason});
}

WSI_EXPORT WSIList *getAllIPV4IPs(const Filer *filer, KELVAStatus *status) {
  try {
    ServerPtr server = connect(filer, status);
    if (server == nullptr) return nullptr;
    ElementPtr answer = call(server.get(), "net-ifconfig-get", status);
    if (answer == nullptr || checkResultStatus(answer.get()) == 0) return nullptr;
    std::vector<std::string> addresses;
    WSIList *list = WSIList_new();
    if (list == nullptr || !collectIPv4(answer.get(), addresses)) {
      WSIList_free(list, nullptr);
      setKELVAStatus(status, 0, "Insufficient memory for the address list");
      return nullptr;
    }
    for (const std::string &address : addresses) {
      char *copy = wsistrdup(address.c_str());
      if (copy == nullptr || WSIList_append(list, copy) == 0) {
        wsifree(copy);
        WSIList_free(list, wsifree);
        setKELVAStatus(status, 0, "Insufficient memory for the address list");
        return nullptr;
      }
    }
    return list;
  } catch (const std::bad_alloc &) {
    setKELVAStatus(status, 0, "Insufficient memory for the address list");
    return nullptr;
  }
}

WSI_EXPORT int getSystemVersion(KELVAStatus *status, const Filer *filer, int32_t *major,
                                int32_t *minor, int32_t *micro) {
  ServerPtr server = connect(filer, status);
  if (server == nullptr) return 0;
  ElementPtr answer = call(server.get(), "system-get-version", status);
  if (answer == nullptr || checkResultStatus(answer.get()) == 0) return 0;
  const char *text = getStringElement(answer.get(), "version");
  try {
    static const std::regex release(R"((\d+)\.(\d+)(?:\.(\d+))?)");
    std::cmatch m;
    if (text == nullptr || !std::regex_search(text, m, release)) {
      setKELVAStatus(
          status, 0,
          (std::string("Unable to read the release of '") + (text != nullptr ? text : "") + "'")
              .c_str());
      return 0;
    }
    if (major != nullptr) *major = std::stoi(m[1].str());
    if (minor != nullptr) *minor = std::stoi(m[2].str());
    if (micro != nullptr) *micro = m[3].matched ? std::stoi(m[3].str()) : 0;
    return 1;
  } catch (const std::exception &) {
    setKELVAStatus(status, 0, "Unable to read the release numbers");
    return 0;
  }
}

WSI_EXPORT int FilerCache_addEntry(const Filer *filer, int flag, KELVAStatus *status) {
  if (!validFiler(filer, status)) return 0;
  std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer, status);
  if (entry == nullptr) return 0;
  std::lock_guard<std::mutex> guard(entry->lock);
  if (flag == 0) {
    if (entry->filer == nullptr) {
      entry->filer.reset(static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer))));
    }
    return 1;
  }
  if (loadEntry(*entry, filer, status)) return 1;
  if (!entry->loaded) {  // an eager add that failed leaves no entry behind
    std::lock_guard<std::mutex> tableGuard(cacheLock);
    auto found = cache().find(keyOf(filer));
    if (found != cache().end() && found->second == entry) cache().erase(found);
  }
  return 0;
}

WSI_EXPORT int FilerCache_deleteEntry(const Filer *filer, KELVAStatus *status) {
  if (!validFiler(filer, status)) return 0;
  std::shared_ptr<CacheEntry> entry = findEntry(filer);
  if (entry == nullptr) {
    setKELVAStatus(status, 0, (std::string("No cache entry for filer ") + filer->systemId).c_str());
    return 0;
  }
  std::lock_guard<std::mutex> holder(entry->lock);  // waits for whoever holds it
  std::lock_guard<std::mutex> guard(cacheLock);
  auto found = cache().find(keyOf(filer));
  if (found != cache().end() && found->second == entry) cache().erase(found);
  return 1;
}

WSI_EXPORT FilerCacheEntry *FilerCache_lockEntry(const Filer *filer, KELVAStatus *status) {
  if (!validFiler(filer, status)) return nullptr;
  std::shared_ptr<CacheEntry> entry = findOrAddEntry(filer, status);
  if (entry == nullptr) return nullptr;
  entry->lock.lock();
  if (findEntry(filer) != entry) {  // deleted while we waited: start over with a new one
    entry->lock.unlock();
    return FilerCache_lockEntry(filer, status);
  }
  if (stale(*entry)) {
    KELVAStatus local = KELVA_STATUS_INIT;
    if (!loadEntry(*entry, filer, &local)) {
      if (!entry->loaded) {  // nothing to offer yet
        entry->lock.unlock();
        setKELVAStatus(status, 0, local.message);
        clearKELVAStatus(&local);
        return nullptr;
      }
      // What was read before is better than nothing while the filer is away.
      WSI_LOG(std::string("Keeping cached data of ") + filer->systemId + ": " +
              (local.message != nullptr ? local.message : "refresh failed"));
    }
    clearKELVAStatus(&local);
  }
  return reinterpret_cast<FilerCacheEntry *>(entry.get());
}

WSI_EXPORT void FilerCache_releaseEntry(const Filer *filer) {
  if (filer == nullptr || filer->systemId == nullptr) return;
  std::shared_ptr<CacheEntry> entry = findEntry(filer);
  if (entry != nullptr) entry->lock.unlock();
}

WSI_EXPORT FilerSpecificData *FilerCache_getFilerSpecificData(FilerCacheEntry *entry) {
  return entry != nullptr ? &reinterpret_cast<CacheEntry *>(entry)->data : nullptr;
}

}  // extern "C"
