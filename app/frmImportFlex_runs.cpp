// The import window's preview, run records and undo (see frmImportFlex.h).
#include <QCheckBox>
#include <QJsonArray>
#include <QPushButton>
#include <QScopeGuard>

#include "app/frmImportFlex.h"
#include "app/run_record.h"
#include "app/run_undo.h"
#include "core/error.h"
#include "records/database.h"
#include "report/action_log.h"
#include "ui_frmImportFlex.h"

RunOutcome frmImportFlex::RunRecorded(RunOutcome (*command)(ImportContext&, RunObserver*),
                                      ImportContext& ctx) {
    if (ui_->chkPreview->isChecked()) {
        database_->BeginDryRun();
        RunOutcome run;
        {
            const auto giveBack = qScopeGuard([this] { database_->EndDryRun(); });
            run = command(ctx, nullptr);
        }
        if (run.started) {
            LogAction(ctx, QStringLiteral("Preview: nothing was stored"));
            // The dry run kept the SQLite file in its log mode to the end; now it goes back.
            if (const std::optional<AppError> left = database_->EndOfRun()) {
                MessageBox(ErrorWithSource(*left));
            }
        }
        return run;
    }
    RunRecorder recorder({QStringLiteral("importflx"),
                          QJsonObject{{"unattended", Unattended()}, {"map", QJsonArray()}},
                          [this](const QString& text) { MessageBox(text); }});
    const RunOutcome run = command(ctx, &recorder);
    // The manufacturers chosen in the selection dialog, which a resume by the batch tool, without
    // a dialog, takes as its --map.
    QJsonArray map;
    for (const ManuMapEntry& entry : session_.aManuMap) {
        if (!entry.sFileID.isEmpty() && !entry.sMapID.isEmpty()) {
            map.append(entry.sFileID + '=' + entry.sMapID);
        }
    }
    recorder.SetOptions(QJsonObject{{"unattended", Unattended()}, {"map", map}});
    const QString record = recorder.Finish(run, std::nullopt, run.cancelled);
    if (!record.isEmpty()) {
        lastRecord_ = record;
        ui_->cmdUndo->setEnabled(true);
    }
    return run;
}

void frmImportFlex::cmdUndo_Click() {
    if (session_.bRunActive || lastRecord_.isEmpty()) {
        return;
    }
    QString error;
    const std::optional<QJsonObject> record = LoadRecord(lastRecord_, error);
    if (!record) {
        ShowMessage(error);
        return;
    }
    if (!AskYesNo(UndoQuestion(*record))) {
        return;
    }
    const QString mismatch = DatabaseMismatch(*record, database_->connectionString());
    if (!mismatch.isEmpty()) {
        ShowMessage(QStringLiteral("The last import cannot be undone here: ") + mismatch + '.');
        return;
    }
    db::UndoResult result;
    try {
        result = UndoRecord(*database_, *record, false);
    } catch (const AppError& e) {
        ShowMessage(ErrorWithSource(e));
        return;
    }
    if (const std::optional<AppError> left = database_->EndOfRun()) {
        ShowMessage(ErrorWithSource(*left));
    }
    lastRecord_.clear();
    ui_->cmdUndo->setEnabled(false);
    ImportContext ctx{session_, *this, *database_};
    const QStringList lines = UndoLines(result, false);
    for (const QString& line : lines) {
        LogAction(ctx, line);
    }
    ShowMessage(lines.join('\n'));
}
