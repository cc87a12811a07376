# Shared by the end-to-end scripts that open a bookmark found by a search, in the library window
# ($win) and in the menu-bar window ($menu). Sourced after lib.sh and e2e_app_script.

# The library window's list narrowed by a search to the one bookmark the text finds, whose card
# then lies at (600, 220). In the extended mode the second card covers (600, 560); alone, the
# first leaves it grey.
second_card() { local r g b; read -r r g b < <(e2e_pixel 600 560 "$win"); (( r > 245 && g > 245 && b > 245 )); }
narrowed() { ! second_card; }
search_library() {  # text
  e2e_wait_until 60 second_card || fail "the list did not show the bookmarks"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  e2e_click "$win" 560 44
  xdotool type --delay 30 "$1"
  e2e_wait_until 60 narrowed || fail "the search did not narrow the list"
}

# The menu-bar window's Search tab lists nothing until something is typed; then the cards found,
# the first at (280, 150). Answers whether a card shows.
card_shown() { local r g b; read -r r g b < <(e2e_pixel 280 150 "$menu"); (( r > 245 && g > 245 && b > 245 )); }
search_in_menu() {  # text
  e2e_click "$menu" 42 51  # Search
  e2e_click "$menu" 350 51
  xdotool key ctrl+a
  xdotool type --delay 40 "$1"
  e2e_wait_until 5 card_shown
}
