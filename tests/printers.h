#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <ostream>

#include "core/error.h"

// Readable GoogleTest output for Qt's string types.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << (list.isEmpty() ? "[]" : "[\"" + list.join("\", \"").toStdString() + "\"]");
}
inline void PrintTo(const QVariant& value, std::ostream* os) {
    *os << value.typeName() << '(' << value.toString().toStdString() << ')';
}

// The error that `action` raises as "number description source", or "" when it raises none.
inline QString ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const AppError& e) {
        return ErrorWithSource(e);
    }
    return {};
}
