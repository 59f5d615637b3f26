// The agent's block elements: concrete pools with their space, protocol controllers
// (igroups) and storage hardware IDs (initiators), through their providers' MI
// factories in the embedded object manager at both CMPI levels and through
// provkit-agent, checked against what the default scenario says of its filers.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/igroups.h>
#include <provkit/initiators.h>
#include <provkit/registry.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "agent_support.h"

namespace {

using namespace agenttest;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAreArray;

// What the default scenario says of its filers, and the figures a client should see,
// worked out from it by the filer's own rules.
struct Scenario {
  json document = agenttest::defaultScenario();
  const json &storage(const json &filer) const { return filer["storage"]; }
  std::string systemId(const json &filer) const { return filer["identity"]["systemId"]; }

  // InstanceID -> {TotalManagedSpace, RemainingManagedSpace}.  A pool manages its
  // managed bytes (its size when the filer reports none); its flexible volumes, or a
  // traditional volume's LUNs, take their whole size of it.
  std::map<std::string, std::pair<uint64_t, uint64_t>> pools() const {
    std::map<std::string, std::pair<uint64_t, uint64_t>> out;
    for (const auto &filer : document["filers"]) {
      for (const auto &aggr : storage(filer)["aggregates"]) {
        std::string name = aggr["name"];
        uint64_t total = aggr.value("managedBytes", aggr["sizeBytes"].get<uint64_t>());
        uint64_t used = 0;
        if (aggr["kind"] == "traditional") {
          for (const auto &lun : storage(filer)["luns"])
            if (lun["path"].get<std::string>().rfind("/vol/" + name + "/", 0) == 0)
              used += lun["sizeBytes"].get<uint64_t>();
        } else {
          for (const auto &volume : storage(filer)["volumes"])
            if (volume["kind"] == "flexible" && volume["aggregate"] == name)
              used += volume["sizeBytes"].get<uint64_t>();
        }
        out["KELVA:" + systemId(filer) + ":" + name] = {total, total - used};
      }
    }
    return out;
  }
  // "SPC:<igroup>" of every igroup of every filer.
  std::vector<std::string> controllers() const {
    std::vector<std::string> out;
    for (const auto &filer : document["filers"])
      for (const auto &igroup : storage(filer)["igroups"])
        out.push_back("SPC:" + igroup["name"].get<std::string>());
    return out;
  }
  // Pool InstanceID -> the serial numbers of the LUNs allocated from it: those in its
  // volumes (a traditional volume is its own pool).
  std::map<std::string, std::set<std::string>> lunsOfPools() const {
    std::map<std::string, std::set<std::string>> out;
    for (const auto &filer : document["filers"]) {
      for (const auto &aggr : storage(filer)["aggregates"])
        out["KELVA:" + systemId(filer) + ":" + aggr["name"].get<std::string>()];
      for (const auto &lun : storage(filer)["luns"]) {
        std::string path = lun["path"];
        std::string volume = path.substr(5, path.find('/', 5) - 5);
        for (const auto &v : storage(filer)["volumes"])
          if (v["name"] == volume)
            out["KELVA:" + systemId(filer) + ":" + v["aggregate"].get<std::string>()].insert(
                lun["serial"].get<std::string>());
      }
    }
    return out;
  }
  // InstanceID -> IDType of every initiator, named once whatever igroups hold it.
  std::map<std::string, int> initiators() const {
    std::map<std::string, int> out;
    for (const auto &filer : document["filers"])
      for (const auto &igroup : storage(filer)["igroups"])
        for (const auto &name : igroup["initiators"])
          out["KELVA:" + systemId(filer) + ":" + name.get<std::string>()] =
              igroup["type"] == "iscsi" ? 5 : 2;
    return out;
  }
};

// ---- The providers in the embedded object manager -------------------------------------

class BlockProviderTest : public agenttest::ProviderTest {
 protected:
  // Every instance of the class: the key property's value -> the instance's properties
  // as text.  statusOut gets the enumeration's status.
  std::map<std::string, std::map<std::string, std::string>> instances(
      const std::string &className, const char *key, const std::vector<std::string> &properties,
      CMPIStatus *statusOut = nullptr) {
    Held<CMPIObjectPath> classPath(path(className));
    CMPIStatus st{CMPI_RC_OK, nullptr};
    Held<CMPIEnumeration> found(CBEnumInstances(broker, ctx, classPath.get(), nullptr, &st));
    if (statusOut != nullptr) *statusOut = st;
    std::map<std::string, std::map<std::string, std::string>> out;
    while (found.get() != nullptr && CMHasNext(found.get(), nullptr)) {
      CMPIInstance *i = CMGetNext(found.get(), nullptr).value.inst;
      auto &row = out[agent::propertyText(i, key)];
      for (const auto &p : properties) row[p] = agent::propertyText(i, p.c_str());
    }
    return out;
  }
  // The key property's values of what instances() gave, in its order.
  template <typename Rows>
  static std::vector<std::string> keys(const Rows &rows) {
    std::vector<std::string> out;
    out.reserve(rows.size());
    for (const auto &row : rows) out.push_back(row.first);
    return out;
  }
  std::string got(const std::string &pathText, const char *property, CMPIStatus *st) {
    Held<CMPIObjectPath> p(path(pathText));
    Held<CMPIInstance> i(CBGetInstance(broker, ctx, p.get(), nullptr, st));
    return i.get() != nullptr ? agent::propertyText(i.get(), property) : "";
  }
  Filer *registered(const char *name) {
    CMPIStatus st{CMPI_RC_OK, nullptr};
    return getFilerByName(&st, broker, ctx, nullptr, sim->systemId(name).c_str());
  }
  static std::string controllerPath(const std::string &igroup, const std::string &systemId) {
    return "KELVA_ProtocolController.CreationClassName=\"KELVA_ProtocolController\",DeviceID="
           "\"SPC:" +
           igroup +
           "\",SystemCreationClassName=\"KELVA_StorageSystem\",SystemName=\"KELVA:" + systemId +
           "\"";
  }

