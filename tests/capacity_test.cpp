// Capacity figures against the simulated filers of tests/data/capacity.json
// (figures in capacity_support.h); each expectation states its arithmetic.
#include <provkit/arrays.h>
#include <provkit/capacity.h>
#include <provkit/frame.h>

#include <cstring>
#include <functional>

#include "capacity_support.h"

namespace {

using captest::G;
using captest::List;

// Figures whose sums and products leave 32 bits, or wrap at 64.  No object
// manager: a broker is only needed to raise a failure, and none is expected, so
// these run wherever the simulated filer does (also in the Windows suite).
class WideFiguresTest : public ::testing::Test {
 protected:
  const Filer *filer(const char *name) { return filers.filer(name); }
  WSIServerInfo *server(const char *name) { return filers.server(name); }
  const KELVAAggregate *aggr(const char *name, const char *filerName) {
    return filers.aggr(name, filerName);
  }
  captest::Filers filers;
  const CMPIBroker *broker = nullptr;
  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_F(WideFiguresTest, FiguresNearTwoToTheSixtyFourWrapAndProductsPassTwoToTheThirtyTwo) {
  const char *big = "cap-big";
  constexpr uint64_t top = 1ull << 63;
  uint64_t out = 0;
  // 2^64 - 2^30 + 1024 + 2^30 + 512 + 512,000,000 wraps to 512,001,536.
  getRawBytesForSystem(broker, &status, filer(big), &out);
  EXPECT_EQ(out, 512001536u);
  getRAIDOverheadBytesForSystem(broker, &status, nullptr, filer(big), &out);
  EXPECT_EQ(out, 512001536u - (G + 512) - (top + 512000000u));

  // 20 x 1,000,000 blocks x 512 = 10,240,000,000 (beyond 2^32) / 100 = 102,400,000; big's
  // 3 x 2^54 blocks x 512 = 3 x 2^63 wraps to 2^63 before the division.
  out = 0;
  getSnapshotAreaBytesForSystem(broker, &status, filer(big), server(big), &out);
  EXPECT_EQ(out, top / 100 + 102400000u);
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(big), aggr("big", big),
                                      &out);
  EXPECT_EQ(out, top * 3 / 100);
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(big), aggr("mid", big),
                                      &out);
  EXPECT_EQ(out, 512000000ull * 20 / 100);

  // Used (2^64 - 16) / 8 x 8 and 16; the sum over both aggregates wraps to 0.
  getFilesBytesForConcretePoolOrExtent(broker, &status, filer(big), nullptr, aggr("big", big),
                                       &out);
  EXPECT_EQ(out, 0 - 16ull);
  getFilesBytesForSystem(broker, &status, filer(big), nullptr, &out);
  EXPECT_EQ(out, 0u);

  // b2 has more in use (3072) than its size (1024): the unused sum wraps past the sizes.
  getRightSizeBytesFromAggregate(broker, &status, filer(big), aggr("big", big), &out);
  EXPECT_EQ(out, (0 - 2048ull) - (0 - G + 1024));
  EXPECT_EQ(getSystemSpareBytes(broker, filer(big), &status), G + 512);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
}

#ifndef CAPACITY_WITHOUT_CIMOM

class CapacityTest : public captest::CapacityFixture {
 protected:
  std::vector<CMPIUint16> values(WSIList *list) {
    std::vector<CMPIUint16> out;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p))
      out.push_back(*static_cast<CMPIUint16 *>(WSIList_getElement(p)));
    return out;
  }
  static void freeValues(WSIList *list) { WSIList_free(list, wsifree); }
};

