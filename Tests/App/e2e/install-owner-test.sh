#!/usr/bin/env bash
# The two install tests, run as root for a build folder that is another user's (as scripts/test.sh
# through sudo runs them), pass in either order, and what they write into the folder stays its
# owner's: the one as root first, then the one in a user namespace (which runs as the owner), and
# the other way round; each order with the README's steps where the root test follows them, and
# without them, as where other users cannot reach the checkout (the folder is then named through
# a link, which those steps leave out). A folder that is root's is given to nobody for the test
# and back after it.
# Needs root (skipped, exit 77, otherwise), and skipped where either test is.
# Usage: install-owner-test.sh KESTO_BINARY BUILD_FOLDER
set -uo pipefail
kesto="$1"
build="$(cd "$2" && pwd)"
e2e="$(cd "$(dirname "$0")" && pwd)"
session="$e2e/../../Harness/e2e/xvfb-session.sh"
[[ "$(id -u)" == 0 ]] || { echo "skipped: needs root"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

owner="$(stat -c %u:%g "$build")" handed=false log=""
# Gives the build folder to a user as the scripts do: the folders of other tests in the run's
# temporary folder stay theirs.
give_build() { (cd "$build" && find . -path './tmp/*' -prune -o -exec chown -h "$1" {} +); }
cleanup() {
  rm -f "$log" "$log.build"
  ! $handed || give_build "$owner"
}
trap cleanup EXIT
if [[ "$owner" == 0:* ]]; then
  id nobody >/dev/null 2>&1 || { echo "skipped: no user nobody to hand the build folder to"; exit 77; }
  setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups test -w "$build/tmp" ||
    { echo "skipped: nobody cannot reach $build"; exit 77; }
  handed=true
  give_build nobody:
fi
tester="$(stat -c %u:%g "$build")"
# Where other users can reach the folder, the root test follows the steps as them.
reachable=false
if command -v useradd >/dev/null && id nobody >/dev/null 2>&1 &&
  setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups test -r "$build/cmake_install.cmake"; then
  reachable=true
fi

as_root() { "$session" -- bash "$e2e/install-e2e.sh" "$kesto" "$named"; }
as_owner() { bash "$e2e/in-user-namespace.sh" "$build" "$session" -- bash "$e2e/install-e2e.sh" "$kesto" "$named"; }

# Runs one of the tests; a skipped one skips this test, a failed one fails it. Afterwards the
# installs' list of files is the owner's, and nothing in the folder belongs to a user who is gone
# (the one the root test makes for the README's steps). Other tests of the run may write there as
# root meanwhile: the rest of the folder is theirs to leave.
run() {  # as_root|as_owner
  local status=0 strangers
  "$1" >"$log" 2>&1 || status=$?
  ((status != 77)) || { echo "skipped: $1 was skipped: $(tail -n 1 "$log")"; exit 77; }
  ((status == 0)) || fail "$order ($named): $1 failed: $(tail -n 20 "$log")"
  if [[ $1 == as_root && $named == "$build" ]] && $reachable && grep -q 'left out\|not followed' "$log"; then
    fail "the root test left out steps it could take: $(grep 'left out\|not followed' "$log")"
  fi
  strangers="$(find "$build" -maxdepth 1 -name 'install_manifest*' ! -user "${tester%:*}" -printf '%P (%u)\n'
    find "$build" -nouser -printf '%P (%u)\n' | head -n 5)"
  [[ -z "$strangers" ]] || fail "$order ($named): after $1 the build folder holds what its owner cannot write: $strangers"
}

log="$(mktemp "${TMPDIR:-/tmp}/install-owner-XXXXXX")"
link="$log.build"
ln -s "$build" "$link"
# Each order starts from a folder as a build leaves it, without a list.
for named in "$build" "$link"; do
  for order in "as_root as_owner" "as_owner as_root"; do
    rm -f "$build/install_manifest.txt"
    for step in $order; do run "$step"; done
  done
done
echo "install tests in either order, the build folder its owner's: ok"
