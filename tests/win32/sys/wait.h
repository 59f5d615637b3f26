// Waiting for a child that posix_spawn (win32/spawn.h) started, for the Windows
// test programs: the C runtime's _cwait.  A child always ends by exiting there.
#pragma once

#include <process.h>
#include <stdint.h>
#include <sys/types.h>

#define WIFEXITED(status) 1
#define WEXITSTATUS(status) (((status) >> 8) & 0xff)

inline pid_t waitpid(pid_t pid, int *status, int) {
  int code = 0;
  if (_cwait(&code, static_cast<intptr_t>(pid), _WAIT_CHILD) == -1) return -1;
  *status = (code & 0xff) << 8;
  return pid;
}
