#!/usr/bin/env bash
# A click of the tray icon (trayer, under openbox) shows the menu-bar window with the keys in its
# search field: what is typed once the window shows and has the focus goes there, whether another
# program or the main window had the focus before; the list then shows what that finds (nothing
# for "divn", the one card of the search engine's sample bookmark for "duckduckgo"). Shown again,
# by the icon or by the hot key, the field offers the last search selected, so typing replaces it.
# A click of the icon holds nothing of the desktop: while the program is stopped, another program
# (xev, which logs every event it gets) gets the pointer, its keys and its click at once.
# Usage: tray-keys-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/tray-keys-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xev stdbuf trayer sqlite3 python3 xclip

# A program a failed check left stopped would never end: it goes on first.
cleanup() {
  e2e_kill -CONT ${app_pid:-}
  e2e_kill ${app_pid:-} "${e2e_pids[@]}"
}

e2e_start_tray
e2e_start_kesto
e2e_sample_library
other_log="$work/other.log"
stdbuf -oL xev -geometry 320x160+40+560 -name "another program" >"$other_log" 2>&1 &
e2e_pids+=("$!")
other="$(e2e_wait_window '^another program$' 60)" || fail "no other window"
e2e_logs+=("$other_log")

# The list at the window's least size: a card's white where the first card stands, and none where
# a second would.
one_card() { e2e_menu_listed && [[ "$(e2e_pixel 300 280 "$menu")" != "255 255 255" ]]; }
no_card() { ! e2e_menu_listed; }

# Waits for the window a click of the icon (or the hot key) shows to take the keyboard, as a user
# sees it come; $1 says what showed it.
shown() {
  menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "$1 showed no window"
  e2e_wait_until 60 e2e_menu_active || fail "the window $1 showed did not take the keys"
}

# Types $1 into the shown window; its search field must then hold exactly $1 ($2 says how it was
# shown). Read once the program has handled every key typed (a copy needs the focus in the field).
type_search() {  # text how
  local field
  xdotool type --delay 30 "$1"
  e2e_caught_up "$menu" || fail "kesto did not answer"
  field="$(e2e_copied_field)" || fail "nothing could be copied from the window ($2): the search field lacks the keys"
  [[ "$field" == "$1" ]] || fail "typed '$1' into the window ($2), the search field holds '$field'"
}

# Empties the field, so the next round starts from an empty field; then Escape hides the window.
empty_and_hide() {
  xdotool key ctrl+a BackSpace
  e2e_wait_until 60 no_card || fail "the emptied search left cards"
  xdotool key Escape
  e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"
}

# Clicks the icon and, once the window shows, types $2; the list must be as $3 says.
click_and_type() {  # how text list-check
  local how="$1" text="$2" check="$3"
  e2e_click_tray_icon
  shown "a click on the tray icon ($how)"
  type_search "$text" "$how"
  e2e_screenshot "$shots/typed-$how-$text.png" "$menu"
  e2e_wait_until 60 "$check" || fail "'$text' typed after the click ($how): the list is not as $check says"
  empty_and_hide
}

# The keys the other program got after line $1 of its log, as xev read them.
other_keys() {
  tail -n +"$1" "$other_log" |
    awk '/^KeyPress event/ { press = 1; next }
         press && /XLookupString gives 1 bytes/ { c = $0; sub(/^[^"]*"/, "", c); sub(/"$/, "", c); printf "%s", c; press = 0 }'
}
# Whether, after line $1 of its log, the other program got the pointer's motion, the keys $2 and
# a press of the button.
other_got() {  # line text
  tail -n +"$1" "$other_log" | grep -q '^MotionNotify event' &&
    tail -n +"$1" "$other_log" | grep -q '^ButtonPress event' && [[ "$(other_keys "$1")" == "$2" ]]
}

# The program is stopped, its icon is clicked, and then the user goes on in the other program:
# moves the pointer over it, types $1 there and clicks it. The other program gets all of it while
# the program is still stopped. Going on, the program shows the window for the click, and the keys
# typed once it has the focus are all its search field holds: none of the other program's.
stopped_click() {  # text
  local text="$1" from ok got
  xdotool windowactivate --sync "$other"
  from=$(($(wc -l <"$other_log") + 1))
  kill -STOP "$app_pid"
  e2e_click_tray_icon
  xdotool mousemove --window "$other" 150 70 mousemove --window "$other" 170 90 type --delay 30 "$text"
  xdotool click 1
  e2e_wait_until 30 other_got "$from" "$text"
  ok=$?
  # What it got while the program was stopped, before the program goes on.
  got="$(tail -n +"$from" "$other_log" | grep -c '^MotionNotify event') pointer motions, the keys '$(other_keys "$from")'"
  got+=" and $(tail -n +"$from" "$other_log" | grep -c '^ButtonPress event') clicks"
  e2e_screenshot "$shots/stopped-$text.png"
  kill -CONT "$app_pid"
  ((ok == 0)) || fail "with kesto stopped after a click of its icon, the other program got $got in 30 s (typed '$text')"
  shown "a click on the tray icon while kesto was stopped"
  type_search divn "after a stop"
  e2e_wait_until 60 no_card || fail "'divn' typed after a stop: the list shows cards"
  empty_and_hide
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

# The program does not run while the icon is clicked: nothing waits for it.
stopped_click gkr
stopped_click xq

# Shown again, the field holds the last search selected: what is typed replaces it.
for how in icon "hot key"; do
  xdotool windowactivate --sync "$other"
  e2e_click_tray_icon
  shown "a click on the tray icon"
  type_search top "the icon, before $how"
  # The reading selected the text; the user's cursor stands at its end.
  xdotool key End Escape
  e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"
  xdotool windowactivate --sync "$other"
  if [[ "$how" == icon ]]; then
    e2e_click_tray_icon
  else
    xdotool key super+alt+ctrl+p
  fi
  shown "the $how, with a search left in the field,"
  xdotool type --delay 30 w3x
  e2e_caught_up "$menu" || fail "kesto did not answer"
  e2e_screenshot "$shots/again-${how// /-}.png" "$menu"
  field="$(e2e_copied_field)" || fail "nothing could be copied from the window shown again ($how)"
  [[ "$field" == w3x ]] || fail "searched 'top', shown again by the $how and typed 'w3x': the search field holds '$field'"
  empty_and_hide
done
[[ "$(xdotool getwindowname "$other" 2>/dev/null)" == "another program" ]] || fail "the other program's window went"
echo "a click of the tray icon shows the window with the keys, and holds nothing: ok"
