#include "app/DiaryBookWindow.h"
#include "app/MacAppDelegate.h"
#include "app/VuzIvoduAppDependencies.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "support/FakeNotificationServer.h"
#include "support/GuiTestMain.h"
#include "support/KeptDiary.h"
#include "support/PrivateSessionBus.h"
#include "support/TestClock.h"
#include "sync/DiaryCloudSyncFolder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

// A notification server on a private session bus, and the container over a diary in a temporary
// folder, reaching the server through that bus.
struct DesktopFixture {
    PrivateSessionBus daemon{PrivateSessionBus::Activation::none};
    QString address = daemon.address();
    FakeNotificationServer server;
    QTemporaryDir folder;
    // The reminders' time, set by each test.
    std::shared_ptr<TestClock> clock = std::make_shared<TestClock>(QDateTime::currentDateTimeUtc());
    std::unique_ptr<VuzIvoduAppDependencies> container;

    bool start(const QString &suite) {
        if (address.isEmpty())
            return false;
        QDBusConnection serverBus =
            QDBusConnection::connectToBus(address, QStringLiteral("notification-server"));
        if (!serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                      QDBusConnection::ExportAllSlots) ||
            !serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")))
            return false;
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 folder.filePath(QStringLiteral("diary/store.sqlite")),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 suite,
                                 QStringLiteral("--velmora-sync-root"),
                                 folder.filePath(QStringLiteral("sync"))};
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        container = std::make_unique<VuzIvoduAppDependencies>(
            DiaryLaunchPlan::make(environment),
            QDBusConnection::connectToBus(address, QStringLiteral("notification-client")), clock);
        return true;
    }

    ~DesktopFixture() {
        container.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-client"));
        QDBusConnection serverBus(QStringLiteral("notification-server"));
        serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        // Before the server goes: the bus's own thread closes the connection later and would
        // still reach for it.
        serverBus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
    }
};

// What became of the book window by the time a reminder falls due.
enum class BookWindow { neverShown, inFront, closed, minimized, behindAnother };

// What replaced the diary before that: nothing, a merged import that writes today, a restore of a
// backup with or without today's page, or a sync pass that brings today's page from another
// computer.
enum class Replaced {
    nothing,
    byMergeWithToday,
    byRestoreWithToday,
    byRestoreWithoutToday,
    bySyncWithToday
};

} // namespace

Q_DECLARE_METATYPE(BookWindow)
Q_DECLARE_METATYPE(Replaced)

