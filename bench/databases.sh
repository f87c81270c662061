#!/usr/bin/env bash
# The database figures of bench/run, measured on the corpus bench/run generated:
#   - PostgreSQL across a link: a relay in front of the server counts round trips and holds each
#     for BENCH_LINK_MS (1) ms, as a network would; on the first BENCH_LINK_FILES (100) files, the
#     batch tool through the server's own driver and through ODBC, against psql sending the same
#     rows, each file's transaction as one request;
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

LINK_FILES="${BENCH_LINK_FILES:-100}"
LINK_MS="${BENCH_LINK_MS:-1}"
mapfile -t link_files < <(ls "$OUT"/corpus/*.flx | head -n "$LINK_FILES")
RELAY="$OUT/relay"
mkdir -p "$RELAY"
python3 "$ROOT/tests/pg_relay.py" "$PG" "$RELAY" "$RELAY/turns.log" "$LINK_MS" >"$RELAY/out" &
relay_pid=$!
trap 'kill $relay_pid 2>/dev/null; bash "$ROOT/tests/pg_server.sh" stop "$PG"' EXIT
for _ in $(seq 100); do grep -q ready "$RELAY/out" 2>/dev/null && break; sleep 0.1; done
# The round trips of every connection so far, once each has closed.
turns() {
    python3 - "$RELAY/turns.log" <<'PY'
import sys, time
for _ in range(600):
    lines = open(sys.argv[1]).read().split() if __import__("os").path.exists(sys.argv[1]) else []
    if lines.count("open") == lines.count("turns"):
        break
    time.sleep(0.1)
print(sum(int(lines[i + 1]) for i, w in enumerate(lines) if w == "turns"))
PY
}
# Round trips per file of the command "$@" over the link files; its time goes to $OUT/link.time.
per_file_turns() {
    local before after start end
    before=$(turns)
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    after=$(turns)
    python3 -c "print($end - $start)" >"$OUT/link.time"
    python3 -c "print('%.1f' % (($after - $before) / ${#link_files[@]}))"
}
relay_uri() { echo "postgresql:///$1?host=$RELAY&user=postgres"; }

batch_times=()
for n in $(seq "$REPEATS"); do
    psql_on -d importflx -c "CREATE DATABASE run$n TEMPLATE bench_base" >/dev/null
    pg_turns=$(per_file_turns "$BATCH" --db "$(relay_uri "run$n")" --unattended --quiet \
        "${link_files[@]}")
    batch_times+=("$(cat "$OUT/link.time")")
done
pg_batch=$(median "${batch_times[@]}")
psql_on -d importflx -c "CREATE DATABASE odbc1 TEMPLATE bench_base" >/dev/null
odbc_turns=$(per_file_turns "$BATCH" --db "odbc:DRIVER={PostgreSQL Unicode};Server=$RELAY;Port=5432;Database=odbc1;UID=postgres" \
    --unattended --quiet "${link_files[@]}")
odbc_time=$(cat "$OUT/link.time")

# The baseline: exactly the rows the batch stored, each file's transaction (its equipment row
# with its inputs and outputs) as one request to the server: BEGIN \; ... \; COMMIT.
"$PGBIN/pg_dump" -h "$PG" -U postgres --data-only --column-inserts run1 | grep '^INSERT' >"$OUT/pg_run1.sql"
"$PGBIN/pg_dump" -h "$PG" -U postgres --data-only --column-inserts bench_base | grep '^INSERT' >"$OUT/pg_base.sql"
python3 - "$OUT/pg_run1.sql" "$OUT/pg_base.sql" "$OUT/pg_baseline.sql" <<'PY'
import re, sys
base = set(open(sys.argv[2]).read().splitlines())
first, devices = [], {}
for row in open(sys.argv[1]).read().splitlines():
    if row in base:
        continue
    m = re.match(r"INSERT INTO public\.(\w+) \(([^)]*)\) VALUES \((.*)\);$", row)
    columns = [c.strip() for c in m.group(2).split(",")]
    values = m.group(3).split(", ")
    if m.group(1) == "tblmanufacturers":
        first.append(row)
    else:
        devices.setdefault(values[columns.index("equipmentid")], []).append(row)
lines = ["BEGIN \\; " + " \\; ".join(r[:-1] for r in first) + " \\; COMMIT;"] if first else []
for key in devices:
    lines.append("BEGIN \\; " + " \\; ".join(r[:-1] for r in devices[key]) + " \\; COMMIT;")
open(sys.argv[3], "w").write("\n".join(lines) + "\n")
PY
pg_rows=$(grep -o 'INSERT' "$OUT/pg_baseline.sql" | wc -l)
base_times=()
for n in $(seq "$REPEATS"); do
    psql_on -d importflx -c "CREATE DATABASE base$n TEMPLATE bench_base" >/dev/null
    psql_turns=$(per_file_turns psql -q -X -v ON_ERROR_STOP=1 -h "$RELAY" -U postgres -d "base$n" \
        -f "$OUT/pg_baseline.sql")
    base_times+=("$(cat "$OUT/link.time")")
done
pg_base=$(median "${base_times[@]}")
echo "PostgreSQL across a link of $LINK_MS ms, ${#link_files[@]} files, $pg_rows rows:" \
    "batch import ${batch_times[*]} s (median $pg_batch s); through ODBC $odbc_time s;" \
    "psql ${base_times[*]} s (median $pg_base s)"

# --- Eight importers at once against one --------------------------------------------------------
mapfile -t corpus < <(ls "$OUT"/corpus/*.flx)
single_times=()
eight_times=()
for _ in $(seq "$REPEATS"); do
    cp "$OUT/base.mdb" "$OUT/run/one.mdb"
    single_times+=("$(timed "$BATCH" --db "$OUT/run/one.mdb" --unattended --quiet "${corpus[@]}")")
    cp "$OUT/base.mdb" "$OUT/run/eight.mdb"
    start=$(now)
    importers=()
    for part in 0 1 2 3 4 5 6 7; do
        share=()
        for ((i = part; i < ${#corpus[@]}; i += 8)); do
            share+=("${corpus[$i]}")
        done
        # Their waits for each other are told on standard error.
        "$BATCH" --db "$OUT/run/eight.mdb" --unattended --quiet "${share[@]}" 2>/dev/null &
        importers+=($!)
    done
    wait "${importers[@]}"
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

echo "round trips per file across the link: batch $pg_turns, batch through ODBC $odbc_turns, psql $psql_turns"
echo "ratio PostgreSQL batch/psql across a link = $(ratio "$pg_batch" "$pg_base")"
echo "ratio 8 importers/1 importer = $(ratio "$eight" "$single")"
if [ -n "$versions" ]; then
    echo "$versions"
fi
