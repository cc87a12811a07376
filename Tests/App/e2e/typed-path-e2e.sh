#!/usr/bin/env bash
# Keys typed into the real kesto program on a display that may be loaded: the private X server
# repeats no key, also once a script has changed its keyboard map, and a path typed into File >
# Import's file dialog that lost a key on the way is typed again before the dialog takes it, so
# the file meant is the one imported. Usage: typed-path-e2e.sh KESTO_BINARY
set -uo pipefail
kesto="$1"
. "$(dirname "$0")/../../Harness/e2e/lib.sh"
e2e_app_script xdotool xclip xkbcomp sqlite3 python3

# The server's own switch, as XGetKeyboardControl reports it: 0 when no key repeats.
auto_repeat() {
  python3 -c 'import ctypes, struct
x = ctypes.CDLL("libX11.so.6"); x.XOpenDisplay.restype = ctypes.c_void_p; state = ctypes.create_string_buffer(128)
x.XGetKeyboardControl(ctypes.c_void_p(x.XOpenDisplay(None)), state); print(struct.unpack_from("iiIILi", state)[5])'
}
[[ "$(auto_repeat)" == 0 ]] || fail "keys repeat on the session's display"
e2e_add_keysyms eacute || fail "the keyboard map could not be changed"
[[ "$(auto_repeat)" == 0 ]] || fail "keys repeat once the keyboard map has changed"

# A stand-in for xdotool drops the fourth character of the first path it types, as a loaded
# display drops a key; everything else reaches the real one.
real_xdotool="$(type -P xdotool)"
mkdir -p "$work/lossy"
cat >"$work/lossy/xdotool" <<EOF
#!/usr/bin/env bash
if [[ "\$1" == type && "\${!#}" == /* && ! -e "$work/lost" ]]; then
  text="\${!#}"
  echo "\$text" >"$work/lost"
  set -- "\${@:1:\$#-1}" "\${text:0:3}\${text:4}"
fi
exec "$real_xdotool" "\$@"
EOF
chmod +x "$work/lossy/xdotool"

file="$work/typed path.html"
printf '%s\n' '<!DOCTYPE NETSCAPE-Bookmark-file-1>' '<TITLE>Bookmarks</TITLE>' '<DL><p>' \
  '<DT><A HREF="https://typed-path.example/">Typed path</A>' '</DL><p>' >"$file"
e2e_offline_settings
e2e_start_kesto
e2e_close_first_run_panel || fail "no first-run panel"
PATH="$work/lossy:$PATH" e2e_import_file "$file"
[[ "$(cat "$work/lost" 2>/dev/null)" == "$file" ]] || fail "no key of the path was dropped"
imported() { [[ "$(e2e_sql "select count(*) from ZBOOKMARK where ZURL = 'https://typed-path.example/'")" == 1 ]]; }
e2e_wait_until 60 imported || fail "the file typed again was not imported"
e2e_quit_kesto
echo "typed paths: ok"
