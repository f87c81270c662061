#include "flx/reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/error.h"
#include "app/session.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

namespace {

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
    }
    void TearDown() override { aManuMap.assign(1, ManuMapEntry{}); }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = QDir(files.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QString WriteLines(const QString& name, const QStringList& lines,
                       const QByteArray& end = "\r\n") {
        QByteArray bytes;
        for (const QString& line : lines) {
            bytes += line.toLatin1() + end;
        }
        return Write(name, bytes);
    }
    // name|type|manufacturer of every equipment row added after the demo rows.
    QStringList NewEquipment() const {
        return db.Rows(
            "select EquipmentName, EquipmentType, ManufacturerID from tblEquipment "
            "where EquipmentID > 2 order by EquipmentID");
    }
    // equipment name|connector name|pin type of every row of `table`.
    QStringList Connectors(const QString& table) const {
        return db.Rows("select e.EquipmentName, c.Name, c.PinType from " + table +
                       " c join tblEquipment e on e.EquipmentID = c.EquipmentID order by c.rowid");
    }
    static QStringList EndLines(const QString& path, const QString& addedAs) {
        return {"Added " + path, "", "Added as " + addedAs, ""};
    }

    TempDb db{DemoRowsSql()};
    QTemporaryDir files;
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(ReaderTest, MarkersSectionsAndLookAlikes) {
    const QString path = WriteLines(
        "a.flx",
        {"<<startdef>>", " <<STARTDEF>>", "<<STARTDEF>>", "  ACME  ", "<<STARTBLK>> ", "\tAmp\t",
         "line 4 is not read", "<<STARTBLK>>", "I AES DB25  first: never", "I AES DB25  In 1",
         "<<ENDBLK>> ", "O AES DB25  Out 1", "<<endblk>>", "<<ENDBLK>>", "I AES DB25  outside"});
    ImportFile(ctx, path);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(
        host.ReportLines(),
        QStringList({"ManufacturerID: \t  ACME  ", "Model: \t\t<<STARTBLK>> ", "Type: \t\t\tAmp\t",
                     "IOType = I\t Sig = AES\t Conn = DB25\t Name = \tIn 1",
                     "IOType = <\t Sig = END\t Conn = LK>>\t Name = \t",
                     "IOType = O\t Sig = AES\t Conn = DB25\t Name = \tOut 1",
                     "IOType = <\t Sig = end\t Conn = lk>>\t Name = \t"}) +
            EndLines(path, "ACME Acme Broadcast <<STARTBLK>>"));
    EXPECT_EQ(NewEquipment(), QStringList({"<<STARTBLK>>|\tAmp\t|ACME"}));
    EXPECT_EQ(Connectors("tblInputs"), QStringList({"<<STARTBLK>>|In 1|Normal"}));
    EXPECT_EQ(Connectors("tblOutputs"), QStringList({"<<STARTBLK>>|Out 1|Normal"}));
    // Once per line, and once after the equipment commit.
    EXPECT_EQ(host.processEventsCalls, 15 + 1);
}

TEST_F(ReaderTest, SeveralBlocksPerDefinitionAndNoEndMarker) {
    const QString path = WriteLines(
        "b.flx", {"<<STARTDEF>>", "ACME", "DA-500", "Amp", "<<STARTBLK>>", "hdr", "I AES A     In",
                  "<<STARTBLK>>", "hdr", "O AES A     Out", "<<STARTDEF>>", "NORTHLN", "MX-9",
                  "<<STARTBLK>>", "hdr", "L AES A     In2"});
    ImportFile(ctx, path);
    EXPECT_EQ(NewEquipment(),
              QStringList({"DA-500|Amp|ACME", "DA-500_v1|Amp|ACME", "MX-9|Amp|NORTHLN"}));
    EXPECT_EQ(Connectors("tblInputs"), QStringList({"DA-500|In|Normal", "MX-9|In2|Loop"}));
    EXPECT_EQ(Connectors("tblOutputs"), QStringList({"DA-500_v1|Out|Normal"}));
    EXPECT_EQ(host.ReportLines().mid(host.ReportLines().size() - 4),
              EndLines(path, "NORTHLN Northline Audio MX-9"));
    EXPECT_EQ(session.iInputs, 2);
    EXPECT_EQ(session.iOutputs, 1);
}

TEST_F(ReaderTest, EveryLineEndStyleImportsAlike) {
    const struct {
        const char* name;
        QByteArray end;
    } cases[] = {{"crlf", "\r\n"}, {"lf", "\n"}, {"cr", "\r"}, {"mixed", "\n\r\n\r"}};
    for (const auto& c : cases) {
        QByteArray bytes;
        const QStringList lines = {
            "<<STARTDEF>>", "ACME", QString("LE-") + c.name, "Amp",
            "<<STARTBLK>>", "hdr",  "I AES A     one",       "I AES A     two"};
        for (int i = 0; i < lines.size(); ++i) {
            // "mixed" cycles through LF, CR LF and CR.
            const QByteArray end =
                c.end.size() > 2 ? QList<QByteArray>{"\n", "\r\n", "\r"}[i % 3] : c.end;
            bytes += lines[i].toLatin1() + end;
        }
        host.report.clear();
        const QString path = Write(QString(c.name) + ".flx", bytes);
        ImportFile(ctx, path);
        EXPECT_EQ(db.Scalar(QString("select count(*) from tblInputs i join tblEquipment e on "
                                    "e.EquipmentID = i.EquipmentID where e.EquipmentName = "
                                    "'LE-%1'")
                                .arg(c.name))
                      .toInt(),
                  2)
            << c.name;
        EXPECT_EQ(host.ReportLines().size(), 3 + 2 + 4) << c.name;
    }
}

TEST_F(ReaderTest, BytesAreWindows1252) {
    const QString path =
        Write("c.flx",
              "<<STARTDEF>>\r\nACME\r\nCaf\xE9 \x80\r\nAmp\r\n<<STARTBLK>>\r\nhdr\r\n"
              "I AES A     \x93Q\x94\x9D\r\n");
    ImportFile(ctx, path);
    EXPECT_EQ(NewEquipment(), QStringList({QString::fromUtf16(u"Caf\u00e9 \u20ac|Amp|ACME")}));
    EXPECT_EQ(Connectors("tblInputs"),
              QStringList({QString::fromUtf16(u"Caf\u00e9 \u20ac|\u201cQ\u201d\u009d|Normal")}));
}

TEST_F(ReaderTest, FileWithoutMarkersLogsOnlyTheEndLines) {
    for (const QByteArray& bytes : {QByteArray(), QByteArray("text\r\nI AES A     x\r\n")}) {
        host.report.clear();
        session.sManuID = "ID";
        session.sManuName = "Name";
        session.sEquipName = "Model";
        const QString path = Write("d.flx", bytes);
        ImportFile(ctx, path);
        EXPECT_EQ(host.ReportLines(), EndLines(path, "ID Name Model"));
        EXPECT_TRUE(NewEquipment().isEmpty());
    }
}

TEST_F(ReaderTest, FileThatCannotBeOpenedGivesTwoMessagesAndNoLog) {
    QDir(files.path()).mkdir("folder.flx");
    for (const QString& path : {files.path() + "/missing.flx", files.path() + "/folder.flx"}) {
        host.messages.clear();
        ImportFile(ctx, path);
        EXPECT_EQ(host.messages,
                  QStringList({"no file in path: " + path, "53 File not found importflx"}));
    }
    EXPECT_EQ(host.report, "");
    EXPECT_EQ(host.status, "");
}

TEST_F(ReaderTest, HiddenFileIsReportedMissingYetImported) {
    const QString path =
        WriteLines(".hidden.flx", {"<<STARTDEF>>", "ACME", "HID-1", "Amp", "<<STARTBLK>>"});
    ImportFile(ctx, path);
    EXPECT_EQ(host.messages, QStringList({"no file in path: " + path}));
    EXPECT_EQ(NewEquipment(), QStringList({"HID-1|Amp|ACME"}));
    EXPECT_EQ(host.ReportLines().mid(host.ReportLines().size() - 4),
              EndLines(path, "ACME Acme Broadcast HID-1"));
}

TEST_F(ReaderTest, DatabaseErrorEndsTheFileKeepingEarlierRows) {
    const QString path = WriteLines(
        "e.flx", {"<<STARTDEF>>", "ACME", "LONG-1", "Amp", "<<STARTBLK>>", "hdr", "I AES A     ok",
                  "I AES A     " + QString(60, 'n'), "I AES A     never"});
    ImportFile(ctx, path);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].startsWith(QString::number(ErrNo::kDbValueTooLong) + " The "))
        << host.messages[0].toStdString();
    EXPECT_TRUE(host.messages[0].endsWith(" importflx database"));
    EXPECT_EQ(NewEquipment(), QStringList({"LONG-1|Amp|ACME"}));
    EXPECT_EQ(Connectors("tblInputs"), QStringList({"LONG-1|ok|Normal"}));
    EXPECT_FALSE(host.report.contains("Added "));
    EXPECT_FALSE(host.report.contains("never"));
}

