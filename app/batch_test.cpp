#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/batch_options.h"
#include "app/batch_progress.h"
#include "app/command_line.h"
#include "tests/batch_tool.h"
#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

namespace {

// One converter of %1 with an input, an output and a line whose code makes no row.
const QString kConverter =
    "header, not read|<<STARTDEF>>|%1|QX-1|Converter|<<STARTBLK>>|T SIG CONN  NAME|"
    "I SDI BNC   SDI In|O ANA XLR3M Audio Out|P PWR IEC   Mains|<<ENDBLK>>";

// `text` is `pattern`, each "..." in it standing for any text.
bool Matches(const QString& text, const QString& pattern) {
    const QString any = QRegularExpression::escape(pattern).replace("\\.\\.\\.", ".*");
    return QRegularExpression("(?s)\\A" + any + "\\z").match(text).hasMatch();
}

QString Totals(int parts, int rows) {  // as many inputs as outputs
    return QString::asprintf("Added [%d] parts with a total of [%d] inputs and [%d] outputs\n",
                             parts, rows, rows);
}

// The --json document in one line: per file its name, outcome and stored equipment rows
// ("FILEID>DBID MODEL #EquipmentID INPUTS/OUTPUTS"), then the totals and the exit status.
QString JsonSummary(const QByteArray& json) {
    const QJsonObject doc = QJsonDocument::fromJson(json).object();
    QStringList parts;
    for (const QJsonValue& value : doc["files"].toArray()) {
        const QJsonObject file = value.toObject();
        QString text =
            QFileInfo(file["path"].toString()).fileName() + " " + file["outcome"].toString();
        if (file.contains("reason") || file.contains("error")) {
            text += QString(" (%1%2)").arg(file["reason"].toString(),
                                           file["error"]["description"].toString());
        }
        for (const QJsonValue& row : file["equipment"].toArray()) {
            text += QString(" %1>%2 %3 #%4 %5/%6")
                        .arg(row["fileManufacturerId"].toString(), row["manufacturerId"].toString(),
                             row["model"].toString())
                        .arg(row["equipmentId"].toInteger())
                        .arg(row["inputs"].toInteger())
                        .arg(row["outputs"].toInteger());
        }
        if (file.contains("messages")) {
            text += " [" + file["messages"].toVariant().toStringList().join("; ") + "]";
        }
        parts << text;
    }
    if (!doc.isEmpty()) {
        const QJsonObject t = doc["totals"].toObject();
        QString totals;
        for (const char* key : {"files", "added", "parts", "equipment"}) {
            totals += QString("%1 %2 ").arg(t[key].toInteger()).arg(key);
        }
        parts << totals +
                     QString("%1/%2").arg(t["inputs"].toInteger()).arg(t["outputs"].toInteger());
        parts << QString("exit %1%2 %3")
                     .arg(doc["exitStatus"].toInt())
                     .arg(doc["interrupted"].toBool() ? " interrupted" : "",
                          doc["error"].toString())
                     .trimmed();
    }
    return parts.join('|');
}

// True when Python's JSON tool reads `json` as one whole document.
bool ReadableByJsonTool(const QByteArray& json) {
    QProcess tool;
    tool.start("python3", {"-m", "json.tool"});
    tool.write(json);
    tool.closeWriteChannel();
    return tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

const QString kEquipment =
    "select e.EquipmentName, m.ManufacturerID, m.ManufacturerName, e.EquipmentType, i.Name, "
    "i.Type, i.Conn, i.PinType, o.Conn from tblEquipment e join tblManufacturers m using "
    "(ManufacturerID) join tblInputs i using (EquipmentID) join tblOutputs o using (EquipmentID) "
    "where e.EquipmentID > 2 order by e.EquipmentID";

TEST(BatchToolTest, EveryRunEndsWithItsReportMessagesRowsAndExitStatus) {
    const QString qx = "|Converter|SDI In|SDI|BNC|Normal|XLR3M\n";
    const QString zephyr = "QX-1|ZEPHYR|ZEPHYR" + qx, acme = "QX-1|ACME|Acme Broadcast" + qx + "4";
    // One run of the tool each. %DB% is the database, %D% its folder, which holds zephyr.flx (of
    // ZEPHYR), zeph.flx (ZEPH), acme.flx (ACME) and nosuch.flx (NOSUCH).
    const struct {
        const char* name;
        QString args;  // split at blanks
        int exitCode;
        QString out;   // standard output (see Matches)
        QString err;   // standard error
        QString rows;  // the new equipment rows (see kEquipment), then the number of manufacturers
        QString json = "";  // the --json document (see JsonSummary), from run.json or stdout
        QString dbName = "dbEquip.mdb";
        bool besideTool = false;  // the tool runs from a copy in the database's folder
    } cases[] = {
        {"imports the files in order; a second QX-1 is versioned",
         "--db %DB% --unattended --json %D%/run.json %D%/zephyr.flx %D%/zephyr.flx", 0,
         "...Added %D%/zephyr.flx\n\nAdded as ZEPHYR ZEPHYR QX-1\n\n...Added %D%/zephyr.flx\n\n"
         "Added as ZEPHYR ZEPHYR QX-1_v1\n\n" +
             Totals(2, 2),
         "", zephyr + "QX-1_v1|ZEPHYR|ZEPHYR" + qx + "5",
         "zephyr.flx added ZEPHYR>ZEPHYR QX-1 #3 1/1|zephyr.flx added ZEPHYR>ZEPHYR QX-1_v1 #4 "
         "1/1|2 files 2 added 2 parts 2 equipment 2/2|exit 0"},
        {"--map resolves a file ID as the store compares text; --json - replaces the report",
         "--db %DB% --map ZEPH=acme --json - "
         "%D%/zeph.flx",
         0, "{...}\n", "", acme,
         "zeph.flx added ZEPH>ACME QX-1 #3 1/1|1 files 1 added 1 parts 1 equipment 1/1|exit 0"},
        {"an unmapped manufacturer ID fails its file",
         "--db %DB% --json %D%/run.json %D%/acme.flx %D%/nosuch.flx", 1,
         "...Added %D%/acme.flx\n\nAdded as ACME Acme Broadcast QX-1\n\n...Failed (unknown) "
         "%D%/nosuch.flx\n\n" +
             Totals(2, 1),
         "...\"NOSUCH\"...--unattended...--map NOSUCH=DBID...", acme,
         "acme.flx added ACME>ACME QX-1 #3 1/1|nosuch.flx failed (unknown manufacturer) "
         "[manufacturer ID \"NOSUCH\" is not...]...|2 files 1 added 2 parts 1 equipment 1/1|exit "
         "1"},
        {"an unknown database ID", "--db %DB% --map ZEPH=NOPE %D%/zeph.flx", 2, "", "...NOPE...",
         "4"},
        {"the database is not found", "--db %D%/nothere.mdb --json %D%/run.json %D%/zeph.flx", 2,
         "", "...database not found: %D%/nothere.mdb...", "4",
         "zeph.flx not imported|1 files 0 added 0 parts 0 equipment 0/0|exit 2 database not found: "
         "%D%/nothere.mdb"},
        {"a JSON file that cannot be written stops the run before it starts",
         "--db %DB% --json %D%/no/such/run.json %D%/zeph.flx", 2, "",
         "...JSON report cannot be written: %D%/no/such/run.json...", "4"},
        {"--help", "--help", 0,
         "Usage: importflx-batch ...PGPASSWORD...~/.pgpass...PGPASSFILE...service=NAME..."
         "sslmode=verify-full sslrootcert=FILE...",
         "", "4"},
        {"--quiet, and --report saves the report",
         "--db %DB% --unattended --quiet --report %D%/report.rtf %D%/zephyr.flx", 0, "", "",
         zephyr + "5"},
        {"a report that cannot be saved",
         "--db %DB% --unattended --quiet --report %D%/no/such/r.rtf %D%/zephyr.flx", 1, "",
         "...report not saved...", zephyr + "5"},
        {"dbEquip.mdb beside the tool, whatever its letter case",
         "--unattended --quiet %D%/zephyr.flx", 0, "", "", zephyr + "5", "", "DBEQUIP.MDB", true},
        {"no dbEquip.mdb beside the tool", "--unattended %D%/zephyr.flx", 2, "",
         "...no dbEquip.mdb in %D%...", "4", "", "other.mdb", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDb db(DemoRowsSql(), true, c.dbName);
        for (const QString& id : QStringList{"ZEPHYR", "ZEPH", "ACME", "NOSUCH"}) {
            flxtest::Write(db.folder(), id.toLower() + ".flx", flxtest::Bytes(kConverter.arg(id)));
        }
        const QString tool = c.besideTool ? db.folder() + "/importflx-batch" : IMPORTFLX_BATCH_EXE;
        ASSERT_TRUE(!c.besideTool || QFile::copy(IMPORTFLX_BATCH_EXE, tool));
        QStringList texts = QStringList{c.out, c.err, c.json} + c.args.split(' ');
        texts.replaceInStrings("%DB%", db.path()).replaceInStrings("%D%", db.folder());
        const QStringList run = RunBatch(texts.mid(3), tool);
        EXPECT_EQ(run[0].toInt(), c.exitCode);
        const QString &out = run[1], &err = run[2];
        EXPECT_TRUE(Matches(out, texts[0])) << out.toStdString();
        EXPECT_TRUE(Matches(err, texts[1])) << err.toStdString();
        EXPECT_FALSE(out.contains('\r')) << "the report's lines end with LF alone";
        const QString manufacturers = db.Scalar("select count(*) from tblManufacturers").toString();
        EXPECT_EQ((db.Rows(kEquipment) << manufacturers).join('\n'), c.rows);
        const QByteArray json =
            c.args.contains("--json -") ? out.toUtf8() : flxtest::Read(db.folder() + "/run.json");
        EXPECT_TRUE(json.isEmpty() || ReadableByJsonTool(json));
        EXPECT_TRUE(Matches(JsonSummary(json), texts[2])) << JsonSummary(json).toStdString();
        // Only --report saves one.
        const QString saved = QString::fromLatin1(flxtest::Read(db.folder() + "/report.rtf"));
        EXPECT_EQ(Matches(saved, "{\\rtf..." + Totals(1, 1).trimmed() + "..."),
                  c.args.contains("report.rtf"));
    }
}

// A block of more connector lines than a 16-bit count holds: every row is stored and counted,
// in the report, in the JSON document and in the exit status.
TEST(BatchToolTest, ABlockOf40000ConnectorLinesIsStoredAndCountedWhole) {
    const TempDb db(DemoRowsSql());
    const QString file =
        flxtest::Write(db.folder(), "big.flx",
                       flxtest::Bytes(flxtest::Device("ACME", "BIG", flxtest::Connectors(40000))));
    const QStringList run =
        RunBatch({"--db", db.path(), "--json", db.folder() + "/run.json", file});
    EXPECT_EQ(run[0], "0") << run[2].toStdString();
    EXPECT_TRUE(
        run[1].endsWith("Added [1] parts with a total of [40000] inputs and [0] outputs\n"));
    EXPECT_EQ(db.Scalar("select count(*) from tblInputs").toInt(), 40000);
    EXPECT_EQ(JsonSummary(flxtest::Read(db.folder() + "/run.json")),
              "big.flx added ACME>ACME BIG #3 40000/0|1 files 1 added 1 parts 1 equipment "
              "40000/0|exit 0");
}

TEST(BatchProgressTest, FiguresEstimateTheTimeLeftFromTheBytesDone) {
    const struct {
        std::vector<std::int64_t> sizes;
        std::vector<std::pair<int, std::int64_t>> done;  // file index, rows stored
        std::int64_t elapsedMs;
        QString figures;  // after "Processing n of m files"
    } cases[] = {
        {{100, 300}, {}, 1500, ", 0 rows stored, 0:01 elapsed"},
        {{100, 300}, {{0, 5}}, 2000, ", 5 rows stored, 0:02 elapsed, about 0:06 left"},
        {{0, 0, 0, 0}, {{0, 1}, {1, 2}}, 4000, ", 3 rows stored, 0:04 elapsed, about 0:04 left"},
        {{10}, {{0, 7}}, 3723000, ", 7 rows stored, 1:02:03 elapsed, about 0:00 left"},
    };
    for (const auto& c : cases) {
        ProgressFigures figures(c.sizes);
        for (const auto& [index, rows] : c.done) {
            figures.FileDone(index, rows);
        }
        EXPECT_EQ(figures.Text("Processing n of m files", c.elapsedMs),
                  "Processing n of m files" + c.figures);
    }
}

// On a terminal the progress line tells the rows the files done stored, and it is gone at the
// end. A pipe never gets it: the runs of the test above expect nothing else on standard error.
TEST(BatchToolTest, AProgressLineOnlyOnATerminal) {
    const int probe = posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    ::close(probe);
    for (const bool noProgress : {false, true}) {
        TempDb db;
        const QString a =
            flxtest::Write(db.folder(), "a.flx", flxtest::Bytes(kConverter.arg("ZEPHYR")));
        const QString b =
            flxtest::Write(db.folder(), "b.flx", flxtest::Bytes(kConverter.arg("ACME")));
        QProcess script;  // standard error on a terminal, standard output thrown away
        script.setStandardInputFile(QProcess::nullDevice());
        const QString command =
            QString("'%1' --db '%2' --unattended %3 '%4' '%5' >/dev/null")
                .arg(IMPORTFLX_BATCH_EXE, db.path(), noProgress ? "--no-progress" : "", a, b);
        script.start("script", {"-qec", command, "/dev/null"});
        ASSERT_TRUE(script.waitForFinished(60000));
        EXPECT_EQ(script.exitCode(), 0);
        const QString shown = QString::fromUtf8(script.readAllStandardOutput());
        if (noProgress) {
            EXPECT_EQ(shown, "");
            continue;
        }
        // The first file stored its equipment row, an input and an output.
        EXPECT_TRUE(Matches(shown,
                            "\r\x1b[KProcessing 1 of 2 files, 0 rows stored, ... elapsed..."
                            "\r\x1b[KProcessing 2 of 2 files, 3 rows stored, ... "
                            "elapsed, about ... left...\r\x1b[K"))
            << shown.toStdString();
    }
}

TEST(BatchToolTest, InterruptStopsTheRunWithStatus130) {
    TempDb db;
    // Each block under its own definition, so that no name is versioned past its column width.
    QStringList lines;
    for (int block = 0; block < 2000; ++block) {
        lines += flxtest::Device("ZEPHYR", QString("BIG-%1").arg(block), flxtest::Connectors(20));
    }
    QProcess process;
    process.start(
        IMPORTFLX_BATCH_EXE,
        {"--db", db.path(), "--unattended", "--json", db.folder() + "/run.json",
         flxtest::Write(db.folder(), "big.flx", flxtest::Bytes(lines)),
         flxtest::Write(db.folder(), "small.flx", flxtest::Bytes(kConverter.arg("ZEPHYR")))});
    // The first chunk of the report shows that the run is under way.
    ASSERT_TRUE(process.waitForReadyRead(30000));
    ASSERT_EQ(process.state(), QProcess::Running) << "the run ended before the interrupt";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_FALSE(process.readAllStandardOutput().contains("Added ")) << "nothing ends as added";
    EXPECT_EQ(process.readAllStandardError(), "");
    const int equipment = db.Scalar("select count(*) from tblEquipment").toInt();
    EXPECT_TRUE(equipment > 0 && equipment < 2000) << equipment;
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'QX-1'").toInt(),
              0);
    // The JSON document is whole and lists exactly the rows that the cancelled file stored.
    const QByteArray document = flxtest::Read(db.folder() + "/run.json");
    EXPECT_TRUE(ReadableByJsonTool(document));
    const QString summary = JsonSummary(document);
    EXPECT_TRUE(
        Matches(summary, QString("big.flx cancelled ZEPHYR>ZEPHYR BIG-0 #1 20/0 ...|small.flx "
                                 "not imported|2 files 0 added 1 parts %1 equipment "
                                 "...|exit 130 interrupted")
                             .arg(equipment)))
        << summary.left(300).toStdString();
}

// Whatever form a password takes in --db, neither the messages, nor the report, nor the JSON
// document show it, whether the database is reached or not. The test server lets every user in
// without a password, so that one given is simply not asked for.
TEST(BatchToolTest, NoOutputShowsAPassword) {
    const TempDb pg(Store::kPostgres, DemoRowsSql(Store::kPostgres));
    const QString file =
        flxtest::Write(pg.folder(), "zephyr.flx", flxtest::Bytes(kConverter.arg("ZEPHYR")));
    const QString reached = pg.target();
    const std::pair<QString, int> cases[] = {
        {QString(reached).replace("://", "://postgres:S3cr3t@"), 0},
        {reached + "&password=S3%40cr3t", 0},
        {"host=/nonexistent dbname=x password='S3 cr3t'", 2},
        {"postgresql://eng:S3cr3t@/x?host=/nonexistent", 2},
        {"postgresql://eng:S3@cr3t@/x?host=/nonexistent", 2},
        {"postgresql://eng:S3cr3t/x", 2},
        {"postgress://eng:S3cr3t@db/x", 2},
        {"hots=db password=S3cr3t", 2},
        {"odbc:DRIVER={PostgreSQL Unicode};Server=/nonexistent;Database=x;UID=eng;PWD=S3cr3t", 2},
    };
    for (const auto& [target, exitCode] : cases) {
        SCOPED_TRACE(target.toStdString());
        QProcess process;
        process.start(IMPORTFLX_BATCH_EXE,
                      {"--db", target, "--unattended", "--report", pg.folder() + "/r.rtf", "--json",
                       pg.folder() + "/run.json", file});
        ASSERT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), exitCode);
        const QByteArray shown = process.readAllStandardOutput() + process.readAllStandardError() +
                                 flxtest::Read(pg.folder() + "/run.json") +
                                 flxtest::Read(pg.folder() + "/r.rtf");
        EXPECT_FALSE(shown.contains("cr3t")) << shown.toStdString();
        EXPECT_TRUE(shown.contains(exitCode == 0 ? "Added as ZEPHYR" : "***"));
        QFile::remove(pg.folder() + "/run.json");
    }
}

