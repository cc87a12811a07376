#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh, as a user meets it: a file imported through
# File > Import stores the base address of each bookmark (the lower-case scheme and the site as
# written, user and port included; the scheme alone for "mailto:"); a double click on an ftp:
# bookmark, in the library window and in the menu-bar window, asks first: Cancel opens nothing
# and leaves its times opened, its last-opened date and Visited Today as they were, Open hands it
# over and counts once. Help > Check for Updates against a host that trickles its reply ends
# with "did not answer in time" within 15 s, as the program's own log times it, the moments it
# stood still as the check started or ended not counted. Usage:
# visits-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/visits-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/card-search.sh"

# The update host answers at once, then sends a byte a second and never ends.
python3 - "$work/port" >"$work/trickle.log" 2>&1 <<'PY' &
import socket, sys, threading, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
def serve(c):
    try:
        c.recv(4096)
        c.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1000\r\n\r\n")
        while True:
            time.sleep(1)
            c.sendall(b"9")
    except OSError:
        pass
while True:
    c, _ = s.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
e2e_pids+=("$!") e2e_logs+=("$work/trickle.log")
e2e_wait_until 60 test -s "$work/port" || fail "no update host"
e2e_offline_settings KestoUpdateURL "<string>http://127.0.0.1:$(cat "$work/port")/update/update.txt</string>"
: >"$E2E_HOME/xdg-open.log"
e2e_start_kesto
e2e_close_first_run_panel 60 || fail "no first-run panel"
e2e_wait_until 60 e2e_no_window '^Welcome to Kesto$' || fail "Escape left the first-run panel open"

file="$work/visits.html"
{
  printf '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">\n'
  printf '<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n'
  for u in 'HTTPS://User:PW@Host.Example:8080/a/b?c' 'mailto:someone@example.org' 'ftp://files.example/pub/'; do
    printf '<DT><A HREF="%s">T %s</A>\n' "$u" "$u"
  done
  printf '</DL><p>\n'
} >"$file"
e2e_import_file "$file"
imported() { [[ "$(e2e_sql 'select count(*) from ZBOOKMARK')" == 3 ]]; }
e2e_wait_until 60 imported || fail "the file was not imported: $(e2e_sql 'select ZURL from ZBOOKMARK')"
base_of() { e2e_sql "select ZBASEURL from ZBOOKMARK where ZURL like '$1%'"; }
[[ "$(base_of 'https://User')" == "https://User:PW@Host.Example:8080" ]] || fail "base address '$(base_of 'https://User')'"
[[ "$(base_of 'mailto:')" == "mailto:" ]] || fail "base address '$(base_of 'mailto:')'"

visit() { e2e_sql "select ZTIMESOPENED || '|' || ifnull(ZLASTOPENED, '') from ZBOOKMARK where ZURL = 'ftp://files.example/pub/'"; }
[[ "$(visit)" == "0|" ]] || fail "the ftp bookmark starts as '$(visit)'"
asked='^Open a “ftp:” address'
question() { e2e_wait_window "$asked" "${1:-3}" "$app_pid"; }
# Double-clicks at a point of a window until the question shows; a question already there (one
# that came late) is not clicked at again.
ask_at() {  # window x y [click delay in ms]
  e2e_no_window "$asked" || return 0
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
  xdotool mousemove --window "$1" "$2" "$3" click --repeat 2 --delay "${4:-100}" 1
  question >/dev/null 2>&1
}

# The library window: the search leaves the ftp bookmark alone in the list.
search_library "files.example"
# Quick double clicks as well as slow ones, each on a bookmark not selected before it.
e2e_wait_until 60 ask_at "$win" 600 220 30 || fail "a double click on the ftp bookmark asked nothing"
q="$(question)" || fail "no question"
e2e_key "$q" Return  # Cancel, the default
e2e_wait_until 60 e2e_no_window "$asked" || fail "Return left the question open"
[[ "$(visit)" == "0|" ]] || fail "Cancel in the library window counted a visit: '$(visit)'"
e2e_wait_until 60 ask_at "$win" 600 220 30 || fail "the second double click asked nothing"
q="$(question)" || fail "no question"
# By now the program has long dealt with the Cancel: it counted nothing and opened nothing.
[[ "$(visit)" == "0|" ]] || fail "Cancel in the library window counted a visit: '$(visit)'"
[[ ! -s "$E2E_HOME/xdg-open.log" ]] || fail "Cancel opened $(cat "$E2E_HOME/xdg-open.log")"
e2e_key "$q" Tab space  # Open
counted() { [[ "$(visit)" == 1\|?* ]]; }
e2e_wait_until 60 counted || fail "Open did not count the visit: '$(visit)'"
grep -qx "ftp://files.example/pub/" "$E2E_HOME/xdg-open.log" || fail "Open opened nothing"
# Visited Today, in the calendar tab, lists it.
e2e_click "$win" 90 87
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/visited-today.png" "$win"

