#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: a link dragged from another program's window
# and dropped on the main window becomes a bookmark in the Inbox; that bookmark dragged out of the
# list onto another program's window gives it data in every type offered (its "bm:" line as
# text, its address as a link, nothing in a format of ours, also for an address the link formats
# give back escaped) and its link files go when it quits; a card let go over the list's own
# background or over the inspector is not added again; the folder list's width, set by dragging
# its divider, is there again after a restart.
# Usage: drop-e2e.sh KESTO_BINARY DRAG_SOURCE_BINARY [SCREENSHOT_PATH] [DROP_TARGET_BINARY]
set -uo pipefail
kesto="$1"
source_program="$2"
shot="${3:-${TMPDIR:-/tmp}/kesto-drop.png}"
drop_target="${4:-}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
e2e_logs+=("$work/source.log")
e2e_logs+=("$work/target.log")
cleanup() { e2e_kill "${app_pid:-}" "${source_pid:-}" "${target_pid:-}"; }

e2e_offline_settings

start_kesto() {
  e2e_start_kesto
  # The first load has run once the default library is in the store.
  e2e_wait_until 60 has_library || fail "no library after start"
  e2e_caught_up "$win" || fail "kesto did not answer"
}
has_library() { [[ -s "$store" ]] && e2e_sql 'select count(*) from ZFOLDER' >/dev/null; }
# Rounded in the C locale: bash's printf reads "240.7" with the user's decimal separator.
stored_width() { local w; w="$(e2e_setting "$1")"; LC_ALL=C printf '%.0f\n' "${w:-0}"; }
# Drags a link of $1 from another program's window onto the bookmark list in the middle of the
# main window, which passes it to the window; "up" ends the drag there ($source_pid is the other
# program), anything else leaves the button down.
drag_in() {  # text up|hold
  "$source_program" "$1" >"$work/source.log" 2>&1 &
  source_pid=$!
  src="$(e2e_wait_window '^KestoLinkSource$' 60)" || fail "no drag source window for $1"
  e2e_caught_up "$src" || fail "the drag source does not answer"
  e2e_drag_through "$src $win $src" "$src" 130 80 "$src" 150 80 "$src" 170 80 --begun "$win" 600 420 "$win" 610 430 \
    $([[ "$2" == up ]] || echo --hold) || fail "the drag from the other program did not go through"
}

# --- a link dragged from another program onto the window ---
start_kesto
# The empty library's first-run panel comes a few seconds after the first load, over the place the
# link is dropped on: closed first.
e2e_close_first_run_panel 60 || fail "no first-run panel"
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "Escape left the first-run panel open"
url="https://dropped.example/page?from=drag"
drag_in "$url" hold
e2e_screenshot "$shot" || true
xdotool mouseup 1
dropped() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = '$url'")" == 1 ]]; }
e2e_wait_until 60 dropped || fail "the dropped link is not in the store"
inbox="$(e2e_sql "select f.ZFOLDERID from ZBOOKMARK b join ZFOLDER f on b.ZFOLDER = f.Z_PK where b.ZURL = '$url'")"
[[ "$inbox" == "_inbox" ]] || fail "the dropped link is in '$inbox', not the Inbox"
ended() { grep -q 'drag ended: 1$' "$work/source.log"; }
e2e_wait_until 60 ended || fail "the source did not hear a copy: $(cat "$work/source.log")"
wait "$source_pid" 2>/dev/null

# Plain text that holds no web address adds nothing (a text drag is refused on entering).
before="$(e2e_sql 'select count(*) from ZBOOKMARK')"
drag_in "ftp://not.a.web.example/" up
refused() { grep -q 'drag ended: 0$' "$work/source.log"; }
e2e_wait_until 60 refused || fail "a drag without a web address was taken: $(cat "$work/source.log")"
[[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == "$before" ]] || fail "a refused drop added rows"
wait "$source_pid" 2>/dev/null

# --- the folder list's width survives a restart ---
# The divider lies at the folder list's right edge (220 points at first), under the toolbar.
e2e_drag_through "$win" "$win" 220 300 "$win" 260 300 "$win" 300 300 || fail "kesto did not answer during the drag"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "${shot%.png}-panes.png" "$win" || true
# The fold button beside the mode buttons hides the folder list and brings it back (probed low in
# the window, below any bookmark the list shows).
folded_left() { [[ "$(e2e_pixel "$1" "$2")" == "$3" ]]; }
geometry="$(xdotool getwindowgeometry --shell "$win")"
eval "$geometry"
list_left="$(e2e_pixel $((X + 150)) $((Y + 600)))"
e2e_click "$win" 125 $((HEIGHT - 15))
folded_away() { folded="$(e2e_pixel $((X + 150)) $((Y + 600)))" && [[ -n "$folded" && "$folded" != "$list_left" ]]; }
e2e_wait_until 60 folded_away || fail "the folder list did not fold away ($folded at x=$((X + 150)), y=$((Y + 600)))"
e2e_screenshot "${shot%.png}-folded.png" "$win" || true
e2e_click "$win" 125 $((HEIGHT - 15))
list_back() { [[ "$(e2e_pixel $((X + 150)) $((Y + 600)))" == "$list_left" ]]; }
e2e_wait_until 60 list_back || fail "the folder list did not come back"
e2e_quit_kesto
width="$(stored_width KestoFolderListWidth)"
(( width >= 290 && width <= 310 )) || fail "folder list width after the drag: $width"
start_kesto
e2e_quit_kesto
again="$(stored_width KestoFolderListWidth)"
[[ "$again" == "$width" ]] || fail "folder list width after a restart: $again, was $width"

