#include "app/frmImportFlex.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/database_choice.h"
#include "app/dropped_paths.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "app/import_commands.h"
#include "core/error.h"
#include "core/platform.h"
#include "core/windowing.h"
#include "manufacturer/frmSelManu.h"
#include "records/database.h"
#include "report/frmReporStatus.h"
#include "ui_frmImportFlex.h"

namespace {

const char* const kMissingDatabase =
    "This utility must be run from the directory in which the Tovrin dbEquip.mdb database is "
    "located.";
const char* const kBackUp =
    "We recommend that you back-up your dbEquip.mdb file before performing these operations";
const char* const kUnattended =
    "Unattended operation will automatically add manufacturers from the .flx file. Otherwise you "
    "will be prompted to select an existing manufacturer or create a new manufacturer.";

QString InformationMessage() {
    return QStringList{
        "*.flx files describe the inputs and outputs of devices. .flx files are, by nature, "
        "incomplete.",
        "This utility will import .flx files into the Tovrin Equipment Database.",
        "",
        "This will save you work, but you will need to manually edit several fields in various "
        "databases.",
        "",
        "Add any Equipment Data you desire and be sure to add a Front Panel Block Reference "
        "(BlockRef)",
        "in the Equipment Library <Equipment Data> tab.",
    }
        .join("\r\n");
}

}  // namespace

frmImportFlex::frmImportFlex(const QString& databaseTarget, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frmImportFlex>()), databaseTarget_(databaseTarget) {
    ui_->setupUi(this);
    baseTitle_ = windowTitle();
    // The run's three labels change with every file or logged line. A label of fixed size
    // takes a new text without making the window lay itself out again, which would measure that
    // text each time; so they sit in fraRun, which has no layout, and follow its width.
    const int spacing = ui_->layoutBody->verticalSpacing();
    const int line = ui_->lblEquip->fontMetrics().height();
    runLabelHeights_ = {line, line, ui_->lblStat->fontMetrics().lineSpacing() * 3 + 2};
    ui_->fraRun->setFixedHeight(runLabelHeights_[0] + runLabelHeights_[1] + runLabelHeights_[2] +
                                2 * spacing);
    ui_->fraRun->installEventFilter(this);

    setAcceptDrops(true);
    // One line of text each: the list lays out thousands of names without measuring each.
    ui_->File1->setUniformItemSizes(true);

    // The drive, folder and file lists all start on the current directory.
    folders_ = new FolderTree(ui_->Drive1, ui_->Dir1, QDir::currentPath(), this);
    files_ = new FolderFileList(
        ui_->File1, ui_->lblFileCount, [this] { return session_.bRunActive; }, this);
    files_->Show(folders_->path());
    connect(folders_, &FolderTree::changed, files_, &FolderFileList::Show);

    connect(ui_->cmdOne, &QPushButton::clicked, this, &frmImportFlex::cmdOne_Click);
    connect(ui_->cmdAll, &QPushButton::clicked, this, &frmImportFlex::cmdAll_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmImportFlex::cmdCancel_Click);
    connect(ui_->chkUnattended, &QCheckBox::clicked, this, &frmImportFlex::chkUnattended_Click);
    connect(ui_->cmdDatabase, &QPushButton::clicked, this, &frmImportFlex::cmdDatabase_Click);
    connect(ui_->cmdUndo, &QPushButton::clicked, this, &frmImportFlex::cmdUndo_Click);

    redrawTimer_ = new QTimer(this);
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(kRedrawIntervalMs);
    connect(redrawTimer_, &QTimer::timeout, this, &frmImportFlex::RedrawHeld);

    ui_->cmdOne->setFocus();
    Form_Load();
}

frmImportFlex::~frmImportFlex() {
    delete report_.data();
    delete closedReport_.data();
    // Closed while Qt's database plugin is still loaded; closing also gives the database file
    // back its own journal mode.
    database_.reset();
}

