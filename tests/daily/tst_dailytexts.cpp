#include "daily/DiaryDailyQuote.h"
#include "daily/DiaryReminderText.h"
#include "daily/DiaryWritingPrompt.h"
#include "support/TestSupport.h"

#include <QSet>

using namespace velmora;

namespace {

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

} // namespace

class TestDailyTexts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dayOfYearIndex_data() {
        QTest::addColumn<qint64>("month");
        QTest::addColumn<qint64>("dayOfMonth");
        QTest::addColumn<qint64>("index");
        QTest::newRow("1 January") << qint64(1) << qint64(1) << qint64(0);
        QTest::newRow("31 January") << qint64(1) << qint64(31) << qint64(30);
        QTest::newRow("28 February") << qint64(2) << qint64(28) << qint64(58);
        QTest::newRow("29 February") << qint64(2) << qint64(29) << qint64(59);
        QTest::newRow("1 March") << qint64(3) << qint64(1) << qint64(60);
        QTest::newRow("31 December") << qint64(12) << qint64(31) << qint64(365);
        QTest::newRow("month 13") << qint64(13) << qint64(5) << qint64(0);
        QTest::newRow("month 0") << qint64(0) << qint64(5) << qint64(0);
        QTest::newRow("day 40 of January") << qint64(1) << qint64(40) << qint64(39);
        QTest::newRow("day 0 of March") << qint64(3) << qint64(0) << qint64(59);
        QTest::newRow("day 99 of December") << qint64(12) << qint64(99) << qint64(365);
        QTest::newRow("absurd day")
            << qint64(6) << std::numeric_limits<qint64>::max() << qint64(365);
        QTest::newRow("negative day")
            << qint64(6) << std::numeric_limits<qint64>::min() << qint64(0);
    }
    void dayOfYearIndex() {
        QFETCH(qint64, month);
        QFETCH(qint64, dayOfMonth);
        QFETCH(qint64, index);
        QCOMPARE(DiaryDailyQuote::dayOfYearIndex(month, dayOfMonth), index);
    }

    void keysAreReadLeniently_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<qint64>("month");
        QTest::addColumn<qint64>("dayOfMonth");
        QTest::newRow("plain") << "2025-03-07" << true << qint64(3) << qint64(7);
        QTest::newRow("empty pieces dropped") << "2025--03-07-" << true << qint64(3) << qint64(7);
        QTest::newRow("signs accepted") << "+2025-+3-07" << true << qint64(3) << qint64(7);
        QTest::newRow("odd piece dropped") << "2025-x1-03-07" << true << qint64(3) << qint64(7);
        QTest::newRow("space is no digit") << " 2025-03-07" << false << qint64(0) << qint64(0);
        QTest::newRow("two pieces") << "2025-03" << false << qint64(0) << qint64(0);
        QTest::newRow("four pieces") << "2025-03-07-01" << false << qint64(0) << qint64(0);
        QTest::newRow("overflow dropped")
            << "99999999999999999999-03-07" << false << qint64(0) << qint64(0);
        QTest::newRow("empty") << "" << false << qint64(0) << qint64(0);
    }
    void keysAreReadLeniently() {
        QFETCH(QString, key);
        QFETCH(bool, readable);
        QFETCH(qint64, month);
        QFETCH(qint64, dayOfMonth);
        const auto integers = dayKeyIntegers(key);
        QCOMPARE(integers.has_value(), readable);
        if (readable) {
            QCOMPARE(std::get<1>(*integers), month);
            QCOMPARE(std::get<2>(*integers), dayOfMonth);
        }
    }

    void quoteFollowsMonthAndDay() {
        const QList<DiaryDailyQuote> &table = DiaryDailyQuote::table();
        QCOMPARE(DiaryDailyQuote::quote(day("2025-01-01")), table.at(0));
        QCOMPARE(DiaryDailyQuote::quote(day("1999-01-01")), table.at(0));
        QCOMPARE(DiaryDailyQuote::quote(day("2024-02-29")), table.at(59));
        QCOMPARE(DiaryDailyQuote::quote(day("2023-02-28")), table.at(58));
        QCOMPARE(DiaryDailyQuote::quote(day("2023-03-01")), table.at(60));
        QCOMPARE(DiaryDailyQuote::quote(day("2024-03-01")), table.at(60));
        QCOMPARE(DiaryDailyQuote::quote(day("2025-12-31")), table.at(365));
        QCOMPARE(DiaryDailyQuote::quote(DayKey()), table.at(0));
    }

    void quotationTableMeetsItsRules() {
        const QList<DiaryQuotationRow> &rows = diaryQuotationRows();
        QCOMPARE(rows.size(), 366);
        QSet<QString> texts;
        QSet<QString> authors;
        // No double quotation marks: the footer sets the text inside a pair of them, so a
        // quotation within it nests as single ones.
        const QString typographic = QStringLiteral("\u2019\u2014\u2018\u2026");
        for (const DiaryQuotationRow &row : rows) {
            QVERIFY2(row.text.size() >= 14 && row.text.size() <= 124, qPrintable(row.text));
            for (const QChar c : row.text) {
                const bool plain = c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"';
                QVERIFY2(plain || typographic.contains(c), qPrintable(row.text));
            }
            QVERIFY2(!row.author.trimmed().isEmpty(), qPrintable(row.text));
            QVERIFY2(!row.source.trimmed().isEmpty(), qPrintable(row.text));
            texts.insert(row.text);
            authors.insert(row.author);
        }
        QCOMPARE(texts.size(), 366);
        QCOMPARE(authors.size(), 152);
        QCOMPARE(DiaryDailyQuote::table().size(), 366);
        QCOMPARE(DiaryDailyQuote::table().at(59).text, rows.at(59).text);
        QCOMPARE(DiaryDailyQuote::table().at(59).author, rows.at(59).author);
    }

    void writingPrompts_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("todayText");
        QTest::addColumn<int>("hour");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("prompt");
        // 2025-01-01 has the odd seed 14175, 2025-01-02 the even seed 14180.
        QTest::newRow("evening, odd seed, no name")
            << "2025-01-01"
            << "2025-01-01" << 21 << ""
            << "What would you keep from today, and what would you change?";
        QTest::newRow("odd seed ignores the name")
            << "2025-01-01"
            << "2025-01-01" << 21 << "Ann Lee"
            << "What would you keep from today, and what would you change?";
        QTest::newRow("morning greeting with the first word")
            << "2025-01-02"
            << "2025-01-02" << 9 << "  Ann  Lee \n"
            << "Good morning, Ann. What is the first thing on your mind this morning?";
        QTest::newRow("past day") << "2025-01-02"
                                  << "2025-01-05" << 9 << "Ann"
                                  << "What do you remember about this day?";
        QTest::newRow("future day") << "2025-01-02"
                                    << "2024-12-30" << 9 << "Ann"
                                    << "A note to your future self…";
        QTest::newRow("hour 4 is night") << "2025-01-02"
                                         << "2025-01-02" << 4 << "Ann"
                                         << "Hello again, Ann. Write the thing you couldn’t say "
                                            "out loud.";
        QTest::newRow("hour 22 is night") << "2025-01-02"
                                          << "2025-01-02" << 22 << ""
                                          << "Write the thing you couldn’t say out loud.";
        QTest::newRow("hour 5 is morning") << "2025-01-02"
                                           << "2025-01-02" << 5 << ""
                                           << "What is the first thing on your mind this morning?";
        QTest::newRow("hour 12 is afternoon")
            << "2025-01-02"
            << "2025-01-02" << 12 << "Ann"
            << "Good afternoon, Ann. Something you noticed that others might have missed…";
        QTest::newRow("hour 17 is evening") << "2025-01-02"
                                            << "2025-01-02" << 17 << "Ann"
                                            << "Good evening, Ann. Who made your day a little "
                                               "better?";
        QTest::newRow("hour -1 is night") << "2025-01-02"
                                          << "2025-01-02" << -1 << ""
                                          << "Write the thing you couldn’t say out loud.";
        QTest::newRow("a name of spaces is no name")
            << "2025-01-02"
            << "2025-01-02" << 9 << "   "
            << "What is the first thing on your mind this morning?";
        QTest::newRow("unreadable keys seed 0, even")
            << ""
            << "" << 9 << "Ann"
            << "Good morning, Ann. What would make today a good day?";
    }
    void writingPrompts() {
        QFETCH(QString, dayText);
        QFETCH(QString, todayText);
        QFETCH(int, hour);
        QFETCH(QString, name);
        QFETCH(QString, prompt);
        const DayKey dayKey = dayText.isEmpty() ? DayKey() : *DayKey::fromRawValue(dayText);
        const DayKey today = todayText.isEmpty() ? DayKey() : *DayKey::fromRawValue(todayText);
        QCOMPARE(writingPrompt(dayKey, today, hour, name), prompt);
    }

    void seeds() {
        QCOMPARE(promptSeed(day("2025-01-01")), qint64(14175));
        QCOMPARE(promptSeed(day("2025-01-02")), qint64(14180));
        QCOMPARE(promptSeed(DayKey()), qint64(0));
        QCOMPARE(reminderSeed(day("2025-01-01")), qint64(2025));
        QCOMPARE(reminderSeed(day("2025-03-01")), qint64(2085));
        QCOMPARE(reminderSeed(DayKey()), qint64(0));
    }

    void reminderTexts_data() {
        QTest::addColumn<QString>("dayText");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("yearsAgo");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        const QString keepFromToday =
            QStringLiteral("What would you keep from today, and what would you change?");
        const DiaryDailyQuote second = DiaryDailyQuote::table().at(1);
        QTest::newRow("prompt body")
            << "2025-01-01"
            << "" << qint64(0) << "Before the day slips away" << keepFromToday;
        QTest::newRow("personal title")
            << "2025-01-01"
            << "  Ann Lee  " << qint64(0) << "Ann, your page is waiting" << keepFromToday;
        QTest::newRow("quotation body")
            << "2025-01-02"
            << "Ann" << qint64(0) << "Tonight’s page"
            << QStringLiteral("\u201C%1\u201D \u2014 %2").arg(second.text, second.author);
        QTest::newRow("fixed body") << "2025-01-03"
                                    << "Ann" << qint64(0) << "A few minutes for yourself"
                                    << "Nobody else will read it. Say it plainly.";
        QTest::newRow("a year ago") << "2025-01-03"
                                    << "Ann" << qint64(1) << "On this day"
                                    << "A year ago today, you wrote a page. Read it, then add "
                                       "today’s.";
        QTest::newRow("three years ago") << "2025-01-01"
                                         << "" << qint64(3) << "On this day"
                                         << "3 years ago today, you wrote a page. Read it, then "
                                            "add today’s.";
        QTest::newRow("spaces are no name")
            << "2025-01-01"
            << "   " << qint64(0) << "Before the day slips away" << keepFromToday;
        // An unreadable key has the seed 0, the first evening prompt.
        QTest::newRow("unreadable key") << ""
                                        << "" << qint64(0) << "A quiet page is waiting"
                                        << "How was your day, really?";
        QTest::newRow("unreadable key, named") << ""
                                               << "Ann" << qint64(0) << "Ann, your page is waiting"
                                               << "How was your day, really?";
    }
    void reminderTexts() {
        QFETCH(QString, dayText);
        QFETCH(QString, name);
        QFETCH(qint64, yearsAgo);
        QFETCH(QString, title);
        QFETCH(QString, body);
        const DayKey dayKey = dayText.isEmpty() ? DayKey() : *DayKey::fromRawValue(dayText);
        const DiaryReminderText text = reminderText(
            dayKey, 21, name, yearsAgo > 0 ? std::optional<qint64>(yearsAgo) : std::nullopt);
        QCOMPARE(text.title, title);
        QCOMPARE(text.body, body);
    }
};

VELMORA_TEST_MAIN(TestDailyTexts)
#include "tst_dailytexts.moc"
