#!/usr/bin/env bash
# Runs a command inside a private X session: Xvfb on a free display, openbox as the window
# manager, a fresh HOME and XDG folders. Usage: xvfb-session.sh [--size WxH] -- command [args...]
# The command sees DISPLAY and E2E_HOME; the session ends (and its processes with it) when the
# command exits, whose status becomes this script's.
set -euo pipefail

size="1280x800"
if [[ "${1:-}" == "--size" ]]; then size="$2"; shift 2; fi
[[ "${1:-}" == "--" ]] && shift

home="$(mktemp -d "${TMPDIR:-/tmp}/kesto-e2e-XXXXXX")"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
       XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" E2E_HOME="$home"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

# Xvfb picks a free display and writes its number to the pipe.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 10 display <&"$fd" || { echo "Xvfb did not start" >&2; kill "$xvfb_pid" 2>/dev/null; exit 1; }
export DISPLAY=":$display"

openbox >/dev/null 2>&1 &
wm_pid=$!

cleanup() {
  kill "$wm_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$wm_pid" "$xvfb_pid" 2>/dev/null || true
  [[ -n "${KESTO_KEEP_E2E_HOME:-}" ]] || rm -rf "$home"
}
trap cleanup EXIT

# Give the window manager a moment to take the screen.
for _ in $(seq 50); do xdotool getactivewindow >/dev/null 2>&1 && break; xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 && break; sleep 0.1; done

set +e
"$@"
status=$?
exit $status
