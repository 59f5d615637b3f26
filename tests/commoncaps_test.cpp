// Pool settings, goals and capabilities (through the capabilities library
// poolcapsprv, registered with the object manager for KELVA_StorageSetting),
// consumed space and concrete pools, against tests/data/capacity.json
// (figures in capacity_support.h).
#include <provkit/commoncaps.h>
#include <provkit/frame.h>

#include <cstring>

#include "capacity_support.h"
#include "registry_support.h"

namespace {

using captest::G;
using captest::List;
using captest::Record;

constexpr const char *kSettingClass = "KELVA_StorageSetting";
constexpr const char *kCapsLibrary = "libpoolcapsprv.so";

class CommonCapsTest : public captest::CapacityFixture {
 protected:
  // The capabilities library finds a pool's filer in the registry, as a provider does.
  void SetUp() override {
    CapacityFixture::SetUp();
    regtest::currentBroker() = broker;
    dir = regtest::useNewDataDir();
    auto *copy = static_cast<Filer *>(copyFiler(const_cast<Filer *>(filer())));
    ASSERT_EQ(regtest::add(copy), CMPI_RC_OK);
    ASSERT_TRUE(
        om->registerProvider("root/kelva", kSettingClass, "libpoolcapsprv.so", "poolcapsprv"));
  }
  void TearDown() override {
    regtest::Status removed;
    removeFilerFromList(broker, &removed, const_cast<Filer *>(filer()));
    pk::testing::resetFilerRegistry(broker);
    regtest::currentBroker() = nullptr;
    regtest::fs::remove_all(dir);
    CapacityFixture::TearDown();
  }
  regtest::fs::path dir;

