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

namespace {

std::vector<Aggregate> allAggregatesOf(const CMPIBroker *broker, CMPIStatus *status,
                                       const Filer *filer) {
  return aggregatesOf(broker, status, filer, nullptr);
}

}  // namespace

RECORD_INSTANCES(allAggregatesOf, poolInstance)

RECORD_PATHS(allAggregatesOf, poolPath)

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
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    return poolOfPath(broker, context, status, path, &filer) != nullptr;
  });
}
