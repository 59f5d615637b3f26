// Indication elements of KELVA_StorageVolume: the filer's LUNs, read from the
// filer on every poll (a change made by anyone but this agent is what the
// poll is for, and the cache would hide it).  A LUN is known by its serial
// number; it has changed when its size, its state or its mapping did.
#include <provkit/frame.h>
#include <wbemkelvai/wsistorage.h>

#include <cstring>

#include "storageobjects.h"

using namespace implib;

namespace {

bool sameText(const char *first, const char *second) {
  if (first == nullptr || second == nullptr) return first == second;
  return std::strcmp(first, second) == 0;
}

}  // namespace

IMPL_EXPORT WSIList *enumIndElements(const CMPIBroker *broker, const CMPIContext *context,
                                     const Filer *filer, const void *reserved, CMPIStatus *status) {
  (void)context;
  (void)reserved;
  return cEdge<WSIList *>(broker, status, nullptr, [&]() -> WSIList * {
    WSIList *list = WSIList_new();
    if (list == nullptr) {
      raise(broker, status, CMPI_RC_ERR_FAILED, "Insufficient Memory");
      return nullptr;
    }
    Record record;
    if (getLunInfo(record.get(), filer, nullptr, nullptr, nullptr, 1, nullptr, list) == 0) {
      freeLunInfo(list);
      raiseCMPIErrorKELVA(broker, status, record.get());
      return nullptr;
    }
    return list;
  });
}

IMPL_EXPORT void freeIndElements(WSIList *elements) { freeLunInfo(elements); }

IMPL_EXPORT CMPIInstance *newInstanceFromIndElement(const CMPIBroker *broker,
                                                    const CMPIContext *context,
                                                    const CMPIObjectPath *classPath,
                                                    const Filer *filer, const void *element,
                                                    CMPIStatus *status) {
  (void)context;
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    if (element == nullptr) {
      raise(broker, status, CMPI_RC_ERR_FAILED, "KELVA_StorageVolume element is NULL");
      return nullptr;
    }
    return volumeInstance(broker, status, classPath, filer, static_cast<const KELVALun *>(element),
                          nullptr);
  });
}

IMPL_EXPORT int compareIndElements(const void *first, const void *second, int keysOnly) {
  const auto *a = static_cast<const KELVALun *>(first);
  const auto *b = static_cast<const KELVALun *>(second);
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  if (!sameText(a->serialNumber, b->serialNumber)) return 0;
  if (keysOnly != 0) return 1;
  return a->size == b->size && a->online == b->online && a->mapped == b->mapped ? 1 : 0;
}
