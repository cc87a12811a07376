#!/usr/bin/env bash
# The desktop entries of a user who starts Kesto from the build folder and installs it, into
# ~/.local of the session's home and into a prefix standing in for /usr/local (its data folder first
# in XDG_DATA_DIRS), in the orders a user meets them: a start with nothing installed registers the
# build's program with a hidden entry of its own (and cleans up the one an older build wrote under
# the menu entry's id); once an install's entry is there (~/.local's alone, the system's alone,
# both), whatever starts (the build's program, either installed one, each after each) leaves the
# menu entry the desktop finds as the install wrote it, shown in menus, starting the installed
# program and the default for "kesto:" links, with no hidden entry beside it; removing each install
# by its list of files leaves no entry of it, and with none left the build's program registers
# itself again.
# Usage: install-entries-e2e.sh KESTO_BINARY BUILD_FOLDER
set -uo pipefail
kesto="$1" build="$2"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script cmake xdotool sqlite3 xdg-mime
e2e_offline_settings

built="$kesto"
user_prefix="$HOME/.local"
system="$work/system prefix"
export XDG_DATA_DIRS="$system/share:$XDG_DATA_DIRS"
applications="$XDG_DATA_HOME/applications"
hidden="$applications/kesto-handler.desktop"

# Starts a program, waits for its window and quits it: each start registers before its window shows.
start() {  # program
  kesto="$1"
  e2e_start_kesto
  e2e_quit_kesto
}
# Installs into a prefix; its list of files is kept as $work/NAME.list.
install_into() {  # prefix name
  cmake --install "$build" --prefix "$1" >"$work/$2.log" 2>&1 || fail "cmake --install --prefix $1: $(tail -n 5 "$work/$2.log")"
  cp "$build/install_manifest.txt" "$work/$2.list"
}
# Removes an install as CMake installs are undone, by its list; none of its files, and no entry of
# it, is left.
remove_install() {  # prefix name
  xargs -d '\n' rm -f -- <"$work/$2.list"
  local left
  left="$(while IFS= read -r file; do [[ ! -e "$file" ]] || echo "$file"; done <"$work/$2.list")
$(find "$1/share/applications" -name '*.desktop' 2>/dev/null)"
  [[ -z "${left//$'\n'/}" ]] || fail "removing the $2 install by its list left: $left"
}
# The file the desktop reads for an id: the first folder that has it decides.
found_entry() {  # id
  local dir
  IFS=: read -ra dirs <<<"$XDG_DATA_DIRS"
  for dir in "$XDG_DATA_HOME" "${dirs[@]}"; do
    [[ -e "$dir/applications/$1" ]] && { echo "$dir/applications/$1"; return 0; }
  done
  return 1
}
# The default the user's settings name for the links (xdg-mime writes them, after the start).
default_is() { grep -qx "x-scheme-handler/kesto=$1;\?" "$XDG_CONFIG_HOME/mimeapps.list" 2>/dev/null; }
# The menu entry an install wrote is what the desktop finds, shown in menus, starting `program`,
# the links' default, and no hidden entry stands beside it.
installed_entry_handles() {  # program when
  local entry
  entry="$(found_entry kesto.desktop)" || fail "$2: no entry kesto.desktop"
  ! grep -qx 'NoDisplay=true' "$entry" || fail "$2: $entry is hidden from menus: $(cat "$entry")"
  [[ "$(e2e_exec_program "$(sed -n 's/^Exec=//p' "$entry")")" == "$1" ]] ||
    fail "$2: $entry does not start $1: $(cat "$entry")"
  [[ ! -e "$hidden" ]] || fail "$2: a hidden entry stands beside the installed one: $(cat "$hidden")"
  e2e_wait_until 60 default_is kesto.desktop || fail "$2: the links' default is not kesto.desktop: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
}
# The build's program handles the links with its hidden entry alone.
hidden_entry_handles() {  # when
  [[ -z "$(found_entry kesto.desktop)" ]] || fail "$1: an entry kesto.desktop is left: $(found_entry kesto.desktop)"
  [[ -e "$hidden" ]] || fail "$1: the build's program wrote no hidden entry"
  grep -qx 'NoDisplay=true' "$hidden" || fail "$1: its entry shows in menus: $(cat "$hidden")"
  [[ "$(e2e_exec_program "$(sed -n 's/^Exec=//p' "$hidden")")" == "$built" ]] || fail "$1: its entry starts another program: $(cat "$hidden")"
  e2e_wait_until 60 default_is kesto-handler.desktop ||
    fail "$1: the links' default is not kesto-handler.desktop: $(cat "$XDG_CONFIG_HOME/mimeapps.list" 2>&1)"
}

# Nothing installed, and the hidden entry an older build wrote under the menu entry's id.
mkdir -p "$applications"
printf '[Desktop Entry]\nType=Application\nName=Kesto\nExec=%s %%u\nTerminal=false\nNoDisplay=true\nMimeType=x-scheme-handler/kesto;\n' \
  "$(e2e_exec_argument "$built")" >"$applications/kesto.desktop"
start "$built"
hidden_entry_handles "a start from the build folder with nothing installed"

# Installed into ~/.local alone: the build's program, then the installed one, leave its entry be.
install_into "$user_prefix" user
for program in "$built" "$user_prefix/bin/kesto"; do
  start "$program"
  installed_entry_handles "$user_prefix/bin/kesto" "~/.local install, a start of $program"
done
remove_install "$user_prefix" user
start "$built"
hidden_entry_handles "the ~/.local install removed, a start from the build folder"

# Installed as the system's, beside the build's hidden entry: the desktop finds the installed entry
# at once, and every start leaves it so.
install_into "$system" system
[[ "$(found_entry kesto.desktop)" == "$system/share/applications/kesto.desktop" ]] ||
  fail "after the system install the desktop finds $(found_entry kesto.desktop)"
for program in "$built" "$system/bin/kesto"; do
  start "$program"
  installed_entry_handles "$system/bin/kesto" "system install, a start of $program"
done

# Installed into ~/.local too, whose entry the desktop finds first: each program starts after each.
install_into "$user_prefix" user
for program in "$built" "$user_prefix/bin/kesto" "$built" "$system/bin/kesto" "$user_prefix/bin/kesto" \
  "$system/bin/kesto" "$built"; do
  start "$program"
  installed_entry_handles "$user_prefix/bin/kesto" "both installs, a start of $program"
done

# Each install removed by its list: the other one's entry is found again, then none.
remove_install "$user_prefix" user
start "$built"
installed_entry_handles "$system/bin/kesto" "the ~/.local install removed again, a start from the build folder"
remove_install "$system" system
start "$built"
hidden_entry_handles "both installs removed, a start from the build folder"
echo "install entries: ok"
