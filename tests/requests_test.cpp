// Requests, answers and what the library reads from a filer, against the
// simulated filer, in process and over HTTP on 127.0.0.1.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "wbemkelvai/kit.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"
#include "wbemkelvai/wsitesting.h"

namespace {

using filersim::Fault;

using wsi::Element;
using wsi::Server;

enum class Transport { InProcess, Http };

class RequestsTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    sim_ = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    systemId_ = sim_->systemId("kelva-a");
    user_ = sim_->userName("kelva-a");
    password_ = sim_->password("kelva-a");
    if (GetParam() == Transport::InProcess) {
      sim_->registerInProcess();
      host_ = sim_->host("kelva-a");
    } else {
      http_ = std::make_unique<filersim::HttpServer>(*sim_, "kelva-a");
      host_ = "127.0.0.1";
      port_ = http_->port();
    }
    filer_ = Filer{systemId_.data(),
                   host_.data(),
                   user_.data(),
                   password_.data(),
                   WSI_TRANSPORT_HTTP,
                   port_,
                   5};
  }
  void TearDown() override {
    KELVAStatus status = KELVA_STATUS_INIT;
    FilerCache_deleteEntry(&filer_, &status);  // the cache is process-wide
    clearKELVAStatus(&status);
    http_.reset();
    sim_.reset();
  }

  Server connect(int timeoutSeconds = 5) {
    return Server(createServerInfo(host_.c_str(), user_.c_str(), password_.c_str(), timeoutSeconds,
                                   WSI_TRANSPORT_HTTP, port_));
  }
  Element send(WSIServerInfo *server, const char *api) {
    Element request(createElement(api));
    return Element(invokeServerElement(server, request.get()));
  }
  Element send(const char *api) {
    Server server = connect();
    return send(server.get(), api);
  }
  void fault(const std::string &api, const Fault &f) { sim_->setFault("kelva-a", api, f); }

  std::unique_ptr<filersim::Simulator> sim_;
  std::unique_ptr<filersim::HttpServer> http_;
  std::string systemId_, host_, user_, password_;
  int port_ = 0;
  Filer filer_{};
};

TEST_P(RequestsTest, PassedAnswerIsReadAsATree) {
  Server server = connect();
  ASSERT_NE(server, nullptr);
  // Several requests over one connection: the session stays usable.
  for (int i = 0; i < 3; ++i) {
    Element answer = send(server.get(), "system-get-info");
    ASSERT_EQ(checkResultStatus(answer.get()), 1) << getResultErrorString(answer.get());
    EXPECT_EQ(getResultErrorNum(answer.get()), 0);
    EXPECT_EQ(getResultErrorString(answer.get()), nullptr);
    WSIElement *info = getChildElement(answer.get(), "system-info");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(getStringElement(info, "system-id"), "0118054321");
    EXPECT_STREQ(getStringElement(info, "SYSTEM-MODEL"), "KV-3040");
    EXPECT_EQ(getStringElement(info, "no-such-child"), nullptr);
    std::vector<std::string> names;
    WSIIterator *it = createIterator(info);
    while (WSIElement *child = getNextElement(it)) names.push_back(getElementName(child));
    releaseIterator(it);
    EXPECT_EQ(names, (std::vector<std::string>{"system-id", "system-name", "system-serial-number",
                                               "system-model", "vendor-id"}));
  }
}

TEST_P(RequestsTest, FilerErrorsCarryNumberReasonAndHost) {
  Element unknown = send("no-such-api");
  EXPECT_EQ(checkResultStatus(unknown.get()), 0);
  EXPECT_EQ(getResultErrorNum(unknown.get()), filersim::kApiNotFound);
  EXPECT_STREQ(getResultErrorString(unknown.get()), "Unable to find API: no-such-api");
  Server server = connect();
  char *text = getErrorWithIP(unknown.get(), server.get());
  EXPECT_EQ(std::string(text), host_ + ": Unable to find API: no-such-api (error 13005)");
  wsifree(text);

  Element missing = send("snmp-get");
  EXPECT_EQ(getResultErrorNum(missing.get()), filersim::kMissingInput);
  EXPECT_STREQ(getResultErrorString(missing.get()), "Missing input: object-id");

  Element request(createElement("snmp-get"));
  ASSERT_TRUE(addStringElement(request.get(), "object-id", ".1.2.3"));
  Element notFound(invokeServerElement(server.get(), request.get()));
  EXPECT_EQ(getResultErrorNum(notFound.get()), filersim::kNoSuchObject);

  fault("system-get-info", Fault::fail(13999, "disk <on> fire", 1));
  Element injected = send("system-get-info");
  EXPECT_EQ(getResultErrorNum(injected.get()), 13999);
  EXPECT_STREQ(getResultErrorString(injected.get()), "disk <on> fire");
  EXPECT_EQ(checkResultStatus(send("system-get-info").get()), 1);  // it struck once
}

