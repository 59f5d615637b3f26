// The controller library built without the XML codec and the HTTP transport, as the
// Windows build is: a filer living in the process is still reached, its requests and
// answers passing as element trees.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wbemkelvai/kit.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace {

using wsi::Element;
using wsi::Server;

constexpr const char *kHost = "tree-filer.test";

// A small filer: its version, an SNMP echo, and answers that break the rules.
int treeFiler(void *, const char *user, const char *password, const WSIElement *request, long,
              WSIElement **answer, WSIAnswerWriter, void *) {
  if (std::string(user) != "root" || std::string(password) != "secret") {
    return WSI_INPROC_UNAUTHORIZED;
  }
  std::string api = getElementName(request);
  if (api == "system-get-version") {
    *answer = wsiCreateAnswer(1, 0, nullptr);
    addStringElement(*answer, "version", "KELVA Release 8.1.2");
  } else if (api == "snmp-get") {
    *answer = wsiCreateAnswer(1, 0, nullptr);
    addStringElement(*answer, "value", getStringElement(request, "object-id"));
  } else if (api == "many-elements") {
    *answer = wsiCreateAnswer(1, 0, nullptr);
    for (unsigned i = 0; i <= WSI_MAX_ANSWER_ELEMENTS; ++i) addStringElement(*answer, "a", "");
  } else if (api == "not-an-answer") {
    *answer = createElement("results");
  } else {
    *answer = wsiCreateAnswer(0, 13005, ("Unable to find API: " + api).c_str());
  }
  return WSI_INPROC_OK;
}

int textFiler(void *, const char *, const char *, const char *, size_t, long, WSIAnswerWriter,
              void *) {
  return WSI_INPROC_OK;
}

class NoXml : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(wsiRegisterInProcessTreeFiler(kHost, treeFiler, nullptr), 0); }
  void TearDown() override { wsiUnregisterInProcessFiler(kHost); }
  Element ask(const char *host, const char *api, const char *password = "secret") {
    Server server(createServerInfo(host, "root", password, 5, WSI_TRANSPORT_HTTP, 0));
    Element request(createElement(api));
    addStringElement(request.get(), "object-id", ".1.3.6.1.2.1.1.5.0");
    return Element(invokeServerElement(server.get(), request.get()));
  }
};

TEST_F(NoXml, TreeFilersAnswerWithoutAnyXml) {
  Element echo = ask("TREE-FILER.test", "snmp-get");
  ASSERT_EQ(checkResultStatus(echo.get()), 1) << getResultErrorString(echo.get());
  EXPECT_STREQ(getStringElement(echo.get(), "value"), ".1.3.6.1.2.1.1.5.0");

  Element unknown = ask(kHost, "no-such-api");
  EXPECT_EQ(getResultErrorNum(unknown.get()), 13005);
  EXPECT_STREQ(getResultErrorString(unknown.get()), "Unable to find API: no-such-api");
  EXPECT_EQ(getResultErrorNum(ask(kHost, "snmp-get", "guess").get()), WSI_ERR_AUTH);

  // The library's own readers work through it too.
  std::string systemId = "0118054321", host = kHost, user = "root", password = "secret";
  Filer filer{systemId.data(), host.data(), user.data(), password.data(), WSI_TRANSPORT_HTTP, 0, 5};
  KELVAStatus status = KELVA_STATUS_INIT;
  int32_t major = 0, minor = 0, micro = 0;
  ASSERT_EQ(getSystemVersion(&status, &filer, &major, &minor, &micro), 1) << status.message;
  EXPECT_EQ(major * 10000 + minor * 100 + micro, 80102);
  clearKELVAStatus(&status);
}

TEST_F(NoXml, TreeAnswersAreBoundedLikeTextOnes) {
  Element many = ask(kHost, "many-elements");
  EXPECT_EQ(getResultErrorNum(many.get()), WSI_ERR_BAD_ANSWER);
  EXPECT_NE(std::string(getResultErrorString(many.get())).find("elements"), std::string::npos);
  EXPECT_EQ(getResultErrorNum(ask(kHost, "not-an-answer").get()), WSI_ERR_BAD_ANSWER);
}

TEST_F(NoXml, WhatNeedsXmlSaysSo) {
  ASSERT_NE(wsiRegisterInProcessFiler("text-filer.test", textFiler, nullptr), 0);
  Element text = ask("text-filer.test", "snmp-get");
  EXPECT_EQ(getResultErrorNum(text.get()), WSI_ERR_NO_TRANSPORT);
  wsiUnregisterInProcessFiler("text-filer.test");
  Element network = ask("127.0.0.1", "snmp-get");
  EXPECT_EQ(getResultErrorNum(network.get()), WSI_ERR_NO_TRANSPORT);
}

}  // namespace
