#include "records/connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <algorithm>
#include <map>

#include "core/error.h"
#include "core/platform.h"
#include "records/connection_detail.h"

namespace db {
namespace {

using detail::kSource;

// True for the steps that write a row (the names Recordset gives its inserts).
bool WritesRow(const QString& what) {
    return what == QLatin1String("execute") || what == QLatin1String("add a row");
}

// Shared connections by connection string. Ordered so that CloseAll is deterministic. Never
// destroyed by static destruction, which runs after Qt SQL's own globals are gone; the
// connections are closed when the application object goes (or by CloseAll).
std::map<QString, std::unique_ptr<Connection>>& Registry() {
    static auto* registry = new std::map<QString, std::unique_ptr<Connection>>;
    static const bool closesWithApplication = [] {
        if (QCoreApplication::instance() != nullptr) {
            qAddPostRoutine(&Connection::CloseAll);
        }
        return true;
    }();
    (void)closesWithApplication;
    return *registry;
}

// Connections whose session broke: kept until CloseAll, as a caller may still hold one.
std::vector<std::unique_ptr<Connection>>& Retired() {
    static auto* retired = new std::vector<std::unique_ptr<Connection>>;
    return *retired;
}

int nextConnectionId = 0;

// How long SQLite waits by itself for a lock before importflx's own waiting takes over.
constexpr int kDriverLockWaitMs = 100;

// The database file for a Data Source path, matched without regard to the letter case of its
// name. Raises when there is none.
QString LocateFile(const QString& dataSource) {
    if (dataSource.isEmpty()) {
        throw AppError(ErrNo::kDbFail, "The connection string names no database file.", kSource);
    }
    const QFileInfo info(dataSource);
    const QString found = platform::FindFileNoCase(info.absolutePath(), info.fileName());
    if (found.isEmpty()) {
        const QStringList folders =
            QDir(info.absolutePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        const bool isFolder = std::any_of(folders.begin(), folders.end(), [&](const QString& n) {
            return n.compare(info.fileName(), Qt::CaseInsensitive) == 0;
        });
        if (isFolder) {
            throw AppError(ErrNo::kDbFail,
                           QString("'%1' is a folder, not a database file.").arg(dataSource),
                           kSource);
        }
        throw AppError(ErrNo::kDbFail,
                       QString("Could not find the database file '%1'.").arg(dataSource), kSource);
    }
    return found;
}

enum class FileFormat { kSqlite, kAccess };

// The format of a database file by its header (an empty file is an empty SQLite database).
// Raises for a file that cannot be read or that no driver here opens.
FileFormat CheckHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw AppError(
            ErrNo::kDbReadOnly,
            QString("The database file '%1' cannot be read: %2.").arg(path, file.errorString()),
            kSource);
    }
    const QByteArray header = file.read(32);
    if (header.isEmpty() && file.size() == 0) {
        return FileFormat::kSqlite;
    }
    if (header.startsWith(QByteArray("SQLite format 3\0", 16))) {
        return FileFormat::kSqlite;
    }
    const QByteArray engine = header.mid(4, 15);
    if (engine == "Standard Jet DB" || engine == "Standard ACE DB") {
#ifdef _WIN32
        return FileFormat::kAccess;
#else
        throw AppError(ErrNo::kDbUnrecognized,
                       QString("The database file '%1' is a Microsoft Access database, a format "
                               "that cannot be opened here: importflx opens it on Windows, through "
                               "ODBC with the Microsoft Access driver. On this system, import "
                               "into an SQLite or PostgreSQL database.")
                           .arg(path),
                       kSource);
#endif
    }
    throw AppError(ErrNo::kDbUnrecognized,
                   QString("The database file '%1' is in a format that cannot be opened "
                           "here: it is not an SQLite database.")
                       .arg(path),
                   kSource);
}

// One keyword of a libpq connection string, quoted.
QString ConnectOption(const QString& key, const QString& value) {
    QString quoted = value;
    quoted.replace('\\', QLatin1String("\\\\")).replace('\'', QLatin1String("\\'"));
    return key + QStringLiteral("='") + quoted + '\'';
}

// Gives the PostgreSQL driver's `database` the settings of the PostgreSQL `target`
// (records/target.h): host, database name, user and password through the driver's own fields,
// which it quotes; every other keyword of the client library as a connect option; a connect
// timeout of 10 s unless the target gives one, so that an unreachable host does not hold the
// window. Raises when the target is malformed, or when an option's value holds a ';', which the
// driver takes for the end of the option.
void ConfigurePostgres(const QString& target, QSqlDatabase& database) {
    PostgresSettings settings;
    QString error;
    if (!ParsePostgresTarget(target, settings, error)) {
        throw AppError(ErrNo::kDbConnectionLost, error, kSource);
    }
    QStringList options;
    bool timeoutGiven = false;
    for (const auto& [key, value] : settings) {
        if (key == QLatin1String("host")) {
            database.setHostName(value);
        } else if (key == QLatin1String("dbname")) {
            database.setDatabaseName(value);
        } else if (key == QLatin1String("user")) {
            database.setUserName(value);
        } else if (key == QLatin1String("password")) {
            database.setPassword(value);
        } else if (value.contains(';')) {
            throw AppError(ErrNo::kDbConnectionLost,
                           QString("The PostgreSQL address '%1' is not valid here: the value of "
                                   "%2 holds a ';'.")
                               .arg(RedactedTarget(target), key),
                           kSource);
        } else {
            options << ConnectOption(key, value);
            timeoutGiven = timeoutGiven || key == QLatin1String("connect_timeout");
        }
    }
    if (!timeoutGiven) {
        options << ConnectOption(QStringLiteral("connect_timeout"), QStringLiteral("10"));
    }
    database.setConnectOptions(options.join(';'));
}

// Opens `database` (configured) or raises a connection failure naming `shown`.
void OpenOrRaise(QSqlDatabase& database, Driver driver, const QString& shown, const QString& name) {
    if (database.open()) {
        return;
    }
    const Diagnostic diagnostic = DiagnosticOf(driver, nullptr, database);
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    throw AppError(
        ErrNo::kDbConnectionLost,
        QString("Could not connect to the database '%1': %2").arg(shown, diagnostic.text), kSource);
}

// Qt's ODBC driver writes a warning of its own for every statement that fails, and both server
// drivers one for every statement they cannot free once the server has gone; the failure is
// reported where it is handled, so the drivers' duplicates are dropped (everything else passes).
QtMessageHandler previousHandler = nullptr;

void WithoutDriverWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && (text.startsWith(QLatin1String("QODBCResult::")) ||
                                 text.startsWith(QLatin1String("QODBCDriver::")) ||
                                 text.startsWith(QLatin1String("Unable to free statement")))) {
        return;
    }
    if (previousHandler != nullptr) {
        previousHandler(type, context, text);
    } else {
        qt_message_output(type, context, text);
    }
}

