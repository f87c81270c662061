#include "flx/reader.h"

#include <QDir>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <functional>

#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

using namespace Qt::StringLiterals;

namespace {

class ReaderTest : public EngineTest {
  protected:
    QString Write(const QString& name, const QByteArray& bytes) {
        return flxtest::Write(files.path(), name, bytes);
    }
    // Imports `text` with each '|' and its end turned into CR LF; returns the file's path.
    QString Import(const QString& name, QByteArray text) {
        const QString path = Write(name, text.replace('|', "\r\n") + "\r\n");
        outcome = ImportFile(ctx, path);
        return path;
    }
    // Added equipment as name|type|manufacturer, then connectors as in|out|equipment|name|pin type.
    QStringList Stored() const {
        const QString pins =
            "select '%1', e.EquipmentName, c.Name, c.PinType from tbl%2 c join tblEquipment e "
            "using (EquipmentID) order by c.%3";
        return db.Rows(
                   "select EquipmentName, EquipmentType, ManufacturerID from tblEquipment "
                   "where EquipmentID > 2 order by EquipmentID") +
               db.Rows(pins.arg("in", "Inputs", "InputID")) +
               db.Rows(pins.arg("out", "Outputs", "OutputID"));
    }
    static QStringList EndLines(const QString& path, const QString& addedAs) {
        return {"Added " + path, "", "Added as " + addedAs, ""};
    }

