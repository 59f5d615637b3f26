// The library's frame: process-wide state made at load and closed at unload.
#include "internal.h"

namespace pk {

bool processAttach() { return true; }
void processDetach() {}

}  // namespace pk
