#include "app/import_commands.h"

#include "core/platform.h"
#include "core/session.h"
#include "flx/reader.h"
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
void ImportEntry(ImportContext& ctx, int index, RunOutcome& run) {
    const QString path = FullPath(ctx.host, index);
    const FileOutcome outcome = ImportFile(ctx, path);
    if (outcome.added()) {
        ++run.filesAdded;
    }
    ctx.host.FileImported(index, path, outcome);
}

RunOutcome Run(ImportContext& ctx, Pass pass) {
    RunOutcome run;
    if (ctx.session.bRunActive) {
        return run;
    }
    run.started = true;
    RunScope scope(ctx);
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
    host.SetCancelEnabled(true);
    const int n = host.FileCount();
    host.SetProgressMaximum(n);
    s.iParts = 0;
    s.iInputs = 0;
    s.iOutputs = 0;

    for (int i = 0; i < n; ++i) {
        host.ProcessEvents();
        if (pass == Pass::kSelected) {
            if (s.bCancel) {
                run.cancelled = true;
                return counted();
            }
            if (host.FileSelected(i)) {
                host.SetFileCountText(ProgressText(QStringLiteral("Processing "), i, host));
                ImportEntry(ctx, i, run);
                ++s.iParts;
            } else {
                host.SetFileCountText(ProgressText(QStringLiteral("Skipping "), i, host));
            }
            host.SetProgressValue(i + 1);
        } else {
            host.SetFileCountText(ProgressText(QStringLiteral("Processing "), i, host));
            if (s.bCancel) {
                run.cancelled = true;
                return counted();
            }
            ImportEntry(ctx, i, run);
            host.SetProgressValue(i + 1);
            ++s.iParts;
        }
    }

    LogAction(ctx, QStringLiteral("Added [") + QString::number(s.iParts) +
                       QStringLiteral("] parts with a total of [") + QString::number(s.iInputs) +
                       QStringLiteral("] inputs and [") + QString::number(s.iOutputs) +
                       QStringLiteral("] outputs"));
    host.SetCancelEnabled(false);
    return counted();
}

}  // namespace

RunOutcome cmdOne_Click(ImportContext& ctx) {
    return Run(ctx, Pass::kSelected);
}

RunOutcome cmdAll_Click(ImportContext& ctx) {
    return Run(ctx, Pass::kAll);
}

void cmdCancel_Click(ImportContext& ctx) {
    if (ctx.host.AskYesNo(QStringLiteral("Are you sure you want to cancel?"))) {
        ctx.session.bCancel = true;
    }
}
