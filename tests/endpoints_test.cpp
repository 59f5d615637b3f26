// iSCSI and network identifiers through the embedded object manager at both
// CMPI levels: the byte-exact texts and failure messages, round trips over
// generated inputs with separators inside the fields that may hold them, and
// the reads that complete identifiers from the default scenario's simulated
// filers (portal tags by SNMP, node names, session parameters).
#include <cimom/cimom.h>
#include <cimom/testing.h>
#include <cmpimacs.h>
#include <filersim/filersim.h>
#include <gtest/gtest.h>
#include <provkit/endpoints.h>
#include <provkit/frame.h>
#include <wbemkelvai/wsiapi.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace {

std::string randomText(std::mt19937 &rng, const std::string &alphabet, size_t minLen,
                       size_t maxLen) {
  std::uniform_int_distribution<size_t> len(minLen, maxLen);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string out(len(rng), ' ');
  for (char &c : out) c = alphabet[pick(rng)];
  return out;
}

std::string take(char *text) {
  std::string out = text != nullptr ? text : "<null>";
  wsifree(text);
  return out;
}

class EndpointsTest : public cimom::testing::ObjectManagerTest {
 protected:
  void TearDown() override {
    clearCMPIError(broker, &status);
    for (CMPIObjectPath *op : made) CMRelease(op);
    ObjectManagerTest::TearDown();
  }
  std::string message() {
    std::string text = takeMessage(status);
    status.rc = CMPI_RC_OK;
    return text;
  }
  CMPIObjectPath *pathWith(const char *key, const char *value) {
    CMPIObjectPath *op = CMNewObjectPath(broker, "root/kelva", "KELVA_iSCSISession", nullptr);
    if (key != nullptr) CMAddKey(op, key, value, CMPI_chars);
    made.push_back(op);
    return op;
  }
  // A writable InstanceID of system "KELVA:sys" with the local part.
  static std::string instanceId(const char *local) { return take(encodeInstanceID("sys", local)); }
  std::vector<std::string> logsAt(int severity) const {
    std::vector<std::string> out;
    for (const auto &log : om->logs())
      if (log.severity == severity) out.push_back(log.text);
    return out;
  }

  CMPIStatus status{CMPI_RC_OK, nullptr};
  std::vector<CMPIObjectPath *> made;
};

TEST_P(EndpointsTest, SessionsAndConnections) {
  std::string id = take(encodeISCSISessionID("KELVA:sys", "12", "a1b2", 7));
  EXPECT_EQ(id, instanceId("12+a1b2+7"));
  char *tsih = nullptr, *isid = nullptr;
  uint32_t session = 0;
  char local[] = "12+a1b2+7";
  decodeSessionID(broker, &status, local, &tsih, &isid, &session);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_STREQ(tsih, "12");
  EXPECT_STREQ(isid, "a1b2");
  EXPECT_EQ(session, 7u);

  char *cid = nullptr;
  uint32_t sessionIndex = 0, connectionIndex = 0;
  char connection[] = "1:2:3:4";
  decodeConnectionName(broker, &status, connection, &cid, &tsih, &sessionIndex, &connectionIndex);
  EXPECT_STREQ(cid, "1");
  EXPECT_STREQ(tsih, "2");
  EXPECT_EQ(sessionIndex, 3u);
  EXPECT_EQ(connectionIndex, 4u);

  struct Case {
    bool session;
    std::string text;
    const char *message;
  } cases[] = {
      {true, "12+abc+x", "KELVA_iSCSISession failed to format Session ID"},
      {true, "12+abc+4294967296", "KELVA_iSCSISession failed to format Session ID"},
      {true, "12+abc", "KELVA_iSCSISession failed to extract Session ID"},
      {true, "12", "KELVA_iSCSISession failed to extract Session ISID"},
      {true, "", "KELVA_iSCSISession failed to extract Session TSIH"},
      {false, "1:2:x:4", "KELVA_iSCSIConnection failed to format CxnIndex from InstanceID"},
      {false, "1:2:3:4x", "KELVA_iSCSIConnection failed to format CxnIndex from InstanceID"},
      {false, "1:2:3", "KELVA_iSCSIConnection failed to extract CxnIndex from InstanceID"},
      {false, "1:2", "KELVA_iSCSIConnection failed to extract SsnIndex from InstanceID"},
      {false, "1", "KELVA_iSCSIConnection failed to extract SsnTSIH from InstanceID"},
      {false, ":::", "KELVA_iSCSIConnection failed to extract CxnCid from InstanceID"},
  };
  for (Case &c : cases) {
    if (c.session) {
      decodeSessionID(broker, &status, c.text.data(), &tsih, &isid, &session);
    } else {
      decodeConnectionName(broker, &status, c.text.data(), &cid, &tsih, &sessionIndex,
                           &connectionIndex);
    }
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED) << c.text;
    EXPECT_EQ(message(), c.message) << c.text;
  }
  EXPECT_EQ(encodeISCSISessionID(nullptr, "1", "2", 3), nullptr);
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(encodeISCSISessionID("sys", "1", "2", 3), nullptr);
  }
}

