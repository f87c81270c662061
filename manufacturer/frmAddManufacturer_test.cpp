#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <memory>

#include "core/session.h"
#include "core/windowing.h"
#include "manufacturer/frmAddManufacturer.h"
#include "manufacturer/manufacturer_save.h"
#include "records/database.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "tests/dialog_hooks.h"
#include "tests/engine_fixture.h"

namespace {

class AddManufacturerTest : public ::testing::TestWithParam<Store> {
  protected:
    void SetUp() override { UseDemo({}, {}); }
    // The demo database, with `from` replaced by `to` in its schema.
    void UseDemo(const QString& from, const QString& to) {
        database.reset();
        db = std::make_unique<TempDb>(
            GetParam(), DemoSchemaSql(GetParam()).replace(from, to) + ';' + DemoRowsSql(GetParam()),
            false);
        database = std::make_unique<db::Database>(db->connection());
    }
    // The demo database with `column` of tblManufacturers narrowed to `width` characters and
    // held to `check`. A server refuses rows wider than their columns: there the demo rows that
    // do not fit are left out.
    void UseNarrowed(const QString& column, int width, const QString& check = {}) {
        const QString rule = check.isEmpty() ? QString() : " CHECK (" + check + ")";
        if (!IsPostgres(GetParam())) {
            UseDemo(column + " VARCHAR(50)",
                    QString("%1 VARCHAR(%2)").arg(column).arg(width) + rule);
            return;
        }
        UseDemo({}, {});
        db->Exec(QString("DELETE FROM tblManufacturers WHERE length(%1) > %2; ALTER TABLE "
                         "tblManufacturers ALTER COLUMN %1 TYPE VARCHAR(%2) COLLATE nocase")
                     .arg(column)
                     .arg(width) +
                 (rule.isEmpty() ? QString() : "; ALTER TABLE tblManufacturers ADD" + rule));
    }
    // The manufacturer row of `id`.
    QStringList Row(const QString& id) const {
        return db->Rows("select * from tblManufacturers where ManufacturerID = '" + id + "'");
    }

    // Loads the dialog, pre-fills both boxes as the selection dialog does and shows it, active.
    void Show(const QString& prefill) {
        dialog = std::make_unique<frmAddManufacturer>(session, *database);
        EXPECT_TRUE(dialog->Form_Load());
        dialog->SetManufacturerID(prefill);
        dialog->SetManufacturerName(prefill);
        beeps = ui::BeepCount();
        dialog->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    int NewBeeps() const { return ui::BeepCount() - beeps; }
    QLineEdit* Name() const { return dialog->findChild<QLineEdit*>("txtManufacturerName"); }
    QLineEdit* Id() const { return dialog->findChild<QLineEdit*>("txtManufacturerID"); }
    QString Boxes() const { return Name()->text() + '|' + Id()->text(); }
    // Puts the caret at the end of `box` as a mouse click would, without selecting.
    void ClickInto(QLineEdit* box) const {
        box->setFocus(Qt::MouseFocusReason);
        box->end(false);
    }
    std::unique_ptr<TempDb> db;
    std::unique_ptr<db::Database> database;  // over db
    SessionState session;
    DialogHooks hooks;
    QStringList& messages = hooks.boxes;
    std::unique_ptr<frmAddManufacturer> dialog;
    int beeps = 0;
};

TEST_P(AddManufacturerTest, TypedEntryIsCopiedUpperCasedCutAndStoredInAllLibraries) {
    Show("acme");
    EXPECT_TRUE(Name()->hasFocus());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Name()->selectedText() == "acme"; }));
    QTest::keyClicks(Name(), "new compan");  // overtypes; eight characters apply only on leaving
    EXPECT_EQ(Boxes(), "new compan|new compan");
    ClickInto(Id());
    QTest::keyClick(Id(), Qt::Key_Backspace);  // an ID edited by hand is overwritten
    ClickInto(Name());
    QTest::keyClick(Name(), 'y');
    EXPECT_EQ(Boxes(), "NEW COMPANy|NEW COMPANy");
    QTest::keyClick(Name(), Qt::Key_Tab);  // the ID is cut to eight and keeps the focus
    EXPECT_EQ(Boxes(), "NEW COMPANY|NEW COMP");
    Id()->selectAll();
    QTest::keyClicks(Id(), "newco");
    QTest::mouseClick(dialog->findChild<QWidget*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(Row("NEWCO"), QStringList{"NEWCO|NEW COMPANY|-1|-1|-1|-1|-1|<null>"});
    EXPECT_EQ(session.sManuID + '|' + session.sManuName, "NEWCO|NEW COMPANY");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(NewBeeps(), 2);  // one for each cut ID
}

