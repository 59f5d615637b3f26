// KELVA_StorageSystem: one instance per registered filer, named "KELVA:<systemId>".
#include <provkit/frame.h>
#include <provkit/loader.h>

#include "storageobjects.h"

using namespace implib;

IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer, const char **propertyList) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIInstance>> items;
    items.emplace_back(systemInstance(broker, status, path, filer, propertyList));
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIObjectPath>> items;
    items.emplace_back(systemPath(broker, status, path, filer));
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer = filerOfKey(broker, context, status, path, "Name");
    if (filer == nullptr) return nullptr;
    return systemInstance(broker, status, path, filer.get(), propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    filer = filerOfKey(broker, context, status, path, "Name");
    return filer != nullptr;
  });
}
