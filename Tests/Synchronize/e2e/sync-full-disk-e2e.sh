#!/usr/bin/env bash
# A sync whose own disk is full, in the real kesto program inside xvfb-session.sh: Kesto's
# temporary folder (~/.local/share/kesto/tmp) is a small file system of its own, filled up. The
# first sync cannot zip the library for its upload; then, with another library's payload in the
# synced folder, the next cannot copy it in. Each fails saying that no space is left on the disk
# holding the temporary folder (not blaming the sync file, not as a connection error), and
# nothing is uploaded; once space is back the next sync takes the other library's bookmark in.
# Runs in a mount namespace of its own (as root, or in a user namespace); skipped (77) where
# neither can be made.
# Usage: sync-full-disk-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
if [[ -z "${KESTO_E2E_OWN_MOUNTS:-}" ]]; then
  export KESTO_E2E_OWN_MOUNTS=1
  for how in -m -Urm; do
    unshare "$how" true 2>/dev/null && exec unshare "$how" bash "$0" "$@"
  done
  echo "SKIP: no mount namespace can be made here"
  exit 77
fi
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
synced="$E2E_HOME/Synced Library"
mkdir -p "$synced/Documents"
temp="$XDG_DATA_HOME/kesto/tmp"
mkdir -p -m 0700 "$temp"
if ! mount -t tmpfs -o size=1m,mode=0700 kesto-e2e-small "$temp"; then
  echo "SKIP: no small file system can be mounted here"
  exit 77
fi

e2e_write_settings KestoMigratedToVersion2 '<true/>' CurrentSyncMethod '<string>icloud</string>' \
  SyncedFolderPath "<string>$synced</string>"
chmod 600 "$settings"
e2e_start_kesto
panel="$(e2e_wait_window '^Welcome to Kesto$' 60 "$app_pid")" || fail "no first-run panel"
xdotool windowactivate --sync "$panel" >/dev/null 2>&1
xdotool key Escape

# Nothing left on the small disk.
dd if=/dev/zero of="$temp/filler" bs=64k >/dev/null 2>&1
[[ "$(df --output=avail -k "$temp" | tail -n1 | tr -d ' ')" == 0 ]] || fail "the small file system is not full"
# A sync that fails: the "Sync failed" alert, its message (in the log) naming the full disk.
sync_fails() {  # message screenshot
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  xdotool key ctrl+shift+s
  local alert
  alert="$(e2e_wait_window '^Sync failed$' 60 "$app_pid")" || {
    e2e_screenshot "$shots/$2-no-alert.png"
    fail "no \"Sync failed\" alert"
  }
  e2e_screenshot "$shots/$2.png"
  expected="Sync Failed [Synced folder]: $1"
  told() { grep -qF "$expected" "$work/kesto.log"; }
  e2e_wait_until 30 told || fail "the failure does not say: $1"
  ! grep -q 'must be a regular file' "$work/kesto.log" || fail "the sync file was blamed"
  xdotool windowactivate --sync "$alert" key Return
  gone() { e2e_no_window '^Sync failed$'; }
  e2e_wait_until 30 gone || fail "the alert did not close"
}
full="there is no space left on the disk that holds $temp"
# Nothing synced yet: this library cannot be zipped for the upload.
sync_fails "The sync file could not be zipped: $full" full-disk-upload
[[ ! -e "$synced/Documents/kesto_sync.zip" ]] || fail "something was uploaded"
# Another library's payload, waiting in the synced folder.
python3 - "$synced/Documents/kesto_sync.zip" <<'PY'
import sys, zipfile
xml = ('<?xml version="1.0" encoding="UTF-8"?>\n<kesto-sync-file><kesto-id>kesto-PEER</kesto-id><bookmarks>'
       '<bookmark><id>PEER-1</id><version>1</version><url>https://peer.example.org/</url><title>peer</title>'
       '<folders><folder-id>_inbox</folder-id></folders></bookmark></bookmarks></kesto-sync-file>')
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("tmp.xml", xml)
PY
# It cannot be copied in to be read.
sync_fails "The synced copy of your library could not be copied to this computer: $full" full-disk-download

# Space is back: the next sync brings the other library's bookmark in.
rm -f "$temp/filler"
before="$(grep -c 'Sync Complete \[Synced folder\]' "$work/kesto.log")"
xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool key ctrl+shift+s
completed() { [[ "$(grep -c 'Sync Complete \[Synced folder\]' "$work/kesto.log")" -gt "$before" ]]; }
e2e_wait_until 60 completed || fail "the sync did not complete once space was back"
[[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://peer.example.org/'")" == 1 ]] ||
  fail "the other library's bookmark did not come in"
e2e_quit_kesto
echo "full disk sync e2e passed"
