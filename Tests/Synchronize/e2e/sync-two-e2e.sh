#!/usr/bin/env bash
# Two real kesto programs, each with its own home (its own library and settings), syncing through
# one synced folder inside xvfb-session.sh. Each adds bookmarks; both sync at the same moment,
# then in turn until they agree; then each trashes one of its own bookmarks (an edit), one deletes
# its trashed bookmark for good, both add another, and they sync again at once and in turn. In the
# end both libraries hold the same bookmarks in the same state, the trashing made on the other
# side included, and the deleted one is in neither (also after one more round).
# Usage: sync-two-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/two-homes.sh"

# Both at once (the first named starts first), then in turn until each has seen the other's.
converge() {
  sync_start "$1"
  sync_start "$2"
  sync_wait "$1"
  sync_wait "$2"
  sync_one A
  sync_one B
  sync_one A
}
agree() { [[ -n "$(state A)" && "$(state A)" == "$(state B)" ]]; }

launch A
launch B

# Each machine adds its own bookmarks (handed to the running program by a second launch).
hand A --add-text $'https://a1.example.org/\nhttps://a2.example.org/\nhttps://a3.example.org/'
hand B --add-text $'https://b1.example.org/\nhttps://b2.example.org/'
e2e_wait_until 60 has A 3 || fail "A did not take its bookmarks"
e2e_wait_until 60 has B 2 || fail "B did not take its bookmarks"

# Both at once, through the folder's lock; then in turn until both have everything.
converge A B
e2e_wait_until 60 has A 5 || fail "A does not hold all five bookmarks: $(state A)"
e2e_wait_until 60 agree || fail "the libraries differ after the first rounds:"$'\n'"$(state A)"$'\n---\n'"$(state B)"
e2e_screenshot "$shots/two-after-first-rounds.png"

# Edits: A trashes a2, B trashes b1 and then empties its trash, which deletes b1 for good. Both
# add one more. Each is found by its address, never by its place in the list: the two programs
# order bookmarks added in the same second differently (the file carries whole seconds), so the
# same place can hold the same bookmark on both.
trash_count() { sql "$1" 'select count(*) from ZBOOKMARK where ZTRASHED = 1'; }
# Trashes the bookmark at address $2 on machine $1: the library search (Ctrl+F) narrows the list
# to it, a click on the first row selects it, Delete trashes it; then the search is cleared.
trash() {
  local m="$1" url="$2" from
  from="$(marks_count "$m")"
  keys "$m" ctrl+f
  xdotool type --delay 60 "${url#https://}"
  e2e_wait_until 60 list_drawn "$m" "$from" 1 || fail "the search on $m did not narrow the list to $url"
  click "$m" 420 112
  e2e_wait_until 60 chosen "$m" || fail "a click on $m's first row chose nothing"
  keys "$m" Delete
  trashed_it() { [[ "$(sql "$m" "select ZTRASHED from ZBOOKMARK where ZURL = '$url'")" == 1 ]]; }
  e2e_wait_until 60 trashed_it || fail "$m did not trash $url:"$'\n'"$(state "$m")"
  [[ "$(trash_count "$m")" == 1 ]] || fail "$m trashed more than $url:"$'\n'"$(state "$m")"
  keys "$m" ctrl+f ctrl+a BackSpace
}
trash A https://a2.example.org/
trash B https://b1.example.org/
gone_id="$(sql B "select ZUNIQUEID from ZBOOKMARK where ZURL = 'https://b1.example.org/'")"
click B 201 87    # the Trash tab of the sidebar
e2e_screenshot "$shots/two-trash-list.png"
click B 80 142    # its Empty Trash entry, then the alert's default button
alert="$(e2e_wait_window '^Empty the trash\?$' 60 "${pid[B]}")" || fail "no Empty Trash alert on B"
xdotool windowactivate --sync "$alert" key Return
click B 18 87     # back to the folders
e2e_wait_until 60 has B 4 || fail "B did not delete the trashed bookmark for good: $(state B)"
[[ -z "$(sql B "select ZUNIQUEID from ZBOOKMARK where ZUNIQUEID = '$gone_id'")" ]] || fail "B deleted another bookmark"
hand A --add-text 'https://a4.example.org/'
hand B --add-text 'https://b3.example.org/'
e2e_wait_until 60 has A 6 || fail "A did not take its last bookmark"
e2e_wait_until 60 has B 5 || fail "B did not take its last bookmark"

converge B A
e2e_wait_until 60 agree || fail "the libraries differ after the edits:"$'\n'"$(state A)"$'\n---\n'"$(state B)"
has A 6 || fail "A should hold six bookmarks (seven added, one deleted): $(state A)"
[[ -z "$(sql A "select ZUNIQUEID from ZBOOKMARK where ZUNIQUEID = '$gone_id'")" ]] || fail "the deleted bookmark came back on A"
[[ "$(sql A "select ZTRASHED from ZBOOKMARK where ZURL = 'https://a2.example.org/'")" == 1 ]] ||
  fail "a2, trashed on A, is not trashed in the end:"$'\n'"$(state A)"
# One more round changes nothing and brings nothing back.
sync_one B
sync_one A
agree || fail "the libraries drifted apart in a quiet round"
[[ -z "$(sql B "select ZUNIQUEID from ZBOOKMARK where ZUNIQUEID = '$gone_id'")" ]] || fail "the deleted bookmark came back on B"
e2e_screenshot "$shots/two-final.png"
echo "two-machine sync e2e passed"
