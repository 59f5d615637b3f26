// Test-only entry points of the seam: a file system that fails any single
// step on demand, and the hooks that put it into each library.  Nothing here
// is compiled into the libraries except the hooks, which are not part of their
// C interface (and stay inside the DLLs on Windows).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform.h"

namespace pk::testing {

// The steps of the seam's file system that can be made to fail.
enum class FileOp {
  Create,
  Write,
  Sync,
  MarkComplete,
  Close,
  Rename,
  Remove,
  SyncDir,
  Inspect,
  Read,
  Lock
};

inline const char *opName(FileOp op) {
  static const char *const names[] = {"create", "write",   "sync",    "mark", "close", "rename",
                                      "remove", "syncdir", "inspect", "read", "lock"};
  return names[static_cast<int>(op)];
}

// Passes every call to the system's file system and records it ("rename a b");
// a fault makes the nth matching call (1 = the next one) fail with an error
// instead, without doing anything.  A fault matches an operation and,
// when `pathPart` is not empty, a first path that contains it.
class FaultFileSystem final : public platform::FileSystem {
 public:
  struct Fault {
    FileOp op;
    int nth = 1;
    int error = EIO;
    std::string pathPart{};
    bool sticky = false;  // every matching call from the nth on fails
  };

  explicit FaultFileSystem(platform::FileSystem &base = platform::systemFileSystem())
      : base_(base) {}

  void fail(Fault fault) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.push_back(std::move(fault));
  }
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
    calls_.clear();
  }
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }

  int createNew(const char *path, platform::FileHandle **file) override {
    if (int e = enter(FileOp::Create, path)) return e;
    int error = base_.createNew(path, file);
    if (error == 0) remember(*file, path);
    return error;
  }
  int write(platform::FileHandle *file, const char *data, size_t size) override {
    if (int e = enter(FileOp::Write, pathOf(file))) return e;
    return base_.write(file, data, size);
  }
  int sync(platform::FileHandle *file) override {
    if (int e = enter(FileOp::Sync, pathOf(file))) return e;
    return base_.sync(file);
  }
  int markComplete(platform::FileHandle *file) override {
    if (int e = enter(FileOp::MarkComplete, pathOf(file))) return e;
    return base_.markComplete(file);
  }
  // Closes in any case, as the system's does; only the result is faulted.
  int close(platform::FileHandle *file) override {
    std::string path = pathOf(file);
    forget(file);
    int injected = enter(FileOp::Close, path);
    int error = base_.close(file);
    return injected != 0 ? injected : error;
  }
  int rename(const char *from, const char *to) override {
    if (int e = enter(FileOp::Rename, from, to)) return e;
    return base_.rename(from, to);
  }
  int remove(const char *path) override {
    if (int e = enter(FileOp::Remove, path)) return e;
    return base_.remove(path);
  }
  int syncDirectory(const char *dir) override {
    if (int e = enter(FileOp::SyncDir, dir)) return e;
    return base_.syncDirectory(dir);
  }
  int inspect(const char *path, platform::FileKind *kind, bool *complete) override {
    if (int e = enter(FileOp::Inspect, path)) return e;
    return base_.inspect(path, kind, complete);
  }
  int readRegular(const char *path, size_t maxBytes, std::string *content) override {
    if (int e = enter(FileOp::Read, path)) return e;
    return base_.readRegular(path, maxBytes, content);
  }
  int lockExclusive(const char *path, platform::FileHandle **handle) override {
    if (int e = enter(FileOp::Lock, path)) return e;
    int error = base_.lockExclusive(path, handle);
    if (error == 0) remember(*handle, path);
    return error;
  }

 private:
  static std::string baseName(const std::string &path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
  }
  // Records the call and returns the injected error, or 0.
  int enter(FileOp op, const std::string &path, const std::string &to = "") {
    std::lock_guard<std::mutex> guard(lock_);
    std::string call = opName(op);
    call.append(" ").append(baseName(path));
    if (!to.empty()) call.append(" ").append(baseName(to));
    calls_.push_back(std::move(call));
    for (auto &fault : faults_) {
      if (fault.op != op ||
          (!fault.pathPart.empty() && path.find(fault.pathPart) == std::string::npos))
        continue;
      if (fault.nth > 1) {
        --fault.nth;
        continue;
      }
      if (fault.nth == 1) {
        if (!fault.sticky) fault.nth = 0;
        return fault.error;
      }
    }
    return 0;
  }
  void remember(platform::FileHandle *file, const char *path) {
    std::lock_guard<std::mutex> guard(lock_);
    open_.emplace_back(file, path);
  }
  void forget(platform::FileHandle *file) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto at = open_.begin(); at != open_.end(); ++at) {
      if (at->first == file) {
        open_.erase(at);
        return;
      }
    }
  }
  std::string pathOf(platform::FileHandle *file) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto &entry : open_)
      if (entry.first == file) return entry.second;
    return "";
  }

  platform::FileSystem &base_;
  mutable std::mutex lock_;
  std::vector<Fault> faults_;
  std::vector<std::string> calls_;
  std::vector<std::pair<platform::FileHandle *, std::string>> open_;
};

// Puts a file system into both libraries for the scope.
class FileSystemInUse {
 public:
  explicit FileSystemInUse(platform::FileSystem &fs)
      : provkit_(useProvkitFileSystem(&fs)), controller_(useControllerFileSystem(&fs)) {}
  ~FileSystemInUse() {
    useProvkitFileSystem(provkit_);
    useControllerFileSystem(controller_);
  }
  FileSystemInUse(const FileSystemInUse &) = delete;
  FileSystemInUse &operator=(const FileSystemInUse &) = delete;

 private:
  platform::FileSystem *provkit_;
  platform::FileSystem *controller_;
};

}  // namespace pk::testing
