// Win32 side of the platform seam.
#if defined(_WIN32)

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/timeb.h>
#include <time.h>
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
// clang-format on

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
  setLibraryError("");
  HMODULE h = LoadLibraryA(path);
  if (h == nullptr) setLibraryError(systemMessage(GetLastError()).c_str());
  return reinterpret_cast<void *>(h);
}
void *librarySymbol(void *library, const char *name) {
  setLibraryError("");
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
  if (address == nullptr) setLibraryError(systemMessage(GetLastError()).c_str());
  return reinterpret_cast<void *>(address);
}
void libraryClose(void *library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}
// Touches the thread's error text only on failure: the unload at process exit
// runs after the thread's own objects have been destroyed.
bool libraryUnload(void *library) {
  if (FreeLibrary(static_cast<HMODULE>(library))) return true;
  setLibraryError(systemMessage(GetLastError()).c_str());
  return false;
}
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
int errnoOfCode(DWORD code);

namespace {

// A protected access list that grants the current user, and no one else, full
// access to a file: what mode 0600 is on POSIX.
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      error_ = GetLastError();
      return;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user_.data(), size, &size)) {
      error_ = GetLastError();
      CloseHandle(token);
      return;
    }
    CloseHandle(token);
    PSID sid = sid_();
    DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.resize(aclSize);
    PACL acl = this->acl();
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      error_ = GetLastError();
      return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  OwnerOnly(const OwnerOnly &) = delete;
  OwnerOnly &operator=(const OwnerOnly &) = delete;
  // 0, or the errno value of why the list could not be made.
  int error() const { return error_ == 0 ? 0 : errnoOfCode(error_); }
  PACL acl() { return reinterpret_cast<PACL>(acl_.data()); }
  PSID sid_() { return reinterpret_cast<TOKEN_USER *>(user_.data())->User.Sid; }
  // For CreateFile: the new file is owner-only from its first moment.
  SECURITY_ATTRIBUTES *attributes() { return error_ == 0 ? &attributes_ : nullptr; }
  int apply(const char *path) {
    if (error_ != 0) return error();
    DWORD code =
        SetNamedSecurityInfoA(const_cast<char *>(path), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, acl(), nullptr);
    return code == ERROR_SUCCESS ? 0 : errnoOfCode(code);
  }

 private:
  DWORD error_ = 0;
  std::string user_;
  std::string acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

int restrictToOwner(const char *path) {
  OwnerOnly owner;
  return owner.apply(path);
}
int restrictOpenFileToOwner(std::FILE *file) {
  if (file == nullptr) return EINVAL;
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  char path[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof path) return EIO;
  return restrictToOwner(path);
}
int fileIsOwnerOnly(const char *path, bool *ownerOnly) {
  *ownerOnly = false;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) return errnoOfCode(code);
  OwnerOnly owner;
  bool only = owner.error() == 0 && dacl != nullptr && dacl->AceCount > 0;
  for (DWORD i = 0; only && i < dacl->AceCount; ++i) {
    void *ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      only = false;
      break;
    }
    auto *header = static_cast<ACE_HEADER *>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      only = false;
      break;
    }
    PSID sid = &static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart;
    only = EqualSid(sid, owner.sid_()) != FALSE;
  }
  LocalFree(descriptor);
  *ownerOnly = only;
  return 0;
}
std::string getEnv(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}
bool setEnv(const char *name, const char *value) {
  // The C runtime's copy is what getenv reads; keep the process block in step.
  return _putenv_s(name, value) == 0 && SetEnvironmentVariableA(name, value) != 0;
}
namespace {
// "C:", "C:\\", "\\" and the like: a folder that every user of the machine shares.
bool isDriveRoot(const std::string &path) {
  std::string p = path;
  while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  return p.empty() || (p.size() == 2 && p[1] == ':');
}
}  // namespace

