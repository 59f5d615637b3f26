/* Test hooks of the controller library stand-in.  Not part of the closed
 * library's interface: only tests call them, to drive the out-of-memory paths
 * of the library and of its callers. */
#ifndef WBEMKELVAI_WSITESTING_H
#define WBEMKELVAI_WSITESTING_H

#include "wsi_export.h"

WSI_BEGIN_DECLS

/* Makes the Nth call (1 = the next one) of wsicalloc or wsistrdup from now on
 * fail as if memory ran out, once; 0 turns the failing allocator off.  Counts
 * over all threads.  Nothing to free. */
WSI_EXPORT void wsiTestFailAllocation(unsigned long long nth);

/* How many calls of wsicalloc and wsistrdup have been made since the last
 * wsiTestFailAllocation; lets a test find how many allocations a call makes
 * and then fail each of them in turn.  Nothing to free. */
WSI_EXPORT unsigned long long wsiTestAllocationCount(void);

WSI_END_DECLS

#endif
