#!/usr/bin/env bash
# The Windows window under Wine and Xvfb, driven as a person would: from an empty Wine prefix,
# type the store and the mailbox through the access keys, untick and press OK (the message box),
# tick again, press OK, and wait for the cleanup to finish; then check the store, the log file and
# the window's size in pixels, save a screenshot, and press Cancel; then once more at 144 DPI. Every wait is for a state (a
# window, a log line, a process), bounded.
# Usage: test-windows-window.sh BUILD_DIR (a build of scripts/build-windows.sh).
set -euo pipefail

build=$(realpath "${1:?usage: test-windows-window.sh BUILD_DIR}")
out=$build/window-test
cleanup_exe=$build/console/oa-cleanup.exe
store_exe=$build/tools/oa-store/oa-store.exe
caption='ondavel Agent  Cleanup'
wait_s=${OA_WINDOW_TEST_WAIT:-120}

rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Xvfb on a display of its own choosing, at 96 DPI.
mkfifo "$out/display"
Xvfb -displayfd 3 -dpi 96 -screen 0 1024x768x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 60 display_number <"$out/display" || {
  echo "Xvfb did not start" >&2
  exit 1
}
export DISPLAY=:$display_number
app_pid=
finish() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap finish EXIT

# Polls a command until it succeeds, for at most wait_s seconds.
wait_for() {
  local what=$1
  shift
  local deadline=$((SECONDS + wait_s))
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then
      fail "timed out waiting for $what"
      return 1
    fi
    sleep 0.2
  done
}
window_of() { timeout "$wait_s" xdotool search --sync --name "$1" | head -n1; }
keys() { xdotool key --delay 50 "$@"; }
log_has() { tr -d '\r' <"$out/OA-Cleanup.log" | grep -qF -- "$1"; }

start=$SECONDS
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null || true
wineboot --init >/dev/null 2>&1 </dev/null
echo "Empty Wine prefix made in $((SECONDS - start)) s"

store=$out/demo.oastore
wine "$store_exe" demo "$store" </dev/null >"$out/store-demo.txt" 2>&1
wine "$store_exe" export "$store" </dev/null >"$out/before.json"
jdoe='.stores[] | select(.alias == "jdoe")'
old_id=$(jq -r "$jdoe | .root.folders[] | select(.ipmRoot) | .folders[] |
  select(.name == \"Handhelds\") | .entryId" "$out/before.json")
[ -n "$old_id" ] || fail "the demo store has no Handhelds folder for jdoe"

# The program in the window mode; the log in the test's folder.
wine "$cleanup_exe" --log "$out/OA-Cleanup.log" </dev/null >"$out/stdout.txt" 2>&1 &
app_pid=$!
main=$(window_of "^$caption\$") || true
[ -n "$main" ] || {
  fail "the window \"$caption\" did not appear"
  exit 1
}
xdotool windowfocus --sync "$main"
# The client area at 96 DPI: 5685 x 4380 twips at 15 twips a pixel.
wait_for "the window to be mapped" sh -c "xwininfo -id $main | grep -q 'Map State: IsViewable'"
geometry=$(xwininfo -id "$main" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
[ "$geometry" = 379x292 ] || fail "client area $geometry, expected 379x292"

# Alt+X and Alt+M move to the boxes (with their text selected, so typing replaces it).
keys alt+x
xdotool type --delay 20 "$store"
keys alt+m
xdotool type --delay 20 jdoe
# Unticked, OK shows the third check's message box.
keys alt+h alt+o
box=$(window_of '^ondavelAgent Administrator$') || true
if [ -n "$box" ]; then
  import -window root "$out/message-box.png"
  xdotool windowfocus --sync "$box"
  keys Return
  wait_for "the message box to close" sh -c "! xdotool search --name '^ondavelAgent Administrator\$'"
else
  fail "no message box for an unticked check box"
fi
[ -f "$out/OA-Cleanup.log" ] && fail "an input check wrote to the log"

xdotool windowfocus --sync "$main"
keys alt+h alt+o
wait_for "the last line of the run in the log" log_has "pointed agent to new Handhelds folder"
# The results box is painted after each line; the screenshot is taken once it has drawn.
import -window root "$out/frmCleanup-wine.png"

# The log: a UTF-8 byte order mark (a new log on Windows), an empty line without a time stamp,
# then one stamped line per step, CR LF.
[ "$(head -c 5 "$out/OA-Cleanup.log" | od -An -tx1 | tr -d ' \n')" = efbbbf0d0a ] ||
  fail "the log does not start with a byte order mark and an empty CR LF line"
for line in "Retrieved Handhelds folder using EntryID $old_id" "Created new Handhelds folder in mailbox" \
  "pointed agent to new Handhelds folder"; do
  log_has ":$line" || fail "log line missing: $line"
done
if grep -q $'[^\r]$' "$out/OA-Cleanup.log"; then fail "a log line does not end with CR LF"; fi

# The store: the agent points at a new Handhelds folder and the old one is gone.
wait_for "the store to be readable" wine "$store_exe" export "$store"
wine "$store_exe" export "$store" </dev/null >"$out/after.json"
new_id=$(jq -r "$jdoe | .root.folders[] | select(.ipmRoot) | .folders[] |
  select(.name == \"Handhelds\") | .entryId" "$out/after.json")
agent_id=$(jq -r "$jdoe | .root.folders[] | select(.name == \"ondavelAgentInfo\") |
  .messages[] | select(.class == \"ondavel.Agent\") | .named.HHEntryID" "$out/after.json")
[ -n "$new_id" ] && [ "$new_id" != "$old_id" ] || fail "no new Handhelds folder (was $old_id, now $new_id)"
[ "$agent_id" = "$new_id" ] || fail "the agent points at $agent_id, not the new folder $new_id"
grep -q "$old_id" "$out/after.json" && fail "the old Handhelds folder $old_id is still in the store"

# Cancel (Alt+C) closes the window and ends the program.
xdotool windowfocus --sync "$main"
keys alt+c
wait_for "the program to end" sh -c "! kill -0 $app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=
[ "$status" -eq 0 ] || fail "oa-cleanup.exe ended with status $status"

# At 144 DPI (the prefix's setting, read when a program starts) the window is per-monitor aware:
# 5685 x 4380 twips are 569 x 438 pixels.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wine "$cleanup_exe" --log "$out/OA-Cleanup-144dpi.log" </dev/null >>"$out/stdout.txt" 2>&1 &
app_pid=$!
main=$(window_of "^$caption\$") || true
if [ -n "$main" ]; then
  wait_for "the window to be mapped at 144 DPI" sh -c "xwininfo -id $main | grep -q 'Map State: IsViewable'"
  geometry=$(xwininfo -id "$main" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
  [ "$geometry" = 569x438 ] || fail "client area $geometry at 144 DPI, expected 569x438"
  import -window root "$out/frmCleanup-wine-144dpi.png"
  xdotool windowfocus --sync "$main"
  keys alt+c
  wait_for "the program to end at 144 DPI" sh -c "! kill -0 $app_pid"
else
  fail "no window at 144 DPI"
fi
wait "$app_pid" 2>/dev/null || true
app_pid=

echo "Screenshots: $out/frmCleanup-wine.png, $out/message-box.png, $out/frmCleanup-wine-144dpi.png"
if [ "$failures" -gt 0 ]; then
  echo "Window test under Wine: $failures failure(s)" >&2
  exit 1
fi
echo "Window test under Wine passed in $((SECONDS - start)) s"
