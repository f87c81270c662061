#pragma once

#include <QString>

#include "core/host.h"
#include "core/outcome.h"

// Resolves `manufacturerId` (the caller passes sManuID) to a manufacturer of the database, before
// a block's rows are written:
//   - found directly by statement 1 (once per run; SessionState::manufacturersFound), keeping
//     the ID as given and taking the manufacturer's name into sManuName;
//   - not there, unattended: added with the ID and name both the ID without its blanks and
//     DisplayInEquipment True, under the lock that all importers take, unless another importer
//     added it meanwhile; sManuName becomes the ID;
//   - not there, attended: the first entry of aManuMap with this file ID, or else the selection
//     dialog, which may change sManuID and sManuName (or cancel).
// kNone: resolved; the ID held on return names the manufacturer (whose row may still be
// missing: a dialog closed by its frame, the empty entry of the map; storing the block then
// fails for the missing row). Otherwise why it failed: the user cancelled (bCancel set), or no
// dialog could resolve the ID. Database errors are raised.
RefusalReason ResolveManufacturer(ImportContext& ctx, QString& manufacturerId);
