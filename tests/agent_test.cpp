// The agent: its sample providers loaded through their MI factories in the embedded
// object manager (both CMPI levels) and serving the default scenario's simulated filers;
// their registration files against what the libraries export and the classes declare;
// and provkit-agent run as a user runs it.
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
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent_support.h"

namespace {

using namespace agenttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

// What the default scenario says of its filers.
struct Scenario {
  json document = agenttest::defaultScenario();
  const json &filer(const std::string &name) const { return agenttest::filerOf(document, name); }
  std::string systemName(const std::string &name) const {
    return "KELVA:" + filer(name)["identity"]["systemId"].get<std::string>();
  }
  std::vector<std::string> lunField(const std::string &name, const char *field) const {
    std::vector<std::string> out;
    for (const auto &l : filer(name)["storage"]["luns"]) out.push_back(l[field]);
    return out;
  }
};

// ---- The providers in the embedded object manager -------------------------------------

class ProviderShellTest : public agenttest::ProviderTest {
 protected:
  std::string systemPath(const std::string &filer) {
    return "KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\",Name=\"" +
           scenario.systemName(filer) + "\"";
  }
  std::string volumePath(const std::string &filer, const std::string &serial) {
    return "KELVA_StorageVolume.CreationClassName=\"KELVA_StorageVolume\",DeviceID=\"" + serial +
           "\",SystemCreationClassName=\"KELVA_StorageSystem\",SystemName=\"" +
           scenario.systemName(filer) + "\"";
  }
  // Runs an up-call that gives an enumeration; the texts of what came (paths or
  // instances), or the status code and message.
  template <typename F>
  std::vector<std::string> texts(F call, CMPIStatus *statusOut = nullptr) {
    CMPIStatus st{CMPI_RC_OK, nullptr};
    Held<CMPIEnumeration> found(call(&st));
    if (statusOut != nullptr) *statusOut = st;
    std::vector<std::string> out;
    while (found.get() != nullptr && CMHasNext(found.get(), nullptr)) {
      CMPIData d = CMGetNext(found.get(), nullptr);
      out.push_back(d.type == CMPI_ref
                        ? cimom::objectPathText(d.value.ref)
                        : agent::propertyText(d.value.inst, "DeviceID") + "|" +
                              cimom::objectPathText(CMGetObjectPath(d.value.inst, nullptr)));
    }
    return out;
  }
  std::vector<std::string> volumeIds(const std::vector<std::string> &paths) {
    std::vector<std::string> ids;
    std::regex id("DeviceID=\"([^\"]*)\"");
    for (const auto &p : paths) {
      std::smatch m;
      if (std::regex_search(p, m, id)) ids.push_back(m[1]);
    }
    return ids;
  }

  Scenario scenario;
};

TEST_P(ProviderShellTest, InstanceProvidersServeEveryRegisteredFiler) {
  Held<CMPIObjectPath> systems(path("KELVA_StorageSystem"));
  auto names =
      texts([&](CMPIStatus *st) { return CBEnumInstanceNames(broker, ctx, systems.get(), st); });
  EXPECT_THAT(names, ElementsAre(HasSubstr(scenario.systemName("kelva-a")),
                                 HasSubstr(scenario.systemName("kelva-b"))));
  // Through the parent class, as a client asking for every computer system does.
  Held<CMPIObjectPath> parents(path("CIM_ComputerSystem"));
  EXPECT_EQ(texts([&](CMPIStatus *st) {
              return CBEnumInstances(broker, ctx, parents.get(), nullptr, st);
            }).size(),
            2u);

  Held<CMPIObjectPath> volumes(path("KELVA_StorageVolume"));
  auto found =
      texts([&](CMPIStatus *st) { return CBEnumInstanceNames(broker, ctx, volumes.get(), st); });
  EXPECT_EQ(volumeIds(found), scenario.lunField("kelva-a", "serial"));

  // One volume, with a property list; one that the filer does not have.
  auto serials = scenario.lunField("kelva-a", "serial");
  Held<CMPIObjectPath> third(path(volumePath("kelva-a", serials[2])));
  const char *only[] = {"ElementName", nullptr};
  CMPIStatus st{CMPI_RC_OK, nullptr};
  Held<CMPIInstance> volume(CBGetInstance(broker, ctx, third.get(), only, &st));
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(agent::propertyText(volume.get(), "ElementName"),
            scenario.lunField("kelva-a", "path")[2]);
  Held<CMPIObjectPath> gone(path(volumePath("kelva-a", "nope")));
  Held<CMPIInstance> none(CBGetInstance(broker, ctx, gone.get(), nullptr, &st));
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  EXPECT_EQ(none.get(), nullptr);
}

TEST_P(ProviderShellTest, AVolumesCommentChangesOnTheFilerThroughModifyInstance) {
  auto serials = scenario.lunField("kelva-a", "serial");
  Held<CMPIObjectPath> fourth(path(volumePath("kelva-a", serials[3])));
  CMPIStatus st{CMPI_RC_OK, nullptr};
  Held<CMPIInstance> changed(CMNewInstance(broker, fourth.get(), &st));
  CMSetProperty(changed.get(), "Description", "archive", CMPI_chars);
  const char *description[] = {"Description", nullptr};
  st = CBModifyInstance(broker, ctx, fourth.get(), changed.get(), description);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(sim->state("kelva-a")["storage"]["luns"][3].value("comment", ""), "archive");

  // The filer's refusal comes back with its reason.
  CMSetProperty(changed.get(), "Description", std::string(300, 'x').c_str(), CMPI_chars);
  st = CBModifyInstance(broker, ctx, fourth.get(), changed.get(), description);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_FAILED);
  EXPECT_THAT(text(st.msg), HasSubstr("Invalid input"));

