#!/usr/bin/env bash
# A library on a disk that fills up, inside xvfb-session.sh: notes typed into a bookmark the
# library holds, ended by Tab, cannot be saved; Ctrl+Q offers to write what was not saved, and
# Return (Export and Quit) puts it where Kesto can bring it back. The library's own folder is
# full, so a backup of the library holding the notes goes to the documents folder, the notes in
# it; the message names it; nothing partial is left on the full disk; the library there is as
# it was. The disk is a small tmpfs in a mount namespace of the script's own (as root, or as root
# of a user namespace); skipped where none can be made.
# Usage: unsaved-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
if [[ -z "${UNSAVED_E2E_NS:-}" ]]; then
  export UNSAVED_E2E_NS=1
  if unshare -m true 2>/dev/null; then exec unshare -m --propagation private bash "$0" "$@"; fi
  if unshare -rm true 2>/dev/null; then exec unshare -rm --propagation private bash "$0" "$@"; fi
  echo "skipped: no mount namespace can be made"
  exit 77
fi
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-unsaved}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/../../Sidebar/e2e/folder-rows.sh"
library="$XDG_DATA_HOME/kesto"
mkdir -p "$library"
mount -t tmpfs -o size=6m,mode=0700 tmpfs "$library" || { echo "skipped: no tmpfs can be mounted"; exit 77; }

caught_up() { e2e_caught_up "$win" || fail "kesto did not answer"; }
e2e_start_on_sample_library
# The first bookmark of the Apple folder (row 5), shown in the inspector.
click_row 5
e2e_click "$win" 600 250
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the first cell showed no bookmark in the inspector"
caught_up
# The start's backup is made before the disk fills, so the disk is full for the notes alone.
e2e_wait_until 60 compgen -G "$library/*.kestobck" >/dev/null || fail "no automatic backup"
dd if=/dev/zero of="$library/filler" bs=64k 2>/dev/null
e2e_click "$win" 1094 242
caught_up
xdotool key ctrl+a
xdotool type --delay 30 "Typed on a full disk"
xdotool key Tab
alert="$(e2e_wait_window '^Kesto cannot save your library$' 60 "$app_pid")" || fail "the failed save was not told"
e2e_key "$alert" Return
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZNOTES = 'Typed on a full disk'")" == 0 ]] ||
  fail "the notes were saved on a full disk"

e2e_key "$win" ctrl+q
question="$(e2e_wait_window '^Some changes could not be saved$' 60 "$app_pid")" || fail "Ctrl+Q asked nothing"
e2e_caught_up "$question"
e2e_screenshot "$shots/unsaved-question.png"
e2e_key "$question" Return
told="$(e2e_wait_window '^Unsaved changes kept$' 60 "$app_pid")" || fail "the export was not told"
e2e_caught_up "$told"
e2e_screenshot "$shots/unsaved-kept.png"
e2e_key "$told" Return
e2e_wait_until 60 e2e_ended || fail "kesto did not quit after the export"
e2e_wait_ended

# The library's folder takes no file: the documents folder, else the home folder, does.
backup="$(find "$HOME" -path "$library" -prune -o -name 'Unsaved changes *.kestobck' -print | head -n 1)"
[[ -n "$backup" ]] || fail "no backup outside the full disk: $(find "$HOME" -name 'Unsaved*' 2>&1)"
url="$(sqlite3 "$backup" "select ZURL from ZBOOKMARK where ZNOTES = 'Typed on a full disk'")"
[[ -n "$url" && "$(sqlite3 "$backup" "select count(*) from ZBOOKMARK")" == "$(e2e_sql "select count(*) from ZBOOKMARK")" ]] ||
  fail "the backup does not hold the notes: $(sqlite3 "$backup" "select ZURL, ZNOTES from ZBOOKMARK")"
[[ "$(sqlite3 "$backup" 'pragma integrity_check')" == ok ]] || fail "the backup is not whole"
[[ "$(stat -c %a "$backup")" == 600 ]] || fail "the backup is readable by others"
html="$(compgen -G "$(dirname "$backup")/Unsaved bookmarks *.html" | head -n 1)"
[[ -n "$html" ]] && grep -qF "$url" "$html" || fail "the bookmark file does not hold the changed bookmark"
leftover="$(ls -A "$library" | grep -v '^data\.sqlite$\|\.kestobck$\|^filler$\|^data\.sqlite\.lock$')"
[[ -z "$leftover" ]] || fail "left on the full disk: $leftover"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZNOTES = 'Typed on a full disk'")" == 0 ]] ||
  fail "the library changed"
echo "what a full disk would not take is kept whole: ok"
