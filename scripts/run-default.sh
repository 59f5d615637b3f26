#!/usr/bin/env bash
# The main job on the embedded default.  Until the command-line host exists,
# this builds the default configuration (libraries into cmpi/lib) and shows
# what the built libraries export; it does not yet serve any CIM requests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default
for lib in wbemkelvai provkit; do
  scripts/check-exports.sh "cmpi/lib/lib$lib.so" "exports/$lib.txt"
done
