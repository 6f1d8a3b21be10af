#include "platform/GregorianCalendar.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;

class CalendarTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void civilDayFollowsTheZone_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("civil");
        // 2023-12-31 23:30 UTC
        QTest::newRow("UTC") << QByteArray("UTC") << QDate(2023, 12, 31);
        QTest::newRow("Paris") << QByteArray("Europe/Paris") << QDate(2024, 1, 1);
        QTest::newRow("New York") << QByteArray("America/New_York") << QDate(2023, 12, 31);
        QTest::newRow("Kiritimati") << QByteArray("Pacific/Kiritimati") << QDate(2024, 1, 1);
    }

    void civilDayFollowsTheZone() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, civil);
        const QDateTime moment(QDate(2023, 12, 31), QTime(23, 30), QTimeZone::utc());
        const GregorianCalendar calendar{QTimeZone(zone)};
        QCOMPARE(calendar.civilDate(moment), civil);
        const auto components = calendar.components(moment);
        QCOMPARE(QDate(components.year, components.month, components.day), civil);
    }

    void startOfDayWhenMidnightIsSkipped() {
        // São Paulo skipped 00:00-01:00 on 2018-11-04.
        const GregorianCalendar calendar{QTimeZone("America/Sao_Paulo")};
        const auto start = calendar.date(2018, 11, 4);
        QVERIFY(start);
        QVERIFY(start->isValid());
        QCOMPARE(calendar.civilDate(*start), QDate(2018, 11, 4));
        QCOMPARE(start->toTimeZone(QTimeZone("America/Sao_Paulo")).time(), QTime(1, 0));
        QCOMPARE(calendar.civilDate(start->addMSecs(-1)), QDate(2018, 11, 3));
    }

    void impossibleDaysHaveNoDate() {
        const auto calendar = GregorianCalendar::utc();
        QVERIFY(!calendar.date(2024, 2, 30));
        QVERIFY(!calendar.date(2023, 2, 29));
        QVERIFY(calendar.date(2024, 2, 29));
    }

    void autoupdatingCalendarRereadsTheSystemZone() {
        const auto calendar = GregorianCalendar::autoupdatingCurrent();
        const QDateTime moment(QDate(2023, 12, 31), QTime(23, 30), QTimeZone::utc());
        {
            test::ScopedTimeZone zone("Europe/Paris");
            QCOMPARE(calendar.timeZoneIdentifier(), QStringLiteral("Europe/Paris"));
            QCOMPARE(calendar.civilDate(moment), QDate(2024, 1, 1));
        }
        {
            test::ScopedTimeZone zone("America/New_York");
            QCOMPARE(calendar.timeZoneIdentifier(), QStringLiteral("America/New_York"));
            QCOMPARE(calendar.civilDate(moment), QDate(2023, 12, 31));
        }
    }
};

VELMORA_TEST_MAIN(CalendarTest)
#include "tst_calendar.moc"
