// The indication machine through the embedded object manager, polling the
// simulated filers with the storage volume element library, on the shared
// test clock: the polling thread sleeps its 60-second steps as it does in the
// field, and the tests advance the clock once it sleeps.  Also the shared
// clock itself and the simulator's LUN life-cycle requests.
#include <cimom/testing.h>
#include <provkit/frame.h>
#include <provkit/indications.h>
#include <provkit/registry.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>
#include <wbemkelvai/wsitesting.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "filersim/filersim.h"
#include "ops_support.h"
#include "provkit/indications_hooks.h"

namespace {

using namespace std::chrono_literals;

constexpr int64_t kStart = 1800000000;
constexpr const char *kVolumeLib = "libstoragevolind.so";

// Waits (in real time, bounded) until the condition holds.
bool eventually(const std::function<bool()> &condition) {
  for (int i = 0; i < 20000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

bool sleeping() {
  return eventually([] { return wsiTestClockWaiters() >= 1; });
}

// The text of the embedded instance held by property name of an indication's text.
std::string embedded(const std::string &text, const std::string &name) {
  size_t at = text.find(name + " = instance of ");
  if (at == std::string::npos) return "";
  size_t open = text.find('{', at);
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') ++depth;
    if (text[i] == '}' && --depth == 0) return text.substr(at, i + 1 - at);
  }
  return "";
}

struct Outcome {
  CMPIrc rc;
  std::string text;
};

class IndicationsTest : public opstest::OpsTest {
 protected:
  void SetUp() override {
    OpsTest::SetUp();
    sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    sim->registerInProcess();
    wsiTestClockSet(kStart);
    machine.implLibrary = kVolumeLib;
    machine.supportedTypes = PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY | PK_IND_READ;
    machine.enabled = 1;
    CMPIStatus started = startIndMachine(broker, &machine);
    ASSERT_EQ(started.rc, CMPI_RC_OK);
  }
  void TearDown() override {
    if (machine.mutex != nullptr) stop();
    wsiTestClockRelease();
    for (Filer *filer : filers) {
      KELVAStatus record = KELVA_STATUS_INIT;
      FilerCache_deleteEntry(filer, &record);  // the cache is process-wide
      clearKELVAStatus(&record);
      freeFiler(filer);
    }
    sim.reset();
    OpsTest::TearDown();
  }

  // Registers the simulated filer (in process).
  void addSimFiler(const std::string &name) {
    Filer *filer = static_cast<Filer *>(wsicalloc(1, sizeof(Filer)));
    filer->systemId = wsistrdup(sim->systemId(name).c_str());
    filer->host = wsistrdup(sim->host(name).c_str());
    filer->userName = wsistrdup(sim->userName(name).c_str());
    filer->password = wsistrdup(sim->password(name).c_str());
    filer->connParam1 = WSI_TRANSPORT_HTTP;
    filer->connParam2 = 0;
    filer->connParam3 = 5;
    filers.push_back(static_cast<Filer *>(copyFiler(filer)));
    names.push_back(name);
    ASSERT_EQ(regtest::add(filer), CMPI_RC_OK);
  }
  void removeSimFiler(const std::string &name) {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    removeFilerFromList(broker, &status, filers[index(name)]);
    EXPECT_EQ(status.rc, CMPI_RC_OK);
  }
  size_t index(const std::string &name) const {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return i;
    return 0;
  }

  // Sends a request to the simulated filer through the controller library:
  // 0 when it passed, else the filer's error number.
  int send(const std::string &name, const char *api,
           const std::vector<std::pair<const char *, std::string>> &params) {
    const std::string host = sim->host(name), user = sim->userName(name),
                      password = sim->password(name);
    WSIServerInfo *server =
        createServerInfo(host.c_str(), user.c_str(), password.c_str(), 5, WSI_TRANSPORT_HTTP, 0);
    WSIElement *request = createElement(api);
    for (const auto &[key, value] : params) addStringElement(request, key, value.c_str());
    WSIElement *answer = invokeServerElement(server, request);
    int number = checkResultStatus(answer) == 1 ? 0 : getResultErrorNum(answer);
    freeElement(answer);
    freeElement(request);
    destroyServerInfo(server);
    return number;
  }

  Outcome call(const std::function<void(CMPIObjectPath *, CMPIStatus *)> &operation,
               const char *className, const char *nameSpace) {
    CMPIObjectPath *path = CMNewObjectPath(broker, nameSpace, className, nullptr);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    operation(path, &status);
    CMRelease(path);
    return {status.rc, message(status)};
  }
  Outcome activate(const char *className, const char *nameSpace = "root/kelva") {
    return call(
        [&](CMPIObjectPath *path, CMPIStatus *status) {
          wsiactivate(broker, ctx, nullptr, className, path, 1, &machine, status);
        },
        className, nameSpace);
  }
  Outcome deactivate(const char *className, const char *nameSpace = "root/kelva") {
    return call(
        [&](CMPIObjectPath *path, CMPIStatus *status) {
          wsideactivate(broker, ctx, nullptr, className, path, 1, &machine, status);
        },
        className, nameSpace);
  }
  Outcome authorize(const char *className, const char *query,
                    const char *nameSpace = "root/kelva") {
    CMPISelectExp *filter = CMNewSelectExp(broker, query, "WQL", nullptr, nullptr);
    Outcome outcome = call(
        [&](CMPIObjectPath *path, CMPIStatus *status) {
          wsiauthorize(broker, ctx, filter, className, path, &machine, status);
        },
        className, nameSpace);
    if (filter != nullptr) CMRelease(filter);
    return outcome;
  }
  void subscribeAll() {
    for (const char *name : {"CIM_InstCreation", "CIM_InstDeletion", "CIM_InstModification"})
      ASSERT_EQ(activate(name).rc, CMPI_RC_OK) << name;
  }

  // Machine fields, read under its lock as the polling thread writes them.
  template <typename F>
  auto locked(F read) {
    broker->xft->lockMutex(machine.mutex);
    auto value = read();
    broker->xft->unlockMutex(machine.mutex);
    return value;
  }
  bool running() {
    return locked([&] { return machine.thread != nullptr; });
  }
  std::vector<int> counts() {
    return locked([&] {
      return std::vector<int>{machine.createCount, machine.deleteCount, machine.modifyCount,
                              machine.readCount};
    });
  }

  // One 60-second step of the polling thread: advance once it sleeps, and wait
  // until it sleeps again (all it had to do in between is done).
  void cycle() {
    ASSERT_TRUE(sleeping());
    wsiTestClockAdvance(60);
    ASSERT_TRUE(sleeping());
  }
  // Advances the clock until the polling thread has ended.
  void drain() {
    ASSERT_TRUE(eventually([&] {
      if (!running()) return true;
      if (wsiTestClockWaiters() > 0) wsiTestClockAdvance(60);
      return false;
    }));
  }
  // stopIndMachine, with the clock advanced until it returns.
  void stop() {
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      CMPIStatus status = stopIndMachine(broker, &machine);
      EXPECT_EQ(status.rc, CMPI_RC_OK);
      done = true;
    });
    EXPECT_TRUE(eventually([&] {
      if (done) return true;
      if (wsiTestClockWaiters() > 0) wsiTestClockAdvance(60);
      return false;
    }));
    stopper.join();
  }

