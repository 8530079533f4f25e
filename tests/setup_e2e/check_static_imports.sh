#!/usr/bin/env bash
# Static imports of the setup program and DuiLib.dll. The loader resolves them
# before any code runs and, for a DLL that is not one of the system's known
# DLLs, searches the program's folder first (a download folder where anybody
# may have put a DLL of that name). Only known DLLs, and DuiLib.dll itself,
# may be imported statically; the network libraries of the machine
# identifier are delay-loaded (loaded by full system path at first use).
#   check_static_imports.sh <objdump> <KeloPdfReaderSetup.exe> <DuiLib.dll>
set -euo pipefail
objdump=$1; setup=$2; duilib=$3
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
check "$setup" "$known duilib.dll"
check "$duilib" "$known"
# The delay-loaded names are still named in the program.
names=$(strings -a "$setup")
for dll in NETAPI32.dll IPHLPAPI.DLL; do
  if ! grep -qx "$dll" <<<"$names"; then
    echo "FAIL: $dll is not delay-loaded by $(basename "$setup")"; fail=1
  fi
done
[ $fail -eq 0 ] && echo "static imports: only known DLLs"
exit $fail
