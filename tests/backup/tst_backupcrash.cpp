#include "BackupFixture.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/StoreFixture.h"
#include "store/StoreReplacement.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

using namespace velmora;
using namespace velmora::test;

namespace {

// Starts the child, waits for its first line and kills it; returns that line.
QByteArray killAtFirstLine(const QStringList &arguments, std::chrono::milliseconds after = {}) {
    QProcess child;
    child.start(QStringLiteral(VELMORA_BACKUP_CRASH_CHILD), arguments);
    if (!child.waitForStarted())
        return {};
    waitUntil([&] { return child.canReadLine(); }, std::chrono::seconds(60));
    QTest::qWait(int(after.count()));
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    return child.readAllStandardOutput();
}

std::shared_ptr<DiaryRepository> openStore(const QString &path) {
    auto stack = std::make_shared<DiaryPersistenceStack>(
        path, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    return std::make_shared<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
}

QStringList safetyBackups(const QString &quarantine) {
    return QDir(quarantine).entryList({QStringLiteral("Before-Restore-*")}, QDir::Dirs);
}

// A diary folder whose store cannot be opened (the store, its -wal and its -shm hold no
// database) and a package to restore it from: what the load-failure card's restore meets.
struct UnopenableDiary {
    QTemporaryDir dir;
    QString store = dir.filePath(QStringLiteral("Diary.sqlite"));
    QString package = dir.filePath(QStringLiteral("Backups/Diary.velmorabackup"));
    QString setAside = dir.filePath(QStringLiteral("Recovery/Quarantine/Unopenable-1"));
    DiarySnapshotDTO packaged{metadata(), {}, {}};
    QHash<QString, QByteArray> damaged;

    UnopenableDiary() {
        for (int i = 1; i <= 120; ++i)
            packaged.entries.append(entry(QStringLiteral("2023-%1-%2")
                                              .arg((i - 1) / 28 + 1, 2, 10, QLatin1Char('0'))
                                              .arg((i - 1) % 28 + 1, 2, 10, QLatin1Char('0'))
                                              .toLatin1()
                                              .constData(),
                                          QString(4000, QLatin1Char('a' + i % 26))));
        QDir().mkpath(dir.filePath(QStringLiteral("Backups")));
        DiarySnapshotService::writePackage(packaged, package, QDateTime::currentDateTimeUtc());
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            QFile file(store + suffix);
            if (file.open(QIODevice::WriteOnly))
                file.write(QByteArray("no database here ").repeated(300) + suffix.toLatin1());
        }
        // The card is shown after a launch failed; what that launch left is what must be kept.
        QVERIFY(!nextLaunch());
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            if (QFileInfo::exists(store + suffix))
                damaged.insert(QStringLiteral("Diary.sqlite") + suffix, fileBytes(store + suffix));
        }
        QVERIFY(damaged.contains(QStringLiteral("Diary.sqlite")));
    }

    // Runs the card's restore in a child, killed where it stops at `step`, or `after` the
    // restore began; answers what it printed after "STARTED".
    QByteArray restore(const QString &step, std::optional<std::chrono::milliseconds> after = {},
                       std::optional<qint64> largestFile = {}, qint64 *took = nullptr) const {
        QStringList arguments{QStringLiteral("card-restore"), store, package, setAside, step};
        if (largestFile)
            arguments.append(QString::number(*largestFile));
        QProcess child;
        child.start(QStringLiteral(VELMORA_BACKUP_CRASH_CHILD), arguments);
        if (!child.waitForStarted())
            return {};
        QByteArray output;
        const auto lines = [&](int count) {
            return waitUntil(
                [&] {
                    output += child.readAllStandardOutput();
                    return output.count('\n') >= count || child.state() == QProcess::NotRunning;
                },
                std::chrono::seconds(60));
        };
        lines(1);
        QElapsedTimer clock;
        clock.start();
        if (after)
            child.waitForFinished(int(after->count()));
        else
            lines(2);
        if (took)
            *took = clock.elapsed();
        if (child.state() != QProcess::NotRunning) {
            ::kill(pid_t(child.processId()), SIGKILL);
            child.waitForFinished();
        }
        output += child.readAllStandardOutput();
        return output.startsWith("STARTED\n") ? output.mid(8) : output;
    }

    // The diary the next launch opens; none when it shows the load-failure card again.
    std::optional<DiarySnapshotDTO> nextLaunch() const {
        try {
            UserDefaults defaults(dir.filePath(QStringLiteral("launch.ini")));
            DiaryMigrationCoordinator().prepareStore(store, defaults, QTimeZone::utc());
            return test::waitFor(openStore(store)->snapshot());
        } catch (const DiaryError &) {
            return std::nullopt;
        }
    }

