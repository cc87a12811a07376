#!/usr/bin/env bash
# Runs a command inside a private X session: Xvfb on a free display, openbox (or E2E_WM) as the
# window manager, a fresh HOME, XDG folders and XDG_RUNTIME_DIR, so sessions run side by side never
# meet (a second kesto hands its arguments to the one whose runtime folder it shares). Reports of
# sanitized programs fail the session.
# Usage: xvfb-session.sh [--size WxH] -- command [args...]
# The command sees DISPLAY and E2E_HOME; the session ends (and its processes with it) when the
# command exits, whose status becomes this script's.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../../../scripts/steps.sh"

# Where the machine allows it, the command runs in a network of its own with only a loopback
# device: nothing a test starts (the sample bookmarks' pages, thumbnails, update checks) leaves
# the machine, while the stand-in servers the scripts start on 127.0.0.1 run inside with the
# program. As root a network namespace, else one inside a user namespace of our own; where
# neither can be made, or with E2E_NETWORK=shared, the command shares the machine's network.
# Xvfb and the window manager stay outside: sessions in namespaces of their own would all take
# display :0 (its abstract socket is free in each) and overwrite each other's socket file, which
# is how the command, inside, reaches its server.
inside=()
if [[ "${E2E_NETWORK:-}" != shared ]]; then
  for how in -n -rn; do
    if unshare "$how" ip link set lo up 2>/dev/null; then
      inside=(unshare "$how" bash -c 'ip link set lo up && exec "$@"' e2e-network)
      break
    fi
  done
fi
export E2E_NETWORK="${inside[*]:+private}"
: "${E2E_NETWORK:=shared}"

size="1280x800"
if [[ "${1:-}" == "--size" ]]; then size="$2"; shift 2; fi
[[ "${1:-}" == "--" ]] && shift

# A test run's temporary folder (in the build folder) may not be there yet; open to all as /tmp is.
[[ -d "${TMPDIR:-/tmp}" ]] || mkdir -p -m 1777 "${TMPDIR:-/tmp}"
home="$(mktemp -d "${TMPDIR:-/tmp}/kesto-e2e-XXXXXX")"
# The runtime folder, where the sockets are (the program's, a bus's), is short, in the system's
# temporary folder: a socket's path holds at most 107 bytes, and the home lies as deep as the
# checkout. A run through the scripts names a folder of its own for it (KESTO_TEST_SOCKET_DIR),
# removed when the run ends; where the session may not write there (run as the build's owner),
# or without one, /tmp. Private (0700), and removed with the session.
runtime="$(mktemp -d "${KESTO_TEST_SOCKET_DIR:-/tmp}/kesto-e2e-XXXXXX" 2>/dev/null)" ||
  runtime="$(mktemp -d /tmp/kesto-e2e-XXXXXX)"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
       XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" \
       XDG_RUNTIME_DIR="$runtime" E2E_HOME="$home" KESTO_TEST_SOCKET_DIR="$runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$home/tmp"
# What the command and its programs make in the temporary folder (a program's drag files, a
# script's scratch folders) goes with the session, even from a program the script killed.
export TMPDIR="$home/tmp"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP \
      DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION KDE_SESSION_VERSION
# The system's data and configuration folders stand in as folders of links to everything in them
# but desktop entries, default programs and autostart entries, as the unit tests' harness has them
# (Tests/Harness/TestMain.cpp): the session finds only the browsers and handlers it makes itself.
own_dirs() {  # variable default pattern-to-leave-out...
  local list="${!1:-$2}" dirs=() dir entry pattern n=0 out=""
  IFS=: read -ra dirs <<<"$list"
  for dir in "${dirs[@]}"; do
    [[ -n "$dir" ]] || continue
    mkdir -p "$home/desktop/$1-$n"
    for entry in "$dir"/* "$dir"/.[!.]*; do
      [[ -e "$entry" ]] || continue
      for pattern in "${@:3}"; do
        # shellcheck disable=SC2053 # a pattern
        [[ "${entry##*/}" == $pattern ]] && continue 2
      done
      ln -s "$entry" "$home/desktop/$1-$n/"
    done
    out+="${out:+:}$home/desktop/$1-$n"
    n=$((n + 1))
  done
  export "$1=$out"
}
own_dirs XDG_DATA_DIRS /usr/local/share:/usr/share applications
own_dirs XDG_CONFIG_DIRS /etc/xdg autostart mimeapps.list '*-mimeapps.list'
export QT_QPA_PLATFORM=xcb
# Scripts that import the harness's python modules leave no caches beside them in the checkout.
export PYTHONDONTWRITEBYTECODE=1
# Nothing the session starts opens anything outside it: xdg-open, xdg-email, gio and the browser
# that the desktop's own xdg-open falls back on ($BROWSER) are stand-ins that write their
# arguments, one a line, to $E2E_HOME/xdg-open.log (xdg-email.log, gio.log, browser.log) and do
# nothing else, so keys that go astray (a dialog that opened late) open no browser. A script that
# needs the desktop's own xdg-open finds it at $E2E_XDG_OPEN (empty when there is none): the
# system's, never one the user put first on PATH.
export E2E_XDG_OPEN="$(PATH=/usr/local/bin:/usr/bin:/bin command -v xdg-open || true)"
mkdir -p "$home/bin"
for program in xdg-open xdg-email gio browser; do
  printf '#!/bin/bash\nprintf "%%s\\n" "$@" >>%q\n' "$home/$program.log" >"$home/bin/$program"
  chmod +x "$home/bin/$program"
