// What the agent's tests share: the agent's providers loaded through their MI factories
// in the embedded object manager over the default scenario's simulated filers, and
// provkit-agent run as a user runs it, with what it wrote.
#pragma once

#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <provkit/registry.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "agent.h"
#include "filersim/filersim.h"
#include "platform/platform.h"
#include "registry_support.h"
#include "simfilers_support.h"
#include "support.h"

namespace agenttest {

using agent::Held;
using nlohmann::json;
using pktest::text;

// The default scenario as written.
inline json defaultScenario() {
  std::ifstream in(FILERSIM_DEFAULT_SCENARIO);
  return json::parse(in);
}

// The scenario's filer of that name.
inline const json &filerOf(const json &scenario, const std::string &name) {
  for (const auto &f : scenario["filers"])
    if (f["name"] == name) return f;
  throw std::runtime_error("no filer " + name);
}

// Every provider of the registration file, at the test's CMPI level, serving the default
// scenario's filers (registered in provkit's registry, reached in process).
class ProviderTest : public cimom::testing::ObjectManagerTest {
 protected:
  void configure(cimom::Options &options) override {
    options.libraryPath = {PK_PROVIDER_DIR, PK_IMPLIB_DIR};
  }
  void SetUp() override {
    // The providers hand provkit their broker, which it keeps for the life of the process;
    // a broker that lives as long is given first, so each test's object manager may go.
    static auto lasting = cimom::create();
    initProvkit(lasting->broker());
    ObjectManagerTest::SetUp();
    regtest::currentBroker() = broker;
    dir = regtest::useNewDataDir();
    sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    sim->registerInProcess();
    ASSERT_EQ(regtest::addSimulatedFilers(*sim), CMPI_RC_OK);
    for (const auto &r : agent::readRegistrations(PK_PROVIDER_REG_FILE)) {
      ASSERT_TRUE(om->registerProvider("root/kelva", r.className, r.location, r.provider))
          << r.provider << ": " << pk::platform::lastLibraryError();
    }
  }
  void TearDown() override {
    CMPIStatus listed{CMPI_RC_OK, nullptr};
    WSIList *list = getFilerList(broker, &listed);
    for (WSIListPos *p = WSIList_getFirst(list); p != nullptr; p = WSIList_getNext(p)) {
      KELVAStatus record = KELVA_STATUS_INIT;
      FilerCache_deleteEntry(static_cast<Filer *>(WSIList_getElement(p)), &record);
      clearKELVAStatus(&record);
    }
    freeFilers(list);
    pk::testing::resetFilerRegistry(broker);
    sim.reset();
    regtest::currentBroker() = nullptr;
    regtest::fs::remove_all(dir);
    ObjectManagerTest::TearDown();
  }

  // The path as a user types it, in root/kelva; a class name alone will do.
  CMPIObjectPath *path(const std::string &text) {
    return agent::parsePath(broker, om->classRepository(), text, "root/kelva", false);
  }

  regtest::fs::path dir;
  std::unique_ptr<filersim::Simulator> sim;
};

// What a run of provkit-agent gave: its exit code and what it wrote where.
struct Outcome {
  int code = -1;
  std::string out, err;
  // Its output read as JSON; a failure (and null) when it is none.
  json parsed() const {
    try {
      return json::parse(out);
    } catch (const std::exception &e) {
      ADD_FAILURE() << "not JSON: " << e.what() << "\n" << out << err;
      return json();
    }
  }
};

// Runs provkit-agent as a user does, from a directory of its own.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = regtest::fs::temp_directory_path() /
          ("agent-test-" + std::to_string(std::random_device()()));
    regtest::fs::create_directories(dir);
  }
  void TearDown() override { regtest::fs::remove_all(dir); }

  Outcome agent(const std::string &arguments, bool quiet = true) {
    std::string out = (dir / "out").string(), err = (dir / "err").string();
    std::string command = std::string(PROVKIT_AGENT) + (quiet ? " --quiet " : " ") + arguments +
                          " >" + out + " 2>" + err + " </dev/null";
    int status = std::system(command.c_str());
    Outcome run;
    run.code = status == -1 ? -1 : (status >> 8) & 0xff;  // the shell's exit status
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
  }
  static std::string slurp(const std::string &file) {
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  regtest::fs::path dir;
};

}  // namespace agenttest
