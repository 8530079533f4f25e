#!/usr/bin/env bash
# Updater benchmark: the updater's whole run (less the engine's fixed waits
# of 8 s) against CZipManager unpacking the same package alone, under the
# same Wine; medians of the runs, reported as a ratio. The package is the
# zip benchmark's (about 2,000 entries, 200 MB unpacked). The updater's peak
# working set is reported for it and for a 20-entry package of the same mix.
#   bench/update/run.sh [build folder] [runs (default 5)]
# The build folder (default: build/i686 where this machine runs 32-bit code,
# else build/x86_64) must hold bin/update_bench.exe (target update_bench),
# Update.exe, DuiLib.dll and the stand-in KeloPdfReader.exe. KELO_ARCH picks
# the Wine flavour (default: from the program's machine type); WINEPREFIX,
# when set, is used instead of a fresh prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
source "$here/../bench-common.sh"
bench_build "${1:-}"
runs=${2:-5}
for f in update_bench.exe Update.exe DuiLib.dll KeloPdfReader.exe; do
  bench_need "$build/bin/$f" "build the targets update_bench and Update and the stand-ins"
done
bench_arch "$build/bin/update_bench.exe"
source "$top/scripts/wine-env.sh"

work=$(mktemp -d /tmp/kelo-updatebench.XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "reproduce with: bench/update/run.sh $build $runs"
python3 "$top/bench/zip/make_package.py" "$work/pkg.zip" "$work/checks.zip"
python3 "$top/bench/zip/make_package.py" "$work/small.zip" "$work/small-checks.zip" 20
echo "package: $(unzip -Z1 "$work/pkg.zip" | wc -l) entries, $(du -m "$work/pkg.zip" | cut -f1) MB zipped;" \
  "small package: $(unzip -Z1 "$work/small.zip" | wc -l) entries"

if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  "$WINELOADER" wineboot -i >/dev/null 2>&1
  # Without a window manager (the virtual screen has none) Wine waits 2 s
  # for one to withdraw every window that is hidden: the strip hides before
  # it starts the application. A desktop answers at once; so do unmanaged
  # windows, which this prefix makes all windows.
  "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  "$WINESERVER" -w
fi
# The updater shows a window: a virtual screen unless one is given.
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 141 180); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
    export DISPLAY=:$n
    sleep 1
    break
  done
fi

# Windows paths with backslashes: the updater takes its folder as given.
win() { local p="Z:$1"; echo "${p//\//\\}"; }
"$WINELOADER" "$build/bin/update_bench.exe" "$(win "$work/pkg.zip")" "$(win "$work/small.zip")" "$(win "$build/bin")" \
  "$(win "$work/out")" "$runs"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
