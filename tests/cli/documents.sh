#!/usr/bin/env bash
# Runs the document commands of tollvane-cli (new, info, export-json,
# export-tsv, relink, clicks FILE --cue) as a user would, on new documents
# and on the hand-made documents in tests/data/documents, and checks their
# answers, their files, the alert switches and the exit codes of bad input.
# Usage: documents.sh <tollvane-cli> <tests/data>
set -u
cli="$1"
data="$2"
documents="$data/documents"
. "$(dirname "$0")/common.sh"

# The reels of the fixtures name movies that are not on this machine; their
# logged "Unable to open movie file" lines are not the commands' answers.
answers() {
  grep -v '^Unable to open movie file ' "$1"
}

expect_status() {  # expect_status <status> <args...>
  local want="$1"
  shift
  run "$@"
  if [ "$status" -ne "$want" ]; then
    fail "tollvane-cli $* (status $status, wanted $want)"
    sed 's/^/  stdout: /' "$work/out"
    sed 's/^/  stderr: /' "$work/err"
  fi
}

# expect_one_line <status> <pattern> <args...>: nothing on stdout, one line
# on stderr (besides movie log lines) matching the pattern.
expect_one_line() {
  local want="$1" pattern="$2"
  shift 2
  run "$@"
  local err
  err=$(answers "$work/err")
  if [ "$status" -ne "$want" ] || [ -s "$work/out" ] || [ "$(printf '%s\n' "$err" | wc -l)" -ne 1 ] ||
    ! printf '%s\n' "$err" | grep -q -- "$pattern"; then
    fail "tollvane-cli $* (status $status, wanted $want; stdout '$(cat "$work/out")'; stderr '$err'; wanted /$pattern/)"
  fi
}

contains() {  # contains <file> <fixed text> <what>
  grep -qF -- "$2" "$1" || fail "$3: no '$2' in $(cat "$1")"
}

# --- new --------------------------------------------------------------------

expect_status 0 new "$work/new.tollvane" --rate 25
contains "$work/out" "created $work/new.tollvane (25fps)" "new --rate 25"
check_json '
assert d["projectFramerate"] == 3 and d["rate"] == "25fps", d
assert d["reels"] == [] and d["cues"] == [] and d["adrFoleyEvents"] == [], d
assert d["reelSelectionMode"] == 1 and d["cueSelectionMode"] == 0 and d["hasBrokenReels"] is False, d' \
  info "$work/new.tollvane" --json
expect_status 0 info "$work/new.tollvane"
contains "$work/out" "$work/new.tollvane: 25fps, reels selected by timecode, cues selected manually" "info of a new document"
contains "$work/out" "cues: 0" "info of a new document"

# An existing file stays unless --force; a rate given here is not remembered
# for the next new document.
cp "$work/new.tollvane" "$work/new.saved"
expect_one_line 1 "already exists (--force replaces it)" new "$work/new.tollvane" --rate 24
cmp -s "$work/new.tollvane" "$work/new.saved" || fail "new without --force changed the existing file"
expect_status 0 new "$work/new.tollvane" --force --rate 7
check_json 'assert d["projectFramerate"] == 7 and d["rate"] == "30df", d' info "$work/new.tollvane" --json
expect_status 0 new "$work/default.tollvane"
check_json 'assert d["projectFramerate"] == 4, d' info "$work/default.tollvane" --json
expect_status 0 new "$work/drop.tollvane" --rate 29.97df
check_json 'assert d["projectFramerate"] == 5, d' info "$work/drop.tollvane" --json

# --- info of a full document -------------------------------------------------

cp "$documents/full.tollvane" "$work/full.tollvane"
check_json '
assert d["rate"] == "25fps" and d["reelSelectionMode"] == 2 and d["cueSelectionMode"] == 1, d
assert [(r["reelID"], r["start"], r["end"], r["movie"], r["broken"]) for r in d["reels"]] == [
    (1001, "1:00:00:00", "", "missing", True), (1002, "2:00:00:00", "", "missing", True)], d["reels"]
assert d["reels"][0]["path"] == "/Volumes/Media/Reel 1.mov", d["reels"][0]
assert d["hasBrokenReels"] is True
cues = d["cues"]
assert [(c["cueID"], c["title"], c["sync"], c["end"], c["reelID"]) for c in cues] == [
    (101, "1M1 Opening", "1:00:10:00", "1:00:26:00", 1001), (102, "1M2 Chase", "1:01:00:00", None, 0)], cues
