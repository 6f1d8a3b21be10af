#include "pages/BoundedPageCache.h"
#include "pages/PageDescriptor.h"
#include "platform/JsonCoding.h"
#include "support/TestSupport.h"

using namespace velmora;

Q_DECLARE_METATYPE(velmora::PageLayoutKey)
Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

LeafLayoutMetrics pageMetrics() {
    return {696, 840, 0, 0, 0, 1};
}

PageLayoutKey layoutKey() {
    return {day("2024-02-29"),
            QUuid::fromString(QStringLiteral("{6F9619FF-8B86-D011-B42D-00CF4FC964FF}")),
            DiaryRevision{3},
            QStringLiteral("Georgia"),
            16,
            pageMetrics()};
}

using Cache = BoundedPageCache<QString, int>;

} // namespace

class PageDescriptorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keyIdentity_data() {
        QTest::addColumn<PageLayoutKey>("other");
        QTest::addColumn<bool>("equal");
        const PageLayoutKey base = layoutKey();
        PageLayoutKey negativeZero = base;
        negativeZero.metrics.horizontalInset = -0.0;
        QTest::newRow("negative zero inset") << negativeZero << true;
        PageLayoutKey spacing = base;
        spacing.metrics.lineSpacing = 3;
        QTest::newRow("line spacing") << spacing << false;
        PageLayoutKey scale = base;
        scale.metrics.readingScale = 1.25;
        QTest::newRow("reading scale") << scale << false;
        PageLayoutKey paddedFont = base;
        paddedFont.fontName = QStringLiteral(" Georgia ");
        QTest::newRow("font name with spaces") << paddedFont << false;
        PageLayoutKey revision = base;
        revision.revision = DiaryRevision{4};
        QTest::newRow("revision") << revision << false;
        PageLayoutKey nanSize = base;
        nanSize.bodyPointSize = qQNaN();
        QTest::newRow("not a number") << nanSize << false;
    }

    void keyIdentity() {
        QFETCH(PageLayoutKey, other);
        QFETCH(bool, equal);
        const PageLayoutKey base = layoutKey();
        QCOMPARE(base == other, equal);
        if (equal)
            QCOMPARE(qHash(base, 7), qHash(other, 7));
        // The cache must find exactly the keys that compare equal.
        BoundedPageCache<PageLayoutKey, int> cache(64);
        cache.insert(1, base, 1);
        QCOMPARE(cache.value(other).has_value(), equal);
    }

    void descriptorIDAbsentRevisionIsNotZero() {
        const PageDescriptorID blank{day("2024-01-05"), std::nullopt, 0};
        const PageDescriptorID zero{day("2024-01-05"), DiaryRevision{0}, 0};
        QVERIFY(blank != zero);
        QVERIFY(qHash(blank) != qHash(zero));
    }

    void descriptorIDJson_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<std::optional<qint64>>("revision");
        QTest::newRow("no revision")
            << QByteArray(R"({"dayKey":"2024-01-05","leafIndex":2})") << std::optional<qint64>();
        QTest::newRow("revision 0")
            << QByteArray(R"({"dayKey":"2024-01-05","leafIndex":2,"revision":0})")
            << std::optional<qint64>(0);
    }

    void descriptorIDJson() {
        QFETCH(QByteArray, json);
        QFETCH(std::optional<qint64>, revision);
        const PageDescriptorID id = PageDescriptorID::fromJson(parseJson(json));
        QCOMPARE(id.dayKey, day("2024-01-05"));
        QCOMPARE(id.leafIndex, 2);
        QCOMPARE(id.revision.has_value(), revision.has_value());
        if (revision)
            QCOMPARE(id.revision->rawValue, *revision);
        QCOMPARE(writeJson(id.toJson()), json);
    }

    void decodingFailures_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("path");
        using Kind = JsonDecodingError::Kind;
        QTest::newRow("bad day key") << QByteArray(R"({"dayKey":"2023-02-29","leafIndex":0})")
                                     << int(Kind::dataCorrupted) << "dayKey";
        QTest::newRow("missing leaf index")
            << QByteArray(R"({"dayKey":"2024-01-05"})") << int(Kind::keyNotFound) << "";
        QTest::newRow("revision as text")
            << QByteArray(R"({"dayKey":"2024-01-05","leafIndex":0,"revision":"1"})")
            << int(Kind::typeMismatch) << "revision";
        QTest::newRow("negative revision")
            << QByteArray(R"({"dayKey":"2024-01-05","leafIndex":0,"revision":-1})")
            << int(Kind::dataCorrupted) << "revision";
    }

    void decodingFailures() {
        QFETCH(QByteArray, json);
        QFETCH(int, kind);
        QFETCH(QString, path);
        try {
            PageDescriptorID::fromJson(parseJson(json));
            QFAIL("decoding should fail");
        } catch (const JsonDecodingError &error) {
            QCOMPARE(int(error.kind()), kind);
            QCOMPARE(error.codingPathText(), path);
        }
    }

    void rangeJsonIgnoresUnknownKeys() {
        const auto range =
            UTF16TextRange::fromJson(parseJson(R"({"length":4,"location":9,"extra":true})"));
        QCOMPARE(range, (UTF16TextRange{9, 4}));
        QCOMPARE(writeJson(range.toJson()), QByteArray(R"({"length":4,"location":9})"));
    }

    void pageKindRawValues() {
        QCOMPARE(fromRawValue<PageKind>(u"sealed"), PageKind::sealed);
        QVERIFY(!fromRawValue<PageKind>(u"Sealed"));
        QVERIFY(!fromRawValue<PageKind>(u""));
    }

    // Each row inserts (key, cost) pairs, or looks a key up when the cost is -1, then checks the
    // keys left from least to most recent and the total cost.
    void cacheEviction_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("recency");
        QTest::addColumn<qint64>("total");
        QTest::newRow("cost 0 drops the older value")
            << QStringList{"A:5", "A:0"} << QStringList{} << qint64(0);
        QTest::newRow("cost above the limit is not kept")
            << QStringList{"A:5", "B:65"} << QStringList{"A"} << qint64(5);
        QTest::newRow("the oldest goes first")
            << QStringList{"A:40", "B:30"} << QStringList{"B"} << qint64(30);
        QTest::newRow("a lookup refreshes")
            << QStringList{"A:30", "B:30", "A:-1", "C:10"} << QStringList{"A", "C"} << qint64(40);
        QTest::newRow("a miss changes nothing")
            << QStringList{"A:30", "B:30", "Z:-1", "C:10"} << QStringList{"B", "C"} << qint64(40);
        QTest::newRow("replacing moves to the recent end")
            << QStringList{"A:10", "B:10", "A:20"} << QStringList{"B", "A"} << qint64(30);
        QTest::newRow("exactly the limit evicts all others")
            << QStringList{"A:1", "B:1", "C:64"} << QStringList{"C"} << qint64(64);
    }

    void cacheEviction() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, recency);
        QFETCH(qint64, total);
        Cache cache(64);
        for (const QString &step : steps) {
            const QString key = step.section(u':', 0, 0);
            const int cost = step.section(u':', 1).toInt();
            if (cost < 0)
                cache.value(key);
            else
                cache.insert(cost, key, cost);
        }
        QCOMPARE(cache.recency(), recency);
        QCOMPARE(cache.totalCost(), total);
        for (const QString &key : recency)
            QVERIFY(cache.value(key).has_value());
    }
};

VELMORA_TEST_MAIN(PageDescriptorTest)
#include "tst_pagedescriptor.moc"
