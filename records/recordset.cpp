#include "records/recordset.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <climits>

#include "core/error.h"
#include "records/connection.h"
#include "records/database.h"
#include "records/values.h"

namespace db {

Connection& Recordset::connection() const {
    if (database_ == nullptr) {
        throw AppError(ErrNo::kNoConnection,
                       "The recordset has no connection to the equipment database.", kSource);
    }
    return database_->connection();
}

void Recordset::requireOpen() const {
    if (!open_) {
        throw AppError(ErrNo::kObjectClosed, "Operation is not allowed when the object is closed.",
                       kSource);
    }
}

void Recordset::Open(const sql::Statement& statement, const QVariantList& values, CursorType cursor,
                     LockType lock) {
    if (open_) {
        throw AppError(ErrNo::kObjectOpen, "Operation is not allowed when the object is open.",
                       kSource);
    }
    if (cursor != CursorType::kUnspecified) {
        cursor_ = cursor;
    }
    if (lock != LockType::kUnspecified) {
        lock_ = lock;
    }
    // A read outside a unit of work is run again once a server that went away is back.
    int reconnects = 0;
    for (;;) {
        try {
            Read(statement, values);
            break;
        } catch (const AppError& error) {
            if (database_ == nullptr || !database_->ReconnectAfter(error, reconnects)) {
                throw;
            }
        }
    }
    position_ = 0;
    adding_ = false;
    open_ = true;
}

void Recordset::Read(const sql::Statement& statement, const QVariantList& values) {
    Connection& db = connection();
    CachedStatement& cached = db.Statement(statement);
    const StatementNames& names = cached.names;
    QSqlQuery& query = db.Prepared(cached);
    for (int i = 0; i < values.size(); ++i) {
        query.bindValue(i, StoredValue(values.at(i)));
    }
    db.Run(query, Step::kRead, names);
    const QSqlRecord record = query.record();
    columns_.clear();
    for (int i = 0; i < record.count(); ++i) {
        columns_.append(record.fieldName(i));
    }
    rows_.clear();
    while (query.next()) {
        QVariantList row;
        row.reserve(columns_.size());
        for (int i = 0; i < columns_.size(); ++i) {
            row.append(query.value(i));
        }
        rows_.push_back(std::move(row));
    }
    query.finish();
    table_ = names.table;
}

void Recordset::Close() {
    open_ = false;
    adding_ = false;
    rows_.clear();
    columns_.clear();
    position_ = 0;
}

long Recordset::RecordCount() const {
    requireOpen();
    return static_cast<long>(rows_.size());
}

bool Recordset::IsEOF() const {
    requireOpen();
    return !adding_ && position_ >= rows_.size();
}

void Recordset::MoveNext() {
    requireOpen();
    if (IsEOF()) {
        throw AppError(ErrNo::kNoCurrentRecord,
                       "Either BOF or EOF is True, or the current record has been deleted. "
                       "Requested operation requires a current record.",
                       kSource);
    }
    ++position_;
}

int Recordset::columnIndex(const QString& column) const {
    // Callers mostly spell a column as the statement does: that is found without folding case.
    const qsizetype exact = columns_.indexOf(column);
    if (exact >= 0) {
        return int(exact);
    }
    for (int i = 0; i < columns_.size(); ++i) {
        if (columns_.at(i).compare(column, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    throw AppError(ErrNo::kItemNotFound,
                   QString("Item '%1' cannot be found in the collection corresponding to the "
                           "requested name or ordinal.")
                       .arg(column),
                   kSource);
}

QVariant Recordset::Field(const QString& column) const {
    requireOpen();
    const int index = columnIndex(column);
    if (adding_) {
        return newRow_.at(index);
    }
    if (position_ >= rows_.size()) {
        throw AppError(ErrNo::kNoCurrentRecord,
                       "Either BOF or EOF is True, or the current record has been deleted. "
                       "Requested operation requires a current record.",
                       kSource);
    }
    return rows_.at(position_).at(index);
}

void Recordset::AddNew() {
    requireOpen();
    if (lock_ == LockType::kReadOnly || table_.isEmpty()) {
        throw AppError(ErrNo::kNotUpdatable, "Current Recordset does not support updating.",
                       kSource);
    }
    newRow_ = QVariantList(columns_.size());
    newRowSet_.assign(columns_.size(), false);
    adding_ = true;
}

void Recordset::SetField(const QString& column, const QVariant& value) {
    requireOpen();
    const int index = columnIndex(column);
    if (!adding_) {
        throw AppError(ErrNo::kUpdateWithoutAddNew,
                       "Update or CancelUpdate without AddNew or Edit.", kSource);
    }
    // A Boolean keeps its type until Update, which stores it as its column holds it.
    newRow_[index] = value.typeId() == QMetaType::Bool ? value : StoredValue(value);
    newRowSet_[index] = true;
}

void Recordset::Update() {
    requireOpen();
    if (!adding_) {
        throw AppError(ErrNo::kUpdateWithoutAddNew,
                       "Update or CancelUpdate without AddNew or Edit.", kSource);
    }
    // The started row is given up whatever happens below: a refused row must never be stored
    // by a later attempt.
    adding_ = false;
    Connection& db = connection();
    const Dialect& dialect = db.dialect();

    QStringList names;
    QVariantList values;
    for (int i = 0; i < columns_.size(); ++i) {
        if (newRowSet_[i]) {
            const ColumnInfo* info = db.FindColumn(table_, columns_.at(i));
            CheckWidth(info, table_, newRow_.at(i));
            names.append(columns_.at(i));
            values.append(StoredValue(newRow_.at(i), info));
        }
    }
    const StatementNames statementNames{table_, names};
    QSqlQuery& insert = db.Prepared(dialect.Insert(table_, names, columns_), statementNames);
    for (int i = 0; i < values.size(); ++i) {
        insert.bindValue(i, values.at(i));
    }
    db.Run(insert, Step::kWrite, statementNames);

    // The stored row: as the store returns it where it does (its defaults), else as set.
    QVariantList stored = newRow_;
    if (dialect.InsertReturnsRow() && insert.next()) {
        for (int i = 0; i < columns_.size(); ++i) {
            stored[i] = insert.value(i);
        }
    }
    insert.finish();
    rows_.push_back(std::move(stored));
    position_ = rows_.size() - 1;
}

int Recordset::DefinedSize(const QString& column) const {
    requireOpen();
    const QString name = columns_.at(columnIndex(column));
    const ColumnInfo* info = connection().FindColumn(table_, name);
    if (info == nullptr || !info->width) {
        return INT_MAX;
    }
    return *info->width;
}

}  // namespace db
