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
#include <csignal>
#include <cstring>
#include <ctime>
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

// What the lock file says of its holder: its process, program and host, one a line.
struct HolderLines {
    qint64 pid = 0;
    QString program;
    QString host;

    static std::optional<HolderLines> read(int fd) {
        QByteArray bytes(4096, Qt::Uninitialized);
        const ssize_t n = ::pread(fd, bytes.data(), size_t(bytes.size()), 0);
        if (n <= 0)
            return std::nullopt;
        bytes.truncate(n);
        const QList<QByteArray> lines = bytes.split('\n');
        bool numeric = false;
        HolderLines holder{lines.value(0).toLongLong(&numeric), QString::fromUtf8(lines.value(1)),
                           QString::fromUtf8(lines.value(2))};
        if (lines.size() < 3 || !numeric || holder.pid <= 0 || holder.program.isEmpty() ||
            holder.host.isEmpty())
            return std::nullopt;
        return holder;
    }
};

// When this machine started, in seconds since 1970.
qint64 bootTime() {
    timespec sinceBoot{};
    ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
    return qint64(::time(nullptr)) - qint64(sinceBoot.tv_sec);
}

// Whether process `pid` of this machine runs `program` and was running by `writtenAt` (seconds
// since 1970), when its lines were written: false when it is gone, only a zombie, or a later
// process that was given the same number.
bool runs(qint64 pid, const QString &program, qint64 writtenAt) {
    const QString process = QStringLiteral("/proc/") + QString::number(pid);
    QFile stat(process + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
    // "pid (name) state … starttime …": the name may hold anything, so the fields are counted
    // from its last ")".
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 20)
        return true;
    if (fields.at(0) == "Z" || fields.at(0) == "X")
        return false;
    const qint64 startedAt = bootTime() + fields.at(19).toLongLong() / ::sysconf(_SC_CLK_TCK);
    if (startedAt > writtenAt + 2)
        return false;
    QString executable = QFile::symLinkTarget(process + QStringLiteral("/exe"));
    // A program replaced by an update while it runs.
    static const QString deleted = QStringLiteral(" (deleted)");
    if (executable.endsWith(deleted))
        executable.chop(deleted.size());
    if (!executable.isEmpty())
        return QFileInfo(executable).fileName() == program;
    // Another user's process: only its name is shown, cut to 15 bytes.
    const qsizetype open = line.indexOf('(');
    return open >= 0 && program.toUtf8().left(15) == line.mid(open + 1, close - open - 1);
}

// Whether the holder the lines name is gone, on a file system that keeps no locks and so cannot
// say. Only a holder of this machine can be looked for: one on another host holds it. A file
// last written before this machine started holds nothing of this machine; one without readable
// lines, written since, may be a holder's that is about to write them.
bool abandonedByItsHolder(int fd, const struct stat &seen) {
    const std::optional<HolderLines> holder = HolderLines::read(fd);
    if (holder && holder->host != QSysInfo::machineHostName())
        return false;
    const qint64 writtenAt = seen.st_mtim.tv_sec;
    if (writtenAt < bootTime())
        return true;
    return holder && !runs(holder->pid, holder->program, writtenAt);
}

// Whether a process holds the file's locks. A holder takes them the moment it creates the
// file and keeps them while it runs, whatever the file says (it may be empty after a power cut,
// or name another host); only what nobody holds is cleared. Where the file system keeps no locks
// at all, the lines the holder wrote decide.
Standing examineRegularFile(const QByteArray &path, const struct stat &seen) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {Standing::blocking, systemReason(errno)};
    const auto finish = [fd](Standing standing) {
        ::close(fd);
        return standing;
    };
    const int flocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    if (flocked == EWOULDBLOCK)
        return finish({Standing::held});
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    const int ranged = ::fcntl(fd, F_SETLK, &range) == 0 ? 0 : errno;
    if (ranged == EACCES || ranged == EAGAIN)
        return finish({Standing::held});
    struct stat now {};
    if (flocked != 0 && ranged != 0) {
        qCInfo(lcApp) << "the file system keeps no locks; the lock's holder lines decide:"
                      << systemReason(flocked);
        if (!abandonedByItsHolder(fd, seen))
            return finish({Standing::held});
        // Only the file that was judged.
        if (::lstat(path.constData(), &now) != 0 || now.st_ino != seen.st_ino ||
            now.st_dev != seen.st_dev)
            return finish({Standing::held});
    } else {
        // A holder creates the file and locks it a moment later; a look just then would find it
        // free. Still free and still the same file a little later, it is abandoned.
        QThread::msleep(20);
        if (::fstat(fd, &now) != 0 || now.st_ino != seen.st_ino || now.st_dev != seen.st_dev ||
            now.st_nlink == 0)
            return finish({Standing::held});
    }
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
// looks. Whether it is held is the file lock's to say; these lines only where the file system
// keeps no locks.
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
