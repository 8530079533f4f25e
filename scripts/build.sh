#!/usr/bin/env bash
# Builds the suite for one architecture.
#   build.sh [i686|x86_64] [extra cmake -D options...]
# Prints the build folder as its last line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}; shift || true
prefix=$("$top/scripts/build-deps.sh" --arch "$arch" | tail -n 1)
build=${KELO_BUILD_DIR:-$top/build/$arch}
# ccache, when present, shares objects between builds and clones of the tree.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -G Ninja "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKELO_DEPS_PREFIX="$prefix" "$@" >&2
cmake --build "$build" -j2 >&2
echo "$build"
