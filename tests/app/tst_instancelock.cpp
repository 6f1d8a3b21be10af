#include "store/MigrationFixtures.h"
#include "support/PrivateSessionBus.h"
#include "support/ProgramRun.h"
#include "support/TestSupport.h"

#include "app/DiaryInstanceGuard.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {
// The disk syncs asked for on this thread.
thread_local int syncsAsked = 0;
// The kinds of lock refused while a test plays a file system that keeps only some of them, or
// none, as some network drives do. A holder forked meanwhile has the same refused.
enum RefusedLocks {
    noneRefused = 0,
    flockRefused = 1,
    descriptionLocksRefused = 2,
    processLocksRefused = 4,
    everyLockRefused = 7,
};
int refusedLocks = noneRefused;
// Run once just before or just after the next rename in the process, or just before the next
// flock, as another launch could act just then.
std::function<void()> beforeNextRename;
std::function<void()> afterNextRename;
std::function<void()> beforeNextLock;
// Run once as this thread next pauses, as a holder could act while a launch waits.
thread_local std::function<void()> duringNextPause;
} // namespace

// Stand in for the C library's for every caller in the process, refusing locks while asked to.
extern "C" int flock(int fd, int operation) {
    if (beforeNextLock)
        std::exchange(beforeNextLock, {})();
    if (refusedLocks & flockRefused) {
        errno = ENOLCK;
        return -1;
    }
    return int(::syscall(SYS_flock, fd, operation));
}

extern "C" int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    const bool description =
        command == F_OFD_SETLK || command == F_OFD_SETLKW || command == F_OFD_GETLK;
    const bool process = command == F_SETLK || command == F_SETLKW || command == F_GETLK;
    if ((description && (refusedLocks & descriptionLocksRefused)) ||
        (process && (refusedLocks & processLocksRefused))) {
        errno = ENOLCK;
        return -1;
    }
    return int(::syscall(SYS_fcntl, fd, command, argument));
}

extern "C" int fcntl64(int fd, int command, ...) __attribute__((alias("fcntl")));

