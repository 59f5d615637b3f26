// Storage records through the filer cache, and the live storage queries, against
// the default scenario's simulated filers, in process and over HTTP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "filersim/filersim.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsistorage.h"
#include "wbemkelvai/wsitesting.h"

namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr uint64_t GB = 1024ull * 1024 * 1024;
constexpr uint64_t kDisk = 136 * GB;

enum class Transport { InProcess, Http };

// A list that frees its records with the given function.
struct List {
  explicit List(void (*freeList)(WSIList *)) : list(WSIList_new()), release(freeList) {}
  ~List() { release(list); }
  template <class T>
  std::vector<T *> records() {
    std::vector<T *> out;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      out.push_back(static_cast<T *>(WSIList_getElement(p)));
    }
    return out;
  }
  WSIList *list;
  void (*release)(WSIList *);
};

void freeTexts(WSIList *list) { WSIList_free(list, wsifree); }

std::vector<std::string> texts(WSIList *list) {
  std::vector<std::string> out;
  for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
    out.emplace_back(static_cast<const char *>(WSIList_getElement(p)));
  }
  return out;
}

template <class T, class F>
std::vector<std::string> namesOf(const std::vector<T *> &records, F field) {
  std::vector<std::string> out;
  out.reserve(records.size());
  for (T *r : records) out.emplace_back(field(r));
  return out;
}

struct Status {
  KELVAStatus s = KELVA_STATUS_INIT;
  ~Status() { clearKELVAStatus(&s); }
  KELVAStatus *operator&() { return &s; }
  bool failed() const { return checkStatus(&s) != 0; }
  std::string text() const { return s.message != nullptr ? s.message : ""; }
};

class StorageTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    sim_ = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    if (GetParam() == Transport::InProcess) sim_->registerInProcess();
    for (const char *name : {"kelva-a", "kelva-b"}) {
      Reach &r = reach_[std::string(name) == "kelva-a" ? 0 : 1];
      r.systemId = sim_->systemId(name);
      r.user = sim_->userName(name);
      r.password = sim_->password(name);
      if (GetParam() == Transport::InProcess) {
        r.host = sim_->host(name);
      } else {
        r.http = std::make_unique<filersim::HttpServer>(*sim_, name);
        r.host = "127.0.0.1";
        r.port = r.http->port();
      }
      r.filer = Filer{r.systemId.data(),
                      r.host.data(),
                      r.user.data(),
                      r.password.data(),
                      WSI_TRANSPORT_HTTP,
                      r.port,
                      5};
    }
  }
  void TearDown() override {
    for (Reach &r : reach_) {
      Status status;
      FilerCache_deleteEntry(&r.filer, &status);  // the cache is process-wide
      r.http.reset();
    }
    sim_.reset();
  }

  const Filer *a() { return &reach_[0].filer; }
  const Filer *b() { return &reach_[1].filer; }
  std::unique_ptr<WSIServerInfo, void (*)(WSIServerInfo *)> connect(const Filer *f) {
    return {
        createServerInfo(f->host, f->userName, f->password, 5, WSI_TRANSPORT_HTTP, f->connParam2),
        destroyServerInfo};
  }
  // Sends a request with string parameters through the library, as a provider would.
  bool send(const char *api, const std::vector<std::pair<const char *, std::string>> &params) {
    auto server = connect(a());
    WSIElement *request = createElement(api);
    for (const auto &[name, value] : params) addStringElement(request, name, value.c_str());
    WSIElement *answer = invokeServerElement(server.get(), request);
    bool passed = checkResultStatus(answer) == 1;
    freeElement(answer);
    freeElement(request);
    return passed;
  }
  std::vector<std::string> volumeNames(int fresh = 0) {
    List list(freeVolumeInfo);
    Status status;
    EXPECT_TRUE(getVolumeInfo(&status, a(), nullptr, nullptr, nullptr, 3, fresh, list.list))
        << status.text();
    return namesOf(list.records<KELVAVolume>(), [](KELVAVolume *v) { return v->name; });
  }
  std::vector<std::string> igroupNames() {
    Status status;
    WSIList *list = getIGroupInfo(a(), nullptr, nullptr, nullptr, nullptr, nullptr, &status);
    EXPECT_NE(list, nullptr) << status.text();
    std::vector<std::string> names;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      names.emplace_back(static_cast<KELVAIGroup *>(WSIList_getElement(p))->name);
    }
    freeIGroupInfo(list);
    return names;
  }

  struct Reach {
    std::string systemId, host, user, password;
    int port = 0;
    std::unique_ptr<filersim::HttpServer> http;
    Filer filer{};
  };
  std::unique_ptr<filersim::Simulator> sim_;
  Reach reach_[2];
};

