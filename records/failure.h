#pragma once

#include <QString>
#include <QStringList>

#include "core/error.h"

class QSqlDatabase;
class QSqlQuery;

// What a failed statement means, and how it is told: the tables that turn a database's own codes
// (SQLite's extended result codes, SQLSTATE, the Access engine's numbers) into a Failure, and a
// Failure into the AppError the user sees. Nothing here talks to a database; the probes that
// sharpen a failure the codes leave open live with the connection (records/connection.h).
namespace db {

// The source that every error of the database layer names.
inline const QString kSource = QStringLiteral("importflx database");

// The database system behind a connection, and the driver that reaches it.
enum class System { kSqlite, kPostgres, kAccess, kOther };
enum class Driver { kSqlite, kPostgres, kOdbc };

enum class Failure {
    kNone,
    kDuplicateKey,      // a primary or unique key already holds the values
    kIntegrity,         // another rule refused the row: a value it needs, a check, a reference
    kIntegrityUnknown,  // a rule refused the row; the codes do not tell a duplicate key apart
    kValueTooLong,
    kNoObject,     // a table or column that the statement names does not exist
    kStatement,    // refused without a finer code: a missing table or column, or the syntax
    kReadOnly,     // the database file may not be written
    kNoPrivilege,  // the user may not write into the table
    kCannotWrite,  // the journal that every change needs cannot be created beside the file
    kBusy,         // another program holds the database: wait and try again
    kDiskFull,
    kDamaged,         // the file is damaged or no database
    kConnectionLost,  // the server went away, or refuses connections
    kOther,
};

// The codes of a failed statement or connection.
struct Diagnostic {
    QString sqlState;  // PostgreSQL's and ODBC's SQLSTATE; empty when none
    QString native;    // the driver's native code (SQLite's extended result code)
    QString text;      // the database's own words, for the user only
};

// The codes of the last failure of `query`, or of opening `database` when `query` is null.
Diagnostic DiagnosticOf(Driver driver, const QSqlQuery* query, const QSqlDatabase& database);

// The tables of codes, one per kind of code.
Failure ClassifySqliteCode(int extendedCode);
Failure ClassifySqlState(const QString& sqlState);
// What `diagnostic` means on `system`.
Failure Classify(System system, const Diagnostic& diagnostic);

// The step during which a failure happened. Its name appears in messages only.
enum class Step { kOpen, kPrepare, kRead, kWrite, kBegin, kLock, kCommit, kCatalog };
QString StepName(Step step);

// Where a failure happened, as its message tells it.
struct FailurePlace {
    Step step = Step::kRead;
    QString database;        // the database as the messages name it (a path, or an address)
    QString file;            // an SQLite file's name alone; the database otherwise
    QString table;           // the table the statement reads or writes; empty when none
    QStringList keyColumns;  // of a duplicate key: "table.column" for each column of the key
    QString missingColumn;   // a column of the statement that the table lacks
    int waitedSeconds = 0;   // of a busy database: how long the wait lasted
    // Rows of the same unit written before the failing statement, whose loss is told when the
    // failure takes the whole transaction with it.
    int writesBefore = 0;
};

// True for the failures after which the store has given up the whole open transaction.
bool LosesTransaction(Failure failure);

// The one place where a failure gets its number, kind and text.
AppError DescribeFailure(Failure failure, const FailurePlace& place, const QString& driverText);

}  // namespace db
