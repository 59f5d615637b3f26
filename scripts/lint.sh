#!/usr/bin/env bash
# Formatting (clang-format, .clang-format) of every C and C++ file we track,
# and clang-tidy (.clang-tidy) over every C and C++ translation unit of every
# folder: libraries, stand-ins, tests, benchmarks, the agent, providers and fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
clang-format --dry-run --Werror "${sources[@]}"
echo "lint: ${#sources[@]} files formatted"

[ -f build/default/compile_commands.json ] || cmake --preset default >/dev/null
# The default build's compile commands (without GCC-only flags), plus one for
# each tracked unit that only another build compiles (the Windows-only
# alternates, the fuzz targets, the installed-package consumer): those are
# checked with the flags of a unit of the same language in the same folder, or
# failing that in tests/.
mkdir -p build/lint
mapfile -t units < <(git ls-files '*.c' '*.cpp')
python3 - build/default/compile_commands.json build/lint/compile_commands.json "${units[@]}" <<'PY'
import json, os, sys
source, target, units = sys.argv[1], sys.argv[2], sys.argv[3:]
root = os.getcwd()
commands = json.load(open(source))
# Flags that only GCC knows; clang-tidy parses with clang.
for c in commands:
    c["command"] = c["command"].replace(" -fno-gnu-unique", "")
known = {os.path.normpath(c["file"]): c for c in commands}
def neighbour(unit):
    # The neighbour with the most flags sees the most include directories.
    ext = os.path.splitext(unit)[1]
    for folder in (os.path.dirname(unit), "tests"):
        alike = [c for path, c in known.items()
                 if os.path.dirname(os.path.relpath(path, root)) == folder and path.endswith(ext)]
        if alike:
            return max(alike, key=lambda c: len(c["command"]))
    return None
for unit in units:
    path = os.path.join(root, unit)
    if path in known:
        continue
    like = neighbour(unit)
    if like is None:
        sys.exit(f"lint: no compile command to check {unit} with")
    entry = dict(like)
    args = entry.get("command", "")
    entry["command"] = args.replace(like["file"], path)
    entry["file"] = path
    entry.pop("output", None)
    commands.append(entry)
json.dump(commands, open(target, "w"), indent=1)
PY
printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy --quiet -p build/lint
echo "lint: clang-tidy clean on ${#units[@]} files"
