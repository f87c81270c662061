#include "app/frmImportFlex.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <memory>

#include "app/drive_list.h"
#include "app/platform.h"
#include "app/windowing.h"
#include "records/connection.h"
#include "records/manufacturer_resolution.h"
#include "report/frmReporStatus.h"

namespace {

const QString kMissing =
    "This utility must be run from the directory in which the Tovrin dbEquip.mdb database is "
    "located.";
const QString kInformation =
    "*.flx files describe the inputs and outputs of devices. .flx files are, by nature, "
    "incomplete.\r\n"
    "This utility will import .flx files into the Tovrin Equipment Database.\r\n"
    "\r\n"
    "This will save you work, but you will need to manually edit several fields in various "
    "databases.\r\n"
    "\r\n"
    "Add any Equipment Data you desire and be sure to add a Front Panel Block Reference "
    "(BlockRef)\r\n"
    "in the Equipment Library <Equipment Data> tab.";
const QString kBackUp =
    "We recommend that you back-up your dbEquip.mdb file before performing these operations";
const QString kUnattended =
    "Unattended operation will automatically add manufacturers from the .flx file. Otherwise you "
    "will be prompted to select an existing manufacturer or create a new manufacturer.";

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

struct Box {
    QString text;
    ui::MsgButtons buttons;
    ui::MsgIcon icon;
};

// Lays out an application folder, answers every message box and records it.
class ImportWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(appDir.isValid());
        platform::SetAppFolderForTesting(appDir.path());
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons buttons, ui::MsgIcon icon) {
            boxes.push_back({text, buttons, icon});
            return answerYes ? ui::MsgAnswer::kYes : ui::MsgAnswer::kOk;
        });
    }
    void TearDown() override {
        window.reset();
        ui::SetMsgBoxHook({});
        platform::SetAppFolderForTesting({});
    }

    frmImportFlex& Open() {
        window = std::make_unique<frmImportFlex>();
        return *window;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Box& box : boxes) {
            texts << box.text;
        }
        return texts;
    }
    template <typename T>
    T* Child(const char* name) const {
        T* child = window->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QStringList Listed() const {
        QStringList names;
        for (int i = 0; i < window->FileCount(); ++i) {
            names << window->FileName(i);
        }
        return names;
    }

    QTemporaryDir appDir;
    std::vector<Box> boxes;
    bool answerYes = false;
    std::unique_ptr<frmImportFlex> window;
};

TEST_F(ImportWindowTest, FormLoadWarnsOnlyWhenTheDatabaseIsMissing) {
    struct Case {
        const char* file;  // created in the application folder; empty for none
        bool asFolder;
        QStringList expected;
    };
    const Case cases[] = {
        {"", false, {kMissing, kInformation, kBackUp}},
        {"dbEquip.mdb", false, {kInformation, kBackUp}},
        {"DBEQUIP.MDB", false, {kInformation, kBackUp}},
        {"dbequip.mdb", true, {kMissing, kInformation, kBackUp}},  // a folder is no database
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        platform::SetAppFolderForTesting(dir.path());
        if (c.asFolder) {
            QDir(dir.path()).mkdir(c.file);
        } else if (*c.file) {
            Touch(dir.filePath(c.file));
        }
        boxes.clear();
        Open();
        EXPECT_EQ(Texts(), c.expected);
        for (const Box& box : boxes) {
            EXPECT_EQ(box.buttons, ui::MsgButtons::kOk);
            EXPECT_EQ(box.icon, ui::MsgIcon::kNone);
        }
        EXPECT_EQ(window->session().sEquipConnection, db::BuildConnectionString(dir.path()));
        EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(dir.path()));
        window.reset();
    }
}

