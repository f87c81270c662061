#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "app/batch_options.h"
#include "tests/temp_db.h"

namespace {

// ---- Command line ----

// The options `args` give, in one line, or the parse error.
QString Parsed(const QStringList& args) {
    const BatchParse parse = ParseBatchOptions(args);
    const BatchOptions& o = parse.options;
    QStringList maps;
    for (const ManufacturerMapping& m : o.mappings) {
        maps << m.fileId + "->" + m.databaseId;
    }
    return !parse.ok() ? "error: " + parse.error
                       : QString("files=%1 db=%2 map=%3 report=%4%5%6%7")
                             .arg(o.files.join(','), o.database, maps.join(','), o.reportPath,
                                  o.unattended ? " unattended" : "", o.quiet ? " quiet" : "",
                                  o.help ? " help" : "");
}

TEST(BatchOptionsTest, ParsesTheCommandLine) {
    const struct {
        const char* name;
        QString args;      // split at blanks
        QString expected;  // what Parsed() gives; for an error, a part of its text
    } cases[] = {
        {"files only", "a.flx b.flx", "files=a.flx,b.flx db= map= report="},
        {"every option, both value forms, -- ends options",
         "--db /x/my;db=1.mdb --unattended --map=ZEPH=ACME a.flx --map Q=A=B --report out.rtf "
         "--quiet -- -b.flx --quiet",
         "files=a.flx,-b.flx,--quiet db=/x/my;db=1.mdb map=ZEPH->ACME,Q->A=B report=out.rtf "
         "unattended quiet"},
        {"a later --db or --report wins",
         "--db=one.mdb --report r1.rtf --db two.mdb --report=r2.rtf a.flx",
         "files=a.flx db=two.mdb map= report=r2.rtf"},
        {"a lone dash is a file", "- b.flx", "files=-,b.flx db= map= report="},
        {"--help needs no files", "--help", "files= db= map= report= help"},
        {"-h after files", "a.flx -h --bogus", "files=a.flx db= map= report= help"},
        {"no files", "--unattended", "no FLX files"},
        {"unknown option", "--verbose a.flx", "unknown option --verbose"},
        {"option that only starts like one", "--dbx a a.flx", "unknown option --dbx"},
        {"flag given a value", "--quiet=1 a.flx", "unknown option"},
        {"--db without value", "a.flx --db", "--db needs a value"},
        {"--db= empty", "--db= a.flx", "--db needs a non-empty"},
        {"--map without '='", "--map ZEPH a.flx", "FILEID=DBID"},
        {"--map with empty file ID", "--map =ACME a.flx", "FILEID=DBID"},
        {"--map with empty database ID", "--map=ZEPH= a.flx", "FILEID=DBID"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString parsed = Parsed(c.args.split(' '));
        EXPECT_TRUE(parsed == c.expected ||
                    (parsed.startsWith("error: ") && parsed.contains(c.expected)))
            << parsed.toStdString();
    }
}

// ---- The tool, end to end ----

// Writes an FLX file with CR LF line ends and returns its path.
QString WriteFlx(const QString& path, const QStringList& lines) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((lines.join("\r\n") + "\r\n").toLatin1());
    return path;
}

// One converter with an input, an output and a line whose code makes no row.
QStringList Converter(const QString& manufacturerId) {
    return QString(
               "header, not read|<<STARTDEF>>|%1|QX-1|Converter|<<STARTBLK>>|T SIG CONN  NAME|"
               "I SDI BNC   SDI In|O ANA XLR3M Audio Out|P PWR IEC   Mains|<<ENDBLK>>")
        .arg(manufacturerId)
        .split('|');
}

// The end of a file's report (see Matches): it was added as `as`.
QString Added(const QString& path, const QString& as) {
    return "...Added " + path + "\n\nAdded as " + as + "\n\n";
}

QString Totals(int parts, int rows) {  // as many inputs as outputs
    return QString("Added [%1] parts with a total of [%2] inputs and [%2] outputs\n")
        .arg(parts)
        .arg(rows);
}

// `text` is `pattern`, each "..." in it standing for any text.
bool Matches(const QString& text, const QString& pattern) {
    const QString any = QRegularExpression::escape(pattern).replace("\\.\\.\\.", ".*");
    return QRegularExpression(QRegularExpression::anchoredPattern(any),
                              QRegularExpression::DotMatchesEverythingOption)
        .match(text)
        .hasMatch();
}

// One run of the tool. %DB% is the database, %D% its folder, which holds zephyr.flx (of ZEPHYR),
// zeph.flx (ZEPH), acme.flx (ACME) and nosuch.flx (NOSUCH).
struct ToolRun {
    const char* name;
    QString args;  // split at blanks
    int exitCode;
    QString out;   // standard output (see Matches)
    QString err;   // standard error
    QString rows;  // the new equipment rows (see kEquipment), then the number of manufacturers
    QString dbName = "dbEquip.mdb";
    bool besideTool = false;  // the tool runs from a copy in the database's folder
    QString rtf = {};         // %D%/report.rtf
};

const QString kEquipment =
    "select e.EquipmentName, m.ManufacturerID, m.ManufacturerName, e.EquipmentType, i.Name, "
    "i.Type, i.Conn, i.PinType, o.Conn from tblEquipment e join tblManufacturers m using "
    "(ManufacturerID) join tblInputs i using (EquipmentID) join tblOutputs o using (EquipmentID) "
    "where e.EquipmentID > 2 order by e.EquipmentID";

TEST(BatchToolTest, EveryRunEndsWithItsReportMessagesRowsAndExitStatus) {
    const QString qx = "|Converter|SDI In|SDI|BNC|Normal|XLR3M\n";
    const QString zephyr = "QX-1|ZEPHYR|ZEPHYR" + qx + "5",
                  acme = "QX-1|ACME|Acme Broadcast" + qx + "4";
    const ToolRun cases[] = {
        {"imports the files in order; a second QX-1 is versioned",
         "--db %DB% --unattended %D%/zephyr.flx %D%/zephyr.flx", 0,
         Added("%D%/zephyr.flx", "ZEPHYR ZEPHYR QX-1") +
             Added("%D%/zephyr.flx", "ZEPHYR ZEPHYR QX-1_v1") + Totals(2, 2),
         "", "QX-1|ZEPHYR|ZEPHYR" + qx + "QX-1_v1|ZEPHYR|ZEPHYR" + qx + "5"},
        // The database ID is looked up as the store compares text; the stored ID is the row's own.
        {"--map resolves a file ID to a database manufacturer",
         "--db %DB% --map ZEPH=acme %D%/zeph.flx", 0,
         "ManufacturerID: \tZEPH\n" + Added("%D%/zeph.flx", "ACME Acme Broadcast QX-1") +
             Totals(1, 1),
         "", acme},
        {"an unmapped manufacturer ID fails its file", "--db %DB% %D%/acme.flx %D%/nosuch.flx", 1,
         Added("%D%/acme.flx", "ACME Acme Broadcast QX-1") +
             "...Failed (unknown) %D%/nosuch.flx\n\n" + Totals(2, 1),
         "...\"NOSUCH\"...--unattended...--map NOSUCH=DBID...", acme},
        {"no files", "--db %DB%", 2, "", "...no FLX files...", "4"},
        {"an unknown database ID", "--db %DB% --map ZEPH=NOPE %D%/zeph.flx", 2, "", "...NOPE...",
         "4"},
        {"the database is not found", "--db %D%/nothere.mdb %D%/zeph.flx", 2, "",
         "...database not found: %D%/nothere.mdb...", "4"},
        {"--help", "--help", 0, "Usage: importflx-batch ...", "", "4"},
        {"--quiet and --report",
         "--db %DB% --unattended --quiet --report %D%/report.rtf %D%/zephyr.flx", 0, "", "", zephyr,
         "dbEquip.mdb", false,
         "{\\rtf...Added [1] parts with a total of [1] inputs and [1] outputs..."},
        {"a report that cannot be saved",
         "--db %DB% --unattended --quiet --report %D%/no/such/r.rtf %D%/zephyr.flx", 1, "",
         "...report not saved...", zephyr},
        {"dbEquip.mdb beside the tool, whatever its letter case",
         "--unattended --quiet %D%/zephyr.flx", 0, "", "", zephyr, "DBEQUIP.MDB", true},
        {"no dbEquip.mdb beside the tool", "--unattended %D%/zephyr.flx", 2, "",
         "...no dbEquip.mdb in %D%...", "4", "other.mdb", true},
        {"--db naming a file with ';' and '=' in its name",
         "--db %DB% --unattended --quiet %D%/zephyr.flx", 0, "", "", zephyr, "equip;v=2.mdb"},
    };
    for (const ToolRun& c : cases) {
        SCOPED_TRACE(c.name);
        TempDb db(DemoRowsSql(), true, c.dbName);
        const auto expand = [&](QString text) {
            return text.replace("%DB%", db.path()).replace("%D%", db.folder());
        };
        for (const QString& id : QStringList{"ZEPHYR", "ZEPH", "ACME", "NOSUCH"}) {
            WriteFlx(db.folder() + "/" + id.toLower() + ".flx", Converter(id));
        }
        const QString tool = db.folder() + "/importflx-batch";
        if (c.besideTool) {
            ASSERT_TRUE(QFile::copy(IMPORTFLX_BATCH_EXE, tool));
            QFile(tool).setPermissions(QFile::permissions(IMPORTFLX_BATCH_EXE));
        }
        QProcess process;
        QStringList args;
        for (const QString& arg : c.args.split(' ', Qt::SkipEmptyParts)) {
            args << expand(arg);
        }
        process.start(c.besideTool ? tool : IMPORTFLX_BATCH_EXE, args);
        ASSERT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(Matches(out, expand(c.out))) << out.toStdString();
        EXPECT_TRUE(Matches(err, expand(c.err))) << err.toStdString();
        EXPECT_FALSE(out.contains('\r')) << "the report's lines end with LF alone";
        EXPECT_EQ(
            (db.Rows(kEquipment) << db.Scalar("select count(*) from tblManufacturers").toString())
                .join('\n'),
            c.rows);
        if (!c.rtf.isEmpty()) {
            QFile saved(db.folder() + "/report.rtf");
            ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
            EXPECT_TRUE(Matches(QString::fromLatin1(saved.readAll()), c.rtf));
        }
    }
}

TEST(BatchToolTest, InterruptStopsTheRunWithStatus130) {
    TempDb db;
    // Each block under its own definition, so that no name is versioned past its column width.
    QStringList lines;
    for (int block = 0; block < 2000; ++block) {
        lines += {"<<STARTDEF>>", "ZEPHYR",       QString("BIG-%1").arg(block),
                  "Router",       "<<STARTBLK>>", "T SIG CONN  NAME"};
        for (int n = 1; n <= 20; ++n) {
            lines << QString("I SDI BNC   Input %1").arg(n);
        }
    }
    const QString big = WriteFlx(db.folder() + "/big.flx", lines);
    const QString small = WriteFlx(db.folder() + "/small.flx", Converter("ZEPHYR"));
    QProcess process;
    process.start(IMPORTFLX_BATCH_EXE, {"--db", db.path(), "--unattended", big, small});
    // The first chunk of the report shows that the run is under way.
    ASSERT_TRUE(process.waitForReadyRead(30000));
    ASSERT_EQ(process.state(), QProcess::Running) << "the run ended before the interrupt";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_FALSE(process.readAllStandardOutput().contains("Added "))
        << "neither file nor the run may end as added";
    EXPECT_EQ(process.readAllStandardError(), "");
    const int equipment = db.Scalar("select count(*) from tblEquipment").toInt();
    EXPECT_TRUE(equipment > 0 && equipment < 2000) << equipment;
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'QX-1'").toInt(),
              0);
}

}  // namespace
