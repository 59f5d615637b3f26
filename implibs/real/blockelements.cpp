// Paths, lists and properties of the block elements' libraries.
#include "blockelements.h"

#include <cmpimacs.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <provkit/registry.h>
#include <wbemkelvai/wsifiler.h>

#include <new>

namespace implib {

List newList(WSIListFreeFunc freeElement) {
  List list(WSIList_new(), ListFree{freeElement});
  if (!list) throw std::bad_alloc();
  return list;
}

std::string systemNameOf(const Filer *filer) {
  return std::string("KELVA:") + (filer->systemId != nullptr ? filer->systemId : "");
}

CMPIObjectPath *instanceIdPath(const CMPIBroker *broker, CMPIStatus *status,
                               const CMPIObjectPath *source, const char *className,
                               const Filer *filer, const char *local) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, className));
  if (failed(status)) return nullptr;
  WsiText id(encodeInstanceID(filer->systemId, local));
  if (id == nullptr) throw std::bad_alloc();
  CMPIStatus added = CMAddKey(path.get(), "InstanceID", id.get(), CMPI_chars);
  if (added.rc != CMPI_RC_OK) {
    raise(broker, status, added.rc, std::string(className) + " unable to set InstanceID");
    return nullptr;
  }
  return path.release();
}

FilerCopy filerOfInstanceId(const CMPIBroker *broker, const CMPIContext *context,
                            CMPIStatus *status, const CMPIObjectPath *path, std::string *local) {
  WsiText id(getKeyAsChar(status, path, "InstanceID"));
  if (failed(status)) return nullptr;
  Record record;
  char *systemId = nullptr;
  char *name = nullptr;
  if (id == nullptr ||
      getFilerAndNameFromInstanceId(record.get(), id.get(), &systemId, nullptr, &name) == 0 ||
      systemId == nullptr || name == nullptr) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER,
          std::string("Malformed InstanceID ") + (id != nullptr ? id.get() : ""));
    return nullptr;
  }
  *local = name;
  return FilerCopy(getFilerByName(status, broker, context, path, systemId));
}

void Properties::set(const char *name, const CMPIValue *value, CMPIType type) {
  if (failed(status_)) return;
  CMPIStatus set = CMSetProperty(instance_, name, value, type);
  if (set.rc != CMPI_RC_OK) raise(broker_, status_, set.rc, std::string("Unable to set ") + name);
}

Properties &Properties::text(const char *name, const char *value) {
  if (value != nullptr) set(name, reinterpret_cast<const CMPIValue *>(value), CMPI_chars);
  return *this;
}

Properties &Properties::uint16(const char *name, CMPIUint16 value) {
  CMPIValue v;
  v.uint16 = value;
  set(name, &v, CMPI_uint16);
  return *this;
}

Properties &Properties::uint64(const char *name, CMPIUint64 value) {
  CMPIValue v;
  v.uint64 = value;
  set(name, &v, CMPI_uint64);
  return *this;
}

Properties &Properties::boolean(const char *name, bool value) {
  CMPIValue v;
  v.boolean = value ? 1 : 0;
  set(name, &v, CMPI_boolean);
  return *this;
}

Properties &Properties::uint16s(const char *name, std::initializer_list<CMPIUint16> values) {
  List list = newList(wsifree);
  for (CMPIUint16 value : values) addUINT16ToList(broker_, status_, value, list.get());
  return uint16s(name, list.get());
}

Properties &Properties::uint16s(const char *name, WSIList *values) {
  if (failed(status_)) return *this;
  CmpiObject<CMPIArray> array(createArrayFromUINT16List(broker_, status_, values));
  if (failed(status_)) return *this;
  CMPIValue v;
  v.array = array.get();
  set(name, &v, CMPI_uint16A);
  return *this;
}

}  // namespace implib