done
# $BROWSER names the stand-in, found first on PATH: the desktop's xdg-open splits it at spaces,
# which the session's home may hold (a checkout's path).
export PATH="$home/bin:$PATH" BROWSER=browser
# A program built with the sanitizers (build-asan) writes its reports here: a memory error,
# undefined behaviour, or a leak found when it ends. Any report fails the session, whatever the
# script checked, so programs the script ended or never waited for are checked too.
mkdir -p "$home/sanitizer"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}log_path=$(sanitizer_path "$home/sanitizer/asan")"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}log_path=$(sanitizer_path "$home/sanitizer/ubsan")"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(sanitizer_path "$here/lsan.supp"):print_suppressions=0"
# Main-thread stalls of the programs under test are written here and told at the end.
export KESTO_STALL_LOG="${KESTO_STALL_LOG-$home/stalls.log}"

wm_pid="" xvfb_pid=""
cleanup() {
  local pid
  if [[ -s "$KESTO_STALL_LOG" ]]; then
    echo "main-thread stalls over ${KESTO_STALL_MS:-100} ms in this session:" >&2
    grep -A12 '^main thread busy' "$KESTO_STALL_LOG" | head -120 >&2
  fi
  # Only a child still running is signalled: one that ended was reaped at once, and on a busy
  # machine its number soon belongs to another program (another session's X server).
  running_child() {
    local ppid stat
    read -r ppid stat < <(ps -o ppid=,stat= -p "$1" 2>/dev/null)
    [[ "$ppid" == "$$" && "$stat" != Z* ]]
  }
  for pid in $wm_pid $xvfb_pid; do running_child "$pid" && kill "$pid" 2>/dev/null; done
  # fluxbox now and then deadlocks in its own handler of the signal; what has not ended within
  # 10 s is killed.
  local deadline=$((SECONDS + 10))
  for pid in $wm_pid $xvfb_pid; do
    while running_child "$pid" && ((SECONDS < deadline)); do sleep 0.1; done
    running_child "$pid" && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
  done
  [[ -n "${KESTO_KEEP_E2E_HOME:-}" ]] || rm -rf "$home" "$runtime"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to the pipe. Its keys never repeat (-r): on a
# loaded machine a key's release can come late, and a repeated key would type into whatever
# took the focus meanwhile.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -r >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 display <&"$fd" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

# The window manager is openbox, or the one E2E_WM names (openbox or fluxbox); a script that tests
# what differs between them runs once under each.
wm="${E2E_WM:-openbox}"
command -v "$wm" >/dev/null || { echo "skipped: $wm is not installed"; exit 77; }
case "$wm" in
  openbox)
    # openbox runs its startup command once it has read its configuration and grabbed its keys
    # (Alt+F4 among them), which comes after it has claimed the screen.
    # openbox splits that command as a shell would: the path is quoted, since the session's home
    # may hold spaces (a checkout's path).
    openbox --startup "touch '${home//\'/\'\\\'\'}/.wm-started'" >"$home/wm.log" 2>&1 &
    ;;
  fluxbox)
    # fluxbox has no startup command: it is ready once it names its check window on the root,
    # which it does after it has read its configuration. Four desktops, no toolbar or slit that
    # would take room or windows of their own.
    mkdir -p "$home/.fluxbox"
    printf '%s\n' 'session.screen0.workspaces: 4' 'session.screen0.toolbar.visible: false' \
      'session.screen0.slit.autoHide: true' >"$home/.fluxbox/init"
    fluxbox -rc "$home/.fluxbox/init" >"$home/wm.log" 2>&1 &
    touch "$home/.wm-started"
    ;;
  *) echo "unknown window manager E2E_WM=$wm" >&2; exit 2 ;;
esac
wm_pid=$!

# Wait until the window manager has taken the screen (it then names its check window on the
# root; xprop exits 0 whether or not the property is there, so look for the window id itself)
# and has started up completely.
wm_ready() {
  [[ -e "$home/.wm-started" ]] && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id # 0x'
}
deadline=$((SECONDS + ${E2E_WM_TIMEOUT:-30}))
until wm_ready; do
  if ! kill -0 "$wm_pid" 2>/dev/null || ((SECONDS >= deadline)); then
    echo "the window manager did not start on $DISPLAY:" >&2
    cat "$home/wm.log" >&2
    exit 1
  fi
  sleep 0.1
done

# The first key a fresh server receives is now and then lost (a session's first Alt+F4 went
# unanswered about once in forty sessions under load; none in 160 once a key had gone before it),
# so a harmless one goes first.
xdotool key shift

set +e
"${inside[@]}" "$@"
status=$?
for report in "$home"/sanitizer/*; do
  [[ -e "$report" ]] || continue
  echo "sanitizer report $(basename "$report"):" >&2
  cat "$report" >&2
  status=1
done
exit $status
