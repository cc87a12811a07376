# Sourced by the build and test scripts: `step NAME COMMAND...` runs COMMAND and prints how long
# it took, so a CI log shows where its time went. The command's exit status is kept.
step() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "[step] $name: $((SECONDS - start)) s (exit $status)"
  return "$status"
}

# `tests_with_slowest BUILD_FOLDER CTEST_ARGS...` runs the folder's tests on every core (test
# programs run whole, a process per shard), then names the ten slowest tests: each test of a
# program, from the XML report every program writes, and each end-to-end script. The status is
# ctest's.
tests_with_slowest() {
  local dir=$1 status=0
  shift
  local reports
  reports="$(cd "$dir" && pwd)/test-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  GTEST_OUTPUT="xml:$reports/" ctest --test-dir "$dir" --parallel "${jobs:-$(nproc 2>/dev/null || echo 2)}" \
    --output-on-failure "$@" 2>&1 | tee "$reports/ctest.log" || status=$?
  empty_test_tmp "$dir"
  python3 - "$reports" <<'PY' || true
import glob, re, sys, xml.etree.ElementTree as ET
folder = sys.argv[1]
times = []
for path in glob.glob(folder + "/*.xml"):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        continue
    for case in root.iter("testcase"):
        times.append((float(case.get("time", "0") or 0), case.get("classname", "") + "." + case.get("name", "")))
with open(folder + "/ctest.log", errors="replace") as log:
    for line in log:
        m = re.search(r"Test +#\d+: (\S*EndToEnd\S*|\S*UnderX11|MenuBarKeyboardLayouts) \.+.*?([\d.]+) sec", line)
        if m:
            times.append((float(m.group(2)), m.group(1)))
print("Slowest tests:")
for seconds, name in sorted(times, reverse=True)[:10]:
    print(f"  {seconds:8.2f} s  {name}")
PY
  return "$status"
}

# `empty_test_tmp BUILD_FOLDER`: what tests left in the run's temporary folder (a program that was
# stopped, a child that aborted on purpose) goes with the run.
empty_test_tmp() {
  [[ ! -d "$1/tmp" ]] || find "$1/tmp" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
}

# `sanitizer_path PATH` prints PATH as the value of a sanitizer option (log_path, suppressions):
# in quotes, since a space would end it, and in the kind of quote the path does not hold, since
# the sanitizers read no escapes.
sanitizer_path() {
  if [[ "$1" != *"'"* ]]; then printf "'%s'" "$1"; else printf '"%s"' "$1"; fi
}

