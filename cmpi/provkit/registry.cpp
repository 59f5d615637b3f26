// The filer registry: the list of managed filers in memory and its file,
// filers.dat, which is replaced as a whole through filers.dat.tmp while the
// previous version is kept as filers.dat.back.
//
// Crash safety rests on two rules.  The new file is complete and on disk
// before anything is removed or renamed, and filers.dat only ever disappears
// by becoming filers.dat.back.  So at every instant either filers.dat or
// filers.dat.back holds a whole list, and the first load of a process puts
// filers.dat.back back when an update was cut off between its two renames.
#include "provkit/registry.h"

#include <cmpimacs.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "guards.h"
#include "provkit/frame.h"

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

struct FileClose {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

struct AddressesFree {
  void operator()(WSIList *list) const { WSIList_free(list, wsifree); }
};

// Raises the controller record's failure and logs it, for the steps whose
// controller errors are both logged and reported.
void failLogged(const CMPIBroker *broker, CMPIStatus *status, const StatusRecord &record) {
  logErrorStatus(broker, kLogId, record.message());
  raiseCMPIErrorKELVA(broker, status, record.get());
}

// "Unable to open <path>, errno: <n>" in the 128 bytes the message has always had.
std::string openFailure(const char *path, int error) {
  char text[128];
  std::snprintf(text, sizeof text, "Unable to open %s, errno: %d", path, error);
  return text;
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

std::string parentDirectory(const char *path) {
  std::string text(path);
  size_t cut = text.find_last_of(std::string("/") + platform::pathSeparator());
  if (cut == std::string::npos) return ".";
  return cut == 0 ? text.substr(0, 1) : text.substr(0, cut);
}

// A rename is durable only once its directory is; a failure here does not
// undo the update, so it is only logged.
void syncDirectoryOf(const CMPIBroker *broker, const char *path) {
  std::string dir = parentDirectory(path);
  if (int error = platform::syncDirectory(dir.c_str()); error != 0) {
    char text[160];
    std::snprintf(text, sizeof text, "Unable to sync directory %s, errno: %d", dir.c_str(), error);
    CMLogMessage(broker, CMPI_SEV_WARNING, kLogId, text, nullptr);
  }
}

// Pushes a written temporary file to the disk and closes it; false with the
// status set when either fails, since the file may then be incomplete.
bool syncAndClose(const CMPIBroker *broker, CMPIStatus *status, File file, const char *path) {
  int error = platform::syncFile(file.get());
  if (std::fclose(file.release()) != 0 && error == 0) error = platform::lastErrno();
  if (error == 0) return true;
  char text[128];
  std::snprintf(text, sizeof text, "Unable to write %s, errno: %d", path, error);
  logErrorStatus(broker, kLogId, text);
  fail(broker, status, text);
  return false;
}

// ---- The file ---------------------------------------------------------------

// New (wsicalloc) line "systemId:host:userName:connParam1:connParam2:connParam3:password",
// not yet encoded; null with the status set on failure.
char *formatFilerRecord(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  if (filer == nullptr) {
    fail(broker, status, "No filer passed in.");
    return nullptr;
  }
  if (filer->systemId == nullptr) {
    fail(broker, status, "No System ID specified.");
    return nullptr;
  }
  const char *host = filer->host != nullptr ? filer->host : "";
  const char *user = filer->userName != nullptr ? filer->userName : "";
  const char *password = filer->password != nullptr ? filer->password : "";
  const char *format = "%s:%s:%s:%d:%d:%d:%s";
  // Six colons, the terminator and 15 digits cover the usual numbers; wider
  // ones get the room they need rather than a cut-off password.
  size_t size = std::strlen(filer->systemId) + std::strlen(host) + std::strlen(user) +
                std::strlen(password) + 22;
  int needed = std::snprintf(nullptr, 0, format, filer->systemId, host, user, filer->connParam1,
                             filer->connParam2, filer->connParam3, password);
  if (needed >= 0 && static_cast<size_t>(needed) + 1 > size) size = static_cast<size_t>(needed) + 1;
  char *line = static_cast<char *>(wsicalloc(size, 1));
  if (line == nullptr) {
    fail(broker, status, "Unable to allocate string");
    return nullptr;
  }
  std::snprintf(line, size, format, filer->systemId, host, user, filer->connParam1,
                filer->connParam2, filer->connParam3, password);
  return line;
}

bool writeFilerRecord(const CMPIBroker *broker, CMPIStatus *status, std::FILE *file,
                      const char *line) {
  StatusRecord record;
  writeFilerToDisk(record.get(), file, line);
  if (!record.failed()) return true;
  failLogged(broker, status, record);
  return false;
}

// filers.dat is missing while filers.dat.back exists only when an update was
// cut off between its two renames (or its final rename failed): the back file
// is then the last list whose update completed.  Put it back the same way an
// update would, so that a crash during the repair changes nothing.
void restoreInterruptedUpdate(const CMPIBroker *broker) {
  StatusRecord record;
  Text dat(buildFilerDatPath(record.get()));
  Text tmp(buildFilerTmpPath(record.get()));
  Text back(buildFilerBackPath(record.get()));
  if (dat == nullptr || tmp == nullptr || back == nullptr || record.failed()) return;
  if (platform::fileExists(dat.get()) || !platform::fileExists(back.get())) return;
  if (copyFilerDat(record.get(), back.get(), tmp.get()) == 0) {
    logErrorStatus(broker, kLogId, record.message());
    return;
  }
  File file(std::fopen(tmp.get(), "ab"));
  int error = file == nullptr ? platform::lastErrno() : platform::syncFile(file.get());
  file.reset();
  if (error == 0) error = platform::renameFile(tmp.get(), dat.get());
  if (error != 0) {
    char text[160];
    std::snprintf(text, sizeof text, "Unable to restore filers.dat from filers.dat.back, errno: %d",
                  error);
    logErrorStatus(broker, kLogId, text);
    return;
  }
  syncDirectoryOf(broker, dat.get());
  CMLogMessage(broker, CMPI_SEV_WARNING, kLogId,
               "filers.dat restored from filers.dat.back after an interrupted update", nullptr);
}

// Runs once, under the registry lock, into the new list.
void loadFilersFromDisk(const CMPIBroker *broker, CMPIStatus *status) {
  restoreInterruptedUpdate(broker);
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
  File file(std::fopen(tmp.get(), "w+b"));
  if (file == nullptr) {
    fail(broker, status, openFailure(tmp.get(), platform::lastErrno()).c_str());
    return;
  }
  for (WSIListPos *at = WSIList_getFirst(filers); at != nullptr && !failed(status);
       at = WSIList_getNext(at)) {
    Text line(formatFilerRecord(broker, status, static_cast<Filer *>(WSIList_getElement(at))));
    if (line == nullptr) break;
    basicEncode(line.get());
    writeFilerRecord(broker, status, file.get(), line.get());
  }
  if (failed(status)) return;  // filers.dat and filers.dat.back stay as they are
  if (!syncAndClose(broker, status, std::move(file), tmp.get())) return;

  platform::removeFile(back.get());
  if (platform::renameFile(dat.get(), back.get()) != 0)
    fail(broker, status, "Failed to rename filers.dat to filers.dat.back");
  platform::removeFile(dat.get());
  if (platform::renameFile(tmp.get(), dat.get()) != 0) {
    fail(broker, status, "Failed to rename filers.dat.tmp to filers.dat");
    return;
  }
  syncDirectoryOf(broker, dat.get());
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
  {
    StatusRecord record;
    if (copyFilerDat(record.get(), dat.get(), tmp.get()) == 0 || record.failed()) {
      raiseCMPIErrorKELVA(broker, status, record.get());
      return false;
    }
  }
  File file(std::fopen(tmp.get(), "ab"));
  if (file == nullptr) {
    std::string text = openFailure(tmp.get(), platform::lastErrno());
    logErrorStatus(broker, kLogId, text.c_str());
    fail(broker, status, text.c_str());
    return false;
  }
  if (!writeFilerRecord(broker, status, file.get(), line)) return false;
  if (!syncAndClose(broker, status, std::move(file), tmp.get())) return false;

  platform::removeFile(back.get());
  // Fails when there is no filers.dat yet; the back file is then made below.
  bool backedUp = platform::renameFile(dat.get(), back.get()) == 0;
  platform::removeFile(dat.get());
  if (platform::renameFile(tmp.get(), dat.get()) != 0) {
    fail(broker, status, "Failed to rename filers.dat.tmp to filers.dat");
    return false;
  }
  syncDirectoryOf(broker, dat.get());
  if (!backedUp) {
    StatusRecord ignored;
    copyFilerDat(ignored.get(), dat.get(), back.get());
  }
  listed = WSIList_append(filers, filer) != 0;
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
  if (!initFilerRegistry(broker, status) || failed(status)) return result;
  Text line(formatFilerRecord(broker, status, filer));
  if (line == nullptr) return result;
  basicEncode(line.get());

  bool listed = false;
  if (!appendToFileAndList(broker, status, filer, line.get(), listed)) return result;
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
  return result;
}

void removeFilerFromList(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  using namespace pk;
  StatusSlot place(status);
  if (!initFilerRegistry(broker, place.get())) return;
  {
    BrokerLock lock(broker, theRegistryLock());
    Filer *found = findRegisteredFiler(filer != nullptr ? filer->systemId : nullptr);
    if (found != nullptr) {
      WSIList_remove(filers, found);
      StatusRecord record;
      FilerCache_deleteEntry(found, record.get());
      clearKELVAStatus(record.get());
      deleteCloningMutexNode(found, record.get());
      freeFiler(found);
    }
  }
  rewriteFilersFile(broker, place.get());
  if (!place.failed()) notifyFilerChange(broker, FILER_CHANGE_REMOVED, filer);
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
  clearCMPIError(broker, place.get());
  if (!initFilerRegistry(broker, place.get()) || place.failed()) {
    CMPIString *message = place.get()->msg;
    logErrorStatus(broker, kLogId, message != nullptr ? CMGetCharsPtr(message, nullptr) : nullptr);
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
  if (!initFilerRegistry(broker, place.get()) || place.failed()) return nullptr;
  BrokerLock lock(broker, theRegistryLock());
  Filer *found = findRegisteredFiler(systemId);
  return found != nullptr ? copyForCaller(broker, place.get(), found) : nullptr;
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
}

Filer *findFilerByIPAddress(const CMPIBroker *broker, const char *address, CMPIStatus *status) {
  using namespace pk;
  StatusSlot place(status);
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
    for (WSIListPos *a = WSIList_getFirst(addresses.get()); a != nullptr; a = WSIList_getNext(a)) {
      if (strCompare(address, static_cast<const char *>(WSIList_getElement(a))) == 0)
        return copyForCaller(broker, place.get(), filer);
    }
  }
  return nullptr;
}

void subscribeToFilerChange(const CMPIBroker *broker, void *, FilerChangeCallback callback) {
  using namespace pk;
  if (broker == nullptr || !ensureSubscribers(broker)) return;
  BrokerLock lock(broker, subscriberLock.load(std::memory_order_acquire));
  WSIList_append(subscribers, reinterpret_cast<void *>(callback));
}

void unsubscribeToFilerChange(const CMPIBroker *broker, void *, FilerChangeCallback callback) {
  using namespace pk;
  if (broker == nullptr || !ensureSubscribers(broker)) return;
  BrokerLock lock(broker, subscriberLock.load(std::memory_order_acquire));
  WSIList_remove(subscribers, reinterpret_cast<void *>(callback));
}

void returnOrFreeFiler(Filer *filer, Filer **place, const CMPIStatus *status) {
  if (place == nullptr || (status != nullptr && status->rc != CMPI_RC_OK)) {
    freeFiler(filer);
    return;
  }
  *place = filer;
}

}  // extern "C"
