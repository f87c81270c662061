#pragma once

#include <QString>

namespace db {
class Database;
}

// What the programs ask of an equipment database before they use it. These are the only places
// of app/ that reach the database layer for it.

// True when `database` opens and holds every table and column that an import reads or writes
// (db::CheckTables); otherwise false with `error` ("number description") saying what is wrong.
// The database stays open.
bool CheckDatabaseTables(db::Database& database, QString& error);

// Creates the SQLite database file `path` from the statements of `schemaFile` (';'-separated,
// with "--" comments), holding the tables and no rows, and its folder if need be. The file
// appears only once it is whole, and an existing file is never replaced. False with `error`
// saying why.
bool CreateDatabaseFromSchema(const QString& schemaFile, const QString& path, QString& error);
