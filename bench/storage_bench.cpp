// getVolumeInfo served from the filer cache against the same call reading the
// in-process simulated filer each time (fresh), with a floor in the same run:
// copying and freeing five volume records without any lookup.  Read the ratios.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "filersim/filersim.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsistorage.h"

namespace {

struct Bench {
  Bench() : sim(filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO)) {
    sim->registerInProcess();
    systemId = sim->systemId("kelva-a");
    host = sim->host("kelva-a");
    user = sim->userName("kelva-a");
    password = sim->password("kelva-a");
    filer =
        Filer{systemId.data(), host.data(), user.data(), password.data(), WSI_TRANSPORT_HTTP, 0, 5};
  }
  ~Bench() {
    KELVAStatus status = KELVA_STATUS_INIT;
    FilerCache_deleteEntry(&filer, &status);
    clearKELVAStatus(&status);
  }
  std::unique_ptr<filersim::Simulator> sim;
  std::string systemId, host, user, password;
  Filer filer{};
};

void volumes(benchmark::State &state, int fresh) {
  Bench bench;
  for (auto _ : state) {
    KELVAStatus status = KELVA_STATUS_INIT;
    WSIList *list = WSIList_new();
    if (!getVolumeInfo(&status, &bench.filer, nullptr, nullptr, nullptr, 3, fresh, list)) {
      state.SkipWithError("getVolumeInfo failed");
    }
    benchmark::DoNotOptimize(list);
    freeVolumeInfo(list);
    clearKELVAStatus(&status);
  }
}

void BM_FloorCopyFiveRecords(benchmark::State &state) {
  for (auto _ : state) {
    WSIList *list = WSIList_new();
    for (int i = 0; i < 5; ++i) {
      auto *v = static_cast<KELVAVolume *>(wsicalloc(1, sizeof(KELVAVolume)));
      v->name = wsistrdup("volume");
      v->uuid = wsistrdup("0f2e6a40-2222-11dd-9a1b-00a09800aaaa");
      v->systemId = wsistrdup("0118054321");
      v->aggregateName = wsistrdup("aggr1");
      v->state = wsistrdup("online");
      v->raidType = wsistrdup("raid4");
      WSIList_append(list, v);
    }
    benchmark::DoNotOptimize(list);
    freeVolumeInfo(list);
  }
}
BENCHMARK(BM_FloorCopyFiveRecords);

void BM_GetVolumeInfoCached(benchmark::State &state) { volumes(state, 0); }
BENCHMARK(BM_GetVolumeInfoCached);

void BM_GetVolumeInfoFresh(benchmark::State &state) { volumes(state, 1); }
BENCHMARK(BM_GetVolumeInfoFresh);

}  // namespace

BENCHMARK_MAIN();
