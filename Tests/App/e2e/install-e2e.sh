#!/usr/bin/env bash
# Kesto installed as a desktop application: `cmake --install` into a scratch prefix puts the
# program, its desktop entry, its icons and its AppStream description in place, which the
# desktop's own checkers accept, lists every file it wrote in its manifest (as the build folder's
# owner's, also after an install as root) and refreshes the desktop's cache, so GIO knows the
# handler of "kesto:" links before a start; the installed program starts from its entry's Exec
# line, which names it by its full path (the prefix's bin folder is not on PATH; the prefix holds a
# space), and leaves the "kesto:" links to that entry (no hidden entry of its own in front of it or
# beside it) and takes a link handed to it the same way. Nothing is installed outside the prefix: staged with DESTDIR,
# every path written lies under it, and a user who may write nothing but the prefix (nobody,
# when the test may act as root) installs there without an error. And the README's steps end in
# success: `bash scripts/run.sh` as root for a user (as sudo runs it; the user is made for the
# test and removed after it) starts Kesto as that user, on their library, then `cmake --install
# build --prefix ~/.local` as that user.
# Usage: install-e2e.sh KESTO_BINARY BUILD_FOLDER
set -uo pipefail
build="$2"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script cmake desktop-file-validate appstreamcli xdotool sqlite3

# The build folder may be another user's (the scripts hand it over when run as root through sudo):
# the list of installed files that each install writes into it is the folder owner's, also after
# an install as root, so that the owner's own install, and the test that runs as the owner, can
# write it again. When a check stops the test, the list goes back to that owner.
build_owner="$(stat -L -c %u:%g "$build")"
user=""
give_back_list() {
  [[ -e "$build/install_manifest.txt" && "$(stat -c %u:%g "$build/install_manifest.txt")" != "$build_owner" ]] ||
    return 0
  chown "$build_owner" "$build/install_manifest.txt"
}
install_from_build() {  # cmake --install arguments...
  local status=0 list="$build/install_manifest.txt"
  cmake --install "$build" "$@" || status=$?
  if [[ -e "$list" && "$(stat -c %u:%g "$list")" != "$(stat -L -c %u:%g "$build")" ]]; then
    echo "cmake --install as $(id -un) left its list of installed files $(stat -c %U "$list")'s, not the build folder's owner's" >&2
    return 1
  fi
  return "$status"
}
# The program and helpers end as before; the build folder goes back to its owner and the user made
# for the README's steps away. The folders of other tests in the run's temporary folder stay
# theirs, as the scripts leave them (hand_over_build).
cleanup() {
  e2e_kill ${app_pid:-} "${e2e_pids[@]}"
  if [[ -n "$user" ]]; then
    (cd "$build" && find . -path './tmp/*' -prune -o -exec chown -h "$build_owner" {} +)
    # Where its runtime folder (in the temporary folder, as deep as the checkout) is too long for
    # a socket, the user's Kesto listens in a short folder of the user's in /tmp.
    rm -rf "/tmp/kesto-$(id -u "$user")"
    userdel "$user" 2>/dev/null
  fi
  give_back_list
  [[ -z "${others:-}" ]] || rm -rf "$others"
}
trap cleanup EXIT

prefix="$work/installed prefix"
# Staged: every path the install writes lies under the prefix.
DESTDIR="$work/stage" install_from_build --prefix "$prefix" >"$work/stage.log" 2>&1 || fail "staged: $(tail -n 5 "$work/stage.log")"
(cd "$work/stage" && find . ! -type d | sed 's/^\.//' | sort) >"$work/staged.txt"
grep -qxF -- "$prefix/share/kesto/file.webloc" "$work/staged.txt" || fail "no data file in the prefix: $(cat "$work/staged.txt")"
outside="$(awk -v p="$prefix/" 'index($0, p) != 1' "$work/staged.txt")"
[[ -z "$outside" ]] || fail "installed outside the prefix $prefix: $outside"
# Root's powers, not root's number: in a user namespace of its own (`unshare -r`, where a normal
# user's session runs) the id is 0, yet no file can be given to another user nor a process run as
# one. Whether a scratch folder can be given to nobody and nobody then owns it as itself. Folders
# that other users work in lie in the test run's temporary folder, in the build folder and open to
# all as /tmp is: the session's home, which holds $work, only root may enter.
root_powers=false
as_nobody=(setpriv --reuid="$(id -u nobody 2>/dev/null)" --regid="$(id -g nobody 2>/dev/null)" --clear-groups)
if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  [[ -d "$build/tmp" ]] || mkdir -p -m 1777 "$build/tmp"
  others="$(mktemp -d "$build/tmp/kesto-install-XXXXXX")" && chmod 1777 "$others" || fail "no scratch folder in $build/tmp"
  probe="$others/probe"
  mkdir "$probe"
  chown nobody "$probe" 2>/dev/null && "${as_nobody[@]}" test -O "$probe" 2>/dev/null && root_powers=true
  rm -rf "$probe"
