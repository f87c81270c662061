#include "report/rtf_writer.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
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

void AppendText(QByteArray& out, const QString& text) {
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

QString PathError(const char* what, const QString& path) {
    return QString::fromLatin1(what) + ": " + QDir::toNativeSeparators(path);
}

}  // namespace

QByteArray ReportToRtf(const QStringList& lines) {
    static const QRegularExpression kLineEnd(QStringLiteral("\r\n|\r|\n"));
    QByteArray out(kHeader);
    for (const QString& line : lines) {
        for (const QString& paragraph : line.split(kLineEnd)) {
            AppendText(out, paragraph);
            out += "\\par\r\n";
        }
    }
    out += "}\r\n";
    return out;
}

void SaveRtfFile(const QString& path, const QStringList& lines) {
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw AppError(ErrNo::kPermissionDenied, PathError("Permission denied", path), kSource);
    }
    const QByteArray rtf = ReportToRtf(lines);
    if (file.write(rtf) != rtf.size() || !file.commit()) {
        throw AppError(ErrNo::kFileIo, PathError("Device I/O error", path), kSource);
    }
}
