#include "app/import_commands.h"

#include "app/platform.h"
#include "app/session.h"
#include "flx/reader.h"
#include "report/action_log.h"

namespace {

bool runActive = false;

// Marks a run as active for its whole life, however it ends.
class RunScope {
  public:
    explicit RunScope(ImportHost& host) : host_(host) {
        runActive = true;
        host_.SetRunActive(true);
    }
    ~RunScope() {
        host_.SetRunActive(false);
        runActive = false;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

  private:
    ImportHost& host_;
};

QString ProgressText(const QString& word, int index, const ImportHost& host) {
    return word + QString::number(index + 1) + QStringLiteral(" of ") +
           QString::number(host.FileCount()) + QStringLiteral(" files");
}

QString FullPath(const ImportHost& host, int index) {
    return platform::JoinPath(host.FileFolder(), host.FileName(index));
}

enum class Pass { kSelected, kAll };

void Run(ImportContext& ctx, Pass pass) {
    if (runActive) {
        return;
    }
    RunScope scope(ctx.host);
    SessionState& s = ctx.session;
    ImportHost& host = ctx.host;

    s.bCancel = false;
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
                return;
            }
            if (host.FileSelected(i)) {
                host.SetFileCountText(ProgressText(QStringLiteral("Processing "), i, host));
                ImportFile(ctx, FullPath(host, i));
                ++s.iParts;
            } else {
                host.SetFileCountText(ProgressText(QStringLiteral("Skipping "), i, host));
            }
            host.SetProgressValue(i + 1);
        } else {
            host.SetFileCountText(ProgressText(QStringLiteral("Processing "), i, host));
            if (s.bCancel) {
                return;
            }
            ImportFile(ctx, FullPath(host, i));
            host.SetProgressValue(i + 1);
            ++s.iParts;
        }
    }

    LogAction(ctx, QStringLiteral("Added [") + QString::number(s.iParts) +
                       QStringLiteral("] parts with a total of [") + QString::number(s.iInputs) +
                       QStringLiteral("] inputs and [") + QString::number(s.iOutputs) +
                       QStringLiteral("] outputs"));
    host.SetCancelEnabled(false);
}

}  // namespace

void cmdOne_Click(ImportContext& ctx) {
    Run(ctx, Pass::kSelected);
}

void cmdAll_Click(ImportContext& ctx) {
    Run(ctx, Pass::kAll);
}

void cmdCancel_Click(ImportContext& ctx) {
    if (ctx.host.AskYesNo(QStringLiteral("Are you sure you want to cancel?"))) {
        ctx.session.bCancel = true;
    }
}

bool RunInProgress() {
    return runActive;
}