  // What a class does not offer is refused, naming the class.
  Held<CMPIObjectPath> system(path(systemPath("kelva-a")));
  Held<CMPIInstance> made(CMNewInstance(broker, system.get(), &st));
  Held<CMPIObjectPath> created(CBCreateInstance(broker, ctx, system.get(), made.get(), &st));
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_THAT(text(st.msg), HasSubstr("KELVA_StorageSystem"));
  st = CBDeleteInstance(broker, ctx, fourth.get());
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_SUPPORTED);
}

TEST_P(ProviderShellTest, SystemDeviceLeadsBetweenASystemAndItsVolumes) {
  auto serials = scenario.lunField("kelva-a", "serial");
  Held<CMPIObjectPath> system(path(systemPath("kelva-a")));
  auto associated = [&](const char *assocClass, const char *resultClass) {
    return texts([&](CMPIStatus *st) {
      return CBAssociatorNames(broker, ctx, system.get(), assocClass, resultClass, nullptr, nullptr,
                               st);
    });
  };
  EXPECT_EQ(volumeIds(associated(nullptr, nullptr)), serials);
  EXPECT_EQ(associated("CIM_SystemDevice", "CIM_StorageExtent").size(), serials.size());
  // A result class the volumes are not leads nowhere.
  EXPECT_TRUE(associated(nullptr, "CIM_System").empty());

  // From a volume: its system and its pool, as instances; its one system device association.
  Held<CMPIObjectPath> volume(path(volumePath("kelva-a", serials[1])));
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto systems = texts(
      [&](CMPIStatus *s) {
        return CBAssociators(broker, ctx, volume.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                             s);
      },
      &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK);
  EXPECT_THAT(systems, UnorderedElementsAre(HasSubstr(systemPath("kelva-a")),
                                            HasSubstr("KELVA_ConcretePool.InstanceID=\"" +
                                                      scenario.systemName("kelva-a") + ":aggr1")));
  auto refs = texts([&](CMPIStatus *s) {
    return CBReferenceNames(broker, ctx, volume.get(), "KELVA_SystemDevice", "PartComponent", s);
  });
  ASSERT_EQ(refs.size(), 1u);
  EXPECT_THAT(refs[0], HasSubstr("KELVA_SystemDevice"));
  EXPECT_TRUE(texts([&](CMPIStatus *s) {
                return CBReferenceNames(broker, ctx, volume.get(), nullptr, "GroupComponent", s);
              }).empty());

  // The association's own instances: one per volume, and each one read back.
  Held<CMPIObjectPath> assoc(path("KELVA_SystemDevice"));
  auto all = texts([&](CMPIStatus *s) { return CBEnumInstanceNames(broker, ctx, assoc.get(), s); });
  EXPECT_EQ(all.size(), serials.size());
  CMPIStatus got{CMPI_RC_OK, nullptr};
  Held<CMPIEnumeration> names(CBEnumInstanceNames(broker, ctx, assoc.get(), &got));
  ASSERT_TRUE(CMHasNext(names.get(), nullptr));
  CMPIData first = CMGetNext(names.get(), nullptr);
  Held<CMPIInstance> one(CBGetInstance(broker, ctx, first.value.ref, nullptr, &got));
  EXPECT_EQ(got.rc, CMPI_RC_OK) << text(got.msg);
}

