#include "app/batch_host.h"

#include <csignal>

#include <QFileInfo>

#include "core/platform.h"

namespace {

// Standard output is written in chunks of about this size while a run goes on.
constexpr qsizetype kOutChunk = 16 * 1024;

// Returns to the start of the terminal line and erases it.
constexpr const char* kEraseLine = "\r\x1b[K";

// While a file is read, the progress line is redrawn at most this often.
constexpr qint64 kRedrawMs = 500;

std::vector<std::int64_t> FileSizes(const QStringList& files) {
    std::vector<std::int64_t> sizes;
    sizes.reserve(files.size());
    for (const QString& file : files) {
        sizes.push_back(QFileInfo(file).size());
    }
    return sizes;
}

bool IsControl(char16_t unit) {
    return (unit < 0x20 && unit != '\t' && unit != '\n') || (unit >= 0x7f && unit < 0xa0);
}

}  // namespace

QByteArray Encode(QStringView text, bool terminal) {
    QString copy = text.toString();
    copy.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (terminal) {
        for (QChar& ch : copy) {
            const char16_t unit = ch.unicode();
            if (IsControl(unit)) {
                ch = unit < 0x20    ? QChar(0x2400 + unit)
                     : unit == 0x7f ? QChar(0x2421)
                                    : QChar(0xfffd);
            }
        }
    }
    return copy.toUtf8();
}

BatchHost::BatchHost(SessionState& session, const BatchOptions& options, std::FILE* out,
                     std::FILE* err)
    : session_(session),
      unattended_(options.unattended),
      quiet_(options.quiet),
      keepReport_(!options.reportPath.isEmpty()),
      files_(options.files),
      out_(out),
      err_(err),
      outTerminal_(platform::IsTerminal(out)),
      progressEnabled_(!options.noProgress && platform::IsTerminal(err)),
      figures_(progressEnabled_ ? FileSizes(options.files) : std::vector<std::int64_t>()),
      results_(options.files.size()) {
    // The report on standard output would break the JSON document there.
    quiet_ = quiet_ || JsonOutput(options.jsonPath).toStandardOutput();
    clock_.start();
}

BatchHost::~BatchHost() {
    Finish();
}

void BatchHost::AppendReportLine(const QString& line) {
    if (keepReport_) {
        reportLines_ << line;
    }
    if (quiet_) {
        return;
    }
    // A line may be hundreds of megabytes long: it is encoded and written piece by piece.
    const QStringView text(line);
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = std::min(text.size(), start + kOutChunk);
        // A CR LF pair and a surrogate pair stay in one piece.
        if (end < text.size() && (text[end - 1] == u'\r' || text[end - 1].isHighSurrogate())) {
            ++end;
        }
        outBuffer_ += Encode(text.mid(start, end - start), outTerminal_);
        start = end;
        if (outBuffer_.size() >= kOutChunk) {
            FlushOut();
        }
    }
    outBuffer_ += '\n';
    if (outBuffer_.size() >= kOutChunk) {
        FlushOut();
    }
}

void BatchHost::MessageBox(const QString& text) {
    failed_ = true;
    fileMessages_ << text;
    Error(text);
}

bool BatchHost::AskYesNo(const QString& text) {
    Error(text);
    return false;
}

bool BatchHost::SelectManufacturer(SessionState& session, db::Database&) {
    failed_ = true;
    const QString text =
        QStringLiteral(
            "manufacturer ID \"%1\" is not in the database and not mapped; use "
            "--unattended to add it, or --map %1=DBID to import it under an existing "
            "manufacturer")
            .arg(session.sManuID);
    fileMessages_ << text;
    Error("importflx-batch: " + text);
    return false;
}

void BatchHost::ProcessEvents() {
    if (platform::InterruptArrived()) {
        session_.bCancel = true;
    }
    // Keeps the clock on the progress line going while a long file is read.
    if (progressShown_ && clock_.elapsed() - drawnAt_ >= kRedrawMs) {
        DrawProgress();
    }
}

void BatchHost::FileImported(int index, const QString& /*path*/, const FileOutcome& outcome) {
    // The tests' way to kill a run at a point they choose: SIGKILL after this many files.
    static const int killAfter = qEnvironmentVariableIntValue("IMPORTFLX_TEST_KILL_AFTER_FILES");
    if (killAfter > 0 && index + 1 >= killAfter) {
        std::raise(SIGKILL);
    }
    if (!outcome.added()) {
        failed_ = true;
    }
    std::int64_t rows = 0;
    for (const StoredEquipment& equipment : outcome.equipment) {
        rows += 1 + equipment.inputs + equipment.outputs;
    }
    figures_.FileDone(index, rows);
    results_.at(index) = BatchFileResult{outcome, fileMessages_};
    fileMessages_.clear();
}

void BatchHost::WaitingForDatabase(bool waiting, DatabaseWait what) {
    if (waiting) {
        Error(QString::fromLatin1(what == DatabaseWait::kServerGone ? kWaitingForServer
                                                                    : kWaitingForDatabase));
    }
}

void BatchHost::SetFileCountText(const QString& text) {
    if (progressEnabled_) {
        progressText_ = text;
        FlushOut();
        DrawProgress();
    }
}

void BatchHost::Error(const QString& text) {
    FlushOut();
    const bool redraw = progressShown_;
    EraseProgress();
    WriteErr(Encode(text, progressEnabled_) + '\n');
    if (redraw) {
        DrawProgress();
    }
}

void BatchHost::Finish() {
    FlushOut();
    EraseProgress();
}

bool BatchHost::AllFilesAdded() const {
    if (failed_) {
        return false;
    }
    for (const BatchFileResult& result : results_) {
        if (!result.outcome || !result.outcome->added()) {
            return false;
        }
    }
    return true;
}

void BatchHost::FlushOut() {
    if (outBuffer_.isEmpty()) {
        return;
    }
    // Standard output may be the same terminal as the progress line.
    const bool redraw = progressShown_;
    EraseProgress();
    std::fwrite(outBuffer_.constData(), 1, outBuffer_.size(), out_);
    std::fflush(out_);
    outBuffer_.clear();
    if (redraw) {
        DrawProgress();
    }
}

void BatchHost::WriteErr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, bytes.size(), err_);
    std::fflush(err_);
}

void BatchHost::DrawProgress() {
    if (!progressEnabled_ || progressText_.isEmpty()) {
        return;
    }
    drawnAt_ = clock_.elapsed();
    QString text = figures_.Text(progressText_, drawnAt_);
    // A line wider than the terminal would wrap, and the erase would clear only its last part.
    if (const int columns = platform::TerminalColumns(err_); columns > 1) {
        text.truncate(columns - 1);
    }
    WriteErr(kEraseLine + text.toUtf8());
    progressShown_ = true;
}

void BatchHost::EraseProgress() {
    if (progressShown_) {
        WriteErr(kEraseLine);
        progressShown_ = false;
    }
}
