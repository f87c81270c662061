#include "tests/temp_db.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUuid>
#include <cstdlib>

#include "records/connection.h"

namespace {

constexpr int kServerPort = 5432;
int nextSchema = 0;

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// Calls `fn` with a private connection to the SQLite file `path`, or with `schema` first in the
// search path of the test server's database when `path` is empty; removed afterwards.
template <typename Fn>
void Connect(const QString& path, const QString& schema, Fn fn, const QString& socket = {}) {
    const QString name = "tempdb-" + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(path.isEmpty() ? "QPSQL" : "QSQLITE", name);
        if (path.isEmpty()) {
            db.setHostName(socket.isEmpty() ? TestServerSocket() : socket);
            db.setPort(kServerPort);
            db.setDatabaseName("importflx");
            db.setUserName("postgres");
            db.setConnectOptions("options='-csearch_path=" + schema +
                                 " -cclient_min_messages=warning'");
        } else {
            db.setDatabaseName(path);
        }
        if (!db.open()) {
            ADD_FAILURE() << "cannot open " << (path.isEmpty() ? schema : path).toStdString()
                          << ": " << db.lastError().text().toStdString();
        } else {
            fn(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// A value as the SQLite store shows it: Booleans as -1 and 0.
QVariant AsStored(const QVariant& value) {
    return value.typeId() == QMetaType::Bool ? QVariant(value.toBool() ? -1 : 0) : value;
}

QString ServerScript() {
    return QStringLiteral(IMPORTFLX_TESTS_DIR) + "/pg_server.sh";
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

PostgresServer::PostgresServer()
    : socket_(QDir::temp().filePath(QString("importflx-pg-%1-%2")
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(QUuid::createUuid().toString(QUuid::Id128).left(8)))) {
    EXPECT_TRUE(Run("start")) << "the PostgreSQL server for the tests did not start";
}

PostgresServer::~PostgresServer() {
    // Also at the end of the process, when Qt's process handling may be gone.
    const std::string command =
        "bash '" + ServerScript().toStdString() + "' stop '" + socket_.toStdString() + "'";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

void PostgresServer::Crash() {
    EXPECT_TRUE(Run("crash"));
}

void PostgresServer::Resume() {
    EXPECT_TRUE(Run("resume"));
}

bool PostgresServer::Run(const char* action) {
    return QProcess::execute("bash", {ServerScript(), action, socket_}) == 0;
}

QString TestServerSocket() {
    const QString given = qEnvironmentVariable("IMPORTFLX_PG_SOCKET");
    if (!given.isEmpty()) {
        return given;
    }
    static PostgresServer server;
    return server.socket();
}

std::vector<Store> AllStores() {
    return {Store::kSqlite, Store::kPostgres, Store::kOdbcSqlite, Store::kOdbcPostgres};
}

std::string StoreName(Store store) {
    switch (store) {
        case Store::kSqlite:
            return "Sqlite";
        case Store::kPostgres:
            return "Postgres";
        case Store::kOdbcSqlite:
            return "OdbcSqlite";
        case Store::kOdbcPostgres:
            return "OdbcPostgres";
    }
    return "?";
}

bool IsPostgres(Store store) {
    return store == Store::kPostgres || store == Store::kOdbcPostgres;
}

QString DemoSchemaSql(Store store) {
    return ReadText(QStringLiteral(IMPORTFLX_DATA_DIR) +
                    (IsPostgres(store) ? "/schema_pg.sql" : "/schema.sql"));
}
QString DemoRowsSql(Store store) {
    return ReadText(QStringLiteral(IMPORTFLX_DATA_DIR) +
                    (IsPostgres(store) ? "/demo_pg.sql" : "/demo.sql"));
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

TempDb::TempDb(Store store, const QString& extraSql, bool withSchema, const QString& socket)
    : TempDb(IsPostgres(store) ? QString() : extraSql, IsPostgres(store) ? false : withSchema) {
    store_ = store;
    if (!IsPostgres(store)) {
        return;
    }
    socket_ = socket.isEmpty() ? TestServerSocket() : socket;
    schema_ = QString("t_%1_%2").arg(QCoreApplication::applicationPid()).arg(++nextSchema);
    Connect(
        {}, "public",
        [&](QSqlDatabase& db) {
            QSqlQuery query(db);
            if (!query.exec("CREATE SCHEMA " + schema_)) {
                ADD_FAILURE() << query.lastError().text().toStdString();
            }
        },
        socket_);
    Exec((withSchema ? DemoSchemaSql(store) + ";\n" : QString()) + extraSql);
}

TempDb::~TempDb() {
    db::Connection::CloseAll();
    if (!schema_.isEmpty()) {
        Connect(
            {}, "public",
            [&](QSqlDatabase& db) { QSqlQuery(db).exec("DROP SCHEMA " + schema_ + " CASCADE"); },
            socket_);
    }
}

QString TempDb::path() const {
    return QDir(dir_.path()).filePath(fileName_);
}

QString TempDb::connection() const {
    switch (store_) {
        case Store::kSqlite:
            break;
        case Store::kPostgres:
            return QString("postgresql:///importflx?host=%1&port=%2&user=postgres")
                       .arg(socket_)
                       .arg(kServerPort) +
                   "&options=-csearch_path%3D" + schema_;
        case Store::kOdbcSqlite:
            return "odbc:DRIVER={SQLite3};Database=" + path();
        case Store::kOdbcPostgres:
            return QString(
                       "odbc:DRIVER={PostgreSQL Unicode};Server=%1;Port=%2;Database=importflx;"
                       "UID=postgres;ConnSettings=SET search_path TO %3")
                .arg(socket_)
                .arg(kServerPort)
                .arg(schema_);
    }
    return db::BuildConnectionString(QDir::toNativeSeparators(folder()));
}

QString TempDb::target() const {
    return store_ == Store::kSqlite ? path() : connection();
}

template <typename Fn>
void TempDb::WithConnection(Fn fn) const {
    if (IsPostgres(store_)) {
        Connect({}, schema_, fn, socket_);
    } else {
        Connect(path(), {}, fn);
    }
}

void TempDb::Exec(const QString& sqlText) const {
    WithConnection([&](QSqlDatabase& db) {
        for (const QString& statement : SplitStatements(sqlText)) {
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                ADD_FAILURE() << "SQL failed: " << statement.toStdString() << ": "
                              << query.lastError().text().toStdString();
            }
        }
    });
}

void TempDb::ExecOn(const QString& path, const QString& sqlText) {
    Connect(path, {}, [&](QSqlDatabase& db) {
        for (const QString& statement : SplitStatements(sqlText)) {
            QSqlQuery query(db);
            if (!query.exec(statement)) {
                ADD_FAILURE() << "SQL failed: " << statement.toStdString() << ": "
                              << query.lastError().text().toStdString();
            }
        }
    });
}

QString TempDb::Dump() const {
    QProcess dump;
    if (IsPostgres(store_)) {
        QString tool = QStandardPaths::findExecutable("pg_dump");
        if (tool.isEmpty()) {
            const QStringList versions =
                QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            tool = versions.isEmpty() ? QString()
                                      : "/usr/lib/postgresql/" + versions.last() + "/bin/pg_dump";
        }
        dump.start(tool, {"-h", socket_, "-p", QString::number(kServerPort), "-U", "postgres", "-n",
                          schema_, "importflx"});
    } else {
        dump.start("sqlite3", {path(), ".dump"});
    }
    EXPECT_TRUE(dump.waitForFinished(60000) && dump.exitCode() == 0)
        << dump.readAllStandardError().toStdString();
    // pg_dump fences its output with a key of its own choosing each time.
    static const QRegularExpression fence(R"(^\\(un)?restrict \S+\n)",
                                          QRegularExpression::MultilineOption);
    return QString::fromUtf8(dump.readAllStandardOutput()).remove(fence);
}

std::shared_ptr<void> TempDb::HoldForImport() const {
    const QString name = "tempdb-hold-" + QUuid::createUuid().toString();
    QSqlDatabase db = QSqlDatabase::addDatabase(IsPostgres(store_) ? "QPSQL" : "QSQLITE", name);
    if (IsPostgres(store_)) {
        db.setHostName(socket_);
        db.setPort(kServerPort);
        db.setDatabaseName("importflx");
        db.setUserName("postgres");
        db.setConnectOptions("options='-csearch_path=" + schema_ + "'");
    } else {
        db.setDatabaseName(path());
    }
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    QSqlQuery query(db);
    const QStringList hold = IsPostgres(store_) ? QStringList{"BEGIN", db::PostgresImportersLock()}
                                                : QStringList{"BEGIN IMMEDIATE"};
    for (const QString& statement : hold) {
        EXPECT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
    }
    return std::shared_ptr<void>(nullptr, [name](void*) {
        {
            QSqlDatabase held = QSqlDatabase::database(name, false);
            QSqlQuery(held).exec("ROLLBACK");
            held.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
}

QVariant TempDb::Scalar(const QString& sqlText) const {
    QVariant result;
    WithConnection([&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sqlText)) {
            ADD_FAILURE() << "SQL failed: " << sqlText.toStdString() << ": "
                          << query.lastError().text().toStdString();
            return;
        }
        if (query.next()) {
            result = AsStored(query.value(0));
        }
    });
    return result;
}

QStringList TempDb::Rows(const QString& sqlText) const {
    QStringList rows;
    WithConnection([&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.exec(sqlText)) {
            ADD_FAILURE() << "SQL failed: " << sqlText.toStdString() << ": "
                          << query.lastError().text().toStdString();
            return;
        }
        while (query.next()) {
            QStringList cols;
            for (int i = 0; i < query.record().count(); ++i) {
                const QVariant v = AsStored(query.value(i));
                cols << (v.isNull() ? QStringLiteral("<null>") : v.toString());
            }
            rows << cols.join('|');
        }
    });
    return rows;
}