  std::vector<std::string> classesDelivered() const {
    std::vector<std::string> classes;
    for (const auto &indication : om->indications()) classes.push_back(indication.className);
    return classes;
  }
  std::vector<std::string> traceTexts() const {
    std::vector<std::string> texts;
    for (const auto &trace : om->traces()) texts.push_back(trace.text);
    return texts;
  }
  bool traced(const std::string &part) const {
    for (const auto &text : traceTexts())
      if (text.find(part) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<filersim::Simulator> sim;
  std::vector<Filer *> filers;  // copies of the registered records
  std::vector<std::string> names;
  IndMachine machine{};
};

// With kelva-a registered.
class IndicationsPollTest : public IndicationsTest {
 protected:
  void SetUp() override {
    IndicationsTest::SetUp();
    if (HasFatalFailure()) return;
    addSimFiler("kelva-a");
  }
};

// ---- Subscriptions and the thread's life ---------------------------------------

TEST_P(IndicationsPollTest, SubscriptionsCountAndTheLastOneEndsTheThread) {
  ASSERT_EQ(activate("CIM_InstCreation").rc, CMPI_RC_OK);
  void *thread = locked([&] { return machine.thread; });
  ASSERT_NE(thread, nullptr);
  // A second filter of the same class only counts.
  ASSERT_EQ(activate("CIM_InstCreation").rc, CMPI_RC_OK);
  EXPECT_EQ(locked([&] { return machine.thread; }), thread);
  EXPECT_EQ(counts(), (std::vector<int>{2, 0, 0, 0}));
  EXPECT_EQ(om->callCount("BrokerExt.newThread"), 1u);
  cycle();
  EXPECT_TRUE(traced("Starting polling thread"));

  EXPECT_EQ(deactivate("CIM_InstCreation").rc, CMPI_RC_OK);
  cycle();
  EXPECT_TRUE(running());
  EXPECT_EQ(deactivate("CIM_InstCreation").rc, CMPI_RC_OK);
  EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 0}));
  drain();
  EXPECT_TRUE(traced("Stopping Polling Thread"));
  EXPECT_EQ(locked([&] { return machine.classPath; }), nullptr);

  // Idle again: the next activation starts a new thread.
  ASSERT_EQ(activate("CIM_InstDeletion").rc, CMPI_RC_OK);
  EXPECT_TRUE(running());
  EXPECT_EQ(om->callCount("BrokerExt.newThread"), 2u);
}

