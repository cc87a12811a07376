#!/usr/bin/env bash
# The real kesto program inside xvfb-session.sh: three addresses of a loopback web server handed
# in by a second launch get their page titles (UTF-8, Latin-1 and Windows-1251 pages) and favicons
# in the store and in the window, and a page whose server does not answer is marked broken. Leaves a screenshot
# of the window; "Update from web" in a row's context menu fetches its page again. Usage: webcontent-e2e.sh KESTO_BINARY [SCREENSHOT_FOLDER]
set -uo pipefail
kesto="$1"
shots="${2:-${TMPDIR:-/tmp}}"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool sqlite3 python3

# The pages, and a favicon for the site.
site="$work/site"
mkdir -p "$site"
printf '<html><head><title>Loopback one</title><link rel="icon" href="/icon.png"></head><body>1</body></html>' \
  >"$site/one.html"
printf '<html><head><meta charset="iso-8859-1"><title>Caf\xe9 deux</title></head><body>2</body></html>' >"$site/two.html"
printf '<html><head><meta charset="windows-1251"><title>\xd2\xf0\xe8 three</title></head><body>3</body></html>' \
  >"$site/three.html"
python3 - "$site/icon.png" <<'PY'
import struct, sys, zlib
w = h = 16
raw = b"".join(b"\0" + bytes([220, 40, 40]) * w for _ in range(h))
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + \
      chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
port_file="$work/port"
python3 - "$site" "$port_file" >"$work/server.log" 2>&1 <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
open(sys.argv[2], "w").write(str(server.server_address[1]))
server.serve_forever()
PY
e2e_pids+=("$!") e2e_logs+=("$work/server.log")
has_port() { [[ -s "$port_file" ]]; }
e2e_wait_until 60 has_port || fail "no web server"
base="http://127.0.0.1:$(cat "$port_file")"

# Thumbnails from a closed port; the reachability page on the loopback server, so a page that is
# gone counts as broken, not as offline.
e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
  KestoReachabilityCheckURL "<string>$base/one.html</string>" BoomarksListView '<true/>' \
  UseInboxForBookmarks '<true/>' sortFoldersByRating '<false/>'

e2e_start_kesto
e2e_close_first_run_panel || fail "no first-run panel"

"$kesto" "kesto:$base/one.html%0Akesto:$base/two.html%0Akesto:$base/three.html%0Akesto:http://127.0.0.1:9/gone.html" \
  >>"$work/kesto.log" 2>&1 || fail "hand-over launch failed"
title_of() { e2e_sql "select ZTITLE from ZBOOKMARK where ZURL = '$base/$1'"; }
titled() {
  [[ "$(title_of one.html)" == "Loopback one" && "$(title_of two.html)" == "Café deux" &&
     "$(title_of three.html)" == "Три three" ]]
}
e2e_wait_until 60 titled || fail "titles: $(e2e_sql 'select ZURL, ZTITLE from ZBOOKMARK')"
has_favicon() { [[ "$(e2e_sql "select hex(substr(ZFAVICON, 2, 3)) from ZBOOKMARK where ZURL = '$base/one.html'")" == 504E47 ]]; }
e2e_wait_until 60 has_favicon || fail "no favicon stored as PNG"
# A page whose server does not answer is broken (an error page would still be a page).
broken() { [[ "$(e2e_sql "select ZBROKEN from ZBOOKMARK where ZURL = 'http://127.0.0.1:9/gone.html'")" == 1 ]]; }
e2e_wait_until 60 broken || fail "the missing page is not marked broken"
grep -q "GET /icon.png" "$work/server.log" || fail "the favicon was not asked for"

# The window shows the new titles.
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_screenshot "$shots/webcontent-window.png" "$win" || fail "no screenshot"

# "Update from web" in the row's context menu fetches the page again (the item before the last,
# "Set thumbnail from file", for one selected bookmark).
fetched_once() { [[ "$(grep -c 'GET /one.html' "$work/server.log")" -ge "$1" ]]; }
before="$(grep -c 'GET /one.html' "$work/server.log")"
row_y=460  # the fourth row of the compact list, "Loopback one"
e2e_click "$win" 600 "$row_y" 1
e2e_caught_up "$win" || fail "kesto did not answer"
e2e_popup_after e2e_click "$win" 600 "$row_y" 3 || fail "a right click showed no context menu"
e2e_screenshot "$shots/webcontent-menu.png"
xdotool key --delay 100 Up Up Return
e2e_wait_until 60 fetched_once $((before + 1)) || fail "Update from web fetched nothing: $(cat "$work/server.log")"

e2e_quit_by_key
[[ "$(title_of one.html)" == "Loopback one" ]] || fail "the title is not kept after quitting"
echo "web content e2e: passed, screenshot at $shots/webcontent-window.png"
