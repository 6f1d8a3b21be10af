#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class QFileSystemWatcher;

namespace velmora {

// Notices changes in the sync folder: the chosen folder (where "Diary Sync" may appear or
// vanish), the root, "Pages", "Handwriting", and in the last two also a file written over where
// it is, which a folder's watch does not report. Watches are made on a thread of their own, since
// making one touches the disk, and are made again with each call to watch: a folder the sync tool
// replaced keeps no watch. What inotify misses, the sync's heartbeat finds.
class DiaryCloudSyncWatcher : public QObject {
    Q_OBJECT

public:
    explicit DiaryCloudSyncWatcher(QObject *parent = nullptr);
    ~DiaryCloudSyncWatcher() override;

    // Watches the root and the folders around it that exist now; an empty root stops watching.
    void watch(const QString &root);

Q_SIGNALS:
    // Something in a watched folder changed. On the watcher's own thread (the GUI thread).
    void changed();
    // The watches of the last call are in place, on these paths.
    void watching(const QStringList &paths);

private:
    // Drains the write events of the files in "Pages" and "Handwriting"; on the watcher's thread.
    void readWritesInPlace();

    QThread m_thread;
    QFileSystemWatcher *m_watcher;
    // An inotify instance of its own for writes in place (-1 when none could be made), and its
    // watches; both used on the watcher's thread only.
    int m_inPlace = -1;
    QList<int> m_inPlaceWatches;
};

} // namespace velmora
