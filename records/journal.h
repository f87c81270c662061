#pragma once

#include <QSqlDatabase>
#include <QString>

// An SQLite file's own journal mode, while importflx has the file in write-ahead-log mode.
//
// An import commits once per device, and the log turns each commit into an append instead of
// several flushes to disk. But the log is a second file: until its content is copied back, a
// copy of the database file alone lacks the latest devices, and only SQLite itself can tell.
// So importflx puts the file back in its own mode at the end of every run, and remembers that
// mode in a file beside the database ("dbEquip.mdb.importflx-journal", holding the mode's name)
// for as long as the log is in use: a run that is killed, or that ends on a disk too full to
// copy the log back, leaves the note, and the next session that opens the file finishes the job
// first. Several importers may have the file open at once: the mode can only be changed by the
// last of them, and each one that leaves tries.
namespace db {

// How putting the file back in its own mode ended.
enum class JournalEnd {
    kNothingToDo,  // importflx did not change the mode
    kRestored,     // the file is in its own mode again, the log copied back and gone
    kInUse,        // another session has the file open; the last one to leave restores it
    kFailed,       // the log could not be copied back (a full disk): it must stay
};

// The note beside the database at `path`.
QString JournalNotePath(const QString& path);
// The log file beside the database at `path`.
QString WriteAheadLogPath(const QString& path);

// Puts the file at `path`, open as `database`, in write-ahead-log mode when it is in another
// mode, first finishing what an earlier session left (a note and the file still in log mode).
// Returns the mode to put back at the end; empty when the file keeps its mode (the user's own
// log mode, a note that cannot be written, a mode that cannot be changed now).
QString UseWriteAheadLog(QSqlDatabase database, const QString& path);

// Puts the file back in `mode` and removes the note once it is; `mode` empty does nothing.
// `failure` gets SQLite's words when it ends kFailed.
JournalEnd RestoreJournalMode(QSqlDatabase database, const QString& path, const QString& mode,
                              QString* failure = nullptr);

}  // namespace db
