#!/usr/bin/env bash
# check-exports.sh LIBRARY LIST
# Checks that LIBRARY (an ELF shared object or a PE32 i386 DLL) exports exactly
# the C functions and data named in LIST (one per line, '#' comments).  C++
# symbols, and the markers AddressSanitizer adds beside exported data
# (__odr_asan.*), are not part of the contract and are ignored.
set -euo pipefail
lib=$1 list=$2
want=$(grep -vE '^\s*(#|$)' "$list" | sort -u || true)
case "$lib" in
  *.dll)
    # The shipped DLLs are PE32 for i386 and export C names only; the tested
    # 64-bit build (PK_DLL_FORMAT=pei-x86-64) also exports C++ test hooks.
    objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
    format=${PK_DLL_FORMAT:-pei-i386}
    fmt=$("$objdump" -f "$lib" | sed -n 's/.*file format //p')
    if [ "$fmt" != "$format" ]; then
      echo "$lib: file format '$fmt', expected $format" >&2
      exit 1
    fi
    have=$("$objdump" -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}' | sort -u)
    if [ "$format" != "pei-i386" ]; then have=$(echo "$have" | grep -v '^_Z' || true); fi
    ;;
  *)
    have=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWi]$/ {print $3}' | grep -vE '^(_Z|__odr_asan|_init$|_fini$|_edata$|_end$|__bss_start$)' | sort -u || true)
    ;;
esac
missing=$(comm -23 <(echo "$want") <(echo "$have") | sed '/^$/d')
extra=$(comm -13 <(echo "$want") <(echo "$have") | sed '/^$/d')
rc=0
if [ -n "$missing" ]; then echo "$lib does not export:" >&2; echo "$missing" | sed 's/^/  /' >&2; rc=1; fi
if [ -n "$extra" ]; then echo "$lib exports what its list does not name:" >&2; echo "$extra" | sed 's/^/  /' >&2; rc=1; fi
[ $rc -eq 0 ] && echo "$lib: $(echo "$want" | sed '/^$/d' | wc -l) exports as listed"
exit $rc
