#include "tests/dialog_hooks.h"

#include <QApplication>
#include <QDialog>

#include "core/platform.h"

DialogHooks::DialogHooks() {
    ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons buttons, ui::MsgIcon icon) {
        if (buttons == ui::MsgButtons::kOk) {
            boxes << text;
            return ui::MsgAnswer::kOk;
        }
        boxes << text + " [Yes/No]" + (icon == ui::MsgIcon::kQuestion ? " [?]" : "");
        return !answerYes || answerYes(text) ? ui::MsgAnswer::kYes : ui::MsgAnswer::kNo;
    });
    ui::SetSaveDialogHook([this](const ui::SaveDialogOptions& options) {
        saveDialogs.push_back(options);
        return savePath;
    });
    ui::SetOpenDialogHook([this](const ui::OpenDialogOptions& options) {
        openDialogs.push_back(options);
        return openPath;
    });
    QObject::connect(&driver_, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        // Marked, not remembered by address: the next dialog may be created at the same one.
        if (modal == nullptr || modal->property("answeredByTest").toBool()) {
            return;
        }
        modal->setProperty("answeredByTest", true);
        dialogs << modal->windowTitle();
        if (next_ < actions_.size()) {
            QTimer::singleShot(0, modal, [action = actions_[next_++], modal] { action(modal); });
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            QTimer::singleShot(0, dialog, &QDialog::reject);
        }
    });
}

DialogHooks::~DialogHooks() {
    ui::SetMsgBoxHook({});
    ui::SetSaveDialogHook({});
    ui::SetOpenDialogHook({});
    platform::SetAppFolderForTesting({});
}

void DialogHooks::ActOnDialogs(std::vector<std::function<void(QWidget*)>> actions) {
    actions_ = std::move(actions);
    next_ = 0;
    driver_.start(5);
}
