#include "app/folder_tree.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace {

// The list shows folder names only, yet its model describes every entry of a folder it loads,
// and the stock description of a file consults the MIME database, which may read the file: a
// folder of thousands of files would stall the window for a second. The description is never
// shown.
class FolderIconProvider : public QFileIconProvider {
  public:
    QString type(const QFileInfo& info) const override {
        return info.isDir() ? QStringLiteral("Folder") : QStringLiteral("File");
    }
};

// The narrowest indentation, for deep folders: one that still shows the nesting.
constexpr int kMinIndentation = 2;

}  // namespace

FolderTree::FolderTree(QComboBox* drives, QTreeView* folders, const QString& start, QObject* parent)
    : QObject(parent), drives_(drives), folders_(folders) {
    model_ = new QFileSystemModel(this);
    icons_ = std::make_unique<FolderIconProvider>();
    model_->setIconProvider(icons_.get());
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model_->setRootPath(QDir::rootPath());
    folders_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        folders_->hideColumn(column);
    }
    folders_->setTextElideMode(Qt::ElideRight);
    folders_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    folders_->header()->setStretchLastSection(true);
    folders_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    indentation_ = folders_->indentation();
    folders_->installEventFilter(this);
    folders_->viewport()->installEventFilter(this);

    path_ = Clean(start);
    driveList_ = drives::ListDrives();
    for (const drives::Drive& drive : driveList_) {
        drives_->addItem(drive.label, drive.root);
    }
    const int startDrive = drives::DriveIndexFor(driveList_, path_);
    drives_->setCurrentIndex(startDrive);
    driveFolders_.insert(driveList_.at(startDrive).root, path_);
    Show(path_);

    connect(drives_, &QComboBox::currentIndexChanged, this, &FolderTree::DriveChanged);
    connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderTree::CurrentChanged);
    connect(model_, &QFileSystemModel::directoryLoaded, this, &FolderTree::DirectoryLoaded);
    // A loaded folder is sorted after it is announced, which moves the rows once more.
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] {
        if (following_) {
            CenterLater();
        }
    });
}

FolderTree::~FolderTree() {
    // The model uses the icon provider until it is gone.
    delete model_;
}

QString FolderTree::Clean(const QString& folder) {
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(folder)).absoluteFilePath());
}

void FolderTree::SetPath(const QString& folder) {
    const QString path = Clean(folder);
    Show(path);
    if (path == path_) {
        return;
    }
    path_ = path;
    const int drive = drives_->currentIndex();
    if (drive >= 0 && drive < driveList_.size() &&
        drives::RootHolds(driveList_.at(drive).root, path)) {
        driveFolders_.insert(driveList_.at(drive).root, path);
    }
    emit changed(path_);
}

void FolderTree::DriveChanged(int index) {
    if (index < 0 || index >= driveList_.size()) {
        return;
    }
    const QString root = driveList_.at(index).root;
    QString folder = driveFolders_.value(root, root);
    if (!QFileInfo(folder).isDir()) {
        folder = root;
    }
    SetPath(folder);
}

void FolderTree::Show(const QString& path) {
    syncing_ = true;
    const QModelIndex index = model_->index(path);
    if (index.isValid()) {
        folders_->setCurrentIndex(index);
        folders_->expand(index);
        following_ = true;
        CenterLater();
    } else {
        folders_->selectionModel()->clear();
    }
    FitIndentation();
    syncing_ = false;
}

bool FolderTree::eventFilter(QObject* watched, QEvent* event) {
    if (watched == folders_ && event->type() == QEvent::Resize) {
        FitIndentation();
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            following_ = false;  // the user scrolls now; the list no longer jumps back
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void FolderTree::FitIndentation() {
    int depth = 0;
    for (QModelIndex index = folders_->currentIndex(); index.parent().isValid();
         index = index.parent()) {
        ++depth;
    }
    // The current folder's subfolders start after depth + 2 steps, which share this part of the
    // list's width; no step is wider than designed.
    const int share = folders_->viewport()->width() * 2 / 5;
    folders_->setIndentation(
        std::clamp(share / (depth + 2), kMinIndentation, std::max(indentation_, kMinIndentation)));
}

void FolderTree::CurrentChanged(const QModelIndex& current) {
    if (syncing_ || !current.isValid()) {
        return;
    }
    SetPath(model_->filePath(current));
}

void FolderTree::DirectoryLoaded(const QString& path) {
    // Folders load in the background and move the rows; once those above the current one and
    // its own subfolders are in, bring it back into view.
    if (following_ && drives::RootHolds(Clean(path), path_)) {
        CenterLater();
    }
}

void FolderTree::CenterLater() {
    // After the pending layout, so that the view scrolls over its final rows. Centred, the
    // folders above and the subfolders below both stay in sight.
    QTimer::singleShot(0, this, [this] {
        const QModelIndex current = folders_->currentIndex();
        if (current.isValid()) {
            folders_->scrollTo(current, QAbstractItemView::PositionAtCenter);
        }
    });
}
