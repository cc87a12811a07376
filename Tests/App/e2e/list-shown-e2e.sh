#!/usr/bin/env bash
# The list the real kesto program shows follows the library, driven inside xvfb-session.sh over
# the sample library: a search typed with Ctrl+F ends when the Library row is chosen (its field and
# count are emptied over the whole list), and an archive of the folder shown whose every bookmark
# is skipped as a duplicate leaves that folder's list filled. What the window shows is read from
# screenshots: dark pixels of text in the search field, its count and the first row of the list.
# Usage: list-shown-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple

# Counts the dark (text) pixels of each window-relative box given, in a screenshot of the window:
# the search field, the count beside it, the first row of the list.
boxes=(field 440 36 712 54 count 880 34 1030 56 list 540 115 930 135)
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
package="$work/Apple.kesto"
mkdir -p "$package/Contents"
e2e_sql "select ZURL from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where f.ZNAME = 'Apple'" >"$work/apple-urls"
[[ "$(wc -l <"$work/apple-urls")" -ge 1 ]] || fail "the Apple folder holds nothing"
python3 - "$package/Contents/kesto.xml" "$work/apple-urls" <<'PY'
import sys
urls = open(sys.argv[2]).read().split()
marks = "".join(f"<bookmark><folders><folder-id>F0</folder-id></folders><title><![CDATA[Again]]></title>"
                f"<url><![CDATA[{u}]]></url></bookmark>" for u in urls)
open(sys.argv[1], "w").write('<?xml version="1.0" encoding="UTF-8"?>\n<kesto-file><kesto-id>kesto-X</kesto-id>'
                             f"<bookmarks>{marks}</bookmarks><folders><folder><folderID>F0</folderID>"
                             "<parentFolderID>_imported</parentFolderID><name><![CDATA[Apple]]></name></folder>"
                             "</folders></kesto-file>\n")
PY
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

e2e_quit_by_key
echo "the list shown follows the library: ok"
