// Fibre Channel ports read through the filer's command line and its adapter
// listing, and single SNMP reads.  The "sysconfig -v" text is parsed by fixed
// offsets from its headings, as providers have always read it; the searches
// for the node name, "-port" and ">" run on into later sections when an
// adapter's own section lacks them.
#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "guards.h"
#include "provkit/commonimpl.h"
#include "provkit/fcports.h"
#include "provkit/frame.h"
#include "provkit/properties.h"

namespace {

using pk::fail;
using pk::failed;
using pk::WsiFree;

constexpr const char *kComponent = "KELVA_FCInitiatorPort";
constexpr const char *kHeading = "FC Host Adapter";
constexpr const char *kNodeName = "FC Node Name:";

using Text = std::unique_ptr<char, WsiFree>;
struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
using Element = std::unique_ptr<WSIElement, ElementFree>;
struct IteratorFree {
  void operator()(WSIIterator *iterator) const { releaseIterator(iterator); }
};
template <void (*Free)(void *)>
struct EachFree {
  void operator()(WSIList *list) const { WSIList_free(list, Free); }
};
using PortList = std::unique_ptr<WSIList, EachFree<freeFCInitiatorPort>>;
using TargetList = std::unique_ptr<WSIList, EachFree<freeFCTPInfo>>;

void trace(const CMPIBroker *broker, const char *component, const char *text) {
  CMTraceMessage(broker, CMPI_LEV_INFO, component, text, nullptr);
}
void traceAndFail(const CMPIBroker *broker, CMPIStatus *status, const char *text) {
  trace(broker, kComponent, text);
  fail(broker, status, text);
}

// A world wide name as the keys carry it: up to the line end, without ':' and
// blanks, upper case.
std::string normalisedWWN(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\0') break;
    if (c == ':' || c == ' ') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

uint16_t portTypeOf(const std::string &text, size_t heading) {
  size_t dash = text.find("-port", heading);
  if (dash == std::string::npos) return 1;
  size_t start = dash;
  while (start > 0 && text[start - 1] != ' ') --start;
  std::string word = text.substr(start, dash - start);
  if (word.size() == 1) {
    switch (word[0]) {
      case 'N':
        return 10;
      case 'E':
        return 14;
      case 'F':
        return 15;
      case 'B':
        return 17;
      default:
        return 1;
    }
  }
  if (word == "NL" || word == "F/NL") return 11;
  if (word == "FL") return 16;
  return 0;
}

uint16_t operationalStatusOf(const std::string &text, size_t heading) {
  size_t gt = text.find('>', heading);
  if (gt == std::string::npos || gt == 0) return 0;
  return text[gt - 1] == 'P' ? 2 : text[gt - 1] == 'N' ? 6 : 0;
}

// A new one-element list of a uint16_t, or null with the failure raised.
WSIList *oneNumberList(const CMPIBroker *broker, CMPIStatus *status, uint16_t value,
                       const char *noList, const char *noNumber, const char *noNode,
                       const char *traceText) {
  WSIList *list = WSIList_new();
  if (list == nullptr) {
    traceAndFail(broker, status, noList);
    return nullptr;
  }
  auto *number = static_cast<uint16_t *>(wsicalloc(1, sizeof(uint16_t)));
  if (number == nullptr) {
    WSIList_free(list, wsifree);
    traceAndFail(broker, status, noNumber);
    return nullptr;
  }
  *number = value;
  if (WSIList_append(list, number) == 0) {
    wsifree(number);
    WSIList_free(list, wsifree);
    trace(broker, kComponent, traceText);
    fail(broker, status, noNode);
    return nullptr;
  }
  return list;
}

struct PortFree {
  void operator()(KELVAFCInitiatorPort *port) const { freeFCInitiatorPort(port); }
};

KELVAFCInitiatorPort *newPort(const CMPIBroker *broker, CMPIStatus *status, const char *systemName,
                              const std::string &deviceID, const std::string &text, size_t heading,
                              bool keysOnly) {
  std::unique_ptr<KELVAFCInitiatorPort, PortFree> port(
      static_cast<KELVAFCInitiatorPort *>(wsicalloc(1, sizeof(KELVAFCInitiatorPort))));
  if (!port || (port->deviceID = wsistrdup(deviceID.c_str())) == nullptr) {
    fail(broker, status, "Unable to allocate memory for FCInitiatorPort");
    return nullptr;
  }
  if ((port->systemName = wsistrdup(systemName)) == nullptr) {
    fail(broker, status, "Unable to copy system name");
    return nullptr;
  }
  if (keysOnly) return port.release();
  size_t at = heading + std::strlen(kHeading) + 1, end = at;
  while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])) != 0) ++end;
  std::string name = at < text.size() ? text.substr(at, end - at) : std::string();
  if ((port->elementName = wsistrdup(name.c_str())) == nullptr) {
    traceAndFail(broker, status, "Could not allocate ElementName");
    return nullptr;
  }
  port->fixedNumber1 = 3;
  port->portType = portTypeOf(text, heading);
  port->fixedNumber2 = 4;
  port->speed = 1062500000;
  port->maxSpeed = 1062500000;
  port->frameSize = 2112;
  port->operationalStatus = oneNumberList(broker, status, operationalStatusOf(text, heading),
                                          "Unable to allocate FCOPStatus list",
                                          "Unable to allocate unsigned short for FCOPStatus",
                                          "Unable to allocate list node for opStatus",
                                          "Insufficient memory appending opStatus to list");
  if (port->operationalStatus == nullptr) return nullptr;
  port->supportedFC4Types =
      oneNumberList(broker, status, 8, "Unable to allocate supported FC4 list",
                    "Unable to allocate unsigned short for supported FC4",
                    "Unable to allocate list node for supported FC4",
                    "Insufficient memory appending FC4 type to list");
  if (port->supportedFC4Types == nullptr) return nullptr;
  port->activeFC4Types = port->supportedFC4Types;
  return port.release();
}

