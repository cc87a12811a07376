#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh, on a library of a few thousand bookmarks whose
# page pictures a loopback thumbnail service answers (all red): the wheel turned over the list
# moves it and its scroller's knob, the rows scrolled into view show their pictures, and the
# rows scrolled back to show theirs again; typing into the search then still draws the results.
# Leaves screenshots. Usage: scroll-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_require xdotool sqlite3 python3
e2e_app_paths
mkdir -p "$shots"

fail() { echo "FAIL: $*" >&2; tail -20 "$work/kesto.log" >&2 2>/dev/null; exit 1; }
cleanup() { e2e_kill "${app_pid:-}" "${site_pid:-}"; }
trap cleanup EXIT

# A red picture for every thumbnail request.
python3 - "$work/red.png" "$E2E_DIR" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
from screenshot import write_png
write_png(sys.argv[1], 400, 300, [b"\xdd\x11\x11" * 400] * 300)
PY
python3 "$E2E_DIR/picture-server.py" "$work/red.png" "$work/port" &
site_pid=$!
e2e_wait_until 60 test -s "$work/port" || fail "no thumbnail service"
e2e_offline_settings
# The thumbnail service is the loopback one (the offline settings name a closed port).
sed -i "s|http://127.0.0.1:9</string>|http://127.0.0.1:$(cat "$work/port")</string>|" "$settings"
grep -q "127.0.0.1:$(cat "$work/port")" "$settings" || fail "the settings do not name the thumbnail service"

"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
e2e_wait_window '^Kesto$' 60 "$app_pid" >/dev/null || fail "no main window"
e2e_add_sample_library 60 || fail "no first-run panel"
e2e_wait_until 60 e2e_has_sample_library || fail "no sample library"
kill -TERM "$app_pid"
wait "$app_pid"
e2e_grow_library 3000 || fail "could not grow the library"

"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "no main window with the large library"
eval "$(xdotool getwindowgeometry --shell "$win")"  # X, Y, WIDTH, HEIGHT

# The window's pixels: how many are the pictures' red, and a digest of the list's area.
measure() {
  python3 - "$win" "$E2E_DIR" <<'PY'
import hashlib, sys
sys.path.insert(0, sys.argv[2])
from screenshot import grab
w, h, rows = grab(int(sys.argv[1], 0))
red = sum(1 for r in rows for i in range(0, len(r), 3) if r[i] > 200 and r[i + 1] < 60 and r[i + 2] < 60)
print(red, hashlib.md5(b"".join(rows[100:h - 60])).hexdigest())
PY
}
pictures_shown() { read -r red _ < <(measure); ((red > 20000)); }
e2e_wait_until 60 pictures_shown || fail "the first rows show no page pictures: $(measure)"
read -r _ top < <(measure)
e2e_screenshot "$shots/scroll-top.png" "$win"

# Sixty notches a second over the list, down.
xdotool mousemove --window "$win" $((WIDTH / 2)) $((HEIGHT / 2))
xdotool click --repeat 45 --delay 16 5
# The list no longer shows the first rows, and the rows now shown have their pictures.
moved_from() { local red digest; read -r red digest < <(measure); [[ -n "$digest" && "$digest" != "$1" ]] && ((red > 20000)); }
e2e_wait_until 60 moved_from "$top" || fail "the wheel did not move the list, or the rows scrolled into view show no pictures: $(measure)"
e2e_caught_up "$win" || fail "kesto did not answer"  # every notch taken in: the list stands still
read -r _ down < <(measure)
e2e_screenshot "$shots/scroll-down.png" "$win"

# And back up: the first rows again, with their pictures.
xdotool click --repeat 45 --delay 16 4
e2e_wait_until 60 moved_from "$down" || fail "the rows scrolled back to show no pictures: $(measure)"
e2e_screenshot "$shots/scroll-back.png" "$win"

# Typed into the search, a word narrows the list, and the result is drawn with its pictures.
e2e_key "$win" ctrl+f
xdotool type --delay 60 "page 12"
e2e_wait_until 60 moved_from "$top" || fail "the search result was not drawn with its pictures: $(measure)"
e2e_screenshot "$shots/scroll-search.png" "$win"

e2e_key "$win" ctrl+q
e2e_wait_until 60 bash -c "! kill -0 $app_pid 2>/dev/null" || fail "kesto did not quit"
app_pid=""
echo "ok: the list scrolls by wheel with its pictures, down and back, and search results are drawn"