TEST_P(ProviderShellTest, APoolsCapabilitiesCreateTheSettingOfItsRow) {
  auto createSetting = [&](const std::string &pool, const CMPIValue *type, CMPIStatus *st) {
    Held<CMPIObjectPath> caps(
        path("KELVA_ConcretePoolStorageCapabilities.InstanceID=\"KELVA:0118054321:" + pool + "\""));
    Held<CMPIArgs> in(CMNewArgs(broker, nullptr));
    Held<CMPIArgs> out(CMNewArgs(broker, nullptr));
    if (type != nullptr) CMAddArg(in.get(), "SettingType", type, CMPI_uint16);
    CMPIData rv = CBInvokeMethod(broker, ctx, caps.get(), "CreateSetting", in.get(), out.get(), st);
    CMPIData made = CMGetArg(out.get(), "NewSetting", nullptr);
    std::string setting = made.type == CMPI_ref && (made.state & CMPI_nullValue) == 0
                              ? cimom::objectPathText(made.value.ref)
                              : "";
    return std::make_pair(rv.value.uint32, setting);
  };
  CMPIValue goal;
  goal.uint16 = 3;
  CMPIStatus st{CMPI_RC_OK, nullptr};
  auto [rv, setting] = createSetting("aggr1", &goal, &st);
  ASSERT_EQ(st.rc, CMPI_RC_OK) << text(st.msg);
  EXPECT_EQ(rv, 0u);
  EXPECT_THAT(setting, HasSubstr("KELVA_StorageSetting.InstanceID=\"KELVA:0118054321:aggr1:"));

  // A pool the filer does not have; a setting type that is neither default nor goal; none.
  createSetting("nope", &goal, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_NOT_FOUND);
  CMPIValue odd;
  odd.uint16 = 7;
  createSetting("aggr1", &odd, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  createSetting("aggr1", nullptr, &st);
  EXPECT_EQ(st.rc, CMPI_RC_ERR_INVALID_PARAMETER);
}

TEST_P(ProviderShellTest, FailuresOfTheFilerAndTheObjectManagerReachTheCaller) {
  // An off-line filer is still a system (no contact) and has no volumes to list.
  sim->setOnline("kelva-a", false);
  Held<CMPIObjectPath> systems(path("KELVA_StorageSystem"));
  CMPIStatus st{CMPI_RC_OK, nullptr};
  Held<CMPIEnumeration> found(CBEnumInstances(broker, ctx, systems.get(), nullptr, &st));
  ASSERT_EQ(st.rc, CMPI_RC_OK);
  std::map<std::string, std::string> status;
  while (CMHasNext(found.get(), nullptr)) {
    CMPIInstance *i = CMGetNext(found.get(), nullptr).value.inst;
    status[agent::propertyText(i, "Name")] = agent::propertyText(i, "OperationalStatus");
  }
  EXPECT_EQ(status[scenario.systemName("kelva-a")], "{12}");
  // kelva-b has taken over its partner.
  EXPECT_EQ(status[scenario.systemName("kelva-b")], "{3}");
  sim->setOnline("kelva-a", true);

  // The association class cannot be checked: the caller hears why, and nothing leaks.
  Held<CMPIObjectPath> system(path(systemPath("kelva-a")));
  for (const char *function : {"BrokerEnc.newObjectPath", "BrokerEnc.classPathIsA"}) {
    SCOPED_TRACE(function);
    om->inject({function, 1, CMPI_RC_ERR_FAILED, true, false});
    CMPIStatus failed{CMPI_RC_OK, nullptr};
    auto none = texts(
        [&](CMPIStatus *s) {
          return CBAssociatorNames(broker, ctx, system.get(), "CIM_SystemDevice", nullptr, nullptr,
                                   nullptr, s);
        },
        &failed);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(failed.rc, CMPI_RC_ERR_FAILED);
    EXPECT_THAT(text(failed.msg), HasSubstr("cannot check the association class"));
    om->clearFaults();
  }
}

CIMOM_INSTANTIATE(ProviderShellTest);

// ---- The registration files -------------------------------------------------------------

// PG_ProviderCapabilities and PG_ProviderModule instances of the registration MOF.
struct MofInstance {
  std::string className;
  std::map<std::string, std::string> values;
};
std::vector<MofInstance> readRegistrationMof(const std::string &file) {
  std::ifstream in(file);
  std::stringstream all;
  all << in.rdbuf();
  std::string mof = std::regex_replace(all.str(), std::regex("//[^\n]*"), "");
  std::vector<MofInstance> out;
  std::regex block(R"(instance\s+of\s+(\w+)\s*\{([^]*?)\n\};)");
  std::regex entry(R"((\w+)\s*=\s*([^;]*);)");
  for (std::sregex_iterator b(mof.begin(), mof.end(), block), end; b != end; ++b) {
    MofInstance instance{(*b)[1], {}};
    std::string body = (*b)[2];
    for (std::sregex_iterator e(body.begin(), body.end(), entry); e != end; ++e)
      instance.values[(*e)[1]] = std::regex_replace(std::string((*e)[2]), std::regex("\""), "");
    out.push_back(instance);
  }
  return out;
}

TEST(ProviderRegistrationTest, BothFilesNameExactlyWhatEachProviderServes) {
  static const std::map<std::string, std::string> factories = {
      {"instance", "_Create_InstanceMI"},
      {"association", "_Create_AssociationMI"},
      {"method", "_Create_MethodMI"},
      {"indication", "_Create_IndicationMI"}};
  static const std::map<std::string, std::string> pegasusTypes = {
      {"instance", "2"}, {"association", "3"}, {"indication", "4"}, {"method", "5"}};
  cimom::mof::Repository classes;
  classes.readFile(PROVKIT_CLASS_MOF);

  auto registrations = agent::readRegistrations(PK_PROVIDER_REG_FILE);
  ASSERT_FALSE(registrations.empty());
  std::map<std::string, std::set<std::string>> kindsOfProvider;
  std::map<std::string, std::string> locationOf;
  for (const auto &r : registrations) {
    SCOPED_TRACE(r.className);
    const cimom::mof::Class *declared = classes.find(r.className);
    ASSERT_NE(declared, nullptr) << "registered for a class the MOF does not declare";
    EXPECT_EQ(r.namespaces, std::vector<std::string>{"root/kelva"});
    EXPECT_EQ(r.serves("association"), declared->isAssociation());
    EXPECT_EQ(r.serves("indication"), declared->isIndication());
    for (const auto &t : r.types) {
      ASSERT_TRUE(factories.count(t)) << "unknown type " << t;
      kindsOfProvider[r.provider].insert(t);
    }
    locationOf[r.provider] = r.location;
  }
  // A provider's library exports a factory for every kind it is registered for, and no
  // other.
  for (const auto &[provider, kinds] : kindsOfProvider) {
    SCOPED_TRACE(provider);
    std::string file = pk::platform::joinPath(PK_PROVIDER_DIR,
                                              pk::platform::libraryFileName(locationOf[provider]));
    void *library = pk::platform::libraryOpen(file.c_str());
    ASSERT_NE(library, nullptr) << pk::platform::lastLibraryError();
    for (const auto &[kind, suffix] : factories) {
      bool exported = pk::platform::librarySymbol(library, (provider + suffix).c_str()) != nullptr;
      EXPECT_EQ(exported, kinds.count(kind) == 1) << kind;
    }
    pk::platform::libraryClose(library);
  }

  // The provider-registration MOF: one module and provider per library, and capabilities
  // with the same classes and types as the .reg file.
  auto mof = readRegistrationMof(PK_PROVIDER_MOF_FILE);
  std::set<std::string> modules, providers;
  std::vector<std::string> fromMof, fromReg;
  for (const auto &i : mof) {
    if (i.className == "PG_ProviderModule") {
      EXPECT_EQ(i.values.at("InterfaceType"), "CMPI");
      modules.insert(i.values.at("Location"));
    } else if (i.className == "PG_Provider") {
      providers.insert(i.values.at("Name"));
    } else {
      ASSERT_EQ(i.className, "PG_ProviderCapabilities");
      EXPECT_EQ(i.values.at("ClassName"), i.values.at("CapabilityID"));
      EXPECT_EQ(i.values.at("Namespaces"), "{root/kelva}");
      fromMof.push_back(i.values.at("ProviderName") + " " + i.values.at("ClassName") + " " +
                        i.values.at("ProviderType"));
    }
  }
  for (const auto &r : registrations) {
    std::string types;
    for (const auto &t : r.types) types += (types.empty() ? "" : ", ") + pegasusTypes.at(t);
    fromReg.push_back(r.provider + " " + r.className + " {" + types + "}");
  }
  EXPECT_THAT(fromMof, UnorderedElementsAreArray(fromReg));
  std::set<std::string> locations, names;
  for (const auto &[provider, location] : locationOf) {
    names.insert(provider);
    locations.insert(location);
  }
  EXPECT_EQ(modules, locations);
  EXPECT_EQ(providers, names);
}

TEST(ProviderRegistrationTest, ARegistrationFileThatLacksAnEntryIsRefusedWithItsPlace) {
  try {
    agent::readRegistrations(AGENT_TEST_DATA "/broken.reg");
    FAIL() << "a section without location was read";
  } catch (const agent::StartError &e) {
    EXPECT_THAT(e.what(), HasSubstr("broken.reg:"));
    EXPECT_THAT(e.what(), HasSubstr("[KELVA_StorageSystem] needs provider, location"));
  }
  EXPECT_THROW(agent::readRegistrations(AGENT_TEST_DATA "/missing.reg"), agent::StartError);
}

// ---- Object paths as users type them ----------------------------------------------------

class PathTest : public cimom::testing::ObjectManagerTest {
 protected:
  std::string parsed(const std::string &text, bool whole = true) {
    Held<CMPIObjectPath> p(
        agent::parsePath(broker, om->classRepository(), text, "root/kelva", whole));
    return cimom::objectPathText(p.get());
  }
  int refusal(const std::string &text, bool whole = true) {
    try {
      parsed(text, whole);
    } catch (const agent::CimError &e) {
      return e.code;
    }
    return 0;
  }
};

TEST_P(PathTest, ReadsTheUsualTextFormTypedFromTheClass) {
  EXPECT_EQ(
      parsed(
          R"(root/kelva:KELVA_StorageSystem.Name="KELVA:1",CreationClassName="KELVA_StorageSystem")"),
      R"(root/kelva:KELVA_StorageSystem.CreationClassName="KELVA_StorageSystem",Name="KELVA:1")");
  // Host, escapes, unquoted strings, names in any case.
  EXPECT_EQ(parsed(R"(//filer/kelva_storagesystem.name="a\"b\\c,d",CreationClassName=X)"),
            R"(root/kelva:KELVA_StorageSystem.CreationClassName="X",Name="a\"b\\c,d")");
  // A reference key holds a quoted path.
  std::string system =
      R"(KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\",Name=\"KELVA:1\")";
  std::string volume =
      R"(KELVA_StorageVolume.CreationClassName=\"V\",DeviceID=\"d\",SystemCreationClassName=\"S\",SystemName=\"KELVA:1\")";
  EXPECT_THAT(parsed("KELVA_SystemDevice.GroupComponent=\"" + system + "\",PartComponent=\"" +
                     volume + "\""),
              HasSubstr(R"(PartComponent="root/kelva:KELVA_StorageVolume.)"));
  EXPECT_EQ(parsed("KELVA_StorageVolume", false), "root/kelva:KELVA_StorageVolume");
}

TEST_P(PathTest, RefusesWhatIsNoPathOfAKnownClass) {
  EXPECT_EQ(refusal("KELVA_NoSuchClass.Name=\"x\""), CMPI_RC_ERR_INVALID_CLASS);
  EXPECT_EQ(refusal("KELVA_StorageSystem.Name=\"KELVA:1"), CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_StorageSystem.Name=\"a\"x,CreationClassName=y"),
            CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_StorageSystem.Name=\"KELVA:1\""), CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_StorageSystem.Name=a,Vendor=b,CreationClassName=c"),
            CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_StorageSystem.Bogus=1,Name=a,CreationClassName=c"),
            CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_StorageSystem."), CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal(":KELVA_StorageSystem", false), CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("//host"), CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(refusal("KELVA_SystemDevice.GroupComponent=\"KELVA_Nope.A=1\",PartComponent=x", false),
            CMPI_RC_ERR_INVALID_CLASS);
}

