#include "records/connection.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <QThread>
#include <algorithm>

#include "core/error.h"
#include "core/platform.h"
#include "records/journal.h"

namespace db {
namespace {

// How long a wait pauses between two tries (each of which waits briefly by itself), and lets
// the waiter answer the user.
constexpr int kPollMs = 20;

// Guards a statement inside a dry run's transaction on PostgreSQL, where a failed statement
// would abort the whole of it.
constexpr const char* kStatementSavepoint = "importflx_statement";

}  // namespace

qint64 WaitSettings::Now() const {
    if (clock) {
        return clock();
    }
    static QElapsedTimer steady = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return steady.elapsed();
}

void WaitSettings::Pause(int milliseconds) const {
    pause ? pause(milliseconds) : QThread::msleep(milliseconds);
}

AppError WaitCancelled(const QString& database) {
    return AppError(
        ErrNo::kDbWaitCancelled,
        QString("The import was cancelled while it waited for the database '%1'.").arg(database),
        kSource, ErrorKind::kCancelled);
}

bool WaitWhile(const WaitSettings& wait, const QString& database, DatabaseWait what, int pollMs,
               const std::function<bool()>& tryOnce, qint64& waitedMs) {
    const qint64 limit = wait.Limit();
    qint64 start = -1;
    waitedMs = 0;
    bool told = false;
    const auto over = qScopeGuard([&] {
        if (told) {
            wait.waiter->WaitOver();
        }
    });
    for (;;) {
        if (tryOnce()) {
            return true;
        }
        const qint64 now = wait.Now();
        start = start < 0 ? now : start;
        waitedMs = now - start;
        if (waitedMs >= limit) {
            return false;
        }
        if (wait.waiter != nullptr) {
            told = true;
            if (!wait.waiter->KeepWaiting(waitedMs, what)) {
                throw WaitCancelled(database);
            }
        }
        wait.Pause(pollMs);
    }
}

Attempt RetryWhileBusy(const WaitSettings& wait, const QString& database,
                       const std::function<Attempt()>& attempt, qint64* waitedMs) {
    Attempt result;
    qint64 waited = 0;
    const auto saveWaited = qScopeGuard([&] {
        if (waitedMs != nullptr) {
            *waitedMs = waited;
        }
    });
    WaitWhile(
        wait, database, DatabaseWait::kInUse, kPollMs,
        [&] {
            result = attempt();
            return result.failure != Failure::kBusy;
        },
        waited);
    return result;
}

Connection::Connection(QString connectionName, QString description, Dialect dialect,
                       const WaitSettings& wait)
    : connectionName_(std::move(connectionName)),
      description_(std::move(description)),
      dialect_(dialect),
      wait_(wait) {}

Connection::~Connection() {
    Rollback();
    extra_.reset();
    controls_.clear();
    prepared_.clear();
    statements_.clear();
    // Fails harmlessly while another importer has the file open (the last one puts it back),
    // and leaves the note for the next session when the log cannot be copied back.
    RestoreJournalMode();
    {
        QSqlDatabase database = QSqlDatabase::database(connectionName_, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

void Connection::UseWriteAheadLog(const QString& path) {
    sqlitePath_ = path;
    restoreJournalMode_ = db::UseWriteAheadLog(database(), path);
    QSqlQuery query(database());
    if (!query.exec("PRAGMA journal_mode") || !query.next() ||
        query.value(0).toString().toLower() != QLatin1String("wal")) {
        return;
    }
    query.finish();
    query.exec("PRAGMA synchronous=NORMAL");
    // Copying the log back into the database flushes both files to disk. SQLite does it every
    // 1,000 pages (about 90 files of an import); on a disk busy with other writes those flushes
    // made an import up to half again as long. Every 4,096 pages they come a quarter as often,
    // while one copy still holds the window's event loop for only about 30 ms.
    query.exec("PRAGMA wal_autocheckpoint=4096");
}

JournalEnd Connection::RestoreJournalMode(QString* failure) {
    if (restoreJournalMode_.isEmpty()) {
        return JournalEnd::kNothingToDo;
    }
    Rollback();
    // Statements that are kept prepared would hold the file open for reading.
    extra_.reset();
    controls_.clear();
    prepared_.clear();
    statements_.clear();
    const JournalEnd end =
        db::RestoreJournalMode(database(), sqlitePath_, restoreJournalMode_, failure);
    restoreJournalMode_.clear();
    return end;
}

QSqlDatabase Connection::database() const {
    return QSqlDatabase::database(connectionName_, false);
}

void* Connection::NativeHandle() const {
    const QVariant handle = database().driver()->handle();
    // The type names as the drivers register them (PGconn is libpq's name for struct pg_conn).
    static const char* const kHandles[] = {"sqlite3*", "pg_conn*", "PGconn*"};
    if (!handle.isValid() ||
        std::none_of(std::begin(kHandles), std::end(kHandles),
                     [&](const char* name) { return qstrcmp(handle.typeName(), name) == 0; })) {
        return nullptr;
    }
    return *static_cast<void* const*>(handle.constData());
}

CachedStatement& Connection::Statement(const sql::Statement& statement) {
    const auto found = statements_.find(statement.text);
    if (found != statements_.end()) {
        return *found->second;
    }
    auto cached = std::make_unique<CachedStatement>();
    cached->statement = &statement;
    cached->names.table = QString::fromUtf8(statement.table->name);
    for (const char* column : statement.columns) {
        cached->names.columns << QString::fromUtf8(column);
    }
    if (statement.kind == sql::Kind::kInsert) {
        for (const QString& column : cached->names.columns) {
            cached->boundColumns.push_back(FindColumn(cached->names.table, column));
        }
    }
    return *statements_.emplace(statement.text, std::move(cached)).first->second;
}

QSqlQuery& Connection::Prepared(CachedStatement& statement) {
    if (!statement.query) {
        statement.query.emplace(Prepared(dialect_.Form(*statement.statement), statement.names));
    }
    return *statement.query;
}

QSqlQuery& Connection::Prepared(const QString& sqlText, const StatementNames& names) {
    auto it = prepared_.find(sqlText);
    if (it != prepared_.end()) {
        return **it;
    }
    auto query = std::make_shared<QSqlQuery>(database());
    query->setForwardOnly(true);
    // Preparing reads the schema, which another program's commit may hold a moment.
    qint64 waited = 0;
    const Attempt result = RetryWhileBusy(
        wait_, description_,
        [&] {
            return query->prepare(sqlText)
                       ? Attempt{}
                       : Attempt{dialect_.Classify(
                                     DiagnosticOf(dialect_.driver(), query.get(), database())),
                                 DiagnosticOf(dialect_.driver(), query.get(), database())};
        },
        &waited);
    if (!result.ok()) {
        throw ErrorOf({result, Step::kPrepare, names, {}}, waited);
    }
    return **prepared_.insert(sqlText, query);
}

Attempt Connection::TryRun(QSqlQuery& query) {
    if (query.exec()) {
        return {};
    }
    const Diagnostic diagnostic = DiagnosticOf(dialect_.driver(), &query, database());
    // The driver's statement is reset before it runs again (ODBC refuses otherwise).
    query.finish();
    return {dialect_.Classify(diagnostic), diagnostic};
}

void Connection::Run(QSqlQuery& query, Step step, const StatementNames& names) {
    if (inUnit_) {
        // The unit waits for a busy database and a lost server itself, running its body again
        // from the start: where a failed statement aborts the transaction, running the
        // statement again could only fail.
        const Attempt result = TryRun(query);
        if (!result.ok()) {
            throw StatementFailed{result, step, names,
                                  step == Step::kWrite ? query.boundValues() : QVariantList()};
        }
        return;
    }
    // Outside a unit of work but inside a dry run's transaction, a refused statement must not
    // take the rest of the run with it. (A unit rolls back whole anyway.) The savepoint is not
    // released after a success: that would end the reading of the statement's rows.
    const bool guarded = inTransaction_ && !inUnit_ &&
                         dialect_.FailedStatementAbortsTransaction() &&
                         ExecDirect(dialect_.Savepoint(kStatementSavepoint));
    qint64 waited = 0;
    const Attempt result = RetryWhileBusy(
        wait_, description_, [&] { return TryRun(query); }, &waited);
    if (guarded && !result.ok()) {
        ExecDirect(dialect_.RollbackToSavepoint(kStatementSavepoint));
    }
    if (!result.ok()) {
        throw ErrorOf(
            {result, step, names, step == Step::kWrite ? query.boundValues() : QVariantList()},
            waited);
    }
}

bool Connection::ExecDirect(const QString& sqlText) {
    if (sqlText.isEmpty()) {
        return false;
    }
    QSqlQuery query(database());
    return query.exec(sqlText);
}

const QList<ColumnInfo>& Connection::Columns(const QString& table) {
    const QString key = table.toLower();
    auto it = columns_.find(key);
    if (it != columns_.end()) {
        return *it;
    }
    QList<ColumnInfo> columns;
    const QString catalog = dialect_.ColumnsQuery();
    if (catalog.isEmpty()) {
        const QSqlRecord record = database().record(table);
        for (int i = 0; i < record.count(); ++i) {
            const QSqlField field = record.field(i);
            const bool text = field.metaType().id() == QMetaType::QString;
            columns.append(ColumnInfo{
                field.name(), QString::fromLatin1(field.metaType().name()),
                text && field.length() > 0 ? std::optional<int>(field.length()) : std::nullopt,
                false});
        }
    } else {
        QSqlQuery& query = Prepared(catalog, {table, {}});
        query.addBindValue(table);
        Run(query, Step::kCatalog, {table, {}});
        while (query.next()) {
            const QString type = query.value(1).toString();
            const int width = query.value(2).isNull() ? Dialect::WidthOfDeclaredType(type)
                                                      : query.value(2).toInt();
            columns.append(ColumnInfo{query.value(0).toString(), type,
                                      width >= 0 ? std::optional<int>(width) : std::nullopt,
                                      query.value(3).toBool()});
        }
        query.finish();
    }
    if (columns.isEmpty()) {
        throw AppError(ErrNo::kDbNoObject,
                       QString("The database '%1' has no table '%2'.").arg(description_, table),
                       kSource, ErrorKind::kMissing);
    }
    return *columns_.insert(key, columns);
}

const ColumnInfo* Connection::FindColumn(const QString& table, const QString& column) {
    const auto key = std::make_pair(table, column);
    auto it = columnCache_.find(key);
    if (it == columnCache_.end()) {
        std::optional<ColumnInfo> found;
        for (const ColumnInfo& info : Columns(table)) {
            if (info.name.compare(column, Qt::CaseInsensitive) == 0) {
                found = info;
                break;
            }
        }
        it = columnCache_.emplace(key, std::move(found)).first;
    }
    return it->second ? &*it->second : nullptr;
}

Attempt Connection::Control(const QString& statement) {
    // On SQLite they are prepared once: thousands of devices begin and commit one each.
    std::optional<QSqlQuery> once;
    QSqlQuery* query = nullptr;
    if (dialect_.driver() == Driver::kSqlite) {
        auto it = controls_.find(statement);
        if (it == controls_.end()) {
            it = controls_.insert(statement, QSqlQuery(database()));
            it->prepare(statement);
        }
        query = &*it;
    } else {
        query = &once.emplace(database());
    }
    const bool done = dialect_.driver() == Driver::kSqlite ? query->exec() : query->exec(statement);
    if (done) {
        query->finish();
        return {};
    }
    const Diagnostic diagnostic = DiagnosticOf(dialect_.driver(), query, database());
    query->finish();
    return {dialect_.Classify(diagnostic), diagnostic};
}

Attempt Connection::TryBegin() {
    const QStringList steps = dialect_.BeginUnit();
    Attempt begun;
    if (steps.isEmpty()) {
        if (!database().transaction()) {
            const Diagnostic diagnostic = DiagnosticOf(dialect_.driver(), nullptr, database());
            begun = {dialect_.Classify(diagnostic), diagnostic};
        }
    }
    for (const QString& step : steps) {
        if (!(begun = Control(step)).ok()) {
            break;
        }
    }
    inTransaction_ = true;
    if (!begun.ok()) {
        // A half-begun transaction (begun, but another importer holds the lock) ends here.
        Rollback();
    }
    return begun;
}

Attempt Connection::TryCommit() {
    const QString statement = dialect_.CommitStatement();
    if (statement.isEmpty()) {
        if (database().commit()) {
            inTransaction_ = false;
            return {};
        }
        const Diagnostic diagnostic = DiagnosticOf(dialect_.driver(), nullptr, database());
        return {dialect_.Classify(diagnostic), diagnostic};
    }
    const Attempt committed = Control(statement);
    if (committed.ok()) {
        inTransaction_ = false;
    }
    return committed;
}

void Connection::Rollback() {
    if (!inTransaction_) {
        return;
    }
    inTransaction_ = false;
    const QString statement = dialect_.RollbackStatement();
    statement.isEmpty() ? (void)database().rollback() : (void)Control(statement);
}

void Connection::NoteIdentity() {
    const QString query = dialect_.SessionIdentityQuery();
    if (identity_ || query.isEmpty()) {
        return;
    }
    QSqlQuery identity(database());
    if (identity.exec(query) && identity.next()) {
        identity_ = SessionIdentity{identity.value(0).toLongLong(), identity.value(1).toString()};
    }
}

bool Connection::KeyExists(const StatementNames& names, const QVariantList& inserted) {
    const QSqlIndex key = database().primaryIndex(names.table);
    if (key.isEmpty() || names.table.isEmpty()) {
        return false;
    }
    QStringList conditions;
    QVariantList values;
    for (int i = 0; i < key.count(); ++i) {
        const auto at = std::find_if(names.columns.begin(), names.columns.end(), [&](auto& c) {
            return c.compare(key.fieldName(i), Qt::CaseInsensitive) == 0;
        });
        const qsizetype index = at - names.columns.begin();
        if (at == names.columns.end() || index >= inserted.size()) {
            return false;
        }
        conditions << dialect_.Column(key.fieldName(i)) + QStringLiteral(" = ?");
        values << inserted.at(index);
    }
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE %2")
                      .arg(dialect_.Table(names.table), conditions.join(QStringLiteral(" AND "))));
    for (const QVariant& value : values) {
        query.addBindValue(value);
    }
    return query.exec() && query.next();
}

Failure Connection::Sharpen(const StatementFailed& failed, FailurePlace& place) {
    Failure failure = failed.attempt.failure;
    if (failure == Failure::kConnectionLost) {
        // Without a code the statement may have failed on this side: the session tells.
        QSqlQuery probe(database());
        if (failed.attempt.diagnostic.sqlState.isEmpty() && database().isOpen() &&
            probe.exec(QStringLiteral("SELECT 1"))) {
            failure = Failure::kOther;
        } else {
            broken_ = true;
        }
    }
    if (failure == Failure::kIntegrityUnknown) {
        failure =
            KeyExists(failed.names, failed.values) ? Failure::kDuplicateKey : Failure::kIntegrity;
    }
    if ((failure == Failure::kStatement || failure == Failure::kNoObject) &&
        !place.table.isEmpty() && failed.step != Step::kCatalog) {
        Columns(place.table);  // raises for a missing table
        for (const QString& column : failed.names.columns) {
            if (FindColumn(place.table, column) == nullptr) {
                place.missingColumn = column;
                failure = Failure::kNoObject;
                break;
            }
        }
    }
    if (failure == Failure::kDuplicateKey) {
        const QSqlIndex key = database().primaryIndex(place.table);
        for (int i = 0; i < key.count(); ++i) {
            place.keyColumns << place.table + '.' + key.fieldName(i);
        }
    }
    return failure;
}

AppError Connection::ErrorOf(const StatementFailed& failed, qint64 waitedMs) {
    FailurePlace place;
    place.step = failed.step;
    place.database = description_;
    place.file =
        dialect_.system() == System::kSqlite ? QFileInfo(description_).fileName() : description_;
    place.table = failed.names.table;
    place.waitedSeconds = static_cast<int>(waitedMs / 1000);
    place.writesBefore = failed.writesBefore;
    try {
        const Failure failure = Sharpen(failed, place);
        return DescribeFailure(failure, place, failed.attempt.diagnostic.text);
    } catch (const AppError& error) {
        return error;  // a probe found the table itself missing
    }
}

}  // namespace db
