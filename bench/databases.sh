#!/usr/bin/env bash
# The database figures of bench/run, measured on the corpus bench/run generated:
#   - the batch tool into PostgreSQL against psql inserting the same rows in one transaction;
#   - eight batch tools at once, each with an eighth of the corpus, against one with all of it
#     (SQLite);
#   - with BENCH_VERSIONS=1, versioning: a corpus with a fixed pool of models at one and at ten
#     times the size, each against the sqlite3 shell inserting the same rows.
# Prints its figures and ends with one line per measure: "ratio NAME = X.XX".
#   bench/databases.sh BIN OUT FILES REPEATS
set -euo pipefail

BIN="$(cd "$1" && pwd)"
OUT="$(cd "$2" && pwd)"
FILES="$3"
REPEATS="$4"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BATCH="$BIN/app/importflx-batch"

now() { date +%s.%N; }
median() { python3 -c 'import sys,statistics; print("%.4f" % statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
# Runs "$@" and prints the seconds it took.
timed() {
    local start end
    start=$(now)
    "$@"
    end=$(now)
    python3 -c "print($end - $start)"
}

# --- PostgreSQL: the batch tool against psql ---------------------------------------------------
PG="$OUT/pg"
bash "$ROOT/tests/pg_server.sh" start "$PG" >/dev/null
trap 'bash "$ROOT/tests/pg_server.sh" stop "$PG"' EXIT
PGBIN="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)"
psql_on() { psql -q -X -v ON_ERROR_STOP=1 -h "$PG" -U postgres "$@"; }
psql_on -d importflx -c "CREATE DATABASE bench_base" >/dev/null
{
    cat "$ROOT/data/schema_pg.sql" "$ROOT/data/demo_pg.sql"
    sed 's/, -1);$/, TRUE);/' "$OUT/manufacturers.sql"
} | psql_on -d bench_base >/dev/null
uri() { echo "postgresql:///$1?host=$PG&user=postgres"; }

batch_times=()
for n in $(seq "$REPEATS"); do
    psql_on -d importflx -c "CREATE DATABASE run$n TEMPLATE bench_base" >/dev/null
    batch_times+=("$(timed "$BATCH" --db "$(uri "run$n")" --unattended --quiet "$OUT"/corpus/*.flx)")
done
pg_batch=$(median "${batch_times[@]}")

# The baseline: exactly the rows the batch stored, as INSERT statements run by psql in one
# transaction into a fresh copy of the same database.
psql_on -d run1 -c "
    DELETE FROM tblInputs WHERE EquipmentID <= 2;
    DELETE FROM tblOutputs WHERE EquipmentID <= 2;
    DELETE FROM tblEquipment WHERE EquipmentID <= 2;
    DELETE FROM tblManufacturers WHERE ManufacturerID IN ('ACME', 'NORTHLN', 'VIDEOWRX', 'KESTREL')
        OR ManufacturerName COLLATE \"C\" LIKE 'Bench Maker %';" >/dev/null
"$PGBIN/pg_dump" -h "$PG" -U postgres --data-only --inserts --column-inserts run1 |
    grep '^INSERT' >"$OUT/pg_baseline.sql"
pg_rows=$(wc -l <"$OUT/pg_baseline.sql")
base_times=()
for n in $(seq "$REPEATS"); do
    psql_on -d importflx -c "CREATE DATABASE base$n TEMPLATE bench_base" >/dev/null
    base_times+=("$(timed psql_on -d "base$n" -1 -f "$OUT/pg_baseline.sql")")
done
pg_base=$(median "${base_times[@]}")
echo "PostgreSQL: $pg_rows rows; batch import ${batch_times[*]} s (median $pg_batch s); psql ${base_times[*]} s (median $pg_base s)"

# --- Eight importers at once against one --------------------------------------------------------
mapfile -t corpus < <(ls "$OUT"/corpus/*.flx)
single_times=()
eight_times=()
for _ in $(seq "$REPEATS"); do
    cp "$OUT/base.mdb" "$OUT/run/one.mdb"
    single_times+=("$(timed "$BATCH" --db "$OUT/run/one.mdb" --unattended --quiet "${corpus[@]}")")
    cp "$OUT/base.mdb" "$OUT/run/eight.mdb"
    start=$(now)
    for part in 0 1 2 3 4 5 6 7; do
        share=()
        for ((i = part; i < ${#corpus[@]}; i += 8)); do
            share+=("${corpus[$i]}")
        done
        # Their waits for each other are told on standard error.
        "$BATCH" --db "$OUT/run/eight.mdb" --unattended --quiet "${share[@]}" 2>/dev/null &
    done
    wait
    end=$(now)
    eight_times+=("$(python3 -c "print($end - $start)")")
done
single=$(median "${single_times[@]}")
eight=$(median "${eight_times[@]}")
echo "SQLite, ${#corpus[@]} files: one importer ${single_times[*]} s (median $single s); eight at once ${eight_times[*]} s (median $eight s)"

# --- Versioning: a fixed pool of models at 1x and 10x ------------------------------------------
versions=""
if [ "${BENCH_VERSIONS:-0}" != 0 ]; then
    # The batch tool and the sqlite3 shell inserting the rows it stored (as bench/run's baseline
    # does), each the median of REPEATS runs; prints the ratio of the two.
    fixed_ratio() {
        local files="$1" dir="$OUT/fixed$1" n
        python3 "$ROOT/bench/gen_corpus.py" "$dir/corpus" "$files" --fixed-models 120
        local batch_runs=() base_runs=()
        for n in $(seq "$REPEATS"); do
            cp "$OUT/base.mdb" "$dir/run.mdb"
            batch_runs+=("$(timed "$BATCH" --db "$dir/run.mdb" --unattended --quiet \
                "$dir"/corpus/*.flx)")
        done
        {
            echo "BEGIN;"
            for table in tblManufacturers tblEquipment tblInputs tblOutputs; do
                max=$(sqlite3 "$OUT/base.mdb" "SELECT COALESCE(MAX(rowid), 0) FROM $table")
                sqlite3 "$dir/run.mdb" ".mode insert $table" \
                    "SELECT * FROM $table WHERE rowid > $max"
            done
            echo "COMMIT;"
        } >"$dir/inserts.sql"
        for n in $(seq "$REPEATS"); do
            cp "$OUT/base.mdb" "$dir/baseline.mdb"
            base_runs+=("$(timed sqlite3 "$dir/baseline.mdb" <"$dir/inserts.sql")")
        done
        local batch base
        batch=$(median "${batch_runs[@]}")
        base=$(median "${base_runs[@]}")
        echo "fixed pool of 120 models, $files files: batch $batch s, sqlite3 $base s" >&2
        ratio "$batch" "$base"
    }
    one=$(fixed_ratio "$FILES")
    ten=$(fixed_ratio $((FILES * 10)))
    echo "versioning with a fixed pool of models: ratio batch/baseline at 1x $one, at 10x $ten"
    versions="ratio versioning 10x/1x = $(ratio "$ten" "$one")"
fi

echo "ratio PostgreSQL batch/psql = $(ratio "$pg_batch" "$pg_base")"
echo "ratio 8 importers/1 importer = $(ratio "$eight" "$single")"
if [ -n "$versions" ]; then
    echo "$versions"
fi
