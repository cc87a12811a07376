#!/usr/bin/env bash
# scripts/run.sh through sudo finds the user's session bus when sudo dropped its address and there
# is no bus in the user's runtime folder (a desktop started by dbus-launch): the bus in the
# environment of the user's own processes on the same display, the longest-running first and only
# one that answers the user, else the one dbus-launch recorded in ~/.dbus/session-bus; never
# another user's, even one that lets every user in. The processes are a made-up folder of
# <pid>/environ and stat files, the buses real private ones the test starts. As root the user is
# nobody, and exec_as_sudo_user itself is run for nobody against a real process of nobody's; as a
# normal user the user is that user, and what needs a second user (processes, files and buses of
# someone else, exec_as_sudo_user) is skipped.
# Usage: session-bus-test.sh SOURCE_DIR
set -uo pipefail
source_dir="$(cd "$1" && pwd)"
command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null || { echo "skipped: needs dbus-daemon and dbus-send"; exit 77; }
. "$source_dir/scripts/steps.sh"
# A bus that answers does so at once; the test may be paused while it asks.
export KESTO_BUS_ANSWER_SECONDS=300
mkdir -p "${TMPDIR:-/tmp}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kesto-session-bus-XXXXXX")"
started=()
cleanup() {
  [[ ${#started[@]} == 0 ]] || kill "${started[@]}" 2>/dev/null
  rm -rf "$scratch"
  [[ -z "${gone_socket:-}" ]] || rm -f "${gone_socket%%,*}"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ "$(id -u)" == 0 ]]; then
  uid="$(id -u nobody)" gid="$(id -g nobody)" root=true
else
  uid="$(id -u)" gid="$(id -g)" root=false
  echo "not root: the cases with another user's processes, files and bus, and exec_as_sudo_user, are skipped"
fi

# A private bus of user $1's, its address in $bus; the daemon reads its configuration (bus.conf,
# or $2 in the scratch folder) through an open descriptor, so that it need not reach the checkout.
cp "$source_dir/Tests/Harness/e2e/private-bus.conf" "$scratch/bus.conf"
# The same, open to every user: a bus like that answers anyone, so only its owner tells it apart.
sed 's|<policy context="default">|&\n    <allow user="*"/>|' "$scratch/bus.conf" >"$scratch/open-bus.conf"
grep -q '<allow user="\*"/>' "$scratch/open-bus.conf" || fail "no open bus configuration"
chmod 644 "$scratch/bus.conf" "$scratch/open-bus.conf"
start_bus() {  # uid [configuration]
  local as=()
  [[ "$1" == "$(id -u)" ]] || as=(setpriv --reuid="$1" --regid="$(id -g "$1")" --init-groups)
  "${as[@]}" dbus-daemon --config-file=/dev/fd/5 --fork --print-address=3 --print-pid=4 \
    3>"$scratch/address" 4>"$scratch/pid" 5<"$scratch/${2:-bus.conf}" || fail "no bus for $1"
  started+=("$(head -n1 "$scratch/pid")")
  bus="$(head -n1 "$scratch/address")"
}
start_bus "$uid"; first="$bus"
start_bus "$uid"; second="$bus"
# A bus whose daemon was killed: its socket is left, the user's, and nothing answers there.
start_bus "$uid"; gone="$bus"
kill -KILL "${started[-1]}"
unset 'started[-1]'
gone_socket="${gone#unix:path=}"
[[ -S "${gone_socket%%,*}" ]] || fail "the killed bus left no socket: $gone"

# A process: its owner, display, bus address and start time (clock ticks since boot).
proc="$scratch/proc"
process() {  # pid owner display address start
  mkdir -p "$proc/$1"
  printf 'HOME=/nowhere\0DISPLAY=%s\0DBUS_SESSION_BUS_ADDRESS=%s\0LANG=C\0' "$3" "$4" >"$proc/$1/environ"
  printf '%s (sh (x)) S%s %s 0 0\n' "$1" "$(printf ' 0%.0s' {1..18})" "$5" >"$proc/$1/stat"
  [[ "$2" == "$(id -u)" ]] || chown -R "$2" "$proc/$1"
}
found() {  # display home → $out, $status
  status=0
  out="$(user_session_bus "$uid" "$1" "$2" "$proc")" || status=$?
}

# On display :5 the oldest process of the user's holds a bus that has gone: the next oldest's is
# taken, not a later one's, nor that of a process on another display (older still).
process 100 "$uid" :5.0 "$gone" 10
process 200 "$uid" :5 "$first" 20
process 300 "$uid" :5 "$second" 30
process 400 "$uid" :6 "$second" 1
# A process without a display, and one whose environment cannot be read, count for nothing.
process 500 "$uid" "" "$second" 2
mkdir -p "$proc/600"
[[ "$uid" == "$(id -u)" ]] || chown "$uid" "$proc/600"
if $root; then
  # Processes of someone else's, older still, holding the user's bus or their own.
  start_bus 0; roots="$bus"
  process 50 0 :5 "$second" 0
  # And a process of the user's that names another user's bus: it does not answer the user.
  process 60 "$uid" :5 "$roots" 5
  # Nor is root's bus taken that lets every user in: it answers the user, but it is not theirs,
  # and what Kesto tells the desktop (titles, addresses) would reach whoever reads it.
  start_bus 0 open-bus.conf; open="$bus"
  as_user "$uid" dbus-send --bus="$open" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetId >/dev/null 2>&1 || fail "root's open bus does not answer $uid: the case shows nothing"
  process 70 "$uid" :5 "$open" 6
fi
for display in :5 :5.1; do
  found "$display" "$scratch/home"
  [[ $status == 0 && "$out" == "$first" ]] || fail "display $display: got ($status) '$out', wanted $first"
done

# Only a bus that has gone: it says so, naming the address it tried.
process 700 "$uid" :9 "$gone" 1
found :9 "$scratch/home"
[[ $status != 0 && "$out" == "no session bus named by your processes on display :9 or by ~/.dbus/session-bus answers you ($gone)" ]] ||
  fail "a gone bus: ($status) '$out'"

# No process on display :7: the address dbus-launch recorded for this machine and display.
machine_id() { echo 0123456789abcdef0123456789abcdef; }
home="$scratch/home"
mkdir -p "$home/.dbus/session-bus"
record="$home/.dbus/session-bus/0123456789abcdef0123456789abcdef-7"
printf "# a comment\nDBUS_SESSION_BUS_ADDRESS='%s'\nDBUS_SESSION_BUS_PID=1\n" "$second" >"$record"
chown -R "$uid:$gid" "$home"
found :7 "$home"
[[ $status == 0 && "$out" == "$second" ]] || fail "the dbus-launch record: got ($status) '$out', wanted $second"
# For another display there is none, and it says so in one line.
found :8 "$home"
[[ $status != 0 && "$out" == "no process of yours on display :8 holds a session bus address, and dbus-launch recorded none for it in ~/.dbus/session-bus" ]] ||
  fail "no bus on :8: ($status) '$out'"
if $root; then
  # A record that is not the user's own is not taken.
  chown 0 "$record"
  found :7 "$home"
  [[ $status != 0 ]] || fail "a record of root's was taken: $out"
fi

if ! $root; then
  echo "the user's session bus is found: ok (as a normal user)"
  exit 0
fi

# exec_as_sudo_user for nobody, sudo having dropped the address, and no bus in nobody's runtime
# folder: a real process of nobody's on the display (a name of this test's own) holds the bus.
[[ ! -e "/run/user/$uid/bus" ]] || { echo "skipped: nobody has a runtime bus here"; exit 77; }
display="kesto-session-bus-$$:3"
setpriv --reuid="$uid" --regid="$gid" --init-groups env -i DISPLAY="$display" DBUS_SESSION_BUS_ADDRESS="$first" \
  sleep 600 &
started+=("$!")
run_for_nobody() {  # display → $out, $err
  out="$(cd / && env -u DBUS_SESSION_BUS_ADDRESS SUDO_USER=nobody SUDO_UID="$uid" SUDO_GID="$gid" \
    DISPLAY="$1" bash -c '. "$1"; exec_as_sudo_user sh -c "echo \"\${DBUS_SESSION_BUS_ADDRESS:-none} \$(id -u)\""' \
    _ "$source_dir/scripts/steps.sh" 2>"$scratch/err")"
  err="$(cat "$scratch/err")"
}
wait_for_sleep() { [[ "$(tr '\0' '\n' <"/proc/${started[-1]}/environ" 2>/dev/null)" == *"$first"* ]]; }
for ((i = 0; i < 600; i++)); do wait_for_sleep && break; sleep 0.1; done
run_for_nobody "$display"
[[ "$out" == "$first $uid" && -z "$err" ]] || fail "exec_as_sudo_user: '$out', said '$err'"
# On a display where nobody has no process: it runs without a bus and says why, once.
run_for_nobody "kesto-session-bus-$$:4"
[[ "$out" == "none $uid" ]] || fail "exec_as_sudo_user without a bus: '$out'"
[[ "$err" == "run: Kesto starts without your session bus, so its notifications do not reach your desktop: no process of yours on display kesto-session-bus-$$:4 holds a session bus address, and dbus-launch recorded none for it in ~/.dbus/session-bus." ]] ||
  fail "exec_as_sudo_user without a bus said: '$err'"
echo "the user's session bus is found: ok"