std::string userDataRoot() {
  // The user's own roaming profile (%APPDATA%); never a folder that other users
  // share, so never a drive root.
  std::string root = getEnv("APPDATA");
  if (root.empty() || isDriveRoot(root)) {
    char path[MAX_PATH];
    root = SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK
               ? std::string(path)
               : std::string();
  }
  return isDriveRoot(root) ? std::string() : root;
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

// ---- The library's own files ------------------------------------------------

struct FileHandle {
  HANDLE h;
  std::string path;
};

namespace {

int errnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}
int lastError() { return errnoOf(GetLastError()); }
}  // namespace
int errnoOfCode(DWORD code) { return errnoOf(code); }
namespace {

bool isPlainFile(DWORD attributes) {
  return (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

FileHandle *adopt(HANDLE h, const char *path) {
  auto *file = new (std::nothrow) FileHandle{h, std::string()};
  if (file == nullptr) {
    CloseHandle(h);
    return nullptr;
  }
  file->path = path;
  return file;
}

class Win32FileSystem final : public FileSystem {
 public:
  int createNew(const char *path, FileHandle **file) override {
    // CREATE_NEW fails on anything already there, a link included; the
    // temporary attribute marks the file incomplete until markComplete.
    OwnerOnly owner;
    if (owner.error() != 0) return owner.error();
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, owner.attributes(), CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    *file = adopt(h, path);
    return *file != nullptr ? 0 : ENOMEM;
  }
  int write(FileHandle *file, const char *data, size_t size) override {
    while (size > 0) {
      DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file->h, data, chunk, &written, nullptr)) return lastError();
      if (written == 0) return EIO;
      data += written;
      size -= written;
    }
    return 0;
  }
  int sync(FileHandle *file) override { return FlushFileBuffers(file->h) ? 0 : lastError(); }
  int markComplete(FileHandle *file) override {
    return SetFileAttributesA(file->path.c_str(), FILE_ATTRIBUTE_NORMAL) ? 0 : lastError();
  }
  int close(FileHandle *file) override {
    int error = CloseHandle(file->h) ? 0 : lastError();
    delete file;
    return error;
  }
  int rename(const char *from, const char *to) override {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return lastError();
  }
  int remove(const char *path) override { return DeleteFileA(path) ? 0 : lastError(); }
  // MoveFileEx with MOVEFILE_WRITE_THROUGH has already made the rename durable.
  int syncDirectory(const char *) override { return 0; }
  int inspect(const char *path, FileKind *kind, bool *complete) override {
    DWORD attributes = GetFileAttributesA(path);
    *complete = false;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      *kind = FileKind::Missing;
      int error = lastError();
      return error == ENOENT ? 0 : error;
    }
    *kind = isPlainFile(attributes) ? FileKind::Regular : FileKind::Other;
    *complete = isPlainFile(attributes) && (attributes & FILE_ATTRIBUTE_TEMPORARY) == 0;
    return 0;
  }
  int readRegular(const char *path, size_t maxBytes, std::string *content) override {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return lastError();
    if (!isPlainFile(attributes)) return kNotRegularFile;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    int error = 0;
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK) {
      error = kNotRegularFile;
    } else if (!GetFileSizeEx(h, &size)) {
      error = lastError();
    } else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
      error = kFileTooLarge;
    }
    content->clear();
    char buffer[8192];
    while (error == 0) {
      DWORD n = 0;
      if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) error = lastError();
      if (error != 0 || n == 0) break;
      if (content->size() + n > maxBytes)
        error = kFileTooLarge;
      else
        content->append(buffer, n);
    }
    CloseHandle(h);
    if (error != 0) content->clear();
    return error;
  }
  int lockExclusive(const char *path, FileHandle **lock) override {
    OwnerOnly owner;
    if (owner.error() != 0) return owner.error();
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           owner.attributes(), OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lastError();
    OVERLAPPED at{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
      int error = lastError();
      CloseHandle(h);
      return error;
    }
    *lock = adopt(h, path);
    return *lock != nullptr ? 0 : ENOMEM;
  }
};

}  // namespace

FileSystem &systemFileSystem() {
  static Win32FileSystem fs;
  return fs;
}

}  // namespace pk::platform

#endif
