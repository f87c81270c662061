#include "records/device.h"

#include <QSqlDriver>
#include <algorithm>

#include "core/text.h"
#include "records/connection.h"
#include "records/database.h"
#include "records/device_statements.h"
#include "records/run_rows.h"
#include "records/statements.h"
#include "records/values.h"

namespace db {
namespace {

// The statements of a device through Qt's driver, on any kind of session.
class QtDeviceStatements : public DeviceStatements {
  public:
    explicit QtDeviceStatements(Connection& connection) : c_(connection) {}

    bool Consistent() override {
        QSqlQuery& query = Exec(sql::kEquipmentConsistencyCheck, {}, Step::kRead);
        const bool none = !query.next();
        query.finish();
        return none;
    }

    std::optional<QVariant> ManufacturerAsStored(const QString& id) override {
        QSqlQuery& query = Exec(sql::kManufacturerNameById, {id}, Step::kRead);
        std::optional<QVariant> stored;
        if (query.next()) {
            stored = query.value(1);  // the statement's ManufacturerID
        }
        query.finish();
        return stored;
    }

    void HoldManufacturer(const QVariant& manufacturerId) override {
        const QString statement = c_.dialect().LockManufacturer();
        if (statement.isEmpty()) {
            return;
        }
        const StatementNames names{QString::fromLatin1(schema::kManufacturers.name), {}};
        QSqlQuery& query = c_.Prepared(statement, names);
        query.bindValue(0, manufacturerId);
        Check(query, Step::kLock, names, {}, 0);
        query.finish();
    }

    std::vector<qint64> VersionsTaken(const QString& base,
                                      const QVariant& manufacturerId) override {
        const qint64 digits = base.toUcs4().size() + 3;
        QSqlQuery& query = Exec(sql::kEquipmentVersionsTaken,
                                {base, digits, base, digits, digits, manufacturerId, base,
                                 base + QStringLiteral("_v"), base + QStringLiteral("_w")},
                                Step::kRead);
        std::vector<qint64> taken;
        while (query.next()) {
            taken.push_back(query.value(0).toLongLong());
        }
        query.finish();
        return taken;
    }

    bool NameTaken(const QString& name, const QVariant& manufacturerId) override {
        QSqlQuery& query =
            Exec(sql::kEquipmentByNameAndManufacturer, {name, manufacturerId}, Step::kRead);
        const bool taken = query.next();
        query.finish();
        return taken;
    }

    QVariant InsertEquipment(const QString& name, const QString& type,
                             const QVariant& manufacturerId) override {
        QSqlQuery& query =
            Exec(sql::kInsertEquipment, {name, type, manufacturerId, type}, Step::kWrite);
        QVariant key;
        if (c_.dialect().HasOwnForm(sql::kInsertEquipment)) {
            key = query.next() ? query.value(0) : QVariant();  // its RETURNING
        } else if (query.driver()->hasFeature(QSqlDriver::LastInsertId)) {
            key = query.lastInsertId();
        }
        query.finish();
        const QString newKey = c_.dialect().NewKeyQuery();
        if (!key.isValid() && !newKey.isEmpty()) {
            QSqlQuery& last = c_.Prepared(newKey, {});
            Check(last, Step::kRead, {}, {}, 1);
            key = last.next() ? last.value(0) : QVariant();
            last.finish();
        }
        return key;
    }

    // Read before the commit, so that what a run records is what its unit wrote, even if
    // another user changes the rows right after.
    QByteArray StoredRowsJson(const QVariant& equipmentId) override {
        return ReadDeviceJson(c_, equipmentId);
    }

    void InsertConnector(const ConnectorRow& row, const QVariant& equipmentId,
                         int writesBefore) override {
        const sql::Statement& statement =
            row.table == ConnectorTable::kInputs ? sql::kInsertInput : sql::kInsertOutput;
        Exec(statement, {equipmentId, row.name, row.type, row.conn, row.pinType}, Step::kWrite,
             writesBefore)
            .finish();
    }

