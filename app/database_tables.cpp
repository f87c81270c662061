#include "app/database_tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryFile>
#include <utility>

#include "core/error.h"
#include "records/database.h"

namespace {

// The statements of an SQL script: split at ';' outside quotes, "--" comments left out.
QStringList Statements(const QString& script) {
    QStringList statements;
    QString current;
    QChar quote;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar ch = script.at(i);
        if (!quote.isNull()) {
            quote = ch == quote ? QChar() : quote;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
        } else if (ch == '-' && script.mid(i, 2) == QLatin1String("--")) {
            i = script.indexOf('\n', i);
            if (i < 0) {
                break;
            }
        } else if (ch == ';') {
            statements << current.trimmed();
            current.clear();
            continue;
        }
        current += script.at(i);
    }
    statements << current.trimmed();
    statements.removeAll(QString());
    return statements;
}

// Runs `statements` in one transaction on a new SQLite file at `path`.
bool RunOnNewFile(const QString& path, const QStringList& statements, QString& error) {
    const QString name = QStringLiteral("importflx-create-") + path;
    bool ok = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(path);
        ok = database.open() && database.transaction();
        for (const QString& statement : statements) {
            if (!ok) {
                break;
            }
            QSqlQuery query(database);
            ok = query.exec(statement);
            if (!ok) {
                error = query.lastError().text();
            }
        }
        ok = ok && database.commit();
        if (!ok && error.isEmpty()) {
            error = database.lastError().text();
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

}  // namespace

bool CheckDatabaseTables(db::Database& database, QString& error) {
    try {
        db::CheckTables(database);
        return true;
    } catch (const AppError& e) {
        error = ErrorText(e);
        return false;
    }
}

bool CreateDatabaseFromSchema(const QString& schemaFile, const QString& path, QString& error) {
    QFile schema(schemaFile);
    if (!schema.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("The schema %1 cannot be read: %2")
                    .arg(schemaFile, schema.errorString());
        return false;
    }
    const QStringList statements = Statements(QString::fromUtf8(schema.readAll()));
    const QFileInfo target(path);
    if (target.exists()) {
        error = QStringLiteral("%1 exists already.").arg(path);
        return false;
    }
    if (!QDir().mkpath(target.path())) {
        error = QStringLiteral("The folder %1 cannot be created.").arg(target.path());
        return false;
    }
    // Made under a name of its own beside the target, so that a failure leaves nothing behind
    // and nobody opens a half-made database.
    QTemporaryFile made(QDir(target.path()).filePath(QStringLiteral(".dbEquip-XXXXXX.new")));
    if (!made.open()) {
        error = QStringLiteral("%1 cannot be created: %2").arg(path, made.errorString());
        return false;
    }
    made.close();
    QString reason;
    if (!RunOnNewFile(made.fileName(), statements, reason)) {
        error = QStringLiteral("%1 cannot be created from %2: %3").arg(path, schemaFile, reason);
        return false;
    }
    // The rename fails rather than replace a file that appeared meanwhile.
    if (!made.rename(path)) {
        error = QStringLiteral("%1 cannot be created: %2").arg(path, made.errorString());
        return false;
    }
    made.setAutoRemove(false);
    return true;
}
