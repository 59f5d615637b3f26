// Round trip of one request to the in-process simulated filer (serialise, answer,
// parse) against a floor in the same run: building and freeing the same request
// without sending it.  Read the ratio, not the absolute time.
#include <benchmark/benchmark.h>

#include "filersim/filersim.h"
#include "wbemkelvai/wsiapi.h"

namespace {

void BM_FloorBuildRequest(benchmark::State &state) {
  for (auto _ : state) {
    WSIElement *request = createElement("snmp-get");
    addStringElement(request, "object-id", ".1.3.6.1.2.1.1.5.0");
    benchmark::DoNotOptimize(request);
    freeElement(request);
  }
}
BENCHMARK(BM_FloorBuildRequest);

void BM_InProcessRoundTrip(benchmark::State &state) {
  auto sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  sim->registerInProcess();
  WSIServerInfo *server =
      createServerInfo(sim->host("kelva-a").c_str(), sim->userName("kelva-a").c_str(),
                       sim->password("kelva-a").c_str(), 5, WSI_TRANSPORT_HTTP, 0);
  for (auto _ : state) {
    WSIElement *request = createElement("snmp-get");
    addStringElement(request, "object-id", ".1.3.6.1.2.1.1.5.0");
    WSIElement *answer = invokeServerElement(server, request);
    if (checkResultStatus(answer) == 0) state.SkipWithError("request failed");
    freeElement(answer);
    freeElement(request);
  }
  destroyServerInfo(server);
}
BENCHMARK(BM_InProcessRoundTrip);

}  // namespace

BENCHMARK_MAIN();