CIMOM_INSTANTIATE(PathTest);

// ---- provkit-agent as a user runs it ----------------------------------------------------

class AgentCommandTest : public agenttest::CommandTest {
 protected:
  // The command tests' own providers and classes besides the agent's.
  static std::string testProviders() {
    return std::string("--classes ") + AGENT_TEST_DATA "/testclasses.mof --registrations " +
           AGENT_TEST_DATA "/test.reg --provider-dir " + AGENT_TEST_LIB_DIR + " --provider-dir " +
           PROVKIT_LIB_DIR;
  }
  static std::string quote(const std::string &text) { return "'" + text + "'"; }

  Scenario scenario;
};

TEST_F(AgentCommandTest, EnumeratesTheDefaultScenarioAsJson) {
  for (const char *level : {"200", "100"}) {
    SCOPED_TRACE(level);
    Outcome systems =
        agent(std::string("--cmpi-level ") + level + " --json enumerate KELVA_StorageSystem");
    ASSERT_EQ(systems.code, 0) << systems.err;
    json list = systems.parsed();
    ASSERT_EQ(list.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      std::string filer = i == 0 ? "kelva-a" : "kelva-b";
      EXPECT_EQ(list[i]["class"], "KELVA_StorageSystem");
      EXPECT_EQ(list[i]["properties"]["Name"], scenario.systemName(filer));
      EXPECT_EQ(list[i]["properties"]["ElementName"],
                scenario.filer(filer)["identity"]["systemName"]);
      EXPECT_EQ(list[i]["properties"]["Model"], scenario.filer(filer)["identity"]["model"]);
    }
  }

  Outcome volumes = agent("--json enumerate KELVA_StorageVolume");
  ASSERT_EQ(volumes.code, 0) << volumes.err;
  std::vector<std::string> ids, elementNames;
  std::vector<uint64_t> blocks;
  for (const auto &v : volumes.parsed()) {
    ids.push_back(v["properties"]["DeviceID"]);
    elementNames.push_back(v["properties"]["ElementName"]);
    blocks.push_back(v["properties"]["NumberOfBlocks"].get<uint64_t>() *
                     v["properties"]["BlockSize"].get<uint64_t>());
  }
  EXPECT_EQ(ids, scenario.lunField("kelva-a", "serial"));
  EXPECT_EQ(elementNames, scenario.lunField("kelva-a", "path"));
  std::vector<uint64_t> sizes;
  for (const auto &l : scenario.filer("kelva-a")["storage"]["luns"])
    sizes.push_back(l["sizeBytes"]);
  EXPECT_EQ(blocks, sizes);

  Outcome names = agent("--json names KELVA_StorageVolume");
  ASSERT_EQ(names.code, 0) << names.err;
  ASSERT_EQ(names.parsed().size(), ids.size());
  EXPECT_EQ(names.parsed()[0]["keys"]["DeviceID"], ids[0]);
}