TEST_P(IndicationsPollTest, AnotherNamespaceWaitsUntilTheThreadHasStopped) {
  ASSERT_EQ(activate("CIM_InstCreation").rc, CMPI_RC_OK);
  Outcome refused = activate("CIM_InstCreation", "root/other");
  EXPECT_EQ(refused.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(refused.text, "Indications can only be enabled in one namespace at a time");
  EXPECT_EQ(authorize("CIM_InstCreation", "SELECT * FROM CIM_InstCreation", "root/other").rc,
            CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(deactivate("CIM_InstCreation", "root/other").rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(counts(), (std::vector<int>{1, 0, 0, 0}));

  EXPECT_EQ(deactivate("CIM_InstCreation").rc, CMPI_RC_OK);
  drain();
  EXPECT_EQ(activate("CIM_InstCreation", "root/other").rc, CMPI_RC_OK);
  EXPECT_TRUE(running());
}

TEST_P(IndicationsPollTest, ClassesAndQueriesAreCheckedAgainstWhatTheProviderOffers) {
  Outcome all = activate("CIM_InstIndication");
  EXPECT_EQ(all.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(all.text, "Indication class not supported");
  EXPECT_EQ(activate("KELVA_StorageVolume").text, "Indication class not supported");
  EXPECT_FALSE(running());

  locked([&] { return machine.supportedTypes = PK_IND_CREATE; });
  const std::pair<const char *, const char *> refusals[] = {
      {"CIM_InstDeletion", "Delete instance indications not supported"},
      {"CIM_InstModification", "Modify instance Indications not supported"},
      {"CIM_InstRead", "Read Indications not supported"}};
  for (const auto &[className, text] : refusals) {
    Outcome refused = authorize(className, "SELECT * FROM x");
    EXPECT_EQ(refused.rc, CMPI_RC_ERR_NOT_SUPPORTED);
    EXPECT_EQ(refused.text, text);
    EXPECT_EQ(activate(className).text, text);
  }
  EXPECT_FALSE(running());
  EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 0}));

  // Only the listed queries pass; no list passes everything.
  const char *queries[] = {
      "SELECT * FROM CIM_InstCreation WHERE SourceInstance ISA "
      "KELVA_StorageVolume",
      nullptr};
  locked([&] { return machine.supportedQueries = queries; });
  EXPECT_EQ(authorize("CIM_InstCreation", queries[0]).rc, CMPI_RC_OK);
  Outcome other = authorize("CIM_InstCreation", "SELECT * FROM CIM_InstCreation");
  EXPECT_EQ(other.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(other.text, "Query not supported");
  om->inject({"SelectExp.getString"});
  EXPECT_EQ(authorize("CIM_InstCreation", queries[0]).text, "Query not supported");
  locked([&] { return machine.supportedQueries = nullptr; });
  EXPECT_EQ(authorize("CIM_InstCreation", "anything").rc, CMPI_RC_OK);
}

TEST_P(IndicationsPollTest, AFailedActivationLeavesNothingBehind) {
  machine.implLibrary = "libnosuchind.so";
  Outcome missing = activate("CIM_InstCreation");
  EXPECT_EQ(missing.rc, CMPI_RC_ERR_FAILED);
  EXPECT_FALSE(missing.text.empty());
  machine.implLibrary = kVolumeLib;

  const std::pair<const char *, const char *> faults[] = {
      {"Broker.prepareAttachThread", "Failed to prepare polling thread"},
      {"BrokerExt.newThread", "Failed to create Polling thread"},
      {"ObjectPath.clone", nullptr}};
  for (const auto &[fault, text] : faults) {
    om->inject({fault});
    Outcome refused = activate("CIM_InstCreation");
    EXPECT_EQ(refused.rc, CMPI_RC_ERR_FAILED) << fault;
    if (text != nullptr) {
      EXPECT_EQ(refused.text, text);
    }
  }
  EXPECT_FALSE(running());
  EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(locked([&] { return machine.classPath; }), nullptr);
  // The object manager's teardown finds no prepared context or clone left over.
}

TEST_P(IndicationsPollTest, AThreadThatCannotAttachEndsAndLeavesTheMachineIdle) {
  om->inject({"Broker.attachThread"});
  ASSERT_EQ(activate("CIM_InstCreation").rc, CMPI_RC_OK);
  ASSERT_TRUE(sleeping());
  wsiTestClockAdvance(60);
  ASSERT_TRUE(eventually([&] { return !running(); }));
  EXPECT_EQ(logTexts(1), std::vector<std::string>{"Attach thread failed"});
  EXPECT_EQ(counts(), (std::vector<int>{1, 0, 0, 0}));
  // Its path stays until another thread replaces it or the machine stops.
  EXPECT_NE(locked([&] { return machine.classPath; }), nullptr);
  ASSERT_EQ(activate("CIM_InstCreation").rc, CMPI_RC_OK);
  cycle();
  EXPECT_TRUE(running());
}

TEST_P(IndicationsTest, TheMachineNeedsItsLock) {
  stop();
  EXPECT_EQ(machine.mutex, nullptr);
  // Without its lock the machine says so and goes on.
  wsienable(broker, &machine);
  EXPECT_EQ(logTexts(1), std::vector<std::string>(2, "Indication machine is not set!"));
  om->inject({"BrokerExt.newMutex"});
  CMPIStatus status = startIndMachine(broker, &machine);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(message(status), "Failed to create provider indication mutex");
  ASSERT_EQ(startIndMachine(broker, &machine).rc, CMPI_RC_OK);

  CMPIObjectPath *path = CMNewObjectPath(broker, "root/kelva", "CIM_InstCreation", nullptr);
  CMPIObjectPath *place = nullptr;
  CMPIStatus cloned{CMPI_RC_OK, nullptr};
  cloneNamespace(broker, path, &place, &machine, &cloned);
  ASSERT_NE(place, nullptr);
  CMPIObjectPath *first = place;
  cloneNamespace(broker, path, &place, &machine, &cloned);
  EXPECT_EQ(place, first);  // a filled place stays as it is
  CMRelease(place);
  CMRelease(path);
}

// ---- Polls and what they deliver ------------------------------------------------

TEST_P(IndicationsPollTest, LunChangesBetweenPollsAreDeliveredWithBothInstances) {
  subscribeAll();
  cycle();  // the first snapshot only sets the base
  cycle();
  EXPECT_TRUE(om->indications().empty());

  ASSERT_EQ(
      send(
          "kelva-a", "lun-create",
          {{"path", "/vol/volB/fresh"}, {"size", "1073741824"}, {"serial-number", "NEWlun000001"}}),
      0);
  ASSERT_EQ(send("kelva-a", "lun-resize", {{"path", "/vol/volA/q1/lun3"}, {"size", "21474836480"}}),
            0);
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}, {"force", "true"}}),
            0);
  cycle();
  auto delivered = om->indications();
  ASSERT_EQ(classesDelivered(), (std::vector<std::string>{"CIM_InstModification",
                                                          "CIM_InstCreation", "CIM_InstDeletion"}));
  for (const auto &indication : delivered) {
    EXPECT_EQ(indication.nameSpace, "root/kelva");
    EXPECT_NE(indication.text.find("IndicationTime = "), std::string::npos);
    EXPECT_NE(indication.text.find("SourceInstanceModelPath = \"root/kelva:KELVA_StorageVolume."),
              std::string::npos)
        << indication.text;
  }
  std::string resized = embedded(delivered[0].text, "SourceInstance");
  std::string before = embedded(delivered[0].text, "PreviousInstance");
  EXPECT_NE(resized.find("ElementName = \"/vol/volA/q1/lun3\""), std::string::npos);
  EXPECT_NE(resized.find("NumberOfBlocks = 41943040;"), std::string::npos) << resized;
  EXPECT_NE(before.find("NumberOfBlocks = 20971520;"), std::string::npos) << before;
  std::string created = embedded(delivered[1].text, "SourceInstance");
  EXPECT_NE(created.find("ElementName = \"/vol/volB/fresh\""), std::string::npos) << created;
  EXPECT_EQ(embedded(delivered[1].text, "PreviousInstance"), "");
  EXPECT_NE(embedded(delivered[2].text, "SourceInstance").find("/vol/volA/lun1clone"),
            std::string::npos);

  // State and mapping are compared too; the next poll against the new base.
  om->clearRecords();
  ASSERT_EQ(send("kelva-a", "lun-offline", {{"path", "/vol/volB/fresh"}}), 0);
  ASSERT_EQ(
      send("kelva-a", "lun-unmap", {{"path", "/vol/volA/lun1"}, {"initiator-group", "ig_win"}}), 0);
  cycle();
  EXPECT_EQ(classesDelivered(),
            (std::vector<std::string>{"CIM_InstModification", "CIM_InstModification"}));
}

