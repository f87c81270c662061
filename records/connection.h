#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/host.h"
#include "records/dialect.h"
#include "records/failure.h"
#include "records/journal.h"
#include "records/statements.h"

namespace db {

// One column of a table as the store declares it.
struct ColumnInfo {
    QString name;
    QString declaredType;
    // Maximum number of characters of a text column; std::nullopt when none is declared.
    std::optional<int> width;
    // The column holds a real boolean (PostgreSQL's boolean), not a number.
    bool boolean = false;
};

// Told while an import waits for a database that another program holds, or for a server that
// went away.
class Waiter {
  public:
    virtual ~Waiter() = default;
    // Called often while waiting (every 20 ms for a busy database, between two tries to reach a
    // server), with the time waited so far (0 at the first call). Returns false to stop
    // waiting: the wait then raises ErrNo::kDbWaitCancelled.
    virtual bool KeepWaiting(qint64 waitedMs, DatabaseWait what) = 0;
    // The wait is over: the database is free, or the wait failed or was stopped.
    virtual void WaitOver() {}
};

// How long a busy database is waited for, who is told meanwhile, and the clock the wait is
// measured by. The Database owns it; its connections read it at every wait.
struct WaitSettings {
    // The limit of a wait that somebody is told about (an import), and of one that nobody is
    // (a dialog's statement, the checks before a batch run).
    static constexpr int kWaitLimitMs = 60000;
    static constexpr int kQuietWaitLimitMs = 3000;

    Waiter* waiter = nullptr;
    int limitMs = kWaitLimitMs;
    // Milliseconds since some fixed moment, and a pause; tests replace both to run a wait of any
    // length at once.
    std::function<qint64()> clock;
    std::function<void(int milliseconds)> pause;

    // The limit of a wait: limitMs when somebody is told, kQuietWaitLimitMs otherwise.
    qint64 Limit() const { return waiter != nullptr ? limitMs : kQuietWaitLimitMs; }
    qint64 Now() const;
    void Pause(int milliseconds) const;
};

// The error of a wait that the waiter stopped (ErrNo::kDbWaitCancelled), naming `database`.
AppError WaitCancelled(const QString& database);

// One try at a statement: ok, or how it failed.
struct Attempt {
    Failure failure = Failure::kNone;
    Diagnostic diagnostic;
    bool ok() const { return failure == Failure::kNone; }
};

// Calls `tryOnce` until it returns true (done), waiting `pollMs` between tries; the wait starts
// at the first try that fails. The waiter is told once the wait goes on (as `what`), and may
// stop it: that raises ErrNo::kDbWaitCancelled naming `database`. Returns false when the limit
// passed first. `waitedMs` gets the length of the wait.
bool WaitWhile(const WaitSettings& wait, const QString& database, DatabaseWait what, int pollMs,
               const std::function<bool()>& tryOnce, qint64& waitedMs);

// Runs `attempt` again while it fails because another program holds the database, waiting a
// turn between tries, until it succeeds, fails otherwise, or the limit has passed. The waiter
// is told once the wait goes on, and may stop it: that raises ErrNo::kDbWaitCancelled naming
// `database`. Returns the last try; `waitedMs` gets the length of the wait.
Attempt RetryWhileBusy(const WaitSettings& wait, const QString& database,
                       const std::function<Attempt()>& attempt, qint64* waitedMs = nullptr);

// What a statement names, for the messages of its failures.
struct StatementNames {
    QString table;
    QStringList columns;
};

// A statement that the store refused, on its way to the unit of work that decides whether to
// wait and try again or to tell the user (Connection::ErrorOf). Only the database layer throws
// and catches it.
struct StatementFailed {
    Attempt attempt;
    Step step;
    StatementNames names;
    QVariantList values;   // an insert's bound values, which tell a duplicate key apart
    int writesBefore = 0;  // rows of the same unit written before this statement
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

// Who a PostgreSQL session is at its server, so that a lost session can be told apart from
// every later one (a server process number is used again) and ended.
struct SessionIdentity {
    qint64 process = 0;  // pg_backend_pid()
    QString started;     // the session's backend_start, as text
};

// One open session with the equipment database (records/target.h has the forms of the
// connection string): an SQLite file, a PostgreSQL server, or anything behind ODBC. It keeps
// what it prepared and what it read of the tables for its whole life, and gives all of it back
// when it goes (an open transaction rolled back, an SQLite file's own journal mode restored).
// The Database that opened it owns it.
class Connection {
  public:
    // Opens a session for `connectionString`; raises the AppError that tells why it cannot.
    // `wait` must outlive the connection.
    static std::unique_ptr<Connection> Open(const QString& connectionString,
                                            const WaitSettings& wait);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // How the messages name the database: an SQLite file's path, or the address of a server
    // without its password.
    const QString& description() const { return description_; }
    const Dialect& dialect() const { return dialect_; }
    QSqlDatabase database() const;
    const WaitSettings& wait() const { return wait_; }
    // The session went away (a server that stopped); the Database opens a new one.
    bool broken() const { return broken_; }

