#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "records/dialect.h"
#include "records/statements.h"
#include "records/target.h"

namespace db {

// The connection string that the import window builds once at load: the Jet provider text with
// the application folder and the file name "dbEquip.MDB", joined by the platform's separator.
QString BuildConnectionString(const QString& appFolder);
// The same connection string for the database file at `path`, named as given.
QString ConnectionStringForFile(const QString& path);

// One column of a table as the store declares it.
struct ColumnInfo {
    QString name;
    QString declaredType;
    // Maximum number of characters of a text column; std::nullopt when none is declared.
    std::optional<int> width;
    // The column holds a real boolean (PostgreSQL's boolean), not a number.
    bool boolean = false;
};

// Told while an import waits for a database that another program holds.
class Waiter {
  public:
    virtual ~Waiter() = default;
    // Called about every 50 ms while waiting, with the time waited so far (0 at the first
    // call). Returns false to stop waiting: the statement then raises ErrNo::kDbWaitCancelled.
    virtual bool KeepWaiting(qint64 waitedMs) = 0;
    // The wait is over: the database is free, or the wait failed or was stopped.
    virtual void WaitOver() {}
};

// What a statement names, for the messages of its failures.
struct StatementNames {
    QString table;
    QStringList columns;
};

// A statement of records/statements.h as one connection keeps it for its whole life, so that
// running it again costs no more than binding its values: what its failures name, the column
// each value of an insert goes to, and its prepared query.
struct CachedStatement {
    const sql::Statement* statement;
    StatementNames names;
    // An insert's values by position: the table's column, nullptr where the table has none.
    std::vector<const ColumnInfo*> boundColumns;
    std::optional<QSqlQuery> query;  // prepared on first use
};

// The shared connection for one connection string (see records/target.h for the forms):
//   - a Jet-style string naming a file: located without regard to the letter case of its name;
//     an SQLite file (by its header) is opened as such; an Access file is opened through ODBC
//     on Windows and refused elsewhere with a message that says what would open it; anything
//     else is refused with a message naming the file;
//   - a PostgreSQL URI, reached through the PostgreSQL driver;
//   - "odbc:" and an ODBC connection string, whose driver reports the database system.
// What differs between the systems is asked of the Dialect. Every statement runs through Run,
// which waits while another program holds the database and turns a failure into the AppError
// its codes call for, each failure mapped once (Raise) to the error numbers the user knows.
class Connection {
  public:
    // How long a locked database is waited for when nobody can be told about it (a dialog's
    // statement), and when the import tells the user that it waits.
    static constexpr int kBusyTimeoutMs = 3000;
    static constexpr int kWaitLimitMs = 60000;

    // The open connection for `connectionString`, opened on first use and shared afterwards.
    // A connection whose server went away is opened anew.
    static Connection& ForString(const QString& connectionString);

    // Closes every shared connection (tests, program end). Recordsets must be closed first.
    static void CloseAll();

    // Shortens the import's wait (tests); 0 restores kWaitLimitMs.
    static void SetWaitLimitForTesting(int milliseconds);

    // How the messages name the database: the file's path, or the address without a password.
    const QString& filePath() const { return description_; }
    const Dialect& dialect() const { return dialect_; }
    QSqlDatabase database() const;

    // What this connection keeps of `statement` (the statements are constants: they are known
    // by the address of their text). Raises when an insert's table does not exist.
    CachedStatement& Statement(const sql::Statement& statement);
    // The statement's query in this store's form, prepared on first use and reused after. Raises
    // on a statement that the store cannot prepare (missing table or column).
    QSqlQuery& Prepared(CachedStatement& statement);
    // The same for a statement this layer builds itself, known by its text.
    QSqlQuery& Prepared(const QString& sqlText, const StatementNames& names);
    // A statement of this layer that may not suit every table (a read-back by rowid), prepared
    // on first use and reused after; nullptr when the store cannot prepare it.
    QSqlQuery* PreparedIfValid(const QString& sqlText);

    // Runs `query` (prepared, values bound). Inside an import (DeferredCommits) the file's
    // transaction is begun first. A database that another program holds is waited for; any
    // other failure raises. `what` names the step for the messages ("open", "execute", "add a
    // row"); an insert's bound values tell a duplicate key apart where the codes do not.
    void Run(QSqlQuery& query, const QString& what, const StatementNames& names);
    // Prepares `query`, waiting while another program holds the database; raises on failure.
    void Prepare(QSqlQuery& query, const QString& sqlText, const StatementNames& names,
                 const QString& what = QStringLiteral("prepare"));
    // Runs a statement of this layer without values (begin, commit, catalog queries).
    bool ExecDirect(QSqlQuery& query, const QString& sqlText);

    // The columns of `table` in declaration order; raises when the table does not exist.
    const QList<ColumnInfo>& Columns(const QString& table);
    // The column of `table` named `column` without regard to case, or nullptr.
    const ColumnInfo* FindColumn(const QString& table, const QString& column);

    // Where the database has no lock that all importers take (Dialect::LockManufacturer):
    // locks manufacturer `id`'s row for the open transaction, before a model name is chosen.
    void HoldManufacturer(const QVariant& id);

    // Explicit transactions. Begin is ignored while one is open, Commit and Rollback while none
    // is. A failed Commit rolls back and raises. Begin holds the database for this importer
    // (see Dialect::BeginUnit), waiting while another one holds it.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }

    // Marks the connection's session as gone, so that ForString opens a new one.
    bool broken() const { return broken_; }

    ~Connection();

  private:
    friend class DeferredCommits;
    friend class DryRun;

