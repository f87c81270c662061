#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "tests/printers.h"

// The kinds of database the tests run against: an SQLite file, a PostgreSQL schema on the test
// server, and the same two through ODBC.
enum class Store { kSqlite, kPostgres, kOdbcSqlite, kOdbcPostgres };

// Every store, for parametrized suites; and the name of a store for test names.
std::vector<Store> AllStores();
std::string StoreName(Store store);
inline void PrintTo(Store store, std::ostream* os) {
    *os << StoreName(store);
}
bool IsPostgres(Store store);

// A PostgreSQL server of its own (tests/pg_server.sh), listening in a new socket folder; stopped
// and removed when it goes.
class PostgresServer {
  public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    const QString& socket() const { return socket_; }
    // Stops the server at once, as a power cut would, and starts it again.
    void Crash();
    void Resume();

  private:
    bool Run(const char* action);
    QString socket_;
};

// The socket folder of the PostgreSQL server for the tests: the one ctest started (environment
// IMPORTFLX_PG_SOCKET), else one started now for this process and stopped at its end.
QString TestServerSocket();

// A throwaway database built from SQL scripts: an SQLite file in a temporary folder, or a schema
// of its own on the test server. The shared connections are closed when it goes, so every test
// starts from a fresh database.
class TempDb {
  public:
    // Builds `fileName` in a new temporary folder from the demo schema (unless `withSchema` is
    // false) followed by `extraSql` (statements separated by ';').
    explicit TempDb(const QString& extraSql = {}, bool withSchema = true,
                    const QString& fileName = "dbEquip.mdb");
    // The same on `store`; a server schema has no file name. A PostgreSQL store lies on the
    // server listening in `socket` (default: TestServerSocket()).
    TempDb(Store store, const QString& extraSql, bool withSchema = true,
           const QString& socket = {});
    ~TempDb();

    Store store() const { return store_; }
    // A temporary folder that exists for every store; the SQLite file lies in it.
    QString folder() const { return dir_.path(); }
    QString path() const;
    // The connection string the programs use for this database (for the SQLite file: the one
    // the import window builds for its folder).
    QString connection() const;
    // The TARGET that names it on a command line (--db).
    QString target() const;

    // Runs `sqlText` on a private connection (not the shared one) and returns the first column
    // of the first row, or a null value. Raises a gtest failure on an SQL error. Booleans read
    // as -1 and 0, as the SQLite store keeps them.
    QVariant Scalar(const QString& sqlText) const;
    // The rows of `sqlText`, each row's columns joined by '|' (null shown as "<null>").
    QStringList Rows(const QString& sqlText) const;
    // Runs statements separated by ';' on a private connection.
    void Exec(const QString& sqlText) const;
    // Everything the database holds, as its own dump tool writes it (sqlite3 .dump, pg_dump).
    QString Dump() const;
    // Holds the database as another importer does for its file (SQLite's write lock, or the
    // importers' lock of PostgreSQL) until the result goes.
    std::shared_ptr<void> HoldForImport() const;
    // Runs statements separated by ';' on the SQLite file at `path`.
    static void ExecOn(const QString& path, const QString& sqlText);

  private:
    template <typename Fn>
    void WithConnection(Fn fn) const;

    Store store_ = Store::kSqlite;
    QTemporaryDir dir_;
    QString fileName_;
    QString schema_;  // the server schema
    QString socket_;  // the server's socket folder
};

// The demo schema's text and the demo rows' text, in the form of `store`.
QString DemoSchemaSql(Store store = Store::kSqlite);
QString DemoRowsSql(Store store = Store::kSqlite);
