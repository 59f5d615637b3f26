// Quota configuration: a quota rule's keys (type, target, volume, qtree) and the
// tree paths derived from them, the client's configuration-entry instance turned
// into a rule, the rule requests on the filer, and the configuration entry's
// InstanceID.  Disk limits travel to and from the filer in kilobytes and are kept
// in bytes here.
#include "provkit/quota.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>
#include <wbemkelvai/wsistorage.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "filerrequests.h"
#include "guards.h"
#include "provkit/frame.h"
#include "provkit/fsmanip.h"
#include "provkit/properties.h"
#include "quotainternal.h"

namespace pk::quota {

using pk::filer::Element;

namespace {

constexpr const char *kLabel = "KELVA_FSQuotaConfigEntry";
// A quota-get-entry for a rule the filer does not have.
constexpr int kNoSuchEntry = 13053;

constexpr const char *kTypeTexts[] = {"user", "group", "tree"};

char *copyOrEmpty(const char *text) { return wsistrdup(text != nullptr ? text : ""); }

}  // namespace

int typeCode(const char *typeText) {
  if (typeText == nullptr) return PK_QUOTA_TYPE_OTHER;
  for (int code = 0; code < 3; ++code) {
    if (strCompare(typeText, kTypeTexts[code]) == 0) return code;
  }
  return PK_QUOTA_TYPE_OTHER;
}

void clearKeys(QuotaKeys *keys) {
  wsifree(keys->typeText);
  wsifree(keys->volume);
  wsifree(keys->qtree);
  wsifree(keys->target);
  wsifree(keys->absoluteTree);
  *keys = QuotaKeys{};
  keys->type = PK_QUOTA_TYPE_OTHER;
}

bool buildKeys(QuotaKeys *keys, const char *typeText, const char *target, const char *volume,
               const char *qtree, KELVAStatus *status) {
  *keys = QuotaKeys{};
  keys->typeText = copyOrEmpty(typeText);
  keys->target = copyOrEmpty(target);
  keys->volume = copyOrEmpty(volume);
  keys->qtree = copyOrEmpty(qtree);
  keys->type = typeCode(keys->typeText);
  bool ok = keys->typeText != nullptr && keys->target != nullptr && keys->volume != nullptr &&
            keys->qtree != nullptr;
  if (ok) {
    bool wanted = false;
    if (keys->type == PK_QUOTA_TYPE_TREE) {
      wanted = true;
      if (std::strcmp(keys->target, "*") == 0) {
        keys->absoluteTree = makeAbsolutePath(keys->volume, nullptr);
      } else if (std::strncmp(keys->target, "/vol/", 5) == 0) {
        keys->absoluteTree = wsistrdup(keys->target);
      } else {
        keys->absoluteTree = makeAbsolutePath(keys->volume, keys->target);
      }
    } else if ((keys->type == PK_QUOTA_TYPE_USER || keys->type == PK_QUOTA_TYPE_GROUP) &&
               keys->qtree[0] != '\0') {
      wanted = true;
      keys->absoluteTree = makeAbsolutePath(keys->volume, keys->qtree);
    }
    if (wanted && keys->absoluteTree == nullptr) ok = false;
  }
  if (!ok) {
    clearKeys(keys);
    setRecord(status, kNoMemory);
    return false;
  }
  if (keys->absoluteTree != nullptr)
    keys->relativeTree =
        std::strlen(keys->absoluteTree) >= 5 ? keys->absoluteTree + 5 : keys->absoluteTree;
  return true;
}

bool readLimit(const WSIElement *answer, const char *name, bool disk, uint64_t *out,
               KELVAStatus *status) {
  const char *text = getStringElement(answer, name);
  if (text == nullptr) {
    setRecord(status,
              "Quota subsystem:Failed to find threshold element in 'quota-get-entry result'");
    return false;
  }
  if (text[0] == '-') {
    *out = PK_QUOTA_NO_LIMIT;
    return true;
  }
  uint64_t value = 0;
  bool digits = false;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || value > (UINT64_MAX - 9) / 10) {
      digits = false;
      break;
    }
    value = value * 10 + static_cast<uint64_t>(*c - '0');
    digits = true;
  }
  if (!digits) {
    setRecord(status, "Quota subsystem:Failed to format quota entry threshhold");
    return false;
  }
  *out = disk ? value * 1024 : value;
  return true;
}

