// Quota principals and managed elements: the users and groups that quota rules
// name, their domain-identity InstanceIDs, the elements a rule is bound to (mapped
// to their volume through a fixed class table, each class with the library that
// says whether an element exists), and the per-volume quota requests.
#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <cstring>
#include <memory>
#include <string>

#include "filerrequests.h"
#include "guards.h"
#include "provkit/commonimpl.h"
#include "provkit/frame.h"
#include "provkit/objectpath.h"
#include "provkit/properties.h"
#include "provkit/quota.h"
#include "quotainternal.h"

namespace pk::quota {
namespace {

using pk::filer::Element;

struct ListFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeQuotaPrincipal); }
};
using Principals = std::unique_ptr<WSIList, ListFree>;

struct EntriesFree {
  void operator()(WSIList *list) const { WSIList_free(list, freeFilerQuotaEntry); }
};
using Entries = std::unique_ptr<WSIList, EntriesFree>;

bool listed(WSIList *list, int type, const char *name) {
  for (WSIListPos *at = WSIList_getFirst(list); at != nullptr; at = WSIList_getNext(at)) {
    const auto *p = static_cast<const QuotaPrincipal *>(WSIList_getElement(at));
    if (p->type == type && strCompare(p->name, name) == 0) return true;
  }
  return false;
}

// Appends the principals of the entry that pass the filters; the count added.
int addPrincipals(const FilerQuotaEntry *entry, const char *nameFilter, const int *typeFilter,
                  bool unique, WSIList *out, KELVAStatus *status) {
  const int type = entry->keys.type;
  if (type != PK_QUOTA_TYPE_USER && type != PK_QUOTA_TYPE_GROUP) return 0;
  if (typeFilter != nullptr && *typeFilter != type) return 0;
  const char *target = entry->keys.target;
  if (target == nullptr || target[0] == '\0') {
    setRecord(status, "Quota subsystem:Failed to parse quota targets string");
    return 0;
  }
  pk::WsiText copy(wsistrdup(target));
  if (copy == nullptr) {
    setRecord(status, kNoMemory);
    return 0;
  }
  int added = 0;
  char *cursor = copy.get();
  while (cursor != nullptr) {
    char *name = cursor;
    char *comma = std::strchr(cursor, ',');
    if (comma != nullptr) *comma = '\0';
    cursor = comma != nullptr ? comma + 1 : nullptr;
    if (name[0] == '\0' || passesStringFilter(nameFilter, name) == 0) continue;
    if (unique && listed(out, type, name)) continue;
    auto *principal = static_cast<QuotaPrincipal *>(wsicalloc(1, sizeof(QuotaPrincipal)));
    char *own = principal != nullptr ? wsistrdup(name) : nullptr;
    if (own == nullptr) {
      wsifree(principal);
      setRecord(status, kNoMemory);
      return added;
    }
    principal->type = type;
    principal->name = own;
    principal->nameKind = std::strcmp(name, "*") == 0          ? PK_PRINCIPAL_DEFAULT
                          : std::strchr(name, '\\') != nullptr ? PK_PRINCIPAL_DOMAIN
                                                               : PK_PRINCIPAL_PLAIN;
    if (WSIList_append(out, principal) == 0) {
      freeQuotaPrincipal(principal);
      setRecord(status, kNoMemory);
      return added;
    }
    ++added;
  }
  return added;
}

