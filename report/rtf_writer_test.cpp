#include "report/rtf_writer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "core/error.h"
#include "tests/flx_builder.h"
#include "tests/office_reader.h"
#include "tests/printers.h"

namespace {

// The document without its fixed header and closing brace.
QByteArray Body(const QStringList& lines) {
    const QByteArray rtf = ReportToRtf(lines);
    const QByteArray header = "\\f0\\fs17 ", tail = "}\r\n";
    EXPECT_TRUE(rtf.endsWith(tail));
    const qsizetype start = rtf.indexOf(header) + header.size();
    return rtf.mid(start, rtf.size() - start - tail.size());
}

// Tabs, blanks and RTF syntax in the text: the real reader's read-back below.
TEST(RtfWriterTest, WritesEveryCharacterAsText) {
    const struct {
        const char* name;
        QStringList lines;
        QByteArray body;
    } cases[] = {
        {"empty report", {}, ""},
        {"outside printable ASCII as signed \\uN?, beyond U+FFFF as a surrogate pair",
         {QStringLiteral("\u00e9\u20ac\ufffd\U0001F600") + QChar(1) + QChar(0x7f)},
         "\\u233?\\u8364?\\u-3?\\u-10179?\\u-8704?\\u1?\\u127?\\par\r\n"},
        // CR LF, lone CR and lone LF each start a paragraph; a trailing CR LF leaves an empty one.
        {"line ends", {"a\r\n", "b\rc\nd"}, "a\\par\r\n\\par\r\nb\\par\r\nc\\par\r\nd\\par\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Body(c.lines), c.body);
    }
}

// A long report is written a slice at a time: the file is still the one its lines make, line
// ends of every kind falling on and around the slice ends; text after the last line end is a
// line of its own. A file that cannot be written raises with its path.
TEST(RtfWriterTest, ReportAsOneTextSavesAsItsLines) {
    QStringList lines;
    QString text;
    for (int i = 0; text.size() < 700000; ++i) {
        lines << QString(i % 97, QChar('a' + i % 26)) + (i % 7 ? "" : "\r\n") +
                     (i % 11 ? "" : "\rx\ny");
        text += lines.back() + '\n';
    }
    const QStringList unended = {"a", "b\r\n", "c"};
    const std::pair<QString, QStringList> cases[] = {
        {"", {}}, {text, lines}, {"a\nb\r\n\nc", unended}};
    QTemporaryDir dir;
    const QString path = dir.filePath("report.rtf");
    for (const auto& [report, expected] : cases) {
        SaveRtfText(path, report);  // replacing the file before
        EXPECT_EQ(flxtest::Read(path), ReportToRtf(expected)) << expected.size() << " lines";
    }
    // A file that cannot be written raises with its path and leaves nothing behind.
    const QString error = ErrorOf([&] { SaveRtfFile(dir.path(), {"new"}); });
    EXPECT_TRUE(error.startsWith(QString::number(ErrNo::kPermissionDenied) + ' ') &&
                error.contains(QDir::toNativeSeparators(dir.path())))
        << error.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.rtf"});
}

// Every escape (\uN? for anything outside printable ASCII, signed above U+7FFF, the syntax
// characters, tabs) reads back as its character. The reader drops control characters below
// U+0020, but nothing around them: a \uN without its stand-in would take the next character.
TEST(RtfWriterTest, RealReaderReadsBackTheReportText) {
    const QStringList lines = {
        "Model: \t\t5 {\\rtf1 \\b bold}",
        "  two leading blanks,   three inside, a trailing one ",
        "C:\\FLX\\device.flx\r\n",
        "",
        QStringLiteral("Stra\u00dfe \u20ac \u4e2d \U0001F600 \uac00 \ufffd end"),
        "}{\\par\\",
        QString("controls ") + QChar(1) + QChar(0x1f) + QChar(0x7f) + "\t9\tx end",
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("report.rtf");
    SaveRtfFile(path, lines);
    EXPECT_EQ(ReadWithOffice(path, dir.path()),
              lines.join('\n').replace("\r\n", "\n").remove(QChar(1)).remove(QChar(0x1f)) + '\n');
}

}  // namespace
