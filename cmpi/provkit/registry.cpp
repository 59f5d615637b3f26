// The filer registry: the list of managed filers in memory and its file,
// filers.dat, which is replaced as a whole through filers.dat.tmp while the
// previous version is kept as filers.dat.back.
//
// Crash safety rests on two rules.  The new file is complete, marked complete
// and on disk before anything is removed or renamed, and filers.dat only ever
// disappears by becoming filers.dat.back (nothing removes it).  So at every
// instant filers.dat, or else filers.dat.back, holds a whole list, and when
// filers.dat is missing a complete filers.dat.tmp is the newest list: the
// first load of a process puts it in place.  A filers.dat that is missing
// otherwise was removed on purpose and means an empty registry.
//
// Updates hold the registry lock against the other threads of the process and
// the data directory's lock file against other processes; an add reads the
// file afresh under both, so adds of several processes all stay.
#include "provkit/registry.h"

#include <cmpimacs.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "guards.h"
#include "provkit/frame.h"
#include "wbemkelvai/filerline.h"

namespace pk {
namespace {

const char *const kLogId = "FilerRegistry";

// Process-wide state, never freed: it lasts until the process ends.
//
// The two broker mutexes are made on first use.  Making them is itself
// serialised by `creationLock` so that racing first callers agree on one.
std::mutex creationLock;
std::atomic<CMPI_MUTEX_TYPE> registryLock{nullptr};
std::atomic<bool> registryLoaded{false};
WSIList *filers = nullptr;  // guarded by registryLock
std::atomic<CMPI_MUTEX_TYPE> subscriberLock{nullptr};
std::atomic<bool> subscribersCreated{false};
WSIList *subscribers = nullptr;  // guarded by subscriberLock

using Text = WsiText;

// Index of the filer list for the lookups by name: the folded systemId of
// every record that has one, to the first record with it in list order and
// how many records have it.  Guarded by registryLock, like the list, and
// brought up to date with each change of the list.  When an update of it runs
// out of memory it is marked stale, lookups walk the list, and the next
// lookup rebuilds it.
struct FirstRecord {
  Filer *first;
  size_t count;
};
using FilerIndex = std::unordered_map<std::string, FirstRecord>;
FilerIndex &filerIndex() {
  static auto *index = new FilerIndex();  // lasts as long as the list
  return *index;
}
bool indexCurrent = false;  // guarded by registryLock

// The key of a systemId: its ASCII letters made small, as strCompare compares.
std::string foldedId(const char *systemId) {
  std::string key(systemId);
  for (char &c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

void rebuildIndex() {
  FilerIndex &index = filerIndex();
  index.clear();
  indexCurrent = false;
  try {
    for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at)) {
      auto *filer = static_cast<Filer *>(WSIList_getElement(at));
      if (filer->systemId == nullptr) continue;
      auto [entry, added] = index.try_emplace(foldedId(filer->systemId), FirstRecord{filer, 0});
      ++entry->second.count;
    }
    indexCurrent = true;
  } catch (const std::bad_alloc &) {
    index.clear();
  }
}

// A record was appended to the list.
void indexAppended(Filer *filer) {
  if (!indexCurrent || filer->systemId == nullptr) return;
  try {
    auto [entry, added] =
        filerIndex().try_emplace(foldedId(filer->systemId), FirstRecord{filer, 0});
    ++entry->second.count;
  } catch (const std::bad_alloc &) {
    indexCurrent = false;
  }
}

// A record was taken out of the list: its name's first record is now the next
// one in list order that has it, if any.
void indexRemoved(const Filer *filer) {
  if (!indexCurrent || filer->systemId == nullptr) return;
  try {
    auto entry = filerIndex().find(foldedId(filer->systemId));
    if (entry == filerIndex().end()) return;
    if (--entry->second.count == 0) {
      filerIndex().erase(entry);
      return;
    }
    if (entry->second.first != filer) return;
    for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at)) {
      auto *other = static_cast<Filer *>(WSIList_getElement(at));
      if (other->systemId != nullptr && strCompare(other->systemId, filer->systemId) == 0) {
        entry->second.first = other;
        return;
      }
    }
    indexCurrent = false;  // the count disagrees with the list: start again
  } catch (const std::bad_alloc &) {
    indexCurrent = false;
  }
}

struct AddressesFree {
  void operator()(WSIList *list) const { WSIList_free(list, wsifree); }
};

