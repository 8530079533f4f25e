# Sourced by the scripts that run Windows programs: the environment every Wine
# process of the suite gets. KELO_ARCH (i686 or x86_64) is the programs'
# architecture; KELO_PREFIX_ARCH (win32 or win64) the prefix's, by default
# win32 for i686 and win64 for x86_64. i686 programs in a win64 prefix run as
# on 64-bit Windows: under WOW64, with the 64-bit loader handing them to the
# 32-bit one. WINEPREFIX is set by the caller.
case "${KELO_ARCH:-i686}" in
  i686) prefix_arch=${KELO_PREFIX_ARCH:-win32} ;;
  x86_64) prefix_arch=win64 ;;
  *) echo "unknown KELO_ARCH=$KELO_ARCH" >&2; return 1 ;;
esac
case "$prefix_arch" in
  win32)
    export WINEARCH=win32
    export WINELOADER=/usr/lib/wine/wine
    export WINESERVER=/usr/lib/wine/wineserver32
    ;;
  win64)
    export WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    ;;
  *) echo "unknown KELO_PREFIX_ARCH=$KELO_PREFIX_ARCH" >&2; return 1 ;;
esac
KELO_WINE=$WINELOADER
export WINEDEBUG=${WINEDEBUG:--all}
# Chinese locale: Wine's ANSI code page becomes 936 (GBK).
export LC_ALL=zh_CN.UTF-8
export LANG=zh_CN.UTF-8
# No Mono or Gecko installer prompts in a fresh prefix, and no menu entries
# written into the Unix desktop for the shortcuts the tests create.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
export GTEST_COLOR=no
