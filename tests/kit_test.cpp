// The controller library's internal kit: requests with parameters, sessions, the
// C edge and filer addresses, against a small in-process tree filer.
#include "wbemkelvai/kit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

std::atomic<int> received{0};

// "name=text" of every element below the request, depth first, joined by ';'.
std::string flatten(const WSIElement *element, const std::string &prefix) {
  std::string out;
  WSIIterator *children = createIterator(element);
  while (WSIElement *child = getNextElement(children)) {
    std::string name = prefix + getElementName(child);
    out += name + "=" + getElementContent(child) + ";";
    out += flatten(child, name + "/");
  }
  releaseIterator(children);
  return out;
}

// Echoes what it was sent; refuses "refuse-me" with a filer error.
int echoFiler(void *, const char *, const char *, const WSIElement *request, long,
              WSIElement **answer, WSIAnswerWriter, void *) {
  ++received;
  std::string api = getElementName(request);
  if (api == "refuse-me") {
    *answer = wsiCreateAnswer(0, 13114, "not now");
  } else {
    *answer = wsiCreateAnswer(1, 0, nullptr);
    addStringElement(*answer, "echo", (api + ":" + flatten(request, "")).c_str());
  }
  return WSI_INPROC_OK;
}

class Kit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(wsiRegisterInProcessTreeFiler("kit.filer", echoFiler, nullptr), 0);
  }
  void TearDown() override { wsiUnregisterInProcessFiler("kit.filer"); }

  std::string systemId_ = "0118054321", host_ = "Kit.Filer", user_ = "root", password_ = "pw";
  Filer filer_{
      systemId_.data(), host_.data(), user_.data(), password_.data(), WSI_TRANSPORT_HTTP, 0, 5};
};

TEST_F(Kit, RequestsCarryTheirParametersInOrder) {
  wsi::StatusRecord status;
  wsi::Session session(&filer_, status.get());
  ASSERT_TRUE(session.ok()) << status.message();
  wsi::Request request("quota-add-entry");
  request.add("volume", "vol0")
      .add("disk-limit", 1024LL)
      .add("file-limit", -1)
      .addBool("soft", true)
      .add("qtree", static_cast<const char *>(nullptr))
      .add(std::move(wsi::Request("options").add("sec-flavor", std::string("sys"))));
  wsi::Element answer = session.call(request, status.get());
  ASSERT_NE(answer, nullptr) << status.message();
  EXPECT_STREQ(getStringElement(answer.get(), "echo"),
               "quota-add-entry:volume=vol0;disk-limit=1024;file-limit=-1;soft=true;qtree=;"
               "options=;options/sec-flavor=sys;");
  EXPECT_FALSE(status.failed());
}

TEST_F(Kit, ASpoiltRequestIsNotSentAndSaysWhy) {
  wsi::StatusRecord status;
  wsi::Session session(&filer_, status.get());
  int before = received;
  wsi::Request request("igroup-add");
  request.add("initiator-group-name", "ig").add("1bad name", "x").add("initiator", "iqn");
  EXPECT_EQ(session.send(request, status.get()), nullptr);
  EXPECT_EQ(received, before);
  ASSERT_TRUE(status.failed());
  EXPECT_STREQ(status.message(),
               "Request igroup-add not sent: parameter '1bad name' could not "
               "be added");
}

TEST_F(Kit, FailedAnswersAndBadRecordsAreReportedInTheStatus) {
  wsi::StatusRecord status;
  wsi::Session session(&filer_, status.get());
  EXPECT_EQ(session.call("refuse-me", status.get()), nullptr);
  EXPECT_STREQ(status.message(), "Kit.Filer: not now (error 13114)");
  wsi::Element failed = session.send("refuse-me", status.get());
  ASSERT_NE(failed, nullptr);  // send hands back failed answers too
  EXPECT_FALSE(wsi::libraryFailure(failed.get()));
  EXPECT_FALSE(wsi::filerAway(failed.get()));

  wsi::StatusRecord noHost;
  Filer hostless = filer_;
  hostless.host = nullptr;
  EXPECT_FALSE(wsi::Session(&hostless, noHost.get()).ok());
  EXPECT_STREQ(noHost.message(), "No filer given");
  wsi::StatusRecord badPort;
  Filer wrongPort = filer_;
  wrongPort.connParam2 = 70000;
  EXPECT_FALSE(wsi::Session(&wrongPort, badPort.get()).ok());
  EXPECT_STREQ(badPort.message(), "Unable to create a connection to Kit.Filer");
}

TEST(KitEdge, ExceptionsBecomeTheFailureResult) {
  KELVAStatus status = KELVA_STATUS_INIT;
  EXPECT_EQ(wsi::cEdge(&status, 7,
                       [](KELVAStatus *) -> int {
                         throw std::system_error(
                             std::make_error_code(std::errc::resource_deadlock_would_occur),
                             "mutex");
                       }),
            7);
  ASSERT_NE(checkStatus(&status), 0);
  EXPECT_NE(std::string(status.message).find("mutex"), std::string::npos) << status.message;
  clearKELVAStatus(&status);
  EXPECT_EQ(wsi::cEdge(&status, -1, [](KELVAStatus *) -> int { throw std::bad_alloc(); }), -1);
  EXPECT_STREQ(status.message, "Insufficient memory");
  clearKELVAStatus(&status);
  // A caller without a status gets the result alone; the body still has a record.
  EXPECT_EQ(wsi::cEdge(static_cast<KELVAStatus *>(nullptr), 0,
                       [](KELVAStatus *inner) {
                         wsi::fail(inner, "noted");
                         return checkStatus(inner);
                       }),
            1);
  EXPECT_EQ(wsi::cEdge(3, []() -> int { throw 42; }), 3);
}

TEST(KitHosts, AddressesCompareWithCaseIgnoredAndTheDefaultPort) {
  EXPECT_EQ(wsi::hostKey("Filer.EXAMPLE", WSI_TRANSPORT_HTTPS, 0), "filer.example:443");
  EXPECT_EQ(wsi::hostKey("filer.example", WSI_TRANSPORT_HTTP, 0), "filer.example:80");
  EXPECT_EQ(wsi::hostKey("10.0.0.1", WSI_TRANSPORT_HTTPS_NOVERIFY, 8443), "10.0.0.1:8443");
  char *copy = wsi::newText("text");
  EXPECT_STREQ(copy, "text");
  wsifree(copy);
  EXPECT_EQ(wsi::newTextOrNull(nullptr), nullptr);
}

}  // namespace