// Raises the controller record's failure and logs it, for the steps whose
// controller errors are both logged and reported.
void failLogged(const CMPIBroker *broker, CMPIStatus *status, const StatusRecord &record) {
  logErrorStatus(broker, kLogId, record.message());
  raiseCMPIErrorKELVA(broker, status, record.get());
}

void failLogged(const CMPIBroker *broker, CMPIStatus *status, const std::string &text) {
  logErrorStatus(broker, kLogId, text.c_str());
  fail(broker, status, text.c_str());
}

// "Unable to open <path>, errno: <n>" in the 128 bytes the message has always had.
std::string openFailure(const char *path, int error) {
  char text[128];
  std::snprintf(text, sizeof text, "Unable to open %s, errno: %d", path, error);
  return text;
}

std::string withErrno(const std::string &what, int error) {
  return what + ", errno: " + std::to_string(error);
}

Text buildPath(char *(*build)(KELVAStatus *), const CMPIBroker *broker, CMPIStatus *status) {
  StatusRecord record;
  Text path(build(record.get()));
  if (path == nullptr || record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  return path;
}

std::string lockPathOf(const char *dat) {
  return platform::joinPath(platform::parentDirectory(dat), platform::kDirectoryLockName);
}

// Every update of the data directory's files, by any process, holds its lock
// file; false with the status set when it cannot be taken.
bool lockDataDirectory(const CMPIBroker *broker, CMPIStatus *status, platform::FileLock &lock,
                       const char *dat) {
  std::string path = lockPathOf(dat);
  if (int error = lock.acquire(path.c_str()); error != 0) {
    failLogged(broker, status, withErrno("Unable to lock the data directory with " + path, error));
    return false;
  }
  return true;
}

// ---- The file ---------------------------------------------------------------

// New (wsicalloc) line "systemId:host:userName:connParam1:connParam2:connParam3:password",
// not yet encoded; null with the status set on failure, and for a record whose
// fields would not read back the same.
char *formatFilerRecord(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  if (filer == nullptr) {
    fail(broker, status, "No filer passed in.");
    return nullptr;
  }
  if (filer->systemId == nullptr || filer->systemId[0] == '\0') {
    fail(broker, status, "No System ID specified.");
    return nullptr;
  }
  if (const char *why =
          filerline::refusal(filer->systemId, filer->host, filer->userName, filer->password)) {
    fail(broker, status, why);
    return nullptr;
  }
  // The line of filerline::kFormat, put together without printf, which a
  // rewrite would otherwise run for every filer.
  const char *texts[] = {filer->systemId, filer->host, filer->userName};
  char numbers[3][12];
  size_t numberLengths[3];
  const int32_t values[] = {filer->connParam1, filer->connParam2, filer->connParam3};
  size_t size = std::strlen(filer->password != nullptr ? filer->password : "") + 7;
  for (int i = 0; i < 3; ++i) {
    size += std::strlen(texts[i] != nullptr ? texts[i] : "");
    numberLengths[i] = static_cast<size_t>(
        std::to_chars(numbers[i], numbers[i] + sizeof numbers[i], values[i]).ptr - numbers[i]);
    size += numberLengths[i];
  }
  char *line = static_cast<char *>(wsicalloc(size, 1));
  if (line == nullptr) {
    fail(broker, status, "Unable to allocate string");
    return nullptr;
  }
  char *at = line;
  auto put = [&at](const char *text, size_t length) {
    std::memcpy(at, text, length);
    at += length;
  };
  for (const char *text : texts) {
    if (text != nullptr) put(text, std::strlen(text));
    *at++ = filerline::kSeparator;
  }
  for (int i = 0; i < 3; ++i) {
    put(numbers[i], numberLengths[i]);
    *at++ = filerline::kSeparator;
  }
  if (filer->password != nullptr) put(filer->password, std::strlen(filer->password));
  *at = '\0';
  return line;
}

// Appends an encoded line and its line end to the new file's content.
void writeFilerRecord(std::string &content, const char *line) {
  content.append(line);
  content.push_back(filerline::kLineEnd);
}

// Overwrites a text that held passwords before it is released.
struct Wiped {
  std::string text;
  Wiped() = default;
  ~Wiped() { std::fill(text.begin(), text.end(), '\0'); }
  Wiped(const Wiped &) = delete;
  Wiped &operator=(const Wiped &) = delete;
};

// False with the status set when the new file would be larger than a load reads.
bool withinBound(const CMPIBroker *broker, CMPIStatus *status, const std::string &content) {
  if (content.size() <= filerline::kMaxFileBytes) return true;
  failLogged(broker, status,
             "filers.dat would grow beyond " + std::to_string(filerline::kMaxFileBytes) +
                 " bytes; the change is not stored");
  return false;
}

// Puts the new content in place of filers.dat through filers.dat.tmp, keeping
// the last version as filers.dat.back.  False with the status set when the
// new list did not become filers.dat.  `backedUp` tells whether filers.dat
// became filers.dat.back; an add makes the back file itself when it did not,
// while a rewrite reports it and goes on.
bool replaceFilersFile(const CMPIBroker *broker, CMPIStatus *status, const char *dat,
                       const char *tmp, const char *back, const std::string &content, bool isAdd,
                       bool &backedUp) {
  platform::WriteOutcome outcome = platform::replaceFile({dat, tmp, back}, content);
  switch (outcome.failedStep) {
    case platform::WriteStep::None:
    case platform::WriteStep::Replace:
      break;
    case platform::WriteStep::Create: {
      std::string text = openFailure(tmp, outcome.error);
      if (isAdd) logErrorStatus(broker, kLogId, text.c_str());
      fail(broker, status, text.c_str());
      return false;
    }
    default:
      failLogged(broker, status, withErrno(std::string("Unable to write ") + tmp, outcome.error));
      return false;
  }
  backedUp = outcome.previousError == 0;
  if (!backedUp && !isAdd) fail(broker, status, "Failed to rename filers.dat to filers.dat.back");
  if (!outcome.ok()) {
    fail(broker, status, "Failed to rename filers.dat.tmp to filers.dat");
    return false;
  }
  // A rename is durable only once its directory is; the update is done
  // either way, so this is only logged.
  if (outcome.directoryError != 0) {
    std::string text =
        withErrno("Unable to sync the directory of " + std::string(dat), outcome.directoryError);
    CMLogMessage(broker, CMPI_SEV_WARNING, kLogId, text.c_str(), nullptr);
  }
  return true;
}

// When filers.dat is missing and filers.dat.tmp is complete, an update was cut
// off between its two renames (or its last rename failed): the temporary file
// is the newest whole list, and it takes its place, at the first load and
// before every update (which would otherwise remove it as stale).  Nothing
// else is restored: a filers.dat removed by hand means an empty registry.
// The caller holds the data directory's lock.
void recoverInterruptedUpdate(const CMPIBroker *broker, const char *dat, const char *tmp) {
  platform::FileSystem &fs = platform::fileSystem();
  platform::FileKind kind = platform::FileKind::Missing;
  bool complete = false;
  if (fs.inspect(dat, &kind, &complete) != 0 || kind != platform::FileKind::Missing) return;
  if (fs.inspect(tmp, &kind, &complete) != 0 || kind != platform::FileKind::Regular || !complete)
    return;
  if (int error = fs.rename(tmp, dat); error != 0) {
    logErrorStatus(broker, kLogId,
                   withErrno("Unable to restore filers.dat from filers.dat.tmp", error).c_str());
    return;
  }
  fs.syncDirectory(platform::parentDirectory(dat).c_str());
  CMLogMessage(broker, CMPI_SEV_WARNING, kLogId,
               "filers.dat restored from filers.dat.tmp after an interrupted update", nullptr);
}

// Runs once, under the registry lock, into the new list.
void loadFilersFromDisk(const CMPIBroker *broker, CMPIStatus *status) {
  {
    StatusRecord record;
    Text dat(buildFilerDatPath(record.get()));
    Text tmp(buildFilerTmpPath(record.get()));
    platform::FileLock lock;
    // Without the paths or the lock the load below reports what is wrong.
    if (dat != nullptr && tmp != nullptr && !record.failed() &&
        lock.acquire(lockPathOf(dat.get()).c_str()) == 0)
      recoverInterruptedUpdate(broker, dat.get(), tmp.get());
  }
  // Read without the directory lock: the reader takes it itself to keep lines
  // it cannot read, and a rename never shows it half a file.
  StatusRecord record;
  getFilersFromDiskFile(record.get(), filers);
  if (record.failed()) failLogged(broker, status, record);
}

// Writes the whole list to filers.dat.tmp and puts it in place of filers.dat.
void rewriteFilersFile(const CMPIBroker *broker, CMPIStatus *status) {
  Text dat = buildPath(buildFilerDatPath, broker, status);
  if (dat == nullptr) return;
  Text back = buildPath(buildFilerBackPath, broker, status);
  if (back == nullptr) return;
  Text tmp = buildPath(buildFilerTmpPath, broker, status);
  if (tmp == nullptr) return;

  BrokerLock lock(broker, registryLock.load(std::memory_order_acquire));
  platform::FileLock dirLock;
  if (!lockDataDirectory(broker, status, dirLock, dat.get())) return;
  recoverInterruptedUpdate(broker, dat.get(), tmp.get());
  Wiped content;
  for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr && !failed(status);
       at = WSIList_getNext(at)) {
    Text line(formatFilerRecord(broker, status, static_cast<Filer *>(WSIList_getElement(at))));
    if (line == nullptr) break;
    basicEncode(line.get());
    writeFilerRecord(content.text, line.get());
    std::memset(line.get(), 0, std::strlen(line.get()));
  }
  if (failed(status)) return;  // filers.dat and filers.dat.back stay as they are
  if (!withinBound(broker, status, content.text)) return;
  bool backedUp = false;
  replaceFilersFile(broker, status, dat.get(), tmp.get(), back.get(), content.text, false,
                    backedUp);
}

