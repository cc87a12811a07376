#!/usr/bin/env bash
# A checkout in a folder named as users name theirs (an apostrophe, a space, a letter outside
# ASCII, 200 bytes deep) is up to date once built: a second build with nothing changed does
# nothing. Builds the small project in up-to-date/ with the project's own cmake/ helpers, copied
# there, with ccache and without; then the same project in a plain folder, with the same cache,
# is up to date once built too (nothing the first checkout left in the cache names its files).
# Usage: up-to-date-test.sh SOURCE_DIR
set -euo pipefail
root="$1"
for tool in cmake ninja c++ cc; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/up-to-date-XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

checkout="$work/Anna's projects/Kesto für alle"
while (($(printf %s "$checkout" | wc -c) < 200)); do checkout+="/a deeper folder"; done
# The small project with the project's helpers, laid out in the folder $1.
laid_out() {  # folder
  mkdir -p "$1/cmake"
  cp -R "$root/Tests/Harness/e2e/up-to-date/." "$1/"
  cp "$root/cmake/Kesto.cmake" "$root/cmake/Launchers.cmake" "$root/cmake/relative-depfile.sh" "$1/cmake/"
}
laid_out "$checkout"
# A cache of the test's own: every compilation is a miss, as in a first build.
export CCACHE_DIR="$work/ccache"
# The compilers' temporary files in the system's folder, as in a user's build, not in the test
# run's (in the build folder): where that path holds an apostrophe, CMake cannot read the
# compiler's link line back, finds no library folders, and no Qt.
build_command() { env -u TMPDIR "$@"; }

# Configures and builds the build folder $1 of the checkout $2 once.
built_first() {  # build-folder checkout
  local build="$2/$1"
  build_command cmake -S "$2" -B "$build" -G Ninja >"$work/configure.log" 2>&1 ||
    fail "configure: $(cat "$work/configure.log")"
  build_command cmake --build "$build" >"$work/build.log" 2>&1 || fail "first build: $(cat "$work/build.log")"
  [[ "$("$build/count")" == "2 X" ]] || fail "the program built does not run"
}
# Fails unless building the build folder $1 of the checkout $2 again, after the check of the
# globbed folders, has nothing to do.
built_again_does_nothing() {  # build-folder checkout
  local build="$2/$1" second
  second="$(build_command cmake --build "$build" -- -d explain 2>&1)" || fail "second build: $second"
  if grep -E '^\[[0-9]+/[0-9]+\]' <<<"$second" | grep -qv 'Re-checking globbed directories' ||
      ! grep -q 'no work to do' <<<"$second"; then
    fail "a second build in $(basename "$build") of $2 did more than check: $second"
  fi
}
# Builds in the build folder $1 (of the checkout $2, else of $checkout) twice; fails unless the
# second build has nothing to do.
built_once() {  # build-folder [checkout]
  built_first "$1" "${2:-$checkout}"
  built_again_does_nothing "$1" "${2:-$checkout}"
}
built_once build
# ccache left out: it then makes no path relative, neither those of the compiler's arguments.
CCACHE_DISABLE=1 built_once build-without-ccache
# The same sources in a plain folder, with the cache the first checkout's build filled.
plain="$work/plain/kesto"
laid_out "$plain"
built_once build "$plain"

# A checkout whose path holds a space alone (no character Ninja stops at, so no depfile launcher),
# then a plain one built from the same cache, the first removed before the plain one builds again:
# had ccache served the first, the plain one's depfiles would name the removed checkout's files
# and it would compile again on every build. Both need a temporary folder whose own path is plain.
not_plain='[[:space:]"'"'"'&*;<>?^`|]'
if [[ "$work" =~ $not_plain ]]; then
  echo "the checkouts named with a space alone and plainly were not built: the temporary folder $work is not plainly named"
else
  export CCACHE_DIR="$work/ccache-space"
  spaced="$work/only a space/kesto"
  laid_out "$spaced"
  built_once build "$spaced"
  after_space="$work/plain-after-space/kesto"
  laid_out "$after_space"
  built_first build "$after_space"
  rm -rf "$work/only a space"
  built_again_does_nothing build "$after_space"
fi
echo "every build was up to date after one build"
