#include "records/journal.h"

#include <QFile>
#include <QSaveFile>
#include <QSqlQuery>
#include <optional>

#include "core/platform.h"
#include "records/failure.h"

namespace db {
namespace {

const QString kWal = QStringLiteral("wal");

// The mode the note beside `path` holds; empty when there is none, or it holds no mode.
QString NotedMode(const QString& path) {
    QFile note(JournalNotePath(path));
    if (!note.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QString mode = QString::fromLatin1(note.read(32)).trimmed().toLower();
    static const QStringList kModes = {"delete", "truncate", "persist", "memory", "off"};
    return kModes.contains(mode) ? mode : QString();
}

bool WriteNote(const QString& path, const QString& mode) {
    QSaveFile note(JournalNotePath(path));
    return note.open(QIODevice::WriteOnly) && note.write(mode.toLatin1() + '\n') > 0 &&
           note.commit();
}

// The file's journal mode, lower case; empty when it cannot be read.
QString ModeOf(QSqlDatabase& database) {
    QSqlQuery query(database);
    return query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next()
               ? query.value(0).toString().toLower()
               : QString();
}

// A statement of the restore that failed: another session in the way, or a failure of its own.
JournalEnd Refused(const QSqlQuery& query, QString* failure) {
    const Diagnostic diagnostic = DiagnosticOf(Driver::kSqlite, &query, QSqlDatabase());
    if (Classify(System::kSqlite, diagnostic) == Failure::kBusy) {
        return JournalEnd::kInUse;
    }
    if (failure != nullptr) {
        *failure = diagnostic.text;
    }
    return JournalEnd::kFailed;
}

// Whether the database file's header says write-ahead-log mode (its read and write versions,
// bytes 18 and 19, are 2); nothing when the header cannot be read.
std::optional<bool> HeaderInLogMode(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray header = file.read(20);
    if (header.size() < 20) {
        return std::nullopt;
    }
    return header[18] == 2 || header[19] == 2;
}

}  // namespace

QString JournalNotePath(const QString& path) {
    return path + QStringLiteral(".importflx-journal");
}

QString WriteAheadLogPath(const QString& path) {
    return path + QStringLiteral("-wal");
}

QString UseWriteAheadLog(QSqlDatabase database, const QString& path) {
    if (platform::OnNetworkFileSystem(path)) {
        return {};
    }
    QString mode = ModeOf(database);
    const QString noted = NotedMode(path);
    if (mode == kWal && !noted.isEmpty()) {
        // Left so by a session that was killed or met a full disk, or another importer's now.
        if (RestoreJournalMode(database, path, noted) != JournalEnd::kRestored) {
            return noted;  // whoever leaves last puts it back
        }
        mode = noted;
    }
    if (mode.isEmpty() || mode == kWal) {
        return {};  // the user's own choice
    }
    // The note goes first: from the moment the file is in log mode, a kill must find it.
    if (!WriteNote(path, mode)) {
        return {};
    }
    QSqlQuery query(database);
    query.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    query.finish();
    // Asked again: a failure of the disk may come after the file's header has changed. Only a
    // mode read back for certain lets the note go.
    const QString now = ModeOf(database);
    if (!now.isEmpty() && now != kWal) {
        QFile::remove(JournalNotePath(path));
        return {};
    }
    // Another importer that put the file back meanwhile may have taken the note away.
    WriteNote(path, mode);
    return mode;
}

JournalEnd RestoreJournalMode(QSqlDatabase database, const QString& path, const QString& mode,
                              QString* failure) {
    if (mode.isEmpty()) {
        return JournalEnd::kNothingToDo;
    }
    // The copy back is its own step, so that a disk too full for it is told apart from another
    // session that keeps the file in log mode.
    QSqlQuery checkpoint(database);
    if (!checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"))) {
        return Refused(checkpoint, failure);
    }
    checkpoint.finish();
    QSqlQuery change(database);
    if (!change.exec(QStringLiteral("PRAGMA journal_mode=") + mode)) {
        return Refused(change, failure);
    }
    if (!change.next() || change.value(0).toString().toLower() != mode) {
        return JournalEnd::kInUse;
    }
    change.finish();
    // The session's answer is its own idea of the mode; the file's header is what the next
    // program that opens it goes by.
    const std::optional<bool> logMode = HeaderInLogMode(path);
    if (logMode.value_or(true)) {
        if (failure != nullptr) {
            *failure = QStringLiteral("its header still names the log");
        }
        return logMode ? JournalEnd::kFailed : JournalEnd::kInUse;
    }
    QFile::remove(JournalNotePath(path));
    return JournalEnd::kRestored;
}

}  // namespace db
