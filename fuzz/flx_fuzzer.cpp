// libFuzzer target over the FLX line reader, the file read into a value, the reader's sections
// and the connector import.
//
// Each input is written as an FLX file and
//   1. read by flx::LineReader with a small chunk size, which must give the same lines as a
//      plain split of the whole file's text, each of which CutConnectorLine must cut into sound
//      fields;
//   2. read into a value by flx::ReadFile, without any database, whose sections must be those
//      that the marker lines of the plain split open, each with the lines it keeps;
//   3. imported by ImportFile into a fresh copy of the demo equipment database, unattended and
//      with logging on. The file must end in exactly one way (added with its two "Added" lines,
//      or not added with a message); every device its outcome lists must be stored whole (its
//      equipment row with exactly its input and output rows) and no other; and a file that ends
//      without a message must have stored one device per block start, with one connector row
//      per counted input and output.
// Any broken expectation aborts, so that libFuzzer keeps the input as a crash.
//
// A file whose b blocks all describe the same model costs about b*b/2 name comparisons by
// design. Inputs with more than kMaxBlocks block starts are read (steps 1 and 2) but not
// imported, so that a timeout still means a fault.
//
// The database and the FLX file live in a private folder in /dev/shm when there is one, so
// that the commits of an import do not wait for a disk.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "core/error.h"
#include "core/host.h"
#include "core/session.h"
#include "flx/flx_file.h"
#include "flx/flx_format.h"
#include "flx/reader.h"
#include "records/database.h"
#include "records/target.h"

namespace {

// Message boxes kept for a failure report.
constexpr qsizetype kMessageLimit = 16;
// Equipment rows of the demo database.
constexpr long long kDemoEquipmentRows = 2;
// Block starts beyond which an input is not imported (about a second of versioning queries).
constexpr long long kMaxBlocks = 256;

// The import window's stand-in: unattended adding and logging on, everything else inert.
class FuzzHost : public ImportHost {
  public:
    QStringList lastLines;  // the last two report lines
    QStringList messages;
    int messageCount = 0;
    int selections = 0;

    bool Unattended() const override { return true; }
    bool LogActions() const override { return true; }
    void AppendReportLine(const QString& line) override {
        lastLines << line.left(400);
        if (lastLines.size() > 2) {
            lastLines.removeFirst();
        }
    }
    void MessageBox(const QString& text) override {
        ++messageCount;
        if (messages.size() < kMessageLimit) {
            messages << text.left(200);
        }
    }
    bool AskYesNo(const QString&) override { return false; }
    // Unattended resolution never asks; answering "no dialog" fails the block if it ever does.
    bool SelectManufacturer(SessionState&, db::Database&) override {
        ++selections;
        return false;
    }
    void ProcessEvents() override {}
    QString FileFolder() const override { return {}; }
    int FileCount() const override { return 0; }
    QString FileName(int) const override { return {}; }
    bool FileSelected(int) const override { return false; }
};

struct Fixture {
    std::unique_ptr<QTemporaryDir> dir;
    QByteArray pristine;  // the demo database's bytes
    QString databasePath;
    QString flxPath;
    QString connection;
};

Fixture* gFixture = nullptr;

[[noreturn]] void Fail(const char* what, const QString& detail = {}) {
    std::fprintf(stderr, "flx_fuzzer: %s\n%s\n", what, detail.toLocal8Bit().constData());
    std::abort();
}

void WriteFile(const QString& path, const char* data, qsizetype size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data, size) != size) {
        Fail("cannot write", path);
    }
}

// The text of `bytes` as the reader's contract states it: a byte-order mark decides; without one
// the bytes are UTF-8 when all of them are valid UTF-8 and one is above 0x7F, else Windows-1252.
// Invalid sequences of a marked file, and the odd last byte of a UTF-16 one, read as U+FFFD.
QString DecodeFile(const QByteArray& bytes) {
    const auto decode = [](QStringConverter::Encoding encoding, QByteArrayView data,
                           bool* valid = nullptr) {
        QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless |
                                             QStringConverter::Flag::ConvertInitialBom);
        const bool odd = encoding != QStringConverter::Utf8 && data.size() % 2 != 0;
        QString text = decoder(data.first(data.size() - odd));
        if (odd) {
            text += QChar::ReplacementCharacter;
        }
        if (valid != nullptr) {
            *valid = !decoder.hasError();
        }
        return text;
    };
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return decode(QStringConverter::Utf8, QByteArrayView(bytes).sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        return decode(
            bytes.startsWith("\xFF") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
            QByteArrayView(bytes).sliced(2));
    }
    bool valid = false;
    const QString utf8 = decode(QStringConverter::Utf8, bytes, &valid);
    const bool high = std::any_of(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
    return valid && high ? utf8 : flx::DecodeCp1252(bytes);
}

