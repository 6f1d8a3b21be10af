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
#include <QSysInfo>
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

// What the lock file holds: the holder's process, program and host, one a line, for a person who
// looks. Whether it is held is the file lock's to say, never these lines.
QByteArray holderLines() {
    const QString program = QCoreApplication::instance()
                                ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                : QString();
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' + program.toUtf8() + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n';
}

} // namespace

struct DiaryInstanceLock::Hold {
    int fd = -1;
    QString path;
    std::optional<FileClaims> claims;

    Hold(int lockFd, QString lockPath)
        : fd(lockFd)
        , path(std::move(lockPath)) {
        claims.emplace();
    }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
    ~Hold() {
        claims.reset();
        // Removed while still locked, and only if it is still this file, so that no other
        // process takes a lock that is about to vanish or loses one it has just taken.
        const QByteArray native = QFile::encodeName(path);
        struct stat held {};
        struct stat there {};
        if (::fstat(fd, &held) == 0 && ::lstat(native.constData(), &there) == 0 &&
            held.st_ino == there.st_ino && held.st_dev == there.st_dev)
            ::unlink(native.constData());
        ::close(fd);
    }
};

DiaryInstanceLock::~DiaryInstanceLock() {
    release();
}

void DiaryInstanceLock::release() {
    m_storeClaims.reset();
    m_hold.reset();
}

int DiaryInstanceLock::create() {
    const QByteArray path = QFile::encodeName(m_path);
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    // Locked at once: a launch that looks at it meanwhile finds it free only for this moment,
    // which its look waits out. One that looked just now holds the lock itself: the file is left
    // for that look to judge.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            ::close(fd);
            return EEXIST;
        }
        // A file system without locks: the file's being there keeps other launches off.
        qCWarning(lcApp) << "the lock at" << m_path << "is not locked:" << systemReason(error);
    }
    // Never synced: a file that a power cut leaves empty or loses is as good as one nobody holds.
    const QByteArray lines = holderLines();
    qsizetype written = 0;
    while (written < lines.size()) {
        const ssize_t step =
            ::write(fd, lines.constData() + written, size_t(lines.size() - written));
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            const int error = step < 0 ? errno : ENOSPC;
            ::unlink(path.constData());
            ::close(fd);
            return error;
        }
        written += step;
    }
    m_hold = std::make_shared<Hold>(fd, m_path);
    return 0;
}

DiaryInstanceLock::Outcome DiaryInstanceLock::tryAcquire(const QString &storeURL) {
    release();
    const QString store = canonicalPathOfPossiblyMissing(storeURL);
    const QString folder = QFileInfo(store).path();
    m_path = folder + QLatin1Char('/') + fileName;
    m_failure.clear();
    // Taken for a lock nobody holds, the store would be removed before it is opened.
    if (store == m_path) {
        m_failure =
            QCoreApplication::translate("DiaryInstanceLock", "the diary's store has that name");
        qCWarning(lcApp) << "no lock at" << m_path << ":" << m_failure;
        return Outcome::unavailable;
    }
    try {
        createDirectories(folder);
    } catch (const FileSystemError &error) {
        m_failure = systemReason(error.errorNumber());
        return Outcome::unavailable;
    }
    // One try after clearing what nobody holds; if a lock is back by then, another launch has
    // just taken it. The file is made only where nothing stands, so a link or a fifo in its
    // place is never followed or read.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int error = create();
        if (error == 0)
            return claimStore(store);
        if (error != EEXIST) {
            m_failure = systemReason(error);
            qCWarning(lcApp) << "no lock at" << m_path << ":" << m_failure;
            return Outcome::unavailable;
        }
        const Standing standing = examine(m_path);
        if (standing.kind == Standing::held)
            return Outcome::heldByAnotherProcess;
        if (standing.kind == Standing::blocking) {
            m_failure = standing.reason;
            qCWarning(lcApp) << "no lock at" << m_path << ":" << m_failure;
            return Outcome::unavailable;
        }
        if (standing.kind == Standing::cleared)
            qCInfo(lcApp) << "cleared a lock no process held at" << m_path;
    }
    return Outcome::heldByAnotherProcess;
}

DiaryInstanceLock::Outcome DiaryInstanceLock::claimStore(const QString &store) {
    if (m_hold->claims->claim(store) == FileClaims::Outcome::heldElsewhere) {
        qCInfo(lcApp) << "another process has the store open:" << store;
        release();
        return Outcome::heldByAnotherProcess;
    }
    m_storeClaims = std::shared_ptr<FileClaims>(m_hold, &*m_hold->claims);
    return Outcome::acquired;
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