void QuietDriverWarnings() {
    static const bool installed = [] {
        previousHandler = qInstallMessageHandler(WithoutDriverWarnings);
        return true;
    }();
    (void)installed;
}

}  // namespace

std::vector<Connection*> detail::LiveConnections() {
    std::vector<Connection*> live;
    for (auto& [name, connection] : Registry()) {
        live.push_back(connection.get());
    }
    return live;
}

QString BuildConnectionString(const QString& appFolder) {
    QString folder = appFolder;
    while (folder.endsWith('/') || folder.endsWith(QDir::separator())) {
        folder.chop(1);
    }
    return ConnectionStringForFile(folder + QDir::separator() + "dbEquip.MDB");
}

QString ConnectionStringForFile(const QString& path) {
    return "Provider = Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
           ";Persist Security Info=False";
}

Connection& Connection::ForString(const QString& connectionString) {
    auto& registry = Registry();
    const auto it = registry.find(connectionString);
    if (it != registry.end()) {
        if (!it->second->broken()) {
            return *it->second;
        }
        Retired().push_back(std::move(it->second));
        registry.erase(it);
    }
    std::unique_ptr<Connection> connection = Open(connectionString);
    Connection& result = *connection;
    registry.emplace(connectionString, std::move(connection));
    return result;
}

