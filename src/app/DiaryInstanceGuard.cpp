#include "app/DiaryInstanceGuard.h"

#include "app/AppLogging.h"
#include "platform/DiaryError.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// What stands at the lock's place before this process takes it.
struct Standing {
    enum Kind {
        // Nothing stands there.
        vacant,
        // A live process holds it.
        held,
        // Nothing holds it, and it is gone now: what a power cut, a crash or a stray copy left.
        cleared,
        // It cannot be cleared; `reason` says why.
        blocking,
    } kind;
    QString reason = {};
};

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether a process holds the file's locks. A holder takes them the moment it creates the
// file and keeps them while it runs, whatever the file says (it may be empty after a power cut,
// or name another host); only what nobody holds is cleared.
Standing examineRegularFile(const QByteArray &path, const struct stat &seen) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {Standing::blocking, systemReason(errno)};
    const auto finish = [fd](Standing standing) {
        ::close(fd);
        return standing;
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return finish({Standing::held});
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &range) != 0 && (errno == EACCES || errno == EAGAIN))
        return finish({Standing::held});
    // A holder creates the file and locks it a moment later; a look just then would find it
    // free. Still free and still the same file a little later, it is abandoned.
    struct stat now {};
    QThread::msleep(20);
    if (::fstat(fd, &now) != 0 || now.st_ino != seen.st_ino || now.st_dev != seen.st_dev ||
        now.st_nlink == 0)
        return finish({Standing::held});
    // Removed while this process holds its locks, so that no other process clears it too.
    if (::unlink(path.constData()) != 0 && errno != ENOENT)
        return finish({Standing::blocking, systemReason(errno)});
    return finish({Standing::cleared});
}

Standing examine(const QString &lockPath) {
    const QByteArray path = QFile::encodeName(lockPath);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        return errno == ENOENT ? Standing{Standing::vacant}
                               : Standing{Standing::blocking, systemReason(errno)};
    if (S_ISLNK(status.st_mode)) {
        // The lock file is never a link; one in its place was put there by something else.
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            return {Standing::blocking, systemReason(errno)};
        return {Standing::cleared};
    }
    if (S_ISDIR(status.st_mode)) {
        // An empty folder is cleared; one with contents is not ours to remove.
        if (::rmdir(path.constData()) == 0 || errno == ENOENT)
            return {Standing::cleared};
        return {Standing::blocking,
                QCoreApplication::translate("DiaryInstanceLock", "a folder stands in its place")};
    }
    if (!S_ISREG(status.st_mode))
        return {Standing::blocking,
                QCoreApplication::translate("DiaryInstanceLock",
                                            "something other than a file stands in its place")};
    return examineRegularFile(path, status);
}

// Why no lock file can be made in the folder.
QString unwritableReason(const QString &folder) {
    if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK, AT_EACCESS) != 0)
        return systemReason(errno);
    return QCoreApplication::translate("DiaryInstanceLock", "it could not be written");
}

} // namespace

DiaryInstanceLock::Outcome DiaryInstanceLock::tryAcquire(const QString &storeURL) {
    const QString folder = QFileInfo(canonicalPathOfPossiblyMissing(storeURL)).path();
    m_path = folder + QLatin1Char('/') + fileName;
    m_failure.clear();
    try {
        createDirectories(folder);
    } catch (const FileSystemError &error) {
        m_failure = systemReason(error.errorNumber());
        return Outcome::unavailable;
    }
    m_lock = std::make_unique<QLockFile>(m_path);
    // A lock is stale only when no process holds it, however long the diary has been open.
    m_lock->setStaleLockTime(0);
    const auto settled = [this](const Standing &standing) -> std::optional<Outcome> {
        if (standing.kind == Standing::held)
            return Outcome::heldByAnotherProcess;
        if (standing.kind == Standing::blocking) {
            m_failure = standing.reason;
            qCWarning(lcApp) << "no lock at" << m_path << ":" << m_failure;
            return Outcome::unavailable;
        }
        if (standing.kind == Standing::cleared)
            qCInfo(lcApp) << "cleared a lock no process held at" << m_path;
        return std::nullopt;
    };
    // One try after clearing what nobody holds; if a lock is back by then, another launch has
    // just taken it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // QLockFile reads a lock it finds to learn its holder, and a read of a fifo waits for a
        // writer that never comes: anything but a plain file at the lock's place is looked at
        // first, without following a link. A plain file left by a crash is QLockFile's to clear.
        struct stat status {};
        if (::lstat(QFile::encodeName(m_path).constData(), &status) == 0 &&
            !S_ISREG(status.st_mode)) {
            if (const auto outcome = settled(examine(m_path)))
                return *outcome;
        }
        if (m_lock->tryLock(0))
            return Outcome::acquired;
        if (m_lock->error() != QLockFile::LockFailedError) {
            m_failure = unwritableReason(folder);
            qCWarning(lcApp) << "no lock at" << m_path << ":" << m_failure;
            return Outcome::unavailable;
        }
        if (const auto outcome = settled(examine(m_path)))
            return *outcome;
    }
    return Outcome::heldByAnotherProcess;
}

QString DiaryInstanceLock::refusal(Outcome outcome) const {
    if (outcome == Outcome::unavailable)
        return unavailableMessage(m_path, m_failure);
    return alreadyOpenMessage(QFileInfo(m_path).path());
}

QString DiaryInstanceLock::alreadyOpenMessage(const QString &persistenceDirectory) {
    return QCoreApplication::translate(
               "DiaryInstanceLock",
               "Velmora is already open on the diary in %1. Close it there before opening it "
               "again.")
        .arg(shownExcerpt(QDir::toNativeSeparators(persistenceDirectory)));
}

QString DiaryInstanceLock::unavailableMessage(const QString &lockFilePath, const QString &reason) {
    return QCoreApplication::translate("DiaryInstanceLock",
                                       "Velmora cannot open the diary: its lock file “%1” cannot "
                                       "be taken (%2).")
        .arg(shownExcerpt(QDir::toNativeSeparators(lockFilePath)), reason);
}

DiaryInstanceService::DiaryInstanceService(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {}

bool DiaryInstanceService::registerOnBus() {
    if (!m_bus.isConnected())
        return true;
    if (!m_bus.registerService(serviceName))
        return false;
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        qCWarning(lcApp) << "the window cannot be shown from a second launch:"
                         << m_bus.lastError().message();
    return true;
}

bool DiaryInstanceService::askRunningInstanceToShow(QDBusConnection bus) {
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                       QStringLiteral("ShowDiary"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcApp) << "the running Velmora did not answer:" << reply.errorMessage();
        return false;
    }
    return true;
}

void DiaryInstanceService::ShowDiary() {
    Q_EMIT showRequested();
}

} // namespace velmora