TEST_F(ReaderTest, ConsistencyFailureFailsEveryBlock) {
    db.Exec(
        "insert into tblEquipment (EquipmentName, ManufacturerID) values ('X', "
        "'JonkyWonderBoy')");
    for (const char* name : {"f1.flx", "f2.flx"}) {
        host.messages.clear();
        host.report.clear();
        const QString path = WriteLines(name, {"<<STARTDEF>>", "ACME", "CF-1", "Amp",
                                               "<<STARTBLK>>", "<<STARTDEF>>", "NORTHLN"});
        ImportFile(ctx, path);
        EXPECT_EQ(host.messages,
                  QStringList({"Error initializing recordsets", "unable to initialize recordset"}));
        EXPECT_EQ(host.ReportLines().mid(3), QStringList({"Failed (unknown) " + path, ""}));
    }
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment where EquipmentName = 'CF-1'").toInt(),
              0);
}

TEST_F(ReaderTest, CancelInTheSelectionDialogFailsTheFile) {
    host.unattended = false;
    host.onSelectManufacturer = [](SessionState& s) {
        s.bCancel = true;
        return true;
    };
    const QString path =
        WriteLines("g.flx", {"<<STARTDEF>>", "UNKNOWN", "X", "Amp", "<<STARTBLK>>", "hdr"});
    ImportFile(ctx, path);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(host.ReportLines().mid(3), QStringList({"Failed (user canceled) " + path, ""}));
}

