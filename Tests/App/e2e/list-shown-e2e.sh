#!/usr/bin/env bash
# The list the real kesto program shows follows the library, driven inside xvfb-session.sh over
# the sample library: a search typed with Ctrl+F ends when the Library row is chosen (its field and
# count are emptied over the whole list), and an archive of the folder shown whose every bookmark
# is skipped as a duplicate leaves that folder's list filled. While a search is on, a reload keeps
# the list showing what the field and its count say: an archive imported with File > Import or
# handed over by a second launch, every bookmark skipped, and Update from Web (the toolbar's
# button and the context menu's) in a History list; a click on the row already shown ends the
# search. What the window shows is read from screenshots: dark pixels of text in the search
# field, its count and the first and second rows of the list.
# Usage: list-shown-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search

# Counts the dark (text) pixels of each window-relative box given, in a screenshot of the window:
# the search field, the count beside it, the first row of the list.
boxes=(field 440 36 712 54 count 880 34 1030 56 list 540 115 930 135 second 540 431 930 451)
look() {
  e2e_screenshot "$work/look.png" "$win" >/dev/null 2>&1 || return 1
  python3 - "$work/look.png" "${boxes[@]}" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
pos, idat, width = 8, b"", 0
while pos < len(data):  # as screenshot.py writes it: RGB rows, each without a filter
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + size]
    if kind == b"IHDR":
        width = struct.unpack(">I", body[:4])[0]
    elif kind == b"IDAT":
        idat += body
    pos += 12 + size
raw, stride = zlib.decompress(idat), 1 + 3 * width
args = sys.argv[2:]
for i in range(0, len(args), 5):
    name, x0, y0, x1, y1 = args[i], *map(int, args[i + 1:i + 5])
    dark = sum(max(raw[y * stride + 1 + 3 * x:y * stride + 4 + 3 * x]) < 90 for y in range(y0, y1) for x in range(x0, x1))
    print(f"{name}={dark}", end=" ")
print()
PY
}
# Whether the look finds text in the boxes named with +, and none in those named with -.
shows() {  # +field -count ...
  local seen want name n
  seen="$(look)" || return 1
  for want in "$@"; do
    name="${want:1}"
    n="$(sed -n "s/.*\b$name=\([0-9]*\).*/\1/p" <<<"$seen")"
    [[ -n "$n" ]] || return 1
    if [[ "${want:0:1}" == + ]]; then ((n > 0)) || return 1; else ((n == 0)) || return 1; fi
  done
}

e2e_offline_settings
# The marks tell when the list was reloaded and drawn after a page update.
marks="$work/marks.log"
export KESTO_TIMING_LOG="$marks"
e2e_start_kesto
e2e_sample_library
e2e_wait_until 60 shows +list || fail "the sample library was not shown: $(look)"

# A search shows its words and its count; choosing the Library row ends it over the whole list.
e2e_key "$win" ctrl+f
xdotool type --delay 80 "9to5"
e2e_wait_until 60 shows +field +count +list || fail "the search showed no count: $(look)"
e2e_screenshot "$shots/searched.png" "$win"
e2e_click "$win" 80 "$(row_y 0)"
e2e_wait_until 60 shows -field -count +list || fail "the Library row kept the search: $(look)"
e2e_screenshot "$shots/library-chosen.png" "$win"

# Searched again, then the Apple folder chosen: its list is shown, with the search ended.
e2e_key "$win" ctrl+f
xdotool type --delay 80 "9to5"
e2e_wait_until 60 shows +field +count || fail "the second search showed no count: $(look)"
e2e_click "$win" 80 "$(row_y 5)"
e2e_wait_until 60 shows -field -count +list || fail "the Apple folder kept the search: $(look)"

# An archive of the Apple folder's own addresses, handed in and answered Yes (skip duplicates):
# nothing comes in, and the folder's list is still there afterwards.
# Writes $work/NAME.kesto, a shared-folder archive of the folder NAME's own addresses, and prints its path.
archive_of() {  # name
  local package="$work/$1.kesto"
  mkdir -p "$package/Contents"
  e2e_sql "select ZURL from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where f.ZNAME = '$1'" >"$work/$1-urls"
  [[ "$(wc -l <"$work/$1-urls")" -ge 1 ]] || return 1
  python3 - "$package/Contents/kesto.xml" "$work/$1-urls" "$1" <<'PY'
import sys
urls = open(sys.argv[2]).read().split()
marks = "".join(f"<bookmark><folders><folder-id>F0</folder-id></folders><title><![CDATA[Again]]></title>"
                f"<url><![CDATA[{u}]]></url></bookmark>" for u in urls)
open(sys.argv[1], "w").write('<?xml version="1.0" encoding="UTF-8"?>\n<kesto-file>'
                             f"<kesto-id>kesto-{sys.argv[3]}</kesto-id><bookmarks>{marks}</bookmarks>"
                             "<folders><folder><folderID>F0</folderID>"
                             f"<parentFolderID>_imported</parentFolderID><name><![CDATA[{sys.argv[3]}]]></name></folder>"
                             "</folders></kesto-file>\n")
PY
  echo "$package"
}
package="$(archive_of Apple)" || fail "the Apple folder holds nothing"
held="$(e2e_sql 'select count(*) from ZBOOKMARK')"
"$kesto" "$package" >>"$work/kesto.log" 2>&1
question="$(e2e_wait_window '^Would you like Kesto to automatically skip duplicates' 60)" || fail "no duplicates question"
e2e_key "$question" Return
said="$(e2e_wait_window '^Import complete$' 60)" || fail "the import ended unsaid"
e2e_key "$said" Return
e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the notice stayed"
[[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == "$held" ]] || fail "skipping every duplicate still added bookmarks"
# The import emptied the list for its reload before it said it had ended.
e2e_wait_until 60 shows +list || fail "the Apple folder's list is empty after the import: $(look)"
e2e_screenshot "$shots/archive-skipped.png" "$win"

