#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QLatin1String>
#include <QString>
#include <QStringView>

#include "core/text.h"

// The FLX file format: its marker lines, IO type codes, the fixed columns of a
// connector line, and a line reader over the file's single-byte text.
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

// Reads an FLX file line by line. The file is read in chunks, never whole, so a line may be of
// any length. A line ends at CR, at CR LF or at LF alone; the terminator is not part of it. The
// bytes are decoded as Windows-1252.
//
// Failures raise AppError with source "importflx": an empty path (ErrNo::kBadFileName), no
// such file or a directory in its place (ErrNo::kFileNotFound), a missing folder
// (ErrNo::kPathNotFound), no permission (ErrNo::kPermissionDenied), and any other failure to
// open or read (ErrNo::kFileIo).
class LineReader {
  public:
    static constexpr qint64 kDefaultChunkSize = 64 * 1024;

    // Opens `path` for reading.
    explicit LineReader(const QString& path, qint64 chunkSize = kDefaultChunkSize);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // True when no line is left (also after Close).
    bool AtEnd();
    // The next line without its terminator. Requires !AtEnd().
    QString ReadLine();
    // Closes the file; further calls find it at its end. Closing twice is harmless.
    void Close();

  private:
    // Makes sure unread bytes are buffered; false at the end of the file.
    bool Fill();

    QFile file_;
    qint64 chunkSize_;
    QByteArray buffer_;
    qsizetype position_ = 0;
    bool endOfFile_ = false;
};

}  // namespace flx
