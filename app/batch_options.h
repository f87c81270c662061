#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The command line of importflx-batch:
//   importflx-batch [--db TARGET] [--unattended] [--map FILEID=DBID]... [--report FILE]
//                   [--json FILE] [--quiet] [--no-progress] [--dry-run] FILE...
//   importflx-batch --runs | --undo RECORD [--db TARGET] [--dry-run] [--json FILE]
//                   | --resume RECORD [--force] [...]
// Options taking a value accept it as the next argument or after '=' (--db=PATH). "--" ends the
// options, so that a file name may start with '-'.

// Exit statuses of the batch tool.
namespace batch_exit {
inline constexpr int kOk = 0;             // every file was added
inline constexpr int kFailed = 1;         // a file failed or was refused
inline constexpr int kUsage = 2;          // bad command line, or no usable database
inline constexpr int kInterrupted = 130;  // stopped by SIGINT
}  // namespace batch_exit

// One --map: a manufacturer ID as the files give it, resolved to a database manufacturer.
struct ManufacturerMapping {
    QString fileId;
    QString databaseId;

    bool operator==(const ManufacturerMapping&) const = default;
};

struct BatchOptions {
    QString database;  // --db TARGET (records/target.h); empty: see app/database_choice.h
    bool unattended = false;
    QList<ManufacturerMapping> mappings;  // in command-line order
    QString reportPath;                   // --report; empty: no RTF report
    QString jsonPath;                     // --json; empty: none, "-": standard output
    bool quiet = false;
    bool noProgress = false;  // --no-progress: no progress line even on a terminal
    bool dryRun = false;      // --dry-run: report as a real run would, store nothing
    bool listRuns = false;    // --runs: list the recorded runs and do nothing else
    QString undo;             // --undo RECORD: a record's path, or "last"
    QString resume;           // --resume RECORD
    bool force = false;       // --force: --resume imports changed files too
    bool help = false;        // --help: print the usage and do nothing else
    bool version = false;     // --version: print the version and do nothing else
    QStringList files;        // in command-line order, as given
};

struct BatchParse {
    BatchOptions options;
    QString error;  // empty when the command line is valid

    bool ok() const { return error.isEmpty(); }
};

// Parses `arguments` (without the program name). A later --db, --report or --json replaces an
// earlier one. --map splits at the first '=', so a file ID cannot hold '=' but a database ID
// can; both sides must be non-empty. A --db TARGET that names no database importflx can open is
// refused (cli::DatabaseOptionError). --help (or -h) and --version end the parse. Without them,
// at least one file is required, unless one of --runs, --undo and --resume is given (one at
// most, without files).
BatchParse ParseBatchOptions(const QStringList& arguments);

// The usage text printed by --help, ending with a line end.
QString BatchUsage();
// The text printed by --version, ending with a line end.
QString BatchVersion();
