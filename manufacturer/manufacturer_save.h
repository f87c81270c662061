#pragma once

#include <QString>
#include <Qt>

namespace db {
class Recordset;
}

// The six check boxes of the display group as they stand when Add is pressed. "All Libraries"
// starts checked and the others unchecked. A grayed box (Qt::PartiallyChecked) is neither on
// nor off: its flag is left to the table's default.
struct DisplayChecks {
    Qt::CheckState all = Qt::Checked;
    Qt::CheckState equipment = Qt::Unchecked;
    Qt::CheckState jackFields = Qt::Unchecked;
    Qt::CheckState routers = Qt::Unchecked;
    Qt::CheckState jboxes = Qt::Unchecked;
    Qt::CheckState cableTypes = Qt::Unchecked;
};

// How a save ended.
enum class SaveOutcome {
    kStored,         // the row was stored
    kEmptyEntry,     // both texts were empty: nothing was attempted
    kAlreadyExists,  // the store refused the row as a duplicate key
    kFailed,         // the store refused the row for another reason
};

struct SaveResult {
    SaveOutcome outcome = SaveOutcome::kFailed;
    // What to tell the user: the "already exists" text, or the failure's description; empty for
    // kStored and kEmptyEntry.
    QString message;

    bool stored() const { return outcome == SaveOutcome::kStored; }
};

// True when the ID followed by the name is not empty (a blank counts).
bool HasEntry(const QString& manufacturerId, const QString& manufacturerName);

// The text shown when the store refuses a new manufacturer row as a duplicate.
QString AlreadyExistsMessage(const QString& manufacturerId);

// Adds one tblManufacturers row on `rs` (open, updatable, over the whole table) with the ID and
// name exactly as given and the five display flags: all True when `checks.all` is checked,
// otherwise each from its own box (a grayed box leaves its flag unset). The texts are not
// reshaped here. An empty entry is refused without touching the store. Never raises: a refusal
// of the store comes back as kAlreadyExists (a duplicate key, ErrorKind::kDuplicateKey) or
// kFailed (any other refusal, with its own description), and the refused row is never stored
// by a later Update on `rs`. Touches no widget.
SaveResult SaveManufacturer(db::Recordset& rs, const QString& manufacturerId,
                            const QString& manufacturerName, const DisplayChecks& checks);