WSIList *principalsOfFiler(const Filer *filer, const char *nameFilter, const int *typeFilter,
                           KELVAStatus *status) {
  Entries entries(WSIList_new());
  Principals out(WSIList_new());
  if (entries == nullptr || out == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  findFilerQuotaEntries(filer, nullptr, nullptr, nameFilter, nullptr, nullptr, nullptr, 0,
                        entries.get(), status);
  if (checkStatus(status) != 0) return nullptr;
  for (WSIListPos *at = WSIList_getFirst(entries.get()); at != nullptr; at = WSIList_getNext(at)) {
    const auto *entry = static_cast<const FilerQuotaEntry *>(WSIList_getElement(at));
    int added = addPrincipals(entry, nameFilter, typeFilter, true, out.get(), status);
    if (checkStatus(status) != 0) return nullptr;
    if (nameFilter != nullptr && added > 0) break;
  }
  return out.release();
}

WSIList *principalsOfEntry(const FilerQuotaEntry *entry, KELVAStatus *status) {
  Principals out(WSIList_new());
  if (out == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  if (entry != nullptr) addPrincipals(entry, nullptr, nullptr, false, out.get(), status);
  return checkStatus(status) == 0 ? out.release() : nullptr;
}

char *encodePrincipal(const char *system, const QuotaPrincipal *principal, KELVAStatus *status) {
  const char *marker = nullptr;
  if (principal != nullptr && principal->type == PK_QUOTA_TYPE_USER) marker = "U:";
  if (principal != nullptr && principal->type == PK_QUOTA_TYPE_GROUP) marker = "G:";
  if (marker == nullptr) {
    setRecord(status, "KELVA_FSDomainIdentity: Invalid Principal type");
    return nullptr;
  }
  std::string local = marker;
  local += principal->name != nullptr ? principal->name : "";
  char *id = encodeInstanceID(system, local.c_str());
  if (id == nullptr) setRecord(status, "KELVA_FSDomainIdentity: Insufficient memory");
  return id;
}

int decodePrincipal(char *instanceID, char **systemOut1, char **systemOut2, char **nameOut,
                    int *typeOut, KELVAStatus *status) {
  char *local = nullptr;
  if (getFilerAndNameFromInstanceId(status, instanceID, systemOut1, systemOut2, &local) == 0)
    return 0;
  char *colon = local != nullptr ? std::strchr(local, ':') : nullptr;
  if (colon == nullptr) {
    setRecord(status,
              "KELVA_FSDomainIdentity: Failed to isolate principal type marker from InstanceID");
    return 0;
  }
  *colon = '\0';
  int type = -1;
  if (local[0] == 'G') type = PK_QUOTA_TYPE_GROUP;
  if (local[0] == 'U') type = PK_QUOTA_TYPE_USER;
  if (type < 0) {
    setRecord(status, "KELVA_FSDomainIdentity: Invalid principal type marker from InstanceID");
    return 0;
  }
  char *name = colon + 1;
  if (name[0] == '\0') {
    setRecord(status, "KELVA_FSDomainIdentity: Failed to isolate principal name from InstanceID");
    return 0;
  }
  // The name ends at the next separator, as the identifier's parts do.
  if (char *end = std::strchr(name, ':')) *end = '\0';
  if (nameOut != nullptr) *nameOut = name;
  if (typeOut != nullptr) *typeOut = type;
  return 1;
}

// ---- The managed-element class table ----------------------------------------------------

// A copy of the key; a failure is raised (rc 1) with the memory message.
char *keyCopy(const CMPIBroker *broker, const CMPIObjectPath *path, const char *key,
              CMPIStatus *status) {
  const char *value = getKeyAsConstChar(status, path, key);
  if (pk::failed(status)) return nullptr;
  char *copy = value != nullptr ? wsistrdup(value) : nullptr;
  if (copy == nullptr) pk::fail(broker, status, "Quota subsystem:: Insufficient memory");
  return copy;
}

// The logical disk and storage volume rows copy their result once more.
char *copiedAgain(const CMPIBroker *broker, pk::WsiText name, CMPIStatus *status) {
  if (name == nullptr) return nullptr;
  char *copy = wsistrdup(name.get());
  if (copy == nullptr) pk::fail(broker, status, kNoMemory);
  return copy;
}

char *deviceIdName(const CMPIBroker *broker, const CMPIObjectPath *path, const Filer *,
                   CMPIStatus *status) {
  return keyCopy(broker, path, "DeviceID", status);
}
char *deviceIdNameCopied(const CMPIBroker *broker, const CMPIObjectPath *path, const Filer *,
                         CMPIStatus *status) {
  return copiedAgain(broker, pk::WsiText(keyCopy(broker, path, "DeviceID", status)), status);
}
char *nameKey(const CMPIBroker *broker, const CMPIObjectPath *path, const Filer *,
              CMPIStatus *status) {
  return keyCopy(broker, path, "Name", status);
}
// A storage volume (a LUN) stands on the volume its path names.
char *lunVolumeName(const CMPIBroker *broker, const CMPIObjectPath *path, const Filer *filer,
                    CMPIStatus *status) {
  pk::WsiText deviceId(keyCopy(broker, path, "DeviceID", status));
  if (deviceId == nullptr) return nullptr;
  char *lunPathText = nullptr;
  char *serial = nullptr;
  decodeStorageVolumeDeviceID(broker, filer, status, deviceId.get(), &lunPathText, &serial);
  pk::WsiText lunPath(lunPathText);
  if (pk::failed(status) || lunPath == nullptr) {
    if (!pk::failed(status))
      pk::fail(broker, status, "Quota subsystem:Managed Element was not found");
    return nullptr;
  }
  char *volume = nullptr;
  decodeVolumeFromLUNPath(broker, status, lunPath.get(), &volume);
  if (pk::failed(status) || volume == nullptr) return nullptr;
  char *copy = wsistrdup(volume);
  if (copy == nullptr) pk::fail(broker, status, "Quota subsystem:: Insufficient memory");
  return copiedAgain(broker, pk::WsiText(copy), status);
}

KELVAVolume *firstVolumeRecord(const Filer *filer, const char *identifier, const char *name,
                               KELVAStatus *status) {
  pk::filer::VolumeList list(WSIList_new());
  if (list == nullptr) {
    setRecord(status, "Quota subsystem:: Insufficient memory");
    return nullptr;
  }
  if (getVolumeInfo(status, filer, identifier, name, nullptr, WSI_VOLUME_KINDS_ALL, 0,
                    list.get()) == 0)
    return nullptr;
  WSIListPos *first = WSIList_getFirst(list.get());
  if (first == nullptr) return nullptr;
  return static_cast<KELVAVolume *>(WSIList_removeIter(&first));
}
KELVAVolume *volumeByIdentifier(const Filer *filer, const char *volume, KELVAStatus *status) {
  return firstVolumeRecord(filer, volume, nullptr, status);
}
KELVAVolume *volumeByName(const Filer *filer, const char *volume, KELVAStatus *status) {
  return firstVolumeRecord(filer, nullptr, volume, status);
}
KELVAVolume *wholeSystem(const Filer *, const char *, KELVAStatus *) {
  return PK_QUOTA_WHOLE_SYSTEM;
}

const QuotaMEClass kRows[] = {
    {"KELVA_VariVolExtent", PK_QUOTA_ME_VOLUME_EXTENT, "volextprv.dll", deviceIdName,
     volumeByIdentifier},
    {"KELVA_LogicalDisk", PK_QUOTA_ME_LOGICAL_DISK, "diskunitprv.dll", deviceIdNameCopied,
     volumeByIdentifier},
    {"KELVA_LocalFS", PK_QUOTA_ME_LOCAL_FS, "nasdirprv.dll", nameKey, volumeByIdentifier},
    {"KELVA_StorageVolume", PK_QUOTA_ME_STORAGE_VOLUME, "blockvolprv.dll", lunVolumeName,
     volumeByName},
    {"KELVA_StorageSystem", PK_QUOTA_ME_STORAGE_SYSTEM, "arraysysprv.dll", nameKey, wholeSystem},
};

const QuotaMEClass *classOf(const CMPIBroker *broker, const CMPIObjectPath *path,
                            const int *indexes, int count, CMPIStatus *status) {
  pk::WsiText className(getObjectPathClass(broker, path, status));
  if (className == nullptr) return nullptr;
  for (int i = 0; i < count && indexes != nullptr; ++i) {
    int index = indexes[i];
    if (index < 0 || index >= static_cast<int>(sizeof kRows / sizeof kRows[0])) continue;
    if (strCompare(kRows[index].className, className.get()) == 0) return &kRows[index];
  }
  return nullptr;
}

QuotaMEInstance *toInstance(const CMPIBroker *broker, const CMPIContext *context,
                            const CMPIObjectPath *path, const QuotaMEClass *row,
                            CMPIStatus *status) {
  Filer *found = nullptr;
  int exists = verifyObject(broker, context, path, row->library, &found, status);
  pk::FilerRecord filer(found);
  if (pk::failed(status)) return nullptr;
  if (exists == 0 || filer == nullptr) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_FOUND,
                   "Quota subsystem:Managed Element was not found");
    return nullptr;
  }
  pk::WsiText volume(row->volumeName(broker, path, filer.get(), status));
  if (volume == nullptr) {
    if (!pk::failed(status)) pk::fail(broker, status, "Quota subsystem:: Insufficient memory");
    return nullptr;
  }
  auto *instance = static_cast<QuotaMEInstance *>(wsicalloc(1, sizeof(QuotaMEInstance)));
  if (instance == nullptr) {
    pk::fail(broker, status, "Quota subsystem: Insufficient memory");
    return nullptr;
  }
  instance->row = row;
  instance->filer = filer.release();
  instance->volume = volume.release();
  return instance;
}

