#!/usr/bin/env bash
# Times typing into the library search and wheel scrolling in the running application on a
# generated 50,000-bookmark library, under a private X session:
#   Benchmarks/Views/AppTiming/measure.sh BUILD_DIR [search|scroll|both] [SHOTS_DIR]
# KESTO_BINARY names another kesto program to time (an older build, say).
# KESTO_THUMBNAILS=1 serves every page picture from a loopback thumbnail service (one JPEG), so
# scrolling loads, decodes and caches pictures; otherwise their requests fail at once.
# Prints the time from each keystroke to the last drawn frame of its results, and the gaps
# between frames while the wheel turns at 60 clicks a second.
set -euo pipefail
build="$(cd "$1" && pwd)"
what="${2:-both}"
shots="${3:-}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
exec "$root/Tests/Harness/e2e/xvfb-session.sh" -- bash -c '
  set -uo pipefail
  build="$1" what="$2" shots="$3" here="$4" root="$5"
  . "$root/Tests/Harness/e2e/lib.sh"
  e2e_app_paths
  e2e_offline_settings
  host=http://127.0.0.1:9
  picture=()
  if [[ -n "${KESTO_THUMBNAILS:-}" ]]; then
    picture=("$work/thumbnail.jpg")
    "$build/Benchmarks/Views/SampleLibrary/kesto-sample-library" 1 1 1 "$host" "$work/thumbnail.jpg" >/dev/null 2>&1
    rm -rf "$XDG_DATA_HOME/kesto"
    python3 "$E2E_DIR/picture-server.py" "$work/thumbnail.jpg" "$work/port" &
    server=$!
    e2e_wait_until 10 test -s "$work/port"
    host="http://127.0.0.1:$(cat "$work/port")"
  fi
  "$build/Benchmarks/Views/SampleLibrary/kesto-sample-library" 50000 1248 37000 "$host" >/dev/null 2>&1 || { echo "no library"; exit 1; }
  export KESTO_FRAME_LOG="$work/frames.log"
  LD_PRELOAD="$build/Benchmarks/Views/AppTiming/libkesto-frame-log.so" "${KESTO_BINARY:-$build/Source/App/kesto}" >"$work/kesto.log" 2>&1 &
  app=$!
  win="$(e2e_wait_window "^Kesto$" 30)" || { echo "no window"; cat "$work/kesto.log"; exit 1; }
  xdotool windowsize --sync "$win" 1200 760 >/dev/null 2>&1
  sleep 6  # the start-up work and the first backup behind it
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  # The first Ctrl+F prepares the search for the whole library (and with it loads the tags of every
  # bookmark): once, not per keystroke or scrolled row.
  xdotool key ctrl+f
  sleep 1
  # KESTO_PERF_OUT=file records the main program with perf while it is driven.
  if [[ -n "${KESTO_PERF_OUT:-}" ]]; then
    perf record -F 2000 --call-graph dwarf,16384 -o "$KESTO_PERF_OUT" -p "$app" >/dev/null 2>&1 &
    perf_pid=$!
    sleep 1
  fi
  if [[ "$what" != scroll ]]; then
    python3 "$here/drive.py" type "$work/frames.log" 250 "article 4711" "linux kernel" "site42" "recipe"
    [[ -n "$shots" ]] && e2e_screenshot "$shots/search.png" "$win"
    xdotool key ctrl+a BackSpace
    sleep 1.5
  fi
  if [[ "$what" != search ]]; then
    # Down over rows not seen yet, then back up over rows seen (their pictures are cached).
    python3 "$here/drive.py" wheel "$work/frames.log" $((X + WIDTH / 2 + 100)) $((Y + HEIGHT / 2)) 5 60 down
    python3 "$here/drive.py" wheel "$work/frames.log" $((X + WIDTH / 2 + 100)) $((Y + HEIGHT / 2)) 5 60 up
    [[ -n "$shots" ]] && e2e_screenshot "$shots/scroll.png" "$win"
  fi
  if [[ -n "${perf_pid:-}" ]]; then kill -INT "$perf_pid"; wait "$perf_pid"; fi
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  [[ -n "${server:-}" ]] && kill "$server"
  true
' measure "$build" "$what" "$shots" "$here" "$root"
