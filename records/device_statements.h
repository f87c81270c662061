#pragma once

#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

#include "records/device.h"
#include "records/manufacturers.h"

// The statements of a device's unit of work, as each kind of session runs them: through Qt's
// driver, or through SQLite's own library where that is much faster. Not for code outside the
// database layer.
namespace db {

class Connection;

// Each statement raises StatementFailed when the store refuses it, and AppError when a value is
// refused before it is sent (records/values.h).
class DeviceStatements {
  public:
    virtual ~DeviceStatements() = default;
    // No equipment belongs to the manufacturer "JonkyWonderBoy".
    virtual bool Consistent() = 0;
    // The manufacturer's ID as the database holds it; nothing when it has no such row.
    virtual std::optional<QVariant> ManufacturerAsStored(const QString& id) = 0;
    // Where the importers share no lock: locks the manufacturer's row until the unit ends.
    virtual void HoldManufacturer(const QVariant& manufacturerId) = 0;
    // The version numbers that the manufacturer's names take for `base` (kEquipmentVersionsTaken).
    virtual std::vector<qint64> VersionsTaken(const QString& base,
                                              const QVariant& manufacturerId) = 0;
    // The manufacturer has an equipment row named `name`, as the database compares names.
    virtual bool NameTaken(const QString& name, const QVariant& manufacturerId) = 0;
    // Adds the equipment row and returns its new EquipmentID.
    virtual QVariant InsertEquipment(const QString& name, const QString& type,
                                     const QVariant& manufacturerId) = 0;
    // Adds one connector row; `writesBefore` rows of the unit were written before it.
    virtual void InsertConnector(const ConnectorRow& row, const QVariant& equipmentId,
                                 int writesBefore) = 0;
    // The device's rows as they stand in this unit, as db::ReadDeviceJson gives them.
    virtual QByteArray StoredRowsJson(const QVariant& equipmentId) = 0;
};

// Stores `batch` on a PostgreSQL session through libpq's pipeline, in one round trip: it
// begins, takes the importers' lock, writes every row in one statement (the name chosen inside
// it) under an EquipmentID drawn beforehand, and commits. `sentKey` gets that EquipmentID once
// the device is sent. Nothing when it cannot tell the outcome the row-by-row writing would have
// (a refused statement, a name that the database finds taken after all, a key without a
// sequence): then nothing is stored and the caller writes the device row by row. Raises
// StatementFailed for a failure the row-by-row writing would meet in the same way (the lock
// held by another importer, a lost connection).
std::optional<DeviceResult> StoreDeviceInPipeline(Connection& connection, const DeviceBatch& batch,
                                                  QVariant& sentKey);

// Adds a manufacturer on a PostgreSQL session in one round trip, as AddManufacturerUnlessPresent
// does; nothing when it cannot (not such a session, a value or statement refused): nothing is
// then changed and the caller adds it in a unit of its own.
std::optional<AddedManufacturer> AddManufacturerInPipeline(Connection& connection,
                                                           const QString& id, const QString& name);

// SQLite's own library on the session's handle, kept on the connection; null when the session
// is no SQLite one reached through Qt's SQLite driver.
DeviceStatements* SqliteDeviceStatements(Connection& connection);

}  // namespace db
