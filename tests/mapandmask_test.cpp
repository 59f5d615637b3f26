// Initiators of a simulated filer: live members of its igroups merged with the
// hardware ID cache, and their deletion from the cache and from every igroup.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blockaccess_filer.h"
#include "blockaccess_support.h"
#include "platform/testhooks.h"
#include "provkit/hwidcache.h"
#include "provkit/initiators.h"
#include "wbemkelvai/wsitesting.h"

namespace {

using blocktest::content;
using blocktest::DataDir;
using blocktest::SimFiler;
using blocktest::Status;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

nlohmann::json scenario() {
  return nlohmann::json::parse(R"({"filers": [{
    "name": "blk", "host": "blk.sim",
    "credentials": {"user": "root", "password": "pw"},
    "identity": {"systemId": "0101"},
    "storage": {"igroups": [
      {"name": "ig1", "type": "iscsi", "osType": "linux", "initiators": ["a", "b"]},
      {"name": "ig2", "type": "fcp", "osType": "windows", "initiators": ["a"]}
    ]}}]})");
}

// A list of initiator records freed with them.
struct Initiators {
  WSIList *list = WSIList_new();
  ~Initiators() { WSIList_free(list, freeKELVAInitiator); }
  Initiators() = default;
  Initiators(const Initiators &) = delete;
  Initiators &operator=(const Initiators &) = delete;
  // "name type os igroup" per record.
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
      auto *i = static_cast<KELVAInitiator *>(WSIList_getElement(at));
      out.push_back(std::string(i->name) + " " + i->type + " " + i->osType + " " + i->igroupName);
    }
    return out;
  }
  std::vector<int> cachedFlags() const {
    std::vector<int> out;
    for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at))
      out.push_back(isCachedInitator(static_cast<KELVAInitiator *>(WSIList_getElement(at))));
    return out;
  }
};

class InitiatorsTest : public ::testing::Test {
 protected:
  DataDir dir_;
  SimFiler blk_{scenario(), "blk"};

  void cache(const char *name, const char *filerId = "0101") {
    Status status;
    Filer other = *blk_.filer();
    other.systemId = const_cast<char *>(filerId);
    addInitiator(&other, name, "iscsi", "hpux", &status);
    ASSERT_FALSE(status.failed()) << status.text();
  }
  std::vector<std::string> initiatorsOf(const char *igroup) {
    nlohmann::json state = blk_.state();
    for (const auto &g : state["storage"]["igroups"])
      if (g["name"] == igroup) return g["initiators"].get<std::vector<std::string>>();
    return {"(no such igroup)"};
  }
};

TEST_F(InitiatorsTest, LiveInitiatorsOncePerIGroupOrOncePerName) {
  Initiators all;
  Status status;
  EXPECT_EQ(getFilerInitiators(blk_.filer(), nullptr, nullptr, nullptr, 0, all.list, &status), 3);
  EXPECT_THAT(all.rows(),
              ElementsAre("a iscsi linux ig1", "b iscsi linux ig1", "a fcp windows ig2"));
  Initiators unique;
  EXPECT_EQ(getFilerInitiators(blk_.filer(), nullptr, nullptr, nullptr, 1, unique.list, &status),
            2);
  EXPECT_THAT(unique.rows(), ElementsAre("a iscsi linux ig1", "b iscsi linux ig1"));
  Initiators filtered;
  EXPECT_EQ(getFilerInitiators(blk_.filer(), "ig2", nullptr, nullptr, 0, filtered.list, &status),
            1);
  Initiators byName;
  EXPECT_EQ(getFilerInitiators(blk_.filer(), nullptr, "b", nullptr, 0, byName.list, &status), 1);
  EXPECT_FALSE(status.failed()) << status.text();
}

TEST_F(InitiatorsTest, CachedInitiatorsJoinTheListUntilAnIGroupHoldsThem) {
  cache("c");
  cache("a");
  cache("d", "0202");  // another filer's
  Initiators all;
  Status status;
  EXPECT_EQ(getAllInitiators(blk_.filer(), nullptr, nullptr, nullptr, 0, all.list, &status), 4);
  EXPECT_FALSE(status.failed()) << status.text();
  EXPECT_THAT(all.rows(), ElementsAre("a iscsi linux ig1", "b iscsi linux ig1", "a fcp windows ig2",
                                      "c iscsi hpux @@CACHED@@"));
  EXPECT_THAT(all.cachedFlags(), ElementsAre(0, 0, 0, 1));
  // a is in an igroup now: the listing dropped it from the file.
  EXPECT_EQ(content(dir_.dat()), "0101|c|hpux|iscsi\n0202|d|hpux|iscsi\n");
}

