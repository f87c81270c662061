#include "app/batch_options.h"

#include "app/command_line.h"

namespace {

const QCommandLineOption kDb("db",
                             "the equipment database: a file, postgresql://..., keyword=value "
                             "pairs or odbc:... (default: see Database below)",
                             "TARGET");
const QCommandLineOption kUnattended(
    "unattended", "add manufacturer IDs that the database lacks as new manufacturers");
const QCommandLineOption kMap("map",
                              "import equipment of manufacturer ID FILEID under the database "
                              "manufacturer DBID (repeatable; unused with --unattended)",
                              "FILEID=DBID");
const QCommandLineOption kReport("report", "also save the report as an RTF file (default: none)",
                                 "FILE");
const QCommandLineOption kJson("json",
                               "also write what was stored as JSON to FILE, or with - to "
                               "standard output instead of the report (default: none)",
                               "FILE");
const QCommandLineOption kQuiet("quiet", "do not write the report to standard output");
const QCommandLineOption kNoProgress("no-progress",
                                     "no progress line (default: one on standard error when it "
                                     "is a terminal)");

const QCommandLineOption kDryRun("dry-run",
                                 "import as usual, then give every row back: nothing is stored");

const QCommandLineOption kRuns("runs",
                               "list the recorded runs, newest first: time, database, files, rows");
const QCommandLineOption kUndo("undo",
                               "remove what the recorded run RECORD (a record file, or last) "
                               "added, where it is still as the run left it",
                               "RECORD");
const QCommandLineOption kResume("resume",
                                 "import the files of the recorded run RECORD (a record file, or "
                                 "last) that it did not add, with its options and database",
                                 "RECORD");
const QCommandLineOption kForce("force", "with --resume: import files changed since the run too");

const QList<QCommandLineOption> kOptions{kDb,         kUnattended, kMap,  kReport, kJson,   kQuiet,
                                         kNoProgress, kDryRun,     kRuns, kUndo,   kResume, kForce};

// Why the run-record options of `options` do not go together, or empty.
QString RecordOptionsError(const BatchOptions& options) {
    const int commands =
        int(options.listRuns) + int(!options.undo.isEmpty()) + int(!options.resume.isEmpty());
    if (commands > 1) {
        return QStringLiteral("--runs, --undo and --resume go one at a time");
    }
    if (commands == 1 && !options.files.isEmpty()) {
        return QStringLiteral("--runs, --undo and --resume take no FLX files");
    }
    if (options.force && options.resume.isEmpty()) {
        return QStringLiteral("--force goes with --resume only");
    }
    if (commands == 0 && options.files.isEmpty()) {
        return QStringLiteral("no FLX files given");
    }
    return {};
}

}  // namespace

BatchParse ParseBatchOptions(const QStringList& arguments) {
    BatchParse result;
    BatchOptions& options = result.options;
    QCommandLineParser parser;
    const cli::Parsed parsed = cli::Parse(parser, kOptions, arguments);
    options.help = parsed.request == cli::Request::kHelp;
    options.version = parsed.request == cli::Request::kVersion;
    if (!parsed.ok() || parsed.request != cli::Request::kRun) {
        result.error = parsed.error;
        return result;
    }
    options.database = parser.value(kDb);
    result.error = cli::DatabaseOptionError(options.database);
    if (!result.ok()) {
        return result;
    }
    options.unattended = parser.isSet(kUnattended);
    options.reportPath = parser.value(kReport);
    options.jsonPath = parser.value(kJson);
    options.quiet = parser.isSet(kQuiet);
    options.noProgress = parser.isSet(kNoProgress);
    options.dryRun = parser.isSet(kDryRun);
    for (const QString& value : parser.values(kMap)) {
        const qsizetype eq = value.indexOf('=');
        if (eq <= 0 || eq == value.size() - 1) {
            result.error = QStringLiteral("--map needs FILEID=DBID, got \"%1\"").arg(value);
            return result;
        }
        options.mappings << ManufacturerMapping{value.left(eq), value.mid(eq + 1)};
    }
    options.listRuns = parser.isSet(kRuns);
    options.undo = parser.value(kUndo);
    options.resume = parser.value(kResume);
    options.force = parser.isSet(kForce);
    options.files = parser.positionalArguments();
    result.error = RecordOptionsError(options);
    return result;
}

QString BatchUsage() {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports FLX device-description files into the equipment database, in the order given,\n"
        "and writes the import report to standard output."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the FLX files to import"),
                                 QStringLiteral("FILE... | --runs | --undo RECORD | --resume "
                                                "RECORD"));
    cli::Parse(parser, kOptions, {});
    return cli::HelpText(
        parser, QStringLiteral("importflx-batch"),
        cli::DatabaseHelp() + '\n' + cli::PasswordAdvice() +
            QStringLiteral(
                "\nRuns: every run that stores something is recorded in the user's data folder\n"
                "(runs/, the newest 200 kept). --undo removes a row only while it is as the run\n"
                "left it, and a manufacturer the run added only once no equipment refers to it.\n"
                "\nExit status: 0 every file was added, 1 a file failed or was refused, 2 usage\n"
                "error or no usable database, 130 interrupted. --undo: 0 everything was removed,\n"
                "1 something was kept, 2 usage or database error.\n"));
}

QString BatchVersion() {
    return cli::VersionText(QStringLiteral("importflx-batch"));
}
