#!/usr/bin/env bash
# Runs every *_fuzz program in BUILD_DIR/tests/fuzz for SECONDS each, starting from a copy of
# its seeds in tests/fuzz/corpus/NAME/ (NAME_fuzz's corpus), so the work tree is never written.
# Builds nothing. Prints executions and crashes per target; exits 1 when any target crashed,
# leaked, hung or failed, and keeps the inputs that did so in BUILD_DIR/tests/fuzz/artifacts/.
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One target: its summary line (and what a failure left) in $work/NAME/summary, its status in
# $work/NAME/status.
fuzz_one() {
  local bin=$1 name corpus artifacts seeds log rc execs crashes keep f
  name=$(basename "$bin")
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  seeds="$here/corpus/${name%_fuzz}"
  [ -d "$seeds" ] && cp -R "$seeds"/. "$corpus"/
  log="$work/$name/log"

  (cd "$work/$name" && "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus") >"$log" 2>&1
  rc=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  crashes=$(find "$artifacts" -type f | wc -l)
  {
    echo "$name: ${execs:-0} executions in ${seconds} s, $crashes crashes, exit status $rc"
    if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
      tail -n 60 "$log"
      keep="$build/tests/fuzz/artifacts/$name"
      mkdir -p "$keep"
      for f in "$artifacts"/*; do
        [ -f "$f" ] || continue
        cp "$f" "$keep/"
        echo "$name: input kept as $keep/$(basename "$f"), base64: $(head -c 4096 "$f" | base64 -w 0)"
      done
    fi
  } >"$work/$name/summary"
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then echo 1; else echo 0; fi >"$work/$name/status"
}

# As many targets at once as there are processors: each runs on one.
parallel=${OA_FUZZ_JOBS:-$(nproc)}
names=()
for bin in "$build"/tests/fuzz/*_fuzz; do
  [ -f "$bin" ] && [ -x "$bin" ] || continue
  name=$(basename "$bin")
  names+=("$name")
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
  fuzz_one "$bin" &
done
wait
found=${#names[@]}

status=0
for name in "${names[@]}"; do
  cat "$work/$name/summary"
  [ "$(cat "$work/$name/status" 2>/dev/null)" = 0 ] || status=1
done

if [ "$found" -eq 0 ]; then
  echo "no *_fuzz programs in $build/tests/fuzz (configure with -DOA_FUZZ=ON and build them)" >&2
  exit 2
fi
exit "$status"