  private:
    // Binds `values` (checked first, for an insert) and runs `statement`.
    QSqlQuery& Exec(const sql::Statement& statement, const QVariantList& values, Step step,
                    int writesBefore = 0) {
        CachedStatement& cached = c_.Statement(statement);
        QVariantList stored;
        stored.reserve(values.size());
        for (qsizetype i = 0; i < values.size(); ++i) {
            const ColumnInfo* column =
                i < qsizetype(cached.boundColumns.size()) ? cached.boundColumns[i] : nullptr;
            CheckWidth(column, cached.names.table, values[i]);
            stored << StoredValue(values[i], column);
        }
        QSqlQuery& query = c_.Prepared(cached);
        for (qsizetype i = 0; i < stored.size(); ++i) {
            query.bindValue(int(i), stored[i]);
        }
        Check(query, step, cached.names, step == Step::kWrite ? stored : QVariantList(),
              writesBefore);
        return query;
    }

    void Check(QSqlQuery& query, Step step, const StatementNames& names, const QVariantList& values,
               int writesBefore) {
        const Attempt attempt = c_.TryRun(query);
        if (!attempt.ok()) {
            throw StatementFailed{attempt, step, names, values, writesBefore};
        }
    }

    Connection& c_;
};

// The first free name of base, base_v1, base_v2, ... for the manufacturer. The versions that the
// database lists as taken are passed over; where that list may miss a comparison of the
// database, each free-looking name is confirmed by the one-name test, as the walk without the
// list would test every name.
QString CheckDuplicate(DeviceStatements& statements, const Dialect& dialect, const QString& base,
                       const QVariant& manufacturerId) {
    const auto name = [&base](qint64 version) {
        return version == 0 ? base : base + QStringLiteral("_v") + QString::number(version);
    };
    std::vector<qint64> taken;
    if (dialect.ListsVersions()) {
        taken = statements.VersionsTaken(base, manufacturerId);
        std::sort(taken.begin(), taken.end());
    }
    qint64 version = 0;
    auto next = taken.begin();
    for (;;) {
        while (next != taken.end() && *next < version) {
            ++next;
        }
        if (next != taken.end() && *next == version) {
            ++version;
            continue;
        }
        if (dialect.VersionsAreExact() || !statements.NameTaken(name(version), manufacturerId)) {
            return name(version);
        }
        ++version;
    }
}

// The device stored under `key`, read on a session opened after the one that sent its commit
// was lost; nothing when there is no such row. A key that no device was stored under is not
// found: the lost session has been ended at the server (Database::WaitForServer), so what it
// sent can no longer be committed.
std::optional<DeviceResult> FoundAfterLoss(Connection& connection, const QVariant& key) {
    if (!key.isValid()) {
        throw AppError(
            ErrNo::kDbConnectionLost,
            QString("The connection to the database '%1' was lost while a device was committed, "
                    "and whether it was stored cannot be told. Look for it in the database "
                    "before importing its file again.")
                .arg(connection.description()),
            kSource, ErrorKind::kOutcomeUnknown);
    }
    CachedStatement& cached = connection.Statement(sql::kDeviceByKey);
    QSqlQuery& query = connection.Prepared(cached);
    query.bindValue(0, key);
    connection.Run(query, Step::kRead, cached.names);
    std::optional<DeviceResult> found;
    if (query.next()) {
        found.emplace();
        found->status = DeviceResult::Status::kStored;
        found->name = query.value(0).toString();
        found->equipmentId = key;
        found->inputs = query.value(1).toLongLong();
        found->outputs = query.value(2).toLongLong();
        found->foundAfterLoss = true;
    }
    query.finish();
    return found;
}

// The device in one unit, one statement per row.
void StoreRowByRow(Database& database, const DeviceBatch& batch, DeviceResult& result) {
    const auto found = [&](Connection& connection) {
        std::optional<DeviceResult> stored = FoundAfterLoss(connection, result.equipmentId);
        if (stored) {
            result = *stored;
        }
        return stored.has_value();
    };
    RunUnit(
        database,
        [&](Connection& connection) {
            QtDeviceStatements qt(connection);
            DeviceStatements* native = SqliteDeviceStatements(connection);
            DeviceStatements& statements = native != nullptr ? *native : qt;
            if (!statements.Consistent()) {
                result.status = DeviceResult::Status::kInconsistent;
                return;
            }
            result.status = DeviceResult::Status::kFailed;
            const std::optional<QVariant> manufacturerId =
                statements.ManufacturerAsStored(batch.manufacturerId);
            if (!manufacturerId) {
                throw AppError(ErrNo::kNoCurrentRecord,
                               "Either BOF or EOF is True, or the current record has been deleted. "
                               "Requested operation requires a current record.",
                               kSource, ErrorKind::kMissing);
            }
            statements.HoldManufacturer(*manufacturerId);
            result.name = CheckDuplicate(statements, connection.dialect(), TrimBlanks(batch.model),
                                         *manufacturerId);
            result.equipmentId =
                statements.InsertEquipment(*result.name, batch.type, *manufacturerId);
            for (std::size_t i = 0; i < batch.connectors.size(); ++i) {
                result.failedConnector = static_cast<std::ptrdiff_t>(i);
                const ConnectorRow& row = batch.connectors[i];
                statements.InsertConnector(row, result.equipmentId, static_cast<int>(i) + 1);
                ++(row.table == ConnectorTable::kInputs ? result.inputs : result.outputs);
            }
            result.storedRows = statements.StoredRowsJson(result.equipmentId);
            // A failure from here on (the commit) comes after every row.
            result.failedConnector = static_cast<std::ptrdiff_t>(batch.connectors.size());
        },
        [&] { result = DeviceResult{}; }, found);
    if (result.status != DeviceResult::Status::kInconsistent) {
        result.status = DeviceResult::Status::kStored;
    }
    result.failedConnector = -1;
}

// The device through the pipeline of a PostgreSQL session, waiting while another importer holds
// the lock or the server is away; nothing when it must be written row by row.
std::optional<DeviceResult> StoreInPipeline(Database& database, const DeviceBatch& batch) {
    int reconnects = 0;
    for (;;) {
        Connection& connection = database.connection();
        std::optional<DeviceResult> stored;
        std::optional<StatementFailed> failed;
        QVariant sentKey;
        qint64 waited = 0;
        const Attempt result = RetryWhileBusy(
            database.wait(), connection.description(),
            [&]() -> Attempt {
                try {
                    stored = StoreDeviceInPipeline(connection, batch, sentKey);
                    return {};
                } catch (StatementFailed& statement) {
                    failed = std::move(statement);
                    return failed->attempt;
                }
            },
            &waited);
        if (result.ok()) {
            return stored;
        }
        const AppError error = connection.ErrorOf(*failed, waited);
        if (!database.ReconnectAfter(error, reconnects, sentKey.isValid())) {
            throw error;
        }
        if (sentKey.isValid()) {
            if (std::optional<DeviceResult> found =
                    FoundAfterLoss(database.connection(), sentKey)) {
                return found;
            }
        }
    }
}

}  // namespace

DeviceResult StoreDevice(Database& database, const DeviceBatch& batch) {
    DeviceResult result;
    try {
        if (!database.dryRun() && database.connection().dialect().driver() == Driver::kPostgres) {
            if (std::optional<DeviceResult> done = StoreInPipeline(database, batch)) {
                return *done;
            }
        }
        StoreRowByRow(database, batch, result);
    } catch (const AppError& error) {
        result.status = DeviceResult::Status::kFailed;
        result.error = error;
    }
    return result;
}

}  // namespace db
