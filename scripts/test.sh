#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what is missing, then
# builds and tests the normal build, checks formatting and runs clang-tidy,
# builds and tests the AddressSanitizer/UBSan and the
# ThreadSanitizer builds, fuzzes the decoders for a short fixed time,
# cross-builds the 32-bit Windows DLLs and checks their exports.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

step() { printf '\n==== %s\n' "$*"; }

step "default build and tests"
cmake --workflow --preset default

step "install, and a provider project built against the installed package"
bash scripts/check-install.sh

step "formatting and static analysis"
bash scripts/lint.sh

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --workflow --preset asan

step "ThreadSanitizer build and the concurrency tests"
cmake --workflow --preset tsan

if [ -x scripts/fuzz.sh ]; then
  step "decoder fuzzing (short, fixed time per target)"
  bash scripts/fuzz.sh "${PROVKIT_FUZZ_SECONDS:-10}"
fi

step "32-bit Windows cross-build and export check"
cmake --workflow --preset windows-x86
for lib in wbemkelvai provkit; do
  scripts/check-exports.sh "cmpi/lib/windows-x86/$lib.dll" "exports/$lib.txt"
done
