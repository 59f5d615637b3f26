// The hardware ID cache and the initiators built on it.
//
// The cache file is what clients created and the filer does not know yet, so
// it must never be lost: it is replaced through the seam's crash-safe writer,
// which keeps the last version as hwidcache.dat.back, and a load that finds
// only a complete hwidcache.tmp (a save cut off between its two renames) puts
// that in place first.  The status texts, their 79-character cut and their
// spelling ("HarwareID not found") are what clients match on.
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsistorage.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "guards.h"
#include "internal.h"
#include "provkit/hwidcache.h"
#include "provkit/initiators.h"

namespace {

using pk::recordEdge;

namespace platform = pk::platform;

constexpr const char *kTag = "HardwareIDCacher";
// Longest line of the file, its line end included.
constexpr size_t kMaxLine = 1024;
// Longest word the reader takes; a longer one only comes from a hand-edited file.
constexpr size_t kMaxWord = kMaxLine - 1;
// A cache file larger than this is not read (about a million entries).
constexpr size_t kMaxFileBytes = size_t{64} << 20;
constexpr const char *kNoMemory = "Mapping and Masking System: Insufficient memory";
constexpr const char *kNoMemoryCached = "Mapping and Masking System: Insufficient Memory";

// Status texts, cut at 79 characters as clients have always read them.
void record(KELVAStatus *status, const char *message) {
  char text[80];
  std::snprintf(text, sizeof text, "%s: %s", kTag, message);
  setKELVAStatus(status, 0, text);
}
void record(KELVAStatus *status, const char *message, const char *subject) {
  char text[80];
  std::snprintf(text, sizeof text, "%s: %s - '%s'", kTag, message, subject);
  setKELVAStatus(status, 0, text);
}
void recordErrno(KELVAStatus *status, const char *message, const std::string &subject, int error) {
  char text[80];
  std::snprintf(text, sizeof text, "%s: %s - '%s' (errno = %d)", kTag, message, subject.c_str(),
                error);
  setKELVAStatus(status, 0, text);
}
bool failed(const KELVAStatus *status) { return checkStatus(status) != 0; }

// ---- Entries ------------------------------------------------------------------

void freeEntry(void *element) {
  auto *entry = static_cast<HardwareIDCacheEntry *>(element);
  if (entry == nullptr) return;
  wsifree(entry->filerId);
  wsifree(entry->name);
  wsifree(entry->os);
  wsifree(entry->type);
  wsifree(entry);
}

// A new entry holding copies, or null when any copy cannot be made.
HardwareIDCacheEntry *newEntry(const char *filerId, const char *name, const char *os,
                               const char *type) {
  auto *entry = static_cast<HardwareIDCacheEntry *>(wsicalloc(1, sizeof(HardwareIDCacheEntry)));
  if (entry == nullptr) return nullptr;
  entry->filerId = wsistrdup(filerId);
  entry->name = wsistrdup(name);
  entry->os = wsistrdup(os);
  entry->type = wsistrdup(type);
  if (entry->filerId == nullptr || entry->name == nullptr || entry->os == nullptr ||
      entry->type == nullptr) {
    freeEntry(entry);
    return nullptr;
  }
  return entry;
}

struct CacheFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeEntry); }
};
using Cache = std::unique_ptr<WSIList, CacheFree>;

bool sameEntry(const HardwareIDCacheEntry *entry, const char *filerId, const char *name) {
  return strCompare(entry->filerId, filerId) == 0 && strCompare(entry->name, name) == 0;
}

// ---- Files ---------------------------------------------------------------------

struct Paths {
  std::string dir, dat, tmp, back, err;
};

// The cache's paths in the data directory; false with the status set.
bool buildPaths(KELVAStatus *status, Paths &paths) {
  char *dir = buildDatFilePath(status);
  std::unique_ptr<char, pk::WsiFree> owned(dir);
  if (failed(status)) return false;
  if (dir == nullptr) {
    record(status, "Insufficient memory");
    return false;
  }
  paths.dir = dir;
  paths.dat = platform::joinPath(paths.dir, "hwidcache.dat");
  paths.tmp = platform::joinPath(paths.dir, "hwidcache.tmp");
  paths.back = platform::joinPath(paths.dir, "hwidcache.dat.back");
  paths.err = platform::joinPath(paths.dir, "hwidcache.dat.err");
  return true;
}

