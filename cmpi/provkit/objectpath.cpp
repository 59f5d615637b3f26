// Object paths and association instances in the namespace of a request, and
// the tests of a path's class.
#include "provkit/objectpath.h"

#include <cmpimacs.h>
#include <wbemkelvai/wsifiler.h>

#include "guards.h"
#include "provkit/frame.h"

namespace {

using pk::failed;

// Sets name on the instance as a reference when the property list selects it;
// false with the broker's reason in the status when that fails.
bool setRoleWhenSelected(CMPIInstance *instance, const char **propertyList, const char *role,
                         const CMPIObjectPath *reference, CMPIStatus *status) {
  if (!isPropertyPresent(propertyList, role)) return true;
  CMPIValue value;
  value.ref = const_cast<CMPIObjectPath *>(reference);
  pk::adoptStatus(status, CMSetProperty(instance, role, &value, CMPI_ref));
  return !failed(status);
}

bool setUint16WhenSelected(CMPIInstance *instance, const char **propertyList, const char *name,
                           CMPIUint16 number, CMPIStatus *status) {
  if (!isPropertyPresent(propertyList, name)) return true;
  CMPIValue value;
  value.uint16 = number;
  pk::adoptStatus(status, CMSetProperty(instance, name, &value, CMPI_uint16));
  return !failed(status);
}

}  // namespace

extern "C" {

const char *getKELVANamespace(void) { return "root/kelva"; }

const char *getINTEROPNamespace(void) { return "interop"; }

char *getNamespaceAsChar(const CMPIBroker *broker, const CMPIObjectPath *path, CMPIStatus *status) {
  if (path == nullptr) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Namespace is NULL");
    return nullptr;
  }
  // Read into a status of its own: the broker overwrites what it is given,
  // and the caller's may hold an earlier message.
  CMPIStatus local{CMPI_RC_OK, nullptr};
  pk::CmpiObject<CMPIString> nameSpace(CMGetNameSpace(path, &local));
  pk::adoptStatus(failed(&local) ? status : nullptr, local);
  if (failed(&local)) return nullptr;
  if (!nameSpace) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Namespace is NULL");
    return nullptr;
  }
  const char *text = CMGetCharsPtr(nameSpace.get(), nullptr);
  if (text == nullptr) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Could not get Namespace as char");
    return nullptr;
  }
  return wsistrdup(text);
}

CMPIObjectPath *getClassObjectPath(const CMPIBroker *broker, const CMPIContext * /*context*/,
                                   const CMPIObjectPath *source, const char *className,
                                   CMPIStatus *status) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIObjectPath> path(CMNewObjectPath(broker, "empty", className, st.get()));
  if (!st.ok()) return nullptr;
  // The namespace placeholder is replaced from the request; a failure there
  // still leaves a usable path of the class.
  if (path && source != nullptr)
    pk::adoptStatus(nullptr, CMSetHostAndNameSpaceFromObjectPath(path.get(), source));
  return path.release();
}

CMPIObjectPath *createCMPIObjectPath(const CMPIBroker *broker, CMPIStatus *status,
                                     const CMPIObjectPath *source, const char *className) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIObjectPath> path;
  if (st.ok()) {
    char *nameSpace = getNamespaceAsChar(broker, source, st.get());
    if (st.ok()) path.reset(CMNewObjectPath(broker, nameSpace, className, st.get()));
    wsifree(nameSpace);
  }
  if (st.ok() && path)
    pk::adoptStatus(st.get(), CMSetHostAndNameSpaceFromObjectPath(path.get(), source));
  else if (st.ok())
    raiseCMPIError(broker, st.get(), CMPI_RC_ERR_FAILED, "Unable to create object path");
  // A half-made path goes back to the broker, so a failure leaves nothing to release.
  return st.ok() ? path.release() : nullptr;
}

CMPIObjectPath *newAssociationPathFromKeys(CMPIStatus *status, const CMPIBroker *broker,
                                           const CMPIObjectPath *source, const char *assocClass,
                                           const char *firstRole, const CMPIObjectPath *firstRef,
                                           const char *secondRole,
                                           const CMPIObjectPath *secondRef) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, st.get(), source, assocClass));
  if (!st.ok() || !path) return nullptr;
  const char *roles[2] = {firstRole, secondRole};
  const CMPIObjectPath *refs[2] = {firstRef, secondRef};
  for (int i = 0; i < 2; ++i) {
    CMPIValue value;
    value.ref = const_cast<CMPIObjectPath *>(refs[i]);
    pk::adoptStatus(st.get(), CMAddKey(path.get(), roles[i], &value, CMPI_ref));
    if (!st.ok()) return nullptr;
  }
  return path.release();
}

