// Generic provider operations over the implementation libraries, and the
// small records and comparisons that implementation libraries and the
// indication machine share.  Each operation loads its library for the one
// request, unloads it on every path and finishes the result with
// CMReturnDone whatever happened.
#include "provkit/operations.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsistorage.h>

#include <cstdio>

#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/frame.h"
#include "provkit/loader.h"
#include "provkit/registry.h"

namespace pk {

void returnAndFreeArray(CMPIArray *array, const CMPIResult *result, bool instances,
                        CMPIStatus *status) {
  if (array == nullptr) return;
  CMPIStatus local{CMPI_RC_OK, nullptr};
  CMPICount count = CMGetArrayCount(array, &local);
  if (failed(&local)) {
    adoptStatus(status, local);
    freeCMPIArray(array);
    return;
  }
  CMPICount i = 0;
  for (; i < count && !failed(status); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, status);
    if (failed(status)) break;
    bool good = (element.state & ~CMPI_keyValue) == CMPI_goodValue;
    if (instances) {
      adoptStatus(status, CMReturnInstance(result, element.value.inst));
      if (good && element.type == CMPI_instance && element.value.inst != nullptr)
        CMRelease(element.value.inst);
    } else {
      adoptStatus(status, CMReturnObjectPath(result, element.value.ref));
      if (good && element.type == CMPI_ref && element.value.ref != nullptr)
        CMRelease(element.value.ref);
    }
  }
  // Stopped early: the elements not yet read go back as freeCMPIArray gives them.
  for (; i < count; ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, &local);
    if (failed(&local)) break;
    if ((element.state & ~CMPI_keyValue) != CMPI_goodValue || element.value.inst == nullptr)
      continue;
    if (element.type == CMPI_instance) CMRelease(element.value.inst);
    if (element.type == CMPI_ref) CMRelease(element.value.ref);
  }
  CMRelease(array);
}

}  // namespace pk

namespace {

using pk::failed;

constexpr const char *component = "provkit operations";

// The text of the status's message, or "Unknown" when it has none.
const char *messageOf(const CMPIStatus &status) {
  const char *text = status.msg != nullptr ? CMGetCharsPtr(status.msg, nullptr) : nullptr;
  return text != nullptr ? text : "Unknown";
}

CMPIStatus enumerateWorker(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIResult *result, const CMPIObjectPath *path,
                           int instancesWanted, const char **propertyList,
                           const char *libraryName) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  pk::DoneOnExit done(result);
  pk::FilerList filers;
  pk::StatusRecord record;
  pk::LoadedImpl<WSIInstanceImpl> impl(libraryName, record.get());
  if (!impl.loadedOrRaise(broker, &status)) return status;
  filers.reset(getFilers(&status, broker, context, path));
  for (WSIListPos *at = WSIList_getFirst(filers.get()); at != nullptr && !failed(&status);
       at = WSIList_getNext(at)) {
    const auto *filer = static_cast<const Filer *>(WSIList_getElement(at));
    CMPIArray *array =
        instancesWanted != 0
            ? impl->enumInstancesImpl(broker, context, &status, path, filer, propertyList)
            : impl->enumInstNamesImpl(broker, context, &status, path, filer);
    if (failed(&status)) {
      // One filer that cannot answer never fails the enumeration of the others.
      char text[256];
      std::snprintf(text, sizeof text, "Unable to get Storage System data: %s, reason: %s",
                    filer->host != nullptr ? filer->host : "", messageOf(status));
      CMLogMessage(broker, CMPI_SEV_ERROR, component, text, nullptr);
      clearCMPIError(broker, &status);
      freeCMPIArray(array);
      continue;
    }
    if (array == nullptr) {
      CMTraceMessage(broker, CMPI_LEV_INFO, component, "Null array returned", nullptr);
      continue;
    }
    pk::returnAndFreeArray(array, result, instancesWanted != 0, &status);
  }
  return status;
}

// Which instance function of the record an operation calls.
enum class InstanceCall { Get, Set, Delete };

CMPIStatus instanceWorker(InstanceCall call, const CMPIBroker *broker, const CMPIContext *context,
                          const CMPIResult *result, const CMPIObjectPath *path,
                          const CMPIInstance *instance, const char **propertyList,
                          const char *libraryName) {
  // The implementation must report success itself: one that returns without
  // touching the status has failed.
  CMPIStatus status{CMPI_RC_ERR_FAILED, nullptr};
  pk::DoneOnExit done(result);
  pk::StatusRecord record;
  pk::CmpiObject<CMPIInstance> made;
  pk::LoadedImpl<WSIInstanceImpl> impl(libraryName, record.get());
  if (!impl.loadedOrRaise(broker, &status)) return status;
  switch (call) {
    case InstanceCall::Get:
      made.reset(impl->getInstanceImpl(broker, context, &status, path, propertyList));
      if (!failed(&status)) pk::adoptStatus(&status, CMReturnInstance(result, made.get()));
      break;
    case InstanceCall::Set:
      if (impl->setInstanceImpl == nullptr) {
        raiseCMPIError(broker, &status, CMPI_RC_ERR_NOT_SUPPORTED,
                       "The implementation library does not modify instances");
        break;
      }
      impl->setInstanceImpl(broker, context, &status, path, instance, propertyList);
      if (!failed(&status)) pk::adoptStatus(&status, CMReturnInstance(result, instance));
      break;
    case InstanceCall::Delete:
      if (impl->deleteInstanceImpl == nullptr) {
        raiseCMPIError(broker, &status, CMPI_RC_ERR_NOT_SUPPORTED,
                       "The implementation library does not delete instances");
        break;
      }
      impl->deleteInstanceImpl(broker, context, &status, path);
      break;
  }
  return status;
}