bool readLimits(const WSIElement *answer, QuotaLimits *limits, KELVAStatus *status) {
  return readLimit(answer, "disk-limit", true, &limits->diskLimit, status) &&
         readLimit(answer, "file-limit", false, &limits->fileLimit, status) &&
         readLimit(answer, "soft-disk-limit", true, &limits->softDiskLimit, status) &&
         readLimit(answer, "soft-file-limit", false, &limits->softFileLimit, status);
}

void noLimits(QuotaLimits *limits) {
  limits->diskLimit = limits->fileLimit = limits->softDiskLimit = limits->softFileLimit =
      PK_QUOTA_NO_LIMIT;
}

namespace {

// The request's keys, in the order the filer expects them.
bool addKeys(WSIElement *request, const QuotaKeys *keys) {
  return addStringElement(request, "qtree", keys->qtree) != 0 &&
         addStringElement(request, "quota-target", keys->target) != 0 &&
         addStringElement(request, "quota-type", keys->typeText) != 0 &&
         addStringElement(request, "volume", keys->volume) != 0;
}

// A limit of no limit is left out of the request: the filer then keeps the rule
// unlimited in that respect, which is what the client asked for.
bool addLimit(WSIElement *request, const char *name, uint64_t value, bool disk) {
  if (value == PK_QUOTA_NO_LIMIT) return true;
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, disk ? value / 1024 : value);
  return addStringElement(request, name, text) != 0;
}

bool addLimits(WSIElement *request, const QuotaLimits *limits) {
  return addLimit(request, "disk-limit", limits->diskLimit, true) &&
         addLimit(request, "file-limit", limits->fileLimit, false) &&
         addLimit(request, "soft-disk-limit", limits->softDiskLimit, true) &&
         addLimit(request, "soft-file-limit", limits->softFileLimit, false);
}

