#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "core/host.h"
#include "core/session.h"
#include "tests/printers.h"

// A scripted ImportHost for tests: it keeps what the window would show, answers the questions
// and the manufacturer selection from scripts, and notes every file's outcome.
class FakeHost : public ImportHost {
  public:
    bool unattended = true;
    bool logActions = true;

    QString status;
    QString equipment;
    QString report;  // the report text: each appended line followed by "\r\n"
    int reportShown = 0;
    QStringList messages;               // every MessageBox text, in order
    QStringList questions;              // every AskYesNo text, in order
    std::deque<bool> answers;           // answers to AskYesNo; an empty queue answers No
    std::vector<FileOutcome> outcomes;  // of every file handed to the reader, in order

    // The selection dialog stand-in; default: leaves the session as it is and returns true.
    std::function<bool(SessionState&)> onSelectManufacturer;
    int selections = 0;
    // Called on every ProcessEvents (for example to press Cancel mid-run).
    std::function<void()> onProcessEvents;

    QString folder;
    QStringList files;
    QList<bool> selected;  // same length as files, or empty for "none selected"

    QStringList fileCountTexts;  // every progress text, in order
    int progressMaximum = -1;
    int progressValue = -1;
    bool cancelEnabled = false;
    bool runActive = false;
    bool waiting = false;          // told that the import waits for the database
    QList<bool> waits;             // every such telling, in order
    QList<DatabaseWait> waitsFor;  // and what each was for

    bool Unattended() const override { return unattended; }
    bool LogActions() const override { return logActions; }
    void AppendReportLine(const QString& line) override { report += line + "\r\n"; }
    void MessageBox(const QString& text) override { messages << text; }
    bool AskYesNo(const QString& text) override;
    bool SelectManufacturer(SessionState& session, db::Database& database) override;
    void ProcessEvents() override;
    QString FileFolder() const override { return folder; }
    int FileCount() const override { return static_cast<int>(files.size()); }
    QString FileName(int index) const override { return files.at(index); }
    bool FileSelected(int index) const override {
        return index < selected.size() && selected.at(index);
    }
    void SetStatus(const QString& text) override { status = text; }
    void SetEquipment(const QString& text) override { equipment = text; }
    void ShowReport() override { ++reportShown; }
    void SetFileCountText(const QString& text) override { fileCountTexts << text; }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void SetProgressValue(int value) override { progressValue = value; }
    void SetCancelEnabled(bool enabled) override { cancelEnabled = enabled; }
    void SetRunActive(bool active) override { runActive = active; }
    void WaitingForDatabase(bool on, DatabaseWait what) override {
        waits << (waiting = on);
        waitsFor << what;
    }
    void FileImported(int, const QString&, const FileOutcome& outcome) override {
        outcomes.push_back(outcome);
    }

    // The report's lines (split at "\r\n"), without the empty tail after the last line end.
    QStringList ReportLines() const;
    // The last progress text; empty before the first.
    QString FileCountText() const { return fileCountTexts.value(fileCountTexts.size() - 1); }
};
