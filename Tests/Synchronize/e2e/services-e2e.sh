#!/usr/bin/env bash
# The Pinboard row of the real kesto program against a loopback stand-in of the service's v1 API
# (Basic authentication, posts/all), inside xvfb-session.sh: selecting the row without an
# account shows the login panel; the account typed there is stored (the password in Base64) and
# the first import brings the service's posts in with the service's mark; "Update from
# Pinboard" reads them again; "Disconnect from Pinboard" removes the posts and the account.
# Usage: services-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3

# The service: two posts for "me" with the password "p@ss"; every request is logged.
cat >"$work/fake.py" <<'PY'
import base64, http.server, sys
POSTS = b'<posts user="me"><post href="https://one.example/" hash="h1" description="One" extended="" tag="x y" time="2015-03-07T18:04:59Z"/><post href="https://two.example/" hash="h2" description="Two" extended="n" tag="" time="2015-03-08T18:04:59Z"/></posts>'
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        sys.stderr.write(self.path + "\n"); sys.stderr.flush()
        if self.headers.get("Authorization") != "Basic " + base64.b64encode(b"me:p@ss").decode():
            self.send_response(401); self.send_header("WWW-Authenticate", 'Basic realm="API"'); self.end_headers(); return
        body = POSTS if self.path.startswith("/v1/posts/all") else b'<result code="done"/>'
        self.send_response(200); self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body))); self.end_headers(); self.wfile.write(body)
    def log_message(self, *a): pass
s = http.server.HTTPServer(("127.0.0.1", 0), H)
print(s.server_port, flush=True)
s.serve_forever()
PY
python3 "$work/fake.py" >"$work/port" 2>"$work/fake.log" &
e2e_pids+=("$!") e2e_logs+=("$work/fake.log")
e2e_wait_until 60 test -s "$work/port" || fail "the fake service did not start"
port="$(cat "$work/port")"
e2e_write_settings PinboardAPIHost "<string>127.0.0.1:$port</string>"
chmod 600 "$settings"

e2e_start_kesto
e2e_close_first_run_panel 60 || fail "no first-run panel"
row_y() { echo $((190 + 20 * $1)); }  # 0 Library, 1 Inbox, 2 Delicious, 3 Pinboard, 4 Imported

# No account: the row shows the login panel.
xdotool windowactivate --sync "$win" >/dev/null 2>&1
e2e_click "$win" 80 "$(row_y 3)"
panel="$(e2e_wait_window '^Pinboard$' 60)" || fail "the Pinboard row showed no login panel"
e2e_caught_up "$panel" || fail "kesto did not answer"
e2e_screenshot "$shots/services-login.png"
xdotool windowactivate --sync "$panel" >/dev/null 2>&1
xdotool type --delay 30 "me"
xdotool key Tab
xdotool type --delay 30 'p@ss'
xdotool key Return
stored() { [[ "$(e2e_sql "select ZLOGIN || '|' || ZPASSWORD from ZSERVICE where ZNAME = 'pinboard'")" == "me|$(printf 'p@ss' | base64)" ]]; }
e2e_wait_until 60 stored || fail "the account was not stored: $(e2e_sql 'select ZNAME, ZLOGIN, ZPASSWORD from ZSERVICE')"
imported() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL in ('https://one.example/', 'https://two.example/')")" == 2 ]]; }
e2e_wait_until 60 imported || fail "the first import brought nothing: $(e2e_sql 'select ZURL from ZBOOKMARK')"
[[ "$(e2e_sql "select ZTITLE from ZBOOKMARK where ZURL = 'https://one.example/'")" == "One" ]] || fail "the post's title was not taken"
grep -q '^/v1/posts/all?results=100000' "$work/fake.log" || fail "no posts/all request: $(cat "$work/fake.log")"
! grep -q 'p@ss' "$work/fake.log" || fail "the password travelled in the address"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/services-imported.png"

# The row's context menu: Update (a second read), then Disconnect.
reads() { grep -c '^/v1/posts/all' "$work/fake.log"; }
before="$(reads)"
e2e_click "$win" 80 "$(row_y 3)"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_popup_after e2e_click "$win" 80 "$(row_y 3)" 3 || fail "a right click on the Pinboard row showed no menu"
e2e_screenshot "$shots/services-menu.png"
xdotool key Down Return
more_reads() { [[ "$(reads)" -gt "$before" ]]; }
e2e_wait_until 60 more_reads || fail "Update from Pinboard did not read the service again"
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_popup_after e2e_click "$win" 80 "$(row_y 3)" 3 || fail "a right click on the Pinboard row showed no menu"
xdotool key Up Return
gone() { [[ -z "$(e2e_sql "select ZNAME from ZSERVICE where ZNAME = 'pinboard'")" ]] && [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL in ('https://one.example/', 'https://two.example/')")" == 0 ]]; }
e2e_wait_until 60 gone || fail "Disconnect left the account or its posts: $(e2e_sql 'select ZURL from ZBOOKMARK')"
echo "services e2e passed"
