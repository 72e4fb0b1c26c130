#!/usr/bin/env bash
# Packs a Windows build (scripts/build-windows.sh) for users: a zip and an MSI (wixl) holding
# oa-cleanup.exe, oa-store.exe, README.txt and LICENSES.txt, in BUILD/package/.
# Usage: package-windows.sh BUILD_DIR
# Signing (Authenticode, osslsigncode): with OA_SIGN_CERT (the code-signing certificate, PEM or
# DER, with its chain) and OA_SIGN_KEY (its private key) both programs and the MSI are signed;
# OA_SIGN_PASS_FILE names a file holding the key's pass phrase (never given on a command line),
# OA_SIGN_TIMESTAMP_URL a time-stamping service to count the signature past the certificate's
# end. Neither file belongs in the repository. Without them the packages are unsigned.
set -euo pipefail

cd "$(dirname "$0")/.."
top=$PWD
build=$(realpath "${1:?usage: package-windows.sh BUILD_DIR}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=oa-cleanup-$version-win64
package=$build/package
stage=$package/$name
rm -rf "$package"
mkdir -p "$stage"

signing=
if [ -n "${OA_SIGN_CERT:-}" ] || [ -n "${OA_SIGN_KEY:-}" ]; then
  for f in "${OA_SIGN_CERT:-}" "${OA_SIGN_KEY:-}" ${OA_SIGN_PASS_FILE:+"$OA_SIGN_PASS_FILE"}; do
    [ -n "$f" ] && [ -r "$f" ] || {
      echo "package-windows.sh: signing needs OA_SIGN_CERT and OA_SIGN_KEY, readable files" \
        "(and OA_SIGN_PASS_FILE, when set): '${f}' is not" >&2
      exit 1
    }
  done
  command -v osslsigncode >/dev/null || {
    echo "package-windows.sh: signing needs osslsigncode (apt-get install osslsigncode)" >&2
    exit 1
  }
  signing=1
fi
# Signs FILE in place (SHA-256), named as the product, when signing is asked for.
sign() {
  [ -n "$signing" ] || return 0
  local options=(-certs "$OA_SIGN_CERT" -key "$OA_SIGN_KEY" -h sha256
    -n "ondavel Agent Cleanup")
  [ -z "${OA_SIGN_PASS_FILE:-}" ] || options+=(-readpass "$OA_SIGN_PASS_FILE")
  [ -z "${OA_SIGN_TIMESTAMP_URL:-}" ] || options+=(-ts "$OA_SIGN_TIMESTAMP_URL")
  rm -f "$1.signed"
  osslsigncode sign "${options[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  echo "Signed: $1"
}

# The programs without their debugging information, which only the build needs; signed after
# stripping, which would break a signature.
for exe in console/oa-cleanup.exe tools/oa-store/oa-store.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$exe")" "$build/$exe"
  sign "$stage/$(basename "$exe")"
done
sed 's/$/\r/' "$top/packaging/windows/README.txt" >"$stage/README.txt"

# The licences of what is linked into the programs, from Debian's own copyright files.
licence() {  # TITLE FILE
  [ -f "$2" ] || {
    echo "package-windows.sh: licence text $2 is missing" >&2
    exit 1
  }
  printf '%s\n%s\n\n' "$1" "$(printf '%*s' ${#1} '' | tr ' ' '=')"
  cat "$2"
  printf '\n\n'
}
deps=$build/deps/src
{
  echo "Licences of the libraries built into oa-cleanup.exe and oa-store.exe"
  echo
  licence "SQLite" "$(ls -d "$deps"/sqlite3-*/ | head -n1)debian/copyright"
  licence "pugixml" "$(ls -d "$deps"/pugixml-*/ | head -n1)LICENSE.md"
  licence "CLI11" /usr/share/doc/libcli11-dev/copyright
  licence "JSON for Modern C++ (nlohmann/json)" /usr/share/doc/nlohmann-json3-dev/copyright
  licence "mingw-w64 runtime and winpthreads" /usr/share/doc/mingw-w64-x86-64-dev/copyright
  licence "GCC runtime libraries (libstdc++, libgcc; GCC Runtime Library Exception)" \
    /usr/share/doc/gcc-mingw-w64-base/copyright
} | sed 's/$/\r/' >"$stage/LICENSES.txt"

(cd "$package" && zip -q -r -X "$name.zip" "$name")
# wixl takes file sources relative to where it runs.
(cd "$package" && wixl -a x64 -D Version="$version" -D SourceDir="$name" -o "$name.msi" \
  "$top/packaging/windows/oa-cleanup.wxs")
sign "$package/$name.msi"
echo "Packages: $package/$name.zip, $package/$name.msi"
