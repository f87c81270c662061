#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include "records/statements.h"

class QSqlDatabase;

// Everything that differs between the kinds of database importflx writes into, in one place:
// the form of a statement, quoting, how an added row's values are read back, the catalog query
// for a table's columns, how a file's transaction begins and takes the lock that all importers
// share, and what a failure's codes mean. The rest of the database layer asks the dialect and
// never looks at the kind of database itself.
namespace db {

// The statement that takes the PostgreSQL advisory lock that every importer takes for its file's
// transaction: one lock per equipment table (the table's OID under "impo" in ASCII), so that
// importers into other schemas of the same database do not wait for each other.
QString PostgresImportersLock();

// The database system behind a connection, and the driver that reaches it.
enum class System { kSqlite, kPostgres, kAccess, kOther };
enum class Driver { kSqlite, kPostgres, kOdbc };

// What a failed statement means, as the database's own codes tell it.
enum class Failure {
    kDuplicateKey,      // a primary or unique key already holds the values
    kIntegrity,         // another rule refused the row: a value it needs, a check, a reference
    kIntegrityUnknown,  // a rule refused the row; the codes do not tell a duplicate key apart
    kValueTooLong,
    kNoObject,     // a table or column that the statement names does not exist
    kStatement,    // refused without a finer code: a missing table or column, or the syntax
    kReadOnly,     // the database or the user may not write
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

// The system an ODBC connection reaches, by the DBMS name its driver reports.
System OdbcSystem(const QSqlDatabase& database);

class Dialect {
  public:
    Dialect(System system, Driver driver) : system_(system), driver_(driver) {}

    System system() const { return system_; }
    Driver driver() const { return driver_; }

    // The text of `statement` as this database accepts it: its own form where the statement
    // gives one, else the Jet text, without the brackets around names for PostgreSQL.
    QString Form(const sql::Statement& statement) const;
    // Whether the statement kEquipmentVersionsTaken has a form here; without one, the model
    // names are tried one at a time.
    bool ListsVersions() const { return system_ != System::kOther; }
    // Whether that list is exact for every comparison the database may make: true for SQLite,
    // whose collations (BINARY, NOCASE, RTRIM) all keep a name's characters in their places;
    // elsewhere the chosen name is confirmed with the one-name test.
    bool VersionsAreExact() const { return system_ == System::kSqlite; }
    // A table name spelled as a statement spells it, ready for SQL.
    QString Table(const QString& name) const;
    // A column name exactly as the database reports it, ready for SQL.
    QString Column(const QString& name) const;

    // The statement that adds a row with `columns` to `table` (one `?` each, or the table's
    // defaults when there are none). With `returning` non-empty and InsertReturnsRow(), it also
    // yields the stored row's values of those columns.
    QString Insert(const QString& table, const QStringList& columns,
                   const QStringList& returning) const;
    bool InsertReturnsRow() const;
    // When the insert does not return the row: the query (no values) that yields the new row's
    // key on the same connection, and whether that key is SQLite's rowid rather than the
    // table's primary key. Empty when the row cannot be found again.
    QString NewKeyQuery() const;
    bool KeyIsRowid() const { return system_ == System::kSqlite; }

    // The catalog query for a table's columns, one bound value (the table's name as the
    // statements spell it), rows of: name, declared type, width or null, holds a real boolean.
    // Empty when the driver's own catalog functions serve (Access and others).
    QString ColumnsQuery() const;
    // Takes the width out of a declared type such as VARCHAR(50); -1 when there is none.
    static int WidthOfDeclaredType(const QString& declaredType);

    // Begins the transaction of one file's import, holding the database for the importer: the
    // statements to run in order. While another importer holds it one of them fails as kBusy
    // (after a short wait, see ShortLockWait), and RollbackStatement() ends what was begun. An
    // empty list: begin through the driver (QSqlDatabase::transaction).
    QStringList BeginUnit() const;
    QString CommitStatement() const;
    QString RollbackStatement() const;
    // Statement savepoints, where a failed statement aborts the whole transaction (PostgreSQL):
    // taken before each statement inside a transaction, so that a refused statement takes only
    // itself back. Empty where a failed statement leaves the transaction usable.
    QString SavepointBefore(bool first) const;
    QString RollbackToSavepoint() const;
    // The statement that makes a locked database fail quickly, so that importflx can wait for
    // it while the window stays responsive; empty when the driver's option does it.
    QString ShortLockWait(int milliseconds) const;

    // Where BeginUnit() takes no lock that all importers share (Access and other systems): the
    // statement, one bound value (a manufacturer ID), that locks the manufacturer's row until
    // the transaction ends, so that two importers cannot pick a model name of that
    // manufacturer at once. Empty where the unit's lock serves.
    QString LockManufacturer() const;

    // The sequences behind the serial columns of `table` as rows of (sequence, last value,
    // is called), one bound value: the table's name. Empty where a rolled-back transaction
    // gives back what it drew (SQLite).
    QString SequencesQuery() const;
    QString SetSequenceStatement() const;

    Failure Classify(const Diagnostic& diagnostic) const;

  private:
    System system_;
    Driver driver_;
};

}  // namespace db
