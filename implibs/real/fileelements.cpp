// File-service elements: instances keyed by InstanceID, made from what a library
// reads of a filer.
#include "fileelements.h"

#include <cmpimacs.h>
#include <provkit/femanip.h>
#include <provkit/frame.h>
#include <provkit/objectpath.h>
#include <provkit/properties.h>
#include <provkit/registry.h>

#include <new>

namespace implib {

FileElement &FileElement::add(const char *name, FileValue value) {
  properties.emplace_back(name, std::move(value));
  return *this;
}

FileElement &FileElement::text(const char *name, std::string value) {
  FileValue v;
  v.text = std::move(value);
  return add(name, std::move(v));
}

FileElement &FileElement::number(const char *name, CMPIType type, std::uint64_t value) {
  FileValue v;
  v.type = type;
  v.number = value;
  return add(name, std::move(v));
}

FileElement &FileElement::texts(const char *name, std::vector<std::string> values) {
  FileValue v;
  v.type = CMPI_charsA;
  v.texts = std::move(values);
  return add(name, std::move(v));
}

FileElement shareElement(const std::string &system, int type, const std::string &name,
                         const std::string &path) {
  std::string mount = path;
  std::string shareName = name;
  Share share{type, mount.data(), shareName.data()};
  WsiText id(encodeFileShareID(system.c_str(), &share));
  if (id == nullptr) throw std::bad_alloc();
  FileElement element;
  element.instanceId = id.get();
  element.text("ElementName", name)
      .text("Name", name)
      .text("SystemName", system)
      .text("Path", path)
      .text("Volume", volumeOfPath(path))
      .uint16("FileSharingProtocol", type == PK_SHARE_TYPE_CIFS ? 3 : 2)
      .boolean("SharingDirectory", true);
  return element;
}

Element newRequest(const char *api) {
  Element request(createElement(api));
  if (request == nullptr) throw std::bad_alloc();
  return request;
}

std::vector<const WSIElement *> childrenOf(const WSIElement *element) {
  std::vector<const WSIElement *> out;
  if (element == nullptr) return out;
  struct IteratorFree {
    void operator()(WSIIterator *iterator) const { releaseIterator(iterator); }
  };
  std::unique_ptr<WSIIterator, IteratorFree> walk(createIterator(element));
  if (walk == nullptr) throw std::bad_alloc();
  while (const WSIElement *child = getNextElement(walk.get())) out.push_back(child);
  return out;
}

std::string textOf(const WSIElement *element, const char *name) {
  const char *text = getStringElement(element, name);
  return text != nullptr ? text : "";
}

FilerConnection::FilerConnection(const Filer *filer)
    : server_(createServerInfo(filer->host, filer->userName, filer->password, filer->connParam3,
                               filer->connParam1, filer->connParam2)) {
  if (server_ == nullptr) throw std::bad_alloc();
}

Element FilerConnection::send(const Element &request) {
  Element answer(invokeServerElement(server_.get(), request.get()));
  if (answer == nullptr) throw std::bad_alloc();
  return answer;
}

std::string FilerConnection::reason(const Element &answer) const {
  WsiText text(getErrorWithIP(answer.get(), server_.get()));
  return text != nullptr ? text.get() : "no answer";
}

std::string systemNameOf(const Filer *filer) {
  return std::string("KELVA:") + (filer->systemId != nullptr ? filer->systemId : "");
}

std::string volumeOfPath(const std::string &path) {
  static const std::string prefix = "/vol/";
  if (path.compare(0, prefix.size(), prefix) != 0) return "";
  std::string rest = path.substr(prefix.size());
  return rest.substr(0, rest.find('/'));
}

namespace {

void adopt(const CMPIBroker *broker, CMPIStatus *status, CMPIStatus result,
           const std::string &what) {
  if (result.rc == CMPI_RC_OK || failed(status)) return;
  std::string message = what;
  const char *text = result.msg != nullptr ? CMGetCharsPtr(result.msg, nullptr) : nullptr;
  if (text != nullptr) message.append(": ").append(text);
  raise(broker, status, result.rc, message);
}

CMPIObjectPath *elementPath(const FileElementClass &cls, const CMPIBroker *broker,
                            CMPIStatus *status, const CMPIObjectPath *source,
                            const FileElement &element) {
  if (failed(status)) return nullptr;
  CmpiObject<CMPIObjectPath> path(createCMPIObjectPath(broker, status, source, cls.className));
  if (failed(status)) return nullptr;
  adopt(broker, status, CMAddKey(path.get(), "InstanceID", element.instanceId.c_str(), CMPI_chars),
        "InstanceID");
  return failed(status) ? nullptr : path.release();
}

void setValue(const CMPIBroker *broker, CMPIStatus *status, CMPIInstance *instance,
              const std::string &name, const FileValue &value) {
  CMPIValue v;
  switch (value.type) {
    case CMPI_uint16:
      v.uint16 = static_cast<CMPIUint16>(value.number);
      break;
    case CMPI_uint64:
      v.uint64 = value.number;
      break;
    case CMPI_boolean:
      v.boolean = static_cast<CMPIBoolean>(value.number);
      break;
    case CMPI_charsA: {
      CMPIStatus rc{CMPI_RC_OK, nullptr};
      CmpiObject<CMPIArray> array(
          CMNewArray(broker, static_cast<CMPICount>(value.texts.size()), CMPI_string, &rc));
      if (!array) {
        adopt(broker, status, rc.rc != CMPI_RC_OK ? rc : CMPIStatus{CMPI_RC_ERR_FAILED, nullptr},
              name);
        return;
      }
      CMPICount index = 0;
      for (const std::string &text : value.texts) {
        adopt(broker, status, CMSetArrayElementAt(array.get(), index++, text.c_str(), CMPI_chars),
              name);
        if (failed(status)) return;
      }
      v.array = array.get();
      adopt(broker, status, CMSetProperty(instance, name.c_str(), &v, CMPI_stringA), name);
      return;
    }
    default:
      adopt(broker, status, CMSetProperty(instance, name.c_str(), value.text.c_str(), CMPI_chars),
            name);
      return;
  }
  adopt(broker, status, CMSetProperty(instance, name.c_str(), &v, value.type), name);
}

CMPIInstance *elementInstance(const FileElementClass &cls, const CMPIBroker *broker,
                              CMPIStatus *status, const CMPIObjectPath *source,
                              const FileElement &element, const char **propertyList) {
  CmpiObject<CMPIObjectPath> path(elementPath(cls, broker, status, source, element));
  if (failed(status)) return nullptr;
  CmpiObject<CMPIInstance> instance(newCMPIInstance(broker, path.get(), status, propertyList));
  if (failed(status)) return nullptr;
  adopt(broker, status,
        CMSetProperty(instance.get(), "InstanceID", element.instanceId.c_str(), CMPI_chars),
        "InstanceID");
  for (const auto &[name, value] : element.properties) {
    if (failed(status)) break;
    if (isPropertyPresent(propertyList, name.c_str()) != 0)
      setValue(broker, status, instance.get(), name, value);
  }
  return failed(status) ? nullptr : instance.release();
}

// The registered filer of the path's InstanceID, and the InstanceID itself; a
// filer that is not registered is CMPI_RC_ERR_NOT_FOUND.
FilerCopy filerOfInstanceId(const CMPIBroker *broker, const CMPIContext *context,
                            CMPIStatus *status, const CMPIObjectPath *path,
                            std::string &instanceIdOut) {
  WsiText id(getKeyAsChar(status, path, "InstanceID"));
  if (failed(status)) return nullptr;
  if (id == nullptr) {
    raise(broker, status, CMPI_RC_ERR_INVALID_PARAMETER, "Missing key InstanceID");
    return nullptr;
  }
  instanceIdOut = id.get();
  Record record;
  char *systemId = nullptr;
  if (getFilerAndNameFromInstanceId(record.get(), id.get(), &systemId, nullptr, nullptr) == 0) {
    raise(broker, status, CMPI_RC_ERR_NOT_FOUND, "No such instance: " + instanceIdOut);
    return nullptr;
  }
  return FilerCopy(getFilerByName(status, broker, context, path, systemId));
}

// The filer's element with the InstanceID; none is CMPI_RC_ERR_NOT_FOUND.
bool findElement(const FileElementClass &cls, const CMPIBroker *broker, CMPIStatus *status,
                 const Filer *filer, const std::string &instanceId, FileElement &out) {
  if (cls.find != nullptr) return cls.find(broker, status, filer, instanceId, out);
  std::vector<FileElement> all = cls.read(broker, status, filer);
  if (failed(status)) return false;
  for (FileElement &element : all) {
    if (element.instanceId == instanceId) {
      out = std::move(element);
      return true;
    }
  }
  raise(broker, status, CMPI_RC_ERR_NOT_FOUND,
        std::string(cls.className) + " not found: " + instanceId);
  return false;
}

}  // namespace

CMPIArray *fileElementPaths(const FileElementClass &cls, const CMPIBroker *broker,
                            CMPIStatus *status, const CMPIObjectPath *source, const Filer *filer) {
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<FileElement> all = cls.read(broker, status, filer);
    if (failed(status)) return nullptr;
    return arrayOfEach<CMPIObjectPath>(broker, status, all, [&](const FileElement &element) {
      return elementPath(cls, broker, status, source, element);
    });
  });
}

