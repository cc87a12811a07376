#!/usr/bin/env bash
# Runs test programs the way a loaded or paused machine runs them, to find tests that pass only
# when they get the CPU on time: beside busy-looping "hog" processes, and with each program's
# process group stopped (SIGSTOP) and continued (SIGCONT) at random moments (a process the test
# stopped itself stays stopped). A test that waits on what it means passes here; one that
# compares a duration against a bound fails.
#
# Usage: scripts/stress-tests.sh [options] [PROGRAM...] [-- ARGS FOR EVERY PROGRAM]
#   PROGRAM               a test program (path, or a name such as AppTests looked up under
#                         BUILD/Tests); default: every *Tests program under BUILD/Tests, none
#                         when --e2e is given
#   -e, --e2e REGEX       also the end-to-end entries whose names match REGEX ("." for all),
#                         after the programs: one ctest (-L e2e, -P of them at a time) under the
#                         same load, its process group stopped as a program's is
#   -b, --build DIR       build folder (default: build)
#   -H, --hogs N          CPU hog processes beside the tests (default: 4 x the cores; 0: none)
#   -P, --parallel N      test programs running at once (default: 1)
#       --no-pause        never stop the programs
#       --stop MIN-MAX    seconds each stop lasts (default: 0.2-1.5)
#       --every MIN-MAX   seconds between stops (default: 1-4)
#       --no-shuffle      run the tests in their written order (default: --gtest_shuffle)
#       --timeout SECS    a program still running after SECS is killed and counted as failed
#                         (default: 3600)
#   -l, --logs DIR        keep each program's output in DIR (default: a new temporary folder)
#   -h, --help
# Every program runs whole, in its own folder in the build tree, with QT_QPA_PLATFORM=offscreen
# and, as CTest runs it, the build's temporary folder BUILD/tmp as TMPDIR (so paths lie as deep
# as the checkout's); the end-to-end entries run as CTest runs them, each in its private X session.
# At the end the failed tests are listed with the file:line of each failure and the first lines
# of its message; the exit status is 1 when anything failed. The hogs and every stopped program
# are taken back on exit and on Ctrl+C.
#
# Examples:
#   scripts/stress-tests.sh AppTests -- --gtest_filter='DialogTest.*' --gtest_repeat=5
#   scripts/stress-tests.sh -P 3            # every program, three at a time
#   scripts/stress-tests.sh -P 3 --stop 0.5-1.5 --every 0.5-2   # stopped more often: finds more
#   scripts/stress-tests.sh -P 2 --e2e EndToEnd                  # the end-to-end entries alone
set -uo pipefail

usage() { sed -n '/^# Usage:/,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$0"; }

build=build
cores=$(nproc 2>/dev/null || echo 2)
hogs=$((4 * cores))
parallel=1
pause=1
stop_range=0.2-1.5
every_range=1-4
shuffle=1
timeout_s=3600
logs=
e2e=
programs=()
extra=()

while (($#)); do
  case $1 in
    -b|--build) build=$2; shift 2 ;;
    -e|--e2e) e2e=$2; shift 2 ;;
    -H|--hogs) hogs=$2; shift 2 ;;
    -P|--parallel) parallel=$2; shift 2 ;;
    --no-pause) pause=0; shift ;;
    --stop) stop_range=$2; shift 2 ;;
    --every) every_range=$2; shift 2 ;;
    --no-shuffle) shuffle=0; shift ;;
    --timeout) timeout_s=$2; shift 2 ;;
    -l|--logs) logs=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --) shift; extra=("$@"); break ;;
    -*) echo "stress-tests: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) programs+=("$1"); shift ;;
  esac
done

for n in "$hogs" "$parallel" "$timeout_s"; do
  [[ $n =~ ^[0-9]+$ ]] || { echo "stress-tests: not a whole number: $n" >&2; exit 2; }
done
((parallel >= 1)) || parallel=1

