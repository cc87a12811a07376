#!/usr/bin/env bash
# A private X session started from a user's desktop sees none of it: a browser installed for
# everyone and made the default (in the data and configuration folders and the user's own), the
# user's openers first on PATH, a desktop and a session bus announced. Inside, xdg-open, gio and
# the desktop's own xdg-open (which falls back on $BROWSER) reach only the session's stand-ins,
# no default browser is found, and no program of the user's starts.
# Usage: own-desktop-e2e.sh XVFB_SESSION_SCRIPT
set -uo pipefail
session="$1"
mkdir -p "${TMPDIR:-/tmp}"
user="$(mktemp -d "${TMPDIR:-/tmp}/kesto-user-desktop-XXXXXX")"
trap 'rm -rf "$user"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "$0")/lib.sh"

mkdir -p "$user/bin" "$user/share/applications" "$user/xdg" "$user/home/.config"
for program in firefox-esr xdg-open gio x-www-browser sensible-browser; do
  printf '#!/bin/bash\nprintf "%%s %%s\\n" "${0##*/}" "$*" >>%q\n' "$user/started.log" >"$user/bin/$program"
  chmod +x "$user/bin/$program"
done
printf '[Desktop Entry]\nType=Application\nName=Firefox ESR\nExec=%s %%u\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n' \
  "$(e2e_exec_argument "$user/bin/firefox-esr")" >"$user/share/applications/firefox-esr.desktop"
defaults='[Default Applications]
x-scheme-handler/http=firefox-esr.desktop
x-scheme-handler/https=firefox-esr.desktop'
for list in share/applications/mimeapps.list share/applications/defaults.list xdg/mimeapps.list \
            xdg/gnome-mimeapps.list home/.config/mimeapps.list; do
  echo "$defaults" >"$user/$list"
done

inside() {
  set -u
  [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}${XDG_CURRENT_DESKTOP:-}${SESSION_MANAGER:-}" ]] || { echo "a desktop is announced"; exit 1; }
  local dir
  IFS=: read -ra dirs <<<"$XDG_DATA_DIRS"
  for dir in "${dirs[@]}" "$XDG_DATA_HOME"; do
    [[ ! -e "$dir/applications" ]] || { echo "desktop entries in $dir"; exit 1; }
  done
  [[ -z "$(xdg-mime query default x-scheme-handler/https 2>/dev/null)" ]] || { echo "a default browser is set"; exit 1; }
  xdg-open https://example.org/stand-in
  gio open https://example.org/gio
  "$E2E_XDG_OPEN" https://example.org/fallback >/dev/null 2>&1
  grep -qx https://example.org/stand-in "$E2E_HOME/xdg-open.log" || { echo "xdg-open is not the session's"; exit 1; }
  grep -q https://example.org/gio "$E2E_HOME/gio.log" || { echo "gio is not the session's"; exit 1; }
  grep -qx https://example.org/fallback "$E2E_HOME/browser.log" || { echo "the desktop's xdg-open found another browser"; exit 1; }
}
export -f inside

out="$(HOME="$user/home" XDG_CONFIG_HOME="$user/home/.config" XDG_DATA_DIRS="$user/share:/usr/local/share:/usr/share" \
  XDG_CONFIG_DIRS="$user/xdg:/etc/xdg" PATH="$user/bin:$PATH" BROWSER="$user/bin/firefox-esr" \
  XDG_CURRENT_DESKTOP=GNOME DESKTOP_SESSION=gnome SESSION_MANAGER="local/nowhere:@/tmp/.ICE-unix/1" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$user/bus" "$session" -- bash -c inside 2>&1)" ||
  fail "inside the session: $out"
[[ ! -e "$user/started.log" ]] || fail "programs of the user's were started: $(cat "$user/started.log")"
echo "a private session owns its desktop: ok"