TEST_P(IndicationsPollTest, DisabledDeliveryStillAdvancesTheSnapshots) {
  subscribeAll();
  wsidisable(broker, &machine);
  cycle();
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}, {"force", "true"}}),
            0);
  cycle();
  wsienable(broker, &machine);
  cycle();
  EXPECT_TRUE(om->indications().empty()) << "the change was polled while disabled";
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/q1/lun3"}, {"force", "true"}}), 0);
  cycle();
  EXPECT_EQ(classesDelivered(), std::vector<std::string>{"CIM_InstDeletion"});
}

TEST_P(IndicationsPollTest, ReadSubscriptionsKeepPollingButDeliverNothing) {
  ASSERT_EQ(activate("CIM_InstRead").rc, CMPI_RC_OK);
  EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 1}));
  cycle();
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}, {"force", "true"}}),
            0);
  int before = sim->requestCount("kelva-a");
  cycle();
  EXPECT_GT(sim->requestCount("kelva-a"), before) << "the thread still polls";
  EXPECT_TRUE(om->indications().empty());
  EXPECT_TRUE(running());
}

TEST_P(IndicationsPollTest, AFilerThatCannotBePolledKeepsThePreviousSnapshot) {
  addSimFiler("kelva-b");
  subscribeAll();
  cycle();
  sim->setFault("kelva-b", "lun-list-info", filersim::Fault::fail(13001, "injected", 1));
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}, {"force", "true"}}),
            0);
  cycle();
  EXPECT_TRUE(om->indications().empty()) << "no indication from a partial snapshot";
  EXPECT_TRUE(traced("KELVA SMI-S Agent Indications Service: failed to poll instances"));
  cycle();
  EXPECT_EQ(classesDelivered(), std::vector<std::string>{"CIM_InstDeletion"});
}

