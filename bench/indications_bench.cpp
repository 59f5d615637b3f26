// One poll's comparison at 10 filers of 5,000 elements each: every element
// of the new snapshot looked up in the previous one by keys, then compared in
// full, and every previous element looked up in the new one.  The floor is
// the least any comparison does: one key comparison and one full comparison
// per element, with the partner already known.  Unchanged and churned polls
// (one element in a hundred created, one deleted, one modified) keep the
// filers' order, as two listings of a filer do.
#include <benchmark/benchmark.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsiruntime.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "provkit/indications_hooks.h"

namespace {

constexpr int kFilers = 10;
constexpr int kElements = 5000;

struct Element {
  char key[24];
  uint64_t size;
};

int compareElements(const void *first, const void *second, int keysOnly) {
  const auto *a = static_cast<const Element *>(first);
  const auto *b = static_cast<const Element *>(second);
  if (std::strcmp(a->key, b->key) != 0) return 0;
  return keysOnly != 0 || a->size == b->size ? 1 : 0;
}

void freeElements(WSIList *elements) { WSIList_free(elements, wsifree); }

// A snapshot of kFilers filers; churn > 0 changes one element in churn in each
// way (a new key, a dropped key, a new size).
WSIList *snapshot(const std::vector<Filer *> &filers, int churn) {
  WSIList *list = WSIList_new();
  for (Filer *filer : filers) {
    auto *entry = static_cast<pk::testing::IndSnapshotEntry *>(
        wsicalloc(1, sizeof(pk::testing::IndSnapshotEntry)));
    entry->filer = static_cast<Filer *>(copyFiler(filer));
    entry->elements = WSIList_new();
    for (int i = 0; i < kElements; ++i) {
      if (churn > 0 && i % churn == 1) continue;  // deleted
      auto *element = static_cast<Element *>(wsicalloc(1, sizeof(Element)));
      bool created = churn > 0 && i % churn == 2;
      std::snprintf(element->key, sizeof element->key, created ? "NEW%08d" : "LUN%08d", i);
      element->size = 4096 * static_cast<uint64_t>(i) + (churn > 0 && i % churn == 3 ? 1 : 0);
      WSIList_append(entry->elements, element);
    }
    WSIList_append(list, entry);
  }
  return list;
}

// The snapshots live for the process.
struct Polls {
  std::vector<Filer *> filers;
  WSIList *previous;
  WSIList *unchanged;
  WSIList *churned;
  WSIIndImpl impl{};
  Polls() {
    for (int i = 0; i < kFilers; ++i)
      filers.push_back(bench::newFiler("filer-" + std::to_string(i), "f" + std::to_string(i)));
    previous = snapshot(filers, 0);
    unchanged = snapshot(filers, 0);
    churned = snapshot(filers, 100);
    impl.compareIndElements = compareElements;
    impl.freeIndElements = freeElements;
  }
};

Polls &polls() {
  static Polls *made = new Polls;
  return *made;
}

void comparison(benchmark::State &state, WSIList *current, size_t expected) {
  Polls &p = polls();
  const uint8_t all = PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY;
  for (auto _ : state) {
    size_t found = pk::testing::comparePolls(p.impl, p.previous, current, all, nullptr);
    if (found != expected) state.SkipWithError("wrong number of changes");
    benchmark::DoNotOptimize(found);
  }
  state.counters["elements"] = benchmark::Counter(static_cast<double>(kFilers) * kElements,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PollComparisonUnchanged(benchmark::State &state) {
  comparison(state, polls().unchanged, 0);
}
void BM_PollComparisonChurned(benchmark::State &state) {
  // Per filer: 50 created, 100 deleted (50 dropped, and the 50 whose key the
  // created ones took), 50 modified.
  comparison(state, polls().churned, static_cast<size_t>(kFilers) * 200);
}

void BM_FloorPairedComparisons(benchmark::State &state) {
  Polls &p = polls();
  std::vector<std::vector<const void *>> before, after;
  for (WSIList *list : {p.previous, p.unchanged}) {
    auto &side = list == p.previous ? before : after;
    for (WSIListPos *f = WSIList_getFirst(list); f != nullptr; f = WSIList_getNext(f)) {
      auto *entry = static_cast<pk::testing::IndSnapshotEntry *>(WSIList_getElement(f));
      side.emplace_back();
      for (WSIListPos *e = WSIList_getFirst(entry->elements); e != nullptr; e = WSIList_getNext(e))
        side.back().push_back(WSIList_getElement(e));
    }
  }
  for (auto _ : state) {
    int same = 0;
    for (size_t f = 0; f < after.size(); ++f)
      for (size_t i = 0; i < after[f].size(); ++i)
        same += compareElements(after[f][i], before[f][i], 1) +
                compareElements(after[f][i], before[f][i], 0) +
                compareElements(before[f][i], after[f][i], 1);
    benchmark::DoNotOptimize(same);
  }
  state.counters["elements"] = benchmark::Counter(static_cast<double>(kFilers) * kElements,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_FloorPairedComparisons)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollComparisonUnchanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollComparisonChurned)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
