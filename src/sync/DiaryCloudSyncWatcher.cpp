#include "sync/DiaryCloudSyncWatcher.h"

#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"
#include "sync/SyncLogging.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace velmora {

DiaryCloudSyncWatcher::DiaryCloudSyncWatcher(QObject *parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher) {
    m_thread.setObjectName(QStringLiteral("sync watcher"));
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
}

void DiaryCloudSyncWatcher::watch(const QString &root) {
    QStringList wanted;
    if (!root.isEmpty()) {
        const QString clean = DiaryCloudSyncManifest::rootPath(root);
        wanted = {QFileInfo(clean).absolutePath(), clean,
                  clean + QLatin1Char('/') + DiaryCloudSyncFolder::pagesFolderName,
                  clean + QLatin1Char('/') + DiaryCloudSyncFolder::handwritingFolderName};
    }
    QFileSystemWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(m_watcher, [this, watcher, wanted] {
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
        QMetaObject::invokeMethod(this, [this, present] { Q_EMIT watching(present); });
    });
}

} // namespace velmora