  // A path of the class in root/kelva with InstanceID "KELVA:<systemId>:<local>".
  CMPIObjectPath *path(const char *className, const std::string &local,
                       const char *filerName = "cap-a") {
    CMPIObjectPath *p = CMNewObjectPath(broker, "root/kelva", className, nullptr);
    std::string id = "KELVA:" + sim->systemId(filerName) + ":" + local;
    CMAddKey(p, "InstanceID", id.c_str(), CMPI_chars);
    return p;
  }
  struct Goal {
    uint16_t data = 99, package = 99;
  };
  Goal goalOf(const CMPIObjectPath *source, const CMPIArgs *args,
              const char *library = kCapsLibrary, const char *goalClass = kSettingClass) {
    Goal goal;
    getSettingsGoalParamOrDefault("KELVA_ConcretePool", broker, ctx, source, filer(), args,
                                  goalClass, library, &goal.data, &goal.package, &status);
    return goal;
  }
  std::vector<ConcretePool *> pools(const List &list) { return list.records<ConcretePool>(); }
  static void freePools(WSIList *list) { WSIList_free(list, freeConcretePool); }
};

// Releases a CMPI object at scope exit.
template <typename T>
struct Held {
  T *object;
  ~Held() {
    if (object != nullptr) CMRelease(object);
  }
  T *get() const { return object; }
};

TEST_P(CommonCapsTest, SettingRowsAndTheRowOfAnAggregate) {
  const ConcretePoolSetting *table = nullptr;
  int count = 0;
  getAllConcretePoolSettings(&table, &count);
  ASSERT_EQ(count, 7);
  EXPECT_EQ(getFilerMaxRAIDSize(), 7);
  EXPECT_STREQ(table[6].name, "RAID_TW:Mirrored");
  EXPECT_EQ(table[6].packageRedundancy, 4);
  EXPECT_EQ(getConcretePoolSettingByName("raid_4:mirrored"), &table[3]);
  EXPECT_EQ(getConcretePoolSettingByName("RAID_5"), nullptr);
  EXPECT_EQ(getConcretePoolSettingByName(nullptr), nullptr);

  // Flags in record order: single parity, no parity, double parity, mixed.
  struct Case {
    uint8_t raid4, raid0, raidTW, mixed;
    const char *mirror;
    const char *expected;
  };
  for (const Case &c : std::vector<Case>{
           {0, 0, 1, 0, "mirror degraded", "RAID_TW:Mirrored_degraded"},
           {0, 0, 0, 0, "unmirrored", "RAID_0"},
           {0, 1, 1, 0, "mirrored", "RAID_0"},
           {0, 1, 1, 1, "mirrored", "RAID_4:Unmirrored"},
           {0, 0, 1, 0, "mirrored", "RAID_TW:Mirrored"},
           {1, 0, 1, 1, "MIRRORED", "RAID_4:Mirrored"},
           {1, 0, 0, 0, "mirror degraded", "RAID_4:Mirrored_degraded"},
           {1, 0, 0, 0, nullptr, "RAID_4:Unmirrored"},
       }) {
    KELVAAggregate a{};
    a.hasRaid4 = c.raid4;
    a.hasRaid0 = c.raid0;
    a.hasRaidTW = c.raidTW;
    a.mixedRaid = c.mixed;
    a.mirrorStatus = const_cast<char *>(c.mirror);
    EXPECT_STREQ(getConcretePoolSettingFromAggregate(&a)->name, c.expected) << c.expected;
  }
  // The simulator's aggregates: aggr1 has raid4 and raid_tw groups (mixed, no raid0).
  EXPECT_STREQ(getConcretePoolSettingFromAggregate(aggr("aggr1"))->name, "RAID_4:Unmirrored");
  EXPECT_STREQ(getConcretePoolSettingFromAggregate(aggr("aggr2"))->name, "RAID_TW:Mirrored");
  EXPECT_STREQ(getConcretePoolSettingFromAggregate(aggr("mid", "cap-big"))->name, "RAID_0");

  int32_t mirrored = 9;
  uint16_t parity = 9;
  EXPECT_EQ(getParityAndMirrorFromSettings(2, 1, &mirrored, &parity), 1);
  EXPECT_EQ(mirrored, 1);
  EXPECT_EQ(parity, 1);
  getParityAndMirrorFromSettings(1, 4, &mirrored, &parity);
  EXPECT_EQ(mirrored, 0);
  EXPECT_EQ(parity, 2);
}

TEST_P(CommonCapsTest, GoalFromTheArgumentsOrFromTheCapabilities) {
  Held<CMPIObjectPath> pool{path("KELVA_ConcretePool", "aggr2")};
  // No Goal argument: the capabilities library's default setting of aggr2's row.
  Held<CMPIArgs> none{CMNewArgs(broker, nullptr)};
  Goal goal = goalOf(pool.get(), none.get());
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(goal.package, 4);  // RAID_TW:Mirrored
  EXPECT_EQ(goal.data, 2);

  // A Goal reference (without a namespace: it takes the source's).
  Held<CMPIArgs> args{CMNewArgs(broker, nullptr)};
  Held<CMPIObjectPath> setting{CMNewObjectPath(broker, nullptr, kSettingClass, nullptr)};
  std::string id = "KELVA:" + sim->systemId("cap-a") + ":aggr1:RAID_4:Mirrored_degraded";
  CMAddKey(setting.get(), "InstanceID", id.c_str(), CMPI_chars);
  CMPIValue ref;
  ref.ref = setting.get();
  CMAddArg(args.get(), "Goal", &ref, CMPI_ref);
  goal = goalOf(pool.get(), args.get());
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(goal.package, 1);
  EXPECT_EQ(goal.data, 2);

  // Of another class than the goal class.
  goalOf(pool.get(), args.get(), kCapsLibrary, "KELVA_OtherSetting");
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(message(),
            "KELVA_ConcretePool: parameter Goal class name must be class "
            "'KELVA_OtherSetting'");
  // Naming a setting that is not there: the object manager's failure.
  Held<CMPIArgs> missing{CMNewArgs(broker, nullptr)};
  Held<CMPIObjectPath> nowhere{path(kSettingClass, "aggr1:RAID_9")};
  ref.ref = nowhere.get();
  CMAddArg(missing.get(), "Goal", &ref, CMPI_ref);
  goal = goalOf(pool.get(), missing.get());
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
  message();

  // A Goal that is a text.
  Held<CMPIArgs> text{CMNewArgs(broker, nullptr)};
  CMAddArg(text.get(), "Goal", "aggr1", CMPI_chars);
  goal = goalOf(pool.get(), text.get());
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(message(), "Goal Must be type Reference");
  EXPECT_EQ(goal.package, 99);  // untouched
}

TEST_P(CommonCapsTest, DefaultGoalFailures) {
  Held<CMPIArgs> none{CMNewArgs(broker, nullptr)};
  // A library that is not there.
  Held<CMPIObjectPath> pool{path("KELVA_ConcretePool", "aggr1")};
  goalOf(pool.get(), none.get(), "libnosuchcaps.so");
  EXPECT_EQ(message().rfind("Failed to get pool capabilties path: ", 0), 0u);
  // A source that is no pool has no capabilities.
  Held<CMPIObjectPath> other{path("KELVA_StorageSetting", "aggr1")};
  goalOf(other.get(), none.get());
  EXPECT_EQ(message(), "No capabilities instances available for settings generation ");
  // A pool that is gone: the library's failure.
  Held<CMPIObjectPath> gone{path("KELVA_ConcretePool", "aggr9")};
  goalOf(gone.get(), none.get());
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(message(), "No concrete pool aggr9");
}

TEST_P(CommonCapsTest, CapabilitiesOfAnExistingPool) {
  Held<CMPIObjectPath> pool{path("KELVA_ConcretePool", "aggr2")};
  uint16_t data = 0;
  uint16_t package = 0;
  getExistingConcretePoolCaps(broker, ctx, pool.get(), filer(), nullptr, &data, &package, &status);
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_EQ(data, 2);
  EXPECT_EQ(package, 4);
  Held<CMPIObjectPath> trad{path("KELVA_ConcretePool", "trad1")};
  getExistingConcretePoolCaps(broker, ctx, trad.get(), filer(), nullptr, &data, &package, &status);
  EXPECT_EQ(data, 1);  // RAID_4:Unmirrored
  EXPECT_EQ(package, 1);
  // Not a pool: no capabilities instance.
  Held<CMPIObjectPath> other{path("KELVA_StorageSetting", "aggr2")};
  getExistingConcretePoolCaps(broker, ctx, other.get(), filer(), nullptr, &data, &package, &status);
  EXPECT_EQ(message(),
            "There are no instances of KELVA_ConcretePoolStorageCapabilities for the passed in "
            "KELVA_ConcretePool");
}

TEST_P(CommonCapsTest, ConsumedSpaceAndItsApproximation) {
  List volumes(freeVolumeInfo);
  Record record;
  ASSERT_NE(getVolumeInfo(record.get(), filer(), nullptr, nullptr, "aggr1", 3, 0, volumes.list), 0);
  auto vols = volumes.records<KELVAVolume>();
  ASSERT_EQ(vols.size(), 2u);
  // Figure 6 in blocks x 512: the flexible volume's size.
  EXPECT_EQ(getVolumeTotalSpaceConsumed(broker, filer(), vols[0], record.get()), 100 * G);
  EXPECT_FALSE(record.failed());

  // Off line: "vol size: Vari volume 'volB' has size 50g.\n" gives 50 x 2^30, and the
  // reserve query's failure stays in the record.
  offline("volB");
  EXPECT_EQ(getVolumeTotalSpaceConsumed(broker, filer(), vols[1], record.get()), 50 * G);
  EXPECT_TRUE(record.failed());
  EXPECT_THAT(warnings(),
              ::testing::ElementsAre(
                  "Volume unavailable or offline -attempting to approximate total size"));

  // No connection can be made for the command line: that failure replaces the query's.
  Filer hostless = *filer();
  hostless.host = nullptr;
  Record noConnection;
  EXPECT_EQ(getVolumeTotalSpaceConsumed(broker, &hostless, vols[1], noConnection.get()), 0u);
  EXPECT_EQ(noConnection.text(), "create server connection failed");

  // A size the console prints in k is no approximation: the output and the reason are logged.
  List small(freeVolumeInfo);
  Record other;
  ASSERT_NE(
      getVolumeInfo(other.get(), filer("cap-big"), nullptr, "small", nullptr, 3, 0, small.list), 0);
  offline("small", "cap-big");
  om->clearRecords();
  EXPECT_EQ(getVolumeTotalSpaceConsumed(broker, filer("cap-big"), small.records<KELVAVolume>()[0],
                                        other.get()),
            0u);
  EXPECT_THAT(warnings(), ::testing::ElementsAre(
                              "Volume unavailable or offline -attempting to approximate total size",
                              "vol size: Vari volume 'small' has size 250000k.\n",
                              "Failed to prepare system-cli call for volume size approximate"));

  // LUNs of a volume, of one path, of no such volume.
  Record luns;
  EXPECT_EQ(getLUNTotalSpaceConsumed(filer(), "volA", nullptr, luns.get()), 30 * G);
  EXPECT_EQ(getLUNTotalSpaceConsumed(filer(), nullptr, "/vol/volB/lun2", luns.get()), 5 * G);
  EXPECT_EQ(getLUNTotalSpaceConsumed(filer(), "volZ", nullptr, luns.get()), 0u);
  EXPECT_FALSE(luns.failed());
}

TEST_P(CommonCapsTest, TheCommandLineAnswersOverHttpToo) {
  filersim::HttpServer http(*sim, "cap-a");
  Filer viaHttp = *filer();
  viaHttp.host = const_cast<char *>("127.0.0.1");
  viaHttp.connParam2 = http.port();
  Record dropped;
  FilerCache_deleteEntry(&viaHttp, dropped.get());  // read through this transport only
  List volumes(freeVolumeInfo);
  Record record;
  ASSERT_NE(getVolumeInfo(record.get(), &viaHttp, nullptr, "volB", nullptr, 3, 0, volumes.list), 0)
      << record.text();
  offline("volB");
  EXPECT_EQ(getVolumeTotalSpaceConsumed(broker, &viaHttp, volumes.records<KELVAVolume>()[0],
                                        record.get()),
            50 * G);
  EXPECT_TRUE(record.failed());
  FilerCache_deleteEntry(&viaHttp, dropped.get());
}

TEST_P(CommonCapsTest, ConcretePoolsOfAFiler) {
  // aggr1: 210 managed + volA 100 + volB 50; trad1: 10 + lun4 3; aggr2: 20 + volC 10.
  List list(freePools);
  EXPECT_EQ(getConcretePoolsInFiler(broker, &status, filer(), nullptr, nullptr, 0, list.list), 3);
  ASSERT_EQ(status.rc, CMPI_RC_OK) << message();
  auto all = pools(list);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_STREQ(all[0]->poolName, "aggr1");
  EXPECT_STREQ(all[0]->aggrText1, "uuid-aggr1");
  EXPECT_STREQ(all[0]->aggrText2, "online");
  EXPECT_EQ(all[0]->poolKind, 1);
  EXPECT_EQ(all[0]->totalManagedSpace, 210 * G);
  EXPECT_EQ(all[0]->spaceConsumed, 360 * G);
  EXPECT_EQ(all[1]->poolKind, 2);
  EXPECT_EQ(all[1]->totalManagedSpace, 10 * G);
  EXPECT_EQ(all[1]->spaceConsumed, 13 * G);
  EXPECT_EQ(all[2]->spaceConsumed, 30 * G);

  // Brief: no space and no state; selectors given as "" select any, as null does.
  List brief(freePools);
  EXPECT_EQ(getConcretePoolsInFiler(broker, &status, filer(), "", "", 1, brief.list), 3);
  for (ConcretePool *p : pools(brief)) {
    EXPECT_EQ(p->totalManagedSpace, 0u);
    EXPECT_EQ(p->spaceConsumed, 0u);
    EXPECT_EQ(p->aggrText2, nullptr);
  }
  List one(freePools);
  EXPECT_EQ(getConcretePoolsInFiler(broker, &status, filer(), "AGGR2", "", 1, one.list), 1);
  List none(freePools);
  EXPECT_EQ(
      getConcretePoolsInFiler(broker, &status, filer("cap-empty"), nullptr, nullptr, 0, none.list),
      0);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
  EXPECT_TRUE(pools(none).empty());

  // The third pool's volume is off line: the first two stay, the result is 0.
  offline("volC");
  List partial(freePools);
  EXPECT_EQ(getConcretePoolsInFiler(broker, &status, filer(), nullptr, nullptr, 0, partial.list),
            0);
  EXPECT_NE(message().find("volC"), std::string::npos);
  ASSERT_EQ(pools(partial).size(), 2u);
  EXPECT_STREQ(pools(partial)[1]->poolName, "trad1");

  // A record or copy that cannot be allocated.
  for (unsigned long long nth = 1; nth <= 3; ++nth) {
    List failing(freePools);
    List aggrs(freeAggregateInfo);
    Record read;
    ASSERT_NE(getAggregateInfo(read.get(), filer(), "trad1", nullptr, 3, 1, aggrs.list), 0);
    Record made;
    {
      pktest::FailingAllocation fail(nth);
      getConcretePoolsFromAggregateInfo(broker, filer(), made.get(), 1, aggrs.list, failing.list);
    }
    EXPECT_EQ(made.text(), "KELVA_ConcretePool Insufficient memory") << nth;
    EXPECT_TRUE(pools(failing).empty());
  }
}

TEST_P(CommonCapsTest, ManagedSpacesAndPoolKinds) {
  uint64_t consumed = 1;
  uint64_t managed = 1;
  Record record;
  KELVAAggregate odd = *aggr("aggr1");
  odd.kind = 5;
  getConcretePoolManagedSpaces(broker, filer(), &odd, &consumed, &managed, record.get());
  EXPECT_EQ(record.text(), "Unable to discern if Concrete pool is a tradional volume or aggregate");
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(managed, 1u);

  Held<CMPIObjectPath> a{path("KELVA_ConcretePool", "aggr2")};
  EXPECT_EQ(getPoolType(broker, a.get(), filer(), &status), 1);
  Held<CMPIObjectPath> t{path("KELVA_ConcretePool", "trad1")};
  EXPECT_EQ(getPoolType(broker, t.get(), filer(), &status), 2);
  EXPECT_EQ(status.rc, CMPI_RC_OK) << message();
  Held<CMPIObjectPath> gone{path("KELVA_ConcretePool", "aggr9")};
  EXPECT_EQ(getPoolType(broker, gone.get(), filer(), &status), 0);
  EXPECT_EQ(message(), "KELVA_VolumeAllocatedFromPool Pool is no longer available");
  Held<CMPIObjectPath> bad{CMNewObjectPath(broker, "root/kelva", "KELVA_ConcretePool", nullptr)};
  CMAddKey(bad.get(), "InstanceID", "no-system-here", CMPI_chars);
  EXPECT_EQ(getPoolType(broker, bad.get(), filer(), &status), 0);
  EXPECT_EQ(message(), "KELVA_VolumeAllocatedFromPool Insufficient memory");
}

CIMOM_INSTANTIATE(CommonCapsTest);

}  // namespace
