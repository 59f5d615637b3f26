// Key-value formats of the iSCSI and network side of a filer.  Clients store
// object paths built from these texts, so encoders must stay byte-identical
// and decoders must take exactly what the providers make.  Decoders split the
// caller's writable copy in place, stop at the first missing field and leave
// the outputs set before it.
#include "provkit/endpoints.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsistorage.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filerconn.h"
#include "guards.h"
#include "provkit/frame.h"
#include "provkit/properties.h"
#include "tokenizer.h"

namespace {

using pk::fail;
using pk::WsiText;

// The SNMP objects of the filers' iSCSI tables (experimental branch).
constexpr const char *kSessionPortalOid = ".1.3.6.1.3.9999.1.12.1.1.5.1.1";
constexpr const char *kPortalCountOid = ".1.3.6.1.3.9999.1.2.1.1.7";
constexpr const char *kPortalValueOid = ".1.3.6.1.3.9999.1.3.1.1.5.1.1";
constexpr const char *kPortalTagOid = ".1.3.6.1.3.9999.1.4.1.1.2.1.1";
constexpr const char *kMaxConnectionsOid = ".1.3.6.1.3.9999.1.6.1.1.11";
constexpr const char *kTimeToWaitOid = ".1.3.6.1.3.9999.1.6.1.1.14";
constexpr const char *kTimeToRetainOid = ".1.3.6.1.3.9999.1.6.1.1.15";

constexpr const char *kNotAvailable = "Not Available";
// More portal entries than a filer's tables can hold.
constexpr unsigned long kMostPortals = 65535;

// Reads a whole text of decimal digits that fits 32 bits.
bool readUnsigned(const char *text, uint32_t *out) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t value = 0;
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

// A new copy of text, or null with the reason raised.
char *copyOrRaise(const CMPIBroker *broker, CMPIStatus *status, const char *text,
                  const char *whenOutOfMemory = "Insufficient memory") {
  char *copy = wsistrdup(text);
  if (copy == nullptr) fail(broker, status, whenOutOfMemory);
  return copy;
}

// Reads a string key of op as a new text: false with the reason in status.
bool readKey(CMPIStatus *status, const CMPIObjectPath *op, const char *keyName, WsiText *out) {
  out->reset(getKeyAsChar(status, op, keyName));
  return !pk::failed(status) && *out;
}

// The piece a decoder takes out of the path's Name key, copied for the caller
// (wsifree); null with the status set when the key is missing (`missing`) or
// does not decode.  `decode` (status, writable key) returns the piece.
template <typename Decode>
char *pieceOfName(const CMPIBroker *broker, const CMPIObjectPath *op, CMPIStatus *status,
                  const char *missing, Decode decode) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    WsiText key;
    if (!readKey(slot.get(), op, "Name", &key)) {
      if (slot.ok()) fail(broker, slot.get(), missing);
      return nullptr;
    }
    char *piece = decode(slot.get(), key.get());
    return slot.failed() ? nullptr : copyOrRaise(broker, slot.get(), piece);
  });
}

// The messages of one InstanceID form split on '+': absent, then each field.
struct TripleMessages {
  const char *absent;
  const char *first;
  const char *second;
  const char *third;
};

constexpr TripleMessages kPortalGroup{
    "KELVA_iSCSIPortalGroup InstanceID is NULL",
    "KELVA_iSCSIPortalGroup failed to format Portal Name",
    "KELVA_iSCSIPortalGroup failed to format Inst Index",
    "KELVA_iSCSIPortalGroup failed to format Portal Index",
};
constexpr TripleMessages kSessionSettings{
    "KELVA_iSCSISessionSettings InstanceID is NULL",
    "KELVA_iSCSISessionSettings failed to format Portal Index",
    "KELVA_iSCSISessionSettings failed to format Inst Index",
    "KELVA_iSCSISessionSettings failed to format Portal Index",
};
constexpr TripleMessages kConnectionSettings{
    "KELVA_iSCSIConnectionSettings InstanceID is NULL",
    "KELVA_iSCSIConnectionSettings failed to format Portal Address",
    "KELVA_iSCSIConnectionSettings failed to format Inst Index",
    "KELVA_iSCSIConnectionSettings failed to format Portal Index",
};

