#include "app/import_commands.h"

#include <QScopeGuard>

#include "core/error.h"
#include "core/platform.h"
#include "core/session.h"
#include "flx/reader.h"
#include "records/database.h"
#include "report/action_log.h"

namespace {

// Marks a run as active for its whole life, however it ends.
class RunScope {
  public:
    explicit RunScope(ImportContext& ctx) : ctx_(ctx) {
        ctx_.session.bRunActive = true;
        ctx_.host.SetRunActive(true);
    }
    ~RunScope() {
        ctx_.host.SetRunActive(false);
        ctx_.session.bRunActive = false;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

  private:
    ImportContext& ctx_;
};

QString ProgressText(const QString& word, int index, const ImportHost& host) {
    return word + QString::number(index + 1) + QStringLiteral(" of ") +
           QString::number(host.FileCount()) + QStringLiteral(" files");
}

QString FullPath(const ImportHost& host, int index) {
    return platform::JoinPath(host.FileFolder(), host.FileName(index));
}

enum class Pass { kSelected, kAll };

// Hands entry `index` to the reader and tells the host how it ended.
void ImportEntry(ImportContext& ctx, int index, RunOutcome& run, RunObserver* observer) {
    const QString path = FullPath(ctx.host, index);
    const FileOutcome outcome = ImportFile(ctx, path);
    if (observer != nullptr) {
        observer->FileDone(ctx, outcome);
    }
    if (outcome.added()) {
        ++run.filesAdded;
    }
    // The server was waited for as long as a busy database; without it, every file after this
    // one would only fail again, each with its own message.
    if (outcome.status == FileStatus::kError && outcome.errorKind == ErrorKind::kConnectionLost) {
        run.stoppedBy = RunStop::kServerLost;
    }
    ctx.host.FileImported(index, path, outcome);
}

// Entry `index` of the run: imported, or skipped when the pass takes only the selected files.
// False when the run ends here: cancelled before the entry, or the server went away during it.
// The pass over every file shows "Processing" before it looks at the cancel; the pass over the
// selected files looks first, so that it never names a file it will not import.
bool VisitEntry(ImportContext& ctx, Pass pass, int index, RunOutcome& run, RunObserver* observer) {
    SessionState& s = ctx.session;
    ImportHost& host = ctx.host;
    const bool selectedOnly = pass == Pass::kSelected;
    if (!selectedOnly) {
        host.SetFileCountText(ProgressText(QStringLiteral("Processing "), index, host));
    }
    if (s.bCancel) {
        run.cancelled = true;
        return false;
    }
    if (selectedOnly && !host.FileSelected(index)) {
        host.SetFileCountText(ProgressText(QStringLiteral("Skipping "), index, host));
    } else {
        if (selectedOnly) {
            host.SetFileCountText(ProgressText(QStringLiteral("Processing "), index, host));
        }
        ImportEntry(ctx, index, run, observer);
        ++s.iParts;
    }
    host.SetProgressValue(index + 1);
    return run.stoppedBy == RunStop::kNone;
}

// The files of the run, up to its end, its cancel or a server that went away.
RunOutcome ImportFiles(ImportContext& ctx, Pass pass, RunObserver* observer) {
    RunOutcome run;
    run.started = true;
    SessionState& s = ctx.session;
    ImportHost& host = ctx.host;
    // The counters as they stand, whichever way the run ends.
    const auto counted = [&] {
        run.parts = s.iParts;
        run.inputs = s.iInputs;
        run.outputs = s.iOutputs;
        return run;
    };

    s.bCancel = false;
    s.ForgetManufacturers();
    s.manufacturersAdded.clear();
    host.SetCancelEnabled(true);
    const int n = host.FileCount();
    host.SetProgressMaximum(n);
    s.iParts = 0;
    s.iInputs = 0;
    s.iOutputs = 0;

    for (int i = 0; i < n; ++i) {
        host.ProcessEvents();
        if (!VisitEntry(ctx, pass, i, run, observer)) {
            return counted();
        }
    }

    LogAction(ctx, QStringLiteral("Added [") + QString::number(s.iParts) +
                       QStringLiteral("] parts with a total of [") + QString::number(s.iInputs) +
                       QStringLiteral("] inputs and [") + QString::number(s.iOutputs) +
                       QStringLiteral("] outputs"));
    host.SetCancelEnabled(false);
    return counted();
}

// The files a run is to import, in order.
QStringList RunPaths(const ImportHost& host, Pass pass) {
    QStringList paths;
    for (int i = 0; i < host.FileCount(); ++i) {
        if (pass == Pass::kAll || host.FileSelected(i)) {
            paths << FullPath(host, i);
        }
    }
    return paths;
}

RunOutcome Run(ImportContext& ctx, Pass pass, RunObserver* observer) {
    if (ctx.session.bRunActive) {
        return {};
    }
    RunScope scope(ctx);
    if (observer != nullptr) {
        observer->RunStarting(ctx, RunPaths(ctx.host, pass));
        ctx.session.deviceStored = [&ctx, observer](const StoredEquipment& equipment) {
            observer->DeviceStored(ctx, equipment);
        };
    }
    const auto unhook = qScopeGuard([&ctx] { ctx.session.deviceStored = nullptr; });
    const RunOutcome run = ImportFiles(ctx, pass, observer);
    // However the run ended, an SQLite file is left whole in its own journal mode, or the user
    // learns which file must stay beside it.
    if (const std::optional<AppError> left = ctx.database.EndOfRun()) {
        ctx.host.MessageBox(ErrorWithSource(*left));
    }
    return run;
}

}  // namespace

RunOutcome cmdOne_Click(ImportContext& ctx, RunObserver* observer) {
    return Run(ctx, Pass::kSelected, observer);
}

RunOutcome cmdAll_Click(ImportContext& ctx, RunObserver* observer) {
    return Run(ctx, Pass::kAll, observer);
}

void cmdCancel_Click(ImportContext& ctx) {
    if (ctx.host.AskYesNo(QStringLiteral("Are you sure you want to cancel?"))) {
        ctx.session.bCancel = true;
    }
}
