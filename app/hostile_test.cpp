// Broken and hostile databases and files. Each case runs through the batch tool (its exit status
// and standard error) and through the import engine with a scripted window (the messages the
// window would show: number, description, source); afterwards the database must be whole and
// every row it held before must still be there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/import_commands.h"
#include "app/session.h"
#include "app/windowing.h"
#include "records/connection.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/office_reader.h"
#include "tests/temp_db.h"

namespace {

constexpr int kLimitMb = 1536;  // peak memory allowed while a 200 MB file is imported

// ---- Files and databases ----

QString WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
    return path;
}

// FLX text with CR LF line ends; each character one byte (Windows-1252 for the sample texts).
QByteArray Flx(const QStringList& lines) {
    return (lines.join("\r\n") + "\r\n").toLatin1();
}

QStringList Converter(const QString& manufacturerId, const QString& model = "QX-1") {
    return {"<<STARTDEF>>",     manufacturerId,          model,
            "Converter",        "<<STARTBLK>>",          "T SIG CONN  NAME",
            "I SDI BNC   In 1", "O ANA XLR3M Audio Out", "<<ENDBLK>>"};
}

// One device of `model` with `inputs` input lines.
QStringList Device(const QString& manufacturerId, const QString& model, int inputs) {
    QStringList lines{"<<STARTDEF>>", manufacturerId, model,
                      "Router",       "<<STARTBLK>>", "T SIG CONN  NAME"};
    for (int i = 0; i < inputs; ++i) {
        lines << QString("I SDI BNC   Input %1 of %2").arg(i).arg(model);
    }
    return lines << "<<ENDBLK>>";
}

void MakeDemoDb(const QString& path) {
    TempDb::ExecOn(path, DemoSchemaSql() + ";\n" + DemoRowsSql());
}

// The rows of `sqlText` on the database at `path`, columns joined by '|'.
QStringList Rows(const QString& path, const QString& sqlText) {
    QStringList rows;
    const QString name = "hostile-" + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(sqlText)) {
            ADD_FAILURE() << sqlText.toStdString() << " on " << path.toStdString();
        }
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i) {
                columns << (query.isNull(i) ? "<null>" : query.value(i).toString());
            }
            rows << columns.join('|');
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

bool IsSqlite(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

// What a database file holds: every row of every table, or the bytes of any other file.
struct Snapshot {
    QByteArray bytes;
    std::map<QString, QStringList> tables;
};

Snapshot Take(const QString& path) {
    Snapshot snapshot;
    if (!IsSqlite(path)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            snapshot.bytes = file.readAll();
        }
        return snapshot;
    }
    for (const QString& table :
         Rows(path,
              "select name from sqlite_master where type = 'table' and name not like 'sqlite%'")) {
        snapshot.tables[table] = Rows(path, QString("select * from \"%1\"").arg(table));
    }
    return snapshot;
}

// The file is still what it was, or a whole database that still holds every earlier row.
void ExpectKept(const Snapshot& before, const QString& path) {
    if (before.tables.empty()) {
        QFile file(path);
        EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), before.bytes)
            << "a file that is no database was changed";
        return;
    }
    EXPECT_EQ(Rows(path, "pragma integrity_check"), QStringList{"ok"});
    const Snapshot after = Take(path);
    for (const auto& [table, rows] : before.tables) {
        const QStringList now = after.tables.count(table) ? after.tables.at(table) : QStringList{};
        for (const QString& row : rows) {
            EXPECT_TRUE(now.contains(row)) << table.toStdString() << " lost " << row.toStdString();
        }
    }
}

// ---- Root's right to ignore file modes ----

