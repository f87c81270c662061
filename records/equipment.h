#pragma once

#include <vector>

#include "core/host.h"
#include "core/outcome.h"
#include "records/device.h"

// The two halves of a block's equipment. At the block's start, AddEquipment resolves its
// manufacturer: kNone when resolved; otherwise why the block is refused (cancelled, or no
// manufacturer could be chosen; "unable to initialize recordset" is shown unless the user
// cancelled). Database errors are raised.
RefusalReason AddEquipment(ImportContext& ctx);

// Once the block's connector lines are read, StoreEquipment stores its equipment row (sManuID's
// manufacturer, the first free version of sEquipName, the trimmed sEquipType as type and
// description) with `connectors`, whole or not at all (db::StoreDevice). sEquipName becomes the
// name chosen for the row. A database holding equipment of "JonkyWonderBoy" refuses every block:
// "Error initializing recordsets" and "unable to initialize recordset" are shown.
db::DeviceResult StoreEquipment(ImportContext& ctx, std::vector<db::ConnectorRow> connectors);
