#include "flx/flx_format.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/error.h"

namespace {

TEST(FlxFormat, TrimBlanksRemovesOnlySpacesAtBothEnds) {
    const QStringList cases = {
        "  ACME  ", "ACME", "\tACME\t", "\tACME\t", " \t A B \t ",   "\t A B \t",
        "",         "",     "    ",     "",         "\u00a0x\u00a0", "\u00a0x\u00a0"};
    for (qsizetype i = 0; i < cases.size(); i += 2) {
        EXPECT_EQ(TrimBlanks(cases[i]), cases[i + 1]) << cases[i].toStdString();
    }
    // Empty results are empty text, never null (a null would be stored as NULL).
    EXPECT_FALSE(TrimBlanks(QString()).isNull());
}

TEST(FlxFormat, CutConnectorLineCutsFixedCharacterColumns) {
    // A tab is one character.
    const QString cases[][2] = {{"I AES DB25  Input 1", "I|AES|DB25|Input 1"},
                                {"O VID BNC-1 Program Out", "O|VID|BNC-1|Program Out"},
                                {"O XLR XLR-3 ", "O|XLR|XLR-3|"},
                                {"I AB", "I|AB||"},
                                {"", "|||"},
                                {"I   A CONN1   Inner  Name  ", "I|A|CONN1|Inner  Name"},
                                {"I\tAES\tDB25\tName", "I|AES|DB25\t|ame"},
                                {"  AES DB25  blank code", "|AES|DB25|blank code"},
                                {"Ixabcxdefghxname", "I|abc|defgh|name"}};
    for (const auto& c : cases) {
        const flx::ConnectorFields f = flx::CutConnectorLine(c[0]);
        EXPECT_EQ(QStringList({f.type, f.sig, f.conn, f.name}).join('|'), c[1]);
        EXPECT_FALSE(f.type.isNull() || f.sig.isNull() || f.conn.isNull() || f.name.isNull());
    }
}

class LineReaderTest : public ::testing::Test {
  protected:
    QString Write(const QByteArray& bytes, const QString& name = "f.flx") {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    QTemporaryDir dir;
};

// Bytes -> lines read, each followed by '|'. Bytes are Windows-1252, even its five undefined ones.
TEST_F(LineReaderTest, EachLineEndEndsALineWhateverTheChunkSize) {
    const char* cases[][2] = {{"", ""},
                              {"a", "a|"},
                              {"a\r\nb\nc\rd", "a|b|c|d|"},
                              {"a\r\n\r\nb\r\n", "a||b|"},
                              {"a\n\rb\n", "a||b|"},
                              {"a\r\r\nb", "a||b|"},
                              {"\r", "|"},
                              {"x\r\n\n", "x||"},
                              {"A\x80\x81\x8D\x8F\r\n\x90\x96\x9D\x9F\xE9",
                               "A\u20ac\u0081\u008d\u008f|\u0090\u2013\u009d\u0178\u00e9|"}};
    for (qint64 chunk : {qint64(1), qint64(2), qint64(3), flx::LineReader::kDefaultChunkSize}) {
        for (const auto& c : cases) {
            flx::LineReader reader(Write(c[0]), chunk);
            QString lines;
            while (!reader.AtEnd()) {
                lines += reader.ReadLine() + '|';
            }
            EXPECT_EQ(lines, QString::fromUtf8(c[1]))
                << chunk << ": " << QByteArray(c[0]).toPercentEncoding().toStdString();
        }
    }
    // A line far longer than a chunk, holding a NUL; a closed reader is at its end.
    QByteArray longLine(300000, 'x');
    longLine.replace(150000, 2, QByteArray("\xE9\0", 2));
    flx::LineReader reader(Write(longLine + "\r\nend\r\nnever"), 4096);
    EXPECT_TRUE(reader.ReadLine() == flx::DecodeCp1252(QByteArrayView(longLine)));
    EXPECT_EQ(reader.ReadLine(), "end");
    reader.Close();
    EXPECT_TRUE(reader.AtEnd());
    reader.Close();  // closing twice is harmless
}

TEST_F(LineReaderTest, OpenFailuresRaiseFileErrors) {
    QDir(dir.path()).mkdir("folder.flx");
    const QString unreadable = Write("x", "locked.flx");
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    QList<std::pair<QString, QString>> cases = {
        {"", "52 Bad file name or number importflx"},
        {dir.path() + "/missing.flx", "53 File not found importflx"},
        {dir.path() + "/folder.flx", "53 File not found importflx"},
        {dir.path() + "/nowhere/x.flx", "76 Path not found importflx"}};
    if (geteuid() != 0) {  // root reads any file
        cases.append({unreadable, "70 Permission denied importflx"});
    }
    for (const auto& [path, error] : cases) {
        try {
            flx::LineReader reader(path);
            ADD_FAILURE() << "opened " << path.toStdString();
        } catch (const AppError& e) {
            EXPECT_EQ(QString("%1 %2 %3").arg(e.number()).arg(e.description(), e.source()), error);
        }
    }
}

}  // namespace
