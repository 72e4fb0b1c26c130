#!/usr/bin/env bash
# Builds the Debian package of oa-cleanup and oa-store with CPack and prints its path (the last
# line). Usage: scripts/package.sh [BUILD_DIR]. An existing build folder (for example build-ci)
# is reused: only the two programs are brought up to date. Without one, BUILD_DIR (default
# build-package) gets a Release build of just the two programs.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-package}
if [ ! -f "$build/CMakeCache.txt" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  # An older configuration of the folder may predate the package's rules.
  cmake "$build" >/dev/null
fi
cmake --build "$build" --target oa-cleanup oa-store >/dev/null
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null)
deb=$(ls "$build"/packages/oa-cleanup_*.deb)
echo "$deb"
