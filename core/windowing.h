#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// The windowing services that the windows and dialogs share: message boxes with the
// application's title, the save-file and open-file dialogs, the beep and event processing. Tests
// answer the boxes and the dialog through hooks, so that no test ever waits on a real modal dialog.
namespace ui {

enum class MsgButtons { kOk, kYesNo };
enum class MsgIcon { kNone, kQuestion };
enum class MsgAnswer { kOk, kYes, kNo };

// The application's title, used on every message box.
inline constexpr const char* kAppTitle = "Import Flx";

// Shows a message box and blocks until it is answered. With a hook installed, the hook answers
// instead and nothing is shown.
MsgAnswer MsgBox(const QString& text, MsgButtons buttons = MsgButtons::kOk,
                 MsgIcon icon = MsgIcon::kNone, QWidget* parent = nullptr);

using MsgBoxHook = std::function<MsgAnswer(const QString& text, MsgButtons, MsgIcon)>;
// Installs a hook that answers every message box; an empty hook restores the real boxes.
void SetMsgBoxHook(MsgBoxHook hook);

// The audible beep. Counted, so tests can tell that it sounded.
void Beep();
int BeepCount();

// Runs the pending window events and returns. False when there was nothing to run.
bool DoEvents();

// What a save-file dialog shows. `filter` lists description and pattern pairs separated by '|'
// ("Rich Text Files|*.rtf"); `initialName` is proposed in `initialFolder`.
struct SaveDialogOptions {
    QString title;
    QString filter;
    QString initialName;
    QString initialFolder;
    bool overwritePrompt = true;  // ask before an existing file is chosen
};

// Shows a modal save-file dialog and returns the chosen path, exactly as chosen: no extension
// is added. Cancelling raises AppError(ErrNo::kDialogCancelled, "Cancel was selected.",
// "CommonDialog"). With a hook installed, the hook answers instead and nothing is shown.
QString GetSaveFileName(const SaveDialogOptions& options, QWidget* parent = nullptr);

// Answers every save dialog with a path, or an empty string for Cancel; an empty hook restores
// the real dialog.
using SaveDialogHook = std::function<QString(const SaveDialogOptions&)>;
void SetSaveDialogHook(SaveDialogHook hook);

// What an open-file dialog shows: `filter` as for the save dialog, opening in `initialFolder`
// with `initialName` proposed when it is not empty.
struct OpenDialogOptions {
    QString title;
    QString filter;
    QString initialFolder;
    QString initialName;
};

// Shows a modal open-file dialog for one existing file and returns its path; empty when the
// user cancels. With a hook installed, the hook answers instead and nothing is shown.
QString GetOpenFileName(const OpenDialogOptions& options, QWidget* parent = nullptr);

// Answers every open dialog with a path, or an empty string for Cancel; an empty hook restores
// the real dialog.
using OpenDialogHook = std::function<QString(const OpenDialogOptions&)>;
void SetOpenDialogHook(OpenDialogHook hook);

// Turns a '|'-separated filter into the dialog's name filters:
// "Rich Text Files|*.rtf" gives {"Rich Text Files (*.rtf)"}; patterns separated by ';' are
// listed with blanks. A description without its pattern is dropped.
QStringList NameFiltersFromPipes(const QString& filter);

}  // namespace ui
