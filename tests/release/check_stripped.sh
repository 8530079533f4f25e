#!/usr/bin/env bash
# The delivered folder carries stripped programs and DLLs only, and the
# symbols folder holds each one's unstripped original: the delivered file
# keeps its original's link time stamp (debuggers match a crash dump's
# modules by it), and stripping the original gives the delivered file byte
# for byte.
#   check_stripped.sh <objdump> <strip> <delivered folder> <symbols folder>
set -euo pipefail
objdump=$1 strip=$2 folder=$3 symbols=$4

# What this build makes (a publisher's payload is delivered as it came).
expected=(KeloPdfReaderSetup.exe DuiLib.dll libcurl.dll libeay32.dll ssleay32.dll
          KeloInstaller/KeloPdfReader.exe KeloInstaller/Uninst.exe KeloInstaller/Update.exe)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; this=1; }
# TimeDateStamp of a PE file's COFF header.
pe_time() {
  local pe; pe=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 8)) -N4 "$1" | tr -d ' '
}

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
  this=0
  [ -f "$orig" ] || { bad "$rel has no unstripped copy in $symbols"; continue; }
  [ "$(stat -c %s "$orig")" -gt "$(stat -c %s "$f")" ] || bad "$orig is not larger than the delivered $rel"
  t=$(pe_time "$orig")
  [ "$(pe_time "$f")" = "$t" ] || bad "$rel has the time stamp $(pe_time "$f"), its unstripped copy $t"
  SOURCE_DATE_EPOCH=$t "$strip" --strip-all -o "$tmp/stripped" "$orig"
  cmp -s "$tmp/stripped" "$f" || bad "$orig, stripped, differs from the delivered $rel"
  [ $this -eq 1 ] || echo "ok: $rel ($(stat -c %s "$f") bytes; unstripped $(stat -c %s "$orig"))"
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
exit $fail