void decodeTriple(const CMPIBroker *broker, CMPIStatus *status, char *instanceID, char **systemOut1,
                  char **systemOut2, char **firstOut, char **secondOut, char **thirdOut,
                  const TripleMessages &messages) {
  if (instanceID == nullptr) {
    fail(broker, status, messages.absent);
    return;
  }
  pk::StatusRecord record;
  char *local = nullptr;
  if (!getFilerAndNameFromInstanceId(record.get(), instanceID, systemOut1, systemOut2, &local) ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return;
  }
  pk::Tokenizer fields(local);
  char *first = fields.next("+");
  if (first == nullptr) return fail(broker, status, messages.first);
  if (firstOut != nullptr) *firstOut = first;
  char *second = fields.next("+");
  if (second == nullptr) return fail(broker, status, messages.second);
  if (secondOut != nullptr) *secondOut = second;
  char *third = fields.rest();
  if (third == nullptr) return fail(broker, status, messages.third);
  if (thirdOut != nullptr) *thirdOut = third;
}

// A copy of the first field of op's InstanceID split as the given form.
char *firstFieldOfKey(const CMPIBroker *broker, const CMPIObjectPath *op, CMPIStatus *status,
                      const TripleMessages &messages) {
  WsiText key;
  if (!readKey(status, op, "InstanceID", &key)) {
    if (!pk::failed(status)) fail(broker, status, messages.absent);
    return nullptr;
  }
  char *first = nullptr;
  decodeTriple(broker, status, key.get(), nullptr, nullptr, &first, nullptr, nullptr, messages);
  if (pk::failed(status)) return nullptr;
  return copyOrRaise(broker, status, first);
}

// One SNMP value read for a session parameter, as a number (0 when unread).
uint32_t sessionParameter(const CMPIBroker *broker, WSIServerInfo *connection, const char *oid,
                          uint32_t index, uint32_t option, const char *whenUnread) {
  char *value = nullptr;
  if (getObjectID2(connection, oid, index, option, &value) == 0) {
    wsifree(value);
    pk::traceAt(broker, 3, "iSCSISessionSettings", whenUnread);
    return 0;
  }
  WsiText owned(value);
  uint32_t number = 0;
  if (owned && !readUnsigned(owned.get(), &number)) number = 0;
  return number;
}

// The endpoint name split as decodeIPProtName does.
void decodeInterfaceAddress(const CMPIBroker *broker, CMPIStatus *status, char *name,
                            char **interfaceOut, char **addressOut) {
  if (name == nullptr) return fail(broker, status, "Failed to parse the 'IP' portion of name");
  pk::Tokenizer fields(name);
  if (fields.next(":") == nullptr) {
    return fail(broker, status, "Failed to parse the 'IP' portion of name");
  }
  char *interfaceName = fields.next(":");
  if (interfaceName == nullptr) return fail(broker, status, "Failed to parse Interface name");
  if (interfaceOut != nullptr) *interfaceOut = interfaceName;
  char *address = fields.next(":");
  if (address == nullptr) return fail(broker, status, "Failed to parse IP address");
  if (addressOut != nullptr) *addressOut = address;
}

// Where a world wide name text ends: its end or its first newline.
size_t wwnLength(const char *text) { return std::strcspn(text, "\n"); }

void wwnOutOfMemory(const CMPIBroker *broker, CMPIStatus *status) {
  constexpr const char *kText = "Could not allocate space to copy WWN";
  pk::traceAt(broker, 1, "KELVA_FCInitiatorPort", kText);
  fail(broker, status, kText);
}

