#!/usr/bin/env bash
# The main command: builds what is missing, lays out the delivered setup
# folder and then shows the product's whole life under Wine, in a throwaway
# Wine prefix: install through the setup window -> the application started by
# the finish page -> an update requested in the application and done by the
# updater -> uninstall through the uninstaller with a filled-in farewell form,
# whose report a loopback server (127.0.0.1 only) receives.
#
# Every step is printed as it happens; the pictures of every page and message
# box, the logs, the received report and a summary end up in one folder
# (default out/demo, or $KELO_DEMO_OUT). Build folders: build/i686 for the
# delivered programs (KELO_BUILD_DIR, as for scripts/build.sh) and
# build/<arch> for the demonstration (KELO_DEMO_BUILD_DIR).
#
# The windows appear on a virtual screen (Xvfb). With a display of your own
# (DISPLAY set and KELO_DEMO_OWN_DISPLAY=1) they appear there instead, a
# little slower so that one can follow them (KELO_DEMO_PAUSE_MS, default 1500).
#
# The delivered programs are i686. Where this machine cannot execute 32-bit
# code (scripts/can-run-i386.sh), the demonstration runs the same sources
# built for x86_64 under 64-bit Wine, as the tests do.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${KELO_DEMO_OUT:-$top/out/demo}

step() { printf '\n== %s\n' "$*"; }

step "packages"
bash scripts/install-packages.sh

step "deliverable build (i686)"
i686_build=$(scripts/build.sh i686 -DKELO_BUILD_TESTS=OFF | tail -n 1)
cmake --build "$i686_build" --target setup_folder -j2 >&2
echo "delivered setup folder: $i686_build/delivery/KeloPdfReaderSetup"
ls -l "$i686_build/delivery/KeloPdfReaderSetup" "$i686_build/delivery/KeloPdfReaderSetup/KeloInstaller"

# The same choice as the test command.
if scripts/can-run-i386.sh; then
  arch=i686
  step "the demonstration runs the i686 build under 32-bit Wine"
else
  arch=x86_64
  step "this machine cannot run 32-bit x86 code: the demonstration runs the x86_64 build under 64-bit Wine"
fi
prefix=$(scripts/build-deps.sh --arch "$arch" | tail -n 1)
demo_build=${KELO_DEMO_BUILD_DIR:-$top/build/$arch}
cmake -S "$top" -B "$demo_build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DKELO_DEPS_PREFIX="$prefix" -DKELO_BUILD_TESTS=ON -DKELO_DELIVERABLE_BIN="$i686_build/bin" >&2
# Only what the demonstration needs: the delivered setup folder of this
# build, the uninstaller built with its report host at 127.0.0.1, the
# update package, and the driver that plays the user.
cmake --build "$demo_build" --target setup_folder lifecycle_e2e_test -j2 >&2
echo "setup folder used: $demo_build/delivery/KeloPdfReaderSetup"

step "throwaway Wine prefix"
export KELO_ARCH=$arch
source scripts/wine-env.sh
root=$(mktemp -d /tmp/kelo-demo.XXXXXX)
cleanup() {
  WINEPREFIX=$root/prefix "$WINESERVER" -k 2>/dev/null || true
  if [ -f "$root/display" ]; then bash scripts/harness.sh cleanup "$root" >/dev/null 2>&1 || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
if [ "${KELO_DEMO_OWN_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
  echo "windows appear on your display $DISPLAY"
  export KELO_DEMO_PAUSE_MS=${KELO_DEMO_PAUSE_MS:-1500}
  WINEPREFIX=$root/prefix "$WINELOADER" wineboot -i >"$root/wineboot.log" 2>&1
  WINEPREFIX=$root/prefix "$WINESERVER" -w
else
  # Xvfb with a compositor (for the drop shadows) and a booted prefix.
  bash scripts/harness.sh setup "$root" >/dev/null
  export DISPLAY=$(cat "$root/display")
  echo "windows appear on the virtual screen $DISPLAY"
  # No window manager runs there: Wine draws the ordinary windows' title bars itself.
  WINEPREFIX=$root/prefix "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  WINEPREFIX=$root/prefix "$WINESERVER" -w
fi
export WINEPREFIX=$root/prefix
echo "prefix: $WINEPREFIX"

rm -rf "$out"
mkdir -p "$out"
export KELO_ARTIFACTS=$out

step "the life cycle"
set +e
"$WINELOADER" "$demo_build/bin/lifecycle_e2e_test.exe" 2>&1 | tee "$out/demo-output.txt"
rc=${PIPESTATUS[0]}
set -e
"$WINESERVER" -w 2>/dev/null || true

step "summary"
# The delivered folder's weight, file by file.
delivered=$i686_build/delivery/KeloPdfReaderSetup
find "$delivered" -type f -printf '%s\n' |
  awk -v d="$delivered" '{ t += $1 } END { printf "delivered setup folder %s: %d bytes (%.2f MiB)\n", d, t, t / 1048576 }'
(cd "$delivered" && find . -type f -printf '%s\t%P\n' | sort -t "$(printf '\t')" -k2) |
  awk -F'\t' '{ printf "  %10d  %s\n", $1, $2 }'
echo "unstripped programs and DLLs: $i686_build/symbols"
echo
if [ -f "$out/summary.txt" ]; then
  cat "$out/summary.txt"
else
  echo "(the run ended before it wrote its summary)"
fi
echo
echo "pictures (every page and message box):"
ls -1 "$out"/*.png 2>/dev/null | sed 's|^|  |' || echo "  none"
echo "also in $out: install.log, update.log (as UTF-8), report-request.txt and report.json"
echo "(the report the loopback server received), application-command-lines.txt, demo-output.txt"
if [ "$rc" -eq 0 ]; then
  echo "result: every check passed"
else
  echo "result: FAILED (exit code $rc), see $out/demo-output.txt"
fi
exit "$rc"
