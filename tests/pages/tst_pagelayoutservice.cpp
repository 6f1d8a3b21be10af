#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "support/GuiTestMain.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;

namespace {

const LeafLayoutMetrics screenMetrics{696, 840, 0, 0, 0, 1};

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

DiaryEntryDTO entry(DiaryEntryStatus status, const QString &content) {
    DiaryEntryDTO result;
    result.id = QUuid::createUuid();
    result.dayKey = day("2024-03-01");
    result.content = content;
    result.fontName = QStringLiteral(" Palatino");
    result.bodyPointSize = 16;
    result.status = status;
    result.originTimeZone = QStringLiteral("Europe/Paris");
    result.createdAt = QDateTime::fromMSecsSinceEpoch(1709200000123, QTimeZone::utc());
    result.updatedAt = result.createdAt;
    if (status == DiaryEntryStatus::sealed)
        result.sealedAt = result.createdAt.addSecs(60);
    result.revision = DiaryRevision{5};
    return result;
}

// Answers with fixed ranges and counts its calls, to steer the service without text layout.
class ScriptedPaginator : public LeafPaginating {
public:
    QList<UTF16TextRange> ranges;
    mutable int calls = 0;
    mutable TextAttributes lastAttributes;

    QList<UTF16TextRange> leafRanges(const QString &, const TextAttributes &attributes, double,
                                     double, double, double) const override {
        ++calls;
        lastAttributes = attributes;
        return ranges;
    }
};

QList<UTF16TextRange> evenLeaves(qint64 count, qint64 length) {
    QList<UTF16TextRange> ranges;
    for (qint64 i = 0; i < count; ++i)
        ranges.append({i * length, length});
    return ranges;
}

struct Fixture {
    std::shared_ptr<ScriptedPaginator> paginator = std::make_shared<ScriptedPaginator>();
    std::shared_ptr<PageLayoutCache> cache =
        std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit);
    PageLayoutService service{paginator, cache};
};

} // namespace

Q_DECLARE_METATYPE(QList<velmora::UTF16TextRange>)

class PageLayoutServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void blankDay() {
        Fixture f;
        const auto leaves = f.service.descriptors(day("2024-03-02"), std::nullopt, screenMetrics,
                                                  QStringLiteral("Cochin"), 18);
        QCOMPARE(leaves.size(), 1);
        const PageDescriptor &blank = leaves.first();
        QCOMPARE(blank.kind, PageKind::blank);
        QCOMPARE(blank.id, (PageDescriptorID{day("2024-03-02"), std::nullopt, 0}));
        QCOMPARE(blank.content, QString());
        QCOMPARE(blank.fontName, QStringLiteral("Cochin"));
        QCOMPARE(blank.bodyPointSize, 18.0);
        QCOMPARE(blank.originTimeZone, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
        QCOMPARE(f.paginator->calls, 0);
        QCOMPARE(f.cache->totalCost(), 0);
    }

    void draftIsOneUncachedLeaf() {
        Fixture f;
        const DiaryEntryDTO draft = entry(DiaryEntryStatus::draft, QString(10000, u'w'));
        const auto leaves = f.service.descriptors(day("2024-03-01"), draft, screenMetrics,
                                                  QStringLiteral("Georgia"), 16);
        QCOMPARE(leaves.size(), 1);
        QCOMPARE(leaves.first().contentRange, (UTF16TextRange{0, 10000}));
        QCOMPARE(leaves.first().kind, PageKind::draft);
        QCOMPARE(leaves.first().fontName, QStringLiteral(" Palatino"));
        QCOMPARE(leaves.first().id.revision, std::optional(DiaryRevision{5}));
        QCOMPARE(f.paginator->calls, 0);
        QCOMPARE(f.cache->totalCost(), 0);
    }

