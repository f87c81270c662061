#include "records/journal.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "records/database.h"
#include "records/device.h"
#include "records/target.h"
#include "tests/temp_db.h"

namespace {

// `sql` run by the sqlite3 tool on `path`, its output trimmed: the file as another program
// that opens it alone sees it.
QString Sqlite3(const QString& path, const QString& sql) {
    QProcess tool;
    tool.start("sqlite3", {path, sql});
    EXPECT_TRUE(tool.waitForFinished(30000));
    return QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError()).trimmed();
}

db::DeviceBatch Device(const QString& model, int connectors) {
    db::DeviceBatch batch{"ACME", model, "Router", {}};
    for (int i = 0; i < connectors; ++i) {
        batch.connectors.push_back({db::ConnectorTable::kInputs,
                                    QString("Input %1 ").arg(i, 3, 10, QChar('0')).repeated(4),
                                    "AES", "XLR", ""});
    }
    return batch;
}

// What the file beside the database tells, and what a copy of the database file alone holds.
struct Left {
    QString mode;
    bool note;
    bool log;
};

Left LeftBeside(const QString& path) {
    const QString copy = path + ".copy";
    QFile::remove(copy);
    QFile::copy(path, copy);
    return {Sqlite3(copy, "pragma journal_mode"), QFile::exists(db::JournalNotePath(path)),
            QFile::exists(db::WriteAheadLogPath(path)) &&
                QFileInfo(db::WriteAheadLogPath(path)).size() > 0};
}

// However the file was left, a run ends with it in the mode it had before importflx changed it,
// without a log beside it: the user's rollback modes come back, the user's own log mode stays,
// and a log that a killed importer left (its note beside the file) is copied back first.
TEST(JournalMode, ARunLeavesTheFileWholeInTheModeItHadBefore) {
    const struct {
        const char* label;
        const char* modeBefore;
        const char* noteBefore;  // nullptr: none
        const char* modeAfter;
    } cases[] = {
        {"rollback journal", "delete", nullptr, "delete"},
        {"the user's own log", "wal", nullptr, "wal"},
        {"left in log mode by a killed importer", "wal", "delete", "delete"},
        {"a note that holds no mode", "delete", "rubbish", "delete"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDb temp(DemoRowsSql());
        Sqlite3(temp.path(), QString("pragma journal_mode=%1").arg(c.modeBefore));
        if (c.noteBefore != nullptr) {
            QFile note(db::JournalNotePath(temp.path()));
            ASSERT_TRUE(note.open(QIODevice::WriteOnly));
            note.write(c.noteBefore);
        }
        db::Database database(db::ConnectionStringForFile(temp.path()));
        const db::DeviceResult stored = db::StoreDevice(database, Device("M1", 3));
        EXPECT_EQ(stored.status, db::DeviceResult::Status::kStored)
            << (stored.error ? stored.error->description().toStdString() : "");
        EXPECT_EQ(database.EndOfRun(), std::nullopt);
        const Left left = LeftBeside(temp.path());
        EXPECT_EQ(left.mode, c.modeAfter);
        EXPECT_FALSE(left.note);
        EXPECT_EQ(Sqlite3(temp.path() + ".copy", "select count(*) from tblInputs"), "3");
    }
}

// Another importer in the middle of a device when a run ends: the mode cannot be changed under
// it, so the note stays, and the next session that opens the file puts it back first.
TEST(JournalMode, AFileInUseAtTheEndIsPutBackByTheNextSession) {
    TempDb temp(DemoRowsSql());
    {
        db::Database first(db::ConnectionStringForFile(temp.path()));
        first.connection();
        const auto held = temp.HoldForImport();
        EXPECT_EQ(first.EndOfRun(), std::nullopt);
        EXPECT_TRUE(QFile::exists(db::JournalNotePath(temp.path())));
    }
    db::Database next(db::ConnectionStringForFile(temp.path()));
    next.connection();
    EXPECT_EQ(next.EndOfRun(), std::nullopt);
    const Left left = LeftBeside(temp.path());
    EXPECT_EQ(left.mode, "delete");
    EXPECT_FALSE(left.note);
    EXPECT_FALSE(left.log);
}

// A file system that fills up during a run: the devices before it stay, the run's end cannot
// copy the log back and says which file must stay beside the database, and the next session
// copies it back once there is room.
TEST(JournalMode, AFullDiskKeepsTheLogAndSaysSoUntilThereIsRoom) {
    QTemporaryDir mountPoint;
    if (QProcess::execute("mount",
                          {"-t", "tmpfs", "-o", "size=600k", "tmpfs", mountPoint.path()}) != 0) {
        GTEST_SKIP() << "no small file system can be mounted here";
    }
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint.path()}); });
    TempDb temp(DemoRowsSql());
    const QString path = QDir(mountPoint.path()).filePath("dbEquip.mdb");
    ASSERT_TRUE(QFile::copy(temp.path(), path));
    const QString filler = QDir(mountPoint.path()).filePath("filler");
    {
        db::Database database(db::ConnectionStringForFile(path));
        const db::DeviceResult before = db::StoreDevice(database, Device("BEFORE", 300));
        ASSERT_EQ(before.status, db::DeviceResult::Status::kStored)
            << before.error->description().toStdString();
        QFile fill(filler);
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size()) {
        }
        fill.close();
        const db::DeviceResult full = db::StoreDevice(database, Device("FULL", 40));
        EXPECT_EQ(full.status, db::DeviceResult::Status::kFailed);
        const std::optional<AppError> left = database.EndOfRun();
        ASSERT_TRUE(left.has_value());
        EXPECT_EQ(left->kind(), ErrorKind::kDiskFull);
        EXPECT_TRUE(left->description().contains(db::WriteAheadLogPath(path)))
            << left->description().toStdString();
    }
    EXPECT_TRUE(QFile::exists(db::JournalNotePath(path)));
    EXPECT_EQ(Sqlite3(path,
                      "select group_concat(EquipmentName) from tblEquipment where "
                      "EquipmentID > 2"),
              "BEFORE");
    ASSERT_TRUE(QFile::remove(filler));
    db::Database next(db::ConnectionStringForFile(path));
    next.connection();
    EXPECT_EQ(next.EndOfRun(), std::nullopt);
    const Left left = LeftBeside(path);
    EXPECT_EQ(left.mode, "delete");
    EXPECT_FALSE(left.note);
    EXPECT_EQ(Sqlite3(path + ".copy", "pragma integrity_check"), "ok");
    EXPECT_EQ(Sqlite3(path + ".copy", "select count(*) from tblInputs"), "300");
}

}  // namespace
