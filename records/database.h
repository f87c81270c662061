#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "records/connection.h"

namespace db {

// The equipment database that a window or a batch run works on, named by its connection string
// (records/target.h). Nothing is opened until the first statement needs it, and a session whose
// server went away is opened anew at the next one. Everything it opens hangs off it and goes
// with it: there is no other copy of a session anywhere in the program, and two Database objects
// on the same file are two independent sessions.
class Database {
  public:
    explicit Database(QString connectionString);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const QString& connectionString() const { return connectionString_; }
    // The open session, opened first when there is none or the last one broke. Raises the
    // AppError that tells why the database cannot be opened.
    Connection& connection();
    bool isOpen() const { return connection_ != nullptr; }
    // Closes the session (a dry run's changes are given back first); the next use opens it again.
    // Returns what the user must be told when an SQLite file could not be put back in its own
    // journal mode (EndOfRun).
    std::optional<AppError> Close();
    // The end of a run: an SQLite file that the session put in write-ahead-log mode is put back
    // in its own mode (the session is closed for it), so that the file alone holds everything
    // committed. When the log cannot be copied back (a full disk), returns the error that says
    // so and names the log file that must stay beside the database; the next session that opens
    // the file copies it back first (records/journal.h).
    std::optional<AppError> EndOfRun();

    // How long a busy database is waited for and who is told (see WaitSettings).
    WaitSettings& wait() { return wait_; }

    // After `error`, raised by work on this database outside a unit of work's body: true when
    // the work may run again from its start because the session's server went away and came
    // back (WaitForServer). False when the work must end with `error`: another failure, a dry
    // run (its transaction went with the session), or `reconnects` (the caller's count of the
    // times its work came back here, raised by one) past a few. Raises what WaitForServer
    // raises; when the work's commit was sent but not answered (`commitSent`), its text says
    // that whether the work was stored is not known.
    bool ReconnectAfter(const AppError& error, int& reconnects, bool commitSent = false);
    // Waits for the server of a session that went away, as for a busy database: tries to open a
    // session every quarter of a second, telling the waiter (DatabaseWait::kServerGone) from the
    // first failed try on, until the wait limit. Once connected, ends the lost session at the
    // server if it is still there (it may hold the importers' lock in a transaction that
    // nobody will finish) and waits until it is gone, so that whatever it was doing is over.
    // Raises ErrNo::kDbWaitCancelled when the waiter stops the wait, the failure to connect
    // (ErrorKind::kConnectionLost) when the server did not come back, and any other failure to
    // open at once.
    void WaitForServer();

    // A dry run: while it lasts, the units of work of the run go into one transaction that holds
    // the database from the first unit on, each unit a savepoint of it, and nothing is ever
    // committed. EndDryRun gives everything back, PostgreSQL's key counters included.
    void BeginDryRun();
    void EndDryRun();
    bool dryRun() const { return dryRun_; }

  private:
    friend void RunUnitOnce(Database& database, const std::function<void(Connection&)>& body,
                            const std::function<void()>& beforeEachTry, bool& commitSent);
    // The start and end of one unit, in its own transaction or as a savepoint of a dry run's.
    Attempt BeginUnit(Connection& connection);
    Attempt CommitUnit(Connection& connection);
    void RollbackUnit(Connection& connection);
    // PostgreSQL's key counters at the start of a dry run, and setting them back at its end.
    void NoteSequences(Connection& connection);
    void RestoreSequences(Connection& connection);
    // Ends the session `lost` at the server and waits until it is gone (see WaitForServer).
    void EndLostSession(const SessionIdentity& lost);

    QString connectionString_;
    WaitSettings wait_;
    bool dryRun_ = false;
    struct Sequence {
        QString name;
        QVariant lastValue;  // null: never drawn from
        QVariant startValue;
    };
    std::optional<std::vector<Sequence>> sequences_;
    std::unique_ptr<Connection> connection_;  // after wait_, which it refers to
};

// Tells `waiter` about the waits of `database` while the scope lives.
class WaitingScope {
  public:
    WaitingScope(Database& database, Waiter* waiter);
    ~WaitingScope();
    WaitingScope(const WaitingScope&) = delete;
    WaitingScope& operator=(const WaitingScope&) = delete;

  private:
    Database& database_;
    Waiter* previous_;
};

// Runs `body` as one unit of work on `database`: in a transaction of its own that holds the
// database for every importer (inside a dry run: a savepoint of the run's transaction),
// committed when `body` returns and rolled back when it throws, so that what `body` wrote is
// stored whole or not at all. While another importer holds the database, the unit waits its
// turn and runs `body` again from its start; `body` must therefore change nothing but the
// database, and wait for nothing else. A statement that `body` finds refused is thrown as
// StatementFailed: the unit rolls back and raises its AppError. An AppError thrown by `body`
// passes, after the rollback. `beforeEachTry`, when given, runs at the start of every try, so
// that what the caller keeps of a try is always the last one's.
//
// When the server goes away, the unit waits for it (Database::ReconnectAfter) and runs again on
// a new session: a unit that did not get to send its commit left nothing. One whose commit was
// sent but not answered may have been stored: `foundAfterLoss`, asked on the new session, tells
// whether it was (true: the unit is done; false: it runs again; it may raise when it cannot
// tell). Without it the unit runs again, which suits only a unit that finds its own earlier
// work (adding a row unless it is there).
void RunUnit(Database& database, const std::function<void(Connection&)>& body,
             const std::function<void()>& beforeEachTry = {},
             const std::function<bool(Connection&)>& foundAfterLoss = {});

// Raises ErrNo::kDbNoObject, naming the table or column, when the database lacks a table or
// column that an import reads or writes (records/schema.h), so that a database that cannot take
// a whole file is refused before any row goes into it.
void CheckTables(Database& database);

}  // namespace db
