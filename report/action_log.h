#pragma once

#include <QString>
#include <utility>

#include "core/host.h"

// Reports one step of an import: the status label shows `text` without its tabs, the equipment
// label shows sManuID-sEquipName-sEquipType, and, while "Log Actions" is checked, `text` is
// appended to the report, whose window is shown the first time this happens and again after the
// user closed it (the host then clears bReportShown).
// Taken by value: the status text is made from it in place, so a line of hundreds of
// megabytes is not copied once more.
void ShowActionLine(ImportContext& ctx, QString text);

// The same for a line given as text or as the pieces it is joined from (a QStringBuilder
// expression, a % b % c): the pieces are joined only when the line is shown somewhere, so a
// host that neither keeps a report nor shows labels pays nothing for it.
template <typename Line>
void LogAction(ImportContext& ctx, Line&& line) {
    if (ctx.host.LogActions() || ctx.host.ShowsLabels()) {
        ShowActionLine(ctx, QString(std::forward<Line>(line)));
    }
}
