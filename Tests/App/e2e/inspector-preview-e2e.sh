#!/usr/bin/env bash
# What is typed into the inspector stays on the bookmark it was typed for. A tag half-typed,
# notes and a title typed, then Ctrl+Y (the preview) and Down in it, which moves the list to the
# next bookmark: the first bookmark holds what was typed, the second nothing of it. Letters typed
# while a menu is open (Alt+E, or F10 then Right) go to the menu, not into the notes behind it.
# Checked in the store with sqlite3 while Kesto runs.
# Usage: inspector-preview-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-inspector-preview}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"
. "$(dirname "$0")/inspector-lib.sh"

e2e_start_on_sample_library
choose_bookmark
type_into "${notes_at[@]}" "First of the preview test"
xdotool key Return
first_found() { pk="$(e2e_sql "select Z_PK from ZBOOKMARK where ZNOTES = 'First of the preview test'")"; [[ -n "$pk" ]]; }
e2e_wait_until 60 first_found || fail "Return in the notes stored nothing"
first="$pk"
count_tagged() { e2e_sql "select count(*) from Z_1TAGS j join ZTAG t on t.Z_PK = j.Z_3TAGS where t.ZNAME = '$1'"; }

# Something typed into a field (no Return), then the preview by Ctrl+Y and Down there: the list
# shows the next bookmark; the preview closed by Escape.
down_in_preview() {
  local before
  before="$(e2e_windows)"
  xdotool key ctrl+y
  e2e_wait_until 60 e2e_new_window "$before" || fail "Ctrl+Y showed no preview"
  preview="$(comm -13 <(echo "$before") <(e2e_windows) | head -n1)"
  name="$(xdotool getwindowname "$preview")"
  e2e_key "$preview" Down
  renamed() { [[ "$(xdotool getwindowname "$preview" 2>/dev/null)" != "$name" ]]; }
  e2e_wait_until 60 renamed || fail "Down in the preview did not move to the next bookmark"
  e2e_caught_up "$preview" || fail "kesto did not answer"
  e2e_screenshot "$shots/after-down-$1.png" "$win"
  e2e_key "$preview" Escape
  e2e_wait_until 60 e2e_window_gone "$preview" || fail "Escape left the preview open"
  caught_up
}

# A tag half-typed.
e2e_click "$win" "${tags_at[@]}"
caught_up
xdotool type --delay 30 "kepttag"
caught_up
down_in_preview tags
pk="$first"
e2e_wait_until 60 tags_are "kepttag" || fail "the tag half-typed before Down: the first bookmark's tags are '$(tags)'"
[[ "$(count_tagged kepttag)" == 1 ]] || fail "the tag half-typed before Down is on $(count_tagged kepttag) bookmarks"

# Notes, then a title.
for field in notes title; do
  choose_bookmark
  at="${field}_at[@]"
  type_into "${!at}" "Typed in $field before Down"
  down_in_preview "$field"
  column="ZNOTES"; [[ "$field" == title ]] && column=ZTITLE
  e2e_wait_until 60 column_is "$column" "Typed in $field before Down" ||
    fail "$field typed before Down: the first bookmark holds '$(column "$column")'"
  [[ "$(e2e_sql "select count(*) from ZBOOKMARK where $column = 'Typed in $field before Down'")" == 1 ]] ||
    fail "$field typed before Down is on more than one bookmark"
done

# A menu open: letters typed go to it. The menu closed with Escape, a click on another cell ends
# the edit of the notes.
for how in alt+e "F10 Right"; do
  choose_bookmark
  type_into "${notes_at[@]}" "Notes behind $how"
  # shellcheck disable=SC2086
  e2e_popup_after xdotool key --delay 100 $how || fail "$how opened no menu"
  xdotool type --delay 60 "xq"
  caught_up
  e2e_screenshot "$shots/menu-$how.png"
  xdotool key Escape
  e2e_wait_until 60 e2e_keyboard_free || xdotool key Escape
  e2e_wait_until 60 e2e_keyboard_free || fail "Escape left the menu open"
  caught_up
  e2e_click "$win" 600 560
  e2e_wait_until 60 column_is ZNOTES "Notes behind $how" ||
    fail "letters typed while $how kept a menu open: the notes are '$(column ZNOTES)'"
done
echo "typed text stays on its bookmark at the preview's Down and behind a menu: ok"
