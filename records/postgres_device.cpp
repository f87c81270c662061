// A device through libpq's pipeline, on the session of Qt's PostgreSQL driver, which sends one
// statement per round trip and has no way to send several at once. Across a network every round
// trip costs as much as the server's work on a whole device: here a device takes one, which
// begins, takes the importers' lock, writes every row in one statement (the name chosen inside
// it) and commits.
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
enum Prepared { kLock, kDevice, kFindManufacturer, kAddManufacturer, kNextKey, kPreparedCount };
constexpr std::array<const char*, kPreparedCount> kNames = {
    "importflx_lock", "importflx_device", "importflx_find", "importflx_add_manufacturer",
    "importflx_next_key"};

// The session's identity, the sequence behind tblEquipment's key and a key drawn from it (null
// when the key has no sequence).
constexpr const char* kReserveKey =
    "SELECT a.pid, CAST(a.backend_start AS TEXT), s.seq, nextval(CAST(s.seq AS regclass)) FROM "
    "pg_stat_activity a LEFT JOIN (SELECT pg_get_serial_sequence('tblEquipment', t.attname) AS "
    "seq FROM pg_attribute t WHERE t.attrelid = to_regclass('tblEquipment') AND "
    "lower(t.attname) = 'equipmentid' AND t.attnum > 0 AND NOT t.attisdropped) s ON TRUE WHERE "
    "a.pid = pg_backend_pid()";
constexpr const char* kNextKeyText = "SELECT nextval(CAST($1 AS regclass))";

// What the session holds: the statements prepared, and the key that its next device takes.
// Every device is written under a key drawn for it before it is sent, so that after a session
// lost with the device's commit unanswered, the key tells whether it was stored.
struct PipelineState : Connection::Extra {
    std::array<bool, kPreparedCount> prepared{};
    bool keyAsked = false;  // ReserveKey ran once
    QByteArray sequence;
    QByteArray key;  // empty: none drawn, or no sequence to draw from
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
        // Qt's driver reads the rows of its last statement one at a time and leaves the end of
        // its results unread: the session is idle only once that end is read too. (No statement
        // of Qt's is under way here: each is read to its end and finished.)
        while (PGresult* left = PQgetResult(conn_)) {
            PQclear(left);
        }
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

// The session's pipeline state, made on first use.
PipelineState& StateOf(Connection& connection) {
    auto* state = dynamic_cast<PipelineState*>(connection.extra());
    if (state == nullptr) {
        connection.setExtra(std::make_unique<PipelineState>());
        state = static_cast<PipelineState*>(connection.extra());
    }
    return *state;
}

// Queues the preparing of every statement the session lacks; returns which.
std::vector<int> PrepareMissing(Pipeline& pipeline, Connection& connection,
                                const PipelineState& state) {
    const Dialect& dialect = connection.dialect();
    const std::array<QByteArray, kPreparedCount> texts = {
        Numbered(PostgresImportersLock()), QByteArray(sql::kPostgresDevice),
        Numbered(dialect.Form(sql::kManufacturerById)), QByteArray(sql::kPostgresAddManufacturer),
        QByteArray(kNextKeyText)};
    std::vector<int> preparing;
    for (int i = 0; i < kPreparedCount; ++i) {
        if (!state.prepared[i]) {
            pipeline.Prepare(kNames[i], texts[i]);
            preparing.push_back(i);
        }
    }
    return preparing;
}

// Reads the results of the preparing queued by PrepareMissing; false when one failed.
bool TakePrepared(Pipeline& pipeline, const std::vector<int>& preparing, PipelineState& state) {
    bool all = true;
    for (const int i : preparing) {
        const Result prepared = pipeline.Take();
        state.prepared[i] = prepared.ok();
        all = all && prepared.ok();
    }
    return all;
}

// Draws the key of the session's first device, and notes who the session is, in one round
// trip; the key stays empty when tblEquipment's key has no sequence.
void ReserveKey(PGconn* conn, Connection& connection, PipelineState& state) {
    if (!state.key.isEmpty() || (state.keyAsked && state.sequence.isEmpty())) {
        return;  // a key waits, or the key has no sequence
    }
    state.keyAsked = true;
    Result reserved;
    reserved.result = PQexec(conn, kReserveKey);
    if (!reserved.ok() || reserved.rows() != 1) {
        return;
    }
    connection.setIdentity({reserved.text(0, 0).toLongLong(), reserved.text(0, 1)});
    if (!PQgetisnull(reserved.result, 0, 3)) {
        state.sequence = PQgetvalue(reserved.result, 0, 2);
        state.key = PQgetvalue(reserved.result, 0, 3);
    }
}

}  // namespace