constexpr unsigned kFileOverride = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// Drops (false) or restores (true) the calling thread's right to ignore file modes, so that a
// file made unreadable with chmod is unreadable for root as well.
void SetFileOverride(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective = on ? data[0].effective | (kFileOverride & data[0].permitted)
                           : data[0].effective & ~kFileOverride;
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

// ---- The two ways to run an import ----

struct BatchRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs importflx-batch. `unprivileged`: without root's right to ignore file modes.
BatchRun RunTool(const QStringList& args, bool unprivileged = false, const QString& outFile = {}) {
    QProcess process;
    if (unprivileged) {
        process.setChildProcessModifier([] {
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        });
    }
    if (!outFile.isEmpty()) {
        process.setStandardOutputFile(outFile);
    }
    process.start(IMPORTFLX_BATCH_EXE, args);
    EXPECT_TRUE(process.waitForFinished(300000)) << "importflx-batch did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "importflx-batch crashed";
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Runs the import window's "Import All" over the host's file list. `beforeImport` runs once the
// run has taken its list and before the first file is read.
void RunEngine(FakeHost& host, const QString& connection,
               const std::function<void()>& beforeImport = {}, bool unprivileged = false) {
    aManuMap.assign(1, ManuMapEntry{});
    if (unprivileged) {
        SetFileOverride(false);
    }
    {
        SessionState session;
        session.sEquipConnection = connection;
        ImportContext ctx{session, host};
        bool started = false;
        host.onProcessEvents = [&] {
            if (!started && beforeImport) {
                beforeImport();
            }
            started = true;
        };
        cmdAll_Click(ctx);
    }
    if (unprivileged) {
        SetFileOverride(true);
    }
    db::Connection::CloseAll();
}

// What the batch tool writes to standard error for the engine's message boxes.
QString AsStderr(const QStringList& messages) {
    return messages.isEmpty() ? QString() : messages.join('\n') + '\n';
}

QString Expand(QString text, const QString& folder, const QString& db) {
    return text.replace("%DIR%", folder).replace("%DB%", db);
}

QStringList Expand(QStringList texts, const QString& folder, const QString& db) {
    for (QString& text : texts) {
        text = Expand(text, folder, db);
    }
    return texts;
}

// ---- Broken databases ----

// Another program that holds a lock on a database until released. A process of its own: in
// this process, any close of the file would drop the lock.
class Locker {
  public:
    Locker(const QString& path, const QString& begin) {
        sqlite_.start("sqlite3", {path});
        sqlite_.write((begin + ";\nSELECT 'held';\n").toUtf8());
        QByteArray out;
        while (!out.contains("held") && sqlite_.waitForReadyRead(10000)) {
            out += sqlite_.readAllStandardOutput();
        }
        EXPECT_TRUE(out.contains("held")) << sqlite_.readAllStandardError().toStdString();
    }
    ~Locker() {
        sqlite_.write("ROLLBACK;\n.quit\n");
        sqlite_.closeWriteChannel();
        sqlite_.waitForFinished(10000);
    }

  private:
    QProcess sqlite_;
};

std::unique_ptr<Locker> gLock;

// Makes a file or folder read-only (on) or writable again. Root writes whatever the modes say,
// so for root the file is made immutable instead.
void Immutable(const QString& path, bool on) {
    if (geteuid() == 0) {
        ASSERT_EQ(QProcess::execute("chattr", {on ? "+i" : "-i", path}), 0);
    } else {
        const mode_t writable = QFileInfo(path).isDir() ? 0755 : 0644;
        ASSERT_EQ(chmod(path.toLocal8Bit().constData(), on ? writable & 0555 : writable), 0);
    }
}

struct DbCase {
    const char* name;
    std::function<void(const QString& db)> spoil;    // changes what the database holds
    std::function<void(const QString& db)> hold;     // keeps it from being written...
    std::function<void(const QString& db)> restore;  // ...until this runs
    int exitCode;                                    // of the batch tool
    QString batchError;    // its standard error when the database is refused (status 2)
    QStringList messages;  // the engine's messages for the one file
    int stored;            // equipment rows the engine adds for the file
};

TEST(HostileDatabase, EveryBrokenDatabaseIsReportedAndKeepsItsRows) {
    const QString noTable = "-2147217865 The database '%DB%' has no table '%1'.";
    const QString locked =
        "-2147024863 The database '%DB%' is locked by another program (waited 3 seconds). Close "
        "the other program and try again.";
    const auto exec = [](const QString& sqlText) {
        return [sqlText](const QString& db) { TempDb::ExecOn(db, sqlText); };
    };
    const auto replaceWith = [](const QByteArray& bytes) {
        return [bytes](const QString& db) { WriteBytes(db, bytes); };
    };
    const DbCase cases[] = {
        {"the file is missing",
         [](const QString& db) { QFile::remove(db); },
         {},
         {},
         2,
         "importflx-batch: database not found: %DB%\n",
         {"-2147467259 Could not find the database file '%DIR%/dbEquip.MDB'. importflx database"},
         0},
        {"a text file, not a database",
         replaceWith("Manufacturer;Model\r\nACME;DA-100\r\n"),
         {},
         {},
         2,
         "importflx-batch: -2147024885 The database file '%DB%' is in a format that cannot be "
         "opened here: it is not an SQLite database.\n",
         {"-2147024885 The database file '%DB%' is in a format that cannot be opened here: it is "
          "not an SQLite database. importflx database"},
         0},
        {"an empty file",
         replaceWith({}),
         {},
         {},
         2,
         "importflx-batch: " + noTable.arg("tblManufacturers") + '\n',
         {noTable.arg("tblManufacturers") + " importflx database"},
         0},
        {"an SQLite database without the tables",
         [](const QString& db) {
             QFile::remove(db);
             TempDb::ExecOn(db, "create table notes (text varchar(50))");
         },
         {},
         {},
         2,
         "importflx-batch: " + noTable.arg("tblManufacturers") + '\n',
         {noTable.arg("tblManufacturers") + " importflx database"},
         0},
        // The window imports up to the missing table, as with any failing statement; the batch
        // tool refuses the database before it imports anything.
        {"the table tblInputs is missing",
         exec("drop table tblInputs"),
         {},
         {},
         2,
         "importflx-batch: " + noTable.arg("tblInputs") + '\n',
         {noTable.arg("tblInputs") + " importflx database"},
         1},
        {"the column EquipmentType is missing",
         exec("alter table tblEquipment drop column EquipmentType"),
         {},
         {},
         2,
         "importflx-batch: -2147217865 The database '%DB%' has no column 'EquipmentType'.\n",
         {"-2147217865 The database '%DB%' has no column 'EquipmentType'. importflx database"},
         0},
        {"a manufacturer row whose ManufacturerID is null",
         exec("create table m as select * from tblManufacturers; drop table tblManufacturers;"
              "create table tblManufacturers (ManufacturerID varchar(50), ManufacturerName "
              "varchar(50), DisplayInEquipment boolean not null default 0);"
              "insert into tblManufacturers select ManufacturerID, ManufacturerName, "
              "DisplayInEquipment from m; drop table m;"
              "insert into tblManufacturers values (null, 'Nameless', -1)"),
         {},
         {},
         0,
         {},
         {},
         1},
        {"the file is read-only",
         {},
         [](const QString& db) { Immutable(db, true); },
         [](const QString& db) { Immutable(db, false); },
         1,
         {},
         {"-2147024891 The database '%DB%' is read-only: rows cannot be added. importflx "
          "database"},
         0},
        {"its folder is read-only",
         {},
         [](const QString& db) { Immutable(QFileInfo(db).path(), true); },
         [](const QString& db) { Immutable(QFileInfo(db).path(), false); },
         1,
         {},
         {"-2147024891 The database '%DB%' cannot be written: the journal file that every "
          "change needs cannot be created in its folder. importflx database"},
         0},
        {"another program holds an exclusive lock",
         {},
         [](const QString& db) { gLock = std::make_unique<Locker>(db, "BEGIN EXCLUSIVE"); },
         [](const QString&) { gLock.reset(); },
         2,
         "importflx-batch: " + locked + '\n',
         {locked + " importflx database"},
         0},
        {"another program is writing",
         {},
         [](const QString& db) { gLock = std::make_unique<Locker>(db, "BEGIN IMMEDIATE"); },
         [](const QString&) { gLock.reset(); },
         1,
         {},
         {locked + " importflx database"},
         0},
        // The rows go in, but the commit at the end of the file has to wait for the reader.
        {"another program keeps reading",
         {},
         [](const QString& db) {
             gLock = std::make_unique<Locker>(db, "BEGIN; SELECT count(*) FROM tblEquipment");
         },
         [](const QString&) { gLock.reset(); },
         1,
         {},
         {locked + " The rows added since the last commit were not stored. importflx database"},
         0},
    };
    for (const DbCase& c : cases) {
        for (const bool batch : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (batch ? ", batch tool" : ", engine"));
            QTemporaryDir dir;
            const QString db = dir.filePath("dbEquip.mdb");
            MakeDemoDb(db);
            const QString flx = WriteBytes(dir.filePath("zephyr.flx"), Flx(Converter("ZEPHYR")));
            if (c.spoil) {
                c.spoil(db);
            }
            const Snapshot before = Take(db);
            if (c.hold) {
                c.hold(db);
            }
            const QStringList messages = Expand(c.messages, dir.path(), db);
            QElapsedTimer timer;
            timer.start();
            if (batch) {
                const BatchRun r = RunTool({"--db", db, "--unattended", "--quiet", flx});
                EXPECT_EQ(r.exitCode, c.exitCode);
                EXPECT_EQ(r.err, c.exitCode == 2 ? Expand(c.batchError, dir.path(), db)
                                                 : AsStderr(messages));
            } else {
                FakeHost host;
                host.folder = dir.path();
                host.files = {"zephyr.flx"};
                RunEngine(host, db::BuildConnectionString(dir.path()));
                EXPECT_EQ(host.messages, messages);
                EXPECT_EQ(host.ReportLines().contains("Added " + flx), messages.isEmpty());
            }
            // A lock is waited for once, never once per statement.
            EXPECT_LT(timer.elapsed(), 10000);
            if (c.restore) {
                c.restore(db);
            }
            ExpectKept(before, db);
            if (before.tables.count("tblEquipment")) {
                EXPECT_EQ(Rows(db,
                               "select count(*) from tblEquipment where EquipmentName = "
                               "'QX-1'"),
                          QStringList{QString::number(batch && c.exitCode == 2 ? 0 : c.stored)});
            }
        }
    }
}

TEST(HostileDatabase, AFullDiskKeepsTheFinishedFilesAndAWholeDatabase) {
    QTemporaryDir dir;
    const QString disk = dir.filePath("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    if (::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno)
                     << "); run the tests as root to try a full disk";
    }
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(path.toLocal8Bit().constData(), MNT_DETACH); }
    } unmount{disk};

    const QString db = QDir(disk).filePath("dbEquip.mdb");
    const QString first = WriteBytes(dir.filePath("first.flx"), Flx(Device("ZEPHYR", "S-1", 5)));
    // Far more rows than fit: the disk runs full in the middle of the file.
    QStringList lines;
    for (int block = 0; block < 100; ++block) {
        lines << Device("ZEPHYR", QString("BIG-%1").arg(block), 600);
    }
    const QString big = WriteBytes(dir.filePath("big.flx"), Flx(lines));
    // More rows than fit, but few enough to wait in memory for the file's commit.
    lines.clear();
    for (int block = 0; block < 100; ++block) {
        lines << Device("ZEPHYR", QString("MID-%1").arg(block), 50);
    }
    const QString medium = WriteBytes(dir.filePath("medium.flx"), Flx(lines));
    const QString last = WriteBytes(dir.filePath("last.flx"), Flx(Device("ACME", "S-2", 5)));
    const QString full = "-2147024784 The disk that holds '" + db + "' is full: ";

    const struct {
        const char* name;
        bool fillFirst;         // the disk is full before the run starts
        QStringList files;      // imported in this order
        QStringList messages;   // shown by the engine
        QStringList equipment;  // new equipment rows afterwards
    } cases[] = {
        {"the disk runs full in the middle of a file",
         false,
         {first, big, last},
         {full + "the row was not stored. The rows added since the last commit were not stored "
                 "either. importflx database"},
         {"S-1", "S-2"}},
        {"the disk runs full when the rows of a file are committed",
         false,
         {first, medium, last},
         {"-2147024784 The disk that holds '" + db +
          "' is full. The rows added since the last commit were not stored. importflx database"},
         {"S-1", "S-2"}},
        {"the disk is full from the start",
         true,
         {first, last},
         {full + "the row was not stored. importflx database",
          full + "the row was not stored. importflx database"},
         {}},
    };
    for (const auto& c : cases) {
        for (const bool batch : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (batch ? ", batch tool" : ", engine"));
            for (const QString& name : QDir(disk).entryList(QDir::Files)) {
                QFile::remove(QDir(disk).filePath(name));
            }
            MakeDemoDb(db);
            if (c.fillFirst) {
                QFile filler(QDir(disk).filePath("filler"));
                ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
                const QByteArray block(4096, 'x');
                while (filler.write(block) == block.size() && filler.flush()) {
                }
            }
            const Snapshot before = Take(db);
            if (batch) {
                const BatchRun r =
                    RunTool(QStringList{"--db", db, "--unattended", "--quiet"} + c.files);
                EXPECT_EQ(r.exitCode, 1);
                EXPECT_EQ(r.err, AsStderr(c.messages));
            } else {
                FakeHost host;
                host.files = c.files;
                RunEngine(host, "Data Source=" + db + ";Persist Security Info=False");
                EXPECT_EQ(host.messages, c.messages);
            }
            QFile::remove(QDir(disk).filePath("filler"));
            ExpectKept(before, db);
            EXPECT_EQ(Rows(db,
                           "select EquipmentName from tblEquipment where EquipmentID > 2 "
                           "order by EquipmentID"),
                      c.equipment);
            EXPECT_EQ(Rows(db, "select count(*) from tblInputs"),
                      QStringList{QString::number(5 * c.equipment.size())});
        }
    }
}

