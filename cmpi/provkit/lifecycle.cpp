// Library load and unload: the only entry points provkit has besides its
// exported functions.
#include "internal.h"
#include "platform/platform.h"

PK_LIBRARY_HOOKS(pk::processAttach, pk::processDetach)
