#!/usr/bin/env bash
# A browser that does not start is no visit, and is told of. Two browsers are installed by their
# desktop entries, and no other is seen: Firefox, whose program is missing, and Google Chrome, a
# stand-in that writes what it is given. The sample page duckduckgo.com is opened with each, from
# the library window's Open With menu and from the menu-bar window's browser buttons: Firefox
# says "Firefox did not start" and leaves the page's times opened and last-opened date as they
# were, Chrome gets the page and counts one visit each time. Usage:
# openwith-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/openwith-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/card-search.sh"

e2e_recording_program google-chrome
# The browsers the machine has installed stay out of the menu: its shared data without its
# desktop entries (icons and the rest stay).
export XDG_DATA_DIRS="$work/system-data"
mkdir -p "$XDG_DATA_DIRS" "$XDG_DATA_HOME/applications"
for data in /usr/share/*; do
  [[ "$data" == */applications ]] || ln -sfn "$data" "$XDG_DATA_DIRS/"
done
entry() {  # file name program
  printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s %%U\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n' \
    "$2" "$3" >"$XDG_DATA_HOME/applications/$1"
}
entry firefox.desktop Firefox kesto-e2e-no-such-browser
entry google-chrome.desktop "Google Chrome" google-chrome
: >"$work/google-chrome.log"

e2e_offline_settings
e2e_start_kesto
e2e_sample_library

page="https://duckduckgo.com/"
visit() { e2e_sql "select ZTIMESOPENED || '|' || ifnull(ZLASTOPENED, '') from ZBOOKMARK where ZURL = '$page'"; }
[[ "$(visit)" == "0|" ]] || fail "the page starts as '$(visit)'"
chrome_got() { [[ "$(grep -cx "$page" "$work/google-chrome.log")" == "$1" ]]; }
counted() { [[ "$(visit)" == "$1"\|?* ]]; }

# The library window: the search leaves the page alone in the list; its card is selected and its
# context menu's Open With offers both browsers (by name: Firefox, then Google Chrome).
search_library duckduckgo
open_with() {  # Down presses in the Open With menu
  e2e_click "$win" 600 220
  e2e_caught_up "$win" || fail "kesto did not answer"
  e2e_popup_after e2e_click "$win" 600 220 3 || fail "a right click showed no context menu"
  xdotool key --delay 120 Down Down
  e2e_popup_after xdotool key Right || fail "Open With showed no browsers"
  e2e_screenshot "$shots/open-with-$1.png"
  [[ "$1" == 0 ]] || xdotool key --delay 120 Down
  xdotool key Return
}
# Firefox says it did not start (closed with Return), then Google Chrome: once Chrome has the page,
# Firefox's turn is long over, and only Chrome's launch is counted.
firefox_told() {  # where
  local told
  told="$(e2e_wait_window '^Firefox did not start$' 60 "$app_pid")" || fail "$1: nothing said that Firefox did not start"
  e2e_screenshot "$shots/firefox-did-not-start-$2.png"
  e2e_key "$told" Return
  e2e_wait_until 60 e2e_no_window '^Firefox did not start$' || fail "Return left the message open"
}
open_with 0  # Firefox
firefox_told "Open With Firefox" library
open_with 1  # Google Chrome
e2e_wait_until 60 chrome_got 1 || fail "Open With Google Chrome opened nothing: $(cat "$work/google-chrome.log")"
e2e_wait_until 60 counted 1 || fail "Open With Firefox, which did not start, and Google Chrome counted '$(visit)', not one visit"

# The menu-bar window's Firefox and Chrome buttons.
e2e_key "$win" super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "no menu-bar window"
e2e_wait_until 60 search_in_menu duckduckgo || fail "the search in the menu-bar window showed no card"
e2e_click "$menu" 280 150
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_screenshot "$shots/menu-bar-buttons.png" "$menu"
e2e_click "$menu" 114 81  # Firefox
firefox_told "The Firefox button" menu-bar
# The message took the keys from the menu-bar window, which hid: shown again, with its card.
e2e_no_window '^Kesto Bookmarks$' || e2e_key "$menu" Escape
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$' || fail "the menu-bar window stays"
e2e_key "$win" super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "no menu-bar window"
e2e_wait_until 60 search_in_menu duckduckgo || fail "the search in the menu-bar window showed no card"
e2e_click "$menu" 280 150
e2e_caught_up "$menu" || fail "kesto did not answer"
e2e_click "$menu" 202 81  # Chrome
e2e_wait_until 60 chrome_got 2 || fail "the Chrome button opened nothing: $(cat "$work/google-chrome.log")"
e2e_wait_until 60 counted 2 || fail "the Firefox button, whose browser did not start, and the Chrome button counted '$(visit)', not one more visit"
e2e_quit_by_key
# Read again once the program has ended: two visits, Chrome's, and nothing counted later.
counted 2 || fail "the two browsers' buttons and menus counted '$(visit)' in the end, not two visits"
echo "open with a browser that does not start: ok"