assert cues[0]["eventCount"] == 10 and cues[0]["events"]["Cue End"] == 1 and cues[0]["events"]["Streamer"] == 2, cues[0]
assert cues[1]["events"] == {"Tempo Change": 1}, cues[1]
assert [(e["timecode"], e["title"], e["text"], e["enabled"]) for e in d["adrFoleyEvents"]] == [
    ("1:00:30:00", "101", "Where were you?", True), ("1:00:45:00", "FX7", "Door slam", False)], d["adrFoleyEvents"]' \
  info "$work/full.tollvane" --json
expect_status 0 info "$work/full.tollvane"
contains "$work/out" "  101        1:00:10:00   1:00:26:00   1001        1M1 Opening" "info cue line"
contains "$work/out" "    movie file: /Volumes/Media/Reel 1.mov" "info reel movie line"
contains "$work/out" "  1:00:45:00   FX7 / Door slam (disabled)" "info ADR/Foley line"

# --- exports -------------------------------------------------------------------

expect_status 0 export-json "$work/full.tollvane"
contains "$work/out" "wrote $work/full.json" "export-json"
python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
assert list(d) == ["reels", "cues"], list(d)
assert d["reels"] == [
    {"reelID": 1001, "title": "Reel 1", "start": "1:00:00:00", "end": ""},
    {"reelID": 1002, "title": "Reel 2 \u2013 Final", "start": "2:00:00:00", "end": ""}], d["reels"]
assert d["cues"] == [
    {"reelNumber": 1, "cueNumber": "1", "title": "Opening", "start": "1:00:10:00", "end": "1:00:26:00",
     "reelID": 1001},
    {"reelNumber": 1, "cueNumber": "2", "title": "Chase", "start": "1:01:00:00", "end": "1:01:00:00",
     "reelID": 0}], d["cues"]
' "$work/full.json" || fail "export-json: $work/full.json"
check_json 'assert [c["title"] for c in d["cues"]] == ["Opening", "Chase"], d' export-json "$work/full.tollvane" -o -

expect_status 0 export-tsv "$work/full.tollvane" -o "$work/lists/cues.txt"
printf '1\t1\tOpening\t1:00:10:00\t\t1:00:26:00\t\n1\t2\tChase\t1:01:00:00\t\t1:01:00:00\t\n' >"$work/want.txt"
cmp -s "$work/lists/cues.txt" "$work/want.txt" || fail "export-tsv: $(cat -A "$work/lists/cues.txt")"
expect_status 0 export-tsv "$work/full.tollvane"
cmp -s "$work/full.txt" "$work/want.txt" || fail "export-tsv to the default file"
expect_status 0 export-tsv "$work/full.tollvane" -o -
awk -F'\t' 'NF != 7 || $5 != "" || $7 != "" { bad = 1 } END { exit bad }' "$work/out" ||
  fail "export-tsv line shape: $(cat -A "$work/out")"
cmp -s "$work/out" "$work/want.txt" || fail "export-tsv -o -"

# An old export is replaced whole; the document itself is never written over.
printf 'an older and much longer list that must not survive in part\n' >"$work/full.json"
expect_status 0 export-json "$work/full.tollvane"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/full.json" || fail "export-json over an old file"
cp "$documents/full.tollvane" "$work/named.json"
expect_one_line 1 "will not write the export over the document" export-json "$work/named.json"
cmp -s "$work/named.json" "$documents/full.tollvane" || fail "export-json wrote over the document"
expect_one_line 1 "cannot write $work/full.tollvane/x.txt" export-tsv "$work/full.tollvane" -o "$work/full.tollvane/x.txt"
# Only regular files are replaced: a pipe or a folder named as OUT stays.
mkfifo "$work/pipe"
mkdir "$work/folder.json"
expect_one_line 1 "cannot write $work/pipe: not a regular file" export-tsv "$work/full.tollvane" -o "$work/pipe"
expect_one_line 1 "cannot write $work/folder.json: not a regular file" export-json "$work/full.tollvane" -o "$work/folder.json"
[ -p "$work/pipe" ] && [ -d "$work/folder.json" ] || fail "an export replaced a pipe or a folder"

# --- relink ----------------------------------------------------------------------

mkdir -p "$work/media/a/deep" "$work/media/b"
cp "$data/movies/two-seconds.mov" "$work/media/a/deep/Reel 1.mov"
printf 'not a movie\n' >"$work/media/b/notes.txt"
cp "$documents/full.tollvane" "$work/relink.tollvane"
expect_status 0 relink "$work/relink.tollvane" "$work/media"
contains "$work/out" "relinked 1 of 2 missing reels; saved $work/relink.tollvane" "relink"
contains "$work/out" "  still missing: Reel 2 – Final (/Volumes/Media/Reel 2.mov)" "relink"
check_json '
import sys
reels = {r["reelID"]: r for r in d["reels"]}
assert reels[1001]["movie"] == "ok" and reels[1001]["end"] == "1:00:02:00", reels[1001]
assert reels[1001]["path"] == sys.argv[2] + "/media/a/deep/Reel 1.mov", reels[1001]
assert reels[1002]["movie"] == "missing", reels[1002]
assert [c["cueID"] for c in d["cues"]] == [101, 102] and len(d["adrFoleyEvents"]) == 2, d' \
  info "$work/relink.tollvane" --json
