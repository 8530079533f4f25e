#!/usr/bin/env bash
# The test command: installs what it needs, builds the dependencies (cached),
# builds the suite and runs every test under Wine, in one or more legs:
#   i686 32-bit prefix  the shipped programs as on 32-bit Windows
#   i686 64-bit prefix  the shipped programs as most users run them: under
#                       WOW64 ("Program Files (x86)", WOW6432Node, SysWOW64)
#   x86_64              the same sources built for 64-bit Windows, where this
#                       machine cannot execute 32-bit code
# The i686 build always includes the tests and benchmarks, so that a
# 32-bit-only compile error fails everywhere. Extra arguments go to ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if scripts/can-run-i386.sh; then
  legs=(i686-win32 i686-win64)
  echo "== legs: i686 in a 32-bit prefix, i686 in a 64-bit prefix (this machine runs 32-bit code)"
else
  legs=(x86_64)
  echo "== legs: x86_64 only; the i686 tests and benchmarks are built, not run"
  echo "   (this machine cannot execute 32-bit x86 code: see scripts/can-run-i386.sh)"
fi

echo "== packages"
bash scripts/install-packages.sh

echo "== i686 build: the delivered programs, their tests and benchmarks"
i686_build=$(scripts/build.sh i686 -DKELO_BUILD_TESTS=ON -DKELO_DELIVERABLE_BIN="$top/build/i686/bin" | tail -n 1)

summary=()
failed=0
# run_leg <name> <build> <prefix arch> <description>
run_leg() {
  local name=$1 build=$2 prefix=$3 what=$4 log rc line
  echo "== ctest: $what"
  log=$(mktemp)
  set +e
  KELO_PREFIX_ARCH=$prefix ctest --test-dir "$build" --output-on-failure -j2 "${ctest_args[@]}" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  rm -f "$log"
  [ -n "$line" ] || line="no test result (ctest exit $rc)"
  summary+=("leg $name ($what): $line")
  [ "$rc" -eq 0 ] || failed=1
}
ctest_args=("$@")

for leg in "${legs[@]}"; do
  case "$leg" in
    i686-win32) run_leg "$leg" "$i686_build" win32 "i686 programs in a 32-bit Wine prefix" ;;
    i686-win64) run_leg "$leg" "$i686_build" win64 "i686 programs in a 64-bit Wine prefix" ;;
    x86_64)
      echo "== x86_64 build"
      x64_build=$(scripts/build.sh x86_64 -DKELO_BUILD_TESTS=ON -DKELO_DELIVERABLE_BIN="$i686_build/bin" | tail -n 1)
      run_leg "$leg" "$x64_build" win64 "x86_64 programs in a 64-bit Wine prefix"
      ;;
  esac
done

echo "== summary"
[ "${legs[0]}" = x86_64 ] && echo "leg i686 (build only): tests and benchmarks compiled, not run here"
for s in "${summary[@]}"; do echo "$s"; done
exit $failed
