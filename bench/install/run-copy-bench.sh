#!/usr/bin/env bash
# The install engine's copy step against xcopy and two NSIS installers, all in
# one Wine prefix and one run, on a generated payload of about 2,000 files in
# nested folders and about 200 MB, half of it incompressible.
#
#   bench/install/run-copy-bench.sh [build dir] [runs]
#
# <build dir> (default: build/i686 where this machine runs 32-bit code, else
# build/x86_64) holds bin/bench_install_copy.exe (target bench_install_copy);
# its machine type picks the Wine flavour (KELO_ARCH overrides). Each method copies into a fresh folder <runs> times (default 5);
# the medians and their ratios are printed at the end. Times are wall-clock
# times of one Wine process each, taken the same way for every method, plus
# the engine's own timing of its copy step. The engine's peak working set is
# printed for this payload and for one of 20 files.
#
# KELO_BENCH_BASELINE=<another bench_install_copy.exe> adds that engine
# (an earlier build, for instance) to the same runs as "engine_base".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
source "$here/../bench-common.sh"
bench_build "${1:-}"
runs=${2:-5}
bench_exe=$build/bin/bench_install_copy.exe
bench_need "$bench_exe" "build the target bench_install_copy"
bench_arch "$bench_exe"
command -v makensis >/dev/null || { echo "bench: makensis missing (Debian package nsis)" >&2; exit 1; }

root=$build/benchrun
harness=$top/scripts/harness.sh
bash "$harness" setup "$root" >&2
trap 'bash "$harness" cleanup "$root" >/dev/null 2>&1 || true' EXIT
source "$top/scripts/wine-env.sh"
export WINEPREFIX=$root/prefix DISPLAY=$(cat "$root/display")
# One wine server for the whole run, so that no method pays for its start.
"$WINESERVER" -p

c=$WINEPREFIX/drive_c/kbench
mkdir -p "$c/setup"
baseline=${KELO_BENCH_BASELINE:-}
if [ -n "$baseline" ]; then
  bench_need "$baseline" "KELO_BENCH_BASELINE names no file"
  cp "$baseline" "$c/engine_base.exe"
