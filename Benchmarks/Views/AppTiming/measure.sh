#!/usr/bin/env bash
# Times typing into the library search and wheel scrolling in the running application on a
# generated 50,000-bookmark library, under a private X session:
#   Benchmarks/Views/AppTiming/measure.sh BUILD_DIR [search|scroll|both] [SHOTS_DIR]
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
  "$build/Benchmarks/Views/SampleLibrary/kesto-sample-library" >/dev/null 2>&1 || { echo "no library"; exit 1; }
  export KESTO_FRAME_LOG="$work/frames.log"
  LD_PRELOAD="$build/Benchmarks/Views/AppTiming/libkesto-frame-log.so" "$build/Source/App/kesto" >"$work/kesto.log" 2>&1 &
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
    python3 "$here/drive.py" wheel "$work/frames.log" $((X + WIDTH / 2 + 100)) $((Y + HEIGHT / 2)) 5 60 down
    [[ -n "$shots" ]] && e2e_screenshot "$shots/scroll.png" "$win"
  fi
  if [[ -n "${perf_pid:-}" ]]; then kill -INT "$perf_pid"; wait "$perf_pid"; fi
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  true
' measure "$build" "$what" "$shots" "$here" "$root"
