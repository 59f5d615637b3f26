#!/usr/bin/env bash
# Installs the default build into a temporary prefix and builds a provider
# project against it, through find_package(provkit) and through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/default --prefix "$prefix/usr" >/dev/null
PKG_CONFIG_PATH="$prefix/usr/lib/pkgconfig" cmake -S tests/consumer -B "$prefix/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
cmake --build "$prefix/build" >/dev/null
echo "install: a provider builds against the installed provkit (CMake package and pkg-config)"
# The sample providers ship with their registrations and the class MOF.
for file in libKELVA_StorageSystemProvider.so kelva-providers.reg \
            kelva-providers-registration.mof kelva.mof; do
  if [ -z "$(find "$prefix/usr" -name "$file" -print -quit)" ]; then
    echo "install: $file is not installed" >&2
    exit 1
  fi
done
echo "install: the providers, their registrations and the class MOF are installed"