std::unique_ptr<Connection> Connection::Open(const QString& connectionString) {
    const QString name = QString("importflx-%1").arg(++nextConnectionId);
    const QString shown = DescribeConnection(connectionString);
    switch (KindOfTarget(connectionString)) {
        case TargetKind::kPostgres: {
            {
                QSqlDatabase database = QSqlDatabase::addDatabase("QPSQL", name);
                try {
                    ConfigurePostgres(connectionString, database);
                } catch (const AppError&) {
                    database = QSqlDatabase();
                    QSqlDatabase::removeDatabase(name);
                    throw;
                }
                OpenOrRaise(database, Driver::kPostgres, shown, name);
            }
            QuietDriverWarnings();
            std::unique_ptr<Connection> connection(
                new Connection(name, shown, Dialect(System::kPostgres, Driver::kPostgres)));
            QSqlQuery setup(connection->database());
            setup.exec(connection->dialect_.ShortLockWait(kDriverLockWaitMs * 2));
            // The server's notices would reach the batch tool's standard error.
            setup.exec(QStringLiteral("SET client_min_messages = error"));
            return connection;
        }
        case TargetKind::kOdbc: {
            QuietDriverWarnings();
            System system = System::kOther;
            {
                QSqlDatabase database = QSqlDatabase::addDatabase("QODBC", name);
                const QString odbc = OdbcConnectionString(connectionString);
                database.setDatabaseName(odbc);
                OpenOrRaise(database, Driver::kOdbc, shown, name);
                system = OdbcSystem(database);
                // The SQLite driver waits for a lock by its own Timeout (100 s unless given),
                // and not by the database's setting: it is connected again to wait briefly.
                static const QRegularExpression timeout(R"((^|;)\s*Timeout\s*=)",
                                                        QRegularExpression::CaseInsensitiveOption);
                if (system == System::kSqlite && !odbc.contains(timeout)) {
                    database.close();
                    database.setDatabaseName(odbc +
                                             QStringLiteral(";Timeout=%1").arg(kDriverLockWaitMs));
                    OpenOrRaise(database, Driver::kOdbc, shown, name);
                }
            }
            std::unique_ptr<Connection> connection(
                new Connection(name, shown, Dialect(system, Driver::kOdbc)));
            const QString shortWait = connection->dialect_.ShortLockWait(kDriverLockWaitMs);
            if (!shortWait.isEmpty()) {
                QSqlQuery setup(connection->database());
                setup.exec(shortWait);
            }
            return connection;
        }
        case TargetKind::kFile:
            break;
    }
    const QString path = LocateFile(DataSourceOf(connectionString));
    if (CheckHeader(path) == FileFormat::kAccess) {
        QuietDriverWarnings();
        // Written from the driver's documentation; the driver's bitness must match the
        // program's.
        {
            QSqlDatabase database = QSqlDatabase::addDatabase("QODBC", name);
            database.setDatabaseName(
                QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=") + path);
            OpenOrRaise(database, Driver::kOdbc, path, name);
        }
        return std::unique_ptr<Connection>(
            new Connection(name, path, Dialect(System::kAccess, Driver::kOdbc)));
    }
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", name);
        database.setDatabaseName(path);
        database.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(kDriverLockWaitMs));
        if (!database.open()) {
            const QString reason = database.lastError().text();
            database = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw AppError(ErrNo::kDbFail,
                           QString("The database file '%1' cannot be opened: %2").arg(path, reason),
                           kSource);
        }
    }
    std::unique_ptr<Connection> connection(
        new Connection(name, path, Dialect(System::kSqlite, Driver::kSqlite)));
    // Reading the schema makes SQLite look at the whole header now, so that a damaged file is
    // reported as such before any statement of the import runs.
    connection->opening_ = true;
    QSqlQuery probe(connection->database());
    probe.prepare("PRAGMA schema_version");
    connection->Run(probe, "open", {});
    probe.finish();
    connection->opening_ = false;
    // An empty file is left as it is: switching its journal would write a database into it.
    if (QFileInfo(path).size() > 0) {
        connection->UseWriteAheadLog(path);
    }
    return connection;
}

