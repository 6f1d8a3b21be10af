#include "app/DiaryLoadFailureRecovery.h"

#include "backup/DiarySnapshotService.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/StoreFixture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace velmora;
using namespace velmora::test;

class LoadFailureRecoveryTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noBackupFolder() {
        StoreFixture store;
        DiaryRestoreCoordinator restore(
            std::make_shared<CoreDataDiaryRepository>(store.stack, store.clock), store.clock);
        QCOMPARE(test::waitFor(restoreFromNewestBackup(store.dir.path(), restore)),
                 QStringLiteral("No validated backup is available."));
    }

    void newestBackupIsRestored() {
        // A store as a launch prepares it, so that it has its metadata.
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Diary.sqlite"));
        UserDefaults defaults(folder.filePath(QStringLiteral("settings.ini")));
        DiaryMigrationCoordinator().prepareStore(path, defaults, QTimeZone::utc());
        auto clock = std::make_shared<FixedClock>();
        auto repository = std::make_shared<CoreDataDiaryRepository>(
            std::make_shared<DiaryPersistenceStack>(
                path, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
            clock);
        for (int dayOfMonth = 1; dayOfMonth <= 12; ++dayOfMonth) {
            const QByteArray dayText =
                QStringLiteral("2024-03-%1").arg(dayOfMonth, 2, 10, QLatin1Char('0')).toLatin1();
            test::waitFor(repository->save(draft(dayText.constData(), QStringLiteral("Page")),
                                           std::nullopt, 1));
        }
        const QString backups = folder.filePath(QStringLiteral("Backups"));
        QDir().mkpath(backups);
        const DiarySnapshotDTO twelve = test::waitFor(repository->snapshot());
        DiarySnapshotService::writePackage(
            twelve, backups + QStringLiteral("/Newest.velmorabackup"), utc(2024, 3, 20));
        DiarySnapshotDTO one = twelve;
        one.entries = one.entries.mid(0, 1);
        DiarySnapshotService::writePackage(one, backups + QStringLiteral("/Older.velmorabackup"),
                                           utc(2024, 3, 1));
        test::waitFor(
            repository->save(draft("2024-04-01", QStringLiteral("Later")), std::nullopt, 1));

        DiaryRestoreCoordinator restore(repository, clock);
        QCOMPARE(test::waitFor(restoreFromNewestBackup(folder.path(), restore)),
                 QStringLiteral("Restored 12 entries. Reopen the diary to continue."));
        QCOMPARE(
            test::waitFor(repository->entries(day("2024-01-01"), day("2024-12-31"), 50)).size(),
            12);
    }
};

VELMORA_TEST_MAIN(LoadFailureRecoveryTests)
#include "tst_loadfailurerecovery.moc"
