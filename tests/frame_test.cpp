// The frame: CMPI errors raised into a provider's status, logging through the
// broker, the broker-timed wait and the stored broker that receives the
// controller library's diagnostics.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gtest/gtest.h>
#include <provkit/frame.h>
#include <wbemkelvai/wsiapi.h>

#include <string>

#include "platform/platform.h"
#include "support.h"

namespace {

using pktest::text;

class FrameTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    ObjectManagerTest::TearDown();
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
};

TEST_P(FrameTest, RaiseReplacesTheMessageAndLogsEveryError) {
  raiseCMPIError(broker, &status, CMPI_RC_ERR_NOT_FOUND, "first");
  raiseCMPIError(broker, &status, CMPI_RC_ERR_FAILED, nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(status.msg), "Unknown error");

  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 2u);
  for (const auto &log : logs) {
    EXPECT_EQ(log.severity, 1);
    EXPECT_EQ(log.id, "CMPIError raised by provider");
    EXPECT_FALSE(log.hasText);
    EXPECT_TRUE(log.hasCmpiText);
  }
  EXPECT_EQ(logs[0].cmpiText, "first");
  EXPECT_EQ(logs[1].cmpiText, "Unknown error");

  // Clearing releases the message (the leak check in TearDown) and logs nothing.
  clearCMPIError(broker, &status);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(status.msg, nullptr);
  EXPECT_EQ(om->logs().size(), 2u);

  raiseCMPIError(broker, nullptr, CMPI_RC_ERR_FAILED, "nowhere");
  EXPECT_EQ(om->logs().size(), 2u);
}

TEST_P(FrameTest, RaiseWithoutAStringStillSetsTheCodeAndLogs) {
  om->inject({"BrokerEnc.newString"});
  raiseCMPIError(broker, &status, CMPI_RC_ERR_INVALID_PARAMETER, "lost");
  EXPECT_EQ(status.rc, CMPI_RC_ERR_INVALID_PARAMETER);
  EXPECT_EQ(status.msg, nullptr);
  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_FALSE(logs[0].hasCmpiText);
}

TEST_P(FrameTest, FormattedErrorsTakeZeroOneOrTwoArgumentsAndAreCut) {
  raiseFormattedError(broker, &status, CMPI_RC_ERR_FAILED, "plain", nullptr, nullptr);
  EXPECT_EQ(text(status.msg), "plain");
  raiseFormattedError(broker, &status, CMPI_RC_ERR_FAILED, "one %s", "a", nullptr);
  EXPECT_EQ(text(status.msg), "one a");
  raiseFormattedError(broker, &status, CMPI_RC_ERR_NOT_SUPPORTED, "%s and %s", "a", "b");
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NOT_SUPPORTED);
  EXPECT_EQ(text(status.msg), "a and b");

  std::string longText(2000, 'x');
  raiseFormattedError(broker, &status, CMPI_RC_ERR_FAILED, "<%s>", longText.c_str(), nullptr);
  EXPECT_EQ(text(status.msg), "<" + std::string(1022, 'x'));
}

TEST_P(FrameTest, ControllerStatusRecordsBecomeErrorsAndLogs) {
  KELVAStatus record = KELVA_STATUS_INIT;
  EXPECT_EQ(logKELVAStatus(broker, "quiet", &record), 0);
  EXPECT_TRUE(om->logs().empty());

  setKELVAStatus(&record, 0, "filer unreachable");
  EXPECT_NE(logKELVAStatus(broker, "probe", &record), 0);
  raiseCMPIErrorKELVA(broker, &status, &record);
  clearKELVAStatus(&record);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(status.msg), "filer unreachable");

  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0].severity, 1);
  EXPECT_EQ(logs[0].id, "probe");
  EXPECT_EQ(logs[0].text, "filer unreachable");
  EXPECT_FALSE(logs[0].hasCmpiText);
}

