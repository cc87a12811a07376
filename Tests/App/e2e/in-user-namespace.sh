#!/usr/bin/env bash
# Runs a command as root of a user namespace of its own (`unshare -r`): id 0 without root's
# powers, where a normal user's end-to-end session runs. Root does so as the owner of the build
# folder when that is another user (a run through sudo hands the folder over): the namespace's
# root stands for the one user who made it, and root alone could not write that user's folder.
# Exits 77 (skipped) where no such namespace can be made.
# Usage: in-user-namespace.sh BUILD_FOLDER COMMAND...
set -euo pipefail
build="$1"
shift
as_owner=()
if [[ "$(id -u)" == 0 && "$(stat -c %u "$build")" != 0 ]]; then
  as_owner=(setpriv --reuid="$(stat -c %u "$build")" --regid="$(stat -c %g "$build")" --clear-groups)
fi
"${as_owner[@]}" unshare -r true 2>/dev/null || { echo "skipped: no user namespace can be made"; exit 77; }
exec "${as_owner[@]}" unshare -r "$@"
