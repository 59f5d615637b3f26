#!/usr/bin/env bash
# fuzz.sh [SECONDS]
# Builds the libFuzzer targets with the fuzz preset (clang, ASan+UBSan) and runs
# each of them for SECONDS (default 10), starting from the seeds in
# fuzz/seeds/<target>/ (CI keeps the default; `scripts/fuzz.sh 600` gives each
# target ten minutes).  Exits non-zero when a target crashes, leaks or trips
# a sanitizer; the input that did it is kept in build/fuzz/crashes/.
set -euo pipefail
seconds=${1:-10}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: $0 [seconds per target, default 10]" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

rc=0
found=0
for target in build/fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "fuzz/seeds/$name" ]; then cp "fuzz/seeds/$name"/* "$corpus"/; fi
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" >"$work/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    echo "$name: passed (${runs:-?} runs in ${seconds} s)"
  else
    tail -n 60 "$work/$name.log" >&2
    mkdir -p build/fuzz/crashes
    cp "$artifacts"/* build/fuzz/crashes/ 2>/dev/null || true
    echo "$name: FAILED (inputs kept in build/fuzz/crashes/)" >&2
    rc=1
  fi
done
if [ "$found" -eq 0 ]; then
  echo "no fuzz targets were built" >&2
  exit 1
fi
exit $rc
