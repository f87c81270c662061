#include "tests/temp_db.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include "records/connection.h"

namespace {
QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// Calls `fn` with a private connection to `path`, removed afterwards.
template <typename Fn>
void WithConnection(const QString& path, Fn fn) {
    const QString name = "tempdb-" + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        if (!db.open()) {
            ADD_FAILURE() << "cannot open " << path.toStdString();
        } else {
            fn(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QStringList SplitStatements(const QString& text) {
    QStringList out;
    QString current;
    bool inQuote = false;
    const QStringList lines = text.split('\n');
    for (const QString& rawLine : lines) {
        QString line = rawLine;
        if (!inQuote && line.trimmed().startsWith("--")) {
            continue;
        }
        for (QChar c : line) {
            if (c == '\'') {
                inQuote = !inQuote;
            }
            if (c == ';' && !inQuote) {
                if (!current.trimmed().isEmpty()) {
                    out << current.trimmed();
                }
                current.clear();
            } else {
                current += c;
            }
        }
        current += '\n';
    }
    if (!current.trimmed().isEmpty()) {
        out << current.trimmed();
    }
    return out;
}
}  // namespace

QString DemoSchemaSql() {
    return ReadText(QStringLiteral(IMPORTFLX_DATA_DIR) + "/schema.sql");
}
QString DemoRowsSql() {
    return ReadText(QStringLiteral(IMPORTFLX_DATA_DIR) + "/demo.sql");
}

TempDb::TempDb(const QString& extraSql, bool withSchema, const QString& fileName)
    : fileName_(fileName) {
    db::Connection::CloseAll();
    QString sqlText = withSchema ? DemoSchemaSql() + ";\n" : QString();
    sqlText += extraSql;
    if (sqlText.trimmed().isEmpty()) {
        QFile file(path());
        if (!file.open(QIODevice::WriteOnly)) {
            ADD_FAILURE() << "cannot create " << path().toStdString();
        }
        return;
    }
    Exec(sqlText);
}

TempDb::~TempDb() {
    db::Connection::CloseAll();
}

QString TempDb::path() const {
    return QDir(dir_.path()).filePath(fileName_);
}

QString TempDb::connection() const {
    return db::BuildConnectionString(QDir::toNativeSeparators(folder()));
}

void TempDb::Exec(const QString& sqlText) const {
    ExecOn(path(), sqlText);
}

void TempDb::ExecOn(const QString& path, const QString& sqlText) {
    WithConnection(path, [&](QSqlDatabase& db) {
        for (const QString& statement : SplitStatements(sqlText)) {
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                ADD_FAILURE() << "SQL failed: " << statement.toStdString() << ": "
                              << query.lastError().text().toStdString();
            }
        }
    });
}

QVariant TempDb::Scalar(const QString& sqlText) const {
    QVariant result;
    WithConnection(path(), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sqlText)) {
            ADD_FAILURE() << "SQL failed: " << sqlText.toStdString() << ": "
                          << query.lastError().text().toStdString();
            return;
        }
        if (query.next()) {
            result = query.value(0);
        }
    });
    return result;
}

QStringList TempDb::Rows(const QString& sqlText) const {
    QStringList rows;
    WithConnection(path(), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sqlText)) {
            ADD_FAILURE() << "SQL failed: " << sqlText.toStdString() << ": "
                          << query.lastError().text().toStdString();
            return;
        }
        while (query.next()) {
            QStringList cols;
            for (int i = 0; i < query.record().count(); ++i) {
                const QVariant v = query.value(i);
                cols << (v.isNull() ? QStringLiteral("<null>") : v.toString());
            }
            rows << cols.join('|');
        }
    });
    return rows;
}
