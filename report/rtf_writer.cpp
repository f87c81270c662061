#include "report/rtf_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdint>

#include "core/error.h"

namespace {

const char kSource[] = "RtfWriter";

const char kHeader[] =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0"
    "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}\r\n"
    "\\viewkind4\\uc1\\pard\\plain\\f0\\fs17 ";

// Appends one UTF-16 code unit as \uN? (N signed, as RTF requires), '?' standing in for
// readers that do not know \u.
void AppendUnicode(QByteArray& out, char16_t unit) {
    out += "\\u";
    out += QByteArray::number(static_cast<int>(static_cast<std::int16_t>(unit)));
    out += '?';
}

void AppendText(QByteArray& out, QStringView text) {
    char16_t previous = 0;
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit == ' ' && previous == ' ') {
            // Some readers turn a run of blanks into other spacing characters; an empty group
            // between blanks keeps each one a plain blank.
            out += "{} ";
        } else if (unit == '\\' || unit == '{' || unit == '}') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit == '\t') {
            // The blank ends the control word, so a following digit or letter stays text.
            out += "\\tab ";
        } else if (unit >= 0x20 && unit < 0x7f) {
            out += static_cast<char>(unit);
        } else {
            AppendUnicode(out, unit);
        }
        previous = unit;
    }
}

// Appends `text` as paragraphs, each ended by CR LF, a lone CR or a lone LF. What follows the
// last line end is one more paragraph when `endLast` is set or it is not empty.
void AppendParagraphs(QByteArray& out, QStringView text, bool endLast) {
    static const char kParagraphEnd[] = "\\par\r\n";
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            AppendText(out, text.sliced(start, i - start));
            out += kParagraphEnd;
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (endLast || start < text.size()) {
        AppendText(out, text.sliced(start));
        out += kParagraphEnd;
    }
}

QString PathError(const char* what, const QString& path) {
    return QString::fromLatin1(what) + ": " + QDir::toNativeSeparators(path);
}

// Raises the error that saving to `path` would end in, before any work is done.
void CheckSavePath(const QString& path) {
    if (path.isEmpty()) {
        throw AppError(ErrNo::kBadFileName, "Bad file name or number", kSource);
    }
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        throw AppError(ErrNo::kPathNotFound, PathError("Path not found", path), kSource);
    }
    if (info.isDir()) {
        throw AppError(ErrNo::kPermissionDenied, PathError("Permission denied", path), kSource);
    }
}

void Write(QSaveFile& file, const QByteArray& bytes, const QString& path) {
    if (file.write(bytes) != bytes.size()) {
        throw AppError(ErrNo::kFileIo, PathError("Device I/O error", path), kSource);
    }
}

// Opens `path` for writing; the file replaces an earlier one only when it is committed.
void Open(QSaveFile& file, const QString& path) {
    CheckSavePath(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw AppError(ErrNo::kPermissionDenied, PathError("Permission denied", path), kSource);
    }
}

void Commit(QSaveFile& file, const QString& path) {
    if (!file.commit()) {
        throw AppError(ErrNo::kFileIo, PathError("Device I/O error", path), kSource);
    }
}

}  // namespace

QByteArray ReportToRtf(const QStringList& lines) {
    QByteArray out(kHeader);
    // Enough for a report of plain text, so that a large one is not copied as it grows.
    qsizetype size = out.size() + 3;
    for (const QString& line : lines) {
        size += line.size() + 7;
    }
    out.reserve(size);
    for (const QString& line : lines) {
        AppendParagraphs(out, line, true);
    }
    out += "}\r\n";
    return out;
}

void SaveRtfFile(const QString& path, const QStringList& lines) {
    QSaveFile file(path);
    Open(file, path);
    Write(file, ReportToRtf(lines), path);
    Commit(file, path);
}

void SaveRtfText(const QString& path, QStringView text) {
    // Written a slice at a time, so that a report of a million lines is not held once more as
    // one RTF document. A slice ends after a LF, which ends a paragraph and never splits CR LF.
    constexpr qsizetype kSlice = qsizetype(1) << 18;
    QSaveFile file(path);
    Open(file, path);
    QByteArray out(kHeader);
    for (qsizetype from = 0; from < text.size();) {
        qsizetype to = text.size();
        if (to - from > kSlice) {
            qsizetype lf = text.lastIndexOf(u'\n', from + kSlice - 1);
            if (lf < from) {
                lf = text.indexOf(u'\n', from + kSlice);
            }
            if (lf >= 0) {
                to = lf + 1;
            }
        }
        AppendParagraphs(out, text.sliced(from, to - from), false);
        Write(file, out, path);
        out.truncate(0);
        from = to;
    }
    out += "}\r\n";
    Write(file, out, path);
    Commit(file, path);
}
