# Sourced by the shell tests: writes FLX files whose content the tests can check row by row.

# Writes run $1's files into folder $2: $3 files of $4 connector lines each. Every file holds
# one device of manufacturer CRASHCO with a model name unique across all runs (R<run>-F<file>),
# its inputs (every fifth a loop-through) and outputs in a split that varies by file, and
# connector names that start with the model name. The folder's manifest lists
# "model path inputs outputs" per file, in import order.
generate() {
    awk -v round="$1" -v dir="$2" -v files="$3" -v lines="$4" 'BEGIN {
        for (f = 1; f <= files; f++) {
            model = sprintf("R%02d-F%04d", round, f)
            path = sprintf("%s/f%04d.flx", dir, f)
            nin = 1 + (f * 7 + round) % (lines - 1)
            printf "<<STARTDEF>>\r\nCRASHCO\r\n%s\r\nCrash Rig\r\n", model > path
            printf "<<STARTBLK>>\r\nT SIG CONN  NAME\r\n" > path
            for (n = 1; n <= lines; n++) {
                if (n <= nin) { code = (n % 5 == 0) ? "L" : "I" } else { code = "O" }
                printf "%s SDI BNC   %s %s %d\r\n", code, model, \
                    (code == "O") ? "Out" : "In", n > path
            }
            printf "<<ENDBLK>>\r\n" > path
            close(path)
            print model, path, nin, lines - nin > (dir "/manifest")
        }
    }'
}

# Sets BATCH and DATA from a shell test's two arguments (IMPORTFLX_BATCH DATA_DIR), or ends the
# test with its usage; then ends it unless BATCH runs and every TOOL is installed (status 2).
#   take_arguments NAME ARG... -- TOOL...
take_arguments() {
    local name=$1
    shift
    local args=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        args+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    if [ ${#args[@]} -ne 2 ]; then
        echo "usage: $name IMPORTFLX_BATCH DATA_DIR" >&2
        exit 2
    fi
    BATCH=${args[0]}
    DATA=${args[1]}
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || {
            echo "$name: $tool is needed (scripts/test installs it)" >&2
            exit 2
        }
    done
    [ -x "$BATCH" ] || {
        echo "$name: $BATCH is not an executable; build importflx-batch first" >&2
        exit 2
    }
}
