// Protocol controllers and initiator groups: the keys of the masking classes
// mapped to the filer's igroup, initiator and LUN records, and the igroup
// changes the agent makes on a filer.  The failure texts (leading blanks
// included) are the ones clients match on.
#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsifiler.h>
#include <wbemkelvai/wsistorage.h>

#include <cstring>
#include <memory>
#include <string>

#include "guards.h"
#include "provkit/commonimpl.h"
#include "provkit/frame.h"
#include "provkit/igroups.h"
#include "provkit/initiators.h"
#include "provkit/objectpath.h"
#include "provkit/properties.h"
#include "provkit/registry.h"

namespace {

using pk::recordEdge;

using pk::fail;
using pk::failed;
using pk::StatusRecord;
using pk::WsiFree;

constexpr const char *kElementNameKey = "state.igroup.elementname.";
constexpr int kNoSuchIGroup = 9003;

using Text = std::unique_ptr<char, WsiFree>;
struct ElementFree {
  void operator()(WSIElement *element) const { freeElement(element); }
};
using Element = std::unique_ptr<WSIElement, ElementFree>;
struct ServerFree {
  void operator()(WSIServerInfo *server) const { destroyServerInfo(server); }
};
using Server = std::unique_ptr<WSIServerInfo, ServerFree>;
template <void (*Free)(void *)>
struct EachFree {
  void operator()(WSIList *list) const { WSIList_free(list, Free); }
};
using PathList = std::unique_ptr<WSIList, EachFree<freeKVAuthorizedPath>>;
using InitiatorList = std::unique_ptr<WSIList, EachFree<freeKELVAInitiator>>;
using LunList = std::unique_ptr<WSIList, EachFree<freeLun>>;
struct IGroupsFree {
  void operator()(WSIList *list) const { freeIGroupInfo(list); }
};
struct IGroupFree {
  void operator()(KELVAIGroup *igroup) const { freeIGroup(igroup); }
};
using IGroup = std::unique_ptr<KELVAIGroup, IGroupFree>;

// Removes and returns the list's first element, or null.
void *takeFirst(WSIList *list) {
  WSIListPos *first = WSIList_getFirst(list);
  return first != nullptr ? WSIList_remove(list, WSIList_getElement(first)) : nullptr;
}

void appendPaths(const Filer *filer, const char *selector, const char *igroupFilter,
                 const char *initiatorFilter, WSIList *resultList, KELVAStatus *status) {
  constexpr const char *kNoMemory = "Mapping and Masking System: Insufficient memory";
  std::unique_ptr<WSIList, IGroupsFree> igroups(
      getIGroupInfo(filer, selector, igroupFilter, initiatorFilter, nullptr, nullptr, status));
  for (WSIListPos *g = WSIList_getFirst(igroups.get()); g != nullptr && checkStatus(status) == 0;
       g = WSIList_getNext(g)) {
    auto *igroup = static_cast<const KELVAIGroup *>(WSIList_getElement(g));
    if (igroup == nullptr || WSIList_isEmpty(igroup->initiators) != 0) continue;
    for (WSIListPos *i = WSIList_getFirst(igroup->initiators);
         i != nullptr && checkStatus(status) == 0; i = WSIList_getNext(i)) {
      auto *name = static_cast<const char *>(WSIList_getElement(i));
      if (name == nullptr || passesStringFilter(initiatorFilter, name) == 0) continue;
      auto *path = static_cast<KVAuthorizedPath *>(wsicalloc(1, sizeof(KVAuthorizedPath)));
      if (path != nullptr) {
        path->igroupName = wsistrdup(igroup->name);
        path->initiatorName = wsistrdup(name);
      }
      if (path == nullptr || path->igroupName == nullptr || path->initiatorName == nullptr ||
          WSIList_append(resultList, path) == 0) {
        freeKVAuthorizedPath(path);
        setKELVAStatus(status, 0, kNoMemory);
      }
    }
  }
}

WSIList *authorizedPaths(const Filer *filer, const char *igroupFilter, const char *initiatorFilter,
                         KELVAStatus *status) {
  PathList list(WSIList_new());
  if (!list) {
    setKELVAStatus(status, 0, "KELVA_AuthorizedPrivilege Insufficient memory");
    return nullptr;
  }
  appendPaths(filer, nullptr, igroupFilter, initiatorFilter, list.get(), status);
  return checkStatus(status) == 0 ? list.release() : nullptr;
}

KVAuthorizedPath *controllerFor(const CMPIBroker *broker, const Filer *filer, const char *igroup,
                                const char *initiator, CMPIStatus *status) {
  StatusRecord record;
  PathList list(authorizedPaths(filer, igroup, initiator, record.get()));
  if (record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  return static_cast<KVAuthorizedPath *>(takeFirst(list.get()));
}

// The filer of a system name key (decoded from a copy); null with the status set.
Filer *filerOfSystemName(const CMPIBroker *broker, CMPIStatus *status, const CMPIObjectPath *op,
                         const char *noMemory) {
  Text systemName(getKeyAsChar(status, op, "SystemName"));
  if (failed(status)) return nullptr;
  if (!systemName) {
    fail(broker, status, noMemory);
    return nullptr;
  }
  char *systemId = nullptr;
  decodeSystemName(broker, status, systemName.get(), &systemId);
  if (failed(status)) return nullptr;
  return getFilerByName(status, broker, nullptr, op, systemId);
}

void volumesOf(const CMPIBroker *broker, const Filer *filer, const char *igroupName,
               const char *lunPath, const char *lunFilter2, const char *lunFilter3,
               WSIList *resultList, CMPIStatus *status) {
  StatusRecord record;
  if (igroupName == nullptr) {
    getLunInfo(record.get(), filer, lunPath, lunFilter2, lunFilter3, 0, nullptr, resultList);
  } else {
    IGroup igroup(
        findIGroupInfo(filer, nullptr, igroupName, nullptr, nullptr, nullptr, record.get()));
    if (igroup && WSIList_isEmpty(igroup->lunMaps) == 0 && !record.failed()) {
      LunList candidates(WSIList_new());
      if (!candidates) {
        fail(broker, status, "KELVA_StorageVolume: Insufficient memory");
        return;
      }
      getLunInfo(record.get(), filer, nullptr, nullptr, lunFilter3, 0, nullptr, candidates.get());
      for (WSIListPos *m = WSIList_getFirst(igroup->lunMaps);
           m != nullptr && !record.failed() && !failed(status); m = WSIList_getNext(m)) {
        auto *map = static_cast<const KELVALunMap *>(WSIList_getElement(m));
        for (WSIListPos *c = WSIList_getFirst(candidates.get()); c != nullptr;
             c = WSIList_getNext(c)) {
          auto *lun = static_cast<KELVALun *>(WSIList_getElement(c));
          if (lun == nullptr || map == nullptr || std::strcmp(lun->path, map->path) != 0) continue;
          if (WSIList_remove(candidates.get(), lun) == nullptr) {
            fail(broker, status, "KELVA_StorageVolume: Failed to remove LUN");
          } else if (WSIList_append(resultList, lun) == 0) {
            freeLun(lun);
            fail(broker, status, "KELVA_StorageVolume: Insufficient memory");
          }
          break;
        }
      }
    }
  }
  if (record.failed() && !failed(status)) raiseCMPIErrorKELVA(broker, status, record.get());
}

// Sends the request; false with the filer's message raised (code rc, or
// CMPI_RC_ERR_NOT_FOUND for a missing igroup when notFoundFor9003).
bool send(const CMPIBroker *broker, WSIServerInfo *server, WSIElement *request, CMPIStatus *status,
          bool notFoundFor9003) {
  Element answer(invokeServerElement(server, request));
  if (checkResultStatus(answer.get()) != 0) return true;
  Text reason(getErrorWithIP(answer.get(), server));
  CMPIrc rc = notFoundFor9003 && getResultErrorNum(answer.get()) == kNoSuchIGroup
                  ? CMPI_RC_ERR_NOT_FOUND
                  : CMPI_RC_ERR_FAILED;
  raiseCMPIError(broker, status, rc, reason ? reason.get() : "Insufficient memory");
  return false;
}

Server connect(const CMPIBroker *broker, const Filer *filer, CMPIStatus *status) {
  Server server(createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                                 filer->connParam1, filer->connParam2));
  if (!server) fail(broker, status, "Failed to create Server connection.");
  return server;
}

void dropElementName(const CMPIBroker *broker, WSIServerInfo *server, const char *igroupName,
                     CMPIStatus *status) {
  Text key(newDelimitedStringCat(kElementNameKey, igroupName, nullptr));
  if (!key) return fail(broker, status, "Insufficient memory.");
  Element request(createElement("registry-delete"));
  if (!request) return fail(broker, status, "registry-delete api creation failed.");
  if (addStringElement(request.get(), "registry-key", key.get()) == 0)
    return fail(broker, status, "Failed to add registry-key parameter.");
  send(broker, server, request.get(), status, false);
}

}  // namespace

