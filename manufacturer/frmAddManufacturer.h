#pragma once

#include <QDialog>
#include <QString>
#include <climits>
#include <memory>

#include "manufacturer/manufacturer_save.h"

class QTimer;
struct SessionState;

namespace db {
class Database;
class Recordset;
}  // namespace db
namespace Ui {
class frmAddManufacturer;
}

// "Add a Manufacturer": one new manufacturer, an ID and a name, entered for the equipment
// database. While the name is typed it is copied into the ID and held within the width of the
// name column; leaving a box upper-cases both and holds the ID to eight characters. Add hands
// the entry to the session (sManuID, sManuName) and stores it; the dialog closes only when the
// row was stored and otherwise stays open with the focus in the ID box for a correction.
class frmAddManufacturer : public QDialog {
    Q_OBJECT
  public:
    // The ID limit that leaving a box enforces.
    static constexpr int kMaxIdLength = 8;

    // `database` must outlive the dialog.
    frmAddManufacturer(SessionState& session, db::Database& database, QWidget* parent = nullptr);
    ~frmAddManufacturer() override;

    // Clears both boxes, opens the dialog's recordset on the whole manufacturer table and starts
    // Timer1. Call once, before setting texts or showing.
    // False when the recordset cannot be opened or the name column's width cannot be read: the
    // error (number, blank, description) has been shown and the dialog must not be shown.
    bool Form_Load();

    // Pre-fill from outside. Setting the name runs the name's change rule (the ID follows it).
    void SetManufacturerID(const QString& text);
    void SetManufacturerName(const QString& text);

    // The Add command (Index 0; other indexes do nothing). Copies the two boxes into sManuID and
    // sManuName first, then saves. Stored: the dialog closes (accepted). Empty entry: beep.
    // Duplicate: beep and the "already exists" message. Other refusal: its description in a
    // message. In each refused case the dialog stays open with the focus in the ID box.
    void command1_Click(int Index);

    // The check boxes of the display group as they stand.
    DisplayChecks Checks() const;

    // Releases the recordset; runs whenever the dialog closes.
    void Form_Unload();

    void done(int result) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Timer1_Timer();
    void txtManufacturerName_Change();
    void txtManufacturerName_LostFocus();
    void txtManufacturerID_LostFocus();
    // Puts the focus into the ID box without running the lost-focus rules of the box it leaves.
    void FocusManufacturerID();

    std::unique_ptr<Ui::frmAddManufacturer> ui_;
    SessionState& session_;
    db::Database& database_;
    std::unique_ptr<db::Recordset> rsAddManufacturer;
    QTimer* Timer1;
    // Width of the name column, read at load; INT_MAX when it declares none.
    int nameSize_ = INT_MAX;
    bool refocusing_ = false;
};
