#!/usr/bin/env bash
# The library moved in and out of the real kesto program inside xvfb-session.sh, from the
# keyboard: the first-run panel of an empty library (held back while an import question asked
# before it is open), File > Import of a Chromium bookmark file
# through the skip-duplicates question and the file dialog (the path typed), the bookmarks in the
# store, a Firefox-style file whose scripts and "place:" queries are left out and said (its ftp
# addresses taken and kept through the restore), File > Export compared with the file's addresses, File > Back Up, a bookmark added
# afterwards, File > Restore with its confirmation and restart notice (which tell that the later
# bookmark exists only in the library kept beside the restored one), the program quitting, a
# new start on the restored library, and a second restore that keeps the library the first kept.
# Usage: transfer-e2e.sh KESTO_BINARY FIXTURE [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
fixture="$2"
shots="${3:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3

count() { e2e_sql "select count(*) from ZBOOKMARK $1"; }
e2e_start_kesto
# File > Import asked before the first-run panel is due: the panel waits while the question is
# open (shown over it, its buttons would be dead), and comes once the question is answered.
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
welcome_shown() { ! e2e_no_window '^Welcome to Kesto$'; }
# Past the panel's 5 seconds, and the program caught up (so a try of the panel that fell due has
# been made): it must not have come.
e2e_wait_until 8 welcome_shown && fail "the first-run panel came over the import question"
e2e_caught_up "$win" || fail "kesto did not answer"
welcome_shown && fail "the first-run panel came over the import question"
e2e_screenshot "$shots/question-before-first-run.png"
e2e_key "$question" Escape
e2e_wait_until 60 e2e_no_window '^Import Bookmarks$' || fail "Escape left the import question"
# An empty library offers the first-run panel and adds nothing on its own.
welcome="$(e2e_wait_window '^Welcome to Kesto$' 60)" || fail "no first-run panel for an empty library"
e2e_settled
e2e_screenshot "$shots/first-run.png"
[[ "$(count '')" == 0 ]] || fail "the default library was made without asking"
# Its import button leads to the sheet with the browsers' export help over a darkened window;
# Escape takes the sheet away.
xdotool windowactivate --sync "$welcome" >/dev/null 2>&1
e2e_click "$welcome" 390 149
sheet="$(e2e_wait_window '^Import from a Browser$' 60)" || fail "the first-run panel's import button showed no sheet"
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "the first-run panel stayed"
e2e_settled
e2e_screenshot "$shots/import-sheet.png"
e2e_key "$sheet" Escape
e2e_wait_until 60 e2e_no_window '^Import from a Browser$' || fail "Escape left the sheet"

