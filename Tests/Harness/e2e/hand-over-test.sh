#!/usr/bin/env bash
# scripts/test.sh run as root through sudo gives the build folder, and everything the tests wrote
# into it, to the user who ran sudo: when the tests end, when the script alone is killed, and on
# Ctrl+C (the signal to its whole process group). The real test.sh and steps.sh run in a scratch
# checkout whose set-up and build do nothing, and whose ctest is a stand-in that writes a new file
# into the build folder every moment until it is stopped, and a private folder into the run's
# temporary folder and into its sockets' folder as a test's session does; nothing of it may be
# left as root's, nor go on writing after the script has ended, the temporary folder is emptied,
# and the sockets' folder (in /tmp, 0700) removed. A hand-over while tests
# run (a build during the run) leaves their private folders theirs. Needs root (skipped, exit 77,
# otherwise).
# Usage: hand-over-test.sh SOURCE_DIR
set -uo pipefail
source_dir="$(cd "$1" && pwd)"
[[ "$(id -u)" == 0 ]] || { echo "skipped: needs root"; exit 77; }
mkdir -p "${TMPDIR:-/tmp}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kesto-hand-over-XXXXXX")"
# A stand-in that a failed hand-over left writing is ended with the test.
cleanup() {
  local started
  for started in "$scratch"/*/ctest.pid; do [[ -e "$started" ]] && kill "$(cat "$started")" 2>/dev/null; done
  # And the sockets' folders that a failed run left.
  for started in "$scratch"/*/sockets; do [[ -e "$started" ]] && rm -rf "$(cat "$started")"; done
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The user sudo ran for: nobody, there on every Debian machine.
uid="$(id -u nobody)" gid="$(id -g nobody)"

now_ms() { local us="${EPOCHREALTIME//[.,]/}"; echo $((us / 1000)); }
wait_until() {  # seconds command...
  local deadline=$(( $(now_ms) + $1 * 1000 ))
  shift
  until "$@"; do (( $(now_ms) < deadline )) || return 1; sleep 0.05; done
}

# A checkout: the real test.sh and steps.sh, a set-up and a build that do nothing.
checkout() {
  local dir="$scratch/$1"
  mkdir -p "$dir/scripts" "$dir/bin" "$dir/build"
  mkdir -m 1777 "$dir/build/tmp"
  cp "$source_dir/scripts/test.sh" "$source_dir/scripts/steps.sh" "$dir/scripts/"
  printf '#!/bin/sh\n' >"$dir/scripts/setup.sh"
  cp "$dir/scripts/setup.sh" "$dir/scripts/build.sh"
  # ctest makes a private folder in the temporary folder and one in the run's sockets' folder
  # (noting where that is, and its mode), writes $2 files (forever without), one every moment,
  # and marks each start and end.
  printf '#!/usr/bin/env bash\ndir=%q\necho $$ >"$dir/ctest.pid"\nmkdir -m 0700 "$dir/build/tmp/session"\necho "$KESTO_TEST_SOCKET_DIR" >"$dir/sockets"\nstat -c %%a "$KESTO_TEST_SOCKET_DIR" >"$dir/sockets.mode"\nmkdir -m 0700 "$KESTO_TEST_SOCKET_DIR/session"\nfor ((i = 0; i != %s; i++)); do mkdir -p "$dir/build/out/$((i %% 7))"; : >"$dir/build/out/$((i %% 7))/$i"; sleep 0.02; done\necho done >"$dir/ctest.ended"\n' \
    "$dir" "$2" >"$dir/bin/ctest"
  chmod +x "$dir/bin/ctest"
  echo "$dir"
}

# Starts test.sh as sudo starts it for nobody, in a session of its own (so its process group can
# be sent Ctrl+C's signal); its process id in $pid.
start() {  # dir
  (cd "$1" && exec setsid env -i PATH="$1/bin:$PATH" HOME=/root SUDO_USER=nobody SUDO_UID="$uid" SUDO_GID="$gid" \
    KESTO_JOBS=1 bash scripts/test.sh >"$1/test.log" 2>&1) &
  pid=$!
}

# Nothing in the build folder is root's, and the stand-in has stopped writing.
handed_over() {  # dir
  local dir="$1" before
  [[ -e "$dir/ctest.pid" ]] || fail "the tests never started: $(cat "$dir/test.log")"
  wait_until 60 eval '! kill -0 "$(cat "$dir/ctest.pid")" 2>/dev/null' || fail "the tests go on after test.sh ended"
  before="$(find "$dir/build" | wc -l)"
  sleep 0.3
  [[ "$(find "$dir/build" | wc -l)" == "$before" ]] || fail "something still writes into the build folder"
  local root_owned
  root_owned="$(find "$dir/build" ! -uid "$uid" -o ! -gid "$gid" | head -5)"
  [[ -z "$root_owned" ]] || fail "left as root's ($(basename "$dir")): $root_owned"$'\n'"$(cat "$dir/test.log")"
  [[ -z "$(ls -A "$dir/build/tmp")" ]] || fail "the temporary folder holds what the tests left ($(basename "$dir")): $(ls -A "$dir/build/tmp")"
  # The sockets' folder was short and private, and is gone.
  local sockets
  sockets="$(cat "$dir/sockets" 2>/dev/null)"
  [[ "$sockets" == /tmp/kesto-run-* && "$(cat "$dir/sockets.mode" 2>/dev/null)" == 700 ]] ||
    fail "the sockets' folder ($(basename "$dir")): '$sockets', mode $(cat "$dir/sockets.mode" 2>/dev/null)"
  [[ ! -e "$sockets" ]] || fail "the sockets' folder was left ($(basename "$dir")): $(ls -lA "$sockets")"
}

# The tests end by themselves.
dir="$(checkout ended 40)"
start "$dir"
wait "$pid"
[[ -e "$dir/ctest.ended" ]] || fail "the tests did not run to their end: $(cat "$dir/test.log")"
handed_over "$dir"

# test.sh alone is killed (a timeout, `kill`), and Ctrl+C reaches its process group.
for how in TERM INT; do
  dir="$(checkout "$how" -1)"
  start "$dir"
  wait_until 60 test -d "$dir/build/out/6" || fail "the stand-in wrote nothing: $(cat "$dir/test.log")"
  if [[ "$how" == TERM ]]; then kill -TERM "$pid"; else kill -INT -- "-$pid"; fi
  wait "$pid"
  handed_over "$dir"
done
# A build while tests run: the folder goes to the user, the tests' private folders stay root's.
dir="$(checkout running 0)"
mkdir -m 0700 "$dir/build/tmp/session"
: >"$dir/build/built"
(cd "$dir" && SUDO_USER=nobody SUDO_UID="$uid" SUDO_GID="$gid" bash -c '. scripts/steps.sh && hand_over_build build') ||
  fail "hand_over_build failed"
[[ "$(stat -c %u:%g "$dir/build/built" "$dir/build/tmp" | sort -u)" == "$uid:$gid" ]] || fail "the build was not handed over"
[[ "$(stat -c %u "$dir/build/tmp/session")" == 0 ]] || fail "a running test's private folder was handed over"
echo "test.sh hands the build folder over, ended or interrupted: ok"
