#include "records/dialect.h"

#include <QRegularExpression>

namespace db {
namespace {

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

}  // namespace

QString PostgresImportersLock() {
    // Held until the transaction ends, released by the server when the session goes. Waiting
    // importers queue for it at the server, in turn; each wait is cut short by the session's
    // lock_timeout, so that the program answers its user in between.
    return QStringLiteral(
        "SELECT pg_advisory_xact_lock((CAST(1768779887 AS BIGINT) << 32) | "
        "CAST(CAST(to_regclass('tblEquipment') AS OID) AS BIGINT))");
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

bool Dialect::HasOwnForm(const sql::Statement& statement) const {
    return (system_ == System::kSqlite && statement.sqliteText != nullptr) ||
           (system_ == System::kPostgres && statement.postgresText != nullptr);
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
    static const QRegularExpression textType(R"(^[^(]*(CHAR|TEXT|CLOB|STRING)[^(]*\(\s*(\d+)\s*\))",
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

QString Dialect::Savepoint(const char* name) const {
    return system_ == System::kAccess ? QString() : QStringLiteral("SAVEPOINT ") + name;
}

QString Dialect::ReleaseSavepoint(const char* name) const {
    return system_ == System::kAccess ? QString() : QStringLiteral("RELEASE SAVEPOINT ") + name;
}

QString Dialect::RollbackToSavepoint(const char* name) const {
    return system_ == System::kAccess ? QString() : QStringLiteral("ROLLBACK TO SAVEPOINT ") + name;
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

QString Dialect::SessionIdentityQuery() const {
    if (system_ != System::kPostgres) {
        return {};
    }
    return QStringLiteral(
        "SELECT pid, CAST(backend_start AS TEXT) FROM pg_stat_activity WHERE pid = "
        "pg_backend_pid()");
}

QString Dialect::EndSessionStatement() const {
    if (system_ != System::kPostgres) {
        return {};
    }
    return QStringLiteral(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid = CAST(? AS INTEGER) "
        "AND CAST(backend_start AS TEXT) = CAST(? AS TEXT)");
}

QString Dialect::SessionAliveQuery() const {
    if (system_ != System::kPostgres) {
        return {};
    }
    return QStringLiteral(
        "SELECT 1 FROM pg_stat_activity WHERE pid = CAST(? AS INTEGER) AND "
        "CAST(backend_start AS TEXT) = CAST(? AS TEXT)");
}

}  // namespace db