// Equal texts (strCompare) of two lists of texts, in order.
bool sameTexts(WSIList *first, WSIList *second) {
  WSIListPos *a = WSIList_getFirst(first);
  WSIListPos *b = WSIList_getFirst(second);
  for (; a != nullptr && b != nullptr; a = WSIList_getNext(a), b = WSIList_getNext(b)) {
    if (strCompare(static_cast<const char *>(WSIList_getElement(a)),
                   static_cast<const char *>(WSIList_getElement(b))) != 0)
      return false;
  }
  return a == nullptr && b == nullptr;
}

// Equal LUN maps (path and LUN id), in order.
bool sameLunMaps(WSIList *first, WSIList *second) {
  WSIListPos *a = WSIList_getFirst(first);
  WSIListPos *b = WSIList_getFirst(second);
  for (; a != nullptr && b != nullptr; a = WSIList_getNext(a), b = WSIList_getNext(b)) {
    const auto *x = static_cast<const KELVALunMap *>(WSIList_getElement(a));
    const auto *y = static_cast<const KELVALunMap *>(WSIList_getElement(b));
    if (x == nullptr || y == nullptr) {
      if (x != y) return false;
      continue;
    }
    if (strCompare(x->path, y->path) != 0 || x->lunId != y->lunId) return false;
  }
  return a == nullptr && b == nullptr;
}

// New list of clones of the array's instances (the caller's, freed with
// freeCMPIObjectList and CMPI_instance); null with the reason in status.
// Clones, not the objects a read of the array hands out: whether those
// outlive the array differs between object managers.
WSIList *cloneInstances(const CMPIBroker *broker, const CMPIArray *array, CMPIStatus *status) {
  if (array == nullptr) return nullptr;
  CMPICount count = CMGetArrayCount(array, status);
  if (failed(status)) return nullptr;
  WSIList *list = WSIList_new();
  if (list == nullptr) {
    pk::fail(broker, status, "Insufficient memory");
    return nullptr;
  }
  for (CMPICount i = 0; i < count && !failed(status); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, status);
    if (failed(status)) break;
    if (element.type != CMPI_instance || element.value.inst == nullptr) {
      pk::fail(broker, status, "Unsupported value type");
      break;
    }
    pk::CmpiObject<CMPIInstance> clone(CMClone(element.value.inst, status));
    if (failed(status) || !clone) break;
    if (WSIList_append(list, clone.get()) == 0) {
      pk::fail(broker, status, "Insufficient memory");
      break;
    }
    (void)clone.release();
  }
  if (!failed(status)) return list;
  freeCMPIObjectList(broker, list, CMPI_instance);
  return nullptr;
}

}  // namespace

extern "C" {

CMPIStatus enumerateInstances(const CMPIBroker *broker, const CMPIContext *context,
                              const CMPIResult *result, const CMPIObjectPath *path,
                              int instancesWanted, const char **propertyList,
                              const char *libraryName) {
  return pk::statusEdge(broker, [&] {
    return enumerateWorker(broker, context, result, path, instancesWanted, propertyList,
                           libraryName);
  });
}

CMPIStatus getProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                               const CMPIResult *result, const CMPIObjectPath *path,
                               const char **propertyList, const char *libraryName) {
  return pk::statusEdge(broker, [&] {
    return instanceWorker(InstanceCall::Get, broker, context, result, path, nullptr, propertyList,
                          libraryName);
  });
}

CMPIStatus setProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                               const CMPIResult *result, const CMPIObjectPath *path,
                               const CMPIInstance *instance, const char **propertyList,
                               const char *libraryName) {
  return pk::statusEdge(broker, [&] {
    return instanceWorker(InstanceCall::Set, broker, context, result, path, instance, propertyList,
                          libraryName);
  });
}

CMPIStatus deleteProviderInstance(const CMPIBroker *broker, const CMPIContext *context,
                                  const CMPIResult *result, const CMPIObjectPath *path,
                                  const char *libraryName) {
  return pk::statusEdge(broker, [&] {
    return instanceWorker(InstanceCall::Delete, broker, context, result, path, nullptr, nullptr,
                          libraryName);
  });
}

