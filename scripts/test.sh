#!/usr/bin/env bash
# The test command: installs what it needs, builds the dependencies (cached),
# builds the suite and runs every test under Wine.
#
# The suite ships as i686 programs. Where this machine cannot execute 32-bit
# code (some hypervisors offer guests no 32-bit code segment, see
# scripts/can-run-i386.sh), the same sources are also built for x86_64 and
# the tests run that build under 64-bit Wine; the i686 build is still made
# and its programs and DLLs are checked.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

echo "== packages"
bash scripts/install-packages.sh

echo "== deliverable build (i686)"
i686_build=$(scripts/build.sh i686 -DKELO_BUILD_TESTS=OFF | tail -n 1)

if scripts/can-run-i386.sh; then
  arch=i686
  echo "== tests run the i686 build under 32-bit Wine"
  test_build=$(scripts/build.sh i686 -DKELO_BUILD_TESTS=ON -DKELO_DELIVERABLE_BIN="$i686_build/bin" | tail -n 1)
else
  arch=x86_64
  echo "== this machine cannot run 32-bit x86 code: tests run the x86_64 build under 64-bit Wine"
  test_build=$(scripts/build.sh x86_64 -DKELO_BUILD_TESTS=ON -DKELO_DELIVERABLE_BIN="$i686_build/bin" | tail -n 1)
fi

echo "== ctest ($arch)"
ctest --test-dir "$test_build" --output-on-failure -j2 "$@"
