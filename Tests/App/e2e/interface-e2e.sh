#!/usr/bin/env bash
# Faults a user met in the real kesto program, driven inside xvfb-session.sh with the mouse and
# the keyboard over the sample library: an idle Kesto sleeps; the Pinboard row asks once for an
# account (not again at tab switches or a hand-over); folding the folder list away and
# back keeps its tabs; Ctrl+Shift+F and Ctrl+Alt+F reach different fields; Return in the
# inspector stores a title and opens nothing; Go To Folder selects the folder in the sidebar; a
# deleted or emptied bookmark leaves the inspector; the path bar is empty on the other tabs; after
# a folder is deleted the list is the sidebar's, so Delete there never deletes for good; a shared
# folder comes back through File > Import; sharing onto a full disk says so and leaves nothing.
# Usage: interface-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/kesto-interface}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3
full="$work/full"
fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "$shots/failed.png" 2>/dev/null
  grep -v 'xdg-open' "$work/kesto.log" | tail -30 >&2
  exit 1
}
cleanup() {
  e2e_kill "${app_pid:-}" ${sleeper:-}
  mountpoint -q "$full" 2>/dev/null && umount "$full"
}
# Settings reach the file shortly after a change.
wait_stored() { e2e_wait_until 60 e2e_setting_is "$1" "$2"; }  # key value
# Each step goes on once the program has handled it.
caught_up() { e2e_caught_up "$win" || fail "kesto did not answer"; }
keys() { xdotool windowactivate --sync "$win" >/dev/null 2>&1; xdotool key --delay 80 "$@"; caught_up; }
alive() { kill -0 "$app_pid" 2>/dev/null; }
# Answers an alert whose title matches $1 with Return.
answer() {  # title [timeout]
  local a
  a="$(e2e_wait_window "$1" "${2:-60}")" || return 1
  xdotool windowactivate --sync "$a" >/dev/null 2>&1
  xdotool key Return
}
# Types a path into the file dialog that took the focus and accepts it.
choose_path() {  # path
  local d=""
  other_active() { d="$(xdotool getactivewindow 2>/dev/null)" && [[ -n "$d" && "$d" != "$win" ]]; }
  e2e_wait_until 60 other_active || return 1
  e2e_choose_path "$d" "$1"
}

# Window-relative places: the sidebar's rows and tabs, the first cell of the list, the
# inspector's title field, the bottom bar's fold button.
row_x=80
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported, 5 Apple, 6 Search, 7 Kesto
# (Search is deleted half-way; Kesto then takes its row)
# Whether row $1 is selected: its highlight fills the row's left end.
row_selected() { local r g b; read -r r g b < <(e2e_pixel 10 "$(row_y "$1")" "$win") && [[ -n "$b" ]] && ! ((r > 235 && g > 235 && b > 235)); }
# A row clicked: selected, and when it was not shown before, its list reloaded and drawn (a
# click on the list before that would be undone by the reload).
click_row() {
  local shown=0 from
  row_selected "$1" && shown=1
  from="$(e2e_marks_count)"
  e2e_click "$win" "$row_x" "$(row_y "$1")"
  e2e_wait_until 60 row_selected "$1" || fail "a click did not select row $1"
  ((shown)) || e2e_wait_until 60 e2e_list_drawn "$from" || fail "row $1 showed no list"
  caught_up
}
tab_x() { echo $((18 + 36 * $1)); }  # 0 folders, 1 tags, 2 history, 3 popular, 4 maintenance, 5 trash
click_tab() { e2e_click "$win" "$(tab_x "$1")" 87; caught_up; }
# A search's "nothing found" messages stand for a few seconds over the list and over the top of
# the inspector, where the one there covers the title field: a cell or the title field is clicked
# once they have gone, and a cell's click has chosen the bookmark once the inspector shows one (a moment after).
# Each message is a dark box with white words: it is looked for on its box, clear of the words
# (above them), where a card and the inspector are light.
dark_at() { local r g b; read -r r g b < <(e2e_pixel "$1" "$2" "$win") && [[ -n "$b" ]] && ((r < 80 && g < 80 && b < 80)); }
no_message() { ! dark_at 450 345 && ! dark_at 998 135; }
cell() {
  e2e_wait_until 60 no_message || fail "a search's message stayed over the list"
  e2e_click "$win" 600 250 "${1:-1}"
  e2e_wait_until 60 e2e_bookmark_chosen || fail "a click on the first cell showed no bookmark in the inspector"
  caught_up
}
title_field() {
  e2e_wait_until 60 no_message || fail "a search's message stayed over the inspector"
  e2e_click "$win" 1094 146
  caught_up
}
# The title field's white is gone: the inspector shows no bookmark.
inspector_empty() { ! e2e_bookmark_chosen; }

