#!/usr/bin/env bash
# Sets the machine up, builds oa-cleanup and the store tool, provides the demonstration server
# "demo" (an embedded store file, made once) and opens the cleanup window. Arguments go to
# oa-cleanup (try --help). Without a display the window opens on a virtual one (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-run --target oa-cleanup oa-store

store_tool=build-run/mailbox/store/oa-store
"$store_tool" tree demo >/dev/null 2>&1 || "$store_tool" demo demo

program=build-run/console/oa-cleanup
echo "In the window: Exchange Server \"demo\", mailbox \"jdoe\" (or asmith, bbig, cpath), OK." >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: the window opens on a virtual X display. Press Ctrl+C to end it." >&2
  exec xvfb-run -a -s "-dpi 96 -screen 0 1280x1024x24" "$program" "$@"
fi
exec "$program" "$@"
