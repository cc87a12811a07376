#!/usr/bin/env bash
# Sync set up and run in the real kesto program inside xvfb-session.sh: the sample library,
# File > Sync Now with no method opening the set-up assistant, Skyfolder's link failing without a
# network (told in front, Next staying off), "Synced folder" chosen, the folder picked in the
# desktop's folder dialog (the path typed), the finish stage starting the first sync, "Sync
# Complete" told, the payload in the folder holding the library; then the toolbar's sync button,
# and a remote sync file that cannot be read: kept aside under a dated name beside the payload,
# the user told, and this library uploaded in its place. Then the assistant browsed over the
# working sync (a link, an account saved, another folder) and cancelled leaves it working; and an
# account the service refuses is told in front of the assistant that reopens.
# Usage: sync-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip xprop sqlite3 python3 unzip
synced="$E2E_HOME/Synced Library"
mkdir -p "$synced"
payload="$synced/Documents/kesto_sync.zip"


completions() { grep -c 'Sync Complete \[Synced folder\]' "$work/kesto.log"; }
count() { e2e_sql "select count(*) from ZBOOKMARK $1"; }
# Clicks at a point of a window given relative to its top left (y downwards), and goes on once
# the program has taken the click in (the assistant shows the stage it leads to).
click_in() {  # window x y
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  e2e_click "$1" "$2" "$3"
  # Asked through the main window, which stays when the click closes the one clicked.
  e2e_caught_up "$win" || fail "kesto did not answer"
  # A stage the click brought in slides into place: the next click waits for it.
  e2e_wait_until 60 e2e_animations_ended || fail "an animation did not end"
}

