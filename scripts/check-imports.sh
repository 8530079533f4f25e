#!/usr/bin/env bash
# Checks the import tables of Windows executables and DLLs.
#
# usage: check-imports.sh [--arch i686|x86_64] [--gui] [--needs NAME.dll]... [--list] FILE...
#
# Every FILE must be a PE32 image for i386 (with --arch x86_64: PE32+ for
# x86-64, the test build on machines without 32-bit support) and must not import a MinGW
# runtime DLL (libgcc_s_*, libstdc++-*, libwinpthread-1), the zlib DLL
# (zlib is always linked statically), or an OpenSSL/libcurl DLL under its
# upstream name (libcrypto-*, libssl-*, libcurl-*): the suite ships only
# "libeay32.dll", "ssleay32.dll" and "libcurl.dll".
#   --gui          every FILE must also be a Windows GUI subsystem program
#   --needs NAME   every FILE must import NAME (case-insensitive); repeatable
#   --list         print each file's imported DLL names
# Exits 0 when all files pass, 1 when any check fails, 2 on usage errors.
set -euo pipefail

arch=i686
gui=0
list=0
needs=()
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --gui) gui=1 ;;
    --arch) [ $# -ge 2 ] || { echo "check-imports: --arch wants i686 or x86_64" >&2; exit 2; }
            arch=$2; shift ;;
    --list) list=1 ;;
    --needs)
      [ $# -ge 2 ] || { echo "check-imports: --needs wants a DLL name" >&2; exit 2; }
      needs+=("$2"); shift ;;
    --needs=*) needs+=("${1#--needs=}") ;;
    --) shift; files+=("$@"); break ;;
    -*) echo "check-imports: unknown option $1" >&2; exit 2 ;;
    *) files+=("$1") ;;
  esac
  shift
done
if [ ${#files[@]} -eq 0 ]; then
  echo "usage: check-imports.sh [--gui] [--needs NAME.dll]... [--list] FILE..." >&2
  exit 2
fi
case "$arch" in
  i686) format=pei-i386 ;;
  x86_64) format=pei-x86-64 ;;
  *) echo "check-imports: unknown arch $arch" >&2; exit 2 ;;
esac
OBJDUMP=${OBJDUMP:-$arch-w64-mingw32-objdump}
command -v "$OBJDUMP" >/dev/null || { echo "check-imports: $OBJDUMP not found" >&2; exit 2; }

# Lower-case glob patterns of DLL names no shipped image may import.
forbidden=('libgcc_s_*.dll' 'libstdc++-*.dll' 'libwinpthread-*.dll' 'zlib1.dll'
           'libcrypto-*.dll' 'libssl-*.dll' 'libcurl-*.dll')

failed=0
fail() { echo "check-imports: $1: $2" >&2; failed=1; }

for f in "${files[@]}"; do
  if [ ! -f "$f" ]; then fail "$f" "no such file"; continue; fi
  if ! dump=$("$OBJDUMP" -p "$f" 2>&1); then
    fail "$f" "not a PE image (objdump: ${dump##*: })"; continue
  fi
  if ! grep -q "file format $format\$" <<<"$dump"; then
    fail "$f" "not a $format image ($(grep -o 'file format [^ ]*' <<<"$dump" | head -1))"
    continue
  fi
  if [ $gui -eq 1 ]; then
    subsystem=$(awk '$1 == "Subsystem" { print $2; exit }' <<<"$dump")
    [ "$subsystem" = "00000002" ] ||
      fail "$f" "subsystem is ${subsystem:-unknown}, not 00000002 (Windows GUI)"
  fi
  imports=$(awk '$1 == "DLL" && $2 == "Name:" { print $3 }' <<<"$dump")
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$imports")
  if [ $list -eq 1 ]; then
    echo "$f: $(tr '\n' ' ' <<<"$imports")"
  fi
  while IFS= read -r dll; do
    [ -n "$dll" ] || continue
    for pat in "${forbidden[@]}"; do
      # shellcheck disable=SC2053  # the pattern is meant to glob
      if [[ $dll == $pat ]]; then fail "$f" "imports $dll"; fi
    done
  done <<<"$lower"
  for n in ${needs[@]+"${needs[@]}"}; do
    want=$(tr '[:upper:]' '[:lower:]' <<<"$n")
    grep -qxF -- "$want" <<<"$lower" || fail "$f" "does not import $n"
  done
done
exit $failed