void frmImportFlex::Form_Load() {
    ui_->cmdCancel->setEnabled(false);
    const DatabasePlaces places = CurrentPlaces();
    // An installed program's folder holds no FLX files: its lists start where it was started.
    SetDirPath(places.dataFolder.isEmpty() ? platform::AppFolder() : QDir::currentPath());
    session_.aManuMap.resize(1);
    session_.bCancel = false;
    DatabaseChoice database = ChooseDatabase(databaseTarget_, places);
    if (database.source == DatabaseSource::kBesideProgram) {
        if (database.missing) {
            ShowMessage(kMissingDatabase);
        }
        UseDatabase(database.connection, database.shown);
        ShowMessage(InformationMessage());
        ShowMessage(kBackUp);
    } else {
        if (database.missing && database.source == DatabaseSource::kDataFolder) {
            OfferDatabase(database);
        } else if (database.missing) {
            ShowMessage("The database " + database.shown + " does not exist.");
        }
        UseDatabase(database.connection, database.shown);
        ShowMessage(InformationMessage());
        ShowMessage("We recommend that you back-up the database " + database.shown +
                    " before performing these operations");
    }
    files_->Finish();
    ui_->lblFileCount->setText("FileCount: " + QString::number(ui_->File1->count()));
}

void frmImportFlex::Form_Unload() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this) {
            window->close();
        }
    }
}

void frmImportFlex::closeEvent(QCloseEvent* event) {
    if (session_.bRunActive) {
        session_.bCancel = true;
        pendingClose_ = true;
        event->ignore();
        return;
    }
    Form_Unload();
    CloseDatabase();
    event->accept();
}

void frmImportFlex::LayOutRunLabels() {
    const int spacing = ui_->layoutBody->verticalSpacing();
    int top = 0;
    QLabel* const labels[] = {ui_->lblFileCount, ui_->lblEquip, ui_->lblStat};
    for (std::size_t i = 0; i < std::size(labels); ++i) {
        labels[i]->setFixedSize(ui_->fraRun->width(), runLabelHeights_[i]);
        labels[i]->move(0, top);
        top += runLabelHeights_[i] + spacing;
    }
}

void frmImportFlex::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    folders_->CenterLater();
}

bool frmImportFlex::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == ui_->fraRun) {
        LayOutRunLabels();
    }
    return QWidget::eventFilter(watched, event);
}

