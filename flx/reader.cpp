#include "flx/reader.h"

#include <QFileInfo>
#include <QStringBuilder>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "flx/connector.h"
#include "records/database.h"
#include "records/equipment.h"
#include "report/action_log.h"

namespace {

// A directory listing finds regular files that are neither hidden nor system files; on this
// platform a name starting with a dot is hidden.
bool FoundAsNormalFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

// Tells the window while the file waits for a database that another program holds, once the
// wait is long enough to notice (a turn among busy importers is shorter), or for a server that
// went away, at once; and lets its Cancel end the wait.
class ReaderWaiter : public db::Waiter {
  public:
    static constexpr qint64 kTellAfterMs = 500;

    explicit ReaderWaiter(ImportContext& ctx) : ctx_(ctx) {}
    bool KeepWaiting(qint64 waitedMs, DatabaseWait what) override {
        if (!shown_ && (waitedMs >= kTellAfterMs || what == DatabaseWait::kServerGone)) {
            shown_ = what;
            ctx_.host.WaitingForDatabase(true, what);
        }
        ctx_.host.ProcessEvents();
        return !ctx_.session.bCancel;
    }
    void WaitOver() override {
        if (shown_) {
            ctx_.host.WaitingForDatabase(false, *shown_);
            shown_.reset();
        }
    }

  private:
    ImportContext& ctx_;
    std::optional<DatabaseWait> shown_;
};

// Lets the window's events run and tells whether the run goes on.
bool NextLine(ImportContext& ctx) {
    ctx.host.ProcessEvents();
    return !ctx.session.bCancel;
}

// Walks one file's sections; everything but the error path.
class FileImport {
  public:
    FileImport(ImportContext& ctx, const QString& path, FileOutcome& outcome)
        : ctx_(ctx), s_(ctx.session), path_(path), outcome_(outcome) {}

    void Run() {
        if (!FoundAsNormalFile(path_)) {
            ctx_.host.MessageBox("no file in path: " + path_);
        }
        const std::optional<flx::File> file =
            flx::ReadFile(path_, [this] { return NextLine(ctx_); });
        if (!file) {
            outcome_.status = FileStatus::kCancelled;
            return;
        }
        for (const flx::Section& section : file->sections) {
            const bool goesOn = section.kind == flx::Section::Kind::kDefinition
                                    ? Definition(section)
                                    : Block(section);
            if (!goesOn) {
                return;
            }
        }
        if (file->error) {
            throw *file->error;
        }
        LogAction(ctx_, QLatin1String("Added ") % path_ % QLatin1String("\r\n"));
        // Built in one piece: a chain of + copies the whole text at every step, and a model name
        // may be hundreds of megabytes long.
        LogAction(ctx_, QStringLiteral("Added as ") % s_.sManuID % u' ' % s_.sManuName % u' ' %
                            s_.sEquipName % QStringLiteral("\r\n"));
    }

  private:
    // False when the file ends here (a cancel); the outcome says so.
    bool Cancelled() {
        if (NextLine(ctx_)) {
            return false;
        }
        outcome_.status = FileStatus::kCancelled;
        return true;
    }

    bool Definition(const flx::Section& section) {
        if (Cancelled()) {
            return false;
        }
        for (const flx::HeaderLine& line : section.header) {
            if (Cancelled()) {
                return false;
            }
            ProcessLine(ctx_, line);
        }
        return true;
    }

    // Logs the connector lines [0, end) of `section`.
    void LogConnectors(const flx::Section& section, std::size_t end) {
        for (std::size_t i = 0; i < end && i < section.connectors.size(); ++i) {
            AddConnector(ctx_, section.connectors[i].fields);
        }
    }

    bool Refused(RefusalReason reason) {
        outcome_.status = FileStatus::kRefused;
        // The reason agrees with the line the user reads.
        outcome_.reason = s_.bCancel ? RefusalReason::kUserCancelled : reason;
        LogAction(ctx_, (s_.bCancel ? QStringLiteral("Failed (user canceled) ")
                                    : QStringLiteral("Failed (unknown) ")) %
                            path_ % QStringLiteral("\r\n"));
        return false;
    }

