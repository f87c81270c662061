#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/error.h"

namespace db {

class Database;

enum class ConnectorTable { kInputs, kOutputs };

// One input or output row of a device, as its connector line gives it.
struct ConnectorRow {
    ConnectorTable table = ConnectorTable::kInputs;
    QString name;
    QString type;  // the signal type
    QString conn;
    QString pinType;
};

// One device: its equipment row and its connector rows, as one unit of work.
struct DeviceBatch {
    // The resolved manufacturer; the row takes its ID as the database holds it.
    QString manufacturerId;
    // The model. When the manufacturer already has it, the row is stored under the first free
    // name of model_v1, model_v2, ... (model without the blanks at both ends).
    QString model;
    // The equipment type, stored as both the type and the description.
    QString type;
    std::vector<ConnectorRow> connectors;
};

// How StoreDevice ended.
struct DeviceResult {
    enum class Status {
        kStored,        // every row is stored
        kInconsistent,  // the database holds equipment of the manufacturer "JonkyWonderBoy"
        kFailed,        // nothing is stored; `error` tells why
    };
    Status status = Status::kFailed;
    // The name chosen for the equipment row: the one it is stored under, or the one it would
    // have had when a later row failed. Nothing when no name was chosen.
    std::optional<QString> name;
    QVariant equipmentId;  // kStored: the key the store gave the row
    std::int64_t inputs = 0;
    std::int64_t outputs = 0;
    std::optional<AppError> error;  // kFailed
    // kFailed: the connector row that failed, by its index in the batch; -1 when the failure
    // came before the connector rows (the equipment row, the manufacturer, the lock), the
    // number of connector rows when it came after all of them (the commit).
    std::ptrdiff_t failedConnector = -1;
    // kStored, where the store gave the rows back with the device in the same round trip:
    // every column of the equipment row and of its connector rows as stored, as JSON text
    // ({"equipment": {}, "inputs": [], "outputs": []}, as db::ReadDeviceJson). Empty elsewhere.
    QByteArray storedRows;
    // kStored: the session was lost with the device's commit unanswered, and the device was
    // found stored once the server was back.
    bool foundAfterLoss = false;
};

// Stores `batch` whole or not at all: in one transaction that holds the database for every
// importer (see RunUnit), it checks that no equipment belongs to "JonkyWonderBoy", reads the
// manufacturer's row again (ErrNo::kNoCurrentRecord when it is gone), chooses the model's
// name, and writes the equipment row and its connector rows in their order. Every value is
// checked before it is sent (too long for its column, a NUL character). Every failure comes
// back as kFailed, with the error and the row it belongs to, the first that writing the rows
// one by one in their order meets. A busy database is waited for as the database's wait
// settings say; the wait's cancel is a failure too (ErrNo::kDbWaitCancelled). A server that
// goes away is waited for as well (Database::WaitForServer), and the device stored on the new
// session, unless it is found stored already (its commit was sent but not answered); a device
// whose fate cannot be told fails with ErrorKind::kOutcomeUnknown.
DeviceResult StoreDevice(Database& database, const DeviceBatch& batch);

}  // namespace db
