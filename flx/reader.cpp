#include "flx/reader.h"

#include <QFileInfo>
#include <QStringBuilder>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "flx/connector.h"
#include "flx/flx_format.h"
#include "records/connection.h"
#include "records/equipment.h"
#include "records/recordset.h"
#include "report/action_log.h"

namespace {

// A directory listing finds regular files that are neither hidden nor system files; on this
// platform a name starting with a dot is hidden.
bool FoundAsNormalFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

// Tells the window while the file waits for a database that another program holds, once the
// wait is long enough to notice (a turn among busy importers is shorter), and lets its Cancel
// end the wait.
class ReaderWaiter : public db::Waiter {
  public:
    static constexpr qint64 kTellAfterMs = 500;

    explicit ReaderWaiter(ImportContext& ctx) : ctx_(ctx) {}
    bool KeepWaiting(qint64 waitedMs) override {
        if (!shown_ && waitedMs >= kTellAfterMs) {
            shown_ = true;
            ctx_.host.WaitingForDatabase(true);
        }
        ctx_.host.ProcessEvents();
        return !ctx_.session.bCancel;
    }
    void WaitOver() override {
        if (shown_) {
            shown_ = false;
            ctx_.host.WaitingForDatabase(false);
        }
    }

  private:
    ImportContext& ctx_;
    bool shown_ = false;
};

// Reads `path` into `outcome`; everything but the error path. `marks` gets, for each stored
// equipment row, the commit mark at which it was written.
void ReadFile(ImportContext& ctx, const QString& path, FileOutcome& outcome,
              std::vector<std::uint64_t>& marks) {
    SessionState& s = ctx.session;
    if (!FoundAsNormalFile(path)) {
        ctx.host.MessageBox("no file in path: " + path);
    }
    flx::LineReader file(path);
    SectionState state = SectionState::kOutside;
    std::int64_t lineNumber = 0;
    while (!file.AtEnd()) {
        ctx.host.ProcessEvents();
        if (s.bCancel) {
            file.Close();
            db::DeferredCommits::Flush();
            outcome.status = FileStatus::kCancelled;
            return;
        }
        ++lineNumber;
        const QString line = file.ReadLine();
        if (line == flx::kStartDef) {
            state = SectionState::kDefinition;
            lineNumber = 0;
        } else if (line == flx::kStartBlk) {
            const QString fileManufacturerId = s.sManuID;
            const RefusalReason refused = AddEquipment(ctx);
            if (refused != RefusalReason::kNone) {
                file.Close();
                db::DeferredCommits::Flush();
                outcome.status = FileStatus::kRefused;
                // The reason agrees with the line the user reads.
                outcome.reason = s.bCancel ? RefusalReason::kUserCancelled : refused;
                LogAction(ctx, (s.bCancel ? QStringLiteral("Failed (user canceled) ")
                                          : QStringLiteral("Failed (unknown) ")) +
                                   path + QStringLiteral("\r\n"));
                return;
            }
            outcome.equipment.push_back(
                StoredEquipment{fileManufacturerId, s.sManuID, s.sManuName, s.sEquipName,
                                SessionRecordset(s.rsEquipment).Field("EquipmentID"), 0, 0});
            marks.push_back(db::DeferredCommits::Mark());
            state = SectionState::kBlock;
            lineNumber = 0;
        } else if (line == flx::kEndBlk) {
            state = SectionState::kOutside;
            lineNumber = 0;
        } else {
            const ConnectorRow row = ProcessLine(ctx, state, lineNumber, line);
            if (row != ConnectorRow::kNone) {
                ++(row == ConnectorRow::kInput ? outcome.equipment.back().inputs
                                               : outcome.equipment.back().outputs);
            }
        }
    }
    file.Close();
    db::DeferredCommits::Flush();
    LogAction(ctx, QLatin1String("Added ") % path % QLatin1String("\r\n"));
    // Built in one piece: a chain of + copies the whole text at every step, and a model name
    // may be hundreds of megabytes long.
    LogAction(ctx, QStringLiteral("Added as ") % s.sManuID % u' ' % s.sManuName % u' ' %
                       s.sEquipName % QStringLiteral("\r\n"));
}

}  // namespace

FileOutcome ImportFile(ImportContext& ctx, const QString& path) {
    FileOutcome outcome;
    std::vector<std::uint64_t> marks;
    const std::size_t lossesBefore = db::DeferredCommits::Losses();
    // One transaction per file, committed before the user is told anything about it; while
    // another program holds the database the window says so and Cancel still works.
    ReaderWaiter waiter(ctx);
    db::DeferredCommits deferred(&waiter);
    try {
        ReadFile(ctx, path, outcome, marks);
    } catch (const AppError& error) {
        // The file has been closed by the reader's destructor. Rows stored before the error
        // stay stored: they are committed before the message is shown.
        QString commitFailure;
        try {
            db::DeferredCommits::Flush();
        } catch (const AppError& commitError) {
            commitFailure = ErrorWithSource(commitError);
        }
        if (error.number() == ErrNo::kDbWaitCancelled && ctx.session.bCancel) {
            // Cancelled while waiting for the database: ended like any cancel, in silence.
            outcome.status = FileStatus::kCancelled;
        } else {
            outcome.status = FileStatus::kError;
            outcome.errorNumber = error.number();
            outcome.errorDescription = error.description();
            outcome.errorSource = error.source();
            ctx.host.MessageBox(ErrorWithSource(error));
        }
        if (!commitFailure.isEmpty()) {
            ctx.host.MessageBox(commitFailure);
        }
    }
    // Rows of a transaction that the store gave up are not stored, whatever was logged.
    if (db::DeferredCommits::Losses() > lossesBefore) {
        const std::uint64_t lost = db::DeferredCommits::LastLossMark();
        std::size_t kept = 0;
        while (kept < marks.size() && marks[kept] < lost) {
            ++kept;
        }
        outcome.equipment.resize(kept);
    }
    return outcome;
}

ConnectorRow ProcessLine(ImportContext& ctx, SectionState state, std::int64_t lineNumber,
                         const QString& line) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return ConnectorRow::kNone;
    }
    switch (state) {
        case SectionState::kDefinition:
            if (lineNumber == 1) {
                s.sManuID = TrimBlanks(line);
                LogAction(ctx, QLatin1String("ManufacturerID: \t") % line);
            } else if (lineNumber == 2) {
                s.sEquipName = TrimBlanks(line);
                LogAction(ctx, QLatin1String("Model: \t\t") % line);
            } else if (lineNumber == 3) {
                s.sEquipType = TrimBlanks(line);
                LogAction(ctx, QLatin1String("Type: \t\t") % line);
            }
            break;
        case SectionState::kBlock:
            if (lineNumber >= 2) {
                return AddConnector(ctx, line);
            }
            break;
        case SectionState::kOutside:
            break;
    }
    return ConnectorRow::kNone;
}
