// Platform-neutral helpers of the seam: paths, the file system in use and the
// crash-safe replacement of a file.
#include <atomic>
#include <cstdio>

#include "platform.h"

namespace pk::platform {

std::string joinPath(const std::string &dir, const std::string &name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '/' || last == pathSeparator()) return dir + name;
  return dir + pathSeparator() + name;
}

std::string parentDirectory(const std::string &path) {
  size_t cut = path.find_last_of(std::string("/") + pathSeparator());
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

namespace {
std::atomic<FileSystem *> replacement{nullptr};

// A plain buffer, not a std::string: a thread-local object with a destructor
// would keep the library that defines it loaded until its thread ends.
thread_local char tlsLibraryError[512];
}  // namespace

void setLibraryError(const char *text) {
  std::snprintf(tlsLibraryError, sizeof tlsLibraryError, "%s", text != nullptr ? text : "");
}

std::string lastLibraryError() { return tlsLibraryError; }

FileSystem &fileSystem() {
  FileSystem *fs = replacement.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : systemFileSystem();
}

FileSystem *exchangeFileSystem(FileSystem *fs) {
  FileSystem *was = replacement.exchange(fs, std::memory_order_acq_rel);
  return was != nullptr ? was : &systemFileSystem();
}

namespace {

// Writes, syncs, marks and syncs the new file, then closes it; the first
// failing step, or None.
WriteStep fillNewFile(FileSystem &fs, FileHandle *file, std::string_view content, int &error) {
  const size_t kChunk = 1 << 16;
  for (size_t at = 0; at < content.size() && error == 0; at += kChunk) {
    size_t n = content.size() - at < kChunk ? content.size() - at : kChunk;
    error = fs.write(file, content.data() + at, n);
  }
  if (error != 0) {
    fs.close(file);
    return WriteStep::Write;
  }
  // The data is on the disk before the mark that says so, and the mark after.
  if ((error = fs.sync(file)) != 0 || (error = fs.markComplete(file)) != 0 ||
      (error = fs.sync(file)) != 0) {
    fs.close(file);
    return WriteStep::Sync;
  }
  if ((error = fs.close(file)) != 0) return WriteStep::Close;
  return WriteStep::None;
}

}  // namespace

WriteOutcome replaceFile(const ReplacedFile &names, std::string_view content) {
  FileSystem &fs = fileSystem();
  WriteOutcome outcome;
  // A temporary file left by an earlier failure (or planted as a link) goes
  // first: the new one is always created afresh.
  int error = fs.remove(names.temporary.c_str());
  FileHandle *file = nullptr;
  if (error == ENOENT) error = 0;
  if (error == 0) error = fs.createNew(names.temporary.c_str(), &file);
  if (error != 0) {
    outcome.failedStep = WriteStep::Create;
    outcome.error = error;
    return outcome;
  }
  outcome.failedStep = fillNewFile(fs, file, content, outcome.error);
  if (!outcome.ok()) {
    fs.remove(names.temporary.c_str());  // incomplete: nothing in it is worth keeping
    return outcome;
  }
  if (!names.previous.empty())
    outcome.previousError = fs.rename(names.target.c_str(), names.previous.c_str());
  if (outcome.previousError != 0 && names.removeUnmovedTarget) {
    if ((error = fs.remove(names.target.c_str())) != 0) {
      outcome.failedStep = WriteStep::Previous;
      outcome.error = error;
      return outcome;
    }
  }
  if ((error = fs.rename(names.temporary.c_str(), names.target.c_str())) != 0) {
    outcome.failedStep = WriteStep::Replace;
    outcome.error = error;
  }
  int dirError = fs.syncDirectory(parentDirectory(names.target).c_str());
  if (outcome.ok()) outcome.directoryError = dirError;
  return outcome;
}

}  // namespace pk::platform
