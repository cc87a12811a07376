#!/usr/bin/env bash
# A library folder copied to a second computer: machine A syncs through a synced folder, then its
# library folder (~/.local/share/kesto) is copied into machine B's fresh home (B's settings are
# its own). Each adds a bookmark of its own, then they sync in turn, twice each: both end with
# every bookmark, every run completes without a failure, and the two libraries no longer share
# an identifier.
# Usage: sync-copy-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/two-homes.sh"

urls() { sql "$1" "select ZURL from ZBOOKMARK order by ZURL" | tr '\n' ' '; }
identifier() { sql "$1" "select Z_VALUE from Z_METADATA where Z_KEY = 'KestoID'"; }

launch A
hand A --add-text 'https://a1.example.org/'
e2e_wait_until 60 has A 1 || fail "A did not take its bookmark"
sync_one A
# The library folder as a user copies it to the new computer, with the program on the first one
# idle after its sync.
mkdir -p "$(home_of B)/.local/share"
cp -a "$(home_of A)/.local/share/kesto" "$(home_of B)/.local/share/kesto"
launch B stocked
e2e_wait_until 60 has B 1 || fail "B does not hold the copied library: $(urls B)"
[[ -n "$(identifier A)" && "$(identifier A)" == "$(identifier B)" ]] || fail "the copy does not share A's identifier"

hand A --add-text 'https://a2.example.org/'
hand B --add-text 'https://b1.example.org/'
e2e_wait_until 60 has A 2 || fail "A did not take its second bookmark"
e2e_wait_until 60 has B 2 || fail "B did not take its bookmark"
for _ in 1 2; do
  sync_one A
  sync_one B
done
all='https://a1.example.org/ https://a2.example.org/ https://b1.example.org/ '
holds_all() { [[ "$(urls "$1")" == "$all" ]]; }
e2e_wait_until 60 holds_all A || fail "A does not hold every bookmark: $(urls A)"
e2e_wait_until 60 holds_all B || fail "B does not hold every bookmark: $(urls B)"
for m in A B; do
  ! grep -q 'Sync Failed' "$(log_of $m)" || fail "a sync of $m failed"
  [[ "$(completions $m)" == $([[ $m == A ]] && echo 3 || echo 2) ]] || fail "$m did not complete every sync"
done
[[ "$(identifier A)" != "$(identifier B)" ]] || fail "A and B still share one identifier"
e2e_screenshot "$shots/copy-final.png"
echo "copied library sync e2e passed"