// The process-wide cache lock (absent only when the library's load was refused),
// and the data directory's lock that every process holds while it replaces a
// file there.
class CacheLock {
 public:
  CacheLock() : mutex_(pk::hardwareIdCacheLock()) {
    if (mutex_ != nullptr) platform::mutexLock(mutex_);
  }
  ~CacheLock() {
    files_.release();
    if (mutex_ != nullptr) platform::mutexUnlock(mutex_);
  }
  CacheLock(const CacheLock &) = delete;
  CacheLock &operator=(const CacheLock &) = delete;
  // False with the status set when the directory's lock cannot be taken.
  bool lockDirectory(KELVAStatus *status, const Paths &paths) {
    std::string path = platform::joinPath(paths.dir, platform::kDirectoryLockName);
    int error = files_.acquire(path.c_str());
    if (error != 0) recordErrno(status, "Failed to lock data directory", path, error);
    return error == 0;
  }

 private:
  platform::OsMutex *mutex_;
  platform::FileLock files_;
};

// Creates an empty cache file; 0 or the error.
int createEmpty(const std::string &path) {
  platform::FileSystem &fs = platform::fileSystem();
  platform::FileHandle *file = nullptr;
  int error = fs.createNew(path.c_str(), &file);
  if (error != 0) return error;
  error = fs.markComplete(file);
  int closeError = fs.close(file);
  return error != 0 ? error : closeError;
}

// A save cut off after the cache became hwidcache.dat.back and before the new
// one took its place leaves no cache file and a complete temporary file, the
// newest whole cache: it is put in place.  Anything else is left alone.
void finishCutOffSave(const Paths &paths) {
  platform::FileSystem &fs = platform::fileSystem();
  platform::FileKind kind = platform::FileKind::Other;
  bool complete = false;
  if (fs.inspect(paths.dat.c_str(), &kind, &complete) != 0 || kind != platform::FileKind::Missing)
    return;
  if (fs.inspect(paths.tmp.c_str(), &kind, &complete) != 0 || kind != platform::FileKind::Regular ||
      !complete)
    return;
  if (fs.rename(paths.tmp.c_str(), paths.dat.c_str()) == 0) fs.syncDirectory(paths.dir.c_str());
}

// Splits one word into its four fields: the first three end at a '|' (empty
// fields are skipped over), the fourth is the rest of the word.  Returns the
// message of the first missing field, or null.
const char *splitWord(std::string &word, const char *fields[4]) {
  static const char *const missing[] = {
      "Failed to parse Filer ID", "Failed to parse HardwareID Name",
      "Failed to parse HardwareID OS", "Failed to parse HardwareID Type"};
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    while (at < word.size() && word[at] == '|') ++at;
    if (at >= word.size()) return missing[i];
    size_t end = word.find('|', at);
    fields[i] = word.c_str() + at;
    if (end == std::string::npos) {
      at = word.size();
    } else {
      word[end] = '\0';
      at = end + 1;
    }
  }
  if (at >= word.size()) return missing[3];
  fields[3] = word.c_str() + at;
  return nullptr;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the entries of the text into the list; true when a word could not be
// parsed (the file is damaged).  A failed append is recorded and ends the read.
bool parseCache(const std::string &content, WSIList *list, KELVAStatus *status) {
  size_t at = 0;
  while (!failed(status)) {
    while (at < content.size() && isBlank(content[at])) ++at;
    if (at >= content.size()) break;
    size_t end = at;
    while (end < content.size() && !isBlank(content[end])) ++end;
    std::string word = content.substr(at, end - at);
    at = end;
    if (word.size() > kMaxWord) {
      // No entry of ours is that long: the word cannot be one whole entry.
      record(status, "Failed to parse HardwareID Type");
      return true;
    }
    const char *fields[4] = {};
    if (const char *why = splitWord(word, fields)) {
      record(status, why);
      return true;
    }
    HardwareIDCacheEntry *entry = newEntry(fields[0], fields[1], fields[2], fields[3]);
    if (entry == nullptr) {
      record(status, "Insufficient memory");
      return true;
    }
    if (WSIList_append(list, entry) == 0) {
      freeEntry(entry);
      record(status, "Insufficient memory");
    }
  }
  return false;
}

