#include "flx/flx_format.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <optional>

#include "core/error.h"
#include "core/platform.h"

namespace flx {
namespace {

constexpr char kSource[] = "importflx";

// Windows-1252 for every byte value. 0x00-0x7F and 0xA0-0xFF equal their code points; so do
// the five bytes that the code page leaves undefined.
constexpr std::array<char16_t, 256> MakeCp1252Table() {
    std::array<char16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<char16_t>(i);
    }
    constexpr char16_t k80to9F[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
    };
    for (int i = 0; i < 32; ++i) {
        table[0x80 + i] = k80to9F[i];
    }
    return table;
}

constexpr std::array<char16_t, 256> kCp1252 = MakeCp1252Table();

// Appends `count` characters to `out`, growing it geometrically so that a long line that arrives
// in many chunks costs linear time.
void AppendText(QString& out, const QChar* text, qsizetype count) {
    if (count <= 0) {
        return;
    }
    const qsizetype old = out.size();
    if (out.capacity() < old + count) {
        out.reserve(std::max(old + count, 2 * old));
    }
    out.append(text, count);
}

// Replaces `out` with the Windows-1252 text of `bytes`.
void DecodeCp1252Into(QString& out, QByteArrayView bytes) {
    out.resize(bytes.size());
    QChar* dest = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        dest[i] = QChar(kCp1252[static_cast<unsigned char>(bytes[i])]);
    }
}

// The length of the longest start of `bytes` that does not end inside a UTF-8 sequence: a lead
// byte among the last three whose sequence runs past the end stays out, with what follows it.
qsizetype WholeUtf8Prefix(QByteArrayView bytes) {
    const qsizetype n = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= n; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[n - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte
        }
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? n - back : n;
    }
    return n;
}

// Checks UTF-8 (RFC 3629) a piece at a time.
class Utf8Check {
  public:
    // False once the bytes fed so far are not valid UTF-8.
    bool Feed(QByteArrayView bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            if (need_ > 0) {
                if (byte < low_ || byte > high_) {
                    return valid_ = false;
                }
                low_ = 0x80;
                high_ = 0xBF;
                --need_;
            } else if (byte < 0x80) {
                continue;
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                need_ = 1;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                need_ = 2;
                low_ = byte == 0xE0 ? 0xA0 : 0x80;   // no overlong form
                high_ = byte == 0xED ? 0x9F : 0xBF;  // no surrogate
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                need_ = 3;
                low_ = byte == 0xF0 ? 0x90 : 0x80;   // no overlong form
                high_ = byte == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
            } else {
                return valid_ = false;
            }
        }
        return valid_;
    }
    bool valid() const { return valid_; }
    // Valid, and no sequence left open.
    bool complete() const { return valid_ && need_ == 0; }

  private:
    int need_ = 0;  // continuation bytes still expected
    unsigned char low_ = 0x80;
    unsigned char high_ = 0xBF;
    bool valid_ = true;
};

QString Piece(QStringView line, FieldColumns columns) {
    const qsizetype start = columns.first - 1;
    if (start >= line.size()) {
        return QStringLiteral("");
    }
    return TrimBlanks(columns.width == kToLineEnd ? line.mid(start)
                                                  : line.mid(start, columns.width));
}

[[noreturn]] void RaiseOpenError(const QString& path, const QFile& file) {
    const QFileInfo info(path);
    if (info.isDir()) {
        throw AppError(ErrNo::kFileNotFound, "File not found", kSource);
    }
    if (!info.exists()) {
        if (!info.dir().exists()) {
            throw AppError(ErrNo::kPathNotFound, "Path not found", kSource);
        }
        throw AppError(ErrNo::kFileNotFound, "File not found", kSource);
    }
    // Asked for this process's effective rights, by which the open failed: QFileInfo's
    // isReadable() asks for the real user's, which differ for root without its override rights
    // or for a program installed setuid.
    const bool readable = platform::ReadableByThisProcess(path);
    if (file.error() == QFileDevice::PermissionsError || !readable) {
        throw AppError(ErrNo::kPermissionDenied, "Permission denied", kSource);
    }
    throw AppError(ErrNo::kFileIo, "Device I/O error", kSource);
}

}  // namespace

ConnectorFields CutConnectorLine(QStringView line) {
    return ConnectorFields{Piece(line, kTypeColumns), Piece(line, kSigColumns),
                           Piece(line, kConnColumns), Piece(line, kNameColumns)};
}

QChar DecodeCp1252(unsigned char byte) {
    return QChar(kCp1252[byte]);
}

QString DecodeCp1252(QByteArrayView bytes) {
    QString out;
    DecodeCp1252Into(out, bytes);
    return out;
}

LineReader::LineReader(const QString& path, qint64 chunkSize)
    : chunkSize_(chunkSize > 0 ? chunkSize : kDefaultChunkSize) {
    if (path.isEmpty()) {
        throw AppError(ErrNo::kBadFileName, "Bad file name or number", kSource);
    }
    // Opening refuses a directory as well (RaiseOpenError tells it apart). Unbuffered: the
    // reader reads in chunks of its own, and a second buffer would only copy them.
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        RaiseOpenError(path, file_);
    }
    // A file smaller than a chunk is read in one piece of its own size: most FLX files are a
    // few kilobytes, and a buffer of the full chunk for each of thousands of them costs the
    // allocator more than the reading.
    if (!file_.isSequential()) {
        size_ = file_.size();
        chunkSize_ = std::min(chunkSize_, std::max<qint64>(size_ + 1, 16));
    }
}

