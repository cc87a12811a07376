#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: Ctrl+, opens the preferences panel, a click on
# the Bookmarks pane chooses the folder order by title, Escape closes the panel and the choice is
# in defaults.plist; "Open bookmarks with" lists the browser installed here (a desktop entry),
# choosing it stores its desktop entry id, and once it is gone the panel says so; Help > Check for Updates against a loopback update host announces a newer
# version. Leaves screenshots of both panels. Usage: prefs-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool python3

# The update host: a newer version for any system.
e2e_update_host "999#109"
# A browser installed for this user only, as a desktop entry that handles web pages.
mkdir -p "$XDG_DATA_HOME/applications"
browser_entry="$XDG_DATA_HOME/applications/ferret-browser.desktop"
printf '[Desktop Entry]\nType=Application\nName=Ferret Browser\nIcon=web-browser\nExec=/bin/true %%u\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n' >"$browser_entry"

e2e_start_kesto
# The library is empty: its first-run panel comes first and would take the keys meant for the menus.
e2e_close_first_run_panel 60 || fail "no first-run panel for the empty library"
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "the first-run panel stayed"

e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "Ctrl+, opened no preferences panel"
e2e_settled
e2e_screenshot "$shots/preferences-general.png" "$prefs"
# The browser list: the default, then the browser found; the second entry is chosen. The keys go
# to the list only once its popup shows (one more visible window of the program); a click that
# opened nothing in time is made again.
windows() { xdotool search --all --onlyvisible --pid "$app_pid" '' 2>/dev/null | wc -l; }
more_windows() { (( $(windows) > $1 )); }
choose_browser() {
  local before
  before="$(windows)"
  xdotool windowactivate --sync "$prefs" >/dev/null 2>&1
  e2e_click "$prefs" 300 117
  e2e_wait_until 3 more_windows "$before" || return 1
  [[ -e "$shots/preferences-browsers.png" ]] || e2e_screenshot "$shots/preferences-browsers.png"
  e2e_key "$prefs" Down Return
  e2e_wait_until 3 e2e_setting_is favoriteBrowser ferret-browser.desktop
}
rm -f "$shots/preferences-browsers.png"
e2e_wait_until 60 choose_browser || fail "choosing the installed browser did not store its desktop entry id"
e2e_key "$prefs" Escape
e2e_wait_until 60 e2e_no_window '^Preferences$' || fail "Escape left the preferences panel open"
# Uninstalled since: the panel names it as no longer installed and keeps the choice.
rm -f "$browser_entry"
e2e_key "$win" ctrl+comma
prefs="$(e2e_wait_window '^Preferences$' 60)" || fail "Ctrl+, opened no preferences panel a second time"
e2e_settled
e2e_screenshot "$shots/preferences-browser-gone.png" "$prefs"
# The fourth of six panes, then the first folder order ("By title"). A busy program may show the
# pane after the click on its control, so both clicks repeat (each is harmless again) until saved.
choose_by_title() {
  xdotool windowactivate --sync "$prefs" >/dev/null 2>&1
  e2e_click "$prefs" 358 20
  e2e_click "$prefs" 345 99
  e2e_wait_until 1 e2e_setting_is sortFoldersAlfabetically True
}
e2e_wait_until 60 choose_by_title || fail "choosing By title was not saved"
e2e_setting_is sortFoldersByDateDescending False || fail "the other folder orders were not cleared"
# Read in the file written after the panel showed: a change the showing made is in it too.
e2e_setting_is favoriteBrowser ferret-browser.desktop || fail "showing the panel changed the stored browser"
e2e_screenshot "$shots/preferences-bookmarks.png" "$prefs"
e2e_click "$prefs" 552 20
e2e_settled
e2e_screenshot "$shots/preferences-services.png" "$prefs"
e2e_key "$prefs" Escape
e2e_wait_until 60 e2e_no_window '^Preferences$' || fail "Escape left the preferences panel open"
# Saved in full, with the first-run values of what was not touched.
e2e_setting_is CheckDuplicates True || fail "a save did not write the other preferences"
e2e_setting_is useAutoSync True || fail "a save did not write the automatic sync default"

# Check for Updates is just above About Kesto, the Help menu's last item: Up from the first
# wraps to About, and once more reaches it.
# The keys go to the menu only once it shows, and start again from a closed menu when a loaded
# machine lost them.
check_for_updates() {
  local before
  before="$(windows)"
  e2e_key "$win" alt+h
  e2e_wait_until 5 more_windows "$before" || { e2e_key "$win" Escape; return 1; }
  e2e_key "$win" Up Up Return
  e2e_wait_window '^Kesto Updater$' 5 "$app_pid" >/dev/null 2>&1 && return
  e2e_key "$win" Escape Escape
  return 1
}
e2e_wait_until 60 check_for_updates || fail "Help > Check for Updates showed nothing"
updater="$(e2e_wait_window '^Kesto Updater$' 60 "$app_pid")" || fail "Help > Check for Updates showed nothing"
e2e_settled
e2e_screenshot "$shots/update-available.png" "$updater"
grep -q "GET /update/update.txt" "$work/site.log" || fail "the update host was not asked"
# Escape again while a panel of that name shows: a busy program may take the first key before
# the panel can.
close_updater() {
  local shown
  shown="$(xdotool search --onlyvisible --name '^Kesto Updater$' 2>/dev/null | head -n1)"
  [[ -z "$shown" ]] && return 0
  e2e_key "$shown" Escape
  e2e_wait_until 2 e2e_no_window '^Kesto Updater$'
}
e2e_wait_until 60 close_updater || fail "Escape left the update panel open"

e2e_quit_by_key
echo "preferences and update check: ok"
