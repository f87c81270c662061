#include "app/batch_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QFileInfo>
#include <csignal>
#include <optional>

#include "app/database_choice.h"
#include "app/database_tables.h"
#include "app/import_commands.h"
#include "core/error.h"
#include "records/database.h"
#include "records/manufacturers.h"
#include "records/target.h"
#include "report/rtf_writer.h"

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
    gInterrupted = 1;
}

// Standard output is written in chunks of about this size while a run goes on.
constexpr qsizetype kOutChunk = 16 * 1024;

// Returns to the start of the terminal line and erases it.
constexpr const char* kEraseLine = "\r\x1b[K";

// While a file is read, the progress line is redrawn at most this often.
constexpr qint64 kRedrawMs = 500;

std::vector<std::int64_t> FileSizes(const QStringList& files) {
    std::vector<std::int64_t> sizes;
    sizes.reserve(files.size());
    for (const QString& file : files) {
        sizes.push_back(QFileInfo(file).size());
    }
    return sizes;
}

bool IsControl(char16_t unit) {
    return (unit < 0x20 && unit != '\t' && unit != '\n') || (unit >= 0x7f && unit < 0xa0);
}

// `text` as UTF-8 with CR LF written as LF. For a terminal, the control characters that would
// act on it (move the cursor, erase, retitle the window) become symbols: C0 characters their
// Control Pictures (U+2400 on), DEL U+2421, the C1 controls U+FFFD.
QByteArray Encode(QStringView text, bool terminal) {
    QString copy = text.toString();
    copy.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (terminal) {
        for (QChar& ch : copy) {
            const char16_t unit = ch.unicode();
            if (IsControl(unit)) {
                ch = unit < 0x20    ? QChar(0x2400 + unit)
                     : unit == 0x7f ? QChar(0x2421)
                                    : QChar(0xfffd);
            }
        }
    }
    return copy.toUtf8();
}

}  // namespace

BatchHost::BatchHost(SessionState& session, const BatchOptions& options, std::FILE* out,
                     std::FILE* err)
    : session_(session),
      unattended_(options.unattended),
      quiet_(options.quiet),
      keepReport_(!options.reportPath.isEmpty()),
      files_(options.files),
      out_(out),
      err_(err),
      outTerminal_(isatty(fileno(out)) != 0),
      progressEnabled_(!options.noProgress && isatty(fileno(err)) != 0),
      figures_(progressEnabled_ ? FileSizes(options.files) : std::vector<std::int64_t>()),
      results_(options.files.size()) {
    // The report on standard output would break the JSON document there.
    quiet_ = quiet_ || JsonOutput(options.jsonPath).toStandardOutput();
    clock_.start();
}

BatchHost::~BatchHost() {
    Finish();
}

void BatchHost::AppendReportLine(const QString& line) {
    if (keepReport_) {
        reportLines_ << line;
    }
    if (quiet_) {
        return;
    }
    // A line may be hundreds of megabytes long: it is encoded and written piece by piece.
    const QStringView text(line);
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = std::min(text.size(), start + kOutChunk);
        // A CR LF pair and a surrogate pair stay in one piece.
        if (end < text.size() && (text[end - 1] == u'\r' || text[end - 1].isHighSurrogate())) {
            ++end;
        }
        outBuffer_ += Encode(text.mid(start, end - start), outTerminal_);
        start = end;
        if (outBuffer_.size() >= kOutChunk) {
            FlushOut();
        }
    }
    outBuffer_ += '\n';
    if (outBuffer_.size() >= kOutChunk) {
        FlushOut();
    }
}

void BatchHost::MessageBox(const QString& text) {
    failed_ = true;
    fileMessages_ << text;
    Error(text);
}

bool BatchHost::AskYesNo(const QString& text) {
    Error(text);
    return false;
}

bool BatchHost::SelectManufacturer(SessionState& session, db::Database&) {
    failed_ = true;
    const QString text =
        QStringLiteral(
            "manufacturer ID \"%1\" is not in the database and not mapped; use "
            "--unattended to add it, or --map %1=DBID to import it under an existing "
            "manufacturer")
            .arg(session.sManuID);
    fileMessages_ << text;
    Error("importflx-batch: " + text);
    return false;
}

void BatchHost::ProcessEvents() {
    if (gInterrupted != 0) {
        session_.bCancel = true;
    }
    // Keeps the clock on the progress line going while a long file is read.
    if (progressShown_ && clock_.elapsed() - drawnAt_ >= kRedrawMs) {
        DrawProgress();
    }
}

void BatchHost::FileImported(int index, const QString& /*path*/, const FileOutcome& outcome) {
    if (!outcome.added()) {
        failed_ = true;
    }
    std::int64_t rows = 0;
    for (const StoredEquipment& equipment : outcome.equipment) {
        rows += 1 + equipment.inputs + equipment.outputs;
    }
    figures_.FileDone(index, rows);
    results_.at(index) = BatchFileResult{outcome, fileMessages_};
    fileMessages_.clear();
}

void BatchHost::WaitingForDatabase(bool waiting) {
    if (waiting) {
        Error(QString::fromLatin1(kWaitingForDatabase));
    }
}

void BatchHost::SetFileCountText(const QString& text) {
    if (progressEnabled_) {
        progressText_ = text;
        FlushOut();
        DrawProgress();
    }
}

void BatchHost::Error(const QString& text) {
    FlushOut();
    const bool redraw = progressShown_;
    EraseProgress();
    WriteErr(Encode(text, progressEnabled_) + '\n');
    if (redraw) {
        DrawProgress();
    }
}

void BatchHost::Finish() {
    FlushOut();
    EraseProgress();
}

