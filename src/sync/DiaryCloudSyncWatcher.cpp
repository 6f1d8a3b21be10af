#include "sync/DiaryCloudSyncWatcher.h"

#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"
#include "sync/SyncLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace velmora {

DiaryCloudSyncWatcher::DiaryCloudSyncWatcher(QObject *parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher) {
    m_thread.setObjectName(QStringLiteral("sync watcher"));
    m_inPlace = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inPlace < 0) {
        const int error = errno;
        qCInfo(lcSync) << "files written in place in the sync folder wait for the heartbeat:"
                       << std::strerror(error);
    } else {
        // A child of the folder watch, so it moves to the watcher's thread with it.
        auto *notifier = new QSocketNotifier(m_inPlace, QSocketNotifier::Read, m_watcher);
        connect(notifier, &QSocketNotifier::activated, m_watcher, [this] { readWritesInPlace(); });
    }
    m_watcher->moveToThread(&m_thread);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &DiaryCloudSyncWatcher::changed);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &DiaryCloudSyncWatcher::changed);
    m_thread.start();
}

DiaryCloudSyncWatcher::~DiaryCloudSyncWatcher() {
    m_thread.quit();
    m_thread.wait();
    delete m_watcher;
    if (m_inPlace >= 0)
        ::close(m_inPlace);
}

void DiaryCloudSyncWatcher::readWritesInPlace() {
    alignas(inotify_event) char buffer[4096];
    bool written = false;
    for (;;) {
        const ssize_t length = ::read(m_inPlace, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            break;
        for (const char *at = buffer; at < buffer + length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            // Hidden names are temporaries, the sync's own among them; what they become arrives
            // by a rename, which the folder watch reports.
            if ((event->mask & IN_Q_OVERFLOW) || ((event->mask & (IN_MODIFY | IN_CLOSE_WRITE)) &&
                                                  event->len > 0 && event->name[0] != '.'))
                written = true;
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (written)
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT changed(); }, Qt::QueuedConnection);
}

void DiaryCloudSyncWatcher::watch(const QString &root) {
    QStringList wanted;
    // Of the wanted folders, those whose files are watched for writes in place too.
    QStringList filesWanted;
    if (!root.isEmpty()) {
        const QString clean = DiaryCloudSyncManifest::rootPath(root);
        wanted = {QFileInfo(clean).absolutePath(), clean,
                  clean + QLatin1Char('/') + DiaryCloudSyncFolder::pagesFolderName,
                  clean + QLatin1Char('/') + DiaryCloudSyncFolder::handwritingFolderName};
        filesWanted = wanted.mid(2);
    }
    QFileSystemWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(m_watcher, [this, watcher, wanted, filesWanted] {
        const QStringList old = watcher->files() + watcher->directories();
        if (!old.isEmpty())
            watcher->removePaths(old);
        // Below the chosen folder (the first path) a link is never watched: a watch follows it
        // to wherever it leads, and the sync refuses to work through it anyway.
        const auto reachedWithoutLinks = [&](const QString &path) {
            for (QString step = path; step.size() > wanted.first().size();
                 step = QFileInfo(step).path()) {
                if (QFileInfo(step).isSymLink())
                    return false;
            }
            return true;
        };
        QStringList present;
        for (const QString &path : wanted) {
            if (QFileInfo(path).isDir() && reachedWithoutLinks(path))
                present.append(path);
        }
        const QStringList failed = present.isEmpty() ? QStringList() : watcher->addPaths(present);
        if (!failed.isEmpty())
            qCInfo(lcSync) << "the sync folder is not watched at" << failed;
        for (const QString &path : failed)
            present.removeAll(path);
        for (const int watch : std::as_const(m_inPlaceWatches))
            ::inotify_rm_watch(m_inPlace, watch);
        m_inPlaceWatches.clear();
        for (const QString &path : filesWanted) {
            if (m_inPlace < 0 || !present.contains(path))
                continue;
            const int watch =
                ::inotify_add_watch(m_inPlace, QFile::encodeName(path).constData(),
                                    IN_MODIFY | IN_CLOSE_WRITE | IN_ONLYDIR | IN_DONT_FOLLOW);
            const int error = errno;
            if (watch >= 0)
                m_inPlaceWatches.append(watch);
            else
                qCInfo(lcSync) << "files written in place are not noticed in" << path << ":"
                               << std::strerror(error);
        }
        QMetaObject::invokeMethod(this, [this, present] { Q_EMIT watching(present); });
    });
}

} // namespace velmora
