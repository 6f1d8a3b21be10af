#include "app/VuzIvoduAppDependencies.h"

#include "support/FakeNotificationServer.h"
#include "support/GuiTestMain.h"
#include "support/PrivateSessionBus.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

using namespace velmora;
using namespace velmora::test;

// The container's reminders on a desktop: shown while the diary is in the background, kept back
// while it is the active application. A program of its own, since the offscreen platform never
// makes an application inactive again once one of its windows was active.
class ForegroundReminderTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void remindersWaitWhileTheDiaryIsInFront() {
        PrivateSessionBus daemon(PrivateSessionBus::Activation::none);
        const QString address = daemon.address();
        QVERIFY2(!address.isEmpty(), "dbus-daemon (package dbus) is needed");
        FakeNotificationServer server;
        QDBusConnection serverBus =
            QDBusConnection::connectToBus(address, QStringLiteral("notification-server"));
        QVERIFY(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                         QDBusConnection::ExportAllSlots));
        QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        QTemporaryDir folder;
        DiaryProcessEnvironment environment;
        environment.arguments = {QStringLiteral("velmora"),
                                 QStringLiteral("--velmora-test-mode"),
                                 QStringLiteral("--velmora-store-url"),
                                 folder.filePath(QStringLiteral("diary/store.sqlite")),
                                 QStringLiteral("--velmora-defaults-suite"),
                                 QStringLiteral("Foreground")};
        environment.applicationSupportDirectory = folder.filePath(QStringLiteral("support"));
        environment.temporaryDirectory = folder.path();
        {
            VuzIvoduAppDependencies container(
                DiaryLaunchPlan::make(environment),
                QDBusConnection::connectToBus(address, QStringLiteral("notification-client")));
            FreedesktopNotificationCenter &notifications = container.notifications();
            QSignalSpy delivered(&notifications, &FreedesktopNotificationCenter::requestDelivered);
            const auto fallDue = [&](const QString &day) {
                const QDateTime past = QDateTime::currentDateTime().addSecs(-60);
                DiaryNotificationRequest request{QStringLiteral("velmora-reminder-") + day,
                                                 QStringLiteral("Tonight’s page"),
                                                 QStringLiteral("Write it down."),
                                                 DiaryReminderCenter::threadIdentifier,
                                                 true,
                                                 {past.date().year(), past.date().month(),
                                                  past.date().day(), past.time().hour(),
                                                  past.time().minute()}};
                test::waitFor(notifications.add(request));
                notifications.deliverDueRequests();
            };

            // In the background: shown, with the program's icon.
            QVERIFY(QGuiApplication::applicationState() != Qt::ApplicationActive);
            fallDue(QStringLiteral("2024-03-01"));
            QVERIFY(waitUntil([&] { return delivered.size() == 1; }));
            QCOMPARE(delivered.at(0).at(1).toBool(), true);
            QCOMPARE(server.shown.size(), 1);
            QCOMPARE(server.shown.first().appIcon, QStringLiteral("org.velmora.Velmora"));

            // The diary in front: kept back.
            QWidget diary;
            diary.show();
            QVERIFY(QTest::qWaitForWindowActive(&diary));
            QCOMPARE(QGuiApplication::applicationState(), Qt::ApplicationActive);
            fallDue(QStringLiteral("2024-03-02"));
            QVERIFY(waitUntil([&] { return delivered.size() == 2; }));
            QCOMPARE(delivered.at(1).at(1).toBool(), false);
            QCOMPARE(server.shown.size(), 1);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-client"));
        serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
    }
};

VELMORA_GUI_TEST_MAIN(ForegroundReminderTests)
#include "tst_foregroundreminders.moc"
