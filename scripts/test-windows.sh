#!/usr/bin/env bash
# Cross-builds for Windows (scripts/build-windows.sh) and runs the toolkit-free tests under Wine
# through ctest, in a Wine prefix inside the build folder. Extra arguments go to ctest.
set -euo pipefail

cd "$(dirname "$0")/.."
build=$(realpath -m "${OA_WINDOWS_BUILD:-build-windows}")
build_start=$(date +%s)
bash scripts/build-windows.sh "$build"
echo "Windows build: $(($(date +%s) - build_start)) s"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One server for the whole run makes each test start in a fraction of a second; it runs before
# anything else (an earlier one of this private prefix may still be there). Wine's services keep
# standard output open on a cold start: start them before any output is piped.
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wineboot --init >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Known differences of the Windows build, left out here until they are dealt with (set
# OA_WINDOWS_ALL_TESTS=1 to run them anyway):
# - owner-only files by POSIX mode bits (chmod 0000, mode 0600 checks): Windows has ACLs, which
#   the store and the password file do not set or check yet;
# - Ctrl+Break sent to the child's process group is not delivered under Wine;
# - the boxes from registry export files (OA_REGISTRY_USER): Windows reads its own registry,
#   which registry_win32_tests write and read instead.
known='^(DumpTest\.ImportReplacesAStoreAndCreatesOwnerOnlyFiles|BadFilesTest\.ReadOnlyUnreadableAndDirectory'
known+='|ConfigTest\.PasswordFileOnlyItsOwnerMayRead|CheckConfig\.InvalidConfigurationStopsTheProgramWithStatus2'
known+='|SignalDuringEmptying\..*|NoWindowRun\.BoxesComeFromTheRegistryAndTheOptionsReplaceThem)$'
exclude=(-E "$known")
[ "${OA_WINDOWS_ALL_TESTS:-}" = 1 ] && exclude=()

start=$(date +%s)
ctest --test-dir "$build" --output-on-failure -j2 "${exclude[@]}" "$@"
echo "Windows tests under Wine: $(($(date +%s) - start)) s"