TEST_F(AgentCommandTest, GetsAndFollowsAssociationsFromPathsAsTyped) {
  std::string system = "KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\",Name=\"" +
                       scenario.systemName("kelva-a") + "\"";
  Outcome got = agent("get " + quote(system));
  ASSERT_EQ(got.code, 0) << got.err;
  EXPECT_THAT(got.out, HasSubstr("instance of KELVA_StorageSystem {"));
  EXPECT_THAT(got.out, HasSubstr("ElementName = \"kelva-a\";"));

  Outcome volumes =
      agent("--json associators " + quote(system) + " --result-class CIM_StorageVolume");
  ASSERT_EQ(volumes.code, 0) << volumes.err;
  EXPECT_EQ(volumes.parsed().size(), scenario.lunField("kelva-a", "serial").size());
  Outcome nothing = agent("--json associators " + quote(system) +
                          " --names --assoc-class CIM_SystemDevice --result-class CIM_System");
  ASSERT_EQ(nothing.code, 0) << nothing.err;
  EXPECT_TRUE(nothing.parsed().empty());
  Outcome refs = agent("references " + quote(system) + " --names --role GroupComponent");
  ASSERT_EQ(refs.code, 0) << refs.err;
  EXPECT_EQ(std::count(refs.out.begin(), refs.out.end(), '\n'),
            static_cast<long>(scenario.lunField("kelva-a", "serial").size()));

  Outcome view = agent("overview");
  ASSERT_EQ(view.code, 0) << view.err;
  EXPECT_THAT(view.out, HasSubstr("Storage systems (2)"));
  EXPECT_THAT(view.out, HasSubstr("Volumes (5)"));
  EXPECT_THAT(view.out, HasSubstr("/vol/volA/q1/lun3"));
}

