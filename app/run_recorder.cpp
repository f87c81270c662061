#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include "app/command_line.h"
#include "app/run_record.h"
#include "core/session.h"
#include "records/database.h"

namespace {

const QString kLogSuffix = QStringLiteral(".log");

// The --json form of one file's outcome, or of one device of it.
QJsonObject FileEntry(const QString& path, const std::optional<FileOutcome>& outcome,
                      const QStringList& messages = {}) {
    std::int64_t equipmentRows = 0;
    return ::FileJson(path, BatchFileResult{outcome, messages}, equipmentRows);
}

// Removes the oldest records, with their journals, so that `room` more leave kKeptRecords.
void Prune(int room) {
    const QStringList paths = RecordPaths();
    for (qsizetype i = kKeptRecords - room; i < paths.size(); ++i) {
        if (i >= 0) {
            QFile::remove(paths.at(i));
            QFile::remove(paths.at(i) + kLogSuffix);
        }
    }
}

// The device's rows as stored, as JSON text: given back with it where the store does that
// without another round trip, else read back now. "null" when they cannot be read: undoing the
// run then keeps the device.
QByteArray RowsOf(ImportContext& ctx, const StoredEquipment& equipment) {
    if (!equipment.rows.isEmpty()) {
        return equipment.rows;
    }
    try {
        const QByteArray read = db::ReadDeviceJson(ctx.database, equipment.equipmentId);
        return read.isEmpty() ? QByteArrayLiteral("null") : read;
    } catch (const AppError&) {
        return QByteArrayLiteral("null");
    }
}

// The rows of the devices are not turned into JSON values and back: each device's "rows" holds
// a marker while the document is made, replaced by the rows' own text in one pass after.
const QByteArray kRowsMarker = QByteArrayLiteral("\"rows\":\"\\u0001");

QString Marker(std::size_t index) {
    return QChar(1) + QString::number(index);
}

QByteArray Spliced(const QByteArray& json, const std::vector<const QByteArray*>& rows) {
    QByteArray out;
    out.reserve(json.size() + 64 * qsizetype(rows.size()));
    qsizetype from = 0;
    for (qsizetype at = json.indexOf(kRowsMarker); at >= 0; at = json.indexOf(kRowsMarker, from)) {
        const qsizetype digits = at + kRowsMarker.size();
        const qsizetype close = json.indexOf('"', digits);
        const std::size_t index = json.mid(digits, close - digits).toULongLong();
        out.append(json.constData() + from, at - from);
        out += "\"rows\":";
        out += index < rows.size() ? *rows[index] : QByteArrayLiteral("null");
        from = close + 1;
    }
    out.append(json.constData() + from, json.size() - from);
    return out;
}

}  // namespace

RunRecorder::RunRecorder(Settings settings) : settings_(std::move(settings)) {}

