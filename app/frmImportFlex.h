#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "app/import_commands.h"
#include "core/host.h"
#include "core/session.h"
#include "report/frmReporStatus.h"

class QCloseEvent;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QShowEvent;
class QModelIndex;
class QTimer;

namespace Ui {
class frmImportFlex;
}
struct DatabaseChoice;
struct DropRequest;
class FolderFileList;
class FolderTree;
namespace db {
class Database;
}

// The import window: the program's main window and the owner of the session state. The user
// picks a drive, a folder and FLX files, sets the two options, and starts, follows and cancels
// an import. The window is the ImportHost of the import logic, which never touches its widgets.
class frmImportFlex : public QWidget, public ImportHost {
    Q_OBJECT

  public:
    // Builds the window and runs Form_Load, which shows the start-up messages before the window
    // is shown. The database is the one ChooseDatabase (app/database_choice.h) names for
    // `databaseTarget` (the command line's --db, see records/target.h); the title names it.
    // dbEquip.mdb beside a program run from its build tree gives the two messages, or three
    // when it is missing. Any other database is named in the back-up reminder, and a file that
    // does not exist is reported; an installed program without dbEquip.mdb in the user's data
    // folder first offers to create it there, or to choose another database. The database is
    // not opened, except to check a database chosen in the dialog.
    explicit frmImportFlex(const QString& databaseTarget = {}, QWidget* parent = nullptr);
    ~frmImportFlex() override;

    // The session state shared by all import code and the dialogs; it lives as long as the window.
    SessionState& session() { return session_; }

    // The folder of Dir1, without a trailing separator (except the root).
    QString DirPath() const;
    // Moves Dir1 to `folder`; when that changes the folder, File1 and the count follow. A folder
    // that does not exist or cannot be read shows an empty file list.
    void SetDirPath(const QString& folder);

    // Opens what the command line names as a drop of the same paths does (see ReadDrop): a
    // folder, or FLX files, whose folder is shown with exactly those files selected. When none
    // is a folder or an FLX file, a message says so and the lists stay where they are.
    void OpenPaths(const QStringList& paths);

    // ImportHost.
    bool Unattended() const override;
    bool LogActions() const override;
    void SetStatus(const QString& text) override;
    void SetEquipment(const QString& text) override;
    void AppendReportLine(const QString& line) override;
    void ShowReport() override;
    void MessageBox(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool SelectManufacturer(SessionState& session, db::Database& database) override;
    void ProcessEvents() override;
    QString FileFolder() const override;
    int FileCount() const override;
    QString FileName(int index) const override;
    bool FileSelected(int index) const override;
    void SetFileCountText(const QString& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void SetCancelEnabled(bool enabled) override;
    void SetRunActive(bool active) override;
    void WaitingForDatabase(bool waiting, DatabaseWait what) override;

    // The report window while it exists and the user has not closed it (created hidden by the
    // first logged report line after the window's start or the user's close).
    frmReporStatus* ReportWindow() const { return report_; }

  protected:
    // Closing during a run cancels the run, as a confirmed Cancel would, and closes the window
    // once the run has returned: the file being read ends at its next line, and the rows it
    // stored before the close stay stored. Otherwise Form_Unload closes every other window.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Drops (see Open): anything but a folder or FLX files, and any drop during a run, is
    // refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private slots:
    void cmdOne_Click();
    void cmdAll_Click();
    void cmdCancel_Click();
    void chkUnattended_Click();
    // "Database...": the database dialog (frmDatabase). A database chosen there is used from
    // the next file on and remembered for the next start; the session's recordsets and
    // manufacturer map, which belong to the old one, start afresh.
    void cmdDatabase_Click();
    // "Undo Last Import": asks, with the counts of the last run's record, whether to remove what
    // that run added, then removes every row still as the run left it (app/run_undo.h) and
    // tells in the status line, the report and a box what was removed and what was kept. The
    // button is enabled after a run that stored something, until its undo.
    void cmdUndo_Click();

  private:
    void Form_Load();
    void Form_Unload();

    // A folder moves Dir1 there, as a click would, and File1 and the count follow; FLX files
    // move Dir1 to their folder and select exactly those files in the refreshed File1.
    void Open(const DropRequest& request);
    // From now on the session imports into `connection`; the title names it as `shown`.
    void UseDatabase(const QString& connection, const QString& shown);
    // The first start of an installed program, without dbEquip.mdb in the user's data folder:
    // asks whether to create it there from the packaged schema, or else shows the database
    // dialog. `database` becomes what the user chose; it stays missing when nothing was.
    void OfferDatabase(DatabaseChoice& database);

    // Runs `command`, started by `button`, which has the focus again when the run is over. With
    // "Preview" ticked the run is a dry run (db::Database::BeginDryRun): every step as usual,
    // every row given back at the end, and "Preview: nothing was stored" after its totals line.
    // Otherwise the run is recorded (app/run_record.h) and, when it stored something, becomes
    // the one that "Undo Last Import" undoes.
    void RunCommand(RunOutcome (*command)(ImportContext&, RunObserver*), QWidget* button);
    RunOutcome RunRecorded(RunOutcome (*command)(ImportContext&, RunObserver*), ImportContext& ctx);
    // Places lblFileCount, lblEquip and lblStat across fraRun, one below the other.
    void LayOutRunLabels();
    void ShowMessage(const QString& text);
    // Closes the database in use, telling the user when its file could not be put back in its
    // own journal mode.
    void CloseDatabase();
    frmReporStatus& Report();
    // A run changes the labels and the progress bar with every line, far more often than a
    // screen shows a new picture. HoldRedraw stops `widget` redrawing until the next
    // RedrawHeld, which comes at most kRedrawIntervalMs later.
    void HoldRedraw(QWidget* widget);
    void RedrawHeld();
    // Redraws the held widgets and the report's latest lines at once: before a message box or a
    // dialog and at the end of a run, the user sees the step that led to it.
    void ShowProgressNow();

    // The run's display is redrawn at most this long after it changed: about the pace of a
    // screen, and far less often than a run logs lines.
    static constexpr int kRedrawIntervalMs = 20;
    // After a look for events that found none, the next look comes this much later; Cancel
    // answers within it.
    static constexpr int kQuietLookIntervalMs = 5;

    std::unique_ptr<Ui::frmImportFlex> ui_;
    QString databaseTarget_;  // the command line's --db; empty: see ChooseDatabase
    QString baseTitle_;       // the title without the database's name
    QString databaseShown_;   // the session's database as the user knows it
    SessionState session_;
    // The database of sEquipConnection, opened by the first statement of an import.
    std::unique_ptr<db::Database> database_;
    QString statusBeforeWait_;
    FolderTree* folders_ = nullptr;  // Drive1 and Dir1
    // File1 and its folder, which follows Dir1's and stays as it is during a run.
    FolderFileList* files_ = nullptr;
    bool pendingClose_ = false;
    bool askingCancel_ = false;  // the cancel question is open
    QPointer<frmReporStatus> report_;
    // The report window the user closed last, until it is gone (it goes at the next turn of the
    // event loop, or with this window).
    QPointer<frmReporStatus> closedReport_;
    std::array<int, 3> runLabelHeights_{};  // of lblFileCount, lblEquip, lblStat
    QTimer* redrawTimer_ = nullptr;
    std::vector<QWidget*> held_;  // widgets of this window whose redraw HoldRedraw holds
    QElapsedTimer quietSince_;    // the last look for events found none (invalid: it found some)
    QString lastRecord_;          // the record of the last run that stored something, until undone
};