TEST_P(RequestsTest, TextIsEscapedBothWaysAndChangesStay) {
  const std::string name = "iqn.2000-01.com.x:<a&b>\"'] ]]> \xc3\xa9";
  Server server = connect();
  Element set(createElement("iscsi-node-set-name"));
  ASSERT_TRUE(addStringElement(set.get(), "node-name", name.c_str()));
  Element done(invokeServerElement(server.get(), set.get()));
  ASSERT_EQ(checkResultStatus(done.get()), 1) << getResultErrorString(done.get());
  Element got = send(server.get(), "iscsi-node-get-name");
  EXPECT_EQ(std::string(getStringElement(got.get(), "node-name")), name);
  EXPECT_EQ(sim_->state("kelva-a")["iscsi"]["nodeName"], name);
}

TEST_P(RequestsTest, BrokenAnswersBecomeFailedAnswers) {
  struct Case {
    Fault fault;
    int expected;
  };
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<n>";
  std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE kelva [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
      "\"&a;&a;&a;&a;&a;&a;&a;&a;\">]><kelva><results "
      "status=\"passed\"><x>&b;</x></results></kelva>";
  std::vector<Case> cases = {
      {Fault::of(Fault::Kind::Malformed), WSI_ERR_BAD_ANSWER},
      {Fault::of(Fault::Kind::Truncated), WSI_ERR_BAD_ANSWER},
      {Fault::of(Fault::Kind::StopMidway), WSI_ERR_DROPPED},
      {Fault::of(Fault::Kind::Drop), WSI_ERR_DROPPED},
      {Fault::answer(laughs), WSI_ERR_BAD_ANSWER},
      {Fault::answer("<kelva><results status=\"passed\">" + deep), WSI_ERR_BAD_ANSWER},
      {Fault::answer("<kelva><results status=\"maybe\"/></kelva>"), WSI_ERR_BAD_ANSWER},
      {Fault::answer("<other/>"), WSI_ERR_BAD_ANSWER},
      {Fault::answer(std::string(WSI_MAX_ANSWER_BYTES + 10, ' ')), WSI_ERR_BAD_ANSWER},
  };
  Server server = connect();
  for (size_t i = 0; i < cases.size(); ++i) {
    fault("system-get-info", cases[i].fault);
    Element answer = send(server.get(), "system-get-info");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(checkResultStatus(answer.get()), 0) << "case " << i;
    EXPECT_EQ(getResultErrorNum(answer.get()), cases[i].expected)
        << "case " << i << ": " << getResultErrorString(answer.get());
  }
  // Deep nesting within the limit is fine.
  std::string nested = "<kelva><results status=\"passed\">";
  for (int i = 0; i < 10; ++i) nested += "<n>";
  for (int i = 0; i < 10; ++i) nested += "</n>";
  fault("system-get-info", Fault::answer(nested + "</results></kelva>"));
  EXPECT_EQ(checkResultStatus(send(server.get(), "system-get-info").get()), 1);
  // And the connection still works once the filer behaves again.
  sim_->clearFaults();
  EXPECT_EQ(checkResultStatus(send(server.get(), "system-get-info").get()), 1);
}

TEST_P(RequestsTest, AnswersOfTooManyElementsAreRefused) {
  auto answerOf = [](unsigned elements) {
    std::string body = "<kelva><results status=\"passed\">";
    for (unsigned i = 0; i < elements; ++i) body += "<a/>";
    return body + "</results></kelva>";
  };
  Server server = connect();
  fault("system-get-info", Fault::answer(answerOf(WSI_MAX_ANSWER_ELEMENTS + 1), 1));
  Element tooMany = send(server.get(), "system-get-info");
  EXPECT_EQ(getResultErrorNum(tooMany.get()), WSI_ERR_BAD_ANSWER);
  EXPECT_NE(std::string(getResultErrorString(tooMany.get())).find("elements"), std::string::npos)
      << getResultErrorString(tooMany.get());
  fault("system-get-info", Fault::answer(answerOf(WSI_MAX_ANSWER_ELEMENTS), 1));
  EXPECT_EQ(checkResultStatus(send(server.get(), "system-get-info").get()), 1);
}

TEST_P(RequestsTest, LibraryErrorNumbersAreNotTheFilers) {
  // Every failure the library makes itself lies in its own range, above any filer's.
  for (int number :
       {WSI_ERR_UNREACHABLE, WSI_ERR_TIMEOUT, WSI_ERR_DROPPED, WSI_ERR_BAD_ANSWER, WSI_ERR_AUTH,
        WSI_ERR_HTTP, WSI_ERR_NO_TRANSPORT, WSI_ERR_BAD_REQUEST, WSI_ERR_TLS}) {
    EXPECT_GE(number, 50000);
    EXPECT_LE(number, 50099);
  }
  for (int filerNumber : {9003, 13114, 13200, 13201, static_cast<int>(filersim::kNoSuchAggregate),
                          static_cast<int>(filersim::kApiNotFound)}) {
    fault("system-get-info", Fault::fail(filerNumber, "filer says no", 1));
    Element answer = send("system-get-info");
    EXPECT_EQ(getResultErrorNum(answer.get()), filerNumber);
  }
}

TEST_P(RequestsTest, SlowFilerTimesOutAndWrongPasswordIsRefused) {
  fault("system-get-info", Fault::delay(1500, 1));
  Server quick = connect(1);
  Element late = send(quick.get(), "system-get-info");
  EXPECT_EQ(getResultErrorNum(late.get()), WSI_ERR_TIMEOUT) << getResultErrorString(late.get());

  Server wrong(
      createServerInfo(host_.c_str(), user_.c_str(), "guess", 5, WSI_TRANSPORT_HTTP, port_));
  Element refused = send(wrong.get(), "system-get-info");
  EXPECT_EQ(getResultErrorNum(refused.get()), WSI_ERR_AUTH);
}

TEST_P(RequestsTest, FilerReadersFillTheirRecords) {
  KELVAStatus status = KELVA_STATUS_INIT;
  KELVASysInfo *info = getKELVASysInfo(&status, &filer_);
  ASSERT_NE(info, nullptr) << status.message;
  EXPECT_EQ(info->online, 1);
  EXPECT_STREQ(info->systemId, "0118054321");
  EXPECT_STREQ(info->serialNumber, "700000123456");
  EXPECT_STREQ(info->reverseLookupName, "21.2.0.192.in-addr.arpa");
  EXPECT_STREQ(info->model, "KV-3040");
  freeKELVASysInfo(info);

  KELVACFStatus *cf = getCFStatus(&filer_, &status);
  ASSERT_NE(cf, nullptr);
  EXPECT_EQ(cf->enabled, 1);
  EXPECT_STREQ(cf->state, "CONNECTED");
  EXPECT_STREQ(cf->partner, "kelva-b");
  freeCFStatus(cf);

  WSIList *addresses = getAllIPV4IPs(&filer_, &status);
  ASSERT_NE(addresses, nullptr);
  std::vector<std::string> got;
  for (WSIListPos *p = WSIList_getFirst(addresses); p != nullptr; p = WSIList_getNext(p)) {
    got.emplace_back(static_cast<char *>(WSIList_getElement(p)));
  }
  WSIList_free(addresses, wsifree);
  EXPECT_EQ(got, (std::vector<std::string>{"192.0.2.21", "198.51.100.21", "198.51.100.121",
                                           "127.0.0.1"}));

  int32_t major = 0, minor = 0, micro = 0;
  ASSERT_EQ(getSystemVersion(&status, &filer_, &major, &minor, &micro), 1);
  EXPECT_EQ(major * 10000 + minor * 100 + micro, 70302);
  EXPECT_EQ(checkStatus(&status), 0);
  clearKELVAStatus(&status);
}

TEST_P(RequestsTest, CacheEntryHoldsFilerDataUntilRefreshed) {
  KELVAStatus status = KELVA_STATUS_INIT;
  ASSERT_EQ(FilerCache_addEntry(&filer_, 1, &status), 1) << status.message;
  FilerCacheEntry *entry = FilerCache_lockEntry(&filer_, &status);
  ASSERT_NE(entry, nullptr);
  FilerSpecificData *data = FilerCache_getFilerSpecificData(entry);
  EXPECT_EQ(data->healthState, 5);
  EXPECT_STREQ(data->iscsiNodeName, "iqn.1992-08.com.kelva:sn.118054321");
  EXPECT_EQ(data->iscsiNodeState, 1);
  FilerCache_releaseEntry(&filer_);

  sim_->mutate("kelva-a", [](nlohmann::json &f) {
    f["health"] = "critical";
    f["iscsi"]["enabled"] = false;
  });
  entry = FilerCache_lockEntry(&filer_, &status);  // still the cached data
  EXPECT_EQ(FilerCache_getFilerSpecificData(entry)->healthState, 5);
  FilerCache_releaseEntry(&filer_);
  ASSERT_EQ(FilerCache_addEntry(&filer_, 1, &status), 1);  // an eager add refreshes
  entry = FilerCache_lockEntry(&filer_, &status);
  data = FilerCache_getFilerSpecificData(entry);
  EXPECT_EQ(data->healthState, 25);
  EXPECT_EQ(data->iscsiNodeName, nullptr);
  EXPECT_EQ(data->iscsiNodeState, 0);
  FilerCache_releaseEntry(&filer_);

  ASSERT_EQ(FilerCache_deleteEntry(&filer_, &status), 1);
  EXPECT_EQ(FilerCache_deleteEntry(&filer_, &status), 0);
  EXPECT_NE(checkStatus(&status), 0);
  clearKELVAStatus(&status);
}

TEST_P(RequestsTest, RefusedCredentialsAreNotHiddenBehindCachedData) {
  KELVAStatus status = KELVA_STATUS_INIT;
  ASSERT_EQ(FilerCache_addEntry(&filer_, 1, &status), 1) << status.message;
  std::string wrong = "not-the-password";
  Filer changed = filer_;
  changed.password = wrong.data();
  EXPECT_EQ(FilerCache_lockEntry(&changed, &status), nullptr);
  ASSERT_NE(checkStatus(&status), 0);
  EXPECT_NE(std::string(status.message).find("refused"), std::string::npos) << status.message;
  clearKELVAStatus(&status);
  ASSERT_NE(FilerCache_lockEntry(&filer_, &status), nullptr) << status.message;
  FilerCache_releaseEntry(&filer_);
}

TEST_P(RequestsTest, ReadersSurviveEveryFailingAllocation) {
  auto readAll = [this](KELVAStatus *status) {
    bool ok = true;
    KELVASysInfo *info = getKELVASysInfo(status, &filer_);
    ok = ok && info != nullptr;
    freeKELVASysInfo(info);
    KELVACFStatus *cf = ok ? getCFStatus(&filer_, status) : nullptr;
    ok = ok && cf != nullptr;
    freeCFStatus(cf);
    WSIList *addresses = ok ? getAllIPV4IPs(&filer_, status) : nullptr;
    ok = ok && addresses != nullptr;
    WSIList_free(addresses, wsifree);
    ok = ok && FilerCache_addEntry(&filer_, 1, status) == 1;
    return ok;
  };
  KELVAStatus status = KELVA_STATUS_INIT;
  wsiTestFailAllocation(0);
  ASSERT_TRUE(readAll(&status)) << status.message;
  unsigned long long allocations = wsiTestAllocationCount();
  ASSERT_GT(allocations, 10u);
  for (unsigned long long nth = 1; nth <= allocations; ++nth) {
    wsiTestFailAllocation(nth);
    bool ok = readAll(&status);
    wsiTestFailAllocation(0);
    // Either the failure was absorbed, or it is reported; nothing leaks (asan).
    EXPECT_EQ(ok, checkStatus(&status) == 0) << "allocation " << nth;
    clearKELVAStatus(&status);
  }
}

TEST_P(RequestsTest, OffLineFiler) {
  sim_->setOnline("kelva-a", false);
  KELVAStatus status = KELVA_STATUS_INIT;
  KELVASysInfo *info = getKELVASysInfo(&status, &filer_);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->online, 0);
  EXPECT_EQ(checkStatus(&status), 0);
  freeKELVASysInfo(info);

  EXPECT_EQ(getCFStatus(&filer_, &status), nullptr);
  ASSERT_NE(checkStatus(&status), 0);
  EXPECT_NE(std::string(status.message).find(host_), std::string::npos) << status.message;
  clearKELVAStatus(&status);

  // The registry's way in: an eager add fails, a lazy one stands, and locking it fails
  // until the filer is back.
  EXPECT_EQ(FilerCache_addEntry(&filer_, 1, &status), 0);
  clearKELVAStatus(&status);
  EXPECT_EQ(FilerCache_addEntry(&filer_, 0, &status), 1);
  EXPECT_EQ(FilerCache_lockEntry(&filer_, &status), nullptr);
  clearKELVAStatus(&status);
  sim_->setOnline("kelva-a", true);
  ASSERT_NE(FilerCache_lockEntry(&filer_, &status), nullptr);
  FilerCache_releaseEntry(&filer_);
  clearKELVAStatus(&status);
}

