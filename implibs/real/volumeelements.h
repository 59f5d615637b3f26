// What the volume-element libraries share: each presents every volume of a filer
// as one element of its class, named by the volume's name, and answers whether
// such an element exists.  The libraries differ only in their class and keys.
#pragma once

#include "storageobjects.h"

namespace implib {

// The class and key names of one volume-element class.
struct VolumeElementClass {
  const char *className;
  const char *systemClassKey;  // "SystemCreationClassName" or "CSCreationClassName"
  const char *systemKey;       // "SystemName" or "CSName"
  const char *nameKey;         // "DeviceID" or "Name"
};

// Paths and instances of every volume of the filer, in the filer's order.
CMPIArray *volumeElementPaths(const VolumeElementClass &cls, const CMPIBroker *broker,
                              CMPIStatus *status, const CMPIObjectPath *source, const Filer *filer);
CMPIArray *volumeElementInstances(const VolumeElementClass &cls, const CMPIBroker *broker,
                                  CMPIStatus *status, const CMPIObjectPath *source,
                                  const Filer *filer, const char **propertyList);
// The element the path names; an unregistered filer or a volume it does not have
// is CMPI_RC_ERR_NOT_FOUND.
CMPIInstance *volumeElementInstance(const VolumeElementClass &cls, const CMPIBroker *broker,
                                    const CMPIContext *context, CMPIStatus *status,
                                    const CMPIObjectPath *path, const char **propertyList);
// 1 when the element exists, with a copy of its filer record in *filerOut (freeFiler).
int volumeElementExists(const VolumeElementClass &cls, const CMPIBroker *broker,
                        const CMPIContext *context, const CMPIObjectPath *path, Filer **filerOut);

}  // namespace implib

// The four instance functions of a volume-element library of the class.
#define VOLUME_ELEMENT_LIBRARY(cls)                                                 \
  INSTANCE_LIBRARY(cls, implib::volumeElementInstances, implib::volumeElementPaths, \
                   implib::volumeElementInstance, implib::volumeElementExists)