extern "C" {

PK_EXPORT char *encodeProtocolControllerDeviceID(const char *igroupName, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  if (igroupName == nullptr) return nullptr;
  char *id = newDelimitedStringCat("SPC", ":", igroupName);
  if (id == nullptr) setKELVAStatus(slot.get(), 0, "KELVA_ProtocolController Insufficient memory");
  return id;
}

PK_EXPORT void decodeProtocolControllerDeviceID(const char *deviceID, char **nameOut,
                                                KELVAStatus *status) {
  pk::RecordSlot slot(status);
  if (nameOut == nullptr) return;
  *nameOut = nullptr;
  recordEdge(slot.get(), 0, [&] {
    std::string id = deviceID != nullptr ? deviceID : "";
    size_t prefix = id.find_first_not_of(':');
    if (prefix == std::string::npos) {
      setKELVAStatus(slot.get(), 0,
                     "Malformed input SPCName does not follow the format SPC:SPCName");
      return 0;
    }
    size_t colon = id.find(':', prefix);
    if (colon == std::string::npos || colon + 1 >= id.size()) return 0;
    *nameOut = wsistrdup(id.c_str() + colon + 1);
    if (*nameOut == nullptr)
      setKELVAStatus(slot.get(), 0, "KELVA_ProtocolController Insufficient memory");
    return 0;
  });
}

PK_EXPORT void decodeAuthorizedPrivilegeInstanceID(char *instanceID, char **systemOut1,
                                                   char **systemOut2, char **igroupOut,
                                                   char **initiatorOut, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  char *local = nullptr;
  if (getFilerAndNameFromInstanceId(slot.get(), instanceID, systemOut1, systemOut2, &local) == 0 ||
      slot.failed())
    return;
  // Split as strtok does: separators before a part are skipped.
  char *at = local;
  while (*at == '|') ++at;
  if (*at == '\0') {
    setKELVAStatus(slot.get(), 0,
                   "Failed to parse igroup portion of KELVA_AuthorizedPrivilege.InstanceID");
    return;
  }
  char *igroup = at;
  at = std::strchr(at, '|');
  if (at != nullptr) *at++ = '\0';
  while (at != nullptr && *at == '|') ++at;
  if (at == nullptr || *at == '\0') {
    setKELVAStatus(slot.get(), 0,
                   "Failed to parse initiator portion of KELVA_AuthorizedPrivilege.InstanceID");
    return;
  }
  char *initiator = at;
  if ((at = std::strchr(at, '|')) != nullptr) *at = '\0';
  if (igroupOut != nullptr) *igroupOut = igroup;
  if (initiatorOut != nullptr) *initiatorOut = initiator;
}

PK_EXPORT CMPIObjectPath *newProtocolControllerObjectPath(const CMPIBroker *broker,
                                                          const CMPIObjectPath *referencePath,
                                                          const char *igroupName,
                                                          const char *systemName,
                                                          CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<CMPIObjectPath *>(nullptr), [&] {
    CMPIObjectPath *op =
        createCMPIObjectPath(broker, slot.get(), referencePath, "KELVA_ProtocolController");
    if (op == nullptr || slot.failed()) return op;
    StatusRecord record;
    Text deviceID(encodeProtocolControllerDeviceID(igroupName, record.get()));
    if (record.failed()) {
      raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      return op;
    }
    const char *const keys[][2] = {{"DeviceID", deviceID.get()},
                                   {"CreationClassName", "KELVA_ProtocolController"},
                                   {"SystemCreationClassName", "KELVA_StorageSystem"},
                                   {"SystemName", systemName}};
    for (const auto &key : keys) {
      pk::adoptStatus(slot.get(), CMAddKey(op, key[0], key[1], CMPI_chars));
      if (slot.failed()) break;
    }
    return op;
  });
}