WSIList *parseSysConfig(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                        const std::string &text, bool keysOnly, const char *wwnFilter) {
  PortList ports(WSIList_new());
  if (!ports) {
    traceAndFail(broker, status, "Unable to allocate FC Initiator list");
    return nullptr;
  }
  Text systemName(encodeSystemName(broker, status, filer));
  if (!systemName || failed(status)) {
    trace(broker, kComponent, "Could not get system name");
    return ports.release();
  }
  size_t heading = text.find(kHeading);
  if (heading == std::string::npos) {
    trace(broker, kComponent, "No FC Initiators");
    return ports.release();
  }
  for (; heading != std::string::npos && !failed(status);
       heading = text.find(kHeading, heading + std::strlen(kHeading))) {
    size_t node = text.find(kNodeName, heading);
    if (node == std::string::npos) {
      traceAndFail(broker, status, "Could not get Node Name (Device ID)");
      break;
    }
    size_t start = node + std::strlen(kNodeName) + 1;
    std::string deviceID = normalisedWWN(start < text.size() ? text.substr(start) : "");
    if (wwnFilter != nullptr && deviceID != wwnFilter) continue;
    KELVAFCInitiatorPort *port =
        newPort(broker, status, systemName.get(), deviceID, text, heading, keysOnly);
    if (port == nullptr) break;
    if (WSIList_append(ports.get(), port) == 0) {
      freeFCInitiatorPort(port);
      traceAndFail(broker, status, "Could not append to FCInitiatorPort list");
    }
  }
  return failed(status) ? nullptr : ports.release();
}

// A text of the answer copied, or "" when absent; null when memory runs out.
char *copyOf(const WSIElement *element, const char *name) {
  const char *value = getStringElement(element, name);
  return wsistrdup(value != nullptr ? value : "");
}

