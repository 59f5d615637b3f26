// Association traversal.  An association provider names its association
// class, the two endpoint classes with their implementation libraries and the
// two reference properties; the walks here load those libraries per call,
// verify endpoints through existsImpl and hand the arrays the caller's array
// functions make to the result.  Every walk stops at the first error in the
// status in use, and releases what it made before it returns.
#include "provkit/associations.h"

#include <cmpimacs.h>

#include <cstdlib>

#include "guards.h"
#include "provkit/arrays.h"
#include "provkit/frame.h"
#include "provkit/loader.h"
#include "provkit/objectpath.h"
#include "provkit/properties.h"
#include "provkit/registry.h"

namespace {

using pk::failed;

enum class Endpoint { None, First, Second };

// Which endpoint the path is: its class name compared exactly, not by
// the class hierarchy, since both endpoint classes may share a parent.
Endpoint endpointOf(CMPIStatus *status, const CMPIObjectPath *path, const char *firstClass,
                    const char *secondClass) {
  if (classIsExact(status, firstClass, path) != 0) return Endpoint::First;
  if (failed(status)) return Endpoint::None;
  if (classIsExact(status, secondClass, path) != 0) return Endpoint::Second;
  return Endpoint::None;
}

// The walk of enumerateAssociations: into the result when there is one, else
// merged into *place.
CMPIStatus enumerateWorker(const CMPIBroker *broker, const CMPIContext *context,
                           const CMPIResult *result, CMPIArray **place, const CMPIObjectPath *path,
                           int instancesWanted, const char **propertyList, const char *libraryName,
                           PKAssocNamesFunc namesFunc, PKAssocInstancesFunc instancesFunc) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  {
    pk::DoneOnExit done(result);
    pk::FilerList filers;
    pk::StatusRecord record;
    pk::LoadedImpl<WSIInstanceImpl> impl(libraryName, record.get());
    if (impl.loadedOrRaise(broker, &status)) {
      filers.reset(getFilers(&status, broker, context, path));
    }
    for (WSIListPos *at = WSIList_getFirst(filers.get()); at != nullptr && !failed(&status);
         at = WSIList_getNext(at)) {
      const auto *filer = static_cast<const Filer *>(WSIList_getElement(at));
      pk::OwnedArray names(impl->enumInstNamesImpl(broker, context, &status, path, filer));
      if (failed(&status) || !names) continue;
      CMPIStatus countStatus{CMPI_RC_OK, nullptr};
      CMPICount count = CMGetArrayCount(names.get(), &countStatus);
      if (failed(&countStatus)) count = 0;
      for (CMPICount i = 0; i < count && !failed(&status); ++i) {
        CMPIStatus readStatus{CMPI_RC_OK, nullptr};
        CMPIData element = CMGetArrayElementAt(names.get(), i, &readStatus);
        if (failed(&readStatus) || element.type != CMPI_ref ||
            (element.state & CMPI_nullValue) != 0 || element.value.ref == nullptr)
          continue;
        pk::OwnedArray made;
        if (instancesWanted != 0) {
          if (instancesFunc != nullptr)
            made.reset(instancesFunc(broker, context, element.value.ref, filer,
                                     PK_ASSOC_MODE_REFERENCES, propertyList, &status));
        } else if (namesFunc != nullptr) {
          made.reset(namesFunc(broker, context, element.value.ref, filer, PK_ASSOC_MODE_REFERENCES,
                               &status));
        }
        if (failed(&status) || !made) continue;
        if (result != nullptr) {
          pk::returnAndFreeArray(made.release(), result, instancesWanted != 0, &status);
        } else if (place != nullptr) {
          // Without a result or a place the array goes with its owner here.
          mergeCMPIArray(broker, place, made.get(), &status);
          // A merge that worked took the array over; a failed one left it ours.
          if (!failed(&status)) (void)made.release();
        }
      }
    }
  }
  if (failed(&status) && place != nullptr) {
    freeCMPIArray(*place);
    *place = nullptr;
  }
  return status;
}

