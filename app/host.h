#pragma once

#include <QString>

struct SessionState;

// What the import logic needs of its window. The import window implements it over its widgets;
// the batch tool implements it over standard output and standard error; tests implement it
// with scripted answers. The logic never touches a widget.
class ImportHost {
  public:
    virtual ~ImportHost() = default;

    // The two options, read whenever the logic needs them (they may change mid-run).
    virtual bool Unattended() const = 0;  // "Unattended Manufacturer Adding" is checked
    virtual bool LogActions() const = 0;  // "Log Actions (Effects Performance)" is checked

    // The status label (last action) and the equipment label, redrawn at once.
    virtual void SetStatus(const QString& text) = 0;
    virtual void SetEquipment(const QString& text) = 0;

    // Appends `line` and a line end to the report, creating the report window hidden when it
    // does not exist. `line` may itself end with CR LF.
    virtual void AppendReportLine(const QString& line) = 0;
    // Shows the report window, not modal.
    virtual void ShowReport() = 0;

    // A message box with one OK button, no icon and the application's title; blocks until closed.
    virtual void MessageBox(const QString& text) = 0;
    // The Yes/No question with a question icon (Yes preselected); true for Yes.
    virtual bool AskYesNo(const QString& text) = 0;

    // Shows the manufacturer selection dialog modally for `session.sManuID`. The dialog leaves
    // its outcome in the session (sManuID, sManuName, bCancel) and in the manufacturer map.
    // Returns false only when no dialog can be shown at all (the batch tool without a mapping):
    // resolution then fails the block as refused.
    virtual bool SelectManufacturer(SessionState& session) = 0;

    // Lets the window system run pending events (the Cancel button, repaint).
    virtual void ProcessEvents() = 0;

    // The file list of the run: its folder, entries in list order, and their selection.
    virtual QString FileFolder() const = 0;
    virtual int FileCount() const = 0;
    virtual QString FileName(int index) const = 0;
    virtual bool FileSelected(int index) const = 0;

    // Progress of a run.
    virtual void SetFileCountText(const QString& text) = 0;
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;
    virtual void SetCancelEnabled(bool enabled) = 0;
    // A run starts (true) or ends (false): the window locks what a run must not change.
    virtual void SetRunActive(bool active) = 0;
};

// What one import operation works on: the session state and the window.
struct ImportContext {
    SessionState& session;
    ImportHost& host;
};