void discardEntries(WSIList *list) {
  while (WSIList_isEmpty(list) == 0)
    freeEntry(WSIList_remove(list, WSIList_getElement(WSIList_getFirst(list))));
}

WSIList *loadCache(KELVAStatus *status) {
  Paths paths;
  if (!buildPaths(status, paths)) return nullptr;
  Cache cache(WSIList_new());
  if (!cache) {
    record(status, "Insufficient memory");
    return nullptr;
  }
  platform::FileSystem &fs = platform::fileSystem();
  CacheLock lock;
  {
    // Finishing a cut-off save replaces a file, so it holds the directory's lock.
    platform::FileLock files;
    if (files.acquire(platform::joinPath(paths.dir, platform::kDirectoryLockName).c_str()) == 0)
      finishCutOffSave(paths);
  }
  // A failed rename of the recovery stays the load's failure once the file
  // that then stands as the cache has been handled.
  pk::StatusRecord renameFailure;
  for (int damaged = 0;;) {
    std::string content;
    int error = fs.readRegular(paths.dat.c_str(), kMaxFileBytes, &content);
    if (error != 0) {
      if ((error = createEmpty(paths.dat)) != 0)
        recordErrno(status, "Failed to create empty cache file", paths.dat, error);
      break;
    }
    if (!parseCache(content, cache.get(), status)) break;
    if (++damaged == 1) {
      // Set the damaged file aside and take the backup in its place.
      clearKELVAStatus(status);
      fs.remove(paths.err.c_str());
      if ((error = fs.rename(paths.dat.c_str(), paths.err.c_str())) != 0)
        recordErrno(renameFailure.get(), "Failed to rename file", paths.dat, error);
      if ((error = fs.rename(paths.back.c_str(), paths.dat.c_str())) != 0 &&
          !renameFailure.failed())
        recordErrno(renameFailure.get(), "Failed to rename file", paths.back, error);
      fs.syncDirectory(paths.dir.c_str());
      discardEntries(cache.get());
      continue;
    }
    // The backup is damaged too: start an empty file and keep what was read
    // before the bad word.
    fs.remove(paths.dat.c_str());
    clearKELVAStatus(status);
    if ((error = createEmpty(paths.dat)) != 0)
      recordErrno(status, "Failed to create empty cache file", paths.dat, error);
    break;
  }
  if (renameFailure.failed() && !failed(status)) setKELVAStatus(status, 0, renameFailure.message());
  if (failed(status)) return nullptr;
  return cache.release();
}

void saveCache(KELVAStatus *status, WSIList *cache) {
  Paths paths;
  if (!buildPaths(status, paths)) return;
  std::string content;
  const char *firstName = nullptr;
  for (WSIListPos *at = WSIList_getFirst(cache); at != nullptr; at = WSIList_getNext(at)) {
    auto *entry = static_cast<const HardwareIDCacheEntry *>(WSIList_getElement(at));
    if (entry == nullptr || entry->deleteMark != 0) continue;
    size_t length = std::strlen(entry->filerId) + std::strlen(entry->name) +
                    std::strlen(entry->os) + std::strlen(entry->type) + 4;
    if (length > kMaxLine) {
      record(status, "HardwareID entry too long to cache");
      break;
    }
    if (firstName == nullptr) firstName = entry->name;
    content.append(entry->filerId).append("|").append(entry->name).append("|");
    content.append(entry->os).append("|").append(entry->type).append("\n");
  }
  CacheLock lock;
  if (!lock.lockDirectory(status, paths)) return;
  platform::FileSystem &fs = platform::fileSystem();
  if (failed(status)) {
    fs.remove(paths.tmp.c_str());
    return;
  }
  platform::ReplacedFile names{paths.dat, paths.tmp, paths.back, true};
  platform::WriteOutcome outcome = platform::replaceFile(names, content);
  switch (outcome.failedStep) {
    case platform::WriteStep::None:
      break;
    case platform::WriteStep::Create:
      recordErrno(status, "Failed to open cache file", paths.tmp, outcome.error);
      break;
    case platform::WriteStep::Write:
    case platform::WriteStep::Sync:
    case platform::WriteStep::Close:
      recordErrno(status, "Failed to write HardwareID",
                  firstName != nullptr ? firstName : paths.tmp, outcome.error);
      break;
    case platform::WriteStep::Previous:
      recordErrno(status, "Failed to remove file", paths.dat, outcome.error);
      break;
    case platform::WriteStep::Replace:
      recordErrno(status, "Failed to rename file", paths.tmp, outcome.error);
      break;
  }
}