INSTANTIATE_TEST_SUITE_P(Transports, RequestsTest,
                         ::testing::Values(Transport::InProcess, Transport::Http),
                         [](const auto &p) {
                           return p.param == Transport::InProcess ? "InProcess" : "Http";
                         });

TEST(RequestsHttp, NobodyListening) {
  int port = 0;
  {
    auto probe = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    filersim::HttpServer server(*probe, "kelva-a");
    port = server.port();
  }  // closed again: nobody listens there now
  Server server(createServerInfo("127.0.0.1", "root", "x", 2, WSI_TRANSPORT_HTTP, port));
  Element request(createElement("system-get-info"));
  Element answer(invokeServerElement(server.get(), request.get()));
  EXPECT_EQ(getResultErrorNum(answer.get()), WSI_ERR_UNREACHABLE)
      << getResultErrorString(answer.get());
}

TEST(RequestsHttp, ProxyVariablesOfTheEnvironmentAreIgnored) {
  auto sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  filersim::HttpServer filer(*sim, "kelva-a");
  int deadPort = 0;
  {
    filersim::HttpServer probe(*sim, "kelva-a");
    deadPort = probe.port();
  }  // nobody listens there now
  std::string dead = "http://127.0.0.1:" + std::to_string(deadPort);
  std::string user = sim->userName("kelva-a"), password = sim->password("kelva-a");
  auto ask = [&] {
    Server server(createServerInfo("127.0.0.1", user.c_str(), password.c_str(), 5,
                                   WSI_TRANSPORT_HTTP, filer.port()));
    Element request(createElement("system-get-info"));
    return Element(invokeServerElement(server.get(), request.get()));
  };
  for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) {
    setenv(name, dead.c_str(), 1);
  }
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  Element direct = ask();
  EXPECT_EQ(checkResultStatus(direct.get()), 1) << getResultErrorString(direct.get());
  // Our own variable is the way to a proxy.
  setenv("KELVA_HTTP_PROXY", dead.c_str(), 1);
  Element viaProxy = ask();
  EXPECT_EQ(getResultErrorNum(viaProxy.get()), WSI_ERR_UNREACHABLE)
      << getResultErrorString(viaProxy.get());
  for (const char *name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "ALL_PROXY", "all_proxy", "KELVA_HTTP_PROXY"}) {
    unsetenv(name);
  }
}

