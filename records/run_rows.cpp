#include "records/run_rows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>

#include "records/connection.h"
#include "records/database.h"
#include "records/statements.h"

namespace db {
namespace {

// A key as the database took it: JSON keeps every number as a double.
QVariant KeyValue(const QJsonValue& key) {
    if (key.isDouble() && std::floor(key.toDouble()) == key.toDouble()) {
        return QVariant(qint64(key.toDouble()));
    }
    return key.toVariant();
}

// Runs `statement` with `values` bound; inside a unit a refusal goes to the unit.
QSqlQuery& Exec(Connection& connection, const sql::Statement& statement, const QVariantList& values,
                Step step) {
    CachedStatement& cached = connection.Statement(statement);
    QSqlQuery& query = connection.Prepared(cached);
    for (qsizetype i = 0; i < values.size(); ++i) {
        query.bindValue(int(i), values[i]);
    }
    connection.Run(query, step, cached.names);
    return query;
}

std::vector<QJsonObject> Rows(Connection& connection, const sql::Statement& statement,
                              const QVariant& key) {
    QSqlQuery& query = Exec(connection, statement, {key}, Step::kRead);
    std::vector<QJsonObject> rows;
    while (query.next()) {
        const QSqlRecord record = query.record();
        QJsonObject row;
        for (int i = 0; i < record.count(); ++i) {
            const QVariant value = query.value(i);
            row.insert(record.fieldName(i), value.isNull() ? QJsonValue(QJsonValue::Null)
                                                           : QJsonValue::fromVariant(value));
        }
        rows.push_back(row);
    }
    query.finish();
    return rows;
}

}  // namespace

void AppendJsonString(QByteArray& out, const QString& text) {
    AppendJsonUtf8(out, text.toUtf8());
}

void AppendJsonUtf8(QByteArray& out, QByteArrayView utf8) {
    // No byte of a multi-byte sequence is below 0x80, so every byte that needs an escape is a
    // character of its own.
    out += '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c != '"' && c != '\\' && c >= 0x20) {
            continue;
        }
        out.append(utf8.data() + from, i - from);
        if (c < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[c >> 4];
            out += "0123456789abcdef"[c & 0xF];
        } else {
            out += '\\';
            out += char(c);
        }
        from = i + 1;
    }
    out.append(utf8.data() + from, utf8.size() - from);
    out += '"';
}

void AppendJsonValue(QByteArray& out, const QVariant& value) {
    if (value.isNull()) {
        out += "null";
        return;
    }
    switch (value.typeId()) {
        case QMetaType::Bool:
            out += value.toBool() ? "true" : "false";
            return;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            out += QByteArray::number(value.toLongLong());
            return;
        case QMetaType::QString:
            AppendJsonString(out, value.toString());
            return;
        default:
            break;
    }
    const QByteArray array =
        QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    out += array.mid(1, array.size() - 2);
}