TEST_P(StorageTest, AggregatesCarryTheirFiguresAndFollowTheSelectors) {
  List all(freeAggregateInfo);
  Status status;
  ASSERT_TRUE(getAggregateInfo(&status, a(), nullptr, nullptr, 3, 0, all.list)) << status.text();
  auto aggrs = all.records<KELVAAggregate>();
  ASSERT_EQ(aggrs.size(), 3u);
  EXPECT_STREQ(aggrs[0]->name, "aggr0");
  EXPECT_EQ(aggrs[0]->kind, 1);
  EXPECT_EQ(aggrs[0]->size, 2 * kDisk);
  EXPECT_EQ(aggrs[0]->managedSpace, 2 * kDisk + 2 * kDisk / 20);
  EXPECT_EQ(aggrs[0]->usedSpace, 150 * GB);  // vol0 and volB
  EXPECT_EQ(aggrs[0]->availableSpace, 2 * kDisk - 150 * GB);
  EXPECT_EQ(aggrs[0]->hasRaidTW, 1);
  EXPECT_EQ(aggrs[0]->hasRaid4 + aggrs[0]->hasRaid0 + aggrs[0]->mixedRaid, 0);
  EXPECT_EQ(aggrs[0]->volumeCount, 2);
  EXPECT_STREQ(aggrs[1]->mirrorStatus, "mirrored");
  EXPECT_EQ(aggrs[1]->plexCount, 2);
  EXPECT_EQ(aggrs[1]->raidGroupCount, 2);
  EXPECT_EQ(aggrs[1]->diskCount, 6);
  EXPECT_EQ(aggrs[1]->hasRaid4, 1);
  EXPECT_EQ(aggrs[2]->kind, 2);
  EXPECT_STREQ(aggrs[2]->raidStatus, "reconstruct");
  EXPECT_STREQ(aggrs[2]->uuid, "a1c5e0f2-0003-11dd-9a1b-00a09800aaaa");

  List aggregatesOnly(freeAggregateInfo), traditionalOnly(freeAggregateInfo),
      byUuid(freeAggregateInfo), brief(freeAggregateInfo), none(freeAggregateInfo);
  ASSERT_TRUE(getAggregateInfo(&status, a(), nullptr, nullptr, WSI_AGGR_KIND_AGGREGATE, 0,
                               aggregatesOnly.list));
  ASSERT_TRUE(getAggregateInfo(&status, a(), nullptr, nullptr, WSI_AGGR_KIND_TRADITIONAL, 0,
                               traditionalOnly.list));
  ASSERT_TRUE(getAggregateInfo(&status, a(), nullptr, "A1C5E0F2-0002-11DD-9A1B-00A09800AAAA", 3, 0,
                               byUuid.list));
  ASSERT_TRUE(getAggregateInfo(&status, a(), "AGGR0", nullptr, 3, 1, brief.list));
  ASSERT_TRUE(getAggregateInfo(&status, a(), "nothing", nullptr, 3, 1, none.list));
  auto name = [](KELVAAggregate *r) { return r->name; };
  EXPECT_THAT(namesOf(aggregatesOnly.records<KELVAAggregate>(), name),
              ElementsAre("aggr0", "aggr1"));
  EXPECT_THAT(namesOf(traditionalOnly.records<KELVAAggregate>(), name), ElementsAre("tradvol1"));
  EXPECT_THAT(namesOf(byUuid.records<KELVAAggregate>(), name), ElementsAre("aggr1"));
  ASSERT_EQ(brief.records<KELVAAggregate>().size(), 1u);
  KELVAAggregate *briefAggr = brief.records<KELVAAggregate>()[0];
  EXPECT_EQ(briefAggr->size, 2 * kDisk);
  EXPECT_EQ(briefAggr->managedSpace + briefAggr->usedSpace + briefAggr->availableSpace, 0u);
  EXPECT_TRUE(WSIList_isEmpty(none.list));
  EXPECT_FALSE(status.failed());

  // The other filer has its own data (the cache is per filer).
  List other(freeAggregateInfo);
  ASSERT_TRUE(getAggregateInfo(&status, b(), nullptr, nullptr, 3, 0, other.list));
  ASSERT_EQ(other.records<KELVAAggregate>().size(), 1u);
  EXPECT_STREQ(other.records<KELVAAggregate>()[0]->mirrorStatus, "mirror degraded");
}

TEST_P(StorageTest, PlexRaidGroupAndDiskNamesFollowTheAggregateLayout) {
  Status status;
  List plexes(freeTexts), groups(freeTexts), disks(freeTexts), aggrDisks(freeTexts),
      allDisks(freeTexts), noPlexes(freeTexts);
  ASSERT_TRUE(getAllPlexNamesInAggregate(&status, a(), "aggr1", plexes.list));
  EXPECT_THAT(texts(plexes.list), ElementsAre("/aggr1/plex0", "/aggr1/plex1"));
  ASSERT_TRUE(getAllRAIDNamesInPlex(&status, a(), "/aggr1/plex1", groups.list));
  EXPECT_THAT(texts(groups.list), ElementsAre("/aggr1/plex1/rg0"));
  ASSERT_TRUE(getAllDiskNamesInRAID(&status, a(), "/aggr1/plex1/rg0", disks.list));
  EXPECT_THAT(texts(disks.list), ElementsAre("0c.16", "0c.17", "0c.18"));
  ASSERT_TRUE(getAllDiskNames(&status, a(), "aggr1", nullptr, nullptr, aggrDisks.list));
  EXPECT_EQ(texts(aggrDisks.list).size(), 6u);
  ASSERT_TRUE(getAllDiskNames(&status, a(), nullptr, nullptr, nullptr, allDisks.list));
  EXPECT_EQ(texts(allDisks.list).size(), 18u);  // spares and broken disks too
  ASSERT_TRUE(getAllPlexNamesInAggregate(&status, a(), "nothing", noPlexes.list));
  EXPECT_TRUE(WSIList_isEmpty(noPlexes.list));
  EXPECT_FALSE(status.failed());
}

