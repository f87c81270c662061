#!/usr/bin/env bash
# Crash safety of the import: kills importflx-batch with SIGKILL at random moments of large runs,
# all on one equipment database, and checks after every kill that
#   - SQLite finds the database intact (PRAGMA integrity_check says ok);
#   - every file whose "Added <path>" line reached standard output is fully present: its
#     equipment row with exactly its input and output rows;
#   - no file is half present: an equipment row exists only with all its connector rows, the
#     file in progress is absent entirely, and the files present form an unbroken prefix of
#     the run's order;
#   - no connector row lost its equipment row, and nothing was written to standard error;
#   - after the last run, the file is in its own journal mode again, with no log beside it.
# Every run continues on the database that the run before it left. A first run and a last run
# are not killed and must import everything: the last one shows that the kills left a usable
# database. The first one's pace sizes the killed runs so that they outlast the latest kill.
#
# Usage: crash_test.sh IMPORTFLX_BATCH DATA_DIR
#   DATA_DIR holds schema.sql and demo.sql. Settings from the environment:
#   CRASH_KILLS (20), CRASH_FILES (300: files of the first and last run, and the least for a
#   killed run), CRASH_LINES (40 connector lines per file), CRASH_SEED (random; printed, so
#   that a failure can be replayed).
set -uo pipefail

source "$(dirname "$0")/flx_corpus.sh"
take_arguments crash_test "$@" -- sqlite3
KILLS="${CRASH_KILLS:-20}"
FILES="${CRASH_FILES:-300}"
LINES="${CRASH_LINES:-40}"
SEED="${CRASH_SEED:-$(($$ ^ $(date +%s)))}"
RANDOM=$((SEED % 32768))

WORK="$(mktemp -d "${TMPDIR:-/tmp}/importflx-crash.XXXXXX")"
DB="$WORK/dbEquip.mdb"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish() {
    if [ "$failures" -eq 0 ]; then
        rm -rf "$WORK"
        return
    fi
    echo "crash_test: $failures failure(s); seed $SEED; database and runs kept in $WORK" >&2
}
trap finish EXIT

sql() {
    sqlite3 -batch -noheader -separator ' ' "$DB" "$1"
}

# Checks the database after run $1 (its files in folder $2, its standard output in $3 and
# standard error in $4). $5 is "all" when the run must have imported every file.
check() {
    local round="$1" dir="$2" out="$3" err="$4" expect="$5"
    local label="run $round"

    local integrity
    integrity="$(sql "PRAGMA integrity_check" 2>&1)"
    if [ "$integrity" != "ok" ]; then
        fail "$label: PRAGMA integrity_check says: $integrity"
        return
    fi

    if [ -s "$err" ]; then
        fail "$label: standard error is not empty: $(head -c 400 "$err")"
    fi

    local orphans
    orphans="$(sql "SELECT (SELECT count(*) FROM tblInputs WHERE EquipmentID NOT IN
                          (SELECT EquipmentID FROM tblEquipment))
                     + (SELECT count(*) FROM tblOutputs WHERE EquipmentID NOT IN
                          (SELECT EquipmentID FROM tblEquipment))")"
    [ "$orphans" = "0" ] || fail "$label: $orphans connector rows without their equipment row"

    local strays
    strays="$(sql "SELECT count(*) FROM (
                     SELECT i.Name, e.EquipmentName FROM tblInputs i JOIN tblEquipment e
                         USING (EquipmentID) WHERE e.ManufacturerID = 'CRASHCO'
                     UNION ALL
                     SELECT o.Name, e.EquipmentName FROM tblOutputs o JOIN tblEquipment e
                         USING (EquipmentID) WHERE e.ManufacturerID = 'CRASHCO')
                   WHERE substr(Name, 1, length(EquipmentName) + 1) <> EquipmentName || ' '")"
    [ "$strays" = "0" ] || fail "$label: $strays connector rows attached to another file's device"

    local unknownMaker
    unknownMaker="$(sql "SELECT count(*) FROM tblEquipment WHERE ManufacturerID NOT IN
                           (SELECT ManufacturerID FROM tblManufacturers)")"
    [ "$unknownMaker" = "0" ] || fail "$label: $unknownMaker equipment rows name no manufacturer"

    sql "SELECT e.EquipmentName,
                (SELECT count(*) FROM tblInputs i WHERE i.EquipmentID = e.EquipmentID),
                (SELECT count(*) FROM tblOutputs o WHERE o.EquipmentID = e.EquipmentID)
         FROM tblEquipment e WHERE e.ManufacturerID = 'CRASHCO'" >"$WORK/present"
    grep -a '^Added /.*\.flx$' "$out" | cut -c7- >"$WORK/added" || true

    local problems
    problems="$(cat "$WORK"/r*/manifest | awk -v round="$(printf 'R%02d-' "$round")" \
        -v expect="$expect" -v present="$WORK/present" \
        -v added="$WORK/added" '
        { want[$1] = $3 " " $4; modelOf[$2] = $1; if (index($1, round) == 1) runFiles++ }
        END {
            while ((getline line < present) > 0) {
                split(line, f, " ")
                name = f[1]
                if (!(name in want)) { print "equipment " name " comes from no file"; continue }
                if (++seen[name] > 1) { print name " is present " seen[name] " times"; continue }
                got = f[2] " " f[3]
                if (got != want[name]) {
                    print name " is half present: " f[2] " inputs and " f[3] \
                        " outputs instead of " want[name]
                }
                if (index(name, round) == 1) {
                    n = substr(name, length(round) + 2) + 0
                    here[n] = 1
                    count++
                    if (n > last) last = n
                } else {
                    older++
                }
            }
            for (n = 1; n <= last; n++) {
                if (!(n in here)) {
                    printf "file %d of the run is absent although file %d is present\n", n, last
                }
            }
            while ((getline path < added) > 0) {
                if (!(path in modelOf)) { print "\"Added " path "\" names no file of the run"; continue }
                if (!(modelOf[path] in seen)) {
                    print "\"Added " path "\" was reported but " modelOf[path] " is absent"
                }
                reported++
            }
            if (expect == "all" && (count != runFiles || reported != runFiles)) {
                printf "the run ended normally but %d of %d files are present and %d reported added\n", \
                    count, runFiles, reported
            }
            printf "#present %d reported %d older %d\n", count, reported, older + 0
        }')"
    local summary
    summary="$(grep '^#present' <<<"$problems")"
    while IFS= read -r problem; do
        [ -n "$problem" ] && fail "$label: $problem"
    done < <(grep -v '^#present' <<<"$problems")
    presentCount="$(awk '{print $2}' <<<"$summary")"
    reportedCount="$(awk '{print $4}' <<<"$summary")"
    local older
    older="$(awk '{print $6}' <<<"$summary")"
    if [ "$older" != "$keptBefore" ]; then
        fail "$label: the earlier runs left $keptBefore files in the database, now $older remain"
    fi
    keptBefore=$((older + presentCount))
}

