#include "records/database.h"

#include <QScopeGuard>
#include <QSqlQuery>

#include "core/error.h"

namespace db {
namespace {

// A dry run's unit of work.
constexpr const char* kUnitSavepoint = "importflx_device";

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

void Database::Close() {
    if (dryRun_) {
        EndDryRun();
    }
    connection_.reset();
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

Attempt Database::BeginUnit(Connection& connection) {
    if (!dryRun_) {
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

void RunUnit(Database& database, const std::function<void(Connection&)>& body,
             const std::function<void()>& beforeEachTry) {
    Connection& connection = database.connection();
    connection.setInUnit(true);
    const auto leave = qScopeGuard([&connection] { connection.setInUnit(false); });
    std::optional<StatementFailed> failed;
    qint64 waited = 0;
    const Attempt result = RetryWhileBusy(
        database.wait(), connection.description(),
        [&]() -> Attempt {
            failed.reset();
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
    if (!result.ok()) {
        throw connection.ErrorOf(*failed, waited);
    }
}

}  // namespace db