std::optional<AddedManufacturer> AddManufacturerInPipeline(Connection& connection,
                                                           const QString& id, const QString& name) {
    auto* conn = static_cast<PGconn*>(connection.NativeHandle());
    if (conn == nullptr || connection.dialect().driver() != Driver::kPostgres) {
        return std::nullopt;
    }
    const QString table = QString::fromLatin1(schema::kManufacturers.name);
    QString yes;
    try {
        CheckText(connection.FindColumn(table, schema::kManufacturerID), table, id);
        CheckText(connection.FindColumn(table, schema::kManufacturerName), table, name);
        yes =
            StoredValue(true, connection.FindColumn(table, schema::kDisplayInEquipment)).toString();
    } catch (const AppError&) {
        return std::nullopt;  // told by the unit that adds it row by row
    }
    PipelineState& state = StateOf(connection);
    std::optional<Pipeline> pipeline(std::in_place, conn);
    if (!pipeline->entered()) {
        return std::nullopt;
    }
    const std::vector<int> preparing = PrepareMissing(*pipeline, connection, state);
    pipeline->Send("BEGIN");
    pipeline->Send(kLock, {});
    pipeline->Send(kAddManufacturer, {id.toUtf8(), name.toUtf8(), yes.toUtf8()});
    pipeline->Send(kFindManufacturer, {id.toUtf8()});
    pipeline->Send("COMMIT");
    pipeline->Sync();
    const bool preparedAll = TakePrepared(*pipeline, preparing, state);
    std::array<Result, 5> read;  // BEGIN, the lock, the insert, the row, the commit
    for (Result& result : read) {
        result = pipeline->Take();
    }
    pipeline->Take();
    pipeline.reset();
    const bool done = std::all_of(read.begin(), read.end(), [](auto& r) { return r.ok(); });
    if (!preparedAll || !done || read[3].rows() != 1) {
        // Waiting for another importer, and every refusal, are the unit's to handle.
        RollBack(conn);
        return std::nullopt;
    }
    AddedManufacturer added;
    added.added = QByteArray(PQcmdTuples(read[2].result)) == "1";
    added.row = {read[3].text(0, 0), read[3].text(0, 1)};
    return added;
}