FilerQuotaEntry *newFilerEntry(const char *typeText, const char *target, const char *volume,
                               const char *qtree, const char *reason, KELVAStatus *status) {
  auto *entry = static_cast<FilerQuotaEntry *>(wsicalloc(1, sizeof(FilerQuotaEntry)));
  if (entry == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  noLimits(&entry->limits);
  if (!buildKeys(&entry->keys, typeText, target, volume, qtree, status)) {
    wsifree(entry);
    return nullptr;
  }
  if (reason != nullptr) {
    entry->errorReason = wsistrdup(reason);
    if (entry->errorReason == nullptr) {
      setRecord(status, kNoMemory);
      freeFilerQuotaEntry(entry);
      return nullptr;
    }
  }
  return entry;
}

struct FilerEntryFree {
  void operator()(FilerQuotaEntry *entry) const { freeFilerQuotaEntry(entry); }
};
using FilerEntry = std::unique_ptr<FilerQuotaEntry, FilerEntryFree>;

// The volume a rule without one stands on: the filer's root volume, read once.
class RootVolume {
 public:
  explicit RootVolume(const Filer *filer) : filer_(filer) {}
  const char *orRoot(const char *volume, KELVAStatus *status) {
    if (volume != nullptr) return volume;
    if (root_ == nullptr) root_.reset(getRootVolumeName(status, filer_));
    return root_.get();
  }

 private:
  const Filer *filer_;
  pk::WsiText root_;
};

FilerQuotaEntry *getEntry(const Filer *filer, const QuotaKeys *keys, bool withLimits,
                          KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return nullptr;
  }
  Element request = pk::filer::element("quota-get-entry", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create 'quota-get-entry' API");
    return nullptr;
  }
  if (!addKeys(request.get(), keys)) {
    setRecord(status, "Quota subsystem:Failed to add parameters to 'quota-get-entry'");
    return nullptr;
  }
  Element answer = pk::filer::invoke(server.get(), request.get(), kSource, __LINE__);
  if (answer == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  if (checkResultStatus(answer.get()) == 0) {
    if (getResultErrorNum(answer.get()) != kNoSuchEntry)
      pk::filer::reportWithIP(answer.get(), server.get(), status);
    return nullptr;
  }
  const char *reason = nullptr;
  if (WSIElement *error = getChildElement(answer.get(), "quota-error"))
    reason = getStringElement(error, "quota-error");
  QuotaLimits limits;
  noLimits(&limits);
  if (withLimits) {
    uint64_t threshold = 0;
    if (!readLimits(answer.get(), &limits, status) ||
        !readLimit(answer.get(), "threshold", true, &threshold, status))
      return nullptr;
  }
  RootVolume root(filer);
  const char *volume = root.orRoot(keys->volume, status);
  if (volume == nullptr) return nullptr;
  FilerQuotaEntry *entry =
      newFilerEntry(keys->typeText, keys->target, volume, keys->qtree, reason, status);
  if (entry != nullptr) entry->limits = limits;
  return entry;
}

bool treePasses(const char *filter, const char *path) {
  if (filter == nullptr) return true;
  if (filter == PK_QUOTA_TREE_ANY) return path != nullptr;
  return path != nullptr && std::strcmp(filter, path) == 0;
}

// The limits of a listed entry, from a quota-get-entry of its keys.
bool completeLimits(WSIServerInfo *server, FilerQuotaEntry *entry, KELVAStatus *status) {
  Element request = pk::filer::element("quota-get-entry", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create 'quota-get-entry' API");
    return false;
  }
  if (!addKeys(request.get(), &entry->keys)) {
    setRecord(status, "Quota subsystem:Failed to add parameters to 'quota-get-entry'");
    return false;
  }
  Element answer = send(server, request.get(), __LINE__, status);
  return answer != nullptr && readLimits(answer.get(), &entry->limits, status);
}

struct Filters {
  const int *type;
  const char *target;
  const char *targetPart;
  const char *volume;
  const char *relativeTree;
  const char *absoluteTree;
};

bool passes(const FilerQuotaEntry *entry, const Filters &f) {
  const QuotaKeys &k = entry->keys;
  return (f.type == nullptr || *f.type == k.type) && passesStringFilter(f.target, k.target) != 0 &&
         passesStringFilter(f.volume, k.volume) != 0 &&
         (f.targetPart == nullptr || std::strstr(k.target, f.targetPart) != nullptr) &&
         treePasses(f.relativeTree, k.relativeTree) && treePasses(f.absoluteTree, k.absoluteTree);
}

int findEntries(const Filer *filer, const Filters &filters, bool withLimits, WSIList *list,
                KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return 0;
  }
  Element request = pk::filer::element("quota-list-entries", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create 'quota-list-entries' API");
    return 0;
  }
  if (addStringElement(request.get(), "include-output-entry", "true") == 0) {
    setRecord(status, "Quota subsystem:Failed to add 'include-output-entry' parameter");
    return 0;
  }
  Element answer = send(server.get(), request.get(), __LINE__, status);
  if (answer == nullptr) return 0;
  WSIElement *entries = getChildElement(answer.get(), "quota-entries");
  if (entries == nullptr) {
    setRecord(status, "Quota subsystem:Missing 'quota-entries' tag");
    return 0;
  }
  pk::filer::Iterator walk = pk::filer::children(entries, kSource, __LINE__);
  if (walk == nullptr) {
    setRecord(status, "Quota subsystem: Failed to create entries' iterator");
    return 0;
  }
  RootVolume root(filer);
  int added = 0;
  while (checkStatus(status) == 0) {
    WSIElement *item = getNextElement(walk.get());
    if (item == nullptr) break;
    const char *reason = nullptr;
    if (WSIElement *error = getChildElement(item, "quota-error"))
      reason = getStringElement(error, "reason");
    const char *volume = root.orRoot(getStringElement(item, "volume"), status);
    if (volume == nullptr) break;
    FilerEntry entry(newFilerEntry(getStringElement(item, "quota-type"),
                                   getStringElement(item, "quota-target"), volume,
                                   getStringElement(item, "qtree"), reason, status));
    if (entry == nullptr || !passes(entry.get(), filters)) continue;
    if (withLimits && !completeLimits(server.get(), entry.get(), status)) break;
    if (WSIList_append(list, entry.get()) == 0) {
      setRecord(status, kNoMemory);
      break;
    }
    (void)entry.release();
    ++added;
  }
  return added;
}

