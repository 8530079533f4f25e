#!/usr/bin/env bash
# Extraction benchmark: CZipManager and miniunz under the same Wine, native
# Info-ZIP unzip as the bound; medians of the runs, reported as ratios.
#   bench/zip/run.sh [build folder] [deps prefix] [runs (default 5)]
# The build folder (default: build/i686 where this machine runs 32-bit code,
# else build/x86_64) must hold bin/zip_bench.exe (target zip_bench); the deps
# prefix (default: the one scripts/build-deps.sh gives for the build's
# architecture) bin/miniunz.exe of the same architecture. KELO_ARCH picks the
# Wine flavour (default: from the program's machine type); WINEPREFIX, when
# set, is used instead of a fresh prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
source "$here/../bench-common.sh"
bench_build "${1:-}"
bench_need "$build/bin/zip_bench.exe" "build the target zip_bench"
bench_arch "$build/bin/zip_bench.exe"
prefix=${2:-$("$top/scripts/build-deps.sh" --arch "$KELO_ARCH" | tail -n 1)}
bench_need "$prefix/bin/miniunz.exe" "the dependency prefix of scripts/build-deps.sh --arch $KELO_ARCH"
prefix=$(cd "$prefix" && pwd)
runs=${3:-5}
source "$top/scripts/wine-env.sh"

work=$(mktemp -d /tmp/kelo-zipbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 "$here/make_package.py" "$work/pkg.zip" "$work/checks.zip"
echo "package: $(unzip -Z1 "$work/pkg.zip" | wc -l) entries, $(du -m "$work/pkg.zip" | cut -f1) MB zipped," \
     "$(unzip -Zt "$work/pkg.zip" | awk '{print int($3/1048576)}') MB unpacked"

if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  "$WINELOADER" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
fi
cp "$prefix/bin/miniunz.exe" "$work/miniunz.exe"

"$WINELOADER" "$build/bin/zip_bench.exe" "Z:$work/pkg.zip" "Z:$work/checks.zip" "Z:$work/miniunz.exe" \
  "Z:$work/out" "$runs" | tee "$work/wine.txt"

native=()
for _ in $(seq "$runs"); do
  rm -rf "$work/native"
  start=$(date +%s.%N)
  unzip -q -o "$work/pkg.zip" -d "$work/native"
  end=$(date +%s.%N)
  native+=("$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
n=$(median "${native[@]}")
ours=$(sed -n 's/^median CZipManager \([0-9.]*\) s.*/\1/p' "$work/wine.txt")
mini=$(sed -n 's/.*median miniunz \([0-9.]*\) s.*/\1/p' "$work/wine.txt")
echo "native unzip runs: ${native[*]}"
printf 'medians: CZipManager %.3f s, miniunz %.3f s, native unzip %.3f s\n' "$ours" "$mini" "$n"
awk -v o="$ours" -v m="$mini" -v n="$n" 'BEGIN {
  printf "CZipManager speed relative to miniunz: %.2f (goal >= 0.9)\n", m / o
  printf "CZipManager time relative to native unzip: %.2fx (goal <= 1.3)\n", o / n }'
"$WINESERVER" -k 2>/dev/null || true
