#!/usr/bin/env bash
# Installs the Debian packages that building and testing the suite needs:
# the MinGW-w64 cross compilers, Wine (32-bit, and 64-bit for machines
# that cannot run 32-bit code), Xvfb and friends, the
# tools that draw the skins, and deb-src entries for the dependency sources.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

PKGS=(
  g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  mingw-w64-i686-dev mingw-w64-x86-64-dev mingw-w64-tools libz-mingw-w64-dev
  cmake ninja-build ccache make perl python3 dpkg-dev
  wine wine32:i386 wine64 xvfb xdotool x11-utils xcompmgr imagemagick
  locales librsvg2-bin icoutils zip unzip nsis
  fonts-wqy-microhei fonts-wine openssl osslsigncode
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
need_src=0
grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list 2>/dev/null || need_src=1

if [ ${#missing[@]} -gt 0 ] || [ $need_src -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  if [ $need_src -eq 1 ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  fi
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# Wine's Unix side needs a real zh_CN.UTF-8 locale for Chinese names and titles.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "packages ready"