// The portal group tag of the session's portal by SNMP, or empty when none.
std::string sessionPortalTag(WSIServerInfo *connection, uint32_t sessionIndex) {
  char *raw = nullptr;
  if (getObjectID2(connection, kSessionPortalOid, sessionIndex, 1, &raw) != 1) {
    wsifree(raw);
    return std::string();
  }
  WsiText sessionValue(raw);
  raw = nullptr;
  if (getObjectID1(connection, kPortalCountOid, 1, &raw) != 1) {
    wsifree(raw);
    return std::string();
  }
  unsigned long count = 0;
  {
    WsiText countText(raw);
    count = countText ? std::strtoul(countText.get(), nullptr, 10) : 0;
  }
  // Each entry costs a request: a count no filer can have (a damaged answer)
  // must not keep the caller asking for ever.
  count = std::min(count, kMostPortals);
  for (unsigned long n = 1; n <= count; ++n) {
    raw = nullptr;
    int read = getObjectID1(connection, kPortalValueOid, n, &raw);
    WsiText candidate(raw);
    if (read != 1 || strCompare(candidate.get(), sessionValue.get()) != 0) continue;
    raw = nullptr;
    std::string tag;
    if (getObjectID1(connection, kPortalTagOid, n, &raw) == 1 && raw != nullptr) tag = raw;
    wsifree(raw);
    return tag;
  }
  return std::string();
}

}  // namespace

extern "C" {

// ---- Sessions and connections ------------------------------------------------------

char *encodeISCSISessionID(const char *system, const char *tsih, const char *isid,
                           uint32_t sessionId) {
  return pk::quietEdge(static_cast<char *>(nullptr), [&]() -> char * {
    if (system == nullptr || tsih == nullptr || isid == nullptr) return nullptr;
    size_t size = std::strlen(tsih) + std::strlen(isid) + 13;
    WsiText local(static_cast<char *>(wsicalloc(size, 1)));
    if (!local) return nullptr;
    std::snprintf(local.get(), size, "%s+%s+%lu", tsih, isid,
                  static_cast<unsigned long>(sessionId));
    return encodeInstanceID(system, local.get());
  });
}

void decodeSessionID(const CMPIBroker *broker, CMPIStatus *status, char *localPart, char **tsihOut,
                     char **isidOut, uint32_t *sessionIdOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    pk::Tokenizer fields(localPart);
    char *tsih = fields.next("+");
    if (tsih == nullptr) {
      return fail(broker, slot.get(), "KELVA_iSCSISession failed to extract Session TSIH");
    }
    if (tsihOut != nullptr) *tsihOut = tsih;
    char *isid = fields.next("+");
    if (isid == nullptr) {
      return fail(broker, slot.get(), "KELVA_iSCSISession failed to extract Session ISID");
    }
    if (isidOut != nullptr) *isidOut = isid;
    char *id = fields.rest();
    if (id == nullptr) {
      return fail(broker, slot.get(), "KELVA_iSCSISession failed to extract Session ID");
    }
    uint32_t number = 0;
    if (!readUnsigned(id, &number)) {
      return fail(broker, slot.get(), "KELVA_iSCSISession failed to format Session ID");
    }
    if (sessionIdOut != nullptr) *sessionIdOut = number;
  });
}

