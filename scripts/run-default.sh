#!/usr/bin/env bash
# The main job on the embedded default: builds the default configuration
# (libraries into cmpi/lib) and runs provkit-agent, which loads the sample
# providers into the embedded object manager, brings up the simulated filers of
# the default scenario in process, registers them in the filer registry and
# prints the agent's view of them: a table per kind of element a provider
# serves.  Arguments replace the command: `scripts/run-default.sh enumerate
# KELVA_StorageVolume`, `scripts/run-default.sh --help`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target provkit-agent
if [ "$#" -eq 0 ]; then
  set -- overview
fi
exec build/default/agent/provkit-agent "$@"