TEST_P(CapacityTest, PoolAndExtentFigures) {
  const KELVAAggregate *aggr1 = aggr("aggr1");
  const KELVAAggregate *aggr2 = aggr("aggr2");
  const KELVAAggregate *trad1 = aggr("trad1");
  ASSERT_NE(trad1, nullptr);
  ASSERT_EQ(trad1->kind, 2);
  uint64_t out = 7;

  // Snapshot reserve of a pool: size x percent / 100; a traditional volume has none.
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(), aggr1, &out);
  EXPECT_EQ(out, 200 * G * 5 / 100);
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(), aggr2, &out);
  EXPECT_EQ(out, 2 * G);
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(), trad1, &out);
  EXPECT_EQ(out, 0u);

  // An extent's snapshot area: per volume max(reserve, snapshots used) + overwrite reserve.
  getSnapshotAreaBytesForStorageExtent(broker, &status, filer(), server(), aggr1, &out);
  EXPECT_EQ(out, (10 * G + 5 * G) + (12 * G + 0));
  getSnapshotAreaBytesForStorageExtent(broker, &status, filer(), server(), trad1, &out);
  EXPECT_EQ(out, 2 * G + 1 * G);

  // RAID overhead adds the parity disks ("dparity" is not within "parity") and then every
  // disk of the RAID groups again.
  out = 1;
  getRAIDOverheadBytesForConcretePool(broker, &status, filer(), aggr1, &out);
  EXPECT_EQ(out, 1 + 100 * G + (100 + 100 + 100 + 50 + 50) * G);
  out = 0;
  getRAIDOverheadBytesForConcretePool(broker, &status, filer(), aggr2, &out);
  EXPECT_EQ(out, (20 + 20) * G + 4 * 20 * G);  // both plexes

  // LUN bytes: only the LUNs of the aggregate's volumes; lun3 (volC) is outside aggr1.
  uint64_t size = 1;
  uint64_t second = 1;
  getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), aggr1, &size, &second);
  EXPECT_EQ(size, (20 + 10 + 5) * G);
  EXPECT_EQ(second, (5 + 10 + 1) * G);
  getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), trad1, &size, &second);
  EXPECT_EQ(size, 3 * G);
  EXPECT_EQ(second, 1 * G);
  getLUNBytes(broker, filer(), &status, "/vol/volA/q1/lun1", &size, &second);
  EXPECT_EQ(size, 10 * G);
  EXPECT_EQ(second, 10 * G);

  // Files: used bytes of the volumes less the LUNs; aggr2 holds fewer used bytes (1) than
  // LUN bytes (2), and the difference wraps.
  getFilesBytesForConcretePoolOrExtent(broker, &status, filer(), nullptr, aggr1, &out);
  EXPECT_EQ(out, (40 + 10) * G - 35 * G);
  getFilesBytesForConcretePoolOrExtent(broker, &status, filer(), nullptr, aggr2, &out);
  EXPECT_EQ(out, 0 - 1 * G);  // 2^64 - 2^30

  // Free adds each volume's size - reserve - used.
  out = 0;
  getFreeBytesForConcretePoolOrExtent(broker, &status, filer(), nullptr, aggr1, &out);
  EXPECT_EQ(out, (100 - 10 - 40) * G + (50 - 10 - 10) * G);

  // Raw adds the aggregate's disks.
  out = 0;
  getRawBytesForConcretePool(broker, &status, filer(), aggr1, &out);
  EXPECT_EQ(out, 400 * G);

  // Drilldown: max(reserve, snapshots used), overwrite reserve, snapshots used, consumed.
  uint64_t d[4] = {9, 9, 9, 9};
  getUtilDrilldownDataByAggregate(broker, &status, nullptr, server(), aggr1, &d[0], &d[1], &d[2],
                                  &d[3]);
  EXPECT_THAT(d, ::testing::ElementsAre(10 * G, 0, 1 * G, 150 * G));  // 150: volA + volB
  // A traditional volume is asked for as a volume under the aggregate's name.
  getUtilDrilldownDataByAggregate(broker, &status, nullptr, server(), trad1, &d[0], &d[1], &d[2],
                                  &d[3]);
  EXPECT_THAT(d, ::testing::ElementsAre(2 * G, 1 * G, 1 * G, (4 + 2) * G));
  uint64_t v[4] = {1, 1, 1, 1};
  getUtilDrilldownDataByAggregateVolumes(broker, &status, filer(), server(), aggr1, &v[0], &v[1],
                                         &v[2], &v[3]);
  EXPECT_THAT(v, ::testing::ElementsAre(1 + 10 * G + 12 * G, 1 + 5 * G, 1 + 2 * G + 12 * G,
                                        1 + 100 * G + 50 * G));

  // Right size is 0 with ordinary disks.
  out = 5;
  getRightSizeBytesFromAggregate(broker, &status, filer(), aggr1, &out);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
}

