#!/usr/bin/env bash
# A title typed in the menu-bar quick edit and left with Tab is kept: the page of a new bookmark
# is held back by a loopback server until the title is typed, then answers with a title of its
# own; after a restart the store still holds the typed title. Usage:
# quickedit-title-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}/quickedit-screenshots}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3
. "$(dirname "$0")/quickedit-lib.sh"

# The page answers only once $work/release exists, with the server's own title.
port_file="$work/port" release="$work/release"
python3 - "$port_file" "$release" >"$work/server.log" 2>&1 <<'PY' &
import http.server, os, sys, time
port_file, release = sys.argv[1], sys.argv[2]
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/page.html":
            while not os.path.exists(release):
                time.sleep(0.05)
            body = b"<html><head><title>Title from the server</title></head><body>page</body></html>"
        else:
            body = b"ok"
        self.send_response(200 if self.path in ("/page.html", "/up") else 404)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
open(port_file, "w").write(str(server.server_address[1]))
server.serve_forever()
PY
e2e_pids+=("$!") e2e_logs+=("$work/server.log")
e2e_wait_until 60 test -s "$port_file" || fail "no web server"
base="http://127.0.0.1:$(cat "$port_file")"
e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
  KestoReachabilityCheckURL "<string>$base/up</string>" UseInboxForBookmarks '<true/>'

e2e_start_kesto
e2e_close_first_run_panel || fail "no first-run panel"
"$kesto" "kesto:$base/page.html" >>"$work/kesto.log" 2>&1 || fail "hand-over launch failed"
page() { e2e_sql "select $1 from ZBOOKMARK where ZURL = '$base/page.html'"; }
added() { [[ -n "$(page Z_PK)" ]]; }
e2e_wait_until 60 added || fail "the page was not added: $(e2e_sql 'select ZURL from ZBOOKMARK')"

# The menu-bar window: find the page, edit it, type a title and leave the field with Tab.
edit_by_keys "page.html"
e2e_click "$menu" 300 $((100 + 8 + 13 + 34))  # the title field
xdotool key ctrl+a
xdotool type --delay 30 "Typed by hand"
xdotool key Tab
typed() { [[ "$(page ZTITLE)" == "Typed by hand" ]]; }
e2e_wait_until 60 typed || fail "Tab did not save the typed title: '$(page ZTITLE)'"
e2e_screenshot "$shots/quickedit-typed.png" "$menu"
[[ "$(page ZTITLEUPDATED)" == 1 ]] || fail "the typed title is not settled"

# The page answers now, with another title; its result is written and the typed title stays.
before="$(page ZUPDATEDDATE)"
touch "$release"
answered() { grep -q "GET /page.html" "$work/server.log" && [[ "$(page ZUPDATEDDATE)" != "$before" ]]; }
e2e_wait_until 60 answered || fail "the page's answer was not taken in"
typed || fail "the fetch replaced the typed title with '$(page ZTITLE)'"
# Tab left the focus in the folder box: typing there opens its list on the folders that match,
# and the typing goes on in the box.
before_popup
xdotool type --delay 60 "nbo"
e2e_wait_until 60 popup_shown || fail "typing in the folder box opened no list"
e2e_screenshot "$shots/quickedit-folders.png"
xdotool key Escape
popup_gone() { ! popup_shown; }
e2e_wait_until 60 popup_gone || fail "Escape left the folder list open"
xdotool key Escape

# A restart finds the typed title.
e2e_quit_by_key
e2e_start_kesto
typed || fail "after a restart the title is '$(page ZTITLE)'"
e2e_quit_by_key
echo "quick-edit title kept through a fetch and a restart: ok"