e2e_offline_settings
e2e_marks_on

e2e_start_kesto
e2e_sample_library
caught_up
folder_id() { e2e_sql "select ZFOLDERID from ZFOLDER where ZNAME='$1';"; }
apple="$(folder_id Apple)" search="$(folder_id Search)" kesto_folder="$(folder_id Kesto)"

# ---- An idle Kesto sleeps: at most one wake-up a second over all its threads ----
# Each thread's voluntary switches, "tid count" a line.
switches() {
  local f n
  for f in /proc/"$app_pid"/task/*/status; do
    n="$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$f" 2>/dev/null)" && [[ -n "$n" ]] &&
      echo "$(basename "$(dirname "$f")") $n"
  done
}
# A stop and continue of the whole process (a debugger, job control, a loaded machine's pauses)
# switches every sleeping thread twice, however long the stop. A process that does nothing but
# sleep, in the program's process group, is stopped with it and counts exactly those switches:
# they are taken from each thread, so only wake-ups of the program's own count.
sleep 100000 &
sleeper=$!
e2e_pids+=("$sleeper")
[[ "$(ps -o pgid= -p "$sleeper")" == "$(ps -o pgid= -p "$app_pid")" ]] ||
  echo "info: Kesto runs in a process group of its own: stops of it are not told apart"
sleeper_switches() { awk '/^voluntary_ctxt_switches/ { print $2 }' /proc/"$sleeper"/status; }
# Sets $threads and $slept to counts taken with no stop begun or ended in the fifth of a second
# before them, so that every thread has gone back to sleep after the last stop.
count() {
  local first
  while :; do
    first="$(sleeper_switches)"
    sleep 0.2
    threads="$(switches)" slept="$(sleeper_switches)"
    [[ "$slept" == "$first" ]] && return
  done
}
woken() {  # before after sleeper-before sleeper-after
  awk -v stops="$(($4 - $3))" 'NR == FNR { was[$1] = $2; next }
       ($1 in was) { d = $2 - was[$1] - stops; if (d > 0) sum += d } END { print sum + 0 }' <(echo "$1") <(echo "$2")
}
# Start-up work (the sample library's pages, lists filled in the background) may still be running
# on a slow build: the first quiet five seconds of four count.
sleep 4
for window in 1 2 3 4; do
  count
  before="$threads" was="$slept"
  sleep 5
  count
  woke="$(woken "$before" "$threads" "$was" "$slept")"
  (( woke <= 5 )) && break
done
(( woke <= 5 )) || fail "an idle Kesto woke $woke times in each of four 5-second windows"
kill "$sleeper"

# ---- The Pinboard row without an account asks for one once, when chosen ----
e2e_click "$win" "$row_x" "$(row_y 3)"
login="$(e2e_wait_window '^Pinboard$' 60)" || fail "choosing the Pinboard row showed no login panel"
xdotool windowactivate --sync "$login" >/dev/null 2>&1
xdotool key Escape
e2e_wait_until 60 e2e_no_window '^Pinboard$' || fail "Escape left the Pinboard login panel open"
click_tab 1
click_tab 0
"$kesto" 'kesto:https://handover.example/page' >>"$work/kesto.log" 2>&1 || fail "the hand-over launch failed"
handed() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL like 'https://handover.example/%';")" -ge 1 ]]; }
e2e_wait_until 60 handed || fail "the hand-over added nothing"
# Looked for once the program has handled the hand-over and what it queued.
caught_up
e2e_no_window '^Pinboard$' || fail "the Pinboard login panel came back after a tab switch or a hand-over"
alive || fail "kesto ended after the hand-over"

# ---- Folding the folder list away and back keeps its tabs ----
e2e_click "$win" 125 725
caught_up
e2e_screenshot "$shots/folded.png" "$win"
e2e_click "$win" 125 725
caught_up
e2e_screenshot "$shots/unfolded.png" "$win"
click_tab 1
wait_stored SelectedView SelectedTagsView || fail "after unfolding, the tags tab is not where it was: $(e2e_setting SelectedView)"
click_tab 0
wait_stored SelectedView SelectedLibraryView || fail "after unfolding, the Library tab is not reachable: $(e2e_setting SelectedView)"

# ---- One key for each command: Ctrl+Shift+F searches the list, Ctrl+Alt+F finds a folder ----
click_row 5
before="$(e2e_setting currentlySelectedFolder)"
keys ctrl+shift+f
xdotool type --delay 40 "Kesto"
caught_up
xdotool key ctrl+a BackSpace Escape
# The settings file is written whole, a moment after each change: once a change made after the
# typing is in it (the tags tab chosen, then the folders again), a folder the typing chose would
# be in it too.
click_tab 1
wait_stored SelectedView SelectedTagsView || fail "the tags tab was not stored: $(e2e_setting SelectedView)"
[[ "$(e2e_setting currentlySelectedFolder)" == "$before" ]] || fail "Ctrl+Shift+F reached the folder search"
click_tab 0
wait_stored SelectedView SelectedLibraryView || fail "the Library tab was not stored: $(e2e_setting SelectedView)"
keys ctrl+alt+f
xdotool type --delay 40 "Kesto"
wait_stored currentlySelectedFolder "$kesto_folder" || fail "Ctrl+Alt+F did not reach the folder search: $(e2e_setting currentlySelectedFolder)"
xdotool key ctrl+a BackSpace
caught_up

# ---- Return in the inspector's title stores it and opens nothing ----
click_row 5
cell
title_field
xdotool key ctrl+a
xdotool type --delay 20 "Renamed by Return"
xdotool key Return
renamed() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZTITLE='Renamed by Return';")" == 1 ]]; }
e2e_wait_until 60 renamed || fail "Return in the title field stored nothing"
caught_up
[[ "$(e2e_sql "select coalesce(ZTIMESOPENED,0) || '|' || coalesce(ZLASTOPENED,'') from ZBOOKMARK where ZTITLE='Renamed by Return';")" == "0|" ]] ||
  fail "Return in the title field opened the bookmark"
e2e_screenshot "$shots/inspector.png" "$win"

# ---- Go To Folder selects the bookmark's folder in the sidebar ----
# From the Library, on the second bookmark: the first is the hand-over's, which is in the Inbox.
click_row 0
e2e_click "$win" 600 550
caught_up
# The bookmark's own folder, which Go To Folder is to choose.
its_folder="$(e2e_sql "select f.ZFOLDERID from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK
  where b.ZTRASHED = 0 order by b.ZADDEDDATE desc limit 1 offset 1")"
e2e_popup_after e2e_click "$win" 600 550 3 || fail "a right click showed no context menu"
# From the bottom: Set thumbnail from file, Update from web, Email links, Share, Copy link, Delete,
# Go To Folder.
xdotool key --delay 100 Up Up Up Up Up Up Up Return
went_to_folder() { went="$(e2e_setting currentlySelectedFolder)" && [[ -n "$went" && -n "$(e2e_sql "select ZNAME from ZFOLDER where ZFOLDERID='$went';")" ]]; }
e2e_wait_until 60 went_to_folder || fail "Go To Folder left the sidebar on '$went'"
echo "Go To Folder chose $went (the second bookmark's folder by its added date: $its_folder)"
caught_up
# The path bar names it; on the other tabs it is empty.
bar() { e2e_pixel 250 82 "$win"; }
named_in_bar() { [[ "$(bar)" != "$(e2e_pixel 600 82 "$win")" ]]; }
e2e_wait_until 60 named_in_bar || fail "the path bar shows no folder"
for t in 1 2 5; do
  click_tab "$t"
  bar_empty() { [[ "$(bar)" == "$(e2e_pixel 600 82 "$win")" ]]; }
  e2e_wait_until 60 bar_empty || fail "the path bar keeps the folder on tab $t"
done
e2e_screenshot "$shots/trash-tab.png" "$win"
click_tab 0

# ---- A bookmark moved to the trash leaves the inspector ----
click_row 5
cell
apple_title="$(e2e_sql "select ZTITLE from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER=f.Z_PK where f.ZNAME='Apple' and b.ZTRASHED=0;" | head -1)"
keys Delete
trashed_apple() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER=f.Z_PK where f.ZNAME='Apple' and b.ZTRASHED=1;")" -ge 1 ]]; }
e2e_wait_until 60 trashed_apple || fail "Delete did not trash the bookmark"
e2e_wait_until 60 inspector_empty || fail "the inspector still shows the trashed bookmark"

# ---- After a folder is deleted, the list is the sidebar's: Delete never deletes for good ----
# Search goes; Kesto moves up into its row, which stays selected.
total="$(e2e_sql "select count(*) from ZBOOKMARK;")"
click_row 6
keys Delete
answer 'Delete this folder' || fail "no question before deleting the folder"
folder_gone() { [[ -z "$(folder_id Search)" ]]; }
e2e_wait_until 60 folder_gone || fail "the Search folder was not deleted"
caught_up
e2e_screenshot "$shots/after-folder-delete.png" "$win"
trashed_now() { e2e_sql "select count(*) from ZBOOKMARK where ZTRASHED=1;"; }
trashed_before="$(trashed_now)"
cell
keys Delete
# Counted once the Delete has done what it does to the trash: trashed one more, or (the fault)
# deleted trashed ones for good.
trash_changed() { [[ "$(trashed_now)" != "$trashed_before" ]]; }
e2e_wait_until 60 trash_changed || fail "Delete after a folder's removal did nothing: $(trashed_now) trashed, as before"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK;")" == "$total" ]] || fail "Delete after a folder's removal deleted trashed bookmarks for good"

# ---- Empty Trash takes the shown bookmark out of the inspector ----
click_tab 5
cell
e2e_click "$win" "$row_x" 130
answer 'Empty the trash' || fail "Empty Trash asked nothing"
emptied() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZTRASHED=1;")" == 0 ]]; }
e2e_wait_until 60 emptied || fail "the trash was not emptied"
alive || fail "kesto ended after Empty Trash"
e2e_wait_until 60 inspector_empty || fail "the inspector still shows an emptied bookmark"
click_tab 0

# ---- A shared folder comes back through File > Import ----
# The right click selects the row itself (a plain click on the selected row would open its name
# editor once the double-click time has passed).
e2e_popup_after e2e_click "$win" "$row_x" "$(row_y 6)" 3 || fail "a right click showed no context menu"
xdotool key --delay 100 Down Down Down Return
choose_path "$work/kesto.kesto" || fail "no save dialog for sharing"
shared() { [[ -s "$work/kesto.kesto/Contents/kesto.xml" ]]; }
e2e_wait_until 60 shared || fail "sharing wrote no archive"
# The success is told, in an alert.
answer '^Share$' 60 || fail "the share's success was not told"
keys ctrl+shift+i
# No to skipping duplicates: every bookmark of the archive is in the library already, and a
# skipping import would bring none of them, nor the folder.
question="$(e2e_wait_window 'Import Bookmarks' 60)" || fail "no import question"
xdotool windowactivate --sync "$question" >/dev/null 2>&1
xdotool key Tab space
choose_path "$work/kesto.kesto" || fail "no import dialog"
imported() { [[ "$(e2e_sql "select count(*) from ZFOLDER where ZNAME='Kesto';")" -ge 2 ]]; }
e2e_wait_until 60 imported || fail "File > Import did not take the shared folder: $(e2e_sql 'select ZNAME, ZPARENTFOLDERID from ZFOLDER;')"

# ---- Sharing onto a full disk says so and leaves nothing ----
mkdir -p "$full"
if [[ $EUID -eq 0 ]] && mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null; then
  dd if=/dev/zero of="$full/filler" bs=4k >/dev/null 2>&1
  e2e_popup_after e2e_click "$win" "$row_x" "$(row_y 5)" 3 || fail "a right click showed no context menu"
  xdotool key --delay 100 Down Down Down Return
  choose_path "$full/apple.kesto" || fail "no save dialog for sharing onto the full disk"
  answer 'could not be shared' 60 || fail "sharing onto a full disk reported no failure"
  caught_up
  e2e_no_window '^Share$' || fail "sharing onto a full disk also reported success"
  [[ ! -e "$full/apple.kesto" ]] || fail "a partial archive was left: $(ls -la "$full")"
  [[ -z "$(ls -A "$full" | grep -v '^filler$')" ]] || fail "leftovers on the full disk: $(ls -A "$full")"
  umount "$full"
else
  echo "sharing onto a full disk: skipped (mounting a small file system needs root)"
fi

e2e_quit_by_key
echo "interface e2e passed"
