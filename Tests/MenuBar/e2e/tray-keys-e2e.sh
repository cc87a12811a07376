#!/usr/bin/env bash
# Keys typed at once after a click of the tray icon (trayer, under openbox) go into the menu-bar
# window's search field, every one: the click and the keys are sent in one go, with no wait for
# the window, while another program has the focus, while the main window has it, and while the
# program is stopped (so every key comes before it has even read the click). The field then holds
# exactly what was typed, and the list shows what that finds: nothing for "divn", the one card of
# the search engine's sample bookmark for "duckduckgo".
# Usage: tray-keys-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/tray-keys-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xmessage trayer sqlite3 python3 xclip

e2e_start_tray
e2e_start_kesto
e2e_sample_library
xmessage -geometry 320x80+40+600 "another program" &
e2e_pids+=("$!")
other="$(e2e_wait_window '^xmessage$' 60)" || fail "no other window"

# The icon: the right end of the tray, where trayer puts the only icon it holds.
read -r tx ty <<<"$(xdotool search --class trayer getwindowgeometry --shell %@ |
  awk -F= '/^X=/{x=$2}/^Y=/{y=$2}/^WIDTH=/{w=$2}/^HEIGHT=/{h=$2}END{print x+w-12, y+h/2}')"

# The list at the window's least size: a card's white where the first card stands, and none where
# a second would.
one_card() { e2e_menu_listed && [[ "$(e2e_pixel 300 280 "$menu")" != "255 255 255" ]]; }
no_card() { ! e2e_menu_listed; }

# Clicks the icon and types $2 at once; the window that shows must hold exactly $2 in its search
# field and list what $3 says. With "stopped" as $1 the program is stopped meanwhile.
click_and_type() {  # how text list-check
  local how="$1" text="$2" check="$3" field
  [[ "$how" == stopped ]] && kill -STOP "$app_pid"
  xdotool mousemove "$tx" "$ty" click 1 type --delay 30 "$text"
  [[ "$how" == stopped ]] && kill -CONT "$app_pid"
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "a click on the tray icon showed no window"
  e2e_wait_until 60 e2e_menu_active || fail "the window the tray icon showed did not take the keys"
  # Read once the program has handled every key typed (a copy needs the focus in the field).
  e2e_caught_up "$menu" || fail "kesto did not answer"
  e2e_screenshot "$shots/typed-$how-$text.png" "$menu"
  field="$(e2e_copied_field)" || fail "nothing could be copied from the window ($how): the search field lacks the keys"
  [[ "$field" == "$text" ]] || fail "typed '$text' at once after the click ($how), the search field holds '$field'"
  e2e_wait_until 60 "$check" || fail "'$text' typed after the click ($how): the list is not as $check says"
  # Emptied, so the next round starts from an empty field; then Escape hides the window.
  xdotool key ctrl+a BackSpace
  e2e_wait_until 60 no_card || fail "the emptied search left cards"
  xdotool key Escape
  e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"
}

# Another program has the focus when the icon is clicked.
xdotool windowactivate --sync "$other"
click_and_type other divn no_card
xdotool windowactivate --sync "$other"
click_and_type other duckduckgo one_card
# The main window has the focus: its own search field or list would take the keys.
xdotool windowactivate --sync "$win"
e2e_caught_up "$win" || fail "kesto did not answer"
click_and_type main divn no_card
# The program does not run while the icon is clicked and the keys are typed.
xdotool windowactivate --sync "$other"
click_and_type stopped duckduckgo one_card
xdotool windowactivate --sync "$other"
click_and_type stopped divn no_card
[[ "$(xdotool getwindowname "$other" 2>/dev/null)" == xmessage ]] || fail "the other program's window went"
echo "keys typed at once after a click of the tray icon: ok"
