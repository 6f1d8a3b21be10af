#include "daily/DiaryLocalTime.h"
#include "daily/DiaryReminderCenter.h"
#include "daily/DiaryReminderText.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/AsyncSleep.h"
#include "support/ScriptedNotificationCenter.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <stdexcept>

using namespace velmora;
using namespace std::chrono_literals;
using Status = DiaryNotificationAuthorizationStatus;
using test::ScriptedNotificationCenter;

namespace {

const QTimeZone berlin("Europe/Berlin");

QDateTime berlinTime(int year, int month, int day, int hour, int minute = 0) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute), berlin);
}

DayKey key(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.filePath(QStringLiteral("defaults.ini")));
    std::shared_ptr<ScriptedNotificationCenter> notifications =
        std::make_shared<ScriptedNotificationCenter>();
    std::shared_ptr<test::TestClock> clock =
        std::make_shared<test::TestClock>(berlinTime(2025, 6, 10, 10).toUTC());

    std::unique_ptr<DiaryReminderCenter> center(bool enabled = true) {
        defaults->setBool(UserDefaultsSettingsStore::reminderEnabledSetting.key, enabled);
        return std::make_unique<DiaryReminderCenter>(defaults, notifications, clock,
                                                     GregorianCalendar(berlin));
    }
};

QStringList reminderDays(const QString &first, int count) {
    QStringList result;
    const QDate start = QDate::fromString(first, Qt::ISODate);
    for (int i = 0; i < count; ++i)
        result.append(QStringLiteral("velmora-reminder-") + start.addDays(i).toString(Qt::ISODate));
    return result;
}

} // namespace

