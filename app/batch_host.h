#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <vector>

#include "app/batch_json.h"
#include "app/batch_options.h"
#include "app/batch_progress.h"
#include "core/host.h"
#include "core/session.h"

// The import window's stand-in for the headless batch tool. The file list is the command
// line's files, all of them imported; logging is on while the report goes somewhere, and there
// are no labels. The report goes to standard output
// (UTF-8, CR LF written as LF, buffered) unless --quiet or --json - keep it off, message boxes go
// to standard error one per line, and when standard error is a terminal (and --no-progress is
// not given) one progress line is kept up to date there: "Processing i of n files", the rows
// stored by the files done, the time elapsed and an estimate of the time left (ProgressFigures).
// It is redrawn at every file and, while a long file is read, every half second; it is erased
// before anything else is written and at the end.
// On a terminal, control characters other than tab and line feed (which a file's values may
// hold) are shown as symbols instead of acting on the terminal; a pipe or file gets the text
// as it is.
// An interrupt (platform::RecordInterrupts) reaches the run as bCancel at the next
// ProcessEvents.
class BatchHost : public ImportHost {
  public:
    // `session` must outlive the host. `out` and `err` are the report and message streams.
    BatchHost(SessionState& session, const BatchOptions& options, std::FILE* out = stdout,
              std::FILE* err = stderr);
    ~BatchHost() override;

    bool Unattended() const override { return unattended_; }
    bool LogActions() const override { return keepReport_ || !quiet_; }
    bool ShowsLabels() const override { return false; }
    void AppendReportLine(const QString& line) override;
    void MessageBox(const QString& text) override;
    // Writes the question to standard error and answers No: nobody is there to answer.
    bool AskYesNo(const QString& text) override;
    // No dialog can be shown: tells on standard error how the ID could be resolved, returns
    // false and leaves bCancel alone, so that the block fails as refused.
    bool SelectManufacturer(SessionState& session, db::Database& database) override;
    void ProcessEvents() override;
    QString FileFolder() const override { return {}; }
    int FileCount() const override { return static_cast<int>(files_.size()); }
    QString FileName(int index) const override { return files_.at(index); }
    bool FileSelected(int) const override { return true; }
    void SetFileCountText(const QString& text) override;
    // Writes the waiting line to standard error; waiting is no failure.
    void WaitingForDatabase(bool waiting, DatabaseWait what) override;
    void FileImported(int index, const QString& path, const FileOutcome& outcome) override;

    // Writes `text` (one or more lines) to standard error, keeping the progress line intact.
    void Error(const QString& text);
    // Flushes standard output and removes the progress line. Call once the run has ended.
    void Finish();

    // Every line handed to AppendReportLine, as given (for the RTF report); empty unless the
    // options asked for a report file.
    const QStringList& ReportLines() const { return reportLines_; }
    // True when every file was added and no message was shown (a message marks a file that did
    // not import cleanly, even when its rows went in).
    bool AllFilesAdded() const;
    // How each file ended, by entry, with the messages shown while it was imported.
    const std::vector<BatchFileResult>& Results() const { return results_; }

  private:
    void FlushOut();
    void WriteErr(const QByteArray& bytes);
    void DrawProgress();
    void EraseProgress();

    SessionState& session_;
    bool unattended_;
    bool quiet_;
    bool keepReport_;
    QStringList files_;
    std::FILE* out_;
    std::FILE* err_;
    bool outTerminal_;
    bool progressEnabled_;  // standard error is a terminal and --no-progress is not given

    QByteArray outBuffer_;
    QStringList reportLines_;
    QString progressText_;
    bool progressShown_ = false;
    ProgressFigures figures_;
    QElapsedTimer clock_;  // since the host was made, the start of the run
    qint64 drawnAt_ = 0;   // when the progress line was last drawn
    std::vector<BatchFileResult> results_;
    QStringList fileMessages_;  // shown since the last file ended
    bool failed_ = false;       // a message was shown or a file was not added
};

// `text` as UTF-8 with CR LF written as LF. For a terminal, the control characters that would
// act on it (move the cursor, erase, retitle the window) become symbols: C0 characters their
// Control Pictures (U+2400 on), DEL U+2421, the C1 controls U+FFFD.
QByteArray Encode(QStringView text, bool terminal);
