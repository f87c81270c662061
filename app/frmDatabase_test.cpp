// Where the import window finds its database: the "Database..." dialog, the choice remembered
// for the next start, and the first start of an installed program.
#include "app/frmDatabase.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>

#include "app/database_choice.h"
#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "tests/dialog_hooks.h"
#include "tests/flx_builder.h"
#include "tests/temp_db.h"

namespace {

// Settings and a data folder of the test's own; the program's folder holds the demo database.
class DatabaseChoiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
        oldDataHome_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
        platform::SetAppFolderForTesting(db.folder());
    }
    void TearDown() override {
        window.reset();
        qputenv("XDG_DATA_HOME", oldDataHome_);
    }

    // Lays out an installed program: its executable's folder and the packaged schema.
    void Install() {
        const QString root = home.filePath("root/usr");
        ASSERT_TRUE(QDir().mkpath(root + "/bin") && QDir().mkpath(root + "/share/importflx"));
        ASSERT_TRUE(
            QFile::copy(IMPORTFLX_DATA_DIR "/schema.sql", root + "/share/importflx/schema.sql"));
        platform::SetAppFolderForTesting(root + "/bin");
    }
    // Starts the window, as the program starts anew.
    void Start() {
        hooks.boxes.clear();
        hooks.dialogs.clear();
        window.reset();
        window = std::make_unique<frmImportFlex>();
    }
    // Acts on the database dialog: the file `path` typed, or picked with "Browse..." when
    // `browse`, then OK.
    static void ChooseFile(QWidget* dialog, const QString& path, DialogHooks& hooks, bool browse) {
        if (browse) {
            hooks.openPath = path;
            dialog->findChild<QPushButton*>("cmdBrowse")->click();
        } else {
            dialog->findChild<QLineEdit*>("txtFile")->setText(path);
        }
        Ok(dialog);
    }
    static void Ok(QWidget* dialog) {
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }

    QTemporaryDir home;
    TempDb db{DemoRowsSql()};
    DialogHooks hooks;
    std::unique_ptr<frmImportFlex> window;

  private:
    QByteArray oldDataHome_;
};

// A database is accepted only with its tables; the one accepted takes the next import and is
// the one opened at the next start.
TEST_F(DatabaseChoiceTest, TheDatabaseChosenIsCheckedUsedAndRemembered) {
    const TempDb other(DemoRowsSql());
    const TempDb empty({}, false);  // an empty file: an SQLite database without tables
    flxtest::Write(db.folder(), "acme.flx",
                   flxtest::Bytes(flxtest::Device("ACME", "QX-9", flxtest::Connectors(1))));
    Start();
    hooks.boxes.clear();
    hooks.ActOnDialogs({[&](QWidget* dialog) {
        ChooseFile(dialog, empty.path(), hooks, false);
        EXPECT_TRUE(dialog->isVisible());  // refused: the dialog stays for another choice
        ChooseFile(dialog, other.path(), hooks, true);
    }});
    window->findChild<QPushButton*>("cmdDatabase")->click();
    EXPECT_EQ(hooks.dialogs, QStringList{"Equipment Database"});
    EXPECT_EQ(hooks.boxes, QStringList{"-2147217865 The database '" + empty.path() +
                                       "' has no table 'tblManufacturers'."});
    EXPECT_EQ(window->windowTitle(), "Import Flx - " + other.path());
    EXPECT_EQ(RememberedDatabase(), other.path());

    window->findChild<QPushButton*>("cmdAll")->click();
    const QString added = "select count(*) from tblEquipment where EquipmentName = 'QX-9'";
    EXPECT_EQ(other.Scalar(added).toInt(), 1);
    EXPECT_EQ(db.Scalar(added).toInt(), 0);

    Start();
    EXPECT_EQ(window->windowTitle(), "Import Flx - " + other.path());
    EXPECT_EQ(hooks.boxes.last(), "We recommend that you back-up the database " + other.path() +
                                      " before performing these operations");
}

// A server's password serves the session only: no title, message or setting holds it.
TEST_F(DatabaseChoiceTest, AServersPasswordIsNeverKept) {
    const TempDb server(Store::kPostgres, DemoRowsSql(Store::kPostgres));
    Start();
    hooks.ActOnDialogs({[&](QWidget* dialog) {
        dialog->findChild<QRadioButton*>("optServer")->click();
        dialog->findChild<QLineEdit*>("txtServer")->setText(server.target());
        dialog->findChild<QLineEdit*>("txtPassword")->setText("s3cret");
        Ok(dialog);
    }});
    window->findChild<QPushButton*>("cmdDatabase")->click();
    EXPECT_TRUE(window->session().sEquipConnection.contains("password=s3cret"));
    EXPECT_EQ(window->windowTitle(), "Import Flx - " + server.target() + "&password=***");
    EXPECT_EQ(RememberedDatabase(), server.target());
    EXPECT_FALSE(
        flxtest::Read(home.filePath("config/importflx/importflx.conf")).contains("s3cret"));
    EXPECT_FALSE(hooks.boxes.join('\n').contains("s3cret"));
}

// Installed, the program starts on dbEquip.mdb in the user's data folder, offering at first to
// create it there or to choose another database; its lists start in the current folder.
TEST_F(DatabaseChoiceTest, AnInstalledProgramOffersItsDataFolder) {
    const QString data = home.filePath("data/importflx");
    const QString question =
        "There is no equipment database in " + data +
        " yet.\n\nCreate an empty one there now, with the tables and no rows?\nAnswer No to "
        "choose an existing database instead. [Yes/No] [?]";
    const struct {
        const char* name;
        bool create;          // the answer to the question
        QString chosen;       // a database then chosen in the dialog; empty: the dialog cancelled
        QString database;     // the database used
        QStringList dialogs;  // opened
    } cases[] = {
        {"created", true, "", data + "/dbEquip.mdb", {}},
        {"chosen", false, db.path(), db.path(), {"Equipment Database"}},
        {"neither", false, "", data + "/dbEquip.mdb", {"Equipment Database"}},
    };
    Install();
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(db.folder());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home.filePath("data")).removeRecursively();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           home.filePath(QString("config-") + c.name));
        hooks.answerYes = [&](const QString&) { return c.create; };
        hooks.ActOnDialogs({[&](QWidget* dialog) {
            if (c.chosen.isEmpty()) {
                dialog->close();
            } else {
                ChooseFile(dialog, c.chosen, hooks, false);
            }
        }});
        Start();
        EXPECT_EQ(hooks.dialogs, c.dialogs);
        const QString backUp = "We recommend that you back-up the database " + c.database +
                               " before performing these operations";
        ASSERT_EQ(hooks.boxes.size(), 3);
        EXPECT_EQ(hooks.boxes[0], question);
        EXPECT_EQ(hooks.boxes[2], backUp);
        EXPECT_EQ(window->windowTitle(), "Import Flx - " + c.database);
        EXPECT_EQ(window->DirPath(), QDir::toNativeSeparators(db.folder()));
        EXPECT_EQ(QFile::exists(data + "/dbEquip.mdb"), c.create);

        Start();  // the next start asks nothing unless there is still no database
        EXPECT_EQ(hooks.boxes.size(), c.create || !c.chosen.isEmpty() ? 2 : 3);
        EXPECT_EQ(window->windowTitle(), "Import Flx - " + c.database);
    }
    QDir::setCurrent(oldCwd);
}

}  // namespace
