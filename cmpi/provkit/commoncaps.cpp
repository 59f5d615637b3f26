// Pool settings and capabilities, consumed space, and the concrete pools of a
// filer.  The setting table's rows and order are part of what clients see
// (settings are named by row), so rows are only ever appended.
#include "provkit/commoncaps.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsiapi.h>

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/frame.h"
#include "provkit/loader.h"
#include "provkit/objectpath.h"
#include "provkit/properties.h"

namespace {

using pk::recordEdge;

using pk::CmpiObject;
using pk::failed;
using pk::StatusRecord;
using pk::WsiText;

constexpr ConcretePoolSetting kSettings[] = {
    {"RAID_0", "raid0", 0, 0, 1},
    {"RAID_4:Unmirrored", "raid4", 0, 1, 1},
    {"RAID_4:Mirrored_degraded", "raid4", 1, 1, 2},
    {"RAID_4:Mirrored", "raid4", 1, 2, 2},
    {"RAID_TW:Unmirrored", "raid_tw", 0, 2, 1},
    {"RAID_TW:Mirrored_degraded", "raid_tw", 1, 2, 2},
    {"RAID_TW:Mirrored", "raid_tw", 1, 4, 2},
};
constexpr int kSettingCount = static_cast<int>(sizeof kSettings / sizeof kSettings[0]);

// The capabilities library of existing pools (its Windows file name; on other
// platforms a link of that name stands beside the libraries).
constexpr const char *kPoolCapsLibrary = "poolcapsprv.dll";
constexpr const char *kPoolLabel = "KELVA_ConcretePool";

// Reads a uint16 property into *place; a value of another type raises rc 4 and
// gives 0, a failed read leaves 0 with its status.
void readUint16(const CMPIBroker *broker, CMPIStatus *status, const char *label,
                const CMPIInstance *instance, const char *name, uint16_t *place) {
  CMPIStatus rc{CMPI_RC_OK, nullptr};
  CMPIData data = CMGetProperty(instance, name, &rc);
  *place = 0;
  if (rc.rc != CMPI_RC_OK) {
    pk::adoptStatus(status, rc);
    return;
  }
  if (data.type != CMPI_uint16 || (data.state & CMPI_nullValue) != 0) {
    std::string message = std::string(label != nullptr ? label : "") +
                          ": Goalparameter references an instance whose " + name +
                          " property is not type UINT16";
    raiseCMPIError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, message.c_str());
    return;
  }
  *place = data.value.uint16;
}

// The default goal: the setting the capabilities library makes for the source's
// capabilities.  The goal path is owned by *out (kept alive by the caller).
const CMPIObjectPath *defaultGoal(const CMPIBroker *broker, const CMPIContext *context,
                                  const CMPIObjectPath *source, const Filer *filer,
                                  const char *library, CmpiObject<CMPIArgs> *out,
                                  CMPIStatus *status) {
  CmpiObject<CMPIObjectPath> capsPath;
  {
    StatusRecord record;
    pk::LoadedImpl<WSIAssocImpl> assoc(library, record.get());
    if (!assoc.loaded()) {
      raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                          "Failed to get pool capabilties path: %s", record.message(), nullptr);
      return nullptr;
    }
    if (assoc->getAssociatorPathImpl == nullptr) {
      raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                          "Failed to get pool capabilties path: %s", "no getAssociatorPathImpl",
                          nullptr);
      return nullptr;
    }
    pk::OwnedArray paths(
        assoc->getAssociatorPathImpl(broker, context, status, source, filer, nullptr, nullptr));
    if (failed(status)) return nullptr;
    if (!paths || CMGetArrayCount(paths.get(), nullptr) == 0) {
      pk::fail(broker, status, "No capabilities instances available for settings generation ");
      return nullptr;
    }
    CMPIData first = CMGetArrayElementAt(paths.get(), 0, nullptr);
    if (first.type != CMPI_ref || first.value.ref == nullptr) {
      pk::fail(broker, status, "No capabilities instances available for settings generation ");
      return nullptr;
    }
    // The array goes with the library; the path is kept beyond it.
    capsPath.reset(CMClone(first.value.ref, nullptr));
    if (!capsPath) {
      pk::fail(broker, status, "Insufficient memory");
      return nullptr;
    }
  }
  StatusRecord record;
  pk::LoadedImpl<WSIMethodImpl> method(library, record.get());
  if (!method.loaded() || method->invokeMethodImpl == nullptr) {
    raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                        " Failed to load Capabilities library '%s': '%s", library,
                        record.message() != nullptr ? record.message() : "no invokeMethodImpl");
    return nullptr;
  }
  CMPIStatus made{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIArgs> in(CMNewArgs(broker, &made));
  if (made.rc == CMPI_RC_OK) out->reset(CMNewArgs(broker, &made));
  if (made.rc != CMPI_RC_OK || !in || !*out) {
    if (made.rc == CMPI_RC_OK) made.rc = CMPI_RC_ERR_FAILED;
    pk::adoptStatus(status, made);
    if (status->msg == nullptr) pk::fail(broker, status, "Insufficient memory");
    return nullptr;
  }
  CMPIValue type;
  type.uint16 = 2;  // a goal
  pk::adoptStatus(status, CMAddArg(in.get(), "SettingType", &type, CMPI_uint16));
  if (failed(status)) return nullptr;
  CMPIData rv = method->invokeMethodImpl(broker, context, status, capsPath.get(), "CreateSetting",
                                         in.get(), out->get());
  (void)rv;
  if (failed(status)) return nullptr;
  CMPIData setting = CMGetArg(out->get(), "NewSetting", nullptr);
  if (setting.type != CMPI_ref || (setting.state & CMPI_nullValue) != 0 ||
      setting.value.ref == nullptr) {
    raiseFormattedError(broker, status, CMPI_RC_ERR_FAILED,
                        "'%s' Provider '%s' method does not return a reference", library,
                        "CreateSetting");
    return nullptr;
  }
  return setting.value.ref;
}

