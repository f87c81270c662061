#include "report/action_log.h"

#include <QStringBuilder>

#include "core/session.h"

void ShowActionLine(ImportContext& ctx, QString text) {
    SessionState& s = ctx.session;
    if (ctx.host.LogActions()) {
        ctx.host.AppendReportLine(text);
        if (!s.bReportShown) {
            ctx.host.ShowReport();
            s.bReportShown = true;
        }
    }
    if (!ctx.host.ShowsLabels()) {
        return;
    }
    text.remove(QLatin1Char('\t'));
    ctx.host.SetStatus(text);
    text.clear();
    // Built in one piece: a chain of + copies the whole text at every step.
    ctx.host.SetEquipment(s.sManuID % u'-' % s.sEquipName % u'-' % s.sEquipType);
}
