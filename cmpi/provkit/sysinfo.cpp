// The properties that let a client recognise a storage system from other
// sources: its IPv4 addresses, its domain name and its Fibre Channel node name
// in OtherIdentifyingInfo, with IdentifyingDescriptions naming each entry.
// Clients match entries by position, so the order is fixed: the addresses,
// then the domain name, then the node name.
#include <cmpimacs.h>
#include <wbemkelvai/wsistorage.h>

#include <cstring>
#include <string>

#include "filerconn.h"
#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/endpoints.h"
#include "provkit/frame.h"

namespace {

using pk::fail;
using pk::WsiText;

constexpr const char *kAddressColumn = ".1.3.6.1.2.1.4.20.1.1";
constexpr const char *kLoopback = "127.0.0.1";
constexpr const char *kUnknown = "Unknown";
constexpr const char *kInfoId = "getOtherIdentifyingInfo";

struct TextListFree {
  void operator()(WSIList *list) const { WSIList_free(list, wsifree); }
};
// A list of texts freed with them.
using TextList = std::unique_ptr<WSIList, TextListFree>;

// The filer's IPv4 addresses by SNMP walk, without the first loopback one;
// empty with the reason raised when the filer cannot be asked.
TextList addressesOf(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  pk::Connection connection = pk::connectTo(filer);
  if (!connection) {
    fail(broker, status, "KELVA_StorageSystem Failed to create server context");
    return TextList();
  }
  TextList list(WSIList_new());
  if (!list) {
    fail(broker, status, "KELVA_StorageSystem Insufficient memory");
    return TextList();
  }
  pk::StatusRecord record;
  if (getNextObjectIDValues(record.get(), connection.get(), kAddressColumn, list.get()) == 0 ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return TextList();
  }
  for (WSIListPos *p = WSIList_getFirst(list.get()); p != nullptr; p = WSIList_getNext(p)) {
    if (std::strcmp(static_cast<const char *>(WSIList_getElement(p)), kLoopback) == 0) {
      wsifree(WSIList_removeIter(&p));
      break;
    }
  }
  return list;
}

// The statuses's message, for a warning.
std::string messageOf(const CMPIStatus *status) {
  const char *text = status->msg != nullptr ? CMGetCharsPtr(status->msg, nullptr) : nullptr;
  return text != nullptr ? text : "";
}

// Appends a new copy of text; false (a warning logged) when that fails.
bool appendCopy(const CMPIBroker *broker, WSIList *list, const char *text, const char *warning) {
  WsiText copy(wsistrdup(text));
  if (!copy || WSIList_append(list, copy.get()) == 0) {
    pk::logAt(broker, 3, kInfoId, warning);
    return false;
  }
  (void)copy.release();
  return true;
}

TextList buildIdentifyingInfo(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  TextList list = addressesOf(broker, filer, status);
  if (pk::failed(status)) {
    pk::logAt(broker, 3, kInfoId, messageOf(status).c_str());
    clearCMPIError(broker, status);
    return TextList(WSIList_new());
  }
  if (!list) return TextList(WSIList_new());

  pk::StatusRecord record;
  KELVASysInfo *info = getKELVASysInfo(record.get(), filer);
  if (info == nullptr || record.failed()) {
    freeKELVASysInfo(info);
    raiseCMPIErrorKELVA(broker, status, record.get());
    return TextList(WSIList_new());
  }
  std::string domain;
  bool found = info->reverseLookupName != nullptr &&
               pk::platform::reverseLookup(info->reverseLookupName, &domain);
  freeKELVASysInfo(info);
  if (!appendCopy(broker, list.get(), found ? domain.c_str() : kUnknown,
                  "Failed ro append Domain Name.")) {
    return TextList(WSIList_new());
  }

  WsiText wwn(getNodeWWN(broker, filer, status));
  if (!wwn) {
    pk::logAt(broker, 3, kInfoId, "Could not get WWN.");
    return TextList(WSIList_new());
  }
  if (!appendCopy(broker, list.get(), wwn.get(), "WSIList_append failed.")) {
    return TextList(WSIList_new());
  }
  return list;
}

// Sets IdentifyingDescriptions for a list of count entries: one "IPV4
// Address" per address, then the two fixed descriptions; a null array when
// the list holds no address.
void setDescriptions(const CMPIBroker *broker, CMPIInstance *instance, CMPICount count,
                     CMPIStatus *status) {
  CMPIValue value;
  value.array = nullptr;
  if (count < 3) {
    pk::adoptStatus(status,
                    CMSetProperty(instance, "IdentifyingDescriptions", &value, CMPI_stringA));
    return;
  }
  pk::OwnedArray array(CMNewArray(broker, count, CMPI_string, status));
  if (pk::failed(status) || !array) return;
  for (CMPICount i = count; i-- > 0;) {
    const char *text = i == count - 1   ? "Node WWN"
                       : i == count - 2 ? "Fully Qualified Domain Name"
                                        : "IPV4 Address";
    pk::CmpiObject<CMPIString> string(CMNewString(broker, text, status));
    if (pk::failed(status) || !string) return;
    addSTRINGToArray(broker, status, string.get(), array.get(), i);
    if (pk::failed(status)) return;
    // Held by the array, it goes with it; a copy leaves ours to release.
    if (pk::arrayHoldsObject(array.get(), i, string.get())) (void)string.release();
  }
  value.array = array.get();
  pk::adoptStatus(status, CMSetProperty(instance, "IdentifyingDescriptions", &value, CMPI_stringA));
}

}  // namespace

