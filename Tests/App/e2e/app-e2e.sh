#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: a library that cannot be opened is shown and
# quits cleanly; a second launch adds two bookmarks, the notifications go out over a private
# session bus, the rows land in the store; a later launch brings a minimised window back and
# names archives by absolute path; a mode switch survives a quit and a restart; a damaged library is
# restored from its newest automatic backup. Usage: app-e2e.sh KESTO_BINARY [SCREENSHOT_PATH]
set -uo pipefail
kesto="$1"
shot="${2:-${TMPDIR:-/tmp}/kesto-window.png}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xprop sqlite3 dbus-daemon dbus-monitor dbus-test-tool python3

# A session bus of our own with a stand-in notification server; the monitor records every
# notification sent to it.
dbus-daemon --config-file="$(dirname "$0")/../../Harness/e2e/private-bus.conf" --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid" || fail "no bus"
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/bus")"
bus_pid="$(head -n1 "$work/bus.pid")"
dbus-monitor --address "$DBUS_SESSION_BUS_ADDRESS" "interface='org.freedesktop.Notifications',member='Notify'" \
  >"$work/notify.log" 2>&1 &
monitor_pid=$!
dbus-test-tool echo --name=org.freedesktop.Notifications >/dev/null 2>&1 &
server_pid=$!
e2e_pids+=("$monitor_pid" "$server_pid" "$(e2e_identity "$bus_pid")")

server_up() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
  string:org.freedesktop.Notifications 2>/dev/null | grep -q 'boolean true'; }
e2e_wait_until 60 server_up || fail "no stand-in notification server"

# Thumbnails from a closed loopback port: the test never leaves the machine. Handed-in addresses
# go to the Inbox (by default they go to the folder shown while Kesto is in front); a stored
# folder order marks this as no first run, whose defaults would set that choice aside.
e2e_offline_settings UseInboxForBookmarks '<true/>' sortFoldersByRating '<false/>'

# Without a display it says what it needs and stops.
msg="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$kesto" 2>&1)"
[[ $? -eq 1 && "$msg" == *DISPLAY* ]] || fail "no-display message: $msg"

# A library that cannot be opened is shown, and a quit with that alert still open ends cleanly.
echo "not a folder" >"$XDG_DATA_HOME/kesto"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
e2e_wait_window '^The library cannot be opened$' 60 "$app_pid" >/dev/null || fail "no store-failure alert"
e2e_quit_kesto
# Closing that alert from its title bar quits too: nothing is left running without the library.
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "no store-failure alert"
e2e_key "$alert" alt+F4
e2e_wait_until 60 e2e_ended || fail "kesto kept running after its store-failure alert was closed"
wait "$app_pid" || fail "kesto ended badly after its store-failure alert was closed"
rm -f "$XDG_DATA_HOME/kesto"

e2e_start_kesto
# An empty store offers the default library; it is made when asked for.
e2e_add_sample_library || fail "no first-run panel"
has_rows() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == "$1" ]]; }
e2e_wait_until 60 has_rows 8 || fail "no default library"

# A second launch hands its URL over and exits at once.
"$kesto" 'kesto:https%3A%2F%2Fexample.org%2Fone%0Akesto:https://example.org/two?q=kesto:x' >>"$work/kesto.log" 2>&1 \
  || fail "second launch failed"
# The monitor writes each message in pieces: wait for the second one's text as well.
two_added() {
  [[ "$(grep -c 'string "Bookmark added"' "$work/notify.log")" -ge 2 ]] &&
    grep -q 'string "https://example.org/two?q=kesto:x"' "$work/notify.log"
}
e2e_wait_until 60 two_added || fail "no notifications: $(cat "$work/notify.log")"
grep -q 'string "https://example.org/two?q=kesto:x"' "$work/notify.log" || fail "notification text"

