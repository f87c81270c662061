#include "flx/reader.h"

#include <QFileInfo>
#include <QStringBuilder>

#include "app/error.h"
#include "app/session.h"
#include "flx/connector.h"
#include "flx/flx_format.h"
#include "records/connection.h"
#include "records/equipment.h"
#include "report/action_log.h"

namespace {

// A directory listing finds regular files that are neither hidden nor system files; on this
// platform a name starting with a dot is hidden.
bool FoundAsNormalFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

// The error path's text: number, description and source, separated by one blank.
QString Describe(const AppError& error) {
    return QString::number(error.number()) + ' ' + error.description() + ' ' + error.source();
}

}  // namespace

void ImportFile(ImportContext& ctx, const QString& path) {
    SessionState& s = ctx.session;
    // One transaction per file, committed before the user is told anything about it.
    db::DeferredCommits deferred;
    try {
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
                return;
            }
            ++lineNumber;
            const QString line = file.ReadLine();
            if (line == flx::kStartDef) {
                state = SectionState::kDefinition;
                lineNumber = 0;
            } else if (line == flx::kStartBlk) {
                if (!AddEquipment(ctx)) {
                    file.Close();
                    db::DeferredCommits::Flush();
                    LogAction(ctx, (s.bCancel ? QStringLiteral("Failed (user canceled) ")
                                              : QStringLiteral("Failed (unknown) ")) +
                                       path + QStringLiteral("\r\n"));
                    return;
                }
                state = SectionState::kBlock;
                lineNumber = 0;
            } else if (line == flx::kEndBlk) {
                state = SectionState::kOutside;
                lineNumber = 0;
            } else {
                ProcessLine(ctx, state, lineNumber, line);
            }
        }
        file.Close();
        db::DeferredCommits::Flush();
        LogAction(ctx, QStringLiteral("Added ") + path + QStringLiteral("\r\n"));
        // Built in one piece: a chain of + copies the whole text at every step, and a model
        // name may be hundreds of megabytes long.
        LogAction(ctx, QStringLiteral("Added as ") % s.sManuID % u' ' % s.sManuName % u' ' %
                           s.sEquipName % QStringLiteral("\r\n"));
    } catch (const AppError& error) {
        // The file has been closed by the reader's destructor. Rows stored before the error
        // stay stored: they are committed before the message is shown.
        QString commitFailure;
        try {
            db::DeferredCommits::Flush();
        } catch (const AppError& commitError) {
            commitFailure = Describe(commitError);
        }
        ctx.host.MessageBox(Describe(error));
        if (!commitFailure.isEmpty()) {
            ctx.host.MessageBox(commitFailure);
        }
    }
}

void ProcessLine(ImportContext& ctx, SectionState state, std::int64_t lineNumber,
                 const QString& line) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return;
    }
    switch (state) {
        case SectionState::kDefinition:
            if (lineNumber == 1) {
                s.sManuID = TrimBlanks(line);
                LogAction(ctx, QStringLiteral("ManufacturerID: \t") + line);
            } else if (lineNumber == 2) {
                s.sEquipName = TrimBlanks(line);
                LogAction(ctx, QStringLiteral("Model: \t\t") + line);
            } else if (lineNumber == 3) {
                s.sEquipType = TrimBlanks(line);
                LogAction(ctx, QStringLiteral("Type: \t\t") + line);
            }
            break;
        case SectionState::kBlock:
            if (lineNumber >= 2) {
                AddConnector(ctx, line);
            }
            break;
        case SectionState::kOutside:
            break;
    }
}
