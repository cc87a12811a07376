#!/usr/bin/env bash
# Nothing moves or hides a bookmark in the menu-bar window without the user's choice or word, as a
# user meets it with the sample library:
# - bing.com > Edit… > Apple chosen in the Folder list > Escape; Apple locked in the main window;
#   the window again and Done: the bookmark stays in Apple, locked with it (never locked in the
#   Inbox), and comes back with Apple when the lock is removed;
# - the cards of the Kesto folder listed, then the folder locked: the window lists them no more
#   and edits none of them;
# - Firefox's button with its program gone says so, and counts no visit;
# - tray icon > search > card > Edit… > the Folder box's arrow, nothing chosen > Escape: the
#   bookmark stays in its folder.
# The store is read before and after each step; screenshots keep what the window shows.
# Usage: quickedit-unasked-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-unasked-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool trayer sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"
cleanup() { e2e_kill ${app_pid:-} ${tray_pid:-}; }

# Firefox, as the desktop knows it, with its program gone.
mkdir -p "$XDG_DATA_HOME/applications"
cat >"$XDG_DATA_HOME/applications/firefox.desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Firefox
Exec=$(e2e_exec_argument "$work/no-such-program/firefox") %u
MimeType=x-scheme-handler/http;
DESKTOP

e2e_start_tray

e2e_offline_settings
e2e_start_kesto
e2e_sample_library

# "folder|locked" of the page whose address holds $1.
place_of() { e2e_sql "select f.ZNAME || '|' || b.ZBLOCKED from ZBOOKMARK b join ZFOLDER f on f.Z_PK = b.ZFOLDER where b.ZURL like '%$1%'"; }
is_at() { [[ "$(place_of "$1")" == "$2" ]]; }
expect_at() {  # page place step
  is_at "$1" "$2" || fail "$3: $1 is at '$(place_of "$1")', not '$2'"
  echo "$3: $1 at $2"
}
expect_at bing.com "Search|0" "the sample library"
expect_at duckduckgo.com "Search|0" "the sample library"
expect_at kesto.app/help "Kesto|0" "the sample library"

# What the menu-bar window shows, by its pixels (window-relative): a card's white, the dark
# letters of an enabled Edit… and of Done.
white() { [[ "$(e2e_pixel "$1" "$2" "$menu")" == "255 255 255" ]]; }
dark() { local r g b; read -r r g b < <(e2e_pixel "$1" "$2" "$menu") && ((r < 128 && g < 128 && b < 128)); }
cards() {  # how many, 0 to 2
  case "$1" in
    0) ! white 300 180 ;;
    1) white 300 180 && ! white 300 280 ;;
    2) white 300 180 && white 300 280 ;;
  esac
}
edit_enabled() { dark 498 81; }
edit_open() { dark 498 393; }
menu_active() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$menu" ]]; }
shown() {  # how it was asked for
  menu_window
  e2e_wait_until 60 menu_active || fail "$1 left the menu-bar window inactive"
}
by_hot_key() { menu_by_hot_key; }
by_tray_icon() {
  e2e_click_tray_icon
  shown "the tray icon"
}
hide() {
  xdotool key Escape
  e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "Escape left the menu-bar window open"
}
# Search (which empties the list), the text typed, and the list waited for with its cards.
search_for() {  # text cards
  e2e_click "$menu" 42 51
  e2e_wait_until 60 cards 0 || fail "Search left cards listed"
  e2e_click "$menu" 350 51
  xdotool key ctrl+a
  xdotool type --delay 40 "$1"
  e2e_wait_until 60 cards "$2" || fail "'$1' did not list $2 card(s)"
}
first_card_edited() {
  e2e_click "$menu" 280 150
  e2e_wait_until 60 edit_enabled || fail "a click on the card left Edit… off"
  e2e_click "$menu" 510 81
  e2e_wait_until 60 edit_open || fail "Edit… opened no quick edit"
}

