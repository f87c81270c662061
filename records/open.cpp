// Opening a session: one function per kind of target, each configuring Qt's driver for it and
// checking what can be checked before the first statement of an import.
#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QUuid>
#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "core/error.h"
#include "core/platform.h"
#include "records/connection.h"
#include "records/target.h"

namespace db {
namespace {

// How long a driver waits by itself for a lock before importflx's own waiting takes over.
constexpr int kDriverLockWaitMs = 100;

// A name for Qt's registry of connections that no other session uses.
QString NewConnectionName() {
    return QStringLiteral("importflx-") + QUuid::createUuid().toString(QUuid::Id128);
}

// The database file for a Data Source path, matched without regard to the letter case of its
// name. Raises when there is none.
QString LocateFile(const QString& dataSource) {
    const auto missing = [](const QString& text) {
        return AppError(ErrNo::kDbFail, text, kSource, ErrorKind::kMissing);
    };
    if (dataSource.isEmpty()) {
        throw missing("The connection string names no database file.");
    }
    const QFileInfo info(dataSource);
    const QString found = platform::FindFileNoCase(info.absolutePath(), info.fileName());
    if (!found.isEmpty()) {
        return found;
    }
    const QStringList folders =
        QDir(info.absolutePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    const bool isFolder = std::any_of(folders.begin(), folders.end(), [&](const QString& name) {
        return name.compare(info.fileName(), Qt::CaseInsensitive) == 0;
    });
    if (isFolder) {
        throw missing(QString("'%1' is a folder, not a database file.").arg(dataSource));
    }
    throw missing(QString("Could not find the database file '%1'.").arg(dataSource));
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
            kSource, ErrorKind::kReadOnly);
    }
    const QByteArray header = file.read(32);
    if (header.isEmpty() || header.startsWith(QByteArray("SQLite format 3\0", 16))) {
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
                       kSource, ErrorKind::kNotADatabase);
#endif
    }
    throw AppError(ErrNo::kDbUnrecognized,
                   QString("The database file '%1' is in a format that cannot be opened "
                           "here: it is not an SQLite database.")
                       .arg(path),
                   kSource, ErrorKind::kNotADatabase);
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
        throw AppError(ErrNo::kDbConnectionLost, error, kSource, ErrorKind::kMissing);
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
                           kSource, ErrorKind::kMissing);
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
        QString("Could not connect to the database '%1': %2").arg(shown, diagnostic.text), kSource,
        ErrorKind::kConnectionLost);
}

// The system an ODBC connection reaches, by the DBMS name its driver reports.
System OdbcSystem(const QSqlDatabase& database) {
    const QVariant handle = database.driver()->handle();
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "SQLHANDLE") != 0 &&
                              qstrcmp(handle.typeName(), "void*") != 0)) {
        return System::kOther;
    }
    const SQLHANDLE connection = *static_cast<SQLHANDLE const*>(handle.constData());
    SQLCHAR name[128] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoA(connection, SQL_DBMS_NAME, name, sizeof name, &length))) {
        return System::kOther;
    }
    const QString dbms = QString::fromLatin1(reinterpret_cast<const char*>(name)).toLower();
    if (dbms.startsWith(QLatin1String("sqlite"))) {
        return System::kSqlite;
    }
    if (dbms.startsWith(QLatin1String("postgres"))) {
        return System::kPostgres;
    }
    if (dbms.startsWith(QLatin1String("access"))) {
        return System::kAccess;
    }
    return System::kOther;
}

// The statement that makes a locked database fail quickly, so that importflx waits for it
// itself while its window stays responsive.
void ShortenLockWait(Connection& connection, int milliseconds) {
    connection.ExecDirect(connection.dialect().ShortLockWait(milliseconds));
}

}  // namespace

