#!/usr/bin/env bash
# scripts/setup.sh takes a package as installed by its state alone, whatever its triggers wait for,
# and installs only what is missing; while another package manager holds one of its locks it waits
# for it instead of failing. The package manager is made of stand-ins on PATH (dpkg-query answers
# each package's status from a table, apt-get notes how it was run, apt-config names lock files in
# a scratch folder, sudo runs the command as it is), so nothing is installed. Runs as root and as a
# normal user.
# Usage: setup-packages-test.sh SOURCE_DIR
set -uo pipefail
source_dir="$(cd "$1" && pwd)"
command -v python3 >/dev/null || { echo "skipped: needs python3 to hold a lock"; exit 77; }
mkdir -p "${TMPDIR:-/tmp}"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/kesto-setup-XXXXXX")"
holder="" setup_pid=""
cleanup() {
  [[ -z "$holder" ]] || kill "$holder" 2>/dev/null
  [[ -z "$setup_pid" ]] || kill "$setup_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

now_ms() { local us="${EPOCHREALTIME//[.,]/}"; echo $((us / 1000)); }
wait_until() {  # seconds command...
  local deadline=$(( $(now_ms) + $1 * 1000 ))
  shift
  until "$@"; do (( $(now_ms) < deadline )) || return 1; sleep 0.05; done
}

bin="$scratch/bin" states="$scratch/states" log="$scratch/apt-get.log"
mkdir -p "$bin" "$states" "$scratch/lists" "$scratch/dpkg" "$scratch/archives"
stand_in() {  # name body
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$bin/$1"
  chmod +x "$bin/$1"
}
# dpkg-query -W -f='${Package} ${Status}\n' PACKAGE...: for each, the lines of states/PACKAGE, else
# installed; a package dpkg does not know ("absent") is told on stderr, and fails the query.
stand_in dpkg-query "dir=$(printf %q "$states")"'
status=0
for p in "${@:3}"; do
  state="install ok installed"
  [[ -e "$dir/$p" ]] && state="$(cat "$dir/$p")"
  if [[ "$state" == absent ]]; then echo "dpkg-query: no packages found matching $p" >&2; status=1; continue; fi
  while IFS= read -r line; do printf "%s %s\n" "$p" "$line"; done <<<"$state"
done
exit $status'
stand_in apt-get "printf '%s\\n' \"\$*\" >>$(printf %q "$log")"
stand_in apt-config "$(printf 'echo %q\n' "lists=$(printf %q "$scratch/lists/")" "status=$(printf %q "$scratch/dpkg/status")" \
  "archives=$(printf %q "$scratch/archives/")")"
stand_in sudo '[[ "$1" != -n ]] || shift; exec "$@"'
# The locales the set-up generates are there, in a list longer than a pipe holds (as where every
# locale is installed): a reader that stops at the first match must not count them absent.
stand_in locale 'printf "%s\n" C.utf8 de_DE.utf8 tr_TR.utf8; seq -f "xx_XX%g.utf8" 20000'

setup() {  # runs the set-up; its output in $scratch/out
  : >"$log"
  PATH="$bin:$PATH" bash "$source_dir/scripts/setup.sh" </dev/null >"$scratch/out" 2>&1
}
# What apt-get installed, the packages only.
installs() { sed -n 's/.* install -y -qq --no-install-recommends //p' "$log"; }

# Packages of the set-up's list, one for each state, in the list's order.
names=(git libxml2-dev unzip xvfb xdotool faketime xclip gdb)
state_of() {  # package state
  printf '%s\n' "$2" >"$states/$1"
}
# Every state dpkg counts as installed, and several architectures of which one is installed.
rm -f "$states"/*
i=0
for state in "install ok installed" "install ok triggers-pending" "install ok triggers-awaited" "hold ok installed" \
  "deinstall ok installed" "hold ok triggers-pending" $'deinstall ok config-files\ninstall ok triggers-awaited'; do
  state_of "${names[i++]}" "$state"
done
setup || fail "the set-up failed: $(cat "$scratch/out")"
grep -q "every package is installed" "$scratch/out" && [[ ! -s "$log" ]] ||
  fail "installed packages were taken as missing: $(cat "$scratch/out")"
! grep -q "generating the locales" "$scratch/out" || fail "locales that are there were generated: $(cat "$scratch/out")"

# The states of a package that is not (or not yet wholly) there, and a package dpkg does not know:
# those alone are installed.
rm -f "$states"/*
i=0
for state in "install ok not-installed" "unknown ok not-installed" "deinstall ok config-files" "install ok half-installed" \
  "install reinstreq half-installed" "install ok unpacked" "install ok half-configured" absent; do
  state_of "${names[i++]}" "$state"
done
setup || fail "the set-up failed: $(cat "$scratch/out")"
[[ "$(installs)" == "${names[*]}" ]] || fail "apt-get installed '$(installs)', not '${names[*]}': $(cat "$log")"
grep -q -- "-o DPkg::Lock::Timeout=[1-9][0-9]* install " "$log" ||
  fail "the install does not wait for the package manager's lock: $(cat "$log")"

# Another package manager holds the lock of the package lists (apt-get update's, where apt-get
# itself does not wait): the set-up says so and waits; once it is let go, it updates and installs.
python3 -c '
import fcntl, os, signal, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o640)
fcntl.lockf(fd, fcntl.LOCK_EX)
open(sys.argv[2], "w").close()
signal.pause()' "$scratch/lists/lock" "$scratch/held" &
holder=$!
wait_until 30 test -e "$scratch/held" || fail "the lock was not taken"
rm -f "$states"/*
state_of dbus "install ok unpacked"
: >"$log"
(PATH="$bin:$PATH" exec bash "$source_dir/scripts/setup.sh" </dev/null >"$scratch/out" 2>&1) &
setup_pid=$!
wait_until 60 grep -q "waiting" "$scratch/out" || fail "the set-up does not say it waits: $(cat "$scratch/out")"
grep -q "at most [0-9]" "$scratch/out" || fail "the set-up does not say how long it waits: $(cat "$scratch/out")"
kill -0 "$setup_pid" 2>/dev/null || fail "the set-up ended while the lock was held: $(cat "$scratch/out")"
[[ ! -s "$log" ]] || fail "apt-get ran while another held the lock: $(cat "$log")"
kill "$holder"
wait "$holder" 2>/dev/null
holder=""
wait "$setup_pid" || fail "the set-up failed once the lock was let go: $(cat "$scratch/out")"
setup_pid=""
[[ "$(sed -n 1p "$log")" == *" update -qq" && "$(installs)" == dbus ]] || fail "after the wait, apt-get ran: $(cat "$log")"
echo "the set-up counts installed packages by their state and waits for the package manager: ok"
