#include "records/dialect.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlResult>

namespace db {
namespace {

constexpr const char* kSavepoint = "importflx_statement";

// The ODBC handle inside the ODBC driver's or result's handle (a void pointer), or null.
SQLHANDLE OdbcHandle(const QVariant& handle) {
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "SQLHANDLE") != 0 &&
                              qstrcmp(handle.typeName(), "void*") != 0)) {
        return nullptr;
    }
    return *static_cast<SQLHANDLE const*>(handle.constData());
}

// The first diagnostic record of an ODBC handle: SQLSTATE and native error.
bool OdbcDiagnosticRecord(SQLSMALLINT type, SQLHANDLE handle, QString& state, QString& native) {
    if (handle == nullptr) {
        return false;
    }
    SQLCHAR sqlState[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR message[8] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN result =
        SQLGetDiagRecA(type, handle, 1, sqlState, &nativeError, message, sizeof message, &length);
    if (!SQL_SUCCEEDED(result)) {
        return false;
    }
    state = QString::fromLatin1(reinterpret_cast<const char*>(sqlState));
    native = QString::number(nativeError);
    return true;
}

// Drops the brackets that Jet puts around names, outside quoted text: PostgreSQL reads [x] as
// an array subscript.
QString WithoutBrackets(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool quoted = false;
    for (const QChar ch : text) {
        if (ch == '\'') {
            quoted = !quoted;
        }
        if (!quoted && (ch == '[' || ch == ']')) {
            continue;
        }
        out += ch;
    }
    return out;
}

Failure ClassifySqlite(int code) {
    switch (code) {
        case 1555:  // SQLITE_CONSTRAINT_PRIMARYKEY
        case 2067:  // SQLITE_CONSTRAINT_UNIQUE
            return Failure::kDuplicateKey;
        case 19:  // SQLITE_CONSTRAINT without its extended code (the ODBC driver reports these)
            return Failure::kIntegrityUnknown;
        default:
            break;
    }
    switch (code & 0xff) {
        case 19:
            return Failure::kIntegrity;
        case 1:  // SQLITE_ERROR: no such table or column, or the syntax
            return Failure::kStatement;
        case 5:  // SQLITE_BUSY
        case 6:  // SQLITE_LOCKED
            return Failure::kBusy;
        case 8:  // SQLITE_READONLY
            return Failure::kReadOnly;
        case 14:  // SQLITE_CANTOPEN: the open database cannot create its journal
            return Failure::kCannotWrite;
        case 13:  // SQLITE_FULL
            return Failure::kDiskFull;
        case 11:  // SQLITE_CORRUPT
        case 26:  // SQLITE_NOTADB
            return Failure::kDamaged;
        case 18:  // SQLITE_TOOBIG
            return Failure::kValueTooLong;
        default:
            return Failure::kOther;
    }
}

Failure ClassifySqlState(const QString& state) {
    if (state == QLatin1String("23505")) {
        return Failure::kDuplicateKey;
    }
    if (state == QLatin1String("23000")) {  // ODBC's integrity violation, of whichever kind
        return Failure::kIntegrityUnknown;
    }
    if (state.startsWith(QLatin1String("23"))) {
        return Failure::kIntegrity;
    }
    if (state == QLatin1String("22001")) {
        return Failure::kValueTooLong;
    }
    if (state == QLatin1String("42P01") || state == QLatin1String("42703") ||
        state == QLatin1String("42S02") || state == QLatin1String("42S22")) {
        return Failure::kNoObject;
    }
    if (state == QLatin1String("25006") || state == QLatin1String("42501")) {
        return Failure::kReadOnly;
    }
    if (state == QLatin1String("53100")) {
        return Failure::kDiskFull;
    }
    if (state == QLatin1String("55P03") || state == QLatin1String("40P01") ||
        state == QLatin1String("40001") || state == QLatin1String("HYT00")) {
        return Failure::kBusy;
    }
    if (state.startsWith(QLatin1String("08")) || state == QLatin1String("57P01") ||
        state == QLatin1String("57P02") || state == QLatin1String("57P03")) {
        return Failure::kConnectionLost;
    }
    return Failure::kOther;
}

}  // namespace

QString PostgresImportersLock() {
    // Held until the transaction ends, released by the server when the session goes. Waiting
    // importers queue for it at the server, in turn; each wait is cut short by the session's
    // lock_timeout, so that the program answers its user in between.
    return QStringLiteral(
        "SELECT pg_advisory_xact_lock((CAST(1768779887 AS BIGINT) << 32) | "
        "CAST(CAST(to_regclass('tblEquipment') AS OID) AS BIGINT))");
}