void settingsGoal(const char *label, const CMPIBroker *broker, const CMPIContext *context,
                  const CMPIObjectPath *source, const Filer *filer, const CMPIArgs *args,
                  const char *goalClass, const char *capsLibrary, uint16_t *dataRedundancy,
                  uint16_t *packageRedundancy, CMPIStatus *status) {
  logDebugStatus(broker, label, "Extracting Goal parameter");
  CMPIData goalArg;
  int present = isParamPresent(label, broker, args, "Goal", &goalArg, status);
  if (failed(status)) return;
  CmpiObject<CMPIArgs> madeArgs;
  CMPIObjectPath *goal = nullptr;
  if (present != 0) {
    if (goalArg.type != CMPI_ref) {
      raiseCMPIError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, "Goal Must be type Reference");
      return;
    }
    goal = goalArg.value.ref;
    pk::adoptStatus(status, CMSetNameSpaceFromObjectPath(goal, source));
  } else {
    logDebugStatus(broker, label, "Goal parameter not found - extracting default from capabilties");
    goal = const_cast<CMPIObjectPath *>(
        defaultGoal(broker, context, source, filer, capsLibrary, &madeArgs, status));
  }
  if (failed(status) || goal == nullptr) return;
  WsiText className(getObjectPathClass(broker, goal, status));
  if (failed(status)) return;
  if (!className) {
    raiseFormattedError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER,
                        "%s: parameter Goal class name is NULL", label, nullptr);
    return;
  }
  if (strCompare(className.get(), goalClass) != 0) {
    raiseFormattedError(broker, status, CMPI_RC_ERR_INVALID_PARAMETER,
                        "%s: parameter Goal class name must be class '%s'", label, goalClass);
    return;
  }
  CMPIStatus got{CMPI_RC_OK, nullptr};
  CmpiObject<CMPIInstance> instance(CBGetInstance(broker, context, goal, nullptr, &got));
  pk::adoptStatus(status, got);
  if (failed(status)) return;
  if (!instance) {
    pk::fail(broker, status, "Goal instance not found");
    return;
  }
  readUint16(broker, status, label, instance.get(), "PackageRedundancyGoal", packageRedundancy);
  if (!failed(status))
    readUint16(broker, status, label, instance.get(), "DataRedundancyGoal", dataRedundancy);
}

