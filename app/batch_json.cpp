#include "app/batch_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>

namespace {

QString OutcomeName(FileStatus status) {
    switch (status) {
        case FileStatus::kAdded:
            return QStringLiteral("added");
        case FileStatus::kRefused:
            return QStringLiteral("failed");
        case FileStatus::kCancelled:
            return QStringLiteral("cancelled");
        case FileStatus::kError:
            return QStringLiteral("error");
    }
    return {};
}

QString ReasonName(RefusalReason reason) {
    switch (reason) {
        case RefusalReason::kUnknownManufacturer:
            return QStringLiteral("unknown manufacturer");
        case RefusalReason::kUserCancelled:
            return QStringLiteral("user cancelled");
        case RefusalReason::kEquipmentNotStored:
            return QStringLiteral("equipment not stored");
        case RefusalReason::kNone:
            break;
    }
    return {};
}

QJsonValue StopName(RunStop stop) {
    switch (stop) {
        case RunStop::kServerLost:
            return QStringLiteral("server lost");
        case RunStop::kNone:
            break;
    }
    return QJsonValue::Null;
}

}  // namespace

QJsonObject EquipmentJson(const StoredEquipment& row) {
    QJsonObject stored{{"fileManufacturerId", row.fileManufacturerId},
                       {"manufacturerId", row.manufacturerId},
                       {"manufacturerName", row.manufacturerName},
                       {"model", row.model},
                       {"equipmentId", QJsonValue::fromVariant(row.equipmentId)},
                       {"inputs", qint64(row.inputs)},
                       {"outputs", qint64(row.outputs)}};
    if (row.foundAfterLoss) {
        stored["foundAfterLoss"] = true;
    }
    return stored;
}

QJsonObject FileJson(const QString& path, const BatchFileResult& result,
                     std::int64_t& equipmentRows) {
    QJsonObject file{{"path", path}};
    if (!result.outcome) {
        file["outcome"] = QStringLiteral("not imported");
        return file;
    }
    const FileOutcome& outcome = *result.outcome;
    file["outcome"] = OutcomeName(outcome.status);
    if (outcome.status == FileStatus::kRefused) {
        file["reason"] = ReasonName(outcome.reason);
    }
    if (outcome.status == FileStatus::kError) {
        file["error"] = QJsonObject{{"number", qint64(outcome.errorNumber)},
                                    {"description", outcome.errorDescription},
                                    {"source", outcome.errorSource}};
    }
    QJsonArray equipment;
    for (const StoredEquipment& row : outcome.equipment) {
        equipment.append(EquipmentJson(row));
    }
    equipmentRows += equipment.size();
    file["equipment"] = equipment;
    if (!result.messages.isEmpty()) {
        file["messages"] = QJsonArray::fromStringList(result.messages);
    }
    return file;
}

QJsonObject RunJson(QJsonArray files, std::int64_t equipmentRows, const BatchRunRecord& record,
                    bool interrupted, int exitStatus) {
    const qsizetype fileCount = files.size();
    QJsonObject document{
        {"files", std::move(files)},
        {"totals", QJsonObject{{"files", fileCount},
                               {"added", qint64(record.run.filesAdded)},
                               {"parts", qint64(record.run.parts)},
                               {"equipment", qint64(equipmentRows)},
                               {"inputs", qint64(record.run.inputs)},
                               {"outputs", qint64(record.run.outputs)}}},
        {"interrupted", interrupted},
        {"stoppedBy", StopName(record.run.stoppedBy)},
        {"exitStatus", exitStatus},
    };
    if (!record.error.isEmpty()) {
        document["error"] = record.error;
    }
    return document;
}

QJsonDocument BatchJson(const QStringList& paths, const BatchRunRecord& record, bool interrupted,
                        int exitStatus) {
    QJsonArray files;
    std::int64_t equipmentRows = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const auto index = static_cast<std::size_t>(i);
        files.append(FileJson(paths.at(i),
                              index < record.files.size() ? record.files[index] : BatchFileResult{},
                              equipmentRows));
    }
    return QJsonDocument(RunJson(files, equipmentRows, record, interrupted, exitStatus));
}

bool JsonOutput::Open(QString& error) {
    if (!enabled() || toStandardOutput()) {
        return true;
    }
    file_ = std::make_unique<QSaveFile>(path_);
    if (!file_->open(QIODevice::WriteOnly)) {
        error = QStringLiteral("JSON report cannot be written: %1: %2")
                    .arg(path_, file_->errorString());
        file_.reset();
        return false;
    }
    return true;
}

bool JsonOutput::Write(const QJsonDocument& document, QString& error) {
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    if (toStandardOutput()) {
        if (std::fwrite(bytes.constData(), 1, bytes.size(), stdout) !=
                static_cast<std::size_t>(bytes.size()) ||
            std::fflush(stdout) != 0) {
            error = QStringLiteral("JSON report not written to standard output");
            return false;
        }
        return true;
    }
    if (!file_) {
        return true;
    }
    if (file_->write(bytes) != bytes.size() || !file_->commit()) {
        error = QStringLiteral("JSON report not saved: %1: %2").arg(path_, file_->errorString());
        return false;
    }
    return true;
}
