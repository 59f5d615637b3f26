// The storage system's snapshot through the embedded object manager at both
// CMPI levels, against simulated filers: operational status from the
// takeover state and the off-line flag, health from real SNMP traps (sent by
// snmptrap to the real trap listener on loopback) and from the filer cache,
// and the identifying information with a DNS responder of the test's own.
#include <arpa/inet.h>
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <provkit/endpoints.h>
#include <provkit/frame.h>
#include <provkit/storagesystem.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wbemkelvai/wsiapi.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dns_responder.h"
#include "provkit/systemhooks.h"
#include "support.h"

namespace {

using nlohmann::json;

// A UDP port on loopback that nobody holds right now.
uint16_t freeUdpPort() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
    close(fd);
    return 0;
  }
  socklen_t length = sizeof at;
  getsockname(fd, reinterpret_cast<sockaddr *>(&at), &length);
  close(fd);
  return ntohs(at.sin_port);
}

// True when the UDP port on loopback can be bound, i.e. nobody listens there.
bool portIsFree(uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool free = bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
  close(fd);
  return free;
}

void sendDatagram(uint16_t port, const std::string &bytes) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&at), sizeof at);
  close(fd);
}

// Two filers named by address, so that traps can name them: "trap-a" at
// 192.0.2.31 (its traps are version 1 with that agent address) and "trap-b" at
// 127.0.0.1 (its traps are version 2c, known by their sender); "trap-c" is
// known by a name that resolves to 127.0.0.1.
json scenario() {
  auto filer = [](const char *name, const char *host, const char *id) {
    return json{{"name", name},
                {"host", host},
                {"credentials", {{"user", "root"}, {"password", "secret"}}},
                {"identity", {{"systemId", id}, {"systemName", name}}},
                {"takeover", {{"enabled", true}, {"state", "CONNECTED"}}},
                {"health", "ok"},
                {"interfaces", json::array({{{"name", "e0a"}, {"ipv4", {"10.0.0.5"}}},
                                            {{"name", "lo"}, {"ipv4", {"127.0.0.1"}}},
                                            {{"name", "e0b"}, {"ipv4", {"192.168.3.4"}}}})},
                {"fcp", {{"enabled", true}, {"nodeName", "12:34:56:78:9a:bc:de:01"}}}};
  };
  return json{{"filers", json::array({filer("trap-a", "192.0.2.31", "0101"),
                                      filer("trap-b", "127.0.0.1", "0202"),
                                      filer("trap-c", "localhost", "0303")})}};
}

class StorageSystemTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    static const uint16_t port = freeUdpPort();
    trapPort = port;
    setenv("KELVA_TRAP_LISTEN", ("udp:127.0.0.1:" + std::to_string(port)).c_str(), 1);
    unsetenv("KELVA_TRAP_REFUSE");
    pk::testing::resetStorageSystemHealth(broker);
    sim = std::make_unique<filersim::Simulator>(scenario());
    sim->registerInProcess();
    for (int i = 0; i < 3; ++i) {
      const char *name = i == 0 ? "trap-a" : i == 1 ? "trap-b" : "trap-c";
      Reach &r = reach[i];
      r.systemId = sim->systemId(name);
      r.host = sim->host(name);
      r.user = sim->userName(name);
      r.password = sim->password(name);
      r.filer = Filer{r.systemId.data(),
                      r.host.data(),
                      r.user.data(),
                      r.password.data(),
                      WSI_TRANSPORT_HTTP,
                      0,
                      5};
    }
  }
  void TearDown() override {
    wsiTestClockRelease();  // a failed wait test may leave the manual clock on
    pk::testing::resetStorageSystemHealth(broker);
    pk::testing::useDnsServer("", 0);
    for (Reach &r : reach) forget(&r.filer);
    sim.reset();
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }
  static void forget(const Filer *filer) {
    KELVAStatus record = KELVA_STATUS_INIT;
    FilerCache_deleteEntry(filer, &record);  // the cache is process-wide
    clearKELVAStatus(&record);
  }

  std::string message() {
    std::string text = takeMessage(status);
    status.rc = CMPI_RC_OK;
    return text;
  }
  std::vector<std::string> logsAt(int severity) const {
    std::vector<std::string> out;
    for (const auto &log : om->logs())
      if (log.severity == severity) out.push_back(log.text);
    return out;
  }

  struct SystemFree {
    void operator()(KELVAStorageSystem *s) const { freeKELVAStorageSystem(s); }
  };
  using System = std::unique_ptr<KELVAStorageSystem, SystemFree>;
  System get(const Filer *filer, int skip = 0, int wait = 0, int require = 0) {
    return System(getKELVAStorageSystem(broker, &status, filer, skip, wait, require));
  }
  // The health of the filer's snapshot, asked until it is `want` or a few
  // seconds have passed (a trap takes its way through the listener's thread).
  uint16_t healthBecomes(const Filer *filer, uint16_t want) {
    uint16_t seen = 0;
    for (int i = 0; i < 100; ++i) {
      System s = get(filer);
      seen = s ? s->healthState : 0;
      if (seen == want) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }
  void trapV1(int number, const char *agent = "192.0.2.31",
              const char *enterprise = ".1.3.6.1.3.9999") {
    run("-v 1 -c public 127.0.0.1:" + std::to_string(trapPort) + " " + enterprise + " " + agent +
        " 6 " + std::to_string(number) + " ''");
  }
  void trapV2(const std::string &trapOid) {
    run("-v 2c -c public 127.0.0.1:" + std::to_string(trapPort) + " '' " + trapOid);
  }
  static void run(const std::string &arguments) {
    std::string command = "snmptrap " + arguments + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  const Filer *a() { return &reach[0].filer; }
  const Filer *b() { return &reach[1].filer; }
  const Filer *c() { return &reach[2].filer; }

  struct Reach {
    std::string systemId, host, user, password;
    Filer filer{};
  } reach[3];
  std::unique_ptr<filersim::Simulator> sim;
  uint16_t trapPort = 0;
  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_P(StorageSystemTest, OperationalStatusFollowsTakeoverAndOffline) {
  struct Case {
    json state;
    uint16_t want;
  } cases[] = {
      {"CONNECTED", 2},        {"TAKEOVER", 3}, {"takeover started", 3}, {"TAKEOVER SCHEDULED", 3},
      {"GIVEBACK STARTED", 3}, {"ERROR", 6},    {"SOMETHING NEW", 2},    {nullptr, 2}};
  for (const Case &c : cases) {
    sim->mutate("trap-a", [&](json &f) { f["takeover"]["state"] = c.state; });
    System s = get(a());
    ASSERT_TRUE(s) << c.state;
    EXPECT_EQ(s->operationalStatus, c.want) << c.state;
    EXPECT_EQ(s->sysInfo->online, 1);
    EXPECT_STREQ(s->sysInfo->systemId, "0101");
  }
  // Off-line wins over any takeover state, and needs no takeover answer.
  sim->mutate("trap-a", [](json &f) { f["takeover"]["state"] = "ERROR"; });
  sim->setOnline("trap-a", false);
  System off = get(a());
  ASSERT_TRUE(off);
  EXPECT_EQ(off->operationalStatus, 12);
  EXPECT_EQ(off->sysInfo->online, 0);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(off->healthState, 5);  // the filer cache still holds the last answer

  // Required on line: no record, the trace, and a good status.
  om->clearRecords();
  EXPECT_FALSE(get(a(), 0, 0, 1));
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto traces = om->traces();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].level, 1);
  EXPECT_EQ(traces[0].text, "Storage System 192.0.2.31 is off-line.");
}

TEST_P(StorageSystemTest, FailuresOfTheFilerAnswers) {
  // The takeover state cannot be read: logged, no record, the status stays good.
  sim->setFault("trap-a", "cf-status", filersim::Fault::fail(13001, "cf is broken"));
  EXPECT_FALSE(get(a()));
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto errors = logsAt(1);
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors.back().find("cf is broken"), std::string::npos) << errors.back();
  EXPECT_FALSE(get(a(), 1));  // the late computation fails the same way
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  sim->clearFaults();

  // The system information cannot be read: the controller's reason.
  sim->setFault("trap-a", "system-get-info", filersim::Fault::fail(13001, "no info"));
  EXPECT_FALSE(get(a()));
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message().find("no info"), std::string::npos);
  sim->clearFaults();

  // The filer cache cannot be read: a record with health 0 and the reason.
  sim->setFault("trap-a", "diagnosis-status-get", filersim::Fault::fail(13001, "no health"));
  System s = get(a());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->healthState, 0);
  EXPECT_EQ(s->operationalStatus, 2);
  EXPECT_NE(message().find("no health"), std::string::npos);
}