# "0.2-1.5" -> "200 1500" (milliseconds)
range_ms() {
  awk -F- -v r="$1" 'BEGIN { split(r, a, "-"); if (a[2] == "") a[2] = a[1];
    if (a[1] !~ /^[0-9.]+$/ || a[2] !~ /^[0-9.]+$/ || a[2] + 0 < a[1] + 0) exit 1;
    printf "%d %d\n", a[1] * 1000, a[2] * 1000 }'
}
read -r stop_min stop_max < <(range_ms "$stop_range") || { echo "stress-tests: bad --stop $stop_range" >&2; exit 2; }
read -r every_min every_max < <(range_ms "$every_range") || { echo "stress-tests: bad --every $every_range" >&2; exit 2; }

[[ -d $build ]] || { echo "stress-tests: no build folder $build" >&2; exit 2; }
build=$(cd "$build" && pwd)

if ((${#programs[@]} == 0)); then
  [[ -n $e2e ]] || while IFS= read -r p; do programs+=("$p"); done \
    < <(find "$build/Tests" -type f -perm -u+x -name '*Tests' 2>/dev/null | sort)
else
  for i in "${!programs[@]}"; do
    p=${programs[$i]}
    if [[ ! -x $p ]]; then
      found=$(find "$build/Tests" -type f -perm -u+x -name "$p" 2>/dev/null | sort | head -n 1)
      [[ -n $found ]] || { echo "stress-tests: no test program $p" >&2; exit 2; }
      p=$found
    fi
    programs[$i]=$(cd "$(dirname "$p")" && pwd)/$(basename "$p")
  done
fi
((${#programs[@]})) || [[ -n $e2e ]] || { echo "stress-tests: no test programs under $build/Tests" >&2; exit 2; }
if [[ -n $e2e ]]; then
  e2e_count=$(ctest --test-dir "$build" -N -L e2e -R "$e2e" 2>/dev/null | sed -n 's/^Total Tests: //p')
  ((${e2e_count:-0})) || { echo "stress-tests: no end-to-end entries match $e2e" >&2; exit 2; }
fi

[[ -n $logs ]] || logs=$(mktemp -d "${TMPDIR:-/tmp}/stress-tests.XXXXXX")
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)
state="$logs/.state"
rm -rf "$state"
mkdir -p "$state"

hog_pids=()
cleaned=0
cleanup() {
  ((cleaned)) && return
  cleaned=1
  local f pid
  # Pausers first, so that nothing stops a program again while it is being taken back.
  for f in "$state"/*.pauser; do [[ -f $f ]] && kill "$(cat "$f")" 2>/dev/null; done
  for f in "$state"/*.runner; do [[ -f $f ]] && kill "$(cat "$f")" 2>/dev/null; done
  for f in "$state"/*.pgid; do
    [[ -f $f ]] || continue
    pid=$(cat "$f")
    kill -CONT -- "-$pid" 2>/dev/null
    kill -TERM -- "-$pid" 2>/dev/null
  done
  ((${#hog_pids[@]})) && kill "${hog_pids[@]}" 2>/dev/null
  sleep 1
  for f in "$state"/*.pgid; do [[ -f $f ]] && kill -KILL -- "-$(cat "$f")" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'echo; echo "stress-tests: interrupted" >&2; cleanup; exit 130' INT TERM HUP

# Milliseconds between MIN and MAX, as the seconds `sleep` takes.
random_sleep() {
  local ms=$(($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1)))
  sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
}

# The processes of group $1 that are stopped already, or about to stop (a SIGSTOP pending), one
# pid a line: a test may stop a process of its own on purpose, and only the test continues it.
# The group's leader, the program or ctest itself, is never one: it stops nothing of its own.
stopped_in_group() {
  local pid stat pending mask
  for pid in $(pgrep -g "$1" 2>/dev/null); do
    ((pid == $1)) && continue
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
    stat=${stat##*) }
    if [[ ${stat:0:1} == T ]]; then
      echo "$pid"
      continue
    fi
    pending=$(awk '/^(SigPnd|ShdPnd):/ { printf "%s ", $2 }' "/proc/$pid/status" 2>/dev/null)
    for mask in $pending; do
      ((0x$mask & (1 << 18))) && { echo "$pid"; break; }  # SIGSTOP is signal 19
    done
  done
}

# Continues the processes of group $1 but those listed in $2 (stopped before this stop).
continue_group() {
  local pid
  for pid in $(pgrep -g "$1" 2>/dev/null); do
    grep -qx "$pid" <<<"$2" || kill -CONT "$pid" 2>/dev/null
  done
  kill -CONT "$1" 2>/dev/null
}

# Stops and continues process group $1 at random moments until it is gone. What it stopped is
# continued before this loop ends however it ends; what was stopped before it stopped the group
# stays stopped, and is named once in file $2.
pauser() {
  local pgid=$1 log=$2 kept= stopping=0 told=' ' pid
  trap '((stopping)) && continue_group "$pgid" "$kept"; exit 0' TERM
  # The group exists once the program's shell has run setsid.
  while ! kill -0 -- "-$pgid" 2>/dev/null; do
    kill -0 "$pgid" 2>/dev/null || return 0
    sleep 0.05
  done
  while kill -0 -- "-$pgid" 2>/dev/null; do
    random_sleep "$every_min" "$every_max"
    kept=$(stopped_in_group "$pgid")
    stopping=1
    kill -STOP -- "-$pgid" 2>/dev/null || break
    random_sleep "$stop_min" "$stop_max"
    continue_group "$pgid" "$kept"
    stopping=0
    for pid in $kept; do
      [[ $told == *" $pid "* ]] && continue
      told+="$pid "
      echo "stress-tests: $pid ($(cat "/proc/$pid/comm" 2>/dev/null)) was stopped already; left stopped" >>"$log"
    done
  done
}

# Runs one program whole in a process group of its own (setsid: its pid is the group's id) and
# writes its exit status to $state/NAME.rc.
run_program() {
  local program=$1 name=$2
  local args=(--gtest_color=no)
  ((shuffle)) && args+=(--gtest_shuffle)
  args+=("${extra[@]}")
  run_group "$name" "$(dirname "$program")" "${program#"$build"/} ${args[*]}" \
    env QT_QPA_PLATFORM=offscreen TMPDIR="$build/tmp" timeout --kill-after=10 "$timeout_s" "$program" "${args[@]}"
}

# Runs the end-to-end entries that match $e2e as one ctest, -P at a time; each entry keeps the
# time limit it is registered with.
run_e2e() {
  run_group e2e "$build" "ctest -L e2e -R '$e2e' --parallel $parallel" \
    ctest --test-dir "$build" -L e2e -R "$e2e" --parallel "$parallel" --output-on-failure
}

# Runs COMMAND in FOLDER in a process group of its own, stopped and continued at random moments,
# its output in $logs/NAME.log, and writes its exit status to $state/NAME.rc.
run_group() {  # name folder shown-command command...
  local name=$1 folder=$2 shown=$3 key log pid rc pauser_pid
  shift 3
  key=$(echo "$folder/$name" | md5sum | cut -c1-8)-$name
  log="$logs/$name.log"
  echo "$BASHPID" >"$state/$key.runner"
  (
    cd "$folder" || exit 1
    echo "$ $shown"
    exec setsid "$@"
  ) >"$log" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$state/$key.pgid"
  if ((pause)); then
    pauser "$pid" "$state/$key.kept" &
    pauser_pid=$!
    echo "$pauser_pid" >"$state/$key.pauser"
  fi
  wait "$pid"
  rc=$?
  if ((pause)); then
    kill "$pauser_pid" 2>/dev/null
    wait "$pauser_pid" 2>/dev/null
    rm -f "$state/$key.pauser"
    [[ -f $state/$key.kept ]] && cat "$state/$key.kept" >>"$log"
    rm -f "$state/$key.kept"
  fi
  # What the program started and left behind in its group goes with it.
  if pgrep -g "$pid" >/dev/null 2>&1; then
    echo "stress-tests: $name left processes running in its group: $(pgrep -g "$pid" | tr '\n' ' ')" >>"$log"
    kill -CONT -- "-$pid" 2>/dev/null
    kill -TERM -- "-$pid" 2>/dev/null
  fi
  rm -f "$state/$key.pgid" "$state/$key.runner"
  echo "$rc" >"$state/$name.rc"
  local verdict=ok
  ((rc == 0)) || verdict="FAILED (exit $rc$( ((rc == 124 || rc == 137)) && echo ", timed out"))"
  printf '%-28s %s  (%s)\n' "$name" "$verdict" "$log"
}

echo "stress-tests: ${#programs[@]} program(s)${e2e:+ and $e2e_count end-to-end entries}, $parallel at a time, $hogs hog(s)," \
  "$( ((pause)) && echo "stopped ${stop_range} s every ${every_range} s" || echo "no stops")," \
  "$( ((shuffle)) && echo shuffled || echo in order); logs in $logs"

for ((i = 0; i < hogs; i++)); do
  (trap - INT TERM; while :; do :; done) &
  hog_pids+=($!)
done

running=0
# Each program's name in the logs: its file name, numbered where two share one (two builds).
names=()
for i in "${!programs[@]}"; do
  names[$i]=$(basename "${programs[$i]}")
  for ((j = 0; j < i; j++)); do
    [[ ${names[$j]} == "${names[$i]}" ]] && names[$i]="${names[$i]}.$i" && break
  done
done

for i in "${!programs[@]}"; do
  while ((running >= parallel)); do
    wait -n 2>/dev/null
    running=$((running - 1))
  done
  run_program "${programs[$i]}" "${names[$i]}" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n 2>/dev/null
  running=$((running - 1))
done
if [[ -n $e2e ]]; then
  run_e2e &
  wait "$!"
fi

((${#hog_pids[@]})) && kill "${hog_pids[@]}" 2>/dev/null
hog_pids=()

# Summary: every failed test with where it failed and the start of its message.
failed=0
echo
echo "==== summary ===="
for i in "${!programs[@]}"; do
  name=${names[$i]}
  rc=$(cat "$state/$name.rc" 2>/dev/null || echo "?")
  [[ $rc == 0 ]] && continue
  failed=1
  echo "$name: exit $rc ($logs/$name.log)"
  awk '
    /^\[ RUN      \] / { test = $4; n = 0; delete lines; next }
    /^[^ ].*:[0-9]+: Failure$/ { at = $0; sub(/ Failure$/, "", at); lines[++n] = "      at " at; take = 3; next }
    take > 0 && !/^\[/ { lines[++n] = "        " $0; take--; next }
    /^\[  FAILED  \] [^ ]+ \(/ { print "  FAILED " $4; for (i = 1; i <= n; i++) print lines[i]; n = 0; take = 0 }
  ' "$logs/$name.log"
  if ! grep -q '^\[  FAILED  \] [^ ]* (' "$logs/$name.log"; then
    echo "  (no failed test reported: the program ended before its report; last lines:)"
    tail -n 5 "$logs/$name.log" | sed 's/^/    /'
  fi
done
if [[ -n $e2e ]] && [[ $(cat "$state/e2e.rc" 2>/dev/null || echo "?") != 0 ]]; then
  failed=1
  echo "end-to-end entries: exit $(cat "$state/e2e.rc" 2>/dev/null || echo "?") ($logs/e2e.log)"
  sed -n '/^The following tests FAILED:/,/^Errors while running/{/^Errors/d;p}' "$logs/e2e.log"
  grep '^[0-9]*: FAIL: \|^FAIL: ' "$logs/e2e.log" | head -n 20 | sed 's/^/  /'
fi
((failed)) || echo "all ${#programs[@]} program(s)${e2e:+ and $e2e_count end-to-end entries} passed"
exit "$failed"
