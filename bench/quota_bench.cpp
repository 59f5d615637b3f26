// The quota report paged through nextQuotaReport against the same pages read
// straight through the controller library (the floor: each line's elements read,
// no records made), over the in-process simulated filer, for reports of 10,000
// and 100,000 generated lines.  Counters: lines per second, and the growth of
// the peak resident set over the run (kilobytes; Linux only, 0 elsewhere),
// which should not grow with the report's length.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "filersim/filersim.h"
#include "provkit/quota.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsistorage.h"

namespace {

// The peak resident set in kilobytes, from the process's status file; 0 where
// there is none.
long long peakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}
long long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}
// Starts a new peak at the present resident set (Linux: clear_refs 5).
void resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  if (clear) clear << "5";
}

nlohmann::json scenario(long long lines) {
  std::ifstream in(FILERSIM_DEFAULT_SCENARIO);
  nlohmann::json doc = nlohmann::json::parse(in);
  for (auto &filer : doc["filers"]) {
    if (filer["name"] != "kelva-a") continue;
    filer["quotas"] = {{"generated",
                        {{{"lines", lines},
                          {"type", "user"},
                          {"target", "EXAMPLE\\user%d"},
                          {"volume", "volA"},
                          {"qtree", "q1"},
                          {"disk-limit", "1048576"},
                          {"soft-disk-limit", "900000"},
                          {"disk-used", 5120},
                          {"files-used", 42}}}}};
  }
  return doc;
}

struct Bench {
  explicit Bench(long long lines) : sim(std::make_unique<filersim::Simulator>(scenario(lines))) {
    sim->registerInProcess();
    systemId = sim->systemId("kelva-a");
    host = sim->host("kelva-a");
    user = sim->userName("kelva-a");
    password = sim->password("kelva-a");
    filer =
        Filer{systemId.data(), host.data(), user.data(), password.data(), WSI_TRANSPORT_HTTP, 0, 5};
  }
  std::unique_ptr<filersim::Simulator> sim;
  std::string systemId, host, user, password;
  Filer filer{};
};

void report(benchmark::State &state, bool throughProvkit) {
  Bench bench(state.range(0));
  long long lines = 0;
  long long before = residentKilobytes();
  resetPeak();
  for (auto _ : state) {
    if (throughProvkit) {
      KELVAStatus status = KELVA_STATUS_INIT;
      char *tag = startQuotaReport(&bench.filer, "volA", nullptr, &status);
      int more = tag != nullptr ? 1 : 0;
      while (more != 0 && checkStatus(&status) == 0) {
        WSIList *list = WSIList_new();
        uint64_t count = 0;
        more = nextQuotaReport(&bench.filer, 100, tag, nullptr, nullptr, &count, list, &status);
        lines += static_cast<long long>(count);
        benchmark::DoNotOptimize(list);
        WSIList_free(list, freeQuotaReport);
      }
      if (checkStatus(&status) != 0) state.SkipWithError("the report failed");
      endQuotaReport(&bench.filer, tag);
      wsifree(tag);
      clearKELVAStatus(&status);
      continue;
    }
    WSIServerInfo *server = _createServerInfo(
        bench.filer.host, bench.filer.userName, bench.filer.password, bench.filer.connParam3,
        bench.filer.connParam1, bench.filer.connParam2, __FILE__, __LINE__);
    WSIElement *start = _createElement("quota-report-iter-start", __FILE__, __LINE__);
    addStringElement(start, "volume", "volA");
    WSIElement *started = _invokeServerElement(server, start, __FILE__, __LINE__);
    std::string tag = getStringElement(started, "tag") != nullptr ? getStringElement(started, "tag")
                                                                  : std::string();
    freeElement(started);
    freeElement(start);
    for (;;) {
      WSIElement *next = _createElement("quota-report-iter-next", __FILE__, __LINE__);
      addStringElement(next, "tag", tag.c_str());
      addIntElement(next, "maximum", 100);
      WSIElement *batch = _invokeServerElement(server, next, __FILE__, __LINE__);
      WSIElement *quotas = getChildElement(batch, "quotas");
      bool any = false;
      if (quotas != nullptr && getIntElement(batch, "records", 0) > 0) {
        WSIIterator *walk = _createIterator(quotas, __FILE__, __LINE__);
        while (WSIElement *line = getNextElement(walk)) {
          for (const char *name :
               {"quota-type", "quota-target", "volume", "qtree", "disk-limit", "file-limit",
                "soft-disk-limit", "soft-file-limit", "disk-used", "files-used"})
            benchmark::DoNotOptimize(getStringElement(line, name));
          ++lines;
          any = true;
        }
        releaseIterator(walk);
      }
      freeElement(batch);
      freeElement(next);
      if (!any) break;
    }
    WSIElement *end = _createElement("quota-report-iter-end", __FILE__, __LINE__);
    addStringElement(end, "tag", tag.c_str());
    freeElement(_invokeServerElement(server, end, __FILE__, __LINE__));
    freeElement(end);
    destroyServerInfo(server);
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
  long long peak = peakKilobytes();
  state.counters["peakGrowthKB"] = static_cast<double>(peak > before ? peak - before : 0);
}

void BM_QuotaReportFloorRawPages(benchmark::State &state) { report(state, false); }
BENCHMARK(BM_QuotaReportFloorRawPages)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_QuotaReportNextQuotaReport(benchmark::State &state) { report(state, true); }
BENCHMARK(BM_QuotaReportNextQuotaReport)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
