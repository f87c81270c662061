#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "app/batch_options.h"
#include "tests/temp_db.h"

namespace {

// ---- Command line ----

struct ParseCase {
    const char* name;
    QStringList args;
    QString error;  // substring of the expected error; empty for a valid command line
    BatchOptions expected;
};

BatchOptions Files(QStringList files) {
    BatchOptions options;
    options.files = std::move(files);
    return options;
}

TEST(BatchOptionsTest, ParsesTheCommandLine) {
    BatchOptions full = Files({"a.flx", "-b.flx", "--quiet"});
    full.database = "/x/my;db=1.mdb";
    full.unattended = true;
    full.mappings = {{"ZEPH", "ACME"}, {"Q", "A=B"}};
    full.reportPath = "out.rtf";
    full.quiet = true;
    BatchOptions lastWins = Files({"a.flx"});
    lastWins.database = "two.mdb";
    lastWins.reportPath = "r2.rtf";
    BatchOptions help;
    help.help = true;
    BatchOptions dash = Files({"-", "b.flx"});

    const ParseCase cases[] = {
        {"files only", {"a.flx", "b.flx"}, {}, Files({"a.flx", "b.flx"})},
        {"every option, both value forms, -- ends options",
         {"--db", "/x/my;db=1.mdb", "--unattended", "--map=ZEPH=ACME", "a.flx", "--map", "Q=A=B",
          "--report", "out.rtf", "--quiet", "--", "-b.flx", "--quiet"},
         {},
         full},
        {"a later --db or --report wins",
         {"--db=one.mdb", "--report", "r1.rtf", "--db", "two.mdb", "--report=r2.rtf", "a.flx"},
         {},
         lastWins},
        {"a lone dash is a file", {"-", "b.flx"}, {}, dash},
        {"--help needs no files", {"--help"}, {}, help},
        {"-h after files",
         {"a.flx", "-h", "--bogus"},
         {},
         [] {
             BatchOptions o = Files({"a.flx"});
             o.help = true;
             return o;
         }()},
        {"no files", {"--unattended"}, "no FLX files", {}},
        {"unknown option", {"--verbose", "a.flx"}, "unknown option --verbose", {}},
        {"option that only starts like one", {"--dbx", "a", "a.flx"}, "unknown option --dbx", {}},
        {"flag given a value", {"--quiet=1", "a.flx"}, "unknown option", {}},
        {"--db without value", {"a.flx", "--db"}, "--db needs a value", {}},
        {"--db= empty", {"--db=", "a.flx"}, "--db needs a non-empty", {}},
        {"--map without '='", {"--map", "ZEPH", "a.flx"}, "FILEID=DBID", {}},
        {"--map with empty file ID", {"--map", "=ACME", "a.flx"}, "FILEID=DBID", {}},
        {"--map with empty database ID", {"--map=ZEPH=", "a.flx"}, "FILEID=DBID", {}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchParse parse = ParseBatchOptions(c.args);
        if (!c.error.isEmpty()) {
            EXPECT_TRUE(parse.error.contains(c.error)) << parse.error.toStdString();
            continue;
        }
        ASSERT_TRUE(parse.ok()) << parse.error.toStdString();
        const BatchOptions& o = parse.options;
        EXPECT_EQ(o.files, c.expected.files);
        EXPECT_EQ(o.database, c.expected.database);
        EXPECT_EQ(o.unattended, c.expected.unattended);
        EXPECT_EQ(o.mappings, c.expected.mappings);
        EXPECT_EQ(o.reportPath, c.expected.reportPath);
        EXPECT_EQ(o.quiet, c.expected.quiet);
        EXPECT_EQ(o.help, c.expected.help);
    }
}

// ---- The tool, end to end ----

struct Result {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

Result RunTool(const QStringList& args, const QString& program = IMPORTFLX_BATCH_EXE) {
    QProcess process;
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(120000)) << "importflx-batch did not finish";
    Result r;
    r.exitCode = process.exitCode();
    r.crashed = process.exitStatus() != QProcess::NormalExit;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

// Writes an FLX file with CR LF line ends and returns its path.
QString WriteFlx(const QString& folder, const QString& name, const QStringList& lines) {
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((lines.join("\r\n") + "\r\n").toLatin1());
    return path;
}

// One converter with an input, an output and a line whose code makes no row.
QStringList Converter(const QString& manufacturerId) {
    return {"header, not read",
            "<<STARTDEF>>",
            manufacturerId,
            "QX-1",
            "Converter",
            "<<STARTBLK>>",
            "T SIG CONN  NAME",
            "I SDI BNC   SDI In",
            "O ANA XLR3M Audio Out",
            "P PWR IEC   Mains",
            "<<ENDBLK>>"};
}

// The report lines that Converter() gives, as written to standard output.
// `fileId` is the ID as the file gives it, `id` and `name` the manufacturer it resolved to.
QString ConverterReport(const QString& path, const QString& fileId, const QString& id,
                        const QString& name, const QString& model) {
    return "ManufacturerID: \t" + fileId + "\n" + "Model: \t\tQX-1\n" + "Type: \t\tConverter\n" +
           "IOType = I\t Sig = SDI\t Conn = BNC\t Name = \tSDI In\n" +
           "IOType = O\t Sig = ANA\t Conn = XLR3M\t Name = \tAudio Out\n" +
           "IOType = P\t Sig = PWR\t Conn = IEC\t Name = \tMains\n" + "Added " + path + "\n\n" +
           "Added as " + id + " " + name + " " + model + "\n\n";
}

QString Totals(int parts, int inputs, int outputs) {
    return QString("Added [%1] parts with a total of [%2] inputs and [%3] outputs\n")
        .arg(parts)
        .arg(inputs)
        .arg(outputs);
}

TEST(BatchToolTest, ImportsFilesInOrderAndPrintsTheReport) {
    TempDb db;
    const QString file = WriteFlx(db.folder(), "zephyr.flx", Converter("ZEPHYR"));
    const Result r = RunTool({"--db", db.path(), "--unattended", file, file});

    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    const QString expected = ConverterReport(file, "ZEPHYR", "ZEPHYR", "ZEPHYR", "QX-1") +
                             ConverterReport(file, "ZEPHYR", "ZEPHYR", "ZEPHYR", "QX-1_v1") +
                             Totals(2, 2, 2);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(db.Rows("select ManufacturerID, ManufacturerName from tblManufacturers"),
              QStringList{"ZEPHYR|ZEPHYR"});
    EXPECT_EQ(db.Rows("select EquipmentName, ManufacturerID, EquipmentType from tblEquipment "
                      "order by EquipmentID"),
              (QStringList{"QX-1|ZEPHYR|Converter", "QX-1_v1|ZEPHYR|Converter"}));
    EXPECT_EQ(db.Scalar("select count(*) from tblInputs where Name = 'SDI In' and Type = 'SDI' "
                        "and Conn = 'BNC' and PinType = 'Normal'")
                  .toInt(),
              2);
    EXPECT_EQ(db.Scalar("select count(*) from tblOutputs where Conn = 'XLR3M'").toInt(), 2);
}

TEST(BatchToolTest, MapResolvesAFileIdToADatabaseManufacturer) {
    TempDb db(DemoRowsSql());
    const QString file = WriteFlx(db.folder(), "zeph.flx", Converter("ZEPH"));
    // The database ID is looked up as the store compares text; the stored ID is the row's own.
    const Result r = RunTool({"--db", db.path(), "--map", "ZEPH=acme", file});

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              ConverterReport(file, "ZEPH", "ACME", "Acme Broadcast", "QX-1") + Totals(1, 1, 1));
    EXPECT_EQ(db.Rows("select ManufacturerID from tblEquipment where EquipmentName = 'QX-1'"),
              QStringList{"ACME"});
    EXPECT_EQ(
        db.Scalar("select count(*) from tblManufacturers where ManufacturerID = 'ZEPH'").toInt(),
        0);
}

struct FailingRun {
    const char* name;
    QStringList files;   // names in the database's folder; "missing.flx" is never written
    QStringList errors;  // substrings of standard error
    QStringList added;   // files that still end with their "Added " line
    QString failedLine;  // expected "Failed (" line, or empty
};

TEST(BatchToolTest, AFailedOrRefusedFileGivesExitStatusOne) {
    const FailingRun cases[] = {
        {"unmapped manufacturer ID",
         {"good.flx", "unknown.flx"},
         {"\"NOSUCH\"", "--unattended", "--map NOSUCH=DBID"},
         {"good.flx"},
         "Failed (unknown) %unknown.flx%\n\n"},
        {"missing file between two good ones",
         {"good.flx", "missing.flx", "good2.flx"},
         {"no file in path: %missing.flx%\n"},
         {"good.flx", "good2.flx"},
         {}},
    };
    for (const FailingRun& c : cases) {
        SCOPED_TRACE(c.name);
        TempDb db(DemoRowsSql());
        const auto pathOf = [&](const QString& name) { return QDir(db.folder()).filePath(name); };
        const auto expand = [&](QString text) {
            for (const char* name : {"unknown.flx", "missing.flx"}) {
                text.replace(QString("%%1%").arg(name), pathOf(name));
            }
            return text;
        };
        WriteFlx(db.folder(), "good.flx", Converter("ACME"));
        WriteFlx(db.folder(), "good2.flx", Converter("KESTREL"));
        WriteFlx(db.folder(), "unknown.flx", Converter("NOSUCH"));
        QStringList args{"--db", db.path()};
        for (const QString& name : c.files) {
            args << pathOf(name);
        }
        const Result r = RunTool(args);

        EXPECT_EQ(r.exitCode, 1);
        for (const QString& error : c.errors) {
            EXPECT_TRUE(r.err.contains(expand(error))) << r.err.toStdString();
        }
        for (const QString& name : c.added) {
            EXPECT_TRUE(r.out.contains("Added " + pathOf(name) + "\n\n")) << name.toStdString();
        }
        if (!c.failedLine.isEmpty()) {
            EXPECT_TRUE(r.out.contains(expand(c.failedLine))) << r.out.toStdString();
        }
        EXPECT_TRUE(r.out.endsWith(Totals(c.files.size(), c.added.size(), c.added.size())))
            << r.out.toStdString();
        EXPECT_FALSE(r.out.contains('\r'));
        EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers where ManufacturerID = "
                            "'NOSUCH'")
                      .toInt(),
                  0);
    }
}

