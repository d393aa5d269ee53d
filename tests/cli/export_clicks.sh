#!/usr/bin/env bash
# Runs "tollvane-cli export-clicks" on a fixture document as a user would:
# the file's layout and length, the suggested name, the question for a cue
# without an end, and the exit codes of bad options.
# Usage: export_clicks.sh <tollvane-cli> <tests/data>
set -u
cli=$(realpath "$1")
doc="$(realpath "$2")/documents/full.tollvane"
. "$(dirname "$0")/common.sh"

# Little-endian unsigned integer of <bytes> bytes at <offset>.
le() { od -An -tu"$3" -j "$2" -N "$3" "$1" | tr -d ' '; }

# 1M1 syncs at 1:00:10:00 at 120 bpm; its warning clicks start at 1:00:08:00
# and the file 2 s before. Its clicks end at 1:00:26:00: 20 s and one 15 ms
# click of 24-bit samples at 48 kHz behind a 44-byte header, nothing else.
"$cli" export-clicks "$doc" --cue 1M1 -o "$work/a.wav" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "export-clicks exited with $status: $(cat "$work/err")"
grep -qF "wrote $work/a.wav" "$work/out" || fail "export-clicks did not say what it wrote"
[ "$(head -c 4 "$work/a.wav")" = RIFF ] || fail "a.wav is not a RIFF file"
[ "$(dd if="$work/a.wav" bs=1 skip=8 count=8 2>/dev/null)" = "WAVEfmt " ] || fail "a.wav is not WAVE"
[ "$(le "$work/a.wav" 22 2)" = 1 ] || fail "a.wav is not mono"
[ "$(le "$work/a.wav" 24 4)" = 48000 ] || fail "a.wav is not at 48000 Hz"
[ "$(le "$work/a.wav" 34 2)" = 24 ] || fail "a.wav is not 24 bit"
[ "$(dd if="$work/a.wav" bs=1 skip=36 count=4 2>/dev/null)" = data ] || fail "a.wav has chunks besides fmt and data"
[ "$(stat -c %s "$work/a.wav")" -eq $((44 + 3 * (20 * 48000 + 720))) ] || fail "a.wav has the wrong length"

# AIFF from the extension, 16 bit at 44.1 kHz.
"$cli" export-clicks "$doc" --cue 101 -o "$work/b.aiff" --bits 16 --rate 44100 >/dev/null 2>"$work/err" ||
  fail "export-clicks to AIFF failed: $(cat "$work/err")"
[ "$(head -c 4 "$work/b.aiff")" = FORM ] || fail "b.aiff is not an IFF file"
[ "$(dd if="$work/b.aiff" bs=1 skip=8 count=4 2>/dev/null)" = AIFF ] || fail "b.aiff is not AIFF"

# Without -o: the suggested name in the current folder.
(cd "$work" && "$cli" export-clicks "$doc" --cue 1M1 --preroll 4 >/dev/null 2>&1) || fail "export-clicks without -o failed"
[ -f "$work/1M1 Opening_01000400_clix.wav" ] || fail "export-clicks did not write the suggested name: $(ls "$work")"

# A cue without an end asks first; without --yes the answer is no.
"$cli" export-clicks "$doc" --cue 1M2 -o "$work/c.wav" >/dev/null 2>"$work/err"
[ $? -eq 1 ] || fail "export-clicks of a cue without an end did not refuse"
grep -qF "No cue end event" "$work/err" || fail "export-clicks did not ask about the missing cue end"
[ -e "$work/c.wav" ] && fail "a refused export wrote a file"

# A failed export leaves what was there.
echo old >"$work/keep.wav"
"$cli" export-clicks "$doc" --cue 1M1 -o "$work/keep.wav" --bits 32 --rate 8000 >/dev/null 2>&1 ||
  fail "export-clicks over an old file failed"
[ "$(le "$work/keep.wav" 34 2)" = 32 ] || fail "keep.wav was not replaced by a 32-bit file"

expect_status() {  # expect_status <status> <args...>
  local want="$1"
  shift
  "$cli" "$@" >/dev/null 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "tollvane-cli $* exited with $got, wanted $want"
  [ -s "$work/err" ] || fail "tollvane-cli $* said nothing on stderr"
}
expect_status 2 export-clicks "$doc"
expect_status 2 export-clicks --cue 1M1
expect_status 2 export-clicks "$doc" --cue 1M1 --bits 12
expect_status 2 export-clicks "$doc" --cue 1M1 --rate fast
expect_status 2 export-clicks "$doc" --cue 1M1 --rate 44100.5
expect_status 2 export-clicks "$doc" --cue 1M1 --format mp3
expect_status 2 export-clicks "$doc" --cue 1M1 --preroll -1
expect_status 1 export-clicks "$doc" --cue 'no such cue' -o "$work/d.wav"
expect_status 1 export-clicks "$doc" --cue 1M1 -o "$work"
expect_status 1 export-clicks "$work/missing.tollvane" --cue 1M1
"$cli" export-clicks --help | grep -q 'usage: tollvane-cli export-clicks' || fail "export-clicks --help"

ls "$work" | grep -q 'tmp-' && fail "a temporary file was left behind"
finish "export_clicks"
