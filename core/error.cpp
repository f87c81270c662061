#include "core/error.h"

#include <utility>

AppError::AppError(long number, QString description, QString source, ErrorKind kind)
    : number_(number),
      kind_(kind),
      description_(std::move(description)),
      source_(std::move(source)) {
    what_ = (QString::number(number_) + ' ' + description_ + ' ' + source_).toStdString();
}

QString ErrorWithSource(const AppError& error) {
    return ErrorText(error) + ' ' + error.source();
}

QString ErrorText(const AppError& error) {
    return QString::number(error.number()) + ' ' + error.description();
}

QString ErrorForTerminal(const QString& program, const AppError& error) {
    QString line = program + QStringLiteral(": ") + ErrorText(error);
    line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace('\n', ' ');
    return line;
}
