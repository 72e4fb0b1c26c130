#!/usr/bin/env bash
# Sets the machine up, builds from scratch and runs every test twice: optimised, and under
# AddressSanitizer + UndefinedBehaviorSanitizer; then the fuzzers, when there are any.
# Needs no display: the window tests use Qt's offscreen platform and start Xvfb themselves.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test

jobs=$(nproc)
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

# A failing suite does not stop the next one; the script fails at the end.
failed=()
run_suite() {  # BUILD_DIR CMAKE_OPTIONS...
  local dir=$1
  shift
  rm -rf "$dir"
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 || failed+=("$dir")
  # The reliability suite's figures (kills survived, writes kept, bad inputs tried, ...).
  local figures=$dir/tests/reliability/figures.txt
  if [ -f "$figures" ]; then
    cmake -DFIGURES="$figures" -P tests/reliability/print_figures.cmake || true
  fi
}

echo "=== optimised build and tests (build-ci) ==="
run_suite build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The Debian package from the build-ci tree just built: dpkg -i, a cleanup as an ordinary user,
# the manual pages, lintian, removal (well under a minute).
echo "=== Debian package (from build-ci) ==="
bash tests/package/package_test.sh build-ci || failed+=(package)

echo "=== AddressSanitizer + UndefinedBehaviorSanitizer build and tests (build-asan) ==="
export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DOA_SANITIZE=ON
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# The tests above run GCC's RelWithDebInfo and Debug builds; a clang Release build (compile
# only, every target) keeps the other compiler and the -O3 warnings honest under -Werror.
# scripts/build-matrix.sh builds every combination.
echo "=== clang Release build, compile only (build-clang-release) ==="
rm -rf build-clang-release
if CC=clang CXX=clang++ cmake -S . -B build-clang-release -G Ninja -DCMAKE_BUILD_TYPE=Release; then
  cmake --build build-clang-release -j "$jobs" || failed+=(build-clang-release)
else
  failed+=(build-clang-release)
fi

# The Windows cross build (mingw-w64) and its tests under Wine, in a Wine prefix of its own
# inside the build folder. The fetched and built libraries in build-windows-ci/deps are kept, so
# that a repeated local run downloads nothing; CI starts without them.
echo "=== Windows cross build and tests under Wine (build-windows-ci) ==="
if [ -d build-windows-ci ]; then
  find build-windows-ci -mindepth 1 -maxdepth 1 ! -name deps -exec rm -rf {} +
fi
OA_WINDOWS_BUILD=build-windows-ci OA_LINUX_BUILD=build-ci OA_JOBS=$jobs bash scripts/test-windows.sh --timeout 600 ||
  failed+=(build-windows-ci)

# --- fuzzing -------------------------------------------------------------------------------
# Each fuzz target runs for FUZZ_SECONDS (default 30) from its seed corpus.
if [ -f tests/fuzz/run_fuzzers.sh ]; then
  echo "=== fuzzers (build-fuzz) ==="
  rm -rf build-fuzz
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOA_FUZZ=ON -DOA_WINDOW=OFF
  targets=$(ninja -C build-fuzz -t targets all | sed -n 's/^\([A-Za-z0-9_]*_fuzz\): .*/\1/p')
  if [ -n "$targets" ]; then
    # shellcheck disable=SC2086
    cmake --build build-fuzz -j "$jobs" --target $targets
    bash tests/fuzz/run_fuzzers.sh build-fuzz "${FUZZ_SECONDS:-30}" || failed+=(build-fuzz)
  fi
fi
# --- end of fuzzing ------------------------------------------------------------------------

if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in: ${failed[*]}" >&2
  exit 1
fi
echo "All tests passed."
