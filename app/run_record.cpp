#include "app/run_record.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QStandardPaths>

#include "records/target.h"

namespace {

const QString kLogSuffix = QStringLiteral(".log");

QJsonObject ParseObject(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}

// Applies the journal `lines` of a run that did not end to its `record`.
void ApplyJournal(QJsonObject& record, const QList<QByteArray>& lines) {
    QJsonArray files = record["files"].toArray();
    QSet<int> ended;
    for (const QByteArray& text : lines) {
        const QJsonObject line = ParseObject(text);
        const int index = line["file"].toInt(-1);
        if (index < 0 || index >= files.size()) {
            continue;  // a line torn by the kill, or none at all
        }
        QJsonObject file = files[index].toObject();
        if (line.contains("entry")) {
            // The file's end: its outcome, with the rows of its devices from their own lines.
            const QJsonArray devices = file["equipment"].toArray();
            QJsonObject entry = line["entry"].toObject();
            QJsonArray equipment = entry["equipment"].toArray();
            for (qsizetype d = 0; d < equipment.size() && d < devices.size(); ++d) {
                QJsonObject device = equipment[d].toObject();
                device["rows"] = devices[d]["rows"];
                equipment[d] = device;
            }
            entry["equipment"] = equipment;
            file = entry;
            ended.insert(index);
        } else if (!ended.contains(index)) {
            QJsonArray equipment = file["equipment"].toArray();
            equipment.append(line["device"]);
            file["equipment"] = equipment;
        }
        files[index] = file;
        record["manufacturersAdded"] = line["manufacturersAdded"];
    }
    record["files"] = files;
}

}  // namespace

QString RunsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/runs");
}

QStringList RecordPaths() {
    const QDir folder(RunsFolder());
    QStringList paths;
    for (const QString& name :
         folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name | QDir::Reversed)) {
        paths << folder.filePath(name);
    }
    return paths;
}

QString FindRecord(const QString& name, QString& error) {
    if (name != QLatin1String("last")) {
        if (!QFileInfo(name).isFile()) {
            error = QStringLiteral("no run record %1").arg(name);
            return {};
        }
        return name;
    }
    const QStringList paths = RecordPaths();
    if (paths.isEmpty()) {
        error = QStringLiteral("no run recorded in %1").arg(RunsFolder());
        return {};
    }
    return paths.front();
}

QJsonObject FileFacts(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        return {{"size", -1}, {"sha256", QJsonValue::Null}};
    }
    return {{"size", qint64(file.size())}, {"sha256", QString::fromLatin1(hash.result().toHex())}};
}

std::optional<QJsonObject> LoadRecord(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("run record %1 cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QJsonObject record = ParseObject(file.readAll());
    if (record["record"].toInt() != 1) {
        error = QStringLiteral("%1 is no run record").arg(path);
        return std::nullopt;
    }
    QFile journal(path + kLogSuffix);
    if (!record["complete"].toBool() && journal.open(QIODevice::ReadOnly)) {
        ApplyJournal(record, journal.readAll().split('\n'));
    }
    return record;
}

std::vector<db::DeviceRows> RecordedDevices(const QJsonObject& record) {
    std::vector<db::DeviceRows> devices;
    for (const QJsonValue& file : record["files"].toArray()) {
        for (const QJsonValue& entry : file["equipment"].toArray()) {
            const QJsonObject rows = entry["rows"].toObject();
            db::DeviceRows device{entry["equipmentId"], rows["equipment"].toObject(), {}, {}};
            for (const QJsonValue& row : rows["inputs"].toArray()) {
                device.inputs.push_back(row.toObject());
            }
            for (const QJsonValue& row : rows["outputs"].toArray()) {
                device.outputs.push_back(row.toObject());
            }
            devices.push_back(device);
        }
    }
    return devices;
}

QString SameDatabaseKey(const QString& connectionString) {
    if (db::KindOfTarget(connectionString) != db::TargetKind::kFile) {
        return db::RedactedTarget(connectionString);
    }
    const QFileInfo file(db::DataSourceOf(connectionString));
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical;
}

RecordTotals TotalsOf(const QJsonObject& record) {
    RecordTotals totals;
    for (const QJsonValue& file : record["files"].toArray()) {
        const QJsonArray equipment = file["equipment"].toArray();
        totals.files += equipment.isEmpty() ? 0 : 1;
        for (const QJsonValue& entry : equipment) {
            ++totals.equipment;
            totals.connectors += entry["inputs"].toInteger() + entry["outputs"].toInteger();
        }
    }
    totals.manufacturers = record["manufacturersAdded"].toArray().size();
    return totals;
}
