#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// FLX files for the tests: lines are joined with CR LF, one byte per character (Latin-1).
namespace flxtest {

// `lines`, each followed by CR LF.
QByteArray Bytes(const QStringList& lines);
// The lines of `text` separated by '|' ("<<STARTDEF>>|ACME|DA-1|Amp"), each followed by CR LF.
QByteArray Bytes(const QString& text);

// Connector lines "I SDI BNC   <name> <n>" for n = 1..count (code 'I', or `code`).
QStringList Connectors(int count, const QString& name = "In", char code = 'I');

// One device: its definition (manufacturer ID, model, type), then a block of a header line and
// `connectors`, closed by "<<ENDBLK>>".
QStringList Device(const QString& manufacturerId, const QString& model,
                   const QStringList& connectors = Connectors(1), const QString& type = "Router");

// Writes `bytes` to `name` in `folder` and returns the file's path.
QString Write(const QString& folder, const QString& name, const QByteArray& bytes);
// The bytes of the file at `path`; empty when it cannot be read.
QByteArray Read(const QString& path);

}  // namespace flxtest