    // What this connection keeps of `statement` (the statements are constants: they are known
    // by their address). Raises when an insert's table does not exist.
    CachedStatement& Statement(const sql::Statement& statement);
    // The statement's query in this store's form, prepared on first use and reused after. Raises
    // on a statement that the store cannot prepare (a missing table or column).
    QSqlQuery& Prepared(CachedStatement& statement);
    // The same for a statement this layer builds itself, known by its text.
    QSqlQuery& Prepared(const QString& sqlText, const StatementNames& names);

    // Runs `query` (prepared, values bound), waiting while another program holds the database.
    // Raises the failure's AppError; inside a unit of work, tries once and raises
    // StatementFailed for the unit to decide.
    void Run(QSqlQuery& query, Step step, const StatementNames& names);
    // One try at `query`; inside a unit of work, which decides on waiting itself.
    Attempt TryRun(QSqlQuery& query);
    // Runs a statement of this layer without values (begin, commit, a savepoint); false when it
    // failed or is empty.
    bool ExecDirect(const QString& sqlText);

    // The columns of `table` in declaration order; raises when the table does not exist.
    const QList<ColumnInfo>& Columns(const QString& table);
    // The column of `table` named `column` without regard to case, or nullptr.
    const ColumnInfo* FindColumn(const QString& table, const QString& column);

    // The transaction of a unit of work: Begin takes the lock that all importers take
    // (Dialect::BeginUnit); both return the failure instead of raising, so that the unit can
    // wait for a busy database. Rollback never fails; it is harmless without a transaction.
    Attempt TryBegin();
    Attempt TryCommit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }
    // A unit of work is under way (RunUnit): it takes back whatever fails inside it.
    void setInUnit(bool inUnit) { inUnit_ = inUnit; }
    bool inUnit() const { return inUnit_; }

    // Who the session is at a PostgreSQL server; nothing before NoteIdentity or setIdentity, and
    // on other stores. NoteIdentity asks the server once (a failure leaves it unknown).
    const std::optional<SessionIdentity>& identity() const { return identity_; }
    void setIdentity(SessionIdentity identity) { identity_ = std::move(identity); }
    void NoteIdentity();

    // The AppError of a failure, after the probes that sharpen what its codes leave open (a
    // duplicate key behind a general integrity code, the column a statement names that the
    // table lacks, a server that went away). Call it outside any transaction.
    AppError ErrorOf(const StatementFailed& failed, qint64 waitedMs = 0);

    // Puts an SQLite file back in its own journal mode (records/journal.h), once: what the
    // session keeps prepared is let go first, and an open transaction rolled back. `failure`
    // gets SQLite's words when it ends kFailed.
    JournalEnd RestoreJournalMode(QString* failure = nullptr);
    // The SQLite file's path; empty for other stores.
    const QString& sqlitePath() const { return sqlitePath_; }

    // The native handle of the session where importflx uses the driver's library directly: an
    // SQLite connection (sqlite3*) or a PostgreSQL one (PGconn*); null otherwise.
    void* NativeHandle() const;

    // What a fast path keeps on the session (its own prepared statements), kept as long as the
    // session and released before it closes.
    class Extra {
      public:
        virtual ~Extra() = default;
    };
    Extra* extra() const { return extra_.get(); }
    void setExtra(std::unique_ptr<Extra> extra) { extra_ = std::move(extra); }

  private:
    Connection(QString connectionName, QString description, Dialect dialect,
               const WaitSettings& wait);
    // One per kind of target (records/open.cpp).
    static std::unique_ptr<Connection> OpenSqlite(const QString& connectionString,
                                                  const QString& name, const WaitSettings& wait);
    static std::unique_ptr<Connection> OpenPostgres(const QString& connectionString,
                                                    const QString& name, const WaitSettings& wait);
    static std::unique_ptr<Connection> OpenOdbc(const QString& connectionString,
                                                const QString& name, const WaitSettings& wait);
    static std::unique_ptr<Connection> OpenAccess(const QString& path, const QString& name,
                                                  const WaitSettings& wait);

    // An SQLite file in write-ahead-log mode for the session (records/journal.h). A database
    // on a network file system keeps its rollback journal: the log needs memory that every
    // process using the file shares, which only processes of one machine have.
    void UseWriteAheadLog(const QString& path);
    // Runs one statement of a transaction's control (begin, commit, rollback, the lock).
    Attempt Control(const QString& statement);
    // The probes of ErrorOf.
    Failure Sharpen(const StatementFailed& failed, FailurePlace& place);
    // After a refusal that the codes do not tell apart: true when a row with the inserted
    // primary key values exists.
    bool KeyExists(const StatementNames& names, const QVariantList& inserted);

    QString connectionName_;
    QString description_;
    Dialect dialect_;
    const WaitSettings& wait_;
    bool inTransaction_ = false;
    bool inUnit_ = false;
    bool broken_ = false;
    std::optional<SessionIdentity> identity_;
    QString sqlitePath_;
    QString restoreJournalMode_;  // the mode to restore at close; empty when none was changed
    std::unique_ptr<Extra> extra_;
    QHash<QString, std::shared_ptr<QSqlQuery>> prepared_;
    QHash<QString, QSqlQuery> controls_;  // see Control
    std::unordered_map<const char*, std::unique_ptr<CachedStatement>> statements_;
    QHash<QString, QList<ColumnInfo>> columns_;
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

}  // namespace db
