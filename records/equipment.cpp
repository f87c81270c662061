#include "records/equipment.h"

#include <algorithm>
#include <vector>

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
    const QVariant manufacturerId = manufacturer.Field("ManufacturerID");
    const auto name = [&base](qint64 version) {
        return version == 0 ? base : base + QStringLiteral("_v") + QString::number(version);
    };
    db::Connection& connection = db::Connection::ForString(equipment.activeConnection());
    connection.HoldManufacturer(manufacturerId);

    // The versions that the manufacturer's names already take, as the database compares them,
    // in one query: the first free one in the walk base, base_v1, base_v2, ... is found
    // without asking for each name in turn.
    std::vector<qint64> taken;
    if (connection.dialect().ListsVersions()) {
        CloseIfOpen(equipment);
        const qint64 digits = base.toUcs4().size() + 3;
        equipment.Open(sql::kEquipmentVersionsTaken,
                       {base, digits, base, digits, digits, manufacturerId, base,
                        base + QStringLiteral("_v"), base + QStringLiteral("_w")},
                       db::CursorType::kStatic, db::LockType::kReadOnly);
        for (; !equipment.IsEOF(); equipment.MoveNext()) {
            taken.push_back(equipment.Field("n").toLongLong());
        }
        std::sort(taken.begin(), taken.end());
    }
    // The first version not taken, confirmed where needed by the walk's own test of one name:
    // a name that the database finds taken after all (by a comparison the query could not
    // foresee) sends the walk on to the next version, as the walk itself would go.
    qint64 version = 0;
    auto next = taken.begin();
    for (;;) {
        while (next != taken.end() && *next < version) {
            ++next;
        }
        if (next != taken.end() && *next == version) {
            ++version;
            continue;
        }
        if (connection.dialect().VersionsAreExact()) {
            return name(version);
        }
        CloseIfOpen(equipment);
        equipment.Open(sql::kEquipmentByNameAndManufacturer, {name(version), manufacturerId},
                       db::CursorType::kStatic, db::LockType::kOptimistic);
        if (equipment.RecordCount() <= 0) {
            return name(version);
        }
        ++version;
    }
}
