#include "app/VuzIvoduAppDependencies.h"

#include "support/FakeNotificationServer.h"
#include "support/GuiTestMain.h"
#include "support/PrivateSessionBus.h"

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
                                 suite};
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        container = std::make_unique<VuzIvoduAppDependencies>(
            DiaryLaunchPlan::make(environment),
            QDBusConnection::connectToBus(address, QStringLiteral("notification-client")));
        return true;
    }

    ~DesktopFixture() {
        container.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-client"));
        QDBusConnection(QStringLiteral("notification-server"))
            .unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
    }
};

// What became of the book window by the time a reminder falls due.
enum class BookWindow { neverShown, inFront, closed, minimized, behindAnother };

} // namespace

Q_DECLARE_METATYPE(BookWindow)

// The container's reminders on a desktop: shown unless the diary is in front, kept back while it
// is. A program of its own: the offscreen platform keeps an application active once one of its
// windows was, as Qt on X does after the focused window is hidden.
class ForegroundReminderTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void remindersWaitOnlyWhileTheDiaryIsInFront_data() {
        QTest::addColumn<BookWindow>("bookWindow");
        QTest::addColumn<bool>("shown");
        QTest::newRow("never shown") << BookWindow::neverShown << true;
        QTest::newRow("in front") << BookWindow::inFront << false;
        QTest::newRow("closed") << BookWindow::closed << true;
        QTest::newRow("minimized") << BookWindow::minimized << true;
        QTest::newRow("behind another window") << BookWindow::behindAnother << true;
    }

    void remindersWaitOnlyWhileTheDiaryIsInFront() {
        QFETCH(BookWindow, bookWindow);
        QFETCH(bool, shown);
        DesktopFixture desktop;
        QVERIFY2(desktop.start(QStringLiteral("Foreground")),
                 "dbus-daemon (package dbus) is needed");
        QWidget book;
        QWidget another;
        desktop.container->setBookWindow(&book);
        if (bookWindow != BookWindow::neverShown) {
            book.show();
            QVERIFY(QTest::qWaitForWindowActive(&book));
        }
        if (bookWindow == BookWindow::closed)
            book.close();
        if (bookWindow == BookWindow::minimized)
            book.showMinimized();
        if (bookWindow == BookWindow::behindAnother) {
            another.show();
            QVERIFY(QTest::qWaitForWindowActive(&another));
        }

        FreedesktopNotificationCenter &notifications = desktop.container->notifications();
        QSignalSpy delivered(&notifications, &FreedesktopNotificationCenter::requestDelivered);
        const QDateTime past = QDateTime::currentDateTime().addSecs(-60);
        const DiaryNotificationRequest request{QStringLiteral("velmora-reminder-2024-03-01"),
                                               QStringLiteral("Tonight’s page"),
                                               QStringLiteral("Write it down."),
                                               DiaryReminderCenter::threadIdentifier,
                                               true,
                                               {past.date().year(), past.date().month(),
                                                past.date().day(), past.time().hour(),
                                                past.time().minute()}};
        test::waitFor(notifications.add(request));
        notifications.deliverDueRequests();
        QVERIFY(waitUntil([&] { return delivered.size() == 1; }));
        QCOMPARE(delivered.at(0).at(1).toBool(), shown);
        // Once: the request is gone whether it was shown or kept back.
        notifications.deliverDueRequests();
        QCOMPARE(delivered.size(), 1);
        QCOMPARE(desktop.server.shown.size(), shown ? 1 : 0);
        if (shown)
            QCOMPARE(desktop.server.shown.first().appIcon, QStringLiteral("org.velmora.Velmora"));
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
