#!/usr/bin/env bash
# A release signed as a publisher would sign it: a throwaway certificate
# (PKCS#12, password in KELO_SIGN_PASSWORD), the delivered folder built with
# KELO_SIGN_CERT in a build folder of its own, then
#   - every program and DLL verifies against that certificate as trusted root,
#     with a SHA-256 digest; the password is in no file of the build;
#   - one changed byte makes a signed file fail verification;
#   - the unsigned build's folder carries no signature;
#   - the installation end to end passes with the signed folder.
#
# usage: signed_folder_test.sh <source> <unsigned build> <harness.sh> <test root>
#          <installation test .exe> -- <cmake -D options of the signed build>...
set -euo pipefail
src=$1 build=$2 harness=$3 root=$4 install_exe=$5; shift 5
[ "${1:-}" = -- ] && shift
work=$build/signed-release
signed=$work/build
mkdir -p "$work"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# --- the publisher's certificate
password="kelo-$$-$RANDOM-pw"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelo Test Publisher" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
KELO_TEST_P12_PASSWORD=$password openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
  -out "$work/publisher.p12" -passout env:KELO_TEST_P12_PASSWORD

# --- the signed build (shares compiled objects with the others through ccache)
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$signed" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DKELO_BUILD_TESTS=OFF -DKELO_SIGN_CERT="$work/publisher.p12" "$@" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; exit 1; }
if ! KELO_SIGN_PASSWORD=$password cmake --build "$signed" --target setup_folder -j2 >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log"; exit 1
fi
grep 'setup folder:' "$work/build.log" || bad "the build did not report the signing"
if grep -rlF -- "$password" "$signed" "$work"/*.log 2>/dev/null; then
  bad "the certificate's password was written into the files above"
fi

# --- every program and DLL signed and verifying
folder=$signed/delivery/KeloPdfReaderSetup
expected=(KeloPdfReaderSetup.exe DuiLib.dll libcurl.dll libeay32.dll ssleay32.dll
          KeloInstaller/KeloPdfReader.exe KeloInstaller/Uninst.exe KeloInstaller/Update.exe)
for rel in "${expected[@]}"; do
  [ -f "$folder/$rel" ] || bad "$rel is not delivered"
done
n=0
while IFS= read -r -d '' f; do
  rel=${f#"$folder"/}
  out=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$f" 2>&1) && rc=0 || rc=$?
  if [ $rc -ne 0 ] || ! grep -q '^Signature verification: ok' <<<"$out"; then
    bad "$rel does not verify:"; echo "$out" | tail -n 8
  elif ! grep -q 'Message digest algorithm *: SHA256' <<<"$out"; then
    bad "$rel is not signed with SHA-256"
  else
    echo "ok: $rel signed"
  fi
  n=$((n + 1))
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
[ $n -ge ${#expected[@]} ] || bad "only $n programs and DLLs found in $folder"

# --- one changed byte in the code breaks the signature
cp "$folder/KeloInstaller/Uninst.exe" "$work/tampered.exe"
off=$(( $(stat -c %s "$work/tampered.exe") / 3 ))
byte=$(od -An -tu1 -j "$off" -N1 "$work/tampered.exe" | tr -d ' ')
printf '%b' "\\$(printf '%03o' $(( byte ^ 0x5a )))" |
  dd of="$work/tampered.exe" bs=1 seek="$off" conv=notrunc status=none
# It must fail on the digest, not on anything else (certificate, tools).
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >"$work/tampered.log" 2>&1; then
  bad "Uninst.exe with the byte at $off changed still verifies"
elif ! grep -q 'MISMATCH' "$work/tampered.log"; then
  bad "Uninst.exe with the byte at $off changed fails for another reason than its digest:"
  tail -n 8 "$work/tampered.log"
else
  echo "ok: a changed byte fails verification (digest mismatch)"
fi

# --- without the option nothing is signed
while IFS= read -r -d '' f; do
  if osslsigncode extract-signature -in "$f" -out "$work/unsigned.sig" >/dev/null 2>&1; then
    bad "${f#"$build"/} of the unsigned build carries a signature"
  fi
  rm -f "$work/unsigned.sig"
done < <(find "$build/delivery/KeloPdfReaderSetup" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

[ $fail -eq 0 ] || exit 1

# --- the signed programs run: the whole installation from the signed folder
win_folder="Z:${folder//\//\\}"
KELO_SETUP_DELIVERY=$win_folder "$harness" run --own-prefix --name release.signed "$root" "$install_exe" \
  --gtest_filter='InstallTest.WholeInstallationThenFinishStartsTheReader'