check_json 'assert [r["end"] for r in d["reels"]] == ["1:00:02:00", ""], d' export-json "$work/relink.tollvane" -o -
# Nothing to re-link: the file is not rewritten.
cp "$work/relink.tollvane" "$work/relink.saved"
expect_status 0 relink "$work/relink.tollvane" "$work/media/b"
contains "$work/out" "relinked 0 of 1 missing reel" "relink without a match"
cmp -s "$work/relink.tollvane" "$work/relink.saved" || fail "relink without a match rewrote the file"
expect_one_line 1 "cannot search $work/nowhere: No such file or directory" relink "$work/relink.tollvane" "$work/nowhere"
expect_one_line 1 "cannot search $work/media/b/notes.txt: Not a directory" relink "$work/relink.tollvane" "$work/media/b/notes.txt"

# --- clicks of a document's cue ----------------------------------------------------

check_json '
a, v = d["audibleClicks"], d["visualClicks"]
assert (d["cueID"], d["title"], d["sync"], d["rate"]) == (101, "1M1 Opening", "1:00:10:00", "25fps"), d
assert d["cueEnd"] == 160.0 and d["playbackStart"]["timecode"] == "1:00:10:00", d
assert [c["position"] for c in a[:5]] == [124.0, 125.0, 126.0, 127.0, 128.0], a[:5]
assert a[-1]["position"] == 160.0 and a[-1]["timecode"] == "1:00:26:00", a[-1]
assert a[4]["barBeat"] == "3|1|000", a[4]' \
  clicks "$work/full.tollvane" --cue "1M1 Opening" --json
check_json 'assert d["cueID"] == 102 and d["warningBeats"] == 2 and d["cueEnd"] is None, d' \
  clicks "$work/full.tollvane" --cue 102 --json
check_json 'assert d["cueID"] == 102 and d["audibleClicks"][-1]["barBeat"] == "1|4|000", d' \
  clicks "$work/full.tollvane" --cue chase --to 1 --json
expect_status 0 clicks "$work/full.tollvane" --cue 101 --from 4 --to 4
contains "$work/out" "cue \"1M1 Opening\" (ID 101) of $work/full.tollvane" "clicks FILE"
contains "$work/out" "sync 1:00:10:00 (25fps) at 3|1|000; playback start 3|1|000 at 1:00:10:00" "clicks FILE"
contains "$work/out" "     140.000  6|1|000       1:00:16:00      yes" "clicks FILE --from 4 --to 4"
expect_one_line 1 "2 cues of $work/full.tollvane match '1M'" clicks "$work/full.tollvane" --cue 1M
expect_one_line 1 "no cue of $work/full.tollvane has the ID or title 'Finale'" clicks "$work/full.tollvane" --cue Finale
expect_one_line 2 "needs --cue" clicks "$work/full.tollvane"
expect_one_line 2 "--cue needs a document FILE" clicks --cue 101
expect_one_line 2 "--tempo builds a cue from options" clicks "$work/full.tollvane" --cue 101 --tempo 90

# --- alerts -------------------------------------------------------------------------

# The same document, marked as made by later versions.
python3 - "$documents/full.tollvane" "$work" <<'EOF'
import plistlib, sys
source, work = sys.argv[1], sys.argv[2]
for key, name in (("minVersion", "newer"), ("absoluteMinVersion", "unreadable")):
    archive = plistlib.load(open(source, "rb"))
    objects = archive["$objects"]
    root = objects[archive["$top"]["root"].data]
    keys = [objects[uid.data] for uid in root["NS.keys"]]
    objects.append("100000")
    uid = plistlib.UID(len(objects) - 1)
    if key in keys:
        root["NS.objects"][keys.index(key)] = uid
    else:
        objects.append(key)
        root["NS.keys"].append(plistlib.UID(len(objects) - 1))
        root["NS.objects"].append(uid)
    with open(f"{work}/{name}.tollvane", "wb") as out:
        plistlib.dump(archive, out, fmt=plistlib.FMT_BINARY)
