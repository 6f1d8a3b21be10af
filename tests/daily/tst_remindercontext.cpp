#include "daily/DiaryReminderContext.h"
#include "store/StoreFixture.h"
#include "support/TemporaryDiaryStore.h"
#include "support/TestSupport.h"

using namespace velmora;
using velmora::test::day;

namespace {

const QTimeZone paris("Europe/Paris");

QDateTime parisTime(int year, int month, int dayOfMonth, int hour = 20) {
    return QDateTime(QDate(year, month, dayOfMonth), QTime(hour, 0), paris);
}

// A real store and a real drawing folder side by side, as the program keeps them.
struct Diary {
    test::StoreFixture store;
    std::shared_ptr<DiaryRepository> repository =
        std::make_shared<CoreDataDiaryRepository>(store.stack, store.clock);
    DiaryHandwritingStore handwriting{store.dir.filePath(QStringLiteral("Handwriting"))};
    GregorianCalendar calendar{paris};

    void type(const char *dayText, const QString &content) {
        test::waitFor(repository->save(test::draft(dayText, content), std::nullopt, 1));
    }
    void draw(const char *dayText, qint64 leaf = 0) {
        handwriting.write(QByteArrayLiteral("{}"), day(dayText), leaf);
    }
    DiaryReminderContext context(const QDateTime &now, const QString &name = QString()) {
        return test::waitFor(makeReminderContext(repository, handwriting, name, now, calendar));
    }
};

} // namespace

class TestReminderContext : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nothingWritten() {
        Diary diary;
        const auto context = diary.context(parisTime(2025, 6, 10), QStringLiteral("  Ann "));
        QVERIFY(!context.writtenToday);
        QVERIFY(context.memories.isEmpty());
        QCOMPARE(context.name, QStringLiteral("  Ann "));
    }

    void whatCountsAsWrittenToday_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("drawnLeaf");
        QTest::addColumn<bool>("written");
        QTest::newRow("first leaf drawn, nothing typed") << QString() << 0 << true;
        QTest::newRow("only a later leaf drawn") << QString() << 1 << false;
        QTest::newRow("only spaces and newlines") << QStringLiteral("  \n\t \n") << -1 << false;
        QTest::newRow("typed words") << QStringLiteral("\n Rain all day.") << -1 << true;
    }
    void whatCountsAsWrittenToday() {
        QFETCH(QString, typed);
        QFETCH(int, drawnLeaf);
        QFETCH(bool, written);
        Diary diary;
        if (!typed.isNull())
            diary.type("2025-06-10", typed);
        if (drawnLeaf >= 0)
            diary.draw("2025-06-10", drawnLeaf);
        // 23:00 in Paris is 21:00 UTC: still the same day in either.
        QCOMPARE(diary.context(parisTime(2025, 6, 10, 23)).writtenToday, written);
    }

    void nearestEarlierYearWins() {
        Diary diary;
        diary.type("2022-06-10", QStringLiteral("Three years back."));
        diary.type("2024-06-10", QStringLiteral("One year back."));
        diary.draw("2023-06-12");
        diary.type("2024-06-24", QStringLiteral("Outside the fortnight."));
        const auto context = diary.context(parisTime(2025, 6, 10));
        QCOMPARE(context.memories.size(), 2);
        QCOMPARE(context.memories.value(day("2025-06-10")), 1);
        QCOMPARE(context.memories.value(day("2025-06-12")), 2);
    }

    void earliestWritingThisYearGivesNoMemories() {
        Diary diary;
        diary.type("2025-01-02", QStringLiteral("New year."));
        diary.type("2025-12-27", QStringLiteral("Christmas week."));
        const auto context = diary.context(parisTime(2025, 12, 27));
        QVERIFY(context.writtenToday);
        QVERIFY(context.memories.isEmpty());
    }

    void leapDayLooksBackOnlyToLeapDays() {
        Diary diary;
        diary.type("2024-02-29", QStringLiteral("Leap day."));
        diary.type("2027-02-28", QStringLiteral("Last February day of a common year."));
        const auto context = diary.context(parisTime(2028, 2, 20));
        QCOMPARE(context.memories.value(day("2028-02-29")), 4);
        QCOMPARE(context.memories.value(day("2028-02-28")), 1);
        QCOMPARE(context.memories.size(), 2);
    }

    void failingRepositoryStillCountsDrawings() {
        Diary diary;
        diary.draw("2025-06-10");
        diary.draw("2023-06-11");
        auto failing =
            std::make_shared<UnavailableDiaryRepository>(PersistenceError::storeUnavailable());
        const auto context = test::waitFor(makeReminderContext(
            failing, diary.handwriting, QString(), parisTime(2025, 6, 10), diary.calendar));
        QVERIFY(context.writtenToday);
        QCOMPARE(context.memories.size(), 1);
        QCOMPARE(context.memories.value(day("2025-06-11")), 2);
    }

    void drawingsBefore1900AreIgnored() {
        // A stray drawing named for 1850 must not make each day look back 175 years.
        test::TemporaryDiaryStore store;
        const auto repository = store.repository;
        QTemporaryDir dir;
        DiaryHandwritingStore handwriting(dir.filePath("Handwriting"));
        handwriting.write(QByteArrayLiteral("{}"), day("1850-06-12"), 0);
        const auto context = test::waitFor(makeReminderContext(
            repository, handwriting, QString(), parisTime(2025, 6, 10), GregorianCalendar(paris)));
        QVERIFY(context.memories.isEmpty());
        QCOMPARE(repository->callCount(test::ScriptedDiaryRepository::Operation::entry), 1);
    }

    void dayChecksAreBounded() {
        // Writing only three years back, on no day of the fortnight: every day looks back all
        // three years, one entry fetch each, and today once more.
        test::TemporaryDiaryStore store;
        const auto repository = store.repository;
        DiaryEntryDTO old = test::entry("2022-01-05", QStringLiteral("Long ago."));
        repository->put(old);
        QTemporaryDir dir;
        const auto context = test::waitFor(
            makeReminderContext(repository, DiaryHandwritingStore(dir.filePath("Handwriting")),
                                QString(), parisTime(2025, 6, 10), GregorianCalendar(paris)));
        QVERIFY(context.memories.isEmpty());
        QCOMPARE(repository->callCount(test::ScriptedDiaryRepository::Operation::entry),
                 1 + 14 * 3);
    }
};

VELMORA_TEST_MAIN(TestReminderContext)
#include "tst_remindercontext.moc"
