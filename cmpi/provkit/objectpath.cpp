// Object paths in the namespace of a request.
#include "provkit/objectpath.h"

#include <cmpimacs.h>

#include "guards.h"
#include "provkit/frame.h"

extern "C" {

char *getNamespaceAsChar(const CMPIBroker *broker, const CMPIObjectPath *path, CMPIStatus *status) {
  if (path == nullptr) {
    raiseCMPIError(broker, status, CMPI_RC_ERR_FAILED, "Namespace is NULL");
    return nullptr;
  }
  CMPIStatus local{CMPI_RC_OK, nullptr};
  pk::CmpiObject<CMPIString> nameSpace(CMGetNameSpace(path, &local));
  if (local.rc != CMPI_RC_OK) {
    pk::adoptStatus(status, local);
    return nullptr;
  }
  pk::adoptStatus(nullptr, local);
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

CMPIObjectPath *createCMPIObjectPath(const CMPIBroker *broker, CMPIStatus *status,
                                     const CMPIObjectPath *source, const char *className) {
  CMPIStatus own{CMPI_RC_OK, nullptr};
  CMPIStatus *st = status != nullptr ? status : &own;
  pk::CmpiObject<CMPIObjectPath> path;
  if (st->rc == CMPI_RC_OK) {
    char *nameSpace = getNamespaceAsChar(broker, source, st);
    if (st->rc == CMPI_RC_OK) path.reset(CMNewObjectPath(broker, nameSpace, className, st));
    wsifree(nameSpace);
  }
  if (st->rc == CMPI_RC_OK && path)
    pk::adoptStatus(st, CMSetHostAndNameSpaceFromObjectPath(path.get(), source));
  else if (st->rc == CMPI_RC_OK)
    raiseCMPIError(broker, st, CMPI_RC_ERR_FAILED, "Unable to create object path");
  // A half-made path goes back to the broker, so a failure leaves nothing to release.
  CMPIObjectPath *result = st->rc == CMPI_RC_OK ? path.release() : nullptr;
  pk::adoptStatus(nullptr, own);
  return result;
}

}  // extern "C"
