// A process that dies in the middle of saving the hardware ID cache:
//   hwidcache_crasher <data directory> before|after <n>
// loads the cache of the directory, adds f1|new|linux|iscsi and saves it, and
// exits at once with 3 just before (or just after) the nth call of the file
// system made by the save, as a process killed there would: nothing is
// flushed or cleaned up.  Exits 0 when the save finished, 1 when it failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "blockaccess_support.h"
#include "platform/platform.h"
#include "provkit/hwidcache.h"

namespace {

namespace platform = pk::platform;

class DyingFileSystem final : public platform::FileSystem {
 public:
  DyingFileSystem(int nth, bool after) : left_(nth), after_(after) {}

  int createNew(const char *path, platform::FileHandle **file) override {
    return step([&] { return base_.createNew(path, file); });
  }
  int write(platform::FileHandle *file, const char *data, size_t size) override {
    return step([&] { return base_.write(file, data, size); });
  }
  int sync(platform::FileHandle *file) override {
    return step([&] { return base_.sync(file); });
  }
  int markComplete(platform::FileHandle *file) override {
    return step([&] { return base_.markComplete(file); });
  }
  int close(platform::FileHandle *file) override {
    return step([&] { return base_.close(file); });
  }
  int rename(const char *from, const char *to) override {
    return step([&] { return base_.rename(from, to); });
  }
  int remove(const char *path) override {
    return step([&] { return base_.remove(path); });
  }
  int syncDirectory(const char *dir) override {
    return step([&] { return base_.syncDirectory(dir); });
  }
  int inspect(const char *path, platform::FileKind *kind, bool *complete) override {
    return step([&] { return base_.inspect(path, kind, complete); });
  }
  int readRegular(const char *path, size_t maxBytes, std::string *content) override {
    return step([&] { return base_.readRegular(path, maxBytes, content); });
  }
  int lockExclusive(const char *path, platform::FileHandle **lock) override {
    return step([&] { return base_.lockExclusive(path, lock); });
  }

 private:
  template <typename Call>
  int step(Call call) {
    bool last = --left_ == 0;
    if (last && !after_) std::_Exit(3);
    int result = call();
    if (last) std::_Exit(3);
    return result;
  }

  platform::FileSystem &base_ = platform::systemFileSystem();
  int left_;
  bool after_;
};

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hwidcache_crasher DIR before|after N\n");
    return 2;
  }
  blocktest::setEnvironment(WSI_DATA_DIR_ENV, argv[1]);
  KELVAStatus status = KELVA_STATUS_INIT;
  WSIList *cache = HardwareIDCache_load(&status);
  if (cache == nullptr) return 1;
  HardwareIDCache_add(&status, "f1", "new", "linux", "iscsi", cache);
  DyingFileSystem dying(std::atoi(argv[3]), std::strcmp(argv[2], "after") == 0);
  pk::testing::useProvkitFileSystem(&dying);
  HardwareIDCache_save(&status, cache);
  pk::testing::useProvkitFileSystem(nullptr);
  HardwareIDCache_release(cache);
  int result = checkStatus(&status) == 0 ? 0 : 1;
  clearKELVAStatus(&status);
  return result;
}