void existingCaps(const CMPIBroker *broker, const CMPIContext *context,
                  const CMPIObjectPath *poolPath, const Filer *filer, const void *passThrough,
                  uint16_t *dataRedundancy, uint16_t *packageRedundancy, CMPIStatus *status) {
  StatusRecord record;
  pk::LoadedImpl<WSIAssocImpl> assoc(kPoolCapsLibrary, record.get());
  if (!assoc.loadedOrRaise(broker, status)) return;
  if (assoc->getAssociatorInstanceImpl == nullptr) {
    pk::fail(broker, status, "getAssociatorInstanceImpl not bound");
    return;
  }
  const char *properties[] = {"PackageRedundancyDefault", "DataRedundancyDefault", nullptr};
  pk::OwnedArray caps(assoc->getAssociatorInstanceImpl(broker, context, status, poolPath, filer,
                                                       passThrough, nullptr, properties));
  if (failed(status)) return;
  CMPIData first{};
  if (caps && CMGetArrayCount(caps.get(), nullptr) > 0)
    first = CMGetArrayElementAt(caps.get(), 0, nullptr);
  if (first.type != CMPI_instance || first.value.inst == nullptr) {
    pk::fail(broker, status,
             "There are no instances of KELVA_ConcretePoolStorageCapabilities for the passed in "
             "KELVA_ConcretePool");
    return;
  }
  readUint16(broker, status, kPoolLabel, first.value.inst, "DataRedundancyDefault", dataRedundancy);
  if (!failed(status)) {
    readUint16(broker, status, kPoolLabel, first.value.inst, "PackageRedundancyDefault",
               packageRedundancy);
  }
}

void warn(const CMPIBroker *broker, const char *text) {
  if (broker != nullptr)
    CMLogMessage(broker, CMPI_SEV_WARNING, "getVolumeTotalSpaceConsumed", text, nullptr);
}

// Reads a "vol size" command output: "vol size: Vari volume 'v' has size 20g.\n"; the
// unit is the third character from the end and the number runs from after the last
// blank before it.  True with the bytes on success.
bool parseVolSize(const std::string &output, uint64_t *bytes) {
  constexpr const char *kPrefix = "vol size: Vari";
  size_t length = output.size();
  if (length < 14 || output[3] == ':' || output.compare(0, 14, kPrefix) != 0) return false;
  size_t unitAt = length - 3;
  size_t start = output.find_last_of(" \t\r\n\v\f", unitAt == 0 ? 0 : unitAt - 1);
  start = start == std::string::npos ? 0 : start + 1;
  std::string number = output.substr(start, unitAt - start);
  const char *text = number.c_str();
  char *end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (end == text) return false;
  uint64_t scale = 0;
  switch (output[unitAt]) {
    case 'g':
      scale = 1073741824ull;
      break;
    case 'm':
      scale = 1048576ull;
      break;
    default:
      return false;
  }
  *bytes = static_cast<uint64_t>(value) * scale;
  return true;
}

// The volume's size from the filer's command line, or false.
bool approximateSize(const CMPIBroker *broker, WSIServerInfo *server, const char *volume,
                     uint64_t *bytes) {
  std::unique_ptr<WSIElement, void (*)(WSIElement *)> request(createElement("system-cli"),
                                                              freeElement);
  if (!request || volume == nullptr) return false;
  WSIElement *args = createElement("args");
  if (args == nullptr) return false;
  bool built = addStringElement(args, "arg", "vol") != 0 &&
               addStringElement(args, "arg", "size") != 0 &&
               addStringElement(args, "arg", volume) != 0;
  if (!built || addChildElement(request.get(), args) == 0) {
    freeElement(args);
    return false;
  }
  std::unique_ptr<WSIElement, void (*)(WSIElement *)> answer(
      invokeServerElement(server, request.get()), freeElement);
  if (checkResultStatus(answer.get()) != 1) return false;
  const char *output = getStringElement(answer.get(), "cli-output");
  if (output == nullptr) return false;
  if (parseVolSize(output, bytes)) return true;
  warn(broker, output);
  return false;
}

