// The few POSIX calls that the tests make, for the Windows test programs
// (force-included there).  The C runtime has equivalents under other names.
#pragma once
#if defined(_WIN32) && defined(__cplusplus)

#include <direct.h>
#include <process.h>
#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

inline int setenv(const char *name, const char *value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// Fills the trailing XXXXXX of the template and makes that directory.
inline char *mkdtemp(char *pattern) {
  if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0) return nullptr;
  return _mkdir(pattern) == 0 ? pattern : nullptr;
}

// No FIFOs: the tests that make one are skipped on Windows.
inline int mkfifo(const char *, int) {
  errno = ENOSYS;
  return -1;
}

#ifndef TIME_UTC
#define TIME_UTC 1
namespace std {
inline int timespec_get(struct timespec *ts, int base) {
  if (base != TIME_UTC) return 0;
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(now);
  ts->tv_sec = static_cast<time_t>(secs.count());
  ts->tv_nsec =
      static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - secs).count());
  return base;
}
}  // namespace std
#endif

#endif