TEST_F(InitiatorsTest, FiltersApplyToCachedInitiators) {
  cache("c");
  Initiators byIGroup;
  Status status;
  EXPECT_EQ(getAllInitiators(blk_.filer(), "ig1", nullptr, nullptr, 0, byIGroup.list, &status), 2);
  Initiators byOs;
  EXPECT_EQ(getAllInitiators(blk_.filer(), nullptr, nullptr, "hpux", 0, byOs.list, &status), 1);
  EXPECT_THAT(byOs.rows(), ElementsAre("c iscsi hpux @@CACHED@@"));
  Initiators byName;
  EXPECT_EQ(getAllInitiators(blk_.filer(), nullptr, "x*", nullptr, 0, byName.list, &status), 0);
  EXPECT_FALSE(status.failed()) << status.text();
}

TEST_F(InitiatorsTest, AddingTwiceFailsAndCacheFailureKeepsTheLiveRecords) {
  cache("c");
  Status twice;
  addInitiator(blk_.filer(), "c", "iscsi", "hpux", &twice);
  EXPECT_EQ(twice.text(), "HardwareIDCacher: HardwareID already exists - 'c'");

  pk::testing::FaultFileSystem faults;
  faults.fail({pk::testing::FileOp::Read, 1, EIO, "hwidcache.dat"});
  pk::testing::FileSystemInUse inUse(faults);
  Initiators all;
  Status status;
  EXPECT_EQ(getAllInitiators(blk_.filer(), nullptr, nullptr, nullptr, 0, all.list, &status), 3);
  EXPECT_TRUE(status.failed());
  EXPECT_EQ(all.rows().size(), 3u);
  EXPECT_EQ(content(dir_.dat()), "0101|c|hpux|iscsi\n");  // an unreadable cache is not wiped
}

TEST_F(InitiatorsTest, DeleteRemovesFromEveryIGroupAndTheCache) {
  cache("a");
  blk_.forget();
  Status status;
  deleteInitiator(blk_.filer(), "a", &status);
  ASSERT_FALSE(status.failed()) << status.text();
  std::vector<blocktest::Sent> removes = blk_.sent("igroup-remove");
  ASSERT_EQ(removes.size(), 2u);
  EXPECT_THAT(removes[0].params,
              ElementsAre("initiator-group-name=ig1", "initiator=a", "force=true"));
  EXPECT_THAT(removes[1].params,
              ElementsAre("initiator-group-name=ig2", "initiator=a", "force=true"));
  EXPECT_THAT(initiatorsOf("ig1"), ElementsAre("b"));
  EXPECT_THAT(initiatorsOf("ig2"), IsEmpty());
  EXPECT_EQ(content(dir_.dat()), "");
  // The controller library's cached igroups saw the change.
  Initiators all;
  EXPECT_EQ(getAllInitiators(blk_.filer(), nullptr, nullptr, nullptr, 0, all.list, &status), 1);
}

TEST_F(InitiatorsTest, DeleteOfAnUnknownNameSendsNothing) {
  blk_.forget();
  Status status;
  deleteInitiator(blk_.filer(), "zz", &status);
  EXPECT_FALSE(status.failed()) << status.text();
  EXPECT_THAT(blk_.sent("igroup-remove"), IsEmpty());
  deleteCachedInitiator(blk_.filer(), "zz", &status);
  EXPECT_FALSE(status.failed()) << status.text();
}

TEST_F(InitiatorsTest, FilerRefusingTheRemovalIsReported) {
  blk_.sim().setFault("blk", "igroup-remove", filersim::Fault::fail(9007, "not there", 1));
  Status status;
  deleteInitiator(blk_.filer(), "b", &status);
  EXPECT_TRUE(status.failed());
  EXPECT_THAT(status.text(), ::testing::HasSubstr("not there"));
  EXPECT_THAT(initiatorsOf("ig1"), ElementsAre("a", "b"));
}

TEST(InitiatorRecords, CopiesAndTheDefaultOs) {
  KELVAInitiator *i = newKELVAInitiator("n", "t", "g", "o");
  ASSERT_NE(i, nullptr);
  EXPECT_STREQ(i->igroupName, "g");
  EXPECT_STREQ(i->osType, "o");
  EXPECT_EQ(isCachedInitator(i), 0);
  freeKELVAInitiator(i);
  freeKELVAInitiator(nullptr);
  for (unsigned long long nth = 1; nth <= 5; ++nth) {
    wsiTestFailAllocation(nth);
    KELVAInitiator *partial = newKELVAInitiator("n", "t", "g", "o");
    wsiTestFailAllocation(0);
    EXPECT_EQ(partial, nullptr) << nth;
    freeKELVAInitiator(partial);
  }
  EXPECT_STREQ(getDefaultSettingOS(), "default");
  EXPECT_EQ(getDefaultSettingOS(), getDefaultSettingOS());
}

}  // namespace