bool BatchHost::AllFilesAdded() const {
    if (failed_) {
        return false;
    }
    for (const BatchFileResult& result : results_) {
        if (!result.outcome || !result.outcome->added()) {
            return false;
        }
    }
    return true;
}

void BatchHost::FlushOut() {
    if (outBuffer_.isEmpty()) {
        return;
    }
    // Standard output may be the same terminal as the progress line.
    const bool redraw = progressShown_;
    EraseProgress();
    std::fwrite(outBuffer_.constData(), 1, outBuffer_.size(), out_);
    std::fflush(out_);
    outBuffer_.clear();
    if (redraw) {
        DrawProgress();
    }
}

void BatchHost::WriteErr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, bytes.size(), err_);
    std::fflush(err_);
}

void BatchHost::DrawProgress() {
    if (!progressEnabled_ || progressText_.isEmpty()) {
        return;
    }
    drawnAt_ = clock_.elapsed();
    QString text = figures_.Text(progressText_, drawnAt_);
    // A line wider than the terminal would wrap, and the erase would clear only its last part.
    winsize size{};
    if (ioctl(fileno(err_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
        text.truncate(size.ws_col - 1);
    }
    WriteErr(kEraseLine + text.toUtf8());
    progressShown_ = true;
}

void BatchHost::EraseProgress() {
    if (progressShown_) {
        WriteErr(kEraseLine);
        progressShown_ = false;
    }
}

void InstallInterruptHandler() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() {
    return gInterrupted != 0;
}

namespace {

const QString kProgram = QStringLiteral("importflx-batch");

void PrintLine(const QString& line) {
    std::fputs(Encode(line + '\n', isatty(fileno(stderr)) != 0).constData(), stderr);
    std::fflush(stderr);
}

void PrintError(const QString& text) {
    PrintLine(kProgram + QStringLiteral(": ") + text);
}

// Why there is no database to import into; the tool cannot create one.
QString MissingDatabaseText(const DatabaseChoice& database) {
    switch (database.source) {
        case DatabaseSource::kBesideProgram:
            return QStringLiteral("no dbEquip.mdb in %1; name the database with --db PATH")
                .arg(database.folder);
        case DatabaseSource::kDataFolder:
            return QStringLiteral(
                       "no dbEquip.mdb in %1; start importflx once to create it, or name the "
                       "database with --db PATH")
                .arg(database.folder);
        case DatabaseSource::kCommandLine:
        case DatabaseSource::kRemembered:
            break;
    }
    return QStringLiteral("database not found: %1").arg(database.shown);
}

// Appends one entry per --map to `map` (which starts as the import window's load leaves it).
// Returns false with `error` set when a database ID names no manufacturer.
bool FillManufacturerMap(db::Database& database, const QList<ManufacturerMapping>& mappings,
                         std::vector<ManuMapEntry>& map, QString& error) {
    for (const ManufacturerMapping& mapping : mappings) {
        const std::optional<db::ManufacturerRow> found =
            db::FindManufacturer(database, mapping.databaseId);
        if (!found) {
            error = QStringLiteral("--map %1=%2: the database has no manufacturer %2")
                        .arg(mapping.fileId, mapping.databaseId);
            return false;
        }
        map.push_back(ManuMapEntry{mapping.fileId, found->name, found->id});
    }
    return true;
}

// Everything between a usable command line and the exit status; the session and the database
// are gone when it returns. What the run did goes into `record`.
int ImportAll(const BatchOptions& options, const QString& connection, BatchRunRecord& record) {
    SessionState session;
    session.sEquipConnection = connection;
    db::Database database(connection);
    // Opening the database now reports a file that is no database, or one without the tables,
    // before anything runs.
    if (!CheckDatabaseTables(database, record.error)) {
        PrintError(QString(record.error).replace('\n', ' '));
        return batch_exit::kUsage;
    }
    try {
        if (!FillManufacturerMap(database, options.mappings, session.aManuMap, record.error)) {
            PrintError(record.error);
            return batch_exit::kUsage;
        }
    } catch (const AppError& e) {
        record.error = ErrorText(e);
        PrintLine(ErrorForTerminal(kProgram, e));
        return batch_exit::kUsage;
    }

    BatchHost host(session, options);
    ImportContext ctx{session, host, database};
    InstallInterruptHandler();
    // A dry run holds the database for the whole run and gives back every row at its end.
    if (options.dryRun) {
        database.BeginDryRun();
    }
    record.run = cmdAll_Click(ctx);
    database.EndDryRun();
    host.Finish();
    record.files = host.Results();

    int status = host.AllFilesAdded() ? batch_exit::kOk : batch_exit::kFailed;
    if (!options.reportPath.isEmpty()) {
        try {
            SaveRtfFile(options.reportPath, host.ReportLines());
        } catch (const AppError& e) {
            host.Error(ErrorForTerminal(kProgram + QStringLiteral(": report not saved"), e));
            status = batch_exit::kFailed;
        }
    }
    return Interrupted() ? batch_exit::kInterrupted : status;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    QString error;
    // A JSON file that cannot be written is found out before anything is imported.
    JsonOutput json(options.jsonPath);
    if (!json.Open(error)) {
        PrintError(error);
        return batch_exit::kUsage;
    }
    BatchRunRecord record;
    int status = batch_exit::kUsage;
    const DatabaseChoice database = ChooseDatabase(options.database, CurrentPlaces());
    if (database.missing) {
        record.error = MissingDatabaseText(database);
        PrintError(record.error);
    } else {
        status = ImportAll(options, database.connection, record);
    }
    if (json.enabled() &&
        !json.Write(BatchJson(options.files, record, Interrupted(), status), error)) {
        PrintError(error);
        status = status == batch_exit::kOk ? batch_exit::kFailed : status;
    }
    return status;
}
