#pragma once

#include <QString>

#include "core/host.h"
#include "core/outcome.h"

// Creates the equipment row of a block: resolves the manufacturer, finds a free model name and
// adds the row, which stays the current row of rsEquipment. kNone when the row was committed;
// otherwise why none was added (cancelled, or resolution failed). Database errors are raised.
RefusalReason AddEquipment(ImportContext& ctx);

// The first of base, base_v1, base_v2, ... (base: sEquipName without blanks at both ends) under
// which the manufacturer on the current row of rsManufacturer has no equipment row.
QString CheckDuplicate(ImportContext& ctx);