TEST_P(StorageTest, DiskStateListsIncludeAndExclude) {
  static const char *const spare[] = {"spare", ""};
  static const char *const busy[] = {"zeroing", "copy", "reconstructing", "pending", ""};
  static const char *const broken[] = {"broken", ""};
  static const char *const presentOrSpare[] = {"PRESENT", "spare", ""};
  Status status;
  auto names = [&](const char *name, const char *const *in, const char *const *out) {
    List list(freeDiskInfo);
    EXPECT_TRUE(getDiskInfo(&status, a(), name, in, out, list.list)) << status.text();
    return namesOf(list.records<KELVADisk>(), [](KELVADisk *d) { return d->name; });
  };
  EXPECT_THAT(names(nullptr, spare, nullptr), ElementsAre("0a.20", "0a.21"));
  EXPECT_THAT(names(nullptr, busy, nullptr), UnorderedElementsAre("0c.18", "0b.20", "0d.20"));
  EXPECT_EQ(names(nullptr, nullptr, broken).size(), 17u);
  EXPECT_EQ(names(nullptr, presentOrSpare, nullptr).size(), 8u);
  EXPECT_THAT(names(nullptr, spare, spare), ElementsAre());
  EXPECT_THAT(names("0a.16", nullptr, nullptr), ElementsAre("0a.16"));

  List one(freeDiskInfo), sp(freeDiskInfo);
  ASSERT_TRUE(getDiskInfo(&status, a(), "0d.17", nullptr, nullptr, one.list));
  KELVADisk *d = one.records<KELVADisk>().at(0);
  EXPECT_STREQ(d->state, "present");
  EXPECT_EQ(d->size, 272 * GB);
  EXPECT_EQ(d->usedSize, 272 * GB);
  EXPECT_STREQ(d->aggregateName, "tradvol1");
  EXPECT_STREQ(d->plexName, "/tradvol1/plex0");
  EXPECT_STREQ(d->raidGroupName, "/tradvol1/plex0/rg0");
  EXPECT_STREQ(d->diskType, "SATA");
  ASSERT_TRUE(getDiskInfo(&status, a(), "0a.20", nullptr, nullptr, sp.list));
  KELVADisk *spareDisk = sp.records<KELVADisk>().at(0);
  EXPECT_EQ(spareDisk->usedSize, 0u);
  EXPECT_EQ(spareDisk->aggregateName, nullptr);
}

TEST_P(StorageTest, VolumesFollowTheirSelectors) {
  EXPECT_THAT(volumeNames(), ElementsAre("vol0", "volA", "volB", "volOld", "tradvol1"));
  Status status;
  auto select = [&](const char *id, const char *name, const char *aggr, int kinds) {
    List list(freeVolumeInfo);
    EXPECT_TRUE(getVolumeInfo(&status, a(), id, name, aggr, kinds, 0, list.list)) << status.text();
    return namesOf(list.records<KELVAVolume>(), [](KELVAVolume *v) { return v->name; });
  };
  EXPECT_THAT(select(nullptr, nullptr, nullptr, WSI_VOLUME_KIND_TRADITIONAL),
              ElementsAre("tradvol1"));
  EXPECT_THAT(select(nullptr, nullptr, "aggr1", 3), ElementsAre("volA", "volOld"));
  EXPECT_THAT(select("0f2e6a40-2222-11dd-9a1b-00a09800aaaa", nullptr, nullptr, 3),
              ElementsAre("volA"));
  EXPECT_THAT(select("volB", nullptr, nullptr, 3), ElementsAre("volB"));
  EXPECT_THAT(select(nullptr, "volB", "aggr1", 3), ElementsAre());

  List one(freeVolumeInfo);
  ASSERT_TRUE(getVolumeInfo(&status, a(), nullptr, "volA", nullptr, 3, 0, one.list));
  KELVAVolume *v = one.records<KELVAVolume>().at(0);
  EXPECT_STREQ(v->uuid, "0f2e6a40-2222-11dd-9a1b-00a09800aaaa");
  EXPECT_STREQ(v->systemId, "0118054321");
  EXPECT_STREQ(v->aggregateName, "aggr1");
  EXPECT_STREQ(v->raidType, "raid4");
  EXPECT_EQ(v->kind, 1);
  EXPECT_EQ(v->size, 200 * GB);
  EXPECT_EQ(v->used * 8, 60 * GB);
  EXPECT_EQ(v->free * 8, 120 * GB);  // size less the 10 % snapshot reserve and the used space
  EXPECT_EQ(v->snapshotReserve, 20 * GB);
  EXPECT_EQ(v->snapshotCount, 2);
  EXPECT_EQ(v->qtreeCount, 2);
  EXPECT_EQ(v->sealmode + v->isRoot, 0);

  char *root = getRootVolumeName(&status, a());
  EXPECT_STREQ(root, "vol0");
  wsifree(root);
  EXPECT_FALSE(status.failed());
}

