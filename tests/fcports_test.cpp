// Fibre Channel ports of a simulated filer: initiator ports parsed from its
// "sysconfig -v" text, target ports from its adapter listing, and SNMP reads.
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blockaccess_filer.h"
#include "provkit/fcports.h"
#include "provkit/frame.h"

namespace {

using blocktest::SimFiler;
using ::testing::ElementsAre;

nlohmann::json scenario() {
  return nlohmann::json::parse(R"({"filers": [{
    "name": "fc", "host": "fc.sim",
    "credentials": {"user": "root", "password": "pw"},
    "identity": {"systemId": "0303"},
    "fcp": {"enabled": true, "nodeName": "50:0a:09:80:86:a7:51:2f"},
    "snmp": {".1.3.6.1.4.1.7": "seven", ".1.3.6.1.4.1": "base"},
    "blockaccess": {"fcAdapters": [
      {"name": "0a", "slot": 1, "mode": "initiator", "portType": "N", "state": "UP",
       "speedGbit": 2, "nodeName": "20:00:00:e0:8b:1c:2d:3e", "portName": "21:00:00:e0:8b:1c:2d:3e"},
      {"name": "0b", "slot": 1, "mode": "initiator", "portType": "F/NL", "state": "DOWN",
       "speedGbit": 4, "nodeName": "20:00:00:e0:8b:aa:bb:cc", "portName": "21:00:00:e0:8b:aa:bb:cc"},
      {"name": "4a", "slot": 4, "mode": "target", "portType": "FL", "state": "ONLINE",
       "nodeName": "50:0a:09:80:86:a7:51:2f", "portName": "50:0a:09:81:86:a7:51:2f",
       "portAddress": 6816, "portId": 3, "packetSize": 2048, "dataLinkRate": -1},
      {"name": "4b", "slot": 4, "mode": "target", "portType": "NL", "state": "LINK NOT CONNECTED",
       "nodeName": "50:0a:09:80:86:a7:51:2f"}
    ]}}]})");
}

class FcPortsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void SetUp() override {
    ObjectManagerTest::SetUp();
    const Filer *f = fc_.filer();
    server_ = createServerInfo(f->host, f->userName, f->password, f->connParam3, f->connParam1,
                               f->connParam2);
  }
  void TearDown() override {
    destroyServerInfo(server_);
    clearCMPIError(broker, &status_);
    ObjectManagerTest::TearDown();
  }
  std::string message() {
    std::string text = takeMessage(status_);
    status_.rc = CMPI_RC_OK;
    return text;
  }
  // Makes the next sysconfig print exactly text.
  void printNext(const std::string &text) {
    fc_.sim().setFault(
        "fc", "system-cli",
        filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\"><cli-output>" +
                                    text + "</cli-output></results></kelva>",
                                1));
  }
  std::vector<KELVAFCInitiatorPort *> ports(WSIList *list) {
    std::vector<KELVAFCInitiatorPort *> out;
    for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at))
      out.push_back(static_cast<KELVAFCInitiatorPort *>(WSIList_getElement(at)));
    return out;
  }
  static uint16_t first(WSIList *numbers) {
    return *static_cast<uint16_t *>(WSIList_getFirstElement(numbers, nullptr, nullptr));
  }
  void freePorts(WSIList *list) { WSIList_free(list, freeFCInitiatorPort); }

  SimFiler fc_{scenario(), "fc"};
  WSIServerInfo *server_ = nullptr;
  CMPIStatus status_{CMPI_RC_OK, nullptr};
};

TEST_P(FcPortsTest, InitiatorPortsFromTheAdapterSections) {
  WSIList *list = doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr);
  ASSERT_NE(list, nullptr) << message();
  auto all = ports(list);
  ASSERT_EQ(all.size(), 4u);
  KELVAFCInitiatorPort *a = all[0];
  EXPECT_STREQ(a->systemName, "KELVA:0303");
  EXPECT_STREQ(a->deviceID, "200000E08B1C2D3E");
  EXPECT_STREQ(a->elementName, "0a");
  EXPECT_EQ(a->portType, 10);
  EXPECT_EQ(first(a->operationalStatus), 2);
  EXPECT_EQ(a->fixedNumber1, 3);
  EXPECT_EQ(a->fixedNumber2, 4);
  EXPECT_EQ(a->speed, 1062500000u);
  EXPECT_EQ(a->maxSpeed, 1062500000u);
  EXPECT_EQ(a->frameSize, 2112u);
  EXPECT_EQ(first(a->supportedFC4Types), 8);
  EXPECT_EQ(a->activeFC4Types, a->supportedFC4Types);
  EXPECT_EQ(all[1]->portType, 11);  // F/NL
  EXPECT_EQ(first(all[1]->operationalStatus), 6);
  EXPECT_EQ(all[2]->portType, 16);  // FL
  EXPECT_EQ(all[3]->portType, 11);  // NL
  EXPECT_EQ(first(all[2]->operationalStatus), 0);
  freePorts(list);
  // The request is "system-cli" with the two words in order.
  auto sent = fc_.sent("system-cli");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_THAT(sent[0].params, ElementsAre("args={...}"));
}

