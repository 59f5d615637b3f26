// The process start that the tests make, for the Windows test programs: the C
// runtime's _spawnve, with the child's handle standing for its process id.
#pragma once

#include <errno.h>
#include <process.h>
#include <stdint.h>
#include <sys/types.h>

typedef void *posix_spawn_file_actions_t;
typedef void *posix_spawnattr_t;

inline int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *,
                       const posix_spawnattr_t *, char *const argv[], char *const envp[]) {
  intptr_t child = _spawnve(_P_NOWAIT, path, argv, envp);
  if (child == -1) return errno;
  *pid = static_cast<pid_t>(child);  // handles keep to 32 bits
  return 0;
}
