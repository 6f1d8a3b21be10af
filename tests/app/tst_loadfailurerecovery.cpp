#include "app/DiaryInstanceGuard.h"
#include "app/DiaryLoadFailureRecovery.h"
#include "app/VuzIvoduRootView.h"

#include "app/graph/DiaryDependencyGraph.h"
#include "backup/DiarySnapshotService.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/StoreFixture.h"
#include "support/GuiTestMain.h"
#include "support/NestedJson.h"

#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimeZone>

#include <optional>

using namespace velmora;
using namespace velmora::test;

namespace {

// A diary folder whose store cannot be opened, with the backups it made while it still could.
struct BrokenDiary {
    QTemporaryDir folder;
    QString store = folder.filePath(QStringLiteral("Diary.sqlite"));
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>();
    QByteArray brokenBytes = QByteArray("this is not a database at all ").repeated(200);

    // Writes `count` entries into a real store, keeps them as "Newest" (and one as "Older"),
    // then wrecks the store and its companions.
    void make(int count) {
        {
            DiaryMigrationCoordinator().prepareStore(store, *defaults, QTimeZone::utc());
            auto repository = std::make_shared<CoreDataDiaryRepository>(
                std::make_shared<DiaryPersistenceStack>(
                    store, DiaryModelProvider::model(DiaryModelProvider::currentVersionName)),
                clock);
            for (int dayOfMonth = 1; dayOfMonth <= count; ++dayOfMonth) {
                const QByteArray dayText = QStringLiteral("2024-03-%1")
                                               .arg(dayOfMonth, 2, 10, QLatin1Char('0'))
                                               .toLatin1();
                test::waitFor(repository->save(draft(dayText.constData(), QStringLiteral("Page")),
                                               std::nullopt, 1));
            }
            const QString backups = folder.filePath(QStringLiteral("Backups"));
            QDir().mkpath(backups);
            const DiarySnapshotDTO all = test::waitFor(repository->snapshot());
            DiarySnapshotService::writePackage(
                all, backups + QStringLiteral("/Newest.velmorabackup"), utc(2024, 3, 20));
            DiarySnapshotDTO one = all;
            one.entries = one.entries.mid(0, 1);
            DiarySnapshotService::writePackage(
                one, backups + QStringLiteral("/Older.velmorabackup"), utc(2024, 3, 1));
        }
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            QFile file(store + suffix);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(brokenBytes + suffix.toLatin1());
        }
    }

    QString restore(std::shared_ptr<FileClaims> claims = nullptr) {
        return test::waitFor(restoreFromNewestBackup(
            DiaryStoreRecovery{store, folder.path(), clock, std::move(claims)}));
    }

    // Every file under the quarantine, by name, with its bytes.
    QHash<QString, QByteArray> quarantined() const {
        QHash<QString, QByteArray> files;
        QDirIterator it(folder.filePath(QStringLiteral("Recovery/Quarantine")), QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                files.insert(it.fileName(), file.readAll());
        }
        return files;
    }
};

} // namespace

class LoadFailureRecoveryTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noBackupLeavesTheStoreAlone() {
        BrokenDiary diary;
        QFile file(diary.store);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(diary.brokenBytes);
        file.close();
        QCOMPARE(diary.restore(), QStringLiteral("No validated backup is available."));
        QVERIFY(diary.quarantined().isEmpty());
        QFile again(diary.store);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), diary.brokenBytes);
    }

    void unopenableStoreIsSetAsideAndTheNewestBackupRestored() {
        BrokenDiary diary;
        diary.make(12);
        // The launch really cannot open it.
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 diary.store,
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("RecoveryTests")};
        environment.applicationSupportDirectory = diary.folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = diary.folder.path();
        {
            DiaryDependencyGraph graph(DiaryLaunchPlan::make(environment),
                                       std::make_shared<MacTextKitLeafPaginator>());
            QVERIFY(graph.persistenceError());
        }

        // As the failed launch left them.
        QHash<QString, QByteArray> before;
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
            QFile file(diary.store + suffix);
            if (file.open(QIODevice::ReadOnly))
                before.insert(QStringLiteral("Diary.sqlite") + suffix, file.readAll());
        }
        QCOMPARE(before.value(QStringLiteral("Diary.sqlite")), diary.brokenBytes);

        // The launch that restores holds the broken store, and then the restored one: no other
        // process opens the diary while it runs.
        const auto claims = std::make_shared<FileClaims>();
        QCOMPARE(claims->claim(diary.store), FileClaims::Outcome::claimed);
        QCOMPARE(diary.restore(claims),
                 QStringLiteral("Restored 12 entries. Reopen the diary to continue."));
        QCOMPARE(FileClaims().claim(diary.store), FileClaims::Outcome::heldElsewhere);
        // Nothing of the broken diary was deleted.
        const QHash<QString, QByteArray> kept = diary.quarantined();
        for (auto file = before.cbegin(); file != before.cend(); ++file)
            QVERIFY2(kept.value(file.key()) == file.value(), qPrintable(file.key()));

        // Reopening finds the package's diary.
        DiaryDependencyGraph reopened(DiaryLaunchPlan::make(environment),
                                      std::make_shared<MacTextKitLeafPaginator>());
        QVERIFY2(!reopened.persistenceError(),
                 qPrintable(reopened.persistenceError().value_or(QString())));
        QCOMPARE(
            test::waitFor(reopened.repository()->entries(day("2024-01-01"), day("2024-12-31"), 50))
                .size(),
            12);
    }

    // The restore keeps the diary's lock while it runs, also once the launch has let go of it as
    // a quit does: no other process opens the diary until the restore has ended.
    void theRestoreKeepsTheDiaryLockWhileItRuns() {
        BrokenDiary diary;
        diary.make(2);
        std::optional<DiaryInstanceLock> lock(std::in_place);
        QCOMPARE(lock->tryAcquire(diary.store), DiaryInstanceLock::Outcome::acquired);
        // The restore waits for the pool's one thread until the gate opens.
        QThreadPool &pool = *QThreadPool::globalInstance();
        const int threads = pool.maxThreadCount();
        pool.setMaxThreadCount(1);
        const auto restorePool = qScopeGuard([&] { pool.setMaxThreadCount(threads); });
        QSemaphore gate;
        pool.start([&gate] { gate.acquire(); });
        QCoro::Task<QString> restoring = restoreFromNewestBackup(
            DiaryStoreRecovery{diary.store, diary.folder.path(), diary.clock, lock->storeClaims()});
        lock.reset();
        QCOMPARE(DiaryInstanceLock().tryAcquire(diary.store),
                 DiaryInstanceLock::Outcome::heldByAnotherProcess);
        gate.release();
        QCOMPARE(test::waitFor(std::move(restoring)),
                 QStringLiteral("Restored 2 entries. Reopen the diary to continue."));
        QCOMPARE(DiaryInstanceLock().tryAcquire(diary.store), DiaryInstanceLock::Outcome::acquired);
    }

    // A package that nests past the readers' limit, listed before the valid ones, is passed
    // over: the card restores the newest valid package.
    void nestedPackageIsPassedOver_data() {
        QTest::addColumn<qsizetype>("depth");
        for (const NestingDepth &nesting : nestingDepths) {
            if (!nesting.readable)
                QTest::newRow(nesting.name) << nesting.depth;
        }
    }

    void nestedPackageIsPassedOver() {
        QFETCH(qsizetype, depth);
        BrokenDiary diary;
        diary.make(3);
        const QString backups = diary.folder.filePath(QStringLiteral("Backups"));
        // Made at the same time as "Newest", so that it comes first in the list.
        const QString nested = backups + QStringLiteral("/Deepest.velmorabackup");
        QVERIFY(QDir().mkpath(nested));
        for (const QString &file :
             {QStringLiteral("/manifest.json"), QStringLiteral("/records.ndjson")})
            QVERIFY(QFile::copy(backups + QStringLiteral("/Newest.velmorabackup") + file,
                                nested + file));
        nestBackupRecord(nested, 2, depth);
        QCOMPARE(diary.restore(),
                 QStringLiteral("Restored 3 entries. Reopen the diary to continue."));
    }

    void loadFailureCard_data() {
        QTest::addColumn<bool>("configurationError");
        QTest::newRow("store error: restore offered") << false;
        QTest::newRow("configuration error: nowhere to restore to") << true;
    }

    void loadFailureCard() {
        QFETCH(bool, configurationError);
        DiaryCommandRouter router;
        VuzIvoduRootView::LaunchState launch;
        if (configurationError)
            launch.runtimeError = QStringLiteral("bad launch");
        launch.persistenceError = QStringLiteral("store broke");
        VuzIvoduRootView view(launch, router);
        std::function<void(QString)> pending;
        int restores = 0;
        view.setRestoreAction([&](std::function<void(QString)> done) {
            ++restores;
            pending = std::move(done);
        });
        view.resize(780, 1024);
        view.show();
        auto *button = view.findChild<QPushButton *>(QStringLiteral("restoreFromBackup"));
        QVERIFY(button);
        QCOMPARE(button->isVisible(), !configurationError);
        if (configurationError)
            return;
        button->click();
        button->click(); // ignored while the first restore runs
        QCOMPARE(restores, 1);
        QVERIFY(view.isRestoring());
        pending(QStringLiteral("Restored 3 entries. Reopen the diary to continue."));
        QCOMPARE(view.recoveryMessage(),
                 QStringLiteral("Restored 3 entries. Reopen the diary to continue."));
        QVERIFY(view.loadFailureMessage());
        button->click();
        QCOMPARE(restores, 2);
    }
};

VELMORA_GUI_TEST_MAIN(LoadFailureRecoveryTests)
#include "tst_loadfailurerecovery.moc"