void decodeConnectionName(const CMPIBroker *broker, CMPIStatus *status, char *text, char **cidOut,
                          char **tsihOut, uint32_t *sessionIndexOut, uint32_t *connectionIndexOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    pk::Tokenizer fields(text);
    char *cid = fields.next(":");
    if (cid == nullptr) {
      return fail(broker, slot.get(),
                  "KELVA_iSCSIConnection failed to extract CxnCid from InstanceID");
    }
    if (cidOut != nullptr) *cidOut = cid;
    char *tsih = fields.next(":");
    if (tsih == nullptr) {
      return fail(broker, slot.get(),
                  "KELVA_iSCSIConnection failed to extract SsnTSIH from InstanceID");
    }
    if (tsihOut != nullptr) *tsihOut = tsih;
    char *sessionIndex = fields.next(":");
    if (sessionIndex == nullptr) {
      return fail(broker, slot.get(),
                  "KELVA_iSCSIConnection failed to extract SsnIndex from InstanceID");
    }
    char *connectionIndex = fields.rest();
    if (connectionIndex == nullptr) {
      return fail(broker, slot.get(),
                  "KELVA_iSCSIConnection failed to extract CxnIndex from InstanceID");
    }
    constexpr const char *kFormat =
        "KELVA_iSCSIConnection failed to format CxnIndex from InstanceID";
    uint32_t number = 0;
    if (!readUnsigned(connectionIndex, &number)) return fail(broker, slot.get(), kFormat);
    if (connectionIndexOut != nullptr) *connectionIndexOut = number;
    if (!readUnsigned(sessionIndex, &number)) return fail(broker, slot.get(), kFormat);
    if (sessionIndexOut != nullptr) *sessionIndexOut = number;
  });
}

// ---- Portal groups and settings ---------------------------------------------------------

void decodePortalGroupID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                         char **systemOut1, char **systemOut2, char **firstOut, char **secondOut,
                         char **thirdOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    decodeTriple(broker, slot.get(), instanceID, systemOut1, systemOut2, firstOut, secondOut,
                 thirdOut, kPortalGroup);
  });
}

void decodeISCSISessionSettingID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                                 char **systemOut1, char **systemOut2, char **firstOut,
                                 char **secondOut, char **thirdOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    decodeTriple(broker, slot.get(), instanceID, systemOut1, systemOut2, firstOut, secondOut,
                 thirdOut, kSessionSettings);
  });
}

void decodeISCSIConnectionSettingsID(const CMPIBroker *broker, CMPIStatus *status, char *instanceID,
                                     char **systemOut1, char **systemOut2, char **firstOut,
                                     char **secondOut, char **thirdOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    decodeTriple(broker, slot.get(), instanceID, systemOut1, systemOut2, firstOut, secondOut,
                 thirdOut, kConnectionSettings);
  });
}

char *getPortalTagFromPortalGroup(const CMPIBroker *broker, const CMPIObjectPath *op,
                                  CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr),
                   [&] { return firstFieldOfKey(broker, op, slot.get(), kPortalGroup); });
}

char *getNodeFromSettingData(const CMPIBroker *broker, const CMPIObjectPath *op,
                             CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr),
                   [&] { return firstFieldOfKey(broker, op, slot.get(), kSessionSettings); });
}

uint32_t getTargetPortalTagFromConnectionSetting(const CMPIBroker *broker, const CMPIObjectPath *op,
                                                 const Filer *filer, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), uint32_t{0}, [&]() -> uint32_t {
    pk::Connection connection = pk::connectTo(filer);
    if (!connection) {
      fail(broker, slot.get(),
           "KELVA_iSCSIEndpointSettingData failed to allocate server connection");
      return 0;
    }
    WsiText key;
    if (!readKey(slot.get(), op, "InstanceID", &key)) {
      if (slot.ok()) fail(broker, slot.get(), kConnectionSettings.absent);
      return 0;
    }
    char *third = nullptr;
    decodeTriple(broker, slot.get(), key.get(), nullptr, nullptr, nullptr, nullptr, &third,
                 kConnectionSettings);
    if (slot.failed()) return 0;
    uint32_t portalIndex = 0;
    if (!readUnsigned(third, &portalIndex)) {
      fail(broker, slot.get(), "KELVA_iSCSIEndpointSettingData failed to format portal index");
      return 0;
    }
    uint32_t tag = 0;
    if (getTargetPortalTagFromPortalIndex(connection.get(), portalIndex, &tag) != 1) {
      fail(broker, slot.get(), "KELVA_iSCSIEndpointSettingData target portal entry does not exist");
      return 0;
    }
    return tag;
  });
}

