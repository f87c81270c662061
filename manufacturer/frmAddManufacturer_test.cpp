#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>

#include "app/session.h"
#include "app/windowing.h"
#include "manufacturer/frmAddManufacturer.h"
#include "manufacturer/manufacturer_save.h"
#include "records/connection.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "tests/temp_db.h"

namespace {

// A manufacturer table with the given column types; the five flags default to `flagDefault`.
QString ManufacturerTable(const QString& idType, const QString& nameType, int flagDefault = 0) {
    QString sqlText = "CREATE TABLE tblManufacturers (ManufacturerID " + idType +
                      " COLLATE NOCASE NOT NULL PRIMARY KEY, ManufacturerName " + nameType +
                      " COLLATE NOCASE";
    for (const char* flag : {"DisplayInEquipment", "displayInJackFields", "DisplayInRouters",
                             "DisplayInJboxes", "displayInCabletypes"}) {
        sqlText += QString(", %1 BOOLEAN NOT NULL DEFAULT %2").arg(flag).arg(flagDefault);
    }
    return sqlText +
           ");\nINSERT INTO tblManufacturers (ManufacturerID, ManufacturerName) "
           "VALUES ('ACME', 'Acme Broadcast');";
}

const char* const kFlagsOf =
    "select DisplayInEquipment || '|' || displayInJackFields || '|' || DisplayInRouters || '|' "
    "|| DisplayInJboxes || '|' || displayInCabletypes from tblManufacturers where "
    "ManufacturerID = '%1'";

class AddManufacturerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons, ui::MsgIcon) {
            messages << text;
            return ui::MsgAnswer::kOk;
        });
        UseDb(DemoRowsSql());
        session.sManuID = "file id";
        session.sManuName = "file name";
    }
    void TearDown() override {
        dialog.reset();
        ui::SetMsgBoxHook({});
    }

    void UseDb(const QString& sqlText, bool withSchema = true) {
        db.reset();
        db = std::make_unique<TempDb>(sqlText, withSchema);
        session.sEquipConnection = db->connection();
    }
    int Rows() const { return db->Scalar("select count(*) from tblManufacturers").toInt(); }

    // Loads the dialog, pre-fills both boxes with `prefill` as the selection dialog does, and
    // shows it, active, without blocking.
    frmAddManufacturer& Show(const QString& prefill) {
        dialog = std::make_unique<frmAddManufacturer>(session);
        EXPECT_TRUE(dialog->Form_Load());
        dialog->SetManufacturerID(prefill);
        dialog->SetManufacturerName(prefill);
        beeps = ui::BeepCount();
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return *dialog;
    }
    int NewBeeps() const { return ui::BeepCount() - beeps; }

    QLineEdit* Name() const { return dialog->findChild<QLineEdit*>("txtManufacturerName"); }
    QLineEdit* Id() const { return dialog->findChild<QLineEdit*>("txtManufacturerID"); }
    QLabel* Label1() const { return dialog->findChild<QLabel*>("Label1"); }
    QCheckBox* Box(const char* name) const { return dialog->findChild<QCheckBox*>(name); }
    // Puts the caret at the end of `box` as a mouse click would, without selecting.
    void ClickInto(QLineEdit* box) const {
        box->setFocus(Qt::MouseFocusReason);
        box->end(false);
    }

    std::unique_ptr<TempDb> db;
    SessionState session;
    QStringList messages;
    std::unique_ptr<frmAddManufacturer> dialog;
    int beeps = 0;
};

TEST_F(AddManufacturerTest, PrefillIsSelectedWholeShortlyAfterLoad) {
    Show("acme");
    EXPECT_EQ(Name()->text(), "acme");
    EXPECT_EQ(Id()->text(), "acme");
    EXPECT_TRUE(Name()->hasFocus());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Name()->selectedText() == "acme"; }));
    EXPECT_FALSE(dialog->findChild<QTimer*>("Timer1")->isActive());
    // The selected pre-fill is overtyped at once.
    QTest::keyClicks(Name(), "Zeta");
    EXPECT_EQ(Name()->text(), "Zeta");
}

TEST_F(AddManufacturerTest, TypingANameCopiesItIntoTheId) {
    Show("");
    ClickInto(Name());
    for (const QString expected : {"n", "ne", "new", "new ", "new c", "new co"}) {
        QTest::keyClick(Name(), expected.back().toLatin1());
        EXPECT_EQ(Id()->text(), expected);
    }
    // The whole name is copied while typing; eight characters apply only on leaving.
    QTest::keyClicks(Name(), "mpany");
    EXPECT_EQ(Id()->text(), "new company");

    // An ID edited by hand is overwritten by the next change of the name.
    ClickInto(Id());
    QTest::keyClick(Id(), Qt::Key_Backspace);
    ClickInto(Name());
    QTest::keyClick(Name(), 'x');
    EXPECT_EQ(Id()->text(), "NEW COMPANYx");
}