class TestReminderCenter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fourteenDaysAhead() {
        Fixture f;
        auto center = f.center();
        test::waitFor(center->reschedule());
        QCOMPARE(f.notifications->identifiers(), reminderDays("2025-06-10", 14));
        const DiaryNotificationRequest &first = f.notifications->pending.first();
        QCOMPARE(first.trigger, (DiaryCalendarTrigger{2025, 6, 10, 21, 0}));
        QCOMPARE(first.threadIdentifier, QStringLiteral("velmora-reminder"));
        QVERIFY(first.playsDefaultSound);
        // No context: unwritten, no memories, no name.
        const DiaryReminderText text = reminderText(key("2025-06-10"), 21, QString(), std::nullopt);
        QCOMPARE(first.title, text.title);
        QCOMPARE(first.body, text.body);
    }

    void todayDroppedWhenPastOrWritten_data() {
        QTest::addColumn<int>("nowHour");
        QTest::addColumn<bool>("writtenToday");
        QTest::newRow("time already past") << 22 << false;
        QTest::newRow("today written") << 10 << true;
        QTest::newRow("exactly now is not to come") << 21 << false;
    }
    void todayDroppedWhenPastOrWritten() {
        QFETCH(int, nowHour);
        QFETCH(bool, writtenToday);
        Fixture f;
        f.clock->set(berlinTime(2025, 6, 10, nowHour).toUTC());
        auto center = f.center();
        center->setContext([writtenToday]() -> QCoro::Task<DiaryReminderContext> {
            co_return DiaryReminderContext{writtenToday, {}, QString()};
        });
        test::waitFor(center->reschedule());
        QCOMPARE(f.notifications->identifiers(), reminderDays("2025-06-11", 13));
    }

    void contextWordsTheTexts() {
        Fixture f;
        auto center = f.center();
        center->setContext([]() -> QCoro::Task<DiaryReminderContext> {
            co_return DiaryReminderContext{
                false, {{key("2025-06-12"), 3}}, QStringLiteral(" Ann Lee")};
        });
        test::waitFor(center->reschedule());
        for (const DiaryNotificationRequest &request : f.notifications->pending) {
            const DayKey day = *DayKey::fromRawValue(request.identifier.mid(17));
            const auto yearsAgo =
                day == key("2025-06-12") ? std::optional<qint64>(3) : std::nullopt;
            const DiaryReminderText text =
                reminderText(day, 21, QStringLiteral(" Ann Lee"), yearsAgo);
            QCOMPARE(request.title, text.title);
            QCOMPARE(request.body, text.body);
        }
        QCOMPARE(f.notifications->pending.at(2).title, QStringLiteral("On this day"));
    }

    void offRemovesOnlyOurs() {
        Fixture f;
        f.notifications->pending.append({QStringLiteral("someone-else"), {}, {}, {}, false, {}});
        auto on = f.center();
        test::waitFor(on->reschedule());
        QCOMPARE(f.notifications->pending.size(), 15);
        auto off = f.center(false);
        test::waitFor(off->reschedule());
        QCOMPARE(f.notifications->identifiers(), QStringList{QStringLiteral("someone-else")});
    }

    void onlyAllowedStatusesSchedule_data() {
        QTest::addColumn<Status>("status");
        QTest::addColumn<int>("requests");
        QTest::newRow("not determined") << Status::notDetermined << 0;
        QTest::newRow("denied") << Status::denied << 0;
        QTest::newRow("ephemeral") << Status::ephemeral << 0;
        QTest::newRow("provisional") << Status::provisional << 14;
    }
    void onlyAllowedStatusesSchedule() {
        QFETCH(Status, status);
        QFETCH(int, requests);
        Fixture f;
        f.notifications->pending.append(
            {QStringLiteral("velmora-reminder-2020-01-01"), {}, {}, {}, false, {}});
        f.notifications->status = status;
        auto center = f.center();
        test::waitFor(center->reschedule());
        QCOMPARE(f.notifications->pending.size(), requests);
        QVERIFY(center->isEnabled());
    }

    void storedTime_data() {
        QTest::addColumn<QVariant>("hour");
        QTest::addColumn<QVariant>("minute");
        QTest::addColumn<int>("expectedHour");
        QTest::addColumn<int>("expectedMinute");
        QTest::newRow("missing") << QVariant() << QVariant() << 21 << 0;
        QTest::newRow("integers") << QVariant(7) << QVariant(45) << 7 << 45;
        QTest::newRow("text that is no integer")
            << QVariant(QStringLiteral("evening")) << QVariant(QStringLiteral("half")) << 21 << 0;
        QTest::newRow("fractions") << QVariant(8.5) << QVariant(0.25) << 21 << 0;
    }
    void storedTime() {
        QFETCH(QVariant, hour);
        QFETCH(QVariant, minute);
        QFETCH(int, expectedHour);
        QFETCH(int, expectedMinute);
        Fixture f;
        if (hour.isValid())
            f.defaults->setObject(UserDefaultsSettingsStore::reminderHourSetting.key, hour);
        if (minute.isValid())
            f.defaults->setObject(UserDefaultsSettingsStore::reminderMinuteSetting.key, minute);
        f.defaults->synchronize();
        // A fresh read of the file, as after a restart, where numbers come back as text.
        f.defaults = std::make_shared<UserDefaults>(f.defaults->filePath());
        auto center = f.center();
        QCOMPARE(center->hour(), expectedHour);
        QCOMPARE(center->minute(), expectedMinute);
    }

    void setTimeWhileOffStoresAndClears() {
        Fixture f;
        f.notifications->pending.append(
            {QStringLiteral("velmora-reminder-2025-06-11"), {}, {}, {}, false, {}});
        auto center = f.center(false);
        QSignalSpy hours(center.get(), &DiaryReminderCenter::hourChanged);
        test::waitFor(center->setTime(7, 30));
        QCOMPARE(hours.size(), 1);
        QCOMPARE(f.defaults->integerValue(UserDefaultsSettingsStore::reminderHourSetting.key), 7);
        QCOMPARE(f.defaults->integerValue(UserDefaultsSettingsStore::reminderMinuteSetting.key),
                 30);
        QVERIFY(f.notifications->pending.isEmpty());
    }

    void enabling_data() {
        QTest::addColumn<bool>("grants");
        QTest::addColumn<bool>("throws");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("granted") << true << false << true;
        QTest::newRow("refused") << false << false << false;
        QTest::newRow("request failed") << true << true << false;
    }
    void enabling() {
        QFETCH(bool, grants);
        QFETCH(bool, throws);
        QFETCH(bool, enabled);
        Fixture f;
        f.notifications->status = Status::notDetermined;
        f.notifications->grants = grants;
        f.notifications->requestThrows = throws;
        auto center = f.center(false);
        test::waitFor(center->enableReminders());
        QVERIFY(f.defaults->boolValue(UserDefaultsSettingsStore::reminderOfferedSetting.key));
        QCOMPARE(center->isEnabled(), enabled);
        QCOMPARE(f.defaults->boolValue(UserDefaultsSettingsStore::reminderEnabledSetting.key),
                 enabled);
        QCOMPARE(f.notifications->pending.size(), enabled ? 14 : 0);
    }

    void deniedSwitchesOff() {
        Fixture f;
        auto center = f.center();
        test::waitFor(center->reschedule());
        f.notifications->status = Status::denied;
        test::waitFor(center->refreshAuthorization());
        QVERIFY(center->isDenied());
        QVERIFY(!center->isEnabled());
        QVERIFY(!f.defaults->boolValue(UserDefaultsSettingsStore::reminderEnabledSetting.key));
        // Pending requests are left to the next reschedule.
        QCOMPARE(f.notifications->pending.size(), 14);
    }

    void disableRemovesPending() {
        Fixture f;
        auto center = f.center();
        test::waitFor(center->reschedule());
        test::waitFor(center->disableReminders());
        QVERIFY(f.notifications->pending.isEmpty());
        QVERIFY(!f.defaults->boolValue(UserDefaultsSettingsStore::reminderEnabledSetting.key));
    }

    void openingOursRequestsToday() {
        Fixture f;
        auto center = f.center();
        QSignalSpy requests(center.get(), &DiaryReminderCenter::openTodayRequestChanged);
        test::waitFor(center->didReceiveNotificationResponse(QStringLiteral("other-2025-06-10")));
        QVERIFY(!center->openTodayRequest().isValid());
        test::waitFor(
            center->didReceiveNotificationResponse(QStringLiteral("velmora-reminder-2025-06-10")));
        QCOMPARE(center->openTodayRequest(), f.clock->now());
        QCOMPARE(requests.size(), 1);
        QVERIFY(!test::waitFor(center->willPresentNotification({})));
    }

    void daylightSavingDay() {
        // The clocks skip from 02:00 to 03:00 on the last Sunday of March.
        Fixture f;
        f.clock->set(berlinTime(2025, 3, 29, 12).toUTC());
        auto center = f.center();
        test::waitFor(center->setTime(2, 30));
        QCOMPARE(f.notifications->pending.size(), 13);
        QCOMPARE(f.notifications->pending.at(0).identifier,
                 QStringLiteral("velmora-reminder-2025-03-30"));
        QCOMPARE(f.notifications->pending.at(0).trigger, (DiaryCalendarTrigger{2025, 3, 30, 3, 0}));
        QCOMPARE(f.notifications->pending.at(1).trigger,
                 (DiaryCalendarTrigger{2025, 3, 31, 2, 30}));
    }

    void firstMoment_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QDateTime>("moment");
        const auto utc = [](int month, int day, int hour, int minute) {
            return QDateTime(QDate(2025, month, day), QTime(hour, minute), QTimeZone::utc());
        };
        QTest::newRow("ordinary winter") << QDate(2025, 1, 5) << QTime(21, 0) << utc(1, 5, 20, 0);
        QTest::newRow("ordinary summer") << QDate(2025, 7, 5) << QTime(21, 0) << utc(7, 5, 19, 0);
        QTest::newRow("inside the gap: the jump itself")
            << QDate(2025, 3, 30) << QTime(2, 30) << utc(3, 30, 1, 0);
        QTest::newRow("just after the gap")
            << QDate(2025, 3, 30) << QTime(3, 0) << utc(3, 30, 1, 0);
        QTest::newRow("repeated hour: first occurrence")
            << QDate(2025, 10, 26) << QTime(2, 30) << utc(10, 26, 0, 30);
        QTest::newRow("invalid time") << QDate(2025, 1, 5) << QTime(25, 0) << QDateTime();
    }
    void firstMoment() {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QDateTime, moment);
        const auto result = firstMomentAt(date, time, berlin);
        QCOMPARE(result.has_value(), moment.isValid());
        if (result)
            QCOMPARE(*result, moment);
    }

    void setTimeWhileARunAwaitsItsContext() {
        Fixture f;
        f.clock->set(berlinTime(2025, 6, 10, 7).toUTC());
        auto center = f.center();
        int contextCalls = 0;
        center->setContext([&contextCalls]() -> QCoro::Task<DiaryReminderContext> {
            // The first plan waits long for its context; the later one gets it at once.
            if (++contextCalls == 1)
                co_await sleepFor(300ms);
            co_return DiaryReminderContext{};
        });
        auto stale = center->reschedule();
        QVERIFY(test::waitUntil([&] { return contextCalls == 1; }));
        test::waitFor(center->setTime(8, 0));
        test::waitFor(std::move(stale));
        QCOMPARE(f.notifications->pending.size(), 14);
        for (const auto &request : f.notifications->pending)
            QCOMPARE(request.trigger.hour, 8);
        QCOMPARE(f.notifications->addCount, 14);
    }

    void disableWhileARunIsAdding() {
        Fixture f;
        auto center = f.center();
        std::optional<QCoro::Task<void>> disabling;
        f.notifications->duringNextAdd = [&] { disabling.emplace(center->disableReminders()); };
        test::waitFor(center->reschedule());
        QVERIFY(disabling);
        test::waitFor(std::move(*disabling));
        QCOMPARE(f.notifications->addCount, 1);
        QVERIFY(f.notifications->pending.isEmpty());
        QVERIFY(!center->isEnabled());
    }
};

VELMORA_TEST_MAIN(TestReminderCenter)
#include "tst_remindercenter.moc"