// ---- Hostile files ----

// Values that mean something to SQL, to RTF, to a terminal or to a message box.
const QString kHostileId = R"(O'Neil "Q" \{x})";
const QString kHostileModel = QString("M\\1}{'; --") + QChar(0x7f);
const QString kHostileType = QString("T") + QChar(0x1b) + "]0;owned" + QChar(7) + "<b>x</b>";
const QString kHostileName = QString("N") + QChar(1) + QChar(0x1b) + "[2J\\par}" + QChar(0x81);

QStringList HostileLines() {
    return {"<<STARTDEF>>", kHostileId, kHostileModel, kHostileType, "<<STARTBLK>>",
            "T SIG CONN  NAME", "I S'I {C}\\  " + kHostileName,
            // Too long for its column: the message quotes the value.
            "O ANA XLR3M " + QString(QChar(0x1b)) + "[31m" + QString(60, 'x')};
}

// Where the import leaves the hostile values: each must be stored exactly as the file has it.
void ExpectHostileValuesStored(const QString& db) {
    const QString name = "hostile-values";
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase("QSQLITE", name);
        connection.setDatabaseName(db);
        ASSERT_TRUE(connection.open());
        QSqlQuery query(connection);
        ASSERT_TRUE(query.exec(
            "select e.EquipmentName, e.EquipmentType, e.ManufacturerID, m.ManufacturerName, "
            "i.Name, i.Type, i.Conn from tblEquipment e join tblManufacturers m using "
            "(ManufacturerID) join tblInputs i using (EquipmentID)"));
        ASSERT_TRUE(query.next());
        const QStringList expected{kHostileModel, kHostileType, kHostileId, kHostileId,
                                   kHostileName,  "S'I",        "{C}\\"};
        for (int i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(query.value(i).toString(), expected.at(i)) << "column " << i;
        }
        EXPECT_FALSE(query.next());
    }
    QSqlDatabase::removeDatabase(name);
}

