#include "records/manufacturer_resolution.h"

#include "core/session.h"
#include "core/text.h"
#include "records/connection.h"
#include "records/recordset.h"
#include "records/statements.h"

namespace {

std::shared_ptr<db::Recordset> NewRecordset(const QString& connection) {
    auto rs = std::make_shared<db::Recordset>();
    rs->setActiveConnection(connection);
    return rs;
}

// An ID that was never set is compared as empty text, not as NULL.
QVariant IdValue(const QString& id) {
    return id.isNull() ? QStringLiteral("") : id;
}

void OpenStaticOptimistic(db::Recordset& rs, const sql::Statement& statement,
                          const QVariantList& values = {}) {
    rs.Open(statement, values, db::CursorType::kStatic, db::LockType::kOptimistic);
}

}  // namespace

RefusalReason ResolveManufacturer(ImportContext& ctx, QString& manufacturerId) {
    SessionState& s = ctx.session;

    s.rsEquipment = NewRecordset(s.sEquipConnection);
    s.rsManufacturer = NewRecordset(s.sEquipConnection);
    s.rsInputs = NewRecordset(s.sEquipConnection);
    s.rsOutputs = NewRecordset(s.sEquipConnection);

    OpenStaticOptimistic(*s.rsManufacturer, sql::kManufacturerById, {IdValue(manufacturerId)});
    if (s.rsManufacturer->RecordCount() != 0) {
        // Found directly: the name shown in the "Added as " line is this manufacturer's own.
        s.sManuName = s.rsManufacturer->Field("ManufacturerName").toString();
    } else {
        if (ctx.host.Unattended()) {
            s.sManuName = manufacturerId;
            s.rsManufacturer->AddNew();
            s.rsManufacturer->SetField("ManufacturerID", TrimBlanks(manufacturerId));
            s.rsManufacturer->SetField("ManufacturerName", TrimBlanks(s.sManuName));
            s.rsManufacturer->SetField("DisplayInEquipment", QVariant(true));
            s.rsManufacturer->Update();
        } else {
            bool mapped = false;
            const std::size_t count = s.aManuMap.size();
            for (std::size_t i = 0; i < count; ++i) {
                const ManuMapEntry& entry = s.aManuMap[i];
                if (entry.sFileID == manufacturerId) {
                    manufacturerId = entry.sMapID;
                    s.sManuName = entry.sMapName;
                    mapped = true;
                    break;
                }
            }
            if (!mapped) {
                // The database is not held while the user chooses.
                const db::DeferredCommits::Paused paused;
                if (!ctx.host.SelectManufacturer(s)) {
                    return RefusalReason::kUnknownManufacturer;
                }
                if (s.bCancel) {
                    return RefusalReason::kUserCancelled;
                }
            }
        }
        if (s.rsManufacturer->State() == 1) {
            s.rsManufacturer->Close();
        }
        OpenStaticOptimistic(*s.rsManufacturer, sql::kResolvedManufacturer,
                             {IdValue(manufacturerId)});
    }

    OpenStaticOptimistic(*s.rsEquipment, sql::kEquipmentConsistencyCheck);
    if (s.rsEquipment->RecordCount() != 0) {
        db::DeferredCommits::Flush();
        ctx.host.MessageBox("Error initializing recordsets");
        return RefusalReason::kEquipmentNotStored;
    }
    return RefusalReason::kNone;
}
