#!/usr/bin/env bash
# Cross-builds the suite's third-party libraries for Windows (i686, the
# shipped build; x86_64 for running the tests where 32-bit code cannot run) from
# Debian's source packages into a cache outside the source tree:
#   googletest (gtest, gmock)      static libraries
#   minizip (from zlib's contrib)  static library + miniunz.exe
#   jsoncpp                        static library
#   OpenSSL                        libeay32.dll + ssleay32.dll
#   curl                           libcurl.dll (HTTP and HTTPS only)
# OpenSSL and curl keep only what an HTTP(S) client needs (see below).
# zlib itself is Debian's libz-mingw-w64-dev, always linked statically.
#
# usage: build-deps.sh [--arch i686|x86_64] [--only gtest] [--force]
#   --arch        target architecture (default i686)
#   --only gtest  build just GoogleTest (a smaller prefix, its own cache entry)
#   --force       rebuild even when the cache entry is complete
#
# The cache root is $KELO_DEPS_CACHE (default /var/cache/kelopdf-deps). A
# prefix lives in $root/<key>, where the key hashes the source package
# versions, the cross toolchain's versions and this script; a finished prefix
# holds the file .complete. The prefix path is the last line on stdout, all
# other output goes to stderr:   prefix=$(scripts/build-deps.sh | tail -1)
set -euo pipefail

# The whole script is one brace group: bash reads it completely before running
# it, so a build that is running (or waiting for the lock) is not disturbed when
# the file is edited meanwhile.
{
# stdout is reserved for the final prefix line.
exec 3>&1 1>&2

arch=i686
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --arch) arch=${args[i+1]:-} ;;
    --arch=*) arch=${args[i]#--arch=} ;;
  esac
done
case "$arch" in
  i686) OSSL_TARGET=mingw; CM_PROC=x86; PKG_ARCH=i686 ;;
  x86_64) OSSL_TARGET=mingw64; CM_PROC=AMD64; PKG_ARCH=x86-64 ;;
  *) echo "build-deps: --arch wants i686 or x86_64" >&2; exit 2 ;;
esac
HOST=$arch-w64-mingw32
CC_X=$HOST-gcc-win32
CXX_X=$HOST-g++-win32
SYSROOT=/usr/$HOST
ZLIB_A=$SYSROOT/lib/libz.a
JOBS=2
# The programs run on Windows XP and later: the DLLs must not import
# functions that XP lacks (SRW locks, BCryptGenRandom, ...).
WINNT_FLAG=-D_WIN32_WINNT=0x0501
# OpenSSL's configuration and module folders on Windows. They live under the
# Windows folder, which only administrators can write, so an elevated program
# never picks up a planted openssl.cnf or module; configuration is not loaded
# automatically anyway.
WIN_OPENSSLDIR='C:/Windows/KeloPdfReader/ssl'

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self="$here/$(basename "${BASH_SOURCE[0]}")"
root=${KELO_DEPS_CACHE:-/var/cache/kelopdf-deps}
work_base=${KELO_DEPS_WORK:-/var/tmp/kelopdf-deps-work}

only=all
force=0
while [ $# -gt 0 ]; do
  case "$1" in
    --only) [ $# -ge 2 ] || { echo "build-deps: --only wants a name" >&2; exit 2; }
            only=$2; shift ;;
    --only=*) only=${1#--only=} ;;
    --force) force=1 ;;
    --arch) shift ;;
    --arch=*) ;;
    -h|--help) sed -n '2,20p' "$self" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deps: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
case "$only" in all|gtest) ;; *) echo "build-deps: --only knows only 'gtest'" >&2; exit 2 ;; esac

log() { echo "build-deps: $*" >&2; }
die() { echo "build-deps: error: $*" >&2; exit 1; }

for tool in "$CC_X" "$CXX_X" $HOST-ar $HOST-ranlib $HOST-windres $HOST-objdump \
            cmake ninja make perl patch dpkg-source apt-get apt-cache flock sha256sum; do
  command -v "$tool" >/dev/null || die "$tool is missing (run scripts/install-packages.sh)"
done
[ -f "$ZLIB_A" ] || die "$ZLIB_A is missing (package libz-mingw-w64-dev)"

