#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What a database TARGET names, and how the user is shown it. A TARGET is what the programs
// accept after --db:
//   - a file path: an SQLite database (or, on Windows, an Access database);
//   - a PostgreSQL connection string exactly as the PostgreSQL client library (libpq) takes it:
//     a URI postgresql://[user[:password]@][host][:port][,...][/dbname][?param=value&...] (also
//     postgres://, with a socket folder as ?host=/socket/dir), or keyword/value pairs such as
//     "host=db.example.com dbname=equipment sslmode=verify-full", with every keyword the library
//     knows (service, passfile, sslrootcert, connect_timeout, application_name ...);
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

// kPostgres for a URI of either scheme (in any letter case) and for keyword/value pairs that
// begin with a keyword of the client library or hold at least two pairs; kOdbc for "odbc:";
// kFile for anything else, the Jet-style connection string included. A text of another scheme
// ("postgress://...") is kFile here and refused by TargetProblem.
TargetKind KindOfTarget(const QString& target);

// Why `target` names no database that importflx can open, or empty when it may name one: a
// scheme other than postgresql:// and postgres://, or a PostgreSQL target that
// ParsePostgresTarget refuses. Neither files nor servers are looked at. The text shows the
// target through RedactedTarget.
QString TargetProblem(const QString& target);

// The settings of a PostgreSQL target: keywords of the client library with their values.
using PostgresSettings = QList<QPair<QString, QString>>;

// Parses a PostgreSQL target (either form) with the client library's own parser, so that it
// means exactly what it means to psql: `settings` gets every keyword the target gives, decoded,
// in the library's order of keywords, and then fallback_application_name=importflx unless the
// target sets application_name or fallback_application_name (the server thus names the program
// "importflx" unless the user named it otherwise, here or in PGAPPNAME). Returns false with
// `error` set, the target shown without its password, when the library refuses the target, when
// a URI holds an '@' that is not the one ending its user name and password (an unencoded '@' or
// '/' in a password would put the password's tail into the host, port or database name, and
// from there into messages), or when a port is not a number.
bool ParsePostgresTarget(const QString& target, PostgresSettings& settings, QString& error);

// `text` with every password it may hold replaced by "***", whatever the form: a URI's
// "user:***@" (up to the last '@', so that an unencoded '@' in a password hides its tail too;
// without an '@', a "port" that is not a number is taken for a password), the values of
// password= and sslpassword= in keyword/value pairs (up to the next keyword, so that an
// unquoted blank hides the rest too) and in a URI's query, and PWD= and Password= of an ODBC
// connection string. Everything else is kept as written. Every message, title, report and log
// that names a target names it through this function; where a text might be a password in more
// than one way it is hidden, even at the cost of hiding a little more than the password.
QString RedactedTarget(const QString& text);

// The connection string for `target`: a file path becomes the Jet-style connection string with
// the path as its Data Source; a URI, keyword/value pairs or an odbc: target is kept as it is.
QString ConnectionStringForTarget(const QString& target);

// The path named by the "Data Source" of a Jet-style connection string, exactly as written. The
// value runs to the ";Persist Security Info=" that closes the string, so a folder holding ';' or
// '=' survives; without that tail it runs to the next ';'.
QString DataSourceOf(const QString& connectionString);

// The text after "odbc:".
QString OdbcConnectionString(const QString& target);

// How the database of `connectionString` is named to the user: the file's path, the
// PostgreSQL target or the ODBC connection string, each through RedactedTarget.
QString DescribeConnection(const QString& connectionString);

}  // namespace db