void LineReader::TakeMark() {
    markTaken_ = true;
    qint64 markSize = 0;
    if (raw_.startsWith("\xEF\xBB\xBF")) {
        encoding_ = Encoding::kUtf8;
        markSize = 3;
    } else if (raw_.startsWith("\xFF\xFE")) {
        encoding_ = Encoding::kUtf16Le;
        markSize = 2;
    } else if (raw_.startsWith("\xFE\xFF")) {
        encoding_ = Encoding::kUtf16Be;
        markSize = 2;
    }
    raw_.remove(0, markSize);
}

qint64 LineReader::ReadRaw(char* data, qint64 size) {
    const qint64 count = file_.read(data, size);
    if (count < 0) {
        raw_.clear();
        text_.clear();
        position_ = 0;
        throw AppError(ErrNo::kFileIo, "Device I/O error", kSource);
    }
    return count;
}

void LineReader::DecideEncoding(QByteArrayView bytes) {
    Utf8Check check;
    check.Feed(bytes);
    if (file_.isSequential()) {
        // Nothing to go back to: a sequence cut by the end of the chunk counts as valid.
        encoding_ = check.valid() ? Encoding::kUtf8 : Encoding::kCp1252;
        return;
    }
    if (check.valid()) {
        const qint64 resume = file_.pos();
        QByteArray ahead(kDefaultChunkSize, Qt::Uninitialized);
        qint64 count = 0;
        while (check.valid() && (count = ReadRaw(ahead.data(), ahead.size())) > 0) {
            check.Feed(QByteArrayView(ahead.constData(), count));
        }
        if (!file_.seek(resume)) {
            throw AppError(ErrNo::kFileIo, "Device I/O error", kSource);
        }
    }
    encoding_ = check.complete() ? Encoding::kUtf8 : Encoding::kCp1252;
}

void LineReader::Decode(QByteArrayView bytes, bool last) {
    qsizetype whole = bytes.size();
    std::optional<QStringDecoder> decoder;
    constexpr auto kFlags =
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    switch (encoding_) {
        case Encoding::kUndecided:
        case Encoding::kCp1252:
            DecodeCp1252Into(text_, bytes);
            break;
        case Encoding::kUtf8:
            whole = last ? whole : WholeUtf8Prefix(bytes);
            decoder.emplace(QStringConverter::Utf8, kFlags);
            break;
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            whole = last ? whole : whole & ~qsizetype(1);
            decoder.emplace(encoding_ == Encoding::kUtf16Le ? QStringConverter::Utf16LE
                                                            : QStringConverter::Utf16BE,
                            kFlags);
            break;
    }
    if (decoder) {
        // Invalid sequences become U+FFFD; a split one is decoded whole with the next chunk.
        // The odd last byte of a UTF-16 file is one more U+FFFD.
        const bool oddByte = encoding_ != Encoding::kUtf8 && whole % 2 != 0;
        text_.resize(decoder->requiredSpace(whole) + 1);
        QChar* end = decoder->appendToBuffer(text_.data(), bytes.first(whole - oddByte));
        if (oddByte) {
            *end++ = QChar::ReplacementCharacter;
        }
        text_.truncate(end - text_.constData());
    }
    position_ = 0;
    raw_.remove(0, whole);
}

bool LineReader::Fill() {
    while (position_ >= text_.size()) {
        if (endOfFile_ || !file_.isOpen()) {
            return false;
        }
        // raw_ holds only what the last chunk left of a split character.
        qsizetype carried = raw_.size();
        raw_.resize(carried + chunkSize_);
        qint64 count = ReadRaw(raw_.data() + carried, chunkSize_);
        raw_.resize(carried + count);
        read_ += count;
        // A file of known size is at its end once that much is read: no read to find out.
        endOfFile_ = count == 0 || (size_ >= 0 && read_ >= size_);
        if (!markTaken_) {
            // The byte-order mark, once the first bytes are in (a pipe may give fewer at a time).
            while (raw_.size() < 3 && !endOfFile_) {
                char more[3];
                const qint64 extra = ReadRaw(more, 3 - raw_.size());
                raw_.append(more, extra);
                read_ += extra;
                endOfFile_ = extra == 0;
            }
            TakeMark();
            carried = 0;
            count = raw_.size();
        }
        if (encoding_ == Encoding::kUndecided) {
            const QByteArrayView fresh(raw_.constData() + carried, count);
            const auto high =
                std::find_if(fresh.begin(), fresh.end(), [](char c) { return (c & 0x80) != 0; });
            if (high != fresh.end()) {
                DecideEncoding(fresh.sliced(high - fresh.begin()));
            }
        }
        Decode(raw_, endOfFile_);
    }
    return true;
}

bool LineReader::AtEnd() {
    return !Fill();
}

QString LineReader::ReadLine() {
    QString line;
    while (Fill()) {
        const QChar* text = text_.constData();
        const qsizetype end = text_.size();
        qsizetype i = position_;
        while (i < end && text[i] != u'\r' && text[i] != u'\n') {
            ++i;
        }
        AppendText(line, text + position_, i - position_);
        if (i < end) {
            const QChar terminator = text[i];
            position_ = i + 1;
            // The LF of a CR LF may arrive with the next chunk.
            if (terminator == u'\r' && Fill() && text_.at(position_) == u'\n') {
                ++position_;
            }
            return line;
        }
        position_ = end;
    }
    return line;
}

void LineReader::Close() {
    file_.close();
    raw_.clear();
    text_.clear();
    position_ = 0;
    endOfFile_ = true;
}

}  // namespace flx
