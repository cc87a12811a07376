#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh, asked for timing marks (KESTO_TIMING_LOG), as the
# benchmarks of the running program read them: its first line, the window's first frame, the list
# reloaded with the library and drawn after it, a typed key arriving and the search's list drawn
# after it, each on the clock all processes share and in order; a program not asked writes none.
# Usage: timing-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3
e2e_offline_settings
marks="$work/marks.log"
e2e_logs+=("$marks")

has() { grep -q -- "$1" "$marks" 2>/dev/null; }
# The line number of the first mark matching $1 after line $2.
line_after() { awk -v from="$2" -v re="$1" 'NR > from && $0 ~ re { print NR; exit }' "$marks"; }

# A library of three bookmarks, from a launch that was not asked for marks.
e2e_start_kesto
"$kesto" --add-text $'https://timing-one.example/\nhttps://timing-two.example/\nhttps://other.example/' \
  >>"$work/kesto.log" 2>&1 || fail "hand-over launch failed"
stored() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 3 ]]; }
e2e_wait_until 60 stored || fail "the addresses were not stored"
e2e_quit_by_key
[[ ! -e "$marks" ]] || fail "marks written without being asked"

KESTO_TIMING_LOG="$marks" "$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "no main window with marks asked"
drawn() { local r; r="$(line_after '^[0-9]+ list-reload [1-9][0-9]* Kesto$' 0)"; [[ -n "$r" && -n "$(line_after '^[0-9]+ frame Kesto$' "$r")" ]]; }
e2e_wait_until 60 drawn || fail "no frame after the library's list"
first="$(head -n1 "$marks")"
[[ "$first" =~ ^[0-9]+\ main$ ]] || fail "the first mark is not the program's first line: $first"
shown="$(line_after '^[0-9]+ window-shown$' 0)"
[[ -n "$shown" && -n "$(line_after '^[0-9]+ frame Kesto$' 0)" ]] || fail "no first frame of the window"
# Every mark on one clock, in the order written.
awk 'NR > 1 && $1 < last { bad = 1 } { last = $1 } END { exit bad }' "$marks" || fail "marks out of order"

# A key typed into the search: its arrival, then the list narrowed to two and drawn.
e2e_key "$win" ctrl+f
sleep 0.5
before="$(wc -l <"$marks")"
xdotool type --delay 120 "timing"
searched() {
  local key r
  key="$(line_after '^[0-9]+ input key$' "$before")"
  [[ -n "$key" ]] || return 1
  r="$(line_after '^[0-9]+ list-reload 2 Kesto$' "$key")"
  [[ -n "$r" && -n "$(line_after '^[0-9]+ frame Kesto$' "$r")" ]]
}
e2e_wait_until 60 searched || fail "no key, narrowed list and frame after it"

e2e_quit_by_key
echo "timing marks: $(wc -l <"$marks") lines"