// While the tool runs, a process listing shows its --db with the password hidden.
TEST(BatchToolTest, AProcessListingShowsThePasswordHidden) {
    const TempDb pg(Store::kPostgres, DemoRowsSql(Store::kPostgres));
    const QString file =
        flxtest::Write(pg.folder(), "zephyr.flx", flxtest::Bytes(kConverter.arg("ZEPHYR")));
    std::shared_ptr<void> held = pg.HoldForImport();
    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    process.start(IMPORTFLX_BATCH_EXE,
                  {"--db", QString(pg.target()).replace("://", "://postgres:S3cr3t@"),
                   "--unattended", "--quiet", file});
    // It has read its command line once it waits for the database that the test holds.
    ASSERT_TRUE(process.waitForReadyRead(60000));
    QFile commandLine(QString("/proc/%1/cmdline").arg(process.processId()));
    ASSERT_TRUE(commandLine.open(QIODevice::ReadOnly));
    const QByteArray listed = commandLine.readAll().replace('\0', ' ');
    held.reset();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.readAllStandardError(),
              "Waiting for the database, in use by another program...\n");
    EXPECT_TRUE(listed.contains(" --db postgresql://postgres:***@/importflx?host=") &&
                !listed.contains("cr3t"))
        << listed.toStdString();
}

