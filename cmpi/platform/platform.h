// The one place where provkit and the controller library meet the operating
// system.  Everything system-specific lives behind these functions, with a
// POSIX side (platform_posix.cpp) and a Win32 side (platform_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
// 0 or the C library's errno.
int removeFile(const char *path);
// Atomically replaces `to` on POSIX; on Windows replaces it when it exists.
int renameFile(const char *from, const char *to);
// Pushes a stdio file's data to the disk (fflush + fsync / FlushFileBuffers).
int syncFile(std::FILE *file);
// Makes a completed rename in `dir` durable (fsync of the directory on POSIX;
// nothing to do on Windows).
int syncDirectory(const char *dir);
// Restricts a file to its owner (0600 on POSIX; owner-only ACL is left to the
// profile directory on Windows).
int restrictToOwner(const char *path);
// The same for a file that is open (fchmod on POSIX; nothing on Windows, where the
// profile directory's ACL applies).
int restrictOpenFileToOwner(std::FILE *file);
// Value of an environment variable, or empty when unset.
std::string getEnv(const char *name);
// Home or profile directory of the current user (HOME / APPDATA).
std::string userDataRoot();
// errno of the calling thread.
int lastErrno();

}  // namespace pk::platform

// Library load and unload hooks: DllMain on Windows, constructor/destructor
// elsewhere.  `onLoad` returns false to refuse the load where the system
// allows it (Windows); elsewhere the refusal is remembered by the caller.
#if defined(_WIN32)
#include <windows.h>
#define PK_LIBRARY_HOOKS(onLoad, onUnload)                              \
  extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {     \
    if (reason == DLL_PROCESS_ATTACH) return (onLoad)() ? TRUE : FALSE; \
    if (reason == DLL_PROCESS_DETACH) (onUnload)();                     \
    return TRUE;                                                        \
  }
#else
#define PK_LIBRARY_HOOKS(onLoad, onUnload)                                           \
  __attribute__((constructor)) static void pkLibraryLoadHook() { (void)(onLoad)(); } \
  __attribute__((destructor)) static void pkLibraryUnloadHook() { (onUnload)(); }
#endif
