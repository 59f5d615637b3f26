// Filer records, the data directory and filers.dat, InstanceIDs, property
// lists and the per-filer cloning locks.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "diag.h"
#include "edge.h"
#include "filerline.h"
#include "platform/platform.h"
// After the seam: the request interface's macros must not meet the system headers.
#include "kit.h"
#include "wbemkelvai/wsifiler.h"

namespace {

namespace platform = pk::platform;

constexpr const char *kInstancePrefix = "KELVA";

using wsi::newText;

std::string lowered(const char *text) { return wsi::lowerAscii(text != nullptr ? text : ""); }

// ---- Line obfuscation --------------------------------------------------------
// Each printable ASCII character moves within the 95 printable ones, and each byte
// from 0x80 on within the 128 high ones, by an amount that depends on its position
// and is never zero: the length stays, no line end or terminator appears, and no
// field reads in clear.  Control characters are left as they are.
int shiftPrintable(size_t i) { return 1 + static_cast<int>((31 + 7 * i) % 94); }
int shiftHigh(size_t i) { return 1 + static_cast<int>((17 + 5 * i) % 127); }

// The shifts follow the position without a division per byte: a rewrite of
// the file encodes every line of it.
void obfuscate(char *line, bool forward) {
  int printable = shiftPrintable(0) - 1;  // (31 + 7 i) % 94 at i
  int high = shiftHigh(0) - 1;            // (17 + 5 i) % 127 at i
  for (size_t i = 0; line[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    if (c >= 0x20 && c <= 0x7E) {
      int s = forward ? printable + 1 : 94 - printable;
      int moved = c - 0x20 + s;
      line[i] = static_cast<char>(0x20 + (moved >= 95 ? moved - 95 : moved));
    } else if (c >= 0x80) {
      int s = forward ? high + 1 : 127 - high;
      line[i] = static_cast<char>(0x80 + ((c - 0x80 + s) & 0x7F));
    }
    printable += 7;
    if (printable >= 94) printable -= 94;
    high += 5;
    if (high >= 127) high -= 127;
  }
}

bool parseInt32(const std::string &text, int32_t &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

// A record from a decoded line, or null when the line is not one.
Filer *parseLine(const std::string &line) {
  filerline::Fields fields;
  Filer parsed{};
  // The fields become C texts: a NUL byte would cut one short (an identifier
  // to nothing, a password to a prefix), so such a line is not a record.
  if (line.find('\0') != std::string::npos || !filerline::split(line, fields) ||
      fields.systemId.empty() || !parseInt32(std::string(fields.connParam1), parsed.connParam1) ||
      !parseInt32(std::string(fields.connParam2), parsed.connParam2) ||
      !parseInt32(std::string(fields.connParam3), parsed.connParam3)) {
    return nullptr;
  }
  auto *filer = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
  if (filer == nullptr) return nullptr;
  *filer = parsed;
  filer->systemId = newText(std::string(fields.systemId));
  filer->host = newText(std::string(fields.host));
  filer->userName = newText(std::string(fields.userName));
  filer->password = newText(std::string(fields.password));
  if (filer->systemId == nullptr || filer->host == nullptr || filer->userName == nullptr ||
      filer->password == nullptr) {
    freeFiler(filer);
    return nullptr;
  }
  return filer;
}

// Overwrites a text that held passwords before it is released.
void wipe(std::string &text) { std::fill(text.begin(), text.end(), '\0'); }

// "Unable to read <path>..." for a failed bounded read.
std::string readFailure(const char *path, int error) {
  if (error == platform::kNotRegularFile)
    return std::string("Unable to read ") + path + ": not a regular file";
  if (error == platform::kFileTooLarge)
    return std::string("Unable to read ") + path + ": larger than " +
           std::to_string(filerline::kMaxFileBytes) + " bytes";
  return std::string("Unable to read ") + path + ", errno: " + std::to_string(error);
}

// Writes content to a new file at path in place of whatever was there (a link
// is replaced, never written through), owner-only from the start; 0 or errno.
int writeNewFile(const char *path, const std::string &content) {
  platform::FileSystem &fs = platform::fileSystem();
  int error = fs.remove(path);
  if (error != 0 && error != ENOENT) return error;
  platform::FileHandle *file = nullptr;
  if ((error = fs.createNew(path, &file)) != 0) return error;
  error = fs.write(file, content.data(), content.size());
  if (error == 0) error = fs.markComplete(file);
  if (error == 0) error = fs.sync(file);
  int closed = fs.close(file);
  return error != 0 ? error : closed;
}

// Keeps what was read from filers.dat beside it when some of its lines could
// not be read, so that the rewrite that drops them loses nothing.
// Takes the data directory's lock, so the caller must not hold it.
void keepRejected(const char *path, const std::string &content, size_t skipped) {
  std::string rejected = std::string(path) + ".rejected";
  platform::FileLock lock;
  platform::WriteOutcome outcome;
  outcome.error = lock.acquire(
      platform::joinPath(platform::parentDirectory(path), platform::kDirectoryLockName).c_str());
  if (outcome.error == 0)
    outcome = platform::replaceFile({rejected, rejected + ".tmp", std::string()}, content);
  else
    outcome.failedStep = platform::WriteStep::Create;
  if (outcome.ok()) {
    WSI_LOG(std::string(path) + ": " + std::to_string(skipped) +
            " malformed line(s) skipped; the file as read is kept in " + rejected);
  } else {
    WSI_LOG(std::string(path) + ": " + std::to_string(skipped) +
            " malformed line(s) skipped and the file could not be kept in " + rejected +
            ", errno: " + std::to_string(outcome.error));
  }
}

char *dataFilePath(KELVAStatus *status, const char *name) {
  char *dir = buildDatFilePath(status);
  if (dir == nullptr) return nullptr;
  char *path = wsi::cEdge(static_cast<char *>(nullptr),
                          [&] { return newText(platform::joinPath(dir, name)); });
  wsifree(dir);
  if (path == nullptr) setKELVAStatus(status, 0, "Insufficient memory for a data file path");
  return path;
}

// ---- Cloning locks ----------------------------------------------------------------

struct CloningNode {
  std::mutex lock;
  int references = 0;
};

std::mutex cloningTableLock;
std::map<std::string, std::shared_ptr<CloningNode>> &cloningTable() {
  static std::map<std::string, std::shared_ptr<CloningNode>> table;
  return table;
}

std::shared_ptr<CloningNode> findCloningNode(const Filer *filer) {
  if (filer == nullptr || filer->systemId == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(cloningTableLock);
  auto found = cloningTable().find(lowered(filer->systemId));
  return found != cloningTable().end() ? found->second : nullptr;
}

}  // namespace

extern "C" {

// ---- Records -----------------------------------------------------------------------

WSI_EXPORT void *copyFiler(void *filer) {
  const auto *from = static_cast<const Filer *>(filer);
  if (from == nullptr) return nullptr;
  auto *copy = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
  if (copy == nullptr) return nullptr;
  *copy = *from;
  copy->systemId = wsistrdup(from->systemId);
  copy->host = wsistrdup(from->host);
  copy->userName = wsistrdup(from->userName);
  copy->password = wsistrdup(from->password);
  if ((from->systemId != nullptr && copy->systemId == nullptr) ||
      (from->host != nullptr && copy->host == nullptr) ||
      (from->userName != nullptr && copy->userName == nullptr) ||
      (from->password != nullptr && copy->password == nullptr)) {
    freeFiler(copy);
    return nullptr;
  }
  return copy;
}

WSI_EXPORT void freeFiler(void *filer) {
  auto *f = static_cast<Filer *>(filer);
  if (f == nullptr) return;
  wsifree(f->systemId);
  wsifree(f->host);
  wsifree(f->userName);
  if (f->password != nullptr) {
    std::memset(f->password, 0, std::strlen(f->password));
    wsifree(f->password);
  }
  wsifree(f);
}

WSI_EXPORT void freeFilers(WSIList *filers) { WSIList_free(filers, freeFiler); }

WSI_EXPORT int areFilersSame(const Filer *a, const Filer *b) {
  if (a == b) return 1;
  if (a == nullptr || b == nullptr) return 0;
  return strCompare(a->systemId, b->systemId) == 0 && strCompare(a->host, b->host) == 0 &&
                 a->connParam2 == b->connParam2
             ? 1
             : 0;
}

// ---- Data directory and filers.dat ----------------------------------------------------

WSI_EXPORT char *buildDatFilePath(KELVAStatus *callerStatus) {
  return wsi::cEdge(callerStatus, static_cast<char *>(nullptr), [&](KELVAStatus *status) -> char * {
    std::string dir = platform::getEnv(WSI_DATA_DIR_ENV);
    if (dir.empty()) {
      std::string root = platform::userDataRoot();
      if (root.empty()) {
        setKELVAStatus(status, 0,
                       "No data directory: set " WSI_DATA_DIR_ENV " or the user's home directory");
        return nullptr;
      }
      dir = platform::joinPath(root, "kelva");
    }
    if (!platform::isDirectory(dir.c_str()) && !platform::makeDirectories(dir.c_str())) {
      setKELVAStatus(status, 0, ("Unable to create the data directory " + dir).c_str());
      return nullptr;
    }
    char *path = newText(dir);
    if (path == nullptr)
      setKELVAStatus(status, 0, "Insufficient memory for the data directory path");
    return path;
  });
}

WSI_EXPORT char *buildFilerDatPath(KELVAStatus *status) {
  return dataFilePath(status, "filers.dat");
}
WSI_EXPORT char *buildFilerTmpPath(KELVAStatus *status) {
  return dataFilePath(status, "filers.dat.tmp");
}
WSI_EXPORT char *buildFilerBackPath(KELVAStatus *status) {
  return dataFilePath(status, "filers.dat.back");
}

WSI_EXPORT char *basicEncode(char *line) {
  if (line != nullptr) obfuscate(line, true);
  return line;
}

WSI_EXPORT int writeFilerToDisk(KELVAStatus *callerStatus, FILE *file, const char *encodedLine) {
  return wsi::cEdge(callerStatus, 0, [&](KELVAStatus *status) {
    if (file == nullptr || encodedLine == nullptr) {
      setKELVAStatus(status, 0, "No file or no line to write");
      return 0;
    }
    platform::restrictOpenFileToOwner(file);
    size_t length = std::strlen(encodedLine);
    // No flush per line: the writer syncs the whole file once it is complete, and a
    // write error that the buffer hides until then is reported by that sync.
    if (std::fwrite(encodedLine, 1, length, file) != length ||
        std::fputc(filerline::kLineEnd, file) == EOF) {
      int error = platform::lastErrno();
      setKELVAStatus(status, 0,
                     ("Unable to write a filer line, errno: " + std::to_string(error)).c_str());
      return 0;
    }
    return 1;
  });
}

WSI_EXPORT int getFilersFromDiskFile(KELVAStatus *status, WSIList *filers) {
  if (filers == nullptr) {
    setKELVAStatus(status, 0, "No filer list given");
    return 0;
  }
  char *path = buildFilerDatPath(status);
  if (path == nullptr) return 0;
  std::unique_ptr<char, void (*)(void *)> pathGuard(path, wsifree);
  std::string content;
  return wsi::cEdge(
      0,
      [&] {
        int error = platform::fileSystem().readRegular(path, filerline::kMaxFileBytes, &content);
        if (error == ENOENT) return 1;
        // A file that cannot be read must not pass for a short list: the next
        // update would write that list back.
        if (error != 0) {
          setKELVAStatus(status, 0, readFailure(path, error).c_str());
          return 0;
        }
        size_t skipped = 0;
        int number = 0;
        for (size_t at = 0; at < content.size();) {
          size_t end = content.find(filerline::kLineEnd, at);
          if (end == std::string::npos) end = content.size();
          std::string line = content.substr(at, end - at);
          at = end + 1;
          ++number;
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (line.empty()) continue;
          obfuscate(line.data(), false);
          Filer *filer = parseLine(line);
          wipe(line);
          if (filer == nullptr) {
            ++skipped;
            WSI_LOG(std::string(path) + " line " + std::to_string(number) +
                    " is malformed; skipped");
            continue;
          }
          if (WSIList_append(filers, filer) == 0) {
            freeFiler(filer);
            wipe(content);
            setKELVAStatus(status, 0, "Insufficient memory reading filers");
            return 0;
          }
        }
        if (skipped > 0) keepRejected(path, content, skipped);
        wipe(content);
        return 1;
      },
      [&](const char *why) noexcept {
        wipe(content);
        setKELVAStatus(status, 0, why);
      });
}

WSI_EXPORT int copyFilerDat(KELVAStatus *status, const char *from, const char *to) {
  if (from == nullptr || to == nullptr) {
    setKELVAStatus(status, 0, "No file name given to copy");
    return 0;
  }
  std::string content;
  return wsi::cEdge(
      0,
      [&] {
        int error = platform::fileSystem().readRegular(from, filerline::kMaxFileBytes, &content);
        if (error != 0 && error != ENOENT) {
          setKELVAStatus(status, 0, readFailure(from, error).c_str());
          return 0;
        }
        error = writeNewFile(to, content);
        wipe(content);
        if (error != 0) {
          setKELVAStatus(status, 0,
                         (std::string("Unable to copy ") + from + " to " + to +
                          ", errno: " + std::to_string(error))
                             .c_str());
          return 0;
        }
        return 1;
      },
      [&](const char *why) noexcept {
        wipe(content);
        setKELVAStatus(status, 0, why);
      });
}

// ---- Identifiers and property lists -----------------------------------------------

WSI_EXPORT char *encodeInstanceID(const char *system, const char *localPart) {
  if (system == nullptr || localPart == nullptr) return nullptr;
  return wsi::cEdge(static_cast<char *>(nullptr), [&] {
    size_t prefixLength = std::strlen(kInstancePrefix);
    std::string id = system;
    if (id.size() > prefixLength && id[prefixLength] == ':' &&
        lowered(id.substr(0, prefixLength).c_str()) == lowered(kInstancePrefix)) {
      id.erase(0, prefixLength + 1);
    }
    return newText(std::string(kInstancePrefix) + ":" + id + ":" + localPart);
  });
}

WSI_EXPORT int getFilerAndNameFromInstanceId(KELVAStatus *callerStatus, char *instanceID,
                                             char **systemIdOut, char **prefixOut, char **nameOut) {
  return wsi::cEdge(callerStatus, 0, [&](KELVAStatus *status) {
    if (instanceID == nullptr) {
      setKELVAStatus(status, 0, "No InstanceID given");
      return 0;
    }
    char *first = std::strchr(instanceID, ':');
    char *second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
    if (first == nullptr || second == nullptr || first == instanceID || second == first + 1) {
      setKELVAStatus(status, 0, (std::string("Invalid InstanceID: ") + instanceID).c_str());
      return 0;
    }
    *first = '\0';
    *second = '\0';
    if (prefixOut != nullptr) *prefixOut = instanceID;
    if (systemIdOut != nullptr) *systemIdOut = first + 1;
    if (nameOut != nullptr) *nameOut = second + 1;
    return 1;
  });
}

WSI_EXPORT int isPropertyPresent(const char **propertyList, const char *name) {
  if (propertyList == nullptr) return 1;
  if (name == nullptr) return 0;
  for (const char **p = propertyList; *p != nullptr; ++p) {
    if (strCompare(*p, name) == 0) return 1;
  }
  return 0;
}

// ---- Cloning locks ------------------------------------------------------------------

WSI_EXPORT int addCloningMutexNode(const Filer *filer, KELVAStatus *status) {
  if (filer == nullptr || filer->systemId == nullptr) {
    setKELVAStatus(status, 0, "No filer system id for a cloning lock");
    return 0;
  }
  return wsi::cEdge(status, 0, [&](KELVAStatus *) {
    std::lock_guard<std::mutex> guard(cloningTableLock);
    auto &node = cloningTable()[lowered(filer->systemId)];
    if (node == nullptr) node = std::make_shared<CloningNode>();
    ++node->references;
    return 1;
  });
}

WSI_EXPORT int deleteCloningMutexNode(const Filer *filer, KELVAStatus *callerStatus) {
  return wsi::cEdge(callerStatus, 0, [&](KELVAStatus *status) {
    std::shared_ptr<CloningNode> node;
    std::string key = lowered(filer != nullptr ? filer->systemId : nullptr);
    {
      std::lock_guard<std::mutex> guard(cloningTableLock);
      auto found = cloningTable().find(key);
      if (filer == nullptr || filer->systemId == nullptr || found == cloningTable().end()) {
        setKELVAStatus(status, 0, "No cloning lock for this filer");
        return 0;
      }
      if (--found->second->references > 0) return 1;
      node = found->second;
    }
    // The last reference: wait for the holder, then take the node out unless it was
    // added again meanwhile.
    std::lock_guard<std::mutex> holder(node->lock);
    std::lock_guard<std::mutex> guard(cloningTableLock);
    auto found = cloningTable().find(key);
    if (found != cloningTable().end() && found->second == node && node->references == 0) {
      cloningTable().erase(found);
    }
    return 1;
  });
}

WSI_EXPORT int lockCloningMutex(const Filer *filer, KELVAStatus *callerStatus) {
  return wsi::cEdge(callerStatus, 0, [&](KELVAStatus *status) {
    std::shared_ptr<CloningNode> node = findCloningNode(filer);
    if (node == nullptr) {
      setKELVAStatus(status, 0, "No cloning lock for this filer");
      return 0;
    }
    node->lock.lock();
    if (findCloningNode(filer) != node) {  // removed while we waited
      node->lock.unlock();
      setKELVAStatus(status, 0, "No cloning lock for this filer");
      return 0;
    }
    return 1;
  });
}

WSI_EXPORT int unlockCloningMutex(const Filer *filer) {
  return wsi::cEdge(0, [&] {
    std::shared_ptr<CloningNode> node = findCloningNode(filer);
    if (node == nullptr) return 0;
    node->lock.unlock();
    return 1;
  });
}

}  // extern "C"

namespace pk::testing {

PK_TEST_HOOK platform::FileSystem *useControllerFileSystem(platform::FileSystem *fs) {
  return platform::exchangeFileSystem(fs);
}

}  // namespace pk::testing