TEST_P(EndpointsTest, PortalGroupsSettingsAndLoginStatistics) {
  using Decoder = void (*)(const CMPIBroker *, CMPIStatus *, char *, char **, char **, char **,
                           char **, char **);
  struct Form {
    Decoder decode;
    const char *messages[4];
  } forms[] = {
      {decodePortalGroupID,
       {"KELVA_iSCSIPortalGroup InstanceID is NULL",
        "KELVA_iSCSIPortalGroup failed to format Portal Name",
        "KELVA_iSCSIPortalGroup failed to format Inst Index",
        "KELVA_iSCSIPortalGroup failed to format Portal Index"}},
      {decodeISCSISessionSettingID,
       {"KELVA_iSCSISessionSettings InstanceID is NULL",
        "KELVA_iSCSISessionSettings failed to format Portal Index",
        "KELVA_iSCSISessionSettings failed to format Inst Index",
        "KELVA_iSCSISessionSettings failed to format Portal Index"}},
      {decodeISCSIConnectionSettingsID,
       {"KELVA_iSCSIConnectionSettings InstanceID is NULL",
        "KELVA_iSCSIConnectionSettings failed to format Portal Address",
        "KELVA_iSCSIConnectionSettings failed to format Inst Index",
        "KELVA_iSCSIConnectionSettings failed to format Portal Index"}},
  };
  for (const Form &form : forms) {
    std::string id = instanceId("1000+a+b+c");
    char *system = nullptr, *prefix = nullptr, *first = nullptr, *second = nullptr,
         *third = nullptr;
    form.decode(broker, &status, id.data(), &system, &prefix, &first, &second, &third);
    EXPECT_EQ(status.rc, CMPI_RC_OK);
    EXPECT_STREQ(system, "sys");
    EXPECT_STREQ(prefix, "KELVA");
    EXPECT_STREQ(first, "1000");
    EXPECT_STREQ(second, "a");
    EXPECT_STREQ(third, "b+c");  // the last field takes the rest

    form.decode(broker, &status, nullptr, &system, &prefix, &first, &second, &third);
    EXPECT_EQ(message(), form.messages[0]);
    const char *locals[] = {"+++", "1000", "1000+a"};
    for (int i = 0; i < 3; ++i) {
      std::string partial = instanceId(locals[i]);
      form.decode(broker, &status, partial.data(), &system, &prefix, &first, &second, &third);
      EXPECT_EQ(message(), form.messages[i + 1]) << locals[i];
    }
    // A text that is no InstanceID carries the controller library's reason.
    char bare[] = "no-instance-id";
    form.decode(broker, &status, bare, &system, &prefix, &first, &second, &third);
    EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
    EXPECT_FALSE(message().empty());
  }

  char *node = nullptr, *i = nullptr, *n = nullptr, *stats = nullptr;
  char local[] = "iqn.x+1+2+3+4";
  decodeISCSILoginStatsNodeName(broker, &status, local, &node, &i, &n, &stats);
  EXPECT_STREQ(node, "iqn.x");
  EXPECT_STREQ(stats, "3");  // each field ends at the next '+'
  const char *missing[][2] = {
      {"", "KELVA_iSCSILoginStatistics Unable to get 'node name' from encoded name"},
      {"a", "KELVA_iSCSILoginStatistics Unable to get 'i' from encoded name"},
      {"a+b", "KELVA_iSCSILoginStatistics Unable to get 'n' from encoded name"},
      {"a+b+c+", "KELVA_iSCSILoginStatistics Unable to get 'login stats' from encoded name"},
  };
  for (const auto &m : missing) {
    std::string text = m[0];
    decodeISCSILoginStatsNodeName(broker, &status, text.data(), &node, &i, &n, &stats);
    EXPECT_EQ(message(), m[1]) << m[0];
  }
  decodeISCSILoginStatsNodeName(broker, &status, nullptr, &node, &i, &n, &stats);
  EXPECT_EQ(message(), "KELVA_iSCSILoginStatistics InstanceID is NULL");
}