mkdir -p "$root" "$root/sources"

# ---------------------------------------------------------------- sources

# Debian versions of a source package known to apt, newest first.
source_versions() {
  local pkg=$1 v sorted=() i
  while read -r v; do
    [ -n "$v" ] || continue
    for i in "${sorted[@]+"${sorted[@]}"}"; do [ "$i" = "$v" ] && continue 2; done
    sorted+=("$v")
  done < <(apt-cache showsrc "$pkg" 2>/dev/null | awk -v p="$pkg" '
             $1 == "Package:" { cur = $2 } $1 == "Version:" && cur == p { print $2 }')
  # insertion sort with dpkg's ordering (a handful of entries)
  local n=${#sorted[@]} j t
  for ((i = 1; i < n; i++)); do
    t=${sorted[i]}; j=$((i - 1))
    while [ $j -ge 0 ] && dpkg --compare-versions "${sorted[j]}" lt "$t"; do
      sorted[j+1]=${sorted[j]}; j=$((j - 1))
    done
    sorted[j+1]=$t
  done
  printf '%s\n' "${sorted[@]+"${sorted[@]}"}"
}

# Picks the newest version of a source package whose files can be had: from
# the download cache, else downloaded now. A version the archive failed to
# serve is not asked for again for a day (mirrors sometimes list security
# updates before they serve the files). Prints the version. With a second
# argument "cached", fails instead of downloading.
resolve_source() {
  local pkg=$1 mode=${2:-} v d tmp
  while read -r v; do
    [ -n "$v" ] || continue
    d="$root/sources/${pkg}_${v//:/%}"
    if [ -f "$d/.ok" ]; then echo "$v"; return 0; fi
    if [ -f "$d.unavailable" ] && [ -n "$(find "$d.unavailable" -mmin -1440 2>/dev/null)" ]; then
      continue
    fi
    [ "$mode" != cached ] || return 1
    tmp="$d.tmp.$$"
    rm -rf "$tmp"; mkdir -p "$tmp"
    log "downloading source $pkg=$v"
    if (cd "$tmp" && apt-get source --download-only -qq "$pkg=$v" >apt.log 2>&1) \
       && ls "$tmp"/*.dsc >/dev/null 2>&1; then
      rm -f "$tmp/apt.log"; touch "$tmp/.ok"
      rm -rf "$d"; mv "$tmp" "$d"; rm -f "$d.unavailable"
      echo "$v"; return 0
    fi
    log "source $pkg=$v could not be downloaded: $(grep -m1 -E '^(E|Err):' "$tmp/apt.log" || true)"
    rm -rf "$tmp"; touch "$d.unavailable"
  done < <(source_versions "$pkg")
  return 1
}

# Unpacks a cached source package into $work (Debian patches applied).
unpack_source() {
  local pkg=$1 v=$2 dest=$3 d
  d="$root/sources/${pkg}_${v//:/%}"
  rm -rf "$dest"
  dpkg-source --no-check -x "$d"/*.dsc "$dest" >"$work/logs/unpack-$pkg.log" 2>&1 ||
    die "dpkg-source failed for $pkg (see $work/logs/unpack-$pkg.log)"
}

if [ "$only" = gtest ]; then pkgs=(googletest); else pkgs=(googletest zlib libjsoncpp openssl curl); fi
declare -A ver
if ! command -v dpkg-source >/dev/null || [ -z "$(source_versions googletest)" ]; then
  die "apt knows no source packages: deb-src entries are needed (scripts/install-packages.sh adds them)"
fi
pkgver() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
toolchain_desc=$(
  echo "gcc-mingw-w64-$PKG_ARCH-win32=$(pkgver gcc-mingw-w64-$PKG_ARCH-win32)"
  echo "g++-mingw-w64-$PKG_ARCH-win32=$(pkgver g++-mingw-w64-$PKG_ARCH-win32)"
  echo "mingw-w64-$PKG_ARCH-dev=$(pkgver mingw-w64-$PKG_ARCH-dev)"
  echo "binutils-mingw-w64-$PKG_ARCH=$(pkgver binutils-mingw-w64-$PKG_ARCH)"
  echo "libz-mingw-w64-dev=$(pkgver libz-mingw-w64-dev)"
)
script_sums=$(sha256sum <"$self"; sha256sum <"$here/check-imports.sh")
# Sets versions_desc, key and prefix from the resolved versions in ver.
compute_key() {
  versions_desc=$(for p in "${pkgs[@]}"; do echo "$p=${ver[$p]}"; done)
  key=$( { echo "$only"; [ "$arch" = i686 ] || echo "$arch"; echo "$versions_desc"
           echo "$toolchain_desc"; echo "$script_sums"; } | sha256sum | cut -c1-16)
  [ "$only" = gtest ] && key="gtest-$key"
  [ "$arch" = i686 ] || key="$arch-$key"
  prefix="$root/$key"
}
reuse_if_complete() {
  if [ $force -eq 0 ] && [ -f "$prefix/.complete" ]; then
    log "cached: $prefix"
    echo "$prefix" >&3
    exit 0
  fi
}

# Fast path without the lock: sources known, prefix built (another build,
# e.g. for the other architecture, may hold the lock for minutes).
cached_all=1
for p in "${pkgs[@]}"; do
  ver[$p]=$(resolve_source "$p" cached) || { cached_all=0; break; }
done
if [ $cached_all -eq 1 ]; then compute_key; reuse_if_complete; fi

# Several builds may start at once (each developer's configure step): one
# builds, the others wait and then find the finished prefix.
exec 9>"$root/.lock"
flock 9
for p in "${pkgs[@]}"; do
  ver[$p]=$(resolve_source "$p") || die "no version of source package $p could be downloaded"
done
compute_key
reuse_if_complete

# ---------------------------------------------------------------- build

start=$(date +%s)
work="$work_base/$key"
# Only the latest build's tree is kept (for its logs); no build is running
# while the lock is held.
for d in "$work_base"/*; do
  case "${d##*/}" in
    ????????????????|gtest-????????????????|x86_64-????????????????|x86_64-gtest-????????????????)
      rm -rf "$d" ;;
  esac
done
mkdir -p "$work/logs"
stage="$root/.building-$key.$$"
rm -rf "$root"/.building-"$key".*
mkdir -p "$stage"/{bin,lib,include}
log "building $key in $work (sources: $(tr '\n' ' ' <<<"$versions_desc"))"
on_exit() {
  if [ -d "$stage" ]; then
    rm -rf "$stage"
    log "FAILED; logs and sources are in $work"
  fi
}
trap on_exit EXIT

cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $CM_PROC)
set(CMAKE_C_COMPILER $CC_X)
set(CMAKE_CXX_COMPILER $CXX_X)
set(CMAKE_RC_COMPILER $HOST-windres)
set(CMAKE_AR $(command -v $HOST-ar))
set(CMAKE_RANLIB $(command -v $HOST-ranlib))
set(CMAKE_FIND_ROOT_PATH $SYSROOT $stage)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Runs a step quietly, keeping its output in logs/<name>.log.
step() {
  local name=$1; shift
  local t0; t0=$(date +%s)
  if ! "$@" >"$work/logs/$name.log" 2>&1; then
    tail -n 40 "$work/logs/$name.log"
    die "step $name failed (full log: $work/logs/$name.log)"
  fi
  log "  $name done ($(( $(date +%s) - t0 )) s)"
}