CMPIStatus invokeProviderMethod(const CMPIBroker *broker, const CMPIContext *context,
                                const CMPIResult *result, const CMPIObjectPath *path,
                                const char *methodName, const CMPIArgs *in, CMPIArgs *out,
                                const char *libraryName) {
  return pk::statusEdge(broker, [&] {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    pk::DoneOnExit done(result);
    pk::StatusRecord record;
    pk::LoadedImpl<WSIMethodImpl> impl(libraryName, record.get());
    if (!impl.loadedOrRaise(broker, &status)) return status;
    CMPIData value = impl->invokeMethodImpl(broker, context, &status, path, methodName, in, out);
    if (!failed(&status)) pk::adoptStatus(&status, CMReturnData(result, &value.value, value.type));
    return status;
  });
}

void free_varListData(varListData *record) {
  if (record == nullptr) return;
  if (record->type == CMPI_charsptr && record->release != nullptr) record->release(record->value);
  wsifree(record->name);
}

varListData *copy_varListData(const varListData *record) {
  if (record == nullptr) return nullptr;
  auto *copy = static_cast<varListData *>(wsicalloc(1, sizeof(varListData)));
  if (copy == nullptr) return nullptr;
  copy->value = wsistrdup(static_cast<const char *>(record->value));
  copy->name = wsistrdup(record->name);
  copy->type = record->type;
  copy->release = record->release;
  // A copy that lost a text to a failed allocation is no copy.
  if ((copy->value == nullptr && record->value != nullptr) ||
      (copy->name == nullptr && record->name != nullptr)) {
    wsifree(copy->value);
    wsifree(copy->name);
    wsifree(copy);
    return nullptr;
  }
  return copy;
}

int compareIGroupElements(const void *first, const void *second, int keysOnly) {
  if (first == nullptr || second == nullptr) return first == second ? 1 : 0;
  const auto *a = static_cast<const KELVAIGroup *>(first);
  const auto *b = static_cast<const KELVAIGroup *>(second);
  if (strCompare(a->name, b->name) != 0) return 0;
  if (keysOnly != 0) return 1;
  bool same = strCompare(a->type, b->type) == 0 && strCompare(a->osType, b->osType) == 0 &&
              strCompare(a->portSet, b->portSet) == 0 && sameTexts(a->initiators, b->initiators) &&
              sameLunMaps(a->lunMaps, b->lunMaps);
  return same ? 1 : 0;
}

WSIList *enumAssoIndElements(const CMPIBroker *broker, const CMPIContext *context,
                             CMPIStatus *status, const CMPIObjectPath *path,
                             const char *libraryName, PKAssocInstancesFunc instancesFunc) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<WSIList *>(nullptr), [&]() -> WSIList * {
    CMPIArray *array = nullptr;
    pk::adoptStatus(st.get(),
                    enumerateAssociationsWithArray(broker, context, &array, path, 1, nullptr,
                                                   libraryName, nullptr, instancesFunc));
    pk::OwnedArray owned(array);
    if (st.failed()) return nullptr;
    return cloneInstances(broker, owned.get(), st.get());
  });
}

int compareAssoIndElements(const CMPIBroker *broker, const CMPIInstance *first,
                           const CMPIInstance *second, int /*reserved*/, const char *firstProperty,
                           const char *secondProperty, const char *firstLibrary,
                           const char *secondLibrary, PKPropertyReader firstExtractor,
                           PKPropertyReader secondExtractor, PKElementRelease firstRelease,
                           PKElementRelease secondRelease) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  int same = pk::cEdge(broker, &status, 0, [&] {
    pk::StatusRecord record;
    pk::LoadedImpl<WSIIndImpl> firstImpl(firstLibrary, record.get());
    if (!firstImpl.loadedOrRaise(broker, &status)) return 0;
    if (firstImpl->compareIndElements == nullptr) {
      pk::fail(broker, &status, "compare function not found");
      return 0;
    }
    pk::StatusRecord secondRecord;
    pk::LoadedImpl<WSIIndImpl> secondImpl(secondLibrary, secondRecord.get());
    if (!secondImpl.loadedOrRaise(broker, &status)) return 0;
    if (secondImpl->compareIndElements == nullptr) {
      pk::fail(broker, &status, "compare function not found");
      return 0;
    }
    // The extractors are handed the broker as their caller value.
    void *callerValue = const_cast<CMPIBroker *>(broker);
    void *data[4] = {};
    const CMPIInstance *instances[2] = {first, second};
    for (int i = 0; i < 4 && !failed(&status); ++i) {
      bool firstPair = i < 2;
      data[i] = retrieveDataFromInstanceProperty(
          callerValue, instances[i % 2], firstPair ? firstProperty : secondProperty,
          firstPair ? firstExtractor : secondExtractor, &status);
    }
    int result = 0;
    if (!failed(&status) && secondImpl->compareIndElements(data[2], data[3], 1) != 0 &&
        firstImpl->compareIndElements(data[0], data[1], 1) != 0)
      result = 1;
    for (int i = 0; i < 4; ++i) {
      PKElementRelease release = i < 2 ? firstRelease : secondRelease;
      if (release != nullptr && data[i] != nullptr) release(data[i]);
    }
    return result;
  });
  // Problems were logged when raised; none is left for the caller.
  clearCMPIError(broker, &status);
  return same;
}

}  // extern "C"