void RunRecorder::RunStarting(ImportContext& ctx, const QStringList& paths) {
    active_ = !ctx.database.dryRun();
    if (!active_) {
        return;
    }
    database_ = SameDatabaseKey(ctx.database.connectionString());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    time_ = now.toString(Qt::ISODateWithMs);
    for (const QString& path : paths) {
        paths_ << QFileInfo(path).absoluteFilePath();
        fileFacts_.append(FileFacts(path));
    }
    path_.clear();
    name_ = QStringLiteral("%1-%2.json")
                .arg(now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
                .arg(QCoreApplication::applicationPid());
}

void RunRecorder::DeviceStored(ImportContext& ctx, const StoredEquipment& equipment) {
    if (!active_) {
        return;
    }
    currentRows_.push_back(RowsOf(ctx, equipment));
    QJsonObject device = EquipmentJson(equipment);
    device["rows"] = Marker(0);
    NoteManufacturers(ctx);
    Start();
    Append({{"file", qint64(files_.size())}, {"device", device}}, {&currentRows_.back()});
}

void RunRecorder::FileDone(ImportContext& ctx, const FileOutcome& outcome) {
    if (!active_) {
        return;
    }
    files_.push_back(BatchFileResult{outcome, {}});
    rows_.push_back(std::move(currentRows_));
    currentRows_.clear();
    NoteManufacturers(ctx);
    if (!Stored()) {
        if (!manufacturers_.isEmpty()) {
            Start();
        }
        return;
    }
    // The devices' rows are in the journal already, each in its own line.
    const qsizetype index = qsizetype(files_.size()) - 1;
    Append({{"file", qint64(index)}, {"entry", FileJson(index, true, nullptr)}});
}

QString RunRecorder::Finish(const RunOutcome& run, std::optional<int> exitStatus, bool interrupted,
                            const std::vector<BatchFileResult>& messages) {
    if (!active_) {
        return {};
    }
    active_ = false;
    run_ = run;
    exitStatus_ = exitStatus;
    interrupted_ = interrupted;
    for (std::size_t i = 0; i < files_.size() && i < messages.size(); ++i) {
        files_[i].messages = messages[i].messages;
    }
    if (!Stored() && manufacturers_.isEmpty()) {
        return {};
    }
    Start();
    Save(Document(true));
    journal_.reset();
    QFile::remove(path_ + kLogSuffix);
    return path_;
}

void RunRecorder::NoteManufacturers(ImportContext& ctx) {
    if (qsizetype(ctx.session.manufacturersAdded.size()) == manufacturers_.size()) {
        return;  // only ever added to during a run
    }
    QJsonArray added;
    for (const SessionState::FoundManufacturer& m : ctx.session.manufacturersAdded) {
        added.append(QJsonObject{{"id", m.id}, {"name", m.name}});
    }
    manufacturers_ = added;
}

void RunRecorder::Start() {
    if (Stored()) {
        return;
    }
    if (!QDir().mkpath(RunsFolder())) {
        Warn(QStringLiteral("the folder %1 cannot be made").arg(RunsFolder()));
    }
    Prune(1);
    path_ = QDir(RunsFolder()).filePath(name_);
    Save(Document(false));
}

QJsonObject RunRecorder::FileJson(qsizetype index, bool done,
                                  std::vector<const QByteArray*>* rows) const {
    const auto i = static_cast<std::size_t>(index);
    QJsonObject file = FileEntry(paths_.value(index), done ? files_[i].outcome : std::nullopt,
                                 done ? files_[i].messages : QStringList());
    file["fullPath"] = paths_.value(index);
    file["size"] = fileFacts_.at(index)["size"];
    file["sha256"] = fileFacts_.at(index)["sha256"];
    if (done && rows != nullptr) {
        QJsonArray equipment = file["equipment"].toArray();
        for (qsizetype d = 0; d < equipment.size() && std::size_t(d) < rows_[i].size(); ++d) {
            QJsonObject device = equipment[d].toObject();
            device["rows"] = Marker(rows->size());
            rows->push_back(&rows_[i][std::size_t(d)]);
            equipment[d] = device;
        }
        file["equipment"] = equipment;
    }
    return file;
}

QByteArray RunRecorder::Document(bool complete) const {
    QJsonArray files;
    std::vector<const QByteArray*> rows;
    std::int64_t equipmentRows = 0;
    for (qsizetype i = 0; i < paths_.size(); ++i) {
        const QJsonObject file = FileJson(i, std::size_t(i) < files_.size(), &rows);
        equipmentRows += file["equipment"].toArray().size();
        files.append(file);
    }
    BatchRunRecord record;
    record.run = run_;
    QJsonObject document =
        RunJson(files, equipmentRows, record, interrupted_, exitStatus_.value_or(0));
    if (!exitStatus_) {
        document["exitStatus"] = QJsonValue::Null;
    }
    document["record"] = 1;
    document["complete"] = complete;
    document["database"] = database_;
    document["time"] = time_;
    document["program"] = settings_.program;
    document["version"] = cli::VersionText({}).section(' ', -1).trimmed();
    document["options"] = settings_.options;
    document["manufacturersAdded"] = manufacturers_;
    // Compact: a large run's record is a third of the size, and 200 of them are kept.
    return Spliced(QJsonDocument(document).toJson(QJsonDocument::Compact), rows);
}

void RunRecorder::Save(const QByteArray& bytes) {
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        Warn(QStringLiteral("%1: %2").arg(path_, file.errorString()));
    }
}

void RunRecorder::Append(QJsonObject line, const std::vector<const QByteArray*>& rows) {
    line["manufacturersAdded"] = manufacturers_;
    if (!journal_) {
        journal_ = std::make_unique<QFile>(path_ + kLogSuffix);
        if (!journal_->open(QIODevice::WriteOnly | QIODevice::Append)) {
            Warn(QStringLiteral("%1: %2").arg(journal_->fileName(), journal_->errorString()));
        }
    }
    const QByteArray bytes =
        Spliced(QJsonDocument(line).toJson(QJsonDocument::Compact), rows) + '\n';
    // Flushed at once: a run killed after this line keeps it.
    if (journal_->isOpen() && (journal_->write(bytes) != bytes.size() || !journal_->flush())) {
        Warn(QStringLiteral("%1: %2").arg(journal_->fileName(), journal_->errorString()));
    }
}

void RunRecorder::Warn(const QString& text) {
    if (!warned_ && settings_.warn) {
        settings_.warn(QStringLiteral("the record of this run is not kept: ") + text);
    }
    warned_ = true;
}
