#!/usr/bin/env bash
# Escape pressed in a field of the inspector belongs to that field: it ends the edit, keeping the
# text as it stands, and goes no further. For each field (title, address, notes, tags, login,
# password) of a bookmark that has all of them, Escape with nothing typed stores nothing (the
# bookmark's version stays) and the inspector still shows the bookmark; a title typed and a tag
# half-typed, then Escape, are stored as Tab stores them. Tab from the title and Shift+Tab from
# the address enter the other view with its whole text selected, so what is typed replaces it.
# Escape in the list still empties the selection and the inspector. Checked in the store with
# sqlite3, while Kesto runs and after Ctrl+Q.
# Usage: inspector-escape-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-inspector-escape}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"
. "$(dirname "$0")/inspector-lib.sh"

e2e_start_on_sample_library
choose_bookmark
fill_bookmark
before="$(bookmark_state)"

# Escape in each field, nothing typed: nothing stored, the bookmark still shown.
for field in title address notes tags login password; do
  at="${field}_at[@]"
  e2e_click "$win" "${!at}"
  caught_up
  xdotool key Escape
  caught_up
  e2e_bookmark_chosen || { e2e_screenshot "$shots/escape-in-$field.png" "$win"; fail "Escape in the $field field left the inspector"; }
  [[ "$(bookmark_state)" == "$before" ]] ||
    fail "Escape in the $field field changed the bookmark: $before -> $(bookmark_state)"
done

# What was typed stays and is stored as at Tab: a title, and a tag half-typed after the others.
type_into "${title_at[@]}" "Typed then Escape"
xdotool key Escape
e2e_wait_until 60 column_is ZTITLE "Typed then Escape" || fail "a title typed, then Escape: $(column ZTITLE)"
e2e_click "$win" "${tags_at[@]}"
caught_up
xdotool type --delay 30 "beta"
caught_up
xdotool key Escape
e2e_wait_until 60 tags_are "alpha,beta,gamma" || fail "a tag half-typed, then Escape: the tags are '$(tags)'"
e2e_bookmark_chosen || fail "Escape after typing left the inspector"

# Tab from the title selects the whole address, Shift+Tab from the address the whole title.
e2e_click "$win" "${title_at[@]}"
caught_up
xdotool key Tab
caught_up
xdotool type --delay 30 "https://tabbed.example/"
xdotool key Tab
e2e_wait_until 60 column_is ZURL "https://tabbed.example/" || fail "typed after Tab into the address: $(column ZURL)"
e2e_click "$win" "${address_at[@]}"
caught_up
xdotool key shift+Tab
caught_up
xdotool type --delay 30 "Backtabbed"
xdotool key Tab
e2e_wait_until 60 column_is ZTITLE "Backtabbed" || fail "typed after Shift+Tab into the title: $(column ZTITLE)"
e2e_screenshot "$shots/after-tabs.png" "$win"

# Escape in the list empties its selection and the inspector, and stores nothing.
kept="$(bookmark_state)"
e2e_click "$win" 600 250
caught_up
xdotool key Escape
e2e_wait_until 60 eval '! e2e_bookmark_chosen' || fail "Escape in the list left the inspector showing the bookmark"
end_by key
[[ "$(bookmark_state)" == "$kept" ]] || fail "the quit changed the bookmark: $kept -> $(bookmark_state)"
echo "Escape in the inspector's fields keeps what they hold: ok"
