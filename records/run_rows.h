#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <vector>

// The rows an import stored, as the database holds them, and their removal again: what a run's
// record (app/run_record.h) keeps of each device and what undoing the run checks against it.
namespace db {

class Connection;
class Database;

// One equipment row and its connector rows, every column of each as the database gives it back
// (column name to value; a null is JSON null). Two reads of unchanged rows through the same
// store give equal objects.
struct DeviceRows {
    QJsonValue equipmentId;
    QJsonObject equipment;
    std::vector<QJsonObject> inputs;
    std::vector<QJsonObject> outputs;
};

// The device of `equipmentId` as stored now; nothing when its equipment row is gone. Raises
// AppError when the database cannot be read.
std::optional<DeviceRows> ReadDevice(Database& database, const QJsonValue& equipmentId);

// The same rows as compact JSON text, {"equipment": {...}, "inputs": [...], "outputs": [...]},
// written straight from the values (a record takes thousands of them): parsed, it gives exactly
// what ReadDevice gives. Empty when the equipment row is gone; raises as ReadDevice does.
QByteArray ReadDeviceJson(Database& database, const QVariant& equipmentId);
// The same on `connection`, inside a unit of work as well.
QByteArray ReadDeviceJson(Connection& connection, const QVariant& equipmentId);

// `text` as a JSON string, escaped as QJsonDocument escapes it, appended to `out`.
void AppendJsonString(QByteArray& out, const QString& text);
// The same for text already in UTF-8.
void AppendJsonUtf8(QByteArray& out, QByteArrayView utf8);
// `value` as JSON, as QJsonValue::fromVariant would write it (a null: null), appended to `out`.
void AppendJsonValue(QByteArray& out, const QVariant& value);

// What removing a run's rows did, or would do in a dry run.
struct UndoResult {
    struct Kept {
        QString what;    // "equipment 12 DA-100_v1 (ACME)", "manufacturer TARNWICK"
        QString reason;  // why it stays
    };
    std::int64_t equipmentRemoved = 0;
    std::int64_t connectorsRemoved = 0;
    QStringList manufacturersRemoved;
    std::int64_t equipmentGone = 0;      // removed before (by an earlier undo or by hand)
    std::int64_t manufacturersGone = 0;  // likewise
    std::vector<Kept> kept;
};

// Removes, in one unit of work (the lock and transaction of an import, records/database.h),
// each device of `devices` that is still exactly as recorded: its equipment row equal in every
// column and the same set of input and output rows. Then each manufacturer of `manufacturers`
// that no equipment row refers to any more. Devices changed or added to since, and manufacturers
// in use, are kept and listed. `dryRun` gives every removal back at the end. Raises AppError when
// the database fails; then nothing is removed.
UndoResult RemoveRunRows(Database& database, const std::vector<DeviceRows>& devices,
                         const QStringList& manufacturers, bool dryRun);

}  // namespace db
