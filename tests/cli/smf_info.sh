#!/usr/bin/env bash
# Runs "tollvane-cli smf-info" on the Standard MIDI File fixtures as a user
# would and checks its answers, its reasons and its exit codes.
# Usage: smf_info.sh <tollvane-cli> <tests/data/smf>
set -u
cli="$1"
data="$2"
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expect() {  # expect <wanted output (stdout and stderr)> <wanted status> <args...>
  local want="$1" want_status="$2"
  shift 2
  local got status
  got=$("$cli" "$@" 2>&1)
  status=$?
  if [ "$got" != "$want" ] || [ "$status" -ne "$want_status" ]; then
    echo "FAIL: tollvane-cli $*"
    echo "  wanted (status $want_status):"
    echo "$want" | sed 's/^/    /'
    echo "  got    (status $status):"
    echo "$got" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
}

expect_one_line() {  # expect_one_line <wanted status> <args...>: a single line on stderr, nothing on stdout
  local want_status="$1"
  shift
  local out err status
  out=$("$cli" "$@" 2>"$work/err")
  status=$?
  err=$(cat "$work/err")
  if [ "$status" -ne "$want_status" ] || [ -n "$out" ] || [ "$(printf '%s\n' "$err" | wc -l)" -ne 1 ]; then
    echo "FAIL: tollvane-cli $* (status $status, wanted $want_status; stdout '$out'; stderr '$err')"
    failures=$((failures + 1))
  fi
}

expect "$data/format1.mid: format 1, 480 ticks per quarter note, 2 tracks and the tempo track
length: 25.500 beats, 18.333 seconds

tracks:
  tempo track \"Conductor\": 10 events (3 Extended Tempo, 7 Meta)
  track 0 \"Streamers\": 6 events (3 Meta, 3 MIDI Note Message)
    text: first text / second text
  track 1 \"Punches\": 8 events (4 Meta, 1 MIDI Note Message, 2 MIDI Channel Message, 1 MIDI Raw Data)

tempo map:
        beat        bpm     seconds
       0.000    120.000       0.000
       8.000     90.000       4.000
      17.500     60.000      10.333

meters:
     bar        beat  meter
       1       0.000  4/4
       5      16.000  7/8
       6      19.500  6/8" 0 smf-info "$data/format1.mid"

json=$("$cli" smf-info --json "$data/format0.mid")
status=$?
if [ "$status" -ne 0 ] || ! printf '%s' "$json" | python3 -c '
import json, sys
info = json.load(sys.stdin)
assert info["format"] == 0 and info["ticksPerQuarterNote"] == 96, info
assert info["trackCount"] == 1 and len(info["tracks"]) == 1
track = info["tracks"][0]
assert track["index"] == 0 and track["name"] == "Format zero", track
assert track["eventsByType"] == {"Meta": 1, "MIDI Note Message": 3, "MIDI Channel Message": 3}, track
assert info["tempoTrack"]["eventsByType"] == {"Extended Tempo": 2, "Meta": 1}
assert [(t["beat"], t["bpm"]) for t in info["tempoMap"]] == [(0, 100), (3, 150)], info["tempoMap"]
assert abs(info["tempoMap"][1]["seconds"] - 1.8) < 1e-9
assert info["meters"] == [{"bar": 1, "beat": 0, "numerator": 3, "denominator": 4}], info["meters"]
assert abs(info["lengthInSeconds"] - 2.2) < 1e-9
'; then
  echo "FAIL: tollvane-cli smf-info --json $data/format0.mid (status $status)"
  echo "$json"
  failures=$((failures + 1))
fi

head -c 120 "$data/format1.mid" >"$work/cut.mid"
printf 'MThd\0\0\0\6\0\1\0\1\1\340MTrk\0\0\1\0\0\220\74\100' >"$work/lying.mid"

expect "tollvane-cli: cannot read $data/format2.mid: format 2 (independent patterns) is not supported" 1 \
  smf-info "$data/format2.mid"
expect "tollvane-cli: cannot read $data/smpte-division.mid: SMPTE-based time division is not supported" 1 \
  smf-info "$data/smpte-division.mid" --json
expect "tollvane-cli: cannot read $work/missing.mid: No such file or directory" 1 smf-info "$work/missing.mid"
expect "tollvane-cli: cannot read $work: Is a directory" 1 smf-info "$work"
expect "tollvane-cli: cannot read $data/make-fixtures.py: not a Standard MIDI File (it does not begin with \"MThd\")" 1 \
  smf-info "$data/make-fixtures.py"
expect "tollvane-cli: cannot read $work/cut.mid: the file ends before track 2 of 3" 1 smf-info "$work/cut.mid"
expect "tollvane-cli: cannot read $work/lying.mid: chunk length 256 at byte 14 runs past the end of the file (4 bytes left)" 1 \
  smf-info "$work/lying.mid"

expect_one_line 2 smf-info
expect_one_line 2 smf-info --xml "$data/format1.mid"
expect_one_line 2 smf-info "$data/format1.mid" "$data/format0.mid"
expect_one_line 1 smf-info "$work/missing.mid"
"$cli" smf-info --help | grep -q "usage: tollvane-cli smf-info FILE \[--json\]" ||
  { echo "FAIL: smf-info --help"; failures=$((failures + 1)); }
"$cli" --help | grep -q "smf-info FILE" || { echo "FAIL: --help does not list smf-info"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
  echo "$failures smf-info check(s) failed"
  exit 1
fi
echo "smf-info checks passed"
