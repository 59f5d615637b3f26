// The agent's file-service providers (CIFS shares, NFS export rules, quota entries):
// loaded through their MI factories in the embedded object manager at both CMPI levels
// over the default scenario's simulated filers, and seen through provkit-agent as a user
// runs it.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/registry.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "agent_support.h"

namespace {

using namespace agenttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const char *const kSystemA = "KELVA:0118054321";
const char *const kSystemB = "KELVA:0118054322";

std::string shareId(const char *system, const std::string &name, const std::string &mount) {
  return std::string(system) + ":cifs:" + mount + ":(" + name + ")";
}
std::string ruleId(const char *system, const std::string &path) {
  return std::string(system) + ":nfs:" + path + ":(" + path + ")";
}

// ---- The providers in the embedded object manager -------------------------------------

class FileProviderTest : public agenttest::ProviderTest {
 protected:
  CMPIObjectPath *instancePath(const std::string &className, const std::string &id) {
    return path(className + ".InstanceID=\"" + id + "\"");
  }
  // The instances of the class as JSON objects of their properties, by InstanceID, in
  // the order they came.
  std::vector<json> enumerate(const std::string &className, CMPIStatus *statusOut = nullptr) {
    Held<CMPIObjectPath> cls(path(className));
    CMPIStatus st{CMPI_RC_OK, nullptr};
    Held<CMPIEnumeration> found(CBEnumInstances(broker, ctx, cls.get(), nullptr, &st));
    if (statusOut != nullptr) *statusOut = st;
    std::vector<json> out;
    while (found.get() != nullptr && CMHasNext(found.get(), nullptr)) {
      CMPIData d = CMGetNext(found.get(), nullptr);
      out.push_back(agent::instanceJson(d.value.inst)["properties"]);
    }
    return out;
  }
  json get(const std::string &className, const std::string &id, CMPIStatus *st) {
    Held<CMPIObjectPath> p(instancePath(className, id));
    Held<CMPIInstance> got(CBGetInstance(broker, ctx, p.get(), nullptr, st));
    return got.get() != nullptr ? agent::instanceJson(got.get())["properties"] : json();
  }
  static std::vector<std::string> field(const std::vector<json> &items, const char *name) {
    std::vector<std::string> out;
    out.reserve(items.size());
    for (const auto &i : items) out.push_back(i.value(name, ""));
    return out;
  }