// ---- Initiators --------------------------------------------------------------------

struct InitiatorList {
  void operator()(WSIList *list) const { WSIList_free(list, freeKELVAInitiator); }
};
struct IGroupList {
  void operator()(WSIList *list) const { freeIGroupInfo(list); }
};
struct ServerFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
using Element = std::unique_ptr<WSIElement, ElementFree>;

bool listHoldsName(WSIList *list, const char *name) {
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
    auto *initiator = static_cast<const KELVAInitiator *>(WSIList_getElement(at));
    if (initiator != nullptr && strCompare(initiator->name, name) == 0) return true;
  }
  return false;
}

// Makes a record and appends it; false with noMemory recorded when either fails.
bool appendInitiator(WSIList *list, const char *name, const char *type, const char *igroup,
                     const char *os, KELVAStatus *status, const char *noMemory) {
  KELVAInitiator *initiator = newKELVAInitiator(name, type, igroup, os);
  if (initiator != nullptr && WSIList_append(list, initiator) != 0) return true;
  freeKELVAInitiator(initiator);
  setKELVAStatus(status, 0, noMemory);
  return false;
}

int filerInitiators(const Filer *filer, const char *igroupFilter, const char *initiatorFilter,
                    const char *osFilter, int unique, WSIList *resultList, KELVAStatus *status) {
  std::unique_ptr<WSIList, IGroupList> igroups(
      getIGroupInfo(filer, nullptr, igroupFilter, initiatorFilter, nullptr, osFilter, status));
  int count = 0;
  for (WSIListPos *g = WSIList_getFirst(igroups.get()); g != nullptr && !failed(status);
       g = WSIList_getNext(g)) {
    auto *igroup = static_cast<const KELVAIGroup *>(WSIList_getElement(g));
    if (igroup == nullptr) continue;
    for (WSIListPos *i = WSIList_getFirst(igroup->initiators); i != nullptr && !failed(status);
         i = WSIList_getNext(i)) {
      auto *name = static_cast<const char *>(WSIList_getElement(i));
      if (name == nullptr || passesStringFilter(initiatorFilter, name) == 0) continue;
      if (unique != 0 && listHoldsName(resultList, name)) continue;
      if (!appendInitiator(resultList, name, igroup->type, igroup->name, igroup->osType, status,
                           kNoMemory))
        break;
      ++count;
    }
  }
  return count;
}

// Adds the filer's cached initiators that no igroup holds yet, and drops from
// the cache those that one now does.  Failures are not the listing's.
int cachedInitiators(const Filer *filer, const char *initiatorFilter, const char *osFilter,
                     WSIList *resultList, KELVAStatus *status) {
  Cache cache(loadCache(status));
  if (!cache) return 0;
  int count = 0;
  bool marked = false;
  for (WSIListPos *at = WSIList_getFirst(cache.get()); at != nullptr; at = WSIList_getNext(at)) {
    auto *entry = static_cast<HardwareIDCacheEntry *>(WSIList_getElement(at));
    if (entry == nullptr || passesStringFilter(filer->systemId, entry->filerId) == 0 ||
        passesStringFilter(initiatorFilter, entry->name) == 0 ||
        passesStringFilter(osFilter, entry->os) == 0)
      continue;
    if (listHoldsName(resultList, entry->name)) {
      entry->deleteMark = 1;
      marked = true;
      continue;
    }
    if (appendInitiator(resultList, entry->name, entry->type, KELVA_CACHED_INITIATOR_IGROUP,
                        entry->os, status, kNoMemoryCached))
      ++count;
  }
  // A listing is a read: the file is rewritten only when it drops something.
  if (marked) saveCache(status, cache.get());
  clearKELVAStatus(status);
  return count;
}