struct FileCase {
    const char* name;
    std::function<QStringList(const QString& folder)> make;   // writes files, returns the list
    std::function<void(const QString& folder)> beforeImport;  // after listing, before import
    bool unprivileged;
    QStringList messages;   // %DIR% is the folder
    QStringList added;      // files that end with their "Added " line
    QStringList equipment;  // new equipment rows, in order
};

TEST(HostileFiles, EveryHostileFileIsReportedAndNothingElseIsStored) {
    const QString missing = "no file in path: %DIR%/";
    const FileCase cases[] = {
        {"random bytes with NULs",
         [](const QString& folder) {
             QByteArray bytes(1 << 20, '\0');
             QRandomGenerator random(1234);
             for (int i = 0; i < bytes.size(); i += 3) {
                 bytes[i] = static_cast<char>(random.bounded(256));
             }
             WriteBytes(folder + "/random.flx", bytes);
             return QStringList{"random.flx"};
         },
         {},
         false,
         {},
         {"random.flx"},
         {}},
        {"the file vanishes between listing and import",
         [](const QString& folder) {
             WriteBytes(folder + "/gone.flx", Flx(Converter("ZEPHYR", "GONE")));
             WriteBytes(folder + "/good.flx", Flx(Converter("ZEPHYR")));
             return QStringList{"gone.flx", "good.flx"};
         },
         [](const QString& folder) { QFile::remove(folder + "/gone.flx"); },
         false,
         {missing + "gone.flx", "53 File not found importflx"},
         {"good.flx"},
         {"QX-1"}},
        {"the file becomes unreadable between listing and import",
         [](const QString& folder) {
             WriteBytes(folder + "/locked.flx", Flx(Converter("ZEPHYR", "LOCKED")));
             WriteBytes(folder + "/good.flx", Flx(Converter("ZEPHYR")));
             return QStringList{"locked.flx", "good.flx"};
         },
         [](const QString& folder) { QFile(folder + "/locked.flx").setPermissions({}); },
         true,
         {"70 Permission denied importflx"},
         {"good.flx"},
         {"QX-1"}},
        {"a directory named x.flx",
         [](const QString& folder) {
             QDir(folder).mkdir("x.flx");
             return QStringList{"x.flx"};
         },
         {},
         false,
         {missing + "x.flx", "53 File not found importflx"},
         {},
         {}},
        {"blanks, quotes, ';' and non-ASCII in the file name",
         [](const QString& folder) {
             const QString name = QString::fromUtf8("dev 'one' \"two\"; {é} 中.flx");
             WriteBytes(folder + "/" + name, Flx(Converter("ZEPHYR")));
             return QStringList{name};
         },
         {},
         false,
         {},
         {QString::fromUtf8("dev 'one' \"two\"; {é} 中.flx")},
         {"QX-1"}},
        {"quotes, backslashes, braces and control characters in the values",
         [](const QString& folder) {
             WriteBytes(folder + "/values.flx", Flx(HostileLines()));
             return QStringList{"values.flx"};
         },
         {},
         false,
         {"-2147217833 The value '" + QString(QChar(0x1b)) + "[31m" + QString(35, 'x') +
          "...' is too long for tblOutputs.Name, which holds at most 50 characters. importflx "
          "database"},
         {},
         {kHostileModel}},
    };
    for (const FileCase& c : cases) {
        for (const bool batch : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (batch ? ", batch tool" : ", engine"));
            QTemporaryDir temp;
            // The database and the files lie in a folder whose name is hostile as well.
            const QString folder =
                temp.filePath(QString::fromUtf8("a b 'c' \"d\"; e=f {g}\\h é 中"));
            ASSERT_TRUE(QDir().mkpath(folder));
            const QString db = folder + "/dbEquip.mdb";
            MakeDemoDb(db);
            const QStringList files = c.make(folder);
            const Snapshot before = Take(db);
            const QStringList messages = Expand(c.messages, folder, db);
            QStringList report;
            if (batch) {
                QStringList args{"--db", db, "--unattended"};
                for (const QString& file : files) {
                    args << folder + "/" + file;
                }
                if (c.beforeImport) {
                    c.beforeImport(folder);
                }
                const BatchRun r = RunTool(args, c.unprivileged && geteuid() == 0);
                EXPECT_EQ(r.exitCode, messages.isEmpty() ? 0 : 1);
                EXPECT_EQ(r.err, AsStderr(messages));
                report = r.out.split('\n');
            } else {
                FakeHost host;
                host.folder = folder;
                host.files = files;
                std::function<void()> beforeImport;
                if (c.beforeImport) {
                    beforeImport = [&] { c.beforeImport(folder); };
                }
                RunEngine(host, db::BuildConnectionString(folder), beforeImport,
                          c.unprivileged && geteuid() == 0);
                EXPECT_EQ(host.messages, messages);
                report = host.ReportLines();
            }
            for (const QString& file : files) {
                EXPECT_EQ(report.contains("Added " + folder + "/" + file), c.added.contains(file))
                    << file.toStdString();
            }
            ExpectKept(before, db);
            EXPECT_EQ(Rows(db,
                           "select EquipmentName from tblEquipment where EquipmentID > 2 "
                           "order by EquipmentID"),
                      c.equipment);
            if (c.equipment == QStringList{kHostileModel}) {
                ExpectHostileValuesStored(db);
            }
        }
    }
}

