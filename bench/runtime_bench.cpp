// List and filter costs of the controller library's runtime, each against a
// floor measured in the same run (a plain std::vector walk, the C library's
// strcmp and strcasecmp), so the ratio, not the absolute time, is what to read.
// strCompare's floor is strcasecmp: both fold ASCII case.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "wbemkelvai/wsiruntime.h"

namespace {

void BM_FloorVectorWalk(benchmark::State &state) {
  std::vector<void *> v(static_cast<size_t>(state.range(0)), &state);
  for (auto _ : state) {
    size_t n = 0;
    for (void *p : v) n += p != nullptr;
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_FloorVectorWalk)->Arg(10)->Arg(1000);

void BM_WSIListWalk(benchmark::State &state) {
  WSIList *list = WSIList_new();
  for (int64_t i = 0; i < state.range(0); ++i) WSIList_append(list, &state);
  for (auto _ : state) {
    size_t n = 0;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      n += WSIList_getElement(p) != nullptr;
    }
    benchmark::DoNotOptimize(n);
  }
  WSIList_free(list, nullptr);
}
BENCHMARK(BM_WSIListWalk)->Arg(10)->Arg(1000);

void BM_FloorStrcmp(benchmark::State &state) {
  std::string a = "KELVA_StorageVolume", b = "KELVA_StorageVolume";
  for (auto _ : state) benchmark::DoNotOptimize(std::strcmp(a.c_str(), b.c_str()));
}
BENCHMARK(BM_FloorStrcmp);

void BM_FloorStrcasecmp(benchmark::State &state) {
  std::string a = "KELVA_StorageVolume", b = "kelva_storagevolume";
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(strcasecmp(a.c_str(), b.c_str()));
  }
}
BENCHMARK(BM_FloorStrcasecmp);

// A registry identifier against another of the same prefix, as a lookup meets them.
void BM_FloorStrcasecmpIds(benchmark::State &state) {
  std::string a = "bench-filer-999", b = "bench-filer-998";
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(strcasecmp(a.c_str(), b.c_str()));
  }
}
BENCHMARK(BM_FloorStrcasecmpIds);

void BM_StrCompareIds(benchmark::State &state) {
  std::string a = "bench-filer-999", b = "bench-filer-998";
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(strCompare(a.c_str(), b.c_str()));
  }
}
BENCHMARK(BM_StrCompareIds);

void BM_StrCompare(benchmark::State &state) {
  std::string a = "KELVA_StorageVolume", b = "kelva_storagevolume";
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(strCompare(a.c_str(), b.c_str()));
  }
}
BENCHMARK(BM_StrCompare);

void BM_FilterWildcard(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(passesStringFilter("KELVA_*Vol*e", "KELVA_StorageVolume"));
}
BENCHMARK(BM_FilterWildcard);

}  // namespace

BENCHMARK_MAIN();
