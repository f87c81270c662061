// Run records, --undo and --resume of the batch tool, and the window's Preview and Undo Last
// Import, on SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/frmImportFlex.h"
#include "app/run_record.h"
#include "core/platform.h"
#include "report/frmReporStatus.h"
#include "tests/dialog_hooks.h"
#include "tests/flx_builder.h"
#include "tests/temp_db.h"

namespace {

struct Result {
    int exit;  // -1: killed
    QString out;
    QString err;
};

// A demo database, four device files (two of makers the database lacks, so an unattended run
// adds them) and a data folder of the test's own, where the runs are recorded.
class RunsTest : public ::testing::TestWithParam<Store> {
  protected:
    void SetUp() override {
        oldDataHome_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.filePath("data")));
        const char* makers[] = {"ACME", "NEWCO", "NEWCO", "OTHERCO"};
        for (int i = 0; i < 4; ++i) {
            const QString model = QString("M-%1").arg(i);
            files << flxtest::Write(
                folder.path(), QString("f%1.flx").arg(i),
                flxtest::Bytes(flxtest::Device(makers[i], model,
                                               flxtest::Connectors(2 + i, model + " In") +
                                                   flxtest::Connectors(1, model + " Out", 'O'))));
        }
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", oldDataHome_); }

    Result Batch(const QStringList& args, const QByteArray& killAfter = {}) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!killAfter.isEmpty()) {
            env.insert("IMPORTFLX_TEST_KILL_AFTER_FILES", killAfter);
        }
        process.setProcessEnvironment(env);
        process.start(IMPORTFLX_BATCH_EXE, args);
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    Result Import(const QStringList& which, const QByteArray& killAfter = {}) const {
        return Batch(QStringList{"--db", db.target(), "--quiet", "--unattended"} + which,
                     killAfter);
    }
    QJsonObject Last() const {
        QString error;
        const std::optional<QJsonObject> record = LoadRecord(FindRecord("last", error), error);
        EXPECT_TRUE(record) << error.toStdString();
        return record.value_or(QJsonObject());
    }
    // The database as its dump tool writes it, without the key counters, which a transaction
    // does not give back.
    QString Dump() const {
        return db.Dump().remove(QRegularExpression("^.*(sqlite_sequence|setval).*\n",
                                                   QRegularExpression::MultilineOption));
    }
    // The models the test's files store.
    QStringList Models() const {
        return db.Rows("SELECT EquipmentName FROM tblEquipment ORDER BY EquipmentName")
            .filter(QRegularExpression("^M-"));
    }

    QTemporaryDir home_;
    QByteArray oldDataHome_;
    QTemporaryDir folder;
    QStringList files;
    TempDb db{GetParam(), DemoRowsSql(GetParam())};
};

