// The one place where provkit and the controller library meet the operating
// system.  Everything system-specific lives behind these functions, with a
// POSIX side (platform_posix.cpp) and a Win32 side (platform_win32.cpp).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A C++ entry point that tests reach from outside the library: never named in
// a public header and no part of the C interface that the export check
// compares.  On Windows it stays inside the DLL, whose export table is exactly
// the C interface.
#if defined(_WIN32) && defined(PK_EXPORT_TEST_HOOKS)
// The tested 64-bit build exports them so that its test programs can reach
// them; the shipped DLLs do not.
#define PK_TEST_HOOK __declspec(dllexport)
#elif defined(_WIN32)
#define PK_TEST_HOOK
#else
#define PK_TEST_HOOK __attribute__((visibility("default")))
#endif

namespace pk::platform {

// ---- Unnamed process mutexes (CreateMutex / pthread_mutex) -------------
struct OsMutex;
// New unlocked mutex, or nullptr when the system refuses one.
OsMutex *mutexCreate();
void mutexLock(OsMutex *m);
void mutexUnlock(OsMutex *m);
// Closes the mutex; nullptr is ignored.
void mutexClose(OsMutex *m);

// ---- Dynamic libraries ---------------------------------------------------
// Opens a library by path (LoadLibraryA / dlopen); nullptr on failure, with
// lastLibraryError() telling why.
void *libraryOpen(const char *path);
// Address of an exported function, or nullptr.
void *librarySymbol(void *library, const char *name);
void libraryClose(void *library);
// Releases one load of the library; false when the system refuses, with
// lastLibraryError() telling why.
bool libraryUnload(void *library);
// The system's text for the last failed library call of this thread
// (FormatMessageA of GetLastError / dlerror); empty when none.
std::string lastLibraryError();
// Sets the calling thread's library error text (cut at 511 characters); the
// two sides of the seam call it.
void setLibraryError(const char *text);
// File name of a library called `name`: lib<name>.so or <name>.dll.
std::string libraryFileName(const std::string &name);

// ---- Time ------------------------------------------------------------------
struct WallTime {
  int64_t seconds;
  int32_t micros;
};
// Wall-clock time since 1970 (_time64 precision on Windows is filled to micros).
WallTime wallClock();
// Monotonic clock in nanoseconds, for measuring intervals.
uint64_t monotonicNanos();
void sleepMillis(uint64_t millis);

// ---- Files -------------------------------------------------------------------
// Path separator of the platform: '\\' on Windows, '/' elsewhere.
char pathSeparator();
// dir + separator + name, without doubling a separator already there.
std::string joinPath(const std::string &dir, const std::string &name);
bool fileExists(const char *path);
bool isDirectory(const char *path);
// Creates the directory and its parents; true when it exists afterwards.
bool makeDirectories(const char *path);
// The plain file calls below are not for the data directory's files, which
// go through fileSystem() and replaceFile() (where a test can fail any step).
// 0 or the C library's errno.
int removeFile(const char *path);
// Atomically replaces `to` on POSIX; on Windows replaces it when it exists.
int renameFile(const char *from, const char *to);
// Pushes a stdio file's data to the disk (fflush + fsync / FlushFileBuffers).
int syncFile(std::FILE *file);
// Makes a completed rename in `dir` durable (fsync of the directory on POSIX;
// nothing to do on Windows).
int syncDirectory(const char *dir);
// Home or profile directory of the current user: HOME, else the account's
// home directory (never a shared folder such as /tmp); APPDATA on Windows.
// Empty when there is none.
std::string userDataRoot();
// errno of the calling thread.
int lastErrno();

// ---- The library's own files -------------------------------------------------
// Every step that writes, reads or locks the files of the data directory goes
// through one FileSystem, so that a test can put in one that fails any single
// step (testhooks.h).  Results are 0 or an errno value; the Windows side maps
// its codes onto errno values.

// An open file of the seam (a descriptor on POSIX, a HANDLE on Windows).
struct FileHandle;

enum class FileKind { Missing, Regular, Other };

// readRegular's refusals beyond errno.
constexpr int kNotRegularFile = 100001;  // a directory, device, FIFO, socket or link
constexpr int kFileTooLarge = 100002;    // more bytes than the caller allows

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Creates a new file for writing, owner-only from the start and not yet
  // marked complete; EEXIST when anything (a symbolic link included) is there.
  virtual int createNew(const char *path, FileHandle **file) = 0;
  virtual int write(FileHandle *file, const char *data, size_t size) = 0;
  // Pushes the file's data and metadata to the disk.
  virtual int sync(FileHandle *file) = 0;
  // Marks a written file complete (owner read and write, 0600, on POSIX, where
  // createNew made it write-only; the temporary attribute cleared on Windows).
  virtual int markComplete(FileHandle *file) = 0;
  // Releases the handle whatever the result.
  virtual int close(FileHandle *file) = 0;
  // Atomically replaces `to` (a link at `to` is replaced, not followed).
  virtual int rename(const char *from, const char *to) = 0;
  // ENOENT when nothing is there; a link is removed, not followed.
  virtual int remove(const char *path) = 0;
  // Makes completed renames in the directory durable.
  virtual int syncDirectory(const char *dir) = 0;
  // What is at the path, without following a link; `complete` tells whether a
  // regular file carries markComplete's mark.
  virtual int inspect(const char *path, FileKind *kind, bool *complete) = 0;
  // The whole content of a regular file, at most maxBytes, without following a
  // link and without waiting on a device or FIFO: ENOENT when missing,
  // kNotRegularFile, kFileTooLarge.
  virtual int readRegular(const char *path, size_t maxBytes, std::string *content) = 0;
  // Opens the lock file (made owner-only when missing, never through a link)
  // and waits for an exclusive advisory lock on it (flock / LockFileEx) that
  // other processes honour; close() releases it.
  virtual int lockExclusive(const char *path, FileHandle **lock) = 0;
};