// ---- Login statistics and nodes --------------------------------------------------------

void decodeISCSILoginStatsNodeName(const CMPIBroker *broker, CMPIStatus *status, char *localPart,
                                   char **nodeOut, char **iOut, char **nOut, char **loginStatsOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    if (localPart == nullptr) {
      return fail(broker, slot.get(), "KELVA_iSCSILoginStatistics InstanceID is NULL");
    }
    struct Field {
      char **out;
      const char *missing;
    };
    const Field fields[] = {
        {nodeOut, "KELVA_iSCSILoginStatistics Unable to get 'node name' from encoded name"},
        {iOut, "KELVA_iSCSILoginStatistics Unable to get 'i' from encoded name"},
        {nOut, "KELVA_iSCSILoginStatistics Unable to get 'n' from encoded name"},
        {loginStatsOut, "KELVA_iSCSILoginStatistics Unable to get 'login stats' from encoded name"},
    };
    pk::Tokenizer tokens(localPart);
    for (const Field &field : fields) {
      char *token = tokens.next("+");
      if (token == nullptr) return fail(broker, slot.get(), field.missing);
      if (field.out != nullptr) *field.out = token;
    }
  });
}

char *getNodeNameFromStats(const CMPIBroker *broker, const CMPIObjectPath *op, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    WsiText key;
    if (!readKey(slot.get(), op, "InstanceID", &key)) {
      if (slot.ok()) fail(broker, slot.get(), "KELVA_iSCSILoginStatistics InstanceID is NULL");
      return nullptr;
    }
    pk::StatusRecord record;
    char *local = nullptr;
    if (!getFilerAndNameFromInstanceId(record.get(), key.get(), nullptr, nullptr, &local) ||
        record.failed()) {
      raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      return nullptr;
    }
    char *node = nullptr;
    decodeISCSILoginStatsNodeName(broker, slot.get(), local, &node, nullptr, nullptr, nullptr);
    if (slot.failed()) return nullptr;
    return copyOrRaise(broker, slot.get(), node);
  });
}

char *getISCSINodeName(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    pk::StatusRecord record;
    FilerCacheEntry *entry = FilerCache_lockEntry(filer, record.get());
    if (entry == nullptr) return nullptr;
    std::string name;
    bool has = false;
    {
      const FilerSpecificData *data = FilerCache_getFilerSpecificData(entry);
      if (data != nullptr && data->iscsiNodeName != nullptr) {
        name = data->iscsiNodeName;
        has = true;
      }
    }
    FilerCache_releaseEntry(filer);
    if (!has) {
      char text[256];
      std::snprintf(text, sizeof text, "%s %s",
                    "Unable to get iSCSINodeName. Check to see if iSCSI is enabled on",
                    filer->host != nullptr ? filer->host : "");
      pk::logAt(broker, 3, "getISCSINodeName", text);
      return nullptr;
    }
    return copyOrRaise(broker, slot.get(), name.c_str());
  });
}

int32_t getISCSINodeState(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), int32_t{0}, [&]() -> int32_t {
    pk::StatusRecord record;
    FilerCacheEntry *entry = FilerCache_lockEntry(filer, record.get());
    if (entry == nullptr) {
      raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      return 0;
    }
    const FilerSpecificData *data = FilerCache_getFilerSpecificData(entry);
    int32_t state = data != nullptr ? data->iscsiNodeState : 0;
    FilerCache_releaseEntry(filer);
    return state;
  });
}

char *getISCSINodeNameEncoded(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                              const char *delimiter, const char *suffix) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    WsiText node(getISCSINodeName(broker, slot.get(), filer));
    if (!node) return nullptr;
    char *encoded = newDelimitedStringCat(node.get(), delimiter, suffix);
    if (encoded == nullptr) fail(broker, slot.get(), "could not allocate buffer for Node Name");
    return encoded;
  });
}

