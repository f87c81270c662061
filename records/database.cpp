#include "records/database.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlQuery>

#include "core/error.h"
#include "records/target.h"

namespace db {
namespace {

// A dry run's unit of work.
constexpr const char* kUnitSavepoint = "importflx_device";

// Between two tries to reach a server that went away, and two looks at a lost session that is
// being ended.
constexpr int kServerPollMs = 250;
constexpr int kSessionPollMs = 20;
// A server that loses every session it gives is not waited for without end.
constexpr int kMaxReconnects = 5;

}  // namespace

Database::Database(QString connectionString) : connectionString_(std::move(connectionString)) {}

Database::~Database() {
    Close();
}

Connection& Database::connection() {
    if (connection_ != nullptr && connection_->broken()) {
        connection_.reset();
    }
    if (connection_ == nullptr) {
        connection_ = Connection::Open(connectionString_, wait_);
    }
    return *connection_;
}

std::optional<AppError> Database::Close() {
    if (dryRun_) {
        EndDryRun();
    }
    if (connection_ == nullptr) {
        return std::nullopt;
    }
    QString failure;
    const JournalEnd end = connection_->RestoreJournalMode(&failure);
    const QString path = connection_->sqlitePath();
    connection_.reset();
    if (end != JournalEnd::kFailed) {
        return std::nullopt;
    }
    const QFileInfo log(WriteAheadLogPath(path));
    if (!log.exists() || log.size() == 0) {
        return AppError(ErrNo::kDbFail,
                        QString("The database '%1' holds every change, but it could not be put "
                                "back in its own journal mode (%2). importflx does it when it "
                                "next opens the file.")
                            .arg(path, failure),
                        kSource, ErrorKind::kOther);
    }
    return AppError(ErrNo::kDbDiskFull,
                    QString("The latest changes to the database '%1' could not be copied into it "
                            "(%2), so they are kept in '%3' beside it. Keep that file with the "
                            "database, and copy the two together; importflx copies the changes "
                            "into the database when it next opens it.")
                        .arg(path, failure, log.filePath()),
                    kSource, ErrorKind::kDiskFull);
}

std::optional<AppError> Database::EndOfRun() {
    if (connection_ == nullptr || connection_->sqlitePath().isEmpty() || dryRun_) {
        return std::nullopt;
    }
    return Close();
}

void Database::BeginDryRun() {
    dryRun_ = true;
}

void Database::EndDryRun() {
    if (!dryRun_) {
        return;
    }
    dryRun_ = false;
    if (connection_ != nullptr && !connection_->broken()) {
        RestoreSequences(*connection_);
        connection_->Rollback();
    }
    sequences_.reset();
}

bool Database::ReconnectAfter(const AppError& error, int& reconnects, bool commitSent) {
    if (error.kind() != ErrorKind::kConnectionLost || ++reconnects > kMaxReconnects) {
        return false;
    }
    if (connection_ != nullptr && (connection_->inUnit() || !connection_->broken())) {
        return false;  // the unit's own failure, or one on this side of the connection
    }
    if (dryRun_) {
        EndDryRun();
        connection_.reset();
        throw AppError(
            error.number(),
            error.description() +
                QStringLiteral(" The dry run ended with the session; nothing was stored."),
            error.source(), error.kind());
    }
    try {
        WaitForServer();
    } catch (const AppError& away) {
        if (!commitSent || away.kind() != ErrorKind::kConnectionLost) {
            throw;
        }
        throw AppError(away.number(),
                       away.description() +
                           QStringLiteral(" Whether the rows whose commit was on its way were "
                                          "stored is not known."),
                       away.source(), away.kind());
    }
    return true;
}

void Database::WaitForServer() {
    std::optional<SessionIdentity> lost;
    if (connection_ != nullptr) {
        lost = connection_->identity();
    }
    connection_.reset();
    std::optional<AppError> away;
    qint64 waited = 0;
    const bool back = WaitWhile(
        wait_, DescribeConnection(connectionString_), DatabaseWait::kServerGone, kServerPollMs,
        [&] {
            try {
                connection();
                return true;
            } catch (const AppError& error) {
                if (error.kind() != ErrorKind::kConnectionLost) {
                    throw;
                }
                away = error;
                return false;
            }
        },
        waited);
    if (!back) {
        throw AppError(
            away->number(),
            away->description() + QStringLiteral(" The server did not come back within %1 seconds.")
                                      .arg(waited / 1000),
            away->source(), away->kind());
    }
    if (lost) {
        EndLostSession(*lost);
    }
}

void Database::EndLostSession(const SessionIdentity& lost) {
    Connection& session = connection();
    const QString end = session.dialect().EndSessionStatement();
    if (end.isEmpty()) {
        return;
    }
    const auto run = [&](const QString& text) {
        QSqlQuery query(session.database());
        query.prepare(text);
        query.addBindValue(lost.process);
        query.addBindValue(lost.started);
        return query.exec() && query.next();
    };
    // After a restart of the server the session is gone already; after a break in the network
    // it may still sit in its transaction until the server notices.
    if (!run(end)) {
        return;
    }
    const qint64 start = wait_.Now();
    while (run(session.dialect().SessionAliveQuery()) && wait_.Now() - start < wait_.Limit()) {
        wait_.Pause(kSessionPollMs);
    }
}

Attempt Database::BeginUnit(Connection& connection) {
    if (!dryRun_) {
        connection.NoteIdentity();
        return connection.TryBegin();
    }
    if (!connection.InTransaction()) {
        const Attempt begun = connection.TryBegin();
        if (!begun.ok()) {
            return begun;
        }
        NoteSequences(connection);
    }
    connection.ExecDirect(connection.dialect().Savepoint(kUnitSavepoint));
    return {};
}

Attempt Database::CommitUnit(Connection& connection) {
    if (!dryRun_) {
        return connection.TryCommit();
    }
    connection.ExecDirect(connection.dialect().ReleaseSavepoint(kUnitSavepoint));
    return {};
}

void Database::RollbackUnit(Connection& connection) {
    if (!dryRun_) {
        connection.Rollback();
        return;
    }
    const Dialect& dialect = connection.dialect();
    if (!connection.ExecDirect(dialect.RollbackToSavepoint(kUnitSavepoint)) ||
        !connection.ExecDirect(dialect.ReleaseSavepoint(kUnitSavepoint))) {
        // Without savepoints the run's transaction goes with the unit.
        connection.Rollback();
    }
}

void Database::NoteSequences(Connection& connection) {
    const QString query = connection.dialect().SequencesQuery();
    if (query.isEmpty() || sequences_) {
        return;
    }
    std::vector<Sequence> sequences;
    for (const schema::Table* table : schema::kTables) {
        // Read inside the transaction, once the lock is held; a table that is not there must
        // not end the transaction.
        const QString guard = connection.dialect().Savepoint("importflx_sequences");
        connection.ExecDirect(guard);
        QSqlQuery rows(connection.database());
        rows.prepare(query);
        rows.addBindValue(QString::fromLatin1(table->name));
        rows.addBindValue(QString::fromLatin1(table->name));
        if (rows.exec()) {
            while (rows.next()) {
                sequences.push_back({rows.value(0).toString(), rows.value(1), rows.value(2)});
            }
            connection.ExecDirect(connection.dialect().ReleaseSavepoint("importflx_sequences"));
        } else {
            connection.ExecDirect(connection.dialect().RollbackToSavepoint("importflx_sequences"));
        }
    }
    sequences_ = std::move(sequences);
}

void Database::RestoreSequences(Connection& connection) {
    if (!sequences_) {
        return;
    }
    // What this run left, read before the rollback: sequences do not roll back.
    std::vector<QVariant> left;
    for (const Sequence& sequence : *sequences_) {
        QSqlQuery query(connection.database());
        query.prepare(QStringLiteral("SELECT pg_sequence_last_value(CAST(? AS regclass))"));
        query.addBindValue(sequence.name);
        left.push_back(query.exec() && query.next() ? query.value(0) : QVariant());
    }
    connection.Rollback();
    for (std::size_t i = 0; i < sequences_->size(); ++i) {
        const Sequence& sequence = sequences_->at(i);
        const bool drawn = !sequence.lastValue.isNull();
        QSqlQuery set(connection.database());
        set.prepare(connection.dialect().SetSequenceStatement());
        set.addBindValue(sequence.name);
        set.addBindValue(drawn ? sequence.lastValue : sequence.startValue);
        set.addBindValue(drawn);
        set.addBindValue(sequence.name);
        set.addBindValue(left.at(i));
        set.exec();
    }
    sequences_.reset();
}

WaitingScope::WaitingScope(Database& database, Waiter* waiter)
    : database_(database), previous_(database.wait().waiter) {
    database_.wait().waiter = waiter;
}

WaitingScope::~WaitingScope() {
    database_.wait().waiter = previous_;
}

void CheckTables(Database& database) {
    Connection& connection = database.connection();
    for (const schema::Table* table : schema::kTables) {
        const QString name = QString::fromLatin1(table->name);
        for (const char* column : table->columns) {
            // Columns() raises for a missing table.
            if (connection.FindColumn(name, QString::fromLatin1(column)) == nullptr) {
                throw AppError(ErrNo::kDbNoObject,
                               QStringLiteral("The database '%1' has no column '%2'.")
                                   .arg(connection.description(), QString::fromLatin1(column)),
                               QStringLiteral("importflx database"), ErrorKind::kMissing);
            }
        }
    }
}

void RunUnitOnce(Database& database, const std::function<void(Connection&)>& body,
                 const std::function<void()>& beforeEachTry, bool& commitSent) {
    Connection& connection = database.connection();
    connection.setInUnit(true);
    auto leave = qScopeGuard([&connection] { connection.setInUnit(false); });
    std::optional<StatementFailed> failed;
    qint64 waited = 0;
    const Attempt result = RetryWhileBusy(
        database.wait(), connection.description(),
        [&]() -> Attempt {
            failed.reset();
            commitSent = false;
            if (beforeEachTry) {
                beforeEachTry();
            }
            const Attempt begun = database.BeginUnit(connection);
            if (!begun.ok()) {
                failed = StatementFailed{begun, Step::kBegin, {}, {}};
                return begun;
            }
            try {
                body(connection);
            } catch (StatementFailed& statement) {
                database.RollbackUnit(connection);
                failed = std::move(statement);
                return failed->attempt;
            } catch (...) {
                database.RollbackUnit(connection);
                throw;
            }
            commitSent = true;
            const Attempt committed = database.CommitUnit(connection);
            if (!committed.ok()) {
                // The store may already have given the transaction up (a full disk); make sure
                // that none stays open either way.
                database.RollbackUnit(connection);
                failed = StatementFailed{committed, Step::kCommit, {}, {}};
            }
            return committed;
        },
        &waited);
    leave.dismiss();
    connection.setInUnit(false);
    if (!result.ok()) {
        throw connection.ErrorOf(*failed, waited);
    }
}

void RunUnit(Database& database, const std::function<void(Connection&)>& body,
             const std::function<void()>& beforeEachTry,
             const std::function<bool(Connection&)>& foundAfterLoss) {
    int reconnects = 0;
    for (;;) {
        bool commitSent = false;
        try {
            RunUnitOnce(database, body, beforeEachTry, commitSent);
            return;
        } catch (const AppError& error) {
            if (!database.ReconnectAfter(error, reconnects, commitSent)) {
                throw;
            }
        }
        if (commitSent && foundAfterLoss && foundAfterLoss(database.connection())) {
            return;
        }
    }
}

}  // namespace db
