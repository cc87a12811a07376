#!/usr/bin/env bash
# Undo of a folder delete in a library that has been used, in the real kesto program inside
# xvfb-session.sh: the sample library, 500 bookmarks imported from a file with nested folders
# (File > Import), a bookmark deleted and taken back; then the folder Kesto deleted, taken back
# with Edit > Undo, deleted again, the Trash tab and the folder tab chosen, the Library row clicked:
# Ctrl+Z brings Kesto and its bookmarks back (checked in the store with sqlite3).
# Usage: undo-used-e2e.sh KESTO_BINARY SCREENSHOT_DIR
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-undo-used}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
. "$(dirname "$0")/folder-rows.sh"

# Five topics of two subfolders each, fifty bookmarks in every subfolder.
import="$work/five-hundred.html"
python3 - "$import" <<'PY'
import sys
out = ['<!DOCTYPE NETSCAPE-Bookmark-file-1>', '<TITLE>Bookmarks</TITLE>', '<H1>Bookmarks</H1>', '<DL><p>']
i = 0
for topic in range(5):
    out += [f'<DT><H3>Topic {topic}</H3>', '<DL><p>']
    for sub in range(2):
        out += [f'<DT><H3>Sub {topic}.{sub}</H3>', '<DL><p>']
        for _ in range(50):
            i += 1
            out.append(f'<DT><A HREF="https://site{i % 97}.example/page/{i}" ADD_DATE="1600000000">Page {i}</A>')
        out.append('</DL><p>')
    out.append('</DL><p>')
out.append('</DL><p>')
open(sys.argv[1], 'w').write('\n'.join(out) + '\n')
PY

e2e_start_on_sample_library

# File > Import: Yes to skipping duplicates, then the file's path typed into the dialog.
e2e_import_file "$import"
imported() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL like 'https://site%.example/page/%'")" == 500 ]]; }
e2e_wait_until 60 imported || fail "the 500 bookmarks were not imported"
e2e_caught_up "$win" || fail "kesto did not answer"

# An edit of the user's: the first bookmark of the Library deleted and taken back, once the click
# has chosen it.
click_row 0
e2e_click "$win" 500 120
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the first bookmark chose nothing"
keys "$win" Delete
trashed() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK where ZTRASHED = 1')" == 1 ]]; }
e2e_wait_until 60 trashed || fail "Delete did not trash the bookmark"
keys "$win" ctrl+z
untrashed() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK where ZTRASHED = 1')" == 0 ]]; }
e2e_wait_until 60 untrashed || fail "Ctrl+Z did not bring the bookmark back"
e2e_screenshot "$shots/used-library.png" "$win" || true

folder() { e2e_sql "select count(*) from ZFOLDER where ZNAME = 'Kesto';"; }
filed() { e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where f.ZNAME = 'Kesto' and b.ZTRASHED = 0;"; }
gone() { [[ "$(folder)" == 0 && "$(e2e_sql 'select count(*) from ZBOOKMARK where ZTRASHED = 1')" == 2 ]]; }
back() { [[ "$(folder)" == 1 && "$(filed)" == 2 ]]; }
delete_kesto() {
  click_row 7
  keys "$win" Delete
  local alert
  alert="$(e2e_wait_window '^Delete this folder\?$' 60)" || fail "no delete confirmation"
  e2e_key "$alert" Return
  e2e_wait_until 60 gone || fail "Kesto was not deleted"
  e2e_caught_up "$win" || fail "kesto did not answer"
}
[[ "$(filed)" == 2 ]] || fail "Kesto does not hold its two bookmarks"

delete_kesto
# Edit > Undo Delete, the Edit menu's first item.
e2e_popup_after keys "$win" alt+e || fail "Alt+E opened no Edit menu"
e2e_screenshot "$shots/used-edit-menu.png" || true
xdotool key Return
e2e_wait_until 60 back || fail "Edit > Undo did not bring Kesto back"
e2e_caught_up "$win" || fail "kesto did not answer"
delete_kesto

# The Trash tab, the folder tab (the last and the first of the six tab buttons), the Library row.
e2e_click "$win" $((18 + 36 * 5)) 87
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/used-trash.png" "$win" || true
e2e_click "$win" 18 87
e2e_caught_up "$win" || fail "kesto did not answer"
click_row 0
keys "$win" ctrl+z
e2e_wait_until 60 back ||
  fail "Ctrl+Z did not bring Kesto back: $(e2e_sql 'select ZNAME from ZFOLDER;')"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/used-back.png" "$win" || true
e2e_quit_kesto
echo "undo in a used library e2e passed"
