// KELVA_VariVolExtent: the volumes of a filer as storage extents, one per volume, named by
// the volume's name.
#include "volumeelements.h"

namespace {
constexpr implib::VolumeElementClass kClass = {"KELVA_VariVolExtent", "SystemCreationClassName",
                                               "SystemName", "DeviceID"};
}  // namespace

VOLUME_ELEMENT_LIBRARY(kClass)
