#include "app/graph/DiaryDependencyGraph.h"

#include "backup/DiarySnapshotService.h"
#include "backup/DiaryTransferService.h"

#include "pages/MacTextKitLeafPaginator.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/MigrationFixtures.h"
#include "support/GuiTestMain.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

#include <sys/stat.h>

using namespace velmora;
using namespace velmora::test;

namespace {

struct Launch {
    QTemporaryDir folder;
    DiaryProcessEnvironment environment;

    Launch() {
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.filePath(QStringLiteral("tmp"));
        QDir().mkpath(environment.temporaryDirectory);
    }
    QString storePath() const { return folder.filePath(QStringLiteral("diary/store.sqlite")); }
    // A test run given a sync folder; returns the folder.
    QString withSyncFolder() {
        const QString sync = folder.filePath(QStringLiteral("sync"));
        QDir().mkpath(sync);
        environment.arguments << QStringLiteral("--velmora-sync-root") << sync;
        return sync;
    }
    void testMode() {
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 storePath(),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("GraphTests")};
    }
    std::unique_ptr<DiaryDependencyGraph> build() const {
        return std::make_unique<DiaryDependencyGraph>(DiaryLaunchPlan::make(environment),
                                                      std::make_shared<MacTextKitLeafPaginator>());
    }
};

bool isCoreData(const DiaryDependencyGraph &graph) {
    return dynamic_cast<CoreDataDiaryRepository *>(graph.repository().get()) != nullptr;
}

// Everything that is built whatever went wrong, all over the one repository and defaults.
void verifyEverythingBuilt(const DiaryDependencyGraph &graph) {
    QCOMPARE(graph.diarySession().repository(), graph.repository());
    QCOMPARE(graph.commandRouter().handler(), &graph.diarySession());
    QCOMPARE(graph.snapshotService().repository(), graph.repository());
    QCOMPARE(graph.snapshotService().clock(), graph.clock());
    QCOMPARE(graph.settingsStore()->defaults(), graph.defaults());
    QCOMPARE(graph.settingsStore()->defaultFont(), QStringLiteral("Georgia"));
    QCOMPARE(graph.cloudSync().services().repository, graph.repository());
    QCOMPARE(graph.cloudSync().services().defaults, graph.defaults());
    QCOMPARE(graph.cloudSync().services().handwriting, graph.handwriting());
    QCOMPARE(graph.cloudSync().changeCount(), 0);
    QCOMPARE(graph.cloudSync().status(), DiaryCloudSyncStatus::off);
    QCOMPARE(graph.cloudSync().heartbeatInterval(), std::chrono::seconds(60));
    QCOMPARE(graph.cloudSync().manifestURL(),
             graph.persistenceDirectory() + QStringLiteral("/Sync/manifest.json"));
    QCOMPARE(graph.handwriting()->directory(),
             graph.persistenceDirectory() + QStringLiteral("/Handwriting"));
    QCOMPARE(graph.handwritingIndex().store().directory(), graph.handwriting()->directory());
    QVERIFY(bool(graph.cloudSync().onInkChanged));
    QCOMPARE(graph.runtimeConfiguration().has_value(), !graph.runtimeError().has_value());
    QCOMPARE(graph.persistenceError().has_value(),
             dynamic_cast<UnavailableDiaryRepository *>(graph.repository().get()) != nullptr);
}

// Holds every thread of the global pool, so that work handed to it waits in its queue until
// `pass()` lets through what waits there now and holds the pool again behind it.
class PoolHold {
public:
    PoolHold() {
        for (int i = 0; i < m_pool->maxThreadCount(); ++i)
            hold();
        m_started.acquire(m_held);
    }
    ~PoolHold() {
        m_release.release(m_held);
        m_pool->waitForDone();
    }
    PoolHold(const PoolHold &) = delete;
    PoolHold &operator=(const PoolHold &) = delete;

    void pass() {
        // Queued behind the waiting work: it starts once that work has run on the thread let go.
        hold();
        m_release.release();
        --m_held;
        m_started.acquire();
    }

private:
    void hold() {
        ++m_held;
        m_pool->start([this] {
            m_started.release();
            m_release.acquire();
        });
    }

    QThreadPool *m_pool = QThreadPool::globalInstance();
    QSemaphore m_started;
    QSemaphore m_release;
    int m_held = 0;
};