TEST_P(CapacityTest, SystemFigures) {
  uint64_t out = 1;
  // Aggregates of kind 1 only: 5 % of 200 and 10 % of 20, as blocks x 512; then every
  // volume's area: volA 15, volB 12, volC 0, trad1 3.
  getSnapshotAreaBytesForSystem(broker, &status, filer(), server(), &out);
  EXPECT_EQ(out, 1 + 10 * G + 2 * G + 15 * G + 12 * G + 0 + 3 * G);

  // All disks 680 less spare-like (30 + 30 + 30 + 20) less the aggregates (200 + 10 + 20).
  getRAIDOverheadBytesForSystem(broker, &status, nullptr, filer(), &out);
  EXPECT_EQ(out, 680 * G - 110 * G - 230 * G);
  getRAIDOverheadBytesForSystem(broker, &status, nullptr, filer("cap-empty"), &out);
  EXPECT_EQ(out, 0u);

  // Files: aggr1 15, trad1 4 - 3, aggr2 1 - 2 (wrapped): the sum wraps back.
  getFilesBytesForSystem(broker, &status, filer(), nullptr, &out);
  EXPECT_EQ(out, 15 * G + 1 * G - 1 * G);

  out = 0;
  getFreeBytesForSystem(broker, &status, filer(), nullptr, &out);
  EXPECT_EQ(out, (50 + 30) * G + 4 * G + 9 * G);

  // Raw leaves out the broken disk only (the zeroing one counts).
  out = 0;
  getRawBytesForSystem(broker, &status, filer(), &out);
  EXPECT_EQ(out, 680 * G - 40 * G);

  EXPECT_EQ(getSystemSpareBytes(broker, filer(), &status), (30 + 30 + 30 + 20) * G);
  EXPECT_EQ(getSystemSpareDisksCount(broker, filer(), &status), 2);
  EXPECT_EQ(getSystemSpareBytes(broker, filer("cap-empty"), &status), 7 * G);

  // Sums of the three aggregates' drilldowns (aggr1, trad1, aggr2).
  uint64_t d[4] = {9, 9, 9, 9};
  getDrilldownDataBySystem(broker, &status, filer(), server(), &d[0], &d[1], &d[2], &d[3]);
  EXPECT_THAT(d, ::testing::ElementsAre((10 + 2 + 3) * G, (0 + 1 + 0) * G, (1 + 1 + 3) * G,
                                        (150 + 6 + 10) * G));

  out = 3;
  getRightSizeBytesFromSystem(broker, &status, filer(), &out);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
}

TEST_P(CapacityTest, FailedReserveQueries) {
  const KELVAAggregate *aggr1 = aggr("aggr1");
  offline("volB");  // its reserve query now fails

  // Sums that stop quietly at the failing volume.
  uint64_t out = 0;
  getSnapshotAreaBytesForStorageExtent(broker, &status, filer(), server(), aggr1, &out);
  EXPECT_EQ(out, 15 * G);
  out = 0;
  getSnapshotAreaBytesForSystem(broker, &status, filer(), server(), &out);
  EXPECT_EQ(out, 10 * G + 2 * G + 15 * G);  // volC and trad1 come after volB
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();

  // The drilldown of the volumes raises the query's text; volA's figures stand.
  uint64_t v[4] = {0, 0, 0, 0};
  getUtilDrilldownDataByAggregateVolumes(broker, &status, filer(), server(), aggr1, &v[0], &v[1],
                                         &v[2], &v[3]);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message().find("volB"), std::string::npos);
  EXPECT_EQ(v[0], 10 * G);

  // A failed aggregate query: no further aggregate or volume is counted.
  sim->setFault("cap-a", "space-reserve-info", filersim::Fault::fail(14420, "aggregate gone", 1));
  out = 0;
  getSnapshotAreaBytesForSystem(broker, &status, filer(), server(), &out);
  EXPECT_EQ(out, 0u);
  EXPECT_NE(message().find("aggregate gone"), std::string::npos);

  // Invalid kinds.
  char reason[8] = "xxxxxxx";
  uint64_t percent = 0;
  uint64_t blocks = 0;
  EXPECT_EQ(perfObjectGetAggrInfo(server(), 3, "aggr1", &percent, &blocks, reason, sizeof reason),
            0);
  EXPECT_STREQ(reason, "Invalid");  // "Invalid Aggregate Type" cut to the buffer
  KELVAAggregate odd = *aggr1;
  odd.kind = 7;
  uint64_t d[4] = {};
  getUtilDrilldownDataByAggregate(broker, &status, nullptr, server(), &odd, &d[0], &d[1], &d[2],
                                  &d[3]);
  EXPECT_EQ(message(), "Invalid Aggregate type encountered");

  // The system's drilldown asks the aggregates only (volB does not matter); a failed
  // query leaves the sums made before it.
  getDrilldownDataBySystem(broker, &status, filer(), server(), &d[0], &d[1], &d[2], &d[3]);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(d[3], (150 + 6 + 10) * G);
  sim->setFault("cap-a", "space-reserve-info", filersim::Fault::fail(14420, "aggregate gone", 1));
  getDrilldownDataBySystem(broker, &status, filer(), server(), &d[0], &d[1], &d[2], &d[3]);
  EXPECT_NE(message().find("aggregate gone"), std::string::npos);
  EXPECT_THAT(d, ::testing::ElementsAre(0, 0, 0, 0));
}