// ---- Lock and list ---------------------------------------------------------

// Makes the broker mutex in `slot` if there is none yet; the mutex, or null.
CMPI_MUTEX_TYPE ensureMutex(const CMPIBroker *broker, std::atomic<CMPI_MUTEX_TYPE> &slot) {
  CMPI_MUTEX_TYPE mutex = slot.load(std::memory_order_acquire);
  if (mutex != nullptr) return mutex;
  std::lock_guard<std::mutex> guard(creationLock);
  mutex = slot.load(std::memory_order_relaxed);
  if (mutex == nullptr && broker != nullptr && broker->xft != nullptr) {
    mutex = broker->xft->newMutex(0);
    slot.store(mutex, std::memory_order_release);
  }
  return mutex;
}

// First step of every registry operation: the lock, the list and the first
// load.  False when the registry cannot be used (the status then says why,
// except for the load, after which the registry runs with what was read).
bool initFilerRegistry(const CMPIBroker *broker, CMPIStatus *status) {
  if (broker == nullptr) {
    fail(broker, status, nullptr);
    return false;
  }
  CMPI_MUTEX_TYPE mutex = ensureMutex(broker, registryLock);
  if (mutex == nullptr) {
    fail(broker, status, "Unable to allocate Mutex");
    CMLogMessage(broker, CMPI_SEV_ERROR, kLogId, "Unable to allocate Mutex!", nullptr);
    return false;
  }
  if (registryLoaded.load(std::memory_order_acquire)) return true;
  BrokerLock lock(broker, mutex);
  if (filers == nullptr) {
    filers = WSIList_new();
    if (filers == nullptr) {
      fail(broker, status, "Unable to allocate filer list");
      return false;
    }
    loadFilersFromDisk(broker, status);
    registryLoaded.store(true, std::memory_order_release);
  }
  return true;
}