TEST_P(FrameTest, LogAndTraceCarryNoCmpiString) {
  logErrorStatus(broker, "id", "went wrong");
  logDebugStatus(broker, "component", "detail");
  auto logs = om->logs();
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].severity, 1);
  EXPECT_EQ(logs[0].text, "went wrong");
  EXPECT_FALSE(logs[0].hasCmpiText);
  auto traces = om->traces();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].level, 3);
  EXPECT_EQ(traces[0].component, "component");
  EXPECT_EQ(traces[0].text, "detail");
  EXPECT_FALSE(traces[0].hasCmpiText);
}

TEST_P(FrameTest, WaitSecondsBlocksWithTheBrokersCondition) {
  uint64_t start = pk::platform::monotonicNanos();
  waitSecondsCMPIThread(broker, 1);
  uint64_t elapsed = pk::platform::monotonicNanos() - start;
  // The deadline comes from the wall clock; allow for its granularity.
  EXPECT_GE(elapsed, 950'000'000u);
  EXPECT_EQ(om->callCount("BrokerExt.timedCondWait") >= 1, true);
  EXPECT_EQ(om->callCount("BrokerExt.destroyCondition"), 1u);
  EXPECT_EQ(om->callCount("BrokerExt.destroyMutex"), 1u);
}

TEST_P(FrameTest, WaitSecondsGivesUpWhenTheBrokerHasNoMutexOrCondition) {
  om->inject({"BrokerExt.newMutex"});
  waitSecondsCMPIThread(broker, 30);
  EXPECT_EQ(om->callCount("BrokerExt.newCondition"), 0u);

  om->inject({"BrokerExt.newCondition"});
  waitSecondsCMPIThread(broker, 30);
  EXPECT_EQ(om->callCount("BrokerExt.destroyMutex"), 1u);
  EXPECT_EQ(om->callCount("BrokerExt.timedCondWait"), 0u);
}

CIMOM_INSTANTIATE(FrameTest);

TEST(Frame, UnsupportedMethodsAreFoundIgnoringCase) {
  const char *table[] = {"RequestStateChange", "GetElementNames", nullptr};
  EXPECT_EQ(isUnsupportedMethod("getelementnames", table), 1);
  EXPECT_EQ(isUnsupportedMethod("CreateElement", table), 0);
  const char *empty[] = {nullptr};
  EXPECT_EQ(isUnsupportedMethod("RequestStateChange", empty), 0);
}

TEST(Frame, AgentVersionIsANewCopy) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  char *version = getSMISAgentVersionString(nullptr, &status);
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version, "4.1");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  wsifree(version);
}

TEST_P(FrameTest, AgentVersionWithoutMemoryIsAnError) {
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(getSMISAgentVersionString(broker, &status), nullptr);
  }
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  EXPECT_EQ(text(status.msg), "Unable to allocate memory for version string");
}

// The stored broker lives as long as the process, so this object manager does too.
TEST(Frame, TheFirstBrokerReceivesTheControllerLibrarysDiagnostics) {
  static auto first = cimom::create();
  auto second = cimom::create();
  initProvkit(nullptr);
  initProvkit(first->broker());
  initProvkit(second->broker());

  // Registering an in-process filer is traced by the controller library.
  auto handler = [](void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter,
                    void *) { return 0; };
  ASSERT_NE(wsiRegisterInProcessFiler("frame-test-filer", handler, nullptr), 0);
  wsiUnregisterInProcessFiler("frame-test-filer");

  bool seen = false;
  for (const auto &trace : first->traces()) {
    if (trace.text.find("frame-test-filer") != std::string::npos) {
      seen = true;
      EXPECT_EQ(trace.level, 3);
      EXPECT_FALSE(trace.hasCmpiText);
    }
  }
  EXPECT_TRUE(seen);
  EXPECT_TRUE(second->traces().empty());
  EXPECT_TRUE(second->logs().empty());
}

}  // namespace
