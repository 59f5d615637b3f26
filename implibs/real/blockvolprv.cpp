// KELVA_StorageVolume: one instance per LUN of a filer.  The LUN's comment is the
// volume's Description, and the one property a client may change.
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/properties.h>
#include <wbemkelvai/wsiapi.h>

#include "storageobjects.h"

using namespace implib;

namespace {

// Sends lun-set-comment; the filer's refusal is raised with its own message.
void setComment(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                const char *lunPath, const char *comment) {
  Server server(createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                                 filer->connParam1, filer->connParam2));
  Element request(createElement("lun-set-comment"));
  if (server == nullptr || request == nullptr ||
      addStringElement(request.get(), "path", lunPath) == 0 ||
      addStringElement(request.get(), "comment", comment) == 0) {
    raise(broker, status, CMPI_RC_ERR_FAILED, "Insufficient memory");
    return;
  }
  Element answer(invokeServerElement(server.get(), request.get()));
  if (checkResultStatus(answer.get()) == 1) return;
  WsiText reason(getErrorWithIP(answer.get(), server.get()));
  raise(broker, status, CMPI_RC_ERR_FAILED,
        std::string(kVolumeClass) + " unable to set the comment of " + lunPath + ": " +
            (reason != nullptr ? reason.get() : "no answer"));
}

}  // namespace

RECORD_INSTANCES(lunsOf, volumeInstance)

RECORD_PATHS(lunsOf, volumePath)

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer = filerOfKey(broker, context, status, path, "SystemName");
    if (filer == nullptr) return nullptr;
    LunRecord lun = lunOfPath(broker, status, filer.get(), path);
    if (lun == nullptr) return nullptr;
    return volumeInstance(broker, status, path, filer.get(), lun.get(), propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    filer = filerOfKey(broker, context, status, path, "SystemName");
    return filer != nullptr && lunOfPath(broker, status, filer.get(), path) != nullptr;
  });
}

// Only Description (the LUN's comment) can change; the rest of the instance is
// the filer's and is left as it is.  A null Description clears the comment.
IMPL_EXPORT void setInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                 CMPIStatus *status, const CMPIObjectPath *path,
                                 const CMPIInstance *instance, const char **propertyList) {
  cEdge<int>(broker, status, 0, [&]() {
    clearCMPIError(broker, status);
    FilerCopy filer = filerOfKey(broker, context, status, path, "SystemName");
    if (filer == nullptr) return 0;
    LunRecord lun = lunOfPath(broker, status, filer.get(), path);
    if (lun == nullptr) return 0;
    if (!isPropertyPresent(propertyList, "Description")) return 0;
    CMPIData data = getEmbPropertyFromInst(broker, "Description", kVolumeClass, CMPI_string,
                                           instance, 0, status);
    if (failed(status)) return 0;
    const char *comment = getStringFromCMPIData(data);
    setComment(broker, status, filer.get(), lun->path, comment != nullptr ? comment : "");
    return 0;
  });
}