TEST_P(CapacityTest, MissingAggregatesAndNames) {
  uint64_t out = 0;
  uint64_t second = 0;
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(), nullptr, &out);
  EXPECT_EQ(message(), " aggregate is NULL");
  getSnapshotAreaBytesForStorageExtent(broker, &status, filer(), server(), nullptr, &out);
  EXPECT_EQ(message(), " aggregate is NULL");
  getRawBytesForConcretePool(broker, &status, filer(), nullptr, &out);
  EXPECT_EQ(message(), " Aggregate is null");
  KELVAAggregate nameless = *aggr("aggr1");
  nameless.name = nullptr;
  getRAIDOverheadBytesForConcretePool(broker, &status, filer(), &nameless, &out);
  EXPECT_EQ(message(), " Aggregate name is null");
  getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), &nameless, &out, &second);
  EXPECT_EQ(message(), " aggregate has NULL name");
  getSnapshotAreaBytesForConcretePool(broker, &status, nullptr, server(), &nameless, &out);
  EXPECT_EQ(message(), " aggregate has NULL name");
  // Disks that cannot be read: the controller library's failure, with the filer's reason.
  sim->setFault("cap-a", "disk-list-info", filersim::Fault::fail(13001, "disks unreadable", 1));
  getRawBytesForSystem(broker, &status, filer(), &out);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_NE(message().find("disks unreadable"), std::string::npos);
}

TEST_P(CapacityTest, ListsThatCannotBeMadeSayWhich) {
  const KELVAAggregate *aggr1 = aggr("aggr1");
  uint64_t out = 0;
  uint64_t second = 0;
  uint64_t d[4] = {};
  struct Case {
    const char *expected;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {" Insufficient memory",
       [&] {
         getSnapshotAreaBytesForStorageExtent(broker, &status, filer(), server(), aggr1, &out);
       }},
      {" Insufficient Memory",
       [&] { getSnapshotAreaBytesForSystem(broker, &status, filer(), server(), &out); }},
      {" Insufficient Memory",
       [&] { getRAIDOverheadBytesForSystem(broker, &status, nullptr, filer(), &out); }},
      {" Insufficient Memory", [&] { getSystemSpareBytes(broker, filer(), &status); }},
      {" Insuficcient memory",
       [&] { getLUNBytes(broker, filer(), &status, "/vol/volA/lun0", &out, &second); }},
      {" Insufficient memory.",
       [&] { getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), aggr1, &out, &second); }},
      {" Insufficient memory.",
       [&] { getFreeBytesForSystem(broker, &status, filer(), nullptr, &out); }},
      {" Insufficient memory.", [&] { getRawBytesForSystem(broker, &status, filer(), &out); }},
      {" Insufficient memory",
       [&] { getRAIDOverheadBytesForConcretePool(broker, &status, filer(), aggr1, &out); }},
      {"Insufficient memory",
       [&] {
         getDrilldownDataBySystem(broker, &status, filer(), server(), &d[0], &d[1], &d[2], &d[3]);
       }},
  };
  for (const Case &c : cases) {
    {
      pktest::FailingAllocation failing(1);
      c.call();
    }
    EXPECT_EQ(message(), c.expected);
  }
  // The LUN list of an extent comes after its volume list and the volumes' records.
  unsigned long long before = wsiTestAllocationCount();
  {
    List volumes(freeVolumeInfo);
    captest::Record record;
    getVolumeInfo(record.get(), filer(), nullptr, nullptr, "aggr1", 3, 0, volumes.list);
  }
  unsigned long long volumeList = wsiTestAllocationCount() - before;
  {
    pktest::FailingAllocation failing(volumeList + 1);
    getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), aggr1, &out, &second);
  }
  EXPECT_EQ(message(), " Insuficcient memory");
  // The copy of the first LUN's path, after both lists and their records.
  before = wsiTestAllocationCount();
  {
    List luns(freeLunInfo);
    captest::Record record;
    getLunInfo(record.get(), filer(), nullptr, nullptr, nullptr, 0, nullptr, luns.list);
  }
  unsigned long long lunList = wsiTestAllocationCount() - before;
  {
    pktest::FailingAllocation failing(volumeList + lunList + 1);
    getLUNBytesForConcretePoolOrExtent(broker, &status, filer(), aggr1, &out, &second);
  }
  EXPECT_EQ(message(), " Can not copy lunpath.");
  // Files computed at the end leave the output alone after a failure.
  out = 77;
  {
    pktest::FailingAllocation failing(1);
    getFilesBytesForConcretePoolOrExtent(broker, &status, filer(), nullptr, aggr1, &out);
  }
  EXPECT_EQ(message(), " Insufficient memory.");
  EXPECT_EQ(out, 77u);
}

