#include "daily/FreedesktopNotificationCenter.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

// A notification server that records what it is asked to show.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expireTimeout) {
        Q_UNUSED(replacesId)
        Q_UNUSED(appIcon)
        Q_UNUSED(expireTimeout)
        shown.append({appName, summary, body, actions, hints});
        return uint(shown.size()) + 100;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion) {
        vendor = QStringLiteral("Test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }
};

class RecordingDelegate final : public DiaryNotificationDelegate {
public:
    QStringList presented;
    QStringList opened;

    QCoro::Task<DiaryNotificationPresentationOptions>
    willPresentNotification(DiaryNotificationRequest request) override {
        presented.append(request.identifier);
        co_return DiaryNotificationPresentationOptions();
    }
    QCoro::Task<void> didReceiveNotificationResponse(QString identifier) override {
        opened.append(identifier);
        co_return;
    }
};

DiaryNotificationRequest request(const QString &identifier, int day, int hour = 21) {
    return {identifier,
            QStringLiteral("Tonight’s page"),
            QStringLiteral("Write it down before it fades."),
            QStringLiteral("velmora-reminder"),
            true,
            {2025, 6, day, hour, 0}};
}

} // namespace

class TestFreedesktopNotifications : public QObject {
    Q_OBJECT

    QTemporaryDir m_busDir;
    QProcess m_daemon;
    QString m_address;

    QStringList m_connectionNames;

