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