TEST_P(CapacityTest, StatusValuesAndTheirLists) {
  struct Extent {
    const char *state, *raid;
    std::vector<CMPIUint16> expected;
  };
  for (const Extent &e : std::vector<Extent>{
           {"online", "reconstruct", {2, 11}},
           {"mirror degraded", "growing", {0, 5}},
           {"failed", "verifying", {3, 14}},
           {"foreign", "resynching", {0, 12}},
           {"ONLINE", "initializing", {2, 10}},
           {nullptr, "ironing", {12}},
           {"restricted", nullptr, {}},
       }) {
    List list(freeValues);
    addExtentStatusStates(broker, &status, e.state, e.raid, list.list);
    EXPECT_EQ(values(list.list), e.expected) << (e.state ? e.state : "null");
  }
  struct Volume {
    const char *state, *raid;
    int raid0;
    std::vector<CMPIUint16> expected;
  };
  for (const Volume &v : std::vector<Volume>{
           {"offline", "unrecoverable", 0, {6, 15}},
           {"online", "raid0", 0, {3}},
           {"online", "raid0", 1, {2}},
           {"online", "raid_tw", 0, {2}},
           {"online", nullptr, 0, {3}},
           {"failed", "raid4", 0, {6}},
           {"creating", "raid4", 0, {8}},
           {"offline", "raid4", 0, {15}},
           {"restricted", "raid4", 0, {3}},
       }) {
    List list(freeValues);
    addVolumeOperationalStatusStates(broker, &status, v.state, v.raid, v.raid0, list.list);
    EXPECT_EQ(values(list.list), v.expected) << v.state << "/" << (v.raid ? v.raid : "null");
  }
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  // A status that already holds an error appends nothing; a value that cannot be
  // allocated ends the list with the error.
  List list(freeValues);
  raiseCMPIError(broker, &status, CMPI_RC_ERR_FAILED, "earlier");
  addExtentStatusStates(broker, &status, "online", "reconstruct", list.list);
  EXPECT_TRUE(values(list.list).empty());
  EXPECT_EQ(message(), "earlier");
  // Each value is a block and a list entry: the third allocation is the second value's.
  {
    pktest::FailingAllocation failing(3);
    addVolumeOperationalStatusStates(broker, &status, "offline", "unrecoverable", 0, list.list);
  }
  EXPECT_EQ(values(list.list), std::vector<CMPIUint16>{6});
  EXPECT_EQ(message(), "Failed to allocate state value");
  {
    pktest::FailingAllocation failing(2);
    addExtentStatusStates(broker, &status, "online", "reconstruct", list.list);
  }
  EXPECT_EQ(values(list.list), std::vector<CMPIUint16>{6});
  EXPECT_EQ(message(), "Failed to add state");
}

CIMOM_INSTANTIATE(CapacityTest);

#endif

}  // namespace
