#!/usr/bin/env bash
# Runs "tollvane-cli process-streamers" as a user would: a file processed and
# its copy written (and an older copy replaced), the warning for a note that
# cannot move, files without the track or not MIDI at all refused with
# nothing written, and the refusals of a missing -o and of -o naming the
# input itself.
# Usage: process_streamers.sh <tollvane-cli> <tests/data>
set -u
cli=$(realpath "$1")
data="$(realpath "$2")/streamers"
. "$(dirname "$0")/common.sh"

run() {
  "$cli" process-streamers "$@" >"$work/out" 2>"$work/err"
  status=$?
}

# The bytes of a file as one line of hex digits.
hex() { od -An -tx1 -v "$1" | tr -d ' \n'; }

# one-streamer.mid: note 84 at beat 16 (8 s at 120 bpm) moves 3 1/3 s
# earlier, to beat 9 1/3: tick 4480 (delta a3 00 after the name at 0),
# note-on 90 54 64.
echo "an older copy" >"$work/copy.mid"
run "$data/one-streamer.mid" -o "$work/copy.mid"
[ "$status" -eq 0 ] || fail "process-streamers exited with $status: $(cat "$work/err")"
for wanted in 'one-streamer.mid' '  Streamers track found.' '  1 streamer and 0 punches found, out of 1 note.' \
  "wrote $work/copy.mid"; do
  grep -qxF -- "$wanted" "$work/out" || fail "output lacks '$wanted': $(cat "$work/out")"
done
[ "$(head -c 4 "$work/copy.mid")" = MThd ] || fail "the older copy was not replaced by a MIDI file"
hex "$work/copy.mid" | grep -q a300905464 || fail "note 84 is not at beat 9 1/3 in the copy"
hex "$data/one-streamer.mid" | grep -q bc00905464 || fail "the input file changed"

run "$data/early.mid" -o "$work/early.mid"
[ "$status" -eq 0 ] || fail "early.mid: exited with $status: $(cat "$work/err")"
[ "$(grep -cxF '  Warning: A MIDI event would be shifted before the start of the MIDI file. This event has not been shifted.' \
  "$work/out")" -eq 2 ] || fail "early.mid: not two warnings: $(cat "$work/out")"

# Refused with nothing written.
for file in no-streamers.mid not-midi.mid missing.mid; do
  run "$data/$file" -o "$work/refused.mid"
  [ "$status" -eq 1 ] || fail "$file: exited with $status"
  [ -e "$work/refused.mid" ] && fail "$file: a file was written"
  grep -qF "nothing written" "$work/err" || fail "$file: no word of nothing written: $(cat "$work/err")"
done
run "$data/no-streamers.mid" -o "$work/refused.mid"
grep -qxF '  Error: The selected MIDI file does not contain a track named "Streamers".' "$work/out" ||
  fail "no-streamers.mid: no error line: $(cat "$work/out")"
run "$data/not-midi.mid" -o "$work/refused.mid"
grep -qxF '  Error: Unable to load MIDI file.' "$work/out" || fail "not-midi.mid: no error line: $(cat "$work/out")"

# Bad command lines.
run "$data/one-streamer.mid"
[ "$status" -eq 2 ] || fail "a missing -o exited with $status"
grep -qF -- "-o OUT" "$work/err" || fail "a missing -o is not explained: $(cat "$work/err")"
cp "$data/one-streamer.mid" "$work/input.mid"
run "$work/input.mid" -o "$work/../$(basename "$work")/input.mid"
[ "$status" -eq 2 ] || fail "-o naming the input exited with $status"
cmp -s "$work/input.mid" "$data/one-streamer.mid" || fail "the input was overwritten"
run "$data/one-streamer.mid" -o "$work/x.mid" --bogus
[ "$status" -eq 2 ] || fail "an unknown option exited with $status"
run --help
[ "$status" -eq 0 ] && grep -qF "usage: tollvane-cli process-streamers" "$work/out" || fail "--help"

finish process_streamers
