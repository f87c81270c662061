#include "core/windowing.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "core/error.h"

namespace ui {
namespace {
MsgBoxHook& Hook() {
    static MsgBoxHook hook;
    return hook;
}
int beeps = 0;
SaveDialogHook& SaveHook() {
    static SaveDialogHook hook;
    return hook;
}
OpenDialogHook& OpenHook() {
    static OpenDialogHook hook;
    return hook;
}
}  // namespace

MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, QWidget* parent) {
    if (Hook()) {
        return Hook()(text, buttons, icon);
    }
    QMessageBox box(parent ? parent : QApplication::activeWindow());
    box.setWindowTitle(kAppTitle);
    // Messages quote file names and file values: markup in them is text, never formatting.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(icon == MsgIcon::kQuestion ? QMessageBox::Question : QMessageBox::NoIcon);
    if (buttons == MsgButtons::kYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::kYes : MsgAnswer::kNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::kOk;
}

void SetMsgBoxHook(MsgBoxHook hook) {
    Hook() = std::move(hook);
}

void Beep() {
    ++beeps;
    QApplication::beep();
}

int BeepCount() {
    return beeps;
}

bool DoEvents() {
    // What QCoreApplication::processEvents does, telling whether anything was handled.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
}

QString GetSaveFileName(const SaveDialogOptions& options, QWidget* parent) {
    QString path;
    if (SaveHook()) {
        path = SaveHook()(options);
    } else {
        QFileDialog dialog(parent ? parent : QApplication::activeWindow(), options.title,
                           options.initialFolder);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(NameFiltersFromPipes(options.filter));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.overwritePrompt);
        dialog.selectFile(options.initialName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
        }
    }
    if (path.isEmpty()) {
        throw AppError(ErrNo::kDialogCancelled, "Cancel was selected.", "CommonDialog");
    }
    return path;
}

void SetSaveDialogHook(SaveDialogHook hook) {
    SaveHook() = std::move(hook);
}

QString GetOpenFileName(const OpenDialogOptions& options, QWidget* parent) {
    if (OpenHook()) {
        return OpenHook()(options);
    }
    QFileDialog dialog(parent ? parent : QApplication::activeWindow(), options.title,
                       options.initialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFiltersFromPipes(options.filter));
    if (!options.initialName.isEmpty()) {
        dialog.selectFile(options.initialName);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        return dialog.selectedFiles().constFirst();
    }
    return {};
}

void SetOpenDialogHook(OpenDialogHook hook) {
    OpenHook() = std::move(hook);
}

QStringList NameFiltersFromPipes(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        filters << parts.at(i) + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

}  // namespace ui