EOF
cp "$work/newer.tollvane" "$work/newer.saved"
run info "$work/newer.tollvane"
grep -v '^Unable to open movie file ' "$work/err" >"$work/alerts"
if [ "$status" -ne 1 ] || [ -s "$work/out" ] || [ "$(wc -l <"$work/alerts")" -ne 2 ] ||
  ! grep -qF "tollvane-cli: Warning: This file was created with a later version of Tollvane, and may contain data that is unsupported by this version." "$work/alerts" ||
  ! grep -qF "tollvane-cli: $work/newer.tollvane was not opened (--open-anyway opens it anyway)" "$work/alerts"; then
  fail "info of a newer file without --open-anyway (status $status): $(cat "$work/err")"
fi
expect_status 0 info "$work/newer.tollvane" --open-anyway
grep -qF "tollvane-cli: Warning: This file was created" "$work/err" || fail "--open-anyway does not show the warning"
contains "$work/out" "1M1 Opening" "info --open-anyway"
expect_status 0 export-tsv "$work/newer.tollvane" --yes -o -
cmp -s "$work/out" "$work/want.txt" || fail "export-tsv --yes of a newer file"
expect_status 1 relink "$work/newer.tollvane" "$work/media"
cmp -s "$work/newer.tollvane" "$work/newer.saved" || fail "a refused relink changed the file"
for switch in "" --open-anyway --yes; do
  # shellcheck disable=SC2086
  run info "$work/unreadable.tollvane" $switch
  if [ "$status" -ne 1 ] || [ -s "$work/out" ] ||
    ! grep -qF "tollvane-cli: Cannot read this file. This file was created with a later version of Tollvane, and cannot be opened by this version." "$work/err"; then
    fail "info of an unreadable file $switch (status $status): $(cat "$work/err")"
  fi
done

# An old ADR/Foley document opens with the conversion notice on stderr.
expect_status 0 info "$documents/old-adrfoley.tollvane" --json
grep -qF "tollvane-cli: Converted document. This Tollvane document was saved in an older ADR/Foley format." "$work/err" ||
  fail "no conversion notice: $(cat "$work/err")"
python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
assert [(e["timecode"], e["title"], e["text"]) for e in d["adrFoleyEvents"]] == [
    ("1:02:03:04", "ADR 1", "Get down!"), ("1:05:00:00", "ADR 2", "")], d["adrFoleyEvents"]' "$work/out" ||
  fail "old ADR/Foley document: $(cat "$work/out")"

# --- bad input -------------------------------------------------------------------------

printf 'this is not a document\n' >"$work/garbage.tollvane"
head -c 300 "$documents/full.tollvane" >"$work/truncated.tollvane"
python3 -c 'import plistlib, sys; plistlib.dump(["a", "list"], open(sys.argv[1], "wb"), fmt=plistlib.FMT_BINARY)' \
  "$work/plist.tollvane"
: >"$work/empty.tollvane"
for command in info export-json export-tsv "relink" "clicks"; do
  extra=()
  [ "$command" = relink ] && extra=("$work/media")
  [ "$command" = clicks ] && extra=(--cue 101)
  expect_one_line 1 "cannot open $work/missing.tollvane: No such file or directory" \
    $command "$work/missing.tollvane" "${extra[@]}"
  expect_one_line 1 "cannot open $work: Is a directory" $command "$work" "${extra[@]}"
  for bad in garbage truncated plist empty; do
    cp "$work/$bad.tollvane" "$work/$bad.saved"
    expect_one_line 1 "cannot open $work/$bad.tollvane" $command "$work/$bad.tollvane" "${extra[@]}"
    cmp -s "$work/$bad.tollvane" "$work/$bad.saved" || fail "$command changed $bad.tollvane"
  done
done
[ -e "$work/garbage.json" ] || [ -e "$work/garbage.txt" ] && fail "a failed export left a file"

for bad in "info" "info a b" "info $work/full.tollvane --bogus" "export-json" "export-tsv $work/full.tollvane -o" \
  "export-json a b" "relink $work/full.tollvane" "relink a b c" "new" "new a b" "new $work/x.tollvane --rate 9" \
  "new $work/x.tollvane --rate fast" "new $work/x.tollvane --rate"; do
  # shellcheck disable=SC2086
  expect_one_line 2 "" $bad
done
[ -e "$work/x.tollvane" ] && fail "new with a bad rate wrote a file"

# --- help ------------------------------------------------------------------------------

for command in new info export-json export-tsv relink clicks; do
  expect_status 0 "$command" --help
  head -1 "$work/out" | grep -q "^usage: tollvane-cli $command" || fail "$command --help: $(head -1 "$work/out")"
done
grep -qF -- "--open-anyway" "$work/out" || fail "clicks --help does not name --open-anyway"
expect_status 0 --help
for command in "new FILE" "info FILE" "export-json FILE" "export-tsv FILE" "relink FILE DIR" "clicks FILE --cue"; do
  contains "$work/out" "$command" "--help"
done

finish "document commands"
