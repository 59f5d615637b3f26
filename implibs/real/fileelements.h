// What the file-service libraries (CIFS shares, NFS exports, quota entries) share:
// each presents a filer's records as instances of one class keyed by InstanceID
// alone ("KELVA:<systemId>:<local part>").  A library only reads its records into
// FileElements; enumeration, get and the existence check follow from them: a get
// finds the filer from the InstanceID and the element among the filer's own.
#pragma once

#include <wbemkelvai/wsiapi.h>

#include "storageobjects.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace implib {

// One property value of an element.
struct FileValue {
  CMPIType type = CMPI_chars;  // CMPI_chars, CMPI_uint16, CMPI_uint64, CMPI_boolean, CMPI_charsA
  std::string text;
  std::uint64_t number = 0;
  std::vector<std::string> texts;
};

// One instance to be: its InstanceID and its other properties, in order.
struct FileElement {
  std::string instanceId;
  std::vector<std::pair<std::string, FileValue>> properties;

  FileElement &text(const char *name, std::string value);
  FileElement &uint16(const char *name, std::uint16_t value) {
    return number(name, CMPI_uint16, value);
  }
  FileElement &uint64(const char *name, std::uint64_t value) {
    return number(name, CMPI_uint64, value);
  }
  FileElement &boolean(const char *name, bool value) {
    return number(name, CMPI_boolean, value ? 1 : 0);
  }
  FileElement &texts(const char *name, std::vector<std::string> values);

 private:
  FileElement &add(const char *name, FileValue value);
  // CMPI_uint16, CMPI_uint64 or CMPI_boolean (0 or 1).
  FileElement &number(const char *name, CMPIType type, std::uint64_t value);
};

// Reads every element of the filer; a failure is raised into status (the result is
// then ignored).
using FileElementReader = std::vector<FileElement> (*)(const CMPIBroker *broker, CMPIStatus *status,
                                                       const Filer *filer);

// Reads the filer's one element with the InstanceID into out; none is raised into status as
// CMPI_RC_ERR_NOT_FOUND.  For a class whose elements cost too much to read all for a get.
using FileElementFinder = bool (*)(const CMPIBroker *broker, CMPIStatus *status, const Filer *filer,
                                   const std::string &instanceId, FileElement &out);

// A file-service class: its name, the reader of its elements and, when a get should not
// read them all, the finder of one.
struct FileElementClass {
  const char *className;
  FileElementReader read;
  FileElementFinder find = nullptr;
};

// ---- Requests to the filer ---------------------------------------------------------

// New request of the API; out of memory throws.
Element newRequest(const char *api);
// The children of element, in order (none for null).
std::vector<const WSIElement *> childrenOf(const WSIElement *element);
// The text of element's child name; "" when there is none.
std::string textOf(const WSIElement *element, const char *name);

// One connection to the filer for the requests of one call.
class FilerConnection {
 public:
  explicit FilerConnection(const Filer *filer);  // out of memory throws
  // The filer's answer to the request (failed when the filer could not be reached).
  Element send(const Element &request);
  // "<host>: <reason> (error <number>)" of a failed answer.
  std::string reason(const Element &answer) const;

 private:
  Server server_;
};

// "KELVA:<systemId>" of the filer.
std::string systemNameOf(const Filer *filer);
// The element of a share (CIFS or NFS, by its type) of the system: its file share
// ID, and the properties every share has; out of memory throws.
FileElement shareElement(const std::string &system, int type, const std::string &name,
                         const std::string &path);
// The volume a "/vol/<volume>/..." path lies in; empty for any other path.
std::string volumeOfPath(const std::string &path);

CMPIArray *fileElementPaths(const FileElementClass &cls, const CMPIBroker *broker,
                            CMPIStatus *status, const CMPIObjectPath *source, const Filer *filer);
CMPIArray *fileElementInstances(const FileElementClass &cls, const CMPIBroker *broker,
                                CMPIStatus *status, const CMPIObjectPath *source,
                                const Filer *filer, const char **propertyList);
// The element the path's InstanceID names; a filer that is not registered, or that
// has no such element, is CMPI_RC_ERR_NOT_FOUND.
CMPIInstance *fileElementInstance(const FileElementClass &cls, const CMPIBroker *broker,
                                  const CMPIContext *context, CMPIStatus *status,
                                  const CMPIObjectPath *path, const char **propertyList);
// 1 when the element exists, with a copy of its filer record in *filerOut (freeFiler).
int fileElementExists(const FileElementClass &cls, const CMPIBroker *broker,
                      const CMPIContext *context, const CMPIObjectPath *path, Filer **filerOut);

}  // namespace implib

// The four instance functions of a file-element library of the class.
#define FILE_ELEMENT_LIBRARY(cls)                                               \
  INSTANCE_LIBRARY(cls, implib::fileElementInstances, implib::fileElementPaths, \
                   implib::fileElementInstance, implib::fileElementExists)
