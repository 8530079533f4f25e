#!/usr/bin/env bash
# Checks the import tables of Windows executables and DLLs.
#
# usage: check-imports.sh [--arch i686|x86_64] [--gui] [--xp] [--needs NAME.dll]... [--list] FILE...
#
# Every FILE must be a PE32 image for i386 (with --arch x86_64: PE32+ for
# x86-64, the test build on machines without 32-bit support) and must not import a MinGW
# runtime DLL (libgcc_s_*, libstdc++-*, libwinpthread-1), the zlib DLL
# (zlib is always linked statically), or an OpenSSL/libcurl DLL under its
# upstream name (libcrypto-*, libssl-*, libcurl-*): the suite ships only
# "libeay32.dll", "ssleay32.dll" and "libcurl.dll".
#   --gui          every FILE must also be a Windows GUI subsystem program
#   --xp           no FILE may import a function or DLL known to exist only
#                  from Windows Vista on (SRW locks, condition variables,
#                  InitOnce, GetTickCount64, bcrypt.dll, inet_pton, ...)
#   --needs NAME   every FILE must import NAME (case-insensitive); repeatable
#   --list         print each file's imported DLL names
# Exits 0 when all files pass, 1 when any check fails, 2 on usage errors.
set -euo pipefail

arch=i686
gui=0
xp=0
list=0
needs=()
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --gui) gui=1 ;;
    --xp) xp=1 ;;
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
  echo "usage: check-imports.sh [--arch i686|x86_64] [--gui] [--xp] [--needs NAME.dll]... [--list] FILE..." >&2
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

# Imports that Windows XP does not have (a common, not a complete, list).
vista_dlls=('bcrypt.dll' 'ncrypt.dll' 'api-ms-win-*.dll' 'dwmapi.dll')
vista_functions='^(AcquireSRWLock(Exclusive|Shared)|ReleaseSRWLock(Exclusive|Shared)|TryAcquireSRWLock(Exclusive|Shared)|InitializeSRWLock|InitializeConditionVariable|SleepConditionVariable(CS|SRW)|WakeConditionVariable|WakeAllConditionVariable|InitOnce(ExecuteOnce|BeginInitialize|Complete|Initialize)|GetTickCount64|InitializeCriticalSectionEx|CreateSymbolicLink[AW]|GetFinalPathNameByHandle[AW]|CancelIoEx|GetFileInformationByHandleEx|SetFileInformationByHandle|Fls(Alloc|Free|GetValue|SetValue)|QueryFullProcessImageName[AW]|GetErrorMode|CompareStringEx|LCIDToLocaleName|LocaleNameToLCID|GetLocaleInfoEx|RegDeleteTree[AW]|RegGetValue[AW]|SHGetKnownFolderPath|inet_pton|inet_ntop|InetPton[AW]|InetNtop[AW]|WSAPoll|if_nametoindex|if_indextoname)$'

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
  if [ $xp -eq 1 ]; then
    while IFS= read -r dll; do
      [ -n "$dll" ] || continue
      for pat in "${vista_dlls[@]}"; do
        # shellcheck disable=SC2053
        if [[ $dll == $pat ]]; then fail "$f" "imports $dll (not on Windows XP)"; fi
      done
    done <<<"$(tr '[:upper:]' '[:lower:]' <<<"$imports")"
    # Import table entries: "<tab>vma<tab>hint  Name" below each "DLL Name:".
    newer=$(awk '/DLL Name:/ { dll = $3; next }
                 /^\t[0-9a-f]+\t/ && dll != "" { print dll ":" $NF }' <<<"$dump" |
            awk -F: -v re="$vista_functions" '$2 ~ re { print $1 "!" $2 }' | sort -u | tr '\n' ' ')
    [ -z "$newer" ] || fail "$f" "imports functions Windows XP lacks: $newer"
  fi
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