// The walk of getExtendedInstancesFromGivenPath (Instances) and of
// getExtendedPathsFromGivenPath.
template <bool Instances>
CMPIArray *fromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                         const CMPIObjectPath *source, const Filer *filer, const void *first,
                         const void *second, int mode, const char **propertyList,
                         const char *libraryName, const char *assocClass, const char *firstRole,
                         const char *secondRole, PKAssocInstanceExtFunc instanceExt,
                         PKAssocPathExtFunc pathExt, CMPIStatus *status) {
  pk::OwnedArray made;
  pk::OwnedArray paths;
  pk::StatusRecord record;
  {
    pk::LoadedImpl<WSIAssocImpl> impl(libraryName, record.get());
    if (!impl.loadedOrRaise(broker, status)) return nullptr;
    if (mode != PK_ASSOC_MODE_REFERENCES) {
      if constexpr (Instances)
        made.reset(impl->getAssociatorInstanceImpl(broker, context, status, source, filer, first,
                                                   second, propertyList));
      else
        made.reset(
            impl->getAssociatorPathImpl(broker, context, status, source, filer, first, second));
    } else {
      paths.reset(
          impl->getAssociatorPathImpl(broker, context, status, source, filer, first, second));
      CMPICount count = 0;
      if (!failed(status) && paths) {
        CMPIArray *similar = nullptr;
        createSimilarArray(broker, context, paths.get(), Instances ? CMPI_instanceA : CMPI_refA,
                           &similar, &count, status);
        made.reset(similar);
      }
      for (CMPICount i = 0; i < count && !failed(status); ++i) {
        CMPIData element = CMGetArrayElementAt(paths.get(), i, status);
        if (failed(status)) break;
        if (element.type != CMPI_ref || (element.state & CMPI_nullValue) != 0 ||
            element.value.ref == nullptr)
          continue;
        if constexpr (Instances) {
          pk::CmpiObject<CMPIInstance> association(
              newAssociationInstFromKeys(status, broker, source, assocClass, firstRole, source,
                                         secondRole, element.value.ref, propertyList));
          if (failed(status)) break;
          if (!association) continue;  // nothing made and nothing said: the slot stays empty
          if (instanceExt != nullptr)
            instanceExt(broker, context, status, filer, propertyList, association.get());
          if (!failed(status)) pk::storeObject(made.get(), i, association.release(), status);
        } else {
          pk::CmpiObject<CMPIObjectPath> association(
              newAssociationPathFromKeys(status, broker, source, assocClass, firstRole, source,
                                         secondRole, element.value.ref));
          if (failed(status)) break;
          if (!association) continue;
          if (pathExt != nullptr) pathExt(broker, context, status, filer, association.get());
          if (!failed(status)) pk::storeObject(made.get(), i, association.release(), status);
        }
      }
    }
  }
  if (failed(status)) return nullptr;
  return made.release();
}

// Where References and Associators stand: which library serves the path, and
// the array the endpoint's function makes for it in the given mode.
template <typename MakeArray>
pk::OwnedArray endpointArray(const CMPIBroker *broker, const CMPIContext *context,
                             const CMPIObjectPath *path, const char *libraryName,
                             CMPIStatus *status, MakeArray &&makeArray) {
  Filer *owner = nullptr;
  int exists = verifyObject(broker, context, path, libraryName, &owner, status);
  pk::FilerRecord filer(owner);
  if (exists == 0 || failed(status)) return nullptr;
  return pk::OwnedArray(makeArray(filer.get()));
}

// Returns the first count elements of the array to the result.
void returnFirst(const CMPIArray *array, CMPICount count, const CMPIResult *result,
                 CMPIType arrayType, CMPIStatus *status) {
  for (CMPICount i = 0; i < count && !failed(status); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, status);
    if (failed(status)) break;
    if (arrayType == CMPI_instanceA)
      pk::adoptStatus(status, CMReturnInstance(result, element.value.inst));
    else
      pk::adoptStatus(status, CMReturnObjectPath(result, element.value.ref));
  }
}

