// enumerateInstances over 10 filers of 10,000 instances each, made by a
// fixture library without any filer, against a floor in the same run: the
// same library function called directly for the same filers, its instances
// handed straight to a result.  The ratio of the two is provkit's own cost
// (loading the library, the registry's filer copies, the walk and freeing).
#include <benchmark/benchmark.h>
#include <cimom/cimom.h>
#include <cmpimacs.h>
#include <provkit/loader.h>
#include <provkit/operations.h>
#include <provkit/registry.h>
#include <stdlib.h>
#include <wbemkelvai/wsiapi.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

// The fixture library's enumeration, linked directly for the floor.
extern "C" CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                        CMPIStatus *status, const CMPIObjectPath *path,
                                        const Filer *filer, const char **propertyList);

namespace {

namespace fs = std::filesystem;

constexpr int filerCount = 10;

int offline(void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter,
            void *) {
  return WSI_INPROC_UNREACHABLE;
}

Filer *newFiler(int i) {
  return bench::newFiler("bench-filer-" + std::to_string(i),
                         "filer" + std::to_string(i) + ".bench");
}

using bench::release;

// One object manager and ten registered filers for the process.
struct Setup {
  cimom::ObjectManager *manager = nullptr;
  CMPIObjectPath *path = nullptr;
  std::vector<Filer *> filers;

  Setup() {
    static std::string dir = (fs::temp_directory_path() / "operations-bench-XXXXXX").string();
    setenv(WSI_DATA_DIR_ENV, mkdtemp(dir.data()), 1);
    std::atexit([] { fs::remove_all(dir); });
    manager = cimom::create().release();
    for (int i = 0; i < filerCount; ++i) {
      Filer *filer = newFiler(i);
      wsiRegisterInProcessFiler(filer->host, offline, nullptr);
      filers.push_back(static_cast<Filer *>(copyFiler(filer)));
      release(addFilerToList(manager->broker(), filer));
    }
    path = CMNewObjectPath(manager->broker(), "root/kelva", "KELVA_StorageVolume", nullptr);
  }
};

Setup &setup() {
  static Setup instance;
  return instance;
}

void BM_FloorMakeAndReturn(benchmark::State &state) {
  Setup &s = setup();
  const CMPIBroker *broker = s.manager->broker();
  const CMPIContext *context = s.manager->context();
  for (auto _ : state) {
    auto result = s.manager->newResult();
    for (Filer *filer : s.filers) {
      CMPIStatus status{CMPI_RC_OK, nullptr};
      CMPIArray *array = enumInstancesImpl(broker, context, &status, s.path, filer, nullptr);
      CMPICount count = CMGetArrayCount(array, nullptr);
      for (CMPICount i = 0; i < count; ++i) {
        CMPIData element = CMGetArrayElementAt(array, i, nullptr);
        CMReturnInstance(result->cmpi(), element.value.inst);
        // What a read hands out is given back at once, as provkit does.
        CMRelease(element.value.inst);
      }
      CMRelease(array);
    }
    CMReturnDone(result->cmpi());
    benchmark::DoNotOptimize(result->doneCount());
  }
  state.SetItemsProcessed(state.iterations() * filerCount * 10000);
}

void BM_EnumerateInstances(benchmark::State &state) {
  Setup &s = setup();
  for (auto _ : state) {
    auto result = s.manager->newResult();
    CMPIStatus status = enumerateInstances(s.manager->broker(), s.manager->context(),
                                           result->cmpi(), s.path, 1, nullptr, PK_OPSBENCH_PATH);
    if (status.rc != CMPI_RC_OK) state.SkipWithError("enumerateInstances failed");
    release(status);
    benchmark::DoNotOptimize(result->doneCount());
  }
  state.SetItemsProcessed(state.iterations() * filerCount * 10000);
  // Both sides must have returned every instance.
  auto check = s.manager->newResult();
  release(enumerateInstances(s.manager->broker(), s.manager->context(), check->cmpi(), s.path, 1,
                             nullptr, PK_OPSBENCH_PATH));
  if (check->instanceObjects().size() != filerCount * 10000u)
    state.SkipWithError("enumerateInstances did not return every instance");
}

BENCHMARK(BM_FloorMakeAndReturn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumerateInstances)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
