#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/batch_json.h"
#include "app/import_commands.h"
#include "records/run_rows.h"

// The record of a run that stored something: the --json document (app/batch_json.h) with, in
// addition, "record": 1, "database" (the target without its password), "time" (UTC, ISO 8601),
// "program", "version", "options" ({"unattended", "map": ["FILEID=DBID", ...]}),
// "manufacturersAdded" ([{"id", "name"}]), per file "fullPath", "size" and "sha256" (of the
// file when the run began; -1 and null for a file that could not be read) and per equipment
// row "rows" ({"equipment", "inputs", "outputs"}: every column of each row as the device's own
// transaction wrote it, db::DeviceRows; null when they could not be read), and
// "complete": true once the run has ended.
//
// Records lie in RunsFolder(), one file a run, named by the time the run began so that names
// sort as times; the newest kKeptRecords are kept. The document is written whole (QSaveFile)
// when the run stores its first row and when it ends; in between every device committed and
// every file ended is appended to a journal beside it (NAME.log, one JSON line each, flushed
// at once), so that a run that is killed leaves a true record at the cost of one line per
// device instead of rewriting a document that grows with the run. LoadRecord joins the two.
inline constexpr int kKeptRecords = 200;

// The folder of the records: QStandardPaths::AppDataLocation + "/runs".
QString RunsFolder();
// The records in RunsFolder(), newest first (full paths).
QStringList RecordPaths();
// "last": the newest record; anything else: a record's path as given. Empty, with `error`
// set, when there is none.
QString FindRecord(const QString& name, QString& error);
// The record at `path`, its journal applied when the run did not end. Nothing, with `error`
// set, when it cannot be read.
std::optional<QJsonObject> LoadRecord(const QString& path, QString& error);

// The "size" and "sha256" of the file at `path` now: -1 and null when it cannot be read.
QJsonObject FileFacts(const QString& path);

// Every device a record lists, with its rows as recorded; a device whose rows were not read
// back has an empty `equipment` object.
std::vector<db::DeviceRows> RecordedDevices(const QJsonObject& record);
// How a record's database is compared with another: a file's absolute, clean path, a server's
// target without its password.
QString SameDatabaseKey(const QString& connectionString);

// Counts of what a record says the run stored.
struct RecordTotals {
    std::int64_t files = 0;  // files that stored at least one row
    std::int64_t equipment = 0;
    std::int64_t connectors = 0;
    std::int64_t manufacturers = 0;
};
RecordTotals TotalsOf(const QJsonObject& record);

// Keeps the record of one run as it goes (see above). Does nothing in a dry run, and writes
// nothing until the run stores a row. A record that cannot be written is told once through
// `warn`; the run goes on.
class RunRecorder : public RunObserver {
  public:
    struct Settings {
        QString program;  // "importflx" or "importflx-batch"
        QJsonObject options;
        std::function<void(const QString&)> warn;
    };
    explicit RunRecorder(Settings settings);

    void RunStarting(ImportContext& ctx, const QStringList& paths) override;
    void DeviceStored(ImportContext& ctx, const StoredEquipment& equipment) override;
    void FileDone(ImportContext& ctx, const FileOutcome& outcome) override;
    // The run has ended: writes the whole document, unless nothing was stored. `messages` are
    // those of each file, by run order, when the host keeps them. Returns the record's path,
    // empty when there is none.
    QString Finish(const RunOutcome& run, std::optional<int> exitStatus, bool interrupted,
                   const std::vector<BatchFileResult>& messages = {});

    const QString& path() const { return path_; }
    // Replaces the options recorded, for choices made during the run (the window's selection
    // dialog); the next write takes them.
    void SetOptions(const QJsonObject& options) { settings_.options = options; }

  private:
    void NoteManufacturers(ImportContext& ctx);
    // Writes the document the first time something is stored.
    void Start();
    // A file's entry; with `rows`, each device's "rows" a marker for the text that `rows` gets.
    QJsonObject FileJson(qsizetype index, bool done, std::vector<const QByteArray*>* rows) const;
    QByteArray Document(bool complete) const;
    void Save(const QByteArray& document);
    void Append(QJsonObject line, const std::vector<const QByteArray*>& rows = {});
    void Warn(const QString& text);
    bool Stored() const { return !path_.isEmpty(); }

    Settings settings_;
    bool active_ = false;
    QString database_;
    QString time_;
    QString name_;
    QStringList paths_;
    QJsonArray fileFacts_;  // size and hash per file
    std::vector<BatchFileResult> files_;
    std::vector<std::vector<QByteArray>> rows_;  // per file, per device: the rows as JSON text
    std::vector<QByteArray> currentRows_;        // of the file in progress
    QJsonArray manufacturers_;
    RunOutcome run_;
    std::optional<int> exitStatus_;
    bool interrupted_ = false;
    QString path_;
    std::unique_ptr<QFile> journal_;
    bool warned_ = false;
};
