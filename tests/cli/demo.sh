#!/usr/bin/env bash
# Runs "tollvane-cli demo" as a user would and reads the document back with
# the other commands: its reels, cues and ADR/Foley list, the clicks and the
# rehearsal of 1M1, the refusal to replace a file and the exit codes.
# Usage: demo.sh <tollvane-cli>
set -u
cli="$1"
. "$(dirname "$0")/common.sh"

expect_status() {  # expect_status <status> <args...>: and one line on stderr
  local want="$1"
  shift
  run "$@"
  [ "$status" -eq "$want" ] || fail "tollvane-cli $* exited with $status, wanted $want"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "tollvane-cli $* said '$(cat "$work/err")', wanted one line"
}

mkdir "$work/demo"
doc="$work/demo/Tollvane Demo.tollvane"

# --- Writing ------------------------------------------------------------------

run demo "$work/demo"
[ "$status" -eq 0 ] || fail "demo exited with $status: $(cat "$work/err")"
[ "$(cat "$work/out")" = "$doc" ] || fail "demo printed '$(cat "$work/out")', wanted the path '$doc'"
[ -f "$doc" ] || fail "demo wrote no '$doc'"
[ "$(ls -A "$work/demo" | wc -l)" -eq 1 ] || fail "demo left more than the document: $(ls -A "$work/demo")"

# Into the current folder by default.
mkdir "$work/here"
(cd "$work/here" && "$cli" demo >/dev/null 2>&1) || fail "demo without DIR failed"
[ -f "$work/here/Tollvane Demo.tollvane" ] || fail "demo without DIR wrote nothing into the current folder"

# Two runs hand out different reel IDs: documents made in separate sessions
# must not claim each other's reels when both are open. (The demo gives its
# cues fixed IDs, the numbers a recording system recalls them by.)
reel_ids() {  # reel_ids <document>: its reel IDs, one per line, sorted
  "$cli" info "$1" --json | python3 -c '
import json, sys
for r in json.load(sys.stdin)["reels"]: print(r["reelID"])' | sort
}
shared=$(comm -12 <(reel_ids "$doc") <(reel_ids "$work/here/Tollvane Demo.tollvane"))
[ -z "$shared" ] || fail "two demo runs share the reel IDs: $shared"

# Making the demo does not change the rate and view the next new document starts with.
run new "$work/new.tollvane"
grep -qF '(29.97nd)' "$work/out" || fail "after demo, new made '$(cat "$work/out")', wanted the 29.97nd default"

# --- What it holds ----------------------------------------------------------------

check_json '
assert d["rate"] == "25fps" and d["projectFramerate"] == 3, d["rate"]
assert d["reelSelectionMode"] == 1 and d["cueSelectionMode"] == 1, "selects by timecode"
assert d["documentViewType"] == 0, "opens in the scoring view"
reels = [(r["title"], r["start"], r["path"]) for r in d["reels"]]
assert reels == [("Reel 1", "1:00:00:00", ""), ("Reel 2", "2:00:00:00", "")], reels
ids = {r["title"]: r["reelID"] for r in d["reels"]}
cues = {c["title"]: c for c in d["cues"]}
assert [c["title"] for c in d["cues"]] == ["1M1 Opening", "1M2 Chase", "2M1 Finale"], list(cues)
opening, chase, finale = cues["1M1 Opening"], cues["1M2 Chase"], cues["2M1 Finale"]
assert opening["sync"] == "1:00:10:00" and opening["end"] == "1:00:38:20", opening
assert chase["sync"] == "1:01:00:00" and finale["sync"] == "2:00:20:00", (chase, finale)
assert opening["reelID"] == ids["Reel 1"] == chase["reelID"] and finale["reelID"] == ids["Reel 2"]
e = opening["events"]
assert e["Tempo Change"] == 2 and e["Meter Change"] == 2 and e["Click Change"] == 2, e
assert e["Countoff"] == 1 and e["Music In"] == 1 and e["Cue End"] == 1, e
assert e["Streamer"] == 3 and e["Punch"] == 2, e
assert chase["events"]["Tempo Change"] == 2 and chase["events"]["Meter Change"] == 1, chase["events"]
assert finale["events"]["Meter Change"] == 3 and finale["events"]["Punch"] == 3, finale["events"]
lines = [(a["timecode"], a["title"], a["tags"]) for a in d["adrFoleyEvents"]]
assert len(lines) == 4 and all(a["enabled"] and a["text"] for a in d["adrFoleyEvents"]), lines
assert lines[0] == ("1:00:42:00", "A101", ["dx", "MARA"]), lines
assert lines[2] == ("1:00:49:00", "F101", ["foley"]), lines' \
  info "$doc" --json

