#!/usr/bin/env bash
# A hand-over of a hundred addresses to the real kesto program inside xvfb-session.sh, whose
# running Kesto is killed (SIGKILL, by gdb) right after it has saved them, before its answer: the
# waiting launch takes the library over and adds none of them a second time, though the library
# keeps duplicates. Killed as it starts on a hand-over, before anything is saved, the launch that
# takes over adds all of its addresses. Usage: takeover-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 gdb
e2e_logs+=("$work/gdb.log")
cleanup() { kill -9 ${debugger_pid:-} ${running_pid:-} ${app_pid:-} 2>/dev/null; }

e2e_offline_settings skipDuplicates '<false/>'
rows() { e2e_sql "select count(*) from ZBOOKMARK where ZURL like '$1'"; }

# Starts kesto under gdb, which kills it when it reaches a function whose name matches the
# pattern: $debugger_pid is gdb's, $running_pid the program's.
start_under_gdb() {  # pattern
  cat >"$work/gdb.cmd" <<G
set pagination off
set confirm off
handle SIGPIPE SIGUSR1 SIGUSR2 SIGCHLD SIGALRM nostop noprint pass
rbreak $1
commands
silent
echo killed at the breakpoint\n
kill
quit
end
run
G
  : >"$work/gdb.log"
  gdb -q -batch -x "$work/gdb.cmd" --args "$kesto" >>"$work/gdb.log" 2>&1 &
  debugger_pid=$!
  win="$(e2e_wait_window '^Kesto$' 60)" || fail "no main window under gdb"
  running_pid="$(xdotool getwindowpid "$win")"
  [[ -n "$running_pid" ]] || fail "the window names no process"
}
# A launch hands a hundred addresses over ($app_pid); gdb kills the running Kesto on the way,
# and the launch takes the library over with a window of its own ($win).
hand_over_and_take_over() {  # host prefix
  local i text=""
  for i in $(seq 1 100); do text+="https://$1$i.example/"$'\n'; done
  "$kesto" --add-text "$text" >>"$work/kesto.log" 2>&1 &
  app_pid=$!
  gone() { ! kill -0 "$running_pid" 2>/dev/null; }
  e2e_wait_until 60 gone || fail "the running Kesto was not killed on the hand-over"
  wait "$debugger_pid" 2>/dev/null
  grep -q 'killed at the breakpoint' "$work/gdb.log" || fail "the running Kesto ended some other way"
  win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "the waiting launch did not take the library over"
}
all_in() { [[ "$(rows "https://$1%")" == 100 ]]; }

# Killed as it answers: the hundred addresses are saved already.
start_under_gdb 'SingleInstance::Impl::replyTo.*_M_invoke'
e2e_close_first_run_panel 30 || fail "no first-run panel"
hand_over_and_take_over saved
e2e_wait_until 20 all_in saved || fail "the saved addresses are not all in the library: $(rows 'https://saved%')"
sleep 2  # what a second adding would have written by now
[[ "$(rows 'https://saved%')" == 100 ]] || fail "the launch that took over added them again: $(rows 'https://saved%')"
[[ "$(e2e_sql 'select count(distinct ZURL) from ZBOOKMARK')" == 100 ]] || fail "doubled addresses in the library"
e2e_quit_kesto
unset app_pid

# Killed as it begins to handle the hand-over: nothing was saved, so every address comes in.
start_under_gdb 'SingleInstance::Impl::runHandler.*_M_invoke'
hand_over_and_take_over unsaved
e2e_wait_until 20 all_in unsaved || fail "the launch that took over did not add the addresses: $(rows 'https://unsaved%')"
[[ "$(rows 'https://saved%')" == 100 ]] || fail "the earlier addresses changed: $(rows 'https://saved%')"
e2e_quit_kesto

echo "a takeover after a hand-over: ok"