void frmImportFlex::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void frmImportFlex::dragMoveEvent(QDragMoveEvent* event) {
    if (!session_.bRunActive && !ReadDrop(event->mimeData()->urls()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void frmImportFlex::dropEvent(QDropEvent* event) {
    const DropRequest drop = ReadDrop(event->mimeData()->urls());
    // A drop can arrive from the event processing of a run, which must keep its file list.
    if (session_.bRunActive || drop.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Open(drop);
}

void frmImportFlex::OpenPaths(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    const DropRequest request = ReadDrop(urls);
    if (request.empty()) {
        ShowMessage(QStringLiteral("Nothing to open: %1 is neither a folder nor an FLX file.")
                        .arg(paths.join(QStringLiteral(", "))));
        return;
    }
    Open(request);
}

void frmImportFlex::Open(const DropRequest& request) {
    const bool sameFolder = FolderTree::Clean(request.folder) == folders_->path();
    SetDirPath(request.folder);
    if (request.files.isEmpty()) {
        return;
    }
    if (sameFolder) {
        files_->Show(folders_->path());  // the files named may be newer than the list
    }
    files_->Finish();
    ui_->File1->clearSelection();
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < ui_->File1->count(); ++i) {
        QListWidgetItem* item = ui_->File1->item(i);
        if (request.files.contains(item->text())) {
            item->setSelected(true);
            first = first != nullptr ? first : item;
        }
    }
    if (first != nullptr) {
        ui_->File1->setCurrentItem(first, QItemSelectionModel::NoUpdate);
        ui_->File1->scrollToItem(first);
    }
}

QString frmImportFlex::DirPath() const {
    return QDir::toNativeSeparators(folders_->path());
}

void frmImportFlex::SetDirPath(const QString& folder) {
    folders_->SetPath(folder);
}

void frmImportFlex::chkUnattended_Click() {
    ShowMessage(kUnattended);
}

void frmImportFlex::ShowMessage(const QString& text) {
    ShowProgressNow();
    ui::MsgBox(text, ui::MsgButtons::kOk, ui::MsgIcon::kNone, isVisible() ? this : nullptr);
}

void frmImportFlex::RunCommand(RunOutcome (*command)(ImportContext&, RunObserver*),
                               QWidget* button) {
    // A run works on the whole list.
    files_->Finish();
    ImportContext ctx{session_, *this, *database_};
    try {
        // The run disables the button that has the focus, and the focus moves on to the next
        // control; it comes back once the run is over, so that a key that started the run
        // starts the next one too.
        if (RunRecorded(command, ctx).started && button->isEnabled()) {
            button->setFocus(Qt::OtherFocusReason);
        }
    } catch (const AppError& error) {
        // An error must not cross the event loop; show it as the reader shows its own.
        ShowMessage(ErrorWithSource(error));
    } catch (const std::exception& error) {
        ShowMessage(QString::fromLocal8Bit(error.what()));
    }
    if (pendingClose_) {
        pendingClose_ = false;
        close();
    }
}

void frmImportFlex::cmdOne_Click() {
    RunCommand(&::cmdOne_Click, ui_->cmdOne);
}

void frmImportFlex::cmdAll_Click() {
    RunCommand(&::cmdAll_Click, ui_->cmdAll);
}

void frmImportFlex::cmdCancel_Click() {
    // The question is modal, yet a click can still reach the button while it is open (queued
    // or sent by a program); it must not stack a second question on the first.
    if (askingCancel_) {
        return;
    }
    const QScopedValueRollback<bool> asking(askingCancel_, true);
    ImportContext ctx{session_, *this, *database_};
    ::cmdCancel_Click(ctx);
}

// ImportHost.

bool frmImportFlex::Unattended() const {
    return ui_->chkUnattended->checkState() != Qt::Unchecked;
}

bool frmImportFlex::LogActions() const {
    return ui_->chkLog->checkState() == Qt::Checked;
}

void frmImportFlex::SetStatus(const QString& text) {
    HoldRedraw(ui_->lblStat);
    ui_->lblStat->setText(text);
}

void frmImportFlex::SetEquipment(const QString& text) {
    HoldRedraw(ui_->lblEquip);
    ui_->lblEquip->setText(text);
}

void frmImportFlex::HoldRedraw(QWidget* widget) {
    if (widget->updatesEnabled()) {
        widget->setUpdatesEnabled(false);
        held_.push_back(widget);
    }
    if (!redrawTimer_->isActive()) {
        redrawTimer_->start();
    }
}

void frmImportFlex::RedrawHeld() {
    redrawTimer_->stop();
    for (QWidget* widget : std::exchange(held_, {})) {
        widget->setUpdatesEnabled(true);
        widget->repaint();
    }
}

void frmImportFlex::ShowProgressNow() {
    RedrawHeld();
    if (report_) {
        report_->ShowPending();
    }
}

frmReporStatus& frmImportFlex::Report() {
    if (!report_) {
        // A window of its own; closing it discards it and its text.
        report_ = new frmReporStatus(nullptr);
        report_->setAttribute(Qt::WA_DeleteOnClose);
        // Closed by the user, the window and its text are gone: the next line logged starts a
        // new one, which the action log shows again. Lines logged into the closed window, which
        // goes only at the next turn of the event loop, would be lost on a window nobody sees.
        connect(report_, &frmReporStatus::Closed, this, [this, report = report_.data()] {
            if (report != report_) {  // closed once more, by the program's end
                return;
            }
            delete closedReport_.data();
            closedReport_ = report_;
            report_ = nullptr;
            session_.bReportShown = false;
        });
    }
    return *report_;
}

void frmImportFlex::AppendReportLine(const QString& line) {
    Report().AppendLine(line);
}

void frmImportFlex::ShowReport() {
    Report().show();
}

void frmImportFlex::MessageBox(const QString& text) {
    ShowMessage(text);
}

bool frmImportFlex::AskYesNo(const QString& text) {
    ShowProgressNow();
    return ui::MsgBox(text, ui::MsgButtons::kYesNo, ui::MsgIcon::kQuestion,
                      isVisible() ? this : nullptr) == ui::MsgAnswer::kYes;
}

bool frmImportFlex::SelectManufacturer(SessionState& session, db::Database& database) {
    ShowProgressNow();
    ShowSelManu(session, database, this);
    return true;
}

void frmImportFlex::ProcessEvents() {
    // Looking for events costs a system call, and a run looks at every line, tens of thousands
    // of times a second. When the last look found nothing to do, the next comes after
    // kQuietLookIntervalMs; while events keep coming (a click, a timer firing at every turn)
    // they are handled at every line.
    if (quietSince_.isValid() && !quietSince_.hasExpired(kQuietLookIntervalMs)) {
        return;
    }
    if (ui::DoEvents()) {
        quietSince_.invalidate();
    } else {
        quietSince_.start();
    }
}

QString frmImportFlex::FileFolder() const {
    return QDir::toNativeSeparators(files_->folder());
}

int frmImportFlex::FileCount() const {
    return ui_->File1->count();
}

QString frmImportFlex::FileName(int index) const {
    return ui_->File1->item(index)->text();
}

bool frmImportFlex::FileSelected(int index) const {
    return ui_->File1->item(index)->isSelected();
}

void frmImportFlex::SetFileCountText(const QString& text) {
    HoldRedraw(ui_->lblFileCount);
    ui_->lblFileCount->setText(text);
}

void frmImportFlex::SetProgressMaximum(int maximum) {
    HoldRedraw(ui_->ProgressBar1);
    // A range of 0..0 would show a busy animation; an empty run shows an empty bar instead.
    if (maximum <= 0) {
        ui_->ProgressBar1->setRange(0, 1);
        ui_->ProgressBar1->setValue(0);
        return;
    }
    ui_->ProgressBar1->setRange(0, maximum);
}

void frmImportFlex::SetProgressValue(int value) {
    HoldRedraw(ui_->ProgressBar1);
    ui_->ProgressBar1->setValue(value);
}

void frmImportFlex::SetCancelEnabled(bool enabled) {
    ui_->cmdCancel->setEnabled(enabled);
}

void frmImportFlex::WaitingForDatabase(bool waiting, DatabaseWait what) {
    if (waiting) {
        statusBeforeWait_ = ui_->lblStat->text();
        SetStatus(QString::fromLatin1(what == DatabaseWait::kServerGone ? kWaitingForServer
                                                                        : kWaitingForDatabase));
    } else {
        SetStatus(statusBeforeWait_);
    }
}

void frmImportFlex::SetRunActive(bool active) {
    quietSince_.invalidate();
    if (!active) {
        ShowProgressNow();
        files_->Thaw();
    }
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_->cmdOne), static_cast<QWidget*>(ui_->cmdAll),
          static_cast<QWidget*>(ui_->Drive1), static_cast<QWidget*>(ui_->Dir1),
          static_cast<QWidget*>(ui_->File1), static_cast<QWidget*>(ui_->cmdDatabase),
          static_cast<QWidget*>(ui_->chkPreview)}) {
        widget->setEnabled(!active);
    }
    ui_->cmdUndo->setEnabled(!active && !lastRecord_.isEmpty());
}
