#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QLatin1String>
#include <QString>
#include <QStringView>

#include "core/text.h"

// The FLX file format: its marker lines, IO type codes, the fixed columns of a
// connector line, and a line reader over the file's text.
namespace flx {

// Marker lines; a line is a marker only when it equals one of these exactly.
inline constexpr QLatin1String kStartDef("<<STARTDEF>>");
inline constexpr QLatin1String kStartBlk("<<STARTBLK>>");
inline constexpr QLatin1String kEndBlk("<<ENDBLK>>");

// IO type codes of a connector line (column 1), compared exactly.
inline constexpr QLatin1String kCodeInput("I");
inline constexpr QLatin1String kCodeOutput("O");
inline constexpr QLatin1String kCodeLoop("L");

// Pin types stored with a connector row.
inline constexpr QLatin1String kPinNormal("Normal");
inline constexpr QLatin1String kPinLoop("Loop");

// Where each field of a connector line lies: its first character column (counted from 1) and
// its width; kToLineEnd runs to the end of the line.
struct FieldColumns {
    qsizetype first;
    qsizetype width;
};
inline constexpr qsizetype kToLineEnd = -1;
inline constexpr FieldColumns kTypeColumns{1, 1};
inline constexpr FieldColumns kSigColumns{3, 3};
inline constexpr FieldColumns kConnColumns{7, 5};
inline constexpr FieldColumns kNameColumns{13, kToLineEnd};

// The four fields of a connector line, each trimmed of blanks.
struct ConnectorFields {
    QString type;  // column 1
    QString sig;   // columns 3 to 5
    QString conn;  // columns 7 to 11
    QString name;  // column 13 to the end of the line
};

// Cuts a connector line at its fixed character columns. A field that starts beyond the end of
// the line is empty (never null); one that runs past the end is shortened. A tab counts as one
// character.
ConnectorFields CutConnectorLine(QStringView line);

// The character for one byte of Windows-1252 text. The five bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) give the control characters of the same value.
QChar DecodeCp1252(unsigned char byte);
// A whole Windows-1252 byte string.
QString DecodeCp1252(QByteArrayView bytes);

// The text encodings of an FLX file.
enum class Encoding {
    kUndecided,  // no byte above 0x7F yet: every encoding reads the bytes so far alike
    kCp1252,
    kUtf8,
    kUtf16Le,
    kUtf16Be,
};

// Reads an FLX file line by line. The file is read in chunks, never whole, so a line may be of
// any length. A line ends at CR, at CR LF or at LF alone; the terminator is not part of it.
//
// The encoding: a byte-order mark decides (EF BB BF UTF-8, FF FE UTF-16 little endian, FE FF
// UTF-16 big endian) and is never part of the first line. Without one, the file is UTF-8 when
// the whole of it is valid UTF-8 (RFC 3629: no overlong forms, surrogates or values above
// U+10FFFF) and holds at least one multi-byte sequence; otherwise it is Windows-1252, every byte
// one character, the five undefined bytes included. The reader decides when it meets the first
// byte above 0x7F, up to which both read alike: it then scans the rest of the file once, without
// keeping it, and goes back. A device that cannot go back (a pipe) is judged on the chunk at
// hand. Invalid sequences in a file marked as UTF-8 or UTF-16 read as U+FFFD.
//
// Failures raise AppError with source "importflx": an empty path (ErrNo::kBadFileName), no
// such file or a directory in its place (ErrNo::kFileNotFound), a missing folder
// (ErrNo::kPathNotFound), no permission (ErrNo::kPermissionDenied), and any other failure to
// open or read (ErrNo::kFileIo).
class LineReader {
  public:
    static constexpr qint64 kDefaultChunkSize = 64 * 1024;

    // Opens `path` for reading; its byte-order mark, if any, is read with its first bytes.
    explicit LineReader(const QString& path, qint64 chunkSize = kDefaultChunkSize);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // True when no line is left (also after Close).
    bool AtEnd();
    // The next line without its terminator. Requires !AtEnd().
    QString ReadLine();
    // Closes the file; further calls find it at its end. Closing twice is harmless.
    void Close();

    // The encoding as far as decided: kUndecided until a byte above 0x7F has been read.
    Encoding encoding() const { return encoding_; }

  private:
    // Makes sure decoded text is buffered; false at the end of the file.
    bool Fill();
    // Decides between UTF-8 and Windows-1252 from `bytes` (the rest of the current chunk,
    // starting at its first byte above 0x7F) and what follows them in the file.
    void DecideEncoding(QByteArrayView bytes);
    // Decodes `bytes` into text_, keeping an incomplete character for the next call; at the end
    // of the file (`last`) that becomes U+FFFD.
    void Decode(QByteArrayView bytes, bool last);
    qint64 ReadRaw(char* data, qint64 size);
    // Reads the byte-order mark at the start of raw_, if any, and drops it.
    void TakeMark();

    QFile file_;
    qint64 chunkSize_;
    Encoding encoding_ = Encoding::kUndecided;
    QByteArray raw_;  // the chunk last read, with the incomplete character carried before it
    QString text_;    // its decoded text
    qsizetype position_ = 0;
    bool endOfFile_ = false;
    bool markTaken_ = false;
    qint64 size_ = -1;  // of a file that is not a pipe, as it was when opened
    qint64 read_ = 0;   // bytes read so far
};

}  // namespace flx
