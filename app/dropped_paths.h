#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What a drop onto the import window asks for.
struct DropRequest {
    QString folder;     // the folder to show, absolute and cleaned; empty: ignore the drop
    QStringList files;  // names in `folder` to select; empty when a folder was dropped

    bool empty() const { return folder.isEmpty(); }
};

// Reads the URLs of a drop. FLX files (existing files whose name ends in ".flx" in any letter
// case) lead to the folder of the first of them, with those of them that lie in it to select.
// Without FLX files, the first existing folder is shown. Everything else (other files, folders
// after FLX files, URLs that are not local files) is left out; a drop of nothing else is
// ignored.
DropRequest ReadDrop(const QList<QUrl>& urls);
