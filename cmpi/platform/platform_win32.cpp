// Win32 side of the platform seam.
#if defined(_WIN32)

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/timeb.h>
#include <time.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>

#include "platform.h"

namespace pk::platform {

struct OsMutex {
  HANDLE h;
};

OsMutex *mutexCreate() {
  HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
  if (h == nullptr) return nullptr;
  auto *mutex = new (std::nothrow) OsMutex{h};
  if (mutex == nullptr) CloseHandle(h);
  return mutex;
}
void mutexLock(OsMutex *m) { WaitForSingleObject(m->h, INFINITE); }
void mutexUnlock(OsMutex *m) { ReleaseMutex(m->h); }
void mutexClose(OsMutex *m) {
  if (m == nullptr) return;
  CloseHandle(m->h);
  delete m;
}

namespace {
thread_local std::string tlsLibraryError;

std::string systemMessage(DWORD code) {
  char *text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out = (n != 0 && text != nullptr) ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}
}  // namespace

void *libraryOpen(const char *path) {
  tlsLibraryError.clear();
  HMODULE h = LoadLibraryA(path);
  if (h == nullptr) tlsLibraryError = systemMessage(GetLastError());
  return reinterpret_cast<void *>(h);
}
void *librarySymbol(void *library, const char *name) {
  tlsLibraryError.clear();
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
  if (address == nullptr) tlsLibraryError = systemMessage(GetLastError());
  return reinterpret_cast<void *>(address);
}
void libraryClose(void *library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}
// Touches the thread's error text only on failure: the unload at process exit
// runs after the thread's own objects have been destroyed.
bool libraryUnload(void *library) {
  if (FreeLibrary(static_cast<HMODULE>(library))) return true;
  tlsLibraryError = systemMessage(GetLastError());
  return false;
}
std::string lastLibraryError() { return tlsLibraryError; }
std::string libraryFileName(const std::string &name) { return name + ".dll"; }

WallTime wallClock() {
  __timeb64 tb{};
  _ftime64(&tb);
  return {static_cast<int64_t>(tb.time), static_cast<int32_t>(tb.millitm) * 1000};
}
uint64_t monotonicNanos() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
void sleepMillis(uint64_t millis) { Sleep(static_cast<DWORD>(millis)); }

char pathSeparator() { return '\\'; }
bool fileExists(const char *path) {
  return path != nullptr && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
bool isDirectory(const char *path) {
  if (path == nullptr) return false;
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
int removeFile(const char *path) { return std::remove(path) == 0 ? 0 : errno; }
int renameFile(const char *from, const char *to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  return EACCES;
}
int syncFile(std::FILE *file) {
  if (std::fflush(file) != 0) return errno;
  return _commit(_fileno(file)) == 0 ? 0 : errno;
}
int syncDirectory(const char *) { return 0; }
int restrictToOwner(const char *path) {
  return _chmod(path, _S_IREAD | _S_IWRITE) == 0 ? 0 : errno;
}
int restrictOpenFileToOwner(std::FILE *) { return 0; }
std::string getEnv(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}
std::string userDataRoot() {
  std::string root = getEnv("APPDATA");
  return root.empty() ? "C:\\" : root;
}
int lastErrno() { return errno; }

bool makeDirectories(const char *path) {
  if (path == nullptr || *path == '\0') return false;
  std::string p(path);
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '\\' || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (part.size() == 2 && part[1] == ':') continue;
      if (_mkdir(part.c_str()) != 0 && errno != EEXIST) return false;
    }
  }
  return isDirectory(path);
}

}  // namespace pk::platform

#endif