TEST_P(StorageTest, LunsFollowTheirFiltersAndSerialNumbersFindPaths) {
  Status status;
  auto select = [&](const char *path, const char *volume, const char *serial, const char *os) {
    List list(freeLunInfo);
    EXPECT_TRUE(getLunInfo(&status, a(), path, volume, serial, 0, os, list.list)) << status.text();
    return namesOf(list.records<KELVALun>(), [](KELVALun *l) { return l->path; });
  };
  EXPECT_EQ(select(nullptr, nullptr, nullptr, nullptr).size(), 5u);
  EXPECT_THAT(select(nullptr, "volA", nullptr, nullptr),
              ElementsAre("/vol/volA/lun1", "/vol/volA/lun1clone", "/vol/volA/q1/lun3"));
  EXPECT_THAT(select(nullptr, nullptr, "*9t", nullptr), ElementsAre("/vol/volA/q1/lun3"));
  EXPECT_THAT(select(nullptr, nullptr, nullptr, "linux"),
              ElementsAre("/vol/volA/q1/lun3", "/vol/volOld/lunOld"));
  EXPECT_THAT(select("/vol/VOLA/lun1", nullptr, nullptr, nullptr),
              ElementsAre());  // paths are exact

  List clone(freeLunInfo);
  ASSERT_TRUE(
      getLunInfo(&status, a(), "/vol/volA/lun1clone", nullptr, nullptr, 1, nullptr, clone.list));
  KELVALun *l = clone.records<KELVALun>().at(0);
  EXPECT_STREQ(l->serialNumber, "C4i/2JZpEk9s");
  EXPECT_STREQ(l->backingSnapshot, "/vol/volA/.snapshot/s1/lun1");
  EXPECT_STREQ(l->volumeName, "volA");
  EXPECT_EQ(l->size, 40 * GB);
  EXPECT_EQ(l->sizeUsed, 1 * GB);
  EXPECT_EQ(l->mapped, 1);
  EXPECT_EQ(l->online, 1);

  char *path = getLunPathBySerialNumber(&status, a(), "C4i/2JZpEk9u");
  EXPECT_STREQ(path, "/vol/tradvol1/lun4");
  wsifree(path);
  EXPECT_EQ(getLunPathBySerialNumber(&status, a(), "no-such-serial"), nullptr);
  EXPECT_FALSE(status.failed());
}

TEST_P(StorageTest, IGroupsFollowTheirFilters) {
  EXPECT_THAT(igroupNames(), ElementsAre("ig_win", "ig_fc", "ig_linux", "ig_empty"));
  Status status;
  auto select = [&](const char *type, const char *name, const char *initiator, const char *lun,
                    const char *os) {
    WSIList *list = getIGroupInfo(a(), type, name, initiator, lun, os, &status);
    std::vector<std::string> names;
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      names.emplace_back(static_cast<KELVAIGroup *>(WSIList_getElement(p))->name);
    }
    freeIGroupInfo(list);
    return names;
  };
  EXPECT_THAT(select("fcp", nullptr, nullptr, nullptr, nullptr), ElementsAre("ig_fc"));
  EXPECT_THAT(select(nullptr, "ig_*", "*host-a", nullptr, nullptr),
              ElementsAre("ig_win", "ig_linux"));
  EXPECT_THAT(select(nullptr, nullptr, nullptr, "/vol/volA/*", nullptr),
              ElementsAre("ig_win", "ig_linux"));
  EXPECT_THAT(select(nullptr, nullptr, nullptr, nullptr, "windows"), ElementsAre("ig_win"));

  KELVAIGroup *g = findIGroupInfo(a(), nullptr, "IG_FC", nullptr, nullptr, nullptr, &status);
  ASSERT_NE(g, nullptr) << status.text();
  EXPECT_STREQ(g->name, "ig_fc");
  EXPECT_STREQ(g->type, "fcp");
  EXPECT_STREQ(g->osType, "solaris");
  EXPECT_STREQ(g->portSet, "ps_fc");
  EXPECT_THAT(texts(g->initiators),
              ElementsAre("10:00:00:00:c9:2b:5e:01", "10:00:00:00:c9:2b:5e:02"));
  ASSERT_EQ(WSIList_getLength(g->lunMaps), 2u);
  auto *map = static_cast<KELVALunMap *>(WSIList_getFirstElement(g->lunMaps, nullptr, nullptr));
  EXPECT_STREQ(map->path, "/vol/tradvol1/lun4");
  EXPECT_EQ(map->lunId, 3);
  freeIGroup(g);
  EXPECT_EQ(findIGroupInfo(a(), nullptr, "ig_none", nullptr, nullptr, nullptr, &status), nullptr);
  EXPECT_FALSE(status.failed());
}