  json scenario = defaultScenario();
};

TEST_P(FileProviderTest, SharesAreTheFilersCifsSharesAndEachIsReadBack) {
  // kelva-b has no CIFS licence: it has no shares, and the others are listed all the same.
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto shares = enumerate("KELVA_CIFSShare", &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  std::vector<std::string> ids, names;
  for (const auto &s : filerOf(scenario, "kelva-a")["files"]["cifs"]["shares"]) {
    ids.push_back(shareId(kSystemA, s["name"], s["mount"]));
    names.push_back(s["name"]);
  }
  EXPECT_EQ(field(shares, "InstanceID"), ids);
  EXPECT_EQ(field(shares, "ElementName"), names);
  ASSERT_EQ(shares.size(), 3u);
  EXPECT_EQ(shares[0]["Path"], "/vol/volA/users");
  EXPECT_EQ(shares[0]["Volume"], "volA");
  EXPECT_EQ(shares[0]["SystemName"], kSystemA);
  EXPECT_EQ(shares[0]["FileSharingProtocol"], 3);
  EXPECT_EQ(shares[0]["Description"], "home folders");
  EXPECT_FALSE(shares[1].contains("Description"));

  json users = get("KELVA_CIFSShare", ids[0], &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(users["Name"], "users");
  // A share made on the filer shows in the next read; one it does not have is not found, nor
  // is one of a filer that is not registered, nor an InstanceID that names no filer.
  sim->mutate("kelva-a", [](json &state) {
    state["files"]["cifs"]["shares"].push_back({{"name", "proj"}, {"mount", "/vol/volA/projects"}});
  });
  get("KELVA_CIFSShare", shareId(kSystemA, "proj", "/vol/volA/projects"), &st);
  EXPECT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  for (const std::string &id :
       {shareId(kSystemA, "nope", "/vol/volA/users"),
        shareId("KELVA:42", "users", "/vol/volA/users"), std::string("users")}) {
    SCOPED_TRACE(id);
    json none = get("KELVA_CIFSShare", id, &st);
    EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
    EXPECT_TRUE(none.is_null());
  }

  // A listing that fails half-way is a failure, and the filer's listing is ended all the same.
  sim->setFault("kelva-a", "cifs-share-list-iter-next", filersim::Fault::fail(13115, "bad batch"));
  get("KELVA_CIFSShare", ids[0], &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("bad batch"));
  EXPECT_TRUE(sim->state("kelva-a")["files"].value("open", json::object()).empty());
  sim->clearFaults();

  // Shares change on the filer only.
  Held<CMPIObjectPath> one(instancePath("KELVA_CIFSShare", ids[0]));
  Held<CMPIInstance> changed(CMNewInstance(broker, one.get(), &st));
  st = CBModifyInstance(broker, ctx, one.get(), changed.get(), nullptr);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_THAT(text(st.msg), HasSubstr("KELVA_CIFSShare"));
  EXPECT_EQ(CBDeleteInstance(broker, ctx, one.get()).rc, CMPI_RC_ERR_NOT_SUPPORTED);
}

TEST_P(FileProviderTest, ExportsCarryTheRulesHostsAndFlavours) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto rules = enumerate("KELVA_NFSShare", &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  // kelva-a's three rules (the last is the root export), then kelva-b's one.
  EXPECT_THAT(field(rules, "Path"), ElementsAre("/vol/volA/exp", "/vol/vol0", "/", "/vol/vol0"));
  EXPECT_THAT(field(rules, "SystemName"), ElementsAre(kSystemA, kSystemA, kSystemA, kSystemB));
  ASSERT_EQ(rules.size(), 4u);
  EXPECT_EQ(rules[0]["InstanceID"], ruleId(kSystemA, "/vol/volA/exp"));
  EXPECT_EQ(rules[0]["Anon"], "0");
  EXPECT_EQ(rules[0]["RootAccessHosts"], json::array({"adminhost"}));
  EXPECT_EQ(rules[0]["SecurityFlavors"], json::array({"sys"}));
  EXPECT_EQ(rules[0]["FileSharingProtocol"], 2);
  EXPECT_FALSE(rules[1].contains("Anon"));
  EXPECT_EQ(rules[1]["RootAccessHosts"], json::array());

  // A rule changed on the filer: a host denied root access, another flavour.
  sim->mutate("kelva-a", [](json &state) {
    json &rule = state["files"]["nfs"]["rules"][1];
    rule["root"] = json::array({{{"name", "lab"}, {"negate", true}}});
    rule["flavors"] = json::array({"sys", "krb5"});
  });
  json vol0 = get("KELVA_NFSShare", ruleId(kSystemA, "/vol/vol0"), &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(vol0["RootAccessHosts"], json::array({"-lab"}));
  EXPECT_EQ(vol0["SecurityFlavors"], json::array({"sys", "krb5"}));

  // Every class of share at once, through their parent class.
  EXPECT_EQ(enumerate("CIM_FileShare").size(), 3u + 4u);

  // A filer that cannot list its rules: the others' are listed; a get hears why.
  sim->setFault("kelva-a", "nfs-exportfs-list-rules", filersim::Fault::fail(13001, "rules locked"));
  auto left = enumerate("KELVA_NFSShare", &st);
  EXPECT_EQ(st.rc, CMPI_RC_OK);
  EXPECT_THAT(field(left, "SystemName"), ElementsAre(kSystemB));
  get("KELVA_NFSShare", ruleId(kSystemA, "/vol/vol0"), &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("rules locked"));
}

TEST_P(FileProviderTest, QuotaEntriesHaveTheRulesLimitsAndReportedUsage) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto entries = enumerate("KELVA_FSQuotaConfigEntry", &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_THAT(field(entries, "InstanceID"),
              ElementsAre(std::string(kSystemA) + ":user:alice:volA:-",
                          std::string(kSystemA) + ":user:*:volA:-",
                          std::string(kSystemA) + ":group:eng:volA:q2",
                          std::string(kSystemA) + ":tree:/vol/volA/q1:volA:-"));
  ASSERT_EQ(entries.size(), 4u);
  // Disk figures in bytes (the filer's kilobytes), file figures as they are.
  const json &alice = entries[0];
  EXPECT_EQ(alice["ElementName"], "user alice on /vol/volA");
  EXPECT_EQ(alice["QuotaType"], 2);
  EXPECT_EQ(alice["PrincipalID"], "alice");
  EXPECT_EQ(alice["ManagedElement"], "volA");
  EXPECT_EQ(alice["Default"], false);
  EXPECT_EQ(alice["HardLimit"], 4194304ull * 1024);
  EXPECT_EQ(alice["SoftLimit"], 3145728ull * 1024);
  EXPECT_EQ(alice["FileHardLimit"], 100000);
  EXPECT_FALSE(alice.contains("FileSoftLimit"));
  EXPECT_EQ(alice["DiskUsed"], 2097152ull * 1024);
  EXPECT_EQ(alice["FilesUsed"], 15230);
  // The default rule names no principal and has no usage of its own (bob's is his).
  const json &fallback = entries[1];
  EXPECT_EQ(fallback["ElementName"], "default user quota on /vol/volA");
  EXPECT_EQ(fallback["Default"], true);
  EXPECT_FALSE(fallback.contains("PrincipalID"));
  EXPECT_FALSE(fallback.contains("DiskUsed"));
  EXPECT_EQ(entries[2]["QuotaType"], 6);
  EXPECT_EQ(entries[2]["TreeName"], "q2");
  EXPECT_EQ(entries[2]["DiskUsed"], 5242880ull * 1024);
  EXPECT_EQ(entries[3]["QuotaType"], 4);
  EXPECT_EQ(entries[3]["TreeName"], "/vol/volA/q1");
  EXPECT_EQ(entries[3]["FileSoftLimit"], 500000);
  EXPECT_FALSE(entries[3].contains("PrincipalID"));

  // A rule the filer could not apply says why; a rule removed on the filer is gone.
  sim->mutate("kelva-a", [](json &state) {
    state["quotas"]["rules"][2]["error"] = "qtree q2 is being deleted";
    state["quotas"]["rules"].erase(0);
  });
  json eng = get("KELVA_FSQuotaConfigEntry", std::string(kSystemA) + ":group:eng:volA:q2", &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(eng["ErrorReason"], "qtree q2 is being deleted");
  EXPECT_EQ(eng["DiskUsed"], 5242880ull * 1024);
  // A get reads the report of the rule's volume only.
  EXPECT_THAT(
      sim->state("kelva-a")["quotas"]["lastRequest"]["quota-report-iter-start"].get<std::string>(),
      HasSubstr("<volume>volA</volume>"));
  get("KELVA_FSQuotaConfigEntry", std::string(kSystemA) + ":nonsense", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  get("KELVA_FSQuotaConfigEntry", std::string(kSystemA) + ":user:alice:volA:-", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);

  // The report cannot be read: the filer's entries cannot be given whole, and are not.
  sim->setFault("kelva-a", "quota-report-iter-start", filersim::Fault::fail(13040, "busy"));
  EXPECT_TRUE(enumerate("KELVA_FSQuotaConfigEntry", &st).empty());
  get("KELVA_FSQuotaConfigEntry", std::string(kSystemA) + ":group:eng:volA:q2", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("busy"));
}

TEST_P(FileProviderTest, FailuresOfTheObjectManagerReachTheCallerWithoutLeaks) {
  // Each step of making an instance, failing in turn.
  Held<CMPIObjectPath> rule(instancePath("KELVA_NFSShare", ruleId(kSystemA, "/vol/volA/exp")));
  for (const char *function :
       {"BrokerEnc.newObjectPath", "BrokerEnc.newInstance", "BrokerEnc.newArray",
        "Instance.setProperty", "Array.setElementAt", "ObjectPath.addKey"}) {
    SCOPED_TRACE(function);
    om->inject({function, 1, CMPI_RC_ERR_FAILED, true, false});
    CMPIStatus st{CMPI_RC_OK, nullptr};
    Held<CMPIInstance> none(CBGetInstance(broker, ctx, rule.get(), nullptr, &st));
    EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
    EXPECT_EQ(none.get(), nullptr);
    om->clearFaults();
  }
}

CIMOM_INSTANTIATE(FileProviderTest);

// ---- provkit-agent as a user runs it ----------------------------------------------------

class AgentFileCommandTest : public agenttest::CommandTest {
 protected:
  json scenario = defaultScenario();
};

TEST_F(AgentFileCommandTest, JsonOutputMatchesTheDefaultScenario) {
  const json &a = filerOf(scenario, "kelva-a");
  Outcome shares = agent("--json enumerate KELVA_CIFSShare");
  ASSERT_EQ(shares.code, 0) << shares.err;
  std::vector<std::string> paths, expected;
  for (const auto &s : shares.parsed()) paths.push_back(s["properties"]["Path"]);
  for (const auto &s : a["files"]["cifs"]["shares"]) expected.push_back(s["mount"]);
  EXPECT_EQ(paths, expected);

  Outcome exports = agent("--json enumerate KELVA_NFSShare");
  ASSERT_EQ(exports.code, 0) << exports.err;
  paths.clear();
  expected.clear();
  for (const auto &r : exports.parsed()) paths.push_back(r["properties"]["Path"]);
  for (const char *filer : {"kelva-a", "kelva-b"})
    for (const auto &r : filerOf(scenario, filer)["files"]["nfs"]["rules"])
      expected.push_back(r.value("pathname", "/"));
  EXPECT_EQ(paths, expected);

  Outcome quotas = agent("--json enumerate KELVA_FSQuotaConfigEntry");
  ASSERT_EQ(quotas.code, 0) << quotas.err;
  json entries = quotas.parsed();
  const json &rules = a["quotas"]["rules"];
  ASSERT_EQ(entries.size(), rules.size());
  for (size_t i = 0; i < rules.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i]["properties"]["HardLimit"],
              std::stoull(rules[i]["disk-limit"].get<std::string>()) * 1024);
    EXPECT_EQ(entries[i]["properties"]["ManagedElement"], rules[i]["volume"]);
  }

  // A share as typed; one the filer does not have.
  std::string users =
      "KELVA_CIFSShare.InstanceID=\"" + shareId(kSystemA, "users", "/vol/volA/users") + "\"";
  Outcome got = agent("get '" + users + "'");
  ASSERT_EQ(got.code, 0) << got.err;
  EXPECT_THAT(got.out, HasSubstr("instance of KELVA_CIFSShare {"));
  EXPECT_THAT(got.out, HasSubstr("Path = \"/vol/volA/users\";"));
  Outcome missing = agent("get 'KELVA_CIFSShare.InstanceID=\"" +
                          shareId(kSystemA, "nope", "/vol/volA/nope") + "\"'");
  EXPECT_EQ(missing.code, 10 + CMPI_RC_ERR_NOT_FOUND);
  EXPECT_THAT(missing.err, HasSubstr("CIM_ERR_NOT_FOUND (6)"));
}

TEST_F(AgentFileCommandTest, OverviewShowsSharesExportsAndQuotaEntries) {
  Outcome view = agent("overview");
  ASSERT_EQ(view.code, 0) << view.err;
  EXPECT_THAT(view.out, HasSubstr("Shares (3)"));
  EXPECT_THAT(view.out, HasSubstr("/vol/volB/archive"));
  EXPECT_THAT(view.out, HasSubstr("Exports (4)"));
  EXPECT_THAT(view.out, HasSubstr("adminhost"));
  EXPECT_THAT(view.out, HasSubstr("Quota entries (4)"));
  EXPECT_THAT(view.out, HasSubstr("default user quota on /vol/volA"));
  EXPECT_THAT(view.out, Not(HasSubstr("Quota entries,")));
  EXPECT_THAT(view.out, Not(HasSubstr("Quota entries\n")));

  Outcome asJson = agent("--json overview");
  ASSERT_EQ(asJson.code, 0) << asJson.err;
  auto all = asJson.parsed();
  EXPECT_EQ(all["KELVA_CIFSShare"].size(), 3u);
  EXPECT_EQ(all["KELVA_NFSShare"].size(), 4u);
  EXPECT_EQ(all["KELVA_FSQuotaConfigEntry"].size(), 4u);
}

}  // namespace