// add, modify: the keys and the four limits.
void changeEntry(const Filer *filer, const char *api, const QuotaKeys *keys,
                 const QuotaLimits *limits, KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return;
  }
  Element request = pk::filer::element(api, kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create quota API");
    return;
  }
  if (!addKeys(request.get(), keys) || (limits != nullptr && !addLimits(request.get(), limits))) {
    setRecord(status, "Quota subsystem:Failed to add parameters to 'quota-delete'");
    return;
  }
  (void)send(server.get(), request.get(), __LINE__, status);
}

void deleteEntry(const Filer *filer, const QuotaKeys *keys, KELVAStatus *status) {
  pk::filer::Server server = pk::filer::connect(filer, kSource, __LINE__);
  if (server == nullptr) {
    setRecord(status, kNoServer);
    return;
  }
  Element request = pk::filer::element("quota-delete-entry", kSource, __LINE__);
  if (request == nullptr) {
    setRecord(status, "Quota subsystem:Failed to create 'quota-delete-entry' API");
    return;
  }
  if (!addKeys(request.get(), keys)) {
    setRecord(status, "Quota subsystem:Failed to add parameters to 'quota-delete'");
    return;
  }
  (void)send(server.get(), request.get(), __LINE__, status);
}

ClientQuotaEntry *newClientEntry(const Filer *filer, const char *target, const char *typeText,
                                 const char *volume, const char *qtree, const QuotaLimits &limits,
                                 KELVAStatus *status) {
  RootVolume root(filer);
  const char *onVolume = root.orRoot(volume, status);
  if (onVolume == nullptr) {
    if (checkStatus(status) == 0) setRecord(status, kNoMemory);
    return nullptr;
  }
  auto *entry = static_cast<ClientQuotaEntry *>(wsicalloc(1, sizeof(ClientQuotaEntry)));
  if (entry == nullptr) {
    setRecord(status, kNoMemory);
    return nullptr;
  }
  if (!buildKeys(&entry->keys, typeText, target, onVolume, qtree, status)) {
    wsifree(entry);
    return nullptr;
  }
  entry->limits = limits;
  return entry;
}

// ---- The client's instance ----------------------------------------------------------

void refuse(const CMPIBroker *broker, CMPIStatus *status, const char *text) {
  raiseCMPIError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, text);
}

bool good(const CMPIData &data) { return (data.state & (CMPI_nullValue | CMPI_badValue)) == 0; }

const char *textOf(const CMPIData &data) {
  if (!good(data) || data.value.string == nullptr) return nullptr;
  return CMGetCharPtr(data.value.string);
}

// A limit array may carry 16- or 64-bit elements: the class keeps limits in 64
// bits, while some clients send the narrower type; both are taken.
CMPIType limitArrayType(const CMPIInstance *instance, const char *name) {
  CMPIStatus peek{CMPI_RC_OK, nullptr};
  CMPIData data = CMGetProperty(instance, name, &peek);
  pk::adoptStatus(nullptr, peek);
  if (peek.rc == CMPI_RC_OK && data.type == CMPI_uint64A) return CMPI_uint64A;
  return CMPI_uint16A;
}