TEST_P(StorageTest, ReserveFiguresAreReadLive) {
  auto server = connect(a());
  uint64_t f[10] = {};
  char error[256] = "";
  ASSERT_TRUE(GetVolumeReserveInfo(server.get(), "aggregate", "aggr0", &f[1], &f[2], &f[3], &f[4],
                                   &f[5], &f[6], &f[7], &f[8], &f[9], error, sizeof error))
      << error;
  EXPECT_EQ(f[8], 2 * kDisk / 512);
  EXPECT_EQ(f[9], 5u);
  ASSERT_TRUE(GetVolumeReserveInfo(server.get(), "volume", "volA", &f[1], &f[2], &f[3], &f[4],
                                   &f[5], &f[6], &f[7], &f[8], &f[9], error, sizeof error));
  EXPECT_EQ(f[2], 20 * GB);
  EXPECT_EQ(f[4], 20 * GB);
  EXPECT_EQ(f[5], 25 * GB);
  EXPECT_EQ(f[6], 200 * GB);
  char small[12];
  EXPECT_FALSE(GetVolumeReserveInfo(server.get(), "volume", "nothing", nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, small,
                                    sizeof small));
  EXPECT_EQ(std::string(small), (reach_[0].host + ": ").substr(0, 11));  // cut, and terminated

  // The flexible-volume query finds its filer through the record's identifying fields.
  List vols(freeVolumeInfo);
  Status status;
  ASSERT_TRUE(getVolumeInfo(&status, a(), nullptr, nullptr, nullptr, 3, 0, vols.list));
  auto records = vols.records<KELVAVolume>();
  auto reserve = [&](KELVAVolume *v, const char *uuid, Status &s) {
    uint64_t g[10] = {};
    GetVariVolumeReserveInfo(uuid, v->name, v->systemId, &g[1], &g[2], &g[3], &g[4], &g[5], &g[6],
                             &g[7], &g[8], &g[9], &s);
    return g[6];
  };
  Status ok, traditional, offline, replaced;
  EXPECT_EQ(reserve(records[1], records[1]->uuid, ok) * 512, 200 * GB);
  EXPECT_FALSE(ok.failed()) << ok.text();
  reserve(records[4], records[4]->uuid, traditional);
  EXPECT_THAT(traditional.text(), ::testing::HasSubstr("not a flexible volume"));
  reserve(records[3], records[3]->uuid, offline);
  EXPECT_THAT(offline.text(), ::testing::HasSubstr("is not online"));
  reserve(records[1], "another-uuid", replaced);
  EXPECT_THAT(replaced.text(), ::testing::HasSubstr("no longer has the id"));
}

TEST_P(StorageTest, PortalTagsAndSnmpTablesComeFromTheModel) {
  auto server = connect(a());
  uint32_t tag = 0;
  EXPECT_EQ(getTargetPortalTagFromPortalIndex(server.get(), 2, &tag), 1);
  EXPECT_EQ(tag, 1001u);
  EXPECT_EQ(getTargetPortalTagFromPortalIndex(server.get(), 9, &tag), 0);
  EXPECT_EQ(getTargetPortalTagFromTargetPort(server.get(), "3261"), 1002);
  EXPECT_EQ(getTargetPortalTagFromTargetPort(server.get(), "3260"), 1000);
  EXPECT_EQ(getTargetPortalTagFromTargetPort(server.get(), "80"), -1);
  EXPECT_EQ(getTargetPortalTagFromTargetPort(server.get(), "x"), -1);

  // The session's portal value leads to its portal entry and tag.
  char *count = nullptr, *session = nullptr, *candidate = nullptr, *maxConn = nullptr;
  ASSERT_EQ(getObjectID1(server.get(), ".1.3.6.1.3.9999.1.2.1.1.7", 1, &count), 1);
  EXPECT_STREQ(count, "3");
  ASSERT_EQ(getObjectID2(server.get(), ".1.3.6.1.3.9999.1.12.1.1.5.1.1", 7, 1, &session), 1);
  ASSERT_EQ(getObjectID1(server.get(), ".1.3.6.1.3.9999.1.3.1.1.5.1.1", 2, &candidate), 1);
  EXPECT_STREQ(session, candidate);
  ASSERT_EQ(getObjectID2(server.get(), ".1.3.6.1.3.9999.1.6.1.1.11", 1, 1, &maxConn), 1);
  EXPECT_STREQ(maxConn, "4");
  for (char *t : {count, session, candidate, maxConn}) wsifree(t);
  EXPECT_EQ(getObjectID1(server.get(), ".1.3.6.1.3.9999.1.3.1.1.5.1.1", 4, nullptr), 0);

  List addresses(freeTexts), empty(freeTexts), failed(freeTexts);
  Status status;
  ASSERT_TRUE(
      getNextObjectIDValues(&status, server.get(), ".1.3.6.1.2.1.4.20.1.1", addresses.list));
  EXPECT_THAT(texts(addresses.list),
              ElementsAre("127.0.0.1", "192.0.2.21", "198.51.100.21", "198.51.100.121"));
  ASSERT_TRUE(getNextObjectIDValues(&status, server.get(), ".1.3.6.1.9", empty.list));
  EXPECT_TRUE(WSIList_isEmpty(empty.list));
  sim_->setFault("kelva-a", "snmp-get-next", filersim::Fault::fail(13999, "agent down", 1));
  EXPECT_FALSE(getNextObjectIDValues(&status, server.get(), ".1.3.6.1.2.1.4.20.1.1", failed.list));
  EXPECT_THAT(status.text(), ::testing::HasSubstr("agent down"));
  EXPECT_TRUE(WSIList_isEmpty(failed.list));

  auto other = connect(b());  // iSCSI is not enabled there
  EXPECT_EQ(getTargetPortalTagFromPortalIndex(other.get(), 1, &tag), 0);
  EXPECT_EQ(getObjectID1(other.get(), ".1.3.6.1.3.9999.1.2.1.1.7", 1, nullptr), 0);
}

