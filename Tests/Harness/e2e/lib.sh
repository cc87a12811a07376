# Helpers for end-to-end scripts run inside xvfb-session.sh. Source it: `. lib.sh`.

E2E_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# xdotool reads the window names it searches for and the text it types in the locale's character
# set, so in a locale without UTF-8 (POSIX) it cannot take the non-ASCII text these scripts use.
# What Kesto shows and takes is UTF-8 in every locale: xdotool is asked in UTF-8 too.
xdotool() { LC_ALL=C.UTF-8 command xdotool "$@"; }
# Logs shown when a test fails and helper processes ended with it (see e2e_app_script).
e2e_logs=() e2e_pids=()

# A path as an argument of a desktop entry's Exec line: "%" doubled; quoted in whole when it
# holds a reserved character, with " ` $ \ escaped inside the quotes; then each backslash doubled,
# as every string value of an entry escapes it.
e2e_exec_argument() {  # path
  local word="${1//%/%%}" reserved=$' \t\n"\'\\><~|&;$*?#()`' i
  for ((i = 0; i < ${#reserved}; i++)); do
    if [[ "$word" == *"${reserved:i:1}"* ]]; then
      word="\"$(printf '%s' "$word" | sed 's/["`$\\]/\\&/g')\""
      break
    fi
  done
  printf '%s' "$word" | sed 's/\\/\\\\/g'
}

# The program a desktop entry's Exec line (its value, as in the file) starts, with the value's
# escapes and the quoting undone; empty unless the line is that program and "%u" alone.
e2e_exec_program() {  # exec-value
  python3 -c '
import re, shlex, sys
escapes = {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}
value = re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(0)), sys.argv[1])
words = shlex.split(value)
print(words[0].replace("%%", "%") if words and words[1:] == ["%u"] else "")' "$1"
}

# Milliseconds on the wall clock.
e2e_now_ms() { local us="${EPOCHREALTIME//[.,]/}"; echo $((us / 1000)); }

# Runs a command until it succeeds or $1 seconds have passed (wall clock, so a loaded machine
# gets the same time, not the same number of tries); answers the command's last status.
e2e_wait_until() {  # seconds command [args...]
  local deadline=$(( $(e2e_now_ms) + ${1%.*} * 1000 ))
  shift
  until "$@"; do
    (( $(e2e_now_ms) >= deadline )) && { "$@"; return; }
    sleep 0.1
  done
}

# Waits (up to $2 seconds, default 60, which only a hang takes) for a visible window whose name
# matches $1 and, when $3 is given, that belongs to that process id; prints its id. Give the
# process: a window of a process that just ended can still be found for a moment, until the X
# server has noticed.
e2e_wait_window() {
  local name="$1" timeout="${2:-60}" pid="${3:-}" id
  local deadline=$(( $(e2e_now_ms) + timeout * 1000 ))
  while :; do
    id="$(xdotool search --all --onlyvisible ${pid:+--pid "$pid"} --name "$name" 2>/dev/null | head -n1)"
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    (( $(e2e_now_ms) >= deadline )) && break
    sleep 0.1
  done
  echo "window '$name' did not appear within ${timeout}s" >&2
  return 1
}

# Types a path into a file dialog's name field (the field that has the focus when the dialog
# opens), reads the field back and accepts it only once it holds the path: keys typed on a loaded
# display can be lost, and a wrong name would open or write another file. On a mismatch it pastes
# the path in, again and again, for up to $3 seconds (default 30); then it fails without pressing
# Return. The
# field is read through the clipboard, which holds the path afterwards.
e2e_choose_path() {  # dialog path [seconds]
  local dialog="$1" path="$2" typed="" tries=0
  local deadline=$(( $(e2e_now_ms) + ${3:-30} * 1000 ))
  while :; do
    xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
    xdotool key ctrl+a
    if (( tries++ == 0 )); then
      xdotool type --delay 20 "$path"
    else
      # Typed again, a letter the keyboard map lacks (a checkout's "ö") can go missing on a busy
      # machine: xdotool maps it to a spare key for a moment, and the program may read the key
      # under the old map. Pasted, the path arrives whole.
      printf %s "$path" | xclip -selection clipboard -i >/dev/null 2>&1
      xdotool key ctrl+v
    fi
    typed="$(e2e_copied_field)" && [[ "$typed" == "$path" ]] && break
    if (( $(e2e_now_ms) >= deadline )); then
      echo "the file dialog's field holds '$typed', not '$path'" >&2
      return 1
    fi
    echo "the file dialog's field held '$typed': typing '$path' again" >&2
  done
  echo "the file dialog's field holds '$path', read back" >&2
  xdotool key Return
}

# Prints the text of the focused text field: selects it all and copies it (Ctrl+A, Ctrl+C), and
# reads the clipboard once the copy has replaced a marker put there first, so an older copy of
# the same text is never taken for this one. Fails when no copy arrives within 5 s.
e2e_copied_field() { e2e_clipboard_after 5 xdotool key ctrl+a ctrl+c; }

# Runs a command that copies (keys, a menu item chosen) and prints the text the clipboard then
# holds: a marker goes there first, and the clipboard is read once something else has taken its
# place, for up to $1 seconds, so an older copy is never taken for this one. Fails when nothing
# replaced the marker in time.
e2e_clipboard_after() {  # seconds command...
  local seconds="$1" marker="e2e-marker-$RANDOM$RANDOM" text
  shift
  # xclip serves the marker in the background until the copy takes the clipboard from it.
  printf %s "$marker" | xclip -selection clipboard -i >/dev/null 2>&1 || return 1
  "$@"
  copied() { text="$(xclip -selection clipboard -o 2>/dev/null)" && [[ "$text" != "$marker" ]]; }
  e2e_wait_until "$seconds" copied || return 1
  printf '%s\n' "$text"
}

# Answers File > Import's question (its window given) with Return, to skip duplicates, and prints
# the file dialog that follows once the question has gone (both windows bear one name).
e2e_import_dialog_after() {  # question
  local question="$1"
  e2e_key "$question" Return
  gone() { ! xdotool search --all --onlyvisible --name '^Import Bookmarks$' 2>/dev/null | grep -qx "$question"; }
  e2e_wait_until 60 gone || return 1
  e2e_wait_window '^Import Bookmarks$' 60
}

# File > Import (Ctrl+Shift+I) in the main window ($win) of the file $1, skipping duplicates.
e2e_import_file() {  # path
  local question dialog
  e2e_key "$win" ctrl+shift+i
  question="$(e2e_wait_window '^Import Bookmarks$' 60)" || fail "Ctrl+Shift+I asked nothing"
  dialog="$(e2e_import_dialog_after "$question")" || fail "no import file dialog"
  e2e_choose_path "$dialog" "$1"
}

# Waits for a window whose name matches $1 (a dialog, a sheet), makes it the active one, so the
# keys typed next go to it, and prints its id; fails when none shows within $2 seconds (60).
e2e_focus_window() {  # name [seconds]
  local id
  id="$(e2e_wait_window "$1" "${2:-60}")" || return 1
  xdotool windowactivate --sync "$id" >/dev/null 2>&1
  echo "$id"
}

# Clicks at window-relative coordinates (y downwards from the window's top left).
e2e_click() {  # window x y [button] [repeat]
  xdotool mousemove --window "$1" "$2" "$3" click --repeat "${5:-1}" "${4:-1}"
}

# Drags with the left button between two window-relative points.
e2e_drag() {  # window x1 y1 x2 y2
  xdotool mousemove --window "$1" "$2" "$3" mousedown 1 mousemove --window "$1" "$4" "$5" sleep 0.1 mouseup 1
}

# Drags with the left button through window-relative points, "window x y" each: pressed at the
# first, let go at the last (held there with --hold). After each step it waits until the programs
# owning the windows in $1 (ids, in turn) have caught up, so a program stopped during the drag
# still follows it step by step instead of taking the whole gesture at once; name the program
# that drags, then the one dropped on, then the dragging one again for its answer.
# A drag between windows (the toolkit's, with its image under the pointer) puts --begun where it
# must have begun: there it waits until the pressing program shows the drag's image, moving the
# pointer a pixel back and forth meanwhile (a press followed by no motion the program took starts
# nothing). After that each step also waits until the image has followed the pointer, that is
# until the drag has taken the motion (the toolkit moves it with every new point the pointer takes),
# and a drop waits until the image has gone (the drag ended).
e2e_drag_through() {  # "windows to wait for" window x y [window x y ...] [--begun window x y ...] [--hold]
  local waits="$1" hold=0 src="" pid="" before="" icon="" ix iy px py x y
  shift
  [[ "${*: -1}" == --hold ]] && { hold=1; set -- "${@:1:$#-1}"; }
  while (($#)); do
    if [[ "$1" == --begun ]]; then
      shift
      e2e_wait_until 60 e2e_drag_began "$src" "$pid" "$before" ||
        { echo "no drag began: pointer at $(e2e_pointer), windows $(e2e_window_places "$pid")" >&2; return 1; }
      e2e_all_caught_up "$waits" || return 1
      read -r icon ix iy < <(e2e_drag_image "$pid" "$before") || { echo "the drag's image went" >&2; return 1; }
      read -r px py < <(e2e_pointer)
      continue
    fi
    xdotool mousemove --window "$1" "$2" "$3"
    if [[ -z "$src" ]]; then
      src="$1"
      pid="$(xdotool getwindowpid "$src" 2>/dev/null)"
      before="$(xdotool search --all --onlyvisible --pid "${pid:-0}" '' 2>/dev/null | sort)"
      xdotool mousedown 1
    fi
    shift 3
    if [[ -n "$icon" ]]; then
      read -r x y < <(e2e_pointer)
      ix=$((ix + x - px)) iy=$((iy + y - py)) px=$x py=$y
      e2e_wait_until 60 e2e_window_at "$icon" "$ix" "$iy" || { echo "the drag's image did not follow the pointer" >&2; return 1; }
    fi
    e2e_all_caught_up "$waits" || return 1
  done
  ((hold)) && return 0
  xdotool mouseup 1
  if [[ -n "$icon" ]]; then
    e2e_wait_until 60 e2e_window_gone "$icon" || { echo "the drag did not end when let go" >&2; return 1; }
  fi
  return 0
}
# The shown windows of the program $1 (a process id), "id:x,y,width,height" each, for a message.
e2e_window_places() {
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$1" '' 2>/dev/null); do
    printf '%s:%s ' "$id" "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | awk -F= '/^(X|Y|WIDTH|HEIGHT)=/ { printf "%s%s", sep, $2; sep = "," }')"
  done
}
# e2e_caught_up for each window of $1 (ids), in turn.
e2e_all_caught_up() { local w; for w in $1; do e2e_caught_up "$w" >/dev/null 2>&1 || return 1; done; }

# The pointer's place on the screen: "x y".
e2e_pointer() { xdotool getmouselocation --shell 2>/dev/null | awk -F= '$1 == "X" { x = $2 } $1 == "Y" { y = $2 } END { print x, y }'; }
# Whether the window $1 lies with its top left corner at the screen point $2 $3.
e2e_window_at() {  # window x y
  local X Y
  eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null | grep -E '^[XY]=[0-9-]+$')"
  [[ "${X:-}" == "$2" && "${Y:-}" == "$3" ]]
}
# Whether the window $1 is no longer shown.
e2e_window_gone() { ! xdotool search --all --onlyvisible --name '' 2>/dev/null | grep -qx "$1"; }
# The image of a drag that the program $1 (a process id) runs: a window of its shown under the
# pointer that was not among $2 (ids, one a line) when the button was pressed; prints "id x y".
e2e_drag_image() {  # pid windows
  local id X Y WIDTH HEIGHT px py
  read -r px py < <(e2e_pointer)
  for id in $(comm -13 <(echo "$2") <(xdotool search --all --onlyvisible --pid "$1" '' 2>/dev/null | sort)); do
    X="" Y="" WIDTH="" HEIGHT=""
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9-]+$')"
    [[ -n "$X" && -n "$Y" && -n "$WIDTH" && -n "$HEIGHT" && -n "$px" ]] || continue
    ((px >= X && px < X + WIDTH && py >= Y && py < Y + HEIGHT)) && { echo "$id $X $Y"; return 0; }
  done
  return 1
}
# Whether the program $2 (a process id) whose window $1 was pressed shows a drag's image
# (e2e_drag_image with $2 $3); if not, once it has caught up, moves the pointer a pixel and back,
# as a hand that holds the button never rests quite still.
e2e_drag_began() {  # window pid windows
  e2e_drag_image "$2" "$3" >/dev/null && return 0
  e2e_caught_up "$1" 10 >/dev/null 2>&1
  e2e_drag_image "$2" "$3" >/dev/null && return 0
  xdotool mousemove_relative 1 0 mousemove_relative -- -1 0
  return 1
}

# Sends keys to a window, e.g. e2e_key "$win" ctrl+a Down Return. The keys go to the focused
# window through the X server's own input, never addressed to the window: if a key closes it
# (Ctrl+Q), the releases still reach the server and no modifier stays held for what follows.
e2e_key() {
  local win="$1"; shift
  xdotool windowactivate --sync "$win" || return
  xdotool key "$@"
}

# Saves a screenshot of the whole screen (or of one window) as PNG.
e2e_screenshot() {  # file [window]
  python3 "$E2E_DIR/screenshot.py" "$1" ${2:+--window "$2"}
}

# Prints "r g b" of one screen pixel, or of one window's (window-relative) when a window is given.
e2e_pixel() {  # x y [window]
  python3 "$E2E_DIR/screenshot.py" - --pixel "$1" "$2" ${3:+--window "$3"}
}

# Looks at screen pixels again and again for $1 seconds, in the background, and writes what it
# sees to the file $2: a line per look, "r g b" for each pixel in the order given. What shows only
# for a moment (a message that goes by itself) is seen even when the machine is too loaded to
# start a probe in time. Returns once the first look is written; ended with the script.
e2e_watch_pixels() {  # seconds file x y [x y ...]
  local file="$2"
  python3 "$E2E_DIR/screenshot.py" - --watch "$1" "${@:3}" >"$file" 2>/dev/null &
  e2e_pids+=("$!")
  e2e_wait_until 60 test -s "$file"
}

# An empty library offers sample bookmarks in its first-run panel (a few seconds after the first
# load); this waits for the panel and asks for them, as a new user would.
e2e_add_sample_library() {  # [timeout]
  local panel
  panel="$(e2e_wait_window '^Welcome to Kesto$' "${1:-60}")" || return 1
  xdotool windowactivate --sync "$panel" >/dev/null 2>&1
  e2e_click "$panel" 227 149
}

# Asks for the sample bookmarks (e2e_add_sample_library) and waits until the store holds them:
# eight bookmarks and the Kesto and Search folders among theirs. Fails otherwise.
e2e_sample_library() {
  e2e_add_sample_library 60 || fail "no first-run panel"
  e2e_wait_until 60 e2e_has_sample_library || fail "the sample library did not arrive"
}
e2e_has_sample_library() {
  local n
  n="$(e2e_sql 'select count(*) from ZBOOKMARK')"
  [[ -n "$n" ]] && ((n >= 8)) &&
    [[ "$(e2e_sql "select count(*) from ZFOLDER where ZNAME in ('Kesto', 'Search')")" == 2 ]]
}

# Closes the first-run panel of an empty library once it shows.
e2e_close_first_run_panel() {  # [timeout]
  local panel w
  if ! panel="$(e2e_wait_window '^Welcome to Kesto$' "${1:-60}")"; then
    # What the program shows instead, for the failure's report.
    for w in $(e2e_windows); do echo "shown instead: '$(xdotool getwindowname "$w" 2>/dev/null)'"; done >&2
    kill -0 "${app_pid:-}" 2>/dev/null || echo "kesto had ended" >&2
    return 1
  fi
  e2e_key "$panel" Escape
}

# Binds keysyms (e.g. ssharp eacute) to keycodes the keyboard map leaves free, so xdotool types
# them as ordinary keys. Without it xdotool rebinds a spare key for each such character and
# takes the binding back at once; a program that reads the map late (a loaded machine) then
# sees the wrong character or none.
e2e_add_keysyms() {  # keysym...
  local map; map="$(mktemp)"
  xkbcomp -xkb "$DISPLAY" "$map" 2>/dev/null || { rm -f "$map"; return 1; }
  awk -v syms="$*" '
    BEGIN { n = split(syms, want, " ") }
    { lines[NR] = $0 }
    /^xkb_keycodes/ { section = "codes" } /^xkb_symbols/ { section = "syms" }
    section == "codes" && match($0, /^[ \t]*<[A-Z0-9]+>[ \t]*=[ \t]*[0-9]+;/) {
      name = $0; sub(/^[ \t]*</, "", name); sub(/>.*/, "", name); order[++codes] = name
    }
    section == "codes" && /alias/ { used[$2] = 1; v = $4; gsub(/[<>;]/, "", v); used[v] = 1; a = $2; gsub(/[<>]/, "", a); used[a] = 1 }
    section == "syms" && match($0, /key[ \t]+<[A-Z0-9]+>/) { k = substr($0, RSTART, RLENGTH); sub(/.*</, "", k); sub(/>/, "", k); used[k] = 1 }
    section == "syms" && /^};/ { symsEnd = NR; section = "" }
    END {
      for (i = 1; i <= NR; i++) {
        if (i == symsEnd)
          for (c = 1; c <= codes && placed < n; c++)
            if (!(order[c] in used)) printf "    key <%s> { [ %s ] };\n", order[c], want[++placed]
        print lines[i]
      }
    }' "$map" >"$map.new" && xkbcomp "$map.new" "$DISPLAY" 2>/dev/null
  local rc=$?
  rm -f "$map" "$map.new"
  return $rc
}

# Skips the calling test (exit 77, which CTest counts as skipped) unless every tool named is
# installed.
e2e_require() {  # tool...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
}

# The places a test of the real program works with: its scratch folder ($work, made), the
# library ($store) and the settings file ($settings) of the session's home.
e2e_app_paths() {
  work="$E2E_HOME/e2e"
  mkdir -p "$work"
  store="$XDG_DATA_HOME/kesto/data.sqlite"
  settings="$XDG_CONFIG_HOME/kesto/defaults.plist"
}

# A process named for good: its number and its start time (clock ticks after boot), as
# "pid:start", for e2e_kill to end a process that is not this script's child (a daemon that
# forked) only while that number is still the same process.
e2e_identity() {  # pid
  local start
  start="$(awk '{ sub(/.*\) /, ""); print $20 }' "/proc/$1/stat" 2>/dev/null)"
  echo "$1:${start:-gone}"
}

# Sends a signal (TERM unless one is given) to those of the processes named that are still this
# script's children, or, named as e2e_identity names them, still the same process. One that
# ended was reaped at once, and on a busy machine its number soon belongs to another program
# (another test's X server), which must not be touched.
e2e_kill() {  # [-SIGNAL] pid|identity...
  local signal=-TERM pid
  [[ "${1:-}" == -* ]] && { signal="$1"; shift; }
  for pid in "$@"; do
    if [[ "$pid" == *:* ]]; then
      [[ "$(e2e_identity "${pid%%:*}")" == "$pid" ]] && kill "$signal" "${pid%%:*}" 2>/dev/null
    elif [[ -n "$pid" && "$(ps -o ppid= -p "$pid" 2>/dev/null | tr -d ' ')" == "$$" ]]; then
      kill "$signal" "$pid" 2>/dev/null
    fi
  done
  return 0
}

# The start of a script that drives the real program ($kesto): skipped unless the tools named are
# installed (e2e_require), the places of e2e_app_paths and the screenshot folder ($shots, when
# set) made, and a `fail` and a `cleanup` (run when the script ends) that serve unless the script
# defines its own after this.
e2e_app_script() {  # tool...
  e2e_require "$@"
  e2e_app_paths
  [[ -z "${shots:-}" ]] || mkdir -p "$shots"
  # Says why the test failed, with the end of the program's log and of each log in $e2e_logs.
  fail() {
    echo "FAIL: $*" >&2
    local log
    for log in "$work/kesto.log" "${e2e_logs[@]}"; do tail -n 60 "$log" >&2 2>/dev/null; done
    exit 1
  }
  # Ends the program ($app_pid) and the helpers the script started ($e2e_pids).
  cleanup() { e2e_kill ${app_pid:-} "${e2e_pids[@]}"; }
  trap cleanup EXIT
}

# Starts the program ($kesto) with the arguments given, its output added to $work/kesto.log, and
# waits for its main window: $app_pid and $win.
e2e_start_kesto() {  # [argument...]
  "$kesto" "$@" >>"$work/kesto.log" 2>&1 &
  app_pid=$!
  win="$(e2e_wait_window '^Kesto$' 60 "$app_pid")" || fail "no main window"
}

# Ends the program as a session's end does (SIGTERM); fails unless it ends cleanly.
e2e_quit_kesto() {
  kill -TERM "$app_pid"
  e2e_wait_ended
}

# Quits the program with Ctrl+Q in its main window; fails unless it ends, cleanly.
e2e_quit_by_key() {
  e2e_key "$win" ctrl+q
  e2e_wait_until 60 e2e_ended || fail "Ctrl+Q did not quit"
  e2e_wait_ended
}

# Whether the program ($app_pid) has ended (a process left unreaped counts as ended).
e2e_ended() { ! ps -o stat= -p "$app_pid" 2>/dev/null | grep -qv Z; }

# Waits for the program to end; fails unless it ended cleanly.
e2e_wait_ended() {
  wait "$app_pid"
  local rc=$?
  ((rc == 0)) || fail "kesto ended with $rc"
}

# Whether no visible window's name matches $1.
e2e_no_window() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# The visible windows of the program ($app_pid), one id a line: a menu or a list that pops up
# is one more.
e2e_windows() { xdotool search --all --onlyvisible --pid "$app_pid" '' 2>/dev/null | sort; }
# Whether a visible window of the program shows that was not among $1 (as e2e_windows lists them).
e2e_new_window() { [[ -n "$(comm -13 <(echo "$1") <(e2e_windows))" ]]; }
# Runs a command that opens a menu or a pop-up of the program (a key, a right click) and waits
# (up to 60 s) until it shows, so the keys that follow go to it; fails when none came.
e2e_popup_after() {  # command...
  local before
  before="$(e2e_windows)"
  "$@"
  e2e_wait_until 60 e2e_new_window "$before"
}

# Waits (up to $2 seconds, default 60) until the program owning the window $1 has handled every
# event the X server sent it before, and what those handlers left for the next turn of its loop
# (two pings, which a toolkit answers on its main thread in turn: caught-up.py). A check that an
# action (a key, a click, a hand-over) did NOT do something looks after this, not after a sleep.
e2e_caught_up() {  # window [seconds]
  python3 "$E2E_DIR/caught-up.py" "$1" 2 "${2:-60}"
}

# Whether the main window's inspector (at its first width, in a window of its first size) shows a
# bookmark: its notes field is drawn, where an empty inspector shows its background. A click in
# the list chooses its bookmark a moment after the click; keys meant for the bookmark wait for it.
# Not the title field: a message ("Bookmarks added", a search's "nothing found") shows over it
# for a few seconds, dark where the background is light.
e2e_bookmark_chosen() { [[ "$(e2e_pixel 1182 235 "$win")" != "$(e2e_pixel 1170 600 "$win")" ]]; }

# The menu-bar window ($menu) at its least size: whether its list shows a card (a card's white
# where the list begins), whether a card is chosen (the dark letters of an enabled Edit…), and
# whether the quick edit is open (the dark letters of its Done).
e2e_menu_listed() { [[ "$(e2e_pixel 300 180 "$menu")" == "255 255 255" ]]; }
e2e_menu_dark() { local r g b; read -r r g b < <(e2e_pixel "$1" "$2" "$menu") && [[ -n "$b" ]] && ((r < 128 && g < 128 && b < 128)); }
e2e_menu_card_chosen() { e2e_menu_dark 498 81; }
e2e_menu_editing() { e2e_menu_dark 498 393; }
# Down from the menu-bar window's search field: the first takes the keys into its list (a moment
# later), the next chooses the first card; pressed until a card is chosen (60 s). For a search
# that lists one card.
e2e_menu_down_to_card() {
  down_once() { xdotool key Down; e2e_caught_up "$menu" >/dev/null 2>&1; e2e_menu_card_chosen; }
  e2e_wait_until 60 down_once
}
# Whether no client holds the keyboard (a recorder, an open menu): a grab of our own succeeds, and
# is let go at once.
e2e_keyboard_free() { python3 "$E2E_DIR/x-keyboard.py" free; }
# Whether the menu-bar window has the keyboard.
e2e_menu_active() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$menu" ]]; }

# Before a picture that checks nothing: waits until the program has drawn what it was asked for
# (e2e_caught_up through its main window, $win). A program that cannot be asked (its window gone)
# is pictured as it is.
e2e_settled() { [[ -z "${win:-}" ]] || e2e_caught_up "$win" >/dev/null 2>&1; return 0; }

# Timing marks (KESTO_TIMING_LOG): the program's own account, in order, of its frames, its list
# reloads and the input it took. e2e_marks_on before a start has it write them to $marks.
e2e_marks_on() {
  marks="$work/marks.log"
  export KESTO_TIMING_LOG="$marks"
}
# How many marks are written so far: a wait for what an action does looks at those after it.
e2e_marks_count() { if [[ -e "$marks" ]]; then wc -l <"$marks"; else echo 0; fi; }
# Whether every animation the program began has ended, its completion run (a stage slid into
# place, a sheet moved in): what it moved is where a click finds it.
e2e_animations_ended() {
  [[ -e "$marks" ]] && awk '$2 == "animation-begin" { n++ } $2 == "animation-end" { n-- } END { exit n != 0 }' "$marks"
}
# Whether, after mark $1, the main window's list was reloaded (holding $2 items when given, or at
# least N for "N+") and a frame of the window drawn after that: the window shows the list as it is.
e2e_list_drawn() {  # after [items|N+]
  awk -v from="$1" -v items="${2:-}" '
    function holds(n) { return items == "" || (items ~ /\+$/ ? n >= items + 0 : n == items + 0) }
    NR > from && NF == 4 && $2 == "list-reload" && $4 == "Kesto" && holds($3) { r = NR }
    NR > from && r && NF == 3 && $2 == "frame" && $3 == "Kesto" { f = NR }
    END { exit !(r && f > r) }' "$marks" 2>/dev/null
}

# Puts a stand-in for the program $1 first on PATH that writes the arguments it was given, one a
# line, to $work/$1.log (see e2e_app_paths).
e2e_recording_program() {  # name
  mkdir -p "$work/bin"
  printf '#!/bin/bash\nprintf "%%s\\n" "$@" >>%q\n' "$work/$1.log" >"$work/bin/$1"
  chmod +x "$work/bin/$1"
  [[ ":$PATH:" == *":$work/bin:"* ]] || export PATH="$work/bin:$PATH"
}

# Starts a system tray (trayer, at the top right) for the menu-bar window's icon and waits until
# it shows; its process id is $tray_pid, and it ends with the script.
e2e_tray_shown() { xdotool search --class trayer >/dev/null 2>&1; }
e2e_start_tray() {
  trayer --edge top --align right --widthtype pixel --width 100 --height 24 --transparent false \
    >"$work/trayer.log" 2>&1 &
  tray_pid=$!
  e2e_pids+=("$tray_pid")
  e2e_wait_until 60 e2e_tray_shown || fail "trayer did not start"
}
# Clicks the program's icon in the tray: the right end of the tray, where trayer puts the only
# icon it holds. A window of trayer's class that goes while it is measured stops xdotool with an
# X error and no whole geometry: it is measured again.
e2e_tray_spot=""
e2e_measure_tray() {
  e2e_tray_spot="$(set -o pipefail; xdotool search --class trayer getwindowgeometry --shell %@ 2>/dev/null |
    awk -F= '/^X=/{x=$2}/^Y=/{y=$2}/^WIDTH=/{w=$2}/^HEIGHT=/{h=$2}END{if (w <= 0) exit 1; print x+w-12, y+h/2}')"
}
e2e_click_tray_icon() {
  local tx ty
  e2e_wait_until 60 e2e_measure_tray || { echo "the tray could not be measured" >&2; return 1; }
  read -r tx ty <<<"$e2e_tray_spot"
  xdotool mousemove "$tx" "$ty" click 1
}

# Runs SQL on the library ($store), waiting while another process writes; errors are silent.
e2e_sql() { sqlite3 -cmd '.timeout 10000' "$store" "$@" 2>/dev/null; }

# Prints an entry of the settings file ($settings) as Python prints it (True, False, a number,
# the text), or nothing when it is absent; fails when the file cannot be read.
e2e_setting() {  # key
  python3 -c 'import plistlib, sys
v = plistlib.load(open(sys.argv[1], "rb")).get(sys.argv[2])
print("" if v is None else v)' "$settings" "$1" 2>/dev/null
}

# Whether the settings file holds the value $2 (as e2e_setting prints it) for the key $1.
e2e_setting_is() { local value; value="$(e2e_setting "$1")" && [[ "$value" == "$2" ]]; }

# Writes the settings file ($settings, see e2e_app_paths) as a property list of the entries given,
# each a key and its value element: e2e_write_settings UseInboxForBookmarks '<true/>' ...
e2e_write_settings() {
  mkdir -p "$(dirname "$settings")"
  {
    printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' \
      '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">' \
      '<plist version="1.0">' '<dict>'
    while (($# >= 2)); do
      printf '\t<key>%s</key>\n\t%s\n' "$1" "$2"
      shift 2
    done
    printf '%s\n' '</dict>' '</plist>'
  } >"$settings"
}

# Adds $1 bookmarks (default 50,000) to the library at $store, filed in the folder of a bookmark
# already there (a library the first-run panel filled), as a large library to test with.
e2e_grow_library() {  # [count]
  sqlite3 -cmd '.timeout 10000' "$store" "
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ${1:-50000})
    INSERT INTO ZBOOKMARK (Z_PK, Z_ENT, Z_OPT, ZUNIQUEID, ZURL, ZBASEURL, ZTITLE, ZADDEDDATE, ZUPDATEDDATE,
                           ZTRASHED, ZBLOCKED, ZBROKEN, ZISFAVORITE, ZTIMESOPENED, ZVERSION, ZFOLDER)
    SELECT (SELECT max(Z_PK) FROM ZBOOKMARK) + i, 1, 1, lower(hex(randomblob(16))),
           'http://site' || (i % 997) || '.example/page/' || i, 'http://site' || (i % 997) || '.example',
           'Page ' || i, 600000000 + i, 600000000 + i, 0, 0, 0, 0, 0, 1,
           (SELECT ZFOLDER FROM ZBOOKMARK WHERE ZFOLDER IS NOT NULL LIMIT 1) FROM n;
    UPDATE Z_PRIMARYKEY SET Z_MAX = (SELECT max(Z_PK) FROM ZBOOKMARK) WHERE Z_NAME = 'Bookmark';"
}

# Serves an update file ("version#system") from a loopback host (ended with the script)
# and starts the settings file with the program's update address pointing there. Needs
# e2e_app_paths first.
e2e_update_host() {  # contents
  mkdir -p "$work/site/update"
  echo "$1" >"$work/site/update/update.txt"
  local port
  port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
  python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >"$work/site.log" 2>&1 &
  e2e_pids+=("$!")
  e2e_write_settings KestoUpdateURL "<string>http://127.0.0.1:$port/update/update.txt</string>"
  chmod 600 "$settings"
}

# Starts the program's settings ($settings, from e2e_app_paths) with thumbnails, and the page that
# tells an offline machine from a broken page, asked of a closed loopback port, so the test never
# leaves the machine for them, and the entries given (as for e2e_write_settings).
e2e_offline_settings() {  # [--tutorials] [key value...]: --tutorials leaves the first-use tutorials to be shown
  local entries=() key
  if [[ "${1:-}" == "--tutorials" ]]; then
    shift
  else
    # The tutorials open over the window at their places; only the script about them wants them.
    for key in Inbox Imoprt Library Deliciousy Pinboard Tags Bookmark; do
      entries+=("BRWTutorial${key}Seen" '<true/>')
    done
  fi
  e2e_write_settings KestoThumbnailServiceHost '<string>http://127.0.0.1:9</string>' \
    KestoReachabilityCheckURL '<string>http://127.0.0.1:9/</string>' "${entries[@]}" "$@"
}
