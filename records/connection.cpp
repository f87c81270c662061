#include "records/connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>
#include <map>

#include "core/error.h"
#include "core/platform.h"

namespace db {
namespace {

const QString kSource = QStringLiteral("importflx database");
const QString kSourceKey = QStringLiteral("Data Source=");
const QString kTailKey = QStringLiteral(";Persist Security Info=");

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

int nextConnectionId = 0;
int deferredScopes = 0;

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

// Refuses a file that is not an SQLite database (an empty file is an empty database).
void CheckHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw AppError(
            ErrNo::kDbReadOnly,
            QString("The database file '%1' cannot be read: %2.").arg(path, file.errorString()),
            kSource);
    }
    const QByteArray header = file.read(16);
    if (header.isEmpty() && file.size() == 0) {
        return;
    }
    if (header != QByteArray("SQLite format 3\0", 16)) {
        throw AppError(ErrNo::kDbUnrecognized,
                       QString("The database file '%1' is in a format that cannot be opened "
                               "here: it is not an SQLite database.")
                           .arg(path),
                       kSource);
    }
}

std::optional<int> WidthOf(const QString& declaredType) {
    static const QRegularExpression textType(
        R"(^\s*\w*(CHAR|TEXT|CLOB|STRING)\w*\s*\(\s*(\d+)\s*\))",
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = textType.match(declaredType);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return match.captured(2).toInt();
}

}  // namespace

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

QString DataSourceOf(const QString& connectionString) {
    const int start = connectionString.indexOf(kSourceKey, 0, Qt::CaseInsensitive);
    if (start < 0) {
        return {};
    }
    const int valueStart = start + kSourceKey.size();
    int end = connectionString.lastIndexOf(kTailKey, -1, Qt::CaseInsensitive);
    if (end < valueStart) {
        end = connectionString.indexOf(';', valueStart);
    }
    if (end < 0) {
        end = connectionString.size();
    }
    return connectionString.mid(valueStart, end - valueStart).trimmed();
}

Connection& Connection::ForString(const QString& connectionString) {
    auto& registry = Registry();
    const auto it = registry.find(connectionString);
    if (it != registry.end()) {
        return *it->second;
    }
    const QString path = LocateFile(DataSourceOf(connectionString));
    CheckHeader(path);

    const QString name = QString("importflx-%1").arg(++nextConnectionId);
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", name);
        database.setDatabaseName(path);
        database.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!database.open()) {
            const QString reason = database.lastError().text();
            database = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw AppError(ErrNo::kDbFail,
                           QString("The database file '%1' cannot be opened: %2").arg(path, reason),
                           kSource);
        }
    }
    std::unique_ptr<Connection> connection(new Connection(name, path));
    // Reading the schema makes SQLite look at the whole header now, so that a damaged file is
    // reported as such before any statement of the import runs.
    QSqlQuery probe(connection->database());
    if (!probe.exec("PRAGMA schema_version")) {
        connection->Raise(probe, "open");
    }
    probe.finish();
    // An empty file is left as it is: switching its journal would write a database into it.
    if (QFileInfo(path).size() > 0) {
        connection->UseWriteAheadLog();
    }
    Connection& result = *connection;
    registry.emplace(connectionString, std::move(connection));
    return result;
}

void Connection::CloseAll() {
    Registry().clear();
}

Connection::Connection(QString connectionName, QString filePath)
    : connectionName_(std::move(connectionName)), filePath_(std::move(filePath)) {}

void Connection::UseWriteAheadLog() {
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
}

