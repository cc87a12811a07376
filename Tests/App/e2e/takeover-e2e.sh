#!/usr/bin/env bash
# A hand-over of a hundred addresses to the real kesto program inside xvfb-session.sh, whose
# running Kesto gdb kills (SIGKILL) once it has saved them, as it begins its answer: the waiting
# launch takes the library over and adds none of them again, though duplicates are not skipped.
# Usage: takeover-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 gdb
e2e_logs+=("$work/gdb.log")
cleanup() { kill -9 ${debugger_pid:-} ${running_pid:-} ${app_pid:-} 2>/dev/null; }
e2e_offline_settings skipDuplicates '<false/>'

# gdb starts the running Kesto and kills it at the answer to a launch that handed something over.
printf '%s\n' 'set pagination off' 'set confirm off' 'handle all nostop noprint pass' \
  'rbreak SingleInstance::Impl::replyTo.*_M_invoke' 'commands' 'silent' 'echo killed at the answer\n' 'kill' 'quit' \
  'end' 'run' >"$work/gdb.cmd"
gdb -q -batch -x "$work/gdb.cmd" --args "$kesto" >"$work/gdb.log" 2>&1 &
debugger_pid=$!
win="$(e2e_wait_window '^Kesto$' 60)" || fail "no main window under gdb"
running_pid="$(xdotool getwindowpid "$win")"
e2e_close_first_run_panel 90 || fail "no first-run panel"

text=""
for i in $(seq 1 100); do text+="https://handed$i.example/"$'\n'; done
"$kesto" --add-text "$text" >>"$work/kesto.log" 2>&1 &
app_pid=$!
gone() { ! kill -0 "$running_pid" 2>/dev/null; }
e2e_wait_until 60 gone || fail "the running Kesto was not killed at its answer"
grep -q 'killed at the answer' "$work/gdb.log" || fail "the running Kesto ended some other way"
win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "the waiting launch did not take the library over"
rows() { e2e_sql "select count(*) from ZBOOKMARK where ZURL like 'https://handed%'"; }
all_in() { [[ "$(rows)" -ge 100 ]]; }
e2e_wait_until 60 all_in || fail "the saved addresses are not in the library: $(rows)"
# The launch that took over tells each address it handles, the last one last, once it is saved.
told() { grep -q "Notification: Bookmark .* - https://handed100.example/" "$work/kesto.log"; }
e2e_wait_until 60 told || fail "the launch that took over did not tell how its addresses ended"
[[ "$(rows)" == 100 ]] || fail "the launch that took over added them again: $(rows) rows"
e2e_quit_kesto
echo "a takeover after a saved hand-over: ok"
