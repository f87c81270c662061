#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "app/session.h"
#include "app/windowing.h"
#include "manufacturer/frmAddManufacturer.h"
#include "records/connection.h"
#include "records/frmSelManu.h"
#include "records/manufacturer_resolution.h"
#include "tests/temp_db.h"

namespace {

// The visible window of type T, or nullptr.
template <typename T>
T* OpenWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<T*>(widget); window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

// Runs `script` once the window system is idle, from inside whatever modal dialog is open.
void Later(std::function<void()> script) {
    QTimer::singleShot(0, std::move(script));
}

QTreeWidget* List(QWidget* dialog) {
    return dialog->findChild<QTreeWidget*>("lv1");
}
QPushButton* Button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(name);
}

// Each row of lv1 as "ID|name|key".
QStringList ListRows(QWidget* dialog) {
    QStringList rows;
    QTreeWidget* list = List(dialog);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        rows << item->text(0) + '|' + item->text(1) + '|' +
                    item->data(0, frmSelManu::kKeyRole).toString();
    }
    return rows;
}

void Select(QWidget* dialog, const QString& id) {
    QTreeWidget* list = List(dialog);
    const auto found = list->findItems(id, Qt::MatchExactly, 0);
    ASSERT_EQ(found.size(), 1);
    list->setCurrentItem(found.front());
}

class SelManuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons, ui::MsgIcon) {
            messages << text;
            return ui::MsgAnswer::kOk;
        });
        UseDb(DemoRowsSql() + ";INSERT INTO tblManufacturers (ManufacturerID) VALUES ('NONAME')");
        session.sManuID = "acme";
        session.sManuName = "earlier name";
        aManuMap.assign(1, ManuMapEntry{});
    }
    void TearDown() override { ui::SetMsgBoxHook({}); }

    void UseDb(const QString& sqlText) {
        db = std::make_unique<TempDb>(sqlText);
        session.sEquipConnection = db->connection();
    }

    // Shows the dialog modally as the import does and runs `script` in it. A watchdog closes
    // whatever is still open after a while, so that a failing script cannot hang the test.
    void RunSelManu(const std::function<void(frmSelManu&)>& script) {
        bool ran = false;
        Later([&] {
            frmSelManu* dialog = OpenWindow<frmSelManu>();
            ASSERT_NE(dialog, nullptr);
            ran = true;
            script(*dialog);
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] {
            ADD_FAILURE() << "a dialog was left open";
            while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog->done(QDialog::Rejected);
            }
        });
        watchdog.start(10000);
        ShowSelManu(session, nullptr);
        EXPECT_TRUE(ran);
    }

    std::unique_ptr<TempDb> db;
    SessionState session;
    QStringList messages;
};

TEST_F(SelManuTest, NamesTheMissingIdAndListsEveryManufacturerByName) {
    frmSelManu dialog(session);
    ASSERT_TRUE(dialog.Form_Load());
    EXPECT_EQ(dialog.windowTitle(), "Select  Manufacturer");
    EXPECT_EQ(dialog.findChild<QLabel*>("Label2")->text(), "ManufactuerID Not Found acme");
    QTreeWidgetItem* header = List(&dialog)->headerItem();
    EXPECT_EQ(header->text(0), "Key");
    EXPECT_EQ(header->text(1), "ManufacturerName");
    EXPECT_EQ(ListRows(&dialog), (QStringList{
                                     "NONAME||1|NONAME",
                                     "ACME|Acme Broadcast|2|ACME",
                                     "KESTREL|Kestrel Systems|3|KESTREL",
                                     "NORTHLN|Northline Audio|4|NORTHLN",
                                     "VIDEOWRX|Videoworks|5|VIDEOWRX",
                                 }));
}

TEST_F(SelManuTest, DoneMapsTheFileIdToTheSelectedManufacturer) {
    RunSelManu([](frmSelManu& dialog) {
        Select(&dialog, "ACME");
        QTest::mouseClick(Button(&dialog, "Command1"), Qt::LeftButton);
    });
    ASSERT_EQ(aManuMap.size(), 2u);
    EXPECT_EQ(aManuMap[1].sFileID, "acme");
    EXPECT_EQ(aManuMap[1].sMapName, "Acme Broadcast");
    EXPECT_EQ(aManuMap[1].sMapID, "ACME");
    EXPECT_EQ(session.sManuID, "ACME");
    EXPECT_EQ(session.sManuName, "Acme Broadcast");
    EXPECT_FALSE(session.bCancel);
}

