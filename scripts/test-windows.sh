#!/usr/bin/env bash
# Cross-builds for Windows (scripts/build-windows.sh) and runs the toolkit-free tests under Wine
# through ctest, in a Wine prefix inside the build folder. Extra arguments go to ctest.
set -euo pipefail

cd "$(dirname "$0")/.."
build=$(realpath -m "${OA_WINDOWS_BUILD:-build-windows}")
bash scripts/build-windows.sh "$build"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's services keep standard output open on a cold start: start them (and one server for the
# whole run, which makes each test start in a fraction of a second) before any output is piped.
wineboot --init >/dev/null 2>&1 </dev/null
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

ctest --test-dir "$build" --output-on-failure -j2 "$@"
