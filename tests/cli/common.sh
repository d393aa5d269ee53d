# What every command-line test script shares; sourced, not run. It gives a
# scratch folder ($work) removed on exit, user defaults of their own (cues,
# documents and exports take the user defaults: the tester's own stay out of
# it), fail to count a failure, run and check_json to run a command and
# read what it printed, and finish to end with the summary line and
# the exit status.
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TOLLVANE_CONFIG_DIR="$work/config"
mkdir -p "$TOLLVANE_CONFIG_DIR"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run calls "$cli", which the script sets; a script whose run means
# something else defines its own after sourcing this.
run() {  # run <args...>: stdout to $work/out, stderr to $work/err, status in $status
  "$cli" "$@" >"$work/out" 2>"$work/err"
  status=$?
}

# check_json <python statements over d, the parsed stdout, with the work
# folder in sys.argv[2]> <args...>
check_json() {
  local program="$1"
  shift
  run "$@"
  if [ "$status" -ne 0 ] || ! python3 -c "
import json, sys
d = json.load(open(sys.argv[1]))
$program" "$work/out" "$work"; then
    fail "tollvane-cli $* (status $status)"
    sed 's/^/  stdout: /' "$work/out" | head -40
    sed 's/^/  stderr: /' "$work/err"
  fi
}

# finish <name>
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "$1: all passed"
}
