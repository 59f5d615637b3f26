#!/usr/bin/env bash
# The main job on the embedded default: builds the default configuration
# (libraries into cmpi/lib) and runs provkit-demo, which hosts provkit in the
# embedded object manager, brings up the two simulated filers of the default
# scenario in process, registers them in the filer registry and shows what
# the controller library reads from them.  Arguments go to provkit-demo
# (--scenario FILE, --data-dir DIR, --fresh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target provkit-demo
exec build/default/demo/provkit-demo "$@"