TEST(BatchToolTest, UsageAndDatabaseProblemsGiveExitStatusTwo) {
    TempDb db(DemoRowsSql());
    const QString file = WriteFlx(db.folder(), "a.flx", Converter("ZEPH"));
    QFile notADb(QDir(db.folder()).filePath("notes.mdb"));
    ASSERT_TRUE(notADb.open(QIODevice::WriteOnly));
    notADb.write("just some text, no database header");
    notADb.close();

    const struct {
        const char* name;
        QStringList args;
        QString error;
    } cases[] = {
        {"no files", {"--db", db.path()}, "no FLX files"},
        {"bad option", {"--db", db.path(), "--frobnicate", file}, "unknown option --frobnicate"},
        {"unknown database ID", {"--db", db.path(), "--map", "ZEPH=NOPE", file}, "NOPE"},
        {"database not found",
         {"--db", db.folder() + "/nothere.mdb", file},
         "database not found: " + db.folder() + "/nothere.mdb"},
        {"file that is no database", {"--db", notADb.fileName(), file}, "notes.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = RunTool(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(c.error)) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'QX-1'").toInt(),
              0);

    const Result help = RunTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: importflx-batch")) << help.out.toStdString();
}

// Copies the tool into `folder`, so that its own folder is `folder`.
QString CopyTool(const QString& folder) {
    const QString copy = QDir(folder).filePath("importflx-batch");
    EXPECT_TRUE(QFile::copy(IMPORTFLX_BATCH_EXE, copy));
    QFile(copy).setPermissions(QFile::permissions(IMPORTFLX_BATCH_EXE));
    return copy;
}

