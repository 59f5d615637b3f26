// POSIX side of the platform seam.
#if !defined(_WIN32)

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "platform.h"

namespace pk::platform {

struct OsMutex {
  pthread_mutex_t m;
};

OsMutex *mutexCreate() {
  auto *mutex = new (std::nothrow) OsMutex;
  if (mutex == nullptr) return nullptr;
  if (pthread_mutex_init(&mutex->m, nullptr) != 0) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}
void mutexLock(OsMutex *m) { pthread_mutex_lock(&m->m); }
void mutexUnlock(OsMutex *m) { pthread_mutex_unlock(&m->m); }
void mutexClose(OsMutex *m) {
  if (m == nullptr) return;
  pthread_mutex_destroy(&m->m);
  delete m;
}

namespace {
thread_local std::string tlsLibraryError;
}

void *libraryOpen(const char *path) {
  tlsLibraryError.clear();
  void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    tlsLibraryError = why != nullptr ? why : "unknown error";
  }
  return handle;
}
void *librarySymbol(void *library, const char *name) {
  tlsLibraryError.clear();
  dlerror();
  void *address = dlsym(library, name);
  if (address == nullptr) {
    const char *why = dlerror();
    tlsLibraryError = why != nullptr ? why : "symbol not found";
  }
  return address;
}
void libraryClose(void *library) {
  if (library != nullptr) dlclose(library);
}
// Touches the thread's error text only on failure: the unload at process exit
// runs after the thread's own objects have been destroyed.
bool libraryUnload(void *library) {
  if (library == nullptr) {
    tlsLibraryError = "invalid library handle";
    return false;
  }
  if (dlclose(library) == 0) return true;
  const char *why = dlerror();
  tlsLibraryError = why != nullptr ? why : "unknown error";
  return false;
}
std::string lastLibraryError() { return tlsLibraryError; }
std::string libraryFileName(const std::string &name) { return "lib" + name + ".so"; }

WallTime wallClock() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return {static_cast<int64_t>(tv.tv_sec), static_cast<int32_t>(tv.tv_usec)};
}
uint64_t monotonicNanos() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
void sleepMillis(uint64_t millis) {
  std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

char pathSeparator() { return '/'; }
bool fileExists(const char *path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0;
}
bool isDirectory(const char *path) {
  struct stat st {};
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
int removeFile(const char *path) { return unlink(path) == 0 ? 0 : errno; }
int renameFile(const char *from, const char *to) { return rename(from, to) == 0 ? 0 : errno; }
int syncFile(std::FILE *file) {
  if (std::fflush(file) != 0) return errno;
  return fsync(fileno(file)) == 0 ? 0 : errno;
}
int syncDirectory(const char *dir) {
  int fd = open(dir, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return errno;
  int rc = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return rc;
}
int restrictToOwner(const char *path) { return chmod(path, S_IRUSR | S_IWUSR) == 0 ? 0 : errno; }
int restrictOpenFileToOwner(std::FILE *file) {
  return fchmod(fileno(file), S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
}
std::string getEnv(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}
std::string userDataRoot() {
  std::string home = getEnv("HOME");
  return home.empty() ? "/tmp" : home;
}
int lastErrno() { return errno; }

bool makeDirectories(const char *path) {
  if (path == nullptr || *path == '\0') return false;
  std::string p(path);
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return isDirectory(path);
}

}  // namespace pk::platform

#endif
