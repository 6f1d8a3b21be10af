#include "store/MigrationFixtures.h"
#include "support/PrivateSessionBus.h"
#include "support/ProgramRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

namespace {

const QString program = QStringLiteral(VELMORA_EXECUTABLE);

class Run : public ProgramRun {
public:
    Run(const QString &home, const QStringList &arguments, const QString &bus = {})
        : ProgramRun(program, home, arguments, bus) {}
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

} // namespace

class InstanceLockTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondProcessOnTheSameStoreLeaves() {
        QTemporaryDir home;
        const QString store = home.filePath(QStringLiteral("diary/store.sqlite"));
        Run first(home.path(), testArguments(store));
        QVERIFY2(first.waitUntilRunning(), qPrintable(first.errors()));
        QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("diary/Velmora.lock"))));

        Run second(home.path(), testArguments(store));
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
    // appears in the user's folders.
    void optionsOpenNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                              << QStringLiteral("--velmora-test-mode +Open a separate diary");
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                                 << QStringLiteral("^Velmora \\d+\\.\\d+\\n$");
        QTest::newRow("unknown") << QStringList{QStringLiteral("--bogus")} << 2
                                 << QStringLiteral("unknown option '--bogus'; see");
        QTest::newRow("unknown after test mode")
            << QStringList{QStringLiteral("--velmora-test-mode"), QStringLiteral("--nope")} << 2
            << QStringLiteral("unknown option '--nope'");
    }

    void optionsOpenNothing() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QTemporaryDir home;
        Run run(home.path(), arguments);
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
