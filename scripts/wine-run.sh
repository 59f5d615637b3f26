#!/usr/bin/env bash
# Runs a Windows program of the windows-x64 build under wine64, headless, in a
# Wine prefix of the build's own (WINEPREFIX, made on first use), with Wine's
# own diagnostics off.  ctest uses it as the cross-compiling emulator.
set -euo pipefail
wine=${PROVKIT_WINE:-/usr/lib/wine/wine64}
: "${WINEPREFIX:?WINEPREFIX must name a private Wine prefix of the build}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
# Folders where a test's libraries are found (':'-separated, as for the Linux
# tests) join Windows' search path.
if [ -n "${PK_WINE_LIBRARY_PATH:-}" ]; then
  IFS=: read -ra dirs <<<"$PK_WINE_LIBRARY_PATH"
  winepath=""
  for dir in "${dirs[@]}"; do
    [ -n "$dir" ] && winepath+="Z:${dir//\//\\};"
  done
  export WINEPATH="${winepath}${WINEPATH:-}"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # One process makes the prefix; tests started in parallel wait for it.
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" cmd /c exit >/dev/null 2>&1 || true
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