PK_EXPORT void getKVAuthorizedPaths(const Filer *filer, const char *selector,
                                    const char *igroupFilter, const char *initiatorFilter,
                                    WSIList *resultList, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  recordEdge(slot.get(), 0, [&] {
    appendPaths(filer, selector, igroupFilter, initiatorFilter, resultList, slot.get());
    return 0;
  });
}

PK_EXPORT void freeKVAuthorizedPath(void *record) {
  auto *path = static_cast<KVAuthorizedPath *>(record);
  if (path == nullptr) return;
  wsifree(path->igroupName);
  wsifree(path->initiatorName);
  wsifree(path);
}

PK_EXPORT WSIList *getAuthorizedPaths(const Filer *filer, const char *igroupFilter,
                                      const char *initiatorFilter, KELVAStatus *status) {
  pk::RecordSlot slot(status);
  return recordEdge(slot.get(), static_cast<WSIList *>(nullptr), [&] {
    return authorizedPaths(filer, igroupFilter, initiatorFilter, slot.get());
  });
}

PK_EXPORT KVAuthorizedPath *getControllerByInstanceID(const CMPIBroker *broker, const Filer *filer,
                                                      const char *igroupName,
                                                      const char *initiatorName,
                                                      CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<KVAuthorizedPath *>(nullptr), [&] {
    return controllerFor(broker, filer, igroupName, initiatorName, slot.get());
  });
}