# `test_socket_folder` makes a private folder (0700) for the sockets of a test run and prints its
# path: in $TMPDIR where that path is short, else in /tmp. A socket's path holds at most 107
# bytes, and the build folder, where the rest of what the tests write goes, lies as deep as the
# checkout. The tests' runtime folders lie in it (KESTO_TEST_SOCKET_DIR).
test_socket_folder() {
  local base="${TMPDIR:-/tmp}"
  [[ ${#base} -le 40 && "$base" == /* && -d "$base" && -w "$base" ]] || base=/tmp
  mktemp -d "$base/kesto-run-XXXXXX"
}

# `tests_handed_over BUILD_FOLDER CTEST_ARGS...` runs tests_with_slowest, its sockets in a folder
# of the run's own (test_socket_folder), removed when the run ends, and then, as root on
# someone's behalf, gives the folder and what the tests wrote into it to that user
# (hand_over_build), also when the run is interrupted: Ctrl+C, or a kill of this script alone,
# first ends the tests (a process group of their own) and waits for them, so that nothing they
# write comes after the hand-over, and what they left in the run's temporary folder and its
# sockets' folder goes. The traps are set before the tests start: a signal that comes as they
# start ends them too (the started job is the newest $!). The status is the tests'.
tests_handed_over() {
  local dir=$1 status=0 signal before=${!:-} sockets
  sockets="$(test_socket_folder)" || return
  export KESTO_TEST_SOCKET_DIR="$sockets"
  trap "empty_test_tmp $(printf %q "$dir"); rm -rf -- $(printf %q "$sockets"); hand_over_build $(printf %q "$dir")" EXIT
  for signal in INT TERM HUP; do
    trap "[[ \"\${!:-}\" == '$before' ]] || { kill -TERM -- -\$! 2>/dev/null; wait \$!; }; exit $((128 + $(kill -l "$signal")))" "$signal"
  done
  set -m
  tests_with_slowest "$@" &
  set +m
  wait "$!" || status=$?
  trap - INT TERM HUP
  rm -rf -- "$sockets"
  return "$status"
}

# `sudo_user_entry` prints the passwd entry of the user this script runs for as root through sudo
# (SUDO_UID); fails when it runs as that user itself, as root for nobody else (CI, a container),
# or when no such user exists.
sudo_user_entry() {
  [[ "$(id -u)" == 0 && -n "${SUDO_UID:-}" && "$SUDO_UID" != 0 ]] || return 1
  getent passwd "$SUDO_UID"
}

# `hand_over_build FOLDER`, run from the checkout: as root on someone's behalf (the user who ran
# sudo, else the owner of the checkout), gives FOLDER and everything in it to that user, so that
# they can install from it as themselves (`cmake --install` writes its list of installed files
# into the folder) and build again without root. Nothing changes when that user is root. What lies
# in the test runs' temporary folder (FOLDER/tmp, open to all as /tmp is) stays whose it is: the
# folders of tests running meanwhile (a build during a test run) are theirs, and a run through the
# scripts empties it when it ends. Links are given over, not what they point to.
hand_over_build() {
  local dir=$1 owner entry
  [[ "$(id -u)" == 0 && -d "$dir" ]] || return 0
  if entry="$(sudo_user_entry)"; then
    owner="$(cut -d: -f3,4 <<<"$entry")"
  else
    owner="$(stat -c %u:%g .)"
  fi
  [[ "$owner" != 0:* ]] || return 0
  (cd "$dir" && find . -path './tmp/*' -prune -o -exec chown -h "$owner" {} +)
}

# `as_user UID COMMAND...` runs COMMAND as user UID: as itself when this script runs as UID, with
# that user's ids and groups when it runs as root; fails otherwise.
as_user() {
  local uid=$1 entry
  shift
  if [[ "$(id -u)" == "$uid" ]]; then
    "$@"
  elif [[ "$(id -u)" == 0 ]] && entry="$(getent passwd "$uid")"; then
    setpriv --reuid="$uid" --regid="$(cut -d: -f4 <<<"$entry")" --init-groups "$@"
  else
    return 1
  fi
}

# `bus_answers UID ADDRESS`: the session bus at ADDRESS answers user UID, asked as that user (a
# bus accepts no one but its owner, so another user's bus stays silent), and every socket the
# address names by path is UID's own (a bus configured to let every user in answers anyone, and
# what is sent there reaches its owner). A bus that hangs is given KESTO_BUS_ANSWER_SECONDS (5).
bus_answers() {
  local uid=$1 address=$2 transport key path
  local -a transports keys
  IFS=';' read -ra transports <<<"$address"
  for transport in "${transports[@]}"; do
    [[ "$transport" == unix:* ]] || continue
    IFS=',' read -ra keys <<<"${transport#unix:}"
    for key in "${keys[@]}"; do
      [[ "$key" == path=* ]] || continue
      # Bytes outside the plain set are written %XX.
      path="${key#path=}"
      printf -v path '%b' "${path//%/\\x}"
      [[ -S "$path" && "$(stat -c %u "$path")" == "$uid" ]] || return 1
    done
  done
  local seconds="${KESTO_BUS_ANSWER_SECONDS:-5}"
  as_user "$uid" timeout "$seconds" dbus-send --bus="$address" --print-reply --reply-timeout="$((seconds * 1000))" \
    --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null 2>&1
}

# `display_of DISPLAY` prints the X display DISPLAY names, host:number, without its screen.
display_of() {
  local number="${1##*:}"
  echo "${1%:*}:${number%%.*}"
}

# `machine_id` prints this machine's D-Bus id, which names the files dbus-launch records buses in.
machine_id() {
  local file id
  for file in /etc/machine-id /var/lib/dbus/machine-id; do
    [[ -r "$file" ]] && read -r id <"$file" && [[ -n "$id" ]] && { echo "$id"; return 0; }
  done
  return 1
}

# `user_session_bus UID DISPLAY HOME [PROC_ROOT]`, run as root or as UID, prints the address of
# the session bus of UID's desktop on the X display DISPLAY, found as desktop tools find it when
# the environment does not name it: in the environment of UID's own processes on that display
# (the screen after the dot aside), the address of the longest-running one first, since a
# desktop's own programs start with it and a bus started later beside them (a test's, say) is a
# private one; else in HOME/.dbus/session-bus/<machine id>-<display number>, where dbus-launch
# records it. An address is taken only when its bus answers UID (bus_answers), so a stale one or
# another user's is passed over. PROC_ROOT (/proc) holds the processes. Without a bus it prints
# why, in one line, and fails.
user_session_bus() {
  local uid=$1 display=$2 home=$3 proc=${4:-/proc}
  local pid var shown address stat_line started record address_file line
  local -a fields candidates=()
  if [[ -z "$display" || "$display" != *:* ]]; then
    echo "no X display (DISPLAY) to find your session bus on"
    return 1
  fi
  # Every screen of a display (the number after the dot) shares its bus.
  local wanted
  wanted="$(display_of "$display")"
  while IFS= read -r pid; do
    shown="" address=""
    while IFS= read -r -d '' var || [[ -n "$var" ]]; do
      case "$var" in
        DISPLAY=*) shown="${var#DISPLAY=}" ;;
        DBUS_SESSION_BUS_ADDRESS=*) address="${var#DBUS_SESSION_BUS_ADDRESS=}" ;;
      esac
    done 2>/dev/null <"$proc/$pid/environ"
    [[ -n "$address" && -n "$shown" ]] || continue
    [[ "$(display_of "$shown")" == "$wanted" ]] || continue
    # The start time, in clock ticks since boot: field 22, the 20th after the name's ")".
    started=999999999999999
    if IFS= read -r stat_line 2>/dev/null <"$proc/$pid/stat"; then
      read -ra fields <<<"${stat_line##*) }"
      [[ "${fields[19]:-}" =~ ^[0-9]+$ ]] && started=${fields[19]}
    fi
    candidates+=("$started"$'\t'"$pid"$'\t'"$address")
  done < <(find "$proc" -mindepth 1 -maxdepth 1 -name '[0-9]*' -uid "$uid" -printf '%f\n' 2>/dev/null)
  # Each address once, the longest-running holder's first; then the one dbus-launch recorded.
  local -a addresses=()
  local -A seen=()
  while IFS=$'\t' read -r started pid address; do
    [[ -n "$address" && -z "${seen[$address]:-}" ]] || continue
    seen[$address]=1
    addresses+=("$address")
  done < <(for line in "${candidates[@]}"; do echo "$line"; done | sort -t$'\t' -k1,1n -k2,2n)
  if record="$(machine_id)"; then
    address_file="$home/.dbus/session-bus/$record-${wanted##*:}"
    if [[ -f "$address_file" && ! -L "$address_file" && "$(stat -c %u "$address_file")" == "$uid" ]]; then
      address="$(sed -n "s/^DBUS_SESSION_BUS_ADDRESS='\(.*\)'\$/\1/p" "$address_file" | head -n1)"
      [[ -z "$address" || -n "${seen[$address]:-}" ]] || addresses+=("$address")
    fi
  fi
  for address in "${addresses[@]}"; do
    if bus_answers "$uid" "$address"; then
      echo "$address"
      return 0
    fi
  done
  if (( ${#addresses[@]} )); then
    echo "no session bus named by your processes on display $display or by ~/.dbus/session-bus answers you (${addresses[*]})"
  else
    echo "no process of yours on display $display holds a session bus address, and dbus-launch recorded none for it in ~/.dbus/session-bus"
  fi
  return 1
}

# `exec_as_sudo_user COMMAND...` runs COMMAND in place of this script as the user who ran it
# through sudo, with their home, name, runtime folder and session bus instead of root's (the
# display stays, as sudo keeps it), so that it works on what the user's own start would; as root
# for nobody else it runs COMMAND as root. The session bus is the address sudo kept (sudo drops it
# unless told to keep it), else the bus in the user's runtime folder, else the one the user's
# desktop on this display names (user_session_bus, looked up while still root); without one it
# says why, once, and COMMAND runs without a bus.
exec_as_sudo_user() {
  local entry name uid gid home runtime bus why
  entry="$(sudo_user_entry)" || exec "$@"
  IFS=: read -r name _ uid gid _ home _ <<<"$entry"
  runtime="/run/user/$uid"
  [[ -d "$runtime" && "$(stat -c %u "$runtime")" == "$uid" ]] || runtime=""
  bus="${DBUS_SESSION_BUS_ADDRESS:-}"
  if [[ -z "$bus" && -n "$runtime" && -S "$runtime/bus" && "$(stat -c %u "$runtime/bus")" == "$uid" ]]; then
    bus="unix:path=$runtime/bus"
  fi
  if [[ -z "$bus" ]] && ! bus="$(user_session_bus "$uid" "${DISPLAY:-}" "$home")"; then
    why="$bus" bus=""
    echo "run: Kesto starts without your session bus, so its notifications do not reach your desktop: $why." >&2
  fi
  exec setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR \
    -u DBUS_SESSION_BUS_ADDRESS -u MAIL HOME="$home" USER="$name" LOGNAME="$name" \
    ${runtime:+XDG_RUNTIME_DIR="$runtime"} ${bus:+DBUS_SESSION_BUS_ADDRESS="$bus"} "$@"
}
