# Shared by the folder list's end-to-end scripts (sourced after lib.sh and e2e_app_script).

# Starts the program on an empty library and takes the first start's sample library, whose
# folders are the rows below.
e2e_start_on_sample_library() {
  e2e_offline_settings
  e2e_start_kesto
  e2e_sample_library
  sleep 2
}

# Rows of the folder list, window-relative: the first start brings the Apple, Search and Kesto
# folders after the fixed rows.
row_x=80
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search, 7 Kesto, 8 next
click_row() { e2e_click "$win" "$row_x" "$(row_y "$1")"; sleep 0.4; }
keys() { xdotool windowactivate --sync "$1" >/dev/null 2>&1; shift; xdotool key --delay 60 "$@"; sleep 0.5; }
