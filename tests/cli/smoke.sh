#!/usr/bin/env bash
# Runs tollvane-cli as a user would and checks its answers and exit codes.
set -u
cli="$1"
failures=0

expect() {  # expect <wanted output> <wanted status> <args...>
  local want="$1" want_status="$2"
  shift 2
  local got status
  got=$("$cli" "$@" 2>&1)
  status=$?
  if [ "$got" != "$want" ] || [ "$status" -ne "$want_status" ]; then
    echo "FAIL: tollvane-cli $*"
    echo "  wanted (status $want_status): $want"
    echo "  got    (status $status): $got"
    failures=$((failures + 1))
  fi
}

expect_status() {  # expect_status <wanted status> <args...>
  local want_status="$1"
  shift
  "$cli" "$@" >/dev/null 2>&1
  local status=$?
  if [ "$status" -ne "$want_status" ]; then
    echo "FAIL: tollvane-cli $* exited $status, wanted $want_status"
    failures=$((failures + 1))
  fi
}

expect "107892" 0 timecode "1:00:00;00" --rate 29.97df --to frames
expect "1:00:00;00" 0 timecode 107892 --from frames --rate 29.97df --to timecode
expect "3603.600000" 0 timecode 1:00:00:00 --rate 23.976 --to seconds
expect "90+00" 0 timecode 1440 --from frames --rate 24 --to feet35
expect "36+00" 0 timecode 1440 --from frames --rate 24 --to feet16
expect "0:00:00:29/77" 0 timecode 0:00:01:00 --rate 30 --to-rate 29.97nd --to bits
expect "1:02:03:04/00@25fps" 0 timecode 01020304 --rate 25 --to full
expect "0:01:00;02" 0 timecode 1800 --from frames --rate 29.97df --to timecode
expect_status 0 --help
expect_status 0 --version
expect_status 0 timecode --help
expect_status 2 --bogus
expect_status 2 timecode
expect_status 2 timecode 1:00:00:00 --rate 31
expect_status 2 timecode 1:00:00:00 --to nonsense
expect_status 2 timecode abc --from frames
expect_status 2 frobnicate

if [ "$failures" -ne 0 ]; then
  echo "$failures CLI check(s) failed"
  exit 1
fi
echo "CLI checks passed"
