#pragma once

#include <QString>
#include <QVariant>

#include "records/connection.h"

// How a value goes into the equipment database, checked before anything is sent.
namespace db {

// `value` as the store keeps it. A Boolean is stored as its column holds it: true or false in a
// boolean column, and as the original store kept it, -1 (True) or 0 (False), in any other. A
// null text is empty text, not SQL NULL: the original store kept "" for an empty value. Raises
// for text holding a NUL character (ErrNo::kDbRefused): SQLite compares such text only up to the
// NUL, so two different names would count as equal and versioned names could never be told
// apart.
QVariant StoredValue(const QVariant& value, const ColumnInfo* column = nullptr);

// Raises ErrNo::kDbValueTooLong when `value` is text longer than the declared width of `column`
// (of `table`); a column without a width, or no column, takes anything.
void CheckWidth(const ColumnInfo* column, const QString& table, const QVariant& value);

// Both checks for a text value, without wrapping it: too long for `column`, then a NUL.
void CheckText(const ColumnInfo* column, const QString& table, const QString& text);

}  // namespace db
