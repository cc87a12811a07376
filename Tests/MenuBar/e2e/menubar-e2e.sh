#!/usr/bin/env bash
# The menu-bar window in the real program, with a tray (trayer) and openbox: the default hot key
# pressed while another program's window has the focus shows it; a search finds a bookmark and
# Return opens it (xdg-open answered by a script that records the address); Escape hides it; the
# tray icon shows it again; the Recent list, a named browser and the quick-edit pane; the
# preferences' recorder takes a new hot key, which works at once while the old one does not; the
# search field's menu turns a field on; a combination another client holds is refused with an
# alert; the launch-at-login switch writes and removes a valid autostart entry; a start in
# menu-bar mode shows no main window with a tray and shows it without one. Screenshots of each
# state go to SCREENSHOT_FOLDER.
# Usage: menubar-e2e.sh KESTO_BINARY GRAB_KEY_HELPER [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
grabkey="$2"
shots="${3:-${TMPDIR:-/tmp}/menubar-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xmessage trayer sqlite3 python3 desktop-file-validate
mkdir -p "$XDG_DATA_HOME/applications"

fail() { echo "FAIL: $*" >&2; e2e_screenshot "$shots/failure.png"; cat "$work/kesto.log" >&2 2>/dev/null; exit 1; }
cleanup() { e2e_kill ${app_pid:-} ${tray_pid:-} ${other_pid:-} ${grab_pid:-}; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
# Whether the search engine's sample bookmark holds $2 in the column $1.
duck_is() { [[ "$(e2e_sql "select $1 from ZBOOKMARK where ZURL like '%duckduckgo%'")" == "$2" ]]; }

# The desktop's opener and a browser, both answered by scripts that write down what they get.
e2e_recording_program xdg-open
e2e_recording_program fake-firefox
cat >"$XDG_DATA_HOME/applications/firefox.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Firefox
Exec=$(e2e_exec_argument "$work/bin/fake-firefox") %u
MimeType=x-scheme-handler/http;
DESKTOP
: >"$work/xdg-open.log"

e2e_start_tray

e2e_start_kesto
e2e_sample_library

# Another program has the focus when the hot key is pressed.
xmessage -geometry 320x80+40+600 "another program" &
other_pid=$!
other="$(e2e_wait_window '^xmessage$' 60)" || fail "no other window"
press_from_other() {
  xdotool windowactivate --sync "$other"
  sleep 0.2
  xdotool key "$1"
}
press_from_other super+alt+ctrl+p
pressed=$(e2e_now_ms)
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the default hot key showed no menu-bar window"
echo "hot key to visible menu-bar window: $(( $(e2e_now_ms) - pressed )) ms (polled every 100 ms)"
e2e_settled
e2e_screenshot "$shots/menubar-hotkey.png"
# It hangs under the tray icon, at the top right, on the screen.
eval "$(xdotool getwindowgeometry --shell "$menu")"
(( X >= 0 && Y >= 0 && X + WIDTH <= 1280 && Y < 60 )) || fail "the window stands at $X,$Y ${WIDTH}x$HEIGHT, not under the tray"

# The search field has the keys: a search, Down into the list, Down to the first card, Return.
e2e_wait_until 60 e2e_menu_active || fail "the menu-bar window did not take the keys"
xdotool type --delay 40 "duckduckgo"
e2e_wait_until 60 e2e_menu_listed || fail "the search listed no card"
e2e_screenshot "$shots/menubar-search.png" "$menu"
e2e_menu_down_to_card || fail "Down to the first card left Edit… off"
xdotool key Return
e2e_wait_until 60 grep -q "duckduckgo.com" "$work/xdg-open.log" || fail "Return opened nothing: $(cat "$work/xdg-open.log")"
e2e_wait_until 60 duck_is ZTIMESOPENED 1 || fail "the visit was not recorded"
xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"

# The tray icon shows it again; the Recent list has the page just opened.
e2e_click_tray_icon
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "a click on the tray icon showed no window"
# Recent, its first card (once listed), then Firefox once the card is chosen.
firefox_opened() { grep -q "duckduckgo.com" "$work/fake-firefox.log" 2>/dev/null; }
e2e_click "$menu" 210 51   # Recent
e2e_wait_until 60 e2e_menu_listed || fail "Recent listed no card"
e2e_click "$menu" 280 150  # the first card
e2e_wait_until 60 e2e_menu_card_chosen || fail "a click on the card left Edit… off"
e2e_screenshot "$shots/menubar-recent.png" "$menu"
e2e_click "$menu" 114 81   # Firefox
e2e_wait_until 60 firefox_opened || fail "the Firefox button opened nothing"
# Quick edit of the selected card.
e2e_click "$menu" 510 81
e2e_wait_until 60 e2e_menu_editing || fail "Edit… opened no quick edit"
e2e_screenshot "$shots/menubar-edit.png" "$menu"
e2e_click "$menu" 300 $((100 + 8 + 13 + 34))  # the title field
xdotool key ctrl+a
xdotool type --delay 30 "Duck Search"
xdotool key Return
e2e_wait_until 60 duck_is ZTITLE 'Duck Search' || fail "the quick edit did not save the title"
xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape in the edit pane left the window open"

# The preferences' recorder takes Super+Alt+K.
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "no preferences panel"
e2e_caught_up "$prefs" || fail "kesto did not answer"
e2e_click "$prefs" 300 163
# The key goes once the recorder has taken the click and records.
e2e_caught_up "$prefs" || fail "kesto did not answer"
e2e_screenshot "$shots/preferences-recording.png" "$prefs"
xdotool key super+alt+k
e2e_wait_until 60 e2e_setting_is kComboCode 40 || fail "the recorded shortcut was not stored"
[[ "$(e2e_setting kComboFlags)" == 6144 ]] || fail "stored flags $(e2e_setting kComboFlags), not Super+Alt"
e2e_caught_up "$prefs" || fail "kesto did not answer"
e2e_screenshot "$shots/preferences-recorded.png" "$prefs"
# The pointer over the remove button darkens it (its rollover look); off it, it is light again.
remove_grey() { local r g b; read -r r g b < <(e2e_pixel 399 163 "$prefs"); echo "$r"; }
xdotool mousemove --window "$prefs" 300 190
e2e_caught_up "$prefs" || fail "kesto did not answer"
light="$(remove_grey)"
xdotool mousemove --window "$prefs" 380 163 sleep 0.1 mousemove --window "$prefs" 404 163
darker() { (( $(remove_grey) < light - 15 )); }
e2e_wait_until 60 darker || fail "the remove button shows no rollover: $(remove_grey), $light before"
e2e_screenshot "$shots/preferences-remove-rollover.png" "$prefs"
xdotool mousemove --window "$prefs" 300 190
# The new combination works at once, the old one no longer does.
press_from_other super+alt+ctrl+p
# Looked for once the program has handled every key sent before.
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_no_window '^Kesto Bookmarks$' || fail "the old hot key still opens the window"
press_from_other super+alt+k
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the new hot key showed no window"
# The magnifier's menu chooses the fields searched: Page Content, off on the first run, goes on.
[[ "$(e2e_setting SearchContentMenu)" == False ]] || fail "Page Content searched on the first run"
e2e_popup_after e2e_click "$menu" 267 51 || fail "the magnifier showed no menu"
e2e_screenshot "$shots/menubar-search-fields.png"
xdotool key Down Down Down Down Return
e2e_wait_until 60 e2e_setting_is SearchContentMenu True || fail "choosing Page Content was not stored"
[[ "$(e2e_setting SearchTitleMenu)" == True ]] || fail "choosing Page Content changed the other fields"
e2e_no_window '^Kesto Bookmarks$' || xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the window open"

# A combination another client holds is refused with an alert; the hot key stays Super+Alt+K.
# The client grabs it without Num Lock, as many programs do; typed with Num Lock on it still
# reaches the recorder, and Kesto, which needs every lock variant, cannot have it.
"$grabkey" j super+alt >"$work/grab.log" 2>&1 &
grab_pid=$!
e2e_wait_until 60 grep -q grabbed "$work/grab.log" || fail "the helper could not grab Super+Alt+J: $(cat "$work/grab.log")"
xdotool windowactivate --sync "$prefs"
e2e_click "$prefs" 300 163
e2e_caught_up "$prefs" || fail "kesto did not answer"
xdotool key Num_Lock
xdotool key super+alt+j
xdotool key Num_Lock
alert="$(e2e_wait_window "can't be used" 60 "$app_pid")" || fail "a held combination was taken without an alert"
e2e_settled
e2e_screenshot "$shots/preferences-refused.png"
xdotool windowactivate --sync "$alert" key Return
e2e_wait_until 60 e2e_no_window "can't be used" || fail "the alert stayed"
[[ "$(e2e_setting kComboCode)" == 40 ]] || fail "the refused combination replaced the stored one"
# While recording the recorder holds the keyboard: typed without Num Lock, where the other
# client's grab would take it first, the combination reaches the recorder all the same.
xdotool windowactivate --sync "$prefs"
e2e_click "$prefs" 300 163
e2e_caught_up "$prefs" || fail "kesto did not answer"
xdotool key super+alt+j
alert="$(e2e_wait_window "can't be used" 60 "$app_pid")" || fail "while recording another client's grab took the keys"
xdotool windowactivate --sync "$alert" key Return
e2e_wait_until 60 e2e_no_window "can't be used" || fail "the alert stayed"
[[ "$(e2e_setting kComboCode)" == 40 ]] || fail "the refused combination replaced the stored one"
# Escape ends the recording; the recorder may take it up again when its panel gets the focus back
# from the alert, so Escape is pressed until the recorder has let the keyboard go. It lets go at
# the end of its closing slide (a third of a second), which an Escape pressed meanwhile starts
# anew: after each Escape the keyboard is waited for, longer each time, before the next.
ended=0
for patience in 1 2 4 8 16 29; do
  e2e_key "$prefs" Escape
  e2e_wait_until "$patience" e2e_keyboard_free && { ended=1; break; }
done
((ended)) || fail "the recorder kept the keyboard"
press_from_other super+alt+k
e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid" >/dev/null || fail "the hot key was lost after a refusal"
xdotool key Escape
kill "$grab_pid" 2>/dev/null

# Launch at login: the switch writes a valid autostart entry and takes it away again.
autostart="$XDG_CONFIG_HOME/autostart/kesto.desktop"
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "no preferences panel"
e2e_caught_up "$prefs" || fail "kesto did not answer"
e2e_click "$prefs" 50 205
e2e_wait_until 60 test -f "$autostart" || fail "no autostart entry"
desktop-file-validate "$autostart" || fail "the autostart entry does not validate"
grep -q "^Exec=.*kesto" "$autostart" || fail "the entry does not start kesto"
e2e_screenshot "$shots/preferences-login.png" "$prefs"
e2e_click "$prefs" 50 205
e2e_wait_until 60 test ! -e "$autostart" || fail "the autostart entry stayed"
e2e_key "$prefs" Escape

# Start in menu-bar mode: with the tray, no main window, and the icon opens the menu-bar window.
e2e_quit_by_key
# Read once the program has written all it had: the refusals kept the recorded combination.
[[ "$(e2e_setting kComboCode)" == 40 ]] || fail "a refused combination replaced the stored one"
python3 - "$settings" <<'PY'
import plistlib, sys
p = sys.argv[1]
d = plistlib.load(open(p, "rb"))
d["useMenuBarMode"] = True
plistlib.dump(d, open(p, "wb"))
PY
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
# The start is over once its icon stands in the tray: the program's small window embedded there.
tray_icon() {
  xdotool search --onlyvisible --pid "$app_pid" --name . 2>/dev/null | while read -r id; do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    ((WIDTH < 64 && HEIGHT < 64)) && echo "$id"
  done | head -n1
}
in_tray() { [[ -n "$(tray_icon)" ]]; }
e2e_wait_until 60 in_tray || fail "a start in menu-bar mode put no icon in the tray"
# Looked for once the program has done what its start queued.
e2e_caught_up "$(tray_icon)" || fail "kesto did not answer"
visible '^Kesto$' && fail "a start in menu-bar mode showed the main window"
e2e_click_tray_icon
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the tray icon of a menu-bar start showed nothing"
e2e_settled
e2e_screenshot "$shots/menubar-mode-start.png"
e2e_click "$menu" 504 51  # Open Kesto
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "Open Kesto showed no main window"
e2e_quit_by_key

# Without a tray a start in menu-bar mode shows the main window.
kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
# Once the X server has let the tray go: its window is gone.
e2e_wait_until 60 eval '! e2e_tray_shown' || fail "the tray stayed"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "a start in menu-bar mode without a tray showed no window"
e2e_quit_by_key
echo "menu-bar window, hot keys, recorder and launch at login: ok"