// The readers of keys hand back copies and raise what their decoder raises.
TEST_P(EndpointsTest, KeysOfPaths) {
  std::string group = instanceId("1000+a+b");
  EXPECT_EQ(
      take(getPortalTagFromPortalGroup(broker, pathWith("InstanceID", group.c_str()), &status)),
      "1000");
  std::string setting = instanceId("iqn.node+a+b");
  EXPECT_EQ(take(getNodeFromSettingData(broker, pathWith("InstanceID", setting.c_str()), &status)),
            "iqn.node");
  std::string stats = instanceId("iqn.node+1+2+3");
  EXPECT_EQ(take(getNodeNameFromStats(broker, pathWith("InstanceID", stats.c_str()), &status)),
            "iqn.node");
  CMPIObjectPath *endpoint = pathWith("Name", "iqn.node,t3e8");
  EXPECT_EQ(take(getNodeFromEndpoint(broker, endpoint, &status)), "iqn.node");
  EXPECT_EQ(take(getPortalTagFromEndpoint(broker, endpoint, &status)), "1000");
  EXPECT_EQ(take(getPortFromTCPProtocolEndpointPath(broker, pathWith("Name", "pfx:3260"), &status)),
            "3260");
  EXPECT_EQ(
      take(getDeviceIDFromLANEndpointPath(broker, pathWith("Name", "IP:e0b:10.0.0.1"), &status)),
      "e0b");
  std::string util = "disk1:" + instanceId("uuid-1:2");
  EXPECT_EQ(take(getUUIDFromCapUtilPath(broker, pathWith("InstanceID", util.c_str()), &status)),
            "uuid-1:2");
  EXPECT_EQ(status.rc, CMPI_RC_OK);

  EXPECT_EQ(getPortalTagFromPortalGroup(broker, pathWith("InstanceID", "KELVA:sys:"), &status),
            nullptr);
  EXPECT_EQ(message(), "KELVA_iSCSIPortalGroup failed to format Portal Name");
  EXPECT_EQ(getNodeFromEndpoint(broker, pathWith("Name", "iqn.node"), &status), nullptr);
  EXPECT_EQ(message(), "KELVA_iSCSIProtocolEndpoint 't' seperator not found in Name");
  EXPECT_EQ(getUUIDFromCapUtilPath(broker, pathWith("InstanceID", "disk1:"), &status), nullptr);
  EXPECT_EQ(message(), "KELVA_CECapacityUtilization Failed to extract InstanceID from key");
  EXPECT_EQ(getUUIDFromCapUtilPath(broker, pathWith("InstanceID", ":::"), &status), nullptr);
  EXPECT_EQ(message(), "KELVA_CECapacityUtilization Failed to extract device from key");
  // An absent key is the key read's error.
  EXPECT_EQ(getNodeNameFromStats(broker, pathWith(nullptr, nullptr), &status), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_NO_SUCH_PROPERTY);
  message();
}