// ---- Showing hostile values ----

// Runs importflx-batch with standard output and standard error on a terminal and returns what
// the terminal received; std::nullopt when this system offers no terminal.
std::optional<QByteArray> RunOnTerminal(const QStringList& args) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        return std::nullopt;
    }
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const QString slavePath = QString::fromLocal8Bit(ptsname(master));
    // Raw, so that the terminal passes every byte through unchanged.
    const int slave = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, O_NONBLOCK);

    QProcess process;
    process.setStandardOutputFile(slavePath);
    process.setStandardErrorFile(slavePath);
    process.start(IMPORTFLX_BATCH_EXE, args);
    QByteArray received;
    char buffer[4096];
    const auto drain = [&] {
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
            received.append(buffer, n);
        }
    };
    while (!process.waitForFinished(50)) {
        drain();
    }
    drain();
    ::close(slave);
    ::close(master);
    return received;
}

TEST(HostileFiles, ATerminalShowsControlCharactersAsSymbols) {
    TempDb db;
    const QString flx = WriteBytes(db.folder() + "/values.flx", Flx(HostileLines()));
    const std::optional<QByteArray> received =
        RunOnTerminal({"--db", db.path(), "--unattended", flx});
    if (!received) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    const QString shown = QString::fromUtf8(*received);

    // The report line and the message that quote a value reach the terminal as symbols.
    EXPECT_TRUE(shown.contains(QString::fromUtf8("Type: \t\tT␛]0;owned␇<b>x</b>\n")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QString::fromUtf8("Name = \tN␁␛[2J\\par}\uFFFD\n")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QString::fromUtf8("Model: \t\tM\\1}{'; --␡\n")));
    EXPECT_TRUE(shown.contains(QString::fromUtf8("The value '␛[31m") + QString(35, 'x')))
        << shown.toStdString();
    // No control character of a value reaches the terminal. The tool's own progress line uses
    // "\r\x1b[K" and nothing else.
    QString rest = shown;
    rest.remove("\r\x1b[K");
    for (const QChar ch : rest) {
        const char16_t u = ch.unicode();
        EXPECT_TRUE(u == '\t' || u == '\n' || (u >= 0x20 && u != 0x7f && (u < 0x80 || u >= 0xa0)))
            << "control character " << int(u) << " reached the terminal";
    }
}