cmake_build() {   # srcdir builddir [cmake args...]
  local src=$1 bld=$2; shift 2
  cmake -S "$src" -B "$bld" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" \
    -DCMAKE_INSTALL_LIBDIR=lib \
    "$@" &&
  cmake --build "$bld" -j "$JOBS" &&
  cmake --install "$bld"
}

# GoogleTest's Notification (used by its thread helpers) is built on
# std::mutex and std::condition_variable, which libstdc++ of the win32
# thread model does not have. With that runtime it gets a Win32 manual-reset
# event instead; everything else in GoogleTest already uses Win32 primitives.
patch_gtest_notification() {
  local hdr="$1/include/gtest/internal/gtest-port.h" src="$1/src/gtest-port.cc"
  perl -0pi -e '
    s{(#if GTEST_IS_THREADSAFE\n// Some platforms don.t support including these threading related headers\.\n)}{// MinGW libstdc++ without gthreads (win32 thread model): no <mutex>.
#if GTEST_OS_WINDOWS && defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define GTEST_INTERNAL_WIN32_NOTIFICATION_ 1
#endif

#if GTEST_IS_THREADSAFE && !defined(GTEST_INTERNAL_WIN32_NOTIFICATION_)
// Some platforms don\x27t support including these threading related headers.
} or die "gtest-port.h: include block not found\n";
    s{(#if GTEST_HAS_NOTIFICATION_\n// Notification has already been imported into the namespace\.\n// Nothing to do here\.\n)}{$1
#elif defined(GTEST_INTERNAL_WIN32_NOTIFICATION_)
// Lets a controller thread release the threads it created (Win32 event).
class GTEST_API_ Notification {
 public:
  Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify();
  void WaitForNotification();

 private:
  AutoHandle event_;
};
} or die "gtest-port.h: Notification not found\n";
  ' "$hdr"
  perl -0pi -e '
    s{\n(Mutex::Mutex\(\)\n)}{
#ifdef GTEST_INTERNAL_WIN32_NOTIFICATION_
Notification::Notification()
    : event_(::CreateEvent(nullptr, TRUE, FALSE, nullptr)) {
  GTEST_CHECK_(event_.Get() != nullptr);
}

void Notification::Notify() { GTEST_CHECK_(::SetEvent(event_.Get()) != FALSE); }

void Notification::WaitForNotification() {
  GTEST_CHECK_(::WaitForSingleObject(event_.Get(), INFINITE) == WAIT_OBJECT_0);
}
#endif  // GTEST_INTERNAL_WIN32_NOTIFICATION_

$1} or die "gtest-port.cc: Mutex::Mutex not found\n";
  ' "$src"
}

# --- GoogleTest + GoogleMock (first: test code can start compiling early)
build_gtest() {
  # A finished --only gtest entry for the same googletest saves the rebuild.
  local d cached="" script_id
  script_id=$(sha256sum <"$self" | cut -c1-16)
  for d in "$root"/gtest-* "$root"/$arch-gtest-*; do
    case "$d" in "$root"/gtest-*) [ "$arch" = i686 ] || continue ;; esac
    if [ -f "$d/.complete" ] && grep -qxF "googletest=${ver[googletest]}" "$d/VERSIONS" &&
       grep -qxF "script=$script_id" "$d/VERSIONS"; then
      cached=$d; break
    fi
  done
  if [ "$only" = all ] && [ -n "$cached" ]; then
    log "googletest: copied from $cached"
    cp -a "$cached/include/." "$stage/include/"
    cp -a "$cached/lib/." "$stage/lib/"
    return 0
  fi
  log "googletest ${ver[googletest]}"
  unpack_source googletest "${ver[googletest]}" "$work/googletest"
  patch_gtest_notification "$work/googletest/googletest"
  step gtest cmake_build "$work/googletest" "$work/build-gtest" \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -DBUILD_SHARED_LIBS=OFF \
    -Dgtest_disable_pthreads=ON -Dgtest_build_tests=OFF -Dgtest_build_samples=OFF \
    -Dgmock_build_tests=OFF
  rm -rf "$stage/lib/cmake" "$stage/lib/pkgconfig"
}

# --- minizip from zlib's contrib/minizip, against the static MinGW zlib
build_minizip() {
  log "minizip (zlib ${ver[zlib]})"
  unpack_source zlib "${ver[zlib]}" "$work/zlib"
  local mz="$work/zlib/contrib/minizip" o="$work/build-minizip"
  mkdir -p "$o"
  # unzip.c switches traditional PKWARE decryption off unconditionally;
  # the updater opens password-protected entries, so that block goes.
  perl -0pi -e 's/#ifndef NOUNCRYPT\n\s*#define NOUNCRYPT\n#endif\n//' "$mz/unzip.c"
  ! grep -q 'define NOUNCRYPT' "$mz/unzip.c" || die "could not enable decryption in unzip.c"
  # No UNICODE: iowin32.c then serves narrow names through the A functions,
  # and wide names through fill_win32_filefunc64W.
  local cflags=(-O2 -DNDEBUG "$WINNT_FLAG" -Wall -Wno-unused-variable -Wno-unused-but-set-variable -I"$mz")
  local f mlog="$work/logs/minizip.log"
  for f in unzip ioapi iowin32 zip mztools miniunz; do
    "$CC_X" "${cflags[@]}" -c "$mz/$f.c" -o "$o/$f.o" 2>>"$mlog" ||
      { cat "$mlog"; die "minizip: $f.c does not compile"; }
  done
  "$HOST-ar" rcs "$stage/lib/libminizip.a" "$o"/{unzip,ioapi,iowin32,zip,mztools}.o
  "$CC_X" -static -s -o "$stage/bin/miniunz.exe" "$o/miniunz.o" "$stage/lib/libminizip.a" "$ZLIB_A" \
    2>>"$mlog" || { cat "$mlog"; die "minizip: miniunz.exe does not link"; }
  mkdir -p "$stage/include/minizip"
  for f in unzip.h ioapi.h iowin32.h zip.h crypt.h mztools.h; do
    install -m 644 "$mz/$f" "$stage/include/minizip/$f"
  done
  # The static zlib beside the other libraries: with -L<prefix>/lib, -lz
  # then finds it before the sysroot's zlib1.dll import library.
  install -m 644 "$ZLIB_A" "$stage/lib/libz.a"
}

# --- jsoncpp, static
build_jsoncpp() {
  log "jsoncpp ${ver[libjsoncpp]}"
  unpack_source libjsoncpp "${ver[libjsoncpp]}" "$work/jsoncpp"
  step jsoncpp cmake_build "$work/jsoncpp" "$work/build-jsoncpp" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=OFF \
    -DJSONCPP_WITH_EXAMPLE=OFF
  [ -f "$stage/lib/libjsoncpp.a" ] || die "jsoncpp did not install lib/libjsoncpp.a"
}

# --- OpenSSL as libeay32.dll / ssleay32.dll
build_openssl() {
  log "openssl ${ver[openssl]}"
  local src="$work/openssl"
  unpack_source openssl "${ver[openssl]}" "$src"
  # Debian's pic.patch rewrites the x86 perlasm for ELF PIC, which breaks
  # the assembly for Windows targets.
  (cd "$src" && patch -R -p1 -s <debian/patches/pic.patch) >"$work/logs/openssl-patch.log" 2>&1 ||
    die "could not revert pic.patch (see $work/logs/openssl-patch.log)"
  # The suite ships the crypto and ssl DLLs under their classic names.
  perl -0pi -e 's/sub sharedname \{.*?\n\}\n/sub sharedname {
    my \$name = platform::BASE->sharedname(\$_[1]);
    return undef unless defined \$name;
    my %classic = (libcrypto => "libeay32", libssl => "ssleay32");
    return \$classic{\$name} \/\/ \$name;
}
/s' "$src/Configurations/platform/mingw.pm"
  grep -q libeay32 "$src/Configurations/platform/mingw.pm" || die "could not patch mingw.pm"
  # The uninstaller's report is an HTTP(S) client and nothing else: TLS 1.2
  # and 1.3 with the usual RSA/ECDSA certificates, AES-GCM, ChaCha20-Poly1305,
  # ECDHE/DHE. Everything else (engines, the legacy provider, compression,
  # DTLS, SRP/PSK, OCSP/CMS/time stamps/CMP, obsolete and national ciphers)
  # is left out; -Os instead of -O3 because speed does not matter here.
  local OSSL_TRIM=(no-engine no-dynamic-engine no-legacy no-comp no-srp no-psk no-ts
                   no-ocsp no-cms no-cmp no-ct no-dtls no-ssl3 no-srtp no-sctp
                   no-nextprotoneg no-rfc3779 no-ssl-trace no-ui-console
                   no-idea no-mdc2 no-md2 no-md4 no-rc2 no-rc4 no-rc5 no-seed
                   no-whirlpool no-rmd160 no-camellia no-aria no-cast no-bf
                   no-sm2 no-sm3 no-sm4 no-gost no-siv no-ocb no-scrypt no-ec2m
                   no-dsa no-des)
  local ossl_dirs=(OPENSSLDIR="$WIN_OPENSSLDIR" ENGINESDIR="$WIN_OPENSSLDIR/engines-3"
                   MODULESDIR="$WIN_OPENSSLDIR/ossl-modules")
  step openssl-configure env -C "$src" CC=gcc-win32 CXX=g++-win32 AR=ar RANLIB=ranlib RC=windres \
    perl Configure $OSSL_TARGET --cross-compile-prefix=$HOST- --prefix="$stage" --libdir=lib \
      shared no-tests no-autoload-config no-module "${OSSL_TRIM[@]}" -Os "$WINNT_FLAG"
  step openssl-build make -C "$src" -j "$JOBS" build_libs "${ossl_dirs[@]}"
  step openssl-install make -C "$src" install_dev "${ossl_dirs[@]}"
  [ -f "$stage/bin/libeay32.dll" ] && [ -f "$stage/bin/ssleay32.dll" ] ||
    die "OpenSSL did not install bin/libeay32.dll and bin/ssleay32.dll"
  rm -rf "$stage/lib/pkgconfig" "$stage/lib/cmake"
}