Diagnostic DiagnosticOf(Driver driver, const QSqlQuery* query, const QSqlDatabase& database) {
    const QSqlError error = query != nullptr ? query->lastError() : database.lastError();
    Diagnostic diagnostic;
    diagnostic.text = error.databaseText().trimmed();
    if (diagnostic.text.isEmpty()) {
        diagnostic.text = error.text().trimmed();
    }
    switch (driver) {
        case Driver::kSqlite:
            diagnostic.native = error.nativeErrorCode();
            break;
        case Driver::kPostgres:
            diagnostic.sqlState = error.nativeErrorCode();
            break;
        case Driver::kOdbc:
            // Qt keeps only the native code; the SQLSTATE stays with the handle that failed.
            if (query == nullptr || query->result() == nullptr ||
                !OdbcDiagnosticRecord(SQL_HANDLE_STMT, OdbcHandle(query->result()->handle()),
                                      diagnostic.sqlState, diagnostic.native)) {
                OdbcDiagnosticRecord(SQL_HANDLE_DBC, OdbcHandle(database.driver()->handle()),
                                     diagnostic.sqlState, diagnostic.native);
            }
            if (diagnostic.native.isEmpty()) {
                diagnostic.native = error.nativeErrorCode().section(';', 0, 0);
            }
            break;
    }
    return diagnostic;
}

