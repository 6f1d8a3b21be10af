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
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
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
        // Another launch changed what stands there while this one looked: look again.
        changed,
        // It cannot be cleared; `reason` says why.
        blocking,
    } kind;
    QString reason = {};
};

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// This boot of this machine, and the process numbers this process sees: each the same for every
// process of the machine's boot that sees the same numbers.
QByteArray thisBootId() {
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? file.readLine(64).trimmed() : QByteArray();
}

QByteArray thisPidNamespace() {
    char target[64] = {};
    const ssize_t n = ::readlink("/proc/self/ns/pid", target, sizeof target - 1);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

// A process as /proc shows it: whether it runs, since which clock tick of the machine's boot, and
// the program it runs.
struct ProcessLook {
    enum State { gone, ended, running, unseen } state = unseen;
    qint64 startTicks = -1;
    // The file name of the program, or its name cut to 15 bytes where the program is not shown.
    QString program;
    bool programCut = false;

    static ProcessLook of(qint64 pid) {
        const QString process = QStringLiteral("/proc/") + QString::number(pid);
        QFile stat(process + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            // No /proc to read, or one that hides other users' processes: only whether it exists.
            if (::kill(pid_t(pid), 0) == 0 || errno == EPERM)
                return {};
            return {gone, -1, {}, false};
        }
        // "pid (name) state … starttime …": the name may hold anything, so the fields are counted
        // from its last ")".
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (open < 0 || close < 0 || fields.size() < 20)
            return {};
        // A zombie's or a dying process's files, and so its lock, are closed already.
        if (fields.at(0) == "Z" || fields.at(0) == "X")
            return {ended, -1, {}, false};
        ProcessLook look{running, fields.at(19).toLongLong(), {}, false};
        look.program = QFile::symLinkTarget(process + QStringLiteral("/exe"));
        // A program replaced by an update while it runs.
        static const QString deleted = QStringLiteral(" (deleted)");
        if (look.program.endsWith(deleted))
            look.program.chop(deleted.size());
        look.program = QFileInfo(look.program).fileName();
        if (look.program.isEmpty()) {
            // Another user's process: only its name is shown.
            look.program = QString::fromUtf8(line.mid(open + 1, close - open - 1));
            look.programCut = true;
        }
        return look;
    }
};

// What the lock file says of its holder, one a line: its process, program and host; then the
// machine's boot, the clock tick of that boot at which the process started, and the process
// numbers it sees. Lines of an older program end after the host.
struct HolderLines {
    qint64 pid = 0;
    QString program;
    QString host;
    QByteArray bootId;
    qint64 startTicks = -1;
    QByteArray pidNamespace;

    // Lines for process `pid` of this machine, as a holder writes them of itself.
    static QByteArray of(qint64 pid, const QString &program) {
        return QByteArray::number(pid) + '\n' + program.toUtf8() + '\n' +
               QSysInfo::machineHostName().toUtf8() + '\n' + thisBootId() + '\n' +
               QByteArray::number(ProcessLook::of(pid).startTicks) + '\n' + thisPidNamespace() +
               '\n';
    }

    static std::optional<HolderLines> read(int fd) {
        QByteArray bytes(4096, Qt::Uninitialized);
        const ssize_t n = ::pread(fd, bytes.data(), size_t(bytes.size()), 0);
        if (n <= 0)
            return std::nullopt;
        bytes.truncate(n);
        // Only lines a holder finished count.
        const qsizetype end = bytes.lastIndexOf('\n');
        if (end < 0)
            return std::nullopt;
        const QList<QByteArray> lines = bytes.first(end).split('\n');
        bool numeric = false;
        HolderLines holder;
        holder.pid = lines.value(0).toLongLong(&numeric);
        holder.program = QString::fromUtf8(lines.value(1));
        holder.host = QString::fromUtf8(lines.value(2));
        if (lines.size() < 3 || !numeric || holder.pid <= 0 ||
            holder.pid > std::numeric_limits<pid_t>::max() || holder.program.isEmpty() ||
            holder.host.isEmpty())
            return std::nullopt;
        bool ticks = false;
        holder.startTicks = lines.value(4).toLongLong(&ticks);
        if (lines.size() >= 6 && ticks && !lines.at(3).isEmpty() && !lines.at(5).isEmpty()) {
            holder.bootId = lines.at(3);
            holder.pidNamespace = lines.at(5);
        }
        return holder;
    }

    // Whether the lines name a process that runs now: one of this host, this boot and these
    // process numbers that started at the tick they give. Such lines hold the file whatever its
    // locks say: a POSIX lock goes when its process closes any descriptor of the file, and the
    // holder may keep a kind of lock this process is refused. A holder that ended, or whose
    // number another process has now, is not named.
    bool running() const {
        if (host != QSysInfo::machineHostName() || bootId.isEmpty() || bootId != thisBootId() ||
            pidNamespace != thisPidNamespace())
            return false;
        const ProcessLook process = ProcessLook::of(pid);
        return process.state == ProcessLook::running && process.startTicks == startTicks;
    }

    // Whether the holder is gone, on a file system that keeps no locks and so cannot say. Only a
    // holder of this machine's boot whose process this one can see can be looked for: one of
    // another host or of process numbers this one does not see holds it. No clock decides: a
    // file's time on a network drive is the server's, and this machine's clock can be set.
    bool gone() const {
        if (host != QSysInfo::machineHostName())
            return false;
        if (!bootId.isEmpty()) {
            const QByteArray boot = thisBootId();
            if (boot.isEmpty())
                return false;
            if (bootId != boot)
                return true;
            if (pidNamespace != thisPidNamespace())
                return false;
        }
        const ProcessLook process = ProcessLook::of(pid);
        if (process.state != ProcessLook::running)
            return process.state != ProcessLook::unseen;
        if (!bootId.isEmpty())
            return process.startTicks != startTicks;
        // Lines of an older program: a later process given the same number shows by its program.
        if (process.programCut)
            return program.toUtf8().left(15) != process.program.toUtf8();
        return process.program != program;
    }
};

// Whether another holds a record (`fcntl`) lock on the file, asked by the first of the two
// commands the file system answers: an open-file-description lock's test sees POSIX locks too.
bool recordLocked(int fd) {
    for (const int command : {F_OFD_GETLK, F_GETLK}) {
        struct flock range {};
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        if (::fcntl(fd, command, &range) == 0)
            return range.l_type != F_UNLCK;
    }
    return false;
}

// Locks the whole file with the first kind of lock the file system keeps, in the order every
// holder tries them: `flock`, then an open-file-description lock, then a POSIX one. 0 when this
// descriptor holds it now, EWOULDBLOCK when another does, or why the file system keeps none.
// A launch that judges the file asks every kind before it calls it free: `flock` does not see
// the record locks, which a holder refused a `flock` keeps, so having taken one it asks for
// those too (a record lock taken sees the others itself, and a test after it would see its own).
int lockWholeFile(int fd, bool judging = false) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return judging && recordLocked(fd) ? EWOULDBLOCK : 0;
    int error = errno;
    if (error == EWOULDBLOCK)
        return EWOULDBLOCK;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    for (const int command : {F_OFD_SETLK, F_SETLK}) {
        if (::fcntl(fd, command, &range) == 0)
            return 0;
        error = errno;
        if (error == EACCES || error == EAGAIN)
            return EWOULDBLOCK;
    }
    return error;
}

