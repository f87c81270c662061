#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDirIterator;
class QFileSystemWatcher;
class QLabel;
class QListWidget;
class QTimer;

// The import window's file list (File1): the FLX files of one folder (any letter case of
// ".flx"), by name without regard to letter case, and their count on a label ("FileCount: n").
// A large folder is listed in slices between turns of the event loop, so that the window keeps
// answering; the list and the count appear when the last slice is done.
// The list follows its folder: files added, removed or renamed there are listed kSettleMs after
// the first change is noticed (so that a copy of many files lists the folder a few times, not
// once per file), keeping the selected names selected, the current entry and the scroll
// position; a list whose names are the same is left alone. While `frozen` answers true (a run)
// the list stays as it is, and a change then is listed when Thaw is called.
class FolderFileList : public QObject {
    Q_OBJECT

  public:
    static constexpr int kSettleMs = 100;

    FolderFileList(QListWidget* list, QLabel* count, std::function<bool()> frozen,
                   QObject* parent = nullptr);
    ~FolderFileList() override;

    // The folder listed, as given to Show.
    const QString& folder() const { return folder_; }
    // Lists `folder` anew (also when it is the one listed) and follows it from now on. A folder
    // that does not exist or cannot be read gives an empty list.
    void Show(const QString& folder);
    // Completes a listing under way at once.
    void Finish();
    // Lists the folder again if it changed while frozen.
    void Thaw();

  private:
    void Fill(bool keepSelection);
    void Continue(qint64 sliceMs);  // sliceMs < 0: to the end
    void ShowNames(const QStringList& names);
    void OnFolderChanged();
    void Refresh();

    QListWidget* list_;
    QLabel* count_;
    std::function<bool()> frozen_;
    QString folder_;
    std::unique_ptr<QDirIterator> listing_;  // the listing under way
    QStringList listed_;                     // the names it has read so far
    int generation_ = 0;                     // tells a stale continuation from the current one
    bool keepSelection_ = false;             // the listing under way refreshes the list in place
    QFileSystemWatcher* watcher_;
    QTimer* refresh_;
    bool stale_ = false;  // the folder changed while frozen
};
