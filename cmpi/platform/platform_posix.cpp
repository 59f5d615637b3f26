// POSIX side of the platform seam.
#if !defined(_WIN32)

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

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

void *libraryOpen(const char *path) {
  setLibraryError("");
  void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    setLibraryError(why != nullptr ? why : "unknown error");
  }
  return handle;
}
void *librarySymbol(void *library, const char *name) {
  setLibraryError("");
  dlerror();
  void *address = dlsym(library, name);
  if (address == nullptr) {
    const char *why = dlerror();
    setLibraryError(why != nullptr ? why : "symbol not found");
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
    setLibraryError("invalid library handle");
    return false;
  }
  if (dlclose(library) == 0) return true;
  const char *why = dlerror();
  setLibraryError(why != nullptr ? why : "unknown error");
  return false;
}
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
int fileIsOwnerOnly(const char *path, bool *ownerOnly) {
  struct stat st {};
  *ownerOnly = false;
  if (lstat(path, &st) != 0) return errno;
  *ownerOnly = (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
  return 0;
}
int restrictOpenFileToOwner(std::FILE *file) {
  return fchmod(fileno(file), S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
}
std::string getEnv(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}
bool setEnv(const char *name, const char *value) { return setenv(name, value, 1) == 0; }
std::string userDataRoot() {
  std::string home = getEnv("HOME");
  if (!home.empty()) return home;
  // Without HOME, the account's own home directory: never a folder that other
  // users share, where one of them could plant the files first.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd *found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/')
    return "";
  return found->pw_dir;
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

// ---- The library's own files ------------------------------------------------

struct FileHandle {
  int fd;
};

namespace {

int retryClose(int fd) { return ::close(fd) == 0 || errno == EINTR ? 0 : errno; }

class PosixFileSystem final : public FileSystem {
 public:
  int createNew(const char *path, FileHandle **file) override {
    // Write-only for the owner until markComplete: a file found without read
    // permission was cut off while it was written.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IWUSR);
    if (fd < 0) return errno;
    *file = new (std::nothrow) FileHandle{fd};
    if (*file != nullptr) return 0;
    ::close(fd);
    ::unlink(path);
    return ENOMEM;
  }
  int write(FileHandle *file, const char *data, size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(file->fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : EIO;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return 0;
  }
  int sync(FileHandle *file) override { return fsync(file->fd) == 0 ? 0 : errno; }
  int markComplete(FileHandle *file) override {
    return fchmod(file->fd, S_IRUSR | S_IWUSR) == 0 ? 0 : errno;
  }
  int close(FileHandle *file) override {
    int error = retryClose(file->fd);
    delete file;
    return error;
  }
  int rename(const char *from, const char *to) override {
    return ::rename(from, to) == 0 ? 0 : errno;
  }
  int remove(const char *path) override { return ::unlink(path) == 0 ? 0 : errno; }
  int syncDirectory(const char *dir) override {
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
  }
  int inspect(const char *path, FileKind *kind, bool *complete) override {
    struct stat st {};
    *complete = false;
    if (lstat(path, &st) != 0) {
      *kind = FileKind::Missing;
      return errno == ENOENT ? 0 : errno;
    }
    *kind = S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
    *complete = S_ISREG(st.st_mode) && (st.st_mode & S_IRUSR) != 0;
    return 0;
  }
  int readRegular(const char *path, size_t maxBytes, std::string *content) override {
    struct stat st {};
    if (lstat(path, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;  // not even opened
    // O_NONBLOCK: should a FIFO take the file's place in between, the open
    // does not wait for a writer, and fstat below refuses it.
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? kNotRegularFile : errno;
    int error = 0;
    if (fstat(fd, &st) != 0) {
      error = errno;
    } else if (!S_ISREG(st.st_mode)) {
      error = kNotRegularFile;
    } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
      error = kFileTooLarge;
    }
    content->clear();
    char buffer[8192];
    while (error == 0) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error = errno;
      if (n <= 0) break;
      // A file that grows while it is read (or reports no size) is still bounded.
      if (content->size() + static_cast<size_t>(n) > maxBytes)
        error = kFileTooLarge;
      else
        content->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (error != 0) content->clear();
    return error;
  }
  int lockExclusive(const char *path, FileHandle **lock) override {
    int fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return errno;
    int error = 0;
    while (flock(fd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (error == 0) *lock = new (std::nothrow) FileHandle{fd};
    if (error == 0 && *lock == nullptr) error = ENOMEM;
    if (error != 0) ::close(fd);
    return error;
  }
};

}  // namespace

FileSystem &systemFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace pk::platform

#endif
