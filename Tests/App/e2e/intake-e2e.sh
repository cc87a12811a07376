#!/usr/bin/env bash
# Hand-overs to the real kesto program inside xvfb-session.sh: hand-overs arriving while the
# Pinboard row is selected (whose message may come up as an alert) leave Kesto running and store
# every address; a launch while Kesto is stopped waits for it instead of starting a second Kesto,
# and the address is stored once; twenty launches at once of a hundred addresses each, to a Kesto
# busy with a 50,000-bookmark library, give one window and every address once; a launch whose
# address the library could not save ends with an error; a launch that finds the library locked by a process that does not
# answer says so, on its terminal and in a window, and leaves the library alone. Usage: intake-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 flock
count_like() { e2e_sql "select count(*) from ZBOOKMARK where ZURL like '$1'"; }
has_count() { [[ "$(count_like "$1")" == "$2" ]]; }
pids=()
cleanup() {
  e2e_kill -CONT "${app_pid:-}"
  e2e_kill "${app_pid:-}" "${pids[@]}" "${holder_pid:-}"
}

# Thumbnails from a closed loopback port; handed-in addresses go to the Inbox; a stored folder
# order marks this as no first run.
e2e_offline_settings UseInboxForBookmarks '<true/>' sortFoldersByRating '<false/>'

# Kesto's main windows, visible, of any process.
main_windows() { xdotool search --all --onlyvisible --name '^Kesto$' 2>/dev/null | wc -l; }
# Answers every alert Kesto shows (the Pinboard row's "not available" message) with Escape.
close_alerts() {
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$app_pid" --name 'not available' 2>/dev/null); do
    xdotool windowactivate --sync "$id" key Escape 2>/dev/null
  done
}
alive() { kill -0 "$app_pid" 2>/dev/null; }

e2e_start_kesto
e2e_close_first_run_panel 60 || fail "no first-run panel"
[[ -e "$store.lock" ]] || fail "no lock file beside the library"

# 1. The Pinboard row selected (no account: its message may show), then hand-over after
# hand-over, each answered while the folder list reloads.
e2e_click "$win" 80 250
sleep 1
close_alerts
for i in $(seq 1 11); do
  "$kesto" "kesto:https://handover.example/$i" >>"$work/kesto.log" 2>&1 || fail "hand-over $i failed"
  sleep 0.3
  close_alerts
  alive || fail "Kesto ended during hand-over $i"
done
e2e_wait_until 60 has_count 'https://handover.example/%' 11 || fail "handed-over rows: $(count_like 'https://handover.example/%')"
close_alerts
# Running and answering once it has dealt with all of them.
e2e_caught_up "$win" || fail "Kesto does not answer after the hand-overs"
alive || fail "Kesto ended after the hand-overs"

# 2. A stopped Kesto: the launch waits (longer than any time-out of its own) and hands over once
# Kesto runs again; no second Kesto comes up meanwhile.
kill -STOP "$app_pid"
"$kesto" 'kesto:https://x.example/' >>"$work/kesto.log" 2>&1 &
launch_pid=$!
sleep 4
kill -0 "$launch_pid" 2>/dev/null || { kill -CONT "$app_pid"; fail "the launch did not wait for the stopped Kesto"; }
[[ -z "$(xdotool search --all --onlyvisible --pid "$launch_pid" --name '^Kesto$' 2>/dev/null)" ]] \
  || { kill -CONT "$app_pid"; fail "the launch opened a window of its own"; }
kill -CONT "$app_pid"
wait "$launch_pid" || fail "the waiting launch ended with $?"
e2e_wait_until 60 has_count 'https://x.example/' 1 || fail "x.example rows: $(count_like 'https://x.example/')"
close_alerts
# The launch has ended, answered: it started no Kesto of its own, and its address was saved
# before the answer.
[[ "$(main_windows)" == 1 ]] || fail "$(main_windows) main windows after the stopped Kesto went on"
has_count 'https://x.example/' 1 || fail "x.example stored $(count_like 'https://x.example/') times"

# 2b. A library that takes no new bookmark, as a full disk would: the launch is answered only
# after the save, hears that its address was not saved and ends with an error; once the library
# takes bookmarks again, the next hand-over saves both.
e2e_sql "CREATE TRIGGER refuse BEFORE INSERT ON ZBOOKMARK BEGIN SELECT RAISE(ABORT, 'disk full'); END;" \
  || fail "could not make the library refuse bookmarks"