void Connection::CloseAll() {
    Registry().clear();
    Retired().clear();
}

Connection::Connection(QString connectionName, QString description, Dialect dialect)
    : connectionName_(std::move(connectionName)),
      description_(std::move(description)),
      dialect_(dialect) {}

void Connection::UseWriteAheadLog(const QString& path) {
    if (platform::OnNetworkFileSystem(path)) {
        return;
    }
    QSqlQuery query(database());
    if (!query.exec("PRAGMA journal_mode") || !query.next()) {
        return;
    }
    const QString mode = query.value(0).toString().toLower();
    query.finish();
    if (mode != "wal" && query.exec("PRAGMA journal_mode=WAL") && query.next() &&
        query.value(0).toString().toLower() == "wal") {
        restoreJournalMode_ = mode;
    }
    query.finish();
    query.exec("PRAGMA synchronous=NORMAL");
    // Copying the log back into the database flushes both files to disk. SQLite does it every
    // 1,000 pages (about 90 files of an import); on a disk busy with other writes those flushes
    // made an import up to half again as long. Every 4,096 pages they come a quarter as often,
    // while one copy still holds the window's event loop for only about 30 ms.
    query.exec("PRAGMA wal_autocheckpoint=4096");
}

Connection::~Connection() {
    if (inTransaction_) {
        QSqlQuery rollback(database());
        const QString statement = dialect_.RollbackStatement();
        statement.isEmpty() ? (void)database().rollback() : (void)rollback.exec(statement);
    }
    prepared_.clear();
    statements_.clear();
    if (!restoreJournalMode_.isEmpty()) {
        // Fails harmlessly while another program has the file open; it then stays in WAL mode,
        // which every SQLite reader understands.
        QSqlQuery query(database());
        query.exec("PRAGMA journal_mode=" + restoreJournalMode_);
    }
    {
        QSqlDatabase database = QSqlDatabase::database(connectionName_, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connectionName_);
}

QSqlDatabase Connection::database() const {
    return QSqlDatabase::database(connectionName_, false);
}

CachedStatement& Connection::Statement(const sql::Statement& statement) {
    const auto found = statements_.find(statement.text);
    if (found != statements_.end()) {
        return *found->second;
    }
    auto cached = std::make_unique<CachedStatement>();
    cached->statement = &statement;
    cached->names.table = QString::fromUtf8(statement.table);
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
        // Preparing is a statement of its own: inside an import it belongs to the file's
        // transaction, and on PostgreSQL a refused one must not abort that transaction.
        BeforeStatement();
        QSqlQuery query(database());
        query.setForwardOnly(true);
        Prepare(query, dialect_.Form(*statement.statement), statement.names);
        statement.query.emplace(std::move(query));
    }
    return *statement.query;
}

QSqlQuery& Connection::Prepared(const QString& sqlText, const StatementNames& names) {
    auto it = prepared_.find(sqlText);
    if (it != prepared_.end()) {
        return **it;
    }
    // Preparing is a statement of its own: inside an import it belongs to the file's
    // transaction, and on PostgreSQL a refused one must not abort that transaction.
    BeforeStatement();
    auto query = std::make_shared<QSqlQuery>(database());
    query->setForwardOnly(true);
    Prepare(*query, sqlText, names);
    return **prepared_.insert(sqlText, query);
}

QSqlQuery* Connection::PreparedIfValid(const QString& sqlText) {
    auto it = prepared_.find(sqlText);
    if (it != prepared_.end()) {
        return it->get();
    }
    auto query = std::make_shared<QSqlQuery>(database());
    query->setForwardOnly(true);
    if (!query->prepare(sqlText)) {
        return nullptr;
    }
    return prepared_.insert(sqlText, query)->get();
}

