#include "backup/StaleStaging.h"

#include "backup/BackupLogging.h"
#include "platform/FileSystemError.h"

#include <QDateTime>
#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

const QString listing = QStringLiteral("Could not list the folder");

// Removes the staging folder `name` of the open folder and the files in it. The folder that the
// name leads to when it is opened, never through a link, is the one emptied, so a link swapped in
// for it or for anything in it leads nowhere. One that holds a folder was not made here and
// stays whole.
void removeStagingFolderAt(int parentFd, const QString &parent, const QString &name) {
    const QString path = parent + QLatin1Char('/') + name;
    const QByteArray native = QFile::encodeName(name);
    FileDescriptor staging(
        ::openat(parentFd, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (staging.get() < 0 || ::fstat(staging.get(), &status) != 0)
        throw FileSystemError(QStringLiteral("Could not open the folder"), path, errno);
    if (status.st_uid != ::geteuid())
        throw FileSystemError(QStringLiteral("Could not open the folder"), path, EPERM);
    QList<QByteArray> items;
    bool holdsFolder = false;
    forEachItemAt(
        std::move(staging), path, listing,
        [&](int fd, const char *item) {
            struct stat itemStatus {};
            holdsFolder =
                holdsFolder || (::fstatat(fd, item, &itemStatus, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISDIR(itemStatus.st_mode));
            items.append(item);
        },
        [&](int fd) {
            if (holdsFolder)
                throw FileSystemError(QStringLiteral("Could not remove the folder"), path,
                                      ENOTEMPTY);
            // A folder swapped in meanwhile refuses this.
            for (const QByteArray &item : std::as_const(items)) {
                if (::unlinkat(fd, item.constData(), 0) != 0 && errno != ENOENT)
                    throw FileSystemError(QStringLiteral("Could not remove the file"),
                                          path + QLatin1Char('/') + QFile::decodeName(item), errno);
            }
        });
    if (::unlinkat(parentFd, native.constData(), AT_REMOVEDIR) != 0)
        throw FileSystemError(QStringLiteral("Could not remove the folder"), path, errno);
}

} // namespace

void removeStaleStaging(StagingKind kind, const QString &folder, const QString &prefix,
                        const QString &suffix,
                        const std::function<void(const QString &)> &beforeRemoving) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto lifetime = std::chrono::seconds(stagingLifetime).count();
    FileDescriptor opened(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.get() < 0) {
        qCDebug(lcBackup) << "Nothing left by a killed backup or export looked for in" << folder
                          << FileSystemError(listing, folder, errno).message();
        return;
    }
    QStringList stale;
    try {
        forEachItemAt(
            std::move(opened), folder, listing,
            [&](int folderFd, const char *native) {
                const QString name = QFile::decodeName(native);
                struct stat status {};
                if (name.size() >= prefix.size() + suffix.size() && name.startsWith(prefix) &&
                    name.endsWith(suffix) &&
                    ::fstatat(folderFd, native, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                    status.st_uid == ::geteuid() &&
                    (kind == StagingKind::file ? S_ISREG(status.st_mode)
                                               : S_ISDIR(status.st_mode)) &&
                    now - qint64(status.st_mtim.tv_sec) > lifetime)
                    stale.append(name);
            },
            [&](int folderFd) {
                for (const QString &name : std::as_const(stale)) {
                    const QString path = folder + QLatin1Char('/') + name;
                    if (beforeRemoving)
                        beforeRemoving(path);
                    try {
                        if (kind == StagingKind::file)
                            removeFileDurablyAt(folderFd, folder, name);
                        else
                            removeStagingFolderAt(folderFd, folder, name);
                        qCInfo(lcBackup)
                            << "Removed" << path << "left by a backup or export that was killed";
                    } catch (const DiaryError &error) {
                        qCWarning(lcBackup)
                            << "Could not remove" << path
                            << "left by a backup or export that was killed:" << error.message();
                    }
                }
            });
    } catch (const DiaryError &error) {
        qCWarning(lcBackup) << "What killed backups or exports left stays in" << folder << ":"
                            << error.message();
    }
}

} // namespace velmora
