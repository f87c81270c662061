#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What a database TARGET names, and how the user is told which database is meant. A TARGET is
// what the programs accept after --db:
//   - a file path: an SQLite database (or, on Windows, an Access database);
//   - a PostgreSQL connection URI as psql accepts it: postgresql://[user[:password]@][host]
//     [:port][,...][/dbname][?param=value&...], also postgres://, with a socket folder as
//     ?host=/socket/dir;
//   - "odbc:" followed by an ODBC connection string ("odbc:DRIVER={...};...") or a data source
//     ("odbc:DSN=name").
// The session keeps a connection string: for a file the Jet-style text that the import window
// builds for dbEquip.mdb, for the others the TARGET itself.
namespace db {

enum class TargetKind { kFile, kPostgres, kOdbc };

// The connection string that the import window builds once at load: the Jet provider text with
// the application folder and the file name "dbEquip.MDB", joined by the platform's separator.
QString BuildConnectionString(const QString& appFolder);
// The same connection string for the database file at `path`, named as given.
QString ConnectionStringForFile(const QString& path);

TargetKind KindOfTarget(const QString& target);

// The connection string for `target`: a file path becomes the Jet-style connection string with
// the path as its Data Source; a URI or an odbc: target is kept as it is.
QString ConnectionStringForTarget(const QString& target);

// The path named by the "Data Source" of a Jet-style connection string, exactly as written. The
// value runs to the ";Persist Security Info=" that closes the string, so a folder holding ';' or
// '=' survives; without that tail it runs to the next ';'.
QString DataSourceOf(const QString& connectionString);

// The text after "odbc:".
QString OdbcConnectionString(const QString& target);

// How the database of `connectionString` is named to the user: the file's path, the URI or the
// ODBC connection string, each without a password.
QString DescribeConnection(const QString& connectionString);

// The parts of a PostgreSQL connection URI, decoded. Hosts and ports stay comma-separated lists
// as written; `parameters` holds every other keyword in the order given.
struct PostgresAddress {
    QString host;
    QString port;
    QString dbname;
    QString user;
    QString password;
    QList<QPair<QString, QString>> parameters;
};

// Parses a postgresql:// or postgres:// URI by the rules of the PostgreSQL client library.
// Returns false with `error` set when it is malformed.
bool ParsePostgresUri(const QString& uri, PostgresAddress& address, QString& error);

}  // namespace db