TEST_F(AgentCommandTest, ErrorsCarryTheCimStatusInTheExitCodeAndMessage) {
  Outcome unknown = agent("enumerate KELVA_NoSuchClass");
  EXPECT_EQ(unknown.code, 10 + CMPI_RC_ERR_INVALID_CLASS);
  EXPECT_THAT(unknown.err, HasSubstr("CIM_ERR_INVALID_CLASS (5): no class KELVA_NoSuchClass"));

  Outcome bad = agent("--json get 'KELVA_StorageSystem.Name=\"KELVA:1'");
  EXPECT_EQ(bad.code, 10 + CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(bad.parsed()["error"]["code"], CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_THAT(bad.parsed()["error"]["message"].get<std::string>(), HasSubstr("closing quote"));
  Outcome partial = agent("get 'KELVA_StorageSystem.Name=\"KELVA:1\"'");
  EXPECT_EQ(partial.code, 10 + CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_THAT(partial.err, HasSubstr("key CreationClassName of KELVA_StorageSystem is missing"));

  Outcome missing = agent(
      "get 'KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\","
      "Name=\"KELVA:0\"'");
  EXPECT_EQ(missing.code, 10 + CMPI_RC_ERR_NOT_FOUND) << missing.err;
  EXPECT_THAT(missing.err, HasSubstr("CIM_ERR_NOT_FOUND (6)"));

  Outcome elsewhere = agent("-n root/nowhere enumerate KELVA_StorageSystem");
  EXPECT_EQ(elsewhere.code, 10 + CMPI_RC_ERR_INVALID_NAMESPACE);
  EXPECT_EQ(agent("get 'root/nowhere:KELVA_StorageSystem.CreationClassName=\"KELVA_StorageSystem\","
                  "Name=\"KELVA:0118054321\"'")
                .code,
            10 + CMPI_RC_ERR_INVALID_NAMESPACE);

  // A class the MOF knows that no provider serves.
  Outcome unserved = agent("enumerate KELVA_FCInitiatorPort");
  EXPECT_EQ(unserved.code, 10 + CMPI_RC_ERR_NOT_SUPPORTED);

  // Usage errors, and help on every command.
  EXPECT_EQ(agent("").code, 2);
  EXPECT_EQ(agent("enumerate").code, 2);
  EXPECT_EQ(agent("--cmpi-level 150 enumerate X").code, 2);
  EXPECT_EQ(agent("--filer host:99999 enumerate KELVA_StorageSystem").code, 2);
  for (const char *command : {"", "enumerate", "names", "get", "associators", "references",
                              "invoke", "watch", "overview", "filers", "filers add"}) {
    Outcome help = agent(std::string(command) + " --help");
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("Usage:")) << command;
  }

  // The agent cannot start: a registration file that names no library.
  Outcome broken = agent(std::string("--registrations ") + AGENT_TEST_DATA "/broken.reg names X");
  EXPECT_EQ(broken.code, 1);
  EXPECT_THAT(broken.err, HasSubstr("broken.reg:"));
}

TEST_F(AgentCommandTest, InvokesMethodsWithTypedArguments) {
  // A pool's capabilities make the setting of the pool's row.
  std::string caps = quote("KELVA_ConcretePoolStorageCapabilities.InstanceID=\"" +
                           scenario.systemName("kelva-a") + ":aggr1\"");
  Outcome made = agent("--json invoke " + caps + " CreateSetting SettingType=2");
  ASSERT_EQ(made.code, 0) << made.err;
  EXPECT_EQ(made.parsed()["returnValue"], 0);
  EXPECT_THAT(made.parsed()["out"]["NewSetting"].get<std::string>(),
              HasSubstr("KELVA_StorageSetting.InstanceID=\"KELVA:0118054321:aggr1:"));
  Outcome notANumber = agent("invoke " + caps + " CreateSetting SettingType=two");
  EXPECT_EQ(notANumber.code, 10 + CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_THAT(notANumber.err, HasSubstr("'two' is no uint16 for SettingType"));
  EXPECT_EQ(agent("invoke " + caps + " CreateSetting SettingType=9").code,
            10 + CMPI_RC_ERR_INVALID_PARAMETER);

  std::string element = quote("KELVA_TestElement.Name=\"one\"");
  Outcome echo = agent(testProviders() + " --json invoke " + element + " Echo Text=hello");
  ASSERT_EQ(echo.code, 0) << echo.err;
  EXPECT_EQ(echo.parsed()["returnValue"], 0);
  EXPECT_EQ(echo.parsed()["out"]["Text"], "hello");
  Outcome human = agent(testProviders() + " invoke " + element + " Echo 'Text=\"a b\"'");
  ASSERT_EQ(human.code, 0) << human.err;
  EXPECT_THAT(human.out, HasSubstr("Echo returned 0"));
  EXPECT_THAT(human.out, HasSubstr("Text = \"a b\";"));

  Outcome fail = agent(testProviders() + " invoke " + element + " Fail");
  EXPECT_EQ(fail.code, 10 + CMPI_RC_ERR_FAILED);
  EXPECT_THAT(fail.err, HasSubstr("CIM_ERR_FAILED (1): Fail failed"));
  EXPECT_EQ(agent(testProviders() + " invoke " + element + " Nope").code,
            10 + CMPI_RC_ERR_METHOD_NOT_FOUND);
  EXPECT_EQ(agent(testProviders() + " invoke " + element + " Echo Other=1").code,
            10 + CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(agent(testProviders() + " invoke " + element + " Echo Text").code,
            10 + CMPI_RC_ERR_INVALID_PARAMETER);
}

TEST_F(AgentCommandTest, WatchShowsIndicationsAsTheProviderDeliversThem) {
  Outcome one = agent(testProviders() + " --json watch CIM_InstCreation --count 1 --timeout 20");
  ASSERT_EQ(one.code, 0) << one.err;
  json line = json::parse(one.out);
  EXPECT_EQ(line["class"], "CIM_InstCreation");
  EXPECT_THAT(line["indication"].get<std::string>(), HasSubstr("KELVA_TestElement"));
  // Through its parent class too; fewer indications than asked for within the time fail.
  Outcome parent = agent(testProviders() + " watch CIM_InstIndication --count 2 --timeout 1");
  EXPECT_EQ(parent.code, 10 + CMPI_RC_ERR_FAILED);
  EXPECT_THAT(parent.out, HasSubstr("CIM_InstCreation in root/kelva"));
  EXPECT_THAT(parent.err, HasSubstr("1 of 2 indications"));
  // No indication provider for the class.
  EXPECT_EQ(agent("watch CIM_InstRead --timeout 1").code, 10 + CMPI_RC_ERR_NOT_SUPPORTED);
}

TEST_F(AgentCommandTest, WatchSeesALunThatGoesOffLineOnTheFilerItPolls) {
  auto sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  filersim::HttpServer server(*sim, "kelva-a");
  // The agent's clock jumps ahead whenever it only waits, so the minute between polls passes in
  // about a second of real time.
  setenv("PROVKIT_AGENT_FAST_CLOCK", "1", 1);
  Outcome watched;
  std::thread watcher([&] {
    watched = agent("--filer 127.0.0.1:" + std::to_string(server.port()) +
                    " --system-id 0118054321 --user root --password kelva:a-secret --json watch "
                    "CIM_InstModification --count 1 --timeout 200");
  });
  // The machine's first poll, a cycle after the filter is activated, only takes the base of the
  // comparison; the change comes after it, and the next poll sees it.  The agent
  // asks the filer a few things as it starts; the poll's requests come after a quiet spell.
  for (int i = 0; i < 600 && sim->requestCount("kelva-a") == 0; ++i) pk::platform::sleepMillis(50);
  pk::platform::sleepMillis(3000);
  int started = sim->requestCount("kelva-a");
  for (int i = 0; i < 1800 && sim->requestCount("kelva-a") == started; ++i)
    pk::platform::sleepMillis(50);
  pk::platform::sleepMillis(3000);
  sim->mutate("kelva-a", [](json &state) { state["storage"]["luns"][0]["online"] = false; });
  watcher.join();
  unsetenv("PROVKIT_AGENT_FAST_CLOCK");
  ASSERT_EQ(watched.code, 0) << watched.err;
  json line = json::parse(watched.out);
  EXPECT_EQ(line["class"], "CIM_InstModification");
  EXPECT_THAT(line["indication"].get<std::string>(),
              HasSubstr(scenario.lunField("kelva-a", "serial")[0]));
}

TEST_F(AgentCommandTest, FilersAddedAndRemovedStayAndAreReachedOverHttp) {
  auto sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
  filersim::HttpServer server(*sim, "kelva-a");
  filersim::HttpServer serverB(*sim, "kelva-b");
  std::string data = "--data-dir " + (dir / "data").string() + " ";
  std::string port = std::to_string(server.port());

  Outcome listed = agent(data + "--json filers list");
  ASSERT_EQ(listed.code, 0) << listed.err;
  ASSERT_EQ(listed.parsed().size(), 2u);
  EXPECT_EQ(listed.parsed()[1]["systemId"], "0118054322");
  EXPECT_EQ(agent(data + "filers remove 0118054322").code, 0);
  EXPECT_EQ(agent(data + "filers remove 0118054322").code, 10 + CMPI_RC_ERR_NOT_FOUND);
  // The embedded filers are not brought back once the registry exists.
  EXPECT_EQ(agent(data + "--json filers list").parsed().size(), 1u);

  // A filer served over HTTP: its system id is asked from it.
  std::string portB = std::to_string(serverB.port());
  Outcome added = agent(data + "--user admin --password b-pass filers add 127.0.0.1:" + portB);
  ASSERT_EQ(added.code, 0) << added.err;
  json now = agent(data + "--json filers list").parsed();
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[1]["systemId"], "0118054322");
  EXPECT_EQ(now[1]["host"], "127.0.0.1");
  EXPECT_EQ(now[1]["port"], serverB.port());
  Outcome wrong = agent(data + "--user admin --password wrong filers add 127.0.0.1:" + portB);
  EXPECT_EQ(wrong.code, 1);
  EXPECT_THAT(wrong.err, HasSubstr("does not answer"));

  // Without the embedded filers, the registered ones that live in this process do not answer.
  Outcome alone = agent(data + "--no-embedded --json enumerate KELVA_StorageSystem");
  ASSERT_EQ(alone.code, 0) << alone.err;
  ASSERT_EQ(alone.parsed().size(), 2u);
  EXPECT_EQ(alone.parsed()[0]["properties"]["OperationalStatus"], json::array({12}));
  EXPECT_EQ(alone.parsed()[1]["properties"]["OperationalStatus"], json::array({3}));

  // --filer: only that filer, over HTTP.
  Outcome remote =
      agent("--filer 127.0.0.1:" + port +
            " --user root --password kelva:a-secret --json enumerate KELVA_StorageVolume");
  ASSERT_EQ(remote.code, 0) << remote.err;
  EXPECT_EQ(remote.parsed().size(), scenario.lunField("kelva-a", "serial").size());
  EXPECT_GT(sim->requestCount("kelva-a"), 0);
  // A slow filer: the operation shows that it is under way.
  sim->setFault("kelva-a", "*", filersim::Fault::delay(700));
  Outcome slow = agent("--filer 127.0.0.1:" + port +
                           " --system-id 0118054321 --user root --password kelva:a-secret "
                           "enumerate KELVA_StorageVolume --table DeviceID",
                       false);
  ASSERT_EQ(slow.code, 0) << slow.err;
  EXPECT_THAT(slow.err, HasSubstr("reaching the filers ... done"));
  EXPECT_THAT(slow.out, HasSubstr(scenario.lunField("kelva-a", "serial")[4]));
  sim->clearFaults();

  // A filer that stops answering is still a system, out of contact.
  sim->setOnline("kelva-a", false);
  Outcome lost = agent("--filer 127.0.0.1:" + port +
                       " --system-id 0118054321 --user root --password kelva:a-secret --json "
                       "enumerate KELVA_StorageSystem");
  ASSERT_EQ(lost.code, 0) << lost.err;
  EXPECT_EQ(lost.parsed()[0]["properties"]["OperationalStatus"], json::array({12}));
}

}  // namespace