TEST_P(EndpointsTest, EndpointNames) {
  char *node = nullptr, *tag = nullptr;
  char name[] = "iqn.1992-08.com.kelva:sn.1,t3e8";
  decodeISCSIProtocolEndPointName(broker, &status, name, &node, &tag);
  EXPECT_STREQ(node, "iqn.1992-08.com.kelva:sn.1");
  EXPECT_STREQ(tag, "1000");
  char noHex[] = "iqn,tzz";
  decodeISCSIProtocolEndPointName(broker, &status, noHex, &node, &tag);
  EXPECT_STREQ(tag, "0");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  // 0xfffff is 1048575: seven digits do not fit the six places after the comma.
  char tight[] = "iqn,tfffff";
  decodeISCSIProtocolEndPointName(broker, &status, tight, &node, &tag);
  EXPECT_STREQ(tag, "104857");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(logsAt(1), std::vector<std::string>{"Buffer was not big enough to hold portalTag ID!"});
  for (std::string bad : {std::string("iqn.t3e8"), std::string()}) {
    decodeISCSIProtocolEndPointName(broker, &status, bad.data(), &node, &tag);
    EXPECT_EQ(message(), "KELVA_iSCSIProtocolEndpoint 't' seperator not found in Name");
  }
  decodeISCSIProtocolEndPointName(broker, &status, nullptr, &node, &tag);
  EXPECT_EQ(message(), "KELVA_iSCSIProtocolEndpoint Name is NULL");

  char *interfaceName = nullptr, *address = nullptr;
  char ip[] = "IP:e0a:10.0.0.1";
  decodeIPProtName(broker, &status, ip, &interfaceName, &address);
  EXPECT_STREQ(interfaceName, "e0a");
  EXPECT_STREQ(address, "10.0.0.1");
  char lan[] = "LAN:e0b:10.0.0.2:extra";
  decodeLANEndpointName(broker, &status, lan, &interfaceName, &address);
  EXPECT_STREQ(address, "10.0.0.2");  // the address ends at the next ':'
  const char *missing[][2] = {{"", "Failed to parse the 'IP' portion of name"},
                              {"IP", "Failed to parse Interface name"},
                              {"IP:e0a", "Failed to parse IP address"}};
  for (const auto &m : missing) {
    std::string text = m[0];
    decodeIPProtName(broker, &status, text.data(), &interfaceName, &address);
    EXPECT_EQ(message(), m[1]) << m[0];
  }

  char *prefix = nullptr, *port = nullptr;
  char tcp[] = "pfx:3260";
  decodeTCPEndpointName(broker, &status, tcp, &prefix, &port);
  EXPECT_STREQ(prefix, "pfx");
  EXPECT_STREQ(port, "3260");
  std::string noPort = "pfx", empty;
  decodeTCPEndpointName(broker, &status, noPort.data(), &prefix, &port);
  EXPECT_EQ(message(), "Failed to extract Port Name");
  decodeTCPEndpointName(broker, &status, empty.data(), &prefix, &port);
  EXPECT_EQ(message(), "Failed to extract prefix Name");
  {
    pktest::FailingAllocation oom(1);
    EXPECT_EQ(encodeTCPEndpointName(broker, &status, "pfx", "1"), nullptr);
  }
  EXPECT_EQ(message(), "Failed to allocate Name");
}

