#!/usr/bin/env bash
# Static imports of the three programs and DuiLib.dll. The loader resolves
# them before any code runs and, for a DLL that is not one of the system's
# known DLLs, searches the program's folder first (a download folder, an
# installation folder, a folder in the temporary folder: places where anybody
# may have put a DLL of that name). Only known DLLs, and DuiLib.dll itself,
# may be imported statically; what else a program needs is delay-loaded
# (loaded by full path at first use) and still named in the program.
#   check_static_imports.sh <objdump> <DuiLib.dll> <program>[:<delay-loaded dll>,...]...
set -euo pipefail
objdump=$1; duilib=$2; shift 2
known="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll shlwapi.dll msvcrt.dll"
fail=0
check() {
  local file=$1 allowed=$2 dll
  local imports
  imports=$("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  echo "$(basename "$file") imports statically: $(echo $imports)"
  for dll in $imports; do
    case " $allowed " in
      *" $dll "*) ;;
      *) echo "FAIL: $(basename "$file") imports $dll statically"; fail=1 ;;
    esac
  done
}
check "$duilib" "$known"
for arg in "$@"; do
  program=${arg%%:*}
  check "$program" "$known duilib.dll"
  [ "$arg" != "$program" ] || continue
  names=$(strings -a "$program")
  IFS=, read -r -a delayed <<<"${arg#*:}"
  for dll in "${delayed[@]}"; do
    if ! grep -qx "$dll" <<<"$names"; then
      echo "FAIL: $dll is not delay-loaded by $(basename "$program")"; fail=1
    fi
  done
done
[ $fail -eq 0 ] && echo "static imports: only known DLLs"
exit $fail