// applyResultClass without CMReturnDone.
void applyWorker(const CMPIBroker *broker, const CMPIContext *context, const CMPIResult *result,
                 const CMPIArray *array, CMPIType arrayType, const char *resultClass,
                 CMPIStatus *status) {
  if (array == nullptr) return;
  // Only instances and object paths can be filtered by class; other arrays get
  // returnArray's answer to them.
  if (arrayType != CMPI_instanceA && arrayType != CMPI_refA) {
    pk::setCode(status, CMPI_RC_ERR_TYPE_MISMATCH);
    return;
  }
  if (resultClass == nullptr) {
    returnArray(array, result, arrayType, status);
    return;
  }
  CMPIArray *similar = nullptr;
  CMPICount count = 0;
  createSimilarArray(broker, context, array, arrayType, &similar, &count, status);
  // The kept array holds the source's own elements (or copies of them), which
  // stay the source's owner's: only the kept array itself is released here.
  pk::CmpiObject<CMPIArray> kept(similar);
  CMPICount next = 0;
  for (CMPICount i = 0; i < count && !failed(status); ++i) {
    CMPIData element = CMGetArrayElementAt(array, i, status);
    if (failed(status)) break;
    if ((element.state & CMPI_nullValue) != 0 || element.value.ref == nullptr) continue;
    int keep = 0;
    if (arrayType == CMPI_instanceA) {
      pk::CmpiObject<CMPIObjectPath> own(CMGetObjectPath(element.value.inst, status));
      if (failed(status)) break;
      keep = classIsA(status, broker, own.get(), resultClass);
    } else {
      keep = classIsA(status, broker, element.value.ref, resultClass);
    }
    if (failed(status) || keep == 0) continue;
    pk::adoptStatus(status,
                    CMSetArrayElementAt(kept.get(), next, &element.value,
                                        arrayType == CMPI_instanceA ? CMPI_instance : CMPI_ref));
    ++next;
  }
  if (!failed(status)) returnFirst(kept.get(), next, result, arrayType, status);
}

// The walk of associationAssociatorNames (Instances false) and
// associationAssociators.
template <bool Instances>
CMPIStatus associatorsWorker(const CMPIBroker *broker, const CMPIContext *context,
                             const CMPIResult *result, const CMPIObjectPath *path,
                             const char *resultClass, const char *role, const char *resultRole,
                             const char **propertyList, const char *firstClass,
                             const char *secondClass, const char *firstLibrary,
                             const char *secondLibrary, const char *firstRole,
                             const char *secondRole, PKAssocNamesFunc firstNames,
                             PKAssocNamesFunc secondNames, PKAssocInstancesFunc firstInstances,
                             PKAssocInstancesFunc secondInstances) {
  CMPIStatus status{CMPI_RC_OK, nullptr};
  pk::OwnedArray array;
  Endpoint endpoint = endpointOf(&status, path, firstClass, secondClass);
  bool passes = false;
  if (endpoint == Endpoint::First)
    passes =
        passesRoleFilter(firstRole, role) != 0 && passesRoleFilter(secondRole, resultRole) != 0;
  else if (endpoint == Endpoint::Second)
    passes =
        passesRoleFilter(secondRole, role) != 0 && passesRoleFilter(firstRole, resultRole) != 0;
  if (passes && !failed(&status)) {
    bool isFirst = endpoint == Endpoint::First;
    array = endpointArray(
        broker, context, path, isFirst ? firstLibrary : secondLibrary, &status,
        [&](const Filer *filer) -> CMPIArray * {
          if constexpr (Instances) {
            PKAssocInstancesFunc make = isFirst ? firstInstances : secondInstances;
            return make == nullptr ? nullptr
                                   : make(broker, context, path, filer, PK_ASSOC_MODE_ASSOCIATORS,
                                          propertyList, &status);
          } else {
            PKAssocNamesFunc make = isFirst ? firstNames : secondNames;
            return make == nullptr
                       ? nullptr
                       : make(broker, context, path, filer, PK_ASSOC_MODE_ASSOCIATORS, &status);
          }
        });
  }
  if (failed(&status)) return status;
  return applyResultClass(broker, context, result, array.get(),
                          Instances ? CMPI_instanceA : CMPI_refA, resultClass);
}

bool holdsReference(const CMPIData &data) {
  return data.type == CMPI_ref && (data.state & CMPI_nullValue) == 0 && data.value.ref != nullptr;
}

