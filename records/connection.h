#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

namespace db {

// The connection string that the import window builds once at load: the Jet provider text with
// the application folder and the file name "dbEquip.MDB", joined by the platform's separator.
QString BuildConnectionString(const QString& appFolder);
// The same connection string for the database file at `path`, named as given.
QString ConnectionStringForFile(const QString& path);

// The path named by the "Data Source" of a connection string, exactly as written. The value
// runs to the ";Persist Security Info=" that closes the string, so a folder holding ';' or '='
// survives; without that tail it runs to the next ';'.
QString DataSourceOf(const QString& connectionString);

// One column of a table as the store declares it.
struct ColumnInfo {
    QString name;
    QString declaredType;
    // Maximum number of characters of a text column; std::nullopt when none is declared.
    std::optional<int> width;
};

// The shared connection for one connection string. Opening it locates the database file without
// regard to the letter case of its name, checks by the file's header that it is an SQLite
// database (anything else is refused with a message naming the file), and sets a busy timeout
// so that a file locked by another program is waited for briefly and then reported.
// All errors are raised as AppError with a description that names the file.
class Connection {
  public:
    // How long a locked database is waited for before the statement fails.
    static constexpr int kBusyTimeoutMs = 3000;

    // The open connection for `connectionString`, opened on first use and shared afterwards.
    static Connection& ForString(const QString& connectionString);

    // Closes every shared connection (tests, program end). Recordsets must be closed first.
    static void CloseAll();

    const QString& filePath() const { return filePath_; }
    QSqlDatabase database() const;

    // A prepared query for `sqlText`, reused across calls with the same text. Raises on a
    // statement that the store cannot prepare (missing table or column).
    QSqlQuery& Prepared(const QString& sqlText);

    // The columns of `table` in declaration order; raises when the table does not exist.
    const QList<ColumnInfo>& Columns(const QString& table);

    // The column of `table` named `column` without regard to case, or nullptr.
    const ColumnInfo* FindColumn(const QString& table, const QString& column);

    // Begins a transaction when commits are deferred (DeferredCommits) and none is open yet;
    // called before every write.
    void BeforeWrite();

    // Explicit transactions. Begin is ignored while one is open; Commit and Rollback are
    // ignored while none is. A failed Commit rolls back and raises.
    void Begin();
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction_; }

    // Turns a failed query of this connection into the AppError to raise. `what` names the step
    // ("open", "prepare", "execute", "add a row", "begin", "commit"). After a failed write the
    // store may have rolled back the whole open transaction (a full disk): the transaction is
    // then begun anew and the description says that the earlier rows were not stored either.
    [[noreturn]] void Raise(const QSqlQuery& query, const QString& what);

    ~Connection();

  private:
    Connection(QString connectionName, QString filePath);

    // An import commits once per file: the write-ahead log turns each commit into an append
    // instead of several flushes to disk, and a killed import still leaves a consistent
    // database. The file's own journal mode is restored when the connection closes.
    void UseWriteAheadLog();

    QString connectionName_;
    QString filePath_;
    bool inTransaction_ = false;
    int writesInTransaction_ = 0;  // writes begun since the open transaction began
    QString restoreJournalMode_;   // the mode to restore at close; empty when none was changed
    QHash<QString, std::shared_ptr<QSqlQuery>> prepared_;
    QHash<QString, QList<ColumnInfo>> columns_;
    struct ColumnKeyHash {
        std::size_t operator()(const std::pair<QString, QString>& key) const {
            return qHash(key.first) ^ (qHash(key.second) * 31);
        }
    };
    // FindColumn's answers by (table, column) as spelled by the caller; node-based, so the
    // pointers it hands out stay valid.
    std::unordered_map<std::pair<QString, QString>, std::optional<ColumnInfo>, ColumnKeyHash>
        columnCache_;
};

// Groups the writes of one unit of work (one FLX file) into one transaction per connection, so
// that a unit costs one commit instead of one per row. While a scope is alive, the first write
// through a shared connection begins a transaction; Flush() commits every open one, and the
// owner calls it before the user is told anything (a message, a dialog, a failure line) and at
// the unit's end, so what the user sees as stored is stored. A scope that ends without a Flush
// (an exception passing through) commits what it can; rows are never rolled back silently.
class DeferredCommits {
  public:
    DeferredCommits();
    ~DeferredCommits();
    DeferredCommits(const DeferredCommits&) = delete;
    DeferredCommits& operator=(const DeferredCommits&) = delete;

    // True while a scope is alive.
    static bool Active();
    // Commits every open transaction of the shared connections. Raises when a commit fails;
    // the failed transaction is then rolled back, so nothing half-written remains.
    static void Flush();
};

}  // namespace db
