#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "core/outcome.h"

// How one file of a batch run ended.
struct BatchFileResult {
    std::optional<FileOutcome> outcome;  // empty: the run did not reach the file
    QStringList messages;                // the messages shown while it was imported
};

// What a batch run did, for the --json document.
struct BatchRunRecord {
    std::vector<BatchFileResult> files;  // one per file of the command line, in run order
    RunOutcome run;
    QString error;  // why no file was imported (no usable database), or empty
};

// The --json document. For every file: "path" as given, "outcome" ("added", "failed" with a
// "reason", "cancelled", "error" with its "error" number, description and source, or "not
// imported" when the run did not reach it), "equipment" (per stored equipment row: the
// manufacturer ID in the file and the one it resolved to with its name, the model as stored,
// the new EquipmentID, the inputs and outputs added, and "foundAfterLoss": true for a row
// found stored after the server went away with its commit unanswered) and any "messages". Then
// "totals", "interrupted", "stoppedBy" (null, or "server lost" when the run stopped because
// the database server went away and did not come back), "exitStatus" and, when the run could
// not start, "error".
QJsonDocument BatchJson(const QStringList& paths, const BatchRunRecord& record, bool interrupted,
                        int exitStatus);

// The document around `files` (their entries, which list `equipmentRows` equipment rows).
QJsonObject RunJson(QJsonArray files, std::int64_t equipmentRows, const BatchRunRecord& record,
                    bool interrupted, int exitStatus);
// One stored equipment row of a file, as the document lists it.
QJsonObject EquipmentJson(const StoredEquipment& row);
// One file of the document; `equipmentRows` grows by the equipment rows it lists.
QJsonObject FileJson(const QString& path, const BatchFileResult& result,
                     std::int64_t& equipmentRows);

// Where the document goes: standard output for "-", otherwise a file that is replaced only once
// the whole document is written, so that a failed or interrupted run never leaves half of one.
class JsonOutput {
  public:
    // An empty path writes nothing.
    explicit JsonOutput(const QString& path) : path_(path) {}

    bool enabled() const { return !path_.isEmpty(); }
    bool toStandardOutput() const { return path_ == QLatin1String("-"); }

    // Prepares the file in its folder; false with `error` set when it cannot be written there.
    bool Open(QString& error);
    // Writes `document`; false with `error` set when it could not be written whole.
    bool Write(const QJsonDocument& document, QString& error);

  private:
    QString path_;
    std::unique_ptr<QSaveFile> file_;
};