    // The block's rows, read line by line as the window's Cancel may stop the reading; `lineOf`
    // keeps the connector line of each row. False when cancelled (the lines before are logged).
    bool ReadRows(const flx::Section& section, std::vector<db::ConnectorRow>& rows,
                  std::vector<std::size_t>& lineOf) {
        for (std::size_t i = 0; i < section.connectors.size(); ++i) {
            if (Cancelled()) {
                LogConnectors(section, i);
                return false;
            }
            if (std::optional<db::ConnectorRow> row =
                    ConnectorRowOf(section.connectors[i].fields)) {
                rows.push_back(std::move(*row));
                lineOf.push_back(i);
            }
        }
        return true;
    }

    bool Block(const flx::Section& section) {
        if (Cancelled()) {
            return false;
        }
        const QString fileManufacturerId = s_.sManuID;
        const RefusalReason refused = AddEquipment(ctx_);
        if (refused != RefusalReason::kNone) {
            return Refused(refused);
        }
        std::vector<db::ConnectorRow> rows;
        std::vector<std::size_t> lineOf;
        if (!ReadRows(section, rows, lineOf)) {
            return false;
        }
        if (!section.complete) {  // the file's reading failed in this block: nothing of it
            LogConnectors(section, section.connectors.size());
            return true;
        }
        const std::size_t rowCount = rows.size();
        const db::DeviceResult result = StoreEquipment(ctx_, std::move(rows));
        switch (result.status) {
            case db::DeviceResult::Status::kInconsistent:
                return Refused(RefusalReason::kEquipmentNotStored);
            case db::DeviceResult::Status::kFailed: {
                // The lines up to the failing row's, as writing row by row would have logged them.
                const std::size_t end = result.failedConnector < 0 ? 0
                                        : std::size_t(result.failedConnector) >= rowCount
                                            ? section.connectors.size()
                                            : lineOf[result.failedConnector] + 1;
                LogConnectors(section, end);
                throw *result.error;
            }
            case db::DeviceResult::Status::kStored:
                break;
        }
        if (result.foundAfterLoss) {
            LogAction(ctx_,
                      QStringLiteral("The connection to the database server was lost while ") %
                          s_.sEquipName %
                          QStringLiteral(" was committed; it was found stored once the "
                                         "server was back.\r\n"));
        }
        outcome_.equipment.push_back(StoredEquipment{
            fileManufacturerId, s_.sManuID, s_.sManuName, s_.sEquipName, result.equipmentId,
            result.inputs, result.outputs, result.storedRows, result.foundAfterLoss});
        if (s_.deviceStored) {
            s_.deviceStored(outcome_.equipment.back());
        }
        LogConnectors(section, section.connectors.size());
        return true;
    }

    ImportContext& ctx_;
    SessionState& s_;
    const QString& path_;
    FileOutcome& outcome_;
};

}  // namespace

FileOutcome ImportFile(ImportContext& ctx, const QString& path) {
    FileOutcome outcome;
    // While another program holds the database the window says so and Cancel still works.
    ReaderWaiter waiter(ctx);
    const db::WaitingScope waiting(ctx.database, &waiter);
    try {
        FileImport(ctx, path, outcome).Run();
    } catch (const AppError& error) {
        if (error.kind() == ErrorKind::kCancelled && ctx.session.bCancel) {
            // Cancelled while waiting for the database: ended like any cancel, in silence.
            outcome.status = FileStatus::kCancelled;
        } else {
            outcome.status = FileStatus::kError;
            outcome.errorKind = error.kind();
            outcome.errorNumber = error.number();
            outcome.errorDescription = error.description();
            outcome.errorSource = error.source();
            ctx.host.MessageBox(ErrorWithSource(error));
        }
    }
    return outcome;
}

void ProcessLine(ImportContext& ctx, const flx::HeaderLine& line) {
    SessionState& s = ctx.session;
    if (s.bCancel) {
        return;
    }
    switch (line.field) {
        case flx::HeaderField::kManufacturerId:
            s.sManuID = TrimBlanks(line.text);
            LogAction(ctx, QLatin1String("ManufacturerID: \t") % line.text);
            break;
        case flx::HeaderField::kModel:
            s.sEquipName = TrimBlanks(line.text);
            LogAction(ctx, QLatin1String("Model: \t\t") % line.text);
            break;
        case flx::HeaderField::kType:
            s.sEquipType = TrimBlanks(line.text);
            LogAction(ctx, QLatin1String("Type: \t\t") % line.text);
            break;
    }
}