// The body of getExtendedAssociationInstance.
void associationInstance(const CMPIBroker *broker, const CMPIContext *context,
                         const CMPIResult *result, const CMPIObjectPath *path,
                         const char **propertyList, const char *assocClass,
                         const char *firstLibrary, const char *secondLibrary, const char *firstRole,
                         const char *secondRole, PKAssocInstanceExtFunc ext, CMPIStatus *status) {
  CMPIData firstKey = getObjectPathKey(broker, status, path, firstRole, CMPI_ref);
  if (failed(status) || !holdsReference(firstKey)) return;
  // Key data that a read hands out is given back once the instance is made.
  pk::CmpiObject<CMPIObjectPath> firstRef(firstKey.value.ref);
  CMPIData secondKey = getObjectPathKey(broker, status, path, secondRole, CMPI_ref);
  if (failed(status) || !holdsReference(secondKey)) return;
  pk::CmpiObject<CMPIObjectPath> secondRef(secondKey.value.ref);

  Filer *owner = nullptr;
  int exists = verifyObject(broker, context, firstRef.get(), firstLibrary, &owner, status);
  pk::FilerRecord filer(owner);
  if (failed(status)) return;
  if (exists == 0) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_FOUND,
                   "First instance of association not found");
    return;
  }
  filer.reset();
  owner = nullptr;
  exists = verifyObject(broker, context, secondRef.get(), secondLibrary, &owner, status);
  filer.reset(owner);
  if (failed(status)) return;
  if (exists == 0) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_NOT_FOUND,
                   "Second instance of association not found");
    return;
  }
  pk::CmpiObject<CMPIInstance> instance(
      newAssociationInstFromKeys(status, broker, path, assocClass, firstRole, firstRef.get(),
                                 secondRole, secondRef.get(), propertyList));
  if (failed(status) || !instance) return;
  if (ext != nullptr) ext(broker, context, status, filer.get(), propertyList, instance.get());
  if (!failed(status)) pk::adoptStatus(status, CMReturnInstance(result, instance.get()));
}

}  // namespace

extern "C" {

int passesIndexFilter(const CMPIBroker *broker, CMPIStatus *status, const char *indexText,
                      unsigned long index) {
  if (indexText == nullptr) return 1;
  char *end = nullptr;
  // The number is read from the start of the text: "007" is 7 and "12x" is 12.
  unsigned long value = std::strtoul(indexText, &end, 10);
  if (end == indexText) {
    pk::StatusSlot st(status);
    pk::fail(broker, st.get(), "Failed to convert index filter");
    return 0;
  }
  return value == index ? 1 : 0;
}

int passesRoleFilter(const char *roleName, const char *roleFilter) {
  if (roleFilter == nullptr) return 1;
  return passesStringFilter(roleFilter, roleName) != 0 ? 1 : 0;
}

CMPIArray *getBaseImplInstNames(const CMPIBroker *broker, const CMPIContext *context,
                                CMPIStatus *status, const CMPIObjectPath *source,
                                const Filer *filer, const char *className,
                                const char *libraryName) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<CMPIArray *>(nullptr), [&]() -> CMPIArray * {
    pk::CmpiObject<CMPIObjectPath> classPath(
        createCMPIObjectPath(broker, st.get(), source, className));
    if (st.failed()) return nullptr;
    pk::StatusRecord record;
    pk::LoadedImpl<WSIInstanceImpl> impl(libraryName, record.get());
    if (!impl.loadedOrRaise(broker, st.get())) return nullptr;
    return impl->enumInstNamesImpl(broker, context, st.get(), classPath.get(), filer);
  });
}

CMPIStatus enumerateAssociations(const CMPIBroker *broker, const CMPIContext *context,
                                 const CMPIResult *result, const CMPIObjectPath *path,
                                 int instancesWanted, const char **propertyList,
                                 const char *libraryName, PKAssocNamesFunc namesFunc,
                                 PKAssocInstancesFunc instancesFunc) {
  return pk::statusEdge(broker, [&] {
    return enumerateWorker(broker, context, result, nullptr, path, instancesWanted, propertyList,
                           libraryName, namesFunc, instancesFunc);
  });
}