// The operating system's file system.
FileSystem &systemFileSystem();
// The file system in use: the system's unless a test put in another.
FileSystem &fileSystem();
// Test hook: puts `replacement` in use (null: the system's again) and returns
// the one that was.  Each library holds its own copy of the seam, so each
// offers its own entry point to this (testhooks.h).
FileSystem *exchangeFileSystem(FileSystem *replacement);

}  // namespace pk::platform

namespace pk::testing {
// Each library holds its own copy of the seam: these put `fs` into provkit's
// and into the controller library's (null: the system's again) and return the
// one that was in use.  Tests only (testhooks.h).
PK_TEST_HOOK platform::FileSystem *useProvkitFileSystem(platform::FileSystem *fs);
PK_TEST_HOOK platform::FileSystem *useControllerFileSystem(platform::FileSystem *fs);
}  // namespace pk::testing

namespace pk::platform {

// The directory part of a path ("." when it has none).
std::string parentDirectory(const std::string &path);

// Name of the lock file that every process holds while it replaces files of
// the directory it is in (the data directory).
constexpr const char *kDirectoryLockName = "datadir.lock";

// An exclusive lock on a lock file, held for the scope.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock &) = delete;
  FileLock &operator=(const FileLock &) = delete;
  // 0 once held, else the error of opening or locking.
  int acquire(const char *path) {
    release();
    return fileSystem().lockExclusive(path, &lock_);
  }
  void release() {
    if (lock_ != nullptr) fileSystem().close(lock_);
    lock_ = nullptr;
  }

 private:
  FileHandle *lock_ = nullptr;
};

