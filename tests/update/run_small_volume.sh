#!/usr/bin/env bash
# The update engine's small-volume case: a 4 MiB tmpfs (mounting needs root)
# mapped as drive S: of the test's private prefix.
#   run_small_volume.sh <harness> <test root> <update_engine_test.exe>
# The mount is made in a mount namespace of its own: whatever ends this script
# (a failure, ctest's timeout, a kill), the mount goes with the namespace and
# never stays behind on the machine.
set -euo pipefail
harness=$1; root=$2; exe=$3
[ "$(id -u)" -eq 0 ] || { echo "run_small_volume: mounting a tmpfs needs root" >&2; exit 1; }
if [ -z "${KELO_SMALL_VOLUME_NS:-}" ]; then
  KELO_SMALL_VOLUME_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi
mnt=$(mktemp -d "$root/small_volume.XXXXXX")
trap 'umount "$mnt" 2>/dev/null || true; rmdir "$mnt" 2>/dev/null || true' EXIT
mount -t tmpfs -o size=4m tmpfs "$mnt"
"$harness" run --own-prefix --name update_small_volume --drive s="$mnt" "$root" "$exe" \
  --gtest_filter='UpdateSmallVolume.*'