CMPIStatus enumerateAssociationsWithArray(const CMPIBroker *broker, const CMPIContext *context,
                                          CMPIArray **place, const CMPIObjectPath *path,
                                          int instancesWanted, const char **propertyList,
                                          const char *libraryName, PKAssocNamesFunc namesFunc,
                                          PKAssocInstancesFunc instancesFunc) {
  return pk::statusEdge(broker, [&] {
    // Without a place the walk still runs (and reports), and what it collects goes.
    CMPIArray *none = nullptr;
    CMPIStatus status =
        enumerateWorker(broker, context, nullptr, place != nullptr ? place : &none, path,
                        instancesWanted, propertyList, libraryName, namesFunc, instancesFunc);
    freeCMPIArray(none);
    return status;
  });
}

CMPIArray *getExtendedInstancesFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                             const CMPIObjectPath *source, const Filer *filer,
                                             const void *first, const void *second, int mode,
                                             const char **propertyList, const char *libraryName,
                                             const char *assocClass, const char *firstRole,
                                             const char *secondRole, PKAssocInstanceExtFunc ext,
                                             CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<CMPIArray *>(nullptr), [&] {
    return fromGivenPath<true>(broker, context, source, filer, first, second, mode, propertyList,
                               libraryName, assocClass, firstRole, secondRole, ext, nullptr,
                               st.get());
  });
}

CMPIArray *getInstancesFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                     const CMPIObjectPath *source, const Filer *filer,
                                     const void *first, const void *second, int mode,
                                     const char **propertyList, const char *libraryName,
                                     const char *assocClass, const char *firstRole,
                                     const char *secondRole, CMPIStatus *status) {
  return getExtendedInstancesFromGivenPath(broker, context, source, filer, first, second, mode,
                                           propertyList, libraryName, assocClass, firstRole,
                                           secondRole, nullptr, status);
}

CMPIArray *getExtendedPathsFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                         const CMPIObjectPath *source, const Filer *filer,
                                         const void *first, const void *second, int mode,
                                         const char *libraryName, const char *assocClass,
                                         const char *firstRole, const char *secondRole,
                                         PKAssocPathExtFunc ext, CMPIStatus *status) {
  pk::StatusSlot st(status);
  return pk::cEdge(broker, st.get(), static_cast<CMPIArray *>(nullptr), [&] {
    return fromGivenPath<false>(broker, context, source, filer, first, second, mode, nullptr,
                                libraryName, assocClass, firstRole, secondRole, nullptr, ext,
                                st.get());
  });
}

CMPIArray *getPathsFromGivenPath(const CMPIBroker *broker, const CMPIContext *context,
                                 const CMPIObjectPath *source, const Filer *filer,
                                 const void *first, const void *second, int mode,
                                 const char *libraryName, const char *assocClass,
                                 const char *firstRole, const char *secondRole,
                                 CMPIStatus *status) {
  return getExtendedPathsFromGivenPath(broker, context, source, filer, first, second, mode,
                                       libraryName, assocClass, firstRole, secondRole, nullptr,
                                       status);
}

CMPIStatus getExtendedAssociationInstance(const CMPIBroker *broker, const CMPIContext *context,
                                          const CMPIResult *result, const CMPIObjectPath *path,
                                          const char **propertyList, const char *assocClass,
                                          const char *firstLibrary, const char *secondLibrary,
                                          const char *firstRole, const char *secondRole,
                                          PKAssocInstanceExtFunc ext) {
  return pk::statusEdge(broker, [&] {
    pk::DoneOnExit done(result);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    associationInstance(broker, context, result, path, propertyList, assocClass, firstLibrary,
                        secondLibrary, firstRole, secondRole, ext, &status);
    return status;
  });
}

CMPIStatus getAssociationInstance(const CMPIBroker *broker, const CMPIContext *context,
                                  const CMPIResult *result, const CMPIObjectPath *path,
                                  const char **propertyList, const char *assocClass,
                                  const char *firstLibrary, const char *secondLibrary,
                                  const char *firstRole, const char *secondRole) {
  return getExtendedAssociationInstance(broker, context, result, path, propertyList, assocClass,
                                        firstLibrary, secondLibrary, firstRole, secondRole,
                                        nullptr);
}