# --- 1M1 plays -------------------------------------------------------------------

# The count-off clicks from bar 1 at 1:00:06:00 (two bars before the music) on
# every beat, the waltz clicks eighths of which only the beats sound, and the
# cue end's click is the last.
check_json '
clicks = d["audibleClicks"]
first = [c["timecode"] for c in clicks[:5]]
assert first == ["1:00:06:00", "1:00:06:12", "1:00:07:00", "1:00:07:12", "1:00:08:00"], first
assert all(c["sounds"] for c in clicks if c["timecode"] < "1:00:31:15"), "clicks before the waltz all sound"
waltz = [c["sounds"] for c in clicks if "1:00:31:15" <= c["timecode"] < "1:00:38:20"]
assert len(waltz) == 24 and waltz[:6] == [True, False, True, False, True, False], waltz
assert clicks[-1]["timecode"] == "1:00:38:20", clicks[-1]
assert d["rehearsalStart"] == 128 and d["warningBeats"] == 0, d["rehearsalStart"]
punches = [c["timecode"] for c in d["visualClicks"] if c["punch"]]
assert punches[:3] == ["1:00:06:00", "1:00:06:12", "1:00:07:00"], punches' \
  clicks "$doc" --cue "1M1 Opening" --json

run rehearse "$doc" --cue "1M1 Opening" --seconds 12
[ "$status" -eq 0 ] || fail "rehearse exited with $status: $(cat "$work/err")"
for wanted in \
  '1:00:05:20  status: Playing from 1:00:05:20' \
  '1:00:06:00  click' \
  '1:00:09:12  click' \
  '1:00:10:00  click' \
  'cue start' \
  'streamer 3.0 ft'; do
  grep -qF -- "$wanted" "$work/out" || fail "rehearse of 1M1 lacks '$wanted'"
done
grep -q '1:00:0[0-5]:.. *click$' "$work/out" && fail "rehearse of 1M1 clicks before 1:00:06:00"
grep -q ' punch, ' "$work/out" || fail "rehearse of 1M1 shows no punches"

# --- Refusals --------------------------------------------------------------------

cp "$doc" "$work/before"
expect_status 1 demo "$work/demo"
grep -qF 'already exists (--force replaces it)' "$work/err" || fail "demo over a file said '$(cat "$work/err")'"
cmp -s "$doc" "$work/before" || fail "demo without --force changed the existing file"
run demo "$work/demo" --force
[ "$status" -eq 0 ] || fail "demo --force exited with $status: $(cat "$work/err")"

# A folder that is not there or is no folder, or cannot take the file: one
# line, status 1, nothing made.
expect_status 1 demo "$work/missing"
[ -e "$work/missing" ] && fail "demo into a missing folder made it"
touch "$work/plain"
expect_status 1 demo "$work/plain"
mkdir -p "$work/taken/Tollvane Demo.tollvane"
expect_status 1 demo "$work/taken" --force
[ -d "$work/taken/Tollvane Demo.tollvane" ] || fail "demo --force replaced a folder"
[ "$(ls -A "$work/taken" | wc -l)" -eq 1 ] || fail "a failed demo left files behind: $(ls -A "$work/taken")"
expect_status 1 demo /proc

expect_status 2 demo --colour
expect_status 2 demo "$work/a" "$work/b"
run demo --help
[ "$status" -eq 0 ] && grep -q '^usage: tollvane-cli demo' "$work/out" || fail "demo --help printed no usage"

finish "demo"