TEST_P(EndpointsTest, WorldWideNamesAndAddresses) {
  EXPECT_EQ(take(encodeWWN(broker, &status, "12:34:56:78:9a:bc:de:f0")), "123456789ABCDEF0");
  EXPECT_EQ(take(encodeWWN(broker, &status, "50 0a:09\nignored")), "500A09");
  EXPECT_EQ(take(decodeWWN(broker, &status, "123456789ABCDEF0")), "12:34:56:78:9a:bc:de:f0");
  EXPECT_EQ(take(decodeWWN(broker, &status, "ABCDE")), "ab:cd:e");
  EXPECT_EQ(take(decodeWWN(broker, &status, "")), "");
  EXPECT_EQ(take(createIPV6FromIPV4("192.168.1.10")), "0000:0000:0000:0000:0000:0000:C0A8:010A");
  EXPECT_EQ(createIPV6FromIPV4("10.1.2"), nullptr);
  EXPECT_EQ(createIPV6FromIPV4("10.1.2.256"), nullptr);
  EXPECT_EQ(createIPV6FromIPV4(nullptr), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  for (auto code : {encodeWWN, decodeWWN}) {
    {
      pktest::FailingAllocation oom(1);
      EXPECT_EQ(code(broker, &status, "abcd"), nullptr);
    }
    EXPECT_EQ(message(), "Could not allocate space to copy WWN");
  }
  auto traces = om->traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_EQ(traces[0].component, "KELVA_FCInitiatorPort");
  EXPECT_EQ(traces[0].level, 1);
  EXPECT_EQ(traces[0].text, "Could not allocate space to copy WWN");
}

// Encode, then decode a writable copy: the input comes back, separators in the
// fields that may hold them included.
TEST_P(EndpointsTest, EncodersAndDecodersRoundTrip) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  std::uniform_int_distribution<uint32_t> ids;
  for (int round = 0; round < 300; ++round) {
    std::string tsih = randomText(rng, "0123456789abc:,t", 1, 8);
    std::string isid = randomText(rng, "0123456789abcdef:_", 1, 12);
    uint32_t id = ids(rng);
    std::string instance = take(encodeISCSISessionID("KELVA:sys", tsih.c_str(), isid.c_str(), id));
    KELVAStatus record = KELVA_STATUS_INIT;
    char *local = nullptr;
    ASSERT_NE(getFilerAndNameFromInstanceId(&record, instance.data(), nullptr, nullptr, &local), 0);
    clearKELVAStatus(&record);
    char *tsihOut = nullptr, *isidOut = nullptr;
    uint32_t idOut = 0;
    decodeSessionID(broker, &status, local, &tsihOut, &isidOut, &idOut);
    ASSERT_EQ(status.rc, CMPI_RC_OK) << instance;
    EXPECT_EQ(tsihOut, tsih);
    EXPECT_EQ(isidOut, isid);
    EXPECT_EQ(idOut, id);

    // The port keeps every ':' after the first.
    std::string prefix = randomText(rng, "abc0._+,", 1, 8);
    std::string port = randomText(rng, "0123456789", 1, 1) + randomText(rng, "0123:456789", 0, 8);
    std::string name = take(encodeTCPEndpointName(broker, &status, prefix.c_str(), port.c_str()));
    char *prefixOut = nullptr, *portOut = nullptr;
    decodeTCPEndpointName(broker, &status, name.data(), &prefixOut, &portOut);
    ASSERT_EQ(status.rc, CMPI_RC_OK) << name;
    EXPECT_EQ(prefixOut, prefix);
    EXPECT_EQ(portOut, port);

    std::string wwn;
    for (int pair = randomText(rng, "12345678", 1, 1)[0] - '0'; pair > 0; --pair) {
      if (!wwn.empty()) wwn += ':';
      wwn += randomText(rng, "0123456789abcdef", 2, 2);
    }
    std::string encoded = take(encodeWWN(broker, &status, wwn.c_str()));
    EXPECT_EQ(take(decodeWWN(broker, &status, encoded.c_str())), wwn);
  }
}

CIMOM_INSTANTIATE(EndpointsTest);

// The reads that ask the default scenario's filers.
class FilerEndpointsTest : public EndpointsTest {
 protected:
  void SetUp() override {
    EndpointsTest::SetUp();
    sim = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    sim->registerInProcess();
    for (const char *name : {"kelva-a", "kelva-b"}) {
      Reach &r = reach[std::string(name) == "kelva-a" ? 0 : 1];
      r.systemId = sim->systemId(name);
      r.host = sim->host(name);
      r.user = sim->userName(name);
      r.password = sim->password(name);
      r.filer = Filer{r.systemId.data(),
                      r.host.data(),
                      r.user.data(),
                      r.password.data(),
                      WSI_TRANSPORT_HTTP,
                      0,
                      5};
    }
  }
  void TearDown() override {
    for (Reach &r : reach) {
      KELVAStatus record = KELVA_STATUS_INIT;
      FilerCache_deleteEntry(&r.filer, &record);  // the cache is process-wide
      clearKELVAStatus(&record);
    }
    sim.reset();
    EndpointsTest::TearDown();
  }
  struct ConnectionFree {
    void operator()(WSIServerInfo *s) const { destroyServerInfo(s); }
  };
  std::unique_ptr<WSIServerInfo, ConnectionFree> connect(const Filer *f) {
    return std::unique_ptr<WSIServerInfo, ConnectionFree>(
        createServerInfo(f->host, f->userName, f->password, 5, WSI_TRANSPORT_HTTP, 0));
  }
  const Filer *a() { return &reach[0].filer; }
  const Filer *b() { return &reach[1].filer; }

