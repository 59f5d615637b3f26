#!/usr/bin/env bash
# Formatting (clang-format, .clang-format) of every C and C++ file we track,
# and clang-tidy (.clang-tidy) over the libraries' sources, with the compile
# commands of the default build (configured here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
clang-format --dry-run --Werror "${sources[@]}"
echo "lint: ${#sources[@]} files formatted"

[ -f build/default/compile_commands.json ] || cmake --preset default >/dev/null
mapfile -t units < <(git ls-files 'cmpi/*.cpp')
clang-tidy --quiet -p build/default "${units[@]}"
echo "lint: clang-tidy clean on ${#units[@]} files"
