// The interactive import from end to end: the real import window, the real selection and
// add-manufacturer dialogs, driven as a user would while the import waits on them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "core/windowing.h"
#include "tests/dialog_hooks.h"
#include "tests/flx_builder.h"
#include "tests/temp_db.h"

namespace {

// A device of `id` named `model` with `blocks` blocks of one input and one output.
void WriteFlx(const QString& folder, const QString& name, const QString& id, const QString& model,
              int blocks) {
    QStringList lines{"<<STARTDEF>>", id, model, "Router"};
    for (int b = 0; b < blocks; ++b) {
        lines += {"<<STARTBLK>>", "header", "I SDI BNC   In 1", "O SDI BNC   Out 1"};
    }
    flxtest::Write(folder, name, flxtest::Bytes(lines));
}

class InteractiveImportTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetAppFolderForTesting(db.folder()); }
    void TearDown() override { window.reset(); }

    // Runs "Import All Files in Directory" with logging on and unattended adding off; each time
    // a modal dialog comes up, the next of `answers` acts on it.
    void ImportAll(std::vector<std::function<void(QWidget*)>> answers) {
        window = std::make_unique<frmImportFlex>();
        window->findChild<QCheckBox*>("chkLog")->setChecked(true);
        hooks.boxes.clear();
        hooks.ActOnDialogs(std::move(answers));
        window->findChild<QPushButton*>("cmdAll")->click();
    }

    TempDb db{DemoRowsSql()};
    DialogHooks hooks;
    std::unique_ptr<frmImportFlex> window;
};

QString Report(frmImportFlex& window) {
    return window.ReportWindow()->ReportText();
}

TEST_F(InteractiveImportTest, DoneIsRememberedAndCancelStopsTheRun) {
    WriteFlx(db.folder(), "a.flx", "ZEPH", "Z-1", 2);
    WriteFlx(db.folder(), "b.flx", "ZEPH", "Z-2", 1);
    WriteFlx(db.folder(), "c.flx", "zeph", "Z-3", 1);  // other letter case: asked again
    WriteFlx(db.folder(), "d.flx", "ACME", "Z-4", 1);  // never reached
    ImportAll({[](QWidget* dialog) {
                   auto* list = dialog->findChild<QTreeWidget*>("lv1");
                   list->setCurrentItem(list->findItems("KESTREL", Qt::MatchExactly).at(0));
                   dialog->findChild<QPushButton*>("Command1")->click();
               },
               [](QWidget* dialog) { dialog->findChild<QPushButton*>("cmdCancel")->click(); }});

    EXPECT_EQ(hooks.dialogs.size(), 2);
    EXPECT_TRUE(hooks.boxes.isEmpty()) << hooks.boxes.join(" / ").toStdString();
    EXPECT_EQ(db.Rows("SELECT EquipmentName, ManufacturerID FROM tblEquipment WHERE "
                      "EquipmentName LIKE 'Z-%' ORDER BY EquipmentID"),
              QStringList({"Z-1|KESTREL", "Z-1_v1|KESTREL", "Z-2|KESTREL"}));
    const QString report = Report(*window);
    EXPECT_TRUE(report.contains("Added as KESTREL Kestrel Systems Z-2\r\n"));
    EXPECT_TRUE(
        report.contains("Failed (user canceled) " +
                        platform::JoinPath(QDir::toNativeSeparators(db.folder()), "c.flx")));
    EXPECT_FALSE(report.contains("Added [")) << "a cancelled run logs no totals";
    EXPECT_FALSE(report.contains("d.flx"));
    const auto& map = window->session().aManuMap;
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[1].sFileID + "|" + map[1].sMapName + "|" + map[1].sMapID,
              "ZEPH|Kestrel Systems|KESTREL");
}

TEST_F(InteractiveImportTest, NewManufacturerWithTheFileIdIsFoundDirectlyAfterwards) {
    WriteFlx(db.folder(), "a.flx", "NEWCO", "N-1", 2);
    WriteFlx(db.folder(), "b.flx", "NEWCO", "N-2", 1);
    ImportAll({[](QWidget* selection) { selection->findChild<QPushButton*>("cmdNew")->click(); },
               [](QWidget* add) {
                   EXPECT_EQ(add->findChild<QLineEdit*>("txtManufacturerID")->text(), "NEWCO");
                   // Typing the name copies it into the ID, which the user then puts back.
                   add->findChild<QLineEdit*>("txtManufacturerName")->setText("Newco");
                   EXPECT_EQ(add->findChild<QLineEdit*>("txtManufacturerID")->text(), "Newco");
                   add->findChild<QLineEdit*>("txtManufacturerID")->setText("NEWCO");
                   add->findChild<QPushButton*>("Command1")->click();
               }});

    EXPECT_EQ(hooks.dialogs.size(), 2) << "a selection dialog and its add dialog, nothing later";
    EXPECT_EQ(db.Rows("SELECT ManufacturerID, ManufacturerName, DisplayInEquipment, "
                      "displayInJackFields, DisplayInRouters, DisplayInJboxes, displayInCabletypes "
                      "FROM tblManufacturers WHERE ManufacturerID = 'NEWCO'"),
              QStringList{"NEWCO|Newco|-1|-1|-1|-1|-1"});
    EXPECT_EQ(db.Rows("SELECT EquipmentName FROM tblEquipment WHERE ManufacturerID = 'NEWCO' "
                      "ORDER BY EquipmentID"),
              QStringList({"N-1", "N-1_v1", "N-2"}));
    EXPECT_TRUE(
        Report(*window).contains("Added [2] parts with a total of [3] inputs and [3] outputs"));
}

TEST_F(InteractiveImportTest, EmptyIdMatchesTheMapsFirstEntryAndFailsWithoutAsking) {
    WriteFlx(db.folder(), "a.flx", "", "E-1", 1);
    ImportAll({});
    EXPECT_TRUE(hooks.dialogs.isEmpty());
    ASSERT_EQ(hooks.boxes.size(), 1);
    EXPECT_TRUE(hooks.boxes[0].startsWith("3021 ")) << hooks.boxes[0].toStdString();
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM tblEquipment WHERE EquipmentName = 'E-1'").toInt(),
              0);
}

}  // namespace