TEST(BatchToolTest, FindsTheDatabaseBesideItselfOrWhereverDbPoints) {
    {
        SCOPED_TRACE("default: dbEquip.mdb in the tool's folder, whatever its letter case");
        TempDb db({}, true, "DBEQUIP.MDB");
        const QString file = WriteFlx(db.folder(), "a.flx", Converter("ZEPHYR"));
        const Result r = RunTool({"--unattended", "--quiet", file}, CopyTool(db.folder()));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 1);
    }
    {
        SCOPED_TRACE("default, and the tool's folder has no database");
        QTemporaryDir empty;
        const QString file = WriteFlx(empty.path(), "a.flx", Converter("ZEPHYR"));
        const Result r = RunTool({"--unattended", file}, CopyTool(empty.path()));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains("no dbEquip.mdb in " + empty.path())) << r.err.toStdString();
    }
    {
        SCOPED_TRACE("--db naming a file with ';' and '=' in its name");
        TempDb db({}, true, "equip;v=2.mdb");
        const QString file = WriteFlx(db.folder(), "a.flx", Converter("ZEPHYR"));
        const Result r = RunTool({"--db", db.path(), "--unattended", "--quiet", file});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 1);
    }
}

TEST(BatchToolTest, ReportAndQuiet) {
    TempDb db;
    const QString file = WriteFlx(db.folder(), "a.flx", Converter("ZEPHYR"));
    const QString rtf = QDir(db.folder()).filePath("report.rtf");
    const Result r = RunTool({"--db", db.path(), "--unattended", "--quiet", "--report", rtf, file});

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(db.Scalar("select count(*) from tblInputs").toInt(), 1);
    QFile saved(rtf);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.startsWith("{\\rtf")) << text.left(40).toStdString();
    EXPECT_TRUE(text.contains("Added [1] parts with a total of [1] inputs and [1] outputs"));

    const Result unwritable = RunTool({"--db", db.path(), "--unattended", "--quiet", "--report",
                                       db.folder() + "/no/such/folder/r.rtf", file});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_TRUE(unwritable.err.contains("report not saved")) << unwritable.err.toStdString();
}

