#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

#include "app/drive_list.h"

class QAbstractFileIconProvider;
class QComboBox;
class QFileSystemModel;
class QModelIndex;
class QTreeView;

// The import window's drive list (Drive1) and folder list (Dir1), browsed together: picking a
// drive moves the folder list to the folder last shown on that drive (its root at first), and
// the folder list shows folder names only, the current one selected, open and in view. It never
// scrolls sideways: its one column is as wide as the list, a long name loses its end, and the
// indentation narrows as the current folder lies deeper, so that the names of the current
// folder, its neighbours and its subfolders stay readable.
class FolderTree : public QObject {
    Q_OBJECT

  public:
    // Takes over `drives` and `folders` (of the window), starting on `start`.
    FolderTree(QComboBox* drives, QTreeView* folders, const QString& start,
               QObject* parent = nullptr);
    ~FolderTree() override;

    // The current folder, absolute and cleaned (with '/' separators).
    const QString& path() const { return path_; }
    // Moves to `folder`; changed() follows when that changes the folder. A folder that does not
    // exist or cannot be read is current all the same, shown without a selection.
    void SetPath(const QString& folder);
    // Brings the current folder into the middle of the list once the pending layout is done.
    void CenterLater();

    // Absolute and cleaned, so that folders compare equal however they were spelled.
    static QString Clean(const QString& folder);

  signals:
    void changed(const QString& folder);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void DriveChanged(int index);
    void Show(const QString& path);
    void CurrentChanged(const QModelIndex& current);
    void DirectoryLoaded(const QString& path);
    void FitIndentation();

    QComboBox* drives_;
    QTreeView* folders_;
    QFileSystemModel* model_ = nullptr;
    std::unique_ptr<QAbstractFileIconProvider> icons_;
    int indentation_ = 0;  // as designed
    QList<drives::Drive> driveList_;
    // The folder last shown on each drive, by root: the "current folder" a drive returns to.
    QHash<QString, QString> driveFolders_;
    QString path_;
    // The list keeps the current folder in view while folders load, until the user scrolls.
    bool following_ = false;
    bool syncing_ = false;  // the list is being moved to path_: its signals are not the user's
};
