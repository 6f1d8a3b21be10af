#include "domain/PersistenceError.h"
#include "recall/DiaryFindResult.h"
#include "recall/DiaryHandwritingIndex.h"
#include "recall/DiaryOnThisDayItem.h"
#include "store/StoreFixture.h"
#include "support/GuiTestMain.h"
#include "support/TemporaryDiaryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace velmora;
using namespace velmora::test;
using Operation = ScriptedDiaryRepository::Operation;

namespace {

void writeIndex(const DiaryHandwritingStore &store,
                const QList<std::pair<QString, QString>> &pages) {
    QJsonObject root;
    for (const auto &[key, text] : pages)
        root.insert(key, QJsonObject{{"text", text}, {"fingerprint", "1-2.0"}});
    QDir().mkpath(store.directory());
    QFile file(store.directory() + "/handwriting-index.json");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

void touchDrawing(const DiaryHandwritingStore &store, const char *dayText, int leaf) {
    store.write("ink", day(dayText), leaf);
}

DiaryEntryDTO typed(const char *dayText, const QString &content) {
    return velmora::test::entry(dayText, content);
}

DiaryOnThisDay onThisDay(ScriptedDiaryRepository &repository, const DiaryHandwritingStore &store,
                         int year, int month, int dayOfMonth) {
    return test::waitFor(loadOnThisDayItems(repository, store, utc(year, month, dayOfMonth),
                                            GregorianCalendar::utc()));
}

QStringList described(const QList<DiaryOnThisDayItem> &items) {
    QStringList result;
    for (const auto &item : items)
        result.append(QStringLiteral("%1 %2 %3")
                          .arg(item.day.rawValue())
                          .arg(item.yearsAgo)
                          .arg(item.preview.value_or(QStringLiteral("<handwritten>"))));
    return result;
}

} // namespace

class RecallQueriesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void findsTypedAndHandwrittenDays() {
        StoreFixture fixture;
        fixture.saved("2024-05-10", "Remember to call the bakery");
        fixture.saved("2024-05-11", "bakery again");
        fixture.saved("2024-05-14", "nothing to see");
        const DiaryHandwritingStore store(fixture.dir.filePath("Handwriting"));
        writeIndex(store, {{"2024-05-11#0", "bakery leaf"},
                           {"2024-05-12#0", "BAKÉRY list"},
                           {"2024-05-13#2", "bakery, second leaf"},
                           {"2024-05-13#0", "bakery, first leaf"}});
        DiaryHandwritingIndex index(store);

        const QList<DiaryFindResult> expected{
            {day("2024-05-13"), "bakery, first leaf", true},
            {day("2024-05-12"), "BAKÉRY list", true},
            {day("2024-05-11"), "bakery again", false},
            {day("2024-05-10"), "Remember to call the bakery", false}};
        QCOMPARE(test::waitFor(findEntries(" Bakery\n", *fixture.repository, index, 50)), expected);
        // Each source is limited, the merged list is not.
        const QList<DiaryFindResult> limited{{day("2024-05-13"), "bakery, first leaf", true},
                                             {day("2024-05-11"), "bakery again", false}};
        QCOMPARE(test::waitFor(findEntries("bakery", *fixture.repository, index, 1)), limited);
        QVERIFY(test::waitFor(findEntries("  ", *fixture.repository, index, 50)).isEmpty());
    }

