#!/usr/bin/env bash
# Kesto never takes the keys from the program the user is in (openbox, inside xvfb-session.sh;
# key-recorder.py is that program and counts what it receives):
# - what opens while the user is in the other program (the update check's answer, alert and
#   panel, against a host that answers when the script lets it; the alert at the end of an
#   import) shows without the focus and asks for attention, the keys typed meanwhile all reach
#   the other program, nothing of Kesto's comes above it, and a click on Kesto's main window
#   brings it, in front, with the keys; one click on a waiting alert's button answers it, and the
#   global hot key brings a waiting alert;
# - a question or sheet opened over the Quick Look preview stands above it, and the preview floats
#   again once it is answered;
# - the global hot key with the import question minimised brings the question and no bookmark
#   window, and the file dialog after it belongs to the main window;
# - the bookmark window shown by the tray icon or the hot key over the other program gives it the
#   focus back when Escape hides it, while the About panel waits on another desktop.
# Under fluxbox (E2E_WM=fluxbox) only what opens while the user is in the other program is checked,
# there on Kesto's desktop and then with the other program on a desktop of its own, where the user
# stays.
# Usage: attention-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xprop trayer python3 xclip

# An update host that answers its Nth request with $work/reply-N only once $work/release-N exists,
# and notes each request it holds in $work/requests.
mkdir -p "$work/site"
port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
python3 - "$work" "$port" >"$work/site.log" 2>&1 <<'PY' &
import http.server, os, sys, time
work, port = sys.argv[1], int(sys.argv[2])
count = 0
class Held(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        global count
        count += 1
        n = count
        with open(os.path.join(work, "requests"), "a") as f:
            f.write(f"{n}\n")
        while not os.path.exists(os.path.join(work, f"release-{n}")):
            time.sleep(0.05)
        body = open(os.path.join(work, f"reply-{n}"), "rb").read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
http.server.HTTPServer(("127.0.0.1", port), Held).serve_forever()
PY
e2e_pids+=("$!")
e2e_offline_settings KestoUpdateURL "<string>http://127.0.0.1:$port/update.txt</string>"

# What the window manager says of a window.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ { print $3 }'; }
net_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
asks_attention() { net_state "$1" | grep -q _NET_WM_STATE_DEMANDS_ATTENTION; }
floats() { net_state "$1" | grep -q _NET_WM_STATE_ABOVE; }
active() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$1" ]]; }
minimised() { [[ "$(wm_state "$1")" == Iconic ]]; }
minimise() { xdotool windowminimize "$1"; e2e_wait_until 60 minimised "$1"; }
desktop_of() { xprop -id "$1" _NET_WM_DESKTOP 2>/dev/null | awk '{ print $3 }'; }
# Whether window $1 stands above window $2 (the window manager's stacking list, bottom first).
above() {
  local order
  order="$(xprop -root _NET_CLIENT_LIST_STACKING | tr -c '0-9a-fx\n' ' ' | tr ' ' '\n' | grep '^0x' | while read -r w; do
    echo $((w))
  done)"
  local a b
  a="$(grep -nx "$1" <<<"$order" | cut -d: -f1)"
  b="$(grep -nx "$2" <<<"$order" | cut -d: -f1)"
  [[ -n "$a" && -n "$b" ]] && ((a > b))
}
typed() { cat "$work/typed" 2>/dev/null; }
typed_is() { [[ "$(typed)" == "$1" ]]; }
# Kesto's showing of window $1 has settled: it took the keys, or it asks for attention.
settled() { active "$1" || asks_attention "$1"; }
# Whether windows $1 and $2 meet on the screen.
overlap() {
  local X Y WIDTH HEIGHT x y w h
  eval "$(xdotool getwindowgeometry --shell "$1")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$2")"
  ((x < X + WIDTH && X < x + w && y < Y + HEIGHT && Y < y + h))
}
# No window of Kesto's covers the other program on the desktop the user is on.
uncovered() {
  local w desktop
  desktop="$(xdotool get_desktop)"
  for w in $(e2e_windows); do
    [[ "$(desktop_of "$w")" == "$desktop" ]] || continue
    above "$w" "$other" && overlap "$w" "$other" && return 1
  done
  return 0
}
# A window the window manager manages whose name matches $1, shown or on another desktop than the
# user's (where it is not shown); its id goes to $found.
managed() {
  local id
  for id in $(xprop -root _NET_CLIENT_LIST | tr -c '0-9a-fx\n' ' ' | tr ' ' '\n' | grep '^0x'); do
    [[ "$(xdotool getwindowname $((id)) 2>/dev/null)" =~ $1 ]] && { found=$((id)); return 0; }
  done
  return 1
}
# The user comes back to Kesto: to its main window's desktop, and a click on its list.
come_back() {
  xdotool set_desktop "$(desktop_of "$win")"
  xdotool mousemove --window "$win" 420 400 click 1
}