bool sameFile(const struct stat &one, const struct stat &other) {
    return one.st_ino == other.st_ino && one.st_dev == other.st_dev;
}

// Whether the lock file still stands at `path` as the file open at `fd`.
bool standsAt(int fd, const QByteArray &path) {
    struct stat open {};
    struct stat there {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &there) == 0 &&
           sameFile(open, there);
}

// The holder lines of the file at `path`, read without following a link or waiting on a writer.
std::optional<HolderLines> linesAt(const QByteArray &path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<HolderLines> holder = HolderLines::read(fd);
    ::close(fd);
    return holder;
}

// Puts a file set aside back at `path`. Where another launch has made a lock there meanwhile, the
// one set aside is nobody's to find any more and is removed, unless its lines cannot show its
// holder gone: a holder that runs on keeps its file, if not its name.
void putBack(const QByteArray &aside, const QByteArray &path) {
    if (::renameat2(AT_FDCWD, aside.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0)
        return;
    int error = errno;
    // A file system that cannot refuse to replace in a rename can refuse to link over a name.
    if (error != EEXIST)
        error = ::link(aside.constData(), path.constData()) == 0 ? 0 : errno;
    if (error == EEXIST) {
        const std::optional<HolderLines> holder = linesAt(aside);
        if (holder && !holder->gone()) {
            qCWarning(lcApp) << "the lock file set aside at" << QFile::decodeName(aside)
                             << "names a holder that may run, and is kept there: another lock "
                                "stands at its name";
            return;
        }
    }
    if (error == 0 || error == EEXIST)
        ::unlink(aside.constData());
    else
        qCWarning(lcApp) << "the lock file set aside at" << QFile::decodeName(aside)
                         << "cannot be put back:" << systemReason(error);
}

// Whether a process holds the lock file: a lock of any kind another process keeps on it, or
// lines that name a process running now (see HolderLines::running); only where the file system
// keeps no locks do lines that cannot show their holder gone hold it too. A holder takes the locks
// the moment it creates the file and keeps them while it runs, whatever the file says (it may be
// empty after a power cut, or name another host); only what nobody holds is cleared.
Standing examineRegularFile(const QByteArray &path, const struct stat &seen) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Standing{Standing::changed}
                               : Standing{Standing::blocking, systemReason(errno)};
    const auto finish = [fd](Standing standing) {
        ::close(fd);
        return standing;
    };
    struct stat now {};
    if (::fstat(fd, &now) != 0 || !sameFile(now, seen))
        return finish({Standing::changed});
    const int locked = lockWholeFile(fd, true);
    if (locked == EWOULDBLOCK)
        return finish({Standing::held});
    const auto holds = [locked](const std::optional<HolderLines> &holder) {
        return holder && (locked == 0 ? holder->running() : !holder->gone());
    };
    // A holder takes its lock, and writes its lines, the moment it has made the file; a look just
    // then finds it free or without lines. A second look a little later tells.
    const auto abandoned = [&] {
        std::optional<HolderLines> holder = HolderLines::read(fd);
        if (!holder) {
            QThread::msleep(100);
            holder = HolderLines::read(fd);
        }
        return !holds(holder);
    };
    if (locked == 0) {
        QThread::msleep(20);
        if (::fstat(fd, &now) != 0 || now.st_nlink == 0)
            return finish({Standing::changed});
    } else {
        qCInfo(lcApp) << "the file system keeps no locks; the lock's holder lines decide:"
                      << systemReason(locked);
    }
    if (!abandoned())
        return finish({Standing::held});
    // Set aside under a name of its own before it is removed, so that what is removed is the file
    // judged and nothing another launch made at the lock's name meanwhile.
    const QByteArray aside = path.left(path.lastIndexOf('/') + 1) + ".Velmora.lock." +
                             QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    if (::rename(path.constData(), aside.constData()) != 0)
        return finish(errno == ENOENT ? Standing{Standing::changed}
                                      : Standing{Standing::blocking, systemReason(errno)});
    struct stat setAside {};
    if (::lstat(aside.constData(), &setAside) != 0 || !sameFile(setAside, now)) {
        putBack(aside, path);
        return finish({Standing::changed});
    }
    // A holder that made the file as it was judged, and whose lock this process does not see or
    // where nothing keeps locks, has written its lines by now.
    if (holds(HolderLines::read(fd))) {
        putBack(aside, path);
        return finish({Standing::held});
    }
    if (::unlink(aside.constData()) != 0 && errno != ENOENT)
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

// What the lock file holds: the lines that name this process as its holder, for a person who
// looks and for a launch where the file system keeps no locks.
QByteArray holderLines() {
    const QString program = QCoreApplication::instance()
                                ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                : QString();
    return HolderLines::of(QCoreApplication::applicationPid(), program);
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
        if (standsAt(fd, native))
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
    const int locked = lockWholeFile(fd);
    if (locked == EWOULDBLOCK) {
        ::close(fd);
        return EEXIST;
    }
    // A file system without locks: the file's being there and its lines keep other launches off.
    if (locked != 0)
        qCWarning(lcApp) << "the lock at" << m_path << "is not locked:" << systemReason(locked);
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
    // A launch that judged the file as it was made, before it was locked or had its lines, may
    // have set it aside: this launch then looks again.
    if (!standsAt(fd, path)) {
        ::close(fd);
        return EAGAIN;
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
    // Tries again after clearing what nobody holds, or where another launch changed what stands
    // there while this one looked; a lock back by then is another launch's, which the next look
    // finds held. The file is made only where nothing stands, so a link or a fifo in its place
    // is never followed or read.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int error = create();
        if (error == 0)
            return claimStore(store);
        if (error == EAGAIN)
            continue;
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
