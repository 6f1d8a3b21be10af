#include "backup/StaleStaging.h"

#include "backup/BackupLogging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace velmora {

void removeStaleStaging(const QString &folder, const QString &prefix, const QString &suffix) {
    const QDir directory(folder);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto lifetime = std::chrono::seconds(stagingLifetime).count();
    for (const QString &name : directory.entryList({prefix + QLatin1Char('*') + suffix},
                                                   QDir::AllEntries | QDir::Hidden | QDir::System |
                                                       QDir::NoDotAndDotDot)) {
        const QString path = directory.filePath(name);
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0 ||
            now - qint64(status.st_mtim.tv_sec) <= lifetime)
            continue;
        const bool removed =
            S_ISDIR(status.st_mode) ? QDir(path).removeRecursively() : QFile::remove(path);
        if (removed)
            qCInfo(lcBackup) << "Removed" << path << "left by a backup or export that was killed";
        else
            qCWarning(lcBackup) << "Could not remove" << path
                                << "left by a backup or export that was killed";
    }
}

} // namespace velmora
