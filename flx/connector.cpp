#include "flx/connector.h"

#include <QStringBuilder>

#include "core/session.h"
#include "report/action_log.h"

std::optional<db::ConnectorRow> ConnectorRowOf(const flx::ConnectorFields& fields) {
    db::ConnectorRow row;
    if (fields.type == flx::kCodeInput) {
        row.table = db::ConnectorTable::kInputs;
        row.pinType = flx::kPinNormal;
    } else if (fields.type == flx::kCodeLoop) {
        row.table = db::ConnectorTable::kInputs;
        row.pinType = flx::kPinLoop;
    } else if (fields.type == flx::kCodeOutput) {
        row.table = db::ConnectorTable::kOutputs;
        row.pinType = flx::kPinNormal;
    } else {
        return std::nullopt;
    }
    row.name = fields.name;
    row.type = fields.sig;
    row.conn = fields.conn;
    return row;
}

bool AddConnector(ImportContext& ctx, const flx::ConnectorFields& fields) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return false;
    }
    s.sType = fields.type;
    s.sSig = fields.sig;
    s.sConn = fields.conn;
    s.sName = fields.name;
    LogAction(ctx, QLatin1String("IOType = ") % s.sType % QLatin1String("\t Sig = ") % s.sSig %
                       QLatin1String("\t Conn = ") % s.sConn % QLatin1String("\t Name = \t") %
                       s.sName);
    if (s.sType == flx::kCodeInput || s.sType == flx::kCodeLoop) {
        ++s.iInputs;
        return true;
    }
    if (s.sType == flx::kCodeOutput) {
        ++s.iOutputs;
        return true;
    }
    return false;
}
