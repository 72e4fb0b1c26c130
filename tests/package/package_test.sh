#!/usr/bin/env bash
# The Debian package end to end, as root: build it (scripts/package.sh, reusing BUILD_DIR,
# default build-ci), install it with dpkg, run both programs from /usr/bin as an ordinary user in
# a temporary folder, render both manual pages without a warning, check it with lintian (no
# error), remove it. Prints how long each part took.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-ci}

if [ "$(id -u)" -ne 0 ]; then
  echo "package test: needs root (dpkg -i); skipped" >&2
  exit 0
fi
fail() {
  echo "package test: $*" >&2
  exit 1
}
step() {
  echo "package test: $1 ($((SECONDS - started)) s)"
  started=$SECONDS
}
started=$SECONDS
total=$SECONDS

deb=$(bash scripts/package.sh "$build" | tail -n 1)
[ -f "$deb" ] || fail "no package was built"
step "built $(basename "$deb")"

tmp=$(mktemp -d)
chmod 755 "$tmp"
cleanup() {
  dpkg -r oa-cleanup >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# What the package holds, rendered from the package itself (a minimal system may be set to
# leave manual pages out when installing).
dpkg-deb -x "$deb" "$tmp/deb"
for page in oa-cleanup oa-store; do
  file=$tmp/deb/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "the package has no manual page $page(1)"
  MANWIDTH=80 man --warnings -l "$file" >"$tmp/$page.txt" 2>"$tmp/$page.err" ||
    fail "man $page(1) failed: $(cat "$tmp/$page.err")"
  [ ! -s "$tmp/$page.err" ] || fail "man $page(1) warns: $(cat "$tmp/$page.err")"
  grep -q "EXIT STATUS" "$tmp/$page.txt" || fail "$page(1) has no EXIT STATUS section"
done
for f in usr/bin/oa-cleanup usr/bin/oa-store usr/share/doc/oa-cleanup/copyright; do
  [ -f "$tmp/deb/$f" ] || fail "the package has no /$f"
done
if [ -f "$tmp/deb/usr/share/applications/oa-cleanup.desktop" ]; then
  grep -qx "Icon=oa-cleanup" "$tmp/deb/usr/share/applications/oa-cleanup.desktop"
  [ -f "$tmp/deb/usr/share/icons/hicolor/32x32/apps/oa-cleanup.png" ] ||
    fail "the desktop entry's icon is missing"
fi
step "manual pages render without warnings"

lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian.txt" 2>&1 ||
  fail "lintian: $(cat "$tmp/lintian.txt")"
grep -v "running with root privileges" "$tmp/lintian.txt" | sed "s/^/  lintian: /" || true
step "lintian reports no error"

export DEBIAN_FRONTEND=noninteractive
dpkg -i "$deb" >/dev/null
[ "$(command -v oa-cleanup)" = /usr/bin/oa-cleanup ] || fail "oa-cleanup is not /usr/bin/oa-cleanup"
version=$(oa-cleanup --version)
[ "$version" = "$(dpkg-query -W -f='${Version}' oa-cleanup)" ] ||
  fail "oa-cleanup --version says $version"
step "installed, oa-cleanup --version is $version"

# An ordinary user in a folder of its own: the demonstration store, a dry run, then the cleanup.
work=$tmp/work
mkdir -p "$work"
chown nobody "$work"
as_user() {
  runuser -u nobody -- env -i PATH=/usr/bin:/bin HOME="$work" XDG_CONFIG_HOME="$work/config" \
    OA_STORE_DIR="$work/stores" LC_ALL=C.UTF-8 sh -c "cd '$work' && $1"
}
as_user "oa-store demo ./demo.oastore >/dev/null" || fail "oa-store demo failed"
as_user "oa-store export --max-messages -1 ./demo.oastore >before.json"
as_user "oa-cleanup --no-window --server ./demo.oastore --mailbox jdoe --log ./cleanup.log --dry-run >dry.txt" ||
  fail "the dry run failed: $(cat "$work/dry.txt")"
as_user "oa-store export --max-messages -1 ./demo.oastore >after-dry.json"
cmp -s "$work/before.json" "$work/after-dry.json" || fail "the dry run changed the store"
[ "$(tail -n 1 "$work/dry.txt")" = "Dry run: nothing was changed" ] || fail "dry run: $(cat "$work/dry.txt")"
as_user "oa-cleanup --no-window --server ./demo.oastore --mailbox jdoe --log ./cleanup.log >run.txt" ||
  fail "the cleanup failed: $(cat "$work/run.txt")"
[ "$(tail -n 1 "$work/run.txt")" = "pointed agent to new Handhelds folder" ] ||
  fail "cleanup: $(cat "$work/run.txt")"
[ -s "$work/cleanup.log" ] || fail "no activity log"
step "a dry run and a cleanup of the demo store as user nobody"

dpkg -r oa-cleanup >/dev/null
[ ! -e /usr/bin/oa-cleanup ] && [ ! -e /usr/bin/oa-store ] || fail "removing left the programs"
step "removed"
echo "package test: passed in $((SECONDS - total)) s"
