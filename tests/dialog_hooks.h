#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

#include "core/windowing.h"

class QWidget;

// Stands in for the user at every message box, save and open dialog while it lives, and restores
// the real ones and the application folder when it goes, so that no test waits on a real box.
class DialogHooks {
  public:
    DialogHooks();
    ~DialogHooks();
    DialogHooks(const DialogHooks&) = delete;
    DialogHooks& operator=(const DialogHooks&) = delete;

    // Every message box's text, in order; a Yes/No question is noted with " [Yes/No]" and, with
    // its icon, " [?]".
    QStringList boxes;
    // Answers the Yes/No questions; unset: Yes.
    std::function<bool(const QString& text)> answerYes;
    // The save dialog's answer (empty: Cancel) and every dialog's options.
    QString savePath;
    std::vector<ui::SaveDialogOptions> saveDialogs;
    // The open dialog's answer (empty: Cancel) and every dialog's options.
    QString openPath;
    std::vector<ui::OpenDialogOptions> openDialogs;

    // From now on, acts on the modal dialogs that open: the first action on the first dialog,
    // and so on, each from an event of its own (a dialog that an action opens runs a nested
    // loop). A dialog that opens once the actions are used up is rejected. The title of every
    // dialog met is noted in `dialogs`.
    void ActOnDialogs(std::vector<std::function<void(QWidget*)>> actions);
    QStringList dialogs;

  private:
    QTimer driver_;
    std::vector<std::function<void(QWidget*)>> actions_;
    std::size_t next_ = 0;
};