# --- curl as libcurl.dll, HTTP and HTTPS only
build_curl() {
  log "curl ${ver[curl]}"
  local src="$work/curl"
  unpack_source curl "${ver[curl]}" "$src"
  # Debian's packaging patches that rename the library for its NSS and
  # GnuTLS flavours; they stack, so the NSS one comes off first.
  (cd "$src" && patch -R -p1 -s <debian/patches/99_nss.patch &&
                patch -R -p1 -s <debian/patches/90_gnutls.patch) >"$work/logs/curl-patch.log" 2>&1 ||
    die "could not revert curl's nss/gnutls patches (see $work/logs/curl-patch.log)"
  step curl cmake_build "$src" "$work/build-curl" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DPICKY_COMPILER=OFF -DCMAKE_C_FLAGS_RELEASE="-Os -DNDEBUG" \
    -DCMAKE_C_FLAGS="$WINNT_FLAG" -DCMAKE_SHARED_LINKER_FLAGS="-static-libgcc" \
    -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF -DCURL_WINDOWS_SSPI=OFF \
    -DOPENSSL_ROOT_DIR="$stage" -DOPENSSL_INCLUDE_DIR="$stage/include" \
    -DOPENSSL_CRYPTO_LIBRARY="$stage/lib/libcrypto.dll.a" \
    -DOPENSSL_SSL_LIBRARY="$stage/lib/libssl.dll.a" \
    -DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON \
    -DCURL_ZLIB=ON -DZLIB_LIBRARY="$ZLIB_A" -DZLIB_INCLUDE_DIR="$SYSROOT/include" \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_TELNET=ON \
    -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_GOPHER=ON \
    -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_SMTP=ON \
    -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_SMB=ON -DCURL_DISABLE_MQTT=ON \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
    -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_ARES=OFF \
    -DENABLE_UNIX_SOCKETS=OFF -DENABLE_WEBSOCKETS=OFF \
    -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_HSTS=ON \
    -DCURL_DISABLE_DOH=ON -DCURL_DISABLE_MIME=ON -DCURL_DISABLE_NETRC=ON \
    -DCURL_DISABLE_NTLM=ON -DCURL_DISABLE_GETOPTIONS=ON -DCURL_DISABLE_PROGRESS_METER=ON
  [ -f "$stage/bin/libcurl.dll" ] && [ -f "$stage/lib/libcurl.dll.a" ] ||
    die "curl did not install bin/libcurl.dll and lib/libcurl.dll.a"
  rm -rf "$stage/lib/pkgconfig" "$stage/lib/cmake" "$stage/bin/curl-config" \
         "$stage/share"
}

