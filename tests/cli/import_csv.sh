#!/usr/bin/env bash
# Runs "tollvane-cli import-csv" as a user would: delimited text in UTF-8
# (with and without a byte-order mark), UTF-16 and Latin-1 imported into a
# new document in several column orders, the saved document read back, and
# bad input refused with the file and row named and the document untouched.
# Usage: import_csv.sh <tollvane-cli> <tests/data>
set -u
cli="$1"
csv="$2/csv"
. "$(dirname "$0")/common.sh"

expect_out() {  # expect_out <file> <text...>
  local file="$1"
  shift
  for wanted in "$@"; do
    grep -qF -- "$wanted" "$file" || fail "output lacks '$wanted': $(cat "$file")"
  done
}

doc="$work/list.tollvane"
run new "$doc" --rate 25
[ "$status" -eq 0 ] || fail "new exited with $status: $(cat "$work/err")"

run import-csv "$doc" "$csv/adr_semicolon.csv" --delimiter ';' --columns sync,cuenumber,text,tags
[ "$status" -eq 0 ] || fail "import-csv exited with $status: $(cat "$work/err")"
expect_out "$work/out" "added 3 ADR/Foley events from $csv/adr_semicolon.csv (UTF-8); saved $doc" \
  '1:00:10:00  101  Hello  [dx]' \
  '1:00:12:05  102  Wait; what?  [dx, walla]' \
  '1:00:15:00  103  Two.lines'

run import-csv "$doc" "$csv/foley_bom.csv" --columns cuenumber,sync,tags,text
[ "$status" -eq 0 ] || fail "import-csv of a file with a BOM exited with $status: $(cat "$work/err")"
expect_out "$work/out" "added 2 ADR/Foley events" "(UTF-8 with byte-order mark)" \
  '1:02:00:00  201  Door slam, off  [fx]' '1:02:03:10  202  Steps "fast"'

run import-csv "$doc" "$csv/loop_utf16.txt" --delimiter tab --columns cuenumber,sync,text,tags
[ "$status" -eq 0 ] || fail "import-csv of UTF-16 exited with $status: $(cat "$work/err")"
expect_out "$work/out" "(UTF-16 little endian)" '1:03:00:00  301  Café walla  [loop]'

run import-csv "$doc" "$csv/latin1.csv" --columns cuenumber,sync,ignore,text
[ "$status" -eq 0 ] || fail "import-csv of Latin-1 exited with $status: $(cat "$work/err")"
expect_out "$work/out" "(Latin-1)" '1:04:00:00  401  Naïve line'

# Everything imported is in the saved file.
run info "$doc" --json
[ "$status" -eq 0 ] || fail "info exited with $status"
events=$(grep -c '"timecode"' "$work/out")
[ "$events" -eq 7 ] || fail "the saved document holds $events ADR/Foley events, wanted 7"
expect_out "$work/out" '"text": "Wait; what?"' '"title": "301"'

# Bad input: a message naming the file (and row), nothing added, the file untouched.
cp "$doc" "$work/before.tollvane"
expect_refusal() {  # expect_refusal <message> <args...>
  local message="$1"
  shift
  run import-csv "$doc" "$@"
  [ "$status" -eq 1 ] || fail "import-csv $* exited with $status, wanted 1"
  grep -qF -- "$message" "$work/err" || fail "import-csv $* said '$(cat "$work/err")', wanted '$message'"
  cmp -s "$doc" "$work/before.tollvane" || fail "import-csv $* changed the document"
}
expect_refusal "$csv/bad_timecode.csv, row 2: 'ten past one' is not a timecode" \
  "$csv/bad_timecode.csv" --delimiter ';' --columns cuenumber,sync,text
expect_refusal "$csv/too_many_fields.csv, row 1: 5 fields but 4 columns" "$csv/too_many_fields.csv"
expect_refusal "cannot read $csv/binary.csv: not a text file" "$csv/binary.csv"
expect_refusal "cannot read $work/missing.csv: No such file or directory" "$work/missing.csv"
run import-csv "$work/missing.tollvane" "$csv/latin1.csv" --columns cuenumber,sync,ignore,text
[ "$status" -eq 1 ] || fail "import-csv into a missing document exited with $status, wanted 1"
grep -qF "cannot open $work/missing.tollvane" "$work/err" || fail "import-csv into a missing document said '$(cat "$work/err")'"
[ -e "$work/missing.tollvane" ] && fail "import-csv made a document that was not there"

expect_usage() {  # expect_usage <args...>: a bad option is status 2 with a message
  run import-csv "$@"
  [ "$status" -eq 2 ] || fail "import-csv $* exited with $status, wanted 2"
  [ -s "$work/err" ] || fail "import-csv $* said nothing on stderr"
}
expect_usage "$doc"
expect_usage "$doc" "$csv/latin1.csv" --columns sync,when
expect_usage "$doc" "$csv/latin1.csv" --delimiter
expect_usage "$doc" "$csv/latin1.csv" --delimiter ''
expect_usage "$doc" "$csv/latin1.csv" --frobnicate
run import-csv --help
[ "$status" -eq 0 ] && grep -q 'usage: tollvane-cli import-csv' "$work/out" || fail "import-csv --help"

finish "import_csv"
