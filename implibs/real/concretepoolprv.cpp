// KELVA_ConcretePool: one instance per aggregate (or traditional volume) of a
// filer (blockelements.h makes them).
#include <cmpimacs.h>
#include <provkit/capacity.h>
#include <provkit/commoncaps.h>
#include <provkit/frame.h>
#include <provkit/loader.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>

#include "blockelements.h"

using namespace implib;

IMPL_EXPORT CMPIArray *enumInstancesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer, const char **propertyList) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIInstance>> items;
    for (const Aggregate &aggr : aggregatesOf(broker, status, filer, nullptr)) {
      items.emplace_back(poolInstance(broker, status, path, filer, aggr.get(), propertyList));
      if (failed(status)) return nullptr;
    }
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIArray *enumInstNamesImpl(const CMPIBroker *broker, const CMPIContext *context,
                                         CMPIStatus *status, const CMPIObjectPath *path,
                                         const Filer *filer) {
  (void)context;
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<CmpiObject<CMPIObjectPath>> items;
    for (const Aggregate &aggr : aggregatesOf(broker, status, filer, nullptr)) {
      items.emplace_back(poolPath(broker, status, path, filer, aggr.get()));
      if (failed(status)) return nullptr;
    }
    return arrayOf(broker, status, items);
  });
}

IMPL_EXPORT CMPIInstance *getInstanceImpl(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIStatus *status, const CMPIObjectPath *path,
                                          const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    FilerCopy filer;
    Aggregate aggr = poolOfPath(broker, context, status, path, &filer);
    if (aggr == nullptr) return nullptr;
    return poolInstance(broker, status, path, filer.get(), aggr.get(), propertyList);
  });
}

IMPL_EXPORT int existsImpl(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIObjectPath *path, Filer **filerOut) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  int exists = cEdge<int>(broker, &status, 0, [&]() {
    FilerCopy filer;
    if (poolOfPath(broker, context, &status, path, &filer) == nullptr) return 0;
    if (filerOut != nullptr) *filerOut = filer.release();
    return 1;
  });
  clearCMPIError(broker, &status);
  return exists;
}