// The limit at index: no limit for a missing, null or all-ones element.
uint64_t limitAt(CMPIArray *array, CMPICount index) {
  if (array == nullptr || index >= CMGetArrayCount(array, nullptr)) return PK_QUOTA_NO_LIMIT;
  CMPIStatus read{CMPI_RC_OK, nullptr};
  CMPIData element = CMGetArrayElementAt(array, index, &read);
  pk::adoptStatus(nullptr, read);
  if (read.rc != CMPI_RC_OK || !good(element)) return PK_QUOTA_NO_LIMIT;
  switch (element.type) {
    case CMPI_uint16:
      return element.value.uint16;
    case CMPI_uint32:
      return element.value.uint32;
    default:
      return element.value.uint64;
  }
}

// The Default flag: a boolean as the class declares it, or a string of a boolean.
bool defaultFlag(const CMPIBroker *broker, const CMPIInstance *instance, CMPIStatus *status) {
  CMPIStatus peek{CMPI_RC_OK, nullptr};
  CMPIData raw = CMGetProperty(instance, "Default", &peek);
  pk::adoptStatus(nullptr, peek);
  const CMPIType expected =
      peek.rc == CMPI_RC_OK && raw.type == CMPI_boolean ? CMPI_boolean : CMPI_string;
  CMPIData data = getEmbPropertyFromInst(broker, "Default", kLabel, expected, instance, 0, status);
  if (pk::failed(status) || !good(data)) return false;
  if (expected == CMPI_boolean) return data.value.boolean != 0;
  const char *text = textOf(data);
  return text != nullptr && (strCompare(text, "true") == 0 || std::strcmp(text, "1") == 0);
}