TEST_F(ImportWindowTest, FormLoadLeavesTheDatabaseClosedAndSizesTheMap) {
    Touch(appDir.filePath("dbEquip.mdb"));
    aManuMap = {{"A", "Acme", "ACME"}, {"B", "Bee", "BEE"}};
    const QStringList connectionsBefore = QSqlDatabase::connectionNames();
    Open();
    EXPECT_EQ(QSqlDatabase::connectionNames(), connectionsBefore);
    ASSERT_EQ(aManuMap.size(), 1u);
    EXPECT_EQ(aManuMap[0].sFileID, "A");  // what index 0 held is kept
    aManuMap.clear();
}

TEST_F(ImportWindowTest, InitialStatesCaptionsAndTabOrder) {
    Open();
    EXPECT_EQ(window->windowTitle(), "Import Flx");
    EXPECT_EQ(Child<QCheckBox>("chkUnattended")->toolTip(),
              "ManufacturerID is imported without user intervention");
    EXPECT_FALSE(Child<QPushButton>("cmdCancel")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>("cmdOne")->isEnabled());
    EXPECT_EQ(Child<QCheckBox>("chkLog")->checkState(), Qt::Unchecked);
    EXPECT_EQ(Child<QCheckBox>("chkUnattended")->checkState(), Qt::Unchecked);
    auto* bar = Child<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(Child<QLabel>("lblEquip")->text().isEmpty());
    EXPECT_TRUE(Child<QLabel>("lblStat")->text().isEmpty());
    EXPECT_EQ(Child<QListWidget>("File1")->selectionMode(), QAbstractItemView::ExtendedSelection);

    window->show();
    EXPECT_EQ(window->focusWidget(), Child<QPushButton>("cmdOne"));

    const QStringList order{"cmdOne", "Dir1",      "Drive1", "File1",
                            "cmdAll", "cmdCancel", "chkLog", "chkUnattended"};
    QStringList seen;
    QWidget* widget = Child<QWidget>("cmdOne");
    do {
        if (order.contains(widget->objectName()) && !seen.contains(widget->objectName())) {
            seen << widget->objectName();
        }
        widget = widget->nextInFocusChain();
    } while (widget != Child<QWidget>("cmdOne"));
    EXPECT_EQ(seen, order);
}

TEST_F(ImportWindowTest, FileListShowsFlxFilesOfAnyCaseInNameOrder) {
    QTemporaryDir other;
    for (const char* name : {"c.Flx", "a.flx", "B.FLX", "notes.txt", "a.flx.bak", ".hidden.flx"}) {
        Touch(other.filePath(name));
    }
    QDir(other.path()).mkdir("folder.flx");
    Touch(appDir.filePath("only.flx"));
    Open();
    EXPECT_EQ(Listed(), QStringList{"only.flx"});
    EXPECT_EQ(Child<QLabel>("lblFileCount")->text(), "FileCount: 1");

    struct Case {
        QString folder;
        QStringList listed;
    };
    QTemporaryDir empty;
    const Case cases[] = {
        {other.path(), {"a.flx", "B.FLX", "c.Flx"}},
        {empty.path(), {}},
        {other.filePath("does-not-exist"), {}},  // unreadable: an empty list, no failure
        {appDir.path(), {"only.flx"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        window->SetDirPath(c.folder);
        EXPECT_EQ(Listed(), c.listed);
        EXPECT_EQ(window->FileFolder(), QDir::toNativeSeparators(c.folder));
        EXPECT_EQ(Child<QLabel>("lblFileCount")->text(),
                  "FileCount: " + QString::number(c.listed.size()));
    }
}

TEST_F(ImportWindowTest, FolderChosenInTheTreeRefreshesTheFileList) {
    QDir(appDir.path()).mkdir("sub");
    Touch(appDir.filePath("sub/x.flx"));
    Touch(appDir.filePath("sub/y.flx"));
    Open();
    auto* tree = Child<QTreeView>("Dir1");
    auto* model = tree->model();
    const QModelIndex current = tree->currentIndex();
    ASSERT_TRUE(current.isValid());
    EXPECT_EQ(current.data().toString(), QFileInfo(appDir.path()).fileName());

    // The folder above, then back down into a subfolder.
    tree->setCurrentIndex(current.parent());
    EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(QFileInfo(appDir.path()).path()));
    window->SetDirPath(appDir.path());
    QModelIndex sub;
    // Folder contents arrive in the background.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            sub = model->index(0, 0, tree->currentIndex());
            return sub.isValid();
        },
        5000));
    tree->setCurrentIndex(sub);
    EXPECT_EQ(Listed(), (QStringList{"x.flx", "y.flx"}));
    EXPECT_EQ(Child<QLabel>("lblFileCount")->text(), "FileCount: 2");
}

