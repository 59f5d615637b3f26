// The library's clock and its manual stand-in for tests.  Sleepers of the
// manual clock are kept by deadline, so that a test sees a sleeper leave the
// count the moment an advance reaches its deadline, before its thread runs.
#include "clock.h"

#include <condition_variable>
#include <map>
#include <mutex>

#include "wbemkelvai/wsitesting.h"

namespace wsi::clock {
namespace {

struct Manual {
  std::mutex lock;
  std::condition_variable advanced;
  uint64_t session = 0;  // 0 while the system's clock runs; a new number each time a test sets one
  int64_t micros = 0;
  std::multimap<int64_t, uint64_t> sleepers;  // deadline -> session
};

// Never destroyed: detached threads may still sleep while the process exits.
Manual &manual() {
  static Manual *state = new Manual;
  return *state;
}

using Sleeper = std::multimap<int64_t, uint64_t>::iterator;

}  // namespace

pk::platform::WallTime now() {
  Manual &m = manual();
  {
    std::lock_guard<std::mutex> hold(m.lock);
    if (m.session != 0) {
      return {m.micros / 1000000, static_cast<int32_t>(m.micros % 1000000)};
    }
  }
  return pk::platform::wallClock();
}

bool manualSet() {
  Manual &m = manual();
  std::lock_guard<std::mutex> hold(m.lock);
  return m.session != 0;
}

void sleepMillis(uint64_t millis) {
  Manual &m = manual();
  std::unique_lock<std::mutex> hold(m.lock);
  if (m.session == 0) {
    hold.unlock();
    pk::platform::sleepMillis(millis);
    return;
  }
  const uint64_t session = m.session;
  const int64_t deadline = m.micros + static_cast<int64_t>(millis) * 1000;
  Sleeper self = m.sleepers.emplace(deadline, session);
  m.advanced.wait(hold, [&] { return m.session != session || m.micros >= deadline; });
  m.sleepers.erase(self);
}

ManualWait::ManualWait(int64_t deadlineSeconds, int64_t deadlineNanos) {
  Manual &m = manual();
  std::lock_guard<std::mutex> hold(m.lock);
  if (m.session == 0) return;
  session_ = m.session;
  deadlineMicros_ = deadlineSeconds * 1000000 + deadlineNanos / 1000;
  m.sleepers.emplace(deadlineMicros_, session_);
}

ManualWait::~ManualWait() {
  if (session_ == 0) return;
  Manual &m = manual();
  std::lock_guard<std::mutex> hold(m.lock);
  auto range = m.sleepers.equal_range(deadlineMicros_);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == session_) {
      m.sleepers.erase(it);
      break;
    }
  }
}

bool ManualWait::expired() const {
  Manual &m = manual();
  std::lock_guard<std::mutex> hold(m.lock);
  return m.session != session_ || m.micros >= deadlineMicros_;
}

}  // namespace wsi::clock

using wsi::clock::manual;

extern "C" {

void wsiTestClockSet(int64_t epochSeconds) {
  auto &m = manual();
  {
    std::lock_guard<std::mutex> hold(m.lock);
    static uint64_t sessions = 0;
    m.session = ++sessions;
    m.micros = epochSeconds * 1000000;
  }
  // Sleepers of an earlier manual clock end their sleep.
  m.advanced.notify_all();
}

void wsiTestClockAdvance(int64_t seconds) {
  auto &m = manual();
  {
    std::lock_guard<std::mutex> hold(m.lock);
    if (m.session == 0 || seconds <= 0) return;
    m.micros += seconds * 1000000;
  }
  m.advanced.notify_all();
}

int wsiTestClockWaiters(void) {
  auto &m = manual();
  std::lock_guard<std::mutex> hold(m.lock);
  if (m.session == 0) return 0;
  int count = 0;
  // Only those still asleep: a deadline already reached is a thread on its way out.
  for (auto it = m.sleepers.upper_bound(m.micros); it != m.sleepers.end(); ++it) {
    if (it->second == m.session) ++count;
  }
  return count;
}

void wsiTestClockRelease(void) {
  auto &m = manual();
  {
    std::lock_guard<std::mutex> hold(m.lock);
    m.session = 0;
  }
  m.advanced.notify_all();
}

}  // extern "C"
