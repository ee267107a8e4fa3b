#!/usr/bin/env bash
# Whole-program timings: the real program on generated banks, under an X server of its own,
# driven by the mouse as a pupil or a teacher drives it.
#
#   draw, numbered bank      click on "Начать тест" until the caption "... Вопрос 1 из 10" shows
#   draw, numbers empty      the same on a bank whose "Номер" are all empty (the draw numbers it)
#   editor shown             click on "Редактирование теста" until the editor window shows
#
# Each figure is the median of RUNS program starts (default 5). Beside them, raw SQLite through
# the sqlite3 shell on the same bank: reading every question, and numbering every question in one
# transaction. Sizes: QUESTIONS (default 100000) and EMPTY_QUESTIONS (default 10000).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$top/build}
program=$build/app/infotest
bank_tool=$build/cli/infotest-bank
runs=${RUNS:-5}
questions=${QUESTIONS:-100000}
empty_questions=${EMPTY_QUESTIONS:-10000}
display=${BENCH_DISPLAY:-:95}

for tool in Xvfb xdotool sqlite3; do
    command -v "$tool" >/dev/null || { echo "program.sh: $tool is missing" >&2; exit 1; }
done
[[ -x $program && -x $bank_tool ]] || { echo "program.sh: build infotest and infotest-bank first" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
wm_pid=""
cleanup() {
    [[ -n $wm_pid ]] && kill "$wm_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.05; done
if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    wm_pid=$!
    sleep 0.5
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# make_bank FILE COUNT numbered|empty: COUNT questions with 4 options and 4 explanations each.
make_bank() {
    local file=$1 count=$2 numbers=$3
    "$bank_tool" create "$file" >/dev/null
    local number='k'
    [[ $numbers == empty ]] && number='NULL'
    sqlite3 "$file" <<SQL
BEGIN;
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < $count)
INSERT INTO "Т_Вопросы" (id, "Номер", "Вопрос") SELECT k, $number, 'Вопрос номер ' || k || ' о системах счисления' FROM n;
WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 4 * $count - 1)
INSERT INTO "Т_Вариант" ("Вопрос", "Ответ", "Правильный") SELECT k / 4 + 1, 'Вариант ' || (k % 4) || ' вопроса ' || (k / 4 + 1), k % 4 = 0 FROM n;
WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < 4 * $count - 1)
INSERT INTO "Т_Объяснение" ("Вопрос", "Объяснение", "Правильный") SELECT k / 4 + 1, 'Объяснение ' || (k % 4) || ' вопроса ' || (k / 4 + 1), k % 4 = 0 FROM n;
COMMIT;
SQL
}

# wait_window NAME: waits (up to 120 s) until a visible window with the name shows; prints its id.
wait_window() {
    local id=""
    for _ in $(seq 24000); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.005
    done
    echo "program.sh: no window \"$1\"" >&2
    return 1
}

# time_click DIR X Y NAME: starts the program in DIR, clicks at (X, Y) of the main menu and prints
# the milliseconds until a window named NAME shows.
time_click() {
    local dir=$1 x=$2 y=$3 name=$4
    (cd "$dir" && exec "$program") >/dev/null 2>&1 &
    local pid=$!
    local menu
    menu=$(wait_window "Тесты по информатике")
    sleep 0.3 # let the menu settle
    xdotool mousemove --window "$menu" "$x" "$y"
    local start end
    start=$(now_ms)
    xdotool click 1
    wait_window "$name" >/dev/null
    end=$(now_ms)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo $((end - start))
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# raw_ms COMMAND...: milliseconds one run of the command takes.
raw_ms() {
    local start end
    start=$(now_ms)
    "$@" >/dev/null
    end=$(now_ms)
    echo $((end - start))
}

# bench LABEL DIR X Y NAME [reset]: the median of RUNS; with reset, the bank is restored before
# each run (the draw numbers an unnumbered bank).
bench() {
    local label=$1 dir=$2 x=$3 y=$4 name=$5 reset=${6:-}
    local times=()
    for _ in $(seq "$runs"); do
        [[ -n $reset ]] && cp "$dir/db.orig" "$dir/db.mdb"
        times+=("$(time_click "$dir" "$x" "$y" "$name")")
    done
    printf '%-44s %6s ms   (runs: %s)\n' "$label" "$(printf '%s\n' "${times[@]}" | median)" "${times[*]}"
}

mkdir -p "$work/numbered" "$work/empty"
make_bank "$work/numbered/db.mdb" "$questions" numbered
make_bank "$work/empty/db.orig" "$empty_questions" empty
cp "$work/empty/db.orig" "$work/empty/db.mdb"

# The main menu's choices, in the window's client area.
start_x=34 start_y=40
edit_x=34 edit_y=79

echo "Whole program, $runs runs each (median):"
bench "draw, $questions numbered: click to caption" "$work/numbered" $start_x $start_y "Вопрос 1 из 10"
bench "draw, $empty_questions unnumbered: click to caption" "$work/empty" $start_x $start_y "Вопрос 1 из 10" reset
bench "editor, $questions questions: click to window" "$work/numbered" $edit_x $edit_y "Редактирование тестов"

echo "Raw SQLite (sqlite3 shell, one run each):"
printf '%-44s %6s ms\n' "read all $questions questions" \
    "$(raw_ms sqlite3 "$work/numbered/db.mdb" 'SELECT count(*), sum(length("Вопрос")) FROM (SELECT * FROM "Т_Вопросы")')"
cp "$work/empty/db.orig" "$work/empty/raw.mdb"
printf '%-44s %6s ms\n' "number all $empty_questions questions, one transaction" \
    "$(raw_ms sqlite3 "$work/empty/raw.mdb" 'UPDATE "Т_Вопросы" SET "Номер" = id')"
