#!/usr/bin/env bash
# The compilers' launcher where the checkout's path holds a character Ninja's depfile reader
# stops at (cmake/Launchers.cmake): runs the compilation, then writes the depfile it made (-MF)
# again with the files below the build folder and the source folder named relative to the build
# folder, as Ninja finds them from there.
# Usage: relative-depfile.sh BUILD_FOLDER SOURCE_FOLDER SOURCE_FOLDER_FROM_BUILD_FOLDER COMMAND...
build=$1 source=$2 source_from_build=$3
shift 3
"$@" || exit

depfile="" previous=""
for argument in "$@"; do
  [[ "$previous" == -MF ]] && depfile=$argument
  previous=$argument
done
[[ -n "$depfile" && -f "$depfile" ]] || exit 0

# A path as the compilers write it in a depfile: a space or a # after a backslash, a $ doubled.
depfile_form() {
  local path=${1//'$'/'$$'}
  path=${path//'#'/'\#'}
  printf '%s' "${path//' '/'\ '}"
}
# The longer folder first: one may lie inside the other (the build folder in the checkout).
from=("$(depfile_form "$build/")" "$(depfile_form "$source/")")
to=("" "$(depfile_form "${source_from_build:+$source_from_build/}")")
if ((${#source} > ${#build})); then
  from=("${from[1]}" "${from[0]}") to=("${to[1]}" "${to[0]}")
fi
content=$(<"$depfile")
[[ "$content" == *"${from[0]}"* || "$content" == *"${from[1]}"* ]] || exit 0
content=${content//"${from[0]}"/"${to[0]}"}
content=${content//"${from[1]}"/"${to[1]}"}
printf '%s\n' "$content" >"$depfile"