ClientQuotaEntry *fromInstance(const CMPIBroker *broker, const Filer *filer,
                               const CMPIInstance *instance, CMPIStatus *status) {
  FSQCEInst fields;
  clearFSQCEInst(&fields);
  CMPIData type =
      getEmbPropertyFromInst(broker, "QuotaType", kLabel, CMPI_uint16, instance, 1, status);
  if (pk::failed(status)) return nullptr;
  bool treeRequired = false;
  switch (type.value.uint16) {
    case 2:
      fields.typeCode = PK_QUOTA_TYPE_USER;
      break;
    case 3:
      fields.typeCode = PK_QUOTA_TYPE_GROUP;
      break;
    case 4:
      fields.typeCode = PK_QUOTA_TYPE_TREE;
      treeRequired = true;
      break;
    case 5:
      fields.typeCode = PK_QUOTA_TYPE_USER;
      treeRequired = true;
      break;
    case 6:
      fields.typeCode = PK_QUOTA_TYPE_GROUP;
      treeRequired = true;
      break;
    default:
      refuse(broker, status, "KELVA_FSQuotaConfigEntry: QuotaTypemust be 2,3,4,5, or 6");
      return nullptr;
  }
  CMPIData element =
      getEmbPropertyFromInst(broker, "ManagedElement", kLabel, CMPI_string, instance, 1, status);
  if (pk::failed(status)) return nullptr;
  fields.managedElement = textOf(element);

  CMPIData resources =
      getEmbPropertyFromInst(broker, "ResourceType", kLabel, CMPI_uint16A, instance, 1, status);
  if (pk::failed(status)) return nullptr;
  CMPIData hard = getEmbPropertyFromInst(
      broker, "HardLimit", kLabel, limitArrayType(instance, "HardLimit"), instance, 1, status);
  if (pk::failed(status)) return nullptr;
  CMPIData soft = getEmbPropertyFromInst(
      broker, "SoftLimit", kLabel, limitArrayType(instance, "SoftLimit"), instance, 1, status);
  if (pk::failed(status)) return nullptr;
  CMPIArray *kinds = good(resources) ? resources.value.array : nullptr;
  CMPICount count = kinds != nullptr ? CMGetArrayCount(kinds, nullptr) : 0;
  CMPIArray *hardArray = good(hard) ? hard.value.array : nullptr;
  CMPIArray *softArray = good(soft) ? soft.value.array : nullptr;
  for (CMPICount i = 0; i < count; ++i) {
    CMPIStatus read{CMPI_RC_OK, nullptr};
    CMPIData kind = CMGetArrayElementAt(kinds, i, &read);
    pk::adoptStatus(nullptr, read);
    if (read.rc != CMPI_RC_OK || !good(kind)) {
      refuse(broker, status, "KELVA_FSQuotaConfigEntry: ResourceTypeelements cannot be NULL");
      return nullptr;
    }
    if (kind.value.uint16 == 2) {
      fields.hardDiskLimit = limitAt(hardArray, i);
      fields.softDiskLimit = limitAt(softArray, i);
    } else if (kind.value.uint16 == 5) {
      fields.hardFileLimit = limitAt(hardArray, i);
      fields.softFileLimit = limitAt(softArray, i);
    } else {
      refuse(broker, status, "KELVA_FSQuotaConfigEntry: ResourceTypeelements must be 2 or 5");
      return nullptr;
    }
  }
  CMPIData tree = getEmbPropertyFromInst(broker, "TreeName", kLabel, CMPI_string, instance,
                                         treeRequired ? 1 : 0, status);
  if (pk::failed(status)) return nullptr;
  fields.treeName = textOf(tree);
  fields.isDefault = defaultFlag(broker, instance, status) ? 1 : 0;
  if (pk::failed(status)) return nullptr;
  CMPIData principal =
      getEmbPropertyFromInst(broker, "PrincipalID", kLabel, CMPI_string, instance, 0, status);
  if (pk::failed(status)) return nullptr;
  fields.principal = textOf(principal);
  const bool userOrGroup =
      fields.typeCode == PK_QUOTA_TYPE_USER || fields.typeCode == PK_QUOTA_TYPE_GROUP;
  if (fields.isDefault == 0 && userOrGroup && fields.principal == nullptr) {
    refuse(broker, status,
           "KELVA_FSQuotaConfigEntry: PrincipalID must be present for user or group quotas");
    return nullptr;
  }
  const char *target = nullptr;
  const char *qtree = nullptr;
  if (fields.isDefault != 0) {
    target = "*";
    qtree = fields.treeName;
  } else if (userOrGroup) {
    target = fields.principal;
    qtree = fields.treeName;
  } else {
    target = fields.treeName;
  }
  QuotaLimits limits{fields.hardDiskLimit, fields.hardFileLimit, fields.softDiskLimit,
                     fields.softFileLimit};
  pk::StatusRecord local;
  ClientQuotaEntry *entry = newClientEntry(filer, target, kTypeTexts[fields.typeCode],
                                           fields.managedElement, qtree, limits, local.get());
  if (entry == nullptr) raiseCMPIErrorKELVA(broker, status, local.get());
  return entry;
}

// ---- Identifiers -----------------------------------------------------------------------

char *encodeEntryID(const char *system, const QuotaKeys *keys, KELVAStatus *status) {
  std::string local;
  const char *parts[] = {keys->typeText, keys->target, keys->volume, keys->qtree};
  for (size_t i = 0; i < 4; ++i) {
    if (i != 0) local += ':';
    local += parts[i] != nullptr && parts[i][0] != '\0' ? parts[i] : "-";
  }
  char *id = encodeInstanceID(system, local.c_str());
  if (id == nullptr) setRecord(status, kNoMemory);
  return id;
}

// The next part of text at ':', consecutive separators counting as one; null at the end.
char *nextPart(char **cursor) {
  char *at = *cursor;
  while (*at == ':') ++at;
  if (*at == '\0') {
    *cursor = at;
    return nullptr;
  }
  char *end = std::strchr(at, ':');
  if (end != nullptr) {
    *end = '\0';
    *cursor = end + 1;
  } else {
    *cursor = at + std::strlen(at);
  }
  return at;
}

const char *present(const char *part) { return part != nullptr && part[0] != '-' ? part : nullptr; }

