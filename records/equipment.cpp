#include "records/equipment.h"

#include "core/error.h"
#include "core/session.h"
#include "core/text.h"
#include "records/connection.h"
#include "records/manufacturer_resolution.h"
#include "records/recordset.h"
#include "records/statements.h"

namespace {

void CloseIfOpen(db::Recordset& rs) {
    if (rs.State() == 1) {
        rs.Close();
    }
}

}  // namespace

RefusalReason AddEquipment(ImportContext& ctx) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return RefusalReason::kUserCancelled;
    }
    const RefusalReason refused = ResolveManufacturer(ctx, s.sManuID);
    if (refused != RefusalReason::kNone) {
        if (!s.bCancel) {
            db::DeferredCommits::Flush();
            ctx.host.MessageBox("unable to initialize recordset");
        }
        return refused;
    }
    s.sEquipName = CheckDuplicate(ctx);

    db::Recordset& manufacturer = SessionRecordset(s.rsManufacturer);
    CloseIfOpen(manufacturer);
    // An ID that was never set is compared as empty text, not as NULL.
    manufacturer.Open(sql::kManufacturerNameById,
                      {s.sManuID.isNull() ? QStringLiteral("") : s.sManuID});

    db::Recordset& equipment = SessionRecordset(s.rsEquipment);
    CloseIfOpen(equipment);
    equipment.Open(sql::kEquipmentForAdding, {}, db::CursorType::kStatic,
                   db::LockType::kOptimistic);

    const QString type = TrimBlanks(s.sEquipType);
    equipment.AddNew();
    equipment.SetField("EquipmentName", s.sEquipName);
    equipment.SetField("EquipmentDescription", type);
    equipment.SetField("ManufacturerID", manufacturer.Field("ManufacturerID"));
    equipment.SetField("EquipmentType", type);
    equipment.UpdateBatch(db::kAffectAll);

    ctx.host.ProcessEvents();
    return RefusalReason::kNone;
}

QString CheckDuplicate(ImportContext& ctx) {
    SessionState& s = ctx.session;
    db::Recordset& manufacturer = SessionRecordset(s.rsManufacturer);
    db::Recordset& equipment = SessionRecordset(s.rsEquipment);

    const QString base = TrimBlanks(s.sEquipName);
    QString candidate = base;
    qint64 version = 0;
    for (;;) {
        CloseIfOpen(equipment);
        const QVariant manufacturerId = manufacturer.Field("ManufacturerID");
        equipment.Open(sql::kEquipmentByNameAndManufacturer, {candidate, manufacturerId},
                       db::CursorType::kStatic, db::LockType::kOptimistic);
        if (equipment.RecordCount() <= 0) {
            return candidate;
        }
        ++version;
        candidate = base + QStringLiteral("_v") + QString::number(version);
    }
}