fi
# Other users reach the build folder only where its path is open to them (not in a home that its
# owner alone may enter): there the steps as other users are left out.
reach=false
if $root_powers; then
  if "${as_nobody[@]}" test -r "$build/cmake_install.cmake" -a -w "$others"; then
    reach=true
  else
    echo "the steps as other users are left out: they cannot reach $build" >&2
  fi
fi

# As a user who may write the prefix alone (nobody, where the test may act as root), into a
# prefix of its own: the same files, and no error but the one about the build folder's list,
# which it cannot write.
if $reach; then
  own="$(mktemp -d "$others/nobody-XXXXXX")" && chown nobody "$own"
  "${as_nobody[@]}" env HOME="$own" cmake --install "$build" --prefix "$own/prefix" >"$work/nobody.log" 2>&1
  (cd "$own/prefix" && find . ! -type d ! -name mimeinfo.cache | sed "s|^\.|$prefix|" | sort) >"$work/nobody.txt"
  rm -rf "$own"
  [[ "$(grep -c 'CMake Error' "$work/nobody.log")" -le 1 && "$(sed -n '/CMake Error/,$p' "$work/nobody.log" | grep -c -e '^-- ' -e 'cannot create')" == 0 ]] ||
    fail "the install as nobody failed: $(cat "$work/nobody.log")"
  diff "$work/staged.txt" "$work/nobody.txt" >&2 || fail "nobody's install differs from the staged one"
fi

# The README's steps, where the test may make a user (root's powers, and the user database
# writable) and the build folder is the one the scripts build. The user's home lies outside the
# session's.
src="$(cd "$(dirname "$0")/../../.." && pwd)"
if ! $reach || ! command -v useradd >/dev/null || [[ ! -w /etc/passwd ]]; then
  echo "the README's steps are not followed: the test may not make a user and act as one" >&2
elif [[ "$(cd "$build" && pwd)" != "$src/build" ]]; then
  echo "the README's steps are not followed: the scripts build $src/build, the test was given $build" >&2
else
  user_home="$(mktemp -d "$others/home-XXXXXX")"
  useradd --no-create-home --home-dir "$user_home" --shell /bin/sh --user-group "kesto-e2e-$$" ||
    fail "no user could be made"
  user="kesto-e2e-$$"
  chown "$user:" "$user_home"
  # As root on the user's behalf, with a home of root's own: set-up, build and start. Without a
  # runtime folder of its own the user's Kesto has one made in the temporary folder, which must be
  # one the user may write.
  root_home="$work/root home"
  mkdir -p "$root_home"
  (cd "$src" && SUDO_USER="$user" SUDO_UID="$(id -u "$user")" SUDO_GID="$(id -g "$user")" HOME="$root_home" \
    TMPDIR="$others" \
    XDG_CONFIG_HOME="$root_home/.config" XDG_DATA_HOME="$root_home/.local/share" \
    XDG_CACHE_HOME="$root_home/.cache" XDG_STATE_HOME="$root_home/.local/state" \
    exec bash scripts/run.sh) >"$work/run.log" 2>&1 &
  app_pid=$! e2e_logs+=("$work/run.log")
  shown() { xdotool search --onlyvisible --pid "$app_pid" --name '^Kesto$' >/dev/null 2>&1; }
  shown_or_ended() { shown || e2e_ended; }
  e2e_wait_until 600 shown_or_ended
  shown || fail "scripts/run.sh did not start Kesto"
  # Started as the user, in their home: the library their own later start opens.
  [[ "$(ps -o uid= -p "$app_pid" | tr -d ' ')" == "$(id -u "$user")" ]] ||
    fail "scripts/run.sh started Kesto as $(ps -o user= -p "$app_pid"), not as $user"
  e2e_wait_until 30 test -f "$user_home/.local/share/kesto/data.sqlite" && [[ ! -e "$root_home/.local/share/kesto" ]] ||
    fail "scripts/run.sh did not open the library in the user's home: $(find "$root_home" "$user_home" -name data.sqlite)"
  e2e_quit_kesto
  [[ "$(stat -L -c %U "$build")" == "$user" ]] || fail "the build folder is not the user's after scripts/run.sh"
  # As the user, in a clean environment, the README's command as written. Their ~/.local holds
  # their library already, and the entry their Kesto wrote: afterwards it holds the staged files
  # besides.
  user_files() { (cd "$user_home/.local" && find . ! -type d ! -name mimeinfo.cache | sed "s|^\.|$prefix|" | sort); }
  user_files >"$work/user-before.txt"
  setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups \
    env -i PATH="$PATH" HOME="$user_home" bash -c 'cd "$1" && cmake --install build --prefix ~/.local' _ "$src" \
    >"$work/user.log" 2>&1 || fail "cmake --install as the user failed: $(cat "$work/user.log")"
  ! grep -q 'CMake Error' "$work/user.log" || fail "cmake --install as the user said: $(cat "$work/user.log")"
  diff <(sort -u "$work/user-before.txt" "$work/staged.txt") <(user_files) >&2 ||
    fail "the user's install differs from the staged one"