uint64_t volumeConsumed(const CMPIBroker *broker, const Filer *filer, const KELVAVolume *volume,
                        KELVAStatus *status) {
  uint64_t f[10] = {};
  GetVariVolumeReserveInfo(volume->uuid, volume->name, volume->systemId, &f[1], &f[2], &f[3], &f[4],
                           &f[5], &f[6], &f[7], &f[8], &f[9], status);
  if (checkStatus(status) == 0) return f[6] * 512;
  std::unique_ptr<WSIServerInfo, void (*)(WSIServerInfo *)> server(
      filer != nullptr ? createServerInfo(filer->host, filer->userName, filer->password,
                                          filer->connParam3, filer->connParam1, filer->connParam2)
                       : nullptr,
      destroyServerInfo);
  if (!server) {
    setKELVAStatus(status, 0, "create server connection failed");
    return 0;
  }
  warn(broker, "Volume unavailable or offline -attempting to approximate total size");
  uint64_t bytes = 0;
  if (!approximateSize(broker, server.get(), volume->name, &bytes)) {
    warn(broker, "Failed to prepare system-cli call for volume size approximate");
    return 0;
  }
  return bytes;
}

uint64_t lunsConsumed(const Filer *filer, const char *volumeName, const char *lunPath,
                      KELVAStatus *status) {
  std::unique_ptr<WSIList, void (*)(WSIList *)> luns(WSIList_new(), freeLunInfo);
  if (!luns) {
    setKELVAStatus(status, 0, "Insufficient memory");
    return 0;
  }
  if (getLunInfo(status, filer, lunPath, volumeName, nullptr, 0, nullptr, luns.get()) == 0 ||
      checkStatus(status) != 0) {
    return 0;
  }
  uint64_t bytes = 0;
  for (WSIListPos *at = WSIList_getFirst(luns.get()); at != nullptr; at = WSIList_getNext(at))
    bytes += static_cast<const KELVALun *>(WSIList_getElement(at))->size;
  return bytes;
}

void managedSpaces(const CMPIBroker *broker, const Filer *filer, const KELVAAggregate *aggr,
                   uint64_t *consumed, uint64_t *managed, KELVAStatus *status) {
  if (aggr == nullptr) {
    setKELVAStatus(status, 0,
                   "Unable to discern if Concrete pool is a tradional volume or aggregate");
    return;
  }
  uint64_t space = aggr->managedSpace;
  uint64_t first = space;
  if (aggr->kind == 2) {
    first += lunsConsumed(filer, aggr->name, nullptr, status);
  } else if (aggr->kind == 1) {
    std::unique_ptr<WSIList, void (*)(WSIList *)> volumes(WSIList_new(), freeVolumeInfo);
    if (!volumes) {
      setKELVAStatus(status, 0, "Insufficient memory");
      return;
    }
    if (getVolumeInfo(status, filer, nullptr, nullptr, aggr->name, 3, 0, volumes.get()) != 0) {
      for (WSIListPos *at = WSIList_getFirst(volumes.get());
           at != nullptr && checkStatus(status) == 0; at = WSIList_getNext(at)) {
        first += volumeConsumed(broker, filer,
                                static_cast<const KELVAVolume *>(WSIList_getElement(at)), status);
      }
    }
  } else {
    setKELVAStatus(status, 0,
                   "Unable to discern if Concrete pool is a tradional volume or aggregate");
  }
  if (checkStatus(status) != 0) return;
  *consumed = first;
  *managed = space;
}

int poolType(const CMPIBroker *broker, const CMPIObjectPath *poolPath, const Filer *filer,
             CMPIStatus *status) {
  WsiText instanceId(getKeyAsChar(status, poolPath, "InstanceID"));
  if (failed(status)) return 0;
  StatusRecord record;
  char *name = nullptr;
  if (!instanceId ||
      getFilerAndNameFromInstanceId(record.get(), instanceId.get(), nullptr, nullptr, &name) == 0 ||
      record.failed()) {
    pk::fail(broker, status, "KELVA_VolumeAllocatedFromPool Insufficient memory");
    return 0;
  }
  std::unique_ptr<WSIList, void (*)(WSIList *)> aggrs(WSIList_new(), freeAggregateInfo);
  if (!aggrs) {
    pk::fail(broker, status, "KELVA_VolumeAllocatedFromPool Insufficient memory");
    return 0;
  }
  if (getAggregateInfo(record.get(), filer, name, nullptr, 3, 1, aggrs.get()) == 0 ||
      record.failed()) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return 0;
  }
  auto *aggr =
      static_cast<const KELVAAggregate *>(WSIList_getFirstElement(aggrs.get(), nullptr, nullptr));
  if (aggr == nullptr) {
    pk::fail(broker, status, "KELVA_VolumeAllocatedFromPool Pool is no longer available");
    return 0;
  }
  return aggr->kind;
}