TEST_P(StorageTest, CachedDataIsServedUntilFreshIsAskedFor) {
  EXPECT_EQ(volumeNames().size(), 5u);
  int requests = sim_->requestCount("kelva-a");
  sim_->mutate("kelva-a",
               [](nlohmann::json &f) { f["storage"]["volumes"][2]["name"] = "volRenamedBehind"; });
  EXPECT_THAT(volumeNames(), ::testing::Contains("volB"));  // from the cache
  Status status;
  char *root = getRootVolumeName(&status, a());
  wsifree(root);
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests);
  EXPECT_THAT(volumeNames(1), ::testing::Contains("volRenamedBehind"));  // read now

  // A filer that goes away leaves what was read in use; what was never read fails.
  sim_->setOnline("kelva-a", false);
  EXPECT_EQ(volumeNames(1).size(), 5u);
  List disks(freeDiskInfo);
  EXPECT_FALSE(getDiskInfo(&status, a(), nullptr, nullptr, nullptr, disks.list));
  EXPECT_TRUE(status.failed());
  EXPECT_TRUE(WSIList_isEmpty(disks.list));
  sim_->setOnline("kelva-a", true);

  // A failed answer is a failure, not stale data.
  Status refused;
  sim_->setFault("kelva-a", "volume-list-info", filersim::Fault::fail(13001, "busy", 1));
  List vols(freeVolumeInfo);
  EXPECT_FALSE(getVolumeInfo(&refused, a(), nullptr, nullptr, nullptr, 3, 1, vols.list));
  EXPECT_THAT(refused.text(), ::testing::HasSubstr("busy"));
}

TEST_P(StorageTest, ChangesSentThroughTheLibraryAreNeverServedStale) {
  EXPECT_EQ(volumeNames().size(), 5u);
  EXPECT_EQ(igroupNames().size(), 4u);
  Status status;
  List before(freeLunInfo), after(freeLunInfo), aggrs(freeAggregateInfo);
  ASSERT_TRUE(getLunInfo(&status, a(), nullptr, nullptr, nullptr, 0, nullptr, before.list));
  EXPECT_EQ(WSIList_getLength(before.list), 5u);

  EXPECT_FALSE(
      send("volume-destroy", {{"name", "volA"}}));  // on line: refused, and nothing changed
  EXPECT_EQ(volumeNames().size(), 5u);
  ASSERT_TRUE(send("volume-destroy", {{"name", "volOld"}}));
  EXPECT_THAT(volumeNames(), ElementsAre("vol0", "volA", "volB", "tradvol1"));
  ASSERT_TRUE(getLunInfo(&status, a(), nullptr, nullptr, nullptr, 0, nullptr, after.list));
  EXPECT_EQ(WSIList_getLength(after.list), 4u);
  KELVAIGroup *fc = findIGroupInfo(a(), nullptr, "ig_fc", nullptr, nullptr, nullptr, &status);
  ASSERT_NE(fc, nullptr);
  EXPECT_EQ(WSIList_getLength(fc->lunMaps), 1u);
  freeIGroup(fc);
  ASSERT_TRUE(getAggregateInfo(&status, a(), "aggr1", nullptr, 3, 0, aggrs.list));
  EXPECT_EQ(aggrs.records<KELVAAggregate>().at(0)->volumeCount, 1);

  ASSERT_TRUE(send("igroup-rename",
                   {{"initiator-group-new-name", "ig_db"}, {"initiator-group-name", "ig_linux"}}));
  EXPECT_THAT(igroupNames(), ElementsAre("ig_win", "ig_fc", "ig_db", "ig_empty"));
  EXPECT_EQ(findIGroupInfo(a(), nullptr, "ig_linux", nullptr, nullptr, nullptr, &status), nullptr);

  ASSERT_TRUE(send("lun-unmap", {{"path", "/vol/volA/lun1"}, {"initiator-group", "ig_win"}}));
  List lun(freeLunInfo);
  ASSERT_TRUE(getLunInfo(&status, a(), "/vol/volA/lun1", nullptr, nullptr, 0, nullptr, lun.list));
  EXPECT_EQ(lun.records<KELVALun>().at(0)->mapped, 0);
  EXPECT_FALSE(status.failed());
}

