#include "daily/FreedesktopNotificationCenter.h"
#include "support/FakeNotificationServer.h"
#include "support/PrivateSessionBus.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

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

// Serves `server` under the notification service's name until it goes, so that a failed check
// leaves the name free for the next test.
class Serving {
public:
    Serving(QDBusConnection bus, test::FakeNotificationServer &server)
        : m_bus(std::move(bus)) {
        m_serving = m_bus.registerObject(objectPath, &server, QDBusConnection::ExportAllSlots) &&
                    m_bus.registerService(serviceName);
    }
    ~Serving() {
        m_bus.unregisterService(serviceName);
        m_bus.unregisterObject(objectPath);
    }
    bool serving() const { return m_serving; }
    QDBusConnection &bus() { return m_bus; }

private:
    QDBusConnection m_bus;
    bool m_serving = false;
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

    // A private session bus that activates nothing, so no notification server installed on the
    // machine can answer in place of the test's own.
    test::PrivateSessionBus m_bus{test::PrivateSessionBus::Activation::none};
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
        m_address = m_bus.address();
        QVERIFY2(m_bus.started(), "dbus-daemon (package dbus) is needed");
        QVERIFY(!m_address.isEmpty());
    }
    void cleanupTestCase() {
        for (const QString &name : std::as_const(m_connectionNames))
            QDBusConnection::disconnectFromBus(name);
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

        test::FakeNotificationServer server;
        Serving serving(busConnection("server"), server);
        QVERIFY(serving.serving());
        QVERIFY(test::waitFor(center.requestAuthorization({})));
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::authorized);
    }

    void deliveryAndResponse() {
        test::FakeNotificationServer server;
        Serving serving(busConnection("server"), server);
        QVERIFY(serving.serving());

        QTemporaryDir dir;
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 10), QTime(12, 0), QTimeZone::utc()));
        RecordingDelegate delegate;
        FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                             GregorianCalendar(QTimeZone::utc()));
        center.setDelegate(&delegate);
        bool active = false;
        center.setInFrontProbe([&] { return active; });
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
        QCOMPARE(shown.appIcon, QStringLiteral("org.velmora.Velmora"));
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
            QVERIFY(serving.bus().send(signal));
        }
        QVERIFY(test::waitUntil([&] { return !delegate.opened.isEmpty(); }));
        QTest::qWait(50);
        QCOMPARE(delegate.opened, QStringList{QStringLiteral("velmora-reminder-2025-06-11")});
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

    void missedWhileNotRunningIsDropped_data() {
        QTest::addColumn<QDateTime>("restart");
        QTest::addColumn<QStringList>("left");
        const QString tenth = QStringLiteral("velmora-reminder-2025-06-10");
        const QString eleventh = QStringLiteral("velmora-reminder-2025-06-11");
        QTest::newRow("nothing missed")
            << QDateTime(QDate(2025, 6, 10), QTime(20, 59), QTimeZone::utc())
            << QStringList{tenth, eleventh};
        QTest::newRow("one missed") << QDateTime(QDate(2025, 6, 11), QTime(9, 0), QTimeZone::utc())
                                    << QStringList{eleventh};
        QTest::newRow("all missed")
            << QDateTime(QDate(2025, 6, 12), QTime(9, 0), QTimeZone::utc()) << QStringList();
    }

    void missedWhileNotRunningIsDropped() {
        QFETCH(QDateTime, restart);
        QFETCH(QStringList, left);
        test::FakeNotificationServer server;
        Serving serving(busConnection("server"), server);
        QVERIFY(serving.serving());
        QTemporaryDir dir;
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 10), QTime(12, 0), QTimeZone::utc()));
        {
            FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                                 GregorianCalendar(QTimeZone::utc()));
            test::waitFor(center.add(request(QStringLiteral("velmora-reminder-2025-06-10"), 10)));
            test::waitFor(center.add(request(QStringLiteral("velmora-reminder-2025-06-11"), 11)));
        }

        // Started again after the program was not running.
        clock->set(restart);
        const auto pendingAfterStart = [&] {
            FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                                 GregorianCalendar(QTimeZone::utc()));
            QSignalSpy delivered(&center, &FreedesktopNotificationCenter::requestDelivered);
            QStringList identifiers;
            for (const auto &pending : test::waitFor(center.pendingNotificationRequests()))
                identifiers.append(pending.identifier);
            QTest::qWait(50);
            return std::pair{identifiers, int(delivered.size())};
        };
        const auto [pending, delivered] = pendingAfterStart();
        QCOMPARE(pending, left);
        QCOMPARE(delivered, 0);
        QVERIFY(server.shown.isEmpty());
        // The file no longer holds them either.
        QCOMPARE(pendingAfterStart().first, left);
    }

    void permissionComesBackWhenAServiceAnswers_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("file lost") << QByteArray();
        QTest::newRow("file damaged") << QByteArray("{\"authorized\": tr");
        QTest::newRow("never asked") << QByteArray("{\"authorized\": false, \"pending\": []}");
    }

    void permissionComesBackWhenAServiceAnswers() {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        if (!file.isNull()) {
            QFile damaged(dir.filePath(FreedesktopNotificationCenter::fileName));
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(file);
        }
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc()));
        {
            test::FakeNotificationServer server;
            Serving serving(busConnection("server"), server);
            QVERIFY(serving.serving());
            FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                                 GregorianCalendar(QTimeZone::utc()));
            QCOMPARE(test::waitFor(center.authorizationStatus()),
                     DiaryNotificationAuthorizationStatus::authorized);
        }
        // Kept, for a start at which the service is not yet there.
        FreedesktopNotificationCenter reopened(dir.path(), busConnection("client"), clock,
                                               GregorianCalendar(QTimeZone::utc()));
        QCOMPARE(test::waitFor(reopened.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::authorized);
    }

    // A file that cannot be read as the diary's own files are is passed over: the centre starts
    // empty, never waiting on a pipe, following a link or reading past its limit.
    void unreadableFileStartsEmpty_data() {
        QTest::addColumn<QString>("standing");
        QTest::addColumn<QByteArray>("bytes");
        // Were it read, permission and a reminder to come.
        const QByteArray granted = "{\"authorized\": true, \"pending\": [{\"identifier\": \"r\", "
                                   "\"trigger\": {\"year\": 2025, \"month\": 6, \"day\": 10}}]}";
        QTest::newRow("a damaged file") << "a file" << QByteArray("{\"pending\": [trun");
        QTest::newRow("a pipe") << "a pipe" << QByteArray();
        QTest::newRow("a link to a file elsewhere") << "a link" << granted;
        QTest::newRow("a file past the limit")
            << "a file" << granted + QByteArray(FreedesktopNotificationCenter::fileByteLimit, ' ');
    }

    void unreadableFileStartsEmpty() {
        QFETCH(QString, standing);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(FreedesktopNotificationCenter::fileName);
        test::standAt(path, standing, bytes);
        auto clock = std::make_shared<test::TestClock>(
            QDateTime(QDate(2025, 6, 1), QTime(9, 0), QTimeZone::utc()));
        FreedesktopNotificationCenter center(dir.path(), busConnection("client"), clock,
                                             GregorianCalendar(QTimeZone::utc()));
        const auto lettingGo = qScopeGuard([&] { test::letGoOfAWaitingReader(path); });
        QSignalSpy loaded(&center, &FreedesktopNotificationCenter::loaded);
        QVERIFY(test::waitUntil([&] { return loaded.size() == 1; }));
        QVERIFY(test::waitFor(center.pendingNotificationRequests()).isEmpty());
        QCOMPARE(test::waitFor(center.authorizationStatus()),
                 DiaryNotificationAuthorizationStatus::notDetermined);
    }
};

VELMORA_TEST_MAIN(TestFreedesktopNotifications)
#include "tst_freedesktopnotifications.moc"
