#!/usr/bin/env bash
# Runs "tollvane-cli mapping" as a user would: the shipped mapping, a preset
# saved and loaded back, going back to the default, and the errors.
# Usage: mapping.sh <tollvane-cli>
set -u
cli="$1"
. "$(dirname "$0")/common.sh"

run() {  # run <wanted status> <args...>: stdout in $work/out, stderr in $work/err
  local want_status="$1"
  shift
  "$cli" mapping "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" -eq "$want_status" ] || fail "tollvane-cli mapping $* exited $status, wanted $want_status ($(cat "$work/err"))"
}

has_line() {  # has_line <file> <fixed text>
  grep -qF -- "$2" "$1" || fail "no line '$2' in $(basename "$1"): $(head -3 "$1")"
}

# The shipped mapping.
run 0
has_line "$work/out" "event mapping: 30 entries (shipped default)"
has_line "$work/out" "note 36 (C2)   1-hole punch, regular"
has_line "$work/out" "note 37 (C#2)  cue start"
has_line "$work/out" "note 48 (C3)   2.0' regular streamer       streamer    2'      regular  0 1 0"
has_line "$work/out" "note 91 (G6)   8.0' regular streamer"
[ -s "$work/err" ] && fail "stderr not empty: $(cat "$work/err")"

run 0 --json
python3 - "$work/out" <<'PY' || fail "--json output"
import json, sys
root = json.load(open(sys.argv[1]))
assert root["source"] == "shipped default", root["source"]
entries = root["entries"]
assert len(entries) == 30
first = entries[0]
assert first["noteOn"] == 24 and first["midiNote"] == 36 and first["noteName"] == "C2", first
assert first["type"] == "punch" and first["length"] == 1 and first["size"] == "regular", first
beeps = [e for e in entries if e["type"] == "beeps"][0]
assert beeps["beepCount"] == 3 and beeps["beepTime"] == 2.0, beeps
PY

# Saved, loaded back into the defaults, forgotten again.
run 0 --save "$work/Mine.TollvanePreset"
[ -s "$work/Mine.TollvanePreset" ] || fail "--save wrote nothing"
head -c 8 "$work/Mine.TollvanePreset" | grep -q bplist00 || fail "the preset is no binary property list"
run 0 --load "$work/Mine.TollvanePreset"
has_line "$work/out" "event mapping: 30 entries (user defaults)"
run 0
has_line "$work/out" "event mapping: 30 entries (user defaults)"
run 0 --reset
has_line "$work/out" "event mapping: 30 entries (shipped default)"

# A preset that cannot be read keeps the stored mapping.
run 0 --load "$work/Mine.TollvanePreset"
echo "not a preset" >"$work/junk.TollvanePreset"
run 1 --load "$work/junk.TollvanePreset"
has_line "$work/err" "Error loading preset: Tollvane was unable to load the event mapping preset. "
[ -s "$work/out" ] && fail "a failed load printed a mapping"
run 1 --load "$work/missing.TollvanePreset"
run 0
has_line "$work/out" "(user defaults)"
mkdir "$work/folder.TollvanePreset"
run 1 --save "$work/folder.TollvanePreset"
has_line "$work/err" "Error saving preset: Tollvane was unable to save the event mapping preset. "

# Bad options: one line, status 2.
for args in "--bogus" "--load" "--save" "extra" "--load a --reset" "--save a --save b"; do
  # shellcheck disable=SC2086
  run 2 $args
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "mapping $args: wanted one line on stderr, got: $(cat "$work/err")"
done

run 0 --help
has_line "$work/out" "usage: tollvane-cli mapping"

finish "mapping"
