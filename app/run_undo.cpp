#include "app/run_undo.h"

#include <QDateTime>
#include <QJsonArray>

#include "app/run_record.h"
#include "records/database.h"
#include "records/target.h"

namespace {

QString Count(std::int64_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString CountsText(std::int64_t equipment, std::int64_t connectors, std::int64_t manufacturers) {
    return Count(equipment, "equipment row", "equipment rows") + QStringLiteral(", ") +
           Count(connectors, "connector row", "connector rows") + QStringLiteral(" and ") +
           Count(manufacturers, "manufacturer", "manufacturers");
}

}  // namespace

QString DatabaseMismatch(const QJsonObject& record, const QString& connectionString) {
    const QString recorded = record["database"].toString();
    const QString opened = SameDatabaseKey(connectionString);
    if (recorded == opened) {
        return {};
    }
    return QStringLiteral("the run was recorded on the database %1, not on %2")
        .arg(recorded, db::RedactedTarget(opened));
}

db::UndoResult UndoRecord(db::Database& database, const QJsonObject& record, bool dryRun) {
    QStringList manufacturers;
    for (const QJsonValue& added : record["manufacturersAdded"].toArray()) {
        manufacturers << added["id"].toString();
    }
    return db::RemoveRunRows(database, RecordedDevices(record), manufacturers, dryRun);
}

QStringList UndoLines(const db::UndoResult& result, bool dryRun) {
    QStringList lines;
    const bool nothing = result.equipmentRemoved == 0 && result.manufacturersRemoved.isEmpty();
    if (nothing && result.kept.empty()) {
        lines << QStringLiteral("Nothing to remove: the rows of this run were removed before.");
        return lines;
    }
    lines << QStringLiteral("%1 %2.").arg(
        dryRun ? QStringLiteral("Would remove") : QStringLiteral("Removed"),
        CountsText(result.equipmentRemoved, result.connectorsRemoved,
                   result.manufacturersRemoved.size()));
    if (result.equipmentGone + result.manufacturersGone > 0) {
        lines << QStringLiteral("Removed before: %1.")
                     .arg(Count(result.equipmentGone, "equipment row", "equipment rows") +
                          QStringLiteral(" and ") +
                          Count(result.manufacturersGone, "manufacturer", "manufacturers"));
    }
    for (const db::UndoResult::Kept& kept : result.kept) {
        lines << QStringLiteral("Kept %1: %2").arg(kept.what, kept.reason);
    }
    return lines;
}

QString RecordTimeText(const QJsonObject& record) {
    const QDateTime time =
        QDateTime::fromString(record["time"].toString(), Qt::ISODateWithMs).toLocalTime();
    return time.date() == QDate::currentDate() ? time.toString(QStringLiteral("HH:mm"))
                                               : time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString UndoQuestion(const QJsonObject& record) {
    const RecordTotals totals = TotalsOf(record);
    return QStringLiteral("Remove %1 added by the import of %2?")
        .arg(CountsText(totals.equipment, totals.connectors, totals.manufacturers),
             RecordTimeText(record));
}