TEST_P(StorageTest, ALunCommentSetOnTheFilerIsReadBackAndLeavesTheOtherPiecesCached) {
  auto comment = [&](const char *path) {
    List lun(freeLunInfo);
    Status status;
    EXPECT_TRUE(getLunInfo(&status, a(), path, nullptr, nullptr, 0, nullptr, lun.list))
        << status.text();
    auto records = lun.records<KELVALun>();
    return records.empty() ? std::string("<none>") : std::string(records.at(0)->comment);
  };
  EXPECT_EQ(comment("/vol/volA/lun1"), "");
  EXPECT_EQ(igroupNames().size(), 4u);
  int requests = sim_->requestCount("kelva-a");
  ASSERT_TRUE(send("lun-set-comment", {{"path", "/vol/volA/lun1"}, {"comment", "mail store"}}));
  EXPECT_EQ(comment("/vol/volA/lun1"), "mail store");
  EXPECT_EQ(comment("/vol/volA/lun1clone"), "");
  EXPECT_EQ(igroupNames().size(), 4u);
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 2);  // the change and one LUN listing

  // Refusals: no such LUN, no comment given, a comment longer than the filer keeps.
  auto server = connect(a());
  auto refused = [&](const std::vector<std::pair<const char *, std::string>> &params) {
    WSIElement *request = createElement("lun-set-comment");
    for (const auto &[name, value] : params) addStringElement(request, name, value.c_str());
    WSIElement *answer = invokeServerElement(server.get(), request);
    int number = getResultErrorNum(answer);
    freeElement(answer);
    freeElement(request);
    return number;
  };
  EXPECT_EQ(refused({{"path", "/vol/volA/nolun"}, {"comment", "x"}}), 9017);
  EXPECT_EQ(refused({{"path", "/vol/volA/lun1"}}), 13003);
  EXPECT_EQ(refused({{"path", "/vol/volA/lun1"}, {"comment", std::string(256, 'c')}}), 13115);
  ASSERT_TRUE(send("lun-set-comment", {{"path", "/vol/volA/lun1"}, {"comment", ""}}));
  EXPECT_EQ(comment("/vol/volA/lun1"), "");
}

TEST_P(StorageTest, OnlyTheDeclaredPiecesAreReadAgainAfterARequest) {
  EXPECT_EQ(volumeNames().size(), 5u);
  EXPECT_EQ(igroupNames().size(), 4u);
  int requests = sim_->requestCount("kelva-a");
  // Reads change nothing.
  ASSERT_TRUE(send("snapshot-list-info", {{"volume", "volA"}}));
  ASSERT_TRUE(send("system-get-info", {}));
  volumeNames();
  igroupNames();
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 2);
  // Taking a LUN off line changes LUNs only.
  ASSERT_TRUE(send("lun-offline", {{"path", "/vol/volA/lun1"}}));
  volumeNames();
  igroupNames();
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 3);
  ASSERT_TRUE(send("lun-online", {{"path", "/vol/volA/lun1"}}));
  requests += 2;
  // Taking a volume off line changes volumes, not igroups (one already off line is refused).
  ASSERT_TRUE(send("volume-offline", {{"name", "volA"}}));
  EXPECT_EQ(igroupNames().size(), 4u);
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 3);
  List vols(freeVolumeInfo);
  Status status;
  ASSERT_TRUE(getVolumeInfo(&status, a(), nullptr, "volA", nullptr, 3, 0, vols.list));
  EXPECT_STRNE(vols.records<KELVAVolume>().at(0)->state, "online");
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 4);
  // A request the library does not know may have changed anything.
  send("volume-frobnicate", {});
  igroupNames();
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests + 6);
}