TEST(BatchToolTest, InterruptStopsTheRunWithStatus130) {
    TempDb db;
    // Each block under its own definition, so that no name is versioned past its column width.
    QStringList lines;
    for (int block = 0; block < 2000; ++block) {
        lines << "<<STARTDEF>>"
              << "ZEPHYR" << QString("BIG-%1").arg(block) << "Router"
              << "<<STARTBLK>>"
              << "T SIG CONN  NAME";
        for (int n = 1; n <= 20; ++n) {
            lines << QString("I SDI BNC   Input %1").arg(n);
        }
    }
    const QString big = WriteFlx(db.folder(), "big.flx", lines);
    const QString small = WriteFlx(db.folder(), "small.flx", Converter("ZEPHYR"));

    QProcess process;
    process.start(IMPORTFLX_BATCH_EXE, {"--db", db.path(), "--unattended", big, small});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    // The first chunk of the report shows that the run is under way.
    while (out.isEmpty() && process.state() == QProcess::Running) {
        process.waitForReadyRead(10000);
        out += process.readAllStandardOutput();
    }
    ASSERT_EQ(process.state(), QProcess::Running) << "the run ended before the interrupt";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    out += process.readAllStandardOutput();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    const QString report = QString::fromUtf8(out);
    EXPECT_FALSE(report.contains("Added ")) << "neither file nor the run may end as added";
    EXPECT_EQ(process.readAllStandardError(), "");
    const int equipment = db.Scalar("select count(*) from tblEquipment").toInt();
    EXPECT_GT(equipment, 0);
    EXPECT_LT(equipment, 2000);
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'QX-1'").toInt(),
              0);
}

}  // namespace
