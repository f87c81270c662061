#include "records/values.h"

#include "core/error.h"
#include "records/schema.h"

namespace db {
namespace {

// The value as a message quotes it: its first 40 characters.
QString Quoted(const QString& text) {
    return text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
}

// The column's name as the statements spell it (the catalog of a server may fold it to lower
// case), else as the catalog has it.
QString Spelled(const ColumnInfo& info) {
    for (const schema::Table* table : schema::kTables) {
        for (const char* known : table->columns) {
            if (info.name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) {
                return QString::fromLatin1(known);
            }
        }
    }
    return info.name;
}

// Raises for text holding a NUL character.
void RefuseNul(const QString& text) {
    if (text.contains(QChar(u'\0'))) {
        throw AppError(ErrNo::kDbRefused,
                       QString("The value '%1' holds a NUL character, which the database "
                               "cannot store or compare.")
                           .arg(Quoted(text).replace(QChar(u'\0'), QLatin1String("\\0"))),
                       kSource, ErrorKind::kRefusedByRule);
    }
}

void CheckTextWidth(const ColumnInfo* column, const QString& table, const QString& text) {
    if (column != nullptr && column->width && text.size() > *column->width) {
        throw AppError(ErrNo::kDbValueTooLong,
                       QString("The value '%1' is too long for %2.%3, which holds at most %4 "
                               "characters.")
                           .arg(Quoted(text), table, Spelled(*column))
                           .arg(*column->width),
                       kSource, ErrorKind::kTooLong);
    }
}

}  // namespace

QVariant StoredValue(const QVariant& value, const ColumnInfo* column) {
    if (value.typeId() == QMetaType::Bool) {
        if (column != nullptr && column->boolean) {
            return value;
        }
        return value.toBool() ? -1 : 0;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.isNull()) {
            return QString(QLatin1String(""));
        }
        RefuseNul(text);
    }
    return value;
}

void CheckWidth(const ColumnInfo* column, const QString& table, const QVariant& value) {
    if (!value.isNull() && value.typeId() == QMetaType::QString) {
        CheckTextWidth(column, table, value.toString());
    }
}

void CheckText(const ColumnInfo* column, const QString& table, const QString& text) {
    CheckTextWidth(column, table, text);
    RefuseNul(text);
}

}  // namespace db