    QTemporaryDir files;
    FileOutcome outcome;
};

TEST_P(ReaderTest, MarkersSectionsAndLookAlikes) {
    const QString path =
        Import("a.flx",
               "<<startdef>>| <<STARTDEF>>|<<STARTDEF>>|  ACME  |<<STARTBLK>> |\tAmp\t|line 4 is "
               "not read|<<STARTBLK>>|I AES DB25  first: never|I AES DB25  In 1|<<ENDBLK>> |O AES "
               "DB25  Out 1|<<endblk>>|<<ENDBLK>>|I AES DB25  outside");
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    EXPECT_EQ(
        host.ReportLines(),
        QStringList({"ManufacturerID: \t  ACME  ", "Model: \t\t<<STARTBLK>> ", "Type: \t\t\tAmp\t",
                     "IOType = I\t Sig = AES\t Conn = DB25\t Name = \tIn 1",
                     "IOType = <\t Sig = END\t Conn = LK>>\t Name = \t",
                     "IOType = O\t Sig = AES\t Conn = DB25\t Name = \tOut 1",
                     "IOType = <\t Sig = end\t Conn = lk>>\t Name = \t"}) +
            EndLines(path, "ACME Acme Broadcast <<STARTBLK>>"));
    EXPECT_EQ(Stored(), QStringList({"<<STARTBLK>>|\tAmp\t|ACME", "in|<<STARTBLK>>|In 1|Normal",
                                     "out|<<STARTBLK>>|Out 1|Normal"}));
}

// Several blocks per definition, no end marker, and a second definition in the same file.
TEST_P(ReaderTest, SeveralBlocksPerDefinitionAndDefinitionsPerFile) {
    const QString path =
        Import("m.flx",
               "<<STARTDEF>>|ACME|M|Amp|<<STARTBLK>>|hdr|I AES A     In|<<STARTBLK>>|"
               "hdr|O AES A     Out|<<STARTDEF>>|NORTHLN|N|<<STARTBLK>>|hdr|L AES A  "
               "   In2");
    EXPECT_EQ(Stored(), QStringList({"M|Amp|ACME", "M_v1|Amp|ACME", "N|Amp|NORTHLN",
                                     "in|M|In|Normal", "in|N|In2|Loop", "out|M_v1|Out|Normal"}));
    EXPECT_EQ(host.ReportLines().last(4), EndLines(path, "NORTHLN Northline Audio N"));
    // A file without a definition keeps the header values of the file before it.
    const QString empty = Write("empty.flx", "text\r\n");
    ImportFile(ctx, empty);
    EXPECT_EQ(host.ReportLines().last(4), EndLines(empty, "NORTHLN Northline Audio N"));
}

// A folder gives two messages and no log; a hidden file is reported missing, yet imported.
TEST_P(ReaderTest, FoldersAndHiddenFiles) {
    QDir(files.path()).mkdir("folder.flx");
    ImportFile(ctx, files.filePath("folder.flx"));
    EXPECT_EQ(host.messages, QStringList({"no file in path: " + files.filePath("folder.flx"),
                                          "53 File not found importflx"}));
    EXPECT_EQ(host.report + host.status, "");
    host.messages.clear();
    const QString path = Import(".hidden.flx", "<<STARTDEF>>|ACME|HID-1|Amp|<<STARTBLK>>");
    EXPECT_EQ(host.messages, QStringList({"no file in path: " + path}));
    EXPECT_EQ(Stored(), QStringList({"HID-1|Amp|ACME"}));
    EXPECT_EQ(host.ReportLines().last(4), EndLines(path, "ACME Acme Broadcast HID-1"));
}

// A device is stored whole or not at all. Its second connector is refused before it reaches the
// store (too long, a NUL character), by the store's own rule, or, on a server, because the user
// may not add inputs: the device before it in the file stays, none of this device's rows is
// stored, the lines up to the refused one are logged, and its error ends the file.
TEST_P(ReaderTest, ADeviceThatFailsPartWayLeavesNoneOfItsRowsAndKeepsTheOnesBefore) {
    db.Exec(IsPostgres(GetParam())
                ? "ALTER TABLE tblInputs ADD CHECK (Name <> 'bad')"
                : "DROP TABLE tblInputs; CREATE TABLE tblInputs (InputID INTEGER PRIMARY KEY, "
                  "EquipmentID INTEGER NOT NULL, Name VARCHAR(50) CHECK (Name <> 'bad'), Type "
                  "VARCHAR(20), Conn VARCHAR(20), PinType VARCHAR(10))");
    const struct {
        const char* what;
        QByteArray value;  // the second connector's name
        long number;
        bool serverOnly = false;  // a user who may not add inputs: only a server has users
    } cases[] = {
        {"too long", QByteArray(60, 'n'), ErrNo::kDbValueTooLong},
        {"NUL", QByteArray("b\0d", 3), ErrNo::kDbRefused},
        {"rule", "bad", ErrNo::kDbIntegrity},
        {"no right to add inputs", "ok too", ErrNo::kDbReadOnly, true},
    };
    for (const auto& c : cases) {
        if (c.serverOnly && !IsPostgres(GetParam())) {
            continue;
        }
        SCOPED_TRACE(c.what);
        host.messages.clear();
        host.report.clear();
        db.Exec("DELETE FROM tblInputs; DELETE FROM tblEquipment WHERE EquipmentID > 2");
        std::optional<db::Database> limited;
        if (c.serverOnly) {
            limited.emplace(db.ConnectionAs(db.RoleWithoutInsert("tblInputs")));
        }
        ImportContext as{session, host, limited ? *limited : database};
        QByteArray text =
            "<<STARTDEF>>|ACME|GOOD-1|Amp|<<STARTBLK>>|hdr|I AES A     first|"
            "<<STARTDEF>>|ACME|LONG-1|Amp|<<STARTBLK>>|hdr|I AES A     ok|I AES A     " +
            c.value + "|I AES A     never";
        const QString path = Write("e.flx", text.replace('|', "\r\n"));
        outcome = ImportFile(as, path);
        ASSERT_EQ(host.messages.size(), 1);
        EXPECT_TRUE(host.messages[0].startsWith(QString::number(c.number) + " The ") &&
                    host.messages[0].endsWith(" importflx database"))
            << host.messages[0].toStdString();
        EXPECT_EQ(outcome.status, FileStatus::kError);
        EXPECT_EQ(outcome.errorNumber, c.number);
        if (c.serverOnly) {
            EXPECT_TRUE(host.messages[0].contains("does not let this user add rows to tblInputs"))
                << host.messages[0].toStdString();
            EXPECT_EQ(Stored(), QStringList());  // not even the first device
            continue;
        }
        EXPECT_EQ(Stored(), QStringList({"GOOD-1|Amp|ACME", "in|GOOD-1|first|Normal"}));
        ASSERT_EQ(outcome.equipment.size(), 1u);  // stored before the error, and so kept
        EXPECT_EQ(outcome.equipment[0].model, "GOOD-1");
        EXPECT_EQ(outcome.equipment[0].inputs, 1);
        const QStringList log = host.ReportLines();
        EXPECT_EQ(log.filter("IOType").size(), 3);  // up to the refused line, never after it
        EXPECT_TRUE(log.last().startsWith("IOType = I\t Sig = AES\t Conn = A\t Name = \t" +
                                          QString::fromLatin1(c.value).left(3)))
            << log.last().toStdString();
        EXPECT_FALSE(host.report.contains("Added ") || host.report.contains("never"));
    }
}

TEST_P(ReaderTest, ConsistencyFailureFailsEveryBlock) {
    db.Exec(
        "insert into tblEquipment (EquipmentName, ManufacturerID) values ('X', 'JonkyWonderBoy')");
    const QString path =
        Import("f.flx", "<<STARTDEF>>|ACME|CF-1|Amp|<<STARTBLK>>|<<STARTDEF>>|NORTHLN");
    EXPECT_EQ(host.messages,
              QStringList({"Error initializing recordsets", "unable to initialize recordset"}));
    EXPECT_EQ(host.ReportLines().mid(3), QStringList({"Failed (unknown) " + path, ""}));
    EXPECT_EQ(outcome.reason, RefusalReason::kEquipmentNotStored);
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'CF-1'"), 0);
}

// While another importer holds the database the file waits, the window is told and keeps its
// events; a cancel or the end of the wait's limit ends the file with nothing of it stored. The
// wait's clock moves ten seconds a pause and nothing else, so the default limit of 60 seconds
// is reached at the sixth pause.
TEST_P(ReaderTest, AFileWaitsForAnotherImporterUntilItIsDoneCancelledOrTooLate) {
    std::shared_ptr<void> hold = db.HoldForImport();
    const QByteArray device = "<<STARTDEF>>|ACME|WAIT-1|Amp|<<STARTBLK>>|hdr|I AES A     in";
    const struct {
        const char* what;
        bool cancel;
        FileStatus status;
        int pauses;
    } cases[] = {
        {"cancelled", true, FileStatus::kCancelled, 1},
        {"too long", false, FileStatus::kError, 6},
        {"done", false, FileStatus::kAdded, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        session.bCancel = false;
        host.waits.clear();
        int pauses = 0;  // the other importer is done at the third
        UseWaitClock(database, 10000, [&](int n) {
            if ((pauses = n) == 3 && c.status == FileStatus::kAdded) {
                hold.reset();
            }
        });
        host.onProcessEvents = [&] { session.bCancel = c.cancel && host.waiting; };
        const QString path = Write("wait.flx", QByteArray(device).replace('|', "\r\n"));
        const FileOutcome outcome = ImportFile(ctx, path);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_EQ(host.waits, QList<bool>({true, false}));
        EXPECT_EQ(Stored().size(), c.status == FileStatus::kAdded ? 2 : 0);
    }
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(
        host.messages[0].startsWith(QString::number(ErrNo::kDbLocked) + " The database '") &&
        host.messages[0].endsWith(
            "' is locked by another program (waited 60 seconds). Close the other program "
            "and try again. importflx database"))
        << host.messages[0].toStdString();
}

// Another program reads an SQLite file that keeps its rollback journal (the importer cannot
// move it to its log while the file is being read): the device's rows go in, but its commit
// cannot. The commit's transaction is rolled back, the file reported locked, and the next
// import and any other writer find the file free.
TEST_P(ReaderTest, ACommitThatCannotGoThroughLeavesNothingAndTheFileFree) {
    if (GetParam() != Store::kSqlite) {
        GTEST_SKIP() << "SQLite's own locks";
    }
    std::shared_ptr<void> reading = db.Hold({"SELECT count(*) FROM tblEquipment"}, false);
    UseWaitClock(database, 20000);
    const QString path = Write("c.flx", flxtest::Bytes(flxtest::Device("ACME", "COMMIT-1")));
    const FileOutcome failed = ImportFile(ctx, path);
    EXPECT_EQ(failed.errorKind, ErrorKind::kLocked);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].contains("is locked by another program (waited 60 seconds)") &&
                host.messages[0].contains("The rows added since the last commit were not stored"))
        << host.messages[0].toStdString();
    EXPECT_EQ(Stored(), QStringList());
    reading.reset();
    db.Exec("insert into tblManufacturers (ManufacturerID, ManufacturerName) values ('W', 'W')");
    EXPECT_TRUE(ImportFile(ctx, path).added()) << host.messages.join('\n').toStdString();
    EXPECT_EQ(Stored(), QStringList({"COMMIT-1|Router|ACME", "in|COMMIT-1|In 1|Normal"}));
}