// The lines of `bytes` as the reader's contract states them: a line ends at CR, CR LF or LF;
// the terminator is dropped; a last line without terminator counts, an empty tail does not.
QStringList SplitLines(const QByteArray& bytes) {
    const QString text = DecodeFile(bytes);
    QStringList lines;
    qsizetype start = 0;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines << text.sliced(start, i - start);
            ++i;
            if (c == u'\r' && i < n && text[i] == u'\n') {
                ++i;
            }
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n) {
        lines << text.sliced(start);
    }
    return lines;
}

bool SoundField(const QString& field, qsizetype maxSize) {
    return !field.isNull() && (maxSize < 0 || field.size() <= maxSize) && !field.startsWith(u' ') &&
           !field.endsWith(u' ');
}

void CheckLineReader(const QByteArray& bytes, const QStringList& expected) {
    // A small chunk puts every kind of line end on a chunk boundary somewhere.
    const qint64 chunk = 1 + bytes.size() % 13;
    QStringList lines;
    try {
        flx::LineReader reader(gFixture->flxPath, chunk);
        while (!reader.AtEnd()) {
            lines << reader.ReadLine();
        }
    } catch (const AppError& e) {
        Fail("line reader raised", e.description());
    }
    if (lines != expected) {
        Fail("line reader disagrees with the plain split",
             QStringLiteral("chunk %1: %2 lines read, %3 expected")
                 .arg(chunk)
                 .arg(lines.size())
                 .arg(expected.size()));
    }
    for (const QString& line : lines) {
        const flx::ConnectorFields f = flx::CutConnectorLine(line);
        if (!SoundField(f.type, 1) || !SoundField(f.sig, 3) || !SoundField(f.conn, 5) ||
            !SoundField(f.name, -1) || f.name.size() > std::max<qsizetype>(0, line.size() - 12)) {
            Fail("connector line cut badly", line.left(200));
        }
    }
}

long long BlockStarts(const QStringList& lines) {
    return std::count(lines.begin(), lines.end(), flx::kStartBlk);
}

// The sections of `lines` by their markers, each as "D" or "B" and the number of lines it keeps:
// a definition its first three, a block all but its first.
QStringList ExpectedSections(const QStringList& lines) {
    QStringList sections;
    long long kept = 0;
    long long inSection = -1;  // lines since the marker; -1 outside any section
    QChar kind;
    const auto close = [&] {
        if (inSection >= 0) {
            sections << kind + QString::number(kept);
        }
    };
    for (const QString& line : lines) {
        if (line == flx::kStartDef || line == flx::kStartBlk || line == flx::kEndBlk) {
            close();
            inSection = line == flx::kEndBlk ? -1 : 0;
            kind = line == flx::kStartDef ? u'D' : u'B';
            kept = 0;
        } else if (inSection >= 0) {
            ++inSection;
            kept += kind == u'D' ? inSection <= 3 : inSection >= 2;
        }
    }
    close();
    return sections;
}

void CheckParse(const QStringList& lines) {
    std::optional<flx::File> file;
    try {
        file = flx::ReadFile(gFixture->flxPath);
    } catch (const AppError& e) {
        Fail("reading into a value raised", e.description());
    }
    QStringList sections;
    for (const flx::Section& section : file->sections) {
        const bool definition = section.kind == flx::Section::Kind::kDefinition;
        sections << QString(definition ? "D" : "B") +
                        QString::number(definition ? section.header.size()
                                                   : section.connectors.size());
    }
    if (file->error || sections != ExpectedSections(lines)) {
        Fail("the file's value disagrees with its markers",
             sections.join(' ') + " / " + ExpectedSections(lines).join(' '));
    }
}

// "EquipmentID inputs outputs" of every device the database holds beyond the demo's.
QStringList StoredDevices(db::Database& database) {
    QSqlQuery query(database.connection().database());
    if (!query.exec("SELECT e.EquipmentID, (SELECT count(*) FROM tblInputs i WHERE i.EquipmentID = "
                    "e.EquipmentID), (SELECT count(*) FROM tblOutputs o WHERE o.EquipmentID = "
                    "e.EquipmentID) FROM tblEquipment e ORDER BY e.EquipmentID")) {
        Fail("cannot read the stored devices");
    }
    QStringList devices;
    for (long long row = 0; query.next(); ++row) {
        if (row >= kDemoEquipmentRows) {
            devices << QStringLiteral("%1 %2 %3")
                           .arg(query.value(0).toLongLong())
                           .arg(query.value(1).toLongLong())
                           .arg(query.value(2).toLongLong());
        }
    }
    return devices;
}

