#include "records/failure.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVariant>
#include <optional>

namespace db {
namespace {

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

// The Access engine's numbers that say a record or table is locked by another user.
bool AccessLocked(QString native) {
    static const QStringList locked{"3006", "3008", "3009", "3186", "3187", "3188", "3197",
                                    "3202", "3211", "3212", "3218", "3260", "3261", "3262"};
    if (native.startsWith('-')) {
        native.remove(0, 1);
    }
    return locked.contains(native);
}

AppError Error(long number, ErrorKind kind, const QString& description) {
    return AppError(number, description, kSource, kind);
}

// The error of a row the database refused for its values, if `failure` is one.
std::optional<AppError> DescribeRefusedRow(Failure failure, const FailurePlace& at,
                                           const QString& text) {
    switch (failure) {
        case Failure::kDuplicateKey:
            return Error(
                ErrNo::kDbFail, ErrorKind::kDuplicateKey,
                at.keyColumns.isEmpty()
                    ? QString("The row was refused: %1 already holds a row with these values in "
                              "%2 (duplicate key).")
                          .arg(at.table, at.file)
                    : QString("The row was refused: %1 already holds this value in %2 "
                              "(duplicate key).")
                          .arg(at.keyColumns.join(", "), at.file));
        case Failure::kIntegrity:
        case Failure::kIntegrityUnknown:
            return Error(ErrNo::kDbIntegrity, ErrorKind::kRefusedByRule,
                         QString("The row was refused by a rule of %1 in %2: %3")
                             .arg(at.table, at.file, text));
        case Failure::kValueTooLong:
            return Error(ErrNo::kDbValueTooLong, ErrorKind::kTooLong,
                         QString("A value is too long for its column of %1 in %2: %3")
                             .arg(at.table, at.file, text));
        default:
            return std::nullopt;
    }
}

// The error of `failure` without the words about the rows that went with it.
AppError Describe(Failure failure, const FailurePlace& at, const QString& text) {
    if (std::optional<AppError> refused = DescribeRefusedRow(failure, at, text)) {
        return *refused;
    }
    switch (failure) {
        case Failure::kNoObject:
            return Error(ErrNo::kDbNoObject, ErrorKind::kMissing,
                         at.missingColumn.isEmpty()
                             ? QString("The database '%1' lacks a table or column that the "
                                       "statement names: %2")
                                   .arg(at.database, text)
                             : QString("The database '%1' has no column '%2'.")
                                   .arg(at.database, at.missingColumn));
        case Failure::kReadOnly:
            return Error(
                ErrNo::kDbReadOnly, ErrorKind::kReadOnly,
                QString("The database '%1' is read-only: rows cannot be added.").arg(at.database));
        case Failure::kNoPrivilege:
            return Error(ErrNo::kDbReadOnly, ErrorKind::kReadOnly,
                         QString("The database '%1' does not let this user add rows to %2.")
                             .arg(at.database, at.table.isEmpty() ? "its tables" : at.table));
        case Failure::kCannotWrite:
            if (at.step != Step::kOpen) {
                return Error(ErrNo::kDbReadOnly, ErrorKind::kReadOnly,
                             QString("The database '%1' cannot be written: the journal file that "
                                     "every change needs cannot be created in its folder.")
                                 .arg(at.database));
            }
            break;
        case Failure::kBusy:
            return Error(
                ErrNo::kDbLocked, ErrorKind::kLocked,
                QString("The database '%1' is locked by another program (waited %2 seconds). "
                        "Close the other program and try again.")
                    .arg(at.database)
                    .arg(at.waitedSeconds));
        case Failure::kDiskFull:
            return Error(ErrNo::kDbDiskFull, ErrorKind::kDiskFull,
                         QString("The disk that holds '%1' is full%2")
                             .arg(at.database,
                                  at.step == Step::kCommit ? "." : ": the row was not stored."));
        case Failure::kDamaged:
            return Error(ErrNo::kDbUnrecognized, ErrorKind::kNotADatabase,
                         QString("The database file '%1' is damaged or not a database (%2).")
                             .arg(at.database, text));
        case Failure::kConnectionLost:
            return Error(
                ErrNo::kDbConnectionLost, ErrorKind::kConnectionLost,
                QString("The connection to the database '%1' was lost: %2").arg(at.database, text));
        default:
            break;
    }
    return Error(ErrNo::kDbRefused, ErrorKind::kOther,
                 QString("The database '%1' refused a statement (%2): %3")
                     .arg(at.database, StepName(at.step), text));
}

}  // namespace

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

Failure ClassifySqliteCode(int code) {
    switch (code) {
        case 1555:  // SQLITE_CONSTRAINT_PRIMARYKEY
        case 2067:  // SQLITE_CONSTRAINT_UNIQUE
            return Failure::kDuplicateKey;
        case 19:  // SQLITE_CONSTRAINT without its extended code (the ODBC driver reports these)
            return Failure::kIntegrityUnknown;
        case 1544:  // SQLITE_READONLY_DIRECTORY: the folder refuses the journal
            return Failure::kCannotWrite;
        default:
            break;
    }
    switch (code & 0xff) {
        case 19:  // SQLITE_CONSTRAINT
            return Failure::kIntegrity;
        case 1:  // SQLITE_ERROR: no such table or column, or the syntax
            return Failure::kStatement;
        case 5:  // SQLITE_BUSY
        case 6:  // SQLITE_LOCKED
            return Failure::kBusy;
        case 8:  // SQLITE_READONLY
            return Failure::kReadOnly;
        case 23:  // SQLITE_AUTH: the user may not write
            return Failure::kNoPrivilege;
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
    static const struct {
        const char* prefix;  // a whole SQLSTATE, or a class of two characters
        Failure failure;
    } kTable[] = {
        {"23505", Failure::kDuplicateKey},
        {"23000", Failure::kIntegrityUnknown},  // ODBC's integrity violation, of whichever kind
        {"23", Failure::kIntegrity},
        {"22001", Failure::kValueTooLong},
        {"42P01", Failure::kNoObject},  // undefined table
        {"42703", Failure::kNoObject},  // undefined column
        {"42S02", Failure::kNoObject},  // ODBC: table not found
        {"42S22", Failure::kNoObject},  // ODBC: column not found
        {"25006", Failure::kReadOnly},  // read-only transaction
        {"42501", Failure::kNoPrivilege},
        {"53100", Failure::kDiskFull},
        {"55P03", Failure::kBusy},  // lock not available
        {"40P01", Failure::kBusy},  // deadlock
        {"40001", Failure::kBusy},  // serialization failure
        {"HYT00", Failure::kBusy},  // ODBC: timeout expired
        {"08", Failure::kConnectionLost},
        {"57P01", Failure::kConnectionLost},  // administrator shutdown
        {"57P02", Failure::kConnectionLost},  // crash shutdown
        {"57P03", Failure::kConnectionLost},  // cannot connect now
    };
    for (const auto& entry : kTable) {
        const QLatin1String prefix(entry.prefix);
        if (prefix.size() == 2 ? state.startsWith(prefix) : state == prefix) {
            return entry.failure;
        }
    }
    return Failure::kOther;
}

Failure Classify(System system, const Diagnostic& diagnostic) {
    switch (system) {
        case System::kSqlite: {
            bool ok = false;
            const int code = diagnostic.native.toInt(&ok);
            return ok ? ClassifySqliteCode(code) : Failure::kOther;
        }
        case System::kPostgres:
            // A connection that broke mid-statement often leaves no SQLSTATE at all.
            return diagnostic.sqlState.isEmpty() ? Failure::kConnectionLost
                                                 : ClassifySqlState(diagnostic.sqlState);
        case System::kAccess:
            return AccessLocked(diagnostic.native) ? Failure::kBusy
                                                   : ClassifySqlState(diagnostic.sqlState);
        case System::kOther:
            break;
    }
    return ClassifySqlState(diagnostic.sqlState);
}

QString StepName(Step step) {
    switch (step) {
        case Step::kOpen:
            return QStringLiteral("open");
        case Step::kPrepare:
            return QStringLiteral("prepare");
        case Step::kRead:
            return QStringLiteral("read");
        case Step::kWrite:
            return QStringLiteral("add a row");
        case Step::kBegin:
            return QStringLiteral("begin");
        case Step::kLock:
            return QStringLiteral("lock");
        case Step::kCommit:
            return QStringLiteral("commit");
        case Step::kCatalog:
            return QStringLiteral("read the table's columns");
    }
    return {};
}

bool LosesTransaction(Failure failure) {
    return failure == Failure::kDiskFull || failure == Failure::kConnectionLost;
}

AppError DescribeFailure(Failure failure, const FailurePlace& place, const QString& driverText) {
    const AppError error = Describe(failure, place, driverText);
    QString tail;
    if (place.step == Step::kCommit && failure == Failure::kConnectionLost) {
        // The commit may have reached the server before the connection broke.
        tail = QStringLiteral(
            " Whether the rows added since the last commit were stored is not "
            "known.");
    } else if (place.step == Step::kCommit) {
        tail = QStringLiteral(" The rows added since the last commit were not stored.");
    } else if (LosesTransaction(failure) && place.writesBefore > 0) {
        tail = QStringLiteral(" The rows added since the last commit were not stored either.");
    }
    return tail.isEmpty()
               ? error
               : AppError(error.number(), error.description() + tail, error.source(), error.kind());
}

}  // namespace db
