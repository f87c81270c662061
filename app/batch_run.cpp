#include "app/batch_run.h"

#include <optional>

#include <QJsonArray>

#include "app/batch_host.h"
#include "app/batch_runs.h"
#include "app/database_choice.h"
#include "app/database_tables.h"
#include "app/import_commands.h"
#include "app/run_record.h"
#include "core/error.h"
#include "core/platform.h"
#include "records/database.h"
#include "records/manufacturers.h"
#include "report/rtf_writer.h"

namespace {

const QString kProgram = QStringLiteral("importflx-batch");

void PrintLine(const QString& line) {
    std::fputs(Encode(line + '\n', platform::IsTerminal(stderr)).constData(), stderr);
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

// Everything between an opened database and the exit status. What the run did goes into
// `record`.
// The record of the run (app/run_record.h), with the options that a resume takes over.
RunRecorder::Settings RecorderSettings(const BatchOptions& options) {
    QJsonArray map;
    for (const ManufacturerMapping& mapping : options.mappings) {
        map.append(mapping.fileId + '=' + mapping.databaseId);
    }
    return {kProgram, QJsonObject{{"unattended", options.unattended}, {"map", map}},
            [](const QString& text) { PrintError(text); }};
}

int ImportInto(db::Database& database, const BatchOptions& options, BatchRunRecord& record) {
    SessionState session;
    session.sEquipConnection = database.connectionString();
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
    platform::RecordInterrupts();
    // A dry run holds the database for the whole run and gives back every row at its end.
    if (options.dryRun) {
        database.BeginDryRun();
    }
    RunRecorder recorder(RecorderSettings(options));
    record.run = cmdAll_Click(ctx, &recorder);
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
    status = platform::InterruptArrived() ? batch_exit::kInterrupted : status;
    recorder.Finish(record.run, status, platform::InterruptArrived(), record.files);
    return status;
}

// ImportInto on the database of `connection`, closed before it returns: an SQLite file that
// cannot be put back in its own journal mode is told, however the run ended.
int ImportAll(const BatchOptions& options, const QString& connection, BatchRunRecord& record) {
    db::Database database(connection);
    int status = ImportInto(database, options, record);
    if (const std::optional<AppError> left = database.Close()) {
        PrintLine(ErrorForTerminal(kProgram, *left));
        status = status == batch_exit::kOk ? batch_exit::kFailed : status;
    }
    return status;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    if (options.listRuns) {
        return ListRuns();
    }
    if (!options.undo.isEmpty()) {
        return UndoRun(options);
    }
    if (!options.resume.isEmpty()) {
        return ResumeRun(options);
    }
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
        !json.Write(BatchJson(options.files, record, platform::InterruptArrived(), status),
                    error)) {
        PrintError(error);
        status = status == batch_exit::kOk ? batch_exit::kFailed : status;
    }
    return status;
}
