#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the Windows
# cross-build need.  Idempotent: it asks apt only for what is missing, and
# updates the package lists at most once.  Needs root (or sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libpugixml-dev nlohmann-json3-dev libcpp-httplib-dev libcli11-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest openssl
  clang libclang-rt-dev clang-format clang-tidy
  libsnmp-dev snmp
  sblim-wbemcli
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
