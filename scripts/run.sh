#!/usr/bin/env bash
# Sets the machine up, builds oa-cleanup and the store tool, provides the demonstration server
# "demo" (an embedded store file, made once) with a registry file that names it and mailbox
# "jdoe", and runs a cleanup against it: in the window when there is a display, else without
# one (oa-cleanup --no-window). Arguments go to oa-cleanup (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-run --target oa-cleanup oa-store

store_tool=build-run/tools/oa-store/oa-store
"$store_tool" tree demo >/dev/null 2>&1 || "$store_tool" demo demo

# The boxes come filled from this registry file unless the caller names another.
registry=build-run/demo-registry.reg
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_CURRENT_USER\Software\ondavel\Tessel Admin\Settings]' \
  '"ExServer"="demo"' '"ExAlias"="jdoe"' >"$registry"
export OA_REGISTRY_USER="${OA_REGISTRY_USER:-$registry}"

program=build-run/console/oa-cleanup
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: cleaning up mailbox \"jdoe\" on server \"demo\" without a window." >&2
  exec "$program" --no-window "$@"
fi
echo "In the window: server \"demo\" and mailbox \"jdoe\" are filled in; press OK." >&2
exec "$program" "$@"