TEST(HostileFiles, AMessageBoxShowsMarkupAsText) {
    const QString text = "no file in path: /tmp/<b>bold</b> <img src=x.png>.flx";
    QString shownText;
    Qt::TextFormat format = Qt::RichText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        format = box->textFormat();
        box->accept();
    });
    ui::MsgBox(text);
    EXPECT_EQ(shownText, text);
    EXPECT_EQ(format, Qt::PlainText);
}

TEST(HostileFiles, TheSavedReportReadsBackWithTheExactText) {
    QTemporaryDir temp;
    const QString folder = temp.filePath(QString::fromUtf8("r b 'c' \"d\"; {e} é"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString db = folder + "/dbEquip.mdb";
    MakeDemoDb(db);
    const QString flx = WriteBytes(folder + "/values.flx", Flx(HostileLines()));
    const QString rtf = folder + "/report {1}.rtf";
    const BatchRun r = RunTool({"--db", db, "--unattended", "--report", rtf, flx});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(kHostileName)) << "a pipe gets the report verbatim";

    // A word processor holds no C0 control characters other than the tab; every other
    // character of the report comes back exactly.
    QString expected = r.out;
    for (qsizetype i = expected.size() - 1; i >= 0; --i) {
        const char16_t u = expected.at(i).unicode();
        if (u < 0x20 && u != '\t' && u != '\n') {
            expected.remove(i, 1);
        }
    }
    EXPECT_EQ(ReadWithOffice(rtf, temp.path()), expected);
}

// ---- A file of 200 MB ----

// Megabytes of peak resident memory: of this process since the last reset, or of the largest
// child process waited for.
long PeakMb(bool children) {
    if (children) {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_maxrss / 1024;
    }
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
        }
    }
    return -1;
}

