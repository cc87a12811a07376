#!/usr/bin/env bash
# Addresses whose escapes say something, in the real kesto program inside xvfb-session.sh: a file
# imported from the keyboard (File > Import) whose addresses hold "%26", "%2F", "%23" and "%25",
# a data: and a mailto: address, a scheme in capitals, and an address handed over by a second
# launch; a loopback web server answers the pages the import and the hand-over fetch. After the
# page update the store holds each address as stored, with its version unchanged; the base
# addresses are the lower-case scheme and the site as written, or the scheme alone for an address
# without a host; File >
# Export writes the addresses as stored. Leaves a screenshot of the list. Usage:
# addresses-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip sqlite3 python3

# Every page is one page with a title; the log names each request as it came.
port_file="$work/port"
python3 - "$port_file" >"$work/server.log" 2>&1 <<'PY' &
import http.server, sys
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<html><head><title>Fetched page</title></head><body>page</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
open(sys.argv[1], "w").write(str(server.server_address[1]))
server.serve_forever()
PY
e2e_pids+=("$!") e2e_logs+=("$work/server.log")
has_port() { [[ -s "$port_file" ]]; }
e2e_wait_until 60 has_port || fail "no web server"
base="http://127.0.0.1:$(cat "$port_file")"

# Address in the file | address stored.
rows=(
  "$base/page?q=a%26b&path=%2Fx%2Fy&h=%23frag|$base/page?q=a%26b&path=%2Fx%2Fy&h=%23frag"
  "$base/caf%C3%A9/a%20b?n=%2541|$base/café/a b?n=%2541"
  "data:text/plain,a%26b%20c|data:text/plain,a%26b c"
  "mailto:someone@example.org?subject=a%26b|mailto:someone@example.org?subject=a%26b"
  "HTTPS://UPPER.example.com/x|https://UPPER.example.com/x"
)
file="$work/escapes.html"
{
  printf '<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">\n'
  printf '<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n'
  for i in "${!rows[@]}"; do printf '<DT><A HREF="%s">Escaped %s</A>\n' "${rows[i]%%|*}" "$i"; done
  printf '</DL><p>\n'
} >"$file"

e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
  KestoReachabilityCheckURL "<string>$base/reachable</string>" BoomarksListView '<true/>' \
  UseInboxForBookmarks '<true/>' sortFoldersByRating '<false/>'
e2e_start_kesto
e2e_close_first_run_panel || fail "no first-run panel"

# File > Import (Ctrl+Shift+I): Yes to skipping duplicates, then the file's path.
e2e_import_file "$file"

quoted() { printf "%s" "${1//\'/\'\'}"; }
count_of() { e2e_sql "select count(*) from ZBOOKMARK where ZURL = '$(quoted "$1")'"; }
all_stored() {
  local row
  for row in "${rows[@]}"; do [[ "$(count_of "${row#*|}")" == 1 ]] || return 1; done
}
e2e_wait_until 60 all_stored || fail "the imported addresses are not stored as they mean: $(e2e_sql 'select ZURL from ZBOOKMARK')"

# A second launch hands over an address written out with its escapes.
handed="$base/hand?q=c%26d&p=%2Fx%23y"
"$kesto" "kesto:$handed" >>"$work/kesto.log" 2>&1 || fail "the hand-over launch failed"
handed_in() { [[ "$(count_of "$handed")" == 1 ]]; }
e2e_wait_until 60 handed_in || fail "the handed-over address is not stored as it came: $(e2e_sql 'select ZURL from ZBOOKMARK')"

# The pages are fetched with their escapes, and the update is written.
requested() {
  grep -qF 'GET /page?q=a%26b&path=%2Fx%2Fy&h=%23frag ' "$work/server.log" &&
    grep -qF 'GET /hand?q=c%26d&p=%2Fx%23y ' "$work/server.log"
}
e2e_wait_until 60 requested || fail "the pages were not asked for with their escapes: $(cat "$work/server.log")"
updated() {
  [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZNEEDSUPDATE = 0 and ZURL like 'http%127.0.0.1%'")" == 3 ]]
}
e2e_wait_until 60 updated || fail "the page update was not written: $(e2e_sql 'select ZURL, ZNEEDSUPDATE from ZBOOKMARK')"
# What the update must leave as it was is read now and again once the program has ended.
kept_as_stored() {
  local row
  for row in "${rows[@]}" "|$handed"; do
    [[ "$(count_of "${row#*|}")" == 1 ]] || fail "after the update ${row#*|} is no longer stored: $(e2e_sql 'select ZURL from ZBOOKMARK')"
  done
  [[ "$(e2e_sql 'select count(*) from ZBOOKMARK where ZVERSION != 1')" == 0 ]] ||
    fail "the update changed versions: $(e2e_sql 'select ZURL, ZVERSION from ZBOOKMARK')"
}
kept_as_stored
expect_base() {  # address base
  local got
  got="$(e2e_sql "select ZBASEURL from ZBOOKMARK where ZURL = '$(quoted "$1")'")"
  [[ "$got" == "$2" ]] || fail "the base address of $1 is '$got', not '$2'"
}
expect_base "https://UPPER.example.com/x" "https://UPPER.example.com"
expect_base "mailto:someone@example.org?subject=a%26b" "mailto:"
expect_base "data:text/plain,a%26b c" "data:"
expect_base "$handed" "$base"

e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/addresses-list.png" "$win" || fail "no screenshot"

# File > Export (Ctrl+Shift+E) writes the addresses as stored.
exported="$work/exported.html"
e2e_key "$win" ctrl+shift+e
dialog="$(e2e_wait_window '^Export Bookmarks$' 60)" || fail "Ctrl+Shift+E opened no save dialog"
e2e_choose_path "$dialog" "$exported"
success="$(e2e_wait_window '^Success$' 60)" || fail "no success alert after the export"
e2e_key "$success" Return
e2e_wait_until 60 test -s "$exported" || fail "nothing exported"
for stored in "$base/page?q=a%26b&path=%2Fx%2Fy&h=%23frag" "$handed"; do
  grep -qF "HREF=\"${stored//&/&amp;}\"" "$exported" || fail "the export lacks $stored: $(grep -o 'HREF="[^"]*"' "$exported")"
done

e2e_quit_by_key
kept_as_stored
echo "addresses e2e: passed, screenshot at $shots/addresses-list.png"