// Every allocation of the request failing in turn: nothing leaks, and the
// record's own says so.
TEST_P(StorageSystemTest, OutOfMemoryAtEveryStep) {
  System warm = get(a());
  ASSERT_TRUE(warm);
  warm.reset();
  wsiTestFailAllocation(0);
  System counted = get(a());
  unsigned long long count = wsiTestAllocationCount();
  counted.reset();
  bool sawRecord = false;
  for (unsigned long long nth = 1; nth <= count; ++nth) {
    {
      pktest::FailingAllocation oom(nth);
      System s = get(a());
    }
    std::string text = message();
    if (text == "Unable to allocate KELVAStorageSystem.") sawRecord = true;
  }
  EXPECT_TRUE(sawRecord);
}

TEST_P(StorageSystemTest, HealthFollowsTrapsAndTheFilerCache) {
  sim->mutate("trap-a", [](json &f) { f["health"] = "critical"; });
  EXPECT_EQ(get(a())->healthState, 25);  // no trap yet: the filer cache
  ASSERT_FALSE(portIsFree(trapPort));    // the listener is up

  trapV1(116);  // OK: the filer cache still speaks
  trapV1(111);
  EXPECT_EQ(healthBecomes(a(), 30), 30);
  trapV1(115);
  EXPECT_EQ(healthBecomes(a(), 15), 15);
  trapV1(116);
  EXPECT_EQ(healthBecomes(a(), 25), 25);
  // Without the early check no lookup is made: the filer cache.
  trapV1(113);
  EXPECT_EQ(healthBecomes(a(), 25), 25);
  EXPECT_EQ(get(a(), 1)->healthState, 25);

  // Version 2c, known by the sender's address, also for a filer whose host
  // name resolves to it.
  EXPECT_EQ(get(c())->healthState, 5);
  trapV2(".1.3.6.1.3.9999.0.113");
  EXPECT_EQ(healthBecomes(b(), 25), 25);
  EXPECT_EQ(get(c())->healthState, 25);
  EXPECT_EQ(healthBecomes(a(), 25), 25);

  // What the listener drops leaves the health as it was; it keeps listening.
  trapV1(111, "192.0.2.31", ".1.3.6.1.4.1.99999");             // another enterprise
  trapV1(112);                                                 // a number no one subscribed to
  trapV2(".1.3.6.1.3.9999.1.111");                             // not enterprise.0.N
  sendDatagram(trapPort, std::string("\x30\x03\x02\x01", 4));  // no SNMP message
  trapV2(".1.3.6.1.3.9999.0.115");
  EXPECT_EQ(healthBecomes(b(), 15), 15);
  EXPECT_EQ(get(a())->healthState, 25);
  std::vector<std::string> warnings = logsAt(3);
  auto count = [&](const char *part) {
    int n = 0;
    for (const std::string &w : warnings) n += w.find(part) != std::string::npos ? 1 : 0;
    return n;
  };
  EXPECT_EQ(count("no trap of a filer"), 2);
  EXPECT_EQ(count("Trap #112"), 1);
  EXPECT_EQ(count("malformed"), 1);

  // Unloaded: traps no longer count, the socket and the library are gone.
  unloadKELVAStorageSystemTraps(broker);
  EXPECT_TRUE(portIsFree(trapPort));
  EXPECT_FALSE(pktest::isMapped("libtrapsinkprv.so"));
  EXPECT_EQ(get(a())->healthState, 25);
  EXPECT_EQ(get(b())->healthState, 5);
  EXPECT_TRUE(portIsFree(trapPort));  // never subscribed again
}

TEST_P(StorageSystemTest, AFailedSubscriptionIsDroppedAndTriedAgain) {
  setenv("KELVA_TRAP_REFUSE", "115", 1);
  System s = get(a());
  ASSERT_TRUE(s);  // the record is built all the same
  EXPECT_EQ(s->healthState, 5);
  auto errors = logsAt(1);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Failed to subscribe to trap #115!");
  EXPECT_TRUE(portIsFree(trapPort));  // the first two went with the library
  EXPECT_FALSE(pktest::isMapped("libtrapsinkprv.so"));

  unsetenv("KELVA_TRAP_REFUSE");
  s = get(a());
  ASSERT_TRUE(s);
  EXPECT_FALSE(portIsFree(trapPort));
  trapV1(111);
  EXPECT_EQ(healthBecomes(a(), 30), 30);
}