# File > Import (Ctrl+Shift+I): Yes to skipping duplicates, then the file.
e2e_key "$win" ctrl+shift+i
question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
e2e_settled
e2e_screenshot "$shots/import-question.png"
dialog="$(e2e_import_dialog_after "$question")" || fail "no import file dialog"
e2e_settled
e2e_screenshot "$shots/import-panel.png"
e2e_choose_path "$dialog" "$fixture"
expected="$(grep -o 'HREF="[^"]*"' "$fixture" | sed 's/HREF="//; s/"$//' | grep -E '^https?://' | sort -u)"
has_all() {
  local url
  while read -r url; do
    [[ "$(count "where ZURL = '$url'")" == 1 ]] || return 1
  done <<<"$expected"
}
e2e_wait_until 60 has_all || fail "the imported bookmarks are not in the store: $(e2e_sql 'select ZURL from ZBOOKMARK')"
# The file's one browser-internal address was left out, and the end of the import says so.
said="$(e2e_wait_window '^Import complete$' 60)" || fail "the import did not say what it left out"
e2e_key "$said" Return
e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the import's message stayed"

# A Firefox-style file of 500 entries: web pages, ftp addresses (which a library holds, as the
# add sheet takes them), bookmarklets and "place:" queries (which work only in Firefox). What a
# library holds comes in; the message and the log say how many entries were left out and why.
firefox="$work/firefox.html"
python3 - "$firefox" <<'PY'
import sys
rows = [f'<DT><A HREF="https://firefox-{i}.example/" ADD_DATE="1733500800">Page {i}</A>' for i in range(470)]
rows += [f'<DT><A HREF="ftp://files-{i}.example/pub/">Files {i}</A>' for i in range(10)]
rows += [f'<DT><A HREF="javascript:void(location.href=\'https://share.example/?u=\'+{i})">Share {i}</A>' for i in range(12)]
rows += [f'<DT><A HREF="place:sort=8&amp;maxResults={i}">Most Visited {i}</A>' for i in range(8)]
open(sys.argv[1], "w").write(
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks Menu</H1>\n<DL><p>\n<DT><H3>Mozilla Firefox</H3>\n<DL><p>\n"
    + "\n".join(rows) + "\n</DL><p>\n</DL>\n")
PY
before="$(count '')"
e2e_import_file "$firefox"
said="$(e2e_wait_window '^Import complete$' 60)" || fail "the import did not say what it left out"
e2e_settled
e2e_screenshot "$shots/import-left-out.png"
e2e_key "$said" Return
e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the import's message stayed"
came_in() { (( $(count '') - before == 480 )); }
e2e_wait_until 60 came_in || fail "480 of the 500 entries should be in the store: $(( $(count '') - before ))"
[[ "$(count "where ZURL like 'ftp://files-%'")" == 10 ]] || fail "the ftp addresses were not imported"
[[ "$(count "where ZURL like 'javascript:%' or ZURL like 'place:%'")" == 0 ]] || fail "a script or query was stored"
logged() { grep -rqs "20 entries were left out: 12 scripts (javascript:, vbscript: or data: pages), 8 browser-internal" "$work/kesto.log" "$XDG_STATE_HOME/kesto/logs"; }
e2e_wait_until 60 logged || fail "the left-out entries were not logged"
imported="$(count '')"
e2e_settled
e2e_screenshot "$shots/imported.png"

# File > Export (Ctrl+Shift+E) to a typed path; the success alert says it was written.
exported="$work/exported.html"
e2e_key "$win" ctrl+shift+e
dialog="$(e2e_wait_window '^Export Bookmarks$' 60)" || fail "Ctrl+Shift+E opened no save dialog"
e2e_settled
e2e_screenshot "$shots/export-panel.png"
e2e_choose_path "$dialog" "$exported"
success="$(e2e_wait_window '^Success$' 60)" || fail "no success alert after the export"
e2e_settled
e2e_screenshot "$shots/export-success.png"
e2e_key "$success" Return
e2e_wait_until 60 test -s "$exported" || fail "nothing exported"
while read -r url; do
  grep -qF "HREF=\"$url\"" "$exported" || fail "the export lacks $url"
done <<<"$expected"

# File > Back Up (Ctrl+Shift+B); the backup is confirmed.
backup="$work/library.kestobck"
e2e_key "$win" ctrl+shift+b
dialog="$(e2e_wait_window '^Back Up Library$' 60)" || fail "Ctrl+Shift+B opened no save dialog"
e2e_choose_path "$dialog" "$backup"
e2e_wait_until 60 test -s "$backup" || fail "no backup written"
done_alert="$(e2e_wait_window '^Kesto Backup$' 60)" || fail "the backup was not confirmed"
e2e_screenshot "$shots/backup-done.png"
e2e_key "$done_alert" Return
e2e_wait_until 60 e2e_no_window '^Kesto Backup$' || fail "the backup's confirmation stayed"
[[ "$(sqlite3 "$backup" 'select count(*) from ZBOOKMARK')" == "$imported" ]] || fail "the backup does not hold the library"

# A bookmark added after the backup, handed over by a second launch.
"$kesto" --add-text "https://after-backup.example/" >>"$work/kesto.log" 2>&1
more() { local n; n="$(count '')"; [[ -n "$n" && "$n" -gt "$imported" ]]; }
e2e_wait_until 60 more || fail "the later bookmark did not arrive"

# A wrong file is turned away before anything is asked. Restore Library sits just above Close
# Window and Quit Kesto at the end of the File menu: Up from the first item wraps to them.
echo "not a library" >"$work/wrong.kestobck"
e2e_popup_after e2e_key "$win" alt+f || fail "Alt+F opened no File menu"
e2e_screenshot "$shots/file-menu.png"
xdotool key Up Up Up Return
dialog="$(e2e_wait_window '^Restore Library$' 60)" || fail "File > Restore opened no dialog"
e2e_settled
e2e_screenshot "$shots/restore-panel.png"
e2e_choose_path "$dialog" "$work/wrong.kestobck"
refused="$(e2e_wait_window '^Kesto Restore$' 60)" || fail "a wrong file was not refused"
e2e_settled
e2e_screenshot "$shots/restore-refused.png"
e2e_key "$refused" Return
e2e_wait_until 60 e2e_no_window '^Kesto Restore$' || fail "the refusal stayed"
more || fail "a refused restore changed the library"

# File > Restore Library… with the backup chosen: prints the question that follows.
restore_backup() {
  local dialog
  e2e_popup_after e2e_key "$win" alt+f || fail "Alt+F opened no File menu"
  xdotool key Up Up Up Return
  dialog="$(e2e_wait_window '^Restore Library$' 60)" || fail "File > Restore opened no dialog"
  e2e_choose_path "$dialog" "$backup"
  e2e_wait_window '^Kesto Restore$' 60
}

# The real backup: confirmed, then the restart notice, then the program quits.
confirm="$(restore_backup)" || fail "no restore confirmation"
e2e_settled
e2e_screenshot "$shots/restore-confirm.png"
e2e_key "$confirm" Return
# The notice bears the question's name: it is the window of that name once the question is gone.
answered() { ! xdotool search --all --onlyvisible --name '^Kesto Restore$' 2>/dev/null | grep -qx "$confirm"; }
e2e_wait_until 60 answered || fail "the restore's question stayed"
notice="$(e2e_wait_window '^Kesto Restore$' 60)" || fail "no restart notice"
e2e_screenshot "$shots/restore-restart.png"
e2e_key "$notice" Return
e2e_wait_until 60 e2e_ended || fail "kesto did not quit after the restore"
e2e_wait_ended
[[ "$(count '')" == "$imported" ]] || fail "the store does not hold the backup: $(count '') rows"
[[ -f "$store.before-restore" ]] || fail "the previous library was not kept"
# The later bookmark lives on in the kept library alone, and the restore said so (its notice is
# logged too).
[[ "$(sqlite3 "$store.before-restore" "select count(*) from ZBOOKMARK where ZURL = 'https://after-backup.example/'")" == 1 ]] ||
  fail "the kept library lacks the later bookmark"
folder="in the folder “$XDG_DATA_HOME/kesto”"
grep -qF "kept as “data.sqlite.before-restore” $folder. 1 bookmark added after the backup exists only in that file." \
  "$work/kesto.log" || fail "the restore did not tell what only the kept library holds, and where"

# A new start opens the restored library (swapped in before the last program ended).
e2e_start_kesto
[[ "$(count "where ZURL = 'https://after-backup.example/'")" == 0 ]] || fail "the later bookmark survived the restore"
has_all || fail "the restored library lacks the imported bookmarks"
# What the add sheet takes, a restore keeps: the ftp addresses are back.
[[ "$(count "where ZURL like 'ftp://files-%'")" == 10 ]] || fail "the restore left the ftp addresses out"

# A second restore keeps the library the first one kept: the notice names where it went, and
# the later bookmark lives on there.
confirm="$(restore_backup)" || fail "no second restore confirmation"
e2e_settled
e2e_screenshot "$shots/restore-again-confirm.png"
e2e_key "$confirm" Return
e2e_wait_until 60 answered || fail "the second restore's question stayed"
notice="$(e2e_wait_window '^Kesto Restore$' 60)" || fail "no restart notice"
e2e_settled
e2e_screenshot "$shots/restore-again-restart.png"
e2e_key "$notice" Return
e2e_wait_until 60 e2e_ended || fail "kesto did not quit after the second restore"
e2e_wait_ended
earlier=("$store".before-restore-*)
[[ "${#earlier[@]}" == 1 && "$(sqlite3 "${earlier[0]}" "select count(*) from ZBOOKMARK where ZURL = 'https://after-backup.example/'")" == 1 ]] ||
  fail "the second restore lost the library the first one kept"
# The notice names the folder once and each file once: the library kept now under
# "data.sqlite.before-restore", the earlier one under its dated name.
told="$(grep -F 'Restore: The library before the restore' "$work/kesto.log" | tail -n 1)"
moved="was moved to “$(basename "${earlier[0]}")” in the same folder"
[[ "$told" == *"$moved; it holds 1 bookmark that the library before this restore lacks"* ]] ||
  fail "the second restore did not tell where the library the first one kept went: $told"
times_told() { grep -oF -- "$1" <<<"$told" | wc -l; }
[[ "$(times_told 'before-restore”')" == 1 && "$(times_told "$XDG_DATA_HOME/kesto")" == 1 ]] ||
  fail "the second restore's notice names a file or the folder twice: $told"
echo "import, export, backup and restore: ok"
