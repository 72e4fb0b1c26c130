#!/usr/bin/env bash
# Sets the machine up and builds from scratch: the programs optimised as shipped (their Debian
# package and the runs under valgrind), every test under AddressSanitizer +
# UndefinedBehaviorSanitizer, the Windows cross build with its tests under Wine (optimised), and
# the fuzzers.
# Needs no display: the window tests use Qt's offscreen platform and start Xvfb themselves.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
# Warnings are errors in every build here (scripts/build-windows.sh reads it too).
export OA_WERROR=ON

# A failing suite does not stop the next one; the script fails at the end.
failed=()
# Each stage says how long it took, so that the whole run's time can be kept in check.
stage_start=$(date +%s)
stage() {
  local now
  now=$(date +%s)
  [ -z "${stage_name:-}" ] || echo "--- $stage_name took $((now - stage_start)) s"
  stage_start=$now
  stage_name=$1
  [ -z "$1" ] || echo "=== $1 ==="
}
stage "packages (scripts/install-deps.sh --test)"
bash scripts/install-deps.sh --test

# Every build goes through ccache when it is installed (the Windows stage installs it and
# compiles through it too), so that a repeated run compiles only what changed. The cache keys
# hold the paths relative to the work tree, so another clone of the same tree hits as well.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi

run_suite() {  # BUILD_DIR CMAKE_OPTIONS...
  local dir=$1
  shift
  rm -rf "$dir"
  cmake -S . -B "$dir" -G Ninja -DOA_WERROR=ON "${launcher[@]}" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 || failed+=("$dir")
  # The reliability suite's figures (kills survived, writes kept, bad inputs tried, ...).
  local figures=$dir/tests/reliability/figures.txt
  if [ -f "$figures" ]; then
    cmake -DFIGURES="$figures" -P tests/reliability/print_figures.cmake || true
  fi
}

stage "optimised build as shipped (build-ci): programs, package, valgrind runs"
# Optimised as shipped, without debug information: a third less compile time. The whole suite
# runs under the sanitizers below and, optimised, under Wine; this build gives the programs the
# package, valgrind and the Windows stage's comparison runs need, and what only it can run.
rm -rf build-ci
cmake -S . -B build-ci -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOA_WERROR=ON "${launcher[@]}" \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
cmake --build build-ci -j "$jobs" --target oa-cleanup oa-store ews_wine_tests graph_wine_tests
ctest --test-dir build-ci --output-on-failure --timeout 600 -R '^valgrind_' || failed+=(build-ci)

# The Debian package from the build-ci tree just built: dpkg -i, a cleanup as an ordinary user,
# the manual pages, lintian, removal (well under a minute).
stage "Debian package (from build-ci)"
bash tests/package/package_test.sh build-ci || failed+=(package)

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests (build-asan)"
export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DOA_SANITIZE=ON
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# clang builds every library but the window in the fuzzing stage below (warnings under -Werror);
# scripts/build-matrix.sh builds every compiler and build type, window included.

# The Windows cross build (mingw-w64) and its tests under Wine, in a Wine prefix of its own
# inside the build folder. The fetched and built libraries in build-windows-ci/deps are kept, so
# that a repeated local run downloads nothing; CI starts without them.
stage "Windows cross build and tests under Wine (build-windows-ci)"
if [ -d build-windows-ci ]; then
  find build-windows-ci -mindepth 1 -maxdepth 1 ! -name deps -exec rm -rf {} +
fi
OA_WINDOWS_BUILD=build-windows-ci OA_LINUX_BUILD=build-ci OA_JOBS=$jobs OA_DEBUG_INFO=0 bash scripts/test-windows.sh \
  --timeout 600 ||
  failed+=(build-windows-ci)

# --- fuzzing -------------------------------------------------------------------------------
# Each fuzz target runs for FUZZ_SECONDS (default 30) from its seed corpus.
if [ -f tests/fuzz/run_fuzzers.sh ]; then
  stage "fuzzers (build-fuzz)"
  rm -rf build-fuzz
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOA_FUZZ=ON -DOA_WINDOW=OFF -DOA_WERROR=ON "${launcher[@]}"
  targets=$(ninja -C build-fuzz -t targets all | sed -n 's/^\([A-Za-z0-9_]*_fuzz\): .*/\1/p')
  if [ -n "$targets" ]; then
    # shellcheck disable=SC2086
    cmake --build build-fuzz -j "$jobs" --target $targets
    bash tests/fuzz/run_fuzzers.sh build-fuzz "${FUZZ_SECONDS:-30}" || failed+=(build-fuzz)
  fi
fi
# --- end of fuzzing ------------------------------------------------------------------------
stage ""

if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in: ${failed[*]}" >&2
  exit 1
fi
echo "All tests passed."
