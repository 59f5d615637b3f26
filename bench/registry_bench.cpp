// Filer registry costs at 10, 100 and 1,000 registered filers, each against a
// floor of the same work done plainly in the same run: lookups against a
// std::map / std::vector of the same records, add and remove against a bare
// durable replacement of a file of the same size (plainReplace says what that
// takes).  Read the ratio.
#include <benchmark/benchmark.h>
#include <cimom/cimom.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <cmpimacs.h>
#include <provkit/registry.h>
#include <stdlib.h>
#include <unistd.h>
#include <wbemkelvai/wsiapi.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

// The registry's data directory, made on first use; its files go when the run ends.
const std::string &registryDirectory() {
  static std::string dir = [] {
    std::string made = (fs::temp_directory_path() / "registry-bench-XXXXXX").string();
    setenv(WSI_DATA_DIR_ENV, mkdtemp(made.data()), 1);
    return made;
  }();
  static bool removed = std::atexit([] { fs::remove_all(dir); }) == 0;
  (void)removed;
  return dir;
}

// Lives for the process, like the registry lock its broker makes.
const CMPIBroker *broker() {
  static cimom::ObjectManager *manager = [] {
    registryDirectory();
    return cimom::create().release();
  }();
  return manager->broker();
}

int offline(void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter,
            void *) {
  return WSI_INPROC_UNREACHABLE;
}

std::string idOf(int64_t i) { return "bench-filer-" + std::to_string(i); }

Filer *newFiler(const std::string &id) { return bench::newFiler(id, "bench.offline"); }

using bench::release;

void removeId(const std::string &id) {
  Filer *filer = newFiler(id);
  CMPIStatus status{CMPI_RC_OK, nullptr};
  removeFilerFromList(broker(), &status, filer);
  release(status);
  freeFiler(filer);
}

// Brings the registry to filers bench-filer-0 .. bench-filer-(count-1).
void registerFilers(int64_t count) {
  static int64_t registered = 0;
  wsiRegisterInProcessFiler("bench.offline", offline, nullptr);
  for (; registered < count; ++registered)
    release(addFilerToList(broker(), newFiler(idOf(registered))));
  for (; registered > count; --registered) removeId(idOf(registered - 1));
}

void BM_FloorMapLookup(benchmark::State &state) {
  std::map<std::string, std::vector<std::string>> filers;
  for (int64_t i = 0; i < state.range(0); ++i)
    filers[idOf(i)] = {"bench.offline", "root", "secret"};
  std::string wanted = idOf(state.range(0) - 1);
  for (auto _ : state) {
    auto copy = filers.find(wanted)->second;  // the registry hands out a copy too
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_FloorMapLookup)->Arg(10)->Arg(100)->Arg(1000);

void BM_FilerExists(benchmark::State &state) {
  registerFilers(state.range(0));
  std::string wanted = idOf(state.range(0) - 1);  // the last: a full walk
  for (auto _ : state) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Filer *filer = filerExists(broker(), &status, wanted.c_str());
    benchmark::DoNotOptimize(filer);
    freeFiler(filer);
  }
}
BENCHMARK(BM_FilerExists)->Arg(10)->Arg(100)->Arg(1000);

void BM_FloorVectorCopy(benchmark::State &state) {
  std::vector<std::vector<std::string>> filers;
  for (int64_t i = 0; i < state.range(0); ++i)
    filers.push_back({idOf(i), "bench.offline", "root", "secret"});
  for (auto _ : state) {
    auto copy = filers;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_FloorVectorCopy)->Arg(10)->Arg(100)->Arg(1000);

void BM_GetFilerList(benchmark::State &state) {
  registerFilers(state.range(0));
  for (auto _ : state) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    WSIList *list = getFilerList(broker(), &status);
    benchmark::DoNotOptimize(list);
    freeFilers(list);
  }
}
BENCHMARK(BM_GetFilerList)->Arg(10)->Arg(100)->Arg(1000);

// What a durable replacement of a file of count lines has to do at the least,
// done plainly: write the new file, sync it, mark it complete (0600) and sync
// it again, keep the old file as the back file, rename the new one into place
// and sync the directory so that the renames last.  The second sync is part
// of the floor: after a crash between the two renames the load trusts a
// temporary file that carries the mark, so the mark must reach the disk after
// the data and before the first rename.  Three syncs per update, as the
// registry does; what the registry does beyond this (its lock file, reading
// filers.dat afresh for an add, formatting and encoding the lines) is what the
// ratio shows.
enum class Floor { Bare, Durable, CrashSafe };

void plainReplace(const fs::path &dir, int64_t count, Floor floor) {
  fs::path tmp = dir / "floor.tmp", dat = dir / "floor.dat", back = dir / "floor.back";
  std::string content;
  for (int64_t i = 0; i < count; ++i) content += idOf(i) + ":bench.offline:root:1:443:30:secret\n";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IWUSR);
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    std::abort();
  fsync(fd);
  if (floor != Floor::CrashSafe) {
    close(fd);
    std::rename(tmp.c_str(), dat.c_str());
    if (floor == Floor::Bare) return;
  } else {
    fchmod(fd, S_IRUSR | S_IWUSR);
    fsync(fd);
    close(fd);
    std::rename(dat.c_str(), back.c_str());
    std::rename(tmp.c_str(), dat.c_str());
  }
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  fsync(dirFd);
  close(dirFd);
}

void floorReplace(benchmark::State &state, Floor floor) {
  // The registry's own directory, so that both write to the same file system.
  fs::path dir = fs::path(registryDirectory()) / "floor";
  fs::create_directories(dir);
  for (auto _ : state) {
    plainReplace(dir, state.range(0) + 1, floor);  // the add
    plainReplace(dir, state.range(0), floor);      // the removal
  }
  fs::remove_all(dir);
}

// The durable replacement above.
void BM_FloorFileReplace(benchmark::State &state) { floorReplace(state, Floor::CrashSafe); }
BENCHMARK(BM_FloorFileReplace)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The barest update of the same bytes: write, one sync, one rename; no back
// file, no completeness mark, no directory sync.  What the registry's crash
// safety costs over it shows against this floor.
void BM_FloorBareWrite(benchmark::State &state) { floorReplace(state, Floor::Bare); }
BENCHMARK(BM_FloorBareWrite)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The bare update made durable and nothing more: its rename only lasts once
// the directory is synced, a second commit of the file system's journal that
// no durable replacement avoids.  Against BM_FloorBareWrite this is the price
// of durability alone; the registry cannot go below it.
void BM_FloorDurableWrite(benchmark::State &state) { floorReplace(state, Floor::Durable); }
BENCHMARK(BM_FloorDurableWrite)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_AddRemove(benchmark::State &state) {
  registerFilers(state.range(0));
  std::string id = "bench-extra";
  for (auto _ : state) {
    release(addFilerToList(broker(), newFiler(id)));
    removeId(id);
  }
}
BENCHMARK(BM_AddRemove)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
