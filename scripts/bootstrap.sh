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

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#packages[@]} packages present"
else
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows test build compiles pugixml and cpp-httplib from the
# distribution's source packages, as it does GoogleTest from /usr/src/googletest:
# Debian ships them to this machine only as Linux libraries.
fetch_source() {  # <source package> <folder under /usr/src> <file that shows it is there>
  local package=$1 dest=/usr/src/$2 marker=$3
  [ -f "$dest/$marker" ] && return 0
  echo "bootstrap: fetching the $package source package into $dest"
  local list=/etc/apt/sources.list.d/provkit-sources.sources
  local lists=(-o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts=- -o "Dir::Etc::SourceList=$list")
  if [ ! -f "$list" ]; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' \
      "Suites: $(. /etc/os-release && echo "$VERSION_CODENAME")" 'Components: main' \
      'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $sudo tee "$list" >/dev/null
    $sudo apt-get update -qq "${lists[@]}"
  fi
  local work
  work=$(mktemp -d)
  (cd "$work" && chmod 777 . && apt-get source -qq --download-only "${lists[@]}" "$package")
  $sudo mkdir -p "$dest"
  $sudo tar -xf "$work/$(cd "$work" && ls "${package}"_*.orig.tar.*)" -C "$dest" --strip-components=1
  rm -rf "$work"
}
fetch_source pugixml pugixml src/pugixml.cpp
fetch_source cpp-httplib cpp-httplib httplib.h