// ---- Volume requests -------------------------------------------------------------------

char *qtreeName(const Filer *filer, const char *volume, int32_t id, KELVAStatus *status) {
  Element answer =
      volumeRequest(filer, "qtree-list", volume, "Quota subsystem:Failed to create 'qree-list' API",
                    "Quota subsystem:Failed to add parameters to 'qtree-list'", status);
  if (answer == nullptr) return nullptr;
  WSIElement *qtrees = getChildElement(answer.get(), "qtrees");
  if (qtrees == nullptr) return nullptr;
  pk::filer::Iterator walk = pk::filer::children(qtrees, kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create iterator for qtrees");
    return nullptr;
  }
  while (WSIElement *qtree = getNextElement(walk.get())) {
    if (getIntElement(qtree, "id", -1) != id) continue;
    const char *name = getStringElement(qtree, "qtree");
    if (name == nullptr) return nullptr;
    char *copy = wsistrdup(name);
    if (copy == nullptr) setRecord(status, kNoMemory);
    return copy;
  }
  return nullptr;
}

}  // namespace
Element volumeRequest(const Filer *filer, const char *api, const char *volume, const char *noApi,
                      const char *noParam, KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return Element();
  }
  Element request = pk::filer::element(api, kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, noApi);
    return Element();
  }
  if (addStringElement(request.get(), "volume", volume) == 0) {
    setRecord(status, noParam);
    return Element();
  }
  return send(server.get(), request.get(), __LINE__, status);
}

}  // namespace pk::quota

