#include "app/frmDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include "app/database_choice.h"
#include "app/database_tables.h"
#include "core/windowing.h"
#include "records/database.h"
#include "records/target.h"
#include "ui_frmDatabase.h"

frmDatabase::frmDatabase(const QString& currentConnection, const QString& currentShown,
                         QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmDatabase>()) {
    ui_->setupUi(this);
    ui_->lblCurrent->setText(QStringLiteral("Importing into: ") + currentShown);
    if (db::KindOfTarget(currentConnection) == db::TargetKind::kFile) {
        ui_->txtFile->setText(QDir::toNativeSeparators(currentShown));
    } else {
        ui_->optServer->setChecked(true);
        ui_->txtServer->setText(TargetWithoutPassword(currentConnection));
    }
    // Ready for another path or address to be typed over the current one.
    QLineEdit* current = ui_->optFile->isChecked() ? ui_->txtFile : ui_->txtServer;
    current->setFocus();
    current->selectAll();
    connect(ui_->cmdBrowse, &QPushButton::clicked, this, &frmDatabase::cmdBrowse_Click);
    connect(ui_->optFile, &QRadioButton::toggled, this, &frmDatabase::EnableChoice);
    EnableChoice();
}

frmDatabase::~frmDatabase() = default;

void frmDatabase::EnableChoice() {
    const bool file = ui_->optFile->isChecked();
    const std::initializer_list<QWidget*> fileWidgets{ui_->txtFile, ui_->cmdBrowse};
    const std::initializer_list<QWidget*> serverWidgets{
        ui_->lblServer, ui_->txtServer, ui_->lblPassword, ui_->txtPassword, ui_->lblPasswordNote};
    for (QWidget* widget : fileWidgets) {
        widget->setEnabled(file);
    }
    for (QWidget* widget : serverWidgets) {
        widget->setEnabled(!file);
    }
}

void frmDatabase::cmdBrowse_Click() {
    const QFileInfo current(ui_->txtFile->text().trimmed());
    ui::OpenDialogOptions options;
    options.title = QStringLiteral("Open an Equipment Database");
    options.filter =
        QStringLiteral("Equipment databases|*.mdb;*.db;*.sqlite;*.sqlite3|All files|*");
    options.initialFolder = current.fileName().isEmpty() || !current.dir().exists()
                                ? QDir::homePath()
                                : current.absolutePath();
    options.initialName = current.fileName();
    const QString path = ui::GetOpenFileName(options, this);
    if (!path.isEmpty()) {
        ui_->txtFile->setText(QDir::toNativeSeparators(path));
    }
}

void frmDatabase::accept() {
    QString target;
    if (ui_->optFile->isChecked()) {
        const QString path = ui_->txtFile->text().trimmed();
        target = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    } else {
        target = ui_->txtServer->text().trimmed();
        if (!target.isEmpty() && db::KindOfTarget(target) == db::TargetKind::kFile) {
            ui::MsgBox(QStringLiteral("A server's address starts with postgresql://, postgres:// "
                                      "or odbc:."),
                       ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
            return;
        }
    }
    if (target.isEmpty()) {
        ui::Beep();
        return;
    }
    const QString connection = db::ConnectionStringForTarget(TargetWithPassword(
        target, ui_->optFile->isChecked() ? QString() : ui_->txtPassword->text()));
    // Reaching a server may take a while.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    db::Database database(connection);
    const bool usable = CheckDatabaseTables(database, error);
    QGuiApplication::restoreOverrideCursor();
    if (!usable) {
        ui::MsgBox(error, ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
        return;
    }
    target_ = target;
    connection_ = connection;
    QDialog::accept();
}