// Removes the filer's entry from the cache file; true when it was there.
bool removeCached(const Filer *filer, const char *name, KELVAStatus *status) {
  Cache cache(loadCache(status));
  if (!cache) return false;
  unsigned int before = WSIList_getLength(cache.get());
  HardwareIDCache_remove(status, filer->systemId, name, 0, cache.get());
  bool removed = WSIList_getLength(cache.get()) != before;
  if (removed && !failed(status)) saveCache(status, cache.get());
  return removed;
}

// Sends "igroup-remove" for one membership on a connection of its own.
void removeFromIGroup(const Filer *filer, const char *igroup, const char *name,
                      KELVAStatus *status) {
  std::unique_ptr<WSIServerInfo, ServerFree> server(
      createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                       filer->connParam1, filer->connParam2));
  if (!server) {
    setKELVAStatus(status, 0, "Mapping and Masking System: create server connection failed");
    return;
  }
  Element request(createElement("igroup-remove"));
  if (!request) {
    setKELVAStatus(status, 0,
                   "Mapping and Masking System: Failed to create 'igroup-list-info' API");
    return;
  }
  constexpr const char *kNoIGroupParam =
      "Mapping and Masking System: Failed to add 'initiator-group-name' parameter";
  if (addStringElement(request.get(), "initiator-group-name", igroup) == 0) {
    setKELVAStatus(status, 0, kNoIGroupParam);
    return;
  }
  if (addStringElement(request.get(), "initiator", name) == 0) {
    setKELVAStatus(status, 0, "Mapping and Masking System: Failed to add 'initiator' parameter");
    return;
  }
  if (addStringElement(request.get(), "force", "true") == 0) {
    setKELVAStatus(status, 0, kNoIGroupParam);
    return;
  }
  Element answer(invokeServerElement(server.get(), request.get()));
  if (checkResultStatus(answer.get()) != 0) return;
  std::unique_ptr<char, pk::WsiFree> reason(getErrorWithIP(answer.get(), server.get()));
  setKELVAStatus(status, 0, reason ? reason.get() : "Insufficient memory");
}

}  // namespace

extern "C" {

PK_EXPORT WSIList *HardwareIDCache_load(KELVAStatus *status) {
  pk::RecordSlot slot(status);
  return recordEdge(slot.get(), static_cast<WSIList *>(nullptr),
                    [&] { return loadCache(slot.get()); });
}

PK_EXPORT void HardwareIDCache_add(KELVAStatus *status, const char *filerId, const char *name,
                                   const char *os, const char *type, WSIList *cache) {
  pk::RecordSlot slot(status);
  if (filerId == nullptr || name == nullptr || os == nullptr || type == nullptr ||
      cache == nullptr) {
    record(slot.get(), "Insufficient memory");
    return;
  }
  recordEdge(slot.get(), 0, [&] {
    CacheLock lock;
    for (WSIListPos *at = WSIList_getFirst(cache); at != nullptr; at = WSIList_getNext(at)) {
      auto *entry = static_cast<const HardwareIDCacheEntry *>(WSIList_getElement(at));
      if (entry != nullptr && sameEntry(entry, filerId, name)) {
        record(slot.get(), "HardwareID already exists", name);
        return 0;
      }
    }
    HardwareIDCacheEntry *entry = newEntry(filerId, name, os, type);
    if (entry == nullptr || WSIList_append(cache, entry) == 0) {
      freeEntry(entry);
      record(slot.get(), "Insufficient memory");
    }
    return 0;
  });
}

PK_EXPORT void HardwareIDCache_remove(KELVAStatus *status, const char *filerId, const char *name,
                                      int reportMissing, WSIList *cache) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    CacheLock lock;
    for (WSIListPos *at = WSIList_getFirst(cache); at != nullptr; at = WSIList_getNext(at)) {
      auto *entry = static_cast<const HardwareIDCacheEntry *>(WSIList_getElement(at));
      if (entry != nullptr && filerId != nullptr && name != nullptr &&
          sameEntry(entry, filerId, name)) {
        freeEntry(WSIList_removeIter(&at));
        return 0;
      }
    }
    if (reportMissing != 0) record(slot.get(), "HarwareID not found", name != nullptr ? name : "");
    return 0;
  });
}

