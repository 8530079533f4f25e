#!/usr/bin/env bash
# Last steps of laying out the delivered setup folder:
#   1. the programs and DLLs this build made are stripped; their unstripped
#      copies go to the symbols folder under the same relative names, so that
#      a crash dump from a user can be read against the exact build. A
#      stripped file keeps its original's link time stamp (debuggers match
#      a dump's modules by it; strip would write the current time);
#   2. with a certificate, every program and DLL of the folder (the payload's
#      included) is signed with SHA-256 Authenticode. Signing comes last: any
#      later change to a file would break its signature.
#
# usage: finish_delivery.sh --strip <strip> --symbols <folder>
#          [--cert <file.p12> [--timestamp <url>] [--name <text>] [--url <url>]]
#          <delivered folder> <relative path to strip>...
# The certificate's password comes only from the environment variable
# KELO_SIGN_PASSWORD; it is handed to osslsigncode through a pipe, so it
# shows up in no command line and no file.
set -euo pipefail

strip_tool= symbols= cert= timestamp= name= url=
while [ $# -gt 0 ]; do
  case "$1" in
    --strip) strip_tool=$2; shift 2 ;;
    --symbols) symbols=$2; shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --name) name=$2; shift 2 ;;
    --url) url=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "finish_delivery: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] && [ -n "$strip_tool" ] && [ -n "$symbols" ] ||
  { echo "finish_delivery: usage: --strip <strip> --symbols <folder> [--cert ...] <folder> <files>..." >&2; exit 2; }
folder=$1; shift

# TimeDateStamp of a PE file's COFF header.
pe_time() {
  local pe; pe=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 8)) -N4 "$1" | tr -d ' '
}

rm -rf "$symbols"
for rel in "$@"; do
  [ -f "$folder/$rel" ] || { echo "finish_delivery: $folder/$rel is missing" >&2; exit 1; }
  mkdir -p "$(dirname "$symbols/$rel")"
  cp -p "$folder/$rel" "$symbols/$rel"
  SOURCE_DATE_EPOCH=$(pe_time "$folder/$rel") "$strip_tool" --strip-all "$folder/$rel"
done

if [ -z "$cert" ]; then
  echo "setup folder: not signed (no certificate given; configure with -DKELO_SIGN_CERT=<file.p12> to sign)"
  exit 0
fi
[ -r "$cert" ] || { echo "finish_delivery: certificate $cert cannot be read" >&2; exit 1; }
[ -n "${KELO_SIGN_PASSWORD+set}" ] ||
  { echo "finish_delivery: KELO_SIGN_PASSWORD is not set (the certificate's password)" >&2; exit 1; }
command -v osslsigncode >/dev/null ||
  { echo "finish_delivery: osslsigncode is missing (scripts/install-packages.sh)" >&2; exit 1; }

opts=(-pkcs12 "$cert" -readpass /dev/stdin -h sha256)
[ -z "$name" ] || opts+=(-n "$name")
[ -z "$url" ] || opts+=(-i "$url")
[ -z "$timestamp" ] || opts+=(-ts "$timestamp")

count=0
while IFS= read -r -d '' f; do
  tmp="$f.signing"
  rm -f "$tmp"
  if ! printf '%s' "$KELO_SIGN_PASSWORD" | osslsigncode sign "${opts[@]}" -in "$f" -out "$tmp" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2
    rm -f "$tmp" "$tmp.log"
    echo "finish_delivery: signing ${f#"$folder"/} failed" >&2
    exit 1
  fi
  rm -f "$tmp.log"
  mv "$tmp" "$f"
  count=$((count + 1))
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
echo "setup folder: $count programs and DLLs signed with $(basename "$cert")${timestamp:+, time-stamped by $timestamp}"
