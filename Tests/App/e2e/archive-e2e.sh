#!/usr/bin/env bash
# A crafted shared-folder archive handed to the running kesto program inside xvfb-session.sh: its
# texts arrive cleaned and bounded (a raw U+202E in an address, a 1 MB title, an address longer
# than 8 KiB, folders 300 deep, flattened and said), its "javascript:" and "vbscript:" bookmarks
# and a "data:" page whose type follows 2,100 blanks are left out and said, its "about:" one kept, the duplicates question is asked each time it is handed in (Yes adds
# nothing the library holds, not even an empty folder, and says so; No adds it all again), and
# opening its "ftp:" bookmark asks first with Cancel as the answer Return gives: the desktop opener
# (a recording stand-in on PATH) is never started. Usage: archive-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3

# The opener stand-in records what it is handed.
mkdir -p "$work/bin"
printf '#!/bin/bash\necho "$@" >>%q\n' "$work/opened" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

package="$work/Crafted.kesto"
mkdir -p "$package/Contents"
python3 - "$package/Contents/kesto.xml" <<'PY'
import sys
def folder(i, parent, name):
    return (f"<folder><folderID>{i}</folderID><parentFolderID>{parent}</parentFolderID>"
            f"<name><![CDATA[{name}]]></name></folder>")
def bookmark(folder_id, title, url):
    return (f"<bookmark><folders><folder-id>{folder_id}</folder-id></folders><title><![CDATA[{title}]]></title>"
            f"<url><![CDATA[{url}]]></url></bookmark>")
folders = "".join(folder(f"F{i}", f"F{i-1}" if i else "_imported", f"Level {i}") for i in range(300))
bookmarks = (bookmark("F299", "Files", "ftp://files.example/pub/")
             + bookmark("F0", "Script", "javascript:alert(1)") + bookmark("F0", "Basic", " VBScript:msgbox(1)")
             + bookmark("F0", "Padded", "data:" + " " * 2100 + "text/html,<script>alert(19)</script>")
             + bookmark("F0", "Blank", "about:blank")
             + bookmark("F0", "T" * (1024 * 1024), "https://rlo.example/\u202egpj.exe")
             + bookmark("F0", "Long", "https://long.example/" + "a" * 20000))
open(sys.argv[1], "w").write('<?xml version="1.0" encoding="UTF-8"?>\n<kesto-file><kesto-id>kesto-X</kesto-id>'
                             f"<bookmarks>{bookmarks}</bookmarks><folders>{folders}</folders></kesto-file>\n")
PY

e2e_start_kesto
e2e_close_first_run_panel 60 || fail "no first-run panel"
"$kesto" "$package" >>"$work/kesto.log" 2>&1
# Handed in, the archive asks the duplicates question File > Import asks; Return says Yes.
question="$(e2e_wait_window '^Would you like Kesto to automatically skip duplicates' 60)" ||
  fail "the archive asked nothing about duplicates"
e2e_settled
e2e_screenshot "$shots/archive-duplicates-question.png"
e2e_key "$question" Return
said="$(e2e_wait_window '^Import complete$' 60)" || fail "the flattening was not said"
e2e_settled
e2e_screenshot "$shots/archive-flattened.png"
e2e_key "$said" Return
e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the notice stayed"

stored_clean() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://rlo.example/gpj.exe'")" == 1 ]]; }
e2e_wait_until 60 stored_clean || fail "the address was not stored clean: $(e2e_sql 'select ZURL from ZBOOKMARK')"
[[ "$(e2e_sql "select length(ZTITLE) from ZBOOKMARK where ZURL = 'https://rlo.example/gpj.exe'")" -le 65536 ]] ||
  fail "the title was not cut"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZTITLE = 'Long'")" == 0 ]] || fail "an overlong address was stored"
[[ "$(e2e_sql "select count(*) from ZFOLDER where ZNAME like 'Level %'")" == 200 ]] ||
  fail "folders were not flattened: $(e2e_sql "select count(*) from ZFOLDER where ZNAME like 'Level %'")"
