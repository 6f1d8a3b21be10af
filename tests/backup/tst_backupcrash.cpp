#include "BackupFixture.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "store/StoreFixture.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>

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

} // namespace

class BackupCrashTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A writer killed at any step leaves no package under the name, the list as it was, and
    // room for the next backup.
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

        QProcess child;
        child.start(QStringLiteral(VELMORA_BACKUP_CRASH_CHILD),
                    {QStringLiteral("write"), dir.path(), QStringLiteral("none")});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(DiarySnapshotService::listSnapshots(dir.path()).size(), 2);
        QCOMPARE(DiarySnapshotService::validatePackage(target).entryCount, 200);
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
};

VELMORA_TEST_MAIN(BackupCrashTest)
#include "tst_backupcrash.moc"
