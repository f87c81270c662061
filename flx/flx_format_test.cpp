#include "flx/flx_format.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <thread>

#include "tests/flx_builder.h"
#include "tests/printers.h"

using namespace Qt::StringLiterals;  // "..."_ba keeps the NULs

namespace {

// Bytes -> lines read, each followed by '|'. Without a byte-order mark, bytes are UTF-8 only when
// the whole file is valid UTF-8; otherwise Windows-1252, even its five undefined ones.
TEST(LineReader, EachLineEndEndsALineInEveryEncodingWhateverTheChunkSize) {
    QTemporaryDir dir;
    const std::pair<QByteArray, const char*> cases[] = {
        {"", ""},
        {"a", "a|"},
        {"a\r\nb\nc\rd", "a|b|c|d|"},
        {"a\r\n\r\nb\r\n", "a||b|"},
        {"a\n\rb\n", "a||b|"},
        {"a\r\r\nb", "a||b|"},
        {"\r", "|"},
        {"x\r\n\n", "x||"},
        {"A\x80\x81\x8D\x8F\r\n\x90\x96\x9D\x9F\xE9",
         "A\u20ac\u0081\u008d\u008f|\u0090\u2013\u009d\u0178\u00e9|"},
        // Windows-1252 whose bytes start UTF-8 sequences that do not go on.
        {"Caf\xE9 Cr\xE8me\r\nMic-\xB5", "Caf\u00e9 Cr\u00e8me|Mic-\u00b5|"},
        {"ok \xC3", "ok \u00c3|"},
        {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80",
         "\u00c0\u00af \u00ed\u00a0\u20ac \u00f4\u0090\u20ac\u20ac|"},
        // Valid UTF-8 until a late byte decides for Windows-1252, the first line included.
        {"\xC3\xBC\r\nplain\r\nx\xFC", "\u00c3\u00bc|plain|x\u00fc|"},
        // UTF-8 without a mark, its first multi-byte sequence late, one split by any chunk.
        {"plain\r\n\r\nMic-\xC2\xB5\r\nEingang \xC3\xBC\xF0\x9F\x98\x80!",
         "plain||Mic-\u00b5|Eingang \u00fc\U0001F600!|"},
        // Marks, never part of the first line; invalid sequences of a marked file read as U+FFFD.
        {"\xEF\xBB\xBF<<STARTDEF>>\r\nMic-\xC2\xB5", "<<STARTDEF>>|Mic-\u00b5|"},
        {"\xEF\xBB\xBF", ""},
        {"\xEF\xBB\xBF\r\n", "|"},
        {"\xEF\xBB\xBF"
         "a\xFF\xC3\r\xC3",
         "a\ufffd\ufffd|\ufffd|"},
        {"\xFF\xFEM\0\xB5\0\r\0\n\0\x3D\xD8\x00\xDE\n\0\r\0"_ba, "M\u00b5|\U0001F600||"},
        {"\xFE\xFF\0<\0\xFC\0\r\0x\0\r\0\n\0y\x01"_ba, "<\u00fc|x|y\ufffd|"},
    };
    for (qint64 chunk : {qint64(1), qint64(2), qint64(3), flx::LineReader::kDefaultChunkSize}) {
        for (const auto& [bytes, expected] : cases) {
            flx::LineReader reader(flxtest::Write(dir.path(), "f.flx", bytes), chunk);
            QString lines;
            while (!reader.AtEnd()) {
                lines += reader.ReadLine() + '|';
            }
            EXPECT_EQ(lines, QString::fromUtf8(expected))
                << chunk << ": " << bytes.toPercentEncoding().toStdString();
        }
    }
    // A closed reader is at its end, and stays there when closed again.
    flx::LineReader reader(flxtest::Write(dir.path(), "f.flx", "a\r\nb"));
    reader.Close();
    EXPECT_TRUE(reader.AtEnd());
    reader.Close();
    EXPECT_TRUE(reader.AtEnd());
}

// A pipe cannot go back: the encoding is decided on the chunk at hand, and the byte-order mark
// is gathered however few bytes each read gives. The writer writes each file at once.
TEST(LineReader, APipeIsReadWithoutGoingBack) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.flx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QByteArray bytes;
        qint64 chunk;
        const char* expected;
    } cases[] = {
        {"a\r\nb\nc\rd\r", flx::LineReader::kDefaultChunkSize, "a|b|c|d|"},
        {"a\r\nb\nc\rd\r", 1, "a|b|c|d|"},
        {"\xFF\xFEM\0\xB5\0\r\0\n\0"_ba, 1, "M\u00b5|"},
        {"\xEF\xBB\xBFx\r\n", 2, "x|"},
        // Invalid UTF-8 within the chunk: Windows-1252.
        {"\xC3\xBC\r\nplain\r\nx\xFC", flx::LineReader::kDefaultChunkSize,
         "\u00c3\u00bc|plain|x\u00fc|"},
        // A chunk of one byte holds a sequence cut short: UTF-8, and a late invalid byte U+FFFD.
        {"\xC3\xBC\r\nplain\r\nx\xFC", 1, "\u00fc|plain|x\ufffd|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toPercentEncoding().toStdString() + " " + std::to_string(c.chunk));
        std::thread writer([&] {
            QFile pipe(fifo);
            if (pipe.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
                pipe.write(c.bytes);
            }
        });
        QString lines;
        {
            flx::LineReader reader(fifo, c.chunk);
            while (!reader.AtEnd()) {
                lines += reader.ReadLine() + '|';
            }
        }
        writer.join();
        EXPECT_EQ(lines, QString::fromUtf8(c.expected));
    }
}

// A missing file and a folder are the reader's to report; the others fail here.
TEST(LineReader, OpenFailuresRaiseFileErrors) {
    EXPECT_EQ(ErrorOf([] { flx::LineReader reader(""); }), "52 Bad file name or number importflx");
    EXPECT_EQ(ErrorOf([] { flx::LineReader reader(QDir::tempPath() + "/nowhere/x.flx"); }),
              "76 Path not found importflx");
}

}  // namespace