KELVAFCTPInfo *newTarget(const CMPIBroker *broker, const Filer *filer, const WSIElement *info,
                         CMPIStatus *status) {
  constexpr const char *kNoMemory = "createFCTPInfo - Unable to allocate FCTPInfoInfo structure";
  if (getStringElement(info, "adapter") == nullptr) {
    fail(broker, status, kNoMemory);
    return nullptr;
  }
  auto *target = static_cast<KELVAFCTPInfo *>(wsicalloc(1, sizeof(KELVAFCTPInfo)));
  if (target == nullptr) {
    fail(broker, status, kNoMemory);
    return nullptr;
  }
  target->adapter = copyOf(info, "adapter");
  target->nodeName = copyOf(info, "node-name");
  target->state = copyOf(info, "state");
  target->portAddress = static_cast<int32_t>(getIntElement(info, "port-address", 0));
  target->portId = static_cast<int32_t>(getIntElement(info, "port-id", 0));
  // The filer's figures are 32-bit; they are widened with their sign.
  target->packetSize = static_cast<int32_t>(getIntElement(info, "packet-size", 0));
  target->dataLinkRate = static_cast<int32_t>(getIntElement(info, "data-link-rate", 0));
  const char *portName = getStringElement(info, "port-name");
  target->portName = wsistrdup(normalisedWWN(portName != nullptr ? portName : "").c_str());
  target->systemName = encodeSystemName(broker, status, filer);
  if (target->adapter == nullptr || target->nodeName == nullptr || target->state == nullptr ||
      target->portName == nullptr || target->systemName == nullptr) {
    freeFCTPInfo(target);
    if (!failed(status)) fail(broker, status, kNoMemory);
    return nullptr;
  }
  return target;
}

WSIList *targetPorts(const CMPIBroker *broker, const Filer *filer, WSIServerInfo *connection,
                     const char *adapterFilter, CMPIStatus *status) {
  Element request(createElement("fcp-adapter-list-info"));
  if (!request) {
    fail(broker, status, "getFCTPList - Could not create API call element fcp-adapter-list-info.");
    return nullptr;
  }
  if (addBoolElement(request.get(), "verbose", 1) == 0) {
    fail(broker, status, "getFCTPList - Could not add the input parameter 'verbose'.");
    return nullptr;
  }
  Element answer(invokeServerElement(connection, request.get()));
  if (checkResultStatus(answer.get()) == 0) {
    Text reason(getErrorWithIP(answer.get(), connection));
    CMLogMessage(broker, CMPI_SEV_ERROR, kComponent, reason ? reason.get() : "Insufficient memory",
                 nullptr);
    WSIList *empty = WSIList_new();
    if (empty == nullptr) fail(broker, status, "Insufficient memory");
    return empty;
  }
  const WSIElement *adapters = getChildElement(answer.get(), "fcp-config-adapters");
  if (adapters == nullptr) return nullptr;
  TargetList targets(WSIList_new());
  if (!targets) {
    fail(broker, status,
         "getFCPConfigAdapterInfo -                          Could not create WSIList container.");
    return nullptr;
  }
  std::unique_ptr<WSIIterator, IteratorFree> children(createIterator(adapters));
  if (!children) {
    fail(broker, status,
         "getFCPConfigAdapterInfo -                                Could not create the elements "
         "iterator");
    return nullptr;
  }
  while (const WSIElement *info = getNextElement(children.get())) {
    const char *adapter = getStringElement(info, "adapter");
    if (adapterFilter != nullptr && (adapter == nullptr || strCompare(adapter, adapterFilter) != 0))
      continue;
    KELVAFCTPInfo *target = newTarget(broker, filer, info, status);
    if (target == nullptr) return nullptr;
    if (WSIList_append(targets.get(), target) == 0) {
      CMTraceMessage(broker, CMPI_LEV_INFO, nullptr,
                     "Insufficient memory appending FCTPInfo to list", nullptr);
      freeFCTPInfo(target);
      fail(broker, status, "getFCPConfigAdapterInfo - Could not create append node.");
      return nullptr;
    }
  }
  return targets.release();
}