TEST_F(ImportWindowTest, ChangingDriveGoesToThatDrivesCurrentFolder) {
    QTemporaryDir home;
    QDir(home.path()).mkdir("sub");
    Touch(home.filePath("h.flx"));
    const QByteArray oldHome = qgetenv("HOME");
    const QString oldCwd = QDir::currentPath();
    qputenv("HOME", home.path().toLocal8Bit());
    QDir::setCurrent(appDir.path());

    Open();
    auto* drive = Child<QComboBox>("Drive1");
    ASSERT_GE(drive->count(), 2);
    const int homeIndex = drive->findData(QDir::cleanPath(home.path()));
    ASSERT_GE(homeIndex, 0);
    EXPECT_EQ(drive->currentData().toString(), "/");

    drive->setCurrentIndex(homeIndex);
    EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(home.path()));
    EXPECT_EQ(Listed(), QStringList{"h.flx"});
    EXPECT_EQ(Child<QLabel>("lblFileCount")->text(), "FileCount: 1");
    window->SetDirPath(home.filePath("sub"));
    EXPECT_EQ(Child<QLabel>("lblFileCount")->text(), "FileCount: 0");

    drive->setCurrentIndex(0);
    EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(appDir.path()));
    drive->setCurrentIndex(homeIndex);
    EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(home.filePath("sub")));

    window.reset();
    QDir::setCurrent(oldCwd);
    qputenv("HOME", oldHome);
}

TEST_F(ImportWindowTest, UnattendedClickShowsTheMessageEveryTime) {
    Open();
    boxes.clear();
    auto* box = Child<QCheckBox>("chkUnattended");
    box->click();
    EXPECT_TRUE(window->Unattended());
    box->click();
    EXPECT_FALSE(window->Unattended());
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_EQ(Texts(), (QStringList{kUnattended, kUnattended}));
}

TEST_F(ImportWindowTest, RunActiveLocksTheListsAndImportButtonsOnly) {
    Open();
    const QStringList locked{"cmdOne", "cmdAll", "Drive1", "Dir1", "File1"};
    const QStringList free{"chkLog", "chkUnattended"};
    for (const bool active : {true, false}) {
        window->SetRunActive(active);
        for (const QString& name : locked) {
            EXPECT_EQ(Child<QWidget>(name.toLatin1())->isEnabled(), !active) << name.toStdString();
        }
        for (const QString& name : free) {
            EXPECT_TRUE(Child<QWidget>(name.toLatin1())->isEnabled()) << name.toStdString();
        }
    }
}

