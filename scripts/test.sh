#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what is missing, then
# builds and tests the normal build, checks formatting and runs clang-tidy,
# builds and tests the AddressSanitizer/UBSan and the
# ThreadSanitizer builds, fuzzes the decoders for a short fixed time,
# cross-builds the 32-bit Windows DLLs and checks their exports, and builds the
# 64-bit Windows twin and runs its tests under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

step() { printf '\n==== %s\n' "$*"; }

# Runs a workflow and adds its ctest count to the summary printed at the end.
passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
workflow() {
  cmake --workflow --preset "$1" 2>&1 | tee "$log"
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
}

step "default build and tests"
workflow default

step "install, and a provider project built against the installed package"
bash scripts/check-install.sh

step "formatting and static analysis"
bash scripts/lint.sh

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
workflow asan

step "ThreadSanitizer build and the concurrency tests"
workflow tsan

if [ -x scripts/fuzz.sh ]; then
  step "fuzzing of the decoders and readers (short, fixed time per target)"
  bash scripts/fuzz.sh "${PROVKIT_FUZZ_SECONDS:-10}"
fi

step "32-bit Windows cross-build and export check"
cmake --workflow --preset windows-x86
for lib in wbemkelvai provkit; do
  scripts/check-exports.sh "cmpi/lib/windows-x86/$lib.dll" "exports/$lib.txt"
done

step "64-bit Windows build and its test suite under wine64"
workflow windows-x64

printf '\nsummary: %d passed, 0 failed\n' "$passed"