e2e_start_tray
e2e_start_kesto
e2e_sample_library
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "the first-run panel stayed"

: >"$work/typed"
python3 "$E2E_DIR/key-recorder.py" 'Another program' "$work/typed" &
e2e_pids+=("$!")
other="$(e2e_wait_window '^Another program$' 60)" || fail "the other program showed no window"

# The update check's answer while the user types in the other program: the program answers, with
# no news, after the user has turned to the other program and typed half a line.
opened_help() {
  e2e_popup_after e2e_key "$win" alt+h && return
  e2e_key "$win" Escape
  return 1
}
check_for_updates() {  # reply
  local n=$(($(cat "$work/requests" 2>/dev/null | wc -l) + 1))
  printf '%s\n' "$1" >"$work/reply-$n"
  e2e_wait_until 60 opened_help || fail "no Help menu"
  xdotool key Up Up Return
  requested() { [[ "$(wc -l <"$work/requests" 2>/dev/null)" -ge "$n" ]]; }
  e2e_wait_until 60 requested || fail "Check for Updates asked the host nothing"
  xdotool windowactivate --sync "$other"
  xdotool type --delay 20 "echo "
  touch "$work/release-$n"
}
# What opened ($1) asks for attention; the other program keeps the keys and gets them all.
keeps_the_keys() {  # window what
  e2e_wait_until 60 settled "$1" ||
    fail "$2 neither took the keys nor asked for attention: $(net_state "$1"), $(xdotool getactivewindow) active"
  e2e_screenshot "$shots/$(tr ' ' - <<<"$2")-shown.png"
  active "$other" || fail "$2 took the focus from the other program"
  [[ "$(xdotool get_desktop)" == "$(desktop_of "$other")" ]] ||
    fail "$2 took the user to desktop $(xdotool get_desktop), away from the other program's"
  asks_attention "$1" || fail "$2 does not ask for attention: $(net_state "$1")"
  uncovered || fail "$2 brought Kesto's windows over the other program: $(xprop -root _NET_CLIENT_LIST_STACKING)"
  xdotool type --delay 20 "typed-here"
  xdotool key Return
  e2e_wait_until 60 typed_is "echo typed-here" || fail "the other program received '$(typed)', not 'echo typed-here'"
  : >"$work/typed"
}
# The user comes back to Kesto: what asked for attention comes in front of the main window and
# takes the keys.
comes_to_user() {  # window what
  come_back
  e2e_wait_until 60 active "$1" || fail "$2 did not take the keys when the user came back: $(xdotool getactivewindow)"
  above "$1" "$win" || fail "$2 is not in front of the main window"
  asks_attention "$1" && fail "$2 still asks for attention"
}

check_for_updates "0#0"
updater="$(e2e_wait_window '^Kesto Updater$' 60 "$app_pid")" || fail "the update check's answer showed nothing"
keeps_the_keys "$updater" "the update check's alert"
# The user comes back with a click on the alert's only button (at its lower right): that one
# click answers it.
eval "$(xdotool getwindowgeometry --shell "$updater")"
xdotool mousemove --window "$updater" $((WIDTH - 52)) $((HEIGHT - 24)) click 1
e2e_wait_until 60 e2e_window_gone "$updater" || fail "a click on the update check's alert's button left it open"