TEST_P(FcPortsTest, KeysOnlyAndTheNodeNameFilter) {
  WSIList *list = doSysConfig(broker, &status_, fc_.filer(), server_, 1, "200000E08BAABBCC");
  ASSERT_NE(list, nullptr) << message();
  auto only = ports(list);
  ASSERT_EQ(only.size(), 1u);
  EXPECT_STREQ(only[0]->deviceID, "200000E08BAABBCC");
  EXPECT_EQ(only[0]->elementName, nullptr);
  EXPECT_EQ(only[0]->operationalStatus, nullptr);
  EXPECT_EQ(only[0]->portType, 0);
  freePorts(list);
}

TEST_P(FcPortsTest, PortWordsAndOddTexts) {
  struct Case {
    std::string text;
    std::vector<uint16_t> types;
  };
  const std::string node = "\n FC Node Name: 1:2\n";
  for (const Case &c : std::vector<Case>{
           {"FC Host Adapter 1a (dual, E-port, &lt;UP&gt;)" + node, {14}},
           {"FC Host Adapter 1a (dual, B-port)" + node, {17}},
           {"FC Host Adapter 1a (dual, X-port)" + node, {1}},
           {"FC Host Adapter 1a (dual, XY-port)" + node, {0}},
           {"FC Host Adapter 1a (dual, ABCD-port)" + node, {0}},
           {"FC Host Adapter 1a (dual, ABC-port)" + node, {0}},
           {"FC Host Adapter 1a (dual(F-port)" + node, {0}},
           {"FC Host Adapter 1a (no port word)" + node, {1}},
           {std::string("FC Host Adapter 1a")
                .append(node)
                .append("FC Host Adapter 1b (dual, F-port)")
                .append(node),
            {15, 15}},
       }) {
    printNext(c.text);
    WSIList *list = doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr);
    ASSERT_NE(list, nullptr) << c.text << ": " << message();
    std::vector<uint16_t> types;
    for (auto *p : ports(list)) types.push_back(p->portType);
    EXPECT_EQ(types, c.types) << c.text;
    freePorts(list);
  }
  printNext("slot 0: System Board\n");
  WSIList *none = doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(WSIList_getLength(none), 0u);
  EXPECT_EQ(status_.rc, CMPI_RC_OK);
  freePorts(none);

  printNext("FC Host Adapter 1a (N-port)\n no node name here\n");
  EXPECT_EQ(doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr), nullptr);
  EXPECT_EQ(message(), "Could not get Node Name (Device ID)");

  fc_.sim().setFault(
      "fc", "system-cli",
      filersim::Fault::answer("<kelva version=\"1.0\"><results status=\"passed\"/></kelva>", 1));
  EXPECT_EQ(doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr), nullptr);
  EXPECT_EQ(message(), "Invalid output from QORB");

  fc_.sim().setFault("fc", "system-cli", filersim::Fault::fail(13001, "cli broke", 1));
  EXPECT_EQ(doSysConfig(broker, &status_, fc_.filer(), server_, 0, nullptr), nullptr);
  EXPECT_THAT(message(), ::testing::HasSubstr("cli broke"));
}

TEST_P(FcPortsTest, TargetPortsFromTheAdapterListing) {
  WSIList *list = getFCTPList(broker, fc_.filer(), server_, nullptr, &status_);
  ASSERT_NE(list, nullptr) << message();
  ASSERT_EQ(WSIList_getLength(list), 2u);
  auto *t = static_cast<KELVAFCTPInfo *>(WSIList_getFirstElement(list, nullptr, nullptr));
  EXPECT_STREQ(t->adapter, "4a");
  EXPECT_STREQ(t->nodeName, "50:0a:09:80:86:a7:51:2f");
  EXPECT_STREQ(t->portName, "500A098186A7512F");
  EXPECT_EQ(t->portAddress, 6816);
  EXPECT_EQ(t->portId, 3);
  EXPECT_EQ(t->packetSize, 2048);
  EXPECT_EQ(t->dataLinkRate, -1);
  EXPECT_STREQ(t->state, "ONLINE");
  EXPECT_STREQ(t->systemName, "KELVA:0303");
  WSIList_free(list, freeFCTPInfo);
  EXPECT_THAT(fc_.sent("fcp-adapter-list-info").back().params, ElementsAre("verbose=true"));

  list = getFCTPList(broker, fc_.filer(), server_, "4B", &status_);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(WSIList_getLength(list), 1u);
  EXPECT_STREQ(
      static_cast<KELVAFCTPInfo *>(WSIList_getFirstElement(list, nullptr, nullptr))->portName, "");
  WSIList_free(list, freeFCTPInfo);

  // A refusing filer gives an empty list and no error.
  fc_.sim().setFault("fc", "fcp-adapter-list-info", filersim::Fault::fail(13114, "off", 1));
  list = getFCTPList(broker, fc_.filer(), server_, nullptr, &status_);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(WSIList_getLength(list), 0u);
  EXPECT_EQ(status_.rc, CMPI_RC_OK);
  WSIList_free(list, freeFCTPInfo);
}

TEST_P(FcPortsTest, SnmpReadsOfOneObject) {
  char *value = nullptr;
  EXPECT_EQ(getObjectID1_732(broker, fc_.filer(), &status_, server_, ".1.3.6.1.4.1", 7, &value), 1);
  EXPECT_STREQ(value, "seven");
  wsifree(value);
  EXPECT_THAT(fc_.sent("snmp-get").back().params, ElementsAre("object-id=.1.3.6.1.4.1.7"));
  EXPECT_EQ(getObjectID_732(broker, fc_.filer(), &status_, server_, ".1.3.6.1.4.1", nullptr), 1);
}

CIMOM_INSTANTIATE(FcPortsTest);

}  // namespace
