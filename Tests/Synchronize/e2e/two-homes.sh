#!/usr/bin/env bash
# Helpers of the scripts that run two real kesto programs ("machines" A and B), each with its own
# home (library and settings), syncing through one synced folder inside xvfb-session.sh. Sourced
# after lib.sh and e2e_app_script; $kesto is the program.
shared="$E2E_HOME/Shared Folder"
mkdir -p "$shared"
declare -A pid win

home_of() { echo "$E2E_HOME/$1"; }
store_of() { echo "$(home_of "$1")/.local/share/kesto/data.sqlite"; }
log_of() { echo "$(home_of "$1")/kesto.log"; }
fail() {
  echo "FAIL: $*" >&2
  for m in A B; do echo "--- $m" >&2; cat "$(log_of $m)" >&2 2>/dev/null; done
  exit 1
}
cleanup() { for m in A B; do e2e_kill "${pid[$m]:-}"; done; }

# Runs kesto as machine $1 (its own HOME, XDG folders and runtime folder, the last in the
# session's, whose path is short enough for a socket); env becomes kesto, so a background run's
# process id is the program's.
as() {
  local h r; h="$(home_of "$1")" r="$XDG_RUNTIME_DIR/$1"; shift
  exec env HOME="$h" XDG_CONFIG_HOME="$h/.config" XDG_DATA_HOME="$h/.local/share" XDG_CACHE_HOME="$h/.cache" \
    XDG_STATE_HOME="$h/.local/state" XDG_RUNTIME_DIR="$r" KESTO_TIMING_LOG="$h/marks.log" \
    "$kesto" "$@" >>"$h/kesto.log" 2>&1
}
hand() { (as "$@"); }
launch() {  # machine [stocked]
  local h; h="$(home_of "$1")"
  mkdir -p "$h/.config/kesto" "$h/.local/share" "$h/.cache" "$h/.local/state"
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR/$1"
  # Set up as the wizard leaves it (the start-up migration already done, so it keeps the method).
  settings="$h/.config/kesto/defaults.plist" e2e_write_settings KestoMigratedToVersion2 '<true/>' \
    CurrentSyncMethod '<string>icloud</string>' SyncedFolderPath "<string>$shared</string>"
  chmod 600 "$h/.config/kesto/defaults.plist"
  (as "$1") &
  pid[$1]=$!
  win[$1]="$(e2e_wait_window '^Kesto$' 60 "${pid[$1]}")" || fail "no main window for $1"
  # An empty library offers the first-run panel ("launch M stocked": the library is not empty).
  [[ "${2:-}" == stocked ]] && return
  local panel
  panel="$(e2e_wait_window '^Welcome to Kesto$' 60 "${pid[$1]}")" || fail "no first-run panel for $1"
  xdotool windowactivate --sync "$panel" >/dev/null 2>&1
  xdotool key Escape
}
sql() { store="$(store_of "$1")" e2e_sql "$2"; }
count() { sql "$1" "select count(*) from ZBOOKMARK"; }
state() { sql "$1" "select ZUNIQUEID || ' ' || ZURL || ' ' || ZTRASHED from ZBOOKMARK order by ZUNIQUEID"; }
completions() { grep -c 'Sync Complete \[Synced folder\]' "$(log_of "$1")"; }
keys() { xdotool windowactivate --sync "${win[$1]}" >/dev/null 2>&1; shift; xdotool key --delay 60 "$@"; }
# Clicks in machine $1's window and goes on once its program has taken the click in.
click() {
  xdotool windowactivate --sync "${win[$1]}" >/dev/null 2>&1
  e2e_click "${win[$1]}" "$2" "$3"
  e2e_caught_up "${win[$1]}" || fail "$1 did not answer"
}
# Machine $1's list drawn with $3 rows after its mark $2 (its program's timing marks).
list_drawn() { marks="$(home_of "$1")/marks.log" e2e_list_drawn "$2" "$3"; }
marks_count() { marks="$(home_of "$1")/marks.log" e2e_marks_count; }
# Whether machine $1's inspector shows a bookmark (its title field is drawn).
chosen() { [[ "$(e2e_pixel 1170 146 "${win[$1]}")" != "$(e2e_pixel 1170 600 "${win[$1]}")" ]]; }
# Starts a sync on machine $1; sync_wait waits for its next completion.
declare -A before
sync_start() { before[$1]="$(completions "$1")"; keys "$1" ctrl+shift+s; }
sync_wait() {
  local m="$1"
  done_() { [[ "$(completions "$m")" -gt "${before[$m]}" ]]; }
  e2e_wait_until 60 done_ || { e2e_screenshot "$shots/two-stuck.png"; fail "the sync of $m did not complete"; }
}
sync_one() { sync_start "$1"; sync_wait "$1"; }
has() { [[ "$(count "$1")" == "$2" ]]; }
