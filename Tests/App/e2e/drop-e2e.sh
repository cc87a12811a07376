#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: a link dragged from another program's window
# and dropped on the main window becomes a bookmark in the Inbox; the folder list's width, set
# by dragging its divider, is there again after a restart.
# Usage: drop-e2e.sh KESTO_BINARY DRAG_SOURCE_BINARY [SCREENSHOT_PATH]
set -uo pipefail
kesto="$1"
source_program="$2"
shot="${3:-${TMPDIR:-/tmp}/kesto-drop.png}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_require xdotool sqlite3 python3

e2e_app_paths

fail() { echo "FAIL: $*" >&2; cat "$work/kesto.log" "$work/source.log" >&2 2>/dev/null; exit 1; }
cleanup() { kill "${app_pid:-}" "${source_pid:-}" 2>/dev/null; }
trap cleanup EXIT

e2e_offline_settings

start_kesto() {
  "$kesto" >>"$work/kesto.log" 2>&1 &
  app_pid=$!
  win="$(e2e_wait_window '^Kesto$' 20)" || fail "no main window"
  # The first load has run once the default library is in the store.
  e2e_wait_until 20 has_library || fail "no library after start"
  sleep 0.5
}
quit_kesto() {
  kill -TERM "$app_pid"
  wait "$app_pid"
  local rc=$?
  [[ $rc -eq 0 ]] || fail "kesto ended with $rc"
}
has_library() { [[ -s "$store" ]] && sqlite3 -cmd '.timeout 10000' "$store" 'select count(*) from ZFOLDER' >/dev/null 2>&1; }
stored_width() {
  python3 -c 'import plistlib,sys; print(round(plistlib.load(open(sys.argv[1],"rb")).get(sys.argv[2], 0)))' \
    "$settings" "$1"
}

# --- a link dragged from another program onto the window ---
start_kesto
url="https://dropped.example/page?from=drag"
"$source_program" "$url" >"$work/source.log" 2>&1 &
source_pid=$!
src="$(e2e_wait_window '^KestoLinkSource$' 20)" || fail "no drag source window"
sleep 0.5
# The drop lands on the bookmark list in the middle of the window, which passes it to the window.
xdotool mousemove --window "$src" 130 80 mousedown 1 sleep 0.2 mousemove_relative 20 0 sleep 0.2 \
  mousemove_relative 20 0 sleep 0.3 mousemove --window "$win" 600 420 sleep 0.3 \
  mousemove --window "$win" 610 430 sleep 0.5
e2e_screenshot "$shot" || true
xdotool mouseup 1
dropped() { [[ "$(sqlite3 -cmd '.timeout 10000' "$store" "select count(*) from ZBOOKMARK where ZURL = '$url'" 2>/dev/null)" == 1 ]]; }
e2e_wait_until 15 dropped || fail "the dropped link is not in the store"
inbox="$(sqlite3 -cmd '.timeout 10000' "$store" "select f.ZFOLDERID from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where b.ZURL = '$url'")"
[[ "$inbox" == "_inbox" ]] || fail "the dropped link is in '$inbox', not the Inbox"
ended() { grep -q 'drag ended: 1$' "$work/source.log"; }
e2e_wait_until 10 ended || fail "the source did not hear a copy: $(cat "$work/source.log")"
wait "$source_pid" 2>/dev/null

# Plain text that holds no web address adds nothing (a text drag is refused on entering).
before="$(sqlite3 -cmd '.timeout 10000' "$store" 'select count(*) from ZBOOKMARK')"
"$source_program" "ftp://not.a.web.example/" >"$work/source.log" 2>&1 &
source_pid=$!
src="$(e2e_wait_window '^KestoLinkSource$' 20)" || fail "no second drag source window"
sleep 0.5
xdotool mousemove --window "$src" 130 80 mousedown 1 sleep 0.2 mousemove_relative 20 0 sleep 0.2 \
  mousemove_relative 20 0 sleep 0.3 mousemove --window "$win" 600 420 sleep 0.3 \
  mousemove --window "$win" 610 430 sleep 0.5 mouseup 1
refused() { grep -q 'drag ended: 0$' "$work/source.log"; }
e2e_wait_until 10 refused || fail "a drag without a web address was taken: $(cat "$work/source.log")"
[[ "$(sqlite3 -cmd '.timeout 10000' "$store" 'select count(*) from ZBOOKMARK')" == "$before" ]] || fail "a refused drop added rows"
wait "$source_pid" 2>/dev/null

# --- the folder list's width survives a restart ---
# The divider lies at the folder list's right edge (220 points at first), under the toolbar.
xdotool mousemove --window "$win" 220 300 mousedown 1 sleep 0.2 mousemove --window "$win" 260 300 sleep 0.2 \
  mousemove --window "$win" 300 300 sleep 0.3 mouseup 1
sleep 0.3
e2e_screenshot "${shot%.png}-panes.png" "$win" || true
# The fold button beside the mode buttons hides the folder list and brings it back (probed low in
# the window, below any bookmark the list shows).
folded_left() { [[ "$(e2e_pixel "$1" "$2")" == "$3" ]]; }
geometry="$(xdotool getwindowgeometry --shell "$win")"
eval "$geometry"
list_left="$(e2e_pixel $((X + 150)) $((Y + 600)))"
e2e_click "$win" 125 $((HEIGHT - 15))
sleep 1
e2e_screenshot "${shot%.png}-folded.png" "$win" || true
folded="$(e2e_pixel $((X + 150)) $((Y + 600)))"
[[ "$folded" != "$list_left" ]] || fail "the folder list did not fold away ($folded at x=$((X + 150)), y=$((Y + 600)))"
e2e_click "$win" 125 $((HEIGHT - 15))
sleep 1
[[ "$(e2e_pixel $((X + 150)) $((Y + 600)))" == "$list_left" ]] || fail "the folder list did not come back"
quit_kesto
width="$(stored_width KestoFolderListWidth)"
(( width >= 290 && width <= 310 )) || fail "folder list width after the drag: $width"
start_kesto
quit_kesto
again="$(stored_width KestoFolderListWidth)"
[[ "$again" == "$width" ]] || fail "folder list width after a restart: $again, was $width"
echo "drop and pane widths: ok"