using namespace pk::quota;
using pk::recordEdge;

extern "C" {

void freeQuotaPrincipal(void *principal) {
  auto *p = static_cast<QuotaPrincipal *>(principal);
  if (p == nullptr) return;
  wsifree(p->name);
  wsifree(p);
}

WSIList *findFilerQuotaPrincipals(const Filer *filer, const char *nameFilter, const int *typeFilter,
                                  KELVAStatus *status) {
  return recordEdge(status, static_cast<WSIList *>(nullptr), [&](KELVAStatus *record) {
    return principalsOfFiler(filer, nameFilter, typeFilter, record);
  });
}

WSIList *findFilerQuotaPrincipalsFromEntry(const FilerQuotaEntry *entry, KELVAStatus *status) {
  return recordEdge(status, static_cast<WSIList *>(nullptr),
                    [&](KELVAStatus *record) { return principalsOfEntry(entry, record); });
}

char *encodePrincipalID(const char *system, const QuotaPrincipal *principal, KELVAStatus *status) {
  return recordEdge(status, static_cast<char *>(nullptr), [&](KELVAStatus *record) {
    return encodePrincipal(system, principal, record);
  });
}

int decodePrincipalEntryID(char *instanceID, char **systemOut1, char **systemOut2, char **nameOut,
                           int *typeOut, KELVAStatus *status) {
  return recordEdge(status, 0, [&](KELVAStatus *record) {
    if (instanceID == nullptr) {
      setKELVAStatus(record, 0,
                     "KELVA_FSDomainIdentity: Failed to isolate principal type marker from "
                     "InstanceID");
      return 0;
    }
    return decodePrincipal(instanceID, systemOut1, systemOut2, nameOut, typeOut, record);
  });
}

const QuotaMEClass *getQuotaMEClassFromPath(const CMPIBroker *broker, const CMPIObjectPath *path,
                                            const int *rowIndexes, int count, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<const QuotaMEClass *>(nullptr),
                   [&] { return classOf(broker, path, rowIndexes, count, st.get()); });
}

QuotaMEInstance *convertObjectPathToQuotaMEInstance(const CMPIBroker *broker,
                                                    const CMPIContext *context,
                                                    const CMPIObjectPath *path,
                                                    const QuotaMEClass *row, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<QuotaMEInstance *>(nullptr),
                   [&]() -> QuotaMEInstance * {
                     if (row == nullptr) {
                       raiseCMPIError(broker, st.get(), CMPI_RC_ERR_NOT_FOUND,
                                      "Quota subsystem:Managed Element was not found");
                       return nullptr;
                     }
                     return toInstance(broker, context, path, row, st.get());
                   });
}

void freeMEInstance(QuotaMEInstance *instance) {
  if (instance == nullptr) return;
  wsifree(instance->volume);
  freeFiler(instance->filer);
  wsifree(instance);
}

KELVAVolume *getMEInstanceVolume(const CMPIBroker *broker, const QuotaMEInstance *instance,
                                 CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<KELVAVolume *>(nullptr), [&]() -> KELVAVolume * {
    if (instance == nullptr || instance->row == nullptr) return nullptr;
    pk::StatusRecord local;
    KELVAVolume *volume =
        instance->row->volumeRecord(instance->filer, instance->volume, local.get());
    if (local.failed()) raiseCMPIErrorKELVA(broker, st.get(), local.get());
    return volume;
  });
}

const Filer *getMEInstanceFiler(const QuotaMEInstance *instance) {
  return instance != nullptr ? instance->filer : nullptr;
}

void setVolumeQuotas(const Filer *filer, const char *volume, int on, KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *record) {
    (void)volumeRequest(filer, on != 0 ? "quota-on" : "quota-off", volume,
                        "Quota subsystem:Failed to create quota API",
                        "Quota subsystem: Failed to add 'volume' parameter", record);
    return 0;
  });
}

void resizeVolumeQuotas(const Filer *filer, const char *volume, KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *record) {
    (void)volumeRequest(filer, "quota-resize", volume,
                        "Quota subsystem:Failed to create 'qree-list' API",
                        "Quota subsystem:Failed to add parameters to 'qtree-list'", record);
    return 0;
  });
}

char *getQtreeNameFromID(const Filer *filer, const char *volume, int32_t qtreeId,
                         KELVAStatus *status) {
  return recordEdge(status, static_cast<char *>(nullptr),
                    [&](KELVAStatus *record) { return qtreeName(filer, volume, qtreeId, record); });
}

}  // extern "C"