# Answers the duplicates question and the notice of an import that skipped everything.
skipped_import() {
  local said
  said="$(e2e_wait_window '^Import complete$' 60)" || fail "the import ended unsaid"
  e2e_key "$said" Return
  e2e_wait_until 60 e2e_no_window '^Import complete$' || fail "the notice stayed"
  [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == "$held" ]] || fail "skipping every duplicate still added bookmarks"
}
package="$(archive_of Search)" || fail "the Search folder holds nothing"

# The Search folder shown, "bing" searched (one match), File > Import of the archive, Yes to skip
# duplicates: the match is still listed under the field and its count.
e2e_click "$win" 80 "$(row_y 6)"
e2e_wait_until 60 shows +list +second || fail "the Search folder's list was not shown: $(look)"
e2e_key "$win" ctrl+f
xdotool type --delay 80 "bing"
e2e_wait_until 60 shows +field +count +list -second || fail "the search showed not one match: $(look)"
e2e_import_file "$package"
skipped_import
e2e_wait_until 60 shows +field +count +list -second || fail "the import left the list unlike its search: $(look)"
e2e_screenshot "$shots/search-import-skipped.png" "$win"

# A click on the Search row, shown already, ends the search over the folder's whole list.
e2e_click "$win" 80 "$(row_y 6)"
e2e_wait_until 60 shows -field -count +list +second || fail "the row shown kept the search: $(look)"
e2e_screenshot "$shots/search-row-clicked.png" "$win"

# The Library shown, "duck" searched, the archive handed over by a second launch.
e2e_click "$win" 80 "$(row_y 0)"
e2e_key "$win" ctrl+f
xdotool type --delay 80 "duck"
e2e_wait_until 60 shows +field +count +list -second || fail "the search showed not one match: $(look)"
"$kesto" "$package" >>"$work/kesto.log" 2>&1
question="$(e2e_wait_window '^Would you like Kesto to automatically skip duplicates' 60)" || fail "no duplicates question"
e2e_key "$question" Return
skipped_import
e2e_wait_until 60 shows +field +count +list -second || fail "the hand-over left the list unlike its search: $(look)"
e2e_screenshot "$shots/search-handed-over.png" "$win"

# History > Modified Today (every bookmark), "bing" searched and its match chosen; Update from
# Web from the toolbar and then from the context menu. Each update is waited for in the store,
# then for the list reloaded and drawn after it: the list still shows the one match.
e2e_click "$win" 90 87
e2e_click "$win" 90 172
e2e_wait_until 60 shows -field +list +second || fail "Modified Today was not shown: $(look)"
e2e_key "$win" ctrl+f
xdotool type --delay 80 "bing"
e2e_wait_until 60 shows +field +count +list -second || fail "the History search showed not one match: $(look)"
e2e_click "$win" 500 150
# The click chooses the match a moment after it: the toolbar's button acts on what is chosen.
e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the match chose nothing"
updated() { e2e_sql "select ZUPDATEDDATE from ZBOOKMARK where ZURL like '%bing%'"; }
# Whether the bookmark was updated since $1, and the list reloaded and drawn since then.
settled() {
  [[ "$(updated)" != "$1" ]] || return 1
  awk -v from="$2" 'NR > from && / list-reload / { r = NR } NR > from && r && / frame Kesto$/ { f = NR } END { exit !(r && f > r) }' "$marks"
}
for how in toolbar menu; do
  before="$(updated)" from="$(wc -l <"$marks")"
  if [[ "$how" == toolbar ]]; then
    e2e_click "$win" 348 45
  else
    e2e_popup_after e2e_click "$win" 500 150 3 || fail "a right click on the match showed no menu"
    xdotool key Up Up Return  # Update from Web, second from the menu's end
  fi
  e2e_wait_until 60 settled "$before" "$from" || fail "Update from Web ($how) was not stored and shown"
  e2e_wait_until 60 shows +field +count +list -second || fail "Update from Web ($how) left the list unlike its search: $(look)"
  e2e_screenshot "$shots/history-updated-$how.png" "$win"
done
# Another row of the list ends the search over that row's list.
e2e_click "$win" 90 152
e2e_wait_until 60 shows -field -count +list +second || fail "Added Today kept the search: $(look)"

e2e_quit_by_key
echo "the list shown follows the library: ok"
