#include "manufacturer/frmSelManu.h"

#include <QTreeWidgetItem>

#include "core/error.h"
#include "core/session.h"
#include "core/windowing.h"
#include "manufacturer/frmAddManufacturer.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "ui_frmSelManu.h"

void ShowSelManu(SessionState& session, db::Database& database, QWidget* parent) {
    frmSelManu dialog(session, database, parent);
    if (dialog.Form_Load()) {
        dialog.exec();
    }
}

frmSelManu::frmSelManu(SessionState& session, db::Database& database, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmSelManu>()),
      session_(session),
      database_(database) {
    ui_->setupUi(this);
    connect(ui_->Command1, &QPushButton::clicked, this, &frmSelManu::Command1_Click);
    connect(ui_->cmdNew, &QPushButton::clicked, this, &frmSelManu::cmdNew_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmSelManu::cmdCancel_Click);
    connect(ui_->lv1, &QTreeWidget::itemSelectionChanged, this, &frmSelManu::UpdateDoneEnabled);
    UpdateDoneEnabled();
}

frmSelManu::~frmSelManu() = default;

bool frmSelManu::Form_Load() {
    ui_->Label2->setText("ManufactuerID Not Found " + session_.sManuID);
    try {
        Rebind();
    } catch (const AppError& error) {
        ui::MsgBox(ErrorText(error), ui::MsgButtons::kOk, ui::MsgIcon::kNone, parentWidget());
        session_.bCancel = true;
        return false;
    }
    ui_->lv1->setFocus();
    return true;
}

void frmSelManu::Rebind() {
    QTreeWidget* lv1 = ui_->lv1;
    lv1->clear();
    db::Recordset list;
    list.setActiveConnection(database_);
    list.Open(sql::kManufacturerList, {}, db::CursorType::kStatic, db::LockType::kReadOnly);
    QList<QTreeWidgetItem*> items;
    int row = 0;
    while (!list.IsEOF()) {
        ++row;
        // A null turns into empty text here.
        const QString id = list.Field("ManufacturerID").toString();
        const QString name = list.Field("ManufacturerName").toString();
        auto* item = new QTreeWidgetItem(QStringList{id, name});
        item->setData(0, kKeyRole, QString::number(row) + '|' + id);
        items.append(item);
        list.MoveNext();
    }
    lv1->addTopLevelItems(items);
}

void frmSelManu::UpdateDoneEnabled() {
    ui_->Command1->setEnabled(!ui_->lv1->selectedItems().isEmpty());
}

void frmSelManu::Command1_Click() {
    const QList<QTreeWidgetItem*> selected = ui_->lv1->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const QString id = selected.first()->text(0);
    const QString name = selected.first()->text(1);
    session_.aManuMap.push_back(ManuMapEntry{session_.sManuID, name, id});
    session_.sManuID = id;
    session_.sManuName = name;
    QDialog::done(QDialog::Accepted);
}

void frmSelManu::cmdNew_Click() {
    {
        frmAddManufacturer add(session_, database_, this);
        if (!add.Form_Load()) {
            cmdCancel_Click();
            return;
        }
        add.SetManufacturerID(session_.sManuID);
        add.SetManufacturerName(session_.sManuID);
        add.exec();
    }
    QDialog::done(QDialog::Accepted);
}

void frmSelManu::cmdCancel_Click() {
    session_.bCancel = true;
    QDialog::done(QDialog::Rejected);
}

void frmSelManu::reject() {
    cmdCancel_Click();
}