extern "C" {

char *getNodeWWN(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<char *>(nullptr), [&]() -> char * {
    pk::Connection connection = pk::connectTo(filer);
    if (!connection) {
      fail(broker, slot.get(), "getNodeWWN - Could not create the server context.");
      return nullptr;
    }
    const int32_t protocol = PK_PROTOCOL_FC;
    char *name = getNodeName(broker, slot.get(), connection.get(), &protocol);
    if (slot.failed()) {
      wsifree(name);
      name = nullptr;
      clearCMPIError(broker, slot.get());
    }
    if (name == nullptr) name = wsistrdup(kUnknown);
    if (name == nullptr) fail(broker, slot.get(), "Insufficient memory");
    return name;
  });
}

WSIList *getOtherIdentifyingInfo(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<WSIList *>(nullptr),
                   [&] { return buildIdentifyingInfo(broker, filer, slot.get()).release(); });
}

void setOtherIdentifyingInfo(const CMPIBroker *broker, const Filer *filer, CMPIInstance *instance,
                             CMPIStatus *status) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    TextList list(getOtherIdentifyingInfo(broker, filer, slot.get()));
    if (slot.failed() || !list) return;
    pk::StatusSlot conversion(nullptr);
    pk::OwnedArray array(createArrayFromCHARList(broker, conversion.get(), list.get()));
    if (conversion.failed() || !array) {
      pk::logAt(broker, 3, "setOtherIdentifyingInfo", "Failed to convert char array list.");
      return;
    }
    CMPIValue value;
    value.array = array.get();
    pk::adoptStatus(slot.get(),
                    CMSetProperty(instance, "OtherIdentifyingInfo", &value, CMPI_stringA));
    if (slot.failed()) return;
    setDescriptions(broker, instance, WSIList_getLength(list.get()), slot.get());
  });
}

void setDedicated(const CMPIBroker *broker, CMPIInstance *instance, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    static constexpr CMPIUint16 kDedicated[] = {3, 15, 16, 21, 25};
    pk::OwnedArray array(CMNewArray(broker, 5, CMPI_uint16, slot.get()));
    if (slot.failed() || !array) return;
    for (CMPICount i = 0; i < 5 && slot.ok(); ++i)
      addUINT16ToArray(slot.get(), kDedicated[i], array.get(), i);
    if (slot.failed()) return;
    CMPIValue value;
    value.array = array.get();
    pk::adoptStatus(slot.get(), CMSetProperty(instance, "Dedicated", &value, CMPI_uint16A));
  });
}

}  // extern "C"