TEST_P(IndicationsPollTest, FilersAddedOrRemovedBetweenPollsBringTheirElementsOrTakeThem) {
  subscribeAll();
  cycle();
  ASSERT_EQ(send("kelva-b", "lun-create", {{"path", "/vol/vol0/b1"}, {"size", "4096"}}), 0);
  addSimFiler("kelva-b");
  cycle();
  ASSERT_EQ(classesDelivered(), std::vector<std::string>{"CIM_InstCreation"});
  EXPECT_NE(om->indications()[0].text.find("SIM000000000"), std::string::npos);

  om->clearRecords();
  removeSimFiler("kelva-a");
  cycle();
  EXPECT_EQ(classesDelivered(), std::vector<std::string>(5, "CIM_InstDeletion"));
}

TEST_P(IndicationsPollTest, APollIntervalSpacesThePolls) {
  locked([&] { return machine.pollInterval = 61; });
  ASSERT_EQ(activate("CIM_InstDeletion").rc, CMPI_RC_OK);
  cycle();  // first poll
  int polled = sim->requestCount("kelva-a");
  cycle();
  cycle();
  EXPECT_EQ(sim->requestCount("kelva-a"), polled);
  cycle();  // 61 seconds take two cycles, then one more
  EXPECT_GT(sim->requestCount("kelva-a"), polled);
}

TEST_P(IndicationsPollTest, AnIndicationThatFailsIsTracedAndTheNextOneGoesOut) {
  subscribeAll();
  cycle();
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}, {"force", "true"}}),
            0);
  ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/q1/lun3"}, {"force", "true"}}), 0);
  const std::pair<const char *, const char *> faults[] = {
      {"Broker.deliverIndication", nullptr},
      {"BrokerEnc.newDateTime", "failed to get indication time"},
      {"Instance.setProperty", "failed to set indication time property"}};
  for (const auto &[fault, text] : faults) {
    om->clearRecords();
    om->inject({fault});
    cycle();
    EXPECT_EQ(om->indications().size(), 1u) << fault;
    if (text != nullptr) {
      EXPECT_TRUE(traced(text)) << fault;
    }
    // Bring the two LUNs back for the next round.
    ASSERT_EQ(
        send(
            "kelva-a", "lun-create",
            {{"path", "/vol/volA/lun1clone"}, {"size", "4096"}, {"serial-number", "C4i/2JZpEk9s"}}),
        0);
    ASSERT_EQ(
        send("kelva-a", "lun-create",
             {{"path", "/vol/volA/q1/lun3"}, {"size", "4096"}, {"serial-number", "C4i/2JZpEk9t"}}),
        0);
    cycle();
    ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/lun1clone"}}), 0);
    ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volA/q1/lun3"}}), 0);
  }
}

// Memory running out at any allocation of a poll: a snapshot that could not be
// taken whole is dropped (never compared), an indication that could not be
// built is lost alone, and nothing leaks (the sanitizer build checks).
TEST_P(IndicationsPollTest, APollThatRunsOutOfMemoryNeverDeliversFromAPartialSnapshot) {
  subscribeAll();
  cycle();
  int kept = 0, lost = 0;
  for (unsigned long long nth = 1; nth <= 60; ++nth) {
    ASSERT_EQ(send("kelva-a", "lun-destroy", {{"path", "/vol/volB/spare"}, {"force", "true"}}),
              nth == 1 ? filersim::kNoSuchLun : 0);
    om->clearRecords();
    ASSERT_TRUE(sleeping());
    wsiTestFailAllocation(nth);
    wsiTestClockAdvance(60);
    ASSERT_TRUE(sleeping());
    wsiTestFailAllocation(0);
    std::vector<std::string> first = classesDelivered();
    cycle();  // a poll that failed is made up for by the next one
    std::vector<std::string> both = classesDelivered();
    if (nth == 1) {
      EXPECT_TRUE(both.empty());
    } else {
      EXPECT_LE(both.size(), 1u) << nth;
      for (const auto &name : both) EXPECT_EQ(name, "CIM_InstDeletion") << nth;
      if (first.empty() && both.size() == 1) ++kept;
      if (both.empty()) ++lost;
    }
    ASSERT_EQ(
        send("kelva-a", "lun-create",
             {{"path", "/vol/volB/spare"}, {"size", "4096"}, {"serial-number", "SPARE0000001"}}),
        0);
    cycle();
  }
  EXPECT_GT(kept, 0) << "some failures hit the snapshot, whose change the next poll delivered";
  (void)lost;
}

