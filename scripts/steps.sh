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

# `tests_handed_over BUILD_FOLDER CTEST_ARGS...` runs tests_with_slowest and then, as root on
# someone's behalf, gives the folder and what the tests wrote into it to that user
# (hand_over_build), also when the run is interrupted: Ctrl+C, or a kill of this script alone,
# first ends the tests (a process group of their own) and waits for them, so that nothing they
# write comes after the hand-over, and what they left in the run's temporary folder goes. The
# traps are set before the tests start: a signal that comes as they start ends them too (the
# started job is the newest $!). The status is the tests'.
tests_handed_over() {
  local dir=$1 status=0 signal before=${!:-}
  trap "empty_test_tmp '$dir'; hand_over_build '$dir'" EXIT
  for signal in INT TERM HUP; do
    trap "[[ \"\${!:-}\" == '$before' ]] || { kill -TERM -- -\$! 2>/dev/null; wait \$!; }; exit $((128 + $(kill -l "$signal")))" "$signal"
  done
  set -m
  tests_with_slowest "$@" &
  set +m
  wait "$!" || status=$?
  trap - INT TERM HUP
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

# `exec_as_sudo_user COMMAND...` runs COMMAND in place of this script as the user who ran it
# through sudo, with their home, name, runtime folder and session bus instead of root's (the
# display stays, as sudo keeps it), so that it works on what the user's own start would; as root
# for nobody else it runs COMMAND as root. The session bus is the address sudo kept (sudo drops it
# unless told to keep it), else the bus in the user's runtime folder.
exec_as_sudo_user() {
  local entry name uid gid home runtime bus
  entry="$(sudo_user_entry)" || exec "$@"
  IFS=: read -r name _ uid gid _ home _ <<<"$entry"
  runtime="/run/user/$uid"
  [[ -d "$runtime" && "$(stat -c %u "$runtime")" == "$uid" ]] || runtime=""
  bus="${DBUS_SESSION_BUS_ADDRESS:-}"
  if [[ -z "$bus" && -n "$runtime" && -S "$runtime/bus" && "$(stat -c %u "$runtime/bus")" == "$uid" ]]; then
    bus="unix:path=$runtime/bus"
  fi
  exec setpriv --reuid="$uid" --regid="$gid" --init-groups \
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR \
    -u DBUS_SESSION_BUS_ADDRESS -u MAIL HOME="$home" USER="$name" LOGNAME="$name" \
    ${runtime:+XDG_RUNTIME_DIR="$runtime"} ${bus:+DBUS_SESSION_BUS_ADDRESS="$bus"} "$@"
}
