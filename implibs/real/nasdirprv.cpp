// KELVA_LocalFS: the volumes of a filer as local file systems, one per volume, named by
// the volume's name.
#include "volumeelements.h"

namespace {
constexpr implib::VolumeElementClass kClass = {"KELVA_LocalFS", "CSCreationClassName", "CSName",
                                               "Name"};
}  // namespace

VOLUME_ELEMENT_LIBRARY(kClass)
