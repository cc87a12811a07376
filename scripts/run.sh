#!/usr/bin/env bash
# Installs what is missing, builds Kesto and starts it. Run as root through sudo, it sets up and
# builds as root and starts Kesto as the user who ran sudo, on their own library and settings.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/steps.sh
bash scripts/setup.sh
bash scripts/build.sh
if [ -x build/Source/App/kesto ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: Kesto needs a graphical session: set DISPLAY to an X11 display (for example start Xvfb :99 and export DISPLAY=:99)." >&2
    exit 1
  fi
  exec_as_sudo_user build/Source/App/kesto "$@"
else
  echo "run: everything is built; the application itself (build/Source/App/kesto) does not exist yet."
fi