void CheckImport(const QStringList& lines) {
    SessionState session;
    session.sEquipConnection = gFixture->connection;
    db::Database database(gFixture->connection);
    FuzzHost host;
    ImportContext ctx{session, host, database};

    const FileOutcome outcome = ImportFile(ctx, gFixture->flxPath);

    const QString detail = QStringLiteral("messages: %1\nlast report lines: %2")
                               .arg(host.messages.join(QLatin1String(" | ")),
                                    host.lastLines.join(QLatin1String(" | ")));
    if (host.selections != 0) {
        Fail("unattended import asked for a manufacturer", detail);
    }
    // Every device the outcome lists is stored whole, and nothing else.
    QStringList listed;
    std::int64_t inputs = 0;
    std::int64_t outputs = 0;
    for (const StoredEquipment& row : outcome.equipment) {
        listed << QStringLiteral("%1 %2 %3")
                      .arg(row.equipmentId.toLongLong())
                      .arg(row.inputs)
                      .arg(row.outputs);
        inputs += row.inputs;
        outputs += row.outputs;
    }
    const QStringList stored = StoredDevices(database);
    if (stored != listed) {
        Fail("stored devices differ from the outcome",
             stored.join(", ") + " / " + listed.join(", ") + "\n" + detail);
    }
    if (host.messageCount > 0) {
        // A file that ends with a message has not been added.
        if (outcome.added()) {
            Fail("file reported as added after a message", detail);
        }
        return;
    }
    // Without a message, the file can only have been added, and the user reads so.
    if (!outcome.added() || host.lastLines.size() != 2 ||
        !host.lastLines[0].startsWith(QLatin1String("Added ")) ||
        !host.lastLines[1].startsWith(QLatin1String("Added as "))) {
        Fail("file ended without a message and without being added", detail);
    }
    if (stored.size() != BlockStarts(lines) || inputs != session.iInputs ||
        outputs != session.iOutputs) {
        Fail("stored rows do not match the import",
             QStringLiteral("devices %1/%2 inputs %3/%4 outputs %5/%6\n")
                     .arg(stored.size())
                     .arg(BlockStarts(lines))
                     .arg(inputs)
                     .arg(session.iInputs)
                     .arg(outputs)
                     .arg(session.iOutputs) +
                 detail);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Qt finds its SQL driver plugin only with an application object.
    new QCoreApplication(*argc, *argv);

    gFixture = new Fixture;
    // libFuzzer ends with exit(): remove the work folder then (a crash leaves it for a look).
    std::atexit([] {
        delete gFixture;
        gFixture = nullptr;
    });
    const QString shm = QStringLiteral("/dev/shm");
    const QString base = QDir(shm).exists() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
    gFixture->dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/flx_fuzzer-XXXXXX"));
    if (!gFixture->dir->isValid()) {
        Fail("cannot create the work folder", base);
    }
    QFile demo(QStringLiteral(IMPORTFLX_FUZZ_DB));
    if (!demo.open(QIODevice::ReadOnly)) {
        Fail("cannot read the demo database", demo.fileName());
    }
    gFixture->pristine = demo.readAll();
    const QDir dir(gFixture->dir->path());
    gFixture->databasePath = dir.filePath(QStringLiteral("dbEquip.mdb"));
    gFixture->flxPath = dir.filePath(QStringLiteral("input.flx"));
    gFixture->connection = db::BuildConnectionString(dir.path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // A fresh database for every input (the last input's database object is gone): drop
    // whatever journal it may have left, then restore the file.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        QFile::remove(gFixture->databasePath + QLatin1String(suffix));
    }
    WriteFile(gFixture->databasePath, gFixture->pristine.constData(), gFixture->pristine.size());
    WriteFile(gFixture->flxPath, bytes.constData(), bytes.size());

    const QStringList lines = SplitLines(bytes);
    CheckLineReader(bytes, lines);
    CheckParse(lines);
    if (BlockStarts(lines) > kMaxBlocks) {
        return -1;  // not kept in the corpus
    }
    CheckImport(lines);
    return 0;
}