char *getNodeName(const CMPIBroker *broker, CMPIStatus *status, WSIServerInfo *connection,
                  const void *protocolController) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    int32_t type = 0;
    if (protocolController != nullptr) std::memcpy(&type, protocolController, sizeof type);
    const char *api = type == PK_PROTOCOL_ISCSI ? "iscsi-node-get-name"
                      : type == PK_PROTOCOL_FC  ? "fcp-node-get-name"
                                                : nullptr;
    if (api == nullptr) {
      fail(broker, slot.get(), "getNodeName - Invalid Protocol Controller type");
      return nullptr;
    }
    pk::Element request(createElement(api));
    if (!request) {
      fail(broker, slot.get(), "getNodeName - Unable to create input element");
      return nullptr;
    }
    pk::Element answer(invokeServerElement(connection, request.get()));
    if (checkResultStatus(answer.get()) != 1) {
      WsiText why(getErrorWithIP(answer.get(), connection));
      pk::logAt(broker, 3, "getNodeName", why ? why.get() : "getNodeName failed");
      return nullptr;
    }
    const char *name = getStringElement(answer.get(), "node-name");
    if (name == nullptr) {
      fail(broker, slot.get(), "getNodeName - node name was NULL!");
      return nullptr;
    }
    return encodeWWN(broker, slot.get(), name);
  });
}

// ---- Endpoints -----------------------------------------------------------------------------

void decodeISCSIProtocolEndPointName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                                     char **nodeOut, char **tagOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    if (name == nullptr)
      return fail(broker, slot.get(), "KELVA_iSCSIProtocolEndpoint Name is NULL");
    char *comma = std::strchr(name, ',');
    if (comma == nullptr) {
      return fail(broker, slot.get(),
                  "KELVA_iSCSIProtocolEndpoint 't' seperator not found in Name");
    }
    *comma = '\0';
    if (nodeOut != nullptr) *nodeOut = name;
    char *after = comma + 1;
    size_t room = std::strlen(after) + 1;
    // The tag starts after the one-character marker; what does not read is 0.
    unsigned int tag = 0;
    if (*after != '\0' && std::sscanf(after + 1, "%x", &tag) != 1) tag = 0;
    char decimal[16];
    int length = std::snprintf(decimal, sizeof decimal, "%d", static_cast<int>(tag));
    if (static_cast<size_t>(length) + 1 > room) {
      pk::logAt(broker, 1, "decodeISCSIProtocolEndPointName",
                "Buffer was not big enough to hold portalTag ID!");
    }
    strlcpy_safe(after, decimal, room);
    if (tagOut != nullptr) *tagOut = after;
  });
}

char *getNodeFromEndpoint(const CMPIBroker *broker, const CMPIObjectPath *op, CMPIStatus *status) {
  return pieceOfName(broker, op, status, "KELVA_iSCSIProtocolEndpoint Name is NULL",
                     [&](CMPIStatus *st, char *name) {
                       char *node = nullptr;
                       decodeISCSIProtocolEndPointName(broker, st, name, &node, nullptr);
                       return node;
                     });
}

char *getPortalTagFromEndpoint(const CMPIBroker *broker, const CMPIObjectPath *op,
                               CMPIStatus *status) {
  return pieceOfName(broker, op, status, "KELVA_iSCSIProtocolEndpoint Name is NULL",
                     [&](CMPIStatus *st, char *name) {
                       char *tag = nullptr;
                       decodeISCSIProtocolEndPointName(broker, st, name, nullptr, &tag);
                       return tag;
                     });
}

