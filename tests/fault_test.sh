#!/usr/bin/env bash
# Injected I/O faults: runs importflx-batch under libfiu's POSIX preload (fiu-run -x), failing a
# small share of its reads, writes, flushes and opens at random, each run with a fixed seed and a
# fresh copy of the demo database. After every run, with no faults, it checks that
#   - the program ended by itself (no signal) and SQLite finds the database intact;
#   - the JSON report is readable, or the run failed and said why;
#   - the devices the report lists as stored are exactly the devices in the database, each
#     whole: its equipment row with all the input and output rows of its file;
#   - the file is in its own journal mode with no log beside it, or the program said so (naming
#     the log file that must stay, if any), and a run without faults then puts the file back.
#
# Usage: fault_test.sh IMPORTFLX_BATCH DATA_DIR
#   DATA_DIR holds schema.sql and demo.sql. Settings from the environment: FAULT_RUNS (30),
#   FAULT_FILES (60 per run), FAULT_PROBABILITY (0.003), FAULT_FIRST_SEED (1).
set -uo pipefail

source "$(dirname "$0")/flx_corpus.sh"
take_arguments fault_test "$@" -- fiu-run sqlite3 python3
RUNS="${FAULT_RUNS:-30}"
FILES="${FAULT_FILES:-60}"
P="${FAULT_PROBABILITY:-0.003}"
FIRST="${FAULT_FIRST_SEED:-1}"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/importflx-fault.XXXXXX")"
failures=0
fail() {
    echo "FAIL: seed $seed: $*" >&2
    failures=$((failures + 1))
}
trap '[ "$failures" -eq 0 ] && rm -rf "$WORK" || echo "fault_test: runs kept in $WORK" >&2' EXIT

sqlite3 "$WORK/base.mdb" ".read $DATA/schema.sql" ".read $DATA/demo.sql" || exit 2
mkdir -p "$WORK/files"
generate 1 "$WORK/files" "$FILES" 12
printf 'no device\r\n' >"$WORK/empty.flx"

faults=()
for point in posix/io/rw/* posix/io/sync/* posix/io/oc/open; do
    faults+=(-c "enable_random name=$point,probability=$P")
done

# The devices the report lists as stored, and the ones in the database, as "model inputs
# outputs" lines; and the manifest's, for the same models.
listed() {
    python3 - "$1" <<'PY'
import json, sys
for f in json.load(open(sys.argv[1]))["files"]:
    for e in f.get("equipment", []):
        print(e["model"], e["inputs"], e["outputs"])
PY
}
present() {
    sqlite3 -batch -separator ' ' "$1" "SELECT e.EquipmentName,
        (SELECT count(*) FROM tblInputs i WHERE i.EquipmentID = e.EquipmentID),
        (SELECT count(*) FROM tblOutputs o WHERE o.EquipmentID = e.EquipmentID)
        FROM tblEquipment e WHERE e.ManufacturerID = 'CRASHCO'"
}

injected=0
for ((seed = FIRST; seed < FIRST + RUNS; seed++)); do
    run="$WORK/run$seed"
    mkdir -p "$run"
    db="$run/dbEquip.mdb"
    cp "$WORK/base.mdb" "$db"
    FIU_PRNG_SEED=$seed fiu-run -x "${faults[@]}" "$BATCH" --db "$db" --unattended --quiet \
        --json "$run/report.json" "$WORK"/files/*.flx >"$run/stdout" 2>"$run/stderr"
    status=$?
    [ -s "$run/stderr" ] && injected=$((injected + 1))
    if [ "$status" -gt 2 ]; then
        fail "importflx-batch ended with status $status: $(tail -c 300 "$run/stderr")"
        continue
    fi
    integrity="$(sqlite3 "$db" "PRAGMA integrity_check" 2>&1)"
    [ "$integrity" = "ok" ] || fail "integrity_check says: $integrity"

    if ! python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$run/report.json" 2>/dev/null
    then
        [ "$status" -ne 0 ] || fail "exit 0 without a readable JSON report"
        grep -q "JSON" "$run/stderr" || fail "the JSON report is missing and nothing said why"
    else
        diff <(listed "$run/report.json" | sort) <(present "$db" | sort) >"$run/diff" ||
            fail "the report and the database differ: $(head -c 300 "$run/diff")"
        present "$db" | awk -v manifest="$WORK/files/manifest" '
            BEGIN { while ((getline l < manifest) > 0) { split(l, m, " "); want[m[1]] = m[3] " " m[4] } }
            { if (want[$1] != $2 " " $3) print $1 " is half stored: " $2 " " $3 }' >"$run/half"
        [ ! -s "$run/half" ] || fail "$(head -c 300 "$run/half")"
    fi

    mode="$(sqlite3 "$db" "PRAGMA journal_mode")"
    if [ "$mode" != "delete" ] || [ -e "$db.importflx-journal" ]; then
        grep -q -e "$db-wal" -e "own journal mode" "$run/stderr" ||
            fail "left in journal mode $mode without saying so"
        "$BATCH" --db "$db" --unattended --quiet "$WORK/empty.flx" >/dev/null 2>&1
        mode="$(sqlite3 "$db" "PRAGMA journal_mode")"
        [ "$mode" = "delete" ] && [ ! -e "$db.importflx-journal" ] ||
            fail "a run without faults left the journal mode $mode"
    fi
    [ "$failures" -eq 0 ] && rm -rf "$run"
done

echo "fault_test: $RUNS runs of $FILES files, $injected of them met a fault they reported"
if [ "$injected" -lt $((RUNS / 4)) ]; then
    echo "FAIL: too few runs met a fault; raise FAULT_PROBABILITY" >&2
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "fault_test: passed"
