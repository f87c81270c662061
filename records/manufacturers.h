#pragma once

#include <QString>
#include <optional>
#include <vector>

// The manufacturers of the equipment database, as resolution reads and adds them.
namespace db {

class Database;

struct ManufacturerRow {
    QString id;    // as the database holds it
    QString name;  // empty for a null name
};

// Every manufacturer with an ID (the selection list's statement), in name order.
std::vector<ManufacturerRow> ListManufacturers(Database& database);

// The manufacturer whose ID the database finds equal to `id` (its text equality, which may ignore
// letter case); nothing when there is none.
std::optional<ManufacturerRow> FindManufacturer(Database& database, const QString& id);

// Adds the manufacturer `id` with `name` and DisplayInEquipment True, as given, unless the
// database already finds one equal to `id`: in a unit of work of its own, under the lock that
// all importers take, so that two importers never add it twice. Returns the manufacturer as the
// database then holds it, and whether this call added it. Raises on a refusal.
struct AddedManufacturer {
    ManufacturerRow row;
    bool added = false;
};
AddedManufacturer AddManufacturerUnlessPresent(Database& database, const QString& id,
                                               const QString& name);

}  // namespace db
