# Sourced by the benchmark scripts: the build folder to measure and the Wine
# flavour for it, and a clear word when a step fails.
#   bench_build [folder]   sets $build to the absolute build folder: the one
#                          given (relative or absolute), else the shipped i686
#                          build where this machine runs 32-bit code, else
#                          the x86_64 one
#   bench_arch <exe>       sets and exports KELO_ARCH from the program's
#                          machine type unless it is set already
#   bench_need <file> <hint>  fails with the hint when the file is missing
bench_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
trap 'echo "bench: failed (exit $?) at ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND" >&2' ERR
set -o errtrace

bench_build() {
  local given=${1:-}
  if [ -z "$given" ]; then
    if "$bench_top/scripts/can-run-i386.sh"; then given=$bench_top/build/i686; else given=$bench_top/build/x86_64; fi
    echo "bench: build folder $given" >&2
  fi
  [ -d "$given" ] || { echo "bench: no build folder $given (scripts/build.sh <arch> -DKELO_BUILD_TESTS=ON)" >&2; exit 1; }
  build=$(cd "$given" && pwd)
}

bench_arch() {
  if [ -z "${KELO_ARCH:-}" ]; then
    if file "$1" | grep -q 'x86-64'; then KELO_ARCH=x86_64; else KELO_ARCH=i686; fi
  fi
  export KELO_ARCH
  if [ "$KELO_ARCH" = i686 ] && ! "$bench_top/scripts/can-run-i386.sh"; then
    echo "bench: $1 is a 32-bit program and this machine cannot run 32-bit code" >&2
    exit 1
  fi
}

bench_need() {
  [ -e "$1" ] || { echo "bench: $1 missing ($2)" >&2; exit 1; }
}

# Wine wants an absolute prefix path.
if [ -n "${WINEPREFIX:-}" ]; then export WINEPREFIX=$(realpath -m "$WINEPREFIX"); fi
