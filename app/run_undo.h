#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

#include "records/run_rows.h"

namespace db {
class Database;
}

// Undoing a recorded run (app/run_record.h), for the batch tool and the window alike.

// Why `record` may not be undone on the database of `connectionString`, naming both; empty
// when the record's database is that one.
QString DatabaseMismatch(const QJsonObject& record, const QString& connectionString);

// Removes what `record` says its run added from `database` (db::RemoveRunRows). Raises AppError
// when the database fails.
db::UndoResult UndoRecord(db::Database& database, const QJsonObject& record, bool dryRun);

// The lines that tell the user what an undo did: what was removed (or, `dryRun`, would be),
// what was removed before, and each row kept with its reason.
QStringList UndoLines(const db::UndoResult& result, bool dryRun);

// The question asked before undoing the run of `record`: "Remove 12 equipment rows, 240
// connector rows and 2 manufacturers added by the import of 14:02?"
QString UndoQuestion(const QJsonObject& record);

// The record's time, local, as "14:02" (today) or "2026-12-06 14:02".
QString RecordTimeText(const QJsonObject& record);