System OdbcSystem(const QSqlDatabase& database) {
    const SQLHANDLE connection = OdbcHandle(database.driver()->handle());
    if (connection == nullptr) {
        return System::kOther;
    }
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

QString Dialect::Form(const sql::Statement& statement) const {
    if (system_ == System::kSqlite && statement.sqliteText != nullptr) {
        return QString::fromUtf8(statement.sqliteText);
    }
    if (system_ == System::kPostgres && statement.postgresText != nullptr) {
        return QString::fromUtf8(statement.postgresText);
    }
    const QString text = QString::fromUtf8(statement.text);
    return system_ == System::kPostgres ? WithoutBrackets(text) : text;
}

QString Dialect::Table(const QString& name) const {
    switch (system_) {
        case System::kPostgres:
            return name;  // unquoted, so that the server folds it as it folds the statements
        case System::kAccess:
            return '[' + name + ']';
        case System::kSqlite:
        case System::kOther:
            break;
    }
    return '"' + QString(name).replace('"', "\"\"") + '"';
}

QString Dialect::Column(const QString& name) const {
    if (system_ == System::kAccess) {
        return '[' + name + ']';
    }
    return '"' + QString(name).replace('"', "\"\"") + '"';
}

QString Dialect::Insert(const QString& table, const QStringList& columns,
                        const QStringList& returning) const {
    QString text = QStringLiteral("INSERT INTO ") + Table(table);
    if (columns.isEmpty()) {
        text += QStringLiteral(" DEFAULT VALUES");
    } else {
        QStringList names;
        for (const QString& column : columns) {
            names << Column(column);
        }
        text +=
            QStringLiteral(" (%1) VALUES (%2)")
                .arg(names.join(','), QStringList(QList<QString>(columns.size(), "?")).join(','));
    }
    if (InsertReturnsRow() && !returning.isEmpty()) {
        QStringList names;
        for (const QString& column : returning) {
            names << Column(column);
        }
        text += QStringLiteral(" RETURNING ") + names.join(',');
    }
    return text;
}

bool Dialect::InsertReturnsRow() const {
    return system_ == System::kPostgres;
}

QString Dialect::NewKeyQuery() const {
    switch (system_) {
        case System::kSqlite:
            return QStringLiteral("SELECT last_insert_rowid()");
        case System::kAccess:
            return QStringLiteral("SELECT @@IDENTITY");
        case System::kPostgres:
        case System::kOther:
            break;
    }
    return {};
}

QString Dialect::ColumnsQuery() const {
    switch (system_) {
        case System::kSqlite:
            return QStringLiteral("SELECT name, type, NULL, 0 FROM pragma_table_info(?)");
        case System::kPostgres:
            return QStringLiteral(
                "SELECT a.attname, format_type(a.atttypid, a.atttypmod), CASE WHEN a.atttypid IN "
                "('varchar'::regtype, 'bpchar'::regtype) AND a.atttypmod > 4 THEN a.atttypmod - 4 "
                "END, a.atttypid = 'boolean'::regtype FROM pg_attribute a WHERE a.attrelid = "
                "to_regclass(CAST(? AS TEXT)) AND a.attnum > 0 AND NOT a.attisdropped ORDER BY "
                "a.attnum");
        case System::kAccess:
        case System::kOther:
            break;
    }
    return {};
}

int Dialect::WidthOfDeclaredType(const QString& declaredType) {
    static const QRegularExpression textType(
        R"(^\s*\w*(CHAR|TEXT|CLOB|STRING)\w*\s*\(\s*(\d+)\s*\))",
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = textType.match(declaredType);
    return match.hasMatch() ? match.captured(2).toInt() : -1;
}

QStringList Dialect::BeginUnit() const {
    switch (system_) {
        case System::kSqlite:
            // Takes the write lock at once: what the file reads before it writes (is this name
            // taken?) cannot change under it.
            return {QStringLiteral("BEGIN IMMEDIATE")};
        case System::kPostgres:
            return {QStringLiteral("BEGIN"), PostgresImportersLock()};
        case System::kAccess:
        case System::kOther:
            break;
    }
    return {};
}

QString Dialect::CommitStatement() const {
    return system_ == System::kSqlite || system_ == System::kPostgres ? QStringLiteral("COMMIT")
                                                                      : QString();
}

QString Dialect::RollbackStatement() const {
    return system_ == System::kSqlite || system_ == System::kPostgres ? QStringLiteral("ROLLBACK")
                                                                      : QString();
}

QString Dialect::SavepointBefore(bool first) const {
    if (system_ != System::kPostgres) {
        return {};
    }
    const QString take = QStringLiteral("SAVEPOINT ") + kSavepoint;
    return first ? take : QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint + "; " + take;
}

QString Dialect::RollbackToSavepoint() const {
    return system_ == System::kPostgres ? QStringLiteral("ROLLBACK TO SAVEPOINT ") + kSavepoint
                                        : QString();
}

QString Dialect::ShortLockWait(int milliseconds) const {
    switch (system_) {
        case System::kSqlite:
            return QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds);
        case System::kPostgres:
            return QStringLiteral("SET lock_timeout = %1").arg(milliseconds);
        case System::kAccess:
        case System::kOther:
            break;
    }
    return {};
}

QString Dialect::LockManufacturer() const {
    if (system_ == System::kSqlite || system_ == System::kPostgres) {
        return {};
    }
    return QStringLiteral("UPDATE ") + Table(QStringLiteral("tblManufacturers")) +
           QStringLiteral(" SET ") + Column(QStringLiteral("ManufacturerID")) + " = " +
           Column(QStringLiteral("ManufacturerID")) + QStringLiteral(" WHERE ") +
           Column(QStringLiteral("ManufacturerID")) + QStringLiteral(" = ?");
}

QString Dialect::SequencesQuery() const {
    if (system_ != System::kPostgres) {
        return {};
    }
    return QStringLiteral(
        "SELECT s.seq, pg_sequence_last_value(CAST(s.seq AS regclass)), q.seqstart FROM "
        "(SELECT pg_get_serial_sequence(CAST(? AS TEXT), a.attname) AS seq FROM pg_attribute a "
        "WHERE a.attrelid = to_regclass(CAST(? AS TEXT)) AND a.attnum > 0 AND NOT "
        "a.attisdropped) s JOIN pg_sequence q ON q.seqrelid = CAST(s.seq AS regclass) WHERE "
        "s.seq IS NOT NULL");
}

QString Dialect::SetSequenceStatement() const {
    if (system_ != System::kPostgres) {
        return {};
    }
    // Values: sequence, value, is called, sequence, the last value this program left. Only a
    // sequence that nobody else drew from since is set back.
    return QStringLiteral(
        "SELECT setval(CAST(? AS regclass), CAST(? AS BIGINT), CAST(? AS BOOLEAN)) WHERE "
        "pg_sequence_last_value(CAST(? AS regclass)) IS NOT DISTINCT FROM CAST(? AS BIGINT)");
}

Failure Dialect::Classify(const Diagnostic& diagnostic) const {
    switch (system_) {
        case System::kSqlite: {
            bool ok = false;
            const int code = diagnostic.native.toInt(&ok);
            return ok ? ClassifySqlite(code) : Failure::kOther;
        }
        case System::kPostgres:
            // A connection that broke mid-statement often leaves no SQLSTATE at all.
            if (diagnostic.sqlState.isEmpty()) {
                return Failure::kConnectionLost;
            }
            return ClassifySqlState(diagnostic.sqlState);
        case System::kAccess: {
            // The Access driver reports its engine's error numbers as native codes; these say
            // that a record or table is locked by another user.
            static const QStringList locked{"3006", "3008", "3009", "3186", "3187", "3188", "3197",
                                            "3202", "3211", "3212", "3218", "3260", "3261", "3262"};
            const QString native =
                diagnostic.native.startsWith('-') ? diagnostic.native.mid(1) : diagnostic.native;
            if (locked.contains(native)) {
                return Failure::kBusy;
            }
            return ClassifySqlState(diagnostic.sqlState);
        }
        case System::kOther:
            break;
    }
    return ClassifySqlState(diagnostic.sqlState);
}

}  // namespace db
