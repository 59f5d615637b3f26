/* Test hooks of the controller library stand-in.  Not part of the closed
 * library's interface: only tests call them, to drive the out-of-memory paths
 * of the library and of its callers. */
#ifndef WBEMKELVAI_WSITESTING_H
#define WBEMKELVAI_WSITESTING_H

#include <stdint.h>

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

/* The shared test clock: one manual clock for the controller library's time and sleeps
 * (wsi_gettimeofday, waitSeconds) and the embedded object manager's timed waits. */

/* Switches the library's clock to a manual clock at that time; sleepers then sleep until it
 * is advanced past their deadline.  Nothing to free. */
WSI_EXPORT void wsiTestClockSet(int64_t epochSeconds);
/* Moves the manual clock forward and wakes every sleeper whose time has come. */
WSI_EXPORT void wsiTestClockAdvance(int64_t seconds);
/* How many threads sleep on the manual clock now (their deadline not reached yet), so that
 * a test can advance once a thread sleeps; 0 while the system's clock runs. */
WSI_EXPORT int wsiTestClockWaiters(void);
/* Back to the system's clock; wakes every sleeper of the manual clock. */
WSI_EXPORT void wsiTestClockRelease(void);

WSI_END_DECLS

#endif