  struct Reach {
    std::string systemId, host, user, password;
    Filer filer{};
  } reach[2];
  std::unique_ptr<filersim::Simulator> sim;
};

TEST_P(FilerEndpointsTest, SessionEndpointsByPortal) {
  // Session 7 sits on portal 2, whose group tag is 1001.
  EXPECT_EQ(take(getSessionEndpoint(nullptr, a(), 7, "iqn.node")), "iqn.nodet1001");
  auto connection = connect(a());
  EXPECT_EQ(take(getSessionEndpoint(connection.get(), a(), 7, "iqn.node")), "iqn.nodet1001");
  EXPECT_EQ(take(getSessionEndpoint(connection.get(), a(), 8, "iqn.node")),
            "iqn.nodetNot Available");
  // A session whose portal no portal entry names.
  sim->mutate("kelva-a", [](nlohmann::json &f) {
    f["snmp"][".1.3.6.1.3.9999.1.12.1.1.5.1.1.7.1"] = "203.0.113.9";
  });
  EXPECT_EQ(take(getSessionEndpoint(connection.get(), a(), 7, "iqn.node")),
            "iqn.nodetNot Available");
  EXPECT_EQ(take(getSessionEndpoint(nullptr, b(), 7, "n")), "ntNot Available");
  Filer nowhere{};
  EXPECT_EQ(getSessionEndpoint(nullptr, &nowhere, 7, "n"), nullptr);
}

TEST_P(FilerEndpointsTest, NodeNames) {
  auto connection = connect(a());
  int32_t iscsi = PK_PROTOCOL_ISCSI, fc = PK_PROTOCOL_FC, other = 3;
  EXPECT_EQ(take(getNodeName(broker, &status, connection.get(), &fc)), "500A098086A7512F");
  EXPECT_EQ(take(getNodeName(broker, &status, connection.get(), &iscsi)),
            "IQN.1992-08.COM.KELVASN.118054321");
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(getNodeName(broker, &status, connection.get(), &other), nullptr);
  EXPECT_EQ(message(), "getNodeName - Invalid Protocol Controller type");
  // A passed answer without the name.
  sim->setFault("kelva-a", "fcp-node-get-name",
                filersim::Fault::answer("<?xml version=\"1.0\"?><kelva version=\"1.0\">"
                                        "<results status=\"passed\"/></kelva>",
                                        1));
  EXPECT_EQ(getNodeName(broker, &status, connection.get(), &fc), nullptr);
  EXPECT_EQ(message(), "getNodeName - node name was NULL!");
  // The filer refuses: a warning with its reason, no error.
  auto toB = connect(b());
  EXPECT_EQ(getNodeName(broker, &status, toB.get(), &fc), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  auto warnings = logsAt(3);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("FCP is not enabled"), std::string::npos) << warnings[0];

  EXPECT_EQ(take(getISCSINodeName(broker, &status, a())), "iqn.1992-08.com.kelva:sn.118054321");
  EXPECT_EQ(getISCSINodeState(broker, &status, a()), 1);
  EXPECT_EQ(take(getISCSINodeNameEncoded(broker, &status, a(), "::", "t1")),
            "iqn.1992-08.com.kelva:sn.118054321::t1");
  EXPECT_EQ(getISCSINodeName(broker, &status, b()), nullptr);
  EXPECT_EQ(getISCSINodeNameEncoded(broker, &status, b(), ":", "x"), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  warnings = logsAt(3);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[1],
            "Unable to get iSCSINodeName. Check to see if iSCSI is enabled on kelva-b.sim");
  {
    pktest::FailingAllocation oom(2);  // the copy of the name, then the joined text
    char *joined = getISCSINodeNameEncoded(broker, &status, a(), ":", "x");
    EXPECT_EQ(joined, nullptr);
    wsifree(joined);
  }
  EXPECT_EQ(message(), "could not allocate buffer for Node Name");

  // An off-line filer: the state read is an error, the name read is not.
  KELVAStatus record = KELVA_STATUS_INIT;
  FilerCache_deleteEntry(a(), &record);
  clearKELVAStatus(&record);
  sim->setOnline("kelva-a", false);
  EXPECT_EQ(getISCSINodeName(broker, &status, a()), nullptr);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  EXPECT_EQ(getISCSINodeState(broker, &status, a()), 0);
  EXPECT_EQ(status.rc, CMPI_RC_ERR_FAILED);
  message();
}

