#pragma once

#include <QDialog>
#include <memory>

class QWidget;
struct SessionState;
namespace db {
class Database;
}

namespace Ui {
class frmSelManu;
}

// Shows the manufacturer selection dialog modally for session.sManuID, over `database`, and
// returns when it has closed. Its outcome is left in the session (sManuID, sManuName, bCancel)
// and in aManuMap. When the manufacturer list cannot be read, the error is shown and the call
// acts as "Cancel".
void ShowSelManu(SessionState& session, db::Database& database, QWidget* parent);

// "Select  Manufacturer": names the file's manufacturer ID that the database lacks and lists
// every manufacturer. "Done" maps the ID to the selected manufacturer, "New..." enters a new one
// in "Add a Manufacturer" and then closes this dialog too, "Cancel" (also Escape or closing the
// window) sets bCancel. Each command closes the dialog.
class frmSelManu : public QDialog {
    Q_OBJECT
  public:
    // `database` must outlive the dialog.
    frmSelManu(SessionState& session, db::Database& database, QWidget* parent = nullptr);
    ~frmSelManu() override;

    // Names sManuID in the title band and fills the list. False when the list cannot be read:
    // the error (number, blank, description) has been shown, bCancel is set, and the dialog
    // must not be shown.
    bool Form_Load();

    // Refills lv1 from the database, in name order. Each row shows the ID and the name (a null
    // as empty text) and carries the key "<row number>|<ManufacturerID>" as data of its first
    // column (kKeyRole). Raises AppError when the list cannot be read; the list is then empty.
    void Rebind();

    // "Done": appends {sManuID, name, ID} of the selected row to aManuMap, sets sManuID and
    // sManuName to the row's ID and name and closes. Ignored while no row is selected.
    void Command1_Click();
    // "New...": opens "Add a Manufacturer" pre-filled with sManuID in both boxes, waits for it,
    // then closes. If that dialog cannot load, acts as "Cancel".
    void cmdNew_Click();
    // "Cancel": sets bCancel and closes.
    void cmdCancel_Click();

    // Escape and the window's close button act as "Cancel".
    void reject() override;

    static constexpr int kKeyRole = Qt::UserRole;

  private:
    void UpdateDoneEnabled();

    std::unique_ptr<Ui::frmSelManu> ui_;
    SessionState& session_;
    db::Database& database_;
};