char *getSessionEndpoint(WSIServerInfo *connection, const Filer *filer, uint32_t sessionIndex,
                         const char *nodeName) {
  return pk::quietEdge(static_cast<char *>(nullptr), [&]() -> char * {
    pk::Connection own;
    if (connection == nullptr) {
      own = pk::connectTo(filer);
      if (!own) return nullptr;
      connection = own.get();
    }
    std::string tag = sessionPortalTag(connection, sessionIndex);
    const char *node = nodeName != nullptr ? nodeName : "";
    const char *shown = tag.empty() ? kNotAvailable : tag.c_str();
    size_t size = std::strlen(node) + std::strlen(shown) + 2;
    char *name = static_cast<char *>(wsicalloc(size, 1));
    if (name != nullptr) std::snprintf(name, size, "%st%s", node, shown);
    return name;
  });
}

char *encodeTCPEndpointName(const CMPIBroker *broker, CMPIStatus *status, const char *prefix,
                            const char *port) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    char *name = newDelimitedStringCat(prefix, ":", port);
    if (name == nullptr) fail(broker, slot.get(), "Failed to allocate Name");
    return name;
  });
}

void decodeTCPEndpointName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                           char **prefixOut, char **portOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    pk::Tokenizer fields(name);
    char *prefix = fields.next(":");
    if (prefix == nullptr) return fail(broker, slot.get(), "Failed to extract prefix Name");
    if (prefixOut != nullptr) *prefixOut = prefix;
    char *port = fields.rest();
    if (port == nullptr) return fail(broker, slot.get(), "Failed to extract Port Name");
    if (portOut != nullptr) *portOut = port;
  });
}

char *getPortFromTCPProtocolEndpointPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                                         CMPIStatus *status) {
  return pieceOfName(broker, op, status, "Failed to extract prefix Name",
                     [&](CMPIStatus *st, char *name) {
                       char *port = nullptr;
                       decodeTCPEndpointName(broker, st, name, nullptr, &port);
                       return port;
                     });
}

int32_t getPortalTagFromTCPEnd(const CMPIBroker *broker, const CMPIObjectPath *op,
                               const Filer *filer, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), int32_t{-1}, [&]() -> int32_t {
    pk::Connection connection = pk::connectTo(filer);
    if (!connection) {
      fail(broker, slot.get(), "KELVA_TCPProtocolEndpoint failed to allocate server connection");
      return -1;
    }
    WsiText key;
    if (!readKey(slot.get(), op, "Name", &key)) {
      if (slot.ok()) fail(broker, slot.get(), "Failed to extract prefix Name");
      return -1;
    }
    char *port = nullptr;
    decodeTCPEndpointName(broker, slot.get(), key.get(), nullptr, &port);
    if (slot.failed()) return -1;
    return getTargetPortalTagFromTargetPort(connection.get(), port);
  });
}

void decodeIPProtName(const CMPIBroker *broker, CMPIStatus *status, char *name, char **interfaceOut,
                      char **addressOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    decodeInterfaceAddress(broker, slot.get(), name, interfaceOut, addressOut);
  });
}

void decodeLANEndpointName(const CMPIBroker *broker, CMPIStatus *status, char *name,
                           char **interfaceOut, char **addressOut) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    decodeInterfaceAddress(broker, slot.get(), name, interfaceOut, addressOut);
  });
}

char *getDeviceIDFromLANEndpointPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                                     CMPIStatus *status) {
  return pieceOfName(broker, op, status, "Failed to parse the 'IP' portion of name",
                     [&](CMPIStatus *st, char *name) {
                       char *interfaceName = nullptr;
                       decodeInterfaceAddress(broker, st, name, &interfaceName, nullptr);
                       return interfaceName;
                     });
}