TEST_F(ReaderTest, CancelDuringTheFileEndsItSilently) {
    host.onProcessEvents = [this] {
        if (host.processEventsCalls == 3) {
            session.bCancel = true;
        }
    };
    const QString path =
        WriteLines("h.flx", {"<<STARTDEF>>", "ACME", "CAN-1", "Amp", "<<STARTBLK>>"});
    ImportFile(ctx, path);
    EXPECT_EQ(host.ReportLines(), QStringList({"ManufacturerID: \tACME"}));
    EXPECT_TRUE(NewEquipment().isEmpty());
}

TEST_F(ReaderTest, QuotesImportVerbatim) {
    const QString path = WriteLines("q.flx", {"<<STARTDEF>>", "O'NEIL", "It's", "8\" rack",
                                              "<<STARTBLK>>", "hdr", "O 'S' C'n\"  Bob's \"Out\""});
    ImportFile(ctx, path);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(NewEquipment(), QStringList({"It's|8\" rack|O'NEIL"}));
    EXPECT_EQ(Connectors("tblOutputs"), QStringList({"It's|Bob's \"Out\"|Normal"}));
    EXPECT_EQ(host.ReportLines().mid(host.ReportLines().size() - 2),
              QStringList({"Added as O'NEIL O'NEIL It's", ""}));
}

// The bytes of a literal that holds NULs.
template <std::size_t N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

// A NUL byte is read as a character, but a value holding one never reaches the store: SQLite
// would compare it only up to the NUL, so "\0\0>>_v1" and "\0\0>>_v2" would count as the same
// name and each block of the file below would try ten times more versions than the last.
TEST_F(ReaderTest, NulCharactersEndTheFileOnlyWhereAValueReachesTheStore) {
    const QByteArray definition =
        Bytes("<<STARTDEF>>\r\nACME\r\n\0\0>>\r\nAmp\r\n<<STARTBLK>>\r\nh\r\n");
    const QString refused = Write("nul_model.flx", definition.repeated(6));
    ImportFile(ctx, refused);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].startsWith(QString::number(ErrNo::kDbFail) +
                                            " The value '\\0\\0>>' holds a NUL character"))
        << host.messages[0].toStdString();
    EXPECT_FALSE(host.report.contains("Added "));

    // Padding NULs on a line without a code are only logged; a NUL in a stored name is refused.
    host.messages.clear();
    const QString padded =
        Write("nul_padding.flx", Bytes("<<STARTDEF>>\r\nACME\r\nPAD-1\r\nAmp\r\n<<STARTBLK>>\r\n"
                                       "h\r\nI AES A     ok\r\n\0\0\0\0\r\nO AES A     b\0d\r\n"));
    ImportFile(ctx, padded);
    EXPECT_EQ(host.messages.size(), 1);
    EXPECT_EQ(NewEquipment(), QStringList({"PAD-1|Amp|ACME"}));
    EXPECT_EQ(Connectors("tblInputs"), QStringList({"PAD-1|ok|Normal"}));
    EXPECT_TRUE(Connectors("tblOutputs").isEmpty());
}

TEST_F(ReaderTest, LongSectionsPassTheOldSixteenBitLineLimit) {
    host.logActions = false;
    QStringList lines = {"<<STARTDEF>>", "ACME", "DEEP-1", "Amp"};
    for (int i = 0; i < 33000; ++i) {
        lines << "filler";
    }
    lines << "<<STARTBLK>>"
          << "hdr";
    for (int i = 0; i < 33000; ++i) {
        lines << "- filler";
    }
    lines << "I AES A     deep";
    ImportFile(ctx, WriteLines("long.flx", lines));
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(Connectors("tblInputs"), QStringList({"DEEP-1|deep|Normal"}));
    EXPECT_TRUE(host.status.startsWith("Added as ACME"));
}

}  // namespace