PK_EXPORT void HardwareIDCache_markForDelete(HardwareIDCacheEntry *entry) {
  if (entry != nullptr) entry->deleteMark = 1;
}

PK_EXPORT void HardwareIDCache_save(KELVAStatus *status, WSIList *cache) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    saveCache(slot.get(), cache);
    return 0;
  });
}

PK_EXPORT void HardwareIDCache_release(WSIList *cache) { WSIList_free(cache, freeEntry); }

PK_EXPORT KELVAInitiator *newKELVAInitiator(const char *name, const char *type,
                                            const char *igroupName, const char *osType) {
  auto *initiator = static_cast<KELVAInitiator *>(wsicalloc(1, sizeof(KELVAInitiator)));
  if (initiator == nullptr) return nullptr;
  initiator->name = wsistrdup(name);
  initiator->type = wsistrdup(type);
  initiator->osType = wsistrdup(osType);
  initiator->igroupName = wsistrdup(igroupName);
  if (initiator->name == nullptr || initiator->type == nullptr || initiator->osType == nullptr ||
      initiator->igroupName == nullptr) {
    freeKELVAInitiator(initiator);
    return nullptr;
  }
  return initiator;
}

PK_EXPORT void freeKELVAInitiator(void *record) {
  auto *initiator = static_cast<KELVAInitiator *>(record);
  if (initiator == nullptr) return;
  wsifree(initiator->name);
  wsifree(initiator->type);
  wsifree(initiator->osType);
  wsifree(initiator->igroupName);
  wsifree(initiator);
}

PK_EXPORT int getFilerInitiators(const Filer *filer, const char *igroupFilter,
                                 const char *initiatorFilter, const char *osFilter, int unique,
                                 WSIList *resultList, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  return recordEdge(slot.get(), 0, [&] {
    return filerInitiators(filer, igroupFilter, initiatorFilter, osFilter, unique, resultList,
                           slot.get());
  });
}

PK_EXPORT int getAllInitiators(const Filer *filer, const char *igroupFilter,
                               const char *initiatorFilter, const char *osFilter, int unique,
                               WSIList *resultList, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  return recordEdge(slot.get(), 0, [&] {
    int live = filerInitiators(filer, igroupFilter, initiatorFilter, osFilter, unique, resultList,
                               slot.get());
    if (failed(slot.get()) || igroupFilter != nullptr) return live;
    return live + cachedInitiators(filer, initiatorFilter, osFilter, resultList, slot.get());
  });
}

PK_EXPORT void addInitiator(const Filer *filer, const char *name, const char *type,
                            const char *osType, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    Cache cache(loadCache(slot.get()));
    if (!cache) return 0;
    HardwareIDCache_add(slot.get(), filer->systemId, name, osType, type, cache.get());
    if (!failed(slot.get())) saveCache(slot.get(), cache.get());
    return 0;
  });
}

PK_EXPORT int isCachedInitator(const KELVAInitiator *initiator) {
  return initiator != nullptr && initiator->igroupName != nullptr &&
                 strCompare(initiator->igroupName, KELVA_CACHED_INITIATOR_IGROUP) == 0
             ? 1
             : 0;
}

PK_EXPORT void deleteCachedInitiator(const Filer *filer, const char *name, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    removeCached(filer, name, slot.get());
    return 0;
  });
}

PK_EXPORT void deleteInitiator(const Filer *filer, const char *name, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    removeCached(filer, name, slot.get());
    if (failed(slot.get())) return 0;
    std::unique_ptr<WSIList, InitiatorList> members(WSIList_new());
    if (!members) {
      setKELVAStatus(slot.get(), 0, kNoMemoryCached);
      return 0;
    }
    filerInitiators(filer, nullptr, name, nullptr, 0, members.get(), slot.get());
    for (WSIListPos *at = WSIList_getFirst(members.get()); at != nullptr && !failed(slot.get());
         at = WSIList_getNext(at)) {
      auto *member = static_cast<const KELVAInitiator *>(WSIList_getElement(at));
      removeFromIGroup(filer, member->igroupName, member->name, slot.get());
    }
    return 0;
  });
}

PK_EXPORT const char *getDefaultSettingOS(void) { return "default"; }

}  // extern "C"
