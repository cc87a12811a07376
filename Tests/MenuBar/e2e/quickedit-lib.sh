# Shared by the menu-bar quick edit's end-to-end scripts (sourced after lib.sh and e2e_app_script).

# Says why the test failed, with a screenshot and the end of the program's log.
fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "$shots/failure.png"
  tail -n 60 "$work/kesto.log" >&2 2>/dev/null
  exit 1
}
menu_window() { menu="$(e2e_wait_window '^Kesto Bookmarks$' 10 "$app_pid")" || fail "no menu-bar window"; }
row_y() { echo $((100 + 8 + 13 + 34 * $1)); }  # the quick edit's rows, top down from 0
done_button() { e2e_click "$menu" 498 "$(row_y 8)"; }
# The menu-bar window (the hot key shows it when hidden) with the pages found by the text and the
# first card selected.
find_card() {  # text
  e2e_no_window '^Kesto Bookmarks$' && e2e_key "$win" super+alt+ctrl+p
  menu_window
  sleep 0.4
  e2e_click "$menu" 42 51  # Search
  sleep 0.3
  e2e_click "$menu" 350 51  # the search field
  xdotool key ctrl+a
  xdotool type --delay 40 "$1"
  sleep 0.6
  e2e_click "$menu" 280 150  # the first card
  sleep 0.5
}
# The same, and the card's quick edit opened.
edit_card() {  # text
  find_card "$1"
  e2e_click "$menu" 510 81  # Edit…
  sleep 0.5
}
