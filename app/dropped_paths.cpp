#include "app/dropped_paths.h"

#include <QDir>
#include <QFileInfo>

DropRequest ReadDrop(const QList<QUrl>& urls) {
    DropRequest request;
    QString firstFolder;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QFileInfo info(url.toLocalFile());
        if (info.isDir()) {
            if (firstFolder.isEmpty()) {
                firstFolder = QDir::cleanPath(info.absoluteFilePath());
            }
            continue;
        }
        if (!info.isFile() ||
            !info.fileName().endsWith(QLatin1String(".flx"), Qt::CaseInsensitive)) {
            continue;
        }
        const QString folder = QDir::cleanPath(info.absolutePath());
        if (request.folder.isEmpty()) {
            request.folder = folder;
        }
        if (folder == request.folder && !request.files.contains(info.fileName())) {
            request.files << info.fileName();
        }
    }
    if (request.folder.isEmpty()) {
        request.folder = firstFolder;
    }
    return request;
}
