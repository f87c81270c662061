#include "records/manufacturer_resolution.h"

#include "core/session.h"
#include "core/text.h"
#include "records/manufacturers.h"

namespace {

// The manufacturer `id` names, as this run knows the database's manufacturers: all of them are
// read at the run's first block. An ID written otherwise than the database writes it (in
// another letter case) is asked of the database, which compares by its own rules; unattended,
// not even that: adding it finds it too.
const SessionState::FoundManufacturer* Find(ImportContext& ctx, const QString& id) {
    SessionState& s = ctx.session;
    if (!s.manufacturersListed) {
        for (const db::ManufacturerRow& row : db::ListManufacturers(ctx.database)) {
            s.manufacturersFound.insert(row.id, {row.id, row.name});
        }
        s.manufacturersListed = true;
    }
    const auto known = s.manufacturersFound.constFind(id);
    if (known != s.manufacturersFound.constEnd()) {
        return &*known;
    }
    if (ctx.host.Unattended()) {
        return nullptr;
    }
    const std::optional<db::ManufacturerRow> found = db::FindManufacturer(ctx.database, id);
    if (!found) {
        return nullptr;
    }
    return &*s.manufacturersFound.insert(id, {found->id, found->name});
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
        const db::AddedManufacturer added = db::AddManufacturerUnlessPresent(
            ctx.database, TrimBlanks(manufacturerId), TrimBlanks(s.sManuName));
        if (!added.added) {  // there after all, as the database compares IDs
            s.sManuName = added.row.name;
        } else {
            s.manufacturersAdded.push_back({added.row.id, added.row.name});
        }
        s.manufacturersFound.insert(manufacturerId, {added.row.id, added.row.name});
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
