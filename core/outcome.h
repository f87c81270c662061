#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <vector>

#include "core/error.h"

// How the import of one FLX file ended, as a value: callers decide on this, never on the text
// of the log lines that the import writes for the user.
enum class FileStatus {
    kAdded,      // read to its end; its "Added " lines were logged
    kRefused,    // a block start was refused ("Failed (...)" logged); see RefusalReason
    kCancelled,  // the run was cancelled while the file was read; nothing logged for it
    kError,      // an error ended it; its number, description and source were shown
};

// Why a block start was refused.
enum class RefusalReason {
    kNone,
    kUnknownManufacturer,  // no manufacturer could be chosen for the file's ID
    kUserCancelled,        // the user cancelled the manufacturer selection
    kEquipmentNotStored,   // the equipment row could not be prepared (inconsistent database)
};

// One equipment row that a file's block stored.
struct StoredEquipment {
    QString fileManufacturerId;  // the manufacturer ID as the file gave it
    QString manufacturerId;      // the database manufacturer it resolved to
    QString manufacturerName;
    QString model;         // the name under which the row was stored (versioned when taken)
    QVariant equipmentId;  // the key the store assigned
    std::int64_t inputs = 0;
    std::int64_t outputs = 0;
    // The rows as stored when the store gave them back with the device, as JSON text
    // ({"equipment": {}, "inputs": [], "outputs": []}, every column of each); empty when it did
    // not.
    QByteArray rows;
    // The server went away with the row's commit unanswered; the row was found once it was back.
    bool foundAfterLoss = false;
};

struct FileOutcome {
    FileStatus status = FileStatus::kAdded;
    RefusalReason reason = RefusalReason::kNone;
    // kError: the error that ended the file.
    ErrorKind errorKind = ErrorKind::kOther;
    long errorNumber = 0;
    QString errorDescription;
    QString errorSource;
    // Every equipment row the file stored, also when it ended early (earlier blocks stay).
    std::vector<StoredEquipment> equipment;

    bool added() const { return status == FileStatus::kAdded; }
};

// Why a run stopped before its end, other than a cancel.
enum class RunStop {
    kNone,
    kServerLost,  // the database server went away and did not come back within the wait
};

// How a run over the file list ended.
struct RunOutcome {
    bool started = false;    // false: another run was in progress and this one was refused
    bool cancelled = false;  // stopped by cancel before its end; no totals line
    // Stopped by a failure that every later file would meet too: the file that met it ended
    // with the error, the files after it were not reached; no totals line.
    RunStop stoppedBy = RunStop::kNone;
    std::int64_t parts = 0;
    std::int64_t inputs = 0;
    std::int64_t outputs = 0;
    std::int64_t filesAdded = 0;  // files whose outcome was kAdded
};
