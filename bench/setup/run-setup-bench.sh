#!/usr/bin/env bash
# The setup program against an NSIS installer of the same payload (the
# delivered "KeloInstaller" and the four libraries), in one Wine prefix:
# time to the first painted window and a whole installation; medians and
# their ratios, where the setup program's first window spends its time, and
# the peak working set of the programs.
#
#   bench/setup/run-setup-bench.sh [build dir] [runs]
#
# <build dir> (default: build/i686 where this machine runs 32-bit code, else
# build/x86_64) holds bin/bench_setup.exe (target bench_setup) and the
# delivered folder; its machine type picks the Wine flavour (KELO_ARCH overrides).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
source "$here/../bench-common.sh"
bench_build "${1:-}"
runs=${2:-5}
bench_exe=$build/bin/bench_setup.exe
delivery=$build/delivery/KeloPdfReaderSetup
bench_need "$bench_exe" "build the target bench_setup"
bench_need "$delivery" "build the target setup_folder"
bench_arch "$bench_exe"
command -v makensis >/dev/null || { echo "bench: makensis missing (Debian package nsis)" >&2; exit 1; }

root=$build/benchrun-setup
harness=$top/scripts/harness.sh
bash "$harness" setup "$root" >&2
trap 'bash "$harness" cleanup "$root" >/dev/null 2>&1 || true' EXIT
source "$top/scripts/wine-env.sh"
export WINEPREFIX=$root/prefix DISPLAY=$(cat "$root/display")
# One wine server for the whole run, so that neither installer pays for its start.
"$WINESERVER" -p

c=$WINEPREFIX/drive_c/kbench
mkdir -p "$c"
cp -a "$delivery" "$c/setup"
if [ "$KELO_ARCH" = x86_64 ]; then nsis_target=amd64-unicode; else nsis_target=x86-unicode; fi
# What the engine does, as an NSIS script: payload, libraries, registry
# entries, shortcuts; a folder page so that the installer has a window.
cat >"$c/nsis.nsi" <<NSI
Target $nsis_target
SetCompressor /SOLID lzma
Name "KeloBench"
OutFile "$c/nsis_setup.exe"
InstallDir "C:\\kbench_nsis\\KeloPdfReader"
RequestExecutionLevel admin
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$c/setup/KeloInstaller/*"
  File "$c/setup/DuiLib.dll"
  File "$c/setup/libcurl.dll"
  File "$c/setup/libeay32.dll"
  File "$c/setup/ssleay32.dll"
  WriteRegStr HKLM "SOFTWARE\\KeloBench" "installDir" "\$INSTDIR"
  WriteRegStr HKLM "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KeloBench" "UninstallString" "\$INSTDIR\\Uninst.exe"
  CreateShortcut "\$DESKTOP\\KeloBench.lnk" "\$INSTDIR\\KeloPdfReader.exe"
  CreateDirectory "\$SMPROGRAMS\\KeloBench"
  CreateShortcut "\$SMPROGRAMS\\KeloBench\\KeloBench.lnk" "\$INSTDIR\\KeloPdfReader.exe"
SectionEnd
NSI
makensis -V1 "$c/nsis.nsi" >&2
"$WINELOADER" "$bench_exe" 'C:\kbench\setup' 'C:\kbench\nsis_setup.exe' "$runs"
# The setup program's peak working set while it installs 20 and 2,000 files
# (100 KB each, added to the delivered payload): it should not grow with them.
for n in 20 2000; do
  cp -a "$c/setup" "$c/setup$n"
  python3 - "$c/setup$n/KeloInstaller/bench" "$n" <<'EOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%02d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%04d.bin" % i), "wb") as out:
        out.write(os.urandom(100000))
EOF
  "$WINELOADER" "$bench_exe" memory "C:\\kbench\\setup$n" "$n"
  rm -rf "$c/setup$n"
done
echo "reproduce: bench/setup/run-setup-bench.sh $build $runs"