int decodeEntryID(char *instanceID, char **systemOut1, char **systemOut2, QuotaKeys **keysOut,
                  KELVAStatus *status) {
  char *local = nullptr;
  if (getFilerAndNameFromInstanceId(status, instanceID, systemOut1, systemOut2, &local) == 0)
    return 0;
  char *cursor = local != nullptr ? local : instanceID + std::strlen(instanceID);
  char *type = nextPart(&cursor);
  if (type == nullptr) {
    setRecord(status, "Quota subsystem:Failed to parse Type portion of InstanceID");
    return 0;
  }
  char *target = nextPart(&cursor);
  if (target == nullptr) {
    setRecord(status, "Quota subsystem:Failed to parse Target portion of InstanceID");
    return 0;
  }
  char *volume = nextPart(&cursor);
  if (volume == nullptr) {
    setRecord(status, "Quota subsystem:Failed to parse Volume portion of InstanceID");
    return 0;
  }
  // An identifier without its qtree part names a rule without a qtree.
  char *qtree = nextPart(&cursor);
  auto *keys = static_cast<QuotaKeys *>(wsicalloc(1, sizeof(QuotaKeys)));
  if (keys == nullptr) {
    setRecord(status, kNoMemory);
    return 0;
  }
  if (!buildKeys(keys, present(type), present(target), present(volume), present(qtree), status)) {
    wsifree(keys);
    return 0;
  }
  *keysOut = keys;
  return 1;
}

}  // namespace

Element send(WSIServerInfo *server, WSIElement *request, int line, KELVAStatus *status) {
  Element answer = pk::filer::invoke(server, request, kSource, line);
  if (answer == nullptr) {
    setRecord(status, kNoMemory);
    return Element();
  }
  if (checkResultStatus(answer.get()) == 0) {
    pk::filer::reportWithIP(answer.get(), server, status);
    return Element();
  }
  return answer;
}

}  // namespace pk::quota

using namespace pk::quota;
using pk::recordEdge;

extern "C" {

int getQuotaTypeFromString(const char *typeText) { return typeCode(typeText); }

void freeQuotaQORBKeys(QuotaKeys *keys) {
  if (keys == nullptr) return;
  clearKeys(keys);
  wsifree(keys);
}

ClientQuotaEntry *createClientQuotaEntry(const Filer *filer, const char *target,
                                         const char *typeText, const char *volume,
                                         const char *qtree, uint64_t diskLimit, uint64_t fileLimit,
                                         uint64_t softDiskLimit, uint64_t softFileLimit,
                                         KELVAStatus *status) {
  return recordEdge(status, static_cast<ClientQuotaEntry *>(nullptr), [&](KELVAStatus *record) {
    QuotaLimits limits{diskLimit, fileLimit, softDiskLimit, softFileLimit};
    return newClientEntry(filer, target, typeText, volume, qtree, limits, record);
  });
}

void freeClientQuotaEntry(ClientQuotaEntry *entry) {
  if (entry == nullptr) return;
  clearKeys(&entry->keys);
  wsifree(entry);
}

const QuotaKeys *getClientQuotaEntryKeys(const ClientQuotaEntry *entry) {
  return entry != nullptr ? &entry->keys : nullptr;
}

void freeFilerQuotaEntry(void *entry) {
  auto *filerEntry = static_cast<FilerQuotaEntry *>(entry);
  if (filerEntry == nullptr) return;
  clearKeys(&filerEntry->keys);
  wsifree(filerEntry->errorReason);
  wsifree(filerEntry);
}

const char *getFilerQuotaError(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->errorReason : nullptr;
}
const QuotaLimits *getFilerQuotaEntryLimits(const FilerQuotaEntry *entry) {
  return entry != nullptr ? &entry->limits : nullptr;
}
const QuotaKeys *getFilerQuotaEntryKeys(const FilerQuotaEntry *entry) {
  return entry != nullptr ? &entry->keys : nullptr;
}
int getFilerQuotaEntryType(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->keys.type : PK_QUOTA_TYPE_OTHER;
}
const char *getFilerQuotaEntryRelativeTree(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->keys.relativeTree : nullptr;
}
const char *getFilerQuotaEntryAbsoluteTree(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->keys.absoluteTree : nullptr;
}
const char *getFilerQuotaEntryTarget(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->keys.target : nullptr;
}
const char *getFilerQuotaEntryVolume(const FilerQuotaEntry *entry) {
  return entry != nullptr ? entry->keys.volume : nullptr;
}

int isQuotaEntryTargetDefault(const QuotaKeys *keys) {
  return keys != nullptr && keys->target != nullptr && std::strcmp(keys->target, "*") == 0 ? 1 : 0;
}

void clearFSQCEInst(FSQCEInst *record) {
  if (record == nullptr) return;
  *record = FSQCEInst{};
  record->typeCode = PK_QUOTA_TYPE_OTHER;
  record->hardDiskLimit = record->hardFileLimit = PK_QUOTA_NO_LIMIT;
  record->softDiskLimit = record->softFileLimit = PK_QUOTA_NO_LIMIT;
}

ClientQuotaEntry *newClientQuotaEntryFromInst(const CMPIBroker *broker, const Filer *filer,
                                              const CMPIInstance *instance, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<ClientQuotaEntry *>(nullptr),
                   [&] { return fromInstance(broker, filer, instance, st.get()); });
}