// The wait for a filer to come back runs on the test clock: a request every
// ten seconds for as long as 180 seconds have not passed.
TEST_P(StorageSystemTest, WaitsForAnOfflineFilerInTenSecondSteps) {
  sim->setOnline("trap-a", false);
  wsiTestClockSet(1000000);
  // Steps the clock whenever the request sleeps, until it returns; the
  // number of sleeps is what the request waited.
  auto waitedSteps = [&](const std::function<void(int)> &atStep, System *out) {
    std::atomic<bool> finished{false};
    std::thread request([&] {
      *out = get(a(), 0, 1, 1);
      finished = true;
    });
    int steps = 0;
    while (!finished) {
      if (wsiTestClockWaiters() == 0) {
        std::this_thread::yield();
        continue;
      }
      atStep(++steps);
      wsiTestClockAdvance(10);
    }
    request.join();
    return steps;
  };
  System s;
  // Never back: sleeps at 0, 10, ... 180 seconds, then gives up.
  EXPECT_EQ(waitedSteps([](int) {}, &s), 19);
  EXPECT_FALSE(s);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto traces = om->traces();
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.back().text, "Storage System 192.0.2.31 is off-line.");
  // Back during the third sleep: the record of an on-line filer.
  EXPECT_EQ(waitedSteps(
                [&](int step) {
                  if (step == 3) sim->setOnline("trap-a", true);
                },
                &s),
            3);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->operationalStatus, 2);
  wsiTestClockRelease();
}

// Without memory for the health list nothing is subscribed: the record is
// built with the filer cache's health, and the next request tries again.
TEST_P(StorageSystemTest, NoHealthListMeansNoSubscription) {
  sim->mutate("trap-a", [](json &f) { f["health"] = "degraded"; });
  System s;
  {
    pktest::FailingAllocation oom(1);  // the health list is the first thing made
    s = get(a());
  }
  ASSERT_TRUE(s);
  EXPECT_EQ(s->healthState, 15);
  EXPECT_EQ(logsAt(1), std::vector<std::string>{"Unable to allocate Health status list!!"});
  EXPECT_TRUE(portIsFree(trapPort));
  s = get(a());
  EXPECT_FALSE(portIsFree(trapPort));
  trapV1(111);
  EXPECT_EQ(healthBecomes(a(), 30), 30);
}

CIMOM_INSTANTIATE(StorageSystemTest);

// ---- Identifying information ----------------------------------------------------------

class IdentifyingInfoTest : public StorageSystemTest {
 protected:
  void SetUp() override {
    StorageSystemTest::SetUp();
    op = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageSystem", nullptr);
    instance = CMNewInstance(broker, op, nullptr);
  }
  void TearDown() override {
    if (instance != nullptr) CMRelease(instance);
    if (op != nullptr) CMRelease(op);
    StorageSystemTest::TearDown();
  }
  // The string array property as texts; "<null>" for a null array.
  std::vector<std::string> strings(const char *name) {
    CMPIData data = CMGetProperty(instance, name, nullptr);
    if ((data.state & CMPI_nullValue) != 0 || data.value.array == nullptr) return {"<null>"};
    std::vector<std::string> out;
    for (CMPICount i = 0; i < CMGetArrayCount(data.value.array, nullptr); ++i) {
      CMPIData e = CMGetArrayElementAt(data.value.array, i, nullptr);
      out.push_back(pktest::text(e.value.string));
    }
    return out;
  }
  bool isSet(const char *name) {
    CMPIStatus rc{CMPI_RC_OK, nullptr};
    CMGetProperty(instance, name, &rc);
    return rc.rc == CMPI_RC_OK;
  }

  CMPIObjectPath *op = nullptr;
  CMPIInstance *instance = nullptr;
};