void ResetPeak() {
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

// A window that keeps only the beginning of what it is shown, so that the measurement is the
// import's own.
class LeanHost : public FakeHost {
  public:
    void SetStatus(const QString& text) override { status = text.left(100); }
    void AppendReportLine(const QString& line) override {
        FakeHost::AppendReportLine(line.left(100));
    }
    void MessageBox(const QString& text) override { FakeHost::MessageBox(text.left(300)); }
};

TEST(HostileFiles, AFileOf200MbWithoutLineEndsFinishesInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
    const bool measure = false;  // the sanitizer's own bookkeeping dwarfs the import's
#else
    const bool measure = true;
#endif
    const qint64 size = 200LL << 20;
    const QString tooLong = "-2147217833 The value '" + QString(40, 'N') +
                            "...' is too long for tblInputs.Name, which holds at most 50 "
                            "characters. importflx database";
    const struct {
        const char* name;
        QByteArray head;  // followed by 'fill' up to 200 MB, without a line end
        char fill;
        bool logged;  // the huge line is a line of the report
        QStringList messages;
        int equipment;
    } cases[] = {
        {"one line of 200 MB", "", 'A', false, {}, 0},
        {"a model name of 200 MB", "<<STARTDEF>>\r\nZEPHYR\r\n", 'M', true, {}, 0},
        {"a connector name of 200 MB",
         "<<STARTDEF>>\r\nZEPHYR\r\nQX-1\r\nConverter\r\n<<STARTBLK>>\r\nT SIG CONN  NAME\r\n"
         "I SDI BNC   ",
         'N',
         true,
         {tooLong},
         1},
    };
    for (const auto& c : cases) {
        for (const bool batch : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (batch ? ", batch tool" : ", engine"));
            TempDb db;
            const QString flx = db.folder() + "/huge.flx";
            {
                QFile file(flx);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(c.head);
                const QByteArray chunk(1 << 20, c.fill);
                for (qint64 left = size - c.head.size(); left > 0; left -= chunk.size()) {
                    file.write(chunk.constData(), std::min<qint64>(left, chunk.size()));
                }
            }
            QElapsedTimer timer;
            timer.start();
            if (batch) {
                const QString out = db.folder() + "/report.txt";
                const BatchRun r = RunTool({"--db", db.path(), "--unattended", flx}, false, out);
                EXPECT_EQ(r.exitCode, c.messages.isEmpty() ? 0 : 1);
                EXPECT_EQ(r.err.left(1000), AsStderr(c.messages));
                const qint64 reported = QFileInfo(out).size();
                EXPECT_TRUE(c.logged ? reported > size : reported < 10000) << reported;
                if (measure) {
                    EXPECT_LT(PeakMb(true), kLimitMb);
                }
            } else {
                LeanHost host;
                host.files = {flx};
                ResetPeak();
                RunEngine(host, db.connection());
                EXPECT_EQ(host.messages, c.messages);
                EXPECT_EQ(host.ReportLines().contains("Added " + flx), c.messages.isEmpty());
                if (measure) {
                    EXPECT_LT(PeakMb(false), kLimitMb);
                }
            }
            EXPECT_LT(timer.elapsed(), 120000);
            EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), c.equipment);
            EXPECT_EQ(db.Scalar("select count(*) from tblInputs").toInt(), 0);
        }
    }
}

}  // namespace
