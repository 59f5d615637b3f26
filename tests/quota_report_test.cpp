// Quota reports and status: the report started over a volume or a path, paged in
// batches of 100 with user and group filters (over a generated report of 100,000
// lines too), its lines' limits and usage, the filer's failures mid-report, and
// every quota state of a volume.
#include <gmock/gmock.h>
#include <provkit/quota.h>

#include <string>

#include "quota_support.h"

namespace {

using qtest::List;
using qtest::Record;
using qtest::Text;
using ::testing::HasSubstr;

constexpr uint64_t kAll = PK_QUOTA_NO_LIMIT;

nlohmann::json run(int lines, const char *type, const char *target, const char *volume = "volA") {
  return {{"lines", lines},   {"type", type},   {"target", target},
          {"volume", volume}, {"disk-used", 3}, {"files-used", 1}};
}

class QuotaReportTest : public ::testing::Test {
 protected:
  explicit QuotaReportTest(const nlohmann::json &quotas = model()) : f(quotas) {}

  static nlohmann::json model() {
    return {{"rules",
             {{{"type", "user"},
               {"target", "alice"},
               {"volume", "volA"},
               {"disk-limit", "4096"},
               {"file-limit", "200"},
               {"soft-disk-limit", "-"},
               {"soft-file-limit", "150"}},
              {{"type", "user"}, {"target", "*"}, {"volume", "volA"}, {"disk-limit", "100"}},
              {{"type", "group"}, {"target", "alice-team"}, {"volume", "volA"}, {"qtree", "q1"}},
              {{"type", "tree"}, {"target", "/vol/volA/q2"}, {"volume", "volA"}, {"qtree", "q2"}}}},
            {"usage",
             {{{"type", "user"},
               {"target", "alice"},
               {"volume", "volA"},
               {"qtree", ""},
               {"disk-used", 2048},
               {"files-used", 17}},
              {{"type", "user"},
               {"target", "bob"},
               {"volume", "volA"},
               {"qtree", ""},
               {"disk-used", 10},
               {"files-used", 2}}}},
            {"generated", {run(250, "user", "gen%d")}}};
  }

  std::string start(const char *volume, const char *path, Record &record) {
    Text tag(startQuotaReport(&f.a, volume, path, record.get()));
    return tag != nullptr ? tag.get() : "";
  }
  std::string start(const char *volume = nullptr, const char *path = nullptr) {
    Record record;
    std::string tag = start(volume, path, record);
    EXPECT_FALSE(record.failed()) << record.text();
    return tag;
  }