// The names of a file replaced as a whole.  The new content is written to
// `temporary`, the target's last version is kept as `previous` (none when
// empty), and `temporary` then takes the target's name.
struct ReplacedFile {
  std::string target;
  std::string temporary;
  std::string previous;
  // When the target cannot become `previous`, remove it instead; when it cannot
  // be removed either (a missing target included), stop before the last rename
  // with WriteStep::Previous, leaving the complete temporary file.  For files
  // whose keepers must learn that no target was there to be kept.
  bool removeUnmovedTarget = false;
};

// Previous: the target could neither become `previous` nor be removed
// (removeUnmovedTarget); the error is the removal's.
enum class WriteStep { None, Create, Write, Sync, Close, Replace, Previous };

struct WriteOutcome {
  WriteStep failedStep = WriteStep::None;  // the step that ended the write
  int error = 0;                           // its error
  int previousError = 0;   // why the target did not become `previous` (ENOENT: no target)
  int directoryError = 0;  // the directory sync after the renames failed; the file is in place
  bool ok() const { return failedStep == WriteStep::None; }
};

// Replaces the file crash-safely: a stale temporary file is removed; the new
// one is created owner-only (never through a link), written, synced, marked
// complete and synced again; the target becomes `previous`; the temporary file
// becomes the target; the directory is synced.  Until the last rename the
// target is untouched or already `previous`, so the target or `previous` always
// holds a whole version, and a complete temporary file is the newest one.  A
// failure before the renames removes the temporary file; a failed last rename
// leaves it, complete.
WriteOutcome replaceFile(const ReplacedFile &names, std::string_view content);

// Restricts a file to its owner (0600 on POSIX; on Windows a protected access
// list that grants the current user alone).
int restrictToOwner(const char *path);
// The same for a file that is open (fchmod on POSIX; the access list of the
// file behind the stream on Windows).
int restrictOpenFileToOwner(std::FILE *file);
// Whether only the file's owner may read or write it (no group or other bits
// on POSIX; no access for anyone but the current user on Windows).
int fileIsOwnerOnly(const char *path, bool *ownerOnly);
// Value of an environment variable, or empty when unset.
std::string getEnv(const char *name);
// Sets an environment variable for this process (and the libraries that read it
// later); false when the system refuses.
bool setEnv(const char *name, const char *value);

}  // namespace pk::platform

// Library load and unload hooks: DllMain on Windows, constructor/destructor
// elsewhere.  `onLoad` returns false to refuse the load where the system
// allows it (Windows); elsewhere the refusal is remembered by the caller.
// DllMain is spelled with plain types (BOOL is int, DWORD unsigned long,
// WINAPI __stdcall; 1 is DLL_PROCESS_ATTACH, 0 DLL_PROCESS_DETACH) so that no
// user of this header pulls in <windows.h>.
#if defined(_WIN32)
#define PK_LIBRARY_HOOKS(onLoad, onUnload)                                 \
  extern "C" int __stdcall DllMain(void *, unsigned long reason, void *) { \
    if (reason == 1ul) return (onLoad)() ? 1 : 0;                          \
    if (reason == 0ul) (onUnload)();                                       \
    return 1;                                                              \
  }
#else
#define PK_LIBRARY_HOOKS(onLoad, onUnload)                                           \
  __attribute__((constructor)) static void pkLibraryLoadHook() { (void)(onLoad)(); } \
  __attribute__((destructor)) static void pkLibraryUnloadHook() { (onUnload)(); }
#endif

// ---- Names (dns_posix.cpp, dns_win32.cpp) -------------------------------------
namespace pk::platform {
// The host name of the first PTR record that DNS gives for name (an
// "in-addr.arpa" name); false when there is no answer or no PTR record.
bool reverseLookup(const char *name, std::string *host);
// The IPv4 address texts of host by the system resolver; empty when none.
std::vector<std::string> hostAddresses(const char *host);
// Sends reverse lookups to the DNS server at address:port instead of the
// system's (an empty address: the system's again).  Tests only: Windows asks
// the given address on port 53.
void setDnsServer(const std::string &address, uint16_t port);
}  // namespace pk::platform
