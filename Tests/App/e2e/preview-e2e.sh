#!/usr/bin/env bash
# Quick Look, e-mail, sharing, the hidden inspector and the first-use popovers of the real kesto
# program inside xvfb-session.sh: two bookmarks made with the add sheet; the space bar shows the
# preview of the selected one, an arrow in the preview moves the selection and the preview
# follows, Ctrl+Y and Escape show and close it; the context menu's "Email links" hands a strictly
# encoded mailto address to the mail program (a logging stand-in for xdg-email) and "Share >
# Copy" puts the link on the clipboard; Ctrl+Alt+I hides the inspector, which stays hidden after
# a restart; the Inbox row and a compact row open their tutorials, and "Got it" keeps them away.
# Usage: preview-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip python3

# The mail program and the browser are stand-ins that write down what they were given.
e2e_recording_program xdg-email
e2e_recording_program xdg-open

e2e_offline_settings --tutorials
e2e_marks_on

keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 100 "$@"; }
focused_keys() { xdotool key --delay 100 "$@"; }
start() { e2e_start_kesto; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
hidden() { ! visible "$1"; }

start
# Two bookmarks from the add sheet, each with a title (the preview's window is named after it).
add_bookmark() {
  keys ctrl+n
  e2e_focus_window '^New Bookmark$' >/dev/null || fail "Ctrl+N opened no add sheet"
  xdotool type --delay 20 "$1"
  focused_keys Tab
  xdotool type --delay 20 "$2"
  focused_keys Return
  e2e_wait_until 60 e2e_no_window '^New Bookmark$' || fail "the add sheet stayed open"
}
add_bookmark "https://alpha.example.org/a?x=1&cc=evil@example.org" "Alpha"
add_bookmark "https://beta.example.org/b" "Beta"
e2e_wait_until 60 e2e_list_drawn 0 2 || fail "the list did not show the two bookmarks"

# The first cell of the list, below the toolbar and right of the sidebar.
cell_x=$((220 + 200)) cell_y=$((52 + 60))
e2e_click "$win" "$cell_x" "$cell_y" 1
e2e_caught_up "$win" || fail "kesto did not answer"

# The space bar shows the preview of the selected bookmark, named after it.
keys space
first="$(e2e_wait_window '^(Alpha|Beta)$' 60)" || fail "the space bar showed no preview"
first_name="$(xdotool getwindowname "$first")"
e2e_settled
e2e_screenshot "$shots/quick-look.png"
# An arrow pressed in the preview moves the list's selection; the preview shows the other one.
other=Alpha; [[ "$first_name" == Alpha ]] && other=Beta
xdotool windowactivate --sync "$first" >/dev/null 2>&1
for arrow in Right Down Left Up; do
  visible "^$other\$" && break
  focused_keys "$arrow"
  e2e_caught_up "$first" || fail "kesto did not answer"
done
e2e_wait_until 60 visible "^$other\$" || fail "the preview did not follow the selection to $other"
# The space bar in the preview closes it.
focused_keys space
e2e_wait_until 60 hidden "^$other\$" || fail "the space bar did not close the preview"

# View > Quick Look by its key; Escape closes it.
keys ctrl+y
e2e_wait_until 60 visible "^$other\$" || fail "Ctrl+Y showed no preview"
focused_keys Escape
e2e_wait_until 60 hidden "^$other\$" || fail "Escape did not close the preview"

# The context menu: "Email links" is third from the end ("Update from web" and "Set thumbnail
# from file" follow it).
e2e_click "$win" "$cell_x" "$cell_y" 1
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_popup_after e2e_click "$win" "$cell_x" "$cell_y" 3 || fail "a right click showed no context menu"
e2e_screenshot "$shots/preview-context-menu.png"
focused_keys Up Up Up Return
mailed() { [[ -s "$work/xdg-email.log" ]]; }
e2e_wait_until 60 mailed || fail "Email links started no mail program"
python3 - "$work/xdg-email.log" <<'PY' || fail "the message is not strictly encoded: $(cat "$work/xdg-email.log")"
import sys, urllib.parse
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 1, lines
url = lines[0]
assert url.startswith("mailto:?"), url
assert not any(c in url for c in " #\n"), url
fields = urllib.parse.parse_qs(url[len("mailto:?"):], keep_blank_values=True)
assert sorted(fields) == ["body", "subject"], fields
assert fields["subject"] == ["Some bookmarks from my Kesto library"], fields
body = fields["body"][0]
assert "https://alpha.example.org/a?x=1&cc=evil@example.org" in body or "https://beta.example.org/b" in body, body
assert body.startswith("Hi,\n\ncheck out these awesome bookmarks!\n\n"), body
assert body.endswith("\n\n--------------\nGet Kesto! (https://kesto.app)"), body
PY

# Share > Copy: the submenu just above "Email links"; its last service copies.
e2e_popup_after e2e_click "$win" "$cell_x" "$cell_y" 3 || fail "a right click showed no context menu"
focused_keys Up Up Up Up
e2e_popup_after focused_keys Right || fail "Share showed no submenu"
e2e_screenshot "$shots/share-menu.png"
copied="$(e2e_clipboard_after 60 focused_keys Up Return)"
[[ "$copied" == *"Link shared with Kesto https://kesto.app"* && "$copied" == *"example.org/"* ]] ||
  fail "Share > Copy left '$copied' on the clipboard"

# The inspector hides with Ctrl+Alt+I; the choice is kept.
e2e_screenshot "$shots/inspector-shown.png" "$win"
keys ctrl+alt+i
e2e_wait_until 60 e2e_setting_is editorCollapsed True || fail "hiding the inspector was not stored: $(e2e_setting editorCollapsed)"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/inspector-hidden.png" "$win"

# The Inbox row explains itself the first time the user opens it.
inbox_x=80 inbox_y=210
e2e_click "$win" "$inbox_x" "$inbox_y" 1
e2e_wait_until 60 visible '^Inbox tutorial$' || fail "no Inbox tutorial"
e2e_screenshot "$shots/inbox-tutorial.png"
# "Got it" at the popover's bottom right; the popover stands beside the row, over the list.
e2e_click "$win" 459 253 1
e2e_wait_until 60 e2e_setting_is BRWTutorialInboxSeen True || fail "Got it did not mark the Inbox tutorial seen"

# A single click on a row of the compact list shows the bookmark tutorial.
e2e_click "$win" 80 190 1
e2e_wait_until 60 visible '^Library tutorial$' || fail "no Library tip on the Library row"
keys ctrl+3
e2e_wait_until 60 e2e_setting_is BoomarksListView True || fail "Ctrl+3 did not choose the compact list"
e2e_caught_up "$win" || fail "kesto did not answer"
# The Library row's tip stands over the list's first rows; a click elsewhere closes it.
e2e_click "$win" 700 600 1
e2e_wait_until 60 e2e_no_window '^Library tutorial$' || fail "a click elsewhere left the Library tip open"
e2e_click "$win" "$cell_x" "$((52 + 100))" 1
e2e_wait_until 60 visible '^Bookmarks tutorial$' || { e2e_screenshot "$shots/no-bookmark-tutorial.png"; fail "no bookmark tutorial on a compact row"; }
e2e_settled
e2e_screenshot "$shots/bookmark-tutorial.png"

e2e_quit_by_key
# Started again, the inspector is still hidden; Help > Show Tutorials Again makes the tutorials
# pending once more.
start
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/inspector-hidden-after-restart.png" "$win"
# What the start must keep is read in the settings written after a later change (the extended
# list chosen): a start that changed it would have written that too.
keys ctrl+2
e2e_wait_until 60 e2e_setting_is BoomarksListView False || fail "Ctrl+2 did not choose the extended list"
e2e_setting_is editorCollapsed True || fail "the inspector came back after a restart"
e2e_setting_is BRWTutorialInboxSeen True || fail "the Inbox tutorial was forgotten"
keys ctrl+alt+i
e2e_wait_until 60 e2e_setting_is editorCollapsed False || fail "Ctrl+Alt+I did not show the inspector again"
# Help > Show Tutorials Again, two above About Kesto (the last item): Up from the first wraps
# round to About.
e2e_popup_after keys alt+h || fail "Alt+H opened no Help menu"
e2e_screenshot "$shots/help-menu.png"
focused_keys Up Up Up Return
e2e_wait_until 60 e2e_setting_is BRWTutorialInboxSeen "" || fail "Show Tutorials Again kept the Inbox tutorial seen"
e2e_quit_by_key
echo "preview e2e: passed"
