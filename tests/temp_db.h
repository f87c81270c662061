#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "tests/printers.h"

class QProcess;

// The kinds of database the tests run against: an SQLite file, a PostgreSQL schema on the test
// server, and the same two through ODBC.
enum class Store { kSqlite, kPostgres, kOdbcSqlite, kOdbcPostgres };

std::vector<Store> AllStores();
std::string StoreName(Store store);
bool IsPostgres(Store store);

// A PostgreSQL server of its own (tests/pg_server.sh) in a new socket folder, removed when it goes.
class PostgresServer {
  public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    const QString& socket() const { return socket_; }
    // Runs tests/pg_server.sh `action` on it ("crash" stops it at once, as a power cut would;
    // "resume" starts it again); true on success.
    bool Control(const char* action);

  private:
    QString socket_;
};

// tests/pg_relay.py in front of the server listening in `serverSocket`: clients that reach the
// relay's socket folder reach the server, and the relay counts round trips; `cut` (the relay's
// CUT) breaks one connection on its way. Killed when it goes.
class PgRelay {
  public:
    explicit PgRelay(const QString& serverSocket, const QString& cut = {});
    ~PgRelay();
    PgRelay(const PgRelay&) = delete;
    PgRelay& operator=(const PgRelay&) = delete;

    const QString& socket() const { return socket_; }
    // `target` with the server's socket folder replaced by the relay's.
    QString Through(const QString& target) const;
    // The round trips of every connection so far, once all of them have closed.
    int Turns() const;

  private:
    QString serverSocket_;
    QTemporaryDir dir_;
    QString socket_;
    std::unique_ptr<QProcess> process_;
};

// The socket folder of the test server: the one ctest started (IMPORTFLX_PG_SOCKET), else one
// started now for this process.
QString TestServerSocket();

// A throwaway database: an SQLite file in a temporary folder, or a schema of its own on the test
// server. The program's database objects over it must be gone before it goes.
class TempDb {
  public:
    // `fileName` in a new temporary folder, built from the demo schema (unless `withSchema` is
    // false) and `extraSql` (statements separated by ';'); nothing at all: an empty file.
    explicit TempDb(const QString& extraSql = {}, bool withSchema = true,
                    const QString& fileName = "dbEquip.mdb");
    // The same on `store`; a PostgreSQL store lies on the server listening in `socket` (default:
    // TestServerSocket()).
    TempDb(Store store, const QString& extraSql, bool withSchema = true,
           const QString& socket = {});
    ~TempDb();

    // A temporary folder that exists for every store; the SQLite file lies in it.
    QString folder() const { return dir_.path(); }
    QString path() const;
    // The connection string the programs use (for the SQLite file: the import window's).
    QString connection() const;
    // The TARGET that names it on a command line (--db).
    QString target() const;
    // PostgreSQL only: a role that may read every table and add rows to every one but `table`
    // (made once per process), and the connection string that connects as `role`.
    QString RoleWithoutInsert(const QString& table) const;
    QString ConnectionAs(const QString& role) const;

    // Run on a private connection; an SQL error fails the test. Booleans read as -1 and 0, as
    // the SQLite store keeps them. Scalar: the first column of the first row, or null. Rows:
    // each row's columns joined by '|' (null shown as "<null>").
    QVariant Scalar(const QString& sqlText) const;
    QStringList Rows(const QString& sqlText) const;
    void Exec(const QString& sqlText) const;
    // Each equipment row after the demo rows as "name|inputs|outputs", in the order stored.
    QStringList Devices() const;
    // Everything the database holds, as its own dump tool writes it (sqlite3 .dump, pg_dump).
    QString Dump() const;
    // Holds the database as another importer does for its file (SQLite's write lock, or the
    // importers' lock of PostgreSQL) until the result goes.
    std::shared_ptr<void> HoldForImport() const;
    // Runs `statements` in a transaction that stays open until the result goes; for SQLite one
    // that holds the write lock, or with `writeLock` false only what the statements take (a
    // SELECT: the shared lock of a reader).
    std::shared_ptr<void> Hold(const QStringList& statements, bool writeLock = true) const;

  private:
    template <typename Fn>
    void WithConnection(Fn fn) const;
    QList<QVariantList> Values(const QString& sqlText) const;

    Store store_ = Store::kSqlite;
    QTemporaryDir dir_;
    QString fileName_;
    QString schema_;  // the server schema
    QString socket_;  // the server's socket folder
};

// The demo schema's text and the demo rows' text, in the form of `store`.
QString DemoSchemaSql(Store store = Store::kSqlite);
QString DemoRowsSql(Store store = Store::kSqlite);