# The scripts stayed out, and the log counts them.
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL like '%script:%' or ZURL like 'data:%'")" == 0 ]] ||
  fail "a script was stored: $(e2e_sql "select ZTITLE from ZBOOKMARK where ZURL like '%script:%' or ZURL like 'data:%'")"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'about:blank'")" == 1 ]] || fail "about:blank was left out"
counted() { grep -q "Crafted.kesto': 3 left out" "$work/kesto.log"; }
e2e_wait_until 60 counted || fail "the left-out bookmarks were not counted"

# "Find in list" leaves the ftp bookmark alone in the list; a double click on it asks, and
# Return (the default) cancels.
xdotool windowactivate --sync "$win" >/dev/null 2>&1
e2e_click "$win" 840 45
xdotool type --delay 30 "Files"
# The match is outlined in orange; the list holds two rows, one above the other.
orange() { local r g b; read -r r g b < <(e2e_pixel 304 "$1"); (( r > 180 && g < 140 && b < 100 )); }
row_y=""
found() { orange 300 && row_y=150; orange 600 && row_y=470; [[ -n "$row_y" ]]; }
e2e_wait_until 60 found || fail "Find in list outlined nothing"
e2e_screenshot "$shots/archive-found.png"
ask() {
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  e2e_click "$win" 400 "$row_y" 1 2
  e2e_wait_window '^Open a ' 3 >/dev/null 2>&1
}
e2e_wait_until 60 ask || fail "opening an ftp: bookmark asked nothing"
question="$(e2e_wait_window '^Open a ' 60)" || fail "no question"
e2e_settled
e2e_screenshot "$shots/open-question.png"
e2e_key "$question" Return
e2e_wait_until 60 e2e_no_window '^Open a ' || fail "Return left the question open"
# Looked at once the program has dealt with the answer, and again after it ended.
e2e_caught_up "$win" || fail "kesto did not answer"
[[ ! -e "$work/opened" ]] || fail "Return started the opener: $(cat "$work/opened")"

# The same archive handed in again: with duplicates skipped, none of its bookmarks comes twice and
# none of its folders; answered No, they all do.
held="$(e2e_sql 'select count(*) from ZBOOKMARK')"
folders="$(e2e_sql 'select count(*) from ZFOLDER')"
for answer in Return "Tab space"; do
  "$kesto" "$package" >>"$work/kesto.log" 2>&1
  question="$(e2e_wait_window '^Would you like Kesto to automatically skip duplicates' 60)" ||
    fail "the archive handed in again asked nothing"
  # shellcheck disable=SC2086 # the keys, one word each
  e2e_key "$question" $answer
  said="$(e2e_wait_window '^Import complete$' 60)" || fail "the second import ended unsaid"
  e2e_key "$said" Return
  e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the notice stayed"
  if [[ "$answer" == Return ]]; then
    # The import's own account of what it skipped comes once it has ended.
    skipped() { grep -q "Crafted.kesto': 3 left out, 3 duplicates skipped" "$work/kesto.log"; }
    e2e_wait_until 60 skipped || fail "the skipped bookmarks were not counted"
    now="$(e2e_sql 'select count(*) from ZBOOKMARK')"
    [[ "$now" == "$held" ]] || fail "skipping duplicates re-added the archive: $held -> $now"
    [[ "$(e2e_sql 'select count(*) from ZFOLDER')" == "$folders" ]] || fail "skipping every bookmark left folders behind"
  else
    added_again() { now="$(e2e_sql 'select count(*) from ZBOOKMARK')"; (( now == held + 3 )); }
    e2e_wait_until 60 added_again || fail "answered No, the archive's bookmarks were not added again: $held -> $now"
  fi
done

e2e_quit_by_key
[[ ! -e "$work/opened" ]] || fail "Return started the opener: $(cat "$work/opened")"
echo "crafted archive, its duplicates question and the open question: ok"