CMPIArray *fileElementInstances(const FileElementClass &cls, const CMPIBroker *broker,
                                CMPIStatus *status, const CMPIObjectPath *source,
                                const Filer *filer, const char **propertyList) {
  return cEdge<CMPIArray *>(broker, status, nullptr, [&]() -> CMPIArray * {
    std::vector<FileElement> all = cls.read(broker, status, filer);
    if (failed(status)) return nullptr;
    return arrayOfEach<CMPIInstance>(broker, status, all, [&](const FileElement &element) {
      return elementInstance(cls, broker, status, source, element, propertyList);
    });
  });
}

CMPIInstance *fileElementInstance(const FileElementClass &cls, const CMPIBroker *broker,
                                  const CMPIContext *context, CMPIStatus *status,
                                  const CMPIObjectPath *path, const char **propertyList) {
  return cEdge<CMPIInstance *>(broker, status, nullptr, [&]() -> CMPIInstance * {
    clearCMPIError(broker, status);
    std::string id;
    FilerCopy filer = filerOfInstanceId(broker, context, status, path, id);
    if (filer == nullptr) return nullptr;
    FileElement element;
    if (!findElement(cls, broker, status, filer.get(), id, element)) return nullptr;
    return elementInstance(cls, broker, status, path, element, propertyList);
  });
}

int fileElementExists(const FileElementClass &cls, const CMPIBroker *broker,
                      const CMPIContext *context, const CMPIObjectPath *path, Filer **filerOut) {
  return existsBy(broker, filerOut, [&](CMPIStatus *status, FilerCopy &filer) {
    std::string id;
    filer = filerOfInstanceId(broker, context, status, path, id);
    if (filer == nullptr) return false;
    FileElement element;
    return findElement(cls, broker, status, filer.get(), id, element);
  });
}

}  // namespace implib