TEST_F(ImportWindowTest, HostCallsReachTheirControls) {
    for (const char* name : {"a.flx", "b.flx", "c.flx"}) {
        Touch(appDir.filePath(name));
    }
    Open();
    auto* files = Child<QListWidget>("File1");
    files->item(0)->setSelected(true);
    files->item(2)->setSelected(true);
    EXPECT_TRUE(window->FileSelected(0));
    EXPECT_FALSE(window->FileSelected(1));
    EXPECT_TRUE(window->FileSelected(2));

    auto* bar = Child<QProgressBar>("ProgressBar1");
    window->SetProgressMaximum(3);
    window->SetProgressValue(2);
    EXPECT_EQ(bar->maximum(), 3);
    EXPECT_EQ(bar->value(), 2);
    window->SetProgressMaximum(0);  // an empty run: an empty bar, never a busy one
    EXPECT_GT(bar->maximum(), bar->minimum());
    EXPECT_EQ(bar->value(), 0);

    boxes.clear();
    answerYes = true;
    EXPECT_TRUE(window->AskYesNo("Are you sure you want to cancel?"));
    answerYes = false;
    EXPECT_FALSE(window->AskYesNo("Again?"));
    window->MessageBox("plain");
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].buttons, ui::MsgButtons::kYesNo);
    EXPECT_EQ(boxes[0].icon, ui::MsgIcon::kQuestion);
    EXPECT_EQ(boxes[2].buttons, ui::MsgButtons::kOk);
    EXPECT_EQ(boxes[2].icon, ui::MsgIcon::kNone);
}

TEST_F(ImportWindowTest, ClosingTheWindowClosesEveryOtherWindow) {
    Open();
    window->show();
    QWidget other;
    other.show();
    window->AppendReportLine("line");  // creates the report window, hidden
    ASSERT_NE(window->ReportWindow(), nullptr);
    EXPECT_TRUE(window->ReportWindow()->isWindow());
    EXPECT_FALSE(window->ReportWindow()->isVisible());
    window->ShowReport();
    ASSERT_TRUE(window->ReportWindow()->isVisible());

    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(window->ReportWindow(), nullptr);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ImportWindowTest, ClosingDuringARunCancelsItThenCloses) {
    for (const char* name : {"a.flx", "b.flx"}) {
        Touch(appDir.filePath(name));
    }
    Open();
    window->show();
    // The close request arrives while the run processes events at its first entry.
    QTimer::singleShot(0, window.get(), &QWidget::close);
    Child<QPushButton>("cmdAll")->click();
    EXPECT_TRUE(window->session().bCancel);
    EXPECT_EQ(Child<QLabel>("lblFileCount")->text(), "Processing 1 of 2 files");
    EXPECT_FALSE(Child<QLabel>("lblStat")->text().startsWith("Added ["));
    EXPECT_FALSE(window->isVisible());
}

TEST(DriveList, OffersRootHomeAndMediaOnce) {
    const QList<drives::Mount> mounts{{"/", ""},
                                      {"/proc", ""},
                                      {"/media/u/STICK", "STICK"},
                                      {"/run/media/u/disk", ""},
                                      {"/mnt", ""},
                                      {"/mnt/data/", ""},
                                      {"/boot", "boot"},
                                      {"/media", ""},
                                      {"/home/u", "home"},
                                      {"/mnt", ""}};
    QStringList roots;
    QStringList labels;
    for (const drives::Drive& drive : drives::DrivesFromMounts(mounts, "/home/u/")) {
        roots << drive.root;
        labels << drive.label;
    }
    EXPECT_EQ(roots, (QStringList{"/", "/home/u", "/media/u/STICK", "/mnt", "/mnt/data",
                                  "/run/media/u/disk"}));
    EXPECT_EQ(labels[2], "/media/u/STICK [STICK]");
    EXPECT_EQ(labels[3], "/mnt");
}

TEST(DriveList, PathBelongsToTheClosestRoot) {
    const QList<drives::Drive> list{
        {"/", "/"}, {"/home/u", "h"}, {"/mnt", "m"}, {"/mnt/data", "d"}};
    struct Case {
        const char* path;
        int index;
    };
    const Case cases[] = {
        {"/", 0},        {"/etc", 0},        {"/home/u", 1},       {"/home/u/flx/", 1},
        {"/home/uv", 0}, {"/mnt/data/x", 3}, {"/mnt/database", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(drives::DriveIndexFor(list, c.path), c.index);
    }
    EXPECT_EQ(drives::DriveIndexFor({}, "/x"), 0);
}

}  // namespace