// Activation, deactivation, enabling and polls from many threads at once; the
// sanitizer build runs this one.
TEST_P(IndicationsPollTest, ManyThreadsSubscribeWhilePolling) {
  ASSERT_EQ(activate("CIM_InstModification").rc, CMPI_RC_OK);
  std::atomic<bool> done{false};
  std::thread clock([&] {
    while (!done) {
      if (wsiTestClockWaiters() > 0) wsiTestClockAdvance(60);
      std::this_thread::sleep_for(1ms);
    }
  });
  std::vector<std::thread> subscribers;
  const char *classes[] = {"CIM_InstCreation", "CIM_InstDeletion", "CIM_InstRead"};
  for (const char *className : classes) {
    subscribers.emplace_back([&, className] {
      for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(activate(className).rc, CMPI_RC_OK);
        if (i % 3 == 0) wsidisable(broker, &machine);
        if (i % 3 == 1) wsienable(broker, &machine);
        EXPECT_EQ(deactivate(className).rc, CMPI_RC_OK);
      }
    });
  }
  for (std::thread &subscriber : subscribers) subscriber.join();
  EXPECT_EQ(counts(), (std::vector<int>{0, 0, 1, 0}));
  EXPECT_EQ(deactivate("CIM_InstModification").rc, CMPI_RC_OK);
  EXPECT_TRUE(eventually([&] { return !running(); }));
  done = true;
  clock.join();
}

TEST_P(IndicationsPollTest, StoppingTheMachineEndsItsThreadAndForgetsItsLock) {
  subscribeAll();
  cycle();
  stop();
  EXPECT_EQ(machine.thread, nullptr);
  EXPECT_EQ(machine.classPath, nullptr);
  EXPECT_EQ(machine.mutex, nullptr);
  EXPECT_EQ(machine.threadContext, nullptr);
  EXPECT_EQ(machine.indImpl.handle, nullptr);
  EXPECT_TRUE(traced("Stopping Polling Thread"));
  // Started again, it is idle and takes a new subscription in any namespace.
  ASSERT_EQ(startIndMachine(broker, &machine).rc, CMPI_RC_OK);
  EXPECT_EQ(activate("CIM_InstCreation", "root/other").rc, CMPI_RC_OK);
  EXPECT_EQ(counts(), (std::vector<int>{1, 0, 0, 0}));
}

// ---- The comparison of two polls ------------------------------------------------

struct Element {
  std::string key;
  int size;
};

int compareElements(const void *first, const void *second, int keysOnly) {
  const auto *a = static_cast<const Element *>(first);
  const auto *b = static_cast<const Element *>(second);
  return a->key == b->key && (keysOnly != 0 || a->size == b->size) ? 1 : 0;
}

// A snapshot of (filer, elements) entries over elements the test keeps.
struct Snapshot {
  explicit Snapshot(const std::vector<std::pair<std::string, std::vector<Element *>>> &filers)
      : list(WSIList_new()) {
    for (const auto &[id, elements] : filers) {
      auto *entry = new pk::testing::IndSnapshotEntry{
          static_cast<Filer *>(wsicalloc(1, sizeof(Filer))), WSIList_new()};
      entry->filer->systemId = wsistrdup(id.c_str());
      entry->filer->host = wsistrdup((id + ".test").c_str());
      for (Element *element : elements) WSIList_append(entry->elements, element);
      WSIList_append(list, entry);
    }
  }
  ~Snapshot() {
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      auto *entry = static_cast<pk::testing::IndSnapshotEntry *>(WSIList_getElement(p));
      freeFiler(entry->filer);
      WSIList_free(entry->elements, nullptr);
      delete entry;
    }
    WSIList_free(list, nullptr);
  }
  WSIList *list;
};

TEST(IndicationComparison, PartnersAreFoundInAnyOrderAndOnlyOnTheSameFiler) {
  Element a{"a", 1}, b{"b", 1}, c{"c", 1}, d{"d", 1};
  Element a2{"a", 2}, e{"e", 1}, other{"b", 1};
  // kelva-2 moves from the end to the front, kelva-1's elements come reversed;
  // b leaves kelva-1 but a b of the same key appears on kelva-2.
  Snapshot before({{"kelva-1", {&a, &b, &c, &d}}, {"kelva-2", {}}});
  Snapshot after({{"kelva-2", {&other}}, {"kelva-1", {&e, &d, &c, &a2}}});
  WSIIndImpl impl{};
  impl.compareIndElements = compareElements;
  std::vector<std::string> found;
  size_t count = pk::testing::comparePolls(
      impl, before.list, after.list, PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY,
      [&](const char *className, const Filer *filer, const void *element, const void *previous) {
        std::string line = std::string(className) + " " + filer->systemId + " " +
                           static_cast<const Element *>(element)->key;
        if (previous != nullptr)
          line += " was " + std::to_string(static_cast<const Element *>(previous)->size);
        found.push_back(line);
      });
  EXPECT_EQ(found, (std::vector<std::string>{
                       "CIM_InstCreation kelva-2 b", "CIM_InstCreation kelva-1 e",
                       "CIM_InstModification kelva-1 a was 1", "CIM_InstDeletion kelva-1 b"}));
  EXPECT_EQ(count, 4u);
  // Only the types asked for are looked for.
  EXPECT_EQ(pk::testing::comparePolls(impl, before.list, after.list, PK_IND_DELETE, nullptr), 1u);
  EXPECT_EQ(pk::testing::comparePolls(impl, after.list, after.list,
                                      PK_IND_CREATE | PK_IND_DELETE | PK_IND_MODIFY, nullptr),
            0u);
}

