// The controller library's clock: the system's, or a manual one that a test
// sets and advances (wsitesting.h).  The embedded object manager's timed waits
// read the same clock through these hooks, so that one advance wakes every
// sleeper of the process, whichever library it sleeps in.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace wsi::clock {

// Wall-clock time: the manual clock's while one is set.
PK_TEST_HOOK pk::platform::WallTime now();
// True while a test's manual clock is set.
PK_TEST_HOOK bool manualSet();
// Sleeps on the clock: a manual clock wakes the sleeper once advanced past
// the deadline, or when it is released.
PK_TEST_HOOK void sleepMillis(uint64_t millis);

// A wait of another kind (a condition wait with a wall-clock deadline) that
// counts as a sleeper of the manual clock while it lasts.
class ManualWait {
 public:
  // Registers the wait when a manual clock is set; active() tells whether it is.
  PK_TEST_HOOK ManualWait(int64_t deadlineSeconds, int64_t deadlineNanos);
  PK_TEST_HOOK ~ManualWait();
  ManualWait(const ManualWait &) = delete;
  ManualWait &operator=(const ManualWait &) = delete;

  bool active() const { return session_ != 0; }
  // True once the manual clock reached the deadline or was released.
  PK_TEST_HOOK bool expired() const;

 private:
  uint64_t session_ = 0;
  int64_t deadlineMicros_ = 0;
};

}  // namespace wsi::clock