# bing.com > Edit… > Apple chosen in the Folder list > Escape.
by_hot_key
search_for bing 1
first_card_edited
e2e_click "$menu" 300 "$(row_y 2)"  # the folder box
before_popup
xdotool key ctrl+a
xdotool type --delay 60 "Apple"
e2e_wait_until 60 popup_shown || fail "the typed folder name opened no list"
xdotool key Down Return
e2e_wait_until 60 is_at bing.com "Apple|0" || fail "choosing Apple left bing.com at '$(place_of bing.com)'"
expect_at bing.com "Apple|0" "Apple chosen"
hide
# Apple locked in the main window; bing.com is locked with it, where it is.
make_password 290
set_lock Apple 290 1
e2e_wait_until 60 is_at bing.com "Apple|1" || fail "the lock left bing.com at '$(place_of bing.com)'"
expect_at bing.com "Apple|1" "Apple locked"
# The window again, and Done where it was: the lock ended the edit, the list shows nothing locked.
by_hot_key
e2e_wait_until 60 cards 0 || fail "the window still lists the locked bing.com"
edit_open && fail "the quick edit still shows the locked bing.com"
e2e_screenshot "$shots/after-the-lock.png" "$menu"
done_button
# Keys typed after the click are handled after it: once they have listed their card, the click
# has had its effect.
search_for duckduckgo 1
expect_at bing.com "Apple|1" "Done after the lock"

# The Kesto folder's two cards listed, then the folder locked: listed no more, edited never.
search_for kesto.app 2
hide
set_lock Kesto 330 1
expect_at kesto.app/help "Kesto|1" "Kesto locked"
by_hot_key
e2e_wait_until 60 cards 0 || fail "the window still lists the locked Kesto cards"
e2e_screenshot "$shots/locked-cards-gone.png" "$menu"
e2e_click "$menu" 280 150  # where the first card was
e2e_click "$menu" 510 81   # Edit…
done_button
search_for duckduckgo 1
edit_open && fail "a locked card was edited"
expect_at kesto.app/help "Kesto|1" "Edit… and Done after the lock"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on f.Z_PK = b.ZFOLDER
  where f.ZNAME = 'Kesto' and b.ZBLOCKED = 1")" == 2 ]] || fail "the Kesto bookmarks left their locked folder"

# Firefox's button with the program gone: told by name, no visit counted.
e2e_click "$menu" 280 150
e2e_wait_until 60 edit_enabled || fail "a click on the card left Edit… off"
e2e_click "$menu" 114 81  # Firefox
told="$(e2e_wait_window '^Firefox did not start$' 60 "$app_pid")" || fail "nothing said that Firefox did not start"
e2e_screenshot "$shots/firefox-did-not-start.png"
e2e_key "$told" Return
e2e_wait_until 60 e2e_no_window '^Firefox did not start$' || fail "Return left the message open"
[[ "$(e2e_sql "select ZTIMESOPENED from ZBOOKMARK where ZURL like '%duckduckgo%'")" == 0 ]] ||
  fail "a browser that did not start counted a visit"
# The menu-bar window, which lost the keys to the message, hides by itself, unless it got them
# back when the message went: then Escape hides it.
hidden_or_keyed() { e2e_no_window '^Kesto Bookmarks$' || menu_has_keys; }
e2e_wait_until 60 hidden_or_keyed || fail "the menu-bar window stayed without the keys after the message"
menu_shows && hide

# Tray icon > search > card > Edit… > the Folder box's arrow, nothing chosen > Escape.
by_tray_icon
search_for duckduckgo 1
first_card_edited
expect_at duckduckgo.com "Search|0" "the quick edit opened"
before_popup
e2e_click "$menu" 532 "$(row_y 2)"  # the folder box's arrow
e2e_wait_until 60 popup_shown || fail "the folder box's arrow opened no list"
e2e_screenshot "$shots/folder-list-open.png"
expect_at duckduckgo.com "Search|0" "the Folder list opened"
xdotool key Escape
popup_gone() { ! popup_shown; }
e2e_wait_until 60 popup_gone || fail "Escape left the folder list open"
e2e_screenshot "$shots/folder-list-closed.png" "$menu"
expect_at duckduckgo.com "Search|0" "Escape, nothing chosen"

# The lock on Apple removed: bing.com is back, in Apple.
hide
set_lock Apple 290 0
e2e_wait_until 60 is_at bing.com "Apple|0" || fail "unlocking Apple left bing.com at '$(place_of bing.com)'"
expect_at bing.com "Apple|0" "Apple unlocked"
e2e_quit_by_key
expect_at duckduckgo.com "Search|0" "after quitting"
echo "quick edit moves and hides nothing unasked: ok"
