// Broken and hostile databases and files, each imported through the batch tool and through the
// engine with a scripted window; the database must stay whole and keep every row it held.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "app/import_commands.h"
#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

namespace {

// `count` devices of `id` with `inputs` input lines each, named `model` or, for several, model-N.
QByteArray Devices(const QString& id, const QString& model, int inputs = 1, int count = 1) {
    QStringList lines;
    for (int d = 0; d < count; ++d) {
        const QString name = count == 1 ? model : QString("%1-%2").arg(model).arg(d);
        lines += flxtest::Device(id, name, flxtest::Connectors(inputs, "Input of " + name));
    }
    return flxtest::Bytes(lines);
}

// Values that mean something to SQL, to RTF, to a terminal or to a message box.
const QString kHostileId = R"(O'Neil "Q" \{x})";
const QString kHostileModel = QString("M\\1}{'; --") + QChar(0x7f);
const QString kHostileType = QString("T") + QChar(0x1b) + "]0;owned" + QChar(7) + "<b>x</b>";
const QString kHostileName = QString("N") + QChar(1) + QChar(0x1b) + "[2J\\par}" + QChar(0x81);

// A device of hostile values, then a second one under the same definition whose output name is
// too long for its column: the message quotes the value, and the second device is not stored.
QByteArray HostileFlx() {
    const QStringList lines{"<<STARTDEF>>",
                            kHostileId,
                            kHostileModel,
                            kHostileType,
                            "<<STARTBLK>>",
                            "T SIG CONN  NAME",
                            "I S'I {C}\\  " + kHostileName,
                            "<<STARTBLK>>",
                            "T SIG CONN  NAME",
                            "O ANA XLR3M " + QString(QChar(0x1b)) + "[31m" + QString(60, 'x')};
    return flxtest::Bytes(lines);
}

// The integrity check's verdict, then every table ("table name") and its rows ("name: row"); or
// the bytes of a file that is no database.
QStringList Take(const TempDb& db) {
    const QByteArray bytes = flxtest::Read(db.path());
    if (!bytes.startsWith("SQLite format 3")) {
        return {QString::fromLatin1(bytes.toBase64())};
    }
    QStringList rows = db.Rows("pragma integrity_check");
    for (const QString& table : db.Rows("select name from sqlite_master where type = 'table' and "
                                        "name not like 'sqlite%'")) {
        rows << "table " + table;
        for (const QString& row : db.Rows(QString("select * from \"%1\"").arg(table))) {
            rows << table + ": " + row;
        }
    }
    return rows;
}

// What a run showed: the batch tool's exit status, standard error and standard output lines, or
// the engine's message boxes (each followed by '\n') and report lines (status -1).
struct Outcome {
    int exitCode;
    QString messages;
    QStringList report;
};

// What the batch tool and the window say while another program holds the database.
constexpr char kWaitingText[] = "Waiting for the database, in use by another program...";

// Imports `names` in `folder` into `db` with the batch tool (without root's right to ignore file
// modes) or with the window's "Import All". `beforeImport` runs once the run has its list, and
// `onWait` (if any) once the run says that it waits for the database.
Outcome Import(bool batch, const TempDb& db, const QString& folder, const QStringList& names,
               const std::function<void()>& beforeImport, std::function<void()> onWait) {
    if (batch) {
        QStringList args{"--db", db.path(), "--unattended"};
        for (const QString& name : names) {
            args << folder + "/" + name;
        }
        beforeImport();
        QProcess process;
        process.setChildProcessModifier([] {
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        });
        process.setReadChannel(QProcess::StandardError);
        process.start(IMPORTFLX_BATCH_EXE, args);
        QByteArray errors;
        while (onWait && !errors.contains(kWaitingText) && process.waitForReadyRead(300000)) {
            errors += process.readAllStandardError();
        }
        if (onWait) {
            onWait();
        }
        EXPECT_TRUE(process.waitForFinished(300000)) << "importflx-batch did not finish";
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "importflx-batch crashed";
        errors += process.readAllStandardError();
        // The wait before the run is measured by the tool's own clock: at least its limit.
        static const QRegularExpression waited(R"(\(waited [3-9] seconds\))");
        return {process.exitCode(), QString::fromUtf8(errors).replace(waited, "(waited 3 seconds)"),
                QString::fromUtf8(process.readAllStandardOutput()).split('\n')};
    }
    FakeHost host;
    host.folder = folder;
    host.files = names;
    {
        SessionState session;
        session.sEquipConnection = db.connection();
        db::Database database(session.sEquipConnection);
        // The engine waits as long as the batch tool waits before its run, by a clock that moves
        // a second a pause and nothing else.
        database.wait().limitMs = db::WaitSettings::kQuietWaitLimitMs;
        UseWaitClock(database, 1000);
        ImportContext ctx{session, host, database};
        host.onProcessEvents = [&, started = false]() mutable {
            if (!std::exchange(started, true)) {
                beforeImport();
            }
            if (host.waiting && onWait) {
                std::exchange(onWait, nullptr)();
            }
        };
        cmdAll_Click(ctx);
    }
    return {-1, host.messages.join('\n') + (host.messages.isEmpty() ? "" : "\n"),
            host.ReportLines()};
}

// Keeps the database at `path` from being written until the result goes: "read-only file",
// "read-only folder", or the statements with which another program holds it (a process of its
// own: any close of the file in this process would drop the lock).
std::shared_ptr<void> Hold(const QString& how, const QString& path) {
    if (how.startsWith("BEGIN")) {
        std::shared_ptr<QProcess> sqlite(new QProcess, [](QProcess* process) {
            process->write("ROLLBACK;\n.quit\n");
            process->closeWriteChannel();
            process->waitForFinished(10000);
            delete process;
        });
        sqlite->start("sqlite3", {path});
        sqlite->write((how + ";\nSELECT 'held';\n").toUtf8());
        QByteArray out;
        while (!out.contains("held") && sqlite->waitForReadyRead(10000)) {
            out += sqlite->readAllStandardOutput();
        }
        EXPECT_TRUE(out.contains("held")) << sqlite->readAllStandardError().toStdString();
        return sqlite;
    }
    if (!how.startsWith("read-only")) {
        return nullptr;
    }
    const QString target = how.endsWith("file") ? path : QFileInfo(path).path();
    const auto readOnly = [target](bool on) {  // root writes whatever the modes say
        EXPECT_EQ(geteuid() == 0 ? QProcess::execute("chattr", {on ? "+i" : "-i", target})
                                 : chmod(QFile::encodeName(target).constData(), on ? 0555 : 0755),
                  0);
    };
    readOnly(true);
    return std::shared_ptr<void>(nullptr, [readOnly](void*) { readOnly(false); });
}

// One run over `files`; %DIR% is their folder, %DB% the database.
struct Case {
    const char* name;
    QStringList files;
    int exitCode;       // of the batch tool
    QString messages;   // the engine's and, unless it refuses the database, the batch tool's
    QStringList added;  // files that end with their "Added " line
    QString equipment;  // the new equipment rows, in order
    int inputs;         // rows of tblInputs afterwards
    // Done to the database first ("=text" as its bytes, "small disk", "full disk", or statements
    // that change its tables), during the run (see Hold), or to the first file once the run has
    // its list ("file gone", "file unreadable").
    QString how = {};
    // The run says that it waits for the database; the other program is then done.
    bool waits = false;
};

std::vector<Case> Cases() {
    const QString src = " importflx database\n";
    const QString noTable = "-2147217865 The database '%DB%' has no table '%1'." + src;
    const QString locked =
        "-2147024863 The database '%DB%' is locked by another program (waited 3 seconds). Close "
        "the other program and try again.";
    const QString full = "-2147024784 The disk that holds '%DB%' is full";
    const QString row = full + ": the row was not stored.";
    const QString lost = " The rows added since the last commit were not stored";
    const QString name = QString::fromUtf8("dev 'one' \"two\"; {é} 中.flx");
    const QStringList one{"zephyr.flx"}, none, good{"good.flx"}, firstLast{"first.flx", "last.flx"};
    return {
        {"a text file, not a database", one, 2,
         "-2147024885 The database file '%DB%' is in a format that cannot be opened here: it is "
         "not an SQLite database. importflx database\n",
         none, "", 0, "=Manufacturer;Model\r\nACME;DA-100\r\n"},
        {"an SQLite database without the tables", one, 2, noTable.arg("tblManufacturers"), none, "",
         0,
         "drop table tblInputs; drop table tblOutputs; drop table tblEquipment; drop table "
         "tblManufacturers; create table notes (text varchar(50))"},
        // The window finds it at the device's inputs and stores none of it; the batch tool
        // refuses the database first.
        {"the table tblInputs is missing", one, 2, noTable.arg("tblInputs"), none, "", 0,
         "drop table tblInputs"},
        {"the column EquipmentType is missing", one, 2,
         "-2147217865 The database '%DB%' has no column 'EquipmentType'." + src, none, "", 0,
         "alter table tblEquipment drop column EquipmentType"},
        {"a manufacturer row whose ManufacturerID is null", one, 0, "", one, "QX-1", 1,
         "create table m as select * from tblManufacturers; drop table tblManufacturers; create "
         "table tblManufacturers (ManufacturerID varchar(50), ManufacturerName varchar(50), "
         "DisplayInEquipment boolean not null default 0); insert into tblManufacturers select "
         "ManufacturerID, ManufacturerName, DisplayInEquipment from m; drop table m; insert into "
         "tblManufacturers values (null, 'Nameless', -1)"},
        {"the database file is read-only", one, 1,
         "-2147024891 The database '%DB%' is read-only: rows cannot be added." + src, none, "", 0,
         "read-only file"},
        {"its folder is read-only", one, 1,
         "-2147024891 The database '%DB%' cannot be written: the journal file that every change "
         "needs cannot be created in its folder. importflx database\n",
         none, "", 0, "read-only folder"},
        // Waited for three seconds; the batch tool waits so long only before its run.
        {"another program holds an exclusive lock", one, 2, locked + src, none, "", 0,
         "BEGIN EXCLUSIVE"},
        // Waited for, saying so, until the other program is done.
        {"another program is writing", one, 0, "", one, "QX-1", 1, "BEGIN IMMEDIATE", true},
        // The rows go in, but the commit at the end of the file has to wait for the reader.
        {"another program keeps reading", one, 0, "", one, "QX-1", 1,
         "BEGIN; SELECT count(*) FROM tblEquipment", true},
        {"the file vanishes between listing and import", QStringList{"gone.flx", "good.flx"}, 1,
         "no file in path: %DIR%/gone.flx\n53 File not found importflx\n", good, "GOOD", 1,
         "file gone"},
        {"the file becomes unreadable between listing and import",
         QStringList{"locked.flx", "good.flx"}, 1, "70 Permission denied importflx\n", good, "GOOD",
         1, "file unreadable"},
        {"blanks, quotes, ';' and non-ASCII in the file name", QStringList{name, "good.flx"}, 0, "",
         QStringList{name, "good.flx"}, "QX-1,GOOD", 2},
        {"quotes, backslashes, braces and control characters in the values",
         QStringList{"values.flx", "good.flx"}, 1,
         "-2147217833 The value '" + QString(QChar(0x1b)) + "[31m" + QString(35, 'x') +
             "...' is too long for tblOutputs.Name, which holds at most 50 characters." + src,
         good, kHostileModel + ",GOOD", 2},
        // Far more rows of one device than fit: the disk runs full while they are written.
        {"the disk runs full in the middle of a file",
         QStringList{"first.flx", "big.flx", "last.flx"}, 1, row + lost + " either." + src,
         firstLast, "S-1,S-2", 10, "small disk"},
        // More rows than fit, but few enough to wait in memory for the device's commit.
        {"the disk runs full when a file's rows are committed",
         QStringList{"first.flx", "mid.flx", "last.flx"}, 1, full + "." + lost + "." + src,
         firstLast, "S-1,S-2", 10, "small disk"},
        {"the disk is full from the start", firstLast, 1, row + src + row + src, none, "", 0,
         "full disk"},
    };
}

// Each case through the batch tool and through the engine with a scripted window.
class HostileTest : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(HostileTest, IsReportedAndKeepsEveryRow) {
    const Case c = Cases().at(std::get<0>(GetParam()));
    const bool batch = std::get<1>(GetParam());
    // Any other file holds one QX-1 of ZEPHYR.
    const std::map<QString, QByteArray> contents{
        {"good.flx", Devices("ACME", "GOOD")},       {"values.flx", HostileFlx()},
        {"first.flx", Devices("ZEPHYR", "S-1", 5)},  {"big.flx", Devices("ZEPHYR", "BIG", 60000)},
        {"mid.flx", Devices("ZEPHYR", "MID", 5000)}, {"last.flx", Devices("ACME", "S-2", 5)}};
    if (c.how == "file unreadable" && !batch && geteuid() == 0) {
        GTEST_SKIP() << "only a process of its own can drop root's right to read any file";
    }
    TempDb db(DemoRowsSql());
    const bool disk = c.how.endsWith(" disk");
    if (disk && ::mount("tmpfs", QFile::encodeName(db.folder()).constData(), "tmpfs", 0,
                        "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small disk here; run as root to try a full one";
    }
    const auto unmount =
        qScopeGuard([&] { ::umount2(QFile::encodeName(db.folder()).constData(), MNT_DETACH); });
    QTemporaryDir temp;
    // A folder name that means something to a shell, SQL, RTF or a connection string.
    const QString folder = temp.filePath(QString::fromUtf8("a b 'c' \"d\"; e=f {g}\\h é 中"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& file : c.files) {
        flxtest::Write(folder, file,
                       contents.count(file) ? contents.at(file) : Devices("ZEPHYR", "QX-1"));
    }
    if (disk) {
        db.Exec(DemoSchemaSql() + ";\n" + DemoRowsSql());
    }
    if (c.how.startsWith('=')) {
        flxtest::Write(db.folder(), "dbEquip.mdb", c.how.mid(1).toLatin1());
    } else if (c.how == "full disk") {
        flxtest::Write(db.folder(), "filler", QByteArray(1 << 20, 'x'));  // more than fits
    } else if (QRegularExpression("^(alter|create|drop) ").match(c.how).hasMatch()) {
        db.Exec(c.how);
    }
    const QStringList before = Take(db);
    std::shared_ptr<void> hold = Hold(c.how, db.path());
    const QString first = folder + "/" + c.files.first();
    const auto trick = [&] {
        if (c.how == "file gone") {
            QFile::remove(first);
        } else if (c.how == "file unreadable") {
            QFile(first).setPermissions({});
        }
    };
    const auto done = [&] { hold.reset(); };
    const Outcome r =
        Import(batch, db, folder, c.files, trick, c.waits ? std::function<void()>(done) : nullptr);
    hold.reset();
    QFile::remove(db.folder() + "/filler");
    const bool refused = batch && c.exitCode == 2;
    QString messages = c.messages;
    if (refused) {  // with its own name, not the window's source
        messages = "importflx-batch: " + messages.remove(" importflx database");
    }
    if (batch && c.waits) {
        messages.prepend(QString(kWaitingText) + "\n");
    }
    EXPECT_EQ(r.messages, messages.replace("%DIR%", folder).replace("%DB%", db.path()));
    EXPECT_EQ(r.exitCode, batch ? c.exitCode : -1);
    for (const QString& file : c.files) {
        EXPECT_EQ(r.report.contains("Added " + folder + "/" + file),
                  !refused && c.added.contains(file))
            << file.toStdString();
    }
    const QStringList after = Take(db);
    for (const QString& row : before) {
        EXPECT_TRUE(after.contains(row)) << "lost " << row.left(200).toStdString();
    }
    QStringList equipment;
    for (const QString& row : after) {
        if (row.startsWith("tblEquipment: ") && !before.contains(row)) {
            equipment << row.section('|', 1, 1);
        }
    }
    EXPECT_EQ(equipment.join(','), refused ? "" : c.equipment);
    EXPECT_EQ(after.filter(QRegularExpression("^tblInputs: ")).size(), refused ? 0 : c.inputs);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, Cases().size()), ::testing::Bool()),
    [](const ::testing::TestParamInfo<HostileTest::ParamType>& info) {
        QString name = QString::fromUtf8(Cases().at(std::get<0>(info.param)).name);
        name.replace(QRegularExpression("[^A-Za-z0-9]+"), "_");
        return (name + (std::get<1>(info.param) ? "_batch" : "_engine")).toStdString();
    });

TEST(Hostile, ATerminalShowsControlCharactersAsSymbolsAndValuesAreStoredExactly) {
    const int probe = posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    ::close(probe);
    TempDb db;
    const QString flx = flxtest::Write(db.folder(), "values.flx", HostileFlx());
    QProcess script;  // gives the tool a terminal for standard output and standard error
    script.setStandardInputFile(QProcess::nullDevice());
    const QString command = QString("'%1' --db '%2' --unattended '%3'");
    script.start("script", {"-qec", command.arg(IMPORTFLX_BATCH_EXE, db.path(), flx), "/dev/null"});
    ASSERT_TRUE(script.waitForFinished(60000));
    EXPECT_EQ(script.exitCode(), 1);
    // The terminal ends each line with CR LF; the progress line is erased with "\r\x1b[K".
    const QString shown =
        QString::fromUtf8(script.readAllStandardOutput()).replace("\r\n", "\n").remove("\r\x1b[K");
    // The report lines and the message that quote a value show its control characters as symbols.
    for (const char* text : {"Type: \t\tT␛]0;owned␇<b>x</b>\n", "Name = \tN␁␛[2J\\par}\uFFFD\n",
                             "Model: \t\tM\\1}{'; --␡\n", "The value '␛[31mxxxxxxxxxx"}) {
        EXPECT_TRUE(shown.contains(QString::fromUtf8(text))) << shown.toStdString();
    }
    for (const QChar ch : shown) {
        const char16_t u = ch.unicode();
        EXPECT_TRUE(u == '\t' || u == '\n' || (u >= 0x20 && u != 0x7f && (u < 0x80 || u >= 0xa0)))
            << "control character " << int(u) << " reached the terminal";
    }
    const QStringList values{kHostileModel, kHostileType, kHostileId, kHostileId,
                             kHostileName,  "S'I",        "{C}\\"};
    EXPECT_EQ(db.Rows("select EquipmentName, EquipmentType, ManufacturerID, ManufacturerName, "
                      "Name, Type, Conn from tblEquipment join tblManufacturers using "
                      "(ManufacturerID) join tblInputs using (EquipmentID)"),
              QStringList(values.join('|')));
}

// A line of 200 MB is read in bounded memory; the batch tool runs the import, so its peak counts.
TEST(Hostile, AFileOf200MbWithoutLineEndsFinishesInBoundedMemory) {
    const qint64 size = 200LL << 20;
    const struct {
        const char* name;
        QByteArray head;  // followed by `fill` up to 200 MB, without a line end
        char fill;
        QString error;  // standard error
    } cases[] = {
        {"one line of 200 MB, outside any definition and so not logged", "", 'A', ""},
        {"a model name of 200 MB", "<<STARTDEF>>\r\nZEPHYR\r\n", 'M', ""},
        {"a connector name of 200 MB",
         "<<STARTDEF>>\r\nZEPHYR\r\nQX-1\r\nConverter\r\n<<STARTBLK>>\r\nT SIG CONN  NAME\r\n"
         "I SDI BNC   ",
         'N',
         "-2147217833 The value '" + QString(40, 'N') +
             "...' is too long for tblInputs.Name, which holds at most 50 characters. importflx "
             "database\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDb db;
        const QString flx = flxtest::Write(db.folder(), "huge.flx",
                                           c.head + QByteArray(size - c.head.size(), c.fill));
        QProcess process;
        process.setStandardOutputFile(db.folder() + "/report.txt");
        process.start(IMPORTFLX_BATCH_EXE, {"--db", db.path(), "--unattended", flx});
        ASSERT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), c.error.isEmpty() ? 0 : 1);
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardError().left(1000)), c.error);
        const qint64 reported = QFileInfo(db.folder() + "/report.txt").size();
        EXPECT_TRUE(c.head.isEmpty() ? reported < 10000 : reported > size) << reported;
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own bookkeeping dwarfs the import's
        EXPECT_LT(usage.ru_maxrss / 1024, 1536) << "peak megabytes of the batch tool";
#endif
        // A device whose connector is refused is not stored at all.
        EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 0);
        EXPECT_EQ(db.Scalar("select count(*) from tblInputs").toInt(), 0);
    }
}

}  // namespace