msg="$(timeout 60 "$kesto" 'kesto:https://unsaved.example/' 2>&1)"
rc=$?
[[ $rc -ne 0 && $rc -ne 124 ]] || fail "a hand-over whose address was not saved ended with $rc: $msg"
[[ "$msg" == *"could not save"* ]] || fail "no message: $msg"
has_count 'https://unsaved.example/' 0 || fail "unsaved.example stored"
e2e_sql "DROP TRIGGER refuse" || fail "could not drop the trigger"
for id in $(xdotool search --all --onlyvisible --pid "$app_pid" --name 'cannot save' 2>/dev/null); do
  xdotool windowactivate --sync "$id" key Escape 2>/dev/null
done
"$kesto" 'kesto:https://saved.example/' >>"$work/kesto.log" 2>&1 || fail "the hand-over after the full disk failed"
has_count 'https://saved.example/' 1 || fail "saved.example rows: $(count_like 'https://saved.example/')"
has_count 'https://unsaved.example/' 1 || fail "unsaved.example rows: $(count_like 'https://unsaved.example/')"

e2e_quit_kesto
app_pid=""

# 3. A Kesto busy with a 50,000-bookmark library, and twenty launches at once of a hundred
# addresses each: every launch waits its turn and hands over; no second Kesto comes up.
e2e_grow_library 50000 || fail "could not grow the library"
"$kesto" >>"$work/kesto.log" 2>&1 &
app_pid=$!
e2e_wait_window '^Kesto$' 60 "$app_pid" >/dev/null || fail "no main window with the large library"
pids=()
for l in $(seq 1 20); do
  text="kesto:"
  for a in $(seq 1 100); do text+="https://burst.example/$l/$a"$'\n'; done
  "$kesto" "$text" >>"$work/kesto.log" 2>&1 &
  pids+=($!)
done
running() { local n=0 p; for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && n=$((n + 1)); done; echo "$n"; }
none_left() { [[ "$(running)" == 0 ]]; }
e2e_wait_until 180 none_left || fail "$(running) of the twenty launches still running ($(main_windows) main windows)"
for p in "${pids[@]}"; do wait "$p" || fail "a launch ended with $?"; done
pids=()
e2e_wait_until 120 has_count 'https://burst.example/%' 2000 || fail "burst rows: $(count_like 'https://burst.example/%')"
# Every launch has ended, answered once its addresses were saved: no more rows can come.
windows="$(main_windows)" rows="$(count_like 'https://burst.example/%')"
echo "info: twenty concurrent launches at 50,000 bookmarks: $windows window(s), $rows rows for 2,000 addresses"
[[ "$windows" == 1 && "$rows" == 2000 ]] || fail "$windows windows and $rows rows"
e2e_quit_kesto
app_pid=""

# 4. The library's lock held by a process that answers nothing: the launch says so, ends, and
# leaves the library as it was.
before="$(stat -c %Y.%s "$store")"
# The holder is the process that keeps the locked descriptor: killing it releases the lock.
( exec 9>"$store.lock"; flock 9; exec sleep 120 ) >/dev/null 2>&1 &
holder_pid=$!
held() { ! flock -n "$store.lock" true; }
e2e_wait_until 60 held || fail "the holder did not take the lock"
# Said in a window too (started from the menu, no terminal shows), which quits it.
"$kesto" 'kesto:https://never.example/' >"$work/held.log" 2>&1 &
held_pid=$!
held_alert="$(e2e_wait_window '^The library is open in another Kesto$' 60 "$held_pid")" ||
  fail "no window says the library is held: $(cat "$work/held.log")"
e2e_caught_up "$held_alert" || fail "the launch does not answer"
e2e_screenshot "${E2E_SHOTS:-$work}/library-held.png"
e2e_key "$held_alert" Return
wait "$held_pid"
rc=$?
msg="$(cat "$work/held.log")"
[[ $rc -eq 1 ]] || fail "a launch that cannot hand over ended with $rc: $msg"
[[ "$msg" == *"does not answer"* ]] || fail "no message: $msg"
[[ "$(stat -c %Y.%s "$store")" == "$before" ]] || fail "the library was written"
has_count 'https://never.example/' 0 || fail "never.example stored"
kill "$holder_pid"
holder_pid=""
echo "ok"