char *getUUIDFromCapUtilPath(const CMPIBroker *broker, const CMPIObjectPath *op,
                             CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    constexpr const char *kNoMemory = "KELVA_CECapacityUtilization Insufficient memory";
    WsiText key;
    if (!readKey(slot.get(), op, "InstanceID", &key)) {
      if (slot.ok()) fail(broker, slot.get(), kNoMemory);
      return nullptr;
    }
    pk::Tokenizer fields(key.get());
    if (fields.next(":") == nullptr) {
      fail(broker, slot.get(), "KELVA_CECapacityUtilization Failed to extract device from key");
      return nullptr;
    }
    char *instanceId = fields.rest();
    if (instanceId == nullptr) {
      fail(broker, slot.get(), "KELVA_CECapacityUtilization Failed to extract InstanceID from key");
      return nullptr;
    }
    pk::StatusRecord record;
    char *local = nullptr;
    if (!getFilerAndNameFromInstanceId(record.get(), instanceId, nullptr, nullptr, &local) ||
        record.failed()) {
      raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      return nullptr;
    }
    return copyOrRaise(broker, slot.get(), local, kNoMemory);
  });
}

// ---- World wide names and addresses ----------------------------------------------------

char *encodeWWN(const CMPIBroker *broker, CMPIStatus *status, const char *text) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    const char *source = text != nullptr ? text : "";
    size_t length = wwnLength(source);
    char *out = static_cast<char *>(wsicalloc(length + 1, 1));
    if (out == nullptr) {
      wwnOutOfMemory(broker, slot.get());
      return nullptr;
    }
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
      char c = source[i];
      if (c == ':' || c == ' ') continue;
      out[n++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
  });
}

char *decodeWWN(const CMPIBroker *broker, CMPIStatus *status, const char *text) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    const char *source = text != nullptr ? text : "";
    size_t length = wwnLength(source);
    char *out = static_cast<char *>(wsicalloc(length + length / 2 + 1, 1));
    if (out == nullptr) {
      wwnOutOfMemory(broker, slot.get());
      return nullptr;
    }
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
      if (i >= 2 && i % 2 == 0) out[n++] = ':';
      char c = source[i];
      out[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
  });
}

char *createIPV6FromIPV4(const char *text) {
  return pk::quietEdge(static_cast<char *>(nullptr), [&]() -> char * {
    if (text == nullptr) return nullptr;
    unsigned short a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(text, "%hu.%hu.%hu.%hu", &a, &b, &c, &d) != 4) return nullptr;
    // A part above 255 is no address; it would not fit the two digits either.
    if (a > 255 || b > 255 || c > 255 || d > 255) return nullptr;
    constexpr size_t kSize = 40;
    char *out = static_cast<char *>(wsicalloc(kSize, 1));
    if (out == nullptr) return nullptr;
    std::snprintf(out, kSize, "0000:0000:0000:0000:0000:0000:%02X%02X:%02X%02X",
                  static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                  static_cast<unsigned char>(c), static_cast<unsigned char>(d));
    return out;
  });
}

// ---- iSCSI session parameters --------------------------------------------------------------

uint32_t getMaxConnectionsPerSession(const CMPIBroker *broker, CMPIStatus *ignored,
                                     WSIServerInfo *connection, uint32_t index, uint32_t option) {
  (void)ignored;
  return pk::quietEdge(uint32_t{0}, [&] {
    return sessionParameter(broker, connection, kMaxConnectionsOid, index, option,
                            "Unable to get Max Connections per session");
  });
}

uint32_t getDefaultTimeToWaitPreference(const CMPIBroker *broker, CMPIStatus *ignored,
                                        WSIServerInfo *connection, uint32_t index,
                                        uint32_t option) {
  (void)ignored;
  return pk::quietEdge(uint32_t{0}, [&] {
    return sessionParameter(broker, connection, kTimeToWaitOid, index, option,
                            "Unable to get DefaultTimeToWaitPreference");
  });
}

uint32_t getDefaultTimeToRetainPreference(const CMPIBroker *broker, CMPIStatus *ignored,
                                          WSIServerInfo *connection, uint32_t index,
                                          uint32_t option) {
  (void)ignored;
  return pk::quietEdge(uint32_t{0}, [&] {
    return sessionParameter(broker, connection, kTimeToRetainOid, index, option,
                            "Unable to get DefaultTimeToRetainPreference");
  });
}

}  // extern "C"
