#include "records/equipment.h"

#include "core/session.h"
#include "core/text.h"
#include "records/manufacturer_resolution.h"

RefusalReason AddEquipment(ImportContext& ctx) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return RefusalReason::kUserCancelled;
    }
    const RefusalReason refused = ResolveManufacturer(ctx, s.sManuID);
    if (refused != RefusalReason::kNone && !s.bCancel) {
        ctx.host.MessageBox("unable to initialize recordset");
    }
    return refused;
}

db::DeviceResult StoreEquipment(ImportContext& ctx, std::vector<db::ConnectorRow> connectors) {
    SessionState& s = ctx.session;
    const QString type = TrimBlanks(s.sEquipType);
    db::DeviceResult result = db::StoreDevice(
        ctx.database, db::DeviceBatch{s.sManuID.isNull() ? QStringLiteral("") : s.sManuID,
                                      s.sEquipName, type, std::move(connectors)});
    if (result.name) {
        s.sEquipName = *result.name;
    }
    if (result.status == db::DeviceResult::Status::kInconsistent) {
        ctx.host.MessageBox("Error initializing recordsets");
        ctx.host.MessageBox("unable to initialize recordset");
    }
    return result;
}