extern "C" int rename(const char *from, const char *to) noexcept {
    if (beforeNextRename)
        std::exchange(beforeNextRename, {})();
    const int renamed = int(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
    if (afterNextRename)
        std::exchange(afterNextRename, {})();
    return renamed;
}

extern "C" int nanosleep(const timespec *duration, timespec *left) {
    if (duringNextPause)
        std::exchange(duringNextPause, {})();
    return int(::syscall(SYS_nanosleep, duration, left));
}

// Stand in for the C library's for every caller in the process, counting before they sync.
extern "C" int fsync(int fd) {
    ++syncsAsked;
    return int(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd) {
    ++syncsAsked;
    return int(::syscall(SYS_fdatasync, fd));
}

namespace {

const QString program = QStringLiteral(VELMORA_EXECUTABLE);

class Run : public ProgramRun {
public:
    Run(const QString &home, const QStringList &arguments, const QString &bus = {},
        const QProcessEnvironment &extra = {}, const QStringList &unset = {})
        : ProgramRun(program, home, arguments, bus, extra, unset) {}
    // A launch that finds its diary open elsewhere says so in a dialog as well as on standard
    // error, and waits there; a termination ends it as OK would. Its exit code, or -1.
    int answerAlreadyOpen() {
        if (!waitForLog(QStringLiteral("telling the person")))
            return -1;
        // Still there: the dialog waits for the person.
        QTest::qWait(200);
        if (process.state() != QProcess::Running)
            return -1;
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }
};

QStringList testArguments(const QString &store) {
    return {QStringLiteral("--velmora-test-mode"), QStringLiteral("--velmora-store-url"), store,
            QStringLiteral("--velmora-defaults-suite"), QStringLiteral("LockTests")};
}

// Names, sizes and times of everything in the folder.
QStringList listing(const QString &folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << info.filePath() + QLatin1Char(' ') + QString::number(info.size()) +
                       QLatin1Char(' ') + info.lastModified().toString(Qt::ISODateWithMs);
    }
    entries.sort();
    return entries;
}

// The lines this process writes in a lock file it holds.
QByteArray linesOfThisProcess() {
    QTemporaryDir folder;
    DiaryInstanceLock lock;
    if (lock.tryAcquire(folder.filePath(QStringLiteral("store.sqlite"))) !=
        DiaryInstanceLock::Outcome::acquired)
        return {};
    QFile file(lock.lockFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A process of its own that takes the lock on `store` as a launch does, once `start` (a pipe's
// ends) is closed, and keeps it until it is killed; it ends with this process. Asked to, it then
// opens the lock file and closes it again, as picking it for an import would.
class LockHolder {
public:
    explicit LockHolder(const QString &store, const int *start = nullptr,
                        bool closesADescriptor = false) {
        int report[2] = {-1, -1};
        if (::pipe2(report, O_CLOEXEC) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            char go = 0;
            if (start) {
                ::close(start[1]);
                (void)!::read(start[0], &go, 1);
            }
            DiaryInstanceLock lock;
            go = char(lock.tryAcquire(store));
            if (closesADescriptor)
                ::close(::open(QFile::encodeName(lock.lockFilePath()).constData(), O_RDONLY));
            (void)!::write(report[1], &go, 1);
            for (;;)
                ::pause();
        }
        ::close(report[1]);
        m_report = report[0];
    }
    ~LockHolder() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(m_report);
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    // What taking the lock came to, or -1.
    int outcome() {
        pollfd ready{m_report, POLLIN, 0};
        char outcome = 0;
        if (::poll(&ready, 1, 60000) != 1 || ::read(m_report, &outcome, 1) != 1)
            return -1;
        return outcome;
    }
    // Killed, and left a zombie unless reaped.
    void kill(bool reaped) {
        ::kill(pid, SIGKILL);
        siginfo_t ended{};
        ::waitid(P_PID, id_t(pid), &ended, WEXITED | (reaped ? 0 : WNOWAIT));
        if (reaped)
            pid = -1;
    }

    pid_t pid = -1;

private:
    int m_report = -1;
};

// Puts something at the lock's place, as a power cut, a crash, another machine or a stray
// command could leave it.
void leave(const QString &kind, const QString &lockPath) {
    const auto write = [&](const QByteArray &bytes) {
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    if (kind == u"empty file")
        write({});
    else if (kind == u"garbage")
        write(QByteArray("\x01\x02 not a lock \xff"));
    else if (kind == u"another host")
        write("4242\nvelmora\nelsewhere.example.org\n");
    else if (kind == u"a process that ended")
        write("999999999\nvelmora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    else if (kind == u"another program at its number")
        write(QByteArray::number(::getppid()) + "\nvelmora\n" +
              QSysInfo::machineHostName().toUtf8() + "\n");
    else if (kind.startsWith(u"this process") || kind == u"another pid namespace") {
        // pid, program, host, boot, start tick, pid namespace: as this process writes them.
        QList<QByteArray> lines = linesOfThisProcess().split('\n');
        QCOMPARE(lines.size(), 7);
        if (kind == u"this process, from another boot")
            lines[3] = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        else if (kind == u"this process's number, started later")
            lines[4] = QByteArray::number(lines[4].toLongLong() + 1);
        else if (kind == u"another pid namespace")
            lines[0] = "999999999", lines[5] = "pid:[1]";
        write(lines.join('\n'));
    } else if (kind == u"a live holder")
        write(QByteArray::number(::getpid()) + '\n' +
              QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n' +
              QSysInfo::machineHostName().toUtf8() + '\n');
    else if (kind == u"empty file from before this machine started") {
        write({});
        const timespec times[2] = {{946684800, 0}, {946684800, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(lockPath).constData(), times, 0), 0);
    } else if (kind == u"empty folder")
        QVERIFY(QDir().mkdir(lockPath));
    else if (kind == u"dangling link")
        QVERIFY(QFile::link(lockPath + QStringLiteral(".gone"), lockPath));
    else if (kind == u"link to a file") {
        QFile target(lockPath + QStringLiteral(".target"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("kept");
        target.close();
        QVERIFY(QFile::link(target.fileName(), lockPath));
    } else if (kind == u"fifo") {
        QVERIFY(::mkfifo(QFile::encodeName(lockPath).constData(), 0600) == 0);
    } else if (kind == u"link to a fifo") {
        const QString fifo = lockPath + QStringLiteral(".fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QVERIFY(QFile::link(fifo, lockPath));
    }
}

} // namespace

class InstanceLockTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A lock that no running process holds does not keep the diary shut, whatever stands there,
    // and is taken without waiting for the disk: the window is shown only once it is.
    void abandonedLocksAreCleared_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("locksKept"); // by the file system
        // The last: another launch sets the new file aside just as it is made, before its lines.
        for (const char *kind :
             {"nothing", "empty file", "garbage", "another host", "a process that ended",
              "empty folder", "dangling link", "link to a file", "link to a fifo",
              "nothing, set aside as it is made"})
            QTest::newRow(kind) << QString::fromLatin1(kind) << true;
        // Where nothing keeps locks, what the holder wrote tells whether it is gone; a file
        // without lines is still so at a second look.
        for (const char *kind :
             {"a process that ended", "another program at its number",
              "this process, from another boot", "this process's number, started later",
              "empty file", "garbage", "empty file from before this machine started"})
            QTest::addRow("%s, no locks", kind) << QString::fromLatin1(kind) << false;
    }

    void abandonedLocksAreCleared() {
        QFETCH(QString, kind);
        QFETCH(bool, locksKept);
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("diary"));
        QVERIFY(QDir().mkpath(folder));
        const QString lockPath = folder + QStringLiteral("/Velmora.lock");
        refusedLocks = locksKept ? noneRefused : everyLockRefused;
        const auto keepLocks = qScopeGuard([] {
            refusedLocks = noneRefused;
            beforeNextLock = {};
        });
        leave(kind, lockPath);
        if (kind == u"nothing, set aside as it is made")
            beforeNextLock = [native = QFile::encodeName(lockPath)] {
                QCOMPARE(::rename(native.constData(), (native + ".aside").constData()), 0);
            };
        DiaryInstanceLock lock;
        syncsAsked = 0;
        QCOMPARE(lock.tryAcquire(folder + QStringLiteral("/store.sqlite")),
                 DiaryInstanceLock::Outcome::acquired);
        QCOMPARE(syncsAsked, 0);
        QVERIFY(lock.isHeld());
        QVERIFY(QFileInfo(lockPath).isFile() && !QFileInfo(lockPath).isSymLink());
        // What a link pointed at is left alone.
        if (kind == u"link to a fifo")
            QVERIFY(QFileInfo::exists(lockPath + QStringLiteral(".fifo")));
        if (QFileInfo::exists(lockPath + QStringLiteral(".target"))) {
            QFile target(lockPath + QStringLiteral(".target"));
            QVERIFY(target.open(QIODevice::ReadOnly));
            QCOMPARE(target.readAll(), QByteArray("kept"));
        }
        // Taken, it keeps the next one off.
        DiaryInstanceLock next;
        QCOMPARE(next.tryAcquire(folder + QStringLiteral("/store.sqlite")),
                 DiaryInstanceLock::Outcome::heldByAnotherProcess);
        QVERIFY2(next.refusal(DiaryInstanceLock::Outcome::heldByAnotherProcess).contains(folder),
                 qPrintable(next.refusal(DiaryInstanceLock::Outcome::heldByAnotherProcess)));
    }

    // The refusals quote the folder and the lock file on one line of their own words, whatever
    // the folder is named.
    void refusalsQuoteTheFolderOnOneLine_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("shown");
        QTest::newRow("line breaks") << "/home/ada/" + QString(200, u'\n') + "Diary"
                                     << "/home/ada/" + QString("\\n").repeated(50);
        QTest::newRow("an override") << "/home/ada/\u202Eyraid"
                                     << "/home/ada/\\u202Eyraid";
        QTest::newRow("a long path") << QString("/folder").repeated(490) << "/folder/folder/fo";
        QTest::newRow("Hebrew") << "/home/\u05d9\u05d5\u05de\u05df"
                                << "\u2068/home/\u05d9\u05d5\u05de\u05df";
    }

    void refusalsQuoteTheFolderOnOneLine() {
        QFETCH(QString, folder);
        QFETCH(QString, shown);
        const QString open = DiaryInstanceLock::alreadyOpenMessage(folder);
        QVERIFY2(open.startsWith("Velmora is already open on the diary in " + shown),
                 qPrintable(open));
        QVERIFY(open.endsWith(". Close it there before opening it again."));
        const QString unavailable =
            DiaryInstanceLock::unavailableMessage(folder + "/Velmora.lock", "a reason");
        QVERIFY2(unavailable.startsWith("Velmora cannot open the diary: its lock file “" + shown),
                 qPrintable(unavailable));
        for (const QString &message : {open, unavailable})
            QCOMPARE(test::unevenShownText(message), QString());
    }

    // A live holder keeps the lock whatever its file holds; where the file system keeps no
    // locks, whatever its lines cannot show to be gone holds it.
    void aLiveHolderKeepsItsLock_data() {
        QTest::addColumn<QString>("kind"); // empty: locked, and the file emptied
        QTest::newRow("locked, and empty") << QString();
        // The last three: what a holder that made the file, or another launch, does while the
        // file is judged.
        for (const char *kind :
             {"a live holder", "this process", "another host", "another pid namespace",
              "a process that ended, replaced while judged",
              "empty file, its lines written during the second look",
              "empty file, its lines written as it is set aside",
              "a process that ended, replaced while judged, another lock made meanwhile"})
            QTest::addRow("%s, no locks", kind) << QString::fromLatin1(kind);
    }
    void aLiveHolderKeepsItsLock() {
        QFETCH(QString, kind);
        QTemporaryDir home;
        const QString lockPath = home.filePath(QStringLiteral("Velmora.lock"));
        QLockFile held(lockPath);
        if (kind.isEmpty()) {
            QVERIFY(held.tryLock(0));
            QFile file(held.fileName());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        } else {
            leave(kind.section(u',', 0, 0), lockPath);
        }
        refusedLocks = kind.isEmpty() ? noneRefused : everyLockRefused;
        const auto keepLocks = qScopeGuard([] {
            refusedLocks = noneRefused;
            beforeNextRename = {};
            afterNextRename = {};
            duringNextPause = {};
        });
        // A live holder's file takes the place of the abandoned one as it is judged; a third
        // launch makes its own lock while that one is set aside.
        if (kind.startsWith(u"a process that ended, replaced while judged"))
            beforeNextRename = [lockPath] {
                QFile::remove(lockPath);
                leave(QStringLiteral("this process"), lockPath);
            };
        if (kind.endsWith(u"another lock made meanwhile"))
            afterNextRename = [lockPath] { leave(QStringLiteral("a live holder"), lockPath); };
        // The holder that made the empty file writes its lines into it.
        const auto writeLines = [lockPath, lines = linesOfThisProcess()] {
            QFile file(lockPath);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size());
        };
        if (kind.endsWith(u"during the second look"))
            duringNextPause = writeLines;
        if (kind.endsWith(u"as it is set aside"))
            beforeNextRename = writeLines;
        DiaryInstanceLock lock;
        QCOMPARE(lock.tryAcquire(home.filePath(QStringLiteral("store.sqlite"))),
                 DiaryInstanceLock::Outcome::heldByAnotherProcess);
        QVERIFY(QFileInfo::exists(lockPath));
        // The live holder's file that could not be put back is kept where it was set aside.
        const QStringList aside =
            QDir(home.path())
                .entryList({QStringLiteral(".Velmora.lock.*")}, QDir::Files | QDir::Hidden);
        QCOMPARE(aside.size(), kind.endsWith(u"another lock made meanwhile") ? 1 : 0);
    }

    // A holder in a process of its own keeps the lock with whatever kind of lock the file system
    // keeps, or by its lines where it keeps none, whatever the file's time says; once it is
    // killed, also before it is reaped, the next launch clears it. Its lock alone keeps it where
    // its lines were emptied or name a process that ended; its lines alone where the next launch
    // cannot see its lock: a POSIX lock goes when its process closes any descriptor of the file,
    // and two processes may be refused different kinds.
    void aHolderKeepsTheLockUntilItEnds_data() {
        QTest::addColumn<int>("refused");     // in the holder
        QTest::addColumn<int>("refusedHere"); // in the next launch
        QTest::addColumn<QString>("change");  // made while it is held
        QTest::addColumn<bool>("reaped");
        const auto row = [](const char *name, int refused, int refusedHere, const char *change = "",
                            bool reaped = true) {
            QTest::newRow(name) << refused << refusedHere << QString::fromLatin1(change) << reaped;
        };
        const int flockAndDescription = flockRefused | descriptionLocksRefused;
        row("every lock kept", noneRefused, noneRefused);
        row("flock refused", flockRefused, flockRefused);
        row("flock and description locks refused", flockAndDescription, flockAndDescription);
        row("every lock refused", everyLockRefused, everyLockRefused);
        row("every lock refused, a zombie", everyLockRefused, everyLockRefused, "", false);
        row("every lock refused, file time 5 s behind", everyLockRefused, everyLockRefused,
            "file time 5 s behind");
        row("every lock refused, file time 5 s ahead", everyLockRefused, everyLockRefused,
            "file time 5 s ahead");
        row("flock refused, lines emptied", flockRefused, flockRefused, "empty file");
        row("flock and POSIX locks refused, lines of a process that ended",
            flockRefused | processLocksRefused, flockRefused | processLocksRefused,
            "a process that ended");
        row("flock and description locks refused, lines emptied", flockAndDescription,
            flockAndDescription, "empty file");
        row("flock and description locks refused, a descriptor of it closed", flockAndDescription,
            flockAndDescription, "a descriptor of it closed");
        row("flock and description locks refused in the holder only, lines emptied",
            flockAndDescription, noneRefused, "empty file");
        row("flock and description locks refused in the next launch only", noneRefused,
            flockAndDescription);
        row("flock refused in the holder only, lines emptied", flockRefused, noneRefused,
            "empty file");
        row("flock refused in the next launch only", noneRefused, flockRefused);
    }

    void aHolderKeepsTheLockUntilItEnds() {
        QFETCH(int, refused);
        QFETCH(int, refusedHere);
        QFETCH(QString, change);
        QFETCH(bool, reaped);
        QTemporaryDir home;
        const QString store = home.filePath(QStringLiteral("store.sqlite"));
        const QString lockPath = home.filePath(QStringLiteral("Velmora.lock"));
        refusedLocks = refused;
        const auto keepLocks = qScopeGuard([] { refusedLocks = noneRefused; });
        LockHolder holder(store, nullptr, change == u"a descriptor of it closed");
        QCOMPARE(holder.outcome(), int(DiaryInstanceLock::Outcome::acquired));
        refusedLocks = refusedHere;
        if (change.startsWith(u"file time")) {
            const timespec written{
                QDateTime::currentSecsSinceEpoch() + (change.endsWith(u"behind") ? -5 : 5), 0};
            const timespec times[2] = {written, written};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(lockPath).constData(), times, 0), 0);
        } else if (change == u"empty file" || change == u"a process that ended") {
            leave(change, lockPath);
        }
        DiaryInstanceLock next;
        QCOMPARE(next.tryAcquire(store), DiaryInstanceLock::Outcome::heldByAnotherProcess);
        QVERIFY(QFileInfo::exists(lockPath));
        holder.kill(reaped);
        QCOMPARE(next.tryAcquire(store), DiaryInstanceLock::Outcome::acquired);
    }

    // Two launches at once over what a crash left never both take the lock.
    void launchesAtOnceAfterACrash_data() {
        QTest::addColumn<int>("refused");
        QTest::addColumn<QString>("left");
        QTest::newRow("locks kept") << int(noneRefused) << "a process that ended";
        QTest::newRow("no locks") << int(everyLockRefused) << "a process that ended";
        QTest::newRow("no locks, an empty file") << int(everyLockRefused) << "empty file";
    }

    void launchesAtOnceAfterACrash() {
        QFETCH(int, refused);
        QFETCH(QString, left);
        refusedLocks = refused;
        const auto keepLocks = qScopeGuard([] { refusedLocks = noneRefused; });
        int taken = 0;
        for (int round = 0; round < 30; ++round) {
            QTemporaryDir home;
            const QString store = home.filePath(QStringLiteral("store.sqlite"));
            leave(left, home.filePath(QStringLiteral("Velmora.lock")));
            int start[2] = {-1, -1};
            QCOMPARE(::pipe2(start, O_CLOEXEC), 0);
            LockHolder one(store, start);
            LockHolder two(store, start);
            ::close(start[0]);
            ::close(start[1]);
            const int acquired = int(DiaryInstanceLock::Outcome::acquired);
            const int held = int(DiaryInstanceLock::Outcome::heldByAnotherProcess);
            const QList<int> outcomes{one.outcome(), two.outcome()};
            QVERIFY2(outcomes.count(acquired) + outcomes.count(held) == 2,
                     qPrintable(QString::number(round)));
            QVERIFY2(outcomes.count(acquired) <= 1, qPrintable(QString::number(round)));
            taken += int(outcomes.count(acquired));
        }
        QVERIFY(taken > 0);
    }

    // Where the lock truly cannot be taken, the refusal says why and names the file.
    void locksThatCannotBeTaken_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder with contents") << "folder"
                                                << "a folder stands in its place";
        QTest::newRow("a read-only folder")
            << "read-only" << QString::fromLocal8Bit(strerror(EACCES));
        QTest::newRow("a fifo") << "fifo"
                                << "something other than a file stands in its place";
        QTest::newRow("the store at the lock's own name") << "store"
                                                          << "the diary's store has that name";
    }

    void locksThatCannotBeTaken() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("diary"));
        const QString lockPath = folder + QStringLiteral("/Velmora.lock");
        QVERIFY(QDir().mkpath(lockPath + QStringLiteral("/inside")));
        if (kind == u"read-only") {
            if (::geteuid() == 0)
                QSKIP("permissions do not bind the superuser");
            QVERIFY(QDir(lockPath).removeRecursively());
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else if (kind == u"fifo") {
            QVERIFY(QDir(lockPath).removeRecursively());
            leave(kind, lockPath);
        } else if (kind == u"store") {
            QVERIFY(QDir(lockPath).removeRecursively());
            leave(QStringLiteral("garbage"), lockPath);
        }
        DiaryInstanceLock lock;
        QCOMPARE(
            lock.tryAcquire(kind == u"store" ? lockPath : folder + QStringLiteral("/store.sqlite")),
            DiaryInstanceLock::Outcome::unavailable);
        QCOMPARE(lock.failure(), reason);
        const QString refusal = lock.refusal(DiaryInstanceLock::Outcome::unavailable);
        QVERIFY2(refusal.contains(lockPath) && refusal.contains(reason), qPrintable(refusal));
        QVERIFY(!refusal.contains(QStringLiteral("already open")));
        if (kind == u"folder")
            QVERIFY(QFileInfo(lockPath + QStringLiteral("/inside")).isDir());
        if (kind == u"store")
            QCOMPARE(QFileInfo(lockPath).size(), 15);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }

    // Every way to one store file meets one lock: a link to the store or to its folder, a hard
    // link from another folder, or the same path after the lock file was deleted.
    void linkedStoresShareTheLock_data() {
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<bool>("lockFileDeleted");
        QTest::newRow("a link to the store") << "linked/store.sqlite" << false;
        QTest::newRow("a link to its folder") << "folder-link/store.sqlite" << false;
        QTest::newRow("dots in the path") << "real/../real/./store.sqlite" << false;
        QTest::newRow("store reached through a hard link") << "elsewhere/store.sqlite" << false;
        QTest::newRow("lock file deleted while held") << "real/store.sqlite" << true;
    }

    void linkedStoresShareTheLock() {
        QFETCH(QString, spelling);
        QFETCH(bool, lockFileDeleted);
        QTemporaryDir home;
        for (const char *folder : {"real", "linked", "elsewhere"})
            QVERIFY(QDir().mkpath(home.filePath(QString::fromLatin1(folder))));
        QFile store(home.filePath(QStringLiteral("real/store.sqlite")));
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.close();
        QVERIFY(
            QFile::link(store.fileName(), home.filePath(QStringLiteral("linked/store.sqlite"))));
        QVERIFY(QFile::link(home.filePath(QStringLiteral("real")),
                            home.filePath(QStringLiteral("folder-link"))));
        QCOMPARE(::link(QFile::encodeName(store.fileName()).constData(),
                        QFile::encodeName(home.filePath(QStringLiteral("elsewhere/store.sqlite")))
                            .constData()),
                 0);
        DiaryInstanceLock first;
        QCOMPARE(first.tryAcquire(store.fileName()), DiaryInstanceLock::Outcome::acquired);
        if (lockFileDeleted)
            QVERIFY(QFile::remove(home.filePath(QStringLiteral("real/Velmora.lock"))));
        DiaryInstanceLock second;
        QCOMPARE(second.tryAcquire(home.filePath(spelling)),
                 DiaryInstanceLock::Outcome::heldByAnotherProcess);
        QVERIFY(!second.isHeld());
        // The refused launch leaves no lock of its own behind.
        QCOMPARE(QFileInfo::exists(home.filePath(QStringLiteral("real/Velmora.lock"))),
                 !lockFileDeleted);
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("elsewhere/Velmora.lock"))));
    }

    // The program itself starts over an abandoned lock, and refuses a second process that
    // reaches the same store through a link.
    void programClearsAnAbandonedLock() {
        QTemporaryDir home;
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("diary"))));
        leave(QStringLiteral("empty file"), home.filePath(QStringLiteral("diary/Velmora.lock")));
        Run first(home.path(), testArguments(home.filePath(QStringLiteral("diary/store.sqlite"))));
        QVERIFY2(first.waitUntilRunning(), qPrintable(first.errors()));

        QVERIFY(QFile::link(home.filePath(QStringLiteral("diary")),
                            home.filePath(QStringLiteral("elsewhere"))));
        Run second(home.path(),
                   testArguments(home.filePath(QStringLiteral("elsewhere/store.sqlite"))));
        QCOMPARE(second.answerAlreadyOpen(), 1);
        QVERIFY2(
            second.errors().contains(QStringLiteral("Velmora is already open on the diary in ")),
            qPrintable(second.errors()));
        QVERIFY2(first.terminate(), qPrintable(first.errors()));
    }

    // A lock file the program cannot read without waiting for a writer is never waited on: the
    // launch says why it cannot open the diary, or clears a link, and a termination still ends it.
    void programNeverWaitsOnTheLock_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opens");
        QTest::newRow("fifo") << "fifo" << false;
        QTest::newRow("link to a fifo") << "link to a fifo" << true;
    }

    void programNeverWaitsOnTheLock() {
        QFETCH(QString, kind);
        QFETCH(bool, opens);
        QTemporaryDir home;
        const QString lockPath = home.filePath(QStringLiteral("diary/Velmora.lock"));
        QVERIFY(QDir().mkpath(QFileInfo(lockPath).path()));
        leave(kind, lockPath);
        Run run(home.path(), testArguments(home.filePath(QStringLiteral("diary/store.sqlite"))));
        if (opens) {
            QVERIFY2(run.waitUntilRunning(), qPrintable(run.errors()));
            QVERIFY2(run.terminate(), qPrintable(run.errors()));
            return;
        }
        QCOMPARE(run.answerAlreadyOpen(), 1);
        QVERIFY2(run.errors().contains(lockPath + QStringLiteral("” cannot be taken")),
                 qPrintable(run.errors()));
    }

    // The first launch makes the store; a second process on it leaves, also when the lock file
    // was deleted meanwhile or the second reaches the store through a hard link.
    void secondProcessOnTheSameStoreLeaves_data() {
        QTest::addColumn<QString>("way");
        for (const char *way : {"the same path", "lock file deleted", "a hard link"})
            QTest::newRow(way) << QString::fromLatin1(way);
    }

    void secondProcessOnTheSameStoreLeaves() {
        QFETCH(QString, way);
        QTemporaryDir home;
        const QString store = home.filePath(QStringLiteral("diary/store.sqlite"));
        Run first(home.path(), testArguments(store));
        QVERIFY2(first.waitUntilRunning(), qPrintable(first.errors()));
        QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("diary/Velmora.lock"))));

        QString reached = store;
        if (way == u"lock file deleted")
            QVERIFY(QFile::remove(home.filePath(QStringLiteral("diary/Velmora.lock"))));
        if (way == u"a hard link") {
            reached = home.filePath(QStringLiteral("elsewhere/store.sqlite"));
            QVERIFY(QDir().mkpath(QFileInfo(reached).path()));
            QCOMPARE(::link(QFile::encodeName(store).constData(),
                            QFile::encodeName(reached).constData()),
                     0);
        }
        Run second(home.path(), testArguments(reached));
        QCOMPARE(second.answerAlreadyOpen(), 1);
        QVERIFY2(
            second.errors().contains(QStringLiteral("Velmora is already open on the diary in ")),
            qPrintable(second.errors()));

        QVERIFY2(first.terminate(), qPrintable(first.errors()));
        QVERIFY(first.errors().contains(QStringLiteral("asks to quit")));
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("diary/Velmora.lock"))));
    }

    void lockedStoreIsNotTouched() {
        // An old store that a launch would migrate, locked by a running process (this one).
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("diary"));
        QDir().mkpath(folder);
        const QString store = folder + QStringLiteral("/store.sqlite");
        writeLegacyV1Store(store, QList<LegacyEntryPayload>{legacyEntry(
                                      QStringLiteral("2019-05-02"), QStringLiteral("Old page"))});
        QLockFile lock(folder + QStringLiteral("/Velmora.lock"));
        QVERIFY(lock.tryLock(0));
        const QStringList before = listing(folder);

        Run second(home.path(), testArguments(store));
        QCOMPARE(second.answerAlreadyOpen(), 1);
        QVERIFY2(second.errors().contains(folder), qPrintable(second.errors()));
        QCOMPARE(listing(folder), before);
        QVERIFY(isStoreOf(store, DiaryModelProvider::legacyV1Model()));
    }

    // Asking for the options or mistyping one answers on the terminal and opens no diary: nothing
    // appears in the user's folders. Without a display, the options are still answered, and a
    // launch says in one line what it lacks instead of failing inside the toolkit.
    void optionsOpenNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        // DISPLAY, with Qt's platform left to choose; the offscreen platform when "offscreen".
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        const QString offscreen = QStringLiteral("offscreen");
        const QString noDisplay = QStringLiteral("^Velmora needs a graphical desktop session: ");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << offscreen << 0
                              << QStringLiteral("--velmora-test-mode +Open a separate diary");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << offscreen << 0
                                 << QStringLiteral("^Velmora \\d+\\.\\d+\\n$");
        QTest::newRow("unknown") << QStringList{QStringLiteral("--bogus")} << offscreen << 2
                                 << QStringLiteral("unknown option '--bogus'; see");
        QTest::newRow("unknown after test mode")
            << QStringList{QStringLiteral("--velmora-test-mode"), QStringLiteral("--nope")}
            << offscreen << 2 << QStringLiteral("unknown option '--nope'");
        QTest::newRow("help without a display")
            << QStringList{QStringLiteral("--help")} << QString() << 0
            << QStringLiteral("--velmora-test-mode +Open a separate diary");
        QTest::newRow("no display") << QStringList{} << QString() << 1 << noDisplay;
        QTest::newRow("a display that does not answer")
            << QStringList{} << QStringLiteral(":32767") << 1 << noDisplay;
    }

    void optionsOpenNothing() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QTemporaryDir home;
        QProcessEnvironment screen;
        QStringList unset{QStringLiteral("WAYLAND_DISPLAY")};
        if (display != u"offscreen")
            unset << QStringLiteral("QT_QPA_PLATFORM");
        if (display.isEmpty() || display == u"offscreen")
            unset << QStringLiteral("DISPLAY");
        else
            screen.insert(QStringLiteral("DISPLAY"), display);
        Run run(home.path(), arguments, {}, screen, unset);
        QVERIFY(run.process.waitForFinished(60000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(run.process.readAllStandardOutput());
        const QString said = exitCode == 0 ? out : run.errors();
        QVERIFY2(said.contains(QRegularExpression(printed)), qPrintable(said));
        if (exitCode != 0)
            QCOMPARE(said.trimmed().count(QLatin1Char('\n')), 0);
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("data/Velmora"))));
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("config/Velmora"))));
    }

    void twoStoresSideBySide() {
        QTemporaryDir home;
        Run first(home.path(), testArguments(home.filePath(QStringLiteral("one/store.sqlite"))));
        Run second(home.path(), testArguments(home.filePath(QStringLiteral("two/store.sqlite"))));
        QVERIFY2(first.waitUntilRunning(), qPrintable(first.errors()));
        QVERIFY2(second.waitUntilRunning(), qPrintable(second.errors()));
        QCOMPARE(first.process.state(), QProcess::Running);
        QCOMPARE(second.process.state(), QProcess::Running);
        QVERIFY2(first.terminate(), qPrintable(first.errors()));
        QVERIFY2(second.terminate(), qPrintable(second.errors()));
    }

    void secondLiveLaunchShowsTheFirst() {
        QTemporaryDir home;
        PrivateSessionBus daemon;
        const QString bus = daemon.address();
        if (!daemon.started())
            QSKIP("dbus-daemon cannot be started here");
        QVERIFY(!bus.isEmpty());

        Run first(home.path(), {}, bus);
        QVERIFY2(first.waitUntilRunning(), qPrintable(first.errors()));
        QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("data/Velmora/Velmora.lock"))));
        Run second(home.path(), {}, bus);
        QVERIFY(second.process.waitForFinished(60000));
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(waitUntil([&] {
            return first.errors().contains(QStringLiteral("a second launch asks for the window"));
        }));
        QVERIFY2(first.terminate(), qPrintable(first.errors()));
    }
};

VELMORA_TEST_MAIN(InstanceLockTests)
#include "tst_instancelock.moc"
