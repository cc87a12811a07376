#!/usr/bin/env bash
# Installs, with apt-get, only the Debian 12 packages that Kesto's build, run and tests need and
# that are not there yet. Idempotent. Installing needs root: as another user it goes through sudo
# where sudo may be used (or can ask for the password), else it says what to run. While another
# package manager holds its locks, it waits for them (10 minutes at most).
set -euo pipefail

packages=(
  # compilers and build tools
  build-essential g++ cmake ninja-build ccache pkg-config git
  # Qt 6: Core, Gui, Widgets, Network, DBus, and the image-format plugins
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins qt6-qpa-plugins libgl-dev
  # the page snapshot's off-screen web view (a library of its own)
  qt6-webengine-dev
  # SVG artwork and the fallback icon theme
  qt6-svg-dev adwaita-icon-theme
  # the libraries the platform layers wrap
  libicu-dev libxml2-dev libxml2-utils libsqlite3-dev sqlite3 libminizip-dev zlib1g-dev
  libssl-dev openssl libspdlog-dev libfmt-dev
  # the certificate store the pinned Skyfolder roots are checked against
  ca-certificates
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev unzip
  # X11, global hot keys, and the end-to-end harness
  libx11-dev libxkbcommon-dev libxkbcommon-x11-dev libxcb1-dev libxcb-xkb-dev xvfb openbox xdotool faketime
  x11-utils x11-xkb-utils xdg-utils dbus dbus-x11 fonts-dejavu-core python3 xclip
  # a stand-in notification server, the desktop-entry checker, and a system tray for the
  # menu-bar window's icon
  dbus-tests desktop-file-utils trayer x11-utils
  # an X session manager for the log-out test, and the ICE authority tool it needs
  x11-session-utils x11-xserver-utils
  # the window-manager control the windows test moves windows to other desktops with, and a
  # second window manager, which grants every activation a program asks for
  wmctrl fluxbox
  # the debugger that kills the running Kesto at a chosen point in the takeover test
  gdb
  # the AppStream checker for the installed description, and clang with libFuzzer for the fuzz
  # harnesses, and lld, which links that build
  appstream clang libclang-rt-14-dev lld
  # network namespaces for the reachability tests
  iproute2 util-linux
  # the locales the unit suites also run under (scripts/test-locales.sh)
  locales
)

# The packages dpkg counts as installed: their state, the third word of the status ("install ok
# triggers-pending", "hold ok installed"), says installed whatever their triggers wait for. A
# package of several architectures answers once for each.
declare -A installed=()
while read -r name _ _ state _; do
  case "$state" in installed | triggers-pending | triggers-awaited) installed[$name]=1 ;; esac
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null)
missing=()
for p in "${packages[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

# Runs a command as root: directly, through sudo where sudo may be used (or can ask for the
# password), else it says what is missing ($1) and stops.
as_root() {
  local what=$1
  shift
  if [ "$(id -u)" = 0 ]; then
    "$@"
  elif command -v sudo >/dev/null && { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
    sudo "$@"
  else
    echo "setup: $what, and that needs root" >&2
    echo "setup: run 'bash scripts/setup.sh' as root (for example with sudo), then this command again." >&2
    exit 1
  fi
}

# Another package manager (unattended upgrades, an install in another terminal) may hold its locks
# for minutes: the set-up waits for them, this many seconds at most, rather than fail.
lock_wait=600  # the header and the README say 10 minutes
lock_deadline=

# The package manager's lock files, where this machine's apt configuration puts them.
lock_files() {
  local lists=/var/lib/apt/lists/ status=/var/lib/dpkg/status archives=/var/cache/apt/archives/
  eval "$(apt-config shell lists Dir::State::lists/d status Dir::State::status/f archives Dir::Cache::archives/d 2>/dev/null)"
  printf '%s\n' "${status%/*}/lock-frontend" "${status%/*}/lock" "${lists%/}/lock" "${archives%/}/lock"
}

# Prints the lock file another process holds, if any, from the kernel's list of locks, which
# everyone may read (the files are root's): it names each file by device and inode.
held_lock() {
  local file dev id
  while IFS= read -r file; do
    dev=$(stat -L -c %d "$file" 2>/dev/null) || continue
    id=$(printf '%02x:%02x:%s' $(((dev >> 8) & 0xfff)) $(((dev & 0xff) | ((dev >> 12) & 0xfff00))) \
      "$(stat -L -c %i "$file")")
    if awk -v id="$id" '{ for (i = 1; i <= NF; i++) if ($i == id) found = 1 } END { exit !found }' /proc/locks 2>/dev/null; then
      echo "$file"
      return 0
    fi
  done < <(lock_files)
  return 1
}

# Runs apt-get as root once no other package manager holds its locks, waiting for them until
# lock_deadline; apt-get itself waits for the dpkg lock until then (DPkg::Lock::Timeout), and a run
# that failed while another took a lock meanwhile is run again.
apt_get() {
  local held status told=false
  [ -n "$lock_deadline" ] || lock_deadline=$((SECONDS + lock_wait))
  while :; do
    while held=$(held_lock); do
      if [ "$SECONDS" -ge "$lock_deadline" ]; then
        echo "setup: another package manager still holds $held after $lock_wait s; run this command again once it has finished" >&2
        exit 1
      fi
      $told || echo "setup: another package manager holds $held; waiting for it to finish (at most $lock_wait s)"
      told=true
      sleep 1
    done
    status=0
    as_root "these packages are missing: ${missing[*]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get -o DPkg::Lock::Timeout=$((lock_deadline > SECONDS ? lock_deadline - SECONDS : 0)) "$@" || status=$?
    [ "$status" != 0 ] || return 0
    held_lock >/dev/null && [ "$SECONDS" -lt "$lock_deadline" ] || exit "$status"
  done
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: every package is installed"
fi

# The unit suites also run in a language with a decimal comma and in one with a dotless i.
locales=(de_DE.UTF-8 tr_TR.UTF-8)
absent=()
# Read whole first: grep -q leaves at the first match, and the rest of a long list, written after
# it, would fail the pipeline, which would count a locale that is there as absent.
available="$(locale -a 2>/dev/null)" || available=""
for l in "${locales[@]}"; do
  # locale -a names them in lower case without the dash: de_DE.utf8.
  grep -qix "${l%%.*}.utf-\?8" <<<"$available" || absent+=("$l")
done
if [ ${#absent[@]} -gt 0 ]; then
  echo "setup: generating the locales ${absent[*]}"
  for l in "${absent[@]}"; do
    if grep -q "^# *$l UTF-8" /etc/locale.gen 2>/dev/null; then
      as_root "the locale $l is not generated" sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
    elif ! grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l UTF-8" | as_root "the locale $l is not generated" tee -a /etc/locale.gen >/dev/null
    fi
  done
  as_root "the locales ${absent[*]} are not generated" locale-gen >/dev/null
fi
