#!/usr/bin/env bash
# The delivered folder carries stripped programs and DLLs only, and the
# symbols folder holds each one's unstripped original: stripping the
# original gives the delivered file byte for byte.
#   check_stripped.sh <objdump> <strip> <delivered folder> <symbols folder>
set -euo pipefail
objdump=$1 strip=$2 folder=$3 symbols=$4

# What this build makes (a publisher's payload is delivered as it came).
expected=(KeloPdfReaderSetup.exe DuiLib.dll libcurl.dll libeay32.dll ssleay32.dll
          KeloInstaller/KeloPdfReader.exe KeloInstaller/Uninst.exe KeloInstaller/Update.exe)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for rel in "${expected[@]}"; do
  [ -f "$folder/$rel" ] || { bad "$rel is not delivered"; continue; }
done
while IFS= read -r -d '' f; do
  rel=${f#"$folder"/}
  if "$objdump" -h "$f" | grep -q ' \.debug_'; then
    bad "$rel has debug sections: $("$objdump" -h "$f" | grep -o '\.debug_[a-z_]*' | tr '\n' ' ')"
  fi
  case " ${expected[*]} " in *" $rel "*) ;; *) continue ;; esac
  orig=$symbols/$rel
  [ -f "$orig" ] || { bad "$rel has no unstripped copy in $symbols"; continue; }
  [ "$(stat -c %s "$orig")" -gt "$(stat -c %s "$f")" ] || bad "$orig is not larger than the delivered $rel"
  "$strip" --strip-all -o "$tmp/stripped" "$orig"
  cmp -s "$tmp/stripped" "$f" || bad "$orig, stripped, differs from the delivered $rel"
  echo "ok: $rel ($(stat -c %s "$f") bytes; unstripped $(stat -c %s "$orig"))"
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
exit $fail
