#include "platform/FileSystemError.h"
#include "platform/SerialExecutor.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;

namespace {

struct Hops {
    QThread *before = nullptr;
    QThread *worker = nullptr;
    QThread *after = nullptr;
};

QCoro::Task<Hops> hop(SerialExecutor &executor) {
    Hops hops;
    hops.before = QThread::currentThread();
    auto work = executor.run([] { return QThread::currentThread(); });
    hops.worker = co_await work;
    hops.after = QThread::currentThread();
    co_return hops;
}

QCoro::Task<int> failing(SerialExecutor &executor) {
    auto work = executor.run([]() -> int { throw std::runtime_error("worker failed"); });
    co_return co_await work;
}

// Unsynchronised on purpose: only the serial worker touches `order`.
QCoro::Task<void> appendOnWorker(SerialExecutor &executor, std::shared_ptr<QList<int>> order,
                                 int i) {
    auto work = executor.run([order, i] {
        QThread::usleep(100);
        order->append(i);
    });
    co_await work;
}

qint64 modeOf(const QString &path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 0777;
}

} // namespace

class SerialExecutorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsOnTheWorkerAndResumesOnTheCaller() {
        SerialExecutor executor;
        const Hops hops = test::waitFor(hop(executor));
        QCOMPARE(hops.before, QThread::currentThread());
        QCOMPARE(hops.after, QThread::currentThread());
        QVERIFY(hops.worker != QThread::currentThread());
    }

    void carriesExceptionsBack() {
        SerialExecutor executor;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, test::waitFor(failing(executor)));
        // The worker survives a failed job.
        QVERIFY(test::waitFor(hop(executor)).worker != nullptr);
    }

    void runsJobsOneAtATimeInOrder() {
        SerialExecutor executor;
        QList<int> expected;
        for (int i = 0; i < 40; ++i)
            expected.append(i);
        auto order = std::make_shared<QList<int>>();
        std::vector<QCoro::Task<void>> tasks;
        for (int i = 0; i < 40; ++i)
            tasks.push_back(appendOnWorker(executor, order, i));
        for (auto &task : tasks)
            test::waitFor(std::move(task));
        QCOMPARE(*order, expected);
    }

    void destructionFinishesQueuedJobs() {
        auto order = std::make_shared<QList<int>>();
        std::vector<QCoro::Task<void>> tasks;
        {
            SerialExecutor executor;
            for (int i = 0; i < 20; ++i)
                tasks.push_back(appendOnWorker(executor, order, i));
        }
        QCOMPARE(order->size(), 20);
        for (auto &task : tasks)
            test::waitFor(std::move(task));
    }

    void workAfterStopFailsInsteadOfHanging() {
        SerialExecutor executor;
        executor.stop();
        QVERIFY_THROWS_EXCEPTION(std::logic_error, test::waitFor(hop(executor)));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, executor.runAndWait([] { return 1; }));
    }

    void atomicWriteReplacesTheFileForTheOwnerOnly() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("page.drawing"));
        writeFileAtomically(path, "first");
        writeFileAtomically(path, "second version");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second version"));
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("page.drawing")});
    }

    void fileSystemFailuresPassOn() {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("absent/page.drawing"));
        try {
            writeFileAtomically(missing, "bytes");
            QFAIL("writing into a missing folder succeeded");
        } catch (const FileSystemError &error) {
            QCOMPARE(error.errorNumber(), ENOENT);
        }
        QFile blocker(dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY_THROWS_EXCEPTION(FileSystemError, createDirectories(blocker.fileName() + "/inner"));
        removeFileDurably(dir.filePath(QStringLiteral("never-there")));
    }

    // The diary's own files are read as regular files up to a limit: no link is followed, and
    // what is no file is neither waited on nor read without end.
    void readsOnlyARegularFileUpToItsLimit_data() {
        QTest::addColumn<QString>("standing");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        const QByteArray sixteen = "sixteen bytes...";
        QTest::newRow("a file") << "a file" << sixteen << 0;
        QTest::newRow("a file past the limit") << "a file" << sixteen + "!" << EFBIG;
        QTest::newRow("nothing") << "nothing" << sixteen << ENOENT;
        QTest::newRow("a link to a file") << "a link" << sixteen << ELOOP;
        QTest::newRow("a link to /dev/zero") << "/dev/zero" << sixteen << ELOOP;
        QTest::newRow("a pipe") << "a pipe" << sixteen << EINVAL;
        QTest::newRow("a folder") << "a folder" << sixteen << EISDIR;
    }

    void readsOnlyARegularFileUpToItsLimit() {
        QFETCH(QString, standing);
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("index.json"));
        test::standAt(path, standing, bytes);
        QByteArray read;
        int thrown = 0;
        QVERIFY(test::endsWithoutWaiting(path, [&] {
            try {
                read = readRegularFile(path, 16);
            } catch (const FileSystemError &failure) {
                thrown = failure.errorNumber();
            }
        }));
        QCOMPARE(thrown, error);
        QCOMPARE(read, error == 0 ? bytes : QByteArray());
    }

    // The reason is the one mkdir gave. The kernel's own folders refuse even root, which runs
    // the tests here.
    void aFolderThatCannotBeMadeReportsWhy() {
        const QString parent =
            QStringLiteral("/sys/velmora-%1").arg(QCoreApplication::applicationPid());
        errno = 0;
        if (::mkdir(QFile::encodeName(parent).constData(), 0700) == 0) {
            ::rmdir(QFile::encodeName(parent).constData());
            QSKIP("this system lets the folder be made");
        }
        const int expected = errno;
        QVERIFY(expected != ENOENT);
        try {
            createDirectories(parent + QStringLiteral("/Diary"));
            QFAIL("the folder was made");
        } catch (const FileSystemError &error) {
            QCOMPARE(error.errorNumber(), expected);
            QCOMPARE(error.path(), parent + QStringLiteral("/Diary"));
        }
    }
};

VELMORA_TEST_MAIN(SerialExecutorTest)
#include "tst_serialexecutor.moc"