using PoolList = std::unique_ptr<WSIList, void (*)(WSIList *)>;

ConcretePool *newPool(const KELVAAggregate *aggr, const CMPIBroker *broker, KELVAStatus *status,
                      const Filer *filer, int brief) {
  constexpr const char *kNoMemory = "KELVA_ConcretePool Insufficient memory";
  if (aggr == nullptr) {
    setKELVAStatus(status, 0, "KELVA_ConcretePool No aggregate given");
    return nullptr;
  }
  WsiText name(wsistrdup(aggr->name != nullptr ? aggr->name : ""));
  WsiText uuid(name ? wsistrdup(aggr->uuid != nullptr ? aggr->uuid : "") : nullptr);
  std::unique_ptr<ConcretePool, void (*)(void *)> pool(
      uuid ? static_cast<ConcretePool *>(wsicalloc(1, sizeof(ConcretePool))) : nullptr,
      freeConcretePool);
  if (!pool) {
    setKELVAStatus(status, 0, kNoMemory);
    return nullptr;
  }
  pool->aggrText1 = uuid.release();
  pool->poolName = name.release();
  pool->poolKind = aggr->kind;
  if (brief == 0) {
    pool->aggrText2 = wsistrdup(aggr->state != nullptr ? aggr->state : "");
    if (pool->aggrText2 == nullptr) {
      setKELVAStatus(status, 0, kNoMemory);
      return nullptr;
    }
    managedSpaces(broker, filer, aggr, &pool->spaceConsumed, &pool->totalManagedSpace, status);
    if (checkStatus(status) != 0) return nullptr;
  }
  return pool.release();
}

void poolsFromAggregates(const CMPIBroker *broker, const Filer *filer, KELVAStatus *status,
                         int brief, WSIList *aggregates, WSIList *pools) {
  for (WSIListPos *at = WSIList_getFirst(aggregates); at != nullptr && checkStatus(status) == 0;
       at = WSIList_getNext(at)) {
    ConcretePool *pool = newPool(static_cast<const KELVAAggregate *>(WSIList_getElement(at)),
                                 broker, status, filer, brief);
    if (pool == nullptr) break;
    if (pools == nullptr || WSIList_append(pools, pool) == 0) {
      freeConcretePool(pool);
      setKELVAStatus(status, 0, "KELVA_ConcretePool Insufficient Memory");
    }
  }
}

int poolsInFiler(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer, const char *name,
                 const char *uuidSelector, int brief, WSIList *pools) {
  PoolList aggrs(WSIList_new(), freeAggregateInfo);
  if (!aggrs) {
    pk::fail(broker, status, "KELVA_ConcretePool Insufficient memory");
    return 0;
  }
  StatusRecord record;
  int result = 0;
  if (getAggregateInfo(record.get(), filer, name, uuidSelector, 3, brief, aggrs.get()) != 0 &&
      !record.failed()) {
    poolsFromAggregates(broker, filer, record.get(), brief, aggrs.get(), pools);
    if (!record.failed()) result = static_cast<int>(WSIList_getLength(aggrs.get()));
  }
  if (record.failed()) raiseCMPIErrorKELVA(broker, status, record.get());
  return result;
}

}  // namespace

extern "C" {

int getConcretePoolsInFiler(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                            const char *name, const char *uuidSelector, int brief, WSIList *pools) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), 0, [&] {
    return poolsInFiler(broker, st.get(), filer, name, uuidSelector, brief, pools);
  });
}

void getConcretePoolsFromAggregateInfo(const CMPIBroker *broker, const Filer *filer,
                                       KELVAStatus *status, int brief, WSIList *aggregates,
                                       WSIList *pools) {
  recordEdge(status, 0, [&](KELVAStatus *st) {
    poolsFromAggregates(broker, filer, st, brief, aggregates, pools);
    return 0;
  });
}

ConcretePool *makeConcretePool(const KELVAAggregate *aggr, const CMPIBroker *broker,
                               KELVAStatus *status, const Filer *filer, int brief) {
  return recordEdge(status, static_cast<ConcretePool *>(nullptr),
                    [&](KELVAStatus *st) { return newPool(aggr, broker, st, filer, brief); });
}

void freeConcretePool(void *pool) {
  auto *p = static_cast<ConcretePool *>(pool);
  if (p == nullptr) return;
  wsifree(p->aggrText1);
  wsifree(p->poolName);
  wsifree(p->aggrText2);
  wsifree(p);
}

