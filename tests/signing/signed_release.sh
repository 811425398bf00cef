#!/usr/bin/env bash
# A release built as a publisher builds one, signed with a code-signing certificate made here
# (self-signed: only this test trusts it), in a build tree of its own.
#   signed_release.sh build SOURCE_DIR TREE
#       makes the certificate (a PKCS#12 file and its password file), configures TREE with
#       them and builds what is signed and the winget manifests, no tests
#   signed_release.sh check TREE PRISTINE PREFIX STANDIN_POWRPROF SETUP_TEST
#       every deliverable in TREE/bin verifies against the certificate, and so does each copy of
#       NSIS's plug-ins the setup program packs; the signed setup program installs silently in a
#       fresh prefix (SETUP_TEST, a test program, runs it), and the Kalnix.exe and uninstaller it
#       wrote verify too; both the setup program and that uninstaller pack only the signed
#       plug-ins
# No time-stamp: Debian 12's osslsigncode cannot reach a time-stamp server offline.
set -uo pipefail
mode=$1

verify() {
  local log
  if ! log=$(osslsigncode verify -CAfile "$keys/cert.pem" -in "$1" 2>&1); then
    echo "FAIL: $1 does not verify:" >&2
    echo "$log" | tail -n 8 >&2
    return 1
  fi
  echo "signed: $1"
}

case $mode in
build)
  source_dir=$2 tree=$3 keys=$3/test-keys
  set -e
  rm -rf "$keys"
  mkdir -p "$keys"
  openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Kalnix test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
  echo "password $RANDOM$RANDOM" > "$keys/password"
  openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -passout "file:$keys/password" \
    -out "$keys/signer.p12"
  rm "$keys/key.pem"
  # A new certificate changes the signing script's name, so an existing tree signs anew.
  cmake -S "$source_dir" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-x64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DKALNIX_SIGN_PKCS12="$keys/signer.p12" -DKALNIX_SIGN_PASSWORD_FILE="$keys/password" >/dev/null
  # The setup program's target brings Kalnix.exe and the standard KalnixCA.dll, winget's the
  # MSI package where the build makes one.
  cmake --build "$tree" --target KalnixCA_diagnostic winget
  ;;
check)
  tree=$2 pristine=$3 prefix=$4 standin=$5 setup_test=$6 keys=$2/test-keys
  status=0
  mapfile -t files < <(find "$tree/bin" -path "$tree/bin/winget" -prune -o -type f \
    \( -name '*.exe' -o -name '*.dll' -o -name '*.msi' \) -print | sort)
  for expected in Kalnix.exe standard/KalnixCA.dll diagnostic/KalnixCA.dll KalnixSetup-x64.exe; do
    [ -f "$tree/bin/$expected" ] || { echo "FAIL: no $expected in $tree/bin" >&2; status=1; }
  done
  for file in "${files[@]}"; do verify "$file" || status=1; done
  plugins=$tree/signing/nsis-plugins
  nsis_dir=$(makensis -HDRINFO | tr ', ' '\n\n' | sed -n 's/^NSISDIR=//p')
  [ -n "$(ls "$plugins"/*.dll 2>/dev/null)" ] || { echo "FAIL: no signed plug-ins in $plugins" >&2; status=1; }
  for file in "$plugins"/*.dll; do verify "$file" || status=1; done
  packed() { python3 "$(dirname "$0")/check_packed_plugins.py" "$1" "$plugins" "$nsis_dir/Plugins/amd64-unicode"; }
  packed "$tree/bin/KalnixSetup-x64.exe" || status=1

  KALNIX_KEEP_PREFIX=1 "$(dirname "$0")/../installer/fresh-prefix.sh" run x64 "$pristine" "$prefix" "$standin" \
    "$setup_test" || status=1
  installed="$prefix/drive_c/Program Files/Kalnix"
  for file in Kalnix.exe Uninstall.exe; do verify "$installed/$file" || status=1; done
  packed "$installed/Uninstall.exe" || status=1
  exit $status
  ;;
*)
  echo "usage: $0 build SOURCE_DIR TREE | check TREE PRISTINE PREFIX STANDIN_POWRPROF SETUP_TEST" >&2
  exit 2
  ;;
esac
