#!/usr/bin/env bash
# Test harness for Windows programs under Wine.
#   harness.sh setup   <root>    fresh shared prefix, Xvfb (+ compositor)
#   harness.sh cleanup <root>    stops Wine servers and Xvfb of this run
#   harness.sh run [--own-prefix] [--name N] [--drive x=/unix/dir] <root> <program.exe> [args...]
# The prefix template is made once per run with wineboot; the shared prefix
# and every private prefix are copies of it, which is much cheaper than
# booting a new one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

# start_display <folder>: an Xvfb on a free display number with a compositor;
# leaves display, xvfb.pid and xcompmgr.pid in the folder.
start_display() {
  local root=$1 n
  for n in $(seq 91 190); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp -ac >"$root/xvfb.log" 2>&1 &
    echo $! >"$root/xvfb.pid"
    for _ in $(seq 50); do
      [ -e /tmp/.X11-unix/X$n ] && break
      sleep 0.1
    done
    sleep 0.2
    # A second harness may have raced for the same number: the loser's Xvfb exits.
    if [ -e /tmp/.X11-unix/X$n ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null; then
      echo ":$n" >"$root/display"
      # A compositor, so that layered windows (the drop shadow) show their alpha.
      DISPLAY=:$n xcompmgr >"$root/xcompmgr.log" 2>&1 &
      echo $! >"$root/xcompmgr.pid"
      return 0
    fi
    kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true
  done
  echo "harness: no free X display" >&2
  return 1
}

stop_display() {
  local root=$1 f
  for f in xcompmgr xvfb; do
    [ -f "$root/$f.pid" ] && kill "$(cat "$root/$f.pid")" 2>/dev/null || true
  done
}

stop_servers() {
  local root=$1 p
  for p in "$root"/prefix "$root"/prefixes/* "$root"/template; do
    [ -d "$p" ] && WINEPREFIX=$p "$WINESERVER" -k 2>/dev/null || true
  done
}

cmd=$1; shift
case "$cmd" in
  setup)
    # Wine takes only absolute prefix paths.
    root=$(realpath -m "$1")
    if [ -d "$root" ]; then
      bash "$0" cleanup "$root" || true
      rm -rf "$root"
    fi
    mkdir -p "$root/prefixes" "$root/artifacts"
    start_display "$root"
    export DISPLAY=$(cat "$root/display")
    WINEPREFIX=$root/template "$WINELOADER" wineboot -i >"$root/wineboot.log" 2>&1
    WINEPREFIX=$root/template "$WINESERVER" -w
    [ -d "$root/template/drive_c/windows" ] || { echo "harness: wineboot failed" >&2; cat "$root/wineboot.log" >&2; exit 1; }
    # Wine links the user's shell folders (Desktop, Documents, ...) to the
    # Unix home; tests must not write there, nor share them between prefixes.
    for l in "$root"/template/drive_c/users/*/*; do
      if [ -L "$l" ]; then rm -f "$l"; mkdir -p "$l"; fi
    done
    cp -a "$root/template" "$root/prefix"
    echo "harness: prefix ready ($KELO_ARCH programs, $WINEARCH prefix, display $DISPLAY)"
    ;;
  cleanup)
    root=$(realpath -m "$1")
    stop_servers "$root"
    stop_display "$root"
    for d in "$root"/displays/*; do
      [ -d "$d" ] && stop_display "$d"
    done
    echo "harness: stopped"
    ;;
  run)
    own=0; name=""; drives=()
    while [ $# -gt 0 ]; do
      case "$1" in
        --own-prefix) own=1; shift ;;
        --name) name=$2; shift 2 ;;
        # --drive x=/unix/folder: drive letter x in the private prefix
        --drive) drives+=("$2"); shift 2 ;;
        *) break ;;
      esac
    done
    root=$(realpath -m "$1"); prog=$2; shift 2
    [ -f "$root/display" ] || { echo "harness: run 'setup' first" >&2; exit 1; }
    export DISPLAY=$(cat "$root/display")
    export KELO_ARTIFACTS=$root/artifacts
    if [ $own -eq 1 ]; then
      [ -n "$name" ] || name=$(basename "$prog" .exe)
      export WINEPREFIX=$root/prefixes/$name
      rm -rf "$WINEPREFIX"
      cp -a "$root/template" "$WINEPREFIX"
      for d in "${drives[@]}"; do
        ln -sfn "${d#*=}" "$WINEPREFIX/dosdevices/${d%%=*}:"
      done
      # A screen of its own, so that tests running side by side never see
      # (or cover) each other's windows.
      disp=$root/displays/$name
      rm -rf "$disp"; mkdir -p "$disp"
      start_display "$disp"
      export DISPLAY=$(cat "$disp/display")
    else
      export WINEPREFIX=$root/prefix
    fi
    set +e
    "$WINELOADER" "$prog" "$@"
    rc=$?
    set -e
    if [ $own -eq 1 ]; then
      "$WINESERVER" -k 2>/dev/null || true
      "$WINESERVER" -w 2>/dev/null || true
      stop_display "$disp"
      rm -rf "$WINEPREFIX"
    fi
    exit $rc
    ;;
  *) echo "usage: harness.sh setup|cleanup|run ..." >&2; exit 2 ;;
esac