// Add's access key leaves the box as a click on Add does: its rules apply to what is stored.
TEST_P(AddManufacturerTest, AccessKeyOfAddAppliesTheRulesOfTheBoxItLeaves) {
    for (const char* box : {"txtManufacturerName", "txtManufacturerID"}) {
        SCOPED_TRACE(box);
        Show("");
        auto* edit = dialog->findChild<QLineEdit*>(box);
        ClickInto(edit);
        QTest::keyClicks(edit, "Quasar Video Labs");
        QTest::keyClick(edit, Qt::Key_A, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 2000));
        EXPECT_EQ(session.sManuID + '|' + session.sManuName,
                  box == QString("txtManufacturerID") ? "QUASAR V|" : "QUASAR V|QUASAR VIDEO LABS");
        db->Exec("DELETE FROM tblManufacturers WHERE ManufacturerID = 'QUASAR V'");
    }
}

TEST_P(AddManufacturerTest, NameIsHeldToItsWidthLeavingABoxUpperCasesAndHoldsTheIdToEight) {
    UseNarrowed("ManufacturerName", 10);
    Show("");
    ClickInto(Name());
    QTest::keyClicks(Name(), "abcdefghi");
    EXPECT_EQ(NewBeeps(), 0);
    QTest::keyClick(Name(), 'j');  // reaches the width
    EXPECT_EQ(NewBeeps(), 1);
    QTest::keyClicks(Name(), "kl");  // each one cut off again
    EXPECT_EQ(NewBeeps(), 3);
    EXPECT_EQ(Boxes(), "abcdefghij|abcdefghij");
    EXPECT_EQ(Name()->cursorPosition(), 10);
    const QString kShort = "Eight Chars. Max", kCut = "I Said...Eight Chars. Max";
    const struct {
        bool typeIntoId;
        QString typed, boxes, caption;
        int beeps;  // a cut ID also keeps the focus
    } cases[] = {
        {false, "acme", "ACME|ACME", kShort, 0},
        {false, "northline", "NORTHLINE|NORTHLIN", kCut, 1},
        {true, "abcdefgh", "|ABCDEFGH", kShort, 0},
        {true, "abcdefghi", "|ABCDEFGH", kCut, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        Show("");
        QLineEdit* box = c.typeIntoId ? Id() : Name();
        ClickInto(box);
        QTest::keyClicks(box, c.typed);
        // Shift+Tab from the name box and Tab from the ID box both go to Add.
        QTest::keyClick(box, Qt::Key_Tab, c.typeIntoId ? Qt::NoModifier : Qt::ShiftModifier);
        EXPECT_EQ(Boxes(), c.boxes);
        EXPECT_EQ(dialog->findChild<QWidget*>("Label1")->property("text").toString(), c.caption);
        EXPECT_EQ(NewBeeps(), c.beeps);
        EXPECT_EQ(Id()->hasFocus(), c.beeps == 1);
    }
}

TEST_P(AddManufacturerTest, RefusedEntryKeepsTheDialogOpenUntilCorrectedFailedLoadRefusesIt) {
    // Only a duplicate ID is "already exists"; a row that another rule refuses says why.
    UseNarrowed("ManufacturerID", 5, "ManufacturerID <> 'NO'");
    const int manufacturers = db->Scalar("select count(*) from tblManufacturers").toInt();
    Show("");
    dialog->command1_Click(0);  // nothing to add: only a beep
    EXPECT_EQ(NewBeeps(), 1);
    EXPECT_TRUE(Id()->hasFocus());
    Name()->setText("Acme Broadcast");
    Id()->setText("acme");
    dialog->command1_Click(0);
    EXPECT_EQ(NewBeeps(), 2);
    // The entry reached the session before it was refused.
    EXPECT_EQ(session.sManuID + '|' + session.sManuName, "acme|Acme Broadcast");
    Id()->setText("Longname");
    dialog->command1_Click(0);
    Id()->setText("NO");
    dialog->command1_Click(0);
    EXPECT_EQ(NewBeeps(), 2);
    ASSERT_EQ(messages.size(), 3);
    EXPECT_EQ(messages.mid(0, 2).join('\n'),
              "The ManufacturerID acme already exists in the database. Please modify your entry.\n"
              "The value 'Longname' is too long for tblManufacturers.ManufacturerID, which holds "
              "at most 5 characters.");
    EXPECT_TRUE(messages[2].startsWith("The row was refused by a rule of tblManufacturers in "))
        << messages[2].toStdString();
    EXPECT_TRUE(dialog->isVisible());
    Id()->setText("ACME2");  // stores only the corrected row
    dialog->command1_Click(0);
    EXPECT_EQ(db->Scalar("select count(*) from tblManufacturers").toInt(), manufacturers + 1);
    EXPECT_EQ(Row("ACME2"), QStringList{"ACME2|Acme Broadcast|-1|-1|-1|-1|-1|<null>"});
    EXPECT_FALSE(dialog->isVisible());
    // A table that cannot be opened is reported and refuses the dialog.
    db->Exec("DROP TABLE tblManufacturers");
    database->Close();  // a server keeps prepared statements on the table
    EXPECT_FALSE(frmAddManufacturer(session, *database).Form_Load());
    EXPECT_TRUE(QRegularExpression(R"(^-?\d+ \S)").match(messages.value(3)).hasMatch());
}

// Only a duplicate key is "already exists": a table that another program holds, a user who may
// not add rows and a table that is gone are each told as what they are. The wait for the held
// table is measured by a clock that moves a second a pause and nothing else.
TEST_P(AddManufacturerTest, OnlyADuplicateKeyIsToldAsAlreadyExisting) {
    const bool server = IsPostgres(GetParam());
    const struct {
        const char* what;
        QString id;
        QString part;  // of the message, in any letter case
    } cases[] = {
        {"a duplicate key", "acme",
         "The ManufacturerID acme already exists in the database. Please modify your entry."},
        {"held", "NEW1", "is locked by another program (waited 3 seconds)"},
        {"no right", "NEW2", "does not let this user add rows to tblManufacturers."},
        {"gone", "NEW3", "tblmanufacturers"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.id == "NEW2" && !server) {
            continue;  // only a server has users
        }
        db::Database as(c.id == "NEW2" ? db->ConnectionAs(db->RoleWithoutInsert("tblManufacturers"))
                                       : db->connection());
        UseWaitClock(as, 1000);
        db::Recordset rs;
        rs.setActiveConnection(as);
        rs.Open(sql::kManufacturerTable, {}, db::CursorType::kStatic, db::LockType::kOptimistic);
        std::shared_ptr<void> hold;
        if (c.id == "NEW1") {
            hold = db->Hold(server ? QStringList{"LOCK TABLE tblManufacturers"} : QStringList{});
        } else if (c.id == "NEW3") {
            db->Exec("DROP TABLE tblManufacturers");
        }
        const SaveResult result = SaveManufacturer(rs, c.id, "Name", {});
        EXPECT_EQ(result.outcome,
                  c.id == "acme" ? SaveOutcome::kAlreadyExists : SaveOutcome::kFailed);
        EXPECT_TRUE(result.message.contains(c.part, Qt::CaseInsensitive))
            << result.message.toStdString();
        EXPECT_EQ(result.message.contains("already exists"), c.id == "acme");
    }
}

TEST_P(AddManufacturerTest, AnyNonEmptyEntryIsStoredAsItStandsWithTheFlagsOfItsBoxes) {
    // Every flag defaults to True, so a box left unset shows apart from an unchecked one.
    IsPostgres(GetParam()) ? UseDemo("DEFAULT FALSE,", "DEFAULT TRUE,")
                           : UseDemo("DEFAULT 0,", "DEFAULT -1,");
    constexpr Qt::CheckState U = Qt::Unchecked, C = Qt::Checked, G = Qt::PartiallyChecked;
    const char* const boxes[] = {"chkAll", "chkEquip", "chkJF", "chkRTR", "chkJB", "chkCable"};
    const struct {
        QString id, name, row;
        Qt::CheckState checks[6];  // in the order of `boxes`
    } cases[] = {
        {"  ", "", "  ||-1|-1|-1|-1|-1|<null>", {C, U, U, U, U, U}},
        {"", "Nameless ID", "|Nameless ID|0|0|0|0|0|<null>", {U, U, U, U, U, U}},
        {"NONAME", "", "NONAME||-1|0|-1|-1|0|<null>", {U, C, U, G, C, U}},
        {"M2", "Maker", "M2|Maker|0|-1|0|-1|-1|<null>", {G, U, C, U, G, C}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row.toStdString());
        Show("");
        Name()->setText(c.name);
        Id()->setText(c.id);
        for (int i = 0; i < 6; ++i) {
            dialog->findChild<QCheckBox*>(boxes[i])->setCheckState(c.checks[i]);
        }
        dialog->command1_Click(0);
        EXPECT_EQ(Row(c.id), QStringList{c.row});
    }
}

INSTANTIATE_ON_EVERY_STORE(AddManufacturerTest);

}  // namespace
