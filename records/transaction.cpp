// The transactions of the shared connections: the unit of one file's import and the lock that
// all importers take with it, waiting for a database that another program holds, the scopes
// that group a file's writes, and the dry run.
#include <QThread>

#include "core/error.h"
#include "records/connection.h"
#include "records/connection_detail.h"

namespace db {
namespace {

using detail::kSource;

// How long a wait pauses between two attempts (each of which waits briefly by itself), and lets
// the waiter answer the user.
constexpr int kPollMs = 20;

// The tables whose serial keys a dry run sets back.
const char* const kImportTables[] = {"tblManufacturers", "tblEquipment", "tblInputs", "tblOutputs"};

}  // namespace

void Connection::SetWaitLimitForTesting(int milliseconds) {
    detail::waitLimitForTesting = milliseconds;
}

void Connection::BeforeStatement() {
    if (DeferredCommits::Active() && !inTransaction_ && !opening_) {
        Begin();
    }
}

bool Connection::WaitTurn(QElapsedTimer& waited, bool& told) {
    Waiter* const waiter = detail::waiter;
    lastWaitLimitMs_ = waiter == nullptr                 ? kBusyTimeoutMs
                       : detail::waitLimitForTesting > 0 ? detail::waitLimitForTesting
                                                         : kWaitLimitMs;
    if (!waited.isValid()) {
        waited.start();
    }
    if (waited.elapsed() >= lastWaitLimitMs_) {
        return false;
    }
    if (waiter != nullptr) {
        told = true;
        if (!waiter->KeepWaiting(waited.elapsed())) {
            EndWait(told);
            throw AppError(ErrNo::kDbWaitCancelled,
                           QString("The import was cancelled while it waited for the database "
                                   "'%1'.")
                               .arg(description_),
                           kSource);
        }
    }
    QThread::msleep(kPollMs);
    return true;
}

void Connection::EndWait(bool told) {
    if (told && detail::waiter != nullptr) {
        detail::waiter->WaitOver();
    }
}

void Connection::Begin() {
    if (inTransaction_) {
        return;
    }
    const QStringList steps = dialect_.BeginUnit();
    QElapsedTimer waited;
    bool told = false;
    for (;;) {
        QSqlQuery query(database());
        bool begun = steps.isEmpty() ? database().transaction() : true;
        for (const QString& step : steps) {
            begun = query.exec(step);
            if (!begun) {
                break;
            }
        }
        if (begun) {
            break;
        }
        const Diagnostic diagnostic =
            DiagnosticOf(dialect_.driver(), steps.isEmpty() ? nullptr : &query, database());
        const Failure failure = dialect_.Classify(diagnostic);
        // A half-begun transaction (begun, but another importer holds the lock) ends here.
        QSqlQuery rollback(database());
        ExecDirect(rollback, dialect_.RollbackStatement());
        if (failure == Failure::kBusy && WaitTurn(waited, told)) {
            continue;
        }
        EndWait(told);
        Raise(failure, diagnostic, "begin", {}, {});
    }
    EndWait(told);
    inTransaction_ = true;
    savepointTaken_ = false;
    writesInTransaction_ = 0;
    if (DryRun::Active()) {
        NoteSequences();
    }
}

void Connection::HoldManufacturer(const QVariant& id) {
    const QString statement = dialect_.LockManufacturer();
    if (statement.isEmpty()) {
        return;
    }
    QSqlQuery& query = Prepared(statement, {QStringLiteral("tblManufacturers"), {}});
    query.bindValue(0, id);
    Run(query, "lock", {QStringLiteral("tblManufacturers"), {}});
    query.finish();
}

void Connection::Commit() {
    if (!inTransaction_) {
        return;
    }
    const QString statement = dialect_.CommitStatement();
    QElapsedTimer waited;
    bool told = false;
    for (;;) {
        QSqlQuery query(database());
        const bool done = statement.isEmpty() ? database().commit() : query.exec(statement);
        if (done) {
            EndWait(told);
            inTransaction_ = false;
            ++detail::commits;
            return;
        }
        const Diagnostic diagnostic =
            DiagnosticOf(dialect_.driver(), statement.isEmpty() ? nullptr : &query, database());
        const Failure failure = dialect_.Classify(diagnostic);
        // A commit that waits for readers may be tried again; the transaction stays open.
        if (failure == Failure::kBusy && WaitTurn(waited, told)) {
            continue;
        }
        EndWait(told);
        // The store may already have rolled the transaction back (a full disk); make sure no
        // transaction stays open either way.
        QSqlQuery rollback(database());
        statement.isEmpty() ? (void)database().rollback()
                            : (void)ExecDirect(rollback, dialect_.RollbackStatement());
        LoseTransaction();
        Raise(failure, diagnostic, "commit", {}, {});
    }
}

void Connection::Rollback() {
    if (!inTransaction_) {
        return;
    }
    QSqlQuery query(database());
    const QString statement = dialect_.RollbackStatement();
    statement.isEmpty() ? (void)database().rollback() : (void)ExecDirect(query, statement);
    inTransaction_ = false;
}

void Connection::LoseTransaction() {
    inTransaction_ = false;
    detail::losses.push_back(detail::commits);
}

void Connection::NoteSequences() {
    const QString query = dialect_.SequencesQuery();
    if (query.isEmpty() || sequences_) {
        return;
    }
    std::vector<Sequence> sequences;
    for (const char* table : kImportTables) {
        // Read inside the transaction, once the lock is held; a table that is not there must
        // not end the transaction.
        const bool guarded = TakeSavepoint();
        QSqlQuery rows(database());
        rows.prepare(query);
        rows.addBindValue(QString::fromLatin1(table));
        rows.addBindValue(QString::fromLatin1(table));
        if (rows.exec()) {
            while (rows.next()) {
                sequences.push_back({rows.value(0).toString(), rows.value(1), rows.value(2)});
            }
        } else if (guarded) {
            QSqlQuery back(database());
            ExecDirect(back, dialect_.RollbackToSavepoint());
        }
    }
    sequences_ = std::move(sequences);
}

void Connection::RestoreSequences() {
    if (!sequences_) {
        return;
    }
    // What this run left, read before the rollback: sequences do not roll back.
    std::vector<QVariant> left;
    for (const Sequence& sequence : *sequences_) {
        QSqlQuery query(database());
        query.prepare(QStringLiteral("SELECT pg_sequence_last_value(CAST(? AS regclass))"));
        query.addBindValue(sequence.name);
        left.push_back(query.exec() && query.next() ? query.value(0) : QVariant());
    }
    Rollback();
    for (std::size_t i = 0; i < sequences_->size(); ++i) {
        const Sequence& sequence = sequences_->at(i);
        const bool drawn = !sequence.lastValue.isNull();
        QSqlQuery set(database());
        set.prepare(dialect_.SetSequenceStatement());
        set.addBindValue(sequence.name);
        set.addBindValue(drawn ? sequence.lastValue : sequence.startValue);
        set.addBindValue(drawn);
        set.addBindValue(sequence.name);
        set.addBindValue(left.at(i));
        set.exec();
    }
    sequences_.reset();
}

DeferredCommits::DeferredCommits(Waiter* waiter) : previousWaiter_(detail::waiter) {
    ++detail::deferredScopes;
    if (waiter != nullptr) {
        detail::waiter = waiter;
    }
}

DeferredCommits::~DeferredCommits() {
    --detail::deferredScopes;
    detail::waiter = previousWaiter_;
    if (DryRun::Active()) {
        return;
    }
    for (Connection* connection : detail::LiveConnections()) {
        try {
            connection->Commit();
        } catch (const AppError&) {
            // Already rolled back by Commit; a destructor cannot report it.
        }
    }
}

bool DeferredCommits::Active() {
    return detail::deferredScopes > 0 && detail::pausedScopes == 0;
}

void DeferredCommits::Flush() {
    if (DryRun::Active()) {
        return;
    }
    for (Connection* connection : detail::LiveConnections()) {
        connection->Commit();
    }
}

std::uint64_t DeferredCommits::Mark() {
    return detail::commits;
}

std::size_t DeferredCommits::Losses() {
    return detail::losses.size();
}

std::uint64_t DeferredCommits::LastLossMark() {
    return detail::losses.empty() ? 0 : detail::losses.back();
}

DeferredCommits::Paused::Paused() : waiter_(detail::waiter) {
    Flush();
    ++detail::pausedScopes;
    detail::waiter = nullptr;
}

DeferredCommits::Paused::~Paused() {
    --detail::pausedScopes;
    detail::waiter = waiter_;
}

DryRun::DryRun() {
    ++detail::dryRuns;
}

DryRun::~DryRun() {
    if (--detail::dryRuns > 0) {
        return;
    }
    for (Connection* connection : detail::LiveConnections()) {
        connection->RestoreSequences();
        connection->Rollback();
    }
}

bool DryRun::Active() {
    return detail::dryRuns > 0;
}

}  // namespace db
