#!/usr/bin/env bash
# Runs "tollvane-cli rehearse" on a fixture document as a user would: the
# transport's count-off, the clicks on the beat, the cue start and streamers
# ahead by the video latency, the stop; and the exit codes of bad options.
# Usage: rehearse.sh <tollvane-cli> <tests/data>
set -u
cli="$1"
doc="$2/documents/full.tollvane"
. "$(dirname "$0")/common.sh"

"$cli" rehearse "$doc" --cue 1M1 --seconds 12 >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "rehearse exited with $status: $(cat "$work/err")"
# Lines in time order: time from the start, timecode, what. 1M1 syncs at
# 1:00:10:00 at 120 bpm: the run parks 0.2 s before the rehearsal start, the
# warning clicks lead in on the beat, the cue-start flash and each streamer
# come 0.1 s (the video latency) before their timecodes.
for wanted in \
  '+0.500  1:00:05:20  status: Playing from 1:00:05:20/00@25fps' \
  '+2.700  1:00:08:00  click' \
  '+4.600  1:00:09:22  cue start' \
  '+4.700  1:00:10:00  click' \
  '+5.200  1:00:10:12  click' \
  '+12.500  1:00:17:20  status: Waiting for MTC...'; do
  grep -qF -- "$wanted" "$work/out" || fail "rehearse output lacks '$wanted'"
done
clicks=$(grep -c ' click$' "$work/out")
[ "$clicks" -eq 20 ] || fail "rehearse gave $clicks clicks, wanted 20"
# Nothing scheduled past the stop is left in the list.
tail -1 "$work/out" | grep -q 'Waiting for MTC' || fail "rehearse lists something after the stop"
sorted=$(grep '^ *[+-]' "$work/out" | awk '{print $1}' | sort -g -c 2>&1)
[ -z "$sorted" ] || fail "rehearse output is not in time order"

# From a timecode: the first click is the next beat.
"$cli" rehearse "$doc" --cue 101 --from 01:00:15:00 --seconds 1 >"$work/out" 2>/dev/null
grep -qF '1:00:15:12  click' "$work/out" || fail "rehearse --from did not click on the next beat"

expect_status() {  # expect_status <status> <args...>
  local want="$1"
  shift
  "$cli" "$@" >/dev/null 2>"$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "tollvane-cli $* exited with $got, wanted $want"
  [ -s "$work/err" ] || fail "tollvane-cli $* said nothing on stderr"
}
expect_status 2 rehearse "$doc"
expect_status 2 rehearse "$doc" --cue 1M1 --from 'ten past'
expect_status 2 rehearse "$doc" --cue 1M1 --seconds -1
expect_status 1 rehearse "$doc" --cue 'no such cue'
expect_status 1 rehearse "$work/missing.tollvane" --cue 1M1

finish "rehearse"