TEST_P(StorageTest, AFilerThatDidNotAnswerInTimeIsLeftAloneForAWhile) {
  EXPECT_EQ(volumeNames().size(), 5u);
  Filer quick = *a();
  quick.connParam3 = 1;
  sim_->setFault("kelva-a", "*", filersim::Fault::delay(2500));
  Status status;
  List first(freeVolumeInfo);
  ASSERT_TRUE(getVolumeInfo(&status, &quick, nullptr, nullptr, nullptr, 3, 1, first.list))
      << status.text();
  EXPECT_EQ(WSIList_getLength(first.list), 5u);  // the cached data, the filer being away
  int requests = sim_->requestCount("kelva-a");

  // Within the quiet time nothing is sent: old data where there is some, a clear
  // failure where there is none.
  List again(freeVolumeInfo);
  ASSERT_TRUE(getVolumeInfo(&status, &quick, nullptr, nullptr, nullptr, 3, 1, again.list));
  EXPECT_EQ(WSIList_getLength(again.list), 5u);
  List disks(freeDiskInfo);
  EXPECT_FALSE(getDiskInfo(&status, &quick, nullptr, nullptr, nullptr, disks.list));
  EXPECT_THAT(status.text(), ::testing::HasSubstr("not asked again"));
  Status lockStatus;
  EXPECT_EQ(FilerCache_lockEntry(&quick, &lockStatus), nullptr);
  EXPECT_THAT(lockStatus.text(), ::testing::HasSubstr("not asked again"));
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests);
  sim_->clearFaults();
}

TEST_P(StorageTest, RefusedCredentialsAreReportedNotServedFromTheCache) {
  EXPECT_EQ(volumeNames().size(), 5u);
  std::string wrong = "not-the-password";
  Filer changed = *a();
  changed.password = wrong.data();
  Status status;
  List vols(freeVolumeInfo);
  EXPECT_FALSE(getVolumeInfo(&status, &changed, nullptr, nullptr, nullptr, 3, 1, vols.list));
  EXPECT_THAT(status.text(), ::testing::HasSubstr("refused"));
  EXPECT_TRUE(WSIList_isEmpty(vols.list));
}

TEST_P(StorageTest, ReadersSurviveEveryFailingAllocation) {
  struct Lists {
    List aggrs{freeAggregateInfo}, vols{freeVolumeInfo}, luns{freeLunInfo}, disks{freeDiskInfo},
        oids{freeTexts};
  };
  auto connection = connect(a());
  // Every read goes to the filer: the entry is dropped first.
  auto readAll = [&](Lists &l, KELVAStatus *status) {
    Status ignored;
    FilerCache_deleteEntry(a(), &ignored);
    bool ok = getAggregateInfo(status, a(), nullptr, nullptr, 3, 0, l.aggrs.list) != 0;
    ok = ok && getVolumeInfo(status, a(), nullptr, nullptr, nullptr, 3, 0, l.vols.list) != 0;
    ok = ok && getLunInfo(status, a(), nullptr, nullptr, nullptr, 0, nullptr, l.luns.list) != 0;
    ok = ok && getDiskInfo(status, a(), nullptr, nullptr, nullptr, l.disks.list) != 0;
    WSIList *igroups =
        ok ? getIGroupInfo(a(), nullptr, nullptr, nullptr, nullptr, nullptr, status) : nullptr;
    ok = ok && igroups != nullptr;
    freeIGroupInfo(igroups);
    ok = ok &&
         getNextObjectIDValues(status, connection.get(), ".1.3.6.1.2.1.4.20.1.1", l.oids.list) != 0;
    return ok;
  };
  {
    Lists lists;
    Status status;
    wsiTestFailAllocation(0);
    ASSERT_TRUE(readAll(lists, &status)) << status.text();
  }
  unsigned long long allocations = wsiTestAllocationCount();
  ASSERT_GT(allocations, 20u);
  for (unsigned long long nth = 1; nth <= allocations; ++nth) {
    Lists lists;
    KELVAStatus status = KELVA_STATUS_INIT;
    wsiTestFailAllocation(nth);
    bool ok = readAll(lists, &status);
    wsiTestFailAllocation(0);
    EXPECT_EQ(ok, checkStatus(&status) == 0) << "allocation " << nth;
    if (!ok) {
      EXPECT_TRUE(WSIList_isEmpty(lists.oids.list)) << "allocation " << nth;
    }
    clearKELVAStatus(&status);
  }
}

TEST_P(StorageTest, DeletingAVolumeDropsItFromTheCache) {
  EXPECT_EQ(volumeNames().size(), 5u);
  // Someone else destroyed the volume (the library sent nothing): the provider that
  // knows tells the cache.
  sim_->mutate("kelva-a", [](nlohmann::json &f) {
    auto &vols = f["storage"]["volumes"];
    vols.erase(vols.begin() + 2);
  });
  Status status;
  ASSERT_TRUE(FilerCache_deleteVolume(a(), "VOLB", &status)) << status.text();
  int requests = sim_->requestCount("kelva-a");
  EXPECT_THAT(volumeNames(), ElementsAre("vol0", "volA", "volOld", "tradvol1"));
  EXPECT_EQ(sim_->requestCount("kelva-a"), requests);

  Filer unknown = *a();
  unknown.systemId = const_cast<char *>("never-seen");
  EXPECT_FALSE(FilerCache_deleteVolume(&unknown, "volB", &status));
  EXPECT_TRUE(status.failed());
}

INSTANTIATE_TEST_SUITE_P(Transports, StorageTest,
                         ::testing::Values(Transport::InProcess, Transport::Http),
                         [](const auto &p) {
                           return p.param == Transport::InProcess ? "InProcess" : "Http";
                         });

}  // namespace
