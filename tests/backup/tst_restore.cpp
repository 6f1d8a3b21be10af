#include "BackupFixture.h"

#include "DiaryGenerator.h"
#include "DiaryPackageComparison.h"
#include "backup/DiaryRestoreCoordinator.h"
#include "platform/Sha256.h"
#include "store/StoreFixture.h"
#include "support/SessionFixture.h"

#include <QFileInfo>
#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

namespace {

DiaryRecoveryDTO recovery(const char *id, const QDateTime &createdAt) {
    const QByteArray payload = QByteArrayLiteral("{\"content\":\"aside\"}");
    return {uuid(id),
            std::nullopt,
            std::nullopt,
            DiaryRecoveryReason::importConflict,
            DiaryRecoverySourceKind::importRecord,
            payload,
            sha256Hex(payload),
            createdAt};
}

std::shared_ptr<DiaryRepository> borrowed(StoreFixture &store) {
    return {store.repository.get(), [](DiaryRepository *) {}};
}

QStringList safetyBackups(const QString &quarantine) {
    return QDir(quarantine)
        .entryList({QStringLiteral("Before-Restore-*.velmorabackup")}, QDir::Dirs | QDir::Hidden);
}

} // namespace

class RestoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The store keeps recovery records by creation time, the package by id: a diary whose two
    // orders differ still restores and verifies.
    void severalRecoveryRecordsRestoreAndVerify() {
        StoreFixture store;
        test::waitFor(store.repository->replaceAll(
            {metadata(), {entry("2024-02-01", QStringLiteral("before the restore"))}, {}}));
        const DiarySnapshotDTO previous = test::waitFor(store.repository->snapshot());

        DiarySnapshotDTO diary = packagedDiary();
        diary.recoveryRecords = {
            recovery("00000000-0000-4000-8000-00000000000C", utc(2024, 1, 1)),
            recovery("00000000-0000-4000-8000-00000000000A", utc(2024, 1, 3)),
            recovery("00000000-0000-4000-8000-00000000000B", utc(2024, 1, 2)),
        };
        const QString package = store.dir.filePath(QStringLiteral("Backups/One.velmorabackup"));
        DiarySnapshotService::writePackage(diary, package, utc(2024, 3, 1));

        DiaryRestoreCoordinator coordinator(borrowed(store), store.clock);
        const QString quarantine = store.dir.filePath(QStringLiteral("Recovery/Quarantine"));
        const DiaryRestoreResult result = test::waitFor(coordinator.restore(package, quarantine));
        QCOMPARE(result.restoredEntryCount, 2);
        QVERIFY(
            DiaryRestoreCoordinator::sameDiary(test::waitFor(store.repository->snapshot()), diary));
        QCOMPARE(safetyBackups(quarantine).size(), 1);
        QVERIFY(result.quarantineSnapshotURL.startsWith(quarantine +
                                                        QStringLiteral("/Before-Restore-")));
        QVERIFY(DiarySnapshotService::readPackage(result.quarantineSnapshotURL).diary == previous);

        // Again: a second safety backup under another name.
        const DiaryRestoreResult again = test::waitFor(coordinator.restore(package, quarantine));
        QVERIFY(again.quarantineSnapshotURL != result.quarantineSnapshotURL);
        QCOMPARE(safetyBackups(quarantine).size(), 2);
    }

    void emptyBackupLeavesOnlyTheMetadata() {
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("gone after the restore"));
        DiarySnapshotDTO empty;
        empty.metadata = packagedDiary().metadata;
        const QString package = fixture.folder.filePath(QStringLiteral("Empty.velmorabackup"));
        DiarySnapshotService::writePackage(empty, package, fixture.clock->now());
        DiaryRestoreCoordinator coordinator(fixture.repository, fixture.clock);
        const auto result = test::waitFor(
            coordinator.restore(package, fixture.folder.filePath(QStringLiteral("Q"))));
        QCOMPARE(result.restoredEntryCount, 0);
        QVERIFY(test::waitFor(fixture.repository->snapshot()) == empty);
    }

    // A failed replacement, or a read-back that differs, puts the previous diary back and keeps
    // the safety backup; the first error is the one reported.
    void failuresRollBack_data() {
        QTest::addColumn<bool>("replaceFails");
        QTest::addColumn<QString>("message");
        QTest::newRow("replacement fails")
            << true << QStringLiteral("The diary could not be saved: disk full");
        QTest::newRow("read-back differs")
            << false
            << QStringLiteral("The diary backup failed: Restored data did not pass the "
                              "post-write verification.");
    }

    void failuresRollBack() {
        QFETCH(bool, replaceFails);
        QFETCH(QString, message);
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("the previous diary"));
        const DiarySnapshotDTO previous = test::waitFor(fixture.repository->snapshot());
        auto &repository = *fixture.repository;
        if (replaceFails) {
            repository.failNext(Operation::replaceAll,
                                PersistenceError::writeFailed(QStringLiteral("disk full")));
        } else {
            repository.beforeNext(Operation::replaceAll, [&repository, &fixture] {
                repository.beforeNext(Operation::snapshot, [&repository, &fixture] {
                    repository.put(fixture.storedEntry(SessionFixture::tomorrow,
                                                       QStringLiteral("written meanwhile")));
                });
            });
        }
        const QString package = backupData(QStringLiteral("valid.velmorabackup"));
        const QString quarantine = fixture.folder.filePath(QStringLiteral("Recovery/Quarantine"));
        DiaryRestoreCoordinator coordinator(fixture.repository, fixture.clock);
        QCOMPARE(failureMessage([&] { test::waitFor(coordinator.restore(package, quarantine)); }),
                 message);
        QVERIFY(test::waitFor(fixture.repository->snapshot()) == previous);
        const QStringList kept = safetyBackups(quarantine);
        QCOMPARE(kept.size(), 1);
        QVERIFY(
            DiarySnapshotService::readPackage(quarantine + QLatin1Char('/') + kept.first()).diary ==
            previous);
    }

    // A year of the benchmark's diary is backed up, restored into a fresh store and backed up
    // again: the two packages hold the same diary, entry by entry and record by record.
    void generatedDiaryRoundTripsEqualBySnapshot() {
        bench::DiaryGeneratorOptions options;
        options.days = 366;
        options.recoveryRecords = 12;
        const DiarySnapshotDTO diary = bench::generateDiary(options);
        StoreFixture source;
        test::waitFor(source.repository->replaceAll(diary));
        DiarySnapshotService sourceBackups(borrowed(source), source.clock);
        const SnapshotSummary first =
            test::waitFor(sourceBackups.createSnapshot(source.dir.filePath(QStringLiteral("B"))));
        QCOMPARE(first.entryCount, 366);
        QCOMPARE(first.recoveryCount, 12);

        StoreFixture fresh;
        test::waitFor(fresh.repository->replaceAll({metadata(), {}, {}}));
        DiaryRestoreCoordinator coordinator(borrowed(fresh), fresh.clock);
        test::waitFor(
            coordinator.restore(first.packageURL, fresh.dir.filePath(QStringLiteral("Q"))));
        DiarySnapshotService freshBackups(borrowed(fresh), fresh.clock);
        const SnapshotSummary second =
            test::waitFor(freshBackups.createSnapshot(fresh.dir.filePath(QStringLiteral("B"))));

        QCOMPARE(bench::packageDifferences(first.packageURL, second.packageURL), QStringList());
        QCOMPARE(bench::diaryDifferences(DiarySnapshotService::readPackage(first.packageURL).diary,
                                         diary),
                 QStringList());
        const QString records = QStringLiteral("/records.ndjson");
        QCOMPARE(fileBytes(second.packageURL + records), fileBytes(first.packageURL + records));
    }

    // The comparison names what differs, whatever order the two sides hold their records in.
    void diaryDifferencesNameWhatDiffers_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<QStringList>("differences");
        QTest::newRow("same, reordered") << 0 << QStringList();
        QTest::newRow("words") << 1
                               << QStringList{
                                      QStringLiteral("entry of 2024-03-01 differs: content")};
        QTest::newRow("day missing")
            << 2
            << QStringList{QStringLiteral("2 entries against 1"),
                           QStringLiteral("entry of 2024-03-05 only in the first")};
        QTest::newRow("recovery payload")
            << 3
            << QStringList{QStringLiteral("recovery record 00000000-0000-4000-8000-00000000000A "
                                          "differs: preservedPayload")};
        QTest::newRow("metadata") << 4 << QStringList{QStringLiteral("metadata differs")};
    }

    void diaryDifferencesNameWhatDiffers() {
        QFETCH(int, change);
        QFETCH(QStringList, differences);
        DiarySnapshotDTO first = packagedDiary();
        first.recoveryRecords = {recovery("00000000-0000-4000-8000-00000000000B", utc(2024, 1, 1)),
                                 recovery("00000000-0000-4000-8000-00000000000A", utc(2024, 1, 2))};
        DiarySnapshotDTO second = first;
        std::reverse(second.entries.begin(), second.entries.end());
        std::reverse(second.recoveryRecords.begin(), second.recoveryRecords.end());
        if (change == 1)
            second.entries.last().content += QLatin1Char('!');
        if (change == 2)
            second.entries.removeFirst();
        if (change == 3)
            second.recoveryRecords.first().preservedPayload = "{}";
        if (change == 4)
            second.metadata.snapshotSequence += 1;
        QCOMPARE(bench::diaryDifferences(first, second), differences);
    }

    // The open page's pending writing is stored before the diary is taken, so the safety backup
    // holds it. From then on the page is held: what is typed on it at any step is refused, what
    // another writer stores meanwhile waits and lands in the restored diary, and the page shows
    // the restored entry afterwards, with the next words saved on top of it, whatever revision
    // the backup gave it. What waits behind the restore goes on once it ends, each once and in
    // turn.
    void restoreHoldsTheOpenDay_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("restoredRevision"); // 0: the backup has no page for today
        QTest::newRow("before the snapshot, same revision") << "before the snapshot" << 2;
        QTest::newRow("snapshot taken, same revision") << "snapshotTaken" << 2;
        QTest::newRow("safety backup written, same revision") << "safetyBackupWritten" << 2;
        QTest::newRow("replaced, same revision") << "replaced" << 2;
        QTest::newRow("safety backup written, another revision") << "safetyBackupWritten" << 7;
        QTest::newRow("safety backup written, no page for today") << "safetyBackupWritten" << 0;
    }

    void restoreHoldsTheOpenDay() {
        QFETCH(QString, step);
        QFETCH(int, restoredRevision);
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("stored"));
        fixture.open(SessionFixture::today);
        fixture.session->updateDraft(QStringLiteral("typed just now"));

        DiarySnapshotDTO diary = packagedDiary();
        DiaryEntryDTO restoredToday = diary.entries.first();
        restoredToday.dayKey = SessionFixture::today;
        restoredToday.content = QStringLiteral("from the backup");
        restoredToday.revision = DiaryRevision{restoredRevision};
        diary.entries = restoredRevision ? QList{restoredToday} : QList<DiaryEntryDTO>{};
        diary.recoveryRecords.clear();
        const QString package = fixture.folder.filePath(QStringLiteral("Today.velmorabackup"));
        DiarySnapshotService::writePackage(diary, package, fixture.clock->now());

        std::optional<QCoro::Task<void>> otherWriter;
        std::optional<PersistenceError> refusal;
        // Behind the restore: a seal, the next replacement, and two flushes (a quit, a page turn).
        std::optional<QCoro::Task<DiaryEntryDTO>> seal;
        std::optional<QCoro::Task<bool>> nextReplacement;
        std::vector<QCoro::Task<bool>> flushes;
        const auto duringTheRestore = [&] {
            try {
                fixture.session->updateDraft(QStringLiteral("typed during the restore"));
            } catch (const PersistenceError &error) {
                refusal = error;
            }
            otherWriter = fixture.repository->preserveRecovery(
                fixture.storedEntry(SessionFixture::yesterday, QStringLiteral("kept meanwhile")));
            seal = fixture.session->seal();
            nextReplacement = fixture.session->beginReplacement(DiaryReplacementKind::import);
            flushes.push_back(fixture.session->flushPendingWriting());
            flushes.push_back(fixture.session->flushPendingWriting());
        };
        DiaryRestoreCoordinator coordinator(fixture.repository, fixture.clock,
                                            DiaryOpenDayReloader(fixture.session.get()));
        if (step == u"before the snapshot")
            fixture.repository->beforeNext(Operation::snapshot, duringTheRestore);
        coordinator.setStepObserver([&](DiaryRestoreStep reached) {
            static const char *const names[] = {"snapshotTaken", "safetyBackupWritten", "replaced"};
            if (step == QLatin1String(names[int(reached)]))
                duringTheRestore();
        });
        const auto result = test::waitFor(
            coordinator.restore(package, fixture.folder.filePath(QStringLiteral("Q"))));
        QVERIFY(refusal);
        QCOMPARE(refusal->errorCase(), PersistenceError::Case::writeFailed);
        QVERIFY(otherWriter);
        test::waitFor(std::move(*otherWriter));
        QCOMPARE(failureOf<PersistenceError>(std::move(*seal))->errorCase(),
                 PersistenceError::Case::writeFailed);
        QVERIFY(test::waitFor(std::move(*nextReplacement)));
        QCOMPARE(fixture.session->replacement(), DiaryReplacementKind::import);
        test::waitFor(fixture.session->endReplacement());
        for (QCoro::Task<bool> &flush : flushes)
            QVERIFY(test::waitFor(std::move(flush)));

        const auto safety = DiarySnapshotService::readPackage(result.quarantineSnapshotURL);
        QCOMPARE(safety.diary.entries.first().content, QStringLiteral("typed just now"));
        const QString restored = restoredRevision ? QStringLiteral("from the backup") : QString();
        const auto stored = fixture.repository->stored(SessionFixture::today);
        QCOMPARE(stored ? stored->content : QString(), restored);
        QVERIFY(!stored || !stored->isSealed());
        QCOMPARE(fixture.session->currentText(), restored);
        QCOMPARE(fixture.session->currentEntry(), stored);
        QVERIFY(!fixture.session->hasPendingLocalWriting());
        QVERIFY(!fixture.session->replacement());
        QCOMPARE(contents(fixture.repository->recoveredEntries()),
                 QStringList{QStringLiteral("kept meanwhile")});

        fixture.session->updateDraft(restored + QStringLiteral(" and more"));
        QVERIFY(fixture.settled());
        QCOMPARE(fixture.repository->stored(SessionFixture::today)->content,
                 restored + QStringLiteral(" and more"));
        QCOMPARE(contents(fixture.repository->recoveredEntries()),
                 QStringList{QStringLiteral("kept meanwhile")});
    }
};

VELMORA_TEST_MAIN(RestoreTest)
#include "tst_restore.moc"
