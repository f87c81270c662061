#pragma once

#include <QString>

#include "core/host.h"
#include "core/outcome.h"

// Replaces the four session recordsets by new ones and resolves `manufacturerId` (the caller
// passes sManuID) to a manufacturer of the database: found directly, added unattended, mapped
// through the session's aManuMap, or chosen in the selection dialog.
// kNone: rsManufacturer is open on the result for the ID held on return, rsEquipment on the
// empty consistency result. Otherwise why it failed: the user cancelled (bCancel set), no
// dialog could resolve the ID, or the consistency check failed (its message shown).
// Database errors are raised.
RefusalReason ResolveManufacturer(ImportContext& ctx, QString& manufacturerId);