# An update is there: the update panel, the same.
check_for_updates "999999#0"
updater="$(e2e_wait_window '^Kesto Updater$' 60 "$app_pid")" || fail "the update check's answer showed nothing"
keeps_the_keys "$updater" "the update panel"
comes_to_user "$updater" "the update panel"
e2e_key "$updater" Escape
e2e_wait_until 60 e2e_window_gone "$updater" || fail "Escape left the update panel open"

# Under fluxbox the other program moves to a desktop of its own, and the update check is asked
# again: the user stays there while Kesto's answer opens on its own desktop.
if [[ "${E2E_WM:-openbox}" == fluxbox ]]; then
  xdotool set_desktop_for_window "$other" 1
  on_own_desktop() { [[ "$(desktop_of "$other")" == 1 ]]; }
  e2e_wait_until 60 on_own_desktop || fail "the other program did not move to desktop 1"
  xdotool set_desktop "$(desktop_of "$win")"
  check_for_updates "0#0"
  e2e_wait_until 60 managed '^Kesto Updater$' || fail "the update check's answer showed nothing"
  updater="$found"
  keeps_the_keys "$updater" "the update check's alert on another desktop"
  comes_to_user "$updater" "the update check's alert on another desktop"
  e2e_key "$updater" Return
  e2e_wait_until 60 e2e_window_gone "$updater" || fail "Return left the update check's alert open"
fi

# The alert at the end of an import the user started before turning to the other program: the
# file is chosen, the program is held still while the Return that starts the import is typed and
# the user turns to the other program, and then goes on. A link twice in the file is news the
# alert tells.
printf '%s\n' '<!DOCTYPE NETSCAPE-Bookmark-file-1>' '<DL><p>' \
  '<DT><A HREF="https://twice.example/">Twice</A>' '<DT><A HREF="https://twice.example/">Twice</A>' \
  '</DL><p>' >"$work/twice.html"
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
dialog="$(e2e_import_dialog_after "$question")" || fail "no import file dialog"
path_typed() {
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
  printf %s "$work/twice.html" | xclip -selection clipboard -i >/dev/null 2>&1
  xdotool key ctrl+a ctrl+v
  [[ "$(e2e_copied_field)" == "$work/twice.html" ]]
}
e2e_wait_until 60 path_typed || fail "the file dialog's field did not take the path"
# The field's completions pop up and hold the keyboard: Escape closes them, and only them.
completions_closed() {
  e2e_keyboard_free && return
  xdotool key Escape
  e2e_caught_up "$dialog" >/dev/null 2>&1
  e2e_keyboard_free
}
e2e_wait_until 60 completions_closed || fail "the file dialog's completions kept the keyboard"
kill -STOP "$app_pid"
xdotool key Return
xdotool windowactivate --sync "$other"
xdotool type --delay 20 "echo "
kill -CONT "$app_pid"
e2e_wait_until 60 managed '^Import (in)?complete$' || fail "the import's end showed no alert"
told="$found"
keeps_the_keys "$told" "the import's alert"
# The global hot key brings it, as it brings any question open, and shows no bookmark window; the
# user turns back to the other program.
xdotool key super+alt+ctrl+p
e2e_wait_until 60 active "$told" || fail "the hot key did not bring the import's alert: $(xdotool getactivewindow)"
e2e_no_window '^Kesto Bookmarks$' || fail "the hot key showed the bookmark window behind the import's alert"
xdotool windowactivate --sync "$other"
comes_to_user "$told" "the import's alert"
e2e_key "$told" Return
e2e_wait_until 60 e2e_window_gone "$told" || fail "Return left the import's alert open"

if [[ "${E2E_WM:-openbox}" == fluxbox ]]; then
  e2e_quit_by_key
  echo "attention e2e under fluxbox: passed"
  exit 0
fi

# The Quick Look preview floats above the main window; a question or a sheet opened from the main
# window stands above it, and the preview floats again once it is answered.
e2e_click "$win" 420 112 1
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click in the list chose no bookmark"
shown="$(e2e_windows)"
e2e_key "$win" space
e2e_wait_until 60 e2e_new_window "$shown" || fail "the space bar showed no preview"
preview="$(comm -13 <(echo "$shown") <(e2e_windows) | head -n1)"
e2e_wait_until 60 floats "$preview" || fail "the preview does not float"
# The main window takes the keys again, the preview staying above it.
xdotool windowactivate --sync "$win"
e2e_wait_until 60 active "$win" || fail "the main window did not take the keys again"
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
e2e_wait_until 60 above "$question" "$preview" ||
  { e2e_screenshot "$shots/question-under-preview.png"; fail "the import question opened behind the preview"; }
