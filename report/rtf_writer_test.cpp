#include "report/rtf_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>

#include "app/error.h"
#include "tests/office_reader.h"

namespace {

// The document without its fixed header and closing brace.
QByteArray Body(const QStringList& lines) {
    const QByteArray rtf = ReportToRtf(lines);
    const QByteArray marker = "\\fs17 ";
    const qsizetype start = rtf.indexOf(marker) + marker.size();
    const QByteArray tail = "}\r\n";
    EXPECT_TRUE(rtf.endsWith(tail));
    return rtf.mid(start, rtf.size() - start - tail.size());
}

struct EscapeCase {
    const char* name;
    QStringList lines;
    QByteArray body;
};

TEST(RtfWriterTest, WritesEveryCharacterAsText) {
    const EscapeCase cases[] = {
        {"empty report", {}, ""},
        {"plain line", {"Added C:\\flx"}, "Added C:\\\\flx\\par\r\n"},
        {"empty line", {""}, "\\par\r\n"},
        {"braces", {"{x}"}, "\\{x\\}\\par\r\n"},
        {"tabs keep a digit as text", {"Model: \t\t5"}, "Model: \\tab \\tab 5\\par\r\n"},
        {"latin-1", {QString::fromUtf8("Caf\xc3\xa9")}, "Caf\\u233?\\par\r\n"},
        {"above 0x7fff is negative",
         {QString::fromUtf8("\xe2\x82\xac\xef\xbf\xbd")},
         "\\u8364?\\u-3?\\par\r\n"},
        {"beyond U+FFFF as a surrogate pair",
         {QString::fromUtf8("\xf0\x9f\x98\x80")},
         "\\u-10179?\\u-8704?\\par\r\n"},
        {"control characters",
         {QString("a") + QChar(1) + QChar(0x1b) + QChar(0x7f)},
         "a\\u1?\\u27?\\u127?\\par\r\n"},
        {"runs of blanks split by empty groups", {"  a   b "}, " {} a {} {} b \\par\r\n"},
        {"injection stays text", {"{\\rtf1 \\b bold}"}, "\\{\\\\rtf1 \\\\b bold\\}\\par\r\n"},
        {"CR LF at the end leaves an empty paragraph",
         {"a\r\n", "b"},
         "a\\par\r\n\\par\r\nb\\par\r\n"},
        {"lone CR and LF break the line", {"a\rb\nc"}, "a\\par\r\nb\\par\r\nc\\par\r\n"},
    };
    for (const EscapeCase& c : cases) {
        EXPECT_EQ(Body(c.lines), c.body) << c.name;
    }
}

TEST(RtfWriterTest, HeaderNamesFontSizeAndCodePage) {
    const QByteArray rtf = ReportToRtf({"x"});
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0"));
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}"));
    EXPECT_TRUE(rtf.contains("\\f0\\fs17 "));
    for (const char byte : rtf) {
        EXPECT_TRUE(static_cast<unsigned char>(byte) < 0x80);
    }
}

TEST(RtfWriterTest, SaveReplacesAnExistingFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("report.rtf");
    SaveRtfFile(path, {"first"});
    SaveRtfFile(path, {"second"});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ReportToRtf({"second"}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.rtf"});
}

TEST(RtfWriterTest, SaveFailuresRaiseWithThePath) {
    QTemporaryDir dir;
    const struct {
        const char* name;
        QString path;
        long number;
    } cases[] = {
        {"empty path", "", ErrNo::kBadFileName},
        {"missing folder", dir.filePath("no/such/report.rtf"), ErrNo::kPathNotFound},
        {"folder as file", dir.path(), ErrNo::kPermissionDenied},
    };
    for (const auto& c : cases) {
        try {
            SaveRtfFile(c.path, {"new"});
            ADD_FAILURE() << c.name << ": no error";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), c.number) << c.name;
            EXPECT_TRUE(e.description().contains(QDir::toNativeSeparators(c.path))) << c.name;
        }
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST(RtfWriterTest, RealReaderReadsBackTheReportText) {
    const QStringList lines = {
        "Manufacturer ID: \tACME",
        "Model: \t\t5 {\\rtf1 \\b bold}",
        "  two leading blanks,   three inside, a trailing one ",
        "Inputs:\t  2 \t 3",
        "C:\\FLX\\device.flx\r\n",
        "",
        QString::fromUtf8("Stra\xc3\x9f"
                          "e \xe2\x82\xac \xe4\xb8\xad \xf0\x9f\x98\x80 end"),
        "}{\\par\\",
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("report.rtf");
    SaveRtfFile(path, lines);

    QString expected;
    for (const QString& line : lines) {
        expected += QString(line).replace("\r\n", "\n") + "\n";
    }
    EXPECT_EQ(ReadWithOffice(path, dir.path()), expected);
}

}  // namespace
