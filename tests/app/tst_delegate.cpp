#include "app/DiaryBookWindow.h"
#include "app/MacAppDelegate.h"
#include "backup/DiaryRestoreCoordinator.h"
#include "backup/DiarySnapshotService.h"

#include "support/GuiTestMain.h"
#include "support/SessionFixture.h"

#include <QSemaphore>
#include <QSignalSpy>

#include <atomic>

using namespace velmora;
using namespace velmora::test;

namespace {

class ScriptedSessionEnd final : public DiarySessionEndRequest {
public:
    explicit ScriptedSessionEnd(bool interaction)
        : interaction(interaction) {}
    bool allowsInteraction() override { return interaction; }
    void cancel() override { ++cancels; }

    bool interaction = false;
    int cancels = 0;
};

// A delegate over a real session whose store can be slowed down or made to fail, and a book
// window it manages.
struct DelegateFixture {
    SessionFixture diary;
    MacAppDelegate delegate;
    DiaryBookWindow window;
    int terminations = 0;

    DelegateFixture() {
        diary.open(SessionFixture::today);
        delegate.setSession(diary.session.get());
        delegate.setTerminate([this] { ++terminations; });
        window.setDelegate(&delegate);
        delegate.adoptMainWindow(&window);
        window.show();
    }
    void type(const QString &text) { diary.session->updateDraft(text); }
    QString stored() const {
        const auto entry = diary.repository->stored(SessionFixture::today);
        return entry ? entry->content : QString();
    }
    void slowSaves(std::chrono::milliseconds delay) {
        diary.repository->setDelay(Operation::save, delay);
    }
    DiaryCloudSync::Services syncServices() const {
        return {diary.repository, diary.session.get(), diary.settings, nullptr,
                diary.settings->defaults()};
    }
    void failNextSave() {
        diary.repository->failNext(Operation::save,
                                   PersistenceError::writeFailed(QStringLiteral("Disk full")));
    }
};

} // namespace

class DelegateTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quitWithNothingPendingEnds() {
        DelegateFixture f;
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        QVERIFY(waitUntil([&] { return replies.size() == 1; }));
        QCOMPARE(replies.first().first().toBool(), true);
        QCOMPARE(f.terminations, 1);
        QVERIFY(!f.delegate.terminationInProgress());
    }

    // Becoming active, resigning and a quit whose writing was stored each ask for a pass; a quit
    // whose writing could not be stored does not sync.
    void asksForAPass_data() {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("passes");
        QTest::newRow("becoming active") << "active" << 1;
        QTest::newRow("resigning") << "resign" << 1;
        QTest::newRow("quitting") << "quit" << 1;
        QTest::newRow("quitting, the writing not stored") << "quit failing" << 0;
    }
    void asksForAPass() {
        QFETCH(QString, when);
        QFETCH(int, passes);
        DelegateFixture f;
        std::atomic<int> asked = 0;
        QTemporaryDir folder;
        DiaryCloudSync sync(
            f.syncServices(), folder.filePath(QStringLiteral("Sync/manifest.json")),
            [&] {
                ++asked;
                return std::optional<QString>();
            },
            false, std::chrono::seconds(60));
        f.delegate.setCloudSync(&sync);
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QSignalSpy resigned(&f.delegate, &MacAppDelegate::resignDrainFinished);
        if (when == u"active") {
            f.delegate.applicationDidBecomeActive();
        } else if (when == u"resign") {
            f.delegate.applicationDidResignActive();
            QVERIFY(waitUntil([&] { return resigned.size() == 1; }));
        } else {
            if (when == u"quit failing") {
                f.type(QStringLiteral("Not stored"));
                f.failNextSave();
            }
            f.delegate.applicationShouldTerminate();
            QVERIFY(waitUntil([&] { return replies.size() == 1; }));
            QCOMPARE(replies.first().first().toBool(), passes == 1);
        }
        QVERIFY(waitUntil([&] { return asked.load() == passes && !sync.isRunning(); }));
        QTest::qWait(50);
        QCOMPARE(asked.load(), passes);
        QCOMPARE(sync.status(),
                 passes == 1 ? DiaryCloudSyncStatus::unavailable : DiaryCloudSyncStatus::off);
    }

    // A quit while a sync pass is inside a file operation: it syncs for at most its limit, then
    // stops the pass and waits for that operation before the program may end, so nothing is
    // torn down under it.
    void quitWaitsForTheSyncOperationInFlight() {
        DelegateFixture f;
        QSemaphore asked;
        QSemaphore go;
        std::atomic<bool> finished = false;
        QTemporaryDir folder;
        DiaryCloudSync sync(
            f.syncServices(), folder.filePath(QStringLiteral("Sync/manifest.json")),
            [&] {
                asked.release();
                go.acquire();
                finished = true;
                return std::optional<QString>();
            },
            false, std::chrono::seconds(60));
        f.delegate.setCloudSync(&sync);
        f.delegate.setTerminationSyncLimits(20ms, 60s);
        sync.schedule(0ms);
        QVERIFY(waitUntil([&] { return asked.tryAcquire(); }));
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        QTest::qWait(100);
        QCOMPARE(f.terminations, 0);
        go.release();
        QVERIFY(waitUntil([&] { return replies.size() == 1; }));
        QVERIFY(finished);
        QVERIFY(!sync.isRunning());
        QCOMPARE(f.terminations, 1);
    }

    void quitStoresPendingWritingFirst_data() {
        QTest::addColumn<QString>("underWay");
        QTest::addColumn<QString>("stored");
        QTest::newRow("pending edit") << ""
                                      << "First line";
        QTest::newRow("save in flight") << "save"
                                        << "First line and more";
        // The restore goes on to its end; what it brought is what the program leaves.
        QTest::newRow("restore under way") << "restore"
                                           << "From the backup";
    }

    void quitStoresPendingWritingFirst() {
        QFETCH(QString, underWay);
        QFETCH(QString, stored);
        DelegateFixture f;
        f.slowSaves(150ms);
        f.type(QStringLiteral("First line"));
        if (underWay == u"save") {
            f.diary.session->autosave().flush();
            QVERIFY(waitUntil([&] { return f.diary.session->autosave().inFlight(); }));
            // Typed while the save is under way: the drain must store this too.
            f.type(QStringLiteral("First line and more"));
        }
        std::optional<QCoro::Task<DiaryRestoreResult>> restoring;
        DiaryRestoreCoordinator coordinator(f.diary.repository, f.diary.clock,
                                            DiaryOpenDayReloader(f.diary.session.get()));
        if (underWay == u"restore") {
            DiarySnapshotDTO backup = test::waitFor(f.diary.repository->snapshot());
            backup.entries = {f.diary.storedEntry(SessionFixture::today, stored)};
            const QString package = f.diary.folder.filePath(QStringLiteral("B.velmorabackup"));
            DiarySnapshotService::writePackage(backup, package, f.diary.clock->now());
            f.diary.repository->setDelay(Operation::replaceAll, 300ms);
            restoring = coordinator.restore(package, f.diary.folder.filePath(QStringLiteral("Q")));
            QVERIFY(waitUntil(
                [&] { return f.diary.repository->inProgress(Operation::replaceAll) == 1; }));
        }
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        QCOMPARE(f.terminations, 0);
        QVERIFY(waitUntil([&] { return replies.size() == 1; }));
        QCOMPARE(replies.first().first().toBool(), true);
        QCOMPARE(f.terminations, 1);
        QCOMPARE(f.stored(), stored);
        if (restoring) {
            QVERIFY(restoring->isReady());
            QCOMPARE(f.diary.session->currentText(), stored);
        }
    }

    void failedFlushRefusesQuitAndKeepsText() {
        DelegateFixture f;
        DiaryDataOperationGuard operations;
        f.delegate.setDataOperations(&operations);
        f.type(QStringLiteral("Unsaved words"));
        f.failNextSave();
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        // Nothing starts while the quit may still go ahead.
        QVERIFY(!operations.tryBegin(DiaryDataOperation::backup));
        QVERIFY(waitUntil([&] { return replies.size() == 1; }));
        QCOMPARE(replies.first().first().toBool(), false);
        QCOMPARE(f.terminations, 0);
        QVERIFY(!f.delegate.terminationInProgress());
        QCOMPARE(f.diary.session->currentText(), QStringLiteral("Unsaved words"));
        QVERIFY(f.diary.session->hasPendingLocalWriting());
        // The refused quit lets the person back up, restore, export and import again.
        QVERIFY(operations.tryBegin(DiaryDataOperation::backup));

        // A later quit starts over, and succeeds once the store takes the text.
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        QVERIFY(waitUntil([&] { return replies.size() == 2; }));
        QCOMPARE(replies.last().first().toBool(), true);
        QCOMPARE(f.stored(), QStringLiteral("Unsaved words"));
    }

    void secondQuitDuringDrainIsIgnored() {
        DelegateFixture f;
        f.slowSaves(200ms);
        f.type(QStringLiteral("Slow words"));
        QSignalSpy replies(&f.delegate, &MacAppDelegate::terminationReplied);
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateLater);
        QVERIFY(waitUntil([&] { return f.diary.session->autosave().inFlight(); }));
        // A second Ctrl+Q or signal must not end the program in the middle of the save.
        QCOMPARE(f.delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::alreadyTerminating);
        QCOMPARE(f.terminations, 0);
        QVERIFY(waitUntil([&] { return replies.size() == 1; }));
        QCOMPARE(f.terminations, 1);
        QCOMPARE(f.stored(), QStringLiteral("Slow words"));
    }

    void logoutDuringDrain_data() {
        QTest::addColumn<bool>("interaction");
        QTest::newRow("logout can be cancelled") << true;
        QTest::newRow("logout cannot be cancelled") << false;
    }

    void logoutDuringDrain() {
        QFETCH(bool, interaction);
        DelegateFixture f;
        f.slowSaves(200ms);
        f.type(QStringLiteral("Evening words"));
        QVERIFY(f.delegate.applicationShouldTerminate() ==
                MacAppDelegate::TerminateReply::terminateLater);
        ScriptedSessionEnd logout(interaction);
        f.delegate.commitData(logout);
        if (interaction) {
            QCOMPARE(logout.cancels, 1);
            QCOMPARE(f.terminations, 0);
            QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        } else {
            // Returns only once the drain has run to its end.
            QCOMPARE(logout.cancels, 0);
            QCOMPARE(f.terminations, 1);
            QVERIFY(!f.delegate.terminationInProgress());
        }
        QCOMPARE(f.stored(), QStringLiteral("Evening words"));
    }

    void logoutDrainsBeforeTheSessionEnds() {
        DelegateFixture f;
        f.slowSaves(100ms);
        f.type(QStringLiteral("Last words"));
        ScriptedSessionEnd logout(true);
        f.delegate.commitData(logout);
        QCOMPARE(logout.cancels, 0);
        QCOMPARE(f.terminations, 1);
        QCOMPARE(f.stored(), QStringLiteral("Last words"));
    }

    void quitWithoutSessionEndsAtOnce() {
        MacAppDelegate delegate;
        int terminations = 0;
        delegate.setTerminate([&] { ++terminations; });
        QCOMPARE(delegate.applicationShouldTerminate(),
                 MacAppDelegate::TerminateReply::terminateNow);
        QCOMPARE(terminations, 1);
    }

    void closeDrainsThenHides_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("pending writing") << QStringLiteral("Before closing");
        QTest::newRow("nothing pending") << QString();
    }

    void closeDrainsThenHides() {
        QFETCH(QString, typed);
        DelegateFixture f;
        f.slowSaves(100ms);
        if (!typed.isEmpty())
            f.type(typed);
        QSignalSpy closes(&f.delegate, &MacAppDelegate::closeFinished);
        QVERIFY(!f.window.close());
        QVERIFY(f.window.isVisible());
        if (!typed.isEmpty()) {
            QVERIFY(f.delegate.closeInProgress());
            // A further close while the first is prepared is refused too.
            QVERIFY(!f.window.close());
        }
        QVERIFY(waitUntil([&] { return closes.size() == 1; }));
        QCOMPARE(closes.first().first().toBool(), true);
        QVERIFY(!f.window.isVisible());
        QVERIFY(!f.delegate.allowNextClose());
        QCOMPARE(f.stored(), typed);
        QCOMPARE(f.terminations, 0);
    }

    void failedFlushRefusesClose() {
        DelegateFixture f;
        f.type(QStringLiteral("Keep me"));
        f.failNextSave();
        QSignalSpy closes(&f.delegate, &MacAppDelegate::closeFinished);
        QVERIFY(!f.window.close());
        QVERIFY(waitUntil([&] { return closes.size() == 1; }));
        QCOMPARE(closes.first().first().toBool(), false);
        QVERIFY(f.window.isVisible());
        QVERIFY(!f.delegate.closeInProgress());
        QCOMPARE(f.diary.session->currentText(), QStringLiteral("Keep me"));
    }

    void closeDuringQuitWaitsForTheQuit() {
        DelegateFixture f;
        f.slowSaves(150ms);
        f.type(QStringLiteral("Quitting"));
        QSignalSpy closes(&f.delegate, &MacAppDelegate::closeFinished);
        f.delegate.applicationShouldTerminate();
        QVERIFY(!f.window.close());
        QVERIFY(!f.delegate.closeInProgress());
        QVERIFY(waitUntil([&] { return f.terminations == 1; }));
        QCOMPARE(closes.size(), 0);
        QCOMPARE(f.diary.repository->callCount(Operation::save), 1);
    }

    // The program becomes active again through the window the person is using: that window keeps
    // the keyboard, and the book is brought forward, back onto the screen, only when it is the
    // book; never over the settings window.
    void becomingActiveLeavesTheKeyboardWhereItIs_data() {
        QTest::addColumn<bool>("throughTheBook");
        QTest::newRow("through the settings window") << false;
        QTest::newRow("through the book window") << true;
    }
    void becomingActiveLeavesTheKeyboardWhereItIs() {
        QFETCH(bool, throughTheBook);
        DelegateFixture f;
        QWidget settings(&f.window, Qt::Window);
        settings.show();
        QWidget *const active = throughTheBook ? static_cast<QWidget *>(&f.window) : &settings;
        active->activateWindow();
        QVERIFY(waitUntil([&] { return QApplication::activeWindow() == active; }));
        // Off the screen, where only being brought forward puts it back.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        f.window.move(screen.right() + f.window.frameGeometry().width(), screen.top());
        QVERIFY(!screen.intersects(f.window.frameGeometry()));
        f.delegate.applicationDidBecomeActive();
        // Past the delegate's turn, and past any activation it asked for.
        bool turnTaken = false;
        QTimer::singleShot(0, [&] { turnTaken = true; });
        QVERIFY(waitUntil([&] { return turnTaken; }));
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeWindow(), active);
        QCOMPARE(screen.intersects(f.window.frameGeometry()), throughTheBook);
    }

    void resignDrains() {
        DelegateFixture f;
        f.type(QStringLiteral("Switching away"));
        QSignalSpy drains(&f.delegate, &MacAppDelegate::resignDrainFinished);
        f.delegate.applicationDidResignActive();
        QVERIFY(waitUntil([&] { return drains.size() == 1; }));
        QCOMPARE(drains.first().first().toBool(), true);
        QCOMPARE(f.stored(), QStringLiteral("Switching away"));
    }
};

VELMORA_GUI_TEST_MAIN(DelegateTests)
#include "tst_delegate.moc"