namespace {

// The rows of `statement` for `key`, as a JSON array, or the first row alone as an object
// (`single`: empty text when there is none).
QByteArray RowsJson(Connection& connection, const sql::Statement& statement, const QVariant& key,
                    bool single) {
    QSqlQuery& query = Exec(connection, statement, {key}, Step::kRead);
    QList<QByteArray> names;
    QByteArray out = single ? QByteArray() : QByteArrayLiteral("[");
    while (query.next()) {
        if (names.isEmpty()) {
            const QSqlRecord record = query.record();
            for (int i = 0; i < record.count(); ++i) {
                QByteArray name;
                AppendJsonString(name, record.fieldName(i));
                names << name + ':';
            }
        }
        if (out.size() > 1) {
            out += ',';
        }
        out += '{';
        for (int i = 0; i < names.size(); ++i) {
            out += (i > 0 ? "," : "") + names[i];
            AppendJsonValue(out, query.value(i));
        }
        out += '}';
        if (single) {
            break;
        }
    }
    query.finish();
    return single ? out : out + ']';
}

std::optional<DeviceRows> Read(Connection& connection, const QJsonValue& equipmentId) {
    const QVariant key = KeyValue(equipmentId);
    std::vector<QJsonObject> equipment = Rows(connection, sql::kEquipmentRowById, key);
    if (equipment.empty()) {
        return std::nullopt;
    }
    return DeviceRows{equipmentId, equipment.front(),
                      Rows(connection, sql::kInputsOfEquipment, key),
                      Rows(connection, sql::kOutputsOfEquipment, key)};
}

// The rows in an order of their own, so that two sets compare equal whatever order the
// database returned them in.
QList<QByteArray> Sorted(const std::vector<QJsonObject>& rows) {
    QList<QByteArray> texts;
    for (const QJsonObject& row : rows) {
        texts << QJsonDocument(row).toJson(QJsonDocument::Compact);
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

QString Describe(const DeviceRows& device) {
    const auto field = [&](const char* column) {
        for (auto it = device.equipment.begin(); it != device.equipment.end(); ++it) {
            if (it.key().compare(QLatin1String(column), Qt::CaseInsensitive) == 0) {
                return it.value().toVariant().toString();
            }
        }
        return QString();
    };
    return QStringLiteral("equipment %1 %2 (%3)")
        .arg(KeyValue(device.equipmentId).toString(), field(schema::kEquipmentName),
             field(schema::kManufacturerID));
}

// Why `now` is not the device as recorded, or empty when it is.
QString Difference(const DeviceRows& recorded, const DeviceRows& now) {
    if (recorded.equipment.isEmpty()) {
        return QStringLiteral("its rows as the import left them were not recorded");
    }
    if (now.equipment != recorded.equipment) {
        return QStringLiteral("its equipment row was changed since the import");
    }
    if (Sorted(now.inputs) != Sorted(recorded.inputs) ||
        Sorted(now.outputs) != Sorted(recorded.outputs)) {
        return QStringLiteral("its input or output rows were changed since the import");
    }
    return {};
}

void RemoveDevices(Connection& connection, const std::vector<DeviceRows>& devices,
                   UndoResult& result) {
    for (const DeviceRows& device : devices) {
        const std::optional<DeviceRows> now = Read(connection, device.equipmentId);
        if (!now) {
            ++result.equipmentGone;
            continue;
        }
        const QString difference = Difference(device, *now);
        if (!difference.isEmpty()) {
            result.kept.push_back({Describe(device), difference});
            continue;
        }
        const QVariant key = KeyValue(device.equipmentId);
        Exec(connection, sql::kDeleteInputsOfEquipment, {key}, Step::kWrite).finish();
        Exec(connection, sql::kDeleteOutputsOfEquipment, {key}, Step::kWrite).finish();
        Exec(connection, sql::kDeleteEquipment, {key}, Step::kWrite).finish();
        ++result.equipmentRemoved;
        result.connectorsRemoved += qint64(now->inputs.size() + now->outputs.size());
    }
}

void RemoveManufacturers(Connection& connection, const QStringList& manufacturers,
                         UndoResult& result) {
    for (const QString& id : manufacturers) {
        QSqlQuery& query = Exec(connection, sql::kManufacturerUse, {id, id}, Step::kRead);
        const bool there = query.next() && query.value(0).toLongLong() > 0;
        const qint64 users = there ? query.value(1).toLongLong() : 0;
        query.finish();
        if (!there) {
            ++result.manufacturersGone;
        } else if (users > 0) {
            result.kept.push_back({QStringLiteral("manufacturer %1").arg(id),
                                   QStringLiteral("%1 equipment row(s) refer to it").arg(users)});
        } else {
            Exec(connection, sql::kDeleteManufacturer, {id}, Step::kWrite).finish();
            result.manufacturersRemoved << id;
        }
    }
}

}  // namespace

std::optional<DeviceRows> ReadDevice(Database& database, const QJsonValue& equipmentId) {
    return Read(database.connection(), equipmentId);
}

QByteArray ReadDeviceJson(Database& database, const QVariant& equipmentId) {
    return ReadDeviceJson(database.connection(), equipmentId);
}

QByteArray ReadDeviceJson(Connection& connection, const QVariant& equipmentId) {
    const QByteArray equipment = RowsJson(connection, sql::kEquipmentRowById, equipmentId, true);
    if (equipment.isEmpty()) {
        return {};
    }
    return "{\"equipment\":" + equipment +
           ",\"inputs\":" + RowsJson(connection, sql::kInputsOfEquipment, equipmentId, false) +
           ",\"outputs\":" + RowsJson(connection, sql::kOutputsOfEquipment, equipmentId, false) +
           '}';
}

UndoResult RemoveRunRows(Database& database, const std::vector<DeviceRows>& devices,
                         const QStringList& manufacturers, bool dryRun) {
    UndoResult result;
    if (dryRun) {
        database.BeginDryRun();
    }
    try {
        RunUnit(
            database,
            [&](Connection& connection) {
                RemoveDevices(connection, devices, result);
                RemoveManufacturers(connection, manufacturers, result);
            },
            [&] { result = UndoResult{}; });
    } catch (...) {
        database.EndDryRun();
        throw;
    }
    database.EndDryRun();
    return result;
}

}  // namespace db