sqlite3 "$DB" ".read $DATA/schema.sql" ".read $DATA/demo.sql" || {
    echo "crash_test: cannot build the database from $DATA" >&2
    exit 2
}

# Runs importflx-batch on folder $1's files, in the background; sets pid.
start_run() {
    "$BATCH" --db "$DB" --unattended "$1"/*.flx >"$1/stdout" 2>"$1/stderr" &
    pid=$!
}

# Waits for the run and sets status; the shell's own "Killed" notice is not wanted.
wait_run() {
    { wait "$pid"; } 2>/dev/null
    status=$?
}

new_round() {
    dir="$WORK/r$(printf '%02d' "$1")"
    mkdir -p "$dir"
    generate "$1" "$dir" "$2" "$LINES"
}

echo "crash_test: seed $SEED; $KILLS killed runs, $LINES connector lines per file"
started=$(date +%s%N)
landed=0
keptBefore=0

# A first run is left to finish: it must import everything, and its pace sets the size of the
# killed runs, so that every kill (at most 1.5 s in) lands while files are still being read.
new_round 0 "$FILES"
t0=$(date +%s%N)
start_run "$dir"
wait_run
pace=$((($(date +%s%N) - t0) / 1000000))
[ "$status" -eq 0 ] || fail "first run (not killed) exited with status $status"
check 0 "$dir" "$dir/stdout" "$dir/stderr" all
perRun=$((FILES * 2500 / (pace > 0 ? pace : 1)))
[ "$perRun" -ge "$FILES" ] || perRun="$FILES"
echo "  first run: $presentCount of $FILES files in $pace ms; killed runs get $perRun files"

for ((round = 1; round <= KILLS; round++)); do
    new_round "$round" "$perRun"
    start_run "$dir"
    delay=$((50 + RANDOM % 1451))
    sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
    kill -KILL "$pid" 2>/dev/null
    wait_run
    case "$status" in
        137)
            landed=$((landed + 1))
            check "$round" "$dir" "$dir/stdout" "$dir/stderr" some
            ;;
        0)
            check "$round" "$dir" "$dir/stdout" "$dir/stderr" all
            ;;
        *)
            fail "run $round exited with status $status before it was killed"
            check "$round" "$dir" "$dir/stdout" "$dir/stderr" some
            ;;
    esac
    echo "  run $round: killed after $delay ms (status $status): $presentCount files present," \
        "$reportedCount reported added"
    [ "$failures" -eq 0 ] && rm -f "$dir"/*.flx
done

# The database the kills left behind must still take a whole run.
new_round $((KILLS + 1)) "$FILES"
start_run "$dir"
wait_run
[ "$status" -eq 0 ] || fail "last run (not killed) exited with status $status"
check $((KILLS + 1)) "$dir" "$dir/stdout" "$dir/stderr" all
echo "  last run: $presentCount of $FILES files imported"
# The kills left the file in write-ahead-log mode with its log beside it; the last run put it
# back in the mode it had before the first, so that the file alone holds everything.
mode="$(sql "PRAGMA journal_mode")"
[ "$mode" = "delete" ] || fail "after the last run the journal mode is $mode, not delete"
for left in "$DB-wal" "$DB.importflx-journal"; do
    [ ! -e "$left" ] || fail "after the last run $left is still there"
done
elapsed=$((($(date +%s%N) - started) / 1000000))

if [ "$landed" -lt $((KILLS / 2)) ]; then
    fail "only $landed of $KILLS kills hit a run in progress; the runs are too short to test"
fi
echo "crash_test: $landed of $KILLS kills hit a run in progress; ${elapsed} ms in all"
if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "crash_test: passed"