CMPI_MUTEX_TYPE theRegistryLock() { return registryLock.load(std::memory_order_acquire); }

// First registered record with this systemId (borrowed; the caller holds the
// registry lock).  Records without one, and a null identifier, never match.
Filer *findRegisteredFiler(const char *systemId) {
  if (systemId == nullptr) return nullptr;
  if (!indexCurrent) rebuildIndex();
  if (indexCurrent) {
    const FilerIndex &index = filerIndex();
    auto entry = index.find(foldedId(systemId));
    return entry != index.end() ? entry->second.first : nullptr;
  }
  for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at)) {
    auto *filer = static_cast<Filer *>(WSIList_getElement(at));
    if (filer->systemId != nullptr && strCompare(filer->systemId, systemId) == 0) return filer;
  }
  return nullptr;
}

Filer *copyForCaller(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  auto *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer)));
  if (copy == nullptr) fail(broker, status, "Insufficient memory");
  return copy;
}

// ---- Subscribers ---------------------------------------------------------------

// Makes the subscriber lock and list on first use; false when they cannot be made.
bool ensureSubscribers(const CMPIBroker *broker) {
  if (subscribersCreated.load(std::memory_order_acquire)) return true;
  CMPI_MUTEX_TYPE mutex = ensureMutex(broker, subscriberLock);
  if (mutex == nullptr) return false;
  BrokerLock lock(broker, mutex);
  if (subscribers == nullptr) subscribers = WSIList_new();
  subscribersCreated.store(subscribers != nullptr, std::memory_order_release);
  return subscribers != nullptr;
}

