// What the association and provider operation tests share: an object manager
// per test (both CMPI levels), a registry data directory of the test's own,
// filers registered by host, and paths of the fixture library's elements
// (key "ID").  The fixture library opsfixture (implibs/opsfixture.c) is found
// through LD_LIBRARY_PATH.
#pragma once

#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "registry_support.h"

namespace opstest {

inline constexpr const char *fixtureLib = "libopsfixture.so";

class OpsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    regtest::currentBroker() = broker;
    dir = regtest::useNewDataDir();
  }
  void TearDown() override {
    releasePaths();
    // The registry outlives a test, its object manager does not.
    pk::testing::resetFilerRegistry(broker);
    regtest::currentBroker() = nullptr;
    std::filesystem::remove_all(dir);
    ObjectManagerTest::TearDown();
  }

  // Registers a filer that answers nothing; the fixture reads only its host.
  void addFiler(const std::string &id, const std::string &host) {
    ASSERT_EQ(regtest::add(regtest::newFiler(id, host)), CMPI_RC_OK);
  }

  // A new path of className in root/kelva with the key ID, released by the test.
  CMPIObjectPath *path(const char *className, const std::string &id) {
    CMPIObjectPath *made = CMNewObjectPath(broker, "root/kelva", className, nullptr);
    if (!id.empty()) CMAddKey(made, "ID", id.c_str(), CMPI_chars);
    paths.push_back(made);
    return made;
  }

  // The status's message text, releasing it.
  static std::string message(CMPIStatus &status) { return takeMessage(status); }

  std::vector<std::string> logTexts(int severity) const {
    std::vector<std::string> texts;
    for (const auto &log : om->logs())
      if (log.severity == severity) texts.push_back(log.text);
    return texts;
  }

  void releasePaths() {
    for (CMPIObjectPath *made : paths) CMRelease(made);
    paths.clear();
  }

  std::filesystem::path dir;
  std::vector<CMPIObjectPath *> paths;
};

}  // namespace opstest
