#!/usr/bin/env bash
# Runs "tollvane-cli clicks" as a user would and checks worked click lists,
# the JSON form and the exit codes of bad options.
# Usage: clicks.sh <tollvane-cli>
set -u
cli="$1"
. "$(dirname "$0")/common.sh"

expect() {  # expect <wanted stdout> <args...>: status 0, nothing on stderr
  local want="$1"
  shift
  local got status
  got=$("$cli" "$@" 2>"$work/err")
  status=$?
  if [ "$got" != "$want" ] || [ "$status" -ne 0 ] || [ -s "$work/err" ]; then
    fail "tollvane-cli $* (status $status)"
    echo "  wanted:"
    echo "$want" | sed 's/^/    /'
    echo "  got:"
    echo "$got" | sed 's/^/    /'
    sed 's/^/  stderr: /' "$work/err"
  fi
}

# expect_json <python expression over d, printed> <wanted> <args...>
expect_json() {
  local expression="$1" want="$2"
  shift 2
  local got
  got=$("$cli" "$@" --json 2>"$work/err" |
    python3 -c "import json,sys; d=json.load(sys.stdin); a=d['audibleClicks']; v=d['visualClicks']; print(($expression))")
  if [ "$got" != "$want" ] || [ -s "$work/err" ]; then
    fail "tollvane-cli $* --json: $expression"
    echo "  wanted: $want"
    echo "  got:    $got"
    sed 's/^/  stderr: /' "$work/err"
  fi
}

expect_one_line() {  # expect_one_line <args...>: status 2, one line on stderr, nothing on stdout
  local out err status
  out=$("$cli" "$@" 2>"$work/err")
  status=$?
  err=$(cat "$work/err")
  if [ "$status" -ne 2 ] || [ -n "$out" ] || [ "$(printf '%s\n' "$err" | wc -l)" -ne 1 ]; then
    fail "tollvane-cli $* (status $status, wanted 2; stdout '$out'; stderr '$err')"
  fi
}

# 4/4 at 120 bpm with 4 warning beats: the warning clicks fall on the four
# beats before bar 1 (half a second apart), then every beat of bar 1.
expect "sync 1:00:00:00 (29.97nd) at bar 1; playback start 1|1|000 at 1:00:00:00; 4 warning beats; clicks sound

audible clicks: 8
    position  bar|beat      timecode        sounds
     124.000  -|-|---       0:59:58:00      yes
     125.000  -|-|---       0:59:58:15      yes
     126.000  -|-|---       0:59:59:00      yes
     127.000  -|-|---       0:59:59:15      yes
     128.000  1|1|000       1:00:00:00      yes
     129.000  1|2|000       1:00:00:14      yes
     130.000  1|3|000       1:00:00:29      yes
     131.000  1|4|000       1:00:01:14      yes

visual clicks: 8
    position  bar|beat      timecode        punch
     124.000  -|-|---       0:59:58:00      -
     125.000  -|-|---       0:59:58:15      -
     126.000  -|-|---       0:59:59:00      -
     127.000  -|-|---       0:59:59:15      -
     128.000  1|1|000       1:00:00:00      3 holes
     129.000  1|2|000       1:00:00:14      -
     130.000  1|3|000       1:00:00:29      -
     131.000  1|4|000       1:00:01:14      -" clicks --tempo 120 --meter 4/4 --to 1 --bar-punch 3

# The same in JSON, and the cue end closing the list on its own downbeat.
expect_json "[c['position'] for c in a]" "[124.0, 125.0, 126.0, 127.0, 128.0, 129.0, 130.0, 131.0, 132.0]" \
  clicks --bars 1
expect_json "d['cueEnd'], d['playbackStart']['timecode'], a[-1]['barBeat'], a[-1]['timecode']" \
  "(132.0, '1:00:00:00', '2|1|000', '1:00:01:29')" clicks --bars 1

# At 60 bpm the warning clicks are a second apart, at 4, 3, 2 and 1 seconds
# before the start at bar 3 (10:00:08:00 at 25 fps).
expect_json "[(c['position'], c['timecode']) for c in a[:5]]" \
  "[(132.0, '10:00:04:00'), (133.0, '10:00:05:00'), (134.0, '10:00:06:00'), (135.0, '10:00:07:00'), (136.0, '10:00:08:00')]" \
  clicks --tempo 60 --rate 25 --sync 10:00:00:00 --start 3 --bars 3

# 2+2+3 in 7/8: a pulse every eighth, sounding only at the group starts.
expect_json "[(c['position'], c['sounds']) for c in a]" \
  "[(128.0, True), (128.5, False), (129.0, True), (129.5, False), (130.0, True), (130.5, False), (131.0, False)]" \
  clicks --meter 7/8 --pattern 2+2+3 --warning-beats 0 --to 1

# Warning clicks in a patterned bar count back from the start as the last
# pulses of a bar; a silent one shows no visual click, and the list goes on
# to the next that does.
expect_json "[(c['position'], c['sounds']) for c in a[:4]], [c['position'] for c in v[:2]]" \
  "([(126.0, False), (126.5, True), (127.0, False), (127.5, False)], [126.5, 128.0])" \
  clicks --meter 7/8 --pattern 2+2+3 --to 1

# A click change to off at bar 5 stops the clicks after bar 4.
expect_json "a[-1]['barBeat'], len([c for c in a if c['position'] >= 144])" "('4|4|000', 0)" \
  clicks --click off@5 --to 6

# Mute 1 keeps only the warning clicks (and the start they lead to); mute 2 none.
expect_json "[c['position'] for c in a]" "[124.0, 125.0, 126.0, 127.0, 128.0]" clicks --mute 1 --to 2
expect_json "len(a), len(v)" "(0, 8)" clicks --mute 2 --to 1

# With the click off, a count-off of 2 into bar 3 and the click from bar 4 on
# are all that sound.
expect_json "[c['position'] for c in a]" "[134.0, 135.0, 136.0, 140.0, 141.0, 142.0, 143.0]" \
  clicks --click off --countoff 2@3 --click 1/4@4 --to 4

# Beat punches every eighth from bar 2 on, bar punches from bar 1 on.
expect_json "[(c['position'], c['holes']) for c in v if c['position'] >= 131]" \
  "[(131.0, 0), (132.0, 3), (132.5, 1), (133.0, 1), (133.5, 1), (134.0, 1), (134.5, 1), (135.0, 1), (135.5, 1)]" \
  clicks --bar-punch 3 --beat-punch 1/8@2 --to 2

# The list can start and end at any bar.
expect_json "a[0]['barBeat'], a[-1]['barBeat'], d['from']" "('3|1|000', '3|4|000', 136.0)" \
  clicks --from 3 --to 3

"$cli" clicks --help >"$work/help" 2>&1 || fail "clicks --help exits non-zero"
grep -q "reading a cue from" "$work/help" || grep -q "Reading a cue from" "$work/help" ||
  fail "clicks --help does not say when files come"

for bad in "--tempo abc" "--tempo 0" "--tempo 90@0" "--meter 7/6" "--meter 7" "--click 1/5" "--click" \
  "--pattern 2,,3" "--pattern 2+2/3" "--mute 3" "--warning-beats -1" "--from 5 --to 3" "--sync 1:xx" \
  "--rate 31" "--bogus" "cue.tollvane" "--tempo 90@2 --tempo 100@2" "--bar-punch 17"; do
  # shellcheck disable=SC2086
  expect_one_line clicks $bad
done

finish "clicks"
