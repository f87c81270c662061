#pragma once

#include <QString>

#include "core/host.h"

// Reports one step of an import: the status label shows `text` without its tabs, the equipment
// label shows sManuID-sEquipName-sEquipType, and, while "Log Actions" is checked, `text` is
// appended to the report, whose window is shown the first time this happens.
// Taken by value: the status text is made from it in place, so a line of hundreds of
// megabytes is not copied once more.
void LogAction(ImportContext& ctx, QString text);
