// A gtest fixture around the embedded object manager: a fresh, strict object
// manager per test, run once at CMPI level 2.0 and once at 1.0, and at the end of
// every test a check that nothing was left unreleased or misused.
//
//   class FrameTest : public cimom::testing::ObjectManagerTest {};
//   TEST_P(FrameTest, LogsThroughTheBroker) { ... broker ... om->logs() ... }
//   CIMOM_INSTANTIATE(FrameTest);
#pragma once

#include <cimom/cimom.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace cimom::testing {

class ObjectManagerTest : public ::testing::TestWithParam<int> {
 protected:
  // Adjusts the options before the object manager is made (class file,
  // library path ...); the CMPI level is already set from the parameter and
  // the object manager is strict (Options::strict) unless this turns it off.
  virtual void configure(Options &) {}

  void SetUp() override {
    Options options;
    options.cmpiVersion = GetParam();
    options.strict = true;
    configure(options);
    om = create(options);
    broker = om->broker();
    ctx = om->context();
  }

  void TearDown() override {
    if (om == nullptr) return;
    std::string live;
    for (const auto &line : om->describeLiveObjects()) live += "\n  " + line;
    EXPECT_EQ(om->liveObjects(), 0u) << "objects left unreleased:" << live;
    std::string misused;
    for (const auto &line : om->misuses()) misused += "\n  " + line;
    EXPECT_TRUE(om->misuses().empty()) << "misuses:" << misused;
    om.reset();
  }

  // True when the object manager presents the 2.0 tables.
  bool is20() const { return GetParam() >= 200; }

  // The text of a status message, releasing the message (whoever made it).
  static std::string takeMessage(CMPIStatus &status) {
    if (status.msg == nullptr) return "";
    std::string text = status.msg->hdl != nullptr ? static_cast<const char *>(status.msg->hdl) : "";
    status.msg->ft->release(status.msg);
    status.msg = nullptr;
    return text;
  }

  std::unique_ptr<ObjectManager> om;
  const CMPIBroker *broker = nullptr;
  const CMPIContext *ctx = nullptr;
};

// Names the two runs "Cmpi200" and "Cmpi100".
inline std::string cmpiLevelName(const ::testing::TestParamInfo<int> &info) {
  return "Cmpi" + std::to_string(info.param);
}

}  // namespace cimom::testing

// Runs every TEST_P of the fixture at both CMPI levels.
#define CIMOM_INSTANTIATE(Fixture)                                       \
  INSTANTIATE_TEST_SUITE_P(Levels, Fixture, ::testing::Values(200, 100), \
                           ::cimom::testing::cmpiLevelName)
