#!/usr/bin/env bash
# Window-less end-to-end runs under valgrind memcheck: every outcome class of a run and a batch,
# on a fresh demonstration server. Any memory error or leak fails the test.
set -euo pipefail
cleanup_bin=$1
store_bin=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$store_bin" demo "$work/demo.oastore" >/dev/null
printf 'jdoe\n# comment\nefault\ncpath\nfnew\nnobody\n' >"$work/list.txt"
export OA_REGISTRY_USER=$work/none.reg OA_REGISTRY_MACHINE=$work/none.reg

vg=(valgrind -q --leak-check=full --show-leak-kinds=definite,indirect
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99)
runs=0
check() {  # EXPECTED_STATUS ARGS...
  local expected=$1
  shift
  local status=0
  "${vg[@]}" "$cleanup_bin" --no-window --log "$work/run.log" "$@" >"$work/out.txt" 2>&1 || status=$?
  runs=$((runs + 1))
  if [ "$status" -ne "$expected" ]; then
    echo "oa-cleanup $* exited $status, expected $expected:"
    cat "$work/out.txt"
    exit 1
  fi
}

check 0 --server "$work/demo.oastore" --mailbox bbig      # delete path, 12,000 items
check 0 --server "$work/demo.oastore" --mailbox dpublic   # folder under public folders
check 3 --server "$work/demo.oastore" --mailbox nobody    # logon fails
check 3 --server "$work/missing.oastore" --mailbox jdoe   # no such store
check 2 --server "$work/demo.oastore" --mailbox ""        # input check
check 3 --server "$work/demo.oastore" --mailboxes "$work/list.txt" --report "$work/r.csv"
echo "valgrind memcheck: $runs window-less runs, no error and no leak"
