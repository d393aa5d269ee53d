#!/usr/bin/env bash
# Runs "tollvane-cli import-smf" as a user would: a MIDI file imported into a
# new document with its pre-roll dropped, the track list asked for, and a
# file that is no MIDI file refused with the document untouched.
# Usage: import_smf.sh <tollvane-cli> <tests/data>
set -u
cli="$1"
smf="$2/smf-import"
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TOLLVANE_CONFIG_DIR="$work/config"
mkdir -p "$TOLLVANE_CONFIG_DIR"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

run() {
  "$cli" "$@" >"$work/out" 2>"$work/err"
  status=$?
}

doc="$work/score.tollvane"
run new "$doc" --rate 25
[ "$status" -eq 0 ] || fail "new exited with $status: $(cat "$work/err")"

run import-smf "$doc" "$smf/drop-two-bars.mid" --drop-bars 2 --list
[ "$status" -eq 0 ] || fail "import-smf exited with $status: $(cat "$work/err")"
for wanted in '  0  Text / hits / second' '* 1  punches' '* 2  STREAMERS' 'downbeat (bar 3) at ' \
  'added cue "drop-two-bars"' '(tracks 1,2, 2 bars dropped)' '2 tempo, 2 meter'; do
  grep -qF -- "$wanted" "$work/out" || fail "output lacks '$wanted': $(cat "$work/out")"
done

run import-smf "$doc" "$smf/plain.mid" --tracks 0
[ "$status" -eq 0 ] || fail "import-smf --tracks exited with $status: $(cat "$work/err")"
grep -qF '(tracks 0, 0 bars dropped)' "$work/out" || fail "tracks not taken: $(cat "$work/out")"

run import-smf "$doc" "$smf/plain.mid" --start-bar=101
[ "$status" -eq 0 ] || fail "import-smf --start-bar exited with $status: $(cat "$work/err")"
grep -qF 'bars from 101' "$work/out" || fail "start bar not taken: $(cat "$work/out")"

cp "$doc" "$work/before"
run import-smf "$doc" "$smf/not-midi.mid"
[ "$status" -ne 0 ] || fail "a file that is no MIDI file was accepted"
grep -qF "not-midi.mid" "$work/err" || fail "the message does not name the file: $(cat "$work/err")"
cmp -s "$doc" "$work/before" || fail "the document changed after a refused import"

run import-smf "$doc" "$smf/plain.mid" --drop-bars x
[ "$status" -ne 0 ] || fail "a bad --drop-bars was accepted"

[ "$failures" -eq 0 ] && echo "import_smf: all passed"
exit $((failures > 0))
