# The end-to-end scripts' one step: `check DESCRIPTION COMMAND...` runs the command, prints "ok" or
# "FAIL" with what it printed, and counts the failures in $failures. Needs $work for its output.
# shellcheck shell=bash
failures=0
check() {  # description command...
  local what=$1; shift
  if "$@" >"$work/stdout" 2>"$work/stderr"; then
    echo "ok   $what"
  else
    echo "FAIL $what"; sed 's/^/     /' "$work/stdout" "$work/stderr"; failures=$((failures + 1))
  fi
}
