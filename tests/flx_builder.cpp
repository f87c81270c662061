#include "tests/flx_builder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace flxtest {

QByteArray Bytes(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toLatin1() + "\r\n";
    }
    return bytes;
}

QByteArray Bytes(const QString& text) {
    return Bytes(text.split('|'));
}

QStringList Connectors(int count, const QString& name, char code) {
    QStringList lines;
    for (int n = 1; n <= count; ++n) {
        lines << QString("%1 SDI BNC   %2 %3").arg(QChar(code), name).arg(n);
    }
    return lines;
}

QStringList Device(const QString& manufacturerId, const QString& model,
                   const QStringList& connectors, const QString& type) {
    return QStringList{"<<STARTDEF>>", manufacturerId, model,
                       type,           "<<STARTBLK>>", "T SIG CONN  NAME"} +
           connectors + QStringList{"<<ENDBLK>>"};
}

QString Write(const QString& folder, const QString& name, const QByteArray& bytes) {
    QFile file(QDir(folder).filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << file.fileName().toStdString();
    file.write(bytes);
    return file.fileName();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace flxtest
