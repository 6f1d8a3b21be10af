#include "domain/DayKey.h"
#include "platform/JsonCoding.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;

class DayKeyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("leap day") << "2024-02-29" << true;
        QTest::newRow("not a leap year") << "2023-02-29" << false;
        QTest::newRow("april 31") << "2024-04-31" << false;
        QTest::newRow("month 13") << "2024-13-01" << false;
        QTest::newRow("month 0") << "2024-00-10" << false;
        QTest::newRow("day 0") << "2024-01-00" << false;
        QTest::newRow("short month") << "2024-1-05" << false;
        QTest::newRow("short day") << "2024-01-5" << false;
        QTest::newRow("no separators") << "20240105" << false;
        QTest::newRow("slashes") << "2024/01/05" << false;
        QTest::newRow("leading space") << " 2024-01-05" << false;
        QTest::newRow("trailing space") << "2024-01-05 " << false;
        QTest::newRow("full-width digits") << QString::fromUtf8("２０２４-０１-０５") << false;
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("٢٠٢٤-٠١-٠٥") << false;
        QTest::newRow("signed month") << "2024-+1-05" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("first of year") << "2024-01-01" << true;
        QTest::newRow("last of year") << "1999-12-31" << true;
    }

    void parsing() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto key = DayKey::fromRawValue(text);
        QCOMPARE(key.has_value(), valid);
        if (key)
            QCOMPARE(key->rawValue(), text);
    }

    void keyOfAMomentFollowsTheCalendarZone_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("key");
        // 2023-12-31 23:30 UTC
        QTest::newRow("UTC") << QByteArray("UTC") << "2023-12-31";
        QTest::newRow("UTC+1") << QByteArray("Europe/Paris") << "2024-01-01";
        QTest::newRow("UTC-10") << QByteArray("Pacific/Honolulu") << "2023-12-31";
        QTest::newRow("UTC+14") << QByteArray("Pacific/Kiritimati") << "2024-01-01";
    }

    void keyOfAMomentFollowsTheCalendarZone() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, key);
        const QDateTime moment(QDate(2023, 12, 31), QTime(23, 30), QTimeZone::utc());
        QCOMPARE(DayKey::fromDate(moment, GregorianCalendar(QTimeZone(zone))).rawValue(), key);
    }

    void dateOfAKey_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("start");
        const auto utc = [](int y, int m, int d, int h) {
            return QDateTime(QDate(y, m, d), QTime(h, 0), QTimeZone::utc());
        };
        QTest::newRow("UTC+1") << "2024-03-01" << QByteArray("UTC+01:00") << utc(2024, 2, 29, 23);
        QTest::newRow("UTC") << "2024-02-29" << QByteArray("UTC") << utc(2024, 2, 29, 0);
        // Midnight did not exist in São Paulo that day: the day began at 01:00 local time.
        QTest::newRow("skipped midnight")
            << "2018-11-04" << QByteArray("America/Sao_Paulo") << utc(2018, 11, 4, 3);
        QTest::newRow("spring forward in Paris")
            << "2024-03-31" << QByteArray("Europe/Paris") << utc(2024, 3, 30, 23);
    }

    void dateOfAKey() {
        QFETCH(QString, key);
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, start);
        const GregorianCalendar calendar{QTimeZone(zone)};
        const auto day = DayKey::fromRawValue(key);
        QVERIFY(day);
        const auto date = day->date(calendar);
        QVERIFY(date);
        QCOMPARE(*date, start);
        QCOMPARE(DayKey::fromDate(*date, calendar), *day);
    }

    void yearsAfter9999AreNotKeys() {
        const QDateTime farFuture(QDate(10000, 1, 1), QTime(12, 0), QTimeZone::utc());
        const DayKey key = DayKey::fromDate(farFuture, GregorianCalendar::utc());
        QCOMPARE(key.rawValue(), QStringLiteral("10000-01-01"));
        QVERIFY(!DayKey::fromRawValue(key.rawValue()));
    }

    void keysOrderAsText() {
        const auto key = [](const char *text) {
            return *DayKey::fromRawValue(QString::fromLatin1(text));
        };
        QVERIFY(key("2023-12-31") < key("2024-01-01"));
        QVERIFY(key("2024-01-09") < key("2024-01-10"));
        QVERIFY(key("2024-01-10") >= key("2024-01-10"));
        QCOMPARE(key("2024-01-10"), key("2024-01-10"));
        QCOMPARE(qHash(key("2024-01-10")), qHash(key("2024-01-10")));
    }

    void jsonDecoding_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("failure"); // -1: decodes
        QTest::newRow("bare text") << QByteArray("\"2024-02-29\"") << -1;
        QTest::newRow("invalid day")
            << QByteArray("\"2023-02-29\"") << int(JsonDecodingError::Kind::dataCorrupted);
        QTest::newRow("object") << QByteArray("{\"rawValue\":\"2024-02-29\"}")
                                << int(JsonDecodingError::Kind::typeMismatch);
        QTest::newRow("number") << QByteArray("20240229")
                                << int(JsonDecodingError::Kind::typeMismatch);
    }

    void jsonDecoding() {
        QFETCH(QByteArray, json);
        QFETCH(int, failure);
        const QStringList path{QStringLiteral("dayKey")};
        try {
            const DayKey key = DayKey::fromJson(parseJson(json), path);
            QCOMPARE(failure, -1);
            QCOMPARE(writeJson(key.toJson()), json);
        } catch (const JsonDecodingError &error) {
            QCOMPARE(int(error.kind()), failure);
            QCOMPARE(error.codingPath(), path);
            if (error.kind() == JsonDecodingError::Kind::dataCorrupted)
                QCOMPARE(error.debugDescription(),
                         QStringLiteral("Expected a valid yyyy-MM-dd day key."));
        }
    }

    void revisions() {
        QVERIFY(!DiaryRevision::fromRawValue(-1));
        QCOMPARE(DiaryRevision::fromRawValue(0)->rawValue, 0);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, DiaryRevision::fromJson(parseJson("-1")));
        QCOMPARE(DiaryRevision::fromJson(parseJson("9223372036854775807")).rawValue,
                 DiaryRevision::maximum);
    }

    void statusRawValues() {
        QCOMPARE(fromRawValue<DiaryEntryStatus>(u"draft"), DiaryEntryStatus::draft);
        QCOMPARE(fromRawValue<DiaryEntryStatus>(u"sealed"), DiaryEntryStatus::sealed);
        QVERIFY(!fromRawValue<DiaryEntryStatus>(u"Sealed"));
        QCOMPARE(rawValue(DiaryEntryStatus::sealed), QStringLiteral("sealed"));
    }
};

VELMORA_TEST_MAIN(DayKeyTest)
#include "tst_daykey.moc"
