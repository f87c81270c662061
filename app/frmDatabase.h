#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class frmDatabase;
}

// "Equipment Database": chooses the database that the import window works on, either an SQLite
// file (typed, or picked in an open-file dialog) or a server's address, a PostgreSQL URI or an
// odbc: connection string, with a password for this session only. OK accepts the choice only
// once its tables have been checked (CheckDatabaseTables); otherwise a message says what is
// wrong and the dialog stays open.
class frmDatabase : public QDialog {
    Q_OBJECT

  public:
    // The dialog starts with the session's database: its connection string (whose password
    // it leaves out) and the name the user knows it by.
    frmDatabase(const QString& currentConnection, const QString& currentShown,
                QWidget* parent = nullptr);
    ~frmDatabase() override;

    // Once accepted: the TARGET as entered (records/target.h; it may hold a password typed
    // into the address, so remember it only through RememberDatabase), and the connection
    // string for the session, with the password.
    const QString& Target() const { return target_; }
    const QString& Connection() const { return connection_; }

    void accept() override;

  private:
    void cmdBrowse_Click();
    void EnableChoice();

    std::unique_ptr<Ui::frmDatabase> ui_;
    QString target_;
    QString connection_;
};