e2e_screenshot "$shots/question-over-preview.png"
e2e_key "$question" Escape
e2e_wait_until 60 e2e_window_gone "$question" || fail "Escape left the import question open"
e2e_wait_until 60 floats "$preview" || fail "the preview does not float again after the question"
e2e_wait_until 60 above "$preview" "$win" || fail "the preview is not above the main window again"
shown="$(e2e_windows)"
e2e_key "$win" ctrl+n
e2e_wait_until 60 e2e_new_window "$shown" || fail "Ctrl+N showed no sheet"
sheet="$(comm -13 <(echo "$shown") <(e2e_windows) | head -n1)"
e2e_wait_until 60 above "$sheet" "$preview" ||
  { e2e_screenshot "$shots/sheet-under-preview.png"; fail "the new bookmark's sheet opened behind the preview"; }
e2e_key "$sheet" Escape
e2e_wait_until 60 e2e_window_gone "$sheet" || fail "Escape left the sheet open"
e2e_wait_until 60 floats "$preview" || fail "the preview does not float again after the sheet"
e2e_key "$win" space
e2e_wait_until 60 e2e_window_gone "$preview" || fail "the space bar did not close the preview"

# The global hot key while the import question is minimised: the question comes back to the
# user, and no bookmark window shows behind it; the file dialog after it belongs to the main window.
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
minimise "$question" || fail "the import question was not minimised"
xdotool key super+alt+ctrl+p
question_back() { [[ "$(wm_state "$question")" == Normal ]] && active "$question"; }
e2e_wait_until 60 question_back ||
  { e2e_screenshot "$shots/hot-key-with-question.png"; fail "the hot key left the import question: $(wm_state "$question")"; }
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_no_window '^Kesto Bookmarks$' || fail "the hot key showed the bookmark window while the question blocks it"
dialog="$(e2e_import_dialog_after "$question")" || fail "no import file dialog after the hot key"
owner="$(xprop -id "$dialog" WM_TRANSIENT_FOR 2>/dev/null | awk '{ print $NF }')"
[[ "$((owner))" == "$win" ]] || fail "the import's file dialog is transient for $owner, not the main window"
e2e_key "$dialog" Escape
e2e_wait_until 60 e2e_window_gone "$dialog" || fail "Escape left the file dialog open"

# The bookmark window shown over the other program, on another desktop than the About panel:
# Escape hides it and the other program has the focus again, whether the tray icon or the hot
# key showed it.
e2e_popup_after e2e_key "$win" alt+h || fail "Alt+H opened no Help menu"
xdotool key Up Return
about="$(e2e_wait_window '^About Kesto$' 60)" || fail "Help > About Kesto showed no panel"
xdotool set_desktop_for_window "$other" 1
xdotool set_desktop 1
xdotool windowactivate --sync "$other"
e2e_wait_until 60 e2e_window_gone "$about" || fail "the About panel stayed while another program has the focus"
gives_focus_back() {  # how
  e2e_wait_until 60 e2e_menu_active || fail "$1 showed no bookmark window with the keys"
  xdotool key Escape
  e2e_wait_until 60 e2e_window_gone "$menu" || fail "Escape left the bookmark window shown by $1"
  e2e_wait_until 60 active "$other" ||
    fail "after the bookmark window shown by $1, $(xdotool getactivewindow getwindowname) has the focus, not the other program"
  # Kesto left for the other program: the About panel waits, hidden.
  e2e_wait_until 60 e2e_window_gone "$about" || fail "the About panel stayed after the bookmark window shown by $1"
}
e2e_click_tray_icon
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the tray icon showed no bookmark window"
gives_focus_back "the tray icon"
xdotool key super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "the hot key showed no bookmark window"
gives_focus_back "the hot key"
xdotool set_desktop 0
xdotool windowactivate --sync "$win"
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$'

e2e_quit_by_key
echo "attention e2e: passed"
