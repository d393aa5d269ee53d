#!/usr/bin/env bash
# Runs "tollvane-cli midi-dump" on raw MIDI bytes as a user would: every kind
# of message, invalid runs, system exclusive across packets and left open at
# the end, MTC, MMC and MSC decoding, the JSON form and the exit codes.
# Usage: midi_dump.sh <tollvane-cli>
set -u
cli="$1"
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

expect() {  # expect <wanted output (stdout and stderr)> <wanted status> <args...>
  local want="$1" want_status="$2"
  shift 2
  local got status
  got=$("$cli" "$@" 2>&1)
  status=$?
  if [ "$got" != "$want" ] || [ "$status" -ne "$want_status" ]; then
    fail "tollvane-cli $*"
    echo "  wanted (status $want_status):"
    echo "$want" | sed 's/^/    /'
    echo "  got    (status $status):"
    echo "$got" | sed 's/^/    /'
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
    fail "tollvane-cli $* (status $status, wanted $want_status; stdout '$out'; stderr '$err')"
  fi
}

# Note-on, running status (refused), MTC full frame, a clock inside a sysex,
# two quarter frames, an MMC locate, an MSC LOAD, a velocity-0 note-on, an
# undefined status, a clock and a sysex the file leaves open.
printf '\x90\x3c\x64\x3c\x00\xf0\x7f\x7f\x01\x01\x21\x00\x00\x00\xf7\xf0\x43\xf8\x10\xf7\xf1\x27\xf1\x73' >"$work/mix.bin"
printf '\xf0\x7f\x7f\x06\x44\x06\x01\x21\x02\x03\x04\x00\xf7\xf0\x7f\x01\x02\x01\x05\x31\x2e\x35\x00\x32\xf7' >>"$work/mix.bin"
printf '\x90\x3c\x00\xf5\xf8\xf0\x01\x02' >>"$work/mix.bin"

expect "$work/mix.bin: 57 bytes in 1 packet
     1  note-on            ch 1   90 3C 64
     1  invalid data              3C 00
     1  system exclusive          F0 7F 7F 01 01 21 00 00 00 F7  MTC full frame 01:00:00:00, 25 fps, device 127
     1  clock                     F8
     1  system exclusive          F0 43 10 F7  Yamaha
     1  MTC quarter frame         F1 27  piece 2 (seconds low nibble) = 7
     1  MTC quarter frame         F1 73  piece 7 (hours high nibble and rate) = 1, 25 fps
     1  system exclusive          F0 7F 7F 06 44 06 01 21 02 03 04 00 F7  MMC LOCATE 01:02:03:04, 25 fps, device 127
     1  system exclusive          F0 7F 01 02 01 05 31 2E 35 00 32 F7  MSC LOAD (format 01) cue 1.5 list 2, device 1
     1  note-on            ch 1   90 3C 00  velocity 0
     1  invalid data              F5
     1  clock                     F8
     1  system exclusive          F0 01 02  Manufacturer 01 (ended without F7)
13 messages, 2 invalid" 0 midi-dump "$work/mix.bin"

# In packets of three bytes the note-on at the start still fits; the sysex
# spans packets and is listed with the packet of its F0; the program change
# is cut by a packet end, so its data byte alone is invalid.
printf '\x90\x3c\x64\xf0\x41\x10\x42\xf7\xc3\x05' >"$work/packets.bin"
expect "$work/packets.bin: 10 bytes in 4 packets
     1  note-on            ch 1   90 3C 64
     2  system exclusive          F0 41 10 42 F7  Roland
     4  invalid data              05
3 messages, 1 invalid" 0 midi-dump "$work/packets.bin" --packets 3

json=$("$cli" midi-dump --json "$work/mix.bin")
status=$?
if [ "$status" -ne 0 ] || ! printf '%s' "$json" | python3 -c '
import json, sys
messages = json.load(sys.stdin)
assert len(messages) == 13, len(messages)
assert messages[0] == {"packet": 1, "type": "note-on", "typeCode": 1, "channel": 1, "bytes": "90 3C 64"}, messages[0]
assert messages[1]["typeCode"] == 0x40000 and "channel" not in messages[1]
assert messages[5]["type"] == "MTC quarter frame" and messages[5]["meaning"].startswith("piece 2"), messages[5]
assert messages[7]["meaning"].startswith("MMC LOCATE 01:02:03:04"), messages[7]
assert messages[12]["bytes"] == "F0 01 02" and messages[12]["meaning"].endswith("(ended without F7)")
'; then
  fail "tollvane-cli midi-dump --json (status $status)"
  echo "$json"
fi

: >"$work/empty.bin"
expect "$work/empty.bin: 0 bytes in 0 packets
0 messages, 0 invalid" 0 midi-dump "$work/empty.bin"
expect "tollvane-cli: cannot read $work/missing.bin: No such file or directory" 1 midi-dump "$work/missing.bin"
expect "tollvane-cli: cannot read $work: Is a directory" 1 midi-dump "$work"

expect_one_line 2 midi-dump
expect_one_line 2 midi-dump "$work/mix.bin" --packets 0
expect_one_line 2 midi-dump "$work/mix.bin" --packets 65536
expect_one_line 2 midi-dump "$work/mix.bin" --packets x
expect_one_line 2 midi-dump "$work/mix.bin" --packets
expect_one_line 2 midi-dump --xml "$work/mix.bin"
expect_one_line 2 midi-dump "$work/mix.bin" "$work/packets.bin"
"$cli" midi-dump --help | grep -q "usage: tollvane-cli midi-dump FILE.syx|FILE.bin" || fail "midi-dump --help"

if [ "$failures" -ne 0 ]; then
  echo "$failures midi-dump check(s) failed"
  exit 1
fi
echo "midi-dump checks passed"