TEST_F(SelManuTest, DoneWaitsForASelection) {
    frmSelManu dialog(session);
    ASSERT_TRUE(dialog.Form_Load());
    dialog.show();
    QPushButton* done = Button(&dialog, "Command1");
    EXPECT_FALSE(done->isEnabled());
    dialog.Command1_Click();
    EXPECT_TRUE(dialog.isVisible());
    Select(&dialog, "KESTREL");
    EXPECT_TRUE(done->isEnabled());
    List(&dialog)->clearSelection();
    EXPECT_FALSE(done->isEnabled());
    EXPECT_EQ(aManuMap.size(), 1u);
    EXPECT_EQ(session.sManuID, "acme");
    dialog.hide();

    // A database without manufacturers offers only "New..." and "Cancel".
    UseDb({});
    RunSelManu([](frmSelManu& empty) {
        EXPECT_EQ(List(&empty)->topLevelItemCount(), 0);
        EXPECT_FALSE(Button(&empty, "Command1")->isEnabled());
        EXPECT_TRUE(Button(&empty, "cmdNew")->isEnabled());
        QTest::mouseClick(Button(&empty, "cmdCancel"), Qt::LeftButton);
    });
}

TEST_F(SelManuTest, EveryWayOutWithoutAChoiceCancels) {
    struct Case {
        const char* what;
        std::function<void(frmSelManu&)> leave;
    } cases[] = {
        {"Cancel button",
         [](frmSelManu& d) { QTest::mouseClick(Button(&d, "cmdCancel"), Qt::LeftButton); }},
        {"Escape", [](frmSelManu& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"window frame", [](frmSelManu& d) { d.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        session.bCancel = false;
        RunSelManu([&](frmSelManu& dialog) {
            Select(&dialog, "ACME");
            c.leave(dialog);
        });
        EXPECT_TRUE(session.bCancel);
        EXPECT_EQ(aManuMap.size(), 1u);
        EXPECT_EQ(session.sManuID, "acme");
        EXPECT_EQ(session.sManuName, "earlier name");
    }
}

TEST_F(SelManuTest, NewOpensTheAddDialogPrefilledAndClosesAfterIt) {
    RunSelManu([&](frmSelManu& dialog) {
        Later([&] {
            frmAddManufacturer* add = OpenWindow<frmAddManufacturer>();
            ASSERT_NE(add, nullptr);
            auto* name = add->findChild<QLineEdit*>("txtManufacturerName");
            auto* id = add->findChild<QLineEdit*>("txtManufacturerID");
            EXPECT_EQ(name->text(), "acme");
            EXPECT_EQ(id->text(), "acme");
            QTest::qWait(200);
            EXPECT_EQ(name->selectedText(), "acme");
            name->setText("New Company");
            id->setText("NEWCO");
            add->command1_Click(0);
        });
        QTest::mouseClick(Button(&dialog, "cmdNew"), Qt::LeftButton);
    });
    EXPECT_EQ(OpenWindow<frmSelManu>(), nullptr);
    EXPECT_EQ(session.sManuID, "NEWCO");
    EXPECT_EQ(session.sManuName, "New Company");
    EXPECT_FALSE(session.bCancel);
    EXPECT_EQ(aManuMap.size(), 1u);
    EXPECT_EQ(db->Rows("select ManufacturerName from tblManufacturers where ManufacturerID = "
                       "'NEWCO'"),
              QStringList{"New Company"});
}

TEST_F(SelManuTest, ClosingTheAddDialogClosesBothAndChangesNothing) {
    const int before = db->Scalar("select count(*) from tblManufacturers").toInt();
    RunSelManu([&](frmSelManu& dialog) {
        Later([&] {
            frmAddManufacturer* add = OpenWindow<frmAddManufacturer>();
            ASSERT_NE(add, nullptr);
            add->close();
        });
        QTest::mouseClick(Button(&dialog, "cmdNew"), Qt::LeftButton);
    });
    EXPECT_EQ(OpenWindow<frmSelManu>(), nullptr);
    EXPECT_EQ(session.sManuID, "acme");
    EXPECT_FALSE(session.bCancel);
    EXPECT_EQ(db->Scalar("select count(*) from tblManufacturers").toInt(), before);
}

TEST_F(SelManuTest, UnreadableManufacturersAreReportedAsACancel) {
    // The list cannot be read: no dialog is shown.
    const QTemporaryDir empty;
    session.sEquipConnection = db::BuildConnectionString(empty.path());
    bool shown = false;
    Later([&] {
        if (auto* dialog = OpenWindow<frmSelManu>()) {
            shown = true;
            dialog->done(QDialog::Rejected);
        }
    });
    ShowSelManu(session, nullptr);
    QTest::qWait(20);
    EXPECT_FALSE(shown);
    EXPECT_TRUE(session.bCancel);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^-?\d+ \S)").match(messages.front()).hasMatch());

    // The add dialog cannot open its table: both dialogs close as a cancel.
    messages.clear();
    session.bCancel = false;
    session.sEquipConnection = db->connection();
    RunSelManu([&](frmSelManu& dialog) {
        db->Exec("DROP TABLE tblManufacturers");
        QTest::mouseClick(Button(&dialog, "cmdNew"), Qt::LeftButton);
    });
    EXPECT_EQ(OpenWindow<frmSelManu>(), nullptr);
    EXPECT_TRUE(session.bCancel);
    EXPECT_EQ(messages.size(), 1);
}

}  // namespace