# Compiles and links small programs against the prefix: the APIs the
# suite relies on must be there.
link_checks() {
  local t="$work/linkcheck"
  mkdir -p "$t"
  cat >"$t/json.cpp" <<'EOF'
#include <json/json.h>
#include <string>
int main() {
  Json::Value v;
  v["name"] = "x";
  v["flag"] = true;
  Json::FastWriter w;
  std::string s = w.write(v);
  return s.empty() ? 1 : 0;
}
EOF
  cat >"$t/unz.c" <<'EOF'
#include <windows.h>
#include <minizip/unzip.h>
#include <minizip/iowin32.h>
int main(void) {
  zlib_filefunc64_def ff;
  unzFile z;
  fill_win32_filefunc64W(&ff);
  z = unzOpen2_64(L"missing.zip", &ff);
  if (z) { unzOpenCurrentFilePassword(z, "pw"); unzClose(z); }
  z = unzOpen("missing.zip");
  return z != NULL;
}
EOF
  cat >"$t/curl.c" <<'EOF'
#include <curl/curl.h>
#include <stdio.h>
int main(void) {
  CURL *c = curl_easy_init();
  struct curl_slist *h = curl_slist_append(NULL, "Content-Type: application/x-www-form-urlencoded");
  long code = 0;
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, h);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 15L);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
  puts(curl_easy_strerror(CURLE_OK));
  puts(curl_version());
  curl_slist_free_all(h);
  curl_easy_cleanup(c);
  return 0;
}
EOF
  cat >"$t/gt.cpp" <<'EOF'