PK_EXPORT KVAuthorizedPath *mapAuthorizedPrivilegeToAuthorizedPath(const CMPIBroker *broker,
                                                                   CMPIStatus *status,
                                                                   const CMPIObjectPath *op,
                                                                   Filer **filerOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(
      broker, slot.get(), static_cast<KVAuthorizedPath *>(nullptr), [&]() -> KVAuthorizedPath * {
        Text instanceID(getKeyAsChar(slot.get(), op, "InstanceID"));
        if (slot.failed() || !instanceID) return nullptr;
        StatusRecord record;
        char *systemId = nullptr, *prefix = nullptr, *igroup = nullptr, *initiator = nullptr;
        decodeAuthorizedPrivilegeInstanceID(instanceID.get(), &systemId, &prefix, &igroup,
                                            &initiator, record.get());
        if (record.failed()) {
          raiseCMPIErrorKELVA(broker, slot.get(), record.get());
          return nullptr;
        }
        Filer *filer = getFilerByName(slot.get(), broker, nullptr, op, systemId);
        KVAuthorizedPath *path = nullptr;
        if (filer != nullptr && !slot.failed())
          path = controllerFor(broker, filer, igroup, initiator, slot.get());
        returnOrFreeFiler(filer, filerOut, slot.get());
        return path;
      });
}

PK_EXPORT KELVAInitiator *mapStorageHardwareIDtoInitiator(const CMPIBroker *broker,
                                                          CMPIStatus *status,
                                                          const CMPIObjectPath *op,
                                                          Filer **filerOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(
      broker, slot.get(), static_cast<KELVAInitiator *>(nullptr), [&]() -> KELVAInitiator * {
        Text instanceID(getKeyAsChar(slot.get(), op, "InstanceID"));
        if (slot.failed() || !instanceID) return nullptr;
        StatusRecord record;
        char *systemId = nullptr, *prefix = nullptr, *name = nullptr;
        if (getFilerAndNameFromInstanceId(record.get(), instanceID.get(), &systemId, &prefix,
                                          &name) == 0 ||
            record.failed()) {
          raiseCMPIErrorKELVA(broker, slot.get(), record.get());
          return nullptr;
        }
        Filer *filer = getFilerByName(slot.get(), broker, nullptr, op, systemId);
        KELVAInitiator *initiator = nullptr;
        if (filer != nullptr && !slot.failed()) {
          InitiatorList list(WSIList_new());
          if (!list) {
            fail(broker, slot.get(), "KELVA_StorageHardwareID Insufficient Memory");
          } else {
            getAllInitiators(filer, nullptr, name, nullptr, 1, list.get(), record.get());
            if (record.failed())
              raiseCMPIErrorKELVA(broker, slot.get(), record.get());
            else
              initiator = static_cast<KELVAInitiator *>(takeFirst(list.get()));
          }
        }
        returnOrFreeFiler(filer, filerOut, slot.get());
        return initiator;
      });
}

PK_EXPORT KELVAIGroup *mapProtocolControllerToIGroupInfo(const CMPIBroker *broker,
                                                         CMPIStatus *status,
                                                         const CMPIObjectPath *op,
                                                         Filer **filerOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<KELVAIGroup *>(nullptr), [&]() -> KELVAIGroup * {
    Filer *filer = filerOfSystemName(broker, slot.get(), op, "Insufficient memory");
    KELVAIGroup *found = nullptr;
    if (filer != nullptr && !slot.failed()) {
      Text deviceID(getKeyAsChar(slot.get(), op, "DeviceID"));
      StatusRecord record;
      char *name = nullptr;
      if (!slot.failed()) decodeProtocolControllerDeviceID(deviceID.get(), &name, record.get());
      Text igroupName(name);
      if (!slot.failed() && !record.failed())
        found = findIGroupInfo(filer, nullptr, igroupName.get(), nullptr, nullptr, nullptr,
                               record.get());
      if (record.failed()) {
        freeIGroup(found);
        found = nullptr;
        raiseCMPIErrorKELVA(broker, slot.get(), record.get());
      }
    }
    returnOrFreeFiler(filer, filerOut, slot.get());
    return found;
  });
}

