#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what is missing, then
# builds and tests the normal and the sanitizer builds, cross-builds the
# 32-bit Windows DLLs and checks their exports.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

step() { printf '\n==== %s\n' "$*"; }

step "default build and tests"
cmake --workflow --preset default

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --workflow --preset asan

step "32-bit Windows cross-build and export check"
cmake --workflow --preset windows-x86
for lib in wbemkelvai provkit; do
  scripts/check-exports.sh "cmpi/lib/windows-x86/$lib.dll" "exports/$lib.txt"
done