# --- a bookmark dragged out of the list onto another program ---
if [[ -n "$drop_target" ]]; then
  "$drop_target" >"$work/target.log" 2>&1 &
  target_pid=$!
  target="$(e2e_wait_window '^KestoDropTarget$' 60)" || fail "no drop target window"
  uid="$(e2e_sql "select ZUNIQUEID from ZBOOKMARK where ZURL = '$url'")"
  [[ -n "$uid" ]] || fail "the dropped bookmark has no identifier"
  # Side by side: the main window narrowed to the left of the other program's.
  start_kesto
  xdotool windowmove --sync "$win" 0 0 windowsize --sync "$win" 880 700
  e2e_caught_up "$win" || fail "kesto did not answer"
  # The only bookmark is the list's first cell, below the toolbar and right of the folder list.
  cell_x=420 cell_y=160
  e2e_click "$win" "$cell_x" "$cell_y" 1
  e2e_caught_up "$win" || fail "kesto did not answer"
  # Pressed away from the click: no double click, which would open the bookmark.
  e2e_drag_through "$win $target $win" "$win" $((cell_x + 20)) "$cell_y" "$win" $((cell_x + 40)) "$cell_y" \
    "$win" $((cell_x + 60)) "$cell_y" --begun "$target" 150 100 "$target" 160 110 --hold ||
    fail "the drag out to the other program did not go through"
  e2e_screenshot "${shot%.png}-drag-out.png" || true
  xdotool mouseup 1
  received() { grep -q '^drop done$' "$work/target.log"; }
  e2e_wait_until 60 received || fail "the other program got no drop: $(cat "$work/target.log")"
  wait "$target_pid" 2>/dev/null
  offered() { grep -F "type $1 " "$work/target.log"; }
  ! grep -E '^type [^ ]+ 0 ' "$work/target.log" || fail "a type was offered empty: $(cat "$work/target.log")"
  # Text and links go in the desktop's formats: our own format would carry nothing more.
  ! offered application/x-kesto-pasteboard-items >/dev/null || fail "the drag offered our own format to another program"
  offered text/plain | grep -qF "bm:$uid\\n" || fail "the text is not the bm: line: $(cat "$work/target.log")"
  offered text/uri-list | grep -qF "$url" || fail "the address list lacks $url: $(cat "$work/target.log")"
  if offered _NETSCAPE_URL >/dev/null; then
    offered _NETSCAPE_URL | grep -qF "$url" || fail "the Netscape link lacks $url"
  fi
  # The link files written for file managers go when the program quits.
  links="${TMPDIR:-/tmp}/kesto-links-$app_pid"
  [[ -d "$links" ]] || fail "the drag wrote no link files"
  e2e_quit_kesto
  [[ ! -e "$links" ]] || fail "the drag's link files were left behind in $links"
fi

# --- Kesto's own drags: moves onto folders or nothing ---
start_kesto
"$kesto" 'kesto:https://spaced.example/a%20b/caf%C3%A9' >>"$work/kesto.log" 2>&1 || fail "the hand-over failed"
rows() { e2e_sql 'select count(*) from ZBOOKMARK'; }
two() { [[ "$(rows)" == 2 ]]; }
e2e_wait_until 60 two || fail "the handed-over address is not in the store"
# The compact list leaves its background free below the two cards; the inspector is at the right.
xdotool windowmove --sync "$win" 0 0 windowsize --sync "$win" 880 700
e2e_key "$win" ctrl+3
e2e_caught_up "$win" || fail "kesto did not answer"
# The first card held, moved a short way and let go over the list's background, then the inspector.
e2e_click "$win" 450 150
for place in "440 480" "780 400"; do
  set -- $place
  # Pressed away from the click: no double click, which would open the bookmark.
  e2e_drag_through "$win" "$win" 470 150 "$win" 490 160 "$win" 510 170 --begun "$win" "$1" "$2" "$win" $(($1 + 10)) $(($2 + 10)) ||
    fail "the card's drag did not go through"
  # Counted once the program has taken the drop in, and again after it ended.
  e2e_caught_up "$win" || fail "kesto did not answer"
  two || fail "a card let go at $place was added again: $(rows) bookmarks"
done
if [[ -n "$drop_target" ]]; then
  # Both cards out to the other program: the address the link formats give back escaped goes
  # in the desktop's formats only.
  "$drop_target" >"$work/target.log" 2>&1 &
  target_pid=$!
  target="$(e2e_wait_window '^KestoDropTarget$' 60)" || fail "no drop target window"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  e2e_click "$win" 450 150
  xdotool keydown shift mousemove --window "$win" 450 255 click 1 keyup shift
  e2e_caught_up "$win" || fail "kesto did not answer"
  e2e_drag_through "$win $target $win" "$win" 450 150 "$win" 470 150 "$win" 490 150 --begun "$target" 150 100 "$target" 160 110 ||
    fail "the drag of two cards out to the other program did not go through"
  e2e_wait_until 60 received || fail "the other program got no drop: $(cat "$work/target.log")"
  wait "$target_pid" 2>/dev/null
  ! grep -E '^type [^ ]+ 0 ' "$work/target.log" || fail "a type was offered empty: $(cat "$work/target.log")"
  ! offered application/x-kesto-pasteboard-items >/dev/null || fail "our own format went out: $(cat "$work/target.log")"
  offered text/uri-list | grep -qF 'https://spaced.example/a%20b/caf%C3%A9' || fail "no escaped address went out"
fi
e2e_quit_kesto
two || fail "a card let go over the list or the inspector was added again: $(rows) bookmarks"

echo "drop and pane widths: ok"
