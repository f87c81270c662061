// The import window's database: offered when there is none yet, chosen through "Database...",
// closed when the window closes or another is chosen (see frmImportFlex.h).
#include <QDir>

#include "app/database_choice.h"
#include "app/database_tables.h"
#include "app/frmDatabase.h"
#include "app/frmImportFlex.h"
#include "core/error.h"
#include "records/database.h"
#include "records/target.h"
#include "ui_frmImportFlex.h"

void frmImportFlex::OfferDatabase(DatabaseChoice& database) {
    const QString question =
        QStringLiteral(
            "There is no equipment database in %1 yet.\n\nCreate an empty one there now, with "
            "the tables and no rows?\nAnswer No to choose an existing database instead.")
            .arg(QDir::toNativeSeparators(database.folder));
    if (AskYesNo(question)) {
        QString error;
        const QString schema = QDir(PackagedDataFolder()).filePath(QStringLiteral("schema.sql"));
        if (CreateDatabaseFromSchema(schema, database.shown, error)) {
            database.missing = false;
        } else {
            ShowMessage(error);
        }
        return;
    }
    frmDatabase dialog(database.connection, database.shown, this);
    if (dialog.exec() == QDialog::Accepted) {
        RememberDatabase(dialog.Target());
        database.source = DatabaseSource::kRemembered;
        database.connection = dialog.Connection();
        database.shown = db::DescribeConnection(dialog.Connection());
        database.missing = false;
    }
}

void frmImportFlex::UseDatabase(const QString& connection, const QString& shown) {
    session_.sEquipConnection = connection;
    // The database in use before is closed, which gives its file back its own journal mode;
    // the new one opens at its first statement.
    CloseDatabase();
    database_ = std::make_unique<db::Database>(connection);
    databaseShown_ = shown;
    setWindowTitle(baseTitle_ + QStringLiteral(" - ") + shown);
}

void frmImportFlex::cmdDatabase_Click() {
    if (session_.bRunActive) {
        return;
    }
    frmDatabase dialog(session_.sEquipConnection, databaseShown_, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    RememberDatabase(dialog.Target());
    session_.aManuMap.assign(1, ManuMapEntry{});
    session_.ForgetManufacturers();
    UseDatabase(dialog.Connection(), db::DescribeConnection(dialog.Connection()));
}

void frmImportFlex::CloseDatabase() {
    if (database_ == nullptr) {
        return;
    }
    if (const std::optional<AppError> left = database_->Close()) {
        ShowMessage(ErrorWithSource(*left));
    }
}
