#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "manufacturer/frmSelManu.h"
#include "records/database.h"
#include "tests/dialog_hooks.h"
#include "tests/engine_fixture.h"

namespace {

class SelManuTest : public ::testing::TestWithParam<Store> {
  protected:
    void SetUp() override {
        session.sManuID = "acme";
        session.sManuName = "earlier name";
    }

    static QTreeWidget* List(QWidget* d) { return d->findChild<QTreeWidget*>("lv1"); }
    static QPushButton* Button(QWidget* d, const char* n) { return d->findChild<QPushButton*>(n); }
    static void Select(QWidget* dialog, const QString& id) {
        const auto found = List(dialog)->findItems(id, Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1);
        List(dialog)->setCurrentItem(found.front());
    }
    QString Outcome() const {  // sManuID|sManuName|bCancel|entries of session.aManuMap
        return session.sManuID + '|' + session.sManuName + '|' + (session.bCancel ? "1|" : "0|") +
               QString::number(session.aManuMap.size());
    }

    // Shows the dialog modally as the import does and runs `script` in it; false if not shown. A
    // dialog that the script opens is closed.
    bool RunSelManu(const std::function<void(frmSelManu&)>& script) {
        hooks.dialogs.clear();
        hooks.ActOnDialogs({[&](QWidget* dialog) { script(*qobject_cast<frmSelManu*>(dialog)); }});
        ShowSelManu(session, database, nullptr);
        return !hooks.dialogs.isEmpty();
    }
    std::unique_ptr<TempDb> db = std::make_unique<TempDb>(
        GetParam(), DemoRowsSql(GetParam()) +
                        ";INSERT INTO tblManufacturers (ManufacturerID) VALUES ('NONAME')");
    db::Database database{db->connection()};
    SessionState session;
    DialogHooks hooks;
    QStringList& messages = hooks.boxes;
};

TEST_P(SelManuTest, ListsEveryManufacturerByNameAndDoneMapsTheFileIdToTheSelectedOne) {
    EXPECT_TRUE(RunSelManu([](frmSelManu& dialog) {
        EXPECT_EQ(dialog.findChild<QLabel*>("Label2")->text(), "ManufactuerID Not Found acme");
        QStringList rows;  // key|name
        for (int i = 0; i < List(&dialog)->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = List(&dialog)->topLevelItem(i);
            rows << item->data(0, frmSelManu::kKeyRole).toString() + '|' + item->text(1);
        }
        // By name as the store orders it: SQLite puts a missing name first, PostgreSQL last.
        const QStringList byName =
            IsPostgres(GetParam())
                ? QStringList{"1|ACME|Acme Broadcast", "2|KESTREL|Kestrel Systems",
                              "3|NORTHLN|Northline Audio", "4|VIDEOWRX|Videoworks", "5|NONAME|"}
                : QStringList{"1|NONAME|", "2|ACME|Acme Broadcast", "3|KESTREL|Kestrel Systems",
                              "4|NORTHLN|Northline Audio", "5|VIDEOWRX|Videoworks"};
        EXPECT_EQ(rows, byName);
        EXPECT_FALSE(Button(&dialog, "Command1")->isEnabled());
        dialog.Command1_Click();  // waits for a selection
        EXPECT_TRUE(dialog.isVisible());
        Select(&dialog, "ACME");
        QTest::mouseClick(Button(&dialog, "Command1"), Qt::LeftButton);
    }));
    EXPECT_EQ(Outcome(), "ACME|Acme Broadcast|0|2");
}

TEST_P(SelManuTest, EveryOtherWayOutClosesWithoutAMapping) {
    // Done, Cancel and an added manufacturer go through the window's interactive run.
    const struct {
        const char* what;
        std::function<void(frmSelManu&)> leave;
        QString outcome;
    } cases[] = {
        {"window frame", [](frmSelManu& d) { d.close(); }, "acme|earlier name|1|1"},
        // "New..." opens the add dialog and then closes too.
        {"add dialog closed",
         [](frmSelManu& d) { QTest::mouseClick(Button(&d, "cmdNew"), Qt::LeftButton); },
         "acme|earlier name|0|1"},
        {"add dialog cannot load",
         [this](frmSelManu& d) {
             db->Exec("ALTER TABLE tblManufacturers RENAME TO tblAside");
             database.Close();  // a server keeps prepared statements on the table
             QTest::mouseClick(Button(&d, "cmdNew"), Qt::LeftButton);
         },
         "acme|earlier name|1|1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session.bCancel = false;
        EXPECT_TRUE(RunSelManu([&](frmSelManu& dialog) {
            Select(&dialog, "ACME");
            c.leave(dialog);
        }));
        EXPECT_EQ(Outcome(), c.outcome);
    }
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(db->Scalar("select count(*) from tblAside").toInt(), 5);
}

TEST_P(SelManuTest, UnreadableManufacturersAreReportedAsACancel) {
    db->Exec("DROP TABLE tblManufacturers");
    EXPECT_FALSE(RunSelManu([](frmSelManu& dialog) { dialog.done(QDialog::Rejected); }));
    EXPECT_TRUE(session.bCancel);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^-?\d+ \S)").match(messages.front()).hasMatch());
}

INSTANTIATE_ON_EVERY_STORE(SelManuTest);

}  // namespace
