// What the block access tests share: a fresh data directory, the cache's files
// on disk, and a controller status record that frees its text.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "provkit/hwidcache.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsiruntime.h"

namespace blocktest {

namespace fs = std::filesystem;

struct Status {
  KELVAStatus s = KELVA_STATUS_INIT;
  Status() = default;
  Status(const Status &) = delete;
  Status &operator=(const Status &) = delete;
  ~Status() { clearKELVAStatus(&s); }
  KELVAStatus *operator&() { return &s; }
  bool failed() const { return checkStatus(&s) != 0; }
  std::string text() const { return s.message != nullptr ? s.message : ""; }
};

inline void setEnvironment(const char *name, const std::string &value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// A fresh data directory, named in KELVA_DATA_DIR for the test's scope.
class DataDir {
 public:
  DataDir() {
    std::random_device seed;
    dir_ = fs::temp_directory_path() / ("hwid-" + std::to_string(seed()) + std::to_string(seed()));
    fs::create_directories(dir_);
    setEnvironment(WSI_DATA_DIR_ENV, dir_.string());
  }
  ~DataDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  DataDir(const DataDir &) = delete;
  DataDir &operator=(const DataDir &) = delete;

  fs::path path(const char *name) const { return dir_ / name; }
  fs::path dat() const { return path("hwidcache.dat"); }
  fs::path tmp() const { return path("hwidcache.tmp"); }
  fs::path back() const { return path("hwidcache.dat.back"); }
  fs::path err() const { return path("hwidcache.dat.err"); }
  const fs::path &dir() const { return dir_; }

 private:
  fs::path dir_;
};

// The whole file, or nothing when it is missing.
inline std::optional<std::string> content(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write(const fs::path &file, const std::string &text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

// One cache entry as the tests compare it: "filer|name|os|type".
inline std::string line(const HardwareIDCacheEntry *entry) {
  return std::string(entry->filerId) + "|" + entry->name + "|" + entry->os + "|" + entry->type;
}

// The entries of a loaded cache list.
inline std::vector<std::string> entries(WSIList *cache) {
  std::vector<std::string> out;
  for (WSIListPos *at = WSIList_getFirst(cache); at != nullptr; at = WSIList_getNext(at))
    out.push_back(line(static_cast<HardwareIDCacheEntry *>(WSIList_getElement(at))));
  return out;
}

// A loaded cache released at scope exit.
struct Loaded {
  Status status;
  WSIList *cache;
  Loaded() : cache(HardwareIDCache_load(&status)) {}
  ~Loaded() { HardwareIDCache_release(cache); }
  Loaded(const Loaded &) = delete;
  Loaded &operator=(const Loaded &) = delete;
  std::vector<std::string> lines() const { return entries(cache); }
};

}  // namespace blocktest
