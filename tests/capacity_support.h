// What the capacity and pool tests share: the object manager (unless
// CAPACITY_WITHOUT_CIMOM: the build has none, as under Wine), the simulated
// filers of tests/data/capacity.json in process, their filer records, a
// connection for the reserve queries and the cached aggregate records.
//
// The scenario's figures, in GiB (G = 2^30) unless said otherwise:
//   cap-a   aggr1 (aggregate, 200 usable, 210 managed, 5 % reserve, 1 used by
//           snapshots): rg0 d1 parity 100, d2 100, d3 100; rg1 d4 dparity 50, d5 50;
//           volumes volA (100, 40 used, 10 % reserve, 2 snapshots, 5 overwrite
//           reserve) and volB (50, 10 used, 20 % reserve, 12 snapshots).
//           trad1 (traditional, 10, 20 % reserve): d10 parity 10, d11 10; its volume
//           holds 4 used, 1 snapshots, 1 overwrite reserve.
//           aggr2 (aggregate, mirrored, 20, 10 % reserve, 3 snapshots): two plexes,
//           d6 parity 20, d7 20 / d8 parity 20, d9 20; volume volC (10, 1 used).
//           Outside: d12 spare 30, d13 pending 30, d14 reconstructing 30, d15 broken
//           40, d16 zeroing 30, d17 spare 20.
//           LUNs (size/used): volA lun0 20/5, volA q1/lun1 10/10, volB lun2 5/1,
//           volC lun3 2/0, trad1 lun4 3/1.
//   cap-big figures near 2^64 (bytes): aggregate big 2^63 (3 %), disks b1 parity
//           2^64-2^30, b2 1024 with 3072 in use; volume huge 2^64-8 with 2^64-16
//           used; aggregate mid 512,000,000 (20 %, 1,000,000 blocks), disk m1
//           512,000,000, volume small 256,000,000 with 16 used; spare b3 2^30+512.
//   cap-empty no aggregates; disks spare 1, pending 2, reconstructing 4.
#pragma once

#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <memory>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "support.h"

#ifndef CAPACITY_WITHOUT_CIMOM
#include <cimom/cimom.h>
#include <cimom/testing.h>
#endif

namespace captest {

constexpr uint64_t G = 1073741824ull;

// A list of controller records, freed with its free function.
struct List {
  explicit List(void (*freeList)(WSIList *)) : list(WSIList_new()), release(freeList) {}
  ~List() { release(list); }
  List(const List &) = delete;
  List &operator=(const List &) = delete;
  template <class T>
  std::vector<T *> records() const {
    std::vector<T *> out;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p))
      out.push_back(static_cast<T *>(WSIList_getElement(p)));
    return out;
  }
  WSIList *list;
  void (*release)(WSIList *);
};

using pktest::Record;

// The simulated filers in process, with their records and connections.
class Filers {
 public:
  Filers() {
    sim = filersim::Simulator::fromFile(pktest::testData("capacity.json"));
    sim->registerInProcess();
    for (const char *name : {"cap-a", "cap-big", "cap-empty"}) {
      Reach &r = reach[index(name)];
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
      r.server.reset(createServerInfo(r.host.c_str(), r.user.c_str(), r.password.c_str(), 5,
                                      WSI_TRANSPORT_HTTP, 0));
    }
  }
  ~Filers() {
    for (Reach &r : reach) {
      Record record;
      FilerCache_deleteEntry(&r.filer, record.get());  // the cache is process-wide
      r.server.reset();
    }
  }
  Filers(const Filers &) = delete;
  Filers &operator=(const Filers &) = delete;

  static int index(const std::string &name) {
    return name == "cap-a" ? 0 : name == "cap-big" ? 1 : 2;
  }
  const Filer *filer(const char *name = "cap-a") { return &reach[index(name)].filer; }
  WSIServerInfo *server(const char *name = "cap-a") { return reach[index(name)].server.get(); }

  // The cached record of the aggregate, owned by this object.
  const KELVAAggregate *aggr(const char *name, const char *filerName = "cap-a") {
    auto list = std::make_unique<List>(freeAggregateInfo);
    Record record;
    EXPECT_NE(getAggregateInfo(record.get(), filer(filerName), name, nullptr, 3, 0, list->list), 0)
        << record.text();
    auto found = list->records<KELVAAggregate>();
    EXPECT_EQ(found.size(), 1u) << name;
    const KELVAAggregate *result = found.empty() ? nullptr : found.front();
    held.push_back(std::move(list));
    return result;
  }

  // Sends a request with string parameters to a filer, as a provider would.
  bool send(const char *api, const std::vector<std::pair<const char *, std::string>> &params,
            const char *filerName = "cap-a") {
    WSIElement *request = createElement(api);
    for (const auto &[name, value] : params) addStringElement(request, name, value.c_str());
    WSIElement *answer = invokeServerElement(server(filerName), request);
    bool passed = checkResultStatus(answer) == 1;
    freeElement(answer);
    freeElement(request);
    return passed;
  }
  void offline(const char *volume, const char *filerName = "cap-a") {
    ASSERT_TRUE(send("volume-offline", {{"name", volume}}, filerName));
  }

  struct Reach {
    std::string systemId, host, user, password;
    Filer filer{};
    std::unique_ptr<WSIServerInfo, void (*)(WSIServerInfo *)> server{nullptr, destroyServerInfo};
  };
  std::unique_ptr<filersim::Simulator> sim;
  Reach reach[3];
  std::vector<std::unique_ptr<List>> held;
};

#ifndef CAPACITY_WITHOUT_CIMOM
// The filers under the embedded object manager, at both CMPI levels.
class CapacityFixture : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    filers = std::make_unique<Filers>();
    sim = filers->sim.get();
  }
  void TearDown() override {
    filers.reset();
    clear();
    ObjectManagerTest::TearDown();
  }

  const Filer *filer(const char *name = "cap-a") { return filers->filer(name); }
  WSIServerInfo *server(const char *name = "cap-a") { return filers->server(name); }
  const KELVAAggregate *aggr(const char *name, const char *filerName = "cap-a") {
    return filers->aggr(name, filerName);
  }
  void offline(const char *volume, const char *filerName = "cap-a") {
    filers->offline(volume, filerName);
  }

  // The status's message (released) and a clean status for the next call.
  std::string message() {
    std::string text = takeMessage(status);
    status.rc = CMPI_RC_OK;
    return text;
  }
  void clear() {
    if (status.msg != nullptr) CMRelease(status.msg);
    status = {CMPI_RC_OK, nullptr};
  }
  std::vector<std::string> warnings() const {
    std::vector<std::string> out;
    for (const auto &log : om->logs())
      if (log.severity == 3) out.push_back(log.text);
    return out;
  }

  std::unique_ptr<Filers> filers;
  filersim::Simulator *sim = nullptr;
  CMPIStatus status{CMPI_RC_OK, nullptr};
};
#endif

}  // namespace captest
