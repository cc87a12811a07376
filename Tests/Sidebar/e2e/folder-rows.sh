# Shared by the folder list's end-to-end scripts (sourced after lib.sh and e2e_app_script).

# Starts the program on an empty library and takes the first start's sample library, whose
# folders are the rows below.
e2e_start_on_sample_library() {
  e2e_offline_settings
  e2e_start_kesto
  e2e_sample_library
  e2e_wait_until 60 rows_shown || fail "the folder list did not show the sample folders"
}

# Rows of the folder list, window-relative: the first start brings the Apple, Search and Kesto
# folders after the fixed rows.
row_x=80
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search, 7 Kesto, 8 next
# "white" (or nearly) or "colour": the pixel at x $1, y $2 of the window; fails unread.
shade_at() {
  local r g b
  read -r r g b < <(e2e_pixel "$1" "$2" "$win") && [[ -n "$b" ]] || return 1
  ((r > 235 && g > 235 && b > 235)) && echo white || echo colour
}
# Whether the list shows its rows: the icon of the last sample folder (Kesto) is drawn.
rows_shown() { [[ "$(shade_at 52 "$(row_y 7)")" == colour ]]; }
# Whether row $1 is selected: its highlight fills the row's left end.
row_selected() { [[ "$(shade_at 10 "$(row_y "$1")")" == colour ]]; }
# Whether the name editor is open on row $1: the row is selected and the editor's white field
# covers its middle (a selected row without the editor is highlighted there too).
editor_open() { row_selected "$1" && [[ "$(shade_at 160 "$(row_y "$1")")" == white ]]; }
# Clicks row $1 and waits until the list has selected it.
click_row() {
  e2e_click "$win" "$row_x" "$(row_y "$1")"
  e2e_wait_until 60 row_selected "$1" || fail "a click did not select row $1"
}
# Keys to a window, going on once the program has handled them.
keys() {
  local w="$1"
  shift
  xdotool windowactivate --sync "$w" >/dev/null 2>&1
  xdotool key --delay 60 "$@"
  e2e_caught_up "$w" || fail "kesto did not answer"
}

# A fresh start on a library that took in one import: 200 bookmarks in eight folders (Recipes
# first) of the file's Bookmarks folder, all three levels closed under the Imported row (row 4).
# Sets $file_folder, $marks_folder and $recipes to their identifiers.
e2e_start_after_import() {
  local html="$work/bookmarks.html"
  python3 - "$html" <<'PY'
import sys
out = ['<!DOCTYPE NETSCAPE-Bookmark-file-1>', '<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">',
       '<TITLE>Bookmarks</TITLE>', '<H1>Bookmarks</H1>', '<DL><p>']
for name in ["Recipes", "Garden", "Work", "News", "Music", "Sports", "Tools", "Reading"]:
    out += [f'<DT><H3>{name}</H3>', '<DL><p>']
    out += [f'<DT><A HREF="https://{name.lower()}-{i}.example/" ADD_DATE="1733500800">{name} {i}</A>' for i in range(25)]
    out.append('</DL><p>')
out.append('</DL>')
open(sys.argv[1], 'w').write('\n'.join(out) + '\n')
PY
  e2e_offline_settings
  e2e_start_kesto
  e2e_close_first_run_panel 60 || fail "no first-run panel"
  e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "the first-run panel stayed"
  e2e_import_file "$html"
  imported_all() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 200 ]]; }
  e2e_wait_until 60 imported_all || fail "the import did not arrive: $(e2e_sql 'select count(*) from ZBOOKMARK')"
  file_folder="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZPARENTFOLDERID='_imported';")"
  marks_folder="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZPARENTFOLDERID='$file_folder' and ZNAME='Bookmarks';")"
  recipes="$(e2e_sql "select ZFOLDERID from ZFOLDER where ZPARENTFOLDERID='$marks_folder' and ZNAME='Recipes';")"
  [[ -n "$file_folder" && -n "$marks_folder" && -n "$recipes" ]] ||
    fail "the import did not file Recipes in Imported > the file's folder > Bookmarks: $(e2e_sql 'select ZNAME, ZPARENTFOLDERID from ZFOLDER;')"
  e2e_quit_kesto
  [[ "$(e2e_sql 'select count(*) from ZFOLDER where ZISEXPANDED > 0;')" == 0 ]] || fail "a folder is stored open after the import"
  e2e_start_kesto
  imported_row_shown() { [[ "$(shade_at 52 "$(row_y 4)")" == colour ]]; }
  e2e_wait_until 60 imported_row_shown || fail "the folder list did not show the Imported row"
  e2e_caught_up "$win" || fail "kesto did not answer"
}
