#!/usr/bin/env bash
# Runs "tollvane-cli audio-devices" as a user would: the null system and a
# JACK system without a server (no output), ALSA as far as this machine has
# it, then a jackd dummy server of its own (one device with its channels,
# latency and the click allowance), by default and with --audio jack, in text
# and JSON, plus the usage and option errors. Every wait has a deadline.
# Usage: audio_devices.sh <tollvane-cli>
set -u
cli="$1"
failures=0
server="tollvane-cli-test-$$"
jackd_pid=""
cleanup() {
  if [ -n "$jackd_pid" ]; then
    kill "$jackd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$jackd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$jackd_pid" 2>/dev/null
    wait "$jackd_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

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

expect "tollvane-cli: unknown option '--verbose'" 2 audio-devices --verbose
expect "tollvane-cli: unexpected argument 'hw:0'" 2 audio-devices hw:0
expect "tollvane-cli: --audio must be jack, alsa or null, not 'oss'" 2 audio-devices --audio oss
expect "tollvane-cli: --audio must be jack, alsa or null, not 'JACK'" 2 audio-devices --audio=JACK
expect "tollvane-cli: --audio needs a value" 2 audio-devices --audio
help=$(timeout 20 "$cli" audio-devices --help)
case "$help" in
  "usage: tollvane-cli audio-devices [--audio jack|alsa|null] [--json]"*) ;;
  *) fail "audio-devices --help: $help" ;;
esac

export JACK_DEFAULT_SERVER="$server"
no_device="No audio output device: running without sound."
no_device_json='{
  "backend": "null",
  "devices": []
}'
expect "$no_device" 0 audio-devices --audio null
expect "$no_device_json" 0 audio-devices --audio null --json
expect "No JACK server is running; audio output over JACK is not available
$no_device" 0 audio-devices --audio jack
# The log line goes to standard error, the listing alone to standard output.
got=$(timeout 20 "$cli" audio-devices --audio=jack --json 2>/dev/null)
[ "$got" = "$no_device_json" ] || fail "audio-devices --audio=jack --json without a server: $got"

# ALSA: no device on a machine without sound cards; otherwise every device
# has its identifier, name and channels, and JSON names the system.
alsa_json=$(timeout 20 "$cli" audio-devices --audio alsa --json 2>/dev/null)
case "$alsa_json" in
  "$no_device_json") alsa=none ;;
  '{
  "backend": "alsa",
  "devices": ['*) alsa=some ;;
  *) fail "audio-devices --audio alsa --json: $alsa_json"; alsa=none ;;
esac
alsa_text=$(timeout 20 "$cli" audio-devices --audio alsa 2>/dev/null)
if [ "$alsa" = none ]; then
  [ "$alsa_text" = "$no_device" ] || fail "audio-devices --audio alsa without devices: $alsa_text"
else
  echo "$alsa_text" | grep -Eq '^[0-9]+  .+, [0-9]+ outputs?( \(default\))?$' ||
    fail "audio-devices --audio alsa: $alsa_text"
fi
# Without a JACK server the default is ALSA's listing.
expect "$alsa_text" 0 audio-devices

if ! command -v jackd >/dev/null; then
  echo "jackd is not installed: skipping the listing of a running server"
  [ "$failures" -eq 0 ] || exit 1
  exit 0
fi

jackd -n "$server" --no-realtime -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
listed=""
for _ in $(seq 100); do
  listed=$(timeout 5 "$cli" audio-devices 2>&1)
  case "$listed" in
    "1  JACK"*) break ;;
  esac
  kill -0 "$jackd_pid" 2>/dev/null || break
  sleep 0.1
done

# The dummy driver holds output back by two periods of 256 frames; the click
# allowance is two buffers at 44.1 kHz.
want="1  JACK ($server), 2 outputs (default)
   48000 Hz, 256 frames per buffer
   output latency 512 frames (10.67 ms); click allowance 11.61 ms"
[ "$listed" = "$want" ] || {
  fail "audio-devices with a server"
  echo "$listed" | sed 's/^/    /'
}
expect "$want" 0 audio-devices --audio jack
expect "{
  \"backend\": \"jack\",
  \"devices\": [
    {
      \"id\": 1,
      \"name\": \"JACK ($server)\",
      \"outputChannels\": 2,
      \"default\": true,
      \"sampleRate\": 48000.0,
      \"bufferFrames\": 256,
      \"outputLatencyFrames\": {
        \"min\": 512,
        \"max\": 512
      },
      \"outputLatencyMs\": 10.666666666666666,
      \"allowanceMs\": 11.609977324263038
    }
  ]
}" 0 audio-devices --json --audio=jack
expect "$no_device" 0 audio-devices --audio null

[ "$failures" -eq 0 ] || exit 1
echo "audio-devices: all passed"
