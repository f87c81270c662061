#pragma once

#include <QString>

#include "core/outcome.h"

struct SessionState;
namespace db {
class Database;
}

// What an import waits for, and what the window and the batch tool show meanwhile.
enum class DatabaseWait {
    kInUse,       // another program holds the database
    kServerGone,  // the connection to the database server was lost; it is tried again
};
inline constexpr const char* kWaitingForDatabase =
    "Waiting for the database, in use by another program...";
inline constexpr const char* kWaitingForServer = "Waiting for the database server...";

// What the import logic needs of its window. The import window implements it over its widgets;
// the batch tool implements it over standard output and standard error; tests implement it
// with scripted answers. The logic never touches a widget.
//
// The pure methods are what the logic cannot do without. The display methods have empty
// defaults: a host without a status line, a progress bar or buttons leaves them alone.
class ImportHost {
  public:
    virtual ~ImportHost() = default;

    // The two options, read whenever the logic needs them (they may change mid-run).
    virtual bool Unattended() const = 0;  // "Unattended Manufacturer Adding" is checked
    virtual bool LogActions() const = 0;  // "Log Actions (Effects Performance)" is checked

    // Appends `line` and a line end to the report, creating the report window hidden when it
    // does not exist. `line` may itself end with CR LF.
    virtual void AppendReportLine(const QString& line) = 0;

    // A message box with one OK button, no icon and the application's title; blocks until closed.
    virtual void MessageBox(const QString& text) = 0;
    // The Yes/No question with a question icon (Yes preselected); true for Yes.
    virtual bool AskYesNo(const QString& text) = 0;

    // Shows the manufacturer selection dialog modally for `session.sManuID`, on `database`. The
    // dialog leaves its outcome in the session (sManuID, sManuName, bCancel, aManuMap). Returns
    // false only when no dialog can be shown at all (the batch tool without a mapping):
    // resolution then refuses the block for an unknown manufacturer.
    virtual bool SelectManufacturer(SessionState& session, db::Database& database) = 0;

    // Lets the window system run pending events (the Cancel button, repaint).
    virtual void ProcessEvents() = 0;

    // The file list of the run: its folder, entries in list order, and their selection.
    virtual QString FileFolder() const = 0;
    virtual int FileCount() const = 0;
    virtual QString FileName(int index) const = 0;
    virtual bool FileSelected(int index) const = 0;

    // Display: the status label (last action) and the equipment label, redrawn at once.
    virtual void SetStatus(const QString& /*text*/) {}
    virtual void SetEquipment(const QString& /*text*/) {}
    // Display: whether the host has these labels at all; one without them answers false, so
    // that their texts are not made.
    virtual bool ShowsLabels() const { return true; }
    // Display: shows the report window, not modal.
    virtual void ShowReport() {}
    // Display: progress of a run.
    virtual void SetFileCountText(const QString& /*text*/) {}
    virtual void SetProgressMaximum(int /*maximum*/) {}
    virtual void SetProgressValue(int /*value*/) {}
    virtual void SetCancelEnabled(bool /*enabled*/) {}
    // Display: a run starts (true) or ends (false); the window locks what a run must not change.
    virtual void SetRunActive(bool /*active*/) {}
    // Display: the import starts (true) or stops (false) waiting for a database that another
    // program holds (kWaitingForDatabase) or for a server that went away (kWaitingForServer).
    // While it waits, ProcessEvents is called often and a cancel ends the file.
    virtual void WaitingForDatabase(bool /*waiting*/, DatabaseWait /*what*/) {}

    // Entry `index` of the file list, imported from `path`, ended with `outcome`. Called once
    // per file handed to the reader, right after it returns.
    virtual void FileImported(int /*index*/, const QString& /*path*/,
                              const FileOutcome& /*outcome*/) {}
};

// What one import operation works on: the session state, the window and the equipment
// database, which the caller opened and keeps open for the operation's length.
struct ImportContext {
    SessionState& session;
    ImportHost& host;
    db::Database& database;
};