// Runs `then` before the work resumes from its `wait`th hand-over to a worker thread (one that
// the work's own executors answer with a queued call to an object of their own), so that the work
// waits at that hand-over when it runs; for the first, the caller runs it at once.
class BeforeTheAnswerTo : public QObject {
public:
    BeforeTheAnswerTo(int wait, std::function<void()> then)
        : m_answersLeft(wait - 1)
        , m_then(std::move(then)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~BeforeTheAnswerTo() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override {
        if (m_answersLeft > 0 && event->type() == QEvent::MetaCall &&
            receiver->metaObject() == &QObject::staticMetaObject && --m_answersLeft == 0) {
            // Queued behind this answer, and ahead of the next: the work resumes from this one
            // first, hands its next piece to a worker, and only that worker's answer comes after.
            QMetaObject::invokeMethod(this, m_then, Qt::QueuedConnection);
        }
        return false;
    }

private:
    int m_answersLeft;
    std::function<void()> m_then;
};

template <typename T> QCoro::Task<void> ended(QCoro::Task<T> task) {
    co_await std::move(task);
}

} // namespace

class GraphTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newDiaryInTestMode() {
        Launch launch;
        launch.testMode();
        const auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        QVERIFY(graph->isTestMode());
        QVERIFY(!graph->runtimeError());
        QVERIFY(!graph->persistenceError());
        QVERIFY(isCoreData(*graph));
        QVERIFY(QFile::exists(launch.storePath()));
        QCOMPARE(graph->persistenceDirectory(), QFileInfo(launch.storePath()).absolutePath());
        QCOMPARE(graph->defaults()->filePath(), UserDefaults::suiteFilePath("GraphTests"));
        // A test run never reaches a sync folder.
        QVERIFY(!graph->cloudSync().rootProvider()());
        QVERIFY(!graph->cloudSync().watchesICloud());
        QVERIFY(graph->cloudSync().isEnabled());
    }

    // A test run given a folder syncs through it, and watches it, as the live run does the
    // chosen one.
    void aTestRunSyncsThroughTheFolderItIsGiven() {
        Launch launch;
        launch.testMode();
        const QString folder = launch.withSyncFolder();
        const auto graph = launch.build();
        QCOMPARE(graph->cloudSync().rootProvider()(),
                 std::optional<QString>(folder + QStringLiteral("/Diary Sync")));
        QVERIFY(graph->cloudSync().watchesICloud());
    }

    void existingDiaryIsOpenedAsItIs() {
        Launch launch;
        launch.testMode();
        {
            const auto graph = launch.build();
            const auto saved = test::waitFor(graph->repository()->save(
                draft("2024-03-01", QStringLiteral("Kept words")), std::nullopt, 1));
            QCOMPARE(saved.disposition, DiarySaveDisposition::created);
        }
        const auto graph = launch.build();
        QVERIFY(!graph->persistenceError());
        const auto entry = test::waitFor(graph->repository()->entry(day("2024-03-01")));
        QVERIFY(entry);
        QCOMPARE(entry->content, QStringLiteral("Kept words"));
    }

    void legacyStoreIsMigratedAtLaunch() {
        Launch launch;
        launch.testMode();
        QDir().mkpath(QFileInfo(launch.storePath()).absolutePath());
        writeLegacyV1Store(launch.storePath(), QList<LegacyEntryPayload>{
                                                   legacyEntry(QStringLiteral("2019-05-02"),
                                                               QStringLiteral("Old page")),
                                               });
        const auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        QVERIFY2(!graph->persistenceError(), qPrintable(graph->persistenceError().value_or("")));
        QVERIFY(isStoreOf(launch.storePath(), durableModel()));
        const auto entries =
            test::waitFor(graph->repository()->entries(day("2019-01-01"), day("2019-12-31"), 10));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().content, QStringLiteral("Old page"));
    }

    void unopenableStoreLeavesAnUnavailableRepository() {
        Launch launch;
        launch.testMode();
        QDir().mkpath(QFileInfo(launch.storePath()).absolutePath());
        QFile file(launch.storePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();

        const auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        auto *unavailable = dynamic_cast<UnavailableDiaryRepository *>(graph->repository().get());
        QVERIFY(unavailable);
        QCOMPARE(unavailable->error().errorCase(), PersistenceError::Case::storeLoadFailed);
        QCOMPARE(graph->persistenceError(), unavailable->error().message());
        QVERIFY(graph->persistenceError()->startsWith(
            QStringLiteral("The diary store could not be opened: ")));
        QVERIFY(graph->persistenceError()->size() >
                QStringLiteral("The diary store could not be opened: ").size());
        // Every call then fails with that error rather than touching the file.
        QCOMPARE(failureOf(graph->repository()->entry(day("2024-03-01"))),
                 *graph->persistenceError());
    }

    void configurationFailures_data() {
        QTest::addColumn<bool>("hasApplicationSupport");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");

        QTest::newRow("no Application Support folder")
            << false << QStringList{QStringLiteral("velmora")}
            << QStringLiteral("The Application Support directory is unavailable.");
        QTest::newRow("test mode without a store")
            << true
            << QStringList{QStringLiteral("velmora"), QStringLiteral("--velmora-test-mode"),
                           QStringLiteral("--velmora-defaults-suite"), QStringLiteral("Suite")}
            << QStringLiteral("Test mode requires an explicit temporary store URL.");
        QTest::newRow("test mode with a bad suite")
            << true
            << QStringList{QStringLiteral("velmora"),
                           QStringLiteral("--velmora-test-mode"),
                           QStringLiteral("--velmora-store-url"),
                           QStringLiteral("/tmp/x.sqlite"),
                           QStringLiteral("--velmora-defaults-suite"),
                           QStringLiteral("a b")}
            << QStringLiteral("The test defaults suite name contains unsupported characters.");
    }

    void configurationFailures() {
        QFETCH(bool, hasApplicationSupport);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        Launch launch;
        if (!hasApplicationSupport)
            launch.environment.applicationSupportDirectory.reset();
        launch.environment.arguments = arguments;

        auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        QCOMPARE(graph->runtimeError(), message);
        QVERIFY(!graph->runtimeConfiguration());
        QVERIFY(!graph->isTestMode());
        QVERIFY(!graph->persistenceError());
        // A throw-away diary in a folder of its own, for the owner only, and throw-away settings,
        // each named afresh: nothing in the temporary folder itself.
        const QDir temporary(launch.environment.temporaryDirectory);
        const QFileInfo diary(graph->persistenceDirectory());
        QCOMPARE(diary.absolutePath(), temporary.path());
        QVERIFY(diary.fileName().startsWith(QStringLiteral("Velmora-ConfigurationError-")));
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(diary.filePath()).constData(), &status), 0);
        QCOMPARE(status.st_mode, mode_t(S_IFDIR | 0700));
        QCOMPARE(temporary.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{diary.fileName()});
        QVERIFY(QFileInfo(graph->defaults()->filePath())
                    .fileName()
                    .startsWith(QStringLiteral("Velmora.ConfigurationError.")));
        // The throw-away diary never meets the user's sync folder.
        QVERIFY(!graph->cloudSync().rootProvider()());
        QVERIFY(!graph->cloudSync().watchesICloud());
        // Both go with the run, with whatever was made in the diary's folder: the store's side
        // files, a backup.
        test::waitFor(graph->snapshotService().createSnapshot(graph->persistenceDirectory() +
                                                              QStringLiteral("/Backups")));
        graph->defaults()->setBool(QStringLiteral("written"), true);
        graph->defaults()->synchronize();
        const QString settings = graph->defaults()->filePath();
        QVERIFY(QFile::exists(settings));
        graph.reset();
        QCOMPARE(QDir(launch.environment.temporaryDirectory)
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(!QFile::exists(settings));
    }

    // Where no folder of its own can be made for it, the throw-away diary is opened nowhere, not
    // in some other folder.
    void aThrowAwayDiaryWithoutAFolderOpensNothing() {
        Launch launch;
        launch.environment.temporaryDirectory = launch.folder.filePath(QStringLiteral("a file"));
        test::writeBytes(launch.environment.temporaryDirectory, {});
        launch.environment.arguments = {QStringLiteral("velmora"),
                                        QStringLiteral("--velmora-test-mode")};
        const auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        QVERIFY(graph->runtimeError());
        QVERIFY(graph->persistenceError());
        QVERIFY(!QFileInfo::exists(graph->persistenceDirectory()));
    }

    void liveModeUsesTheProductionStore() {
        Launch launch;
        launch.environment.arguments = {QStringLiteral("velmora")};
        const auto graph = launch.build();
        verifyEverythingBuilt(*graph);
        QCOMPARE(graph->runtimeConfiguration()->mode, RuntimeMode::live);
        QCOMPARE(graph->persistenceDirectory(),
                 QDir(*launch.environment.applicationSupportDirectory)
                     .filePath(QStringLiteral("Velmora")));
        QCOMPARE(graph->defaults()->filePath(), UserDefaults::standardFilePath());
        QVERIFY(graph->cloudSync().watchesICloud());
        QVERIFY(!graph->persistenceError());
        // The live run syncs through the folder the user chose, and only once one is chosen.
        QVERIFY(!graph->cloudSync().rootProvider()());
        const QString chosen = launch.folder.filePath(QStringLiteral("chosen"));
        QVERIFY(QDir().mkpath(chosen));
        graph->syncFolderChoice()->set({chosen, std::nullopt});
        QCOMPARE(graph->cloudSync().rootProvider()(),
                 std::optional<QString>(chosen + QStringLiteral("/Diary Sync")));
        graph->defaults()->remove(DiaryCloudSyncFolderChoice::folderKey);
        graph->defaults()->remove(DiaryCloudSyncFolderChoice::folderDeviceKey);
    }

    void syncSettingsAreRead_data() {
        QTest::addColumn<QVariant>("enabled");
        QTest::addColumn<bool>("expected");
        QTest::newRow("missing") << QVariant() << true;
        QTest::newRow("off") << QVariant(false) << false;
        QTest::newRow("on") << QVariant(true) << true;
        QTest::newRow("not a flag") << QVariant(QStringLiteral("maybe")) << true;
    }

    void syncSettingsAreRead() {
        QFETCH(QVariant, enabled);
        QFETCH(bool, expected);
        Launch launch;
        launch.testMode();
        auto defaults = UserDefaults::suite(QStringLiteral("GraphTests"));
        defaults->remove(UserDefaultsSettingsStore::syncEnabledSetting.key);
        if (enabled.isValid())
            defaults->setObject(UserDefaultsSettingsStore::syncEnabledSetting.key, enabled);
        const QDateTime last(QDate(2025, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
        defaults->setDate(DiaryCloudSync::lastSyncKey, last);
        defaults->synchronize();
        const auto graph = launch.build();
        QCOMPARE(graph->cloudSync().isEnabled(), expected);
        QCOMPARE(graph->cloudSync().lastSync(), last);
    }

    void syncWithoutFolderNeverMoves() {
        Launch launch;
        launch.testMode();
        const auto graph = launch.build();
        QSignalSpy changes(&graph->cloudSync(), &DiaryCloudSync::changeCountChanged);
        graph->cloudSync().start();
        graph->cloudSync().schedule(std::chrono::nanoseconds::zero());
        test::waitFor(graph->cloudSync().syncNow(std::chrono::seconds(5)));
        QCOMPARE(graph->cloudSync().changeCount(), 0);
        QCOMPARE(changes.size(), 0);
    }

    // A restore, or an import that replaces the diary, can leave a page under the revision that
    // was exchanged but with other words: the sync must compare it afresh, not trust its mark.
    // A merge leaves every stored entry as it was, and the marks stand.
    // The restored page goes out even when the page file, unchanged since, was written later.
    void replacingTheDiaryMakesSyncCompareEveryPage_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("replacedLater"); // s after the page file was written
        QTest::addColumn<QString>("fileAfter");
        QTest::newRow("restore") << "restore" << 60 << "Replaced words";
        QTest::newRow("import that replaces") << "replace" << 60 << "Replaced words";
        QTest::newRow("import that merges") << "merge" << 60 << "Exchanged words";
        QTest::newRow("restore of an older page") << "restore" << -3600 << "Replaced words";
        QTest::newRow("import that replaces with an older page")
            << "replace" << -3600 << "Replaced words";
    }
    void replacingTheDiaryMakesSyncCompareEveryPage() {
        QFETCH(QString, how);
        QFETCH(int, replacedLater);
        QFETCH(QString, fileAfter);
        Launch launch;
        launch.testMode();
        const QString folder = launch.withSyncFolder();
        const auto graph = launch.build();
        test::waitFor(graph->repository()->save(
            draft("2024-03-01", QStringLiteral("Exchanged words")), std::nullopt, 1));
        test::waitFor(graph->cloudSync().syncNow());
        const QString pageFile = folder + QStringLiteral("/Diary Sync/Pages/2024-03-01.json");
        const auto pageWords = [&] {
            QFile file(pageFile);
            return file.open(QIODevice::ReadOnly)
                       ? DiaryCloudSyncFolder::decodePage(file.readAll(), day("2024-03-01")).content
                       : QString();
        };
        QCOMPARE(pageWords(), QStringLiteral("Exchanged words"));

        // The same revision, other words, written later than the page file.
        DiarySnapshotDTO replacement = test::waitFor(graph->repository()->snapshot());
        replacement.entries.first().content = QStringLiteral("Replaced words");
        replacement.entries.first().updatedAt =
            QDateTime::currentDateTimeUtc().addSecs(replacedLater);
        const QString quarantine = launch.folder.filePath(QStringLiteral("quarantine"));
        if (how == u"restore") {
            const QString package = launch.folder.filePath(QStringLiteral("b.velmorabackup"));
            DiarySnapshotService::writePackage(replacement, package,
                                               QDateTime::currentDateTimeUtc());
            test::waitFor(graph->restoreCoordinator().restore(package, quarantine));
        } else {
            DiaryTransferService service(graph->repository(), graph->settingsStore(),
                                         graph->clock());
            service.setDiaryReplaced(graph->diaryReplacedHandler());
            DiaryTransferDocument document;
            document.exportedAt = QDateTime::currentDateTimeUtc();
            document.diaryID = replacement.metadata.diaryID;
            document.entries = replacement.entries;
            test::waitFor(service.importDocument(document, how == u"replace", quarantine));
        }
        test::waitFor(graph->cloudSync().syncNow());
        QCOMPARE(pageWords(), fileAfter);
        const auto stored = test::waitFor(graph->repository()->entry(day("2024-03-01")));
        QCOMPARE(stored->content, fileAfter);
    }

    // Work resumed after the services are gone ends without touching them: the graph goes while
    // the work waits at one of its hand-overs to a worker thread (`wait`, from 1; a sync pass's to
    // the pool, the others' to their own threads), or, `afterAnother`, while it waits for another
    // replacement of the diary to end before it begins, and the event loop runs until the work has
    // ended.
    void workOutlivingTheGraphLeavesItAlone_data() {
        QTest::addColumn<QString>("work");
        QTest::addColumn<int>("wait");
        QTest::addColumn<bool>("afterAnother");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("restore") << "restore" << 1 << false << true;
        QTest::newRow("restore, taking the diary") << "restore" << 2 << false << true;
        QTest::newRow("restore, writing the safety backup") << "restore" << 3 << false << true;
        QTest::newRow("restore, replacing the diary") << "restore" << 4 << false << true;
        QTest::newRow("restore, reading the diary back") << "restore" << 5 << false << true;
        QTest::newRow("restore after another") << "restore" << 1 << true << true;
        QTest::newRow("restore of the newest backup") << "restoreNewest" << 1 << false << true;
        QTest::newRow("restore of the newest backup after another")
            << "restoreNewest" << 1 << true << true;
        QTest::newRow("backup") << "backup" << 1 << false << true;
        QTest::newRow("backup, taking the diary") << "backup" << 2 << false << true;
        QTest::newRow("sync pass asking for its folder") << "syncFolders" << 1 << false << false;
        QTest::newRow("sync pass making its folders") << "syncFolders" << 3 << false << false;
        QTest::newRow("sync pass whose folders cannot be made")
            << "syncNoFolders" << 3 << false << false;
        QTest::newRow("sync pass whose page write fails") << "syncWrite" << 1 << false << false;
    }

    void workOutlivingTheGraphLeavesItAlone() {
        QFETCH(QString, work);
        QFETCH(int, wait);
        QFETCH(bool, afterAnother);
        QFETCH(bool, cancelled);
        Launch launch;
        launch.testMode();
        const QString sync = launch.withSyncFolder();
        const QString backups = launch.folder.filePath(QStringLiteral("backups"));
        const QString quarantine = launch.folder.filePath(QStringLiteral("quarantine"));
        auto graph = launch.build();
        test::waitFor(graph->repository()->save(draft("2024-03-01", QStringLiteral("Kept words")),
                                                std::nullopt, 1));
        const QString package =
            test::waitFor(graph->snapshotService().createSnapshot(backups)).packageURL;
        if (afterAnother)
            QVERIFY(test::waitFor(
                graph->diarySession().beginReplacement(DiaryReplacementKind::restore)));
        if (work == u"syncNoFolders") {
            QVERIFY(QDir(sync).mkdir(QStringLiteral("Diary Sync")));
            test::writeBytes(sync + QStringLiteral("/Diary Sync/Pages"), "not a folder");
        }

        // The page's upload stops once its file is written aside, until let go, and then fails.
        QSemaphore writing;
        QSemaphore letGo;
        graph->cloudSync().setWriteInterruption(
            [&](const QString &, DiaryCloudSyncFolder::WriteStep step) {
                if (step != DiaryCloudSyncFolder::WriteStep::temporaryWritten)
                    return;
                writing.release();
                letGo.acquire();
                throw DiaryCloudSyncFolder::FolderError::linkedFile(day("2024-03-01"), {});
            });
        // A sync pass is led to its hand-over through the pool instead.
        const bool pooled = work == u"syncFolders" || work == u"syncNoFolders";
        std::optional<PoolHold> pool;
        const BeforeTheAnswerTo graphGoes(pooled ? 1 : wait, [&] { graph.reset(); });
        std::optional<QCoro::Task<void>> working;
        if (work == u"restore") {
            working = ended(graph->restoreCoordinator().restore(package, quarantine));
        } else if (work == u"restoreNewest") {
            working = ended(graph->restoreCoordinator().restoreNewest(backups, quarantine));
        } else if (work == u"backup") {
            working = ended(graph->snapshotService().createSnapshot(backups));
        } else if (pooled) {
            // Step by step up to the hand-over it is to wait at, which then waits in the pool.
            pool.emplace();
            working = graph->cloudSync().syncNow();
            for (int passed = 1; passed < wait; ++passed) {
                pool->pass();
                QCoreApplication::sendPostedEvents();
                QCOMPARE(graph->cloudSync().status(), DiaryCloudSyncStatus::syncing);
            }
            QVERIFY(!QFileInfo(sync + QStringLiteral("/Diary Sync/Pages")).isDir());
        } else {
            working = graph->cloudSync().syncNow();
            QVERIFY(test::waitUntil([&] { return writing.tryAcquire(); }));
        }

        if (wait == 1 || pooled)
            graph.reset();
        QVERIFY(test::waitUntil([&] { return !graph; }));
        pool.reset();
        letGo.release();
        QCOMPARE(test::thrownBy<CancellationError>([&] {
                     test::waitFor(std::move(*working));
                 }).has_value(),
                 cancelled);
        QThreadPool::globalInstance()->waitForDone();
        // The diary is as it was.
        graph = launch.build();
        const auto entry = test::waitFor(graph->repository()->entry(day("2024-03-01")));
        QCOMPARE(entry.value_or(DiaryEntryDTO()).content, QStringLiteral("Kept words"));
    }

    void syncedInkChangesReachTheIndex() {
        Launch launch;
        launch.testMode();
        const auto graph = launch.build();
        // An indexed leaf whose drawing a sync pass has since removed.
        QDir().mkpath(graph->handwriting()->directory());
        QFile index(graph->handwritingIndex().fileURL());
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("{\"2024-03-01#0\":{\"text\":\"gone\",\"fingerprint\":\"5-100\"},"
                    "\"2024-03-02#0\":{\"text\":\"kept\",\"fingerprint\":\"5-100\"}}");
        index.close();
        graph->cloudSync().onInkChanged({{day("2024-03-01"), 0}});
        QVERIFY(waitUntil([&] {
            const auto pages = test::waitFor(graph->handwritingIndex().pages());
            return !pages.contains(QStringLiteral("2024-03-01#0")) &&
                   pages.contains(QStringLiteral("2024-03-02#0"));
        }));
    }

    void fingerprintFollowsSizeAndTime() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("page.drawing"));
        QVERIFY(!DiaryCloudSyncFolder::fingerprint(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("12345");
        file.close();
        const QDateTime when(QDate(2001, 1, 1), QTime(0, 0, 1, 500), QTimeZone::utc());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(DiaryCloudSyncFolder::fingerprint(path), QStringLiteral("5-1500"));
        QVERIFY(file.open(QIODevice::Append));
        file.write("6");
        file.close();
        const QDateTime before(QDate(2000, 12, 31), QTime(23, 59, 59), QTimeZone::utc());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(before, QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(DiaryCloudSyncFolder::fingerprint(path), QStringLiteral("6--1000"));
    }
};

VELMORA_GUI_TEST_MAIN(GraphTests)
#include "tst_graph.moc"
