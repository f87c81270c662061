#include "manufacturer/manufacturer_save.h"

#include "core/error.h"
#include "records/recordset.h"
#include "records/schema.h"

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
        rs.SetField(schema::kManufacturerID, manufacturerId);
        rs.SetField(schema::kManufacturerName, manufacturerName);
        if (checks.all == Qt::Checked) {
            for (const char* field : schema::kDisplayFlags) {
                rs.SetField(field, true);
            }
        } else {
            const Qt::CheckState states[] = {checks.equipment, checks.jackFields, checks.routers,
                                             checks.jboxes, checks.cableTypes};
            for (std::size_t i = 0; i < std::size(states); ++i) {
                SetFlag(rs, schema::kDisplayFlags[i], states[i]);
            }
        }
        rs.Update();
        return {SaveOutcome::kStored, {}};
    } catch (const AppError& error) {
        if (error.kind() == ErrorKind::kDuplicateKey) {
            return {SaveOutcome::kAlreadyExists, AlreadyExistsMessage(manufacturerId)};
        }
        return {SaveOutcome::kFailed, error.description()};
    }
}