CMPIInstance *newAssociationInstFromKeys(CMPIStatus *status, const CMPIBroker *broker,
                                         const CMPIObjectPath *source, const char *assocClass,
                                         const char *firstRole, const CMPIObjectPath *firstRef,
                                         const char *secondRole, const CMPIObjectPath *secondRef,
                                         const char **propertyList) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIObjectPath> path(newAssociationPathFromKeys(
      st.get(), broker, source, assocClass, firstRole, firstRef, secondRole, secondRef));
  if (!st.ok() || !path) return nullptr;
  pk::CmpiObject<CMPIInstance> instance(
      newCMPIInstance(broker, path.get(), st.get(), propertyList));
  if (!st.ok() || !instance) return nullptr;
  if (!setRoleWhenSelected(instance.get(), propertyList, firstRole, firstRef, st.get()) ||
      !setRoleWhenSelected(instance.get(), propertyList, secondRole, secondRef, st.get()))
    return nullptr;
  return instance.release();
}

CMPIInstance *settingDataInstFromKeys(const CMPIBroker *broker, CMPIStatus *status,
                                      const CMPIContext * /*context*/, const CMPIObjectPath *source,
                                      const CMPIObjectPath *managedElement,
                                      const CMPIObjectPath *settingData, const char **propertyList,
                                      const char *assocClass, CMPIUint16 isCurrent,
                                      CMPIUint16 isDefault) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIInstance> instance(
      newAssociationInstFromKeys(st.get(), broker, source, assocClass, "ManagedElement",
                                 managedElement, "SettingData", settingData, propertyList));
  if (!st.ok() || !instance) return nullptr;
  if (!setUint16WhenSelected(instance.get(), propertyList, "IsDefault", isDefault, st.get()) ||
      !setUint16WhenSelected(instance.get(), propertyList, "IsCurrent", isCurrent, st.get()))
    return nullptr;
  return instance.release();
}

CMPIInstance *newCMPIInstance(const CMPIBroker *broker, const CMPIObjectPath *path,
                              CMPIStatus *status, const char **propertyList) {
  pk::StatusSlot st(status);
  pk::CmpiObject<CMPIInstance> instance(CMNewInstance(broker, path, st.get()));
  if (!st.ok() || !instance) return nullptr;
  pk::adoptStatus(st.get(), CMSetPropertyFilter(instance.get(), propertyList, nullptr));
  return st.ok() ? instance.release() : nullptr;
}

char *getObjectPathClass(const CMPIBroker *broker, const CMPIObjectPath *path, CMPIStatus *status) {
  pk::StatusSlot st(status);
  if (path == nullptr) {
    pk::setCode(st.get(), CMPI_RC_ERR_INVALID_PARAMETER);
    return nullptr;
  }
  // The class name is the path's own; giving it back early frees nothing the
  // path still needs.
  pk::CmpiObject<CMPIString> name(CMGetClassName(path, st.get()));
  if (!st.ok()) return nullptr;
  const char *text = name ? CMGetCharsPtr(name.get(), nullptr) : nullptr;
  char *copy = text != nullptr ? wsistrdup(text) : nullptr;
  if (copy == nullptr)
    raiseCMPIError(broker, st.get(), CMPI_RC_ERR_FAILED,
                   "Insf. Memory: Failed to allocate class name");
  return copy;
}

const char *getClassNameAsConstChar(CMPIStatus *status, const CMPIObjectPath *path) {
  pk::StatusSlot st(status);
  if (path == nullptr) {
    pk::setCode(st.get(), CMPI_RC_ERR_INVALID_PARAMETER);
    return nullptr;
  }
  CMPIString *name = CMGetClassName(path, st.get());
  if (!st.ok() || name == nullptr) return nullptr;
  return CMGetCharsPtr(name, nullptr);
}

int classIsA(CMPIStatus *status, const CMPIBroker *broker, const CMPIObjectPath *path,
             const char *className) {
  pk::StatusSlot st(status);
  CMPIBoolean isA = CMClassPathIsA(broker, path, className, st.get());
  return st.ok() && isA ? 1 : 0;
}

int classIsExact(CMPIStatus *status, const char *className, const CMPIObjectPath *path) {
  if (className == nullptr) return 0;
  const char *name = getClassNameAsConstChar(status, path);
  return name != nullptr && strCompare(name, className) == 0 ? 1 : 0;
}

}  // extern "C"
