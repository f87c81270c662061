#include "app/drive_list.h"

#include <QDir>
#include <QStorageInfo>
#include <algorithm>

namespace drives {
namespace {

QString Clean(const QString& path) {
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

bool IsMediaMount(const QString& root) {
    for (const char* base : {"/media", "/run/media", "/mnt"}) {
        const QString folder = QString::fromLatin1(base);
        if (root == folder || root.startsWith(folder + '/')) {
            return root != "/media" && root != "/run/media";
        }
    }
    return false;
}

QString LabelFor(const QString& root, const QString& name) {
    if (name.isEmpty() || name == root) {
        return QDir::toNativeSeparators(root);
    }
    return QDir::toNativeSeparators(root) + " [" + name + "]";
}

}  // namespace

bool RootHolds(const QString& root, const QString& path) {
    if (root == "/") {
        return path.startsWith('/');
    }
    return path == root || path.startsWith(root + '/');
}

QList<Drive> DrivesFromMounts(const QList<Mount>& mounts, const QString& home) {
    QList<Drive> result{{"/", "/"}};
    const QString homeRoot = Clean(home);
    if (!homeRoot.isEmpty() && homeRoot != "/") {
        result.append({homeRoot, LabelFor(homeRoot, "Home")});
    }
    QList<Drive> media;
    for (const Mount& mount : mounts) {
        const QString root = Clean(mount.root);
        if (!IsMediaMount(root)) {
            continue;
        }
        const auto same = [&](const Drive& d) { return d.root == root; };
        if (std::any_of(result.begin(), result.end(), same) ||
            std::any_of(media.begin(), media.end(), same)) {
            continue;
        }
        media.append({root, LabelFor(root, mount.name)});
    }
    std::sort(media.begin(), media.end(),
              [](const Drive& a, const Drive& b) { return a.root < b.root; });
    result.append(media);
    return result;
}

QList<Drive> ListDrives() {
    QList<Mount> mounts;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady()) {
            mounts.append({volume.rootPath(), volume.name()});
        }
    }
    return DrivesFromMounts(mounts, QDir::homePath());
}

int DriveIndexFor(const QList<Drive>& drives, const QString& path) {
    const QString target = Clean(path);
    int best = 0;
    qsizetype bestLength = -1;
    for (int i = 0; i < drives.size(); ++i) {
        const QString& root = drives.at(i).root;
        if (RootHolds(root, target) && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    return best;
}

}  // namespace drives
