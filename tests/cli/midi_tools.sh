#!/usr/bin/env bash
# Runs "tollvane-cli midi-sources", "midi-monitor" and "mtc-send" as a user
# would: usage and option errors, no JACK server, then a jackd dummy server
# of its own on which mtc-send sends 2 s of 25 fps MTC, across a minute and
# an hour, to a running monitor's "Tollvane" input. Each quarter frame the
# monitor prints must carry a host time within one JACK period of the time
# mtc-send scheduled it at, and the running timecodes must follow each other
# frame by frame. Every wait has a deadline.
# Usage: midi_tools.sh <tollvane-cli>
set -u
cli="$1"
. "$(dirname "$0")/common.sh"
server="tollvane-midi-tools-$$"
export JACK_DEFAULT_SERVER="$server"
jackd_pid=""
monitor_pid=""
stop() {  # stop <pid>
  [ -n "$1" ] || return
  kill "$1" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
trap 'stop "$monitor_pid"; stop "$jackd_pid"; rm -rf "$work"' EXIT

expect() {  # expect <wanted output (stdout and stderr)> <wanted status> <args...>
  local want="$1" want_status="$2"
  shift 2
  local got status
  got=$(timeout 20 "$cli" "$@" 2>&1)
  status=$?
  if [ "$got" != "$want" ] || [ "$status" -ne "$want_status" ]; then
    fail "tollvane-cli $*"
    echo "  wanted (status $want_status):"
    echo "$want" | sed 's/^/    /'
    echo "  got    (status $status):"
    echo "$got" | sed 's/^/    /'
  fi
}

for command in midi-sources midi-monitor mtc-send; do
  "$cli" "$command" --help | grep -q "^usage: tollvane-cli $command" || fail "$command --help"
done
expect "tollvane-cli: --midi takes jack, alsa or loopback, not 'coremidi'" 2 midi-sources --midi coremidi
expect "tollvane-cli: unknown option '--source'" 2 midi-sources --source all
expect "tollvane-cli: --rate takes 24, 25, 29.97df, 29.97 or 30, not '26'" 2 midi-monitor --rate 26
expect "tollvane-cli: --seconds takes a number of seconds above 0, not '0'" 2 midi-monitor --seconds 0
expect "tollvane-cli: --source needs an integer, not 'desk'" 2 midi-monitor --source desk
expect "tollvane-cli: --start takes a timecode HH:MM:SS:FF, not '1:00:00:00'" 2 mtc-send --start 1:00:00:00
expect "tollvane-cli: --duration takes seconds above 0 and up to 86400, not '-1'" 2 mtc-send --duration -1
expect "tollvane-cli: --rate takes 24, 25, 29.97df, 29.97 or 30, not 'fast'" 2 mtc-send --rate fast
expect "tollvane-cli: no JACK server is running" 1 mtc-send --duration 1
expect "tollvane-cli: No JACK server is running; MIDI input over JACK is not available" 1 midi-sources --midi jack
expect '{
  "backend": "loopback",
  "sources": []
}' 0 midi-sources --midi loopback --json
got=$(timeout 20 "$cli" midi-monitor --midi loopback --seconds 0.2 2>&1)
[ "$got" = 'listening on "Tollvane" and all sources (0) over loopback, MTC checked against 25fps' ] ||
  fail "midi-monitor on loopback: $got"

if ! command -v jackd >/dev/null; then
  echo "jackd is not installed: skipping the runs on a JACK server"
  finish midi_tools
fi
jackd -n "$server" --no-realtime -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
for _ in $(seq 100); do
  timeout 5 "$cli" midi-sources --midi jack >/dev/null 2>&1 && break
  sleep 0.1
done
got=$(timeout 20 "$cli" midi-sources 2>&1)
[ "$(echo "$got" | head -1)" = "MIDI system: jack" ] || fail "midi-sources on JACK: $got"

timeout 30 "$cli" midi-monitor --rate 25 --seconds 6 >"$work/monitor.txt" 2>"$work/monitor.err" &
monitor_pid=$!
for _ in $(seq 100); do
  grep -q '^listening' "$work/monitor.txt" 2>/dev/null && break
  sleep 0.05
done
timeout 30 "$cli" mtc-send --rate 25 --start 00:59:59:00 --duration 2 --to Tollvane --print-schedule \
  >"$work/send.txt" 2>&1 || fail "mtc-send: $(cat "$work/send.txt")"
# (A late server adds ", N JACK cycles late or skipped" to the count.)
grep -Eq '^sent 200 quarter frames(,|$)' "$work/send.txt" || fail "mtc-send did not send 200 quarter frames"
# The monitor takes the batches still queued, then is stopped (exit 0 on SIGTERM).
sleep 0.3
kill -TERM "$monitor_pid"
wait "$monitor_pid"
status=$?
monitor_pid=""
[ "$status" -eq 0 ] || fail "midi-monitor ended with status $status on SIGTERM"

# A client that runs late may read the next cycle's times: on an overloaded
# server the stamps cannot be judged. One period at 48 kHz is 256 frames: 5.33 ms.
if grep -q 'late or skipped' "$work/send.txt"; then
  echo "the JACK server ran cycles late: not judging the time stamps"
else
  awk -v period=0.005334 '
    FNR == NR { if ($1 == "qf") sent[$2] = $8; next }
    $2 == "MTC" && $3 == "quarter" { received[n++] = $1 }
    END {
      if (n != 200) { print "received " n " quarter frames, not 200"; bad = 1 }
      for (k = 0; k < n; ++k) {
        error = received[k] - sent[k]
        if (error < 0) error = -error
        if (error > period) { print "quarter frame " k " off by " error " s"; bad = 1 }
      }
      exit bad
    }' "$work/send.txt" "$work/monitor.txt" || fail "quarter frames not within a period of their send times"
fi
# Cycles fall on odd frames after the minute, so the minute and hour carry
# is tested where frames are not 0. A cycle run late hands the monitor a
# bunch of quarter frames at once, which it may not take in whole: the
# sequence is judged only from a server that kept time.
if ! grep -q 'late or skipped' "$work/send.txt"; then
  awk '
    $2 == "timecode" && $4 == "running" {
      split($3, f, ":")
      frames = ((f[1] * 60 + f[2]) * 60 + f[3]) * 25 + f[4]
      if (seen && frames != last + 1) { print "gap: " lastText " then " $3; bad = 1 }
      last = frames; lastText = $3; seen++
    }
    END { if (seen < 45) { print "only " seen " running timecodes"; bad = 1 }; exit bad }' "$work/monitor.txt" ||
    fail "the running timecodes have gaps"
  grep -q 'timecode           1:00:00:01  running' "$work/monitor.txt" || fail "no running 1:00:00:01"
fi
finish midi_tools