// A file saved in any of today's encodings stores the same values, quotes included; a versioned
// name marks each. The 8-bit file is Windows-1252.
TEST_P(ReaderTest, EveryEncodingStoresTheSameValues) {
    const QString text = QString::fromUtf16(
        u"<<STARTDEF>>\r\nO'NEIL\r\nIt's Mic-\u00b5 \u20ac\r\n8\" rack\r\n<<STARTBLK>>\r\nhdr\r\n"
        u"O 'S' C'n\"  Bob's \u201c\u00fc\u201d\u009d\r\n");
    QStringEncoder le(QStringEncoder::Utf16LE), be(QStringEncoder::Utf16BE);
    const QByteArray encodings[] = {
        "<<STARTDEF>>\r\nO'NEIL\r\nIt's Mic-\xB5 \x80\r\n8\" rack\r\n<<STARTBLK>>\r\nhdr\r\n"
        "O 'S' C'n\"  Bob's \x93\xFC\x94\x9D\r\n",
        text.toUtf8(), "\xEF\xBB\xBF" + text.toUtf8(), "\xFF\xFE" + QByteArray(le(text)),
        "\xFE\xFF" + QByteArray(be(text))};
    QStringList equipment, outputs;
    for (const QByteArray& bytes : encodings) {
        ImportFile(ctx, Write("enc.flx", bytes));
        const QString model = QString::fromUtf16(u"It's Mic-\u00b5 \u20ac") +
                              (outputs.isEmpty() ? "" : QString("_v%1").arg(outputs.size()));
        equipment << model + "|8\" rack|O'NEIL";
        outputs << "out|" + model + QString::fromUtf16(u"|Bob's \u201c\u00fc\u201d\u009d|Normal");
    }
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    EXPECT_EQ(Stored(), equipment + outputs);
}

