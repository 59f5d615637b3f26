// Volume elements: one element per volume of a filer, keyed by the filer's system
// name and the volume's name.
#include "volumeelements.h"

#include <cmpimacs.h>
#include <provkit/commonimpl.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>

namespace implib {
namespace {

struct VolumeListFree {
  void operator()(WSIList *list) const { freeVolumeInfo(list); }
};
using VolumeList = std::unique_ptr<WSIList, VolumeListFree>;

// The filer's volumes (all of them, or the one named), from the filer cache.
VolumeList volumesOf(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                     const char *name) {
  VolumeList list(WSIList_new());
  if (list == nullptr) {
    raise(broker, status, CMPI_RC_ERR_FAILED, "Insufficient memory");
    return nullptr;
  }
  Record record;
  if (getVolumeInfo(record.get(), filer, name, nullptr, nullptr, WSI_VOLUME_KINDS_ALL, 0,
                    list.get()) == 0) {
    raiseCMPIErrorKELVA(broker, status, record.get());
    return nullptr;
  }
  return list;
}

CMPIObjectPath *elementPath(const VolumeElementClass &cls, const CMPIBroker *broker,
                            CMPIStatus *status, const CMPIObjectPath *source, const Filer *filer,
                            const char *volume) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, cls.className));
  if (failed(status)) return nullptr;
  CMAddKey(path.get(), cls.systemClassKey, kSystemClass, CMPI_chars);
  setSystemName(broker, status, filer, cls.systemKey, path.get());
  CMAddKey(path.get(), "CreationClassName", cls.className, CMPI_chars);
  CMAddKey(path.get(), cls.nameKey, volume, CMPI_chars);
  return failed(status) ? nullptr : path.release();
}

CMPIInstance *elementInstance(const VolumeElementClass &cls, const CMPIBroker *broker,
                              CMPIStatus *status, const CMPIObjectPath *source, const Filer *filer,
                              const char *volume, const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(elementPath(cls, broker, status, source, filer, volume));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  WsiText system(encodeSystemName(broker, status, filer));
  if (failed(status)) return nullptr;
  CMSetProperty(instance.get(), cls.systemClassKey, kSystemClass, CMPI_chars);
  CMSetProperty(instance.get(), cls.systemKey, system.get(), CMPI_chars);
  CMSetProperty(instance.get(), "CreationClassName", cls.className, CMPI_chars);
  CMSetProperty(instance.get(), cls.nameKey, volume, CMPI_chars);
  CMSetProperty(instance.get(), "ElementName", volume, CMPI_chars);
  return instance.release();
}

template <typename T, typename Make>
CMPIArray *eachVolume(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                      Make &&make) {
  VolumeList list = volumesOf(broker, status, filer, nullptr);
  if (list == nullptr) return nullptr;
  std::vector<CmpiObject<T>> items;
  for (WSIListPos *at = WSIList_getFirst(list.get()); at != nullptr; at = WSIList_getNext(at)) {
    const auto *volume = static_cast<const KELVAVolume *>(WSIList_getElement(at));
    items.emplace_back(make(volume->name));
    if (failed(status)) return nullptr;
  }
  return arrayOf(broker, status, items);
}

// The registered filer the path names and the volume name, when the filer has it.
FilerCopy filerWithVolume(const VolumeElementClass &cls, const CMPIBroker *broker,
                          const CMPIContext *context, CMPIStatus *status,
                          const CMPIObjectPath *path, WsiText *volume) {
  FilerCopy filer = filerOfKey(broker, context, status, path, cls.systemKey);
  if (filer == nullptr) return nullptr;
  volume->reset(getKeyAsChar(status, path, cls.nameKey));
  if (failed(status)) return nullptr;
  if (*volume == nullptr) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, std::string("Missing key ") + cls.nameKey);
    return nullptr;
  }
  VolumeList list = volumesOf(broker, status, filer.get(), volume->get());
  if (list == nullptr) return nullptr;
  if (WSIList_isEmpty(list.get())) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
          std::string(cls.className) + " not found: " + volume->get());
    return nullptr;
  }
  return filer;
}

}  // namespace

CMPIArray *volumeElementPaths(const VolumeElementClass &cls, const CMPIBroker *broker,
                              CMPIStatus *status, const CMPIObjectPath *source,
                              const Filer *filer) {
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() {
    return eachVolume<CMPIObjectPath>(broker, status, filer, [&](const char *volume) {
      return elementPath(cls, broker, status, source, filer, volume);
    });
  });
}

CMPIArray *volumeElementInstances(const VolumeElementClass &cls, const CMPIBroker *broker,
                                  CMPIStatus *status, const CMPIObjectPath *source,
                                  const Filer *filer, const char **propertyList) {
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() {
    return eachVolume<CMPIInstance>(broker, status, filer, [&](const char *volume) {
      return elementInstance(cls, broker, status, source, filer, volume, propertyList);
    });
  });
}

CMPIInstance *volumeElementInstance(const VolumeElementClass &cls, const CMPIBroker *broker,
                                    const CMPIContext *context, CMPIStatus *status,
                                    const CMPIObjectPath *path, const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    WsiText volume;
    FilerCopy filer = filerWithVolume(cls, broker, context, status, path, &volume);
    if (filer == nullptr) return nullptr;
    return elementInstance(cls, broker, status, path, filer.get(), volume.get(), propertyList);
  });
}

int volumeElementExists(const VolumeElementClass &cls, const CMPIBroker *broker,
                        const CMPIContext *context, const CMPIObjectPath *path, Filer **filerOut) {
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    WsiText volume;
    filer = filerWithVolume(cls, broker, context, status, path, &volume);
    return filer != nullptr;
  });
}

}  // namespace implib