Connection::~Connection() {
    if (inTransaction_) {
        database().rollback();
    }
    prepared_.clear();
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

QSqlQuery& Connection::Prepared(const QString& sqlText) {
    auto it = prepared_.find(sqlText);
    if (it != prepared_.end()) {
        return **it;
    }
    auto query = std::make_shared<QSqlQuery>(database());
    if (!query->prepare(sqlText)) {
        Raise(*query, "prepare");
    }
    return **prepared_.insert(sqlText, query);
}

const QList<ColumnInfo>& Connection::Columns(const QString& table) {
    const QString key = table.toLower();
    auto it = columns_.find(key);
    if (it != columns_.end()) {
        return *it;
    }
    QSqlQuery query(database());
    query.prepare("SELECT name, type FROM pragma_table_info(?)");
    query.addBindValue(table);
    if (!query.exec()) {
        Raise(query, "table columns");
    }
    QList<ColumnInfo> columns;
    while (query.next()) {
        const QString type = query.value(1).toString();
        columns.append(ColumnInfo{query.value(0).toString(), type, WidthOf(type)});
    }
    if (columns.isEmpty()) {
        throw AppError(ErrNo::kDbNoObject,
                       QString("The database '%1' has no table '%2'.").arg(filePath_, table),
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

void Connection::Begin() {
    if (inTransaction_) {
        return;
    }
    QSqlQuery query(database());
    if (!query.exec("BEGIN")) {
        Raise(query, "begin");
    }
    inTransaction_ = true;
    writesInTransaction_ = 0;
}

void Connection::BeforeWrite() {
    if (deferredScopes > 0) {
        Begin();
    }
    if (inTransaction_) {
        ++writesInTransaction_;
    }
}

void Connection::Commit() {
    if (!inTransaction_) {
        return;
    }
    inTransaction_ = false;
    QSqlQuery query(database());
    if (!query.exec("COMMIT")) {
        // SQLite may already have rolled the transaction back (a full disk); make sure no
        // transaction stays open either way.
        QSqlQuery rollback(database());
        rollback.exec("ROLLBACK");
        Raise(query, "commit");
    }
}

DeferredCommits::DeferredCommits() {
    ++deferredScopes;
}

DeferredCommits::~DeferredCommits() {
    --deferredScopes;
    for (auto& [name, connection] : Registry()) {
        try {
            connection->Commit();
        } catch (const AppError&) {
            // Already rolled back by Commit; a destructor cannot report it.
        }
    }
}

bool DeferredCommits::Active() {
    return deferredScopes > 0;
}

void DeferredCommits::Flush() {
    for (auto& [name, connection] : Registry()) {
        connection->Commit();
    }
}

void Connection::Rollback() {
    if (!inTransaction_) {
        return;
    }
    QSqlQuery query(database());
    query.exec("ROLLBACK");
    inTransaction_ = false;
}

void Connection::Raise(const QSqlQuery& query, const QString& what) {
    const QSqlError error = query.lastError();
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString lower = text.toLower();
    const QString file = QFileInfo(filePath_).fileName();
    const bool commit = what == QLatin1String("commit");

    // After some failures (a full disk, an I/O error) SQLite gives up the whole transaction. A
    // BEGIN succeeds only then: it tells, and leaves the connection in a transaction again, as
    // the rest of the unit of work expects.
    QString tail;
    if (inTransaction_) {
        QSqlQuery begin(database());
        if (begin.exec("BEGIN")) {
            const bool failedWrite = what == QLatin1String("execute") || what == "add a row";
            if (writesInTransaction_ > (failedWrite ? 1 : 0)) {
                tail = " The rows added since the last commit were not stored either.";
            }
            writesInTransaction_ = 0;
        }
    } else if (commit) {
        tail = " The rows added since the last commit were not stored.";
    }
    const auto fail = [&](long number, const QString& description) {
        throw AppError(number, description + tail, kSource);
    };

    static const QRegularExpression uniqueRe(
        R"((unique|primary key) constraint failed: ([\w.,\s]+))",
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noTableRe(R"(no such table: ([\w.]+))",
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noColumnRe(R"((no such column|has no column named):? ([\w.]+))",
                                               QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression notNullRe(R"(not null constraint failed: ([\w.]+))",
                                              QRegularExpression::CaseInsensitiveOption);

    if (const auto m = uniqueRe.match(text); m.hasMatch()) {
        fail(ErrNo::kDbFail, QString("The row was refused: %1 already holds this value in %2 "
                                     "(duplicate key).")
                                 .arg(m.captured(2).trimmed(), file));
    }
    if (const auto m = noTableRe.match(text); m.hasMatch()) {
        fail(ErrNo::kDbNoObject,
             QString("The database '%1' has no table '%2'.").arg(filePath_, m.captured(1)));
    }
    if (const auto m = noColumnRe.match(text); m.hasMatch()) {
        fail(ErrNo::kDbNoObject,
             QString("The database '%1' has no column '%2'.").arg(filePath_, m.captured(2)));
    }
    if (const auto m = notNullRe.match(text); m.hasMatch()) {
        fail(ErrNo::kDbFail,
             QString("The row was refused: %1 needs a value in %2.").arg(m.captured(1), file));
    }
    if (lower.contains("readonly") || lower.contains("read-only")) {
        fail(ErrNo::kDbReadOnly,
             QString("The database '%1' is read-only: rows cannot be added.").arg(filePath_));
    }
    // The database itself is open: what cannot be opened is the journal beside it.
    if (lower.contains("unable to open database file") && what != QLatin1String("open")) {
        fail(ErrNo::kDbReadOnly, QString("The database '%1' cannot be written: the journal file "
                                         "that every change needs cannot be created in its "
                                         "folder.")
                                     .arg(filePath_));
    }
    if (lower.contains("locked") || lower.contains("busy")) {
        fail(ErrNo::kDbLocked, QString("The database '%1' is locked by another program (waited %2 "
                                       "seconds). Close the other program and try again.")
                                   .arg(filePath_)
                                   .arg(kBusyTimeoutMs / 1000));
    }
    if (lower.contains("disk is full") || lower.contains("database or disk is full")) {
        // A failed commit tells what was lost in its tail.
        fail(ErrNo::kDbDiskFull, QString("The disk that holds '%1' is full%2")
                                     .arg(filePath_, commit ? "." : ": the row was not stored."));
    }
    if (lower.contains("not a database") || lower.contains("malformed")) {
        fail(ErrNo::kDbUnrecognized,
             QString("The database file '%1' is damaged or not a database (%2).")
                 .arg(filePath_, text));
    }
    throw AppError(
        ErrNo::kDbFail,
        QString("The database '%1' refused a statement (%2): %3").arg(filePath_, what, text) + tail,
        kSource);
}

}  // namespace db