CMPIStatus associationReferences(const CMPIBroker *broker, const CMPIContext *context,
                                 const CMPIResult *result, const CMPIObjectPath *path,
                                 const char * /*resultClass*/, const char *role,
                                 int instancesWanted, const char **propertyList,
                                 const char *firstClass, const char *secondClass,
                                 const char *firstLibrary, const char *secondLibrary,
                                 const char *firstRole, const char *secondRole,
                                 PKAssocInstancesFunc firstInstances,
                                 PKAssocInstancesFunc secondInstances, PKAssocNamesFunc firstNames,
                                 PKAssocNamesFunc secondNames) {
  return pk::statusEdge(broker, [&] {
    CMPIStatus status{CMPI_RC_OK, nullptr};
    Endpoint endpoint = endpointOf(&status, path, firstClass, secondClass);
    bool isFirst = endpoint == Endpoint::First;
    if (endpoint == Endpoint::None || failed(&status) ||
        passesRoleFilter(isFirst ? firstRole : secondRole, role) == 0)
      return status;
    pk::OwnedArray array = endpointArray(
        broker, context, path, isFirst ? firstLibrary : secondLibrary, &status,
        [&](const Filer *filer) -> CMPIArray * {
          if (instancesWanted != 0) {
            PKAssocInstancesFunc make = isFirst ? firstInstances : secondInstances;
            return make == nullptr ? nullptr
                                   : make(broker, context, path, filer, PK_ASSOC_MODE_REFERENCES,
                                          propertyList, &status);
          }
          PKAssocNamesFunc make = isFirst ? firstNames : secondNames;
          return make == nullptr
                     ? nullptr
                     : make(broker, context, path, filer, PK_ASSOC_MODE_REFERENCES, &status);
        });
    // After a failure nothing is returned, and the array is freed all the same.
    pk::returnAndFreeArray(array.release(), result, instancesWanted != 0, &status);
    return status;
  });
}

CMPIStatus associationAssociatorNames(const CMPIBroker *broker, const CMPIContext *context,
                                      const CMPIResult *result, const CMPIObjectPath *path,
                                      const char *resultClass, const char *role,
                                      const char *resultRole, const char *firstClass,
                                      const char *secondClass, const char *firstLibrary,
                                      const char *secondLibrary, const char *firstRole,
                                      const char *secondRole, PKAssocNamesFunc firstNames,
                                      PKAssocNamesFunc secondNames) {
  return pk::statusEdge(broker, [&] {
    return associatorsWorker<false>(broker, context, result, path, resultClass, role, resultRole,
                                    nullptr, firstClass, secondClass, firstLibrary, secondLibrary,
                                    firstRole, secondRole, firstNames, secondNames, nullptr,
                                    nullptr);
  });
}

CMPIStatus associationAssociators(const CMPIBroker *broker, const CMPIContext *context,
                                  const CMPIResult *result, const CMPIObjectPath *path,
                                  const char *resultClass, const char *role, const char *resultRole,
                                  const char **propertyList, const char *firstClass,
                                  const char *secondClass, const char *firstLibrary,
                                  const char *secondLibrary, const char *firstRole,
                                  const char *secondRole, PKAssocInstancesFunc firstInstances,
                                  PKAssocInstancesFunc secondInstances) {
  return pk::statusEdge(broker, [&] {
    return associatorsWorker<true>(broker, context, result, path, resultClass, role, resultRole,
                                   propertyList, firstClass, secondClass, firstLibrary,
                                   secondLibrary, firstRole, secondRole, nullptr, nullptr,
                                   firstInstances, secondInstances);
  });
}

CMPIStatus applyResultClass(const CMPIBroker *broker, const CMPIContext *context,
                            const CMPIResult *result, const CMPIArray *array, CMPIType arrayType,
                            const char *resultClass) {
  return pk::statusEdge(broker, [&] {
    pk::DoneOnExit done(result);
    CMPIStatus status{CMPI_RC_OK, nullptr};
    applyWorker(broker, context, result, array, arrayType, resultClass, &status);
    return status;
  });
}

void applyResultClassStatus(const CMPIBroker *broker, const CMPIContext *context,
                            const CMPIResult *result, const CMPIArray *array, CMPIType arrayType,
                            const char *resultClass, CMPIStatus *status) {
  pk::StatusSlot st(status);
  pk::cEdgeVoid(broker, st.get(), [&] {
    applyWorker(broker, context, result, array, arrayType, resultClass, st.get());
  });
}

}  // extern "C"