#include <gmock/gmock.h>
#include <gtest/gtest.h>
TEST(Prefix, Links) { EXPECT_THAT(2, ::testing::Eq(2)); }
EOF
  local ldx=(-static-libgcc -static-libstdc++ -static)
  if [ "$only" = all ]; then
    "$CXX_X" -std=c++17 -I"$stage/include" "$t/json.cpp" -o "$t/json.exe" \
      -L"$stage/lib" -ljsoncpp "${ldx[@]}" 2>"$t/json.err" || { cat "$t/json.err"; return 1; }
    "$CC_X" -I"$stage/include" "$t/unz.c" -o "$t/unz.exe" \
      -L"$stage/lib" -lminizip -lz -static || return 1
    "$CC_X" -I"$stage/include" "$t/curl.c" -o "$t/curl.exe" \
      -L"$stage/lib" -lcurl -static-libgcc || return 1
    "$here/check-imports.sh" --arch "$arch" "$t/json.exe" "$t/unz.exe" || return 1
    "$here/check-imports.sh" --arch "$arch" --needs libcurl.dll "$t/curl.exe" || return 1
  fi
  "$CXX_X" -std=c++17 -I"$stage/include" "$t/gt.cpp" -o "$t/gt.exe" \
    -L"$stage/lib" -lgmock_main -lgmock -lgtest "${ldx[@]}" || return 1
  "$here/check-imports.sh" --arch "$arch" "$t/gt.exe"
}