fi
echo "bench: generating the payload" >&2
python3 - "$c/setup/KeloInstaller" "$c/setup20/KeloInstaller" <<'EOF'
import os, random, shutil, sys
root = sys.argv[1]
rnd = random.Random(1321)
os.makedirs(root, exist_ok=True)
n = 0
text = b"".join(b"line %06d of a compressible payload file, KeloPdfReader\r\n" % i for i in range(4000))
for a in range(40):
    for b in range(5):
        d = os.path.join(root, "module%02d" % a, "part%d" % b)
        os.makedirs(d, exist_ok=True)
        for f in range(10):
            size = rnd.randint(20000, 180000)
            path = os.path.join(d, "file%02d.%s" % (f, "bin" if n % 2 else "txt"))
            with open(path, "wb") as out:
                if n % 2:
                    out.write(os.urandom(size))
                else:
                    out.write((text * (size // len(text) + 1))[:size])
            n += 1
os.makedirs(os.path.join(root, "empty"), exist_ok=True)
print("bench: %d files" % n, file=sys.stderr)
# The small payload: the first 20 files of the large one.
small = sys.argv[2]
for a in range(2):
    src = os.path.join(root, "module%02d" % a, "part0")
    shutil.copytree(src, os.path.join(small, "module%02d" % a, "part0"))
EOF
du -sh "$c/setup/KeloInstaller" >&2

echo "bench: building the NSIS installers" >&2
# The installers' bitness follows the build's, as the engine's does.
if [ "$KELO_ARCH" = x86_64 ]; then nsis_target=amd64-unicode; else nsis_target=x86-unicode; fi
for kind in store lzma; do
  if [ $kind = store ]; then comp="SetCompress off"; else comp="SetCompressor /SOLID lzma"; fi
  cat >"$c/nsis_$kind.nsi" <<EOF
Target $nsis_target
$comp
Name "KeloBench"
OutFile "$c/nsis_$kind.exe"
InstallDir "C:\\kbench\\out"
RequestExecutionLevel user
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "$c/setup/KeloInstaller/*"
SectionEnd
EOF
  makensis -V1 "$c/nsis_$kind.nsi" >&2
done

now() { date +%s.%N; }
declare -A times
run_method() {
  local method=$1 out=C:\\kbench\\out t0 t1
  rm -rf "$c/out" "$WINEPREFIX/drive_c/users/"*/Temp/KeloPdfReader
  sync
  t0=$(now)
  case $method in
    engine)      "$WINELOADER" "$bench_exe" 'C:\kbench\setup' "$out" log >"$c/engine.txt" ;;
    engine_nolog) "$WINELOADER" "$bench_exe" 'C:\kbench\setup' "$out" nolog >"$c/engine.txt" ;;
    engine_base) "$WINELOADER" "$c/engine_base.exe" 'C:\kbench\setup' "$out" log >"$c/engine.txt" ;;
    xcopy)       "$WINELOADER" xcopy /E /I /Y /Q 'C:\kbench\setup\KeloInstaller' "$out" >/dev/null ;;
    nsis_store)  "$WINELOADER" "$c/nsis_store.exe" /S "/D=$out" ;;
    nsis_lzma)   "$WINELOADER" "$c/nsis_lzma.exe" /S "/D=$out" ;;
  esac
  t1=$(now)
  local files
  files=$(find "$c/out" -type f | wc -l)
  [ "$files" -ge 2000 ] || { echo "bench: $method copied only $files files" >&2; exit 1; }
  local t
  t=$(echo "$t1 - $t0" | bc -l)
  times[$method]="${times[$method]:-} $t"
  if [ "${method%%_*}" = engine ]; then
    echo "bench: $method $(printf '%.3f' "$t") s ($(tr -d '\r' <"$c/engine.txt"))" >&2
  else
    echo "bench: $method $(printf '%.3f' "$t") s" >&2
  fi
}

methods="engine engine_nolog xcopy nsis_store nsis_lzma"
[ -z "$baseline" ] || methods="$methods engine_base"
for i in $(seq "$runs"); do
  # Interleaved, so that a slow phase of the machine hits every method alike.
  for m in $methods; do run_method $m; done
done
# Peak working set of the engine (with its log) for 20 and for 2,000 files.
declare -A peak
for size in 20 2000; do
  if [ $size = 20 ]; then from='C:\kbench\setup20'; else from='C:\kbench\setup'; fi
  rm -rf "$c/out"
  "$WINELOADER" "$bench_exe" "$from" 'C:\kbench\out' log >"$c/engine.txt"
  peak[$size]=$(tr -d '\r' <"$c/engine.txt" | sed -n 's/.*peak_ws_kb=\([0-9]*\).*/\1/p')
done
"$WINESERVER" -k || true

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
declare -A med
echo
echo "median of $runs runs (s), KELO_ARCH=$KELO_ARCH:"
for m in $methods; do
  med[$m]=$(echo "${times[$m]}" | median)
  printf '  %-13s %7.3f\n' "$m" "${med[$m]}"
done
echo "ratios (engine / peer; below 1 means the engine is faster):"
for peer in xcopy nsis_store nsis_lzma; do
  printf '  engine / %-10s %6.2f\n' "$peer" "$(echo "${med[engine]} / ${med[$peer]}" | bc -l)"
done
printf '  engine with log / without log %6.2f\n' "$(echo "${med[engine]} / ${med[engine_nolog]}" | bc -l)"
[ -z "$baseline" ] || printf '  engine / engine_base   %6.2f\n' "$(echo "${med[engine]} / ${med[engine_base]}" | bc -l)"
echo "peak working set of the engine: ${peak[20]} KiB for 20 files, ${peak[2000]} KiB for 2,000 files"
echo "reproduce: ${KELO_BENCH_BASELINE:+KELO_BENCH_BASELINE=$KELO_BENCH_BASELINE }bench/install/run-copy-bench.sh $build $runs"
