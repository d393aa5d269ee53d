# What every command-line test script shares; sourced, not run. It gives a
# scratch folder ($work) removed on exit, user defaults of their own (cues,
# documents and exports take the user defaults: the tester's own stay out of
# it), fail to count a failure, and finish to end with the summary line and
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

# finish <name>
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "$1: all passed"
}