    // Every damaged file is still there, byte for byte: in its place or set aside.
    bool damagedFilesKept() const {
        for (auto file = damaged.cbegin(); file != damaged.cend(); ++file) {
            if (fileBytes(dir.filePath(file.key())) != file.value() &&
                fileBytes(setAside + QLatin1Char('/') + file.key()) != file.value())
                return false;
        }
        return true;
    }

    QStringList stagedStores() const { return entriesOf(storeReplacementDirectory(store)); }
};

} // namespace

class BackupCrashTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A writer killed at any step leaves no package under the name, the list as it was, and
    // room for the next backup; the next backup an hour later takes the killed one's staging
    // folder away, and leaves a younger one (a backup still being written) alone.
    void killedWriteLeavesNoPackage_data() {
        QTest::addColumn<QString>("step");
        for (const char *step : {"recordsWritten", "manifestWritten", "validated", "beforeMove"})
            QTest::newRow(step) << QString::fromLatin1(step);
    }

    void killedWriteLeavesNoPackage() {
        QFETCH(QString, step);
        QTemporaryDir dir;
        copyPackage(backupData(QStringLiteral("valid.velmorabackup")), dir.path());
        const QList<SnapshotSummary> before = DiarySnapshotService::listSnapshots(dir.path());
        QCOMPARE(killAtFirstLine({QStringLiteral("write"), dir.path(), step}),
                 QByteArray("AT " + step.toLatin1() + '\n'));
        const QString target = dir.filePath(QStringLiteral("Crash.velmorabackup"));
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(DiarySnapshotService::listSnapshots(dir.path()), before);
        const QStringList killed =
            QDir(dir.path())
                .entryList({QStringLiteral(".velmora-snapshot-*")}, QDir::Dirs | QDir::Hidden);
        QCOMPARE(killed.size(), 1);
        age(dir.filePath(killed.first()), 2 * 3600);
        const QString younger = dir.filePath(QStringLiteral(".velmora-snapshot-younger"));
        QVERIFY(QDir().mkpath(younger));
        age(younger, 50 * 60);

        QProcess child;
        child.start(QStringLiteral(VELMORA_BACKUP_CRASH_CHILD),
                    {QStringLiteral("write"), dir.path(), QStringLiteral("none")});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(DiarySnapshotService::listSnapshots(dir.path()).size(), 2);
        QCOMPARE(DiarySnapshotService::validatePackage(target).entryCount, 200);
        QCOMPARE(QDir(dir.path())
                     .entryList({QStringLiteral(".velmora-snapshot-*")}, QDir::Dirs | QDir::Hidden),
                 QStringList{QStringLiteral(".velmora-snapshot-younger")});
    }

    // A restore killed after its safety backup leaves the old diary; one killed after the
    // replacement the new one. The safety backup is there in both cases.
    void killedRestoreLeavesOneDiary_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("after the safety backup") << "safetyBackupWritten" << false;
        QTest::newRow("after the replacement") << "replaced" << true;
    }

    void killedRestoreLeavesOneDiary() {
        QFETCH(QString, step);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QString storePath = dir.filePath(QStringLiteral("Diary.sqlite"));
        const DiarySnapshotDTO old{metadata(), {entry("2024-02-01", QStringLiteral("old"))}, {}};
        test::waitFor(openStore(storePath)->replaceAll(old));
        const QString package = backupData(QStringLiteral("valid.velmorabackup"));
        const QString quarantine = dir.filePath(QStringLiteral("Quarantine"));
        QCOMPARE(killAtFirstLine({QStringLiteral("restore"), storePath, package, quarantine, step}),
                 QByteArray("AT " + step.toLatin1() + '\n'));

        const DiarySnapshotDTO stored = test::waitFor(openStore(storePath)->snapshot());
        const DiarySnapshotDTO expected =
            replaced ? DiarySnapshotService::readPackage(package).diary : old;
        QVERIFY(DiaryRestoreCoordinator::sameDiary(stored, expected));
        const QStringList kept = safetyBackups(quarantine);
        QCOMPARE(kept.size(), 1);
        QVERIFY(
            DiarySnapshotService::readPackage(quarantine + QLatin1Char('/') + kept.first()).diary ==
            old);
    }

    // Killed at random moments while it restores two packages in turn, the store always holds
    // one of the two whole, and each replacement it began has its safety backup.
    void restoresKilledAtRandomNeverMix() {
        QTemporaryDir dir;
        const QString storePath = dir.filePath(QStringLiteral("Diary.sqlite"));
        const QString a = backupData(QStringLiteral("valid.velmorabackup"));
        const QString b = dir.filePath(QStringLiteral("B.velmorabackup"));
        DiarySnapshotDTO diaryB{metadata(), {}, {}};
        for (int i = 1; i <= 28; ++i)
            diaryB.entries.append(entry(
                QStringLiteral("2024-02-%1").arg(i, 2, 10, QLatin1Char('0')).toLatin1().constData(),
                QString(2000, QLatin1Char('b'))));
        DiarySnapshotService::writePackage(diaryB, b, QDateTime::currentDateTimeUtc());
        const DiarySnapshotDTO diaryA = DiarySnapshotService::readPackage(a).diary;
        test::waitFor(openStore(storePath)->replaceAll(diaryB));
        const QString quarantine = dir.filePath(QStringLiteral("Quarantine"));
        int replacements = 0;
        for (int run = 0; run < 6; ++run) {
            const QByteArray output = killAtFirstLine(
                {QStringLiteral("restore-loop"), storePath, a, b, quarantine},
                std::chrono::milliseconds(QRandomGenerator::global()->bounded(50, 400)));
            replacements += int(output.count("REPLACING"));
            const DiarySnapshotDTO stored = test::waitFor(openStore(storePath)->snapshot());
            QVERIFY(DiaryRestoreCoordinator::sameDiary(stored, diaryA) ||
                    DiaryRestoreCoordinator::sameDiary(stored, diaryB));
            QVERIFY(safetyBackups(quarantine).size() >= replacements);
            QCOMPARE(DiarySnapshotService::listSnapshots(quarantine).size(),
                     safetyBackups(quarantine).size());
        }
        qInfo("%d replacements began over 6 runs", replacements);
        QVERIFY2(replacements > 0, "the child never got to replace the diary");
    }

    // The load-failure card's restore killed at each step: the next launch shows the card again
    // (the old store untouched) or opens the whole restored diary, never an empty one; a restore
    // run again afterwards finishes and leaves nothing staged behind.
    void killedCardRestoreLeavesTheOldStoreOrTheNew_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("restored");
        QTest::newRow("store staged") << "staged" << false;
        QTest::newRow("plan journalled") << "journalWritten" << true;
        QTest::newRow("old store set aside") << "setAside" << true;
        QTest::newRow("new store in place") << "replaced" << true;
    }

    void killedCardRestoreLeavesTheOldStoreOrTheNew() {
        QFETCH(QString, step);
        QFETCH(bool, restored);
        UnopenableDiary diary;
        QCOMPARE(diary.restore(step), QByteArray("AT " + step.toLatin1() + '\n'));
        const std::optional<DiarySnapshotDTO> opened = diary.nextLaunch();
        QCOMPARE(opened.has_value(), restored);
        QVERIFY(diary.damagedFilesKept());
        if (!restored) {
            QCOMPARE(fileBytes(diary.store), diary.damaged.value(QStringLiteral("Diary.sqlite")));
            QCOMPARE(diary.restore(QStringLiteral("none")), QByteArray("RESTORED 120\n"));
        }
        QVERIFY(DiaryRestoreCoordinator::sameDiary(diary.nextLaunch().value(), diary.packaged));
        QVERIFY(diary.damagedFilesKept());
        QCOMPARE(diary.stagedStores(), QStringList());
    }

    // Killed at random moments, the restore never leaves a diary the next launch opens empty or
    // in part.
    void cardRestoresKilledAtRandomLeaveOneStore() {
        qint64 span = 0;
        {
            UnopenableDiary diary;
            QCOMPARE(diary.restore(QStringLiteral("none"), std::nullopt, std::nullopt, &span),
                     QByteArray("RESTORED 120\n"));
        }
        span = std::max<qint64>(span, 20);
        int restoredRuns = 0;
        for (int run = 0; run < 8; ++run) {
            UnopenableDiary diary;
            diary.restore(QStringLiteral("none"),
                          std::chrono::milliseconds(QRandomGenerator::global()->bounded(span)));
            const std::optional<DiarySnapshotDTO> opened = diary.nextLaunch();
            QVERIFY(!opened || DiaryRestoreCoordinator::sameDiary(*opened, diary.packaged));
            QVERIFY(diary.damagedFilesKept());
            restoredRuns += opened ? 1 : 0;
        }
        qInfo("%d of 8 killed restores had put the new store in place", restoredRuns);
    }

    // A disk that fills while the restored store is written: the restore reports it and the card
    // comes back with the old store untouched and nothing staged left behind.
    void cardRestoreOnAFullDiskChangesNothing() {
        UnopenableDiary diary;
        const QByteArray output =
            diary.restore(QStringLiteral("none"), std::nullopt, qint64(64 * 1024));
        QVERIFY2(output.startsWith("FAILED "), output.constData());
        QVERIFY(!diary.nextLaunch());
        for (auto file = diary.damaged.cbegin(); file != diary.damaged.cend(); ++file)
            QCOMPARE(fileBytes(diary.dir.filePath(file.key())), file.value());
        QCOMPARE(diary.stagedStores(), QStringList());
    }
};

VELMORA_TEST_MAIN(BackupCrashTest)
#include "tst_backupcrash.moc"