TEST_P(FilerEndpointsTest, SessionParametersAndPortalTags) {
  auto connection = connect(a());
  EXPECT_EQ(getMaxConnectionsPerSession(broker, nullptr, connection.get(), 1, 1), 4u);
  EXPECT_EQ(getDefaultTimeToWaitPreference(broker, nullptr, connection.get(), 1, 1), 2u);
  EXPECT_EQ(getDefaultTimeToRetainPreference(broker, nullptr, connection.get(), 1, 1), 20u);
  EXPECT_TRUE(om->traces().empty());
  auto toB = connect(b());  // iSCSI off: nothing to read
  EXPECT_EQ(getMaxConnectionsPerSession(broker, nullptr, toB.get(), 1, 1), 0u);
  EXPECT_EQ(getDefaultTimeToWaitPreference(broker, nullptr, toB.get(), 1, 1), 0u);
  EXPECT_EQ(getDefaultTimeToRetainPreference(broker, nullptr, toB.get(), 1, 1), 0u);
  std::vector<std::string> traced;
  for (const auto &t : om->traces()) {
    EXPECT_EQ(t.component, "iSCSISessionSettings");
    EXPECT_EQ(t.level, 3);
    traced.push_back(t.text);
  }
  EXPECT_EQ(traced, (std::vector<std::string>{"Unable to get Max Connections per session",
                                              "Unable to get DefaultTimeToWaitPreference",
                                              "Unable to get DefaultTimeToRetainPreference"}));

  std::string setting = instanceId("192.0.2.21+1+3");
  EXPECT_EQ(getTargetPortalTagFromConnectionSetting(broker, pathWith("InstanceID", setting.c_str()),
                                                    a(), &status),
            1002u);
  std::string unknown = instanceId("192.0.2.21+1+9");
  EXPECT_EQ(getTargetPortalTagFromConnectionSetting(broker, pathWith("InstanceID", unknown.c_str()),
                                                    a(), &status),
            0u);
  EXPECT_EQ(message(), "KELVA_iSCSIEndpointSettingData target portal entry does not exist");
  std::string bad = instanceId("192.0.2.21+1+x");
  getTargetPortalTagFromConnectionSetting(broker, pathWith("InstanceID", bad.c_str()), a(),
                                          &status);
  EXPECT_EQ(message(), "KELVA_iSCSIEndpointSettingData failed to format portal index");
  Filer nowhere{};
  getTargetPortalTagFromConnectionSetting(broker, pathWith("InstanceID", setting.c_str()), &nowhere,
                                          &status);
  EXPECT_EQ(message(), "KELVA_iSCSIEndpointSettingData failed to allocate server connection");

  EXPECT_EQ(getPortalTagFromTCPEnd(broker, pathWith("Name", "pfx:3261"), a(), &status), 1002);
  EXPECT_EQ(getPortalTagFromTCPEnd(broker, pathWith("Name", "pfx:9999"), a(), &status), -1);
  EXPECT_EQ(status.rc, CMPI_RC_OK);
  getPortalTagFromTCPEnd(broker, pathWith("Name", "pfx:1"), &nowhere, &status);
  EXPECT_EQ(message(), "KELVA_TCPProtocolEndpoint failed to allocate server connection");
}

CIMOM_INSTANTIATE(FilerEndpointsTest);

}  // namespace
