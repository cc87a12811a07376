#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: Ctrl+F and a typed word narrow the list to the
# matching bookmarks, a click selects one, a tag typed into the inspector's tag field is stored
# at once, and after Ctrl+Q the store holds the tag on that bookmark. Leaves screenshots of the
# search and of both inspector tabs. Usage: search-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
count() { e2e_sql "select count(*) from ZBOOKMARK where ZURL like '%$1%'"; }

e2e_marks_on
e2e_start_kesto
"$kesto" --add-text $'https://alpha-one.example/\nhttps://beta.example/\nhttps://alpha-two.example/' \
  >>"$work/kesto.log" 2>&1 || fail "hand-over launch failed"
added() { [[ "$(count .example/)" == 3 ]]; }
e2e_wait_until 60 added || fail "the handed-over addresses were not stored"
e2e_wait_until 60 e2e_list_drawn 0 3 || fail "the list did not show the three bookmarks"

eval "$(xdotool getwindowgeometry --shell "$win")"  # WIDTH, HEIGHT
# Ctrl+F puts the keyboard in the library search field; the list narrows to the two found.
typed="$(e2e_marks_count)"
e2e_key "$win" ctrl+f
xdotool type --delay 80 "alpha"
e2e_wait_until 60 e2e_list_drawn "$typed" 2 || fail "the search did not narrow the list to the two found"
e2e_screenshot "$shots/search-alpha.png" "$win"

# The first row of the narrowed list, then the inspector's tag field (edit tab, right pane), once
# the program has taken the click in: the inspector shows the row's bookmark.
e2e_click "$win" 400 110
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/inspector-edit.png" "$win"
inspector_x=$((WIDTH - 210))  # the inspector opens at its least width
e2e_click "$win" $((inspector_x + 100)) 281
xdotool type --delay 60 "e2etag"
e2e_key "$win" Return
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/inspector-tagged.png" "$win"
# A click on the fourth place of the rating stores four stars.
e2e_click "$win" $((inspector_x + 12 + 70)) 339
# The info tab.
e2e_click "$win" $((inspector_x + 85)) 91
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/inspector-info.png" "$win"

e2e_quit_by_key

# The join table's columns are named after the entities' numbers: find them.
cols=($(e2e_sql "select name from pragma_table_info('Z_1TAGS')"))
[[ "${cols[0]}" == *BOOKMARKS ]] || cols=("${cols[1]}" "${cols[0]}")
tagged="$(sqlite3 -cmd '.timeout 10000' "$store" "select b.ZURL from ZBOOKMARK b join Z_1TAGS j on j.${cols[0]} = b.Z_PK
  join ZTAG t on t.Z_PK = j.${cols[1]} where t.ZNAME = 'e2etag'" 2>&1)"
[[ "$tagged" == https://alpha-* ]] || fail "the tag is not stored on a found bookmark: '$tagged' ($(e2e_sql .tables))"
rating="$(e2e_sql "select ZRATING from ZBOOKMARK where ZURL = '$tagged'")"
[[ "$rating" == 4* ]] || fail "the rating clicked is not stored: '$rating'"
echo "ok: tagged and rated $tagged"