PK_EXPORT void getStorageVolumes(const CMPIBroker *broker, const Filer *filer,
                                 const char *igroupName, const char *lunPath,
                                 const char *lunFilter2, const char *lunFilter3,
                                 WSIList *resultList, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    volumesOf(broker, filer, igroupName, lunPath, lunFilter2, lunFilter3, resultList, slot.get());
  });
}

PK_EXPORT KELVALun *mapStorageVolumeToLunInfo(const CMPIBroker *broker, CMPIStatus *status,
                                              const CMPIObjectPath *op, Filer **filerOut) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), static_cast<KELVALun *>(nullptr), [&]() -> KELVALun * {
    Filer *filer =
        filerOfSystemName(broker, slot.get(), op, "KELVA_StorageVolume: Insufficient memory");
    KELVALun *lun = nullptr;
    if (filer != nullptr && !slot.failed()) {
      Text deviceID(getKeyAsChar(slot.get(), op, "DeviceID"));
      char *path = nullptr, *serial = nullptr;
      if (!slot.failed() && deviceID)
        decodeStorageVolumeDeviceID(broker, filer, slot.get(), deviceID.get(), &path, &serial);
      Text lunPath(path);
      if (!slot.failed()) {
        LunList list(WSIList_new());
        if (!list) {
          fail(broker, slot.get(), "Insufficient memory");
        } else {
          volumesOf(broker, filer, nullptr, lunPath.get(), nullptr, nullptr, list.get(),
                    slot.get());
          if (!slot.failed()) lun = static_cast<KELVALun *>(takeFirst(list.get()));
        }
      }
    }
    returnOrFreeFiler(filer, filerOut, slot.get());
    return lun;
  });
}

PK_EXPORT void deleteIGroupForcibly(const CMPIBroker *broker, WSIServerInfo *connection,
                                    const char *igroupName, CMPIStatus *status,
                                    const char *traceComponent) {
  pk::StatusSlot slot(status);
  pk::cEdgeVoid(broker, slot.get(), [&] {
    CMTraceMessage(broker, CMPI_LEV_INFO, traceComponent, "Invoking igroup-destroy operation",
                   nullptr);
    Element request(createElement("igroup-destroy"));
    if (!request) return fail(broker, slot.get(), " Could not create 'igroup-destroy' API");
    if (addStringElement(request.get(), "initiator-group-name", igroupName) == 0)
      return fail(broker, slot.get(), " Could not add initiator-group-name parameter");
    if (addBoolElement(request.get(), "force", 1) == 0)
      return fail(broker, slot.get(), " Could not add force parameter");
    if (!send(broker, connection, request.get(), slot.get(), true)) return;
    dropElementName(broker, connection, igroupName, slot.get());
  });
}

PK_EXPORT int renameIGroup(const CMPIBroker *broker, const Filer *filer, const char *currentName,
                           const char *newName, CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), 0, [&] {
    Server server = connect(broker, filer, slot.get());
    if (!server) return 0;
    Element request(createElement("igroup-rename"));
    if (!request) return fail(broker, slot.get(), "igroup-rename api creation failed."), 0;
    if (addStringElement(request.get(), "initiator-group-new-name", newName) == 0)
      return fail(broker, slot.get(), "Failed to add initiator-group-new-name parameter."), 0;
    if (addStringElement(request.get(), "initiator-group-name", currentName) == 0)
      return fail(broker, slot.get(), "Failed to add initiator-group-name parameter."), 0;
    return send(broker, server.get(), request.get(), slot.get(), false) ? 1 : 0;
  });
}

PK_EXPORT int setIGroupElementName(const CMPIBroker *broker, const Filer *filer,
                                   const char *igroupName, const char *elementName,
                                   CMPIStatus *status) {
  pk::StatusSlot slot(status);
  return pk::cEdge(broker, slot.get(), 0, [&] {
    Server server = connect(broker, filer, slot.get());
    if (!server) return 0;
    Text key(newDelimitedStringCat(kElementNameKey, igroupName, nullptr));
    if (!key) return fail(broker, slot.get(), "Insufficient memory."), 0;
    Element request(createElement("registry-set"));
    if (!request) return fail(broker, slot.get(), "registry-set api creation failed."), 0;
    if (addStringElement(request.get(), "registry-key", key.get()) == 0)
      return fail(broker, slot.get(), "Failed to add registry-key parameter."), 0;
    if (addStringElement(request.get(), "registry-value", elementName) == 0)
      return fail(broker, slot.get(), "Failed to add registry-value parameter."), 0;
    return send(broker, server.get(), request.get(), slot.get(), false) ? 1 : 0;
  });
}

}  // extern "C"
