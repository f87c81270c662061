#include "core/error.h"

#include <QRegularExpression>
#include <utility>

namespace {

// A server's words as its client library writes them: a first line, continuation lines indented
// with a tab, a line end; after them the driver puts the SQLSTATE in parentheses, which are empty
// when the failure has none (a lost connection). One line of text each, as a message box or a
// terminal line shows it best.
QString JoinServerLines(QString text) {
    static const QRegularExpression emptyState(R"(\r?\n\(\))");
    static const QRegularExpression joined(R"(\r?\n[ \t]+|\r?\n(?=\([0-9A-Z]{5}\)))");
    static const QRegularExpression lineEnds(R"((\r?\n)+$)");
    return text.remove(emptyState).replace(joined, QStringLiteral(" ")).remove(lineEnds);
}

}  // namespace

AppError::AppError(long number, QString description, QString source, ErrorKind kind)
    : number_(number),
      kind_(kind),
      description_(JoinServerLines(std::move(description))),
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
