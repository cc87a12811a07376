#!/usr/bin/env bash
# The list's clipboard in the real kesto program inside xvfb-session.sh: a card copied with
# Ctrl+C stays pasteable while other programs read the clipboard (its types, then its data) and
# after another program keeps those bytes and offers them in its place; Ctrl+V in another folder
# and in the Library asks about the bookmark already stored, and Yes adds the copy. The add sheet
# asks the same about a stored address typed as the card shows it; a card dragged onto a folder
# moves there.
# Usage: clipboard-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
own_type="application/x-kesto-pasteboard-items"

# Window-relative places: the sidebar's rows (0 Library ... 5 Apple, 6 Search) and the first card.
# A row clicked: selected (its highlight fills the row's left end), and its list shown once the
# program has caught up.
click_row() {
  local r g b
  e2e_click "$win" 80 $((190 + 20 * $1))
  selected() { read -r r g b < <(e2e_pixel 10 $((190 + 20 * $1)) "$win") && [[ -n "$b" ]] && ! ((r > 235 && g > 235 && b > 235)); }
  e2e_wait_until 60 selected "$1" || fail "a click did not select row $1"
  e2e_caught_up "$win" || fail "kesto did not answer"
}
keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 80 "$@"; }
copies() { e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://www.apple.com/' and ZTRASHED = 0"; }
copies_are() { [[ "$(copies)" == "$1" ]]; }
asked() { xdotool search --onlyvisible --name 'already present' 2>/dev/null | head -n1; }
# Waits for the duplicate question and answers it with Return (its first button, Yes).
answer_yes() {
  local alert
  e2e_wait_until 60 asked >/dev/null || return 1
  alert="$(asked)"
  [[ -n "$alert" ]] || return 1
  xdotool windowactivate --sync "$alert" >/dev/null 2>&1
  xdotool key Return
}

e2e_offline_settings
e2e_start_kesto
e2e_sample_library

# Copy the Apple folder's first card (www.apple.com).
click_row 5
e2e_click "$win" 600 250
keys ctrl+c
# Another program asks what the clipboard holds, and reads our type: the bookmarks, and no text
# for editors.
copied_card() { targets="$(xclip -o -selection clipboard -t TARGETS 2>/dev/null)" && grep -qx "$own_type" <<<"$targets"; }
e2e_wait_until 60 copied_card || fail "the copied card is not on the clipboard: $targets"
! grep -qiE '^(text/plain|UTF8_STRING|STRING)$' <<<"$targets" || fail "Copy left text for editors: $targets"
xclip -o -selection clipboard -t "$own_type" >"$work/copied" 2>/dev/null
[[ -s "$work/copied" ]] || fail "the clipboard's bookmarks read as nothing"
grep -qa "www.apple.com" "$work/copied" || fail "the clipboard does not carry the card's address"

# Another folder: Ctrl+V asks about the stored address; Yes adds the copy there.
click_row 6
keys ctrl+v
answer_yes || fail "Ctrl+V in another folder after another program read the clipboard asked nothing"
e2e_wait_until 60 copies_are 2 || fail "Yes added no copy: $(copies)"
e2e_screenshot "$shots/clipboard-pasted.png" "$win"
search_id="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME = 'Search'")"
in_search="$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where b.ZURL = 'https://www.apple.com/' and f.ZFOLDERID = '$search_id'")"
[[ "$in_search" == 1 ]] || fail "the pasted copy is not in the folder shown"

# Another program keeps the bytes and offers them in our place (as clipboard managers do): the
# Library's Ctrl+V still asks.
xclip -i -selection clipboard -t "$own_type" "$work/copied" >/dev/null 2>&1 &
e2e_pids+=("$!")
# xclip offers only its one type (besides the list of types): then it holds the clipboard.
xclip_holds() { [[ "$(xclip -o -selection clipboard -t TARGETS 2>/dev/null | sort)" == "$(printf '%s\n' TARGETS "$own_type" | sort)" ]]; }
e2e_wait_until 60 xclip_holds || fail "xclip did not take the clipboard: $(xclip -o -selection clipboard -t TARGETS 2>&1)"
click_row 0
keys ctrl+v
answer_yes || fail "Ctrl+V in the Library with another program holding the bookmarks asked nothing"
e2e_wait_until 60 copies_are 3 || fail "Yes in the Library added no copy: $(copies)"

# The add sheet asks too, for the address as the card shows it (no final "/").
keys ctrl+n
e2e_focus_window '^New Bookmark$' >/dev/null || fail "Ctrl+N opened no add sheet"
xdotool type --delay 20 "https://www.apple.com"
xdotool key Return
e2e_wait_until 60 asked >/dev/null || fail "the add sheet asked nothing about a stored address"
e2e_screenshot "$shots/clipboard-add-sheet-asks.png"
alert="$(asked)"
xdotool windowactivate --sync "$alert" >/dev/null 2>&1
xdotool key Escape
e2e_wait_until 60 eval '[[ -z "$(asked)" ]]' || fail "Escape left the question open"
# What the answer stored or not is read once the program has ended (at the end).

# A card dragged onto a folder in the sidebar moves there: inside the program the drag reads
# what it offers other programs, the desktop's formats.
in_kesto() { e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where f.ZNAME = 'Kesto'"; }
before="$(in_kesto)"
click_row 5
e2e_click "$win" 600 250
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the card chose nothing"
# Pressed away from the click, so the press is no double click (which opens the card) however
# soon it follows.
e2e_drag_through "$win" "$win" 620 250 "$win" 640 250 "$win" 660 250 --begun "$win" 80 330 "$win" 82 332 ||
  fail "the card's drag did not go through"
moved() { [[ "$(in_kesto)" == $((before + 1)) ]]; }
e2e_wait_until 60 moved || fail "the card dragged onto the Kesto folder did not move there: $(in_kesto), was $before"

e2e_quit_kesto
copies_are 3 || fail "the add sheet stored a copy without being answered: $(copies)"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://www.apple.com'")" == 0 ]] ||
  fail "declining the question still stored the copy"
echo "clipboard e2e: passed"
