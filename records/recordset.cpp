#include "records/recordset.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <climits>

#include "core/error.h"
#include "records/connection.h"

namespace db {
namespace {

const QString kSource = QStringLiteral("importflx database");

bool IsSelect(const QString& statement) {
    return statement.trimmed().startsWith(QLatin1String("select"), Qt::CaseInsensitive);
}

QString Unbracket(QString name) {
    name = name.trimmed();
    if ((name.startsWith('[') && name.endsWith(']')) ||
        (name.startsWith('"') && name.endsWith('"'))) {
        name = name.mid(1, name.size() - 2);
    }
    return name;
}

// The table a select reads from (the first name after FROM).
QString TableOfSelect(const QString& statement) {
    static const QRegularExpression re(R"(\bfrom\s+(\[[^\]]+\]|"[^"]+"|\w+))",
                                       QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(statement);
    return match.hasMatch() ? Unbracket(match.captured(1)) : QString();
}

// The table and column list of "INSERT INTO table (columns) VALUES ...".
bool ParseInsert(const QString& statement, QString* table, QStringList* columns) {
    static const QRegularExpression re(
        R"(^\s*insert\s+into\s+(\[[^\]]+\]|"[^"]+"|\w+)\s*\(([^)]*)\))",
        QRegularExpression::CaseInsensitiveOption);
    const auto match = re.match(statement);
    if (!match.hasMatch()) {
        return false;
    }
    *table = Unbracket(match.captured(1));
    columns->clear();
    for (const QString& column : match.captured(2).split(',')) {
        columns->append(Unbracket(column));
    }
    return true;
}

QString Quoted(const QString& identifier) {
    return '"' + QString(identifier).replace('"', "\"\"") + '"';
}

// Booleans are stored as the original store kept them: True -1, False 0.
// A null QString is empty text, not SQL NULL: the original store kept "" for an empty value.
// Text holding a NUL character is refused: SQLite compares such text only up to the NUL (two
// different names would count as equal, so versioned names could never be told apart).
QVariant StoredValue(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) {
        return value.toBool() ? -1 : 0;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text.isNull()) {
            return QString(QLatin1String(""));
        }
        if (text.contains(QChar(u'\0'))) {
            QString shown = text.left(40).replace(QChar(u'\0'), QLatin1String("\\0"));
            throw AppError(ErrNo::kDbFail,
                           QString("The value '%1%2' holds a NUL character, which the database "
                                   "cannot store or compare.")
                               .arg(shown, text.size() > 40 ? "..." : ""),
                           kSource);
        }
    }
    return value;
}

// Refuses a text value longer than its column's declared width.
void CheckWidth(Connection& connection, const QString& table, const QString& column,
                const QVariant& value) {
    if (value.isNull() || value.typeId() != QMetaType::QString) {
        return;
    }
    const ColumnInfo* info = connection.FindColumn(table, column);
    if (info == nullptr || !info->width) {
        return;
    }
    const QString text = value.toString();
    if (text.size() > *info->width) {
        const QString shown = text.size() > 40 ? text.left(40) + "..." : text;
        throw AppError(ErrNo::kDbValueTooLong,
                       QString("The value '%1' is too long for %2.%3, which holds at most %4 "
                               "characters.")
                           .arg(shown, table, info->name)
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

void Recordset::Open(const QString& statement, const QVariantList& values, CursorType cursor,
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

    if (!IsSelect(statement)) {
        // The statements are a handful of constants: parse each one once.
        static QHash<QString, std::pair<QString, QStringList>> parsedInserts;
        auto parsed = parsedInserts.find(statement);
        if (parsed == parsedInserts.end()) {
            QString table;
            QStringList columns;
            ParseInsert(statement, &table, &columns);
            parsed = parsedInserts.insert(statement, {table, columns});
        }
        const auto& [table, columns] = *parsed;
        for (int i = 0; i < columns.size() && i < values.size(); ++i) {
            CheckWidth(db, table, columns.at(i), values.at(i));
        }
        QSqlQuery& query = db.Prepared(statement);
        for (int i = 0; i < values.size(); ++i) {
            query.bindValue(i, StoredValue(values.at(i)));
        }
        db.BeforeWrite();
        if (!query.exec()) {
            db.Raise(query, "execute");
        }
        query.finish();
        return;
    }

    QSqlQuery& query = db.Prepared(statement);
    for (int i = 0; i < values.size(); ++i) {
        query.bindValue(i, StoredValue(values.at(i)));
    }
    if (!query.exec()) {
        db.Raise(query, "open");
    }
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
    table_ = TableOfSelect(statement);
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
    newRow_[index] = StoredValue(value);
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

    QStringList names;
    QVariantList values;
    for (int i = 0; i < columns_.size(); ++i) {
        if (newRowSet_[i]) {
            CheckWidth(db, table_, columns_.at(i), newRow_.at(i));
            names.append(Quoted(columns_.at(i)));
            values.append(newRow_.at(i));
        }
    }
    QString statement;
    if (names.isEmpty()) {
        statement = QString("INSERT INTO %1 DEFAULT VALUES").arg(Quoted(table_));
    } else {
        statement = QString("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(Quoted(table_), names.join(','),
                             QStringList(QList<QString>(names.size(), "?")).join(','));
    }
    QSqlQuery& insert = db.Prepared(statement);
    for (int i = 0; i < values.size(); ++i) {
        insert.bindValue(i, values.at(i));
    }
    db.BeforeWrite();
    if (!insert.exec()) {
        db.Raise(insert, "add a row");
    }
    const QVariant rowId = insert.lastInsertId();
    insert.finish();

    // Read the stored row back so that the values the store assigned (the key, defaults) are
    // readable on the current row.
    QVariantList stored = newRow_;
    if (rowId.isValid()) {
        QStringList selectList;
        for (const QString& column : columns_) {
            selectList.append(Quoted(column));
        }
        QSqlQuery readBack(db.database());
        readBack.prepare(
            QString("SELECT %1 FROM %2 WHERE rowid = ?").arg(selectList.join(','), Quoted(table_)));
        readBack.addBindValue(rowId);
        // A table without rowid keeps the values as set; the row itself is stored either way.
        if (readBack.exec() && readBack.next()) {
            for (int i = 0; i < columns_.size(); ++i) {
                stored[i] = readBack.value(i);
            }
        }
    }
    rows_.push_back(std::move(stored));
    position_ = rows_.size() - 1;
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
