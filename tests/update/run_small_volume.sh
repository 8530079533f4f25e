#!/usr/bin/env bash
# The update engine's small-volume case: a 4 MiB tmpfs (mounting needs root)
# mapped as drive S: of the test's private prefix.
#   run_small_volume.sh <harness> <test root> <update_engine_test.exe>
set -euo pipefail
harness=$1; root=$2; exe=$3
[ "$(id -u)" -eq 0 ] || { echo "run_small_volume: mounting a tmpfs needs root" >&2; exit 1; }
mnt=$(mktemp -d /tmp/kelo_small_volume.XXXXXX)
mount -t tmpfs -o size=4m tmpfs "$mnt"
trap 'umount "$mnt"; rmdir "$mnt"' EXIT
"$harness" run --own-prefix --name update_small_volume --drive s="$mnt" "$root" "$exe" \
  --gtest_filter='UpdateSmallVolume.*'
