#include "core/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {
namespace {
QString& AppFolderOverride() {
    static QString folder;
    return folder;
}
}  // namespace

QString AppFolder() {
    if (!AppFolderOverride().isEmpty()) {
        return AppFolderOverride();
    }
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void SetAppFolderForTesting(const QString& folder) {
    AppFolderOverride() = folder;
}

QString FindFileNoCase(const QString& folder, const QString& name) {
    const QDir dir(folder);
    const QString exact = dir.filePath(name);
    if (QFileInfo(exact).isFile()) {
        return QDir::toNativeSeparators(exact);
    }
    QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    std::sort(names.begin(), names.end());
    for (const QString& candidate : names) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0) {
            return QDir::toNativeSeparators(dir.filePath(candidate));
        }
    }
    return {};
}

bool FileExistsNoCase(const QString& folder, const QString& name) {
    return !FindFileNoCase(folder, name).isEmpty();
}

QString JoinPath(const QString& folder, const QString& name) {
    const QChar sep = QDir::separator();
    if (folder.isEmpty()) {
        return name;
    }
    if (folder.endsWith(sep) || folder.endsWith('/')) {
        return folder + name;
    }
    return folder + sep + name;
}

}  // namespace platform