FilerQuotaEntry *getFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys, int withLimits,
                                    KELVAStatus *status) {
  return recordEdge(status, static_cast<FilerQuotaEntry *>(nullptr), [&](KELVAStatus *record) {
    return keys != nullptr ? getEntry(filer, keys, withLimits != 0, record) : nullptr;
  });
}

int findFilerQuotaEntries(const Filer *filer, const int *typeFilter, const char *targetFilter,
                          const char *targetPart, const char *volumeFilter,
                          const char *relativeTreeFilter, const char *absoluteTreeFilter,
                          int withLimits, WSIList *list, KELVAStatus *status) {
  return recordEdge(status, 0, [&](KELVAStatus *record) {
    Filters filters{typeFilter,   targetFilter,       targetPart,
                    volumeFilter, relativeTreeFilter, absoluteTreeFilter};
    return findEntries(filer, filters, withLimits != 0, list, record);
  });
}

void addFilerQuotaEntry(const Filer *filer, const ClientQuotaEntry *entry, KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *record) {
    if (entry != nullptr)
      changeEntry(filer, "quota-add-entry", &entry->keys, &entry->limits, record);
    return 0;
  });
}

void modifyFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys, const ClientQuotaEntry *entry,
                           KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *record) {
    if (keys != nullptr && entry != nullptr)
      changeEntry(filer, "quota-modify-entry", keys, &entry->limits, record);
    return 0;
  });
}

void deleteFilerQuotaEntry(const Filer *filer, const QuotaKeys *keys, KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *record) {
    if (keys != nullptr) deleteEntry(filer, keys, record);
    return 0;
  });
}

char *encodeFSQConfigEntryID(const char *system, const QuotaKeys *keys, KELVAStatus *status) {
  return recordEdge(status, static_cast<char *>(nullptr), [&](KELVAStatus *record) -> char * {
    if (keys == nullptr) return nullptr;
    return encodeEntryID(system, keys, record);
  });
}

int decodeFSQConfigEntryID(char *instanceID, char **systemOut1, char **systemOut2,
                           QuotaKeys **keysOut, KELVAStatus *status) {
  if (keysOut != nullptr) *keysOut = nullptr;
  return recordEdge(status, 0, [&](KELVAStatus *record) {
    if (instanceID == nullptr || keysOut == nullptr) {
      setKELVAStatus(record, 0, "Quota subsystem:Failed to parse Type portion of InstanceID");
      return 0;
    }
    return decodeEntryID(instanceID, systemOut1, systemOut2, keysOut, record);
  });
}

}  // extern "C"