    // A wrong split from the paginator becomes one leaf with the whole text.
    void invalidPartitionsFallBackToOneLeaf_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QList<UTF16TextRange>>("ranges");
        QTest::addColumn<int>("expectedLeaves");
        const QString text = QStringLiteral("abcdefghij");
        QTest::newRow("valid") << text << QList<UTF16TextRange>{{0, 4}, {4, 6}} << 2;
        QTest::newRow("empty list") << text << QList<UTF16TextRange>{} << 1;
        QTest::newRow("gap") << text << QList<UTF16TextRange>{{0, 4}, {5, 5}} << 1;
        QTest::newRow("not from zero") << text << QList<UTF16TextRange>{{1, 9}} << 1;
        QTest::newRow("empty leaf") << text << QList<UTF16TextRange>{{0, 0}, {0, 10}} << 1;
        QTest::newRow("short") << text << QList<UTF16TextRange>{{0, 9}} << 1;
        QTest::newRow("past the end") << text << QList<UTF16TextRange>{{0, 11}} << 1;
        QTest::newRow("overflowing length")
            << text << QList<UTF16TextRange>{{0, 5}, {5, std::numeric_limits<qint64>::max()}} << 1;
        QTest::newRow("negative length") << text << QList<UTF16TextRange>{{0, 12}, {12, -2}} << 1;
        QTest::newRow("empty text") << QString() << QList<UTF16TextRange>{{0, 0}} << 1;
    }

    void invalidPartitionsFallBackToOneLeaf() {
        QFETCH(QString, content);
        QFETCH(QList<UTF16TextRange>, ranges);
        QFETCH(int, expectedLeaves);
        Fixture f;
        f.paginator->ranges = ranges;
        const auto leaves =
            f.service.descriptors(day("2024-03-01"), entry(DiaryEntryStatus::sealed, content),
                                  screenMetrics, QStringLiteral("Georgia"), 16);
        QCOMPARE(leaves.size(), expectedLeaves);
        QString joined;
        for (const PageDescriptor &leaf : leaves) {
            QCOMPARE(leaf.kind, PageKind::sealed);
            QCOMPARE(leaf.leafCount, expectedLeaves);
            QCOMPARE(leaf.id.leafIndex, leaf.leafIndex);
            joined += leaf.content;
        }
        QCOMPARE(joined, content);
        QCOMPARE(f.cache->totalCost(), expectedLeaves);
    }

    // Each row changes one thing about a second layout of the same sealed entry.
    void cacheKeying_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("laidOutAgain");
        QTest::newRow("nothing") << "" << false;
        QTest::newRow("reading scale") << "readingScale" << true;
        QTest::newRow("horizontal inset") << "horizontalInset" << true;
        QTest::newRow("vertical inset") << "verticalInset" << true;
        QTest::newRow("line spacing") << "lineSpacing" << true;
        QTest::newRow("revision") << "revision" << true;
        QTest::newRow("blank-day font") << "blankFont" << false;
    }

    void cacheKeying() {
        QFETCH(QString, change);
        QFETCH(bool, laidOutAgain);
        Fixture f;
        f.paginator->ranges = evenLeaves(3, 10);
        DiaryEntryDTO sealed = entry(DiaryEntryStatus::sealed, QString(30, u'z'));
        const auto first = f.service.descriptors(day("2024-03-01"), sealed, screenMetrics,
                                                 QStringLiteral("Georgia"), 16);
        LeafLayoutMetrics metrics = screenMetrics;
        QString blankFont = QStringLiteral("Georgia");
        if (change == u"readingScale")
            metrics.readingScale = 1.2;
        else if (change == u"horizontalInset")
            metrics.horizontalInset = 1;
        else if (change == u"verticalInset")
            metrics.verticalInset = 1;
        else if (change == u"lineSpacing")
            metrics.lineSpacing = 3;
        else if (change == u"revision")
            sealed.revision = DiaryRevision{6};
        else if (change == u"blankFont")
            blankFont = QStringLiteral("Cochin");
        const auto second =
            f.service.descriptors(day("2024-03-01"), sealed, metrics, blankFont, 20);
        QCOMPARE(f.paginator->calls, laidOutAgain ? 2 : 1);
        QCOMPARE(second.size(), first.size());
    }

    void layoutFontFollowsEntryAndScale_data() {
        QTest::addColumn<QString>("fontName");
        QTest::addColumn<double>("pointSize");
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("expectedSize");
        QTest::addColumn<double>("expectedLineHeight");
        QTest::newRow("default") << "Georgia" << 16.0 << 1.0 << 16.0 << 40.0;
        QTest::newRow("scaled up") << " Palatino " << 24.0 << 1.5 << 36.0 << 58.0;
        QTest::newRow("line height from the size") << "Georgia" << 20.0 << 1.5 << 30.0 << 48.0;
        QTest::newRow("tiny size raised to 1") << "Georgia" << 16.0 << 0.01 << 1.0 << 40.0;
    }

    void layoutFontFollowsEntryAndScale() {
        QFETCH(QString, fontName);
        QFETCH(double, pointSize);
        QFETCH(double, scale);
        QFETCH(double, expectedSize);
        QFETCH(double, expectedLineHeight);
        Fixture f;
        f.paginator->ranges = evenLeaves(1, 3);
        DiaryEntryDTO sealed = entry(DiaryEntryStatus::sealed, QStringLiteral("abc"));
        sealed.fontName = fontName;
        sealed.bodyPointSize = pointSize;
        LeafLayoutMetrics metrics = screenMetrics;
        metrics.readingScale = scale;
        f.service.descriptors(day("2024-03-01"), sealed, metrics, QString(), 16);
        const TextAttributes &attributes = f.paginator->lastAttributes;
        QCOMPARE(attributes.font.pointSizeF(), expectedSize);
        QCOMPARE(attributes.paragraphStyle.minimumLineHeight, expectedLineHeight);
        QCOMPARE(attributes.paragraphStyle.maximumLineHeight, expectedLineHeight);
        QCOMPARE(attributes.font.family(),
                 resolveDiaryFont(resolvedFontName(fontName), expectedSize).family());
    }

    void layoutsBeyondTheCostLimitAreNeverKept() {
        Fixture f;
        DiaryEntryDTO small = entry(DiaryEntryStatus::sealed, QString(2, u'a'));
        f.paginator->ranges = evenLeaves(2, 1);
        f.service.descriptors(day("2024-03-01"), small, screenMetrics, QString(), 16);
        DiaryEntryDTO huge = entry(DiaryEntryStatus::sealed, QString(65, u'b'));
        f.paginator->ranges = evenLeaves(65, 1);
        QCOMPARE(
            f.service.descriptors(day("2024-03-02"), huge, screenMetrics, QString(), 16).size(),
            65);
        QCOMPARE(
            f.service.descriptors(day("2024-03-02"), huge, screenMetrics, QString(), 16).size(),
            65);
        QCOMPARE(f.paginator->calls, 3);
        QCOMPARE(f.cache->totalCost(), 2);

        DiaryEntryDTO full = entry(DiaryEntryStatus::sealed, QString(64, u'c'));
        f.paginator->ranges = evenLeaves(64, 1);
        f.service.descriptors(day("2024-03-03"), full, screenMetrics, QString(), 16);
        QCOMPARE(f.cache->totalCost(), 64);
        QCOMPARE(f.cache->recency().size(), 1);
    }

    // A day laid out ahead on a worker thread has the leaves the GUI thread gives it, and the
    // GUI thread's own layout of it afterwards lays nothing out again. `lines` lines of text;
    // `cost` is what the cache then holds.
    void layingOutAheadGivesTheSameLeaves_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("severalLeaves");
        QTest::addColumn<bool>("cached");
        QTest::newRow("sealed, several leaves") << "sealed" << 200 << true << true;
        QTest::newRow("sealed, one leaf") << "sealed" << 1 << false << true;
        QTest::newRow("draft") << "draft" << 200 << false << false;
        QTest::newRow("no entry") << "none" << 0 << false << false;
    }

    void layingOutAheadGivesTheSameLeaves() {
        QFETCH(QString, status);
        QFETCH(int, lines);
        QFETCH(bool, severalLeaves);
        QFETCH(bool, cached);
        auto cache = std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit);
        PageLayoutService service(std::make_shared<MacTextKitLeafPaginator>(), cache);
        std::optional<DiaryEntryDTO> written;
        if (status != QLatin1String("none"))
            written = entry(
                status == QLatin1String("sealed") ? DiaryEntryStatus::sealed
                                                  : DiaryEntryStatus::draft,
                QStringLiteral("A line of writing long enough to wrap once.\n").repeated(lines));

        const QList<PageDescriptor> ahead = test::waitFor(service.descriptorsInBackground(
            day("2024-03-01"), written, screenMetrics, QStringLiteral("Georgia"), 16));
        QCOMPARE(ahead.size() > 1, severalLeaves);
        QCOMPARE(cache->totalCost(), cached ? ahead.size() : 0);
        QCOMPARE(service.knownDescriptors(day("2024-03-01"), written, screenMetrics,
                                          QStringLiteral("Georgia"), 16),
                 std::optional(ahead));

        // Laid out afresh on the GUI thread, the same leaves.
        PageLayoutService fresh(std::make_shared<MacTextKitLeafPaginator>(),
                                std::make_shared<PageLayoutCache>(cache->costLimit()));
        QCOMPARE(fresh.descriptors(day("2024-03-01"), written, screenMetrics,
                                   QStringLiteral("Georgia"), 16),
                 ahead);
    }

    void realPaginatorSplitsSealedEntry() {
        auto cache = std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit);
        PageLayoutService service(std::make_shared<MacTextKitLeafPaginator>(), cache);
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral(
                "A line of sealed writing that is long enough to wrap. 👩‍👩‍👧\n");
        const auto leaves = service.descriptors(
            day("2024-03-01"), entry(DiaryEntryStatus::sealed, text), screenMetrics, QString(), 16);
        QVERIFY(leaves.size() > 1);
        QString joined;
        for (const PageDescriptor &leaf : leaves)
            joined += leaf.content;
        QCOMPARE(joined, text);
        QCOMPARE(cache->totalCost(), leaves.size());
    }
};

VELMORA_GUI_TEST_MAIN(PageLayoutServiceTest)
#include "tst_pagelayoutservice.moc"
