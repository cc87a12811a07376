#!/usr/bin/env bash
# A library the real program cannot use, inside xvfb-session.sh: one with a destroyed page of its
# bookmark table opens to the recovery alert (not to an empty list), its default answer restores
# the newest automatic backup, the user is told how many bookmarks exist only in the kept damaged
# file, and a launch handing over an address meanwhile is answered once the library is back. A
# library written by a newer Kesto is said to be so, quitting leaves it as it is, and one of an
# unknown model with this version's tables is changed only when the user opens it with this
# version. A library damaged past what opening reads opens, and the check of the whole library
# after the window shows offers the same way back. Usage: recovery-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3 md5sum dd

count() { e2e_sql "select count(*) from ZBOOKMARK $1"; }
backups() { compgen -G "$XDG_DATA_HOME/kesto/*.kestobck" | wc -l; }
kept_files() { compgen -G "$store.$1*" | grep -v -- '-wal$\|-shm$\|-journal$' | wc -l; }
e2e_offline_settings UseInboxForBookmarks '<true/>'

# A library of eight, backed up at the next start; two more added after that backup.
e2e_start_kesto
e2e_sample_library
e2e_quit_kesto
e2e_start_kesto
has_backup_of() { local f; for f in "$XDG_DATA_HOME"/kesto/*.kestobck; do
  [[ "$(sqlite3 "$f" 'select count(*) from ZBOOKMARK' 2>/dev/null)" == "$1" ]] && return 0; done; return 1; }
e2e_wait_until 60 has_backup_of 8 || fail "no automatic backup of the library"
"$kesto" --add-text $'https://after-one.example/\nhttps://after-two.example/' >>"$work/kesto.log" 2>&1 || fail "hand-over failed"
ten() { [[ "$(count '')" == 10 ]]; }
e2e_wait_until 60 ten || fail "the later bookmarks were not saved: $(count '')"
e2e_quit_kesto

# One page of the bookmark table destroyed: the file still opens, but its bookmarks do not read.
root="$(e2e_sql "select rootpage from sqlite_master where name = 'ZBOOKMARK'")"
page="$(e2e_sql 'pragma page_size')"
[[ -n "$root" && -n "$page" ]] || fail "no bookmark table"
dd if=/dev/zero of="$store" bs="$page" seek=$((root - 1)) count=1 conv=notrunc 2>/dev/null
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "a damaged library opened without the alert"
# Looked for once the program has handled all it had to do with the alert up.
e2e_caught_up "$alert" || fail "kesto did not answer"
e2e_no_window '^Kesto$' || fail "the main window came up over a damaged library"
e2e_settled
e2e_screenshot "$shots/damaged-alert.png"
# A launch handing an address over while the alert is up is answered once the library is back.
"$kesto" --add-text "https://while-asked.example/" >>"$work/kesto.log" 2>&1 &
handing=$!
e2e_key "$alert" Return
told="$(e2e_wait_window '^Kesto Restore$' 60 "$app_pid")" || fail "the restore was not told"
e2e_settled
e2e_screenshot "$shots/damaged-restored.png"
told_kept() { grep -q '2 bookmarks added after the backup exist only in the kept file “data.sqlite.damaged-' "$work/kesto.log"; }
e2e_wait_until 60 told_kept || fail "the user was not told what only the damaged file holds"
wait "$handing" || fail "the hand-over during the alert was not kept"
restored() { [[ "$(count "where ZURL like 'https://after-%'")" == 0 && "$(count "where ZURL = 'https://while-asked.example/'")" == 1 ]]; }
e2e_wait_until 60 restored || fail "not restored with the handed-over address: $(count '')"
[[ "$(kept_files damaged-)" == 1 ]] || fail "the damaged file was not kept"
e2e_key "$told" Return
e2e_quit_kesto

# A library a newer Kesto wrote: one more attribute than this version knows.
sqlite3 "$store" "ALTER TABLE ZBOOKMARK ADD COLUMN ZREADLATER INTEGER;
  UPDATE Z_METADATA SET Z_VALUE = Z_VALUE || char(10) || ' a:readLater:Boolean' WHERE Z_KEY = 'layout.Bookmark';
  UPDATE Z_METADATA SET Z_VALUE = 'feedface00000001' WHERE Z_KEY = 'versionHash';" || fail "no newer library"
before="$(md5sum <"$store")"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "no alert for a newer library"
e2e_settled
e2e_screenshot "$shots/newer-alert.png"
# Return is Quit: nothing is set aside, nothing changed.
e2e_key "$alert" Return
e2e_wait_until 60 e2e_ended || fail "Quit did not end kesto"
e2e_wait_ended
[[ "$(md5sum <"$store")" == "$before" ]] || fail "the newer library was changed"
[[ "$(kept_files damaged-)" == 1 && "$(kept_files newer-)" == 0 ]] || fail "the newer library was set aside"

# The same tables under a model hash this version does not know: left as it is until the user
# opens it with this version.
sqlite3 "$store" "ALTER TABLE ZBOOKMARK DROP COLUMN ZREADLATER;
  UPDATE Z_METADATA SET Z_VALUE = replace(Z_VALUE, char(10) || ' a:readLater:Boolean', '') WHERE Z_KEY = 'layout.Bookmark';" ||
  fail "no library of an unknown model"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "no alert for an unknown model"
e2e_caught_up "$alert" || fail "kesto did not answer"
e2e_screenshot "$shots/unknown-model-alert.png"
[[ "$(e2e_sql "select Z_VALUE from Z_METADATA where Z_KEY = 'versionHash'")" == feedface00000001 ]] ||
  fail "the unknown model's library was changed unasked"
# The second button: Open with This Version.
xdotool windowactivate --sync "$alert" >/dev/null 2>&1
xdotool key Tab space
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "the library did not open with this version"
adopted() { [[ "$(e2e_sql "select Z_VALUE from Z_METADATA where Z_KEY = 'versionHash'")" != feedface00000001 ]]; }
e2e_wait_until 60 adopted || fail "the library was not taken over by this version"
[[ "$(count '')" == 9 ]] || fail "rows after opening with this version: $(count '')"
e2e_wait_until 60 has_backup_of 9 || fail "no automatic backup of the library opened with this version"
e2e_quit_kesto

# Damage past what opening reads and the start uses: a library grown large, one leaf page of its
# address index destroyed. The window comes up with the whole list; the check of the whole
# library after it finds the damage and offers the same way back, whose default restores the
# newest automatic backup; then Kesto closes for a restart.
e2e_grow_library 20000
leaf="$(e2e_sql "select max(pageno) from dbstat where name = 'ZBOOKMARK_ZURL_INDEX' and pagetype = 'leaf'")"
[[ -n "$leaf" ]] || fail "no leaf page of the address index"
dd if=/dev/zero of="$store" bs="$page" seek=$((leaf - 1)) count=1 conv=notrunc 2>/dev/null
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
e2e_wait_window '^Kesto$' 60 "$app_pid" >/dev/null || fail "a library whose first pages are whole did not open"
alert="$(e2e_wait_window '^The library cannot be opened$' 60 "$app_pid")" || fail "the damage past the first pages was not found"
found_by_check() { grep -q 'The library file is damaged: The store file is damaged' "$work/kesto.log"; }
e2e_wait_until 60 found_by_check ||
  fail "the damage was not found by the check of the whole library: $(grep -i damaged "$work/kesto.log" | tail -n 3)"
e2e_settled
e2e_screenshot "$shots/damage-found-later.png"
e2e_key "$alert" Return
told="$(e2e_wait_window '^Kesto Restore$' 60 "$app_pid")" || fail "the restore after the late check was not told"
e2e_key "$told" Return
e2e_wait_until 60 e2e_ended || fail "kesto did not close for its restart"
e2e_wait_ended
[[ "$(count '')" == 9 ]] || fail "not restored from the backup: $(count '') rows"
[[ "$(kept_files damaged-)" == 2 ]] || fail "the damaged library was not kept"
echo "recovery: ok"
