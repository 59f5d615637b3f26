// Costs of a request, each against a floor in the same run; read the ratios,
// not the absolute times.
//
// - In process: the round trip against the simulated filer's own work for the
//   same request (BM_FloorSimulatorAnswers).  Building the request
//   (BM_FloorBuildRequest) is a few per cent of the round trip: most of it is
//   the simulator, which turns the request tree into text, parses it, derives
//   its SNMP objects from its state and writes and re-reads its answer as XML.
//   The library's own part (transport lookup, answer checks) is small beside
//   that.
// - Over loopback HTTP with keep-alive: the round trip against a bare reused
//   libcurl handle posting the same bytes to the same server.
// - The reading of a large answer text (10 000 elements: the bound on elements
//   is counted before parsing) against its tree handed over directly.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <memory>
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

// The simulated filer's own work for that request, as the in-process round
// trip's floor: it reads the request's text, looks the object up in its state
// and writes the answer's text, which the round trip then reads into a tree.
// Against it the in-process transport and the library's request and answer
// handling show; against BM_FloorBuildRequest the whole exchange does.
void BM_FloorSimulatorAnswers(benchmark::State &state) {
  auto sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  std::string user = sim->userName("kelva-a"), password = sim->password("kelva-a");
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kelva version=\"1.0\"><snmp-get>"
      "<object-id>.1.3.6.1.2.1.1.5.0</object-id></snmp-get></kelva>";
  for (auto _ : state) {
    filersim::Reply reply = sim->handle("kelva-a", user, password, text);
    benchmark::DoNotOptimize(reply.body.data());
  }
}
BENCHMARK(BM_FloorSimulatorAnswers);

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

// One small request over loopback HTTP with keep-alive, against its floor: a
// bare libcurl handle, reused, posting the same bytes with the same headers and
// credentials to the same server and keeping the answer's bytes.  What the
// library adds on top is building the request's text, reading the answer into
// a tree and the per-request options of its handle.
struct HttpFiler {
  std::unique_ptr<filersim::Simulator> sim =
      filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  filersim::HttpServer server{*sim, "kelva-a"};
  std::string user = sim->userName("kelva-a");
  std::string password = sim->password("kelva-a");
};

const char *const kSnmpGetText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kelva version=\"1.0\"><snmp-get>"
    "<object-id>.1.3.6.1.2.1.1.5.0</object-id></snmp-get></kelva>";

size_t keep(char *data, size_t size, size_t count, void *answer) {
  static_cast<std::string *>(answer)->append(data, size * count);
  return size * count;
}

void BM_FloorCurlPost(benchmark::State &state) {
  HttpFiler filer;
  CURL *easy = curl_easy_init();
  std::string url = "http://127.0.0.1:" + std::to_string(filer.server.port()) + "/kelva/api";
  curl_slist *headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
  headers = curl_slist_append(headers, "Expect:");
  std::string answer;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, kSnmpGetText);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
  curl_easy_setopt(easy, CURLOPT_USERNAME, filer.user.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, filer.password.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keep);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
  for (auto _ : state) {
    answer.clear();
    long status = 0;
    if (curl_easy_perform(easy) != CURLE_OK ||
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
      state.SkipWithError("request failed");
    benchmark::DoNotOptimize(answer.data());
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
}
BENCHMARK(BM_FloorCurlPost)->Unit(benchmark::kMicrosecond);

void BM_HttpRoundTrip(benchmark::State &state) {
  HttpFiler filer;
  WSIServerInfo *server = createServerInfo("127.0.0.1", filer.user.c_str(), filer.password.c_str(),
                                           5, WSI_TRANSPORT_HTTP, filer.server.port());
  for (auto _ : state) {
    WSIElement *request = createElement("snmp-get");
    addStringElement(request, "object-id", ".1.3.6.1.2.1.1.5.0");
    WSIElement *answer = invokeServerElement(server, request);
    if (checkResultStatus(answer) == 0) state.SkipWithError(getResultErrorString(answer));
    freeElement(answer);
    freeElement(request);
  }
  destroyServerInfo(server);
}
BENCHMARK(BM_HttpRoundTrip)->Unit(benchmark::kMicrosecond);

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
