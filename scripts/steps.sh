# Sourced by the build and test scripts: `step NAME COMMAND...` runs COMMAND and prints how long
# it took, so a CI log shows where its time went. The command's exit status is kept.
step() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "[step] $name: $((SECONDS - start)) s (exit $status)"
  return "$status"
}
