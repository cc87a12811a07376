# Shared by the menu-bar quick edit's end-to-end scripts (sourced after lib.sh and e2e_app_script).

# Says why the test failed, with a screenshot and the end of the program's log.
fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "$shots/failure.png"
  tail -n 60 "$work/kesto.log" >&2 2>/dev/null
  exit 1
}
menu_window() { menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "no menu-bar window"; }
# Whether the menu-bar window shows ($menu), and whether it also has the keys.
menu_shows() { menu="$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Kesto Bookmarks$' 2>/dev/null | head -n1)" && [[ -n "$menu" ]]; }
menu_has_keys() { menu_shows && e2e_menu_active; }
# The hot key, its keys pressed and let go in one request to the X server, so the program reads
# the end of the key's grab with its start. Let go later (xdotool's keys, one request each, on a
# loaded machine), the end can reach the program after it has shown the window and before the
# window manager has given that window the focus: the program then gives the keys back to the
# window that had them before the grab, and the menu-bar window, without them, hides a moment
# later.
hot_key() { python3 "$E2E_DIR/x-keyboard.py" chord Super_L Alt_L Control_L p || fail "the hot key could not be sent"; }
# The menu-bar window by the hot key ($menu), with the keys and its search field's focus. Pressed
# from the main window, once the menu-bar window is without the keys: it has them again only once
# the window manager has handled what the key asked for, its place (the key shows it under the
# pointer) too.
menu_by_hot_key() {
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  e2e_wait_until 60 eval '! menu_has_keys' || fail "the main window did not take the keys"
  hot_key
  e2e_wait_until 60 menu_has_keys || fail "the hot key showed no menu-bar window that took the keys"
}
row_y() { echo $((100 + 8 + 13 + 34 * $1)); }  # the quick edit's rows, top down from 0
# Starts the program on an empty library and hands it the address ($url) as a second launch
# does, then waits until the library holds it; `page COLUMN` reads that bookmark's column.
start_with_page() {  # address
  url="$1"
  e2e_start_kesto
  e2e_close_first_run_panel || fail "no first-run panel"
  "$kesto" "kesto:$url" >>"$work/kesto.log" 2>&1 || fail "hand-over launch failed"
  e2e_wait_until 60 page_added || fail "the page was not added"
}
page() { e2e_sql "select $1 from ZBOOKMARK where ZURL = '$url'"; }
page_added() { [[ -n "$(page Z_PK)" ]]; }
done_button() { e2e_click "$menu" 498 "$(row_y 8)"; }
# The menu-bar window (by the hot key unless it has the keys) with the pages found by the text and
# the first card selected.
# Each step waits for what the window shows: the Search tab's empty list, the cards found, the
# card chosen.
find_card() {  # text
  menu_has_keys || menu_by_hot_key
  e2e_click "$menu" 42 51  # Search
  e2e_wait_until 60 eval '! e2e_menu_listed' || fail "Search left cards listed"
  e2e_click "$menu" 350 51  # the search field
  xdotool key ctrl+a
  xdotool type --delay 40 "$1"
  e2e_wait_until 60 e2e_menu_listed || fail "'$1' listed no card"
  e2e_click "$menu" 280 150  # the first card
  e2e_wait_until 60 e2e_menu_card_chosen || fail "a click on the card left Edit… off"
}
# The same, and the card's quick edit opened.
edit_card() {  # text
  find_card "$1"
  e2e_click "$menu" 510 81  # Edit…
  e2e_wait_until 60 e2e_menu_editing || fail "Edit… opened no quick edit"
}
# The menu-bar window by the hot key, with the keys: the text typed into its search field, Down
# twice to the first card found, then Edit…
edit_by_keys() {  # text
  menu_by_hot_key
  xdotool key ctrl+a
  xdotool type --delay 40 "$1"
  e2e_wait_until 60 e2e_menu_listed || fail "'$1' listed no card"
  e2e_menu_down_to_card || fail "Down to the first card left Edit… off"
  e2e_click "$menu" 510 81  # Edit…
  e2e_wait_until 60 e2e_menu_editing || fail "Edit… opened no quick edit"
}

# Whether a pop-up of the program shows (a context menu, the Folder box's list): a window of its
# own that was not there when `before_popup` looked (the tray icon is one of the program's too).
kesto_windows() { xdotool search --onlyvisible --class kesto 2>/dev/null | sort; }
before_popup() { popup_base="$(kesto_windows)"; }
popup_shown() { [[ -n "$(comm -13 <(echo "$popup_base") <(kesto_windows))" ]]; }
# The main window's folder context menu (the row's y given): its sixth item locks; a locked
# folder, which cannot be renamed, has one item fewer above the fifth, which unlocks. A password
# is made the first time, as a new user makes it.
password_item() {  # row-y 1|0
  before_popup
  e2e_click "$win" 80 "$1" 3
  e2e_wait_until 60 popup_shown || fail "no context menu"
  xdotool key --delay 80 Down Down Down Down Down
  (($2)) && xdotool key Down
  xdotool key Return
}
# Types the password into the panel that asks for it ($panel), twice for a new one, and Return.
password_typed() {  # [new]
  panel="$(e2e_wait_window '^Kesto Password$' 60)" || fail "no password panel"
  xdotool windowactivate --sync "$panel" >/dev/null 2>&1
  xdotool type --delay 40 "pw-e2e"
  [[ "${1:-}" == new ]] && { xdotool key Tab; xdotool type --delay 40 "pw-e2e"; }
  xdotool key Return
}
password_made() { [[ "$(e2e_sql "select count(*) from ZCONFIG where ZKESTOKEY = 'password'")" == 1 ]]; }
make_password() {  # row-y
  password_item "$1" 1
  password_typed new
  e2e_wait_until 60 password_made || fail "no password stored"
  confirmation() { xdotool search --onlyvisible --name '^Kesto Password$' 2>/dev/null | grep -vx "$panel" | head -n1; }
  confirmed() { [[ -n "$(confirmation)" ]]; }
  e2e_wait_until 60 confirmed || fail "no confirmation that the password was made"
  e2e_key "$(confirmation)" Return
  e2e_wait_until 60 e2e_no_window '^Kesto Password$' || fail "Return left the confirmation open"
}
folder_locked() { [[ "$(e2e_sql "select ZBLOCKED from ZFOLDER where ZNAME = '$1'")" == "$2" ]]; }
set_lock() {  # folder row-y 1|0
  password_item "$2" "$3"
  password_typed
  e2e_wait_until 60 folder_locked "$1" "$3" || fail "$1 is not $( (($3)) && echo locked || echo unlocked)"
}
