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
#include <QTest>
#include <QUuid>
#include <cstdlib>

#include "records/dialect.h"
#include "records/target.h"
#include "tests/flx_builder.h"

namespace {

constexpr int kServerPort = 5432;
int nextSchema = 0;

// Opens a connection named `name` to the SQLite file `path`, or, when `path` is empty, to the
// test server listening in `socket` with `schema` first in the search path.
QSqlDatabase Open(const QString& name, const QString& path, const QString& schema,
                  const QString& socket) {
    QSqlDatabase db = QSqlDatabase::addDatabase(path.isEmpty() ? "QPSQL" : "QSQLITE", name);
    if (path.isEmpty()) {
        db.setHostName(socket);
        db.setPort(kServerPort);
        db.setDatabaseName("importflx");
        db.setUserName("postgres");
        db.setConnectOptions("options='-csearch_path=" + schema +
                             " -cclient_min_messages=warning'");
    } else {
        db.setDatabaseName(path);
    }
    EXPECT_TRUE(db.open()) << "cannot open " << (path.isEmpty() ? schema : path).toStdString()
                           << ": " << db.lastError().text().toStdString();
    return db;
}

// Calls `fn` with a private connection (see Open), removed afterwards.
template <typename Fn>
void Connect(const QString& path, const QString& schema, const QString& socket, Fn fn) {
    const QString name = "tempdb-" + QUuid::createUuid().toString();
    {
        QSqlDatabase db = Open(name, path, schema, socket);
        if (db.isOpen()) {
            fn(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

bool Run(QSqlQuery& query, const QString& statement) {
    const bool ok = query.exec(statement);
    EXPECT_TRUE(ok) << "SQL failed: " << statement.toStdString() << ": "
                    << query.lastError().text().toStdString();
    return ok;
}

// Runs the statements of `text`, separated by ';' outside quotes; lines starting "--" are left out.
void RunScript(QSqlDatabase& db, const QString& text) {
    QStringList statements{QString()};
    bool inQuote = false;
    for (const QString& line : text.split('\n')) {
        if (!inQuote && line.trimmed().startsWith("--")) {
            continue;
        }
        for (const QChar c : line) {
            inQuote ^= c == '\'';
            if (c == ';' && !inQuote) {
                statements << QString();
            } else {
                statements.last() += c;
            }
        }
        statements.last() += '\n';
    }
    for (const QString& statement : statements) {
        QSqlQuery query(db);
        if (!statement.trimmed().isEmpty()) {
            Run(query, statement.trimmed());
        }
    }
}

// A value as the SQLite store shows it: Booleans as -1 and 0.
QVariant AsStored(const QVariant& value) {
    return value.typeId() == QMetaType::Bool ? QVariant(value.toBool() ? -1 : 0) : value;
}

QString ServerScript() {
    return QStringLiteral(IMPORTFLX_TESTS_DIR) + "/pg_server.sh";
}

}  // namespace

PostgresServer::PostgresServer()
    : socket_(QDir::temp().filePath(QString("importflx-pg-%1-%2")
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(QUuid::createUuid().toString(QUuid::Id128).left(8)))) {
    EXPECT_TRUE(Control("start")) << "the PostgreSQL server for the tests did not start";
}

PostgresServer::~PostgresServer() {
    // Also at the end of the process, when Qt's process handling may be gone.
    const std::string command =
        "bash '" + ServerScript().toStdString() + "' stop '" + socket_.toStdString() + "'";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

bool PostgresServer::Control(const char* action) {
    return QProcess::execute("bash", {ServerScript(), action, socket_}) == 0;
}

PgRelay::PgRelay(const QString& serverSocket, const QString& cut)
    : serverSocket_(serverSocket),
      socket_(QDir(dir_.path()).absolutePath()),
      process_(std::make_unique<QProcess>()) {
    QStringList args{IMPORTFLX_TESTS_DIR "/pg_relay.py", serverSocket, socket_,
                     dir_.filePath("turns.log")};
    if (!cut.isEmpty()) {
        args << "0" << cut;
    }
    process_->start("python3", args);
    EXPECT_TRUE(process_->waitForReadyRead(30000) && process_->readAll().startsWith("ready"));
}

PgRelay::~PgRelay() {
    process_->kill();
    process_->waitForFinished();
}

QString PgRelay::Through(const QString& target) const {
    return QString(target).replace(serverSocket_, socket_);
}

int PgRelay::Turns() const {
    QStringList lines;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile log(dir_.filePath("turns.log"));
            lines = log.open(QIODevice::ReadOnly)
                        ? QString::fromLatin1(log.readAll()).split('\n', Qt::SkipEmptyParts)
                        : QStringList();
            return lines.count("open") * 2 == lines.size();
        },
        60000));
    int total = 0;
    for (const QString& line : lines.filter("turns ")) {
        total += line.section(' ', 1).toInt();
    }
    return total;
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
    static const char* const names[] = {"Sqlite", "Postgres", "OdbcSqlite", "OdbcPostgres"};
    return names[static_cast<int>(store)];
}

bool IsPostgres(Store store) {
    return store == Store::kPostgres || store == Store::kOdbcPostgres;
}

QString DemoSchemaSql(Store store) {
    return flxtest::Read(IMPORTFLX_DATA_DIR +
                         QString(IsPostgres(store) ? "/schema_pg.sql" : "/schema.sql"));
}
QString DemoRowsSql(Store store) {
    return flxtest::Read(IMPORTFLX_DATA_DIR +
                         QString(IsPostgres(store) ? "/demo_pg.sql" : "/demo.sql"));
}

TempDb::TempDb(const QString& extraSql, bool withSchema, const QString& fileName)
    : fileName_(fileName) {
    const QString sqlText = (withSchema ? DemoSchemaSql() + ";\n" : QString()) + extraSql;
    if (sqlText.trimmed().isEmpty()) {
        EXPECT_TRUE(QFile(path()).open(QIODevice::WriteOnly)) << path().toStdString();
    } else {
        Exec(sqlText);
    }
}

TempDb::TempDb(Store store, const QString& extraSql, bool withSchema, const QString& socket)
    : TempDb(IsPostgres(store) ? QString() : extraSql, !IsPostgres(store) && withSchema) {
    store_ = store;
    if (IsPostgres(store)) {
        socket_ = socket.isEmpty() ? TestServerSocket() : socket;
        schema_ = QString("t_%1_%2").arg(QCoreApplication::applicationPid()).arg(++nextSchema);
        Connect({}, "public", socket_,
                [&](QSqlDatabase& db) { RunScript(db, "CREATE SCHEMA " + schema_); });
        Exec((withSchema ? DemoSchemaSql(store) + ";\n" : QString()) + extraSql);
    }
}

TempDb::~TempDb() {
    if (!schema_.isEmpty()) {
        Connect({}, "public", socket_,
                [&](QSqlDatabase& db) { RunScript(db, "DROP SCHEMA " + schema_ + " CASCADE"); });
    }
}

QString TempDb::path() const {
    return QDir(dir_.path()).filePath(fileName_);
}

QString TempDb::connection() const {
    const QString port = QString::number(kServerPort);
    switch (store_) {
        case Store::kPostgres:
            return "postgresql:///importflx?host=" + socket_ + "&port=" + port +
                   "&user=postgres&options=-csearch_path%3D" + schema_;
        case Store::kOdbcSqlite:
            return "odbc:DRIVER={SQLite3};Database=" + path();
        case Store::kOdbcPostgres:
            return "odbc:DRIVER={PostgreSQL Unicode};Server=" + socket_ + ";Port=" + port +
                   ";Database=importflx;UID=postgres;ConnSettings=SET search_path TO " + schema_;
        default:
            return db::BuildConnectionString(QDir::toNativeSeparators(folder()));
    }
}

QString TempDb::target() const {
    return store_ == Store::kSqlite ? path() : connection();
}

QString TempDb::RoleWithoutInsert(const QString& table) const {
    const QString role =
        QString("importflx_no_%1_%2").arg(table.toLower()).arg(QCoreApplication::applicationPid());
    if (Scalar("SELECT count(*) FROM pg_roles WHERE rolname = '" + role + "'").toInt() == 0) {
        Exec("CREATE ROLE " + role + " LOGIN");
    }
    Exec(QString("GRANT USAGE ON SCHEMA %1 TO %2; GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA "
                 "%1 TO %2; GRANT USAGE ON ALL SEQUENCES IN SCHEMA %1 TO %2; REVOKE INSERT ON "
                 "%1.%3 FROM %2")
             .arg(schema_, role, table));
    return role;
}

QString TempDb::ConnectionAs(const QString& role) const {
    return QString(connection())
        .replace("user=postgres", "user=" + role)
        .replace("UID=postgres", "UID=" + role);
}

template <typename Fn>
void TempDb::WithConnection(Fn fn) const {
    Connect(IsPostgres(store_) ? QString() : path(), schema_, socket_, fn);
}

void TempDb::Exec(const QString& sqlText) const {
    WithConnection([&](QSqlDatabase& db) { RunScript(db, sqlText); });
}

QList<QVariantList> TempDb::Values(const QString& sqlText) const {
    QList<QVariantList> rows;
    WithConnection([&](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!Run(query, sqlText)) {
            return;
        }
        while (query.next()) {
            rows.append(QVariantList());
            for (int i = 0; i < query.record().count(); ++i) {
                rows.last() << AsStored(query.value(i));
            }
        }
    });
    return rows;
}

QVariant TempDb::Scalar(const QString& sqlText) const {
    return Values(sqlText).value(0).value(0);
}

QStringList TempDb::Rows(const QString& sqlText) const {
    QStringList rows;
    for (const QVariantList& values : Values(sqlText)) {
        QStringList cols;
        for (const QVariant& v : values) {
            cols << (v.isNull() ? QStringLiteral("<null>") : v.toString());
        }
        rows << cols.join('|');
    }
    return rows;
}

QString TempDb::Dump() const {
    QProcess dump;
    if (IsPostgres(store_)) {
        // The server's own version of the tool: the newest, as tests/pg_server.sh picks it.
        const QString versions = "/usr/lib/postgresql";
        dump.start(versions + "/" + QDir(versions).entryList(QDir::Dirs, QDir::Name).last() +
                       "/bin/pg_dump",
                   {"-h", socket_, "-p", QString::number(kServerPort), "-U", "postgres", "-n",
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

QStringList TempDb::Devices() const {
    return Rows(
        "SELECT EquipmentName, (SELECT count(*) FROM tblInputs i WHERE i.EquipmentID = "
        "e.EquipmentID), (SELECT count(*) FROM tblOutputs o WHERE o.EquipmentID = e.EquipmentID) "
        "FROM tblEquipment e WHERE EquipmentID > 2 ORDER BY EquipmentID");
}

std::shared_ptr<void> TempDb::HoldForImport() const {
    return Hold(IsPostgres(store_) ? QStringList{db::PostgresImportersLock()} : QStringList{});
}

std::shared_ptr<void> TempDb::Hold(const QStringList& statements, bool writeLock) const {
    const QString name = "tempdb-hold-" + QUuid::createUuid().toString();
    QSqlDatabase db = Open(name, IsPostgres(store_) ? QString() : path(), schema_, socket_);
    QSqlQuery query(db);
    Run(query, IsPostgres(store_) || !writeLock ? "BEGIN" : "BEGIN IMMEDIATE");
    for (const QString& statement : statements) {
        Run(query, statement);
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