void Connection::Prepare(QSqlQuery& query, const QString& sqlText, const StatementNames& names,
                         const QString& what) {
    // Preparing reads the schema, which another program's commit may hold a moment.
    Attempt(query, &sqlText, what, names);
}

void Connection::Attempt(QSqlQuery& query, const QString* prepareText, const QString& what,
                         const StatementNames& names) {
    QElapsedTimer waited;
    bool told = false;
    for (;;) {
        const bool guarded = TakeSavepoint();
        if (prepareText != nullptr ? query.prepare(*prepareText) : query.exec()) {
            EndWait(told);
            return;
        }
        const Diagnostic diagnostic = DiagnosticOf(dialect_.driver(), &query, database());
        const Failure failure = dialect_.Classify(diagnostic);
        if (guarded) {
            QSqlQuery back(database());
            ExecDirect(back, dialect_.RollbackToSavepoint());
        }
        if (failure == Failure::kBusy && WaitTurn(waited, told)) {
            if (prepareText == nullptr) {
                // The driver's statement is reset before it runs again (ODBC refuses otherwise).
                query.finish();
            }
            continue;
        }
        EndWait(told);
        Raise(failure, diagnostic, what, names,
              prepareText != nullptr ? QVariantList() : query.boundValues());
    }
}

bool Connection::ExecDirect(QSqlQuery& query, const QString& sqlText) {
    return !sqlText.isEmpty() && query.exec(sqlText);
}

bool Connection::TakeSavepoint() {
    if (!inTransaction_) {
        return false;
    }
    const QString statement = dialect_.SavepointBefore(!savepointTaken_);
    if (statement.isEmpty()) {
        return false;
    }
    QSqlQuery savepoint(database());
    savepointTaken_ = savepoint.exec(statement);
    return savepointTaken_;
}

