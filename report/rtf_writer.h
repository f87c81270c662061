#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Writes the import report as a Rich Text Format document: "MS Sans Serif" at 8.5 point, one
// paragraph per report line. Free of widgets, so the window and the batch tool share it.
//
// A line may itself hold line ends: CR LF, a lone CR and a lone LF each start a new paragraph,
// as they do in the report window, so a line that ends in CR LF is followed by an empty
// paragraph. Every character of a line is written as text: the RTF specials \ { } are escaped,
// tabs become \tab, and everything outside printable ASCII (control characters, non-ASCII,
// characters beyond U+FFFF as surrogate pairs) is written as \uN?, so no report text can ever
// read back as an RTF control word.

// The complete RTF document for `lines`, in 7-bit ASCII.
QByteArray ReportToRtf(const QStringList& lines);

// Writes ReportToRtf(lines) to `path`, replacing an existing file only once the new one is
// complete: a failed save leaves an earlier file as it was and no partial file behind.
// Raises AppError when the file cannot be written: 52 for an empty path, 76 when its folder does
// not exist, 70 when the folder or an existing file may not be written, 57 when writing fails.
// The description names the path.
void SaveRtfFile(const QString& path, const QStringList& lines);
// The same for a report held as one text, every line followed by its line end: `lines` each
// followed by "\n" make the file SaveRtfFile writes for `lines`. Text after the last line end
// is one more paragraph. Safe to call from any thread.
void SaveRtfText(const QString& path, QStringView text);
