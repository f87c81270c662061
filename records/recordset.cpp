#include "records/recordset.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <climits>

#include "core/error.h"
#include "records/connection.h"

namespace db {
namespace {

const QString kSource = QStringLiteral("importflx database");

// A Boolean is stored as its column holds it: true or false in a boolean column, and as the
// original store kept it, -1 (True) or 0 (False), in any other.
// A null QString is empty text, not SQL NULL: the original store kept "" for an empty value.
// Text holding a NUL character is refused: SQLite compares such text only up to the NUL (two
// different names would count as equal, so versioned names could never be told apart).
QVariant StoredValue(const QVariant& value, const ColumnInfo* column = nullptr) {
    if (value.typeId() == QMetaType::Bool) {
        if (column != nullptr && column->boolean) {
            return value;
        }
        return value.toBool() ? -1 : 0;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.isNull()) {
            return QString(QLatin1String(""));
        }
        if (text.contains(QChar(u'\0'))) {
            QString shown = text.left(40).replace(QChar(u'\0'), QLatin1String("\\0"));
            throw AppError(ErrNo::kDbRefused,
                           QString("The value '%1%2' holds a NUL character, which the database "
                                   "cannot store or compare.")
                               .arg(shown, text.size() > 40 ? "..." : ""),
                           kSource);
        }
    }
    return value;
}

// The column's name as the statements spell it (the catalog of a server may fold it to lower
// case), else as the catalog has it.
QString Spelled(const ColumnInfo& info) {
    const std::span<const char* const> lists[] = {sql::kManufacturerByIdColumns,
                                                  sql::kEquipmentColumns, sql::kConnectorColumns};
    for (const std::span<const char* const> list : lists) {
        for (const char* known : list) {
            if (info.name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) {
                return QString::fromLatin1(known);
            }
        }
    }
    return info.name;
}

// Refuses a text value longer than its column's declared width.
void CheckWidth(const ColumnInfo* info, const QString& table, const QVariant& value) {
    if (info == nullptr || !info->width || value.isNull() || value.typeId() != QMetaType::QString) {
        return;
    }
    const QString text = value.toString();
    if (text.size() > *info->width) {
        const QString shown = text.size() > 40 ? text.left(40) + "..." : text;
        throw AppError(ErrNo::kDbValueTooLong,
                       QString("The value '%1' is too long for %2.%3, which holds at most %4 "
                               "characters.")
                           .arg(shown, table, Spelled(*info))
                           .arg(*info->width),
                       kSource);
    }
}

}  // namespace

void Recordset::setActiveConnection(const QString& connectionString) {
    connectionString_ = connectionString;
}

Connection& Recordset::connection() const {
    if (connectionString_.isEmpty()) {
        throw AppError(ErrNo::kNoConnection,
                       "The recordset has no connection to the equipment database.", kSource);
    }
    return Connection::ForString(connectionString_);
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
    Connection& db = connection();
    CachedStatement& cached = db.Statement(statement);
    const StatementNames& names = cached.names;

    if (statement.kind == sql::Kind::kInsert) {
        // Every value is checked before anything is bound or run.
        QVariantList stored;
        stored.reserve(values.size());
        for (int i = 0; i < values.size(); ++i) {
            const ColumnInfo* info =
                i < qsizetype(cached.boundColumns.size()) ? cached.boundColumns[i] : nullptr;
            CheckWidth(info, names.table, values.at(i));
            stored << StoredValue(values.at(i), info);
        }
        QSqlQuery& query = db.Prepared(cached);
        for (int i = 0; i < stored.size(); ++i) {
            query.bindValue(i, stored.at(i));
        }
        db.Run(query, "execute", names);
        query.finish();
        return;
    }

    QSqlQuery& query = db.Prepared(cached);
    for (int i = 0; i < values.size(); ++i) {
        query.bindValue(i, StoredValue(values.at(i)));
    }
    db.Run(query, "open", names);
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
    position_ = 0;
    adding_ = false;
    open_ = true;
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
    db.Run(insert, "add a row", statementNames);

    // The stored row, so that the values the store assigned (the key, defaults) are readable
    // on the current row.
    QVariantList stored = newRow_;
    if (dialect.InsertReturnsRow()) {
        if (insert.next()) {
            for (int i = 0; i < columns_.size(); ++i) {
                stored[i] = insert.value(i);
            }
        }
        insert.finish();
    } else {
        // The driver's own last key where it keeps one, else the database's.
        const QVariant key = insert.driver()->hasFeature(QSqlDriver::LastInsertId)
                                 ? insert.lastInsertId()
                                 : QVariant();
        insert.finish();
        ReadBack(db, key, stored);
    }
    rows_.push_back(std::move(stored));
    position_ = rows_.size() - 1;
}

void Recordset::ReadBack(Connection& db, QVariant id, QVariantList& stored) const {
    const Dialect& dialect = db.dialect();
    if (!id.isValid()) {
        const QString newKey = dialect.NewKeyQuery();
        QSqlQuery* const key = newKey.isEmpty() ? nullptr : db.PreparedIfValid(newKey);
        if (key == nullptr || !key->exec() || !key->next()) {
            return;
        }
        id = key->value(0);
        key->finish();
    }
    if (id.isNull()) {
        return;
    }
    QString keyColumn = QStringLiteral("rowid");
    if (!dialect.KeyIsRowid()) {
        const QSqlIndex primary = db.database().primaryIndex(table_);
        if (primary.count() != 1) {
            return;
        }
        keyColumn = dialect.Column(primary.fieldName(0));
    }
    QStringList selectList;
    for (const QString& column : columns_) {
        selectList.append(dialect.Column(column));
    }
    QSqlQuery* const readBack =
        db.PreparedIfValid(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                               .arg(selectList.join(','), dialect.Table(table_), keyColumn));
    if (readBack == nullptr) {
        return;  // a table without rowid keeps the values as set; the row is stored either way
    }
    readBack->bindValue(0, id);
    if (readBack->exec() && readBack->next()) {
        for (int i = 0; i < columns_.size(); ++i) {
            stored[i] = readBack->value(i);
        }
    }
    readBack->finish();
}

void Recordset::UpdateBatch(int /*affectRecords*/) {
    requireOpen();
    if (adding_) {
        Update();
    }
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

db::Recordset& SessionRecordset(const std::shared_ptr<db::Recordset>& rs) {
    if (!rs) {
        throw AppError(ErrNo::kObjectClosed, "Operation is not allowed when the object is closed.",
                       "importflx");
    }
    return *rs;
}
