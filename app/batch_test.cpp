#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "app/batch_options.h"
#include "app/command_line.h"
#include "tests/temp_db.h"

namespace {

// The options that `args` (split at blanks) give, in one line, or the parse error.
QString Parsed(const QString& args) {
    const BatchParse parse = ParseBatchOptions(args.split(' '));
    const BatchOptions& o = parse.options;
    QString text =
        QString("files=%1 db=%2 report=%3 map=").arg(o.files.join(','), o.database, o.reportPath);
    for (const ManufacturerMapping& m : o.mappings) {
        text += m.fileId + "->" + m.databaseId + ";";
    }
    text += QString(o.jsonPath.isEmpty() ? "" : " json=" + o.jsonPath) +
            (o.unattended ? " unattended" : "") + (o.quiet ? " quiet" : "") +
            (o.noProgress ? " no-progress" : "") + (o.help ? " help" : "") +
            (o.version ? " version" : "");
    return parse.ok() ? text : parse.error;
}

TEST(BatchOptionsTest, ParsesTheCommandLine) {
    const struct {
        const char* name;
        QString args;
        QString expected;  // what Parsed() gives
    } cases[] = {
        {"files only", "a.flx b.flx", "files=a.flx,b.flx db= report= map="},
        {"every option, both value forms, -- ends options",
         "--db /x/my;db=1.mdb --unattended --map=ZEPH=ACME a.flx --map Q=A=B --report out.rtf "
         "--quiet -- -b.flx --quiet",
         "files=a.flx,-b.flx,--quiet db=/x/my;db=1.mdb report=out.rtf map=ZEPH->ACME;Q->A=B; "
         "unattended quiet"},
        {"a later --db or --report wins",
         "--db=one.mdb --report r1.rtf --db two.mdb --report=r2.rtf a.flx",
         "files=a.flx db=two.mdb report=r2.rtf map="},
        {"a lone dash is a file", "- b.flx", "files=-,b.flx db= report= map="},
        {"--help needs no files", "--help", "files= db= report= map= help"},
        {"-h after files", "a.flx -h --bogus", "files= db= report= map= help"},
        {"no files", "--unattended", "no FLX files given"},
        {"unknown option", "--verbose a.flx", "unknown option --verbose"},
        {"option that only starts like one", "--dbx a a.flx", "unknown option --dbx"},
        {"flag given a value", "--quiet=1 a.flx", "unknown option --quiet=1"},
        {"--db without value", "a.flx --db", "option --db needs a value"},
        {"--db= empty", "--db= a.flx", "option --db needs a non-empty value"},
        {"--map without '='", "--map ZEPH a.flx", "--map needs FILEID=DBID, got \"ZEPH\""},
        {"--map with empty file ID", "--map =ACME a.flx", "--map needs FILEID=DBID, got \"=ACME\""},
        {"--map with empty database ID", "--map=ZEPH= a.flx",
         "--map needs FILEID=DBID, got \"ZEPH=\""},
        {"JSON to standard output, no progress line", "--json - --no-progress --json=- a.flx",
         "files=a.flx db= report= map= json=- no-progress"},
        {"--version before a fault", "--version --bogus", "files= db= report= map= version"},
        {"a fault before --help", "--bogus --help", "unknown option --bogus"},
        {"--json without value", "a.flx --json", "option --json needs a value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parsed(c.args), c.expected);
    }
    // The window takes --db and nothing else.
    const std::pair<QStringList, QString> window[] = {
        {{}, "db="},
        {{"--db", "/x/e b.db"}, "db=/x/e b.db"},
        {{"--db=a.db", "--db", "b.db"}, "db=b.db"},
        {{"--db"}, "option --db needs a value"},
        {{"a.flx"}, "unexpected argument a.flx"},
        {{"--unattended"}, "unknown option --unattended"},
        {{"--help", "--bogus"}, "help"},
    };
    for (const auto& [args, expected] : window) {
        const cli::WindowParse parse = cli::ParseWindowOptions(args);
        EXPECT_EQ(parse.parsed.request == cli::Request::kHelp ? "help"
                  : parse.parsed.ok()                         ? "db=" + parse.options.databaseTarget
                                                              : parse.parsed.error,
                  expected);
    }
}

// Writes an FLX file with CR LF line ends and returns its path.
QString WriteFlx(const QString& path, const QStringList& lines) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((lines.join("\r\n") + "\r\n").toLatin1());
    return path;
}

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
        QString dbName = "dbEquip.mdb";
        bool besideTool = false;  // the tool runs from a copy in the database's folder
    } cases[] = {
        {"imports the files in order; a second QX-1 is versioned",
         "--db %DB% --unattended %D%/zephyr.flx %D%/zephyr.flx", 0,
         "...Added %D%/zephyr.flx\n\nAdded as ZEPHYR ZEPHYR QX-1\n\n...Added %D%/zephyr.flx\n\n"
         "Added as ZEPHYR ZEPHYR QX-1_v1\n\n" +
             Totals(2, 2),
         "", zephyr + "QX-1_v1|ZEPHYR|ZEPHYR" + qx + "5"},
        {"--map resolves a file ID to a database ID, compared as the store compares text",
         "--db %DB% --map ZEPH=acme %D%/zeph.flx", 0,
         "ManufacturerID: \tZEPH\n...Added %D%/zeph.flx\n\nAdded as ACME Acme Broadcast QX-1\n\n" +
             Totals(1, 1),
         "", acme},
        {"an unmapped manufacturer ID fails its file", "--db %DB% %D%/acme.flx %D%/nosuch.flx", 1,
         "...Added %D%/acme.flx\n\nAdded as ACME Acme Broadcast QX-1\n\n...Failed (unknown) "
         "%D%/nosuch.flx\n\n" +
             Totals(2, 1),
         "...\"NOSUCH\"...--unattended...--map NOSUCH=DBID...", acme},
        {"no files", "--db %DB%", 2, "", "...no FLX files...", "4"},
        {"an unknown database ID", "--db %DB% --map ZEPH=NOPE %D%/zeph.flx", 2, "", "...NOPE...",
         "4"},
        {"the database is not found", "--db %D%/nothere.mdb %D%/zeph.flx", 2, "",
         "...database not found: %D%/nothere.mdb...", "4"},
        {"--help", "--help", 0, "Usage: importflx-batch ...", "", "4"},
        {"--quiet, and --report saves the report",
         "--db %DB% --unattended --quiet --report %D%/report.rtf %D%/zephyr.flx", 0, "", "",
         zephyr + "5"},
        {"a report that cannot be saved",
         "--db %DB% --unattended --quiet --report %D%/no/such/r.rtf %D%/zephyr.flx", 1, "",
         "...report not saved...", zephyr + "5"},
        {"dbEquip.mdb beside the tool, whatever its letter case",
         "--unattended --quiet %D%/zephyr.flx", 0, "", "", zephyr + "5", "DBEQUIP.MDB", true},
        {"no dbEquip.mdb beside the tool", "--unattended %D%/zephyr.flx", 2, "",
         "...no dbEquip.mdb in %D%...", "4", "other.mdb", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDb db(DemoRowsSql(), true, c.dbName);
        for (const QString& id : QStringList{"ZEPHYR", "ZEPH", "ACME", "NOSUCH"}) {
            WriteFlx(db.folder() + "/" + id.toLower() + ".flx", kConverter.arg(id).split('|'));
        }
        const QString tool = c.besideTool ? db.folder() + "/importflx-batch" : IMPORTFLX_BATCH_EXE;
        ASSERT_TRUE(!c.besideTool || QFile::copy(IMPORTFLX_BATCH_EXE, tool));
        QStringList texts = QStringList{c.out, c.err} + c.args.split(' ');
        texts.replaceInStrings("%DB%", db.path()).replaceInStrings("%D%", db.folder());
        QProcess process;
        process.start(tool, texts.mid(2));
        ASSERT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(Matches(out, texts[0])) << out.toStdString();
        EXPECT_TRUE(Matches(err, texts[1])) << err.toStdString();
        EXPECT_FALSE(out.contains('\r')) << "the report's lines end with LF alone";
        const QString manufacturers = db.Scalar("select count(*) from tblManufacturers").toString();
        EXPECT_EQ((db.Rows(kEquipment) << manufacturers).join('\n'), c.rows);
        QFile saved(db.folder() + "/report.rtf");  // only --report saves one
        EXPECT_EQ(saved.open(QIODevice::ReadOnly) &&
                      Matches(QString::fromLatin1(saved.readAll()),
                              "{\\rtf..." + Totals(1, 1).trimmed() + "..."),
                  c.args.contains("report.rtf"));
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
    QProcess process;
    process.start(IMPORTFLX_BATCH_EXE,
                  {"--db", db.path(), "--unattended", WriteFlx(db.folder() + "/big.flx", lines),
                   WriteFlx(db.folder() + "/small.flx", kConverter.arg("ZEPHYR").split('|'))});
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
}

}  // namespace
