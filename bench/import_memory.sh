#!/usr/bin/env bash
# Peak memory and time of `infotest-bank import --lenient` on a teacher's file of SIZE_MB
# megabytes (default 50) that is all one line: a question whose text fills the line, in GIFT,
# Moodle XML and Aiken. A file from elsewhere is untrusted, and its size must not multiply in
# memory: the figure to watch is the peak resident set over the file's size.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$top/build}
bank_tool=$build/cli/infotest-bank
size_mb=${SIZE_MB:-50}
[[ -x $bank_tool ]] || { echo "import_memory.sh: build infotest-bank first" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "import_memory.sh: /usr/bin/time (package time) is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# SIZE_MB megabytes of words on one line (ASCII, so that the cut ends on a character), no line
# break at the end.
filler() {
    head -c $((size_mb * 1024 * 1024)) < <(yes 'How many bits are in a byte' | tr '\n' ' ')
}

{ printf '::Большой::'; filler; printf '{=8 ~4 ~16 ~2}'; } > "$work/big.gift"
{ printf '<?xml version="1.0" encoding="UTF-8"?><quiz><question type="multichoice">'
  printf '<questiontext format="html"><text>'; filler
  printf '</text></questiontext><answer fraction="100"><text>8</text></answer><answer '
  printf 'fraction="0"><text>4</text></answer><answer fraction="0"><text>16</text></answer>'
  printf '<answer fraction="0"><text>2</text></answer></question></quiz>'; } > "$work/big.xml"
{ filler; printf '\nA. 8\nB. 4\nC. 16\nD. 2\nANSWER: A\n'; } > "$work/big.aiken"

printf '%-8s %10s %14s %8s %8s %5s\n' format "file, MiB" "peak RSS, MiB" "× file" "time, s" exit
for file in big.gift big.xml big.aiken; do
    format=${file#big.}
    bank=$work/$format.mdb
    "$bank_tool" create "$bank" >/dev/null
    bytes=$(stat -c %s "$work/$file")
    set +e
    /usr/bin/time -f '%M %e' -o "$work/time" "$bank_tool" import "$bank" "$work/$file" \
        --format "${format/xml/moodle}" --lenient >/dev/null 2>"$work/err"
    code=$?
    set -e
    read -r kib seconds < <(tail -n 1 "$work/time")
    awk -v f="$format" -v b="$bytes" -v k="$kib" -v s="$seconds" -v c="$code" 'BEGIN {
        printf "%-8s %10.1f %14.1f %8.1f %8.2f %5d\n", f, b / 1048576, k / 1024, k * 1024 / b, s, c }'
done