// ---- Model paths -----------------------------------------------------------------

TEST(IndicationPaths, AssociationReferencesAreEscaped) {
  const char *path =
      R"(root/kelva:KELVA_SystemDevice.Antecedent="root/kelva:KELVA_StorageSystem.Name="KELVA:f1"",)"
      R"(Dependent="root/kelva:KELVA_StorageVolume.DeviceID="v1",SystemName="KELVA:f1"")";
  char *escaped = escapeAssociationPath(path);
  ASSERT_NE(escaped, nullptr);
  EXPECT_STREQ(
      escaped,
      R"(root/kelva:KELVA_SystemDevice.Antecedent="root/kelva:KELVA_StorageSystem.Name=\"KELVA:f1\"",)"
      R"(Dependent="root/kelva:KELVA_StorageVolume.DeviceID=\"v1\",SystemName=\"KELVA:f1\"")");
  wsifree(escaped);
  EXPECT_EQ(escapeAssociationPath("root/kelva:KELVA_StorageVolume.DeviceID=\"v1\""), nullptr);
  EXPECT_EQ(escapeAssociationPath("x.Antecedent=\"a\""), nullptr);
  // Degenerate texts stay inside the block they get.
  for (const char *odd : {"Antecedent", "AntecedentDependent", "Antecedent=Dependent",
                          "Antecedent=\"\"\"\"\"\",Dependent=\"\"\"\"\"\"\"\"\"\"\"\"\""}) {
    char *out = escapeAssociationPath(odd);
    if (out != nullptr) {
      EXPECT_LT(std::strlen(out), std::strlen(odd) + 128);
    }
    wsifree(out);
  }
}

class IndicationModelPathTest : public cimom::testing::ObjectManagerTest {};