int snmpGet(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
            WSIServerInfo *connection, const char *objectId, char **valueOut) {
  Element request(createElement("snmp-get"));
  if (!request || addStringElement(request.get(), "object-id", objectId) == 0) {
    fail(broker, status, "Insufficient memory");
    return 0;
  }
  Element answer(invokeServerElement(connection, request.get()));
  if (checkResultStatus(answer.get()) != 0) {
    if (valueOut != nullptr) {
      const char *value = getStringElement(answer.get(), "value");
      *valueOut = wsistrdup(value != nullptr ? value : "");
    }
    return 1;
  }
  if (checkForNull(broker, getResultErrorNum(answer.get()), status, filer) != 1) return 0;
  if (valueOut != nullptr) *valueOut = wsistrdup("");
  return 1;
}

}  // namespace

extern "C" {

PK_EXPORT WSIList *doSysConfig(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                               WSIServerInfo *connection, uint8_t keysOnly, const char *wwnFilter) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<WSIList *>(nullptr), [&]() -> WSIList * {
    Element request(createElement("system-cli"));
    if (!request) return fail(broker, slot.get(), "Unable to create cli input element"), nullptr;
    WSIElement *args = createElement("args");
    if (args == nullptr || addChildElement(request.get(), args) == 0) {
      freeElement(args);
      return fail(broker, slot.get(), "Unable to create args element"), nullptr;
    }
    if (addStringElement(args, "arg", "sysconfig") == 0)
      return fail(broker, slot.get(), "Unable to add first arg to cli command"), nullptr;
    if (addStringElement(args, "arg", "-v") == 0)
      return fail(broker, slot.get(), "Unable to add second arg to cli command"), nullptr;
    Element answer(invokeServerElement(connection, request.get()));
    if (checkResultStatus(answer.get()) == 0) {
      Text reason(getErrorWithIP(answer.get(), connection));
      return fail(broker, slot.get(), reason ? reason.get() : "Insufficient memory"), nullptr;
    }
    const char *output = getStringElement(answer.get(), "cli-output");
    if (output == nullptr)
      return traceAndFail(broker, slot.get(), "Invalid output from QORB"), nullptr;
    return parseSysConfig(broker, slot.get(), filer, output, keysOnly != 0, wwnFilter);
  });
}

PK_EXPORT void freeFCInitiatorPort(void *record) {
  auto *port = static_cast<KELVAFCInitiatorPort *>(record);
  if (port == nullptr) return;
  wsifree(port->systemName);
  wsifree(port->deviceID);
  wsifree(port->elementName);
  WSIList_free(port->operationalStatus, wsifree);
  WSIList_free(port->supportedFC4Types, wsifree);  // the active list is the same list
  wsifree(port);
}

PK_EXPORT WSIList *getFCTPList(const CMPIBroker *broker, const Filer *filer,
                               WSIServerInfo *connection, const char *adapterFilter,
                               CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<WSIList *>(nullptr), [&] {
    return targetPorts(broker, filer, connection, adapterFilter, slot.get());
  });
}

PK_EXPORT void freeFCTPInfo(void *record) {
  auto *target = static_cast<KELVAFCTPInfo *>(record);
  if (target == nullptr) return;
  wsifree(target->adapter);
  wsifree(target->nodeName);
  wsifree(target->portName);
  wsifree(target->state);
  wsifree(target->systemName);
  wsifree(target);
}

PK_EXPORT int getObjectID_732(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                              WSIServerInfo *connection, const char *objectId, char **valueOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), 0, [&] {
    return snmpGet(broker, filer, slot.get(), connection, objectId, valueOut);
  });
}

PK_EXPORT int getObjectID1_732(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status,
                               WSIServerInfo *connection, const char *baseObjectId,
                               unsigned long index, char **valueOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), 0, [&] {
    if (baseObjectId == nullptr) return 0;
    size_t size = std::strlen(baseObjectId) + 12;
    Text objectId(static_cast<char *>(wsicalloc(size, 1)));
    if (!objectId) return 0;
    std::snprintf(objectId.get(), size, "%s.%lu", baseObjectId, index);
    return snmpGet(broker, filer, slot.get(), connection, objectId.get(), valueOut);
  });
}

}  // extern "C"
