#include "manufacturer/manufacturer_save.h"

#include "core/error.h"
#include "records/recordset.h"

namespace {
// Sets `field` from one check box: checked True, unchecked False, grayed not at all.
void SetFlag(db::Recordset& rs, const char* field, Qt::CheckState state) {
    if (state == Qt::Checked) {
        rs.SetField(field, true);
    } else if (state == Qt::Unchecked) {
        rs.SetField(field, false);
    }
}
}  // namespace

bool HasEntry(const QString& manufacturerId, const QString& manufacturerName) {
    return !(manufacturerId + manufacturerName).isEmpty();
}

QString AlreadyExistsMessage(const QString& manufacturerId) {
    return "The ManufacturerID " + manufacturerId +
           " already exists in the database. Please modify your entry.";
}

SaveResult SaveManufacturer(db::Recordset& rs, const QString& manufacturerId,
                            const QString& manufacturerName, const DisplayChecks& checks) {
    if (!HasEntry(manufacturerId, manufacturerName)) {
        return {SaveOutcome::kEmptyEntry, {}};
    }
    try {
        rs.AddNew();
        rs.SetField("manufacturerID", manufacturerId);
        rs.SetField("manufacturername", manufacturerName);
        if (checks.all == Qt::Checked) {
            for (const char* field :
                 {"DisplayInEquipment", "displayInJackFields", "DisplayInRouters",
                  "DisplayInJboxes", "displayInCabletypes"}) {
                rs.SetField(field, true);
            }
        } else {
            SetFlag(rs, "DisplayInEquipment", checks.equipment);
            SetFlag(rs, "displayInJackFields", checks.jackFields);
            SetFlag(rs, "DisplayInRouters", checks.routers);
            SetFlag(rs, "DisplayInJboxes", checks.jboxes);
            SetFlag(rs, "displayInCabletypes", checks.cableTypes);
        }
        rs.Update();
        return {SaveOutcome::kStored, {}};
    } catch (const AppError& error) {
        if (error.number() == ErrNo::kDbFail || error.number() == ErrNo::kDbErrorsOccurred) {
            return {SaveOutcome::kAlreadyExists, AlreadyExistsMessage(manufacturerId)};
        }
        return {SaveOutcome::kFailed, error.description()};
    }
}
