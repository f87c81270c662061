#pragma once

#include <QString>

#include "app/host.h"

// Reports one step of an import: the status label shows `text` without its tabs, the equipment
// label shows sManuID-sEquipName-sEquipType, and, while "Log Actions" is checked, `text` is
// appended to the report, whose window is shown the first time this happens.
void LogAction(ImportContext& ctx, const QString& text);
