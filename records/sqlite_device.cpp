// A device's statements through SQLite's own library, on the handle of Qt's SQLite driver.
// Qt's binding of values costs several times what SQLite needs to store a row; a device of
// forty connectors is written here in about the time SQLite itself takes.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "core/error.h"
#include "records/connection.h"
#include "records/device_statements.h"
#include "records/run_rows.h"
#include "records/statements.h"
#include "records/values.h"

namespace db {
namespace {

class SqliteStatements : public DeviceStatements, public Connection::Extra {
  public:
    SqliteStatements(Connection& connection, sqlite3* handle) : c_(connection), db_(handle) {}
    ~SqliteStatements() override {
        for (sqlite3_stmt* statement : prepared_) {
            sqlite3_finalize(statement);
        }
    }

    bool Consistent() override {
        Query query(*this, sql::kEquipmentConsistencyCheck, {}, Step::kRead);
        return !query.Next();
    }

    std::optional<QVariant> ManufacturerAsStored(const QString& id) override {
        Query query(*this, sql::kManufacturerNameById, {id}, Step::kRead);
        if (!query.Next()) {
            return std::nullopt;
        }
        return query.Value(1);  // the statement's ManufacturerID
    }

    void HoldManufacturer(const QVariant&) override {}  // BEGIN IMMEDIATE holds the database

    std::vector<qint64> VersionsTaken(const QString& base,
                                      const QVariant& manufacturerId) override {
        const qint64 digits = base.toUcs4().size() + 3;
        Query query(*this, sql::kEquipmentVersionsTaken,
                    {base, digits, base, digits, digits, manufacturerId, base,
                     base + QStringLiteral("_v"), base + QStringLiteral("_w")},
                    Step::kRead);
        std::vector<qint64> taken;
        while (query.Next()) {
            taken.push_back(sqlite3_column_int64(query.statement(), 0));
        }
        return taken;
    }

    bool NameTaken(const QString& name, const QVariant& manufacturerId) override {
        Query query(*this, sql::kEquipmentByNameAndManufacturer, {name, manufacturerId},
                    Step::kRead);
        return query.Next();
    }

    QVariant InsertEquipment(const QString& name, const QString& type,
                             const QVariant& manufacturerId) override {
        Query query(*this, sql::kInsertEquipment, {name, type, manufacturerId, type}, Step::kWrite);
        return query.Next() ? query.Value(0) : QVariant();  // its RETURNING
    }

    // Bound straight from the row's texts: a device has dozens of them, and wrapping each
    // value on its way costs more than SQLite's storing of it.
    void InsertConnector(const ConnectorRow& row, const QVariant& equipmentId,
                         int writesBefore) override {
        CachedStatement& cached = c_.Statement(
            row.table == ConnectorTable::kInputs ? sql::kInsertInput : sql::kInsertOutput);
        const QString* texts[] = {&row.name, &row.type, &row.conn, &row.pinType};
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            CheckText(i + 1 < cached.boundColumns.size() ? cached.boundColumns[i + 1] : nullptr,
                      cached.names.table, *texts[i]);
        }
        sqlite3_stmt* statement = Prepare(cached);
        sqlite3_bind_int64(statement, 1, equipmentId.toLongLong());
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            sqlite3_bind_text16(statement, int(i) + 2, texts[i]->utf16(),
                                int(texts[i]->size() * sizeof(char16_t)), SQLITE_STATIC);
        }
        const int code = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (code != SQLITE_DONE) {
            throw Failed(cached, Step::kWrite,
                         {equipmentId, row.name, row.type, row.conn, row.pinType}, writesBefore);
        }
    }

    // Read in the unit that wrote the rows, straight from SQLite's values: a run's record
    // holds every device, and reading each through the Qt driver after its commit would cost
    // as much as storing it.
    QByteArray StoredRowsJson(const QVariant& equipmentId) override {
        QByteArray out = "{\"equipment\":";
        AppendRows(sql::kEquipmentRowById, equipmentId, true, out);
        out += ",\"inputs\":";
        AppendRows(sql::kInputsOfEquipment, equipmentId, false, out);
        out += ",\"outputs\":";
        AppendRows(sql::kOutputsOfEquipment, equipmentId, false, out);
        out += '}';
        return out;
    }

  private:
    // The rows of `statement` for `key` as a JSON array, or its first row alone as an object.
    void AppendRows(const sql::Statement& statement, const QVariant& key, bool single,
                    QByteArray& out) {
        Query query(*this, statement, {key}, Step::kRead);
        sqlite3_stmt* row = query.statement();
        std::vector<QByteArray> names;  // each "name": once for all rows
        for (int i = 0; i < sqlite3_column_count(row); ++i) {
            QByteArray name;
            AppendJsonUtf8(name, sqlite3_column_name(row, i));
            names.push_back(name + ':');
        }
        out += single ? "" : "[";
        for (bool first = true; query.Next(); first = false) {
            out += first ? "{" : ",{";
            for (std::size_t i = 0; i < names.size(); ++i) {
                out += i > 0 ? "," : "";
                out += names[i];
                AppendColumn(row, int(i), out);
            }
            out += '}';
            if (single) {
                break;
            }
        }
        out += single ? "" : "]";
    }