fi

install_from_build --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install: $(tail -n 5 "$work/install.log")"
entry="$prefix/share/applications/kesto.desktop"
# Every file it wrote is in its list, so removing what the list names removes the whole install.
diff <(sort "$build/install_manifest.txt") <(find "$prefix" ! -type d ! -name mimeinfo.cache | sort) >&2 ||
  fail "the install's list of files is not what it installed"
# Where the desktop's tool is there, the folder's cache knows the entry at once: GIO (which reads
# the cache) names it the links' handler before Kesto ever started.
if command -v update-desktop-database >/dev/null; then
  grep -q '^x-scheme-handler/kesto=\(.*;\)\?kesto\.desktop;' "$prefix/share/applications/mimeinfo.cache" 2>/dev/null ||
    fail "the desktop's cache names no handler of kesto: links: $(cat "$prefix/share/applications/mimeinfo.cache" 2>&1)"
  if gio="$(PATH=/usr/local/bin:/usr/bin:/bin command -v gio)"; then
    mkdir -p "$work/no settings"
    XDG_CONFIG_HOME="$work/no settings" XDG_DATA_DIRS="$prefix/share:$XDG_DATA_DIRS" \
      DBUS_SESSION_BUS_ADDRESS=unix:path=/dev/null LC_ALL=C.UTF-8 LANGUAGE= "$gio" mime x-scheme-handler/kesto >"$work/gio.log" 2>&1
    grep -q ': kesto\.desktop$' "$work/gio.log" || fail "GIO names no handler of kesto: links: $(cat "$work/gio.log")"
  fi
fi
desktop-file-validate "$entry" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/org.kesto.Kesto.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  fail "the AppStream description does not validate: $(cat "$work/appstream.log")"
[[ -s "$prefix/share/icons/hicolor/scalable/apps/kesto.svg" ]] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256 512; do
  [[ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/kesto.png" ]] || fail "no ${size}x${size} icon"
done
grep -qx 'MimeType=x-scheme-handler/kesto;' "$entry" || fail "the entry does not handle kesto: links"
[[ "$(sed -n 's/^Icon=//p' "$entry")" == kesto ]] || fail "the entry names another icon"

# Started as the desktop starts it: the Exec line's program, read with the value's escapes and
# the quoting undone, is the installed one by its full path, whatever PATH holds.
exec_line="$(sed -n 's/^Exec=//p' "$entry")"
program="$(e2e_exec_program "$exec_line")"
[[ "$program" == "$prefix/bin/kesto" ]] || fail "the Exec line '$exec_line' does not start $prefix/bin/kesto"
kesto="$program"
# Where the desktop finds the entry (the prefix's data folder first, as a system's is), the program
# writes no hidden entry of its own, neither in front of the installed one nor beside it.
export XDG_DATA_DIRS="$prefix/share:$XDG_DATA_DIRS"
e2e_start_kesto
for hidden in kesto.desktop kesto-handler.desktop; do
  [[ ! -e "$XDG_DATA_HOME/applications/$hidden" ]] || fail "the installed program wrote $hidden: $(cat "$XDG_DATA_HOME/applications/$hidden")"
done

# A link handed over as the desktop hands it (%u filled in) reaches the running program.
"$program" 'kesto:https://installed.example/page' >>"$work/kesto.log" 2>&1 || fail "the hand-over failed"
stored() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://installed.example/page'")" == 1 ]]; }
e2e_wait_until 60 stored || fail "the handed-over link was not stored"
e2e_quit_kesto
echo "install: ok"