# The hand-over is saved once, after its notifications: wait for the save (and for its lock).
rows() { rows="$(sqlite3 -cmd '.timeout 5000' "$store" "select ZURL from ZBOOKMARK where ZURL like 'https://example.org/%' order by ZURL")"; }
both_rows() { rows && [[ "$rows" == $'https://example.org/one\nhttps://example.org/two?q=kesto:x' ]]; }
e2e_wait_until 60 both_rows || fail "rows: $rows"
inbox="$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK
  where f.ZFOLDERID = '_inbox' and b.ZURL like 'https://example.org/%'")"
[[ "$inbox" == 2 ]] || fail "not in the Inbox: $inbox"

# A later plain launch brings a minimised window back.
xdotool windowminimize --sync "$win"
"$kesto" >>"$work/kesto.log" 2>&1 || fail "reopen launch failed"
restored() { xprop -id "$win" WM_STATE | grep -q 'window state: Normal'; }
e2e_wait_until 60 restored || fail "minimised window not brought back: $(xprop -id "$win" WM_STATE)"

# A relative archive path names the file in the launching folder, not in the running one's.
(cd "$work" && "$kesto" Missing.kesto >>"$work/kesto.log" 2>&1) || fail "archive launch failed"
named_absolute() { grep -qF "shared folder $work/Missing.kesto" "$work/kesto.log"; }
e2e_wait_until 60 named_absolute || fail "relative archive path not made absolute"

# Command-3 (Ctrl+3) switches to the compact list; the choice is stored at once.
e2e_key "$win" ctrl+3
list_mode() { grep -A1 '<key>BoomarksListView</key>' "$settings" | grep -q '<true/>'; }
e2e_wait_until 60 list_mode || true
e2e_setting_is BoomarksListView True || fail "mode not stored"
e2e_quit_kesto

# The restart comes back in the compact list, pictured once it shows its bookmarks. The settings
# are read after the quit: a start that set the mode back would have written it by then.
e2e_marks_on
e2e_start_kesto
e2e_wait_until 60 e2e_list_drawn 0 1+ || fail "the restart drew no list of bookmarks"
e2e_screenshot "$shot" || fail "no screenshot"
# The start's automatic backup, of the ten bookmarks, comes once the list is up.
backup_of_ten() {
  local f
  for f in "$XDG_DATA_HOME"/kesto/*.kestobck; do
    [[ "$(sqlite3 "$f" 'select count(*) from ZBOOKMARK' 2>/dev/null)" == 10 ]] && return 0
  done
  return 1
}
e2e_wait_until 60 backup_of_ten || fail "no automatic backup of the ten bookmarks"
# Ctrl+Q quits from the window, saving on the way.
e2e_key "$win" ctrl+q
wait "$app_pid" || fail "Ctrl+Q did not end kesto cleanly"
e2e_setting_is BoomarksListView True || fail "mode not kept"
e2e_setting_is BoomarksCompactView False || fail "grid mode set"
[[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 10 ]] || fail "rows lost on quit"

# Garbage over the library: the alert offers the newest automatic backup that opens, and its
# default answer restores it; the damaged file stays beside it under a dated name.
head -c 65536 /dev/urandom >"$store"
rm -f "$store-wal" "$store-shm"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "no alert over a damaged library"
e2e_key "$alert" Return
told="$(e2e_wait_window '^Kesto Restore$' 60 "$app_pid")" || fail "the restore was not told"
restored_rows() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 10 ]]; }
e2e_wait_until 60 restored_rows || fail "backup not restored: $(e2e_sql 'select count(*) from ZBOOKMARK')"
kept=("$store".damaged-*)
[[ -f "${kept[0]}" && "$(stat -c %s "${kept[0]}")" == 65536 ]] || fail "damaged library not kept"
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "no main window after the restore"
e2e_key "$told" Return
e2e_quit_kesto
# Every file Kesto wrote, or had written (xdg-mime's list of default programs), is the user's alone.
shared="$(find "$XDG_DATA_HOME/kesto" "$XDG_DATA_HOME/applications" "$XDG_CACHE_HOME/kesto" "$XDG_STATE_HOME/kesto" \
  "$XDG_CONFIG_HOME/mimeapps.list" -type f -perm /077 2>/dev/null)"
[[ -z "$shared" ]] || fail "files others can read: $shared"
echo "ok: screenshot at $shot"