TEST_F(AddManufacturerTest, NameIsHeldToTheColumnWidthWithABeep) {
    UseDb(ManufacturerTable("VARCHAR(50)", "VARCHAR(10)"), false);
    Show("");
    ClickInto(Name());
    QTest::keyClicks(Name(), "abcdefghi");
    EXPECT_EQ(NewBeeps(), 0);
    QTest::keyClick(Name(), 'j');  // reaches the width
    EXPECT_EQ(NewBeeps(), 1);
    QTest::keyClicks(Name(), "kl");  // each one cut off again
    EXPECT_EQ(NewBeeps(), 3);
    EXPECT_EQ(Name()->text(), "abcdefghij");
    EXPECT_EQ(Name()->cursorPosition(), 10);
    EXPECT_EQ(Id()->text(), "abcdefghij");

    // A pasted longer name is cut with the caret at its end.
    Name()->clear();
    Name()->insert("0123456789ABCDEF");
    EXPECT_EQ(Name()->text(), "0123456789");
    EXPECT_EQ(Name()->cursorPosition(), 10);
    EXPECT_EQ(Id()->text(), "0123456789");
    EXPECT_EQ(NewBeeps(), 4);
}

TEST_F(AddManufacturerTest, LeavingABoxUpperCasesAndHoldsTheIdToEight) {
    const QString kShort = "Eight Chars. Max";
    const QString kCut = "I Said...Eight Chars. Max";
    struct Case {
        const char* what;
        bool typeIntoId;
        QString typed;
        QString name;
        QString id;
        QString caption;
        int beeps;
        bool focusInId;
    } cases[] = {
        {"short name", false, "acme", "ACME", "ACME", kShort, 0, false},
        {"long name", false, "northline", "NORTHLINE", "NORTHLIN", kCut, 1, true},
        {"special characters", false, "a&b (x)!", "A&B (X)!", "A&B (X)!", kShort, 0, false},
        {"eight in the id", true, "abcdefgh", "", "ABCDEFGH", kShort, 0, false},
        {"nine in the id", true, "abcdefghi", "", "ABCDEFGH", kCut, 1, true},
        {"punctuation in the id", true, "a.b,c", "", "A.B,C", kShort, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Show("");
        QLineEdit* box = c.typeIntoId ? Id() : Name();
        ClickInto(box);
        QTest::keyClicks(box, c.typed);
        // Shift+Tab from the name box and Tab from the ID box both go to Add.
        QTest::keyClick(box, Qt::Key_Tab, c.typeIntoId ? Qt::NoModifier : Qt::ShiftModifier);
        EXPECT_EQ(Name()->text(), c.name);
        EXPECT_EQ(Id()->text(), c.id);
        EXPECT_EQ(Label1()->text(), c.caption);
        EXPECT_EQ(NewBeeps(), c.beeps);
        EXPECT_EQ(Id()->hasFocus(), c.focusInId);
    }
}

TEST_F(AddManufacturerTest, AddWithBothBoxesEmptyOnlyBeeps) {
    Show("");
    const int before = Rows();
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(NewBeeps(), 1);
    EXPECT_EQ(Rows(), before);
    EXPECT_EQ(session.sManuID, "");
    EXPECT_EQ(session.sManuName, "");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Id()->hasFocus());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(AddManufacturerTest, NewManufacturerIsStoredInAllLibraries) {
    Show("zeta");
    Name()->selectAll();
    QTest::keyClicks(Name(), "Zeta Corp");
    QTest::keyClick(Name(), Qt::Key_Tab);  // the ID is cut to eight and keeps the focus
    EXPECT_EQ(Id()->text(), "ZETA COR");
    Id()->selectAll();
    QTest::keyClicks(Id(), "zeta");
    QTest::mouseClick(dialog->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(db->Rows("select ManufacturerID, ManufacturerName from tblManufacturers where "
                       "ManufacturerID = 'ZETA'"),
              QStringList{"ZETA|ZETA CORP"});
    EXPECT_EQ(db->Scalar(QString(kFlagsOf).arg("ZETA")).toString(), "-1|-1|-1|-1|-1");
    EXPECT_EQ(session.sManuID, "ZETA");
    EXPECT_EQ(session.sManuName, "ZETA CORP");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(NewBeeps(), 1);
}

TEST_F(AddManufacturerTest, ExistingIdIsRefusedAndCorrectedInPlace) {
    Show("Acme Broadcast");
    Id()->setText("acme");
    const int before = Rows();
    dialog->command1_Click(0);
    EXPECT_EQ(messages, QStringList{"The ManufacturerID acme already exists in the database. "
                                    "Please modify your entry."});
    EXPECT_EQ(NewBeeps(), 1);
    EXPECT_EQ(Rows(), before);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Id()->hasFocus());
    // The entry reached the session before it was refused.
    EXPECT_EQ(session.sManuID, "acme");
    EXPECT_EQ(session.sManuName, "Acme Broadcast");

    // The second attempt stores only the corrected row.
    Id()->setText("ACME2");
    dialog->command1_Click(0);
    EXPECT_EQ(Rows(), before + 1);
    EXPECT_EQ(db->Rows("select ManufacturerID, ManufacturerName from tblManufacturers where "
                       "ManufacturerName = 'Acme Broadcast' order by ManufacturerID"),
              (QStringList{"ACME|Acme Broadcast", "ACME2|Acme Broadcast"}));
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(AddManufacturerTest, OtherRefusalShowsItsDescriptionAndStaysOpen) {
    UseDb(ManufacturerTable("VARCHAR(5)", "VARCHAR(50)"), false);
    Show("Longname");
    dialog->command1_Click(0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_FALSE(messages.front().isEmpty());
    EXPECT_FALSE(messages.front().contains("already exists"));
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Id()->hasFocus());
}

TEST_F(AddManufacturerTest, DialogHandsItsCheckBoxesToTheSave) {
    UseDb(ManufacturerTable("VARCHAR(50)", "VARCHAR(50)", -1), false);
    Show("NEWCO");
    Box("chkAll")->setCheckState(Qt::Unchecked);
    Box("chkRTR")->setCheckState(Qt::Checked);
    Box("chkCable")->setCheckState(Qt::PartiallyChecked);
    dialog->command1_Click(0);
    EXPECT_EQ(db->Scalar(QString(kFlagsOf).arg("NEWCO")).toString(), "0|0|-1|0|-1");
}

TEST_F(AddManufacturerTest, LoadFailureIsReportedAndRefusesTheDialog) {
    const QTemporaryDir empty;
    struct Case {
        const char* what;
        QString connection;
    } cases[] = {
        {"no database file", db::BuildConnectionString(empty.path())},
        {"no manufacturer table", {}},
    };
    UseDb("DROP TABLE tblManufacturers");
    cases[1].connection = db->connection();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        session.sEquipConnection = c.connection;
        frmAddManufacturer add(session);
        EXPECT_FALSE(add.Form_Load());
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(QRegularExpression(R"(^-?\d+ \S)").match(messages.front()).hasMatch())
            << messages.front().toStdString();
    }
}

// SaveManufacturer on its own, over the whole table as the dialog opens it.
class SaveManufacturerTest : public ::testing::Test {
  protected:
    void Open(const QString& sqlText, bool withSchema = true) {
        db = std::make_unique<TempDb>(sqlText, withSchema);
        rs = std::make_unique<db::Recordset>();
        rs->setActiveConnection(db->connection());
        rs->Open(sql::kManufacturerTable, {}, db::CursorType::kStatic, db::LockType::kOptimistic);
    }
    void TearDown() override { rs.reset(); }

    std::unique_ptr<TempDb> db;
    std::unique_ptr<db::Recordset> rs;
};

TEST_F(SaveManufacturerTest, AnyNonEmptyEntryIsAttemptedAsItStands) {
    Open({});
    for (const auto& [id, name] :
         {std::pair<QString, QString>{"  ", ""}, {"", "Nameless ID"}, {"NONAME", ""}}) {
        EXPECT_TRUE(SaveManufacturer(*rs, id, name, DisplayChecks{}).stored());
    }
    EXPECT_EQ(db->Rows("select '[' || ManufacturerID || ']', ManufacturerName from "
                       "tblManufacturers order by ManufacturerID"),
              (QStringList{"[]|Nameless ID", "[  ]|", "[NONAME]|"}));
}

TEST_F(SaveManufacturerTest, FlagsComeFromAllLibrariesOrFromEachBox) {
    // Every flag defaults to -1, so a box left unset shows apart from an unchecked one.
    Open(ManufacturerTable("VARCHAR(50)", "VARCHAR(50)", -1), false);
    constexpr Qt::CheckState U = Qt::Unchecked, C = Qt::Checked, G = Qt::PartiallyChecked;
    struct Case {
        DisplayChecks checks;  // all, equipment, jack fields, routers, j boxes, cable types
        QString flags;         // the same order as the columns
    } cases[] = {
        {{C, U, U, U, U, U}, "-1|-1|-1|-1|-1"},
        {{U, U, U, U, U, U}, "0|0|0|0|0"},
        {{U, C, U, G, C, U}, "-1|0|-1|-1|0"},
        {{G, U, C, U, G, C}, "0|-1|0|-1|-1"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString id = QString("M%1").arg(++n);
        SCOPED_TRACE(id.toStdString());
        ASSERT_TRUE(SaveManufacturer(*rs, id, "Maker", c.checks).stored());
        EXPECT_EQ(db->Scalar(QString(kFlagsOf).arg(id)).toString(), c.flags);
    }
}

}  // namespace