// The record lists what the run stored, row for row as the database holds it, with the
// manufacturers it added and each file's size and hash.
TEST_P(RunsTest, TheRecordHoldsTheRowsStored) {
    ASSERT_EQ(Import(files).exit, 0);
    const QJsonObject record = Last();
    EXPECT_TRUE(record["complete"].toBool());
    EXPECT_EQ(record["program"].toString(), "importflx-batch");
    EXPECT_TRUE(record["options"]["unattended"].toBool());
    EXPECT_EQ(record["manufacturersAdded"].toArray(),
              (QJsonArray{QJsonObject{{"id", "NEWCO"}, {"name", "NEWCO"}},
                          QJsonObject{{"id", "OTHERCO"}, {"name", "OTHERCO"}}}));
    const QJsonArray recorded = record["files"].toArray();
    ASSERT_EQ(recorded.size(), files.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QJsonObject file = recorded[i].toObject();
        const QByteArray bytes = flxtest::Read(files[i]);
        EXPECT_EQ(file["size"].toInteger(), bytes.size());
        EXPECT_EQ(file["sha256"].toString(),
                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        const QJsonObject device = file["equipment"][0].toObject();
        const qint64 id = device["equipmentId"].toInteger();
        const QString names = "SELECT Name FROM tbl%1 WHERE EquipmentID = %2 ORDER BY Name";
        for (const char* table : {"Inputs", "Outputs"}) {
            QStringList stored;
            for (const QJsonValue& row : device["rows"][QString(table).toLower()].toArray()) {
                stored << row[IsPostgres(GetParam()) ? "name" : "Name"].toString();
            }
            stored.sort();
            EXPECT_EQ(stored, db.Rows(names.arg(table).arg(id))) << table;
        }
        const QJsonObject equipment = device["rows"]["equipment"].toObject();
        EXPECT_EQ(equipment[IsPostgres(GetParam()) ? "equipmentname" : "EquipmentName"],
                  device["model"]);
    }
}

// The newest 200 records are kept: a run's record pushes out the oldest.
TEST_P(RunsTest, TheNewestRecordsAreKept) {
    ASSERT_TRUE(QDir().mkpath(RunsFolder()));
    for (int i = 0; i < kKeptRecords; ++i) {
        QFile old(QDir(RunsFolder())
                      .filePath(QString("20000101-000000-%1-1.json").arg(i, 3, 10, QChar('0'))));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(Import(files.mid(0, 1)).exit, 0);
    const QStringList kept = RecordPaths();
    EXPECT_EQ(kept.size(), kKeptRecords);
    EXPECT_FALSE(QFileInfo(kept.front()).fileName().startsWith("2000"));
    EXPECT_TRUE(kept.back().endsWith("20000101-000000-001-1.json"));
}

// Undone, an unattended run leaves the database as it was, its new manufacturers too; a second
// undo finds nothing left, and another database than the run's is refused before anything.
TEST_P(RunsTest, UndoGivesBackTheDatabaseOnceAndOnlyTheRunsOwn) {
    const QString before = Dump();
    ASSERT_EQ(Import(files).exit, 0);
    TempDb other(GetParam(), DemoRowsSql(GetParam()));
    const Result wrong = Batch({"--undo", "last", "--db", other.target()});
    EXPECT_EQ(wrong.exit, 2);
    EXPECT_TRUE(wrong.err.contains("not on")) << wrong.err.toStdString();
    EXPECT_EQ(Models().size(), 4);

    const Result dry = Batch({"--undo", "last", "--dry-run"});
    EXPECT_EQ(dry.exit, 0);
    EXPECT_TRUE(
        dry.out.startsWith("Would remove 4 equipment rows, 18 connector rows and 2 "
                           "manufacturers."))
        << dry.out.toStdString();
    EXPECT_EQ(Models().size(), 4);

    const Result undo = Batch({"--undo", "last", "--db", db.target()});
    EXPECT_EQ(undo.exit, 0) << undo.err.toStdString();
    EXPECT_EQ(undo.out, "Removed 4 equipment rows, 18 connector rows and 2 manufacturers.\n");
    EXPECT_EQ(Dump(), before);

    const Result again = Batch({"--undo", "last"});
    EXPECT_EQ(again.exit, 0);
    EXPECT_TRUE(again.out.startsWith("Nothing to remove")) << again.out.toStdString();
}

// A device a colleague changed and one he added a connector to stay, named with the reason, and
// so does the manufacturer they refer to; the rest goes.
TEST_P(RunsTest, UndoKeepsWhatWasChangedSince) {
    ASSERT_EQ(Import(files).exit, 0);
    db.Exec("UPDATE tblEquipment SET EquipmentType = 'Mixer' WHERE EquipmentName = 'M-1'");
    db.Exec(
        "INSERT INTO tblOutputs (EquipmentID, Name) SELECT EquipmentID, 'Extra' FROM "
        "tblEquipment WHERE EquipmentName = 'M-3'");
    const Result undo = Batch({"--undo", "last", "--json", "-"});
    EXPECT_EQ(undo.exit, 1);
    const QJsonObject json = QJsonDocument::fromJson(undo.out.toUtf8()).object();
    QStringList kept;
    for (const QJsonValue& row : json["kept"].toArray()) {
        kept << row["what"].toString().section(' ', -2) + ": " + row["reason"].toString();
    }
    EXPECT_EQ(kept,
              (QStringList{"M-1 (NEWCO): its equipment row was changed since the import",
                           "M-3 (OTHERCO): its input or output rows were changed since the import",
                           "manufacturer NEWCO: 1 equipment row(s) refer to it",
                           "manufacturer OTHERCO: 1 equipment row(s) refer to it"}));
    EXPECT_EQ(json["removed"]["equipment"].toInt(), 2);
    EXPECT_EQ(Models(), (QStringList{"M-1", "M-3"}));
}

// Killed after two files, the run's record holds them; the resume imports the rest once, a file
// changed since the run only with --force, and the killed run's undo removes its two only.
TEST_P(RunsTest, AKilledRunIsResumedAndEveryFileStoredOnce) {
    EXPECT_EQ(Import(files, "2").exit, -1);
    QString error;
    const QString killed = FindRecord("last", error);
    EXPECT_EQ(Models(), (QStringList{"M-0", "M-1"}));
    flxtest::Write(folder.path(), "f3.flx",
                   flxtest::Bytes(flxtest::Device("OTHERCO", "M-3b", flxtest::Connectors(1))));

    const Result refused = Batch({"--resume", "last", "--dry-run", "--quiet"});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.contains("f3.flx: changed since the run; give --force"))
        << refused.err.toStdString();

    const Result resume = Batch({"--resume", "last", "--force", "--quiet"});
    EXPECT_EQ(resume.exit, 0) << resume.err.toStdString();
    EXPECT_EQ(Models(), (QStringList{"M-0", "M-1", "M-2", "M-3b"}));
    EXPECT_EQ(Batch({"--resume", "last"}).exit, 0);
    EXPECT_EQ(Models().size(), 4);

    // The killed run's rows, kept by its journal, are its own to undo; the manufacturer it added
    // stays, in use by the resume's device.
    const Result undo = Batch({"--undo", killed});
    EXPECT_EQ(undo.exit, 1);
    EXPECT_TRUE(undo.out.contains("Kept manufacturer NEWCO")) << undo.out.toStdString();
    EXPECT_EQ(Models(), (QStringList{"M-2", "M-3b"}));
}

// In the window, a preview reports as the real run does and stores nothing; the real run is
// then undone through its button, after the question with the counts.
TEST_P(RunsTest, TheWindowPreviewsAndUndoes) {
    DialogHooks hooks;
    platform::SetAppFolderForTesting(db.folder());
    auto window = std::make_unique<frmImportFlex>(db.target());
    window->SetDirPath(folder.path());
    window->findChild<QCheckBox*>("chkLog")->setChecked(true);
    window->findChild<QCheckBox*>("chkUnattended")->setChecked(true);
    QPushButton* undo = window->findChild<QPushButton*>("cmdUndo");
    const QString before = Dump();

    window->findChild<QCheckBox*>("chkPreview")->setChecked(true);
    window->findChild<QPushButton*>("cmdAll")->click();
    const QString preview = window->ReportWindow()->ReportText();
    EXPECT_EQ(Dump(), before);
    EXPECT_FALSE(undo->isEnabled());

    window->findChild<QCheckBox*>("chkPreview")->setChecked(false);
    window->findChild<QPushButton*>("cmdAll")->click();
    const QString real = window->ReportWindow()->ReportText().mid(preview.size());
    EXPECT_EQ(preview, real + "Preview: nothing was stored\r\n");
    EXPECT_EQ(Models().size(), 4);
    ASSERT_TRUE(undo->isEnabled());

    hooks.boxes.clear();
    undo->click();
    ASSERT_EQ(hooks.boxes.size(), 2);
    EXPECT_TRUE(QRegularExpression("^Remove 4 equipment rows, 18 connector rows and 2 "
                                   "manufacturers added by the import of \\d\\d:\\d\\d\\?")
                    .match(hooks.boxes[0])
                    .hasMatch())
        << hooks.boxes[0].toStdString();
    EXPECT_EQ(hooks.boxes[1], "Removed 4 equipment rows, 18 connector rows and 2 manufacturers.");
    EXPECT_EQ(Dump(), before);
    EXPECT_FALSE(undo->isEnabled());
    window.reset();
}

INSTANTIATE_TEST_SUITE_P(Stores, RunsTest, ::testing::ValuesIn(AllStores()),
                         [](const ::testing::TestParamInfo<Store>& info) {
                             return StoreName(info.param);
                         });

}  // namespace
