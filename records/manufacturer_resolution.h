#pragma once

#include <QString>
#include <vector>

#include "app/host.h"

// One remembered choice of the selection dialog: a manufacturer ID as a file gave it, and the
// database manufacturer the user chose for it.
struct ManuMapEntry {
    QString sFileID;
    QString sMapName;
    QString sMapID;
};

// The program-wide table of choices. The import window's load sizes it to one entry (index 0,
// empty texts); "Done" in the selection dialog appends; nothing else changes it.
extern std::vector<ManuMapEntry> aManuMap;

// Replaces the four session recordsets by new ones and resolves `manufacturerId` (the caller
// passes sManuID) to a manufacturer of the database: found directly, added unattended, mapped
// through aManuMap, or chosen in the selection dialog. True: rsManufacturer is open on the
// result for the ID held on return, rsEquipment on the empty consistency result. False: the
// user cancelled (bCancel set), no dialog could resolve it, or the consistency check failed
// (its message shown). Database errors are raised.
bool ResolveManufacturer(ImportContext& ctx, QString& manufacturerId);
