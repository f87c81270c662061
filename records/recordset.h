#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <memory>
#include <vector>

#include "records/statements.h"

namespace db {

class Connection;
class Database;

// Cursor and lock kinds of Recordset::Open, with the values of the original interface.
enum class CursorType { kUnspecified = -1, kForwardOnly = 0, kStatic = 3 };
enum class LockType { kUnspecified = -1, kReadOnly = 1, kOptimistic = 3 };

// Whether a handle holds a result.
enum class ObjectState { kClosed = 0, kOpen = 1 };

// A recordset handle over the equipment database, with the operations that the dialogs and
// manufacturer resolution need: run a select, count and walk its rows, read columns by name,
// and add one row.
//
// A select reads its whole result at Open, so RecordCount is always exact and the store holds
// no lock afterwards. Column and table names are matched without regard to letter case; null
// values stay null. A Boolean written to a column is stored as the column holds it: true or
// false in a boolean column, -1 (True) or 0 (False) in any other.
//
// Every failure raises AppError: the database cannot be opened, the store refuses a statement
// or a row (its kind tells a duplicate key from other refusals), a value is longer than its
// column's declared width (ErrNo::kDbValueTooLong), a text value holding a NUL character, which
// SQLite cannot compare (ErrNo::kDbRefused), no current row (ErrNo::kNoCurrentRecord), an
// unknown column (ErrNo::kItemNotFound), or an operation on a closed handle
// (ErrNo::kObjectClosed).
class Recordset {
  public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    Recordset(Recordset&&) = default;
    Recordset& operator=(Recordset&&) = default;

    // The database used at the next Open; it must outlive the handle. Never opens anything by
    // itself.
    void setActiveConnection(Database& database) { database_ = &database; }

    // Runs the select `statement` with `values` bound to its `?` placeholders, in order.
    // Unspecified cursor or lock keeps the handle's current setting (a new handle is
    // forward-only and read-only). Raises ErrNo::kObjectOpen when the handle is already open.
    void Open(const sql::Statement& statement, const QVariantList& values = {},
              CursorType cursor = CursorType::kUnspecified, LockType lock = LockType::kUnspecified);

    ObjectState State() const { return open_ ? ObjectState::kOpen : ObjectState::kClosed; }
    void Close();

    // Number of rows of the result, counting a row added through AddNew/Update.
    long RecordCount() const;
    // True when the walk has passed the last row (EOF).
    bool IsEOF() const;
    void MoveNext();

    // The value of `column` on the current row; a null stays a null QVariant.
    QVariant Field(const QString& column) const;

    // Starts a new row (becomes the current row); columns not set keep the store's defaults.
    // Requires an open result that is not read-only.
    void AddNew();
    // Sets a column of the row started by AddNew.
    void SetField(const QString& column, const QVariant& value);
    // Stores the new row. It stays the current row, with its values as stored where the store
    // returns them (PostgreSQL), else as set. On failure the started row is discarded, so no
    // later Update can store it.
    void Update();

    // The declared width of a text column of the result: its maximum number of characters,
    // or INT_MAX when the column declares none.
    int DefinedSize(const QString& column) const;

  private:
    Connection& connection() const;
    // Runs `statement` and keeps its rows and columns.
    void Read(const sql::Statement& statement, const QVariantList& values);
    int columnIndex(const QString& column) const;
    void requireOpen() const;

    Database* database_ = nullptr;
    CursorType cursor_ = CursorType::kForwardOnly;
    LockType lock_ = LockType::kReadOnly;
    bool open_ = false;
    QString table_;
    QStringList columns_;
    std::vector<QVariantList> rows_;
    std::size_t position_ = 0;
    bool adding_ = false;
    QVariantList newRow_;
    std::vector<bool> newRowSet_;
};

}  // namespace db