  qtest::QuotaFiler f;
};

TEST_F(QuotaReportTest, StartingNamesTheVolumeOrThePath) {
  std::string tag = start("volA", "q1");
  EXPECT_FALSE(tag.empty());
  EXPECT_EQ(f.lastRequest("quota-report-iter-start"),
            "<quota-report-iter-start><path>/vol/volA/q1</path></quota-report-iter-start>");
  EXPECT_EQ(f.quotas()["open"].size(), 1u);
  endQuotaReport(&f.a, tag.c_str());
  EXPECT_EQ(f.quotas()["open"].size(), 0u);

  start("volA", nullptr);
  EXPECT_EQ(f.lastRequest("quota-report-iter-start"),
            "<quota-report-iter-start><volume>volA</volume></quota-report-iter-start>");
  start(nullptr, "/vol/volA");
  EXPECT_EQ(f.lastRequest("quota-report-iter-start"),
            "<quota-report-iter-start><path>/vol/volA</path></quota-report-iter-start>");
  start(nullptr, nullptr);
  EXPECT_EQ(f.lastRequest("quota-report-iter-start"), "<quota-report-iter-start/>");

  // A volume without lines has no records to report.
  Record none;
  EXPECT_EQ(start("volB", nullptr, none), "");
  EXPECT_EQ(none.text(), "Quota subsystem:'Records' tag missing from iterator start");

  Record refused;
  EXPECT_EQ(start("nosuch", nullptr, refused), "");
  EXPECT_THAT(refused.text(), HasSubstr("No volume named nosuch"));

  const std::string head = "<kelva version=\"1.0\"><results status=\"passed\">";
  f.sim->setFault(
      "kelva-a", "quota-report-iter-start",
      filersim::Fault::answer(head + "<error><reason>quotas are being rebuilt</reason></error>"
                                     "</results></kelva>",
                              1));
  Record error;
  EXPECT_EQ(start("volA", nullptr, error), "");
  EXPECT_EQ(error.text(), "quotas are being rebuilt");
  f.sim->setFault("kelva-a", "quota-report-iter-start",
                  filersim::Fault::answer(head + "<records>3</records></results></kelva>", 1));
  Record noTag;
  EXPECT_EQ(start("volA", nullptr, noTag), "");
  EXPECT_EQ(noTag.text(), "Quota subsystem:'Tag' tag missing from iterator start");
}

TEST_F(QuotaReportTest, LinesCarryKeysLimitsAndUsage) {
  std::string tag = start("volA", nullptr);
  List list(freeQuotaReport);
  Record record;
  uint64_t count = 0;
  EXPECT_EQ(
      nextQuotaReport(&f.a, 50, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      1);
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(count, 100u);  // one batch, however few of its lines were wanted
  auto lines = list.items<QuotaReport>();
  ASSERT_EQ(lines.size(), 100u);
  // The explicit rules first; the default rule stands for bob, who has no rule.
  const QuotaReport *alice = lines[0];
  EXPECT_EQ(getQuotaReportType(alice), PK_QUOTA_TYPE_USER);
  EXPECT_STREQ(getQuotaReportTarget(alice), "alice");
  EXPECT_STREQ(getQuotaReportVolume(alice), "volA");
  EXPECT_EQ(getQuotaReportAbsoluteTree(alice), nullptr);
  EXPECT_EQ(alice->diskUsed, 2097152u);
  EXPECT_EQ(alice->filesUsed, 17u);
  EXPECT_EQ(alice->limits.diskLimit, 4096u * 1024);
  EXPECT_EQ(alice->limits.fileLimit, 200u);
  EXPECT_EQ(alice->limits.softDiskLimit, kAll);
  EXPECT_EQ(alice->limits.softFileLimit, 150u);
  EXPECT_STREQ(getQuotaReportTarget(lines[1]), "bob");
  EXPECT_EQ(lines[1]->limits.diskLimit, 100u * 1024);
  EXPECT_EQ(lines[1]->diskUsed, 10u * 1024);
  EXPECT_EQ(getQuotaReportType(lines[2]), PK_QUOTA_TYPE_GROUP);
  EXPECT_STREQ(getQuotaReportAbsoluteTree(lines[2]), "/vol/volA/q1");
  EXPECT_EQ(getQuotaReportType(lines[3]), PK_QUOTA_TYPE_TREE);
  EXPECT_STREQ(getQuotaReportAbsoluteTree(lines[3]), "/vol/volA/q2");
  EXPECT_STREQ(getQuotaReportTarget(lines[4]), "gen0");
  endQuotaReport(&f.a, tag.c_str());
}

TEST_F(QuotaReportTest, PagesAreBatchesOfAHundred) {
  std::string tag = start("volA", nullptr);
  List list(freeQuotaReport);
  Record record;
  uint64_t count = 0;
  int before = f.requests();
  EXPECT_EQ(
      nextQuotaReport(&f.a, 250, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      1);
  EXPECT_EQ(f.requests() - before, 2);
  EXPECT_EQ(count, 200u);
  // The rest: 54 lines in one batch, then the report says it is exhausted.
  before = f.requests();
  EXPECT_EQ(
      nextQuotaReport(&f.a, kAll, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      0);
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(f.requests() - before, 2);
  EXPECT_EQ(count, 54u);
  EXPECT_EQ(WSIList_getLength(list.get()), 254u);
  EXPECT_EQ(
      nextQuotaReport(&f.a, 100, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      0);
  EXPECT_EQ(count, 0u);
}

TEST_F(QuotaReportTest, FiltersTakeOnlyTheirTypeOfLine) {
  std::string tag = start("volA", nullptr);
  List list(freeQuotaReport);
  Record record;
  uint64_t count = 0;
  // "alice" is in the group's target too, but only user lines pass a user filter.
  nextQuotaReport(&f.a, kAll, tag.c_str(), "alice", nullptr, &count, list.get(), record.get());
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(getQuotaReportType(list.items<QuotaReport>()[0]), PK_QUOTA_TYPE_USER);
  endQuotaReport(&f.a, tag.c_str());

  list.clear();
  tag = start("volA", nullptr);
  nextQuotaReport(&f.a, kAll, tag.c_str(), nullptr, "alice", &count, list.get(), record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(getQuotaReportTarget(list.items<QuotaReport>()[0]), "alice-team");
}

TEST_F(QuotaReportTest, FailuresMidReportKeepWhatWasRead) {
  std::string tag = start("volA", nullptr);
  List list(freeQuotaReport);
  Record record;
  uint64_t count = 0;
  nextQuotaReport(&f.a, 100, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get());
  f.sim->setFault("kelva-a", "quota-report-iter-next",
                  filersim::Fault::fail(13001, "report broke off", 1));
  EXPECT_EQ(
      nextQuotaReport(&f.a, kAll, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      1);
  EXPECT_THAT(record.text(), HasSubstr("report broke off"));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(WSIList_getLength(list.get()), 100u);
  clearKELVAStatus(record.get());

  // A line without its usage fails; the lines before it stay.
  const std::string line =
      "<quota><quota-type>user</quota-type><quota-target>x</quota-target><volume>volA</volume>"
      "<qtree/><disk-limit>-</disk-limit><file-limit>-</file-limit>"
      "<soft-disk-limit>-</soft-disk-limit><soft-file-limit>-</soft-file-limit>";
  f.sim->setFault(
      "kelva-a", "quota-report-iter-next",
      filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\"><records>2"
                              "</records><quotas>" +
                                  line +
                                  "<disk-used>1</disk-used><files-used>1</files-used>"
                                  "</quota>" +
                                  line +
                                  "<disk-used>1</disk-used></quota></quotas></results>"
                                  "</kelva>",
                              1));
  EXPECT_EQ(
      nextQuotaReport(&f.a, 100, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get()),
      1);
  EXPECT_EQ(record.text(),
            "Quota subsystem:Failed to find threshold element in 'quota-get-entry result'");
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(WSIList_getLength(list.get()), 101u);
  clearKELVAStatus(record.get());

  // A tag the filer does not know.
  nextQuotaReport(&f.a, 100, "quota-report-99", nullptr, nullptr, &count, list.get(), record.get());
  EXPECT_THAT(record.text(), HasSubstr("No open quota report"));
  // Ending is quiet even when the filer refuses.
  endQuotaReport(&f.a, "quota-report-99");
  endQuotaReport(&f.a, tag.c_str());
  EXPECT_EQ(f.quotas()["open"].size(), 0u);
}

// A generated report of 100,000 lines: 300 user lines, then one group line, over
// and over; a group filter has to skip three whole batches to find a line.
class LongReportTest : public QuotaReportTest {
 protected:
  LongReportTest() : QuotaReportTest(longModel()) {}
  static nlohmann::json longModel() {
    nlohmann::json runs = nlohmann::json::array();
    for (int i = 0; i < 100000 / 301; ++i) {
      runs.push_back(run(300, "user", "user%d"));
      runs.push_back(run(1, "group", "staff%d"));
    }
    runs.push_back(run(100000 - (100000 / 301) * 301, "user", "tail%d"));
    return {{"generated", runs}};
  }
};

TEST_F(LongReportTest, PagesThroughAHundredThousandLines) {
  std::string tag = start("volA", nullptr);
  List list(freeQuotaReport);
  Record record;
  uint64_t count = 0;
  uint64_t total = 0;
  int batches = 0;
  int more = 1;
  while (more != 0 && !record.failed()) {
    int before = f.requests();
    more =
        nextQuotaReport(&f.a, 100, tag.c_str(), nullptr, nullptr, &count, list.get(), record.get());
    EXPECT_EQ(f.requests() - before, 1);
    total += count;
    ++batches;
    list.clear();  // a reader keeps no more than a batch at a time
  }
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(total, 100000u);
  EXPECT_EQ(batches, 1001);
  endQuotaReport(&f.a, tag.c_str());

  // The group filter skips whole batches, pass after pass, until a line is taken.
  tag = start("volA", nullptr);
  int before = f.requests();
  EXPECT_EQ(
      nextQuotaReport(&f.a, 100, tag.c_str(), nullptr, "staff", &count, list.get(), record.get()),
      1);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(f.requests() - before, 4);
  EXPECT_STREQ(getQuotaReportTarget(list.items<QuotaReport>()[0]), "staff0");
  list.clear();
  nextQuotaReport(&f.a, kAll, tag.c_str(), nullptr, "staff", &count, list.get(), record.get());
  ASSERT_FALSE(record.failed()) << record.text();
  EXPECT_EQ(count, 100000u / 301 - 1);
  list.clear();
  endQuotaReport(&f.a, tag.c_str());

  tag = start("volA", nullptr);
  nextQuotaReport(&f.a, kAll, tag.c_str(), "tail", nullptr, &count, list.get(), record.get());
  EXPECT_EQ(count, 100000u - (100000u / 301) * 301);
  endQuotaReport(&f.a, tag.c_str());
}

// ---- Status ---------------------------------------------------------------------------

struct StatusFree {
  void operator()(QuotaStatus *s) const { freeQuotaStatus(s); }
};
using Status = std::unique_ptr<QuotaStatus, StatusFree>;

TEST_F(QuotaReportTest, EveryQuotaStateIsRead) {
  Record record;
  Status off(getQuotaStatus(&f.a, "volA", record.get()));
  ASSERT_NE(off, nullptr) << record.text();
  EXPECT_EQ(off->state, PK_QUOTA_STATE_OFF);
  EXPECT_EQ(off->hasErrors, 0);
  EXPECT_EQ(off->errors, nullptr);
  EXPECT_EQ(off->percentComplete, 0);

  struct Case {
    const char *text;
    int state;
  };
  for (const Case &c : {Case{"on", 1}, Case{"off", 2}, Case{"resizing", 3}, Case{"initializing", 4},
                        Case{"shutting down", 5}}) {
    f.sim->mutate("kelva-a", [&](nlohmann::json &filer) {
      filer["quotas"]["volumes"]["volA"] = {{"status", c.text}, {"percent-complete", 40}};
    });
    Status read(getQuotaStatus(&f.a, "volA", record.get()));
    ASSERT_NE(read, nullptr) << record.text();
    EXPECT_EQ(read->state, c.state) << c.text;
    EXPECT_EQ(read->percentComplete, 40);
  }
  f.sim->mutate("kelva-a", [&](nlohmann::json &filer) {
    filer["quotas"]["volumes"]["volA"] = {{"status", "on"},
                                          {"quota-errors", "line 3: unknown user"}};
  });
  Status errors(getQuotaStatus(&f.a, "volA", record.get()));
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors->hasErrors, 1);
  EXPECT_STREQ(errors->errors, "line 3: unknown user");

  f.sim->mutate("kelva-a", [&](nlohmann::json &filer) {
    filer["quotas"]["volumes"]["volA"] = {{"status", "upgrading"}};
  });
  EXPECT_EQ(getQuotaStatus(&f.a, "volA", record.get()), nullptr);
  EXPECT_EQ(record.text(), "Quota subsystem:Unexpected quota status state");
  clearKELVAStatus(record.get());
  f.sim->setFault(
      "kelva-a", "quota-status",
      filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\"/></kelva>", 1));
  EXPECT_EQ(getQuotaStatus(&f.a, "volA", record.get()), nullptr);
  EXPECT_EQ(record.text(), "Quota subsystem:Quota Status unknown");
  clearKELVAStatus(record.get());
  EXPECT_EQ(getQuotaStatus(&f.a, "nosuch", record.get()), nullptr);
  EXPECT_THAT(record.text(), HasSubstr("No volume named nosuch"));
}

}  // namespace