    // A column's value as the Qt driver would give it, written as JSON.
    static void AppendColumn(sqlite3_stmt* row, int i, QByteArray& out) {
        switch (sqlite3_column_type(row, i)) {
            case SQLITE_NULL:
                out += "null";
                return;
            case SQLITE_INTEGER:
                out += QByteArray::number(sqlite3_column_int64(row, i));
                return;
            case SQLITE_FLOAT:
                AppendJsonValue(out, sqlite3_column_double(row, i));
                return;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, i));
                AppendJsonUtf8(out, QByteArrayView(text, sqlite3_column_bytes(row, i)));
            }
        }
    }

    // One run of a statement: values checked and bound, stepped through its rows, reset when it
    // goes. A failed step raises StatementFailed.
    class Query {
      public:
        Query(SqliteStatements& owner, const sql::Statement& statement, const QVariantList& values,
              Step step, int writesBefore = 0)
            : owner_(owner), step_(step), writesBefore_(writesBefore) {
            cached_ = &owner.c_.Statement(statement);
            statement_ = owner.Prepare(*cached_);
            values_.reserve(values.size());
            for (qsizetype i = 0; i < values.size(); ++i) {
                const ColumnInfo* column = i < qsizetype(cached_->boundColumns.size())
                                               ? cached_->boundColumns[i]
                                               : nullptr;
                CheckWidth(column, cached_->names.table, values[i]);
                values_ << StoredValue(values[i], column);
            }
            for (qsizetype i = 0; i < values_.size(); ++i) {
                Bind(int(i) + 1, values_[i]);  // the text stays in values_ until the reset
            }
        }
        ~Query() { sqlite3_reset(statement_); }
        Query(const Query&) = delete;
        Query& operator=(const Query&) = delete;

        sqlite3_stmt* statement() const { return statement_; }

        // True while there is a row.
        bool Next() {
            const int code = sqlite3_step(statement_);
            if (code == SQLITE_ROW) {
                return true;
            }
            if (code == SQLITE_DONE) {
                return false;
            }
            const int extended = sqlite3_extended_errcode(owner_.db_);
            const Diagnostic diagnostic{
                {}, QString::number(extended), QString::fromUtf8(sqlite3_errmsg(owner_.db_))};
            throw StatementFailed{{ClassifySqliteCode(extended), diagnostic},
                                  step_,
                                  cached_->names,
                                  step_ == Step::kWrite ? values_ : QVariantList(),
                                  writesBefore_};
        }

        QVariant Value(int column) const {
            switch (sqlite3_column_type(statement_, column)) {
                case SQLITE_INTEGER:
                    return QVariant(qint64(sqlite3_column_int64(statement_, column)));
                case SQLITE_FLOAT:
                    return sqlite3_column_double(statement_, column);
                case SQLITE_NULL:
                    return {};
                default:
                    return QString(
                        reinterpret_cast<const QChar*>(sqlite3_column_text16(statement_, column)),
                        sqlite3_column_bytes16(statement_, column) / 2);
            }
        }

      private:
        void Bind(int index, const QVariant& value) {
            switch (value.typeId()) {
                case QMetaType::QString: {
                    const QString& text = *static_cast<const QString*>(value.constData());
                    sqlite3_bind_text16(statement_, index, text.utf16(),
                                        int(text.size() * sizeof(char16_t)), SQLITE_STATIC);
                    break;
                }
                case QMetaType::Int:
                case QMetaType::LongLong:
                case QMetaType::UInt:
                case QMetaType::ULongLong:
                    sqlite3_bind_int64(statement_, index, value.toLongLong());
                    break;
                case QMetaType::Double:
                    sqlite3_bind_double(statement_, index, value.toDouble());
                    break;
                default:
                    if (value.isNull()) {
                        sqlite3_bind_null(statement_, index);
                    } else {
                        const QString text = value.toString();
                        sqlite3_bind_text16(statement_, index, text.utf16(),
                                            int(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
                    }
            }
        }

        SqliteStatements& owner_;
        Step step_;
        int writesBefore_;
        CachedStatement* cached_ = nullptr;
        sqlite3_stmt* statement_ = nullptr;
        QVariantList values_;
    };

    // The failure of the statement SQLite last refused, as its codes tell it.
    StatementFailed Failed(const CachedStatement& cached, Step step, QVariantList values,
                           int writesBefore) const {
        const int extended = sqlite3_extended_errcode(db_);
        return StatementFailed{
            {ClassifySqliteCode(extended),
             {{}, QString::number(extended), QString::fromUtf8(sqlite3_errmsg(db_))}},
            step,
            cached.names,
            std::move(values),
            writesBefore};
    }

    // The statement's prepared form on this handle, made on first use.
    sqlite3_stmt* Prepare(const CachedStatement& cached) {
        const auto found = std::find(statements_.begin(), statements_.end(), cached.statement);
        if (found != statements_.end()) {
            return prepared_[found - statements_.begin()];
        }
        const QByteArray text = c_.dialect().Form(*cached.statement).toUtf8();
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT,
                               &statement, nullptr) != SQLITE_OK) {
            const int extended = sqlite3_extended_errcode(db_);
            throw StatementFailed{
                {ClassifySqliteCode(extended),
                 {{}, QString::number(extended), QString::fromUtf8(sqlite3_errmsg(db_))}},
                Step::kPrepare,
                cached.names,
                {},
                0};
        }
        statements_.push_back(cached.statement);
        prepared_.push_back(statement);
        return statement;
    }

    Connection& c_;
    sqlite3* db_;
    std::vector<const sql::Statement*> statements_;  // by address, beside their prepared form
    std::vector<sqlite3_stmt*> prepared_;
};

}  // namespace

DeviceStatements* SqliteDeviceStatements(Connection& connection) {
    if (connection.dialect().driver() != Driver::kSqlite) {
        return nullptr;
    }
    if (auto* existing = dynamic_cast<SqliteStatements*>(connection.extra())) {
        return existing;
    }
    auto* handle = static_cast<sqlite3*>(connection.NativeHandle());
    if (handle == nullptr) {
        return nullptr;
    }
    auto statements = std::make_unique<SqliteStatements>(connection, handle);
    SqliteStatements* result = statements.get();
    connection.setExtra(std::move(statements));
    return result;
}

}  // namespace db