# The menu-bar window: Cancel leaves the visit as Open left it.
before="$(visit)"
: >"$E2E_HOME/xdg-open.log"
e2e_key "$win" super+alt+ctrl+p
menu="$(e2e_wait_window '^Kesto Bookmarks$' 60 "$app_pid")" || fail "no menu-bar window"
e2e_wait_until 60 search_in_menu files || fail "the search in the menu-bar window showed no card"
e2e_wait_until 60 ask_at "$menu" 280 150 80 || fail "a double click on the card asked nothing"
q="$(question)" || fail "no question"
e2e_key "$q" Return  # Cancel
e2e_wait_until 60 e2e_no_window "$asked" || fail "Return left the question open"
# Looked at once the program has dealt with the answer, and again after it ended.
cancelled_in_menu() {
  [[ "$(visit)" == "$before" ]] || fail "Cancel in the menu-bar window counted a visit: '$(visit)', was '$before'"
  [[ ! -s "$E2E_HOME/xdg-open.log" ]] || fail "Cancel opened $(cat "$E2E_HOME/xdg-open.log")"
}
e2e_caught_up "$win" || fail "kesto did not answer"
cancelled_in_menu

# Help > Check for Updates, the item above About Kesto, against the trickling host.
windows() { xdotool search --all --onlyvisible --pid "$app_pid" --name '' 2>/dev/null | sort; }
more_windows() { [[ "$(windows)" != "$1" ]]; }
e2e_wait_until 60 e2e_no_window '^Kesto Bookmarks$'
opened_help() {
  local shown
  shown="$(windows)"
  e2e_key "$win" alt+h
  e2e_wait_until 5 more_windows "$shown" && return
  e2e_key "$win" Escape
  return 1
}
e2e_wait_until 60 opened_help || fail "no Help menu"
xdotool key Up Up
# A process in the program's process group notes each moment all of them stood still (stopped,
# as a debugger or job control stops them, or starved by a loaded machine).
: >"$work/stood-still"
python3 - "$work/stood-still" <<'PY' &
import sys, time
out = open(sys.argv[1], "a", buffering=1)
while True:
    before = time.time()
    time.sleep(0.05)
    after = time.time()
    if after - before > 0.3:
        out.write(f"{before + 0.05} {after}\n")
PY
e2e_pids+=("$!")
started=$(e2e_now_ms)
xdotool key Return
box="$(e2e_wait_window '^Kesto Updater$' 60 "$app_pid")" || fail "Check for Updates showed nothing"
echo "the update check's answer showed $(( $(e2e_now_ms) - started )) ms after the key press"
timed_out() { grep -q "Update check timed out" "$work/kesto.log"; }
e2e_wait_until 60 timed_out || fail "the check did not end as timed out"
# The user is told the answer comes within 15 s. Timed by the program's own log, from the
# check's start to its end, which the script's clock would stretch by its window searches and
# a loaded machine by its delays; the moments the program stood still as the check started or
# ended are taken out.
took="$(python3 - "$work/kesto.log" "$work/stood-still" <<'PY'
import re, sys
from datetime import datetime
stamp = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) .*?\] (Update check (started|timed out))")
began = ended = None
for line in open(sys.argv[1], errors="replace"):
    m = stamp.match(line)
    if m:
        at = datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f").timestamp()
        if m.group(3) == "started":
            began = at
        elif began:
            ended = at
if began and ended:
    still = 0.0
    for line in open(sys.argv[2]):
        start, end = map(float, line.split())
        # Standing still as the check starts puts its timer off; as it ends, holds the timer's
        # firing back. Between, the timer's clock runs on: the deadline stays where it was.
        if start <= began + 1 and end >= began or start <= ended and end >= ended - 1:
            still += max(0.0, min(end, ended) - max(start, began))
    print(round((ended - began - still) * 1000), round(still * 1000))
PY
)"
read -r took still <<<"$took"
[[ -n "$took" ]] || fail "the program's log does not time the update check"
echo "the update check took $took ms by the program's log, $still ms more standing still"
(( took < 15000 )) || fail "the update check took $took ms, not within 15 s"
e2e_screenshot "$shots/update-timed-out.png" "$box"
e2e_key "$box" Return
e2e_wait_until 60 e2e_no_window '^Kesto Updater$' || fail "Return left the answer open"

e2e_quit_by_key
cancelled_in_menu
echo "visits and update check: ok"