    Connection(QString connectionName, QString description, Dialect dialect);
    static std::unique_ptr<Connection> Open(const QString& connectionString);

    // An import commits once per file: the write-ahead log turns each commit into an append
    // instead of several flushes to disk, and a killed import still leaves a consistent
    // database. The file's own journal mode is restored when the connection closes. A database
    // on a network file system keeps its rollback journal: the log needs memory that every
    // process using the file shares, which only processes of one machine have.
    void UseWriteAheadLog(const QString& path);
    void BeforeStatement();
    // Before a statement inside a transaction where a failed statement aborts it: takes the
    // statement's savepoint; true when one was taken.
    bool TakeSavepoint();
    // Prepares `query` with `*prepareText`, or runs it when that is null, under the statement's
    // savepoint; waits while another program holds the database and raises any other failure.
    void Attempt(QSqlQuery& query, const QString* prepareText, const QString& what,
                 const StatementNames& names);
    // Waits a turn while the database is held: false once the limit has passed. Raises
    // ErrNo::kDbWaitCancelled when the waiter stops the wait.
    bool WaitTurn(QElapsedTimer& waited, bool& told);
    void EndWait(bool told);
    // Turns a failure into the AppError to raise; the one place where failures get their
    // numbers and descriptions. After some failures the store gives up the whole open
    // transaction: the connection then begins anew (or is marked broken) and the description
    // says that the rows since the last commit were not stored either.
    [[noreturn]] void Raise(Failure failure, const Diagnostic& diagnostic, const QString& what,
                            const StatementNames& names, const QVariantList& inserted);
    // After a refusal that the codes do not tell apart: true when a row with the inserted
    // primary key values exists.
    bool KeyExists(const StatementNames& names, const QVariantList& inserted);
    void LoseTransaction();
    // PostgreSQL's sequences at the start of a dry run, to be set back after it.
    void NoteSequences();
    void RestoreSequences();

    QString connectionName_;
    QString description_;
    Dialect dialect_;
    bool inTransaction_ = false;
    bool savepointTaken_ = false;
    bool broken_ = false;
    bool opening_ = false;                  // the checks of Open run outside any unit
    int lastWaitLimitMs_ = kBusyTimeoutMs;  // the limit of the last wait, for its message
    int writesInTransaction_ = 0;           // writes begun since the open transaction began
    QString restoreJournalMode_;  // the mode to restore at close; empty when none was changed
    QHash<QString, std::shared_ptr<QSqlQuery>> prepared_;
    std::unordered_map<const char*, std::unique_ptr<CachedStatement>> statements_;
    QHash<QString, QList<ColumnInfo>> columns_;
    struct Sequence {
        QString name;
        QVariant lastValue;  // null: never drawn from
        QVariant startValue;
    };
    std::optional<std::vector<Sequence>> sequences_;
    struct ColumnKeyHash {
        std::size_t operator()(const std::pair<QString, QString>& key) const {
            return qHash(key.first) ^ (qHash(key.second) * 31);
        }
    };
    // FindColumn's answers by (table, column) as spelled by the caller; node-based, so the
    // pointers it hands out stay valid.
    std::unordered_map<std::pair<QString, QString>, std::optional<ColumnInfo>, ColumnKeyHash>
        columnCache_;
};

// Groups the writes of one unit of work (one FLX file) into one transaction per connection, so
// that a unit costs one commit instead of one per row, and holds the database for the unit:
// while a scope is alive, the first statement through a shared connection begins a
// transaction that keeps other importers out (Dialect::BeginUnit), so that what the unit reads
// before it writes (is this model name taken?) cannot change under it. Flush() commits every
// open one; the owner calls it before the user is told anything (a message, a failure line)
// and at the unit's end, so what the user sees as stored is stored. A scope that ends without
// a Flush (an exception passing through) commits what it can; rows are never rolled back
// silently. While another program holds the database, the scope's waiter is told.
class DeferredCommits {
  public:
    explicit DeferredCommits(Waiter* waiter = nullptr);
    ~DeferredCommits();
    DeferredCommits(const DeferredCommits&) = delete;
    DeferredCommits& operator=(const DeferredCommits&) = delete;

    // True while a scope is alive and not paused.
    static bool Active();
    // Commits every open transaction of the shared connections. Raises when a commit fails;
    // the failed transaction is then rolled back, so nothing half-written remains.
    static void Flush();

    // The number of commits so far: rows written now are stored by the next one. Losses()
    // counts the transactions that the store gave up (a failed commit, a disk that ran full, a
    // server that went away); LastLossMark() is Mark() as it stood at the last of them, so the
    // rows written at that mark were lost with it.
    static std::uint64_t Mark();
    static std::size_t Losses();
    static std::uint64_t LastLossMark();

    // While a dialog is open: commits what is pending (Flush) and lets the dialog's own
    // statements commit themselves, so that the database is not held while the user thinks.
    class Paused {
      public:
        Paused();
        ~Paused();
        Paused(const Paused&) = delete;
        Paused& operator=(const Paused&) = delete;

      private:
        Waiter* waiter_;
    };

  private:
    friend class Connection;
    Waiter* previousWaiter_;
};

// A run that changes nothing: while the scope lives, the transactions that DeferredCommits
// begins are never committed (a Flush leaves them open, so later files see earlier files'
// rows), and when it ends every one is rolled back and PostgreSQL's sequences are set back.
// The database is held for the whole run.
class DryRun {
  public:
    DryRun();
    ~DryRun();
    DryRun(const DryRun&) = delete;
    DryRun& operator=(const DryRun&) = delete;

    static bool Active();
};

}  // namespace db
