#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <ostream>

// Readable GoogleTest output for Qt's string types.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '[';
    for (int i = 0; i < list.size(); ++i) {
        *os << (i ? ", " : "") << '"' << list.at(i).toStdString() << '"';
    }
    *os << ']';
}
inline void PrintTo(const QVariant& value, std::ostream* os) {
    *os << value.typeName() << '(' << value.toString().toStdString() << ')';
}