    QDBusConnection busConnection(const QString &role) {
        m_connectionNames.append(role + QString::number(m_connectionNames.size()));
        QDBusConnection connection =
            QDBusConnection::connectToBus(m_address, m_connectionNames.last());
        if (!connection.isConnected())
            qFatal("The test bus refused a connection");
        return connection;
    }

private Q_SLOTS:
    void initTestCase() {
        // A private session bus that activates nothing, so no notification server installed on
        // the machine can answer in place of the test's own.
        const QString config = m_busDir.filePath(QStringLiteral("session.conf"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=" +
            QFile::encodeName(m_busDir.path()) +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        QVERIFY2(m_daemon.waitForStarted(), "dbus-daemon (package dbus) is needed");
        QVERIFY(test::waitUntil([&] { return m_daemon.canReadLine(); }));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
    }
    void cleanupTestCase() {
        for (const QString &name : std::as_const(m_connectionNames))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    void authorisationFollowsTheService() {
        QTemporaryDir dir;
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc()));
        FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                             GregorianCalendar(QTimeZone::utc()));
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::notDetermined);
        // Nobody serves notifications yet.
        QVERIFY(!test::waitFor(center.requestAuthorization({})));
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::notDetermined);

        FakeNotificationServer server;
        QDBusConnection serverBus = busConnection("server");
        QVERIFY(serverBus.registerObject(objectPath, &server, QDBusConnection::ExportAllSlots));
        QVERIFY(serverBus.registerService(serviceName));
        QVERIFY(test::waitFor(center.requestAuthorization({})));
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::authorized);
        serverBus.unregisterService(serviceName);
    }

    void deliveryAndResponse() {
        FakeNotificationServer server;
        QDBusConnection serverBus = busConnection("server");
        QVERIFY(serverBus.registerObject(objectPath, &server, QDBusConnection::ExportAllSlots));
        QVERIFY(serverBus.registerService(serviceName));

        QTemporaryDir dir;
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 10), QTime(12, 0), QTimeZone::utc()));
        RecordingDelegate delegate;
        FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                             GregorianCalendar(QTimeZone::utc()));
        center.setDelegate(&delegate);
        bool active = false;
        center.setApplicationActiveProbe([&] { return active; });
        QSignalSpy delivered(&center, &FreedesktopNotificationCenter::requestDelivered);

        test::waitFor(center.add(request(QStringLiteral("velmora-reminder-2025-06-10"), 10)));
        test::waitFor(center.add(request(QStringLiteral("velmora-reminder-2025-06-11"), 11)));
        QCOMPARE(*center.nextFiringTime(),
                 QDateTime(QDate(2025, 6, 10), QTime(21, 0), QTimeZone::utc()));

        // Due while the window is active: the delegate decides, and shows nothing.
        active = true;
        clock->set(QDateTime(QDate(2025, 6, 10), QTime(21, 0, 30), QTimeZone::utc()));
        center.deliverDueRequests();
        QVERIFY(test::waitUntil([&] { return delivered.size() == 1; }));
        QCOMPARE(delivered.at(0).at(1).toBool(), false);
        QCOMPARE(delegate.presented, QStringList{QStringLiteral("velmora-reminder-2025-06-10")});
        QVERIFY(server.shown.isEmpty());

        // Due in the background: one Notify, on the timer.
        active = false;
        clock->set(QDateTime(QDate(2025, 6, 11), QTime(21, 5), QTimeZone::utc()));
        center.setCheckInterval(10ms);
        center.deliverDueRequests();
        QVERIFY(test::waitUntil([&] { return delivered.size() == 2; }));
        QCOMPARE(server.shown.size(), 1);
        const auto &shown = server.shown.first();
        QCOMPARE(shown.appName, QStringLiteral("Velmora"));
        QCOMPARE(shown.summary, QStringLiteral("Tonight’s page"));
        QCOMPARE(shown.body, QStringLiteral("Write it down before it fades."));
        QVERIFY(shown.actions.contains(QStringLiteral("default")));
        QCOMPARE(shown.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("org.velmora.Velmora"));
        QVERIFY(shown.hints.contains(QStringLiteral("sound-name")));
        QVERIFY(test::waitFor(center.pendingNotificationRequests()).isEmpty());
        QVERIFY(!center.isTimerActive());

        // A click on ours reaches the delegate; an id we never showed does not.
        for (const uint id : {uint(999), uint(101)}) {
            QDBusMessage signal = QDBusMessage::createSignal(objectPath, serviceName,
                                                             QStringLiteral("ActionInvoked"));
            signal << id << QStringLiteral("default");
            QVERIFY(serverBus.send(signal));
        }
        QVERIFY(test::waitUntil([&] { return !delegate.opened.isEmpty(); }));
        QTest::qWait(50);
        QCOMPARE(delegate.opened, QStringList{QStringLiteral("velmora-reminder-2025-06-11")});
        serverBus.unregisterService(serviceName);
    }

    void pendingSurvivesARestartAndRemovalStopsTheTimer() {
        QTemporaryDir dir;
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc()));
        const auto first = request(QStringLiteral("velmora-reminder-2025-06-10"), 10);
        const auto second = request(QStringLiteral("velmora-reminder-2025-06-12"), 12, 7);
        {
            FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                                 GregorianCalendar(QTimeZone::utc()));
            test::waitFor(center.add(first));
            test::waitFor(center.add(second));
            // The same identifier replaces its request.
            test::waitFor(center.add(second));
            QVERIFY(center.isTimerActive());
        }
        FreedesktopNotificationCenter reopened(dir.path(), busConnection("client"), clock,
                                               GregorianCalendar(QTimeZone::utc()));
        QCOMPARE(test::waitFor(reopened.pendingNotificationRequests()),
                 (QList<DiaryNotificationRequest>{first, second}));
        QVERIFY(reopened.isTimerActive());
        test::waitFor(
            reopened.removePendingNotificationRequests({first.identifier, second.identifier}));
        QVERIFY(!reopened.isTimerActive());
        QVERIFY(!reopened.nextFiringTime());
    }

    void damagedFileStartsEmpty() {
        QTemporaryDir dir;
        QFile file(dir.filePath(FreedesktopNotificationCenter::fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"pending\": [trun");
        file.close();
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc()));
        FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                             GregorianCalendar(QTimeZone::utc()));
        QVERIFY(test::waitFor(center.pendingNotificationRequests()).isEmpty());
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::notDetermined);
    }
};

VELMORA_TEST_MAIN(TestFreedesktopNotifications)
#include "tst_freedesktopnotifications.moc"
