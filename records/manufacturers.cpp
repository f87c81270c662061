#include "records/manufacturers.h"

#include "records/database.h"
#include "records/device_statements.h"
#include "records/recordset.h"
#include "records/statements.h"

namespace db {
namespace {

// An ID that was never set is compared as empty text, not as NULL.
QVariant IdValue(const QString& id) {
    return id.isNull() ? QStringLiteral("") : id;
}

ManufacturerRow RowOf(const Recordset& rs) {
    return {rs.Field(schema::kManufacturerID).toString(),
            rs.Field(schema::kManufacturerName).toString()};
}

}  // namespace

std::vector<ManufacturerRow> ListManufacturers(Database& database) {
    Recordset list;
    list.setActiveConnection(database);
    list.Open(sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly);
    std::vector<ManufacturerRow> rows;
    for (; !list.IsEOF(); list.MoveNext()) {
        if (!list.Field(schema::kManufacturerID).isNull()) {  // no ID can ever equal it
            rows.push_back(RowOf(list));
        }
    }
    return rows;
}

std::optional<ManufacturerRow> FindManufacturer(Database& database, const QString& id) {
    Recordset rsManufacturer;
    rsManufacturer.setActiveConnection(database);
    rsManufacturer.Open(sql::kManufacturerById, {IdValue(id)}, CursorType::kStatic,
                        LockType::kReadOnly);
    if (rsManufacturer.RecordCount() == 0) {
        return std::nullopt;
    }
    return RowOf(rsManufacturer);
}

AddedManufacturer AddManufacturerUnlessPresent(Database& database, const QString& id,
                                               const QString& name) {
    if (!database.dryRun()) {
        if (std::optional<AddedManufacturer> added =
                AddManufacturerInPipeline(database.connection(), id, name)) {
            return *added;
        }
    }
    AddedManufacturer result;
    RunUnit(database, [&](Connection&) {
        Recordset rsManufacturer;
        rsManufacturer.setActiveConnection(database);
        rsManufacturer.Open(sql::kManufacturerById, {IdValue(id)}, CursorType::kStatic,
                            LockType::kOptimistic);
        result.added = rsManufacturer.RecordCount() == 0;
        if (result.added) {
            rsManufacturer.AddNew();
            rsManufacturer.SetField(schema::kManufacturerID, IdValue(id));
            rsManufacturer.SetField(schema::kManufacturerName, IdValue(name));
            rsManufacturer.SetField(schema::kDisplayInEquipment, QVariant(true));
            rsManufacturer.Update();
        }
        result.row = RowOf(rsManufacturer);
    });
    return result;
}

}  // namespace db