TEST(Elements, BuildingAndReadingWithoutAFiler) {
  EXPECT_EQ(createElement("1bad"), nullptr);
  EXPECT_EQ(createElement("has space"), nullptr);
  EXPECT_EQ(createElement(nullptr), nullptr);
  Element request(createElement("volume-create"));
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(addStringElement(request.get(), "bad name", "x"), 0);
  EXPECT_TRUE(addIntElement(request.get(), "size", 9007199254740993LL));
  EXPECT_TRUE(addIntElement(request.get(), "neg", -5));
  EXPECT_TRUE(addBoolElement(request.get(), "thin", 7));
  EXPECT_TRUE(addStringElement(request.get(), "word", "12abc"));
  WSIElement *child = createElement("options");
  EXPECT_TRUE(addStringElement(child, "x", nullptr));
  EXPECT_TRUE(addChildElement(request.get(), child));
  EXPECT_EQ(getIntElement(request.get(), "size", 0), 9007199254740993LL);
  EXPECT_EQ(getIntElement(request.get(), "neg", 0), -5);
  EXPECT_EQ(getIntElement(request.get(), "word", 42), 42);
  EXPECT_EQ(getIntElement(request.get(), "missing", 42), 42);
  EXPECT_EQ(getBoolElement(request.get(), "thin", -1), 1);
  EXPECT_STREQ(getStringElement(getChildElement(request.get(), "options"), "x"), "");
  EXPECT_EQ(checkResultStatus(request.get()), 0);  // a request is no answer
  WSIIterator *none = createIterator(nullptr);
  EXPECT_EQ(getNextElement(none), nullptr);
  releaseIterator(none);
  EXPECT_EQ(createServerInfo("", "u", "p", 1, 0, 0), nullptr);
  EXPECT_EQ(createServerInfo("h", "u", "p", 1, 7, 0), nullptr);
  EXPECT_EQ(createServerInfo("h", "u", "p", 1, 0, 70000), nullptr);
  Element noConnection(invokeServerElement(nullptr, request.get()));
  EXPECT_EQ(getResultErrorNum(noConnection.get()), WSI_ERR_BAD_REQUEST);
}

}  // namespace