std::unique_ptr<Connection> Connection::OpenSqlite(const QString& connectionString,
                                                   const QString& name, const WaitSettings& wait) {
    const QString path = LocateFile(DataSourceOf(connectionString));
    if (CheckHeader(path) == FileFormat::kAccess) {
        return OpenAccess(path, name, wait);
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
                           kSource, ErrorKind::kMissing);
        }
    }
    std::unique_ptr<Connection> connection(
        new Connection(name, path, Dialect(System::kSqlite, Driver::kSqlite), wait));
    // Reading the schema makes SQLite look at the whole header now, so that a damaged file is
    // reported as such before any statement of the import runs.
    QSqlQuery& probe = connection->Prepared(QStringLiteral("PRAGMA schema_version"), {});
    connection->Run(probe, Step::kOpen, {});
    probe.finish();
    // An empty file is left as it is: switching its journal would write a database into it.
    if (QFileInfo(path).size() > 0) {
        connection->UseWriteAheadLog(path);
    }
    return connection;
}

std::unique_ptr<Connection> Connection::OpenPostgres(const QString& connectionString,
                                                     const QString& name,
                                                     const WaitSettings& wait) {
    const QString shown = DescribeConnection(connectionString);
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
    std::unique_ptr<Connection> connection(
        new Connection(name, shown, Dialect(System::kPostgres, Driver::kPostgres), wait));
    ShortenLockWait(*connection, kDriverLockWaitMs * 2);
    // The client library prints the server's notices on standard error, and so the words of a
    // server that ends the session ("terminating connection ..."); the failures that matter
    // reach importflx with the statements they end.
    if (auto* handle = static_cast<PGconn*>(connection->NativeHandle())) {
        PQsetNoticeProcessor(
            handle, [](void*, const char*) {}, nullptr);
    }
    return connection;
}

std::unique_ptr<Connection> Connection::OpenOdbc(const QString& connectionString,
                                                 const QString& name, const WaitSettings& wait) {
    const QString shown = DescribeConnection(connectionString);
    System system = System::kOther;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QODBC", name);
        const QString odbc = OdbcConnectionString(connectionString);
        database.setDatabaseName(odbc);
        OpenOrRaise(database, Driver::kOdbc, shown, name);
        system = OdbcSystem(database);
        // Settings that the drivers take only when they connect, so they are connected again
        // with them unless the user gave them. The SQLite driver waits for a lock by its own
        // Timeout (100 s unless given), not by the database's setting: it waits briefly. The
        // PostgreSQL driver by default wraps every statement inside a transaction in a savepoint
        // of its own, a round trip to the server each; a unit of work is rolled back whole on any
        // failure, so it leaves failures to the server as a direct connection does.
        static const QRegularExpression timeout(R"((^|;)\s*Timeout\s*=)",
                                                QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression protocol(R"((^|;)\s*Protocol\s*=)",
                                                 QRegularExpression::CaseInsensitiveOption);
        QString setting;
        if (system == System::kSqlite && !odbc.contains(timeout)) {
            setting = QStringLiteral(";Timeout=%1").arg(kDriverLockWaitMs);
        } else if (system == System::kPostgres && !odbc.contains(protocol)) {
            setting = QStringLiteral(";Protocol=7.4-0");
        }
        if (!setting.isEmpty()) {
            database.close();
            database.setDatabaseName(odbc + setting);
            OpenOrRaise(database, Driver::kOdbc, shown, name);
        }
    }
    std::unique_ptr<Connection> connection(
        new Connection(name, shown, Dialect(system, Driver::kOdbc), wait));
    ShortenLockWait(*connection, kDriverLockWaitMs);
    return connection;
}

std::unique_ptr<Connection> Connection::OpenAccess(const QString& path, const QString& name,
                                                   const WaitSettings& wait) {
    // Written from the driver's documentation; the driver's bitness must match the program's.
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QODBC", name);
        database.setDatabaseName(
            QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=") + path);
        OpenOrRaise(database, Driver::kOdbc, path, name);
    }
    return std::unique_ptr<Connection>(
        new Connection(name, path, Dialect(System::kAccess, Driver::kOdbc), wait));
}

std::unique_ptr<Connection> Connection::Open(const QString& connectionString,
                                             const WaitSettings& wait) {
    const QString name = NewConnectionName();
    switch (KindOfTarget(connectionString)) {
        case TargetKind::kPostgres:
            return OpenPostgres(connectionString, name, wait);
        case TargetKind::kOdbc:
            return OpenOdbc(connectionString, name, wait);
        case TargetKind::kFile:
            break;
    }
    return OpenSqlite(connectionString, name, wait);
}

}  // namespace db
