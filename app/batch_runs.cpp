#include "app/batch_runs.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <optional>

#include "app/batch_host.h"
#include "app/batch_json.h"
#include "app/batch_run.h"
#include "app/database_choice.h"
#include "app/database_tables.h"
#include "app/run_record.h"
#include "app/run_undo.h"
#include "core/error.h"
#include "core/platform.h"
#include "records/database.h"
#include "records/target.h"

namespace {

const QString kProgram = QStringLiteral("importflx-batch");

void Print(std::FILE* stream, const QString& line) {
    std::fputs(Encode(line + '\n', platform::IsTerminal(stream)).constData(), stream);
    std::fflush(stream);
}

void PrintError(const QString& text) {
    Print(stderr, kProgram + QStringLiteral(": ") + text);
}

// The record named by `name`, or nothing after telling why.
std::optional<QJsonObject> Load(const QString& name) {
    QString error;
    const QString path = FindRecord(name, error);
    std::optional<QJsonObject> record;
    if (!path.isEmpty()) {
        record = LoadRecord(path, error);
    }
    if (!record) {
        PrintError(error);
    }
    return record;
}

// The connection string of the record's database, or of --db when it names the same one;
// empty after telling why not.
QString RecordDatabase(const QJsonObject& record, const QString& target) {
    const QString connection = target.isEmpty()
                                   ? db::ConnectionStringForTarget(record["database"].toString())
                                   : ChooseDatabase(target, CurrentPlaces()).connection;
    const QString mismatch = DatabaseMismatch(record, connection);
    if (!mismatch.isEmpty()) {
        PrintError(mismatch);
        return {};
    }
    return connection;
}

QJsonDocument UndoJson(const QJsonObject& record, const db::UndoResult& result, bool dryRun,
                       int status) {
    QJsonArray kept;
    for (const db::UndoResult::Kept& row : result.kept) {
        kept.append(QJsonObject{{"what", row.what}, {"reason", row.reason}});
    }
    return QJsonDocument(QJsonObject{
        {"record", record["time"]},
        {"database", record["database"]},
        {"dryRun", dryRun},
        {"removed",
         QJsonObject{{"equipment", qint64(result.equipmentRemoved)},
                     {"connectors", qint64(result.connectorsRemoved)},
                     {"manufacturers", QJsonArray::fromStringList(result.manufacturersRemoved)}}},
        {"removedBefore", QJsonObject{{"equipment", qint64(result.equipmentGone)},
                                      {"manufacturers", qint64(result.manufacturersGone)}}},
        {"kept", kept},
        {"exitStatus", status}});
}

// The files of `record` that a resume imports; the others are named on standard error.
// `left` becomes true when a file is left out that the run did not add.
QStringList FilesToResume(const QJsonObject& record, bool force, bool& left) {
    QStringList files;
    for (const QJsonValue& file : record["files"].toArray()) {
        const QString path = file["fullPath"].toString();
        if (file["outcome"].toString() == QLatin1String("added")) {
            continue;
        }
        if (!file["equipment"].toArray().isEmpty()) {
            PrintError(
                QStringLiteral("%1: the run stored part of it; not imported again").arg(path));
            left = true;
            continue;
        }
        const QJsonObject now = FileFacts(path);
        if (now["size"] != file["size"] || now["sha256"] != file["sha256"]) {
            PrintError(QStringLiteral("%1: changed since the run; %2")
                           .arg(path, force ? QStringLiteral("imported as new (--force)")
                                            : QStringLiteral("give --force to import it as new")));
            if (!force) {
                left = true;
                continue;
            }
        }
        files << path;
    }
    return files;
}

}  // namespace

int ListRuns() {
    for (const QString& path : RecordPaths()) {
        QString error;
        const std::optional<QJsonObject> record = LoadRecord(path, error);
        if (!record) {
            PrintError(error);
            continue;
        }
        const RecordTotals totals = TotalsOf(*record);
        const QDateTime time =
            QDateTime::fromString((*record)["time"].toString(), Qt::ISODateWithMs).toLocalTime();
        Print(stdout, QStringLiteral("%1  %2  %3 files  %4 rows  %5")
                          .arg(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                               (*record)["database"].toString())
                          .arg(totals.files)
                          .arg(totals.equipment + totals.connectors)
                          .arg(path));
    }
    return batch_exit::kOk;
}

int UndoRun(const BatchOptions& options) {
    QString error;
    JsonOutput json(options.jsonPath);
    const std::optional<QJsonObject> record = Load(options.undo);
    if (!json.Open(error) || !record) {
        if (!error.isEmpty()) {
            PrintError(error);
        }
        return batch_exit::kUsage;
    }
    const QString connection = RecordDatabase(*record, options.database);
    if (connection.isEmpty()) {
        return batch_exit::kUsage;
    }
    db::Database database(connection);
    if (!CheckDatabaseTables(database, error)) {
        PrintError(error.replace('\n', ' '));
        return batch_exit::kUsage;
    }
    db::UndoResult result;
    try {
        result = UndoRecord(database, *record, options.dryRun);
    } catch (const AppError& e) {
        Print(stderr, ErrorForTerminal(kProgram, e));
        return batch_exit::kUsage;
    }
    database.Close();
    const int status = result.kept.empty() ? batch_exit::kOk : batch_exit::kFailed;
    if (!json.toStandardOutput() && !options.quiet) {
        for (const QString& line : UndoLines(result, options.dryRun)) {
            Print(stdout, line);
        }
    }
    if (json.enabled() && !json.Write(UndoJson(*record, result, options.dryRun, status), error)) {
        PrintError(error);
        return batch_exit::kUsage;
    }
    return status;
}

int ResumeRun(const BatchOptions& options) {
    const std::optional<QJsonObject> record = Load(options.resume);
    if (!record) {
        return batch_exit::kUsage;
    }
    const QString connection = RecordDatabase(*record, options.database);
    if (connection.isEmpty()) {
        return batch_exit::kUsage;
    }
    BatchOptions run = options;
    run.resume.clear();
    run.force = false;
    run.database = options.database.isEmpty() ? (*record)["database"].toString() : options.database;
    const QJsonObject recorded = (*record)["options"].toObject();
    run.unattended = recorded["unattended"].toBool();
    run.mappings.clear();
    for (const QJsonValue& map : recorded["map"].toArray()) {
        const QString text = map.toString();
        const qsizetype eq = text.indexOf('=');
        run.mappings << ManufacturerMapping{text.left(eq), text.mid(eq + 1)};
    }
    bool left = false;
    run.files = FilesToResume(*record, options.force, left);
    if (run.files.isEmpty()) {
        Print(stderr, QStringLiteral("%1: nothing to resume").arg(kProgram));
        return left ? batch_exit::kFailed : batch_exit::kOk;
    }
    const int status = RunBatch(run);
    return status == batch_exit::kOk && left ? batch_exit::kFailed : status;
}