void Connection::Run(QSqlQuery& query, const QString& what, const StatementNames& names) {
    BeforeStatement();
    if (WritesRow(what) && inTransaction_) {
        ++writesInTransaction_;
    }
    Attempt(query, nullptr, what, names);
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
        QSqlQuery query(database());
        query.setForwardOnly(true);
        Prepare(query, catalog, {table, {}}, "table columns");
        query.addBindValue(table);
        Run(query, "table columns", {table, {}});
        while (query.next()) {
            const QString type = query.value(1).toString();
            const int width = query.value(2).isNull() ? Dialect::WidthOfDeclaredType(type)
                                                      : query.value(2).toInt();
            columns.append(ColumnInfo{query.value(0).toString(), type,
                                      width >= 0 ? std::optional<int>(width) : std::nullopt,
                                      query.value(3).toBool()});
        }
    }
    if (columns.isEmpty()) {
        throw AppError(ErrNo::kDbNoObject,
                       QString("The database '%1' has no table '%2'.").arg(description_, table),
                       kSource);
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

void Connection::Raise(Failure failure, const Diagnostic& diagnostic, const QString& what,
                       const StatementNames& names, const QVariantList& inserted) {
    const bool commit = what == QLatin1String("commit");
    const QString place =
        dialect_.system() == System::kSqlite ? QFileInfo(description_).fileName() : description_;
    if (failure == Failure::kConnectionLost) {
        // Without a code the statement may have failed on this side: the session tells.
        QSqlQuery probe(database());
        if (diagnostic.sqlState.isEmpty() && database().isOpen() &&
            probe.exec(QStringLiteral("SELECT 1"))) {
            failure = Failure::kOther;
        } else {
            broken_ = true;
        }
    }

    // After some failures the store gives up the whole open transaction: a full disk or an I/O
    // error (SQLite), a lost connection. The rest of the file then begins a new one.
    QString tail;
    if (commit) {
        tail = " The rows added since the last commit were not stored.";
    } else if (inTransaction_) {
        bool lost = broken_;
        if (!lost && dialect_.system() == System::kSqlite) {
            QSqlQuery begin(database());
            lost = begin.exec(QStringLiteral("BEGIN"));
            if (lost) {
                begin.exec(QStringLiteral("ROLLBACK"));
            }
        }
        if (lost) {
            if (writesInTransaction_ > (WritesRow(what) ? 1 : 0)) {
                tail = " The rows added since the last commit were not stored either.";
            }
            LoseTransaction();
        }
    }
    const auto error = [&](long number, const QString& description) {
        return AppError(number, description + tail, kSource);
    };

    if (failure == Failure::kIntegrityUnknown) {
        failure = KeyExists(names, inserted) ? Failure::kDuplicateKey : Failure::kIntegrity;
    }
    if ((failure == Failure::kStatement || failure == Failure::kNoObject) &&
        !names.table.isEmpty() && what != QLatin1String("table columns")) {
        Columns(names.table);  // raises for a missing table
        for (const QString& column : names.columns) {
            if (FindColumn(names.table, column) == nullptr) {
                throw error(
                    ErrNo::kDbNoObject,
                    QString("The database '%1' has no column '%2'.").arg(description_, column));
            }
        }
    }
    switch (failure) {
        case Failure::kDuplicateKey: {
            const QSqlIndex key = database().primaryIndex(names.table);
            QStringList keyColumns;
            for (int i = 0; i < key.count(); ++i) {
                keyColumns << names.table + '.' + key.fieldName(i);
            }
            throw error(
                ErrNo::kDbFail,
                keyColumns.isEmpty()
                    ? QString("The row was refused: %1 already holds a row with these values "
                              "in %2 (duplicate key).")
                          .arg(names.table, place)
                    : QString("The row was refused: %1 already holds this value in %2 "
                              "(duplicate key).")
                          .arg(keyColumns.join(", "), place));
        }
        case Failure::kIntegrity:
        case Failure::kIntegrityUnknown:
            throw error(ErrNo::kDbIntegrity,
                        QString("The row was refused by a rule of %1 in %2: %3")
                            .arg(names.table, place, diagnostic.text));
        case Failure::kValueTooLong:
            throw error(ErrNo::kDbValueTooLong,
                        QString("A value is too long for its column of %1 in %2: %3")
                            .arg(names.table, place, diagnostic.text));
        case Failure::kNoObject:
            throw error(
                ErrNo::kDbNoObject,
                QString("The database '%1' lacks a table or column that the statement names: %2")
                    .arg(description_, diagnostic.text));
        case Failure::kReadOnly:
            throw error(
                ErrNo::kDbReadOnly,
                QString("The database '%1' is read-only: rows cannot be added.").arg(description_));
        case Failure::kCannotWrite:
            // The database itself is open: what cannot be opened is the journal beside it.
            if (what != QLatin1String("open")) {
                throw error(
                    ErrNo::kDbReadOnly,
                    QString("The database '%1' cannot be written: the journal file that every "
                            "change needs cannot be created in its folder.")
                        .arg(description_));
            }
            break;
        case Failure::kBusy:
            throw error(
                ErrNo::kDbLocked,
                QString("The database '%1' is locked by another program (waited %2 seconds). "
                        "Close the other program and try again.")
                    .arg(description_)
                    .arg(lastWaitLimitMs_ / 1000));
        case Failure::kDiskFull:
            // A failed commit tells what was lost in its tail.
            throw error(ErrNo::kDbDiskFull,
                        QString("The disk that holds '%1' is full%2")
                            .arg(description_, commit ? "." : ": the row was not stored."));
        case Failure::kDamaged:
            throw error(ErrNo::kDbUnrecognized,
                        QString("The database file '%1' is damaged or not a database (%2).")
                            .arg(description_, diagnostic.text));
        case Failure::kConnectionLost:
            throw error(ErrNo::kDbConnectionLost,
                        QString("The connection to the database '%1' was lost: %2")
                            .arg(description_, diagnostic.text));
        case Failure::kStatement:
        case Failure::kOther:
            break;
    }
    throw error(ErrNo::kDbRefused, QString("The database '%1' refused a statement (%2): %3")
                                       .arg(description_, what, diagnostic.text));
}

}  // namespace db
