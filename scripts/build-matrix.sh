#!/usr/bin/env bash
# Builds every target in every build type with GCC and clang, with and without the window,
# each in build-matrix/COMPILER-TYPE-WINDOW, and prints one line per build. Not part of
# scripts/test.sh (too long for CI); run it before changing compiler flags or the toolchain.
# Extra configure options come from MATRIX_CMAKE_ARGS (e.g. a compiler launcher).
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
compilers=${MATRIX_COMPILERS:-gcc clang}
types=${MATRIX_TYPES:-Release Debug RelWithDebInfo}
windows=${MATRIX_WINDOWS:-ON OFF}
results=()
status=0
for compiler in $compilers; do
  if [ "$compiler" = clang ]; then cc=clang cxx=clang++; else cc=gcc cxx=g++; fi
  for type in $types; do
    for window in $windows; do
      dir=build-matrix/$compiler-$type-$window
      log=$dir.log
      mkdir -p build-matrix
      # shellcheck disable=SC2086
      if CC=$cc CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
        -DOA_WINDOW="$window" -DOA_WERROR=ON ${MATRIX_CMAKE_ARGS:-} >"$log" 2>&1 &&
        cmake --build "$dir" -j "$jobs" -- -k 0 >>"$log" 2>&1; then
        results+=("ok      $compiler $type OA_WINDOW=$window")
      else
        results+=("FAILED  $compiler $type OA_WINDOW=$window (see $log)")
        status=1
      fi
      echo "${results[-1]}"
    done
  done
done
printf '%s\n' "--- build matrix ---" "${results[@]}"
exit $status
