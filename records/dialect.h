#pragma once

#include <QString>
#include <QStringList>

#include "records/failure.h"
#include "records/statements.h"

class QSqlDatabase;

// The statements that differ between the kinds of database importflx writes into, in one place:
// the form of a statement, quoting, how an added row's key is read back, the catalog query for a
// table's columns, how a device's transaction begins and takes the lock that all importers
// share, and the savepoints of a dry run. What a failure's codes mean is the failure table's
// (records/failure.h). Code outside this file that must know the kind of database asks for it
// here by what it needs (a fast path of its own), never for a statement's text.
namespace db {

// The statement that takes the PostgreSQL advisory lock that every importer takes for its file's
// transaction: one lock per equipment table (the table's OID under "impo" in ASCII), so that
// importers into other schemas of the same database do not wait for each other.
QString PostgresImportersLock();

class Dialect {
  public:
    Dialect(System system, Driver driver) : system_(system), driver_(driver) {}

    System system() const { return system_; }
    Driver driver() const { return driver_; }

    // The text of `statement` as this database accepts it: its own form where the statement
    // gives one, else the Jet text, without the brackets around names for PostgreSQL.
    QString Form(const sql::Statement& statement) const;
    // Whether `statement` comes to this database in a form of its own (see Form).
    bool HasOwnForm(const sql::Statement& statement) const;
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
    // Savepoints, for the devices of a dry run inside its one transaction, and around a
    // statement of that transaction where a failed statement aborts the whole of it
    // (PostgreSQL). Empty where the database has none.
    QString Savepoint(const char* name) const;
    QString ReleaseSavepoint(const char* name) const;
    QString RollbackToSavepoint(const char* name) const;
    bool FailedStatementAbortsTransaction() const { return system_ == System::kPostgres; }
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

    // PostgreSQL only (empty elsewhere). The session's identity (records/connection.h) as one
    // row of (process, started); and, with the two values of a lost session's identity bound,
    // the statement that ends that session if it is still there, and the query that yields a
    // row while it is.
    QString SessionIdentityQuery() const;
    QString EndSessionStatement() const;
    QString SessionAliveQuery() const;

    Failure Classify(const Diagnostic& diagnostic) const {
        return db::Classify(system_, diagnostic);
    }

  private:
    System system_;
    Driver driver_;
};

}  // namespace db