# Skyfolder on a closed port (no connection); an account service that refuses every login.
account_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat >"$work/refusing.py" <<'PY'
import http.server, sys
class Refuse(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        body = b"<errors><error>refused</error></errors>"
        self.send_response(200)
        self.send_header("Content-Type", "application/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Refuse).serve_forever()
PY
python3 "$work/refusing.py" "$account_port" >"$work/refusing.log" 2>&1 &
e2e_pids+=("$!")
e2e_write_settings SkyfolderAPIHost '<string>127.0.0.1:9</string>' \
  KestoappBaseURL "<string>http://127.0.0.1:$account_port</string>"
chmod 600 "$settings"
# The window in front, and whether the window $1 is it.
in_front() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$1" ]]; }
# Whether the window $1 is above the window $2 in the window manager's stacking order.
above() {
  local order
  order="$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/, / /g')"
  python3 -c 'import sys; o=[int(w,16) for w in sys.argv[1].split()]; a,b=int(sys.argv[2]),int(sys.argv[3]); sys.exit(0 if a in o and b in o and o.index(a)>o.index(b) else 1)' \
    "$order" "$1" "$2"
}
# A picture of the window $1 (for telling whether a click changed it).
window_picture() { e2e_screenshot "$shots/picture-$2.png" "$1"; }

e2e_marks_on
e2e_start_kesto
e2e_sample_library
library="$(count 'where ZTRASHED = 0')"

# No method yet: Sync Now opens the assistant instead of doing nothing.
e2e_key "$win" ctrl+shift+s
wizard="$(e2e_wait_window '^Sync Set-up$' 60)" || fail "Sync Now without a method opened no set-up assistant"
e2e_caught_up "$wizard" || fail "kesto did not answer"
e2e_screenshot "$shots/sync-stage-start.png"
# Every transport's stage, through Continue and Back: Skyfolder's link button, the account form.
click_in "$wizard" 165 154    # "Skyfolder"
click_in "$wizard" 517 390    # Continue
e2e_screenshot "$shots/sync-stage-skyfolder.png"
! grep -q '<string>skyfolder</string>' "$settings" || fail "choosing Skyfolder was stored before its stage was completed"
# Link Skyfolder without a connection: told in words, in front of the assistant.
click_in "$wizard" 348 197    # Link Skyfolder
told="$(e2e_wait_window '^Link failed$' 60)" || fail "a Skyfolder link that failed said nothing"
e2e_wait_until 60 in_front "$told" || fail "the failed link's message is not in front"
above "$told" "$wizard" || fail "the failed link's message is under the assistant"
e2e_settled
e2e_screenshot "$shots/sync-link-failed.png"
e2e_key "$told" Return
e2e_wait_until 60 e2e_no_window '^Link failed$' || fail "the link message stayed"
# Next while unlinked does nothing: the stage stays as it is, and no sync starts.
xdotool mousemove --window "$wizard" 517 390
e2e_caught_up "$wizard" || fail "kesto did not answer"
window_picture "$wizard" before-next
click_in "$wizard" 517 390    # Next
window_picture "$wizard" after-next
cmp -s "$shots/picture-before-next.png" "$shots/picture-after-next.png" || fail "Next left the unlinked Skyfolder stage"
e2e_screenshot "$shots/sync-stage-skyfolder-unlinked.png"
click_in "$wizard" 420 390    # Back
click_in "$wizard" 165 214    # "Kesto Online"
click_in "$wizard" 517 390
e2e_screenshot "$shots/sync-stage-account.png"
click_in "$wizard" 420 390
# The synced folder; Back is off on the first stage.
click_in "$wizard" 165 274    # "Synced folder"
e2e_screenshot "$shots/sync-stage-start-chosen.png"
click_in "$wizard" 517 390    # Continue (titled Finish for this choice)
e2e_screenshot "$shots/sync-stage-folder.png"
click_in "$wizard" 348 251    # Choose Folder…
dialog="$(e2e_wait_window '^Choose the Synced Folder$' 60)" || fail "no folder dialog"
e2e_caught_up "$dialog" || fail "kesto did not answer"
e2e_screenshot "$shots/sync-folder-dialog.png"
e2e_choose_path "$dialog" "$synced"
# The dialog may first step into the folder; a second Return takes it. Looked at once the program
# has taken the first one in (a Return pressed while it still works on the first would go on to
# the assistant).
e2e_caught_up "$wizard" || fail "kesto did not answer"
xdotool search --onlyvisible --name '^Choose the Synced Folder$' >/dev/null 2>&1 && xdotool key Return
e2e_wait_until 60 e2e_no_window '^Choose the Synced Folder$' || fail "the folder dialog stayed"
e2e_settled
e2e_screenshot "$shots/sync-stage-folder-chosen.png"
! grep -q '<string>icloud</string>' "$settings" || fail "the synced folder was stored before its stage was completed"
click_in "$wizard" 517 390    # Next: the finish stage starts the first sync
e2e_wait_until 60 grep -q '<string>icloud</string>' "$settings" || fail "the completed stage did not store CurrentSyncMethod"
e2e_wait_until 60 grep -qF "<string>$synced</string>" "$settings" || fail "the chosen folder was not kept"
e2e_settled
e2e_screenshot "$shots/sync-stage-finish.png"
first_done() { [[ "$(completions)" -ge 1 ]]; }
e2e_wait_until 60 first_done || fail "the first sync did not complete"
e2e_screenshot "$shots/sync-complete.png"
click_in "$wizard" 517 390    # Finish closes the assistant
e2e_wait_until 60 bash -c "! xdotool search --onlyvisible --name '^Sync Set-up$' >/dev/null" || fail "Finish left the assistant open"

# The payload holds the library.
[[ -s "$payload" ]] || fail "no payload at $payload"
unzip -p "$payload" tmp.xml >"$work/first.xml" || fail "the payload is not a zip holding tmp.xml"
grep -q '<kesto-sync-file>' "$work/first.xml" || fail "the payload holds no sync file"
[[ "$(grep -c '<bookmark>' "$work/first.xml")" -ge "$library" ]] || fail "the payload lacks bookmarks of the library"

# The toolbar's sync button runs it again.
geometry="$(xdotool getwindowgeometry --shell "$win")"
eval "$geometry"
echo "main window at $X,$Y"
xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool mousemove "$((X + 68))" "$((Y + 25))" click 1
second_done() { [[ "$(completions)" -ge 2 ]]; }
e2e_wait_until 60 second_done || fail "the sync button did not sync"
e2e_settled
e2e_screenshot "$shots/sync-button-complete.png"

# Another machine left an unreadable file: kept aside, told, and replaced by this library.
printf 'not a zip archive' >"$payload"
e2e_key "$win" ctrl+shift+s
told="$(e2e_wait_window '^Sync file kept aside$' 60)" || fail "an unreadable remote file was not reported"
e2e_settled
e2e_screenshot "$shots/sync-unreadable.png"
e2e_key "$told" Return
third_done() { [[ "$(completions)" -ge 3 ]]; }
e2e_wait_until 60 third_done || fail "the sync after the unreadable file did not complete"
aside="$(find "$synced/Documents" -name 'kesto_sync unreadable *.zip' | head -n1)"
[[ -n "$aside" ]] || fail "the unreadable file was not kept beside the payload"
[[ "$(cat "$aside")" == "not a zip archive" ]] || fail "the file kept aside is not the unreadable one"
# Read whole: grep -q leaving early would fail unzip's later writes, and with them the pipeline.
[[ "$(unzip -p "$payload" tmp.xml)" == *'<kesto-sync-file>'* ]] || fail "this library was not uploaded after the unreadable file"

# The assistant over the working sync: File > Set Up Sync…, Skyfolder, the account (address and
# password saved), another folder, then Cancel. The synced folder still syncs.
open_assistant() {
  e2e_popup_after e2e_key "$win" alt+f || fail "Alt+F opened no File menu"
  e2e_screenshot "$shots/sync-file-menu.png"
  # After New Folder, New Smart Folder…, Find Folder, New Bookmark… and Sync Now.
  xdotool key Down Down Down Down Down Return
  wizard="$(e2e_wait_window '^Sync Set-up$' 60)" || fail "File > Set Up Sync… opened no assistant"
  e2e_caught_up "$wizard" || fail "kesto did not answer"
}
open_assistant
click_in "$wizard" 165 154    # "Skyfolder"
click_in "$wizard" 517 390    # Continue
click_in "$wizard" 420 390    # Back
click_in "$wizard" 165 214    # "Kesto Online"
click_in "$wizard" 517 390    # Continue
click_in "$wizard" 268 153    # the e-mail field
xdotool type --delay 20 "someone@example.org"
click_in "$wizard" 268 183    # the password field
xdotool type --delay 20 "typed password"
click_in "$wizard" 473 183    # Save
e2e_screenshot "$shots/sync-account-saved.png"
click_in "$wizard" 420 390    # Back
click_in "$wizard" 193 390    # Cancel
e2e_wait_until 60 bash -c "! xdotool search --onlyvisible --name '^Sync Set-up$' >/dev/null" || fail "Cancel left the assistant open"
# The settings file is written whole, a moment after each change: read once a later change (the
# compact list chosen) is in it, so what the assistant changed would be there too.
e2e_key "$win" ctrl+3
e2e_wait_until 60 e2e_setting_is BoomarksListView True || fail "Ctrl+3 did not choose the compact list"
e2e_setting_is CurrentSyncMethod icloud || fail "Cancel changed the sync method to '$(e2e_setting CurrentSyncMethod)'"
e2e_setting_is SyncEmail "" || fail "Cancel kept the account typed in the assistant"
e2e_setting_is syncUsingSkyfolder "" || e2e_setting_is syncUsingSkyfolder False || fail "browsing changed the Skyfolder choice"
! grep -q 'typed password' "$settings" || fail "a password went into the settings file"
e2e_key "$win" ctrl+2
e2e_wait_until 60 e2e_setting_is BoomarksListView False || fail "Ctrl+2 did not choose the extended list"
e2e_key "$win" ctrl+shift+s
fourth_done() { [[ "$(completions)" -ge 4 ]]; }
e2e_wait_until 60 fourth_done || fail "the synced folder no longer syncs after a cancelled assistant"

# An account the service refuses: the assistant reopens and the reason is in front of it.
open_assistant
click_in "$wizard" 165 214    # "Kesto Online"
click_in "$wizard" 517 390    # Continue
click_in "$wizard" 268 153
xdotool type --delay 20 "someone@example.org"
click_in "$wizard" 268 183
xdotool type --delay 20 "wrong password"
click_in "$wizard" 517 390    # Finish: the account is stored and the first sync starts
refused="$(e2e_wait_window '^Incorrect Login$' 60)" || fail "a refused login was not told"
reopened="$(e2e_wait_window '^Sync Set-up$' 60)" || fail "the assistant did not reopen"
e2e_wait_until 60 in_front "$refused" || fail "the refused login's message is not in front"
above "$refused" "$reopened" || fail "the refused login's message is under the assistant"
above "$refused" "$win" || fail "the refused login's message is under the main window"
e2e_settled
e2e_screenshot "$shots/sync-login-refused.png"
! grep -q 'wrong password' "$settings" || fail "the account's password went into the settings file"
e2e_key "$refused" Return
echo "sync e2e passed"