// The container's reminders on a desktop: shown unless the diary is in front, kept back while it
// is. A program of its own: the offscreen platform keeps an application active once one of its
// windows was, as Qt on X does after the focused window is hidden.
class ForegroundReminderTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void remindersWaitOnlyWhileTheDiaryIsInFront_data() {
        QTest::addColumn<BookWindow>("bookWindow");
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<Replaced>("replaced");
        const Replaced nothing = Replaced::nothing;
        QTest::newRow("never shown") << BookWindow::neverShown << false << true << nothing;
        QTest::newRow("in front") << BookWindow::inFront << false << false << nothing;
        QTest::newRow("closed") << BookWindow::closed << false << true << nothing;
        QTest::newRow("minimized") << BookWindow::minimized << false << true << nothing;
        QTest::newRow("behind another window")
            << BookWindow::behindAnother << false << true << nothing;
        // Closing stores the page while the program stays active: no focus is lost.
        QTest::newRow("written, then closed") << BookWindow::closed << true << false << nothing;
        QTest::newRow("written by a merged import, then closed")
            << BookWindow::closed << false << false << Replaced::byMergeWithToday;
        QTest::newRow("written by a restore, then closed")
            << BookWindow::closed << false << false << Replaced::byRestoreWithToday;
        QTest::newRow("written, restored without it, then closed")
            << BookWindow::closed << true << true << Replaced::byRestoreWithoutToday;
        QTest::newRow("written on another computer, then closed")
            << BookWindow::closed << false << false << Replaced::bySyncWithToday;
    }

    // Today's reminder, planned at 10:01 with the clock at 10:00, and the clock then moved on.
    void remindersWaitOnlyWhileTheDiaryIsInFront() {
        QFETCH(BookWindow, bookWindow);
        QFETCH(bool, written);
        QFETCH(bool, shown);
        QFETCH(Replaced, replaced);
        DesktopFixture desktop;
        QVERIFY2(desktop.start(QStringLiteral("Foreground")),
                 "dbus-daemon (package dbus) is needed");
        DiarySessionStore &session = desktop.container->graph().diarySession();
        test::waitFor(session.selectToday());
        const QDate today = QDate::fromString(session.selectedDay().rawValue(), Qt::ISODate);
        desktop.clock->set(QDateTime(today, QTime(10, 0)).toUTC());
        DiaryDependencyGraph &graph = desktop.container->graph();
        const QString exportFile = desktop.folder.filePath(QStringLiteral("today.json"));
        if (replaced != Replaced::nothing && replaced != Replaced::bySyncWithToday)
            keepDiaryWithPage(
                graph, session.selectedDay(),
                replaced == Replaced::byRestoreWithoutToday ? QString() : QStringLiteral("Kept."),
                false, replaced == Replaced::byMergeWithToday ? exportFile : QString());
        DiaryReminderCenter &reminders = desktop.container->reminders();
        test::waitFor(reminders.setTime(10, 1));
        test::waitFor(reminders.enableReminders());

        FreedesktopNotificationCenter &notifications = desktop.container->notifications();
        const QString todays =
            DiaryReminderCenter::identifierPrefix + session.selectedDay().rawValue();
        const auto todayPending = [&] {
            const QList<DiaryNotificationRequest> pending =
                test::waitFor(notifications.pendingNotificationRequests());
            return std::any_of(pending.cbegin(), pending.cend(),
                               [&](const auto &request) { return request.identifier == todays; });
        };
        DiaryBookWindow book;
        MacAppDelegate delegate;
        delegate.setSession(&session);
        delegate.adoptMainWindow(&book);
        book.setDelegate(&delegate);
        QWidget another;
        desktop.container->setBookWindow(&book);
        if (bookWindow != BookWindow::neverShown) {
            book.show();
            QVERIFY(QTest::qWaitForWindowActive(&book));
        }
        if (written)
            session.updateDraft(QStringLiteral("Today’s words."));
        if (replaced != Replaced::nothing) {
            // The plan made again after that writing was stored comes first.
            if (written)
                QVERIFY(waitUntil([&] { return !todayPending(); }));
            const QString quarantine = desktop.folder.filePath(QStringLiteral("Quarantine"));
            if (replaced == Replaced::bySyncWithToday) {
                DiaryEntryDTO page;
                page.id = QUuid::createUuid();
                page.dayKey = session.selectedDay();
                page.content = QStringLiteral("Written on the laptop.");
                page.fontName = QStringLiteral("Georgia");
                page.originTimeZone = session.calendar().timeZoneIdentifier();
                page.createdAt = QDateTime(today, QTime(9, 0)).toUTC();
                page.updatedAt = page.createdAt;
                page.revision = DiaryRevision{1};
                const QString pages =
                    desktop.folder.filePath(QStringLiteral("sync/Diary Sync/Pages"));
                QVERIFY(QDir().mkpath(pages));
                QFile file(pages + QLatin1Char('/') + page.dayKey.rawValue() +
                           QStringLiteral(".json"));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(DiaryCloudSyncFolder::encodePage(page));
                file.close();
                test::waitFor(graph.cloudSync().syncNow());
                QCOMPARE(graph.cloudSync().changeCount(), 1);
            } else if (replaced == Replaced::byMergeWithToday) {
                QFile file(exportFile);
                QVERIFY(file.open(QIODevice::ReadOnly));
                DiaryTransferService transfer(graph.repository(), graph.settingsStore(),
                                              graph.clock(), DiaryOpenDayReloader(&session));
                test::waitFor(transfer.importDocument(DiaryTransferCodec::decode(file.readAll()),
                                                      false, quarantine));
            } else {
                const QString backups = graph.persistenceDirectory() + QStringLiteral("/Backups");
                test::waitFor(graph.restoreCoordinator().restore(
                    DiarySnapshotService::listSnapshots(backups).first().packageURL, quarantine));
            }
            written = replaced != Replaced::byRestoreWithoutToday;
        }
        if (bookWindow == BookWindow::closed) {
            // As a window manager's close does: the close waits for the page to be stored.
            book.windowHandle()->close();
            QVERIFY(waitUntil([&] { return !book.isVisible(); }));
        }
        if (bookWindow == BookWindow::minimized)
            book.showMinimized();
        if (bookWindow == BookWindow::behindAnother) {
            another.show();
            QVERIFY(QTest::qWaitForWindowActive(&another));
        }

        // The plan made again after the save, the import, the restore or the sync.
        QVERIFY(waitUntil([&] { return todayPending() != written; }));
        const bool due = todayPending();
        QSignalSpy delivered(&notifications, &FreedesktopNotificationCenter::requestDelivered);
        desktop.clock->set(QDateTime(today, QTime(10, 1)).toUTC());
        notifications.deliverDueRequests();
        QVERIFY(waitUntil([&] { return delivered.size() == (due ? 1 : 0); }));
        QCOMPARE(desktop.server.shown.size(), shown ? 1 : 0);
        if (due) {
            QCOMPARE(delivered.at(0).at(0).toString(), todays);
            QCOMPARE(delivered.at(0).at(1).toBool(), shown);
        }
        if (shown)
            QCOMPARE(desktop.server.shown.first().appIcon, QStringLiteral("org.velmora.Velmora"));
        // Once: the request is gone whether it was shown or kept back.
        notifications.deliverDueRequests();
        QCOMPARE(delivered.size(), due ? 1 : 0);
    }

    // A name written into the settings file by hand reaches the reminders cut as the cover and
    // the settings window keep it.
    void remindersGreetWithTheNameAsKept() {
        DesktopFixture desktop;
        QVERIFY2(desktop.start(QStringLiteral("Greeting")), "dbus-daemon (package dbus) is needed");
        const auto defaults = desktop.container->graph().defaults();
        const QString endless(1000, QLatin1Char('N'));
        defaults->setString(UserDefaultsSettingsStore::userNameSetting.key, endless);
        test::waitFor(desktop.container->reminders().enableReminders());
        const QList<DiaryNotificationRequest> pending =
            test::waitFor(desktop.container->notifications().pendingNotificationRequests());
        QFile::remove(defaults->filePath());
        QVERIFY(!pending.isEmpty());
        int greeted = 0;
        for (const DiaryNotificationRequest &request : pending) {
            QVERIFY(!request.title.contains(endless.left(101)));
            greeted += request.title.contains(endless.left(100));
        }
        QVERIFY(greeted > 0);
    }
};

VELMORA_GUI_TEST_MAIN(ForegroundReminderTests)
#include "tst_foregroundreminders.moc"