    void findAsksNothingForABlankQueryAndFailsWithTheStore() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        writeIndex(store, {{"2024-05-12#0", "bakery"}});
        DiaryHandwritingIndex index(store);
        TemporaryDiaryStore diary;
        ScriptedDiaryRepository &repository = *diary.repository;
        QVERIFY(test::waitFor(findEntries(" \n", repository, index, 50)).isEmpty());
        QCOMPARE(repository.callCount(Operation::search), 0);
        repository.failNext(Operation::search, PersistenceError::invalidData("broken"));
        QVERIFY(thrownBy<PersistenceError>(
            [&] { test::waitFor(findEntries("bakery", repository, index, 50)); }));
    }

    // The page that asked may close, and its index go, while the store still searches.
    void aFindOutlivesTheIndexItAsked() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        writeIndex(store, {{"2024-05-12#0", "bakery"}});
        auto index = std::make_unique<DiaryHandwritingIndex>(store);
        TemporaryDiaryStore diary;
        diary.repository->beforeNext(Operation::search, [&] { index.reset(); });
        const QList<DiaryFindResult> expected{{day("2024-05-12"), "bakery", true}};
        QCOMPARE(test::waitFor(findEntries("bakery", *diary.repository, *index, 50)), expected);
        QVERIFY(!index);
    }

    void looksBackOverEarlierYears_data() {
        QTest::addColumn<QStringList>("entries");  // "yyyy-MM-dd|content"
        QTest::addColumn<QStringList>("drawings"); // "yyyy-MM-dd-leaf"
        QTest::addColumn<QDate>("from");
        QTest::addColumn<int>("firstYear"); // 0: none
        QTest::addColumn<QStringList>("items");
        QTest::newRow("nothing written")
            << QStringList{} << QStringList{} << QDate(2026, 5, 17) << 0 << QStringList{};
        QTest::newRow("only this year") << QStringList{"2026-01-02|new year"} << QStringList{}
                                        << QDate(2026, 5, 17) << 2026 << QStringList{};
        QTest::newRow("years with and without writing")
            << QStringList{"2025-05-17|last year", "2023-05-17|\n\n  first line\nsecond line",
                           "2024-05-16|the day before"}
            << QStringList{} << QDate(2026, 5, 17) << 2023
            << QStringList{"2025-05-17 1 last year", "2023-05-17 3 first line"};
        QTest::newRow("blank text, drawings on the first leaf or another")
            << QStringList{"2025-05-17| \n \n", "2020-01-01|start"}
            << QStringList{"2024-05-17-0", "2023-05-17-1"} << QDate(2026, 5, 17) << 2020
            << QStringList{"2024-05-17 2 <handwritten>"};
        QTest::newRow("29 February looks back to leap years")
            << QStringList{"2020-02-29|leap", "2024-02-29|leap again", "2025-02-28|not leap"}
            << QStringList{} << QDate(2028, 2, 29) << 2020
            << QStringList{"2024-02-29 4 leap again", "2020-02-29 8 leap"};
        QTest::newRow("the earliest drawing is later than the day")
            << QStringList{} << QStringList{"2027-01-01-0"} << QDate(2026, 5, 17) << 2027
            << QStringList{};
        QTest::newRow("a drawing named for year 1 is ignored")
            << QStringList{"2024-05-17|typed"} << QStringList{"0001-01-01-0", "1899-12-31-0"}
            << QDate(2026, 5, 17) << 2024 << QStringList{"2024-05-17 2 typed"};
        QTest::newRow("a drawing of 1900 counts")
            << QStringList{} << QStringList{"1900-05-17-0"} << QDate(1902, 5, 17) << 1900
            << QStringList{"1900-05-17 2 <handwritten>"};
    }
    void looksBackOverEarlierYears() {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, drawings);
        QFETCH(QDate, from);
        QFETCH(int, firstYear);
        QFETCH(QStringList, items);
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        for (const QString &drawing : drawings)
            store.write("ink", *DayKey::fromRawValue(drawing.left(10)), drawing.mid(11).toInt());
        TemporaryDiaryStore diary;
        ScriptedDiaryRepository &repository = *diary.repository;
        for (const QString &line : entries) {
            const QByteArray dayText = line.left(10).toLatin1();
            repository.put(typed(dayText.constData(), line.mid(11)));
        }
        const DiaryOnThisDay result =
            onThisDay(repository, store, from.year(), from.month(), from.day());
        QCOMPARE(result.firstYear.value_or(0), firstYear);
        QCOMPARE(described(result.items), items);
    }

    void countsFailuresAsNothingWritten() {
        QTemporaryDir dir;
        const DiaryHandwritingStore store(dir.filePath("Handwriting"));
        touchDrawing(store, "2022-05-17", 0);
        TemporaryDiaryStore diary;
        ScriptedDiaryRepository &repository = *diary.repository;
        repository.put(typed("2021-05-17", "typed"));
        repository.failNext(Operation::entries, PersistenceError::invalidData("broken"));
        repository.failNext(Operation::entry, PersistenceError::invalidData("broken"));
        const DiaryOnThisDay result = onThisDay(repository, store, 2026, 5, 17);
        QCOMPARE(result.firstYear, std::optional<int>(2022));
        QCOMPARE(described(result.items), QStringList{"2022-05-17 4 <handwritten>"});
    }
};

VELMORA_GUI_TEST_MAIN(RecallQueriesTest)
#include "tst_recallqueries.moc"
