// Round trip of one request to the in-process simulated filer against a floor in
// the same run: building and freeing the same request without sending it.  And the
// reading of a large answer text (10 000 elements: the bound on elements is counted
// before parsing) against its tree handed over directly.  Read the ratios, not the
// absolute times.
#include <benchmark/benchmark.h>

#include <string>

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

constexpr int kLargeAnswerItems = 2000;  // five elements each

const std::string &largeAnswerText() {
  static const std::string text = [] {
    std::string body = "<kelva version=\"1.0\"><results status=\"passed\"><volumes>";
    for (int i = 0; i < kLargeAnswerItems; ++i) {
      body += "<volume-info><name>vol" + std::to_string(i) +
              "</name><state>online</state><size-total>1073741824</size-total>"
              "<uuid>0000-" +
              std::to_string(i) + "</uuid></volume-info>";
    }
    return body + "</volumes></results></kelva>";
  }();
  return text;
}

int textFiler(void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter write,
              void *answer) {
  write(answer, largeAnswerText().data(), largeAnswerText().size());
  return WSI_INPROC_OK;
}

int treeFiler(void *, const char *, const char *, const WSIElement *, long, WSIElement **tree,
              WSIAnswerWriter, void *) {
  *tree = wsiCreateAnswer(1, 0, nullptr);
  WSIElement *volumes = createElement("volumes");
  for (int i = 0; i < kLargeAnswerItems; ++i) {
    WSIElement *info = createElement("volume-info");
    addStringElement(info, "name", ("vol" + std::to_string(i)).c_str());
    addStringElement(info, "state", "online");
    addStringElement(info, "size-total", "1073741824");
    addStringElement(info, "uuid", ("0000-" + std::to_string(i)).c_str());
    addChildElement(volumes, info);
  }
  addChildElement(*tree, volumes);
  return WSI_INPROC_OK;
}

void largeAnswer(benchmark::State &state, const char *host) {
  WSIServerInfo *server = createServerInfo(host, "root", "", 5, WSI_TRANSPORT_HTTP, 0);
  for (auto _ : state) {
    WSIElement *request = createElement("volume-list-info");
    WSIElement *answer = invokeServerElement(server, request);
    if (checkResultStatus(answer) == 0) state.SkipWithError(getResultErrorString(answer));
    freeElement(answer);
    freeElement(request);
  }
  destroyServerInfo(server);
}

void BM_LargeAnswerAsText(benchmark::State &state) {
  wsiRegisterInProcessFiler("bench-text.filer", textFiler, nullptr);
  largeAnswer(state, "bench-text.filer");
  wsiUnregisterInProcessFiler("bench-text.filer");
}
BENCHMARK(BM_LargeAnswerAsText);

void BM_LargeAnswerAsTree(benchmark::State &state) {
  wsiRegisterInProcessTreeFiler("bench-tree.filer", treeFiler, nullptr);
  largeAnswer(state, "bench-tree.filer");
  wsiUnregisterInProcessFiler("bench-tree.filer");
}
BENCHMARK(BM_LargeAnswerAsTree);

}  // namespace

BENCHMARK_MAIN();
