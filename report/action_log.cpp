#include "report/action_log.h"

#include "app/session.h"

void LogAction(ImportContext& ctx, const QString& text) {
    SessionState& s = ctx.session;
    if (ctx.host.LogActions()) {
        ctx.host.AppendReportLine(text);
        if (!s.bReportShown) {
            ctx.host.ShowReport();
            s.bReportShown = true;
        }
    }
    QString status = text;
    status.remove(QLatin1Char('\t'));
    ctx.host.SetStatus(status);
    ctx.host.SetEquipment(s.sManuID + '-' + s.sEquipName + '-' + s.sEquipType);
}
