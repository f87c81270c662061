#include "flx/flx_format.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/error.h"

namespace {

TEST(TrimBlanks, RemovesOnlyBlanksAtBothEnds) {
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"  ACME  ", "ACME"},
        {"\tACME\t", "\tACME\t"},
        {" \t A B \t ", "\t A B \t"},
        {"", ""},
        {"    ", ""},
        {"\u00a0x\u00a0", "\u00a0x\u00a0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(flx::TrimBlanks(c.in), c.out) << c.in.toStdString();
    }
    // Empty results are empty text, never null (a null would be stored as NULL).
    EXPECT_FALSE(flx::TrimBlanks(QString()).isNull());
}

TEST(CutConnectorLine, CutsFixedCharacterColumns) {
    const struct {
        QString line;
        QString type, sig, conn, name;
    } cases[] = {
        {"I AES DB25  Input 1", "I", "AES", "DB25", "Input 1"},
        {"O VID BNC-1 Program Out", "O", "VID", "BNC-1", "Program Out"},
        // Exactly 12 characters: the name starts beyond the end.
        {"O XLR XLR-3 ", "O", "XLR", "XLR-3", ""},
        {"I AB", "I", "AB", "", ""},
        {"I AES D", "I", "AES", "D", ""},
        {"L", "L", "", "", ""},
        {"", "", "", "", ""},
        {"I   A CONN1   Inner  Name  ", "I", "A", "CONN1", "Inner  Name"},
        // A tab is one character; a tab-separated line is cut at the fixed columns all the same.
        {"I\tAES\tDB25\tName", "I", "AES", "DB25\t", "ame"},
        {"\tX", "\t", "", "", ""},
        {"i AES DB25  lower", "i", "AES", "DB25", "lower"},
        {"  AES DB25  blank code", "", "AES", "DB25", "blank code"},
        {"Ixabcxdefghxname", "I", "abc", "defgh", "name"},
    };
    for (const auto& c : cases) {
        const flx::ConnectorFields f = flx::CutConnectorLine(c.line);
        EXPECT_EQ(f.type, c.type) << c.line.toStdString();
        EXPECT_EQ(f.sig, c.sig) << c.line.toStdString();
        EXPECT_EQ(f.conn, c.conn) << c.line.toStdString();
        EXPECT_EQ(f.name, c.name) << c.line.toStdString();
        EXPECT_FALSE(f.type.isNull() || f.sig.isNull() || f.conn.isNull() || f.name.isNull());
    }
}

TEST(DecodeCp1252, MapsEveryByteIncludingTheUndefinedFive) {
    const struct {
        unsigned char byte;
        char16_t ch;
    } cases[] = {
        {0x41, 0x0041}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F},
        {0x90, 0x0090}, {0x96, 0x2013}, {0x9D, 0x009D}, {0x9F, 0x0178}, {0xE9, 0x00E9},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(flx::DecodeCp1252(c.byte).unicode(), c.ch) << int(c.byte);
    }
    EXPECT_EQ(flx::DecodeCp1252(QByteArrayView("Caf\xE9 \x80\x93")), u"Caf\u00e9 \u20ac\u201c");
}

class LineReaderTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;

    QString Write(const QByteArray& bytes, const QString& name = "f.flx") {
        const QString path = QDir(dir.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    static QStringList ReadAll(const QString& path, qint64 chunk) {
        flx::LineReader reader(path, chunk);
        QStringList lines;
        while (!reader.AtEnd()) {
            lines << reader.ReadLine();
        }
        return lines;
    }
};

TEST_F(LineReaderTest, EachLineEndEndsALineWhateverTheChunkSize) {
    const struct {
        QByteArray bytes;
        QStringList lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n", {""}},
        {"\r", {""}},
        {"x\r\n\n", {"x", ""}},
        {"t\tab\r\n", {"t\tab"}},
        {QByteArray("n\0ul", 4), {QString::fromUtf16(u"n\0ul", 4)}},
        {"Caf\xE9\r\n\x80\x9D",
         {QString::fromUtf16(u"Caf\u00e9"), QString::fromUtf16(u"\u20ac\u009d")}},
    };
    for (qint64 chunk : {qint64(1), qint64(2), qint64(3), flx::LineReader::kDefaultChunkSize}) {
        for (const auto& c : cases) {
            const QString path = Write(c.bytes);
            EXPECT_EQ(ReadAll(path, chunk), c.lines)
                << "chunk " << chunk << ": " << c.bytes.toPercentEncoding().toStdString();
        }
    }
}

TEST_F(LineReaderTest, ReadsALineLongerThanManyChunks) {
    QByteArray longLine(300000, 'x');
    longLine[150000] = '\xE9';
    const QString path = Write(longLine + "\r\nend");
    const QStringList lines = ReadAll(path, 4096);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), 300000);
    EXPECT_EQ(lines[0][150000], QChar(0xE9));
    EXPECT_EQ(lines[1], "end");
}

TEST_F(LineReaderTest, ClosedReaderIsAtItsEnd) {
    flx::LineReader reader(Write("a\r\nb"));
    EXPECT_EQ(reader.ReadLine(), "a");
    reader.Close();
    EXPECT_TRUE(reader.AtEnd());
    reader.Close();
}

TEST_F(LineReaderTest, OpenFailuresRaiseFileErrors) {
    QDir(dir.path()).mkdir("folder.flx");
    const QString unreadable = Write("x", "locked.flx");
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    const struct {
        QString path;
        long number;
        QString description;
    } cases[] = {
        {"", ErrNo::kBadFileName, "Bad file name or number"},
        {dir.path() + "/missing.flx", ErrNo::kFileNotFound, "File not found"},
        {dir.path() + "/folder.flx", ErrNo::kFileNotFound, "File not found"},
        {dir.path() + "/nowhere/x.flx", ErrNo::kPathNotFound, "Path not found"},
        {unreadable, ErrNo::kPermissionDenied, "Permission denied"},
    };
    for (const auto& c : cases) {
        if (c.path == unreadable && geteuid() == 0) {
            continue;  // root reads any file
        }
        try {
            flx::LineReader reader(c.path);
            ADD_FAILURE() << "opened " << c.path.toStdString();
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), c.number) << c.path.toStdString();
            EXPECT_EQ(e.description(), c.description) << c.path.toStdString();
            EXPECT_EQ(e.source(), "importflx");
        }
    }
}

}  // namespace