// What a run stored: equipment, connectors and manufacturers, in a form every store gives alike.
QStringList Stored(const TempDb& db) {
    const QString connectors =
        "SELECT e.EquipmentName, c.Name, c.Type, c.Conn, c.PinType FROM tbl%1s c JOIN tblEquipment "
        "e ON e.EquipmentID = c.EquipmentID ORDER BY c.%1ID";
    return db.Rows(
               "SELECT EquipmentName, ManufacturerID, EquipmentType FROM tblEquipment ORDER "
               "BY EquipmentID") +
           db.Rows(connectors.arg("Input")) + db.Rows(connectors.arg("Output")) +
           db.Rows(
               "SELECT ManufacturerID, ManufacturerName, DisplayInEquipment FROM "
               "tblManufacturers ORDER BY ManufacturerID");
}

class BatchOnEveryStore : public ::testing::TestWithParam<Store> {};

// The demo files, a model stored twice, a value too long, an unknown manufacturer and a missing
// file: every store gives the report, the messages, the exit status and the rows of SQLite, and a
// dry run gives the same report and leaves the database exactly as it was.
TEST_P(BatchOnEveryStore, ReportsAndStoresAsSqliteAndADryRunChangesNothing) {
    QTemporaryDir folder;
    QStringList files;
    for (const QString& sample : QDir(IMPORTFLX_DATA_DIR "/samples").entryList({"*.flx"})) {
        files << folder.filePath(sample);
        QFile::copy(IMPORTFLX_DATA_DIR "/samples/" + sample, files.last());
    }
    files << files.first();
    files << flxtest::Write(
        folder.path(), "long.flx",
        flxtest::Bytes(kConverter.arg("ACME") + "|O SDI BNC   " + QString(60, 'x')));
    files << folder.filePath("missing.flx");
    const QStringList realRun = QStringList{"--map", "NOSUCH=ACME"} + files;
    TempDb reference(Store::kSqlite, DemoRowsSql(Store::kSqlite));
    const QStringList expected = RunBatch(QStringList{"--db", reference.target()} + realRun);
    ASSERT_EQ(expected[0], "1");  // the too long value and the missing file fail

    TempDb dry(GetParam(), DemoRowsSql(GetParam()));
    const QString before = dry.Dump();
    EXPECT_EQ(RunBatch(QStringList{"--db", dry.target(), "--dry-run"} + realRun), expected);
    EXPECT_EQ(dry.Dump(), before);

    TempDb real(GetParam(), DemoRowsSql(GetParam()));
    EXPECT_EQ(RunBatch(QStringList{"--db", real.target()} + realRun), expected);
    EXPECT_EQ(Stored(real), Stored(reference));
}

INSTANTIATE_ON_EVERY_STORE(BatchOnEveryStore);

}  // namespace
