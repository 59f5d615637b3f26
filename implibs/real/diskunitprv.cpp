// KELVA_LogicalDisk: the volumes of a filer as logical disks, one per volume, named by
// the volume's name.
#include "volumeelements.h"

namespace {
constexpr implib::VolumeElementClass kClass = {"KELVA_LogicalDisk", "SystemCreationClassName",
                                               "SystemName", "DeviceID"};
}  // namespace

VOLUME_ELEMENT_LIBRARY(kClass)
