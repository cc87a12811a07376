#!/usr/bin/env bash
# Sync set up and run in the real kesto program inside xvfb-session.sh: the sample library,
# File > Sync Now with no method opening the set-up assistant, "Synced folder" chosen, the folder
# picked in the desktop's folder dialog (the path typed), the finish stage starting the first
# sync, "Sync Complete" told, the payload in the folder holding the library; then the toolbar's
# sync button, and a remote sync file that cannot be read: kept aside under a dated name beside
# the payload, the user told, and this library uploaded in its place.
# Usage: sync-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3 unzip
synced="$E2E_HOME/Synced Library"
mkdir -p "$synced"
payload="$synced/Documents/kesto_sync.zip"


completions() { grep -c 'Sync Complete \[Synced folder\]' "$work/kesto.log"; }
count() { e2e_sql "select count(*) from ZBOOKMARK $1"; }
# Clicks at a point of a window given relative to its top left (y downwards).
click_in() {  # window x y
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  e2e_click "$1" "$2" "$3"
}

e2e_start_kesto
e2e_sample_library
library="$(count 'where ZTRASHED = 0')"

# No method yet: Sync Now opens the assistant instead of doing nothing.
e2e_key "$win" ctrl+shift+s
wizard="$(e2e_wait_window '^Sync Set-up$' 10)" || fail "Sync Now without a method opened no set-up assistant"
sleep 0.5
e2e_screenshot "$shots/sync-stage-start.png"
# Every transport's stage, through Continue and Back: Skyfolder's link button, the account form.
click_in "$wizard" 165 154    # "Skyfolder"
click_in "$wizard" 517 390    # Continue
sleep 0.8
e2e_screenshot "$shots/sync-stage-skyfolder.png"
grep -q '<string>skyfolder</string>' "$settings" || fail "choosing Skyfolder was not stored"
click_in "$wizard" 420 390    # Back
sleep 0.8
click_in "$wizard" 165 214    # "Kesto Online"
click_in "$wizard" 517 390
sleep 0.8
e2e_screenshot "$shots/sync-stage-account.png"
click_in "$wizard" 420 390
sleep 0.8
# The synced folder; Back is off on the first stage.
click_in "$wizard" 165 274    # "Synced folder"
sleep 0.3
e2e_screenshot "$shots/sync-stage-start-chosen.png"
e2e_wait_until 5 grep -q '<string>icloud</string>' "$settings" || fail "the choice was not stored as CurrentSyncMethod"
click_in "$wizard" 517 390    # Continue (titled Finish for this choice)
sleep 0.8
e2e_screenshot "$shots/sync-stage-folder.png"
click_in "$wizard" 348 251    # Choose Folder…
dialog="$(e2e_wait_window '^Choose the Synced Folder$' 10)" || fail "no folder dialog"
sleep 0.5
e2e_screenshot "$shots/sync-folder-dialog.png"
xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
xdotool key ctrl+a
xdotool type --delay 20 "$synced"
sleep 0.3
xdotool key Return
sleep 0.3
# The dialog may first step into the folder; a second Return takes it.
xdotool search --onlyvisible --name '^Choose the Synced Folder$' >/dev/null 2>&1 && xdotool key Return
e2e_wait_until 10 grep -qF "<string>$synced</string>" "$settings" || fail "the chosen folder was not kept"
sleep 0.5
e2e_screenshot "$shots/sync-stage-folder-chosen.png"
click_in "$wizard" 517 390    # Next: the finish stage starts the first sync
sleep 0.8
e2e_screenshot "$shots/sync-stage-finish.png"
first_done() { [[ "$(completions)" -ge 1 ]]; }
e2e_wait_until 30 first_done || fail "the first sync did not complete"
e2e_screenshot "$shots/sync-complete.png"
click_in "$wizard" 517 390    # Finish closes the assistant
e2e_wait_until 5 bash -c "! xdotool search --onlyvisible --name '^Sync Set-up$' >/dev/null" || fail "Finish left the assistant open"

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
e2e_wait_until 30 second_done || fail "the sync button did not sync"
sleep 0.2
e2e_screenshot "$shots/sync-button-complete.png"

# Another machine left an unreadable file: kept aside, told, and replaced by this library.
printf 'not a zip archive' >"$payload"
e2e_key "$win" ctrl+shift+s
told="$(e2e_wait_window '^Sync file kept aside$' 20)" || fail "an unreadable remote file was not reported"
sleep 0.3
e2e_screenshot "$shots/sync-unreadable.png"
e2e_key "$told" Return
third_done() { [[ "$(completions)" -ge 3 ]]; }
e2e_wait_until 30 third_done || fail "the sync after the unreadable file did not complete"
aside="$(find "$synced/Documents" -name 'kesto_sync unreadable *.zip' | head -n1)"
[[ -n "$aside" ]] || fail "the unreadable file was not kept beside the payload"
[[ "$(cat "$aside")" == "not a zip archive" ]] || fail "the file kept aside is not the unreadable one"
unzip -p "$payload" tmp.xml | grep -q '<kesto-sync-file>' || fail "this library was not uploaded after the unreadable file"
echo "sync e2e passed"
