#!/usr/bin/env bash
# The main job: builds the suite and lists what it produced.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-packages.sh
build=$(scripts/build.sh i686 -DKELO_BUILD_TESTS=OFF | tail -n 1)
echo "== built in $build/bin"
ls -l "$build/bin"
