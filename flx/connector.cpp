#include "flx/connector.h"

#include <QStringBuilder>

#include "core/error.h"
#include "core/session.h"
#include "flx/flx_format.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "report/action_log.h"

ConnectorRow AddConnector(ImportContext& ctx, const QString& line) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return ConnectorRow::kNone;
    }
    flx::ConnectorFields fields = flx::CutConnectorLine(line);
    s.sType = std::move(fields.type);
    s.sSig = std::move(fields.sig);
    s.sConn = std::move(fields.conn);
    s.sName = std::move(fields.name);

    LogAction(ctx, QLatin1String("IOType = ") % s.sType % QLatin1String("\t Sig = ") % s.sSig %
                       QLatin1String("\t Conn = ") % s.sConn % QLatin1String("\t Name = \t") %
                       s.sName);

    const sql::Statement* statement = nullptr;
    QString pinType;
    db::Recordset* target = nullptr;
    if (s.sType == flx::kCodeInput) {
        pinType = flx::kPinNormal;
        ++s.iInputs;
        statement = &sql::kInsertInput;
        target = &SessionRecordset(s.rsInputs);
    } else if (s.sType == flx::kCodeLoop) {
        ++s.iInputs;
        pinType = flx::kPinLoop;
        statement = &sql::kInsertInput;
        target = &SessionRecordset(s.rsInputs);
    } else if (s.sType == flx::kCodeOutput) {
        ++s.iOutputs;
        pinType = flx::kPinNormal;
        statement = &sql::kInsertOutput;
        target = &SessionRecordset(s.rsOutputs);
    } else {
        return ConnectorRow::kNone;
    }
    const QVariant equipmentId = SessionRecordset(s.rsEquipment).Field("EquipmentID");
    target->Open(*statement, {equipmentId, s.sName, s.sSig, s.sConn, pinType});
    return statement == &sql::kInsertOutput ? ConnectorRow::kOutput : ConnectorRow::kInput;
}