void notifyFilerChange(const CMPIBroker *broker, int32_t eventCode, const Filer *filer) {
  if (broker == nullptr || !ensureSubscribers(broker)) return;
  BrokerLock lock(broker, subscriberLock.load(std::memory_order_acquire));
  for (WSIListPos *at = WSIList_getFirst(subscribers); at != nullptr; at = WSIList_getNext(at)) {
    auto callback = reinterpret_cast<FilerChangeCallback>(WSIList_getElement(at));
    callback(eventCode, filer);
  }
}

// The add's file update, under the registry lock: filers.dat plus the new line
// becomes the new filers.dat.  The record joins the list under the same hold,
// so that a concurrent rewrite cannot write the file without it.  False with
// the status set when the record must not be stored.
bool appendToFileAndList(const CMPIBroker *broker, CMPIStatus *status, Filer *filer,
                         const char *line, bool &listed) {
  Text dat = buildPath(buildFilerDatPath, broker, status);
  if (dat == nullptr) return false;
  Text tmp = buildPath(buildFilerTmpPath, broker, status);
  if (tmp == nullptr) return false;
  Text back = buildPath(buildFilerBackPath, broker, status);
  if (back == nullptr) return false;

  BrokerLock lock(broker, theRegistryLock());
  platform::FileLock dirLock;
  if (!lockDataDirectory(broker, status, dirLock, dat.get())) return false;
  // A list left in filers.dat.tmp by a cut-off update is the one to build on.
  recoverInterruptedUpdate(broker, dat.get(), tmp.get());
  // The file as it is now, which another process may have changed since the
  // load: its lines stay as they are, whether this process could read them or not.
  Wiped content;
  int error =
      platform::fileSystem().readRegular(dat.get(), filerline::kMaxFileBytes, &content.text);
  if (error == platform::kNotRegularFile) {
    failLogged(broker, status, std::string("Unable to read ") + dat.get() + ": not a regular file");
    return false;
  }
  if (error == platform::kFileTooLarge) {
    failLogged(broker, status,
               std::string("Unable to read ") + dat.get() + ": larger than " +
                   std::to_string(filerline::kMaxFileBytes) + " bytes");
    return false;
  }
  if (error != 0 && error != ENOENT) {
    failLogged(broker, status, withErrno(std::string("Unable to read ") + dat.get(), error));
    return false;
  }
  // A last line without its line end is ended, not run into by the new one.
  if (!content.text.empty() && content.text.back() != filerline::kLineEnd)
    content.text.push_back(filerline::kLineEnd);
  writeFilerRecord(content.text, line);
  if (!withinBound(broker, status, content.text)) return false;

  bool backedUp = false;
  if (!replaceFilersFile(broker, status, dat.get(), tmp.get(), back.get(), content.text, true,
                         backedUp))
    return false;
  if (!backedUp) {  // there was no filers.dat: the back file starts as the new one
    StatusRecord ignored;
    copyFilerDat(ignored.get(), dat.get(), back.get());
  }
  listed = WSIList_append(filers, filer) != 0;
  if (listed) indexAppended(filer);
  if (!listed)
    CMTraceMessage(broker, CMPI_LEV_INFO, kLogId, "Insufficient memory appending filer to list",
                   nullptr);
  return true;
}

}  // namespace
}  // namespace pk

