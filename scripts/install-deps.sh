#!/usr/bin/env bash
# Installs every Debian 12 package that building and running need; with --test also what only
# the tests use (a display server, clang for the fuzzers, valgrind, a Kerberos KDC, and what the
# package test builds and checks the .deb with). Run as root (or with sudo at hand). Does
# nothing when everything is there already.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libsqlite3-dev nlohmann-json3-dev libcli11-dev libgtest-dev googletest
  libcurl4-openssl-dev libpugixml-dev libcpp-httplib-dev libssl-dev libkrb5-dev
  fonts-dejavu-core fonts-liberation2
)
if [ "${1:-}" = "--test" ]; then
  PACKAGES+=(
    xvfb xauth
    clang libclang-rt-14-dev valgrind
    krb5-kdc krb5-admin-server krb5-user
    dpkg-dev file lintian man-db groff
  )
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
