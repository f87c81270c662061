#pragma once

#include <QString>
#include <QStringView>

// `text` without the blanks (U+0020) at both ends; tabs and every other character stay. The
// result is never a null string.
inline QString TrimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ') {
        ++begin;
    }
    while (end > begin && text[end - 1] == u' ') {
        --end;
    }
    // Never a null string: a null text would reach the store as NULL instead of empty text.
    QString trimmed = text.mid(begin, end - begin).toString();
    return trimmed.isNull() ? QStringLiteral("") : trimmed;
}
// The same for a whole string; a text without blanks at its ends is shared, not copied, which
// matters for a line of hundreds of megabytes.
inline QString TrimBlanks(const QString& text) {
    if (text.isEmpty() || (text.front() != u' ' && text.back() != u' ')) {
        return text.isNull() ? QStringLiteral("") : text;
    }
    return TrimBlanks(QStringView(text));
}
