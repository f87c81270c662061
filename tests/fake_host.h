#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "core/host.h"
#include "core/session.h"
#include "tests/printers.h"

// A scripted ImportHost for tests: it records every call in `events` (one readable line each),
// keeps the report text, and answers questions and the manufacturer selection from scripts.
class FakeHost : public ImportHost {
  public:
    bool unattended = true;
    bool logActions = true;

    QString status;
    QString equipment;
    QString report;  // the report text: each appended line followed by "\r\n"
    int reportShown = 0;
    QStringList messages;      // every MessageBox text, in order
    QStringList questions;     // every AskYesNo text, in order
    std::deque<bool> answers;  // answers to AskYesNo; an empty queue answers No
    QStringList events;  // "status: ...", "message: ...", "fileCount: ...", "progress: ..." ...

    // The selection dialog stand-in; default: leaves the session as it is and returns true.
    std::function<bool(SessionState&)> onSelectManufacturer;
    int selections = 0;
    // Called on every ProcessEvents (for example to press Cancel mid-run).
    std::function<void()> onProcessEvents;
    int processEventsCalls = 0;

    QString folder;
    QStringList files;
    QList<bool> selected;  // same length as files, or empty for "none selected"

    QString fileCountText;
    int progressMaximum = -1;
    int progressValue = -1;
    bool cancelEnabled = false;
    bool runActive = false;
    bool waiting = false;  // told that the import waits for the database

    bool Unattended() const override { return unattended; }
    bool LogActions() const override { return logActions; }
    void SetStatus(const QString& text) override;
    void SetEquipment(const QString& text) override;
    void AppendReportLine(const QString& line) override;
    void ShowReport() override;
    void MessageBox(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool SelectManufacturer(SessionState& session) override;
    void ProcessEvents() override;
    QString FileFolder() const override { return folder; }
    int FileCount() const override { return static_cast<int>(files.size()); }
    QString FileName(int index) const override { return files.at(index); }
    bool FileSelected(int index) const override {
        return index < selected.size() && selected.at(index);
    }
    void SetFileCountText(const QString& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void SetCancelEnabled(bool enabled) override;
    void SetRunActive(bool active) override;
    void WaitingForDatabase(bool on) override;

    // The report's lines (split at "\r\n"), without the empty tail after the last line end.
    QStringList ReportLines() const;
};