// A NUL byte is read as a character, but a value holding one never reaches the store: SQLite
// would compare it only up to the NUL, so "\0\0>>_v1" and "\0\0>>_v2" would count as the same
// name and each block of the file below would try ten times more versions than the last.
TEST_P(ReaderTest, NulCharactersEndTheFileOnlyWhereAValueReachesTheStore) {
    Import("nul_model.flx", "<<STARTDEF>>|ACME|\0\0>>|Amp|<<STARTBLK>>|h|"_ba.repeated(6));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].startsWith(QString::number(ErrNo::kDbRefused) +
                                            " The value '\\0\\0>>' holds a NUL character"))
        << host.messages[0].toStdString();
    EXPECT_FALSE(host.report.contains("Added "));

    // Padding NULs on a line without a code are only logged.
    host.messages.clear();
    Import("nul_padding.flx",
           "<<STARTDEF>>|ACME|PAD-1|Amp|<<STARTBLK>>|h|I AES A     ok|\0\0\0\0"_ba);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(Stored(), QStringList({"PAD-1|Amp|ACME", "in|PAD-1|ok|Normal"}));
}

// The server goes away in the middle of a file. The file waits for it, telling the window; when
// it comes back the file goes in whole, once. When it stays away past the wait, the file ends
// with one message and nothing of it is stored; the next file goes in once the server is back.
TEST(ReaderOnAServer, TheServerGoingAwayIsWaitedForAndTheFileGoesInOnce) {
    PostgresServer server;
    for (const Store store : {Store::kPostgres, Store::kOdbcPostgres}) {
        for (const bool comesBack : {true, false}) {
            SCOPED_TRACE(StoreName(store) + (comesBack ? " comes back" : " stays away"));
            TempDb db(store, DemoRowsSql(store), true, server.socket());
            SessionState session;
            db::Database database(db.connection());
            UseWaitClock(database);
            FakeHost host;
            ImportContext ctx{session, host, database};
            QTemporaryDir files;
            const auto import = [&](const QString& model) {
                const auto device = flxtest::Device("ACME", model, flxtest::Connectors(10));
                return ImportFile(
                    ctx, flxtest::Write(files.path(), model + ".flx", flxtest::Bytes(device)));
            };
            EXPECT_TRUE(import("BEFORE").added());
            bool down = false;
            host.onProcessEvents = [&, calls = 0]() mutable {
                if (++calls == 10) {
                    down = server.Control("crash");
                } else if (down && comesBack && host.waiting) {
                    down = !server.Control("resume");
                }
            };
            const FileOutcome during = import("DURING");
            EXPECT_EQ(host.waitsFor.value(0), DatabaseWait::kServerGone);
            EXPECT_FALSE(host.waiting);
            if (comesBack) {
                EXPECT_TRUE(during.added()) << host.messages.join('\n').toStdString();
                EXPECT_TRUE(host.messages.isEmpty());
            } else {
                EXPECT_EQ(during.status, FileStatus::kError);
                EXPECT_EQ(during.errorKind, ErrorKind::kConnectionLost);
                EXPECT_TRUE(during.equipment.empty());
                ASSERT_EQ(host.messages.size(), 1);
                EXPECT_TRUE(host.messages[0].contains("did not come back within 60 seconds"))
                    << host.messages[0].toStdString();
                ASSERT_TRUE(server.Control("resume"));
            }
            host.onProcessEvents = {};
            EXPECT_TRUE(import("AFTER").added()) << host.messages.join('\n').toStdString();
            EXPECT_EQ(db.Devices(), comesBack
                                        ? QStringList({"BEFORE|10|0", "DURING|10|0", "AFTER|10|0"})
                                        : QStringList({"BEFORE|10|0", "AFTER|10|0"}));
        }
    }
}

INSTANTIATE_ON_EVERY_STORE(ReaderTest);

}  // namespace
