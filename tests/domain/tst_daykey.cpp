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
};

VELMORA_TEST_MAIN(DayKeyTest)
#include "tst_daykey.moc"