build_gtest
if [ "$only" = all ]; then
  build_minizip
  build_jsoncpp
  build_openssl
  build_curl
fi
step link-checks link_checks

{
  echo "# source packages (Debian versions) built into this prefix"
  echo "$versions_desc"
  echo "# cross toolchain"
  echo "$toolchain_desc"
  echo "script=$(sha256sum <"$self" | cut -c1-16)"
} >"$stage/VERSIONS"

if [ "$only" = all ]; then
  log "checking import tables"
  "$here/check-imports.sh" --arch "$arch" --xp --needs libeay32.dll --needs ssleay32.dll "$stage/bin/libcurl.dll"
  "$here/check-imports.sh" --arch "$arch" --xp --needs libeay32.dll "$stage/bin/ssleay32.dll"
  "$here/check-imports.sh" --arch "$arch" --xp "$stage/bin/libeay32.dll" "$stage/bin/miniunz.exe"
  "$here/check-imports.sh" --arch "$arch" --list "$stage"/bin/*.dll "$stage/bin/miniunz.exe"
fi

touch "$stage/.complete"
# Swap the finished tree in; a prefix without .complete is never used.
if [ -e "$prefix" ]; then rm -rf "$prefix.old.$$"; mv "$prefix" "$prefix.old.$$"; fi
mv "$stage" "$prefix"
rm -rf "$prefix.old.$$" "$work"
log "built $prefix in $(( $(date +%s) - start )) s"
echo "$prefix" >&3
exit 0
}