TEST_P(IndicationModelPathTest, PlainPathsAreCopiedAndANullInstanceIsAnError) {
  CMPIObjectPath *path = CMNewObjectPath(broker, "root/kelva", "KELVA_StorageVolume", nullptr);
  CMAddKey(path, "DeviceID", "v1", CMPI_chars);
  CMPIInstance *instance = CMNewInstance(broker, path, nullptr);
  CMPIStatus status{CMPI_RC_OK, nullptr};
  char *text = getSourceInstanceModelPath(broker, instance, &status);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, R"(root/kelva:KELVA_StorageVolume.DeviceID="v1")");
  wsifree(text);
  EXPECT_EQ(getSourceInstanceModelPath(broker, nullptr, &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(takeMessage(status), "KELVA SMI-S Agent Indications Service: Source Instance is NULL");
  // A path that cannot be read is traced and leaves a clean status.
  om->inject({"Instance.getObjectPath"});
  EXPECT_EQ(getSourceInstanceModelPath(broker, instance, &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  ASSERT_FALSE(om->traces().empty());
  EXPECT_EQ(om->traces().back().text.rfind("KELVA SMI-S Agent Indications Service:", 0), 0u);
  CMRelease(instance);
  CMRelease(path);
}

// ---- The shared test clock --------------------------------------------------------

class TestClock : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    wsiTestClockRelease();
    ObjectManagerTest::TearDown();
  }
};

TEST_P(TestClock, EverySleeperOfTheProcessFollowsOneManualClock) {
  wsiTestClockSet(kStart);
  wsi_timeval now{};
  wsi_gettimeofday(&now, nullptr);
  EXPECT_EQ(now.tv_sec, kStart);
  EXPECT_EQ(wsiTestClockWaiters(), 0);

  std::atomic<int> woke{0};
  std::thread library([&] {
    waitSeconds(60);
    ++woke;
  });
  std::thread threadSleep([&] {
    broker->xft->threadSleep(30000);
    ++woke;
  });
  std::thread condWait([&] {
    waitSecondsCMPIThread(broker, 45);
    ++woke;
  });
  ASSERT_TRUE(eventually([] { return wsiTestClockWaiters() == 3; }));
  wsiTestClockAdvance(30);
  ASSERT_TRUE(eventually([&] { return woke == 1; }));
  EXPECT_EQ(wsiTestClockWaiters(), 2);
  wsiTestClockAdvance(15);
  ASSERT_TRUE(eventually([&] { return woke == 2; }));
  EXPECT_EQ(wsiTestClockWaiters(), 1);
  wsi_gettimeofday(&now, nullptr);
  EXPECT_EQ(now.tv_sec, kStart + 45);
  // Back to real time: the last sleeper wakes at once.
  wsiTestClockRelease();
  library.join();
  threadSleep.join();
  condWait.join();
  EXPECT_EQ(woke, 3);
  EXPECT_EQ(wsiTestClockWaiters(), 0);
  wsi_gettimeofday(&now, nullptr);
  EXPECT_GT(now.tv_sec, 1600000000);
  EXPECT_LT(now.tv_sec, kStart);
}

// ---- The simulator's LUN requests -------------------------------------------------

TEST_P(IndicationsTest, LunRequestsChangeTheListingAndAnswerTheirErrorNumbers) {
  const std::string a = "kelva-a";
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/nosuch/l"}, {"size", "10"}}),
            filersim::kNoSuchVolume);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volOld/l"}, {"size", "10"}}),
            filersim::kVolumeOffline);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volA/lun1"}, {"size", "10"}}),
            filersim::kLunExists);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/l"}, {"size", "0"}}),
            filersim::kInvalidInput);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/l"}, {"size", "-5"}}),
            filersim::kInvalidInput);
  EXPECT_EQ(send(a, "lun-create", {{"path", "volB/l"}, {"size", "5"}}), filersim::kInvalidInput);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/l"}}), filersim::kMissingInput);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/l"}, {"size", "53687091201"}}),
            filersim::kNoSpace);
  EXPECT_EQ(send(a, "lun-create",
                 {{"path", "/vol/volB/l"}, {"size", "10"}, {"serial-number", "C4i/2JZpEk9r"}}),
            filersim::kInvalidInput);
  EXPECT_EQ(send(a, "lun-resize", {{"path", "/vol/volB/none"}, {"size", "10"}}),
            filersim::kNoSuchLun);
  EXPECT_EQ(send(a, "lun-resize", {{"path", "/vol/volA/lun1"}, {"size", "214748364800"}}),
            filersim::kNoSpace);
  EXPECT_EQ(send(a, "lun-destroy", {{"path", "/vol/volA/lun1"}}), filersim::kLunMapped);
  EXPECT_EQ(send(a, "lun-destroy", {{"path", "/vol/volB/none"}}), filersim::kNoSuchLun);
  EXPECT_EQ(send(a, "lun-offline", {{"path", "/vol/volB/none"}}), filersim::kNoSuchLun);

  // The cache read before the changes does not hide them.
  addSimFiler(a);
  auto luns = [&] {
    std::vector<std::pair<std::string, uint64_t>> seen;
    KELVAStatus record = KELVA_STATUS_INIT;
    WSIList *list = WSIList_new();
    EXPECT_EQ(getLunInfo(&record, filers[0], nullptr, nullptr, nullptr, 0, nullptr, list), 1);
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      auto *lun = static_cast<KELVALun *>(WSIList_getElement(p));
      seen.emplace_back(std::string(lun->serialNumber) + (lun->online ? "" : " off") +
                            (lun->mapped ? " mapped" : ""),
                        lun->size);
    }
    freeLunInfo(list);
    clearKELVAStatus(&record);
    return seen;
  };
  size_t before = luns().size();
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/l"}, {"size", "4096"}}), 0);
  EXPECT_EQ(send(a, "lun-create", {{"path", "/vol/volB/m"}, {"size", "8192"}}), 0);
  auto after = luns();
  ASSERT_EQ(after.size(), before + 2);
  EXPECT_EQ(after[before], (std::pair<std::string, uint64_t>{"SIM000000000", 4096}));
  EXPECT_EQ(after[before + 1], (std::pair<std::string, uint64_t>{"SIM000000001", 8192}));
  EXPECT_EQ(send(a, "lun-resize", {{"path", "/vol/volB/l"}, {"size", "2048"}}), 0);
  EXPECT_EQ(send(a, "lun-offline", {{"path", "/vol/volB/m"}}), 0);
  EXPECT_EQ(send(a, "lun-destroy", {{"path", "/vol/volA/lun1"}, {"force", "true"}}), 0);
  after = luns();
  ASSERT_EQ(after.size(), before + 1);
  EXPECT_EQ(after[before - 1], (std::pair<std::string, uint64_t>{"SIM000000000", 2048}));
  EXPECT_EQ(after[before], (std::pair<std::string, uint64_t>{"SIM000000001 off", 8192}));
  // The forced destroy took the LUN's map along.
  const nlohmann::json state = sim->state(a);
  for (const auto &igroup : state["storage"]["igroups"])
    for (const auto &map : igroup["maps"]) EXPECT_NE(map["path"], "/vol/volA/lun1");
}

CIMOM_INSTANTIATE(IndicationsTest);
CIMOM_INSTANTIATE(IndicationsPollTest);
CIMOM_INSTANTIATE(IndicationModelPathTest);
CIMOM_INSTANTIATE(TestClock);

}  // namespace
