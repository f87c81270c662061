#include "records/manufacturer_resolution.h"

#include "core/session.h"
#include "core/text.h"
#include "records/database.h"
#include "records/recordset.h"
#include "records/statements.h"

namespace {

// An ID that was never set is compared as empty text, not as NULL.
QVariant IdValue(const QString& id) {
    return id.isNull() ? QStringLiteral("") : id;
}

// The manufacturer `id` names, from this run's earlier finds or from statement 1; nothing when
// the database has none.
const SessionState::FoundManufacturer* Find(ImportContext& ctx, const QString& id) {
    auto found = ctx.session.manufacturersFound.constFind(id);
    if (found != ctx.session.manufacturersFound.constEnd()) {
        return &*found;
    }
    db::Recordset rsManufacturer;
    rsManufacturer.setActiveConnection(ctx.database);
    rsManufacturer.Open(sql::kManufacturerById, {IdValue(id)}, db::CursorType::kStatic,
                        db::LockType::kReadOnly);
    if (rsManufacturer.RecordCount() == 0) {
        return nullptr;
    }
    return &*ctx.session.manufacturersFound.insert(
        id, {rsManufacturer.Field("ManufacturerID").toString(),
             rsManufacturer.Field("ManufacturerName").toString()});
}

// Adds the manufacturer `id` unless it exists by now, in a unit of its own, so that two
// importers never add it twice.
void AddUnattended(ImportContext& ctx, const QString& id, const QString& name) {
    db::RunUnit(ctx.database, [&](db::Connection&) {
        db::Recordset rsManufacturer;
        rsManufacturer.setActiveConnection(ctx.database);
        rsManufacturer.Open(sql::kManufacturerById, {IdValue(id)}, db::CursorType::kStatic,
                            db::LockType::kOptimistic);
        if (rsManufacturer.RecordCount() != 0) {
            return;
        }
        rsManufacturer.AddNew();
        rsManufacturer.SetField(schema::kManufacturerID, TrimBlanks(id));
        rsManufacturer.SetField(schema::kManufacturerName, TrimBlanks(name));
        rsManufacturer.SetField(schema::kDisplayInEquipment, QVariant(true));
        rsManufacturer.Update();
    });
}

}  // namespace

RefusalReason ResolveManufacturer(ImportContext& ctx, QString& manufacturerId) {
    SessionState& s = ctx.session;
    if (const SessionState::FoundManufacturer* found = Find(ctx, manufacturerId)) {
        // Found directly: the name shown in the "Added as " line is this manufacturer's own.
        s.sManuName = found->name;
        return RefusalReason::kNone;
    }
    if (ctx.host.Unattended()) {
        s.sManuName = manufacturerId;
        AddUnattended(ctx, manufacturerId, s.sManuName);
        return RefusalReason::kNone;
    }
    for (const ManuMapEntry& entry : s.aManuMap) {
        if (entry.sFileID == manufacturerId) {
            manufacturerId = entry.sMapID;
            s.sManuName = entry.sMapName;
            return RefusalReason::kNone;
        }
    }
    if (!ctx.host.SelectManufacturer(s, ctx.database)) {
        return RefusalReason::kUnknownManufacturer;
    }
    return s.bCancel ? RefusalReason::kUserCancelled : RefusalReason::kNone;
}
