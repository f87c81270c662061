// A device through libpq's pipeline, on the session of Qt's PostgreSQL driver, which sends one
// statement per round trip and has no way to send several at once. Across a network every round
// trip costs as much as the server's work on a whole device: here a device takes two, the first
// taking the lock and reading what the name and the manufacturer need, the second writing every
// row in one statement and committing.
#include <libpq-fe.h>

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <array>

#include "core/text.h"
#include "records/connection.h"
#include "records/device_statements.h"
#include "records/statements.h"
#include "records/values.h"

namespace db {
namespace {

// The statements this file prepares on a session, by name.
enum Prepared { kLock, kCheck, kManufacturer, kVersions, kDevice, kPreparedCount };
constexpr std::array<const char*, kPreparedCount> kNames = {
    "importflx_lock", "importflx_check", "importflx_manufacturer", "importflx_versions",
    "importflx_device"};

// Which of them the session holds.
struct PipelineState : Connection::Extra {
    std::array<bool, kPreparedCount> prepared{};
};

// `text` with its `?` placeholders numbered as libpq takes them ($1, $2, ...), outside quotes.
QByteArray Numbered(const QString& text) {
    QString out;
    int next = 0;
    bool quoted = false;
    for (const QChar ch : text) {
        if (ch == '\'') {
            quoted = !quoted;
        }
        if (ch == '?' && !quoted) {
            out += '$' + QString::number(++next);
        } else {
            out += ch;
        }
    }
    return out.toUtf8();
}

// An array of text as PostgreSQL reads it: every element quoted, '"' and '\' escaped.
QByteArray ArrayLiteral(const QStringList& values) {
    QByteArray out("{");
    for (qsizetype i = 0; i < values.size(); ++i) {
        out += i == 0 ? "\"" : ",\"";
        for (const char byte : values[i].toUtf8()) {
            if (byte == '"' || byte == '\\') {
                out += '\\';
            }
            out += byte;
        }
        out += '"';
    }
    return out + '}';
}

// One statement's result, freed when it goes.
struct Result {
    PGresult* result = nullptr;
    Result& operator=(Result&& other) noexcept {
        std::swap(result, other.result);
        return *this;
    }
    ~Result() { PQclear(result); }
    Result() = default;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result(Result&& other) noexcept : result(std::exchange(other.result, nullptr)) {}
    ExecStatusType status() const { return PQresultStatus(result); }
    bool ok() const { return status() == PGRES_COMMAND_OK || status() == PGRES_TUPLES_OK; }
    int rows() const { return PQntuples(result); }
    QString text(int row, int column) const {
        return QString::fromUtf8(PQgetvalue(result, row, column));
    }
};

// A pipeline on `connection`'s session: statements queued, sent at a synchronisation point, their
// results read in order. Leaving it reads what is left and leaves pipeline mode.
class Pipeline {
  public:
    explicit Pipeline(PGconn* connection) : conn_(connection) {
        entered_ = PQenterPipelineMode(conn_) == 1;
    }
    ~Pipeline() {
        while (pending_ > 0) {
            Result ignored = Take();
        }
        PQexitPipelineMode(conn_);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    bool entered() const { return entered_; }

    void Prepare(const char* name, const QByteArray& text) {
        Queued(PQsendPrepare(conn_, name, text.constData(), 0, nullptr));
    }
    void Send(const char* text) {
        Queued(PQsendQueryParams(conn_, text, 0, nullptr, nullptr, nullptr, nullptr, 0));
    }
    void Send(Prepared statement, const QList<QByteArray>& values) {
        std::vector<const char*> pointers;
        for (const QByteArray& value : values) {
            pointers.push_back(value.constData());
        }
        Queued(PQsendQueryPrepared(conn_, kNames[statement], int(pointers.size()), pointers.data(),
                                   nullptr, nullptr, 0));
    }
    // Sends what is queued, with the point up to which the server answers.
    void Sync() { Queued(PQpipelineSync(conn_)); }
    // The next statement's result, in the order sent; the synchronisation point's too.
    Result Take() {
        Result taken;
        taken.result = PQgetResult(conn_);
        if (taken.result == nullptr) {
            taken.result = PQgetResult(conn_);  // the end of the previous statement's results
        }
        --pending_;
        if (taken.result != nullptr && PQresultStatus(taken.result) != PGRES_PIPELINE_SYNC) {
            PGresult* end = PQgetResult(conn_);  // the null that ends a statement's results
            PQclear(end);
        }
        return taken;
    }

  private:
    void Queued(int sent) {
        if (sent == 1) {
            ++pending_;
        }
    }

    PGconn* conn_;
    bool entered_ = false;
    int pending_ = 0;
};

// The failure a result tells, as StatementFailed; the connection's state where the result has
// no code.
StatementFailed FailureOf(PGconn* connection, const Result& result, Step step,
                          const QString& table) {
    Diagnostic diagnostic;
    if (result.result != nullptr) {
        diagnostic.sqlState =
            QString::fromLatin1(PQresultErrorField(result.result, PG_DIAG_SQLSTATE));
        diagnostic.text =
            QString::fromUtf8(PQresultErrorField(result.result, PG_DIAG_MESSAGE_PRIMARY));
    }
    if (diagnostic.text.isEmpty()) {
        diagnostic.text = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    }
    const Failure failure = PQstatus(connection) != CONNECTION_OK || diagnostic.sqlState.isEmpty()
                                ? Failure::kConnectionLost
                                : ClassifySqlState(diagnostic.sqlState);
    return StatementFailed{{failure, diagnostic}, step, {table, {}}, {}, 0};
}

// Ends the session's transaction, whatever state the pipeline left it in.
void RollBack(PGconn* connection) {
    PQclear(PQexec(connection, "ROLLBACK"));
}

// Every value the device's rows send, checked before any is sent; false when one would be
// refused, so that the device is written row by row and the refusal told at its row.
bool RowsAcceptable(Connection& connection, const DeviceBatch& batch) {
    try {
        const CachedStatement& equipment = connection.Statement(sql::kInsertEquipment);
        StoredValue(batch.model);
        for (const std::size_t column : {std::size_t(1), std::size_t(3)}) {
            CheckWidth(equipment.boundColumns[column], equipment.names.table, batch.type);
        }
        StoredValue(batch.type);
        for (const ConnectorRow& row : batch.connectors) {
            const CachedStatement& cached = connection.Statement(
                row.table == ConnectorTable::kInputs ? sql::kInsertInput : sql::kInsertOutput);
            const QString values[] = {row.name, row.type, row.conn, row.pinType};
            for (std::size_t i = 0; i < std::size(values); ++i) {
                CheckWidth(cached.boundColumns[i + 1], cached.names.table, values[i]);
                StoredValue(values[i]);
            }
        }
    } catch (const AppError&) {
        return false;
    }
    return true;
}

// The first name of base, base_v1, ... that `taken` leaves free.
QString FirstFree(const QString& base, std::vector<qint64> taken) {
    std::sort(taken.begin(), taken.end());
    qint64 version = 0;
    for (const qint64 number : taken) {
        if (number == version) {
            ++version;
        } else if (number > version) {
            break;
        }
    }
    return version == 0 ? base : base + QStringLiteral("_v") + QString::number(version);
}

}  // namespace

std::optional<DeviceResult> StoreDeviceInPipeline(Connection& connection,
                                                  const DeviceBatch& batch) {
    auto* conn = static_cast<PGconn*>(connection.NativeHandle());
    if (conn == nullptr || !RowsAcceptable(connection, batch)) {
        return std::nullopt;
    }
    auto* state = dynamic_cast<PipelineState*>(connection.extra());
    if (state == nullptr) {
        connection.setExtra(std::make_unique<PipelineState>());
        state = static_cast<PipelineState*>(connection.extra());
    }
    const QString equipmentTable = QString::fromLatin1(schema::kEquipment.name);
    const QString base = TrimBlanks(batch.model);
    const QByteArray digits = QByteArray::number(base.toUcs4().size() + 3);
    const QByteArray baseText = base.toUtf8();

    // First round trip: the lock, the consistency check, the manufacturer as stored and the
    // versions its names take.
    std::optional<Pipeline> pipeline(std::in_place, conn);
    if (!pipeline->entered()) {
        return std::nullopt;
    }
    const Dialect& dialect = connection.dialect();
    const std::array<QByteArray, kPreparedCount> texts = {
        Numbered(PostgresImportersLock()), Numbered(dialect.Form(sql::kEquipmentConsistencyCheck)),
        Numbered(dialect.Form(sql::kManufacturerNameById)),
        Numbered(dialect.Form(sql::kEquipmentVersionsTaken)), QByteArray(sql::kPostgresDevice)};
    std::vector<int> preparing;
    for (int i = 0; i < kPreparedCount; ++i) {
        if (!state->prepared[i]) {
            pipeline->Prepare(kNames[i], texts[i]);
            preparing.push_back(i);
        }
    }
    pipeline->Send("BEGIN");
    pipeline->Send(kLock, {});
    pipeline->Send(kCheck, {});
    pipeline->Send(kManufacturer, {batch.manufacturerId.toUtf8()});
    pipeline->Send(kVersions,
                   {baseText, digits, baseText, digits, digits, batch.manufacturerId.toUtf8(),
                    baseText, baseText + "_v", baseText + "_w"});
    pipeline->Sync();
    bool preparedAll = true;
    for (const int i : preparing) {
        const Result prepared = pipeline->Take();
        state->prepared[i] = prepared.ok();
        preparedAll = preparedAll && prepared.ok();
    }
    std::array<Result, 5> read;  // BEGIN, the lock, the check, the manufacturer, the versions
    for (Result& result : read) {
        result = pipeline->Take();
    }
    pipeline->Take();  // the synchronisation point
    pipeline.reset();
    const auto failed = std::find_if(read.begin(), read.end(), [](auto& r) { return !r.ok(); });
    if (!preparedAll || failed != read.end()) {
        const StatementFailed failure = FailureOf(
            conn, failed != read.end() ? *failed : read.front(), Step::kLock, equipmentTable);
        RollBack(conn);
        // A lock that another importer holds is waited for, a lost server told; anything else
        // the rows written one by one tell exactly.
        if (preparedAll && (failure.attempt.failure == Failure::kBusy ||
                            failure.attempt.failure == Failure::kConnectionLost)) {
            throw failure;
        }
        return std::nullopt;
    }
    const Result& check = read[2];
    const Result& manufacturer = read[3];
    const Result& versions = read[4];
    if (check.rows() > 0) {
        RollBack(conn);
        DeviceResult inconsistent;
        inconsistent.status = DeviceResult::Status::kInconsistent;
        return inconsistent;
    }
    if (manufacturer.rows() == 0) {
        RollBack(conn);
        return std::nullopt;  // the row-by-row writing tells that it is gone
    }
    const QString manufacturerId = manufacturer.text(0, 1);
    std::vector<qint64> taken;
    for (int row = 0; row < versions.rows(); ++row) {
        taken.push_back(versions.text(row, 0).toLongLong());
    }
    DeviceResult result;
    result.name = FirstFree(base, taken);
    try {
        const CachedStatement& equipment = connection.Statement(sql::kInsertEquipment);
        CheckWidth(equipment.boundColumns[0], equipment.names.table, *result.name);
    } catch (const AppError&) {
        RollBack(conn);
        return std::nullopt;
    }

    // Second round trip: every row, and the commit.
    std::array<QStringList, 8> lists;  // names, types, connectors, pin types: inputs, outputs
    for (const ConnectorRow& row : batch.connectors) {
        const int at = row.table == ConnectorTable::kInputs ? 0 : 4;
        lists[at] << row.name;
        lists[at + 1] << row.type;
        lists[at + 2] << row.conn;
        lists[at + 3] << row.pinType;
    }
    QList<QByteArray> values{result.name->toUtf8(), batch.type.toUtf8(), manufacturerId.toUtf8()};
    for (const QStringList& list : lists) {
        values << ArrayLiteral(list);
    }
    pipeline.emplace(conn);
    pipeline->Send(kDevice, values);
    pipeline->Send("COMMIT");
    pipeline->Sync();
    const Result device = pipeline->Take();
    const Result committed = pipeline->Take();
    pipeline->Take();
    pipeline.reset();
    if (!device.ok() || device.rows() == 0) {
        const StatementFailed failure = FailureOf(conn, device, Step::kWrite, equipmentTable);
        RollBack(conn);
        if (!device.ok() && (failure.attempt.failure == Failure::kBusy ||
                             failure.attempt.failure == Failure::kConnectionLost)) {
            throw failure;
        }
        return std::nullopt;  // refused, or the name taken after all: row by row
    }
    if (!committed.ok()) {
        StatementFailed failure = FailureOf(conn, committed, Step::kCommit, equipmentTable);
        RollBack(conn);
        if (failure.attempt.failure == Failure::kBusy) {
            throw failure;
        }
        // Every row was written when the commit failed.
        result.status = DeviceResult::Status::kFailed;
        result.error = connection.ErrorOf(failure);
        result.failedConnector = static_cast<std::ptrdiff_t>(batch.connectors.size());
        return result;
    }
    result.status = DeviceResult::Status::kStored;
    result.equipmentId = QVariant(device.text(0, 0).toLongLong());
    result.inputs = device.text(0, 1).toLongLong();
    result.outputs = device.text(0, 2).toLongLong();
    return result;
}

}  // namespace db
