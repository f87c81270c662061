#include "app/file_list.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Listing holds the event loop for at most this long at a time, once this many names have been
// read: a folder of thousands of files is listed over several turns while the window keeps
// answering, and a usual folder is listed at once.
constexpr qint64 kListingSliceMs = 20;
constexpr qsizetype kListedAtOnce = 1000;

}  // namespace

FolderFileList::FolderFileList(QListWidget* list, QLabel* count, std::function<bool()> frozen,
                               QObject* parent)
    : QObject(parent),
      list_(list),
      count_(count),
      frozen_(std::move(frozen)),
      watcher_(new QFileSystemWatcher(this)),
      refresh_(new QTimer(this)) {
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
            &FolderFileList::OnFolderChanged);
    refresh_->setObjectName(QStringLiteral("fileListRefresh"));
    refresh_->setSingleShot(true);
    refresh_->setInterval(kSettleMs);
    connect(refresh_, &QTimer::timeout, this, &FolderFileList::Refresh);
}

FolderFileList::~FolderFileList() = default;

void FolderFileList::Show(const QString& folder) {
    folder_ = folder;
    Fill(false);
    if (const QStringList watched = watcher_->directories(); !watched.isEmpty()) {
        watcher_->removePaths(watched);
    }
    // A folder that does not exist (or no longer does) is not watched; showing it again does.
    if (QFileInfo(folder_).isDir()) {
        watcher_->addPath(folder_);
    }
    refresh_->stop();
    stale_ = false;
}

void FolderFileList::Finish() {
    Continue(-1);
}

void FolderFileList::Thaw() {
    if (std::exchange(stale_, false)) {
        refresh_->start();
    }
}

void FolderFileList::OnFolderChanged() {
    if (frozen_()) {
        stale_ = true;
    } else if (!refresh_->isActive()) {
        refresh_->start();
    }
}

void FolderFileList::Refresh() {
    // The timer may fire from the event processing of a run, whose list must stay as it is.
    if (frozen_()) {
        stale_ = true;
        return;
    }
    Fill(true);
}

void FolderFileList::Fill(bool keepSelection) {
    if (!keepSelection) {
        list_->clear();
    }
    keepSelection_ = keepSelection;
    listed_.clear();
    ++generation_;
    // Without QDir::CaseSensitive the pattern ignores letter case: DEVICE.FLX is listed.
    listing_ = std::make_unique<QDirIterator>(folder_, QStringList{"*.flx"}, QDir::Files);
    Continue(kListingSliceMs);
}

void FolderFileList::Continue(qint64 sliceMs) {
    if (!listing_) {
        return;
    }
    QElapsedTimer slice;
    slice.start();
    while (listing_->hasNext()) {
        listing_->next();
        listed_ << listing_->fileName();
        if (sliceMs >= 0 && listed_.size() >= kListedAtOnce && slice.elapsed() >= sliceMs) {
            QTimer::singleShot(0, this, [this, generation = generation_] {
                if (generation == generation_) {
                    Continue(kListingSliceMs);
                }
            });
            return;
        }
    }
    listing_.reset();

    // By name without regard to letter case, as a directory listing sorted that way shows it.
    std::vector<std::pair<QString, QString>> byKey;
    byKey.reserve(listed_.size());
    for (QString& name : listed_) {
        byKey.emplace_back(name.toLower(), std::move(name));
    }
    std::stable_sort(byKey.begin(), byKey.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList names;
    names.reserve(byKey.size());
    for (auto& entry : byKey) {
        names << std::move(entry.second);
    }
    listed_.clear();
    ShowNames(names);
}

void FolderFileList::ShowNames(const QStringList& names) {
    QSet<QString> selected;
    QString current;
    int scrolled = 0;
    if (std::exchange(keepSelection_, false)) {
        bool same = list_->count() == names.size();
        for (int i = 0; i < list_->count(); ++i) {
            const QListWidgetItem* item = list_->item(i);
            same = same && item->text() == names.at(i);
            if (item->isSelected()) {
                selected << item->text();
            }
        }
        if (same) {
            return;
        }
        current = list_->currentItem() != nullptr ? list_->currentItem()->text() : QString();
        scrolled = list_->verticalScrollBar()->value();
    }
    list_->clear();
    list_->addItems(names);
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        if (item->text() == current) {
            list_->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        }
        if (selected.contains(item->text())) {
            item->setSelected(true);
        }
    }
    list_->verticalScrollBar()->setValue(scrolled);
    count_->setText("FileCount: " + QString::number(list_->count()));
}