  Scenario scenario;
};

TEST_P(BlockProviderTest, PoolsManageTheirSpaceAndLeaveWhatTheirVolumesDoNotTake) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto pools =
      instances("KELVA_ConcretePool", "InstanceID",
                {"PoolID", "TotalManagedSpace", "RemainingManagedSpace", "OperationalStatus"}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  std::map<std::string, std::pair<uint64_t, uint64_t>> figures;
  for (const auto &[id, p] : pools) {
    figures[id] = {std::stoull(p.at("TotalManagedSpace")),
                   std::stoull(p.at("RemainingManagedSpace"))};
    EXPECT_EQ(p.at("OperationalStatus"), "{2}") << id;
  }
  // aggr1 holds volOld, which is off line: its size still counts.
  EXPECT_EQ(figures, scenario.pools());
  EXPECT_EQ(pools["KELVA:0118054321:tradvol1"]["PoolID"], "tradvol1");

  // The off-line volume is counted with a warning, and only when what is left is asked
  // for: the total alone asks no volume.
  auto approximations = [&] {
    size_t n = 0;
    for (const auto &l : om->logs())
      n += l.text.find("volOld counted with its approximate size") != std::string::npos ? 1 : 0;
    return n;
  };
  std::string aggr1 = "KELVA_ConcretePool.InstanceID=\"KELVA:0118054321:aggr1\"";
  size_t warned = approximations();
  EXPECT_GE(warned, 1u);
  Held<CMPIObjectPath> one(path(aggr1));
  const char *totalOnly[] = {"TotalManagedSpace", nullptr};
  Held<CMPIInstance> total(CBGetInstance(broker, ctx, one.get(), totalOnly, &st));
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(agent::propertyText(total.get(), "TotalManagedSpace"),
            std::to_string(scenario.pools()["KELVA:0118054321:aggr1"].first));
  EXPECT_EQ(agent::propertyText(total.get(), "RemainingManagedSpace"), "");
  EXPECT_EQ(approximations(), warned);

  // A volume that grows takes more of its pool.
  sim->mutate("kelva-a", [](json &state) {
    for (auto &v : state["storage"]["volumes"])
      if (v["name"] == "volB") v["sizeBytes"] = v["sizeBytes"].get<uint64_t>() + 4096;
  });
  KELVAStatus record = KELVA_STATUS_INIT;
  Filer *a = registered("kelva-a");
  FilerCache_deleteEntry(a, &record);
  clearKELVAStatus(&record);
  freeFiler(a);
  std::string aggr0 = "KELVA_ConcretePool.InstanceID=\"KELVA:0118054321:aggr0\"";
  EXPECT_EQ(std::stoull(got(aggr0, "RemainingManagedSpace", &st)),
            scenario.pools()["KELVA:0118054321:aggr0"].second - 4096);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);