extern "C" {

CMPIStatus addFilerToList(const CMPIBroker *broker, Filer *filer) {
  using namespace pk;
  CMPIStatus result{CMPI_RC_OK, nullptr};
  CMPIStatus *status = &result;
  // An exception can only escape before the record is listed: the caller keeps it.
  cEdgeVoid(broker, status, [&] {
    if (!initFilerRegistry(broker, status) || failed(status)) return;
    Text line(formatFilerRecord(broker, status, filer));
    if (line == nullptr) return;
    basicEncode(line.get());

    bool listed = false;
    if (!appendToFileAndList(broker, status, filer, line.get(), listed)) return;
    notifyFilerChange(broker, FILER_CHANGE_ADDED, filer);

    {
      StatusRecord record;
      if (FilerCache_addEntry(filer, 1, record.get()) == 0 || record.failed()) {
        clearKELVAStatus(record.get());
        FilerCache_addEntry(filer, 0, record.get());
      }
    }
    {
      StatusRecord record;
      if (addCloningMutexNode(filer, record.get()) == 0 || record.failed())
        fail(broker, status, "Unable to add a Cloning Mutex Node.");
    }
    // A record that could not join the list is nobody's once the add is done.
    if (!listed) freeFiler(filer);
  });
  return result;
}

void removeFilerFromList(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  using namespace pk;
  StatusSlot place(status);
  cEdgeVoid(broker, place.get(), [&] {
    if (!initFilerRegistry(broker, place.get())) return;
    {
      BrokerLock lock(broker, theRegistryLock());
      Filer *found = findRegisteredFiler(filer != nullptr ? filer->systemId : nullptr);
      if (found != nullptr) {
        WSIList_remove(filers, found);
        indexRemoved(found);
        StatusRecord record;
        FilerCache_deleteEntry(found, record.get());
        clearKELVAStatus(record.get());
        deleteCloningMutexNode(found, record.get());
        freeFiler(found);
      }
    }
    rewriteFilersFile(broker, place.get());
    if (!place.failed()) notifyFilerChange(broker, FILER_CHANGE_REMOVED, filer);
  });
}

void modifyFiler(const CMPIBroker *broker, CMPIStatus *status, const Filer *oldFiler,
                 Filer *newFiler) {
  pk::StatusSlot place(status);
  removeFilerFromList(broker, place.get(), oldFiler);
  CMPIStatus added = addFilerToList(broker, newFiler);
  if (place.get()->msg != nullptr) CMRelease(place.get()->msg);
  *place.get() = added;
}

WSIList *getFilerList(const CMPIBroker *broker, CMPIStatus *status) {
  using namespace pk;
  StatusSlot place(status);
  return cEdge(broker, place.get(), static_cast<WSIList *>(nullptr), [&]() -> WSIList * {
    clearCMPIError(broker, place.get());
    if (!initFilerRegistry(broker, place.get()) || place.failed()) {
      CMPIString *message = place.get()->msg;
      logErrorStatus(broker, kLogId,
                     message != nullptr ? CMGetCharsPtr(message, nullptr) : nullptr);
      return nullptr;
    }
    WSIList *copy = nullptr;
    {
      BrokerLock lock(broker, theRegistryLock());
      copy = WSIList_copy(filers, copyFiler, freeFiler);
    }
    if (copy == nullptr) {
      fail(broker, place.get(), "Insufficient memory");
      return nullptr;
    }
    CMLogMessage(broker, CMPI_SEV_WARNING, kLogId, "Got List of Filers.", nullptr);
    return copy;
  });
}

WSIList *getFilers(CMPIStatus *status, const CMPIBroker *broker, const CMPIContext *,
                   const CMPIObjectPath *) {
  pk::StatusSlot place(status);
  WSIList *list = getFilerList(broker, place.get());
  if (list == nullptr && !place.failed()) pk::fail(broker, place.get(), "unable to get list!");
  return list;
}

Filer *filerExists(const CMPIBroker *broker, CMPIStatus *status, const char *systemId) {
  using namespace pk;
  StatusSlot place(status);
  return cEdge(broker, place.get(), static_cast<Filer *>(nullptr), [&]() -> Filer * {
    if (!initFilerRegistry(broker, place.get()) || place.failed()) return nullptr;
    BrokerLock lock(broker, theRegistryLock());
    Filer *found = findRegisteredFiler(systemId);
    return found != nullptr ? copyForCaller(broker, place.get(), found) : nullptr;
  });
}

Filer *getFilerByName(CMPIStatus *status, const CMPIBroker *broker, const CMPIContext *,
                      const CMPIObjectPath *, const char *systemId) {
  pk::StatusSlot place(status);
  Filer *filer = filerExists(broker, place.get(), systemId);
  if (filer == nullptr && !place.failed())
    raiseCMPIError(broker, place.get(), CMPI_RC_ERR_NOT_FOUND,
                   "KELVA_FilerData Instance not found");
  return filer;
}

Filer *filerExistsFromKeys(const CMPIBroker *broker, CMPIStatus *status, const char *host,
                           int connParam2) {
  using namespace pk;
  StatusSlot place(status);
  return cEdge(broker, place.get(), static_cast<Filer *>(nullptr), [&]() -> Filer * {
    if (!initFilerRegistry(broker, place.get()) || place.failed()) {
      clearCMPIError(broker, place.get());
      return nullptr;
    }
    BrokerLock lock(broker, theRegistryLock());
    for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at)) {
      auto *filer = static_cast<Filer *>(WSIList_getElement(at));
      if (strCompare(filer->host, host) != 0 || filer->connParam2 != connParam2) continue;
      Filer *copy = copyForCaller(broker, place.get(), filer);
      if (copy != nullptr) clearCMPIError(broker, place.get());
      return copy;
    }
    return nullptr;
  });
}

