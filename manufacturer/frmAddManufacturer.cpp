#include "manufacturer/frmAddManufacturer.h"

#include <QFocusEvent>
#include <QShortcutEvent>
#include <QTimer>

#include "core/error.h"
#include "core/session.h"
#include "core/windowing.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "ui_frmAddManufacturer.h"

frmAddManufacturer::frmAddManufacturer(SessionState& session, db::Database& database,
                                       QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmAddManufacturer>()),
      session_(session),
      database_(database) {
    ui_->setupUi(this);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);

    connect(Timer1, &QTimer::timeout, this, &frmAddManufacturer::Timer1_Timer);
    connect(ui_->txtManufacturerName, &QLineEdit::textChanged, this,
            &frmAddManufacturer::txtManufacturerName_Change);
    connect(ui_->Command1, &QPushButton::clicked, this, [this] { command1_Click(0); });
    ui_->txtManufacturerName->installEventFilter(this);
    ui_->txtManufacturerID->installEventFilter(this);
    ui_->Command1->installEventFilter(this);
}

frmAddManufacturer::~frmAddManufacturer() = default;

bool frmAddManufacturer::Form_Load() {
    ui_->txtManufacturerID->clear();
    ui_->txtManufacturerName->clear();
    try {
        auto rs = std::make_unique<db::Recordset>();
        rs->setActiveConnection(database_);
        rs->Open(sql::kManufacturerTable, {}, db::CursorType::kStatic, db::LockType::kOptimistic);
        nameSize_ = rs->DefinedSize("ManufacturerName");
        rsAddManufacturer = std::move(rs);
    } catch (const AppError& error) {
        ui::MsgBox(ErrorText(error), ui::MsgButtons::kOk, ui::MsgIcon::kNone, parentWidget());
        return false;
    }
    Timer1->start();
    return true;
}

void frmAddManufacturer::SetManufacturerID(const QString& text) {
    ui_->txtManufacturerID->setText(text);
}

void frmAddManufacturer::SetManufacturerName(const QString& text) {
    ui_->txtManufacturerName->setText(text);
}

void frmAddManufacturer::Timer1_Timer() {
    ui_->txtManufacturerName->selectAll();
    Timer1->stop();
}

void frmAddManufacturer::txtManufacturerName_Change() {
    QLineEdit* name = ui_->txtManufacturerName;
    ui_->txtManufacturerID->setText(name->text());
    if (!rsAddManufacturer || rsAddManufacturer->State() != db::ObjectState::kOpen) {
        return;
    }
    const int length = static_cast<int>(name->text().size());
    if (length > nameSize_) {
        // Cutting is itself a change: the nested run copies, places the caret and beeps.
        name->setText(name->text().left(nameSize_));
        return;
    }
    if (length == nameSize_) {
        name->setCursorPosition(length);
        ui::Beep();
    }
}

void frmAddManufacturer::txtManufacturerName_LostFocus() {
    ui_->txtManufacturerName->setText(ui_->txtManufacturerName->text().toUpper());
    txtManufacturerID_LostFocus();
}

void frmAddManufacturer::txtManufacturerID_LostFocus() {
    QLineEdit* id = ui_->txtManufacturerID;
    id->setText(id->text().toUpper());
    if (id->text().size() <= kMaxIdLength) {
        ui_->Label1->setText("Eight Chars. Max");
        return;
    }
    id->setText(id->text().left(kMaxIdLength));
    ui_->Label1->setText("I Said...Eight Chars. Max");
    ui::Beep();
    FocusManufacturerID();
}

void frmAddManufacturer::FocusManufacturerID() {
    // The box that just received the focus is not being left by the user.
    refocusing_ = true;
    ui_->txtManufacturerID->setFocus(Qt::OtherFocusReason);
    refocusing_ = false;
}

DisplayChecks frmAddManufacturer::Checks() const {
    DisplayChecks checks;
    checks.all = ui_->chkAll->checkState();
    checks.equipment = ui_->chkEquip->checkState();
    checks.jackFields = ui_->chkJF->checkState();
    checks.routers = ui_->chkRTR->checkState();
    checks.jboxes = ui_->chkJB->checkState();
    checks.cableTypes = ui_->chkCable->checkState();
    return checks;
}

void frmAddManufacturer::command1_Click(int Index) {
    if (Index != 0) {
        return;
    }
    session_.sManuID = ui_->txtManufacturerID->text();
    session_.sManuName = ui_->txtManufacturerName->text();
    if (!rsAddManufacturer) {
        return;
    }
    const SaveResult result =
        SaveManufacturer(*rsAddManufacturer, session_.sManuID, session_.sManuName, Checks());
    switch (result.outcome) {
        case SaveOutcome::kStored:
            session_.manufacturersAdded.push_back({session_.sManuID, session_.sManuName});
            accept();
            return;
        case SaveOutcome::kEmptyEntry:
            ui::Beep();
            break;
        case SaveOutcome::kAlreadyExists:
            ui::Beep();
            ui::MsgBox(result.message, ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
            break;
        case SaveOutcome::kFailed:
            ui::MsgBox(result.message, ui::MsgButtons::kOk, ui::MsgIcon::kNone, this);
            break;
    }
    FocusManufacturerID();
}

void frmAddManufacturer::Form_Unload() {
    rsAddManufacturer.reset();
}

void frmAddManufacturer::done(int result) {
    Timer1->stop();
    Form_Unload();
    QDialog::done(result);
}

bool frmAddManufacturer::eventFilter(QObject* watched, QEvent* event) {
    // The access key of Add moves the focus to the button before it clicks, as the mouse does:
    // the box being left applies its rules (upper case, eight characters) to what is stored.
    if (watched == ui_->Command1 && event->type() == QEvent::Shortcut &&
        !static_cast<QShortcutEvent*>(event)->isAmbiguous()) {
        ui_->Command1->setFocus(Qt::ShortcutFocusReason);
    }
    if (event->type() == QEvent::FocusOut && !refocusing_) {
        // Switching to another window or opening a context menu does not leave the box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == ui_->txtManufacturerName) {
                txtManufacturerName_LostFocus();
            } else if (watched == ui_->txtManufacturerID) {
                txtManufacturerID_LostFocus();
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