  // A pool the filer does not have; a filer that is not registered; no InstanceID form.
  got("KELVA_ConcretePool.InstanceID=\"KELVA:0118054321:aggr9\"", "PoolID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_THAT(text(st.msg), HasSubstr("aggr9"));
  got("KELVA_ConcretePool.InstanceID=\"KELVA:999:aggr0\"", "PoolID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  got("KELVA_ConcretePool.InstanceID=\"aggr0\"", "PoolID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_INVALID_PARAMETER);
}

TEST_P(BlockProviderTest, AFilerThatCannotListItsAggregatesIsLeftOutOfThePools) {
  sim->setFault("kelva-b", "aggr-list-info",
                filersim::Fault::fail(13001, "aggregates unavailable"));
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto pools = instances("KELVA_ConcretePool", "InstanceID", {}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_THAT(keys(pools), ElementsAre("KELVA:0118054321:aggr0", "KELVA:0118054321:aggr1",
                                       "KELVA:0118054321:tradvol1"));
  got("KELVA_ConcretePool.InstanceID=\"KELVA:0118054322:aggr0\"", "PoolID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("aggregates unavailable"));
}

TEST_P(BlockProviderTest, ProtocolControllersAreTheIGroupsNamedAsClientsNamedThem) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto controllers = instances("KELVA_ProtocolController", "DeviceID",
                               {"SystemName", "ElementName", "InitiatorType", "OSType"}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_THAT(keys(controllers), UnorderedElementsAreArray(scenario.controllers()));
  EXPECT_EQ(controllers["SPC:ig_fc"]["SystemName"], "KELVA:0118054321");
  EXPECT_EQ(controllers["SPC:ig_fc"]["ElementName"], "ig_fc");
  EXPECT_EQ(controllers["SPC:ig_fc"]["InitiatorType"], "fcp");
  EXPECT_EQ(controllers["SPC:ig_fc"]["OSType"], "solaris");

  // The element name a client gives an igroup is kept on the filer and read back.
  Filer *a = registered("kelva-a");
  ASSERT_EQ(setIGroupElementName(broker, a, "ig_win", "Windows hosts", &st), 1) << text(st.msg);
  freeFiler(a);
  EXPECT_EQ(got(controllerPath("ig_win", "0118054321"), "ElementName", &st), "Windows hosts");
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(instances("KELVA_ProtocolController", "DeviceID",
                      {"ElementName"})["SPC:ig_win"]["ElementName"],
            "Windows hosts");

  // An igroup the filer does not have, or a filer that has none.
  got(controllerPath("ig_nope", "0118054321"), "DeviceID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_THAT(text(st.msg), HasSubstr("SPC:ig_nope"));
  got(controllerPath("ig_win", "0118054322"), "DeviceID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);

  // Igroups are made and destroyed on the filer.
  Held<CMPIObjectPath> fc(path(controllerPath("ig_fc", "0118054321")));
  EXPECT_EQ(CBDeleteInstance(broker, ctx, fc.get()).rc, CMPI_RC_ERR_NOT_SUPPORTED);
}

TEST_P(BlockProviderTest, HardwareIDsAreTheInitiatorsOnceEachWithTheCachedOnes) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto ids = instances("KELVA_StorageHardwareID", "InstanceID", {"StorageID", "IDType"}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  std::map<std::string, int> types;
  for (const auto &[id, h] : ids) {
    types[id] = std::stoi(h.at("IDType"));
    EXPECT_EQ(id, "KELVA:0118054321:" + h.at("StorageID"));
  }
  // host-a is in two igroups and is listed once.
  EXPECT_EQ(types, scenario.initiators());

  // One that a client created waits in the hardware ID cache; it is listed too.
  Filer *a = registered("kelva-a");
  KELVAStatus record = KELVA_STATUS_INIT;
  addInitiator(a, "iqn.1991-05.com.example:host-c", "iscsi", "linux", &record);
  EXPECT_EQ(checkStatus(&record), 0) << (record.message != nullptr ? record.message : "");
  clearKELVAStatus(&record);
  freeFiler(a);
  std::string hostC =
      "KELVA_StorageHardwareID.InstanceID=\"KELVA:0118054321:iqn.1991-05.com.example:host-c\"";
  EXPECT_EQ(got(hostC, "OSType", &st), "linux");
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(instances("KELVA_StorageHardwareID", "InstanceID", {}).size(), types.size() + 1);

  got("KELVA_StorageHardwareID.InstanceID=\"KELVA:0118054321:iqn.nobody\"", "StorageID", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_THAT(text(st.msg), HasSubstr("iqn.nobody"));
}

TEST_P(BlockProviderTest, StorageSystemsReportTakeoverHealthAndIdentity) {
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto systems = instances("KELVA_StorageSystem", "Name",
                           {"OperationalStatus", "HealthState", "Dedicated", "OtherIdentifyingInfo",
                            "IdentifyingDescriptions"},
                           &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  auto &a = systems["KELVA:0118054321"];
  auto &b = systems["KELVA:0118054322"];
  EXPECT_EQ(a["OperationalStatus"], "{2}");
  EXPECT_EQ(a["HealthState"], "5");
  // kelva-b has taken over its partner and reports itself degraded (a minor failure).
  EXPECT_EQ(b["OperationalStatus"], "{3}");
  EXPECT_EQ(b["HealthState"], "15");
  EXPECT_EQ(a["Dedicated"], "{3, 15, 16, 21, 25}");
  // Its addresses without the loopback one, its domain name (or "Unknown", as the
  // resolver says) and its Fibre Channel node name; kelva-b has none.
  EXPECT_THAT(a["OtherIdentifyingInfo"],
              StartsWith(R"({"192.0.2.21", "198.51.100.21", "198.51.100.121", ")"));
  EXPECT_THAT(a["OtherIdentifyingInfo"], EndsWith(R"(", "500A098086A7512F"})"));
  EXPECT_THAT(b["OtherIdentifyingInfo"], EndsWith(R"(, "Unknown"})"));
  EXPECT_THAT(b["IdentifyingDescriptions"], StartsWith(R"({"IPV4 Address", "Fully)"));

  // A filer that has not answered since the process started: out of contact, health unknown.
  Filer *filer = registered("kelva-a");
  KELVAStatus record = KELVA_STATUS_INIT;
  FilerCache_deleteEntry(filer, &record);
  clearKELVAStatus(&record);
  freeFiler(filer);
  sim->setOnline("kelva-a", false);
  auto lost = instances("KELVA_StorageSystem", "Name", {"OperationalStatus", "HealthState"}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(lost["KELVA:0118054321"]["OperationalStatus"], "{12}");
  EXPECT_EQ(lost["KELVA:0118054321"]["HealthState"], "0");
  sim->setOnline("kelva-a", true);

  // A filer whose takeover state cannot be read is no system to report.
  sim->setFault("kelva-b", "cf-status", filersim::Fault::fail(13001, "cluster state unreadable"));
  auto left = instances("KELVA_StorageSystem", "Name", {}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(left.size(), 1u);
  EXPECT_EQ(left.count("KELVA:0118054321"), 1u);
  got("KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\",Name=\"KELVA:0118054322\"",
      "Name", &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("KELVA_StorageSystem has no state of kelva-b.sim"));
}

TEST_P(BlockProviderTest, LunsAreAllocatedFromThePoolOfTheirVolume) {
  auto keysOf = [&](CMPIEnumeration *found, const char *key) {
    std::set<std::string> out;
    while (found != nullptr && CMHasNext(found, nullptr)) {
      CMPIData d = CMGetNext(found, nullptr);
      CMPIData k = CMGetKey(d.value.ref, key, nullptr);
      out.insert(k.type == CMPI_string ? CMGetCharPtr(k.value.string) : "?");
    }
    return out;
  };
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto expected = scenario.lunsOfPools();
  for (const auto &[pool, serials] : expected) {
    SCOPED_TRACE(pool);
    Held<CMPIObjectPath> p(path("KELVA_ConcretePool.InstanceID=\"" + pool + "\""));
    Held<CMPIEnumeration> found(
        CBAssociatorNames(broker, ctx, p.get(), nullptr, nullptr, nullptr, nullptr, &st));
    ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
    EXPECT_EQ(keysOf(found.get(), "DeviceID"), serials);
  }

  // From a LUN of a traditional volume: that volume's pool.
  std::string lun4 =
      "KELVA_StorageVolume.CreationClassName=\"KELVA_StorageVolume\",DeviceID=\"C4i/2JZpEk9u\","
      "SystemCreationClassName=\"KELVA_StorageSystem\",SystemName=\"KELVA:0118054321\"";
  Held<CMPIObjectPath> volume(path(lun4));
  Held<CMPIEnumeration> pools(CBAssociatorNames(
      broker, ctx, volume.get(), "CIM_AllocatedFromStoragePool", nullptr, nullptr, nullptr, &st));
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_THAT(keysOf(pools.get(), "InstanceID"), ElementsAre("KELVA:0118054321:tradvol1"));

  // The association says how much of the pool the LUN takes: its size.
  Held<CMPIEnumeration> refs(
      CBReferences(broker, ctx, volume.get(), nullptr, "Dependent", nullptr, &st));
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  ASSERT_TRUE(CMHasNext(refs.get(), nullptr));
  CMPIInstance *allocation = CMGetNext(refs.get(), nullptr).value.inst;
  EXPECT_EQ(agent::propertyText(allocation, "SpaceConsumed"), "64424509440");
  EXPECT_FALSE(CMHasNext(refs.get(), nullptr));

  // One association per LUN, each one read back.
  size_t luns = 0;
  for (const auto &[pool, serials] : expected) luns += serials.size();
  auto all = instances("KELVA_VolumeAllocatedFromPool", "SpaceConsumed", {}, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  Held<CMPIObjectPath> assoc(path("KELVA_VolumeAllocatedFromPool"));
  Held<CMPIEnumeration> names(CBEnumInstanceNames(broker, ctx, assoc.get(), &st));
  size_t count = 0;
  while (CMHasNext(names.get(), nullptr)) {
    CMPIData d = CMGetNext(names.get(), nullptr);
    Held<CMPIInstance> one(CBGetInstance(broker, ctx, d.value.ref, nullptr, &st));
    EXPECT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
    ++count;
  }
  EXPECT_EQ(count, luns);
  EXPECT_EQ(all.count("5368709120"), 1u);  // the off-line LUN of volOld
}

CIMOM_INSTANTIATE(BlockProviderTest);

// ---- provkit-agent as a user runs it ----------------------------------------------------

class AgentBlockCommandTest : public agenttest::CommandTest {
 protected:
  Scenario scenario;
};

TEST_F(AgentBlockCommandTest, TheOverviewShowsPoolsControllersAndInitiatorsOfTheScenario) {
  Outcome overview = agent("--json overview");
  ASSERT_EQ(overview.code, 0) << overview.err;
  json view = overview.parsed();
  std::map<std::string, std::pair<uint64_t, uint64_t>> pools;
  for (const auto &p : view["KELVA_ConcretePool"]) {
    pools[p["properties"]["InstanceID"]] = {p["properties"]["TotalManagedSpace"],
                                            p["properties"]["RemainingManagedSpace"]};
  }
  EXPECT_EQ(pools, scenario.pools());
  std::vector<std::string> controllers;
  for (const auto &c : view["KELVA_ProtocolController"])
    controllers.push_back(c["properties"]["DeviceID"]);
  EXPECT_THAT(controllers, UnorderedElementsAreArray(scenario.controllers()));
  std::map<std::string, int> initiators;
  for (const auto &h : view["KELVA_StorageHardwareID"])
    initiators[h["properties"]["InstanceID"]] = h["properties"]["IDType"];
  EXPECT_EQ(initiators, scenario.initiators());

  Outcome table = agent("overview");
  ASSERT_EQ(table.code, 0) << table.err;
  EXPECT_THAT(table.out, HasSubstr("Pools (4)"));
  EXPECT_THAT(table.out, HasSubstr("Protocol controllers (4)"));
  EXPECT_THAT(table.out, HasSubstr("Initiators (4)"));
  EXPECT_THAT(table.out, Not(HasSubstr("No provider yet for: Pools")));
}

TEST_F(AgentBlockCommandTest, GetsOneOfEachAndRefusesWhatTheFilerDoesNotHave) {
  Outcome initiator = agent(
      "--json get "
      "'KELVA_StorageHardwareID.InstanceID=\"KELVA:0118054321:10:00:00:00:c9:2b:5e:02\"'");
  ASSERT_EQ(initiator.code, 0) << initiator.err;
  EXPECT_EQ(initiator.parsed()["properties"]["IDType"], 2);
  Outcome pool = agent("get 'KELVA_ConcretePool.InstanceID=\"KELVA:0118054322:aggr0\"'");
  ASSERT_EQ(pool.code, 0) << pool.err;
  EXPECT_THAT(pool.out,
              HasSubstr("RemainingManagedSpace = " +
                        std::to_string(scenario.pools()["KELVA:0118054322:aggr0"].second)));
  Outcome missing = agent("get 'KELVA_ConcretePool.InstanceID=\"KELVA:0118054322:aggr7\"'");
  EXPECT_EQ(missing.code, 10 + CMPI_RC_ERR_NOT_FOUND) << missing.err;
  EXPECT_THAT(missing.err, HasSubstr("CIM_ERR_NOT_FOUND (6): KELVA_ConcretePool not found: aggr7"));
}

}  // namespace