namespace {

// The device statement's parameters: the equipment fields, the versioned-name patterns, one
// array per connector column and table, and the key reserved for the row.
QList<QByteArray> DeviceParameters(const DeviceBatch& batch, const QByteArray& key) {
    const QString base = TrimBlanks(batch.model);
    const QByteArray baseText = base.toUtf8();
    std::array<QStringList, 8> lists;  // names, types, connectors, pin types: inputs, outputs
    for (const ConnectorRow& row : batch.connectors) {
        const int at = row.table == ConnectorTable::kInputs ? 0 : 4;
        lists[at] << row.name;
        lists[at + 1] << row.type;
        lists[at + 2] << row.conn;
        lists[at + 3] << row.pinType;
    }
    QList<QByteArray> values{batch.manufacturerId.toUtf8(),
                             baseText,
                             batch.type.toUtf8(),
                             QByteArray::number(base.toUcs4().size() + 3),
                             baseText + "_v",
                             baseText + "_w"};
    for (const QStringList& list : lists) {
        values << ArrayLiteral(list);
    }
    values << key;
    return values;
}

// After a statement of the pipeline failed (the transaction already rolled back): a lock that
// another importer holds is waited for, a lost server told; a commit that failed is told after
// every row; anything else (nullopt) the rows written one by one tell exactly.
std::optional<DeviceResult> AfterPipelineFailure(Connection& connection, const DeviceBatch& batch,
                                                 StatementFailed failure, bool preparedAll) {
    const Failure kind = failure.attempt.failure;
    if (kind == Failure::kConnectionLost) {
        failure.step = Step::kCommit;  // sent with the rest: its fate is unknown
        throw failure;
    }
    if (preparedAll && kind == Failure::kBusy) {
        throw failure;
    }
    if (preparedAll && failure.step == Step::kCommit) {
        DeviceResult result;
        failure.writesBefore = 1 + static_cast<int>(batch.connectors.size());
        result.error = connection.ErrorOf(failure);
        result.failedConnector = static_cast<std::ptrdiff_t>(batch.connectors.size());
        return result;
    }
    return std::nullopt;
}

// The device statement's one row: (inconsistent, manufacturer found, name, key, inputs,
// outputs).
std::optional<DeviceResult> DeviceStored(const Result& device) {
    DeviceResult result;
    if (device.text(0, 0) == QLatin1String("t")) {
        result.status = DeviceResult::Status::kInconsistent;
        return result;
    }
    if (device.text(0, 1) == QLatin1String("0") || PQgetisnull(device.result, 0, 3)) {
        return std::nullopt;  // no manufacturer, or the name taken after all: row by row
    }
    result.status = DeviceResult::Status::kStored;
    result.name = device.text(0, 2);
    result.equipmentId = QVariant(device.text(0, 3).toLongLong());
    result.inputs = device.text(0, 4).toLongLong();
    result.outputs = device.text(0, 5).toLongLong();
    // The server's own JSON text: parsed, it equals what db::ReadDevice reads. json_agg puts a
    // line end between elements, never inside a string (where it is escaped); the text goes
    // on one line, as a record's journal takes it.
    result.storedRows = "{\"equipment\":" + device.text(0, 6).toUtf8() +
                        ",\"inputs\":" + device.text(0, 7).toUtf8() +
                        ",\"outputs\":" + device.text(0, 8).toUtf8() + '}';
    result.storedRows.replace('\n', ' ');
    return result;
}

}  // namespace

std::optional<DeviceResult> StoreDeviceInPipeline(Connection& connection, const DeviceBatch& batch,
                                                  QVariant& sentKey) {
    auto* conn = static_cast<PGconn*>(connection.NativeHandle());
    if (conn == nullptr || !RowsAcceptable(connection, batch)) {
        return std::nullopt;
    }
    PipelineState& state = StateOf(connection);
    ReserveKey(conn, connection, state);
    if (state.key.isEmpty()) {
        return std::nullopt;
    }
    const QList<QByteArray> values = DeviceParameters(batch, state.key);

    std::optional<Pipeline> pipeline(std::in_place, conn);
    if (!pipeline->entered()) {
        return std::nullopt;
    }
    const std::vector<int> preparing = PrepareMissing(*pipeline, connection, state);
    sentKey = state.key.toLongLong();
    pipeline->Send("BEGIN");
    pipeline->Send(kLock, {});
    pipeline->Send(kDevice, values);
    pipeline->Send("COMMIT");
    pipeline->Send(kNextKey, {state.sequence});  // skipped by the server after a failure
    pipeline->Sync();
    const bool preparedAll = TakePrepared(*pipeline, preparing, state);
    std::array<Result, 5> read;  // BEGIN, the lock, the device, the commit, the next key
    for (Result& result : read) {
        result = pipeline->Take();
    }
    pipeline->Take();  // the synchronisation point
    pipeline.reset();
    const auto end = read.begin() + 4;
    const auto failed = std::find_if(read.begin(), end, [](auto& r) { return !r.ok(); });
    if (!preparedAll || failed != end) {
        const Step step = failed - read.begin() == 3 ? Step::kCommit : Step::kLock;
        const QString table = QString::fromLatin1(schema::kEquipment.name);
        StatementFailed failure =
            FailureOf(conn, failed != end ? *failed : read.front(), step, table);
        RollBack(conn);
        return AfterPipelineFailure(connection, batch, std::move(failure), preparedAll);
    }
    // The key went with the device when it was stored; a new one waits for the next device.
    state.key = read[4].ok() ? QByteArray(PQgetvalue(read[4].result, 0, 0)) : QByteArray();
    return DeviceStored(read[2]);
}

}  // namespace db