TEST_P(IdentifyingInfoTest, AddressesDomainNameAndNodeNameInOrder) {
  pktest::DnsResponder dns(
      std::map<std::string, std::string>{{"5.0.0.10.in-addr.arpa", "filer-a.example.com"}});
  pk::testing::useDnsServer("127.0.0.1", dns.port());
  setOtherIdentifyingInfo(broker, a(), instance, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(strings("OtherIdentifyingInfo"),
            (std::vector<std::string>{"10.0.0.5", "192.168.3.4", "filer-a.example.com",
                                      "123456789ABCDE01"}));
  EXPECT_EQ(strings("IdentifyingDescriptions"),
            (std::vector<std::string>{"IPV4 Address", "IPV4 Address", "Fully Qualified Domain Name",
                                      "Node WWN"}));
  EXPECT_EQ(dns.questions(), std::vector<std::string>{"5.0.0.10.in-addr.arpa"});

  // A second loopback address stays; no PTR record and no Fibre Channel give
  // "Unknown".
  pktest::DnsResponder empty(std::map<std::string, std::string>{});
  pk::testing::useDnsServer("127.0.0.1", empty.port());
  sim->mutate("trap-b", [](json &f) {
    f["snmp"][".1.3.6.1.2.1.4.20.1.1.200.0.0.1"] = "127.0.0.1";
    f["fcp"]["enabled"] = false;
  });
  setOtherIdentifyingInfo(broker, b(), instance, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(
      strings("OtherIdentifyingInfo"),
      (std::vector<std::string>{"10.0.0.5", "192.168.3.4", "127.0.0.1", "Unknown", "Unknown"}));
  EXPECT_EQ(strings("IdentifyingDescriptions"),
            (std::vector<std::string>{"IPV4 Address", "IPV4 Address", "IPV4 Address",
                                      "Fully Qualified Domain Name", "Node WWN"}));
  EXPECT_EQ(empty.questions(), std::vector<std::string>{"5.0.0.10.in-addr.arpa"});
}

TEST_P(IdentifyingInfoTest, FailuresLeaveWhatTheyShould) {
  pktest::DnsResponder dns(std::map<std::string, std::string>{});
  pk::testing::useDnsServer("127.0.0.1", dns.port());
  // The walk fails: an empty list, no descriptions, a warning, a good status.
  sim->setFault("trap-a", "snmp-get-next", filersim::Fault::fail(13001, "snmp is down"));
  setOtherIdentifyingInfo(broker, a(), instance, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(strings("OtherIdentifyingInfo"), std::vector<std::string>{});
  EXPECT_EQ(strings("IdentifyingDescriptions"), std::vector<std::string>{"<null>"});
  auto warnings = logsAt(3);
  ASSERT_FALSE(warnings.empty());
  EXPECT_NE(warnings.back().find("snmp is down"), std::string::npos);
  sim->clearFaults();

  // The system information fails: raised, nothing set.
  CMPIInstance *fresh = CMNewInstance(broker, op, nullptr);
  sim->setFault("trap-a", "system-get-info", filersim::Fault::fail(13001, "no info"));
  setOtherIdentifyingInfo(broker, a(), fresh, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message().find("no info"), std::string::npos);
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  CMGetProperty(fresh, "OtherIdentifyingInfo", &rc);
  EXPECT_NE(rc.rc, CMPI_RC_OK);
  sim->clearFaults();

  // The instance refuses the property: its status comes back.
  om->inject({"Instance.setProperty", 1, CMPI_RC_ERR_INVALID_PARAMETER});
  setOtherIdentifyingInfo(broker, a(), fresh, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  message();
  CMRelease(fresh);

  // The node name request is refused by the filer: "Unknown", no error.
  om->clearFaults();
  sim->setFault("trap-a", "fcp-node-get-name", filersim::Fault::fail(13001, "later"));
  WSIList *list = getOtherIdentifyingInfo(broker, a(), &status);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  std::vector<std::string> texts;
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p))
    texts.emplace_back(static_cast<const char *>(WSIList_getElement(p)));
  WSIList_free(list, wsifree);
  EXPECT_EQ(texts, (std::vector<std::string>{"10.0.0.5", "192.168.3.4", "Unknown", "Unknown"}));

  // No connection for the node name: raised, an empty list.
  Filer nowhere{};
  EXPECT_EQ(getNodeWWN(broker, &nowhere, &status), nullptr);
  EXPECT_EQ(message(), "getNodeWWN - Could not create the server context.");
}

TEST_P(IdentifyingInfoTest, Dedicated) {
  setDedicated(broker, instance, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  CMPIData data = CMGetProperty(instance, "Dedicated", nullptr);
  ASSERT_EQ(data.type, CMPI_uint16A);
  std::vector<int> values;
  for (CMPICount i = 0; i < CMGetArrayCount(data.value.array, nullptr); ++i)
    values.push_back(CMGetArrayElementAt(data.value.array, i, nullptr).value.uint16);
  EXPECT_EQ(values, (std::vector<int>{3, 15, 16, 21, 25}));

  CMPIInstance *fresh = CMNewInstance(broker, op, nullptr);
  om->inject({"Array.setElementAt", 3, CMPI_RC_ERR_FAILED});
  setDedicated(broker, fresh, &status);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message();
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  CMGetProperty(fresh, "Dedicated", &rc);
  EXPECT_NE(rc.rc, CMPI_RC_OK);
  CMRelease(fresh);
}

CIMOM_INSTANTIATE(IdentifyingInfoTest);

}  // namespace
