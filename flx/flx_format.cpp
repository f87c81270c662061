#include "flx/flx_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>

#include "core/error.h"

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

// Appends the decoded bytes to `out`, growing it geometrically so that a long line that arrives
// in many chunks costs linear time.
void AppendCp1252(QString& out, const char* bytes, qsizetype count) {
    if (count <= 0) {
        return;
    }
    const qsizetype old = out.size();
    if (out.capacity() < old + count) {
        out.reserve(std::max(old + count, 2 * old));
    }
    out.resize(old + count);
    QChar* dest = out.data() + old;
    for (qsizetype i = 0; i < count; ++i) {
        dest[i] = QChar(kCp1252[static_cast<unsigned char>(bytes[i])]);
    }
}

QString Piece(QStringView line, qsizetype firstColumn, qsizetype length) {
    const qsizetype start = firstColumn - 1;
    if (start >= line.size()) {
        return QStringLiteral("");
    }
    return TrimBlanks(length < 0 ? line.mid(start) : line.mid(start, length));
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
    const bool readable =
        ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK, AT_EACCESS) == 0;
    if (file.error() == QFileDevice::PermissionsError || !readable) {
        throw AppError(ErrNo::kPermissionDenied, "Permission denied", kSource);
    }
    throw AppError(ErrNo::kFileIo, "Device I/O error", kSource);
}

}  // namespace

ConnectorFields CutConnectorLine(QStringView line) {
    return ConnectorFields{Piece(line, 1, 1), Piece(line, 3, 3), Piece(line, 7, 5),
                           Piece(line, 13, -1)};
}

QChar DecodeCp1252(unsigned char byte) {
    return QChar(kCp1252[byte]);
}

QString DecodeCp1252(QByteArrayView bytes) {
    QString out;
    AppendCp1252(out, bytes.data(), bytes.size());
    return out;
}

LineReader::LineReader(const QString& path, qint64 chunkSize)
    : chunkSize_(chunkSize > 0 ? chunkSize : kDefaultChunkSize) {
    if (path.isEmpty()) {
        throw AppError(ErrNo::kBadFileName, "Bad file name or number", kSource);
    }
    // A directory would open on some systems and fail only at the first read.
    if (QFileInfo(path).isDir()) {
        RaiseOpenError(path, file_);
    }
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        RaiseOpenError(path, file_);
    }
}

bool LineReader::Fill() {
    if (position_ < buffer_.size()) {
        return true;
    }
    if (endOfFile_ || !file_.isOpen()) {
        return false;
    }
    buffer_.resize(chunkSize_);
    const qint64 count = file_.read(buffer_.data(), chunkSize_);
    if (count < 0) {
        buffer_.clear();
        position_ = 0;
        throw AppError(ErrNo::kFileIo, "Device I/O error", kSource);
    }
    buffer_.resize(count);
    position_ = 0;
    if (count == 0) {
        endOfFile_ = true;
        return false;
    }
    return true;
}

bool LineReader::AtEnd() {
    return !Fill();
}

QString LineReader::ReadLine() {
    QString line;
    while (Fill()) {
        const char* data = buffer_.constData();
        const qsizetype end = buffer_.size();
        qsizetype i = position_;
        while (i < end && data[i] != '\r' && data[i] != '\n') {
            ++i;
        }
        AppendCp1252(line, data + position_, i - position_);
        if (i < end) {
            const char terminator = data[i];
            position_ = i + 1;
            // The LF of a CR LF may arrive with the next chunk.
            if (terminator == '\r' && Fill() && buffer_.at(position_) == '\n') {
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
    buffer_.clear();
    position_ = 0;
    endOfFile_ = true;
}

}  // namespace flx