void getAllConcretePoolSettings(const ConcretePoolSetting **table, int *count) {
  if (table != nullptr) *table = kSettings;
  if (count != nullptr) *count = kSettingCount;
}

const ConcretePoolSetting *getConcretePoolSettingByName(const char *name) {
  for (const ConcretePoolSetting &row : kSettings) {
    if (strCompare(row.name, name) == 0) return &row;
  }
  return nullptr;
}

const ConcretePoolSetting *getConcretePoolSettingFromAggregate(const KELVAAggregate *aggr) {
  if (aggr == nullptr) return nullptr;
  // The four flags in record order: single parity, no parity, double parity, mixed.
  bool first = aggr->hasRaid4 != 0;
  bool second = aggr->hasRaid0 != 0;
  bool third = aggr->hasRaidTW != 0;
  bool fourth = aggr->mixedRaid != 0;
  auto mirror = [&](int mirrored, int degraded, int plain) {
    if (strCompare(aggr->mirrorStatus, "mirrored") == 0) return &kSettings[mirrored];
    if (strCompare(aggr->mirrorStatus, "mirror degraded") == 0) return &kSettings[degraded];
    return &kSettings[plain];
  };
  if (fourth && second) return &kSettings[1];
  if (!first) {
    if (second || !third) return &kSettings[0];
    return mirror(6, 5, 4);
  }
  return mirror(3, 2, 1);
}

int getFilerMaxRAIDSize(void) { return kSettingCount; }

int getParityAndMirrorFromSettings(uint16_t dataRedundancy, uint16_t packageRedundancy,
                                   int32_t *mirrored, uint16_t *parity) {
  if (mirrored != nullptr) *mirrored = dataRedundancy > 1 ? 1 : 0;
  if (parity != nullptr) *parity = packageRedundancy > 1 ? 2 : 1;
  return 1;
}

void getSettingsGoalParamOrDefault(const char *label, const CMPIBroker *broker,
                                   const CMPIContext *context, const CMPIObjectPath *source,
                                   const Filer *filer, const CMPIArgs *args, const char *goalClass,
                                   const char *capsLibrary, uint16_t *dataRedundancy,
                                   uint16_t *packageRedundancy, CMPIStatus *status) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    settingsGoal(label, broker, context, source, filer, args, goalClass, capsLibrary,
                 dataRedundancy, packageRedundancy, st.get());
  });
}

void getExistingConcretePoolCaps(const CMPIBroker *broker, const CMPIContext *context,
                                 const CMPIObjectPath *poolPath, const Filer *filer,
                                 const void *passThrough, uint16_t *dataRedundancy,
                                 uint16_t *packageRedundancy, CMPIStatus *status) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    existingCaps(broker, context, poolPath, filer, passThrough, dataRedundancy, packageRedundancy,
                 st.get());
  });
}

uint64_t getVolumeTotalSpaceConsumed(const CMPIBroker *broker, const Filer *filer,
                                     const KELVAVolume *volume, KELVAStatus *status) {
  return recordEdge(status, uint64_t{0}, [&](KELVAStatus *st) {
    if (volume == nullptr) {
      setKELVAStatus(st, 0, "No volume given");
      return uint64_t{0};
    }
    return volumeConsumed(broker, filer, volume, st);
  });
}

uint64_t getLUNTotalSpaceConsumed(const Filer *filer, const char *volumeName, const char *lunPath,
                                  KELVAStatus *status) {
  return recordEdge(status, uint64_t{0},
                    [&](KELVAStatus *st) { return lunsConsumed(filer, volumeName, lunPath, st); });
}

void getConcretePoolManagedSpaces(const CMPIBroker *broker, const Filer *filer,
                                  const KELVAAggregate *aggr, uint64_t *consumed, uint64_t *managed,
                                  KELVAStatus *status) {
  recordEdge(status, 0, [&](KELVAStatus *st) {
    managedSpaces(broker, filer, aggr, consumed, managed, st);
    return 0;
  });
}

int getPoolType(const CMPIBroker *broker, const CMPIObjectPath *poolPath, const Filer *filer,
                CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), 0,
                   [&] { return poolType(broker, poolPath, filer, st.get()); });
}

}  // extern "C"