Filer *findFilerByIPAddress(const CMPIBroker *broker, const char *address, CMPIStatus *status) {
  using namespace pk;
  StatusSlot place(status);
  return cEdge(broker, place.get(), static_cast<Filer *>(nullptr), [&]() -> Filer * {
    if (!initFilerRegistry(broker, place.get()) || place.failed()) return nullptr;
    // The filers are asked under the registry lock, so a slow filer holds up
    // every registry user; the list must not change under the walk.
    BrokerLock lock(broker, theRegistryLock());
    for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr; at = WSIList_getNext(at)) {
      auto *filer = static_cast<Filer *>(WSIList_getElement(at));
      StatusRecord record;
      std::unique_ptr<WSIList, AddressesFree> addresses(getAllIPV4IPs(filer, record.get()));
      if (addresses == nullptr || record.failed()) {
        raiseCMPIErrorKELVA(broker, place.get(), record.get());
        return nullptr;
      }
      for (WSIListPos *a = WSIList_getFirst(addresses.get()); a != nullptr;
           a = WSIList_getNext(a)) {
        if (strCompare(address, static_cast<const char *>(WSIList_getElement(a))) == 0)
          return copyForCaller(broker, place.get(), filer);
      }
    }
    return nullptr;
  });
}

void subscribeToFilerChange(const CMPIBroker *broker, void *, FilerChangeCallback callback) {
  using namespace pk;
  cEdgeVoid(broker, nullptr, [&] {
    if (broker == nullptr || !ensureSubscribers(broker)) return;
    BrokerLock lock(broker, subscriberLock.load(std::memory_order_acquire));
    WSIList_append(subscribers, reinterpret_cast<void *>(callback));
  });
}

void unsubscribeToFilerChange(const CMPIBroker *broker, void *, FilerChangeCallback callback) {
  using namespace pk;
  cEdgeVoid(broker, nullptr, [&] {
    if (broker == nullptr || !ensureSubscribers(broker)) return;
    BrokerLock lock(broker, subscriberLock.load(std::memory_order_acquire));
    WSIList_remove(subscribers, reinterpret_cast<void *>(callback));
  });
}

void returnOrFreeFiler(Filer *filer, Filer **place, const CMPIStatus *status) {
  if (place == nullptr || (status != nullptr && status->rc != CMPI_RC_OK)) {
    freeFiler(filer);
    return;
  }
  *place = filer;
}

}  // extern "C"

namespace pk::testing {

PK_TEST_HOOK platform::FileSystem *useProvkitFileSystem(platform::FileSystem *fs) {
  return platform::exchangeFileSystem(fs);
}

PK_TEST_HOOK void resetFilerRegistry(const CMPIBroker *broker) {
  std::lock_guard<std::mutex> guard(creationLock);
  if (filers != nullptr) {
    while (!WSIList_isEmpty(filers)) {
      auto *filer = static_cast<Filer *>(
          WSIList_remove(filers, WSIList_getFirstElement(filers, nullptr, nullptr)));
      StatusRecord record;
      FilerCache_deleteEntry(filer, record.get());
      clearKELVAStatus(record.get());
      deleteCloningMutexNode(filer, record.get());
      freeFiler(filer);
    }
    WSIList_free(filers, nullptr);
    filers = nullptr;
  }
  filerIndex().clear();
  indexCurrent = false;
  registryLoaded.store(false, std::memory_order_release);
  if (subscribers != nullptr) WSIList_free(subscribers, nullptr);
  subscribers = nullptr;
  subscribersCreated.store(false, std::memory_order_release);
  for (std::atomic<CMPI_MUTEX_TYPE> *slot : {&registryLock, &subscriberLock}) {
    CMPI_MUTEX_TYPE mutex = slot->exchange(nullptr);
    if (mutex != nullptr && broker != nullptr) broker->xft->destroyMutex(mutex);
  }
}

}  // namespace pk::testing
