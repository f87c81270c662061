#pragma once

#include <QList>
#include <QString>

// The "drives" of the import window's drive list. A Linux desktop has no drive letters; the
// places a user recognises as separate volumes stand in for them: the file system root, the home
// folder, and removable or extra media mounted under /media, /run/media and /mnt.
namespace drives {

// One entry of the drive list.
struct Drive {
    QString root;   // the folder the entry opens, absolute, without a trailing separator ("/" kept)
    QString label;  // what the list shows
};

// A mounted volume as the system reports it.
struct Mount {
    QString root;  // its mount point
    QString name;  // its volume name; may be empty
};

// The entries offered for `mounts` and the home folder `home`, in list order: the root "/"
// first (always, even when `mounts` lacks it), then the home folder, then the mounts under
// /media, /run/media or /mnt sorted by path. Other mounts (system and pseudo file systems) are
// left out, and every root appears once.
QList<Drive> DrivesFromMounts(const QList<Mount>& mounts, const QString& home);

// The entries for the volumes mounted and ready now.
QList<Drive> ListDrives();

// True when `root` is `path` itself or one of its parent folders (both absolute, cleaned).
bool RootHolds(const QString& root, const QString& path);

// The index of the entry whose root holds `path` most closely (the longest root that equals
// `path` or is one of its parent folders); 0 when none does or `drives` is empty.
int DriveIndexFor(const QList<Drive>& drives, const QString& path);

}  // namespace drives
